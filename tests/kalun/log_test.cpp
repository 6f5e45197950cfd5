#include "kalun/log.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using namespace std::chrono;
using kalun::log::setConsoleOverride;
using kalun::log::setSyslogSink;

// "2021-03-04T05:06:07.089 " followed by the rest; false if the line does not
// start with such a time stamp.
bool splitStamp(const std::string &line, std::string &rest)
{
	const std::string shape = "dddd-dd-ddTdd:dd:dd.ddd ";
	if (line.size() < shape.size())
		return false;
	for (size_t i = 0; i < shape.size(); ++i) {
		const bool digit = line[i] >= '0' && line[i] <= '9';
		if (shape[i] == 'd' ? !digit : line[i] != shape[i])
			return false;
	}
	rest = line.substr(shape.size());
	return true;
}

// The lines of a console output, each with its time stamp removed.
std::vector<std::string> unstamped(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	std::string line, rest;
	while (std::getline(in, line)) {
		EXPECT_TRUE(splitStamp(line, rest)) << line;
		lines.push_back(rest);
	}
	return lines;
}

class LogTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		setSyslogSink(
		    [this](int priority, const std::string &text) { logged.emplace_back(priority, text); });
		oldOut = std::cout.rdbuf(out.rdbuf());
		oldErr = std::cerr.rdbuf(err.rdbuf());
	}
	void TearDown() override
	{
		std::cout.rdbuf(oldOut);
		std::cerr.rdbuf(oldErr);
		setSyslogSink(nullptr);
		setConsoleOverride(-1);
		kalun::log::syslogEnabled = true;
	}
	std::vector<std::pair<int, std::string>> logged;
	std::ostringstream out, err;
	std::streambuf *oldOut = nullptr;
	std::streambuf *oldErr = nullptr;
};

TEST(LogFormat, TimestampIsLocalTimeWithZeroPaddedMilliseconds)
{
	setenv("TZ", "UTC", 1);
	tzset();
	// 2021-03-04T05:06:07 UTC
	const auto when = system_clock::time_point(seconds(1614834367) + milliseconds(5));
	EXPECT_EQ(kalun::log::formatTimestamp(when), "2021-03-04T05:06:07.005");
	EXPECT_EQ(kalun::log::formatTimestamp(when + milliseconds(84)), "2021-03-04T05:06:07.089");
	EXPECT_EQ(kalun::log::formatTimestamp(when + milliseconds(994) + microseconds(999)),
	          "2021-03-04T05:06:07.999");
}

TEST(LogFormat, PrintWritesOneLineAndKeepsStreamState)
{
	std::ostringstream s;
	s << std::hex;
	kalun::log::print("hello", s);
	s << 255;
	std::string rest;
	ASSERT_TRUE(splitStamp(s.str(), rest)) << s.str();
	EXPECT_EQ(rest, "hello\nff");
}

TEST_F(LogTest, ConsoleLinesCarryColourAndGoToTheRightStream)
{
	setConsoleOverride(1);
	kalun::log::info("plain");
	kalun::log::warning("careful");
	kalun::log::error("broken");
	EXPECT_EQ(unstamped(out.str()), std::vector<std::string>{"plain"});
	EXPECT_EQ(unstamped(err.str()), (std::vector<std::string>{"\x1b[1;33mWARNING: careful\x1b[0m",
	                                                          "\x1b[1;31mERROR: broken\x1b[0m"}));
	EXPECT_EQ(out.str().back(), '\n');
	EXPECT_EQ(err.str().back(), '\n');
	const std::vector<std::pair<int, std::string>> syslogged = {
	    {LOG_INFO, "plain"}, {LOG_WARNING, "careful"}, {LOG_ERR, "broken"}};
	EXPECT_EQ(logged, syslogged);
}

TEST_F(LogTest, NoTerminalNoSyslogLogsNothing)
{
	setConsoleOverride(0);
	kalun::log::syslogEnabled = false;
	kalun::log::info("a");
	kalun::log::warning("b");
	kalun::log::error("c");
	EXPECT_TRUE(logged.empty());
	EXPECT_EQ(out.str(), "");
	EXPECT_EQ(err.str(), "");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave)
{
	std::ostringstream shared;
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; ++t)
		threads.emplace_back([&shared, t] {
			for (int i = 0; i < 200; ++i)
				kalun::log::print(
				    "thread " + std::to_string(t) + " line " + std::to_string(i), shared);
		});
	for (auto &th : threads)
		th.join();
	std::vector<int> next(8, 0);
	const auto lines = unstamped(shared.str());
	ASSERT_EQ(lines.size(), 8u * 200);
	for (const auto &line : lines) {
		int t = -1, i = -1;
		ASSERT_EQ(sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
		ASSERT_TRUE(t >= 0 && t < 8);
		// Each thread's lines are whole and in its own order.
		EXPECT_EQ(i, next[t]++);
		EXPECT_EQ(line, "thread " + std::to_string(t) + " line " + std::to_string(i));
	}
}

// Console output depends on whether stdout or stderr is a terminal; check
// the detection with a pseudo-terminal and with pipes in a child process.
int detectWith(bool terminal)
{
	const pid_t pid = fork();
	if (pid == 0) {
		int fd;
		if (terminal) {
			const int master = posix_openpt(O_RDWR | O_NOCTTY);
			if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
				_exit(3);
			fd = open(ptsname(master), O_RDWR | O_NOCTTY);
		} else {
			int p[2];
			if (pipe(p) != 0)
				_exit(3);
			fd = p[1];
		}
		if (fd < 0)
			_exit(3);
		dup2(fd, STDERR_FILENO);
		const int devnull = open("/dev/null", O_WRONLY);
		dup2(devnull, STDOUT_FILENO);
		_exit(kalun::log::detectConsole() ? 1 : 0);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LogConsole, EnabledOnlyWithATerminal)
{
	EXPECT_EQ(detectWith(true), 1);
	EXPECT_EQ(detectWith(false), 0);
}

} // namespace
