#include "algostep/hdr_lut.h"

#include "algostep/smart_ae.h"

// Until the builder exists the threshold stays where no table moved it.
void hdr_lut_update(struct smart_ae_state *state, const struct image_stats_record *)
{
	if (state)
		state->hdr_threshold_fraction = 1.0;
}
