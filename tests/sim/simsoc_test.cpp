#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/netlink.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "simsoc.h"
#include "testmodel.h"

namespace
{

std::string log_text()
{
	char *s = simsoc_log_dump();
	std::string r(s ? s : "");
	free(s);
	return r;
}

// A real file holding text; the caller unlinks it.
std::string real_file(const char *text)
{
	char path[] = "/tmp/simsoc-test-XXXXXX";
	int fd = mkstemp(path);
	EXPECT_GE(fd, 0);
	EXPECT_EQ(write(fd, text, strlen(text)), (ssize_t)strlen(text));
	close(fd);
	return path;
}

class SimSoc : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(testmodel_registered(), 1);
		simsoc_log_clear();
		simsoc_clear_failures();
		base_files_ = simsoc_open_files();
	}
	void TearDown() override
	{
		EXPECT_EQ(simsoc_open_files(), base_files_);
	}
	int base_files_ = 0;
};

TEST_F(SimSoc, CallsReachTheModel)
{
	int fd = open(TESTMODEL_PATH, O_RDWR | O_CLOEXEC);
	ASSERT_GE(fd, 0);
	uint32_t v = 7, got = 0;
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_SET, &v), 0);
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_GET, &got), 0);
	EXPECT_EQ(got, 7u);
	char buf[64] = {};
	EXPECT_EQ(read(fd, buf, sizeof buf), 15);
	EXPECT_STREQ(buf, "unit=0 value=7\n");
	EXPECT_EQ(read(fd, buf, sizeof buf), 0);
	EXPECT_EQ(write(fd, "abc", 3), 3);
	EXPECT_EQ(ioctl(fd, _IO('S', 99)), -1);
	EXPECT_EQ(errno, ENOTTY);
	EXPECT_EQ(close(fd), 0);
	EXPECT_EQ(log_text(), "open /dev/simtest unit 0\n"
	                      "ioctl /dev/simtest set 7\n"
	                      "write /dev/simtest abc\n"
	                      "release /dev/simtest\n");
}

TEST_F(SimSoc, PatternsGiveTheUnit)
{
	struct Case {
		const char *path;
		bool simulated;
		int unit;
	} cases[] = {
	    {"/proc/simtest/unit0", true, 0},   {"/proc/simtest/unit12", true, 12},
	    {"/proc/simtest/unit", false, 0},   {"/proc/simtest/unit1x", false, 0},
	    {"/proc/simtest/unit-1", false, 0}, {"/dev/simtest0", false, 0},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.path);
		EXPECT_EQ(simsoc_is_simulated(c.path), c.simulated ? 1 : 0);
		if (!c.simulated)
			continue;
		FILE *fp = fopen(c.path, "r");
		ASSERT_NE(fp, nullptr);
		char buf[64] = {};
		ASSERT_NE(fgets(buf, sizeof buf, fp), nullptr);
		EXPECT_EQ(std::string(buf), "unit=" + std::to_string(c.unit) + " value=0\n");
		EXPECT_EQ(fclose(fp), 0);
	}
}

TEST_F(SimSoc, OtherPathsReachTheFileSystem)
{
	char path[] = "/tmp/simsoc-test-XXXXXX";
	int tmp = mkstemp(path);
	ASSERT_GE(tmp, 0);
	ASSERT_EQ(write(tmp, "data", 4), 4);
	close(tmp);
	int fd = open(path, O_RDONLY);
	ASSERT_GE(fd, 0);
	char buf[8] = {};
	EXPECT_EQ(read(fd, buf, sizeof buf), 4);
	EXPECT_STREQ(buf, "data");
	close(fd);
	struct stat st;
	ASSERT_EQ(stat(path, &st), 0);
	EXPECT_TRUE(S_ISREG(st.st_mode));
	EXPECT_EQ(st.st_size, 4);
	unlink(path);
	EXPECT_EQ(open("/dev/simtest-none", O_RDONLY), -1);
	EXPECT_EQ(errno, ENOENT);
	EXPECT_EQ(log_text(), "");
}

TEST_F(SimSoc, DeviceExistsForStatAndAccess)
{
	struct stat st;
	ASSERT_EQ(stat(TESTMODEL_PATH, &st), 0);
	EXPECT_TRUE(S_ISCHR(st.st_mode));
	EXPECT_EQ(access(TESTMODEL_PATH, R_OK | W_OK), 0);
	int fd = open(TESTMODEL_PATH, O_RDONLY);
	ASSERT_EQ(fstat(fd, &st), 0);
	EXPECT_TRUE(S_ISCHR(st.st_mode));
	close(fd);
}

TEST_F(SimSoc, DescriptorsSurviveDupAndAreFreedOnClose)
{
	int fd = open(TESTMODEL_PATH, O_RDWR);
	ASSERT_GE(fd, 0);
	uint32_t v = 5, got = 0;
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_SET, &v), 0);
	int d1 = dup(fd);
	int d2 = fcntl(fd, F_DUPFD_CLOEXEC, 100);
	int d3 = dup2(fd, 120);
	ASSERT_GE(d1, 0);
	ASSERT_GE(d2, 100);
	ASSERT_EQ(d3, 120);
	EXPECT_EQ(simsoc_open_files(), base_files_ + 1);
	close(fd);
	for (int d : {d1, d2, d3}) {
		got = 0;
		EXPECT_EQ(ioctl(d, TESTMODEL_IOC_GET, &got), 0);
		EXPECT_EQ(got, 5u);
	}
	close(d1);
	close(d2);
	EXPECT_EQ(log_text().find("release"), std::string::npos);
	close(d3);
	EXPECT_NE(log_text().find("release /dev/simtest"), std::string::npos);
	EXPECT_EQ(simsoc_open_files(), base_files_);
	// The numbers are plain descriptors again once closed.
	EXPECT_EQ(ioctl(d3, TESTMODEL_IOC_GET, &got), -1);
	EXPECT_EQ(errno, EBADF);
}

TEST_F(SimSoc, Dup2OverAModelDescriptorDropsIt)
{
	int fd = open(TESTMODEL_PATH, O_RDWR);
	int null = open("/dev/null", O_RDWR);
	ASSERT_EQ(dup2(null, fd), fd);
	uint32_t got;
	EXPECT_EQ(ioctl(fd, TESTMODEL_IOC_GET, &got), -1);
	EXPECT_NE(log_text().find("release /dev/simtest"), std::string::npos);
	EXPECT_EQ(write(fd, "x", 1), 1);
	close(fd);
	close(null);
}

// The frame sees only the closes it intercepts; a number freed behind its
// back and handed out again must reach what now lies behind it.
TEST_F(SimSoc, NumbersFreedBehindTheFramesBackAreNotTheModels)
{
	std::string path = real_file("real");

	struct Case {
		const char *name;
		void (*close_behind)(int fd);
		bool pipe; // reuse the number for a pipe, else for the file
	} cases[] = {
	    {"fdopen and fclose, then a pipe", [](int fd) { fclose(fdopen(fd, "r")); }, true},
	    {"raw close system call, then a file", [](int fd) { syscall(SYS_close, fd); }, false},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		int fd = open(TESTMODEL_PATH, O_RDWR);
		ASSERT_GE(fd, 0);
		c.close_behind(fd);
		int reused, other = -1;
		if (c.pipe) {
			int p[2];
			ASSERT_EQ(pipe(p), 0);
			reused = p[0];
			other = p[1];
			ASSERT_EQ(write(other, "pipe", 4), 4);
		} else {
			reused = open(path.c_str(), O_RDONLY);
		}
		ASSERT_EQ(reused, fd) << "the kernel gave another number";
		char buf[16] = {};
		EXPECT_EQ(read(reused, buf, sizeof buf), 4);
		EXPECT_STREQ(buf, c.pipe ? "pipe" : "real");
		uint32_t got;
		EXPECT_EQ(ioctl(reused, TESTMODEL_IOC_GET, &got), -1);
		EXPECT_EQ(simsoc_open_files(), base_files_);
		close(reused);
		if (other >= 0)
			close(other);
	}
	unlink(path.c_str());
}

TEST_F(SimSoc, CloseRangeForgetsTheModels)
{
	int a = open(TESTMODEL_PATH, O_RDWR);
	int b = dup(a);
	ASSERT_GE(b, 0);
	int lo = std::min(a, b), hi = std::max(a, b);
	// Marking close-on-exec closes nothing.
	ASSERT_EQ(close_range(lo, hi, CLOSE_RANGE_CLOEXEC), 0);
	uint32_t got;
	EXPECT_EQ(ioctl(b, TESTMODEL_IOC_GET, &got), 0);
	ASSERT_EQ(close_range(lo, hi, 0), 0);
	EXPECT_EQ(simsoc_open_files(), base_files_);
	EXPECT_NE(log_text().find("release /dev/simtest"), std::string::npos);
}

TEST_F(SimSoc, PositionalAndVectoredCallsReachTheModel)
{
	int fd = open(TESTMODEL_PATH, O_RDWR);
	uint32_t v = 42;
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_SET, &v), 0);
	char buf[64] = {};
	// "unit=0 value=42\n"
	EXPECT_EQ(pread(fd, buf, 5, 7), 5);
	EXPECT_EQ(std::string(buf, 5), "value");
	EXPECT_EQ(lseek(fd, 7, SEEK_SET), 7);
	memset(buf, 0, sizeof buf);
	EXPECT_EQ(read(fd, buf, sizeof buf), 9);
	EXPECT_STREQ(buf, "value=42\n");
	// A model without pwrite has no position to honour.
	EXPECT_EQ(pwrite(fd, "x", 1, 0), -1);
	EXPECT_EQ(errno, ESPIPE);

	// readv fills segment by segment and stops at the short one.
	EXPECT_EQ(lseek(fd, 0, SEEK_SET), 0);
	char a[5] = {}, b[32] = {}, c[8] = {'-'};
	struct iovec in[] = {{a, sizeof a}, {b, sizeof b}, {c, sizeof c}};
	EXPECT_EQ(readv(fd, in, 3), 16);
	EXPECT_EQ(std::string(a, 5), "unit=");
	EXPECT_STREQ(b, "0 value=42\n");
	EXPECT_EQ(c[0], '-');
	struct iovec out[] = {{(void *)"ab", 2}, {(void *)"", 0}, {(void *)"cd", 2}};
	EXPECT_EQ(writev(fd, out, 3), 4);
	EXPECT_NE(log_text().find("write /dev/simtest ab\nwrite /dev/simtest cd\n"), std::string::npos);

	simsoc_inject_failure(TESTMODEL_PATH, SIMSOC_OP_READ, EIO, 1);
	EXPECT_EQ(pread(fd, buf, 4, 0), -1);
	EXPECT_EQ(errno, EIO);
	close(fd);
}

std::map<std::string, unsigned char> list_dir(const char *path)
{
	std::map<std::string, unsigned char> out;
	DIR *d = opendir(path);
	if (!d)
		return out;
	while (struct dirent *e = readdir(d))
		out[e->d_name] = e->d_type;
	EXPECT_EQ(closedir(d), 0);
	return out;
}

TEST_F(SimSoc, DirectoriesAboveTheModelsList)
{
	// Only models: the pattern's units, as the model reports them.
	auto units = list_dir("/proc/simtest/");
	EXPECT_EQ(units, (std::map<std::string, unsigned char>{
	                     {".", DT_DIR}, {"..", DT_DIR}, {"unit3", DT_CHR}, {"unit7", DT_CHR}}));
	struct stat st;
	ASSERT_EQ(stat("/proc/simtest", &st), 0);
	EXPECT_TRUE(S_ISDIR(st.st_mode));
	EXPECT_EQ(access("/proc/simtest", R_OK), 0);

	// A directory that exists here keeps its own entries beside the models'.
	auto procs = list_dir("/proc");
	EXPECT_EQ(procs["simtest"], DT_DIR);
	EXPECT_EQ(procs.count("self"), 1u);
	auto devs = list_dir("/dev");
	EXPECT_EQ(devs["simtest"], DT_CHR);
	EXPECT_EQ(devs.count("null"), 1u);

	// rewinddir starts the listing again.
	DIR *d = opendir("/proc/simtest");
	ASSERT_NE(d, nullptr);
	int n = 0;
	while (readdir(d))
		n++;
	rewinddir(d);
	EXPECT_NE(readdir(d), nullptr);
	EXPECT_EQ(n, 4);
	closedir(d);

	// Nothing else changes.
	EXPECT_EQ(opendir("/proc/simtest/unit3/none"), nullptr);
	EXPECT_EQ(stat("/proc/simtestx", &st), -1);
	EXPECT_EQ(errno, ENOENT);
}

TEST_F(SimSoc, MapsHonourOffsetsAndFixedAddresses)
{
	int fd = open(TESTMODEL_PATH, O_RDWR);
	uint32_t v = 0x1234, phys = 0;
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_SET, &v), 0);
	auto *whole = static_cast<uint8_t *>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
	ASSERT_NE(whole, MAP_FAILED);
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_PHYS, &phys), 0);
	auto *second =
	    static_cast<uint8_t *>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 4096));
	ASSERT_NE(second, MAP_FAILED);
	second[0] = 0x5a;
	EXPECT_EQ(whole[4096], 0x5a);
	EXPECT_EQ(simsoc_mem_phys(second), phys + 4096);
	EXPECT_EQ(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 4096), MAP_FAILED);

	// Where the caller fixes the address, the same pages appear there.
	auto *spot =
	    static_cast<uint8_t *>(mmap(nullptr, 8192, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
	ASSERT_NE(spot, MAP_FAILED);
	void *fixed = mmap(spot + 4096, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
	ASSERT_EQ(fixed, spot + 4096);
	EXPECT_EQ(*static_cast<uint32_t *>(fixed), v);
	static_cast<uint8_t *>(fixed)[8] = 0x77;
	EXPECT_EQ(whole[8], 0x77);
	close(fd);
	EXPECT_EQ(munmap(fixed, 4096), 0);
	EXPECT_EQ(munmap(second, 4096), 0);
	EXPECT_EQ(munmap(whole, 8192), 0);
	munmap(spot, 8192);
	EXPECT_NE(
	    log_text().find("munmap /dev/simtest 4096\nmunmap /dev/simtest 4096\nmunmap /dev/simtest 8192\n"
	                    "release /dev/simtest\n"),
	    std::string::npos);
}

// Device memory is as large as each model asks, not a share of one arena.
TEST_F(SimSoc, DeviceMemorySizedByTheModel)
{
	const size_t big = 300u << 20;
	uint32_t pa = 0, pb = 0;
	auto *a = static_cast<uint8_t *>(simsoc_mem_alloc(big, &pa));
	ASSERT_NE(a, nullptr);
	auto *b = static_cast<uint8_t *>(simsoc_mem_alloc(4096, &pb));
	ASSERT_NE(b, nullptr);
	EXPECT_LT((uintptr_t)a + big, 1ull << 32);
	EXPECT_TRUE(pb >= pa + big || pb + 4096 <= pa);
	a[big - 1] = 9;
	EXPECT_EQ(simsoc_mem_virt(pa + (uint32_t)big - 1), a + big - 1);
	EXPECT_EQ(simsoc_mem_phys(a + big - 1), pa + (uint32_t)big - 1);
	EXPECT_EQ(*static_cast<uint8_t *>(simsoc_mem_virt(pa + (uint32_t)big - 1)), 9);
	simsoc_mem_free(a);
	EXPECT_EQ(simsoc_mem_virt(pa), nullptr);
	EXPECT_EQ(simsoc_mem_phys(b), pb);
	simsoc_mem_free(b);
	EXPECT_EQ(simsoc_mem_alloc(0, &pa), nullptr);
}

TEST_F(SimSoc, MapsLieBelow4GiBWithPhysicalAddresses)
{
	int fd = open(TESTMODEL_PATH, O_RDWR);
	uint32_t v = 0xA5A5F00D, phys = 0;
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_SET, &v), 0);
	void *p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	ASSERT_NE(p, MAP_FAILED);
	EXPECT_LT((uintptr_t)p, 1ull << 32);
	EXPECT_EQ(*static_cast<uint32_t *>(p), v);
	ASSERT_EQ(ioctl(fd, TESTMODEL_IOC_PHYS, &phys), 0);
	EXPECT_GE(phys, SIMSOC_PHYS_BASE);
	EXPECT_EQ(simsoc_mem_phys(p), phys);
	EXPECT_EQ(simsoc_mem_virt(phys), p);
	// The map keeps the file alive after its descriptor is closed.
	close(fd);
	EXPECT_EQ(log_text().find("release"), std::string::npos);
	EXPECT_EQ(munmap(p, 4096), 0);
	EXPECT_NE(log_text().find("munmap /dev/simtest 4096\nrelease /dev/simtest\n"), std::string::npos);
	// Memory handed out again comes back zeroed.
	uint32_t ph2;
	void *q = simsoc_mem_alloc(100, &ph2);
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(ph2 % 4096, 0u);
	EXPECT_EQ(*static_cast<uint32_t *>(q), 0u);
	simsoc_mem_free(q);
	EXPECT_EQ(simsoc_mem_phys(&ph2), 0u);
}

TEST_F(SimSoc, PollFollowsTheModel)
{
	int fd = open(TESTMODEL_PATH, O_RDWR | O_NONBLOCK);
	struct pollfd pfd = {fd, POLLIN, 0};
	EXPECT_EQ(poll(&pfd, 1, 0), 0);
	std::thread t([fd] {
		uint32_t v = 1;
		ioctl(fd, TESTMODEL_IOC_SET, &v);
	});
	EXPECT_EQ(poll(&pfd, 1, 5000), 1);
	t.join();
	close(fd);
}

TEST_F(SimSoc, InjectedFailures)
{
	simsoc_inject_failure(TESTMODEL_PATH, SIMSOC_OP_OPEN, ENODEV, 1);
	EXPECT_EQ(open(TESTMODEL_PATH, O_RDWR), -1);
	EXPECT_EQ(errno, ENODEV);
	int fd = open(TESTMODEL_PATH, O_RDWR);
	ASSERT_GE(fd, 0);
	simsoc_inject_failure(TESTMODEL_PATH, SIMSOC_OP_IOCTL, EIO, 2);
	simsoc_inject_failure(TESTMODEL_PATH, SIMSOC_OP_READ, EAGAIN, 1);
	uint32_t got;
	EXPECT_EQ(ioctl(fd, TESTMODEL_IOC_GET, &got), -1);
	EXPECT_EQ(errno, EIO);
	EXPECT_EQ(ioctl(fd, TESTMODEL_IOC_GET, &got), -1);
	EXPECT_EQ(ioctl(fd, TESTMODEL_IOC_GET, &got), 0);
	char c;
	EXPECT_EQ(read(fd, &c, 1), -1);
	EXPECT_EQ(errno, EAGAIN);
	EXPECT_EQ(read(fd, &c, 1), 1);
	close(fd);
}

// A socket model with a socketpair backing: what the program sends arrives
// at the model, and the model's peer end answers through the real kernel.
struct EchoSocket {
	int peer = -1;
};

int echo_open(simsoc_file *f)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) < 0)
		return -errno;
	f->backing_fd = sv[0];
	static_cast<EchoSocket *>(f->model)->peer = sv[1];
	return 0;
}

void echo_release(simsoc_file *f)
{
	close(static_cast<EchoSocket *>(f->model)->peer);
}

ssize_t echo_sendmsg(simsoc_file *f, const struct msghdr *msg, int)
{
	const auto *nl = static_cast<const struct sockaddr_nl *>(msg->msg_name);
	simsoc_log("netlink to pid %u: %.*s", nl ? nl->nl_pid : 99, (int)msg->msg_iov[0].iov_len,
	           static_cast<const char *>(msg->msg_iov[0].iov_base));
	return send(static_cast<EchoSocket *>(f->model)->peer, msg->msg_iov[0].iov_base,
	            msg->msg_iov[0].iov_len, 0);
}

TEST_F(SimSoc, SocketsByProtocol)
{
	static EchoSocket echo;
	simsoc_model_ops ops = {};
	ops.name = "echo";
	ops.open = echo_open;
	ops.release = echo_release;
	ops.sendmsg = echo_sendmsg;
	ASSERT_EQ(simsoc_register_socket(AF_NETLINK, 24, &ops, &echo), 0);
	int fd = socket(AF_NETLINK, SOCK_RAW, 24);
	ASSERT_GE(fd, 0);
	struct sockaddr_nl me = {};
	me.nl_family = AF_NETLINK;
	EXPECT_EQ(bind(fd, (struct sockaddr *)&me, sizeof me), 0);
	struct sockaddr_nl kernel = {};
	kernel.nl_family = AF_NETLINK;
	EXPECT_EQ(sendto(fd, "ping", 4, 0, (struct sockaddr *)&kernel, sizeof kernel), 4);
	char buf[8] = {};
	EXPECT_EQ(recv(fd, buf, sizeof buf, 0), 4);
	EXPECT_STREQ(buf, "ping");
	close(fd);
	EXPECT_EQ(log_text(), "netlink to pid 0: ping\n");
	simsoc_unregister_socket(AF_NETLINK, 24);
	// Other protocols stay real.
	int real = socket(AF_UNIX, SOCK_DGRAM, 0);
	EXPECT_GE(real, 0);
	close(real);
}

TEST_F(SimSoc, ConcurrentOpenAndClose)
{
	std::vector<std::thread> threads;
	int wrong[4] = {};
	for (int t = 0; t < 4; t++) {
		threads.emplace_back([t, &wrong] {
			for (uint32_t i = 0; i < 500; i++) {
				int fd = open(TESTMODEL_PATH, O_RDWR);
				int d = dup(fd);
				uint32_t set = (uint32_t)t << 16 | i, got = ~0u;
				// Each thread sees only its own file's value.
				if (ioctl(fd, TESTMODEL_IOC_SET, &set) != 0 ||
				    ioctl(d, TESTMODEL_IOC_GET, &got) != 0 || got != set)
					wrong[t]++;
				close(fd);
				close(d);
			}
		});
	}
	for (auto &t : threads)
		t.join();
	for (int t = 0; t < 4; t++)
		EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST(SimSocPreload, WorksInAProgramThatDoesNotLinkIt)
{
	char path[] = "/tmp/simsoc-probe-XXXXXX";
	int tmp = mkstemp(path);
	ASSERT_EQ(write(tmp, "real\n", 5), 5);
	close(tmp);
	std::string logpath = std::string(path) + ".log";
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		std::string preload = std::string(SIMSOC_LIB) + " " + TESTMODEL_LIB;
		setenv("LD_PRELOAD", preload.c_str(), 1);
		setenv("SIMSOC_LOG", logpath.c_str(), 1);
		// In sanitizer builds the preloaded library comes before the runtime.
		std::string asan = std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") +
		                   ":verify_asan_link_order=0";
		setenv("ASAN_OPTIONS", asan.c_str(), 1);
		execl(PRELOAD_PROBE, PRELOAD_PROBE, path, (char *)nullptr);
		_exit(127);
	}
	int status = 0;
	ASSERT_EQ(waitpid(pid, &status, 0), pid);
	EXPECT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
	std::ifstream in(logpath);
	std::stringstream ss;
	ss << in.rdbuf();
	EXPECT_EQ(ss.str(), "open /dev/simtest unit 0\n"
	                    "ioctl /dev/simtest set 42\n"
	                    "write /dev/simtest hello\n"
	                    "mmap /dev/simtest 4096\n"
	                    "munmap /dev/simtest 4096\n"
	                    "release /dev/simtest\n"
	                    "open /proc/simtest/unit7 unit 7\n"
	                    "release /proc/simtest/unit7\n");
	unlink(path);
	unlink(logpath.c_str());
}

} // namespace
