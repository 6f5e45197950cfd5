/*
 * The dma-buf model: "/dev/simsoc-dmabuf" opens a buffer of 4096 bytes (a
 * memfd underneath, so it can be mapped and passed over sockets) that takes
 * DMA_BUF_IOCTL_SYNC. Every sync call is recorded with its flags, its
 * outcome and the time it was made; a test may make the next ones fail.
 */
#ifndef SIMSOC_DMABUF_H
#define SIMSOC_DMABUF_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_DMABUF_PATH "/dev/simsoc-dmabuf"
#define SIMSOC_DMABUF_SIZE 4096

typedef struct simsoc_dmabuf_sync {
	int fd_unit;      /* which open of the model: 0 for the first since the last clear */
	uint64_t flags;   /* as passed in struct dma_buf_sync */
	int result;       /* 0 or the negative errno returned */
	uint64_t when_ns; /* CLOCK_MONOTONIC */
} simsoc_dmabuf_sync;

/* The next count sync calls fail with err (a positive errno). */
void simsoc_dmabuf_fail_syncs(int count, int err);
/* Copies up to max recorded calls, oldest first; returns the number recorded. */
size_t simsoc_dmabuf_syncs(simsoc_dmabuf_sync *out, size_t max);
/* Forgets the record, pending failures and the open count. */
void simsoc_dmabuf_clear(void);

#ifdef __cplusplus
}
#endif

#endif
