#include "focus_zoom.h"

#include <glib.h>

struct focus *focus_new(void)
{
	return g_new0(struct focus, 1);
}

struct zoom *zoom_new(void)
{
	return g_new0(struct zoom, 1);
}

void focus_add_platform(struct focus *focus, struct platform *platform)
{
	focus->platform = platform;
}

void zoom_add_platform(struct zoom *zoom, struct platform *platform)
{
	zoom->platform = platform;
}

void focus_destroy(struct focus *focus)
{
	if (!focus)
		return;
	focus->platform = nullptr;
	g_free(focus);
}

void zoom_destroy(struct zoom *zoom)
{
	if (!zoom)
		return;
	if (zoom->destroy) {
		zoom->destroy(zoom);
		return;
	}
	zoom->platform = nullptr;
	g_free(zoom);
}
