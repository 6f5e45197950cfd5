#include "kalun/service.h"

#include <sys/epoll.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <systemd/sd-daemon.h>

#include "kalun/backendunit/debug_chip.h"
#include "kalun/backendunit/libyuv_unit.h"
#include "kalun/backendunit/tflite_cpu.h"
#include "kalun/log.h"
#include "kalun/result_codes.h"

namespace kalun
{

namespace
{

constexpr uint32_t kWatchedEvents = EPOLLIN | EPOLLPRI | EPOLLERR | EPOLLHUP | EPOLLRDHUP;

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kService) + function + "(): " + text;
}

std::runtime_error systemError(const std::string &what, int negativeErrno)
{
	return std::runtime_error(what + std::strerror(-negativeErrno));
}

Service::CreateSessionReply failure(int32_t code, const std::string &message)
{
	// The reply needs a valid descriptor in both fields; descriptor 0 is
	// what a failed call hands out, and no client takes it for a channel.
	return {0, sdbus::UnixFd{0}, sdbus::UnixFd{0}, code, message, {}};
}

} // namespace

Service::AnnouncedObject::~AnnouncedObject()
{
	if (!object)
		return;
	try {
		object->emitRemoved();
	} catch (const sdbus::Error &e) {
		KALUN_LOG_DEBUG(debugText("~Service", e.what()));
	}
}

Service::Service(std::string busName, std::string objectPath, sd_bus *bus)
    : busName_(std::move(busName)), objectPath_(std::move(objectPath)), bus_(bus)
{
	std::vector<sdbus::Object::Method> methods{
	    {"CreateSession", "suuu", sdbus::Signature<CreateSessionReply>::value(),
	     [this](sdbus::Message &call) { handleCreateSession(call); }, SD_BUS_VTABLE_UNPRIVILEGED},
	};
	std::vector<sdbus::Object::Property> properties{
	    sdbus::Object::property<uint64_t>("NbrOfSessions", [this] { return nbrOfSessions(); }),
	};
	object_.object = std::make_unique<sdbus::Object>(bus_, objectPath_, kInterface, std::move(methods),
	                                                 std::move(properties));
	object_.object->emitAdded();

	backEndUnits_.push_back(std::make_unique<backendunit::TFLiteCPU>());
	KALUN_LOG_DEBUG(
	    debugText("Service", "Created backend unit " + backEndUnits_.back()->getNameAndChipId().first));
	backEndUnits_.push_back(std::make_unique<backendunit::LibYuv>());
	KALUN_LOG_DEBUG(
	    debugText("Service", "Created backend unit " + backEndUnits_.back()->getNameAndChipId().first));
	if (backEndUnits_.empty())
		backEndUnits_.push_back(std::make_unique<backendunit::DebugChip>());
	for (auto &unit : backEndUnits_)
		unit->startProcessingQueues();
	KALUN_LOG_DEBUG(debugText("Service", "Constructed " + busName_ + " " + objectPath_));
}

Service::~Service()
{
	// A session must leave the bus and end its thread before it may go;
	// stop() has done so unless the loop never ran.
	for (auto &entry : sessions_)
		entry.second->stopBusProcessing();
	stopSource_.reset();
	busSource_.reset();
	event_.reset();
	sessionClients_.clear();
	clientLostMatches_.clear();
	sessions_.clear();
	backEndUnits_.clear();
}

void Service::start(int stopFd)
{
	sd_event *event = nullptr;
	int r = sd_event_default(&event);
	if (r < 0)
		throw systemError("Could not create event: ", r);
	stopSource_.reset();
	busSource_.reset();
	event_.reset(event);
	loopError_ = nullptr;

	r = sd_event_set_watchdog(event, 1);
	if (r < 0)
		throw systemError("Could not set watchdog for event: ", r);

	KALUN_LOG_DEBUG(debugText("start", "Processing initial D-Bus events"));
	for (;;) {
		r = sd_bus_process(bus_, nullptr);
		if (r < 0)
			throw sdbus::Error::fromErrno(r, "sd_bus_process discard");
		if (r == 0)
			break;
		KALUN_LOG_DEBUG(debugText("start", "Initial skip of D-Bus event"));
	}

	sd_event_source *source = nullptr;
	r = sd_event_add_io(event, &source, sd_bus_get_fd(bus_), kWatchedEvents, &Service::sdbusIOHandler,
	                    this);
	if (r < 0)
		throw systemError("Could not add I/O event source for sd-bus bus: ", r);
	busSource_.reset(source);

	if (stopFd >= 0) {
		source = nullptr;
		r = sd_event_add_io(event, &source, stopFd, kWatchedEvents, &Service::stopServiceIOHandler,
		                    this);
		if (r < 0)
			throw systemError("Could not add I/O event source for service stop eventfd: ", r);
		stopSource_.reset(source);
	}

	sd_notifyf(0, "READY=1\nSTATUS=Daemon startup completed, processing events...");
	log::info("Service started");

	r = sd_event_loop(event);
	if (loopError_)
		std::rethrow_exception(loopError_);
	if (r < 0)
		log::error("Service stopped (" + std::to_string(r) + "): " + std::strerror(-r));
	else
		log::info("Service stopped");
}

void Service::stop()
{
	KALUN_LOG_DEBUG(debugText("stop", "Stopping service..."));
	if (!event_)
		throw std::runtime_error("Service is not running");
	const int r = sd_event_exit(event_.get(), 0);
	if (r < 0)
		throw systemError("Could not stop service: ", r);
	for (auto &entry : sessions_)
		entry.second->stopBusProcessing();
}

void Service::processBus()
{
	for (;;) {
		const int r = sd_bus_process(bus_, nullptr);
		if (r < 0)
			throw sdbus::Error::fromErrno(r, "sd_bus_process discard");
		if (r == 0)
			return;
		KALUN_LOG_DEBUG(debugText("sdbusIOHandler", "Handled"));
	}
}

int Service::sdbusIOHandler(sd_event_source *source, int, uint32_t, void *userdata)
{
	auto *self = static_cast<Service *>(userdata);
	KALUN_LOG_DEBUG(debugText("sdbusIOHandler", "Called"));
	try {
		self->processBus();
	} catch (...) {
		// Raised by start() once the loop is out of the event library.
		self->loopError_ = std::current_exception();
		sd_event_exit(sd_event_source_get_event(source), -EIO);
	}
	return 0;
}

int Service::stopServiceIOHandler(sd_event_source *, int, uint32_t, void *userdata)
{
	auto *self = static_cast<Service *>(userdata);
	KALUN_LOG_DEBUG(debugText("stopServiceIOHandler", "Called"));
	try {
		self->stop();
	} catch (const std::exception &e) {
		log::error(e.what());
	}
	return 0;
}

void Service::handleCreateSession(sdbus::Message &call)
{
	std::string clientName;
	uint32_t major = 0;
	uint32_t minor = 0;
	uint32_t patch = 0;
	call.read(clientName, major, minor, patch);
	const char *sender = sd_bus_message_get_sender(call.get());
	const CreateSessionReply result =
	    createSession(clientName, major, minor, patch, sender ? sender : "");

	sd_bus_message *raw = nullptr;
	sdbus::check(sd_bus_message_new_method_return(call.get(), &raw), "Could not create reply");
	sdbus::Message reply(raw, true);
	reply.append(result);
	sdbus::check(sd_bus_send(nullptr, reply.get(), nullptr), "Could not send reply");
}

std::vector<Service::UnitEntry> Service::unitEntries() const
{
	std::vector<UnitEntry> units;
	for (const auto &unit : backEndUnits_) {
		const auto [name, chipId] = unit->getNameAndChipId();
		units.emplace_back(name, 0, chipId);
	}
	return units;
}

Service::CreateSessionReply Service::createSession(const std::string &clientName, uint32_t major,
                                                   uint32_t minor, uint32_t patch,
                                                   const std::string &callerName)
{
	const uint64_t id = Session::getNextId();
	const std::string idText = std::to_string(id);

	if (major != kVersionMajor || minor != kVersionMinor || patch != kVersionPatch) {
		const std::string version =
		    std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
		const std::string m =
		    "version mismatch between library (" + version + ") and service (" + kVersion + ")";
		log::error("Could not create session with ID " + idText + ": " + m);
		return failure(kResultVersionMismatch, "Could not create session: " + m);
	}

	// A session lives as long as its client's name has an owner. A name that
	// is not the caller's own would let one client take another's place, or
	// make a session that nothing ever ends.
	if (clientName != callerName) {
		const std::string m =
		    "Client " + clientName + " is not the caller's own bus name (" + callerName + ")";
		log::error("Could not create session with ID " + idText + ": " + m);
		return failure(kResultSessionNotCreated, "Could not create session: " + m);
	}

	if (sessions_.count(clientName))
		return failure(kResultSessionNotCreated,
		               "Could not create session: Client " + clientName + " already exists");

	std::shared_ptr<Session> session;
	try {
		const std::string path = objectPath_ + "/Session/" + idText;
		session = std::make_shared<Session>(bus_, path, backEndUnits_);
		sessions_.emplace(clientName, session);
	} catch (const std::exception &e) {
		if (session)
			session->stopBusProcessing();
		log::error("Could not create session with ID " + idText + ": " + e.what());
		return failure(kResultSessionNotCreated,
		               std::string("Could not create session: ") + e.what());
	}

	if (clientLostMatches_.count(clientName)) {
		undoSession(clientName, false);
		return failure(kResultSessionNotCreated,
		               "Could not create a match rule: Client " + clientName + " already exists");
	}
	try {
		clientLostMatches_.emplace(clientName, addClientLostMatch(clientName));
	} catch (const std::exception &e) {
		undoSession(clientName, false);
		log::error("Could not create a D-Bus match rule for " + clientName + ": " + e.what());
		return failure(kResultSessionNotCreated,
		               std::string("Could not create a D-Bus match rule: ") + e.what());
	}

	// A client that went away before the match was in place was never
	// seen to go: its session would live until the daemon stops.
	if (!clientStillThere(clientName)) {
		undoSession(clientName, true);
		log::error("Could not create session with ID " + idText + ": Client " + clientName +
		           " has disconnected");
		return failure(kResultSessionNotCreated,
		               "Could not create session: Client " + clientName + " has disconnected");
	}

	if (sessionClients_.count(id)) {
		undoSession(clientName, true);
		return failure(kResultSessionNotCreated,
		               "Could not create a client for session: ID " + idText + " already exists");
	}
	sessionClients_.emplace(id, clientName);

	log::info("Created a new session ID: " + idText + ", client: " + clientName);
	const auto [resultFd, requestFd] = session->getClientFds();
	return {id, sdbus::UnixFd{resultFd}, sdbus::UnixFd{requestFd}, kResultSuccess, "", unitEntries()};
}

sdbus::SlotPtr Service::addClientLostMatch(const std::string &clientName)
{
	const std::string rule = "type=signal,sender=org.freedesktop.DBus,path=/org/freedesktop/DBus,"
	                         "interface=org.freedesktop.DBus,member=NameOwnerChanged,arg0=" +
	                         clientName + ",arg1=" + clientName + ",arg2=";
	sd_bus_slot *slot = nullptr;
	// Without the match the session would outlive its client unnoticed.
	sdbus::check(sd_bus_add_match(bus_, &slot, rule.c_str(), &Service::clientLostHandler, this),
	             "sd_bus_add_match");
	return sdbus::SlotPtr(slot);
}

bool Service::clientStillThere(const std::string &clientName)
{
	sd_bus_error error = SD_BUS_ERROR_NULL;
	sd_bus_message *raw = nullptr;
	const int r =
	    sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
	                       "NameHasOwner", &error, &raw, "s", clientName.c_str());
	sd_bus_error_free(&error);
	if (r < 0)
		return true; // Not known to be gone; the match will tell.
	sdbus::Message reply(raw, true);
	int hasOwner = 1;
	return sd_bus_message_read_basic(reply.get(), 'b', &hasOwner) < 0 || hasOwner;
}

void Service::undoSession(const std::string &clientName, bool madeMatch)
{
	const auto session = sessions_.find(clientName);
	if (session != sessions_.end()) {
		session->second->stopBusProcessing();
		sessions_.erase(session);
	}
	if (madeMatch)
		clientLostMatches_.erase(clientName);
}

uint64_t Service::nbrOfSessions() const
{
	const uint64_t n = sessions_.size();
	KALUN_LOG_DEBUG(debugText("nbrOfSessions", std::to_string(n)));
	return n;
}

int Service::clientLostHandler(sd_bus_message *message, void *userdata, sd_bus_error *)
{
	auto *self = static_cast<Service *>(userdata);
	KALUN_LOG_DEBUG(debugText("clientLostHandler", "Called"));
	try {
		sdbus::Message signal(message, false);
		self->onClientLost(signal);
	} catch (const std::exception &e) {
		log::error(std::string("Could not handle a lost client: ") + e.what());
	}
	return 0;
}

void Service::onClientLost(sdbus::Message &message)
{
	std::string name;
	try {
		message.read(name);
	} catch (const sdbus::Error &e) {
		log::error("Could not to read message: " + e.message() + "(" +
		           std::to_string(e.errnoValue()) + ")");
		return;
	}
	const auto found = sessions_.find(name);
	if (found == sessions_.end()) {
		log::error("Could not find session: No session for client " + name);
		return;
	}
	const uint64_t id = found->second->getId();
	found->second->stopBusProcessing();
	try {
		// Removes the match that is running this very callback: only the
		// copies above are used afterwards.
		deleteSession(id);
	} catch (const std::runtime_error &e) {
		log::error(std::string("Could not delete session: ") + e.what());
		return;
	}
	log::info("Session " + std::to_string(id) + " killed since client's (" + name +
	          ") connection has been lost");
}

void Service::deleteSession(uint64_t id)
{
	const auto client = sessionClients_.find(id);
	if (client == sessionClients_.end())
		throw std::runtime_error("Session with id " + std::to_string(id) +
		                         " does not have a corresponding D-Bus client name");
	const std::string name = client->second;
	const auto session = sessions_.find(name);
	if (session == sessions_.end())
		throw std::runtime_error("Session with D-Bus client name " + name + " does not exist");
	sessions_.erase(session);
	sessionClients_.erase(id);
	const auto match = clientLostMatches_.find(name);
	if (match == clientLostMatches_.end())
		throw std::runtime_error("Session with D-Bus client name " + name +
		                         " has no client lost match");
	clientLostMatches_.erase(match);
}

} // namespace kalun
