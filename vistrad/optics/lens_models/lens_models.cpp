// The MCU lens models. Every model is built by one frame: read the model's
// settings, open the controller's I2C device, build the common MCU camera
// block, fill it with the model's lens data, replace the few slots the lens
// does differently, create its components, check that the right lens
// answers and guard its motors against the cold. What differs between the
// models is data: the rows of lens_model_table below and the generated
// calibration tables (lens_tables.h).

#include "lens_models.h"

#include <glib.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/control.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/fixed_point.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "fixmath.h"
#include "lens_tables.h"
#include "optics/camblock.h"
#include "optics/camblock_mcu.h"
#include "optics/camblock_trace.h"
#include "optics/dome.h"
#include "optics/focus_zoom.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/iris_hall.h"
#include "optics/lens_components.h"
#include "optics/optics_math.h"
#include "platform/platform.h"
#include "platform/sensor.h"

namespace
{

#define PARAM_IRCUT_FILTER_STATE 58
#define PARAM_CAMBLOCK_ERROR 104
#define PARAM_CAMBLOCK_TYPE 159
#define PARAM_FOCUS_TEMPERATURE_CORRECTION 178

#define Q14_ONE 16384
#define MOTOR_SETTING 67
#define T2_SYNC_TRACKING 64

// Dioptres and other decimal constants of the models, in Q14.
constexpr int32_t d(double v)
{
	return (int32_t)(v * 16384.0 + (v < 0 ? -0.5 : 0.5));
}

// Setting keys a model has besides address and device.
enum {
	KEY_POLL = 1 << 0,
	KEY_TEMP = 1 << 1,    // <word>_temp_sensor
	KEY_TEMP_ID = 1 << 2, // temperature_sensor_id
	KEY_DOME = 1 << 3,
	KEY_MAX_MAG = 1 << 4,
	KEY_MAX_WIDE = 1 << 5,
	KEY_MARGIN = 1 << 6,
	KEYS_ZOOMING = KEY_TEMP | KEY_DOME | KEY_MAX_MAG | KEY_MAX_WIDE | KEY_MARGIN,
};

// What a model does when its settings cannot be read; NO_SETTINGS: it
// reads none and takes its fixed defaults.
enum read_failure { GIVES_UP, SCHEMA_DEFAULTS, FIXED_DEFAULTS, NO_SETTINGS };

// What a model's lens check does.
enum {
	CHECK_ID = 1 << 0,           // compares register 0x00C with the lens id
	CHECK_POSITIONABLE = 1 << 1, // marks the iris positionable
	CHECK_POSITIONS = 1 << 2,    // reads the motor positions
	CHECK_ERROR = 1 << 3,        // publishes CamBlockError
	CHECK_ERROR_STREAM0 = 1 << 4,
	CHECK_TYPE = 1 << 5, // publishes CamBlockType
	CHECK_COMMON = CHECK_ID | CHECK_POSITIONABLE | CHECK_ERROR | CHECK_TYPE,
	CHECK_PLAIN = CHECK_POSITIONABLE | CHECK_ERROR | CHECK_TYPE, // no lens id to compare
	CHECK_ZOOMING = CHECK_ID | CHECK_POSITIONABLE | CHECK_POSITIONS | CHECK_TYPE,
};

enum guard_kind { GUARD_NONE, GUARD_FIXED, GUARD_FROM_SETTING, GUARD_FROM_SETTING_IF_SET };

enum poll_kind {
	POLL_COMMON,
	POLL_PENDING_REFRESH, // P: units pending, then the refresh
	POLL_REFRESH,         // R: the refresh itself
	POLL_IRIS,            // I: the common poll, then the iris takes the record's position
};

enum fov_kind { FOV_COMMON, FOV_TABLE, FOV_TABLE_BREATHING, FOV_C50X1485 };

enum timing_kind { T1, T2, T3, T3_T5390, T4, T5 };

enum {
	EMPTY_DISTORTION = 1 << 0,
	EMPTY_FRAME_REPORT = 1 << 1,
	EMPTY_CAPTURE_MODE = 1 << 2,
};

// Which dome settings create a dome.
enum dome_rule { DOME_RULE_NONE, DOME_RULE_1_2_5_6, DOME_RULE_1_2_5, DOME_RULE_3_4, DOME_RULE_ANY_NARBU };

// A value that is either fixed or follows the focus-infinity margin m.
struct margin_value {
	int32_t fixed;
	bool from_margin;
};

struct motor_table {
	int32_t count;
	int32_t rates[4];
	int32_t values[4];
};

// What a model does besides its check and guard.
enum {
	ALL_ON_STREAM0 = 1 << 0, // the block, its components and publications
	FIRST_CHECK_ON_STREAM0 = 1 << 1,
	KEEP_BLOCK_ON_FAILED_CHECK = 1 << 2,
	GUARD_SPACED_TEXTS = 1 << 3,
	GUARD_FAILURE_FATAL = 1 << 4,
	HAS_BREATHING = 1 << 5,
	POLL_NEEDS_SETTING = 1 << 6, // the poll variant only with the poll setting
	NO_IRCUT = 1 << 7,
	FOCUS_TEMPERATURE_CORRECTION = 1 << 8,
	HANDLE_EVENT_Q = 1 << 9,
};

struct lens_model {
	const char *module; // registry name; the key prefix is the name without "camblock_"
	enum camblock_lens lens;
	const struct lens_tables *tables;
	int32_t lens_id; // -1: the lens has no id to compare
	unsigned flags;
	// settings
	unsigned keys;
	enum read_failure on_failure;
	const char *default_dev;
	int32_t default_temp;
	int32_t default_dome;
	// the lens check and the temperature guard
	unsigned check;
	const uint16_t (*writes)[2]; // register, value; ended by {0, 0}
	enum guard_kind guard;
	int32_t guard_sensor; // GUARD_FIXED's sensor
	int32_t guard_start;
	int32_t guard_stop;
	const char *create_failed;
	const char *setup_failed; // null: create_failed
	// lens data
	std::vector<double> distances; // dioptres
	margin_value p;
	int32_t depth_of_field_constant; // Q14
	int32_t breathing[2];
	int32_t aperture_ramp; // Q14; -1: the per-zoom table
	enum timing_kind timing;
	motor_table motor;
	// limits
	int32_t near_limit; // Q14 dioptres
	margin_value far_limit;
	int32_t max_index;
	margin_value min_index;
	// slots
	enum poll_kind poll;
	enum fov_kind fov;
	unsigned empty_slots;
	enum dome_rule domes;
	uint32_t trace_mode;
};

const uint16_t writes_common[][2] = {{0x105, MOTOR_SETTING}, {0x205, MOTOR_SETTING}, {0, 0}};
const uint16_t writes_df031n[][2] = {
    {0x105, MOTOR_SETTING}, {0x1005, MOTOR_SETTING}, {0x205, MOTOR_SETTING}, {0x30B, 64}, {0, 0}};
const uint16_t writes_df034n[][2] = {
    {0x105, MOTOR_SETTING}, {0x1005, MOTOR_SETTING}, {0x205, MOTOR_SETTING}, {0x30B, 96}, {0, 0}};
const uint16_t writes_t5377q[][2] = {
    {0x105, MOTOR_SETTING}, {0x205, MOTOR_SETTING}, {0x30D, 1}, {0xE01, 1}, {0, 0}};
const uint16_t writes_none[][2] = {{0, 0}};

const motor_table timing_115 = {2, {0, 60}, {115, 115}};
const motor_table timing_none = {0, {}, {}};
const motor_table motor_t3 = {4, {15, 25, 30, 60}, {64, 56, 48, 32}};
// T3's second table, for register 0x30B, over the same frame rates.
const int32_t t3_reg30b[4] = {128, 104, 96, 64};

const char *const spaced_start =
    "Failed to register START temperature callback for                   camblock\n";
const char *const spaced_stop =
    "Failed to register STOP temperature callback for                   camblock\n";

constexpr margin_value fixed(int32_t v)
{
	return {v, false};
}
constexpr margin_value margin = {0, true};

const std::vector<double> distances_df010nl = {0, 0.1, 0.2, 0.333, 0.667, 1, 1.25, 2, 3.333, 10};
const std::vector<double> distances_df031n = {0, 0.1, 0.2, 0.333, 0.667, 0.833, 1};

// One row per model, in registry order. Columns: module, lens, tables, lens
// id, flags; settings keys, on failure, default device, temperature sensor
// and dome; check, writes, guard, sensor, start, stop; failure texts;
// distances, p, depth-of-field constant, breathing, aperture ramp; timing,
// motor table; near, far, max and min limits; poll, field of view, empty
// slots, domes, trace mode.
// clang-format off
const lens_model lens_model_table[] = {
    {"camblock_tamron_df010nl", CAMBLOCK_LENS_TAMRON_DF010NL, &lens_tables_tamron_df010nl, 0,
     ALL_ON_STREAM0 | FIRST_CHECK_ON_STREAM0 | KEEP_BLOCK_ON_FAILED_CHECK | HAS_BREATHING,
     0, NO_SETTINGS, "/dev/i2c-1", 0, 0,
     CHECK_COMMON, writes_common, GUARD_NONE, 0, 0, 0,
     "Failed to create camblock tamron df010nl\n", nullptr,
     distances_df010nl, fixed(1638), d(6.25), {-3312, 6704}, d(0.9), T1, timing_115,
     d(3.333), fixed(d(-3.2)), 4608, fixed(-16384),
     POLL_COMMON, FOV_COMMON, 0, DOME_RULE_NONE, 1},
    {"camblock_tamron_df020nl", CAMBLOCK_LENS_TAMRON_DF020NL, &lens_tables_tamron_df020nl, 2,
     FIRST_CHECK_ON_STREAM0 | HAS_BREATHING | POLL_NEEDS_SETTING,
     KEY_POLL, GIVES_UP, "/dev/i2c-1", 0, 0,
     CHECK_COMMON, writes_common, GUARD_FIXED, 2, -17, -24,
     "Failed to create camblock tamron df020nl\n", "Failed to set up camblock tamron df020nl\n",
     {0, 0.1, 0.2, 0.333, 0.667, 0.833, 1.429}, fixed(1638), d(6.25), {-442332, 51711}, d(0.7), T1, timing_115,
     d(1.429), fixed(d(-3.2)), 3072, fixed(-16384),
     POLL_PENDING_REFRESH, FOV_COMMON, 0, DOME_RULE_NONE, 1},
    {"camblock_tamron_df024nl", CAMBLOCK_LENS_TAMRON_DF024NL, &lens_tables_tamron_df024nl, 6,
     FIRST_CHECK_ON_STREAM0 | HAS_BREATHING,
     0, GIVES_UP, "/dev/i2c-1", 0, 0,
     CHECK_COMMON, writes_common, GUARD_FIXED, 2, -17, -24,
     "Failed to create camblock tamron df024nl\n", "Failed to set up camblock tamron df024nl\n",
     distances_df010nl, fixed(1638), d(6.25), {-12059, 7843}, d(0.9), T1, timing_115,
     0, fixed(0), 4608, fixed(-16384),
     POLL_COMMON, FOV_COMMON, 0, DOME_RULE_NONE, 1},
    {"camblock_tamron_de011n", CAMBLOCK_LENS_TAMRON_DE011N, &lens_tables_tamron_de011n, -1,
     HAS_BREATHING | POLL_NEEDS_SETTING,
     KEY_POLL, SCHEMA_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 2, -12, -17,
     "Failed to create Tamron DE011N camblock\n", nullptr,
     {0, 0.1, 0.2, 0.333, 0.667, 1, 3.333}, fixed(1638), d(4.8), {0, 0}, d(0.9), T1, {2, {0, 60}, {32, 32}},
     d(3.333), fixed(d(-1.6)), 3072, fixed(-8192),
     POLL_PENDING_REFRESH, FOV_COMMON, 0, DOME_RULE_NONE, 1},
    {"camblock_tamron_df031n", CAMBLOCK_LENS_TAMRON_DF031N, &lens_tables_tamron_df031n, 8,
     HAS_BREATHING | GUARD_SPACED_TEXTS,
     KEYS_ZOOMING, GIVES_UP, "/dev/i2c-1", 1, 0,
     CHECK_ZOOMING, writes_df031n, GUARD_FROM_SETTING_IF_SET, 0, -30, -32,
     "Failed to create camblock tamron df031n\n", "Failed to set up camblock tamron df031n\n",
     distances_df031n, margin, 248242, {25767, 18426}, -1, T2, {3, {15, 30, 60}, {48, 48, 24}},
     d(1), margin, 3072, margin,
     POLL_IRIS, FOV_TABLE, 0, DOME_RULE_1_2_5_6, 1},
    {"camblock_tamron_df023q", CAMBLOCK_LENS_TAMRON_DF023Q, &lens_tables_tamron_df023q, 4,
     0,
     KEY_TEMP_ID, FIXED_DEFAULTS, "/dev/i2c-4", 1, 0,
     CHECK_ID | CHECK_TYPE, writes_none, GUARD_FROM_SETTING, 0, -22, -27,
     "Failed to create Tamron DF023Q camblock\n", "Failed to setup Tamron DF023Q camblock\n",
     {0, 1, 1.429, 2, 3}, fixed(1639), d(3.7), {0, 0}, d(0.7), T1, timing_115,
     d(2), fixed(d(-0.4)), 2048, fixed(-2048),
     POLL_REFRESH, FOV_COMMON, EMPTY_DISTORTION | EMPTY_FRAME_REPORT | EMPTY_CAPTURE_MODE, DOME_RULE_NONE, 1},
    {"camblock_cbc_r18", CAMBLOCK_LENS_CBC_R18, &lens_tables_cbc_r18, 11,
     0,
     KEY_TEMP_ID, FIXED_DEFAULTS, "/dev/i2c-4", 0, 0,
     CHECK_ID | CHECK_TYPE, writes_none, GUARD_FROM_SETTING, 0, -7, -12,
     "Failed to setup cbc r18 camblock\n", "Failed to setup cbc r18 camblock\n",
     {0, 0.1, 0.2, 0.333, 0.5, 2, 10}, fixed(1638), d(7.69), {0, 0}, d(0.87), T1, timing_115,
     d(3.333), fixed(d(-0.8)), 3072, fixed(-4096),
     POLL_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
    {"camblock_ricom_af02812db_icr", CAMBLOCK_LENS_RICOM_AF02812DB_ICR, &lens_tables_ricom_af02812db_icr, -1,
     FIRST_CHECK_ON_STREAM0,
     0, FIXED_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 2, -15, -19,
     "Failed to create camblock Ricom AF02812DB.ICR\n", nullptr,
     {0, 0.2, 0.333, 0.667, 1, 1.25, 2, 3.333, 10}, fixed(1638), d(5.0), {0, 0}, d(1.0), T1, timing_115,
     d(3.333), fixed(d(-3.2)), 4096, fixed(-16384),
     POLL_PENDING_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
    {"camblock_canon_c40x43", CAMBLOCK_LENS_CANON_C40X43, &lens_tables_canon_c40x43, 14,
     FOCUS_TEMPERATURE_CORRECTION | HANDLE_EVENT_Q,
     0, FIXED_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_ZOOMING, writes_none, GUARD_FIXED, 1, -30, -32,
     "Failed to create canon c40x43 camblock\n", "Failed to setup canon c40x43 camblock\n",
     {0, 0.1, 0.2, 0.333, 0.5, 0.667, 0.833}, fixed(1638), d(10.0), {0, 0}, -1, T4, timing_none,
     d(0.833), fixed(d(-1.6)), 3072, fixed(-8192),
     POLL_IRIS, FOV_COMMON, 0, DOME_RULE_NONE, 3},
    {"camblock_canon_c50x1485", CAMBLOCK_LENS_CANON_C50X1485, &lens_tables_canon_c50x1485, 22,
     GUARD_SPACED_TEXTS | NO_IRCUT,
     KEY_TEMP | KEY_MARGIN, GIVES_UP, "/dev/i2c-1", 1, 0,
     CHECK_ID | CHECK_POSITIONS | CHECK_TYPE, writes_none, GUARD_FROM_SETTING_IF_SET, 0, -28, -30,
     "Failed to create Canon C50x1485 camblock\n", "Failed to setup Canon C50x1485 camblock\n",
     {0, 0.676, 1.429, 2.273, 3.226, 4.545, 5.263, 6.667}, margin, d(4.0), {0, 0}, -1, T4, timing_none,
     d(6.667), margin, 3584, margin,
     POLL_COMMON, FOV_C50X1485, 0, DOME_RULE_NONE, 1},
    {"camblock_cbc_tsf2_9z2813bhrw_f5", CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5, &lens_tables_cbc_tsf2_9z2813bhrw_f5, -1,
     FIRST_CHECK_ON_STREAM0,
     0, FIXED_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 2, -27, -30,
     "Failed to create camblock CBC TSF2.9Z2813BHRW-F5\n", nullptr,
     {0, 0.1, 0.2, 0.333, 0.667, 1, 2, 3.333}, fixed(1638), d(7.7), {0, 0}, d(1.13), T1, timing_115,
     d(3.333), fixed(d(-0.8)), 3584, fixed(-4096),
     POLL_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
    {"camblock_tamron_df034n", CAMBLOCK_LENS_TAMRON_DF034N, &lens_tables_tamron_df034n, 16,
     GUARD_SPACED_TEXTS,
     KEY_TEMP | KEY_DOME | KEY_MAX_MAG | KEY_MARGIN, GIVES_UP, "/dev/i2c-1", 1, 0,
     CHECK_ZOOMING, writes_df034n, GUARD_FROM_SETTING_IF_SET, 0, -30, -32,
     "Failed to create Tamron Df034N camblock\n", "Failed to setup Tamron Df034N camblock\n",
     distances_df031n, margin, 248242, {0, 0}, -1, T3, motor_t3,
     d(1), margin, 3072, margin,
     POLL_IRIS, FOV_TABLE, 0, DOME_RULE_1_2_5, 1},
    {"camblock_unionoptech_t5285", CAMBLOCK_LENS_UNIONOPTECH_T5285, &lens_tables_unionoptech_t5285, 10,
     0,
     KEY_DOME, GIVES_UP, "/dev/i2c-1", 0, 0,
     CHECK_ID | CHECK_POSITIONABLE | CHECK_ERROR | CHECK_ERROR_STREAM0 | CHECK_POSITIONS, writes_common,
     GUARD_NONE, 0, 0, 0,
     "Failed to create camblock\n", "Failed to set up camblock\n",
     {0, 0.1, 0.2, 0.333, 0.4, 0.5, 0.667, 1, 1.2}, fixed(819), d(20.0), {0, 0}, -1, T1, {2, {15, 30}, {64, 32}},
     d(1), fixed(d(-0.2)), 4096, fixed(-2048),
     POLL_COMMON, FOV_COMMON, 0, DOME_RULE_3_4, 1},
    // Its motor table is stored with the block, though T5 computes its values.
    {"camblock_unionoptech_t5377q", CAMBLOCK_LENS_UNIONOPTECH_T5377Q, &lens_tables_unionoptech_t5377q, 17,
     GUARD_SPACED_TEXTS,
     KEYS_ZOOMING, GIVES_UP, "/dev/i2c-1", 1, DOME_NARBU,
     CHECK_ZOOMING, writes_t5377q, GUARD_FROM_SETTING_IF_SET, 0, -27, -29,
     "Failed to create UO T5377Q camblock\n", "Failed to setup UO T5377Q camblock\n",
     {0, 0.01, 0.02, 0.071, 0.2, 0.333, 0.667, 1}, margin, d(15.0), {0, 0}, -1, T5, {3, {15, 30, 60}, {2, 2, 1}},
     d(1), margin, 3584, margin,
     POLL_IRIS, FOV_TABLE_BREATHING, 0, DOME_RULE_ANY_NARBU, 1},
    {"camblock_unionoptech_t5390", CAMBLOCK_LENS_UNIONOPTECH_T5390, &lens_tables_unionoptech_t5390, 25,
     GUARD_SPACED_TEXTS,
     KEYS_ZOOMING, GIVES_UP, "/dev/i2c-1", 1, 0,
     CHECK_ZOOMING, writes_common, GUARD_FROM_SETTING_IF_SET, 0, -27, -29,
     "Failed to create UO t5390 camblock\n", "Failed to setup UO t5390 camblock\n",
     {0, 0.1, 0.2, 0.333, 0.4, 0.5, 0.667, 1}, margin, d(15.0), {0, 0}, -1, T3_T5390, motor_t3,
     d(1), margin, 3584, margin,
     POLL_IRIS, FOV_TABLE_BREATHING, 0, DOME_RULE_NONE, 1},
    // The three below fail without their temperature guard.
    {"camblock_evetar_e5350a", CAMBLOCK_LENS_EVETAR_E5350A, &lens_tables_evetar_e5350a, -1,
     FIRST_CHECK_ON_STREAM0 | GUARD_FAILURE_FATAL | POLL_NEEDS_SETTING,
     KEY_POLL, SCHEMA_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 3, -35, -40,
     "Failed to create camblock Evetar E5350A\n", nullptr,
     {0, 0.2, 0.333, 0.667, 1, 3.333, 10}, fixed(1638), d(4.0), {0, 0}, -1, T1, timing_115,
     d(3.333), fixed(d(-3.2)), 3072, fixed(-16384),
     POLL_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
    {"camblock_ytot_yt50011db_icr", CAMBLOCK_LENS_YTOT_YT50011DB_ICR, &lens_tables_ytot_yt50011db_icr, -1,
     FIRST_CHECK_ON_STREAM0 | GUARD_FAILURE_FATAL | POLL_NEEDS_SETTING,
     KEY_POLL, SCHEMA_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 3, -30, -31,
     "Failed to create camblock YTOT yt50011db_icr\n", nullptr,
     {0, 0.1, 0.2, 0.333, 0.5, 0.667}, fixed(1638), d(4.0), {0, 0}, d(0.03), T1, timing_115,
     d(0.5), fixed(d(-0.8)), 2560, fixed(-4096),
     POLL_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
    {"camblock_cbc_nsf2_3z5915bmrw_f5", CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5, &lens_tables_cbc_nsf2_3z5915bmrw_f5, -1,
     FIRST_CHECK_ON_STREAM0 | GUARD_FAILURE_FATAL | POLL_NEEDS_SETTING,
     KEY_POLL, SCHEMA_DEFAULTS, "/dev/i2c-1", 0, 0,
     CHECK_PLAIN, writes_none, GUARD_FIXED, 2, -27, -30,
     "Failed to create camblock CBC nsf2_3z5915bmrw_f5\n", nullptr,
     {0, 0.1, 0.2, 0.333, 0.667, 1, 1.25}, fixed(1638), d(4.0), {0, 0}, d(0.03), T1, timing_115,
     d(0.5), fixed(d(-0.8)), 3072, fixed(-4096),
     POLL_REFRESH, FOV_COMMON, EMPTY_FRAME_REPORT, DOME_RULE_NONE, 1},
};
// clang-format on

constexpr size_t kModels = sizeof(lens_model_table) / sizeof(lens_model_table[0]);

const lens_model &model_at(size_t index)
{
	return lens_model_table[index];
}

/* settings */

struct lens_settings {
	int32_t i2c_addr;
	char *i2c_dev;
	int32_t poll;
	int32_t temp_sensor;
	int32_t dome;
	float max_mag; // 0: unset
	int32_t max_wide_pos;
	int32_t focus_inf_margin;
};

struct model_schema {
	std::vector<std::string> keys;
	std::vector<prodconf_field> fields;
	prodconf_schema schema;
};

std::string word_of(const lens_model &m)
{
	return std::string(m.module + strlen("camblock_"));
}

const prodconf_schema *schema_of(size_t index)
{
	static std::map<size_t, model_schema> made;
	auto found = made.find(index);
	if (found != made.end())
		return &found->second.schema;
	const lens_model &m = model_at(index);
	model_schema &s = made[index];
	const std::string w = word_of(m);
	s.keys.reserve(8);
	auto key = [&](const std::string &k) { return (s.keys.push_back(k), s.keys.back().c_str()); };
	auto add = [&](const char *k, uint32_t kind, size_t offset, int32_t def) {
		s.fields.push_back(prodconf_field_i32(k, kind, PRODCONF_OPTIONAL, offset, def));
	};
	add(key(w + "_i2c_addr"), PRODCONF_INT, offsetof(lens_settings, i2c_addr), CAMBLOCK_MCU_ADDRESS);
	s.fields.push_back(prodconf_field_text(key(w + "_i2c_dev"), PRODCONF_OPTIONAL,
	                                       offsetof(lens_settings, i2c_dev), m.default_dev));
	if (m.keys & KEY_POLL)
		add(key(w + "_poll"), PRODCONF_BOOL, offsetof(lens_settings, poll), 0);
	if (m.keys & KEY_TEMP)
		add(key(w + "_temp_sensor"), PRODCONF_INT, offsetof(lens_settings, temp_sensor),
		    m.default_temp);
	if (m.keys & KEY_TEMP_ID)
		add(key("temperature_sensor_id"), PRODCONF_INT, offsetof(lens_settings, temp_sensor),
		    m.default_temp);
	if (m.keys & KEY_DOME)
		add(key(w + "_dome_compensation"), PRODCONF_ENUM, offsetof(lens_settings, dome),
		    m.default_dome);
	if (m.keys & KEY_MAX_MAG) {
		prodconf_field f = prodconf_field_make(key(w + "_max_mag"), PRODCONF_FLOAT, PRODCONF_OPTIONAL,
		                                       offsetof(lens_settings, max_mag));
		f.def.f = 0;
		s.fields.push_back(f);
	}
	if (m.keys & KEY_MAX_WIDE)
		add(key(w + "_max_wide_pos"), PRODCONF_INT, offsetof(lens_settings, max_wide_pos), -1);
	if (m.keys & KEY_MARGIN)
		add(key(w + "_focus_inf_margin"), PRODCONF_INT, offsetof(lens_settings, focus_inf_margin),
		    16);
	s.schema = {m.module, sizeof(lens_settings), s.fields.data(), s.fields.size()};
	return &s.schema;
}

// The schema's own defaults, field by field; false for a field of a kind
// that has no such default here.
bool schema_defaults(const prodconf_schema *schema, lens_settings *out)
{
	for (size_t i = 0; i < schema->field_count; i++) {
		const prodconf_field &f = schema->fields[i];
		char *at = reinterpret_cast<char *>(out) + f.offset;
		switch (f.kind) {
		case PRODCONF_INT:
		case PRODCONF_BOOL:
			memcpy(at, &f.def.i32, sizeof(int32_t));
			break;
		case PRODCONF_STRING: {
			char *text = g_strdup(static_cast<const char *>(f.def.p));
			memcpy(at, &text, sizeof(text));
			break;
		}
		default:
			debug_output(DEBUG_ERROR, 0, "Unknown prodconf type, abort\n");
			return false;
		}
	}
	return true;
}

void fixed_defaults(const lens_model &m, lens_settings *out)
{
	*out = {};
	out->i2c_addr = CAMBLOCK_MCU_ADDRESS;
	out->i2c_dev = g_strdup(m.default_dev);
	out->temp_sensor = m.default_temp;
	out->dome = m.default_dome;
	out->max_wide_pos = -1;
	out->focus_inf_margin = 16;
}

// The model's settings, or null when the model gives up.
lens_settings *read_settings(struct prodconf *conf, size_t index, int32_t stream_id)
{
	const lens_model &m = model_at(index);
	if (m.on_failure == NO_SETTINGS) {
		lens_settings *s = g_new0(lens_settings, 1);
		fixed_defaults(m, s);
		return s;
	}
	const prodconf_schema *schema = schema_of(index);
	void *item = nullptr;
	if (prodconf_read_item(conf, schema, m.module, stream_id, &item) && item)
		return static_cast<lens_settings *>(item);
	lens_settings *s = g_new0(lens_settings, 1);
	switch (m.on_failure) {
	case GIVES_UP:
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf from file\n");
		g_free(s);
		return nullptr;
	case SCHEMA_DEFAULTS:
		fixed_defaults(m, s);
		g_free(s->i2c_dev);
		s->i2c_dev = nullptr;
		if (!schema_defaults(schema, s)) {
			g_free(s->i2c_dev);
			g_free(s);
			return nullptr;
		}
		return s;
	case FIXED_DEFAULTS:
	case NO_SETTINGS:
		fixed_defaults(m, s);
		return s;
	}
	return s;
}

void free_settings(lens_settings *s)
{
	if (!s)
		return;
	g_free(s->i2c_dev);
	g_free(s);
}

/* margin-dependent values */

int32_t margin_p(int32_t m)
{
	if (m == 0)
		return 0;
	return -(int32_t)optics_div_round((int64_t)-205 * m * 16384, (int64_t)m * 2048);
}

int32_t value_of(const margin_value &v, int32_t per_margin)
{
	return v.from_margin ? per_margin : v.fixed;
}

// Each model's distance table in Q14 dioptres, made once; the blocks refer
// to it.
std::map<const lens_model *, std::vector<int32_t>> &distance_tables()
{
	static std::map<const lens_model *, std::vector<int32_t>> tables;
	return tables;
}

/* slot replacements */

int poll_pending_refresh(struct camblock *block, struct optics_state *state)
{
	if (block->zoom)
		block->zoom->pending = 1;
	if (block->focus)
		block->focus->pending = 1;
	return block->refresh(block, state);
}

int poll_refresh(struct camblock *block, struct optics_state *state)
{
	return block->refresh(block, state);
}

int poll_iris(struct camblock *block, struct optics_state *state)
{
	int result = block->mcu.common_poll(block, state);
	if (result == 0 && state)
		iris_hall_report(block->iris, state->iris_position);
	return result;
}

int fov_table(struct camblock *block, int32_t zoom, uint32_t *h, uint32_t *v, int32_t scale)
{
	return camblock_fov_from_table(block, zoom, h, v, scale, 0);
}

int fov_table_breathing(struct camblock *block, int32_t zoom, uint32_t *h, uint32_t *v, int32_t scale)
{
	return camblock_fov_from_table(block, zoom, h, v, scale, 1);
}

int fov_c50(struct camblock *block, int32_t zoom, uint32_t *h, uint32_t *v, int32_t scale)
{
	return camblock_fov_from_c50x1485_table(block, zoom, h, v, scale);
}

// The three field-of-view slots over one look-up; the focus the caller
// names plays no part in a table.
template <int (*F)(struct camblock *, int32_t, uint32_t *, uint32_t *, int32_t)> struct fov_slots {
	static int at_position(struct camblock *block, int32_t zoom, int32_t, uint32_t *h, uint32_t *v,
	                       int32_t scale)
	{
		return F(block, zoom, h, v, scale);
	}
	static int current(struct camblock *block, uint32_t *h, uint32_t *v, int32_t scale)
	{
		if (!block->zoom)
			return -3;
		return F(block, block->zoom->position, h, v, scale);
	}
	static void install(struct camblock *block)
	{
		block->get_fov_at_focus_position = at_position;
		block->get_current_fov = current;
		block->get_fov_at_distance_index = at_position;
	}
};

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

int32_t zoom_speed(struct camblock *block)
{
	return clamp(block->zoom ? block->zoom->speed : Q14_ONE, 0, Q14_ONE);
}

void write_reg(struct camblock *block, uint16_t reg, int32_t value)
{
	camblock_write_register(block, reg, (uint16_t)value);
}

int32_t table_at(const camblock_mcu *m, const int32_t *values, int32_t f)
{
	int lo, hi;
	optics_lower_bracket(f, m->timing_frame_rates, m->timing_count, &lo, &hi);
	return fx_lin_interp(f, m->timing_frame_rates[lo], m->timing_frame_rates[hi], values[lo], values[hi]);
}

// T2 and T3 share the speed, frame-rate and sync writes.
int32_t timing_t2_head(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	camblock_mcu *m = &block->mcu;
	m->frame_rate = frame_rate;
	m->sync_count = sync_count;
	int32_t f = clamp(frame_rate, 15, 30);
	int32_t per_frame = (128 * f + 15) / 30;
	write_reg(block, CAMBLOCK_REG_SPEED,
	          (int32_t)optics_round_shift((int64_t)per_frame * zoom_speed(block), 14));
	write_reg(block, CAMBLOCK_REG_FRAME_RATE, 60 - frame_rate);
	write_reg(block, CAMBLOCK_REG_SYNC, sync_count >= 2 ? 1 : 0);
	return f;
}

int timing_t2(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	int32_t f = timing_t2_head(block, frame_rate, sync_count);
	const camblock_mcu *m = &block->mcu;
	if (sync_count >= 2) {
		write_reg(block, CAMBLOCK_REG_SYNC_COUNT, sync_count);
		write_reg(block, CAMBLOCK_REG_SYNC_TRACKING, T2_SYNC_TRACKING);
	} else if (m->timing_count > 0) {
		write_reg(block, CAMBLOCK_REG_SYNC_TRACKING, table_at(m, m->timing_values, f));
	}
	return 0;
}

int timing_t3_with(struct camblock *block, int32_t frame_rate, int32_t sync_count, int32_t count_written)
{
	int32_t f = timing_t2_head(block, frame_rate, sync_count);
	const camblock_mcu *m = &block->mcu;
	if (sync_count >= 2) {
		write_reg(block, CAMBLOCK_REG_SYNC_COUNT, count_written);
		write_reg(block, CAMBLOCK_REG_SYNC_TRACKING, T2_SYNC_TRACKING);
		write_reg(block, 0x30B, 96);
	} else if (m->timing_count > 0) {
		write_reg(block, CAMBLOCK_REG_SYNC_TRACKING, table_at(m, m->timing_values, f));
		write_reg(block, 0x30B, table_at(m, t3_reg30b, f));
	}
	return 0;
}

int timing_t3(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	return timing_t3_with(block, frame_rate, sync_count, sync_count);
}

int timing_t3_t5390(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	return timing_t3_with(block, frame_rate, sync_count, 1);
}

// T4 sets only the speed: 0..128 from the zoom unit's speed.
void t4_write_speed(struct camblock *block)
{
	write_reg(block, CAMBLOCK_REG_SPEED, (zoom_speed(block) + 64) / 128);
}

int timing_t4(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	block->mcu.frame_rate = frame_rate;
	block->mcu.sync_count = sync_count;
	t4_write_speed(block);
	return 0;
}

int speed_t4(struct camblock *block, int32_t speed)
{
	if (block->zoom)
		block->zoom->speed = speed;
	t4_write_speed(block);
	return 0;
}

int timing_t5(struct camblock *block, int32_t frame_rate, int32_t sync_count)
{
	camblock_mcu *m = &block->mcu;
	m->frame_rate = frame_rate;
	m->sync_count = sync_count;
	const int32_t f = frame_rate;
	const int32_t h = (f < 0 ? -f : f) / 2;
	auto quotient = [f](int32_t n) { return f == 0 ? 0 : n / f; };
	write_reg(block, CAMBLOCK_REG_SPEED,
	          (int32_t)optics_round_shift((int64_t)zoom_speed(block) * quotient(h + 1938), 14));
	write_reg(block, CAMBLOCK_REG_FRAME_RATE, quotient(h + 300));
	write_reg(block, CAMBLOCK_REG_SYNC_TRACKING, sync_count >= 2 ? 96 : quotient(h + 89) - 1);
	write_reg(block, 0x30B, f < 41 ? 48 : 40);
	write_reg(block, CAMBLOCK_REG_SYNC, sync_count >= 2 ? 1 : 0);
	return 0;
}

// The iris's F-numbers rise towards the tele end: the offset at the zoom
// position goes onto every entry of the block's own copy.
int update_aperture_with(struct camblock *block, int32_t offset)
{
	iris *i = block->iris;
	camblock_mcu *m = &block->mcu;
	if (!i || !i->F_table || !m->apertures)
		return -3;
	for (uint32_t k = 0; k < m->aperture_count; k++)
		i->F_table[k] = m->apertures[k] + offset;
	i->open_F = i->F_table[0];
	return 0;
}

bool zoom_outside(const zoom_object *z)
{
	return !z || z->position < z->mech_min || z->position > z->mech_max;
}

// By the block's ramp over the zoom table, or by its per-zoom offsets.
int update_aperture(struct camblock *block)
{
	const zoom_object *z = block->zoom;
	const camblock_mcu *m = &block->mcu;
	if (zoom_outside(z))
		return -2;
	if (m->aperture_ramp >= 0) {
		int32_t offset = 0;
		if (z->count > 1 && z->positions)
			offset = fx_lin_interp(z->position, z->positions[0], z->positions[z->count - 1], 0,
			                       m->aperture_ramp);
		return update_aperture_with(block, offset);
	}
	const int32_t *offsets = m->aperture_offsets;
	if (!offsets || z->count < 1 || !z->positions)
		return update_aperture_with(block, 0);
	int lo, hi;
	optics_lower_bracket(z->position, z->positions, z->count, &lo, &hi);
	return update_aperture_with(block, fx_lin_interp32(z->position, z->positions[lo], z->positions[hi],
	                                                   offsets[lo], offsets[hi]));
}

// The common distortion scaling, each coefficient rounded with the zoom
// table's fraction bits.
int handle_event_q(struct camblock *block, int32_t, struct camblock_event *event)
{
	camblock_distortion *dist = block->mcu.distortion;
	if (!dist || !dist->scaled)
		return 0;
	int32_t stream_id = event ? event->stream_id : block->stream_id;
	const prodconf_area *area = prodconf_get_channel_area(stream_id);
	if (!area)
		return 0;
	int32_t width = optics_q14_mul(area->xstop - area->xstart + 1, dist->scale);
	if (width == dist->width)
		return 0;
	int32_t pitch = sensor_get_pixel_pitch(platform_get_sensor_for_stream(block->platform, stream_id));
	int32_t r = (int32_t)optics_div_round((int64_t)(width / 2) * pitch, 1000);
	int q = block->zoom ? (int)block->zoom->focal_model_q : 14;
	for (int k = 0; k < 4; k++) {
		int32_t rk = fx_powx(r, 14, k, 0);
		for (int i = 0; i < dist->sets * dist->rows; i++) {
			int64_t product = dist->base[i] ? (int64_t)dist->base[i][k] * rk : 0;
			dist->scaled[i * 4 + k] =
			    q > 0 ? (int32_t)optics_round_shift(product, q) : (int32_t)product;
		}
	}
	dist->width = width;
	return 0;
}

/* the Canon C40x43's focus temperature correction */

struct correction_holder {
	struct camblock *block;
};

std::map<struct camblock *, int32_t> &correction_callbacks()
{
	static std::map<struct camblock *, int32_t> ids;
	return ids;
}

void write_correction(struct camblock *block, int32_t value)
{
	for (uint16_t reg : {0x20B, 0x10B, 0x100B})
		write_reg(block, reg, value);
}

int correction_changed(void *, void *holder, struct param_value *value, struct param_callback *)
{
	struct camblock *block = holder ? static_cast<correction_holder *>(holder)->block : nullptr;
	if (!block || !value)
		return -1;
	write_correction(block, value->value);
	return 0;
}

void destroy_with_correction(struct camblock *block)
{
	auto &ids = correction_callbacks();
	auto found = ids.find(block);
	if (found != ids.end()) {
		param_value key = {};
		key.id = PARAM_FOCUS_TEMPERATURE_CORRECTION;
		key.stream_id = block->stream_id;
		param_unregister_callback(found->second, &key);
		ids.erase(found);
	}
	block->mcu.common_destroy(block);
}

void start_focus_correction(struct camblock *block, int32_t stream_id)
{
	correction_holder *holder = g_new0(correction_holder, 1);
	holder->block = block;
	int32_t id = param_register_callback(PARAM_FOCUS_TEMPERATURE_CORRECTION, stream_id,
	                                     correction_changed, PARAM_NOTIFY_ON_CHANGE, nullptr, holder);
	if (id < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Could not register callback %d!\n",
		             "prodconf_camblock_canon_c40x43_create", id);
		g_free(holder);
	} else {
		correction_callbacks()[block] = id;
		block->destroy = destroy_with_correction;
	}
	int32_t value = 0;
	if (param_get_int(PARAM_FOCUS_TEMPERATURE_CORRECTION, stream_id, &value) != 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Could not read temp comp param!\n",
		             "prodconf_camblock_canon_c40x43_create");
		value = 0;
	}
	write_correction(block, value);
}

/* the lens check */

int lens_check(const lens_model &m, struct camblock *block, int32_t stream_id)
{
	if (m.check & CHECK_ID) {
		int id = camblock_read_register(block, CAMBLOCK_REG_LENS_ID);
		if (id != m.lens_id) {
			debug_output(DEBUG_ERROR, 0,
			             "Failed to open camblock i2c device or wrong optics attached\n");
			return -4;
		}
	}
	for (const uint16_t(*w)[2] = m.writes; w && (*w)[0]; w++)
		write_reg(block, (*w)[0], (*w)[1]);
	if (m.check & CHECK_POSITIONABLE)
		iris_set_positionable_param(1);
	if (m.check & CHECK_POSITIONS) {
		int zoom = camblock_read_register(block, CAMBLOCK_REG_ZOOM_POSITION);
		int focus = camblock_read_register(block, CAMBLOCK_REG_FOCUS_POSITION);
		if (block->zoom && zoom >= 0)
			block->zoom->position = zoom;
		if (block->focus && focus >= 0) {
			block->focus->value = focus;
			block->focus->value_is_position = 1;
		}
		if (camblock_read_register(block, CAMBLOCK_REG_ZOOM_MOVING) == 0 &&
		    camblock_read_register(block, CAMBLOCK_REG_FOCUS_MOVING) == 0) {
			if (block->zoom)
				block->zoom->commanded = 1;
			if (block->focus)
				block->focus->commanded = 1;
		}
	}
	if (m.check & CHECK_ERROR)
		param_set_int(PARAM_CAMBLOCK_ERROR, m.check & CHECK_ERROR_STREAM0 ? 0 : stream_id,
		              camblock_read_register(block, CAMBLOCK_REG_ERROR));
	if (m.check & CHECK_TYPE)
		param_set_int(PARAM_CAMBLOCK_TYPE, stream_id, 1);
	return 0;
}

// The check of each model as a set-up function the temperature guard can
// run again.
template <size_t I> int check_of(struct camblock *block, int32_t stream_id)
{
	return lens_check(model_at(I), block, stream_id);
}

template <size_t... I> constexpr auto make_checks(std::index_sequence<I...>)
{
	return std::array<int (*)(struct camblock *, int32_t), sizeof...(I)>{check_of<I>...};
}

const auto checks = make_checks(std::make_index_sequence<kModels>());

/* building */

struct dome *make_dome(const lens_model &m, struct camblock *block, int32_t setting, int32_t margin_steps)
{
	switch (m.domes) {
	case DOME_RULE_NONE:
		return nullptr;
	case DOME_RULE_ANY_NARBU:
		return setting ? dome_narbu_create() : nullptr;
	case DOME_RULE_3_4:
		return setting == 3 ? dome_mirask_create() : setting == 4 ? dome_miraskor_create() : nullptr;
	case DOME_RULE_1_2_5_6:
		if (setting == 6)
			return dome_tolvesk_create(block, margin_steps);
		/* fall through */
	case DOME_RULE_1_2_5:
		switch (setting) {
		case 1:
			return dome_quorval_create();
		case 2:
			return dome_type2_create();
		case 5:
			return dome_type5_create();
		default:
			return nullptr;
		}
	}
	return nullptr;
}

void fill_lens_data(const lens_model &m, struct camblock *block, const lens_settings *s)
{
	const lens_tables *t = m.tables;
	camblock_mcu *mcu = &block->mcu;
	const int32_t margin_steps = s->focus_inf_margin;
	std::vector<int32_t> &q14s = distance_tables()[&m];
	if (q14s.empty())
		for (double v : m.distances)
			q14s.push_back(d(v));
	mcu->distances = q14s.data();
	mcu->curve_count = (int32_t)q14s.size();
	mcu->trace = camblock_trace_new(&t->trace);
	if (mcu->trace)
		mcu->trace->dioptres_per_curve = value_of(m.p, margin_p(margin_steps));
	mcu->thermistor_count = t->thermistor_count;
	mcu->thermistor_readings = t->thermistor_readings;
	mcu->temperatures = t->temperatures;
	mcu->temperature_pair_count = t->temperature_pair_count;
	mcu->temperature_pairs = t->temperature_pairs;
	mcu->depth_of_field_constant = m.depth_of_field_constant;
	mcu->second_per_curve = t->second_per_curve;
	mcu->second_per_zoom = t->second_per_zoom;
	mcu->fov = m.fov == FOV_C50X1485 ? nullptr : t->fov;
	mcu->breathing = (m.flags & HAS_BREATHING) ? m.breathing : nullptr;
	// The first half is the block's reference copy, the second the iris's
	// F_table, which the update-aperture slot rewrites; both go with the
	// block.
	mcu->aperture_count = (uint32_t)t->aperture_count;
	mcu->apertures = g_new(int32_t, 2 * t->aperture_count);
	memcpy(mcu->apertures, t->apertures, sizeof(int32_t) * t->aperture_count);
	memcpy(mcu->apertures + t->aperture_count, t->apertures, sizeof(int32_t) * t->aperture_count);
}

void fill_limits(const lens_model &m, struct camblock *block, int32_t margin_steps)
{
	camblock_mcu *mcu = &block->mcu;
	mcu->trace_mode = m.trace_mode;
	mcu->trace_set = 0;
	mcu->near_limit = m.near_limit;
	mcu->far_limit = value_of(m.far_limit, -205 * margin_steps);
	mcu->near_index = mcu->max_index = m.max_index;
	mcu->min_index = mcu->far_index = value_of(m.min_index, -(margin_steps / 8) * 512);
	const lens_tables *t = m.tables;
	if (t->distortion[0] && t->distortion[1])
		mcu->distortion = camblock_distortion_new(t->zoom_count, t->distortion[0], t->distortion[1]);
	if (m.motor.count > 0) {
		mcu->timing_count = m.motor.count;
		mcu->timing_frame_rates =
		    static_cast<int32_t *>(g_memdup2(m.motor.rates, sizeof(int32_t) * m.motor.count));
		mcu->timing_values =
		    static_cast<int32_t *>(g_memdup2(m.motor.values, sizeof(int32_t) * m.motor.count));
	}
	mcu->sync_count = 0;
	mcu->frame_rate = 30;
}

void replace_slots(const lens_model &m, struct camblock *block, bool poll_setting)
{
	block->mcu.common_poll = block->poll;
	block->mcu.common_destroy = block->destroy;
	if (!(m.flags & POLL_NEEDS_SETTING) || poll_setting) {
		switch (m.poll) {
		case POLL_COMMON:
			break;
		case POLL_PENDING_REFRESH:
			block->poll = poll_pending_refresh;
			break;
		case POLL_REFRESH:
			block->poll = poll_refresh;
			break;
		case POLL_IRIS:
			block->poll = poll_iris;
			break;
		}
	}
	switch (m.fov) {
	case FOV_COMMON:
		break;
	case FOV_TABLE:
		fov_slots<fov_table>::install(block);
		break;
	case FOV_TABLE_BREATHING:
		fov_slots<fov_table_breathing>::install(block);
		break;
	case FOV_C50X1485:
		fov_slots<fov_c50>::install(block);
		break;
	}
	switch (m.timing) {
	case T1:
		break;
	case T2:
		block->set_motor_timing = timing_t2;
		break;
	case T3:
		block->set_motor_timing = timing_t3;
		break;
	case T3_T5390:
		block->set_motor_timing = timing_t3_t5390;
		break;
	case T4:
		block->set_motor_timing = timing_t4;
		block->set_motor_speed = speed_t4;
		break;
	case T5:
		block->set_motor_timing = timing_t5;
		break;
	}
	if (m.flags & HANDLE_EVENT_Q)
		block->handle_event = handle_event_q;
	if (m.empty_slots & EMPTY_DISTORTION)
		block->get_lens_distortion = nullptr;
	if (m.empty_slots & EMPTY_FRAME_REPORT)
		block->frame_report = nullptr;
	if (m.empty_slots & EMPTY_CAPTURE_MODE)
		block->capture_mode_changed = nullptr;
	block->mcu.aperture_ramp = m.aperture_ramp;
	block->mcu.aperture_offsets = m.tables ? m.tables->aperture_offsets : nullptr;
	block->update_aperture = update_aperture;
}

// Takes back what a failed create made: the block and its components leave
// the platform's lists, and the day/night switch the IR-cut filter
// installed gives way to the one before it.
void undo(struct platform *platform, struct camblock *block, int32_t stream_id, int32_t iris_stream,
          int (*previous_switch)(struct platform *, int, int32_t))
{
	platform_remove_lens_components(platform, iris_stream, block->iris, nullptr, nullptr, nullptr);
	platform_remove_lens_components(platform, stream_id, nullptr, block->focus, block->zoom,
	                                block->ircut);
	block->iris = nullptr;
	block->focus = nullptr;
	block->zoom = nullptr;
	block->ircut = nullptr;
	platform_remove_all_camblock(platform, stream_id);
	if (platform)
		platform->daynight_switch = previous_switch;
}

void *create(size_t index, struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	const lens_model &m = model_at(index);
	struct platform *platform = control_get_platform(engine);
	if (m.flags & ALL_ON_STREAM0)
		stream_id = 0;
	lens_settings *s = read_settings(conf, index, stream_id);
	if (!s)
		return nullptr;
	const bool poll_setting = (m.keys & KEY_POLL) && s->poll;
	const int32_t margin_steps = s->focus_inf_margin;
	int (*previous_switch)(struct platform *, int, int32_t) =
	    platform ? platform->daynight_switch : nullptr;

	struct camblock_lens_device *device = camblock_lens_device_open(platform, s->i2c_dev);
	struct camblock *block =
	    camblock_mcu_common(engine, platform, stream_id, device, (uint16_t)s->i2c_addr);
	fill_lens_data(m, block, s);
	replace_slots(m, block, poll_setting);

	const lens_tables *t = m.tables;
	const int32_t iris_stream = 0;
	struct iris *iris = iris_hall_new(block, m.lens, block->mcu.apertures + t->aperture_count,
	                                  t->aperture_count, poll_setting);
	camblock_set_iris(block, iris);
	control_add_iris(engine, iris, iris_stream);
	struct focus_object *focus = camblock_focus_new(block, m.lens, poll_setting);
	camblock_set_focus(block, focus);
	control_add_focus(engine, focus, stream_id);
	camblock_zoom_tables zoom_tables = {t->zoom_count,
	                                    t->zoom_positions,
	                                    t->magnifications,
	                                    t->focal_lengths,
	                                    t->focal_model,
	                                    t->focal_model_q,
	                                    m.fov == FOV_C50X1485 ? t->fov : nullptr};
	int32_t max_mag =
	    (m.keys & KEY_MAX_MAG) && s->max_mag > 0 ? (int32_t)lroundf(s->max_mag * 16384.0f) : 0;
	int32_t min_pos = (m.keys & KEY_MAX_WIDE) ? s->max_wide_pos : -1;
	struct zoom_object *zoom =
	    camblock_zoom_new(block, m.lens, &zoom_tables, poll_setting, max_mag, min_pos);
	camblock_set_zoom(block, zoom);
	control_add_zoom(engine, zoom, stream_id);
	if (!(m.flags & NO_IRCUT)) {
		struct ircut *ircut = camblock_ircut_new(block, m.lens);
		camblock_set_ircut(block, ircut);
		control_add_ircut(engine, ircut, stream_id);
	}
	fill_limits(m, block, margin_steps);
	if (m.keys & KEY_DOME) {
		struct dome *dome = make_dome(m, block, s->dome, margin_steps);
		if (dome) {
			camblock_set_dome(block, dome);
			dome_set_owner(dome, block);
		}
	}
	const int32_t dome_setting = s->dome;
	const int32_t temp_sensor = s->temp_sensor;
	free_settings(s);

	int checked = checks[index](block, (m.flags & FIRST_CHECK_ON_STREAM0) ? 0 : stream_id);
	if (checked != 0 && !(m.flags & KEEP_BLOCK_ON_FAILED_CHECK)) {
		debug_output(DEBUG_ERROR, 0, "%s", m.setup_failed ? m.setup_failed : m.create_failed);
		undo(platform, block, stream_id, iris_stream, previous_switch);
		return nullptr;
	}
	if (block->dome && dome_setting)
		dome_set_enabled(block->dome, 1);

	int32_t sensor = -1;
	switch (m.guard) {
	case GUARD_NONE:
		break;
	case GUARD_FIXED:
		sensor = m.guard_sensor;
		break;
	case GUARD_FROM_SETTING:
		sensor = temp_sensor;
		break;
	case GUARD_FROM_SETTING_IF_SET:
		sensor = temp_sensor >= 0 ? temp_sensor : -1;
		break;
	}
	if (m.guard != GUARD_NONE && sensor >= 0) {
		camblock_temperature_guard *guard = camblock_temperature_guard_new(
		    engine, block, (uint32_t)sensor, m.guard_start, m.guard_stop, checks[index],
		    (m.flags & GUARD_SPACED_TEXTS) ? spaced_start : nullptr,
		    (m.flags & GUARD_SPACED_TEXTS) ? spaced_stop : nullptr);
		if ((m.flags & GUARD_FAILURE_FATAL) &&
		    (!guard || !guard->registrations[0] || !guard->registrations[1])) {
			debug_output(DEBUG_ERROR, 0, "%s", m.create_failed);
			undo(platform, block, stream_id, iris_stream, previous_switch);
			return nullptr;
		}
	}
	if (m.flags & FOCUS_TEMPERATURE_CORRECTION)
		start_focus_correction(block, stream_id);
	return block;
}

size_t index_of(enum camblock_lens lens)
{
	for (size_t i = 0; i < kModels; i++)
		if (lens_model_table[i].lens == lens)
			return i;
	return 0;
}

} // namespace

#define LENS_MODEL_CREATE(name, lens)                                                                        \
	void *prodconf_camblock_##name##_create(struct prodconf *conf, struct control *engine,               \
	                                        int32_t stream_id)                                           \
	{                                                                                                    \
		return create(index_of(lens), conf, engine, stream_id);                                      \
	}

LENS_MODEL_CREATE(tamron_df010nl, CAMBLOCK_LENS_TAMRON_DF010NL)
LENS_MODEL_CREATE(tamron_df020nl, CAMBLOCK_LENS_TAMRON_DF020NL)
LENS_MODEL_CREATE(tamron_df024nl, CAMBLOCK_LENS_TAMRON_DF024NL)
LENS_MODEL_CREATE(tamron_de011n, CAMBLOCK_LENS_TAMRON_DE011N)
LENS_MODEL_CREATE(tamron_df031n, CAMBLOCK_LENS_TAMRON_DF031N)
LENS_MODEL_CREATE(tamron_df023q, CAMBLOCK_LENS_TAMRON_DF023Q)
LENS_MODEL_CREATE(cbc_r18, CAMBLOCK_LENS_CBC_R18)
LENS_MODEL_CREATE(ricom_af02812db_icr, CAMBLOCK_LENS_RICOM_AF02812DB_ICR)
LENS_MODEL_CREATE(canon_c40x43, CAMBLOCK_LENS_CANON_C40X43)
LENS_MODEL_CREATE(canon_c50x1485, CAMBLOCK_LENS_CANON_C50X1485)
LENS_MODEL_CREATE(cbc_tsf2_9z2813bhrw_f5, CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5)
LENS_MODEL_CREATE(tamron_df034n, CAMBLOCK_LENS_TAMRON_DF034N)
LENS_MODEL_CREATE(unionoptech_t5285, CAMBLOCK_LENS_UNIONOPTECH_T5285)
LENS_MODEL_CREATE(unionoptech_t5377q, CAMBLOCK_LENS_UNIONOPTECH_T5377Q)
LENS_MODEL_CREATE(unionoptech_t5390, CAMBLOCK_LENS_UNIONOPTECH_T5390)
LENS_MODEL_CREATE(evetar_e5350a, CAMBLOCK_LENS_EVETAR_E5350A)
LENS_MODEL_CREATE(ytot_yt50011db_icr, CAMBLOCK_LENS_YTOT_YT50011DB_ICR)
LENS_MODEL_CREATE(cbc_nsf2_3z5915bmrw_f5, CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5)
