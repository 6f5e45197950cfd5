// The per-channel records of the PRODUCT_CONSTANTS section.

#include <stddef.h>
#include <string.h>

#include "prodconf.h"
#include "prodconf_schema_build.h"

namespace
{

using pc = prodconf_product_constants;

const int32_t one_channel[1] = {0};

prodconf_field channels_field()
{
	prodconf_field f =
	    prodconf_field_make("channels", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, channels));
	f.dynamic = 1;
	f.count_offset = offsetof(pc, channel_count);
	f.def.p = one_channel;
	f.default_count = 1;
	return f;
}

const prodconf_field constants_fields[] = {
    prodconf_field_i32("stats_block_width", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, stats_block_width),
                       32),
    prodconf_field_text("dciris_pwm_device", PRODCONF_OPTIONAL, offsetof(pc, dciris_pwm_device), nullptr),
    prodconf_field_text("ir_cut_filter_pin", PRODCONF_OPTIONAL, offsetof(pc, ir_cut_filter_pin), nullptr),
    prodconf_field_text("sensor_reset_pin", PRODCONF_OPTIONAL, offsetof(pc, sensor_reset_pin), nullptr),
    prodconf_field_i32("flip_image", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(pc, flip_image), 0),
    prodconf_field_i32("video_encoder", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, video_encoder), 0),
    prodconf_field_i32("ipp_pixel_width", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, ipp_pixel_width), 12),
    channels_field(),
    prodconf_field_i32("i2c_bus", PRODCONF_ENUM, PRODCONF_OPTIONAL, offsetof(pc, i2c_bus), 8),
    prodconf_field_i32("image_sources", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, image_sources), 1),
    prodconf_field_i32("hw_channel", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(pc, hw_channel), 0),
    prodconf_field_i32("plt_input_mode", PRODCONF_ENUM, PRODCONF_OPTIONAL, offsetof(pc, plt_input_mode), 1),
    prodconf_field_i32("i2c_algorithm", PRODCONF_ENUM, PRODCONF_OPTIONAL, offsetof(pc, i2c_algorithm), 7),
    prodconf_field_text("calibration_path", PRODCONF_OPTIONAL, offsetof(pc, calibration_path), nullptr),
    prodconf_field_text("dpc_file", PRODCONF_OPTIONAL, offsetof(pc, dpc_file), nullptr),
    prodconf_field_text("ffc_file", PRODCONF_OPTIONAL, offsetof(pc, ffc_file), nullptr),
    prodconf_field_text("camblock_i2c_device", PRODCONF_OPTIONAL, offsetof(pc, camblock_i2c_device), nullptr),
    prodconf_field_i32("camblock_i2c_address", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(pc, camblock_i2c_address), 0),
    prodconf_field_i32("external_sensor_config", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(pc, external_sensor_config), 0),
};

const prodconf_field area_fields[] = {
    prodconf_field_make("xstart", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(prodconf_area, xstart)),
    prodconf_field_make("ystart", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(prodconf_area, ystart)),
    prodconf_field_make("xstop", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(prodconf_area, xstop)),
    prodconf_field_make("ystop", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(prodconf_area, ystop)),
};

} // namespace

const struct prodconf_schema prodconf_product_constants_schema = {
    "product_constants", sizeof(prodconf_product_constants), constants_fields,
    G_N_ELEMENTS(constants_fields)};

const struct prodconf_schema prodconf_area_config_schema = {"area_config", sizeof(prodconf_area), area_fields,
                                                            G_N_ELEMENTS(area_fields)};

void prodconf_product_constants_clear(struct prodconf_product_constants *pc)
{
	g_free(pc->dciris_pwm_device);
	g_free(pc->ir_cut_filter_pin);
	g_free(pc->sensor_reset_pin);
	g_free(pc->calibration_path);
	g_free(pc->dpc_file);
	g_free(pc->ffc_file);
	g_free(pc->camblock_i2c_device);
	g_free(pc->channels);
	memset(pc, 0, sizeof(*pc));
}
