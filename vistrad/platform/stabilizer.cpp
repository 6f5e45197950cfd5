#include "stabilizer.h"

#include <glib.h>

struct stabilizer *stabilizer_new(void) { return g_new0(struct stabilizer, 1); }

void stabilizer_destroy(struct stabilizer *stabilizer)
{
    if (!stabilizer)
        return;
    if (stabilizer->destroy)
        stabilizer->destroy(stabilizer);
    stabilizer->platform = nullptr;
    g_free(stabilizer);
}
