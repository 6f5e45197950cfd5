// The image daemon's program entry: load the product configuration, run the
// daemon, report how it went.
#include <stdlib.h>

#include "core/daemon.h"
#include "core/prodconf.h"

int main(int argc, char **argv)
{
	// Options are parsed and logged in one fixed locale.
	if (argc > 1) {
		setenv("LC_ALL", "", 1);
		setenv("LC_CTYPE", "en_US.UTF-8", 1);
		setenv("LANG", "en_US.UTF-8", 1);
	}
	struct prodconf *conf = prodconf_new();
	int loaded = prodconf_load(conf);
	int status = daemon_run(argc, argv, conf);
	prodconf_free(conf);
	// Either failure must show in the exit status: an option error would
	// otherwise cancel out a missing configuration.
	return status != 0 ? status : loaded;
}
