#pragma once
// Starts and stops the stand-in power-control service on the test's private
// bus and steers it. Steering goes to the process's unique name, which stays
// while the service's name is released and taken again.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stand_in_process.h"

class PowerService
{
      public:
	void start()
	{
		const char *argv[] = {POWERCONTROL_SIM, nullptr};
		process_.start(argv);
		GVariant *reply =
		    bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
		             "GetNameOwner", g_variant_new("(s)", "com.tovi.PowerControl.Consumer"));
		ASSERT_NE(nullptr, reply);
		const char *owner = nullptr;
		g_variant_get(reply, "(&s)", &owner);
		unique_ = owner;
		g_variant_unref(reply);
	}

	void stop()
	{
		process_.stop();
	}

	void call(const char *method, GVariant *args = nullptr)
	{
		GVariant *reply =
		    bus_call(unique_.c_str(), "/sim/PowerControl", "sim.PowerControl.Control", method, args);
		if (reply)
			g_variant_unref(reply);
	}

	void set_mode(const char *mode, double watts = 0.0)
	{
		call("SetMode", g_variant_new("(sd)", mode, watts));
	}
	void answer_pending(double watts = -1.0)
	{
		call("AnswerPending", g_variant_new("(d)", watts));
	}

	// Each call the service got, in order: "Method (arguments)".
	std::vector<std::string> calls()
	{
		std::vector<std::string> out;
		GVariant *reply = bus_call(unique_.c_str(), "/sim/PowerControl", "sim.PowerControl.Control",
		                           "GetCalls", nullptr);
		if (!reply)
			return out;
		GVariantIter *iter = nullptr;
		const char *method, *args;
		g_variant_get(reply, "(a(ss))", &iter);
		while (g_variant_iter_next(iter, "(&s&s)", &method, &args))
			out.push_back(std::string(method) + " " + args);
		g_variant_iter_free(iter);
		g_variant_unref(reply);
		return out;
	}

      private:
	StandInProcess process_;
	std::string unique_;
};

// What the daemon's registration of a consumer looks like at the service.
inline std::string register_call(const std::string &name)
{
	return "Register ('" + name +
	       "', false, 'com.tovi.ImageControl', '/com/tovi/ImageControl', 'com.tovi.ImageControl.Power')";
}

// What the daemon's request for a consumer looks like at the service.
inline std::string request_call(const std::string &name, const char *mode, const char *watts)
{
	return "RequestPower ('" + name + "', '" + mode + "', " + watts + ")";
}
