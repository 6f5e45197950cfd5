// The daemon's module registry: every module kind that a configuration can
// name. The module implementations (sensors, lens blocks, irises, IR-cut
// filters, data caches) register here as they are added.

#include "prodconf_modules.h"

#include "prodconf.h"

void prodconf_register_modules(struct prodconf *) {}
