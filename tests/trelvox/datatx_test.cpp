#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "datatx.h"
#include "receiver.h"
#include "simsoc.h"
#include "simsoc_gadget.h"

namespace
{

struct Packet {
	uint32_t port, len, type, reserved;
	std::vector<uint8_t> payload;
};

uint32_t le32(const uint8_t *p)
{
	return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

std::vector<Packet> gadget_packets()
{
	std::vector<uint8_t> out(simsoc_gadget_output(nullptr, 0));
	simsoc_gadget_output(out.data(), out.size());
	std::vector<Packet> packets;
	size_t at = 0;
	while (at + 16 <= out.size()) {
		Packet p{le32(&out[at]), le32(&out[at + 4]), le32(&out[at + 8]), le32(&out[at + 12]), {}};
		at += 16;
		if (at + p.len > out.size())
			break;
		p.payload.assign(out.begin() + (long)at, out.begin() + (long)(at + p.len));
		at += p.len;
		packets.push_back(p);
	}
	EXPECT_EQ(at, out.size()) << "trailing bytes in the gadget stream";
	return packets;
}

std::vector<uint8_t> pattern(size_t n)
{
	std::vector<uint8_t> v(n);
	for (size_t i = 0; i < n; i++)
		v[i] = (uint8_t)(i * 7 + (i >> 8));
	return v;
}

class Usb : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_gadget_reset();
		simsoc_clear_failures();
	}
	void TearDown() override
	{
		vors_transfer_deinit(VORS_TRANSFER_USB);
	}
};

TEST_F(Usb, PacketsOfTheAnnouncedSize)
{
	simsoc_gadget_set_command(VORS_USB_CMD_SIGNATURE, VORS_USB_CMD_OPEN, 4096);
	ASSERT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
	uint32_t rsp[2];
	EXPECT_EQ(simsoc_gadget_response(rsp), 1);
	EXPECT_EQ(rsp[0], VORS_USB_RSP_SIGNATURE);
	EXPECT_EQ(rsp[1], 0u);

	int h = vors_transfer_open("dsplog.bin", VORS_TRANSFER_USB, 2017);
	ASSERT_EQ(h, 2017);
	std::vector<uint8_t> data = pattern(10000);
	EXPECT_EQ(vors_transfer_write(h, data.data(), 10000, VORS_TRANSFER_USB), 10000);
	EXPECT_EQ(vors_transfer_close(h, VORS_TRANSFER_USB), 0);

	std::vector<Packet> p = gadget_packets();
	ASSERT_EQ(p.size(), 5u);
	// The name record, 256 bytes, zero-padded.
	EXPECT_EQ(p[0].port, 2017u);
	EXPECT_EQ(p[0].len, 256u);
	EXPECT_EQ(p[0].type, 1u);
	EXPECT_STREQ(reinterpret_cast<const char *>(p[0].payload.data()), "dsplog.bin");
	EXPECT_EQ(std::count(p[0].payload.begin(), p[0].payload.end(), 0), 256 - 10);
	const uint32_t lens[] = {4080, 4080, 1840};
	std::vector<uint8_t> joined;
	for (int i = 0; i < 3; i++) {
		EXPECT_EQ(p[1 + i].port, 2017u);
		EXPECT_EQ(p[1 + i].len, lens[i]);
		EXPECT_EQ(p[1 + i].type, 1u);
		EXPECT_EQ(p[1 + i].reserved, 0u);
		joined.insert(joined.end(), p[1 + i].payload.begin(), p[1 + i].payload.end());
	}
	EXPECT_EQ(joined, data);
	EXPECT_EQ(p[4].port, 2017u);
	EXPECT_EQ(p[4].len, 0u);
	EXPECT_EQ(p[4].type, 2u);
	EXPECT_EQ(p[4].reserved, 0u);
}

TEST_F(Usb, WritesNeedAnOpenFile)
{
	ASSERT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
	uint8_t b[4] = {};
	EXPECT_EQ(vors_transfer_write(2017, b, 4, VORS_TRANSFER_USB), -1);
	EXPECT_EQ(vors_transfer_flush(2017, VORS_TRANSFER_USB), -1);
	EXPECT_EQ(simsoc_gadget_output(nullptr, 0), 0u);
}

// A writer racing the close and tear-down on another thread either sends a
// whole packet or is refused; it never sends through a freed buffer.
TEST_F(Usb, WritesRacingTearDownAreWholeOrRefused)
{
	std::vector<uint8_t> data = pattern(100);
	for (int round = 0; round < 50; round++) {
		simsoc_gadget_reset();
		ASSERT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
		ASSERT_EQ(vors_transfer_open("race.bin", VORS_TRANSFER_USB, 2017), 2017);
		std::atomic<bool> go{false};
		int sent = 0;
		std::thread writer([&] {
			while (!go.load()) {
			}
			for (int i = 0; i < 20; i++)
				if (vors_transfer_write(2017, data.data(), 100, VORS_TRANSFER_USB) == 100)
					sent++;
		});
		go.store(true);
		EXPECT_EQ(vors_transfer_close(2017, VORS_TRANSFER_USB), 0);
		EXPECT_EQ(vors_transfer_deinit(VORS_TRANSFER_USB), 0);
		writer.join();
		// The name record, the writes that got in before the close, the close.
		std::vector<Packet> p = gadget_packets();
		ASSERT_EQ(p.size(), (size_t)sent + 2);
		EXPECT_EQ(p.back().type, 2u);
	}
}

TEST_F(Usb, FailedSetUpLeavesTheLayerUninitialised)
{
	struct Case {
		uint32_t signature, command, size;
		int init;
	} cases[] = {
	    {VORS_USB_CMD_SIGNATURE, 4, 4096, -1}, // wrong command
	    {VORS_USB_CMD_SIGNATURE, 5, 16, -1},   // no room for a payload
	    {VORS_USB_CMD_SIGNATURE, 5, 0, -1},
	    {0x12345678, 5, 64, 0}, // a wrong signature is only reported
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.size);
		simsoc_gadget_reset();
		simsoc_gadget_set_command(c.signature, c.command, c.size);
		EXPECT_EQ(vors_transfer_init(VORS_TRANSFER_USB), c.init);
		int h = vors_transfer_open("x", VORS_TRANSFER_USB, 2000);
		uint8_t b[100] = {};
		if (c.init < 0) {
			EXPECT_EQ(h, -1);
			EXPECT_EQ(vors_transfer_write(2000, b, 100, VORS_TRANSFER_USB), -1);
			EXPECT_EQ(simsoc_gadget_output(nullptr, 0), 0u);
		} else {
			EXPECT_EQ(h, 2000);
			EXPECT_EQ(vors_transfer_write(h, b, 100, VORS_TRANSFER_USB), 100);
			vors_transfer_close(h, VORS_TRANSFER_USB);
			// 256-byte name in 48-byte payloads, then 100 bytes: 6 + 3 packets and the close.
			EXPECT_EQ(gadget_packets().size(), 6u + 3u + 1u);
		}
		vors_transfer_deinit(VORS_TRANSFER_USB);
	}
	// A later set-up with a good command works.
	simsoc_gadget_reset();
	EXPECT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
}

TEST_F(Usb, MissingDeviceCanBeRetried)
{
	simsoc_inject_failure(VORS_USB_DEVICE, SIMSOC_OP_OPEN, ENOENT, 1);
	EXPECT_EQ(vors_transfer_init(VORS_TRANSFER_USB), -1);
	EXPECT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
}

TEST_F(Usb, FailedPayloadWriteIsReported)
{
	ASSERT_EQ(vors_transfer_init(VORS_TRANSFER_USB), 0);
	int h = vors_transfer_open("x", VORS_TRANSFER_USB, 2001);
	ASSERT_EQ(h, 2001);
	simsoc_inject_failure(VORS_USB_DEVICE, SIMSOC_OP_WRITE, EIO, 1);
	uint8_t b[10] = {};
	EXPECT_EQ(vors_transfer_write(h, b, 10, VORS_TRANSFER_USB), -1);
	vors_transfer_close(h, VORS_TRANSFER_USB);
}

TEST(Transfer, PortRangeForEveryMethod)
{
	for (int method : {0, 1, 2, 3, 4}) {
		for (int port : {1999, 2032, -1}) {
			SCOPED_TRACE(method * 10000 + port);
			EXPECT_EQ(vors_transfer_open("/tmp/never", method, port), -1);
		}
	}
	EXPECT_EQ(vors_transfer_open("x", VORS_TRANSFER_NONE, 2031), VORS_TRANSFER_NONE_HANDLE);
	EXPECT_EQ(vors_transfer_open("x", VORS_TRANSFER_STDOUT, 2000), 1);
	EXPECT_EQ(vors_transfer_open(nullptr, VORS_TRANSFER_NONE, 2000), -1);
	EXPECT_EQ(access("/tmp/never", F_OK), -1);
}

TEST(Transfer, InvalidMethodIsFatal)
{
	EXPECT_DEATH(vors_transfer_init(5), "");
	EXPECT_DEATH(vors_transfer_open("x", -1, 2017), "");
}

TEST(Transfer, FileIsTruncatedAndNotExecutable)
{
	char dir[] = "/tmp/datatx-XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string path = std::string(dir) + "/log.bin";
	mode_t old = umask(022);
	for (int round = 0; round < 2; round++) {
		int h = vors_transfer_open(path.c_str(), VORS_TRANSFER_FILE, 2017);
		ASSERT_GE(h, 0);
		std::vector<uint8_t> data = pattern(round == 0 ? 5000 : 300);
		EXPECT_EQ(vors_transfer_write(h, data.data(), (int)data.size(), VORS_TRANSFER_FILE),
		          (int)data.size());
		EXPECT_EQ(vors_transfer_flush(h, VORS_TRANSFER_FILE), 0);
		EXPECT_EQ(vors_transfer_close(h, VORS_TRANSFER_FILE), 0);
	}
	umask(old);
	struct stat st;
	ASSERT_EQ(stat(path.c_str(), &st), 0);
	EXPECT_EQ(st.st_size, 300);
	EXPECT_EQ(st.st_mode & 0777, 0644u);
	unlink(path.c_str());
	rmdir(dir);
}

// A device that takes at most 1000 bytes per write, and can fail after a while.
struct ShortWriter {
	std::vector<uint8_t> got;
};
ShortWriter short_writer;

ssize_t short_write(simsoc_file *, const void *buf, size_t len)
{
	size_t n = len < 1000 ? len : 1000;
	const uint8_t *p = static_cast<const uint8_t *>(buf);
	short_writer.got.insert(short_writer.got.end(), p, p + n);
	return (ssize_t)n;
}

TEST(Transfer, ShortWritesAreCompleted)
{
	simsoc_model_ops ops = {};
	ops.name = "short";
	ops.write = short_write;
	ASSERT_EQ(simsoc_register("/dev/short-writer", &ops, nullptr), 0);
	short_writer.got.clear();
	int h = vors_transfer_open("/dev/short-writer", VORS_TRANSFER_FILE, 2017);
	ASSERT_GE(h, 0);
	std::vector<uint8_t> data = pattern(10000);
	EXPECT_EQ(vors_transfer_write(h, data.data(), 10000, VORS_TRANSFER_FILE), 10000);
	EXPECT_EQ(short_writer.got, data);
	// An error part-way through is an error, not a short success.
	simsoc_inject_failure("/dev/short-writer", SIMSOC_OP_WRITE, ENOSPC, 1);
	EXPECT_EQ(vors_transfer_write(h, data.data(), 10000, VORS_TRANSFER_FILE), -1);
	vors_transfer_close(h, VORS_TRANSFER_FILE);
	simsoc_unregister("/dev/short-writer");
}

TEST(Transfer, TcpSendsTheNameRecordThenTheBytes)
{
	Receiver rx;
	ASSERT_TRUE(rx.listen());
	setenv("HOST_IP_ADDR", rx.address().c_str(), 1);
	int h = vors_transfer_open("capture.bin", VORS_TRANSFER_TCP, TESTS_TCP_PORT);
	ASSERT_GE(h, 0);
	std::vector<uint8_t> data = pattern(300000);
	EXPECT_EQ(vors_transfer_write(h, data.data(), (int)data.size(), VORS_TRANSFER_TCP), (int)data.size());
	EXPECT_EQ(vors_transfer_flush(h, VORS_TRANSFER_TCP), 0);
	EXPECT_EQ(vors_transfer_close(h, VORS_TRANSFER_TCP), 0);
	std::vector<uint8_t> got = rx.wait();
	ASSERT_EQ(got.size(), 256 + data.size());
	std::vector<uint8_t> name(256, 0);
	memcpy(name.data(), "capture.bin", 11);
	EXPECT_TRUE(std::equal(name.begin(), name.end(), got.begin()));
	EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin() + 256));
	unsetenv("HOST_IP_ADDR");
}

// The default receiver lies on the camera's private network, which this
// machine may not reach: a stand-in socket notes where the connection goes.
struct SocketSpy {
	sockaddr_in peer{};
	std::string sent;
};
SocketSpy spy;

int spy_connect(simsoc_file *, const struct sockaddr *addr, socklen_t len)
{
	memcpy(&spy.peer, addr, std::min<size_t>(len, sizeof spy.peer));
	return 0;
}

ssize_t spy_sendmsg(simsoc_file *, const struct msghdr *msg, int)
{
	spy.sent.append(static_cast<const char *>(msg->msg_iov[0].iov_base), msg->msg_iov[0].iov_len);
	return (ssize_t)msg->msg_iov[0].iov_len;
}

TEST(Transfer, TcpDefaultReceiver)
{
	simsoc_model_ops ops = {};
	ops.name = "tcp-spy";
	ops.connect = spy_connect;
	ops.sendmsg = spy_sendmsg;
	ASSERT_EQ(simsoc_register_socket(AF_INET, 0, &ops, nullptr), 0);
	unsetenv("HOST_IP_ADDR");
	int h = vors_transfer_open("dsplog.bin", VORS_TRANSFER_TCP, 2030);
	ASSERT_GE(h, 0);
	char addr[32];
	inet_ntop(AF_INET, &spy.peer.sin_addr, addr, sizeof addr);
	EXPECT_STREQ(addr, VORS_TRANSFER_DEFAULT_HOST);
	EXPECT_EQ(ntohs(spy.peer.sin_port), 2030);
	EXPECT_EQ(spy.sent, std::string("dsplog.bin") + std::string(246, '\0'));
	vors_transfer_close(h, VORS_TRANSFER_TCP);
	simsoc_unregister_socket(AF_INET, 0);
}

TEST(Transfer, TcpWithoutReceiverFails)
{
	std::string addr = Receiver::unique_address();
	setenv("HOST_IP_ADDR", addr.c_str(), 1);
	EXPECT_EQ(vors_transfer_open("capture.bin", VORS_TRANSFER_TCP, TESTS_TCP_PORT), -1);
	setenv("HOST_IP_ADDR", "not-an-address", 1);
	EXPECT_EQ(vors_transfer_open("capture.bin", VORS_TRANSFER_TCP, TESTS_TCP_PORT), -1);
	unsetenv("HOST_IP_ADDR");
}

} // namespace
