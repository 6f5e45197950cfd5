#pragma once
// The algorithm steps' part of the product configuration's registry: sensor
// modules and algorithm kinds.

struct prodconf;

void algo_cl_register_modules(struct prodconf *conf);
