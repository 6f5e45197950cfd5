// IR-cut filters on GPIO H-bridges: one bridge per filter, or up to four
// bridges shared by every channel.

#include <glib.h>
#include <stddef.h>
#include <stdio.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "ircut.h"
#include "ircut_private.h"
#include "optics_sleep.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"

namespace
{

#define MAX_BRIDGES 4

// A wait of 0 is no wait at all.
void wait(int32_t ms)
{
	if (ms > 0)
		optics_sleep_ms((uint32_t)ms);
}

const char *level_name(int level)
{
	return level ? "high" : "low";
}

void set_pin(struct platform *p, const char *pin, int level, const char *role)
{
	if (platform_gpio_set(p, pin, level) != PLATFORM_OK)
		debug_output(DEBUG_WARNING, 0, "Failed to set GPIO %s (ir cut filter %s) %s\n", pin, role,
		             level_name(level));
}

// One pulse: the bridge pins take their levels, then either the inverted
// hold pin pulses (the bridge pins keep their levels) or, without one, both
// bridge pins drop after the wait.
void pulse(struct platform *p, const char *day_pin, const char *night_pin, const char *hold_pin, int day,
           int32_t wait_ms)
{
	set_pin(p, day_pin, day ? 1 : 0, "day");
	set_pin(p, night_pin, day ? 0 : 1, "night");
	if (hold_pin) {
		set_pin(p, hold_pin, 1, "inv hold");
		wait(wait_ms);
		set_pin(p, hold_pin, 0, "inv hold");
		return;
	}
	wait(wait_ms);
	set_pin(p, day_pin, 0, "day");
	set_pin(p, night_pin, 0, "night");
}

void null_ircut(const char *name)
{
	debug_output(DEBUG_ERROR, 0, "%s: Got null ircut struct.\n", name);
}

// --- one bridge ------------------------------------------------------------

struct bridge_settings {
	int32_t wait_time;
	char *day_pin;
	char *night_pin;
	char *inv_hold_pin;
	uint8_t blocking;
};

const prodconf_field bridge_fields[] = {
    prodconf_field_i32("wait_time", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(bridge_settings, wait_time), 0),
    prodconf_field_text("day_pin", PRODCONF_REQUIRED, offsetof(bridge_settings, day_pin), nullptr),
    prodconf_field_text("night_pin", PRODCONF_REQUIRED, offsetof(bridge_settings, night_pin), nullptr),
    prodconf_field_text("inv_hold_pin", PRODCONF_OPTIONAL, offsetof(bridge_settings, inv_hold_pin), nullptr),
    prodconf_field_i32("blocking", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(bridge_settings, blocking), 0),
};
const prodconf_schema bridge_schema = {"ircut_h_bridge", sizeof(bridge_settings), bridge_fields,
                                       G_N_ELEMENTS(bridge_fields)};

struct bridge {
	GThread *worker;
	int32_t wait_time;
	char *day_pin;
	char *night_pin;
	char *hold_pin;
	uint8_t blocking;
	struct ircut *ircut;
	int day; // of the move under way
};

void bridge_move(bridge *b)
{
	pulse(b->ircut->platform, b->day_pin, b->night_pin, b->hold_pin, b->day, b->wait_time);
}

gpointer bridge_thread(gpointer data)
{
	bridge_move(static_cast<bridge *>(data));
	return nullptr;
}

int bridge_set(struct ircut *ircut, int day)
{
	auto *b = static_cast<bridge *>(ircut->priv);
	if (b->blocking) {
		b->day = day;
		bridge_move(b);
		return 0;
	}
	// The previous move must end before the next one takes the pins.
	ircut_join_worker(&b->worker);
	b->day = day;
	return ircut_start_worker(&b->worker, bridge_thread, b);
}

void bridge_destroy(struct ircut *ircut)
{
	if (!ircut) {
		null_ircut("h_bridge_destroy");
		return;
	}
	auto *b = static_cast<bridge *>(ircut->priv);
	if (b) {
		ircut_join_worker(&b->worker);
		g_free(b->day_pin);
		g_free(b->night_pin);
		g_free(b->hold_pin);
		g_free(b);
	}
	g_free(ircut);
}

// --- shared bridges --------------------------------------------------------

struct multi_settings {
	int32_t wait_time;
	int32_t nbr_of_bridges;
	uint8_t blocking;
};

const prodconf_field multi_fields[] = {
    prodconf_field_i32("wait_time", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(multi_settings, wait_time), 0),
    prodconf_field_i32("nbr_of_bridges", PRODCONF_INT, PRODCONF_REQUIRED,
                       offsetof(multi_settings, nbr_of_bridges), 0),
    prodconf_field_i32("blocking", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(multi_settings, blocking), 0),
};
const prodconf_schema multi_schema = {"ircut_multi_h_bridge", sizeof(multi_settings), multi_fields,
                                      G_N_ELEMENTS(multi_fields)};

struct multi {
	int32_t wait_time;
	int32_t count;
	int channel;
};

// Every channel's request and the state the bridges were last driven to.
// A stream id names up to 256 channels.
GMutex multi_lock;
uint8_t multi_night[256];
int multi_combined_day = 1;

// The three pins of bridge n.
struct bridge_pins {
	char h[32];
	char inv[32];
	char hold[40];
};

bridge_pins pins_of(int n)
{
	bridge_pins b;
	snprintf(b.h, sizeof(b.h), "ircut_ctrl_h_%d", n);
	snprintf(b.inv, sizeof(b.inv), "ircut_ctrl_h_inv_%d", n);
	snprintf(b.hold, sizeof(b.hold), "ircut_ctrl_hold_current_on_%d", n);
	return b;
}

void drive_bridges(struct platform *p, int count, int day, int32_t wait_ms)
{
	for (int n = 0; n < count; n++) {
		bridge_pins b = pins_of(n);
		const char *h = b.h, *inv = b.inv, *hold = b.hold;
		set_pin(p, h, day ? 1 : 0, "day");
		set_pin(p, inv, day ? 0 : 1, "night");
		set_pin(p, hold, 1, "inv hold");
		wait(wait_ms);
		set_pin(p, hold, 0, "inv hold");
		set_pin(p, h, 0, "day");
		set_pin(p, inv, 0, "night");
	}
}

int multi_set(struct ircut *ircut, int day)
{
	auto *m = static_cast<multi *>(ircut->priv);
	g_mutex_lock(&multi_lock);
	multi_night[m->channel] = day ? 0 : 1;
	int combined = 1;
	for (int c = 0; c < m->count; c++)
		if (multi_night[c])
			combined = 0;
	bool changed = combined != multi_combined_day;
	multi_combined_day = combined;
	g_mutex_unlock(&multi_lock);
	if (changed)
		drive_bridges(ircut->platform, m->count, combined, m->wait_time);
	return 0;
}

void multi_destroy(struct ircut *ircut)
{
	if (!ircut) {
		null_ircut("h_bridge_destroy");
		return;
	}
	g_free(ircut->priv);
	g_free(ircut);
}

void set_outputs(struct platform *p, const char *const *pins, int n)
{
	for (int i = 0; i < n; i++)
		if (pins[i])
			platform_gpio_set_direction(p, pins[i], 1);
}

} // namespace

void *prodconf_ircut_h_bridge_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	auto *s = static_cast<bridge_settings *>(ircut_read_settings(conf, &bridge_schema, stream_id));
	if (!s)
		return nullptr;
	struct platform *p = control_get_platform(engine);
	const char *pins[] = {s->day_pin, s->night_pin, s->inv_hold_pin};
	set_outputs(p, pins, 3);
	auto *b = g_new0(bridge, 1);
	b->wait_time = s->wait_time;
	b->day_pin = s->day_pin;
	b->night_pin = s->night_pin;
	b->hold_pin = s->inv_hold_pin;
	b->blocking = s->blocking;
	g_free(s);
	ircut *made = ircut_make(IRCUT_TYPE_H_BRIDGE, bridge_set, bridge_destroy, b);
	b->ircut = made;
	if (p)
		p->daynight_switch = ircut_first_filter_switch;
	return made;
}

void *prodconf_ircut_multi_h_bridge_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	auto *s = static_cast<multi_settings *>(ircut_read_settings(conf, &multi_schema, stream_id));
	if (!s)
		return nullptr;
	int count = s->nbr_of_bridges;
	int32_t wait_time = s->wait_time;
	g_free(s);
	if (count < 1 || count > MAX_BRIDGES) {
		debug_output(DEBUG_ERROR, 0, "Illegal number of H bridges: %d\n", count);
		return nullptr;
	}
	struct platform *p = control_get_platform(engine);
	auto *m = g_new0(multi, 1);
	m->wait_time = wait_time;
	m->count = count;
	m->channel = platform_stream_channel(stream_id);
	if (m->channel == 0) {
		for (int n = 0; n < count; n++) {
			bridge_pins b = pins_of(n);
			const char *pins[] = {b.h, b.inv, b.hold};
			set_outputs(p, pins, 3);
		}
		g_mutex_lock(&multi_lock);
		multi_combined_day = 1;
		g_mutex_unlock(&multi_lock);
		drive_bridges(p, count, 1, wait_time);
	}
	if (p)
		p->daynight_switch = ircut_first_filter_switch;
	return ircut_make(IRCUT_TYPE_MULTI_H_BRIDGE, multi_set, multi_destroy, m);
}
