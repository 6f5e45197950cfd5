// The daemon's central object: it owns the back-end units, serves
// com.tovi.Kalun1.Service on the system bus, makes one session per client
// and drops a client's session when the client's bus connection goes.
//
// Everything here runs on the main thread, inside the event loop of start();
// the sessions' bus threads and the units' workers never call into it.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "kalun/backend_unit.h"
#include "kalun/sdbus/bus.h"
#include "kalun/sdbus/message.h"
#include "kalun/session.h"

namespace kalun
{

// The version of the client library that the service talks to.
inline constexpr uint32_t kVersionMajor = 3;
inline constexpr uint32_t kVersionMinor = 1;
inline constexpr uint32_t kVersionPatch = 56;
inline constexpr const char *kVersion = "3.1.56";

inline constexpr const char *kServiceBusName = "com.tovi.Kalun1";
inline constexpr const char *kServiceObjectPath = "/com/tovi/Kalun1";

class Service
{
      public:
	static constexpr const char *kInterface = "com.tovi.Kalun1.Service";

	using UnitList = Session::UnitList;
	// "(sui)": unit name, always 0, chip id.
	using UnitEntry = std::tuple<std::string, uint32_t, int32_t>;
	// "(thhisa(sui))": session id, result channel, request channel, error
	// code, message, units.
	using CreateSessionReply =
	    std::tuple<uint64_t, sdbus::UnixFd, sdbus::UnixFd, int32_t, std::string, std::vector<UnitEntry>>;

	// Registers and announces the service object at objectPath on bus (an
	// object manager there is main's), creates the units and starts their
	// workers. The bus must outlive the service.
	Service(std::string busName, std::string objectPath, sd_bus *bus);
	~Service();
	Service(const Service &) = delete;
	Service &operator=(const Service &) = delete;

	// Runs the event loop until stop() or until stopFd (< 0: none) becomes
	// readable. Throws std::runtime_error when it cannot start, and the
	// bus's error when processing the bus fails.
	void start(int stopFd);
	// Asks the loop to end after the current dispatch and stops every
	// session's bus processing. Throws std::runtime_error.
	void stop();

	// callerName is the unique bus name of the connection that asked; only
	// a session for the caller itself is made. Failures are reply values.
	CreateSessionReply createSession(const std::string &clientName, uint32_t major, uint32_t minor,
	                                 uint32_t patch, const std::string &callerName);
	uint64_t nbrOfSessions() const;
	// Forgets one session and its client-lost match. Throws
	// std::runtime_error when the tables do not know it.
	void deleteSession(uint64_t id);

	const UnitList &backEndUnits() const
	{
		return backEndUnits_;
	}

      private:
	struct EventRelease {
		void operator()(sd_event *event) const
		{
			sd_event_unref(event);
		}
	};
	struct SourceRelease {
		void operator()(sd_event_source *source) const
		{
			sd_event_source_unref(source);
		}
	};
	using EventPtr = std::unique_ptr<sd_event, EventRelease>;
	using SourcePtr = std::unique_ptr<sd_event_source, SourceRelease>;

	// Announces its object's removal before it unregisters it, so that the
	// removal goes out last, after units and sessions are gone.
	struct AnnouncedObject {
		std::unique_ptr<sdbus::Object> object;
		~AnnouncedObject();
	};

	static int sdbusIOHandler(sd_event_source *source, int fd, uint32_t events, void *userdata);
	static int stopServiceIOHandler(sd_event_source *source, int fd, uint32_t events, void *userdata);
	static int clientLostHandler(sd_bus_message *message, void *userdata, sd_bus_error *error);

	void handleCreateSession(sdbus::Message &call);
	void processBus();
	void onClientLost(sdbus::Message &message);
	std::vector<UnitEntry> unitEntries() const;
	sdbus::SlotPtr addClientLostMatch(const std::string &clientName);
	bool clientStillThere(const std::string &clientName);
	// Takes back the session, and the match when madeMatch, that a failed
	// CreateSession made for clientName.
	void undoSession(const std::string &clientName, bool madeMatch);

	AnnouncedObject object_;
	std::string busName_;
	std::string objectPath_;
	sd_bus *bus_;
	UnitList backEndUnits_;
	std::unordered_map<std::string, std::shared_ptr<Session>> sessions_;
	std::unordered_map<std::string, sdbus::SlotPtr> clientLostMatches_;
	std::unordered_map<uint64_t, std::string> sessionClients_;
	EventPtr event_;
	SourcePtr busSource_;
	SourcePtr stopSource_;
	// A bus failure seen inside the loop, raised once the loop has ended.
	std::exception_ptr loopError_;
};

} // namespace kalun
