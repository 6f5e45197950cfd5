#include "info_pool.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <utility>
#include <vector>

#include "control.h"
#include "debug_output.h"
#include "safe_flash.h"
#include "stream_map.h"
#include "vistrad_path.h"

namespace
{

// A store larger than this cannot come from the daemon (91 ids with a few
// streams each); reading it whole would only waste memory.
constexpr size_t max_db_size = 4 * 1024 * 1024;

GList **pool; // INFO_POOL_IDS lists, most recently created entry first
GRWLock pool_lock;

struct write_guard {
	write_guard()
	{
		g_rw_lock_writer_lock(&pool_lock);
	}
	~write_guard()
	{
		g_rw_lock_writer_unlock(&pool_lock);
	}
};

struct read_guard {
	read_guard()
	{
		g_rw_lock_reader_lock(&pool_lock);
	}
	~read_guard()
	{
		g_rw_lock_reader_unlock(&pool_lock);
	}
};

struct set_value {
	uint32_t word; // float bits, Q14, int, or the bool
	void *pointer;
	const void *blob;
	uint32_t blob_size;
};

int32_t map_stream(int32_t stream_id)
{
	return stream_id == -1 ? -1 : stream_map_substream_by_id(stream_id, 0);
}

info_pool_entry *find_entry(uint32_t id, int32_t mapped)
{
	for (GList *l = pool[id]; l; l = l->next) {
		auto *e = static_cast<info_pool_entry *>(l->data);
		if (e->stream_id == mapped)
			return e;
	}
	return nullptr;
}

void free_entry(info_pool_entry *e)
{
	if (e->type == INFO_POOL_BLOB)
		g_free(e->value.ptr);
	g_free(e);
}

void store_value(info_pool_entry *e, const set_value &v)
{
	switch (e->type) {
	case INFO_POOL_FLOAT:
	case INFO_POOL_IMFIX:
	case INFO_POOL_INT:
		memcpy(&e->value.i, &v.word, sizeof(v.word));
		break;
	case INFO_POOL_BOOL:
		e->value.b = (uint8_t)v.word;
		break;
	case INFO_POOL_POINTER:
		e->value.ptr = v.pointer;
		break;
	case INFO_POOL_BLOB:
		if (e->blob_size != v.blob_size || !e->value.ptr) {
			g_free(e->value.ptr);
			e->value.ptr = g_malloc(v.blob_size ? v.blob_size : 1);
			e->blob_size = v.blob_size;
		}
		if (v.blob_size)
			memcpy(e->value.ptr, v.blob, v.blob_size);
		break;
	}
}

bool persistent_type_ok(uint32_t type, uint32_t persistent)
{
	if ((type == INFO_POOL_BLOB || type == INFO_POOL_POINTER) && persistent == 1) {
		debug_output(DEBUG_ERROR, 0, "Can't set unsupported persistent type %d.\n", (int)type);
		return false;
	}
	return true;
}

int pool_set(uint32_t id, int32_t stream_id, uint32_t type, uint32_t persistent, const set_value &v,
             const uint32_t *publisher)
{
	if (id >= INFO_POOL_IDS) {
		debug_output(DEBUG_ERROR, 0, "Info-pool id %u out of range.\n", id);
		return -1;
	}
	write_guard guard;
	if (!pool)
		return -1;
	int32_t mapped = map_stream(stream_id);
	info_pool_entry *e = find_entry(id, mapped);
	bool created = false;
	if (e) {
		if (e->type != type) {
			debug_output(DEBUG_WARNING, 0,
			             "Can't set info-pool value with wrong type, found %d, requested %d.\n",
			             (int)e->type, (int)type);
			return -1;
		}
		if (persistent > 2) {
			debug_output(DEBUG_ERROR, 0, "Unknown persistent type %d.\n", (int)persistent);
			return -1;
		}
		uint32_t flag = persistent == 2 ? e->persistent : persistent;
		if (!persistent_type_ok(type, flag))
			return -1;
		e->persistent = flag;
	} else {
		if (persistent > 2) {
			debug_output(DEBUG_ERROR, 0, "Unknown persistent type %d.\n", (int)persistent);
			return -1;
		}
		if (!persistent_type_ok(type, persistent))
			return -1;
		e = g_new0(info_pool_entry, 1);
		e->id = id;
		e->type = type;
		e->stream_id = mapped;
		e->persistent = persistent == 2 ? 0 : persistent;
		created = true;
	}
	store_value(e, v);
	if (publisher) {
		e->source = *publisher;
		control_get_timestamp(&e->timestamp);
	}
	if (created)
		pool[id] = g_list_prepend(pool[id], e);
	return 0;
}

// Copies the entry (not a blob's bytes) out under the lock, checking its type.
int pool_get(uint32_t id, int32_t stream_id, uint32_t type, info_pool_entry *out, void **blob_copy)
{
	if (id >= INFO_POOL_IDS)
		return -1;
	write_guard guard;
	if (!pool)
		return -1;
	info_pool_entry *e = find_entry(id, map_stream(stream_id));
	if (!e)
		return -1;
	if (e->type != type) {
		debug_output(DEBUG_WARNING, 0,
		             "Can't get info-pool value with wrong type, found %d, requested %d.\n",
		             (int)e->type, (int)type);
		return -1;
	}
	*out = *e;
	if (blob_copy)
		*blob_copy = e->blob_size ? g_memdup2(e->value.ptr, e->blob_size) : nullptr;
	return 0;
}

set_value word_value(uint32_t word)
{
	set_value v = {};
	v.word = word;
	return v;
}

uint32_t float_bits(float f)
{
	uint32_t w;
	memcpy(&w, &f, sizeof(w));
	return w;
}

set_value blob_value(const void *data, uint32_t size)
{
	set_value v = {};
	v.blob = data;
	v.blob_size = data ? size : 0;
	return v;
}

set_value pointer_value(void *pointer)
{
	set_value v = {};
	v.pointer = pointer;
	return v;
}

} // namespace

int info_pool_init(void)
{
	write_guard guard;
	if (pool)
		return -1;
	pool = g_new0(GList *, INFO_POOL_IDS);
	return 0;
}

void info_pool_free(void)
{
	write_guard guard;
	if (!pool)
		return;
	for (int id = 0; id < INFO_POOL_IDS; id++)
		g_list_free_full(pool[id], [](gpointer e) { free_entry(static_cast<info_pool_entry *>(e)); });
	g_free(pool);
	pool = nullptr;
}

int info_pool_set_float(uint32_t id, int32_t stream_id, uint32_t persistent, float value)
{
	return pool_set(id, stream_id, INFO_POOL_FLOAT, persistent, word_value(float_bits(value)), nullptr);
}

int info_pool_set_imfix(uint32_t id, int32_t stream_id, uint32_t persistent, int32_t value)
{
	return pool_set(id, stream_id, INFO_POOL_IMFIX, persistent, word_value((uint32_t)value), nullptr);
}

int info_pool_set_int(uint32_t id, int32_t stream_id, uint32_t persistent, int32_t value)
{
	return pool_set(id, stream_id, INFO_POOL_INT, persistent, word_value((uint32_t)value), nullptr);
}

int info_pool_set_bool(uint32_t id, int32_t stream_id, uint32_t persistent, uint8_t value)
{
	return pool_set(id, stream_id, INFO_POOL_BOOL, persistent, word_value(value), nullptr);
}

int info_pool_set_blob(uint32_t id, int32_t stream_id, uint32_t persistent, const void *data, uint32_t size)
{
	if (persistent == 1)
		debug_output(DEBUG_WARNING, 0, "Persistent info-pool blobs are not supported!\n");
	return pool_set(id, stream_id, INFO_POOL_BLOB, persistent, blob_value(data, size), nullptr);
}

int info_pool_set_pointer(uint32_t id, int32_t stream_id, uint32_t persistent, void *pointer)
{
	if (persistent == 1)
		debug_output(DEBUG_WARNING, 0, "Persistent info-pool pointers are not supported!\n");
	return pool_set(id, stream_id, INFO_POOL_POINTER, persistent, pointer_value(pointer), nullptr);
}

int info_pool_set_float_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                             float value)
{
	return pool_set(id, stream_id, INFO_POOL_FLOAT, persistent, word_value(float_bits(value)),
	                &publisher);
}

int info_pool_set_imfix_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                             int32_t value)
{
	return pool_set(id, stream_id, INFO_POOL_IMFIX, persistent, word_value((uint32_t)value), &publisher);
}

int info_pool_set_int_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                           int32_t value)
{
	return pool_set(id, stream_id, INFO_POOL_INT, persistent, word_value((uint32_t)value), &publisher);
}

int info_pool_set_bool_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                            uint8_t value)
{
	return pool_set(id, stream_id, INFO_POOL_BOOL, persistent, word_value(value), &publisher);
}

int info_pool_set_blob_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                            const void *data, uint32_t size)
{
	if (persistent == 1)
		debug_output(DEBUG_WARNING, 0, "Persistent info-pool blobs are not supported!\n");
	return pool_set(id, stream_id, INFO_POOL_BLOB, persistent, blob_value(data, size), &publisher);
}

int info_pool_set_pointer_from(uint32_t publisher, uint32_t id, int32_t stream_id, uint32_t persistent,
                               void *pointer)
{
	if (persistent == 1)
		debug_output(DEBUG_WARNING, 0, "Persistent info-pool pointers are not supported!\n");
	return pool_set(id, stream_id, INFO_POOL_POINTER, persistent, pointer_value(pointer), &publisher);
}

void info_pool_entry_set_source(struct info_pool_entry *entry, uint32_t source,
                                const struct control_timestamp *timestamp)
{
	if (!entry)
		return;
	write_guard guard;
	entry->source = source;
	if (timestamp)
		entry->timestamp = *timestamp;
}

int info_pool_get_float(uint32_t id, int32_t stream_id, float *value)
{
	info_pool_entry e;
	if (pool_get(id, stream_id, INFO_POOL_FLOAT, &e, nullptr) != 0)
		return -1;
	if (value)
		*value = e.value.f;
	return 0;
}

int info_pool_get_imfix(uint32_t id, int32_t stream_id, int32_t *value)
{
	info_pool_entry e;
	if (pool_get(id, stream_id, INFO_POOL_IMFIX, &e, nullptr) != 0)
		return -1;
	if (value)
		*value = e.value.i;
	return 0;
}

int info_pool_get_int(uint32_t id, int32_t stream_id, int32_t *value)
{
	info_pool_entry e;
	if (pool_get(id, stream_id, INFO_POOL_INT, &e, nullptr) != 0)
		return -1;
	if (value)
		*value = e.value.i;
	return 0;
}

int info_pool_get_bool(uint32_t id, int32_t stream_id, uint8_t *value)
{
	info_pool_entry e;
	if (pool_get(id, stream_id, INFO_POOL_BOOL, &e, nullptr) != 0)
		return -1;
	if (value)
		*value = e.value.b;
	return 0;
}

int info_pool_get_pointer(uint32_t id, int32_t stream_id, void **pointer)
{
	info_pool_entry e;
	if (pool_get(id, stream_id, INFO_POOL_POINTER, &e, nullptr) != 0)
		return -1;
	if (pointer)
		*pointer = e.value.ptr;
	return 0;
}

int info_pool_get_blob(uint32_t id, int32_t stream_id, void **data, uint32_t *size)
{
	info_pool_entry e;
	void *copy = nullptr;
	if (pool_get(id, stream_id, INFO_POOL_BLOB, &e, &copy) != 0)
		return -1;
	if (data)
		*data = copy;
	else
		g_free(copy);
	if (size)
		*size = e.blob_size;
	return 0;
}

int info_pool_remove(uint32_t id, int32_t stream_id, uint32_t type)
{
	if (id >= INFO_POOL_IDS)
		return -1;
	write_guard guard;
	if (!pool)
		return -1;
	int32_t mapped = map_stream(stream_id);
	for (GList *l = pool[id]; l; l = l->next) {
		auto *e = static_cast<info_pool_entry *>(l->data);
		if (e->stream_id != mapped || e->type != type)
			continue;
		pool[id] = g_list_delete_link(pool[id], l);
		free_entry(e);
		return 0;
	}
	return -1;
}

// ---- the store ----

namespace
{

const uint32_t *crc_table()
{
	static uint32_t table[256];
	static gsize done;
	if (g_once_init_enter(&done)) {
		for (uint32_t n = 0; n < 256; n++) {
			uint32_t c = n;
			for (int k = 0; k < 8; k++)
				c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
			table[n] = c;
		}
		g_once_init_leave(&done, 1);
	}
	return table;
}

// Plain table CRC-32, started at 0 and not inverted at the end: the value
// the store has always held.
uint32_t crc_update(uint32_t crc, const uint8_t *bytes, size_t length)
{
	const uint32_t *table = crc_table();
	for (size_t i = 0; i < length; i++)
		crc = table[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
	return crc;
}

void put_u32(uint8_t *p, uint32_t v)
{
	p[0] = (uint8_t)v;
	p[1] = (uint8_t)(v >> 8);
	p[2] = (uint8_t)(v >> 16);
	p[3] = (uint8_t)(v >> 24);
}

uint32_t get_u32(const uint8_t *p)
{
	return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void make_header(uint8_t *h, uint32_t crc)
{
	put_u32(h, INFO_POOL_DB_MAGIC);
	put_u32(h + 4, crc);
	put_u32(h + 8, INFO_POOL_DB_HEADER_SIZE);
	put_u32(h + 12, 1);
	put_u32(h + 16, 0);
}

bool stored_in_file(const info_pool_entry *e)
{
	return e->persistent && e->type != INFO_POOL_BLOB && e->type != INFO_POOL_POINTER;
}

void make_record(uint8_t *r, const info_pool_entry *e)
{
	put_u32(r, e->id);
	put_u32(r + 4, e->type);
	put_u32(r + 8, 1);
	put_u32(r + 12, (uint32_t)e->stream_id);
	put_u32(r + 16, e->source);
	put_u32(r + 20, (uint32_t)e->timestamp.sec);
	put_u32(r + 24, (uint32_t)e->timestamp.usec);
	put_u32(r + 28, e->type == INFO_POOL_BOOL ? (e->value.b ? 1u : 0u) : (uint32_t)e->value.i);
	put_u32(r + 32, e->blob_size);
}

// The records of every persistent entry, ids in order, each list in order.
std::vector<uint8_t> collect_records(bool *any)
{
	std::vector<uint8_t> records;
	*any = false;
	read_guard guard;
	if (!pool)
		return records;
	for (int id = 0; id < INFO_POOL_IDS; id++) {
		for (GList *l = pool[id]; l; l = l->next) {
			auto *e = static_cast<const info_pool_entry *>(l->data);
			if (e->persistent)
				*any = true;
			if (!stored_in_file(e))
				continue;
			size_t at = records.size();
			records.resize(at + INFO_POOL_DB_RECORD_SIZE);
			make_record(records.data() + at, e);
		}
	}
	return records;
}

bool write_all(int fd, const uint8_t *bytes, size_t length)
{
	while (length > 0) {
		ssize_t n = write(fd, bytes, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		bytes += n;
		length -= (size_t)n;
	}
	return true;
}

int remove_db(const char *path)
{
	if (unlink(path) == 0 || errno == ENOENT)
		return 0;
	debug_output(DEBUG_ERROR, 0, "Failed to remove info-pool db-file: %s.\n", strerror(errno));
	return -1;
}

int write_db(const char *path, const std::vector<uint8_t> &records)
{
	safe_flash_file *file = safe_flashopen(path);
	if (!file) {
		debug_output(DEBUG_ERROR, 0, "Failed to open info-pool db-file: %s; %s.\n", path,
		             strerror(errno));
		return -1;
	}
	uint8_t header[INFO_POOL_DB_HEADER_SIZE];
	make_header(header, 0);
	if (!write_all(file->fd, header, sizeof(header))) {
		debug_output(DEBUG_ERROR, 0, "Failed to write header to info-pool db-file: %s.\n", path);
		safe_flashclose(file, 1);
		return -1;
	}
	uint32_t crc = crc_update(0, header + 8, INFO_POOL_DB_HEADER_SIZE - 8);
	if (!write_all(file->fd, records.data(), records.size())) {
		debug_output(DEBUG_ERROR, 0, "Failed to write to info-pool db-file: %s.\n", path);
		safe_flashclose(file, 1);
		return -1;
	}
	crc = crc_update(crc, records.data(), records.size());
	if (lseek(file->fd, 0, SEEK_SET) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to prepare header-crc to info-pool db-file: %s.\n",
		             path);
		safe_flashclose(file, 1);
		return -1;
	}
	make_header(header, crc);
	if (!write_all(file->fd, header, sizeof(header))) {
		debug_output(DEBUG_ERROR, 0, "Failed to write to info-pool db-file: %s.\n", path);
		safe_flashclose(file, 1);
		return -1;
	}
	return safe_flashclose(file, 0) == 0 ? 0 : -1;
}

} // namespace

int info_pool_write_entry(void)
{
	bool any = false;
	std::vector<uint8_t> records = collect_records(&any);
	char *path = vistrad_path(INFO_POOL_DB_PATH);
	int r = any ? write_db(path, records) : remove_db(path);
	g_free(path);
	return r;
}

namespace
{

bool read_file(int fd, std::vector<uint8_t> *data)
{
	uint8_t chunk[4096];
	for (;;) {
		ssize_t n = read(fd, chunk, sizeof(chunk));
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return false;
		if (n == 0)
			return true;
		if (data->size() + (size_t)n > max_db_size) {
			errno = EFBIG;
			return false;
		}
		data->insert(data->end(), chunk, chunk + n);
	}
}

// Checks the header; gives the offset of the first record, or 0 when the
// file must be ignored.
size_t check_header(const std::vector<uint8_t> &db)
{
	const uint8_t *p = db.data();
	if (db.size() < 4) {
		debug_output(DEBUG_ERROR, 0, "Failed to read magic of header of info-pool db-file.\n");
		return 0;
	}
	if (get_u32(p) != INFO_POOL_DB_MAGIC) {
		debug_output(DEBUG_ERROR, 0, "Wrong magic in info-pool db-file.\n");
		return 0;
	}
	if (db.size() < 8) {
		debug_output(DEBUG_ERROR, 0, "Failed to read crc in header of info-pool db-file.\n");
		return 0;
	}
	if (db.size() < 12) {
		debug_output(DEBUG_ERROR, 0, "Failed to read header size of info-pool db-file.\n");
		return 0;
	}
	if (crc_update(0, p + 8, db.size() - 8) != get_u32(p + 4)) {
		debug_output(DEBUG_ERROR, 0, "Wrong CRC in info-pool db-file.\n");
		return 0;
	}
	uint32_t header_size = get_u32(p + 8);
	// A header without its version words cannot be trusted, whatever its CRC.
	if (header_size < INFO_POOL_DB_HEADER_SIZE || db.size() < INFO_POOL_DB_HEADER_SIZE) {
		debug_output(DEBUG_ERROR, 0, "Failed to read header info-pool db-file.\n");
		return 0;
	}
	if (get_u32(p + 12) != 1) {
		debug_output(DEBUG_ERROR, 0, "Can't handle file with version %d.%d.\n", (int)get_u32(p + 12),
		             (int)get_u32(p + 16));
		return 0;
	}
	if (header_size > db.size()) {
		debug_output(DEBUG_ERROR, 0, "Failed when seeking data info-pool db-file.\n");
		return 0;
	}
	return header_size;
}

bool record_loadable(const uint8_t *r)
{
	uint32_t type = get_u32(r + 4);
	switch (type) {
	case INFO_POOL_FLOAT:
	case INFO_POOL_IMFIX:
	case INFO_POOL_INT:
	case INFO_POOL_BOOL:
		if (get_u32(r) < INFO_POOL_IDS)
			return true;
		debug_output(DEBUG_ERROR, 0, "Info-pool id %u out of range.\n", get_u32(r));
		break;
	case INFO_POOL_BLOB:
	case INFO_POOL_POINTER:
		debug_output(DEBUG_ERROR, 0, "Unmanagable blob for persistent storage\n");
		debug_output(DEBUG_ERROR, 0, "Unable to retrieve data from persistency\n");
		break;
	default:
		debug_output(DEBUG_ERROR, 0, "Unable to retrieve data from persistency\n");
		break;
	}
	debug_output(DEBUG_ERROR, 0, "Failed to read from db-file.\n");
	return false;
}

int set_from_record(const uint8_t *r)
{
	uint32_t id = get_u32(r);
	int32_t stream_id = (int32_t)get_u32(r + 12);
	uint32_t word = get_u32(r + 28);
	switch (get_u32(r + 4)) {
	case INFO_POOL_FLOAT:
		return pool_set(id, stream_id, INFO_POOL_FLOAT, 1, word_value(word), nullptr);
	case INFO_POOL_IMFIX:
		return info_pool_set_imfix(id, stream_id, 1, (int32_t)word);
	case INFO_POOL_INT:
		return info_pool_set_int(id, stream_id, 1, (int32_t)word);
	default:
		return info_pool_set_bool(id, stream_id, 1, (uint8_t)(word & 0xff));
	}
}

// Two records for one id and stream must agree on the type, and so must a
// record and what the pool already holds.
bool records_agree(const uint8_t *records, size_t count)
{
	std::map<std::pair<uint32_t, int32_t>, uint32_t> types;
	read_guard guard;
	for (size_t i = 0; i < count; i++) {
		const uint8_t *r = records + i * INFO_POOL_DB_RECORD_SIZE;
		uint32_t id = get_u32(r);
		int32_t mapped = map_stream((int32_t)get_u32(r + 12));
		uint32_t type = get_u32(r + 4);
		auto known = types.emplace(std::make_pair(id, mapped), type).first;
		const info_pool_entry *held = pool ? find_entry(id, mapped) : nullptr;
		uint32_t found = held ? held->type : known->second;
		if (found != type) {
			debug_output(DEBUG_WARNING, 0,
			             "Can't set info-pool value with wrong type, found %d, requested %d.\n",
			             (int)found, (int)type);
			debug_output(DEBUG_ERROR, 0, "Failed to read data from info-pool db.\n");
			return false;
		}
	}
	return true;
}

// The whole file is checked before anything is loaded, so a damaged store
// never leaves half of its values in the pool.
int load_db(const std::vector<uint8_t> &db)
{
	size_t first = check_header(db);
	if (first == 0)
		return -1;
	size_t count = (db.size() - first) / INFO_POOL_DB_RECORD_SIZE;
	if ((db.size() - first) % INFO_POOL_DB_RECORD_SIZE != 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to read from info-pool db-file: %s.\n",
		             "info_pool_read_entry", "truncated record");
		debug_output(DEBUG_ERROR, 0, "Failed to read from db-file.\n");
		return -1;
	}
	for (size_t i = 0; i < count; i++)
		if (!record_loadable(db.data() + first + i * INFO_POOL_DB_RECORD_SIZE))
			return -1;
	if (!records_agree(db.data() + first, count))
		return -1;
	for (size_t i = 0; i < count; i++) {
		if (set_from_record(db.data() + first + i * INFO_POOL_DB_RECORD_SIZE) != 0) {
			debug_output(DEBUG_ERROR, 0, "Failed to read data from info-pool db.\n");
			return -1;
		}
	}
	return 0;
}

} // namespace

int info_pool_read_entry(struct control *engine)
{
	if (!engine)
		return -1;
	char *path = vistrad_path(INFO_POOL_DB_PATH);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	g_free(path);
	if (fd < 0)
		return -1;
	std::vector<uint8_t> db;
	int r;
	if (!read_file(fd, &db)) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to read from info-pool db-file: %s.\n",
		             "info_pool_read_entry", strerror(errno));
		debug_output(DEBUG_ERROR, 0, "Failed to read from db-file.\n");
		r = -1;
	} else {
		r = load_db(db);
	}
	if (close(fd) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to close info-pool db-file: %s.\n", strerror(errno));
		return -1;
	}
	return r;
}
