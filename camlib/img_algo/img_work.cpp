/* Work states and per-frame 3A steps. */
#include "img_work.h"

#include "img_channel.h"

#include <string.h>

/* ---- Least bodies until the work states and the per-frame step land: the
 * limits read as a fixed ratio and nothing is stored. */

int img_get_ratio_limits_in_effect(int chan, img_ratio_limits *out)
{
	if (!out || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	memset(out, 0, sizeof(*out));
	return 0;
}

int img_set_ratio_limits_in_effect(int chan, const img_ratio_limits *limits)
{
	if (!limits || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	return 0;
}

int img_set_hdr_boost_table(int chan, const uint8_t *table)
{
	if (!table || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return -1;
	return 0;
}
