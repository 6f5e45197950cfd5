// Parameter maps: named values of a load, a job or an allocation that the
// service hands unchanged to the unit behind the request.
#include "map.h"

#include "error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#define MAP_INITIAL_CAPACITY 8
// Longest key or string value, with the terminating null byte.
#define MAP_STRING_MAX 128

enum map_type : int32_t {
	MAP_INT = 1,
	MAP_STR = 2,
	MAP_INT_ARR2 = 3,
	MAP_INT_ARR4 = 4,
};

namespace
{
struct map_entry {
	char *key;
	void *value;
	int32_t type;
};
} // namespace

struct kalunMap {
	map_entry **entries;
	size_t used;
	size_t capacity;
};

static size_t value_size(int32_t type, const void *value)
{
	switch (type) {
	case MAP_INT:
		return sizeof(int64_t);
	case MAP_STR:
		return strlen(static_cast<const char *>(value)) + 1;
	case MAP_INT_ARR2:
		return 2 * sizeof(int64_t);
	case MAP_INT_ARR4:
		return 4 * sizeof(int64_t);
	default:
		return 0;
	}
}

static bool allocate_entries(map_entry **entries, size_t from, size_t to)
{
	for (size_t i = from; i < to; i++) {
		entries[i] = static_cast<map_entry *>(calloc(1, sizeof(map_entry)));
		if (!entries[i]) {
			for (size_t j = from; j < i; j++)
				free(entries[j]);
			return false;
		}
	}
	return true;
}

static kalunMap *map_new(size_t capacity)
{
	auto *map = static_cast<kalunMap *>(calloc(1, sizeof(kalunMap)));
	if (!map)
		return nullptr;
	map->entries = static_cast<map_entry **>(calloc(capacity, sizeof(map_entry *)));
	if (!map->entries || !allocate_entries(map->entries, 0, capacity)) {
		free(map->entries);
		free(map);
		return nullptr;
	}
	map->capacity = capacity;
	return map;
}

kalunMap *kalunCreateMap(kalunError **error)
{
	kalunMap *map = map_new(MAP_INITIAL_CAPACITY);
	if (!map)
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
	return map;
}

void kalunDestroyMap(kalunMap **map)
{
	if (!map || !*map)
		return;
	kalunMap *m = *map;
	for (size_t i = 0; i < m->capacity; i++) {
		if (i < m->used) {
			free(m->entries[i]->key);
			free(m->entries[i]->value);
		}
		free(m->entries[i]);
	}
	free(m->entries);
	free(m);
	*map = nullptr;
}

size_t kalun_map_size(const kalunMap *map)
{
	return map ? map->used : 0;
}

static bool check_string(const char *s, kalunError **error)
{
	if (!s) {
		kalun_error_set(error, EINVAL, "Input string is NULL");
		return false;
	}
	if (s[0] == '\0') {
		kalun_error_set(error, EINVAL, "Input string is empty");
		return false;
	}
	if (strnlen(s, MAP_STRING_MAX) >= MAP_STRING_MAX) {
		kalun_error_set(error, EINVAL,
		                "Input strings must be no more than 128 characters (including "
		                "terminating null byte)");
		return false;
	}
	return true;
}

static map_entry *lookup(const kalunMap *map, const char *key, int32_t type, kalunError **error)
{
	for (size_t i = 0; i < map->used; i++) {
		map_entry *e = map->entries[i];
		if (strncmp(e->key, key, MAP_STRING_MAX) != 0)
			continue;
		if (e->type != type) {
			kalun_error_set(error, EINVAL,
			                "Element with the given key existed, but the type of "
			                "corresponding value did not match the expected type");
			return nullptr;
		}
		return e;
	}
	kalun_error_set(error, EINVAL, "Element with the given key was not found");
	return nullptr;
}

static bool key_present(const kalunMap *map, const char *key)
{
	for (size_t i = 0; i < map->used; i++)
		if (strncmp(map->entries[i]->key, key, MAP_STRING_MAX) == 0)
			return true;
	return false;
}

static bool grow(kalunMap *map, kalunError **error)
{
	size_t capacity = map->capacity * 2;
	auto *entries = static_cast<map_entry **>(realloc(map->entries, capacity * sizeof(map_entry *)));
	if (!entries) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	map->entries = entries;
	if (!allocate_entries(entries, map->capacity, capacity)) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	map->capacity = capacity;
	return true;
}

// Stores value (already allocated; taken over on success, freed on failure).
static bool map_set(kalunMap *map, const char *key, void *value, int32_t type, kalunError **error)
{
	if (key_present(map, key)) {
		map_entry *e = lookup(map, key, type, error);
		if (!e) {
			free(value);
			return false;
		}
		free(e->value);
		e->value = value;
		return true;
	}

	if (map->used == map->capacity && !grow(map, error)) {
		free(value);
		return false;
	}
	map_entry *e = map->entries[map->used];
	e->key = strdup(key);
	if (!e->key) {
		free(value);
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	e->value = value;
	e->type = type;
	map->used++;
	return true;
}

static bool set_ints(kalunMap *map, const char *key, const int64_t *values, size_t n, int32_t type,
                     kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return false;
	}
	if (!check_string(key, error))
		return false;
	auto *value = static_cast<int64_t *>(malloc(n * sizeof(int64_t)));
	if (!value) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	memcpy(value, values, n * sizeof(int64_t));
	return map_set(map, key, value, type, error);
}

bool kalunMapSetInt(kalunMap *map, const char *key, int64_t value, kalunError **error)
{
	return set_ints(map, key, &value, 1, MAP_INT, error);
}

bool kalunMapSetIntArr2(kalunMap *map, const char *key, int64_t value0, int64_t value1, kalunError **error)
{
	const int64_t values[2] = {value0, value1};
	return set_ints(map, key, values, 2, MAP_INT_ARR2, error);
}

bool kalunMapSetIntArr4(kalunMap *map, const char *key, int64_t value0, int64_t value1, int64_t value2,
                        int64_t value3, kalunError **error)
{
	const int64_t values[4] = {value0, value1, value2, value3};
	return set_ints(map, key, values, 4, MAP_INT_ARR4, error);
}

bool kalunMapSetStr(kalunMap *map, const char *key, const char *value, kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return false;
	}
	if (!check_string(key, error) || !check_string(value, error))
		return false;
	char *copy = strndup(value, MAP_STRING_MAX);
	if (!copy) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	return map_set(map, key, copy, MAP_STR, error);
}

static const map_entry *get(const kalunMap *map, const char *key, int32_t type, kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return nullptr;
	}
	if (!check_string(key, error))
		return nullptr;
	return lookup(map, key, type, error);
}

const char *kalunMapGetStr(const kalunMap *map, const char *key, kalunError **error)
{
	const map_entry *e = get(map, key, MAP_STR, error);
	return e ? static_cast<const char *>(e->value) : nullptr;
}

bool kalunMapGetInt(const kalunMap *map, const char *key, int64_t *value, kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return false;
	}
	if (!check_string(key, error))
		return false;
	if (!value) {
		kalun_error_set(error, EINVAL, "value is NULL");
		return false;
	}
	const map_entry *e = lookup(map, key, MAP_INT, error);
	if (!e)
		return false;
	*value = *static_cast<const int64_t *>(e->value);
	return true;
}

const int64_t *kalunMapGetIntArr2(const kalunMap *map, const char *key, kalunError **error)
{
	const map_entry *e = get(map, key, MAP_INT_ARR2, error);
	return e ? static_cast<const int64_t *>(e->value) : nullptr;
}

const int64_t *kalunMapGetIntArr4(const kalunMap *map, const char *key, kalunError **error)
{
	const map_entry *e = get(map, key, MAP_INT_ARR4, error);
	return e ? static_cast<const int64_t *>(e->value) : nullptr;
}

/* ---- used by the request operations ---- */

static bool copy_entry(const map_entry *from, map_entry *to)
{
	size_t len = value_size(from->type, from->value);
	if (len == 0 || strnlen(from->key, MAP_STRING_MAX) >= MAP_STRING_MAX)
		return false;
	if (from->type == MAP_STR && len > MAP_STRING_MAX)
		return false;
	to->key = strndup(from->key, MAP_STRING_MAX);
	to->value = malloc(len);
	if (!to->key || !to->value) {
		free(to->key);
		free(to->value);
		to->key = nullptr;
		to->value = nullptr;
		return false;
	}
	memcpy(to->value, from->value, len);
	to->type = from->type;
	return true;
}

kalunMap *kalun_map_copy(const kalunMap *map, kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return nullptr;
	}
	kalunMap *copy = map_new(map->capacity);
	if (!copy) {
		kalun_error_set(error, ENOMEM, "Could not copy pair");
		return nullptr;
	}
	for (size_t i = 0; i < map->used; i++) {
		if (!copy_entry(map->entries[i], copy->entries[i])) {
			kalunDestroyMap(&copy);
			kalun_error_set(error, ENOMEM, "Could not copy pair");
			return nullptr;
		}
		copy->used++;
	}
	return copy;
}

static int append_value(const map_entry *e, sd_bus_message *m, kalunError **error)
{
	const auto *ints = static_cast<const int64_t *>(e->value);
	int r;
	switch (e->type) {
	case MAP_INT:
		r = sd_bus_message_append(m, "v", "x", ints[0]);
		if (r < 0)
			kalun_error_set(error, -r, "Could not add int64 value to message: %s", strerror(-r));
		return r;
	case MAP_STR:
		r = sd_bus_message_append(m, "v", "s", static_cast<const char *>(e->value));
		if (r < 0)
			kalun_error_set(error, -r, "Could not add string value to message: %s", strerror(-r));
		return r;
	case MAP_INT_ARR2:
		r = sd_bus_message_append(m, "v", "ax", 2, ints[0], ints[1]);
		if (r < 0)
			kalun_error_set(error, -r, "Could not add array of two int64 values to message: %s",
			                strerror(-r));
		return r;
	case MAP_INT_ARR4:
		r = sd_bus_message_append(m, "v", "ax", 4, ints[0], ints[1], ints[2], ints[3]);
		if (r < 0)
			kalun_error_set(error, -r, "Could not add array of four int64 values to message: %s",
			                strerror(-r));
		return r;
	default:
		kalun_error_set(error, EINVAL, "Unknown parameter type %d", e->type);
		return -EINVAL;
	}
}

// Closes a container after a failed append; the append's error stays first.
static bool close_after_failure(sd_bus_message *m, const char *what, kalunError **error)
{
	int r = sd_bus_message_close_container(m);
	if (r < 0)
		kalun_error_prefix(error, "Could not close %s container: %s: ", what, strerror(-r));
	return false;
}

bool kalun_map_append(const kalunMap *map, sd_bus_message *m, kalunError **error)
{
	if (!map) {
		kalun_error_set(error, EINVAL, "kalunMap is NULL");
		return false;
	}
	int r = sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "{sv}");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not open array container: %s", strerror(-r));
		return false;
	}

	for (size_t i = 0; i < map->used; i++) {
		const map_entry *e = map->entries[i];
		r = sd_bus_message_open_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv");
		if (r < 0) {
			kalun_error_set(error, -r, "Could not open dict container: %s", strerror(-r));
			return close_after_failure(m, "array", error);
		}
		r = sd_bus_message_append(m, "s", e->key);
		if (r < 0)
			kalun_error_set(error, -r, "Could not add key to message: %s", strerror(-r));
		else
			r = append_value(e, m, error);
		if (r < 0) {
			close_after_failure(m, "dict", error);
			return close_after_failure(m, "array", error);
		}
		r = sd_bus_message_close_container(m);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not close dict container: %s", strerror(-r));
			return close_after_failure(m, "array", error);
		}
	}

	r = sd_bus_message_close_container(m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not close array container: %s", strerror(-r));
		return false;
	}
	return true;
}
