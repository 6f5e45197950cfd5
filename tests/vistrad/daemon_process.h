#pragma once
// The daemon as a process, in a temporary root on the simulated SoC. Its
// standard output is a terminal (a pseudo-terminal the test reads), so its
// information, warning and error levels are written there.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cc_firmware.h"
#include "product_yaml.h"

inline int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

inline void write_file(const std::string &path, const std::string &text)
{
	std::string dir = path.substr(0, path.rfind('/'));
	for (size_t i = 1; i <= dir.size(); i++)
		if (i == dir.size() || dir[i] == '/')
			mkdir(dir.substr(0, i).c_str(), 0755);
	std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

// One daemon process with its terminal. A thread reads the terminal all the
// time, as a system's log reader would: a daemon whose terminal is not read
// blocks in its next write once the terminal's buffer is full, and a test
// that is busy on the bus must not stop it that way.
class Daemon
{
      public:
	~Daemon()
	{
		if (pid_ > 0) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
		}
		stop_reader();
		if (master_ >= 0)
			close(master_);
	}

	void start(const char *program, const std::vector<std::string> &args,
	           const std::map<std::string, std::string> &env)
	{
		// The child only calls exec: the test's own threads (the bus
		// connection's, the terminal reader) may hold the allocator's lock at
		// the fork, so everything the child needs is made before it.
		std::vector<char *> argv{const_cast<char *>(program)};
		for (const auto &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		std::vector<std::string> vars;
		for (char **e = environ; *e; e++) {
			std::string var = *e;
			if (!env.count(var.substr(0, var.find('='))))
				vars.push_back(var);
		}
		for (const auto &e : env)
			vars.push_back(e.first + "=" + e.second);
		std::vector<char *> envp;
		for (auto &v : vars)
			envp.push_back(&v[0]);
		envp.push_back(nullptr);
		// A daemon started again gets a new terminal, read by a new reader.
		stop_reader();
		if (master_ >= 0)
			close(master_);
		master_ = -1;
		pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
		ASSERT_GE(pid_, 0);
		if (pid_ == 0) {
			execve(program, argv.data(), envp.data());
			_exit(127);
		}
		stopping_ = false;
		eof_ = false;
		reader_ = std::thread([this] { read_loop(); });
	}

	// Waits until the text appears or the time is up.
	bool wait_for(const std::string &text, int timeout_ms = 10000)
	{
		std::unique_lock<std::mutex> lock(mutex_);
		cv_.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms),
		               [&] { return out_.find(text) != std::string::npos || eof_; });
		return out_.find(text) != std::string::npos;
	}

	void signal(int sig)
	{
		kill(pid_, sig);
	}

	// Reads to the end and gives the exit status (-1 when it did not exit).
	int finish(int timeout_ms = 10000)
	{
		int64_t end = now_ms() + timeout_ms;
		{
			std::unique_lock<std::mutex> lock(mutex_);
			cv_.wait_until(
			    lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms),
			    [&] { return eof_; });
		}
		int status = 0;
		for (;;) {
			pid_t r = waitpid(pid_, &status, WNOHANG);
			if (r == pid_)
				break;
			if (now_ms() >= end)
				return -1;
			usleep(10000);
		}
		pid_ = -1;
		stop_reader();
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	int stop(int sig = SIGTERM)
	{
		signal(sig);
		return finish();
	}

	std::string output() const
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return out_;
	}

      private:
	void read_loop()
	{
		char buf[4096];
		while (!stopping_) {
			pollfd p = {master_, POLLIN, 0};
			int r = poll(&p, 1, 50);
			if (r <= 0)
				continue;
			ssize_t n = read(master_, buf, sizeof buf);
			if (n <= 0) {
				if (n < 0 && errno == EINTR)
					continue;
				break; // EIO once the terminal's last writer is gone
			}
			std::lock_guard<std::mutex> lock(mutex_);
			for (ssize_t i = 0; i < n; i++)
				if (buf[i] != '\r')
					out_ += buf[i];
			cv_.notify_all();
		}
		std::lock_guard<std::mutex> lock(mutex_);
		eof_ = true;
		cv_.notify_all();
	}

	void stop_reader()
	{
		stopping_ = true;
		if (reader_.joinable())
			reader_.join();
	}

	pid_t pid_ = -1;
	int master_ = -1;
	std::string out_;
	bool eof_ = false;
	std::atomic<bool> stopping_{false};
	mutable std::mutex mutex_;
	std::condition_variable cv_;
	std::thread reader_;
};

class DaemonProcess : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/vistrad-daemon-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		root = tmpl;
		// The camera library's prepare reads its colour correction here.
		ASSERT_TRUE(install_cc_firmware(root));
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf '" + root + "'";
		ASSERT_EQ(0, system(cmd.c_str()));
	}

	void configure(const std::string &yaml = product_yaml)
	{
		write_file(root + "/usr/lib/vistrad/vistrad.enc", "");
		write_file(root + "/usr/lib/vistrad/vistrad.yaml", yaml);
		write_file(root + "/var/lib/keelstone/params", "HWID=1\n");
	}
	void install_plugin()
	{
		write_file(root + "/etc/vistrad/libmoxel.so", read_file(MOXEL_DAEMON));
	}

	void start(const std::vector<std::string> &args = {}, std::map<std::string, std::string> env = {},
	           const char *program = VISTRAD_BIN)
	{
		env["VISTRAD_ROOT"] = root;
		env["SIMSOC_VIN_FRAMERATE"] = "100";
		// Without capture modes in the configuration the plug-in starts the
		// frame tick; a test with them says 0.
		env.emplace("MOXEL_START_TICK", "1");
		d->start(program, args, env);
	}

	// Position of a text in the output; npos fails the test.
	size_t at(const std::string &text)
	{
		size_t p = d->output().find(text);
		EXPECT_NE(std::string::npos, p) << "missing \"" << text << "\" in:\n" << d->output();
		return p;
	}

	std::string root;
	std::unique_ptr<Daemon> d = std::make_unique<Daemon>();
};
