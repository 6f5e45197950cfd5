#include "camblock.h"

#include <glib.h>

struct camblock *camblock_new(void)
{
	return g_new0(struct camblock, 1);
}

void camblock_add_platform(struct camblock *block, struct platform *platform)
{
	if (block)
		block->platform = platform;
}

void camblock_destroy(struct camblock *block)
{
	if (!block)
		return;
	if (block->destroy)
		block->destroy(block);
	block->platform = nullptr;
	g_free(block);
}

// No lens is identified yet, so nothing is selected.
int camblock_detect(struct prodconf *, struct control *, int32_t)
{
	return 0;
}

int camblock_capture_mode_changed(struct camblock *, int32_t)
{
	return -3;
}

int camblock_get_error_code(struct camblock *)
{
	return -3;
}
