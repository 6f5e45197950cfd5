/*
 * Posting a low-ISO configuration: build it, bring every address inside it
 * to physical form and hand its three parts to the video driver.
 */
#include "ik_post.h"

#include "ik_cfg_print.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_liso.h"
#include "qvd_ioctl.h"

#include <string.h>

namespace
{

enum conv_dir { TO_USER, TO_PHYS };

/* The configuration a mode names, NULL when there is none. */
img_dsp_iso_cfg *mode_cfg(const img_dsp_mode *mode)
{
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *hdr;
	if (img_dsp_core_utility_get_config(&id, &hdr) != 0)
		return NULL;
	return (img_dsp_iso_cfg *)hdr;
}

/* Field offsets within the main part of the tables both layouts share. */
#define MAIN(member) ((uint32_t)offsetof(ik_liso_main_basic, member))
#define ADV(member) ((uint32_t)offsetof(ik_liso_main_advanced, member))

const uint32_t basic_fields[] = {
    MAIN(color.gain_curve_table_addr),
    MAIN(color.gain_curver_addr),
    MAIN(color.cc_reg),
    MAIN(color.cc_3d),
    MAIN(color.cc_out),
    MAIN(liso.dark_pixel_threshold),
    MAIN(liso.hot_pixel_threshold),
    MAIN(liso.chroma_median_k_table),
    MAIN(flow.video_mctf),
    MAIN(flow.final_sharpen),
};
const uint32_t sharpen_fields[] = {MAIN(liso.sharpen.fir1), MAIN(liso.sharpen.fir2),
                                   MAIN(liso.sharpen.coring)};
const uint32_t adv_fields[] = {
    ADV(cliso.mcts_MoASF),  ADV(cliso.CC_3d_motion_combine), ADV(cliso.CC_out_motion_combine),
    ADV(cliso.video_mctfB), ADV(cliso.final_sharpen),
};
const uint32_t adv_phys_fields[] = {
    ADV(liso.batch_cmd_queue_daddr),  ADV(cliso.motion_detect_fir1),       ADV(cliso.mctf_passthrough),
    ADV(cliso.CC_reg_motion_combine), ADV(cliso.CC_reg_motion_combine_up), ADV(cliso.CC_3d_motion_combine_up),
};

uint32_t convert(uint32_t a, enum conv_dir dir, ik_mem_bases b)
{
	if (a == 0)
		return 0;
	if (dir == TO_PHYS)
		return img_dsp_core_get_phys_addr((const void *)(uintptr_t)a, b.user, b.phys);
	uint64_t u = (uint64_t)(uintptr_t)img_dsp_core_get_user_addr(a, b.user, b.phys);
	/* A field is 32 bits: a mapping above 4 GiB keeps its physical form,
	 * which every reader translates anyway. */
	return u > 0xFFFFFFFFull ? a : (uint32_t)u;
}

void convert_field(uint8_t *base, uint32_t offset, enum conv_dir dir, ik_mem_bases b)
{
	uint32_t v;
	memcpy(&v, base + offset, 4);
	v = convert(v, dir, b);
	memcpy(base + offset, &v, 4);
}

void convert_list(uint8_t *base, const uint32_t *fields, size_t n, enum conv_dir dir, ik_mem_bases b)
{
	for (size_t i = 0; i < n; i++)
		convert_field(base, fields[i], dir, b);
}

#define CONVERT_LIST(base, list, dir, b)                                                                     \
	convert_list((base), (list), sizeof(list) / sizeof((list)[0]), (dir), (b))

int convert_main(const char *fn, const img_dsp_mode *mode, enum conv_dir dir, ik_mem_bases b)
{
	if (!ik_video_or_still(mode->Pipe)) {
		ik_print("[IK][Error]%s() %d does not yet support pipe %d\n", fn, __LINE__, mode->Pipe);
		return -1;
	}
	img_dsp_iso_cfg *cfg = mode_cfg(mode);
	if (!cfg)
		return -1;
	uint8_t *m = cfg->main.bytes;
	convert_field(m, MAIN(common.vignette_gain), dir, b);
	CONVERT_LIST(m, basic_fields, dir, b);
	img_dsp_ctx_id cid = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&cid, &ctx) != 0)
		return -1;
	if (ik_body(mode->Pipe, ctx)->blk.liso_process_select[0] <= 1)
		CONVERT_LIST(m, sharpen_fields, dir, b);
	if (cfg->main.basic.share.adv_mode == IK_ADV_MODE_ADVANCED) {
		CONVERT_LIST(m, adv_fields, dir, b);
		if (dir == TO_PHYS)
			CONVERT_LIST(m, adv_phys_fields, dir, b);
	}
	return 0;
}

int hdr_cmd_to_phys(uint32_t *cmd, unsigned, void *arg)
{
	const ik_mem_bases *b = (const ik_mem_bases *)arg;
	unsigned first = 0, last = 0;
	if (cmd[0] == IK_CMD_DGAIN_VIGNETTE_COMPENSATION) {
		first = 2;
		last = 5;
	} else if (cmd[0] == IK_CMD_AMPLIFIER_LINEARIZATION) {
		first = 10;
		last = 17;
	}
	for (unsigned w = first; last && w <= last; w++)
		cmd[w] = convert(cmd[w], TO_PHYS, *b);
	return 0;
}

int ce_cmd_to_phys(uint32_t *cmd, unsigned, void *arg)
{
	const ik_mem_bases *b = (const ik_mem_bases *)arg;
	if (cmd[0] == IK_CMD_CE_CORING_CONFIG)
		cmd[offsetof(ik_ce_coring_config_cmd, coring_table_addr) / 4] =
		    convert(cmd[offsetof(ik_ce_coring_config_cmd, coring_table_addr) / 4], TO_PHYS, *b);
	else if (cmd[0] == IK_CMD_CE_OUTPUT_TABLE)
		cmd[offsetof(ik_ce_output_table_cmd, output_table_addr) / 4] =
		    convert(cmd[offsetof(ik_ce_output_table_cmd, output_table_addr) / 4], TO_PHYS, *b);
	else if (cmd[0] == IK_CMD_CE_UPSAMPLING)
		cmd[offsetof(ik_ce_upsampling_cmd, ce_upsamp_coeff_addr) / 4] =
		    convert(cmd[offsetof(ik_ce_upsampling_cmd, ce_upsamp_coeff_addr) / 4], TO_PHYS, *b);
	return 0;
}

/* The debug hooks of the post-execute call (log id 72). */
void post_debug(const img_dsp_mode *mode, const void *caller)
{
	if (!img_dsp_debug_log_enable(LOG_POST_EXECUTE))
		return;
	uint8_t flags = img_dsp_debug_flags();
	if (flags & IMG_DSP_DEBUG_PRINT_CALLER)
		ik_print("[IK]%s Caller: 0x%x\n", "img_dsp_low_iso_post_exe_cfg",
		         (unsigned)(uintptr_t)caller);
	if (flags & IMG_DSP_DEBUG_PRINT_FIELDS)
		img_dsp_print_mode(mode);
	if (flags & IMG_DSP_DEBUG_WRITE_LOG) {
		const void *data[1] = {mode};
		const uint32_t sizes[1] = {sizeof(*mode)};
		uint32_t tag = mode->ContextId;
		img_dsp_debug_log_write(LOG_POST_EXECUTE, 1, data, sizes, &tag);
	}
}

/* Sends one part; a failure is reported in `caller`'s name. */
int post_part_as(const char *caller, int fd, unsigned long req, const img_dsp_mode *mode, uint32_t kind,
                 const void *part, uint32_t mask)
{
	qvd_multi_chan_cfg rec;
	memset(&rec, 0, sizeof(rec));
	rec.ctx_id = mode->ContextId;
	rec.kind = kind;
	rec.addr = (uint64_t)(uintptr_t)part;
	rec.update_mask = mask;
	if (ik_fn()->ioctl(fd, req, &rec) >= 0)
		return 0;
	ik_print("[IK][Error]%s() %d call ioctl %s fail\n", caller, __LINE__,
	         req == QVD_IOC_IMG_SET_MULTI_CHAN_CFG ? "QVD_IOC_IMG_SET_MULTI_CHAN_CFG"
	                                               : "QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG");
	return -1;
}

int post_part(int fd, unsigned long req, const img_dsp_mode *mode, uint32_t kind, const void *part,
              uint32_t mask)
{
	return post_part_as(__func__, fd, req, mode, kind, part, mask);
}

} // namespace

int img_dsp_post_cfg_part(const char *caller, int fd, unsigned long req, const img_dsp_mode *mode,
                          uint32_t kind, const void *part, uint32_t mask)
{
	return post_part_as(caller, fd, req, mode, kind, part, mask);
}

int img_dsp_low_iso_cfg_convert_to_virtual_addr(const img_dsp_mode *mode, ik_mem_bases bases)
{
	return convert_main(__func__, mode, TO_USER, bases);
}

int img_dsp_low_iso_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases)
{
	return convert_main(__func__, mode, TO_PHYS, bases);
}

int img_dsp_low_iso_single_exp_hdr_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO && mode->Pipe != IMG_DSP_PIPE_STILL) {
		IK_ERROR("does not yet support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *rec;
	if (img_dsp_core_utility_get_hdr_config(&id, &rec) != 0)
		return -1;
	img_dsp_hdr_cfg *hdr = (img_dsp_hdr_cfg *)rec;
	int rc = 0;
	for (unsigned k = 0; k < 2; k++) {
		if (ik_walk_cmd_queue(__func__, hdr->blend_cmds_daddr[0][k], IK_HDR_QUEUE_CMDS,
		                      hdr_cmd_to_phys, &bases) != 0)
			rc = -1;
		hdr->blend_cmds_daddr[0][k] = convert(hdr->blend_cmds_daddr[0][k], TO_PHYS, bases);
	}
	return rc;
}

int img_dsp_low_iso_ce_cfg_convert_to_physical_addr(const img_dsp_mode *mode, ik_mem_bases bases)
{
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not yet support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_iso_cfg *cfg = mode_cfg(mode);
	if (!cfg)
		return -1;
	ik_liso_ce_part *ce = &cfg->ce;
	int rc = ik_walk_cmd_queue(__func__, ce->contrast_enhancement_cmd_queue_daddr, IK_CE_QUEUE_SLOTS,
	                           ce_cmd_to_phys, &bases);
	ce->contrast_enhancement_cmd_queue_daddr =
	    convert(ce->contrast_enhancement_cmd_queue_daddr, TO_PHYS, bases);
	return rc;
}

int img_dsp_low_iso_send_cfg_to_dsp(int fd, const img_dsp_mode *mode)
{
	if (mode->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("Incorrect pipe: %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_iso_cfg *cfg = mode_cfg(mode);
	if (!cfg)
		return -1;
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	bool want_hdr = !(mode->FuncMode & IMG_DSP_FUNC_NO_HDR);
	void *hdr_cfg = NULL;
	if (want_hdr && img_dsp_core_utility_get_hdr_config(&id, &hdr_cfg) != 0)
		hdr_cfg = NULL;
	if (want_hdr && !hdr_cfg) {
		IK_ERROR("p_hdr_cfg is NULL\n");
		return -1;
	}
	bool update = cfg->prev_cfg != 0;
	unsigned long req = update ? QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG : QVD_IOC_IMG_SET_MULTI_CHAN_CFG;
	uint32_t mask = update ? (cfg->update_mask & IK_MASK_TO_DRIVER) : 0xFFFFFFFFu;
	if (post_part(fd, req, mode, QVD_CFG_KIND_CE, &cfg->ce, 0) != 0)
		return -1;
	if (want_hdr && post_part(fd, req, mode, QVD_CFG_KIND_HDR, hdr_cfg, 0) != 0)
		return -1;
	return post_part(fd, req, mode, QVD_CFG_KIND_MAIN, cfg->main.bytes, mask);
}

int img_dsp_low_iso_post_exe_cfg(int fd, const img_dsp_mode *mode)
{
	post_debug(mode, __builtin_extract_return_addr(__builtin_return_address(0)));
	img_dsp_ctx_id cid = {mode->Pipe, mode->ContextId, {0, 0, 0}};
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *ctx, *hdr_cfg = NULL;
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_iso_cfg *cfg = mode_cfg(mode);
	if (img_dsp_core_utility_get_context(&cid, &ctx) != 0 || !cfg)
		return -1;
	bool hdr_part = mode->Pipe == IMG_DSP_PIPE_VIDEO && !(mode->FuncMode & IMG_DSP_FUNC_NO_HDR);
	if (hdr_part && img_dsp_core_utility_get_hdr_config(&id, &hdr_cfg) != 0)
		hdr_cfg = NULL;
	ik_mem_bases bases = ik_mem_get_bases();

	img_dsp_low_iso_cfg_convert_to_virtual_addr(mode, bases);
	int rc = img_dsp_core_low_iso_post_exe_cfg(mode);
	if (img_dsp_debug_log_enable(LOG_POST_EXECUTE)) {
		img_dsp_low_iso_print_sections(cfg);
		img_dsp_low_iso_print_ce_part(cfg);
		if (hdr_cfg)
			img_dsp_core_utility_print_hdrcfg((const img_dsp_hdr_cfg *)hdr_cfg);
	}
	img_dsp_low_iso_cfg_convert_to_physical_addr(mode, bases);
	if (hdr_cfg)
		img_dsp_low_iso_single_exp_hdr_cfg_convert_to_physical_addr(mode, bases);
	img_dsp_low_iso_ce_cfg_convert_to_physical_addr(mode, bases);

	if (cfg->state != DSP_IMG_CORE_CFG_STATE_POSTEXE) {
		IK_WARN("State %d != DSP_IMG_CORE_CFG_STATE_POSTEXE\n", cfg->state);
		return rc != 0 ? rc : -1;
	}
	if (img_dsp_low_iso_send_cfg_to_dsp(fd, mode) != 0) {
		IK_WARN("call img_dsp_low_iso_send_cfg_to_dsp fail\n");
		return -1;
	}
	return 0;
}

int img_dsp_low_iso_pre_exe_cfg(const img_dsp_mode *mode)
{
	if (mode->Pipe != IMG_DSP_PIPE_STILL) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_iso_cfg *cfg = mode_cfg(mode);
	if (!cfg)
		return -1;
	if (cfg->state != DSP_IMG_CORE_CFG_STATE_INIT) {
		IK_WARN("State %d != DSP_IMG_CORE_CFG_STATE_INIT\n", cfg->state);
		return -1;
	}
	if (cfg->AlgoMode != DSP_IMG_CORE_ALGO_MODE_LISO) {
		IK_WARN("AlgoMode %d != DSP_IMG_CORE_ALGO_MODE_LISO\n", cfg->AlgoMode);
		return 0;
	}
	/* The still pipe's low-ISO pre-execute work has nothing to do. */
	cfg->state = DSP_IMG_CORE_CFG_STATE_PREEXE;
	return 0;
}
