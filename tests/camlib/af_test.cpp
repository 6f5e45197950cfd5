// Contrast auto focus: the measurement and the moves on parse results and
// blocks written by the test, then the searches closing the loop over the
// simulated lens, whose focus position follows the output record's steps.
#include "aaa_parser.h"
#include "af.h"
#include "af_internal.h"
#include "img_lib.h"
#include "parsed_frames_fixture.h"

#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int32_t kBase = 400; // quarter pulses: focus index 0 at pulse 100
constexpr uint8_t kZoom = 5;
constexpr uint8_t kFineStep = 2;

// A channel's 3A configuration block with a lens of 32 equal rows: one
// pulse per focus index, the zoom motor at 10 pulses per row.
std::vector<uint8_t> lens_block()
{
	std::vector<uint8_t> block(8832);
	af_lens_params p{};
	p.speed = 50;
	p.zoom = kZoom;
	p.min_range = 40;
	for (auto &r : p.row)
		r = af_lens_row{100, 0, 4, 10, 8, kFineStep, 20, 100};
	memcpy(block.data() + IMG_AAA_LENS_PARAM_AT, &p, sizeof p);
	af_focus_row rows[AF_ZOOM_ROWS];
	for (int i = 0; i < AF_ZOOM_ROWS; i++)
		rows[i] = af_focus_row{0, 32768, kBase, 10 * i, 0};
	memcpy(block.data() + IMG_AAA_LENS_TABLE_AT, rows, sizeof rows);
	return block;
}

class AfModule : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		af_destroy_instances();
		af_config_default(&cfg_);
		const int32_t limits[2] = {0, 500};
		af_set_search_limits(limits);
		memset(blocks_, 0, sizeof blocks_);
	}
	void TearDown() override
	{
		af_destroy_instances();
		af_set_instance_num(0);
	}
	void create(uint32_t mode)
	{
		cfg_.mode = mode;
		ASSERT_EQ(af_set_instance_num(1), 0);
		const uint8_t *cfgs[1] = {block_.data()};
		CaptureStdout();
		int rc = af_create_instances(&cfg_, cfgs, blocks_);
		std::string out = GetCapturedStdout();
		ASSERT_EQ(rc, 0) << out;
		const uint32_t on[1] = {1};
		ASSERT_EQ(af_set_enable(on, 1), 0);
		af_ = af_get_instance(0);
		ASSERT_NE(af_, nullptr);
	}
	af_output *out()
	{
		return (af_output *)blocks_[0].af_out;
	}
	af_state *state()
	{
		return af_->state;
	}
	std::vector<uint8_t> block_ = lens_block();
	af_config cfg_{};
	cl_aaa_block blocks_[4];
	af_instance *af_ = nullptr;
};

class AfUnit : public AfModule
{
      protected:
	void SetUp() override
	{
		AfModule::SetUp();
		st_ = std::make_unique<aaa_parse_out>();
		st_->chan[0].af_tiles = AAA_AF_TILES;
		st_->valid[0] = 1;
	}
	// A frame: every tile at these values; the run's result.
	int frame(uint16_t fv1 = 1000, uint16_t fv2 = 2000, uint16_t sum = 1600)
	{
		for (auto &t : st_->chan[0].set.cfa_af)
			t = aaa_af_tile{sum, fv1, fv2};
		CaptureStdout();
		int rc = af_control(af_, &cfg_, &st_->chan[0], out(), &blocks_[0], 0);
		output_ = GetCapturedStdout();
		return rc;
	}
	const uint32_t *last_entry()
	{
		return state()->ring[state()->widx];
	}
	std::unique_ptr<aaa_parse_out> st_;
	std::string output_;
};

TEST(AfPositions, PulseAndIndexRoundTrip)
{
	const af_focus_row rows[] = {
	    {0, 32768, 400, 0, 0},
	    {0, 3 * 32768, 400, 0, 0},
	    {0, 45000, -1000, 0, 0},
	    {0, -20000, 8000, 0, 0},
	};
	EXPECT_EQ(af_index_to_pulse(&rows[1], 10), 100 + 30);
	EXPECT_EQ(af_pulse_to_index(&rows[1], 130), 10);
	// The product shifts arithmetically: -3 x 10000 >> 15 is -1.
	const af_focus_row slow = {0, 10000, 400, 0, 0};
	EXPECT_EQ(af_index_to_pulse(&slow, -3), 99);
	const af_focus_row flat = {0, 0, 400, 0, 0};
	EXPECT_EQ(af_pulse_to_index(&flat, 1234), 0);
	for (const af_focus_row &r : rows) {
		for (int32_t index : {-50, -1, 0, 1, 37, 250, 500}) {
			int32_t back = af_pulse_to_index(&r, af_index_to_pulse(&r, index));
			// A pulse spans 32768 / |slope| indexes.
			int32_t span = 32768 / abs(r.slope) + 1;
			EXPECT_LE(abs(back - index), span) << r.slope << " " << index;
		}
	}
}

TEST_F(AfUnit, InitWritesTheOutputRecordAndTheFirstState)
{
	const struct {
		uint32_t mode;
		int rc;
		int32_t state;
	} cases[] = {{0, 0, 10}, {1, 0, 30}, {3, 0, 0}, {4, 0, 61}, {5, 0, 10}};
	for (const auto &c : cases) {
		af_destroy_instances();
		memset(blocks_, 0xee, sizeof blocks_);
		create(c.mode);
		EXPECT_EQ(state()->state, c.state) << c.mode;
		EXPECT_EQ(out()->focus_move, 0);
		EXPECT_EQ(out()->zoom_steps, 0);
		EXPECT_EQ(out()->speed, 50);
		EXPECT_EQ(out()->stat_request, 1);
		EXPECT_EQ(out()->lens_ctrl[6], -55);
		EXPECT_EQ(out()->lens_ctrl[37], 132);
		EXPECT_EQ(cfg_.zoom, kZoom);
		EXPECT_STREQ(af_->get_name(af_), "af_cntl_0");
	}
	// Mode 2 has no first state: the init fails, the creation goes on.
	af_destroy_instances();
	cfg_.mode = 2;
	const uint8_t *cfgs[1] = {block_.data()};
	CaptureStdout();
	EXPECT_EQ(af_create_instances(&cfg_, cfgs, blocks_), 0);
	EXPECT_EQ(GetCapturedStdout(), "init af instance 0 fail\n");

	CaptureStdout();
	EXPECT_EQ(af_set_instance_num(5), -1);
	EXPECT_EQ(GetCapturedStdout(), "af instances number 5 out of range 0 - 4\n");
}

TEST_F(AfUnit, TheFirstFrameAsksOnlyForBaseOverFour)
{
	create(0);
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(output_, "af_control\n");
	EXPECT_EQ(out()->focus_move, 1);
	EXPECT_EQ(out()->focus_steps, kBase / 4);
	EXPECT_EQ(out()->zoom_move, 0);
	EXPECT_EQ(state()->state, 10);
	EXPECT_EQ(state()->cur, 1);
	// The next frame runs the mode.
	ASSERT_EQ(frame(), 0);
	EXPECT_EQ(state()->state, 11);

	// With the skip flag nothing happens, not even the line.
	CaptureStdout();
	EXPECT_EQ(af_control(af_, &cfg_, &st_->chan[0], out(), &blocks_[0], 1), 0);
	EXPECT_EQ(GetCapturedStdout(), "");
	EXPECT_EQ(state()->state, 11);
}

TEST_F(AfUnit, TheMeasurementOfAFrame)
{
	create(3);
	memset(cfg_.weight, 0, sizeof cfg_.weight);
	cfg_.weight[0] = 1;
	cfg_.weight[1] = 2;
	aaa_parse_result &r = st_->chan[0];
	r.af_tiles = 2;
	r.set.cfa_af[0] = aaa_af_tile{1600, 170, 340};
	r.set.cfa_af[1] = aaa_af_tile{3200, 340, 680};
	CaptureStdout();
	ASSERT_EQ(af_control(af_, &cfg_, &r, out(), &blocks_[0], 0), 0);
	GetCapturedStdout();
	// g = AGC 0 + 17: v1 = 10 and 40, v2 = 20 and 80; weights 1 and 2.
	const uint32_t want[AF_E_WORDS] = {
	    1, (12 + 200) / 8 / 3, (50 + 800) / 8, 0, 150, 2400, 50 / 3, 100 / 3, 0, 510 / 3, 1020 / 3, 0};
	EXPECT_EQ(std::vector<uint32_t>(last_entry(), last_entry() + AF_E_WORDS),
	          std::vector<uint32_t>(want, want + AF_E_WORDS));
	EXPECT_EQ(state()->frames, 1u);
	EXPECT_EQ(state()->fv2_max, want[AF_E_FV2_ENERGY]);
}

TEST_F(AfUnit, OddFramesDoNotBreakTheMeasurement)
{
	create(3);
	// No weights: nothing to divide by, every weighted value 0.
	memset(cfg_.weight, 0, sizeof cfg_.weight);
	ASSERT_EQ(frame(1000, 2000, 1600), 0);
	const uint32_t *e = last_entry();
	EXPECT_EQ(e[AF_E_VALID], 1u);
	for (int w : {AF_E_FV1_ENERGY, AF_E_FV2_ENERGY, AF_E_FV1_MEAN, AF_E_FV2_MEAN, AF_E_FV1_CHANGE,
	              AF_E_FV2_CHANGE})
		EXPECT_EQ(e[w], 0u) << w;
	EXPECT_EQ(e[AF_E_LUMA_MEAN], 100u);

	// Tiles past the 40th are not read.
	af_config_default(&cfg_);
	cfg_.mode = 3;
	for (uint32_t i = 0; i < AF_USED_TILES; i++)
		cfg_.weight[i] = 1;
	ASSERT_EQ(frame(1700, 1700, 1600), 0);
	uint32_t energy = last_entry()[AF_E_FV2_ENERGY];
	for (uint32_t i = AF_USED_TILES; i < AAA_AF_TILES; i++)
		st_->chan[0].set.cfa_af[i] = aaa_af_tile{60000, 60000, 60000};
	CaptureStdout();
	ASSERT_EQ(af_control(af_, &cfg_, &st_->chan[0], out(), &blocks_[0], 0), 0);
	GetCapturedStdout();
	EXPECT_EQ(last_entry()[AF_E_FV2_ENERGY], energy);
	EXPECT_EQ(energy, 40u * ((100 * 100) >> 3) >> 3);

	// A frame without AF tiles leaves no entry and asks for no move.
	uint32_t frames = state()->frames;
	st_->chan[0].af_tiles = 0;
	memset(out(), 0, 12);
	CaptureStdout();
	ASSERT_EQ(af_control(af_, &cfg_, &st_->chan[0], out(), &blocks_[0], 0), 0);
	GetCapturedStdout();
	EXPECT_EQ(state()->frames, frames);
	EXPECT_EQ(out()->focus_move, 0);
}

TEST_F(AfUnit, InvalidModesFailAfterTheMeasurement)
{
	create(3);
	frame();
	uint32_t frames = state()->frames;
	for (uint32_t mode : {2u, 6u, 99u}) {
		cfg_.mode = mode;
		EXPECT_EQ(frame(), -1) << mode;
	}
	EXPECT_EQ(state()->frames, frames + 3);
}

TEST_F(AfUnit, ZoomTrackingStopsUnderOneRow)
{
	const struct {
		uint32_t zoom;
		float settles_at;
	} cases[] = {{6, 5.1f}, {4, 4.9f}, {8, 7.1f}, {5, 5.0f}};
	for (const auto &c : cases) {
		af_destroy_instances();
		create(3);
		frame(); // the first frame's move
		cfg_.focus = 1;
		cfg_.zoom = c.zoom;
		int32_t zoom_steps = 0;
		for (int i = 0; i < 40; i++) {
			frame();
			if (out()->zoom_move)
				zoom_steps += out()->zoom_steps;
		}
		af_status st;
		ASSERT_EQ(af_get_status(0, &st), 0);
		EXPECT_NEAR(st.zoom, c.settles_at, 1e-4) << c.zoom;
		// The zoom motor followed: 10 pulses a row.
		EXPECT_EQ(zoom_steps, (int32_t)(10.0 * (double)st.zoom) - 50) << c.zoom;
	}
}

TEST_F(AfUnit, ZoomMoveOutsideTheRowsMovesNothing)
{
	create(3);
	frame();
	for (float z : {-0.5f, 31.5f, 40.0f}) {
		state()->z = z;
		state()->target = 77;
		memset(out(), 0x5a, 12);
		CaptureStdout();
		EXPECT_EQ(zoom_move(af_, out()), -1);
		EXPECT_EQ(GetCapturedStdout(), "zoom_move error!\n");
		EXPECT_EQ(out()->focus_move, 0x5a);
		EXPECT_EQ(state()->cur, 1);
	}
	// At 31 exactly row 31 alone.
	state()->z = 31;
	state()->p = 30.5f;
	state()->target = 1;
	EXPECT_EQ(zoom_move(af_, out()), 0);
	EXPECT_EQ(out()->zoom_steps, 310 - 305);
	EXPECT_EQ(out()->focus_move, 0);
}

TEST_F(AfUnit, AnAgcChangeInSingleAfClearsAndHolds)
{
	create(1);
	frame(); // first frame
	frame(); // 30 -> 31
	ASSERT_EQ(state()->state, 31);
	frame();
	frame();
	ASSERT_GT(state()->frames, 0u);
	int32_t target = state()->target;
	blocks_[0].expo[0].agc = 40;
	frame();
	EXPECT_EQ(state()->state, 31);
	// Cleared, then this frame's entry only.
	EXPECT_EQ(state()->frames, 0u);
	EXPECT_EQ(state()->target, target);
	frame();
	EXPECT_EQ(state()->state, 31);
	EXPECT_NE(state()->target, target);
}

TEST_F(AfUnit, FocusSpeedEstimate)
{
	create(1);
	af_state *s = state();
	s->len = 48;
	s->step = 80;
	s->ring[0][AF_E_VALID] = s->ring[1][AF_E_VALID] = s->ring[47][AF_E_VALID] = 1;
	s->ring[0][AF_E_FV2_ENERGY] = 1000;
	s->ring[1][AF_E_FV2_ENERGY] = 900;
	s->ring[47][AF_E_FV2_ENERGY] = 1500;
	// BK 500, FW 100: 10 x 400 x 80 / 1201 = 266, 26.6 -> 27.
	CaptureStdout();
	EXPECT_EQ(af_get_focus_speed(), 27);
	EXPECT_EQ(GetCapturedStdout(), "BK: 500, FW: 100, F_sp: 27(26)\n");
	s->ring[47][AF_E_VALID] = 0;
	CaptureStdout();
	EXPECT_EQ(af_get_focus_speed(), -40);
	EXPECT_EQ(GetCapturedStdout(), "BK: 0, FW: 100, F_sp: -40(-39)\n");
}

// ---- closed loops over the simulated lens ------------------------------

class AfLoop : public ParsedFrames
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
		af_destroy_instances();
		af_config_default(&cfg_);
		const int32_t limits[2] = {0, 500};
		af_set_search_limits(limits);
	}
	void TearDown() override
	{
		af_destroy_instances();
		af_set_instance_num(0);
		AlgoOnDriver::TearDown();
	}
	void create(uint32_t mode)
	{
		cfg_.mode = mode;
		ASSERT_EQ(af_set_instance_num(1), 0);
		const uint8_t *cfgs[1] = {block_.data()};
		CaptureStdout();
		ASSERT_EQ(af_create_instances(&cfg_, cfgs, blocks_), 0);
		GetCapturedStdout();
		const uint32_t on[1] = {1};
		ASSERT_EQ(af_set_enable(on, 1), 0);
	}
	// The focus index whose pulse the lens stands at after the first
	// frame's move: index 1 at pulse 101 is where the motor sits at 100.
	static int32_t index_of(int32_t pulses)
	{
		return pulses - kBase / 4 + 1;
	}
	void step()
	{
		frame();
		CaptureStdout();
		EXPECT_EQ(af_run(&cfg_, res_.get(), blocks_, 0), 0);
		log_ += GetCapturedStdout();
		af_output *o = (af_output *)blocks_[0].af_out;
		if (o->focus_move)
			simsoc_scene_move_focus(o->focus_steps);
		o->focus_move = o->zoom_move = 0;
	}
	// Frames until the state is reached; -1 when `limit` do not get there.
	int run_until(int32_t want, int limit)
	{
		af_status st;
		for (int f = 1; f <= limit; f++) {
			step();
			EXPECT_EQ(af_get_status(0, &st), 0);
			if (st.state == want)
				return f;
		}
		return -1;
	}
	af_status status()
	{
		af_status st{};
		EXPECT_EQ(af_get_status(0, &st), 0);
		return st;
	}
	std::vector<uint8_t> block_ = lens_block();
	af_config cfg_{};
	cl_aaa_block blocks_[4]{};
	std::string log_;
};

TEST_F(AfLoop, ContinuousAfSettlesOnThePeak)
{
	for (int32_t peak : {30, 140, 230, 330, 450}) {
		SCOPED_TRACE(peak);
		af_destroy_instances();
		simsoc_scene_reset();
		ASSERT_EQ(simsoc_scene_set_focus_curve(peak + kBase / 4 - 1, 80, 40, 200), 0);
		log_.clear();
		create(AF_MODE_CONTINUOUS);
		ASSERT_GT(run_until(16, 2000), 0) << log_;
		af_status st = status();
		EXPECT_LE(abs(st.current - peak), kFineStep) << st.current;
		EXPECT_EQ(index_of(simsoc_scene_focus()), st.current);
		EXPECT_EQ(cfg_.focus, st.current);
		EXPECT_NE(log_.find("find_peak!"), std::string::npos);
	}
}

TEST_F(AfLoop, SingleAfLocksNearThePeak)
{
	for (int32_t peak : {100, 150, 200, 260, 400}) {
		SCOPED_TRACE(peak);
		af_destroy_instances();
		simsoc_scene_reset();
		ASSERT_EQ(simsoc_scene_set_focus_curve(peak + kBase / 4 - 1, 80, 40, 200), 0);
		log_.clear();
		create(AF_MODE_SINGLE);
		ASSERT_GT(run_until(37, 2000), 0) << log_;
		af_status st = status();
		EXPECT_LE(abs(st.current - peak), 8) << st.current;
		EXPECT_EQ(index_of(simsoc_scene_focus()), st.current);
		step();
		char line[64];
		snprintf(line, sizeof line, "^_^ locked at %fm\n", 500.0 / st.current);
		EXPECT_NE(log_.find(line), std::string::npos);
	}
}

TEST_F(AfLoop, AFlatCurveEndsWatchingAtTheRestartPoint)
{
	create(AF_MODE_CONTINUOUS);
	ASSERT_GT(run_until(16, 3000), 0) << log_;
	af_status st = status();
	EXPECT_EQ(af_restart_point(), 60);
	EXPECT_EQ(st.current, 60);
	EXPECT_EQ(index_of(simsoc_scene_focus()), 60);
}

} // namespace
