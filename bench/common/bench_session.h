// Just enough of a session for benchmarks that drive a back-end unit
// through its queues: it hands out the one pending job and lets the caller
// wait for each result.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "kalun/messages.h"
#include "kalun/session_interface.h"

namespace bench
{

// Just enough of a session to queue jobs and wait for their results.
class BenchSession : public kalun::SessionInterface
{
      public:
	uint64_t getId() const override
	{
		return 1;
	}
	std::shared_ptr<kalun::JobRequest> popJobRequest(uint64_t) override
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return std::move(pending_);
	}
	void sendLoadModelResult(const kalun::LoadModelRequest &r) override
	{
		finish(r.getError(), r.getModelId());
	}
	void sendDeleteModelResult(const kalun::DeleteModelRequest &r) override
	{
		finish(r.getError(), 0);
	}
	void sendJobResult(const kalun::JobRequest &r) override
	{
		finish(r.getError(), 0);
	}

	void setPending(std::shared_ptr<kalun::JobRequest> job)
	{
		std::lock_guard<std::mutex> lock(mutex_);
		pending_ = std::move(job);
		done_ = false;
	}
	// The result's model id; raises the request's failure.
	uint64_t wait()
	{
		std::unique_lock<std::mutex> lock(mutex_);
		cv_.wait(lock, [this] { return done_; });
		done_ = false;
		if (error_)
			std::rethrow_exception(std::exchange(error_, nullptr));
		return modelId_;
	}

      private:
	void finish(const std::exception_ptr &error, uint64_t modelId)
	{
		std::unique_lock<std::mutex> lock(mutex_);
		error_ = error;
		modelId_ = modelId;
		done_ = true;
		lock.unlock();
		cv_.notify_all();
	}

	std::mutex mutex_;
	std::condition_variable cv_;
	std::shared_ptr<kalun::JobRequest> pending_;
	std::exception_ptr error_;
	uint64_t modelId_ = 0;
	bool done_ = false;
};

} // namespace bench
