// Test build of the daemon: the environment can make the platform fail and
// give the product configuration hooks that log when they run.
//   VISTRAD_TEST_PLATFORM_FAULT=create|setup
//   VISTRAD_TEST_HOOKS=1   run, stop, create-algorithms and destroy-algorithms hooks
//   VISTRAD_TEST_CAPTURE=1 the product's own hooks, with a sensor module
//                          "test_sensor", an algorithm "test_algo", a camera-mode
//                          function "TEST_CAMERA_MODE" and a parameter-41 row
//                          "TEST_WDR" standing in for the product hooks; the
//                          capture-mode steps that reach the platform log
//   VISTRAD_TEST_HOOKS=1   run, stop, create-algorithms and destroy-algorithms hooks;
//                          the run and create hooks hand each stream its D-Bus
//                          configuration, as the product configuration does
//   VISTRAD_TEST_VIDEO_CONTROL=1   the product selects video-control mode
// The ImageControl object builder is replaced by small test tables.
#include <stdlib.h>
#include <string.h>

#include "core/control.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_capture.h"
#include "core/prodconf_dbus_api_config.h"
#include "core/prodconf_hwsetup.h"
#include "frontends/dbus_api/dbus_api.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

namespace
{

bool fault(const char *which)
{
	const char *f = getenv("VISTRAD_TEST_PLATFORM_FAULT");
	return f && strcmp(f, which) == 0;
}

void hand_dbus_config(int32_t stream_id)
{
	dbus_api_config record = {};
	record.imagecontrol_stream_api_config.ecm_params = 1;
	dbus_api_set_config(daemon_get_context()->api, stream_id, &record);
}

int run_hook(prodconf *, control *, GList *streams)
{
	for (GList *l = streams; l; l = l->next)
		hand_dbus_config(GPOINTER_TO_INT(l->data));
	GString *ids = g_string_new(nullptr);
	for (GList *l = streams; l; l = l->next)
		g_string_append_printf(ids, " %d", GPOINTER_TO_INT(l->data));
	debug_output(DEBUG_INFO, 0, "hook: run, streams%s\n", ids->str);
	g_string_free(ids, TRUE);
	return 0;
}

int stop_hook(prodconf *, control *)
{
	debug_output(DEBUG_INFO, 0, "hook: stop\n");
	return 0;
}

int create_algos(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "hook: create algos %d\n", (int)stream_id);
	hand_dbus_config(stream_id);
	return 0;
}

int destroy_algos(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "hook: destroy algos %d\n", (int)stream_id);
	return 0;
}

void *test_sensor(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "hook: sensor created %d\n", (int)stream_id);
	return sensor_new();
}

void *test_algo(prodconf *, control *, int32_t stream_id)
{
	debug_output(DEBUG_INFO, 0, "hook: algo created %d\n", (int)stream_id);
	return g_new0(int, 1);
}

int test_camera_mode(prodconf *conf, control *, int32_t channel)
{
	debug_output(DEBUG_INFO, 0, "hook: camera mode %d\n", (int)channel);
	prodconf_set_state(conf, channel, PRODCONF_STATE_HDR_MODE, 0);
	return 0;
}

int test_wdr(void *engine, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	debug_output(DEBUG_INFO, 0, "hook: wdr %d\n", value ? (int)value->value : -1);
	return prodconf_set_capture_mode(block->conf, static_cast<control *>(engine), block->stream_id);
}

void add_capture_hooks(prodconf *conf)
{
	prodconf_default_add_item(conf, "test_sensor", test_sensor, nullptr, nullptr, 1,
	                          PRODCONF_STATE_SENSOR);
	prodconf_default_add_item(conf, "test_algo", test_algo, g_free, nullptr, 0, 0);
	prodconf_add_function(conf, "TEST_CAMERA_MODE", (prodconf_func)test_camera_mode);
	prodconf_add_param_callback(conf, "TEST_WDR", 41, test_wdr);
}

} // namespace

extern "C" {

int __real_platform_vorsalind(struct platform *platform, prodconf *conf, int channel);
int __real_sensor_set_capture_mode(struct sensor *sensor, uint32_t mode, uint32_t frequency, uint32_t hdr);
void __real_daemon_request_channel_restart(int channel);

int __wrap_platform_vorsalind(struct platform *platform, prodconf *conf, int channel)
{
	debug_output(DEBUG_INFO, 0, "hook: platform %d\n", channel);
	return __real_platform_vorsalind(platform, conf, channel);
}

int __wrap_sensor_set_capture_mode(struct sensor *sensor, uint32_t mode, uint32_t frequency, uint32_t hdr)
{
	debug_output(DEBUG_INFO, 0, "hook: sensor mode %u,%u,%u\n", mode, frequency, hdr);
	return __real_sensor_set_capture_mode(sensor, mode, frequency, hdr);
}

void __wrap_daemon_request_channel_restart(int channel)
{
	debug_output(DEBUG_INFO, 0, "hook: channel restart %d\n", channel);
	__real_daemon_request_channel_restart(channel);
}

struct platform *__real_platform_vorsalind_create(void *ignored, prodconf *conf, int channels);
int __real_platform_setup(struct platform *platform);
int __real_prodconf_load(prodconf *conf);

struct platform *__wrap_platform_vorsalind_create(void *ignored, prodconf *conf, int channels)
{
	if (fault("create"))
		return nullptr;
	return __real_platform_vorsalind_create(ignored, conf, channels);
}

int __wrap_platform_setup(struct platform *platform)
{
	if (fault("setup"))
		return -3;
	return __real_platform_setup(platform);
}

int __wrap_prodconf_load(prodconf *conf)
{
	if (getenv("VISTRAD_TEST_CAPTURE"))
		add_capture_hooks(conf);
	int result = __real_prodconf_load(conf);
	if (getenv("VISTRAD_TEST_HOOKS")) {
		conf->run = run_hook;
		conf->stop = stop_hook;
		conf->create_algos = create_algos;
		conf->destroy_algos = destroy_algos;
	}
	if (getenv("VISTRAD_TEST_VIDEO_CONTROL"))
		conf->video_control = 1;
	return result;
}

} // extern "C"
