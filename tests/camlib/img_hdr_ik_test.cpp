/* The HDR module on the real image kernel: the first configuration and a
 * recomputed frame reach the context, read back through the kernel's own
 * getters, and each send ends in one HDR post to the driver. */
#include "hdr_test_support.h"
#include "ik_test_support.h"
#include "img_dsp_raw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using iktest::StdoutCapture;

class HdrOnImageKernel : public iktest::IkFixture
{
      protected:
	void SetUp() override
	{
		/* One video context cycling through nine HDR configurations,
		 * as the bring-up lays them out. */
		bring_up({{0, 1, 1, 9, 0}});
		img_dsp_ctx_id cid{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		support.describe({hdrtest::two_expo()});
		m = mode(0, 0);
		iktest::RecordingIoctl::reset();
	}
	hdrtest::HdrRig support;
	img_dsp_mode m{};

	std::vector<uint16_t> linearisation(bool hds, int e)
	{
		img_dsp_amp_linearization l{};
		int rc = hds ? vors_img_dsp_get_amp_linearization_hds(&m, &l, e)
		             : vors_img_dsp_get_amp_linearization(&m, &l, e);
		EXPECT_EQ(rc, 0);
		EXPECT_EQ(l.amplinear_ena, 1u);
		if (!l.lut_addr)
			return {};
		const uint16_t *t = (const uint16_t *)(uintptr_t)l.lut_addr;
		return std::vector<uint16_t>(t, t + IMG_HDR_KNOTS);
	}
};

TEST_F(HdrOnImageKernel, FirstConfigurationAndARecomputedFrameReadBack)
{
	StdoutCapture out;
	ASSERT_EQ(img_hdr_init_dsp_config(3, &m, support.fs), 0);
	EXPECT_EQ(iktest::RecordingIoctl::calls.size(), 1u);
	std::vector<uint16_t> identity(img_hdr_knot_table.v, img_hdr_knot_table.v + IMG_HDR_KNOTS);
	for (int e = 0; e < 2; e++) {
		EXPECT_EQ(linearisation(false, e), identity) << e;
		EXPECT_EQ(linearisation(true, e), identity) << e;
	}
	img_dsp_hdr_alpha_calc_thresh thr{};
	ASSERT_EQ(vors_img_dsp_get_hdr_alpha_calc_thresh(&m, &thr, 0), 0);
	EXPECT_EQ(thr.saturation_threshold[3], 16383);

	/* The first frame recomputes and sends everything. */
	support.blocks[0].wb_r_gain = 1000;
	support.blocks[0].expo[1].dgain = 2048;
	ASSERT_EQ(img_hdr_process_frame(support.fs, support.blocks, support.stats.get()), 0);
	const uint8_t flags[2] = {1, 1};
	ASSERT_EQ(img_hdr_set_dsp_config(3, &m, &support.fs[0], flags), 0);
	EXPECT_EQ(iktest::RecordingIoctl::calls.size(), 2u);
	std::string text = out.text();
	EXPECT_EQ(text.find("[IK][Error]"), std::string::npos) << text;

	const hdr_chan *h = hdr_ch(0);
	for (int e = 0; e < 2; e++) {
		EXPECT_EQ(linearisation(false, e),
		          std::vector<uint16_t>(h->lut[e], h->lut[e] + IMG_HDR_KNOTS))
		    << e;
		EXPECT_EQ(linearisation(true, e), std::vector<uint16_t>(h->drc[e], h->drc[e] + IMG_HDR_KNOTS))
		    << e;
	}
	ASSERT_EQ(vors_img_dsp_get_hdr_alpha_calc_thresh(&m, &thr, 0), 0);
	EXPECT_EQ(thr.saturation_threshold[0], h->ik.thr[0].saturation_threshold[0]);
	img_dsp_front_end_wb_gain wb{};
	ASSERT_EQ(vors_img_dsp_get_front_end_wb_gain(&m, &wb, 1), 0);
	EXPECT_EQ(wb.r_gain, 2000u);
	EXPECT_EQ(wb.g_gain, 2048u);
	img_dsp_amp_linearization_blend blend{};
	ASSERT_EQ(vors_img_dsp_get_amp_linearization_blend(&m, &blend, 0), 0);
	EXPECT_EQ(blend.alpha_index_threshold, 16);
	img_dsp_hdr_alpha_calc_alpha alpha{};
	ASSERT_EQ(vors_img_dsp_get_hdr_alpha_calc_alpha(&m, &alpha, 0), 0);
	EXPECT_EQ(alpha.saturation_num_nei, 4);
	/* The posts went to configurations 0 and 1 of the channel's nine. */
	EXPECT_EQ(m.ConfigId, 2);

	/* A steady frame posts nothing. */
	ASSERT_EQ(img_hdr_process_frame(support.fs, support.blocks, support.stats.get()), 0);
	ASSERT_EQ(img_hdr_set_dsp_config(3, &m, &support.fs[0], flags), 0);
	EXPECT_EQ(iktest::RecordingIoctl::calls.size(), 2u);
}

TEST_F(HdrOnImageKernel, AFailedPostIsPostedAgainByTheNextSend)
{
	StdoutCapture out;
	ASSERT_EQ(img_hdr_init_dsp_config(3, &m, support.fs), 0);
	ASSERT_EQ(img_hdr_process_frame(support.fs, support.blocks, support.stats.get()), 0);
	iktest::RecordingIoctl::result = -1;
	const uint8_t flags[2] = {1, 1};
	EXPECT_EQ(img_hdr_set_dsp_config(3, &m, &support.fs[0], flags), -1);
	EXPECT_EQ(img_hdr_sends_pending(0), 1);
	iktest::RecordingIoctl::result = 0;
	size_t before = iktest::RecordingIoctl::calls.size();
	EXPECT_EQ(img_hdr_set_dsp_config(3, &m, &support.fs[0], flags), 0);
	EXPECT_EQ(iktest::RecordingIoctl::calls.size(), before + 1);
	EXPECT_EQ(img_hdr_sends_pending(0), 0);
	EXPECT_NE(out.text().find("err: vors_img_dsp_set_hdr_video_post_proc (HDR) for channel [0]\n"),
	          std::string::npos);
}

} // namespace
