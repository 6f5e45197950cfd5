#pragma once
// The client of the power-control service: consumers (the IR illumination)
// register by name and ask for power; requests go to the service one at a
// time, and each is completed by the service's SetPower call on the daemon
// (power_control_set_power). Consumers register again whenever the service
// (re)appears. For the main thread only.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stdint.h>

// Powers are watts in Q14 fixed point (value / 16384).
struct power_consumer {
	const char *name;                                    // the consumer's name on the bus
	uint32_t granted;                                    // written only by the client
	int32_t requested;                                   // set by the consumer before it asks
	void (*callback)(void *user_data, uint32_t granted); // optional
	void *user_data;
	uint32_t delay; // ms to wait before a small request goes out
};

// The result of watching the service's owner (1).
int power_control_init(void);
void power_control_deinit(void);

// The consumer must stay valid until it is unregistered. Both return 0.
extern "C" int power_control_register_consumer(struct power_consumer *consumer);
extern "C" int power_control_unregister_consumer(struct power_consumer *consumer);
// 1 when the request was queued, 0 without a client of the service.
extern "C" int power_control_request(struct power_consumer *consumer);
// Completes the request at the head of the queue with the granted watts:
// 1, or 0 when nothing was queued.
int power_control_set_power(double watts);
