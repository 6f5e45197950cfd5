/* HDR parameters: set-up entries. */
#ifndef CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H
#define CAMLIB_IMG_ALGO_IMG_HDR_PARAMS_H

#define IMG_HDR_IQ_PARAMS_SIZE 256
#define IMG_HDR_SENSOR_RECORD_SIZE 236

/* Channels with HDR parameters, 1 to 4; -1 outside. */
int img_hdr_set_channel_num(int count);
int img_hdr_get_channel_num(void);
/* Per channel a sensor record; -1 for NULL. */
int img_hdr_set_sensor_info(const void *records);
/* Per channel a 256-byte tuning block. */
int img_hdr_copy_iq_params(const void *blocks);

#endif
