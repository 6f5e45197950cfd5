#include "datacache.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "datacache_ioctl.h"
#include "platform.h"

namespace
{

const uint32_t info_sensor_gain = 14;
const uint32_t info_pan_speed = 89;
const uint32_t info_tilt_speed = 90;
// What an input source registers with: a reader, and the depth of its queue.
const uint32_t reader_queue_depth = 256;
const size_t source_name_size = 28;

int device_ioctl(platform *p, int fd, unsigned long request, void *argument)
{
	return p && p->ioctl ? p->ioctl(p, fd, request, argument) : ioctl(fd, request, argument);
}

int device_open(platform *p, const char *path)
{
	return p && p->open ? p->open(p, path, O_RDWR) : open(path, O_RDWR);
}

void device_close(platform *p, int fd)
{
	if (fd < 0)
		return;
	if (p && p->close)
		p->close(p, fd);
	else
		close(fd);
}

void device_path(char *path, size_t size, int channel)
{
	snprintf(path, size, DATACACHE_DEVICE_PATTERN, channel);
}

int send_name(platform *p, int fd, unsigned long request, const char *name, uint32_t word0, uint32_t word1)
{
	datacache_name n = {};
	g_strlcpy(n.name, name ? name : "", sizeof n.name);
	n.word[0] = word0;
	n.word[1] = word1;
	return device_ioctl(p, fd, request, &n);
}

// One element into the buffer; the time stamp goes out and comes back.
int read_element(platform *p, int fd, int32_t cache_id, uint32_t mode, control_timestamp *timestamp,
                 void *buffer)
{
	datacache_element e = {};
	e.cache_id = (uint32_t)cache_id;
	e.mode = mode;
	e.address = (uint64_t)(uintptr_t)buffer;
	if (timestamp) {
		e.sec = (uint64_t)timestamp->sec;
		e.usec = (uint64_t)timestamp->usec;
	}
	int r = device_ioctl(p, fd, DATACACHE_IOC_READ, &e);
	if (r >= 0 && timestamp) {
		timestamp->sec = (int64_t)e.sec;
		timestamp->usec = (int64_t)e.usec;
	}
	return r;
}

// Device words scaled into the info pool's fixed point, held to 32 bits.
int32_t scaled(int32_t word, int64_t factor)
{
	int64_t v = (int64_t)word * factor;
	if (v > INT32_MAX)
		return INT32_MAX;
	if (v < INT32_MIN)
		return INT32_MIN;
	return (int32_t)v;
}

// The data-cache object's slots.

GList *post_writable(platform *, input_source *source, GList *records)
{
	auto *w = reinterpret_cast<datacache_writer *>(source);
	// Still on the engine's queue from an earlier round: once is enough.
	if (w->record.queued)
		return records;
	w->record.type = DATACACHE_DATA_WRITABLE;
	w->record.stream_id = w->cache->stream_id;
	w->record.release = nullptr;
	control_get_timestamp(&w->record.timestamp);
	w->record.producer_word = 1;
	return g_list_append(records, &w->record);
}

// The writer source of this object, or null when it is gone already.
datacache_writer *writer_of(datacache *cache)
{
	if (!cache->platform)
		return nullptr;
	for (GList *l = cache->platform->input_sources; l; l = l->next) {
		auto *source = static_cast<input_source *>(l->data);
		if (source->kind == INPUT_SOURCE_WRITER && source->read == post_writable &&
		    reinterpret_cast<datacache_writer *>(source)->cache == cache)
			return reinterpret_cast<datacache_writer *>(source);
	}
	return nullptr;
}

void general_destroy(datacache *cache)
{
	datacache_writer *w = writer_of(cache);
	if (w) {
		platform_remove_input_source(cache->platform, &w->source);
		input_source_free(&w->source);
	}
	device_close(cache->platform, cache->fd);
	cache->fd = -1;
	g_free(cache->path);
	cache->path = nullptr;
}

int general_setup(datacache *cache, int32_t stream_id)
{
	if (cache->fd >= 0)
		general_destroy(cache);
	cache->stream_id = stream_id;
	char path[32];
	device_path(path, sizeof(path), platform_stream_channel(stream_id));
	cache->fd = device_open(cache->platform, path);
	if (cache->fd < 0) {
		cache->fd = -1;
		debug_output(DEBUG_ERROR, 0, "Unable to open device: %s\n", path);
		return -4;
	}
	auto *w = g_new0(datacache_writer, 1);
	char name[32];
	snprintf(name, sizeof(name), "dc_writer%d", (int)stream_id);
	if (!cache->platform ||
	    !input_source_init(&w->source, cache->platform, name, INPUT_SOURCE_WRITER, nullptr, nullptr,
	                       post_writable, nullptr, nullptr, cache->path)) {
		debug_output(DEBUG_ERROR, 0, "Unable to create platform input source \n");
		input_source_free(&w->source);
		return -4;
	}
	w->cache = cache;
	w->source.descriptor->fd = cache->fd;
	platform_add_input_source(cache->platform, &w->source);
	return PLATFORM_OK;
}

bool fd_ok(const datacache *cache)
{
	if (cache->fd >= 0)
		return true;
	debug_output(DEBUG_ERROR, 0, "invalid fd \n");
	return false;
}

int general_set_select(datacache *cache, int32_t cache_id, int flag)
{
	datacache_select s = {};
	s.cache_id = (uint32_t)cache_id;
	s.flag = (uint8_t)flag;
	if (device_ioctl(cache->platform, cache->fd, DATACACHE_IOC_SELECT, &s) < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to set cache select \n");
		return -4;
	}
	return PLATFORM_OK;
}

int general_create_cache(datacache *cache, const char *name, uint32_t element_size, uint32_t element_count)
{
	if (!fd_ok(cache))
		return -4;
	int id =
	    send_name(cache->platform, cache->fd, DATACACHE_IOC_CREATE, name, element_size, element_count);
	if (id < 0)
		return -4;
	general_set_select(cache, id, 0);
	return id;
}

int general_find_cache(datacache *cache, const char *name)
{
	if (!fd_ok(cache))
		return -4;
	return send_name(cache->platform, cache->fd, DATACACHE_IOC_FIND, name, 0, 0);
}

int general_read(datacache *cache, int32_t cache_id, int mode, control_timestamp *timestamp, void *buffer)
{
	uint32_t sent = mode == 1 ? DATACACHE_READ_LATEST : mode == 2 ? DATACACHE_READ_AT_TIME : 0;
	if (read_element(cache->platform, cache->fd, cache_id, sent, timestamp, buffer) < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to read data from datacache \n");
		return -1;
	}
	return PLATFORM_OK;
}

int general_write(datacache *cache, int32_t cache_id, const control_timestamp *timestamp, const void *data)
{
	datacache_element e = {};
	e.cache_id = (uint32_t)cache_id;
	e.address = (uint64_t)(uintptr_t)data;
	if (timestamp) {
		e.sec = (uint64_t)timestamp->sec;
		e.usec = (uint64_t)timestamp->usec;
	}
	int r = device_ioctl(cache->platform, cache->fd, DATACACHE_IOC_WRITE, &e);
	if (r < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to write to datacache \n");
		return -4;
	}
	return r;
}

int general_get_cache_info(datacache *cache, int32_t cache_id, uint32_t info[2])
{
	datacache_details d = {};
	d.cache_id = (uint32_t)cache_id;
	if (device_ioctl(cache->platform, cache->fd, DATACACHE_IOC_DETAILS, &d) < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to get cache details \n");
		return -4;
	}
	if (!d.has_reader)
		return -4;
	info[0] = d.waiting;
	info[1] = d.elements;
	return PLATFORM_OK;
}

// The input sources.

int input_open(platform *p, input_source *source)
{
	source->descriptor->flags = 0;
	source->descriptor->fd = device_open(p, source->descriptor->path);
	if (source->descriptor->fd >= 0)
		return PLATFORM_OK;
	// Never leave a descriptor number the close callback would act on.
	source->descriptor->fd = -1;
	return -4;
}

int input_close(platform *p, input_source *source)
{
	device_close(p, source->descriptor->fd);
	source->descriptor->fd = -1;
	return PLATFORM_OK;
}

void input_destroy(platform *, input_source *source)
{
	platform_pool_free(&reinterpret_cast<datacache_input *>(source)->pool, nullptr);
}

datacache_input *input_of(input_source *source)
{
	return reinterpret_cast<datacache_input *>(source);
}

int read_into(platform *p, datacache_input *s, control_timestamp *timestamp, void *buffer)
{
	return read_element(p, s->source.descriptor->fd, s->cache_id, (uint32_t)s->reader_mode, timestamp,
	                    buffer);
}

datacache_record *take_record(datacache_input *s)
{
	return static_cast<datacache_record *>(platform_pool_get(&s->pool, sizeof(datacache_record)));
}

GList *post_record(datacache_input *s, datacache_record *record, uint32_t type, const control_timestamp &ts,
                   GList *records)
{
	record->header.type = type;
	record->header.stream_id = s->stream_id;
	record->header.release = nullptr;
	record->header.frame = 0;
	record->header.timestamp = ts;
	record->header.producer_word = 1;
	return g_list_append(records, record);
}

GList *distance_read(platform *p, input_source *source, GList *records)
{
	datacache_input *s = input_of(source);
	platform_pool_recycle(&s->pool);
	datacache_record *record = take_record(s);
	control_timestamp ts = {};
	if (read_into(p, s, &ts, record->element) < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to read data from distance datacache \n");
		return records;
	}
	return post_record(s, record, DATACACHE_DATA_DISTANCE, ts, records);
}

// Every waiting element, one record each. The device counts what is left
// after each read; a device that never runs dry is read no further than the
// depth the source registered with, the rest waits for the next round.
GList *optics_read(platform *p, input_source *source, GList *records)
{
	datacache_input *s = input_of(source);
	platform_pool_recycle(&s->pool);
	for (uint32_t n = 0; n < reader_queue_depth; n++) {
		datacache_record *record = take_record(s);
		control_timestamp ts = {};
		int left = read_into(p, s, &ts, record->element);
		if (left < 0) {
			int err = errno;
			s->errors++;
			if (s->errors > 2 || err != EAGAIN)
				debug_output(DEBUG_ERROR, 0,
				             "Unable to read data from motoroptics datacache\n");
			break;
		}
		records = post_record(s, record, DATACACHE_DATA_MOTOR_OPTICS, ts, records);
		s->errors = 0;
		if (left == 0)
			break;
	}
	return records;
}

// The pan and tilt speeds of the "move" element into the info pool.
void move_get_data(platform *p, datacache_input *s, bool report)
{
	int32_t words[DATACACHE_ELEMENT_SIZE / 4];
	control_timestamp ts = {};
	if (read_into(p, s, &ts, words) < 0) {
		if (report)
			debug_output(DEBUG_ERROR, 0, "Unable to read data from move_data datacache!\n");
		return;
	}
	if (info_pool_set_imfix(info_pan_speed, s->stream_id, 0, scaled(words[1], 98)) != 0)
		debug_output(DEBUG_ERROR, 0, "%s: Failed to update pan speed in infopool\n",
		             "datacache_move_get_data");
	if (info_pool_set_imfix(info_tilt_speed, s->stream_id, 0, scaled(words[2], 98)) != 0)
		debug_output(DEBUG_ERROR, 0, "%s: Failed to update tilt speed in infopool\n",
		             "datacache_move_get_data");
}

GList *move_read(platform *p, input_source *source, GList *records)
{
	move_get_data(p, input_of(source), true);
	return records;
}

// The sensor gain another program measured, into the info pool.
void sensor_data_get_data(platform *p, datacache_input *s, bool report)
{
	int32_t words[4];
	control_timestamp ts = {};
	if (read_into(p, s, &ts, words) < 0) {
		if (report)
			debug_output(DEBUG_ERROR, 0, "Unable to read data from sensor_data datacache!\n");
		return;
	}
	if (info_pool_set_imfix(info_sensor_gain, s->stream_id, 0, scaled(words[0], 16384)) != 0)
		debug_output(DEBUG_ERROR, 0, "%s: Failed to update infopool\n",
		             "datacache_sensor_data_get_data");
}

GList *sensor_data_read(platform *p, input_source *source, GList *records)
{
	sensor_data_get_data(p, input_of(source), true);
	return records;
}

input_source *module_source(control *engine, int32_t stream_id, const char *name, input_source_read_fn read,
                            int reader_flag)
{
	platform *p = control_get_platform(engine);
	return datacache_input_source_new(p, name, platform_stream_channel(stream_id), stream_id, read,
	                                  reader_flag);
}

} // namespace

struct datacache *datacache_new(void)
{
	return g_new0(struct datacache, 1);
}

void datacache_destroy(struct datacache *cache)
{
	if (!cache)
		return;
	if (cache->destroy)
		cache->destroy(cache);
	cache->platform = nullptr;
	g_free(cache);
}

void datacache_add_platform(struct datacache *cache, struct platform *platform)
{
	if (cache)
		cache->platform = platform;
}

int datacache_setup(struct datacache *cache, int32_t stream_id)
{
	return cache && cache->setup ? cache->setup(cache, stream_id) : -1;
}

int datacache_create_cache(struct datacache *cache, const char *name, uint32_t element_size,
                           uint32_t element_count)
{
	return cache && cache->create_cache ? cache->create_cache(cache, name, element_size, element_count)
	                                    : -1;
}

int datacache_find_cache(struct datacache *cache, const char *name)
{
	return cache && cache->find_cache ? cache->find_cache(cache, name) : -1;
}

int datacache_read(struct datacache *cache, int32_t cache_id, int mode, struct control_timestamp *timestamp,
                   void *buffer)
{
	return cache && cache->read ? cache->read(cache, cache_id, mode, timestamp, buffer) : -1;
}

int datacache_write(struct datacache *cache, int32_t cache_id, const struct control_timestamp *timestamp,
                    const void *data)
{
	return cache && cache->write ? cache->write(cache, cache_id, timestamp, data) : -1;
}

int datacache_get_cache_info(struct datacache *cache, int32_t cache_id, uint32_t info[2])
{
	return cache && cache->get_cache_info && info ? cache->get_cache_info(cache, cache_id, info) : -1;
}

int datacache_set_select(struct datacache *cache, int32_t cache_id, int flag)
{
	return cache && cache->set_select ? cache->set_select(cache, cache_id, flag) : -1;
}

void *datacache_general(struct prodconf *, struct control *, int32_t)
{
	datacache *cache = datacache_new();
	// Not descriptor 0: destroying an object whose set-up never ran must not
	// close standard input.
	cache->fd = -1;
	cache->destroy = general_destroy;
	cache->setup = general_setup;
	cache->create_cache = general_create_cache;
	cache->find_cache = general_find_cache;
	cache->read = general_read;
	cache->write = general_write;
	cache->get_cache_info = general_get_cache_info;
	cache->set_select = general_set_select;
	return cache;
}

struct input_source *datacache_input_source_new(struct platform *platform, const char *name, int channel,
                                                int32_t stream_id, input_source_read_fn read, int reader_flag)
{
	if (!name)
		return nullptr;
	auto *s = g_new0(datacache_input, 1);
	char path[32], source_name[source_name_size];
	device_path(path, sizeof(path), channel);
	snprintf(source_name, sizeof(source_name), "%s_%d", name, channel);
	if (!input_source_init(&s->source, platform, source_name, INPUT_SOURCE_READER, input_open,
	                       input_close, read, nullptr, input_destroy, path)) {
		debug_output(DEBUG_ERROR, 0, "Unable to create platform input source \n");
		input_source_free(&s->source);
		return nullptr;
	}
	int id =
	    send_name(platform, s->source.descriptor->fd, DATACACHE_IOC_FIND, name, 1, reader_queue_depth);
	if (id < 0) {
		debug_output(DEBUG_ERROR, 0, "Unable to register cache %s\n", source_name);
		input_source_free(&s->source);
		return nullptr;
	}
	s->cache_id = id;
	s->stream_id = stream_id;
	s->reader_mode = reader_flag == 1 ? 2 : 1;
	return &s->source;
}

void *datacache_distance_input_source(struct prodconf *, struct control *engine, int32_t stream_id)
{
	return module_source(engine, stream_id, "distance", distance_read, 0);
}

void *datacache_optics_input_source(struct prodconf *, struct control *engine, int32_t stream_id)
{
	return module_source(engine, stream_id, "motoroptics", optics_read, 1);
}

void *datacache_move_input_source(struct prodconf *, struct control *engine, int32_t stream_id)
{
	return module_source(engine, stream_id, "move", move_read, 0);
}

void *datacache_sensor_data_input_source(struct prodconf *, struct control *engine, int32_t stream_id)
{
	input_source *source = module_source(engine, stream_id, "sensor_data", sensor_data_read, 0);
	// The gain another program measured before the daemon came counts too.
	if (source)
		sensor_data_get_data(control_get_platform(engine), input_of(source), false);
	return source;
}
