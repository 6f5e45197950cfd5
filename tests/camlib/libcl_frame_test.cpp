/* The camera library's frame thread: its frame body stepped by hand on the
 * simulated SoC (a ready frame handed over again at every fetch) with a
 * recording image kernel, and the thread itself driven by the video's start
 * and stop. */
#include "awb.h"
#include "cl_customerloop.h"
#include "cl_main_loop.h"
#include "hal_vin.h"
#include "ik_recorder.h"
#include "img_adj_settings.h"
#include "img_channel.h"
#include "libcl_fixture.h"

#include <sys/ioctl.h>

#include <cstdio>
#include <fstream>

namespace
{

class FrameLoop : public LibclTest
{
      protected:
	void SetUp() override
	{
		LibclTest::SetUp();
		stop_ticker();
		ikrec::reset();
		reset_settings();
	}
	void TearDown() override
	{
		if (begun_)
			cl_main_loop_end(fd());
		simsoc_qvd_replay(0);
		LibclTest::TearDown();
		for (const std::string &p : files_)
			remove(p.c_str());
	}
	// The customer loop keeps its settings for the process: each test
	// starts from none.
	static void reset_settings()
	{
		customerloop_state &s = cl_state();
		for (cl_channel &ch : s.channel)
			ch = cl_channel();
		s.expo_num = 1;
		s.user_wb_flow = 0;
		memset(s.user_wb, 0, sizeof s.user_wb);
		s.global_dgain = 0;
		s.global_dgain_pending = 0;
	}
	static int fd()
	{
		return cl_state().qvd_fd;
	}
	// The library up on a board of n copies of the default VIN, each
	// channel described as the driver has it, white balance told the
	// channels, and a frame ready to be fetched again and again.
	void up(unsigned n = 1, char **lens_paths = nullptr)
	{
		simsoc_qvd_board b;
		simsoc_qvd_default_board_vins(&b, n);
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
		ASSERT_EQ(libcl_init(1024, (int32_t)n, nullptr, lens_paths), 1);
		customerloop_state &s = cl_state();
		qvd_system_resource res{};
		res.query = QVD_RESOURCE_GENERIC;
		ASSERT_EQ(ioctl(fd(), QVD_IOC_GET_SYSTEM_RESOURCE, &res), 0);
		channel_info info[IMG_MAX_CHANNELS] = {};
		img_channel_vin vin[IMG_MAX_CHANNELS];
		ASSERT_EQ(img_fill_channel_info(fd(), &res, info, vin), 0);
		for (unsigned c = 0; c < n; c++)
			s.channel[c].info = info[c];
		ASSERT_EQ(hal_init_channel_vsrc_mapping(fd()), 0);
		ASSERT_EQ(awb_set_instance_count((int)n), 0);
		ASSERT_EQ(awb_set_channel_info(info), 0);
		simsoc_qvd_replay(1);
		simsoc_vin_tick(0);
	}
	void begin()
	{
		cl_main_loop_begin(fd());
		begun_ = true;
	}
	static void frames(int n)
	{
		for (int i = 0; i < n; i++)
			ASSERT_EQ(cl_main_loop_frame(fd()), 0);
	}
	static std::vector<ikrec::Call> calls(const std::string &name)
	{
		std::vector<ikrec::Call> out;
		for (const ikrec::Call &c : ikrec::calls())
			if (c.name == name)
				out.push_back(c);
		return out;
	}
	static std::vector<img_dsp_wb_gain> wb_calls()
	{
		std::vector<img_dsp_wb_gain> out;
		for (const ikrec::Call &c : calls("vors_img_dsp_set_wb_gain"))
			out.push_back(c.as<img_dsp_wb_gain>());
		return out;
	}
	std::string write_file(const std::string &name, const std::vector<uint8_t> &bytes)
	{
		std::string path = testing::TempDir() + name;
		std::ofstream(path, std::ios::binary)
		    .write((const char *)bytes.data(), (std::streamsize)bytes.size());
		files_.push_back(path);
		return path;
	}
	bool begun_ = false;
	std::vector<std::string> files_;
};

bool operator==(const img_dsp_wb_gain &a, const img_dsp_wb_gain &b)
{
	return memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(FrameLoop, EachFrameFetchesOnceAndAppliesEveryVin)
{
	struct {
		unsigned vins;
		uint32_t mask;
	} cases[] = {{1, 0x1}, {4, 0xf}};
	for (const auto &tc : cases) {
		SCOPED_TRACE(tc.vins);
		up(tc.vins);
		begin();
		uint64_t fetched = simsoc_qvd_request_count(QVD_IOC_IMG_GET_STATISTICS);
		uint64_t applied = simsoc_qvd_request_count(QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG);
		frames(3);
		EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_IMG_GET_STATISTICS) - fetched, 3u);
		EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG) - applied, 3u);
		qvd_apply_pending rec{};
		ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &rec, sizeof rec),
		          sizeof rec);
		EXPECT_EQ(rec.cmd, 3u);
		EXPECT_EQ(rec.vin_mask, tc.mask);
		EXPECT_EQ(cl_main_loop_frame_count(), 3u);
		// The sensor records hold no initial exposure: none is sent.
		EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ), 0u);
		cl_main_loop_end(fd());
		begun_ = false;
		libcl_deinit();
	}
}

// A sensor record with an exposure has it sent as the first sequence: a
// linear channel its first shutter and gain with no sequence length, an HDR
// one four of each byte by byte and its length.
TEST_F(FrameLoop, InitialExposureSequences)
{
	up(2);
	customerloop_state &s = cl_state();
	s.channel[1].info.dsp_hdr = 1;
	cl_frame_inputs &in = cl_frame_inputs_get();
	memset(in.aaa_cfg, 0, sizeof in.aaa_cfg);
	uint8_t *linear = in.aaa_cfg[0] + IMG_AAA_SENSOR_AT, *hdr = in.aaa_cfg[1] + IMG_AAA_SENSOR_AT;
	const uint32_t shutter = 1000, agc = 50;
	memcpy(linear + 12, &shutter, 4);
	memcpy(linear + 16, &agc, 4);
	const uint8_t hdr_bytes[13] = {40, 30, 20, 10, 5, 6, 7, 8, 0, 0, 0, 0, 3};
	memcpy(hdr + 20, hdr_bytes, sizeof hdr_bytes);
	begin();
	memset(in.aaa_cfg, 0, sizeof in.aaa_cfg);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ), 2u);
	qvd_vin_sht_agc_seq seq{};
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ, &seq, sizeof seq), sizeof seq);
	EXPECT_EQ(seq.source_id, 1);
	EXPECT_EQ(std::vector<uint32_t>(seq.shutter, seq.shutter + 4),
	          (std::vector<uint32_t>{40, 30, 20, 10}));
	EXPECT_EQ(std::vector<uint32_t>(seq.agc, seq.agc + 4), (std::vector<uint32_t>{5, 6, 7, 8}));
	EXPECT_EQ(std::vector<uint32_t>(seq.dgain, seq.dgain + 4), (std::vector<uint32_t>{5, 6, 7, 8}));
	qvd_apply_seq counts{};
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI, &counts, sizeof counts),
	          sizeof counts);
	EXPECT_EQ(std::vector<uint32_t>(counts.count, counts.count + 4), (std::vector<uint32_t>{0, 3, 0, 0}));
}

// The statistics block carries every AF tile of the parsed frame, byte for
// byte in the parser's row-by-row order, so a focus window over several
// tiles sums measured values; the gap up to the grid words stays the
// caller's.
TEST_F(FrameLoop, StatisticsCarryTheWholeAfGrid)
{
	up();
	begin();
	frames(1);
	static libcl_stats st;
	memset(&st, 0xAA, sizeof st);
	ASSERT_EQ(cl_customerloop_get_stats(0, &st), 0);
	const aaa_parse_result &p = cl_state().parsed.chan[0];
	const uint8_t *block = (const uint8_t *)&st;
	const uint8_t *tiles = (const uint8_t *)p.set.cfa_af;
	for (size_t i = 0; i < 6 * 96; i++)
		ASSERT_EQ(block[5120 + i], tiles[i]) << "byte " << 5120 + i;
	for (size_t i = 5120 + 6 * 96; i < 6672; i++)
		ASSERT_EQ(block[i], 0xAA) << "byte " << i;
	int measured = 0;
	for (const aaa_af_tile &t : p.set.cfa_af)
		measured += t.sum != 0;
	EXPECT_GT(measured, 1);
}

TEST_F(FrameLoop, RefusedInitialExposureGoesStraightToTheFrames)
{
	up();
	cl_frame_inputs &in = cl_frame_inputs_get();
	const uint32_t shutter = 1000;
	memcpy(in.aaa_cfg[0] + IMG_AAA_SENSOR_AT + 12, &shutter, 4);
	simsoc_qvd_fail(QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ, EIO, 1);
	testing::internal::CaptureStderr();
	begin();
	memset(in.aaa_cfg, 0, sizeof in.aaa_cfg);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
	          "QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ error: Input/output error\n");
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI), 0u);
	frames(1);
}

// Every channel served gets its initial speed, 190 under HDR method 4.
TEST_F(FrameLoop, InitialWhiteBalanceSpeedForEveryChannel)
{
	up(4);
	cl_state().channel[2].info.hdr_method = 4;
	begin();
	frames(1);
	const uint32_t expected[4] = {164, 164, 190, 164};
	for (int c = 0; c < 4; c++) {
		ASSERT_NE(awb_get_instance(c), nullptr);
		EXPECT_EQ(awb_get_instance(c)->data->speed, expected[c]) << c;
	}
}

TEST_F(FrameLoop, FailedFetchSkipsTheFrame)
{
	up();
	begin();
	simsoc_qvd_fail(QVD_IOC_IMG_GET_STATISTICS, EIO, 1);
	testing::internal::CaptureStdout();
	EXPECT_EQ(cl_main_loop_frame(fd()), -1);
	EXPECT_NE(testing::internal::GetCapturedStdout().find("vors_img_dsp_3a_get_aaa_stat fail\n"),
	          std::string::npos);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG), 0u);
	EXPECT_EQ(cl_main_loop_frame_count(), 0u);
	frames(1);
	EXPECT_EQ(cl_main_loop_frame_count(), 1u);
}

// With white balance held, channel 0's gains are applied only when the
// frame rule raises its update flag: frame 0 and every 60th. A user flow
// still puts the user's gains in then; without one nothing is applied.
TEST_F(FrameLoop, HeldWhiteBalanceTakesTheUserGainsEverySixtiethFrame)
{
	up();
	customerloop_state &s = cl_state();
	s.channel[0].aaa_state[1] = 1;
	s.user_wb_flow = 1;
	const uint32_t first[3] = {1000, 1024, 1100}, second[3] = {900, 1024, 1300};
	memcpy(s.user_wb, first, sizeof first);
	begin();
	frames(1);
	ASSERT_EQ(wb_calls().size(), 1u);
	EXPECT_TRUE(wb_calls()[0] == (img_dsp_wb_gain{4000, 4096, 4400, 4096, 4096}));
	ASSERT_EQ(cl_customerloop_set_wb_gains(0, second), 0);
	frames(59);
	EXPECT_EQ(wb_calls().size(), 1u);
	frames(1);
	ASSERT_EQ(wb_calls().size(), 2u);
	EXPECT_TRUE(wb_calls()[1] == (img_dsp_wb_gain{3600, 4096, 5200, 4096, 4096}));
	ASSERT_EQ(cl_customerloop_set_awb_flow(0, 0), 0);
	frames(60);
	EXPECT_EQ(wb_calls().size(), 2u);
}

// The three forms of applying the gains {1000, 1024, 1200}: linear to the
// image kernel, the sensor's ratio for sensor-side HDR methods, and the
// HDR module's gains for DSP-combined channels.
TEST_F(FrameLoop, WhiteBalanceForms)
{
	struct {
		const char *name;
		uint32_t method, dsp_hdr;
		img_dsp_wb_gain wb;
		uint32_t ratio[3];
		uint32_t cfa_gain;
	} cases[] = {
	    {"linear", 0, 0, {4000, 4096, 4800, 4096, 4096}, {1024, 1024, 1024}, 4096},
	    {"sensor", 3, 0, {4096, 4096, 4096, 4096, 4096}, {1000, 1024, 1200}, 4096},
	    {"hdr method 4", 4, 0, {4096, 4096, 4096, 8192, 2048}, {1000, 1024, 1200}, 4096},
	    {"dsp hdr", 1, 1, {4000, 4096, 4800, 8192, 2048}, {1024, 1024, 1024}, 4096},
	};
	for (const auto &tc : cases) {
		SCOPED_TRACE(tc.name);
		ikrec::reset();
		reset_settings();
		up();
		customerloop_state &s = cl_state();
		s.channel[0].info.hdr_method = tc.method;
		s.channel[0].info.dsp_hdr = tc.dsp_hdr;
		s.channel[0].aaa_state[1] = 1;
		s.user_wb_flow = 1;
		const uint32_t gains[3] = {1000, 1024, 1200};
		memcpy(s.user_wb, gains, sizeof gains);
		img_hdr_frame_settings &fs = cl_frame_inputs_get().hdr_fs[0];
		fs = img_hdr_frame_settings{};
		fs.gains_changed = 1;
		const uint32_t hdr_gains[5] = {4000, 4096, 4800, 8192, 2048};
		memcpy(fs.wb_gain, hdr_gains, sizeof hdr_gains);
		begin();
		frames(1);
		ASSERT_EQ(wb_calls().size(), 1u);
		EXPECT_TRUE(wb_calls()[0] == tc.wb);
		simsoc_qvd_sensor_state st;
		ASSERT_EQ(simsoc_qvd_sensor(0, 0, &st), 0);
		EXPECT_EQ(st.ratio[0], tc.ratio[0]);
		EXPECT_EQ(st.ratio[1], tc.ratio[1]);
		EXPECT_EQ(st.ratio[3], tc.ratio[2]);
		EXPECT_EQ(parse_aaa_get_cfa_gain(0), tc.cfa_gain);
		cl_main_loop_end(fd());
		begun_ = false;
		libcl_deinit();
		simsoc_qvd_reset();
	}
}

TEST_F(FrameLoop, ChangedExposuresSendOneRequest)
{
	up();
	begin();
	const uint32_t sg[7] = {1200, 0, 100, 0, 0, 4096, 0};
	ASSERT_EQ(cl_customerloop_set_shutter_and_gain(0, sg), 0);
	frames(1);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC), 1u);
	frames(1);
	ASSERT_EQ(cl_customerloop_set_shutter_and_gain(0, sg), 0);
	frames(1);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC), 1u);
	simsoc_qvd_sensor_state st;
	ASSERT_EQ(simsoc_qvd_sensor(0, 0, &st), 0);
	EXPECT_EQ(st.pending_shutter[0] + st.shutter[0], 1200u);
}

TEST_F(FrameLoop, ToneCurveThenContrastEnhancementInOneFrame)
{
	up();
	begin();
	uint16_t curve[256];
	for (int i = 0; i < 256; i++)
		curve[i] = (uint16_t)(4 * i);
	uint8_t ce[692] = {};
	ce[0] = 1;   // enable
	ce[4] = 3;   // low-pass radius
	ce[172] = 9; // first output-curve byte
	ASSERT_EQ(cl_customerloop_set_tone_curve(0, curve), 0);
	ASSERT_EQ(cl_customerloop_set_ce_config(0, ce), 0);
	frames(1);
	std::vector<std::string> order;
	for (const std::string &n : ikrec::names())
		if (n == "vors_img_dsp_set_tone_curve" || n == "vors_img_dsp_set_contrast_enhance")
			order.push_back(n);
	EXPECT_EQ(order, (std::vector<std::string>{"vors_img_dsp_set_tone_curve",
	                                           "vors_img_dsp_set_contrast_enhance"}));
	img_dsp_tone_curve tc = calls("vors_img_dsp_set_tone_curve")[0].as<img_dsp_tone_curve>();
	EXPECT_EQ(tc.ToneCurveBlue[255], 1020);
	img_dsp_contrast_enhance sent =
	    calls("vors_img_dsp_set_contrast_enhance")[0].as<img_dsp_contrast_enhance>();
	EXPECT_EQ(sent.enable, 1);
	EXPECT_EQ(sent.low_pass_radius, 3);
	frames(1);
	EXPECT_EQ(calls("vors_img_dsp_set_tone_curve").size(), 1u);
	EXPECT_EQ(calls("vors_img_dsp_set_contrast_enhance").size(), 1u);
}

TEST_F(FrameLoop, ChromaScaleWaitsForBlackAndWhiteOff)
{
	up();
	begin();
	uint32_t chroma[129] = {1};
	for (int i = 0; i < 128; i++)
		chroma[1 + i] = (uint32_t)(64 + i);
	ASSERT_EQ(cl_customerloop_set_bw_mode(0, 1), 0);
	ASSERT_EQ(cl_customerloop_set_chroma_scale(0, chroma), 0);
	frames(2);
	EXPECT_EQ(calls("vors_img_dsp_set_chroma_scale").size(), 0u);
	EXPECT_EQ(img_adj_channel_settings(0)->bw_mode, 1);
	ASSERT_EQ(cl_customerloop_set_bw_mode(0, 0), 0);
	frames(1);
	auto sent = calls("vors_img_dsp_set_chroma_scale");
	ASSERT_EQ(sent.size(), 1u);
	img_dsp_chroma_scale cs = sent[0].as<img_dsp_chroma_scale>();
	EXPECT_EQ(cs.Enb, 1);
	EXPECT_EQ(cs.GainCurve[0], 64);
	EXPECT_EQ(cs.GainCurve[127], 191);
	frames(1);
	EXPECT_EQ(calls("vors_img_dsp_set_chroma_scale").size(), 1u);
}

TEST_F(FrameLoop, SharpnessCoringIsHeldOnceRequested)
{
	up();
	begin();
	const std::string set = "vors_img_dsp_set_final_sharpen_noise_sharpen_coring";
	ikrec::sharpen_coring().coring_mul_fractional_bits = 7;
	frames(1);
	// Never requested: the tuning's value stays.
	EXPECT_EQ(calls(set).size(), 0u);
	ASSERT_EQ(cl_customerloop_set_sharpness_coring(0, 5), 0);
	frames(1);
	ASSERT_EQ(calls(set).size(), 1u);
	EXPECT_EQ(ikrec::sharpen_coring().coring_mul_fractional_bits, 5);
	frames(1); // equal and not requested: not written
	EXPECT_EQ(calls(set).size(), 1u);
	ikrec::sharpen_coring().coring_mul_fractional_bits = 9; // a filter rewrote it
	frames(1);
	EXPECT_EQ(calls(set).size(), 2u);
	EXPECT_EQ(ikrec::sharpen_coring().coring_mul_fractional_bits, 5);
	ASSERT_EQ(cl_customerloop_set_sharpness_coring(0, 5), 0);
	frames(1); // equal but requested: written
	EXPECT_EQ(calls(set).size(), 3u);
}

TEST_F(FrameLoop, LevelsReachTheFilterPipelineAndTheirFlagsClear)
{
	up();
	begin();
	ASSERT_EQ(cl_customerloop_set_brightness(0, 3), 0);
	ASSERT_EQ(cl_customerloop_set_saturation(0, 70), 0);
	frames(1);
	EXPECT_EQ(img_adj_channel_settings(0)->brightness, 3);
	EXPECT_EQ(img_adj_channel_settings(0)->saturation, 70u);
	EXPECT_EQ(cl_state().channel[0].brightness_pending, 0);
	EXPECT_EQ(cl_state().channel[0].saturation_pending, 0);
	// A level the pipeline refuses is logged once and not retried.
	ASSERT_EQ(cl_customerloop_set_sharpness_level(0, 99), 0);
	frames(2);
	EXPECT_EQ(logged("ERROR: cl_apply_filters: Failed to set sharpness_level values!\n\n", LOG_ERR), 1);
}

TEST_F(FrameLoop, BlackLevelTakesTheLinearOrHdrForm)
{
	up();
	begin();
	customerloop_state &s = cl_state();
	uint32_t record[17] = {};
	for (int i = 0; i < 4; i++)
		record[1 + i] = record[9 + i] = (uint32_t)(200 + i);
	ASSERT_EQ(cl_customerloop_set_black_level(0, record), 0);
	frames(2);
	auto linear = calls("vors_img_dsp_set_static_black_level");
	ASSERT_EQ(linear.size(), 1u);
	EXPECT_EQ(linear[0].as<img_dsp_static_black_level>().BlackB, 203);
	EXPECT_EQ(calls("vors_img_dsp_set_hdr_static_black_level").size(), 0u);
	s.expo_num = 3;
	ASSERT_EQ(cl_customerloop_set_black_level(0, record), 0);
	frames(2);
	auto hdr = calls("vors_img_dsp_set_hdr_static_black_level");
	ASSERT_EQ(hdr.size(), 2u);
	EXPECT_EQ(hdr[0].index, 0);
	EXPECT_EQ(hdr[1].index, 1);
	EXPECT_EQ(hdr[1].as<img_dsp_static_black_level>().BlackR, 200);
}

TEST_F(FrameLoop, HdrAlphaTableAndCustomLumaCalculation)
{
	up();
	begin();
	customerloop_state &s = cl_state();
	s.expo_num = 3;
	uint32_t record[130] = {};
	for (int i = 0; i < 128; i++)
		record[2 + i] = (uint32_t)i;
	ASSERT_EQ(cl_customerloop_set_hdr_alpha_table(0, record), 0);
	ASSERT_EQ(cl_customerloop_set_custom_hdr_luma_calc(0), 0);
	frames(2);
	auto alpha = calls("vors_img_dsp_set_hdr_alpha_calc_alpha");
	ASSERT_EQ(alpha.size(), 2u);
	img_dsp_hdr_alpha_calc_alpha a = alpha[1].as<img_dsp_hdr_alpha_calc_alpha>();
	EXPECT_EQ(a.pre_alpha_mode, 0);
	EXPECT_EQ(a.saturation_num_nei, 4);
	EXPECT_EQ(alpha[1].index, 1);
	EXPECT_EQ(alpha[1].table[127], 127);
	auto cfg = calls("vors_img_dsp_set_hdr_alpha_calc_cfg");
	ASSERT_EQ(cfg.size(), 1u);
	EXPECT_EQ(cfg[0].block, (std::vector<uint8_t>{0x00, 0x01, 0xfe, 0x00, 0x04, 0x04, 0x04, 0x04}));
	EXPECT_EQ(cfg[0].index, 0);
}

TEST_F(FrameLoop, LensShadingFiles)
{
	std::vector<uint8_t> table(8712);
	for (size_t i = 0; i < table.size(); i++)
		table[i] = (uint8_t)(i / 2178 + 1);
	std::vector<uint8_t> good = table;
	good.push_back(6); // gain shift
	std::string good_path = write_file("lens_good.bin", good);
	std::string short_path = write_file("lens_short.bin", std::vector<uint8_t>(100));
	std::string no_shift_path = write_file("lens_no_shift.bin", table);
	std::string missing_path = testing::TempDir() + "lens_missing.bin";
	char *paths[] = {(char *)good_path.c_str(), (char *)short_path.c_str(), (char *)no_shift_path.c_str(),
	                 (char *)missing_path.c_str(), nullptr};
	up(4, paths);
	EXPECT_EQ(cl_apply_lens_shading(), 0);
	auto sent = calls("vors_img_dsp_set_vignette_compensation_bypass");
	ASSERT_EQ(sent.size(), 1u);
	EXPECT_EQ(sent[0].mode.ContextId, 0);
	img_dsp_vignette_bypass v = sent[0].as<img_dsp_vignette_bypass>();
	EXPECT_EQ(v.enable, 1);
	EXPECT_EQ(v.gain_shift, 6);
	EXPECT_EQ((uint8_t *)v.p_green_even_gain - (uint8_t *)v.p_red_gain, 2178);
	EXPECT_EQ((uint8_t *)v.p_green_odd_gain - (uint8_t *)v.p_red_gain, 2 * 2178);
	EXPECT_EQ((uint8_t *)v.p_blue_gain - (uint8_t *)v.p_red_gain, 3 * 2178);
	EXPECT_EQ(sent[0].table, table);
	EXPECT_EQ(logged("ERROR: cl_apply_lens_shading: Failed to read lens_shading from " + short_path +
	                     ": got 100 bytes, expected 8712\n\n",
	                 LOG_ERR),
	          1);
	EXPECT_EQ(logged("ERROR: cl_apply_lens_shading: Failed to gain shift from " + no_shift_path +
	                     ": got 0 bytes, expected 1\n\n",
	                 LOG_ERR),
	          1);
	EXPECT_EQ(logged("ERROR: cl_apply_lens_shading: Failed to open " + missing_path +
	                     ": No such file or directory\n\n",
	                 LOG_ERR),
	          1);
}

TEST(RatioToGain, InterpolatesTheChannelsTable)
{
	uint8_t table[536] = {};
	const uint32_t on = 1;
	memcpy(table + 4, &on, 4);
	memcpy(table + 8, &on, 4);
	for (uint32_t k = 0; k < 128; k++) {
		uint32_t g = 1000 + 100 * k;
		memcpy(table + 24 + 4 * k, &g, 4);
	}
	const struct {
		uint32_t ratio, gain;
	} cases[] = {{16, 1000},    {24, 1050},    {32, 1100}, {2047, 13693},
	             {2048, 13700}, {5000, 13700}, {8, 950},   {0, 900}};
	for (const auto &tc : cases) {
		uint32_t gain = 0;
		EXPECT_EQ(cl_ratio_to_gain(table, tc.ratio, &gain, 0), 0) << tc.ratio;
		EXPECT_EQ(gain, tc.gain) << tc.ratio;
	}
	memset(table + 8, 0, 4);
	uint32_t gain = 7;
	testing::internal::CaptureStdout();
	EXPECT_EQ(cl_ratio_to_gain(table, 32, &gain, 2), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
	          "error: chan [2] ratio to gain convert table is not supported\n");
	EXPECT_EQ(gain, 7u);
}

// ---------------------------------------------------------------------------
// The thread itself, started and stopped by the video.
// ---------------------------------------------------------------------------
class FrameThread : public LibclTest
{
};

TEST_F(FrameThread, StopStartCyclesAndDeinitEndTheThreads)
{
	init_library();
	std::atomic<bool> done{false};
	// Settings and statistics from another thread all along.
	std::thread caller([&] {
		libcl_stats st;
		uint32_t aaa[4] = {};
		while (!done) {
			(void)libcl_get_stats(0, &st, 0);
			(void)cl_customerloop_set_brightness(0, 1);
			(void)cl_customerloop_set_aaa_state(0, aaa);
		}
	});
	for (int round = 0; round < 3; round++) {
		SCOPED_TRACE(round);
		ASSERT_EQ(simsoc_video_start(0), 0);
		ASSERT_EQ(started(), 1u);
		EXPECT_TRUE(eventually([] { return cl_main_loop_frame_count() >= 3; }));
		ASSERT_EQ(simsoc_video_stop(0), 0);
		EXPECT_EQ(started(), 0u);
		EXPECT_FALSE(cl_state().main_thread_running);
	}
	ASSERT_EQ(simsoc_video_start(0), 0);
	EXPECT_TRUE(eventually([] { return cl_main_loop_frame_count() >= 3; }));
	libcl_deinit();
	EXPECT_FALSE(cl_state().main_thread_running);
	done = true;
	caller.join();
	EXPECT_EQ(logged("ERROR: failed to stop aaa\n"), 0);
	EXPECT_EQ(simsoc_open_files(), 0);
}

// The frame thread waits for the DSP without the statistics mutex, so a
// reader is not held for the frame.
TEST_F(FrameThread, ReaderDoesNotWaitForTheFetch)
{
	start_library();
	stop_ticker();
	ASSERT_TRUE(eventually([] { return simsoc_qvd_stat_waiting() > 0; }));
	std::atomic<bool> read{false};
	std::thread reader([&] {
		libcl_stats st;
		EXPECT_EQ(libcl_get_stats(0, &st, 0), 0);
		read = true;
	});
	bool prompt = eventually([&] { return read.load(); });
	start_ticker(); // frees a reader stuck behind the fetch
	reader.join();
	EXPECT_TRUE(prompt);
}

} // namespace
