// Day/night as a process: the daemon's analyser, smart auto exposure and
// day/night steps on the simulated SoC, with the stand-in power service on
// the private bus granting the IR-cut filter's power. A plug-in steps the
// frame clock and the timeout clock together and sets the scene's light.
#include "daemon_process.h"
#include "main_loop_pump.h"
#include "power_service.h"
#include "product_yaml.h"
#include "replace_once.h"

#include <stdio.h>

#include <functional>

namespace
{

// One simulated sensor, its IR-cut filter on a character device.
const std::string daynight_yaml = loop_camera_head + capture_modes_1080p + R"(HARDWARE_SETUP:
  HWID_1:
    SENSOR: [sensor_vorsalind_ov2718]
    IRCUT: [ircut_generic_dev]
sensor_vorsalind_ov2718:
  config: {}
ircut_generic_dev:
  ircut_generic_dev:
    dev: /dev/ircut0
ALGO_CREATE:
  CHANNEL0: [algo_hist_analyzer_cl, algo_smart_ae_cl, algo_daynight_vorsalind]
)" + loop_ae_yaml + R"(algo_daynight_vorsalind:
  config:
    day_night_step_rate: 10
    day_to_night_time_limit: 1
    night_to_day_time_limit: 1
    power_control_enabled: true
    ir_cut_filter_power: 1.5
)";

// One change of what the plug-in saw: the IR-cut device's value, the
// camera library's black-and-white mode and IsDay.
struct Seen {
	unsigned record;
	int ircut, bw, is_day;
};

// Stream 0's day flag (info-pool 23) as ip.db holds it: a 20-byte header,
// then 36-byte records of little-endian words (id, type, 1, stream, source,
// seconds, microseconds, value, size); -1 when there is none.
int stored_day_flag(const std::string &db)
{
	auto word = [&](size_t at) {
		return (uint32_t)(uint8_t)db[at] | (uint32_t)(uint8_t)db[at + 1] << 8 |
		       (uint32_t)(uint8_t)db[at + 2] << 16 | (uint32_t)(uint8_t)db[at + 3] << 24;
	};
	for (size_t at = 20; at + 36 <= db.size(); at += 36)
		if (word(at) == 23 && word(at + 12) == 0)
			return (int)word(at + 28);
	return -1;
}

// The helmet on VIN 0 beside the main sensor on VIN 1, polled every five
// seconds; empty when the day/night text no longer has what this changes.
std::string helmet_yaml()
{
	std::string y = daynight_yaml;
	const char *swaps[][2] = {
	    {"plug_event_input_src: false", "plug_event_input_src: true"},
	    {"algo_daynight_vorsalind]", "algo_helmet_detect]"},
	    {"SENSOR: [sensor_vorsalind_ov2718]", "SENSOR: [sensor_vorsalind_imx274]"},
	    {"sensor_vorsalind_ov2718:\n", "sensor_vorsalind_imx274:\n"},
	    {"MODES: [1080P_30FPS, 1080P_60FPS]", "MODES: [1944P_30FPS]"},
	    {"MODES: [1080P_25FPS, 1080P_50FPS]", "MODES: [1944P_25FPS]"},
	};
	for (const auto &s : swaps)
		if (!replace_once(y, s[0], s[1]))
			return "";
	return y + "algo_helmet_detect:\n  config:\n    detect_poll_time: 5\n";
}

class DayNightProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure();
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", daynight_yaml);
		write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_DAYNIGHT));
		ASSERT_EQ(0, g_mkdir_with_parents((root + "/etc/dynamic/vistrad").c_str(), 0755));
		gate = root + "/gate";
		write_file(gate, "0");
	}

	void run(std::map<std::string, std::string> env)
	{
		env["SIMSOC_VIN_FRAMERATE"] = "0";
		env["DN_GATE"] = gate;
		env["VISTRAD_ROOT"] = root;
		d->start(VISTRAD_BIN, {}, env);
	}

	// Lets the daemon handle frames up to that record and waits until it has.
	bool advance_to(unsigned record)
	{
		write_file(gate + ".new", std::to_string(record));
		EXPECT_EQ(0, rename((gate + ".new").c_str(), gate.c_str()));
		bool reached = d->wait_for("dn: record " + std::to_string(record) + " exposure", 20000);
		EXPECT_TRUE(reached) << "record " << record << " not reached:\n" << d->output();
		if (reached)
			at = record;
		return reached;
	}

	// Frame by frame until the condition holds, at most that many frames: a
	// grant reaches the daemon over the bus while frames wait, and is acted
	// on at the step's next evaluation.
	bool advance_until(const std::function<bool()> &done, unsigned frames = 30)
	{
		for (unsigned end = at + frames; !done();) {
			if (at >= end || !advance_to(at + 1))
				return false;
		}
		return true;
	}

	// Info-pool 48 and 61 at that record.
	bool exposure_at(unsigned record, int64_t *exposure, int64_t *max)
	{
		std::string out = d->output();
		std::string key = "dn: record " + std::to_string(record) + " exposure ";
		size_t p = out.find(key);
		long long e = 0, m = 0;
		if (p == std::string::npos ||
		    sscanf(out.c_str() + p + key.size(), "%lld max %lld", &e, &m) != 2)
			return false;
		*exposure = e;
		*max = m;
		return true;
	}

	std::vector<Seen> seen()
	{
		std::vector<Seen> out;
		std::string text = d->output();
		for (size_t p = text.find("dn: record "); p != std::string::npos;
		     p = text.find("dn: record ", p + 1)) {
			Seen s;
			if (sscanf(text.c_str() + p, "dn: record %u ircut %d bw %d isday %d", &s.record,
			           &s.ircut, &s.bw, &s.is_day) == 4)
				out.push_back(s);
		}
		return out;
	}

	// Waits until the service has got n calls.
	std::vector<std::string> calls_when(PowerService &power, size_t n)
	{
		std::vector<std::string> calls;
		int64_t end = now_ms() + 10000;
		while ((calls = power.calls()).size() < n && now_ms() < end)
			usleep(2000);
		return calls;
	}

	int day_flag()
	{
		return stored_day_flag(read_file(root + "/etc/dynamic/vistrad/ip.db"));
	}

	std::string gate;
	unsigned at = 0;
};

// Darkness until smart AE holds its maximum exposure moves the filter out
// once, after the time limit and only with the power granted; twice the light
// keeps night; light enough for a third of the threshold brings day back.
TEST_F(DayNightProcess, DarkSceneMovesToNightOnceAndLightBringsDayBack)
{
	PowerService power;
	power.start();
	power.set_mode("hold");
	const std::string reg = register_call("irc");
	const std::string control = request_call("irc", "control", "1.5");
	const std::string off = request_call("irc", "off", "0.0");
	std::vector<std::string> expected = {reg};
	auto asked = [&](const std::string &call) {
		expected.push_back(call);
		return advance_until([&] { return power.calls().size() >= expected.size(); });
	};
	// A move once the verdict has held since that record: within the
	// one-second limit (ten frames) nothing is asked for; after it power is,
	// the filter waits for the grant, moves with it and gives the power back.
	// The plug-in may see a record before smart AE has handled it, so the
	// exposure it shows can be a frame late: the limit ends nine or ten
	// frames after that.
	auto gated_move = [&](unsigned since, int night) {
		ASSERT_TRUE(advance_to(since + 8));
		EXPECT_EQ(expected, power.calls());
		EXPECT_TRUE(asked(control));
		EXPECT_EQ(expected, power.calls());
		EXPECT_GE(at, since + 9);
		size_t moves = seen().size();
		ASSERT_TRUE(advance_to(at + 10));
		EXPECT_EQ(moves, seen().size());
		EXPECT_EQ(night, day_flag()) << "the stored day flag is still the old state";
		power.answer_pending();
		EXPECT_TRUE(advance_until([&] { return seen().size() == moves + 1; }));
		std::vector<Seen> s = seen();
		ASSERT_EQ(moves + 1, s.size()) << d->output();
		EXPECT_EQ(night, s.back().ircut);
		EXPECT_EQ(night, s.back().bw);
		EXPECT_EQ(1 - night, s.back().is_day);
		EXPECT_EQ(1 - night, day_flag());
		EXPECT_TRUE(asked(off));
		EXPECT_EQ(expected, power.calls());
		power.answer_pending();
	};
	run({{"DN_SCENE", "80:0.01;250:0.02;350:2048"}});
	ASSERT_TRUE(d->wait_for("dn: loaded")) << d->output();

	// The start puts the filter in for day at once; the undecided state asks
	// for power all the same and gives it back.
	ASSERT_TRUE(advance_to(55));
	EXPECT_TRUE(asked(control));
	EXPECT_EQ(expected, power.calls());
	power.answer_pending();
	EXPECT_TRUE(asked(off));
	EXPECT_EQ(expected, power.calls());
	power.answer_pending();
	std::vector<Seen> s = seen();
	ASSERT_EQ(2u, s.size()) << d->output();
	EXPECT_EQ(-1, s[0].ircut);
	EXPECT_EQ(0, s[1].ircut);
	EXPECT_EQ(0, s[1].bw);
	EXPECT_EQ(1, s[1].is_day);
	EXPECT_EQ(1, day_flag());

	// Dark from record 81: the first record at 98 % of the maximum.
	unsigned dark = 0;
	int64_t e = 0, m = 0;
	ASSERT_TRUE(advance_to(80));
	while (!dark && at < 200) {
		ASSERT_TRUE(advance_to(at + 1));
		ASSERT_TRUE(exposure_at(at, &e, &m));
		if (e * 100 >= m * 98)
			dark = at;
	}
	ASSERT_NE(0u, dark) << "smart AE never reached its maximum:\n" << d->output();
	gated_move(dark, 1);

	// Twice the light from record 251: still night.
	ASSERT_TRUE(advance_to(345));
	EXPECT_EQ(3u, seen().size());
	EXPECT_EQ(expected, power.calls());

	// Full light from record 351: day once the exposure has stayed below a
	// third of the threshold for the limit, again only with the power.
	unsigned bright = 0;
	while (!bright && at < 450) {
		ASSERT_TRUE(advance_to(at + 1));
		ASSERT_TRUE(exposure_at(at, &e, &m));
		if (e * 3 * 100 < m * 98)
			bright = at;
	}
	ASSERT_NE(0u, bright) << d->output();
	gated_move(bright, 0);
	EXPECT_EQ(0, d->stop());
}

size_t count(const std::string &text, const std::string &what)
{
	size_t n = 0;
	for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
		n++;
	return n;
}

// VIN 0's and VIN 1's tick reads and the timeout clock's milliseconds at a
// record.
struct Frame {
	unsigned long long vin0, vin1, ms;
};
bool frame_at(const std::string &text, unsigned record, Frame *f)
{
	std::string key = "dn: record " + std::to_string(record) + " exposure ";
	size_t p = text.find(key);
	return p != std::string::npos &&
	       sscanf(text.c_str() + p + key.size(), "%*d max %*d reads %llu %llu ms %llu", &f->vin0,
	              &f->vin1, &f->ms) == 3;
}

// The helmet polled every five seconds on a camera whose main sensor is VIN 1:
// absent at the first poll, then plugged with an event, then failing its
// access checks.
TEST_F(DayNightProcess, HelmetPlugEventThenBrokenHelmet)
{
	const std::string yaml = helmet_yaml();
	ASSERT_FALSE(yaml.empty())
	    << "the day/night configuration no longer has a line the helmet's changes need";
	write_file(root + "/usr/lib/vistrad/vistrad.yaml", yaml);
	run({{"DN_HELMET", "1:0x30:0;75:0x10:0:1;100:0x10:5"}});
	ASSERT_TRUE(d->wait_for("dn: loaded")) << d->output();

	// Plug state 0x30 is no helmet: the first poll moves to the main sensor.
	ASSERT_TRUE(advance_to(70));
	EXPECT_NE(std::string::npos, d->output().find("helmet_detect_run: Change to vin 1 (reason 0) \n"))
	    << d->output();
	EXPECT_NE(std::string::npos,
	          d->output().find(" vin uint32 1 reason 'EXTENSION_UNPLUGGED' marked 0\n"));
	// Each switch restarts the streams; the new steps tell what they found.
	size_t steps = count(d->output(), "helmet_detect_init: helmet is unplugged\n");
	ASSERT_GE(steps, 1u);

	// The plug event with the helmet present, half-way between two polls,
	// switches to VIN 0 at once, and the frames come from there.
	ASSERT_TRUE(advance_to(75));
	EXPECT_TRUE(d->wait_for("helmet_detect_run: Change to vin 0 (reason 1) \n", 10000)) << d->output();
	EXPECT_TRUE(advance_until(
	    [&] {
		    return d->output().find(" vin uint32 0 reason 'EXTENSION_PLUGGED' marked 0\n") !=
		           std::string::npos;
	    },
	    3));
	ASSERT_TRUE(advance_to(99));
	std::string out = d->output();
	Frame a, b;
	ASSERT_TRUE(frame_at(out, 80, &a));
	ASSERT_TRUE(frame_at(out, 99, &b));
	EXPECT_GT(b.vin0, a.vin0);
	EXPECT_EQ(a.vin1, b.vin1);
	EXPECT_EQ(0u, count(out, "helmet state error"));

	// From record 101 every access check fails: three polls five seconds apart
	// only log, the fourth marks the helmet broken and moves to the main
	// sensor. The mode takes two exposures, each stream with a helmet step
	// of its own, polling in the same frame or one apart; the first to break
	// restarts the streams, so the other may have logged one error less.
	const std::string error = "helmet state error: 0x5\n";
	const std::string broken = "helmet_detect_run: Helmet is in bad state -changing to main \n";
	unsigned long long first_error = 0, first_broken = 0;
	while (at < 400 && !first_broken) {
		ASSERT_TRUE(advance_to(at + 1));
		Frame f;
		ASSERT_TRUE(frame_at(d->output(), at, &f));
		if (!first_error && count(d->output(), error) > 0)
			first_error = f.ms;
		if (count(d->output(), broken) > 0)
			first_broken = f.ms;
	}
	ASSERT_NE(0u, first_broken) << d->output();
	// Each poll restarts its second when it ran, at the first frame after it
	// fell due, and a message shows with that frame's record or the next.
	EXPECT_GE(first_broken - first_error, 14900u);
	EXPECT_LE(first_broken - first_error, 15400u);
	ASSERT_TRUE(advance_to(at + 3));
	out = d->output();
	size_t breaks = count(out, broken);
	EXPECT_LE(3 * steps + breaks, count(out, error));
	EXPECT_GE(4 * steps, count(out, error));
	EXPECT_NE(std::string::npos,
	          out.find("helmet_detect_run: Change to vin 1 (reason 0) \n", out.find(broken)));
	EXPECT_NE(std::string::npos,
	          out.find(" vin uint32 1 reason 'EXTENSION_ERROR' marked " + std::to_string(breaks) + "\n"))
	    << out;
	if (getenv("DN_DUMP"))
		printf("%s\n", d->output().c_str());
	EXPECT_EQ(0, d->stop());
}

} // namespace
