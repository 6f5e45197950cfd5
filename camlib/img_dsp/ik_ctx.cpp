/*
 * Contexts and configurations: lookups, initialisation (normal, keep and
 * clone), configuration init, clone, pre- and post-execute, status, tags,
 * size information and the HDR history.
 */
#include "ik_ctx.h"

#include "ik_arch.h"
#include "ik_core.h"
#include "ik_helpers.h"
#include "ik_hiso.h"
#include "ik_liso.h"
#include "ik_math.h"
#include "ik_sharpen.h"

#include <string.h>

/* ---- lookups ---------------------------------------------------------- */

int img_dsp_core_utility_get_context(const img_dsp_ctx_id *ctx, void **out)
{
	if (!ctx || !out)
		return -1;
	if (!ik_mem_initialised()) {
		IK_WARN("MemAddr %d, MemSize %d, CTX is not initialed\n", (int)ik_mem_base(),
		        (int)ik_mem_size());
		return -1;
	}
	const ik_pipe_layout *pl = ik_pipe(ctx->Pipe);
	if (!pl) {
		IK_ERROR("Unknown pipe %d\n", ctx->Pipe);
		*out = IK_INVALID_PTR;
		return -1;
	}
	if (ctx->Id >= pl->ctx_num) {
		IK_ERROR("context id %d > context number %d - 1\n", ctx->Id, pl->ctx_num);
		*out = IK_INVALID_PTR;
		return -1;
	}
	*out = pl->ctx[ctx->Id];
	return 0;
}

/* A context is its own mutex handle. */
int img_dsp_core_utility_get_context_mutex(const img_dsp_ctx_id *ctx, void **out)
{
	return img_dsp_core_utility_get_context(ctx, out);
}

static int cfg_lookup(const char *fn, const img_dsp_cfg_id *cfg, void **out, bool table)
{
	if (!cfg || !out)
		return -1;
	const ik_pipe_layout *pl = ik_pipe(cfg->Pipe);
	if (!pl) {
		ik_print("[IK][Error]%s() %d Unknown pipe %d\n", fn, __LINE__, cfg->Pipe);
		*out = IK_INVALID_PTR;
		return -1;
	}
	if (cfg->Id >= pl->cfg_num) {
		ik_print("[IK][Error]%s() %d config id %d > config number %d - 1\n", fn, __LINE__, cfg->Id,
		         pl->cfg_num);
		*out = IK_INVALID_PTR;
		return -1;
	}
	*out = table ? pl->cfg_tbl[cfg->Id] : pl->cfg[cfg->Id];
	return 0;
}

int img_dsp_core_utility_get_config(const img_dsp_cfg_id *cfg, void **out)
{
	return cfg_lookup(__func__, cfg, out, false);
}

int img_dsp_core_utility_get_config_tbl(const img_dsp_cfg_id *cfg, void **out)
{
	return cfg_lookup(__func__, cfg, out, true);
}

int img_dsp_core_utility_get_prev_config(const img_dsp_cfg_id *cfg, void **out)
{
	void *hdr;
	int rc = cfg_lookup(__func__, cfg, &hdr, false);
	if (rc != 0) {
		if (out)
			*out = IK_INVALID_PTR;
		return rc;
	}
	const ik_pipe_layout *pl = ik_pipe(cfg->Pipe);
	uint32_t src = ((const img_dsp_iso_cfg *)hdr)->src_cfg_id;
	if (src == IK_CFG_NO_SOURCE || src >= pl->cfg_num) {
		*out = IK_INVALID_PTR;
		return -1;
	}
	*out = pl->cfg[src];
	return 0;
}

static int hdr_lookup(const char *fn, const img_dsp_cfg_id *cfg, void **out, bool table)
{
	if (!cfg || !out)
		return -1;
	if (cfg->Pipe != IMG_DSP_PIPE_VIDEO) {
		ik_print("[IK][Warning]%s() %d invalid pipe: %d\n", fn, __LINE__, cfg->Pipe);
		return -1;
	}
	const ik_pipe_layout *pl = ik_pipe(IMG_DSP_PIPE_VIDEO);
	if (cfg->Id >= pl->hdr_num) {
		ik_print("[IK][Warning]%s() %d invalid cfg id: %d, hdr_config_num: %d\n", fn, __LINE__,
		         cfg->Id, pl->hdr_num);
		return -1;
	}
	*out = table ? pl->hdr_tbl[cfg->Id] : pl->hdr[cfg->Id];
	return 0;
}

int img_dsp_core_utility_get_hdr_config(const img_dsp_cfg_id *cfg, void **out)
{
	return hdr_lookup(__func__, cfg, out, false);
}

int img_dsp_core_utility_get_hdr_config_tbl(const img_dsp_cfg_id *cfg, void **out)
{
	return hdr_lookup(__func__, cfg, out, true);
}

int img_dsp_core_utility_get_active_iso_config_id(const img_dsp_ctx_id *ctx, uint8_t *out)
{
	if (!ik_video_or_still(ctx->Pipe)) {
		IK_ERROR("Incorrect pipe %d\n", ctx->Pipe);
		*out = 0;
		return -1;
	}
	void *c;
	int rc = img_dsp_core_utility_get_context(ctx, &c);
	if (rc != 0)
		return rc;
	*out = ((ik_ctx_head *)c)->active_iso_cfg;
	return *out < IK_NO_CFG ? 0 : -1;
}

int img_dsp_core_utility_get_active_hdr_config_id(const img_dsp_ctx_id *ctx, uint8_t *out)
{
	if (ctx->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("Incorrect pipe %d\n", ctx->Pipe);
		*out = 0;
		return -1;
	}
	void *c;
	int rc = img_dsp_core_utility_get_context(ctx, &c);
	if (rc != 0)
		return rc;
	*out = ((ik_ctx_head *)c)->active_hdr_cfg;
	return *out < IK_NO_CFG ? 0 : -1;
}

static int mode_context(const img_dsp_mode *mode, void **out)
{
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	return img_dsp_core_utility_get_context(&id, out);
}

int ik_mode_ctx_mutex(const char *caller, const img_dsp_mode *mode, const char *failure, void **ctx)
{
	img_dsp_ctx_id id = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	int rc = img_dsp_core_utility_get_context_mutex(&id, ctx);
	if (rc != 0)
		ik_print("[IK][Warning]%s() %d %s", caller, __LINE__, failure);
	return rc;
}

void *ik_mode_lock_video_or_still(const char *caller, const img_dsp_mode *mode, const char *failure, int *rc)
{
	void *ctx;
	*rc = ik_mode_ctx_mutex(caller, mode, failure, &ctx);
	if (*rc != 0)
		return NULL;
	ik_lock(ctx);
	if (!ik_video_or_still(mode->Pipe)) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		ik_unlock(ctx);
		*rc = -1;
		return NULL;
	}
	return ctx;
}

int img_dsp_core_utility_get_config_tbl_status(const img_dsp_mode *mode, uint8_t **out, uint32_t *count)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	const ik_pipe_layout *pl = ik_pipe(IMG_DSP_PIPE_VIDEO);
	*out = ((ik_video_ctx *)c)->body.cfg_tbl_status;
	*count = pl->ctx_num ? pl->cfg_num / pl->ctx_num : 0;
	return 0;
}

int img_dsp_core_utility_get_hdr_config_tbl_status(const img_dsp_mode *mode, uint8_t **out, uint32_t *count)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("Unknown pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	const ik_pipe_layout *pl = ik_pipe(IMG_DSP_PIPE_VIDEO);
	*out = ((ik_video_ctx *)c)->body.hdr_cfg_tbl_status;
	*count = pl->ctx_num ? pl->hdr_num / pl->ctx_num : 0;
	return 0;
}

int img_dsp_core_utility_mem_differs(const void *a, const void *b, size_t n)
{
	if (!a && !b)
		return 0;
	if (!a || !b)
		return 1;
	return ik_fn()->memcmp(a, b, n) != 0 ? 1 : 0;
}

void img_dsp_core_utility_step_index(uint8_t advance, uint8_t *index, uint8_t first, uint8_t count)
{
	if (*index == IK_NO_CFG) {
		*index = first;
		return;
	}
	if (!advance)
		return;
	uint32_t next = (uint32_t)*index + 1;
	if (next >= (uint32_t)first + count)
		next = first;
	*index = (uint8_t)next;
}

ik_ctx_body *ik_body(uint32_t pipe, void *ctx)
{
	if (pipe == IMG_DSP_PIPE_VIDEO)
		return &((ik_video_ctx *)ctx)->body;
	if (pipe == IMG_DSP_PIPE_STILL)
		return &((ik_still_ctx *)ctx)->body;
	return NULL;
}

uint8_t *ik_ctx_table(uint32_t pipe, void *ctx, uint32_t video_offset, uint32_t still_offset)
{
	if (pipe == IMG_DSP_PIPE_VIDEO)
		return (uint8_t *)(uintptr_t)((ik_ctx_head *)ctx)->buf[0] + video_offset;
	return (uint8_t *)ctx + still_offset;
}

/* ---- context initialisation ----------------------------------------- */

/* Section images whose fields hold a table address, and where the table
 * lies for each pipe; clone rewrites them to the destination's tables. A
 * decode offset of 0: the decode context has no such table. Rows of
 * section IK_SEC_HDR are video buffer tables of the HDR setters: `word` is
 * the byte offset within the filter blocks of the record field that holds
 * the table's address, or IK_HDR_READ_IN_PLACE for tables the post-execute
 * reads where they lie. */
#define IK_SEC_HDR IK_SEC_COUNT
#define IK_HDR_READ_IN_PLACE 0xFFFFFFFFu
#define HDR_ALPHA_ROW(b)                                                                                     \
	{                                                                                                    \
		IK_SEC_HDR, (uint32_t)offsetof(ik_filter_blocks, hdr.preblend_alpha[b]) + 8,                 \
		    IK_VBUF_HDR_ALPHA_TABLE + IK_HDR_ALPHA_PACKED_SIZE *(b), 0, 0, IK_HDR_ALPHA_PACKED_SIZE, \
		    (enum ik_section_tbl)(IK_STBL_HDR_ALPHA + (b))                                           \
	}
#define AMP_ROW(offset, tbl, e)                                                                              \
	{                                                                                                    \
		IK_SEC_HDR, IK_HDR_READ_IN_PLACE, (offset) + IK_AMP_LINEAR_STRIDE *(e), 0, 0,                \
		    IK_AMP_LINEAR_STRIDE, (enum ik_section_tbl)((tbl) + (e))                                 \
	}
typedef struct ik_section_table {
	enum ik_section sec;
	uint32_t word;
	uint32_t video_offset;
	uint32_t still_offset;
	uint32_t decode_offset;
	uint32_t size;
	enum ik_section_tbl idx; /* the recorded buffer index */
} ik_section_table;

static const ik_section_table section_tables[] = {
    {IK_SEC_CHROMA_MEDIAN, IK_SECW_CHROMA_MEDIAN_K, IK_VBUF_CHROMA_MEDIAN_K, IK_STILL_CHROMA_MEDIAN_K,
     IK_DEC_CHROMA_MEDIAN_K, IK_CHROMA_MEDIAN_K_SIZE, IK_STBL_CHROMA_MEDIAN_K},
    {IK_SEC_LOCAL_EXPOSURE, IK_SECW_LOCAL_EXPOSURE_GAIN, IK_VBUF_LE_TONE_CURVE, IK_STILL_LE_TONE_CURVE,
     IK_DEC_LE_TONE_CURVE, IK_LE_GAIN_SIZE, IK_STBL_LOCAL_EXPOSURE},
    {IK_SEC_CHROMA_SCALE, IK_SECW_CHROMA_SCALE_GAIN, IK_VBUF_CS_TONE_CURVE, IK_STILL_CS_TONE_CURVE,
     IK_DEC_CS_TONE_CURVE, IK_CS_GAIN_SIZE, IK_STBL_CHROMA_SCALE},
    {IK_SEC_CC, IK_SECW_CC_REG, IK_VBUF_CC_IN_LUT, IK_STILL_CC_IN_LUT, IK_DEC_CC_IN_LUT, IK_CC_REG_TBL_SIZE,
     IK_STBL_CC_REG},
    {IK_SEC_CC, IK_SECW_CC_3D, IK_VBUF_CC_3D_MATRIX, IK_STILL_CC_3D_MATRIX, IK_DEC_CC_3D_MATRIX,
     IK_CC_3D_TBL_SIZE, IK_STBL_CC_3D},
    {IK_SEC_CC, IK_SECW_CC_OUT, IK_VBUF_CC_OUT_LUT, IK_STILL_CC_OUT_LUT, IK_DEC_CC_OUT_LUT,
     IK_CC_OUT_TBL_SIZE, IK_STBL_CC_OUT},
    {IK_SEC_DBP, IK_SECW_DBP_HOT, IK_VBUF_HOT_PIXEL_THD, IK_STILL_HOT_PIXEL_THD, 0, IK_PIXEL_THRESH_SIZE,
     IK_STBL_DBP_HOT},
    {IK_SEC_DBP, IK_SECW_DBP_DARK, IK_VBUF_DARK_PIXEL_THD, IK_STILL_DARK_PIXEL_THD, 0, IK_PIXEL_THRESH_SIZE,
     IK_STBL_DBP_DARK},
    {IK_SEC_VIGNETTE, IK_SECW_VIGNETTE_FIRST + 0, IK_VBUF_VIG_RED, IK_STILL_VIG_RED, 0, IK_VIGNETTE_TBL_SIZE,
     IK_STBL_VIG_RED},
    {IK_SEC_VIGNETTE, IK_SECW_VIGNETTE_FIRST + 1, IK_VBUF_VIG_GREEN_EVEN, IK_STILL_VIG_GREEN_EVEN, 0,
     IK_VIGNETTE_TBL_SIZE, IK_STBL_VIG_GREEN_EVEN},
    {IK_SEC_VIGNETTE, IK_SECW_VIGNETTE_FIRST + 2, IK_VBUF_VIG_GREEN_ODD, IK_STILL_VIG_GREEN_ODD, 0,
     IK_VIGNETTE_TBL_SIZE, IK_STBL_VIG_GREEN_ODD},
    {IK_SEC_VIGNETTE, IK_SECW_VIGNETTE_FIRST + 3, IK_VBUF_VIG_BLUE, IK_STILL_VIG_BLUE, 0,
     IK_VIGNETTE_TBL_SIZE, IK_STBL_VIG_BLUE},
    HDR_ALPHA_ROW(0),
    HDR_ALPHA_ROW(1),
    HDR_ALPHA_ROW(2),
    AMP_ROW(IK_VBUF_AMPLINEAR_LUT, IK_STBL_AMPLINEAR, 0),
    AMP_ROW(IK_VBUF_AMPLINEAR_LUT, IK_STBL_AMPLINEAR, 1),
    AMP_ROW(IK_VBUF_AMPLINEAR_LUT, IK_STBL_AMPLINEAR, 2),
    AMP_ROW(IK_VBUF_AMPLINEAR_LUT, IK_STBL_AMPLINEAR, 3),
    AMP_ROW(IK_VBUF_AMPLINEAR_HDS_LUT, IK_STBL_AMPLINEAR_HDS, 0),
    AMP_ROW(IK_VBUF_AMPLINEAR_HDS_LUT, IK_STBL_AMPLINEAR_HDS, 1),
    AMP_ROW(IK_VBUF_AMPLINEAR_HDS_LUT, IK_STBL_AMPLINEAR_HDS, 2),
    AMP_ROW(IK_VBUF_AMPLINEAR_HDS_LUT, IK_STBL_AMPLINEAR_HDS, 3),
    /* offsets within the context for both pipes (see in_context) */
    {IK_SEC_SBP, IK_SECW_SBP_MAP_ADDR, (uint32_t)offsetof(ik_video_ctx, body.fpn_map_area),
     (uint32_t)offsetof(ik_still_ctx, body.fpn_map_area), 0, IK_FPN_MAP_AREA_SIZE, IK_STBL_SBP_MAP},
};
static_assert(sizeof(section_tables) / sizeof(section_tables[0]) == IK_SECTION_TBL_COUNT,
              "one row per section table");

/* The FPN map lies in the context, not in a buffer block. */
static bool in_context(const ik_section_table &t)
{
	return t.idx == IK_STBL_SBP_MAP;
}

uint8_t *ik_fpn_map(ik_ctx_body *body)
{
	uint8_t *area = body->fpn_map_area;
	return area + ((32u - (ik_phys(area) & 31u)) & 31u);
}

/* A clone takes the source's map; the section follows it only when it
 * pointed at the source's own map (a caller's map stays the caller's). */
static void clone_fpn_map(ik_ctx_body *dst, ik_ctx_body *src)
{
	ik_memcpy(ik_fpn_map(dst), ik_fpn_map(src), IMG_DSP_FPN_MAP_SIZE);
	uint32_t *w = &dst->sec[IK_SEC_SBP].word[IK_SECW_SBP_MAP_ADDR];
	if (*w == ik_phys(ik_fpn_map(src)))
		*w = ik_phys(ik_fpn_map(dst));
}

static void set_u16(ik_cmd_image *img, uint32_t byte, uint16_t v)
{
	memcpy((uint8_t *)img->word + byte, &v, 2);
}
static void set_u8(ik_cmd_image *img, uint32_t byte, uint8_t v)
{
	((uint8_t *)img->word)[byte] = v;
}

/* Points every section's table words at the context's own tables (the
 * first buffer block on the video pipe). */
static void point_section_tables(uint32_t pipe, void *ctx, ik_cmd_image *sec)
{
	for (const auto &t : section_tables) {
		if (t.sec == IK_SEC_HDR)
			continue; /* the HDR setters write their records */
		uint8_t *tbl;
		if (in_context(t) && ik_body(pipe, ctx))
			tbl = ik_fpn_map(ik_body(pipe, ctx));
		else if (in_context(t))
			continue;
		else if (pipe == IMG_DSP_PIPE_VIDEO)
			tbl = ik_ctx_table(pipe, ctx, t.video_offset, 0);
		else if (pipe == IMG_DSP_PIPE_STILL)
			tbl = (uint8_t *)ctx + t.still_offset;
		else if (t.decode_offset != 0)
			tbl = (uint8_t *)ctx + t.decode_offset;
		else
			continue;
		sec[t.sec].word[t.word] = ik_phys(tbl);
	}
}

static const int16_t rgb2yuv_default[12] = {187, 629, 63, -103, -346, 450, 450, -409, -41, 16, 128, 128};

static void default_sections(ik_cmd_image *sec, const uint8_t *chroma_median_k)
{
	sec[IK_SEC_BLACK_LEVEL].word[0] = IK_CMD_BLACK_LEVEL_GLOBAL_OFFSET;
	for (int i = 1; i <= 4; i++) {
		sec[IK_SEC_WB_GAIN].word[i] = 4096;
		sec[IK_SEC_DGAIN_SATURATION].word[i] = 16383;
	}
	memcpy(&sec[IK_SEC_RGB_TO_YUV].word[1], rgb2yuv_default, sizeof(rgb2yuv_default));
	static const uint16_t median_consts[8] = {33, 81, 33, 81, 40, 130, 40, 130};
	ik_cmd_image *cm = &sec[IK_SEC_CHROMA_MEDIAN];
	set_u16(cm, 4, 0);
	set_u16(cm, 6, 0);
	cm->word[2] = ik_phys(chroma_median_k);
	for (int i = 0; i < 8; i++)
		set_u16(cm, 12 + 2 * i, median_consts[i]);
	ik_cmd_image *cf = &sec[IK_SEC_CHROMA_FILTER];
	set_u8(cf, 4, 1);
	set_u8(cf, 5, 32);
	set_u16(cf, 6, 2);
	set_u16(cf, 20, 63);
	set_u16(cf, 22, 63);
}

static const img_dsp_level shp_level_default = {10, 1, 16, 16, 20, 1, 16};

static void default_luma(ik_first_sharpen_group *first, ik_final_sharpen_group *final)
{
	first->min_coring_result = shp_level_default;
	memcpy(&final->coring_index_scale, &shp_level_default, sizeof(shp_level_default));
	memset(first->sharpen_coring.coring, 8, sizeof(first->sharpen_coring.coring));
	memset(final->sharpen_coring.coring, 8, sizeof(final->sharpen_coring.coring));
}

static void default_rgb2yuv(img_dsp_rgb_to_yuv_matrix *m)
{
	memcpy(m->MatrixValues, rgb2yuv_default, sizeof(m->MatrixValues));
	m->YOffset = 16;
	m->UOffset = 128;
	m->VOffset = 128;
}

static void default_dgain(img_dsp_dgain_saturation_level *d)
{
	d->LevelRed = d->LevelGreenEven = d->LevelGreenOdd = d->LevelBlue = 16383;
}

static void default_aaa(ik_aaa_blocks *aaa)
{
	aaa->awb = img_dsp_awb_tile_cfg{32, 32, 0, 0, 128, 128, 128, 128, 0, 16383};
	aaa->ae = img_dsp_ae_tile_cfg{12, 8, 0, 0, 340, 512, 0, 16383};
	aaa->af = img_dsp_af_tile_cfg{12, 8, 0, 0, 340, 512, 340, 512};
	img_dsp_aaa_stat_info *s = &aaa->stat_info;
	memcpy(s, &aaa->awb, 16);
	s->awb_pix_min_value = (uint16_t)aaa->awb.pix_min_value;
	s->awb_pix_max_value = (uint16_t)aaa->awb.pix_max_value;
	s->ae = aaa->ae;
	s->af = aaa->af;
}

static void default_blocks(ik_ctx_body *body, uint32_t pipe)
{
	ik_filter_blocks *b = &body->blk;
	default_aaa(&b->aaa);
	b->early_wb_mode = 0xFFFFFFFFu;
	b->wb_gain = img_dsp_wb_gain{4096, 4096, 4096, 4096, 4096};
	for (auto &g : b->wb_derived_gain)
		g = 4096;
	default_dgain(&b->dgain_saturation_level);
	default_rgb2yuv(&b->rgb_to_yuv_matrix);
	b->chroma_filter.Radius = 32;
	b->variable_range.max_chroma_radius = 128;
	b->variable_range.inside_fpn_flag = 0;
	default_luma(&b->first_sharpen, &b->final_sharpen);
	if (pipe == IMG_DSP_PIPE_VIDEO) {
		b->demosaic_internal.enable = 1;
		for (auto &t : b->hdr.hds_thresh)
			memset(t.saturation_threshold, 0xFF, sizeof(t.saturation_threshold));
		/* the linearisation black-level setters write only their offsets */
		const uint32_t amplinear_code = 0x0900200Du;
		for (auto &r : b->hdr.black_level_amplinear_hdr)
			memcpy(r, &amplinear_code, 4);
	}
	body->size_level_low = 1;
	body->size_level_high = 31;
}

static void clear_body(ik_ctx_body *body)
{
	ik_memset(&body->blk, 0, sizeof(body->blk));
	ik_memset(body->sec, 0, sizeof(body->sec));
	ik_memset(&body->size_info, 0, sizeof(body->size_info));
	ik_memset(body->update_flags, 0, sizeof(body->update_flags));
}

/* Clears a buffer block and gives it the default strength table. */
static void reset_buffer_block(uint8_t *buf)
{
	ik_memset(buf, 0, IK_VIDEO_BUF_SIZE);
	img_dsp_core_gen_strength_table(buf + IK_VBUF_SHPA_ALPHA, 32, 32, 0, 0, 0);
}

static void init_video_ctx(ik_video_ctx *ctx, uint8_t defblc)
{
	ik_ctx_head *h = &ctx->head;
	ik_ctx_body *body = &ctx->body;
	h->active_iso_cfg = IK_NO_CFG;
	h->active_hdr_cfg = IK_NO_CFG;
	ik_memset(body->cfg_tbl_status, 0xFF, sizeof(body->cfg_tbl_status));
	ik_memset(body->hdr_cfg_tbl_status, 0xFF, sizeof(body->hdr_cfg_tbl_status));
	h->last_iso_cfg = 0;
	h->last_hdr_cfg = 0;
	clear_body(body);
	default_blocks(body, IMG_DSP_PIPE_VIDEO);
	body->blk.deferred_black_level[0] = defblc ? 1 : 0;
	for (uint32_t b = 0; b < h->buf_num; b++)
		reset_buffer_block((uint8_t *)(uintptr_t)h->buf[b]);
	default_sections(body->sec, ik_ctx_table(IMG_DSP_PIPE_VIDEO, ctx, IK_VBUF_CHROMA_MEDIAN_K, 0));
	point_section_tables(IMG_DSP_PIPE_VIDEO, ctx, body->sec);
	ik_memcpy(body->blk.chroma_median_weight, img_dsp_chroma_median_weight_default,
	          IK_CHROMA_MEDIAN_WEIGHT_SIZE);
	img_dsp_core_set_raw_unpack_param(14, 6, 4);
	h->state = IK_CTX_STATE_INIT;
}

static void init_still_ctx(ik_still_ctx *ctx, uint8_t defblc)
{
	ik_ctx_head *h = &ctx->head;
	h->active_iso_cfg = IK_NO_CFG;
	h->last_iso_cfg = 0;
	clear_body(&ctx->body);
	default_blocks(&ctx->body, IMG_DSP_PIPE_STILL);
	ctx->body.blk.deferred_black_level[0] = defblc ? 1 : 0;
	ik_memset(ctx->tables, 0, sizeof(ctx->tables));
	img_dsp_core_gen_strength_table((uint8_t *)ctx + IK_STILL_SHPA_ALPHA, 32, 32, 0, 0, 0);
	default_sections(ctx->body.sec, (uint8_t *)ctx + IK_STILL_CHROMA_MEDIAN_K);
	point_section_tables(IMG_DSP_PIPE_STILL, ctx, ctx->body.sec);
	ik_memcpy(ctx->body.blk.chroma_median_weight, img_dsp_chroma_median_weight_default,
	          IK_CHROMA_MEDIAN_WEIGHT_SIZE);
	h->state = IK_CTX_STATE_INIT;
}

static void init_decode_ctx(ik_decode_ctx *ctx, uint8_t defblc)
{
	ik_decode_body *b = &ctx->body;
	ik_memset(b, 0, sizeof(*b));
	b->deferred_black_level[0] = defblc ? 1 : 0;
	default_rgb2yuv(&b->rgb_to_yuv_matrix);
	default_dgain(&b->dgain_saturation_level);
	b->chroma_filter.Radius = 32;
	default_luma(&b->first_sharpen, &b->final_sharpen);
	default_sections(b->sec, (uint8_t *)ctx + IK_DEC_CHROMA_MEDIAN_K);
	point_section_tables(IMG_DSP_PIPE_DECODE, ctx, b->sec);
	ik_memcpy(b->chroma_median_weight, img_dsp_chroma_median_weight_default,
	          IK_CHROMA_MEDIAN_WEIGHT_SIZE);
	ik_memset(ctx->tables, 0, sizeof(ctx->tables));
	img_dsp_core_gen_strength_table((uint8_t *)ctx + IK_DEC_SHPA_ALPHA, 32, 32, 0, 0, 0);
	ctx->head.state = IK_CTX_STATE_INIT;
}

static int init_normal(uint32_t pipe, void *ctx, uint8_t defblc)
{
	ik_lock(ctx);
	if (pipe == IMG_DSP_PIPE_VIDEO)
		init_video_ctx((ik_video_ctx *)ctx, defblc);
	else if (pipe == IMG_DSP_PIPE_STILL)
		init_still_ctx((ik_still_ctx *)ctx, defblc);
	else
		init_decode_ctx((ik_decode_ctx *)ctx, defblc);
	ik_unlock(ctx);
	return 0;
}

static int init_keep(uint32_t pipe, void *ctx)
{
	ik_lock(ctx);
	if (pipe == IMG_DSP_PIPE_VIDEO)
		ik_memset(((ik_video_ctx *)ctx)->body.update_flags, 0, IK_UPDATE_FLAG_BYTES);
	((ik_ctx_head *)ctx)->keep_marker = 1;
	ik_unlock(ctx);
	return 0;
}

static uint8_t recorded_index(const ik_filter_blocks *blk, const ik_section_table *t)
{
	return blk->section_tbl_idx[t->idx];
}

/* An HDR record's table address, left 0 while the record was never
 * written. */
static void repoint_record(uint8_t *field, const uint8_t *table)
{
	uint32_t a;
	memcpy(&a, field, 4);
	if (a == 0)
		return;
	a = ik_phys(table);
	memcpy(field, &a, 4);
}

static void repoint_lut(uint8_t *block, uint8_t *copy)
{
	uint64_t a;
	memcpy(&a, block + 8, 8);
	if (a == 0)
		return;
	a = (uint64_t)(uintptr_t)copy;
	memcpy(block + 8, &a, 8);
}

static int clone_video(ik_video_ctx *dst, ik_video_ctx *src)
{
	uint32_t buf_num = dst->head.buf_num;
	ik_memcpy(&dst->body.blk, &src->body.blk, sizeof(dst->body.blk));
	ik_memcpy(dst->body.sec, src->body.sec, sizeof(dst->body.sec));
	ik_final_sharpen_repoint(&dst->body.blk.final_sharpen);
	for (uint32_t b = 0; b < buf_num; b++)
		reset_buffer_block((uint8_t *)(uintptr_t)dst->head.buf[b]);
	for (const auto &t : section_tables) {
		if (recorded_index(&dst->body.blk, &t) >= buf_num) {
			IK_WARN("one or more Idx exceeds TblNum %d\n", buf_num);
			return -1;
		}
	}
	for (const auto &t : section_tables) {
		if (in_context(t))
			continue;
		uint8_t idx = recorded_index(&dst->body.blk, &t);
		uint8_t *to = (uint8_t *)(uintptr_t)dst->head.buf[idx] + t.video_offset;
		ik_memcpy(to, (const uint8_t *)(uintptr_t)src->head.buf[idx] + t.video_offset, t.size);
		if (t.sec != IK_SEC_HDR)
			dst->body.sec[t.sec].word[t.word] = ik_phys(to);
		else if (t.word != IK_HDR_READ_IN_PLACE)
			repoint_record((uint8_t *)&dst->body.blk + t.word, to);
	}
	/* a stored linearisation names the context's copy of its table */
	ik_hdr_blocks *h = &dst->body.blk.hdr;
	for (uint32_t e = 0; e < IK_HDR_EXPOSURES; e++) {
		repoint_lut(h->amp_linearization[e], h->amp_linearization_lut[e]);
		repoint_lut(h->amp_linearization_hds[e], h->amp_linearization_hds_lut[e]);
	}
	clone_fpn_map(&dst->body, &src->body);
	return 0;
}

static int clone_still(ik_still_ctx *dst, ik_still_ctx *src)
{
	ik_memcpy(&dst->body.blk, &src->body.blk, sizeof(dst->body.blk));
	ik_memcpy(dst->body.sec, src->body.sec, sizeof(dst->body.sec));
	ik_memcpy(dst->tables, src->tables, sizeof(dst->tables));
	ik_final_sharpen_repoint(&dst->body.blk.final_sharpen);
	for (const auto &t : section_tables)
		if (t.sec != IK_SEC_HDR && !in_context(t))
			dst->body.sec[t.sec].word[t.word] = ik_phys((uint8_t *)dst + t.still_offset);
	clone_fpn_map(&dst->body, &src->body);
	return 0;
}

static int clone_decode(ik_decode_ctx *dst, ik_decode_ctx *src)
{
	ik_memcpy(&dst->body, &src->body, sizeof(dst->body));
	ik_memcpy(dst->tables, src->tables, sizeof(dst->tables));
	for (const auto &t : section_tables) {
		if (t.decode_offset != 0)
			dst->body.sec[t.sec].word[t.word] = ik_phys((uint8_t *)dst + t.decode_offset);
	}
	return 0;
}

static int clone_locked(uint32_t pipe, void *dst, void *src)
{
	const ik_ctx_head *sh = (const ik_ctx_head *)src;
	if (pipe == IMG_DSP_PIPE_VIDEO && ((ik_ctx_head *)dst)->buf_num != sh->buf_num) {
		IK_WARN("Tbl number mismatches. Cannot copy context\n");
		return -1;
	}
	if (sh->state == IK_CTX_STATE_IDLE) {
		IK_WARN("Src context state is IDLE. Not inited.\n");
		return -1;
	}
	if (pipe == IMG_DSP_PIPE_VIDEO)
		return clone_video((ik_video_ctx *)dst, (ik_video_ctx *)src);
	if (pipe == IMG_DSP_PIPE_STILL)
		return clone_still((ik_still_ctx *)dst, (ik_still_ctx *)src);
	return clone_decode((ik_decode_ctx *)dst, (ik_decode_ctx *)src);
}

static int init_clone(const img_dsp_ctx_id *id, void *dst, const img_dsp_ctx_id *src_id)
{
	void *src;
	if (!src_id)
		return -1;
	/* Contexts of different pipes have different layouts. */
	if (src_id->Pipe != id->Pipe) {
		IK_WARN("src pipe: %d, dst pipe: %d is invalid\n", src_id->Pipe, id->Pipe);
		return -1;
	}
	int rc = img_dsp_core_utility_get_context_mutex(src_id, &src);
	if (rc != 0)
		return rc;
	if (src == dst)
		return 0;
	ik_lock(dst);
	ik_lock(src);
	rc = clone_locked(id->Pipe, dst, src);
	ik_unlock(src);
	ik_unlock(dst);
	return rc;
}

int img_dsp_core_init_ctx(uint8_t defblc_enable, const img_dsp_ctx_id *ctx, const img_dsp_ctx_id *src)
{
	void *c;
	int rc = img_dsp_core_utility_get_context_mutex(ctx, &c);
	if (rc != 0)
		return rc;
	uint8_t mode = img_dsp_core_utility_get_init_mode();
	if (mode == IMG_DSP_INIT_MODE_NORMAL ||
	    (mode == IMG_DSP_INIT_MODE_NORMAL_VIDEO && ctx->Pipe == IMG_DSP_PIPE_VIDEO))
		return init_normal(ctx->Pipe, c, defblc_enable);
	if (mode == IMG_DSP_INIT_MODE_KEEP)
		return init_keep(ctx->Pipe, c);
	if (mode == IMG_DSP_INIT_MODE_CLONE)
		return init_clone(ctx, c, src);
	IK_WARN("Unknown init mode %d\n", mode);
	/* The context was not initialised: say so. */
	return -1;
}

/* ---- configurations -------------------------------------------------- */

int img_dsp_core_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode)
{
	void *hdr;
	int rc = img_dsp_core_utility_get_config(cfg, &hdr);
	if (rc != 0) {
		IK_WARN("Cannot get config\n");
		return rc;
	}
	ik_lock(hdr);
	if (algo_mode == DSP_IMG_CORE_ALGO_MODE_LISO) {
		rc = img_dsp_core_low_iso_init_cfg(cfg, algo_mode);
	} else if (algo_mode == DSP_IMG_CORE_ALGO_MODE_HISO) {
		rc = img_dsp_core_high_iso_init_cfg(cfg, algo_mode);
	} else {
		IK_WARN("Incorrect AlgoMode %d\n", algo_mode);
		rc = -1;
	}
	ik_unlock(hdr);
	return rc;
}

int img_dsp_core_clone_iso_cfg(const img_dsp_cfg_id *dst, const img_dsp_cfg_id *src)
{
	if (!dst || !src) {
		IK_ERROR("p_cfg_dst: 0x%p, p_cfg_src: 0x%p is invalid\n", (const void *)dst,
		         (const void *)src);
		return -1;
	}
	if (dst->Pipe != src->Pipe) {
		IK_WARN("src pipe: %d, dst pipe: %d is invalid\n", src->Pipe, dst->Pipe);
		return -1;
	}
	void *s;
	void *d;
	int rc = img_dsp_core_utility_get_config(src, &s);
	if (rc == 0)
		rc = img_dsp_core_utility_get_config(dst, &d);
	if (rc != 0) {
		IK_WARN("call img_dsp_core_utility_get_config() fail\n");
		return rc;
	}
	img_dsp_iso_cfg *dc = (img_dsp_iso_cfg *)d;
	const img_dsp_iso_cfg *sc = (const img_dsp_iso_cfg *)s;
	ik_lock(d);
	ik_lock(s);
	dc->AlgoMode = sc->AlgoMode;
	ik_memcpy(dc->main.bytes, sc->main.bytes, IK_LISO_BASIC_SIZE);
	dc->src_cfg_id = src->Id;
	ik_unlock(s);
	ik_unlock(d);
	return 0;
}

img_dsp_iso_cfg *ik_post_exe_config(const char *caller, const img_dsp_mode *mode, uint32_t algo_mode,
                                    bool as_error, int *rc)
{
	const char *kind = as_error ? "[IK][Error]" : "[IK][Warning]";
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *hdr;
	*rc = img_dsp_core_utility_get_config(&id, &hdr);
	if (*rc != 0) {
		ik_print("[IK][Warning]%s() %d call img_dsp_utility_get_config() Fail\n", caller, __LINE__);
		return NULL;
	}
	img_dsp_iso_cfg *cfg = (img_dsp_iso_cfg *)hdr;
	*rc = -1;
	if (cfg->state < DSP_IMG_CORE_CFG_STATE_INIT || cfg->state > DSP_IMG_CORE_CFG_STATE_POSTEXE) {
		ik_print(
		    "%s%s() %d State %d != DSP_IMG_CORE_CFG_STATE_INIT || DSP_IMG_CORE_CFG_STATE_PREEXE || "
		    "DSP_IMG_CORE_CFG_STATE_POSTEXE\n",
		    kind, caller, __LINE__, cfg->state);
		return NULL;
	}
	if (cfg->AlgoMode != algo_mode) {
		ik_print("%s%s() %d AlgoMode %d != %s\n", kind, caller, __LINE__, cfg->AlgoMode,
		         algo_mode == DSP_IMG_CORE_ALGO_MODE_LISO ? "DSP_IMG_CORE_ALGO_MODE_LISO"
		                                                  : "DSP_IMG_CORE_ALGO_MODE_HISO");
		return NULL;
	}
	*rc = 0;
	return cfg;
}

typedef int (*exe_fn)(const img_dsp_mode *mode);

static int exe_low_iso(const img_dsp_mode *mode)
{
	return img_dsp_core_low_iso_post_exe_cfg(mode);
}
static int exe_high_iso(const img_dsp_mode *mode)
{
	return img_dsp_core_high_iso_post_exe_cfg(mode);
}

/* Pre- and post-execute share their locking: configuration, then context. */
static int run_locked(const char *fn, const img_dsp_mode *mode, exe_fn liso, exe_fn hiso)
{
	img_dsp_cfg_id cid = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *cfg;
	void *ctx;
	int rc = img_dsp_core_utility_get_config(&cid, &cfg);
	if (rc != 0)
		return rc;
	ik_lock(cfg);
	rc = mode_context(mode, &ctx);
	if (rc != 0) {
		ik_print("[IK][Warning]%s() %d Cannot get context mutex\n", fn, __LINE__);
		ik_unlock(cfg);
		return rc;
	}
	ik_lock(ctx);
	if (mode->AlgoMode == DSP_IMG_CORE_ALGO_MODE_LISO) {
		rc = liso ? liso(mode) : 0;
	} else if (mode->AlgoMode == DSP_IMG_CORE_ALGO_MODE_HISO) {
		rc = hiso ? hiso(mode) : 0;
	} else {
		ik_print("[IK][Warning]%s() %d Incorrect AlgoMode %d\n", fn, __LINE__, mode->AlgoMode);
		rc = liso ? -1 : 0;
	}
	ik_unlock(ctx);
	ik_unlock(cfg);
	return rc;
}

int img_dsp_core_pre_exe_cfg(const img_dsp_mode *mode)
{
	return run_locked(__func__, mode, NULL, NULL);
}

int img_dsp_core_post_exe_cfg(const img_dsp_mode *mode)
{
	return run_locked(__func__, mode, exe_low_iso, exe_high_iso);
}

int img_dsp_core_get_cfg_status(const img_dsp_cfg_id *cfg, img_dsp_cfg_status *out)
{
	void *hdr;
	if (!out)
		return -1;
	int rc = img_dsp_core_utility_get_config(cfg, &hdr);
	if (rc != 0)
		return rc;
	img_dsp_iso_cfg *c = (img_dsp_iso_cfg *)hdr;
	ik_lock(hdr);
	out->settings = c->main.bytes;
	out->state = c->state;
	out->AlgoMode = c->AlgoMode;
	if (c->AlgoMode != DSP_IMG_CORE_ALGO_MODE_LISO && c->AlgoMode != DSP_IMG_CORE_ALGO_MODE_HISO) {
		IK_ERROR("Invalid algo_mode %d\n", c->AlgoMode);
		ik_unlock(hdr);
		return 0;
	}
	out->update_mask = &c->update_mask;
	out->zero = 0;
	ik_unlock(hdr);
	return 0;
}

/* ---- tag, diagnostic case id, size information ------------------------ */

int img_dsp_core_utility_set_iso_cfg_tag(const img_dsp_mode *mode, uint32_t tag)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	((ik_ctx_head *)c)->iso_cfg_tag = tag;
	return 0;
}

int img_dsp_core_utility_get_iso_cfg_tag(const img_dsp_mode *mode, uint32_t *out)
{
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	ik_lock(c);
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		ik_unlock(c);
		return -1;
	}
	*out = ((ik_ctx_head *)c)->iso_cfg_tag;
	ik_unlock(c);
	return 0;
}

int img_dsp_core_utility_set_diag_case_id(const img_dsp_mode *mode, uint8_t id)
{
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	((ik_ctx_head *)c)->diag_case_id = id;
	return 0;
}

int img_dsp_core_utility_get_diag_case_id(const img_dsp_mode *mode, uint8_t *out)
{
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	*out = ((ik_ctx_head *)c)->diag_case_id;
	return 0;
}

/* A level k is usable when the decimation it gives leaves 33 to 99 units. */
static bool level_usable(uint16_t w, uint8_t k)
{
	uint8_t f[3];
	img_dsp_core_calc_decimation_factors(w, k, f);
	uint32_t p = (uint32_t)f[0] * f[1] * f[2];
	if (p == 0)
		return false;
	uint32_t units = (w + p - 1) / p;
	return units >= 33 && units <= 99;
}

int img_dsp_core_set_size_info(const img_dsp_mode *mode, const img_dsp_size_info *info)
{
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	if (!info)
		return -1;
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	ik_ctx_body *body = ik_body(mode->Pipe, c);
	ik_memcpy(&body->size_info, info, sizeof(*info));
	uint16_t w = info->width_in;
	for (uint8_t k = 1; k <= 31; k++) {
		if (level_usable(w, k)) {
			body->size_level_low = k;
			break;
		}
	}
	for (uint8_t k = 31; k >= 2; k--) {
		if (level_usable(w, k)) {
			body->size_level_high = k;
			break;
		}
	}
	return 0;
}

/* ---- HDR history and table addresses ---------------------------------- */

int img_dsp_core_hdr_update_cfg_history(const img_dsp_mode *mode)
{
	img_dsp_cfg_id cid = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *hdr;
	int rc = img_dsp_core_utility_get_hdr_config(&cid, &hdr);
	if (rc != 0) {
		IK_WARN("call img_dsp_core_utility_get_hdr_config() Fail\n");
		return rc;
	}
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	void *c;
	rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	ik_ctx_head *h = (ik_ctx_head *)c;
	img_dsp_hdr_cfg *cfg = (img_dsp_hdr_cfg *)hdr;
	uint32_t phys = ik_phys(cfg);
	h->active_hdr_cfg = mode->ConfigId;
	if (h->last_hdr_cfg == 0) {
		cfg->prev_cfg = 0;
	} else {
		img_dsp_hdr_cfg *last = (img_dsp_hdr_cfg *)ik_user(h->last_hdr_cfg);
		last->next_cfg = phys;
		cfg->prev_cfg = h->last_hdr_cfg;
	}
	cfg->next_cfg = 0;
	h->last_hdr_cfg = phys;
	return 0;
}

typedef uint32_t (*addr_conv)(uint32_t);

static uint32_t to_phys(uint32_t a)
{
	return ik_phys((const void *)(uintptr_t)a);
}
static uint32_t to_user(uint32_t a)
{
	return (uint32_t)(uintptr_t)ik_user(a);
}

static void convert_words(uint32_t *cmd, unsigned first, unsigned last, addr_conv conv)
{
	for (unsigned w = first; w <= last; w++) {
		if (cmd[w] != 0)
			cmd[w] = conv(cmd[w]);
	}
}

static int convert_blend_cmd(uint32_t *cmd, unsigned, void *arg)
{
	addr_conv conv = *(const addr_conv *)arg;
	if (cmd[0] == IK_CMD_AMPLIFIER_LINEARIZATION)
		convert_words(cmd, 10, 17, conv);
	else if (cmd[0] == IK_CMD_DGAIN_VIGNETTE_COMPENSATION)
		convert_words(cmd, 2, 5, conv);
	return 0;
}

static int convert_preblend_cmd(uint32_t *cmd, unsigned, void *arg)
{
	if (cmd[0] != IK_CMD_HDR_PREBLEND_ALPHA)
		return 0;
	convert_words(cmd, 2, 2, *(const addr_conv *)arg);
	return 1;
}

static int convert_blend_queue(const char *fn, uint32_t queue, addr_conv conv)
{
	return ik_walk_cmd_queue(fn, queue, IK_HDR_QUEUE_CMDS, convert_blend_cmd, &conv);
}

static int convert_preblend_queue(const char *fn, uint32_t queue, addr_conv conv)
{
	return ik_walk_cmd_queue(fn, queue, IK_HDR_QUEUE_CMDS, convert_preblend_cmd, &conv);
}

static int hdr_tbl_addr(const char *fn, const img_dsp_mode *mode, addr_conv conv, bool rewrite_header)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		ik_print("[IK][Warning]%s() %d not support pipe %d\n", fn, __LINE__, mode->Pipe);
		return -1;
	}
	img_dsp_cfg_id cid = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *hdr;
	int rc = img_dsp_core_utility_get_hdr_config(&cid, &hdr);
	if (rc != 0)
		return rc;
	img_dsp_hdr_cfg *cfg = (img_dsp_hdr_cfg *)hdr;
	for (unsigned s = 0; s < 3; s++) {
		if (rewrite_header) {
			convert_words(cfg->blend_cmds_daddr[s], 0, 0, conv);
			convert_words(cfg->preblend_cmds_daddr[s], 0, 0, conv);
			convert_words(cfg->blend_cmds_daddr[s], 1, 1, conv);
		}
		/* A queue outside the region is skipped; the others still convert. */
		for (unsigned k = 0; k < 2; k++) {
			if (convert_blend_queue(fn, cfg->blend_cmds_daddr[s][k], conv) != 0)
				rc = -1;
			if (convert_preblend_queue(fn, cfg->preblend_cmds_daddr[s][k], conv) != 0)
				rc = -1;
		}
	}
	return rc;
}

extern "C" int vors_img_dsp_hdr_cfg_use_physical_tbl_addr(const img_dsp_mode *mode)
{
	return hdr_tbl_addr(__func__, mode, to_phys, false);
}

extern "C" int vors_img_dsp_hdr_cfg_use_virtual_tbl_addr(const img_dsp_mode *mode)
{
	return hdr_tbl_addr(__func__, mode, to_user, true);
}

extern "C" int vors_img_dsp_print_config_update_history(const img_dsp_mode *mode)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO)
		return 0;
	void *c;
	int rc = mode_context(mode, &c);
	if (rc != 0)
		return rc;
	const ik_ctx_head *h = (const ik_ctx_head *)c;
	if (h->last_iso_cfg != 0) {
		ik_print("[IK]isocfg addr: 0x%x\n", (unsigned)h->last_iso_cfg);
		const img_dsp_iso_cfg *cfg = (const img_dsp_iso_cfg *)ik_user(h->last_iso_cfg);
		if (cfg->next_cfg != 0) {
			IK_ERROR("next iso cfg should be null\n");
			return rc;
		}
		if (cfg->prev_cfg != 0)
			ik_print("[IK]prev isocfg addr: 0x%x\n", (unsigned)cfg->prev_cfg);
	}
	if (h->last_hdr_cfg != 0) {
		ik_print("[IK]hdrcfg addr: 0x%x\n", (unsigned)h->last_hdr_cfg);
		const img_dsp_hdr_cfg *cfg = (const img_dsp_hdr_cfg *)ik_user(h->last_hdr_cfg);
		if (cfg->next_cfg != 0) {
			IK_ERROR("next hdr cfg should be null\n");
			return rc;
		}
		if (cfg->prev_cfg != 0)
			ik_print("[IK]prev hdrcfg addr: 0x%x\n", (unsigned)cfg->prev_cfg);
	}
	return rc;
}
