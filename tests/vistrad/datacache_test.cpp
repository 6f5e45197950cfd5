// Data caches on the simulated device: the requests and their payloads, the
// writer source and its type-172 record, the read modes, every request's
// failure, and the four input sources with their records and info-pool
// values.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/control.h"
#include "core/info_pool.h"
#include "datacache_ioctl.h"
#include "log_capture.h"
#include "platform/datacache.h"
#include "platform/platform_vorsalind.h"
#include "simsoc.h"
#include "simsoc_datacache.h"

namespace
{

struct prodconf_stub {
	int unused;
} conf_stub;

// Each request as the device received it: code and payload bytes.
struct Request {
	unsigned long code;
	std::vector<uint8_t> bytes;
};
std::vector<Request> requests;

size_t payload_size(unsigned long code)
{
	return (code >> 16) & 0x3fff;
}

int recording_ioctl(platform *, int fd, unsigned long request, void *argument)
{
	const uint8_t *b = static_cast<const uint8_t *>(argument);
	requests.push_back({request, std::vector<uint8_t>(b, b + payload_size(request))});
	return ioctl(fd, request, argument);
}

uint32_t word(const Request &r, size_t at)
{
	uint32_t v;
	memcpy(&v, r.bytes.data() + at, 4);
	return v;
}

uint64_t dword(const Request &r, size_t at)
{
	uint64_t v;
	memcpy(&v, r.bytes.data() + at, 8);
	return v;
}

std::string name_of(const Request &r)
{
	return std::string(reinterpret_cast<const char *>(r.bytes.data()),
	                   strnlen((const char *)r.bytes.data(), 20));
}

class DataCache : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_datacache_reset();
		simsoc_clear_failures();
		requests.clear();
		info_pool_init();
		p = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		engine = control_new(p);
		log.clear();
	}
	void TearDown() override
	{
		control_free(engine);
		platform_destroy(p);
		info_pool_free();
		EXPECT_EQ(0, simsoc_open_files());
	}
	// A set-up data cache of channel 0 on the platform.
	datacache *writer(int32_t stream_id = 0)
	{
		auto *cache = static_cast<datacache *>(datacache_general(nullptr, engine, stream_id));
		platform_add_datacache(p, cache, stream_id);
		EXPECT_EQ(PLATFORM_OK, datacache_setup(cache, stream_id));
		return cache;
	}
	// The records the platform's sources make from what is ready now.
	GList *dispatch(short events = POLLIN)
	{
		std::vector<int> ready;
		for (GList *l = p->input_sources; l; l = l->next) {
			int fd = static_cast<input_source *>(l->data)->descriptor->fd;
			pollfd pfd = {fd, events, 0};
			if (poll(&pfd, 1, 0) == 1 && (pfd.revents & events))
				ready.push_back(fd);
		}
		return platform_dispatch_ready_fds(p, ready.data(), (int)ready.size());
	}
	input_source *source(void *(*create)(prodconf *, control *, int32_t), int32_t stream_id = 0)
	{
		auto *s = static_cast<input_source *>(create(nullptr, engine, stream_id));
		if (s)
			platform_add_input_source(p, s);
		return s;
	}
	int32_t imfix(uint32_t id, int32_t stream_id = 0)
	{
		int32_t v = -1;
		EXPECT_EQ(0, info_pool_get_imfix(id, stream_id, &v)) << id;
		return v;
	}

	LogCapture log;
	platform *p = nullptr;
	control *engine = nullptr;
};

TEST_F(DataCache, RequestsCarryTheirPayloads)
{
	datacache *cache = writer();
	p->ioctl = recording_ioctl;
	ASSERT_EQ(0, datacache_create_cache(cache, "focus_measure", 8, 16));
	ASSERT_EQ(2u, requests.size());
	EXPECT_EQ(DATACACHE_IOC_CREATE, requests[0].code);
	EXPECT_EQ(28u, requests[0].bytes.size());
	EXPECT_EQ("focus_measure", name_of(requests[0]));
	EXPECT_EQ(8u, word(requests[0], 20));
	EXPECT_EQ(16u, word(requests[0], 24));
	// A new cache is deselected: {id, flag 0, three zero bytes}.
	EXPECT_EQ(DATACACHE_IOC_SELECT, requests[1].code);
	EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}), requests[1].bytes);

	// A 25-character name goes as its first 19 and the terminating NUL.
	requests.clear();
	simsoc_datacache_create(0, "abcdefghijklmnopqrs", 4, 1);
	EXPECT_EQ(1, datacache_find_cache(cache, "abcdefghijklmnopqrstuvwxy"));
	EXPECT_EQ(DATACACHE_IOC_FIND, requests[0].code);
	EXPECT_EQ(0, memcmp(requests[0].bytes.data(), "abcdefghijklmnopqrs\0", 20));
	EXPECT_EQ(0u, word(requests[0], 20));
	EXPECT_EQ(0u, word(requests[0], 24));

	requests.clear();
	uint64_t element = 0x1122334455667788ull;
	control_timestamp ts = {7, 8};
	EXPECT_EQ(0, datacache_write(cache, 0, &ts, &element));
	EXPECT_EQ(0, datacache_write(cache, 0, nullptr, &element));
	ASSERT_EQ(2u, requests.size());
	EXPECT_EQ(DATACACHE_IOC_WRITE, requests[0].code);
	EXPECT_EQ(32u, requests[0].bytes.size());
	EXPECT_EQ(0u, word(requests[0], 0));
	EXPECT_EQ(0u, word(requests[0], 4));
	EXPECT_EQ((uint64_t)(uintptr_t)&element, dword(requests[0], 8));
	EXPECT_EQ(7u, dword(requests[0], 16));
	EXPECT_EQ(8u, dword(requests[0], 24));
	EXPECT_EQ(0u, dword(requests[1], 16));
	EXPECT_EQ(0u, dword(requests[1], 24));

	// Read modes: 1 stays 1, 2 asks for the element of a time stamp (3),
	// anything else goes as 0 and is refused.
	requests.clear();
	uint64_t out = 0;
	control_timestamp at = {7, 8};
	EXPECT_EQ(PLATFORM_OK, datacache_read(cache, 0, 2, &at, &out));
	EXPECT_EQ(element, out);
	EXPECT_EQ(PLATFORM_OK, datacache_read(cache, 0, 1, &at, &out));
	EXPECT_EQ(-1, datacache_read(cache, 0, 5, &at, &out));
	ASSERT_EQ(3u, requests.size());
	EXPECT_EQ(DATACACHE_IOC_READ, requests[0].code);
	EXPECT_EQ(3u, word(requests[0], 4));
	EXPECT_EQ((uint64_t)(uintptr_t)&out, dword(requests[0], 8));
	EXPECT_EQ(7u, dword(requests[0], 16));
	EXPECT_EQ(8u, dword(requests[0], 24));
	EXPECT_EQ(1u, word(requests[1], 4));
	EXPECT_EQ(0u, word(requests[2], 4));
	EXPECT_EQ("Unable to read data from datacache \n", log.text(DEBUG_ERROR));

	requests.clear();
	uint32_t info[2];
	datacache_get_cache_info(cache, 0, info);
	ASSERT_EQ(1u, requests.size());
	EXPECT_EQ(DATACACHE_IOC_DETAILS, requests[0].code);
	EXPECT_EQ(48u, requests[0].bytes.size());
	EXPECT_EQ(0u, word(requests[0], 0));
	p->ioctl = nullptr;
}

TEST_F(DataCache, ReadModesOnTheDevice)
{
	datacache *cache = writer();
	ASSERT_EQ(0, simsoc_datacache_create(0, "x", 4, 4));
	uint32_t a = 11, b = 22, out = 0;
	simsoc_datacache_push(0, "x", &a, 1, 500);
	simsoc_datacache_push(0, "x", &b, 2, 0);
	control_timestamp ts = {};
	EXPECT_EQ(PLATFORM_OK, datacache_read(cache, 0, 1, &ts, &out));
	EXPECT_EQ(22u, out);
	EXPECT_EQ(2, ts.sec);
	ts = {1, 500};
	EXPECT_EQ(PLATFORM_OK, datacache_read(cache, 0, 2, &ts, &out));
	EXPECT_EQ(11u, out);
	ts = {1, 501};
	EXPECT_EQ(-1, datacache_read(cache, 0, 2, &ts, &out));
	EXPECT_EQ(-1, datacache_read(cache, 9, 1, &ts, &out));
	EXPECT_EQ("Unable to read data from datacache \nUnable to read data from datacache \n",
	          log.text(DEBUG_ERROR));
}

TEST_F(DataCache, AWaitingReaderMakesTheWriterPost)
{
	datacache *cache = writer(0x0001);
	input_source *w = platform_find_input_source(p, "dc_writer1");
	ASSERT_NE(nullptr, w);
	EXPECT_EQ((uint32_t)INPUT_SOURCE_WRITER, w->kind);
	EXPECT_EQ(cache->fd, w->descriptor->fd);
	ASSERT_EQ(0, datacache_create_cache(cache, "image_stats", 16, 4));
	// No reader at all: no details to arm on.
	uint32_t info[2] = {9, 9};
	EXPECT_EQ(-4, datacache_get_cache_info(cache, 0, info));
	EXPECT_EQ(nullptr, dispatch(POLLOUT));

	// A reader waits; selected, the cache makes the device writable.
	simsoc_datacache_add_reader(0, "image_stats");
	EXPECT_EQ(PLATFORM_OK, datacache_get_cache_info(cache, 0, info));
	EXPECT_EQ(1u, info[0]);
	EXPECT_EQ(0u, info[1]);
	EXPECT_EQ(nullptr, dispatch(POLLOUT));
	EXPECT_EQ(PLATFORM_OK, datacache_set_select(cache, 0, 1));
	control_timestamp before;
	control_get_timestamp(&before);
	GList *records = dispatch(POLLOUT);
	ASSERT_EQ(1u, g_list_length(records));
	auto *job = static_cast<control_job *>(records->data);
	EXPECT_EQ(172u, job->type);
	EXPECT_EQ(1, job->stream_id);
	EXPECT_EQ(1u, job->producer_word);
	EXPECT_EQ(nullptr, job->release);
	EXPECT_GE(job->timestamp.sec * 1000000 + job->timestamp.usec, before.sec * 1000000 + before.usec);
	g_list_free(records);

	// The reader takes one element; the next finds nobody waiting.
	uint8_t element[16] = {1, 2, 3};
	control_timestamp ts = {40, 2};
	EXPECT_EQ(1, datacache_write(cache, 0, &ts, element));
	uint8_t seen[16] = {};
	uint64_t sec = 0, usec = 0;
	EXPECT_EQ(16, simsoc_datacache_latest(0, "image_stats", seen, sizeof seen, &sec, &usec));
	EXPECT_EQ(0, memcmp(element, seen, 16));
	EXPECT_EQ(40u, sec);
	EXPECT_EQ(2u, usec);
	EXPECT_EQ(nullptr, dispatch(POLLOUT));
	EXPECT_EQ(0, datacache_write(cache, 0, nullptr, element));
	EXPECT_EQ(2u, simsoc_datacache_elements(0, "image_stats"));
	// Waiting again, but deselected: nothing posted.
	simsoc_datacache_wait(0, "image_stats");
	EXPECT_EQ(PLATFORM_OK, datacache_set_select(cache, 0, 0));
	EXPECT_EQ(nullptr, dispatch(POLLOUT));
	EXPECT_EQ("", log.text());
}

struct RequestFailure {
	unsigned long code;
	std::function<int(datacache *)> call;
	int result;
	const char *message;
};

TEST_F(DataCache, EachFailedRequest)
{
	const RequestFailure cases[] = {
	    {DATACACHE_IOC_CREATE, [](datacache *c) { return datacache_create_cache(c, "y", 4, 4); }, -4, ""},
	    {DATACACHE_IOC_FIND, [](datacache *c) { return datacache_find_cache(c, "x"); }, -1, ""},
	    {DATACACHE_IOC_WRITE,
	     [](datacache *c) {
		     uint32_t v = 1;
		     return datacache_write(c, 0, nullptr, &v);
	     },
	     -4, "Unable to write to datacache \n"},
	    {DATACACHE_IOC_READ,
	     [](datacache *c) {
		     uint32_t v;
		     return datacache_read(c, 0, 1, nullptr, &v);
	     },
	     -1, "Unable to read data from datacache \n"},
	    {DATACACHE_IOC_DETAILS,
	     [](datacache *c) {
		     uint32_t info[2];
		     return datacache_get_cache_info(c, 0, info);
	     },
	     -4, "Unable to get cache details \n"},
	    {DATACACHE_IOC_SELECT, [](datacache *c) { return datacache_set_select(c, 0, 1); }, -4,
	     "Unable to set cache select \n"},
	};
	datacache *cache = writer();
	ASSERT_EQ(0, simsoc_datacache_create(0, "x", 4, 4));
	uint32_t v = 5;
	simsoc_datacache_push(0, "x", &v, 0, 0);
	simsoc_datacache_add_reader(0, "x");
	for (const RequestFailure &c : cases) {
		SCOPED_TRACE(c.code);
		log.clear();
		simsoc_datacache_fail(c.code, EIO, 1);
		EXPECT_EQ(c.result, c.call(cache));
		EXPECT_EQ(c.message, log.text(DEBUG_ERROR));
		// The device serves the next request.
		int again = c.call(cache);
		EXPECT_TRUE(again >= 0 || again == PLATFORM_OK) << again;
	}
}

TEST_F(DataCache, WithoutItsDeviceAnObjectRefusesAndClosesNothing)
{
	bool had_stdin = fcntl(0, F_GETFD) != -1;
	simsoc_inject_failure("/dev/datacache0", SIMSOC_OP_OPEN, ENODEV, 1);
	auto *cache = static_cast<datacache *>(datacache_general(nullptr, engine, 0));
	platform_add_datacache(p, cache, 0);
	EXPECT_EQ(-4, datacache_setup(cache, 0));
	EXPECT_EQ(-1, cache->fd);
	EXPECT_EQ(nullptr, p->input_sources);
	EXPECT_EQ(-4, datacache_create_cache(cache, "x", 4, 4));
	EXPECT_EQ(-4, datacache_find_cache(cache, "x"));
	EXPECT_EQ("Unable to open device: /dev/datacache0\ninvalid fd \ninvalid fd \n",
	          log.text(DEBUG_ERROR));
	// Destroying it leaves standard input alone.
	platform_remove_all_datacache(p, 0);
	EXPECT_EQ(had_stdin, fcntl(0, F_GETFD) != -1);
}

TEST_F(DataCache, WrappersWithoutObjectOrSlot)
{
	datacache *bare = datacache_new();
	uint32_t info[2];
	for (datacache *c : {(datacache *)nullptr, bare}) {
		EXPECT_EQ(-1, datacache_setup(c, 0));
		EXPECT_EQ(-1, datacache_create_cache(c, "x", 1, 1));
		EXPECT_EQ(-1, datacache_find_cache(c, "x"));
		EXPECT_EQ(-1, datacache_read(c, 0, 1, nullptr, info));
		EXPECT_EQ(-1, datacache_write(c, 0, nullptr, info));
		EXPECT_EQ(-1, datacache_get_cache_info(c, 0, info));
		EXPECT_EQ(-1, datacache_set_select(c, 0, 1));
	}
	datacache_destroy(bare);
	datacache_destroy(nullptr);
}

TEST_F(DataCache, ADestroyedWriterSourceLeavesTheObjectToCloseCleanly)
{
	writer();
	int open_before = simsoc_open_files();
	platform_remove_all_input_sources(p);
	EXPECT_EQ(open_before, simsoc_open_files());
	platform_remove_all_datacache(p, 0);
	EXPECT_EQ(open_before - 1, simsoc_open_files());
}

TEST_F(DataCache, SourceNamesAndRegistration)
{
	// No such cache: nothing made.
	EXPECT_EQ(nullptr, source(datacache_distance_input_source));
	EXPECT_EQ("Unable to register cache distance_0\n", log.text(DEBUG_ERROR));
	EXPECT_EQ(0, simsoc_open_files());

	ASSERT_EQ(0, simsoc_datacache_create(0, "abcdefghijklmnopqrs", 24, 4));
	p->ioctl = recording_ioctl;
	input_source *s = datacache_input_source_new(p, "abcdefghijklmnopqrstuvwxyz", 0, 0, nullptr, 0);
	p->ioctl = nullptr;
	ASSERT_NE(nullptr, s);
	EXPECT_STREQ("abcdefghijklmnopqrstuvwxyz_", s->name);
	EXPECT_STREQ("/dev/datacache0", s->descriptor->path);
	ASSERT_EQ(1u, requests.size());
	EXPECT_EQ(DATACACHE_IOC_FIND, requests[0].code);
	EXPECT_EQ(1u, word(requests[0], 20));
	EXPECT_EQ(256u, word(requests[0], 24));
	input_source_free(s);
}

TEST_F(DataCache, DistanceBecomesARecord)
{
	ASSERT_EQ(0, simsoc_datacache_create(1, "distance", 24, 4));
	input_source *s = source(datacache_distance_input_source, 0x100);
	ASSERT_NE(nullptr, s);
	EXPECT_STREQ("distance_1", s->name);
	EXPECT_EQ(nullptr, dispatch());
	uint8_t element[24];
	for (int i = 0; i < 24; i++)
		element[i] = (uint8_t)(i + 1);
	simsoc_datacache_push(1, "distance", element, 5, 6);
	GList *records = dispatch();
	ASSERT_EQ(1u, g_list_length(records));
	auto *r = static_cast<datacache_record *>(records->data);
	EXPECT_EQ(133u, r->header.type);
	EXPECT_EQ(0x100, r->header.stream_id);
	EXPECT_EQ(0u, r->header.frame);
	EXPECT_EQ(5, r->header.timestamp.sec);
	EXPECT_EQ(6, r->header.timestamp.usec);
	EXPECT_EQ(1u, r->header.producer_word);
	EXPECT_EQ(nullptr, r->header.release);
	EXPECT_EQ(0, memcmp(element, r->element, 24));
	g_list_free(records);
	EXPECT_EQ(nullptr, dispatch());
	// A failed read logs and gives nothing.
	simsoc_datacache_fail(DATACACHE_IOC_READ, EIO, 1);
	GList *none = s->read(p, s, nullptr);
	EXPECT_EQ(nullptr, none);
	EXPECT_EQ("Unable to read data from distance datacache \n", log.text(DEBUG_ERROR));
}

TEST_F(DataCache, MotorOpticsDrainsEveryWaitingElement)
{
	ASSERT_EQ(0, simsoc_datacache_create(0, "motoroptics", 24, 16));
	input_source *s = source(datacache_optics_input_source);
	ASSERT_NE(nullptr, s);
	for (uint8_t i = 1; i <= 3; i++) {
		uint8_t element[24] = {i};
		element[17] = 1;
		simsoc_datacache_push(0, "motoroptics", element, i, 0);
	}
	GList *records = dispatch();
	ASSERT_EQ(3u, g_list_length(records));
	uint8_t n = 1;
	for (GList *l = records; l; l = l->next, n++) {
		auto *r = static_cast<datacache_record *>(l->data);
		EXPECT_EQ(134u, r->header.type);
		EXPECT_EQ(n, r->element[0]);
		EXPECT_EQ(1, r->element[17]);
		EXPECT_EQ(n, r->header.timestamp.sec);
	}
	g_list_free(records);
	EXPECT_EQ(nullptr, dispatch());

	// Nothing waiting: twice silent, the third time in a row logged.
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(nullptr, s->read(p, s, nullptr));
	EXPECT_EQ("Unable to read data from motoroptics datacache\n", log.text(DEBUG_ERROR));
	// A good read starts the count again; another error is logged at once.
	log.clear();
	uint8_t element[24] = {9};
	simsoc_datacache_push(0, "motoroptics", element, 0, 0);
	GList *one = s->read(p, s, nullptr);
	EXPECT_EQ(1u, g_list_length(one));
	g_list_free(one);
	EXPECT_EQ(nullptr, s->read(p, s, nullptr));
	EXPECT_EQ("", log.text());
	simsoc_datacache_fail(DATACACHE_IOC_READ, EIO, 1);
	EXPECT_EQ(nullptr, s->read(p, s, nullptr));
	EXPECT_EQ("Unable to read data from motoroptics datacache\n", log.text(DEBUG_ERROR));
}

// Another program writes from its own thread while the daemon drains: every
// element arrives once, in order.
TEST_F(DataCache, ElementsWrittenFromAnotherThreadArriveOnceInOrder)
{
	const uint32_t total = 300;
	ASSERT_EQ(0, simsoc_datacache_create(0, "motoroptics", 24, 1024));
	input_source *s = source(datacache_optics_input_source);
	ASSERT_NE(nullptr, s);
	std::thread writer([] {
		for (uint32_t n = 1; n <= total; n++) {
			uint32_t element[6] = {n};
			simsoc_datacache_push(0, "motoroptics", element, n, 0);
		}
	});
	uint32_t next = 1;
	while (next <= total) {
		pollfd pfd = {s->descriptor->fd, POLLIN, 0};
		if (poll(&pfd, 1, 2000) != 1)
			break;
		GList *records = dispatch();
		for (GList *l = records; l; l = l->next) {
			uint32_t n;
			memcpy(&n, static_cast<datacache_record *>(l->data)->element, 4);
			EXPECT_EQ(next, n);
			next = n + 1;
		}
		g_list_free(records);
	}
	writer.join();
	EXPECT_EQ(total + 1, next);
	EXPECT_EQ("", log.text());
}

TEST_F(DataCache, MoveSetsThePanAndTiltSpeeds)
{
	ASSERT_EQ(0, simsoc_datacache_create(0, "move", 24, 4));
	input_source *s = source(datacache_move_input_source);
	ASSERT_NE(nullptr, s);
	struct {
		int32_t pan, tilt;
		int32_t pan_q, tilt_q;
	} cases[] = {{100, -7, 9800, -686}, {0, 1, 0, 98}, {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}};
	for (auto &c : cases) {
		int32_t element[6] = {0, c.pan, c.tilt};
		simsoc_datacache_push(0, "move", element, 0, 0);
		EXPECT_EQ(nullptr, dispatch());
		EXPECT_EQ(c.pan_q, imfix(89));
		EXPECT_EQ(c.tilt_q, imfix(90));
	}
	simsoc_datacache_fail(DATACACHE_IOC_READ, EIO, 1);
	EXPECT_EQ(nullptr, s->read(p, s, nullptr));
	EXPECT_EQ("Unable to read data from move_data datacache!\n", log.text(DEBUG_ERROR));
}

TEST_F(DataCache, SensorDataSetsTheGainAtOnceAndOnEveryElement)
{
	// Before the source exists another program wrote a gain.
	ASSERT_EQ(0, simsoc_datacache_create(0, "sensor_data", 16, 4));
	int32_t element[4] = {3};
	simsoc_datacache_push(0, "sensor_data", element, 0, 0);
	input_source *s = source(datacache_sensor_data_input_source);
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(3 * 16384, imfix(14));
	element[0] = 5;
	simsoc_datacache_push(0, "sensor_data", element, 0, 0);
	EXPECT_EQ(nullptr, dispatch());
	EXPECT_EQ(5 * 16384, imfix(14));
	simsoc_datacache_fail(DATACACHE_IOC_READ, EIO, 1);
	EXPECT_EQ(nullptr, s->read(p, s, nullptr));
	EXPECT_EQ("Unable to read data from sensor_data datacache!\n", log.text(DEBUG_ERROR));

	// An empty cache at creation is not worth a message.
	log.clear();
	ASSERT_EQ(0, simsoc_datacache_create(1, "sensor_data", 16, 4));
	EXPECT_NE(nullptr, source(datacache_sensor_data_input_source, 0x100));
	EXPECT_EQ("", log.text());
}

} // namespace
