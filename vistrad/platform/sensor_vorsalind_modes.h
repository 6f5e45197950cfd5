#pragma once
// The capture modes of the SoC sensor models: each table is its 60 Hz half
// followed by a 50 Hz half of the same length.

#include <stdint.h>

#include "core/prodconf.h"
#include "videoinput.h"

struct capture_mode_row {
	struct prodconf_area sensor_window;
	struct prodconf_area output_window;
	int32_t mode;
	int32_t wdr; // 0 linear, 1 WDR
	struct tvx_mode video;
};

struct capture_mode_table {
	const struct capture_mode_row *rows;
	int half; // rows a half
	struct prodconf_area full_array;
};

extern const struct capture_mode_table sensor_ar0521_modes;
extern const struct capture_mode_table sensor_imx274_modes;
extern const struct capture_mode_table sensor_ov2718_modes;
