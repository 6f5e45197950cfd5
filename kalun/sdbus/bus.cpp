#include "kalun/sdbus/bus.h"

#include <cerrno>
#include <cstring>

namespace kalun::sdbus
{

namespace
{

sd_bus_vtable entry(uint8_t type, uint64_t flags)
{
	sd_bus_vtable v;
	std::memset(&v, 0, sizeof v);
	v.type = type;
	v.flags = flags;
	return v;
}

// Runs a user callback and turns what it raises into a D-Bus error.
template <typename F> int guarded(sd_bus_error *error, F &&fn)
{
	try {
		return fn();
	} catch (const Error &e) {
		return e.setTo(error);
	} catch (const std::exception &e) {
		sd_bus_error_set(error, SD_BUS_ERROR_FAILED, e.what());
		return -EIO;
	}
}

} // namespace

Object::Object(sd_bus *bus, std::string path, std::string interface, std::vector<Method> methods,
               std::vector<Property> properties)
    : bus_(bus), path_(std::move(path)), interface_(std::move(interface)), methods_(std::move(methods)),
      properties_(std::move(properties))
{
	sd_bus_vtable start = entry(_SD_BUS_VTABLE_START, 0);
	start.x.start.element_size = sizeof(sd_bus_vtable);
	vtable_.push_back(start);
	// The strings live in methods_ and properties_, which never change again.
	for (const Method &m : methods_) {
		sd_bus_vtable v = entry(_SD_BUS_VTABLE_METHOD, m.flags);
		v.x.method.member = m.name.c_str();
		v.x.method.signature = m.signature.c_str();
		v.x.method.result = m.result.c_str();
		v.x.method.handler = &Object::methodCallback;
		vtable_.push_back(v);
	}
	for (const Property &p : properties_) {
		sd_bus_vtable v = entry(_SD_BUS_VTABLE_PROPERTY, p.flags);
		v.x.property.member = p.name.c_str();
		v.x.property.signature = p.signature.c_str();
		v.x.property.get = &Object::propertyCallback;
		vtable_.push_back(v);
	}
	vtable_.push_back(entry(_SD_BUS_VTABLE_END, 0));

	sd_bus_slot *slot = nullptr;
	check(sd_bus_add_object_vtable(bus_, &slot, path_.c_str(), interface_.c_str(), vtable_.data(), this),
	      ("Could not register " + interface_ + " at " + path_).c_str());
	slot_.reset(slot);
}

Object::~Object() = default;

void Object::emitAdded()
{
	check(sd_bus_emit_object_added(bus_, path_.c_str()), ("Could not announce object " + path_).c_str());
}

void Object::emitRemoved()
{
	check(sd_bus_emit_object_removed(bus_, path_.c_str()),
	      ("Could not announce removal of object " + path_).c_str());
}

int Object::methodCallback(sd_bus_message *call, void *userdata, sd_bus_error *error)
{
	auto *self = static_cast<Object *>(userdata);
	return guarded(error, [&] {
		Message message(call, false);
		const std::string member = message.member();
		for (const Method &m : self->methods_) {
			if (m.name == member) {
				m.handler(message);
				return 1;
			}
		}
		throw Error(SD_BUS_ERROR_UNKNOWN_METHOD, "Unknown method " + member);
	});
}

int Object::propertyCallback(sd_bus *, const char *, const char *, const char *property,
                             sd_bus_message *reply, void *userdata, sd_bus_error *error)
{
	auto *self = static_cast<Object *>(userdata);
	return guarded(error, [&] {
		for (const Property &p : self->properties_) {
			if (p.name == property) {
				Message message(reply, false);
				p.getter(message);
				return 1;
			}
		}
		throw Error(SD_BUS_ERROR_UNKNOWN_PROPERTY, std::string("Unknown property ") + property);
	});
}

} // namespace kalun::sdbus
