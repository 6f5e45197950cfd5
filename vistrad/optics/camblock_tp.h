/* The lens tracepoints: the LTTng-UST provider vistrad_camblock and the thin
 * wrappers through which the optics fire its events. The wrappers also tell
 * an observer, when one is set, what they fired, so that a test sees the
 * events without a tracing session. */
#ifndef CAMBLOCK_TP_API_H
#define CAMBLOCK_TP_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* After every lens register write, failed or not. */
void camblock_tp_i2c_done(uint32_t register_address, uint32_t register_value);
/* When the temperature guard refuses a motor move. */
void camblock_tp_motor_blocked(void);
/* For every absolute focus move over a lens controller; speed carries the
 * move's wait flag. */
void camblock_tp_focus_move_abs(int32_t position, int32_t speed);

/* Called with the event's name and its fields (0 where it has none) for
 * every event the wrappers fire, whether a session records it or not. */
typedef void (*camblock_tp_observer)(const char *event, int64_t first, int64_t second, void *data);
void camblock_tp_set_observer(camblock_tp_observer observer, void *data);

#ifdef __cplusplus
}
#endif

#endif

/* The provider itself, read only by camblock_tp.c (and again and again by
 * the LTTng headers it includes). */
#ifdef CAMBLOCK_TP_PROVIDER

#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER vistrad_camblock

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "optics/camblock_tp.h"

#if !defined(CAMBLOCK_TP_PROVIDER_H) || defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define CAMBLOCK_TP_PROVIDER_H

#include <lttng/tracepoint.h>

LTTNG_UST_TRACEPOINT_EVENT(
    vistrad_camblock, i2c_done, LTTNG_UST_TP_ARGS(uint32_t, register_address, uint32_t, register_value),
    LTTNG_UST_TP_FIELDS(lttng_ust_field_integer(uint32_t, register_address, register_address)
                            lttng_ust_field_integer(uint32_t, register_value, register_value)))

LTTNG_UST_TRACEPOINT_EVENT(vistrad_camblock, motor_blocked, LTTNG_UST_TP_ARGS(), LTTNG_UST_TP_FIELDS())

LTTNG_UST_TRACEPOINT_EVENT(vistrad_camblock, focus_move_abs,
                           LTTNG_UST_TP_ARGS(int32_t, position, int32_t, speed),
                           LTTNG_UST_TP_FIELDS(lttng_ust_field_integer(int32_t, position, position)
                                                   lttng_ust_field_integer(int32_t, speed, speed)))

#endif

#include <lttng/tracepoint-event.h>

#endif
