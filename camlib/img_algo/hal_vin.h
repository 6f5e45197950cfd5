/* Video-input control: the video driver's requests for a channel's sensor
 * (shutter, gain, digital-gain ratio, HDR gain groups), addressed through
 * the channel's video source and context. */
#ifndef CAMLIB_IMG_ALGO_HAL_VIN_H
#define CAMLIB_IMG_ALGO_HAL_VIN_H

#include "qvd_ioctl.h"

#include <stdint.h>

#define HAL_MAX_EXPOSURES 4

/* Shutter rows and gain indexes of up to four exposures. */
typedef struct hal_sht_agc {
	uint32_t expo_num; /* low byte */
	uint32_t shutter[HAL_MAX_EXPOSURES];
	uint32_t agc[HAL_MAX_EXPOSURES];
} hal_sht_agc;

/* Learns each channel's source, context and sensor_ctrl from the driver. */
int hal_init_channel_vsrc_mapping(int fd);

/* Per-channel requests: -1 for a channel outside 0..3 or not mapped; 0
 * without a request for a channel whose sensor the library does not drive. */
int hal_set_pending_sht_agc(int fd, const hal_sht_agc *rec, int chan);
int hal_set_dgain_ratio(int fd, const uint32_t ratio[3], int chan);
int hal_get_dgain_ratio(int fd, uint32_t ratio[3], int chan);

/* The channel's source and context as mapped; -1 for a channel outside
 * 0..3, not mapped or NULL. */
int hal_get_channel_vsrc(int chan, int32_t *source, int32_t *ctx, int *sensor_ctrl);

/* The service mode's requests. */
int hal_get_vsrc_contexts(int fd, int32_t source, uint32_t *vin_mask);
int hal_switch_vsrc_ctx(int fd, uint32_t ctx, int chan);
int hal_lock_vsrc_ctx_frame_cnt(int fd, uint32_t value, int chan);
int hal_set_sht_agc(int fd, uint32_t shutter, uint32_t agc, int chan);
int hal_set_shutter_only(int fd, uint32_t shutter, int chan);
int hal_set_agc_only(int fd, uint32_t agc, int chan);
uint32_t hal_get_last_shutter(int chan);
uint32_t hal_get_last_agc(int chan);
int hal_shutter_to_row(int fd, uint32_t time, uint32_t *rows, int chan);
int hal_get_agc_record(int fd, qvd_vin_agc *rec, int chan);
int hal_set_wdr_gain_shutter(int fd, const hal_sht_agc *rec, int chan);
int hal_aaa_compensation(int fd, uint64_t value[2], int chan);
int hal_get_wdr_gain_index(int fd, uint32_t index[HAL_MAX_EXPOSURES], int chan);
int hal_get_wdr_shutter_row(int fd, uint64_t rows[2], int chan);
int hal_set_low_light_mode(int fd, uint32_t mode, int chan);
int hal_set_sensor_reg(int fd, uint32_t addr, uint32_t value);
int hal_get_sensor_reg(int fd, uint32_t addr, uint32_t *value);
int hal_apply_multi_chan_cfg(int fd, int n);

#endif
