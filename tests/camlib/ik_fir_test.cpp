/* FIR coefficients, their hardware tables and the sharpen conversions, with
 * the values worked out by hand from the kernel tables. */
#include "ik_asf.h"
#include "ik_context.h"
#include "ik_fir.h"
#include "ik_fir_golden.h"
#include "ik_helpers.h"
#include "ik_shp_hw.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using iktest::has_msg;
using iktest::StdoutCapture;

namespace
{

class IkFir : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		iktest::register_host_functions();
		memset(&g_, 0, sizeof(g_));
	}
	/* Both FIRs of the first stage with `specify` 0 and one strength. */
	void set_firs(uint8_t mode, uint16_t sharpen_iso, uint16_t noise_iso)
	{
		g_.both.Mode = mode;
		img_dsp_fir f{};
		f.strength_iso = sharpen_iso;
		g_.sharpen_fir = f;
		f.strength_iso = noise_iso;
		g_.noise.fir = f;
	}
	/* Hardware tables whose untouched bits are set, so that a conversion
	 * that writes them shows. */
	static std::vector<uint8_t> primed_table()
	{
		std::vector<uint8_t> t(IK_FIR_HW_SIZE, 0);
		firgolden::prime(t.data());
		return t;
	}

	ik_first_sharpen_group g_;
};

TEST_F(IkFir, InterpolationBlendsLevels)
{
	int32_t v[IK_FIR_TAPS];
	fir_interp_strength(32, v, ik_fir_table(IK_FIR_SET_A, 0));
	EXPECT_EQ(v[17], 19);
	EXPECT_EQ(v[24], 166);
	fir_interp_strength(64, v, ik_fir_table(IK_FIR_SET_A, 0));
	for (int k = 0; k < IK_FIR_TAPS; k++)
		EXPECT_EQ(v[k], ik_fir_set_a[0][1][k]) << k;
	/* A stored strength beyond 256 reads the last level. */
	fir_interp_strength(1000, v, ik_fir_table(IK_FIR_SET_A, 3));
	for (int k = 0; k < IK_FIR_TAPS; k++)
		EXPECT_EQ(v[k], ik_fir_set_a[3][4][k]) << k;
	/* Set B is the high-pass complement of set A. */
	fir_interp_strength(64, v, ik_fir_table(IK_FIR_SET_B, 0));
	EXPECT_EQ(v[17], -38);
	EXPECT_EQ(v[24], 180);
}

TEST_F(IkFir, EveryTabulatedKernelHasUnityGain)
{
	for (int t = 0; t < 9; t++)
		for (int l = 0; l < 5; l++) {
			int32_t sum = 0;
			for (int k = 0; k < 24; k++)
				sum += 2 * ik_fir_set_a[t][l][k];
			EXPECT_EQ(sum + ik_fir_set_a[t][l][24], 256) << "table " << t << " level " << l;
		}
}

TEST_F(IkFir, NormalizeHalvesWithDirectionalRounding)
{
	/* Entry 17 at 200 does not fit 8 bits: one halving, shift 3. */
	int32_t v[IK_FIR_TAPS] = {};
	v[16] = -3;
	v[15] = -3;
	v[8] = 3;
	v[9] = 3;
	v[17] = 200;
	uint32_t shift = 4;
	fir_normalize(&shift, v, 256);
	EXPECT_EQ(shift, 3u);
	EXPECT_EQ(v[16], -2);
	EXPECT_EQ(v[15], -1);
	EXPECT_EQ(v[8], 2);
	EXPECT_EQ(v[9], 1);
	EXPECT_EQ(v[17], 100);
	EXPECT_EQ(v[24], 128 - 2 * (-2 - 1 + 2 + 1 + 100));

	/* A kernel that fits keeps shift 4 with its centre recomputed. */
	int32_t w[IK_FIR_TAPS] = {};
	w[17] = 10;
	shift = 0;
	fir_normalize(&shift, w, 256);
	EXPECT_EQ(shift, 4u);
	EXPECT_EQ(w[24], 236);

	/* Nothing fits: b / 32, centre not recomputed, shift as it was. */
	int32_t x[IK_FIR_TAPS] = {};
	x[0] = 4000;
	x[24] = 320;
	shift = 4;
	fir_normalize(&shift, x, 0);
	EXPECT_EQ(shift, 4u);
	EXPECT_EQ(x[0], 125);
	EXPECT_EQ(x[24], 10);
}

TEST_F(IkFir, ExpandSymmetric)
{
	uint16_t src[15], dst[41];
	for (int i = 0; i < 15; i++)
		src[i] = (uint16_t)(100 + i);
	const uint16_t want25[25] = {100, 101, 102, 103, 102, 101, 100, 101, 104, 105, 106, 105, 104,
	                             101, 102, 105, 107, 108, 107, 105, 102, 103, 106, 108, 109};
	fir_expand_symmetric(src, dst, 25);
	EXPECT_EQ(0, memcmp(dst, want25, sizeof(want25)));
	fir_expand_symmetric(src, dst, 41);
	EXPECT_EQ(dst[20], 109);
	EXPECT_EQ(dst[40], 114);
	EXPECT_EQ(dst[31], 113);
	memset(dst, 0, sizeof(dst));
	fir_expand_symmetric(src, dst, 0);
	EXPECT_EQ(dst[0], 0);
}

TEST_F(IkFir, CombiningModeTables)
{
	set_firs(0, 64, 64);
	auto f1 = primed_table(), f2 = primed_table();
	update_fir_coeffs(nullptr, f1.data(), f2.data(), &g_);
	firgolden::expect_combining(f1.data(), f2.data(), g_);
}

TEST_F(IkFir, SeparateModeTablesLeaveCoefficientArrays)
{
	set_firs(2, 64, 64);
	for (int d = 0; d < 9; d++)
		for (int k = 0; k < 25; k++)
			g_.sharpen_coefs[d][k] = g_.noise_coefs[d][k] = 77;
	auto f1 = primed_table(), f2 = primed_table();
	update_fir_coeffs(nullptr, f1.data(), f2.data(), &g_);
	firgolden::expect_separate(f1.data(), f2.data(), g_);
}

TEST_F(IkFir, ZeroStrengthTables)
{
	set_firs(0, 0, 0);
	auto f1 = primed_table(), f2 = primed_table();
	update_fir_coeffs(nullptr, f1.data(), f2.data(), &g_);
	firgolden::expect_zero_strength(f1.data(), f2.data());
}

TEST_F(IkFir, DirectionalStrengthRemapsTables)
{
	set_firs(2, 128, 64);
	img_dsp_fir f{};
	f.specify = 2;
	f.strength_iso = 128;
	f.strength_dir = 256;
	g_.sharpen_fir = f;
	auto f1 = primed_table(), f2 = primed_table();
	update_fir_coeffs(nullptr, f1.data(), f2.data(), &g_);
	firgolden::expect_directional(f1.data());
}

TEST_F(IkFir, NullTablesAreReported)
{
	set_firs(0, 64, 64);
	auto f1 = primed_table();
	StdoutCapture cap;
	update_fir_coeffs(nullptr, f1.data(), nullptr, &g_);
	std::string out = cap.text();
	EXPECT_EQ(f1[28 * 3], 0x1C) << "fir1 written before the error";
	EXPECT_TRUE(has_msg(out, "[IK][Error]update_fir_coeffs() ",
	                    "Error! shp_mode == SHPA but pShpAFir2Addr is NULL\n"));
	EXPECT_EQ(out.find("pShpAFir1Addr"), std::string::npos);

	StdoutCapture cap1;
	update_fir_coeffs(nullptr, nullptr, f1.data(), &g_);
	out = cap1.text();
	EXPECT_TRUE(has_msg(out, "[IK][Error]update_fir_coeffs() ",
	                    "Error! shp_mode == SHPA but pShpAFir1Addr is NULL\n"));
	EXPECT_EQ(out.find("pShpAFir2Addr"), std::string::npos);
}

TEST_F(IkFir, UnknownDirectionWritesNothing)
{
	auto t = primed_table(), before = t;
	int32_t v[IK_FIR_TAPS] = {};
	StdoutCapture cap;
	convert_to_fir_hw_config_one_dir(t.data(), 9, 4, v);
	EXPECT_TRUE(
	    has_msg(cap.text(), "[IK][Warning]convert_to_fir_hw_config_one_dir() ", "Unknown FIR dir 9\n"));
	EXPECT_EQ(t, before);
}

TEST_F(IkFir, AsfTablesSignFlipped)
{
	/* The advance spatial filter's FIR starts at byte 4 of its work
	 * record; with the sign flag level 0 of set A becomes all zeros. */
	uint8_t work[4 + sizeof(img_dsp_fir)] = {};
	img_dsp_fir f{};
	f.specify = 0;
	memcpy(work + 4, &f, sizeof(f));
	auto t = primed_table();
	update_asf_fir1_coeffs(work, t.data());
	for (int d = 0; d < 9; d++)
		firgolden::expect_record(t.data(), d, {});
	firgolden::expect_shift_word(t.data(), {0x24, 0x49, 0x92, 0x04});
}

TEST(IkShpHw, Pack5bitModes)
{
	uint8_t src[256];
	for (int i = 0; i < 256; i++)
		src[i] = (uint8_t)(i % 4 + 1);
	uint8_t dst[512];
	memset(dst, 0xEE, sizeof(dst));
	pack_5bit_table(src, dst, 0);
	uint32_t w;
	memcpy(&w, dst + 4 * 7, 4);
	EXPECT_EQ(w, 1u | (2u << 5) | (3u << 10) | (4u << 15));
	EXPECT_EQ(dst[256], 0xEE);

	memset(src, 8, sizeof(src));
	pack_5bit_table(src, dst, 0);
	EXPECT_EQ(std::vector<uint8_t>(dst + 60, dst + 64), std::vector<uint8_t>({0x08, 0x21, 0x04, 0x00}));

	/* Mode 1: bits 20-31 of each entry's first word and its second word
	 * are kept; the sources are masked to 5 bits. */
	memset(dst, 0xFF, sizeof(dst));
	for (int i = 0; i < 256; i++)
		src[i] = (uint8_t)(0x20 | (i % 4 + 1));
	pack_5bit_table(src, dst, 1);
	for (int i = 0; i < 64; i++) {
		memcpy(&w, dst + 8 * i, 4);
		ASSERT_EQ(w, 0xFFF00000u | 1u | (2u << 5) | (3u << 10) | (4u << 15)) << i;
		memcpy(&w, dst + 8 * i + 4, 4);
		ASSERT_EQ(w, 0xFFFFFFFFu) << i;
	}

	uint8_t before[512];
	memcpy(before, dst, sizeof(dst));
	pack_5bit_table(src, dst, 2);
	EXPECT_EQ(0, memcmp(before, dst, sizeof(dst)));

	uint32_t wide[256];
	for (int i = 0; i < 256; i++)
		wide[i] = (uint32_t)(i % 4 + 1);
	pack_5bit_table_u32(wide, dst, 0);
	memcpy(&w, dst, 4);
	EXPECT_EQ(w, 1u | (2u << 5) | (3u << 10) | (4u << 15));
}

TEST(IkShpHw, LevelFromT0T1)
{
	struct {
		uint8_t t0, t1, amin, amax;
		uint32_t low, low0, low_delta, high, high0, high_delta, ls, ms, hs;
	} cases[] = {
	    {40, 55, 4, 12, 40, 48, 3, 51, 55, 2, 12, 7, 4},
	    {250, 250, 0, 16, 250, 251, 0, 251, 252, 0, 16, 0, 0},
	    {100, 109, 16, 0, 100, 108, 3, 108, 109, 0, 0, 14, 16},
	    {253, 255, 8, 8, 253, 254, 0, 254, 255, 0, 8, 8, 8},
	};
	for (const auto &c : cases) {
		ik_expanded_level e;
		memset(&e, 0xCC, sizeof(e));
		level_from_t0_t1(&e, c.t0, c.t1, c.amin, c.amax);
		EXPECT_EQ(e.low, c.low) << (int)c.t0;
		EXPECT_EQ(e.low0, c.low0) << (int)c.t0;
		EXPECT_EQ(e.low_delta, c.low_delta) << (int)c.t0;
		EXPECT_EQ(e.high, c.high) << (int)c.t0;
		EXPECT_EQ(e.high0, c.high0) << (int)c.t0;
		EXPECT_EQ(e.high_delta, c.high_delta) << (int)c.t0;
		EXPECT_EQ(e.low_strength, c.ls) << (int)c.t0;
		EXPECT_EQ(e.mid_strength, c.ms) << (int)c.t0;
		EXPECT_EQ(e.high_strength, c.hs) << (int)c.t0;
		EXPECT_EQ(e.method, 2u);
	}
}

TEST(IkShpHw, StrengthTableAndBounds)
{
	iktest::register_host_functions();
	std::vector<uint8_t> t(512, 0);
	EXPECT_EQ(img_dsp_core_gen_strength_table(t.data(), 32, 20, 0, 0, 0), 0);
	EXPECT_EQ(t[4 * 63], 32);
	EXPECT_EQ(t[256 + 4 * 5], 20);
	EXPECT_EQ(t[1], 0);
	std::vector<uint8_t> u(512, 0);
	StdoutCapture cap;
	EXPECT_EQ(img_dsp_core_gen_strength_table(u.data(), 32, 32, 1, 0, 0), -1);
	EXPECT_NE(cap.text().find("[IK][Warning]"), std::string::npos);
	EXPECT_EQ(u, std::vector<uint8_t>(512, 0));
	EXPECT_EQ(img_dsp_core_s13_extra_bits(), 0);
	EXPECT_EQ(img_dsp_core_s13_max(), 4095);
	EXPECT_EQ(img_dsp_core_s13_min(), -4096);
}

TEST(IkShpHw, UncalledConversions)
{
	ik_expanded_level lv{};
	lv.low = 250;
	lv.low_delta = 3;
	lv.high = 254;
	lv.high_delta = 4;
	level_set_breakpoints(&lv);
	EXPECT_EQ(lv.low0, 258u) << "no 255 cap";
	EXPECT_EQ(lv.high0, 270u);

	std::vector<uint8_t> in(8192), out(4096, 0xEE);
	for (size_t i = 0; i < in.size(); i++)
		in[i] = (uint8_t)(i % 2 ? 0xF3 : 0x05);
	pack_nibbles(in.data(), out.data());
	EXPECT_EQ(out, std::vector<uint8_t>(4096, 0x35)) << "the high byte's low nibble only";

	struct {
		int32_t c[6];
		int32_t want;
	} six[] = {
	    {{-16, 15, 0, 0, -32, 31}, 100}, {{0, 0, 16, 0, 0, 0}, 2},   {{-17, 0, 0, 0, 0, 0}, 0},
	    {{0, 0, 0, 0, 31, 32}, 5},       {{0, 0, 0, 0, -33, 99}, 4},
	};
	for (const auto &c : six)
		EXPECT_EQ(check_six_coefs(c.c), c.want) << c.want;

	const int16_t kernel[10] = {-60, -60, -60, -60, -60, -60, -60, -60, -60, 2880};
	EXPECT_EQ(fir_kernel_gain(kernel), 0);
	const int16_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, -8, 9};
	EXPECT_EQ(fir_kernel_gain(ten), 8 + 16 + 12 + 16 + 40 + 24 + 28 - 32 + 9);
	int32_t v[25];
	uint32_t shift = 0;
	fir_kernel_from_ten(ten, v, &shift);
	EXPECT_EQ(shift, 4u);
	EXPECT_EQ(v[24], 9);
	EXPECT_EQ(v[17], -8) << "signed axial neighbour";
	EXPECT_EQ(v[16], 7);
	EXPECT_EQ(v[3], 3);

	level_flat(&lv, 128);
	const uint32_t flat[11] = {0, 0, 1, 0, 128, 128, 10, 11, 0, 128, 0};
	EXPECT_EQ(0, memcmp(&lv, flat, sizeof(flat)));

	struct {
		void (*fill)(uint8_t *, uint32_t);
		uint8_t id, strength;
	} regs[] = {{level_reg_default_2, 2, 48}, {level_reg_default_1, 1, 0}, {level_reg_default_7, 7, 16}};
	for (const auto &r : regs)
		for (uint32_t flag : {0u, 2u, 1u}) {
			std::vector<uint8_t> reg(IK_LEVEL_REG_SIZE, 0xAA);
			r.fill(reg.data(), flag);
			std::vector<uint8_t> want = {
			    0xAA,       0xAA,      0xAA, 0xAA, 0,    0,          0,    0,    r.id, 0,
			    0,          0,         10,   12,   1,    r.strength, 20,   22,   1,    r.strength,
			    r.strength, flag == 2, 0x00, 0xF0, 0x00, 0xF0,       0xFF, 0x0F, 0xFF, 0x0F};
			EXPECT_EQ(reg, want) << (int)r.id << " flag " << flag;
		}
}

TEST(IkShpHw, UncalledDefaultsAndCountSplit)
{
	int16_t values[16];
	for (int i = 0; i < 16; i++)
		values[i] = (int16_t)(i % 2 ? -1000 - i : i);
	struct {
		uint32_t count;
		uint32_t parts[5];
	} splits[] = {
	    {0, {0, 0, 0, 0, 0}},          {40, {40, 0, 0, 0, 0}},   {60, {53, 7, 0, 0, 0}},
	    {91, {53, 38, 0, 0, 0}},       {100, {53, 38, 0, 9, 0}}, {400, {53, 38, 0, 224, 85}},
	    {1000, {53, 38, 0, 224, 128}},
	};
	for (const auto &c : splits) {
		ik_count_split out;
		memset(&out, 0xCC, sizeof(out));
		split_count(values, c.count, &out);
		EXPECT_EQ(0, memcmp(out.parts, c.parts, sizeof(c.parts))) << c.count;
		EXPECT_EQ(out.fourth_plus_32, c.parts[3] + 32) << c.count;
		EXPECT_EQ(out.values[3], -1003) << "widened with its sign";
		EXPECT_EQ(out.values[14], 14);
	}

	/* The working copy's iso strength is word 44 scaled by 192 / 224,
	 * rounded half away from zero. */
	struct {
		uint32_t w44, w45;
		uint16_t iso;
	} strengths[] = {{224, 7, 192}, {1, 0, 1}, {3, 256, 3}, {100, 99, 86}};
	for (const auto &c : strengths) {
		uint32_t rec[46] = {};
		rec[44] = c.w44;
		rec[45] = c.w45;
		ik_asf_working w;
		memset(&w, 0xCC, sizeof(w));
		asf_default_working(&w, rec);
		EXPECT_EQ(w.fir.strength_iso, c.iso) << c.w44;
		EXPECT_EQ(w.fir.strength_dir, c.w45) << c.w44;
		EXPECT_EQ(w.enable, 1);
		EXPECT_EQ(w.fir.specify, 2);
		EXPECT_EQ(w.fir.per_dir_fir_iso_strengths[0], 0);
		EXPECT_EQ(w.adapt.T0Up, 0);
		EXPECT_EQ(w.adapt.T1Up, 2);
		EXPECT_EQ(w.adapt.T1Down, 2);
		EXPECT_EQ(w.adapt.AlphaMaxUp, 0);
		EXPECT_EQ(w.max_change_not_t0_t1_level_based, 0);
		EXPECT_EQ(w.max_change_up, 255);
		EXPECT_EQ(w.max_change_down, 0);
		EXPECT_EQ(w.directional_decide_t0, 20);
		EXPECT_EQ(w.directional_decide_t1, 40);
		EXPECT_EQ(w.wide_edge_detect, 0);
		const uint32_t flat64[11] = {0, 0, 1, 0, 64, 64, 10, 11, 0, 64, 0};
		const uint32_t flat0[11] = {0, 0, 1, 0, 0, 0, 10, 11, 0, 0, 0};
		EXPECT_EQ(0, memcmp(&w.level_str_adjust, flat64, sizeof(flat64)));
		EXPECT_EQ(0, memcmp(&w.t0t1_div, flat0, sizeof(flat0)));
	}

	ik_default_kernel k;
	memset(&k, 0xCC, sizeof(k));
	default_kernel_record(&k);
	EXPECT_EQ(k.lead, -1);
	EXPECT_EQ(k.shift, 4u);
	const int16_t kernel[10] = {-60, -60, -60, -60, -60, -60, -60, -60, -60, 2880};
	EXPECT_EQ(0, memcmp(k.kernel, kernel, sizeof(kernel)));
	EXPECT_EQ(fir_kernel_gain(k.kernel), 0);
	EXPECT_EQ(k.tail[0], 2u);
	EXPECT_EQ(k.tail[1], 1u);
	const uint32_t flat128[11] = {0, 0, 1, 0, 128, 128, 10, 11, 0, 128, 0};
	EXPECT_EQ(0, memcmp(&k.level, flat128, sizeof(flat128)));
}

TEST(IkShpHw, BlockSizeChoice)
{
	const uint32_t px = 1u << 16;
	/* A 1080 by 1920 window at unit scale, sampled as it is. */
	auto window = [&](uint32_t h, uint32_t w, uint16_t s_over_q) {
		ik_block_window win{};
		win.y1 = h * px;
		win.x1 = w * px;
		win.fx = win.fy = px;
		win.q = win.p = 100;
		win.s = (uint16_t)(100 * s_over_q);
		win.r = 100;
		return win;
	};
	struct {
		const char *what;
		ik_block_mode mode;
		ik_block_window win;
		uint32_t want;
	} cases[] = {
	    {"other mode", {2, 0, 0}, window(1080, 1920, 1), 128},
	    {"mode 0 with a second word", {0, 1, 0}, window(1080, 1920, 1), 128},
	    {"mode 1 without flag bit 1", {1, 0, 1}, window(1080, 1920, 1), 128},
	    {"t above 128", {0, 0, 0}, window(1080, 1920, 1), 128},
	    {"mode 1 with flag bit 1", {1, 7, 2}, window(1080, 1920, 1), 128},
	    {"t above 128, small window", {0, 0, 0}, window(200, 200, 1), 32},
	    {"t above 64", {0, 0, 0}, window(1080, 1920, 2), 64},
	    {"t above 64, small window", {0, 0, 0}, window(100, 1920, 2), 32},
	    {"t at most 64", {0, 0, 0}, window(1080, 1920, 4), 32},
	};
	for (const auto &c : cases)
		EXPECT_EQ(choose_block_size(&c.mode, &c.win), c.want) << c.what;

	ik_block_mode m0{0, 0, 0};
	ik_block_window win = window(1080, 1920, 1);
	win.p = 0;
	EXPECT_EQ(choose_block_size(&m0, &win), 128u) << "a zero divisor gives a zero width";
	win = window(1080, 1920, 1);
	win.y1 = 0;
	EXPECT_EQ(choose_block_size(&m0, &win), 128u) << "zero height";
	win = window(1080, 1920, 1);
	win.fy = 0x80001;
	EXPECT_EQ(choose_block_size(&m0, &win), 32u) << "vertical factor above 8.0";
	win.fy = 0x80000;
	EXPECT_EQ(choose_block_size(&m0, &win), 128u)
	    << "8.0 itself goes on: t = min(1536, 192), m >> 3 = 135";
}

} // namespace
