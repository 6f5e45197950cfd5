// The client library against the real inference service on a private bus:
// sessions, results matched by tag, parameter maps the service reads, and
// requests in flight when the connection closes.
#include "connection.h"
#include "map.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using kalun_test::Err;
using namespace std::chrono_literals;

bool service_present()
{
	sd_bus *bus = nullptr;
	if (sd_bus_open_system(&bus) < 0)
		return false;
	int has = 0;
	sd_bus_message *reply = nullptr;
	if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
	                       "NameHasOwner", nullptr, &reply, "s", "com.tovi.Kalun1") >= 0)
		sd_bus_message_read(reply, "b", &has);
	sd_bus_message_unref(reply);
	sd_bus_flush_close_unref(bus);
	return has;
}

// What the callbacks of pending requests saw, by request number.
struct Outcome {
	bool called = false;
	int code = 0;
	std::string msg;
};

class Outcomes
{
      public:
	void record(size_t i, const kalunError *err)
	{
		std::lock_guard<std::mutex> g(lock_);
		seen_[i] = {true, err ? err->code : 0, err && err->msg ? err->msg : ""};
		cv_.notify_all();
	}
	Outcome wait(size_t i)
	{
		std::unique_lock<std::mutex> g(lock_);
		cv_.wait_for(g, 10s, [&] { return seen_[i].called; });
		return seen_[i];
	}
	Outcome get(size_t i)
	{
		std::lock_guard<std::mutex> g(lock_);
		return seen_[i];
	}

      private:
	std::mutex lock_;
	std::condition_variable cv_;
	std::map<size_t, Outcome> seen_;
};

struct Slot {
	Outcomes *outcomes;
	size_t index;
};

void on_done(void *ud, kalunError *err)
{
	auto *s = static_cast<Slot *>(ud);
	s->outcomes->record(s->index, err);
}

void on_alloc(void *ud, const int *, const uint64_t *, const uint32_t *, size_t, kalunError *err)
{
	auto *s = static_cast<Slot *>(ud);
	s->outcomes->record(s->index, err);
}

class RealService : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		pid_ = fork();
		if (pid_ == 0) {
			execl(KALUN_PROGRAM, KALUN_PROGRAM, "-s", static_cast<char *>(nullptr));
			_exit(127);
		}
		ASSERT_GT(pid_, 0);
		ASSERT_TRUE(kalun_test::eventually_true(service_present)) << "kalun did not take its name";
	}
	static void TearDownTestSuite()
	{
		if (pid_ > 0) {
			kill(pid_, SIGTERM);
			waitpid(pid_, nullptr, 0);
			pid_ = -1;
		}
	}
	void TearDown() override
	{
		kalunDisconnect(&conn_, nullptr);
	}

	void connect()
	{
		Err err;
		ASSERT_TRUE(kalunConnect(&conn_, err.loc())) << err.msg();
	}

	kalun_pending *pend(uint32_t kind, size_t index)
	{
		slots_.push_back(std::make_unique<Slot>(Slot{&outcomes_, index}));
		auto *p = static_cast<kalun_pending *>(calloc(1, sizeof(kalun_pending)));
		p->kind = kind;
		p->user_data = slots_.back().get();
		if (kind == KALUN_REQUEST_ALLOC_TENSORS)
			p->callback.alloc = on_alloc;
		else
			p->callback.done = on_done;
		EXPECT_TRUE(kalun_pending_register(conn_, p, nullptr));
		return p;
	}

	// Registers a request and sends it with the given body.
	void request(uint32_t kind, size_t index, const char *member,
	             const std::function<void(sd_bus_message *, uint64_t tag)> &body)
	{
		kalun_pending *p = pend(kind, index);
		sd_bus_message *m = nullptr;
		ASSERT_GE(kalun_request_new(conn_, member, &m), 0);
		body(m, kalun_pending_tag(p));
		EXPECT_GE(kalun_request_send(conn_, m), 0);
		kalun_request_end(conn_, m);
	}

	static pid_t pid_;
	kalunConnection *conn_ = nullptr;
	Outcomes outcomes_;
	std::vector<std::unique_ptr<Slot>> slots_;
};

pid_t RealService::pid_ = -1;

uint64_t sessions(kalunConnection *conn)
{
	uint64_t n = UINT64_MAX;
	Err err;
	EXPECT_TRUE(kalunGetNumSessions(conn, &n, err.loc())) << err.msg();
	return n;
}

TEST_F(RealService, ConnectListsTheUnitsAndCountsSessions)
{
	connect();
	size_t n = 0;
	const kalunDevice *const *devs = kalunListDevices(conn_, &n, nullptr);
	ASSERT_EQ(n, 2u);
	EXPECT_STREQ(kalunGetDeviceName(devs[0], nullptr), "cpu-tflite");
	EXPECT_STREQ(kalunGetDeviceName(devs[1], nullptr), "cpu-proc");
	int32_t *chips = nullptr;
	ASSERT_TRUE(kalunListChips(conn_, &chips, &n, nullptr));
	EXPECT_EQ((std::vector<int32_t>(chips, chips + n)), (std::vector<int32_t>{2, 11}));
	free(chips);
	EXPECT_EQ(kalunGetDevice(conn_, "cpu-proc", 0, nullptr), devs[1]);

	uint64_t before = sessions(conn_);
	EXPECT_GE(before, 1u);
	kalunConnection *second = nullptr;
	Err err;
	ASSERT_TRUE(kalunConnect(&second, err.loc())) << err.msg();
	EXPECT_EQ(sessions(conn_), before + 1);
	EXPECT_NE(conn_->session_id, second->session_id);
	ASSERT_TRUE(kalunDisconnect(&second, nullptr));
	// The service notices the lost client on its own time.
	EXPECT_TRUE(kalun_test::eventually_true([&] { return sessions(conn_) == before; }));
}

TEST_F(RealService, AnswersReachTheRequestOfTheirTag)
{
	connect();
	// No such model on a real unit, and a unit beyond the list.
	request(KALUN_REQUEST_DELETE_MODEL, 0, "DeleteModel", [](sd_bus_message *m, uint64_t tag) {
		ASSERT_GE(sd_bus_message_append(m, "ttt", UINT64_C(424242), UINT64_C(0), tag), 0);
	});
	request(KALUN_REQUEST_DELETE_MODEL, 1, "DeleteModel", [](sd_bus_message *m, uint64_t tag) {
		ASSERT_GE(sd_bus_message_append(m, "ttt", UINT64_C(1), UINT64_C(3), tag), 0);
	});
	request(KALUN_REQUEST_DEALLOC_TENSORS, 2, "DeallocTensors", [](sd_bus_message *m, uint64_t tag) {
		ASSERT_GE(sd_bus_message_append(m, "att", 1, UINT64_C(77), tag), 0);
	});

	Outcome o = outcomes_.wait(1);
	ASSERT_TRUE(o.called);
	EXPECT_EQ(o.code, -9);
	EXPECT_EQ(o.msg, "Chip ID is larger than number of units");
	o = outcomes_.wait(0);
	ASSERT_TRUE(o.called);
	EXPECT_EQ(o.code, -4);
	EXPECT_EQ(o.msg.rfind("Could not delete model: ", 0), 0u) << o.msg;
	o = outcomes_.wait(2);
	ASSERT_TRUE(o.called);
	EXPECT_EQ(o.code, 0);
}

TEST_F(RealService, TheServiceReadsAParameterMap)
{
	connect();
	kalunMap *map = kalunCreateMap(nullptr);
	ASSERT_TRUE(kalunMapSetInt(map, "scale", 2, nullptr));
	ASSERT_TRUE(kalunMapSetStr(map, "format", "nv12", nullptr));
	ASSERT_TRUE(kalunMapSetIntArr2(map, "size", 64, 48, nullptr));
	ASSERT_TRUE(kalunMapSetIntArr4(map, "crop", 0, 0, 32, 24, nullptr));

	// A request whose map the service cannot read is not answered at all, so
	// an answer shows the dictionary was read.
	request(KALUN_REQUEST_ALLOC_TENSORS, 0, "AllocTensors", [&](sd_bus_message *m, uint64_t tag) {
		ASSERT_GE(sd_bus_message_append(m, "ttatyut", UINT64_C(424242), UINT64_C(1), 1, UINT64_C(5),
		                                0, 3u, tag),
		          0);
		ASSERT_TRUE(kalun_map_append(map, m, nullptr));
	});
	Outcome o = outcomes_.wait(0);
	ASSERT_TRUE(o.called);
	EXPECT_EQ(o.code, -4);
	EXPECT_EQ(o.msg.rfind("Could not get model: ", 0), 0u) << o.msg;
	kalunDestroyMap(&map);
}

TEST_F(RealService, DisconnectWithRequestsInFlightGivesEachMinusSix)
{
	connect();
	// Requests the service does not answer: a job of the wrong shape, and
	// requests registered but never sent.
	request(KALUN_REQUEST_JOB, 0, "QueueJob",
	        [](sd_bus_message *m, uint64_t tag) { ASSERT_GE(sd_bus_message_append(m, "t", tag), 0); });
	for (size_t i = 1; i < 20; i++)
		pend(i % 2 ? KALUN_REQUEST_DELETE_MODEL : KALUN_REQUEST_ALLOC_TENSORS, i);

	ASSERT_TRUE(kalunDisconnect(&conn_, nullptr));
	for (size_t i = 0; i < 20; i++) {
		Outcome o = outcomes_.get(i);
		EXPECT_TRUE(o.called) << i;
		EXPECT_EQ(o.code, -6) << i;
		EXPECT_EQ(o.msg, "Asynchronous connection has been closed") << i;
	}

	// The service goes on serving.
	connect();
	size_t n = 0;
	kalunListDevices(conn_, &n, nullptr);
	EXPECT_EQ(n, 2u);
}

} // namespace
