// The abstract back-end unit ("chip" on the wire): an engine that loads
// models and runs jobs on three worker threads of its own.
//
// A concrete unit supplies its name and chip id, the lowest container format
// version it accepts and the three operations loadModelVirtual,
// deleteModelVirtual and runJobVirtual. The base keeps the registry of loaded
// models with the session that loaded each, decides who may use a model,
// and owns the load, delete and job queues with one worker each.
//
// Concrete units must call stopProcessingQueues() first thing in their
// destructor, so that no worker runs into a half-destroyed unit.
//
// Lock order: a queue mutex before modelMapMutex before creatorMapMutex; no
// queue mutex is taken while modelMapMutex is held. The job-queue mutex is
// held while a job order is redeemed at its session.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kalun/allocator/allocator.h"
#include "kalun/messages.h"
#include "kalun/model.h"
#include "kalun/parameter_map.h"
#include "kalun/span.h"
#include "kalun/tensor.h"

namespace kalun
{

class BackEndUnit
{
      public:
	// "Model <id> not found"
	class ModelNotFound : public std::runtime_error
	{
	      public:
		explicit ModelNotFound(uint64_t modelId);
	};
	// "Caller <session id> does not have permissions for model <description>"
	class PermissionDenied : public std::runtime_error
	{
	      public:
		PermissionDenied(uint64_t caller, const Model &model);
	};
	// A job that cannot be taken or checked.
	class InvalidJobRequest : public std::runtime_error
	{
	      public:
		using std::runtime_error::runtime_error;
	};
	// A job's tensors do not fit its model.
	class TensorMismatch : public std::invalid_argument
	{
	      public:
		using std::invalid_argument::invalid_argument;
	};

	using TensorMetadataLists = std::pair<std::vector<TensorMetadata>, std::vector<TensorMetadata>>;

	BackEndUnit(std::shared_ptr<allocator::Allocator> inputAllocator,
	            std::shared_ptr<allocator::Allocator> outputAllocator);
	virtual ~BackEndUnit();
	BackEndUnit(const BackEndUnit &) = delete;
	BackEndUnit &operator=(const BackEndUnit &) = delete;

	virtual std::unique_ptr<Buffer> allocateInput(uint64_t byteSize, uint32_t fdProps,
	                                              const ParameterMap &params);
	virtual std::unique_ptr<Buffer> allocateOutput(uint64_t byteSize, uint32_t fdProps,
	                                               const ParameterMap &params);
	// (unit name, chip id)
	virtual std::pair<std::string, int32_t> getNameAndChipId() const = 0;
	// Loads the model under modelId and describes its inputs and outputs.
	// Runs on the load worker (or under modelMapMutex for a synchronous load):
	// must not call back into this unit's registry.
	virtual TensorMetadataLists loadModelVirtual(ConstByteSpan model, uint64_t modelId,
	                                             const ParameterMap &params) = 0;
	virtual void deleteModelVirtual(uint64_t modelId) = 0;
	// Runs a job whose tensors were already checked against the model;
	// results go into the output buffers.
	virtual void runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
	                           const std::vector<Tensor> &outputs, const ParameterMap &params) = 0;
	virtual int32_t getMinModelFormatVersion() const = 0;
	// The container's root table (pointing into model), nullptr for bytes
	// that are no container; std::invalid_argument for a container older
	// than this unit accepts.
	virtual const container::ModelContainer *verifyModelContainer(ConstByteSpan model) const;

	// Registry reads return copies; they stay valid after a deletion.
	Model getModel(uint64_t modelId) const;
	std::unordered_map<uint64_t, Model> getModels() const;

	// Called from a request's result hand-back; failures land in the
	// request's error slot, nothing is raised.
	void commitLoadModel(LoadModelRequest &request);
	void commitDeleteModel(DeleteModelRequest &request);

	// Synchronous forms; they raise on failure and leave the registry as it
	// was.
	void deleteModel(uint64_t callerId, uint64_t modelId);
	Model loadModel(uint64_t creatorId, ConstByteSpan model, int32_t access, const std::string &name,
	                const ParameterMap &params);

	// Public models (any access but 1) are for everyone; a private one only
	// for the session that loaded it.
	bool hasPermission(uint64_t callerId, const Model &model) const;

	// Queueing never blocks on the work and never checks the request. A
	// queued load gets its model id here.
	void queueLoadModel(std::shared_ptr<LoadModelRequest> request);
	void queueDeleteModel(std::shared_ptr<DeleteModelRequest> request);
	void queueJob(std::shared_ptr<JobOrder> order);

	// Starts the job, load and delete workers, once.
	void startProcessingQueues();
	// Lets running requests finish, drops what is still queued (no results)
	// and joins the workers. Does nothing if nothing was started.
	void stopProcessingQueues();
	// False once a stop has begun (or before any start): workers take no
	// further requests.
	bool isProcessing() const
	{
		return running_;
	}

	size_t jobQueueSize() const;
	size_t loadModelQueueSize() const;
	size_t deleteModelQueueSize() const;

      private:
	template <typename T> struct Queue {
		mutable std::mutex mutex;
		std::condition_variable cv;
		std::deque<std::shared_ptr<T>> entries;
		std::atomic<bool> open{true};
	};

	static uint64_t takeModelId();

	const Model &mapModel(uint64_t creatorId, uint64_t modelId, const std::string &name, uint64_t size,
	                      int32_t access, std::vector<TensorMetadata> inputs,
	                      std::vector<TensorMetadata> outputs);
	void unmapModel(uint64_t modelId);

	template <typename T> void push(Queue<T> &queue, std::shared_ptr<T> entry, const char *name);
	template <typename T>
	static std::shared_ptr<T> popLocked(Queue<T> &queue, std::unique_lock<std::mutex> &lock);
	template <typename T> static void close(Queue<T> &queue);

	void nameThread(const char *prefix);
	void processJobQueue();
	void processLoadModelQueue();
	void processDeleteModelQueue();
	std::shared_ptr<JobRequest> takeJobRequest(bool &stopped);
	void validateJobRequest(JobRequest &job);
	static void failIfCutShort(JobRequest &job);
	void checkTensors(const JobRequest &job, const Model &model) const;

	std::shared_ptr<allocator::Allocator> inputAllocator_;
	std::shared_ptr<allocator::Allocator> outputAllocator_;
	std::unordered_map<uint64_t, Model> modelMap_;
	// Creator session per model id; changes together with modelMap_.
	std::unordered_map<uint64_t, uint64_t> creatorMap_;
	mutable std::mutex creatorMapMutex_;
	mutable std::mutex modelMapMutex_;
	Queue<JobOrder> jobQueue_;
	Queue<LoadModelRequest> loadQueue_;
	Queue<DeleteModelRequest> deleteQueue_;
	std::atomic<bool> running_{false};
	std::vector<std::thread> workers_;
};

} // namespace kalun
