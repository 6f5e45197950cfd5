// A small client of the running service for the tests and the demo: it
// opens a session over the system bus and speaks the request and result
// protocol on the session's two private buses, as the client library does.
// Failures raise std::runtime_error (sdbus::Error for D-Bus errors).
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <systemd/sd-bus.h>

#include "kalun/kalun_types.h"
#include "kalun/parameter_map.h"
#include "kalun/sdbus/bus.h"
#include "kalun/sdbus/message.h"
#include "kalun/session.h"
#include "kalun/session_sdbus_server.h"

namespace kalun::client
{

using kalun::ModelTuple;
using kalun::TensorMetadataTuple;
using sdbus::UnixFd;
using UnitEntry = std::tuple<std::string, uint32_t, int32_t>;
using TensorTuple = Session::TensorTuple;
// "((tttisa(iitatats)a(iitatats))tis)"
using LoadAnswer = std::tuple<ModelTuple, uint64_t, int32_t, std::string>;
// The result tail "tis".
using Answer = std::tuple<uint64_t, int32_t, std::string>;

inline constexpr const char *kBusName = "com.tovi.Kalun1";
inline constexpr const char *kServicePath = "/com/tovi/Kalun1";
inline constexpr const char *kServiceInterface = "com.tovi.Kalun1.Service";
inline constexpr const char *kSessionInterface = "com.tovi.Kalun1.Session";

inline std::string sessionPath(uint64_t id)
{
	return std::string(kServicePath) + "/Session/" + std::to_string(id);
}

inline int check(int r, const char *what)
{
	return sdbus::check(r, what);
}

// A connection of its own to the system bus: one client, one unique name.
class SystemBus
{
      public:
	SystemBus()
	{
		check(sd_bus_open_system(&bus_), "sd_bus_open_system");
	}
	~SystemBus()
	{
		close();
	}
	SystemBus(const SystemBus &) = delete;
	SystemBus &operator=(const SystemBus &) = delete;

	sd_bus *get() const
	{
		return bus_;
	}
	std::string uniqueName() const
	{
		const char *name = nullptr;
		check(sd_bus_get_unique_name(bus_, &name), "sd_bus_get_unique_name");
		return name;
	}
	// The service sees the client vanish once the bus daemon does.
	void close()
	{
		if (bus_)
			sd_bus_flush_close_unref(bus_);
		bus_ = nullptr;
	}

	template <typename T>
	T property(const std::string &path, const char *interface, const char *name) const
	{
		sd_bus_error error = SD_BUS_ERROR_NULL;
		sd_bus_message *raw = nullptr;
		const int r = sd_bus_get_property(bus_, kBusName, path.c_str(), interface, name, &error, &raw,
		                                  sdbus::Signature<T>::value().c_str());
		if (r < 0) {
			sdbus::Error e(error);
			sd_bus_error_free(&error);
			throw e;
		}
		sdbus::Message reply(raw, true);
		return reply.read<T>();
	}

	uint64_t nbrOfSessions() const
	{
		return property<uint64_t>(kServicePath, kServiceInterface, "NbrOfSessions");
	}
	std::vector<ModelTuple> models(uint64_t sessionId) const
	{
		return property<std::vector<ModelTuple>>(sessionPath(sessionId), kSessionInterface, "Models");
	}

      private:
	sd_bus *bus_ = nullptr;
};

struct SessionReply {
	uint64_t id = 0;
	int resultFd = -1;  // owned duplicate
	int requestFd = -1; // owned duplicate
	int32_t code = 0;
	std::string message;
	std::vector<UnitEntry> units;

	SessionReply() = default;
	SessionReply(const SessionReply &) = delete;
	SessionReply &operator=(const SessionReply &) = delete;
	SessionReply(SessionReply &&other) noexcept
	{
		*this = std::move(other);
	}
	SessionReply &operator=(SessionReply &&other) noexcept
	{
		std::swap(id, other.id);
		std::swap(resultFd, other.resultFd);
		std::swap(requestFd, other.requestFd);
		std::swap(code, other.code);
		std::swap(message, other.message);
		std::swap(units, other.units);
		return *this;
	}
	~SessionReply()
	{
		if (resultFd >= 0)
			::close(resultFd);
		if (requestFd >= 0)
			::close(requestFd);
	}
};

// CreateSession under clientName, by default the caller's own name.
inline SessionReply createSession(const SystemBus &bus, std::string clientName = "", uint32_t major = 3,
                                  uint32_t minor = 1, uint32_t patch = 56)
{
	if (clientName.empty())
		clientName = bus.uniqueName();
	sd_bus_error error = SD_BUS_ERROR_NULL;
	sd_bus_message *raw = nullptr;
	const int r =
	    sd_bus_call_method(bus.get(), kBusName, kServicePath, kServiceInterface, "CreateSession", &error,
	                       &raw, "suuu", clientName.c_str(), major, minor, patch);
	if (r < 0) {
		sdbus::Error e(error);
		sd_bus_error_free(&error);
		throw e;
	}
	sdbus::Message reply(raw, true);
	std::tuple<uint64_t, UnixFd, UnixFd, int32_t, std::string, std::vector<UnitEntry>> fields;
	reply.read(fields);
	SessionReply out;
	out.id = std::get<0>(fields);
	// The descriptors belong to the reply; keep copies.
	out.resultFd = fcntl(std::get<1>(fields).fd, F_DUPFD_CLOEXEC, 0);
	out.requestFd = fcntl(std::get<2>(fields).fd, F_DUPFD_CLOEXEC, 0);
	out.code = std::get<3>(fields);
	out.message = std::get<4>(fields);
	out.units = std::get<5>(fields);
	return out;
}

// The client's ends of a session's two private buses.
class Channels
{
      public:
	// Takes both descriptors of the reply.
	explicit Channels(SessionReply &reply) : path_(sessionPath(reply.id))
	{
		result_ = open(reply.resultFd);
		reply.resultFd = -1;
		request_ = open(reply.requestFd);
		reply.requestFd = -1;
	}
	~Channels()
	{
		sd_bus_flush_close_unref(request_);
		sd_bus_flush_close_unref(result_);
	}
	Channels(const Channels &) = delete;
	Channels &operator=(const Channels &) = delete;

	template <typename... Ts> void send(const std::string &member, const Ts &...args)
	{
		sd_bus_message *raw = nullptr;
		check(sd_bus_message_new_method_call(request_, &raw, kBusName, path_.c_str(),
		                                     kSessionInterface, member.c_str()),
		      "sd_bus_message_new_method_call");
		sdbus::Message call(raw, true);
		call.append(args...);
		check(sd_bus_send(request_, call.get(), nullptr), "sd_bus_send");
		check(sd_bus_flush(request_), "sd_bus_flush");
	}

	// The next answer, which must be of this member.
	sdbus::Message expect(const std::string &member,
	                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
	{
		const auto end = std::chrono::steady_clock::now() + timeout;
		for (;;) {
			sd_bus_message *raw = nullptr;
			const int r = check(sd_bus_process(result_, &raw), "sd_bus_process");
			sdbus::Message message(raw, true);
			if (raw && sd_bus_message_is_method_call(raw, nullptr, nullptr) > 0) {
				if (message.member() != member)
					throw std::runtime_error("Expected " + member + ", got " +
					                         message.member());
				return message;
			}
			if (r > 0)
				continue;
			const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
			    end - std::chrono::steady_clock::now());
			if (left.count() <= 0)
				throw std::runtime_error("No " + member + " answer");
			sd_bus_wait(result_, left.count());
		}
	}

	uint64_t handshake(const std::string &uniqueName)
	{
		send("Handshake", uniqueName);
		return expect("Handshake").read<uint64_t>();
	}

	LoadAnswer loadModel(int modelFd, uint64_t size, uint64_t unit, int32_t access,
	                     const std::string &name, uint64_t tag, const ParameterMap &params)
	{
		send("QueueLoadModel", UnixFd{modelFd}, size, unit, access, name, tag, params);
		return expect("QueueLoadModel").read<LoadAnswer>();
	}

	Answer runJob(uint64_t modelId, uint64_t unit, uint8_t priority, uint64_t tag,
	              const std::vector<TensorTuple> &inputs, const std::vector<TensorTuple> &outputs)
	{
		send("QueueJob", modelId, unit, priority, tag, inputs, outputs, ParameterMap{});
		sdbus::Message answer = expect("QueueJob");
		Answer tail;
		answer.read(std::get<0>(tail), std::get<1>(tail), std::get<2>(tail));
		return tail;
	}

      private:
	static sd_bus *open(int fd)
	{
		sd_bus *bus = nullptr;
		check(sd_bus_new(&bus), "sd_bus_new");
		sdbus::BusPtr owned(bus);
		check(sd_bus_set_fd(bus, fd, fd), "sd_bus_set_fd");
		check(sd_bus_negotiate_fds(bus, 1), "sd_bus_negotiate_fds");
		check(sd_bus_start(bus), "sd_bus_start");
		return owned.release();
	}

	std::string path_;
	sd_bus *request_ = nullptr;
	sd_bus *result_ = nullptr;
};

// A memfd holding the bytes; the caller closes it.
inline int memfdWith(const std::vector<uint8_t> &bytes)
{
	const int fd = memfd_create("kalun-client", MFD_CLOEXEC);
	if (fd < 0)
		throw std::runtime_error("memfd_create failed");
	if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
		throw std::runtime_error("memfd write failed");
	lseek(fd, 0, SEEK_SET);
	return fd;
}

// The load parameters of a cpu-proc "model" that scales an RGB image.
inline ParameterMap scaleParams(int64_t inW, int64_t inH, int64_t outW, int64_t outH)
{
	return {{"image.input.size", std::vector<int64_t>{inW, inH}},
	        {"image.input.format", std::string("rgb-interleaved")},
	        {"image.output.size", std::vector<int64_t>{outW, outH}},
	        {"image.output.format", std::string("rgb-interleaved")}};
}

// A job tensor as the model describes it, on fd (the caller keeps it).
inline TensorTuple tensorFor(const TensorMetadataTuple &meta, int fd, uint64_t fdSize)
{
	const auto &[dataType, layout, byteSize, dims, pitches, name] = meta;
	(void)name;
	return TensorTuple{dataType,   layout, byteSize, dims, pitches,
	                   UnixFd{fd}, fdSize, 0,        0,    KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP};
}

} // namespace kalun::client
