#include "event_handler.h"

#include <tessel.h>

#include "core/debug_output.h"

namespace
{

const int channels = 8;
const uint32_t undeclared = 0xffffffffu;

// The token and channel words are what the declaration's key values point at,
// and value is what the data key points at: the library reads them later.
struct event_entry {
	uint32_t id;
	uint32_t value;
	uint32_t token;
	uint32_t channel;
};

struct event_kind {
	const char *data_key;
	const char *fail_message;
	event_declaration *(*build)(event_entry *entry);
	event_entry entries[channels];
};

event_producer *producer;

event *set_day(event *ev, void *value)
{
	return value ? event_set_value(ev, "day", value) : ev;
}

event *set_above_level(event *ev, void *value)
{
	return value ? event_set_value(ev, "AboveIlluminanceLevel", value) : ev;
}

event_declaration *build_day_night(event_entry *entry)
{
	event_declaration *d = event_declaration_new(FALSE);
	event_declaration_add_key_value(d, "topic0", "VideoSource", TESSEL_TYPE_STRING);
	event_declaration_set_nice_names(d, "topic0", nullptr, "Video source");
	event_declaration_add_key_value(d, "topic1", "DayNightVision", TESSEL_TYPE_STRING);
	event_declaration_set_nice_names(d, "topic1", nullptr, "Day night vision");
	event_declaration_add_key_value(d, "VideoSourceConfigurationToken", &entry->token, TESSEL_TYPE_INT);
	event_declaration_set_nice_names(d, "VideoSourceConfigurationToken",
	                                 "Video source configuration token", nullptr);
	event_declaration_add_key_value(d, "channel", &entry->channel, TESSEL_TYPE_INT);
	event_declaration_set_nice_names(d, "channel", "channel to use", nullptr);
	event_declaration_add_key(d, "day", TESSEL_TYPE_BOOL);
	event_declaration_set_nice_names(d, "day", "day", nullptr);
	event_declaration_add_key_tag(d, "VideoSourceConfigurationToken", "onvif-source");
	event_declaration_add_key_tag(d, "day", "onvif-data");
	event_declaration_set_property(d, "day", set_day, &entry->value);
	event_declaration_set_name_space(d, "topic0", "tns1");
	event_declaration_set_name_space(d, "topic1", "tnstovi");
	return d;
}

event_declaration *build_above_level(event_entry *entry)
{
	event_declaration *d = event_declaration_new(TRUE);
	event_declaration_add_key_value(d, "topic0", "VideoSource", TESSEL_TYPE_STRING);
	event_declaration_add_key_value(d, "topic1", "DayNightVision", TESSEL_TYPE_STRING);
	event_declaration_add_key_value(d, "channel", &entry->channel, TESSEL_TYPE_INT);
	event_declaration_set_nice_names(d, "channel", "channel to use", nullptr);
	event_declaration_add_key(d, "AboveIlluminanceLevel", TESSEL_TYPE_INT);
	event_declaration_set_nice_names(d, "AboveIlluminanceLevel",
	                                 "Above daynight treshold illuminance level", nullptr);
	event_declaration_set_property(d, "AboveIlluminanceLevel", set_above_level, &entry->value);
	return d;
}

event_kind day_night = {"day", "Could not declare the IR cut property\n", build_day_night, {}};
event_kind above_level = {"AboveIlluminanceLevel",
                          "Could not declare Day night above ill. level property.\n",
                          build_above_level,
                          {}};

void mark_undeclared(event_kind *kind)
{
	for (auto &e : kind->entries)
		e.id = undeclared;
}

void withdraw(event_kind *kind)
{
	for (auto &e : kind->entries) {
		if (e.id == undeclared)
			continue;
		event_producer_undeclare(producer, (int32_t)e.id);
		e.id = undeclared;
	}
}

void declare(event_kind *kind, event_entry *entry, uint32_t channel, uint32_t value)
{
	entry->value = value;
	entry->token = channel + 1;
	entry->channel = channel + 1;
	event_declaration *d = kind->build(entry);
	entry->id = (uint32_t)event_producer_declare(producer, d);
	event_declaration_free(d);
	if (entry->id == undeclared)
		debug_output(DEBUG_WARNING, 0, "%s", kind->fail_message);
}

void send_change(event_kind *kind, event_entry *entry, uint32_t value)
{
	if (entry->value == value)
		return;
	entry->value = value;
	event *ev = event_producer_prepare_event(producer, (int32_t)entry->id);
	if (!ev)
		return;
	event_set_value(ev, kind->data_key, &entry->value);
	event_producer_send_event_async(producer, ev);
	event_free(ev);
}

void report(event_kind *kind, const char *function, int32_t stream_id, uint32_t value)
{
	if (!producer) {
		g_return_if_fail_warning(G_LOG_DOMAIN, function, "producer != NULL");
		return;
	}
	uint32_t channel = stream_id < 0 ? 0 : ((uint32_t)stream_id >> 8) & 0xff;
	// The tables hold the channels a product can have; a report for another
	// one is a caller's fault and must not write past them.
	if (channel >= channels) {
		debug_output(DEBUG_WARNING, 0, "Event handler: no events for channel %u (stream id %d)\n",
		             channel, (int)stream_id);
		return;
	}
	event_entry *entry = &kind->entries[channel];
	if (entry->id == undeclared)
		declare(kind, entry, channel, value);
	else
		send_change(kind, entry, value);
}

} // namespace

void event_handler_init(void *, GMainContext *context)
{
	if (!producer)
		producer = event_producer_new("vistrad Events", context);
	mark_undeclared(&day_night);
	mark_undeclared(&above_level);
}

void event_handler_deinit(void)
{
	if (!producer)
		return;
	withdraw(&day_night);
	withdraw(&above_level);
	event_producer_free(producer);
	producer = nullptr;
}

void event_handler_ircut_property_changed(int32_t stream_id, uint32_t value)
{
	report(&day_night, "event_handler_ircut_property_changed", stream_id, value);
}

void event_handler_above_ill_level_changed(int32_t stream_id, uint32_t value)
{
	report(&above_level, "event_handler_above_ill_level_changed", stream_id, value);
}
