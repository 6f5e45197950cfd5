#include "kalun/block_recycler.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace
{

using kalun::BlockRecycler;
using kalun::RecyclingAllocator;

TEST(BlockRecycler, GivesBackBlocksOfTheSameSizeOnlyAndKeepsNoMoreThanItsCap)
{
	BlockRecycler recycler(2);
	void *a = recycler.take(96);
	void *b = recycler.take(96);
	void *c = recycler.take(96);
	recycler.give(a, 96);
	recycler.give(b, 96);
	recycler.give(c, 96); // beyond the cap: freed
	EXPECT_EQ(recycler.kept(), 2u);

	void *other = recycler.take(40);
	EXPECT_NE(other, a);
	EXPECT_NE(other, b);
	EXPECT_EQ(recycler.kept(), 2u);

	const std::set<void *> reused{recycler.take(96), recycler.take(96)};
	EXPECT_EQ(reused, (std::set<void *>{a, b}));
	EXPECT_EQ(recycler.kept(), 0u);
	for (void *block : reused)
		recycler.give(block, 96);
	recycler.give(other, 40);
	EXPECT_EQ(recycler.kept(), 3u);
}

struct Job {
	explicit Job(int v) : value(v)
	{
		std::memset(bytes, v & 0xff, sizeof bytes);
	}
	int value;
	unsigned char bytes[200];
};

// The session's bus thread makes jobs while a worker drops them: every job
// arrives whole and what is kept stays within the cap.
TEST(BlockRecycler, ObjectsMadeOnOneThreadAndDroppedOnAnother)
{
	auto recycler = std::make_shared<BlockRecycler>(4);
	std::mutex mutex;
	std::condition_variable cv;
	std::deque<std::shared_ptr<Job>> queue;
	bool done = false;
	int bad = 0;
	std::thread worker([&] {
		for (;;) {
			std::unique_lock<std::mutex> lock(mutex);
			cv.wait(lock, [&] { return done || !queue.empty(); });
			if (queue.empty())
				return;
			auto job = std::move(queue.front());
			queue.pop_front();
			lock.unlock();
			for (unsigned char byte : job->bytes)
				bad += byte != (job->value & 0xff);
		}
	});
	for (int i = 0; i < 5000; ++i) {
		auto job = std::allocate_shared<Job>(RecyclingAllocator<Job>(recycler), i);
		{
			std::lock_guard<std::mutex> lock(mutex);
			queue.push_back(std::move(job));
		}
		cv.notify_one();
	}
	{
		std::lock_guard<std::mutex> lock(mutex);
		done = true;
	}
	cv.notify_one();
	worker.join();
	EXPECT_EQ(bad, 0);
	EXPECT_GE(recycler->kept(), 1u);
	EXPECT_LE(recycler->kept(), 4u);
}

// A job still held by a worker when its session is gone returns its block
// to a recycler that its own allocator keeps alive.
TEST(BlockRecycler, OutlivesItsOwnerWhileABlockIsOut)
{
	auto recycler = std::make_shared<BlockRecycler>(4);
	auto job = std::allocate_shared<Job>(RecyclingAllocator<Job>(recycler), 7);
	std::weak_ptr<BlockRecycler> watch = recycler;
	recycler.reset();
	EXPECT_FALSE(watch.expired());
	job.reset();
	EXPECT_TRUE(watch.expired());
}

} // namespace
