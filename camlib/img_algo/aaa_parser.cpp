/* 3A statistics fetch and parse. The parser keeps no lock: the camera
 * library runs fetch and parse under its statistics mutex.
 *
 * Every count, shift and grid in the statistics is the driver's word and
 * indexes static buffers here, so each block is checked whole before any of
 * it is parsed: a block that does not fit leaves the channel's last result
 * as it was. */
#include "aaa_parser.h"

#include "awb.h"
#include "img_dsp.h"

#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#define CFA_HALF (QVD_STAT_CFA_SIZE / 2)
static_assert(QVD_STAT_CHANNELS * (QVD_STAT_RGB_SIZE + QVD_STAT_CFA_SIZE + QVD_STAT_HIST_SIZE +
                                   QVD_STAT_PREHIST_SIZE + 4) ==
                  AAA_STAT_AREA_SIZE,
              "the statistics area");
#define SENSOR_HIST_HALF 8320u
/* A shift past this would push a 16-bit sum out of 64 bits. */
#define MAX_SHIFT 47u
/* The source-context luma values when there is nothing to compare. */
#define VSRC_LUMA_NONE (-1024)
#define HDR_METHOD_SENSOR_HIST 3u

static int parse_chan_num = 1;
static uint32_t cfa_gain[IMG_MAX_CHANNELS] = {4096, 4096, 4096, 4096};
static uint8_t sensor_desc[AAA_SENSOR_DESC_SIZE];
static uint32_t debug_dump;
static int32_t vsrc_luma[IMG_MAX_CHANNELS][2] = {
    {VSRC_LUMA_NONE, VSRC_LUMA_NONE},
    {VSRC_LUMA_NONE, VSRC_LUMA_NONE},
    {VSRC_LUMA_NONE, VSRC_LUMA_NONE},
    {VSRC_LUMA_NONE, VSRC_LUMA_NONE},
};

/* ---- fetch ------------------------------------------------------------ */

void aaa_stat_desc_layout(uint8_t *area, aaa_stat_desc *desc)
{
	uint8_t *p = area;
	desc->rgb = p;
	desc->cfa = p += QVD_STAT_CHANNELS * QVD_STAT_RGB_SIZE;
	desc->hist = p += QVD_STAT_CHANNELS * QVD_STAT_CFA_SIZE;
	desc->prehist = p += QVD_STAT_CHANNELS * QVD_STAT_HIST_SIZE;
	desc->rgb_valid = p += QVD_STAT_CHANNELS * QVD_STAT_PREHIST_SIZE;
	desc->cfa_valid = p += QVD_STAT_CHANNELS;
	desc->hist_valid = p += QVD_STAT_CHANNELS;
	desc->prehist_valid = p += QVD_STAT_CHANNELS;
}

static int fetch(int fd, unsigned long code, aaa_stat_desc *desc, const char *what)
{
	if (!desc)
		return -1;
	/* The driver takes the valid flags first. */
	qvd_img_statistics req = {desc->rgb_valid, desc->cfa_valid, desc->hist_valid, desc->prehist_valid,
	                          desc->rgb,       desc->cfa,       desc->hist,       desc->prehist};
	if (ioctl(fd, code, &req) < 0) {
		perror(what);
		return -1;
	}
	return 0;
}

int hal_get_aaa_stat(int fd, aaa_stat_desc *desc)
{
	return fetch(fd, QVD_IOC_IMG_GET_STATISTICS, desc, "QVD_IOC_IMG_GET_STATISTICS");
}

int hal_get_latest_aaa_stat(int fd, aaa_stat_desc *desc)
{
	return fetch(fd, QVD_IOC_IMG_GET_LATEST_STATISTICS, desc, "QVD_IOC_IMG_GET_LATEST_STATISTICS fails");
}

/* ---- tile order ----------------------------------------------------------- */

/* Where each slice's tiles of one grid go in the whole grid. Slices side by
 * side share the rows and take their columns in turn; slices stacked in one
 * column take their tiles in turn. */
typedef struct grid_order {
	bool stacked;
	uint32_t cols;                     /* whole-grid columns, side by side */
	uint32_t tiles;                    /* whole-grid tiles */
	uint32_t col_off[QVD_CFA_SLICES];  /* side by side */
	uint32_t tile_off[QVD_CFA_SLICES]; /* stacked */
} grid_order;

typedef const qvd_stat_grid *(*grid_of)(const qvd_stat_header *h);

static const qvd_stat_grid *awb_grid(const qvd_stat_header *h)
{
	return &h->awb;
}
static const qvd_stat_grid *ae_grid(const qvd_stat_header *h)
{
	return &h->ae;
}
static const qvd_stat_grid *af_grid(const qvd_stat_header *h)
{
	return &h->af;
}

static uint32_t tile_pos(const grid_order *o, unsigned s, const qvd_stat_grid *g, uint32_t k)
{
	if (o->stacked)
		return o->tile_off[s] + k;
	return (k / g->num_col) * o->cols + o->col_off[s] + k % g->num_col;
}

/* A slice layout: one slice or one column of slices, or up to three slices
 * side by side in one row. Others have no tile order. */
typedef struct slice_layout {
	unsigned cols, rows, count;
	const qvd_stat_header *hdr[QVD_CFA_SLICES];
} slice_layout;

static bool layout_of(const char *fn, const qvd_stat_header *h0, unsigned max_slices, slice_layout *l)
{
	l->cols = h0->slice_cols;
	l->rows = h0->slice_rows;
	l->count = l->cols * l->rows;
	if (l->count > max_slices) {
		printf("%s: %u slices exceed the %u the buffer holds\n", fn, l->count, max_slices);
		return false;
	}
	if (l->cols > 1 && (l->rows > 1 || l->count > 3)) {
		printf("%s: no tile order for %u x %u slices\n", fn, l->cols, l->rows);
		return false;
	}
	return true;
}

/* Checks one grid over all slices and lays out its order. */
static bool order_grid(const char *fn, const char *name, const slice_layout *l, grid_of grid, uint32_t limit,
                       grid_order *o)
{
	memset(o, 0, sizeof *o);
	o->stacked = l->cols <= 1;
	uint32_t rows = l->count ? grid(l->hdr[0])->num_row : 0;
	for (unsigned s = 0; s < l->count; s++) {
		const qvd_stat_grid *g = grid(l->hdr[s]);
		if (g->shift > MAX_SHIFT) {
			printf("%s: %s shift %u of slice %u is out of range\n", fn, name, g->shift, s);
			return false;
		}
		if (!o->stacked && g->num_row != rows) {
			printf("%s: no tile order for %s slices of %u and %u rows\n", fn, name, rows,
			       g->num_row);
			return false;
		}
		o->col_off[s] = o->cols;
		o->tile_off[s] = o->tiles;
		o->cols += g->num_col;
		o->tiles += (uint32_t)g->num_col * g->num_row;
	}
	if (o->tiles > limit) {
		printf("%s: %s grid of %u tiles exceeds %u\n", fn, name, o->tiles, limit);
		return false;
	}
	return true;
}

static uint64_t tile_pixels(const qvd_stat_grid *g)
{
	return (uint64_t)g->width * g->height;
}

/* Every CFA slice's tiles must have pixels to be normalised by. */
static bool grids_have_pixels(const slice_layout *l)
{
	static const struct {
		grid_of grid;
		const char *msg;
		bool always;
	} checks[] = {
	    {awb_grid, "[PARSER]>>> awb pixel cnt =0\n", false},
	    {ae_grid, "[PARSER]>>> ae pixel cnt =0\n", true},
	    {af_grid, "[PARSER]>>> af pixel cnt =0\n", true},
	};
	for (unsigned s = 0; s < l->count; s++) {
		for (const auto &k : checks) {
			if (tile_pixels(k.grid(l->hdr[s])) != 0)
				continue;
			if (k.always || debug_dump)
				printf("%s", k.msg);
			return false;
		}
	}
	return true;
}

/* The slice headers of a block, its layout and its three grid orders. */
static bool check_block(const char *fn, const uint8_t *block, size_t slice_size, unsigned max_slices,
                        bool rgb, slice_layout *l, grid_order o[3])
{
	if (!layout_of(fn, (const qvd_stat_header *)block, max_slices, l))
		return false;
	for (unsigned s = 0; s < l->count; s++)
		l->hdr[s] = (const qvd_stat_header *)(block + s * slice_size);
	return (rgb || order_grid(fn, "awb", l, awb_grid, AAA_AWB_TILES, &o[0])) &&
	       order_grid(fn, "ae", l, ae_grid, AAA_AE_TILES, &o[1]) &&
	       order_grid(fn, "af", l, af_grid, AAA_AF_TILES, &o[2]) && (rgb || grids_have_pixels(l));
}

/* ---- CFA ---------------------------------------------------------------------- */

static uint32_t black_word(uint32_t w)
{
	return w == QVD_STAT_BLACK_NONE ? 0 : w;
}

static uint64_t valid_pixels(uint64_t pixels, uint32_t under, uint32_t over)
{
	uint64_t out = (uint64_t)under + over;
	return out >= pixels ? 0 : pixels - out;
}

static uint32_t clip_u16(uint64_t v)
{
	return v > 0xFFFF ? 0xFFFF : (uint32_t)v;
}

typedef struct cfa_limits {
	uint32_t awb_max;
	uint16_t ae_max;
	uint32_t black[3];
	int64_t mean_black;
	uint32_t gain;
} cfa_limits;

static void parse_awb_tile(const qvd_awb_tile *t, const qvd_stat_grid *g, const cfa_limits *lim,
                           aaa_awb_tile *out)
{
	uint64_t pixels = tile_pixels(g);
	uint64_t valid = valid_pixels(pixels, t->under, t->over);
	unsigned sh = g->shift;
	int64_t sum[3] = {t->r, t->g, t->b};
	uint64_t bound = ((uint64_t)lim->awb_max * valid * 127) >> 7;
	bool correct = false;
	for (int c = 0; c < 3; c++)
		correct = correct || bound >= ((uint64_t)sum[c] << sh);
	uint32_t norm[3];
	for (int c = 0; c < 3; c++) {
		if (correct)
			sum[c] -= (int64_t)((valid * lim->black[c]) >> (sh + 2));
		int64_t v =
		    sum[c] > 0 && pixels >= 4 ? (int64_t)(((uint64_t)sum[c] << sh) / (pixels / 4)) : 0;
		norm[c] = v > 0xFFFFFFFF ? 0xFFFFFFFFu : (uint32_t)v;
	}
	memset(out, 0, sizeof *out);
	out->r = norm[0];
	out->g = norm[1];
	out->b = norm[2];
	out->luma = (uint32_t)(((uint64_t)lim->gain * norm[1]) >> 20);
}

static void parse_ae_tile(const qvd_ae_tile *t, const qvd_stat_grid *g, const cfa_limits *lim,
                          aaa_ae_tile *out)
{
	uint64_t valid = valid_pixels(tile_pixels(g), t->under, t->over);
	if (valid == 0) {
		out->cfa_luma = out->rgb_luma = AAA_LUMA_NONE;
		return;
	}
	unsigned sh = g->shift;
	int64_t sum = t->sum;
	uint64_t bound = ((uint64_t)lim->ae_max * valid * 127) >> 7;
	if (bound >= ((uint64_t)sum << sh)) {
		sum -= (int64_t)(((uint64_t)lim->mean_black * valid) >> sh);
		if (sum < 0)
			sum = 0;
	}
	uint64_t luma = ((((uint64_t)sum << sh) / valid) * lim->gain) >> 12;
	out->cfa_luma = luma > AAA_LUMA_MAX ? AAA_LUMA_MAX : (uint32_t)luma;
}

static void parse_af_tile(const qvd_af_tile *t, const qvd_stat_grid *g, aaa_af_tile *out)
{
	out->sum = (uint16_t)clip_u16(((uint64_t)t->sum << g->shift) / tile_pixels(g));
	out->fv1 = t->fv1;
	out->fv2 = t->fv2;
}

static void add_hist(aaa_histogram *dst, const qvd_stat_hist *src)
{
	for (int a = 0; a < 4; a++)
		for (int i = 0; i < 64; i++)
			dst->bin[a][i] += src->bin[a][i];
}

/* Widens the channel's header by a further slice of the layout. */
static void widen_header(qvd_stat_header *h, const qvd_stat_header *s, bool stacked)
{
	qvd_stat_grid *dst[3] = {&h->awb, &h->ae, &h->af};
	const qvd_stat_grid *src[3] = {&s->awb, &s->ae, &s->af};
	for (int k = 0; k < 3; k++) {
		if (stacked)
			dst[k]->num_row = (uint16_t)(dst[k]->num_row + src[k]->num_row);
		else
			dst[k]->num_col = (uint16_t)(dst[k]->num_col + src[k]->num_col);
	}
}

static void parse_cfa_slice(const qvd_cfa_slice *sl, unsigned s, const grid_order o[3], const cfa_limits *lim,
                            aaa_cfa_set *set, uint16_t counts[3])
{
	const qvd_stat_header *h = &sl->header;
	uint32_t n = (uint32_t)h->awb.num_col * h->awb.num_row;
	for (uint32_t k = 0; k < n; k++)
		parse_awb_tile(&sl->awb[k], &h->awb, lim, &set->awb[tile_pos(&o[0], s, &h->awb, k)]);
	counts[0] = (uint16_t)(counts[0] + n);
	n = (uint32_t)h->ae.num_col * h->ae.num_row;
	for (uint32_t k = 0; k < n; k++)
		parse_ae_tile(&sl->ae[k], &h->ae, lim, &set->ae[tile_pos(&o[1], s, &h->ae, k)]);
	counts[1] = (uint16_t)(counts[1] + n);
	n = (uint32_t)h->af.num_col * h->af.num_row;
	for (uint32_t k = 0; k < n; k++)
		parse_af_tile(&sl->af[k], &h->af, &set->cfa_af[tile_pos(&o[2], s, &h->af, k)]);
	counts[2] = (uint16_t)(counts[2] + n);
	add_hist(&set->cfa_hist, &sl->hist);
}

static int parse_cfa_block(int chan, const uint8_t *cfa, unsigned max_slices, uint32_t gain, aaa_cfa_set *set,
                           uint16_t counts[3])
{
	(void)chan;
	if (!cfa || !set || !counts)
		return -1;
	slice_layout l;
	grid_order o[3];
	if (!check_block("parse_cfa_data", cfa, sizeof(qvd_cfa_slice), max_slices, false, &l, o))
		return -1;
	memset(&set->cfa_hist, 0, sizeof set->cfa_hist);
	memset(counts, 0, 3 * sizeof *counts);
	cfa_limits lim;
	vors_img_dsp_3a_get_aaa_stat_pix_value(NULL, &lim.ae_max, NULL, &lim.awb_max);
	memcpy(set->header, cfa, sizeof set->header);
	const qvd_stat_header *h0 = (const qvd_stat_header *)cfa;
	lim.black[0] = black_word(h0->black_red);
	lim.black[1] = black_word(h0->black_green);
	lim.black[2] = black_word(h0->black_blue);
	lim.mean_black = ((int64_t)lim.black[0] + 2 * (int64_t)lim.black[1] + lim.black[2]) / 4;
	lim.gain = gain;
	for (unsigned s = 0; s < l.count; s++) {
		if (debug_dump)
			printf("[PARSER]>>> slice =%d\n", (int)s);
		if (s > 0)
			widen_header((qvd_stat_header *)set->header, l.hdr[s], o[0].stacked);
		parse_cfa_slice((const qvd_cfa_slice *)l.hdr[s], s, o, &lim, set, counts);
	}
	return 0;
}

int parse_cfa_data(int chan, const uint8_t *cfa, uint32_t gain, aaa_cfa_set *set, uint16_t counts[3])
{
	return parse_cfa_block(chan, cfa, QVD_CFA_SLICES, gain, set, counts);
}

/* ---- the steps ------------------------------------------------------------- */

static bool flag_set(const uint8_t *flags, int c)
{
	return flags && flags[c] == 1;
}

static uint16_t rd16(const uint8_t *p)
{
	uint16_t v;
	memcpy(&v, p, sizeof v);
	return v;
}

/* Bytes of packed data one row of n sensor-histogram values takes. */
static uint32_t packed_row_bytes(uint32_t n)
{
	uint32_t groups = 2 * ((n - 1) >> 3) + 2;
	return (groups * 27 + 31) / 32 * 4;
}

/* Rewrites the channel's sensor-histogram block in place as 16-bit values;
 * false when its words do not fit the block. */
static bool unpack_sensor_hist(uint8_t *blk)
{
	uint32_t offset = rd16(blk), packed = rd16(blk + 2), count = rd16(blk + 4);
	if (offset + 4 * count > SENSOR_HIST_HALF) {
		printf("not enough memory (0x%x) is assigned for sensor hist data\n", SENSOR_HIST_HALF);
		return false;
	}
	bool copy = packed == 2 * count;
	if (!copy && count && offset + packed + packed_row_bytes(count) > SENSOR_HIST_HALF) {
		printf("sensor hist data of %u values at 0x%x with length %u exceeds 0x%x\n", count, offset,
		       packed, SENSOR_HIST_HALF);
		return false;
	}
	uint8_t *scratch = blk + SENSOR_HIST_HALF;
	memcpy(scratch, blk, SENSOR_HIST_HALF);
	memset(blk, 0, SENSOR_HIST_HALF);
	if (copy)
		memcpy(blk + 4, scratch + offset, 4 * count);
	else
		vors_img_dsp_3a_unpack_sensor_hist_data(scratch + offset, (uint16_t)packed,
		                                        (uint16_t *)(blk + 4), (uint16_t)count, 2);
	memset(scratch, 0, SENSOR_HIST_HALF);
	uint32_t values = 2 * count;
	memcpy(blk, &values, sizeof values);
	return true;
}

/* Joins the block's 12-bit fields into the parse result: pairs of fields,
 * the first the high one, make the header values and the bins. */
static void convert_sensor_hist(const uint8_t *blk, aaa_sensor_hist *out)
{
	const uint8_t *v = blk + 4;
	out->valid = 1;
	for (int k = 0; k < 2; k++)
		out->head16[k] = (uint16_t)(((rd16(v + 4 * k) & 0xfff) << 8) + (rd16(v + 4 * k + 2) & 0xfff));
	for (int k = 0; k < 6; k++)
		out->head32[k] =
		    ((uint32_t)(rd16(v + 8 + 4 * k) & 0xfff) << 10) + (rd16(v + 8 + 4 * k + 2) & 0xfff);
	for (uint32_t i = 0; i < AAA_SENSOR_HIST_BINS; i++) {
		uint32_t first = rd16(v + 32 + 4 * i), second = rd16(v + 32 + 4 * i + 2);
		out->bin[i] = (second >> 4) + (first & 0xfff0) * 64;
	}
}

static int step_sensor_hist(const aaa_stat_desc *d, const channel_info *info, aaa_parse_out *out)
{
	if (!d->hist)
		return 0;
	for (int c = 0; c < parse_chan_num; c++) {
		if (!flag_set(d->hist_valid, c) || info[c].hdr_method != HDR_METHOD_SENSOR_HIST)
			continue;
		uint8_t *blk = (uint8_t *)d->hist + (size_t)c * QVD_STAT_HIST_SIZE;
		if (!unpack_sensor_hist(blk))
			return -1;
		convert_sensor_hist(blk, &out->chan[c].sensor_hist);
	}
	return 0;
}

/* A channel's pre-histogram records, checked before any is summed. */
static int check_prehist(const uint8_t *rec, int c, uint32_t expos)
{
	if (expos > AAA_PREHIST_EXPOSURES) {
		printf("parse_pre_histo_data: %u exposures exceed the %u the buffer holds\n", expos,
		       AAA_PREHIST_EXPOSURES);
		return -1;
	}
	for (uint32_t e = 0; e < expos; e++) {
		const qvd_prehist_header *h = (const qvd_prehist_header *)(rec + e * QVD_PREHIST_RECORD_SIZE);
		if ((h->chan & 7) != c) {
			printf("parse_pre_histo_data:stats.chan_index=%d mismatch with loop.chan_idx=%d\n",
			       h->chan & 7, c);
			return -1;
		}
		if (h->slices > QVD_PREHIST_SLICES) {
			printf("parse_pre_histo_data: %u slices exceed the %u a record holds\n", h->slices,
			       (unsigned)QVD_PREHIST_SLICES);
			return -1;
		}
	}
	return 0;
}

static int step_prehist(const aaa_stat_desc *d, const channel_info *info, aaa_parse_out *out)
{
	if (!d->prehist)
		return 0;
	for (int c = 0; c < parse_chan_num; c++) {
		uint32_t expos = info[c].expo_num;
		if (!flag_set(d->prehist_valid, c) || expos < 1)
			continue;
		const uint8_t *rec = (const uint8_t *)d->prehist + (size_t)c * QVD_STAT_PREHIST_SIZE;
		if (check_prehist(rec, c, expos) != 0)
			return -1;
		for (uint32_t e = 0; e < expos; e++) {
			const uint8_t *r = rec + e * QVD_PREHIST_RECORD_SIZE;
			uint32_t(*dst)[128] = out->chan[c].prehist[e];
			memset(dst, 0, sizeof out->chan[c].prehist[e]);
			const qvd_prehist_slice *sl =
			    (const qvd_prehist_slice *)(r + sizeof(qvd_prehist_header));
			for (unsigned s = 0; s < ((const qvd_prehist_header *)r)->slices; s++)
				for (int a = 0; a < 3; a++)
					for (uint32_t i = 0; i < QVD_PREHIST_BINS; i++)
						dst[a][i] += sl[s].bin[a][i];
		}
	}
	return 0;
}

static int check_chan(const char *fn, const uint8_t *block, int c)
{
	unsigned idx = QVD_STAT_CHAN(((const qvd_stat_header *)block)->chan);
	if ((int)idx == c)
		return 0;
	printf("%s:stats.chan_index=%d mismatch with loop.chan_idx=%d\n", fn, (int)idx, c);
	return -1;
}

static int step_cfa(const aaa_stat_desc *d, const channel_info *info, aaa_parse_out *out)
{
	if (!d->cfa)
		return 0;
	for (int c = 0; c < parse_chan_num; c++) {
		if (!flag_set(d->cfa_valid, c))
			continue;
		const uint8_t *cfa = (const uint8_t *)d->cfa + (size_t)c * QVD_STAT_CFA_SIZE;
		if (check_chan("parse_cfa_data", cfa, c) != 0)
			return -1;
		aaa_parse_result *r = &out->chan[c];
		uint16_t *counts = &r->awb_tiles;
		if (!info[c].rgb_ir) {
			if (parse_cfa_block(c, cfa, QVD_CFA_SLICES, cfa_gain[c], &r->set, counts) != 0)
				return -1;
			continue;
		}
		if (parse_cfa_block(c, cfa, QVD_CFA_SLICES / 2, cfa_gain[c], &r->set, counts) != 0 ||
		    parse_cfa_block(c, cfa + CFA_HALF, QVD_CFA_SLICES / 2, cfa_gain[c], &r->set2, counts) !=
		        0)
			return -1;
	}
	return 0;
}

int32_t parse_aaa_luma_mean(const aaa_cfa_set *set)
{
	uint64_t weighted = 0, total = 0;
	for (uint32_t i = 1; i <= 64; i++) {
		weighted += (uint64_t)i * set->cfa_hist.bin[3][i - 1];
		total += set->cfa_hist.bin[3][i - 1];
	}
	return total ? (int32_t)(8 * weighted / total) : 0;
}

static void step_vsrc_luma(const channel_info *info, const aaa_parse_out *out)
{
	for (int c = 0; c < parse_chan_num; c++) {
		if (!info[c].rgb_ir) {
			vsrc_luma[c][0] = vsrc_luma[c][1] = VSRC_LUMA_NONE;
			continue;
		}
		int32_t l2 = parse_aaa_luma_mean(&out->chan[c].set2);
		vsrc_luma[c][0] = l2;
		vsrc_luma[c][1] = l2 - parse_aaa_luma_mean(&out->chan[c].set);
	}
}

static void parse_rgb_slice(const qvd_rgb_slice *sl, unsigned s, const grid_order o[3], aaa_cfa_set *set)
{
	const qvd_stat_header *h = &sl->header;
	uint64_t pixels = tile_pixels(&h->ae);
	uint32_t n = (uint32_t)h->ae.num_col * h->ae.num_row;
	for (uint32_t k = 0; k < n; k++) {
		aaa_ae_tile *t = &set->ae[tile_pos(&o[1], s, &h->ae, k)];
		if (pixels == 0) {
			t->rgb_luma = AAA_LUMA_NONE;
			continue;
		}
		uint64_t luma = ((uint64_t)sl->ae_sum[k] << h->ae.shift) / pixels;
		t->rgb_luma = luma > AAA_LUMA_MAX ? AAA_LUMA_MAX : (uint32_t)luma;
	}
	n = (uint32_t)h->af.num_col * h->af.num_row;
	for (uint32_t k = 0; k < n; k++)
		parse_af_tile(&sl->af[k], &h->af, &set->rgb_af[tile_pos(&o[2], s, &h->af, k)]);
	add_hist(&set->rgb_hist, &sl->hist);
}

static int step_rgb(const aaa_stat_desc *d, aaa_parse_out *out)
{
	if (!d->rgb)
		return 0;
	for (int c = 0; c < parse_chan_num; c++) {
		if (!flag_set(d->rgb_valid, c))
			continue;
		const uint8_t *rgb = (const uint8_t *)d->rgb + (size_t)c * QVD_STAT_RGB_SIZE;
		if (check_chan("parse_rgb_data", rgb, c) != 0)
			return -1;
		slice_layout l;
		grid_order o[3];
		if (!check_block("parse_rgb_data", rgb, sizeof(qvd_rgb_slice), QVD_RGB_SLICES, true, &l, o))
			return -1;
		aaa_cfa_set *set = &out->chan[c].set;
		memset(&set->rgb_hist, 0, sizeof set->rgb_hist);
		for (unsigned s = 0; s < l.count; s++) {
			/* A slice without focus pixels ends the channel's RGB data. */
			if (tile_pixels(&l.hdr[s]->af) == 0)
				break;
			parse_rgb_slice((const qvd_rgb_slice *)l.hdr[s], s, o, set);
		}
	}
	return 0;
}

/* ---- debug dump ------------------------------------------------------------ */

static void dump_hist(const char *title, const aaa_histogram *h)
{
	printf("%s\n", title);
	for (int a = 0; a < 4; a++) {
		for (int i = 0; i < 64; i++)
			printf("%u ", h->bin[a][i]);
		printf("\n");
	}
}

static void dump_af(const char *title, const aaa_af_tile *t, uint32_t n)
{
	printf("%s\n", title);
	for (uint32_t i = 0; i < n; i++)
		printf("%u %u %u\n", t[i].sum, t[i].fv1, t[i].fv2);
}

static void dump_channel(int c, const channel_info *ci, const aaa_parse_result *r)
{
	printf("vin_num =%d\n", c);
	printf("TILE INFO[AE,AWB,AF]:\n%u %u %u\n", r->ae_tiles, r->awb_tiles, r->af_tiles);
	printf("BUILDIN SENSOR DATA:\n");
	for (uint32_t i = 0; i < AAA_SENSOR_HIST_BINS; i++)
		printf("%u ", r->sensor_hist.bin[i]);
	printf("\nPRE_HISTO_DATA:\n");
	for (uint32_t e = 0; e < ci->expo_num && e < AAA_PREHIST_EXPOSURES; e++) {
		printf("expo_id=%d\n", (int)e);
		for (int a = 0; a < 3; a++) {
			for (int i = 0; i < 128; i++)
				printf("%u ", r->prehist[e][a][i]);
			printf("\n");
		}
	}
	printf("CFA DATA:\n");
	for (uint32_t i = 0; i < r->awb_tiles && i < AAA_AWB_TILES; i++)
		printf("%u %u %u %u\n", r->set.awb[i].r, r->set.awb[i].g, r->set.awb[i].b,
		       r->set.awb[i].luma);
	printf("CFA AE:\n");
	for (uint32_t i = 0; i < AAA_AE_TILES; i++)
		printf("%u ", r->set.ae[i].cfa_luma);
	printf("\n");
	dump_af("CFA AF:", r->set.cfa_af, AAA_AF_TILES);
	dump_hist("CFA HISTOGRAM:", &r->set.cfa_hist);
	printf("RGB DATA:\nRGB AE:\n");
	for (uint32_t i = 0; i < AAA_AE_TILES; i++)
		printf("%u ", r->set.ae[i].rgb_luma);
	printf("\n");
	dump_af("RGB AF:", r->set.rgb_af, AAA_AF_TILES);
	dump_hist("RGB HISTOGRAM:", &r->set.rgb_hist);
}

/* ---- parse -------------------------------------------------------------------- */

int parse_aaa_data(const aaa_stat_desc *desc, const channel_info info[IMG_MAX_CHANNELS], aaa_parse_out *out)
{
	if (!desc || !info || !out)
		return -1;
	int rc = 0;
	rc |= step_sensor_hist(desc, info, out);
	rc |= step_prehist(desc, info, out);
	rc |= step_cfa(desc, info, out);
	step_vsrc_luma(info, out);
	rc |= step_rgb(desc, out);
	for (int c = 0; c < parse_chan_num; c++)
		out->valid[c] = flag_set(desc->cfa_valid, c) || flag_set(desc->rgb_valid, c) ||
		                flag_set(desc->prehist_valid, c);
	if (debug_dump == 1)
		for (int c = 0; c < parse_chan_num; c++)
			dump_channel(c, &info[c], &out->chan[c]);
	return rc ? -1 : 0;
}

/* ---- settings ------------------------------------------------------------------ */

int parse_aaa_set_cfa_gain(const uint32_t *gains)
{
	if (!gains)
		return -1;
	memcpy(cfa_gain, gains, (size_t)parse_chan_num * sizeof *gains);
	return 0;
}

uint32_t parse_aaa_get_cfa_gain(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? cfa_gain[chan] : 0;
}

int parse_aaa_set_sensor_desc(const void *desc)
{
	if (!desc)
		return -1;
	memcpy(sensor_desc, desc, sizeof sensor_desc);
	return 0;
}

const uint8_t *parse_aaa_get_sensor_desc(void)
{
	return sensor_desc;
}

int parse_aaa_set_channel_num(int n)
{
	if (n < 1 || n > IMG_MAX_CHANNELS)
		return -1;
	parse_chan_num = n;
	return 0;
}

int parse_aaa_get_channel_num(void)
{
	return parse_chan_num;
}

void parse_aaa_set_debug(uint32_t on)
{
	debug_dump = on;
}

int parse_aaa_get_vsrc_luma(int chan, int32_t out[2])
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || !out)
		return -1;
	out[0] = vsrc_luma[chan][0];
	out[1] = vsrc_luma[chan][1];
	return 0;
}

void awb_set_pending_wb_gain(int chan, uint32_t r, uint32_t g, uint32_t b)
{
	awb_chan_store *st = awb_get_chan_store(chan);
	if (!st)
		return;
	st->pending = 1;
	st->preload[0] = r;
	st->preload[1] = g;
	st->preload[2] = b;
}
