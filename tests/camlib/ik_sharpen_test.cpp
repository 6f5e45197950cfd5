/* The shared FIR and level checks of the sharpen-noise families. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_sharpen.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::StdoutCapture;

namespace
{

class IkSharpenCheck : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		iktest::register_host_functions();
	}
	static img_dsp_fir fir_at_max()
	{
		img_dsp_fir f{};
		f.specify = 4;
		f.strength_iso = f.strength_dir = 256;
		for (int i = 0; i < 9; i++) {
			f.per_dir_fir_iso_strengths[i] = f.per_dir_fir_dir_strengths[i] =
			    f.per_dir_fir_dir_amounts[i] = 256;
			for (int k = 0; k < 25; k++)
				f.coefs[i][k] = 1023;
		}
		return f;
	}
};

TEST_F(IkSharpenCheck, FirChecksClampAndReport)
{
	const char *fn = "[IK][Warning]img_dsp_core_check_sharpen_noise_sharpen_fir() ";
	struct {
		void (*edit)(img_dsp_fir *);
		void (*want)(img_dsp_fir *);
		const char *msg;
	} cases[] = {
	    {[](img_dsp_fir *f) { f->specify = 7; }, [](img_dsp_fir *f) { f->specify = 4; },
	     "fir.Specify=7 should be within [0:4] in proc\n"},
	    {[](img_dsp_fir *f) { f->strength_iso = 300; }, [](img_dsp_fir *) {},
	     "fir.StrengthIso=300 should be within [0:256] in proc\n"},
	    {[](img_dsp_fir *f) { f->strength_dir = 257; }, [](img_dsp_fir *) {},
	     "fir.StrengthDir=257 should be within [0:256] in proc\n"},
	    {[](img_dsp_fir *f) { f->per_dir_fir_iso_strengths[3] = 999; }, [](img_dsp_fir *) {},
	     "fir.PerDirFirIsoStrengths[3]=999 should be within [0:256] in proc\n"},
	    {[](img_dsp_fir *f) { f->per_dir_fir_dir_strengths[8] = 1000; }, [](img_dsp_fir *) {},
	     "fir.PerDirFirDirStrengths[8]=1000 should be within [0:256] in proc\n"},
	    {[](img_dsp_fir *f) { f->per_dir_fir_dir_amounts[0] = 512; }, [](img_dsp_fir *) {},
	     "fir.PerDirFirDirAmounts[0]=512 should be within [0:256] in proc\n"},
	    {[](img_dsp_fir *f) { f->coefs[2][7] = 1500; }, [](img_dsp_fir *) {},
	     "fir.Coefs[2][7]=1500 should be within [0:1023] in proc\n"},
	};
	for (const auto &c : cases) {
		img_dsp_fir f = fir_at_max(), want = fir_at_max();
		c.edit(&f);
		c.want(&want);
		StdoutCapture cap;
		EXPECT_EQ(img_dsp_core_check_sharpen_noise_sharpen_fir("proc", "fir", &f), IMG_DSP_CLAMPED)
		    << c.msg;
		EXPECT_TRUE(has_msg(cap.text(), fn, c.msg)) << c.msg;
		EXPECT_EQ(0, memcmp(&f, &want, sizeof(f))) << c.msg;
	}

	/* Everything at its maximum passes silently; negative taps pass. */
	img_dsp_fir f = fir_at_max();
	f.coefs[0][0] = -2000;
	StdoutCapture cap;
	EXPECT_EQ(img_dsp_core_check_sharpen_noise_sharpen_fir("proc", "fir", &f), 0);
	EXPECT_EQ(cap.text(), "");
	EXPECT_EQ(f.coefs[0][0], -2000);

	img_dsp_fir g = fir_at_max();
	g.specify = 5;
	StdoutCapture cap2;
	img_dsp_core_check_sharpen_noise_sharpen_fir("proc", nullptr, &g);
	EXPECT_TRUE(has_msg(cap2.text(), fn, "Param.Specify=5 should be within [0:4] in proc\n"));
}

TEST_F(IkSharpenCheck, AsfFirKeepsLowSpecify)
{
	const char *fn = "[IK][Warning]img_dsp_core_check_advance_spatial_filter_fir() ";
	struct {
		uint8_t in, out;
		int32_t rc;
	} cases[] = {
	    {0, 0, IMG_DSP_CLAMPED}, {1, 1, IMG_DSP_CLAMPED}, {2, 2, 0}, {4, 4, 0}, {9, 4, IMG_DSP_CLAMPED}};
	for (const auto &c : cases) {
		img_dsp_fir f = fir_at_max();
		f.specify = c.in;
		StdoutCapture cap;
		EXPECT_EQ(img_dsp_core_check_advance_spatial_filter_fir("proc", "Fir", &f), c.rc)
		    << (int)c.in;
		EXPECT_EQ(f.specify, c.out);
		std::string out = cap.text();
		if (c.rc)
			EXPECT_TRUE(has_msg(out, fn,
			                    "Fir.Specify=" + std::to_string(c.in) +
			                        " should be within [2:4] in proc\n"));
		else
			EXPECT_EQ(out, "");
	}
	img_dsp_fir f = fir_at_max();
	f.coefs[8][24] = 2000;
	EXPECT_EQ(img_dsp_core_check_advance_spatial_filter_fir("proc", "Fir", &f), IMG_DSP_CLAMPED);
	EXPECT_EQ(f.coefs[8][24], 1023);
}

TEST_F(IkSharpenCheck, LevelCheck)
{
	const std::string w = "[IK][Warning]img_dsp_core_check_sharpen_noise_level() ";
	const std::string e = "[IK][Error]img_dsp_core_check_sharpen_noise_level() ";
	struct {
		img_dsp_level in, out;
		int32_t rc;
		std::vector<std::pair<std::string, std::string>> msgs;
	} cases[] = {
	    {{10, 1, 0, 0, 20, 1, 0}, {10, 1, 0, 0, 20, 1, 0}, 0, {}},
	    {{253, 0, 1, 2, 254, 0, 3}, {253, 0, 1, 2, 254, 0, 3}, 0, {}},
	    {{10, 1, 0, 0, 255, 1, 0},
	     {10, 1, 0, 0, 254, 1, 0},
	     -1,
	     {{w, "lv.high=255 should be within [1:254] in proc\n"},
	      {e, "lv.High = 254, HighDelta = 1, High0=256 should <= 255 in proc\n"}}},
	    {{0, 0, 0, 0, 0, 0, 0},
	     {0, 0, 0, 0, 1, 0, 0},
	     IMG_DSP_CLAMPED,
	     {{w, "lv.high=0 should be within [1:254] in proc\n"}}},
	    {{100, 7, 0, 0, 200, 0, 0},
	     {100, 7, 0, 0, 200, 0, 0},
	     -1,
	     {{e,
	       "lv.Low = 100, LowDelta = 7, High = 200, HighDelta = 0, Low0 = 228 should <= High0 = 201 in "
	       "proc\n"}}},
	    {{254, 9, 0, 0, 100, 8, 0},
	     {253, 7, 0, 0, 100, 7, 0},
	     -1,
	     {{w, "lv.low=254 should be within [0:253] in proc\n"},
	      {w, "lv.LowDelta=9 should be within [0:7] in proc\n"},
	      {w, "lv.HighDelta=8 should be within [0:7] in proc\n"},
	      {e,
	       "lv.Low = 253, LowDelta = 7, High = 100, HighDelta = 7, Low0 = 381 should <= High0 = 228 in "
	       "proc\n"}}},
	};
	for (auto &c : cases) {
		img_dsp_level lv = c.in;
		StdoutCapture cap;
		EXPECT_EQ(img_dsp_core_check_sharpen_noise_level("proc", "lv", &lv), c.rc) << (int)c.in.low;
		std::string out = cap.text();
		for (const auto &m : c.msgs)
			EXPECT_TRUE(has_msg(out, m.first, m.second)) << out;
		if (c.msgs.empty()) {
			EXPECT_EQ(out, "");
		}
		EXPECT_EQ(0, memcmp(&lv, &c.out, sizeof(lv))) << (int)c.in.low;
	}
}

class IkFirstSharpen : public IkFixture
{
      protected:
	void SetUp() override
	{
		StdoutCapture quiet;
		bring_up({{0, 1, 2, 1, 0}, {1, 1, 1, 0, 0}, {2, 1, 0, 0, 0}});
		for (uint32_t pipe : {0u, 1u, 2u}) {
			img_dsp_ctx_id id{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &id, &id), 0);
		}
	}
	ik_ctx_body *body(uint32_t pipe = 0)
	{
		img_dsp_ctx_id id{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&id, &c), 0);
		return ik_body(pipe, c);
	}
	bool flag(unsigned f, uint32_t pipe = 0)
	{
		return ik_flag_test(body(pipe)->update_flags, f);
	}
	void clear_flags()
	{
		memset(body(0)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		memset(body(1)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
};

TEST_F(IkFirstSharpen, CoringClampedStoredAndRead)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_sharpen_coring c{};
	c.coring[200] = 40;
	c.coring[3] = 31;
	c.coring_mul_fractional_bits = 0;
	clear_flags();
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_coring(0, &m, &c), IMG_DSP_CLAMPED);
	std::string out = cap.text();
	const char *fn = "[IK][Warning]img_dsp_core_check_set_1st_sharpen_noise_sharpen_coring() ";
	EXPECT_TRUE(has_msg(out, fn,
	                    "Coring[200]=40 should be within [0:31] in "
	                    "img_dsp_core_process_1st_sharpen_noise_sharpen_coring\n"));
	EXPECT_TRUE(has_msg(out, fn,
	                    "CoringMulFractionalBits=0 should be within [1:3] in "
	                    "img_dsp_core_process_1st_sharpen_noise_sharpen_coring\n"));
	EXPECT_EQ(c.coring[200], 31);
	EXPECT_EQ(c.coring_mul_fractional_bits, 3);
	EXPECT_TRUE(flag(IK_UPD_FIRST_SHP_SHARPEN_CORING));
	EXPECT_FALSE(flag(IK_UPD_FIRST_SHP_SHARPEN_FIR));
	img_dsp_sharpen_coring got{};
	EXPECT_EQ(vors_img_dsp_get_1st_sharpen_noise_sharpen_coring(&m, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &c, sizeof(got)));
}

TEST_F(IkFirstSharpen, NoiseThresholdsAndBoth)
{
	img_dsp_mode m = mode(1, 0);
	const char *fn = "[IK][Warning]img_dsp_core_check_set_1st_sharpen_noise_noise() ";
	const char *proc = " in img_dsp_core_process_1st_sharpen_noise_noise\n";
	struct {
		uint8_t t0, t1, want;
		std::string msg;
	} cases[] = {
	    {100, 90, 75, "T0=100  should not larger than T1=90"},
	    {10, 40, 25, "T1=40 should be larger then T0=10 at least 15"},
	    {20, 10, 0, "T0=20  should not larger than T1=10"},
	    {30, 45, 30, ""},
	};
	for (const auto &c : cases) {
		img_dsp_1st_sharpen_noise_noise n{};
		n.level_str_adjust.high = 100;
		n.T0 = c.t0;
		n.T1 = c.t1;
		StdoutCapture cap;
		int rc = vors_img_dsp_set_1st_sharpen_noise_noise(0, &m, &n);
		std::string out = cap.text();
		EXPECT_EQ(n.T0, c.want) << (int)c.t0;
		if (c.msg.empty()) {
			EXPECT_EQ(rc, 0);
			EXPECT_EQ(out, "");
		} else {
			EXPECT_EQ(rc, IMG_DSP_CLAMPED);
			EXPECT_TRUE(has_msg(out, fn, c.msg + proc)) << out;
		}
		img_dsp_1st_sharpen_noise_noise got{};
		EXPECT_EQ(vors_img_dsp_get_1st_sharpen_noise_noise(&m, &got), 0);
		EXPECT_EQ(got.T0, c.want);
	}
	EXPECT_TRUE(flag(IK_UPD_FIRST_SHP_NOISE, 1));

	img_dsp_1st_sharpen_noise_both b{};
	b.Mode = 1;
	b.EdgeThresh = 3000;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_both(0, &m, &b), IMG_DSP_CLAMPED);
	std::string out = cap.text();
	EXPECT_EQ(b.Mode, 0);
	EXPECT_EQ(b.EdgeThresh, 2047);
	EXPECT_TRUE(has_msg(out, "[IK][Warning]img_dsp_core_check_set_1st_sharpen_noise_both() ",
	                    "Mode = 1 should be 0 or 2 in img_dsp_core_process_1st_sharpen_noise_both\n"));
	EXPECT_EQ(body(1)->blk.first_sharpen.both.Mode, 0);
}

TEST_F(IkFirstSharpen, FirCoefficientsClampedAndStored)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_fir f{};
	f.coefs[4][9] = 5000;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(0, &m, &f), IMG_DSP_CLAMPED);
	EXPECT_EQ(f.coefs[4][9], 1023);
	EXPECT_EQ(0, memcmp(&body()->blk.first_sharpen.sharpen_fir, &f, sizeof(f)));
}

TEST_F(IkFirstSharpen, ImpossibleLevelStoresNothing)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_level good{10, 1, 2, 3, 40, 1, 4};
	EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_min_coring_result(0, &m, &good), 0);
	clear_flags();
	img_dsp_level bad{200, 6, 0, 0, 240, 0, 0};
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_min_coring_result(0, &m, &bad), -1);
	EXPECT_TRUE(has_msg(
	    cap.text(), "[IK][Error]img_dsp_core_check_sharpen_noise_level() ",
	    "sharpen_min_coring_result.Low = 200, LowDelta = 6, High = 240, HighDelta = 0, Low0 = 264 "
	    "should <= High0 = 241 in img_dsp_core_process_1st_sharpen_noise_sharpen_min_coring_result\n"));
	img_dsp_level got{};
	EXPECT_EQ(vors_img_dsp_get_1st_sharpen_noise_sharpen_min_coring_result(&m, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &good, sizeof(got)));
	EXPECT_EQ(std::vector<uint8_t>(body()->update_flags, body()->update_flags + IK_UPDATE_FLAG_BYTES),
	          std::vector<uint8_t>(IK_UPDATE_FLAG_BYTES, 0));
}

TEST_F(IkFirstSharpen, RefusalsAndNullBlocks)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_mode decode = mode(2, 0);
	img_dsp_level lv{10, 1, 2, 3, 40, 1, 4};
	{
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_1st_sharpen_noise_sharpen_scale_coring(0, &decode, &lv), -1);
		EXPECT_TRUE(has_msg(
		    cap.text(), "[IK][Error]img_dsp_core_process_1st_sharpen_noise_sharpen_scale_coring() ",
		    "does not support pipe 2\n"));
	}
	{
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_get_1st_sharpen_noise_sharpen_scale_coring(&decode, &lv), -1);
		EXPECT_TRUE(has_msg(cap.text(),
		                    "[IK][Error]vors_img_dsp_get_1st_sharpen_noise_sharpen_scale_coring() ",
		                    "does not support pipe 2\n"));
	}
	struct {
		int (*set)(const img_dsp_mode *);
		int (*get)(const img_dsp_mode *);
		std::string step, set_msg, get_name, get_msg;
	} cases[] = {
	    {[](const img_dsp_mode *md) { return vors_img_dsp_set_1st_sharpen_noise_both(0, md, nullptr); },
	     [](const img_dsp_mode *md) { return vors_img_dsp_get_1st_sharpen_noise_both(md, nullptr); },
	     "both", "p_both", "both", "pBoth"},
	    {[](const img_dsp_mode *md) { return vors_img_dsp_set_1st_sharpen_noise_noise(0, md, nullptr); },
	     [](const img_dsp_mode *md) { return vors_img_dsp_get_1st_sharpen_noise_noise(md, nullptr); },
	     "noise", "p_noise", "noise", "p_sharpen_noise"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_fir(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_fir(md, nullptr);
	     },
	     "sharpen_fir", "p_fir", "sharpen_fir", "pFir"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_coring(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_coring(md, nullptr);
	     },
	     "sharpen_coring", "p_coring", "sharpen_coring", "p_coring"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_max_coring_result(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_max_coring_result(md, nullptr);
	     },
	     "sharpen_max_coring_result", "p_level", "sharpen_max_coring_result", "p_level"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_coring_index_scale(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_coring_index_scale(md, nullptr);
	     },
	     "sharpen_coring_index_scale", "p_level", "sharpen_coring_index_scale", "pLevel"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_min_coring_result(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_min_coring_result(md, nullptr);
	     },
	     "sharpen_min_coring_result", "p_level", "sharpen_min_coring_result", "p_level"},
	    {[](const img_dsp_mode *md) {
		     return vors_img_dsp_set_1st_sharpen_noise_sharpen_scale_coring(0, md, nullptr);
	     },
	     [](const img_dsp_mode *md) {
		     return vors_img_dsp_get_1st_sharpen_noise_sharpen_scale_coring(md, nullptr);
	     },
	     "sharpen_scale_coring", "p_level", "sharpen_scale_coring", "pLevel"},
	};
	for (const auto &c : cases) {
		StdoutCapture cap;
		EXPECT_EQ(c.set(&m), -1) << c.step;
		EXPECT_EQ(c.get(&m), -1) << c.step;
		std::string out = cap.text();
		EXPECT_TRUE(has_msg(
		    out, "[IK][Error]img_dsp_core_check_set_1st_sharpen_noise_" + c.step + "() ",
		    c.set_msg + " is NULL in img_dsp_core_process_1st_sharpen_noise_" + c.step + "\n"))
		    << out;
		EXPECT_TRUE(has_msg(out,
		                    "[IK][Error]vors_img_dsp_get_1st_sharpen_noise_" + c.get_name + "() ",
		                    c.get_msg + " is empty\n"))
		    << out;
	}
}

} // namespace

namespace
{

TEST_F(IkFirstSharpen, FinalFirBoundsOnlyItsSelectorAndStrengths)
{
	img_dsp_mode m = mode(0, 0);
	img_dsp_fir f{};
	f.specify = 9;
	f.strength_dir = 300;
	f.coefs[1][2] = 5000;
	f.per_dir_fir_iso_strengths[0] = 999;
	clear_flags();
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_fir(0, &m, &f), IMG_DSP_CLAMPED);
	std::string out = cap.text();
	const char *fn = "[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_sharpen_fir() ";
	EXPECT_TRUE(has_msg(out, fn,
	                    "specify = 9 should be within [0:4] in "
	                    "img_dsp_core_process_final_sharpen_noise_sharpen_fir\n\n"));
	EXPECT_TRUE(has_msg(out, fn,
	                    "strength_dir = 300 should be within [0:256] in "
	                    "img_dsp_core_process_final_sharpen_noise_sharpen_fir\n\n"));
	EXPECT_EQ(f.specify, 4);
	EXPECT_EQ(f.strength_dir, 256);
	EXPECT_EQ(f.coefs[1][2], 5000);
	EXPECT_EQ(f.per_dir_fir_iso_strengths[0], 999);
	EXPECT_TRUE(flag(IK_UPD_FINAL_SHP_SHARPEN_FIR));
	img_dsp_fir got{};
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_sharpen_fir(&m, &got), 0);
	EXPECT_EQ(0, memcmp(&got, &f, sizeof(f)));

	StdoutCapture nulls;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_fir(0, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_sharpen_fir(&m, nullptr), -1);
	out = nulls.text();
	EXPECT_TRUE(
	    has_msg(out, "[IK][Error]img_dsp_core_check_set_final_sharpen_noise_sharpen_fir() ",
	            "p_sharpen_fir is NULL in img_dsp_core_process_final_sharpen_noise_sharpen_fir\n\n"));
	EXPECT_TRUE(has_msg(out, "[IK][Error]vors_img_dsp_get_final_sharpen_noise_sharpen_fir() ",
	                    "p_sharpen_fir is empty\n"));
}

TEST_F(IkFirstSharpen, FinalCoringSpellsItsOwnMessages)
{
	img_dsp_mode m = mode(1, 0);
	img_dsp_sharpen_coring c{};
	c.coring[7] = 99;
	c.coring_mul_fractional_bits = 2;
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_coring(0, &m, &c), IMG_DSP_CLAMPED);
	EXPECT_TRUE(has_msg(cap.text(),
	                    "[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_sharpen_coring() ",
	                    "coring[7] = 99 should be within [0:31] in "
	                    "img_dsp_core_process_final_sharpen_noise_sharpen_coring\n"));
	EXPECT_EQ(c.coring[7], 31);
	EXPECT_EQ(0, memcmp(&body(1)->blk.final_sharpen.sharpen_coring, &c, sizeof(c)));
	EXPECT_TRUE(flag(IK_UPD_FINAL_SHP_SHARPEN_CORING, 1));
	img_dsp_mode decode = mode(2, 0);
	StdoutCapture refused;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_coring(0, &decode, &c), -1);
	EXPECT_TRUE(has_msg(refused.text(),
	                    "[IK][Error]img_dsp_core_process_final_sharpen_noise_sharpen_coring() ",
	                    "does not support pipe 2\n"));
	StdoutCapture nulls;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_sharpen_coring(0, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_sharpen_coring(&m, nullptr), -1);
	std::string out = nulls.text();
	EXPECT_TRUE(has_msg(out, "[IK][Error]img_dsp_core_check_set_final_sharpen_noise_sharpen_coring() ",
	                    "p_coring is NULL in img_dsp_core_process_final_sharpen_noise_sharpen_coring\n"));
	EXPECT_TRUE(has_msg(out, "[IK][Error]vors_img_dsp_get_final_sharpen_noise_sharpen_coring() ",
	                    "p_coring is empty\n"));
}

} // namespace

namespace
{

/* ---- final stage: levels, both, noise ------------------------------------ */

using final_level_set = int (*)(int, const img_dsp_mode *, img_dsp_final_level *);
using final_level_get = int (*)(const img_dsp_mode *, img_dsp_final_level *);

struct FinalLevelMember {
	const char *member;
	final_level_set set;
	final_level_get get;
	size_t offset;
	unsigned flag;
	const char *null_name;
};

const FinalLevelMember final_levels[] = {
    {"sharpen_min_coring_result", vors_img_dsp_set_final_sharpen_noise_sharpen_min_coring_result,
     vors_img_dsp_get_final_sharpen_noise_sharpen_min_coring_result,
     offsetof(ik_final_sharpen_group, min_coring_result), IK_UPD_FINAL_SHP_MIN_CORING_RESULT,
     "p_min_coring_result"},
    {"sharpen_max_coring_result", vors_img_dsp_set_final_sharpen_noise_sharpen_max_coring_result,
     vors_img_dsp_get_final_sharpen_noise_sharpen_max_coring_result,
     offsetof(ik_final_sharpen_group, max_coring_result), IK_UPD_FINAL_SHP_MAX_CORING_RESULT,
     "p_max_coring_result"},
    {"sharpen_coring_index_scale", vors_img_dsp_set_final_sharpen_noise_sharpen_coring_index_scale,
     vors_img_dsp_get_final_sharpen_noise_sharpen_coring_index_scale,
     offsetof(ik_final_sharpen_group, coring_index_scale), IK_UPD_FINAL_SHP_CORING_INDEX_SCALE,
     "p_coring_index_scale"},
    {"sharpen_scale_coring", vors_img_dsp_set_final_sharpen_noise_sharpen_scale_coring,
     vors_img_dsp_get_final_sharpen_noise_sharpen_scale_coring,
     offsetof(ik_final_sharpen_group, scale_coring), IK_UPD_FINAL_SHP_SCALE_CORING, "p_scale_coring"},
};

TEST_F(IkFirstSharpen, FinalLevelMethodFollowsTheClisoMode)
{
	struct {
		uint32_t pipe;
		uint8_t advanced;
		uint8_t in, out;
		std::string msg;
	} cases[] = {
	    {0, 4, 3, 3, ""},
	    {0, 4, 6, 6, ""},
	    {0, 4, 1, 0, "CLISO method = 1 should be 0, 3, 6"},
	    {0, 0, 3, 0, "method = 3 should be 0, 1, 6"},
	    {0, 0, 1, 1, ""},
	    {1, 4, 3, 0, "method = 3 should be 0, 1, 6"},
	    {1, 0, 6, 6, ""},
	};
	for (const auto &lm : final_levels)
		for (const auto &c : cases) {
			body(0)->blk.liso_process_select[1] = c.advanced;
			img_dsp_mode m = mode(c.pipe, 0);
			img_dsp_final_level lv{10, 1, 200, 200, 20, 1, 200, c.in};
			clear_flags();
			StdoutCapture cap;
			int rc = lm.set(0, &m, &lv);
			std::string out = cap.text();
			std::string what = std::string(lm.member) + " pipe " + std::to_string(c.pipe) +
			                   " method " + std::to_string(c.in);
			EXPECT_EQ(lv.method, c.out) << what;
			if (c.msg.empty()) {
				EXPECT_EQ(rc, 0) << what;
				EXPECT_EQ(out, "") << what;
			} else {
				EXPECT_EQ(rc, IMG_DSP_CLAMPED) << what;
				EXPECT_TRUE(has_msg(
				    out,
				    std::string("[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_") +
				        lm.member + "() ",
				    c.msg + " in img_dsp_core_process_final_sharpen_noise_" + lm.member +
				        "\n\n"))
				    << out;
			}
			EXPECT_TRUE(flag(lm.flag, c.pipe)) << what;
			img_dsp_final_level got{};
			EXPECT_EQ(lm.get(&m, &got), 0);
			EXPECT_EQ(0, memcmp(&got, &lv, sizeof(got))) << what;
		}
	body(0)->blk.liso_process_select[1] = 0;
}

TEST_F(IkFirstSharpen, FinalLevelBoundsNeverRefuse)
{
	const char *proc = " in img_dsp_core_process_final_sharpen_noise_sharpen_scale_coring\n\n";
	struct {
		img_dsp_final_level in, out;
		std::vector<std::string> msgs;
	} cases[] = {
	    {{10, 1, 0, 0, 0, 1, 0, 0}, {10, 1, 0, 0, 1, 1, 0, 0}, {"high = 0 should be within [1:254]"}},
	    {{254, 8, 0, 0, 255, 9, 0, 0},
	     {253, 7, 0, 0, 254, 7, 0, 0},
	     {"high = 255 should be within [1:254]", "low = 254 should be within [0:253]",
	      "low_delta = 8 should be within [0:7]", "high_delta = 9 should be within [0:7]"}},
	    /* Low0 above high and High0 above 255 are not tested here. */
	    {{200, 7, 0, 0, 250, 7, 0, 0}, {200, 7, 0, 0, 250, 7, 0, 0}, {}},
	};
	img_dsp_mode m = mode(1, 0);
	for (const auto &c : cases) {
		img_dsp_final_level lv = c.in;
		StdoutCapture cap;
		int rc = vors_img_dsp_set_final_sharpen_noise_sharpen_scale_coring(0, &m, &lv);
		std::string out = cap.text();
		EXPECT_EQ(rc, c.msgs.empty() ? 0 : IMG_DSP_CLAMPED) << (int)c.in.low;
		for (const auto &msg : c.msgs)
			EXPECT_TRUE(has_msg(
			    out,
			    "[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_sharpen_scale_coring() ",
			    msg + proc))
			    << out;
		EXPECT_EQ(0, memcmp(&lv, &c.out, sizeof(lv)));
		EXPECT_EQ(0, memcmp(&body(1)->blk.final_sharpen.scale_coring, &c.out, sizeof(lv)));
	}
}

TEST_F(IkFirstSharpen, FinalLevelPipeIsTestedBeforeTheBlock)
{
	img_dsp_mode decode = mode(2, 0), m = mode(0, 0);
	for (const auto &lm : final_levels) {
		StdoutCapture cap;
		EXPECT_EQ(lm.set(0, &decode, nullptr), -1);
		std::string out = cap.text();
		std::string step =
		    std::string("img_dsp_core_check_set_final_sharpen_noise_") + lm.member + "() ";
		EXPECT_TRUE(has_msg(out, "[IK][Error]" + step, "does not support pipe 2\n")) << out;
		EXPECT_EQ(out.find("is NULL"), std::string::npos) << out;
		StdoutCapture nulls;
		EXPECT_EQ(lm.set(0, &m, nullptr), -1);
		EXPECT_EQ(lm.get(&m, nullptr), -1);
		out = nulls.text();
		EXPECT_TRUE(has_msg(out, "[IK][Error]" + step,
		                    std::string(lm.null_name) +
		                        " is NULL in img_dsp_core_process_final_sharpen_noise_" + lm.member +
		                        "\n"))
		    << out;
		EXPECT_TRUE(has_msg(
		    out, std::string("[IK][Error]vors_img_dsp_get_final_sharpen_noise_") + lm.member + "() ",
		    std::string(lm.null_name) + " is NULL\n"))
		    << out;
	}
}

img_dsp_final_sharpen_noise_both valid_final_both(const uint8_t *table)
{
	img_dsp_final_sharpen_noise_both b{};
	b.enable = 1;
	b.mode = 2;
	b.edge_thresh = 2047;
	b.wide_edge_detect = 8;
	b.three_d_u_bits = b.three_d_v_bits = 8;
	b.three_d_u_shift = b.three_d_v_shift = b.three_d_y_shift = 7;
	b.max_change_up = 200;
	b.three_d_table = (uint64_t)(uintptr_t)table;
	return b;
}

TEST_F(IkFirstSharpen, FinalBothKeepsItsOwnTableCopy)
{
	img_dsp_mode m = mode(0, 0);
	std::vector<uint8_t> table(4096);
	for (size_t i = 0; i < table.size(); i++)
		table[i] = (uint8_t)(i * 7 + 1);
	ik_final_sharpen_group &g = body(0)->blk.final_sharpen;

	img_dsp_final_sharpen_noise_both b = valid_final_both(table.data());
	clear_flags();
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &b), 0);
	EXPECT_EQ(std::vector<uint8_t>(g.three_d_table, g.three_d_table + 4096), table);
	EXPECT_EQ(b.three_d_table, (uint64_t)(uintptr_t)table.data()) << "the caller keeps its pointer";
	EXPECT_TRUE(flag(IK_UPD_FINAL_SHP_BOTH));
	img_dsp_final_sharpen_noise_both got{};
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m, &got), 0);
	EXPECT_EQ(got.three_d_table, (uint64_t)(uintptr_t)g.three_d_table);
	EXPECT_EQ(got.max_change_up, 200);

	/* A NULL table is stored as zeros and reported. */
	b = valid_final_both(nullptr);
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &b), IMG_DSP_CLAMPED);
	EXPECT_EQ(cap.text(), "");
	EXPECT_EQ(std::vector<uint8_t>(g.three_d_table, g.three_d_table + 4096),
	          std::vector<uint8_t>(4096, 0));
	EXPECT_EQ(b.three_d_table, 0u);
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m, &got), 0);
	EXPECT_EQ(got.three_d_table, (uint64_t)(uintptr_t)g.three_d_table);

	/* Handing back what the getter gave keeps the copy. */
	memset(g.three_d_table, 0x33, 4096);
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &got), 0);
	EXPECT_EQ(g.three_d_table[4095], 0x33);
}

TEST_F(IkFirstSharpen, FinalBothClamps)
{
	const char *fn = "[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_both() ";
	const std::string proc = " in img_dsp_core_process_final_sharpen_noise_both\n";
	std::vector<uint8_t> table(4096, 1);
	struct {
		void (*edit)(img_dsp_final_sharpen_noise_both *);
		std::string msg;
		void (*want)(img_dsp_final_sharpen_noise_both *);
	} cases[] = {
	    {[](img_dsp_final_sharpen_noise_both *b) { b->mode = 1; }, "mode = 1 should be 0 or 2" + proc,
	     [](img_dsp_final_sharpen_noise_both *b) { b->mode = 0; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->enable = 3; },
	     "enable = 3 should be within [0:1]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->enable = 1; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->edge_thresh = 4000; },
	     "edge_thresh = 4000 should be within [0:2047]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->edge_thresh = 2047; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->wide_edge_detect = 9; },
	     "wide_edge_detect = 9 should be within [0:8]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->wide_edge_detect = 8; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->three_d_u_bits = 9; },
	     "three_d_u_bits = 9 should be within [0:8]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->three_d_u_bits = 8; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->three_d_u_shift = 8; },
	     "three_d_u_shift = 8 should be within [0:7]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->three_d_u_shift = 7; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->three_d_v_bits = 200; },
	     "three_d_v_bits = 200 should be within [0:8]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->three_d_v_bits = 8; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->three_d_v_shift = 9; },
	     "three_d_v_shift = 9 should be within [0:7]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->three_d_v_shift = 7; }},
	    {[](img_dsp_final_sharpen_noise_both *b) { b->three_d_y_shift = 255; },
	     "three_d_y_shift = 255 should be within [0:7]" + proc + "\n",
	     [](img_dsp_final_sharpen_noise_both *b) { b->three_d_y_shift = 7; }},
	};
	img_dsp_mode m = mode(1, 0);
	for (const auto &c : cases) {
		img_dsp_final_sharpen_noise_both b = valid_final_both(table.data()), want = b;
		c.edit(&b);
		c.want(&want);
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &b), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(has_msg(cap.text(), fn, c.msg)) << cap.text();
		EXPECT_EQ(0, memcmp(&b, &want, sizeof(b))) << c.msg;
	}
	img_dsp_mode decode = mode(2, 0);
	img_dsp_final_sharpen_noise_both b = valid_final_both(table.data());
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &decode, &b), -1);
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m, nullptr), -1);
	std::string out = cap.text();
	EXPECT_TRUE(has_msg(out, "[IK][Error]img_dsp_core_process_final_sharpen_noise_both() ",
	                    "does not support pipe 2\n"));
	EXPECT_TRUE(has_msg(out, "[IK][Error]img_dsp_core_check_set_final_sharpen_noise_both() ",
	                    "p_both is NULL in img_dsp_core_process_final_sharpen_noise_both\n"));
	EXPECT_TRUE(has_msg(out, "[IK][Error]vors_img_dsp_get_final_sharpen_noise_both() ",
	                    "p_final_sharpen_both is empty.\n"));
}

TEST_F(IkFirstSharpen, FinalNoiseClamps)
{
	const char *fn = "[IK][Warning]img_dsp_core_check_set_final_sharpen_noise_noise() ";
	const std::string proc = " in img_dsp_core_process_final_sharpen_noise_noise\n\n";
	using N = img_dsp_final_sharpen_noise_noise;
	struct {
		void (*edit)(N *);
		std::string msg;
		void (*want)(N *);
	} cases[] = {
	    {[](N *n) { n->fir.specify = 5; }, "fir_specify = 5 should be within [0:4]" + proc,
	     [](N *n) { n->fir.specify = 4; }},
	    {[](N *n) { n->fir.strength_iso = 300; },
	     "fir_strength_iso = 300 should be within [0:256]" + proc,
	     [](N *n) { n->fir.strength_iso = 256; }},
	    {[](N *n) { n->fir.strength_dir = 999; },
	     "fir_strength_dir = 999 should be within [0:256]" + proc,
	     [](N *n) { n->fir.strength_dir = 256; }},
	    {[](N *n) { n->level_str_adjust_not_t0_t1_level_based = 2; },
	     "level_str_adjust_not_t0_t1_level_based = 2 should be within [0:1]" + proc,
	     [](N *n) { n->level_str_adjust_not_t0_t1_level_based = 1; }},
	    {[](N *n) { n->t0 = 100, n->t1 = 90; }, "t0 = 100  should not larger than t1 = 90" + proc,
	     [](N *n) { n->t0 = 75, n->t1 = 90; }},
	    {[](N *n) { n->t0 = 10, n->t1 = 40; }, "t1 = 40 should be larger then t0 = 10 at least 15" + proc,
	     [](N *n) { n->t0 = 25, n->t1 = 40; }},
	    {[](N *n) { n->t0 = 20, n->t1 = 10; }, "t0 = 20  should not larger than t1 = 10" + proc,
	     [](N *n) { n->t0 = 0, n->t1 = 10; }},
	    {[](N *n) { n->alpha_min = 17; }, "alpha_min = 17 should be within [0:16]" + proc,
	     [](N *n) { n->alpha_min = 16; }},
	    {[](N *n) { n->alpha_max = 99; }, "alpha_max = 99 should be within [0:16]" + proc,
	     [](N *n) { n->alpha_max = 16; }},
	    {[](N *n) { n->level_str_adjust_method = 3; },
	     "level_str_adjust_method = 3 should be 0, 1, 6" + proc,
	     [](N *n) { n->level_str_adjust_method = 0; }},
	    {[](N *n) { n->level_str_adjust.high = 255; },
	     "level_str_adjust.high=255 should be within [1:254] in "
	     "img_dsp_core_process_final_sharpen_noise_noise\n",
	     [](N *n) { n->level_str_adjust.high = 254; }},
	    {[](N *n) { n->level_str_adjust.low = 254; },
	     "level_str_adjust.low=254 should be within [0:253] in "
	     "img_dsp_core_process_final_sharpen_noise_noise\n",
	     [](N *n) { n->level_str_adjust.low = 253; }},
	    {[](N *n) { n->level_str_adjust.low_delta = 8; },
	     "level_str_adjust.low_delta = 8 should be within [0:7]" + proc,
	     [](N *n) { n->level_str_adjust.low_delta = 7; }},
	    {[](N *n) { n->level_str_adjust.low_strength = 17; },
	     "level_str_adjust.low_strength = 17 should be within [0:16]" + proc,
	     [](N *n) { n->level_str_adjust.low_strength = 16; }},
	    {[](N *n) { n->level_str_adjust.high_delta = 8; },
	     "level_str_adjust.high_delta = 8 should be within [0:7]" + proc,
	     [](N *n) { n->level_str_adjust.high_delta = 7; }},
	    {[](N *n) { n->level_str_adjust.high_strength = 20; },
	     "level_str_adjust.high_strength = 20 should be within [0:16]" + proc,
	     [](N *n) { n->level_str_adjust.high_strength = 16; }},
	    {[](N *n) { n->level_str_adjust.mid_strength = 30; },
	     "level_str_adjust.mid_strength = 30 should be within [0:16]" + proc,
	     [](N *n) { n->level_str_adjust.mid_strength = 16; }},
	};
	img_dsp_mode m = mode(0, 0);
	for (const auto &c : cases) {
		N n{}, want;
		n.level_str_adjust.high = 100;
		n.fir.coefs[3][3] = 5000;                 /* unchecked in this stage */
		n.fir.per_dir_fir_iso_strengths[2] = 999; /* read clamped by the calculation */
		want = n;
		c.edit(&n);
		c.want(&want);
		StdoutCapture cap;
		EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_noise(0, &m, &n), IMG_DSP_CLAMPED) << c.msg;
		EXPECT_TRUE(has_msg(cap.text(), fn, c.msg)) << cap.text();
		EXPECT_EQ(0, memcmp(&n, &want, sizeof(n))) << c.msg;
		N got{};
		EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_noise(&m, &got), 0);
		EXPECT_EQ(0, memcmp(&got, &want, sizeof(got))) << c.msg;
	}
	StdoutCapture cap;
	EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_noise(0, &m, nullptr), -1);
	EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_noise(&m, nullptr), -1);
	std::string out = cap.text();
	EXPECT_TRUE(has_msg(out, "[IK][Error]img_dsp_core_check_set_final_sharpen_noise_noise() ",
	                    "p_noise is NULL in img_dsp_core_process_final_sharpen_noise_noise\n"));
	EXPECT_TRUE(has_msg(out, "[IK][Error]vors_img_dsp_get_final_sharpen_noise_noise() ",
	                    "p_final_sharpen_noise is empty\n"));
}

/* Two callers setting the same context: the stored copy is always one
 * caller's whole table, and the stored block names the copy. */
TEST_F(IkFirstSharpen, FinalBothFromTwoThreads)
{
	std::vector<uint8_t> tables[2] = {std::vector<uint8_t>(4096, 0x11), std::vector<uint8_t>(4096, 0x22)};
	auto run = [&](int t) {
		img_dsp_mode m = mode(0, 0);
		img_dsp_final_sharpen_noise_both b = valid_final_both(tables[t].data());
		img_dsp_final_sharpen_noise_both got{};
		for (int i = 0; i < 200; i++) {
			EXPECT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &b), 0);
			EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m, &got), 0);
		}
	};
	std::thread a(run, 0), b(run, 1);
	a.join();
	b.join();
	const ik_final_sharpen_group &g = body(0)->blk.final_sharpen;
	std::vector<uint8_t> copy(g.three_d_table, g.three_d_table + 4096);
	EXPECT_TRUE(copy == tables[0] || copy == tables[1]);
	EXPECT_EQ(g.both.three_d_table, (uint64_t)(uintptr_t)g.three_d_table);
}

/* A cloned context's stored both block names the clone's own table. */
class IkFinalSharpenClone : public IkFixture
{
};

TEST_F(IkFinalSharpenClone, ClonePointsAtItsOwnCopy)
{
	for (uint32_t pipe : {0u, 1u}) {
		bring_up({{pipe, 2, 1, 0, 0}}, 1, IMG_DSP_INIT_MODE_CLONE);
		img_dsp_ctx_id src{pipe, 0, {}}, dst{pipe, 1, {}};
		void *s = nullptr, *d = nullptr;
		ASSERT_EQ(img_dsp_core_utility_get_context(&src, &s), 0);
		ASSERT_EQ(img_dsp_core_utility_get_context(&dst, &d), 0);
		((ik_ctx_head *)s)->state = IK_CTX_STATE_INIT;
		std::vector<uint8_t> table(4096, 0x6B);
		img_dsp_final_sharpen_noise_both b = valid_final_both(table.data());
		img_dsp_mode m = mode(pipe, 0);
		ASSERT_EQ(vors_img_dsp_set_final_sharpen_noise_both(0, &m, &b), 0);
		ASSERT_EQ(vors_img_dsp_init_ctx(0, &dst, &src), 0) << pipe;
		const ik_final_sharpen_group &g = ik_body(pipe, d)->blk.final_sharpen;
		EXPECT_EQ(g.both.three_d_table, (uint64_t)(uintptr_t)g.three_d_table) << pipe;
		EXPECT_EQ(g.three_d_table[100], 0x6B);
		img_dsp_mode m1 = mode(pipe, 1);
		img_dsp_final_sharpen_noise_both got{};
		EXPECT_EQ(vors_img_dsp_get_final_sharpen_noise_both(&m1, &got), 0);
		EXPECT_EQ(got.three_d_table, (uint64_t)(uintptr_t)g.three_d_table);
		EXPECT_EQ(ik_body(pipe, s)->blk.final_sharpen.both.three_d_table,
		          (uint64_t)(uintptr_t)ik_body(pipe, s)->blk.final_sharpen.three_d_table)
		    << "the source still names its own";
		TearDown();
	}
}

} // namespace
