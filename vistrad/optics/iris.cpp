#include "iris.h"

#include <glib.h>

#include "core/debug_output.h"

static int iris_default_hook(struct iris *)
{
	return -1;
}

struct iris *iris_new(void)
{
	iris *i = g_new0(iris, 1);
	i->device = -1;
	i->hooks[0] = iris_default_hook;
	i->hooks[1] = iris_default_hook;
	i->destroy = iris_destroy_orig;
	return i;
}

void iris_add_platform(struct iris *iris, struct platform *platform)
{
	if (!iris) {
		debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
		return;
	}
	iris->platform = platform;
}

void iris_destroy_orig(struct iris *iris)
{
	if (!iris) {
		debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
		return;
	}
	iris->platform = nullptr;
	g_free(iris);
}

void iris_destroy(struct iris *iris)
{
	if (!iris) {
		debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
		return;
	}
	if (iris->destroy)
		iris->destroy(iris);
}

int iris_detect(struct prodconf *, struct control *, int32_t)
{
	return 0;
}

void iris_set_state_params(int, int) {}

int32_t iris_get_temperature_sensor_id(struct iris *)
{
	return -2;
}

static int32_t undefined_temperature(int *status)
{
	if (status)
		*status = -2;
	return -16384;
}

int32_t iris_get_lowest_operating_temperature(struct iris *, int *status)
{
	return undefined_temperature(status);
}

int32_t iris_get_lowest_startup_temperature(struct iris *, int *status)
{
	return undefined_temperature(status);
}

int iris_set_temperature_status(struct iris *, int)
{
	return -2;
}
