#include "algo_cl_modules.h"

// The algorithm table is still empty: no sensor module or algorithm exists yet.
void algo_cl_register_modules(struct prodconf *) {}
