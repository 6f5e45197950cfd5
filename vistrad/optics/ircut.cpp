#include "ircut.h"

#include <glib.h>

struct ircut *ircut_new(void)
{
	return g_new0(struct ircut, 1);
}

void ircut_set_platform(struct ircut *ircut, struct platform *platform)
{
	if (ircut)
		ircut->platform = platform;
}

void ircut_destroy(struct ircut *ircut)
{
	if (!ircut)
		return;
	if (ircut->destroy)
		ircut->destroy(ircut);
	else
		g_free(ircut);
}
