/* The frame: registration, thin entries and the common setter and getter
 * paths, proven with a filter that exists only in this test. */
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

/* A test filter: a radius kept in 32..192, stored in the chroma-filter
 * block, with the chroma-filter update flag. */
int check_process_radius(const img_dsp_mode *mode, void *block, uint32_t, img_dsp_update_list *list)
{
	if (!block) {
		IK_ERROR("p_test is NULL in %s\n\n", __func__);
		return -1;
	}
	img_dsp_chroma_filter *b = (img_dsp_chroma_filter *)block;
	int rc = 0;
	if (b->Radius < 32 || b->Radius > 192) {
		IK_WARN("Radius=%d should be one of  [32:192] in %s\n\n", b->Radius, __func__);
		b->Radius = b->Radius < 32 ? 32 : 192;
		rc = IMG_DSP_CLAMPED;
	}
	img_dsp_ctx_id id{mode->Pipe, mode->ContextId, {}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return -1;
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	body->blk.chroma_filter = *b;
	list->entry[0].valid = 1;
	list->entry[0].section = &body->sec[IK_SEC_CHROMA_FILTER];
	ik_flag_set(body->update_flags, IK_FLAG(3, 0));
	return rc;
}

int set_test(const img_dsp_mode *mode, img_dsp_chroma_filter *b)
{
	static const img_dsp_setter setter = {"vors_img_dsp_set_test", NULL, sizeof(*b), check_process_radius,
	                                      IK_PIPES_VIDEO_STILL,    NULL, NULL};
	return img_dsp_common_set(&setter, NULL, -1, mode, b, 0);
}

int get_test(const img_dsp_mode *mode, img_dsp_chroma_filter *out)
{
	return img_dsp_common_get("vors_img_dsp_get_test", mode, out,
	                          offsetof(ik_ctx_body, blk.chroma_filter), sizeof(*out), "p_test",
	                          IK_PIPES_VIDEO_STILL);
}

int silent_print(const char *, ...)
{
	return 0;
}

class IkFrame : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
	}
};

TEST_F(IkFrame, SetterClampsStoresAndFlags)
{
	struct {
		uint32_t pipe;
		uint16_t radius;
		int rc;
		uint16_t stored;
	} cases[] = {
	    {0, 64, 0, 64},
	    {0, 16, IMG_DSP_CLAMPED, 32},
	    {0, 200, IMG_DSP_CLAMPED, 192},
	    {1, 500, IMG_DSP_CLAMPED, 192},
	};
	for (const auto &c : cases) {
		img_dsp_mode m = mode(c.pipe, 0);
		img_dsp_chroma_filter b{};
		b.Radius = c.radius;
		StdoutCapture out;
		EXPECT_EQ(set_test(&m, &b), c.rc);
		EXPECT_EQ(b.Radius, c.stored) << "the caller's block holds the clamped value";
		img_dsp_chroma_filter got{};
		EXPECT_EQ(get_test(&m, &got), 0);
		EXPECT_EQ(got.Radius, c.stored);
		std::string t = out.text();
		if (c.rc == IMG_DSP_CLAMPED) {
			EXPECT_TRUE(has_msg(t, "[IK][Warning]check_process_radius() ",
			                    "Radius=" + std::to_string(c.radius)));
		}
		img_dsp_ctx_id id{c.pipe, 0, {}};
		void *ctx;
		ASSERT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
		EXPECT_TRUE(ik_flag_test(ik_body(c.pipe, ctx)->update_flags, IK_FLAG(3, 0)));
	}
}

TEST_F(IkFrame, RefusalsStoreNothing)
{
	img_dsp_chroma_filter b{};
	b.Radius = 100;
	struct Case {
		const char *what;
		img_dsp_mode m;
		const char *head;
		const char *tail;
	} cases[] = {
	    {"decode pipe", mode(2, 0), "[IK][Error]vors_img_dsp_set_test() ", "does not support pipe 2\n"},
	    {"unknown pipe", mode(3, 0), "[IK][Error]img_dsp_core_utility_get_context() ",
	     "Unknown pipe 3\n"},
	    {"context id = count", mode(0, 1), "[IK][Error]img_dsp_core_utility_get_context() ",
	     "context id 1 > context number 1 - 1\n"},
	};
	for (auto &c : cases) {
		StdoutCapture out;
		EXPECT_EQ(set_test(&c.m, &b), -1) << c.what;
		std::string t = out.text();
		EXPECT_TRUE(has_msg(t, c.head, c.tail)) << c.what << ": " << t;
		if (c.m.Pipe != 2) {
			EXPECT_TRUE(
			    has_msg(t, "[IK][Warning]vors_img_dsp_set_test() ", "Cannot get context mutex\n"))
			    << c.what;
		}
	}
	img_dsp_mode m = mode(0, 0);
	img_dsp_chroma_filter got{};
	ASSERT_EQ(get_test(&m, &got), 0);
	EXPECT_EQ(got.Radius, 0) << "nothing was stored";
}

TEST_F(IkFrame, GetterRefusals)
{
	img_dsp_mode m = mode(0, 0);
	StdoutCapture out;
	EXPECT_EQ(get_test(&m, nullptr), -1);
	img_dsp_mode dec = mode(2, 0);
	img_dsp_chroma_filter got{};
	EXPECT_EQ(get_test(&dec, &got), -1);
	std::string t = out.text();
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_test() ", "p_test is empty\n"));
	EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_get_test() ", "does not support pipe 2\n"));
}

TEST_F(IkFrame, PostExecuteRefusesOtherAlgoModes)
{
	img_dsp_mode m = mode(0, 0, 0, 2);
	EXPECT_EQ(vors_img_dsp_post_exe_cfg(3, &m), -1);
	m.AlgoMode = 5;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_post_exe_cfg(3, &m), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Error]vors_img_dsp_post_exe_cfg() ", "Incorrect AlgoMode 5\n"));
}

TEST(IkFrameStatic, LibInfoAndModePrint)
{
	img_dsp_lib_info info;
	memset(&info, 0xEE, sizeof(info));
	ASSERT_EQ(sizeof(info), 80u);
	EXPECT_EQ(vors_img_dsp_get_lib_info(nullptr), -1);
	ASSERT_EQ(vors_img_dsp_get_lib_info(&info), 0);
	uint8_t want[80] = {1, 0, 0, 0, 48, 0, 0, 0};
	memcpy(want + 16, "zk8sdk_main", 11);
	EXPECT_EQ(0, memcmp(&info, want, 80));

	img_dsp_mode m{1, 2, 16, 3, {}, 255, 7, {}};
	StdoutCapture out;
	img_dsp_print_mode(&m);
	EXPECT_EQ(out.text(), "[IK]     Pipe 1, Algo 2, Func 16, Ctx 3, Bch 255, Cfg 7 \n");
}

TEST(IkFrameStatic, PublicRecordLayouts)
{
	EXPECT_EQ(sizeof(img_dsp_mode), 24u);
	EXPECT_EQ(offsetof(img_dsp_mode, ContextId), 12u);
	EXPECT_EQ(offsetof(img_dsp_mode, BatchId), 16u);
	EXPECT_EQ(offsetof(img_dsp_mode, ConfigId), 20u);
	EXPECT_EQ(sizeof(img_dsp_ctx_id), 8u);
	EXPECT_EQ(offsetof(img_dsp_cfg_id, Id), 4u);
	EXPECT_EQ(offsetof(img_dsp_arch_info, MemAddr), 8u);
	EXPECT_EQ(offsetof(img_dsp_arch_info, MemSize), 16u);
	EXPECT_EQ(offsetof(img_dsp_arch_info, BufNum), 20u);
	EXPECT_EQ(offsetof(img_dsp_arch_info, PipeNum), 24u);
	EXPECT_EQ(offsetof(img_dsp_arch_info, Pipes), 32u);
	EXPECT_EQ(sizeof(img_dsp_pipe_info), 8u);
	EXPECT_EQ(offsetof(img_dsp_pipe_info, HdrCfgNum), 6u);
	EXPECT_EQ(sizeof(img_dsp_size_info), 28u);
	EXPECT_EQ(sizeof(img_dsp_chroma_filter), 14u);
	EXPECT_EQ(sizeof(img_dsp_aaa_stat_info), 52u);
	EXPECT_EQ(sizeof(img_dsp_sharpen_coring), 257u);
}

TEST(IkFrameStatic, PrintHookIsIgnored)
{
	vors_img_dsp_register_print(silent_print);
	vors_img_dsp_deinit_arch();
	StdoutCapture out;
	img_dsp_ctx_id id{0, 0, {}};
	void *o;
	img_dsp_core_utility_get_context(&id, &o);
	EXPECT_NE(out.text().find("CTX is not initialed"), std::string::npos);
}

/* The calls around a setter's step: `before` runs first with an empty list,
 * `after` sees the list the step filled and its failure is the result. */
std::vector<std::string> around;
int after_result;

int note_before(int fd, const img_dsp_mode *, void *, const img_dsp_update_list *list)
{
	around.push_back("before fd " + std::to_string(fd) + " valid " +
	                 std::to_string(list->entry[0].valid));
	return 0;
}

int note_after(int, const img_dsp_mode *, void *, const img_dsp_update_list *list)
{
	around.push_back("after valid " + std::to_string(list->entry[0].valid));
	return after_result;
}

int step_in_between(const img_dsp_mode *mode, void *block, uint32_t index, img_dsp_update_list *list)
{
	around.push_back("step index " + std::to_string(index));
	return check_process_radius(mode, block, index, list);
}

TEST_F(IkFrame, BeforeAndAfterRunAroundTheStep)
{
	static const img_dsp_setter setter = {"vors_img_dsp_set_around",
	                                      NULL,
	                                      sizeof(img_dsp_chroma_filter),
	                                      step_in_between,
	                                      IK_PIPES_VIDEO_STILL,
	                                      note_before,
	                                      note_after};
	img_dsp_mode m = mode(0, 0);
	img_dsp_chroma_filter b{};
	b.Radius = 64;
	around.clear();
	after_result = 0;
	EXPECT_EQ(img_dsp_common_set(&setter, NULL, 9, &m, &b, 2), 0);
	const std::vector<std::string> want = {"before fd 9 valid 0", "step index 2", "after valid 1"};
	EXPECT_EQ(around, want);
	after_result = -1;
	EXPECT_EQ(img_dsp_common_set(&setter, NULL, 9, &m, &b, 0), -1) << "a failed refresh is reported";
}

} // namespace
