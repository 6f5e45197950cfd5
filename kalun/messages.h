// Requests that carry a client's load, delete and job from its session to a
// back-end unit's worker thread, and their outcome back.
//
// A result travels back on the worker thread that processed the request:
// the worker stores any failure in the request's error slot, then calls
// AsyncMsg::sendResult, which lets the unit commit its registry and, if the
// session still exists, has the session send the result. A message refers
// to its session weakly: it never keeps a closed session alive, and its
// result is then dropped with a log line.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kalun/parameter_map.h"
#include "kalun/session_interface.h"
#include "kalun/tensor.h"

namespace kalun
{

class BackEndUnit;

class Msg
{
      public:
	class SessionExpired : public std::runtime_error
	{
	      public:
		SessionExpired() : std::runtime_error("Session has expired") {}
	};

	explicit Msg(std::weak_ptr<SessionInterface> session);
	virtual ~Msg();
	Msg(const Msg &) = delete;
	Msg &operator=(const Msg &) = delete;

	// The session's id; SessionExpired once the session is gone.
	uint64_t getSessionId() const;
	// Steady-clock time of construction; orders jobs of equal priority.
	std::chrono::steady_clock::time_point getCreationTime() const
	{
		return creationTime_;
	}

	// The error slot: empty until processing or a commit fails. Only the
	// thread that owns the request at the time touches it.
	bool hasError() const
	{
		return static_cast<bool>(error_);
	}
	const std::exception_ptr &getError() const
	{
		return error_;
	}
	// Keeps the first error stored.
	void setError(std::exception_ptr error);

      protected:
	// A strong reference for the length of one call, or null.
	std::shared_ptr<SessionInterface> lockSession() const
	{
		return session_.lock();
	}

      private:
	std::weak_ptr<SessionInterface> session_;
	std::chrono::steady_clock::time_point creationTime_;
	std::exception_ptr error_;
};

class AsyncMsg : public Msg
{
      public:
	using Msg::Msg;
	// Hands the outcome back; never lets an exception reach the worker.
	virtual void sendResult() = 0;
};

class LoadModelRequest : public AsyncMsg
{
      public:
	static constexpr uint64_t kNoModelId = ~uint64_t(0);

	LoadModelRequest(std::weak_ptr<SessionInterface> session, BackEndUnit &unit, uint64_t callerId,
	                 uint64_t unitIndex, std::vector<uint8_t> modelData, int32_t access, std::string name,
	                 uint64_t clientTag, ParameterMap params);

	uint64_t getCallerId() const
	{
		return callerId_;
	}
	uint64_t getUnitIndex() const
	{
		return unitIndex_;
	}
	const std::vector<uint8_t> &getModelData() const
	{
		return modelData_;
	}
	int32_t getAccess() const
	{
		return access_;
	}
	const std::string &getName() const
	{
		return name_;
	}
	uint64_t getClientTag() const
	{
		return clientTag_;
	}
	const ParameterMap &getParams() const
	{
		return params_;
	}
	// kNoModelId until the unit queues the request.
	uint64_t getModelId() const
	{
		return modelId_;
	}
	void setModelId(uint64_t id)
	{
		modelId_ = id;
	}
	BackEndUnit &getUnit() const
	{
		return unit_;
	}
	const std::vector<TensorMetadata> &getInputs() const
	{
		return inputs_;
	}
	const std::vector<TensorMetadata> &getOutputs() const
	{
		return outputs_;
	}
	// What the unit's load described; an empty list is refused.
	void setTensorMetadata(std::vector<TensorMetadata> inputs, std::vector<TensorMetadata> outputs);

	// Commits the model at the unit, then answers the session; with the
	// session gone, a private model that was entered is deleted again.
	void sendResult() override;

      private:
	uint64_t callerId_;
	uint64_t unitIndex_;
	std::vector<uint8_t> modelData_;
	int32_t access_;
	std::string name_;
	uint64_t clientTag_;
	ParameterMap params_;
	uint64_t modelId_ = kNoModelId;
	BackEndUnit &unit_;
	std::vector<TensorMetadata> inputs_;
	std::vector<TensorMetadata> outputs_;
};

class DeleteModelRequest : public AsyncMsg
{
      public:
	DeleteModelRequest(std::weak_ptr<SessionInterface> session, BackEndUnit &unit, uint64_t callerId,
	                   uint64_t modelId, uint64_t unitIndex, uint64_t clientTag);

	uint64_t getCallerId() const
	{
		return callerId_;
	}
	uint64_t getModelId() const
	{
		return modelId_;
	}
	uint64_t getUnitIndex() const
	{
		return unitIndex_;
	}
	uint64_t getClientTag() const
	{
		return clientTag_;
	}
	BackEndUnit &getUnit() const
	{
		return unit_;
	}

	// Removes the model from the unit's registry unless an error is
	// stored, then answers the session if it still exists.
	void sendResult() override;

      private:
	uint64_t callerId_;
	uint64_t modelId_;
	uint64_t unitIndex_;
	uint64_t clientTag_;
	BackEndUnit &unit_;
};

class JobRequest : public AsyncMsg
{
      public:
	JobRequest(std::weak_ptr<SessionInterface> session, uint64_t modelId, std::vector<Tensor> inputs,
	           std::vector<Tensor> outputs, uint8_t priority, uint64_t clientTag, ParameterMap params);

	uint64_t getModelId() const
	{
		return modelId_;
	}
	const std::vector<Tensor> &getInputs() const
	{
		return inputs_;
	}
	const std::vector<Tensor> &getOutputs() const
	{
		return outputs_;
	}
	// Larger runs first.
	uint8_t getPriority() const
	{
		return priority_;
	}
	uint64_t getClientTag() const
	{
		return clientTag_;
	}
	const ParameterMap &getParams() const
	{
		return params_;
	}

	void sendResult() override;

      private:
	uint64_t modelId_;
	std::vector<Tensor> inputs_;
	std::vector<Tensor> outputs_;
	uint8_t priority_;
	uint64_t clientTag_;
	ParameterMap params_;
};

// The order of a session's pending jobs: a ranks below b when its priority
// is lower, or equal and a is younger. Fits std::push_heap and
// std::priority_queue, whose top is then the job to run next.
struct JobRequestLess {
	bool operator()(const std::shared_ptr<JobRequest> &a, const std::shared_ptr<JobRequest> &b) const
	{
		if (a->getPriority() != b->getPriority())
			return a->getPriority() < b->getPriority();
		return a->getCreationTime() > b->getCreationTime();
	}
};

// Stands for one pending job in a unit's job queue; redeemed for whatever
// job of its session ranks highest for that unit when the worker gets to it.
class JobOrder : public Msg
{
      public:
	JobOrder(std::weak_ptr<SessionInterface> session, uint64_t unitIndex);

	uint64_t getUnitIndex() const
	{
		return unitIndex_;
	}
	// SessionExpired once the session is gone.
	std::shared_ptr<JobRequest> getJobRequest() const;

      private:
	uint64_t unitIndex_;
};

} // namespace kalun
