#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/control.h"
#include "heap_in_use.h"
#include "log_capture.h"
#include "platform/platform_vorsalind.h"

namespace
{

std::vector<std::string> trace;
std::map<const algo_step *, std::string> names;

int record_run(algo_step *step, control *engine)
{
	control_job *job = control_get_input(engine);
	trace.push_back(names[step] + ":" + std::to_string(job->type) + "/" + std::to_string(job->stream_id));
	return 0;
}

void record_release(control_job *job)
{
	trace.push_back("release:" + std::to_string(job->type));
}

struct prodconf_stub {
	int unused;
} conf_stub;

class Engine : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		trace.clear();
		names.clear();
		plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
	}
	void TearDown() override
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
	}
	algo_step *step(const std::string &name, std::vector<std::pair<uint32_t, int32_t>> inputs,
	                algo_step_fn run = record_run)
	{
		algo_step *s = algo_step_create(nullptr, run, nullptr, nullptr);
		for (auto &in : inputs)
			algo_step_add_input_stream_id(s, in.first, in.second);
		names[s] = name;
		return s;
	}
	algo_group *group(std::vector<algo_step *> steps, uint32_t owner = 0)
	{
		uint32_t *owner_record = nullptr;
		if (owner) {
			owner_record = g_new(uint32_t, 1);
			*owner_record = owner;
		}
		algo_group *g = algo_group_create(owner_record);
		for (algo_step *s : steps)
			algo_group_insert(g, s);
		return g;
	}
	control_job job(uint32_t type, int32_t stream_id)
	{
		control_job j = {};
		j.type = type;
		j.stream_id = stream_id;
		j.release = record_release;
		return j;
	}
	LogCapture log;
	struct platform *plat = nullptr;
	control *engine = nullptr;
};

TEST(AlgoInput, MatchingRule)
{
	struct {
		algo_input input, probe;
		int match;
	} cases[] = {
	    {{42, -1, nullptr}, {42, 256, nullptr}, 1},  {{42, 256, nullptr}, {42, -1, nullptr}, 1},
	    {{42, 256, nullptr}, {42, 256, nullptr}, 1}, {{42, 256, nullptr}, {42, 0, nullptr}, 0},
	    {{42, -1, nullptr}, {43, -1, nullptr}, 0},   {{42, 0, nullptr}, {42, 1, nullptr}, 0},
	};
	for (auto &c : cases)
		EXPECT_EQ(c.match, algo_input_match(&c.input, &c.probe))
		    << c.input.type << "/" << c.input.stream_id << " vs " << c.probe.type << "/"
		    << c.probe.stream_id;
}

TEST(AlgoInput, AddingAMatchingInputAddsNothing)
{
	algo_step *a = algo_step_create(nullptr, nullptr, nullptr, nullptr);
	algo_step_add_input_stream_id(a, 42, -1);
	algo_step_add_input_stream_id(a, 42, 256);
	EXPECT_EQ(1u, g_list_length(a->inputs));
	algo_step *b = algo_step_create(nullptr, nullptr, nullptr, nullptr);
	algo_step_add_input_stream_id(b, 42, 256);
	algo_step_add_input_stream_id(b, 42, -1);
	algo_step_add_input_stream_id(b, 42, 0);
	EXPECT_EQ(2u, g_list_length(b->inputs));
	algo_step_add_output(b, 154);
	algo_step_add_output(b, 154);
	EXPECT_EQ(2u, g_list_length(b->outputs));
	EXPECT_GT(b->global_id, a->global_id);
	algo_step_destroy(a, nullptr);
	algo_step_destroy(b, nullptr);
}

TEST(AlgoInput, FindGivesTheFirstMatchingInputInListOrder)
{
	algo_step *s = algo_step_create(nullptr, nullptr, nullptr, nullptr);
	algo_step_add_input_stream_id(s, 42, 0);
	algo_step_add_input_stream_id(s, 154, -1);
	algo_step_add_input_stream_id(s, 42, 256);
	algo_input *record = g_new(algo_input, 1);
	*record = {43, 5, nullptr};
	ASSERT_EQ(record, algo_step_add_input_record(s, record));
	auto input = [&](int i) { return static_cast<algo_input *>(g_list_nth_data(s->inputs, i)); };
	const struct {
		algo_input probe;
		algo_input *found;
	} cases[] = {
	    {{42, 0, nullptr}, input(0)}, {{42, 256, nullptr}, input(2)}, {{42, -1, nullptr}, input(0)},
	    {{42, 1, nullptr}, nullptr},  {{154, 7, nullptr}, input(1)},  {{43, 5, nullptr}, record},
	    {{43, -1, nullptr}, record},  {{43, 6, nullptr}, nullptr},    {{99, -1, nullptr}, nullptr},
	    {{0, -1, nullptr}, nullptr},  {{173, -1, nullptr}, nullptr},
	};
	for (const auto &c : cases)
		EXPECT_EQ(c.found, algo_step_find_input(s, &c.probe))
		    << c.probe.type << "/" << c.probe.stream_id;
	const algo_input any = {42, -1, nullptr};
	EXPECT_EQ(nullptr, algo_step_find_input(nullptr, &any));
	algo_step *none = algo_step_create(nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(nullptr, algo_step_find_input(none, &any));
	algo_step_destroy(s, nullptr);
	algo_step_destroy(none, nullptr);
}

TEST(AlgoStep, SharedLocalDataFreedWithTheLastStep)
{
	const size_t size = 64 * 1024; // well above a step record, below the mmap threshold
	uint32_t *block = static_cast<uint32_t *>(g_malloc0(size));
	algo_step *s[3];
	for (auto &p : s)
		p = algo_step_create(nullptr, nullptr, nullptr, block);
	EXPECT_EQ(3u, *block);
	size_t before = heap_in_use();
	algo_step_destroy(s[0], nullptr);
	algo_step_destroy(s[1], nullptr);
	EXPECT_EQ(1u, *block);
	EXPECT_LT(before - heap_in_use(), size); // the block is still there
	EXPECT_EQ(block, algo_step_get_local_data(s[2]));
	algo_step_destroy(s[2], nullptr);
	EXPECT_GE(before - heap_in_use(), size);
}

TEST_F(Engine, DispatchOrderAcrossGroupsAndSteps)
{
	algo_step *a1 = step("a1", {{42, -1}});
	algo_step *a2 = step("a2", {{42, 0}});
	algo_step *a3 = step("a3", {{42, 256}});
	algo_step *b1 = step("b1", {{42, -1}, {154, -1}});
	algo_step *other = step("other", {{154, -1}});
	control_add_group(engine, group({a1, a2, a3}));
	control_add_group(engine, group({b1, other}));

	control_job all = job(42, -1);
	control_job ch1 = job(42, 256);
	control_job stats = job(154, 0);
	EXPECT_EQ(0, control_dispatch(engine, &all));
	EXPECT_EQ(0, control_dispatch(engine, &ch1));
	EXPECT_EQ(0, control_dispatch(engine, &stats));
	std::vector<std::string> expected = {
	    // The last inserted step of a group runs first; groups in the order added.
	    "a3:42/-1",  "a2:42/-1",  "a1:42/-1",   "b1:42/-1",    "release:42", "a3:42/256",
	    "a1:42/256", "b1:42/256", "release:42", "other:154/0", "b1:154/0",   "release:154",
	};
	EXPECT_EQ(expected, trace);
	EXPECT_EQ(0u, all.queued);
}

TEST_F(Engine, SkippedStepsAndTypeZero)
{
	algo_step *disabled = step("disabled", {{42, -1}});
	algo_step *no_run = step("norun", {{42, -1}}, nullptr);
	algo_step *zero = step("zero", {{0, -1}});
	algo_step_set_enabled(disabled, 0);
	control_add_group(engine, group({disabled, no_run, zero}));
	control_job j = job(42, -1);
	control_job nothing = job(0, -1);
	control_dispatch(engine, &j);
	EXPECT_EQ(0, control_queue_job(engine, &nothing));
	EXPECT_EQ(nullptr, control_get_input(engine));
	EXPECT_EQ((std::vector<std::string>{"release:42", "release:0"}), trace);

	algo_step_set_enabled(disabled, 1);
	trace.clear();
	control_dispatch(engine, &j);
	EXPECT_EQ((std::vector<std::string>{"disabled:42/-1", "release:42"}), trace);
}

TEST_F(Engine, StepWithTwoInputsOfOneTypeRunsTwice)
{
	control_add_group(engine, group({step("twice", {{42, 0}, {42, 256}})}));
	control_job j = job(42, -1);
	control_dispatch(engine, &j);
	EXPECT_EQ((std::vector<std::string>{"twice:42/-1", "twice:42/-1", "release:42"}), trace);
}

TEST_F(Engine, AStepOnTwoStreamsOfOneTypeRunsForEachListing)
{
	// Listed once per input: each listing runs when any input matches.
	const std::pair<int32_t, int> cases[] = {{-1, 2}, {0, 2}, {256, 2}, {7, 0}};
	control_add_group(engine, group({step("pair", {{42, 0}, {42, 256}})}));
	for (const auto &[stream, runs] : cases) {
		trace.clear();
		control_job j = job(42, stream);
		control_dispatch(engine, &j);
		EXPECT_EQ(static_cast<size_t>(runs) + 1, trace.size()) << stream;
	}
}

// The record being dispatched, as another thread sees it from a step.
control_job *seen_elsewhere;

int look_from_another_thread(algo_step *step, control *engine)
{
	record_run(step, engine);
	std::thread([engine] { seen_elsewhere = control_get_input(engine); }).join();
	return 0;
}

TEST_F(Engine, OtherThreadsSeeTheRecordBeingDispatchedAsTheHead)
{
	control_add_group(engine, group({step("look", {{42, -1}}, look_from_another_thread)}));
	control_job j = job(42, -1);
	control_dispatch(engine, &j);
	EXPECT_EQ(&j, seen_elsewhere);
	EXPECT_EQ(nullptr, control_get_input(engine));
	// Queued from another thread while the main thread dispatches: every
	// record is dispatched once, and the head read elsewhere is always
	// one of them.
	std::vector<control_job> records(200);
	for (control_job &r : records)
		r = job(43, -1);
	std::atomic<bool> done{false};
	std::thread producer([&] {
		for (control_job &r : records) {
			control_queue_job(engine, &r);
			control_job *head = control_get_input(engine);
			EXPECT_TRUE(head == nullptr || (head >= &records.front() && head <= &records.back()));
		}
		done = true;
	});
	size_t released = 0;
	while (!done || released < records.size()) {
		control_dispatch(engine, nullptr);
		released = static_cast<size_t>(std::count(trace.begin(), trace.end(), "release:43"));
	}
	producer.join();
	EXPECT_EQ(records.size(), released);
}

control_job follow_up;

int queue_follow_up(algo_step *step, control *engine)
{
	record_run(step, engine);
	follow_up = {};
	follow_up.type = 154;
	follow_up.stream_id = 3;
	follow_up.release = record_release;
	control_queue_job(engine, &follow_up);
	return 0;
}

TEST_F(Engine, RecordsQueuedDuringDispatchFollowInTheSameCall)
{
	control_add_group(
	    engine, group({step("consumer", {{154, -1}}), step("producer", {{42, -1}}, queue_follow_up)}));
	control_job j = job(42, -1);
	control_dispatch(engine, &j);
	EXPECT_EQ((std::vector<std::string>{"producer:42/-1", "release:42", "consumer:154/3", "release:154"}),
	          trace);
}

TEST_F(Engine, NullArgumentsAndUnknownTypes)
{
	EXPECT_EQ(nullptr, control_new(nullptr));
	EXPECT_EQ(-1, control_queue_job(nullptr, nullptr));
	EXPECT_EQ(-1, control_queue_job(engine, nullptr));
	EXPECT_EQ(-1, control_dispatch(nullptr, nullptr));
	EXPECT_EQ(-1, control_add_group(engine, nullptr));
	EXPECT_EQ(nullptr, control_get_input(nullptr));
	EXPECT_EQ(nullptr, control_get_platform(nullptr));
	EXPECT_EQ(plat, control_get_platform(engine));
	control_job bad = job(173, -1);
	EXPECT_EQ(-1, control_queue_job(engine, &bad));
	EXPECT_EQ(0u, bad.queued);
	algo_step *s = step("s", {{173, -1}});
	EXPECT_EQ(nullptr, s->inputs);
	algo_step_destroy(s, engine);
}

TEST_F(Engine, ProducerAccounting)
{
	algo_step *consumer = step("c", {{154, -1}, {162, -1}, {42, -1}});
	algo_step *producer = step("p", {});
	algo_step_add_output(producer, 162);
	control_add_group(engine, group({consumer, producer}));
	log.clear();
	EXPECT_EQ(2, control_check_produced(engine));
	std::string expected = "Data type 42 is needed by AS " + std::to_string(consumer->global_id) +
	                       ", but not produced\nData type 154 is needed by AS " +
	                       std::to_string(consumer->global_id) + ", but not produced\n";
	EXPECT_EQ(expected, log.text());
	control_mark_produced_list(engine, 2, 42u, 0u);
	control_mark_produced(engine, 154);
	EXPECT_EQ(0, control_check_produced(engine));
	EXPECT_EQ(-1, control_check_produced(nullptr));
}

TEST_F(Engine, GroupsOfOwner)
{
	algo_step *kept = step("kept", {{42, -1}});
	algo_step *gone = step("gone", {{42, -1}});
	algo_group *g1 = group({kept}, 7);
	algo_group *g2 = group({gone}, 9);
	algo_group *g3 = group({step("gone2", {{42, 0}})}, 9);
	control_add_group(engine, g1);
	control_add_group(engine, g2);
	control_add_group(engine, g3);
	EXPECT_EQ(g2, control_find_group(engine, g2->global_id));
	GList *owned = control_get_groups_of_owner(engine, 9);
	EXPECT_EQ(2u, g_list_length(owned));
	g_list_free(owned);
	EXPECT_EQ(nullptr, control_get_groups_of_owner(engine, 8));
	EXPECT_EQ(1, control_has_group_of_owner(engine, 9));

	control_remove_groups_of_owner(engine, 9);
	EXPECT_EQ(0, control_has_group_of_owner(engine, 9));
	EXPECT_EQ(1, control_has_group_of_owner(engine, 7));
	// Removed before initialisation: nothing of them is initialised or run.
	control_init_groups(engine);
	control_job j = job(42, -1);
	control_dispatch(engine, &j);
	EXPECT_EQ((std::vector<std::string>{"kept:42/-1", "release:42"}), trace);

	EXPECT_EQ(0, control_enable_group_by_id(engine, g1->global_id, 0));
	EXPECT_EQ(-1, control_enable_group_by_id(engine, 12345, 0));
	trace.clear();
	control_dispatch(engine, &j);
	EXPECT_EQ((std::vector<std::string>{"release:42"}), trace);
}

// A group looked up by id on one thread while another removes it: the
// look-up and the change happen under one lock, so the removed group is never
// touched (the sanitizer build sees any access to a freed group).
TEST_F(Engine, EnableByIdWhileTheGroupIsRemoved)
{
	std::atomic<uint32_t> current{0};
	std::atomic<bool> done{false};
	std::thread enabler([&] {
		while (!done.load())
			control_enable_group_by_id(engine, current.load(), 0);
	});
	for (int i = 0; i < 3000; i++) {
		algo_group *g = group({step("s", {{42, -1}}), step("t", {{43, -1}})}, 5);
		control_add_group(engine, g);
		current = g->global_id;
		control_remove_groups_of_owner(engine, 5);
	}
	done = true;
	enabler.join();
	EXPECT_EQ(0, control_has_group_of_owner(engine, 5));
}

int count_init(algo_step *step, control *)
{
	trace.push_back("init:" + names[step]);
	return -1;
}

int note_destroy(algo_step *step, control *)
{
	trace.push_back("destroy:" + names[step]);
	return 0;
}

TEST_F(Engine, InitOnceAndStopDestroysSteps)
{
	algo_step *a = algo_step_create(count_init, nullptr, note_destroy, nullptr);
	algo_step *b = algo_step_create(count_init, nullptr, note_destroy, nullptr);
	names[a] = "a";
	names[b] = "b";
	control_add_group(engine, group({a, b}));
	control_init_groups(engine);
	control_init_groups(engine);
	control_stop_groups(engine);
	EXPECT_EQ(1, a->stopped);
	control_stop(engine);
	EXPECT_EQ((std::vector<std::string>{"init:b", "init:a", "destroy:b", "destroy:a"}), trace);
}

TEST_F(Engine, ActivateInput)
{
	algo_step *s = step("s", {{42, -1}, {153, -1}});
	control_add_group(engine, group({s}));
	log.clear();
	EXPECT_EQ(0, control_activate_input(engine, s, 42));
	EXPECT_EQ(-3, control_activate_input_stream_id(engine, s, 153, 0, nullptr));
	EXPECT_EQ(-1, control_activate_input(engine, s, 154));
	EXPECT_EQ("Tried to activate input 154 not registered for the step " + std::to_string(s->global_id) +
	              "\n",
	          log.text());
}

TEST_F(Engine, QueueingAQueuedRecordAborts)
{
	control_job j = job(42, -1);
	EXPECT_DEATH(
	    {
		    dup2(2, 1);
		    debug_output_free();
		    debug_output_set_sinks(DEBUG_ERROR, DEBUG_OUTPUT_SINK_FD, 2);
		    control_queue_job(engine, &j);
		    control_queue_job(engine, &j);
	    },
	    "Data of type 42 enqueued twice!\nCRASH!!!");
}

TEST_F(Engine, FramesCount)
{
	control_count_frames(engine, 3);
	control_count_frames(engine, 2);
	EXPECT_EQ(5u, control_get_frame_count(engine));
	control_timestamp ts = {-1, -1};
	control_get_timestamp(&ts);
	EXPECT_GE(ts.sec, 0);
	EXPECT_GE(ts.usec, 0);
	EXPECT_LT(ts.usec, 1000000);
}

} // namespace
