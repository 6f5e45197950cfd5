// The fitted iris's type id from a plain file, so tests decide what is fitted.

#include "soloff.h"

#include <glib.h>
#include <stdlib.h>

int iris_lib_get_type_id(void)
{
	const char *root = getenv("VISTRAD_ROOT");
	char *path = g_strconcat(root ? root : "", "/var/lib/soloff/type_id", NULL);
	char *text = nullptr;
	gboolean ok = g_file_get_contents(path, &text, nullptr, nullptr);
	g_free(path);
	int id = 10;
	if (ok) {
		char *end = nullptr;
		long v = strtol(text, &end, 10);
		if (end != text && v >= G_MININT && v <= G_MAXINT)
			id = (int)v;
	}
	g_free(text);
	return id;
}
