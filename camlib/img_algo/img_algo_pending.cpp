/* Least bodies of the 3A modules that are not written yet (see the
 * header); each does only what its callers here need. */
#include "img_algo_pending.h"

#include <stdio.h>
#include <string.h>

static uint32_t noise_level[IMG_MAX_CHANNELS];
static channel_info hdr_info[IMG_MAX_CHANNELS];

int img_adj_set_noise_level(int chan, uint32_t level)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	noise_level[chan] = level;
	return 0;
}

uint32_t img_adj_get_noise_level(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? noise_level[chan] : 0;
}

int img_hdr_get_enable(int)
{
	return 0;
}

int img_hdr_set_channel_info(const channel_info *records)
{
	if (!records) {
		printf("error: null pointer.\n");
		return -1;
	}
	memcpy(hdr_info, records, sizeof hdr_info);
	return 0;
}

/* Divides the white-balance gains out of every AWB tile. */
static void remove_wb_gains(const uint32_t g[3], aaa_parse_result *s)
{
	if (!g[0] || !g[1] || !g[2])
		return;
	for (aaa_awb_tile &t : s->set.awb) {
		t.r = (uint32_t)((uint64_t)t.r * 1024 / g[0]);
		t.g = (uint32_t)((uint64_t)t.g * 1024 / g[1]);
		t.b = (uint32_t)((uint64_t)t.b * 1024 / g[2]);
		t.luma = (uint32_t)((uint64_t)t.luma * 1024 / g[1]);
	}
}

static const channel_info *hdr_channel(const uint32_t *g, const aaa_parse_result *s, int chan)
{
	if (!g || !s || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return NULL;
	return &hdr_info[chan];
}

int img_hdr_process_awb_stats(const uint32_t wb_gain[3], aaa_parse_result *stats, int chan)
{
	const channel_info *ci = hdr_channel(wb_gain, stats, chan);
	if (!ci)
		return -1;
	if (!ci->dsp_hdr && ci->hdr_method == 3)
		remove_wb_gains(wb_gain, stats);
	return 0;
}

int img_hdr_process_awb_stats_lut(const uint32_t wb_gain[3], aaa_parse_result *stats, int chan)
{
	const channel_info *ci = hdr_channel(wb_gain, stats, chan);
	if (!ci)
		return -1;
	if (!ci->dsp_hdr && (ci->hdr_method == 3 || ci->hdr_method == 8))
		remove_wb_gains(wb_gain, stats);
	return 0;
}

int img_hdr_process_frame(void *, cl_aaa_block *, const aaa_parse_out *)
{
	return 0;
}
