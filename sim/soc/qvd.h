// The video driver model "/dev/qvd": one table of ioctl handlers, each
// feature of the driver in a source file of its own.
#ifndef SIMSOC_QVD_H
#define SIMSOC_QVD_H

#include "simsoc.h"
#include "simsoc_qvd.h"

struct qvd_ioctl {
	unsigned long request;
	int (*handle)(simsoc_file *f, void *arg);
	unsigned size; // payload bytes kept; 0 for a plain value
};

// Failure due for a request of this code (and post kind, -1 for none); 0
// when none. Entries without a kind match every request of their code.
int qvd_fail_due(unsigned long code, int kind);
// Sets (err != 0) or clears a failure of a code and post kind.
void qvd_fail_set(unsigned long code, int kind, int err, int count);

// DSP debug log set-up (qvd_dsplog.cpp).
int qvd_set_dsp_log(simsoc_file *f, void *arg);

// Configuration posts, set and update requests (qvd_cfg.cpp).
int qvd_set_multi_chan_cfg(simsoc_file *f, void *arg);
int qvd_update_multi_chan_cfg(simsoc_file *f, void *arg);
void qvd_cfg_reset(void);

// Encode-mode capability query (qvd_enc.cpp).
int qvd_query_enc_mode_cap(simsoc_file *f, void *arg);

// The board: state, system information and resources, and what each VIN
// describes of itself (qvd_board.cpp).
int qvd_get_state(simsoc_file *f, void *arg);
int qvd_query_system_info(simsoc_file *f, void *arg);
int qvd_get_system_resource(simsoc_file *f, void *arg);
int qvd_get_video_proc(simsoc_file *f, void *arg);
int qvd_vin_get_videoinfo(simsoc_file *f, void *arg);
int qvd_vin_get_agc(simsoc_file *f, void *arg);
int qvd_vin_get_aaainfo(simsoc_file *f, void *arg);
// The VIN a source feeds, false when none; the VIN's source, false when the
// board has no such VIN.
bool qvd_board_vin_of(int32_t source, simsoc_qvd_vin *out);
bool qvd_board_source_of(unsigned vin, int32_t *source);
/* The board's record of VIN vin. */
bool qvd_board_vin(unsigned vin, simsoc_qvd_vin *out);
/* The other context of a source whose two VINs take two contexts. */
bool qvd_board_partner_ctx(int32_t source, uint32_t ctx, uint32_t *partner);
/* The context whose exposure a VIN fed by source with ctx takes. */
uint32_t qvd_vin_frame_ctx(int32_t source, uint32_t ctx);
// The DSP state QVD_IOC_GET_QVD_STATE reports (the running video sets it).
void qvd_board_set_dsp_state(uint32_t state);

// Per source and context sensor state (qvd_vin.cpp).
int qvd_vin_set_sht_agc(simsoc_file *f, void *arg);
int qvd_vin_set_dgain_ratio(simsoc_file *f, void *arg);
int qvd_vin_get_dgain_ratio(simsoc_file *f, void *arg);
int qvd_vin_set_reg(simsoc_file *f, void *arg);
int qvd_vin_get_reg(simsoc_file *f, void *arg);
int qvd_vin_shutter2row(simsoc_file *f, void *arg);
int qvd_vin_get_wdr_again(simsoc_file *f, void *arg);
int qvd_vin_get_wdr_dgain(simsoc_file *f, void *arg);
int qvd_vin_get_wdr_shutter_row(simsoc_file *f, void *arg);
int qvd_vin_set_wdr_gp(simsoc_file *f, void *arg);
int qvd_vin_set_pending_sht_agc(simsoc_file *f, void *arg);
int qvd_vin_set_pending_sht_agc_seq(simsoc_file *f, void *arg);
int qvd_img_apply_seq(simsoc_file *f, void *arg);
int qvd_vin_aaa_compensation(simsoc_file *f, void *arg);
int qvd_vin_set_low_light(simsoc_file *f, void *arg);
int qvd_vin_switch_ctx(simsoc_file *f, void *arg);
int qvd_vin_lock_ctx(simsoc_file *f, void *arg);
int qvd_vin_get_helmet(simsoc_file *f, void *arg);
int qvd_vin_set_helmet(simsoc_file *f, void *arg);
void qvd_vin_reset(void);

// Image-processing buffers and their maps (qvd_mem.cpp).
int qvd_map_imgproc(simsoc_file *f, void *arg);
int qvd_mmap(simsoc_file *f, size_t len, int prot, int flags, off_t offset, void **addr);
void qvd_munmap(simsoc_file *f, void *addr, size_t len);
// true while the image-kernel buffer was mapped at most once since the last
// reset: nothing earlier laid it out.
bool qvd_imgproc_fresh(void);
// Forgets the buffers' mappings (their memory stays).
void qvd_mem_reset(void);

// 3A statistics from the scene, the frame wait and the pending
// configurations' apply (qvd_stats.cpp).
int qvd_get_statistics(simsoc_file *f, void *arg);
int qvd_get_latest_statistics(simsoc_file *f, void *arg);
int qvd_wait_next_idsp_frame(simsoc_file *f, void *arg);
int qvd_apply_vin_idsp_pending_cfg(simsoc_file *f, void *arg);
// A configuration post was taken: its white balance waits for the apply.
void qvd_stats_posted(const simsoc_qvd_post_rec *p);
void qvd_stats_reset(void);

#endif
