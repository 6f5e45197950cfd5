// The customer loop's settings store: shutter and gain with their clamps and
// changed flags, the HDR shutter ratio, the adjustment index and the HDR
// calls refused while the channel runs linear.
#include "cl_customerloop.h"
#include "cl_log.h"
#include "img_hdr_params.h"

#include <gtest/gtest.h>

#include <atomic>
#include <math.h>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::vector<std::pair<int, std::string>> logged;

void capture(int priority, const char *text)
{
	logged.emplace_back(priority, text);
}

class SettingsTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		logged.clear();
		cl_set_log_fn(capture);
		customerloop_state &s = cl_state();
		for (cl_channel &ch : s.channel)
			ch = cl_channel{};
		s.vin_count = 1;
		s.expo_num = 1;
		s.shutter_correction = 1.0;
		s.shutter_correction_set = 0;
		ASSERT_EQ(0, img_hdr_set_channel_num(1));
		img_hdr_blend_config reset = {16, 0};
		img_hdr_set_shutter_ratio(&reset, 0);
	}
	void TearDown() override
	{
		cl_set_log_fn(nullptr);
	}
	static cl_channel &ch0()
	{
		return cl_state().channel[0];
	}
	// Method, exposures and the exposure table of the built-in tuning.
	static void hdr(uint32_t method, uint32_t expo)
	{
		cl_state().expo_num = expo;
		ch0().info.hdr_method = method;
		ch0().info.expo_num = expo;
		memcpy(ch0().exposure_table, cl_tuning_table[1].exposure_table, CL_EXPOSURE_TABLE_SIZE);
	}
	static int set(shutter_gain sg)
	{
		return cl_customerloop_set_shutter_and_gain(0, (const uint32_t *)&sg);
	}
	static uint32_t ratio()
	{
		uint32_t pair = 0;
		EXPECT_EQ(0, img_hdr_get_blend_config(&pair, 0));
		return pair;
	}
};

TEST_F(SettingsTest, GainClampsAndChangedFlags)
{
	const struct {
		int32_t gain;
		uint32_t stored;
	} cases[] = {{800, 721}, {-5, 0}, {300, 300}, {721, 721}, {0, 0}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.gain);
		ch0().aaa = cl_aaa_block{};
		ch0().aaa.expo[0].agc = 17;
		ASSERT_EQ(0, set({{1000, 0}, {(uint32_t)c.gain, 0}, 0, 4096, 0}));
		EXPECT_EQ(c.stored, ch0().aaa.expo[0].agc);
		EXPECT_EQ(1u, ch0().aaa.expo[0].agc_changed);
		EXPECT_EQ(1000u, ch0().aaa.expo[0].shutter);
		EXPECT_EQ(4096u, ch0().aaa.expo[0].dgain);
		// Linear: the second exposure is not touched.
		EXPECT_EQ(0u, ch0().aaa.expo[1].shutter_changed);
	}
	// The same request again raises no flag.
	ch0().aaa.expo[0].agc_changed = ch0().aaa.expo[0].shutter_changed = ch0().aaa.expo[0].dgain_changed =
	    0;
	ASSERT_EQ(0, set({{1000, 0}, {0, 0}, 0, 4096, 0}));
	EXPECT_EQ(0u, ch0().aaa.expo[0].agc_changed);
	EXPECT_EQ(0u, ch0().aaa.expo[0].shutter_changed);
	EXPECT_EQ(0u, ch0().aaa.expo[0].dgain_changed);
}

TEST_F(SettingsTest, HoldAeMakesSetANoOp)
{
	ch0().aaa_state[0] = 1;
	ASSERT_EQ(0, set({{1000, 0}, {300, 0}, 5, 4096, 7}));
	EXPECT_EQ(0u, ch0().aaa.expo[0].shutter);
	EXPECT_EQ(0u, ch0().aaa.expo[0].agc_changed);
	EXPECT_EQ(0u, ch0().extra_gain);
}

TEST_F(SettingsTest, SplitExposureMethodsFillEntriesOneAndTwo)
{
	for (uint32_t method : {4u, 6u}) {
		SCOPED_TRACE(method);
		ch0().aaa = cl_aaa_block{};
		hdr(method, 2);
		ASSERT_EQ(0, set({{900, 100}, {700, 50}, 40, 4096, 0}));
		const cl_aaa_exposure *x = ch0().aaa.expo;
		EXPECT_EQ(900u, x[1].shutter);
		EXPECT_EQ(700u, x[1].agc);
		EXPECT_EQ(100u, x[2].shutter);
		EXPECT_EQ(50u, x[2].agc);
		EXPECT_EQ(900u, x[0].shutter);
		EXPECT_EQ(721u, x[0].agc); // 700 + 40 clamped
		shutter_gain got = {};
		ASSERT_EQ(0, cl_customerloop_get_shutter_and_gain(0, (uint32_t *)&got));
		EXPECT_EQ(x[1].shutter, got.shutter[0]);
		EXPECT_EQ(700u, got.gain[0]);
		EXPECT_EQ(x[2].shutter, got.shutter[1]);
		EXPECT_EQ(50u, got.gain[1]);
		EXPECT_EQ(40u, got.extra_gain);
	}
}

TEST_F(SettingsTest, SensorHdrRatioBelowOneTakesTheLongExposure)
{
	hdr(1, 2);
	ch0().aaa_gain_unit = 6;
	ASSERT_EQ(0, set({{100, 200}, {30, 90}, 0, 4096, 64}));
	const cl_aaa_exposure *x = ch0().aaa.expo;
	// gr = 1, sr = 0.5: entry 0 takes entry 1's shutter and gain, r = 1.
	EXPECT_EQ(200u, x[0].shutter);
	EXPECT_EQ(90u, x[0].agc);
	EXPECT_EQ(1u, x[1].shutter_changed);
	// dgain = 4096 x 200 / (200 x 0.5)
	EXPECT_EQ(8192u, x[1].dgain);
	EXPECT_EQ(1u, x[1].dgain_changed);
	EXPECT_EQ(16u | 64u << 16, ratio());
}

TEST_F(SettingsTest, CombinedRatioFromTheGainTable)
{
	hdr(5, 2);
	ch0().aaa_gain_unit = 6;
	ASSERT_EQ(0, set({{1000, 250}, {64, 0}, 0, 4096, 32}));
	const cl_aaa_exposure *x = ch0().aaa.expo;
	// The short exposure takes the long one's shutter; the ratio is the
	// table's gain at index 64 over index 0, about 2 (x 16).
	EXPECT_EQ(1000u, x[1].shutter);
	uint32_t g64;
	memcpy(&g64, cl_tuning_table[1].exposure_table + CL_EXPOSURE_GAIN_OFFSET + 4 * 64, 4);
	double gr = (float)g64 / 16384.0f;
	EXPECT_EQ((uint32_t)(int)(gr * 16) | 32u << 16, ratio());
	EXPECT_EQ(31u, ratio() & 0xffff);
	EXPECT_EQ(4096u, x[1].dgain);

	// A shutter correction scales the shutter ratio and the digital gain.
	ASSERT_EQ(0, cl_customerloop_set_shutter_correction(0, 2.0));
	ASSERT_EQ(0, set({{1000, 250}, {64, 0}, 0, 4096, 32}));
	EXPECT_EQ((uint32_t)(int)(2 * gr * 16), ratio() & 0xffff);
	EXPECT_EQ(4096u, x[1].dgain); // int(4096 x 1000 / (1000 x 2)) x 2
}

TEST_F(SettingsTest, ZeroDivisorKeepsRatioAndDigitalGain)
{
	hdr(5, 2);
	ch0().aaa_gain_unit = 0; // as right after prepare
	ch0().aaa.expo[1].dgain = 777;
	img_hdr_blend_config before = {40, 7};
	ASSERT_EQ(0, img_hdr_set_shutter_ratio(&before, 0));
	ASSERT_EQ(0, set({{1000, 250}, {64, 0}, 0, 4096, 32}));
	EXPECT_EQ(777u, ch0().aaa.expo[1].dgain);
	EXPECT_EQ(40u | 7u << 16, ratio());
}

TEST_F(SettingsTest, AdjustmentIndex)
{
	const struct {
		uint32_t method, unit, agc0, agc1, want;
	} cases[] = {
	    {0, 786432, 100, 5, 356},     {0, 1572864, 100, 5, 456}, {4, 786432, 100, 5, 261},
	    {6, 786432 * 3, 100, 7, 277}, {0, 100000, 7, 0, 256},
	};
	for (auto &c : cases) {
		ch0().info.hdr_method = c.method;
		ch0().aaa_gain_unit = c.unit;
		ch0().aaa.expo[0].agc = c.agc0;
		ch0().aaa.expo[1].agc = c.agc1;
		ASSERT_EQ(0, cl_customerloop_update_adj_index(0));
		EXPECT_EQ(c.want, ch0().adj_index) << c.method << " " << c.unit;
	}
}

TEST_F(SettingsTest, HdrCallsRefusedWhileLinear)
{
	uint32_t w[4] = {1, 2, 3, 4};
	const struct {
		const char *fn;
		int (*call)(uint32_t *);
	} cases[] = {
	    {"cl_customerloop_set_hdr_threshold",
	     [](uint32_t *v) { return cl_customerloop_set_hdr_threshold(0, v); }},
	    {"cl_customerloop_get_hdr_threshold",
	     [](uint32_t *v) { return cl_customerloop_get_hdr_threshold(0, v); }},
	    {"cl_customerloop_set_hdr_alpha_value",
	     [](uint32_t *v) { return cl_customerloop_set_hdr_alpha_value(0, v); }},
	    {"cl_customerloop_get_hdr_alpha_value",
	     [](uint32_t *v) { return cl_customerloop_get_hdr_alpha_value(0, v); }},
	    {"cl_customerloop_set_hdr_boost_strength",
	     [](uint32_t *v) { return cl_customerloop_set_hdr_boost_strength(0, v); }},
	};
	for (auto &c : cases) {
		logged.clear();
		EXPECT_EQ(-1, c.call(w)) << c.fn;
		ASSERT_EQ(1u, logged.size());
		EXPECT_EQ(LOG_WARNING, logged[0].first);
		EXPECT_EQ(std::string("WARNING: ") + c.fn + ": HDR is off\n", logged[0].second);
		EXPECT_EQ(1u, w[0]);
	}
	logged.clear();
	uint16_t blend[3] = {9, 9, 9};
	EXPECT_EQ(-1, cl_customerloop_get_hdr_blend_config(0, blend));
	EXPECT_TRUE(logged.empty());
	EXPECT_EQ(9, blend[0]);

	hdr(5, 2);
	img_hdr_blend_config cfg = {40, 7};
	ASSERT_EQ(0, img_hdr_set_shutter_ratio(&cfg, 0));
	ASSERT_EQ(0, cl_customerloop_get_hdr_blend_config(0, blend));
	EXPECT_EQ(40, blend[0]);
	EXPECT_EQ(40, blend[1]);
	EXPECT_EQ(7, blend[2]);
}

TEST_F(SettingsTest, StoredSettingsMarkPending)
{
	ASSERT_EQ(0, cl_customerloop_set_bw_mode(0, 1));
	ASSERT_EQ(0, cl_customerloop_set_brightness(0, -3));
	ASSERT_EQ(0, cl_customerloop_set_global_dgain(0, 5000));
	uint32_t bw = 0;
	ASSERT_EQ(0, cl_customerloop_get_bw_mode(0, &bw));
	EXPECT_EQ(1u, bw);
	EXPECT_EQ(1, ch0().bw_mode_pending);
	EXPECT_EQ(-3, ch0().brightness);
	EXPECT_EQ(1, ch0().brightness_pending);
	EXPECT_EQ(0, ch0().saturation_pending);
	EXPECT_EQ(5000, cl_state().global_dgain);
	uint32_t aaa[4] = {1, 1, 0, 9}, back[4] = {};
	ASSERT_EQ(0, cl_customerloop_set_aaa_state(0, aaa));
	ASSERT_EQ(0, cl_customerloop_get_aaa_state(0, back));
	EXPECT_EQ(0, memcmp(aaa, back, sizeof aaa));
}

// Setters and getters from two threads: each get sees one whole request.
TEST_F(SettingsTest, TwoThreadsSeeWholeRequests)
{
	std::thread writer([] {
		for (uint32_t i = 0; i < 2000; i++)
			set({{i, 0}, {i % 700, 0}, 0, i, 0});
	});
	for (int i = 0; i < 2000; i++) {
		shutter_gain got = {};
		ASSERT_EQ(0, cl_customerloop_get_shutter_and_gain(0, (uint32_t *)&got));
		ASSERT_EQ(got.shutter[0], got.dgain);
		ASSERT_EQ(got.shutter[0] % 700, got.gain[0]);
	}
	writer.join();
}

} // namespace

namespace
{

// A failed read of the image kernel's gains fails the get and leaves the
// user's gains as they were set.
TEST_F(SettingsTest, WhiteBalanceGetKeepsTheUserGains)
{
	const uint32_t user[5] = {1500, 1024, 800, 0, 0};
	ASSERT_EQ(0, cl_customerloop_set_wb_gains(0, user));
	uint32_t got[5] = {7, 7, 7, 7, 7};
	logged.clear();
	EXPECT_EQ(-1, cl_customerloop_get_wb_gains(0, got));
	ASSERT_EQ(1u, logged.size());
	EXPECT_EQ(LOG_ERR, logged[0].first);
	EXPECT_EQ("ERROR: cl_customerloop_get_wb_gains: get wb failed\n", logged[0].second);
	EXPECT_EQ(7u, got[0]);
	EXPECT_EQ(0, memcmp(user, cl_state().user_wb, sizeof cl_state().user_wb));
}

} // namespace

namespace
{

TEST_F(SettingsTest, ContrastEnhancementRecordMapsOntoTheBlock)
{
	uint8_t record[692];
	for (int w = 0; w < 27; w++) {
		uint32_t v = 0x100 + w; // only the low byte travels
		memcpy(record + 4 * w, &v, 4);
	}
	for (int i = 108; i < 684; i++)
		record[i] = (uint8_t)(i * 7);
	uint32_t tail[2] = {0x1f5, 0x2f6};
	memcpy(record + 684, tail, 8);

	ch0().ce_block[93] = 0xa5;
	ASSERT_EQ(0, cl_customerloop_set_ce_config(0, record));
	const uint8_t *b = ch0().ce_block;
	EXPECT_EQ(1, ch0().ce_pending);
	const int byte_of_word[27] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 14, 15,
	                              18, 12, 16, 13, 17, 19, 22, 23, 26, 20, 24, 21, 25};
	for (int w = 0; w < 27; w++)
		EXPECT_EQ(w, b[byte_of_word[w]]) << w;
	EXPECT_EQ(15, b[12]);
	EXPECT_EQ(0, memcmp(record + 108, b + 27, 64));
	EXPECT_EQ(0xf5, b[91]);
	EXPECT_EQ(0xf6, b[92]);
	EXPECT_EQ(0xa5, b[93]);
	EXPECT_EQ(0, memcmp(record + 172, b + 94, 512));

	uint8_t back[692];
	memset(back, 0xee, sizeof back);
	cl_ce_block_to_record(b, back);
	for (int w = 0; w < 27; w++) {
		uint32_t v;
		memcpy(&v, back + 4 * w, 4);
		EXPECT_EQ((uint32_t)w, v) << w;
	}
	EXPECT_EQ(0, memcmp(record + 108, back + 108, 684 - 108));
	uint32_t t[2];
	memcpy(t, back + 684, 8);
	EXPECT_EQ(0xf5u, t[0]);
	EXPECT_EQ(0xf6u, t[1]);
}

} // namespace

namespace
{

TEST_F(SettingsTest, BlackLevelWordsByHdrModeAndExposures)
{
	const struct {
		uint32_t hdr_mode, expo;
		uint16_t want0; // words 1 to 4 hold 11.., words 9 to 12 hold 91..
	} cases[] = {{0, 1, 11}, {15, 1, 91}, {0, 2, 91}, {1, 2, 91}, {15, 2, 91}};
	uint32_t record[13];
	for (int i = 0; i < 13; i++)
		record[i] = i < 9 ? 10 + i : 82 + i;
	for (auto &c : cases) {
		ch0().aaa_info.hdr_mode = c.hdr_mode;
		cl_state().expo_num = c.expo;
		ch0().black_level_pending = ch0().black_level_hdr_pending = 0;
		ASSERT_EQ(0, cl_customerloop_set_black_level(0, record));
		EXPECT_EQ(c.want0, ch0().black_level[0]) << c.hdr_mode << " " << c.expo;
		EXPECT_EQ(c.want0 + 3, ch0().black_level[3]);
		EXPECT_EQ(1, ch0().black_level_pending);
		EXPECT_EQ(1, ch0().black_level_hdr_pending);
	}
}

TEST_F(SettingsTest, CurvesScalesAndExternalTables)
{
	uint32_t tc[768];
	for (int i = 0; i < 768; i++)
		tc[i] = 0x10000u + (uint32_t)i;
	ASSERT_EQ(0, cl_customerloop_set_tc_curve(0, tc));
	EXPECT_EQ(300, ch0().tone_curve[1][44]);
	uint16_t curve[256];
	ASSERT_EQ(0, cl_customerloop_get_tone_curve(0, curve));
	EXPECT_EQ(256, curve[0]);

	// A disabled chroma scale or local exposure keeps the stored gains.
	uint32_t chroma[129] = {1};
	chroma[5] = 77;
	ASSERT_EQ(0, cl_customerloop_set_chroma_scale(0, chroma));
	chroma[0] = 0;
	chroma[5] = 5;
	ASSERT_EQ(0, cl_customerloop_set_chroma_scale(0, chroma));
	EXPECT_EQ(0u, ch0().chroma_enable);
	EXPECT_EQ(77, ch0().chroma_gain[4]);
	uint32_t le[262] = {0, 9, 9, 9, 9, 9};
	ASSERT_EQ(0, cl_customerloop_set_local_exposure(0, le));
	EXPECT_EQ(0, ch0().le_params[1]);
	EXPECT_EQ(1, ch0().le_pending);

	uint8_t lut[1416] = {1};
	logged.clear();
	EXPECT_EQ(-1, cl_customerloop_set_hdr_extern_lut(0, lut));
	EXPECT_EQ(-1, cl_customerloop_get_hdr_extern_lut(0, lut));
	ASSERT_EQ(2u, logged.size());
	EXPECT_EQ("WARNING: cl_customerloop_set_hdr_extern_lut: HDR is off\n", logged[0].second);
	EXPECT_EQ("WARNING: cl_customerloop_get_hdr_extern_lut: HDR is off\n", logged[1].second);
}

// Histograms, the first AF tile and the grid land at their offsets; the
// gap after the tile and everything from byte 6688 keep the caller's bytes.
TEST_F(SettingsTest, StatisticsCopyWritesItsFieldsOnly)
{
	customerloop_state &s = cl_state();
	aaa_parse_result &p = s.parsed.chan[0];
	for (int c = 0; c < 4; c++)
		for (int i = 0; i < 64; i++) {
			p.set.cfa_hist.bin[c][i] = 1000u * c + i;
			p.set.rgb_hist.bin[c][i] = 5000u + 1000u * c + i;
		}
	for (int e = 0; e < 2; e++)
		for (int c = 0; c < 3; c++)
			for (int i = 0; i < 128; i++)
				p.prehist[e][c][i] = 100000u * (e + 1) + 1000u * c + i;
	p.set.cfa_af[0] = {0x1122, 0x3344, 0x5566};
	p.set.cfa_af[95] = {0x0102, 0x0304, 0x0506};
	ch0().af_tile = {8, 5, 0, 0, 512, 435, 4096, 2175};

	static uint8_t block[LIBCL_STATS_SIZE];
	memset(block, 0xAA, sizeof block);
	ASSERT_EQ(0, cl_customerloop_get_stats(0, (libcl_stats *)block));
	auto word = [&](size_t at) {
		uint32_t v;
		memcpy(&v, block + at, 4);
		return v;
	};
	EXPECT_EQ(2063u, word(2 * 256 + 63 * 4)); // CFA blue bin 63
	EXPECT_EQ(3005u, word(3 * 256 + 5 * 4));  // CFA luma bin 5
	EXPECT_EQ(5001u, word(1024 + 4));         // RGB red bin 1
	EXPECT_EQ(202127u, word(3584 + 2 * 512 + 127 * 4));
	EXPECT_EQ(100000u, word(2048));
	const uint8_t tile[6] = {0x22, 0x11, 0x44, 0x33, 0x66, 0x55};
	EXPECT_EQ(0, memcmp(tile, block + 5120, 6));
	const uint8_t last_tile[6] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05};
	EXPECT_EQ(0, memcmp(last_tile, block + 5120 + 95 * 6, 6));
	EXPECT_EQ(8u, word(6672));
	EXPECT_EQ(5u, word(6676));
	EXPECT_EQ(435u, word(6680));
	EXPECT_EQ(512u, word(6684));
	for (size_t i = 5696; i < 6672; i++)
		ASSERT_EQ(0xAA, block[i]) << "byte " << i;
	for (size_t i = LIBCL_STATS_WRITTEN; i < sizeof block; i++)
		ASSERT_EQ(0xAA, block[i]) << "byte " << i;
}

// A reader never sees half of a frame's parse: the frame thread writes the
// parse result under the statistics mutex.
TEST_F(SettingsTest, StatisticsCopyAgainstAParsingThread)
{
	customerloop_state &s = cl_state();
	memset(&s.parsed.chan[0].set.cfa_hist, 0, sizeof s.parsed.chan[0].set.cfa_hist);
	std::atomic<bool> done{false};
	std::thread parser([&] {
		for (uint32_t frame = 1; !done; frame++) {
			std::lock_guard<std::mutex> lk(s.stats_mu);
			for (auto &colour : s.parsed.chan[0].set.cfa_hist.bin)
				for (uint32_t &b : colour)
					b = frame;
		}
	});
	static libcl_stats stats;
	for (int i = 0; i < 2000; i++) {
		ASSERT_EQ(0, cl_customerloop_get_stats(0, &stats));
		uint32_t first = stats.cfa_hist.his_bin_r[0];
		ASSERT_EQ(first, stats.cfa_hist.his_bin_y[63]);
		ASSERT_EQ(first, stats.cfa_hist.his_bin_g[17]);
	}
	done = true;
	parser.join();
}

} // namespace
