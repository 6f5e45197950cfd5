/* The 3A service's System V message queue: commands (type 1), work-mode
 * changes (type 2) and replies (type 3), each with a 1016-byte text. The
 * key comes from "/tmp/img_queue" under the root prefix, so each test has
 * its own queue. */
#ifndef CAMLIB_IMG_ALGO_IMG_QUEUE_H
#define CAMLIB_IMG_ALGO_IMG_QUEUE_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#define IMG_QUEUE_PATH "/tmp/img_queue"
#define IMG_QUEUE_PROJ 6
#define IMG_QUEUE_TEXT 1016

#define IMG_MSG_COMMAND 1
#define IMG_MSG_WORK_MODE 2
#define IMG_MSG_REPLY 3

typedef struct img_msg {
	long type;
	uint8_t text[IMG_QUEUE_TEXT];
} img_msg;

/* path under VISTRAD_ROOT when it is set: 0, or -1 when it does not fit. */
int img_root_path(const char *path, char *out, size_t size);
/* The queue's id, made when missing; -1 ("img_queue") on failure. */
int img_queue(void);
/* Sends len bytes of text without waiting: 0, or the negative result of
 * the send ("snd queue"). */
int img_queue_send(int qid, long type, const void *text, size_t len);
/* Takes the first message of the type, waiting for one or not: the text's
 * length, or -1 when there is none (ENOMSG without waiting) or the receive
 * fails. A message longer than the text is taken off the queue and
 * refused with a line, so it cannot stay at the head. */
ssize_t img_queue_recv(int qid, long type, img_msg *msg, int wait);
/* Takes every pending reply, work-mode change and command. */
void img_queue_drain(int qid);
/* A type-3 message: i32 kind, 4 bytes padding, count u32 words. */
int img_queue_send_reply(int qid, int kind, const uint32_t *words, int count);
int img_queue_remove(int qid);
void img_queue_print(int qid);

#endif
