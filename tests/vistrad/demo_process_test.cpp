// The demo camera as a process: the configuration scripts/demo runs, on a
// scene scheduled by frame, with the frame clock stepped once per handled
// frame by the demo plug-in, which prints what the loop publishes for every
// frame. The power service on the private bus grants what is asked.
#include "daemon_process.h"
#include "power_service.h"

#include <stdio.h>
#include <string.h>

#include <math.h>

namespace
{

// The schedule scripts/demo runs, by the simulator's frames: dark at first,
// then a grey card with a lamp and its glow in view, x4, 3000 K, night
// level. The plug-in counts only the frames the loop handled after the
// clock's free-running start, so its numbers lag by that start, which the
// tests find from the x4 step.
std::string demo_schedule()
{
	std::string text = read_file(DEMO_SCHEDULE);
	while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
		text.pop_back();
	return text;
}

// The frame of the schedule's entry that holds `action` (0: none).
unsigned frame_of(const std::string &schedule, const std::string &action)
{
	size_t at = schedule.find(action);
	if (at == std::string::npos)
		return 0;
	size_t entry = schedule.rfind(';', at);
	return (unsigned)strtoul(schedule.c_str() + (entry == std::string::npos ? 0 : entry + 1), nullptr,
	                         10);
}

const std::string schedule = demo_schedule();
const unsigned lights_frame = frame_of(schedule, "uniform=400"), step_frame = frame_of(schedule, "step=4"),
               colour_frame = frame_of(schedule, "ct=3000"), night_frame = frame_of(schedule, "uniform=2");
// Within this many frames of a change the loop has settled again: the bound
// the demo configuration's exposure delays give (see the loop process test).
const unsigned settle_bound = 150;
// Smart exposure's hysteresis around its target: within it the loop does
// not act, so a settled luma stays there.
const double target_band = 0.05;
// The white balance that makes the grey card grey under 5000 K.
const double neutral_5000k_r = 1896 / 1024.0, neutral_5000k_b = 1707 / 1024.0;

struct Frame {
	unsigned n;
	double exposure, gain, luma, target, r, g, b;
	std::string state;
};

std::string copy_tree(const std::string &from, const std::string &to)
{
	std::string cmd = "cp -R '" + from + "/.' '" + to + "/'";
	return system(cmd.c_str()) == 0 ? "" : "could not copy " + from;
}

class DemoProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		ASSERT_TRUE(lights_frame && step_frame && colour_frame && night_frame) << schedule;
		ASSERT_EQ("", copy_tree(DEMO_DATA, root));
		write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_DEMO));
		power.start();
	}

	void TearDown() override
	{
		power.stop();
		DaemonProcess::TearDown();
	}

	// Until frame `last` was printed (and, when given, a text after it).
	void run(unsigned last, const char *also = nullptr, int also_ms = 0)
	{
		std::map<std::string, std::string> env = {
		    {"SIMSOC_VIN_FRAMERATE", "0"},
		    {"DEMO_STEP_TICKS", "1"},
		    {"DEMO_EVERY_FRAME", "1"},
		    {"SIMSOC_SCENE_SCHEDULE", schedule},
		    {"SIMSOC_IRCUT_DEV", "/dev/ircut0"},
		    {"SIMSOC_ISL29033", root + "/dev/isl29033_0:50"},
		    {"SIMSOC_LOG", root + "/simsoc.log"},
		    {"VISTRAD_ROOT", root},
		};
		d->start(VISTRAD_BIN, {}, env);
		ASSERT_TRUE(d->wait_for("demo: ch 0 frame " + std::to_string(last) + " ", 60000))
		    << d->output();
		if (also)
			d->wait_for(also, also_ms);
		ASSERT_EQ(0, d->stop());
		parse();
	}

	void parse()
	{
		const std::string &out = d->output();
		for (size_t p = out.find("demo: ch 0 frame "); p != std::string::npos;
		     p = out.find("demo: ch 0 frame ", p + 1)) {
			Frame f;
			char state[16] = "";
			if (sscanf(out.c_str() + p,
			           "demo: ch 0 frame %u exposure %lf us gain %lf dB luma %lf target %lf wb "
			           "%lf %lf "
			           "%lf %15s",
			           &f.n, &f.exposure, &f.gain, &f.luma, &f.target, &f.r, &f.g, &f.b,
			           state) == 9) {
				// Another thread's output can land inside a line (the
				// daemon's stdout and stderr share the pipe): a line
				// whose state is cut is dropped, not read as a change.
				f.state = std::string(state).substr(
				    0, strspn(state, "abcdefghijklmnopqrstuvwxyz-"));
				if (f.state == "day" || f.state == "night" || f.state == "-")
					frames.push_back(f);
			}
		}
	}

	const Frame *frame(unsigned n) const
	{
		for (const Frame &f : frames)
			if (f.n == n)
				return &f;
		return nullptr;
	}

	// Every frame's luma, for a failure's message.
	std::string lumas() const
	{
		std::string text;
		char one[32];
		for (const Frame &f : frames) {
			snprintf(one, sizeof one, "%u:%.2f ", f.n, f.luma);
			text += one;
		}
		return text;
	}

	// Red over blue of the white-balance gains, averaged over [from, to).
	double red_over_blue(unsigned from, unsigned to) const
	{
		double sum = 0;
		int n = 0;
		for (const Frame &f : frames)
			if (f.n >= from && f.n < to && f.b > 0) {
				sum += f.r / f.b;
				n++;
			}
		return n ? sum / n : 0;
	}

	PowerService power;
	std::vector<Frame> frames;
};

// Every frame is handled once and in order, and SIGTERM mid-run ends the
// daemon cleanly: its last word, status 0, and no bus name left behind.
TEST_F(DemoProcess, EveryFrameOnceThenACleanEnd)
{
	run(60);
	ASSERT_GE(frames.size(), 60u) << d->output();
	for (size_t i = 0; i < 60; i++)
		EXPECT_EQ(i + 1, frames[i].n);
	EXPECT_NE(std::string::npos, d->output().find("Ending vistrad")) << d->output();
	GVariant *owned = bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
	                           "NameHasOwner", g_variant_new("(s)", "com.tovi.ImageControl"));
	ASSERT_NE(nullptr, owned);
	gboolean has = TRUE;
	g_variant_get(owned, "(b)", &has);
	g_variant_unref(owned);
	EXPECT_FALSE(has);
	// The configured target reaches the plug-in: 20 at the exposure value's 1.0.
	EXPECT_DOUBLE_EQ(20.0, frames.back().target);
}

// From the dark start the luma comes into smart exposure's band around its
// target within 150 frames and stays; after the x4 step it is back within
// 150 frames, overshooting the band at most once, and stays until the colour
// step. The lamp and its glow keep the near-saturation criterion from
// brightening a plain card past the band.
TEST_F(DemoProcess, ExposureConvergesAndRecoversFromTheStep)
{
	run(colour_frame);
	ASSERT_GE(frames.size(), (size_t)colour_frame) << d->output();
	const double target = frames.back().target;
	ASSERT_GT(target, 0);
	auto side_of_band = [target](double luma) {
		return luma < target * (1 - target_band) ? -1 : luma > target * (1 + target_band) ? 1 : 0;
	};
	// The x4 step as the plug-in saw it: once the dark start had its time
	// to settle, the first frame twice as bright as the target.
	unsigned step = 0;
	for (const Frame &f : frames)
		if (!step && f.n > lights_frame + settle_bound && f.luma > 2 * target)
			step = f.n;
	ASSERT_NE(0u, step) << "the x4 step never showed: " << lumas();
	const struct {
		const char *change;
		unsigned after, until; // frames: before the change, the last one judged
		int overshoots;        // at most; -1: not bounded
	} cases[] = {
	    {"dark start", 0, step - 1, -1},
	    {"scene x4", step - 1, step + (colour_frame - step_frame) - 1, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.change);
		unsigned settled = 0;
		int runs = 0, last = 0;
		for (const Frame &f : frames) {
			if (f.n <= c.after || f.n > c.until)
				continue;
			int side = side_of_band(f.luma);
			if (side != 0 && side != last)
				runs++;
			last = side;
			if (side != 0)
				settled = 0;
			else if (!settled)
				settled = f.n;
		}
		ASSERT_NE(0u, settled) << "out of the band at the end: " << lumas();
		EXPECT_LE(settled - c.after, settle_bound) << lumas();
		if (c.overshoots >= 0) {
			EXPECT_LE(runs - 1, c.overshoots) << lumas();
		}
	}
}

// Under 5000 K the white balance makes the grey card grey; under 3000 K
// the raw image is redder and the balance answers with less red and more
// blue gain.
TEST_F(DemoProcess, WhiteBalanceFollowsTheColourStep)
{
	// The plug-in's frames lag the simulator's by the clock's start (a few
	// dozen frames at most): these windows lie before and well after the
	// step to 3000 K, and before the night.
	const unsigned before_from = colour_frame - 60, before_to = colour_frame - 30,
	               after_from = colour_frame + 70, after_to = colour_frame + 100;
	ASSERT_LT(after_to, night_frame);
	run(after_to);
	const Frame *settled = frame(before_to - 1);
	ASSERT_NE(nullptr, settled);
	EXPECT_NEAR(neutral_5000k_r, settled->r, 0.02);
	EXPECT_NEAR(1.0, settled->g, 0.001);
	EXPECT_NEAR(neutral_5000k_b, settled->b, 0.02);
	double before = red_over_blue(before_from, before_to);
	double after = red_over_blue(after_from, after_to);
	ASSERT_GT(before, 0);
	EXPECT_LT(after, before * 0.9);
}

// At night level the camera switches to night once, without flapping: the
// IR-cut filter moved, after power was asked for and granted. Day/night
// decides on its own timer (a first evaluation after 5 s, 2 s of night
// verdicts), which runs in real time.
TEST_F(DemoProcess, NightComesOnceWithTheFilterAndPower)
{
	run(night_frame, " night\n", 40000);
	int switches = 0;
	for (size_t i = 1; i < frames.size(); i++)
		if (frames[i].state != frames[i - 1].state && frames[i - 1].state != "-")
			switches++;
	EXPECT_EQ(1, switches);
	ASSERT_FALSE(frames.empty());
	EXPECT_EQ("night", frames.back().state);
	std::string log = read_file(root + "/simsoc.log");
	EXPECT_NE(std::string::npos, log.find("ircut_dev: set 1")) << log;
	// The filter moves only once the grant came back through SetPower.
	std::string calls = testing::PrintToString(power.calls());
	EXPECT_NE(std::string::npos, calls.find("RequestPower")) << calls;
}

} // namespace
