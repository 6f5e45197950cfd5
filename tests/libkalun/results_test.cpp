// The result thread of a connection: results matched to pending requests by
// their tags, and every request still pending completed with -6 when the
// connection closes, from either end.
#include "connection.h"
#include "fake_kalun.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

using fakekalun::FakeKalun;
using fakekalun::Script;

// What one callback saw.
struct Seen {
	bool called = false;
	int code = 0; // 0 when the callback got no error
	std::string msg;
	std::string thread;
	bool model_null = true;
	size_t count = 0;
	std::vector<uint64_t> sizes;
	std::vector<uint32_t> props;
	bool fds_valid = false;
};

class Calls
{
      public:
	void record(size_t i, const kalunError *err, const std::function<void(Seen &)> &more = {})
	{
		std::lock_guard<std::mutex> g(lock_);
		Seen &s = seen_[i];
		s.called = true;
		s.code = err ? err->code : 0;
		s.msg = err && err->msg ? err->msg : "";
		char name[32] = "";
		pthread_getname_np(pthread_self(), name, sizeof(name));
		s.thread = name;
		if (more)
			more(s);
		cv_.notify_all();
	}
	bool wait(size_t i)
	{
		std::unique_lock<std::mutex> g(lock_);
		return cv_.wait_for(g, std::chrono::seconds(5), [&] { return seen_[i].called; });
	}
	Seen get(size_t i)
	{
		std::lock_guard<std::mutex> g(lock_);
		return seen_[i];
	}

      private:
	std::mutex lock_;
	std::condition_variable cv_;
	std::map<size_t, Seen> seen_;
};

struct Slot {
	Calls *calls;
	size_t index;
};

void on_done(void *ud, kalunError *err)
{
	auto *s = static_cast<Slot *>(ud);
	s->calls->record(s->index, err);
}

void on_load(kalunModel *model, void *ud, kalunError *err)
{
	auto *s = static_cast<Slot *>(ud);
	s->calls->record(s->index, err, [&](Seen &seen) { seen.model_null = model == nullptr; });
}

void on_alloc(void *ud, const int *fds, const uint64_t *sizes, const uint32_t *props, size_t count,
              kalunError *err)
{
	auto *s = static_cast<Slot *>(ud);
	s->calls->record(s->index, err, [&](Seen &seen) {
		seen.count = count;
		seen.fds_valid = count > 0 || fds == nullptr;
		for (size_t i = 0; i < count; i++) {
			struct stat st;
			seen.fds_valid = seen.fds_valid && fstat(fds[i], &st) == 0;
			seen.sizes.push_back(sizes[i]);
			seen.props.push_back(props[i]);
		}
	});
}

class Results : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fake_ = std::make_unique<FakeKalun>();
		kalun_test::Err err;
		ASSERT_TRUE(kalunConnect(&conn_, err.loc())) << err.msg();
		// The handshake answer is the first result; it completes nothing.
		fake_->wait_requests(1);
	}
	void TearDown() override
	{
		kalunDisconnect(&conn_, nullptr);
		fake_.reset();
	}

	// A registered request of the given kind; returns its tag.
	uint64_t pend(uint32_t kind, size_t index)
	{
		slots_.push_back(std::make_unique<Slot>(Slot{&calls_, index}));
		auto *p = static_cast<kalun_pending *>(calloc(1, sizeof(kalun_pending)));
		p->kind = kind;
		p->user_data = slots_.back().get();
		if (kind == KALUN_REQUEST_LOAD_MODEL)
			p->callback.load = on_load;
		else if (kind == KALUN_REQUEST_ALLOC_TENSORS)
			p->callback.alloc = on_alloc;
		else
			p->callback.done = on_done;
		EXPECT_TRUE(kalun_pending_register(conn_, p, nullptr));
		return kalun_pending_tag(p);
	}

	std::unique_ptr<FakeKalun> fake_;
	kalunConnection *conn_ = nullptr;
	Calls calls_;
	std::vector<std::unique_ptr<Slot>> slots_;
};

TEST_F(Results, EachResultCompletesTheRequestOfItsTag)
{
	uint64_t job = pend(KALUN_REQUEST_JOB, 0);
	uint64_t del = pend(KALUN_REQUEST_DELETE_MODEL, 1);
	uint64_t dealloc = pend(KALUN_REQUEST_DEALLOC_TENSORS, 2);
	uint64_t alloc = pend(KALUN_REQUEST_ALLOC_TENSORS, 3);

	// Answers in another order than the requests.
	fake_->send_alloc(alloc, 0, "", {64, 128}, {3, 3}, 2);
	fake_->send_tail("DeleteModel", del, -4, "Could not delete model: Model 9 not found");
	fake_->send_tail("QueueJob", job, 0, "");
	fake_->send_tail("DeallocTensors", dealloc, 0, "");

	for (size_t i = 0; i < 4; i++)
		ASSERT_TRUE(calls_.wait(i)) << i;
	Seen s = calls_.get(0);
	EXPECT_EQ(s.code, 0);
	EXPECT_EQ(s.thread, "kalunbusproc");
	s = calls_.get(1);
	EXPECT_EQ(s.code, -4);
	EXPECT_EQ(s.msg, "Could not delete model: Model 9 not found");
	EXPECT_EQ(calls_.get(2).code, 0);
	s = calls_.get(3);
	EXPECT_EQ(s.code, 0);
	EXPECT_EQ(s.count, 2u);
	EXPECT_TRUE(s.fds_valid);
	EXPECT_EQ(s.sizes, (std::vector<uint64_t>{64, 128}));
	EXPECT_EQ(s.props, (std::vector<uint32_t>{3, 3}));

	// Nothing is left pending.
	pthread_mutex_lock(&conn_->pending_lock);
	EXPECT_EQ(kalun_hashset_size(conn_->pending), 0u);
	pthread_mutex_unlock(&conn_->pending_lock);
}

TEST_F(Results, UnreadableOrUnknownResultsAreDroppedAndTheRequestWaits)
{
	uint64_t alloc = pend(KALUN_REQUEST_ALLOC_TENSORS, 0);
	uint64_t job = pend(KALUN_REQUEST_JOB, 1);

	// Two descriptors but one size: not a result that can be trusted.
	fake_->send_alloc(alloc, 0, "", {64}, {3, 3}, 2);
	// A tag nobody sent must not be taken for an address.
	fake_->send_tail("QueueJob", job ^ 0x10, 0, "");
	// A result of the wrong shape for its member.
	fake_->send_raw("QueueJob", [&](sd_bus_message *m) { sd_bus_message_append(m, "t", job); });
	// A member nobody asked for.
	fake_->send_tail("Reboot", job, 0, "");

	// The next good result arrives after all of those.
	uint64_t probe = pend(KALUN_REQUEST_DEALLOC_TENSORS, 2);
	fake_->send_tail("DeallocTensors", probe, 0, "");
	ASSERT_TRUE(calls_.wait(2));
	EXPECT_FALSE(calls_.get(0).called);
	EXPECT_FALSE(calls_.get(1).called);

	ASSERT_TRUE(kalunDisconnect(&conn_, nullptr));
	EXPECT_EQ(calls_.get(0).code, -6);
	EXPECT_EQ(calls_.get(0).count, 0u);
	EXPECT_EQ(calls_.get(1).code, -6);
}

TEST_F(Results, DisconnectCompletesEveryPendingRequestWithMinusSixBeforeReturning)
{
	const uint32_t kinds[] = {KALUN_REQUEST_LOAD_MODEL, KALUN_REQUEST_JOB, KALUN_REQUEST_DELETE_MODEL,
	                          KALUN_REQUEST_ALLOC_TENSORS, KALUN_REQUEST_DEALLOC_TENSORS};
	// Enough requests that the pending set has grown.
	const size_t n = 40;
	for (size_t i = 0; i < n; i++)
		pend(kinds[i % 5], i);
	EXPECT_EQ(kalun_hashset_buckets(conn_->pending), 64u);

	ASSERT_TRUE(kalunDisconnect(&conn_, nullptr));
	EXPECT_EQ(conn_, nullptr);
	for (size_t i = 0; i < n; i++) {
		Seen s = calls_.get(i);
		ASSERT_TRUE(s.called) << i;
		EXPECT_EQ(s.code, -6) << i;
		EXPECT_EQ(s.msg, "Asynchronous connection has been closed") << i;
		EXPECT_EQ(s.thread, "kalunbusproc") << i;
		EXPECT_TRUE(s.model_null);
		EXPECT_EQ(s.count, 0u);
	}
}

TEST_F(Results, ServiceClosingTheResultChannelCompletesPendingRequests)
{
	pend(KALUN_REQUEST_JOB, 0);
	pend(KALUN_REQUEST_LOAD_MODEL, 1);
	fake_->close_results();

	ASSERT_TRUE(calls_.wait(0));
	ASSERT_TRUE(calls_.wait(1));
	EXPECT_EQ(calls_.get(0).code, -6);
	EXPECT_EQ(calls_.get(1).msg, "Asynchronous connection has been closed");
	EXPECT_TRUE(conn_->closed.load());

	// The connection stays until it is disconnected, and that still works.
	size_t n = 0;
	EXPECT_NE(kalunListDevices(conn_, &n, nullptr), nullptr);
	EXPECT_EQ(n, 2u);
	EXPECT_TRUE(kalunDisconnect(&conn_, nullptr));
}

void ignore_signal(int) {}

TEST_F(Results, ASignalOnTheResultThreadDoesNotCloseTheConnection)
{
	struct sigaction sa = {};
	struct sigaction old = {};
	sa.sa_handler = ignore_signal; // no SA_RESTART: the wait is interrupted
	ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

	uint64_t job = pend(KALUN_REQUEST_JOB, 0);
	ASSERT_EQ(pthread_kill(conn_->thread, SIGUSR1), 0);
	fake_->send_tail("QueueJob", job, -1, "Could not run job: too big");
	ASSERT_TRUE(calls_.wait(0));
	EXPECT_EQ(calls_.get(0).code, -1);
	EXPECT_EQ(calls_.get(0).msg, "Could not run job: too big");
	EXPECT_FALSE(conn_->closed.load());

	sigaction(SIGUSR1, &old, nullptr);
}

} // namespace
