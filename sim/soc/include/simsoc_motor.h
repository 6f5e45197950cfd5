/* Motor-driver devices at paths the test chooses. Every request is decoded
 * with its payload, logged ("tb6613ftg: ..." / "iris_motor: ...") and kept
 * per device for simsoc_motor_requests().
 *
 * TB6613FTG ('S', IR-cut filters): MOVE drives the filter from its position
 * by the signed step count, between two end stops; a move into a stop stalls
 * there. GET_REMAINING counts the remaining steps down by a set amount per
 * poll (the whole move by default), or sticks with 0 per poll.
 *
 * Stepper iris ('E'): blades between the open stop (0) and the closed stop,
 * with the motor's own opening direction value; a reversal of direction eats
 * the backlash before the blades move. A new move finishes the one before
 * it. The remaining and is-moving queries count the remaining steps down by
 * a set amount per query (the whole move by default) before they answer.
 *
 * Pin names in payloads must be NUL-terminated in their 8 bytes (EINVAL). */
#ifndef SIMSOC_MOTOR_H
#define SIMSOC_MOTOR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void simsoc_tb6613ftg_add(const char *path, int32_t low_stop, int32_t high_stop, int32_t position);
void simsoc_iris_motor_add(const char *path, int32_t closed_stop, uint32_t open_direction, uint32_t backlash,
                           int32_t position);
/* Steps counted down per poll or query; 0 sticks. */
void simsoc_motor_set_step_per_query(const char *path, uint32_t steps);
/* After passing more requests succeed, the next one fails with err (once;
 * err 0 cancels). */
void simsoc_motor_fail_after(const char *path, unsigned passing, int err);
int32_t simsoc_motor_position(const char *path);
/* The last value of a channel, -1 when never set. */
int64_t simsoc_motor_channel(const char *path, uint32_t channel);
/* The decoded requests so far, one line each, in one malloc'd string. */
char *simsoc_motor_requests(const char *path);
void simsoc_motor_clear_requests(const char *path);
void simsoc_motor_remove(const char *path);

#ifdef __cplusplus
}
#endif

#endif
