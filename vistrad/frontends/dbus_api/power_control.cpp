#include "power_control.h"

#include <glib.h>
#include <string.h>

#include "core/debug_output.h"
#include "dbus_proxy.h"

namespace
{

// At most 163/16384 W short of a request counts as granted, and a grant
// below 164 (0.01 W) as none.
const int32_t tolerance = 163;
const uint32_t least_grant = 164;
const float q14 = 16384.0f;

struct power_item {
	// For an unregister item: the item's own copy (name and delay only).
	// Null once the consumer of a queued request unregistered.
	power_consumer *consumer;
	uint8_t unregister;
	// Sent to the service and waiting for its SetPower: only the head can be.
	uint8_t sent;
	// The head's delay timer, when one runs.
	guint timer;
};

GQueue *queue;
dbus_proxy *proxy;
GList *consumers; // most recently registered first; not owned
guint idle;

power_item *head(void)
{
	return static_cast<power_item *>(g_queue_peek_head(queue));
}

void free_item(power_item *item)
{
	if (item->timer)
		g_source_remove(item->timer);
	if (item->unregister && item->consumer) {
		g_free(const_cast<char *>(item->consumer->name));
		g_free(item->consumer);
	}
	g_free(item);
}

void drop_head(void)
{
	free_item(static_cast<power_item *>(g_queue_pop_head(queue)));
}

void send_register(const char *name)
{
	dbus_proxy_call(proxy, "Register",
	                g_variant_new("(sbsss)", name, FALSE, "com.tovi.ImageControl",
	                              "/com/tovi/ImageControl", "com.tovi.ImageControl.Power"),
	                nullptr, nullptr);
}

void send_request_power(const char *name, const char *mode, float watts)
{
	dbus_proxy_call(proxy, "RequestPower", g_variant_new("(ssd)", name, mode, (double)watts), nullptr,
	                nullptr);
}

void process_head(void);

gboolean on_idle(gpointer)
{
	idle = 0;
	process_head();
	return G_SOURCE_REMOVE;
}

void schedule_processing(void)
{
	if (!idle)
		idle = g_idle_add_full(G_PRIORITY_DEFAULT, on_idle, nullptr, nullptr);
}

// A request the current grant covers completes here, without the service.
void send_head(void)
{
	power_item *item = head();
	power_consumer *c = item->consumer;
	if (item->unregister) {
		send_register(c->name);
		drop_head();
		schedule_processing();
		return;
	}
	int64_t r = c->requested;
	int64_t g = c->granted;
	if (r > 0) {
		if (g - r >= -tolerance) {
			power_control_set_power(g / q14);
			return;
		}
		item->sent = 1;
		send_request_power(c->name, "control", r <= tolerance ? 0.0f : r / q14);
		return;
	}
	if (r == 0 && g == 0) {
		power_control_set_power(0.0);
		return;
	}
	item->sent = 1;
	send_request_power(c->name, "off", 0.0f);
}

gboolean on_timer(gpointer data)
{
	auto *item = static_cast<power_item *>(data);
	item->timer = 0;
	// Only the head waits on a timer, and removing it stops the timer.
	if (item != head())
		return G_SOURCE_REMOVE;
	if (!item->consumer) {
		drop_head();
		schedule_processing();
		return G_SOURCE_REMOVE;
	}
	send_head();
	return G_SOURCE_REMOVE;
}

// Sends the head once: a head already sent or waiting for its delay is left
// alone, so a second pass (an idle after a request went out at once) cannot
// send it again.
void process_head(void)
{
	if (!queue)
		return;
	power_item *item = head();
	if (item && (item->sent || item->timer))
		return;
	while (item && !item->consumer) {
		drop_head();
		item = head();
	}
	if (!item)
		return;
	power_consumer *c = item->consumer;
	if (c->delay == 0 || c->requested > tolerance)
		send_head();
	else
		item->timer = g_timeout_add(c->delay, on_timer, item);
}

uint32_t to_q14(double watts)
{
	float q = (float)watts * q14;
	q += watts > 0 ? 0.5f : -0.5f;
	// Also keeps a value from the bus that no word can hold (or NaN) from
	// becoming an undefined conversion.
	if (!(q >= (float)least_grant))
		return 0;
	if (q >= 4294967296.0f)
		return UINT32_MAX;
	return (uint32_t)q;
}

// The service came (back): it knows no consumer. A request it was answering
// died with the old owner, and the queue would wait for it for good.
void on_service_owner(dbus_proxy *, void *)
{
	for (GList *l = consumers; l; l = l->next)
		send_register(static_cast<power_consumer *>(l->data)->name);
	power_item *item = head();
	if (!item || !item->sent)
		return;
	if (!item->consumer) {
		drop_head();
		schedule_processing();
		return;
	}
	item->sent = 0;
	send_head();
}

} // namespace

int power_control_init(void)
{
	queue = g_queue_new();
	proxy = dbus_proxy_new("com.tovi.PowerControl.Consumer", "/com/tovi/PowerControl/Consumer",
	                       "com.tovi.PowerControl.Consumer");
	if (!proxy)
		debug_output(DEBUG_ERROR, 0, "Failed to setup proxy\n");
	return dbus_proxy_watch_name_owner(proxy, on_service_owner, nullptr);
}

// The bus connection is closed by now: nothing here may call the bus.
void power_control_deinit(void)
{
	if (idle)
		g_source_remove(idle);
	idle = 0;
	if (queue) {
		while (!g_queue_is_empty(queue))
			drop_head();
		g_queue_free(queue);
	}
	queue = nullptr;
	dbus_proxy_free(proxy);
	proxy = nullptr;
	g_list_free(consumers);
	consumers = nullptr;
}

int power_control_register_consumer(struct power_consumer *consumer)
{
	if (!consumer)
		return 0;
	send_register(consumer->name);
	consumers = g_list_prepend(consumers, consumer);
	return 0;
}

int power_control_request(struct power_consumer *consumer)
{
	if (!proxy || !queue) {
		debug_output(DEBUG_ERROR, 0, "power control: no proxy\n");
		return 0;
	}
	if (!consumer)
		return 0;
	power_item *item = g_new0(power_item, 1);
	item->consumer = consumer;
	g_queue_push_tail(queue, item);
	if (g_queue_get_length(queue) == 1)
		process_head();
	return 1;
}

int power_control_unregister_consumer(struct power_consumer *consumer)
{
	if (!consumer)
		return 0;
	consumers = g_list_remove(consumers, consumer);
	if (!queue)
		return 0;
	for (GList *l = queue->head; l; l = l->next) {
		auto *item = static_cast<power_item *>(l->data);
		if (!item->unregister && item->consumer && strcmp(item->consumer->name, consumer->name) == 0)
			item->consumer = nullptr;
	}
	power_consumer *copy = g_new0(power_consumer, 1);
	copy->name = g_strdup(consumer->name);
	copy->delay = consumer->delay;
	power_item *item = g_new0(power_item, 1);
	item->consumer = copy;
	item->unregister = 1;
	g_queue_push_tail(queue, item);
	if (g_queue_get_length(queue) == 1)
		process_head();
	return 0;
}

int power_control_set_power(double watts)
{
	if (!queue || g_queue_is_empty(queue))
		return 0;
	auto *item = static_cast<power_item *>(g_queue_pop_head(queue));
	if (!item->unregister && item->consumer) {
		power_consumer *c = item->consumer;
		c->granted = to_q14(watts);
		if (c->callback)
			c->callback(c->user_data, c->granted);
	}
	schedule_processing();
	free_item(item);
	return 1;
}
