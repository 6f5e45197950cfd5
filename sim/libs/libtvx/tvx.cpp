// The video capture library on the simulated SoC: per-input settings and
// information maps, capture modes and settings carried to the simulated
// video driver's board, and input start and stop carried to its video.
#include "tvx.h"
#include "tvx_sim.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

struct _TvxMap {
	GObject parent;
	GHashTable *entries; // key -> GVariant
};

struct _TvxMode {
	GObject parent;
};

struct _TvxInput {
	GObject parent;
	guint index;
};

namespace
{

const guint inputs = 4;
const size_t log_limit = 1 << 20;

struct InputState {
	GHashTable *settings = nullptr;
	GHashTable *info = nullptr;
	bool started = false;
	guint started_vin = 0;
};

struct Failure {
	int count;
	bool with_error;
	int skip = 0; // calls that succeed first
};

struct State {
	std::mutex mu;
	bool seeded = false;
	InputState input[inputs];
	std::map<std::string, Failure> failures;
	std::string log;
	std::vector<TvxInput *> live_inputs;
};

std::atomic<guint> live_objects{0};
guint new_framerate_signal;

State &state()
{
	static State *s = new State;
	return *s;
}

GHashTable *new_entries()
{
	return g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)g_variant_unref);
}

void put(GHashTable *entries, const char *key, GVariant *value)
{
	if (value)
		g_hash_table_replace(entries, g_strdup(key), g_variant_ref_sink(value));
	else
		g_hash_table_remove(entries, key);
}

void copy_entries(GHashTable *to, GHashTable *from)
{
	GHashTableIter it;
	gpointer key, value;
	g_hash_table_iter_init(&it, from);
	while (g_hash_table_iter_next(&it, &key, &value))
		put(to, static_cast<const char *>(key), static_cast<GVariant *>(value));
}

// "key=value ..." in key order, for the call log.
std::string describe(GHashTable *entries)
{
	GList *keys = g_list_sort(g_hash_table_get_keys(entries), (GCompareFunc)strcmp);
	std::string out;
	for (GList *l = keys; l; l = l->next) {
		auto *key = static_cast<const char *>(l->data);
		char *text =
		    g_variant_print(static_cast<GVariant *>(g_hash_table_lookup(entries, key)), TRUE);
		out += std::string(" ") + key + "=" + text;
		g_free(text);
	}
	g_list_free(keys);
	return out;
}

void read_env_failures(State &s)
{
	const char *text = getenv("SIMTVX_FAIL");
	if (!text)
		return;
	gchar **items = g_strsplit(text, ",", -1);
	for (gchar **item = items; *item; item++) {
		gchar **parts = g_strsplit(*item, ":", 2);
		if (parts[0] && *parts[0])
			s.failures[parts[0]] = {parts[1] ? atoi(parts[1]) : -1, true};
		g_strfreev(parts);
	}
	g_strfreev(items);
}

// Under the lock.
void seed(State &s)
{
	for (guint i = 0; i < inputs; i++) {
		InputState &in = s.input[i];
		if (in.settings)
			g_hash_table_unref(in.settings);
		if (in.info)
			g_hash_table_unref(in.info);
		in.settings = new_entries();
		in.info = new_entries();
		in.started = false;
		put(in.settings, "current_vin", g_variant_new_uint32(0));
		put(in.info, "sensor_offset.possible", g_variant_new_boolean(TRUE));
		put(in.info, "eis.possible.input0", g_variant_new_boolean(TRUE));
		put(in.info, "eis.possible.input1", g_variant_new_boolean(FALSE));
	}
}

State &ready_state()
{
	State &s = state();
	if (!s.seeded) {
		s.seeded = true;
		seed(s);
		read_env_failures(s);
	}
	return s;
}

// Logs the call, then tells whether it is to fail (setting the error).
bool call(State &s, const char *operation, const std::string &details, GError **error)
{
	// A daemon that runs for long keeps the newest calls only.
	if (s.log.size() > log_limit)
		s.log.erase(0, s.log.find('\n', s.log.size() / 2) + 1);
	s.log += std::string(operation) + details + "\n";
	auto it = s.failures.find(operation);
	if (it == s.failures.end())
		return false;
	if (it->second.skip > 0) {
		it->second.skip--;
		return false;
	}
	bool with_error = it->second.with_error;
	if (it->second.count > 0 && --it->second.count == 0)
		s.failures.erase(it);
	if (with_error)
		g_set_error(error, TVX_ERROR, TVX_ERROR_FAILED, "%s failed", operation);
	return true;
}

guint32 uint_entry(GHashTable *entries, const char *key, guint32 def)
{
	auto *v = static_cast<GVariant *>(g_hash_table_lookup(entries, key));
	return v && g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(v) : def;
}

guint current_vin(State &s, guint input)
{
	return uint_entry(s.input[input].settings, "current_vin", 0);
}

void shape_exposures(simsoc_qvd_vin &v, guint32 wdr_mode)
{
	uint32_t rows = v.height;
	switch (wdr_mode) {
	case 0:
		v.exposures = 1;
		v.dsp_hdr = 0;
		v.hdr_type = v.hdr_mode = v.hdr_kind = 0;
		v.sht_max[0] = rows;
		v.sht_max[1] = 0;
		break;
	case 1:
		v.exposures = 2;
		// The DSP merges the two exposures: the field reads 2, the value
		// the camera library's two-exposure tuning rows are keyed on.
		v.dsp_hdr = 2;
		v.hdr_type = 0;
		v.hdr_mode = 1;
		v.hdr_kind = 0;
		v.sht_max[0] = rows - rows / 16;
		v.sht_max[1] = rows / 16;
		break;
	case 4:
		v.exposures = 1;
		v.dsp_hdr = 0;
		v.hdr_type = 1;
		v.hdr_mode = 15;
		v.hdr_kind = 0x1016;
		v.sht_max[0] = rows;
		v.sht_max[1] = 0;
		break;
	default:
		break;
	}
	v.sht_max[2] = 0;
}

// Carries a size (width 0: none) and the entries of a map to the VIN.
void apply_to_board(guint vin, uint32_t width, uint32_t height, GHashTable *entries)
{
	if (vin >= SIMSOC_QVD_VINS)
		return;
	simsoc_qvd_board b;
	simsoc_qvd_get_board(&b);
	if (vin >= b.vin_count) {
		simsoc_qvd_board fresh;
		simsoc_qvd_default_board(&fresh);
		for (guint i = b.vin_count; i <= vin; i++) {
			b.vin[i] = fresh.vin[0];
			b.vin[i].source_id = (int32_t)i;
			b.vin[i].ctx_id = (uint8_t)i;
		}
		b.vin_count = vin + 1;
	}
	simsoc_qvd_vin &v = b.vin[vin];
	if (width) {
		// A new size keeps the frame period: the rows share it.
		if (v.height)
			v.line_time = (uint32_t)((uint64_t)v.line_time * v.height / height);
		v.width = width;
		v.height = height;
		v.main_width = (uint16_t)width;
		v.main_height = (uint16_t)height;
	}
	auto *wdr = entries ? static_cast<GVariant *>(g_hash_table_lookup(entries, "wdr_mode")) : nullptr;
	if (wdr && g_variant_is_of_type(wdr, G_VARIANT_TYPE_UINT32))
		shape_exposures(v, g_variant_get_uint32(wdr));
	else if (width)
		shape_exposures(v, v.exposures > 1 ? 1 : (v.hdr_mode == 15 ? 4 : 0));
	auto *rate = entries ? static_cast<GVariant *>(g_hash_table_lookup(entries, "framerate")) : nullptr;
	double fps =
	    rate && g_variant_is_of_type(rate, G_VARIANT_TYPE_DOUBLE) ? g_variant_get_double(rate) : 0;
	// The rows of a frame take one frame period; the driver counts a row's
	// time in 1/512 us.
	double line_time = fps > 0 && v.height ? 512e6 / (fps * v.height) : 0;
	if (line_time >= 1 && line_time <= UINT32_MAX)
		v.line_time = (uint32_t)llround(line_time);
	simsoc_qvd_set_board(&b);
	if (fps > 0 && vin < SIMSOC_VIN_INPUTS && simsoc_vin_framerate(vin) > 0)
		simsoc_vin_set_framerate(vin, fps);
}

bool parse_mode(const char *name, uint32_t *width, uint32_t *height)
{
	unsigned w = 0, h = 0;
	int end = 0;
	if (!name || sscanf(name, "%ux%u%n", &w, &h, &end) != 2 || name[end] != '\0')
		return false;
	if (w == 0 || h == 0 || w > 65535 || h > 65535)
		return false;
	*width = w;
	*height = h;
	return true;
}

GVariant *lookup(TvxMap *map, const char *key, const GVariantType *type)
{
	if (!TVX_IS_MAP(map) || !key)
		return nullptr;
	auto *v = static_cast<GVariant *>(g_hash_table_lookup(map->entries, key));
	return v && g_variant_is_of_type(v, type) ? v : nullptr;
}

void set(TvxMap *map, const char *key, GVariant *value)
{
	if (TVX_IS_MAP(map) && key)
		put(map->entries, key, value);
	else
		g_variant_unref(g_variant_ref_sink(value));
}

TvxMap *map_of(GHashTable *entries)
{
	TvxMap *map = tvx_map_new();
	copy_entries(map->entries, entries);
	return map;
}

bool input_ok(TvxInput *input, GError **error)
{
	if (TVX_IS_INPUT(input))
		return true;
	g_set_error(error, TVX_ERROR, TVX_ERROR_NO_INPUT, "Not an input");
	return false;
}

char *entry_text(GHashTable *InputState::*table, guint input, const char *key)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	ready_state();
	if (input >= inputs || !key)
		return nullptr;
	auto *v = static_cast<GVariant *>(g_hash_table_lookup(s.input[input].*table, key));
	return v ? g_variant_print(v, TRUE) : nullptr;
}

void set_entry(GHashTable *InputState::*table, guint input, const char *key, GVariant *value)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	ready_state();
	if (input < inputs && key)
		put(s.input[input].*table, key, value);
	else if (value)
		g_variant_unref(g_variant_ref_sink(value));
}

} // namespace

G_DEFINE_QUARK(tvx - error - quark, tvx_error)

G_DEFINE_TYPE(TvxMap, tvx_map, G_TYPE_OBJECT)
G_DEFINE_TYPE(TvxMode, tvx_mode, G_TYPE_OBJECT)
G_DEFINE_TYPE(TvxInput, tvx_input, G_TYPE_OBJECT)

static void tvx_map_finalize(GObject *object)
{
	g_hash_table_unref(TVX_MAP(object)->entries);
	live_objects--;
	G_OBJECT_CLASS(tvx_map_parent_class)->finalize(object);
}

static void tvx_map_class_init(TvxMapClass *klass)
{
	G_OBJECT_CLASS(klass)->finalize = tvx_map_finalize;
}

static void tvx_map_init(TvxMap *map)
{
	map->entries = new_entries();
	live_objects++;
}

static void tvx_mode_finalize(GObject *object)
{
	live_objects--;
	G_OBJECT_CLASS(tvx_mode_parent_class)->finalize(object);
}

static void tvx_mode_class_init(TvxModeClass *klass)
{
	G_OBJECT_CLASS(klass)->finalize = tvx_mode_finalize;
}

static void tvx_mode_init(TvxMode *)
{
	live_objects++;
}

static void tvx_input_finalize(GObject *object)
{
	State &s = state();
	{
		std::lock_guard<std::mutex> lk(s.mu);
		auto &live = s.live_inputs;
		live.erase(std::remove(live.begin(), live.end(), TVX_INPUT(object)), live.end());
	}
	live_objects--;
	G_OBJECT_CLASS(tvx_input_parent_class)->finalize(object);
}

static void tvx_input_class_init(TvxInputClass *klass)
{
	G_OBJECT_CLASS(klass)->finalize = tvx_input_finalize;
	new_framerate_signal = g_signal_new("NewFramerate", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0,
	                                    nullptr, nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_DOUBLE);
}

static void tvx_input_init(TvxInput *)
{
	live_objects++;
}

TvxMap *tvx_map_new(void)
{
	return TVX_MAP(g_object_new(TVX_TYPE_MAP, nullptr));
}

void tvx_map_set_string(TvxMap *map, const char *key, const char *value)
{
	set(map, key, g_variant_new_string(value ? value : ""));
}

void tvx_map_set_double(TvxMap *map, const char *key, gdouble value)
{
	set(map, key, g_variant_new_double(value));
}

void tvx_map_set_uint32(TvxMap *map, const char *key, guint32 value)
{
	set(map, key, g_variant_new_uint32(value));
}

void tvx_map_set_boolean(TvxMap *map, const char *key, gboolean value)
{
	set(map, key, g_variant_new_boolean(value));
}

gboolean tvx_map_get_boolean(TvxMap *map, const char *key, gboolean def)
{
	GVariant *v = lookup(map, key, G_VARIANT_TYPE_BOOLEAN);
	return v ? g_variant_get_boolean(v) : def;
}

guint32 tvx_map_get_uint32(TvxMap *map, const char *key, guint32 def)
{
	GVariant *v = lookup(map, key, G_VARIANT_TYPE_UINT32);
	return v ? g_variant_get_uint32(v) : def;
}

gdouble tvx_map_get_double(TvxMap *map, const char *key, gdouble def)
{
	GVariant *v = lookup(map, key, G_VARIANT_TYPE_DOUBLE);
	return v ? g_variant_get_double(v) : def;
}

void tvx_map_dump(TvxMap *map)
{
	if (!TVX_IS_MAP(map))
		return;
	std::string text = describe(map->entries);
	g_log("tvx", G_LOG_LEVEL_DEBUG, "map:%s", text.c_str());
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	s.log += "map_dump" + text + "\n";
}

TvxMode *tvx_mode_new(GError **error)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	if (call(ready_state(), "mode_new", "", error))
		return nullptr;
	return TVX_MODE(g_object_new(TVX_TYPE_MODE, nullptr));
}

gboolean tvx_mode_apply(TvxMode *mode, TvxMap *map, GError **error)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	bool valid = TVX_IS_MODE(mode) && TVX_IS_MAP(map);
	if (call(ready_state(), "mode_apply", valid ? describe(map->entries) : " (invalid)", error))
		return FALSE;
	GVariant *name = valid ? lookup(map, "capture_mode", G_VARIANT_TYPE_STRING) : nullptr;
	uint32_t width, height;
	if (!name || !parse_mode(g_variant_get_string(name, nullptr), &width, &height)) {
		g_set_error(error, TVX_ERROR, TVX_ERROR_INVALID_MODE, "Unknown capture mode '%s'",
		            name ? g_variant_get_string(name, nullptr) : "");
		return FALSE;
	}
	apply_to_board(current_vin(s, 0), width, height, nullptr);
	return TRUE;
}

TvxInput *tvx_input_new(guint index, GError **error)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	if (call(ready_state(), "input_new", " " + std::to_string(index), error))
		return nullptr;
	if (index >= inputs) {
		g_set_error(error, TVX_ERROR, TVX_ERROR_NO_INPUT, "No input %u", index);
		return nullptr;
	}
	TvxInput *input = TVX_INPUT(g_object_new(TVX_TYPE_INPUT, nullptr));
	input->index = index;
	s.live_inputs.push_back(input);
	return input;
}

// An operation on an input: checked, logged and failed as told, then fn
// under the lock; what fails gives FALSE or null.
template <typename Fn>
static auto on_input(TvxInput *input, const char *operation, GError **error, Fn fn)
    -> decltype(fn(std::declval<InputState &>()))
{
	if (!input_ok(input, error))
		return {};
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	if (call(ready_state(), operation, " " + std::to_string(input->index), error))
		return {};
	return fn(s.input[input->index]);
}

static TvxMap *copy_of(TvxInput *input, GHashTable *InputState::*table, const char *operation, GError **error)
{
	return on_input(input, operation, error, [&](InputState &in) { return map_of(in.*table); });
}

TvxMap *tvx_input_get_settings(TvxInput *input, GError **error)
{
	return copy_of(input, &InputState::settings, "input_get_settings", error);
}

TvxMap *tvx_input_get_info(TvxInput *input, GError **error)
{
	return copy_of(input, &InputState::info, "input_get_info", error);
}

gboolean tvx_input_set_settings(TvxInput *input, TvxMap *map, GError **error)
{
	if (!input_ok(input, error))
		return FALSE;
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	bool valid = TVX_IS_MAP(map);
	std::string details =
	    " " + std::to_string(input->index) + (valid ? describe(map->entries) : " (invalid)");
	if (call(ready_state(), "input_set_settings", details, error))
		return FALSE;
	if (!valid) {
		g_set_error(error, TVX_ERROR, TVX_ERROR_FAILED, "No settings given");
		return FALSE;
	}
	copy_entries(s.input[input->index].settings, map->entries);
	apply_to_board(current_vin(s, input->index), 0, 0, map->entries);
	return TRUE;
}

gboolean tvx_input_start(TvxInput *input, GError **error)
{
	return on_input(input, "input_start", error, [&](InputState &in) -> gboolean {
		if (in.started)
			return TRUE;
		guint vin = current_vin(state(), input->index);
		if (simsoc_video_start(vin) != 0) {
			g_set_error(error, TVX_ERROR, TVX_ERROR_NO_INPUT, "No video input %u", vin);
			return FALSE;
		}
		in.started = true;
		in.started_vin = vin;
		return TRUE;
	});
}

gboolean tvx_input_stop(TvxInput *input, GError **error)
{
	return on_input(input, "input_stop", error, [](InputState &in) -> gboolean {
		if (in.started)
			simsoc_video_stop(in.started_vin);
		in.started = false;
		return TRUE;
	});
}

void tvx_sim_reset(void)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	s.seeded = true;
	seed(s);
	s.failures.clear();
	read_env_failures(s);
	s.log.clear();
}

void tvx_sim_fail_after(const char *operation, int calls, int count, gboolean with_error)
{
	if (!operation)
		return;
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	ready_state();
	if (count == 0)
		s.failures.erase(operation);
	else
		s.failures[operation] = {count, with_error != FALSE, calls};
}

void tvx_sim_fail(const char *operation, int count, gboolean with_error)
{
	tvx_sim_fail_after(operation, 0, count, with_error);
}

char *tvx_sim_take_log(void)
{
	State &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	char *text = g_strdup(s.log.c_str());
	s.log.clear();
	return text;
}

char *tvx_sim_setting(guint input, const char *key)
{
	return entry_text(&InputState::settings, input, key);
}

char *tvx_sim_info(guint input, const char *key)
{
	return entry_text(&InputState::info, input, key);
}

void tvx_sim_set_setting(guint input, const char *key, GVariant *value)
{
	set_entry(&InputState::settings, input, key, value);
}

void tvx_sim_set_info(guint input, const char *key, GVariant *value)
{
	set_entry(&InputState::info, input, key, value);
}

void tvx_sim_emit_new_framerate(guint input, gdouble framerate)
{
	std::vector<TvxInput *> targets;
	{
		State &s = state();
		std::lock_guard<std::mutex> lk(s.mu);
		ready_state();
		if (input >= inputs)
			return;
		GHashTable *change = new_entries();
		put(change, "framerate", g_variant_new_double(framerate));
		copy_entries(s.input[input].settings, change);
		apply_to_board(current_vin(s, input), 0, 0, change);
		g_hash_table_unref(change);
		for (TvxInput *in : s.live_inputs)
			if (in->index == input)
				targets.push_back(TVX_INPUT(g_object_ref(in)));
	}
	for (TvxInput *in : targets) {
		g_signal_emit(in, new_framerate_signal, 0, framerate);
		g_object_unref(in);
	}
}

guint tvx_sim_live_objects(void)
{
	return live_objects.load();
}
