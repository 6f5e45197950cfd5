#pragma once
// The daemon's module registry: every module kind a configuration can name.

struct prodconf;

// Registers the daemon's module kinds; run by the load.
void prodconf_register_modules(struct prodconf *conf);
