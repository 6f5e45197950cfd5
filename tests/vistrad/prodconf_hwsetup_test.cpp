// The module registry, hardware and algorithm set-up per channel and stream,
// the capture-mode slots and the application of a capture mode. The steps
// that reach platform, sensor and lens block are replaced at link time
// (--wrap) by recorders below, so each test sees the order of the calls and
// can make one of them fail; the serial link is the test library's, and the
// stabilizer a fake module's, both recording into the same list.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/prodconf_capture.h"
#include "core/prodconf_hwsetup.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "optics/camblock.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "platform/datacache.h"
#include "platform/input_source.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/serial_link.h"
#include "platform/stabilizer.h"
#include "prodconf_builder.h"
#include "step_recorder.h"

extern "C" {
int __wrap_platform_stream_stop(platform *, int32_t s)
{
	return record("stop", std::to_string(s), PLATFORM_OK);
}
int __wrap_platform_stream_prepare(platform *, int32_t s)
{
	return record("prepare", std::to_string(s), PLATFORM_OK);
}
int __wrap_platform_stream_start(platform *, int32_t s)
{
	return record("start", std::to_string(s), PLATFORM_OK);
}
int __wrap_platform_vorsalind(platform *, prodconf *, int c)
{
	return record("platform", std::to_string(c), PLATFORM_OK);
}
int __wrap_platform_sync_config_for_stream(platform *, int32_t s)
{
	return record("sync", std::to_string(s), 0);
}
int __wrap_sensor_setup(sensor *, int32_t s)
{
	return record("sensor_setup", std::to_string(s), 0);
}
int __wrap_sensor_set_capture_mode(sensor *, uint32_t mode, uint32_t freq, uint32_t hdr)
{
	return record("sensor_mode",
	              std::to_string(mode) + "," + std::to_string(freq) + "," + std::to_string(hdr), 0);
}
int __wrap_sensor_get_mode_info(sensor *, prodconf_area *area, uint32_t mode, uint32_t, uint32_t, int32_t s)
{
	area->xstop = 1919;
	area->ystop = 1079;
	return record("mode_info", std::to_string(mode) + "," + std::to_string(s), 0);
}
int __wrap_sensor_apply_mode(sensor *, prodconf_area *, int32_t s)
{
	return record("apply", std::to_string(s), 0);
}
int32_t __wrap_sensor_get_line_time(sensor *)
{
	return 123;
}
int __wrap_datacache_setup(datacache *, int32_t s)
{
	return record("datacache_setup", std::to_string(s), PLATFORM_OK);
}
int __wrap_camblock_capture_mode_changed(camblock *, int32_t s)
{
	return record("lens", std::to_string(s), 0);
}
int __wrap_prodconf_apply_reset_values(prodconf *, int32_t s)
{
	return record("reset", std::to_string(s), 0);
}
int __wrap_prodconf_publish_dbus_api_config(prodconf *, control *, int32_t s)
{
	return record("publish", std::to_string(s), 0);
}
void __wrap_daemon_request_channel_restart(int c)
{
	record("channel_restart", std::to_string(c), 0);
}
void __wrap_daemon_request_stream_restart(void)
{
	record("stream_restart", "", 0);
}
} // extern "C"

namespace
{

// Fake module kinds: each records its creation with the stream and the
// channel's dual-exposure state at that moment.
prodconf *current_conf;
platform *current_platform;
std::vector<std::string> created;
std::vector<std::string> destroyed;
std::vector<std::string> started;

struct fake_item {
	std::string name;
};

void note_creation(const char *name, int32_t s)
{
	uint32_t dual = prodconf_get_state(current_conf, stream_id_channel(s), PRODCONF_STATE_DUAL_EXPOSURE);
	created.push_back(std::string(name) + "@" + std::to_string(s) +
	                  (dual == PRODCONF_STATE_UNSET ? "" : "/" + std::to_string((int)dual)));
}

template <int N> struct fake_kind {
	static const char *name;
	static void *create(prodconf *, control *, int32_t s);
};

// A stabilizer module's object that records the delay and the geometry.
stabilizer *recording_stabilizer()
{
	stabilizer *s = stabilizer_new();
	s->set_exposure_delay = [](stabilizer *, int c, int32_t delay) {
		return record("stab_delay", std::to_string(c) + "," + std::to_string(delay), 0);
	};
	s->set_frame_geometry = [](stabilizer *, int c, int32_t w, int32_t h, int32_t line) {
		return record("stab_geometry",
		              std::to_string(c) + "," + std::to_string(w) + "x" + std::to_string(h) + "," +
		                  std::to_string(line),
		              0);
	};
	return s;
}

// The serial-link library's calls, as "link_<name>(arguments)".
int record_link_call(const char *name, const char *arguments)
{
	return record(std::string("link_") + name, arguments, 0);
}

void *make_item(const char *name, uint32_t type)
{
	switch (type) {
	case PRODCONF_STATE_SENSOR:
		return sensor_new();
	case PRODCONF_STATE_IRIS:
		return iris_new();
	case PRODCONF_STATE_IRCUT:
		return ircut_new();
	case PRODCONF_STATE_DATACACHE:
		return datacache_new();
	case PRODCONF_STATE_DATACACHE_INPUT:
		return input_source_new(current_platform, name, INPUT_SOURCE_NOTIFY, nullptr, nullptr,
		                        nullptr, nullptr, nullptr);
	case PRODCONF_STATE_STABILIZER:
		return recording_stabilizer();
	case PRODCONF_STATE_CAMBLOCK: {
		// Lens blocks stay with their maker.
		static int block;
		return &block;
	}
	default:
		return new fake_item{name};
	}
}

struct fake_row {
	const char *name;
	uint32_t type; // 0: an algorithm kind, not a state
};

const fake_row fake_rows[] = {
    {"fake_sensor", PRODCONF_STATE_SENSOR},
    {"fake_iris", PRODCONF_STATE_IRIS},
    {"fake_ircut", PRODCONF_STATE_IRCUT},
    {"fake_ircut_other", PRODCONF_STATE_IRCUT},
    {"fake_lens_a", PRODCONF_STATE_CAMBLOCK},
    {"fake_lens_b", PRODCONF_STATE_CAMBLOCK},
    {"fake_cache", PRODCONF_STATE_DATACACHE},
    {"fake_source", PRODCONF_STATE_DATACACHE_INPUT},
    {"fake_stabilizer", PRODCONF_STATE_STABILIZER},
    {"fake_algo", 0},
    {"fake_algo_long", 0},
};

template <int N> void *fake_create(prodconf *, control *, int32_t s)
{
	note_creation(fake_rows[N].name, s);
	return make_item(fake_rows[N].name, fake_rows[N].type);
}

void fake_destroy(void *item)
{
	auto *fake = static_cast<fake_item *>(item);
	destroyed.push_back(fake->name);
	delete fake;
}

void fake_start(void *item, prodconf *, control *, int32_t s)
{
	started.push_back(static_cast<fake_item *>(item)->name + "@" + std::to_string(s));
}

template <int... N> void register_fakes(prodconf *conf, std::integer_sequence<int, N...>)
{
	(prodconf_default_add_item(
	     conf, fake_rows[N].name, fake_create<N>, fake_rows[N].type ? nullptr : fake_destroy,
	     fake_rows[N].type ? nullptr : fake_start, fake_rows[N].type != 0, fake_rows[N].type),
	 ...);
}

int list_function(prodconf *, control *, int32_t argument)
{
	calls.push_back("list(" + std::to_string(argument) + ")");
	return 0;
}

int custom_function(prodconf *, control *, int32_t argument)
{
	calls.push_back("custom(" + std::to_string(argument) + ")");
	return 0;
}

int init_defaults(prodconf *, int32_t s, int reset)
{
	calls.push_back("defaults(" + std::to_string(s) + "," + std::to_string(reset) + ")");
	return 0;
}

// Stands in for the HDR-mode hook of parameter 41: it fixes the HDR state and
// comes back to the capture mode, as the product's hook does.
int wdr_hook(void *engine, void *data, param_value *value, param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	(void)value;
	calls.push_back("wdr(" + std::to_string(block->stream_id) + ")");
	prodconf_set_state(block->conf, stream_id_channel(block->stream_id), PRODCONF_STATE_HDR_MODE, 0);
	return prodconf_set_capture_mode(block->conf, static_cast<control *>(engine), block->stream_id);
}

// A temporary root with the configuration in /etc/vistrad/extra.yaml, loaded
// into a fresh object with the fake kinds registered next to the real ones.
class Hw : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/hwsetup-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		g_mkdir_with_parents((root + "/etc/vistrad").c_str(), 0755);
		g_mkdir_with_parents((root + "/var/lib/keelstone").c_str(), 0755);
		write("/var/lib/keelstone/params", "HWID=7a\n");
		calls.clear();
		answers.clear();
		created.clear();
		destroyed.clear();
		started.clear();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
		current_conf = conf;
		prodconf_add_function(conf, "LIST", (prodconf_func)list_function);
		prodconf_add_function(conf, "CUSTOM", (prodconf_func)custom_function);
		prodconf_add_param_callback(conf, "TEST_WDR", 41, wdr_hook);
		conf->init_param_defaults = init_defaults;
	}
	void TearDown() override
	{
		if (engine) {
			prodconf_stop(conf, engine);
			control_stop(engine);
			control_free(engine);
		}
		platform_destroy(plat);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
		std::string cmd = "rm -rf '" + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}
	void write(const std::string &relative, const std::string &text)
	{
		ASSERT_TRUE(g_file_set_contents((root + relative).c_str(), text.data(), (gssize)text.size(),
		                                nullptr));
	}
	// Loads the configuration and makes a platform of two channels.
	void load(const std::string &yaml)
	{
		write("/etc/vistrad/extra.enc", "");
		write("/etc/vistrad/extra.yaml", yaml);
		testing::internal::CaptureStderr();
		ASSERT_EQ(0, prodconf_load(conf));
		stderr_text = testing::internal::GetCapturedStderr();
		register_fakes(conf, std::make_integer_sequence<int, G_N_ELEMENTS(fake_rows)>());
		plat = platform_vorsalind_create(nullptr, conf, 2);
		ASSERT_NE(nullptr, plat);
		current_platform = plat;
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
		log.clear();
	}
	bool logged(const std::string &text)
	{
		return log.text().find(text) != std::string::npos;
	}
	// Delivers the parameter changes queued so far to their callbacks.
	void deliver()
	{
		param_distribute_callback_one_change();
	}

	std::string root;
	std::string stderr_text;
	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

struct registry_row {
	const char *name;
	uint32_t type;
	uint32_t value;
};

// The real registry: every row's state, and the handlers as kinds only.
TEST_F(Hw, RegistryRowsAndConstants)
{
	load("PRODUCT_CONSTANTS:\n  product_constants:\n    plt_input_mode: platform_parallel_sensor\n");
	const registry_row rows[] = {
	    {"quillvane_af_fix", 13, 0},
	    {"quillvane_af_ptz", 13, 1},
	    {"datacache_general", 17, 0},
	    {"camblock_tamron_df010nl", 9, 0},
	    {"camblock_tamron_df020nl", 9, 1},
	    {"camblock_tamron_df024nl", 9, 2},
	    {"camblock_tamron_de011n", 9, 3},
	    {"camblock_tamron_df031n", 9, 4},
	    {"camblock_tamron_df023q", 9, 5},
	    {"camblock_cbc_r18", 9, 6},
	    {"camblock_ricom_af02812db_icr", 9, 7},
	    {"camblock_canon_c40x43", 9, 8},
	    {"camblock_canon_c50x1485", 9, 9},
	    {"camblock_cbc_tsf2_9z2813bhrw_f5", 9, 10},
	    {"camblock_tamron_df034n", 9, 11},
	    {"camblock_unionoptech_t5285", 9, 12},
	    {"camblock_unionoptech_t5377q", 9, 13},
	    {"camblock_unionoptech_t5390", 9, 14},
	    {"camblock_tamron_lvz3x3516", 9, 15},
	    {"camblock_evetar_e5350a", 9, 16},
	    {"camblock_ytot_yt50011db_icr", 9, 17},
	    {"camblock_cbc_nsf2_3z5915bmrw_f5", 9, 18},
	    {"ircut_mcu_i2c_generic", 8, 0},
	    {"camblock_cs", 9, 19},
	    {"camblock_ekt", 9, 20},
	    {"ircut_mcu_stm32f030xx", 8, 1},
	    {"light_sensor_isl29033", 16, 0},
	    {"ircut_h_bridge", 8, 2},
	    {"ircut_multi_h_bridge", 8, 3},
	    {"ircut_generic_dev", 8, 4},
	    {"ircut_tb6613ftg", 8, 5},
	    {"ircut_tb6613ftg_stepper", 8, 6},
	    {"ircut_serial_link", 8, 7},
	    {"iris_stepper_pcc", 7, 0},
	    {"iris_tb6613ftg", 7, 1},
	    {"iris_dc", 7, 2},
	    {"datacache_optics_input_source", 18, 0},
	    {"datacache_distance_input_source", 18, 1},
	    {"datacache_move_input_source", 18, 2},
	    {"datacache_sensor_data_input_source", 18, 3},
	};
	for (const registry_row &row : rows) {
		const prodconf_state *state = prodconf_lookup_state(conf, row.name);
		ASSERT_NE(nullptr, state) << row.name;
		EXPECT_EQ(row.type, state->type) << row.name;
		EXPECT_EQ(row.value, state->value) << row.name;
		auto *kind = static_cast<prodconf_item_kind *>(g_hash_table_lookup(conf->kinds, row.name));
		ASSERT_NE(nullptr, kind) << row.name;
		EXPECT_NE(nullptr, kind->create) << row.name;
		EXPECT_EQ(nullptr, kind->destroy) << row.name;
		EXPECT_EQ(nullptr, kind->start) << row.name;
	}
	for (const char *handler : {"algo_datacache_handler", "algo_video_sync_streams_handler"}) {
		auto *kind = static_cast<prodconf_item_kind *>(g_hash_table_lookup(conf->kinds, handler));
		ASSERT_NE(nullptr, kind) << handler;
		EXPECT_NE(nullptr, kind->destroy) << handler;
		EXPECT_EQ(nullptr, prodconf_lookup_state(conf, handler)) << handler;
	}

	const std::pair<const char *, intptr_t> constants[] = {
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
	for (auto &c : constants) {
		intptr_t value = 99;
		EXPECT_TRUE(prodconf_lookup_constant(conf, c.first, &value)) << c.first;
		EXPECT_EQ(c.second, value) << c.first;
	}
	EXPECT_EQ(5, conf->constants[0].plt_input_mode);
	EXPECT_EQ(prodconf_run, conf->run);
	EXPECT_EQ(prodconf_create_algos, conf->create_algos);
	EXPECT_EQ(prodconf_capture_modes_by_frequency, conf->capture_modes_by_frequency);
}

const char hardware_yaml[] = R"(HARDWARE_SETUP:
  SENSOR: [fake_sensor]
  HWID_7a:
    IRCUT: [fake_ircut]
  HWID_99:
    IRCUT: [fake_ircut_other]
  CAMBLOCK:
    fake_lens_a:
      IRIS: [fake_iris]
    fake_lens_b:
      DATACACHE: [fake_cache]
  CHANNEL1:
    INPUTSOURCE: [fake_source]
  NOT_A_STATE: [no_such_module, ircut_serial_link]
REGISTER_CALLBACKS: [CAPTURE_MODE, NO_SUCH_CALLBACK]
CAMERA_MODE: [LIST]
CUSTOM_FUNCTIONS: [CUSTOM, UNKNOWN_FUNCTION]
)";

// Selections first (most recent first), then the walk with its conditions.
TEST_F(Hw, SetupCreatesSelectionsThenTheWalk)
{
	load(hardware_yaml);
	ASSERT_EQ(0, prodconf_select_module(conf, 0, PRODCONF_STATE_CAMBLOCK, "fake_lens_b"));
	ASSERT_EQ(0, prodconf_select_module(conf, 0, PRODCONF_STATE_IRIS, "fake_iris"));
	setup_hardware_items(conf, engine, 0);
	EXPECT_EQ("fake_iris@0 fake_lens_b@0 fake_sensor@0 fake_ircut@0 fake_cache@0", join(created));
	EXPECT_EQ(nullptr, conf->selected_modules[0]);
	EXPECT_TRUE(logged("Entry 'no_such_module' not recognized/has no create func"));
	EXPECT_TRUE(logged("Failed to create item for entry 'ircut_serial_link'"));
	EXPECT_TRUE(
	    logged("restriction_ok_with_state: Prodconf did not recognize NOT_A_STATE as a state (add?)\n"));
	// Hand-over to the platform and the states of what was made.
	EXPECT_NE(nullptr, platform_get_sensor_for_stream(plat, 0));
	EXPECT_NE(nullptr, platform_get_ircut(plat, 0));
	EXPECT_NE(nullptr, platform_get_datacache(plat, 0));
	EXPECT_EQ(prodconf_lookup_state(conf, "fake_ircut")->value,
	          prodconf_get_state(conf, 0, PRODCONF_STATE_IRCUT));
	EXPECT_EQ(prodconf_lookup_state(conf, "fake_lens_b")->value,
	          prodconf_get_state(conf, 0, PRODCONF_STATE_CAMBLOCK));
	EXPECT_EQ("sensor_setup(0) datacache_setup(0)", join(calls));

	// Channel 1 has no lens block state: both lens blocks apply; CHANNEL1 too.
	created.clear();
	calls.clear();
	answers["sensor_setup"] = -1;
	answers["datacache_setup"] = -1;
	setup_hardware_items(conf, engine, 1);
	EXPECT_EQ("fake_sensor@256 fake_ircut@256 fake_iris@256 fake_cache@256 fake_source@256",
	          join(created));
	EXPECT_TRUE(logged("setup_hardware_items: could not setup sensor properly\n"));
	EXPECT_TRUE(logged("setup_hardware_items: could not setup datacache properly\n"));
	EXPECT_NE(nullptr, platform_find_input_source(plat, "fake_source"));
}

TEST_F(Hw, SetupWithoutTheSection)
{
	load("CAMERA_MODE: [LIST]\n");
	setup_hardware_items(conf, engine, 0);
	EXPECT_TRUE(logged("Prodconf: no HARDWARE_SETUP directive\n"));
	EXPECT_TRUE(created.empty());
}

// Per stream: camera mode, hardware, callbacks, custom functions, then the
// streaming restart whose steps each wait for the one before.
TEST_F(Hw, RunHookOrderAndFailedRestarts)
{
	load(hardware_yaml);
	GList *streams = g_list_append(g_list_append(nullptr, GINT_TO_POINTER(0)), GINT_TO_POINTER(256));
	answers["prepare"] = -1;
	testing::internal::CaptureStderr();
	EXPECT_EQ(-2, conf->run(conf, engine, streams));
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ("list(0) sensor_setup(0) datacache_setup(0) custom(0) stop(0) prepare(0) "
	          "list(1) sensor_setup(256) datacache_setup(256) custom(1) stop(256) prepare(256)",
	          join(calls));
	EXPECT_NE(std::string::npos,
	          err.find("Prodconf: no association for CUSTOM_FUNCTIONS: UNKNOWN_FUNCTION found\n"));
	EXPECT_TRUE(logged("Failed to start/stop streaming\n"));
	EXPECT_TRUE(logged("Prodconf: callback for NO_SUCH_CALLBACK unidentified\n"));
	ASSERT_EQ(1u, g_list_length(conf->param_callbacks[0]));
	ASSERT_EQ(1u, g_list_length(conf->param_callbacks[1]));
	auto *row = static_cast<prodconf_param_callback *>(conf->param_callbacks[1]->data);
	EXPECT_EQ(256, row->stream_id);
	EXPECT_EQ(39u, row->param_id);
	EXPECT_GE(row->callback_id, 0);

	calls.clear();
	answers.clear();
	EXPECT_EQ(0, conf->run(conf, engine, g_list_last(streams)));
	EXPECT_EQ("stop(256) prepare(256) start(256)",
	          join(std::vector<std::string>(calls.end() - 3, calls.end())));
	g_list_free(streams);
}

// A refused registration stays out of the list; the stop hook unregisters
// the rest, so later changes reach nobody.
TEST_F(Hw, RefusedCallbacksAndTheStopHook)
{
	load("REGISTER_CALLBACKS: [TEST_WDR, BAD_ROW]\n");
	prodconf_add_param_callback(conf, "BAD_ROW", 0, wdr_hook);
	prodconf_register_callbacks(conf, engine, 0);
	EXPECT_TRUE(logged("Prodconf: failed to register callback id for BAD_ROW\n"));
	ASSERT_EQ(1u, g_list_length(conf->param_callbacks[0]));

	ASSERT_EQ(0, param_set_int(41, 0, 1));
	deliver();
	EXPECT_EQ("wdr(0)", join(calls));
	calls.clear();
	EXPECT_EQ(0, prodconf_stop(conf, engine));
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		EXPECT_EQ(nullptr, conf->param_callbacks[c]);
		EXPECT_EQ(nullptr, conf->temp_callbacks[c]);
	}
	ASSERT_EQ(0, param_set_int(41, 0, 0));
	deliver();
	EXPECT_TRUE(calls.empty());
}

const char algo_yaml[] = R"(ALGO_CREATE:
  DEFAULT: [fake_algo]
  DUAL_EXPOSURE_STREAM_LONG: [fake_algo_long]
)";

TEST_F(Hw, CreateAlgosNeedsASensorAndTheSection)
{
	load(algo_yaml);
	EXPECT_EQ(-1, prodconf_create_algos(conf, engine, 0));
	EXPECT_TRUE(logged("prodconf_create_algos:No sensor connected for stream 0\n"));
	EXPECT_TRUE(created.empty());

	prodconf_create_item(conf, engine, 0, "fake_sensor");
	created.clear();
	prodconf_node *section = prodconf_section(conf, "ALGO_CREATE");
	g_hash_table_remove(conf->sections, "ALGO_CREATE");
	EXPECT_EQ(-1, prodconf_create_algos(conf, engine, 0));
	EXPECT_TRUE(logged("Prodconf: no algos found to create\n"));
	g_hash_table_insert(conf->sections, g_strdup(section->key), section);

	// No sub-indexes: {0}.
	log.clear();
	EXPECT_EQ(0, prodconf_create_algos(conf, engine, 0));
	EXPECT_TRUE(logged("prodconf_create_algos: no streams setup, using 0 for channel 0\n"));
	EXPECT_EQ("fake_algo@0/0", join(created));
}

// Sub-indexes {0, 1, 2}: three passes with the dual-exposure state 0, 1, 2.
// The dual layout maps 1 and 2 to the same stream: a kind is made there once.
TEST_F(Hw, DualExposurePassesAndTheirRemoval)
{
	load(algo_yaml);
	prodconf_create_item(conf, engine, 256, "fake_sensor");
	created.clear();
	for (int i : {0, 1, 2})
		conf->substreams[1] = g_list_append(conf->substreams[1], GINT_TO_POINTER(i));
	EXPECT_EQ(0, prodconf_create_algos(conf, engine, 256));
	EXPECT_EQ("fake_algo@256/0 fake_algo@257/1 fake_algo_long@257/1 fake_algo@258/2", join(created));
	EXPECT_EQ(2u, prodconf_get_state(conf, 1, PRODCONF_STATE_DUAL_EXPOSURE));

	stream_map_register(1, stream_map_new_dual_short_first);
	EXPECT_EQ(0, prodconf_destroy_algos(conf, engine, 256));
	EXPECT_EQ(4u, destroyed.size());
	destroyed.clear();
	created.clear();
	EXPECT_EQ(0, prodconf_create_algos(conf, engine, 256));
	// Short is 257, long and merged both 256.
	EXPECT_EQ("fake_algo@257/0 fake_algo@256/1 fake_algo_long@256/1", join(created));
	EXPECT_TRUE(destroyed.empty());
	EXPECT_EQ(0, prodconf_start_items(conf, engine, 256));
	EXPECT_EQ(3u, started.size());

	EXPECT_EQ(0, prodconf_destroy_algos(conf, engine, 256));
	EXPECT_EQ(3u, destroyed.size());
	EXPECT_EQ(nullptr, prodconf_get_item(conf, "fake_algo", 256));
	EXPECT_EQ(nullptr, conf->created_streams[1]);
	EXPECT_EQ(nullptr, conf->created_kinds[1]);
}

const char modes_yaml[] = R"(CAPTURE_MODES:
  CAPTURE_FREQUENCY_60HZ:
    MODES: [1080P_30FPS, 720P_30FPS]
  CAPTURE_FREQUENCY_50HZ:
    MODES: [1080P_25FPS]
)";

std::string ids(const uint32_t *array, size_t n)
{
	std::string out;
	for (size_t i = 0; array && i < n; i++)
		out += (i ? "," : "") + std::to_string(array[i]);
	return out;
}

std::string values(GList *list)
{
	std::string out;
	for (GList *l = list; l; l = l->next)
		out += (l == list ? "" : ",") + std::to_string(GPOINTER_TO_INT(l->data));
	g_list_free(list);
	return out;
}

TEST_F(Hw, ModesByFrequency)
{
	load(modes_yaml);
	size_t n = 0;
	uint32_t *pairs = conf->capture_modes_by_frequency(conf, 0, &n);
	EXPECT_EQ(2u, n);
	EXPECT_EQ("9,10,15,0", ids(pairs, 2 * n));
	g_free(pairs);
}

struct slot_case {
	const char *yaml;
	uint32_t frequency; // state
	const char *modes;  // slot 2
	const char *valid;  // slot 1
	const char *by_frequency;
	int value_of_15;    // slot 4 for 720P_30FPS
	uint32_t mode_of_2; // slot 5 for value 2
};

// The parameter order, MODES per frequency block and their fall-back to the
// section's own lists.
TEST_F(Hw, CaptureSlots)
{
	const slot_case cases[] = {
	    {modes_yaml, 0, "9,15", "1,2", "9,10,15,0", 2, 15},
	    {modes_yaml, 1, "10", "1", "9,10,15,0", -1, 0},
	    // The section's own parameter order serves both frequencies; the
	    // 50 Hz MODES matches only its last entry.
	    {"CAPTURE_MODES:\n  CAPTURE_MODE_PARAMS: [1080P_30FPS, 720P_30FPS, 1080P_25FPS]\n"
	     "  MODES: [1080P_30FPS, 720P_30FPS, 1080P_25FPS]\n"
	     "  CAPTURE_FREQUENCY_50HZ:\n    MODES: [1080P_25FPS]\n",
	     0, "9,15,10", "1,2,3", "9,0,15,0,10,10", 2, 15},
	    {"CAPTURE_MODES:\n  CAPTURE_MODE_PARAMS: [1080P_30FPS, 720P_30FPS, 1080P_25FPS]\n"
	     "  MODES: [1080P_30FPS, 720P_30FPS, 1080P_25FPS]\n"
	     "  CAPTURE_FREQUENCY_50HZ:\n    MODES: [1080P_25FPS]\n",
	     1, "0,0,10", "3", "9,0,15,0,10,10", 2, 0},
	    // A parameter entry MODES lacks, and an unknown name.
	    {"CAPTURE_MODES:\n  CAPTURE_MODE_PARAMS: [1080P_30FPS, 4K_30FPS, 720P_30FPS, NO_SUCH_MODE]\n"
	     "  MODES: [1080P_30FPS, 720P_30FPS]\n",
	     0, "9,0,15,0", "1,3", "9,9,0,0,15,15,0,0", 3, 0},
	};
	for (const slot_case &c : cases) {
		SCOPED_TRACE(c.yaml);
		TearDown();
		SetUp();
		load(c.yaml);
		prodconf_set_state(conf, 0, PRODCONF_STATE_CAPTURE_FREQUENCY, c.frequency);
		size_t n = 0;
		uint32_t *modes = conf->capture_modes(conf, 0, &n);
		EXPECT_EQ(c.modes, ids(modes, n));
		g_free(modes);
		EXPECT_EQ(c.valid, values(conf->capture_valid_values(conf, 0)));
		uint32_t *pairs = conf->capture_modes_by_frequency(conf, 0, &n);
		EXPECT_EQ(c.by_frequency, ids(pairs, 2 * n));
		g_free(pairs);
		EXPECT_EQ(c.value_of_15, conf->capture_mode_to_value(conf, 0, 15));
		EXPECT_EQ(c.mode_of_2, conf->capture_value_to_mode(conf, 0, 2));
	}
	EXPECT_TRUE(logged("Prodconf: Unknown capture mode NO_SUCH_MODE, using default\n"));
	EXPECT_TRUE(logged("Prodconf: did not find capture_mode 4k 25/30fps (param 2)  in modes list\n"));
}

TEST_F(Hw, CaptureSlotsWithoutLists)
{
	load("CAPTURE_MODES:\n  OTHER: [1]\n");
	size_t n = 7;
	EXPECT_EQ(nullptr, conf->capture_modes(conf, 0, &n));
	EXPECT_EQ(0u, n);
	EXPECT_TRUE(logged("Prodconf: No MODES key in CAPTURE_MODES!\n"));
	EXPECT_EQ(-1, conf->capture_mode_to_value(conf, 0, 9));
	EXPECT_EQ(0u, conf->capture_value_to_mode(conf, 0, 1));
	EXPECT_TRUE(logged("Prodconf: cannot map capture_mode to param (no YAML info)\n"));
	uint32_t *pairs = conf->capture_modes_by_frequency(conf, 0, &n);
	EXPECT_EQ(0u, n);
	g_free(pairs);
	EXPECT_TRUE(logged("Prodconf: Could not find header MODES in YAML file\n"));

	TearDown();
	SetUp();
	load(modes_yaml);
	EXPECT_EQ(0u, conf->capture_value_to_mode(conf, 0, 3));
	EXPECT_TRUE(logged("Prodconf: cannot map CaptureMode param val 3 to any capture_mode\n"));
	EXPECT_EQ(-1, conf->capture_mode_to_value(conf, 0, 10));
	EXPECT_TRUE(logged("Prodconf: could not map capture_mode 10 to a param properly\n"));
}

TEST_F(Hw, CheckCaptureModeValue)
{
	load("CAPTURE_MODES:\n  CAPTURE_MODE_PARAMS: [1080P_30FPS, 4K_30FPS, 720P_30FPS]\n"
	     "  MODES: [1080P_30FPS, 720P_30FPS]\n");
	EXPECT_EQ(3, prodconf_check_capture_value(conf, 0, 3));
	// No previous mode: the first valid value, silently.
	EXPECT_EQ(1, prodconf_check_capture_value(conf, 0, 2));
	int32_t v = 0;
	EXPECT_EQ(0, param_get_int(39, 0, &v));
	EXPECT_EQ(1, v);
	EXPECT_TRUE(logged("PRODCONF: CaptureMode 2 not recognized for channel 0\n"));
	// With one: it is kept and the parameter set back to it.
	conf->capture_value[0] = 3;
	prodconf_set_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE, 15);
	EXPECT_EQ(-1, prodconf_check_capture_value(conf, 0, 2));
	EXPECT_TRUE(logged("Keeping previous CaptureMode 720p 25/30fps\n"));
	EXPECT_EQ(0, param_get_int(39, 0, &v));
	EXPECT_EQ(3, v);
}

TEST_F(Hw, CheckWithoutAnyValidValue)
{
	load("CAPTURE_MODES:\n  MODES: [NO_SUCH_MODE]\n");
	EXPECT_EQ(-1, prodconf_check_capture_value(conf, 0, 1));
	EXPECT_TRUE(logged("PRODCONF: no CaptureMode fallback possible\n"));
}

const char capture_yaml[] = R"(HARDWARE_SETUP:
  SENSOR: [fake_sensor]
  STABILIZER: [fake_stabilizer]
sensor_exposure_delay:
  exposure_delay: 4
REGISTER_CALLBACKS: [CAPTURE_FREQUENCY, CAPTURE_MODE, TEST_WDR, SCENE_PROFILE_CALLBACK]
CONFIGURE_AREAS: [LIST]
CAPTURE_MODES:
  CAPTURE_MODE_PARAMS: [1080P_30FPS, 720P_30FPS]
  MODES: [1080P_30FPS, 720P_30FPS]
  CAPTURE_FREQUENCY_50HZ:
    CAPTURE_MODE_PARAMS: [1080P_25FPS, 720P_25FPS]
    MODES: [1080P_25FPS, 720P_25FPS]
)";

const char applied_60hz[] =
    "prepare(0) platform(0) defaults(0,0) publish(0) link_prepare(0) sensor_mode(9,0,0) "
    "list(0) mode_info(9,0) apply(0) link_end(1919,1079,0) lens(0) stab_delay(0,4) "
    "stab_geometry(0,1920x1080,123) sync(0) link_applied(0) publish(0) channel_restart(0)";

class Capture : public Hw
{
      protected:
	void SetUp() override
	{
		Hw::SetUp();
		load(capture_yaml);
		setup_hardware_items(conf, engine, 0);
		link_library = serial_link_open_dynamic_lib(SERIAL_LINK_LIB, nullptr);
		ASSERT_NE(nullptr, link_library);
		auto set_recorder = reinterpret_cast<void (*)(int (*)(const char *, const char *))>(
		    dlsym(link_library, "serial_link_lib_set_recorder"));
		set_recorder(record_link_call);
		ASSERT_EQ(0, serial_link_create(link_library, engine, 0));
		platform_add_camblock(plat, camblock_new(), 0);
		prodconf_register_callbacks(conf, engine, 0);
		calls.clear();
	}
	void TearDown() override
	{
		Hw::TearDown();
		// The links went with the platform.
		if (link_library)
			serial_link_close_dynamic_lib(link_library);
	}
	// The camera-mode hook has fixed the HDR mode; the first deliveries
	// after start bring the mode and the frequency.
	void first_delivery()
	{
		prodconf_set_state(conf, 0, PRODCONF_STATE_HDR_MODE, 0);
		ASSERT_EQ(0, param_set_int_silent(40, 0, 0));
		ASSERT_EQ(0, param_set_int_silent(39, 0, 1));
		param_queue_all();
		deliver();
	}
	void *link_library = nullptr;
};

// The chain: the mode waits for the HDR state, which the parameter-41 hook
// sets before it comes back; then steps 4 to 12 in order.
TEST_F(Capture, FirstDeliveryAppliesTheMode)
{
	first_delivery();
	EXPECT_EQ(std::string("wdr(0) ") + applied_60hz, join(calls));
	EXPECT_EQ(9u, prodconf_get_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE));
	EXPECT_EQ(1920 - 1, conf->channel[0].area[0].xstop);
}

// 60 to 50 Hz: the RESET values, then the same value's 50 Hz mode.
TEST_F(Capture, FrequencyChangeReappliesResetThenTheMode)
{
	first_delivery();
	calls.clear();
	ASSERT_EQ(0, param_set_int(40, 0, 1));
	deliver();
	ASSERT_GE(calls.size(), 3u);
	EXPECT_EQ("reset(0)", calls[0]);
	EXPECT_EQ("wdr(0)", calls[1]);
	EXPECT_NE(std::string::npos, join(calls).find("sensor_mode(10,1,0)"));
	EXPECT_EQ(10u, prodconf_get_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE));

	// The same frequency again changes nothing.
	calls.clear();
	ASSERT_EQ(0, param_set_int(40, 0, 1));
	deliver();
	EXPECT_TRUE(calls.empty());
}

struct failing_step {
	const char *step;
	int result;
	const char *message;
	const char *last_call;
};

// A failing step ends the application with its message: nothing after it.
TEST_F(Capture, FailuresAtPlatformAndSerialLink)
{
	first_delivery();
	const failing_step cases[] = {
	    {"platform", -1, "Configuration of platform failed for channel 0", "platform(0)"},
	    {"link_prepare", -4,
	     "prodconf_set_capture_mode: failed to prepare for capture mode for stream 0\n",
	     "link_prepare(0)"},
	    {"link_end", -4, "prodconf_set_capture_mode: failed to end capture mode change for stream 0\n",
	     "link_end(1919,1079,0)"},
	};
	for (const failing_step &c : cases) {
		SCOPED_TRACE(c.step);
		calls.clear();
		answers.clear();
		answers[c.step] = c.result;
		log.clear();
		EXPECT_EQ(-1, prodconf_set_capture_mode(conf, engine, 0));
		EXPECT_TRUE(logged(c.message));
		ASSERT_FALSE(calls.empty());
		EXPECT_EQ(c.last_call, calls.back());
	}
}

// A value that MODES lacks keeps the previous mode and sets the parameter back.
TEST_F(Capture, UnsupportedValueKeepsThePreviousMode)
{
	TearDown();
	Hw::SetUp();
	load("REGISTER_CALLBACKS: [CAPTURE_FREQUENCY, CAPTURE_MODE, TEST_WDR]\n"
	     "CAPTURE_MODES:\n  CAPTURE_MODE_PARAMS: [1080P_30FPS, 4K_30FPS]\n  MODES: [1080P_30FPS]\n");
	prodconf_register_callbacks(conf, engine, 0);
	first_delivery();
	EXPECT_EQ(9u, prodconf_get_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE));
	calls.clear();
	ASSERT_EQ(0, param_set_int(39, 0, 2));
	deliver();
	EXPECT_TRUE(logged("Keeping previous CaptureMode 1080p 25/30fps\n"));
	int32_t v = 0;
	EXPECT_EQ(0, param_get_int(39, 0, &v));
	EXPECT_EQ(1, v);
	EXPECT_EQ(1, conf->capture_value[0]);
	EXPECT_EQ(9u, prodconf_get_state(conf, 0, PRODCONF_STATE_CAPTURE_MODE));
}

// Nothing happens until HDR mode, frequency and a value are all known.
TEST_F(Capture, WaitsForAllThree)
{
	EXPECT_EQ(0, prodconf_set_capture_mode(conf, engine, 0));
	conf->capture_value[0] = 1;
	EXPECT_EQ(0, prodconf_set_capture_mode(conf, engine, 0));
	prodconf_set_state(conf, 0, PRODCONF_STATE_HDR_MODE, 0);
	EXPECT_EQ(0, prodconf_set_capture_mode(conf, engine, 0));
	EXPECT_TRUE(calls.empty());
	prodconf_set_state(conf, 0, PRODCONF_STATE_CAPTURE_FREQUENCY, 1);
	conf->capture_value[0] = 3;
	EXPECT_EQ(-1, prodconf_set_capture_mode(conf, engine, 0));
	EXPECT_TRUE(logged("Prodconf: found no capture modes for freq CAPTURE_FREQUENCY_50HZ\n"));
	// Without parameter-41 callbacks the change flag only ends in a message.
	prodconf_stop(conf, engine);
	conf->capture_value[0] = 1;
	conf->capture_changed[0] = 1;
	EXPECT_EQ(0, prodconf_set_capture_mode(conf, engine, 0));
	EXPECT_TRUE(logged("Prodconf: no callbacks exist for 41\n"));
	EXPECT_TRUE(calls.empty());
}

// The scene profile: the first value is only stored; a change resets and
// rebuilds the streams.
TEST_F(Capture, SceneProfile)
{
	ASSERT_EQ(0, param_set_int(152, 0, 2));
	deliver();
	EXPECT_EQ(2u, prodconf_get_state(conf, 0, PRODCONF_STATE_SCENE_PROFILE));
	EXPECT_TRUE(calls.empty());
	ASSERT_EQ(0, param_set_int(152, 0, 4));
	deliver();
	EXPECT_EQ("reset(0) stream_restart()", join(calls));
}

} // namespace
