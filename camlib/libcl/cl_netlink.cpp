#include "cl_netlink.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <pthread.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cl_customerloop.h"
#include "cl_log.h"
#include "qvd_ioctl.h"
#include "qvd_netlink.h"

namespace
{

struct netlink_client {
	std::atomic<int> running{0};
	std::atomic<int> connected{0};
	int sock = -1;
	int qvd_fd = -1;
	pthread_t thread{};
};

netlink_client client;

// A pause after a failed receive, so a lasting failure does not spin a core.
constexpr useconds_t kRetryPauseUs = 100 * 1000;

int send_message(const qvd_netlink_message &m)
{
	struct nlmsghdr h = {};
	h.nlmsg_len = QVD_NETLINK_MSG_SIZE;
	h.nlmsg_pid = (uint32_t)getpid();
	uint8_t buf[QVD_NETLINK_MSG_SIZE] = {};
	static_assert(sizeof h == QVD_NETLINK_HEADER_SIZE, "netlink header");
	memcpy(buf, &h, sizeof h);
	memcpy(buf + QVD_NETLINK_HEADER_SIZE, &m, sizeof m);
	struct sockaddr_nl kernel = {};
	kernel.nl_family = AF_NETLINK;
	struct iovec iov = {buf, sizeof buf};
	struct msghdr msg = {};
	msg.msg_name = &kernel;
	msg.msg_namelen = sizeof kernel;
	msg.msg_iov = &iov;
	msg.msg_iovlen = 1;
	if (sendmsg(client.sock, &msg, MSG_NOSIGNAL) < 0) {
		cl_perror("failed to send netlink message");
		return -1;
	}
	return 0;
}

qvd_netlink_message request(uint32_t command)
{
	qvd_netlink_message m = {};
	m.pid = (uint32_t)getpid();
	m.command = command;
	m.tag = QVD_NETLINK_TAG;
	return m;
}

// 1 with a message, 0 when the kernel closed the socket, -1 on failure.
int receive_message(qvd_netlink_message *m)
{
	uint8_t buf[1024] = {};
	ssize_t n = recv(client.sock, buf, sizeof buf, 0);
	if (n < 0) {
		cl_perror("failed to receive netlink message");
		return -1;
	}
	if (n == 0)
		return 0;
	memcpy(m, buf + QVD_NETLINK_HEADER_SIZE, sizeof *m);
	return 1;
}

int do_dptz()
{
	return cl_customerloop_do_dptz() == 0;
}

int do_warp()
{
	return cl_customerloop_do_warp() == 0;
}

// Each returns 1 when the command succeeded.
const struct kernel_command {
	uint32_t command;
	int (*run)(void);
	const char *failed;
} kernel_commands[] = {
    {QVD_NETLINK_START_AAA, cl_customerloop_start_aaa, "ERROR: Start AAA failed\n"},
    {QVD_NETLINK_STOP_AAA, cl_customerloop_stop_aaa, "ERROR: Stop AAA failed\n"},
    {QVD_NETLINK_PREPARE_AAA, cl_customerloop_prepare_aaa, "ERROR: Prepare AAA failed\n"},
    {QVD_NETLINK_DO_DPTZ, do_dptz, "ERROR: Do DPTZ failed\n"},
    {QVD_NETLINK_DO_WARP, do_warp, "ERROR: Do warp failed\n"},
};

int run_command(uint32_t command)
{
	for (const kernel_command &k : kernel_commands) {
		if (k.command != command)
			continue;
		if (k.run())
			return 1;
		cl_log(LOG_ERR, "%s", k.failed);
		return 0;
	}
	cl_log(LOG_ERR, "ERROR: Got unknown message command type\n");
	return 0;
}

int process_response(const qvd_netlink_message &m)
{
	switch (m.command) {
	case QVD_NETLINK_CONNECT:
		if (m.status == 0) {
			client.connected = 1;
			return 1;
		}
		cl_log(LOG_ERR, "ERROR: Failed to establish connection with kernel\n");
		return 0;
	case QVD_NETLINK_DISCONNECT:
		client.connected = 0;
		if (m.status != 0)
			cl_log(LOG_ERR, "ERROR: Failed to remove connection with kernel\n");
		return 1;
	default:
		cl_log(LOG_ERR, "ERROR: Got unknown message command type\n");
		return 0;
	}
}

// 1 when the message was handled.
int process_message(const qvd_netlink_message &m)
{
	if (m.origin == 1 && m.response == 0) {
		qvd_netlink_message r = request(m.command);
		r.status = run_command(m.command) ? 0 : 1;
		r.origin = 1;
		r.response = 1;
		if (send_message(r) < 0) {
			cl_log(LOG_ERR, "ERROR: failed to send status response on command\n");
			return 0;
		}
		return 1;
	}
	if (m.origin == 0 && m.response == 1)
		return process_response(m);
	cl_log(LOG_ERR, "ERROR: unknown netlink message\n");
	return 0;
}

int connect_kernel()
{
	if (client.connected)
		return 1;
	if (send_message(request(QVD_NETLINK_CONNECT)) < 0) {
		cl_log(LOG_ERR, "ERROR: failed to send connect message\n");
		return 0;
	}
	qvd_netlink_message m;
	if (receive_message(&m) <= 0) {
		cl_log(LOG_ERR, "ERROR: failed to receive connect reponse\n");
		return 0;
	}
	if (!process_message(m)) {
		cl_log(LOG_ERR, "ERROR: failed to process connect response\n");
		return 0;
	}
	return client.connected;
}

int disconnect_kernel()
{
	if (!client.connected)
		return 1;
	if (send_message(request(QVD_NETLINK_DISCONNECT)) < 0) {
		cl_log(LOG_ERR, "ERROR: failed to send disconnect message\n");
		return 0;
	}
	return 1;
}

// A DSP already running when the library comes up gets its 3A at once. A
// failure here leaves the loop to serve the kernel's later commands.
void catch_up(uint32_t dsp_state)
{
	if (dsp_state != 1 && dsp_state != 2)
		return;
	if (!cl_customerloop_prepare_aaa()) {
		cl_log(LOG_ERR, "ERROR: failed to prepare aaa\n");
		return;
	}
	if (ioctl(client.qvd_fd, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0) < 0)
		cl_perror("QVD_IOC_WAIT_NEXT_IDSP_FRAME failed");
	if (!cl_customerloop_start_aaa())
		cl_log(LOG_ERR, "ERROR: failed to start aaa\n");
}

void *netlink_loop(void *)
{
	uint32_t dsp_state = 0;
	if (ioctl(client.qvd_fd, QVD_IOC_GET_QVD_STATE, &dsp_state) < 0)
		cl_perror("QVD_IOC_GET_QVD_STATE failed");
	catch_up(dsp_state);
	while (client.connected) {
		qvd_netlink_message m;
		int got = receive_message(&m);
		if (got == 0) {
			// The kernel's end is gone: no disconnect answer will come.
			client.connected = 0;
			break;
		}
		if (got < 0) {
			cl_log(LOG_ERR, "ERROR: failed to recieve message\n");
			usleep(kRetryPauseUs);
			continue;
		}
		if (!process_message(m))
			cl_log(LOG_ERR, "ERROR: failed to process message\n");
	}
	uint32_t state = dsp_state;
	if (cl_customerloop_get_cl_state(&state) < 0)
		cl_log(LOG_ERR, "ERROR: failed to get cl state\n");
	if (state == CL_STATE_STARTED && !cl_customerloop_stop_aaa())
		cl_log(LOG_ERR, "ERROR: failed to stop aaa\n");
	return nullptr;
}

void close_all()
{
	if (client.sock >= 0)
		close(client.sock);
	if (client.qvd_fd >= 0)
		close(client.qvd_fd);
	client.sock = -1;
	client.qvd_fd = -1;
	client.connected = 0;
}

int open_socket()
{
	client.sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, QVD_NETLINK_PROTOCOL);
	if (client.sock < 0) {
		cl_perror("failed to create netlink socket");
		return -1;
	}
	struct sockaddr_nl me = {};
	me.nl_family = AF_NETLINK;
	me.nl_pid = (uint32_t)getpid();
	if (bind(client.sock, (struct sockaddr *)&me, sizeof me) < 0) {
		cl_perror("failed to bind netlink socket");
		return -1;
	}
	return 0;
}

} // namespace

int cl_netlink_start(void)
{
	if (client.running)
		return 1;
	client.qvd_fd = open(QVD_DEVICE, O_RDWR | O_CLOEXEC);
	if (client.qvd_fd < 0) {
		cl_perror("failed to open /dev/qvd");
		return 0;
	}
	if (open_socket() < 0) {
		close_all();
		return 0;
	}
	if (!connect_kernel()) {
		cl_log(LOG_ERR, "ERROR: failed to connect over netlink socket\n");
		close_all();
		return 0;
	}
	if (pthread_create(&client.thread, nullptr, netlink_loop, nullptr) != 0) {
		cl_log(LOG_ERR, "ERROR: failed to create netlink thread\n");
		close_all();
		return 0;
	}
	pthread_setname_np(client.thread, "netlink_loop");
	client.running = 1;
	return 1;
}

void cl_netlink_stop(void)
{
	if (!client.running)
		return;
	if (!disconnect_kernel()) {
		cl_log(LOG_WARNING, "WARNING: failed to disconnect over netlink socket\n");
		// Without the kernel's answer the loop would wait for ever.
		shutdown(client.sock, SHUT_RDWR);
	}
	if (pthread_join(client.thread, nullptr) != 0)
		cl_log(LOG_WARNING, "WARNING: failed to join netlink thread\n");
	if (close(client.sock) < 0)
		cl_perror("failed to close netlink socket");
	if (close(client.qvd_fd) < 0)
		cl_perror("failed to close /dev/qvd");
	client.sock = -1;
	client.qvd_fd = -1;
	client.connected = 0;
	client.running = 0;
}
