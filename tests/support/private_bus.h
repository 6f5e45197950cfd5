// A private D-Bus bus daemon for tests: it stands in for the system bus.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

namespace testsupport
{

// Starts dbus-daemon with tests/dbus/system.conf and points
// DBUS_SYSTEM_BUS_ADDRESS (and DBUS_SESSION_BUS_ADDRESS) at it, so both GDBus
// and sd-bus connect there. The daemon is killed when the object goes.
class PrivateBus
{
      public:
	PrivateBus();
	~PrivateBus();
	PrivateBus(const PrivateBus &) = delete;
	PrivateBus &operator=(const PrivateBus &) = delete;

	const std::string &address() const
	{
		return address_;
	}
	pid_t pid() const
	{
		return pid_;
	}

      private:
	std::string address_;
	std::string old_system_;
	std::string old_session_;
	bool had_system_ = false;
	bool had_session_ = false;
	pid_t pid_ = -1;
};

// One private bus for the whole test program.
class PrivateBusEnvironment : public ::testing::Environment
{
      public:
	void SetUp() override;
	void TearDown() override;
	const PrivateBus *bus() const
	{
		return bus_;
	}

      private:
	PrivateBus *bus_ = nullptr;
};

} // namespace testsupport
