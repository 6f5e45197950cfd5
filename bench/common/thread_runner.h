// The fair control for work that a service hands to a thread of its own:
// the same work handed to a worker thread and waited for, so that what the
// hand-off itself costs on this machine (waking a thread, caches of another
// core) shows apart from what the service adds to it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace bench
{

class ThreadRunner
{
      public:
	explicit ThreadRunner(std::function<void()> work)
	    : work_(std::move(work)), worker_([this] { serve(); })
	{
	}
	~ThreadRunner()
	{
		{
			std::lock_guard<std::mutex> lock(mutex_);
			stop_ = true;
		}
		cv_.notify_all();
		worker_.join();
	}
	ThreadRunner(const ThreadRunner &) = delete;
	ThreadRunner &operator=(const ThreadRunner &) = delete;

	void run()
	{
		{
			std::lock_guard<std::mutex> lock(mutex_);
			pending_ = true;
		}
		cv_.notify_all();
		std::unique_lock<std::mutex> lock(mutex_);
		cv_.wait(lock, [this] { return !pending_; });
	}

      private:
	void serve()
	{
		std::unique_lock<std::mutex> lock(mutex_);
		for (;;) {
			cv_.wait(lock, [this] { return pending_ || stop_; });
			if (stop_)
				return;
			lock.unlock();
			work_();
			lock.lock();
			pending_ = false;
			lock.unlock();
			cv_.notify_all();
			lock.lock();
		}
	}

	std::function<void()> work_;
	std::mutex mutex_;
	std::condition_variable cv_;
	bool pending_ = false;
	bool stop_ = false;
	std::thread worker_;
};

} // namespace bench
