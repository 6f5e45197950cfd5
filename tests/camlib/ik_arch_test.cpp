/* Architecture memory: size formula, layout, allocator, translation and the
 * lookups that refuse bad ids. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_default_tables.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

constexpr int64_t kVideoCtx = 1850792, kVideoBuf = 119648, kStillCtx = 1911120, kDecodeCtx = 87504;
constexpr int64_t kCfg = 180624, kHdr = 56936, kDef = 60480;

TEST(IkArchSize, FormulaOverArchRecords)
{
	struct Case {
		const char *name;
		std::vector<img_dsp_pipe_info> pipes;
		uint32_t buf_num;
		int64_t want;
	} cases[] = {
	    {"no pipes: the default table and its alignment", {}, 1, kDef + 32},
	    {"one video channel",
	     {{0, 1, 9, 9, 0}},
	     1,
	     kDef + kVideoCtx + kVideoBuf + 9 * kCfg + 9 * kHdr + 256 * 10},
	    {"two video contexts, two buffers",
	     {{0, 2, 4, 2, 0}},
	     2,
	     kDef + 2 * (kVideoCtx + 2 * kVideoBuf) + 4 * kCfg + 2 * kHdr + 256 * 6},
	    {"still pipe", {{1, 2, 4, 0, 0}}, 1, kDef + 2 * kStillCtx + 4 * kCfg + 256 * 6},
	    {"decode pipe", {{2, 3, 0, 0, 0}}, 1, kDef + 3 * kDecodeCtx + 256 * 3},
	    {"HDR configurations only: slack covers every block",
	     {{0, 0, 0, 10, 0}},
	     1,
	     kDef + 10 * kHdr + 32 * 21},
	    {"video and still",
	     {{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}},
	     1,
	     kDef + kVideoCtx + kVideoBuf + 2 * kCfg + kHdr + kStillCtx + kCfg + 256 * 5},
	    {"unknown pipe", {{3, 1, 1, 0, 0}}, 1, -1},
	};
	for (auto &c : cases) {
		img_dsp_arch_info a = iktest::make_arch(c.pipes, c.buf_num);
		EXPECT_EQ(vors_img_dsp_query_arch_mem_size(&a), c.want) << c.name;
	}
	std::vector<img_dsp_pipe_info> none;
	img_dsp_arch_info a = iktest::make_arch(none, 1);
	a.PipeNum = 9;
	EXPECT_EQ(vors_img_dsp_query_arch_mem_size(&a), -1) << "more than eight pipes";
	a.PipeNum = 1;
	EXPECT_EQ(vors_img_dsp_query_arch_mem_size(&a), -1) << "a missing pipe record";
}

class IkArch : public IkFixture
{
};

/* Every block starts on the next 32-byte boundary strictly above the
 * allocation offset; the region itself is page aligned. */
TEST_F(IkArch, LayoutOfOneVideoChannel)
{
	bring_up({{0, 1, 2, 1, 0}}, 1);
	uint8_t *base = region_->user();
	void *def = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_def_tbl(&def), 0);
	EXPECT_EQ((uint8_t *)def, base + 32);

	img_dsp_ctx_id id{0, 0, {}};
	void *ctx = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
	EXPECT_EQ((uint8_t *)ctx, base + 60544);
	const ik_ctx_head *head = (const ik_ctx_head *)ctx;
	EXPECT_EQ(head->buf_num, 1u);
	EXPECT_EQ((uint8_t *)(uintptr_t)head->buf[0], base + 1911360);

	img_dsp_cfg_id cid{0, 0, {}};
	void *cfg = nullptr, *tbl = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_config(&cid, &cfg), 0);
	ASSERT_EQ(img_dsp_core_utility_get_config_tbl(&cid, &tbl), 0);
	EXPECT_EQ((uint8_t *)cfg, base + 2031040);
	EXPECT_EQ((uint8_t *)tbl, base + 2031904);
	EXPECT_EQ(((img_dsp_iso_cfg *)cfg)->src_cfg_id, 0xFFFFFFFFu);

	img_dsp_pipe_info info{};
	ASSERT_EQ(img_dsp_core_utility_get_pipe_info(0, &info), 0);
	EXPECT_EQ(info.CtxNum, 1);
	EXPECT_EQ(info.CfgNum, 2);
	EXPECT_EQ(info.HdrCfgNum, 1);
}

TEST_F(IkArch, LayoutOfTwoVideoContextsAndAStillPipe)
{
	bring_up({{0, 2, 2, 2, 0}, {1, 1, 1, 0, 0}}, 1);
	uint8_t *base = region_->user();
	uint8_t *end = base + region_->size();
	img_dsp_ctx_id id{0, 1, {}};
	void *ctx = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
	EXPECT_EQ((uint8_t *)ctx, base + 2031040);
	EXPECT_EQ((uint8_t *)(uintptr_t)((ik_ctx_head *)ctx)->buf[0], base + 3881856);

	std::vector<std::pair<uint8_t *, uint32_t>> blocks;
	const ik_pipe_layout *v = ik_pipe(0);
	for (uint32_t i = 0; i < v->ctx_num; i++) {
		blocks.push_back({(uint8_t *)v->ctx[i], IK_VIDEO_CTX_SIZE});
		blocks.push_back(
		    {(uint8_t *)(uintptr_t)((ik_ctx_head *)v->ctx[i])->buf[0], IK_VIDEO_BUF_SIZE});
	}
	for (uint32_t i = 0; i < v->cfg_num; i++) {
		blocks.push_back({(uint8_t *)v->cfg[i], IK_ISO_CFG_SIZE});
		blocks.push_back({(uint8_t *)v->cfg_tbl[i], IK_ISO_CFG_TBL_SIZE});
	}
	for (uint32_t i = 0; i < v->hdr_num; i++) {
		blocks.push_back({(uint8_t *)v->hdr[i], IK_HDR_CFG_SIZE});
		blocks.push_back({(uint8_t *)v->hdr_tbl[i], IK_HDR_CFG_TBL_SIZE});
	}
	const ik_pipe_layout *s = ik_pipe(1);
	ASSERT_EQ(s->ctx_num, 1u);
	blocks.push_back({(uint8_t *)s->ctx[0], IK_STILL_CTX_SIZE});
	ASSERT_EQ(blocks.size(), 13u);
	for (size_t i = 0; i < blocks.size(); i++) {
		EXPECT_EQ((uintptr_t)blocks[i].first % 32, 0u) << i;
		EXPECT_LE(blocks[i].first + blocks[i].second, end) << i;
		if (i > 0) {
			EXPECT_GE(blocks[i].first, blocks[i - 1].first + blocks[i - 1].second)
			    << "blocks overlap at " << i;
		}
	}
	/* Still configurations start without a source (0) until initialised. */
	EXPECT_EQ(((img_dsp_iso_cfg *)s->cfg[0])->src_cfg_id, 0u);
}

TEST_F(IkArch, DefaultTables)
{
	bring_up({});
	void *def = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_def_tbl(&def), 0);
	const uint32_t *lut = (const uint32_t *)((uint8_t *)def + IK_DEF_TBL_CC_LUT_A);
	EXPECT_EQ(lut[0], 0x00010000u);
	EXPECT_EQ(lut[1], 0x00030002u);
	const uint32_t *cube = (const uint32_t *)((uint8_t *)def + IK_DEF_TBL_CC_3D_A);
	EXPECT_EQ(cube[0], 0u);
	EXPECT_EQ(cube[4095], 1023u | 1023u << 10 | 1023u << 20);
}

TEST_F(IkArch, RegionOfTheQueriedSizeAlwaysInitialises)
{
	/* With no pipes the region is exactly the queried size, so the default
	 * table, which skips 32 bytes on the aligned start, must still fit. */
	bring_up({});
	EXPECT_EQ(region_->size(), 60512u);
}

TEST_F(IkArch, InitialisationRefusals)
{
	bring_up({{0, 1, 1, 0, 0}});
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_init_arch(&arch_), -1);
		std::string t = out.text();
		EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_init_arch() ", "Mem has been inited.\n") ||
		            t.find("Mem has been inited.\n") != std::string::npos);
		EXPECT_NE(t.find("Default table has been inited.\n"), std::string::npos);
		EXPECT_NE(t.find("PipeV has been inited.\n"), std::string::npos);
		EXPECT_NE(t.find("Init pipe fail. Return value -1\n"), std::string::npos);
	}
	EXPECT_EQ(vors_img_dsp_deinit_arch(), 0);
	EXPECT_EQ(vors_img_dsp_init_arch(&arch_), 0) << "re-initialisation after deinit";

	vors_img_dsp_deinit_arch();
	img_dsp_arch_info bad = arch_;
	bad.BufNum = 5;
	iktest::SimRegion five((uint32_t)vors_img_dsp_query_arch_mem_size(&bad));
	bad.MemAddr = five.user_addr();
	bad.MemSize = five.size();
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_init_arch(&bad), -1);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_init_arch() ",
		                    "user BufNum 5 is lager than maximum buffer number 4\n"));
	}
	vors_img_dsp_deinit_arch();
	bad = arch_;
	bad.MemSize = 4096;
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_init_arch(&bad), -1);
		EXPECT_NE(out.text().find("Given MemSize 4096 is less than required MemSize"),
		          std::string::npos);
	}
	vors_img_dsp_deinit_arch();
	bad = arch_;
	bad.MemAddr = 0;
	{
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_init_arch(&bad), -1);
		EXPECT_NE(out.text().find("MemAddr 0, MemSize"), std::string::npos);
	}
}

TEST_F(IkArch, TooManyContextsLeavesThePipeUninitialised)
{
	bring_up({});
	vors_img_dsp_deinit_arch();
	std::vector<img_dsp_pipe_info> pipes = {{0, 65, 0, 0, 0}};
	img_dsp_arch_info a = iktest::make_arch(pipes, 1);
	iktest::SimRegion big((uint32_t)vors_img_dsp_query_arch_mem_size(&a));
	a.MemAddr = big.user_addr();
	a.MemSize = big.size();
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_init_arch(&a), -1);
	std::string t = out.text();
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]layout_video() ", "Pipe V required ctx num 65 exceed max num 64\n"));
	EXPECT_NE(t.find("Init pipe fail. Return value -1\n"), std::string::npos);
	EXPECT_EQ(ik_pipe(0)->ctx_num, 0u);
	vors_img_dsp_deinit_arch();
}

TEST_F(IkArch, TooManyHdrConfigurationsAreRefused)
{
	bring_up({});
	vors_img_dsp_deinit_arch();
	std::vector<img_dsp_pipe_info> pipes = {{0, 1, 1, 65, 0}};
	img_dsp_arch_info a = iktest::make_arch(pipes, 1);
	iktest::SimRegion big((uint32_t)vors_img_dsp_query_arch_mem_size(&a));
	a.MemAddr = big.user_addr();
	a.MemSize = big.size();
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_init_arch(&a), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]layout_video() ",
	                    "Pipe V required hdr cfg num 65 exceed max num 64\n"));
	vors_img_dsp_deinit_arch();
}

TEST_F(IkArch, AllocatorRefusesBeyondTheRegion)
{
	bring_up({});
	void *p = nullptr;
	{
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_utility_mem_get(1u << 20, &p), -1);
		EXPECT_EQ((uintptr_t)p, 0xFFFFFFFFu);
		EXPECT_NE(out.text().find("Size 60512\n"), std::string::npos);
	}
	/* The offset was restored: nothing is left, and a failing request does
	 * not consume what a later one could use. */
	ASSERT_EQ(vors_img_dsp_deinit_arch(), 0);
	std::vector<img_dsp_pipe_info> none;
	img_dsp_arch_info a = iktest::make_arch(none, 1);
	iktest::SimRegion r(60512 + 64);
	a.MemAddr = r.user_addr();
	a.MemSize = r.size();
	ASSERT_EQ(vors_img_dsp_init_arch(&a), 0);
	EXPECT_EQ(img_dsp_core_utility_mem_get(1000, &p), -1);
	EXPECT_EQ(img_dsp_core_utility_mem_get(32, &p), 0);
	EXPECT_EQ((uint8_t *)p, r.user() + 60544);
}

TEST_F(IkArch, AddressTranslation)
{
	bring_up({});
	uint8_t *u = region_->user();
	uint64_t ub = region_->user_addr(), pb = region_->phys_addr();
	struct {
		uint32_t off;
	} offs[] = {{0}, {100}, {60511}};
	for (auto o : offs) {
		uint32_t p = img_dsp_core_get_phys_addr(u + o.off, ub, pb);
		EXPECT_EQ(p, (uint32_t)(pb + o.off));
		EXPECT_EQ(img_dsp_core_get_phys_addr((void *)(uintptr_t)p, ub, pb), p) << "already physical";
		EXPECT_EQ(img_dsp_core_get_user_addr(p, ub, pb), u + o.off);
		EXPECT_EQ(img_dsp_core_get_user_addr((uint64_t)(uintptr_t)(u + o.off), ub, pb), u + o.off);
	}
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_get_phys_addr(u + 60512, ub, pb), (uint32_t)(uintptr_t)(u + 60512));
	EXPECT_EQ(img_dsp_core_get_user_addr(pb + 60512, ub, pb), (void *)(uintptr_t)(pb + 60512));
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_get_phys_addr() ", "user_addr is invalid!\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_get_user_addr() ", "phys_addr is invalid!\n"));
}

TEST_F(IkArch, LookupRefusals)
{
	bring_up({{0, 1, 2, 1, 0}, {2, 1, 0, 0, 0}});
	struct Case {
		const char *what;
		int (*call)();
		const char *head;
		const char *tail;
	} cases[] = {
	    {"unknown pipe",
	     [] {
		     img_dsp_ctx_id id{3, 0, {}};
		     void *o = nullptr;
		     int rc = img_dsp_core_utility_get_context(&id, &o);
		     return rc == -1 && (uintptr_t)o == 0xFFFFFFFFu ? -1 : 0;
	     },
	     "[IK][Error]img_dsp_core_utility_get_context() ", "Unknown pipe 3\n"},
	    {"context id equal to the count",
	     [] {
		     img_dsp_ctx_id id{0, 1, {}};
		     void *o;
		     return img_dsp_core_utility_get_context(&id, &o);
	     },
	     "[IK][Error]img_dsp_core_utility_get_context() ", "context id 1 > context number 1 - 1\n"},
	    {"pipe without contexts",
	     [] {
		     img_dsp_ctx_id id{1, 0, {}};
		     void *o;
		     return img_dsp_core_utility_get_context_mutex(&id, &o);
	     },
	     "[IK][Error]img_dsp_core_utility_get_context() ", "context id 0 > context number 0 - 1\n"},
	    {"config id",
	     [] {
		     img_dsp_cfg_id id{0, 2, {}};
		     void *o;
		     return img_dsp_core_utility_get_config(&id, &o);
	     },
	     "[IK][Error]img_dsp_core_utility_get_config() ", "config id 2 > config number 2 - 1\n"},
	    {"config pipe",
	     [] {
		     img_dsp_cfg_id id{4, 0, {}};
		     void *o;
		     return img_dsp_core_utility_get_config_tbl(&id, &o);
	     },
	     "[IK][Error]img_dsp_core_utility_get_config_tbl() ", "Unknown pipe 4\n"},
	    {"hdr pipe",
	     [] {
		     img_dsp_cfg_id id{1, 0, {}};
		     void *o;
		     return img_dsp_core_utility_get_hdr_config(&id, &o);
	     },
	     "[IK][Warning]img_dsp_core_utility_get_hdr_config() ", "invalid pipe: 1\n"},
	    {"hdr id",
	     [] {
		     img_dsp_cfg_id id{0, 1, {}};
		     void *o;
		     return img_dsp_core_utility_get_hdr_config_tbl(&id, &o);
	     },
	     "[IK][Warning]img_dsp_core_utility_get_hdr_config_tbl() ",
	     "invalid cfg id: 1, hdr_config_num: 1\n"},
	    {"pipe info",
	     [] {
		     img_dsp_pipe_info i;
		     return img_dsp_core_utility_get_pipe_info(2, &i);
	     },
	     "[IK][Error]img_dsp_core_utility_get_pipe_info() ", "Not support pipe: 2\n"},
	    {"table index",
	     [] {
		     img_dsp_ctx_id id{1, 0, {}};
		     uint32_t o = 7;
		     int rc = img_dsp_core_utility_get_context_tbl_idx(0, &id, &o);
		     return rc == -1 && o == 0 ? -1 : 0;
	     },
	     "[IK][Error]img_dsp_core_utility_get_context_tbl_idx() ", "Incorrect pipe 1\n"},
	};
	for (const auto &c : cases) {
		StdoutCapture out;
		EXPECT_EQ(c.call(), -1) << c.what;
		EXPECT_TRUE(has_msg(out.text(), c.head, c.tail)) << c.what << ": " << out.text();
	}
	uint32_t idx = 9;
	img_dsp_ctx_id id{0, 0, {}};
	EXPECT_EQ(vors_img_dsp_get_context_tbl_idx(123, &id, &idx), 0);
	EXPECT_EQ(idx, 0u);
}

TEST(IkArchUninitialised, LookupsFailBeforeInit)
{
	vors_img_dsp_deinit_arch();
	StdoutCapture out;
	img_dsp_ctx_id id{0, 0, {}};
	void *o = (void *)0x1234;
	EXPECT_EQ(img_dsp_core_utility_get_context(&id, &o), -1);
	EXPECT_EQ(o, (void *)0x1234) << "out stays untouched";
	void *def;
	EXPECT_EQ(img_dsp_core_utility_get_def_tbl(&def), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_utility_get_context() ",
	                    "MemAddr 0, MemSize 0, CTX is not initialed\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]img_dsp_core_utility_get_def_tbl() ", "Default table not inited\n"));
}

TEST_F(IkArch, KeepModeFindsContentsAgain)
{
	bring_up({{0, 1, 1, 0, 0}});
	void *ctx;
	img_dsp_ctx_id id{0, 0, {}};
	ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
	((uint8_t *)ctx)[5000] = 0x5A;
	vors_img_dsp_deinit_arch();
	arch_.InitMode = IMG_DSP_INIT_MODE_KEEP;
	ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
	ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
	EXPECT_EQ(((uint8_t *)ctx)[5000], 0x5A);
	EXPECT_EQ(img_dsp_core_utility_get_init_mode(), IMG_DSP_INIT_MODE_KEEP);
	vors_img_dsp_deinit_arch();
	arch_.InitMode = IMG_DSP_INIT_MODE_NORMAL;
	ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
	ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
	EXPECT_EQ(((uint8_t *)ctx)[5000], 0) << "normal mode clears";
}

TEST_F(IkArch, MemFunctionsNullRecordKeepsHooks)
{
	bring_up({});
	vors_img_dsp_deinit_arch();
	vors_img_dsp_register_mem_functions(nullptr);
	memset(region_->user(), 0, region_->size());
	ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
	void *def;
	ASSERT_EQ(img_dsp_core_utility_get_def_tbl(&def), 0);
	EXPECT_EQ(((uint32_t *)((uint8_t *)def + IK_DEF_TBL_CC_LUT_A))[1], 0x00030002u)
	    << "the memcpy hook still copies the default tables";
}

} // namespace
