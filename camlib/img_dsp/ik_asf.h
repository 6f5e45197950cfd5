/* Advance spatial filter: its stored block turned into the DSP's tables and
 * register records. */
#ifndef CAMLIB_IMG_DSP_IK_ASF_H
#define CAMLIB_IMG_DSP_IK_ASF_H

#include "ik_shp_hw.h"
#include "img_dsp.h"

#include <stdint.h>

/* The stored block with its two level curves widened. */
typedef struct ik_asf_working {
	uint8_t enable;
	img_dsp_fir fir;
	uint8_t wide_edge_detect;
	uint8_t directional_decide_t0;
	uint8_t directional_decide_t1;
	img_dsp_asf_adapt adapt;
	ik_expanded_level level_str_adjust;
	ik_expanded_level t0t1_div;
	uint8_t max_change_not_t0_t1_level_based;
	uint8_t max_change_up;
	uint8_t max_change_down;
} ik_asf_working;

/* Everything the DSP needs, derived once. The FIR lies at byte 4, where
 * the coefficient update reads it. */
typedef struct ik_asf_work {
	uint32_t enable;
	img_dsp_fir fir;
	uint8_t wide_edge_detect;
	uint8_t reserved0;
	uint16_t reserved1;
	ik_expanded_level t0t1_div;
	ik_expanded_level str_adjust; /* strengths as 64 minus the stored ones */
	uint32_t directional_decide_t0;
	uint32_t directional_decide_t1;
	uint32_t flag;
	uint32_t alpha[256]; /* 128 + d for a signed change d */
} ik_asf_work;

#define IK_ASF_DECIDE_REG_SIZE 24u

void ik_asf_working_from_block(const img_dsp_advance_spatial_filter *block, ik_asf_working *w);
void asf_prepare_hw_params(const ik_asf_working *w, ik_asf_work *work, uint32_t flag);
void asf_alpha_from_adapt(const img_dsp_asf_adapt *a, uint32_t *table);
void asf_pack_alpha_table(const ik_asf_work *work, uint8_t *table, uint8_t mode);
void asf_fill_directional_decide(const ik_asf_work *work, const void *unused, uint8_t *reg);
/* form 0 writes bytes 4..29 of the full record, 1 the 8-byte packed form. */
void asf_fill_level_str_adjust(const ik_asf_work *work, uint8_t *reg, uint8_t skip, uint8_t form);
void asf_fill_t0t1_div_level(const ik_asf_work *work, uint8_t *reg, uint8_t skip, uint8_t form);

#endif
