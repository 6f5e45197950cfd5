/* The shared FIR and level checks of the sharpen-noise families. */
#include "ik_sharpen.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using iktest::has_msg;
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

} // namespace
