// The encrypted product configuration through the loader: the input is the
// whole ".enc" file, so the decryption, the padding and the digest checks
// meet it before any YAML does.
#include <stddef.h>
#include <stdint.h>

#include "core/prodconf.h"
#include "core/prodconf_startup.h"
#include "fuzz_root.h"

namespace
{

fuzz::Root *root;

void quiet_syslog(int, const char *) {}

void no_exit(int) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static fuzz::Root r("fuzz-prodconf-enc");
	root = &r;
	root->mkdirs("/usr/lib/vistrad");
	prodconf_startup_set_syslog(quiet_syslog);
	prodconf_set_exit(no_exit);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	root->write("/usr/lib/vistrad/vistrad.enc", data, size);
	prodconf *conf = prodconf_new();
	prodconf_load(conf);
	prodconf_free(conf);
	return 0;
}
