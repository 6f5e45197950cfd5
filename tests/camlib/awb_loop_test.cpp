/* White balance in a closed loop on the simulated SoC: each frame is
 * ticked, fetched, parsed and run through the instances as the camera
 * library's per-frame thread does, its gains applied (as the sensor's
 * digital-gain ratio where the HDR method balances on the sensor side),
 * and the gains are held against the grey surface's raw colour under the
 * scene's light. */
#include "aaa_parser.h"
#include "algo_fixture.h"
#include "awb.h"
#include "awb_fixture.h"
#include "awb_locus_fixture.h"
#include "hal_vin.h"
#include "img_channel.h"
#include "img_hdr_params.h"
#include "stat_fixture.h"

#include <math.h>

#include <memory>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Green at mid-scale: brightness index 32 at a CFA gain of 1.0.
constexpr double kGrey = 8192;
constexpr double kTolerance = 0.02;
constexpr int kStepFrames = 1000;

class AwbLoop : public AlgoOnDriver
{
      protected:
	void TearDown() override
	{
		awb_destroy_instances();
		AlgoOnDriver::TearDown();
	}
	void start(const simsoc_qvd_board &b, bool negative_zone = true)
	{
		vins_ = b.vin_count;
		use_board(b);
		bring_up();
		configure_statistics();
		qvd_system_resource res = resources();
		img_channel_vin vin[4];
		CaptureStdout();
		ASSERT_EQ(img_fill_channel_info(fd_, &res, info_, vin), 0);
		GetCapturedStdout();
		ASSERT_EQ(hal_init_channel_vsrc_mapping(fd_), 0);
		for (unsigned c = 0; c < vins_; c++) {
			hal_sht_agc rec{1, {1000}, {0}};
			ASSERT_EQ(hal_set_pending_sht_agc(fd_, &rec, (int)c), 0);
		}
		ASSERT_EQ(simsoc_scene_set_uniform(kGrey), 0);
		ASSERT_EQ(awb_set_channel_info(info_), 0);
		ASSERT_EQ(img_hdr_set_channel_info(info_), 0);
		ASSERT_EQ(awb_create_instances(TuningBlocks(locus_tuning(negative_zone)).data()), 0);
		for (cl_aaa_block &blk : blocks_) {
			blk = cl_aaa_block{};
			blk.wb_update = 1;
			blk.wb_r_gain = blk.wb_g_gain = blk.wb_b_gain = 1024;
		}
		speed_pending_ = true;
	}
	// One frame of the per-frame thread, as far as white balance goes.
	void frame()
	{
		for (unsigned v = vins_; v-- > 0;)
			simsoc_vin_tick(v);
		ASSERT_EQ(hal_get_aaa_stat(fd_, &st_.desc), 0);
		ASSERT_EQ(parse_aaa_data(&st_.desc, info_, res_.get()), 0);
		ASSERT_EQ(awb_run_instances(res_.get(), blocks_), 0);
		if (speed_pending_) {
			const uint8_t speed[4] = {164, 164, 164, 164};
			ASSERT_EQ(awb_set_speed_by_mask(speed, 0xf), 0);
			speed_pending_ = false;
		}
		for (unsigned c = 0; c < vins_; c++)
			apply((int)c);
		const uint32_t unity[4] = {4096, 4096, 4096, 4096};
		ASSERT_EQ(parse_aaa_set_cfa_gain(unity), 0);
	}
	// The white-balance application: the image kernel's gains do not reach
	// the AWB tiles, the sensor's ratio does.
	void apply(int c)
	{
		cl_aaa_block &b = blocks_[c];
		updated_[c] = b.wb_update;
		if (!b.wb_update)
			return;
		uint32_t m = info_[c].hdr_method;
		if (m == 3 || m == 4 || m == 6 || m == 8) {
			const uint32_t ratio[3] = {b.wb_r_gain, b.wb_g_gain, b.wb_b_gain};
			ASSERT_EQ(hal_set_dgain_ratio(fd_, ratio, c), 0);
		}
		b.wb_update = 0;
	}
	GainPoint gains(int c = 0) const
	{
		return GainPoint{(int32_t)blocks_[c].wb_r_gain, (int32_t)blocks_[c].wb_b_gain};
	}
	// How far the grey surface is from grey: the larger of gain x colour
	// / green - 1 for red and blue.
	double error(double kelvin, int c = 0)
	{
		double r = 1, b = 1;
		EXPECT_EQ(simsoc_scene_illuminant(kelvin, &r, &b), 0);
		return std::max(fabs(blocks_[c].wb_r_gain * r / 1024 - 1),
		                fabs(blocks_[c].wb_b_gain * b / 1024 - 1));
	}
	// Frames until the instance settles; -1 when it does not within n.
	int settle(int n)
	{
		for (int i = 1; i <= n; i++) {
			frame();
			if (awb_get_instance(0)->data->stable)
				return i;
		}
		return -1;
	}
	// From a settled 5000 K to 3000 K: never farther from the new neutral
	// gains than the frame before, and neutral within kStepFrames.
	void step_to_warm_light()
	{
		ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
		ASSERT_GT(settle(200), 0);
		ASSERT_LT(error(5000), kTolerance);
		ASSERT_EQ(simsoc_scene_set_colour_temperature(3000), 0);
		const GainPoint want = neutral(3000);
		uint32_t last = absdiff(gains(), want);
		int reached = -1;
		for (int i = 1; i <= kStepFrames && reached < 0; i++) {
			frame();
			uint32_t now = absdiff(gains(), want);
			// the neutral gains are rounded: a unit either way
			ASSERT_LE(now, last + 2) << "frame " << i << " " << gains();
			last = now;
			if (error(3000) < kTolerance)
				reached = i;
		}
		ASSERT_GT(reached, 0) << "still " << error(3000) << " off at " << gains();
		RecordProperty("frames_to_neutral", reached);
		ASSERT_GT(settle(kStepFrames), 0);
		EXPECT_LT(error(3000), kTolerance);
		const GainPoint settled = gains();
		for (int i = 0; i < 120; i++) {
			frame();
			ASSERT_EQ(updated_[0], 0) << i;
			ASSERT_EQ(gains(), settled) << i;
		}
	}
	void paint_patch(double scene_kelvin, double patch_kelvin)
	{
		double sr, sb, pr, pb;
		ASSERT_EQ(simsoc_scene_illuminant(scene_kelvin, &sr, &sb), 0);
		ASSERT_EQ(simsoc_scene_illuminant(patch_kelvin, &pr, &pb), 0);
		for (unsigned row = 0; row < 32; row++)
			for (unsigned col = 0; col < 11; col++)
				ASSERT_EQ(simsoc_scene_set_cell(col, row, kGrey, pr / sr, pb / sb), 0);
	}
	StatArea st_;
	channel_info info_[4]{};
	std::unique_ptr<aaa_parse_out> res_ = std::make_unique<aaa_parse_out>();
	cl_aaa_block blocks_[4]{};
	uint16_t updated_[4] = {0, 0, 0, 0};
	unsigned vins_ = 1;
	bool speed_pending_ = false;
};

TEST_F(AwbLoop, FreshInstancesAreNeutralAfterTheFirstRun)
{
	start(board(1));
	ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
	frame();
	EXPECT_EQ(updated_[0], 1);
	EXPECT_LT(error(5000), kTolerance) << gains();
}

TEST_F(AwbLoop, AStepToWarmLightApproachesItsNeutralGainsAndSettles)
{
	start(board(1));
	step_to_warm_light();
}

// A third of the picture in a colour that a positive zone along the locus
// holds (the grey of 6500 K, under 5000 K light) pulls the white point off
// unless the negative zone keeps it out.
TEST_F(AwbLoop, ANegativeZoneKeepsAColouredPatchOut)
{
	start(board(1));
	ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
	paint_patch(5000, 6500);
	for (int i = 0; i < 40; i++) {
		frame();
		ASSERT_LT(error(5000), kTolerance) << i << " " << gains();
	}
}

TEST_F(AwbLoop, WithoutTheNegativeZoneThePatchPullsTheGainsOff)
{
	start(board(1), false);
	ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
	paint_patch(5000, 6500);
	frame();
	EXPECT_GT(error(5000), kTolerance) << gains();
}

// Sensor-side balance: the gains reach the statistics as the sensor's
// ratio, and the statistics conversion takes them out again, so the loop
// finds the same neutral gains.
TEST_F(AwbLoop, SensorSideBalanceFindsTheSameGains)
{
	simsoc_qvd_board b = board(1);
	b.vin[0].hdr_type = 0;
	b.vin[0].hdr_mode = 15;
	b.vin[0].hdr_kind = 8;
	start(b);
	ASSERT_EQ(info_[0].hdr_method, 3u);
	ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
	frame();
	EXPECT_LT(error(5000), kTolerance) << gains();
	step_to_warm_light();
	simsoc_qvd_sensor_state st;
	ASSERT_EQ(simsoc_qvd_sensor(0, 0, &st), 0);
	EXPECT_EQ(st.ratio[0], blocks_[0].wb_r_gain);
	EXPECT_EQ(st.ratio[1], 1024u);
	EXPECT_EQ(st.ratio[3], blocks_[0].wb_b_gain);
}

TEST_F(AwbLoop, AFollowingChannelTakesChannelZerosResult)
{
	start(board(2));
	ASSERT_EQ(info_[1].follow_chan, 0u);
	// On its own channel 1 would find no white and keep preset 0 (5000 K).
	std::vector<uint8_t> none(2 * AWB_TILES, 0);
	ASSERT_EQ(awb_set_tile_weights_by_mask(none.data(), 0x2), 0);
	ASSERT_EQ(simsoc_scene_set_colour_temperature(3000), 0);
	memset(blocks_[0].wb_extra, 0xa5, sizeof blocks_[0].wb_extra);
	for (int i = 0; i < 30; i++) {
		frame();
		ASSERT_EQ(memcmp((const uint8_t *)&blocks_[1] + 128, (const uint8_t *)&blocks_[0] + 128, 28),
		          0)
		    << i;
	}
	EXPECT_LT(error(3000, 1), kTolerance) << gains(1);
}

} // namespace
