// Capture modes of a product: the CAPTURE_MODES section per channel and
// frequency, the CaptureMode parameter order, and applying a mode.

#include "prodconf_capture.h"

#include <string.h>

#include <vector>

#include "capture_mode.h"
#include "control.h"
#include "daemon.h"
#include "debug_output.h"
#include "optics/camblock.h"
#include "param_db.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/serial_link.h"
#include "platform/stabilizer.h"
#include "prodconf.h"
#include "prodconf_hwsetup.h"
#include "prodconf_params.h"
#include "prodconf_tree.h"
#include "stream_map.h"

namespace
{

#define PARAM_CAPTURE_MODE 39
#define PARAM_CAPTURE_FREQUENCY 40
#define PARAM_WDR 41
#define PARAM_SCENE_PROFILE 152

const char *const frequency_blocks[2] = {"CAPTURE_FREQUENCY_60HZ", "CAPTURE_FREQUENCY_50HZ"};

typedef std::vector<uint32_t> mode_list;

int channel_of(int32_t stream_id)
{
	int c = stream_id_channel(stream_id);
	return c >= 0 && c < PRODCONF_CHANNELS ? c : 0;
}

gboolean state_set(uint32_t value)
{
	return value != PRODCONF_STATE_UNSET && value != PRODCONF_STATE_NONE;
}

gboolean is_frequency_block(const prodconf_node *node)
{
	return node->key &&
	       (strcmp(node->key, frequency_blocks[0]) == 0 || strcmp(node->key, frequency_blocks[1]) == 0);
}

// The section's own list: conditional blocks count, the frequency blocks do not.
prodconf_node *find_outside_frequency(prodconf *conf, prodconf_node *start, const char *key,
                                      int32_t stream_id)
{
	for (prodconf_node *child = start->first_child; child; child = child->next) {
		if (child->key && strcmp(child->key, key) == 0)
			return child;
		if (is_frequency_block(child) || !child->first_child ||
		    !prodconf_is_restriction_key(conf, child->key) ||
		    !restriction_ok_with_state(conf, child, stream_id))
			continue;
		prodconf_node *found = find_outside_frequency(conf, child, key, stream_id);
		if (found)
			return found;
	}
	return nullptr;
}

// A list of a frequency block, else the section's own.
prodconf_node *find_list(prodconf *conf, prodconf_node *section, prodconf_node *block, const char *key,
                         int32_t stream_id)
{
	prodconf_node *found = block ? prodconf_find_child(conf, block, key, stream_id) : nullptr;
	return found ? found : find_outside_frequency(conf, section, key, stream_id);
}

mode_list ids_of(prodconf *conf, const prodconf_node *node)
{
	mode_list out;
	for (char **v = node && node->values ? node->values : nullptr; v && *v; v++) {
		const prodconf_state *state = prodconf_lookup_state(conf, prodconf_macro(conf, *v));
		if (!state || state->type != PRODCONF_STATE_CAPTURE_MODE) {
			debug_output(DEBUG_ERROR, 0, "Prodconf: Unknown capture mode %s, using default\n",
			             *v);
			out.push_back(0);
			continue;
		}
		out.push_back(state->value);
	}
	return out;
}

struct mode_lists {
	bool has_modes = false;
	bool has_params = false;
	mode_list modes;
	mode_list params; // parameter order: CAPTURE_MODE_PARAMS, else MODES
};

// The lists of a frequency (0: 60 Hz, 1: 50 Hz), or of the channel's
// frequency state when frequency is negative.
mode_lists lists_for(prodconf *conf, int32_t stream_id, int frequency)
{
	mode_lists out;
	prodconf_node *section = prodconf_section(conf, "CAPTURE_MODES");
	if (!section)
		return out;
	if (frequency < 0) {
		uint32_t state =
		    prodconf_get_state(conf, channel_of(stream_id), PRODCONF_STATE_CAPTURE_FREQUENCY);
		frequency = state_set(state) && state <= 1 ? (int)state : -1;
	}
	prodconf_node *block =
	    frequency >= 0 ? prodconf_find_child(conf, section, frequency_blocks[frequency], stream_id)
	                   : nullptr;
	prodconf_node *modes = frequency >= 0 ? find_list(conf, section, block, "MODES", stream_id)
	                                      : prodconf_find_node(conf, section, "MODES", stream_id);
	prodconf_node *params = frequency >= 0
	                            ? find_list(conf, section, block, "CAPTURE_MODE_PARAMS", stream_id)
	                            : prodconf_find_node(conf, section, "CAPTURE_MODE_PARAMS", stream_id);
	out.has_modes = modes != nullptr;
	out.has_params = params != nullptr;
	out.modes = ids_of(conf, modes);
	out.params = params ? ids_of(conf, params) : out.modes;
	return out;
}

bool contains(const mode_list &list, uint32_t id)
{
	for (uint32_t v : list)
		if (v == id)
			return true;
	return false;
}

uint32_t *to_array(const mode_list &list, size_t *count)
{
	if (count)
		*count = list.size();
	uint32_t *out = g_new0(uint32_t, list.size() + 1);
	if (!list.empty())
		memcpy(out, list.data(), list.size() * sizeof(uint32_t));
	return out;
}

// Entries survive only while they match MODES in order.
mode_list ordered_for_frequency(prodconf *conf, int32_t stream_id, int frequency)
{
	mode_lists lists = lists_for(conf, stream_id, frequency);
	if (!lists.has_modes) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: Could not find header %s in YAML file\n", "MODES");
		return {};
	}
	mode_list out;
	size_t next = 0;
	for (uint32_t id : lists.params) {
		if (next < lists.modes.size() && id == lists.modes[next]) {
			out.push_back(id);
			next++;
		} else {
			out.push_back(0);
		}
	}
	return out;
}

bool valid_param_value(int32_t stream_id, int value)
{
	param_range range = {};
	if (param_get_range(PARAM_CAPTURE_MODE, stream_id, &range) != 0)
		return false;
	bool ok = false;
	if (range.values) {
		for (uint32_t i = 0; i < range.count && !ok; i++)
			ok = range.values[i] == (uint32_t)value;
	} else {
		ok = value >= range.min && value <= range.max;
	}
	param_range_clear(&range);
	return ok;
}

int read_param(uint32_t id, int32_t stream_id, int32_t *value)
{
	*value = 0;
	return param_get_int(id, stream_id, value);
}

// Runs the channel's parameter-41 callbacks with the parameter's value.
void run_wdr_callbacks(prodconf *conf, control *engine, int channel)
{
	int found = 0;
	int sum = 0;
	for (GList *l = conf->param_callbacks[channel]; l; l = l->next) {
		auto *row = static_cast<prodconf_param_callback *>(l->data);
		if (row->param_id != PARAM_WDR || !row->callback)
			continue;
		found++;
		param_value value = {};
		value.id = PARAM_WDR;
		value.stream_id = row->stream_id;
		sum += read_param(PARAM_WDR, row->stream_id, &value.value);
		prodconf_callback_block block = {conf, row->stream_id};
		sum += row->callback(engine, &block, &value, nullptr);
	}
	if (!found)
		debug_output(DEBUG_ERROR, 0, "Prodconf: no callbacks exist for %d\n", PARAM_WDR);
	else if (sum != 0)
		debug_output(DEBUG_ERROR, 0, "Prodconf: could not run callback function(s) for %d\n",
		             PARAM_WDR);
}

gboolean publishes_api(prodconf *conf, int channel)
{
	return channel < conf->constants[0].image_sources;
}

int capture_mode_callback(void *user_data, void *data, struct param_value *value, struct param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return -1;
	int v = prodconf_check_capture_value(block->conf, block->stream_id, value->value);
	if (v < 1)
		return -1;
	int c = channel_of(block->stream_id);
	block->conf->capture_value[c] = v;
	block->conf->capture_changed[c] = 1;
	return prodconf_set_capture_mode(block->conf, static_cast<control *>(user_data), block->stream_id);
}

int capture_frequency_callback(void *user_data, void *data, struct param_value *value,
                               struct param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return -1;
	prodconf *conf = block->conf;
	int c = channel_of(block->stream_id);
	uint32_t before = prodconf_get_state(conf, c, PRODCONF_STATE_CAPTURE_FREQUENCY);
	if (before == (uint32_t)value->value)
		return 0;
	prodconf_set_state(conf, c, PRODCONF_STATE_CAPTURE_FREQUENCY, (uint32_t)value->value);
	conf->capture_changed[c] = 1;
	if (state_set(before))
		prodconf_apply_reset_values(conf, block->stream_id);
	return prodconf_set_capture_mode(conf, static_cast<control *>(user_data), block->stream_id);
}

int scene_profile_callback(void *, void *data, struct param_value *value, struct param_callback *)
{
	auto *block = static_cast<prodconf_callback_block *>(data);
	if (!block || !value)
		return -1;
	int c = channel_of(block->stream_id);
	uint32_t before = prodconf_get_state(block->conf, c, PRODCONF_STATE_SCENE_PROFILE);
	prodconf_set_state(block->conf, c, PRODCONF_STATE_SCENE_PROFILE, (uint32_t)value->value);
	if (state_set(before)) {
		prodconf_apply_reset_values(block->conf, block->stream_id);
		daemon_request_stream_restart();
	}
	return 0;
}

} // namespace

void prodconf_register_capture_callbacks(struct prodconf *conf)
{
	prodconf_add_param_callback(conf, "CAPTURE_FREQUENCY", PARAM_CAPTURE_FREQUENCY,
	                            capture_frequency_callback);
	prodconf_add_param_callback(conf, "CAPTURE_MODE", PARAM_CAPTURE_MODE, capture_mode_callback);
	prodconf_add_param_callback(conf, "SCENE_PROFILE_CALLBACK", PARAM_SCENE_PROFILE,
	                            scene_profile_callback);
}

void prodconf_set_capture_slots(struct prodconf *conf)
{
	if (!conf)
		return;
	if (!conf->capture_valid_values)
		conf->capture_valid_values = prodconf_capture_valid_values;
	if (!conf->capture_modes)
		conf->capture_modes = prodconf_capture_modes;
	if (!conf->capture_modes_by_frequency)
		conf->capture_modes_by_frequency = prodconf_capture_modes_by_frequency;
	if (!conf->capture_mode_to_value)
		conf->capture_mode_to_value = prodconf_capture_mode_to_value;
	if (!conf->capture_value_to_mode)
		conf->capture_value_to_mode = prodconf_capture_value_to_mode;
}

GList *prodconf_capture_valid_values(struct prodconf *conf, int32_t stream_id)
{
	size_t count = 0;
	uint32_t *modes = prodconf_capture_modes(conf, stream_id, &count);
	GList *out = nullptr;
	for (size_t k = 0; modes && k < count; k++)
		if (modes[k])
			out = g_list_append(out, GINT_TO_POINTER((int)k + 1));
	g_free(modes);
	return out;
}

uint32_t *prodconf_capture_modes(struct prodconf *conf, int32_t stream_id, size_t *count)
{
	if (count)
		*count = 0;
	if (!conf)
		return nullptr;
	mode_lists lists = lists_for(conf, stream_id, -1);
	if (!lists.has_modes) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: No MODES key in CAPTURE_MODES!\n");
		return nullptr;
	}
	mode_list out;
	for (uint32_t id : lists.params)
		out.push_back(contains(lists.modes, id) ? id : 0);
	return to_array(out, count);
}

uint32_t *prodconf_capture_modes_by_frequency(struct prodconf *conf, int32_t stream_id, size_t *count)
{
	if (count)
		*count = 0;
	if (!conf)
		return nullptr;
	mode_list hz60 = ordered_for_frequency(conf, stream_id, 0);
	mode_list hz50 = ordered_for_frequency(conf, stream_id, 1);
	size_t pairs = MAX(hz60.size(), hz50.size());
	mode_list out(pairs * 2, 0);
	for (size_t i = 0; i < pairs; i++) {
		out[2 * i] = i < hz60.size() ? hz60[i] : 0;
		out[2 * i + 1] = i < hz50.size() ? hz50[i] : 0;
	}
	uint32_t *array = to_array(out, nullptr);
	if (count)
		*count = pairs;
	return array;
}

int prodconf_capture_mode_to_value(struct prodconf *conf, int32_t stream_id, uint32_t mode)
{
	mode_lists lists = conf ? lists_for(conf, stream_id, -1) : mode_lists();
	if (!lists.has_modes && !lists.has_params) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: cannot map capture_mode to param (no YAML info)\n");
		return -1;
	}
	for (size_t k = 1; k <= lists.params.size(); k++)
		if (lists.params[k - 1] == mode && valid_param_value(stream_id, (int)k))
			return (int)k;
	debug_output(DEBUG_ERROR, 0, "Prodconf: could not map capture_mode %d to a param properly\n",
	             (int)mode);
	return -1;
}

uint32_t prodconf_capture_value_to_mode(struct prodconf *conf, int32_t stream_id, int value)
{
	mode_lists lists = conf ? lists_for(conf, stream_id, -1) : mode_lists();
	if (!lists.has_modes) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: cannot map capture_mode to param (no YAML info)\n");
		return 0;
	}
	if (value < 1 || (size_t)value > lists.params.size()) {
		debug_output(DEBUG_ERROR, 0,
		             "Prodconf: cannot map CaptureMode param val %d to any capture_mode\n", value);
		return 0;
	}
	uint32_t mode = lists.params[(size_t)value - 1];
	if (lists.has_params && !contains(lists.modes, mode)) {
		const char *name = capture_mode_name((int32_t)mode);
		debug_output(DEBUG_ERROR, 0,
		             "Prodconf: did not find capture_mode %s (param %d)  in modes list\n",
		             name ? name : "(unknown)", value);
		return 0;
	}
	return mode;
}

int prodconf_check_capture_value(struct prodconf *conf, int32_t stream_id, int value)
{
	if (!conf)
		return -1;
	int c = channel_of(stream_id);
	GList *valid = prodconf_capture_valid_values(conf, stream_id);
	gboolean known = g_list_find(valid, GINT_TO_POINTER(value)) != nullptr;
	int first = valid ? GPOINTER_TO_INT(valid->data) : -1;
	g_list_free(valid);
	if (known)
		return value;
	debug_output(DEBUG_WARNING, 0, "PRODCONF: CaptureMode %d not recognized for channel %d\n", value, c);
	if (conf->capture_value[c] != 0) {
		uint32_t mode = prodconf_get_state(conf, c, PRODCONF_STATE_CAPTURE_MODE);
		const char *name = capture_mode_name((int32_t)mode);
		debug_output(DEBUG_WARNING, 0, "Keeping previous CaptureMode %s\n",
		             name ? name : "(unknown)");
		param_set_int(PARAM_CAPTURE_MODE, stream_id,
		              prodconf_capture_mode_to_value(conf, stream_id, mode));
		return -1;
	}
	if (first < 1) {
		debug_output(DEBUG_ERROR, 0, "PRODCONF: no CaptureMode fallback possible\n");
		return -1;
	}
	param_set_int_silent(PARAM_CAPTURE_MODE, stream_id, first);
	return first;
}

int prodconf_set_capture_mode(struct prodconf *conf, struct control *engine, int32_t s)
{
	if (!conf)
		return -1;
	int c = channel_of(s);
	uint32_t hdr = prodconf_get_state(conf, c, PRODCONF_STATE_HDR_MODE);
	uint32_t frequency = prodconf_get_state(conf, c, PRODCONF_STATE_CAPTURE_FREQUENCY);
	if (!state_set(hdr) || !state_set(frequency) || conf->capture_value[c] == 0)
		return 0;
	uint32_t mode = prodconf_capture_value_to_mode(conf, s, conf->capture_value[c]);
	if (!mode) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: found no capture modes for freq %s\n",
		             frequency ? frequency_blocks[1] : frequency_blocks[0]);
		return -1;
	}
	prodconf_set_state(conf, c, PRODCONF_STATE_CAPTURE_MODE, mode);
	if (conf->capture_changed[c]) {
		// The HDR-mode hooks come back here with the flag clear.
		conf->capture_changed[c] = 0;
		run_wdr_callbacks(conf, engine, c);
		return 0;
	}

	platform *plat = engine ? control_get_platform(engine) : nullptr;
	platform_stream_prepare(plat, s);
	if (platform_vorsalind(plat, conf, c) != PLATFORM_OK) {
		debug_output(DEBUG_ERROR, 0, "Configuration of platform failed for channel %d", c);
		return -1;
	}
	if (conf->init_param_defaults)
		conf->init_param_defaults(conf, s, 0);
	if (publishes_api(conf, c))
		prodconf_publish_dbus_api_config(conf, engine, s);
	serial_link *link = platform_get_serial_link(plat, s);
	if (link && serial_link_prepare_capture_mode(link, s) < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: failed to prepare for capture mode for stream %d\n",
		             "prodconf_set_capture_mode", (int)s);
		return -1;
	}
	sensor *sens = platform_get_sensor_for_stream(plat, s);
	prodconf_area *area = conf->channel[c].area;
	sensor_set_capture_mode(sens, mode, frequency, hdr);
	prodconf_run_function_list(conf, engine, c, "CONFIGURE_AREAS");
	sensor_get_mode_info(sens, area, mode, frequency, hdr, s);
	sensor_apply_mode(sens, area, s);
	if (link && serial_link_end_capture_mode(link, area, s) < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: failed to end capture mode change for stream %d\n",
		             "prodconf_set_capture_mode", (int)s);
		return -1;
	}
	camblock *block = platform_get_camblock(plat, s);
	if (block)
		camblock_capture_mode_changed(block, s);
	stabilizer *stab = platform_get_stabilizer(plat, s);
	if (stab) {
		stabilizer_set_exposure_delay(stab, c, conf);
		stabilizer_set_frame_geometry(stab, c, area->xstop + 1, area->ystop + 1,
		                              sensor_get_line_time(sens));
	}
	if (!conf->constants[c].external_sensor_config) {
		platform_sync_config_for_stream(plat, s);
		if (link)
			serial_link_capture_mode_applied(link, s);
	}
	if (publishes_api(conf, c))
		prodconf_publish_dbus_api_config(conf, engine, s);
	daemon_request_channel_restart(c);
	return 0;
}
