// Installs the build into a temporary prefix and starts the daemons from
// there, with nothing of the build tree on their library path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace
{

std::string g_prefix;

int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

void write_file(const std::string &path, const std::string &text)
{
	std::string dir = path.substr(0, path.rfind('/'));
	for (size_t i = 1; i <= dir.size(); i++)
		if (i == dir.size() || dir[i] == '/')
			mkdir(dir.substr(0, i).c_str(), 0755);
	std::ofstream(path, std::ios::binary) << text;
}

// Waits for the child's exit; its exit status, -1 when it did not end in
// time or ended by a signal.
int reap(pid_t pid, int timeout_ms = 20000)
{
	int64_t end = now_ms() + timeout_ms;
	int status = 0;
	while (waitpid(pid, &status, WNOHANG) != pid) {
		if (now_ms() > end) {
			kill(pid, SIGKILL);
			waitpid(pid, &status, 0);
			return -1;
		}
		usleep(10000);
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads from fd until text appears, the writer is gone or the time is up.
bool read_until(int fd, std::string *out, const std::string &text, int timeout_ms = 20000)
{
	int64_t end = now_ms() + timeout_ms;
	while (out->find(text) == std::string::npos) {
		int left = (int)(end - now_ms());
		pollfd p = {fd, POLLIN, 0};
		if (left <= 0 || poll(&p, 1, left) <= 0)
			return false;
		char buf[4096];
		ssize_t n = read(fd, buf, sizeof buf);
		if (n <= 0)
			return false;
		for (ssize_t i = 0; i < n; i++)
			if (buf[i] != '\r') // a terminal ends lines with "\r\n"
				*out += buf[i];
	}
	return true;
}

// The child runs with the environment of the test minus anything that would
// find the build tree's libraries.
void exec_installed(const std::string &program)
{
	unsetenv("LD_LIBRARY_PATH");
	unsetenv("LD_PRELOAD");
	std::string asan =
	    std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") + ":detect_leaks=0";
	setenv("ASAN_OPTIONS", asan.c_str(), 1);
	execl(program.c_str(), program.c_str(), (char *)nullptr);
	_exit(127);
}

class Installed : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		char tmpl[] = "/tmp/camstack-install-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		g_prefix = tmpl;
		std::string cmd = std::string("'") + CMAKE_PROGRAM + "' --install '" + BUILD_TREE +
		                  "' --prefix '" + g_prefix + "' >/dev/null";
		ASSERT_EQ(0, system(cmd.c_str()));
	}
	static void TearDownTestSuite()
	{
		std::string cmd = "rm -rf '" + g_prefix + "'";
		(void)!system(cmd.c_str());
	}
	void SetUp() override
	{
		ASSERT_FALSE(g_prefix.empty());
		char tmpl[] = "/tmp/camstack-run-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		scratch_ = tmpl;
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf '" + scratch_ + "'";
		(void)!system(cmd.c_str());
	}
	std::string scratch_;
};

TEST_F(Installed, VistradRunsOnTheSimulatedSoc)
{
	std::string root = scratch_ + "/root";
	write_file(root + "/usr/lib/vistrad/vistrad.enc", "");
	write_file(root + "/usr/lib/vistrad/vistrad.yaml",
	           "PRODUCT_CONSTANTS:\n  product_constants:\n    channels: [0]\n    image_sources: 1\n");
	write_file(root + "/var/lib/keelstone/params", "HWID=1\n");
	int master = -1;
	// A terminal, so that the daemon writes its information level there.
	pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		setenv("SIMSOC_VIN_FRAMERATE", "100", 1);
		exec_installed(g_prefix + "/" SBINDIR "/vistrad");
	}
	std::string out;
	bool started = read_until(master, &out, "Starting vistrad\n");
	// Stopped only once it handles SIGTERM (its main loop's signal source).
	bool handles_term = false;
	for (int64_t end = now_ms() + 20000; started && !handles_term && now_ms() < end;) {
		std::ifstream in("/proc/" + std::to_string(pid) + "/status");
		std::string line;
		while (std::getline(in, line))
			if (line.rfind("SigCgt:", 0) == 0)
				handles_term =
				    std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1));
		if (!handles_term)
			read_until(master, &out, "\x01", 10); // keeps the terminal drained
	}
	EXPECT_TRUE(handles_term) << out;
	kill(pid, SIGTERM);
	read_until(master, &out, "Ending vistrad\n", 10000);
	EXPECT_EQ(0, reap(pid)) << out;
	close(master);
	EXPECT_TRUE(started) << out;
	EXPECT_NE(std::string::npos, out.find("Ending vistrad\n")) << out;
	EXPECT_EQ(std::string::npos, out.find("cannot open shared object file")) << out;
}

TEST_F(Installed, KalunStartsAndTellsTheServiceManager)
{
	std::string notify_path = scratch_ + "/notify";
	int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	ASSERT_GE(notify, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	snprintf(addr.sun_path, sizeof addr.sun_path, "%s", notify_path.c_str());
	ASSERT_EQ(0, bind(notify, (sockaddr *)&addr, sizeof addr));
	int err[2];
	ASSERT_EQ(0, pipe2(err, O_CLOEXEC));
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		dup2(err[1], 2);
		setenv("NOTIFY_SOCKET", notify_path.c_str(), 1);
		unsetenv("WATCHDOG_USEC");
		exec_installed(g_prefix + "/" BINDIR "/kalun");
	}
	close(err[1]);
	std::string note;
	bool ready = read_until(notify, &note, "READY=1");
	kill(pid, SIGTERM);
	int status = reap(pid);
	std::string errors;
	read_until(err[0], &errors, "\n", 100);
	close(err[0]);
	close(notify);
	EXPECT_TRUE(ready) << note << errors;
	EXPECT_EQ(0, status) << errors;
	EXPECT_EQ(std::string::npos, errors.find("cannot open shared object file")) << errors;
}

} // namespace
