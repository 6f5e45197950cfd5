/* Advance spatial filter hardware parameters. */
#include "ik_asf.h"
#include "ik_fir.h"
#include "ik_helpers.h"
#include "ik_math.h"

#include <string.h>

namespace
{

void expand_level(const img_dsp_level *lv, ik_expanded_level *out)
{
	memset(out, 0, sizeof(*out));
	out->low = lv->low;
	out->low_delta = lv->low_delta;
	out->low_strength = lv->low_strength;
	out->mid_strength = lv->mid_strength;
	out->high = lv->high;
	out->high_delta = lv->high_delta;
	out->high_strength = lv->high_strength;
}

/* Division rounding half away from zero. */
int32_t div_away(int32_t x, int32_t k)
{
	return x > 0 ? (x + k / 2) / k : (x - k / 2) / k;
}

uint32_t limit_alpha(int32_t k, uint8_t limit)
{
	return (uint32_t)img_dsp_core_min(8, img_dsp_core_max(0, div_away(8 * k - 4 * limit, k)));
}

uint8_t breakpoint(uint32_t at, uint32_t delta)
{
	return (uint8_t)img_dsp_core_min(255, (int32_t)(at + (1u << (delta & 7))));
}

void fill_level(const ik_asf_work *work, const ik_expanded_level *lv, uint8_t id, uint8_t *reg, uint8_t skip,
                uint8_t form)
{
	if (skip)
		return;
	uint8_t low0 = breakpoint(lv->low, lv->low_delta);
	uint8_t high0 = breakpoint(lv->high, lv->high_delta);
	if (form == 0) {
		const uint8_t curve[9] = {
		    (uint8_t)lv->low,         low0,  (uint8_t)lv->low_delta,  (uint8_t)lv->low_strength,
		    (uint8_t)lv->high,        high0, (uint8_t)lv->high_delta, (uint8_t)lv->high_strength,
		    (uint8_t)lv->mid_strength};
		level_reg_full(reg, id, curve, work->flag != 0);
	} else if (form == 1) {
		reg[0] = (uint8_t)lv->low;
		reg[1] = low0;
		reg[2] = (uint8_t)lv->low_strength;
		reg[3] = (uint8_t)lv->high;
		reg[4] = high0;
		reg[5] = (uint8_t)lv->high_strength;
		reg[6] = (uint8_t)lv->mid_strength;
		reg[7] = (uint8_t)((lv->low_delta & 7) | (lv->high_delta & 7) << 3 | (work->flag ? 0x40 : 0));
	}
}

} // namespace

void ik_asf_working_from_block(const img_dsp_advance_spatial_filter *b, ik_asf_working *w)
{
	memset(w, 0, sizeof(*w));
	w->enable = b->Enable;
	w->fir = b->Fir;
	w->wide_edge_detect = b->wide_edge_detect;
	w->directional_decide_t0 = b->DirectionalDecideT0;
	w->directional_decide_t1 = b->DirectionalDecideT1;
	w->adapt = b->Adapt;
	expand_level(&b->LevelStrAdjust, &w->level_str_adjust);
	expand_level(&b->T0T1Div, &w->t0t1_div);
	w->max_change_not_t0_t1_level_based = b->MaxChangeNotT0T1LevelBased;
	w->max_change_up = b->MaxChangeUp;
	w->max_change_down = b->MaxChangeDown;
}

void asf_alpha_from_adapt(const img_dsp_asf_adapt *a, uint32_t *table)
{
	uint8_t down[128], up[128];
	img_dsp_core_fill_ramp(down, a->AlphaMinDown, a->T0Down, a->T1Down, 128, a->AlphaMaxDown, 1);
	img_dsp_core_fill_ramp(up, a->AlphaMinUp, a->T0Up, a->T1Up, 128, a->AlphaMaxUp, 1);
	for (int k = 1; k < 128; k++)
		table[k] = down[128 - k];
	table[0] = down[127];
	for (int i = 0; i < 128; i++)
		table[128 + i] = up[i];
}

void asf_prepare_hw_params(const ik_asf_working *w, ik_asf_work *work, uint32_t flag)
{
	memset(work, 0, sizeof(*work));
	work->enable = w->enable;
	if (!w->max_change_not_t0_t1_level_based) {
		asf_alpha_from_adapt(&w->adapt, work->alpha);
	} else {
		for (int32_t k = 1; k < 128; k++) {
			work->alpha[128 - k] = limit_alpha(k, w->max_change_down);
			work->alpha[128 + k] = limit_alpha(k, w->max_change_up);
		}
		work->alpha[0] = work->alpha[1];
		work->alpha[128] = (w->max_change_up == 0 || w->max_change_down == 0) ? 8 : 0;
	}
	work->t0t1_div = w->t0t1_div;
	work->str_adjust = w->level_str_adjust;
	if (w->max_change_not_t0_t1_level_based)
		work->t0t1_div.low_strength = work->t0t1_div.mid_strength = work->t0t1_div.high_strength = 16;
	fir_prepare_work(&w->fir, &work->fir);
	work->wide_edge_detect = w->wide_edge_detect;
	work->directional_decide_t0 = w->directional_decide_t0;
	work->directional_decide_t1 = w->directional_decide_t1;
	work->flag = flag;
	work->str_adjust.low_strength = 64 - work->str_adjust.low_strength;
	work->str_adjust.mid_strength = 64 - work->str_adjust.mid_strength;
	work->str_adjust.high_strength = 64 - work->str_adjust.high_strength;
}

void asf_pack_alpha_table(const ik_asf_work *work, uint8_t *table, uint8_t mode)
{
	uint8_t bytes[256];
	for (int i = 0; i < 256; i++)
		bytes[i] = (uint8_t)work->alpha[i];
	pack_5bit_table(bytes, table, mode);
}

void asf_fill_directional_decide(const ik_asf_work *work, const void *, uint8_t *reg)
{
	static const uint8_t head[16] = {0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 8, 0, 0, 0, 1, 0};
	memcpy(reg + 4, head, sizeof(head));
	uint16_t t0 = (uint16_t)((work->directional_decide_t0 & 0x1FFFu) * 8u);
	uint16_t t1 = (uint16_t)((work->directional_decide_t1 & 0x1FFFu) * 8u);
	memcpy(reg + 20, &t0, 2);
	memcpy(reg + 22, &t1, 2);
}

void asf_fill_level_str_adjust(const ik_asf_work *work, uint8_t *reg, uint8_t skip, uint8_t form)
{
	fill_level(work, &work->str_adjust, 8, reg, skip, form);
}

void asf_fill_t0t1_div_level(const ik_asf_work *work, uint8_t *reg, uint8_t skip, uint8_t form)
{
	fill_level(work, &work->t0t1_div, 10, reg, skip, form);
}

/* The builder's sharpen block in its advance-spatial-filter layout: the
 * two blend thresholds are the direction decision's, the two level blocks
 * the packed level records. */
int img_dsp_core_asf_hw_params(const uint8_t *asf_block, ik_sharpen_block *out, uint8_t *fir1, uint8_t *fir2,
                               uint8_t *coring)
{
	img_dsp_advance_spatial_filter block;
	memcpy(&block, asf_block, sizeof(block));
	ik_asf_working w;
	ik_asf_working_from_block(&block, &w);
	ik_asf_work work;
	asf_prepare_hw_params(&w, &work, 0);
	if (fir1)
		update_asf_fir1_coeffs((const uint8_t *)&work, fir1);
	if (fir2)
		update_asf_fir2_coeffs((const uint8_t *)&work, fir2);
	if (coring)
		asf_pack_alpha_table(&work, coring, 0);
	uint8_t decide[IK_ASF_DECIDE_REG_SIZE] = {};
	asf_fill_directional_decide(&work, NULL, decide);
	memcpy(&out->fir2_clip_high, decide + 20, 2);
	memcpy(&out->fir2_clip_low, decide + 22, 2);
	asf_fill_level_str_adjust(&work, (uint8_t *)&out->coring_multiplier_min, 0, 1);
	asf_fill_t0t1_div_level(&work, (uint8_t *)&out->coring_index_mul, 0, 1);
	out->max_change_up = block.MaxChangeUp;
	out->max_change_down = block.MaxChangeDown;
	out->wide_edge_detect = block.wide_edge_detect;
	out->flags = (uint8_t)((out->flags & ~IK_SHP_ENABLE) | (block.Enable & 1u));
	return 0;
}
