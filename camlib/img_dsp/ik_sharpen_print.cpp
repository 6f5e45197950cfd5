/* The sharpen-noise setters' field prints, in each stage's own wording. */
#include "ik_core.h"
#include "ik_sharpen.h"

#include <stdio.h>

namespace
{

void print_nine(const char *fmt_head, const char *prefix, const uint16_t *v)
{
	ik_print(fmt_head, prefix, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
}

/* The first stage's FIR lines, also inside its noise print. */
void print_first_fir(const img_dsp_fir *f)
{
	ik_print("[IK]     Specify = %d\n", f->specify);
	ik_print("[IK]     StrengthIso %d\n", f->strength_iso);
	ik_print("[IK]     StrengthDir %d\n", f->strength_dir);
	print_nine("[IK]     %sIsoStrengths = %d %d %d %d %d %d %d %d %d\n", "PerDirFir",
	           f->per_dir_fir_iso_strengths);
	print_nine("[IK]     %sDirStrengths = %d %d %d %d %d %d %d %d %d\n", "PerDirFir",
	           f->per_dir_fir_dir_strengths);
	print_nine("[IK]     %sDirAmounts = %d %d %d %d %d %d %d %d %d\n", "PerDirFir",
	           f->per_dir_fir_dir_amounts);
	for (int d = 0; d < 9; d++) {
		const int16_t *c = f->coefs[d];
		ik_print("[IK]     Coefs[%d] %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d "
		         "%d %d %d "
		         "%d\n",
		         d, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12],
		         c[13], c[14], c[15], c[16], c[17], c[18], c[19], c[20], c[21], c[22], c[23], c[24]);
	}
}

void print_level(const char *name, const img_dsp_level *lv)
{
	ik_print("[IK]%s low %d\n", name, lv->low);
	ik_print("[IK]%s low_delta %d\n", name, lv->low_delta);
	ik_print("[IK]%s low_strength %d\n", name, lv->low_strength);
	ik_print("[IK]%s mid_strength %d\n", name, lv->mid_strength);
	ik_print("[IK]%s high %d\n", name, lv->high);
	ik_print("[IK]%s high_delta %d\n", name, lv->high_delta);
	ik_print("[IK]%s high_strength %d\n", name, lv->high_strength);
}

/* One direction's 25 coefficients in rows of 7, 7, 7 and 4. */
void print_kernel(const int16_t *c)
{
	for (int r = 0; r < 21; r += 7)
		ik_print("[IK]%5d %5d %5d %5d %5d %5d %5d\n", c[r], c[r + 1], c[r + 2], c[r + 3], c[r + 4],
		         c[r + 5], c[r + 6]);
	ik_print("[IK]%5d %5d %5d %5d\n", c[21], c[22], c[23], c[24]);
}

/* The final stage's FIR after its specify line; `pre` is "" for the
 * sharpen FIR and "fir_" inside the noise block, which prints its
 * strengths whatever the selector. */
void print_final_fir_body(const img_dsp_fir *f, const char *pre, bool strengths_always)
{
	switch (f->specify) {
	case 3:
		print_nine("[IK]%sper_dir_fir_iso_strengths %d %d %d %d %d %d %d %d %d\n", pre,
		           f->per_dir_fir_iso_strengths);
		print_nine("[IK]%sper_dir_fir_dir_strengths %d %d %d %d %d %d %d %d %d\n", pre,
		           f->per_dir_fir_dir_strengths);
		print_nine("[IK]%sper_dir_fir_dir_amounts %d %d %d %d %d %d %d %d %d\n", pre,
		           f->per_dir_fir_dir_amounts);
		break;
	case 1:
		ik_print("[IK]%scoefs[] = \n", pre);
		print_kernel(f->coefs[0]);
		break;
	case 4:
		for (int d = 0; d < 9; d++) {
			ik_print("[IK]%scoefs[%d][] = \n", pre, d);
			print_kernel(f->coefs[d]);
		}
		break;
	default:
		if (!strengths_always)
			return;
		break;
	}
	ik_print("[IK]%sstrength_iso %d\n", pre, f->strength_iso);
	ik_print("[IK]%sstrength_dir %d\n", pre, f->strength_dir);
}

} // namespace

void ik_print_coring(const void *block)
{
	const img_dsp_sharpen_coring *c = (const img_dsp_sharpen_coring *)block;
	ik_print("[IK]  Coring = {\n");
	for (int r = 0; r < 16; r++) {
		/* Each entry overwrites the previous one's trailing space. */
		char line[16 * 4 + 8];
		for (int j = 0; j < 16; j++)
			snprintf(line + 4 * j, sizeof(line) - 4 * j, "%4d ", c->coring[16 * r + j]);
		ik_print("[IK]%s\n", line);
	}
	ik_print("[IK]  }\n");
}

void ik_print_first_fir(const void *block)
{
	print_first_fir((const img_dsp_fir *)block);
}

void ik_print_first_both(const void *block)
{
	const img_dsp_1st_sharpen_noise_both *b = (const img_dsp_1st_sharpen_noise_both *)block;
	ik_print("[IK]     Enable %d Mode %d EdgeThresh %d WideEdgeDetect %d\n", b->Enable, b->Mode,
	         b->EdgeThresh, b->WideEdgeDetect);
}

void ik_print_first_noise(const void *block)
{
	const img_dsp_1st_sharpen_noise_noise *n = (const img_dsp_1st_sharpen_noise_noise *)block;
	ik_print("[IK]     MaxChangeUp %d MaxChangeDown %d\n", n->MaxChangeUp, n->MaxChangeDown);
	print_first_fir(&n->fir);
	print_level("level_str_adjust", &n->level_str_adjust);
}

void ik_print_first_min_coring_result(const void *block)
{
	print_level("min_coring_result", (const img_dsp_level *)block);
}

void ik_print_first_max_coring_result(const void *block)
{
	print_level("max_coring_result", (const img_dsp_level *)block);
}

void ik_print_first_coring_index_scale(const void *block)
{
	print_level("coring_index_scale", (const img_dsp_level *)block);
}

void ik_print_first_scale_coring(const void *block)
{
	print_level("scale_coring", (const img_dsp_level *)block);
}

void ik_print_final_level(const void *block)
{
	const img_dsp_final_level *lv = (const img_dsp_final_level *)block;
	ik_print("[IK]low %d\n", lv->low);
	ik_print("[IK]low_delta %d\n", lv->low_delta);
	ik_print("[IK]low_strength %d\n", lv->low_strength);
	ik_print("[IK]mid_strength %d\n", lv->mid_strength);
	ik_print("[IK]high %d\n", lv->high);
	ik_print("[IK]high_delta %d\n", lv->high_delta);
	ik_print("[IK]high_strength %d\n", lv->high_strength);
	ik_print("[IK]method %d\n", lv->method);
}

void ik_print_final_both(const void *block)
{
	const img_dsp_final_sharpen_noise_both *b = (const img_dsp_final_sharpen_noise_both *)block;
	ik_print("[IK]enable %d\n", b->enable);
	ik_print("[IK]mode %d\n", b->mode);
	ik_print("[IK]edge_thresh %d\n", b->edge_thresh);
	ik_print("[IK]wide_edge_detect %d\n", b->wide_edge_detect);
	ik_print("[IK]max_change_up5x5 %d\n", b->max_change_up5x5);
	ik_print("[IK]max_change_down5x5 %d\n", b->max_change_down5x5);
	ik_print("[IK]three_d_table addr 0x%p\n", (const void *)(uintptr_t)b->three_d_table);
	ik_print("[IK]three_d_u_bits %d\n", b->three_d_u_bits);
	ik_print("[IK]three_d_u_offset %d\n", b->three_d_u_offset);
	ik_print("[IK]three_d_u_shift %d\n", b->three_d_u_shift);
	ik_print("[IK]three_d_v_bits %d\n", b->three_d_v_bits);
	ik_print("[IK]three_d_v_offset %d\n", b->three_d_v_offset);
	ik_print("[IK]three_d_v_shift %d\n", b->three_d_v_shift);
	ik_print("[IK]three_d_y_offset %d\n", b->three_d_y_offset);
	ik_print("[IK]three_d_y_shift %d\n", b->three_d_y_shift);
	ik_print("[IK]max_change_up %d\n", b->max_change_up);
	ik_print("[IK]max_change_down %d\n", b->max_change_down);
}

void ik_print_final_fir(const void *block)
{
	const img_dsp_fir *f = (const img_dsp_fir *)block;
	ik_print("[IK]specify %d\n", f->specify);
	print_final_fir_body(f, "", false);
}

void ik_print_final_noise(const void *block)
{
	const img_dsp_final_sharpen_noise_noise *n = (const img_dsp_final_sharpen_noise_noise *)block;
	ik_print("[IK]max_change_up %d\n", n->max_change_up);
	ik_print("[IK]max_change_down %d\n", n->max_change_down);
	ik_print("[IK]fir_specify %d\n", n->fir.specify);
	print_final_fir_body(&n->fir, "fir_", true);
	print_level("level_str_adjust", &n->level_str_adjust);
	ik_print("[IK]%s method %d\n", "level_str_adjust", n->level_str_adjust_method);
	ik_print("[IK]level_str_adjust_not_t0_t1_level_based %d\n",
	         n->level_str_adjust_not_t0_t1_level_based);
	ik_print("[IK]t0 %d\n", n->t0);
	ik_print("[IK]t1 %d\n", n->t1);
	ik_print("[IK]alpha_min %d\n", n->alpha_min);
	ik_print("[IK]alpha_max %d\n", n->alpha_max);
}

void ik_print_asf(const void *block)
{
	const img_dsp_advance_spatial_filter *a = (const img_dsp_advance_spatial_filter *)block;
	ik_print("[IK]     Enable = %d\n", a->Enable);
	ik_print("[IK]     wide_edge_detect = %d\n", a->wide_edge_detect);
	print_first_fir(&a->Fir);
	ik_print("[IK]     DirectionalDecideT0 %d\n", a->DirectionalDecideT0);
	ik_print("[IK]     DirectionalDecideT1 %d\n", a->DirectionalDecideT1);
	const img_dsp_asf_adapt *ad = &a->Adapt;
	ik_print("[IK]     Adapt.AlphaMinUp %d\n", ad->AlphaMinUp);
	ik_print("[IK]     Adapt.AlphaMaxUp %d\n", ad->AlphaMaxUp);
	ik_print("[IK]     Adapt.T0Up %d\n", ad->T0Up);
	ik_print("[IK]     Adapt.T1Up %d\n", ad->T1Up);
	ik_print("[IK]     Adapt.AlphaMinDown %d\n", ad->AlphaMinDown);
	ik_print("[IK]     Adapt.AlphaMaxDown %d\n", ad->AlphaMaxDown);
	ik_print("[IK]     Adapt.T0Down %d\n", ad->T0Down);
	ik_print("[IK]     Adapt.T1Down %d\n", ad->T1Down);
	print_level("LevelStrAdjust", &a->LevelStrAdjust);
	print_level("T0T1Div", &a->T0T1Div);
	ik_print("[IK]MaxChangeUp %d\n", a->MaxChangeUp);
	ik_print("[IK]MaxChangeDown %d\n", a->MaxChangeDown);
}
