// The frame road: the simulated frame tick through the platform's input
// sources and statistics pool to a step of the control engine. The camera
// library is replaced at link time (--wrap) by the fake below, so each test
// says whether the 3A runs and whether a statistics fetch succeeds; as in the
// camera, the 3A runs only while the video input's video does.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "log_capture.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform_vorsalind.h"
#include "platform/videoinput.h"
#include "simsoc.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

namespace
{

struct FakeLibcl {
	int started = 1;
	bool started_fails = false;
	bool stats_fail = false;
	int stats_calls = 0;
	int stats_all_calls = 0;
	int deinit_calls = 0;
	uint8_t fill = 0;
} fake;

} // namespace

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	if (fake.started_fails)
		return -1;
	bool video = false;
	for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++)
		video = video || simsoc_video_running(v);
	*started = (uint32_t)(fake.started && video);
	return 0;
}

static int fake_fill(libcl_stats *stats)
{
	if (fake.stats_fail)
		return -1;
	memset(stats, fake.fill, LIBCL_STATS_WRITTEN);
	return 0;
}

extern "C" int __wrap_libcl_get_stats(int channel, libcl_stats *stats, uint32_t)
{
	fake.stats_calls++;
	return channel == 0 ? fake_fill(stats) : -1;
}

extern "C" int __wrap_libcl_get_stats_all(libcl_stats *stats, uint32_t)
{
	fake.stats_all_calls++;
	return fake_fill(stats);
}

extern "C" void __wrap_libcl_deinit(void)
{
	fake.deinit_calls++;
}

namespace
{

const char vin0[] = "/proc/vorsalind/vin0_idsp";
const char vin1[] = "/proc/vorsalind/vin1_idsp";
const char plug_path[] = "/proc/vorsalind/plug_event";

struct prodconf_stub {
	int unused;
} conf_stub;

prodconf *conf()
{
	return reinterpret_cast<prodconf *>(&conf_stub);
}

// What the consuming step saw.
struct Seen {
	std::vector<uint32_t> types;
	std::vector<const void *> records;
	std::vector<control_job> headers;
	int blocks_ok = 0;
};
Seen seen;

int consume(algo_step *, control *engine)
{
	control_job *job = control_get_input(engine);
	seen.types.push_back(job->type);
	seen.records.push_back(job);
	seen.headers.push_back(*job);
	if (job->type == PLATFORM_DATA_SOC_STATS) {
		auto *record = reinterpret_cast<platform_soc_stats *>(job);
		const uint8_t *block0 = reinterpret_cast<const uint8_t *>(&record->channel[0]);
		const uint8_t *rest = reinterpret_cast<const uint8_t *>(&record->channel[1]);
		bool ok = block0[0] == fake.fill && block0[LIBCL_STATS_WRITTEN - 1] == fake.fill &&
		          block0[LIBCL_STATS_WRITTEN] == 0;
		for (size_t i = 0; ok && i < 3 * sizeof(libcl_stats); i++)
			ok = rest[i] == 0;
		seen.blocks_ok += ok;
	}
	return 0;
}

guint pool_records(platform *p)
{
	return p->stats_pool.free_records.length + p->stats_pool.in_use.length;
}

// The daemon's side of the input-source contract, over plain poll.
struct MainLoopContract {
	platform *p;
	control *engine;
	std::vector<pollfd> fds;
	int rebuilds = 0;

	void prepare()
	{
		p->prepare(p);
		if (!p->sources_changed)
			return;
		int *list = nullptr, *writer = nullptr, count = 0;
		ASSERT_EQ(PLATFORM_OK, platform_get_input_fds(p, &list, &writer, &count));
		fds.clear();
		for (int i = 0; i < count; i++) {
			short events = (short)((writer[i] ? POLLOUT : POLLIN) | POLLERR | POLLHUP);
			fds.push_back({list[i], events, 0});
		}
		g_free(list);
		g_free(writer);
		p->sources_changed = 0;
		rebuilds++;
	}

	// One iteration; the daemon polls without a timeout, a test bounds it.
	int iterate(int timeout_ms = 1000)
	{
		prepare();
		int n = p->poll(fds.data(), fds.size(), timeout_ms);
		if (n <= 0)
			return 0;
		std::vector<int> ready;
		for (const pollfd &f : fds)
			if (f.revents & (POLLIN | POLLPRI | POLLOUT | POLLHUP))
				ready.push_back(f.fd);
		GList *records = p->dispatch_ready_fds(p, ready.data(), (int)ready.size());
		int produced = 0;
		GList *stream_ids = nullptr;
		for (GList *l = records; l; l = l->next) {
			auto *job = static_cast<control_job *>(l->data);
			stream_ids = g_list_prepend(stream_ids, GINT_TO_POINTER(job->stream_id));
			control_queue_job(engine, job);
			produced++;
		}
		control_dispatch(engine, nullptr);
		platform_release_data(p, stream_ids);
		g_list_free(stream_ids);
		g_list_free(records);
		return produced;
	}
};

class FrameRoad : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		start(1);
	}
	void TearDown() override
	{
		stop();
	}

	void start(int channels)
	{
		seen = Seen();
		fake = FakeLibcl();
		fake.fill = 0x5a;
		simsoc_vin_reset();
		for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++)
			simsoc_vin_set_framerate(v, 0);
		simsoc_clear_failures();
		videoinput_set_current_vin(0, 0, "test");
		p = platform_vorsalind_create(nullptr, conf(), channels);
		p->libcl_initialised = 1;
		engine = control_new(p);
		algo_step *step = algo_step_create(nullptr, consume, nullptr, nullptr);
		algo_step_add_input(step, PLATFORM_DATA_SOC_STATS);
		algo_step_add_input(step, PLATFORM_DATA_PLUG_EVENT);
		algo_group *group = algo_group_create(nullptr);
		algo_group_insert(group, step);
		control_add_group(engine, group);
		loop = MainLoopContract{p, engine, {}, 0};
	}
	void stop()
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(p);
		p = nullptr;
	}
	void restart(int channels)
	{
		stop();
		start(channels);
	}
	int tick(unsigned vin = 0)
	{
		simsoc_vin_tick(vin);
		return loop.iterate();
	}

	LogCapture log;
	platform *p = nullptr;
	control *engine = nullptr;
	MainLoopContract loop{};
};

TEST(SimFrameTick, StepsReadsAndReadiness)
{
	simsoc_vin_reset();
	simsoc_vin_set_framerate(0, 0);
	int fd = open(vin0, O_RDONLY | O_NONBLOCK);
	ASSERT_GE(fd, 0);
	pollfd pfd = {fd, POLLIN, 0};
	uint64_t frame = 0;
	EXPECT_EQ(0, poll(&pfd, 1, 0));
	EXPECT_EQ(-1, read(fd, &frame, sizeof frame));
	EXPECT_EQ(EAGAIN, errno);

	simsoc_vin_tick(0);
	EXPECT_EQ(1, poll(&pfd, 1, 0));
	ASSERT_EQ(8, read(fd, &frame, sizeof frame));
	EXPECT_EQ(1u, frame);
	EXPECT_EQ(0, poll(&pfd, 1, 0));

	// A reader that fell behind gets the latest frame in one read.
	simsoc_vin_tick(0);
	simsoc_vin_tick(0);
	ASSERT_EQ(8, read(fd, &frame, sizeof frame));
	EXPECT_EQ(3u, frame);
	EXPECT_EQ(0, poll(&pfd, 1, 0));
	EXPECT_EQ(2u, simsoc_vin_reads(0));

	uint32_t small;
	EXPECT_EQ(-1, read(fd, &small, sizeof small));
	EXPECT_EQ(EINVAL, errno);
	// The other input's ticks do not reach this file.
	simsoc_vin_tick(1);
	EXPECT_EQ(0, poll(&pfd, 1, 0));
	close(fd);

	EXPECT_EQ(-1, open("/proc/vorsalind/vin4_idsp", O_RDONLY));
	EXPECT_EQ(ENOENT, errno);
	EXPECT_EQ(-1, open(vin0, O_WRONLY));
	EXPECT_EQ(EACCES, errno);
	EXPECT_EQ(0, simsoc_vin_open_files(0));
}

TEST(SimFrameTick, ClockTicksAtItsFrameRate)
{
	simsoc_vin_reset();
	EXPECT_EQ(30.0, simsoc_vin_framerate(0));
	simsoc_vin_set_framerate(0, 500);
	int fd = open(vin0, O_RDONLY);
	ASSERT_GE(fd, 0);
	uint64_t frames[2] = {0, 0};
	for (uint64_t &f : frames) {
		pollfd pfd = {fd, POLLIN, 0};
		ASSERT_EQ(1, poll(&pfd, 1, 2000));
		ASSERT_EQ(8, read(fd, &f, sizeof f));
	}
	EXPECT_GT(frames[1], frames[0]);
	close(fd);
	simsoc_vin_set_framerate(0, 0);
}

TEST(SimPlugEvent, OneByteAnEvent)
{
	int fd = open(plug_path, O_RDONLY | O_NONBLOCK);
	ASSERT_GE(fd, 0);
	pollfd pfd = {fd, POLLIN, 0};
	EXPECT_EQ(0, poll(&pfd, 1, 0));
	uint64_t before = simsoc_plug_event_reads();
	simsoc_plug_event_raise(1);
	simsoc_plug_event_raise(0);
	uint8_t event = 9;
	ASSERT_EQ(1, poll(&pfd, 1, 0));
	ASSERT_EQ(1, read(fd, &event, 1));
	EXPECT_EQ(1, event);
	ASSERT_EQ(1, read(fd, &event, 1));
	EXPECT_EQ(0, event);
	EXPECT_EQ(0, poll(&pfd, 1, 0));
	EXPECT_EQ(-1, read(fd, &event, 1));
	EXPECT_EQ(EAGAIN, errno);
	EXPECT_EQ(before + 2, simsoc_plug_event_reads());
	close(fd);
}

TEST(RecordPool, ReusesRecordsWithoutClearing)
{
	record_pool pool = {};
	auto *a = static_cast<uint8_t *>(platform_pool_get(&pool, 32));
	EXPECT_EQ(0, a[31]);
	a[0] = 7;
	auto *b = static_cast<uint8_t *>(platform_pool_get(&pool, 32));
	EXPECT_NE(a, b);
	EXPECT_EQ(2u, pool.in_use.length);
	EXPECT_EQ(a, pool.in_use.head->data);
	platform_pool_recycle(&pool);
	EXPECT_EQ(0u, pool.in_use.length);
	EXPECT_EQ(2u, pool.free_records.length);
	auto *again = static_cast<uint8_t *>(platform_pool_get(&pool, 32));
	EXPECT_EQ(a, again);
	EXPECT_EQ(7, again[0]);
	platform_pool_get(&pool, 32);
	platform_pool_get(&pool, 32);
	EXPECT_EQ(3u, pool.in_use.length);
	EXPECT_EQ(0u, pool.free_records.length);
	platform_pool_recycle(&pool);
	platform_pool_get(&pool, 32);
	static int freed;
	freed = 0;
	platform_pool_free(&pool, [](void *) { freed++; });
	EXPECT_EQ(3, freed);
	EXPECT_EQ(0u, pool.free_records.length + pool.in_use.length);
}

// Sources built on pipes, for the generic source operations.
struct Calls {
	std::vector<std::string> log;
} calls;

int pipe_open(platform *, input_source *s)
{
	calls.log.push_back("open:" + std::string(s->name));
	if (g_strcmp0(s->descriptor->path, "fail") == 0)
		return -4;
	int fds[2];
	if (pipe(fds) != 0)
		return -4;
	s->descriptor->fd = fds[0];
	s->descriptor->flags = (uint32_t)fds[1]; // the write end, for the test
	return PLATFORM_OK;
}

int pipe_close(platform *, input_source *s)
{
	calls.log.push_back("close:" + std::string(s->name));
	if (s->descriptor->fd > 0) {
		close(s->descriptor->fd);
		close((int)s->descriptor->flags);
	}
	return PLATFORM_OK;
}

GList *pipe_read(platform *, input_source *s, GList *records)
{
	char c;
	if (read(s->descriptor->fd, &c, 1) == 1)
		calls.log.push_back("read:" + std::string(s->name) + ":" + c);
	return g_list_append(records, s);
}

void pipe_notify(platform *, input_source *s)
{
	char c;
	if (read(s->descriptor->fd, &c, 1) == 1)
		calls.log.push_back("notify:" + std::string(s->name));
}

void pipe_destroy(platform *, input_source *s)
{
	calls.log.push_back("destroy:" + std::string(s->name));
}

void poke(input_source *s, char c)
{
	ASSERT_EQ(1, write((int)s->descriptor->flags, &c, 1));
}

class InputSources : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		calls = Calls();
		p = platform_vorsalind_create(nullptr, conf(), 1);
	}
	void TearDown() override
	{
		platform_destroy(p);
	}
	input_source *add(const char *name, uint32_t kind)
	{
		input_source *s =
		    input_source_new(p, name, kind, pipe_open, pipe_close, pipe_read, pipe_notify, name);
		EXPECT_NE(nullptr, s);
		platform_add_input_source(p, s);
		return s;
	}
	LogCapture log;
	platform *p = nullptr;
};

TEST_F(InputSources, FailedOpenFreesTheSource)
{
	EXPECT_EQ(nullptr, input_source_new(p, "x", 0, pipe_open, pipe_close, pipe_read, nullptr, "fail"));
	EXPECT_EQ((std::vector<std::string>{"open:x", "close:x"}), calls.log);

	auto *s = static_cast<input_source *>(g_malloc0(sizeof(input_source) + 16));
	EXPECT_FALSE(
	    input_source_init(s, p, "y", 0, pipe_open, pipe_close, pipe_read, nullptr, pipe_destroy, "fail"));
	input_source_free(s);
	EXPECT_EQ("destroy:y", calls.log.back());

	s = static_cast<input_source *>(g_malloc0(sizeof(input_source)));
	EXPECT_TRUE(input_source_init(s, p, "z", 0, nullptr, nullptr, nullptr, nullptr, nullptr, "/nowhere"));
	EXPECT_EQ(0, s->descriptor->fd);
	EXPECT_STREQ("/nowhere", s->descriptor->path);
	EXPECT_EQ(p, s->platform);
	input_source_free(s);
}

TEST_F(InputSources, AddRemoveAndLookup)
{
	input_source *a = add("a", INPUT_SOURCE_READER);
	input_source *w = add("w", INPUT_SOURCE_WRITER);
	EXPECT_EQ(1, p->sources_changed);
	EXPECT_EQ(a, platform_find_input_source(p, "a"));
	EXPECT_EQ(nullptr, platform_find_input_source(p, "b"));
	EXPECT_EQ(a->descriptor->fd, platform_get_input_source_fd(p, "a"));
	EXPECT_EQ(-4, platform_get_input_source_fd(p, "b"));

	int *fds = nullptr, *writer = nullptr, count = 0;
	ASSERT_EQ(PLATFORM_OK, platform_get_input_fds(p, &fds, &writer, &count));
	ASSERT_EQ(2, count);
	EXPECT_EQ(a->descriptor->fd, fds[0]);
	EXPECT_EQ(0, writer[0]);
	EXPECT_EQ(w->descriptor->fd, fds[1]);
	EXPECT_EQ(1, writer[1]);
	g_free(fds);
	g_free(writer);
	EXPECT_EQ(-3, platform_get_input_fds(p, nullptr, &writer, &count));
	EXPECT_EQ(-3, platform_get_input_fds(p, &fds, nullptr, &count));
	EXPECT_EQ(-3, platform_get_input_fds(p, &fds, &writer, nullptr));
	EXPECT_EQ(-3, platform_get_input_fds(nullptr, &fds, &writer, &count));

	p->sources_changed = 0;
	EXPECT_EQ(PLATFORM_OK, platform_remove_input_source(p, w));
	EXPECT_EQ(1, p->sources_changed);
	p->sources_changed = 0;
	EXPECT_EQ(-4, platform_remove_input_source(p, w));
	EXPECT_EQ(1, p->sources_changed);
	input_source_free(w);

	p->sources_changed = 0;
	platform_remove_all_input_sources(p);
	EXPECT_EQ(1, p->sources_changed);
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ("close:a", calls.log.back());
}

TEST_F(InputSources, DispatchRunsReadyReadersInTheGivenOrder)
{
	input_source *a = add("a", INPUT_SOURCE_READER);
	input_source *b = add("b", INPUT_SOURCE_READER);
	input_source *n = add("n", INPUT_SOURCE_NOTIFY);
	poke(a, '1');
	poke(b, '2');
	poke(n, '3');
	calls.log.clear();
	int ready[] = {b->descriptor->fd, 9999, n->descriptor->fd, a->descriptor->fd};
	GList *records = platform_dispatch_ready_fds(p, ready, 4);
	EXPECT_EQ((std::vector<std::string>{"read:b:2", "notify:n", "read:a:1"}), calls.log);
	ASSERT_EQ(2u, g_list_length(records));
	EXPECT_EQ(b, records->data);
	EXPECT_EQ(a, records->next->data);
	g_list_free(records);

	EXPECT_EQ(nullptr, platform_dispatch_ready_fds(nullptr, ready, 4));
	EXPECT_EQ(nullptr, platform_dispatch_ready_fds(p, nullptr, 4));
	EXPECT_EQ(nullptr, platform_dispatch_input_sources(p, ready, 0));
}

TEST_F(FrameRoad, OneRecordPerTickFromAPoolOfOne)
{
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(p->soc_input->vsync_fd, platform_get_input_source_fd(p, "vsync_fd"));
	EXPECT_GT(p->soc_input->vsync_fd, 0);
	control_timestamp before;
	control_get_timestamp(&before);
	for (int i = 0; i < 50; i++)
		ASSERT_EQ(1, tick()) << i;
	ASSERT_EQ(50u, seen.types.size());
	EXPECT_EQ(50, seen.blocks_ok);
	EXPECT_EQ(1u, pool_records(p));
	for (size_t i = 0; i < seen.records.size(); i++) {
		EXPECT_EQ(seen.records[0], seen.records[i]);
		const control_job &h = seen.headers[i];
		EXPECT_EQ(42u, h.type);
		EXPECT_EQ(-1, h.stream_id);
		EXPECT_EQ(1u, h.producer_word);
		EXPECT_EQ(nullptr, h.release);
		EXPECT_GE(h.timestamp.sec * 1000000 + h.timestamp.usec, before.sec * 1000000 + before.usec);
	}
	EXPECT_EQ(50, fake.stats_calls);
	EXPECT_EQ(0, fake.stats_all_calls);
	EXPECT_EQ(50u, simsoc_vin_reads(0));
	EXPECT_EQ(1, loop.rebuilds);
}

TEST_F(FrameRoad, NoRecordsUntilTheThreeARuns)
{
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	fake.started = 0;
	EXPECT_EQ(0, tick());
	fake.started = 1;
	fake.started_fails = true;
	EXPECT_EQ(0, tick());
	EXPECT_EQ(2u, simsoc_vin_reads(0));
	EXPECT_EQ(0u, pool_records(p));
	EXPECT_TRUE(seen.types.empty());
	fake.started_fails = false;
	EXPECT_EQ(1, tick());
	EXPECT_EQ(1u, seen.types.size());
}

TEST_F(FrameRoad, FailedFetchIsRecycled)
{
	struct {
		int channels;
		const char *message;
	} cases[] = {{1, "platform_get_stat: Failed to get stats for channel 0\n"},
	             {2, "platform_get_stat: Failed to get stats for channel all\n"}};
	for (auto &c : cases) {
		restart(c.channels);
		ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
		log.clear();
		fake.stats_fail = true;
		for (int i = 0; i < 5; i++)
			EXPECT_EQ(0, tick());
		EXPECT_EQ(1u, pool_records(p)) << c.channels;
		EXPECT_EQ(1u, p->stats_pool.in_use.length);
		fake.stats_fail = false;
		EXPECT_EQ(1, tick());
		EXPECT_EQ(1u, pool_records(p));
		EXPECT_EQ(1, seen.blocks_ok);
		EXPECT_EQ(std::string(c.message).append(c.message).append(c.message).append(c.message).append(
		              c.message),
		          log.text());
		EXPECT_EQ(c.channels == 1 ? 6 : 0, fake.stats_calls);
		EXPECT_EQ(c.channels == 1 ? 0 : 6, fake.stats_all_calls);
	}
}

TEST_F(FrameRoad, PlugEventBecomesARecord)
{
	p->plug_event_enabled = 1;
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(p->soc_input->plug_event_fd, platform_get_input_source_fd(p, "plug_event_fd"));
	simsoc_plug_event_raise(1);
	EXPECT_EQ(1, loop.iterate());
	ASSERT_EQ(1u, seen.headers.size());
	EXPECT_EQ(153u, seen.headers[0].type);
	EXPECT_EQ(-1, seen.headers[0].stream_id);
	EXPECT_NE(nullptr, seen.headers[0].release);
	EXPECT_EQ(0u, seen.headers[0].producer_word);
	// A tick and an event in one iteration give both records.
	simsoc_plug_event_raise(0);
	simsoc_vin_tick(0);
	EXPECT_EQ(2, loop.iterate());
	EXPECT_EQ(1u, pool_records(p));
}

TEST_F(FrameRoad, UpdateVsyncSourceSwitchesInputs)
{
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(1, tick(0));
	EXPECT_EQ(1, loop.rebuilds);

	EXPECT_EQ(PLATFORM_OK, update_vsync_src(p, 1, "test"));
	EXPECT_EQ(1, p->sources_changed);
	EXPECT_EQ(1, simsoc_vin_open_files(1));
	EXPECT_EQ(0, simsoc_vin_open_files(0));
	EXPECT_EQ(1u, videoinput_input_get_current_vin());
	EXPECT_EQ(1, tick(1));
	EXPECT_EQ(2, loop.rebuilds);
	simsoc_vin_tick(0);
	EXPECT_EQ(0, loop.iterate(20));

	log.clear();
	EXPECT_EQ(PLATFORM_OK, update_vsync_src(p, 2, "test"));
	EXPECT_EQ("update_vsync_src: Could not get vsync path\n", log.text());
	EXPECT_EQ(1, simsoc_vin_open_files(0));
	EXPECT_EQ(1, tick(0));
	EXPECT_EQ(1u, pool_records(p));

	p->libcl_initialised = 0;
	EXPECT_EQ(-4, update_vsync_src(p, 0, "test"));
	EXPECT_EQ(0, fake.deinit_calls);
}

TEST_F(FrameRoad, VsyncSourceThatCannotOpen)
{
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	log.clear();
	simsoc_inject_failure(vin1, SIMSOC_OP_OPEN, ENODEV, 1);
	EXPECT_EQ(-4, update_vsync_src(p, 1, "test"));
	EXPECT_EQ(std::string("platform_open_local_fd open /proc/vorsalind/vin1_idsp failed: ") +
	              strerror(ENODEV) + "\nupdate_vsync_src: Could not create vsync_fd\n",
	          log.text());
	EXPECT_EQ(1, fake.deinit_calls);
	EXPECT_EQ(0, p->libcl_initialised);
	EXPECT_EQ(-4, p->soc_input->vsync_fd);
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ(0, simsoc_vin_open_files(0) + simsoc_vin_open_files(1));

	// With the 3A stopped, a sync makes the frame tick again.
	simsoc_inject_failure(vin0, SIMSOC_OP_OPEN, ENODEV, 1);
	videoinput_set_current_vin(0, 0, "test");
	p->libcl_initialised = 1;
	fake.started = 0;
	EXPECT_EQ(-4, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(0, p->libcl_initialised);
	EXPECT_EQ(2, fake.deinit_calls);
}

TEST_F(FrameRoad, SyncForASecondChannelDoesNothing)
{
	restart(2);
	EXPECT_EQ(0, platform_sync_config_for_stream(p, 0x0100));
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ(nullptr, p->dispatch_ready_fds);
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, -1));
	EXPECT_EQ(1u, g_list_length(p->input_sources));
	EXPECT_FALSE(p->prepare(p));
	// A second sync, the 3A running, keeps the frame tick it has (a tick
	// waiting is still read); with the 3A stopped it replaces the tick
	// instead of adding one.
	simsoc_vin_tick(0);
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(1, loop.iterate());
	fake.started = 0;
	EXPECT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(1u, g_list_length(p->input_sources));
	EXPECT_EQ(1, simsoc_vin_open_files(0));
}

TEST_F(FrameRoad, DestroyClosesTheFrameSources)
{
	p->plug_event_enabled = 1;
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	EXPECT_EQ(1, tick());
	int open_before = simsoc_open_files();
	EXPECT_EQ(1, simsoc_vin_open_files(0));
	stop();
	EXPECT_EQ(0, simsoc_vin_open_files(0));
	EXPECT_EQ(open_before - 2, simsoc_open_files());
	EXPECT_EQ(1, fake.deinit_calls);
	start(1);
}

// The same contract as a GLib source on a real main loop, polling through the
// platform's poll slot.
struct PlatformSource {
	GSource base;
	platform *p;
	control *engine;
	std::vector<GPollFD *> fds;
	int records;
};

platform *polling_platform;

gint platform_poll(GPollFD *fds, guint count, gint timeout)
{
	return polling_platform->poll(reinterpret_cast<pollfd *>(fds), count, timeout);
}

gboolean source_prepare(GSource *base, gint *timeout)
{
	auto *s = reinterpret_cast<PlatformSource *>(base);
	*timeout = -1;
	if (s->p->prepare(s->p))
		return TRUE;
	if (!s->p->sources_changed)
		return FALSE;
	for (GPollFD *f : s->fds) {
		g_source_remove_poll(base, f);
		g_free(f);
	}
	s->fds.clear();
	int *list = nullptr, *writer = nullptr, count = 0;
	platform_get_input_fds(s->p, &list, &writer, &count);
	for (int i = 0; i < count; i++) {
		GPollFD *f = g_new0(GPollFD, 1);
		f->fd = list[i];
		f->events = (gushort)((writer[i] ? G_IO_OUT : G_IO_IN) | G_IO_ERR | G_IO_HUP);
		g_source_add_poll(base, f);
		s->fds.push_back(f);
	}
	g_free(list);
	g_free(writer);
	s->p->sources_changed = 0;
	return FALSE;
}

gboolean source_check(GSource *base)
{
	auto *s = reinterpret_cast<PlatformSource *>(base);
	for (GPollFD *f : s->fds)
		if (f->revents & (G_IO_IN | G_IO_PRI | G_IO_OUT | G_IO_HUP))
			return TRUE;
	return FALSE;
}

gboolean source_dispatch(GSource *base, GSourceFunc, gpointer)
{
	auto *s = reinterpret_cast<PlatformSource *>(base);
	std::vector<int> ready;
	for (GPollFD *f : s->fds)
		if (f->revents & (G_IO_IN | G_IO_PRI | G_IO_OUT | G_IO_HUP))
			ready.push_back(f->fd);
	GList *records = s->p->dispatch_ready_fds(s->p, ready.data(), (int)ready.size());
	for (GList *l = records; l; l = l->next) {
		control_queue_job(s->engine, static_cast<control_job *>(l->data));
		s->records++;
	}
	control_dispatch(s->engine, nullptr);
	platform_release_data(s->p, nullptr);
	g_list_free(records);
	return G_SOURCE_CONTINUE;
}

void source_finalize(GSource *base)
{
	auto *s = reinterpret_cast<PlatformSource *>(base);
	for (GPollFD *f : s->fds)
		g_free(f);
	s->fds.~vector();
}

GSourceFuncs platform_source_funcs = {source_prepare,  source_check, source_dispatch,
                                      source_finalize, nullptr,      nullptr};

TEST_F(FrameRoad, HundredTicksThroughAGLibMainLoop)
{
	ASSERT_EQ(PLATFORM_OK, platform_sync_config_for_stream(p, 0));
	GMainContext *context = g_main_context_new();
	polling_platform = p;
	g_main_context_set_poll_func(context, platform_poll);
	auto *s =
	    reinterpret_cast<PlatformSource *>(g_source_new(&platform_source_funcs, sizeof(PlatformSource)));
	new (&s->fds) std::vector<GPollFD *>();
	s->p = p;
	s->engine = engine;
	s->records = 0;
	g_source_attach(&s->base, context);

	std::vector<size_t> per_step;
	for (int i = 0; i < 100; i++) {
		size_t before = seen.types.size();
		simsoc_vin_tick(0);
		g_main_context_iteration(context, TRUE);
		per_step.push_back(seen.types.size() - before);
	}
	EXPECT_EQ(std::vector<size_t>(100, 1), per_step);
	EXPECT_EQ(100, s->records);
	EXPECT_EQ(100, seen.blocks_ok);
	EXPECT_EQ(1u, pool_records(p));
	EXPECT_EQ(100u, simsoc_vin_reads(0));

	g_source_destroy(&s->base);
	g_source_unref(&s->base);
	g_main_context_unref(context);
}

} // namespace
