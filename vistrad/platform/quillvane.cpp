#include "quillvane.h"

#include <glib.h>

void quillvane_add_platform(struct quillvane *publisher, struct platform *platform)
{
	if (publisher)
		publisher->platform = platform;
}

void quillvane_destroy(struct quillvane *publisher)
{
	if (!publisher)
		return;
	if (publisher->destroy)
		publisher->destroy(publisher);
	publisher->platform = nullptr;
	g_free(publisher);
}

void *quillvane_af_fix(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *quillvane_af_ptz(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}
