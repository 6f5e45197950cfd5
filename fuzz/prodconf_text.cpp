// Product configuration text through the loader: the chosen file and the
// files it inherits, cut from one input at each "\n#file\n" line. The first
// piece is the product's own configuration, the others are "f1", "f2", ...
// beside the daemon's configurations, for an INHERIT list to name.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "core/prodconf.h"
#include "core/prodconf_startup.h"
#include "fuzz_root.h"

namespace
{

const size_t max_inherited = 4;

fuzz::Root *root;

void quiet_syslog(int, const char *) {}

// A corrupt configuration ends the daemon; here the load returns instead.
void no_exit(int) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static fuzz::Root r("fuzz-prodconf");
	root = &r;
	root->mkdirs("/etc/vistrad");
	root->mkdirs("/usr/lib/vistrad");
	root->mkdirs("/var/lib/keelstone");
	// Keys such as HWID_7a make conditional blocks.
	root->write("/var/lib/keelstone/params", "HWID=7a\nOPTICS=zoom\n");
	// It picks the name; the text beside it with ".yaml" is what is read.
	root->write("/etc/vistrad/extra.enc", "");
	prodconf_startup_set_syslog(quiet_syslog);
	prodconf_set_exit(no_exit);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> pieces = fuzz::split(data, size, "\n#file\n");
	if (pieces.size() > max_inherited + 1)
		return -1;
	root->write("/etc/vistrad/extra.yaml", pieces[0]);
	for (size_t i = 1; i <= max_inherited; i++) {
		std::string name = "/usr/lib/vistrad/f" + std::to_string(i) + ".yaml";
		if (i < pieces.size())
			root->write(name, pieces[i]);
		else
			root->remove(name);
	}
	prodconf *conf = prodconf_new();
	prodconf_load(conf);
	GList *streams = conf->stream_list ? conf->stream_list(conf) : nullptr;
	g_list_free(streams);
	prodconf_free(conf);
	return 0;
}
