// User settings through the daemon's configuration load, against the
// daemon's own parameter map. The first byte of the input chooses the file
// the rest becomes (bits 0-1: the key file, an older parameter file or an
// older exposure-window file), whether the older files are under
// "/etc/vistrad/legacy_config" (bit 2) and whether the product uses streams
// (bit 3).
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "core/config.h"
#include "core/daemon.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "fuzz_root.h"

namespace
{

fuzz::Root *root;
daemon_context context;
prodconf *conf;

const char *const files[] = {
    "/etc/vistrad/vistrad.conf",
    "/etc/sysconfig/image_source.conf",
    "/etc/dynamic/imagesource_i0_sensor_customexposurewindow.conf",
};

void fresh_db()
{
	param_db_free();
	param_db_init();
	config_reset_unset_params(nullptr);
	param_clear_changes();
	param_set_save_pending(0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static fuzz::Root r("fuzz-config");
	root = &r;
	for (const char *dir : {"/etc/vistrad/legacy_config/etc/sysconfig",
	                        "/etc/vistrad/legacy_config/etc/dynamic", "/etc/sysconfig", "/etc/dynamic"})
		root->mkdirs(dir);
	conf = g_new0(prodconf, 1);
	context.conf = conf;
	context.streams = g_list_append(nullptr, GINT_TO_POINTER(-1));
	return param_map_init() == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0 || (data[0] & 3) == 3)
		return -1;
	const bool legacy_dir = data[0] & 4;
	conf->use_stream = (data[0] & 8) ? 1 : 0;
	std::string path = files[data[0] & 3];
	if (legacy_dir && (data[0] & 3) != 0) {
		path = "/etc/vistrad/legacy_config" + path;
		root->mkdirs("/etc/vistrad/legacy_config/etc/sysconfig");
		root->mkdirs("/etc/vistrad/legacy_config/etc/dynamic");
	} else if (!legacy_dir) {
		// The import removes its files; what is left is empty folders.
		for (const char *dir :
		     {"/etc/vistrad/legacy_config/etc/sysconfig", "/etc/vistrad/legacy_config/etc/dynamic",
		      "/etc/vistrad/legacy_config/etc", "/etc/vistrad/legacy_config"})
			rmdir(root->at(dir).c_str());
	}
	// A key file written by the last input would hide the older files.
	root->remove("/etc/vistrad/vistrad.conf");
	root->write(path, data + 1, size - 1);
	fresh_db();
	config_load(&context);
	config_save_if_pending();
	return 0;
}
