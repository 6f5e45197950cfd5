/* "/dev/qvd", the SoC's video driver. */
#ifndef QVD_IOCTL_H
#define QVD_IOCTL_H

#include <stdint.h>

#define QVD_DEVICE "/dev/qvd"

/* DSP debug log set-up: struct qvd_dsp_log, written. */
#define QVD_IOC_SET_DSP_LOG 0x40085601ul

#define QVD_DSP_LOG_CMD_SET 1u
#define QVD_DSP_LOG_LEVEL_MAX 4u

struct qvd_dsp_log {
	uint32_t command;     /* QVD_DSP_LOG_CMD_SET */
	uint32_t module_mask; /* one bit per DSP module */
	uint32_t level;       /* 0 to QVD_DSP_LOG_LEVEL_MAX */
	uint32_t reserved[6]; /* zero */
};

#ifdef __cplusplus
static_assert(sizeof(struct qvd_dsp_log) == 36, "qvd_dsp_log is 36 bytes");
#else
_Static_assert(sizeof(struct qvd_dsp_log) == 36, "qvd_dsp_log is 36 bytes");
#endif

#endif
