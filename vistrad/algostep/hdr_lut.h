#pragma once
// The HDR LUT and DRC builder that smart auto exposure runs after each
// exposure change of a WDR stream.

struct smart_ae_state;
struct image_stats_record;

void hdr_lut_update(struct smart_ae_state *state, const struct image_stats_record *stats);
