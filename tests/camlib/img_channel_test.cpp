/* The channel description from the driver's answers, the image-kernel
 * defaults every channel starts from, the posting ring and the noise
 * estimate. */
#include "aaa_parser.h"
#include "algo_fixture.h"
#include "awb.h"
#include "ik_ctx.h"
#include "img_algo_pending.h"
#include "img_channel.h"
#include "img_dsp_raw.h"

#include <errno.h>

#include <cstring>
#include <string>

namespace
{

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

class ChannelInfo : public AlgoOnDriver
{
      protected:
	int fill(channel_info info[4], img_channel_vin vin[4])
	{
		qvd_system_resource res = resources();
		return img_fill_channel_info(fd_, &res, info, vin);
	}
	channel_info info_[4]{};
	img_channel_vin vin_[4]{};
};

TEST_F(ChannelInfo, WordsComeFromTheDriversAnswers)
{
	simsoc_qvd_board b = board(2);
	b.tuning_word = 5u << 8 | 0xff;
	b.vin_config = 0x1234;
	simsoc_qvd_vin &v = b.vin[1];
	v.source_id = 0x105;
	v.sensor_ctrl = 0;
	v.exposures = 2;
	v.dsp_hdr = 1;
	v.hdr_flag = 1;
	v.follow_chan = 0;
	v.width = 1930;
	v.height = 1080;
	v.main_width = 1280;
	v.main_height = 720;
	v.pattern = 3;
	v.bayer = 2;
	v.gain_unit = 6;
	v.hdr_curve = 3;
	v.hdr_type = 1;
	v.hdr_mode = 15;
	v.hdr_kind = 0x1016;
	v.again_max_index = 240;
	use_board(b);
	ASSERT_EQ(img_lib_set_cfg_num(1), 0);
	info_[1].rgb_ir = 7; // not one of the words the fill names
	CaptureStdout();
	ASSERT_EQ(fill(info_, vin_), 0);
	std::string out = GetCapturedStdout();
	EXPECT_EQ(out, "======>p_img_config->vsrc_id=0,sensor_ctrl =1\n"
	               "======>p_img_config->vsrc_id=5,sensor_ctrl =0\n");
	const channel_info &c = info_[1];
	EXPECT_EQ(c.tuning_key, 5u);
	EXPECT_EQ(c.expo_num, 2u);
	EXPECT_EQ(c.dsp_hdr, 1u);
	EXPECT_EQ(c.hdr_method, 4u);
	EXPECT_EQ(c.hdr_curve, 1u);
	EXPECT_EQ(c.vsrc_id, 5);
	EXPECT_EQ(c.sensor_ctrl, 0);
	EXPECT_EQ(c.vin_width, 1936);
	EXPECT_EQ(c.vin_height, 1088);
	EXPECT_EQ(c.main_width, 1280);
	EXPECT_EQ(c.main_height, 720);
	EXPECT_EQ(c.vin_config, 0x1234u);
	EXPECT_EQ(c.pattern, 3u);
	EXPECT_EQ(c.bayer, 2u);
	EXPECT_EQ(c.hdr_flag, 1u);
	EXPECT_EQ(c.follow_chan, 0u);
	EXPECT_EQ(c.rgb_ir, 0u);
	EXPECT_EQ(c.yuv, 0u);
	EXPECT_EQ(info_[0].sensor_ctrl, 1);
	EXPECT_EQ(info_[0].hdr_method, 0u);
	// Ten configurations a channel: channel 1's ring starts at 10.
	EXPECT_EQ(vin_[0].config_id, 0u);
	EXPECT_EQ(vin_[1].config_id, 10u);
	EXPECT_EQ(vin_[1].post_enable, 1u);
	EXPECT_EQ(vin_[1].gain_unit, 6u);
	EXPECT_EQ(vin_[1].aaa_info.source_id, 0x105);
	EXPECT_EQ(vin_[1].aaa_info.hdr_kind, 0x1016u);
	EXPECT_EQ(vin_[1].agc.again_max_index, 240u);
	EXPECT_EQ(vin_[1].agc.dgain_max_index, 273u);
}

TEST_F(ChannelInfo, YuvInputIsMarked)
{
	simsoc_qvd_board b = board(1);
	b.vin[0].format = 2;
	use_board(b);
	CaptureStdout();
	ASSERT_EQ(fill(info_, vin_), 0);
	EXPECT_NE(GetCapturedStdout().find("yuv_sensor input!3A won't run\n"), std::string::npos);
	EXPECT_EQ(info_[0].yuv, 1u);
}

TEST_F(ChannelInfo, HdrMethodTable)
{
	const uint32_t kept = 6; // what channel 0 had before
	struct {
		uint32_t type, mode, kind;
		int method; // -1: no method, the fill stops
	} cases[] = {
	    {0, 0, 0x301c, 0},  {0, 1, 8, 2},       {0, 3, 8, 2},       {0, 2, 0x1016, 1}, {0, 15, 8, 3},
	    {0, 15, 0x301c, 8}, {0, 15, 0x101a, 8}, {0, 15, 0x101b, 8}, {0, 15, 7, kept},  {1, 1, 9, 5},
	    {1, 2, 9, 7},       {1, 15, 0x100f, 4}, {1, 15, 0x1016, 4}, {1, 15, 8, kept},  {2, 1, 0, 6},
	    {3, 0, 0, -1},      {0, 4, 8, -1},      {2, 2, 0, -1},      {1, 3, 0, -1},
	};
	for (const auto &c : cases) {
		simsoc_qvd_board b = board(2);
		b.vin[0].hdr_type = c.type;
		b.vin[0].hdr_mode = c.mode;
		b.vin[0].hdr_kind = c.kind;
		use_board(b);
		channel_info info[4]{};
		img_channel_vin vin[4]{};
		info[0].hdr_method = kept;
		info[1].vin_width = 77; // a description from before
		CaptureStdout();
		int rc = fill(info, vin);
		std::string out = GetCapturedStdout();
		bool bad = c.method < 0;
		SCOPED_TRACE(testing::Message() << c.type << "/" << c.mode << "/" << c.kind);
		EXPECT_EQ(rc, bad ? -1 : 0);
		EXPECT_EQ(out.find("error: invalid vin ( HDR ) sensor info.\n") != std::string::npos, bad);
		if (!bad) {
			EXPECT_EQ(info[0].hdr_method, (uint32_t)c.method);
		}
		EXPECT_EQ(info[1].vin_width, bad ? 77 : 1920);
	}
}

TEST_F(ChannelInfo, AFailingRequestEndsTheLoop)
{
	struct {
		unsigned long code;
		const char *msg;
	} cases[] = {
	    {QVD_IOC_VIN_GET_VIDEOINFO, "QVD_IOC_VIN_GET_VIDEOINFO: Input/output error\n"},
	    {QVD_IOC_GET_VIDEO_PROC, "QVD_IOC_GET_VIDEO_PROC: Input/output error\n"},
	    {QVD_IOC_VIN_GET_AAAINFO, "QVD_IOC_VIN_GET_AAAINFO error\n: Input/output error\n"},
	    {QVD_IOC_VIN_GET_AGC, "QVD_IOC_VIN_GET_AGC error\n: Input/output error\n"},
	};
	use_board(board(2));
	for (const auto &c : cases) {
		channel_info info[4]{};
		img_channel_vin vin[4]{};
		info[1].vin_width = 77;
		simsoc_qvd_fail(c.code, EIO, 1);
		CaptureStdout();
		CaptureStderr();
		EXPECT_EQ(fill(info, vin), -1);
		GetCapturedStdout();
		EXPECT_EQ(GetCapturedStderr(), c.msg);
		EXPECT_EQ(info[1].vin_width, 77);
	}
}

TEST_F(ChannelInfo, AVinCountBeyondFourFillsFourAtMost)
{
	use_board(board(4));
	qvd_system_resource res = resources();
	res.vin_num = 200;
	channel_info *info = new channel_info[4]();
	img_channel_vin *vin = new img_channel_vin[4]();
	CaptureStdout();
	EXPECT_EQ(img_fill_channel_info(fd_, &res, info, vin), 0);
	GetCapturedStdout();
	EXPECT_EQ(info[3].vin_width, 1920);
	delete[] info;
	delete[] vin;
}

/* ---- image-kernel defaults ------------------------------------------- */

class ChannelDefaults : public AlgoOnDriver
{
      protected:
	void SetUp() override
	{
		AlgoOnDriver::SetUp();
		use_board(board(2));
		bring_up();
		for (int c = 0; c < 2; c++) {
			info_[c].vin_width = 1920;
			info_[c].vin_height = 1088;
			info_[c].main_width = 1280;
			info_[c].main_height = 720;
			info_[c].bayer = 2;
		}
		*awb_get_chan_store(0) = awb_chan_store{};
		*awb_get_chan_store(1) = awb_chan_store{};
		mode_.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		mode_.BatchId = IMG_DSP_BATCH_NONE;
	}
	void init()
	{
		CaptureStdout();
		EXPECT_EQ(img_init_channel_dsp_config(fd_, &mode_, info_), 0);
		GetCapturedStdout();
	}
	img_dsp_mode at(int c)
	{
		img_dsp_mode m = mode_;
		m.ContextId = (uint8_t)c;
		m.FuncMode = info_[c].dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
		return m;
	}
	const uint8_t *decimation(int c)
	{
		img_dsp_ctx_id id{IMG_DSP_PIPE_VIDEO, (uint8_t)c, {}};
		void *ctx;
		EXPECT_EQ(img_dsp_core_utility_get_context(&id, &ctx), 0);
		return ik_body(IMG_DSP_PIPE_VIDEO, ctx)->blk.contrast_enhance_decimation;
	}
	channel_info info_[4]{};
	img_dsp_mode mode_{};
};

TEST_F(ChannelDefaults, ContrastEnhancementDecimationByVinWidth)
{
	struct {
		uint16_t width;
		uint8_t f[3];
	} cases[] = {{704, {4, 2, 2}},  {720, {4, 2, 2}},  {736, {4, 4, 2}},
	             {1920, {4, 4, 2}}, {3072, {4, 4, 2}}, {3840, {4, 4, 4}}};
	for (const auto &c : cases) {
		info_[1].vin_width = c.width;
		init();
		const uint8_t *d = decimation(1);
		EXPECT_EQ(d[0], c.f[0]) << c.width;
		EXPECT_EQ(d[1], c.f[1]) << c.width;
		EXPECT_EQ(d[2], c.f[2]) << c.width;
	}
}

// The 606-byte block a channel starts from, built here byte by byte.
std::vector<uint8_t> ce_block(bool dsp_hdr)
{
	std::vector<uint8_t> b(606, 0);
	const uint8_t lin[20] = {0x00, 0x02, 0x08, 0x18, 0x00, 0x01, 0x01, 0x08, 0x08, 0x01,
	                         0x01, 0x08, 0x09, 0x0a, 0x03, 0x14, 0x14, 0x50, 0x04, 0x14};
	const uint8_t hdr[20] = {0x01, 0x06, 0x06, 0x10, 0x01, 0x01, 0x01, 0x08, 0x08, 0x01,
	                         0x01, 0x08, 0x0a, 0x28, 0x03, 0x08, 0x08, 0xb4, 0x04, 0x08};
	b[1] = dsp_hdr ? 25 : 0;
	b[3] = b[4] = b[5] = b[6] = 4;
	memcpy(&b[7], dsp_hdr ? hdr : lin, 20);
	for (int i = 27; i <= 90; i++)
		b[i] = dsp_hdr ? 6 : 0;
	b[91] = 0x00;
	b[92] = 0x08;
	for (int i = 0; i < 256; i++) {
		b[94 + 2 * i] = (uint8_t)(64 * i);
		b[95 + 2 * i] = (uint8_t)(64 * i >> 8);
	}
	return b;
}

TEST_F(ChannelDefaults, ContrastEnhancementBlockLinearAndDspHdr)
{
	info_[1].dsp_hdr = 1;
	init();
	for (int c = 0; c < 2; c++) {
		img_dsp_mode m = at(c);
		img_dsp_contrast_enhance ce;
		ASSERT_EQ(vors_img_dsp_get_contrast_enhance(&m, &ce), 0);
		std::vector<uint8_t> want = ce_block(c == 1);
		std::vector<uint8_t> got((uint8_t *)&ce, (uint8_t *)&ce + sizeof ce);
		EXPECT_EQ(got, want) << "channel " << c;
	}
}

TEST_F(ChannelDefaults, TheOtherBlocks)
{
	info_[1].no_demosaic = 1;
	init();
	for (int c = 0; c < 2; c++) {
		img_dsp_mode m = at(c);
		img_dsp_vin_sensor_info s;
		ASSERT_EQ(vors_img_dsp_get_vin_sensor_info(&m, &s), 0);
		EXPECT_EQ(s.FieldFormat, 1);
		EXPECT_EQ(s.Resolution, 14);
		EXPECT_EQ(s.Pattern, 2);
		img_dsp_dgain_saturation_level d;
		ASSERT_EQ(vors_img_dsp_get_dgain_saturation_level(&m, &d), 0);
		EXPECT_EQ(d.LevelRed, 16383u);
		EXPECT_EQ(d.LevelBlue, 16383u);
		img_dsp_local_exposure le;
		ASSERT_EQ(vors_img_dsp_get_local_exposure(&m, &le), 0);
		EXPECT_EQ(le.Enb, 0);
		img_dsp_demosaic_internal dm;
		ASSERT_EQ(vors_img_dsp_get_demosaic_internal(&m, &dm), 0);
		EXPECT_EQ(dm.enable, c == 0 ? 1 : 0);
		img_dsp_3a_histogram h;
		ASSERT_EQ(vors_img_dsp_get_3a_histogram(&m, &h), 0);
		EXPECT_EQ(h.mode, 2);
		EXPECT_EQ(h.ae_file_mask[7], 4095);
	}
}

TEST_F(ChannelDefaults, WhiteBalanceStartsFromWhatWhiteBalanceLeftPending)
{
	struct {
		bool dsp_hdr, pending;
		uint32_t preload[3];
		uint32_t want[3];
	} cases[] = {
	    {false, false, {1100, 1024, 900}, {4096, 4096, 4096}},
	    {false, true, {1024, 1024, 1024}, {4096, 4096, 4096}},
	    {false, true, {1100, 1024, 900}, {4400, 4096, 3600}},
	    {true, true, {1100, 1024, 900}, {4096, 4096, 4096}},
	};
	for (const auto &c : cases) {
		info_[1].dsp_hdr = c.dsp_hdr;
		awb_chan_store *st = awb_get_chan_store(1);
		*st = awb_chan_store{};
		if (c.pending)
			awb_set_pending_wb_gain(1, c.preload[0], c.preload[1], c.preload[2]);
		init();
		img_dsp_mode m = at(1);
		img_dsp_wb_gain wb;
		ASSERT_EQ(vors_img_dsp_get_wb_gain(&m, &wb), 0);
		EXPECT_EQ(wb.GainR, c.want[0]);
		EXPECT_EQ(wb.GainG, c.want[1]);
		EXPECT_EQ(wb.GainB, c.want[2]);
		EXPECT_EQ(wb.AeGain, 4096u);
		EXPECT_EQ(wb.GlobalDGain, 4096u);
		// Starting from the gains does not take them away from white balance.
		EXPECT_EQ(st->pending, c.pending ? 1u : 0u);
	}
}

/* ---- posting ---------------------------------------------------------- */

class Posting : public ChannelDefaults
{
      protected:
	void *settings(uint8_t id)
	{
		img_dsp_cfg_id cfg{IMG_DSP_PIPE_VIDEO, id, {}};
		img_dsp_cfg_status st;
		EXPECT_EQ(vors_img_dsp_get_cfg_status(&cfg, &st), 0);
		return st.settings;
	}
	// Contexts of the main parts posted since the last clear.
	std::vector<uint32_t> main_posts(std::vector<uint64_t> *addrs = nullptr)
	{
		std::vector<uint32_t> ctx;
		simsoc_qvd_post_rec *p = new simsoc_qvd_post_rec;
		for (size_t i = 0; i < simsoc_qvd_posts(); i++) {
			simsoc_qvd_post(i, p);
			if (p->kind != QVD_CFG_KIND_MAIN)
				continue;
			ctx.push_back(p->ctx_id);
			if (addrs)
				addrs->push_back(p->addr);
		}
		delete p;
		return ctx;
	}
};

TEST_F(Posting, ConfigurationSeventeenOfChannelOneWrapsToNine)
{
	init();
	img_lib_aaa_chan(0)->config_id = 3;
	img_lib_aaa_chan(1)->config_id = 17;
	simsoc_qvd_posts_clear();
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_ALL), 0);
	std::vector<uint64_t> addrs;
	EXPECT_EQ(main_posts(&addrs), (std::vector<uint32_t>{0, 1}));
	ASSERT_EQ(addrs.size(), 2u);
	EXPECT_EQ(addrs[1], (uint64_t)(uintptr_t)settings(17));
	EXPECT_EQ(img_lib_aaa_chan(0)->config_id, 4u);
	EXPECT_EQ(img_lib_aaa_chan(1)->config_id, 9u);
	img_dsp_cfg_id nine{IMG_DSP_PIPE_VIDEO, 9, {}}, seventeen{IMG_DSP_PIPE_VIDEO, 17, {}};
	void *prev, *src;
	ASSERT_EQ(img_dsp_core_utility_get_prev_config(&nine, &prev), 0);
	ASSERT_EQ(img_dsp_core_utility_get_config(&seventeen, &src), 0);
	EXPECT_EQ(prev, src);
}

TEST_F(Posting, AFailedPostStopsTheStep)
{
	init();
	uint32_t ids[2] = {0, 17};
	const uint32_t post[2] = {0, 1};
	simsoc_qvd_fail_kind(QVD_CFG_KIND_MAIN, EIO);
	CaptureStdout();
	EXPECT_EQ(img_post_channel_cfgs(fd_, IMG_POST_ALL, info_, 2, ids, post), -1);
	std::string out = GetCapturedStdout();
	EXPECT_NE(out.find("post fail, context_id =1,config_id=17\n"), std::string::npos) << out;
	EXPECT_EQ(out.find("context_id =0"), std::string::npos);
	EXPECT_EQ(ids[1], 17u);
	simsoc_qvd_fail_kind(-1, 0);
}

// Posting runs every frame: a kernel that keeps refusing gets one line per
// run of failures, and again once a post went through or the library started
// over.
TEST_F(Posting, AFailurePrintsOncePerRunOfFailures)
{
	init();
	uint32_t ids[2] = {0, 9};
	const uint32_t post[2] = {0, 1};
	auto frames = [&](int count) {
		CaptureStdout();
		for (int i = 0; i < count; i++)
			img_post_channel_cfgs(fd_, IMG_POST_ALL, info_, 2, ids, post);
		std::string out = GetCapturedStdout();
		std::vector<std::string> lines;
		for (size_t at = out.find("post fail"); at != std::string::npos;
		     at = out.find("post fail", at + 1))
			lines.push_back(out.substr(at, out.find('\n', at) - at));
		return lines;
	};
	using lines = std::vector<std::string>;
	simsoc_qvd_fail_kind(QVD_CFG_KIND_MAIN, EIO);
	EXPECT_EQ(frames(5), lines{"post fail, context_id =1,config_id=9"});
	simsoc_qvd_fail_kind(-1, 0);
	EXPECT_EQ(frames(1), lines{});
	simsoc_qvd_fail_kind(QVD_CFG_KIND_MAIN, EIO);
	EXPECT_EQ(frames(3), lines{"post fail, context_id =1,config_id=10"});
	init();
	EXPECT_EQ(frames(2), lines{"post fail, context_id =1,config_id=10"});
	simsoc_qvd_fail_kind(-1, 0);
}

TEST_F(Posting, ChangedOnlyPostsTheContextsThatTookSomething)
{
	init();
	simsoc_qvd_posts_clear();
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_CHANGED), 0);
	EXPECT_EQ(main_posts(), (std::vector<uint32_t>{0, 1}));
	EXPECT_EQ(vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_VIDEO, 0), 0);

	simsoc_qvd_posts_clear();
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_CHANGED), 0);
	EXPECT_TRUE(main_posts().empty());

	img_dsp_mode m = at(1);
	img_dsp_wb_gain wb = {5000, 4096, 3000, 4096, 4096};
	ASSERT_GE(vors_img_dsp_set_wb_gain(fd_, &m, &wb), 0);
	EXPECT_EQ(vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_VIDEO, 1), 1);
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_CHANGED), 0);
	EXPECT_EQ(main_posts(), (std::vector<uint32_t>{1}));
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_ALL), 0);
	EXPECT_EQ(main_posts(), (std::vector<uint32_t>{1, 0, 1}));
}

TEST_F(Posting, UpdateQueryRefusesWhatHasNoContext)
{
	EXPECT_EQ(vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_DECODE, 0), -1);
	EXPECT_EQ(vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_VIDEO, 2), -1);
}

TEST_F(Posting, ChannelsWithoutPostFlagOrHdrAreSkipped)
{
	init();
	uint32_t ids[2] = {0, 9};
	const uint32_t post[2] = {0, 0};
	simsoc_qvd_posts_clear();
	EXPECT_EQ(img_post_channel_cfgs(fd_, IMG_POST_ALL, info_, 2, ids, post), 0);
	EXPECT_TRUE(main_posts().empty());
	EXPECT_EQ(ids[1], 9u);
}

/* ---- noise estimate ----------------------------------------------------- */

TEST(NoiseEstimate, FromExposureTilesAndSensorHistogramSmoothed)
{
	aaa_parse_out *p = new aaa_parse_out();
	for (uint32_t i = 0; i < AAA_AE_TILES; i += 2)
		p->chan[2].set.ae[i].cfa_luma = 1600; // the zeros between do not count
	p->chan[2].sensor_hist.bin[10] = 3;
	img_adj_set_noise_level(2, 0);
	// sqrt(((1600 >> 4)^2 + 2 x 10^2) x 2 / 6) = 58, then 1/8 of the way.
	EXPECT_EQ(img_noise_estimate(p, 2), 7u);
	EXPECT_EQ(img_noise_estimate(p, 2), 13u);
	EXPECT_EQ(img_adj_get_noise_level(2), 13u);
	// Bins from 192 on weigh 192; bins from 242 on not at all.
	p->chan[2].sensor_hist.bin[10] = 0;
	p->chan[2].sensor_hist.bin[200] = 1;
	p->chan[2].sensor_hist.bin[243] = 1000;
	img_adj_set_noise_level(2, 156);
	// sqrt((10000 + 2 x 192^2) x 2 / 6) = 167: 1/8 of the way from 156.
	EXPECT_EQ(img_noise_estimate(p, 2), (167u + 7 * 156) / 8);
	delete p;
}

} // namespace
