/*
 * RGB-IR sensors: the IR correction settings, the four per-channel
 * linearisation tables built from them, the Bayer-code split and the defect
 * maps the DSP needs for an IR colour filter array.
 */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_hdr.h"
#include "ik_helpers.h"

#include <stddef.h>
#include <string.h>

#define IK_RGB_IR_DEFAULT_SATURATION 2000u
#define IK_RGB_IR_GROUPS 8u

/* ---- settings ------------------------------------------------------------- */

static ik_ctx_body *ir_body(const char *caller, const img_dsp_mode *mode)
{
	ik_ctx_body *body = ik_hdr_body(mode, NULL);
	if (!body)
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
	return body;
}

static int img_dsp_core_process_rgb_ir(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	static const char check[] = "img_dsp_check_set_rgb_ir";
	const img_dsp_rgb_ir *ir = (const img_dsp_rgb_ir *)block;
	if (!ir) {
		IK_ERROR("p_rgb_ir is NULL in %s\n\n", check);
		return -1;
	}
	/* the values are only reported: the linearisation takes them as set */
	int rc = 0;
	if (ir->mode > 2) {
		IK_WARN("mode = %d should be within [0:2] in %s\n", ir->mode, check);
		rc = IMG_DSP_CLAMPED;
	}
	if (ir->mode != 0 && ir->fractional_correct > 512) {
		IK_WARN("fractional_correct = %d should be within [0:512] in %s\n", ir->fractional_correct,
		        check);
		rc = IMG_DSP_CLAMPED;
	}
	ik_ctx_body *body = ir_body(__func__, mode);
	if (!body)
		return -1;
	ik_memcpy(body->blk.rgb_ir, ir, sizeof(*ir));
	ik_flag_set(body->update_flags, IK_UPD_RGB_IR);
	return rc;
}

static int img_dsp_core_process_rgb_ir_internal(const img_dsp_mode *mode, void *block, uint32_t,
                                                img_dsp_update_list *)
{
	static const char check[] = "img_dsp_check_set_rgb_ir_internal";
	const img_dsp_rgb_ir_internal *in = (const img_dsp_rgb_ir_internal *)block;
	if (!in) {
		IK_ERROR("p_rgb_ir is NULL in %s\n\n", check);
		return -1;
	}
	if (in->saturation_cntrl > 16383)
		IK_WARN("saturation_cntrl = %d should be within [0:16383] in %s\n", in->saturation_cntrl,
		        check);
	ik_ctx_body *body = ir_body(__func__, mode);
	if (!body)
		return -1;
	ik_memcpy(body->blk.rgb_ir_internal, in, sizeof(*in));
	ik_flag_set(body->update_flags, IK_UPD_RGB_IR_INTERNAL);
	return 0;
}

static void print_rgb_ir(const void *block)
{
	const img_dsp_rgb_ir *ir = (const img_dsp_rgb_ir *)block;
	ik_print("[IK]     mode: %d\n", ir->mode);
	ik_print("[IK]     fractional_correct: %d\n", ir->fractional_correct);
}

static void print_rgb_ir_internal(const void *block)
{
	ik_print("[IK]     saturation_cntrl: %d\n",
	         ((const img_dsp_rgb_ir_internal *)block)->saturation_cntrl);
}

static const img_dsp_debug_hook rgb_ir_hook = {LOG_RGB_IR, IK_HOOK_RECORD, print_rgb_ir};
static const img_dsp_debug_hook rgb_ir_internal_hook = {LOG_RGB_IR, IK_HOOK_PRINT_ONLY,
                                                        print_rgb_ir_internal};

#define CALLER __builtin_extract_return_addr(__builtin_return_address(0))

extern "C" __attribute__((noinline)) int vors_img_dsp_set_rgb_ir(int fd, const img_dsp_mode *mode,
                                                                 img_dsp_rgb_ir *block)
{
	static const img_dsp_setter setter = {
	    __func__, &rgb_ir_hook, sizeof(img_dsp_rgb_ir), img_dsp_core_process_rgb_ir, IK_PIPES_IN_CORE,
	    NULL,     NULL};
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, 0);
}

extern "C" __attribute__((noinline)) int vors_img_dsp_set_rgb_ir_internal(int fd, const img_dsp_mode *mode,
                                                                          img_dsp_rgb_ir_internal *block)
{
	static const img_dsp_setter setter = {__func__,
	                                      &rgb_ir_internal_hook,
	                                      sizeof(img_dsp_rgb_ir_internal),
	                                      img_dsp_core_process_rgb_ir_internal,
	                                      IK_PIPES_IN_CORE,
	                                      NULL,
	                                      NULL};
	return img_dsp_common_set(&setter, CALLER, fd, mode, block, 0);
}

extern "C" int vors_img_dsp_get_rgb_ir(const img_dsp_mode *mode, img_dsp_rgb_ir *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.rgb_ir), sizeof(*out),
	                          "p_rgb_ir", IK_PIPES_VIDEO_ONLY);
}

extern "C" int vors_img_dsp_get_rgb_ir_internal(const img_dsp_mode *mode, img_dsp_rgb_ir_internal *out)
{
	return img_dsp_common_get(__func__, mode, out, offsetof(ik_ctx_body, blk.rgb_ir_internal),
	                          sizeof(*out), "p_rgb_ir_internal", IK_PIPES_VIDEO_ONLY);
}

/* ---- Bayer code --------------------------------------------------------- */

static int img_dsp_core_get_rgb_ir_bayer_pattern(uint32_t code, uint8_t *pattern, uint8_t *ir_mode)
{
	if (code > 11 || !pattern || !ir_mode) {
		IK_ERROR("invalid input param: sensor_drv_bayer = %d, p_bayer = %p, p_ir_mode = %p\n",
		         (int)code, (void *)pattern, (void *)ir_mode);
		return -1;
	}
	*pattern = (uint8_t)(code % 4);
	*ir_mode = (uint8_t)(code / 4);
	return 0;
}

extern "C" int vors_img_dsp_get_rgb_ir_bayer_pattern(uint32_t code, uint8_t *pattern, uint8_t *ir_mode)
{
	return img_dsp_core_get_rgb_ir_bayer_pattern(code, pattern, ir_mode);
}

/* ---- linearisation ------------------------------------------------------ */

/* The last entry of each group of shared shift. */
static const uint16_t group_end[IK_RGB_IR_GROUPS] = {31, 63, 95, 127, 159, 223, 287, 352};

/* Where each of R, Gr, Gb, B sits (slot ee, eo, oe, oo) per pattern. */
static const uint8_t colour_slot[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 0, 3, 2}, {2, 3, 0, 1}};

static unsigned floor_log2(int64_t v)
{
	unsigned n = 0;
	while (v > 1) {
		v >>= 1;
		n++;
	}
	return n;
}

/* One colour's curve: above the saturation control the IR part fades in
 * with `fractional_correct`, scaled back by the colour's gain. */
static void ir_curve(uint32_t s, uint32_t f, uint64_t gain, int32_t *out)
{
	int64_t a = (int64_t)((f > 256 ? f : 256) - 256) * 16;
	int64_t b = (int64_t)(f < 256 ? f : 256) * 16;
	int64_t g = (int64_t)(gain > 4096 ? gain : 4096);
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++) {
		int64_t x = 4 * (int64_t)ik_hdr_grid_code(i) + 2;
		int64_t knee = 4 * (int64_t)s < x ? 4 * (int64_t)s : x;
		/* 64-bit throughout: the gain term alone passes 32 bits above
		 * about nine times gain */
		int64_t l = (((knee * a + x * (g - 4096)) * b + 2048 * g) / g) >> 12;
		out[i] = (int32_t)(l < 0 ? 0 : (l > 65535 ? 65535 : l));
	}
}

int img_dsp_core_rgb_ir_amp_linearization(const img_dsp_rgb_ir *ir, uint16_t saturation_cntrl,
                                          const uint32_t gains[3], uint8_t pattern, int32_t *work,
                                          uint8_t *cmd)
{
	if (ir->mode == 0)
		return 0;
	if (pattern > 3) {
		IK_WARN("Incorrect pattern %d\n", pattern);
		return -1;
	}
	static const uint8_t fields[8] = {0, 1, 1, 1, 0, 1, 0, 0};
	uint32_t code = IK_CMD_AMPLIFIER_LINEARIZATION;
	memcpy(cmd, &code, 4);
	memcpy(cmd + 4, fields, sizeof(fields));
	ik_memset(cmd + 12, 0, 2 * IK_AMP_LINEAR_HEADER_SIZE);
	uint8_t *tables[4];
	for (unsigned k = 0; k < 4; k++) {
		uint32_t a, h;
		memcpy(&a, cmd + 40 + 4 * k, 4);
		memcpy(&h, cmd + 56 + 4 * k, 4);
		if (a == 0 || h == 0) {
			IK_ERROR("table %u has no address\n", k);
			return -1;
		}
		ik_memset(ik_user(a), 0, IK_AMP_LINEAR_LUT_SIZE);
		tables[k] = (uint8_t *)ik_user(h);
	}
	uint32_t s = saturation_cntrl ? saturation_cntrl : IK_RGB_IR_DEFAULT_SATURATION;
	const uint32_t colour_gain[4] = {gains[0], gains[1], gains[1], gains[2]};
	for (unsigned c = 0; c < 4; c++) {
		int32_t *l = work + (c & 1) * IMG_DSP_AMP_LINEAR_ENTRIES;
		ir_curve(s, ir->fractional_correct, colour_gain[c], l);
		unsigned k = colour_slot[pattern][c];
		unsigned first = 0;
		for (unsigned g = 0; g < IK_RGB_IR_GROUPS; g++) {
			unsigned n = floor_log2(l[group_end[g]]);
			unsigned shift = n > 11 ? n - 11 : 0;
			ik_hdr_put_shift(cmd + 26, 8 * k + g, shift);
			for (unsigned i = first; i <= group_end[g]; i++)
				ik_hdr_put12(tables[k], i, (uint32_t)l[i] >> shift);
			first = group_end[g] + 1u;
		}
	}
	return 0;
}

/* ---- defect maps --------------------------------------------------------- */

typedef struct ir_sbp_record {
	uint8_t mask[4];
	uint8_t ir_row, ir_col;
	int8_t col_a, col_b, row_a, row_b, dx, dy;
} ir_sbp_record;

static const ir_sbp_record ir_sbp_records[8] = {
    {{0x22, 0x44, 0x88, 0x11}, 1, 1, 3, 1, 1, 3, -1, -1}, {{0x88, 0x11, 0x22, 0x44}, 0, 0, 2, 0, 0, 2, 1, 1},
    {{0x11, 0x88, 0x44, 0x22}, 1, 0, 2, 0, 1, 3, 1, -1},  {{0x44, 0x22, 0x11, 0x88}, 0, 1, 3, 1, 0, 2, -1, 1},
    {{0x88, 0x11, 0x22, 0x44}, 1, 1, 1, 3, 1, 3, -1, -1}, {{0x22, 0x44, 0x88, 0x11}, 0, 0, 0, 2, 0, 2, 1, 1},
    {{0x44, 0x22, 0x11, 0x88}, 1, 0, 0, 2, 1, 3, 1, -1},  {{0x11, 0x88, 0x44, 0x22}, 0, 1, 1, 3, 0, 2, -1, 1},
};

static bool map_bit(const uint8_t *map, uint32_t pitch, uint32_t x, uint32_t y)
{
	return (map[pitch * y + x / 8] >> (x % 8)) & 1u;
}

/* A neighbour counts only inside the same byte and the map. */
static bool neighbour(const uint8_t *map, uint32_t pitch, uint32_t height, uint32_t x, uint32_t y, int dx,
                      int dy)
{
	int64_t nx = (int64_t)x + dx, ny = (int64_t)y + dy;
	if (nx < 0 || ny < 0 || ny >= (int64_t)height || (uint64_t)nx / 8 != x / 8)
		return false;
	return map_bit(map, pitch, (uint32_t)nx, (uint32_t)ny);
}

static int img_dsp_core_generate_ir_format_sbp_table(uint32_t pattern, uint32_t ir_mode, uint32_t width,
                                                     uint32_t height, const uint8_t *sensor,
                                                     uint8_t *main_out, uint8_t *ir_out)
{
	/* only eight layouts exist: anything else would read past them */
	if (!main_out || !ir_out || ir_mode == 0 || ir_mode > 2 || pattern > 3) {
		IK_ERROR("invalid input param: p_main_out: %p, p_ir_sbp: %p, ir: %d\n", (void *)main_out,
		         (void *)ir_out, (int)ir_mode);
		return -1;
	}
	const ir_sbp_record *rec = &ir_sbp_records[pattern + 4 * (ir_mode - 1)];
	uint32_t pitch = ((width + 7) / 8 + 31) & ~31u;
	ik_memset(ir_out, 0, (size_t)pitch * (height / 2));
	for (uint32_t y = 0; y < height; y++) {
		uint8_t *row = main_out + (size_t)pitch * y;
		ik_memset(row, 0, pitch);
		for (uint32_t x = 0; x < width; x++) {
			bool mark = (rec->mask[y % 4] >> (7 - x % 8)) & 1u;
			if (sensor) {
				bool a = y % 4 == (uint32_t)rec->row_a && x % 4 == (uint32_t)rec->col_a;
				bool b = !a && y % 4 == (uint32_t)rec->row_b && x % 4 == (uint32_t)rec->col_b;
				if (a || b)
					mark = neighbour(sensor, pitch, height, x, y, rec->dx, rec->dy);
				mark = mark || map_bit(sensor, pitch, x, y);
			}
			if (mark)
				row[x / 8] = (uint8_t)(row[x / 8] | (1u << (x % 8)));
		}
	}
	if (!sensor)
		return 0;
	uint32_t out_y = 0;
	for (uint32_t y = rec->ir_row; y < height && out_y < height / 2; y += 2, out_y++) {
		uint8_t *row = ir_out + (size_t)pitch * out_y;
		for (uint32_t x = rec->ir_col, j = 0; x < width; x += 2, j++) {
			if (!map_bit(sensor, pitch, x, y))
				continue;
			for (uint32_t bit = 2 * j; bit <= 2 * j + 1 && bit < 8 * pitch; bit++)
				row[bit / 8] = (uint8_t)(row[bit / 8] | (1u << (bit % 8)));
		}
	}
	return 0;
}

extern "C" int vors_img_dsp_generate_ir_format_sbp_table(uint32_t pattern, uint32_t ir_mode, uint32_t width,
                                                         uint32_t height, const uint8_t *sensor_map,
                                                         uint8_t *main_out, uint8_t *ir_out)
{
	return img_dsp_core_generate_ir_format_sbp_table(pattern, ir_mode, width, height, sensor_map,
	                                                 main_out, ir_out);
}
