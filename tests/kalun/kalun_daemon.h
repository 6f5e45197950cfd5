// The kalun program as a process of the tests on the private bus: its
// scratch directory, its environment, and what it notified, logged and
// printed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern char **environ;

namespace kalun::test
{

using namespace std::chrono_literals;

inline std::string readFile(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

inline bool eventually(const std::function<bool()> &predicate, std::chrono::milliseconds limit = 10s)
{
	const auto end = std::chrono::steady_clock::now() + limit;
	while (!predicate()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(5ms);
	}
	return true;
}

// A scratch directory with the daemon's notify socket, its syslog capture
// and its standard output and error.
class Scratch
{
      public:
	Scratch()
	{
		char name[] = "/tmp/kalun-service-test-XXXXXX";
		EXPECT_NE(mkdtemp(name), nullptr);
		dir_ = name;
		std::ofstream(path("lsan.supp")) << "leak:libtensorflow-lite.so\n";
	}
	~Scratch()
	{
		for (const char *file : {"notify", "syslog", "stdout", "stderr", "lsan.supp"})
			unlink(path(file).c_str());
		rmdir(dir_.c_str());
	}
	std::string path(const std::string &file) const
	{
		return dir_ + "/" + file;
	}

      private:
	std::string dir_;
};

// One kalun process. Its environment points sd_notify at a socket of the
// test and syslog at a file.
class Daemon
{
      public:
	struct Options {
		std::vector<std::string> args;
		std::string watchdogUsec; // empty: no watchdog
	};

	explicit Daemon(Options options = {})
	{
		notify_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		sockaddr_un address{};
		address.sun_family = AF_UNIX;
		std::strncpy(address.sun_path, scratch_.path("notify").c_str(), sizeof address.sun_path - 1);
		EXPECT_EQ(bind(notify_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
		start(options);
	}
	~Daemon()
	{
		if (pid_ > 0) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
		}
		close(notify_);
	}

	pid_t pid() const
	{
		return pid_;
	}

	// The next notification, "" after the time-out.
	std::string notification(std::chrono::milliseconds timeout = 10s)
	{
		pollfd entry{notify_, POLLIN, 0};
		if (poll(&entry, 1, static_cast<int>(timeout.count())) != 1)
			return "";
		char buffer[4096];
		const ssize_t n = recv(notify_, buffer, sizeof buffer, 0);
		return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
	}
	// Waits for READY=1; what came with it.
	std::string waitReady()
	{
		for (;;) {
			const std::string text = notification();
			if (text.empty() || text.find("READY=1") != std::string::npos)
				return text;
		}
	}

	// Waits for the process to end; its wait status.
	int wait(std::chrono::milliseconds limit = 20s)
	{
		int status = 0;
		const bool ended = eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
		EXPECT_TRUE(ended) << "kalun did not end";
		if (!ended)
			return -1;
		pid_ = -1;
		return status;
	}
	int stop(int signal = SIGTERM)
	{
		kill(pid_, signal);
		return wait();
	}

	std::string syslog() const
	{
		return readFile(scratch_.path("syslog"));
	}
	bool logged(const std::string &line) const
	{
		return eventually([&] { return syslog().find(line + "\n") != std::string::npos; }, 5s);
	}
	std::string out() const
	{
		return readFile(scratch_.path("stdout"));
	}
	std::string err() const
	{
		return readFile(scratch_.path("stderr"));
	}

      private:
	void start(const Options &options)
	{
		std::vector<std::string> env;
		for (char **e = environ; *e; ++e) {
			const std::string entry = *e;
			for (const char *drop : {"NOTIFY_SOCKET=", "WATCHDOG_USEC=", "WATCHDOG_PID=",
			                         "LD_PRELOAD=", "ASAN_OPTIONS=", "LSAN_OPTIONS="})
				if (entry.rfind(drop, 0) == 0)
					goto next;
			env.push_back(entry);
		next:;
		}
		const char *asan = getenv("ASAN_OPTIONS");
		env.push_back("NOTIFY_SOCKET=" + scratch_.path("notify"));
		if (!options.watchdogUsec.empty())
			env.push_back("WATCHDOG_USEC=" + options.watchdogUsec);
		env.push_back(std::string("LD_PRELOAD=") + KALUN_SYSLOG_CAPTURE);
		env.push_back("KALUN_TEST_SYSLOG=" + scratch_.path("syslog"));
		// The stand-in of syslog comes before the sanitizer's runtime.
		env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
		              "verify_asan_link_order=0");
		env.push_back("LSAN_OPTIONS=suppressions=" + scratch_.path("lsan.supp"));

		std::vector<std::string> args{KALUN_PROGRAM};
		args.insert(args.end(), options.args.begin(), options.args.end());
		std::vector<char *> argv;
		for (std::string &a : args)
			argv.push_back(a.data());
		argv.push_back(nullptr);
		std::vector<char *> envp;
		for (std::string &e : env)
			envp.push_back(e.data());
		envp.push_back(nullptr);
		const std::string outPath = scratch_.path("stdout");
		const std::string errPath = scratch_.path("stderr");

		pid_ = fork();
		if (pid_ == 0) {
			const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
			const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
			const int null = open("/dev/null", O_RDONLY);
			dup2(null, 0);
			dup2(out, 1);
			dup2(err, 2);
			execve(argv[0], argv.data(), envp.data());
			_exit(127);
		}
		ASSERT_GT(pid_, 0);
	}

	Scratch scratch_;
	int notify_ = -1;
	pid_t pid_ = -1;
};

inline int exitStatus(int status)
{
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kalun::test
