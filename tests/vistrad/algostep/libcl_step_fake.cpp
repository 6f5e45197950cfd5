#include "libcl_step_fake.h"

#include <stdio.h>

LibclFake libcl_fake;

std::vector<std::string> LibclFake::named(const std::string &prefix) const
{
	std::vector<std::string> out;
	for (const std::string &c : calls)
		if (c.compare(0, prefix.size(), prefix) == 0)
			out.push_back(c);
	return out;
}

namespace
{

int note(const char *name, const std::string &args)
{
	libcl_fake.calls.push_back(std::string(name) + "(" + args + ")");
	return libcl_fake.failing.count(name) ? -1 : 0;
}

std::string ints(std::initializer_list<long long> values)
{
	std::string s;
	for (long long v : values)
		s += (s.empty() ? "" : ",") + std::to_string(v);
	return s;
}

} // namespace

extern "C" {

int __wrap_libcl_get_aaa_state(int channel, aaa_state *state)
{
	int r = note("get_aaa_state", ints({channel}));
	if (r == 0)
		*state = libcl_fake.aaa;
	return r;
}

int __wrap_libcl_set_aaa_state(int channel, const aaa_state *s)
{
	int r = note("set_aaa_state", ints({channel, s->hold_ae, s->hold_awb, s->word[0], s->word[1]}));
	if (r == 0)
		libcl_fake.aaa = *s;
	return r;
}

int __wrap_libcl_set_awb_flow(int channel, int32_t flow)
{
	return note("set_awb_flow", ints({channel, flow}));
}

int __wrap_libcl_set_wb_gains(int channel, const libcl_wb_gains *g)
{
	return note("set_wb_gains", ints({channel, g->r_gain, g->g_gain, g->b_gain}));
}

int __wrap_libcl_set_brightness_ctrl(int channel, const int32_t *v)
{
	return note("set_brightness_ctrl", ints({channel, *v}));
}

int __wrap_libcl_set_saturation_ctrl(int channel, const int32_t *v)
{
	return note("set_saturation_ctrl", ints({channel, *v}));
}

int __wrap_libcl_set_sharpness_ctrl(int channel, const int32_t *v)
{
	return note("set_sharpness_ctrl", ints({channel, *v}));
}

int __wrap_libcl_set_bw_mode(int channel, uint32_t mode)
{
	int r = note("set_bw_mode", ints({channel, mode}));
	if (r == 0)
		libcl_fake.bw_mode = mode;
	return r;
}

int __wrap_libcl_get_bw_mode(int channel, uint32_t *mode)
{
	int r = note("get_bw_mode", ints({channel}));
	if (r == 0)
		*mode = libcl_fake.bw_mode;
	return r;
}

int __wrap_libcl_get_hdr_mode(int channel, uint32_t *mode)
{
	int r = note("get_hdr_mode", ints({channel}));
	if (r == 0)
		*mode = libcl_fake.hdr_mode;
	return r;
}

int __wrap_libcl_get_sensor_wb_gains(int channel, libcl_sensor_wb_gains *g)
{
	int r = note("get_sensor_wb_gains", ints({channel}));
	if (r == 0)
		*g = libcl_fake.sensor_gains;
	return r;
}

void __wrap_libcl_deinit(void)
{
	note("deinit", "");
}
}
