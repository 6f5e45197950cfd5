// A stand-in for the session: keeps per-unit job heaps and records every
// result handed back to it.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kalun/backend_unit.h"
#include "kalun/messages.h"
#include "kalun/session_interface.h"

namespace kalun::test
{

struct Result {
	std::string kind; // "load", "delete" or "job"
	uint64_t tag = 0;
	std::string errorType; // "" on success
	std::string error;
	uint64_t modelId = 0;
};

inline std::pair<std::string, std::string> classify(const std::exception_ptr &error)
{
	if (!error)
		return {"", ""};
	try {
		std::rethrow_exception(error);
	} catch (const BackEndUnit::ModelNotFound &e) {
		return {"ModelNotFound", e.what()};
	} catch (const BackEndUnit::PermissionDenied &e) {
		return {"PermissionDenied", e.what()};
	} catch (const BackEndUnit::TensorMismatch &e) {
		return {"TensorMismatch", e.what()};
	} catch (const BackEndUnit::InvalidJobRequest &e) {
		return {"InvalidJobRequest", e.what()};
	} catch (const FileDescriptorError &e) {
		return {"FileDescriptorError", e.what()};
	} catch (const std::exception &e) {
		return {"other", e.what()};
	}
}

class FakeSession : public SessionInterface
{
      public:
	explicit FakeSession(uint64_t id) : id_(id) {}

	uint64_t getId() const override
	{
		return id_;
	}

	std::shared_ptr<JobRequest> popJobRequest(uint64_t unitIndex) override
	{
		std::lock_guard<std::mutex> lock(mutex_);
		auto &heap = heaps_.at(unitIndex);
		std::pop_heap(heap.begin(), heap.end(), JobRequestLess());
		auto job = heap.back();
		heap.pop_back();
		return job;
	}

	void sendLoadModelResult(const LoadModelRequest &r) override
	{
		record("load", r.getClientTag(), r.getError(), r.getModelId());
	}
	void sendDeleteModelResult(const DeleteModelRequest &r) override
	{
		record("delete", r.getClientTag(), r.getError(), r.getModelId());
	}
	void sendJobResult(const JobRequest &r) override
	{
		record("job", r.getClientTag(), r.getError(), r.getModelId());
	}

	// What the session does for QueueJob: the job into its heap, an order
	// into the unit's queue.
	static void queueJob(const std::shared_ptr<FakeSession> &self, BackEndUnit &unit, uint64_t unitIndex,
	                     std::shared_ptr<JobRequest> job)
	{
		{
			std::lock_guard<std::mutex> lock(self->mutex_);
			auto &heap = self->heaps_[unitIndex];
			heap.push_back(std::move(job));
			std::push_heap(heap.begin(), heap.end(), JobRequestLess());
		}
		unit.queueJob(std::make_shared<JobOrder>(self, unitIndex));
	}

	// Waits until at least n results arrived (or a few seconds passed).
	std::vector<Result> waitForResults(size_t n)
	{
		std::unique_lock<std::mutex> lock(mutex_);
		cv_.wait_for(lock, std::chrono::seconds(10), [&] { return results_.size() >= n; });
		EXPECT_GE(results_.size(), n) << "results missing";
		return results_;
	}
	std::vector<Result> results()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return results_;
	}

	bool throwOnSend = false;

      private:
	void record(const char *kind, uint64_t tag, const std::exception_ptr &error, uint64_t modelId)
	{
		const auto [type, text] = classify(error);
		{
			std::lock_guard<std::mutex> lock(mutex_);
			results_.push_back({kind, tag, type, text, modelId});
		}
		cv_.notify_all();
		if (throwOnSend)
			throw std::runtime_error("result channel broken");
	}

	uint64_t id_;
	std::mutex mutex_;
	std::condition_variable cv_;
	std::map<uint64_t, std::vector<std::shared_ptr<JobRequest>>> heaps_;
	std::vector<Result> results_;
};

// Opened once by the test; the unit's job waits on it.
class Gate
{
      public:
	void open()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		open_ = true;
		cv_.notify_all();
	}
	void pass()
	{
		std::unique_lock<std::mutex> lock(mutex_);
		entered_ = true;
		cv_.notify_all();
		cv_.wait(lock, [this] { return open_; });
	}
	// Waits until a job is blocked in pass().
	bool waitEntered()
	{
		std::unique_lock<std::mutex> lock(mutex_);
		return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return entered_; });
	}

      private:
	std::mutex mutex_;
	std::condition_variable cv_;
	bool open_ = false;
	bool entered_ = false;
};

} // namespace kalun::test
