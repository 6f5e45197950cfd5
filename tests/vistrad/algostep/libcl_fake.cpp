#include <string.h>

#include "libcl_fake.h"

fake_libcl fake_cl;

std::vector<fake_call> fake_libcl::named(const std::string &name) const
{
	std::vector<fake_call> out;
	for (const auto &c : calls)
		if (c.name == name)
			out.push_back(c);
	return out;
}

const fake_call *fake_libcl::last(const std::string &name) const
{
	for (auto it = calls.rbegin(); it != calls.rend(); ++it)
		if (it->name == name)
			return &*it;
	return nullptr;
}

std::vector<std::string> fake_libcl::lines() const
{
	std::vector<std::string> out;
	for (const auto &c : calls)
		out.push_back(c.line);
	return out;
}

std::vector<std::string> fake_libcl::lines(const std::string &name) const
{
	std::vector<std::string> out;
	for (const auto &c : calls)
		if (c.name == name)
			out.push_back(c.line);
	return out;
}

namespace
{

const int no_channel = -1;

// Notes the call with the bytes it was given and the channel and values for
// its line; answers -1 while the call is made to fail.
int record(const char *name, int channel, const void *bytes, size_t size,
           std::initializer_list<long long> values = {})
{
	fake_call c;
	c.name = name;
	c.channel = channel;
	if (bytes && size)
		c.bytes.assign(static_cast<const uint8_t *>(bytes),
		               static_cast<const uint8_t *>(bytes) + size);
	std::string args = channel == no_channel ? "" : std::to_string(channel);
	for (long long v : values)
		args += (args.empty() ? "" : ",") + std::to_string(v);
	c.line = c.name + "(" + args + ")";
	fake_cl.calls.push_back(c);
	auto f = fake_cl.failing.find(name);
	if (f == fake_cl.failing.end() || f->second == 0)
		return 0;
	if (f->second > 0)
		f->second--;
	return -1;
}

template <typename T> int answer(const char *name, int channel, T *out, const T &value)
{
	int ret = record(name, channel, nullptr, 0);
	if (ret == 0 && out)
		*out = value;
	return ret;
}

// A setter whose value a getter answers afterwards.
template <typename T>
int keep(const char *name, int channel, const T &value, T *kept, std::initializer_list<long long> values)
{
	int ret = record(name, channel, &value, sizeof(value), values);
	if (ret == 0)
		*kept = value;
	return ret;
}

int set_int(const char *name, int channel, int32_t value)
{
	return record(name, channel, &value, sizeof(value), {value});
}

} // namespace

extern "C" {

int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	return answer("get_aaa_started", no_channel, started, fake_cl.aaa_started);
}
int __wrap_libcl_get_aaa_state(int channel, aaa_state *s)
{
	return answer("get_aaa_state", channel, s, fake_cl.state);
}
int __wrap_libcl_set_aaa_state(int channel, const aaa_state *s)
{
	return keep("set_aaa_state", channel, *s, &fake_cl.state,
	            {s->hold_ae, s->hold_awb, s->word[0], s->word[1]});
}
int __wrap_libcl_get_shutter_and_gain(int channel, shutter_gain *sg)
{
	return answer("get_shutter_and_gain", channel, sg, fake_cl.sg);
}
int __wrap_libcl_set_shutter_and_gain(int channel, const shutter_gain *sg)
{
	return record("set_shutter_and_gain", channel, sg, sizeof(*sg));
}
int __wrap_libcl_enable_tone_curve(int channel, int32_t mode)
{
	return set_int("enable_tone_curve", channel, mode);
}
int __wrap_libcl_set_tone_curve(int channel, const uint16_t *curve)
{
	return record("set_tone_curve", channel, curve, LIBCL_TONE_CURVE_SIZE * 2);
}
int __wrap_libcl_set_local_exposure(int channel, const libcl_local_exposure *le)
{
	return record("set_local_exposure", channel, le, sizeof(*le));
}
int __wrap_libcl_get_ce_config(int channel, uint8_t *record_out)
{
	int ret = record("get_ce_config", channel, nullptr, 0);
	if (ret == 0 && record_out)
		memcpy(record_out, fake_cl.ce, sizeof(fake_cl.ce));
	return ret;
}
int __wrap_libcl_set_ce_config(int channel, const uint8_t *rec)
{
	return record("set_ce_config", channel, rec, LIBCL_CE_RECORD_SIZE);
}
int __wrap_libcl_get_hdr_mode(int channel, uint32_t *mode)
{
	return answer("get_hdr_mode", channel, mode, fake_cl.hdr_mode);
}
int __wrap_libcl_get_hdr_method(int channel, uint32_t *method)
{
	return answer("get_hdr_method", channel, method, fake_cl.hdr_method);
}
int __wrap_libcl_get_hdr_alpha_value(int channel, uint32_t *alpha)
{
	return answer("get_hdr_alpha_value", channel, alpha, fake_cl.alpha);
}
int __wrap_libcl_set_hdr_alpha_value(int channel, const uint32_t *alpha)
{
	return record("set_hdr_alpha_value", channel, alpha, 2 * sizeof(uint32_t));
}
int __wrap_libcl_get_hdr_threshold(int channel, uint32_t *threshold)
{
	return answer("get_hdr_threshold", channel, threshold, fake_cl.threshold);
}
int __wrap_libcl_set_hdr_threshold(int channel, const uint32_t *threshold)
{
	return record("set_hdr_threshold", channel, threshold, 2 * sizeof(uint32_t));
}
int __wrap_libcl_set_hdr_alpha_table(int channel, const uint32_t *rec)
{
	return record("set_hdr_alpha_table", channel, rec, LIBCL_ALPHA_TABLE_WORDS * sizeof(uint32_t));
}
int __wrap_libcl_set_custom_hdr_luma_calc(int channel)
{
	return record("set_custom_hdr_luma_calc", channel, nullptr, 0);
}
int __wrap_libcl_get_bw_mode(int channel, uint32_t *mode)
{
	return answer("get_bw_mode", channel, mode, fake_cl.bw);
}
int __wrap_libcl_set_bw_mode(int channel, uint32_t mode)
{
	return keep("set_bw_mode", channel, mode, &fake_cl.bw, {mode});
}
int __wrap_libcl_set_chroma_scale(int channel, const libcl_chroma_scale *cs)
{
	return record("set_chroma_scale", channel, cs, sizeof(*cs));
}
int __wrap_libcl_get_black_level(int channel, libcl_black_level *level)
{
	return answer("get_black_level", channel, level, fake_cl.black);
}
int __wrap_libcl_set_black_level(int channel, const libcl_black_level *level)
{
	return record("set_black_level", channel, level, sizeof(*level));
}
int __wrap_libcl_set_sharpness_coring(int channel, uint32_t coring)
{
	return record("set_sharpness_coring", channel, &coring, sizeof(coring), {coring});
}
int __wrap_libcl_set_global_dgain(int channel, int32_t dgain)
{
	return set_int("set_global_dgain", channel, dgain);
}
int __wrap_libcl_set_awb_speed(int channel, int32_t speed)
{
	return set_int("set_awb_speed", channel, speed);
}
int __wrap_libcl_set_awb_flow(int channel, int32_t flow)
{
	return set_int("set_awb_flow", channel, flow);
}
int __wrap_libcl_set_wb_gains(int channel, const libcl_wb_gains *g)
{
	return record("set_wb_gains", channel, g, sizeof(*g), {g->r_gain, g->g_gain, g->b_gain});
}
int __wrap_libcl_set_brightness_ctrl(int channel, const int32_t *v)
{
	return set_int("set_brightness_ctrl", channel, *v);
}
int __wrap_libcl_set_saturation_ctrl(int channel, const int32_t *v)
{
	return set_int("set_saturation_ctrl", channel, *v);
}
int __wrap_libcl_set_sharpness_ctrl(int channel, const int32_t *v)
{
	return set_int("set_sharpness_ctrl", channel, *v);
}
int __wrap_libcl_get_sensor_wb_gains(int channel, libcl_sensor_wb_gains *g)
{
	return answer("get_sensor_wb_gains", channel, g, fake_cl.sensor_gains);
}
int __wrap_libcl_set_hdr_extern_lut(int channel, const uint8_t *rec)
{
	return record("set_hdr_extern_lut", channel, rec, LIBCL_HDR_TABLE_RECORD_SIZE);
}
int __wrap_libcl_set_hdr_extern_drc(int channel, const uint8_t *rec)
{
	return record("set_hdr_extern_drc", channel, rec, LIBCL_HDR_TABLE_RECORD_SIZE);
}
void __wrap_libcl_deinit(void)
{
	record("deinit", no_channel, nullptr, 0);
}
}
