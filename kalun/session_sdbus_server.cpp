#include "kalun/session_sdbus_server.h"

#include "kalun/log.h"

namespace kalun
{

namespace
{

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kSessionSdbusServer) + function + "(): " + text;
}

} // namespace

SessionSdbusServer::SessionSdbusServer(sd_bus *bus, std::string path, SessionIdFunction sessionId,
                                       ModelsFunction models)
    : path_(std::move(path)), sessionId_(std::move(sessionId)), models_(std::move(models))
{
	std::vector<sdbus::Object::Property> properties{
	    sdbus::Object::property<uint64_t>("SessionId", [this] { return this->sessionId(); }),
	    sdbus::Object::property<std::vector<ModelTuple>>("Models", [this] { return this->models(); }),
	};
	object_ = std::make_unique<sdbus::Object>(
	    bus, path_, kInterface, std::vector<sdbus::Object::Method>{}, std::move(properties));
	// Without an object manager above (a bare connection in tests) there
	// is nobody to tell; the object is served all the same.
	try {
		object_->emitAdded();
	} catch (const sdbus::Error &e) {
		KALUN_LOG_DEBUG(debugText("SessionSdbusServer", e.what()));
	}
	// Added after the announcement so that it goes out through the
	// service's object manager above this path, not through this one.
	sd_bus_slot *slot = nullptr;
	sdbus::check(sd_bus_add_object_manager(bus, &slot, path_.c_str()),
	             ("Could not add object manager at " + path_).c_str());
	objectManager_.reset(slot);
	KALUN_LOG_DEBUG(debugText("SessionSdbusServer", "Constructed " + path_));
}

SessionSdbusServer::~SessionSdbusServer()
{
	KALUN_LOG_DEBUG(debugText("~SessionSdbusServer", "Destructed " + path_));
	objectManager_.reset();
	try {
		object_->emitRemoved();
	} catch (const sdbus::Error &e) {
		KALUN_LOG_DEBUG(debugText("~SessionSdbusServer", e.what()));
	}
}

uint64_t SessionSdbusServer::sessionId() const
{
	return sessionId_();
}

std::vector<ModelTuple> SessionSdbusServer::models() const
{
	return models_();
}

} // namespace kalun
