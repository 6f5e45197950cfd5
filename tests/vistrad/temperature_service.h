#pragma once
// Starts and stops the stand-in temperature service on the test's private
// bus, steers it, and runs the default main context while a test waits.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "main_loop_pump.h"
#include "stand_in_process.h"

// A limit registered with the service: its id, sensor, degrees and whether
// it fires below them.
struct TemperatureRegistration {
	int32_t id, sensor;
	double limit;
	bool below;
};

class TemperatureService
{
      public:
	~TemperatureService()
	{
		stop();
	}

	void start(int first_id = 1, double temperature = 25.0)
	{
		std::string id = std::to_string(first_id);
		std::string t = std::to_string(temperature);
		const char *argv[] = {TEMPERATURED_SIM, "--first-id", id.c_str(),
		                      "--temperature",  t.c_str(),    nullptr};
		process_.start(argv);
	}

	void stop()
	{
		process_.stop();
	}

	GVariant *control(const char *method, GVariant *args)
	{
		return bus_call("com.tovi.TemperatureController", "/sim/Temperature",
		                "sim.Temperature.Control", method, args);
	}

	void call(const char *method, GVariant *args)
	{
		GVariant *reply = control(method, args);
		if (reply)
			g_variant_unref(reply);
	}

	void set_temperature(int sensor, double degrees)
	{
		call("SetTemperature", g_variant_new("(id)", sensor, degrees));
	}
	void emit(int limit_id)
	{
		call("EmitSignal", g_variant_new("(i)", limit_id));
	}
	void set_mode(const char *mode)
	{
		call("SetMode", g_variant_new("(s)", mode));
	}

	size_t registrations()
	{
		GVariant *reply = control("GetRegistrations", nullptr);
		if (!reply)
			return 0;
		GVariant *list = g_variant_get_child_value(reply, 0);
		size_t n = g_variant_n_children(list);
		g_variant_unref(list);
		g_variant_unref(reply);
		return n;
	}

	std::vector<TemperatureRegistration> registration_list()
	{
		std::vector<TemperatureRegistration> out;
		GVariant *reply = control("GetRegistrations", nullptr);
		if (!reply)
			return out;
		GVariantIter *it = nullptr;
		g_variant_get(reply, "(a(iidb))", &it);
		TemperatureRegistration r;
		gboolean below;
		while (g_variant_iter_next(it, "(iidb)", &r.id, &r.sensor, &r.limit, &below)) {
			r.below = below;
			out.push_back(r);
		}
		g_variant_iter_free(it);
		g_variant_unref(reply);
		return out;
	}

      private:
	StandInProcess process_;
};
