// What back-end units and request messages need of a session. The session
// proper implements it; tests stand in for it with a double.
#pragma once

#include <cstdint>
#include <memory>

namespace kalun
{

class JobRequest;
class LoadModelRequest;
class DeleteModelRequest;

class SessionInterface
{
      public:
	virtual ~SessionInterface() = default;

	// The caller id used for model ownership and permission checks.
	virtual uint64_t getId() const = 0;

	// The session's best pending job for the unit at unitIndex (highest
	// priority, then oldest; see JobRequestLess). Called by the unit's job
	// worker while it holds the unit's job-queue lock, so it must not call
	// back into the unit. One job is pending for every order the session
	// queued on that unit.
	virtual std::shared_ptr<JobRequest> popJobRequest(uint64_t unitIndex) = 0;

	// Result hand-backs, on the unit worker that finished the request. The
	// request's error slot says whether it failed. They should not raise;
	// a sender that does is caught and logged by the request.
	virtual void sendLoadModelResult(const LoadModelRequest &request) = 0;
	virtual void sendDeleteModelResult(const DeleteModelRequest &request) = 0;
	virtual void sendJobResult(const JobRequest &request) = 0;
};

} // namespace kalun
