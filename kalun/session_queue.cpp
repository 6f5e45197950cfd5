// Queueing a session's loads, deletions and jobs at the units, and the
// buffers it keeps for its client.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kalun/log.h"
#include "kalun/session.h"

namespace kalun
{

namespace
{

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kSession) + function + "(): " + text;
}

constexpr size_t kModelReadChunk = 64 * 1024;

std::string quotedName(const std::string &name)
{
	return name.empty() ? std::string() : " \"" + name + "\"";
}

// What a descriptor is, for refusals that name it.
const char *fileKind(mode_t mode)
{
	switch (mode & S_IFMT) {
	case S_IFIFO:
		return "a pipe";
	case S_IFCHR:
		return "a character device";
	case S_IFBLK:
		return "a block device";
	case S_IFSOCK:
		return "a socket";
	case S_IFDIR:
		return "a directory";
	case 0:
		return "an anonymous inode";
	default:
		return "of an unknown kind";
	}
}

} // namespace

// Only a regular file (memfds are) is read: its size is known before
// anything is allocated and reading it never waits on the client. Anything
// else (a pipe, an eventfd, /dev/zero) could hold the bus thread forever or
// feed it without end. Between pieces the stop descriptor is polled, so that
// stopping the session never waits for a large read to finish.
std::vector<uint8_t> Session::readModel(FileDescriptor &fd, uint64_t size)
{
	if (size == 0)
		return {};
	struct stat st {
	};
	if (fstat(fd.get(), &st) != 0)
		throw FileDescriptorError(std::string("Could not get the model file's status: ") +
		                          std::strerror(errno));
	if (!S_ISREG(st.st_mode))
		throw FileDescriptorError(std::string("Model file descriptor is ") + fileKind(st.st_mode) +
		                          ", not a regular file");
	const off_t position = lseek(fd.get(), 0, SEEK_CUR);
	const uint64_t available =
	    position < 0 || position > st.st_size ? 0 : static_cast<uint64_t>(st.st_size - position);
	if (available < size)
		throw std::invalid_argument("Model file is shorter than its announced size (" +
		                            std::to_string(available) + " < " + std::to_string(size) +
		                            " bytes)");
	// A sparse file may announce any size without costing the client
	// anything; what cannot fit the machine's memory is never tried.
	const uint64_t memory =
	    static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
	if (size > memory)
		throw std::runtime_error("Could not resize model vector to " + std::to_string(size) +
		                         " bytes: larger than the memory of the device");
	std::vector<uint8_t> model;
	try {
		model.resize(static_cast<size_t>(size));
	} catch (const std::exception &e) {
		throw std::runtime_error("Could not resize model vector to " + std::to_string(size) +
		                         " bytes: " + e.what());
	}
	uint64_t done = 0;
	while (done < size) {
		struct pollfd stop {
			stopFd_.get(), POLLIN, 0
		};
		if (::poll(&stop, 1, 0) > 0)
			throw std::runtime_error("Session is stopping");
		const uint64_t want = std::min<uint64_t>(size - done, kModelReadChunk);
		const uint64_t got = fd.read(ByteSpan(model.data() + done, want), want);
		done += got;
		if (got < want)
			break;
	}
	// The client may have cut the file while it was read.
	if (done < size)
		throw std::invalid_argument("Model file is shorter than its announced size (" +
		                            std::to_string(done) + " < " + std::to_string(size) + " bytes)");
	return model;
}

void Session::queueLoadModel(FileDescriptor modelFd, uint64_t size, uint64_t unitIndex, int32_t access,
                             const std::string &name, uint64_t tag, const ParameterMap &params)
{
	KALUN_LOG_DEBUG(
	    debugText("queueLoadModel", "Session " + idString_ + ": chipId = " + std::to_string(unitIndex)));
	if (access != kModelAccessPrivate && access != kModelAccessPublic)
		throw std::invalid_argument("Invalid model access specifier");
	if (unitIndex >= units_.size())
		throw std::invalid_argument("Invalid chip ID");
	KALUN_LOG_DEBUG(prefix() + "Queuing loading of model" + quotedName(name) + "...");
	KALUN_LOG_DEBUG(debugText("queueLoadModel", "Session " + idString_ + ": Reading model file..."));
	std::vector<uint8_t> model = readModel(modelFd, size);
	KALUN_LOG_DEBUG(debugText("queueLoadModel", "Session " + idString_ + ": Model file read"));
	BackEndUnit &unit = *units_[unitIndex];
	auto request = std::make_shared<LoadModelRequest>(weak_from_this(), unit, id_, unitIndex,
	                                                  std::move(model), access, name, tag, params);
	unit.queueLoadModel(std::move(request));
	KALUN_LOG_DEBUG(prefix() + "Queued loading of model" + quotedName(name) + " done");
}

void Session::queueDeleteModel(uint64_t modelId, uint64_t unitIndex, uint64_t tag)
{
	KALUN_LOG_DEBUG(debugText("queueDeleteModel", "Session " + idString_ + ": Queuing delete on model " +
	                                                  std::to_string(modelId) + "..."));
	if (unitIndex >= units_.size())
		throw std::invalid_argument("Invalid chip ID");
	BackEndUnit &unit = *units_[unitIndex];
	unit.queueDeleteModel(
	    std::make_shared<DeleteModelRequest>(weak_from_this(), unit, id_, modelId, unitIndex, tag));
	KALUN_LOG_DEBUG(debugText("queueDeleteModel", "Session " + idString_ + ": Queued delete on model " +
	                                                  std::to_string(modelId) + "..."));
}

std::shared_ptr<Buffer> Session::makeBuffer(const TensorTuple &tuple)
{
	const int fd = std::get<5>(tuple).fd;
	const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
	if (copy < 0)
		throw FileDescriptorError(std::string("Could not duplicate file descriptor: ") +
		                          std::strerror(errno));
	FileDescriptor owned(copy);
	return std::make_shared<Buffer>(std::move(owned), std::get<6>(tuple), std::get<7>(tuple),
	                                std::get<9>(tuple));
}

std::vector<Tensor> Session::readTensors(std::vector<TensorTuple> &tuples, const char *side)
{
	std::vector<Tensor> tensors;
	tensors.reserve(tuples.size());
	for (TensorTuple &tuple : tuples) {
		try {
			auto buffer = trackedBuffer(tuple);
			tensors.emplace_back(std::get<0>(tuple), std::get<1>(tuple),
			                     std::move(std::get<3>(tuple)), std::move(std::get<4>(tuple)),
			                     std::get<2>(tuple), std::string(), std::move(buffer));
		} catch (const std::invalid_argument &e) {
			throw std::invalid_argument(std::string("Could not parse ") + side +
			                            " tensors: " + e.what());
		}
	}
	return tensors;
}

Session::TensorLists Session::readTensorMsg(std::vector<TensorTuple> inputs, std::vector<TensorTuple> outputs)
{
	if (inputs.empty())
		throw std::invalid_argument("No input tensors provided");
	if (outputs.empty())
		throw std::invalid_argument("No output tensors provided");
	KALUN_LOG_DEBUG(debugText("readTensorMsg", "Session " + idString_ + ": Reading input tensors..."));
	auto in = readTensors(inputs, "input");
	KALUN_LOG_DEBUG(debugText("readTensorMsg", "Session " + idString_ + ": Input tensors read"));
	KALUN_LOG_DEBUG(debugText("readTensorMsg", "Session " + idString_ + ": Reading output tensors..."));
	auto out = readTensors(outputs, "output");
	KALUN_LOG_DEBUG(debugText("readTensorMsg", "Session " + idString_ + ": Output tensors read"));
	return {std::move(in), std::move(out)};
}

namespace
{

[[noreturn]] void refuseSavedMismatch(uint64_t tensorId, const char *field, const std::string &got,
                                      const std::string &saved)
{
	throw std::invalid_argument("Buffer with ID " + std::to_string(tensorId) + " has " + field + " (" +
	                            got + ") unequal to saved counterpart (" + saved + ")");
}

// A buffer described again under a saved tensor id must be the saved one.
// Every job of a client that keeps its tensors passes here, so the refusal
// text is built only when there is one.
void checkSavedMatch(const Buffer &saved, uint64_t tensorId, uint64_t fdSize, int64_t offset,
                     uint32_t fdProps)
{
	if (fdSize != saved.getFdSize())
		refuseSavedMismatch(tensorId, "size", std::to_string(fdSize),
		                    std::to_string(saved.getFdSize()));
	if (offset != saved.getOffset())
		refuseSavedMismatch(tensorId, "offset", std::to_string(offset),
		                    std::to_string(saved.getOffset()));
	if (fdProps != saved.getFdProps())
		refuseSavedMismatch(tensorId, "buffer properties", std::to_string(fdProps),
		                    std::to_string(saved.getFdProps()));
}

} // namespace

// A tensor id already saved names the saved buffer: it is checked as a new
// buffer would be and compared, but no descriptor is duplicated (and
// closed again) for it, which is what every job of a client that keeps its
// tensors would otherwise pay.
std::shared_ptr<Buffer> Session::trackedBuffer(const TensorTuple &tuple)
{
	const uint64_t tensorId = std::get<8>(tuple);
	if (tensorId != 0) {
		auto saved = savedBuffers_.find(tensorId);
		if (saved != savedBuffers_.end()) {
			Buffer::checkFields(std::get<6>(tuple), std::get<7>(tuple), std::get<9>(tuple));
			checkSavedMatch(*saved->second, tensorId, std::get<6>(tuple), std::get<7>(tuple),
			                std::get<9>(tuple));
			return saved->second;
		}
	}
	auto buffer = makeBuffer(tuple);
	return tensorId != 0 ? saveBuffer(std::move(buffer), tensorId) : buffer;
}

std::shared_ptr<Buffer> Session::saveBuffer(std::shared_ptr<Buffer> buffer, uint64_t tensorId)
{
	auto saved = savedBuffers_.find(tensorId);
	if (saved != savedBuffers_.end()) {
		checkSavedMatch(*saved->second, tensorId, buffer->getFdSize(), buffer->getOffset(),
		                buffer->getFdProps());
		return saved->second;
	}
	if (savedBuffers_.size() >= kMaxSavedBuffers)
		throw std::runtime_error("Buffer limit reached");
	if (!savedBuffers_.emplace(tensorId, buffer).second)
		throw std::runtime_error("Could not save buffer");
	buffer->setTracked();
	return buffer;
}

std::shared_ptr<Buffer> Session::savedBuffer(uint64_t tensorId) const
{
	auto it = savedBuffers_.find(tensorId);
	return it == savedBuffers_.end() ? nullptr : it->second;
}

void Session::queueJob(uint64_t modelId, uint64_t unitIndex, std::vector<Tensor> inputs,
                       std::vector<Tensor> outputs, uint8_t priority, uint64_t tag,
                       const ParameterMap &params)
{
	KALUN_LOG_DEBUG(debugText("queueJob", "Session " + idString_ + ": Queuing job on model " +
	                                          std::to_string(modelId) + "..."));
	auto job = std::allocate_shared<JobRequest>(RecyclingAllocator<JobRequest>(jobBlocks_),
	                                            weak_from_this(), modelId, std::move(inputs),
	                                            std::move(outputs), priority, tag, params);
	{
		std::lock_guard<std::mutex> lock(jobQueuesMutex_);
		auto heap = jobQueues_.find(unitIndex);
		if (heap == jobQueues_.end())
			throw std::runtime_error("Could not find chip with index " +
			                         std::to_string(unitIndex));
		heap->second.push_back(std::move(job));
		std::push_heap(heap->second.begin(), heap->second.end(), JobRequestLess());
	}
	units_[unitIndex]->queueJob(std::allocate_shared<JobOrder>(RecyclingAllocator<JobOrder>(jobBlocks_),
	                                                           weak_from_this(), unitIndex));
	KALUN_LOG_DEBUG(debugText("queueJob", "Session " + idString_ + ": Queued job request on model " +
	                                          std::to_string(modelId)));
}

std::shared_ptr<JobRequest> Session::popJobRequest(uint64_t unitIndex)
{
	std::lock_guard<std::mutex> lock(jobQueuesMutex_);
	auto &heap = jobQueues_.at(unitIndex);
	if (heap.empty())
		throw std::out_of_range("No pending job on chip " + std::to_string(unitIndex));
	std::pop_heap(heap.begin(), heap.end(), JobRequestLess());
	auto job = std::move(heap.back());
	heap.pop_back();
	return job;
}

Session::BufferList Session::allocTensors(BackEndUnit &unit, uint8_t specifier, uint64_t modelId,
                                          const std::vector<uint64_t> &tensorIds, uint32_t fdProps,
                                          const ParameterMap &params)
{
	const Model model = unit.getModel(modelId);
	if (specifier > 1)
		throw std::invalid_argument("Invalid input/output specifier (" + std::to_string(specifier) +
		                            ")");
	const bool inputs = specifier == 0;
	const auto &descriptions = inputs ? model.getInputs() : model.getOutputs();
	if (tensorIds.size() != descriptions.size())
		throw std::invalid_argument("Number of IDs (" + std::to_string(tensorIds.size()) +
		                            ") doesn't match number of " + (inputs ? "input" : "output") +
		                            " tensors (" + std::to_string(descriptions.size()) + ")");
	if (savedBuffers_.size() + tensorIds.size() > kMaxSavedBuffers)
		throw std::runtime_error("Buffer limit reached");
	BufferList buffers;
	for (const TensorMetadata &description : descriptions)
		buffers.push_back(inputs ? unit.allocateInput(description.getByteSize(), fdProps, params)
		                         : unit.allocateOutput(description.getByteSize(), fdProps, params));
	for (size_t j = 0; j < buffers.size(); ++j) {
		if (savedBuffers_.emplace(tensorIds[j], buffers[j]).second) {
			buffers[j]->setTracked();
			continue;
		}
		for (size_t k = 0; k < j; ++k)
			if (!savedBuffers_.erase(tensorIds[k]))
				log::error("Could not clean up allocated saved buffer with ID " +
				           std::to_string(tensorIds[k]));
		throw std::runtime_error("Could not save allocated buffer with ID " +
		                         std::to_string(tensorIds[j]));
	}
	return buffers;
}

} // namespace kalun
