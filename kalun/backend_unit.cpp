#include "kalun/backend_unit.h"

#include <pthread.h>

#include <optional>
#include <system_error>

#include "kalun/log.h"

namespace kalun
{

namespace
{

std::atomic<uint64_t> nextModelId{0};

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kBackEndUnit) + function + "(): " + text;
}

// A result hand-back is not supposed to raise; should one do so anyway, the
// worker must live on for the requests behind it.
void handBack(AsyncMsg &msg)
{
	try {
		msg.sendResult();
	} catch (const std::exception &e) {
		log::error(std::string("Could not hand back result: ") + e.what());
	} catch (...) {
		log::error("Could not hand back result: unknown error");
	}
}

} // namespace

BackEndUnit::ModelNotFound::ModelNotFound(uint64_t modelId)
    : std::runtime_error("Model " + std::to_string(modelId) + " not found")
{
}

BackEndUnit::PermissionDenied::PermissionDenied(uint64_t caller, const Model &model)
    : std::runtime_error("Caller " + std::to_string(caller) + " does not have permissions for model " +
                         model.toString())
{
}

BackEndUnit::BackEndUnit(std::shared_ptr<allocator::Allocator> inputAllocator,
                         std::shared_ptr<allocator::Allocator> outputAllocator)
    : inputAllocator_(std::move(inputAllocator)), outputAllocator_(std::move(outputAllocator))
{
}

BackEndUnit::~BackEndUnit()
{
	stopProcessingQueues();
}

std::unique_ptr<Buffer> BackEndUnit::allocateInput(uint64_t byteSize, uint32_t fdProps,
                                                   const ParameterMap &params)
{
	return inputAllocator_->allocate(byteSize, fdProps, params);
}

std::unique_ptr<Buffer> BackEndUnit::allocateOutput(uint64_t byteSize, uint32_t fdProps,
                                                    const ParameterMap &params)
{
	return outputAllocator_->allocate(byteSize, fdProps, params);
}

const container::ModelContainer *BackEndUnit::verifyModelContainer(ConstByteSpan model) const
{
	return kalun::verifyModelContainer(model, getMinModelFormatVersion());
}

uint64_t BackEndUnit::takeModelId()
{
	return nextModelId.fetch_add(1);
}

Model BackEndUnit::getModel(uint64_t modelId) const
{
	std::lock_guard<std::mutex> lock(modelMapMutex_);
	auto it = modelMap_.find(modelId);
	if (it == modelMap_.end())
		throw ModelNotFound(modelId);
	return it->second;
}

std::unordered_map<uint64_t, Model> BackEndUnit::getModels() const
{
	std::lock_guard<std::mutex> lock(modelMapMutex_);
	return modelMap_;
}

bool BackEndUnit::hasPermission(uint64_t callerId, const Model &model) const
{
	if (model.getAccess() != kModelAccessPrivate)
		return true;
	std::lock_guard<std::mutex> lock(creatorMapMutex_);
	auto it = creatorMap_.find(model.getId());
	if (it == creatorMap_.end()) {
		const std::string text = "Creator for model " + model.toString() + " not found";
		log::error(text);
		throw std::out_of_range(text);
	}
	return it->second == callerId;
}

const Model &BackEndUnit::mapModel(uint64_t creatorId, uint64_t modelId, const std::string &name,
                                   uint64_t size, int32_t access, std::vector<TensorMetadata> inputs,
                                   std::vector<TensorMetadata> outputs)
{
	Model model(modelId, name, size, access, std::move(inputs), std::move(outputs));
	if (modelMap_.count(modelId)) {
		const std::string text =
		    "Could not map ID to model: ID " + std::to_string(modelId) + " already exists";
		log::error(text);
		throw std::runtime_error(text);
	}
	std::lock_guard<std::mutex> lock(creatorMapMutex_);
	// Checked before anything is entered so that both maps always change
	// together.
	if (creatorMap_.count(modelId)) {
		const std::string text =
		    "Could not map model to creator: Model ID " + std::to_string(modelId) + " already exists";
		log::error(text);
		throw std::runtime_error(text);
	}
	auto entry = modelMap_.emplace(modelId, std::move(model)).first;
	creatorMap_.emplace(modelId, creatorId);
	return entry->second;
}

void BackEndUnit::unmapModel(uint64_t modelId)
{
	auto it = modelMap_.find(modelId);
	if (it == modelMap_.end()) {
		ModelNotFound error(modelId);
		log::error(error.what());
		throw error;
	}
	{
		std::lock_guard<std::mutex> lock(creatorMapMutex_);
		auto creator = creatorMap_.find(modelId);
		if (creator == creatorMap_.end()) {
			const std::string text =
			    "Could not find creator for model " + std::to_string(modelId);
			log::error(text);
			throw std::runtime_error(text);
		}
		creatorMap_.erase(creator);
	}
	modelMap_.erase(it);
}

void BackEndUnit::commitLoadModel(LoadModelRequest &request)
{
	if (request.hasError())
		return;
	try {
		std::lock_guard<std::mutex> lock(modelMapMutex_);
		mapModel(request.getCallerId(), request.getModelId(), request.getName(),
		         request.getModelData().size(), request.getAccess(), request.getInputs(),
		         request.getOutputs());
	} catch (...) {
		request.setError(std::current_exception());
	}
}

void BackEndUnit::commitDeleteModel(DeleteModelRequest &request)
{
	if (request.hasError())
		return;
	try {
		std::lock_guard<std::mutex> lock(modelMapMutex_);
		unmapModel(request.getModelId());
	} catch (...) {
		request.setError(std::current_exception());
	}
}

void BackEndUnit::deleteModel(uint64_t callerId, uint64_t modelId)
{
	std::lock_guard<std::mutex> lock(modelMapMutex_);
	auto it = modelMap_.find(modelId);
	if (it == modelMap_.end())
		throw ModelNotFound(modelId);
	if (!hasPermission(callerId, it->second))
		throw PermissionDenied(callerId, it->second);
	deleteModelVirtual(modelId);
	unmapModel(modelId);
}

Model BackEndUnit::loadModel(uint64_t creatorId, ConstByteSpan model, int32_t access, const std::string &name,
                             const ParameterMap &params)
{
	std::lock_guard<std::mutex> lock(modelMapMutex_);
	const uint64_t modelId = takeModelId();
	auto lists = loadModelVirtual(model, modelId, params);
	return mapModel(creatorId, modelId, name, model.size(), access, std::move(lists.first),
	                std::move(lists.second));
}

template <typename T> void BackEndUnit::push(Queue<T> &queue, std::shared_ptr<T> entry, const char *name)
{
	size_t size;
	{
		std::lock_guard<std::mutex> lock(queue.mutex);
		queue.entries.push_back(std::move(entry));
		size = queue.entries.size();
	}
	// Woken after the lock is let go, the worker does not run straight
	// into it.
	queue.cv.notify_all();
	KALUN_LOG_DEBUG(debugText(name, "Pushed (size = " + std::to_string(size) + ")"));
}

// Waits for an entry while the queue is open. False once it is closed, even
// with entries still waiting: those are dropped with the unit.
template <typename T>
std::shared_ptr<T> BackEndUnit::popLocked(Queue<T> &queue, std::unique_lock<std::mutex> &lock)
{
	queue.cv.wait(lock, [&] { return !queue.entries.empty() || !queue.open; });
	if (!queue.open)
		return nullptr;
	auto entry = std::move(queue.entries.front());
	queue.entries.pop_front();
	if (!entry)
		throw std::logic_error("Can not take a null request from the queue");
	return entry;
}

template <typename T> void BackEndUnit::close(Queue<T> &queue)
{
	{
		std::lock_guard<std::mutex> lock(queue.mutex);
		queue.open = false;
	}
	queue.cv.notify_all();
}

void BackEndUnit::queueLoadModel(std::shared_ptr<LoadModelRequest> request)
{
	{
		std::lock_guard<std::mutex> lock(modelMapMutex_);
		request->setModelId(takeModelId());
	}
	push(loadQueue_, std::move(request), "queueLoadModel");
}

void BackEndUnit::queueDeleteModel(std::shared_ptr<DeleteModelRequest> request)
{
	push(deleteQueue_, std::move(request), "queueDeleteModel");
}

void BackEndUnit::queueJob(std::shared_ptr<JobOrder> order)
{
	push(jobQueue_, std::move(order), "queueJob");
}

size_t BackEndUnit::jobQueueSize() const
{
	std::lock_guard<std::mutex> lock(jobQueue_.mutex);
	return jobQueue_.entries.size();
}

size_t BackEndUnit::loadModelQueueSize() const
{
	std::lock_guard<std::mutex> lock(loadQueue_.mutex);
	return loadQueue_.entries.size();
}

size_t BackEndUnit::deleteModelQueueSize() const
{
	std::lock_guard<std::mutex> lock(deleteQueue_.mutex);
	return deleteQueue_.entries.size();
}

void BackEndUnit::startProcessingQueues()
{
	if (!workers_.empty())
		return;
	running_ = true;
	workers_.emplace_back(&BackEndUnit::processJobQueue, this);
	workers_.emplace_back(&BackEndUnit::processLoadModelQueue, this);
	workers_.emplace_back(&BackEndUnit::processDeleteModelQueue, this);
}

void BackEndUnit::stopProcessingQueues()
{
	if (workers_.empty())
		return;
	running_ = false;
	close(jobQueue_);
	close(loadQueue_);
	close(deleteQueue_);
	for (auto &worker : workers_) {
		try {
			worker.join();
		} catch (const std::system_error &e) {
			log::error(std::string("Could not join thread: ") + e.what());
		}
	}
	workers_.clear();
	KALUN_LOG_DEBUG(debugText("stopProcessingQueues", "Stopped queue processing threads"));
}

void BackEndUnit::nameThread(const char *prefix)
{
	const std::string name = prefix + std::to_string(getNameAndChipId().second);
	if (pthread_setname_np(pthread_self(), name.c_str()) != 0)
		log::error("Could not set thread name \"" + name + "\"");
}

void BackEndUnit::processLoadModelQueue()
{
	KALUN_LOG_DEBUG(debugText("processLoadModelQueue", "Started"));
	nameThread("loadmodelq");
	while (running_) {
		std::shared_ptr<LoadModelRequest> request;
		try {
			std::unique_lock<std::mutex> lock(loadQueue_.mutex);
			request = popLocked(loadQueue_, lock);
		} catch (const std::exception &e) {
			log::error(e.what());
			continue;
		}
		if (!request)
			break;
		try {
			auto lists = loadModelVirtual(ConstByteSpan(request->getModelData()),
			                              request->getModelId(), request->getParams());
			request->setTensorMetadata(std::move(lists.first), std::move(lists.second));
		} catch (...) {
			request->setError(std::current_exception());
		}
		handBack(*request);
	}
	KALUN_LOG_DEBUG(debugText("processLoadModelQueue", "Stopped"));
}

void BackEndUnit::processDeleteModelQueue()
{
	KALUN_LOG_DEBUG(debugText("processDeleteModelQueue", "Started"));
	nameThread("delmodelq");
	while (running_) {
		std::shared_ptr<DeleteModelRequest> request;
		std::unique_lock<std::mutex> lock(deleteQueue_.mutex);
		try {
			request = popLocked(deleteQueue_, lock);
		} catch (const std::logic_error &e) {
			log::error(e.what());
			continue;
		}
		if (!request)
			break;
		try {
			std::lock_guard<std::mutex> models(modelMapMutex_);
			auto it = modelMap_.find(request->getModelId());
			if (it == modelMap_.end())
				throw ModelNotFound(request->getModelId());
			if (!hasPermission(request->getCallerId(), it->second))
				throw PermissionDenied(request->getCallerId(), it->second);
		} catch (...) {
			request->setError(std::current_exception());
		}
		lock.unlock();
		if (request->hasError()) {
			handBack(*request);
			KALUN_LOG_DEBUG(debugText("processDeleteModelQueue",
			                          "Skipping delete model request; it had exceptions"));
			continue;
		}
		try {
			deleteModelVirtual(request->getModelId());
		} catch (...) {
			request->setError(std::current_exception());
		}
		handBack(*request);
	}
	KALUN_LOG_DEBUG(debugText("processDeleteModelQueue", "Stopped"));
}

void BackEndUnit::processJobQueue()
{
	KALUN_LOG_DEBUG(debugText("processJobQueue", "Started"));
	nameThread("jobq");
	while (running_) {
		std::shared_ptr<JobRequest> job;
		bool stopped = false;
		try {
			job = takeJobRequest(stopped);
		} catch (const InvalidJobRequest &e) {
			log::warning(std::string("Skipping job request: ") + e.what());
			continue;
		}
		if (stopped)
			break;
		if (job->hasError()) {
			handBack(*job);
			KALUN_LOG_DEBUG(
			    debugText("processJobQueue", "Skipping job request; it had exceptions"));
			continue;
		}
		try {
			runJobVirtual(job->getModelId(), job->getInputs(), job->getOutputs(),
			              job->getParams());
		} catch (...) {
			job->setError(std::current_exception());
		}
		failIfCutShort(*job);
		handBack(*job);
	}
	KALUN_LOG_DEBUG(debugText("processJobQueue", "Stopped"));
}

// A buffer its client cut short during the job gave the job zeros in place
// of its data: whatever the job made of them is void.
void BackEndUnit::failIfCutShort(JobRequest &job)
{
	for (const auto *tensors : {&job.getInputs(), &job.getOutputs()})
		for (const Tensor &tensor : *tensors)
			if (tensor.getBuffer()->hasFailed()) {
				job.setError(
				    std::make_exception_ptr(FileDescriptorError(Buffer::kCutShortText)));
				return;
			}
}

std::shared_ptr<JobRequest> BackEndUnit::takeJobRequest(bool &stopped)
{
	std::shared_ptr<JobRequest> job;
	{
		std::unique_lock<std::mutex> lock(jobQueue_.mutex);
		std::shared_ptr<JobOrder> order;
		try {
			order = popLocked(jobQueue_, lock);
		} catch (const std::logic_error &e) {
			throw InvalidJobRequest(std::string("Could not get job request: ") + e.what());
		}
		if (!order) {
			stopped = true;
			return nullptr;
		}
		try {
			job = order->getJobRequest();
		} catch (const std::exception &e) {
			throw InvalidJobRequest(std::string("Could not get job request: ") + e.what());
		}
	}
	if (!job)
		throw InvalidJobRequest("Could not get job request: Job request is null");
	validateJobRequest(*job);
	return job;
}

void BackEndUnit::validateJobRequest(JobRequest &job)
{
	uint64_t caller;
	try {
		caller = job.getSessionId();
	} catch (const std::exception &e) {
		job.setError(std::make_exception_ptr(
		    InvalidJobRequest(std::string("Could not get session ID: ") + e.what())));
		return;
	}
	std::optional<Model> model;
	try {
		std::lock_guard<std::mutex> lock(modelMapMutex_);
		auto it = modelMap_.find(job.getModelId());
		if (it == modelMap_.end())
			throw ModelNotFound(job.getModelId());
		if (!hasPermission(caller, it->second))
			throw PermissionDenied(caller, it->second);
		model = it->second;
	} catch (...) {
		job.setError(std::current_exception());
		return;
	}
	try {
		checkTensors(job, *model);
	} catch (...) {
		job.setError(std::current_exception());
	}
}

namespace
{

void checkCount(size_t got, size_t expected, const char *side)
{
	if (got != expected)
		throw BackEndUnit::TensorMismatch("Number of " + std::string(side) +
		                                  " tensors mismatch (got " + std::to_string(got) +
		                                  ", expected " + std::to_string(expected) + ")");
}

void checkDescriptions(const std::vector<Tensor> &tensors, const std::vector<TensorMetadata> &expected,
                       const char *side)
{
	for (size_t i = 0; i < tensors.size(); ++i) {
		try {
			tensors[i].checkMatch(expected[i]);
		} catch (const std::invalid_argument &e) {
			throw BackEndUnit::TensorMismatch(std::string(side) + " tensor " + std::to_string(i) +
			                                  " mismatch: " + e.what());
		}
	}
}

void checkFdSizes(const std::vector<Tensor> &tensors, const std::vector<TensorMetadata> &expected,
                  const char *side)
{
	for (size_t i = 0; i < tensors.size(); ++i) {
		const Buffer &buffer = *tensors[i].getBuffer();
		const uint64_t fdSize = buffer.getFdSize();
		const uint64_t byteSize = expected[i].getByteSize();
		const uint64_t offset = static_cast<uint64_t>(buffer.getOffset());
		if (fdSize == 0)
			continue;
		if (byteSize > fdSize || offset > fdSize - byteSize)
			throw FileDescriptorError(std::string(side) + " tensor " + std::to_string(i) +
			                          " has fd size (" + std::to_string(fdSize) +
			                          ") less than required byte size (" +
			                          std::to_string(byteSize) + ") plus fd offset (" +
			                          std::to_string(buffer.getOffset()) + ")");
	}
}

} // namespace

void BackEndUnit::checkTensors(const JobRequest &job, const Model &model) const
{
	checkCount(job.getInputs().size(), model.getInputs().size(), "input");
	checkCount(job.getOutputs().size(), model.getOutputs().size(), "output");
	checkDescriptions(job.getInputs(), model.getInputs(), "Input");
	checkDescriptions(job.getOutputs(), model.getOutputs(), "Output");
	checkFdSizes(job.getInputs(), model.getInputs(), "Input");
	checkFdSizes(job.getOutputs(), model.getOutputs(), "Output");
}

} // namespace kalun
