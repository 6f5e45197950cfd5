/*
 * The video driver's configuration posts: a 24-byte request passed by
 * pointer, one per part of a configuration. Shared by the image-DSP library
 * and the driver's model so the two cannot drift.
 */
#ifndef QVD_CFG_IOCTL_H
#define QVD_CFG_IOCTL_H

#include <stdint.h>

#define QVD_IOC_IMG_SET_MULTI_CHAN_CFG 0x40017063ul
#define QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG 0x40027063ul

/* Part kinds, in the order they are posted. */
#define QVD_CFG_KIND_MAIN 0u
#define QVD_CFG_KIND_HDR 1u
#define QVD_CFG_KIND_CE 2u

typedef struct qvd_multi_chan_cfg {
	uint32_t ctx_id;
	uint32_t kind;
	uint64_t addr;        /* user (mapped) address of the part */
	uint32_t update_mask; /* main part only: all ones for a set request */
	uint32_t reserved;    /* zero */
} qvd_multi_chan_cfg;

#ifdef __cplusplus
static_assert(sizeof(qvd_multi_chan_cfg) == 24, "configuration post request");
#endif

#endif
