/* The exposure check of the service mode: forced exposures in place of the
 * instances' decisions, either switched between two values in a 20-frame
 * cycle or ramped across the channel's range, with the luma each gives
 * written to the check record's log. */
#include "aaa_parser.h"
#include "ae_internal.h"
#include "img_hdr_params.h"

#include <stdio.h>

#include <initializer_list>

#define CHECK_CYCLE 20
#define CHECK_HOLD 10
#define CHECK_RAMP_FRAMES 10
#define CHECK_RAMP_STEPS 32
#define CHECK_6DB (6u << 24)
#define CHECK_DGAIN_MAX 65536u
#define CHECK_LUMA_LOW 4097u
#define CHECK_LUMA_HIGH 12287u

static uint32_t check_frame;
static struct {
	uint32_t mode;
	int64_t value;
} ramp[IMG_MAX_CHANNELS];

typedef struct check_limits {
	uint32_t shutter_lo, shutter_hi, agc_lo, agc_hi;
} check_limits;

static bool switch_mode(uint32_t m)
{
	return m >= 1 && m <= 5;
}

static bool ramp_mode(uint32_t m)
{
	return m >= 6 && m <= 9;
}

/* The channel's range: what its active lines span. */
static check_limits line_limits(const ae_data *d)
{
	check_limits l = {UINT32_MAX, 0, UINT32_MAX, 0};
	for (uint32_t k = 0; k < d->line_num; k++) {
		for (const ae_point *p : {&d->lines[k].start, &d->lines[k].end}) {
			l.shutter_lo = p->shutter < l.shutter_lo ? p->shutter : l.shutter_lo;
			l.shutter_hi = p->shutter > l.shutter_hi ? p->shutter : l.shutter_hi;
			l.agc_lo = p->agc < l.agc_lo ? p->agc : l.agc_lo;
			l.agc_hi = p->agc > l.agc_hi ? p->agc : l.agc_hi;
		}
	}
	return l;
}

/* The mean of the channel's exposure tiles that have pixels. */
static uint32_t tile_luma(const aaa_parse_result *st)
{
	uint64_t sum = 0, n = 0;
	uint32_t tiles = st->ae_tiles < AE_TILES ? st->ae_tiles : AE_TILES;
	for (uint32_t i = 0; i < tiles; i++) {
		if (st->set.ae[i].cfa_luma == AAA_LUMA_NONE)
			continue;
		sum += st->set.ae[i].cfa_luma;
		n++;
	}
	return n ? (uint32_t)(sum / n) : 0;
}

static int64_t clamp64(int64_t v, int64_t lo, int64_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

static void value_switch(const img_hdr_ae_check *rec, FILE *log, uint32_t luma, int64_t six_db,
                         const check_limits *l, ae_result *out)
{
	uint32_t k = (check_frame - 1) % CHECK_CYCLE + 1;
	int64_t shutter = rec->shutter, agc = rec->agc_index, dgain = rec->dgain;
	if (k > CHECK_HOLD) {
		switch (rec->mode) {
		case 1:
		case 5:
			shutter /= 8;
			break;
		case 2:
			agc -= 3 * six_db;
			break;
		case 3:
			dgain /= 8;
			break;
		default:
			shutter /= 4;
			agc -= 2 * six_db;
			break;
		}
	}
	if (k == 1)
		fprintf(log, "A up...\n");
	if (k == CHECK_HOLD + 1)
		fprintf(log, "B down...\n");
	fprintf(log, "%2d\ttile luma\t%7d\n", (int)k, (int)luma);
	out->shutter = (uint32_t)clamp64(shutter, l->shutter_lo, l->shutter_hi);
	out->agc = (uint32_t)clamp64(agc, l->agc_lo, l->agc_hi);
	out->dgain = (uint32_t)clamp64(dgain, AE_UNITY, CHECK_DGAIN_MAX);
}

static void ramp_step(int chan, const img_hdr_ae_check *rec, FILE *log, uint32_t luma, int64_t six_db,
                      const check_limits *l, ae_result *out)
{
	bool on_shutter = rec->mode <= 7, down = rec->mode == 6 || rec->mode == 8;
	int64_t lo = on_shutter ? l->shutter_lo : l->agc_lo, hi = on_shutter ? l->shutter_hi : l->agc_hi;
	int64_t start = down ? hi : lo;
	if (ramp[chan].mode != rec->mode) {
		ramp[chan].mode = rec->mode;
		ramp[chan].value = start;
	}
	int64_t shutter = on_shutter ? ramp[chan].value : rec->shutter;
	int64_t agc = on_shutter ? rec->agc_index : ramp[chan].value;
	if (check_frame % CHECK_RAMP_FRAMES == 0) {
		int64_t step = on_shutter ? (hi - lo) / CHECK_RAMP_STEPS : six_db / 4;
		if (step < 1)
			step = 1;
		int64_t v = ramp[chan].value + (down ? -step : step);
		if (v < lo || v > hi)
			v = start;
		if ((luma >= CHECK_LUMA_LOW && luma <= CHECK_LUMA_HIGH) || v == lo || v == hi)
			fprintf(log, "chan %d luma %7d(16383) while (sht, agc, dgain) is (%4d, %3d, %5d)\n",
			        chan, (int)luma, (int)shutter, (int)agc, (int)rec->dgain);
		ramp[chan].value = v;
		if (on_shutter)
			shutter = v;
		else
			agc = v;
	}
	out->shutter = (uint32_t)shutter;
	out->agc = (uint32_t)agc;
	out->dgain = (uint32_t)clamp64(rec->dgain, AE_UNITY, CHECK_DGAIN_MAX);
}

int ae_check_exposure(const aaa_parse_out *stats, cl_aaa_block *blocks)
{
	if (!stats || !blocks)
		return -1;
	img_hdr_ae_check rec[IMG_MAX_CHANNELS] = {};
	if (img_hdr_get_ae_check(rec) < 0)
		return -1;
	int n = ae_get_instance_num() < IMG_MAX_CHANNELS ? ae_get_instance_num() : IMG_MAX_CHANNELS;
	bool any_switch = false, any_ramp = false;
	for (int c = 0; c < n; c++) {
		any_switch |= switch_mode(rec[c].mode);
		any_ramp |= ramp_mode(rec[c].mode);
	}
	if (!any_switch && !any_ramp)
		return 0;
	if (any_switch && any_ramp) {
		printf(
		    "error, can't do continuous check and value switch check in different channels the same "
		    "time.\n");
		return -1;
	}
	check_frame++;
	for (int c = 0; c < n; c++) {
		ae_instance *ae = ae_get_instance(c);
		if (!ae || (!switch_mode(rec[c].mode) && !ramp_mode(rec[c].mode)))
			continue;
		FILE *log = rec[c].log ? (FILE *)rec[c].log : stdout;
		check_limits l = line_limits(ae->data);
		int64_t six_db = ae->data->agc_step ? CHECK_6DB / ae->data->agc_step : 0;
		uint32_t luma = tile_luma(&stats->chan[c]);
		ae_result *out = &blocks[c].expo[0];
		if (switch_mode(rec[c].mode))
			value_switch(&rec[c], log, luma, six_db, &l, out);
		else
			ramp_step(c, &rec[c], log, luma, six_db, &l, out);
		out->shutter_changed = 1;
		out->agc_changed = 1;
		out->dgain_changed = 1;
	}
	return 0;
}
