// The power-control client is not here yet: nothing is requested.
#include "power_control.h"

void power_control_init(void) {}

void power_control_deinit(void) {}
