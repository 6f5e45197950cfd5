// The status cache in memory. Entries are read by their byte offsets rather
// than through the header's record, so a caller that lays its entries out
// differently is seen doing so.

#include "libquillvane.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>

namespace
{

struct value {
	uint32_t type;
	uint8_t bytes[4];
};

struct group {
	int size = -1;
	int writes = 0;
	std::map<std::string, value> values;
	std::string last_entries;
	bool written = false;
};

std::mutex lock;
std::map<std::string, group> groups;
struct failure {
	int after;
	int result;
};
std::map<std::string, failure> failures;
std::string log;

bool injected(const char *call, int *result)
{
	auto it = failures.find(call);
	if (it == failures.end())
		return false;
	if (it->second.after > 0) {
		it->second.after--;
		return false;
	}
	*result = it->second.result;
	failures.erase(it);
	return true;
}

void note(const char *call, const char *name, int flags, int result)
{
	char line[256];
	snprintf(line, sizeof(line), "%s %s %d %d\n", call, name ? name : "(null)", flags, result);
	log += line;
}

// One entry as bytes: name pointer at 0, u64 size at 8, value pointer at 16,
// u32 type at 24.
struct raw_entry {
	const char *name;
	uint64_t size;
	uint8_t *value;
	uint32_t type;
};

raw_entry read_entry(const void *entry)
{
	const uint8_t *bytes = static_cast<const uint8_t *>(entry);
	raw_entry e;
	memcpy(&e.name, bytes + 0, 8);
	memcpy(&e.size, bytes + 8, 8);
	memcpy(&e.value, bytes + 16, 8);
	memcpy(&e.type, bytes + 24, 4);
	return e;
}

std::string describe(const raw_entry &e)
{
	char line[256];
	const char *name = e.name ? e.name : "(null)";
	unsigned long long size = (unsigned long long)e.size;
	if (e.size != 4 || !e.value) {
		snprintf(line, sizeof(line), "%s %llu %u -\n", name, size, e.type);
	} else if (e.type == SC_TYPE_FLOAT) {
		float f;
		memcpy(&f, e.value, 4);
		snprintf(line, sizeof(line), "%s %llu %u %g\n", name, size, e.type, (double)f);
	} else {
		int32_t i;
		memcpy(&i, e.value, 4);
		snprintf(line, sizeof(line), "%s %llu %u %d\n", name, size, e.type, i);
	}
	return line;
}

void put(const char *group_name, const char *entry, uint32_t type, const void *bytes)
{
	std::lock_guard<std::mutex> hold(lock);
	value v = {type, {}};
	memcpy(v.bytes, bytes, 4);
	groups[group_name].values[entry] = v;
}

int get(const char *group_name, const char *entry, uint32_t type, void *out)
{
	std::lock_guard<std::mutex> hold(lock);
	auto g = groups.find(group_name);
	if (g == groups.end())
		return -1;
	auto v = g->second.values.find(entry);
	if (v == g->second.values.end() || v->second.type != type)
		return -1;
	memcpy(out, v->second.bytes, 4);
	return 0;
}

} // namespace

extern "C" {

int sc_create_group(const char *name, int size, int flags)
{
	std::lock_guard<std::mutex> hold(lock);
	int result = 0;
	if (!injected("sc_create_group", &result)) {
		if (!name || size <= 0)
			result = -EINVAL;
		else
			groups[name].size = size;
	}
	note("sc_create_group", name, flags, result);
	return result;
}

int sc_set_group(const char *name, sc_entry **entries, int flags)
{
	std::lock_guard<std::mutex> hold(lock);
	int result = 0;
	if (injected("sc_set_group", &result)) {
		note("sc_set_group", name, flags, result);
		return result;
	}
	bool exists = name && groups.count(name);
	if (!name || !entries || flags == SC_FLAG_READ) {
		result = -EINVAL;
	} else if (!exists && flags != SC_FLAG_CREATE) {
		result = -ENOENT;
	} else {
		group &target = groups[name];
		std::string seen;
		for (sc_entry **e = entries; *e; e++) {
			raw_entry r = read_entry(*e);
			seen += describe(r);
			if (!r.name || r.size != 4 || !r.value)
				continue;
			value v = {r.type, {}};
			memcpy(v.bytes, r.value, 4);
			target.values[r.name] = v;
			result++;
		}
		target.last_entries = seen;
		target.written = true;
		target.writes++;
	}
	note("sc_set_group", name, flags, result);
	return result;
}

int sc_get_group(const char *name, sc_entry **entries, int flags)
{
	std::lock_guard<std::mutex> hold(lock);
	int result = 0;
	if (injected("sc_get_group", &result)) {
		note("sc_get_group", name, flags, result);
		return result;
	}
	auto g = name ? groups.find(name) : groups.end();
	if (!entries || g == groups.end()) {
		result = -ENOENT;
	} else {
		for (sc_entry **e = entries; *e; e++) {
			raw_entry r = read_entry(*e);
			auto v = r.name ? g->second.values.find(r.name) : g->second.values.end();
			if (v == g->second.values.end() || v->second.type != r.type || r.size != 4 ||
			    !r.value)
				continue;
			memcpy(r.value, v->second.bytes, 4);
			result++;
		}
	}
	note("sc_get_group", name, flags, result);
	return result;
}

void sim_sc_reset(void)
{
	std::lock_guard<std::mutex> hold(lock);
	groups.clear();
	failures.clear();
	log.clear();
}

void sim_sc_fail(const char *call, int after, int result)
{
	std::lock_guard<std::mutex> hold(lock);
	failures[call] = failure{after, result};
}

void sim_sc_put_int(const char *group, const char *entry, int32_t value)
{
	put(group, entry, SC_TYPE_INT, &value);
}

void sim_sc_put_float(const char *group, const char *entry, float value)
{
	put(group, entry, SC_TYPE_FLOAT, &value);
}

int sim_sc_get_int(const char *group, const char *entry, int32_t *value)
{
	return get(group, entry, SC_TYPE_INT, value);
}

int sim_sc_get_float(const char *group, const char *entry, float *value)
{
	return get(group, entry, SC_TYPE_FLOAT, value);
}

int sim_sc_write_count(const char *group_name)
{
	std::lock_guard<std::mutex> hold(lock);
	auto g = groups.find(group_name);
	return g == groups.end() ? 0 : g->second.writes;
}

int sim_sc_group_size(const char *group_name)
{
	std::lock_guard<std::mutex> hold(lock);
	auto g = groups.find(group_name);
	return g == groups.end() ? -1 : g->second.size;
}

char *sim_sc_last_entries(const char *group_name)
{
	std::lock_guard<std::mutex> hold(lock);
	auto g = groups.find(group_name);
	if (g == groups.end() || !g->second.written)
		return nullptr;
	return strdup(g->second.last_entries.c_str());
}

char *sim_sc_take_log(void)
{
	std::lock_guard<std::mutex> hold(lock);
	char *out = strdup(log.c_str());
	log.clear();
	return out;
}
}
