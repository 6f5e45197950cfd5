/*
 * Steering of the libtvx stand-in, for tests.
 *
 * The library keeps per input (0 to 3) a settings map, seeded with
 * "current_vin" 0, and an information map, seeded with
 * "sensor_offset.possible" true, "eis.possible.input0" true and
 * "eis.possible.input1" false. Input 0's "current_vin" names the simulated
 * video input (VIN) that modes and settings reach:
 *  - a capture mode "WxH" gives the VIN that size (simsoc_qvd_set_board);
 *  - "framerate" becomes the VIN's frame-tick rate, unless its clock is
 *    stopped (a test stepping ticks by hand keeps it stopped), and sets its
 *    line time so that the VIN's rows take one frame period (a new size
 *    alone keeps the period);
 *  - "wdr_mode" 0 is linear (one exposure, HDR mode 0); 1 two exposures
 *    combined by the DSP (HDR type 0, mode 1; the second exposure's longest
 *    shutter a sixteenth of the frame); 4 one exposure the sensor combined
 *    (HDR type 1, mode 15, kind 0x1016). Other values leave the VIN as it was.
 * Starting an input starts the video of its current VIN (simsoc_video.h) and
 * stopping it stops that video; stopping an input that does not run succeeds.
 *
 * Operations are named as their functions without "tvx_": "mode_new",
 * "mode_apply", "input_new", "input_get_settings", "input_get_info",
 * "input_set_settings", "input_start", "input_stop". A process can be told
 * to fail some with SIMTVX_FAIL="name[:count][,name[:count]...]", read at the
 * library's first call.
 */
#ifndef TVX_SIM_H
#define TVX_SIM_H

#include "tvx.h"

G_BEGIN_DECLS

/* Inputs, maps, failures (SIMTVX_FAIL read again) and the call log back to
 * the start. */
void tvx_sim_reset(void);
/* The next count calls of the operation fail (count < 0: until cleared,
 * 0 clears), with a GError, or with_error FALSE without one. */
void tvx_sim_fail(const char *operation, int count, gboolean with_error);
/* The same after the next calls calls of it have succeeded. */
void tvx_sim_fail_after(const char *operation, int calls, int count, gboolean with_error);
/* Everything called since the last take, a line a call (the newest megabyte
 * of it); g_free() it. */
char *tvx_sim_take_log(void);
/* An entry of an input's settings or information as g_variant_print()
 * writes it with its type ("uint32 180", "30.0", "true", "'2592x1944'"),
 * or NULL when it is missing; g_free() it. */
char *tvx_sim_setting(guint input, const char *key);
char *tvx_sim_info(guint input, const char *key);
/* Stores or removes an entry (a NULL value removes it). */
void tvx_sim_set_setting(guint input, const char *key, GVariant *value);
void tvx_sim_set_info(guint input, const char *key, GVariant *value);
/* Emits "NewFramerate" on every live handle of the input (from the thread
 * that uses the handles), after storing the rate as its "framerate". */
void tvx_sim_emit_new_framerate(guint input, gdouble framerate);
/* Handles and maps not yet finalized. */
guint tvx_sim_live_objects(void);

G_END_DECLS

#endif
