/*
 * 3A statistics: the statistics set-up with its black-level adjusted pixel
 * limits, the pseudo-Y, histogram and early white-balance commands, and the
 * statistics fetch with the in-place unpacking of the sensor histogram.
 */
#include "ik_3a.h"

#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_helpers.h"

#include <string.h>

#define IK_PIX_LIMIT 16383

/* The effective limits of the last set-up of any context. */
static struct {
	uint16_t ae_min, ae_max;
	uint32_t awb_min, awb_max;
} pix_limits;

static void put_u32(uint8_t *cmd, uint32_t off, uint32_t v)
{
	memcpy(cmd + off, &v, 4);
}

static int64_t clamp_pix(int64_t v)
{
	if (v < 0)
		return 0;
	return v > IK_PIX_LIMIT ? IK_PIX_LIMIT : v;
}

/* How far the deferred black level moved the black point, when it counts. */
typedef struct ik_blc_shift {
	int on;
	int32_t min;
	int32_t avg;
} ik_blc_shift;

static ik_blc_shift blc_shift(const img_dsp_mode *mode, const ik_ctx_body *body)
{
	const int16_t *t = body->blk.deferred_black_level_table;
	ik_blc_shift s;
	int32_t b0 = t[0], b1 = t[1], b2 = t[2];
	s.min = b0 < b1 ? b0 : b1;
	s.min = b2 < s.min ? b2 : s.min;
	s.avg = (b0 + 2 * b1 + b2) / 4;
	bool hdr_video = mode->Pipe == IMG_DSP_PIPE_VIDEO && (mode->FuncMode & IMG_DSP_FUNC_NO_HDR);
	s.on = body->blk.deferred_black_level[0] == 1 && !hdr_video;
	return s;
}

static void take_ae(ik_aaa_blocks *aaa, const img_dsp_ae_tile_cfg *ae, const ik_blc_shift *s)
{
	aaa->ae = *ae;
	if (s->on) {
		aaa->ae.pix_min_value = (uint16_t)clamp_pix((int64_t)ae->pix_min_value + s->min);
		aaa->ae.pix_max_value = (uint16_t)clamp_pix((int64_t)ae->pix_max_value + s->avg);
	}
	aaa->stat_info.ae = *ae;
	pix_limits.ae_min = aaa->ae.pix_min_value;
	pix_limits.ae_max = aaa->ae.pix_max_value;
}

static void take_awb(ik_aaa_blocks *aaa, const img_dsp_awb_tile_cfg *awb, const ik_blc_shift *s)
{
	aaa->awb = *awb;
	if (s->on) {
		aaa->awb.pix_min_value = (uint32_t)clamp_pix((int64_t)awb->pix_min_value + s->min);
		aaa->awb.pix_max_value = (uint32_t)clamp_pix((int64_t)awb->pix_max_value + s->avg);
	}
	img_dsp_aaa_stat_info *info = &aaa->stat_info;
	memcpy(info, awb, 16);
	info->awb_pix_min_value = (uint16_t)awb->pix_min_value;
	info->awb_pix_max_value = (uint16_t)awb->pix_max_value;
	pix_limits.awb_min = aaa->awb.pix_min_value;
	pix_limits.awb_max = aaa->awb.pix_max_value;
}

static void write_statistics_setup(uint8_t *cmd, uint32_t on, const ik_aaa_blocks *aaa)
{
	put_u32(cmd, 0, IK_CMD_AAA_STATISTICS_SETUP);
	cmd[4] = (uint8_t)on;
	cmd[5] = 1; /* auto_shift */
	for (uint32_t off = 8; off < 24; off += 4)
		put_u32(cmd, off, 0);
	const img_dsp_awb_tile_cfg *w = &aaa->awb;
	const uint16_t awb[10] = {w->num_col,
	                          w->num_row,
	                          w->col_start,
	                          w->row_start,
	                          w->width,
	                          w->height,
	                          w->active_width,
	                          w->active_height,
	                          (uint16_t)w->pix_min_value,
	                          (uint16_t)w->pix_max_value};
	memcpy(cmd + 24, awb, sizeof(awb));
	memcpy(cmd + 44, &aaa->ae, sizeof(aaa->ae));
	memcpy(cmd + 60, &aaa->af, sizeof(aaa->af));
}

extern "C" int vors_img_dsp_3a_config_aaa_stat(int, uint32_t on, const img_dsp_mode *mode,
                                               const img_dsp_ae_tile_cfg *ae, const img_dsp_awb_tile_cfg *awb,
                                               const img_dsp_af_tile_cfg *af)
{
	if (!mode)
		return -1;
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *ctx;
	int rc = ik_mode_ctx_mutex(__func__, mode, IK_NO_CONTEX_MUTEX, &ctx);
	if (rc != 0)
		return rc;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	ik_aaa_blocks *aaa = &body->blk.aaa;
	ik_blc_shift s = blc_shift(mode, body);
	if (ae)
		take_ae(aaa, ae, &s);
	if (awb)
		take_awb(aaa, awb, &s);
	if (af) {
		aaa->af = *af;
		aaa->stat_info.af = *af;
	}
	write_statistics_setup((uint8_t *)aaa->cmd[IK_AAA_CMD_STATISTICS].word, on, aaa);
	ik_flag_set(body->update_flags, IK_UPD_AAA_STATISTICS);
	return 0;
}

extern "C" int vors_img_dsp_3a_set_aaa_stat_info(int fd, const img_dsp_mode *mode)
{
	if (!mode)
		return -1;
	void *ctx;
	int rc = ik_mode_ctx_mutex(__func__, mode, IK_NO_CONTEX_MUTEX, &ctx);
	if (rc != 0)
		return rc;
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	const img_dsp_aaa_stat_info *info = &ik_body(mode->Pipe, ctx)->blk.aaa.stat_info;
	img_dsp_awb_tile_cfg awb;
	memcpy(&awb, info, 16);
	awb.pix_min_value = info->awb_pix_min_value;
	awb.pix_max_value = info->awb_pix_max_value;
	img_dsp_ae_tile_cfg ae = info->ae;
	img_dsp_af_tile_cfg af = info->af;
	return vors_img_dsp_3a_config_aaa_stat(fd, 1, mode, &ae, &awb, &af);
}

extern "C" int vors_img_dsp_3a_get_aaa_stat_pix_value(uint16_t *ae_min, uint16_t *ae_max, uint32_t *awb_min,
                                                      uint32_t *awb_max)
{
	if (ae_min)
		*ae_min = pix_limits.ae_min;
	if (ae_max)
		*ae_max = pix_limits.ae_max;
	if (awb_min)
		*awb_min = pix_limits.awb_min;
	if (awb_max)
		*awb_max = pix_limits.awb_max;
	return 0;
}

/* ---- pseudo-Y, histogram and early white-balance gain ----------------- */

typedef void (*aaa_store_fn)(ik_aaa_blocks *aaa, const img_dsp_mode *mode, const void *block);

/* The shared path of the three setters: the block is taken only for a
 * video or still context, and a refusal is reported as one. */
static int aaa_set(const char *fn, const img_dsp_mode *mode, const void *block, const char *name,
                   aaa_store_fn store, unsigned flag)
{
	if (!mode)
		return -1;
	if (!block) {
		ik_print("[IK][Error]%s() %d %s is NULL\n", fn, __LINE__, name);
		return -1;
	}
	int rc;
	void *ctx = ik_mode_lock_video_or_still(fn, mode, IK_NO_CONTEX_MUTEX, &rc);
	if (!ctx)
		return rc;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	store(&body->blk.aaa, mode, block);
	ik_flag_set(body->update_flags, flag);
	ik_unlock(ctx);
	return 0;
}

/* `empty` is the whole refusal of a NULL out, its line end included. */
static int aaa_get(const char *fn, const img_dsp_mode *mode, void *out, const char *empty, size_t offset,
                   size_t size)
{
	if (!mode)
		return -1;
	if (!out) {
		ik_print("[IK][Error]%s() %d %s", fn, __LINE__, empty);
		return -1;
	}
	int rc;
	void *ctx = ik_mode_lock_video_or_still(fn, mode, IK_NO_CONTEX_MUTEX, &rc);
	if (!ctx)
		return rc;
	ik_memcpy(out, (const uint8_t *)&ik_body(mode->Pipe, ctx)->blk.aaa + offset, size);
	ik_unlock(ctx);
	return 0;
}

static uint8_t *slot(ik_aaa_blocks *aaa, enum ik_aaa_cmd_slot s)
{
	return (uint8_t *)aaa->cmd[s].word;
}

static void store_pseudo_y(ik_aaa_blocks *aaa, const img_dsp_mode *, const void *block)
{
	static_assert(sizeof(img_dsp_3a_pseudo_y) == sizeof(aaa->pseudo_y), "pseudo-Y block");
	ik_memcpy(aaa->pseudo_y, block, sizeof(aaa->pseudo_y));
	uint8_t *cmd = slot(aaa, IK_AAA_CMD_PSEUDO_Y);
	put_u32(cmd, 0, IK_CMD_AAA_PSEUDO_Y_SETUP);
	memcpy(cmd + 4, block, sizeof(img_dsp_3a_pseudo_y));
}

static void store_histogram(ik_aaa_blocks *aaa, const img_dsp_mode *, const void *block)
{
	static_assert(sizeof(img_dsp_3a_histogram) == sizeof(aaa->histogram), "histogram block");
	ik_memcpy(aaa->histogram, block, sizeof(aaa->histogram));
	uint8_t *cmd = slot(aaa, IK_AAA_CMD_HISTOGRAM);
	put_u32(cmd, 0, IK_CMD_AAA_HISTORGRAM_SETUP);
	memcpy(cmd + 4, block, sizeof(img_dsp_3a_histogram));
}

static void store_early_wb_gain(ik_aaa_blocks *aaa, const img_dsp_mode *, const void *block)
{
	static_assert(sizeof(img_dsp_3a_early_wb_gain) == sizeof(aaa->early_wb_gain), "early WB block");
	const img_dsp_3a_early_wb_gain *b = (const img_dsp_3a_early_wb_gain *)block;
	ik_memcpy(aaa->early_wb_gain, block, sizeof(aaa->early_wb_gain));
	uint8_t *cmd = slot(aaa, IK_AAA_CMD_EARLY_WB_GAIN);
	put_u32(cmd, 0, IK_CMD_AAA_EARLY_WB_GAIN);
	memcpy(cmd + 4, &b->red_multiplier, 16);
	cmd[20] = b->enable_ae_wb_gain;
	cmd[21] = b->enable_af_wb_gain;
	cmd[22] = b->enable_histogram_wb_gain;
	/* byte 23 is the command's own reserved byte, not the block's */
	memcpy(cmd + 24, &b->red_wb_multiplier, 16);
}

extern "C" int vors_img_dsp_set_3a_pseudo_y(int, const img_dsp_mode *mode, const img_dsp_3a_pseudo_y *block)
{
	return aaa_set(__func__, mode, block, "p_pseudo_y", store_pseudo_y, IK_UPD_AAA_PSEUDO_Y);
}

extern "C" int vors_img_dsp_set_3a_histogram(int, const img_dsp_mode *mode, const img_dsp_3a_histogram *block)
{
	return aaa_set(__func__, mode, block, "p_histogram", store_histogram, IK_UPD_AAA_HISTOGRAM);
}

extern "C" int vors_img_dsp_set_3a_early_wb_gain(int, const img_dsp_mode *mode,
                                                 const img_dsp_3a_early_wb_gain *block)
{
	return aaa_set(__func__, mode, block, "p_early_wb_gain", store_early_wb_gain,
	               IK_UPD_AAA_EARLY_WB_GAIN);
}

extern "C" int vors_img_dsp_get_3a_pseudo_y(const img_dsp_mode *mode, img_dsp_3a_pseudo_y *out)
{
	return aaa_get(__func__, mode, out, "p_pseudo_y is empty\n", offsetof(ik_aaa_blocks, pseudo_y),
	               sizeof(*out));
}

extern "C" int vors_img_dsp_get_3a_histogram(const img_dsp_mode *mode, img_dsp_3a_histogram *out)
{
	return aaa_get(__func__, mode, out, "p_histogram is empty\n", offsetof(ik_aaa_blocks, histogram),
	               sizeof(*out));
}

extern "C" int vors_img_dsp_get_3a_early_wb_gain(const img_dsp_mode *mode, img_dsp_3a_early_wb_gain *out)
{
	return aaa_get(__func__, mode, out, "p_early_wb_gain is empty\n",
	               offsetof(ik_aaa_blocks, early_wb_gain), sizeof(*out));
}

/* ---- extended AF statistics ------------------------------------------- */

/* One filter and its tiles as the DSP's AAA_STATISTICS_SETUP1 or 2 command. */
static void write_af_ex_cmd(uint8_t *cmd, uint32_t code, uint8_t select, const img_dsp_af_filter_ex *f,
                            const img_dsp_af_tile_fv *t)
{
	put_u32(cmd, 0, code);
	cmd[4] = (uint8_t)((f->mode & 0x0Fu) | (select << 4));
	cmd[5] = f->stage1_enb;
	cmd[6] = f->stage2_enb;
	cmd[7] = f->stage3_enb;
	memcpy(cmd + 8, f->gain, sizeof(f->gain));
	memcpy(cmd + 22, f->shift, sizeof(f->shift));
	memcpy(cmd + 30, &f->bias_off, 2);
	memcpy(cmd + 32, &f->horizontal_thresh, 2);
	memcpy(cmd + 34, &f->vertical_thresh, 2);
	memcpy(cmd + 36, t, sizeof(*t));
}

static void store_af_statistics_ex(ik_aaa_blocks *aaa, const img_dsp_mode *mode, const void *block)
{
	static_assert(sizeof(img_dsp_af_statistics_ex) == sizeof(aaa->af_statistics_ex), "AF ex block");
	static_assert(36 + sizeof(img_dsp_af_tile_fv) == IK_AAA_AF_STATISTICS_EX_SIZE, "AF ex command");
	const img_dsp_af_statistics_ex *b = (const img_dsp_af_statistics_ex *)block;
	ik_memcpy(aaa->af_statistics_ex, block, sizeof(aaa->af_statistics_ex));
	/* Only the CLISO function alone selects the second filter input. */
	uint8_t select = mode->FuncMode == IMG_DSP_FUNC_CLISO ? 2 : 0;
	write_af_ex_cmd(slot(aaa, IK_AAA_CMD_AF_EX1), IK_CMD_AAA_STATISTICS_SETUP1, select, &b->filter1,
	                &b->tile_fv1);
	write_af_ex_cmd(slot(aaa, IK_AAA_CMD_AF_EX2), IK_CMD_AAA_STATISTICS_SETUP2, select, &b->filter2,
	                &b->tile_fv2);
}

extern "C" int vors_img_dsp_set_af_statistics_ex(int, const img_dsp_mode *mode,
                                                 const img_dsp_af_statistics_ex *block)
{
	return aaa_set(__func__, mode, block, "p_af_ex", store_af_statistics_ex, IK_UPD_AAA_AF_STATISTICS_EX);
}

extern "C" int vors_img_dsp_get_af_statistics_ex(const img_dsp_mode *mode, img_dsp_af_statistics_ex *out)
{
	return aaa_get(__func__, mode, out, "p_af_ex is empty.\n", offsetof(ik_aaa_blocks, af_statistics_ex),
	               sizeof(*out));
}

/* ---- statistics fetch -------------------------------------------------- */

extern "C" int vors_img_dsp_3a_unpack_sensor_hist_data(const void *src, uint16_t pitch, uint16_t *out,
                                                       uint16_t width, uint16_t height)
{
	if (!src || !out)
		return -1;
	/* An empty region has no last column or row to name. */
	if (width == 0 || height == 0)
		return 0;
	img_dsp_core_set_raw_unpack_param(14, 6, 4);
	const uint32_t region[5] = {pitch, 0, 0, (uint32_t)width - 1, (uint32_t)height - 1};
	return img_dsp_core_unpack_raw((const uint32_t *)src, region, out);
}

/* Bytes of packed data the unpacking reads after the block header: the
 * second row starts a pitch later and holds `cols` columns. */
static uint32_t packed_extent(uint16_t pitch, uint16_t cols)
{
	if (cols == 0)
		return 0;
	uint32_t last_col = (uint32_t)cols - 1;
	uint32_t groups = 2 * (last_col >> 3) + 2; /* (14, 6, 4): eight columns per group pair */
	uint32_t words = (groups * 27 + 31) / 32;
	return (uint32_t)(pitch / 4) * 4 + words * 4;
}

static void unpack_block(uint8_t *block, uint16_t width, uint16_t rows)
{
	uint8_t *data = block;
	uint8_t *scratch = block + IMG_DSP_SENSOR_HIST_HALF;
	memcpy(scratch, data, IMG_DSP_SENSOR_HIST_HALF);
	memset(data, 0, IMG_DSP_SENSOR_HIST_HALF);
	if (2u * rows != width)
		vors_img_dsp_3a_unpack_sensor_hist_data(scratch + 8, width, (uint16_t *)(data + 4), rows, 2);
	else
		memcpy(data + 4, scratch + 8, IMG_DSP_SENSOR_HIST_HALF - 8);
	memset(scratch, 0, IMG_DSP_SENSOR_HIST_HALF);
	put_u32(data, 0, 2u * rows);
}

static int unpack_sensor_hist(const char *fn, uint8_t *buf)
{
	uint16_t width, rows;
	uint32_t count;
	memcpy(&width, buf, 2);
	memcpy(&rows, buf + 2, 2);
	memcpy(&count, buf + 4, 4);
	if (4u * rows + 8 > IMG_DSP_SENSOR_HIST_HALF) {
		ik_print("[IK][Warning]%s() %d not enough memory (0x%x) is assigned for sensor hist data\n",
		         fn, __LINE__, IMG_DSP_SENSOR_HIST_HALF);
		return -1;
	}
	/* The driver's words are not trusted to stay inside the buffer. */
	if (count > IMG_DSP_SENSOR_HIST_BLOCKS) {
		ik_print("[IK][Error]%s() %d sensor hist block count %u exceeds the buffer of %u blocks\n",
		         fn, __LINE__, count, IMG_DSP_SENSOR_HIST_BLOCKS);
		return -1;
	}
	if (2u * rows != width && 8 + packed_extent(width, rows) > IMG_DSP_SENSOR_HIST_HALF) {
		ik_print("[IK][Error]%s() %d sensor hist pitch %d with %d values exceeds a block\n", fn,
		         __LINE__, width, rows);
		return -1;
	}
	for (uint32_t b = 0; b < count; b++)
		unpack_block(buf + (size_t)b * IMG_DSP_SENSOR_HIST_BLOCK, width, rows);
	return 0;
}

extern "C" int vors_img_dsp_3a_get_aaa_stat(int fd, uint32_t, img_dsp_3a_stat_desc *desc)
{
	if (!desc)
		return -1;
	/* The driver takes the descriptor with its halves exchanged. */
	uint64_t payload[8];
	memcpy(payload, desc->d + 4, 32);
	memcpy(payload + 4, desc->d, 32);
	if (ik_fn()->ioctl(fd, QVD_IOC_IMG_GET_STATISTICS, payload) < 0) {
		IK_ERROR("QVD_IOC_IMG_GET_STATISTICS\n");
		return -1;
	}
	const uint8_t *present = (const uint8_t *)(uintptr_t)payload[2];
	uint8_t *buf = (uint8_t *)(uintptr_t)payload[6];
	if (!present || !buf || *present == 0)
		return 0;
	return unpack_sensor_hist(__func__, buf);
}
