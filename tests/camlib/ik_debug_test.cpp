/* Debug facilities: log records through a registered writer, the setters'
 * debug hooks, the settings dump, the debug mode and the profiler ring. */
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_test_support.h"
#include "img_dsp_mctf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

struct Piece {
	std::vector<uint8_t> bytes;
	uint32_t tag;
};

std::vector<Piece> pieces;

void capture_writer(const void *data, uint32_t size, const void *tag)
{
	const uint8_t *p = (const uint8_t *)data;
	pieces.push_back({std::vector<uint8_t>(p, p + size), *(const uint32_t *)tag});
}

struct Record {
	uint32_t id;
	uint8_t count;
	std::vector<std::vector<uint8_t>> entries;
	uint32_t tag;
};

/* Splits the captured pieces back into records. */
std::vector<Record> records()
{
	std::vector<Record> out;
	size_t i = 0;
	while (i + 1 < pieces.size()) {
		Record r{};
		EXPECT_EQ(pieces[i].bytes.size(), 4u);
		memcpy(&r.id, pieces[i].bytes.data(), 4);
		r.tag = pieces[i].tag;
		EXPECT_EQ(pieces[i + 1].bytes.size(), 1u);
		r.count = pieces[i + 1].bytes[0];
		i += 2;
		for (uint8_t e = 0; e < r.count && i + 1 < pieces.size(); e++, i += 2) {
			uint32_t size;
			memcpy(&size, pieces[i].bytes.data(), 4);
			EXPECT_EQ(pieces[i + 1].bytes.size(), size) << "record " << r.id;
			r.entries.push_back(pieces[i + 1].bytes);
		}
		out.push_back(r);
	}
	return out;
}

std::vector<uint32_t> ids(const std::vector<Record> &rs)
{
	std::vector<uint32_t> v;
	for (const auto &r : rs)
		v.push_back(r.id);
	return v;
}

class IkDebug : public IkFixture
{
      protected:
	void SetUp() override
	{
		{
			/* The decode layout reports its table alignment; not this test's concern. */
			StdoutCapture quiet;
			bring_up({{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
		}
		for (uint32_t pipe : {0u, 1u}) {
			img_dsp_ctx_id id{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &id, &id), 0);
		}
		uint8_t zero[IMG_DSP_LOG_ID_NUM] = {};
		vors_img_dsp_set_debug_log_enables(zero);
		set_flags(0);
		pieces.clear();
	}
	void TearDown() override
	{
		vors_img_dsp_register_debug_log_writer(nullptr);
		set_flags(0);
		img_dsp_core_profile_reset();
		IkFixture::TearDown();
	}
	/* Only the dump sets the flags; it writes nothing without a writer. */
	void set_flags(uint8_t flags)
	{
		vors_img_dsp_register_debug_log_writer(nullptr);
		img_dsp_mode m = mode(0, 0);
		img_dsp_debug_dump_all(&m, flags);
	}
	ik_ctx_body *body(uint32_t pipe)
	{
		img_dsp_ctx_id id{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&id, &c), 0);
		return ik_body(pipe, c);
	}
};

TEST_F(IkDebug, RecordWriting)
{
	const uint8_t a[3] = {1, 2, 3};
	const void *data[2] = {nullptr, a};
	const uint32_t sizes[2] = {8, 3};
	uint32_t tag = 5;
	EXPECT_EQ(img_dsp_debug_log_write(7, 2, data, sizes, &tag), -1) << "no writer registered";
	EXPECT_TRUE(pieces.empty());
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	StdoutCapture out;
	EXPECT_EQ(img_dsp_debug_log_write(7, 2, data, sizes, &tag), 0);
	EXPECT_EQ(out.text(), "[IK]id: 7, index: 0, data = 0x0, size = 8, skip it\n");
	/* id, count of present entries, then only the second entry. */
	ASSERT_EQ(pieces.size(), 4u);
	EXPECT_EQ(pieces[0].bytes, (std::vector<uint8_t>{7, 0, 0, 0}));
	EXPECT_EQ(pieces[1].bytes, (std::vector<uint8_t>{1}));
	EXPECT_EQ(pieces[2].bytes, (std::vector<uint8_t>{3, 0, 0, 0}));
	EXPECT_EQ(pieces[3].bytes, (std::vector<uint8_t>{1, 2, 3}));
	for (const auto &p : pieces)
		EXPECT_EQ(p.tag, 5u);
}

TEST_F(IkDebug, IdListAndEnables)
{
	StdoutCapture out;
	vors_img_dsp_set_debug_log_id(0, 1);
	std::string t = out.text();
	EXPECT_EQ(t.rfind("[IK]0: LOG_SHOW_CMD_ID_LIST\n[IK]1: LOG_VIN_SENSOR_INFO\n", 0), 0u);
	EXPECT_NE(t.find("[IK]51: LOG_VIDEO_HDR_AMP_LINEAR\n[IK]53: LOG_VIDEO_HDR_BLACK_LEVEL_AMP_LINEAR\n"),
	          std::string::npos);
	EXPECT_NE(t.find("[IK]65: LOG_VIDEO_HDR_BLEND_INDEX\n[IK]71: LOG_VIDEO_HDR_POST_EXECUTE\n"
	                 "[IK]66: LOG_VIDEO_CLISO_MOTION_DETECT\n"),
	          std::string::npos);
	EXPECT_EQ(t.size() - t.rfind("[IK]72: LOG_POST_EXECUTE\n"), strlen("[IK]72: LOG_POST_EXECUTE\n"));
	EXPECT_EQ(t.find("[IK]52:"), std::string::npos);
	size_t lines = 0;
	for (char ch : t)
		lines += ch == '\n';
	EXPECT_EQ(lines, 72u);
	EXPECT_EQ(img_dsp_debug_log_enable(0), 0) << "id 0 only prints the list";

	vors_img_dsp_set_debug_log_id(72, 3);
	vors_img_dsp_set_debug_log_id(1, 1);
	EXPECT_EQ(img_dsp_debug_log_enable(72), 3);
	EXPECT_EQ(img_dsp_debug_log_enable(1), 1);
	uint8_t *en = vors_img_dsp_enable_post_execute_log();
	EXPECT_EQ(en[71], 1);
	EXPECT_EQ(en[72], 1);
	EXPECT_EQ(en[1], 1);
}

/* A setter of this test: stores a chroma-filter block through the common
 * path with the chroma filter's log id. */
int store_block(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *)
{
	img_dsp_ctx_id id{mode->Pipe, mode->ContextId, {}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return -1;
	ik_body(mode->Pipe, ctx)->blk.chroma_filter = *(const img_dsp_chroma_filter *)block;
	return 0;
}

void print_radius(const void *block)
{
	ik_print("[IK]     Radius %d\n", ((const img_dsp_chroma_filter *)block)->Radius);
}

__attribute__((noinline)) int vors_img_dsp_set_test(const img_dsp_debug_hook *hook, const img_dsp_mode *mode,
                                                    img_dsp_chroma_filter *b)
{
	const img_dsp_setter setter = {__func__, hook, sizeof(*b), store_block, IK_PIPES_VIDEO_STILL,
	                               NULL,     NULL};
	return img_dsp_common_set(&setter, __builtin_extract_return_addr(__builtin_return_address(0)), -1,
	                          mode, b, 0);
}

TEST_F(IkDebug, SetterHooksPrintAndRecord)
{
	struct Case {
		const char *what;
		uint8_t enable, flags;
		uint32_t kind;
		bool caller, bare, fields, record;
	} cases[] = {
	    {"switched off", 0, 7, IK_HOOK_RECORD, false, false, false, false},
	    {"caller only", 1, 1, IK_HOOK_RECORD, true, false, false, false},
	    {"bare caller line", 1, 1, IK_HOOK_BARE_CALLER, false, true, false, false},
	    {"mode and fields", 1, 2, IK_HOOK_RECORD, false, false, true, false},
	    {"record", 1, 4, IK_HOOK_RECORD, false, false, false, true},
	    {"everything", 9, 7, IK_HOOK_RECORD, true, false, true, true},
	    {"print-only setter", 1, 7, IK_HOOK_PRINT_ONLY, true, false, true, false},
	    {"exactly one, enable 2", 2, 7, IK_HOOK_EXACTLY_ONE, false, false, false, false},
	    {"exactly one, enable 1", 1, 4, IK_HOOK_EXACTLY_ONE, false, false, false, true},
	};
	for (const auto &c : cases) {
		set_flags(c.flags);
		ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
		pieces.clear();
		vors_img_dsp_set_debug_log_id(LOG_CHROMA_FILTER, c.enable);
		img_dsp_debug_hook hook{LOG_CHROMA_FILTER, c.kind, print_radius};
		img_dsp_mode m = mode(1, 0);
		img_dsp_chroma_filter b{};
		b.Radius = 77;
		StdoutCapture out;
		EXPECT_EQ(vors_img_dsp_set_test(&hook, &m, &b), 0) << c.what;
		std::string t = out.text();
		EXPECT_EQ(t.find("[IK]vors_img_dsp_set_test Caller: 0x") == 0, c.caller)
		    << c.what << ": " << t;
		EXPECT_EQ(t.find("[IK]vors_img_dsp_set_test: 0x") == 0, c.bare) << c.what << ": " << t;
		EXPECT_EQ(
		    t.find("[IK]     Pipe 1, Algo 1, Func 0, Ctx 0, Bch 255, Cfg 0 \n[IK]     Radius 77\n") !=
		        std::string::npos,
		    c.fields)
		    << c.what << ": " << t;
		std::vector<Record> rs = records();
		ASSERT_EQ(rs.size(), c.record ? 1u : 0u) << c.what;
		if (c.record) {
			EXPECT_EQ(rs[0].id, (uint32_t)LOG_CHROMA_FILTER);
			ASSERT_EQ(rs[0].entries.size(), 1u);
			EXPECT_EQ(rs[0].entries[0].size(), sizeof(b));
			EXPECT_EQ(memcmp(rs[0].entries[0].data(), &b, sizeof(b)), 0);
		}
		EXPECT_EQ(body(1)->blk.chroma_filter.Radius, 77) << c.what;
		body(1)->blk.chroma_filter.Radius = 0;
	}
}

TEST_F(IkDebug, RecordFailureDoesNotStopTheSetter)
{
	set_flags(IMG_DSP_DEBUG_WRITE_LOG);
	vors_img_dsp_set_debug_log_id(LOG_CHROMA_FILTER, 1);
	img_dsp_debug_hook hook{LOG_CHROMA_FILTER, IK_HOOK_RECORD, nullptr};
	img_dsp_mode m = mode(0, 0);
	img_dsp_chroma_filter b{};
	b.Radius = 50;
	EXPECT_EQ(vors_img_dsp_set_test(&hook, &m, &b), 0);
	EXPECT_EQ(body(0)->blk.chroma_filter.Radius, 50);
}

std::vector<uint32_t> base_ids(bool first_sharpen)
{
	std::vector<uint32_t> v = {0, 1, 3, 4, 7, 8};
	for (uint32_t id = 9; id <= 25; id++)
		v.push_back(id);
	for (uint32_t id = 27; id <= 31; id++)
		v.push_back(id);
	if (first_sharpen) {
		for (uint32_t id = 33; id <= 40; id++)
			v.push_back(id);
	} else {
		v.push_back(26);
	}
	for (uint32_t id = 41; id <= 48; id++)
		v.push_back(id);
	v.push_back(60);
	return v;
}

TEST_F(IkDebug, DumpWritesEverySettingInOrder)
{
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	img_dsp_mode m = mode(0, 0);
	StdoutCapture out;
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG);
	std::vector<Record> rs = records();
	std::vector<uint32_t> want = base_ids(false);
	for (uint32_t id : {49, 51, 50, 55, 56, 72})
		want.push_back(id);
	EXPECT_EQ(ids(rs), want);
	for (const auto &r : rs)
		EXPECT_EQ(r.tag, 0u);

	ik_ctx_body *b = body(0);
	for (const auto &r : rs) {
		if (r.id == LOG_COLOR_CORRECTION) {
			ASSERT_EQ(r.count, 2) << "the block and the table the getter points at";
			EXPECT_EQ(r.entries[1].size(), 17536u);
			uint64_t p;
			memcpy(&p, r.entries[0].data(), 8);
			EXPECT_EQ(p, (uint64_t)(uintptr_t)b->blk.cc_table_copy);
		}
		if (r.id == LOG_COLOR_CORRECTION_REG) {
			EXPECT_EQ(r.count, 1) << "no register table loaded yet";
		}
		if (r.id == LOG_WB_GAIN) {
			ASSERT_EQ(r.entries[0].size(), 20u);
			EXPECT_EQ(memcmp(r.entries[0].data(), &b->blk.wb_gain, 20), 0);
		}
		if (r.id == LOG_VIGNETTE_COMPENSATION) {
			EXPECT_EQ(r.entries[0], std::vector<uint8_t>(104, 0));
		}
		if (r.id == LOG_VIDEO_HDR_AMP_LINEAR) {
			ASSERT_EQ(r.count, 2) << "index and block; no table behind a NULL address";
			EXPECT_EQ(r.entries[0], (std::vector<uint8_t>{0, 0, 0, 0}));
		}
		if (r.id == LOG_POST_EXECUTE) {
			ASSERT_EQ(r.entries[0].size(), sizeof(m));
			EXPECT_EQ(memcmp(r.entries[0].data(), &m, sizeof(m)), 0);
		}
	}
	EXPECT_EQ(img_dsp_debug_log_enable(LOG_POST_EXECUTE), 1);
	EXPECT_NE(out.text().find("[IK]id: 8, index: 1, data = 0x0, size = 18752, skip it\n"),
	          std::string::npos);
}

TEST_F(IkDebug, DumpFollowsLumaModeHdrAndTableFlag)
{
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	ik_ctx_body *b = body(0);
	b->blk.liso_process_select[0] = 1;
	b->blk.hdr.blending_info[0] = 1;
	b->blk.hdr.front_end_wb_gain[1][0] = 0x42;
	img_dsp_mode m = mode(0, 3);
	m.ContextId = 0;
	m.FuncMode = IMG_DSP_FUNC_NO_HDR;
	StdoutCapture out;
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG | IMG_DSP_DEBUG_NO_TABLES);
	std::vector<Record> rs = records();
	std::vector<uint32_t> want = base_ids(true);
	for (uint32_t id : {64, 65, 49, 51, 50, 49, 51, 50, 55, 56, 55, 56, 72})
		want.push_back(id);
	EXPECT_EQ(ids(rs), want);
	int fe = 0;
	for (const auto &r : rs) {
		if (r.id == LOG_COLOR_CORRECTION || r.id == LOG_COLOR_CORRECTION_REG ||
		    r.id == LOG_FINAL_SHARPEN_NOISE_BOTH) {
			EXPECT_EQ(r.count, 1) << r.id << ": tables left out";
		}
		if (r.id == LOG_VIDEO_HDR_FRONT_END_WB_GAIN) {
			uint32_t idx;
			memcpy(&idx, r.entries[0].data(), 4);
			EXPECT_EQ(idx, (uint32_t)fe);
			EXPECT_EQ(r.entries[1][0], fe == 1 ? 0x42 : 0);
			fe++;
		}
	}
}

TEST_F(IkDebug, DumpOfStillContextClearsVideoOnlyRecords)
{
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	img_dsp_mode m = mode(1, 0);
	body(1)->blk.video_mctf[0] = 9;
	StdoutCapture out;
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG);
	for (const auto &r : records()) {
		if (r.id == LOG_VIDEO_MCTF) {
			EXPECT_EQ(r.entries[0], std::vector<uint8_t>(364, 0))
			    << "a refused getter leaves the record cleared";
		}
	}
	/* the refusals are the getters' own */
	std::string text = out.text();
	for (const char *getter :
	     {"vors_img_dsp_get_video_mctf", "vors_img_dsp_get_video_mctf_temporal_adjust_cr",
	      "vors_img_dsp_get_contrast_enhance"})
		EXPECT_TRUE(
		    has_msg(text, std::string("[IK][Error]") + getter + "() ", "does not support pipe 1\n"))
		    << getter;
}

/* The raw-stage and MCTF records hold what their getters return. */
TEST_F(IkDebug, DumpReadsTheRawStageAndMctfThroughTheirGetters)
{
	img_dsp_mode m = mode(0, 0);
	StdoutCapture quiet;
	img_dsp_static_black_level black{-3000, -10, -11, -12};
	ASSERT_EQ(vors_img_dsp_set_static_black_level(0, &m, &black), IMG_DSP_CLAMPED);
	img_dsp_video_mctf_temporal_adjust_y y{16, 2, 100, 200, 300};
	ASSERT_EQ(vors_img_dsp_set_video_mctf_temporal_adjust_y(0, &m, &y), IMG_DSP_CLAMPED);
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	pieces.clear();
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG);
	int seen = 0;
	for (const auto &r : records()) {
		if (r.id == LOG_STATIC_BLACK_LEVEL) {
			img_dsp_static_black_level got{};
			ASSERT_EQ(vors_img_dsp_get_static_black_level(&m, &got), 0);
			ASSERT_EQ(r.entries[0].size(), sizeof(got));
			EXPECT_EQ(memcmp(r.entries[0].data(), &got, sizeof(got)), 0);
			EXPECT_EQ(got.BlackR, -2048);
			seen++;
		}
		if (r.id == LOG_VIDEO_MCTF_TEMPORAL_ADJUST_Y) {
			EXPECT_EQ(r.entries[0], std::vector<uint8_t>({15, 2, 100, 0, 200, 0, 44, 1}));
			seen++;
		}
	}
	EXPECT_EQ(seen, 2);
}

TEST_F(IkDebug, DumpWithoutRecordFlagOnlySetsFlags)
{
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	img_dsp_mode m = mode(0, 0);
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_PRINT_FIELDS);
	EXPECT_TRUE(pieces.empty());
	EXPECT_EQ(img_dsp_debug_flags(), IMG_DSP_DEBUG_PRINT_FIELDS);
}

/* The sharpen-noise setters' records: the first stage logs on any non-zero
 * enable, the final on exactly 1; the final both record carries the
 * caller's 3-D table unless the large tables are left out. */
TEST_F(IkDebug, SharpenNoiseRecords)
{
	std::vector<uint8_t> table(4096);
	for (size_t i = 0; i < table.size(); i++)
		table[i] = (uint8_t)i;
	img_dsp_final_sharpen_noise_both both{};
	both.three_d_table = (uint64_t)(uintptr_t)table.data();
	img_dsp_1st_sharpen_noise_both first{};
	struct {
		uint8_t enable, flags;
		size_t final_entries, first_records;
	} cases[] = {
	    {1, IMG_DSP_DEBUG_WRITE_LOG, 2, 1},
	    {1, IMG_DSP_DEBUG_WRITE_LOG | IMG_DSP_DEBUG_NO_TABLES, 1, 1},
	    {2, IMG_DSP_DEBUG_WRITE_LOG, 0, 1},
	    {0, IMG_DSP_DEBUG_WRITE_LOG, 0, 0},
	};
	img_dsp_mode m = mode(0, 0);
	for (const auto &c : cases) {
		set_flags(c.flags);
		ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
		vors_img_dsp_set_debug_log_id(LOG_FINAL_SHARPEN_NOISE_BOTH, c.enable);
		vors_img_dsp_set_debug_log_id(LOG_FIRST_SHARPEN_NOISE_BOTH, c.enable);
		pieces.clear();
		StdoutCapture quiet;
		EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &both), 0);
		EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_both(0, &m, &first), 0);
		std::vector<Record> rs = records();
		size_t want = (c.final_entries ? 1 : 0) + c.first_records;
		ASSERT_EQ(rs.size(), want) << (int)c.enable << " " << (int)c.flags;
		if (c.final_entries) {
			EXPECT_EQ(rs[0].id, (uint32_t)LOG_FINAL_SHARPEN_NOISE_BOTH);
			ASSERT_EQ(rs[0].entries.size(), c.final_entries);
			EXPECT_EQ(memcmp(rs[0].entries[0].data(), &both, 32), 0) << "the caller's block";
			if (c.final_entries == 2) {
				EXPECT_EQ(rs[0].entries[1], table);
			}
		}
		if (c.first_records) {
			EXPECT_EQ(rs.back().id, (uint32_t)LOG_FIRST_SHARPEN_NOISE_BOTH);
			EXPECT_EQ(rs.back().entries[0].size(), 8u);
		}
	}
}

TEST_F(IkDebug, DumpReadsTheSharpenBlocksThroughTheirGetters)
{
	std::vector<uint8_t> table(4096, 0x5C);
	img_dsp_final_sharpen_noise_both both{};
	both.max_change_down = 9;
	both.three_d_table = (uint64_t)(uintptr_t)table.data();
	img_dsp_mode m = mode(0, 0);
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &both), 0);
	img_dsp_final_level lv{1, 2, 3, 4, 50, 1, 6, 1};
	ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_scale_coring(0, &m, &lv), 0);
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	pieces.clear();
	img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG);
	const ik_final_sharpen_group &g = body(0)->blk.final_sharpen;
	int seen = 0;
	for (const auto &r : records()) {
		if (r.id == LOG_FINAL_SHARPEN_NOISE_BOTH) {
			ASSERT_EQ(r.count, 2);
			uint64_t p;
			memcpy(&p, r.entries[0].data() + 24, 8);
			EXPECT_EQ(p, (uint64_t)(uintptr_t)g.three_d_table)
			    << "the getter's block names the copy";
			EXPECT_EQ(r.entries[0][16], 9);
			EXPECT_EQ(r.entries[1], table);
			seen++;
		}
		if (r.id == LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING) {
			EXPECT_EQ(r.entries[0], std::vector<uint8_t>({1, 2, 3, 4, 50, 1, 6, 1}));
			seen++;
		}
	}
	EXPECT_EQ(seen, 2);
}

/* Debug flag 2: each member's fields in its stage's own lines. */
TEST_F(IkDebug, SharpenNoiseFieldPrints)
{
	set_flags(IMG_DSP_DEBUG_PRINT_FIELDS);
	for (uint32_t id = LOG_FIRST_SHARPEN_NOISE_BOTH; id <= LOG_FINAL_SHARPEN_NOISE_SHARPEN_SCALE_CORING;
	     id++)
		vors_img_dsp_set_debug_log_id(id, 1);
	img_dsp_mode m = mode(1, 0);
	const std::string mode_line = "[IK]     Pipe 1, Algo 1, Func 0, Ctx 0, Bch 255, Cfg 0 \n";

	img_dsp_sharpen_coring c{};
	for (int i = 0; i < 256; i++)
		c.coring[i] = (uint8_t)(i % 32);
	c.coring_mul_fractional_bits = 1;
	std::string row0 = "[IK]   0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15 \n";
	std::string row15 = "[IK]  16  17  18  19  20  21  22  23  24  25  26  27  28  29  30  31 \n";
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_coring(0, &m, &c), 0);
		std::string want = mode_line + "[IK]  Coring = {\n";
		for (int r = 0; r < 16; r++)
			want += (r % 2 ? row15 : row0);
		want += "[IK]  }\n";
		EXPECT_EQ(cap.text(), want);
	}
	img_dsp_fir f{};
	f.specify = 1;
	for (int k = 0; k < 25; k++)
		f.coefs[0][k] = (int16_t)(k - 3);
	f.strength_iso = 12;
	f.strength_dir = 34;
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_fir(0, &m, &f), 0);
		EXPECT_EQ(cap.text(), mode_line + "[IK]specify 1\n[IK]coefs[] = \n"
		                                  "[IK]   -3    -2    -1     0     1     2     3\n"
		                                  "[IK]    4     5     6     7     8     9    10\n"
		                                  "[IK]   11    12    13    14    15    16    17\n"
		                                  "[IK]   18    19    20    21\n"
		                                  "[IK]strength_iso 12\n[IK]strength_dir 34\n");
	}
	f.specify = 2;
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_fir(0, &m, &f), 0);
		EXPECT_EQ(cap.text(), mode_line + "[IK]specify 2\n");
	}
	img_dsp_final_sharpen_noise_noise n{};
	n.max_change_up = 7;
	n.fir.specify = 0;
	n.fir.strength_iso = 64;
	n.level_str_adjust = img_dsp_level{10, 1, 2, 3, 40, 2, 4};
	n.level_str_adjust_method = 6;
	n.t0 = 20;
	n.t1 = 30;
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_noise(0, &m, &n), 0);
		EXPECT_EQ(cap.text(), mode_line +
		                          "[IK]max_change_up 7\n[IK]max_change_down 0\n[IK]fir_specify 0\n"
		                          "[IK]fir_strength_iso 64\n[IK]fir_strength_dir 0\n"
		                          "[IK]level_str_adjust low 10\n[IK]level_str_adjust low_delta 1\n"
		                          "[IK]level_str_adjust low_strength 2\n"
		                          "[IK]level_str_adjust mid_strength 3\n"
		                          "[IK]level_str_adjust high 40\n[IK]level_str_adjust high_delta 2\n"
		                          "[IK]level_str_adjust high_strength 4\n"
		                          "[IK]level_str_adjust method 6\n"
		                          "[IK]level_str_adjust_not_t0_t1_level_based 0\n[IK]t0 20\n"
		                          "[IK]t1 30\n[IK]alpha_min 0\n[IK]alpha_max 0\n");
	}
	img_dsp_1st_sharpen_noise_both b{1, 2, 300, 4, 0, 0, 0};
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_both(0, &m, &b), 0);
		EXPECT_EQ(cap.text(),
		          mode_line + "[IK]     Enable 1 Mode 2 EdgeThresh 300 WideEdgeDetect 4\n");
	}
	img_dsp_level lv{10, 1, 2, 3, 40, 2, 4};
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_max_coring_result(0, &m, &lv), 0);
		EXPECT_EQ(cap.text(), mode_line +
		                          "[IK]max_coring_result low 10\n[IK]max_coring_result low_delta 1\n"
		                          "[IK]max_coring_result low_strength 2\n"
		                          "[IK]max_coring_result mid_strength 3\n"
		                          "[IK]max_coring_result high 40\n"
		                          "[IK]max_coring_result high_delta 2\n"
		                          "[IK]max_coring_result high_strength 4\n");
	}
	img_dsp_fir first{};
	first.specify = 3;
	first.per_dir_fir_iso_strengths[8] = 9;
	first.coefs[8][24] = -5;
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(0, &m, &first), 0);
		std::string t = cap.text();
		EXPECT_NE(t.find("[IK]     Specify = 3\n[IK]     StrengthIso 0\n[IK]     StrengthDir 0\n"
		                 "[IK]     PerDirFirIsoStrengths = 0 0 0 0 0 0 0 0 9\n"),
		          std::string::npos)
		    << t;
		EXPECT_NE(t.find("[IK]     Coefs[8] 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 -5\n"),
		          std::string::npos)
		    << t;
	}
}

/* The advance spatial filter's setter logs on any non-zero enable and
 * prints its fields under flag 2; the dump reads the stored block. */
TEST_F(IkDebug, AdvanceSpatialFilterRecordPrintAndDump)
{
	img_dsp_advance_spatial_filter a{};
	a.Enable = 1;
	a.wide_edge_detect = 5;
	a.Fir.specify = 2;
	a.Fir.strength_iso = 64;
	a.Fir.strength_dir = 128;
	a.DirectionalDecideT0 = 20;
	a.DirectionalDecideT1 = 40;
	a.Adapt = {1, 2, 4, 6, 3, 5, 8, 10};
	a.LevelStrAdjust = {10, 1, 16, 32, 20, 1, 48};
	a.T0T1Div = {30, 2, 5, 6, 50, 3, 7};
	a.MaxChangeUp = 11;
	a.MaxChangeDown = 12;
	img_dsp_mode m = mode(0, 0);
	for (uint8_t enable : {0, 1, 7}) {
		set_flags(IMG_DSP_DEBUG_WRITE_LOG);
		ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
		vors_img_dsp_set_debug_log_id(LOG_ADVANCE_SPATIAL_FILTER, enable);
		pieces.clear();
		ASSERT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &m, &a), 0);
		std::vector<Record> rs = records();
		ASSERT_EQ(rs.size(), enable ? 1u : 0u) << (int)enable;
		if (enable) {
			EXPECT_EQ(rs[0].id, (uint32_t)LOG_ADVANCE_SPATIAL_FILTER);
			ASSERT_EQ(rs[0].entries.size(), 1u);
			EXPECT_EQ(rs[0].entries[0].size(), 542u);
			EXPECT_EQ(memcmp(rs[0].entries[0].data(), &a, 542), 0);
		}
	}

	set_flags(IMG_DSP_DEBUG_PRINT_FIELDS);
	vors_img_dsp_set_debug_log_id(LOG_ADVANCE_SPATIAL_FILTER, 1);
	{
		StdoutCapture cap;
		ASSERT_EQ(vors_img_dsp_set_advance_spatial_filter(0, &m, &a), 0);
		std::string t = cap.text();
		EXPECT_NE(t.find("[IK]     Enable = 1\n[IK]     wide_edge_detect = 5\n[IK]     Specify = 2\n"
		                 "[IK]     StrengthIso 64\n[IK]     StrengthDir 128\n"),
		          std::string::npos)
		    << t;
		EXPECT_NE(t.find("[IK]     Coefs[8] 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
		                 "[IK]     DirectionalDecideT0 20\n[IK]     DirectionalDecideT1 40\n"
		                 "[IK]     Adapt.AlphaMinUp 1\n[IK]     Adapt.AlphaMaxUp 2\n"
		                 "[IK]     Adapt.T0Up 4\n[IK]     Adapt.T1Up 6\n"
		                 "[IK]     Adapt.AlphaMinDown 3\n[IK]     Adapt.AlphaMaxDown 5\n"
		                 "[IK]     Adapt.T0Down 8\n[IK]     Adapt.T1Down 10\n"
		                 "[IK]LevelStrAdjust low 10\n"),
		          std::string::npos)
		    << t;
		EXPECT_NE(t.find("[IK]T0T1Div high_strength 7\n[IK]MaxChangeUp 11\n[IK]MaxChangeDown 12\n"),
		          std::string::npos)
		    << t;
	}

	/* The dump (first sharpen not selected) reads the block back. */
	set_flags(0);
	ASSERT_EQ(vors_img_dsp_register_debug_log_writer(capture_writer), 0);
	pieces.clear();
	{
		StdoutCapture quiet;
		img_dsp_debug_dump_all(&m, IMG_DSP_DEBUG_WRITE_LOG);
	}
	int seen = 0;
	for (const auto &r : records())
		if (r.id == LOG_ADVANCE_SPATIAL_FILTER) {
			ASSERT_EQ(r.entries.size(), 1u);
			EXPECT_EQ(r.entries[0],
			          std::vector<uint8_t>((const uint8_t *)&a, (const uint8_t *)&a + 542));
			seen++;
		}
	EXPECT_EQ(seen, 1);
}

TEST_F(IkDebug, DebugModeStoredPerContext)
{
	const uint8_t dm[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
	uint8_t got[12] = {};
	img_dsp_mode still = mode(1, 0);
	EXPECT_EQ(vors_img_dsp_set_debug_mode(&still, dm), 0);
	EXPECT_EQ(vors_img_dsp_get_debug_mode(&still, got), 0);
	EXPECT_EQ(memcmp(got, dm, 12), 0);
	img_dsp_mode vid = mode(0, 0);
	EXPECT_EQ(vors_img_dsp_get_debug_mode(&vid, got), 0);
	EXPECT_EQ(got[0], 0) << "each context has its own";

	StdoutCapture out;
	img_dsp_mode dec = mode(2, 0);
	EXPECT_EQ(vors_img_dsp_set_debug_mode(&dec, dm), -1);
	img_dsp_mode missing = mode(0, 4);
	EXPECT_EQ(vors_img_dsp_get_debug_mode(&missing, got), -1);
	img_dsp_core_debug_mode rec{2, 1, {}};
	EXPECT_EQ(VorsDSP_ImgCoreSetDebugMode(&rec), -1);
	rec = {1, 0, {}};
	EXPECT_EQ(VorsDSP_ImgCoreSetDebugMode(&rec), 0);
	rec = {0, 3, {}};
	EXPECT_EQ(VorsDSP_ImgCoreGetDebugMode(&rec), 0);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_set_debug_mode() ", "does not support pipe 2\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]vors_img_dsp_get_debug_mode() ", "Cannot get context mutex\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]VorsDSP_ImgCoreSetDebugMode() ", "does not support pipe 2\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Warning]VorsDSP_ImgCoreSetDebugMode() ", "Incorrect AlgoMode 0\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]VorsDSP_ImgCoreGetDebugMode() ", "Incorrect AlgoMode 3\n"));
}

TEST(IkProfiler, RingWrapsAndDumps)
{
	img_dsp_profile_entry ring[4];
	memset(ring, 0xFF, sizeof(ring));
	{
		StdoutCapture out;
		EXPECT_EQ(img_dsp_core_profile_init(ring, 15), -1);
		EXPECT_TRUE(has_msg(out.text(), "[IK][Error]img_dsp_core_profile_init() ",
		                    "Size: 15 is too small!\n"));
	}
	ASSERT_EQ(img_dsp_core_profile_init(ring, sizeof(ring) + 8), 0);
	static const char *const names[] = {"s1", "s2", "s3", "s4", "s5", "s6"};
	for (int i = 0; i < 6; i++)
		EXPECT_EQ(img_dsp_core_profile_stamp(names[i], (uint32_t)i % 4, 0, 1), 0);
	EXPECT_EQ(img_dsp_core_profile_stamp("ignored", 0, 0, 0), 0);
	const char *want[4] = {"s5", "s6", "s3", "s4"};
	for (int i = 0; i < 4; i++) {
		EXPECT_STREQ(ring[i].name, want[i]);
		EXPECT_EQ(ring[i].time, 0u);
	}
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_profile_dump_history(3), 0);
	EXPECT_EQ(out.text(), "[IK]Start_Time During_Time      State FunctionName\n"
	                      "[IK]         0  ----------      Start s5\n"
	                      "[IK]         0           0   GetMutex s6\n"
	                      "[IK]         0           0    Process s3\n");
	img_dsp_core_profile_reset();
}

TEST(IkProfiler, WithoutRing)
{
	img_dsp_core_profile_reset();
	StdoutCapture out;
	EXPECT_EQ(img_dsp_core_profile_stamp("f", 1, 0, 0), 0);
	EXPECT_EQ(img_dsp_core_profile_stamp("f", 0, 0, 1), 0);
	EXPECT_EQ(img_dsp_core_profile_stamp("f", 2, 5, 1), 0);
	EXPECT_EQ(img_dsp_core_profile_dump_history(4), -1);
	std::string t = out.text();
	EXPECT_EQ(t.rfind("[IK]f Process takes -5 ms.\n", 0), 0u) << t;
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_profile_dump_history() ", "without init!\n"));
}

} // namespace
