// A scriptable stand-in for the inference service: it owns com.tovi.Kalun1 on
// the (private) system bus, answers CreateSession as its script says, serves
// the two private channels of the sessions it makes, and on request sends
// results or closes a session's result channel. It runs on a thread of its
// own inside the test program.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

namespace fakekalun
{

struct Unit {
	std::string name;
	uint32_t instance;
	int32_t chip;
};

struct Script {
	// The version the service accepts; another one is refused with -13.
	uint32_t major = 3, minor = 1, patch = 56;
	uint64_t session_id = 0;
	// A non-zero code refuses the session with this code and message.
	int32_t code = 0;
	std::string message;
	std::vector<Unit> units = {{"cpu-tflite", 0, 2}, {"cpu-proc", 0, 11}};
	// Answer CreateSession with this D-Bus error instead of a reply.
	std::string dbus_error_name;
	std::string dbus_error_message;
	// Answer with a body of the wrong signature.
	bool malformed_reply = false;
	// Close the result channel instead of answering the handshake.
	bool close_on_handshake = false;
};

struct Request {
	std::string member;
	std::string path;
	std::string interface;
	std::string destination;
	std::string signature;
	std::string first_string; // the first "s" argument, if any
	// The whole request, for tests that read its arguments (rewind first).
	std::shared_ptr<sd_bus_message> message;
};

struct CreateSessionCall {
	std::string client_name;
	uint32_t major, minor, patch;
};

class FakeKalun
{
      public:
	FakeKalun();
	~FakeKalun();
	FakeKalun(const FakeKalun &) = delete;
	FakeKalun &operator=(const FakeKalun &) = delete;

	void set_script(const Script &script);
	void set_num_sessions(uint64_t n, bool fail = false);

	std::vector<CreateSessionCall> create_calls();
	// Waits until at least n requests arrived on the newest session's
	// request channel (or a second passed) and returns them all.
	std::vector<Request> wait_requests(size_t n);

	// Results on the newest session's result channel.
	void send_tail(const std::string &member, uint64_t tag, int32_t code, const std::string &message);
	void send_alloc(uint64_t tag, int32_t code, const std::string &message,
	                const std::vector<uint64_t> &sizes, const std::vector<uint32_t> &props, size_t nfds);
	void send_raw(const std::string &member, const std::function<void(sd_bus_message *)> &append);
	// Closes the service's end of the newest session's result channel.
	void close_results();
	// Closes the service's ends of every session it made.
	void drop_sessions();

	struct Impl;

      private:
	Impl *impl_;
};

} // namespace fakekalun
