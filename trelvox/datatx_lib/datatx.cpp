#include "datatx.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

struct usb_state {
	pthread_mutex_t lock;
	int fd;
	uint32_t packet_size;
	uint8_t *packet;
	int open_files;
	bool initialised;
};

usb_state usb = {PTHREAD_MUTEX_INITIALIZER, -1, 0, nullptr, 0, false};

void check_method(int method)
{
	if (method >= VORS_TRANSFER_NONE && method <= VORS_TRANSFER_STDOUT)
		return;
	printf("Invalid transfer method [%d] !\n", method);
	fflush(stdout);
	fprintf(stderr, "datatx_lib: invalid transfer method\n");
	abort();
}

// A short write is not an error: carry on until everything is out.
int write_all(int fd, const void *data, size_t len, bool socket)
{
	const uint8_t *p = static_cast<const uint8_t *>(data);
	size_t done = 0;
	while (done < len) {
		ssize_t n =
		    socket ? send(fd, p + done, len - done, MSG_NOSIGNAL) : write(fd, p + done, len - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO;
			return -1;
		}
		done += (size_t)n;
	}
	return 0;
}

// Called with the USB mutex held.
int usb_init_locked(void)
{
	if (usb.initialised)
		return 0;
	usb.fd = open(VORS_USB_DEVICE, O_RDWR | O_CLOEXEC);
	if (usb.fd < 0) {
		perror("Cannot open device");
		perror("usb init");
		return -1;
	}
	vors_usb_host_cmd cmd = {0, 0, 0, 0};
	if (ioctl(usb.fd, VOR_DATA_STREAM_RD_CMD, &cmd) < 0)
		perror("read usb command error");
	if (cmd.signature != VORS_USB_CMD_SIGNATURE)
		printf("Wrong signature: %08x\n", cmd.signature);
	if (cmd.command != VORS_USB_CMD_OPEN) {
		printf("Unknow usb command: %08x\n", cmd.command);
		perror("usb init");
		goto fail;
	}
	// The header alone fills 16 bytes: smaller packets carry no payload.
	if (cmd.packet_size <= VORS_USB_HEADER_SIZE) {
		printf("Invalid usb packet size: %u\n", cmd.packet_size);
		goto fail;
	}
	usb.packet = static_cast<uint8_t *>(malloc(cmd.packet_size));
	if (!usb.packet) {
		perror("usb init");
		goto fail;
	}
	usb.packet_size = cmd.packet_size;
	{
		vors_usb_rsp rsp = {VORS_USB_RSP_SIGNATURE, 0};
		if (ioctl(usb.fd, VOR_DATA_STREAM_WR_RSP, &rsp) < 0)
			perror("ioctl VOR_DATA_STREAM_WR_RSP error");
	}
	usb.initialised = true;
	return 0;
fail:
	close(usb.fd);
	usb.fd = -1;
	return -1;
}

int usb_init(void)
{
	pthread_mutex_lock(&usb.lock);
	int r = usb_init_locked();
	pthread_mutex_unlock(&usb.lock);
	return r;
}

void usb_header(uint8_t *h, int port, uint32_t len, uint32_t type)
{
	uint32_t words[4] = {(uint32_t)port, len, type, 0};
	for (int i = 0; i < 4; i++)
		for (int b = 0; b < 4; b++)
			h[i * 4 + b] = (uint8_t)(words[i] >> (8 * b));
}

// Called with the USB mutex held.
int usb_send(int port, const uint8_t *data, size_t len)
{
	size_t max = usb.packet_size - VORS_USB_HEADER_SIZE;
	size_t done = 0;
	while (done < len) {
		size_t chunk = len - done < max ? len - done : max;
		usb_header(usb.packet, port, (uint32_t)chunk, VORS_USB_PACKET_DATA);
		if (write_all(usb.fd, usb.packet, VORS_USB_HEADER_SIZE, false) < 0) {
			perror("usb_write head");
			return -1;
		}
		if (write_all(usb.fd, data + done, chunk, false) < 0) {
			perror("usb_write buf");
			return -1;
		}
		done += chunk;
	}
	return (int)done;
}

// The state is checked under the same lock that deinit frees it under, so a
// write never sends through a packet buffer or descriptor already gone.
int usb_write(int port, const void *data, int len)
{
	pthread_mutex_lock(&usb.lock);
	if (!usb.initialised || usb.open_files <= 0) {
		pthread_mutex_unlock(&usb.lock);
		printf("usb file not create!\n");
		return -1;
	}
	int r = usb_send(port, static_cast<const uint8_t *>(data), (size_t)len);
	pthread_mutex_unlock(&usb.lock);
	if (r < 0)
		perror("usb_write");
	return r;
}

int usb_open(const char *name, int port)
{
	uint8_t record[VORS_TRANSFER_NAME_SIZE] = {0};
	strncpy(reinterpret_cast<char *>(record), name, VORS_TRANSFER_NAME_SIZE - 1);
	pthread_mutex_lock(&usb.lock);
	if (!usb.initialised) {
		pthread_mutex_unlock(&usb.lock);
		printf("usb file not create!\n");
		return -1;
	}
	int r = usb_send(port, record, sizeof record);
	if (r >= 0)
		usb.open_files++;
	pthread_mutex_unlock(&usb.lock);
	if (r < 0) {
		perror("usb_write");
		return -1;
	}
	return port;
}

void usb_close(int port)
{
	pthread_mutex_lock(&usb.lock);
	if (usb.initialised && usb.open_files > 0) {
		usb_header(usb.packet, port, 0, VORS_USB_PACKET_CLOSE);
		if (write_all(usb.fd, usb.packet, VORS_USB_HEADER_SIZE, false) < 0)
			perror("close_usb_port");
		usb.open_files--;
	}
	pthread_mutex_unlock(&usb.lock);
}

int tcp_open(const char *name, int port)
{
	const char *host = getenv("HOST_IP_ADDR");
	if (!host)
		host = VORS_TRANSFER_DEFAULT_HOST;
	sockaddr_in addr;
	memset(&addr, 0, sizeof addr);
	addr.sin_family = AF_INET;
	addr.sin_port = htons((uint16_t)port);
	if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
		printf("Invalid HOST_IP_ADDR [%s].\n", host);
		return -1;
	}
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0) {
		perror("sock");
		return -1;
	}
	if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
		perror("connect");
		close(fd);
		return -1;
	}
	char record[VORS_TRANSFER_NAME_SIZE] = {0};
	strncpy(record, name, VORS_TRANSFER_NAME_SIZE - 1);
	if (write_all(fd, record, sizeof record, true) < 0) {
		perror("send");
		close(fd);
		return -1;
	}
	return fd;
}

} // namespace

int vors_transfer_init(int method)
{
	check_method(method);
	if (method != VORS_TRANSFER_USB)
		return 0;
	return usb_init();
}

int vors_transfer_deinit(int method)
{
	check_method(method);
	if (method != VORS_TRANSFER_USB)
		return 0;
	pthread_mutex_lock(&usb.lock);
	if (usb.initialised && usb.open_files == 0) {
		free(usb.packet);
		usb.packet = nullptr;
		close(usb.fd);
		usb.fd = -1;
		usb.packet_size = 0;
		usb.initialised = false;
	}
	pthread_mutex_unlock(&usb.lock);
	return 0;
}

int vors_transfer_open(const char *name, int method, int port)
{
	check_method(method);
	if (port < VORS_TRANSFER_PORT_MIN || port > VORS_TRANSFER_PORT_MAX) {
		printf("Port number [%d] must be in the range of [%d, %d].\n", port, VORS_TRANSFER_PORT_MIN,
		       VORS_TRANSFER_PORT_MAX);
		return -1;
	}
	if (!name) {
		printf("File name is a NULL pointer!\n");
		return -1;
	}
	switch (method) {
	case VORS_TRANSFER_NONE:
		return VORS_TRANSFER_NONE_HANDLE;
	case VORS_TRANSFER_STDOUT:
		return STDOUT_FILENO;
	case VORS_TRANSFER_FILE: {
		int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (fd < 0)
			perror(name);
		return fd;
	}
	case VORS_TRANSFER_TCP:
		return tcp_open(name, port);
	default:
		return usb_open(name, port);
	}
}

int vors_transfer_close(int handle, int method)
{
	check_method(method);
	if (method == VORS_TRANSFER_FILE || method == VORS_TRANSFER_TCP)
		close(handle);
	else if (method == VORS_TRANSFER_USB)
		usb_close(handle);
	return 0;
}

int vors_transfer_write(int handle, void *data, int len, int method)
{
	check_method(method);
	if (len < 0 || (len > 0 && !data))
		return -1;
	switch (method) {
	case VORS_TRANSFER_NONE:
		return 0;
	case VORS_TRANSFER_USB:
		return usb_write(handle, data, len);
	default:
		if (write_all(handle, data, (size_t)len, method == VORS_TRANSFER_TCP) < 0) {
			perror("write");
			return -1;
		}
		return len;
	}
}

int vors_transfer_flush(int handle, int method)
{
	check_method(method);
	if (method == VORS_TRANSFER_NONE)
		return 0;
	if (method == VORS_TRANSFER_USB) {
		if (!usb.initialised || usb.open_files <= 0) {
			printf("usb file not create!\n");
			return -1;
		}
		printf("Not implemented yet!\n");
		return 0;
	}
	// Sockets and pipes refuse fsync; the bytes are already on their way.
	fsync(handle);
	return 0;
}
