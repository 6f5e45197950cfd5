#include "serial_link.h"

#include <stdlib.h>

void serial_link_destroy(struct serial_link *link, int32_t stream_id)
{
	if (!link)
		return;
	if (link->destroy)
		link->destroy(link, stream_id);
	free(link);
}

int serial_link_prepare_capture_mode(struct serial_link *, int32_t)
{
	return -1;
}

int serial_link_end_capture_mode(struct serial_link *, struct prodconf_area *, int32_t)
{
	return -1;
}

void serial_link_capture_mode_applied(struct serial_link *, int32_t) {}

int serial_link_set_ircut(struct serial_link *, int, int)
{
	return -1;
}
