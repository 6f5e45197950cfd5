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
