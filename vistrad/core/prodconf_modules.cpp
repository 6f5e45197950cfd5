// The daemon's module registry: every module kind that a configuration can
// name. The module implementations (sensors, lens blocks, irises, IR-cut
// filters, data caches) register here as they are added.

#include "prodconf.h"
#include "prodconf_tree.h"

void prodconf_register_modules(struct prodconf *) {}
