// The simulated kernel's end of the 3A control channel: each socket of the
// protocol is backed by a socketpair, and the peer answers on the other end
// from the client's own send, so no thread of its own is needed.
#include "qvd_netlink.h"
#include "simsoc.h"
#include "simsoc_netlink.h"

#include <chrono>
#include <condition_variable>
#include <errno.h>
#include <map>
#include <mutex>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

struct Peer {
	std::mutex mu;
	std::condition_variable replied;
	std::map<simsoc_file *, int> ends; // client socket to the kernel's end
	int client = -1;                   // the kernel's end of the connected socket
	uint8_t connect_status = 0;
	uint8_t disconnect_status = 0;
	// The reply awaited by simsoc_netlink_command.
	uint32_t awaited = 0;
	bool awaiting = false;
	int reply = -1;
	std::vector<uint8_t> last;
};

Peer &peer()
{
	static Peer *p = new Peer;
	return *p;
}

void log_message(const char *dir, const qvd_netlink_message &m)
{
	simsoc_log("netlink: %s cmd 0x%x status %u origin %u response %u", dir, m.command, m.status, m.origin,
	           m.response);
}

// Under the lock.
int send_to(int end, const qvd_netlink_message &m)
{
	uint8_t buf[QVD_NETLINK_MSG_SIZE] = {};
	uint32_t len = QVD_NETLINK_MSG_SIZE;
	memcpy(buf, &len, sizeof len);
	memcpy(buf + QVD_NETLINK_HEADER_SIZE, &m, sizeof m);
	log_message("->", m);
	return send(end, buf, sizeof buf, MSG_NOSIGNAL) == (ssize_t)sizeof buf ? 0 : -1;
}

int nl_open(simsoc_file *f)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) < 0)
		return -errno;
	f->backing_fd = sv[0];
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	p.ends[f] = sv[1];
	return 0;
}

void nl_release(simsoc_file *f)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	auto it = p.ends.find(f);
	if (it == p.ends.end())
		return;
	if (p.client == it->second)
		p.client = -1;
	close(it->second);
	p.ends.erase(it);
}

// Under the lock: a connection request or a reply to a kernel command.
void handle(Peer &p, int end, const qvd_netlink_message &m)
{
	if (m.origin == 1 && m.response == 1) {
		if (p.awaiting && m.command == p.awaited) {
			p.reply = m.status;
			p.awaiting = false;
			p.replied.notify_all();
		}
		return;
	}
	if (m.origin != 0 || m.response != 0)
		return;
	qvd_netlink_message r = {};
	r.command = m.command;
	r.response = 1;
	if (m.command == QVD_NETLINK_CONNECT) {
		r.status = p.connect_status;
		if (r.status == 0)
			p.client = end;
	} else if (m.command == QVD_NETLINK_DISCONNECT) {
		r.status = p.disconnect_status;
		if (p.client == end)
			p.client = -1;
	} else {
		r.status = 1;
	}
	send_to(end, r);
}

ssize_t nl_sendmsg(simsoc_file *f, const struct msghdr *msg, int)
{
	std::vector<uint8_t> buf;
	for (size_t i = 0; i < msg->msg_iovlen; i++) {
		const uint8_t *b = static_cast<const uint8_t *>(msg->msg_iov[i].iov_base);
		buf.insert(buf.end(), b, b + msg->msg_iov[i].iov_len);
	}
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	p.last = buf;
	if (buf.size() < QVD_NETLINK_HEADER_SIZE + 16) {
		simsoc_log("netlink: <- short message of %zu bytes", buf.size());
		return (ssize_t)buf.size();
	}
	qvd_netlink_message m = {};
	memcpy(&m, buf.data() + QVD_NETLINK_HEADER_SIZE,
	       std::min(sizeof m, buf.size() - QVD_NETLINK_HEADER_SIZE));
	log_message("<-", m);
	auto it = p.ends.find(f);
	if (it != p.ends.end())
		handle(p, it->second, m);
	return (ssize_t)buf.size();
}

const simsoc_model_ops netlink_ops = {
    .name = "qvd-netlink",
    .open = nl_open,
    .release = nl_release,
    .sendmsg = nl_sendmsg,
};

__attribute__((constructor)) void netlink_register()
{
	simsoc_register_socket(AF_NETLINK, QVD_NETLINK_PROTOCOL, &netlink_ops, nullptr);
}

} // namespace

extern "C" void simsoc_netlink_set_answer(int connect_status, int disconnect_status)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	p.connect_status = (uint8_t)connect_status;
	p.disconnect_status = (uint8_t)disconnect_status;
}

extern "C" int simsoc_netlink_connected(void)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	return p.client >= 0;
}

extern "C" int simsoc_netlink_command(uint32_t command, int timeout_ms)
{
	Peer &p = peer();
	std::unique_lock<std::mutex> lk(p.mu);
	if (p.client < 0) {
		simsoc_log("netlink: no client for cmd 0x%x", command);
		return -1;
	}
	qvd_netlink_message m = {};
	m.command = command;
	m.origin = 1;
	p.awaited = command;
	p.awaiting = true;
	if (send_to(p.client, m) < 0) {
		p.awaiting = false;
		return -1;
	}
	if (!p.replied.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return !p.awaiting; })) {
		p.awaiting = false;
		simsoc_log("netlink: no reply to cmd 0x%x", command);
		return -2;
	}
	return p.reply;
}

extern "C" int simsoc_netlink_send_raw(const void *payload, size_t len)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	if (p.client < 0 || len > QVD_NETLINK_PAYLOAD_SIZE)
		return -1;
	qvd_netlink_message m = {};
	memcpy(&m, payload, len);
	return send_to(p.client, m);
}

extern "C" size_t simsoc_netlink_last_received(void *buf, size_t len)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	size_t n = std::min(len, p.last.size());
	if (n)
		memcpy(buf, p.last.data(), n);
	return p.last.size();
}

extern "C" void simsoc_netlink_hangup(void)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	for (auto &e : p.ends)
		shutdown(e.second, SHUT_RDWR);
	p.client = -1;
}

extern "C" void simsoc_netlink_reset(void)
{
	Peer &p = peer();
	std::lock_guard<std::mutex> lk(p.mu);
	p.connect_status = 0;
	p.disconnect_status = 0;
	p.client = -1;
	p.awaiting = false;
	p.last.clear();
}
