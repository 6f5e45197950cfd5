/* Fixtures of the filter-pipeline tests: the container types as the tuning
 * format lays them out, a container writer that fills every row with its
 * own pattern, recording translaters and transmitters, and colour tables
 * with distinctive entries. */
#ifndef TESTS_CAMLIB_IMG_ADJ_TEST_SUPPORT_H
#define TESTS_CAMLIB_IMG_ADJ_TEST_SUPPORT_H

#include "img_adj_filter.h"
#include "img_adj_settings.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace adjtest
{

struct PartSpec {
	int desc;  /* word of {flag, count, lo, hi}; 1 means the mode word */
	int width; /* bytes a value */
	int row;   /* bytes a row */
	int row0;  /* byte of row 0 */
};

struct TypeSpec {
	uint32_t size;
	std::vector<PartSpec> parts;
};

inline const std::vector<TypeSpec> &container_types()
{
	static const std::vector<TypeSpec> types = {
	    {216, {{1, 4, 8, 88}}},
	    {344, {{1, 4, 16, 88}}},
	    {600, {{1, 4, 32, 88}}},
	    {1112, {{1, 4, 64, 88}}},
	    {2136, {{1, 4, 128, 88}}},
	    {4184, {{1, 4, 256, 88}}},
	    {13912,
	     {{1, 4, 256, 88}, {6, 2, 32, 4184}, {10, 2, 32, 4696}, {14, 2, 32, 5208}, {18, 2, 512, 5720}}},
	    {8792, {{1, 4, 32, 88}, {6, 2, 512, 600}}},
	    {10840,
	     {{1, 4, 64, 88}, {6, 2, 32, 1112}, {10, 2, 32, 1624}, {14, 2, 32, 2136}, {18, 2, 512, 2648}}},
	    {4192, {{6, 1, 256, 96}}},
	    {24664, {{6, 2, 512, 88}, {10, 2, 512, 8280}, {14, 2, 512, 16472}}},
	    {1880, {{1, 4, 16, 88}, {6, 2, 32, 344}, {10, 2, 32, 856}, {14, 2, 32, 1368}}},
	    {19544, {{1, 4, 1024, 88}, {6, 1, 64, 16472}, {10, 1, 64, 17496}, {14, 1, 64, 18520}}},
	    {13400, {{1, 4, 256, 88}, {6, 1, 64, 4184}, {10, 2, 512, 5208}}},
	};
	return types;
}

inline const TypeSpec *type_of(uint32_t size)
{
	for (const TypeSpec &t : container_types())
		if (t.size == size)
			return &t;
	return nullptr;
}

inline uint32_t values_size(const TypeSpec &t)
{
	uint32_t n = 0;
	for (const PartSpec &p : t.parts)
		n += (uint32_t)p.row;
	return n;
}

/* Value k of row r of part p: distinct in every row, odd 32-bit ones
 * negative. */
inline int64_t pattern(int p, int r, int k, int width)
{
	if (width == 4) {
		int64_t v = ((int64_t)(p + 1) << 20) | ((int64_t)r << 12) | k;
		return (k & 1) ? -v : v;
	}
	if (width == 2)
		return (p + 1) * 0x1000 + r * 0x100 + (k & 0xff);
	return r * 16 + (k & 15);
}

/* A container image: header words and every row of every part filled. */
struct Container {
	std::vector<uint8_t> bytes;
	const TypeSpec *type;

	Container(const TypeSpec &t, uint32_t id, int32_t mode) : bytes(t.size), type(&t)
	{
		set_word(0, id);
		set_word(1, (uint32_t)mode);
		set_word(5, (uint32_t)t.parts.size() - 1);
		for (size_t p = 0; p < t.parts.size(); p++) {
			const PartSpec &s = t.parts[p];
			describe((int)p, (uint32_t)(s.row / s.width), 0, 15, 1);
			for (int r = 0; r < 16; r++)
				for (int k = 0; k < s.row / s.width; k++)
					set_value((int)p, r, k, pattern((int)p, r, k, s.width));
		}
	}
	void set_word(int w, uint32_t v)
	{
		memcpy(bytes.data() + 4 * w, &v, 4);
	}
	uint32_t word(int w) const
	{
		uint32_t v;
		memcpy(&v, bytes.data() + 4 * w, 4);
		return v;
	}
	/* The first part of most types takes its flag from the mode word,
	 * which is left alone here. */
	void describe(int p, uint32_t count, uint32_t lo, uint32_t hi, uint32_t flag)
	{
		int d = type->parts[p].desc;
		if (d != 1)
			set_word(d, flag);
		set_word(d + 1, count);
		set_word(d + 2, lo);
		set_word(d + 3, hi);
	}
	void set_value(int p, int r, int k, int64_t v)
	{
		const PartSpec &s = type->parts[p];
		memcpy(bytes.data() + s.row0 + r * s.row + k * s.width, &v, (size_t)s.width);
	}
	int64_t value(int p, int r, int k) const
	{
		const PartSpec &s = type->parts[p];
		int64_t v = 0;
		memcpy(&v, bytes.data() + s.row0 + r * s.row + k * s.width, (size_t)s.width);
		if (s.width == 4)
			v = (int32_t)v;
		return v;
	}
	filter_container *fc()
	{
		return (filter_container *)bytes.data();
	}
};

/* A filter state of exactly the type's size, so that a write past its
 * values is caught by the sanitizer build. */
struct State {
	std::vector<uint8_t> bytes;
	State(const TypeSpec &t, uint32_t id, uint8_t fill)
	    : bytes(sizeof(filter_state) + values_size(t), fill)
	{
		filter_state h = {id, 1, 0, 0, 0, 0};
		memcpy(bytes.data(), &h, sizeof(h));
	}
	filter_state *fs()
	{
		return (filter_state *)bytes.data();
	}
	int64_t value(const TypeSpec &t, int p, int k) const
	{
		size_t at = sizeof(filter_state);
		for (int q = 0; q < p; q++)
			at += (size_t)t.parts[q].row;
		int64_t v = 0;
		memcpy(&v, bytes.data() + at + (size_t)(k * t.parts[p].width), (size_t)t.parts[p].width);
		if (t.parts[p].width == 4)
			v = (int32_t)v;
		return v;
	}
};

/* What the pass handed to translaters and transmitters. */
struct Sent {
	int chan;
	uint32_t id;
	int fd;
	uint32_t func_mode;
	uint32_t force;
};

struct Recorder {
	std::vector<Sent> sent;
	std::vector<std::pair<int, uint32_t>> translated;
	uint32_t fail_translate = 1000;
	uint32_t fail_transmit = 1000;
	img_adj_translater tr[IMG_ADJ_FILTER_NUM];
	img_adj_transmitter tx[IMG_ADJ_FILTER_NUM];

	static Recorder *&current()
	{
		static Recorder *r;
		return r;
	}
	static int translate(filter_state *s, void *, int32_t chan, void *)
	{
		current()->translated.push_back({chan, s->id});
		return s->id == current()->fail_translate ? -1 : 0;
	}
	static int transmit(filter_state *s, void *, int32_t fd, img_dsp_mode *m)
	{
		current()->sent.push_back({m->ContextId, s->id, fd, m->FuncMode, s->force_send});
		return s->id == current()->fail_transmit ? -1 : 0;
	}
	void install()
	{
		current() = this;
		for (int i = 0; i < IMG_ADJ_FILTER_NUM; i++) {
			tr[i] = i == IMG_ADJ_CC ? nullptr : translate;
			tx[i] = transmit;
		}
		img_adj_set_filter_ops(tr, tx);
	}
	std::vector<uint32_t> ids_sent(int chan) const
	{
		std::vector<uint32_t> ids;
		for (const Sent &s : sent)
			if (s.chan == chan)
				ids.push_back(s.id);
		return ids;
	}
	void clear()
	{
		sent.clear();
		translated.clear();
	}
};

/* A colour table whose three 10-bit fields all hold v, with a head and a
 * tail of their own byte and the top bits given. */
inline std::vector<uint8_t> cc_table(uint32_t v, uint8_t mark, uint32_t top = 0)
{
	std::vector<uint8_t> t(IMG_ADJ_CC_TABLE_SIZE, mark);
	uint32_t e = top | v | v << 10 | v << 20;
	for (int i = 0; i < IMG_ADJ_CC_ENTRIES; i++)
		memcpy(t.data() + IMG_ADJ_CC_HEAD + 4 * i, &e, 4);
	return t;
}

inline uint32_t cc_entry(const uint8_t *table, int i)
{
	uint32_t e;
	memcpy(&e, table + IMG_ADJ_CC_HEAD + 4 * i, 4);
	return e;
}

inline uint8_t *cc_table_of(int chan, int k)
{
	uint64_t addr;
	memcpy(&addr, (const uint8_t *)img_adj_cc_container(chan, 0) + 88 + 32 * k + 16, 8);
	return (uint8_t *)(uintptr_t)addr;
}

/* Two channels' tuning as the camera library lays it out: a container of
 * distinct rows for every filter, colour-correction thresholds in filter
 * 9's (red gains 512, 1024, 2048; exposures 896 to 1152; weights 0 to 768)
 * and four colour tables of their own. */
struct TwoChannelTuning {
	std::vector<Container> tuning[2];
	img_adj_tuning pointers[2] = {};
	std::vector<std::vector<uint8_t>> tables;

	TwoChannelTuning()
	{
		const int32_t cc_rows[5][2] = {{512, 0}, {1024, 0}, {2048, 0}, {896, 1152}, {0, 768}};
		for (int c = 0; c < 2; c++) {
			for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
				tuning[c].emplace_back(*type_of(img_adj_container_size(id)), id, 0);
			for (int r = 0; r < 5; r++)
				for (int k = 0; k < 2; k++)
					tuning[c][IMG_ADJ_CC].set_value(0, r, k, cc_rows[r][k]);
		}
		for (int k = 0; k < 4; k++)
			tables.push_back(cc_table(100u + 200u * (uint32_t)k, (uint8_t)(0x10 + k)));
		for (int c = 0; c < 2; c++)
			for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
				pointers[c][id] = tuning[c][id].bytes.data();
	}
	/* The set-up before the first pass, the channel count and records
	 * given: containers, colour tables, headers, settings, both channels
	 * enabled. 0, or -1 at the first step that fails. */
	int set_up()
	{
		img_adj_cc_sources src[2];
		for (int c = 0; c < 2; c++)
			for (int k = 0; k < 4; k++)
				src[c][k] = tables[(size_t)k].data();
		const uint32_t on[2] = {1, 1};
		if (img_adj_init_containers_liso(pointers) < 0 || img_adj_load_cc_tables(src) < 0 ||
		    img_adj_init_filter_headers() < 0 || img_adj_init_settings() < 0 ||
		    img_adj_set_channel_enable(on, 3) < 0)
			return -1;
		return 0;
	}
};

} // namespace adjtest

#endif
