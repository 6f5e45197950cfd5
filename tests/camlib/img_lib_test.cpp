/* The 3A library's bring-up on the simulated video driver: the working
 * memory from buffer 8, the architecture, the InitMode rule, the refusals,
 * the configuration record and the configuration entries. */
#include "ae.h"
#include "af.h"
#include "awb.h"
#include "ik_arch.h"
#include "img_adj_filter.h"
#include "img_dsp.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

class ImgLib : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_clear_failures();
		ASSERT_EQ(simsoc_qvd_set_imgproc_size(32ull << 20), 0);
		fd_ = open(QVD_DEVICE, O_RDWR);
		ASSERT_GE(fd_, 0);
		ASSERT_EQ(img_lib_set_cfg_num(0), 0);
		ASSERT_EQ(img_set_vin_chan_num(2), 0);
	}
	void TearDown() override
	{
		img_lib_deinit(nullptr);
		close(fd_);
		simsoc_qvd_reset();
		simsoc_clear_failures();
	}
	void set_board(uint32_t state, uint16_t answer)
	{
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.dsp_state = state;
		b.system_info_answer = answer;
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	}
	uint64_t buffer8_phys()
	{
		qvd_imgproc_map m{QVD_IMGPROC_BUF_IK, 0, 0, 0};
		EXPECT_EQ(ioctl(fd_, QVD_IOC_MAP_IMGPROC, &m), 0);
		return m.addr;
	}
	// The memory is unmapped when buffer 8 can be resized again.
	bool unmapped()
	{
		return simsoc_qvd_set_imgproc_size(32ull << 20) == 0;
	}
	int fd_ = -1;
};

TEST_F(ImgLib, TwoChannelsLayOutTheirContextsAndConfigurationsInBuffer8)
{
	uint8_t defblc = 0;
	ASSERT_EQ(img_lib_init(fd_, &defblc), 0);
	img_dsp_pipe_info pipe;
	ASSERT_EQ(img_dsp_core_utility_get_pipe_info(IMG_DSP_PIPE_VIDEO, &pipe), 0);
	EXPECT_EQ(pipe.CtxNum, 2);
	EXPECT_EQ(pipe.CfgNum, 18);
	EXPECT_EQ(pipe.HdrCfgNum, 18);
	EXPECT_EQ(simsoc_mem_phys((void *)(uintptr_t)ik_mem_base()), buffer8_phys());
	EXPECT_EQ(ik_mem_get_bases().phys, buffer8_phys());
	for (uint8_t id : {0, 17}) {
		img_dsp_cfg_id cfg{IMG_DSP_PIPE_VIDEO, id, {}};
		img_dsp_cfg_status st;
		ASSERT_EQ(vors_img_dsp_get_cfg_status(&cfg, &st), 0) << (int)id;
		EXPECT_EQ(st.state, DSP_IMG_CORE_CFG_STATE_INIT);
	}
	img_dsp_mode mode{};
	mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	mode.ContextId = 1;
	img_dsp_wb_gain gains;
	EXPECT_EQ(vors_img_dsp_get_wb_gain(&mode, &gains), 0);
	EXPECT_FALSE(unmapped());
	EXPECT_EQ(img_lib_deinit(nullptr), 0);
	EXPECT_TRUE(unmapped());
}

TEST_F(ImgLib, InitModeFollowsTheSystemInformationThenTheDriverState)
{
	const std::string info_err =
	    "query system info failed. use normal boot by default\n: Input/output error\n";
	struct {
		uint32_t state;
		uint16_t answer;
		bool info_fails, state_fails;
		uint8_t mode;
		std::string err;
	} cases[] = {
	    {0, 1, false, false, IMG_DSP_INIT_MODE_NORMAL_VIDEO, ""},
	    {2, 1, false, false, IMG_DSP_INIT_MODE_NORMAL_VIDEO, ""},
	    {2, 1, true, false, IMG_DSP_INIT_MODE_KEEP, info_err},
	    {1, 0, false, false, IMG_DSP_INIT_MODE_KEEP, ""},
	    {2, 0, false, false, IMG_DSP_INIT_MODE_KEEP, ""},
	    {0, 0, false, false, IMG_DSP_INIT_MODE_NORMAL, ""},
	    {2, 0, false, true, IMG_DSP_INIT_MODE_NORMAL, ""},
	    {3, 0, true, false, IMG_DSP_INIT_MODE_NORMAL, info_err},
	};
	for (const auto &c : cases) {
		set_board(c.state, c.answer);
		if (c.info_fails)
			simsoc_qvd_fail(QVD_IOC_QUERY_SYSTEM_INFO, EIO, 1);
		if (c.state_fails)
			simsoc_qvd_fail(QVD_IOC_GET_QVD_STATE, EIO, 1);
		CaptureStderr();
		int rc = img_lib_init(fd_, nullptr);
		std::string err = GetCapturedStderr();
		ASSERT_EQ(rc, 0);
		EXPECT_EQ(img_dsp_core_utility_get_init_mode(), c.mode) << c.state << " " << c.answer;
		EXPECT_EQ(err, c.err);
		img_lib_deinit(nullptr);
	}
}

TEST_F(ImgLib, KeepModeFindsTheContentsAtTheSamePhysicalAddress)
{
	ASSERT_EQ(img_lib_init(fd_, nullptr), 0);
	uint64_t phys = ik_mem_get_bases().phys;
	img_dsp_mode mode{};
	mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	mode.BatchId = IMG_DSP_BATCH_NONE;
	mode.ContextId = 1;
	img_dsp_wb_gain set = {5000, 4096, 7000, 4096, 4096};
	ASSERT_GE(vors_img_dsp_set_wb_gain(fd_, &mode, &set), 0);
	ASSERT_EQ(img_lib_deinit(nullptr), 0);

	set_board(QVD_STATE_RUNNING, 0);
	ASSERT_EQ(img_lib_init(fd_, nullptr), 0);
	EXPECT_EQ(img_dsp_core_utility_get_init_mode(), IMG_DSP_INIT_MODE_KEEP);
	EXPECT_EQ(ik_mem_get_bases().phys, phys);
	img_dsp_wb_gain got = {};
	ASSERT_EQ(vors_img_dsp_get_wb_gain(&mode, &got), 0);
	EXPECT_EQ(memcmp(&got, &set, sizeof got), 0);
	ASSERT_EQ(img_lib_deinit(nullptr), 0);

	set_board(QVD_STATE_IDLE, 0);
	ASSERT_EQ(img_lib_init(fd_, nullptr), 0);
	ASSERT_EQ(vors_img_dsp_get_wb_gain(&mode, &got), 0);
	EXPECT_EQ(got.GainR, 4096u);
}

TEST_F(ImgLib, RefusalsPrintAndLeaveNothingMapped)
{
	ASSERT_EQ(simsoc_qvd_set_imgproc_size(8282559), 0);
	CaptureStdout();
	EXPECT_EQ(img_lib_init(fd_, nullptr), -1);
	std::string out = GetCapturedStdout();
	EXPECT_NE(out.find("mem size 8282559 too small,required 8282560,ik_cfg_num 9\n"), std::string::npos)
	    << out;
	EXPECT_TRUE(unmapped());

	ASSERT_EQ(simsoc_qvd_set_imgproc_size(8282560), 0);
	EXPECT_EQ(img_lib_init(fd_, nullptr), 0);
	img_lib_deinit(nullptr);
	EXPECT_TRUE(unmapped());

	simsoc_qvd_fail(QVD_IOC_MAP_IMGPROC, ENOMEM, 1);
	CaptureStderr();
	EXPECT_EQ(img_lib_init(fd_, nullptr), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_MAP_IMGPROC: Cannot allocate memory\n");

	simsoc_inject_failure(QVD_DEVICE, SIMSOC_OP_MMAP, ENOMEM, 1);
	CaptureStderr();
	EXPECT_EQ(img_lib_init(fd_, nullptr), -1);
	EXPECT_EQ(GetCapturedStderr(), "mmap failed\n: Cannot allocate memory\n");
	EXPECT_TRUE(unmapped());

	// Two channels of 200 configurations do not fit the 8-bit counts.
	ASSERT_EQ(img_lib_set_cfg_num(191), 0);
	CaptureStdout();
	EXPECT_EQ(img_lib_init(fd_, nullptr), -1);
	EXPECT_NE(GetCapturedStdout().find("exceed the architecture"), std::string::npos);
	EXPECT_TRUE(unmapped());
}

TEST_F(ImgLib, ConfigurationRecordByteForByte)
{
	ASSERT_EQ(img_set_vin_chan_num(1), 0);
	uint8_t want[92] = {};
	want[0] = 1;
	want[8] = 1;
	want[20] = 17;
	want[21] = 17;
	want[22] = 22;
	memcpy(want + 23, " zk9 image algo", 15);
	want[88] = want[89] = 9;
	EXPECT_EQ(memcmp(img_lib_get_config(), want, sizeof want), 0);
	uint8_t info[IMG_LIB_INFO_SIZE];
	img_lib_get_info(info);
	EXPECT_EQ(memcmp(info, want + 8, sizeof info), 0);
	img_lib_get_info(nullptr);

	ASSERT_EQ(img_lib_set_cfg_num(2), 0);
	const uint8_t *rec = (const uint8_t *)img_lib_get_config();
	EXPECT_EQ(rec[88], 11);
	EXPECT_EQ(rec[89], 11);
	EXPECT_EQ(img_lib_get_cfg_num(), 11);
	CaptureStdout();
	EXPECT_EQ(img_lib_set_cfg_num(247), -1);
	EXPECT_EQ(img_lib_set_cfg_num(-1), -1);
	GetCapturedStdout();
	EXPECT_EQ(img_lib_get_cfg_num(), 11);
}

TEST_F(ImgLib, ChannelCountReachesEveryModule)
{
	struct {
		int n, rc;
		std::string out;
	} cases[] = {
	    {0, -1, "Error:vin_channel_num =0\n"},
	    {-3, -1, "Error:vin_channel_num =-3\n"},
	    {5, -1, "Error:vin_channel_num =5\n"},
	    {3, 0, ""},
	};
	for (const auto &c : cases) {
		CaptureStdout();
		EXPECT_EQ(img_set_vin_chan_num(c.n), c.rc);
		EXPECT_EQ(GetCapturedStdout(), c.out);
	}
	EXPECT_EQ(img_get_vin_chan_num(), 3);
	EXPECT_EQ(ae_get_instance_num(), 3);
	EXPECT_EQ(awb_get_instance_count(), 3);
	EXPECT_EQ(af_get_instance_num(), 3);
	EXPECT_EQ(img_adj_get_channel_count(), 3);
	EXPECT_EQ(img_hdr_get_channel_num(), 3);
}

std::vector<uint8_t> sensor_records(uint32_t w0, uint32_t w1, uint32_t w2)
{
	std::vector<uint8_t> r(2 * IMG_AAA_SENSOR_SIZE);
	for (int c = 0; c < 2; c++) {
		uint32_t w[3] = {w0, w1, w2};
		memcpy(r.data() + c * IMG_AAA_SENSOR_SIZE, w, sizeof w);
	}
	return r;
}

TEST_F(ImgLib, AeConfigurationMustFitTheSensor)
{
	struct {
		uint32_t unit, limit, ratio_a, ratio_b, dsp_hdr;
		int rc;
	} cases[] = {
	    {100, 1, 0, 0, 0, 0},
	    {1u << 24, 1, 0, 0, 0, 0},
	    {(1u << 24) + 1, 1, 0, 0, 0, -1},
	    {0x80000000u, 0x100, 0, 0, 0, 0}, // the limit needs more than 32 bits
	    {0, 1, 0, 0, 0, -1},
	    {100, 1, 0, 0, 1, -1},
	    {100, 1, 1, 0, 1, 0},
	    {1u << 25, 4, 1, 1, 1, -1}, // both ratios round to 0
	    {1u << 23, 4, 1, 0, 1, 0},
	};
	std::vector<uint8_t> ae(2 * IMG_AAA_AE_CFG_SIZE);
	for (const auto &c : cases) {
		std::vector<uint8_t> s = sensor_records(c.limit, c.ratio_a, c.ratio_b);
		ASSERT_EQ(img_config_sensor_info(s.data()), 0);
		for (int ch = 0; ch < 2; ch++) {
			img_lib_aaa_chan(ch)->info.dsp_hdr = ch == 1 ? c.dsp_hdr : 0;
			memset(img_lib_aaa_chan(ch)->cfg + IMG_AAA_AE_CFG_AT, 0xEE, IMG_AAA_AE_CFG_SIZE);
			memcpy(ae.data() + ch * IMG_AAA_AE_CFG_SIZE + 776 * 4, &c.unit, 4);
		}
		CaptureStdout();
		EXPECT_EQ(img_config_ae(ae.data()), c.rc) << c.unit << " " << c.limit;
		EXPECT_EQ(GetCapturedStdout(), c.rc ? "pls main_config_sensor_info!\n" : "");
		uint32_t stored;
		memcpy(&stored, img_lib_aaa_chan(1)->cfg + 3180, 4);
		EXPECT_EQ(stored, c.rc ? 0xEEEEEEEEu : c.unit);
	}
	img_lib_aaa_chan(1)->info.dsp_hdr = 0;
	EXPECT_EQ(img_config_ae(nullptr), -1);
}

TEST_F(ImgLib, ConfigurationEntriesFillTheBlocks)
{
	std::vector<uint8_t> s = sensor_records(7, 8, 9);
	ASSERT_EQ(img_config_sensor_info(s.data()), 0);
	for (int c = 0; c < 2; c++) {
		img_aaa_chan *ch = img_lib_aaa_chan(c);
		EXPECT_EQ(memcmp(ch->cfg + 7556, s.data() + c * 236, 236), 0);
		EXPECT_EQ(ch->wb_gain[0] + ch->wb_gain[1] + ch->wb_gain[2], 3 * 4096u);
		EXPECT_EQ(ch->config_id, 9u * c);
	}
	std::vector<uint8_t> awb(2 * 708), params(2 * 398), tables(2 * 640);
	for (size_t i = 0; i < awb.size(); i++)
		awb[i] = (uint8_t)(i * 7);
	for (size_t i = 0; i < params.size(); i++)
		params[i] = (uint8_t)(i * 3);
	for (size_t i = 0; i < tables.size(); i++)
		tables[i] = (uint8_t)(i * 5);
	ASSERT_EQ(img_config_awb(awb.data()), 0);
	ASSERT_EQ(img_config_lens_tables(params.data(), tables.data()), 0);
	EXPECT_EQ(memcmp(img_lib_aaa_chan(1)->cfg + 6848, awb.data() + 708, 708), 0);
	EXPECT_EQ(memcmp(img_lib_aaa_chan(1)->cfg + 7792, params.data() + 398, 398), 0);
	EXPECT_EQ(memcmp(img_lib_aaa_chan(1)->cfg + 8192, tables.data() + 640, 640), 0);

	img_aaa_hook all[IMG_AAA_HOOKS] = {};
	img_aaa_hook one[IMG_AAA_HOOKS] = {};
	auto h1 = [](void *) { return 1; };
	auto h2 = [](void *) { return 2; };
	for (img_aaa_hook &h : all)
		h = h1;
	one[4] = h2;
	ASSERT_EQ(img_lib_set_hooks(all), 0);
	ASSERT_EQ(img_lib_merge_hooks(one), 0);
	EXPECT_EQ(img_lib_hook(3)(nullptr), 1);
	EXPECT_EQ(img_lib_hook(4)(nullptr), 2);

	/* the custom auto-focus entries: absent hooks are no failure, a
	 * negative result is -1 whatever it was */
	img_aaa_hook af[IMG_AAA_HOOKS] = {};
	ASSERT_EQ(img_lib_set_hooks(af), 0);
	EXPECT_EQ(img_lib_custom_af_init(nullptr), 0);
	EXPECT_EQ(img_lib_custom_af_run(nullptr), 0);
	EXPECT_EQ(img_lib_custom_af_param(nullptr), 0);
	static int seen;
	af[IMG_AAA_HOOK_AF_INIT] = [](void *arg) {
		seen = *(int *)arg;
		return 7;
	};
	af[IMG_AAA_HOOK_AF_RUN] = [](void *) { return -5; };
	af[IMG_AAA_HOOK_AF_PARAM] = [](void *arg) {
		seen = -*(int *)arg;
		return 0;
	};
	ASSERT_EQ(img_lib_merge_hooks(af), 0);
	int arg = 42;
	EXPECT_EQ(img_lib_custom_af_init(&arg), 0);
	EXPECT_EQ(seen, 42);
	EXPECT_EQ(img_lib_custom_af_run(&arg), -1);
	EXPECT_EQ(img_lib_custom_af_param(&arg), 0);
	EXPECT_EQ(seen, -42);

	uint32_t w[2] = {11, 22}, got[2];
	ASSERT_EQ(img_lib_revert_msg(1, w), 0);
	w[0] = 33;
	ASSERT_EQ(img_lib_revert_msg(0, w), 0);
	img_lib_get_revert(got);
	EXPECT_EQ(got[0], 33u);
	EXPECT_EQ(got[1], 22u);
	CaptureStdout();
	EXPECT_EQ(img_lib_revert_msg(2, w), -1);
	EXPECT_EQ(GetCapturedStdout(), "error revert msg\n");

	struct {
		int (*fn)(const void *);
	} nulls[] = {{img_config_sensor_info},
	             {img_set_hdr_iq_params},
	             {img_config_awb},
	             {img_config_aaa_table},
	             {img_config_lens_driver}};
	for (const auto &n : nulls)
		EXPECT_EQ(n.fn(nullptr), -1);
}

} // namespace
