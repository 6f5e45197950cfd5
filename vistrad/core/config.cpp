#include "config.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "daemon.h"
#include "debug_output.h"
#include "param_db.h"
#include "param_map.h"
#include "prodconf.h"
#include "safe_flash.h"
#include "stream_map.h"
#include "vistrad_path.h"

namespace
{

const char default_path[] = "/etc/vistrad/vistrad.conf";
const char damaged_path[] = "/etc/vistrad/vistrad.conf.bad";
const char legacy_root[] = "/etc/vistrad/legacy_config";
const char all_streams_group[] = "STREAM_ALL";
const char stream_group_prefix[] = "StreamID";

const struct config_file legacy_param_files[] = {
    {"/etc/sysconfig/image_source.conf", 0},
    {"/etc/sysconfig/image_source_calibration.conf", 0},
    {"/etc/sysconfig/image_source_iralarm.conf", 0},
    {"/etc/sysconfig/image_source_irisotherm.conf", 0},
    {"/etc/sysconfig/image_source_irradiometry.conf", 0},
    {"/etc/sysconfig/imagesource_dciris.conf", 0},
    {"/etc/sysconfig/imagesource_daynight.conf", 0},
    {"/etc/sysconfig/lens.conf", 0},
    {nullptr, 0},
};

// The last one was only ever a file at the top of the tree, beside etc/.
const struct config_file legacy_window_files[] = {
    {"/etc/dynamic/imagesource_i0_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i1_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i2_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i3_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i4_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i5_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i6_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i7_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i8_sensor_customexposurewindow.conf", 0},
    {"/etc/dynamic/imagesource_i9_sensor_customexposurewindow.conf", 0},
    {"/test.conf", 0},
    {nullptr, 0},
};

const struct config_file legacy_zone_files[] = {
    {"/etc/dynamic/imagesource_i0_sensor_temperaturezone.conf", 0},
    {"/etc/dynamic/imagesource_i1_sensor_temperaturezone.conf", 0},
    {"/etc/dynamic/imagesource_i2_sensor_temperaturezone.conf", 0},
    {"/etc/dynamic/imagesource_i3_sensor_temperaturezone.conf", 0},
    {"/etc/dynamic/imagesource_i4_sensor_temperaturezone.conf", 0},
    {"/etc/dynamic/imagesource_i5_sensor_temperaturezone.conf", 0},
    {nullptr, 0},
};

// Emptied in this order once the import is done: children first.
const char *const legacy_dirs[] = {"/etc/sysconfig", "/etc/dynamic", "/etc", ""};

// Keys that an older camera wrote whatever the user had set.
const char *const not_content_keys[] = {"NbrOfSources", "MotionDetection", "Name",
                                        "AutoRotation", "AspectRatio",     "CaptureMode"};

// Groups and keys of the last applied key file that name no parameter here
// (written by a newer or another build, or by hand): they go back into every
// file written, so that nothing the user had is lost.
GKeyFile *carried;
// A failing flash is reported once, not at every round that retries.
bool write_failing;

bool use_stream(const struct daemon_context *context)
{
	return context && context->conf && context->conf->use_stream;
}

void reset_if_unset(uint32_t id, int32_t stream_id)
{
	param_value probe = {};
	probe.id = id;
	probe.stream_id = stream_id;
	if (param_is_set(&probe) < 0)
		param_reset(id, stream_id);
}

// A legacy file list rooted at the real root or below the legacy directory.
struct file_list {
	std::vector<std::string> paths;
	std::vector<config_file> files;

	file_list(const config_file *names, const char *prefix)
	{
		for (const config_file *f = names; f->path; f++) {
			char *path = vistrad_path((std::string(prefix) + f->path).c_str());
			paths.push_back(path);
			g_free(path);
		}
		for (size_t i = 0; i < paths.size(); i++)
			files.push_back({paths[i].c_str(), names[i].required});
		files.push_back({nullptr, 0});
	}
	const config_file *get() const
	{
		return files.data();
	}
};

// ---- the key file ----

const struct param_def *find_by_name(const struct param_def *map, const char *name)
{
	if (!map)
		return param_def_by_name(name);
	for (const struct param_def *row = map; row->id != 0; row++)
		if (strcmp(row->name, name) == 0)
			return row;
	return nullptr;
}

// "STREAM_ALL", or "StreamID" and a whole number that is a stream id.
bool group_stream(const char *group, int32_t *stream_id)
{
	if (strcmp(group, all_streams_group) == 0) {
		*stream_id = -1;
		return true;
	}
	if (!g_str_has_prefix(group, stream_group_prefix))
		return false;
	gint64 n;
	if (!g_ascii_string_to_signed(group + strlen(stream_group_prefix), 10, INT32_MIN, INT32_MAX, &n,
	                              nullptr))
		return false;
	if (!stream_id_is_valid((int32_t)n))
		return false;
	*stream_id = (int32_t)n;
	return true;
}

void copy_key(GKeyFile *from, GKeyFile *to, const char *group, const char *key)
{
	char *value = g_key_file_get_value(from, group, key, nullptr);
	if (!value)
		return;
	g_key_file_set_value(to, group, key, value);
	char *comment = g_key_file_get_comment(from, group, key, nullptr);
	if (comment)
		g_key_file_set_comment(to, group, key, comment, nullptr);
	g_free(comment);
	g_free(value);
}

void carry_key(GKeyFile *from, const char *group, const char *key)
{
	if (!carried)
		carried = g_key_file_new();
	copy_key(from, carried, group, key);
}

// 0 with the value in the record, -1 for a value that cannot be read, 1 for a
// type that the key file does not hold.
int read_value(GKeyFile *key_file, const char *group, const char *key, const struct param_def *def,
               struct param_value *rec)
{
	GError *error = nullptr;
	switch (def->type) {
	case PARAM_TYPE_INT:
		rec->value = g_key_file_get_integer(key_file, group, key, &error);
		break;
	case PARAM_TYPE_ENUM: {
		char *name = g_key_file_get_string(key_file, group, key, nullptr);
		rec->value = param_convert_enum_to_int(def->id, rec->stream_id, name ? name : "");
		g_free(name);
		return rec->value < 0 ? -1 : 0;
	}
	case PARAM_TYPE_BOOL:
		rec->value = g_key_file_get_boolean(key_file, group, key, &error) ? 1 : 0;
		break;
	case PARAM_TYPE_STRING:
		rec->text = g_key_file_get_string(key_file, group, key, &error);
		break;
	default:
		debug_output(DEBUG_ERROR, 0, "Unknown parameter type %d\n", (int)def->type);
		return 1;
	}
	if (!error)
		return 0;
	g_error_free(error);
	return -1;
}

void apply_key(GKeyFile *key_file, const char *group, int32_t stream_id, const char *key,
               const struct param_def *map)
{
	const struct param_def *def = find_by_name(map, key);
	if (!def) {
		debug_output(DEBUG_WARNING, 0, "config: no param_map exists for name %s\n", key);
		carry_key(key_file, group, key);
		return;
	}
	param_value rec = {};
	rec.id = def->id;
	rec.stream_id = stream_id;
	rec.type = def->type;
	param_set_def(&rec, def);
	int r = read_value(key_file, group, key, def, &rec);
	if (r > 0) {
		carry_key(key_file, group, key);
		return;
	}
	if (r < 0 || !param_value_valid(&rec, def)) {
		char *raw = g_key_file_get_value(key_file, group, key, nullptr);
		debug_output(DEBUG_WARNING, 0, "config: skipping invalid value \"%s\" of %s in group %s\n",
		             raw ? raw : "", key, group);
		g_free(raw);
	} else if (param_set(&rec) != 0) {
		debug_output(DEBUG_ERROR, 0, "config: could not set param %s (id %d), stream %d\n", key,
		             (int)def->id, (int)stream_id);
	}
	g_free(rec.text);
}

void apply_group(GKeyFile *key_file, const char *group, const struct param_def *map)
{
	gchar **keys = g_key_file_get_keys(key_file, group, nullptr, nullptr);
	int32_t stream_id;
	if (!group_stream(group, &stream_id)) {
		debug_output(DEBUG_WARNING, 0, "config: group %s names no stream, kept as it is\n", group);
		for (gchar **k = keys; k && *k; k++)
			carry_key(key_file, group, *k);
	} else {
		for (gchar **k = keys; k && *k; k++)
			apply_key(key_file, group, stream_id, *k, map);
	}
	g_strfreev(keys);
}

// What the file held that names nothing here goes back in, unless the
// parameter database now holds a value of its own under the same name.
void add_carried(GKeyFile *key_file)
{
	if (!carried)
		return;
	gchar **groups = g_key_file_get_groups(carried, nullptr);
	for (gchar **g = groups; *g; g++) {
		gchar **keys = g_key_file_get_keys(carried, *g, nullptr, nullptr);
		for (gchar **k = keys; k && *k; k++)
			if (!g_key_file_has_key(key_file, *g, *k, nullptr))
				copy_key(carried, key_file, *g, *k);
		g_strfreev(keys);
	}
	g_strfreev(groups);
}

void backup_one(GKeyFile *key_file, const struct param_def *row, int32_t stream_id)
{
	if (param_is_default(row->id, stream_id))
		return;
	char *group = stream_id == -1 ? g_strdup(all_streams_group)
	                              : g_strdup_printf("%s%d", stream_group_prefix, (int)stream_id);
	param_value rec = {};
	rec.id = row->id;
	rec.stream_id = stream_id;
	// Writing whatever was left in the record would replace the user's
	// value with garbage: the key is left out instead.
	bool written = param_get(&rec) == 0;
	if (!written)
		debug_output(DEBUG_ERROR, 0, "%s: could not get param %s for stream_id %d\n", "config_backup",
		             row->key, (int)stream_id);
	else if (row->type == PARAM_TYPE_INT)
		g_key_file_set_integer(key_file, group, row->name, rec.value);
	else if (row->type == PARAM_TYPE_BOOL)
		g_key_file_set_boolean(key_file, group, row->name, rec.value != 0);
	else if (row->type == PARAM_TYPE_STRING)
		g_key_file_set_string(key_file, group, row->name, rec.text ? rec.text : "");
	else if (row->type == PARAM_TYPE_FIX)
		g_key_file_set_double(key_file, group, row->name, rec.value / 16384.0);
	else if (row->type == PARAM_TYPE_ENUM) {
		char *name = param_convert_int_to_enum(row->id, stream_id, rec.value);
		written = name != nullptr;
		if (written)
			g_key_file_set_string(key_file, group, row->name, name);
		else
			debug_output(DEBUG_ERROR, 0, "%s: could not get param %s for stream_id %d\n",
			             "config_backup", row->key, (int)stream_id);
		g_free(name);
	} else {
		debug_output(DEBUG_ERROR, 0, "%s: no such parameter type %d\n", "config_backup",
		             (int)row->type);
		written = false;
	}
	if (written) {
		char *comment = row->group ? g_strdup_printf("%s.%s, id = %u", row->group, row->key, row->id)
		                           : g_strdup_printf("%s, id = %u", row->key, row->id);
		g_key_file_set_comment(key_file, group, row->name, comment, nullptr);
		g_free(comment);
	}
	g_free(rec.text);
	g_free(group);
}

// True when nothing was pending or the file was written. The flag is cleared
// before the values are read, so a change made meanwhile is not lost.
bool save_pending_settings(void)
{
	if (!param_get_save_pending())
		return true;
	param_set_save_pending(0);
	GKeyFile *key_file = config_backup(param_def_by_index(0));
	add_carried(key_file);
	int r = config_write_keyfile(key_file, nullptr);
	g_key_file_free(key_file);
	if (r == 0) {
		if (write_failing)
			debug_output(DEBUG_INFO, 0, "config: settings written again\n");
		write_failing = false;
		return true;
	}
	param_set_save_pending(1);
	if (!write_failing)
		debug_output(DEBUG_ERROR, 0,
		             "config: could not write the settings (%d), keeping them for a retry\n", r);
	write_failing = true;
	return false;
}

// ---- a damaged key file ----

// A line the key-file parser accepts on its own. A header that does not
// parse ends the group: its keys must not land in the group before it.
bool line_is_sound(const std::string &line, bool *in_group)
{
	if (line.find('\0') != std::string::npos || !g_utf8_validate(line.data(), line.size(), nullptr))
		return false;
	const char *start = line.c_str();
	while (g_ascii_isspace(*start))
		start++;
	if (*start == '\0' || *start == '#')
		return true;
	bool header = *start == '[';
	if (!header && !*in_group)
		return false;
	std::string probe = "[probe]\n" + line + "\n";
	GKeyFile *key_file = g_key_file_new();
	bool sound =
	    g_key_file_load_from_data(key_file, probe.data(), probe.size(), G_KEY_FILE_NONE, nullptr);
	g_key_file_free(key_file);
	if (header)
		*in_group = sound;
	return sound;
}

// The sound lines of a damaged file; a last line without its line end may
// have been cut anywhere and is left out. Null when no key survives.
GKeyFile *sound_part(const char *path)
{
	gchar *text = nullptr;
	gsize length = 0;
	if (!g_file_get_contents(path, &text, &length, nullptr))
		return nullptr;
	std::string kept;
	bool in_group = false;
	const char *p = text;
	const char *end = text + length;
	while (p < end) {
		const char *nl = static_cast<const char *>(memchr(p, '\n', (size_t)(end - p)));
		if (!nl)
			break;
		std::string line(p, (size_t)(nl - p));
		if (line_is_sound(line, &in_group))
			kept += line + "\n";
		p = nl + 1;
	}
	g_free(text);
	GKeyFile *key_file = g_key_file_new();
	bool any =
	    g_key_file_load_from_data(key_file, kept.data(), kept.size(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
	gchar **groups = any ? g_key_file_get_groups(key_file, nullptr) : nullptr;
	any = false;
	for (gchar **g = groups; g && *g && !any; g++) {
		gsize count = 0;
		g_strfreev(g_key_file_get_keys(key_file, *g, &count, nullptr));
		any = count > 0;
	}
	g_strfreev(groups);
	if (!any) {
		g_key_file_free(key_file);
		return nullptr;
	}
	return key_file;
}

// Moves the file out of the way before anything can write the default path,
// and gives back what can still be used of it.
GKeyFile *set_damaged_aside(const char *path, const GError *error)
{
	char *bad = vistrad_path(damaged_path);
	const char *read_from = bad;
	if (rename(path, bad) == 0) {
		debug_output(DEBUG_ERROR, 0, "config: %s is damaged (%s), kept as %s\n", path, error->message,
		             bad);
	} else {
		debug_output(DEBUG_ERROR, 0, "config: %s is damaged (%s), could not keep it as %s: %s\n",
		             path, error->message, bad, g_strerror(errno));
		read_from = path;
	}
	GKeyFile *key_file = sound_part(read_from);
	if (key_file)
		debug_output(DEBUG_WARNING, 0, "config: applying the sound lines of %s\n", read_from);
	g_free(bad);
	return key_file;
}

// Every file this daemon writes ends with a line end: a file without one was
// cut short, even when what is left still parses.
GKeyFile *load_keyfile(const char *path, GError **error)
{
	gchar *text = nullptr;
	gsize length = 0;
	if (!g_file_get_contents(path, &text, &length, error))
		return nullptr;
	GKeyFile *key_file = g_key_file_new();
	bool loaded = g_key_file_load_from_data(key_file, text, length, G_KEY_FILE_KEEP_COMMENTS, error);
	if (loaded && length > 0 && text[length - 1] != '\n') {
		g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_PARSE, "the last line has no line end");
		loaded = false;
	}
	g_free(text);
	if (loaded)
		return key_file;
	g_key_file_free(key_file);
	return nullptr;
}

// ---- the older configuration ----

// 0 with the files' text as one key file (null when there was none or it did
// not parse), -1 when a required file is missing, -2 when one could not be
// read. *damaged tells the import to keep the files.
int read_legacy_files(const config_file *files, GKeyFile **out, bool *damaged)
{
	*out = nullptr;
	GString *text = g_string_new(nullptr);
	int result = 0;
	for (const config_file *f = files; f->path && result == 0; f++) {
		FILE *fp = fopen(f->path, "r");
		if (!fp) {
			if (f->required) {
				debug_output(DEBUG_ERROR, 0, "Required config-file failure '%s': %s\n",
				             f->path, g_strerror(errno));
				result = -1;
			}
			continue;
		}
		char buf[4096];
		size_t n;
		while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
			g_string_append_len(text, buf, (gssize)n);
		if (ferror(fp)) {
			debug_output(DEBUG_ERROR, 0, "Failure for file '%s': %s\n", f->path,
			             g_strerror(errno));
			result = -2;
		}
		fclose(fp);
		g_string_append_c(text, '\n');
	}
	if (result == 0 && text->len > 0) {
		GKeyFile *key_file = g_key_file_new();
		if (g_key_file_load_from_data(key_file, text->str, text->len, G_KEY_FILE_NONE, nullptr)) {
			*out = key_file;
		} else {
			debug_output(DEBUG_WARNING, 0, "Could not load settings\n");
			g_key_file_free(key_file);
			*damaged = true;
		}
	}
	if (result != 0)
		*damaged = true;
	g_string_free(text, TRUE);
	return result;
}

const char *last_part(const char *key)
{
	const char *dot = strrchr(key, '.');
	return dot ? dot + 1 : key;
}

int legacy_read_int(GKeyFile *key_file, const char *group, const char *key, struct param_value *rec)
{
	GError *error = nullptr;
	rec->value = g_key_file_get_integer(key_file, group, key, &error);
	if (!error)
		return 0;
	char *text = g_key_file_get_string(key_file, group, key, nullptr);
	int r = -1;
	if (text && text[0] == '"') {
		char *end;
		errno = 0;
		long v = strtol(text + 1, &end, 10);
		if (end != text + 1 && errno == 0 && v >= INT32_MIN && v <= INT32_MAX) {
			rec->value = (int32_t)v;
			r = 0;
		}
	}
	if (r != 0)
		debug_output(DEBUG_ERROR, 0, "Type check error %s;%s: %s\n", group, key, error->message);
	g_free(text);
	g_error_free(error);
	return r;
}

// A value in matching quotes loses them; an opening quote alone is refused.
int unquote(char *text, const char *quotes, const char *group, const char *key)
{
	size_t len = strlen(text);
	if (len == 0 || !strchr(quotes, text[0]))
		return 0;
	if (len < 2 || text[len - 1] != text[0]) {
		debug_output(DEBUG_ERROR, 0, "Missing quote in value for key %s, group %s.\n", key, group);
		return -1;
	}
	memmove(text, text + 1, len - 2);
	text[len - 2] = '\0';
	return 0;
}

int legacy_read_enum(GKeyFile *key_file, const char *group, const char *key, const struct param_def *row,
                     struct param_value *rec)
{
	char *text = g_key_file_get_string(key_file, group, key, nullptr);
	int r = -1;
	if (text && unquote(text, "\"'", group, key) == 0) {
		for (int32_t v = 0; row->enum_names && row->enum_names[v]; v++) {
			if (strcmp(row->enum_names[v], text) == 0) {
				rec->value = v;
				r = 0;
				break;
			}
		}
	}
	g_free(text);
	return r;
}

int legacy_read_text(GKeyFile *key_file, const char *group, const char *key, struct param_value *rec)
{
	char *text = g_key_file_get_string(key_file, group, key, nullptr);
	if (!text || unquote(text, "\"", group, key) != 0) {
		g_free(text);
		return -1;
	}
	rec->text = text;
	return 0;
}

int legacy_read_bool(GKeyFile *key_file, const char *group, const char *key, struct param_value *rec)
{
	GError *error = nullptr;
	char *text = g_key_file_get_string(key_file, group, key, &error);
	if (!text) {
		debug_output(DEBUG_ERROR, 0, "Type check error %s;%s: %s\n", group, key, error->message);
		g_error_free(error);
		return -1;
	}
	const char *quote = strchr(text, '"');
	const char *word = quote ? quote + 1 : text;
	rec->value = 0;
	for (const char *yes : {"true", "on", "enable", "yes"})
		if (g_str_has_prefix(word, yes))
			rec->value = 1;
	g_free(text);
	return 0;
}

// Reads one key of an older file into the record's stream and stores it.
int legacy_store(GKeyFile *key_file, const char *group, const char *key, const struct param_def *row,
                 struct param_value *rec)
{
	int r;
	switch (row->type) {
	case PARAM_TYPE_INT:
		r = legacy_read_int(key_file, group, key, rec);
		break;
	case PARAM_TYPE_ENUM:
		r = legacy_read_enum(key_file, group, key, row, rec);
		break;
	case PARAM_TYPE_BOOL:
		r = legacy_read_bool(key_file, group, key, rec);
		break;
	case PARAM_TYPE_STRING:
		r = legacy_read_text(key_file, group, key, rec);
		break;
	default:
		// The older files never held other types; storing an unread
		// value would overwrite a good one.
		r = -1;
		break;
	}
	if (r == 0 && !param_value_valid(rec, row))
		r = -1;
	if (r != 0)
		debug_output(DEBUG_ERROR, 0, "Error in %s in section '%s'\n", key, group);
	else if (param_set(rec) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed adding %s.%s to DB\n", row->group, row->key);
		r = -1;
	}
	g_free(rec->text);
	rec->text = nullptr;
	return r;
}

// The stream an older group gives for a map group, or false when it gives none.
bool legacy_group_stream(const char *group, const char *row_group, bool per_stream, int32_t *stream_id)
{
	long channel = -1;
	std::string expected = row_group;
	const char *mark = per_stream ? strstr(group, "ce.I") : nullptr;
	if (mark) {
		const char *digits = mark + 4;
		char *end = nullptr;
		errno = 0;
		channel = isdigit((unsigned char)*digits) ? strtol(digits, &end, 10) : -1;
		if (channel < 0 || errno != 0) {
			debug_output(DEBUG_WARNING, 0, "Illegal channel in: %s.\n", group);
			channel = -1;
		} else if (channel > 9) {
			// Channel·256 would name no stream, or overflow.
			debug_output(DEBUG_ERROR, 0, "config: channel: %ld >= 10\n", channel);
			return false;
		}
		size_t at = expected.find("ce.I0");
		if (channel >= 0 && at != std::string::npos)
			expected[at + 4] = (char)('0' + channel);
	}
	int64_t base = channel < 0 ? -1 : channel * 256;
	if (expected == group) {
		*stream_id = (int32_t)base;
		return true;
	}
	expected += ".StreamID";
	if (!g_str_has_prefix(group, expected.c_str()))
		return false;
	gint64 sub;
	if (!g_ascii_string_to_signed(group + expected.size(), 10, INT32_MIN, INT32_MAX, &sub, nullptr)) {
		debug_output(DEBUG_WARNING, 0, "Illegal streamid in: %s.\n", group);
		return false;
	}
	int64_t stream = channel < 0 ? sub : sub > 0 ? base + sub : base;
	if (stream > INT32_MAX || !stream_id_is_valid((int32_t)stream)) {
		debug_output(DEBUG_WARNING, 0, "Illegal streamid in: %s.\n", group);
		return false;
	}
	*stream_id = (int32_t)stream;
	return true;
}

GList *legacy_row(GKeyFile *key_file, const struct param_def *row, bool per_stream, GList *streams,
                  bool *content)
{
	param_value rec = {};
	rec.id = row->id;
	rec.stream_id = -1;
	rec.type = row->type;
	rec.value = -1;
	param_set_def(&rec, row);
	gchar **groups =
	    key_file && row->group && row->key ? g_key_file_get_groups(key_file, nullptr) : nullptr;
	const char *key = row->key ? last_part(row->key) : nullptr;
	for (gchar **g = groups; g && *g; g++) {
		int32_t stream_id;
		if (!legacy_group_stream(*g, row->group, per_stream, &stream_id))
			continue;
		if (!g_list_find(streams, GINT_TO_POINTER(stream_id)))
			streams = g_list_append(streams, GINT_TO_POINTER(stream_id));
		if (!g_key_file_has_key(key_file, *g, key, nullptr))
			continue;
		bool counts = true;
		for (const char *skip : not_content_keys)
			counts = counts && strcmp(key, skip) != 0;
		*content = *content || counts;
		rec.stream_id = stream_id;
		legacy_store(key_file, *g, key, row, &rec);
	}
	g_strfreev(groups);
	reset_if_unset(row->id, -1);
	return streams;
}

GList *read_legacy_params(struct daemon_context *context, const config_file *files,
                          const struct param_def *map, int *result, bool *damaged)
{
	if (!files) {
		debug_output(DEBUG_ERROR, 0, "Configuration file(s) failed.\n");
		*result = -255;
		return nullptr;
	}
	param_clear_changes();
	GKeyFile *key_file = nullptr;
	int r = read_legacy_files(files, &key_file, damaged);
	if (r != 0) {
		debug_output(DEBUG_ERROR, 0, "Configuration file(s) failed.\n");
		*result = r;
		return nullptr;
	}
	GList *streams = nullptr;
	bool content = false;
	for (const struct param_def *row = map; row && row->id != 0; row++)
		streams = legacy_row(key_file, row, use_stream(context), streams, &content);
	if (key_file)
		g_key_file_free(key_file);
	if (!streams)
		streams = g_list_append(nullptr, GINT_TO_POINTER(-1));
	*result = content ? 0 : -1;
	return streams;
}

// One value of the window group, stored as the map's channel-0 parameter.
// Fails without a word when the map or the file lacks the key.
int window_value(GKeyFile *key_file, const char *group, const char *map_group, const char *key,
                 int32_t stream_id)
{
	const struct param_def *row = param_def_by_key(map_group, key);
	if (!row || !g_key_file_has_key(key_file, group, key, nullptr))
		return -1;
	param_value rec = {};
	rec.id = row->id;
	rec.stream_id = stream_id;
	rec.type = row->type;
	return legacy_store(key_file, group, key, row, &rec);
}

int window_type_default(const char *map_group)
{
	const struct param_def *row = param_def_by_key(map_group, "WindowType");
	if (!row) {
		debug_output(DEBUG_ERROR, 0,
		             "Internal failure to find WindowType parameter for Custom Exposure Window.\n");
		return -1;
	}
	if (param_set_int(row->id, -1, row->def) != 0) {
		debug_output(DEBUG_ERROR, 0,
		             "Failure to set WindowType parameter for Custom Exposure Window.\n");
		debug_output(DEBUG_ERROR, 0, "Failed adding %s.%s to DB\n", row->group, row->key);
		return -1;
	}
	return 0;
}

char *window_group(int channel)
{
	return g_strdup_printf("%s%d.%s.%s.C%s", "ImageSource.I", channel, "Sensor", "CustomExposureWindow",
	                       "0");
}

int setup_window(struct daemon_context *context, const config_file *files, int32_t stream_id, bool *damaged)
{
	if (!context || !files) {
		debug_output(DEBUG_ERROR, 0, "Configuration file(s) failed.\n");
		return -255;
	}
	GKeyFile *key_file = nullptr;
	int r = read_legacy_files(files, &key_file, damaged);
	if (r != 0) {
		debug_output(DEBUG_ERROR, 0, "Configuration file(s) failed.\n");
		return r;
	}
	if (!key_file)
		return 0;
	char *group = window_group(stream_id_channel(stream_id));
	char *map_group = window_group(0);
	int32_t target = use_stream(context) ? stream_id : -1;
	if (g_key_file_has_group(key_file, group)) {
		for (const char *side : {"Left", "Right", "Top", "Bottom"})
			if ((r = window_value(key_file, group, map_group, side, target)) != 0)
				break;
		if (r == 0) {
			r = window_value(key_file, group, map_group, "WindowType", target);
			if (r != 0)
				debug_output(
				    DEBUG_ERROR, 0,
				    "Failure to set WindowType parameter for Custom Exposure Window.\n");
		} else {
			debug_output(DEBUG_INFO, 0,
			             "Failure in %s section, disabling custom exposure window.\n", group);
			r = window_type_default(map_group);
		}
	}
	g_free(map_group);
	g_free(group);
	g_key_file_free(key_file);
	return r;
}

void remove_legacy(const file_list *lists[], size_t count)
{
	for (size_t i = 0; i < count; i++)
		for (const config_file *f = lists[i]->get(); f->path; f++)
			unlink(f->path);
	for (const char *dir : legacy_dirs) {
		char *path = vistrad_path((std::string(legacy_root) + dir).c_str());
		rmdir(path);
		g_free(path);
	}
}

int import_legacy(struct daemon_context *context)
{
	char *root = vistrad_path(legacy_root);
	bool below = g_file_test(root, G_FILE_TEST_IS_DIR);
	g_free(root);
	const char *prefix = below ? legacy_root : "";
	file_list params(legacy_param_files, prefix);
	file_list windows(legacy_window_files, prefix);
	file_list zones(legacy_zone_files, prefix);

	bool damaged = false;
	int result = 0;
	const struct param_def *map = param_def_by_index(0);
	GList *streams = read_legacy_params(context, params.get(), map, &result, &damaged);
	for (GList *l = streams; l; l = l->next) {
		int r = setup_window(context, windows.get(), GPOINTER_TO_INT(l->data), &damaged);
		if (result == 0)
			result = r;
	}
	g_list_free(streams);

	int loaded = 1;
	if (result != 0) {
		debug_output(DEBUG_INFO, 0, "Config unavailable, resetting\n");
		config_reset_unset_params(context ? context->streams : nullptr);
		loaded = 0;
	}
	// The older files are the only copy of the settings until the key file
	// holds them.
	bool written = save_pending_settings();
	if (damaged || !written) {
		debug_output(DEBUG_WARNING, 0, "config: the older configuration files are kept\n");
		return loaded;
	}
	const file_list *lists[] = {&params, &windows, &zones};
	remove_legacy(lists, 3);
	return loaded;
}

} // namespace

bool stream_id_is_valid(int32_t stream_id)
{
	return stream_id >= -1;
}

GKeyFile *config_load_keyfile(const char *path)
{
	char *full = path ? g_strdup(path) : vistrad_path(default_path);
	GKeyFile *key_file = load_keyfile(full, nullptr);
	g_free(full);
	return key_file;
}

void config_apply_keyfile(GKeyFile *key_file, const struct param_def *map)
{
	param_clear_changes();
	if (carried)
		g_key_file_free(carried);
	carried = nullptr;
	gchar **groups = key_file ? g_key_file_get_groups(key_file, nullptr) : nullptr;
	if (!groups) {
		debug_output(DEBUG_ERROR, 0, "internal key_file corrupt\n");
		return;
	}
	for (gchar **g = groups; *g; g++)
		apply_group(key_file, *g, map);
	g_strfreev(groups);
}

GKeyFile *config_backup(const struct param_def *map)
{
	GKeyFile *key_file = g_key_file_new();
	for (const struct param_def *row = map; row && row->id != 0; row++) {
		if (!row->saved)
			continue;
		GList *streams = param_get_streams(row->id);
		for (GList *l = streams; l; l = l->next)
			backup_one(key_file, row, GPOINTER_TO_INT(l->data));
		g_list_free(streams);
	}
	return key_file;
}

int config_write_keyfile(GKeyFile *key_file, const char *path)
{
	char *full = path ? g_strdup(path) : vistrad_path(default_path);
	gchar *text = g_key_file_to_data(key_file, nullptr, nullptr);
	int r = safe_write_string_to_flash(full, text);
	g_free(text);
	g_free(full);
	return r;
}

GList *config_read_legacy_params(struct daemon_context *context, const struct config_file *files,
                                 const struct param_def *map, int *result)
{
	bool damaged = false;
	return read_legacy_params(context, files, map, result, &damaged);
}

int config_setup_custom_exposure_window(struct daemon_context *context, const struct config_file *files,
                                        int32_t stream_id)
{
	bool damaged = false;
	return setup_window(context, files, stream_id, &damaged);
}

int config_load(struct daemon_context *context)
{
	char *path = vistrad_path(default_path);
	GError *error = nullptr;
	GKeyFile *key_file = load_keyfile(path, &error);
	bool salvaged = false;
	if (!key_file && !g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
		key_file = set_damaged_aside(path, error);
		salvaged = key_file != nullptr;
	}
	g_clear_error(&error);
	g_free(path);
	if (!key_file) {
		if (carried)
			g_key_file_free(carried);
		carried = nullptr;
		return import_legacy(context);
	}
	config_apply_keyfile(key_file, param_def_by_index(0));
	g_key_file_free(key_file);
	// The default path is empty now: what was saved of the file goes back
	// there with the next round.
	if (salvaged)
		param_set_save_pending(1);
	return 1;
}

void config_save_if_pending(void)
{
	save_pending_settings();
}

void config_reset_unset_params(GList *stream_ids)
{
	for (int i = 0;; i++) {
		const struct param_def *def = param_def_by_index(i);
		if (!def || def->id == 0)
			break;
		for (GList *l = stream_ids; l; l = l->next)
			reset_if_unset(def->id, GPOINTER_TO_INT(l->data));
		reset_if_unset(def->id, -1);
	}
}
