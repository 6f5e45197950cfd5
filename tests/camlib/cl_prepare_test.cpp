// The customer loop's states and the 3A prepare on the simulated SoC: the
// driver requests in their order (seen through a wrapped ioctl), a failure
// injected at each failing step, the first posting's mode, colour
// correction from a temporary root, and the static bad-pixel maps.
#include "awb.h"
#include "cc_firmware.h"
#include "cl_customerloop.h"
#include "cl_log.h"
#include "cl_main_loop.h"
#include "img_adj_settings.h"
#include "img_dsp_raw.h"
#include "img_hdr_curves.h"
#include "img_lib.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Link-time hooks: what the library asks of the driver and the image kernel.
// ---------------------------------------------------------------------------
namespace
{

struct Hooks {
	std::mutex mu;
	std::vector<unsigned long> requests;
	int vin_num_answer = -1; // overrides the system resources' VIN count
	std::vector<int> post_modes;
	std::vector<img_dsp_variable_range> ranges;
	std::vector<std::pair<uint8_t, uint8_t>> highlight; // context, mode
	struct Sbp {
		uint8_t ctx;
		img_dsp_sbp_bypass block;
		std::vector<uint8_t> map;
	};
	std::vector<Sbp> sbp;
};

Hooks hooks;

} // namespace

extern "C" int __real_ioctl(int fd, unsigned long request, void *arg);
extern "C" int __wrap_ioctl(int fd, unsigned long request, void *arg)
{
	{
		std::lock_guard<std::mutex> lk(hooks.mu);
		hooks.requests.push_back(request);
	}
	int rc = __real_ioctl(fd, request, arg);
	if (rc == 0 && request == QVD_IOC_GET_SYSTEM_RESOURCE && hooks.vin_num_answer >= 0)
		((qvd_system_resource *)arg)->vin_num = (uint8_t)hooks.vin_num_answer;
	return rc;
}

extern "C" int __real_img_post_channel_cfgs(int, int, const channel_info *, int, uint32_t *,
                                            const uint32_t *);
extern "C" int __wrap_img_post_channel_cfgs(int fd, int mode, const channel_info *info, int count,
                                            uint32_t *config_id, const uint32_t *post_enable)
{
	hooks.post_modes.push_back(mode);
	return __real_img_post_channel_cfgs(fd, mode, info, count, config_id, post_enable);
}

extern "C" int __real_vors_img_dsp_set_variable_range(const img_dsp_mode *, img_dsp_variable_range *);
extern "C" int __wrap_vors_img_dsp_set_variable_range(const img_dsp_mode *mode, img_dsp_variable_range *block)
{
	hooks.ranges.push_back(*block);
	return __real_vors_img_dsp_set_variable_range(mode, block);
}

extern "C" int __real_vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(const img_dsp_mode *,
                                                                                  const uint8_t *);
extern "C" int __wrap_vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(const img_dsp_mode *mode,
                                                                                  const uint8_t *value)
{
	hooks.highlight.emplace_back(mode->ContextId, *value);
	return __real_vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(mode, value);
}

extern "C" int __real_vors_img_dsp_set_static_bad_pixel_correction_bypass(int, const img_dsp_mode *,
                                                                          img_dsp_sbp_bypass *);
extern "C" int __wrap_vors_img_dsp_set_static_bad_pixel_correction_bypass(int fd, const img_dsp_mode *mode,
                                                                          img_dsp_sbp_bypass *block)
{
	Hooks::Sbp s{mode->ContextId, *block, {}};
	s.map.assign(block->pMap, block->pMap + (size_t)block->pitch * block->height);
	hooks.sbp.push_back(s);
	return __real_vors_img_dsp_set_static_bad_pixel_correction_bypass(fd, mode, block);
}

namespace
{

std::vector<std::pair<int, std::string>> logged;

void capture(int priority, const char *text)
{
	logged.emplace_back(priority, text);
}

bool has_line(int priority, const std::string &text)
{
	return std::any_of(logged.begin(), logged.end(),
	                   [&](const auto &l) { return l.first == priority && l.second == text; });
}

std::string lines()
{
	std::string all;
	for (auto &l : logged)
		all += std::to_string(l.first) + " " + l.second;
	return all;
}

// One 1920x1080 map: pitch 240 rounded up to 256 bytes.
constexpr uint32_t kPitch = 256, kHeight = 1080, kMap = kPitch * kHeight;

class PrepareTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_clear_failures();
		simsoc_qvd_set_sbp_size(0);
		simsoc_qvd_set_enc_mode_cap(0, 2);
		char tmpl[] = "/tmp/cl-prepare-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		ASSERT_TRUE(install_cc_firmware(root));
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		logged.clear();
		cl_set_log_fn(capture);
		cl_tuning_set_board(1024);
		clear_hooks();
	}
	void TearDown() override
	{
		cl_customerloop_deinit();
		cl_set_log_fn(nullptr);
		unsetenv("VISTRAD_ROOT");
		hooks.vin_num_answer = -1;
		simsoc_qvd_set_sbp_size(0);
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}
	static void clear_hooks()
	{
		std::lock_guard<std::mutex> lk(hooks.mu);
		hooks.requests.clear();
		hooks.post_modes.clear();
		hooks.ranges.clear();
		hooks.highlight.clear();
		hooks.sbp.clear();
	}
	static uint32_t state()
	{
		uint32_t s = 99;
		EXPECT_EQ(0, cl_customerloop_get_cl_state(&s));
		return s;
	}
	static std::vector<unsigned long> requests()
	{
		std::lock_guard<std::mutex> lk(hooks.mu);
		return hooks.requests;
	}
	void init(int vins = 1, std::vector<std::string> dpc = {})
	{
		std::vector<char *> paths;
		for (auto &p : dpc)
			paths.push_back((char *)p.c_str());
		paths.push_back(nullptr);
		ASSERT_EQ(1, cl_customerloop_init(vins, dpc.empty() ? nullptr : paths.data(), nullptr, 0));
		logged.clear();
		clear_hooks();
	}
	static void two_vins()
	{
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin_count = 2;
		b.vin[1] = b.vin[0];
		b.vin[1].source_id = 1;
		b.vin[1].ctx_id = 1;
		ASSERT_EQ(0, simsoc_qvd_set_board(&b));
	}
	std::string write_map(const std::string &name, size_t size, uint8_t seed)
	{
		std::string path = root + "/" + name;
		std::vector<uint8_t> bytes(size);
		for (size_t i = 0; i < size; i++)
			bytes[i] = (uint8_t)(i * 7 + seed);
		std::ofstream(path, std::ios::binary)
		    .write((const char *)bytes.data(), (std::streamsize)size);
		return path;
	}
	std::string root;
};

// ---------------------------------------------------------------------------
// States.
// ---------------------------------------------------------------------------
TEST_F(PrepareTest, InitRefusesVinCountsOutsideOneToFour)
{
	for (int n : {0, 5}) {
		SCOPED_TRACE(n);
		logged.clear();
		EXPECT_EQ(0, cl_customerloop_init(n, nullptr, nullptr, 0));
		EXPECT_TRUE(has_line(LOG_ERR, "ERROR: cl_customerloop_init: number of vins " +
		                                  std::to_string(n) + ", should be in range [1,4]\n"))
		    << lines();
	}
	EXPECT_EQ(CL_STATE_NONE, state());
}

// Each refusal: the warning with the state, nothing changed, no request.
TEST_F(PrepareTest, TransitionsFollowTheStateTable)
{
	init();
	struct Step {
		const char *op;
		int (*fn)(void);
		int result;
		uint32_t after;
	};
	const Step steps[] = {
	    {"cl_customerloop_start_aaa", cl_customerloop_start_aaa, 0, CL_STATE_INITIALISED},
	    {"cl_customerloop_stop_aaa", cl_customerloop_stop_aaa, 0, CL_STATE_INITIALISED},
	    {"cl_customerloop_prepare_aaa", cl_customerloop_prepare_aaa, 1, CL_STATE_PREPARED},
	    {"cl_customerloop_prepare_aaa", cl_customerloop_prepare_aaa, 1, CL_STATE_PREPARED},
	    {"cl_customerloop_stop_aaa", cl_customerloop_stop_aaa, 0, CL_STATE_PREPARED},
	    {"cl_customerloop_start_aaa", cl_customerloop_start_aaa, 1, CL_STATE_STARTED},
	    {"cl_customerloop_prepare_aaa", cl_customerloop_prepare_aaa, 0, CL_STATE_STARTED},
	    {"cl_customerloop_start_aaa", cl_customerloop_start_aaa, 0, CL_STATE_STARTED},
	    {"cl_customerloop_stop_aaa", cl_customerloop_stop_aaa, 1, CL_STATE_STOPPED},
	    {"cl_customerloop_start_aaa", cl_customerloop_start_aaa, 0, CL_STATE_STOPPED},
	    {"cl_customerloop_stop_aaa", cl_customerloop_stop_aaa, 0, CL_STATE_STOPPED},
	    {"cl_customerloop_prepare_aaa", cl_customerloop_prepare_aaa, 1, CL_STATE_PREPARED},
	    {"cl_customerloop_start_aaa", cl_customerloop_start_aaa, 1, CL_STATE_STARTED},
	};
	for (const Step &s : steps) {
		uint32_t before = state();
		SCOPED_TRACE(std::string(s.op) + " from " + std::to_string(before));
		logged.clear();
		clear_hooks();
		EXPECT_EQ(s.result, s.fn());
		EXPECT_EQ(s.after, state());
		std::string warning = std::string("WARNING: ") + s.op + ": Error: In wrong state " +
		                      std::to_string(before) + "\n\n";
		EXPECT_EQ(s.result == 0, has_line(LOG_WARNING, warning)) << lines();
		// Refusals and a second prepare do no driver work; a start and a
		// stop do the frame thread's.
		bool no_work = s.result == 0 || (before == CL_STATE_PREPARED && s.after == CL_STATE_PREPARED);
		if (no_work) {
			EXPECT_TRUE(requests().empty());
		}
	}
}

// ---------------------------------------------------------------------------
// Prepare.
// ---------------------------------------------------------------------------
bool in_order(const std::vector<unsigned long> &log, const std::vector<unsigned long> &want)
{
	auto at = log.begin();
	for (unsigned long code : want) {
		at = std::find(at, log.end(), code);
		if (at == log.end())
			return false;
		++at;
	}
	return true;
}

TEST_F(PrepareTest, PrepareOnTheSimulatedBoard)
{
	init();
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	EXPECT_EQ(CL_STATE_PREPARED, state());
	std::vector<unsigned long> log = requests();
	ASSERT_FALSE(log.empty());
	EXPECT_EQ(QVD_IOC_GET_SYSTEM_RESOURCE, log[0]);
	EXPECT_TRUE(
	    in_order(log, {QVD_IOC_GET_SYSTEM_RESOURCE, QVD_IOC_MAP_IMGPROC, QVD_IOC_QUERY_ENC_MODE_CAP,
	                   QVD_IOC_GET_SYSTEM_RESOURCE, QVD_IOC_VIN_GET_VIDEOINFO, QVD_IOC_GET_VIDEO_PROC,
	                   QVD_IOC_VIN_GET_AAAINFO, QVD_IOC_VIN_GET_AGC, QVD_IOC_GET_QVD_STATE,
	                   QVD_IOC_IMG_SET_MULTI_CHAN_CFG}));
	EXPECT_TRUE(has_line(LOG_INFO, "vin_channel_num =1\n"));
	// Radius code 2: 1 << 7.
	ASSERT_EQ(1u, hooks.ranges.size());
	EXPECT_EQ(128, hooks.ranges[0].max_chroma_radius);
	EXPECT_EQ(1, hooks.ranges[0].inside_fpn_flag);
	EXPECT_EQ(128u, img_adj_get_max_chroma_radius());

	customerloop_state &s = cl_state();
	EXPECT_EQ(&cl_tuning_table[0], s.row);
	EXPECT_EQ(1u, s.expo_num);
	const cl_channel &ch = s.channel[0];
	EXPECT_EQ(256u, ch.adj_index);
	EXPECT_EQ(1u, ch.post_enable);
	EXPECT_EQ(4096u, ch.aaa.expo[3].dgain);
	EXPECT_EQ(1024u, ch.aaa.wb_g_gain);
	EXPECT_EQ(0, memcmp(ch.exposure_table, cl_tuning_table[0].exposure_table, CL_EXPOSURE_TABLE_SIZE));
	// The statistics table's grids, word by word.
	EXPECT_EQ(12, ch.ae_tile.num_col);
	EXPECT_EQ(272, ch.ae_tile.height);
	EXPECT_EQ(16383, ch.ae_tile.pix_max_value);
	EXPECT_EQ(32, ch.awb_tile.num_row);
	EXPECT_EQ(0u, ch.awb_tile.pix_min_value);
	EXPECT_EQ(16383u, ch.awb_tile.pix_max_value);
	EXPECT_EQ(5, ch.af_tile.num_row);
	EXPECT_EQ(435, ch.af_tile.height);
	EXPECT_EQ(0u, s.stop_request);
}

TEST_F(PrepareTest, DriverVinCountOutsideOneToFourFailsBeforeAnyOtherRequest)
{
	init();
	for (int n : {0, 5}) {
		SCOPED_TRACE(n);
		hooks.vin_num_answer = n;
		logged.clear();
		clear_hooks();
		EXPECT_EQ(0, cl_customerloop_prepare_aaa());
		EXPECT_EQ(-1, start_aaa_init());
		EXPECT_TRUE(has_line(LOG_ERR, "vin_channel_num range is [1,4]!\n")) << lines();
		EXPECT_EQ(std::vector<unsigned long>(2, QVD_IOC_GET_SYSTEM_RESOURCE), requests());
		EXPECT_EQ(CL_STATE_INITIALISED, state());
	}
}

// A failure at each failing step: its message, the state kept, and the next
// prepare starts clean.
TEST_F(PrepareTest, AFailingStepFailsThePrepareAndTheNextOneStartsClean)
{
	init();
	struct Case {
		unsigned long code;
		const char *message; // an error-priority line that starts so
	} cases[] = {
	    {QVD_IOC_GET_SYSTEM_RESOURCE, "QVD_IOC_GET_SYSTEM_RESOURCE_GENERIC\n: "},
	    {QVD_IOC_MAP_IMGPROC, "ERROR: start_aaa_init: img_lib_init failed\n"},
	    {QVD_IOC_QUERY_ENC_MODE_CAP, "QVD_IOC_QUERY_ENC_MODE_CAP: "},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		logged.clear();
		simsoc_qvd_fail(c.code, EIO, 1);
		EXPECT_EQ(0, cl_customerloop_prepare_aaa());
		EXPECT_EQ(CL_STATE_INITIALISED, state());
		EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [&](const auto &l) {
			return l.first == LOG_ERR && l.second.rfind(c.message, 0) == 0;
		})) << lines();
	}
	// No row for the board: the lookup's warning and prepare's error.
	logged.clear();
	cl_tuning_set_board(9999);
	EXPECT_EQ(0, cl_customerloop_prepare_aaa());
	EXPECT_TRUE(has_line(LOG_WARNING, "WARNING: failed to lookup tuning: 9999 (2, 0, 1, 0)\n"))
	    << lines();
	EXPECT_TRUE(has_line(LOG_ERR, "ERROR: start_aaa_init: failed to lookup params\n")) << lines();
	EXPECT_EQ(CL_STATE_INITIALISED, state());
	// Each failure after the bring-up took it down again: this one maps
	// the image kernel's memory afresh.
	cl_tuning_set_board(1024);
	EXPECT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	EXPECT_EQ(CL_STATE_PREPARED, state());
}

TEST_F(PrepareTest, AThreeDTableOneByteShortFailsThePrepare)
{
	init();
	std::string path = root + "/lib/firmware/ar0521_02_3D.bin";
	ASSERT_EQ(0, unlink(path.c_str()));
	std::ofstream(path, std::ios::binary) << std::string(CL_CC_3D_SIZE - 1, '\0');
	EXPECT_EQ(0, cl_customerloop_prepare_aaa());
	EXPECT_TRUE(
	    has_line(LOG_ERR, "ERROR: cl_load_bins: Channel 0 failed to load one or more CC bin files\n"))
	    << lines();
	EXPECT_TRUE(has_line(LOG_ERR, "ERROR: load_cc_bin: failed to load bins\n"));
	EXPECT_EQ(CL_STATE_INITIALISED, state());
}

// A running DSP takes only changed channels; at rest, or when its state
// cannot be read, every channel is posted.
TEST_F(PrepareTest, FirstPostingModeFollowsTheDspState)
{
	const struct {
		uint32_t dsp;
		bool fail;
		int mode;
	} cases[] = {{2, false, IMG_POST_CHANGED},
	             {1, false, IMG_POST_CHANGED},
	             {0, false, IMG_POST_ALL},
	             {2, true, IMG_POST_ALL}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.dsp);
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.dsp_state = c.dsp;
		ASSERT_EQ(0, simsoc_qvd_set_board(&b));
		init();
		// The bring-up asks the state too and goes on when it cannot.
		if (c.fail)
			simsoc_qvd_fail(QVD_IOC_GET_QVD_STATE, EIO, -1);
		ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
		simsoc_qvd_fail(QVD_IOC_GET_QVD_STATE, 0, 0);
		EXPECT_EQ(std::vector<int>{c.mode}, hooks.post_modes);
		EXPECT_EQ(c.fail, std::any_of(logged.begin(), logged.end(), [](const auto &l) {
			          return l.second.rfind("QVD_IOC_GET_QVD_STATE: ", 0) == 0;
		          }));
		cl_customerloop_deinit();
	}
}

// ---------------------------------------------------------------------------
// Static bad-pixel maps.
// ---------------------------------------------------------------------------
TEST_F(PrepareTest, DpcMapReachesTheImageKernel)
{
	std::string map = write_map("vin0.dpc", kMap, 3);
	init(1, {map});
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	ASSERT_EQ(1u, hooks.sbp.size());
	const auto &s = hooks.sbp[0];
	EXPECT_EQ(0, s.ctx);
	EXPECT_EQ(3, s.block.mode);
	EXPECT_EQ(1920, s.block.width);
	EXPECT_EQ(kHeight, s.block.height);
	EXPECT_EQ(kPitch, s.block.pitch);
	std::vector<uint8_t> want(kMap);
	for (size_t i = 0; i < kMap; i++)
		want[i] = (uint8_t)(i * 7 + 3);
	EXPECT_EQ(want, s.map);
	EXPECT_EQ((std::vector<std::pair<uint8_t, uint8_t>>{{0, 1}}), hooks.highlight);
	EXPECT_FALSE(has_line(LOG_ERR, "Error: failed to apply dpc\n"));
}

// A bad map is reported and skipped; the other VIN's map still goes in and
// the prepare succeeds.
TEST_F(PrepareTest, BadDpcMapIsReportedAndSkipped)
{
	two_vins();
	std::string good = write_map("vin1.dpc", kMap, 2);
	std::string shorter = write_map("short.dpc", kMap - 1, 0);
	std::string missing = root + "/missing.dpc";
	const struct {
		std::string path, message;
	} cases[] = {
	    {shorter, "ERROR: cl_apply_dpc: Failed to read DPC map from " + shorter +
	                  ": got 276479 bytes, expected 276480\n\n"},
	    {missing, "ERROR: cl_apply_dpc: Failed to open " + missing + ": " + strerror(ENOENT) + "\n\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.path);
		init(2, {c.path, good});
		ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
		EXPECT_TRUE(has_line(LOG_ERR, c.message)) << lines();
		EXPECT_TRUE(has_line(LOG_ERR, "Error: failed to apply dpc\n"));
		ASSERT_EQ(1u, hooks.sbp.size());
		EXPECT_EQ(1, hooks.sbp[0].ctx);
		EXPECT_EQ(2, hooks.sbp[0].map[0]);
		EXPECT_EQ(CL_STATE_PREPARED, state());
		cl_customerloop_deinit();
	}
}

// The second VIN's map lies one map after the first, whether or not the
// first has one; a VIN whose slot lies past the buffer is skipped.
TEST_F(PrepareTest, TwoVinsShareTheBufferOneMapApart)
{
	two_vins();
	std::string m0 = write_map("vin0.dpc", kMap, 1), m1 = write_map("vin1.dpc", kMap, 2);
	init(2, {m0, m1});
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	ASSERT_EQ(2u, hooks.sbp.size());
	EXPECT_EQ(1, hooks.sbp[1].ctx);
	EXPECT_EQ(hooks.sbp[0].block.pMap + kMap, hooks.sbp[1].block.pMap);
	uint8_t *second = hooks.sbp[1].block.pMap;
	EXPECT_EQ((uint8_t)(2), hooks.sbp[1].map[0]);

	// Without a path for the first VIN.
	cl_customerloop_deinit();
	init(2, {m0, m1});
	customerloop_state &s = cl_state();
	free(s.dpc_paths[0]);
	s.dpc_paths[0] = nullptr;
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	ASSERT_EQ(1u, hooks.sbp.size());
	EXPECT_EQ(1, hooks.sbp[0].ctx);
	EXPECT_EQ(second, hooks.sbp[0].block.pMap);

	// A buffer with room for one map only.
	cl_customerloop_deinit();
	ASSERT_EQ(0, simsoc_qvd_set_sbp_size(kMap + 100));
	init(2, {m0, m1});
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	ASSERT_EQ(1u, hooks.sbp.size());
	EXPECT_EQ(0, hooks.sbp[0].ctx);
	EXPECT_TRUE(has_line(LOG_ERR, "ERROR: BPC mem map size 276580 is not enough!\n\n")) << lines();
	EXPECT_TRUE(has_line(LOG_ERR, "Error: failed to apply dpc\n"));
}

} // namespace

// ---------------------------------------------------------------------------
// What prepare hands the 3A modules, and the getters that read the image
// kernel and the driver once it is up.
// ---------------------------------------------------------------------------
namespace
{

TEST_F(PrepareTest, SensorRecordCarriesTheAaaInformationAndAgcRecord)
{
	init();
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	const cl_channel &ch = cl_state().channel[0];
	const uint8_t *cfg = img_lib_aaa_chan(0)->cfg;
	const uint8_t *rec = cfg + IMG_AAA_SENSOR_AT;
	EXPECT_EQ(0, memcmp(rec, ch.sensor_table + 24, 44));
	EXPECT_EQ(0, memcmp(rec + 44, &ch.aaa_info, 152));
	EXPECT_EQ(0, memcmp(rec + 196, ch.agc_record, 40));
	EXPECT_EQ(448u, ((const qvd_vin_agc *)ch.agc_record)->again_max_index);
	EXPECT_EQ(0, memcmp(cfg + IMG_AAA_AWB_CFG_AT, ch.wb_table + 24, IMG_AAA_AWB_CFG_SIZE));
}

TEST_F(PrepareTest, VinAaaInformationComesFromTheChannelsSource)
{
	simsoc_qvd_board b;
	simsoc_qvd_default_board(&b);
	b.vin[0].source_id = 3;
	b.vin[0].hdr_mode = 15;
	b.vin[0].sht_max[0] = 1111;
	ASSERT_EQ(0, simsoc_qvd_set_board(&b));
	init();
	vin_aaa_info info;
	memset(&info, 0xAA, sizeof info);
	ASSERT_EQ(0, cl_customerloop_get_vin_aaa_info(0, (uint8_t *)&info));
	EXPECT_EQ(3, info.source_id);
	EXPECT_EQ(15u, info.hdr_mode);
	EXPECT_EQ(1111u, info.sht0_max);
	simsoc_qvd_fail(QVD_IOC_VIN_GET_AAAINFO, EIO, 1);
	EXPECT_EQ(-1, cl_customerloop_get_vin_aaa_info(0, (uint8_t *)&info));
	EXPECT_TRUE(has_line(
	    LOG_ERR, std::string("ERROR: cl_customerloop_get_vin_aaa_info: Failed reading aaa info ") +
	                 strerror(EIO) + "\n\n"))
	    << lines();
}

// Linear words 1-4; an HDR channel's exposures from word 5, two at most
// (the record's end), whatever the exposure count.
TEST_F(PrepareTest, BlackLevelWordsByHdrModeAndExposures)
{
	init();
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	customerloop_state &s = cl_state();
	img_dsp_static_black_level blc = {-3, 5, 7, 9};
	s.main_mode.ContextId = 0;
	ASSERT_EQ(0, vors_img_dsp_set_static_black_level(s.qvd_fd, &s.main_mode, &blc));
	const uint32_t v[4] = {(uint32_t)-3, 5, 7, 9};
	const struct {
		uint32_t hdr_mode, expo;
		int first, exposures;
	} cases[] = {{0, 1, 1, 1}, {15, 1, 5, 2}, {0, 2, 5, 2}, {1, 3, 5, 2}};
	for (auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.hdr_mode) + "/" + std::to_string(c.expo));
		s.channel[0].aaa_info.hdr_mode = c.hdr_mode;
		s.expo_num = c.expo;
		uint32_t rec[14];
		memset(rec, 0xEE, sizeof rec);
		ASSERT_EQ(0, cl_customerloop_get_black_level(0, rec));
		for (int w = 1; w < 14; w++) {
			int e = (w - c.first) / 4;
			bool filled = w >= c.first && e < c.exposures;
			EXPECT_EQ(filled ? v[(w - c.first) % 4] : 0xEEEEEEEEu, rec[w]) << "word " << w;
		}
	}
}

TEST_F(PrepareTest, ContrastEnhancementReadBackKeepsTheStoredEnable)
{
	init();
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	customerloop_state &s = cl_state();
	s.main_mode.ContextId = 0;
	img_dsp_contrast_enhance ik;
	ASSERT_EQ(0, vors_img_dsp_get_contrast_enhance(&s.main_mode, &ik));
	uint8_t want[692] = {}, got[692] = {};
	cl_ce_block_to_record((const uint8_t *)&ik, want);
	want[0] = 1;
	s.channel[0].ce_block[0] = 1;
	ASSERT_EQ(0, cl_customerloop_get_ce_config(0, got));
	EXPECT_EQ(0, memcmp(want, got, sizeof want));
	// The kernel's block is the channel's copy from now on.
	EXPECT_EQ(0, memcmp(&ik, s.channel[0].ce_block, CL_CE_BLOCK_SIZE));
}

TEST_F(PrepareTest, ThreeColourCurveIsTheImageKernelsWidened)
{
	init();
	ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
	customerloop_state &s = cl_state();
	img_dsp_tone_curve tc;
	for (int i = 0; i < 256; i++) {
		tc.ToneCurveRed[i] = (uint16_t)(i * 4);
		tc.ToneCurveGreen[i] = (uint16_t)(i * 4 + 1);
		tc.ToneCurveBlue[i] = (uint16_t)(i * 4 + 2);
	}
	s.main_mode.ContextId = 0;
	ASSERT_EQ(0, vors_img_dsp_set_tone_curve(s.qvd_fd, &s.main_mode, &tc));
	std::vector<uint32_t> curve(768, 0xEEEEEEEE);
	ASSERT_EQ(0, cl_customerloop_get_tc_curve(0, curve.data()));
	for (int i = 0; i < 256; i++) {
		ASSERT_EQ((uint32_t)(i * 4), curve[i]);
		ASSERT_EQ((uint32_t)(i * 4 + 1), curve[256 + i]);
		ASSERT_EQ((uint32_t)(i * 4 + 2), curve[512 + i]);
	}
}

// An HDR row's table reaches the HDR module only for a first channel the
// combined methods serve: its identity curve linearises codes unchanged.
TEST_F(PrepareTest, HdrTableReachesTheHdrModuleForACombinedFirstChannel)
{
	const struct {
		int32_t board;
		uint32_t type, mode, kind;
		const tuning_row *row;
		uint32_t linear; // of code 4000
	} cases[] = {
	    {1031, 2, 1, 0, &cl_tuning_table[19], 4000}, // method 6
	    {1029, 0, 1, 0, &cl_tuning_table[17], 0},    // method 1: sensor HDR
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.board);
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin[0].exposures = 2;
		b.vin[0].dsp_hdr = 2;
		b.vin[0].hdr_type = c.type;
		b.vin[0].hdr_mode = c.mode;
		b.vin[0].hdr_kind = c.kind;
		ASSERT_EQ(0, simsoc_qvd_set_board(&b));
		cl_tuning_set_board(c.board);
		init();
		static const uint8_t zeros[4][256] = {};
		img_set_hdr_iq_params(zeros);
		ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
		EXPECT_EQ(c.row, cl_state().row);
		EXPECT_EQ(2u, cl_state().expo_num);
		EXPECT_EQ(c.linear, img_hdr_linearize(4000, 0));
		cl_customerloop_deinit();
	}
}

// The frame thread starts from what prepare left: the 3A configuration
// blocks the tuning filled and the statistics grids. White balance created
// from anything else starts at gains of zero, which the HDR step of a
// two-exposure channel refuses every frame.
TEST_F(PrepareTest, FrameThreadStartsFromTheTuningPrepareLeft)
{
	const struct {
		const char *name;
		uint32_t exposures, dsp_hdr;
	} cases[] = {{"linear", 1, 0}, {"two exposures", 2, 2}};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin[0].exposures = c.exposures;
		b.vin[0].dsp_hdr = c.dsp_hdr;
		b.vin[0].hdr_type = c.dsp_hdr ? 2 : 0;
		b.vin[0].hdr_mode = c.dsp_hdr ? 1 : 0;
		ASSERT_EQ(0, simsoc_qvd_set_board(&b));
		init();
		ASSERT_EQ(1, cl_customerloop_prepare_aaa()) << lines();
		const customerloop_state &s = cl_state();
		const cl_channel &ch = s.channel[0];
		const cl_frame_inputs &in = cl_frame_inputs_get();
		EXPECT_EQ(0, memcmp(in.aaa_cfg[0], img_lib_aaa_chan(0)->cfg, IMG_AAA_CFG_SIZE));
		EXPECT_EQ(0,
		          memcmp(in.aaa_cfg[0] + IMG_AAA_AWB_CFG_AT, ch.wb_table + 24, IMG_AAA_AWB_CFG_SIZE));
		EXPECT_EQ(0, memcmp(&in.ae_tile[0], &ch.ae_tile, sizeof ch.ae_tile));
		EXPECT_EQ(0, memcmp(&in.awb_tile[0], &ch.awb_tile, sizeof ch.awb_tile));
		EXPECT_EQ(0, memcmp(&in.af_tile[0], &ch.af_tile, sizeof ch.af_tile));
		// A two-exposure channel's first HDR settings are where the frames
		// take them from: the front-end gains of both exposures.
		EXPECT_EQ(c.dsp_hdr ? 4096u : 0u, in.hdr_fs[0].fe_wb[0].g_gain);
		EXPECT_EQ(c.dsp_hdr ? 4096u : 0u, in.hdr_fs[0].fe_wb[1].g_gain);

		uint32_t preset[3];
		memcpy(preset, ch.wb_table + 24, sizeof preset);
		ASSERT_NE(0u, preset[0]);
		int fd = s.qvd_fd;
		simsoc_vin_set_framerate(0, 0);
		simsoc_qvd_replay(1);
		cl_main_loop_begin(fd);
		testing::internal::CaptureStdout();
		for (int f = 0; f < 3; f++) {
			simsoc_vin_tick(0);
			EXPECT_EQ(0, cl_main_loop_frame(fd));
		}
		std::string out = testing::internal::GetCapturedStdout();
		EXPECT_EQ(std::string::npos, out.find("can't be 0")) << out;
		// The dark simulated frames have no white point: the first run takes
		// the tuning's preset of mode 0.
		EXPECT_EQ(preset[0], s.channel[0].aaa.wb_r_gain);
		EXPECT_EQ(1024u, s.channel[0].aaa.wb_g_gain);
		EXPECT_EQ(preset[2], s.channel[0].aaa.wb_b_gain);
		cl_main_loop_end(fd);
		simsoc_qvd_replay(0);
		cl_customerloop_deinit();
	}
}

} // namespace
