#include "tessel.h"

#include <gio/gio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace
{

struct key_entry {
	std::string key;
	int type = 0;
	const void *value = nullptr; // the caller's, read at declare time
	bool has_value = false;
	std::string key_nice_text;
	std::string value_nice_text;
	std::vector<std::string> tags;
	std::string name_space;
	event_property_fn property = nullptr;
	void *property_data = nullptr;
};

struct declared {
	std::vector<key_entry> keys;
};

std::mutex lock;
std::string log_text;
int fail_declares;
bool env_read;
int32_t next_id = 1;
int live;

void log_line(const std::string &line)
{
	log_text += line;
	log_text += '\n';
}

key_entry *find_key(std::vector<key_entry> &keys, const char *key)
{
	for (auto &k : keys)
		if (key && k.key == key)
			return &k;
	return nullptr;
}

std::string render_value(int type, const void *value)
{
	if (!value)
		return "(null)";
	if (type == TESSEL_TYPE_STRING)
		return std::string("\"") + static_cast<const char *>(value) + "\"";
	uint32_t word;
	memcpy(&word, value, sizeof(word));
	return std::to_string(word);
}

std::string render_key(const key_entry &k)
{
	std::string line = "  key " + k.key + " type=" + std::to_string(k.type);
	if (k.has_value)
		line += " value=" + render_value(k.type, k.value);
	if (!k.key_nice_text.empty())
		line += " key_nice=\"" + k.key_nice_text + "\"";
	if (!k.value_nice_text.empty())
		line += " value_nice=\"" + k.value_nice_text + "\"";
	for (const auto &t : k.tags)
		line += " tag=" + t;
	if (!k.name_space.empty())
		line += " ns=" + k.name_space;
	if (k.property)
		line += " property";
	return line;
}

} // namespace

struct event_declaration {
	gboolean flag;
	std::vector<key_entry> keys;
};

struct event_producer {
	std::string name;
	GDBusConnection *bus;
	std::map<int32_t, declared> declarations;
};

struct event {
	event_producer *producer;
	int32_t id;
	std::vector<std::pair<std::string, const void *>> values;
};

namespace
{

std::vector<event_producer *> producers;

void emit(event_producer *p, const char *member, GVariant *params)
{
	if (!p->bus) {
		g_variant_unref(g_variant_ref_sink(params));
		return;
	}
	g_dbus_connection_emit_signal(p->bus, nullptr, "/sim/Tessel", "sim.Tessel", member, params, nullptr);
	g_dbus_connection_flush_sync(p->bus, nullptr, nullptr);
}

// Only a bus the environment names: a test must never reach a real system bus.
GDBusConnection *connect_bus(void)
{
	const char *address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
	if (!address || !*address)
		return nullptr;
	auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
	                                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
	return g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
}

declared *find_declared(int32_t id, event_producer **owner)
{
	for (auto *p : producers) {
		auto it = p->declarations.find(id);
		if (it != p->declarations.end()) {
			if (owner)
				*owner = p;
			return &it->second;
		}
	}
	return nullptr;
}

} // namespace

extern "C" {

event_producer *event_producer_new(const char *name, GMainContext *)
{
	std::lock_guard<std::mutex> g(lock);
	if (!env_read) {
		env_read = true;
		if (const char *n = getenv("SIM_TESSEL_FAIL_DECLARE"))
			fail_declares = atoi(n);
	}
	auto *p = new event_producer();
	p->name = name ? name : "";
	p->bus = connect_bus();
	producers.push_back(p);
	live++;
	log_line("new \"" + p->name + "\"");
	return p;
}

int32_t event_producer_declare(event_producer *producer, event_declaration *declaration)
{
	std::lock_guard<std::mutex> g(lock);
	if (!producer || !declaration)
		return -1;
	if (fail_declares > 0) {
		fail_declares--;
		log_line("declare failed");
		return -1;
	}
	int32_t id = next_id++;
	std::string text = "declare " + std::to_string(id) + " flag=" + (declaration->flag ? "1" : "0");
	for (const auto &k : declaration->keys)
		text += "\n" + render_key(k);
	log_line(text);
	declared d;
	d.keys = declaration->keys;
	producer->declarations[id] = d;
	emit(producer, "Declare", g_variant_new("(is)", id, text.c_str()));
	return id;
}

void event_producer_undeclare(event_producer *producer, int32_t id)
{
	std::lock_guard<std::mutex> g(lock);
	if (!producer)
		return;
	bool known = producer->declarations.erase(id) > 0;
	log_line("undeclare " + std::to_string(id) + (known ? "" : " (unknown)"));
	emit(producer, "Undeclare", g_variant_new("(i)", id));
}

event *event_producer_prepare_event(event_producer *producer, int32_t id)
{
	std::lock_guard<std::mutex> g(lock);
	if (!producer || producer->declarations.count(id) == 0)
		return nullptr;
	live++;
	return new event{producer, id, {}};
}

void event_producer_send_event_async(event_producer *producer, event *ev)
{
	std::lock_guard<std::mutex> g(lock);
	if (!producer || !ev)
		return;
	auto it = producer->declarations.find(ev->id);
	std::string text = "event " + std::to_string(ev->id);
	for (const auto &v : ev->values) {
		key_entry *k =
		    it == producer->declarations.end() ? nullptr : find_key(it->second.keys, v.first.c_str());
		int type = k ? k->type : TESSEL_TYPE_INT;
		std::string value = render_value(type, v.second);
		text += " " + v.first + "=" + value;
		emit(producer, "Event", g_variant_new("(iss)", ev->id, v.first.c_str(), value.c_str()));
	}
	log_line(text);
}

void event_producer_free(event_producer *producer)
{
	std::lock_guard<std::mutex> g(lock);
	if (!producer)
		return;
	log_line("free");
	for (auto it = producers.begin(); it != producers.end(); ++it)
		if (*it == producer) {
			producers.erase(it);
			break;
		}
	if (producer->bus) {
		g_dbus_connection_flush_sync(producer->bus, nullptr, nullptr);
		g_object_unref(producer->bus);
	}
	live--;
	delete producer;
}

event_declaration *event_declaration_new(gboolean flag)
{
	std::lock_guard<std::mutex> g(lock);
	live++;
	return new event_declaration{flag, {}};
}

void event_declaration_add_key_value(event_declaration *declaration, const char *key, const void *value,
                                     int type)
{
	if (!declaration || !key)
		return;
	key_entry k;
	k.key = key;
	k.type = type;
	k.value = value;
	k.has_value = true;
	declaration->keys.push_back(k);
}

void event_declaration_add_key(event_declaration *declaration, const char *key, int type)
{
	if (!declaration || !key)
		return;
	key_entry k;
	k.key = key;
	k.type = type;
	declaration->keys.push_back(k);
}

void event_declaration_set_nice_names(event_declaration *declaration, const char *key, const char *key_nice,
                                      const char *value_nice)
{
	key_entry *k = declaration ? find_key(declaration->keys, key) : nullptr;
	if (!k)
		return;
	k->key_nice_text = key_nice ? key_nice : "";
	k->value_nice_text = value_nice ? value_nice : "";
}

void event_declaration_add_key_tag(event_declaration *declaration, const char *key, const char *tag)
{
	key_entry *k = declaration ? find_key(declaration->keys, key) : nullptr;
	if (k && tag)
		k->tags.push_back(tag);
}

void event_declaration_set_property(event_declaration *declaration, const char *key,
                                    event_property_fn callback, void *user_data)
{
	key_entry *k = declaration ? find_key(declaration->keys, key) : nullptr;
	if (!k)
		return;
	k->property = callback;
	k->property_data = user_data;
}

void event_declaration_set_name_space(event_declaration *declaration, const char *key, const char *name_space)
{
	key_entry *k = declaration ? find_key(declaration->keys, key) : nullptr;
	if (k && name_space)
		k->name_space = name_space;
}

void event_declaration_free(event_declaration *declaration)
{
	if (!declaration)
		return;
	std::lock_guard<std::mutex> g(lock);
	live--;
	delete declaration;
}

event *event_set_value(event *ev, const char *key, const void *value)
{
	if (!ev || !key)
		return ev;
	for (auto &v : ev->values)
		if (v.first == key) {
			v.second = value;
			return ev;
		}
	ev->values.emplace_back(key, value);
	return ev;
}

void event_free(event *ev)
{
	if (!ev)
		return;
	std::lock_guard<std::mutex> g(lock);
	live--;
	delete ev;
}

void sim_tessel_reset(void)
{
	std::lock_guard<std::mutex> g(lock);
	log_text.clear();
	fail_declares = 0;
	next_id = 1;
}

void sim_tessel_fail_declare(int n)
{
	std::lock_guard<std::mutex> g(lock);
	fail_declares = n;
}

char *sim_tessel_take_log(void)
{
	std::lock_guard<std::mutex> g(lock);
	char *text = strdup(log_text.c_str());
	log_text.clear();
	return text;
}

int64_t sim_tessel_run_property(int32_t id, const char *key)
{
	event_property_fn fn = nullptr;
	void *data = nullptr;
	event_producer *owner = nullptr;
	int type = TESSEL_TYPE_INT;
	{
		std::lock_guard<std::mutex> g(lock);
		declared *d = find_declared(id, &owner);
		key_entry *k = d ? find_key(d->keys, key) : nullptr;
		if (!k || !k->property)
			return -1;
		fn = k->property;
		data = k->property_data;
		type = k->type;
	}
	event ev{owner, id, {}};
	// The callback may call back into the library: no lock held.
	event *got = fn(&ev, data);
	int64_t value = -1;
	for (const auto &v : ev.values)
		if (v.first == key && v.second && type != TESSEL_TYPE_STRING) {
			uint32_t word;
			memcpy(&word, v.second, sizeof(word));
			value = word;
		}
	std::lock_guard<std::mutex> g(lock);
	log_line("property " + std::to_string(id) + " " + key + "=" +
	         (value < 0 ? "none" : std::to_string(value)) + (got == &ev ? "" : " (other event)"));
	return value;
}

int sim_tessel_live(void)
{
	std::lock_guard<std::mutex> g(lock);
	return live;
}

} // extern "C"
