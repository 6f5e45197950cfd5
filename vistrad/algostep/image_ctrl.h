#pragma once
// The image-control step: carries the user's image settings (white balance,
// brightness, colour level, sharpness, stabiliser, rotation) from the
// parameter store to the camera library and the video input. It consumes no
// data: its parameter callbacks do all the work.

#include <glib.h>
#include <stdint.h>

struct algo_step;
struct control;
struct param_value;
struct param_callback;
struct prodconf_schema;
struct algo_cl_module;
struct sensor;

struct qorex_exposure_mode {
	int32_t max_fast_shutter;
	int32_t exposure_priority_normal;
	int32_t exposure_priority_lowlight;
};

// White-balance gains are the camera library's units (1024 = 1.0).
struct qorex_image_ctrl_settings {
	struct qorex_exposure_mode exposure_mode_default;
	struct qorex_exposure_mode exposure_mode_low_noise;
	struct qorex_exposure_mode exposure_mode_motion;
	uint8_t enable_exp_zones;
	uint8_t enable_exp_zones_custom;
	int32_t fixed_outdoor1[3];
	int32_t fixed_outdoor2[3];
	int32_t fixed_indoor[3];
	int32_t fixed_fluorescent1[3];
	int32_t fixed_fluorescent2[3];
};

// The step's local data; the reference count comes first.
struct qorex_image_ctrl_data {
	uint32_t refcount;
	struct qorex_image_ctrl_settings *settings;
	struct sensor *sensor;
	GList *callbacks; // of step_param_cb
	int channel;
};

extern const struct prodconf_schema qorex_image_ctrl_schema;

int qorex_image_ctrl_init(struct algo_step *step, struct control *engine);
int qorex_image_ctrl_run(struct algo_step *step, struct control *engine);
int qorex_image_ctrl_destroy(struct algo_step *step, struct control *engine);

// The parameter callbacks, in the parameter store's form: user data is the
// control engine, the block holds the step.
int qorex_image_ctrl_white_balance_cb(void *engine, void *block, struct param_value *value,
                                      struct param_callback *callback);
int qorex_image_ctrl_source_rotation_cb(void *engine, void *block, struct param_value *value,
                                        struct param_callback *callback);
int qorex_image_ctrl_auto_rotation_cb(void *engine, void *block, struct param_value *value,
                                      struct param_callback *callback);

// The row of the algorithm module table.
extern const struct algo_cl_module qorex_image_ctrl_module;
