#include "private_bus.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef TESTS_DBUS_CONF
#error "TESTS_DBUS_CONF must name tests/dbus/system.conf"
#endif

namespace testsupport
{

namespace
{

std::string read_line(int fd)
{
	std::string line;
	char c;
	for (;;) {
		ssize_t n = read(fd, &c, 1);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0 || c == '\n')
			break;
		line += c;
	}
	return line;
}

void save_env(const char *name, std::string &value, bool &had)
{
	const char *v = getenv(name);
	had = v != nullptr;
	if (v)
		value = v;
}

void restore_env(const char *name, const std::string &value, bool had)
{
	if (had)
		setenv(name, value.c_str(), 1);
	else
		unsetenv(name);
}

} // namespace

PrivateBus::PrivateBus()
{
	int out[2];
	if (pipe2(out, O_CLOEXEC) < 0)
		throw std::runtime_error("pipe failed");
	pid_ = fork();
	if (pid_ < 0)
		throw std::runtime_error("fork failed");
	if (pid_ == 0) {
		// The bus must not outlive a test program that is killed.
		prctl(PR_SET_PDEATHSIG, SIGTERM);
		dup2(out[1], 1);
		execlp("dbus-daemon", "dbus-daemon", "--config-file=" TESTS_DBUS_CONF, "--nofork",
		       "--nopidfile", "--print-address=1", static_cast<char *>(nullptr));
		_exit(127);
	}
	close(out[1]);
	address_ = read_line(out[0]);
	close(out[0]);
	if (address_.empty()) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
		throw std::runtime_error("dbus-daemon did not start (is dbus-daemon installed?)");
	}
	save_env("DBUS_SYSTEM_BUS_ADDRESS", old_system_, had_system_);
	save_env("DBUS_SESSION_BUS_ADDRESS", old_session_, had_session_);
	setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
	setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus()
{
	restore_env("DBUS_SYSTEM_BUS_ADDRESS", old_system_, had_system_);
	restore_env("DBUS_SESSION_BUS_ADDRESS", old_session_, had_session_);
	if (pid_ > 0) {
		kill(pid_, SIGTERM);
		while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR)
			;
	}
}

void PrivateBusEnvironment::SetUp()
{
	bus_ = new PrivateBus();
}

void PrivateBusEnvironment::TearDown()
{
	delete bus_;
	bus_ = nullptr;
}

} // namespace testsupport
