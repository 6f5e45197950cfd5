// The private-bus protocol of a session: reading requests, answering them
// and sending the results that units hand back.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "kalun/log.h"
#include "kalun/result_wire.h"
#include "kalun/session.h"

namespace kalun
{

namespace
{

constexpr const char *kResultDestination = "com.tovi.Kalun1";
constexpr const char *kResultPath = "/";
constexpr const char *kResultInterface = "com.tovi.Kalun1";
constexpr const char *kChipIdTooLarge = "Chip ID is larger than number of units";

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kSession) + function + "(): " + text;
}

using LoadModelAnswer = std::tuple<ModelTuple, uint64_t, int32_t, std::string>;

// Position of the client's tag among a request's fixed arguments.
std::optional<size_t> tagPosition(const std::string &member)
{
	static const std::unordered_map<std::string, size_t> kPositions{
	    {"QueueLoadModel", 5}, {"DeleteModel", 2},    {"QueueJob", 3},
	    {"AllocTensors", 5},   {"DeallocTensors", 1},
	};
	auto it = kPositions.find(member);
	if (it == kPositions.end())
		return std::nullopt;
	return it->second;
}

// The tag of a request whose arguments could not all be read: whatever
// stands at the tag's position, if it is a u64.
std::optional<uint64_t> findTag(sdbus::Message &message, const std::string &member)
{
	const auto position = tagPosition(member);
	if (!position)
		return std::nullopt;
	try {
		message.rewind();
		for (size_t i = 0; i < *position; ++i) {
			if (message.peekType() == 0)
				return std::nullopt;
			message.skip("");
		}
		if (message.peekType() != 't')
			return std::nullopt;
		return message.read<uint64_t>();
	} catch (const std::exception &) {
		return std::nullopt;
	}
}

bool hasParameterMap(const sdbus::Message &message)
{
	return message.signature().find("a{sv}") != std::string::npos;
}

} // namespace

template <typename... Ts> void Session::sendMsg(const std::string &member, const Ts &...values)
{
	KALUN_LOG_DEBUG(debugText("sendMsg", "Sending message: msgType: " + member));
	std::lock_guard<std::mutex> lock(busMutex_);
	sd_bus_message *raw = nullptr;
	int r = sd_bus_message_new_method_call(resultBus_.get(), &raw, kResultDestination, kResultPath,
	                                       kResultInterface, member.c_str());
	if (r < 0)
		handleSendMsgError(r, "Could not allocate method call");
	sdbus::Message message(raw, true);
	// Answers are calls only in form; the client never replies to them.
	sd_bus_message_set_expect_reply(raw, 0);
	message.append(values...);
	// Serials are the session's, shared with the results written directly.
	r = sd_bus_message_seal(raw, nextResultSerial(), 0);
	if (r < 0)
		handleSendMsgError(r, "Could not seal message");
	resultChannelClean_ = false;
	r = sd_bus_send(resultBus_.get(), message.get(), nullptr);
	if (r < 0)
		handleSendMsgError(r, "Could not send message");
	r = sd_bus_flush(resultBus_.get());
	if (r < 0)
		handleSendMsgError(r, "Could not flush bus");
	resultChannelClean_ = true;
}

// Serial 0 is not a serial: it is skipped when the count wraps.
uint32_t Session::nextResultSerial()
{
	if (++resultSerial_ == 0)
		++resultSerial_;
	return resultSerial_;
}

bool Session::sendTagResultDirect(const char *member, uint64_t tag, int32_t code, const std::string &text)
{
	if (!resultChannelClean_ || sd_bus_is_ready(resultBus_.get()) <= 0)
		return false;
	uint8_t bytes[resultwire::kMaxMessage];
	const size_t size =
	    resultwire::encodeTagResult(bytes, sizeof bytes, nextResultSerial(), member, tag, code, text);
	if (size == 0)
		return false;
	const int fd = sd_bus_get_fd(resultBus_.get());
	size_t done = 0;
	while (done < size) {
		const ssize_t n = ::send(fd, bytes + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
		if (n >= 0) {
			done += static_cast<size_t>(n);
			continue;
		}
		if (errno == EINTR)
			continue;
		if (errno == EAGAIN) {
			// A client slow to read: wait as a flush would.
			struct pollfd out {
				fd, POLLOUT, 0
			};
			if (::poll(&out, 1, -1) >= 0 || errno == EINTR)
				continue;
		}
		const int error = errno;
		// A message cut off midway leaves the channel unusable for the bus
		// library too; it reports what follows.
		resultChannelClean_ = false;
		if (error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ECONNABORTED ||
		    error == ESHUTDOWN)
			handleSendMsgError(-ECONNRESET, "Could not send message");
		handleSendMsgError(-error, "Could not send message");
	}
	return true;
}

void Session::sendTagResult(const char *member, uint64_t tag, int32_t code, const std::string &text)
{
	try {
		{
			std::lock_guard<std::mutex> lock(busMutex_);
			if (sendTagResultDirect(member, tag, code, text))
				return;
		}
		sendMsg(member, tag, code, text);
	} catch (const ConnectionError &) {
		// The client has gone; nobody is left to tell.
	} catch (const std::exception &e) {
		log::error(prefix() + "Could not send " + member + " answer: " + e.what());
	}
}

template <typename... Ts> void Session::send(const std::string &member, const Ts &...values)
{
	try {
		sendMsg(member, values...);
	} catch (const ConnectionError &) {
		// The client has gone; nobody is left to tell.
	} catch (const std::exception &e) {
		log::error(prefix() + "Could not send " + member + " answer: " + e.what());
	}
}

void Session::handleSendMsgError(int result, const std::string &text)
{
	KALUN_LOG_DEBUG(debugText("handleSendMsgError", text + ": " + std::strerror(-result)));
	if (result == -ECONNRESET || result == -ENOTCONN)
		throw ConnectionError(std::strerror(-result));
	throw std::runtime_error("Could not send message");
}

void Session::sendLoadModelError(int32_t code, const std::string &message, uint64_t tag)
{
	const ModelTuple none{0, 0, 0, 0, "", {}, {}};
	send("QueueLoadModel", LoadModelAnswer{none, tag, code, message});
}

void Session::sendJobError(int32_t code, const std::string &message, uint64_t tag)
{
	sendTagResult("QueueJob", tag, code, message);
}

void Session::sendAllocTensorsError(int32_t code, const std::string &message, uint64_t tag)
{
	send("AllocTensors", std::vector<sdbus::UnixFd>{}, std::vector<uint64_t>{}, std::vector<uint32_t>{},
	     tag, code, message);
}

// A request whose arguments cannot be read is logged and refused.
void Session::refuseUnreadable(sdbus::Message &message, const std::string &member,
                               const std::exception &error)
{
	log::error(prefix() + "Could not read message: " + error.what());
	refuseRequest(message, member, std::string("Could not read message: ") + error.what());
}

// A request that cannot be served still gets an answer when its tag can be
// found, so that a client waiting for it learns why.
void Session::refuseRequest(sdbus::Message &message, const std::string &member, const std::string &problem)
{
	const auto tag = findTag(message, member);
	if (!tag)
		return;
	if (member == "QueueLoadModel")
		sendLoadModelError(kResultJob, problem, *tag);
	else if (member == "AllocTensors")
		sendAllocTensorsError(kResultJob, problem, *tag);
	else
		send(member, *tag, kResultJob, problem);
}

// Entries of any other type than "x", "s" or "ax" are kept with the value 0;
// of two entries with one key the first counts.
ParameterMap Session::readParameterMap(sdbus::Message &message)
{
	ParameterMap params;
	if (!message.enterContainer('a', "{sv}"))
		throw sdbus::Error(SD_BUS_ERROR_INVALID_ARGS, "Missing parameter map");
	while (message.enterContainer('e', "sv")) {
		const auto key = message.read<std::string>();
		std::string contents;
		if (message.peekType(&contents) != 'v')
			throw sdbus::Error(SD_BUS_ERROR_INVALID_ARGS, "Expected a variant");
		ParameterValue value = int64_t{0};
		if (contents == "x" || contents == "s" || contents == "ax")
			message.read(value);
		else
			message.skip("v");
		message.exitContainer();
		params.emplace(key, std::move(value));
	}
	message.exitContainer();
	return params;
}

void Session::procHandshakeMsg(sdbus::Message &message)
{
	std::string peer;
	try {
		message.read(peer);
	} catch (const std::exception &e) {
		log::error(prefix() + "Could not read message: " + e.what());
		return;
	}
	try {
		sendMsg("Handshake", id_);
	} catch (const std::exception &e) {
		log::error(prefix() + "Could not answer the handshake: " + e.what());
		return;
	}
	KALUN_LOG_DEBUG(debugText("procHandshakeMsg", "Handshaked with peer " + peer));
	closeClientFds();
	handshaked_ = true;
}

void Session::procQueueLoadModelMsg(sdbus::Message &message)
{
	sdbus::UnixFd fd;
	uint64_t size = 0, unitIndex = 0, tag = 0;
	int32_t access = 0;
	std::string name;
	ParameterMap params;
	try {
		message.read(fd, size, unitIndex, access, name, tag);
		if (hasParameterMap(message))
			params = readParameterMap(message);
	} catch (const std::exception &e) {
		refuseUnreadable(message, "QueueLoadModel", e);
		return;
	}
	if (unitIndex >= units_.size()) {
		log::error(prefix() + "Could not load model: " + kChipIdTooLarge);
		sendLoadModelError(kResultUnitIndex, kChipIdTooLarge, tag);
		return;
	}
	const int copy = fcntl(fd.fd, F_DUPFD_CLOEXEC, 0);
	if (copy < 0) {
		const std::string reason = std::strerror(errno);
		log::error(prefix() + "Could not duplicate file descriptor for incoming message: " + reason);
		sendLoadModelError(kResultFileDescriptor, "Could not duplicate file descriptor: " + reason,
		                   tag);
		return;
	}
	try {
		queueLoadModel(FileDescriptor(copy), size, unitIndex, access, name, tag, params);
	} catch (...) {
		const std::string reason = errorText(std::current_exception());
		log::error(prefix() + "Could not load model: " + reason);
		sendLoadModelError(resultCode(ResultSite::LoadQueue, std::current_exception()), reason, tag);
	}
}

void Session::procDeleteModelMsg(sdbus::Message &message)
{
	uint64_t modelId = 0, unitIndex = 0, tag = 0;
	try {
		message.read(modelId, unitIndex, tag);
	} catch (const std::exception &e) {
		refuseUnreadable(message, "DeleteModel", e);
		return;
	}
	if (unitIndex >= units_.size()) {
		log::error(prefix() + "Could not delete model: " + kChipIdTooLarge);
		send("DeleteModel", tag, kResultUnitIndex, std::string(kChipIdTooLarge));
		return;
	}
	try {
		queueDeleteModel(modelId, unitIndex, tag);
	} catch (...) {
		const std::string text = "Could not delete model: " + errorText(std::current_exception());
		log::error(prefix() + text);
		send("DeleteModel", tag, resultCode(ResultSite::DeleteQueue, std::current_exception()), text);
	}
}

void Session::procQueueJobMsg(sdbus::Message &message)
{
	uint64_t modelId = 0, unitIndex = 0, tag = 0;
	uint8_t priority = 0;
	std::vector<TensorTuple> inputs, outputs;
	ParameterMap params;
	try {
		message.read(modelId, unitIndex, priority, tag, inputs, outputs);
		if (hasParameterMap(message))
			params = readParameterMap(message);
	} catch (const std::exception &e) {
		refuseUnreadable(message, "QueueJob", e);
		return;
	}
	if (unitIndex >= units_.size()) {
		log::error(prefix() + "Could not run job: " + kChipIdTooLarge);
		sendJobError(kResultUnitIndex, kChipIdTooLarge, tag);
		return;
	}
	try {
		auto tensors = readTensorMsg(std::move(inputs), std::move(outputs));
		queueJob(modelId, unitIndex, std::move(tensors.first), std::move(tensors.second), priority,
		         tag, params);
	} catch (...) {
		const std::string text = "Could not queue job: " + errorText(std::current_exception());
		log::error(prefix() + text);
		sendJobError(resultCode(ResultSite::JobQueue, std::current_exception()), text, tag);
	}
}

void Session::procAllocTensorsMsg(sdbus::Message &message)
{
	uint64_t modelId = 0, unitIndex = 0, tag = 0;
	std::vector<uint64_t> ids;
	uint8_t specifier = 0;
	uint32_t fdProps = 0;
	ParameterMap params;
	try {
		message.read(modelId, unitIndex, ids, specifier, fdProps, tag);
		if (hasParameterMap(message))
			params = readParameterMap(message);
	} catch (const std::exception &e) {
		refuseUnreadable(message, "AllocTensors", e);
		return;
	}
	if (unitIndex >= units_.size()) {
		log::error(prefix() + "Could not allocate tensors: " + kChipIdTooLarge);
		sendAllocTensorsError(kResultUnitIndex, kChipIdTooLarge, tag);
		return;
	}
	BufferList buffers;
	try {
		buffers = allocTensors(*units_[unitIndex], specifier, modelId, ids, fdProps, params);
	} catch (...) {
		const auto error = std::current_exception();
		const int32_t code = resultCode(ResultSite::AllocTensors, error);
		const std::string text =
		    (code == kResultModelNotFound ? "Could not get model: "
		                                  : "Could not allocate tensor buffers: ") +
		    errorText(error);
		log::error(prefix() + text);
		sendAllocTensorsError(code, text, tag);
		return;
	}
	std::vector<sdbus::UnixFd> fds;
	std::vector<uint64_t> sizes;
	std::vector<uint32_t> props;
	for (const auto &buffer : buffers) {
		fds.push_back({buffer->getFd()});
		sizes.push_back(buffer->getFdSize());
		props.push_back(buffer->getFdProps());
	}
	send("AllocTensors", fds, sizes, props, tag, kResultSuccess, std::string());
}

void Session::procDeallocTensorsMsg(sdbus::Message &message)
{
	std::vector<uint64_t> ids;
	uint64_t tag = 0;
	try {
		message.read(ids, tag);
	} catch (const std::exception &e) {
		refuseUnreadable(message, "DeallocTensors", e);
		return;
	}
	for (uint64_t id : ids)
		if (!savedBuffers_.erase(id))
			log::warning("Could not find buffer with ID " + std::to_string(id));
	send("DeallocTensors", tag, kResultSuccess, std::string());
}

void Session::sendLoadModelResult(const LoadModelRequest &request)
{
	const uint64_t tag = request.getClientTag();
	if (request.hasError()) {
		const std::string reason = errorText(request.getError());
		log::error(prefix() + reason);
		sendLoadModelError(resultCode(ResultSite::LoadResult, request.getError()), reason, tag);
		return;
	}
	if (request.getAccess() == kModelAccessPrivate) {
		std::lock_guard<std::mutex> lock(privateModelsMutex_);
		if (!privateModels_.at(request.getUnitIndex()).insert(request.getModelId()).second)
			throw std::runtime_error(prefix() + "Could not insert private model " +
			                         std::to_string(request.getModelId()) + " into set");
	}
	KALUN_LOG_DEBUG(prefix() + (request.getName().empty()
	                                ? std::string("Model loaded")
	                                : "Model \"" + request.getName() + "\" loaded"));
	const ModelTuple model{
	    request.getModelData().size(), request.getModelId(), request.getUnitIndex(),
	    request.getAccess(),           request.getName(),    toTuples(request.getInputs()),
	    toTuples(request.getOutputs())};
	send("QueueLoadModel", LoadModelAnswer{model, tag, kResultSuccess, std::string()});
}

void Session::sendDeleteModelResult(const DeleteModelRequest &request)
{
	int32_t code = kResultSuccess;
	std::string text;
	if (request.hasError()) {
		text = "Could not delete model: " + errorText(request.getError());
		log::error(prefix() + text);
		code = resultCode(ResultSite::DeleteResult, request.getError());
	} else {
		std::lock_guard<std::mutex> lock(privateModelsMutex_);
		privateModels_.at(request.getUnitIndex()).erase(request.getModelId());
	}
	send("DeleteModel", request.getClientTag(), code, text);
}

void Session::sendJobResult(const JobRequest &request)
{
	if (request.hasError()) {
		const std::string text = "Could not run job: " + errorText(request.getError());
		log::error(prefix() + text);
		sendJobError(resultCode(ResultSite::JobResult, request.getError()), text,
		             request.getClientTag());
		return;
	}
	sendTagResult("QueueJob", request.getClientTag(), kResultSuccess, std::string());
}

} // namespace kalun
