/*
 * Tuning-data tools: a configuration and its tables written as one amalgam
 * image, such an image split into one file per table (the video-MCTF and
 * final-sharpen tables also into their named parts), and readers that show
 * a main part, a video-MCTF table or a final-sharpen table saved to a file.
 * Everything read from a file is bounded by what was read: a table of
 * contents names offsets, it is not trusted to keep within the file.
 */
#include "ik_tuning_files.h"

#include "ik_arch.h"
#include "ik_cfg_print.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_files.h"
#include "ik_helpers.h"
#include "ik_post.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace
{

/* Where a table of the amalgam comes from when a configuration is dumped. */
enum am_source : uint8_t {
	SRC_NONE,           /* not available: left zero */
	SRC_MAIN,           /* a table field of the main part (`arg`: its offset) */
	SRC_AMPLIN,         /* the lookup table of the HDR part's amp-linearization (`arg`: queue 0 or 1) */
	SRC_PREBLEND_ALPHA, /* the alpha table of the HDR part's first pre-blend queue */
	SRC_CE,             /* a table of the contrast-enhancement queue (`arg`: code, `arg2`: field) */
};

/* Tables split further into their named parts. */
enum am_split : uint8_t { SPLIT_NONE, SPLIT_MCTF, SPLIT_FS };

struct am_entry {
	const char *stem; /* the file name between the prefix and ".bin" */
	uint32_t size;
	uint8_t split;
	uint8_t source;
	uint32_t arg;
	uint32_t arg2;
};

#define BASIC(member) ((uint32_t)offsetof(ik_liso_main_basic, member))

const am_entry basic_entries[IK_AMALGAM_TABLES] = {
    {"01_cc_reg", IK_CC_REG_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(color.cc_reg), 0},
    {"02_cc_3d_a", IK_CC_3D_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(color.cc_3d), 0},
    {"03_cc_out", IK_CC_OUT_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(color.cc_out), 0},
    {"04_thresh_dark", IK_PIXEL_THRESH_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.dark_pixel_threshold), 0},
    {"05_thresh_hot", IK_PIXEL_THRESH_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.hot_pixel_threshold), 0},
    {"06_local_exposure_gain", IK_LE_GAIN_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(color.gain_curve_table_addr), 0},
    {"07_cmf_table", IK_CHROMA_MEDIAN_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.chroma_median_k_table), 0},
    {"08_chroma_scale_gain", IK_CS_GAIN_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(color.gain_curver_addr), 0},
    {"09_fir1_A", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.sharpen.fir1), 0},
    {"10_fir2_A", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.sharpen.fir2), 0},
    {"11_coring_A", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(liso.sharpen.coring), 0},
    {"12_video_mctf", IK_VIDEO_MCTF_TBL_SIZE, SPLIT_MCTF, SRC_MAIN, BASIC(flow.video_mctf), 0},
    {"13_final_sharpen", IK_FINAL_SHARPEN_TBL_SIZE, SPLIT_FS, SRC_MAIN, BASIC(flow.final_sharpen), 0},
    {"14_amplin_table0", IK_AMP_LINEAR_LUT_SIZE, SPLIT_NONE, SRC_AMPLIN, 0, 0},
    {"15_amplin_table1", IK_AMP_LINEAR_LUT_SIZE, SPLIT_NONE, SRC_AMPLIN, 1, 0},
    {"16_preblend_alpha", IK_HDR_ALPHA_PACKED_SIZE, SPLIT_NONE, SRC_PREBLEND_ALPHA, 0, 0},
    {"17_ce_coring", IK_CE_CORING_TBL_SIZE, SPLIT_NONE, SRC_CE, IK_CMD_CE_CORING_CONFIG,
     offsetof(ik_ce_coring_config_cmd, coring_table_addr)},
    {"18_ce_output_table", IK_CE_OUTPUT_TBL_SIZE, SPLIT_NONE, SRC_CE, IK_CMD_CE_OUTPUT_TABLE,
     offsetof(ik_ce_output_table_cmd, output_table_addr)},
    {"19_ce_upsamp_coeff", IK_CE_UPSAMP_COEFF_SIZE, SPLIT_NONE, SRC_CE, IK_CMD_CE_UPSAMPLING,
     offsetof(ik_ce_upsampling_cmd, ce_upsamp_coeff_addr)},
    {"20_vignette", 4 * IK_VIGNETTE_TBL_SIZE, SPLIT_NONE, SRC_MAIN, BASIC(common.vignette_gain), 0},
    {"21_ca_warp_h", 3072, SPLIT_NONE, SRC_NONE, 0, 0},
    {"22_ca_warp_v", 3072, SPLIT_NONE, SRC_NONE, 0, 0},
    {"23_geo_warp_h", 3072, SPLIT_NONE, SRC_MAIN,
     BASIC(common.geo_warp_control.warp_horizontal_table_address), 0},
    {"24_geo_warp_v", 3072, SPLIT_NONE, SRC_MAIN, BASIC(common.geo_warp_control.warp_vertical_table_address),
     0},
};

/* The advanced layout's files; its amalgam comes from the tuning tools. */
const am_entry advanced_entries[IK_AMALGAM_TABLES] = {
    {"00_vignette_gain", 4 * IK_VIGNETTE_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"01_local_exposure", IK_LE_GAIN_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"02_chroma_scale", IK_CS_GAIN_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"03_cc_reg", IK_CC_REG_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"04_cc_3d", IK_CC_3D_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"05_cc_out", IK_CC_OUT_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"06_thresh_dark", IK_PIXEL_THRESH_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"07_thresh_hot", IK_PIXEL_THRESH_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"08_cmf_table", IK_CHROMA_MEDIAN_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"09_fir1", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"10_fir2", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"11_coring", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"12_video_mctf", IK_VIDEO_MCTF_TBL_SIZE, SPLIT_MCTF, SRC_NONE, 0, 0},
    {"13_final_sharpen", IK_FINAL_SHARPEN_TBL_SIZE, SPLIT_FS, SRC_NONE, 0, 0},
    {"14_motion_detect_fir1", IK_SHP_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"15_mctf_passthrough", IK_VIDEO_MCTF_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"16_mcts_MoASF", IK_FINAL_SHARPEN_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"17_CC_reg_motion_combine", IK_CC_REG_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"18_CC_3d_motion_combine", IK_CC_3D_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"19_CC_out_motion_combine", IK_CC_OUT_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"20_CC_reg_motion_combine_up", IK_CC_REG_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"21_CC_3d_motion_combine_up", IK_CC_3D_TBL_SIZE, SPLIT_NONE, SRC_NONE, 0, 0},
    {"22_video_mctfB", IK_VIDEO_MCTF_TBL_SIZE, SPLIT_MCTF, SRC_NONE, 0, 0},
    {"23_final_sharpenB", IK_FINAL_SHARPEN_TBL_SIZE, SPLIT_FS, SRC_NONE, 0, 0},
};

/* Indexes of the basic amalgam's last tables: the CA-warp pair, then the
 * geometric-warp pair that closes the image. */
#define AM_CA_WARP_H 20u
#define AM_GEO_WARP_H 22u

/* The basic amalgam: the tables one after another from the end of the
 * table of contents, the configuration record after the CA-warp tables,
 * the geometric-warp tables at the very end, zeros between. */
void basic_layout(ik_amalgam_toc *toc)
{
	uint32_t at = sizeof(ik_amalgam_toc);
	for (unsigned i = 0; i < AM_GEO_WARP_H; i++) {
		toc->table[i] = at;
		at += basic_entries[i].size;
	}
	toc->isocfg = at;
	toc->table[AM_GEO_WARP_H] = IK_AMALGAM_SIZE - 2 * 3072u;
	toc->table[AM_GEO_WARP_H + 1] = IK_AMALGAM_SIZE - 3072u;
}

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

/* ---- the amalgam dump ------------------------------------------------------- */

struct find_table {
	uint32_t code;
	uint32_t field;
	uint32_t addr;
};

int find_table_visit(uint32_t *cmd, unsigned, void *arg)
{
	find_table *f = (find_table *)arg;
	if (cmd[0] != f->code)
		return 0;
	f->addr = rd32((const uint8_t *)cmd + f->field);
	return 1;
}

/* The table that the first command `code` of a queue names, 0 when none. */
uint32_t queue_table(const char *caller, uint32_t queue, unsigned slots, uint32_t code, uint32_t field)
{
	find_table f = {code, field, 0};
	ik_walk_cmd_queue(caller, queue, slots, find_table_visit, &f);
	return f.addr;
}

/* The address of a table of the configuration, 0 when it has none. */
uint32_t source_addr(const am_entry &e, const img_dsp_iso_cfg *cfg, const img_dsp_hdr_cfg *hdr)
{
	switch (e.source) {
	case SRC_MAIN:
		return rd32(cfg->main.bytes + e.arg);
	case SRC_AMPLIN:
		return hdr ? queue_table(__func__, hdr->blend_cmds_daddr[0][e.arg], IK_HDR_QUEUE_CMDS,
		                         IK_CMD_AMPLIFIER_LINEARIZATION, 40)
		           : 0;
	case SRC_PREBLEND_ALPHA:
		return hdr ? queue_table(__func__, hdr->preblend_cmds_daddr[0][0], IK_HDR_QUEUE_CMDS,
		                         IK_CMD_HDR_PREBLEND_ALPHA, 8)
		           : 0;
	case SRC_CE:
		return queue_table(__func__, cfg->ce.contrast_enhancement_cmd_queue_daddr, IK_CE_QUEUE_SLOTS,
		                   e.arg, e.arg2);
	default:
		return 0;
	}
}

void assemble(uint8_t *img, const img_dsp_iso_cfg *cfg, const img_dsp_hdr_cfg *hdr)
{
	ik_amalgam_toc toc;
	memset(&toc, 0, sizeof(toc));
	toc.version_number = IK_AMALGAM_VERSION;
	toc.diag_case_id = cfg->main.basic.share.diag_case_id;
	toc.bayer_pattern = (uint8_t)((cfg->main.basic.common.word0 & IK_COMMON_BAYER_PATTERN_MASK) >>
	                              IK_COMMON_BAYER_PATTERN_SHIFT);
	basic_layout(&toc);
	memcpy(img, &toc, sizeof(toc));
	/* What the DSP reads of the record, without the library's bookkeeping. */
	uint8_t *rec = img + toc.isocfg;
	memcpy(rec + offsetof(img_dsp_iso_cfg, main), &cfg->main,
	       offsetof(img_dsp_iso_cfg, src_cfg_id) - offsetof(img_dsp_iso_cfg, main));
	for (unsigned i = 0; i < IK_AMALGAM_TABLES; i++) {
		const am_entry &e = basic_entries[i];
		uint32_t addr = source_addr(e, cfg, hdr);
		const uint8_t *t = addr ? ik_region_span(addr, e.size) : NULL;
		if (t)
			memcpy(img + toc.table[i], t, e.size);
	}
	/* The CA-warp tables are not kept in this form. */
	ik_print("[IK][Error]%s() %d vors_img_dsp_low_iso_amalgam_data_dump CA data is not ready!\n",
	         "vors_img_dsp_low_iso_amalgam_data_dump", __LINE__);
}

static_assert(sizeof(ik_amalgam_toc) + IK_ISO_CFG_SIZE <= IK_AMALGAM_SIZE, "amalgam");

} // namespace

extern "C" int vors_img_dsp_low_iso_amalgam_data_dump(const img_dsp_mode *mode, const char *file)
{
	if (!mode || !file)
		return -1;
	if (!ik_video_or_still(mode->Pipe)) {
		IK_ERROR("does not support pipe %d\n", mode->Pipe);
		return -1;
	}
	img_dsp_cfg_id id = {mode->Pipe, mode->ConfigId, {0, 0, 0}};
	void *rec;
	if (img_dsp_core_utility_get_config(&id, &rec) != 0) {
		IK_WARN("Cannot get config\n");
		return -1;
	}
	const img_dsp_iso_cfg *cfg = (const img_dsp_iso_cfg *)rec;
	const ik_pipe_layout *pl = ik_pipe(mode->Pipe);
	bool hdr_part = mode->Pipe == IMG_DSP_PIPE_VIDEO && !(mode->FuncMode & IMG_DSP_FUNC_NO_HDR) &&
	                mode->ConfigId < pl->hdr_num;
	void *hdr = NULL;
	if (hdr_part && img_dsp_core_utility_get_hdr_config(&id, &hdr) != 0)
		hdr = NULL;
	ik_mem_bases bases = ik_mem_get_bases();
	img_dsp_low_iso_cfg_convert_to_virtual_addr(mode, bases);

	std::vector<uint8_t> img(IK_AMALGAM_SIZE, 0);
	assemble(img.data(), cfg, (const img_dsp_hdr_cfg *)hdr);
	int rc = 0;
	if (ik_write_file(file, img.data(), img.size(), false) != (long)img.size()) {
		IK_WARN("call write file %s\n", file);
		rc = -1;
	}
	/* The DSP reads physical addresses, whatever became of the file. */
	img_dsp_low_iso_cfg_convert_to_physical_addr(mode, bases);
	img_dsp_low_iso_ce_cfg_convert_to_physical_addr(mode, bases);
	if (hdr)
		img_dsp_low_iso_single_exp_hdr_cfg_convert_to_physical_addr(mode, bases);
	return rc;
}

/* ---- splitting an amalgam --------------------------------------------------- */

namespace
{

/* An amalgam is read up to this size; tables beyond what was read are
 * refused one by one. */
#define AM_READ_LIMIT (1u << 20)

/* Update bits of the tables 01 to 11 in the main part: the word's offset,
 * its width and the bit (`color.update_all` reads as all set when it is
 * all ones). */
struct am_update_bit {
	const char *stem;
	uint16_t off;
	uint8_t bytes;
	uint8_t bit;
};

#define LISO_UPDATE BASIC(liso.update_flags)
#define SHARPEN_FLAGS BASIC(liso.sharpen.flags)
#define COLOR_UPDATE BASIC(color.update_all)

const am_update_bit update_bits[] = {
    {"01_cc_reg", COLOR_UPDATE, 4, 6},    {"02_cc_3d_a", COLOR_UPDATE, 4, 7},
    {"03_cc_out", COLOR_UPDATE, 4, 8},    {"04_thresh_dark", LISO_UPDATE, 2, 1},
    {"05_thresh_hot", LISO_UPDATE, 2, 0}, {"06_local_exposure_gain", COLOR_UPDATE, 4, 3},
    {"07_cmf_table", LISO_UPDATE, 2, 7},  {"08_chroma_scale_gain", COLOR_UPDATE, 4, 4},
    {"09_fir1_A", SHARPEN_FLAGS, 1, 2},   {"10_fir2_A", SHARPEN_FLAGS, 1, 3},
    {"11_coring_A", SHARPEN_FLAGS, 1, 4},
};

void print_update_bits(const uint8_t *main)
{
	for (const am_update_bit &u : update_bits) {
		uint32_t w = 0;
		memcpy(&w, main + u.off, u.bytes);
		int set = u.off == COLOR_UPDATE && w == 0xFFFFFFFFu ? 1 : (int)((w >> u.bit) & 1u);
		ik_print("[IK]isocfg.%s_update: %d\n", u.stem, set);
	}
	uint32_t masks = rd32(main + BASIC(flow.update_masks));
	ik_print("[IK]isocfg.video_mctf_update_mask: %x\n", masks & 0xFFFFu);
	ik_print("[IK]isocfg.final_sharpen_update_mask: %x\n", masks >> 16);
}

/* Writes one file of a split; a short write makes the result -1. */
int write_piece(const char *fn, const char *path, const uint8_t *data, uint32_t size)
{
	if (ik_write_file(path, data, size, false) == (long)size)
		return 0;
	ik_print("[IK][Warning]%s() %d call write file %s fail\n", fn, __LINE__, path);
	return -1;
}

int write_parts(const char *fn, const char *prefix, const am_entry &e, const uint8_t *table)
{
	const ik_table_piece *pieces = e.split == SPLIT_MCTF ? ik_mctf_pieces : ik_fs_pieces;
	unsigned n = e.split == SPLIT_MCTF ? IK_MCTF_PIECES : IK_FS_PIECES;
	int rc = 0;
	for (unsigned i = 0; i < n; i++) {
		char path[512];
		snprintf(path, sizeof(path), "%s_%s_%s.bin", prefix, e.stem, pieces[i].name);
		rc |= write_piece(fn, path, table + pieces[i].offset, pieces[i].size);
	}
	return rc;
}

int separate(const char *fn, const char *prefix, const am_entry *entries)
{
	if (!prefix)
		return -1;
	char path[512];
	snprintf(path, sizeof(path), "%s_isocfg.bin", prefix);
	std::vector<uint8_t> buf(AM_READ_LIMIT);
	long got = ik_read_file(path, buf.data(), buf.size());
	if (got < (long)sizeof(ik_amalgam_toc)) {
		ik_print("[IK][Warning]%s() %d call read %s fail\n", fn, __LINE__, path);
		return -1;
	}
	uint32_t have = (uint32_t)got;
	ik_amalgam_toc toc;
	memcpy(&toc, buf.data(), sizeof(toc));
	ik_print("[IK]table_of_contents.version_number: %x\n", toc.version_number);
	ik_print("[IK]table_of_contents.diag_case_id: %d\n", toc.diag_case_id);
	ik_print("[IK]table_of_contents.bayer_pattern: %d\n", toc.bayer_pattern);
	ik_print("[IK]table_of_contents_offset.isocfg: %x\n", toc.isocfg);
	for (unsigned i = 0; i < IK_AMALGAM_TABLES; i++)
		ik_print("[IK]table_of_contents_offset.%s: %x\n", entries[i].stem + 3, toc.table[i]);
	int rc = 0;
	if (toc.isocfg <= have && IK_ISO_CFG_SIZE <= have - toc.isocfg) {
		print_update_bits(buf.data() + toc.isocfg + offsetof(img_dsp_iso_cfg, main));
	} else {
		ik_print("[IK][Warning]%s() %d isocfg at 0x%x lies beyond the %u bytes read\n", fn, __LINE__,
		         toc.isocfg, have);
		rc = -1;
	}
	for (unsigned i = 0; i < IK_AMALGAM_TABLES; i++) {
		const am_entry &e = entries[i];
		uint32_t off = toc.table[i];
		if (off > have || e.size > have - off) {
			ik_print("[IK][Warning]%s() %d %s at 0x%x (%u bytes) lies beyond the %u bytes read\n",
			         fn, __LINE__, e.stem, off, e.size, have);
			rc = -1;
			continue;
		}
		snprintf(path, sizeof(path), "%s_%s.bin", prefix, e.stem);
		rc |= write_piece(fn, path, buf.data() + off, e.size);
		if (e.split != SPLIT_NONE)
			rc |= write_parts(fn, prefix, e, buf.data() + off);
	}
	return rc;
}

} // namespace

extern "C" int vors_img_dsp_low_iso_amalgam_data_separate(const char *prefix)
{
	return separate(__func__, prefix, basic_entries);
}

extern "C" int vors_img_dsp_adv_low_iso_amalgam_data_separate(const char *prefix)
{
	return separate(__func__, prefix, advanced_entries);
}

/* ---- readers of saved blocks ------------------------------------------------ */

namespace
{

/* Reads a block of `size` bytes into a cleared buffer: a short read is
 * reported and leaves the rest of the buffer zero. */
int read_block(const char *fn, const char *path, void *buf, uint32_t size)
{
	memset(buf, 0, size);
	long got = path ? ik_read_file(path, buf, size) : -1;
	if (got == (long)size)
		return 0;
	ik_print("[IK][Warning]%s() %d call read %s from 0x%p fail\n", fn, __LINE__, path ? path : "(null)",
	         buf);
	return -1;
}

/* Bytes as rows of sixteen, each row after its first index. */
void print_rows(const uint8_t *p, uint32_t size)
{
	for (uint32_t at = 0; at < size; at += 16) {
		char line[16 * 4 + 1];
		size_t len = 0;
		for (uint32_t i = at; i < at + 16 && i < size; i++)
			len += (size_t)snprintf(line + len, sizeof(line) - len, " %3u", p[i]);
		ik_print("[IK]%4u:%s\n", at, line);
	}
}

const char *const channel[3] = {"y", "cb", "cr"};

/* A register field of the hardware tables: one value, or three per channel
 * (y, cb, cr) as bytes, as bit fields of one word, or as nibbles. */
enum reg_kind : uint8_t { REG_BITS, REG_BYTE3, REG_BITS3, REG_NIB3 };

struct reg_field {
	const char *name;
	uint16_t off;
	uint8_t kind;
	uint8_t bytes; /* of the word REG_BITS and REG_BITS3 read */
	uint8_t shift; /* REG_NIB3: the first nibble */
	uint8_t width;
	uint8_t stride; /* REG_BITS3: bits between channels */
	uint8_t is_signed;
};

uint32_t reg_value(const uint8_t *base, const reg_field &f, unsigned c)
{
	switch (f.kind) {
	case REG_BYTE3:
		return base[f.off + c];
	case REG_NIB3: {
		unsigned n = f.shift + c;
		return (base[f.off + n / 2] >> (4 * (n & 1))) & 15u;
	}
	default: {
		uint64_t w = 0;
		memcpy(&w, base + f.off, f.bytes);
		unsigned shift = f.shift + (f.kind == REG_BITS3 ? f.stride * c : 0);
		return (uint32_t)((w >> shift) & ((1ull << f.width) - 1));
	}
	}
}

/* "[IK]<prefix><name>[.<channel>] = <value>" per field and channel. */
void print_regs(const uint8_t *base, const char *prefix, const reg_field *f, size_t n)
{
	for (size_t i = 0; i < n; i++, f++) {
		unsigned channels = f->kind == REG_BITS ? 1 : 3;
		for (unsigned c = 0; c < channels; c++) {
			int32_t v = (int32_t)reg_value(base, *f, c);
			if (f->is_signed && f->width < 32 && (v >> (f->width - 1)) & 1)
				v -= (int32_t)(1u << f->width);
			if (channels == 1)
				ik_print("[IK]%s%s = %d\n", prefix, f->name, v);
			else
				ik_print("[IK]%s%s.%s = %d\n", prefix, f->name, channel[c], v);
		}
	}
}

#define ONE(n, o, b, s, w)                                                                                   \
	{                                                                                                    \
		n, o, REG_BITS, b, s, w, 0, 0                                                                \
	}
#define SONE(n, o, b, s, w)                                                                                  \
	{                                                                                                    \
		n, o, REG_BITS, b, s, w, 0, 1                                                                \
	}
#define BYTE3(n, o)                                                                                          \
	{                                                                                                    \
		n, o, REG_BYTE3, 1, 0, 8, 0, 0                                                               \
	}
#define BITS3(n, o, b, w, st)                                                                                \
	{                                                                                                    \
		n, o, REG_BITS3, b, 0, w, st, 0                                                              \
	}
#define NIB3(n, o, first)                                                                                    \
	{                                                                                                    \
		n, o, REG_NIB3, 1, first, 4, 0, 0                                                            \
	}
#define REGS(a) a, sizeof(a) / sizeof(a[0])

/* The three-channel level-control block of both hardware tables. */
const reg_field level_regs[] = {
    BYTE3("low", 0),      BYTE3("low0", 8),      BITS3("delta_low", 16, 2, 3, 3),
    BYTE3("high", 24),    BYTE3("high0", 32),    BITS3("delta_high", 40, 2, 3, 3),
    BYTE3("low_val", 48), BYTE3("base_val", 56), BYTE3("high_val", 64),
    NIB3("area", 72, 0),
};

void print_level_block(const uint8_t *block, const char *prefix, const char *name)
{
	char p[96];
	snprintf(p, sizeof(p), "%s%s.", prefix, name);
	print_regs(block, p, REGS(level_regs));
}

/* ---- video MCTF ---- */

const reg_field mctf_regs[] = {
    ONE("mctf_mode_chroma_format.format", 0, 1, 2, 1),
    ONE("mctf_mode_chroma_format.zk4_mode", 1, 1, 0, 1),
    BITS3("mctf_median_filter_YCbCr.mf", 8, 1, 2, 2),
    BYTE3("max_change_B", 48),
    BYTE3("max_change_C", 56),
    BYTE3("max_change_D[0]", 64),
    BYTE3("max_change_D[1]", 72),
    BYTE3("max_change_D[2]", 80),
    BYTE3("max_change_D[3]", 88),
    BITS3("max_change_threshold_D[0]", 120, 8, 20, 20),
    BITS3("max_change_threshold_D[1]", 128, 8, 20, 20),
    BITS3("max_change_threshold_D[2]", 136, 8, 20, 20),
    BITS3("edge_thresh", 176, 8, 11, 11),
    NIB3("wide_weight", 192, 0),
    NIB3("narrow_weight", 200, 0),
    BITS3("temporal_neighbor", 208, 1, 2, 2),
    BYTE3("ghost_prevent", 224),
    BITS3("dir_filter_sel", 424, 2, 2, 2),
    NIB3("d_lvl_adjust.index", 512, 0),
    NIB3("d_lvl_adjust.max_change", 512, 3),
    BYTE3("d_max_change_from_5x5", 520),
    BYTE3("tf_max_change_from_SB2", 528),
    ONE("auto_temporal_adjust.auto_TA", 696, 1, 0, 2),
    ONE("auto_temporal_adjust.sum4x4_before_sad", 696, 1, 2, 1),
    ONE("auto_temporal_adjust.ref_remap_y_enable", 696, 1, 4, 1),
    ONE("temporal_adjust_max_counts.count1", 704, 1, 0, 3),
    ONE("temporal_adjust_max_counts.count2", 704, 1, 4, 3),
    BITS3("temporal_adjust_sub", 712, 8, 12, 12),
    BITS3("temporal_adjust_mul", 720, 8, 14, 16),
    NIB3("temporal_adjust_min", 728, 0),
    NIB3("temporal_adjust_max", 736, 0),
    BITS3("temporal_adjust_threshold", 744, 8, 12, 12),
    NIB3("temporal_adjust_greater_than_threshold_min_value", 752, 0),
};

const struct {
	const char *name;
	uint16_t off;
} mctf_levels[] = {
    {"iso_lvl_ctl", 264},        {"dir_lvl_ctl", 344},           {"d_adj_lvl_ctl", 432},
    {"max_change_lvl_ctl", 536}, {"dc_motion_map_lvl_ctl", 616},
};

/* Headings of the table's parts, in the order of ik_mctf_pieces. */
const char *const mctf_headings[IK_MCTF_PIECES] = {
    "configuration",
    "frame_activity",
    "motion_vectors",
    "histogram0",
    "histogram1",
    "histogram2",
    "histogram3",
    "curveB",
    "curveC",
    "curveD",
    "tone_hist_config",
    "tone_hist_table",
    "mctf_3d_level_lower",
    "mctf_3d_level_upper",
    "curve_sbt",
    "ref_luma_remap_tab",
};

void print_mctf_config(const uint8_t *t)
{
	print_regs(t, "", REGS(mctf_regs));
	for (const auto &l : mctf_levels)
		print_level_block(t + l.off, "", l.name);
}

/* ---- final sharpen ---- */

const reg_field fs_shared_regs[] = {
    ONE("mcts_config.enable", 0, 4, 0, 1),
    ONE("mcts_config.mctf_blend", 8, 1, 0, 8),
    ONE("mcts_config.sharpen_path", 9, 1, 0, 2),
};

/* An engine's registers, by offset in its block. */
const reg_field fs_engine_regs[] = {
    ONE("REG_SHPB_ENABLE", 0, 1, 0, 1),
    ONE("REG_SHPB_FIR_OUTPUT", 0, 1, 3, 4),
    ONE("REG_SHPB_CORING_MUL_SHIFT", 32, 1, 4, 2),
    ONE("REG_SHPB_EDGE_THRESH", 48, 2, 0, 11),
    ONE("REG_SHPB_EDGE_SHIFT", 64, 1, 0, 4),
    ONE("REG_SHPB_MODE", 72, 1, 0, 3),
    ONE("REG_SHPB_MAX_CHANGE_DOWN_5X5", 80, 1, 0, 8),
    ONE("REG_SHPB_MAX_CHANGE_DOWN", 81, 1, 0, 8),
    ONE("REG_SHPB_MAX_CHANGE_UP_5X5", 88, 1, 0, 8),
    ONE("REG_SHPB_MAX_CHANGE_UP", 89, 1, 0, 8),
    ONE("REG_SHPB_OUTPUT_LOW", 96, 1, 0, 8),
    ONE("REG_SHPB_OUTPUT_HIGH", 104, 1, 0, 8),
    ONE("REG_SHPB_3D_Y_OFFSET", 592, 1, 0, 8),
    ONE("REG_SHPB_3D_U_OFFSET", 593, 1, 0, 8),
    ONE("REG_SHPB_3D_V_OFFSET", 594, 1, 0, 8),
    ONE("REG_SHPB_3D_Y_SHIFT", 600, 2, 0, 3),
    ONE("REG_SHPB_3D_U_SHIFT", 600, 2, 3, 3),
    ONE("REG_SHPB_3D_V_SHIFT", 600, 2, 6, 3),
    ONE("REG_SHPB_3D_U_BITS", 608, 1, 0, 4),
    ONE("REG_SHPB_3D_V_BITS", 608, 1, 4, 4),
    ONE("REG_SHPB_NARROW_WEIGHT", 616, 1, 0, 4),
    ONE("REG_SHPB_WIDE_WEIGHT", 616, 1, 4, 4),
    ONE("REG_SHPB_CORING_RANGE0_START", 640, 4, 0, 11),
    ONE("REG_SHPB_CORING_RANGE0_END", 640, 4, 11, 11),
    ONE("REG_SHPB_CORING_RANGE1_START", 648, 4, 0, 11),
    ONE("REG_SHPB_CORING_RANGE1_END", 648, 4, 11, 11),
    ONE("REG_SHPB_CORING_RANGE2_START", 656, 4, 0, 11),
    ONE("REG_SHPB_CORING_RANGE2_END", 656, 4, 11, 11),
    ONE("REG_SHPB_CORING_RANGE0_MUL", 672, 1, 0, 8),
    ONE("REG_SHPB_CORING_RANGE1_MUL", 673, 1, 0, 8),
    ONE("REG_SHPB_CORING_RANGE2_MUL", 674, 1, 0, 8),
    ONE("REG_SHPB_CORING_RANGE0_SHIFT", 680, 2, 0, 5),
    ONE("REG_SHPB_CORING_RANGE1_SHIFT", 680, 2, 5, 5),
    ONE("REG_SHPB_CORING_RANGE2_SHIFT", 680, 2, 10, 5),
};

/* The clip registers of an engine's FIR area, by offset in the area. */
const reg_field fs_clip_regs[] = {
    SONE("REG_SHPB_FIR1_CLIP_LOW", 0, 8, 0, 13),     SONE("REG_SHPB_FIR1_CLIP_HIGH", 0, 8, 32, 13),
    SONE("REG_SHPB_FIR2_CLIP_LOW", 8, 8, 0, 13),     SONE("REG_SHPB_FIR2_CLIP_HIGH", 8, 8, 32, 13),
    SONE("REG_SHPB_COEF_MIN", 16, 2, 0, 13),         SONE("REG_SHPB_COEF_MAX", 18, 2, 0, 13),
    SONE("REG_SHPB_OUTPUT_CLIP_LOW", 912, 8, 0, 13), SONE("REG_SHPB_OUTPUT_CLIP_HIGH", 912, 8, 32, 13),
    SONE("REG_SHPB_CHANGE_CLIP_LOW", 920, 8, 0, 13), SONE("REG_SHPB_CHANGE_CLIP_HIGH", 920, 8, 32, 13),
    ONE("REG_SHPB_ALPHA_MAX", 928, 2, 0, 9),         ONE("REG_SHPB_ALPHA_MIN", 930, 2, 0, 9),
};

#define FS_ENGINE_BLOCK 696u
#define FS_FIR_AREA_1 1408u
#define FS_ENGINE_STRIDE 1832u /* between the two engines' FIR areas and level blocks */

/* Level blocks of an engine: six in its block, seven beside its FIR area. */
const struct {
	const char *name;
	uint16_t off;
	uint8_t in_block;
} fs_levels[] = {
    {"level0", 112, 1},
    {"level1", 192, 1},
    {"level2", 272, 1},
    {"level3", 352, 1},
    {"level4", 432, 1},
    {"level5", 512, 1},
    {"alpha_low", 936, 0},
    {"str_adjust", 1016, 0},
    {"alpha_high", 1096, 0},
    {"scale_coring", 1176, 0},
    {"max_coring_result", 1256, 0},
    {"min_coring_result", 1336, 0},
    {"coring_index_scale", 1416, 0},
};

void print_final_sharpen(const uint8_t *t)
{
	print_regs(t, "", REGS(fs_shared_regs));
	for (unsigned e = 0; e < 2; e++) {
		const uint8_t *block = t + IK_FS_ENGINE_1 + FS_ENGINE_BLOCK * e;
		const uint8_t *area = t + FS_FIR_AREA_1 + FS_ENGINE_STRIDE * e;
		char prefix[32];
		snprintf(prefix, sizeof(prefix), "sharp_config[%u].", e);
		for (size_t i = 0; i < sizeof(fs_engine_regs) / sizeof(fs_engine_regs[0]); i++)
			ik_print("[IK]sharp_config[%u].%s: %u\n", e, fs_engine_regs[i].name,
			         reg_value(block, fs_engine_regs[i], 0));
		print_regs(area, prefix, REGS(fs_clip_regs));
		for (const auto &l : fs_levels)
			print_level_block((l.in_block ? block : area) + l.off, prefix, l.name);
	}
}

static_assert(IK_FS_ENGINE_1 + FS_ENGINE_BLOCK == IK_FS_ENGINE_2, "final-sharpen engine blocks");
static_assert(FS_FIR_AREA_1 + FS_ENGINE_STRIDE == 3240, "final-sharpen FIR areas");

} // namespace

extern "C" int parse_adv_isocfg(const char *path)
{
	IK_DEBUG("adv_liso_cfg size : %d\n", (int)sizeof(ik_liso_main_advanced));
	IK_DEBUG("basic_liso_cfg size : %d\n", (int)sizeof(ik_liso_main_basic));
	ik_liso_main_advanced main;
	int rc = read_block(__func__, path, &main, sizeof(main));
	img_dsp_low_iso_print_calib(&main);
	return rc;
}

extern "C" int parse_mctf(const char *path)
{
	std::vector<uint8_t> t(IK_VIDEO_MCTF_TBL_SIZE);
	int rc = read_block(__func__, path, t.data(), (uint32_t)t.size());
	ik_print("[IK]SHOW HW MCTF;\n");
	for (unsigned i = 0; i < IK_MCTF_PIECES; i++) {
		ik_print("[IK]----%s----\n", mctf_headings[i]);
		if (i == 0)
			print_mctf_config(t.data());
		else
			print_rows(t.data() + ik_mctf_pieces[i].offset, ik_mctf_pieces[i].size);
	}
	return rc;
}

extern "C" int parse_final_sharp(const char *path)
{
	std::vector<uint8_t> t(IK_FINAL_SHARPEN_TBL_SIZE);
	int rc = read_block(__func__, path, t.data(), (uint32_t)t.size());
	ik_print("[IK]SHOW HW FINAL SHP\n");
	print_final_sharpen(t.data());
	return rc;
}
