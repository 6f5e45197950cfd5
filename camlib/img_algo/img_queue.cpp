/* The 3A service's message queue. */
#include "img_queue.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

int img_root_path(const char *path, char *out, size_t size)
{
	const char *root = getenv("VISTRAD_ROOT");
	if (!root)
		root = "";
	int n = snprintf(out, size, "%s%s", root, path);
	return n < 0 || (size_t)n >= size ? -1 : 0;
}

int img_queue(void)
{
	char path[512];
	if (img_root_path(IMG_QUEUE_PATH, path, sizeof(path)) != 0) {
		errno = ENAMETOOLONG;
		perror("img_queue");
		return -1;
	}
	/* ftok of a missing file gives the key -1, which every such process
	 * would share. */
	int fd = open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
	if (fd >= 0)
		close(fd);
	key_t key = ftok(path, IMG_QUEUE_PROJ);
	int qid = key == (key_t)-1 ? -1 : msgget(key, IPC_CREAT | 0666);
	if (qid < 0)
		perror("img_queue");
	return qid;
}

int img_queue_send(int qid, long type, const void *text, size_t len)
{
	img_msg m;
	if (len > IMG_QUEUE_TEXT)
		len = IMG_QUEUE_TEXT;
	m.type = type;
	memcpy(m.text, text, len);
	int rc = msgsnd(qid, &m, len, IPC_NOWAIT);
	if (rc < 0) {
		/* Callers tell a full queue (EAGAIN) from the rest. */
		int e = errno;
		perror("snd queue");
		errno = e;
	}
	return rc;
}

ssize_t img_queue_recv(int qid, long type, img_msg *msg, int wait)
{
	/* One byte beyond the text tells an oversize message, which MSG_NOERROR
	 * takes off the queue instead of leaving it at the head. */
	struct {
		long type;
		uint8_t text[IMG_QUEUE_TEXT + 1];
	} m;
	for (;;) {
		ssize_t n = msgrcv(qid, &m, sizeof(m.text), type, MSG_NOERROR | (wait ? 0 : IPC_NOWAIT));
		if (n < 0) {
			if (errno == EINTR && wait)
				continue;
			return -1;
		}
		if ((size_t)n > IMG_QUEUE_TEXT) {
			printf("img_queue: message of type %ld longer than %d bytes refused\n", m.type,
			       IMG_QUEUE_TEXT);
			continue;
		}
		msg->type = m.type;
		memcpy(msg->text, m.text, (size_t)n);
		return n;
	}
}

void img_queue_drain(int qid)
{
	static const long types[] = {IMG_MSG_REPLY, IMG_MSG_WORK_MODE, IMG_MSG_COMMAND};
	img_msg m;
	for (long type : types)
		while (img_queue_recv(qid, type, &m, 0) >= 0)
			;
}

int img_queue_send_reply(int qid, int kind, const uint32_t *words, int count)
{
	uint8_t text[IMG_QUEUE_TEXT] = {0};
	if (count < 0 || count > 2 || (count && !words))
		return -1;
	int32_t k = kind;
	memcpy(text, &k, sizeof(k));
	memcpy(text + 8, words, 4 * (size_t)count);
	return img_queue_send(qid, IMG_MSG_REPLY, text, sizeof text);
}

int img_queue_remove(int qid)
{
	if (msgctl(qid, IPC_RMID, NULL) < 0) {
		perror("unlink queue");
		return -1;
	}
	return 0;
}

void img_queue_print(int qid)
{
	struct msqid_ds ds;
	if (msgctl(qid, IPC_STAT, &ds) < 0) {
		printf("get msg info error\n");
		return;
	}
	printf("current number of bytes on queue is %d\n", (int)ds.__msg_cbytes);
	printf("number of messages in queue is %d\n", (int)ds.msg_qnum);
	printf("max number of bytes on queue is %d\n", (int)ds.msg_qbytes);
	printf("pid of last msgsnd is %d\n", (int)ds.msg_lspid);
	printf("pid of last msgrcv is %d\n", (int)ds.msg_lrpid);
	printf("msg uid is %d\n", (int)ds.msg_perm.uid);
	printf("msg gid is %d\n", (int)ds.msg_perm.gid);
}
