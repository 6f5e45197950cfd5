#include "vistrad_path.h"

#include <glib.h>
#include <stdlib.h>

char *vistrad_path(const char *path)
{
	const char *root = getenv("VISTRAD_ROOT");

	if (!path)
		return NULL;
	if (!root || !*root || path[0] != '/')
		return g_strdup(path);
	return g_strconcat(root, path, NULL);
}
