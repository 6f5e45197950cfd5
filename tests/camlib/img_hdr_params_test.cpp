/* HDR parameters: the setters as one table of ranges, messages and change
 * flags, the per-channel switches, the external tables and the exposure
 * ratios. */
#include "hdr_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace
{

using hdrtest::Chan;
using hdrtest::HdrTest;
using hdrtest::two_expo;

class HdrParams : public HdrTest
{
};

TEST_F(HdrParams, SetUpRefusesWhatItCannotUse)
{
	CaptureStdout();
	EXPECT_EQ(img_hdr_set_channel_num(0), -1);
	EXPECT_EQ(img_hdr_set_channel_num(5), -1);
	EXPECT_EQ(img_hdr_set_channel_info(nullptr), -1);
	EXPECT_EQ(img_hdr_set_sensor_info(nullptr), -1);
	EXPECT_EQ(img_hdr_copy_iq_params(nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal total channel number.\n"
	                               "error: illegal total channel number.\n"
	                               "error: null pointer.\n"
	                               "error: null pointer.\n"
	                               "error: null pointer.\n");
}

/* Each word of the record at its own offset (from 20 bytes in) shows
 * where the module takes it from. */
TEST_F(HdrParams, SensorInfoTakesItsWordsFromTheRecord)
{
	for (uint32_t method : {1u, 6u}) {
		SCOPED_TRACE(method);
		for (int c = 0; c < 2; c++) {
			uint8_t *r = sensor.data() + c * IMG_HDR_SENSOR_RECORD_SIZE + 20;
			for (uint32_t at = 0; at + 4 <= IMG_HDR_SENSOR_RECORD_SIZE - 20; at += 4) {
				uint32_t v = 1000 * (uint32_t)c + at;
				memcpy(r + at, &v, 4);
			}
		}
		describe({{2, 1, method}, {2, 1, method}});
		for (int c = 0; c < 2; c++) {
			const uint32_t *w = img_hdr_store.sensor[c];
			uint32_t b = 1000 * (uint32_t)c;
			uint32_t at8 = method == 6 ? 104 : 108;
			const uint32_t expected[HDR_SI_WORDS] = {
			    1,       b + 72,  b + 76,  b + 80,      b + 84,      b + 16,
			    b + 20,  b + 104, b + at8, b + at8 + 4, 0xFFFFFFFFu, b + 204,
			    b + 212, b + 0,   b + 4,   b + 8,       b + 12};
			EXPECT_EQ(std::vector<uint32_t>(w, w + HDR_SI_WORDS),
			          std::vector<uint32_t>(expected, expected + HDR_SI_WORDS))
			    << "channel " << c;
		}
	}
	/* A negative line count means the offsets are fixed. */
	int32_t minus = -1;
	memcpy(sensor.data() + 20 + 20, &minus, 4);
	describe({two_expo()});
	EXPECT_EQ(img_hdr_store.sensor[0][HDR_SI_ROW_FLAG], 0u);
}

struct ExpoCase {
	const char *name;
	std::function<int(const uint32_t *, int)> set;
	std::function<int(uint32_t *, int)> get;
	uint32_t good;
	uint32_t bad;
	const char *message; /* for bad at exposure 1, channel 0 */
	uint8_t flags;
	bool covers_exposure0_for_sensor_methods;
};

std::vector<ExpoCase> expo_cases()
{
	auto drc_set = [](const uint32_t *v, int c) {
		return img_hdr_set_drc_strength((const int32_t *)v, c);
	};
	auto drc_get = [](uint32_t *v, int c) { return img_hdr_get_drc_strength((int32_t *)v, c); };
	return {
	    {"alpha", img_hdr_set_alpha_value, img_hdr_get_alpha_value, 200, 257,
	     "error: alpha value [257] should be in range [0, 256] for channel [0]\n", HDR_F_ALPHA, false},
	    {"anti-flicker", img_hdr_set_anti_flicker_threshold, img_hdr_get_anti_flicker_threshold, 3, 17,
	     "error: anti-flicker threshold [17] should be in range [0, 16] for channel [0]\n",
	     HDR_F_ANTI_FLICKER, false},
	    {"threshold", img_hdr_set_threshold, img_hdr_get_threshold, 16383, 16384,
	     "error: thresold [16384] should be in range [0, 16383] for channel [0]\n", HDR_F_THRESHOLD,
	     false},
	    {"lut mix", img_hdr_set_lut_mix, img_hdr_get_lut_mix, 128, 129,
	     "error: thresold [129] should be in range [0, 128] for channel [0]\n", HDR_F_LUT, true},
	    {"drc strength", drc_set, drc_get, (uint32_t)-4096, (uint32_t)-4097,
	     "error: strength [-4097] should be in range [-4096, 4096] for channel [0]\n", HDR_F_DRC, true},
	    {"1st strength", img_hdr_set_1st_strength, img_hdr_get_1st_strength, 65536, 65537,
	     "error: 1st_strength [65537] should be in range [0, 65536] for channel [0]\n",
	     HDR_F_LUT | HDR_F_DRC, true},
	    {"2nd strength", img_hdr_set_2nd_strength, img_hdr_get_2nd_strength, 65536, 65537,
	     "error: 2nd_strength [65537] should be in range [0, 65536] for channel [0]\n",
	     HDR_F_RECOMPUTE | HDR_F_LUT, true},
	    {"boost strength", img_hdr_set_boost_strength, img_hdr_get_boost_strength, 65536, 65537,
	     "error: boost_strength [65537] should be in range [0, 65536] for channel [0]\n",
	     HDR_F_RECOMPUTE | HDR_F_DRC, true},
	};
}

std::vector<uint32_t> stored(const ExpoCase &p, int chan)
{
	std::vector<uint32_t> v(4);
	EXPECT_EQ(p.get(v.data(), chan), 0);
	return v;
}

TEST_F(HdrParams, PerExposureSettersCheckStoreAndFlag)
{
	for (const ExpoCase &p : expo_cases()) {
		SCOPED_TRACE(p.name);
		describe({{3, 1, 1}});
		clear_flags(0);
		std::vector<uint32_t> before = stored(p, 0);

		/* Out of range at exposure 1: refused with the message, nothing
		 * stored. */
		std::vector<uint32_t> bad = before;
		bad[1] = p.bad;
		CaptureStdout();
		EXPECT_EQ(p.set(bad.data(), 0), -1);
		EXPECT_EQ(GetCapturedStdout(), p.message);
		EXPECT_EQ(stored(p, 0), before);
		EXPECT_EQ(flags(0), 0);

		/* The same values again raise nothing; a change raises exactly
		 * the parameter's flags. */
		EXPECT_EQ(p.set(before.data(), 0), 0);
		EXPECT_EQ(flags(0), 0);
		std::vector<uint32_t> good = before;
		good[2] = p.good;
		EXPECT_EQ(p.set(good.data(), 0), 0);
		EXPECT_EQ(stored(p, 0), good);
		EXPECT_EQ(flags(0), p.flags);

		/* A difference at exposure 1 before a refusal at exposure 2 leaves
		 * the flags raised and stores nothing. */
		clear_flags(0);
		std::vector<uint32_t> partial = good;
		partial[1] = p.good;
		partial[2] = p.bad;
		CaptureStdout();
		EXPECT_EQ(p.set(partial.data(), 0), -1);
		GetCapturedStdout();
		EXPECT_EQ(flags(0), p.flags);
		EXPECT_EQ(stored(p, 0), good);

		/* Channel and pointer. */
		CaptureStdout();
		EXPECT_EQ(p.set(good.data(), 1), -1);
		EXPECT_EQ(p.set(nullptr, 0), -1);
		EXPECT_EQ(p.get(nullptr, 0), -1);
		EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [1].\n"
		                               "error: null pointer.\n"
		                               "error: null pointer.\n");
	}
}

TEST_F(HdrParams, ExposureZeroIsCheckedOnlyForTheStrengthsOfSensorMethods)
{
	for (const ExpoCase &p : expo_cases()) {
		for (uint32_t method : {1u, 4u, 8u}) {
			SCOPED_TRACE(std::string(p.name) + " method " + std::to_string(method));
			describe({{2, 1, method}});
			std::vector<uint32_t> v = stored(p, 0);
			v[0] = p.bad;
			bool checked = p.covers_exposure0_for_sensor_methods && method != 1;
			CaptureStdout();
			EXPECT_EQ(p.set(v.data(), 0), checked ? -1 : 0);
			GetCapturedStdout();
		}
	}
}

TEST_F(HdrParams, OneExposureTakesAnyBlendValueAndRaisesNothing)
{
	describe({{1, 1, 1}});
	clear_flags(0);
	const uint32_t wild[4] = {99999, 99999, 99999, 99999};
	EXPECT_EQ(img_hdr_set_alpha_value(wild, 0), 0);
	EXPECT_EQ(img_hdr_set_anti_flicker_threshold(wild, 0), 0);
	EXPECT_EQ(img_hdr_set_threshold(wild, 0), 0);
	EXPECT_EQ(flags(0), 0);
	uint32_t back[4];
	EXPECT_EQ(img_hdr_get_threshold(back, 0), 0);
	EXPECT_EQ(back[3], 99999u);
}

struct RatioCase {
	uint16_t ratio, boost;
	uint32_t method;
	int rc;
	const char *message;
};

TEST_F(HdrParams, ShutterRatioRangesAndThePowerOfTwoRule)
{
	const RatioCase cases[] = {
	    {15, 0, 1, -1,
	     "error: sht.ratio [15] boost.factor [0] should be in range [16, 2048], [0, 256] for channel "
	     "[0]\n"},
	    {2049, 0, 1, -1,
	     "error: sht.ratio [2049] boost.factor [0] should be in range [16, 2048], [0, 256] for channel "
	     "[0]\n"},
	    {16, 257, 1, -1,
	     "error: sht.ratio [16] boost.factor [257] should be in range [16, 2048], [0, 256] for channel "
	     "[0]\n"},
	    {24, 0, 1, 0, ""},
	    {24, 0, 2, -1, "error: sht.ratio [24] should be the power of 2 for channel [0]\n"},
	    {32, 256, 2, 0, ""},
	    {2048, 0, 2, 0, ""},
	};
	for (const RatioCase &c : cases) {
		SCOPED_TRACE(std::to_string(c.ratio) + "/" + std::to_string(c.boost) + " method " +
		             std::to_string(c.method));
		describe({{2, 1, c.method}});
		clear_flags(0);
		uint32_t before = 0, after = 0;
		ASSERT_EQ(img_hdr_get_blend_config(&before, 0), 0);
		img_hdr_blend_config cfg = {c.ratio, c.boost};
		CaptureStdout();
		EXPECT_EQ(img_hdr_set_shutter_ratio(&cfg, 0), c.rc);
		EXPECT_EQ(GetCapturedStdout(), c.message);
		ASSERT_EQ(img_hdr_get_blend_config(&after, 0), 0);
		EXPECT_EQ(after, c.rc ? before : (uint32_t)c.ratio | (uint32_t)c.boost << 16);
		/* The per-frame update compares the pair itself. */
		EXPECT_EQ(flags(0), 0);
	}
	CaptureStdout();
	EXPECT_EQ(img_hdr_set_shutter_ratio(nullptr, 0), -1);
	EXPECT_EQ(img_hdr_get_blend_config(nullptr, 0), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: null pointer.\nerror: null pointer\n");
}

TEST_F(HdrParams, DisablingCancelsAPendingRecompute)
{
	describe({two_expo()});
	ASSERT_EQ(img_hdr_get_enable(0), 1);
	ASSERT_TRUE(flags(0) & HDR_F_RECOMPUTE);
	EXPECT_EQ(img_hdr_set_enable(0, 0), 0);
	EXPECT_EQ(img_hdr_get_enable(0), 0);
	EXPECT_FALSE(flags(0) & HDR_F_RECOMPUTE);
	EXPECT_TRUE(flags(0) & HDR_F_LUT);
	EXPECT_EQ(img_hdr_set_enable(7, 0), 0);
	EXPECT_EQ(img_hdr_get_enable(0), 1);
	EXPECT_TRUE(flags(0) & HDR_F_RECOMPUTE);
	/* The same value again changes nothing. */
	clear_flags(0);
	EXPECT_EQ(img_hdr_set_enable(1, 0), 0);
	EXPECT_EQ(flags(0), 0);

	CaptureStdout();
	EXPECT_EQ(img_hdr_set_enable(1, 1), -1);
	EXPECT_EQ(img_hdr_get_enable(-1), -1);
	/* A recompute may be asked of any of the four channels. */
	EXPECT_EQ(img_hdr_request_update(3), 0);
	EXPECT_EQ(img_hdr_request_update(4), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [1].\n"
	                               "error: illegal channel id [-1].\n"
	                               "error: illegal channel id [4].\n");
	EXPECT_TRUE(flags(3) & HDR_F_RECOMPUTE);
}

TEST_F(HdrParams, SwitchesAndSmallRecordsRaiseTheirFlagsOnChangeOnly)
{
	describe({two_expo()});
	struct Step {
		const char *name;
		std::function<int()> call;
		uint8_t flags;
	};
	const img_hdr_ce_log_config ce = {3, 4};
	const int16_t black[4] = {-500, -500, -499, -500};
	const Step steps[] = {
	    {"CE log off", [] { return img_hdr_set_ce_log_enable(0, 0); }, HDR_F_LUT | HDR_F_DRC},
	    {"CE log off again", [] { return img_hdr_set_ce_log_enable(0, 0); }, 0},
	    {"colour thresholds on", [] { return img_hdr_set_color_threshold_enable(1, 0); },
	     HDR_F_THRESHOLD},
	    {"colour thresholds on again", [] { return img_hdr_set_color_threshold_enable(1, 0); }, 0},
	    {"CE log factors", [&] { return img_hdr_set_ce_log_config(&ce, 0); }, HDR_F_LUT | HDR_F_DRC},
	    {"CE log factors again", [&] { return img_hdr_set_ce_log_config(&ce, 0); }, 0},
	    {"black level", [&] { return img_hdr_set_static_black_level(black, 0); }, HDR_F_BLACK_LEVEL},
	    {"black level again", [&] { return img_hdr_set_static_black_level(black, 0); }, 0},
	};
	for (const Step &s : steps) {
		SCOPED_TRACE(s.name);
		clear_flags(0);
		EXPECT_EQ(s.call(), 0);
		EXPECT_EQ(flags(0), s.flags);
	}
	EXPECT_EQ(img_hdr_get_ce_log_enable(0), 0);
	EXPECT_EQ(img_hdr_get_color_threshold_enable(0), 1);
	uint64_t packed = 0;
	EXPECT_EQ(img_hdr_get_ce_log_config(&packed, 0), 0);
	EXPECT_EQ(packed, 3u | (uint64_t)4 << 32);
	int16_t back[4];
	EXPECT_EQ(img_hdr_get_static_black_level(back, 0), 0);
	EXPECT_EQ(memcmp(back, black, sizeof back), 0);

	const img_hdr_ce_log_config negative = {5, -1};
	CaptureStdout();
	EXPECT_EQ(img_hdr_set_ce_log_config(&negative, 0), -1);
	EXPECT_EQ(img_hdr_set_ce_log_config(nullptr, 0), -1);
	EXPECT_EQ(img_hdr_get_ce_log_config(nullptr, 0), -1);
	EXPECT_EQ(img_hdr_get_ce_log_config(&packed, 4), -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "error: CE config factor [5, -1] should not be negative for channel [0].\n"
	          "error: null pointer.\n"
	          "error: illegal channel id [4].\n");
	EXPECT_EQ(packed, 3u | (uint64_t)4 << 32);
}

TEST_F(HdrParams, ExternalTablesRaiseTheirFlagWhileEnabledAndClearItWhenNot)
{
	describe({two_expo()});
	auto table = std::make_unique<hdr_extern_table>();
	for (int e = 0; e < 4; e++)
		for (int i = 0; i < IMG_HDR_KNOTS; i++)
			table->table[e][i] = (uint16_t)(e * 1000 + i);
	struct Kind {
		int (*set)(const hdr_extern_table *, int);
		int (*get)(hdr_extern_table *, int);
		uint8_t flag;
	};
	for (const Kind &k : {Kind{img_hdr_set_extern_lut, img_hdr_get_extern_lut, HDR_F_LUT},
	                      Kind{img_hdr_set_extern_drc, img_hdr_get_extern_drc, HDR_F_DRC}}) {
		clear_flags(0);
		table->enable = 1;
		EXPECT_EQ(k.set(table.get(), 0), 0);
		EXPECT_EQ(flags(0), k.flag);
		auto back = std::make_unique<hdr_extern_table>();
		EXPECT_EQ(k.get(back.get(), 0), 0);
		EXPECT_EQ(memcmp(back.get(), table.get(), sizeof *back), 0);
		table->enable = 0;
		EXPECT_EQ(k.set(table.get(), 0), 0);
		EXPECT_EQ(flags(0), 0);
		/* Any of the four channels, whatever the count. */
		EXPECT_EQ(k.set(table.get(), 3), 0);
		CaptureStdout();
		EXPECT_EQ(k.set(table.get(), 4), -1);
		EXPECT_EQ(k.get(back.get(), -1), -1);
		EXPECT_EQ(k.set(nullptr, 0), -1);
		EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id.\n"
		                               "error: illegal channel id.\n"
		                               "error: null pointer.\n");
	}
}

TEST_F(HdrParams, AeCheckRecordsTravelForTheChannelCount)
{
	describe({two_expo(), two_expo()});
	img_hdr_ae_check in[4] = {{1, 2, 3, 4, nullptr}, {5, 6, 7, 8, nullptr}, {9, 9, 9, 9, nullptr}, {}};
	img_hdr_ae_check out[4] = {};
	EXPECT_EQ(img_hdr_set_ae_check(in), 0);
	EXPECT_EQ(img_hdr_get_ae_check(out), 0);
	EXPECT_EQ(out[1].agc_index, 7u);
	EXPECT_EQ(out[2].mode, 0u);
	CaptureStdout();
	EXPECT_EQ(img_hdr_set_ae_check(nullptr), -1);
	EXPECT_EQ(img_hdr_get_ae_check(nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "");
}

struct ExpoRatioCase {
	img_hdr_blend_config cfg;
	int from, to;
	uint32_t num, shift;
};

TEST_F(HdrParams, ExposureRatios)
{
	const ExpoRatioCase cases[] = {
	    {{256, 128}, 0, 2, 65536, 8},
	    {{256, 0}, 0, 2, 256, 8},
	    {{256, 128}, 1, 2, 256, 4},
	    {{256, 128}, 2, 2, 16, 4},
	    {{256, 128}, 3, 1, 16, 4},
	    {{24, 1}, 0, 1, 24, 4},
	    /* 2048^3 passes 32 bits: the value stays, low bits go. */
	    {{2048, 1}, 0, 3, 1u << 31, 10},
	};
	for (const ExpoRatioCase &c : cases) {
		SCOPED_TRACE(std::to_string(c.cfg.ratio) + "/" + std::to_string(c.cfg.boost) + " " +
		             std::to_string(c.from) + "->" + std::to_string(c.to));
		img_hdr_ratio r = {0, 0};
		EXPECT_EQ(img_hdr_calc_ratio(&r, c.from, c.to, &c.cfg), 0);
		EXPECT_EQ(r.num, c.num);
		EXPECT_EQ(r.shift, c.shift);
	}
	describe({{3, 1, 1}});
	img_hdr_ratio r = {0, 0};
	ASSERT_EQ(img_hdr_get_expo_ratio(&r, 0, 2, 0), 0);
	EXPECT_EQ(r.num, 65536u);
	EXPECT_EQ(r.shift, 8u);
	CaptureStdout();
	EXPECT_EQ(img_hdr_get_expo_ratio(nullptr, 0, 2, 0), -1);
	EXPECT_EQ(img_hdr_calc_ratio(&r, 0, 1, nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: null pointer.\nerror: null pointer.\n");
}

TEST_F(HdrParams, InitWritesTheDefaultsByChannelKind)
{
	/* DSP-combined tone channel, blend-bypass channel, sensor method 4,
	 * linear channel. */
	describe({{2, 1, 1, 0}, {2, 1, 1, 1}, {2, 0, 4, 0}, {1, 0, 0, 0}});
	struct Expect {
		uint32_t blend;
		uint32_t alpha, drc;
		int enable;
		uint8_t flags;
	};
	const uint8_t all =
	    HDR_F_RECOMPUTE | HDR_F_ALPHA | HDR_F_THRESHOLD | HDR_F_LUT | HDR_F_DRC | HDR_F_BLACK_LEVEL;
	const Expect expect[4] = {
	    {256 | 128u << 16, 128, 1280, 1, all},
	    {256, 0, 0, 1, all},
	    {256 | 128u << 16, 128, 1280, 1, HDR_F_LUT | HDR_F_DRC | HDR_F_BLACK_LEVEL},
	    {16, 128, 1280, 0, 0},
	};
	for (int c = 0; c < 4; c++) {
		SCOPED_TRACE(c);
		uint32_t blend = 0, alpha[4], af[4], thr[4];
		int32_t drc[4];
		ASSERT_EQ(img_hdr_get_blend_config(&blend, c), 0);
		ASSERT_EQ(img_hdr_get_alpha_value(alpha, c), 0);
		ASSERT_EQ(img_hdr_get_anti_flicker_threshold(af, c), 0);
		ASSERT_EQ(img_hdr_get_threshold(thr, c), 0);
		ASSERT_EQ(img_hdr_get_drc_strength(drc, c), 0);
		EXPECT_EQ(blend, expect[c].blend);
		EXPECT_EQ(alpha[3], expect[c].alpha);
		EXPECT_EQ((uint32_t)drc[0], expect[c].drc);
		EXPECT_EQ(af[1], 16u);
		EXPECT_EQ(thr[2], 15360u);
		EXPECT_EQ(img_hdr_get_enable(c), expect[c].enable);
		EXPECT_EQ(img_hdr_get_ce_log_enable(c), expect[c].enable);
		EXPECT_EQ(img_hdr_get_color_threshold_enable(c), 0);
		EXPECT_EQ(flags(c), expect[c].flags);
		int16_t black[4];
		ASSERT_EQ(img_hdr_get_static_black_level(black, c), 0);
		EXPECT_EQ(black[2], -500);
		EXPECT_EQ(hdr_ch(c)->drc_level, 65536u);
		EXPECT_EQ(hdr_ch(c)->ik.cfg_id, c * 9);
	}
}

} // namespace
