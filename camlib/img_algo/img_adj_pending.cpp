/* Least bodies of the calls the filter pipeline makes into modules not
 * written yet; see img_adj_pending.h. */
#include "img_adj_pending.h"

#include <string.h>

int img_adj_translate_pending(filter_state *state, void *block, int32_t chan, void *unused)
{
	(void)state;
	(void)block;
	(void)chan;
	(void)unused;
	return 0;
}

int img_adj_transmit_pending(filter_state *state, void *block, int32_t fd, img_dsp_mode *mode)
{
	(void)state;
	(void)block;
	(void)fd;
	(void)mode;
	return 0;
}

int img_adj_get_sent_tone_curve(void *out)
{
	if (!out)
		return -1;
	memset(out, 0, sizeof(img_dsp_tone_curve));
	return 0;
}

int ae_get_agc_index(uint16_t *values)
{
	(void)values;
	return -1;
}
