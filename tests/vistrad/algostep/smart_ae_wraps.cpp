// The link-time replacements of the smart AE tests: each answers from and
// records into ae_fake.
#include "smart_ae_fixture.h"

extern "C" int __wrap_libcl_get_hdr_method(int, uint32_t *method)
{
	if (ae_fake.hdr_method_fails)
		return -1;
	*method = ae_fake.hdr_method;
	return 0;
}

extern "C" int __wrap_libcl_get_hdr_mode(int, uint32_t *mode)
{
	*mode = ae_fake.hdr_mode;
	return 0;
}

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = ae_fake.started;
	return 0;
}

extern "C" int __wrap_libcl_get_aaa_state(int, aaa_state *state)
{
	*state = ae_fake.aaa;
	return 0;
}

extern "C" int __wrap_libcl_get_shutter_and_gain(int, shutter_gain *sg)
{
	if (ae_fake.sg_get_fails)
		return -1;
	*sg = ae_fake.sg;
	return 0;
}

extern "C" int __wrap_libcl_set_shutter_and_gain(int, const shutter_gain *sg)
{
	ae_fake.sg_sets.push_back(*sg);
	ae_fake.sg = *sg;
	return 0;
}

extern "C" int __wrap_libcl_update_adj_index(int, double gain)
{
	ae_fake.adj_gains.push_back(gain);
	return 256 + (int)ae_fake.adj_gains.size();
}

extern "C" int __wrap_libcl_set_filter_dboffset(int, double offset)
{
	ae_fake.dboffsets.push_back(offset);
	return 0;
}

extern "C" int __wrap_libcl_set_shutter_correction(int, double factor)
{
	ae_fake.corrections.push_back(factor);
	return 0;
}

extern "C" int __wrap_sensor_get_exposure_limits(sensor *, int32_t exposure[2], int32_t ratio[2])
{
	exposure[0] = ae_fake.limits[0];
	exposure[1] = ae_fake.limits[1];
	ratio[0] = ae_fake.ratio[0];
	ratio[1] = ae_fake.ratio[1];
	return 0;
}

extern "C" void __wrap_sensor_update_framerate(sensor *, int32_t, double) {}

extern "C" double __wrap_videoinput_input_get_framerate(int, double)
{
	return ae_fake.input_fps;
}

extern "C" gboolean __wrap_videoinput_input_set_framerate(int, double fps)
{
	ae_fake.fps_sets.push_back(fps);
	return TRUE;
}

extern "C" int __wrap_datacache_create_cache(datacache *, const char *name, uint32_t size, uint32_t count)
{
	ae_fake.caches.push_back(std::string(name) + " " + std::to_string(size) + "x" +
	                         std::to_string(count));
	return 3;
}

extern "C" int __wrap_datacache_write(datacache *, int32_t id, const control_timestamp *ts, const void *data)
{
	std::vector<uint8_t> bytes(16);
	memcpy(bytes.data(), data, 16);
	EXPECT_EQ(3, id);
	EXPECT_TRUE(ts && ts->sec == 0 && ts->usec == 0);
	ae_fake.cache_writes.push_back(bytes);
	return ae_fake.cache_write_result;
}

extern "C" int __real_param_get(param_value *value);
extern "C" int __wrap_param_get(param_value *value)
{
	ae_fake.param_gets.push_back(value->id);
	return __real_param_get(value);
}

extern "C" int __real_param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn,
                                              uint32_t mode, void *user_data, void *block);
extern "C" int __wrap_param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn,
                                              uint32_t mode, void *user_data, void *block)
{
	ae_fake.registered.push_back(id);
	return __real_param_register_callback(id, stream_id, fn, mode, user_data, block);
}
