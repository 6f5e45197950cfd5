// Requests on a session's private request channel, read and dispatched by
// the session's own bus thread as a client's would be. Each input becomes
// one D-Bus method call written straight onto the channel, with one memfd
// attached for the "h" arguments when the member's own signature is used:
//   byte 0: the member (Handshake, QueueLoadModel, DeleteModel, QueueJob,
//           AllocTensors, DeallocTensors, or a member the session does not
//           know);
//   byte 1: the signature: the member's own (bit 0 adds the parameter map)
//           below 0x80, else a length byte and the signature's text follow
//           and no descriptor goes with the call (the bus library keeps the
//           descriptors of a call whose header it refuses: see
//           fuzz/known/kalun_session/);
//   the rest: the body, as the bus carries it (little-endian).
// After it a DeallocTensors call with a tag of the harness's own is sent
// the ordinary way; its answer says the session has read the request. A
// session whose channel was broken by the input is replaced.
#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "kalun/backendunit/debug_chip.h"
#include "kalun/backendunit/libyuv_unit.h"
#include "kalun/session.h"

namespace
{

struct Member {
	const char *name;
	const char *signature;
	bool takes_map;
};

const Member members[] = {
    {"Handshake", "s", false},         {"QueueLoadModel", "httist", true},
    {"DeleteModel", "ttt", false},     {"QueueJob", "ttyta(iitatathtxtu)a(iitatathtxtu)", true},
    {"AllocTensors", "ttatyut", true}, {"DeallocTensors", "att", false},
    {"NoSuchRequest", "", false},
};
const size_t member_count = sizeof members / sizeof members[0];
const uint64_t sync_tag = 0x5ca1ab1e;

kalun::Session::UnitList units;
sd_bus *system_bus;

sd_bus *client_bus(int fd)
{
	sd_bus *bus = nullptr;
	if (sd_bus_new(&bus) < 0 || sd_bus_set_fd(bus, fd, fd) < 0 || sd_bus_negotiate_fds(bus, 1) < 0 ||
	    sd_bus_start(bus) < 0)
		abort();
	return bus;
}

// The session's object needs a bus to sit on; a peer connection that is
// never answered holds what it announces.
sd_bus *peer_system_bus()
{
	int pair[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) < 0)
		abort();
	sd_bus *bus = nullptr;
	sd_id128_t id;
	if (sd_bus_new(&bus) < 0 || sd_bus_set_fd(bus, pair[0], pair[0]) < 0 || sd_id128_randomize(&id) < 0 ||
	    sd_bus_set_server(bus, 1, id) < 0 || sd_bus_set_anonymous(bus, 1) < 0 || sd_bus_start(bus) < 0)
		abort();
	return bus;
}

class Client
{
      public:
	Client()
	{
		std::string path = "/com/tovi/Kalun1/Session/" + std::to_string(kalun::Session::getNextId());
		session_ = std::make_shared<kalun::Session>(system_bus, path, units);
		auto fds = session_->getClientFds();
		// The session closes its copies at the handshake.
		result_ = client_bus(fcntl(fds.first, F_DUPFD_CLOEXEC, 0));
		request_ = client_bus(fcntl(fds.second, F_DUPFD_CLOEXEC, 0));
		path_ = path;
		sd_bus_message *m = nullptr;
		if (sd_bus_message_new_method_call(request_, &m, "com.tovi.Kalun1", path_.c_str(),
		                                   kalun::SessionSdbusServer::kInterface, "Handshake") < 0 ||
		    sd_bus_message_append(m, "s", ":1.fuzz") < 0 || sd_bus_send(request_, m, nullptr) < 0)
			abort();
		sd_bus_message_unref(m);
		if (!await("Handshake", 0))
			abort();
	}
	~Client()
	{
		sd_bus_flush_close_unref(request_);
		sd_bus_flush_close_unref(result_);
		session_->stopBusProcessing();
	}

	// False when the channel broke and the session can take no more.
	bool send_raw(const std::vector<uint8_t> &message, int fd)
	{
		if (fd < 0)
			return write(sd_bus_get_fd(request_), message.data(), message.size()) ==
			       (ssize_t)message.size();
		iovec iov = {const_cast<uint8_t *>(message.data()), message.size()};
		char control[CMSG_SPACE(sizeof(int))] = {};
		msghdr msg = {};
		msg.msg_iov = &iov;
		msg.msg_iovlen = 1;
		msg.msg_control = control;
		msg.msg_controllen = sizeof control;
		cmsghdr *c = CMSG_FIRSTHDR(&msg);
		c->cmsg_level = SOL_SOCKET;
		c->cmsg_type = SCM_RIGHTS;
		c->cmsg_len = CMSG_LEN(sizeof(int));
		memcpy(CMSG_DATA(c), &fd, sizeof fd);
		return sendmsg(sd_bus_get_fd(request_), &msg, MSG_NOSIGNAL) == (ssize_t)message.size();
	}

	// Sends the harness's own request and waits for its answer.
	bool sync()
	{
		sd_bus_message *m = nullptr;
		if (sd_bus_message_new_method_call(request_, &m, "com.tovi.Kalun1", path_.c_str(),
		                                   kalun::SessionSdbusServer::kInterface,
		                                   "DeallocTensors") < 0)
			return false;
		bool sent = sd_bus_message_append(m, "att", 0, sync_tag) >= 0 &&
		            sd_bus_send(request_, m, nullptr) >= 0;
		sd_bus_message_unref(m);
		return sent && await("DeallocTensors", sync_tag);
	}

      private:
	// Reads answers until the one of that member (and tag, but for the
	// handshake) comes; false when a channel broke or nothing came in time.
	bool await(const char *member, uint64_t tag)
	{
		for (int waited = 0; waited < 5000;) {
			sd_bus_message *m = nullptr;
			int r = sd_bus_process(result_, &m);
			if (r < 0)
				return false;
			if (m && sd_bus_message_is_method_call(m, nullptr, member) > 0) {
				uint64_t got = 0;
				bool match = !tag || (sd_bus_message_read(m, "t", &got) > 0 && got == tag);
				sd_bus_message_unref(m);
				if (match)
					return true;
				continue;
			}
			sd_bus_message_unref(m);
			if (r > 0)
				continue;
			// A broken request channel shows on the client's end of it.
			if (sd_bus_process(request_, nullptr) < 0)
				return false;
			pollfd fds[2] = {{sd_bus_get_fd(result_), POLLIN, 0},
			                 {sd_bus_get_fd(request_), POLLIN, 0}};
			poll(fds, 2, 10);
			waited += 10;
		}
		return false;
	}

	std::shared_ptr<kalun::Session> session_;
	sd_bus *result_ = nullptr;
	sd_bus *request_ = nullptr;
	std::string path_;
};

Client *client;
uint32_t serial = 0x40000000;

void put_u32(std::vector<uint8_t> &out, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		out.push_back((uint8_t)(v >> (8 * i)));
}

void pad(std::vector<uint8_t> &out, size_t alignment)
{
	while (out.size() % alignment)
		out.push_back(0);
}

// One header field: code, variant of a text of the given type.
void field(std::vector<uint8_t> &out, uint8_t code, char type, const std::string &text)
{
	pad(out, 8);
	out.push_back(code);
	out.push_back(1);
	out.push_back((uint8_t)type);
	out.push_back(0);
	if (type == 'g') {
		out.push_back((uint8_t)text.size());
	} else {
		put_u32(out, (uint32_t)text.size());
	}
	out.insert(out.end(), text.begin(), text.end());
	out.push_back(0);
}

std::vector<uint8_t> method_call(const std::string &path, const std::string &member,
                                 const std::string &signature, bool with_fd, const uint8_t *body,
                                 size_t body_size)
{
	std::vector<uint8_t> fields;
	field(fields, 1, 'o', path);
	field(fields, 2, 's', kalun::SessionSdbusServer::kInterface);
	field(fields, 3, 's', member);
	field(fields, 6, 's', "com.tovi.Kalun1");
	if (!signature.empty())
		field(fields, 8, 'g', signature);
	if (with_fd) {
		pad(fields, 8);
		fields.push_back(9);
		fields.push_back(1);
		fields.push_back('u');
		fields.push_back(0);
		put_u32(fields, 1);
	}
	// The array's length leaves out the padding after its last field.
	std::vector<uint8_t> out = {'l', 1, 1, 1};
	put_u32(out, (uint32_t)body_size);
	put_u32(out, serial++);
	put_u32(out, (uint32_t)fields.size());
	out.insert(out.end(), fields.begin(), fields.end());
	pad(out, 8);
	out.insert(out.end(), body, body + body_size);
	return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	units.push_back(std::make_unique<kalun::backendunit::LibYuv>());
	units.push_back(std::make_unique<kalun::backendunit::DebugChip>());
	for (auto &unit : units)
		unit->startProcessingQueues();
	// The units' workers may still be loading when the inputs run out: stop
	// them before the statics they read are destroyed.
	atexit([] {
		for (auto &unit : units)
			unit->stopProcessingQueues();
	});
	system_bus = peer_system_bus();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return -1;
	const Member &member = members[data[0] % member_count];
	std::string signature = member.signature;
	size_t at = 2;
	const bool own_signature = !(data[1] & 0x80);
	if (!own_signature) {
		size_t length = data[1] & 0x7f;
		if (size - at < length)
			return -1;
		signature.assign(reinterpret_cast<const char *>(data + at), length);
		at += length;
	} else if (member.takes_map && (data[1] & 1)) {
		signature += "a{sv}";
	}
	if (!client)
		client = new Client();
	std::string path = "/com/tovi/Kalun1/Session/" + std::to_string(kalun::Session::getNextId() - 1);
	std::vector<uint8_t> message =
	    method_call(path, member.name, signature, own_signature, data + at, size - at);
	int fd = own_signature ? memfd_create("fuzz-model", MFD_CLOEXEC) : -1;
	bool alive = client->send_raw(message, fd);
	if (fd >= 0)
		close(fd);
	if (!alive || !client->sync()) {
		delete client;
		client = nullptr;
	}
	return 0;
}
