// Owning handles of sd-bus connections and slots, and server objects built
// from a table of methods and read-only properties.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "kalun/sdbus/message.h"

namespace kalun::sdbus
{

struct BusRelease {
	// Flushes what is queued, then closes and drops the connection.
	void operator()(sd_bus *bus) const
	{
		sd_bus_flush_close_unref(bus);
	}
};
using BusPtr = std::unique_ptr<sd_bus, BusRelease>;

struct SlotRelease {
	void operator()(sd_bus_slot *slot) const
	{
		sd_bus_slot_unref(slot);
	}
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotRelease>;

// One interface on one object path. Methods reply themselves through the
// call they are given; a handler that raises Error is answered with that
// error's name and text, any other exception with org.freedesktop.DBus.Error.Failed.
class Object
{
      public:
	using MethodHandler = std::function<void(Message &call)>;
	using PropertyGetter = std::function<void(Message &reply)>;

	struct Method {
		std::string name;
		std::string signature;
		std::string result;
		MethodHandler handler;
		uint64_t flags = 0;
	};
	struct Property {
		std::string name;
		std::string signature;
		PropertyGetter getter;
		uint64_t flags = SD_BUS_VTABLE_PROPERTY_CONST;
	};

	// A read-only property whose value is what get() returns at the time
	// of the read.
	template <typename T>
	static Property property(std::string name, std::function<T()> get,
	                         uint64_t flags = SD_BUS_VTABLE_PROPERTY_CONST)
	{
		return {std::move(name), Signature<T>::value(),
		        [get = std::move(get)](Message &reply) { reply.append(get()); }, flags};
	}

	// Registers the table; nothing is announced yet.
	Object(sd_bus *bus, std::string path, std::string interface, std::vector<Method> methods,
	       std::vector<Property> properties);
	~Object();
	Object(const Object &) = delete;
	Object &operator=(const Object &) = delete;

	const std::string &path() const
	{
		return path_;
	}
	sd_bus *bus() const
	{
		return bus_;
	}

	// InterfacesAdded / InterfacesRemoved through the nearest object manager.
	void emitAdded();
	void emitRemoved();

      private:
	static int methodCallback(sd_bus_message *call, void *userdata, sd_bus_error *error);
	static int propertyCallback(sd_bus *bus, const char *path, const char *interface,
	                            const char *property, sd_bus_message *reply, void *userdata,
	                            sd_bus_error *error);

	sd_bus *bus_;
	std::string path_;
	std::string interface_;
	std::vector<Method> methods_;
	std::vector<Property> properties_;
	std::vector<sd_bus_vtable> vtable_;
	SlotPtr slot_;
};

} // namespace kalun::sdbus
