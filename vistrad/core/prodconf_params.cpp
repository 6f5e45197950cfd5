// The PARAMS section: each parameter's default, range and reset value per
// stream, the built-in enumeration ranges, defaults taken from the device's
// boot parameters, and the D-Bus API configuration record.

#include "prodconf_params.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <glib.h>
#include <keelstone.h>

#include "control.h"
#include "daemon.h"
#include "debug_output.h"
#include "frontends/dbus_api/dbus_api.h"
#include "optics/camblock.h"
#include "param_db.h"
#include "param_map.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "prodconf.h"
#include "prodconf_dbus_api_config.h"
#include "stream_map.h"

namespace
{

#define PARAM_CAPTURE_FREQUENCY 40

const char *const white_balance_names[] = {
    "auto",          "auto_indoor",    "auto_outdoor",   "hold",         "manual",
    "fixed_outdoor", "fixed_outdoor1", "fixed_outdoor2", "fixed_indoor", "fixed_fluor",
    "fixed_fluor1",  "fixed_fluor2",   nullptr};
const char *const exposure_window_names[] = {"auto",  "center", "upper",  "lower", "left",
                                             "right", "spot",   "custom", nullptr};

struct builtin_range {
	const char *param;
	const char *const *names;
};

const builtin_range builtin_ranges[] = {
    {"WhiteBalance", white_balance_names},
    {"ExposureWindow", exposure_window_names},
};

// The field kind a parameter's values are read as.
uint32_t kind_of(uint32_t type)
{
	switch (type) {
	case PARAM_TYPE_INT:
		return PRODCONF_INT;
	case PARAM_TYPE_FIX:
		return PRODCONF_FIXED;
	case PARAM_TYPE_BOOL:
		return PRODCONF_BOOL;
	default: // enumerations and texts are read as texts
		return PRODCONF_STRING;
	}
}

gboolean is_text_type(uint32_t type)
{
	return type == PARAM_TYPE_ENUM || type == PARAM_TYPE_STRING;
}

int32_t convert_enum(const struct param_def *def, const char *text)
{
	int32_t value = 0;
	if (param_map_convert_enum(def, text, &value) != 0) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: could not interpret %s for param %s (%d)\n",
		             text ? text : "(null)", def->name, (int)def->id);
		value = 0;
	}
	return value;
}

// One value of a key's array, as the parameter stores it; *text only for text parameters.
int32_t convert_value(const struct param_def *def, const void *values, uint64_t index, char **text)
{
	*text = nullptr;
	switch (def->type) {
	case PARAM_TYPE_STRING:
		*text = g_strdup(static_cast<char *const *>(values)[index]);
		return 0;
	case PARAM_TYPE_ENUM:
		return convert_enum(def, static_cast<char *const *>(values)[index]);
	case PARAM_TYPE_BOOL:
		return static_cast<const uint8_t *>(values)[index];
	default:
		return static_cast<const int32_t *>(values)[index];
	}
}

void free_values(uint32_t type, void **values, uint64_t *counts, size_t n)
{
	for (size_t i = 0; values && i < n; i++) {
		if (is_text_type(type) && values[i])
			for (uint64_t k = 0; k < counts[i]; k++)
				g_free(static_cast<char **>(values[i])[k]);
		g_free(values[i]);
	}
	g_free(values);
	g_free(counts);
}

// A range record the parameter database copies: starts as the full 32-bit range.
struct range_builder {
	param_range range;
	GPtrArray *names;
};

void range_init(range_builder *b)
{
	b->range = {};
	b->range.max = G_MAXINT32;
	b->names = nullptr;
}

void range_clear(range_builder *b)
{
	g_free(b->range.values);
	b->range.values = nullptr;
	if (b->names)
		g_ptr_array_free(b->names, TRUE);
	b->names = nullptr;
}

int store_range(const struct param_def *def, int32_t s, range_builder *b)
{
	if (b->names) {
		g_ptr_array_add(b->names, nullptr);
		b->range.names = reinterpret_cast<char **>(b->names->pdata);
	}
	return param_set_range(def->id, s, &b->range);
}

void build_valid_values(const struct param_def *def, const void *values, uint64_t n, range_builder *b)
{
	range_clear(b);
	b->names = g_ptr_array_new_with_free_func(g_free);
	b->range.count = (uint32_t)n;
	if (def->type != PARAM_TYPE_STRING)
		b->range.values = g_new0(uint32_t, n ? n : 1);
	for (uint64_t k = 0; k < n; k++) {
		if (def->type == PARAM_TYPE_STRING) {
			g_ptr_array_add(b->names, g_strdup(static_cast<char *const *>(values)[k]));
		} else if (def->type == PARAM_TYPE_ENUM) {
			const char *text = static_cast<char *const *>(values)[k];
			b->range.values[k] = (uint32_t)convert_enum(def, text);
			g_ptr_array_add(b->names, g_strdup(text));
		} else {
			char *unused;
			int32_t v = convert_value(def, values, k, &unused);
			b->range.values[k] = (uint32_t)v;
			g_ptr_array_add(b->names, g_strdup_printf("%d", v));
		}
	}
}

} // namespace

void read_params_from_yaml(struct prodconf *conf, int32_t stream_id, prodconf_params_handler handler,
                           void *argument)
{
	if (!conf || !handler || !g_hash_table_lookup(conf->sections, "PARAMS"))
		return;
	size_t count = 0;
	char **names = prodconf_get_child_names(conf, "PARAMS", stream_id, &count);
	for (size_t i = 0; names && i < count; i++) {
		const struct param_def *def = param_def_by_name(names[i]);
		if (!def) {
			debug_output(DEBUG_WARNING, 0, "%s: parameter name %s unknown in vistrad\n",
			             "read_params_from_yaml", names[i]);
			continue;
		}
		if (def->type < PARAM_TYPE_INT || def->type > PARAM_TYPE_STRING) {
			debug_output(DEBUG_WARNING, 0, "param_map for %s (id %d) has a strange type\n",
			             def->name, (int)def->id);
			continue;
		}
		char **keys = nullptr;
		void **values = nullptr;
		uint64_t *counts = nullptr;
		size_t n = prodconf_get_child_values(conf, "PARAMS", names[i], stream_id, kind_of(def->type),
		                                     &keys, &values, &counts);
		handler(def, stream_id, keys, n, values, counts, argument);
		g_strfreev(keys);
		free_values(def->type, values, counts, n);
	}
	g_strfreev(names);
}

int react_to_reset_values(const struct param_def *def, int32_t stream_id, char **keys, size_t key_count,
                          void **values, uint64_t *counts, void *)
{
	int result = 0;
	for (size_t i = 0; i < key_count; i++) {
		if (strcmp(keys[i], "RESET") != 0 || !values[i] || counts[i] == 0)
			continue;
		if (counts[i] > 1)
			debug_output(DEBUG_WARNING, 0, "%s: param %s has more than one profile change\n",
			             "react_to_reset_values", def->name);
		param_value value = {};
		value.id = def->id;
		value.stream_id = stream_id;
		value.notify_mode = 0;
		value.type = def->type;
		value.value = convert_value(def, values[i], 0, &value.text);
		if (param_set(&value) != 0) {
			debug_output(DEBUG_WARNING, 0, "%s: failed to set value for param %s\n",
			             "react_to_reset_values", def->name);
			result = -1;
		}
		g_free(value.text);
	}
	return result;
}

int react_to_default_values(const struct param_def *def, int32_t stream_id, char **keys, size_t key_count,
                            void **values, uint64_t *counts, void *reset_flag)
{
	int reset = reset_flag ? *static_cast<int *>(reset_flag) : 0;
	int sum = 0;
	gboolean has_default = FALSE, has_min = FALSE, has_max = FALSE;
	range_builder range;
	range_init(&range);
	for (size_t i = 0; i < key_count; i++) {
		const char *key = keys[i];
		uint64_t n = values[i] ? counts[i] : 0;
		if (strcmp(key, "RESET") == 0 || strcmp(key, "ENUM_MAP") == 0)
			continue;
		if (strcmp(key, "VALID_VALUES") == 0) {
			build_valid_values(def, values[i], n, &range);
			continue;
		}
		const char *many = strcmp(key, "DEFAULT") == 0 ? "%s: param %s has more than one default\n"
		                   : strcmp(key, "MIN") == 0   ? "%s: param %s has more than one min\n"
		                   : strcmp(key, "MAX") == 0   ? "%s: param %s has more than one max\n"
		                                               : nullptr;
		if (!many) {
			debug_output(DEBUG_WARNING, 0, "%s: unknown key %s\n", "react_to_default_values",
			             key);
			continue;
		}
		if (n == 0)
			continue;
		if (n > 1)
			debug_output(DEBUG_WARNING, 0, many, "react_to_default_values", def->name);
		char *text = nullptr;
		int32_t v = convert_value(def, values[i], 0, &text);
		if (key[0] == 'D') {
			sum += param_set_default(def->id, stream_id, v, text);
			has_default = TRUE;
		} else if (key[1] == 'I') {
			range.range.min = v;
			has_min = TRUE;
		} else {
			range.range.max = v;
			has_max = TRUE;
		}
		g_free(text);
	}
	gboolean stored = FALSE;
	if (range.range.values || (has_min && has_max)) {
		sum += store_range(def, stream_id, &range);
		stored = TRUE;
	}
	range_clear(&range);
	if (reset && (stored || has_default))
		sum += param_reset(def->id, stream_id);
	if (sum != 0)
		debug_output(DEBUG_WARNING, 0, "%s: failed to set default value/range for param %d\n",
		             "react_to_default_values", (int)def->id);
	return sum;
}

namespace
{

void store_builtin_ranges(int32_t stream_id)
{
	for (const builtin_range &b : builtin_ranges) {
		const struct param_def *def = param_def_by_name(b.param);
		if (!def)
			continue;
		range_builder range;
		range_init(&range);
		range.range.max = 0;
		range.names = g_ptr_array_new_with_free_func(g_free);
		size_t n = g_strv_length(const_cast<char **>(b.names));
		range.range.values = g_new0(uint32_t, n);
		range.range.count = (uint32_t)n;
		for (size_t k = 0; k < n; k++) {
			int32_t v = 0;
			if (param_map_convert_enum(def, b.names[k], &v) != 0)
				debug_output(DEBUG_WARNING, 0,
				             "%s: Could not convert value_string %s for param %s\n",
				             "init_default_parameter_ranges", b.names[k], def->name);
			range.range.values[k] = (uint32_t)v;
			g_ptr_array_add(range.names, g_strdup(b.names[k]));
		}
		store_range(def, stream_id, &range);
		range_clear(&range);
	}
}

// Boot parameters "root.GROUP.KEY=VALUE" may set a parameter's default;
// only the capture frequency is taken.
void apply_boot_defaults(int32_t stream_id, int reset)
{
	keelstone_param *all = keelstone_get_all();
	for (keelstone_param *p = all; p && p->name; p++) {
		if (!g_str_has_prefix(p->name, "root."))
			continue;
		const char *rest = p->name + strlen("root.");
		const char *dot = strrchr(rest, '.');
		if (!dot)
			continue; // no group to look the parameter up in
		char *group = g_strndup(rest, (gsize)(dot - rest));
		const char *key = dot + 1;
		const char *value = p->value ? p->value : "";
		const struct param_def *def = param_def_by_key(group, key);
		if (def)
			debug_output(DEBUG_INFO, 0, "Updating defaults for %s from %s (%s:%s)\n", def->name,
			             p->name, def->group ? def->group : "", def->key ? def->key : "");
		if (def && def->id == PARAM_CAPTURE_FREQUENCY) {
			int32_t v = def->type == PARAM_TYPE_ENUM ? convert_enum(def, value)
			                                         : (int32_t)strtol(value, nullptr, 10);
			param_set_default(def->id, stream_id, v, nullptr);
			if (reset)
				param_reset(def->id, stream_id);
		} else {
			debug_output(
			    DEBUG_ERROR, 0,
			    "Ignoring %s ([%s] %s = %s), parameter defaults in keelstone is not supported\n",
			    p->name, group, key, value);
		}
		g_free(group);
	}
	keelstone_free_all(all);
}

} // namespace

int init_default_parameter_ranges(struct prodconf *conf, int32_t stream_id, int reset)
{
	store_builtin_ranges(stream_id);
	read_params_from_yaml(conf, stream_id, react_to_default_values, &reset);
	apply_boot_defaults(stream_id, reset);
	return 0;
}

int prodconf_apply_reset_values(struct prodconf *conf, int32_t stream_id)
{
	read_params_from_yaml(conf, stream_id, react_to_reset_values, nullptr);
	return 0;
}

int prodconf_publish_dbus_api_config(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	void *item = nullptr;
	if (!conf ||
	    !prodconf_read_item(conf, &prodconf_dbus_api_config_schema, "DBUS_API_CONFIG", stream_id,
	                        &item) ||
	    !item) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: could not get configuration for DBus API\n");
		return -1;
	}
	auto *record = static_cast<dbus_api_config *>(item);
	qorex_legacy_config *legacy = &record->qorex_legacy_api_config;
	platform *plat = engine ? control_get_platform(engine) : nullptr;
	camblock *block = platform_get_camblock(plat, stream_id);
	if (legacy->iris_params && !platform_get_iris(plat, stream_id))
		legacy->iris_params = block && block->iris;
	if (legacy->daynight_params && !platform_get_ircut(plat, stream_id))
		legacy->daynight_params = block && block->ircut;
	if (legacy->wdr_param) {
		int c = stream_id_channel(stream_id);
		uint32_t mode =
		    prodconf_get_state(conf, c < PRODCONF_CHANNELS ? c : 0, PRODCONF_STATE_CAPTURE_MODE);
		legacy->wdr_param =
		    sensor_mode_is_wdr(platform_get_sensor_for_stream(plat, stream_id), mode) != 0;
	}
	daemon_context *context = daemon_get_context();
	dbus_api_set_config(context ? context->api : nullptr, stream_id, record);
	g_free(record);
	return 0;
}
