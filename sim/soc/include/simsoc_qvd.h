/*
 * Steering of the video driver model "/dev/qvd": the configuration posts it
 * took, and failures to inject into them.
 */
#ifndef SIMSOC_QVD_H_STEER
#define SIMSOC_QVD_H_STEER

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_QVD_PART_MAX 1024u
#define SIMSOC_QVD_QUEUE_MAX 1280u

/* One accepted configuration post with copies of what it pointed at, taken
 * when the request arrived. */
typedef struct simsoc_qvd_post_rec {
	unsigned long request;
	uint32_t ctx_id;
	uint32_t kind; /* 2 contrast enhancement, 1 HDR, 0 main part */
	uint64_t addr;
	uint32_t update_mask;
	uint32_t part_size;
	uint8_t part[SIMSOC_QVD_PART_MAX];
	/* the part's command queues: contrast enhancement (kind 2), the two HDR
	 * queues (kind 1), the 3A batch queue (kind 0) */
	uint32_t queue_phys[2];
	uint32_t queue_size[2];
	uint8_t queue[2][SIMSOC_QVD_QUEUE_MAX];
} simsoc_qvd_post_rec;

/* Number of posts kept since the last clear. */
size_t simsoc_qvd_posts(void);
/* Copies post i; -1 when there is none. */
int simsoc_qvd_post(size_t i, simsoc_qvd_post_rec *out);
void simsoc_qvd_posts_clear(void);
/* Posts of this kind fail with -err until cleared (err 0 clears; kind -1
 * clears every kind). */
void simsoc_qvd_fail_kind(int kind, int err);
/* The answer to the encode-mode capability query: the encode mode in byte 0
 * and the chroma-radius code (0-3) in bits 16-17. */
void simsoc_qvd_set_enc_mode_cap(uint8_t mode, uint8_t radius_code);

#ifdef __cplusplus
}
#endif

#endif
