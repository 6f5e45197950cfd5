// Runs callables strictly one at a time, in submission order, on one
// thread of its own ("singleprocq"), for work that must always happen on
// the same thread. Each submitter waits for its own callable and gets back
// what it raised.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>

namespace kalun
{

class SingleProcWorker
{
      public:
	class Request
	{
	      public:
		explicit Request(std::function<void()> callable);

		// Runs the callable and keeps what it raised; an empty callable
		// raises std::bad_function_call.
		void run();
		void markDone();
		void waitDone();
		std::exception_ptr getError() const
		{
			return error_;
		}

	      private:
		std::function<void()> callable_;
		std::mutex mutex_;
		std::condition_variable cv_;
		std::exception_ptr error_;
		bool done_ = false;
	};

	SingleProcWorker();
	// Must not run while an execute() is waiting: its request would never
	// be run.
	~SingleProcWorker();
	SingleProcWorker(const SingleProcWorker &) = delete;
	SingleProcWorker &operator=(const SingleProcWorker &) = delete;

	// Returns once the callable has run on the worker thread: empty, or the
	// error it raised, for the caller to rethrow or not.
	std::exception_ptr execute(const std::function<void()> &callable);

      private:
	void processRequests();

	std::atomic<bool> running_;
	std::mutex mutex_;
	std::condition_variable cv_;
	std::queue<std::shared_ptr<Request>> queue_;
	std::thread thread_;
};

} // namespace kalun
