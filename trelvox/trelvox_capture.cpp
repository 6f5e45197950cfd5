// Capture: cap_thread moves the DSP-log device's bytes into a 6 MB ring,
// transfer_thread sends them to a file or a TCP receiver, sig_thread turns
// Ctrl+C into the end of the run.
#include "trelvox.h"

#include "datatx.h"
#include "trelvox_ring.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

namespace
{

constexpr uint32_t ring_size = 6u * TRELVOX_MB;
constexpr uint32_t read_max = 2u * TRELVOX_MB;
constexpr uint32_t staging_from = 4u * TRELVOX_MB;
constexpr uint32_t chunk_size = 0x40000;
constexpr int speed_rounds = 50;

struct output {
	const char *name;
	int method;
	int port;
	bool pinpong;
	uint32_t limit;
	int handle;
	int file_index; // 1 or 2 in pinpong mode, 0 before the first
	uint32_t count;
	uint8_t header[TRELVOX_HEADER_SIZE];
};

struct capture {
	trelvox_ring ring;
	int dsplog_fd;
	output out;
	bool verbose;
	sem_t exit_sem;
	sigset_t signals;
};

void *sig_thread(void *arg)
{
	capture *c = static_cast<capture *>(arg);
	int sig = 0;
	while (sigwait(&c->signals, &sig) != 0) {
	}
	sem_post(&c->exit_sem);
	return nullptr;
}

[[noreturn]] void capture_failed(void)
{
	printf("trelvox: capture failed. \n");
	fflush(stdout);
	exit(1);
}

[[noreturn]] void transfer_failed(int where)
{
	printf("trelvox[%d]: write failed \n", where);
	printf("trelvox: transfer failed. \n");
	fflush(stdout);
	exit(1);
}

ssize_t read_device(int fd, uint8_t *dst, size_t len)
{
	ssize_t n = read(fd, dst, len);
	if (n >= 0)
		return n;
	if (errno == EAGAIN) {
		printf("read it again \n");
		n = read(fd, dst, len);
		if (n < 0)
			printf("read fail again \n");
		return n;
	}
	perror("trelvox: read\n");
	return -1;
}

void *cap_thread(void *arg)
{
	capture *c = static_cast<capture *>(arg);
	trelvox_ring *r = &c->ring;
	uint8_t *staging = static_cast<uint8_t *>(malloc(read_max));
	if (!staging) {
		printf("trelvox: insufficient memory for temp buffer\n");
		capture_failed();
	}
	if (ioctl(c->dsplog_fd, VORS_IOC_DSPLOG_START_CAPUTRE) < 0)
		perror("VORS_IOC_DSPLOG_START_CAPUTRE");
	for (;;) {
		uint32_t w = trelvox_ring_wait_space(r, read_max);
		bool staged = w >= staging_from;
		ssize_t n = read_device(c->dsplog_fd, staged ? staging : r->buf + w, read_max);
		if (n < 0)
			capture_failed();
		if (n == 0) {
			trelvox_ring_finish(r);
			printf("trelvox: exit\n");
			printf("trelvox: capture thread finished.\n");
			break;
		}
		if (staged) {
			uint32_t first = (uint32_t)n < ring_size - w ? (uint32_t)n : ring_size - w;
			memcpy(r->buf + w, staging, first);
			memcpy(r->buf, staging + first, (size_t)n - first);
		}
		trelvox_ring_produced(r, w, (uint32_t)n);
	}
	free(staging);
	return nullptr;
}

int open_output(output *o, const char *name)
{
	o->handle = vors_transfer_open(name, o->method, o->port);
	if (o->handle < 0)
		return -1;
	o->count = 0;
	if (vors_transfer_write(o->handle, o->header, TRELVOX_HEADER_SIZE, o->method) !=
	    TRELVOX_HEADER_SIZE) {
		printf("write dsplog header info err: %d\n", errno);
		puts("dsplog add header info err");
		return -1;
	}
	return 0;
}

int dsplog_get_transfer_fd(output *o)
{
	if (!o->pinpong) {
		if (o->handle >= 0)
			return o->handle;
		if (open_output(o, o->name) < 0) {
			if (o->handle < 0)
				printf("Create file for transfer failed %s.\n", o->name);
			return -1;
		}
		return o->handle;
	}
	if (o->handle >= 0 && o->count < o->limit)
		return o->handle;
	if (o->handle >= 0) {
		vors_transfer_close(o->handle, o->method);
		o->handle = -1;
	}
	o->file_index = o->file_index == 1 ? 2 : 1;
	char name[TRELVOX_NAME_MAX + 2];
	snprintf(name, sizeof name, "%s.%d", o->name, o->file_index);
	if (open_output(o, name) < 0) {
		if (o->handle < 0)
			printf("create file for transfer failed %s \n", name);
		return -1;
	}
	return o->handle;
}

void send_chunk(capture *c, int handle, uint32_t at, uint32_t len)
{
	trelvox_ring *r = &c->ring;
	int method = c->out.method;
	if (at + len <= ring_size) {
		if (vors_transfer_write(handle, r->buf + at, (int)len, method) != (int)len)
			transfer_failed(690);
		return;
	}
	uint32_t first = ring_size - at;
	if (vors_transfer_write(handle, r->buf + at, (int)first, method) != (int)first)
		transfer_failed(696);
	if (vors_transfer_write(handle, r->buf, (int)(len - first), method) != (int)(len - first))
		transfer_failed(701);
}

double seconds_since(const struct timeval *t0)
{
	struct timeval now;
	gettimeofday(&now, nullptr);
	return (double)(now.tv_sec - t0->tv_sec) + (double)(now.tv_usec - t0->tv_usec) / 1e6;
}

void *transfer_thread(void *arg)
{
	capture *c = static_cast<capture *>(arg);
	trelvox_ring *r = &c->ring;
	output *o = &c->out;
	if (vors_transfer_init(o->method) < 0) {
		printf("trelvox: transfer init failed. \n");
		exit(1);
	}
	struct timeval t0;
	gettimeofday(&t0, nullptr);
	uint64_t speed_bytes = 0;
	int rounds = 0;
	for (;;) {
		int handle = dsplog_get_transfer_fd(o);
		if (handle < 0) {
			puts("dsplog_transfer");
			printf("dsplog_get_transfer_fd failed for %s \n ", o->name);
			fflush(stdout);
			exit(1);
		}
		bool end;
		uint32_t at;
		uint32_t avail = trelvox_ring_wait_data(r, &at, &end);
		if (avail == 0 && end) {
			printf("dsplog read finished. stop vors_transfer.\n");
			vors_transfer_close(handle, o->method);
			o->handle = -1;
			vors_transfer_deinit(o->method);
			printf("trelvox: transfer thread finished.\n");
			fflush(stdout);
			return nullptr;
		}
		for (uint32_t sent = 0; sent < avail;) {
			uint32_t len = avail - sent < chunk_size ? avail - sent : chunk_size;
			send_chunk(c, handle, at, len);
			at = (at + len) % ring_size;
			sent += len;
			trelvox_ring_consumed(r, at, read_max);
		}
		vors_transfer_flush(handle, o->method);
		if (o->pinpong)
			o->count += avail;
		if (!c->verbose)
			continue;
		speed_bytes += avail;
		if (++rounds < speed_rounds)
			continue;
		float mb = (float)((double)speed_bytes / (double)(1u << 20));
		printf("dsplog dump speed = %f MB/s\n", (double)(mb / (float)seconds_since(&t0)));
		speed_bytes = 0;
		rounds = 0;
		gettimeofday(&t0, nullptr);
	}
}

int dsplog_setup(int fd, const trelvox_settings *s)
{
	qvd_dsp_log record = {QVD_DSP_LOG_CMD_SET, trelvox_dsp_log_mask(s), (uint32_t)s->debug_level, {0}};
	if (ioctl(fd, QVD_IOC_SET_DSP_LOG, &record) < 0) {
		perror("QVD_IOC_SET_DSP_LOG");
		printf("dsplog setup failed ");
		return -1;
	}
	return 0;
}

int configure_dsp_log(const trelvox_settings *s)
{
	if (s->capture_only) {
		printf("trelvox: capture only mode, do not send 'set debug level and bitmask' \n");
		return 0;
	}
	int fd = open(QVD_DEVICE, O_RDWR | O_CLOEXEC);
	if (fd < 0) {
		perror(QVD_DEVICE);
		return -1;
	}
	int r = dsplog_setup(fd, s);
	close(fd);
	if (r < 0)
		printf("trelvox: dsplog_setup failed \n");
	return r;
}

int enable_debug_flag(void)
{
	int fd = open(VORAD_DEVICE, O_RDWR | O_CLOEXEC);
	if (fd < 0) {
		perror(VORAD_DEVICE);
		return -1;
	}
	uint32_t flag = 0;
	int r = -1;
	if (ioctl(fd, VORS_DEBUG_IOC_GET_DEBUG_FLAG, &flag) < 0) {
		perror("VORS_DEBUG_IOC_GET_DEBUG_FLAG");
	} else {
		flag |= VORAD_DEBUG_FLAG_DSPLOG;
		if (ioctl(fd, VORS_DEBUG_IOC_SET_DEBUG_FLAG, &flag) < 0)
			perror("VORS_DEBUG_IOC_SET_DEBUG_FLAG");
		else
			r = 0;
	}
	close(fd);
	return r;
}

void join(pthread_t t, const char *done, const char *failed)
{
	if (pthread_join(t, nullptr) != 0)
		perror(failed);
	else
		printf("%s", done);
}

} // namespace

int trelvox_capture(const trelvox_settings *s, const trelvox_ucode_version *v)
{
	static capture c;
	memset(&c, 0, sizeof c);
	setvbuf(stdout, nullptr, _IOLBF, 0);
	sigemptyset(&c.signals);
	sigaddset(&c.signals, SIGINT);
	sigaddset(&c.signals, SIGQUIT);
	sigaddset(&c.signals, SIGTERM);
	pthread_sigmask(SIG_BLOCK, &c.signals, nullptr);
	if (sem_init(&c.exit_sem, 0, 0) < 0) {
		printf("trelvox: create sem for exit failed.\n");
		return 255;
	}
	pthread_t sig_tid, cap_tid, xfer_tid;
	if (pthread_create(&sig_tid, nullptr, sig_thread, &c) != 0) {
		printf("trelvox: create sig thread failed.\n");
		return 255;
	}
	if (configure_dsp_log(s) < 0)
		return 255;
	c.dsplog_fd = open(DSPLOG_DEVICE, O_RDONLY | O_CLOEXEC);
	if (c.dsplog_fd < 0) {
		perror("cannot open /dev/dsplog");
		return 255;
	}
	uint8_t *ring_buf = static_cast<uint8_t *>(malloc(ring_size));
	if (!ring_buf) {
		printf("trelvox: insufficient memory for cap buffer \n");
		return 255;
	}
	trelvox_ring_init(&c.ring, ring_buf, ring_size);
	if (enable_debug_flag() < 0)
		return 255;
	c.verbose = s->verbose;
	c.out.name = s->capture_out;
	c.out.method = s->tcp ? VORS_TRANSFER_TCP : VORS_TRANSFER_FILE;
	c.out.port = TRELVOX_TCP_PORT;
	c.out.pinpong = s->pinpong;
	c.out.limit = s->pinpong_limit;
	c.out.handle = -1;
	trelvox_make_header(v, c.out.header);
	if (pthread_create(&cap_tid, nullptr, cap_thread, &c) != 0) {
		printf("trelvox: create cap thread failed \n");
		return 255;
	}
	if (pthread_create(&xfer_tid, nullptr, transfer_thread, &c) != 0) {
		printf("trelvox: create transfer thread failed \n");
		return 255;
	}
	printf("\nPlease press 'Ctrl+C' to quit capture, or use 'killall trelvox' to stop capture. Don't use "
	       "'kill -9' "
	       "to force quit.\n");
	while (sem_wait(&c.exit_sem) != 0) {
	}
	printf("try to stop dsp log capture.\n");
	if (ioctl(c.dsplog_fd, VORS_IOC_DSPLOG_STOP_CAPUTRE) < 0) {
		perror("VORS_IOC_DSPLOG_STOP_CAPUTRE");
		printf("dsplog cap stopped failed \n");
		return 255;
	}
	printf("dsp log capture stopped OK.\n");
	join(sig_tid, "sig_thread exits!\n", "pthread_join sig thread! \n");
	join(cap_tid, "cap_thread exits!\n", "pthread_join cap thread! \n");
	join(xfer_tid, "transfer_thread exits!\n", "pthread_join transfer thread! \n");
	printf("trelvox: capture done and main thread exit!\n");
	return 0;
}
