/* The gain-indexed filter pipeline: containers, states, blocks, passes. */
#include "img_adj_filter.h"

#include "ae.h"
#include "awb.h"
#include "img_adj_settings.h"
#include "img_adj_transmit.h"
#include "img_lib.h"
#include "smooth_change.h"

#include <stdio.h>
#include <string.h>

#define CONTAINER_HEADER 88
#define MAX_PARTS 5
/* Word of a 3A configuration block holding the channel's gain unit. */
#define AAA_GAIN_UNIT_AT 3180
#define ADJ_INDEX_DIVISOR 786432u

typedef struct part_layout {
	uint8_t desc_word; /* first of {flag, count, lowest row, highest row} */
	uint8_t width;     /* bytes a value */
	uint16_t row_size;
	uint16_t row0; /* byte of row 0 within the container */
} part_layout;

typedef struct container_type {
	uint32_t size;
	uint8_t nparts;
	part_layout part[MAX_PARTS];
} container_type;

static constexpr container_type container_types[] = {
    {216, 1, {{1, 4, 8, 88}}},
    {344, 1, {{1, 4, 16, 88}}},
    {600, 1, {{1, 4, 32, 88}}},
    {1112, 1, {{1, 4, 64, 88}}},
    {2136, 1, {{1, 4, 128, 88}}},
    {4184, 1, {{1, 4, 256, 88}}},
    {13912, 5, {{1, 4, 256, 88}, {6, 2, 32, 4184}, {10, 2, 32, 4696}, {14, 2, 32, 5208}, {18, 2, 512, 5720}}},
    {8792, 2, {{1, 4, 32, 88}, {6, 2, 512, 600}}},
    {10840, 5, {{1, 4, 64, 88}, {6, 2, 32, 1112}, {10, 2, 32, 1624}, {14, 2, 32, 2136}, {18, 2, 512, 2648}}},
    {4192, 1, {{6, 1, 256, 96}}},
    {24664, 3, {{6, 2, 512, 88}, {10, 2, 512, 8280}, {14, 2, 512, 16472}}},
    {1880, 4, {{1, 4, 16, 88}, {6, 2, 32, 344}, {10, 2, 32, 856}, {14, 2, 32, 1368}}},
    {19544, 4, {{1, 4, 1024, 88}, {6, 1, 64, 16472}, {10, 1, 64, 17496}, {14, 1, 64, 18520}}},
    {13400, 3, {{1, 4, 256, 88}, {6, 1, 64, 4184}, {10, 2, 512, 5208}}},
};

static constexpr uint32_t container_sizes[IMG_ADJ_FILTER_NUM] = {
    600,   600,   600,  344, 344,   344,   2136, 8792,  600, 344, 24664, 1880,  8792, 600,   216,  13912, 600,
    13912, 10840, 4192, 600, 600,   600,   600,  19544, 344, 344, 344,   600,   600,  8792,  344,  344,   344,
    344,   600,   2136, 600, 13912, 10840, 4192, 600,   600, 600, 600,   13400, 2136, 13400, 1112,
};

static constexpr uint32_t block_sizes[IMG_ADJ_FILTER_NUM] = {
    16,  8,   8,   8,  8,   4,   36,  520, 8,  8,  1536, 24,  260, 16,  6,  544, 8,
    528, 512, 260, 8,  8,   8,   10,  364, 16, 16, 16,   4,   12,  256, 16, 16,  16,
    16,  16,  44,  32, 528, 512, 260, 8,   8,  8,  8,    606, 38,  106, 14,
};

static constexpr const container_type *find_type(uint32_t size)
{
	for (const container_type &t : container_types)
		if (t.size == size)
			return &t;
	return nullptr;
}

static constexpr uint32_t values_size(const container_type *t)
{
	uint32_t n = 0;
	for (int p = 0; p < t->nparts; p++)
		n += t->part[p].row_size;
	return n;
}

static constexpr bool types_consistent()
{
	for (const container_type &t : container_types) {
		for (int p = 0; p < t.nparts; p++) {
			uint32_t end = t.part[p].row0 + IMG_ADJ_ROWS * t.part[p].row_size;
			uint32_t next = p + 1 < t.nparts ? t.part[p + 1].row0 : t.size;
			if (end != next)
				return false;
		}
	}
	return true;
}
static_assert(types_consistent(), "every part's rows end where the next part begins");

static constexpr uint32_t state_size(uint32_t id)
{
	return (uint32_t)sizeof(filter_state) + values_size(find_type(container_sizes[id]));
}

/* Blocks start 8-aligned so that the colour-correction table address and
 * the translaters' 32-bit fields sit on their natural boundaries. */
static constexpr uint32_t block_span(uint32_t id)
{
	return (block_sizes[id] + 7u) & ~7u;
}

static constexpr uint32_t container_size_of(uint32_t id)
{
	return container_sizes[id];
}

/* Containers, states and blocks each lie back to back in filter order. */
typedef struct store_layout {
	uint32_t container_at[IMG_ADJ_FILTER_NUM];
	uint32_t state_at[IMG_ADJ_FILTER_NUM];
	uint32_t block_at[IMG_ADJ_FILTER_NUM];
	uint32_t bank_size;
	uint32_t state_area;
	uint32_t block_area;
} store_layout;

static constexpr store_layout make_layout()
{
	store_layout l{};
	for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++) {
		l.container_at[id] = l.bank_size;
		l.state_at[id] = l.state_area;
		l.block_at[id] = l.block_area;
		l.bank_size += container_size_of(id);
		l.state_area += state_size(id);
		l.block_area += block_span(id);
	}
	return l;
}

static constexpr store_layout layout = make_layout();
static_assert(layout.bank_size == IMG_ADJ_BANK_SIZE, "a bank is 193,384 bytes");
static_assert(layout.block_area == IMG_ADJ_BLOCK_AREA, "the blocks of a channel");

#define STATE_AREA layout.state_area
#define BLOCK_AREA layout.block_area

typedef struct img_adj_store {
	uint64_t bank[2][IMG_ADJ_BANK_SIZE / 8];
	uint64_t states[STATE_AREA / 8];
	uint64_t blocks[BLOCK_AREA / 8];
	uint64_t cc_container[2][IMG_ADJ_CC_CONTAINER_SIZE / 8]; /* container, twin */
	uint64_t cc_tables[2][IMG_ADJ_CC_TABLES][IMG_ADJ_CC_TABLE_SIZE / 8];
} img_adj_store;

typedef struct filter_template {
	int32_t period;
	uint32_t extra_parts;
} filter_template;

static struct {
	int chan_num;
	channel_info info[IMG_MAX_CHANNELS];
	uint32_t enable[IMG_MAX_CHANNELS];
	int bank;
	int cc_bank;
} adj = {1, {}, {}, 0, 0};

static img_adj_store store[IMG_MAX_CHANNELS];

static filter_template template_of(uint32_t id)
{
	filter_template t = {5, 0};
	if (id <= 1)
		t.period = 2;
	else if (id == IMG_ADJ_CC || id == IMG_ADJ_RGB2YUV || id == IMG_ADJ_CHROMA_SCALE)
		t.period = 15;
	if (id == 12 || id == 19 || id == 40)
		t.extra_parts = 1;
	else if (id == 24)
		t.extra_parts = 3;
	else if (id == 15 || id == 17 || id == 18 || id == 38 || id == 39)
		t.extra_parts = 4;
	return t;
}

static bool chan_valid(int chan)
{
	return chan >= 0 && chan < adj.chan_num;
}

uint32_t img_adj_last_filter_id(uint32_t work_mode)
{
	switch (work_mode) {
	case 0:
	case 1:
	case 3:
	case 4:
		return 48;
	case 2:
		return 45;
	default:
		printf("error:img_work_info.mode =%d\n", (int)work_mode);
		return IMG_ADJ_NO_FILTER;
	}
}

static uint32_t last_filter_of(int chan)
{
	return img_adj_last_filter_id(adj.info[chan].tuning_key);
}

int img_adj_set_channel_count(int n)
{
	/* The store holds four channels: a larger count would index past it. */
	if (n < 1 || n > IMG_MAX_CHANNELS) {
		printf("Error:vors_aaa_vin_chan_num =%d\n", n);
		return -1;
	}
	adj.chan_num = n;
	return 0;
}

int img_adj_get_channel_count(void)
{
	return adj.chan_num;
}

int img_adj_set_channel_info(const channel_info *records)
{
	if (!records)
		return -1;
	memcpy(adj.info, records, (size_t)adj.chan_num * sizeof(channel_info));
	return 0;
}

const channel_info *img_adj_get_channel_info(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? &adj.info[chan] : nullptr;
}

uint32_t img_adj_container_size(uint32_t id)
{
	return id < IMG_ADJ_FILTER_NUM ? container_sizes[id] : 0;
}

uint32_t img_adj_filter_block_size(uint32_t id)
{
	return id < IMG_ADJ_FILTER_NUM ? block_sizes[id] : 0;
}

uint32_t img_adj_filter_block_offset(uint32_t id)
{
	return id < IMG_ADJ_FILTER_NUM ? layout.block_at[id] : 0;
}

const uint8_t *img_adj_state_part(const filter_state *s, int p)
{
	if (!s || s->id >= IMG_ADJ_FILTER_NUM)
		return nullptr;
	const container_type *t = find_type(container_sizes[s->id]);
	if (p < 1 || p > t->nparts)
		return nullptr;
	const uint8_t *at = filter_state_values(s);
	for (int q = 0; q < p - 1; q++)
		at += t->part[q].row_size;
	return at;
}

static uint8_t *bank_bytes(int chan, int bank)
{
	return (uint8_t *)store[chan].bank[bank];
}

filter_container *img_adj_bank_container(int chan, int bank, uint32_t id)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || bank < 0 || bank > 1 || id >= IMG_ADJ_FILTER_NUM)
		return nullptr;
	return (filter_container *)(bank_bytes(chan, bank) + layout.container_at[id]);
}

static filter_container *active(int chan, uint32_t id)
{
	return img_adj_bank_container(chan, adj.bank, id);
}

int img_adj_active_bank(void)
{
	return adj.bank;
}

filter_state *img_adj_filter_state(int chan, uint32_t id)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || id >= IMG_ADJ_FILTER_NUM)
		return nullptr;
	return (filter_state *)((uint8_t *)store[chan].states + layout.state_at[id]);
}

void *img_adj_filter_block(int chan, uint32_t id)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || id >= IMG_ADJ_FILTER_NUM)
		return nullptr;
	return (uint8_t *)store[chan].blocks + layout.block_at[id];
}

filter_container *img_adj_cc_container(int chan, int twin)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || twin < 0 || twin > 1)
		return nullptr;
	return (filter_container *)store[chan].cc_container[twin];
}

int filter_container_reset(filter_container *fc, uint32_t id, int32_t mode)
{
	if (!fc)
		return -1;
	fc->id = id;
	fc->mode = mode;
	return 0;
}

int filter_container_set_mode(filter_container *fc, int32_t mode)
{
	if (!fc)
		return -1;
	fc->mode = mode;
	return 0;
}

/* One part's values for the row r and weights of the gain index. The
 * descriptor comes from tuning data: the count is held to a row and the
 * rows to the 16 there are. */
static void apply_part(const part_layout *p, const uint8_t *container, uint8_t *out, int32_t r, int32_t w_hi)
{
	const uint32_t *w = (const uint32_t *)container;
	uint32_t flag = w[p->desc_word];
	uint32_t count = w[p->desc_word + 1];
	int32_t lo = clamp_i32((int32_t)w[p->desc_word + 2], 0, IMG_ADJ_ROWS - 1);
	int32_t hi = clamp_i32((int32_t)w[p->desc_word + 3], 0, IMG_ADJ_ROWS - 1);
	uint32_t per_row = p->row_size / p->width;
	if (count > per_row)
		count = per_row;
	const uint8_t *rows = container + p->row0;
	int32_t copy_row = -1;
	if (r <= lo)
		copy_row = lo;
	else if (r >= hi)
		copy_row = hi;
	else if (flag == 0)
		copy_row = r;
	if (copy_row >= 0) {
		memcpy(out, rows + (uint32_t)copy_row * p->row_size, (size_t)count * p->width);
		return;
	}
	const uint8_t *a = rows + (uint32_t)r * p->row_size;
	const uint8_t *b = a + p->row_size;
	int32_t w_lo = 128 - w_hi;
	for (uint32_t k = 0; k < count; k++) {
		if (p->width == 4) {
			int32_t va, vb;
			memcpy(&va, a + 4 * k, 4);
			memcpy(&vb, b + 4 * k, 4);
			int32_t v = blend_shift(va, w_lo, vb, w_hi, IMG_ADJ_ROW_SHIFT);
			memcpy(out + 4 * k, &v, 4);
		} else if (p->width == 2) {
			uint16_t va, vb;
			memcpy(&va, a + 2 * k, 2);
			memcpy(&vb, b + 2 * k, 2);
			uint16_t v =
			    (uint16_t)(((uint32_t)va * w_lo + (uint32_t)vb * w_hi) >> IMG_ADJ_ROW_SHIFT);
			memcpy(out + 2 * k, &v, 2);
		} else {
			out[k] =
			    (uint8_t)(((uint32_t)a[k] * w_lo + (uint32_t)b[k] * w_hi) >> IMG_ADJ_ROW_SHIFT);
		}
	}
}

static int interpolate(const container_type *t, filter_state *f, const filter_container *fc,
                       int32_t gain_index)
{
	if (f->id != fc->id) {
		printf("error: filter id %d mismatch container %d\n", (int)f->id, (int)fc->id);
		return -1;
	}
	f->counter++;
	if (f->counter < f->period) {
		f->changed = 0;
		return 0;
	}
	f->counter = 0;
	int32_t r = gain_index >> IMG_ADJ_ROW_SHIFT;
	int32_t w_hi = gain_index - 128 * r;
	uint8_t *out = filter_state_values(f);
	for (int p = 0; p < t->nparts; p++) {
		apply_part(&t->part[p], (const uint8_t *)fc, out, r, w_hi);
		out += t->part[p].row_size;
	}
	f->changed = 1;
	return 0;
}

int img_adj_container_apply(filter_state *f, const filter_container *fc, int32_t gain_index, uint32_t size)
{
	const container_type *t = find_type(size);
	if (!t) {
		puts("unknow container type");
		return -1;
	}
	if (!f || !fc) {
		printf("nullptr f %p fc %p\n", (void *)f, (const void *)fc);
		return -1;
	}
	if (f->id != fc->id) {
		printf("f %d fc %d mismatch\n", (int)f->id, (int)fc->id);
		return -1;
	}
	if (fc->mode < 0)
		return -1;
	return interpolate(t, f, fc, gain_index);
}

int img_adj_container_set_pointer(filter_container *fc, const void *p, int32_t m, int32_t n, int32_t size)
{
	if (size != IMG_ADJ_CC_CONTAINER_SIZE) {
		puts("non-supported container type");
		return -1;
	}
	if (m < 0 || m >= IMG_ADJ_ROWS || n < 0 || n > 3) {
		puts("M, N out of range");
		return -1;
	}
	if (!fc)
		return -1;
	uint64_t addr = (uint64_t)(uintptr_t)p;
	memcpy((uint8_t *)fc + CONTAINER_HEADER + 32 * m + 8 * n, &addr, sizeof(addr));
	return 0;
}

/* Copies a tuning container into a bank; only the low 16 bits of its id
 * count. */
static void take_container(int chan, int bank, uint32_t id, const void *src)
{
	filter_container *fc = img_adj_bank_container(chan, bank, id);
	memcpy(fc, src, container_sizes[id]);
	fc->id &= 0xffffu;
}

/* The luma-processing mode of filter 14 chooses between the advanced
 * spatial filter and the first sharpen-noise group. */
static void luma_exclusion(int chan, int bank)
{
	const filter_container *luma = img_adj_bank_container(chan, bank, IMG_ADJ_LUMA_PROC);
	int32_t first;
	memcpy(&first, (const uint8_t *)luma + CONTAINER_HEADER, sizeof(first));
	if (first != 0) {
		img_adj_bank_container(chan, bank, IMG_ADJ_ASF)->mode = IMG_ADJ_MODE_DISABLED;
		return;
	}
	for (uint32_t id = 16; id <= 23; id++)
		img_adj_bank_container(chan, bank, id)->mode = IMG_ADJ_MODE_DISABLED;
}

int img_adj_init_containers_liso(const img_adj_tuning *tunings)
{
	if (!tunings)
		return -1;
	for (int c = 0; c < adj.chan_num; c++) {
		uint32_t last = last_filter_of(c);
		if (last == IMG_ADJ_NO_FILTER)
			return -1;
		for (uint32_t id = 0; id <= last; id++) {
			if (tunings[c][id])
				take_container(c, adj.bank, id, tunings[c][id]);
			else
				filter_container_reset(active(c, id), id, IMG_ADJ_MODE_DISABLED);
		}
		memcpy(bank_bytes(c, adj.bank ^ 1), bank_bytes(c, adj.bank), IMG_ADJ_BANK_SIZE);
	}
	return 0;
}

static void write_header(filter_state *f, uint32_t id)
{
	filter_template t = template_of(id);
	f->id = id;
	f->period = t.period;
	f->counter = t.period;
	f->extra_parts = t.extra_parts;
}

int img_adj_init_filter_headers(void)
{
	for (int c = 0; c < adj.chan_num; c++) {
		uint32_t last = last_filter_of(c);
		if (last == IMG_ADJ_NO_FILTER)
			continue;
		for (uint32_t id = 0; id <= last; id++)
			write_header(img_adj_filter_state(c, id), id);
	}
	return 0;
}

int img_adj_refresh_filter(uint32_t id)
{
	if (id >= IMG_ADJ_FILTER_NUM) {
		printf("error: invalid filter id %d.\n", (int)id);
		return -1;
	}
	for (int c = 0; c < adj.chan_num; c++) {
		filter_state *f = img_adj_filter_state(c, id);
		write_header(f, id);
		f->changed = 1;
		f->force_send = 1;
	}
	if (id == IMG_ADJ_CC)
		img_adj_set_update_flags();
	return 0;
}

static void select_context(img_dsp_mode *mode, int chan)
{
	mode->ContextId = (uint8_t)chan;
	if (adj.info[chan].yuv)
		mode->FuncMode = IMG_DSP_FUNC_CLISO;
	else if (adj.info[chan].dsp_hdr)
		mode->FuncMode = IMG_DSP_FUNC_NO_HDR;
	else
		mode->FuncMode = 0;
}

/* The adjustment index the 3A core's exposure state gives the channel. */
static int32_t pre_config_gain_index(int chan)
{
	uint16_t agc[IMG_MAX_CHANNELS] = {0};
	if (ae_get_agc_index(agc) < 0)
		agc[chan] = 0;
	uint32_t unit = 0;
	const img_aaa_chan *a = img_lib_aaa_chan(chan);
	if (a)
		memcpy(&unit, a->cfg + AAA_GAIN_UNIT_AT, sizeof(unit));
	return (int32_t)((uint32_t)agc[chan] * unit / ADJ_INDEX_DIVISOR + IMG_ADJ_START_GAIN_INDEX);
}

static void cc_pass(int chan, int32_t gain_index, const uint32_t wb[3])
{
	img_adj_cc_step(img_adj_filter_state(chan, IMG_ADJ_CC), active(chan, IMG_ADJ_CC),
	                img_adj_cc_container(chan, 0), wb, gain_index - IMG_ADJ_START_GAIN_INDEX,
	                img_adj_filter_block(chan, IMG_ADJ_CC), chan);
}

static void evaluate(int chan, uint32_t id, int32_t gain_index)
{
	img_adj_container_apply(img_adj_filter_state(chan, id), active(chan, id), gain_index,
	                        container_sizes[id]);
}

/* Translates (filter 9 writes its own block) and sends a changed filter;
 * the pass goes on whatever either answers. */
static void send(int chan, uint32_t id, int fd, img_dsp_mode *mode)
{
	filter_state *f = img_adj_filter_state(chan, id);
	void *block = img_adj_filter_block(chan, id);
	if (id != IMG_ADJ_CC)
		img_adj_translate(f, block, chan, nullptr);
	img_adj_transmit(f, block, fd, mode);
	f->changed = 0;
}

int img_adj_apply_initial_filters(int fd, img_dsp_mode *mode)
{
	if (!mode)
		return -1;
	for (int c = 0; c < adj.chan_num; c++) {
		uint32_t last = last_filter_of(c);
		if (last == IMG_ADJ_NO_FILTER)
			continue;
		select_context(mode, c);
		luma_exclusion(c, adj.bank);
		int32_t gain_index = IMG_ADJ_START_GAIN_INDEX;
		bool pre = img_adj_pre_config_flag() == 1;
		if (pre) {
			gain_index = pre_config_gain_index(c);
			img_adj_set_update_flags();
		}
		for (uint32_t id = 0; id <= last; id++) {
			if (id != IMG_ADJ_CC) {
				evaluate(c, id, gain_index);
			} else if (pre) {
				uint32_t wb[3] = {1024, 1024, 1024};
				awb_get_current_gains(c, wb);
				cc_pass(c, gain_index, wb);
			}
			filter_state *f = img_adj_filter_state(c, id);
			f->force_send = 1;
			if (!f->changed)
				continue;
			send(c, id, fd, mode);
			if (active(c, id)->mode == IMG_ADJ_MODE_ONCE)
				active(c, id)->mode = IMG_ADJ_MODE_DISABLED;
		}
		if (pre)
			img_adj_clear_pre_config_flag();
	}
	return 0;
}

int img_adj_run_filters(int fd, img_dsp_mode *mode, const int32_t *gain_index, const cl_aaa_block *aaa)
{
	if (!mode || !gain_index || !aaa)
		return -1;
	for (int c = 0; c < adj.chan_num; c++) {
		if (!adj.enable[c])
			continue;
		uint32_t last = last_filter_of(c);
		if (last == IMG_ADJ_NO_FILTER)
			continue;
		select_context(mode, c);
		const uint32_t wb[3] = {aaa[c].wb_r_gain, aaa[c].wb_g_gain, aaa[c].wb_b_gain};
		for (uint32_t id = 0; id <= last; id++) {
			if (id == IMG_ADJ_CC)
				cc_pass(c, gain_index[c], wb);
			else
				evaluate(c, id, gain_index[c]);
			filter_state *f = img_adj_filter_state(c, id);
			if (!f->changed)
				continue;
			send(c, id, fd, mode);
			f->force_send = 0;
		}
	}
	return 0;
}

int img_adj_set_filter_mode(int8_t mode, int32_t id, int32_t chan)
{
	if (!chan_valid(chan)) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	if (id < 0 || (uint32_t)id > last_filter_of(chan) || id >= IMG_ADJ_FILTER_NUM) {
		printf("error: invalid filter id %d.\n", id);
		return -1;
	}
	if (mode < -1 || mode > 2) {
		printf("error: invalid mode %d, should be in range [-1, 2]\n", mode);
		return -1;
	}
	active(chan, (uint32_t)id)->mode = mode;
	return 0;
}

int img_adj_get_filter_block(void *out, int32_t size, uint8_t id, int32_t chan)
{
	if (!out) {
		puts("error: null pointer.");
		return -1;
	}
	if (id >= IMG_ADJ_FILTER_NUM) {
		printf("error: invalid filter id %d.\n", id);
		return -1;
	}
	if (!chan_valid(chan)) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	if (size < 0 || (uint32_t)size > block_sizes[id]) {
		printf("error: invalid size %d of filter %d, at most %u.\n", size, id, block_sizes[id]);
		return -1;
	}
	if (id == IMG_ADJ_TONE) {
		img_dsp_tone_curve sent;
		img_adj_get_sent_tone_curve(&sent);
		memcpy(out, &sent, (size_t)size);
		return 0;
	}
	void *block = img_adj_filter_block(chan, id);
	if (id != IMG_ADJ_CC)
		img_adj_translate(img_adj_filter_state(chan, id), block, chan, nullptr);
	memcpy(out, block, (size_t)size);
	return 0;
}

int img_adj_reload_containers(const img_adj_tuning *tunings, uint32_t mask)
{
	if (!tunings)
		return -1;
	int spare = adj.bank ^ 1;
	for (int c = 0; c < adj.chan_num; c++) {
		if (!(mask & (1u << c)))
			continue;
		uint32_t last = last_filter_of(c);
		if (last == IMG_ADJ_NO_FILTER)
			return -1;
		for (uint32_t id = 0; id <= last; id++) {
			if (tunings[c][id])
				take_container(c, spare, id, tunings[c][id]);
			img_adj_filter_state(c, id)->force_send = 1;
		}
		luma_exclusion(c, spare);
	}
	return 0;
}

void img_adj_swap_container_bank(void)
{
	adj.bank ^= 1;
}

int img_adj_copy_container_bank(void)
{
	for (int c = 0; c < adj.chan_num; c++)
		memcpy(bank_bytes(c, adj.bank ^ 1), bank_bytes(c, adj.bank), IMG_ADJ_BANK_SIZE);
	return 0;
}

/* Fills tables 0 to 3 of a bank from the sources, the working table from
 * source 2, and registers the five addresses in a container. */
static void fill_cc_bank(int chan, int bank, const img_adj_cc_sources src, filter_container *reg)
{
	uint64_t(*tables)[IMG_ADJ_CC_TABLE_SIZE / 8] = store[chan].cc_tables[bank];
	for (int k = 0; k < IMG_ADJ_CC_SOURCES; k++)
		if (src[k])
			memcpy(tables[k], src[k], IMG_ADJ_CC_TABLE_SIZE);
	if (src[2])
		memcpy(tables[IMG_ADJ_CC_WORK], src[2], IMG_ADJ_CC_TABLE_SIZE);
	for (int k = 0; k < IMG_ADJ_CC_TABLES; k++)
		img_adj_container_set_pointer(reg, tables[k], k, IMG_ADJ_CC_COLUMN,
		                              IMG_ADJ_CC_CONTAINER_SIZE);
}

int img_adj_load_cc_tables(const img_adj_cc_sources *sources)
{
	if (!sources)
		return -1;
	for (int c = 0; c < adj.chan_num; c++) {
		fill_cc_bank(c, adj.cc_bank, sources[c], img_adj_cc_container(c, 0));
		memcpy(store[c].cc_container[1], store[c].cc_container[0], IMG_ADJ_CC_CONTAINER_SIZE);
	}
	return 0;
}

int img_adj_load_pending_cc_tables(const img_adj_cc_sources *sources, uint32_t mask)
{
	if (!sources)
		return -1;
	for (int c = 0; c < adj.chan_num; c++)
		if (mask & (1u << c))
			fill_cc_bank(c, adj.cc_bank ^ 1, sources[c], img_adj_cc_container(c, 1));
	return 0;
}

void img_adj_swap_cc_bank(void)
{
	adj.cc_bank ^= 1;
	for (int c = 0; c < adj.chan_num; c++)
		memcpy(store[c].cc_container[0], store[c].cc_container[1], IMG_ADJ_CC_CONTAINER_SIZE);
}

int img_adj_set_channel_enable(const uint32_t *enable, uint32_t mask)
{
	if (!enable)
		return -1;
	for (int c = 0; c < adj.chan_num; c++)
		if (mask & (1u << c))
			adj.enable[c] = enable[c];
	return 0;
}

int img_adj_get_channel_enable(uint32_t *out)
{
	if (!out)
		return -1;
	memcpy(out, adj.enable, (size_t)adj.chan_num * sizeof(*out));
	return 0;
}

void img_adj_filter_reset(void)
{
	memset(store, 0, sizeof(store));
	memset(&adj, 0, sizeof(adj));
	adj.chan_num = 1;
}
