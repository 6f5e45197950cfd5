/* The lens device "/dev/vor_lens" (vor_lens_ioctl.h): its four P-iris
 * requests of type 'p', each logged ("vor_lens: config 1", "reset 0",
 * "set_pos 123", "get_state 3") and kept for simsoc_vor_lens_requests().
 * GET_STATE answers a scripted sequence of states, then its last one (0
 * without a script). */
#ifndef SIMSOC_VOR_LENS_H
#define SIMSOC_VOR_LENS_H

#ifdef __cplusplus
extern "C" {
#endif

/* No script, no requests, no failures, position 0. */
void simsoc_vor_lens_reset(void);
/* The states GET_STATE answers in turn; the last one repeats. */
void simsoc_vor_lens_set_states(const int *states, unsigned count);
/* The next count requests of that code fail with err (count < 0: until
 * reset). */
void simsoc_vor_lens_fail(unsigned long code, int err, int count);
/* The requests so far, one a line, in one malloc'd string. */
char *simsoc_vor_lens_requests(void);
void simsoc_vor_lens_clear_requests(void);
/* The position of the last SET_POS and the last CONFIG value (-1 before
 * any). */
long simsoc_vor_lens_position(void);
int simsoc_vor_lens_config(void);
/* Files of the device open now. */
int simsoc_vor_lens_open_count(void);

#ifdef __cplusplus
}
#endif

#endif
