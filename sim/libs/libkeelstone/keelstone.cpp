// Boot parameters from a plain file, so tests decide what the device says.

#include "keelstone.h"

#include <errno.h>
#include <glib.h>
#include <stdlib.h>
#include <string.h>

namespace
{

char *params_path()
{
	const char *root = getenv("VISTRAD_ROOT");
	return g_strconcat(root ? root : "", "/var/lib/keelstone/params", NULL);
}

// name=value lines; blank lines and lines starting with # are skipped.
GPtrArray *read_params()
{
	char *path = params_path();
	char *text = nullptr;
	gboolean ok = g_file_get_contents(path, &text, nullptr, nullptr);
	g_free(path);
	GPtrArray *pairs = g_ptr_array_new();
	if (!ok)
		return pairs;
	char **lines = g_strsplit(text, "\n", -1);
	for (char **l = lines; *l; l++) {
		char *eq = strchr(*l, '=');
		if (**l == '#' || !eq || eq == *l)
			continue;
		g_ptr_array_add(pairs, g_strndup(*l, (gsize)(eq - *l)));
		g_ptr_array_add(pairs, g_strdup(eq + 1));
	}
	g_strfreev(lines);
	g_free(text);
	return pairs;
}

void free_pairs(GPtrArray *pairs)
{
	for (guint i = 0; i < pairs->len; i++)
		g_free(g_ptr_array_index(pairs, i));
	g_ptr_array_free(pairs, TRUE);
}

} // namespace

extern "C" char *keelstone_get(const char *name)
{
	if (!name) {
		errno = EINVAL;
		return nullptr;
	}
	GPtrArray *pairs = read_params();
	char *value = nullptr;
	for (guint i = 0; i + 1 < pairs->len && !value; i += 2)
		if (!strcmp(static_cast<char *>(g_ptr_array_index(pairs, i)), name))
			value = strdup(static_cast<char *>(g_ptr_array_index(pairs, i + 1)));
	free_pairs(pairs);
	if (!value)
		errno = ENOENT;
	return value;
}

extern "C" int keelstone_get_single(const char *name, char *buffer, size_t size)
{
	char *value = keelstone_get(name);
	if (!value)
		return -1;
	size_t length = strlen(value);
	int result = 0;
	if (!buffer || length >= size) {
		errno = ENOSPC;
		result = -1;
	} else {
		memcpy(buffer, value, length + 1);
	}
	free(value);
	return result;
}

extern "C" struct keelstone_param *keelstone_get_all(void)
{
	GPtrArray *pairs = read_params();
	size_t n = pairs->len / 2;
	auto *all = static_cast<keelstone_param *>(calloc(n + 1, sizeof(keelstone_param)));
	for (size_t i = 0; all && i < n; i++) {
		all[i].name = strdup(static_cast<char *>(g_ptr_array_index(pairs, 2 * i)));
		all[i].value = strdup(static_cast<char *>(g_ptr_array_index(pairs, 2 * i + 1)));
	}
	free_pairs(pairs);
	return all;
}

extern "C" void keelstone_free_all(struct keelstone_param *params)
{
	for (keelstone_param *p = params; p && p->name; p++) {
		free(p->name);
		free(p->value);
	}
	free(params);
}
