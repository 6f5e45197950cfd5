/*
 * The motion detector of the advanced layout: the motion plane's geometry,
 * the adaptive spatial filter of the motion path (MoASF) and the two
 * motion-combine tables.
 */
#include "ik_mctf.h"

#include "ik_fir.h"
#include "ik_liso_layout.h"
#include "ik_math.h"

#include <string.h>

void img_dsp_core_calc_motion_geometry(uint8_t smooth, uint16_t width, uint16_t height,
                                       uint16_t *height_motion, uint16_t *width_motion,
                                       uint16_t *smooth_phase_inc)
{
	static const uint32_t phase[11] = {16384, 17305, 18167, 19262, 20485, 21690,
	                                   23205, 24929, 26973, 30202, 32768};
	int32_t i = img_dsp_core_min(img_dsp_core_max(0, (int32_t)smooth - 46), 10);
	int64_t t = phase[i];
	*width_motion = (uint16_t)img_dsp_core_round_up_multiple(
	    (int32_t)img_dsp_core_div_round64((int64_t)width * 2048, t), 16, 128);
	*height_motion = (uint16_t)img_dsp_core_round_up_multiple(
	    (int32_t)img_dsp_core_div_round64((int64_t)height * 2048, t), 16, 64);
	*smooth_phase_inc = (uint16_t)(t > 65535 ? 65535 : t);
}

#define MOASF_FIR_AREA_1 1408u
#define MOASF_FIR_AREA_2 3240u

int img_dsp_core_calc_mcts_moasf(uint8_t smooth, const uint8_t *tmpl, uint8_t *table)
{
	memcpy(table, tmpl, IK_FINAL_SHARPEN_TBL_SIZE);
	uint16_t level = (uint16_t)(2 * (smooth < 46 ? smooth : 46) + 100);
	img_dsp_fir fir;
	memset(&fir, 0, sizeof(fir));
	fir.specify = 2;
	for (int d = 0; d < IK_FIR_DIRS; d++) {
		fir.per_dir_fir_iso_strengths[d] = level;
		fir.per_dir_fir_dir_strengths[d] = level;
		fir.per_dir_fir_dir_amounts[d] = d == 0 ? 0 : 256;
	}
	fir.strength_iso = fir.strength_dir = level;
	const ik_fir_calc_opts remapped = {IK_FIR_SET_A, false, true, false, true, 0};
	const ik_fir_calc_opts direct = {IK_FIR_SET_A, false, false, false, true, 0};
	ik_fir_coeff_set s1, s2;
	fir_calc_coeffs(&fir, &s1, &remapped);
	fir_calc_coeffs(&fir, &s2, &direct);
	/* FIR 0 of both engines is the isotropic kernel in every direction;
	 * FIR 1 of the second engine keeps the template. */
	for (int d = 0; d < IK_FIR_DIRS; d++) {
		convert_shpbc_fir_hw_config_one_dir(table + MOASF_FIR_AREA_1, 0, d, s1.shift[0], s1.v[0]);
		convert_shpbc_fir_hw_config_one_dir(table + MOASF_FIR_AREA_2, 0, d, s1.shift[0], s1.v[0]);
		convert_shpbc_fir_hw_config_one_dir(table + MOASF_FIR_AREA_1, 1, d, s2.shift[d], s2.v[d]);
	}
	return 0;
}

static uint32_t triple(int32_t v)
{
	uint32_t u = (uint32_t)v & 1023u;
	return u | u << 10 | u << 20;
}

int img_dsp_core_calc_cc_3d_motion_combine(const img_dsp_motion_detect *md, uint32_t *table, uint32_t m)
{
	for (int32_t i = 0; i < 16; i++) {
		int32_t b = md->lev_add[i];
		for (int32_t j = 0; j < 16; j++) {
			int32_t t = b + 17 * j;
			if (m == 0)
				t /= 2;
			for (int32_t k = 0; k < 16; k++) {
				/* A negative addition floors at 0 rather than
				 * spilling into the neighbouring fields. */
				int32_t v = img_dsp_core_clamp(4 * img_dsp_core_max(b + 17 * k, t), 0, 1023);
				uint32_t *w = &table[256 * i + 16 * j + k];
				*w = (*w & 0xC0000000u) | triple(v);
			}
		}
	}
	return 0;
}

int img_dsp_core_calc_cc_out_motion_combine(uint32_t noise_base, int32_t motion_response, uint32_t *table)
{
	for (int32_t i = 0; i < 256; i++) {
		int32_t v = img_dsp_core_clamp(
		    (int32_t)((uint32_t)(i - (int32_t)noise_base) * (uint32_t)motion_response), 0, 1023);
		table[i] = triple(v);
	}
	return 0;
}
