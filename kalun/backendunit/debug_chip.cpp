#include "kalun/backendunit/debug_chip.h"

#include <sys/mman.h>

#include "kalun/allocator/memfd.h"
#include "kalun/log.h"

namespace kalun::backendunit
{

namespace
{

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kDebugChip) + function + "(): " + text;
}

// Built once at program start so that every load hands out the same two.
const TensorMetadata kInput(KALUN_TENSOR_DATA_TYPE_UINT8, KALUN_TENSOR_LAYOUT_UNSPECIFIED, {1, 1, 1, 1},
                            {1, 1, 1, 1}, 1, "DebugChipInput");
const TensorMetadata kOutput(KALUN_TENSOR_DATA_TYPE_UINT8, KALUN_TENSOR_LAYOUT_UNSPECIFIED, {4096, 1, 1, 1},
                             {4096, 1, 1, 1}, 4096, "DebugChipOutput");

constexpr uint32_t kSupported = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP;

void readInput(Buffer &buffer, uint64_t size)
{
	if (buffer.getFdProps() & KALUN_FD_PROP_MAP) {
		buffer.cpuAccess(size, PROT_READ);
		return;
	}
	if (buffer.getFdProps() & KALUN_FD_PROP_READWRITE) {
		std::vector<uint8_t> scratch(size, 0);
		buffer.read(scratch);
		return;
	}
	throw std::invalid_argument(unsupportedFdPropsText("Input", kSupported));
}

void writeOutput(Buffer &buffer, uint64_t size)
{
	if (buffer.getFdProps() & KALUN_FD_PROP_MAP) {
		auto access = buffer.cpuAccess(size, PROT_WRITE);
		for (uint64_t j = 0; j < size; ++j)
			access.get()[j] = static_cast<uint8_t>(j % 256);
		return;
	}
	if (buffer.getFdProps() & KALUN_FD_PROP_READWRITE) {
		std::vector<uint8_t> scratch(size);
		for (uint64_t j = 0; j < size; ++j)
			scratch[j] = static_cast<uint8_t>(j % 256);
		buffer.write(scratch);
		return;
	}
	throw std::invalid_argument(unsupportedFdPropsText("Output", kSupported));
}

} // namespace

DebugChip::BufferContext::BufferContext(uint64_t modelId, uint64_t cookie)
    : modelId_(modelId), cookie_(cookie)
{
	KALUN_LOG_DEBUG(std::string(logprefix::kDebugChipBufferContext) +
	                "BufferContext(): Created context with cookie " + std::to_string(cookie_) +
	                " for model " + std::to_string(modelId_));
}

DebugChip::BufferContext::~BufferContext()
{
	KALUN_LOG_DEBUG(std::string(logprefix::kDebugChipBufferContext) +
	                "~BufferContext(): Destroyed context with cookie " + std::to_string(cookie_) +
	                " for model " + std::to_string(modelId_));
}

const TensorMetadata &DebugChip::inputMetadata()
{
	return kInput;
}

const TensorMetadata &DebugChip::outputMetadata()
{
	return kOutput;
}

DebugChip::DebugChip() : BackEndUnit(allocator::MemFd::getShared(), allocator::MemFd::getShared())
{
	KALUN_LOG_DEBUG(debugText("DebugChip", "Constructed"));
}

DebugChip::~DebugChip()
{
	stopProcessingQueues();
	size_t left;
	{
		std::lock_guard<std::mutex> lock(contextMutex_);
		left = contexts_.size();
	}
	if (left)
		log::error("DebugChip::~DebugChip(): " + std::to_string(left) +
		           " model(s) have not destroyed all their BufferContexts");
	leaveObservedBuffers();
	KALUN_LOG_DEBUG(debugText("~DebugChip", "Destroyed"));
}

// Buffers outliving the unit must not call into it afterwards. A buffer
// that is still alive is left here; one whose destruction has begun will
// call deleteBufferContext, which is waited for.
void DebugChip::leaveObservedBuffers()
{
	std::unique_lock<std::mutex> lock(contextMutex_);
	std::vector<std::shared_ptr<Buffer>> alive;
	for (auto it = observed_.begin(); it != observed_.end();) {
		if (auto buffer = it->second.lock()) {
			alive.push_back(std::move(buffer));
			it = observed_.erase(it);
		} else {
			++it;
		}
	}
	lock.unlock();
	for (auto &buffer : alive)
		buffer->removeObserver(this);
	// Dropping the last reference here destroys the buffer, which no longer
	// knows this unit.
	alive.clear();
	lock.lock();
	observedGone_.wait(lock, [this] { return observed_.empty(); });
}

std::pair<std::string, int32_t> DebugChip::getNameAndChipId() const
{
	return {"debug-device", 1};
}

int32_t DebugChip::getMinModelFormatVersion() const
{
	return 0;
}

BackEndUnit::TensorMetadataLists DebugChip::loadModelVirtual(ConstByteSpan, uint64_t modelId,
                                                             const ParameterMap &params)
{
	if (!params.empty())
		throw std::runtime_error("Additional parameters are not supported");
	{
		std::lock_guard<std::mutex> lock(modelMutex_);
		if (!loadedModels_.insert(modelId).second) {
			const std::string text =
			    "Could not load model: ID " + std::to_string(modelId) + " already exists";
			log::error(text);
			throw std::runtime_error(text);
		}
	}
	KALUN_LOG_DEBUG(debugText("loadModelVirtual", "Model " + std::to_string(modelId) + " loaded"));
	return {{kInput}, {kOutput}};
}

void DebugChip::deleteModelVirtual(uint64_t modelId)
{
	std::lock_guard<std::mutex> lock(modelMutex_);
	if (!loadedModels_.erase(modelId))
		throw ModelNotFound(modelId);
	KALUN_LOG_DEBUG(debugText("deleteModelVirtual", "Deleted model " + std::to_string(modelId)));
}

void DebugChip::trackBuffer(uint64_t modelId, const std::shared_ptr<Buffer> &buffer)
{
	std::lock_guard<std::mutex> lock(contextMutex_);
	auto &perModel = contexts_[modelId];
	if (perModel.count(buffer->getId()))
		return;
	if (!observed_.count(buffer->getId())) {
		buffer->addObserver(this);
		observed_.emplace(buffer->getId(), buffer);
	}
	perModel.emplace(buffer->getId(), std::make_unique<BufferContext>(modelId, buffer->getId()));
}

void DebugChip::runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
                              const std::vector<Tensor> &outputs, const ParameterMap &params)
{
	KALUN_LOG_DEBUG(debugText("runJobVirtual", "Running job..."));
	if (!params.empty())
		throw std::runtime_error("Additional parameters are not supported");
	{
		std::lock_guard<std::mutex> lock(modelMutex_);
		if (!loadedModels_.count(modelId))
			throw ModelNotFound(modelId);
	}
	for (const auto *tensors : {&inputs, &outputs})
		for (const Tensor &tensor : *tensors)
			if (tensor.getBuffer()->isTracked())
				trackBuffer(modelId, tensor.getBuffer());
	for (const Tensor &tensor : inputs)
		readInput(*tensor.getBuffer(), kInput.getByteSize());
	for (const Tensor &tensor : outputs)
		writeOutput(*tensor.getBuffer(), kOutput.getByteSize());
	KALUN_LOG_DEBUG(debugText("runJobVirtual", "Job done"));
}

void DebugChip::deleteBufferContext(uint64_t cookie)
{
	bool found = false;
	{
		std::lock_guard<std::mutex> lock(contextMutex_);
		for (auto it = contexts_.begin(); it != contexts_.end();) {
			if (it->second.erase(cookie))
				found = true;
			if (it->second.empty())
				it = contexts_.erase(it);
			else
				++it;
		}
		observed_.erase(cookie);
		observedGone_.notify_all();
	}
	if (!found)
		log::error("DebugChip::deleteBufferContext tried to delete cookie " + std::to_string(cookie) +
		           " which was not found");
}

size_t DebugChip::contextCount(uint64_t modelId) const
{
	std::lock_guard<std::mutex> lock(contextMutex_);
	auto it = contexts_.find(modelId);
	return it == contexts_.end() ? 0 : it->second.size();
}

} // namespace kalun::backendunit
