// The daemon's module registry: every module kind that a configuration can
// name, and the enumeration constants its settings use. Each module is also
// a state of its type, numbered by its position among the modules of that
// type, so blocks keyed by a module's name follow what a channel has fitted.

#include "prodconf_modules.h"
#include "optics/camblock.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/lens_models/lens_models.h"
#include "optics/light_sensor.h"
#include "platform/datacache.h"
#include "platform/datacache_handler.h"
#include "platform/quillvane.h"
#include "platform/video_sync.h"
#include "prodconf.h"
#include "prodconf_tree.h"

namespace
{

struct module_row {
	const char *name;
	prodconf_create_fn create;
	uint32_t type;
};

const module_row modules[] = {
    {"quillvane_af_fix", quillvane_af_fix, PRODCONF_STATE_QUILLVANE},
    {"quillvane_af_ptz", quillvane_af_ptz, PRODCONF_STATE_QUILLVANE},
    {"datacache_general", datacache_general, PRODCONF_STATE_DATACACHE},
    {"camblock_tamron_df010nl", prodconf_camblock_tamron_df010nl_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_df020nl", prodconf_camblock_tamron_df020nl_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_df024nl", prodconf_camblock_tamron_df024nl_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_de011n", prodconf_camblock_tamron_de011n_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_df031n", prodconf_camblock_tamron_df031n_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_df023q", prodconf_camblock_tamron_df023q_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_cbc_r18", prodconf_camblock_cbc_r18_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_ricom_af02812db_icr", prodconf_camblock_ricom_af02812db_icr_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_canon_c40x43", prodconf_camblock_canon_c40x43_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_canon_c50x1485", prodconf_camblock_canon_c50x1485_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_cbc_tsf2_9z2813bhrw_f5", prodconf_camblock_cbc_tsf2_9z2813bhrw_f5_create,
     PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_df034n", prodconf_camblock_tamron_df034n_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_unionoptech_t5285", prodconf_camblock_unionoptech_t5285_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_unionoptech_t5377q", prodconf_camblock_unionoptech_t5377q_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_unionoptech_t5390", prodconf_camblock_unionoptech_t5390_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_tamron_lvz3x3516", camblock_tamron_lvz3x3516_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_evetar_e5350a", prodconf_camblock_evetar_e5350a_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_ytot_yt50011db_icr", prodconf_camblock_ytot_yt50011db_icr_create, PRODCONF_STATE_CAMBLOCK},
    {"camblock_cbc_nsf2_3z5915bmrw_f5", prodconf_camblock_cbc_nsf2_3z5915bmrw_f5_create,
     PRODCONF_STATE_CAMBLOCK},
    {"ircut_mcu_i2c_generic", prodconf_ircut_mcu_i2c_generic_create, PRODCONF_STATE_IRCUT},
    {"camblock_cs", camblock_cs, PRODCONF_STATE_CAMBLOCK},
    {"camblock_ekt", camblock_ekt, PRODCONF_STATE_CAMBLOCK},
    {"ircut_mcu_stm32f030xx", prodconf_ircut_mcu_stm32f030xx_create, PRODCONF_STATE_IRCUT},
    {"light_sensor_isl29033", light_sensor_isl29033, PRODCONF_STATE_LIGHT_SENSOR},
    {"ircut_h_bridge", prodconf_ircut_h_bridge_create, PRODCONF_STATE_IRCUT},
    {"ircut_multi_h_bridge", prodconf_ircut_multi_h_bridge_create, PRODCONF_STATE_IRCUT},
    {"ircut_generic_dev", prodconf_ircut_generic_dev_create, PRODCONF_STATE_IRCUT},
    {"ircut_tb6613ftg", prodconf_ircut_tb6613ftg_create, PRODCONF_STATE_IRCUT},
    {"ircut_tb6613ftg_stepper", prodconf_ircut_tb6613ftg_stepper_create, PRODCONF_STATE_IRCUT},
    {"ircut_serial_link", prodconf_ircut_serial_link_create, PRODCONF_STATE_IRCUT},
    {"iris_stepper_pcc", prodconf_iris_stepper_pcc_create, PRODCONF_STATE_IRIS},
    {"iris_tb6613ftg", prodconf_iris_tb6613ftg_create, PRODCONF_STATE_IRIS},
    {"iris_dc", prodconf_iris_dc_create, PRODCONF_STATE_IRIS},
    {"datacache_optics_input_source", datacache_optics_input_source, PRODCONF_STATE_DATACACHE_INPUT},
    {"datacache_distance_input_source", datacache_distance_input_source, PRODCONF_STATE_DATACACHE_INPUT},
    {"datacache_move_input_source", datacache_move_input_source, PRODCONF_STATE_DATACACHE_INPUT},
    {"datacache_sensor_data_input_source", datacache_sensor_data_input_source,
     PRODCONF_STATE_DATACACHE_INPUT},
};

struct constant_row {
	const char *name;
	intptr_t value;
};

const constant_row constants[] = {
    {"platform_serial_2ch_sensor", 0},
    {"platform_serial_4ch_sensor", 1},
    {"platform_serial_4ch_2clk_sensor", 2},
    {"platform_serial_8ch_sensor", 3},
    {"platform_serial_10ch_sensor", 4},
    {"platform_parallel_sensor", 5},
    {"platform_parallel_sensor_ddr_6", 7},
    {"platform_parallel_sensor_ddr_12", 6},
    {"cb_trace_disabled", -1},
    {"cb_no_trace", 0},
    {"cb_max_trace", 1},
    {"cb_const_trace", 2},
    {"cb_af_trace", 3},
    {"cb_user_value", 4},
    {"cb_trace_last", 5},
    {"optics_motor_data", 134},
    {"DOME_NONE", 0},
    {"DOME_QUORVAL", 1},
    {"DOME_MIRASK", 3},
    {"DOME_MIRASKOR", 4},
    {"DOME_TOLVESK", 6},
    {"DOME_NARBU", 7},
};

} // namespace

void prodconf_register_modules(struct prodconf *conf)
{
	if (!conf)
		return;
	prodconf_default_add_item(conf, "algo_datacache_handler", algo_datacache_handler, g_free, nullptr, 0,
	                          0);
	prodconf_default_add_item(conf, "algo_video_sync_streams_handler", algo_video_sync_streams_handler,
	                          algo_video_sync_streams_handler_destroy, nullptr, 0, 0);
	for (const module_row &row : modules)
		prodconf_default_add_item(conf, row.name, row.create, nullptr, nullptr, 1, row.type);
	for (const constant_row &row : constants)
		prodconf_add_constant(conf, row.name, row.value);
}
