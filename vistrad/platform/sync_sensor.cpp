#include "sync_sensor.h"

#include "core/debug_output.h"

int sync_sensor_can_adjust(struct sensor *)
{
	return 0;
}

int32_t sync_sensor_max_fps(struct sensor *)
{
	return 0;
}

int32_t sync_sensor_line_count(struct sensor *)
{
	return 0;
}

int sensor_set_syncadjust(struct sensor *, int32_t, int32_t)
{
	debug_output(DEBUG_ERROR, 0, "set_syncadjust not supported by sensor\n");
	return -1;
}
