// The stream synchronisation step with fake sensors: what a sensor can do
// is set in its record, and its set_syncadjust slot is the test's recorder;
// frame-sync records are queued by hand with chosen frame numbers and time
// stamps.
#include <mutex>
#include <thread>

#include "core/control.h"
#include "platform/sensor.h"
#include "platform/video_sync.h"
#include "platform_fixture.h"

namespace
{

struct fake_sensor {
	int answer = 0; // what set_syncadjust leaves to make up
	std::vector<int32_t> adjusts;
};

std::mutex fakes_lock;
std::map<const sensor *, fake_sensor> fakes;

fake_sensor &fake(const sensor *s)
{
	return fakes[s];
}

int record_syncadjust(sensor *s, int32_t adjust, int32_t)
{
	std::lock_guard<std::mutex> hold(fakes_lock);
	fake(s).adjusts.push_back(adjust);
	return adjust == 0 ? 0 : fake(s).answer;
}

// A sensor that can shift its frame timing, at fps frames a second with
// the given line count.
sensor *adjustable_sensor(int32_t fps = 25, int32_t lines = 1000)
{
	sensor *s = sensor_new();
	s->max_fps = fps;
	s->first_line = 0;
	s->last_line = lines - 1;
	s->set_syncadjust = record_syncadjust;
	return s;
}

} // namespace

namespace
{

const int64_t second = 1000000;

class VideoSync : public PlatformTest
{
      protected:
	void SetUp() override
	{
		PlatformTest::SetUp();
		fakes.clear();
		settings({});
	}
	void TearDown() override
	{
		for (int32_t s : made)
			control_remove_groups_of_owner(engine_, (uint32_t)s);
		EXPECT_EQ(nullptr, video_sync_groups()) << "a group outlived its members";
		PlatformTest::TearDown();
	}
	void settings(const std::vector<std::pair<std::string, std::string>> &keys)
	{
		g_hash_table_remove(conf_->sections, "algo_video_sync_streams_handler");
		section("algo_video_sync_streams_handler", keys);
	}
	// A sensor on the stream's channel, and its step, initialised.
	sensor *stream(int32_t s, int32_t fps = 25, int32_t lines = 1000, uint32_t type = 36)
	{
		sensor *sens = adjustable_sensor(fps, lines);
		sens->type = type;
		fake(sens) = fake_sensor();
		platform_add_sensor(plat_, sens, s);
		void *token = algo_video_sync_streams_handler(conf_, engine_, s);
		EXPECT_NE(nullptr, token);
		algo_video_sync_streams_handler_destroy(token);
		control_init_groups(engine_);
		made.push_back(s);
		return sens;
	}
	// The stream's step and sensor go.
	void drop(int32_t s)
	{
		control_remove_groups_of_owner(engine_, (uint32_t)s);
		platform_remove_all_sensor(plat_, s);
		made.erase(std::find(made.begin(), made.end(), s));
	}
	// A frame-sync record of the stream at a time in microseconds.
	void frame(int32_t s, uint32_t number, int64_t at)
	{
		control_job job = {};
		job.type = VIDEO_SYNC_INPUT_TYPE;
		job.stream_id = s;
		job.frame = number;
		job.timestamp.sec = at / second;
		job.timestamp.usec = at % second;
		control_dispatch(engine_, &job);
	}
	// The adjustments the sensor was given since the last look.
	static std::vector<int32_t> adjusts(sensor *s)
	{
		std::vector<int32_t> out;
		out.swap(fake(s).adjusts);
		return out;
	}
	std::vector<int32_t> made;
};

std::vector<std::vector<int>> groups_now()
{
	std::vector<std::vector<int>> out;
	GList *groups = video_sync_groups();
	for (GList *g = groups; g; g = g->next) {
		out.emplace_back();
		for (GList *m = static_cast<GList *>(g->data); m; m = m->next)
			out.back().push_back(GPOINTER_TO_INT(m->data));
	}
	video_sync_groups_free(groups);
	return out;
}

using adjustments = std::vector<int32_t>;

// The leader's whole-frame second and the period a follower aims at follow
// the rate key: whole rates dividing 50 or 60, else half a frame less.
TEST_F(VideoSync, RateKeys)
{
	const struct {
		int32_t fps;
		int leader_skip;   // rate key rounded
		int32_t to_leader; // follower 20 ms behind: period - 20000
	} cases[] = {{30, 30, 13333}, {24, 24, 22553}, {25, 25, 20000}, {12, 12, 63333}, {7, 7, 133846}};
	for (auto &c : cases) {
		const int32_t base = 0;
		SCOPED_TRACE(c.fps);
		sensor *leader = stream(base, c.fps);
		sensor *follower = stream(base + 0x100, c.fps);
		frame(base, 1, 100 * second);
		frame(base + 0x100, 1, 100 * second + 20000);
		EXPECT_EQ((adjustments{c.to_leader, 0}), adjusts(follower));
		for (int i = 0; i < c.leader_skip; i++)
			frame(base, 2 + i, 101 * second);
		EXPECT_EQ(adjustments{0}, adjusts(leader));
		frame(base, 100, 102 * second);
		EXPECT_EQ(adjustments{0}, adjusts(leader));
		drop(base);
		drop(base + 0x100);
	}
}

// The follower is moved the short way: past 8/9 of a period the shift is
// negative; stat_periodicity divides it, truncating, and 0 gives 0.
TEST_F(VideoSync, FollowerShift)
{
	const struct {
		const char *periodicity;
		int64_t offset; // leader's time stamp - follower's
		int32_t adjust;
	} cases[] = {
	    {"1", 38000, -2000},  {"1", 35555, 35555}, {"1", 35556, -4444}, {"1", -10000, 30000},
	    {"1", 41000, 1000},   {"1", 0, 0},         {"2", 38000, -1000}, {"2", 35555, 17777},
	    {"3", -10000, 10000}, {"0", 38000, 0},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(std::string(c.periodicity) + " " + std::to_string(c.offset));
		settings({{"stat_periodicity", c.periodicity}, {"acceptable_line_diff", "1000"}});
		sensor *leader = stream(0);
		sensor *follower = stream(0x100);
		frame(0, 1, 100 * second);
		frame(0x100, 1, 100 * second - c.offset);
		// Synchronised: the adjustment ends.
		EXPECT_EQ((adjustments{c.adjust, 0}), adjusts(follower));
		adjusts(leader);
		drop(0);
		drop(0x100);
	}
}

// The leader's measured rate sets the follower's period; a rate outside
// 0.1 to 1.25 times the key is not believed.
TEST_F(VideoSync, MeasuredRate)
{
	settings({{"continuous_frame_sync", "true"}, {"acceptable_line_diff", "-1"}});
	stream(0);
	sensor *follower = stream(0x100);
	fake(follower).answer = 5;
	const struct {
		uint32_t frames;
		int64_t dt;
		int32_t to_leader; // follower 10 ms behind
	} steps[] = {
	    {1, 800000, 30000},    // 1.25 fps: 0.05 x the key
	    {1, 32000, 30000},     // 31.25 fps: 1.25 x the key
	    {1, 50000, 40000},     // 20 fps
	    {100, 2000000, 40000}, // too many frames
	    {2, 80000, 30000},     // 25 fps again
	    {1, 0, 30000},         // no time passed
	};
	uint32_t number = 1;
	int64_t at = 100 * second;
	frame(0, number, at);
	for (auto &s : steps) {
		SCOPED_TRACE(std::to_string(s.frames) + " in " + std::to_string(s.dt));
		number += s.frames;
		at += s.dt;
		frame(0, number, at);
		frame(0x100, number, at + 10000);
		EXPECT_EQ(adjustments{s.to_leader}, adjusts(follower));
	}
	// Absurd time stamps are taken as any others, without overflow.
	for (int32_t s : {0, 0x100}) {
		control_job job = {};
		job.type = VIDEO_SYNC_INPUT_TYPE;
		job.stream_id = s;
		job.frame = number + 1;
		job.timestamp.sec = s ? INT64_MIN : INT64_MAX;
		control_dispatch(engine_, &job);
	}
	EXPECT_EQ(1u, adjusts(follower).size());
}

// Synchronised within acceptable_line_diff: the adjustment ends and a
// second of frames is skipped. Short of it: a warning every interval x
// rate frames (then 30 seconds of rest), never with an interval of 0.
// Refused: "failing sync" and 30 seconds of rest.
TEST_F(VideoSync, FollowerOutcomes)
{
	settings({{"continuous_frame_sync", "true"},
	          {"acceptable_line_diff", "3"},
	          {"not_synced_warning_interval_s", "2"}});
	sensor *leader = stream(0, 2);
	sensor *follower = stream(0x100, 2);
	int64_t at = 100 * second;
	uint32_t n = 1;
	auto both = [&]() {
		frame(0, n, at);
		frame(0x100, n, at - 10000);
		n++;
		at += second / 2;
	};

	fake(follower).answer = 3;
	both();
	EXPECT_EQ((adjustments{10000, 0}), adjusts(follower));
	both(), both(); // a second: two frames
	EXPECT_TRUE(adjusts(follower).empty());
	both();
	EXPECT_EQ((adjustments{10000, 0}), adjusts(follower));
	both(), both();

	fake(follower).answer = 4;
	for (int i = 0; i < 3; i++)
		both();
	EXPECT_EQ((adjustments{10000, 10000, 10000}), adjusts(follower));
	EXPECT_TRUE(log_.text(DEBUG_INFO).empty());
	both();
	EXPECT_EQ((adjustments{10000, 0}), adjusts(follower));
	EXPECT_EQ("Cant sync channel 1 to 0 within 2 seconds, sleeping for 30 seconds \n",
	          log_.text(DEBUG_INFO));
	for (int i = 0; i < 60; i++)
		both();
	EXPECT_TRUE(adjusts(follower).empty());
	both();
	EXPECT_EQ(adjustments{10000}, adjusts(follower));

	fake(follower).answer = -1;
	both();
	EXPECT_EQ(adjustments{10000}, adjusts(follower));
	EXPECT_EQ("failing sync\n", log_.text(DEBUG_ERROR));
	for (int i = 0; i < 60; i++)
		both();
	EXPECT_TRUE(adjusts(follower).empty());
	adjusts(leader);

	// No warning interval: failures never rest.
	drop(0x100);
	settings({{"continuous_frame_sync", "true"}, {"not_synced_warning_interval_s", "0"}});
	log_.clear();
	follower = stream(0x100, 2);
	fake(follower).answer = 4;
	for (int i = 0; i < 50; i++)
		both();
	EXPECT_EQ(50u, adjusts(follower).size());
	EXPECT_TRUE(log_.text(DEBUG_INFO).empty());
}

// The leader adjusts by 0 and, unless continuous, looks again a second of
// frames later; the next member leads at once when it goes.
TEST_F(VideoSync, LeaderAndSuccession)
{
	sensor *leader = stream(0);
	sensor *second_member = stream(0x100);
	sensor *third = stream(0x200);
	fake(second_member).answer = 500; // never synchronised
	EXPECT_EQ((std::vector<std::vector<int>>{{1, 2, 3}}), groups_now());
	frame(0, 1, 100 * second);
	EXPECT_EQ(adjustments{0}, adjusts(leader));
	frame(0x100, 1, 100 * second + 1000);
	frame(0x100, 2, 100 * second + 41000);
	EXPECT_EQ((adjustments{-1000, -1000}), adjusts(second_member));

	drop(0);
	EXPECT_EQ((std::vector<std::vector<int>>{{2, 3}}), groups_now());
	frame(0x100, 3, 100 * second + 81000);
	EXPECT_EQ(adjustments{0}, adjusts(second_member));
	frame(0x200, 1, 100 * second + 82000);
	EXPECT_EQ((adjustments{-1000, 0}), adjusts(third));
	drop(0x100);
	drop(0x200);
	EXPECT_TRUE(groups_now().empty());
}

// Sensors of another rate, line count or type make groups of their own;
// the product configuration has the query.
TEST_F(VideoSync, Groups)
{
	stream(0);
	stream(0x100, 30);
	stream(0x200);
	stream(0x300, 25, 1200);
	stream(0x400, 25, 1000, 27);
	stream(0x500, 30);
	EXPECT_EQ((std::vector<std::vector<int>>{{1, 3}, {2, 6}, {4}, {5}}), groups_now());
	ASSERT_NE(nullptr, conf_->sync_groups);
	GList *groups = conf_->sync_groups();
	EXPECT_EQ(4u, g_list_length(groups));
	video_sync_groups_free(groups);
}

// No step without the operation, without a frame rate, or without settings.
TEST_F(VideoSync, NoStep)
{
	sensor *s = adjustable_sensor();
	s->set_syncadjust = nullptr;
	platform_add_sensor(plat_, s, 0);
	void *token = algo_video_sync_streams_handler(conf_, engine_, 0);
	EXPECT_NE(nullptr, token);
	algo_video_sync_streams_handler_destroy(token);
	GList *groups = control_list_groups(engine_);
	EXPECT_EQ(nullptr, groups);
	g_list_free(groups);

	token = algo_video_sync_streams_handler(conf_, engine_, 0x100);
	EXPECT_NE(nullptr, token); // no sensor
	algo_video_sync_streams_handler_destroy(token);

	sensor *slow = stream(0x200, 0);
	frame(0x200, 1, second);
	EXPECT_TRUE(adjusts(slow).empty());
	EXPECT_TRUE(groups_now().empty());

	g_hash_table_remove(conf_->sections, "algo_video_sync_streams_handler");
	log_.clear();
	EXPECT_EQ(nullptr, algo_video_sync_streams_handler(conf_, engine_, 0x300));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed to read prodconf from file\n"));
}

// Two engines on two threads: their steps join, run in and leave one group
// while a third thread asks for the groups.
TEST_F(VideoSync, TwoThreads)
{
	control *other = control_new(plat_);
	for (int32_t s : {0, 0x100, 0x200, 0x300}) {
		sensor *sens = adjustable_sensor();
		fake(sens).answer = 7;
		platform_add_sensor(plat_, sens, s);
	}
	std::atomic<bool> done{false};
	auto churn = [this](control *engine, int32_t first) {
		for (int round = 0; round < 40; round++) {
			for (int32_t s : {first, first + 0x100}) {
				void *token = algo_video_sync_streams_handler(conf_, engine, s);
				algo_video_sync_streams_handler_destroy(token);
			}
			control_init_groups(engine);
			for (uint32_t n = 1; n < 20; n++) {
				for (int32_t s : {first, first + 0x100}) {
					control_job job = {};
					job.type = VIDEO_SYNC_INPUT_TYPE;
					job.stream_id = s;
					job.frame = n;
					job.timestamp.sec = 100 + n / 25;
					job.timestamp.usec = (n % 25) * 40000 + s;
					control_dispatch(engine, &job);
				}
			}
			control_remove_groups_of_owner(engine, (uint32_t)first);
			control_remove_groups_of_owner(engine, (uint32_t)(first + 0x100));
		}
	};
	std::thread query([&done] {
		while (!done)
			video_sync_groups_free(video_sync_groups());
	});
	std::thread a(churn, engine_, 0);
	std::thread b(churn, other, 0x200);
	a.join();
	b.join();
	done = true;
	query.join();
	control_stop(other);
	control_free(other);
	EXPECT_TRUE(groups_now().empty());
}

} // namespace
