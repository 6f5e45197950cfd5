#include "kalun/backendunit/single_proc_worker.h"
#include "kalun/result_codes.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using kalun::SingleProcWorker;

std::string threadName()
{
	char name[16] = {};
	pthread_getname_np(pthread_self(), name, sizeof name);
	return name;
}

// Submitters on several threads: their callables run one at a time, each
// exactly once, all on the worker's own thread, and every submitter's
// callables in the order it submitted them.
TEST(SingleProcWorker, RunsOneAtATimeInOrderOnItsThread)
{
	SingleProcWorker worker;
	constexpr int kThreads = 4;
	constexpr int kEach = 200;
	std::atomic<int> inside{0};
	std::atomic<bool> overlapped{false};
	std::vector<int> ran; // only touched on the worker thread
	std::vector<std::string> names;
	std::thread::id workerId;

	std::vector<std::thread> submitters;
	for (int t = 0; t < kThreads; ++t)
		submitters.emplace_back([&, t] {
			for (int i = 0; i < kEach; ++i) {
				const auto error = worker.execute([&, t, i] {
					if (inside.fetch_add(1) != 0)
						overlapped = true;
					if (ran.empty()) {
						workerId = std::this_thread::get_id();
						names.push_back(threadName());
					} else if (std::this_thread::get_id() != workerId) {
						names.push_back("another thread");
					}
					ran.push_back(t * kEach + i);
					inside.fetch_sub(1);
				});
				EXPECT_FALSE(error);
			}
		});
	for (auto &s : submitters)
		s.join();

	EXPECT_FALSE(overlapped);
	EXPECT_EQ(names, std::vector<std::string>{"singleprocq"});
	ASSERT_EQ(ran.size(), size_t{kThreads * kEach});
	std::vector<int> next(kThreads, 0);
	for (int id : ran) {
		const int t = id / kEach;
		EXPECT_EQ(id % kEach, next[t]) << "submitter " << t;
		next[t] = id % kEach + 1;
	}
}

TEST(SingleProcWorker, ErrorsComeBackToTheirSubmitter)
{
	SingleProcWorker worker;
	EXPECT_EQ(kalun::errorText(worker.execute([] { throw std::runtime_error("lens on fire"); })),
	          "lens on fire");
	bool ranAfter = false;
	EXPECT_FALSE(worker.execute([&] { ranAfter = true; }));
	EXPECT_TRUE(ranAfter);

	const std::exception_ptr empty = worker.execute(std::function<void()>());
	ASSERT_TRUE(empty);
	EXPECT_THROW(std::rethrow_exception(empty), std::bad_function_call);

	// Anything thrown is kept, not only standard exceptions.
	const std::exception_ptr odd = worker.execute([] { throw 42; });
	ASSERT_TRUE(odd);
	EXPECT_THROW(std::rethrow_exception(odd), int);
}

TEST(SingleProcWorker, IdleWorkerStopsPromptly)
{
	const auto start = std::chrono::steady_clock::now();
	{
		SingleProcWorker worker;
	}
	{
		SingleProcWorker worker;
		EXPECT_FALSE(worker.execute([] {}));
	}
	EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
