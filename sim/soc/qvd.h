// The video driver model "/dev/qvd": one table of ioctl handlers, each
// feature of the driver in a source file of its own.
#ifndef SIMSOC_QVD_H
#define SIMSOC_QVD_H

#include "simsoc.h"

struct qvd_ioctl {
	unsigned long request;
	int (*handle)(simsoc_file *f, void *arg);
};

// DSP debug log set-up (qvd_dsplog.cpp).
int qvd_set_dsp_log(simsoc_file *f, void *arg);

// Configuration posts, set and update requests (qvd_cfg.cpp).
int qvd_set_multi_chan_cfg(simsoc_file *f, void *arg);
int qvd_update_multi_chan_cfg(simsoc_file *f, void *arg);

// Encode-mode capability query (qvd_enc.cpp).
#define QVD_IOC_QUERY_ENC_MODE_CAP 0xC0085616ul
int qvd_query_enc_mode_cap(simsoc_file *f, void *arg);

#endif
