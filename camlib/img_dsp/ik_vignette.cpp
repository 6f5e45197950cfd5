/* Vignette compensation: the bypass of ready grids and the calculation
 * from calibration grids. */
#include "ik_arch.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_raw.h"

#include <stddef.h>

#define IK_VIG_OUT 33u
#define IK_VIG_LAST_WORD (IMG_DSP_VIGNETTE_GRID_WORDS - 1u)

/* ---- bypass ---- */

int img_dsp_core_process_vignette_compensation_bypass(const img_dsp_mode *mode,
                                                      const img_dsp_vignette_bypass *block,
                                                      img_dsp_update_list *list);

int img_dsp_core_check_vignette_compensation_bypass(const img_dsp_mode *mode, img_dsp_vignette_bypass *block,
                                                    img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_bypass_vignette_info is NULL in %s\n\n", __func__);
		return IMG_DSP_FAIL;
	}
	int changed = 0;
	if (block->enable != 0) {
		changed = IK_CLAMP("enable = %d should be within [0:1] in %s\n", block->enable, 1);
		changed |= IK_CLAMP("gain_shift = %d should be within [0:9] in %s\n", block->gain_shift, 9);
		const struct {
			const char *name;
			const uint32_t *grid;
		} grids[] = {{"p_red_gain", block->p_red_gain},
		             {"p_green_even_gain", block->p_green_even_gain},
		             {"p_green_odd_gain", block->p_green_odd_gain},
		             {"p_blue_gain", block->p_blue_gain}};
		for (const auto &g : grids) {
			if (!g.grid) {
				IK_ERROR("%s is NULL in %s\n", g.name, __func__);
				return IMG_DSP_FAIL;
			}
		}
	}
	int rc = img_dsp_core_process_vignette_compensation_bypass(mode, block, list);
	if (rc == IMG_DSP_FAIL)
		return rc;
	return changed ? IMG_DSP_CLAMPED : 0;
}

/* The caller's grid keeps its second gain in bits 16-25, the DSP's in bits
 * 10-19. */
static void repack_grid(const uint32_t *grid, uint32_t *table)
{
	for (uint32_t n = 0; n < IK_VIG_LAST_WORD; n++)
		table[n] = ((grid[n] >> 6) & 0xFFC00u) | (grid[n] & 0x3FFu);
	table[IK_VIG_LAST_WORD] = grid[IK_VIG_LAST_WORD] & 0x3FFu;
}

int img_dsp_core_process_vignette_compensation_bypass(const img_dsp_mode *mode,
                                                      const img_dsp_vignette_bypass *block,
                                                      img_dsp_update_list *list)
{
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	static const struct {
		enum ik_section_tbl tbl;
		uint32_t video, still;
	} tables[4] = {{IK_STBL_VIG_RED, IK_VBUF_VIG_RED, IK_STILL_VIG_RED},
	               {IK_STBL_VIG_GREEN_EVEN, IK_VBUF_VIG_GREEN_EVEN, IK_STILL_VIG_GREEN_EVEN},
	               {IK_STBL_VIG_GREEN_ODD, IK_VBUF_VIG_GREEN_ODD, IK_STILL_VIG_GREEN_ODD},
	               {IK_STBL_VIG_BLUE, IK_VBUF_VIG_BLUE, IK_STILL_VIG_BLUE}};
	const uint32_t *grids[4] = {block->p_red_gain, block->p_green_even_gain, block->p_green_odd_gain,
	                            block->p_blue_gain};
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_VIGNETTE);
	sec[IK_SECB_VIGNETTE_ENABLE] = block->enable;
	sec[IK_SECB_VIGNETTE_SHIFT] = (uint8_t)block->gain_shift;
	for (unsigned k = 0; k < 4; k++) {
		uint8_t *t = ik_color_table(mode, ctx, tables[k].tbl, tables[k].video, tables[k].still);
		uint32_t words[IMG_DSP_VIGNETTE_GRID_WORDS];
		if (block->enable != 0)
			repack_grid(grids[k], words);
		else
			memset(words, 0, sizeof(words));
		ik_memcpy(t, words, sizeof(words));
		body->sec[IK_SEC_VIGNETTE].word[IK_SECW_VIGNETTE_FIRST + k] = ik_phys(t);
	}
	ik_flag_set(body->update_flags, IK_UPD_VIGNETTE);
	ik_flag_set(body->update_flags, IK_UPD_HDR_VIGNETTE);
	ik_note(list, 0, &body->sec[IK_SEC_VIGNETTE]);
	return 0;
}

static void print_vignette_bypass(const void *p)
{
	const img_dsp_vignette_bypass *b = (const img_dsp_vignette_bypass *)p;
	ik_print("[IK]enable: %d\n", b->enable);
	ik_print("[IK]gain_shift: %d\n", b->gain_shift);
	ik_print("[IK]p_red_gain: 0x%x\n", (uint32_t)(uintptr_t)b->p_red_gain);
	ik_print("[IK]p_green_even_gain: 0x%x\n", (uint32_t)(uintptr_t)b->p_green_even_gain);
	ik_print("[IK]p_green_odd_gain: 0x%x\n", (uint32_t)(uintptr_t)b->p_green_odd_gain);
	ik_print("[IK]p_blue_gain: 0x%x\n", (uint32_t)(uintptr_t)b->p_blue_gain);
}

static const img_dsp_debug_hook vignette_hook = {
    LOG_VIGNETTE_COMPENSATION, IK_HOOK_PRINT_ONLY | IK_HOOK_EXACTLY_ONE, print_vignette_bypass};

static int vignette_bypass_step(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	return img_dsp_core_check_vignette_compensation_bypass(mode, (img_dsp_vignette_bypass *)block, list);
}

extern "C" int vors_img_dsp_set_vignette_compensation_bypass(int fd, const img_dsp_mode *mode,
                                                             img_dsp_vignette_bypass *block)
{
	static const img_dsp_setter setter = {
	    __func__, &vignette_hook, sizeof(*block), vignette_bypass_step, IK_PIPES_IN_CORE, NULL, NULL};
	return img_dsp_common_set(&setter, __builtin_return_address(0), fd, mode, block, 0);
}

/* The settings dump records zeros for the vignette: nothing is given back. */
extern "C" int vors_img_dsp_get_vignette_compensation(const img_dsp_mode *, void *)
{
	return 0;
}

/* ---- calculation ---- */

static void print_window(const img_dsp_vin_sensor_geo *g)
{
	ik_print("[IK]\tstart_x    %d\n", g->StartX);
	ik_print("[IK]\tstart_y    %d\n", g->StartY);
	ik_print("[IK]\twidth      %d\n", g->Width);
	ik_print("[IK]\theight     %d\n", g->Height);
	ik_print("[IK]\tHSubSample %d/%d\n", g->HSubSampleNum, g->HSubSampleDen);
	ik_print("[IK]\tVSubSample %d/%d\n", g->VSubSampleNum, g->VSubSampleDen);
}

/* A length in sensor pixels at the window's own ratio. */
static uint32_t h_span(const img_dsp_vin_sensor_geo *g, uint32_t v)
{
	return v * g->HSubSampleDen / g->HSubSampleNum;
}
static uint32_t v_span(const img_dsp_vin_sensor_geo *g, uint32_t v)
{
	return v * g->VSubSampleDen / g->VSubSampleNum;
}

static bool ratio_valid(const img_dsp_vin_sensor_geo *cur, const img_dsp_vin_sensor_geo *cal)
{
	/* a zero term is no ratio at all and would divide by zero below */
	if (!cur->HSubSampleNum || !cur->HSubSampleDen || !cur->VSubSampleNum || !cur->VSubSampleDen ||
	    !cal->HSubSampleNum || !cal->HSubSampleDen || !cal->VSubSampleNum || !cal->VSubSampleDen)
		return false;
	return (uint32_t)cur->HSubSampleNum * cal->HSubSampleDen <=
	           (uint32_t)cal->HSubSampleNum * cur->HSubSampleDen &&
	       (uint32_t)cur->VSubSampleNum * cal->VSubSampleDen <=
	           (uint32_t)cal->VSubSampleNum * cur->VSubSampleDen;
}

/* The first geometry fault, or NULL when the window lies inside the
 * calibration window. */
static const char *geometry_fault(const img_dsp_vin_sensor_geo *cur, const img_dsp_vin_sensor_geo *cal)
{
	if (!ratio_valid(cur, cal))
		return "Requested downsample ratio is invalid";
	if (cur->StartX < cal->StartX)
		return "current win left < calibration win left";
	if (cur->StartY < cal->StartY)
		return "current win top < calibration win top";
	if (cal->StartX + h_span(cal, cal->Width) < cur->StartX + h_span(cur, cur->Width))
		return "current win right > calibration win right";
	if (cal->StartY + v_span(cal, cal->Height - 1) < cur->StartY + v_span(cur, cur->Height - 1))
		return "current win Bot > calibration win Bot";
	return NULL;
}

int img_dsp_core_check_calc_vignette_compensation(const img_dsp_vignette_calc_info *info)
{
	if (!info) {
		IK_ERROR(": pVignetteCalcInfo is a null point\n");
		return IMG_DSP_FAIL;
	}
	if (info->Enb == 0) {
		IK_DEBUG("Test pVignetteCalcInfo->Enb == 0\n");
		return 0;
	}
	if (info->Version != IMG_DSP_VIGNETTE_VERSION) {
		IK_ERROR("Vignette Correction Version 0x%X != 0x%X\n", info->Version,
		         IMG_DSP_VIGNETTE_VERSION);
		return IMG_DSP_FAIL;
	}
	/* the grids are read whole: each must be there and have a node */
	if (info->GridColumns == 0 || info->GridRows == 0 || !info->pGrid[0] || !info->pGrid[1] ||
	    !info->pGrid[2] || !info->pGrid[3]) {
		IK_ERROR("Vignette calibration grid is missing\n");
		return IMG_DSP_FAIL;
	}
	const char *fault = geometry_fault(&info->CurrentGeo, &info->CalibGeo);
	if (!fault)
		return 0;
	IK_WARN("Vignette Core Error: %s\n", fault);
	ik_print("[IK]-- Full View  Geo info --\n");
	print_window(&info->CalibGeo);
	ik_print("[IK]-- User Input Geo info --\n");
	print_window(&info->CurrentGeo);
	ik_print("[IK]-------\n");
	return IMG_DSP_FAIL;
}

/* Grid index and weight (of 16) of each of the 33 output points along one
 * axis. */
static void map_axis(uint32_t offset, uint32_t span, uint32_t cal_span, uint32_t nodes, bool flip,
                     uint32_t *index, uint32_t *weight)
{
	uint32_t scale = (cal_span ? ((nodes - 1) << 14) / cal_span : 0) + 1;
	for (uint32_t k = 0; k < IK_VIG_OUT; k++) {
		uint32_t pos = (16 + k * span) >> 5;
		uint32_t p = (offset + (flip ? span - pos : pos)) * scale;
		uint32_t idx = p >> 14, frac = p & 0x3FFFu;
		/* a point past the last node stays on it */
		if (nodes == 0 || idx > nodes - 1)
			idx = nodes ? nodes - 1 : 0;
		index[k] = idx;
		weight[k] = (frac != 0 && idx + 1 < nodes) ? 16 - ((frac + 512) >> 10) : 16;
	}
}

/* The grid's value at (i, j), 16 times finer than its unit; a weight of 16
 * takes node (i, j) alone, so its neighbour past the edge is never read. */
static int32_t interpolate(const uint16_t *g, uint32_t cols, uint32_t rows, uint32_t i, uint32_t j,
                           uint32_t wr, uint32_t wc)
{
	uint32_t j1 = j + 1 < cols ? j + 1 : j, i1 = i + 1 < rows ? i + 1 : i;
	int32_t upper =
	    ((int32_t)g[i * cols + j1] << 4) + ((int32_t)g[i * cols + j] - g[i * cols + j1]) * (int32_t)wc;
	int32_t lower =
	    ((int32_t)g[i1 * cols + j1] << 4) + ((int32_t)g[i1 * cols + j] - g[i1 * cols + j1]) * (int32_t)wc;
	return (lower * 16 + (upper - lower) * (int32_t)wr) >> 8;
}

/* A 32-bit left shift; a shift past the word leaves nothing. */
static uint32_t shl32(uint32_t v, uint32_t s)
{
	return s < 32 ? v << s : 0;
}

static void scale_point(const img_dsp_vignette_calc_info *info, const int32_t value[4], uint16_t out[4])
{
	uint32_t unity = shl32(1u, info->GainShift);
	if (info->Mode != 1) {
		for (int c = 0; c < 4; c++)
			out[c] = (uint16_t)(unity +
			                    ((((int64_t)value[c] - (int64_t)unity) * info->Strength) >> 16));
		return;
	}
	int32_t m = value[0];
	for (int c = 1; c < 4; c++)
		if (value[c] < m)
			m = value[c];
	uint32_t k = m == 0
	                 ? info->Strength
	                 : (shl32(65536u - info->Strength, info->GainShift) / (uint32_t)m) + info->Strength;
	for (int c = 0; c < 4; c++) {
		uint32_t t = (((uint32_t)(m - value[c]) * info->W) + 65536u) >> 16;
		out[c] = (uint16_t)((t * k + 32767u) >> 16);
	}
}

int img_dsp_core_process_calc_vignette_compensation(const img_dsp_mode *mode,
                                                    const img_dsp_vignette_calc_info *info,
                                                    img_dsp_update_list *list)
{
	if (img_dsp_core_check_calc_vignette_compensation(info) != 0)
		return IMG_DSP_FAIL;
	void *ctx = NULL;
	ik_ctx_body *body = ik_color_body(__func__, mode, &ctx);
	if (!body)
		return IMG_DSP_FAIL;
	ik_filter_blocks *b = &body->blk;
	ik_memcpy(b->vignette_calc_info, info, sizeof(*info));
	list->entry[0].valid = 0;
	uint8_t *sec = ik_sec_bytes(body->sec, IK_SEC_VIGNETTE);
	if (info->Enb == 0) {
		sec[IK_SECB_VIGNETTE_ENABLE] = 0;
		list->entry[0].section = &body->sec[IK_SEC_VIGNETTE];
		return 0;
	}
	sec[IK_SECB_VIGNETTE_ENABLE] = info->Enb;
	sec[IK_SECB_VIGNETTE_SHIFT] = info->GainShift;
	const img_dsp_vin_sensor_geo *cur = &info->CurrentGeo, *cal = &info->CalibGeo;
	uint32_t cols = info->GridColumns, rows = info->GridRows;
	map_axis(cur->StartX - cal->StartX, h_span(cur, cur->Width), h_span(cal, cal->Width), cols, false,
	         b->vignette_calc_col, b->vignette_calc_col_weight);
	map_axis(cur->StartY - cal->StartY, v_span(cur, cur->Height), v_span(cal, cal->Height), rows,
	         (info->Flip & 1u) != 0, b->vignette_calc_row, b->vignette_calc_row_weight);
	for (uint32_t r = 0; r < IK_VIG_OUT; r++) {
		for (uint32_t c = 0; c < IK_VIG_OUT; c++) {
			int32_t value[4];
			for (int g = 0; g < 4; g++)
				value[g] =
				    interpolate(info->pGrid[g], cols, rows, b->vignette_calc_row[r],
				                b->vignette_calc_col[c], b->vignette_calc_row_weight[r],
				                b->vignette_calc_col_weight[c]);
			uint16_t out[4];
			scale_point(info, value, out);
			for (int g = 0; g < 4; g++)
				b->vignette_calc_grid[g][r * IK_VIG_OUT + c] = out[g];
		}
	}
	ik_flag_set(body->update_flags, IK_UPD_VIGNETTE);
	ik_note(list, 0, &body->sec[IK_SEC_VIGNETTE]);
	return 0;
}
