/* The vistrad_camblock provider's probes, and the wrappers the optics call. */
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#define CAMBLOCK_TP_PROVIDER
#include "camblock_tp.h"

static camblock_tp_observer observer;
static void *observer_data;

void camblock_tp_set_observer(camblock_tp_observer fn, void *data)
{
	__atomic_store_n(&observer_data, data, __ATOMIC_RELEASE);
	__atomic_store_n(&observer, fn, __ATOMIC_RELEASE);
}

static void tell(const char *event, int64_t first, int64_t second)
{
	camblock_tp_observer fn = __atomic_load_n(&observer, __ATOMIC_ACQUIRE);
	if (fn)
		fn(event, first, second, __atomic_load_n(&observer_data, __ATOMIC_ACQUIRE));
}

void camblock_tp_i2c_done(uint32_t register_address, uint32_t register_value)
{
	lttng_ust_tracepoint(vistrad_camblock, i2c_done, register_address, register_value);
	tell("i2c_done", register_address, register_value);
}

void camblock_tp_motor_blocked(void)
{
	lttng_ust_tracepoint(vistrad_camblock, motor_blocked);
	tell("motor_blocked", 0, 0);
}

void camblock_tp_focus_move_abs(int32_t position, int32_t speed)
{
	if (lttng_ust_tracepoint_enabled(vistrad_camblock, focus_move_abs))
		lttng_ust_do_tracepoint(vistrad_camblock, focus_move_abs, position, speed);
	tell("focus_move_abs", position, speed);
}
