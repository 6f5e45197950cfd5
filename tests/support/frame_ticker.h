// VIN 0 of the simulated SoC ticked whenever someone waits for a frame (its
// own clock stopped), so the camera library's frame thread and 3A start run
// without a wall clock; a test that counts frames stops it and steps each
// tick itself. Needs the simulated SoC's headers.
#ifndef TESTS_SUPPORT_FRAME_TICKER_H
#define TESTS_SUPPORT_FRAME_TICKER_H

#include "simsoc_qvd.h"
#include "simsoc_vin.h"

#include <atomic>
#include <chrono>
#include <thread>

class FrameTicker
{
      public:
	~FrameTicker()
	{
		stop();
	}
	void start()
	{
		if (thread_.joinable())
			return;
		ticking_ = true;
		thread_ = std::thread([this] {
			while (ticking_) {
				if (simsoc_qvd_stat_waiting() > 0)
					simsoc_vin_tick(0);
				std::this_thread::sleep_for(std::chrono::microseconds(200));
			}
		});
	}
	void stop()
	{
		ticking_ = false;
		if (thread_.joinable())
			thread_.join();
	}

      private:
	std::atomic<bool> ticking_{false};
	std::thread thread_;
};

// Polls a condition that another thread makes true; bounded (about 2 s).
template <typename Fn> bool eventually(Fn fn)
{
	for (int i = 0; i < 2000; i++) {
		if (fn())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	return fn();
}

#endif
