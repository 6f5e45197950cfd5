/* HDR parameters: so far the channel count; the sensor records and tuning
 * blocks are taken without effect until the HDR curves use them. */
#include "img_hdr_params.h"

#include "img_channel.h"

#include <math.h>
#include <stdio.h>

static int img_hdr_channel_num = 1;

int img_hdr_set_channel_num(int count)
{
	if (count < 1 || count > IMG_MAX_CHANNELS) {
		printf("error: illegal total channel number.\n");
		return -1;
	}
	img_hdr_channel_num = count;
	return 0;
}

int img_hdr_get_channel_num(void)
{
	return img_hdr_channel_num;
}

int img_hdr_set_sensor_info(const void *records)
{
	if (!records) {
		printf("error: null pointer.\n");
		return -1;
	}
	return 0;
}

int img_hdr_copy_iq_params(const void *)
{
	return 0;
}

/* ---- Least bodies until the HDR parameters, curves and per-frame update
 * land: the setters take nothing, CE log is off, the second strengths are
 * 0 (so the factor is its lower bound) and the expansion is its formula. */

int img_hdr_set_shutter_ratio(const img_hdr_blend_config *, int)
{
	return 0;
}

int img_hdr_set_alpha_value(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_anti_flicker_threshold(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_threshold(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_lut_mix(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_1st_strength(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_2nd_strength(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_boost_strength(const uint32_t *, int)
{
	return 0;
}

int img_hdr_set_static_black_level(const int16_t *, int)
{
	return 0;
}

int img_hdr_get_ce_log_enable(int)
{
	return 0;
}

int img_hdr_get_ce_log_config(uint64_t *out, int)
{
	if (!out)
		return -1;
	*out = 0;
	return 0;
}

float img_hdr_2nd_strength_factor(int)
{
	return 1.0f;
}

float img_hdr_exp_expand(float x, int bits, float a)
{
	float m = (float)((1u << bits) - 1u);
	if (x > m)
		x = m;
	if (!(a > 0.0f))
		return x < 0.0f ? 0.0f : x;
	float y = (powf(1.0f + a, x / m) - 1.0f) * m / a;
	return y < 0.0f ? 0.0f : (y > m ? m : y);
}
