#include "sensor.h"

#include <glib.h>

struct sensor *sensor_new(void)
{
	sensor *s = g_new0(sensor, 1);
	s->type = 36;
	return s;
}

void sensor_free(struct sensor *sensor)
{
	g_free(sensor);
}

int sensor_reinit(struct sensor *, void *)
{
	return -1;
}

int32_t sensor_get_current_fps(struct sensor *)
{
	return 0;
}

int32_t sensor_get_active_width(struct sensor *sensor)
{
	return sensor ? sensor->active_width : 0;
}

int32_t sensor_get_active_height(struct sensor *sensor)
{
	return sensor ? sensor->active_height : 0;
}

int32_t sensor_get_pixel_pitch(struct sensor *sensor)
{
	return sensor ? sensor->pixel_pitch : 0;
}

int sensor_setup(struct sensor *, int32_t)
{
	return -1;
}

int sensor_set_capture_mode(struct sensor *, uint32_t, uint32_t, uint32_t)
{
	return 0;
}

int sensor_get_mode_info(struct sensor *, struct prodconf_area *, uint32_t, uint32_t, uint32_t, int32_t)
{
	return 0;
}

int sensor_apply_mode(struct sensor *, struct prodconf_area *, int32_t)
{
	return -1;
}

int32_t sensor_get_line_time(struct sensor *)
{
	return 0;
}

int sensor_mode_is_wdr(struct sensor *, uint32_t)
{
	return 0;
}
