/*
 * libbramble stand-in: the part of the maker's utility library that the
 * image daemon uses. The daemon tells it, once and on its main thread, which
 * thread runs its main loop; the library's command sources then deliver their
 * work there. Nothing the call returns is relied on.
 */
#ifndef BRAMBLE_H
#define BRAMBLE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Remembers the calling thread as the main-loop thread. 0, or -1 when a
 * different thread had registered before. */
int command_source_register_mainloop_thread(void);

/* For tests: 1 when the calling thread is the registered one. */
int bramble_is_mainloop_thread(void);
/* For tests: forget the registration. */
void bramble_reset(void);

#ifdef __cplusplus
}
#endif

#endif
