/* What the channel description, the posting, the statistics parser and
 * white balance call of 3A modules that are not written yet, under the
 * names those modules will give them: the filter pipeline's noise level and
 * the HDR module's enable, channel description, statistics linearisation
 * and per-frame update. */
#ifndef CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H
#define CAMLIB_IMG_ALGO_IMG_ALGO_PENDING_H

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "img_channel.h"

#include <stdint.h>

/* Filter pipeline: the channel's noise level, from the noise estimate. */
int img_adj_set_noise_level(int chan, uint32_t level);
uint32_t img_adj_get_noise_level(int chan);

/* HDR: the channel's HDR enable. */
int img_hdr_get_enable(int chan);

/* HDR: the four channel descriptions; -1 for NULL. */
int img_hdr_set_channel_info(const channel_info *records);
/* HDR: the channel's AWB tiles brought back to the sensor's linear raw
 * colours for white balance, log and tone curve families. Until the HDR
 * module lands only the sensor-side white balance is taken out again
 * (channels without the DSP-HDR flag whose method balances on the sensor);
 * the exposure linearisations leave the tiles as they are. */
int img_hdr_process_awb_stats(const uint32_t wb_gain[3], aaa_parse_result *stats, int chan);
int img_hdr_process_awb_stats_lut(const uint32_t wb_gain[3], aaa_parse_result *stats, int chan);
/* HDR: the per-frame update over four 128-byte frame settings blocks; a
 * least body that recomputes nothing. */
int img_hdr_process_frame(void *frame_settings, cl_aaa_block *aaa, const aaa_parse_out *stats);

#endif
