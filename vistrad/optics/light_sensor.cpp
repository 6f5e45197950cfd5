#include "light_sensor.h"

#include <glib.h>

struct light_sensor *light_sensor_new(void)
{
	return g_new0(struct light_sensor, 1);
}

void light_sensor_set_platform(struct light_sensor *sensor, struct platform *platform)
{
	if (sensor)
		sensor->platform = platform;
}

void light_sensor_destroy(struct light_sensor *sensor)
{
	if (!sensor)
		return;
	if (sensor->destroy)
		sensor->destroy(sensor);
	else
		g_free(sensor);
}

void *light_sensor_isl29033(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}
