/*
 * Architecture memory: the size a set of pipes needs, the bump allocator that
 * carves the mapped region, the fixed layout order and address translation.
 * The order of carving is part of the contract with a restarted process
 * (keep mode finds the old contents at the same places), so it never changes.
 */
#include "ik_arch.h"

#include "ik_context.h"
#include "ik_core.h"
#include "ik_default_tables.h"

#include <string.h>

typedef struct ik_util_state {
	uint32_t mutex_handle;
	uint64_t base;
	uint32_t size;
	uint32_t offset;
	void *def_tbl;
	ik_pipe_layout pipe[3];
} ik_util_state;

static ik_util_state util;
static struct {
	bool mem;
	bool def_tbl;
	bool pipe[3];
} inited;
static uint8_t init_mode;
static struct {
	uint64_t ub, pb, ue, pe;
} xlate;

static const uint32_t VIDEO_CTX_FOOTPRINT = IK_VIDEO_CTX_SIZE;
static const uint32_t ISO_CFG_FOOTPRINT = IK_ISO_CFG_SIZE + IK_ISO_CFG_TBL_SIZE;
static const uint32_t HDR_CFG_FOOTPRINT = IK_HDR_CFG_SIZE + IK_HDR_CFG_TBL_SIZE;

uint32_t img_dsp_core_utility_get_arch_mem_size(const img_dsp_arch_info *arch)
{
	if (!arch || arch->PipeNum > IMG_DSP_MAX_PIPES)
		return 0xFFFFFFFFu;
	uint64_t total = IK_DEF_TBL_SIZE;
	uint64_t counted = 0; /* contexts and configurations */
	uint64_t blocks = 1;  /* blocks the allocator carves, the default table first */
	for (uint32_t i = 0; i < arch->PipeNum; i++) {
		const img_dsp_pipe_info *p = arch->Pipes[i];
		if (!p)
			return 0xFFFFFFFFu;
		switch (p->Pipe) {
		case IMG_DSP_PIPE_VIDEO:
			total += (uint64_t)p->CtxNum *
			         (VIDEO_CTX_FOOTPRINT + (uint64_t)IK_VIDEO_BUF_SIZE * arch->BufNum);
			blocks += (uint64_t)p->CtxNum * (1 + arch->BufNum);
			break;
		case IMG_DSP_PIPE_STILL:
			total += (uint64_t)p->CtxNum * IK_STILL_CTX_SIZE;
			blocks += p->CtxNum;
			break;
		case IMG_DSP_PIPE_DECODE:
			total += (uint64_t)p->CtxNum * IK_DECODE_CTX_SIZE;
			blocks += p->CtxNum;
			break;
		default:
			return 0xFFFFFFFFu;
		}
		total += (uint64_t)p->CfgNum * ISO_CFG_FOOTPRINT + (uint64_t)p->HdrCfgNum * HDR_CFG_FOOTPRINT;
		blocks += 2u * p->CfgNum + 2u * p->HdrCfgNum;
		counted += p->CtxNum + p->CfgNum;
	}
	/* Every carved block may skip up to 32 bytes to reach its alignment, so
	 * the slack covers that for each block; a region of the returned size
	 * then always holds the whole layout. */
	uint64_t slack = 256 * counted;
	if (slack < 32 * blocks)
		slack = 32 * blocks;
	total += slack;
	if (total > 0x7FFFFFFFu)
		return 0xFFFFFFFFu;
	return (uint32_t)total;
}

void img_dsp_core_utility_set_mem_addr(uint64_t user_base, uint64_t phys_base, uint32_t size)
{
	xlate.ub = user_base;
	xlate.pb = phys_base;
	xlate.ue = user_base + size;
	xlate.pe = phys_base + size;
}

ik_mem_bases ik_mem_get_bases(void)
{
	return ik_mem_bases{xlate.ub, xlate.pb};
}

int img_dsp_core_utility_mem_get(uint32_t size, void **out)
{
	ik_lock(&util.mutex_handle);
	uint64_t cur = util.base + util.offset;
	uint32_t mis = (uint32_t)(cur % 32);
	uint64_t next = (uint64_t)util.offset + 32 - mis + size;
	if (next > util.size) {
		IK_ERROR("Offset %d > Size %d\n", (int)next, (int)util.size);
		*out = IK_INVALID_PTR;
		ik_unlock(&util.mutex_handle);
		return -1;
	}
	*out = (void *)(uintptr_t)(cur - mis + 32);
	util.offset = (uint32_t)next;
	ik_unlock(&util.mutex_handle);
	return 0;
}

uint32_t img_dsp_core_get_phys_addr(const void *addr, uint64_t user_base, uint64_t phys_base)
{
	uint64_t a = (uint64_t)(uintptr_t)addr;
	if (a >= phys_base && a < xlate.pe)
		return (uint32_t)a;
	if (a >= user_base && a < xlate.ue)
		return (uint32_t)(phys_base + (a - user_base));
	IK_ERROR("user_addr is invalid!\n");
	return (uint32_t)a;
}

void *img_dsp_core_get_user_addr(uint64_t phys, uint64_t user_base, uint64_t phys_base)
{
	if (phys >= phys_base && phys < xlate.pe)
		return (void *)(uintptr_t)(user_base + (phys - phys_base));
	if (phys >= user_base && phys < xlate.ue)
		return (void *)(uintptr_t)phys;
	IK_ERROR("phys_addr is invalid!\n");
	return (void *)(uintptr_t)phys;
}

uint32_t ik_phys(const void *user_addr)
{
	return img_dsp_core_get_phys_addr(user_addr, xlate.ub, xlate.pb);
}

void *ik_user(uint64_t phys)
{
	return img_dsp_core_get_user_addr(phys, xlate.ub, xlate.pb);
}

uint8_t *ik_region_span(uint64_t addr, uint32_t size)
{
	if (xlate.ue == xlate.ub)
		return NULL;
	if (addr >= xlate.pb && addr < xlate.pe && size <= xlate.pe - addr)
		return (uint8_t *)(uintptr_t)(xlate.ub + (addr - xlate.pb));
	if (addr >= xlate.ub && addr < xlate.ue && size <= xlate.ue - addr)
		return (uint8_t *)(uintptr_t)addr;
	return NULL;
}

int ik_walk_cmd_queue(const char *caller, uint32_t addr, unsigned slots, ik_cmd_visit_fn visit, void *arg)
{
	if (addr == 0)
		return 0;
	/* The address comes from memory the DSP and earlier runs wrote: a queue
	 * is followed only when every slot of it is the library's own memory. */
	uint8_t *q = ik_region_span(addr, slots * IK_CMD_SLOT_SIZE);
	if (!q) {
		ik_print("[IK][Error]%s() %d command queue 0x%x of %u bytes lies outside the region\n",
		         caller, __LINE__, addr, slots * IK_CMD_SLOT_SIZE);
		return -1;
	}
	for (unsigned i = 0; i < slots; i++) {
		uint32_t *cmd = (uint32_t *)(q + i * IK_CMD_SLOT_SIZE);
		uint32_t code = cmd[0];
		if (visit && visit(cmd, i, arg) != 0)
			break;
		if (code == IK_CMD_PROCESS_IDSP_BATCH)
			break;
	}
	return 0;
}

int ik_mem_initialised(void)
{
	return inited.mem;
}
uint64_t ik_mem_base(void)
{
	return util.base;
}
uint32_t ik_mem_size(void)
{
	return util.size;
}

const ik_pipe_layout *ik_pipe(uint32_t pipe)
{
	if (pipe > IMG_DSP_PIPE_DECODE)
		return NULL;
	return &util.pipe[pipe];
}

uint32_t ik_ctx_tbl_index(const void *video_ctx, uint32_t value)
{
	const ik_ctx_head *head = (const ik_ctx_head *)video_ctx;
	if (head->buf_num == 0)
		return 0;
	if (head->tbl_idx_kind == IK_TBL_IDX_MASK)
		return value & (head->buf_num - 1);
	return value % head->buf_num;
}

static uint8_t tbl_idx_kind_for(uint32_t buf_num)
{
	for (uint32_t p = 1; p <= 64; p <<= 1) {
		if (buf_num == p)
			return IK_TBL_IDX_MASK;
	}
	return IK_TBL_IDX_MOD;
}

static int carve(uint32_t size, void **out, bool clear)
{
	if (img_dsp_core_utility_mem_get(size, out) != 0)
		return -1;
	if (clear)
		ik_memset(*out, 0, size);
	return 0;
}

static int layout_video_contexts(const img_dsp_pipe_info *rec, uint32_t buf_num)
{
	ik_pipe_layout *pl = &util.pipe[IMG_DSP_PIPE_VIDEO];
	bool clear = init_mode != IMG_DSP_INIT_MODE_KEEP;
	for (uint32_t i = 0; i < rec->CtxNum; i++) {
		void *ctx;
		if (carve(IK_VIDEO_CTX_SIZE, &ctx, clear) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		if (ik_fn()->mutex_create(ctx) != 0) {
			IK_WARN("Create context mutex fail\n");
			return -1;
		}
		ik_ctx_head *head = (ik_ctx_head *)ctx;
		head->buf_num = buf_num;
		for (uint32_t b = 0; b < buf_num; b++) {
			void *buf;
			if (carve(IK_VIDEO_BUF_SIZE, &buf, clear) != 0) {
				IK_WARN("Memory get fail\n");
				return -1;
			}
			head->buf[b] = (uint64_t)(uintptr_t)buf;
		}
		head->tbl_idx_kind = tbl_idx_kind_for(buf_num);
		pl->ctx[i] = ctx;
		pl->ctx_num = i + 1;
	}
	return 0;
}

static int layout_video_configs(const img_dsp_pipe_info *rec)
{
	ik_pipe_layout *pl = &util.pipe[IMG_DSP_PIPE_VIDEO];
	bool clear = init_mode != IMG_DSP_INIT_MODE_KEEP;
	for (uint32_t i = 0; i < rec->CfgNum; i++) {
		void *hdr;
		void *tbl;
		if (carve(IK_ISO_CFG_SIZE, &hdr, clear) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		if (clear)
			((img_dsp_iso_cfg *)hdr)->src_cfg_id = IK_CFG_NO_SOURCE;
		if (ik_fn()->mutex_create(hdr) != 0) {
			IK_WARN("Create config mutex fail\n");
			return -1;
		}
		if (carve(IK_ISO_CFG_TBL_SIZE, &tbl, clear) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		pl->cfg[i] = hdr;
		pl->cfg_tbl[i] = tbl;
		pl->cfg_num = i + 1;
	}
	for (uint32_t i = 0; i < rec->HdrCfgNum; i++) {
		void *hdr;
		void *tbl;
		if (carve(IK_HDR_CFG_SIZE, &hdr, true) != 0 || carve(IK_HDR_CFG_TBL_SIZE, &tbl, clear) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		pl->hdr[i] = hdr;
		pl->hdr_tbl[i] = tbl;
		pl->hdr_num = i + 1;
	}
	return 0;
}

static int layout_video(const img_dsp_pipe_info *rec, uint32_t buf_num)
{
	if (inited.pipe[IMG_DSP_PIPE_VIDEO]) {
		IK_WARN("PipeV has been inited.\n");
		return -1;
	}
	memset(&util.pipe[IMG_DSP_PIPE_VIDEO], 0, sizeof(ik_pipe_layout));
	if (rec->CtxNum > IK_MAX_CTX) {
		IK_ERROR("Pipe V required ctx num %d exceed max num %d\n", rec->CtxNum, IK_MAX_CTX);
		return -1;
	}
	if (layout_video_contexts(rec, buf_num) != 0)
		return -1;
	if (rec->CfgNum > IK_MAX_CFG) {
		IK_ERROR("Pipe V required cfg num %d exceed max num %d\n", rec->CfgNum, IK_MAX_CFG);
		return -1;
	}
	/* The bookkeeping holds 64 HDR configurations; more would overrun it. */
	if (rec->HdrCfgNum > IK_MAX_CFG) {
		IK_ERROR("Pipe V required hdr cfg num %d exceed max num %d\n", rec->HdrCfgNum, IK_MAX_CFG);
		return -1;
	}
	if (layout_video_configs(rec) != 0)
		return -1;
	inited.pipe[IMG_DSP_PIPE_VIDEO] = true;
	return 0;
}

static int layout_still(const img_dsp_pipe_info *rec)
{
	ik_pipe_layout *pl = &util.pipe[IMG_DSP_PIPE_STILL];
	if (inited.pipe[IMG_DSP_PIPE_STILL]) {
		IK_WARN("PipeS has been inited.\n");
		return -1;
	}
	memset(pl, 0, sizeof(*pl));
	if (rec->CtxNum > IK_MAX_CTX) {
		IK_ERROR("Pipe S required ctx num %d exceed max num %d\n", rec->CtxNum, IK_MAX_CTX);
		return -1;
	}
	for (uint32_t i = 0; i < rec->CtxNum; i++) {
		void *ctx;
		if (carve(IK_STILL_CTX_SIZE, &ctx, true) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		if (ik_fn()->mutex_create(ctx) != 0) {
			IK_WARN("Create context mutex fail\n");
			return -1;
		}
		pl->ctx[i] = ctx;
		pl->ctx_num = i + 1;
	}
	if (rec->CfgNum > IK_MAX_CFG) {
		IK_ERROR("Pipe S required cfg num %d exceed max num %d\n", rec->CfgNum, IK_MAX_CFG);
		return -1;
	}
	for (uint32_t i = 0; i < rec->CfgNum; i++) {
		void *hdr;
		void *tbl;
		if (carve(IK_ISO_CFG_SIZE, &hdr, true) != 0) {
			IK_WARN("Memory get fail\n");
			return -1;
		}
		if (ik_fn()->mutex_create(hdr) != 0) {
			IK_WARN("Create config mutex fail\n");
			return -1;
		}
		if (carve(IK_ISO_CFG_TBL_SIZE, &tbl, true) != 0) {
			IK_ERROR("Memory get fail\n");
			return -1;
		}
		pl->cfg[i] = hdr;
		pl->cfg_tbl[i] = tbl;
		pl->cfg_num = i + 1;
	}
	inited.pipe[IMG_DSP_PIPE_STILL] = true;
	return 0;
}

static void check_decode_alignment(const uint8_t *ctx)
{
	static const struct {
		const char *name;
		uint32_t offset;
	} tables[] = {
	    {"ShpAFir1Coeff", IK_DEC_SHPA_FIR1},   {"ShpAFir2Coeff", IK_DEC_SHPA_FIR2},
	    {"ShpACoring", IK_DEC_SHPA_CORING},    {"ShpAAlpha", IK_DEC_SHPA_ALPHA},
	    {"LeToneCurve", IK_DEC_LE_TONE_CURVE}, {"CsToneCurve", IK_DEC_CS_TONE_CURVE},
	    {"CcInLut", IK_DEC_CC_IN_LUT},         {"Cc3dMatrix", IK_DEC_CC_3D_MATRIX},
	    {"CcOutLut", IK_DEC_CC_OUT_LUT},       {"ChromaMedianKTable", IK_DEC_CHROMA_MEDIAN_K},
	};
	if (((uintptr_t)(ctx + tables[0].offset)) % 32 == 0)
		return;
	for (const auto &t : tables)
		IK_ERROR("Still table %s 0x%x is not 32 alignment\n", t.name,
		         (unsigned)(uintptr_t)(ctx + t.offset));
}

static int layout_decode(const img_dsp_pipe_info *rec)
{
	ik_pipe_layout *pl = &util.pipe[IMG_DSP_PIPE_DECODE];
	if (inited.pipe[IMG_DSP_PIPE_DECODE]) {
		IK_WARN("PipeD has been inited.\n");
		return -1;
	}
	memset(pl, 0, sizeof(*pl));
	if (rec->Pipe != IMG_DSP_PIPE_DECODE) {
		IK_WARN("Pipe %d is not decode pipeline\n", rec->Pipe);
		return -1;
	}
	if (rec->CtxNum > IK_MAX_CTX) {
		IK_ERROR("Pipe D required ctx num %d exceed max num %d\n", rec->CtxNum, IK_MAX_CTX);
		return -1;
	}
	for (uint32_t i = 0; i < rec->CtxNum; i++) {
		void *ctx;
		if (carve(IK_DECODE_CTX_SIZE, &ctx, true) != 0) {
			IK_ERROR("Memory get fail\n");
			return -1;
		}
		if (ik_fn()->mutex_create(ctx) != 0) {
			IK_ERROR("Create context mutex fail\n");
			return -1;
		}
		check_decode_alignment((const uint8_t *)ctx);
		pl->ctx[i] = ctx;
		pl->ctx_num = i + 1;
	}
	if (rec->CfgNum != 0) {
		IK_WARN("Pipe D required cfg num %d exceed max num %d\n", rec->CfgNum, 0);
		return -1;
	}
	inited.pipe[IMG_DSP_PIPE_DECODE] = true;
	return 0;
}

static int init_region(const img_dsp_arch_info *arch)
{
	if (inited.mem) {
		IK_WARN("Mem has been inited.\n");
	} else if (ik_fn()->mutex_create(&util.mutex_handle) != 0) {
		IK_WARN("Create context mutex fail\n");
	} else {
		util.base = arch->MemAddr;
		util.size = arch->MemSize;
		util.offset = 0;
		inited.mem = true;
	}
	if (util.base == 0 || util.size == 0) {
		IK_ERROR("MemAddr %d, MemSize %d\n", (int)util.base, (int)util.size);
		return -1;
	}
	int32_t required = (int32_t)img_dsp_core_utility_get_arch_mem_size(arch);
	if (required < 0) {
		IK_ERROR("get required arch size %d\n", required);
		return -1;
	}
	if ((uint32_t)required > util.size) {
		IK_ERROR("Given MemSize %d is less than required MemSize %d\n", (int)util.size, required);
		return -1;
	}
	return 0;
}

static int init_default_table(void)
{
	if (inited.def_tbl) {
		IK_WARN("Default table has been inited.\n");
		return 0;
	}
	void *tbl;
	if (img_dsp_core_utility_mem_get(IK_DEF_TBL_SIZE, &tbl) != 0) {
		IK_WARN("Memory get fail\n");
		/* The builders point configurations into this table: without it
		 * the region is unusable, so the initialisation fails. */
		return -1;
	}
	ik_default_tables_copy((uint8_t *)tbl);
	util.def_tbl = tbl;
	inited.def_tbl = true;
	return 0;
}

int img_dsp_core_init_arch(const img_dsp_arch_info *arch)
{
	if (!arch)
		return -1;
	init_mode = arch->InitMode;
	if (init_region(arch) != 0)
		return -1;
	if (arch->BufNum > IMG_DSP_MAX_BUF_NUM) {
		IK_ERROR("user BufNum %d is lager than maximum buffer number %d\n", arch->BufNum,
		         IMG_DSP_MAX_BUF_NUM);
		return -1;
	}
	if (init_default_table() != 0)
		return -1;
	for (uint32_t i = 0; i < arch->PipeNum; i++) {
		const img_dsp_pipe_info *rec = arch->Pipes[i];
		int rc;
		switch (rec->Pipe) {
		case IMG_DSP_PIPE_VIDEO:
			rc = layout_video(rec, arch->BufNum);
			break;
		case IMG_DSP_PIPE_STILL:
			rc = layout_still(rec);
			break;
		case IMG_DSP_PIPE_DECODE:
			rc = layout_decode(rec);
			break;
		default:
			IK_ERROR("Incorrect Pipe %d\n", rec->Pipe);
			continue;
		}
		if (rc != 0) {
			IK_WARN("Init pipe fail. Return value %d\n", rc);
			return rc;
		}
	}
	return 0;
}

int img_dsp_core_deinit_arch(void)
{
	memset(&util, 0, sizeof(util));
	memset(&inited, 0, sizeof(inited));
	return 0;
}

int img_dsp_core_utility_get_def_tbl(void **out)
{
	if (!inited.def_tbl) {
		IK_ERROR("Default table not inited\n");
		return -1;
	}
	*out = util.def_tbl;
	return 0;
}

int img_dsp_core_utility_get_context_tbl_idx(uint32_t, const img_dsp_ctx_id *ctx, uint32_t *out)
{
	if (ctx->Pipe != IMG_DSP_PIPE_VIDEO) {
		IK_ERROR("Incorrect pipe %d\n", ctx->Pipe);
		*out = 0;
		return -1;
	}
	const ik_pipe_layout *pl = &util.pipe[IMG_DSP_PIPE_VIDEO];
	if (!inited.mem || ctx->Id >= pl->ctx_num) {
		*out = 0;
		return -1;
	}
	/* Rotating buffer blocks by batch is not defined: every filter writes
	 * the tables of the first block. */
	*out = ik_ctx_tbl_index(pl->ctx[ctx->Id], 0);
	return 0;
}

int img_dsp_core_utility_get_pipe_info(uint32_t pipe, img_dsp_pipe_info *out)
{
	if (!out)
		return -1;
	memset(out, 0, sizeof(*out));
	const ik_pipe_layout *pl = ik_pipe(pipe);
	if (pipe != IMG_DSP_PIPE_VIDEO && pipe != IMG_DSP_PIPE_STILL) {
		IK_ERROR("Not support pipe: %d\n", pipe);
		return -1;
	}
	out->Pipe = pipe;
	out->CtxNum = (uint8_t)pl->ctx_num;
	out->CfgNum = (uint8_t)pl->cfg_num;
	out->HdrCfgNum = pipe == IMG_DSP_PIPE_VIDEO ? (uint8_t)pl->hdr_num : 0;
	return 0;
}

uint8_t img_dsp_core_utility_get_init_mode(void)
{
	return init_mode;
}
