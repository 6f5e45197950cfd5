#pragma once
// The built-in state names (day/night, channels, capture frequencies, HDR
// modes, dual-exposure streams, capture modes, scene profiles).

struct prodconf;

void prodconf_register_builtin_states(struct prodconf *conf);
