#pragma once
// The camera library's calls the steps make, replaced at link time
// (--wrap, see CMakeLists.txt): each call is noted as a line, and a test can
// make a call fail or set what a getter answers.

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "libcl.h"

struct LibclFake {
	std::vector<std::string> calls;
	std::set<std::string> failing; // call names that return -1
	aaa_state aaa = {0, 0, {7, 9}};
	uint32_t bw_mode = 0;
	uint32_t hdr_mode = 0;
	libcl_sensor_wb_gains sensor_gains = {{0, 0, 0}};
	void reset()
	{
		*this = LibclFake();
	}
	// The calls with this prefix, in order.
	std::vector<std::string> named(const std::string &prefix) const;
};

extern LibclFake libcl_fake;
