// The iris data library from plain files, so tests decide what is fitted,
// what its data files say and which call fails.

#include "soloff.h"

#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct iris_lib_id_iterator {
	char **names; // full paths, sorted
	int next;
};

namespace
{

char *data_path(const char *name)
{
	const char *root = getenv("VISTRAD_ROOT");
	return g_strconcat(root ? root : "", "/var/lib/soloff/", name, NULL);
}

char *data_text(const char *name)
{
	char *path = data_path(name);
	char *text = nullptr;
	if (!g_file_get_contents(path, &text, nullptr, nullptr))
		text = nullptr;
	g_free(path);
	return text;
}

// Whether the test asked this call to fail.
bool failing(const char *function)
{
	char *text = data_text("fail");
	bool found = false;
	char **lines = g_strsplit(text ? text : "", "\n", -1);
	for (char **l = lines; *l && !found; l++)
		found = strcmp(g_strstrip(*l), function) == 0;
	g_strfreev(lines);
	g_free(text);
	return found;
}

GKeyFile *open_file(const char *name)
{
	GKeyFile *kf = g_key_file_new();
	if (!name || !g_key_file_load_from_file(kf, name, G_KEY_FILE_NONE, nullptr)) {
		g_key_file_free(kf);
		return nullptr;
	}
	return kf;
}

int get_double(const char *function, const char *name, const char *key, double *out)
{
	if (!out || failing(function))
		return -1;
	GKeyFile *kf = open_file(name);
	GError *error = nullptr;
	double v = kf ? g_key_file_get_double(kf, "values", key, &error) : 0;
	bool ok = kf && !error;
	g_clear_error(&error);
	if (kf)
		g_key_file_free(kf);
	if (!ok)
		return -1;
	*out = v;
	return 0;
}

int get_int(const char *function, const char *name, const char *key, int *out)
{
	if (!out || failing(function))
		return -1;
	GKeyFile *kf = open_file(name);
	GError *error = nullptr;
	int v = kf ? g_key_file_get_integer(kf, "values", key, &error) : 0;
	bool ok = kf && !error;
	g_clear_error(&error);
	if (kf)
		g_key_file_free(kf);
	if (!ok)
		return -1;
	*out = v;
	return 0;
}

int get_table(const char *function, const char *name, const char *key, iris_lib_table **out)
{
	if (!out || failing(function))
		return -1;
	GKeyFile *kf = open_file(name);
	gsize n = 0;
	double *v = kf ? g_key_file_get_double_list(kf, "tables", key, &n, nullptr) : nullptr;
	if (kf)
		g_key_file_free(kf);
	if (!v)
		return -1;
	auto *t = static_cast<iris_lib_table *>(calloc(1, sizeof(iris_lib_table)));
	t->count = (int)n;
	t->values = static_cast<double *>(malloc(n * sizeof(double)));
	memcpy(t->values, v, n * sizeof(double));
	g_free(v);
	*out = t;
	return 0;
}

bool get_pair(GKeyFile *kf, const char *key, int *a, int *b)
{
	gsize n = 0;
	int *v = g_key_file_get_integer_list(kf, "header", key, &n, nullptr);
	bool ok = v && n == 2;
	if (ok) {
		*a = v[0];
		*b = v[1];
	}
	g_free(v);
	return ok;
}

} // namespace

int iris_lib_get_type_id(void)
{
	char *text = data_text("type_id");
	int id = 10;
	if (text) {
		char *end = nullptr;
		long v = strtol(text, &end, 10);
		if (end != text && v >= G_MININT && v <= G_MAXINT)
			id = (int)v;
	}
	g_free(text);
	return id;
}

int iris_lib_irismgr_enabled(void)
{
	char *text = data_text("irismgr");
	int enabled = text && atoi(text) != 0;
	g_free(text);
	return enabled;
}

int iris_lib_get_versioning_range(iris_lib_versioning_range *range)
{
	if (!range || failing(__func__))
		return -1;
	char *text = data_text("range");
	int n = text ? sscanf(text, "%d %d %d %d", &range->min_major, &range->min_minor, &range->max_major,
	                      &range->max_minor)
	             : 0;
	g_free(text);
	return n == 4 ? 0 : -1;
}

iris_lib_id_iterator *iris_lib_id_iterator_start(int type_id)
{
	if (failing(__func__))
		return nullptr;
	char *sub = g_strdup_printf("files/%d", type_id);
	char *dir_path = data_path(sub);
	g_free(sub);
	GDir *dir = g_dir_open(dir_path, 0, nullptr);
	GPtrArray *names = g_ptr_array_new();
	for (const char *n = dir ? g_dir_read_name(dir) : nullptr; n; n = g_dir_read_name(dir))
		g_ptr_array_add(names, g_build_filename(dir_path, n, NULL));
	if (dir)
		g_dir_close(dir);
	g_free(dir_path);
	g_ptr_array_sort(names, [](gconstpointer a, gconstpointer b) {
		return strcmp(*(const char *const *)a, *(const char *const *)b);
	});
	g_ptr_array_add(names, nullptr);
	auto *it = g_new0(iris_lib_id_iterator, 1);
	it->names = (char **)g_ptr_array_free(names, FALSE);
	return it;
}

char *iris_lib_id_iterator_next(iris_lib_id_iterator *iterator)
{
	if (!iterator || !iterator->names[iterator->next])
		return nullptr;
	return strdup(iterator->names[iterator->next++]);
}

void iris_lib_id_iterator_stop(iris_lib_id_iterator *iterator)
{
	if (!iterator)
		return;
	g_strfreev(iterator->names);
	g_free(iterator);
}

int iris_lib_validate_file(const char *name, iris_lib_header **header)
{
	if (!header || failing(__func__))
		return -1;
	GKeyFile *kf = open_file(name);
	iris_lib_header h = {};
	bool ok = kf && get_pair(kf, "version", &h.version_major, &h.version_minor) &&
	          get_pair(kf, "revision", &h.revision_major, &h.revision_minor);
	if (kf)
		g_key_file_free(kf);
	if (!ok)
		return -1;
	*header = static_cast<iris_lib_header *>(malloc(sizeof(h)));
	**header = h;
	return 0;
}

void iris_lib_free_header(iris_lib_header *header)
{
	free(header);
}

int iris_lib_get_F_table(const char *name, iris_lib_table **table)
{
	return get_table(__func__, name, "F", table);
}

int iris_lib_get_A_table(const char *name, iris_lib_table **table)
{
	return get_table(__func__, name, "A", table);
}

void iris_lib_free_table(iris_lib_table *table)
{
	if (!table)
		return;
	free(table->values);
	free(table);
}

int iris_lib_get_open_F_value(const char *name, double *F)
{
	return get_double(__func__, name, "open_F", F);
}

int iris_lib_get_best_F_value(const char *name, double *F)
{
	return get_double(__func__, name, "best_F", F);
}

int iris_lib_get_diffraction_F_value(const char *name, double *F)
{
	return get_double(__func__, name, "diffraction_F", F);
}

int iris_lib_get_nominal_speed(const char *name, int *value)
{
	return get_int(__func__, name, "nominal_speed", value);
}

int iris_lib_get_low_speed(const char *name, int *value)
{
	return get_int(__func__, name, "low_speed", value);
}

int iris_lib_get_high_speed(const char *name, int *value)
{
	return get_int(__func__, name, "high_speed", value);
}

int iris_lib_get_backout(const char *name, int *value)
{
	return get_int(__func__, name, "backout", value);
}

int iris_lib_get_backlash(const char *name, int *value)
{
	return get_int(__func__, name, "backlash", value);
}
