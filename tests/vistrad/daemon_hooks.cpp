// Test build of the daemon: the environment can make the platform fail and
// give the product configuration hooks that log when they run.
//   VISTRAD_TEST_PLATFORM_FAULT=create|setup
//   VISTRAD_TEST_HOOKS=1   run, stop, create-algorithms and destroy-algorithms hooks;
//                          the run and create hooks hand each stream its D-Bus
//                          configuration, as the product configuration does
//   VISTRAD_TEST_VIDEO_CONTROL=1   the product selects video-control mode
// The ImageControl object builder is replaced by small test tables.
// The wrapped functions are C++ symbols, so their wrappers carry the
// mangled names.
#include <stdlib.h>
#include <string.h>

#include "core/control.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "frontends/dbus_api/dbus_api.h"
#include "platform/platform_vorsalind.h"

namespace {

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

} // namespace

extern "C" {

struct platform *__real__Z25platform_vorsalind_createPvP8prodconfi(void *ignored, prodconf *conf, int channels);
int __real__Z14platform_setupP8platform(struct platform *platform);
int __real__Z13prodconf_loadP8prodconf(prodconf *conf);

struct platform *__wrap__Z25platform_vorsalind_createPvP8prodconfi(void *ignored, prodconf *conf, int channels)
{
    if (fault("create"))
        return nullptr;
    return __real__Z25platform_vorsalind_createPvP8prodconfi(ignored, conf, channels);
}

int __wrap__Z14platform_setupP8platform(struct platform *platform)
{
    if (fault("setup"))
        return -3;
    return __real__Z14platform_setupP8platform(platform);
}

int __wrap__Z13prodconf_loadP8prodconf(prodconf *conf)
{
    int result = __real__Z13prodconf_loadP8prodconf(conf);
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
