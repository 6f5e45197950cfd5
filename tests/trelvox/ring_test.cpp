// The capture ring's hand-over between its two threads, stepped: the other
// side acts exactly when a side has found it must wait, which is where a
// wake-up gets lost if the check and the wait are not one step.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "trelvox_ring.h"

namespace
{

constexpr uint32_t kSize = 64;
constexpr uint32_t kNeed = 16;

struct Stepped {
	trelvox_ring ring;
	uint8_t buf[kSize] = {};
	std::function<void(trelvox_ring *)> step; // run once, on a thread of its own
	int waits[2] = {};
	std::thread other;

	Stepped()
	{
		trelvox_ring_init(&ring, buf, kSize);
		ring.before_wait = [](trelvox_ring *r, int for_data, void *arg) {
			auto *s = static_cast<Stepped *>(arg);
			if (s->waits[for_data]++ == 0)
				s->other = std::thread(s->step, r);
		};
		ring.before_wait_arg = this;
	}
	~Stepped()
	{
		if (other.joinable())
			other.join();
	}
};

TEST(TrelvoxRing, ConsumerWokenByDataPublishedAsItChecks)
{
	Stepped s;
	s.step = [](trelvox_ring *r) { trelvox_ring_produced(r, 0, 5); };
	uint32_t at = 99;
	bool end = true;
	EXPECT_EQ(trelvox_ring_wait_data(&s.ring, &at, &end), 5u);
	EXPECT_EQ(at, 0u);
	EXPECT_FALSE(end);
	EXPECT_EQ(s.waits[1], 1);
}

TEST(TrelvoxRing, ConsumerWokenByTheEndAsItChecks)
{
	Stepped s;
	s.step = [](trelvox_ring *r) { trelvox_ring_finish(r); };
	uint32_t at;
	bool end = false;
	EXPECT_EQ(trelvox_ring_wait_data(&s.ring, &at, &end), 0u);
	EXPECT_TRUE(end);
}

TEST(TrelvoxRing, ProducerWokenBySpaceFreedAsItChecks)
{
	Stepped s;
	// Nearly full: 60 of 64 bytes used, the producer needs more than 16 free.
	s.ring.w = 60;
	s.step = [](trelvox_ring *r) { trelvox_ring_consumed(r, 40, kNeed); };
	EXPECT_EQ(trelvox_ring_wait_space(&s.ring, kNeed), 60u);
	EXPECT_EQ(s.waits[0], 1);
	pthread_mutex_lock(&s.ring.lock);
	EXPECT_EQ(trelvox_ring_used_locked(&s.ring), 20u);
	pthread_mutex_unlock(&s.ring.lock);
}

// Freeing too little to go on does not wake the producer for nothing; the
// next release that does is seen.
TEST(TrelvoxRing, ProducerWaitsUntilEnoughIsFree)
{
	Stepped s;
	s.ring.w = 60;
	s.step = [](trelvox_ring *r) {
		trelvox_ring_consumed(r, 8, kNeed);  // 52 used, 12 free
		trelvox_ring_consumed(r, 50, kNeed); // 10 used
	};
	EXPECT_EQ(trelvox_ring_wait_space(&s.ring, kNeed), 60u);
}

TEST(TrelvoxRing, PositionsWrap)
{
	Stepped s;
	s.ring.w = 60;
	s.ring.r = 60;
	trelvox_ring_produced(&s.ring, 60, 10);
	uint32_t at;
	bool end;
	EXPECT_EQ(trelvox_ring_wait_data(&s.ring, &at, &end), 10u);
	EXPECT_EQ(at, 60u);
	EXPECT_EQ(s.ring.w, 6u);
}

} // namespace
