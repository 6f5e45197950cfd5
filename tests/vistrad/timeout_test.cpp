#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "core/control_timeout.h"
#include "heap_in_use.h"
#include "log_capture.h"
#include "platform/platform_vorsalind.h"

namespace
{

struct timespec fake_now;

void fake_clock(struct timespec *now)
{
	*now = fake_now;
}

void set_now(time_t sec, long usec)
{
	fake_now.tv_sec = sec;
	fake_now.tv_nsec = usec * 1000;
}

std::vector<std::string> fired;

void note_callback(control *, void *argument, control_timeout *)
{
	fired.push_back(static_cast<const char *>(argument));
}

struct prodconf_stub {
	int unused;
} conf_stub;

class Timeouts : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fired.clear();
		control_timeout_set_clock(fake_clock);
		set_now(100, 0);
		plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		engine = control_new(plat);
		owner = algo_step_create(nullptr, nullptr, nullptr, nullptr);
	}
	void TearDown() override
	{
		algo_step_destroy(owner, engine);
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		control_timeout_set_clock(nullptr);
	}
	std::vector<uint32_t> expired_types()
	{
		GList *list = control_take_expired_timeouts(engine, nullptr);
		std::vector<uint32_t> types;
		for (GList *l = list; l; l = l->next)
			types.push_back(static_cast<control_job *>(l->data)->type);
		g_list_free(list);
		return types;
	}
	LogCapture log;
	struct platform *plat = nullptr;
	control *engine = nullptr;
	algo_step *owner = nullptr;
};

TEST_F(Timeouts, TwentyTypesThenRefusal)
{
	std::vector<control_timeout *> made;
	for (uint32_t i = 0; i < 20; i++) {
		control_timeout *t = control_create_timeout(engine, owner);
		ASSERT_NE(nullptr, t);
		EXPECT_EQ(90 + i, t->type);
		EXPECT_EQ(90 + i, t->job.type);
		EXPECT_EQ(0, t->job.stream_id);
		algo_input probe = {90 + i, 5, nullptr};
		EXPECT_TRUE(algo_step_has_input(owner, &probe));
		made.push_back(t);
	}
	log.clear();
	EXPECT_EQ(nullptr, control_create_timeout(engine, owner));
	EXPECT_EQ("No more timeout types!\n", log.text(DEBUG_ERROR));

	control_destroy_timeout(made[5], engine);
	EXPECT_EQ(19u, g_list_length(owner->timeouts));
	control_timeout *again = control_create_timeout(engine, owner);
	ASSERT_NE(nullptr, again);
	EXPECT_EQ(95u, again->type);
}

TEST_F(Timeouts, FireInDeadlineOrder)
{
	control_timeout *a = control_create_timeout(engine, owner);
	control_timeout *b = control_create_timeout(engine, owner);
	control_timeout *c = control_create_callback_timeout(engine, note_callback, (void *)"c");
	control_timestamp ms300 = {0, 300000}, ms100 = {0, 100000}, ms200 = {0, 200000};
	control_start_timeout(engine, a, &ms300);
	control_start_timeout(engine, b, &ms100);
	control_start_timeout(engine, c, &ms200);

	set_now(100, 50000);
	EXPECT_TRUE(expired_types().empty());
	set_now(100, 250000);
	EXPECT_EQ((std::vector<uint32_t>{b->type}), expired_types());
	EXPECT_EQ((std::vector<std::string>{"c"}), fired);
	EXPECT_EQ(100, b->job.timestamp.sec);
	EXPECT_EQ(250000, b->job.timestamp.usec);
	set_now(100, 300000);
	EXPECT_EQ((std::vector<uint32_t>{a->type}), expired_types());
	// One-shot: nothing fires again until started again.
	set_now(105, 0);
	EXPECT_TRUE(expired_types().empty());
	control_destroy_timeout(c, engine);
}

TEST_F(Timeouts, ExpiredInOnePassComeLatestDeadlineFirst)
{
	control_timeout *a = control_create_timeout(engine, owner);
	control_timeout *b = control_create_timeout(engine, owner);
	control_timestamp ms10 = {0, 10000}, ms20 = {0, 20000};
	control_start_timeout(engine, b, &ms20);
	control_start_timeout(engine, a, &ms10);
	set_now(101, 0);
	EXPECT_EQ((std::vector<uint32_t>{b->type, a->type}), expired_types());
}

TEST_F(Timeouts, EqualDeadlinesLatestStartedFirst)
{
	control_timeout *x = control_create_callback_timeout(engine, note_callback, (void *)"x");
	control_timeout *y = control_create_callback_timeout(engine, note_callback, (void *)"y");
	control_timestamp ms5 = {0, 5000};
	control_start_timeout(engine, x, &ms5);
	control_start_timeout(engine, y, &ms5);
	set_now(100, 5000);
	expired_types();
	EXPECT_EQ((std::vector<std::string>{"y", "x"}), fired);
	control_destroy_timeout(x, engine);
	control_destroy_timeout(y, engine);
}

TEST_F(Timeouts, RestartMovesTheDeadlineAndFiresOnce)
{
	control_timeout *t = control_create_callback_timeout(engine, note_callback, (void *)"t");
	control_timestamp ms100 = {0, 100000};
	control_start_timeout(engine, t, &ms100);
	set_now(100, 90000);
	control_start_timeout(engine, t, nullptr); // keeps the interval: due at 100.190000
	set_now(100, 150000);
	expired_types();
	EXPECT_TRUE(fired.empty());
	set_now(100, 190000);
	expired_types();
	expired_types();
	EXPECT_EQ(1u, fired.size());
	control_start_timeout(engine, t, nullptr);
	control_stop_timeout(engine, t);
	set_now(200, 0);
	expired_types();
	EXPECT_EQ(1u, fired.size());
	control_destroy_timeout(t, engine);
}

struct WaitCase {
	control_timestamp interval;
	long advance_usec;
	int result;
	control_timestamp wait;
};

TEST_F(Timeouts, NextTimeoutTable)
{
	control_timestamp wait = {};
	EXPECT_EQ(1, control_next_timeout(engine, &wait));
	EXPECT_EQ(1, wait.sec);
	EXPECT_EQ(0, wait.usec);

	const WaitCase cases[] = {
	    {{0, 0}, 0, 0, {0, 0}},
	    {{0, 500000}, 0, 1, {0, 500000}},
	    {{0, 500000}, 200000, 1, {0, 300000}},
	    {{0, 900000}, 300000, 1, {0, 600000}}, // crosses a second boundary
	    {{1, 0}, 0, 1, {1, 0}},
	    {{1, 500000}, 0, 1, {1, 0}}, // never more than a second
	    {{3, 0}, 0, 1, {1, 0}},
	    {{0, 2500000}, 2000000, 1, {0, 500000}}, // a long interval in microseconds
	    {{0, 100}, 100, 0, {0, 0}},
	    {{0, 100}, 1000, 0, {0, 0}},
	};
	for (const auto &c : cases) {
		set_now(100, 700000);
		control_timeout *t = control_create_callback_timeout(engine, note_callback, (void *)"w");
		control_start_timeout(engine, t, &c.interval);
		long usec = 700000 + c.advance_usec;
		set_now(100 + usec / 1000000, usec % 1000000);
		wait = {-1, -1};
		EXPECT_EQ(c.result, control_next_timeout(engine, &wait))
		    << c.interval.sec << "." << c.interval.usec;
		if (c.result == 1) {
			EXPECT_EQ(c.wait.sec, wait.sec) << c.interval.sec << "." << c.interval.usec;
			EXPECT_EQ(c.wait.usec, wait.usec) << c.interval.sec << "." << c.interval.usec;
		}
		EXPECT_LT(t->deadline.usec, 1000000);
		control_destroy_timeout(t, engine);
	}
}

TEST_F(Timeouts, LongIntervalGivesANormalisedDeadline)
{
	control_timeout *t = control_create_callback_timeout(engine, note_callback, (void *)"n");
	set_now(100, 900000);
	control_timestamp iv = {1, 3250000};
	control_start_timeout(engine, t, &iv);
	EXPECT_EQ(105, t->deadline.sec);
	EXPECT_EQ(150000, t->deadline.usec);
	control_destroy_timeout(t, engine);
}

int note_typed(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	fired.push_back("typed:" + std::to_string(job->type) + "/" + std::to_string(job->stream_id));
	return 0;
}

TEST_F(Timeouts, TypedTimeoutReachesItsStepThroughDispatch)
{
	algo_step *s = algo_step_create_stream_id(256, nullptr, note_typed, nullptr, nullptr);
	control_timeout *t = control_create_timeout(engine, s);
	t->job.stream_id = 256;
	algo_group *g = algo_group_create(nullptr);
	algo_group_insert(g, s);
	control_add_group(engine, g);
	control_timestamp ms1 = {0, 1000};
	control_start_timeout(engine, t, &ms1);
	set_now(100, 1000);
	GList *list = control_take_expired_timeouts(engine, nullptr);
	for (GList *l = list; l; l = l->next)
		control_queue_job(engine, static_cast<control_job *>(l->data));
	g_list_free(list);
	control_dispatch(engine, nullptr);
	EXPECT_EQ((std::vector<std::string>{"typed:" + std::to_string(t->type) + "/256"}), fired);
	// A pending callback timeout left at stop is destroyed with the engine:
	// a whole engine life with one gives back all it took (freed small blocks
	// must not linger in the allocator's caches, see the test's environment).
	mallopt(M_MXFAST, 0);
	size_t before = heap_in_use();
	control *other = control_new(plat);
	control_timeout *left = control_create_callback_timeout(other, note_callback, (void *)"left");
	control_start_timeout(other, left, &ms1);
	control_stop(other);
	control_free(other);
	EXPECT_EQ(before, heap_in_use());
}

} // namespace

// Steps measure elapsed time with control_get_timestamp: it must read the
// same clock as the deadlines, or a stepped clock drifts from their view.
TEST_F(Timeouts, TimestampReadsTheInjectedClock)
{
	set_now(4242, 123456);
	control_timestamp ts = {};
	control_get_timestamp(&ts);
	EXPECT_EQ(4242, ts.sec);
	EXPECT_EQ(123456, ts.usec);
}
