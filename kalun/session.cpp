#include "kalun/session.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <systemd/sd-id128.h>

#include "kalun/log.h"

namespace kalun
{

namespace
{

std::atomic<uint64_t> nextSessionId{0};

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kSession) + function + "(): " + text;
}

void checkBus(int result, const char *what)
{
	if (result < 0)
		throw std::runtime_error(std::string(what) + std::strerror(-result));
}

} // namespace

Session::OwnedFd::~OwnedFd()
{
	if (fd >= 0)
		::close(fd);
}

uint64_t Session::getNextId()
{
	return nextSessionId.load();
}

Session::Session(sd_bus *systemBus, const std::string &objectPath, const UnitList &units) : units_(units)
{
	id_ = nextSessionId.load();
	idString_ = std::to_string(id_);
	server_ = std::make_unique<SessionSdbusServer>(
	    systemBus, objectPath, [this] { return getId(); }, [this] { return getModels(); });

	for (uint64_t i = 0; i < units_.size(); ++i)
		if (!jobQueues_.emplace(i, std::vector<std::shared_ptr<JobRequest>>()).second)
			throw std::runtime_error("Could not create job request priority queues");
	privateModels_.resize(units_.size());

	int requestPair[2];
	int resultPair[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requestPair) != 0)
		throw std::runtime_error(std::string("Could not create socket pairs: ") +
		                         std::strerror(errno));
	OwnedFd requestServerFd{requestPair[0]};
	requestClientFd_ = FileDescriptor(requestPair[1]);
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, resultPair) != 0)
		throw std::runtime_error(std::string("Could not create socket pairs: ") +
		                         std::strerror(errno));
	OwnedFd resultServerFd{resultPair[0]};
	resultClientFd_ = FileDescriptor(resultPair[1]);

	requestBus_.reset(createPrivateBus(requestServerFd));
	resultBus_.reset(createPrivateBus(resultServerFd));

	const int stop = eventfd(0, EFD_CLOEXEC);
	if (stop < 0)
		throw std::runtime_error(std::string("Could not create eventfd: ") + std::strerror(errno));
	stopFd_ = FileDescriptor(stop);

	busProcThread_ = std::thread([this] {
		processAsyncReadBus();
		// Should the service have given up waiting, the thread holds the
		// last reference: it is dropped after the lock, as the very last act.
		std::shared_ptr<Session> last;
		std::lock_guard<std::mutex> lock(busThreadMutex_);
		last = std::move(keepAlive_);
		busThreadDone_ = true;
		busThreadEnded_.notify_all();
	});
	nextSessionId.fetch_add(1);
	KALUN_LOG_DEBUG(debugText("Session", "Constructed " + idString_));
}

sd_bus *Session::createPrivateBus(OwnedFd &fd)
{
	sd_bus *raw = nullptr;
	checkBus(sd_bus_new(&raw), "Could not create a new bus: ");
	sdbus::BusPtr bus(raw);
	checkBus(sd_bus_set_fd(raw, fd.fd, fd.fd), "Could not set file descriptor for bus: ");
	fd.fd = -1;
	sd_id128_t serverId;
	checkBus(sd_id128_randomize(&serverId), "Could not generate random ID for bus: ");
	checkBus(sd_bus_set_server(raw, 1, serverId), "Could not set server setting for bus: ");
	checkBus(sd_bus_set_anonymous(raw, 0), "Could not set anonymous setting for bus: ");
	checkBus(sd_bus_negotiate_fds(raw, 1), "Could not set negotiation setting for bus: ");
	checkBus(sd_bus_start(raw), "Could not start bus: ");
	return bus.release();
}

Session::~Session()
{
	KALUN_LOG_DEBUG(debugText("~Session", "Destructing..."));
	if (!stopped_) {
		log::error("Session is destructing without stopping the bus processing");
		// The thread uses this object; it must be gone before the members.
		server_.reset();
		endBusThread();
	}
	for (uint64_t unit = 0; unit < units_.size(); ++unit) {
		for (uint64_t model : privateModels(unit)) {
			try {
				queueDeleteModel(model, unit, kCleanupTag);
				KALUN_LOG_DEBUG(
				    debugText("~Session", "Deleted private model " + std::to_string(model) +
				                              " on chip " + std::to_string(unit)));
			} catch (const std::exception &e) {
				log::error(e.what());
			}
		}
	}
	KALUN_LOG_DEBUG(debugText("~Session", "Destructed " + idString_));
}

std::vector<TensorMetadataTuple> Session::toTuples(const std::vector<TensorMetadata> &list)
{
	std::vector<TensorMetadataTuple> tuples;
	tuples.reserve(list.size());
	for (const TensorMetadata &t : list)
		tuples.emplace_back(t.getDataType(), t.getLayout(), t.getByteSize(), t.getDims(),
		                    t.getPitches(), t.getName());
	return tuples;
}

std::pair<int, int> Session::getClientFds() const
{
	std::lock_guard<std::mutex> lock(clientFdsMutex_);
	return {resultClientFd_.get(), requestClientFd_.get()};
}

void Session::closeClientFds()
{
	std::lock_guard<std::mutex> lock(clientFdsMutex_);
	for (FileDescriptor *fd : {&resultClientFd_, &requestClientFd_}) {
		try {
			fd->close();
		} catch (const std::exception &e) {
			log::error(prefix() + e.what());
		}
	}
}

std::unordered_set<uint64_t> Session::privateModels(uint64_t unitIndex) const
{
	std::lock_guard<std::mutex> lock(privateModelsMutex_);
	if (unitIndex >= privateModels_.size())
		return {};
	return privateModels_[unitIndex];
}

std::vector<ModelTuple> Session::getModels() const
{
	std::vector<ModelTuple> list;
	for (uint64_t unit = 0; unit < units_.size(); ++unit) {
		for (const auto &[modelId, model] : units_[unit]->getModels()) {
			KALUN_LOG_DEBUG(
			    debugText("getModels", "Chip " + std::to_string(unit) + ": " + model.toString()));
			list.emplace_back(model.getSize(), modelId, unit, model.getAccess(), model.getName(),
			                  toTuples(model.getInputs()), toTuples(model.getOutputs()));
		}
	}
	return list;
}

std::string Session::busThreadName(uint64_t id)
{
	return id <= 99999 ? "sesbusproc" + std::to_string(id) : "sesbusprocX";
}

void Session::nameThread()
{
	const std::string name = busThreadName(id_);
	if (pthread_setname_np(pthread_self(), name.c_str()) != 0)
		log::error("Could not set thread name \"" + name + "\"");
}

void Session::processAsyncReadBus()
{
	KALUN_LOG_DEBUG(debugText("processAsyncReadBus", "Started"));
	nameThread();
	constexpr short kEvents = POLLIN | POLLPRI | POLLERR | POLLRDHUP;
	struct pollfd fds[2] = {{sd_bus_get_fd(requestBus_.get()), kEvents, 0}, {stopFd_.get(), kEvents, 0}};
	for (;;) {
		if (stopRequested_.load(std::memory_order_acquire)) {
			KALUN_LOG_DEBUG(debugText("processAsyncReadBus", "Stopped"));
			return;
		}
		sd_bus_message *raw = nullptr;
		const int r = sd_bus_process(requestBus_.get(), &raw);
		if (r < 0) {
			log::warning(prefix() + "Could not process incoming asynchronous requests: " +
			             std::strerror(-r));
			stopRequested_.store(true, std::memory_order_release);
			continue;
		}
		if (raw) {
			sdbus::Message message(raw, true);
			KALUN_LOG_DEBUG(debugText("processAsyncReadBus", "Got message: " + message.member()));
			dispatch(message);
		}
		if (r > 0)
			continue;
		fds[0].revents = 0;
		fds[1].revents = 0;
		if (ppoll(fds, 2, nullptr, nullptr) < 0) {
			if (errno == EINTR)
				continue;
			log::error(prefix() + "Could not process incoming asynchronous requests: " +
			           std::strerror(errno));
			stopRequested_.store(true, std::memory_order_release);
		}
		if (fds[1].revents)
			stopRequested_.store(true, std::memory_order_release);
	}
}

void Session::dispatch(sdbus::Message &message)
{
	const std::string member = message.member();
	if (member == "Disconnected") {
		stopRequested_.store(true, std::memory_order_release);
		return;
	}
	if (member.empty()) {
		// Replies and errors from the client answer nothing we asked.
		log::error(prefix() + "Invalid message without member from client");
		return;
	}
	if (member == "Handshake" && !handshaked_) {
		procHandshakeMsg(message);
		return;
	}
	static const std::unordered_map<std::string, void (Session::*)(sdbus::Message &)> kHandlers{
	    {"QueueLoadModel", &Session::procQueueLoadModelMsg},
	    {"QueueJob", &Session::procQueueJobMsg},
	    {"DeleteModel", &Session::procDeleteModelMsg},
	    {"AllocTensors", &Session::procAllocTensorsMsg},
	    {"DeallocTensors", &Session::procDeallocTensorsMsg},
	};
	auto handler = kHandlers.find(member);
	if (handler != kHandlers.end() && handshaked_) {
		(this->*handler->second)(message);
		return;
	}
	log::error(prefix() + "Invalid message " + member + " from client");
	if (handler != kHandlers.end())
		refuseRequest(message, member,
		              "Invalid message " + member + ": the session has not been handshaked");
}

// Wakes the bus thread through its eventfd and joins it. Should the eventfd
// not take the write, shutting the request socket down wakes it as well.
// False when the thread was left running.
bool Session::endBusThread()
{
	stopRequested_.store(true, std::memory_order_release);
	if (!busProcThread_.joinable())
		return true;
	const uint64_t one = 1;
	KALUN_LOG_DEBUG(debugText("stopBusProcessing", "Writing to eventfd..."));
	const ssize_t n = ::write(stopFd_.get(), &one, sizeof one);
	KALUN_LOG_DEBUG(debugText("stopBusProcessing", "Wrote " + std::to_string(n) + " bytes"));
	if (n != static_cast<ssize_t>(sizeof one)) {
		log::error(prefix() + "Could not wake the bus thread: " + std::strerror(errno));
		::shutdown(sd_bus_get_fd(requestBus_.get()), SHUT_RDWR);
	}
	if (busProcThread_.get_id() == std::this_thread::get_id()) {
		busProcThread_.detach();
		return true;
	}
	KALUN_LOG_DEBUG(debugText("stopBusProcessing", "Joining busProcThread..."));
	// The service's one thread serves every client: it waits for this
	// session's thread a bounded time only, and leaves it the session to
	// finish with.
	auto self = weak_from_this().lock();
	if (self) {
		std::unique_lock<std::mutex> lock(busThreadMutex_);
		if (!busThreadEnded_.wait_for(lock, kBusThreadStopLimit, [this] { return busThreadDone_; })) {
			log::error(prefix() + "The bus thread did not stop in time; left to end on its own");
			keepAlive_ = std::move(self);
			busProcThread_.detach();
			return false;
		}
	}
	busProcThread_.join();
	KALUN_LOG_DEBUG(debugText("stopBusProcessing", "busProcThread joined"));
	return true;
}

void Session::stopBusProcessing()
{
	if (stopped_)
		return;
	stopped_ = true;
	KALUN_LOG_DEBUG(debugText("stopBusProcessing", "Stopping bus processing..."));
	server_.reset();
	// A thread left running still polls the eventfd; it closes with the
	// session then.
	if (endBusThread()) {
		try {
			stopFd_.close();
		} catch (const std::exception &e) {
			log::error(prefix() + e.what());
		}
	}
	closeClientFds();
}

} // namespace kalun
