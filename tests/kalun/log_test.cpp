#include "kalun/log.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <iostream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;
using kalun::log::setConsoleOverride;
using kalun::log::setSyslogSink;

const char* kStamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})";

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setSyslogSink([this](int priority, const std::string& text) {
            logged.emplace_back(priority, text);
        });
        oldOut = std::cout.rdbuf(out.rdbuf());
        oldErr = std::cerr.rdbuf(err.rdbuf());
    }
    void TearDown() override {
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
        setSyslogSink(nullptr);
        setConsoleOverride(-1);
        kalun::log::syslogEnabled = true;
    }
    std::vector<std::pair<int, std::string>> logged;
    std::ostringstream out, err;
    std::streambuf* oldOut = nullptr;
    std::streambuf* oldErr = nullptr;
};

TEST(LogFormat, TimestampIsLocalTimeWithZeroPaddedMilliseconds) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2021-03-04T05:06:07 UTC
    const auto when = system_clock::time_point(seconds(1614834367) + milliseconds(5));
    EXPECT_EQ(kalun::log::formatTimestamp(when), "2021-03-04T05:06:07.005");
    EXPECT_EQ(kalun::log::formatTimestamp(when + milliseconds(84)), "2021-03-04T05:06:07.089");
    EXPECT_EQ(kalun::log::formatTimestamp(when + milliseconds(994) + microseconds(999)),
              "2021-03-04T05:06:07.999");
}

TEST(LogFormat, PrintWritesOneLineAndKeepsStreamState) {
    std::ostringstream s;
    s << std::hex;
    kalun::log::print("hello", s);
    s << 255;
    EXPECT_TRUE(std::regex_match(s.str(), std::regex(std::string(kStamp) + " hello\nff")))
        << s.str();
}

TEST_F(LogTest, ConsoleLinesCarryColourAndGoToTheRightStream) {
    setConsoleOverride(1);
    kalun::log::info("plain");
    kalun::log::warning("careful");
    kalun::log::error("broken");
    EXPECT_TRUE(std::regex_match(out.str(), std::regex(std::string(kStamp) + " plain\n")));
    const std::string expected = std::string(kStamp) +
                                 " \\x1b\\[1;33mWARNING: careful\\x1b\\[0m\n" + kStamp +
                                 " \\x1b\\[1;31mERROR: broken\\x1b\\[0m\n";
    EXPECT_TRUE(std::regex_match(err.str(), std::regex(expected))) << err.str();
    const std::vector<std::pair<int, std::string>> syslogged = {
        {LOG_INFO, "plain"}, {LOG_WARNING, "careful"}, {LOG_ERR, "broken"}};
    EXPECT_EQ(logged, syslogged);
}

TEST_F(LogTest, NoTerminalNoSyslogLogsNothing) {
    setConsoleOverride(0);
    kalun::log::syslogEnabled = false;
    kalun::log::info("a");
    kalun::log::warning("b");
    kalun::log::error("c");
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
    std::ostringstream shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&shared, t] {
            for (int i = 0; i < 200; ++i)
                kalun::log::print("thread " + std::to_string(t) + " line " + std::to_string(i),
                                  shared);
        });
    for (auto& th : threads)
        th.join();
    std::istringstream lines(shared.str());
    std::string line;
    int count = 0;
    const std::regex shape(std::string(kStamp) + " thread \\d line \\d+");
    while (std::getline(lines, line)) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
        ++count;
    }
    EXPECT_EQ(count, 8 * 200);
}

// Console output depends on whether stdout or stderr is a terminal; check
// the detection with a pseudo-terminal and with pipes in a child process.
int detectWith(bool terminal) {
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

TEST(LogConsole, EnabledOnlyWithATerminal) {
    EXPECT_EQ(detectWith(true), 1);
    EXPECT_EQ(detectWith(false), 0);
}

}  // namespace
