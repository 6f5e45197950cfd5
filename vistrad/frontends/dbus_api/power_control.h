#pragma once
// The client of the power-control service: requests of known consumers,
// registered again whenever the service (re)appears.

void power_control_init(void);
void power_control_deinit(void);
