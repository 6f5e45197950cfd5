#pragma once
// The camera library as the algorithm steps see it, replaced at link time
// (--wrap, see CMakeLists.txt): every call is recorded with the bytes its
// pointer or value arguments held and as a line "name(channel,values)",
// getters answer from the fields below (setters of state keep what they set
// there), and any call can be made to fail.

#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "libcl.h"

struct fake_call {
	std::string name;
	int channel; // -1 for the calls that take none
	std::vector<uint8_t> bytes;
	std::string line;

	template <typename T> T as(size_t index = 0) const
	{
		T v{};
		if ((index + 1) * sizeof(T) <= bytes.size())
			memcpy(&v, bytes.data() + index * sizeof(T), sizeof(T));
		return v;
	}
};

struct fake_libcl {
	std::vector<fake_call> calls;
	// Name -> failures still to give (-1: every call).
	std::map<std::string, int> failing;
	uint32_t aaa_started = 1;
	aaa_state state = {};
	shutter_gain sg = {};
	uint32_t hdr_mode = 1;
	uint32_t hdr_method = 1;
	uint32_t alpha = 128;
	uint32_t threshold = 12000;
	uint8_t ce[LIBCL_CE_RECORD_SIZE] = {};
	uint32_t bw = 0;
	libcl_black_level black = {};
	libcl_sensor_wb_gains sensor_gains = {};

	void reset()
	{
		*this = fake_libcl();
	}
	std::vector<fake_call> named(const std::string &name) const;
	size_t count(const std::string &name) const
	{
		return named(name).size();
	}
	const fake_call *last(const std::string &name) const;
	// Every call's line in order, or only those of one name.
	std::vector<std::string> lines() const;
	std::vector<std::string> lines(const std::string &name) const;
	void fail(const std::string &name, int times = -1)
	{
		failing[name] = times;
	}
};

extern fake_libcl fake_cl;
