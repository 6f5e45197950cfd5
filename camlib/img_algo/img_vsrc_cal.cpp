/* Source-context calibration of the 3A service. Runs on the main thread
 * only. */
#include "img_vsrc_cal.h"

#include "hal_vin.h"
#include "img_lib.h"

#include <stdio.h>
#include <stdlib.h>

typedef struct cal_pair {
	int a, b; /* a's context takes the probe */
	int32_t ctx_a;
	int settle; /* frames still to wait */
	int tries;
	bool probed;
	bool done;
} cal_pair;

static cal_pair pairs[IMG_MAX_CHANNELS / 2];
static int pair_num;

static int chan_count(void)
{
	int n = img_get_vin_chan_num();
	return n > IMG_MAX_CHANNELS ? IMG_MAX_CHANNELS : n;
}

static void probe(int fd, cal_pair *p)
{
	hal_set_sht_agc(fd, IMG_VSRC_CAL_SHUTTER, IMG_VSRC_CAL_AGC, p->a);
	p->probed = true;
	p->settle = IMG_VSRC_CAL_SETTLE;
}

/* The pair whose lower channel is c, with the probe on a channel whose
 * sensor the library drives; false when c starts none. */
static bool pair_of(int fd, int c, cal_pair *p)
{
	int32_t source, ctx;
	int ctrl;
	uint32_t mask = 0;
	if (hal_get_channel_vsrc(c, &source, &ctx, &ctrl) != 0 ||
	    hal_get_vsrc_contexts(fd, source, &mask) != 1)
		return false;
	if ((mask & ((1u << c) - 1)) != 0)
		return false; /* its lower channel started it */
	uint32_t rest = mask & ~(1u << c);
	int b = __builtin_ctz(rest);
	int32_t ctx_b;
	int ctrl_b;
	if (b >= chan_count() || hal_get_channel_vsrc(b, &source, &ctx_b, &ctrl_b) != 0)
		return false;
	if (ctrl)
		*p = cal_pair{c, b, ctx, 1, 0, false, false};
	else if (ctrl_b)
		*p = cal_pair{b, c, ctx_b, 1, 0, false, false};
	else
		return false;
	return true;
}

void img_vsrc_cal_begin(int fd)
{
	pair_num = 0;
	for (int c = 0; c < chan_count() && pair_num < IMG_MAX_CHANNELS / 2; c++) {
		cal_pair *p = &pairs[pair_num];
		if (!pair_of(fd, c, p))
			continue;
		printf("loop start now\n");
		pair_num++;
	}
}

/* One look at a pair: lock when the probed channel is the brighter one,
 * switch when the other is, probe again when they cannot be told apart. */
static void measure(int fd, const aaa_parse_out *parsed, cal_pair *p)
{
	int32_t la = parse_aaa_luma_mean(&parsed->chan[p->a].set);
	int32_t lb = parse_aaa_luma_mean(&parsed->chan[p->b].set);
	printf("chan_%d : %d, chan_%d : %d\n", p->a, la, p->b, lb);
	int32_t delta = la - lb;
	if (delta >= IMG_VSRC_CAL_MIN_DELTA) {
		hal_lock_vsrc_ctx_frame_cnt(fd, 1, p->a);
		p->done = true;
		return;
	}
	if (++p->tries >= IMG_VSRC_CAL_TRIES) {
		/* The service must go on: the pair stays as the driver has it. */
		printf("vsrc_ctx of chan_%d left as it is after %d tries\n", p->a, p->tries);
		p->done = true;
		return;
	}
	if (abs(delta) < IMG_VSRC_CAL_MIN_DELTA) {
		printf("delta_ae_y[%d] is too small to calibrate vsrc_ctx, try again.\n", p->a);
		probe(fd, p);
		return;
	}
	printf("switch vsrc context\n");
	hal_switch_vsrc_ctx(fd, (uint32_t)p->ctx_a, p->a);
	p->settle = IMG_VSRC_CAL_SETTLE;
}

int img_vsrc_cal_frame(int fd, const aaa_parse_out *parsed)
{
	int busy = 0;
	for (int i = 0; i < pair_num; i++) {
		cal_pair *p = &pairs[i];
		if (p->done)
			continue;
		busy = 1;
		/* The first probe waits a frame: the first exposures sent
		 * before the loop are taken at a tick up to then and would
		 * undo it. */
		if (p->settle > 0) {
			p->settle--;
			continue;
		}
		if (!p->probed) {
			probe(fd, p);
			continue;
		}
		if (parsed && parsed->valid[p->a] && parsed->valid[p->b])
			measure(fd, parsed, p);
	}
	return busy;
}
