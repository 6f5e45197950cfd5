// An exposure instance closing the loop over the simulated sensor: each
// frame ticked, fetched and parsed, the instance run, its result sent as
// the sensor's pending shutter and gain and its digital gain as the CFA
// gain, the update flags then cleared as the frame steps do.
#include "ae_fixture.h"
#include "parsed_frames_fixture.h"

#include <math.h>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr uint32_t kTarget = 110;

// A left-to-right ramp of brightness, 1/20 to 1 of B, so that after a
// large step up the dark side still has tiles that do not clip.
double ramp(unsigned col)
{
	return 0.05 + 0.95 * col / 31.0;
}

class AeLoop : public ParsedFrames
{
      protected:
	void SetUp() override
	{
		AlgoOnDriver::SetUp();
		if (HasFatalFailure())
			return;
		start();
		if (HasFatalFailure())
			return;
		ae_destroy_instances();
		channel_info ci[AE_MAX_INSTANCES] = {};
		for (int c = 0; c < AE_MAX_INSTANCES; c++)
			ci[c].follow_chan = (uint32_t)c;
		ci[0].expo_num = 1;
		ASSERT_EQ(ae_set_channel_info(ci), 0);
		img_hdr_ae_check off[4] = {};
		ASSERT_EQ(img_hdr_set_ae_check(off), 0);
		ASSERT_EQ(ae_set_instance_num(1), 0);
		ae_config cfg = tables_.config();
		CaptureStdout();
		int rc = ae_create_instances(&cfg);
		std::string out = GetCapturedStdout();
		ASSERT_EQ(rc, 0) << out;
		ae_ = ae_get_instance(0);
	}
	void TearDown() override
	{
		ae_destroy_instances();
		AlgoOnDriver::TearDown();
	}
	void set_scene(double b)
	{
		for (unsigned j = 0; j < 32; j++)
			for (unsigned i = 0; i < 32; i++)
				ASSERT_EQ(simsoc_scene_set_cell(i, j, b * ramp(i), 1, 1), 0);
	}
	// One frame of the loop; the frame number of its statistics.
	uint32_t step()
	{
		frame();
		EXPECT_EQ(ae_run(res_.get(), blocks_), 0);
		check_crossing();
		cl_aaa_exposure &e = blocks_[0].expo[0];
		if (e.shutter_changed || e.agc_changed) {
			hal_sht_agc rec{1, {e.shutter}, {e.agc}};
			EXPECT_EQ(hal_set_pending_sht_agc(fd_, &rec, 0), 0);
			check_on_lines(e);
			decisions_++;
		}
		if (e.dgain_changed) {
			const uint32_t g[4] = {e.dgain, e.dgain, e.dgain, e.dgain};
			EXPECT_EQ(parse_aaa_set_cfa_gain(g), 0);
		}
		e.shutter_changed = e.agc_changed = e.dgain_changed = e.iris_flag = 0;
		return frame_number(res_->chan[0]);
	}
	// Every exposure sent lies on the two lines.
	void check_on_lines(const cl_aaa_exposure &e)
	{
		bool on_shutter = e.agc == 0 && e.shutter >= 8 && e.shutter <= 1024;
		bool on_agc = e.shutter == 1024 && e.agc <= 320;
		EXPECT_TRUE(on_shutter || on_agc) << e.shutter << " rows, index " << e.agc;
	}
	// The point a walk lands on when it moves to the other line has the
	// exposure of the lines' meeting point, 1024 rows at index 0, within
	// one AGC step.
	void check_crossing()
	{
		int line = ae_->get_cursor(ae_) >= 2 ? 1 : 0;
		if (line_ >= 0 && line != line_) {
			ae_point p = ae_get_point(ae_);
			double exposure = p.shutter * law_gain(p.agc) / 4096.0, meet = 1024;
			EXPECT_LE(std::max(exposure, meet) / std::min(exposure, meet),
			          pow(10.0, 0.09375 / 20))
			    << "crossing at " << p.shutter << " rows, index " << p.agc;
			crossings_++;
		}
		line_ = line;
	}
	// Frames until the instance is stable with the metered luma within the
	// tolerance; -1 when `limit` frames do not get there.
	int converge(int limit)
	{
		int f = 1;
		for (; f <= limit && ae_->get_state(ae_) == 1; f++)
			step();
		for (; f <= limit; f++) {
			step();
			if (ae_->get_state(ae_) == 1) {
				EXPECT_NEAR(ae_->get_luma(ae_), kTarget, 6) << "frame " << f;
				return f;
			}
		}
		return -1;
	}
	AeTables tables_{shutter_then_agc()};
	ae_instance *ae_ = nullptr;
	cl_aaa_block blocks_[4]{};
	int line_ = -1;
	int decisions_ = 0;
	int crossings_ = 0;
};

TEST_F(AeLoop, ConvergesFromAnEighthOfTheTargetAndFollowsSteps)
{
	// The start point, 1024 rows at index 0, then made to meter 110 / 8.
	set_scene(1000);
	step(); // places 1024 rows at index 0, effective at the next tick
	step();
	double unit = ae_->get_luma(ae_);
	ASSERT_GT(unit, 20);
	set_scene(1000 * kTarget / 8.0 / unit);
	step();
	EXPECT_NEAR(ae_->get_luma(ae_), kTarget / 8.0, 1);
	EXPECT_EQ(ae_->get_state(ae_), 0);

	int frames = converge(300);
	ASSERT_GT(frames, 0);
	EXPECT_GT(ae_->get_agc_index(ae_), 0);
	RecordProperty("frames_from_an_eighth", frames);
	EXPECT_GT(decisions_, 1);

	uint32_t at = step() + 2;
	ASSERT_EQ(simsoc_scene_step(at, 16.0), 0);
	step();
	step();
	EXPECT_GT(ae_->get_luma(ae_), 4 * kTarget);
	ASSERT_GT(converge(300), 0);
	EXPECT_EQ(ae_->get_agc_index(ae_), 0u);
	EXPECT_EQ(crossings_, 2);

	at = step() + 2;
	ASSERT_EQ(simsoc_scene_step(at, 1 / 16.0), 0);
	step();
	step();
	EXPECT_LT(ae_->get_luma(ae_), kTarget / 4);
	ASSERT_GT(converge(300), 0);

	// Settled: it stays stable and sends nothing more.
	int before = decisions_;
	for (int i = 0; i < 30; i++)
		step();
	EXPECT_EQ(decisions_, before);
	EXPECT_EQ(ae_->get_state(ae_), 1);
}

} // namespace
