#include "stabilizer.h"

#include <glib.h>

struct stabilizer *stabilizer_new(void)
{
	return g_new0(struct stabilizer, 1);
}

void stabilizer_destroy(struct stabilizer *stabilizer)
{
	if (!stabilizer)
		return;
	if (stabilizer->destroy)
		stabilizer->destroy(stabilizer);
	stabilizer->platform = nullptr;
	g_free(stabilizer);
}

int stabilizer_set_exposure_delay(struct stabilizer *, int, struct prodconf *)
{
	return -1;
}

int stabilizer_set_pause(struct stabilizer *, int32_t, int)
{
	return -1;
}

void stabilizer_set_frame_geometry(struct stabilizer *, int, int32_t, int32_t, int32_t) {}
