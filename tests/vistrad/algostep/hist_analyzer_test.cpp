// The histogram analyser: the analysis on hand-made histograms against values
// worked from its formulas, and the step on hand-made statistics records with
// the real engine, platform, parameters and data-cache device. The camera
// library's calls are replaced at link time (--wrap) by the fake below.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>
#include <sys/ioctl.h>

#include <string>
#include <vector>

#include "algostep/hist_analyzer.h"
#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "datacache_ioctl.h"
#include "log_capture.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "prodconf_builder.h"
#include "simsoc.h"
#include "simsoc_datacache.h"

namespace
{

struct FakeLibcl {
	uint32_t started = 1;
	int hdr_mode = 0;   // negative: the read fails
	int hdr_mode0 = -2; // channel 0's, when it differs; -2: as hdr_mode
	uint32_t threshold[4] = {};
	uint16_t blend[3] = {};
	bool knee_reads_fail = false;
} fake;

} // namespace

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = fake.started;
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_mode(int channel, uint32_t *mode)
{
	int m = channel == 0 && fake.hdr_mode0 != -2 ? fake.hdr_mode0 : fake.hdr_mode;
	if (m < 0)
		return -1;
	*mode = (uint32_t)m;
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_threshold(int, uint32_t *threshold)
{
	if (fake.knee_reads_fail)
		return -1;
	memcpy(threshold, fake.threshold, sizeof(fake.threshold));
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_blend_config(int, uint16_t *blend)
{
	memcpy(blend, fake.blend, sizeof(fake.blend));
	return 0;
}

namespace
{

// ---- The analysis alone ------------------------------------------------

struct AnalyseCase {
	const char *name;
	std::vector<uint32_t> h;
	uint32_t kind;
	int low_end, mid_end, data_threshold;
	double forecast, near_sat_target;
	double previous_saturation;
	float last_data_avg;
	bool low_mid_weight;
	// Expected, worked from the formulas by hand.
	double data_end, saturation, saturation_raw;
	int forecast_bin;
	double weight, weight_unsaturated;
	double low_share, mid_share, high_share;
	double low_mean, mid_mean, high_mean;
	double near_sat_position;
	std::vector<double> levels; // empty: not checked
	double flattest_level;
};

std::vector<AnalyseCase> analyse_cases()
{
	std::vector<AnalyseCase> cases = {
	    // Sums: low {400, 200} at 0, 1; mid {0, 200} at 2, 3; high 200 at 7.
	    // Candidate 3 (counts from the top 0, 0, 0, 200/4, 200/5 within 50),
	    // data_end 0.5 x 3; data ending at the mid point keeps only the 1.5 of
	    // hysteresis from 20 % saturation.
	    {"rgb",
	     {400, 200, 0, 200, 0, 0, 0, 200},
	     HIST_KIND_RGB,
	     2,
	     4,
	     50,
	     1.0,
	     0.15,
	     0,
	     0.5f,
	     false,
	     1.5,
	     1.5,
	     20.0,
	     5,
	     2200.0 / 1000 / 8 * 100,
	     (2200.0 - 7 * 200) / 800 / 7 * 100,
	     120.0,
	     40.0,
	     20.0,
	     400.0 / 1200 / 2 * 100,
	     (1200.0 / 400 - 3) / 1 * 100,
	     (1400.0 / 200 - 5) / 5 * 100,
	     6,
	     {},
	     0},
	    // Levels of a CFA analysis: nothing above data_end 3 counts, so s stays
	    // at the raw 1 % down to bin 3, which passes level 1 (k starts at 1)
	    // with one level a bin; the rest are set to 1. Saturation 1 % with data
	    // ending low keeps nothing (1 - 1.5 < 0).
	    {"cfa levels",
	     {500, 200, 100, 100, 50, 30, 10, 10},
	     HIST_KIND_CFA,
	     2,
	     4,
	     5,
	     1.0,
	     0.15,
	     0,
	     0.5f,
	     false,
	     3,
	     0,
	     1.0,
	     9,
	     1180.0 / 1000 / 8 * 100,
	     (1180.0 - 70) / 990 / 7 * 100,
	     140.0,
	     40.0,
	     10.0,
	     400.0 / 1400 / 2 * 100,
	     (1000.0 / 400 - 3) * 100,
	     0,
	     6,
	     {6, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1},
	     1.0},
	    // Levels from the top with data_end n-2: s = 0.1 before the walk, bins
	    // add 0, 1, 3, 5.9, 10 % from bin 6 down. High sum 41: no high mean.
	    {"near saturation",
	     {600, 200, 100, 59, 30, 10, 0, 1},
	     HIST_KIND_CFA,
	     2,
	     4,
	     5,
	     1.0,
	     0.15,
	     0.2,
	     0.5f,
	     false,
	     6,
	     0.1,
	     0.1,
	     9,
	     754.0 / 1000 / 8 * 100,
	     (754.0 - 7) / 999 / 7 * 100,
	     160.0,
	     2 * 15.9,
	     4.1,
	     400.0 / 1600 / 2 * 100,
	     (754.0 / 318 - 3) * 100,
	     0,
	     5.95,
	     {7, 6 - 0.9, 5 - 0.9 / 3, 4 + 1.1 / 5.9, 3.6, 1, 1, 1, 1, 1, 1},
	     0.05},
	    // More than 64 bins, nothing below mid_end: the second pass borrows bin
	    // 50 into the mid range, and the low-and-mid weight is over it alone.
	    {"low and mid weight",
	     {},
	     HIST_KIND_RGB,
	     10,
	     20,
	     5,
	     1.0,
	     0.15,
	     0,
	     0.5f,
	     true,
	     0,
	     0,
	     0,
	     0,
	     15000.0 / 300 / 20 * 100,
	     0,
	     0,
	     75.0,
	     100.0,
	     0,
	     (50.0 - 11) / 9 * 100,
	     (21000.0 / 400 - 21) / 81 * 100,
	     98,
	     {},
	     0},
	};
	// Out-of-range smoothing is taken as 0.5: the same numbers as "rgb".
	AnalyseCase c = cases[0];
	c.name = "bad smoothing";
	c.last_data_avg = 1.5f;
	cases.push_back(c);
	// Previous saturation 0.2 %: data_end n-2 and the raw saturation kept.
	c = cases[0];
	c.name = "saturated before";
	c.previous_saturation = 0.2;
	c.data_end = 6;
	c.saturation = 20.0;
	cases.push_back(c);
	return cases;
}

hist_analyzer_settings settings_with(float last_data_avg, bool low_mid_weight)
{
	hist_analyzer_settings s = {};
	s.last_data_avg = last_data_avg;
	s.saturation_hysteresis = 1.5f;
	s.ae_low_mid_weight = low_mid_weight;
	return s;
}

TEST(HistAnalyse, HandMadeHistograms)
{
	for (const AnalyseCase &c : analyse_cases()) {
		SCOPED_TRACE(c.name);
		std::vector<uint32_t> h = c.h;
		if (h.empty()) {
			h.assign(100, 0);
			h[50] = 300;
			h[60] = 100;
		}
		hist_analyzer_settings s = settings_with(c.last_data_avg, c.low_mid_weight);
		hist_analyzer_local local = {};
		local.head.settings = &s;
		hist_analysis a = {};
		a.kind = c.kind;
		a.bin_count = (int32_t)h.size();
		a.low_end = c.low_end;
		a.mid_end = c.mid_end;
		a.data_threshold = c.data_threshold;
		a.forecast = c.forecast;
		a.near_sat_target = c.near_sat_target;
		a.include_sat = 1;
		a.saturation = c.previous_saturation;
		LogCapture log;
		hist_analyse(&a, h.data(), &local);

		if (c.h.empty()) {
			// Only the second pass's values matter here.
			EXPECT_EQ(1, local.low_mid_weight);
			EXPECT_NEAR(c.weight, a.weight, 1e-9);
			EXPECT_NEAR(c.mid_share, a.mid_share, 1e-9);
			EXPECT_NEAR(c.high_share, a.high_share, 1e-9);
			EXPECT_NEAR(c.mid_mean, a.mid_mean, 1e-9);
			EXPECT_NEAR(c.high_mean, a.high_mean, 1e-9);
			continue;
		}
		EXPECT_EQ(0, local.low_mid_weight);
		EXPECT_EQ(c.last_data_avg > 1,
		          log.text().find("Incorrect last data average configuration "
		                          "1.500000, defaulting to 0.5!\n") != std::string::npos);
		EXPECT_NEAR(c.data_end, a.data_end, 1e-9);
		EXPECT_NEAR(c.saturation, a.saturation, 1e-9);
		EXPECT_NEAR(c.saturation_raw, a.saturation_raw, 1e-9);
		EXPECT_EQ(c.forecast_bin, a.forecast_bin);
		EXPECT_EQ(h.back(), a.top_count);
		EXPECT_NEAR(c.weight, a.weight, 1e-9);
		EXPECT_NEAR(c.weight_unsaturated, a.weight_unsaturated, 1e-9);
		EXPECT_NEAR(c.low_share, a.low_share, 1e-9);
		EXPECT_NEAR(c.mid_share, a.mid_share, 1e-9);
		EXPECT_NEAR(c.high_share, a.high_share, 1e-9);
		EXPECT_NEAR(c.low_mean, a.low_mean, 1e-9);
		EXPECT_NEAR(c.mid_mean, a.mid_mean, 1e-9);
		EXPECT_NEAR(c.high_mean, a.high_mean, 1e-9);
		// Running averages from zero with a = 0.5.
		EXPECT_NEAR(c.low_share / 2, a.low_share_avg, 1e-9);
		EXPECT_NEAR(c.weight / 2, a.weight_avg, 1e-9);
		EXPECT_NEAR(c.near_sat_position, a.near_sat_position, 1e-9);
		for (size_t k = 0; k < c.levels.size(); k++)
			EXPECT_NEAR(c.levels[k], a.level_position[k], 1e-9) << "level " << k;
		EXPECT_NEAR(c.flattest_level, a.flattest_level, 1e-9);
	}
}

TEST(HistAnalyse, EmptyHistogramLeavesTheAveragesAlone)
{
	hist_analyzer_settings s = settings_with(0.5f, false);
	hist_analyzer_local local = {};
	local.head.settings = &s;
	hist_analysis a = {};
	a.kind = HIST_KIND_CFA;
	a.bin_count = 8;
	a.low_end = 2;
	a.mid_end = 4;
	a.weight = a.low_share = a.low_mean = 9;
	a.weight_avg = a.low_share_avg = 7;
	uint32_t h[8] = {};
	hist_analyse(&a, h, &local);
	EXPECT_EQ(0, a.weight);
	EXPECT_EQ(0, a.low_share);
	EXPECT_EQ(0, a.low_mean);
	EXPECT_EQ(0, a.total);
	EXPECT_EQ(0, a.saturation);
	EXPECT_EQ(7, a.weight_avg);
	EXPECT_EQ(7, a.low_share_avg);
}

TEST(HistAnalyse, KindNames)
{
	const char *names[] = {"RGB", "CFA", "LONG_FRAME", "SHORT_FRAME", "NA"};
	for (uint32_t k = 0; k < 5; k++)
		EXPECT_STREQ(names[k], hist_kind_name(k));
	EXPECT_STREQ("NA", hist_kind_name(0xffffffffu));
}

// ---- The step on hand-made statistics records ---------------------------

int32_t black_level = 0;
int32_t sensor_wdr = 0;
std::vector<image_stats_record> seen;

int32_t test_black_level(sensor *)
{
	return black_level;
}

int32_t test_wdr_mode(sensor *)
{
	return sensor_wdr;
}

int capture(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	seen.push_back(*reinterpret_cast<image_stats_record *>(job));
	return 0;
}

int count_job(const control_job *, void *data)
{
	(*static_cast<int *>(data))++;
	return 1;
}

class Step : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fake = FakeLibcl();
		black_level = 0;
		sensor_wdr = 0;
		seen.clear();
		simsoc_datacache_reset();
		simsoc_clear_failures();
		info_pool_init();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
		conf->read_item = prodconf_read_item;
		config = pc_node(pc_section(conf, "algo_hist_analyzer_cl"), "config");
		stats = static_cast<platform_soc_stats *>(g_malloc0(sizeof(platform_soc_stats)));
		stats->header.type = PLATFORM_DATA_SOC_STATS;
		stats->header.stream_id = -1;
	}
	void TearDown() override
	{
		if (engine) {
			control_stop(engine);
			control_free(engine);
		}
		platform_destroy(plat);
		algo_cl_free_settings(settings);
		prodconf_free(conf);
		g_free(stats);
		param_db_free();
		param_map_free();
		info_pool_free();
		EXPECT_EQ(0, simsoc_open_files());
	}
	void set(const char *key, const std::string &value)
	{
		pc_node(config, key, {value});
	}
	// The platform, the sensor of stream 0, the step for the stream and a
	// consumer of its records; init run.
	void make(int channels = 1, int32_t stream_id = 0, bool cache = false)
	{
		plat = platform_vorsalind_create(nullptr, conf, channels);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		test_sensor = sensor_new();
		test_sensor->get_black_level = test_black_level;
		test_sensor->get_wdr_mode = test_wdr_mode;
		platform_add_sensor(plat, test_sensor, 0);
		if (cache) {
			writer = static_cast<datacache *>(datacache_general(nullptr, engine, 0));
			platform_add_datacache(plat, writer, 0);
			ASSERT_EQ(PLATFORM_OK, datacache_setup(writer, 0));
		}
		settings = algo_cl_table[1].create(conf, engine, stream_id);
		ASSERT_NE(nullptr, settings);
		algo_step *consumer = algo_step_create_stream_id(-1, nullptr, capture, nullptr, nullptr);
		algo_step_add_input_stream_id(consumer, HIST_ANALYZER_DATA_IMAGE_STATS, -1);
		int32_t *owner = g_new(int32_t, 1);
		*owner = 0x7fff; // no stream's
		algo_group *group = algo_group_create(owner);
		algo_group_insert(group, consumer);
		control_add_group(engine, group);
		init_result = control_init_groups(engine);
		GList *groups = control_get_groups_of_owner(engine, (uint32_t)stream_id);
		ASSERT_EQ(1u, g_list_length(groups));
		step = static_cast<algo_step *>(static_cast<algo_group *>(groups->data)->steps->data);
		g_list_free(groups);
		local = static_cast<hist_analyzer_local *>(algo_step_get_local_data(step));
		log.clear();
	}
	size_t frame()
	{
		size_t before = seen.size();
		control_dispatch(engine, &stats->header);
		return seen.size() - before;
	}
	void cfa(int channel, std::vector<uint32_t> bins)
	{
		for (size_t i = 0; i < bins.size(); i++)
			stats->channel[channel].cfa_hist.his_bin_g[i] = bins[i];
	}
	void hdr(int channel, int exposure, std::vector<uint32_t> bins)
	{
		for (size_t i = 0; i < bins.size(); i++)
			stats->channel[channel].cfa_hdr_hist[exposure].his_bin_g[i] = bins[i];
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}

	LogCapture log;
	prodconf *conf = nullptr;
	prodconf_node *config = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
	sensor *test_sensor = nullptr;
	datacache *writer = nullptr;
	void *settings = nullptr;
	algo_step *step = nullptr;
	hist_analyzer_local *local = nullptr;
	platform_soc_stats *stats = nullptr;
	int init_result = 0;
};

std::vector<uint32_t> ramp(size_t n, uint32_t scale)
{
	std::vector<uint32_t> v(n);
	for (size_t i = 0; i < n; i++)
		v[i] = (uint32_t)(i + 1) * scale;
	return v;
}

// Nothing before the 3A starts, on an unreadable HDR mode, on a WDR flag the
// mode contradicts, or for a channel the record has no block for.
TEST_F(Step, FramesWithoutARecord)
{
	make();
	cfa(0, ramp(64, 10));
	fake.started = 0;
	EXPECT_EQ(0u, frame());
	fake.started = 1;
	fake.hdr_mode = -1;
	EXPECT_EQ(0u, frame());
	EXPECT_TRUE(logged("hist_analyzer_cl_run Failed to get video mode for channel 0\n"));
	fake.hdr_mode = 1;
	EXPECT_EQ(0u, frame());
	fake.hdr_mode = 0;
	EXPECT_EQ(1u, frame());
	EXPECT_EQ(0, init_result);
}

TEST_F(Step, ChannelBeyondTheRecordGivesNothing)
{
	make(1, 0x500);
	EXPECT_EQ(0u, frame());
}

// Linear: the RGB histogram folds its top five bins into bin 58; the CFA
// histogram is cut at the black level.
TEST_F(Step, LinearFoldsAndCut)
{
	struct {
		int32_t black;
		int cut;
	} cases[] = {{0, 64}, {4096, 47}, {16127, 1}, {16128, 1}, {20000, 1}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.black);
		TearDown();
		SetUp();
		black_level = c.black;
		make();
		std::vector<uint32_t> g = ramp(64, 3);
		for (size_t i = 0; i < 64; i++)
			stats->channel[0].rgb_hist.his_bin_g[i] = g[i];
		cfa(0, ramp(64, 5));
		ASSERT_EQ(1u, frame());
		const image_stats_record &r = seen.back();
		EXPECT_EQ(HIST_ANALYZER_DATA_IMAGE_STATS, r.header.type);
		EXPECT_EQ(0, r.header.stream_id);
		EXPECT_EQ(59, r.rgb.bin_count);
		EXPECT_EQ(HIST_KIND_RGB, r.rgb.kind);
		EXPECT_EQ(3u * (59 + 60 + 61 + 62 + 63 + 64), r.rgb_hist[58]);
		EXPECT_EQ(3u * 64, r.rgb_hist[63]);
		EXPECT_EQ(c.cut, r.cfa.bin_count);
		uint32_t top = 0;
		for (int i = c.cut - 1; i < 64; i++)
			top += 5u * (i + 1);
		EXPECT_EQ(top, r.cfa_hist[c.cut - 1]);
		EXPECT_EQ(5u * 64, r.cfa_hist[63]);
		// The exposure slot follows the CFA analysis; the WDR slots stay zero.
		EXPECT_EQ(0, memcmp(&r.cfa, &r.long_frame, sizeof(hist_analysis)));
		hist_analysis zero = {};
		EXPECT_EQ(0, memcmp(&zero, &r.short_frame, sizeof(zero)));
		EXPECT_EQ(0, memcmp(&zero, &r.spare, sizeof(zero)));
		EXPECT_EQ(0, r.knee);
		// The shared record keeps its own bins.
		EXPECT_EQ(5u * 47, stats->channel[0].cfa_hist.his_bin_g[46]);
		EXPECT_EQ(c.black >= 16128, logged("black level"));
	}
}

TEST_F(Step, BlackLevelBeyondTheHistogramIsLoggedOnce)
{
	black_level = 16200;
	make();
	cfa(0, ramp(64, 5));
	frame();
	frame();
	std::string text = log.text();
	size_t first = text.find("black level 16200");
	ASSERT_NE(std::string::npos, first);
	EXPECT_EQ(std::string::npos, text.find("black level 16200", first + 1));
}

TEST_F(Step, AveragedRgbLowBins)
{
	set("average_rgb_stats", "true");
	make();
	for (int i = 0; i < 64; i++) {
		stats->channel[0].rgb_hist.his_bin_r[i] = 10;
		stats->channel[0].rgb_hist.his_bin_g[i] = 20;
		stats->channel[0].rgb_hist.his_bin_b[i] = 1;
	}
	ASSERT_EQ(1u, frame());
	EXPECT_EQ(31u / 3, seen.back().rgb_hist[0]);
	EXPECT_EQ(31u / 3, seen.back().rgb_hist[7]);
	EXPECT_EQ(20u, seen.back().rgb_hist[8]);
}

// One channel averages to its own histogram, analysed a second time.
TEST_F(Step, AveragingOneChannel)
{
	set("histogram_averaging", "true");
	make();
	cfa(0, ramp(64, 5));
	ASSERT_EQ(1u, frame());
	const hist_analysis &a = seen.back().cfa;
	EXPECT_GT(a.weight, 10);
	EXPECT_NEAR(0.75 * a.weight, a.weight_avg, 1e-9);
}

// A master channel from SlaveTo: its analysis is the exposure slot; with
// link_dic_to_master its histogram and analysis are the CFA ones too.
TEST_F(Step, MasterChannel)
{
	for (bool link : {false, true}) {
		SCOPED_TRACE(link);
		TearDown();
		SetUp();
		if (link)
			set("link_dic_to_master", "true");
		make(2);
		ASSERT_EQ(0, param_set_int(150, 0, 1));
		cfa(0, ramp(64, 5));
		std::vector<uint32_t> other(64, 0);
		other[10] = 1000;
		cfa(1, other);
		ASSERT_EQ(1u, frame());
		const image_stats_record &r = seen.back();
		EXPECT_NEAR(10.0 / 64 * 100, r.long_frame.weight, 1e-9);
		EXPECT_EQ(link ? 1000u : 5u * 11, r.cfa_hist[10]);
		EXPECT_EQ(link, r.cfa.weight == r.long_frame.weight);
		// No master when SlaveTo is -1.
		ASSERT_EQ(0, param_set_int(150, 0, -1));
		ASSERT_EQ(1u, frame());
		EXPECT_EQ(5u * 11, seen.back().cfa_hist[10]);
	}
}

TEST_F(Step, AverageOfChannels)
{
	make(2);
	cfa(0, std::vector<uint32_t>(64, 10));
	cfa(1, std::vector<uint32_t>(64, 30));
	hdr(1, 1, std::vector<uint32_t>(128, 7));
	uint32_t out[128];
	hist_channel_table both = {{1, 1}, 2};
	hist_average_channels(stats, out, &both, plat, 0);
	EXPECT_EQ(20u, out[0]);
	EXPECT_EQ(20u, out[63]);
	hist_channel_table second = {{0, 1}, 1};
	hist_average_channels(stats, out, &second, plat, 2);
	EXPECT_EQ(7u, out[127]);
	hist_channel_table none = {};
	hist_average_channels(stats, out, &none, plat, 0);
	EXPECT_EQ(0u, out[5]);
}

// ---- WDR -----------------------------------------------------------------

class Wdr : public Step
{
      protected:
	void SetUp() override
	{
		Step::SetUp();
		sensor_wdr = 1;
		fake.hdr_mode = 1;
	}
};

// The short exposure's near-saturation target moves with the gain (info-pool
// 14, Q14) to 0.01 % at 8 dB, and rises by 8 points at ExposureValue 100.
TEST_F(Wdr, ShortNearSaturationTarget)
{
	make();
	const double target = 0.15f;
	double db2 = 20.0 * 4932 / 16384; // fx_log10x(2.0) in Q14 is 4932
	struct {
		int32_t gain; // 0: as before (not set at first)
		int32_t ev;   // 0: as before (not set at first)
		double expected;
	} cases[] = {
	    {0, 0, target},
	    {0, 100, target + 8},
	    {0, 50, target},
	    {0, 75, target + 4},
	    {32768, 50, target + db2 * (0.01 - target) / 8},
	    {65536, 100, 0 + 8},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.gain) + "/" + std::to_string(c.ev));
		if (c.gain) {
			ASSERT_EQ(0, info_pool_set_imfix(14, 0, 0, c.gain));
		}
		if (c.ev) {
			ASSERT_EQ(0, param_set_int(14, 0, c.ev));
		}
		ASSERT_EQ(1u, frame());
		EXPECT_NEAR(c.expected, seen.back().short_frame.near_sat_target, 1e-9);
		EXPECT_EQ(HIST_KIND_SHORT, seen.back().short_frame.kind);
		EXPECT_EQ(HIST_KIND_LONG, seen.back().long_frame.kind);
		// Linear-only target of the CFA analysis is off in WDR.
		EXPECT_EQ(0, seen.back().cfa.near_sat_target);
	}
}

// Black level 0: 127 companded bins become 252 linear ones, 253 analysed.
TEST_F(Wdr, ExpansionAtBlackLevelZero)
{
	for (bool under : {false, true}) {
		SCOPED_TRACE(under);
		TearDown();
		SetUp();
		if (under)
			set("underexpose_short", "true");
		make();
		std::vector<uint32_t> lng(128, 0);
		for (int c = 0; c < 20; c++)
			lng[c] = 1000;
		lng[127] = 77;
		hdr(0, 0, lng);
		// Companded 64..95 spread over two bins, 96.. over four, at least 1.
		std::vector<uint32_t> shrt(128, 0);
		shrt[64] = 9;
		shrt[100] = 3;
		hdr(0, 1, shrt);
		ASSERT_EQ(1u, frame());
		const image_stats_record &r = seen.back();
		EXPECT_EQ(253, r.long_frame.bin_count);
		EXPECT_EQ(under ? 252 : 253, r.short_frame.bin_count);
		EXPECT_EQ(64, r.cfa.bin_count);
		for (int j = 0; j <= 20; j++)
			EXPECT_EQ(1000u * j, r.long_cumulative[j]) << j;
		EXPECT_EQ(20000u, r.long_cumulative[252]);
		EXPECT_EQ(0u, r.long_cumulative[253]);
		EXPECT_EQ(77u, r.long_frame.top_count);
		// 9 / 2 in linear bins 64, 65; 3 / 4 -> 1 in bins 144..147.
		EXPECT_EQ(4u, r.short_cumulative[65]);
		EXPECT_EQ(8u, r.short_cumulative[66]);
		EXPECT_EQ(8u, r.short_cumulative[144]);
		EXPECT_EQ(12u, r.short_cumulative[148]);
		EXPECT_EQ(12u, r.short_cumulative[252]);
	}
}

// Black level 4096: K = 111 companded bins, P = 188 linear; the sum of 112..127
// joins the top and the cumulative entry after it.
TEST_F(Wdr, ExpansionWithATail)
{
	for (bool under : {false, true}) {
		SCOPED_TRACE(under);
		TearDown();
		SetUp();
		black_level = 4096;
		if (under)
			set("underexpose_short", "true");
		make();
		hdr(0, 0, std::vector<uint32_t>(128, 8));
		hdr(0, 1, std::vector<uint32_t>(128, 8));
		ASSERT_EQ(1u, frame());
		const image_stats_record &r = seen.back();
		EXPECT_EQ(47, r.cfa.bin_count);
		EXPECT_EQ(189, r.long_frame.bin_count);
		EXPECT_EQ(under ? 188 : 189, r.short_frame.bin_count);
		const uint32_t below = 64 * 8 + 64 * 4 + 60 * 2, tail = 16 * 8;
		EXPECT_EQ(below, r.long_cumulative[188]);
		EXPECT_EQ(tail, r.long_cumulative[189]);
		EXPECT_EQ(8u + tail, r.long_frame.top_count);
		EXPECT_EQ(under ? below + tail : below, r.short_cumulative[188]);
		EXPECT_EQ(under ? 0 : tail, r.short_cumulative[189]);
		EXPECT_EQ(under ? 2u + 8u + tail : 8u + tail, r.short_frame.top_count);
	}
}

// The knee from the long histogram's first flat window, else the short's;
// 4096 (record 1280) in mode 15, when the library has no threshold or blend
// configuration, or with no blend ratio.
TEST_F(Wdr, Knee)
{
	struct {
		const char *name;
		uint16_t blend;
		uint32_t threshold;
		uint32_t mode;
		bool fail;
		int32_t knee;
	} cases[] = {
	    // j = 22 is the first j whose window (bins 20..22) averages below
	    // 100: 5376 - trunc(22 / 1 / 253 x 4096).
	    {"long", 16, 16383, 1, false, 5376 - (int32_t)(22.0 / 253 * 4096)},
	    // tb = 20: the long window never empties; the short one does at 244.
	    {"short", 16, 1296, 1, false, 5376 - (int32_t)(244.0 / 253 * 4096)},
	    {"mode 15", 16, 16383, 15, false, 1280},
	    {"library fails", 16, 16383, 1, true, 1280},
	    {"no blend ratio", 0, 16383, 1, false, 1280},
	    {"threshold beyond full scale", 16, 40000, 1, false, 5376 - (int32_t)(22.0 / 253 * 4096)},
	};
	make();
	std::vector<uint32_t> lng(128, 0), shrt(128, 0);
	for (int c = 0; c < 20; c++)
		lng[c] = 1000;
	// Companded 122, 123: linear bins 232..239 of 1000 each.
	shrt[122] = shrt[123] = 4000;
	hdr(0, 0, lng);
	hdr(0, 1, shrt);
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		fake.blend[1] = c.blend;
		fake.threshold[1] = c.threshold;
		fake.hdr_mode = (int)c.mode;
		fake.knee_reads_fail = c.fail;
		ASSERT_EQ(1u, frame());
		EXPECT_EQ(c.knee, seen.back().knee);
	}
}

// ---- The data cache "image_stats" ---------------------------------------

std::vector<datacache_element> writes;

int recording_ioctl(platform *, int fd, unsigned long request, void *argument)
{
	if (request == DATACACHE_IOC_WRITE)
		writes.push_back(*static_cast<datacache_element *>(argument));
	return ioctl(fd, request, argument);
}

TEST_F(Step, WeightGoesToTheDataCache)
{
	set("enable_hist_datacache", "true");
	make(1, 0, true);
	writes.clear();
	plat->ioctl = recording_ioctl;
	ASSERT_EQ(0, init_result);
	ASSERT_EQ(0, simsoc_datacache_add_reader(0, "image_stats"));
	cfa(0, ramp(64, 5));
	for (int i = 0; i < 64; i++)
		stats->channel[0].rgb_hist.his_bin_g[i] = 100;
	ASSERT_EQ(1u, frame());
	float weight = 0;
	ASSERT_EQ(4, simsoc_datacache_latest(0, "image_stats", &weight, sizeof weight, nullptr, nullptr));
	EXPECT_EQ((float)seen.back().rgb.weight, weight);
	EXPECT_GT(weight, 0);
	// The element goes without a time stamp: the driver stamps it.
	ASSERT_EQ(1u, writes.size());
	EXPECT_EQ(0u, writes[0].sec);
	EXPECT_EQ(0u, writes[0].usec);
	EXPECT_EQ(0u, writes[0].mode);
}

// A failed write releases the record and returns -1; the statistics record
// is all the queue holds afterwards.
TEST_F(Step, FailedWriteReleasesTheRecord)
{
	set("enable_hist_datacache", "true");
	make(1, 0, true);
	simsoc_datacache_fail(DATACACHE_IOC_WRITE, EIO, 1);
	ASSERT_EQ(0, control_queue_job(engine, &stats->header));
	EXPECT_EQ(-1, hist_analyzer_cl_run(step, engine));
	int queued = 0;
	control_release_jobs_if(engine, count_job, &queued);
	EXPECT_EQ(1, queued);
	// The next frame writes again.
	EXPECT_EQ(1u, frame());
}

TEST_F(Step, CacheThatCannotBeMadeFailsInit)
{
	set("enable_hist_datacache", "true");
	make(1, 0, true);
	simsoc_datacache_fail(DATACACHE_IOC_CREATE, EIO, 1);
	EXPECT_EQ(-1, hist_analyzer_cl_init(step, engine));
	// Without settings as well.
	void *kept = local->head.settings;
	local->head.settings = nullptr;
	EXPECT_EQ(-1, hist_analyzer_cl_init(step, engine));
	local->head.settings = kept;
}

} // namespace
