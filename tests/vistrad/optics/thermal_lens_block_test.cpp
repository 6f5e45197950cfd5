// The serial thermal lens block against a scripted lens on a pseudo-terminal:
// the test plays the lens's firmware on the master side and steps the
// block's timeouts by hand.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/thermal_lens.h"
#include "optics_fixture.h"
#include "simsoc_thermal_lens.h"

namespace
{

using Bytes = std::vector<uint8_t>;

// A clock for the lens's timeouts, stepped by the test.
struct Timeouts {
	struct Entry {
		unsigned int ms;
		uint64_t due;
		int (*fn)(void *);
		void *data;
	};
	static std::map<unsigned int, Entry> &all()
	{
		static std::map<unsigned int, Entry> entries;
		return entries;
	}
	static uint64_t &now()
	{
		static uint64_t t;
		return t;
	}
	static unsigned int add(unsigned int ms, int (*fn)(void *), void *data)
	{
		static unsigned int next = 1;
		all()[next] = {ms, now() + ms, fn, data};
		return next++;
	}
	static void remove(unsigned int id)
	{
		all().erase(id);
	}
	static void step(uint64_t ms)
	{
		uint64_t end = now() + ms;
		while (true) {
			auto first = all().end();
			for (auto it = all().begin(); it != all().end(); ++it)
				if (it->second.due <= end &&
				    (first == all().end() || it->second.due < first->second.due))
					first = it;
			if (first == all().end())
				break;
			now() = first->second.due;
			unsigned int id = first->first;
			Entry e = first->second;
			all()[id].due += e.ms;
			if (!e.fn(e.data))
				all().erase(id);
		}
		now() = end;
	}
};

Bytes frame(uint8_t sequence, const Bytes &payload)
{
	Bytes f(6 + payload.size());
	f[0] = 0x0F, f[1] = sequence, f[4] = (uint8_t)payload.size();
	for (size_t i = 0; i < payload.size(); i++)
		f[6 + i] = payload[i];
	uint16_t crc = thermal_lens_crc16(f.data(), f.size());
	f.push_back((uint8_t)(crc & 0xFF));
	f.push_back((uint8_t)(crc >> 8));
	f.push_back(0xF0);
	return f;
}

// The answer the lens gives to a request: same header, the code's length.
Bytes answer(const Bytes &request, Bytes payload = {})
{
	payload.resize(thermal_lens_answer_payload(request[6]));
	payload[0] = request[6];
	return frame(request[1], payload);
}

class ThermalLensTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		thermal_lens_set_timeouts(Timeouts::add, Timeouts::remove);
		Timeouts::all().clear();
		char name[64] = {};
		ASSERT_EQ(0, openpty(&master_, &slave_, name, nullptr, nullptr));
		struct termios raw;
		tcgetattr(master_, &raw);
		cfmakeraw(&raw);
		tcsetattr(master_, TCSANOW, &raw);
		fcntl(master_, F_SETFL, O_NONBLOCK);
		port_ = name;
	}
	void TearDown() override
	{
		platform_remove_all_camblock(plat_, 0);
		block_ = nullptr;
		EXPECT_TRUE(Timeouts::all().empty());
		close(master_);
		close(slave_);
		thermal_lens_set_timeouts(nullptr, nullptr);
		OpticsTest::TearDown();
	}
	void create(bool poll = true)
	{
		section("camblock_tamron_lvz3x3516",
		        {{"serial_port", port_}, {"poll_lens_status", poll ? "1" : "0"}});
		block_ = static_cast<camblock *>(camblock_tamron_lvz3x3516_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, block_);
		// The block reads with a 0.1 s timeout; the script needs no wait.
		struct termios t;
		tcgetattr(slave_, &t);
		t.c_cc[VTIME] = 0;
		tcsetattr(slave_, TCSANOW, &t);
	}
	void lens_sends(const Bytes &b)
	{
		ASSERT_EQ((ssize_t)b.size(), write(master_, b.data(), b.size()));
		tcdrain(master_);
	}
	// What the block wrote since the last call, as bytes.
	Bytes line()
	{
		Bytes out;
		uint8_t buf[512];
		ssize_t n;
		while ((n = read(master_, buf, sizeof(buf))) > 0)
			out.insert(out.end(), buf, buf + n);
		return out;
	}
	// One tick of the message timeout, the frame it wrote (empty for none).
	Bytes tick()
	{
		Timeouts::step(50);
		return line();
	}
	// Through the handshake with a 'W' and the four start-up messages
	// answered; their codes in the order they went out.
	Bytes start()
	{
		lens_sends({'W'});
		Timeouts::step(100);
		EXPECT_EQ(Bytes{0x06}, line());
		Bytes codes;
		for (int i = 0; i < 4; i++) {
			Bytes sent = tick();
			if (sent.size() < 7)
				break;
			codes.push_back(sent[6]);
			lens_sends(answer(sent));
			tick();
		}
		return codes;
	}
	int master_ = -1;
	int slave_ = -1;
	std::string port_;
	camblock *block_ = nullptr;
};

TEST_F(ThermalLensTest, OpensRawLineAndStartsUpAfterWakeUp)
{
	section("camblock_tamron_lvz3x3516", {{"serial_port", port_}});
	block_ = static_cast<camblock *>(camblock_tamron_lvz3x3516_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, block_);
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_INFO).find("camblock_tamron_lvz3x3516_create, " + port_ + " opened\n"));
	struct termios t;
	ASSERT_EQ(0, tcgetattr(slave_, &t));
	EXPECT_EQ((speed_t)B115200, cfgetospeed(&t));
	EXPECT_EQ((tcflag_t)CS8, t.c_cflag & CSIZE);
	EXPECT_EQ(1, t.c_cc[VTIME]);
	EXPECT_EQ(0, t.c_cc[VMIN]);
	EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO));
	EXPECT_EQ(CAMBLOCK_TYPE_SERIAL, (int)block_->type);
	ASSERT_NE(nullptr, block_->iris);
	EXPECT_EQ(0u, block_->iris->type);
	EXPECT_EQ(block_, block_->iris->owner);
	ASSERT_NE(nullptr, block_->ircut);
	EXPECT_EQ((uint32_t)IRCUT_TYPE_LENS, block_->ircut->type);
	EXPECT_EQ(-3, camblock_read_register(block_, 0x200));
	t.c_cc[VTIME] = 0;
	tcsetattr(slave_, TCSANOW, &t);

	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(0, block_->mcu.initialised);
	EXPECT_EQ((Bytes{0x83, 0x01, 0x82, 0x80}), start());
	camblock_poll_init(block_);
	EXPECT_EQ(1, block_->mcu.initialised);
	// The periodic requests: status every 15 s, status word every 60 s.
	Timeouts::step(15000);
	Bytes sent = line();
	ASSERT_EQ(13u, sent.size());
	EXPECT_EQ(0x10, sent[6]);
}

TEST_F(ThermalLensTest, StartsUpAfterFourSilentAttempts)
{
	create();
	Timeouts::step(300);
	EXPECT_TRUE(line().empty());
	Timeouts::step(100);
	Bytes sent = tick();
	ASSERT_EQ(13u, sent.size());
	EXPECT_EQ(frame(1, {0x83, 0x01, 0x05, 0x00}), sent);
}

TEST_F(ThermalLensTest, UnopenablePortIsLoggedAndRetried)
{
	section("camblock_tamron_lvz3x3516", {{"serial_port", root_ + "/no-such-tty"}});
	block_ = static_cast<camblock *>(camblock_tamron_lvz3x3516_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, block_);
	EXPECT_NE(std::string::npos,
	          log_.text(DEBUG_ERROR)
	              .find("camblock_tamron_lvz3x3516_create, Couldn't open " + root_ + "/no-such-tty\n"));
	Timeouts::step(400 + 50 * 10);
	EXPECT_FALSE(Timeouts::all().empty()); // the first message keeps being tried
}

TEST_F(ThermalLensTest, MoveAndStopMessagesByteForByte)
{
	create(false);
	start();
	zoom_move_abs(block_->zoom, 20000);
	EXPECT_EQ(frame(5, {0x21, '$', 0x20, 0x4E, 0x88, 0x13, 0x00, 0x00}), tick());
	lens_sends(answer(frame(5, {0x21})));
	tick();
	// Beyond the mechanical end the move is clamped.
	focus_move_abs(block_->focus, 40000, 3);
	EXPECT_EQ(frame(6, {0x20, '$', 0x00, 0x7C, 0x03, 0x00, 0x00, 0x00}), tick());
	EXPECT_EQ(31744, block_->focus->target);
	lens_sends(answer(frame(6, {0x20})));
	tick();
	// A stop jumps the queue, with a status request behind it.
	focus_stop(block_->focus);
	zoom_stop(block_->zoom);
	EXPECT_EQ(frame(7, {0x31, '$', 0x00, 0x00}), tick());
	lens_sends(answer(frame(7, {0x31})));
	tick();
	EXPECT_EQ(frame(8, {0x10, 0x44, 0x00, 0x00}), tick());
	lens_sends(answer(frame(8, {0x10})));
	tick();
	EXPECT_EQ(frame(9, {0x30, 0x20, 0x00, 0x00}), tick());
}

TEST_F(ThermalLensTest, GarbledOrMissingAnswerResendsTheSameMessage)
{
	create(false);
	start();
	zoom_move_abs(block_->zoom, 24576);
	focus_move_abs(block_->focus, 20000, 1);
	Bytes zoom = tick();
	ASSERT_EQ(17u, zoom.size());
	struct {
		const char *what;
		Bytes reply;
	} bad[] = {
	    {"bad CRC",
	     [&] {
		     Bytes a = answer(zoom);
		     a[10] ^= 1;
		     return a;
	     }()},
	    {"bad end byte",
	     [&] {
		     Bytes a = answer(zoom);
		     a.back() = 0;
		     return a;
	     }()},
	    {"wrong sequence",
	     [&] {
		     Bytes a = answer(zoom);
		     a[1]++;
		     return a;
	     }()},
	    {"wrong code", answer(frame(zoom[1], {0x20}))},
	    {"no start byte", Bytes{0xAA, 0x55}},
	};
	for (auto &c : bad) {
		SCOPED_TRACE(c.what);
		lens_sends(c.reply);
		Bytes resent;
		for (int i = 0; i < 3 && resent.empty(); i++)
			resent = tick();
		EXPECT_EQ(zoom, resent);
	}
	// Silence: the same frame again after 60 ticks, not before.
	for (int i = 0; i < 59; i++)
		ASSERT_TRUE(tick().empty()) << i;
	EXPECT_EQ(zoom, tick());
	lens_sends(answer(zoom));
	tick();
	Bytes focus = tick();
	ASSERT_EQ(17u, focus.size());
	EXPECT_EQ(0x20, focus[6]);
	EXPECT_EQ(zoom[1] + 1, focus[1]);
}

TEST_F(ThermalLensTest, StatusReportFeedsSlotsAndPollAsksOnlyTwice)
{
	create(false);
	start();
	Bytes status(20);
	status[1] = 0x00, status[2] = 0x50;   // focus 0x5000
	status[5] = 0x00, status[6] = 0x7F;   // zoom 32512
	status[9] = 0x00, status[10] = 0x06;  // 24 degrees
	status[11] = 0x80, status[12] = 0x04; // 18 degrees
	camblock_start_init(block_);
	Bytes sent = tick();
	EXPECT_EQ(frame(5, {0x02, 0x01, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00}), sent);
	lens_sends(answer(sent));
	tick();
	thermal_lens_queue(block_, frame(0, {0x10, 0x44, 0, 0}).data(), 13, 0);
	sent = tick();
	lens_sends(answer(sent, status));
	tick();
	int temperature = 0;
	EXPECT_EQ(1, camblock_get_lens_temperature(block_, &temperature));
	EXPECT_EQ(18 << 14, temperature);
	EXPECT_EQ(0x5000, camblock_distance_index_to_focus_position(block_, 0, 0));

	// The zoom runs to a target the lens reported, far from its position:
	// each poll asks for status, until two requests are waiting.
	zoom_move_abs(block_->zoom, 24576);
	sent = tick();
	Bytes reply(4);
	reply[2] = 0x00, reply[3] = 0x60; // reported zoom 24576
	lens_sends(answer(sent, reply));
	tick();
	optics_state st = {};
	for (int i = 0; i < 3; i++) {
		EXPECT_EQ(0, camblock_poll(block_, &st));
		EXPECT_EQ(1, st.zoom_moving);
		EXPECT_EQ(32512, st.zoom_position);
	}
	Bytes requests = tick();
	EXPECT_EQ(13u, requests.size());
	lens_sends(answer(requests));
	tick();
	Bytes second = tick();
	ASSERT_EQ(13u, second.size());
	lens_sends(answer(second));
	tick();
	EXPECT_TRUE(tick().empty()); // no third
}

TEST_F(ThermalLensTest, OldFirmwareIsReported)
{
	const struct {
		uint8_t major, minor;
		bool warned;
	} cases[] = {{1, 3, true}, {0, 10, true}, {1, 4, false}, {2, 4, false}, {2, 3, false}};
	create(false);
	lens_sends({'W'});
	Timeouts::step(100);
	line();
	Bytes first = tick();
	lens_sends(answer(first));
	tick();
	Bytes version = tick();
	ASSERT_EQ(0x01, version[6]);
	for (auto &c : cases) {
		SCOPED_TRACE(testing::Message() << (int)c.major << "." << (int)c.minor);
		log_.clear();
		Bytes payload(32);
		payload[30] = c.major, payload[31] = c.minor;
		lens_sends(answer(version, payload));
		tick();
		char text[80];
		snprintf(text, sizeof(text),
		         "Thermal lens firmware version %d.%02d, expected at least 1.04\n", c.major, c.minor);
		EXPECT_EQ(c.warned ? std::string(text) : "", log_.text(DEBUG_WARNING));
		thermal_lens_queue(block_, version.data(), version.size(), 1);
		version = tick();
	}
}

// Against the simulated lens on "/dev/ttyPCC0": the frames it received, as
// it logged them.
class SimulatedThermalLensTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		thermal_lens_set_timeouts(Timeouts::add, Timeouts::remove);
		Timeouts::all().clear();
		simsoc_thermal_lens_reset();
		section("camblock_tamron_lvz3x3516", {});
		block_ = static_cast<camblock *>(camblock_tamron_lvz3x3516_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, block_);
	}
	void TearDown() override
	{
		platform_remove_all_camblock(plat_, 0);
		EXPECT_TRUE(Timeouts::all().empty());
		thermal_lens_set_timeouts(nullptr, nullptr);
		simsoc_thermal_lens_reset();
		OpticsTest::TearDown();
	}
	std::vector<std::string> received()
	{
		return lines_with(take_text(simsoc_log_dump()), "thermal_lens: rx ");
	}
	camblock *block_ = nullptr;
};

TEST_F(SimulatedThermalLensTest, StartsUpOnTheDefaultPort)
{
	EXPECT_NE(std::string::npos, log_.text(DEBUG_INFO).find("/dev/ttyPCC0 opened\n"));
	Timeouts::step(100 + 50 * 20);
	auto rx = received();
	ASSERT_EQ(4u, rx.size());
	EXPECT_EQ("0F 01 00 00 04 00 83 01 05 00 12 35 F0", rx[0]);
	const char *codes[] = {"01", "82", "80"};
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(codes[i], rx[i + 1].substr(18, 2)) << rx[i + 1];
}

TEST_F(SimulatedThermalLensTest, FaultyAnswersResendTheSameFrame)
{
	const struct {
		simsoc_thermal_fault fault;
		int late_reads;
		int ticks;
		size_t sent; // how often the move went out
	} cases[] = {
	    {SIMSOC_THERMAL_SILENT, 0, 70, 2},       {SIMSOC_THERMAL_LATE, 5, 20, 1},
	    {SIMSOC_THERMAL_SHORT, 0, 70, 2},        {SIMSOC_THERMAL_BAD_CRC, 0, 20, 2},
	    {SIMSOC_THERMAL_BAD_SEQUENCE, 0, 20, 2}, {SIMSOC_THERMAL_BAD_CODE, 0, 20, 2},
	};
	Timeouts::step(100 + 50 * 20);
	received();
	int32_t target = 20000;
	for (auto &c : cases) {
		SCOPED_TRACE(c.fault);
		simsoc_log_clear();
		simsoc_thermal_lens_fault(c.fault, 1, c.late_reads);
		zoom_move_abs(block_->zoom, ++target);
		focus_move_abs(block_->focus, 20000, 1);
		Timeouts::step(50 * c.ticks);
		auto rx = received();
		ASSERT_EQ(c.sent + 1, rx.size());
		for (size_t i = 1; i < c.sent; i++)
			EXPECT_EQ(rx[0], rx[i]);
		EXPECT_EQ("21", rx[0].substr(18, 2));
		EXPECT_EQ("20", rx[c.sent].substr(18, 2)); // the focus only after the zoom
	}
}

TEST(ThermalLensUnits, ZoomAndFocusScales)
{
	zoom_object *zoom = zoom_new_lvz3x3516(nullptr);
	EXPECT_EQ(3 << 14, zoom->magnification_at_position(zoom, 32512));
	EXPECT_EQ(1 << 14, zoom->magnification_at_position(zoom, 16640));
	EXPECT_EQ(24576, zoom->position_for_magnification(zoom, 2 << 14));
	EXPECT_EQ(16640, zoom->position_for_magnification(zoom, 0));
	EXPECT_EQ(35 << 14, zoom->focal_length_at_position(zoom, 16640));
	EXPECT_EQ(42 << 14, zoom->focal_length_at_position(zoom, 20608));
	EXPECT_EQ(60 << 14, zoom->focal_length_at_position(zoom, 24576));
	EXPECT_EQ(77 << 14, zoom->focal_length_at_position(zoom, 28544));
	focus_object *focus = focus_new_lvz3x3516(nullptr);
	EXPECT_EQ(0, focus->get_distance_diopters(focus));
	focus->value = 17408 + 20075; // 200754 steps per dioptre
	EXPECT_EQ(1638, focus->get_distance_diopters(focus));
	focus_destroy(focus);
	zoom_destroy(zoom);
}

} // namespace
