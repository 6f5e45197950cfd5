/* The filter translaters: every block against an image written from the
 * blocks' field layouts, under neutral and under distinct user settings,
 * then the rules that depend on the channel or the settings, and the
 * refusals. State value k holds k + 1; further parts hold a pattern. */
#include "img_adj_filter.h"
#include "img_adj_settings.h"
#include "img_adj_test_support.h"
#include "img_adj_translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace
{

using namespace adjtest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr uint8_t kUntouched = 0xa5;

/* A state whose first part holds k + 1 at value k and whose further parts
 * hold a pattern of their width. */
State patterned(uint32_t id)
{
	const TypeSpec &t = *type_of(img_adj_container_size(id));
	State st(t, id, 0);
	size_t at = sizeof(filter_state);
	for (size_t p = 0; p < t.parts.size(); p++) {
		const PartSpec &ps = t.parts[p];
		for (int k = 0; k < ps.row / ps.width; k++) {
			int64_t v = p == 0 && ps.width == 4 ? k + 1 : pattern((int)p, 5, k, ps.width);
			memcpy(st.bytes.data() + at + (size_t)(k * ps.width), &v, (size_t)ps.width);
		}
		at += (size_t)ps.row;
	}
	return st;
}

/* Byte offset of part p (1 for the first) within the state. */
size_t part_at(uint32_t id, int p)
{
	const TypeSpec &t = *type_of(img_adj_container_size(id));
	size_t at = sizeof(filter_state);
	for (int q = 0; q < p - 1; q++)
		at += (size_t)t.parts[(size_t)q].row;
	return at;
}

void set_value(State &st, int k, int32_t v)
{
	memcpy(st.bytes.data() + sizeof(filter_state) + 4 * (size_t)k, &v, 4);
}

/* One run of a block's fields. */
struct Span {
	enum Kind { VALUES, PART, BYTES, SETTING } kind;
	int at;
	int width;      /* VALUES: bytes a value */
	int first;      /* VALUES: first value; PART: part number; SETTING: S index */
	int count;      /* VALUES: values; PART: bytes */
	char scale = 0; /* 'S' sharpness, 'N' noise filter, 'E' even up */
	int idx = 0, shift = 6, hi = 0;
	std::vector<uint8_t> bytes = {};
};

Span V(int at, int width, int first, int count = 1)
{
	return {Span::VALUES, at, width, first, count};
}

Span SV(int at, int width, int first, int count, int idx, int hi, int shift = 6)
{
	return {Span::VALUES, at, width, first, count, 'S', idx, shift, hi};
}

Span NV(int at, int width, int first, int count, int idx, int hi)
{
	return {Span::VALUES, at, width, first, count, 'N', idx, 6, hi};
}

Span EV(int at, int first, int count)
{
	return {Span::VALUES, at, 1, first, count, 'E'};
}

Span P(int at, int part, int bytes)
{
	return {Span::PART, at, 0, part, bytes};
}

Span B(int at, std::vector<uint8_t> bytes)
{
	return {Span::BYTES, at, 0, 0, 0, 0, 0, 6, 0, std::move(bytes)};
}

Span SET(int at, int idx)
{
	return {Span::SETTING, at, 1, idx, 1};
}

struct Layout {
	uint32_t id;
	std::vector<Span> spans;
};

void append(std::vector<Span> &to, const std::vector<Span> &more)
{
	to.insert(to.end(), more.begin(), more.end());
}

/* The blocks as their setters lay them out. */
std::vector<Layout> layouts()
{
	const std::vector<Span> both = {V(0, 1, 0, 2), V(2, 2, 2), V(4, 1, 3), SV(5, 1, 4, 2, 2, 255, 4)};
	const std::vector<Span> dir_firs = {P(0, 2, 18), P(18, 3, 18), P(36, 4, 18), P(54, 5, 450)};
	auto firs_at = [&](int at) {
		std::vector<Span> s = dir_firs;
		for (Span &x : s)
			x.at += at;
		return s;
	};
	std::vector<Span> noise = {V(0, 1, 0, 3), V(508, 2, 3, 2), V(512, 1, 5, 12)};
	append(noise, firs_at(4));
	auto level = [](int idx) {
		return std::vector<Span>{V(0, 1, 0, 2), SV(2, 1, 2, 2, idx, 255), V(4, 1, 4, 2),
		                         SV(6, 1, 6, 1, idx, 255)};
	};
	const std::vector<Span> coring = {P(0, 1, 256), SET(256, 4)};
	const std::vector<Span> words = {V(0, 4, 0, 4)};

	std::vector<Layout> l = {
	    {0, {V(0, 2, 0, 8)}},
	    {2, {V(0, 2, 0, 4)}},
	    {3, {V(0, 4, 0), V(4, 2, 1, 2)}},
	    {4, {V(0, 1, 0, 2), V(2, 2, 2, 2)}},
	    {5, {V(0, 1, 0, 4)}},
	    {6,
	     {V(0, 1, 0), SV(2, 2, 1, 3, 0, 8192), V(8, 2, 4, 3), SV(14, 2, 7, 3, 1, 256), V(20, 2, 10, 8)}},
	    {7, {V(0, 1, 0, 6), P(6, 2, 512)}},
	    {8, {V(0, 2, 0, 4)}},
	    {13, {V(0, 4, 0), V(4, 2, 1, 2), V(8, 1, 3, 2), V(10, 2, 5, 2)}},
	    {14, {V(0, 1, 0, 2)}},
	    {15,
	     {V(0, 1, 0), V(2, 1, 1), V(508, 2, 2, 2), V(512, 1, 4), SV(514, 1, 5, 2, 7, 255), V(516, 1, 7),
	      SV(517, 1, 8, 1, 5, 8), EV(518, 9, 2), V(520, 1, 11), SV(521, 1, 12, 1, 5, 8), EV(522, 13, 2),
	      V(524, 1, 15, 2), SV(526, 1, 17, 2, 6, 255), V(528, 1, 19, 2), SV(530, 1, 21, 1, 6, 255),
	      V(531, 1, 22), V(532, 1, 23, 9)}},
	    {16, both},
	    {17, noise},
	    {18, {V(0, 1, 0), V(506, 2, 1, 2)}},
	    {19, coring},
	    {20, level(3)},
	    {21, {V(0, 1, 0, 7)}},
	    {22, {V(0, 1, 0, 7)}},
	    {23, level(3)},
	    {24,
	     {V(0, 1, 0, 2),
	      V(4, 4, 2),
	      V(8, 2, 3),
	      NV(10, 2, 4, 1, 2, 256),
	      P(12, 2, 64),
	      V(76, 1, 5),
	      NV(77, 1, 6, 1, 3, 255),
	      NV(78, 2, 7, 1, 2, 256),
	      P(80, 3, 64),
	      V(144, 1, 8),
	      NV(145, 1, 9, 1, 3, 255),
	      NV(146, 2, 10, 1, 2, 256),
	      P(148, 4, 64),
	      V(212, 1, 11),
	      NV(213, 1, 12, 1, 3, 255),
	      NV(214, 1, 13, 4, 0, 255),
	      NV(218, 1, 17, 4, 1, 63),
	      NV(222, 1, 21, 4, 0, 255),
	      NV(226, 1, 25, 4, 1, 63),
	      NV(230, 1, 29, 4, 0, 255),
	      NV(234, 1, 33, 4, 1, 63),
	      V(240, 4, 37, 2),
	      V(248, 1, 39, 2),
	      V(250, 1, 41, 14),
	      V(264, 4, 55, 2),
	      V(272, 1, 57, 2),
	      V(274, 1, 59, 14),
	      V(288, 4, 73, 2),
	      V(296, 1, 75, 2),
	      V(298, 1, 77, 65)}},
	    {25, words},
	    {26, words},
	    {27, words},
	    {28, {B(0, {1, 0, 0, 0})}},
	    {29, {B(4, {0, 0, 0, 0, 0, 0, 0, 0})}},
	    {30, {P(0, 2, 256)}},
	    {31, words},
	    {32, words},
	    {33, words},
	    {34, words},
	    {35, {V(0, 1, 0, 3), V(4, 2, 3, 2), V(8, 2, 5)}},
	    {36,
	     {V(0, 2, 0, 4), V(8, 1, 4, 9), V(18, 1, 13, 2), V(20, 2, 15, 3), V(26, 1, 18, 2),
	      V(28, 2, 20, 3), V(34, 1, 23, 2), V(36, 2, 25, 3)}},
	    {37, both},
	    {38, noise},
	    {39, {SV(0, 1, 0, 1, 8, 4), SV(506, 2, 1, 1, 10, 256), SV(508, 2, 2, 1, 9, 256)}},
	    {40, coring},
	    {41, level(3)},
	    {42, {V(0, 1, 0, 8)}},
	    {43, {V(0, 1, 0, 8)}},
	    {44, level(11)},
	    {45, {V(0, 1, 0, 27), P(27, 2, 64), V(91, 1, 27, 2), P(94, 3, 512)}},
	    {46, {V(0, 2, 0, 16), V(32, 2, 16), V(34, 1, 17, 3)}},
	    {47, {V(0, 1, 0, 33), V(34, 2, 33, 3), V(40, 1, 36, 2), P(42, 2, 64)}},
	    {48, {V(0, 1, 0, 9)}},
	};
	for (Layout &x : l) {
		if (x.id == 18 || x.id == 39)
			append(x.spans, firs_at(2));
		if (x.id == 15)
			append(x.spans, firs_at(4));
		if (x.id == 37)
			append(x.spans, {B(7, {4, 64, 3, 4, 64, 3, 0, 3}), V(15, 1, 6), V(16, 1, 7),
			                 B(24, std::vector<uint8_t>(8))});
		if (x.id == 38)
			x.spans.push_back(V(524, 1, 17));
		if (x.id == 41 || x.id == 44)
			x.spans.push_back(V(7, 1, 7));
	}
	return l;
}

int64_t scale_of(const Span &s, const img_adj_settings &set, int64_t v)
{
	if (s.scale == 'E') {
		uint8_t b = (uint8_t)v;
		return (uint8_t)(b + (b & 1));
	}
	if (!s.scale)
		return v;
	int64_t f = s.scale == 'S' ? set.sharpness[s.idx] : set.nf_values[s.idx];
	int64_t x = (v * f) >> s.shift;
	return x < 0 ? 0 : (x > s.hi ? s.hi : x);
}

std::vector<uint8_t> expected_image(const Layout &l, const State &st, const img_adj_settings &set)
{
	std::vector<uint8_t> img(img_adj_filter_block_size(l.id), kUntouched);
	for (const Span &s : l.spans) {
		switch (s.kind) {
		case Span::VALUES:
			for (int k = 0; k < s.count; k++) {
				int32_t raw;
				memcpy(&raw,
				       st.bytes.data() + sizeof(filter_state) + 4 * (size_t)(s.first + k), 4);
				int64_t v = scale_of(s, set, raw);
				memcpy(img.data() + s.at + k * s.width, &v, (size_t)s.width);
			}
			break;
		case Span::PART:
			memcpy(img.data() + s.at, st.bytes.data() + part_at(l.id, s.first), (size_t)s.count);
			break;
		case Span::BYTES:
			memcpy(img.data() + s.at, s.bytes.data(), s.bytes.size());
			break;
		case Span::SETTING:
			img[(size_t)s.at] = (uint8_t)set.sharpness[s.first];
			break;
		}
	}
	return img;
}

class AdjTranslate : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		img_adj_filter_reset();
		img_adj_settings_reset();
		ASSERT_EQ(img_adj_set_channel_count(2), 0);
		ASSERT_EQ(img_adj_set_channel_info(info_), 0);
		ASSERT_EQ(img_adj_init_settings(), 0);
	}
	void set_info()
	{
		ASSERT_EQ(img_adj_set_channel_info(info_), 0);
	}
	/* The block a translater leaves over untouched bytes. */
	std::vector<uint8_t> translate(State &st, int chan = 0, int *rc = nullptr)
	{
		std::vector<uint64_t> buf(img_adj_filter_block_size(st.fs()->id) / 8 + 1);
		memset(buf.data(), kUntouched, buf.size() * 8);
		int r = img_adj_translate(st.fs(), buf.data(), chan, nullptr);
		if (rc)
			*rc = r;
		else
			EXPECT_EQ(r, 0) << "filter " << st.fs()->id;
		const uint8_t *b = (const uint8_t *)buf.data();
		return std::vector<uint8_t>(b, b + img_adj_filter_block_size(st.fs()->id));
	}
	channel_info info_[IMG_MAX_CHANNELS] = {};
};

void expect_image(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want, uint32_t id)
{
	ASSERT_EQ(got.size(), want.size());
	for (size_t i = 0; i < want.size(); i++)
		ASSERT_EQ(got[i], want[i]) << "filter " << id << " byte " << i;
}

TEST_F(AdjTranslate, EveryBlockFollowsItsLayoutUnderNeutralAndDistinctSettings)
{
	const uint32_t sharp[12] = {64 * 3000, 64 * 40, 48,  32,       7,  64 * 20,
	                            64 * 20,   96,      640, 64 * 100, 32, 128};
	const uint32_t nf[4] = {64 * 20, 64 * 4, 64 * 60, 64 * 30};
	for (int distinct = 0; distinct < 2; distinct++) {
		if (distinct) {
			ASSERT_EQ(img_adj_set_sharpness_values(sharp, 1), 0);
			ASSERT_EQ(img_adj_set_nf_values(nf, 1), 0);
		}
		const img_adj_settings &set = *img_adj_channel_settings(0);
		for (const Layout &l : layouts()) {
			SCOPED_TRACE("filter " + std::to_string(l.id) +
			             (distinct ? ", distinct settings" : ""));
			State st = patterned(l.id);
			expect_image(translate(st), expected_image(l, st, set), l.id);
		}
	}
}

TEST_F(AdjTranslate, SharpnessTriplesTheFiveByFiveLimitsAndClampsThem)
{
	for (uint32_t id : {16u, 37u}) {
		State st = patterned(id);
		set_value(st, 4, 5);
		set_value(st, 5, 100);
		const int32_t six[1] = {6}, ten[1] = {10};
		ASSERT_EQ(img_adj_set_sharpness_level(six, 1), 0);
		std::vector<uint8_t> b = translate(st);
		EXPECT_EQ(b[5], 5) << id;
		EXPECT_EQ(b[6], 100) << id;
		ASSERT_EQ(img_adj_set_sharpness_level(ten, 1), 0);
		b = translate(st);
		EXPECT_EQ(b[5], 15) << id;
		EXPECT_EQ(b[6], 255) << id;
	}
}

TEST_F(AdjTranslate, SpatialFilterThresholdsRoundUpToEven)
{
	const struct {
		int32_t v;
		uint8_t sent;
	} cases[] = {{7, 8}, {8, 8}, {0, 0}, {255, 0}, {0x1ff, 0}, {-3, 254}};
	for (const auto &c : cases) {
		State st = patterned(IMG_ADJ_ASF);
		for (int k : {9, 10, 13, 14})
			set_value(st, k, c.v);
		std::vector<uint8_t> b = translate(st);
		for (int at : {518, 519, 522, 523})
			EXPECT_EQ(b[(size_t)at], c.sent) << "value " << c.v << " byte " << at;
	}
}

TEST_F(AdjTranslate, LumaProcessingSelectFollowsTheWorkMode)
{
	const struct {
		uint32_t mode;
		uint8_t byte1;
	} cases[] = {{0, 2}, {1, 2}, {2, 0}, {3, 4}, {4, 2}};
	for (const auto &c : cases) {
		info_[0].tuning_key = c.mode;
		set_info();
		State st = patterned(IMG_ADJ_LUMA_PROC);
		std::vector<uint8_t> b = translate(st);
		EXPECT_EQ(b[0], 1) << "mode " << c.mode;
		EXPECT_EQ(b[1], c.byte1) << "mode " << c.mode;
	}
}

TEST_F(AdjTranslate, WarmthRatiosScaleTheGainsTowardsZero)
{
	const uint8_t r1[1] = {64}, r2[1] = {128};
	ASSERT_EQ(img_adj_set_wb_ratio(r1, r2, 1), 0);
	State st = patterned(1);
	const int32_t v[6] = {-5, -5, 7, 7, 9, 300};
	for (int k = 0; k < 6; k++)
		set_value(st, k, v[k]);
	std::vector<uint8_t> b = translate(st);
	const uint8_t want[8] = {0xfe, 0xfb, 3, 7, 4, 300 & 0xff, kUntouched, kUntouched};
	EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()), std::vector<uint8_t>(want, want + 8));
}

TEST_F(AdjTranslate, ChromaScaleGainsFollowValueOneAndVanishInBlackAndWhite)
{
	State st = patterned(IMG_ADJ_CHROMA_SCALE);
	set_value(st, 1, 2048);
	std::vector<uint8_t> b = translate(st);
	const uint8_t *gains = st.bytes.data() + part_at(IMG_ADJ_CHROMA_SCALE, 2);
	EXPECT_EQ(b[0], 1);
	for (int i = 0; i < 128; i++) {
		uint16_t in, out;
		memcpy(&in, gains + 2 * i, 2);
		memcpy(&out, b.data() + 4 + 2 * i, 2);
		ASSERT_EQ(out, (uint16_t)(in * 2)) << i;
	}
	const uint32_t bw[1] = {1};
	ASSERT_EQ(img_adj_set_bw_mode(bw, 1), 0);
	b = translate(st);
	EXPECT_EQ(b[0], 1);
	EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.end()), std::vector<uint8_t>(256, 0));
	EXPECT_EQ(b[1], kUntouched);
}

TEST_F(AdjTranslate, HdrBlendAndLimitsTakeTheExposureCountsPair)
{
	const struct {
		const char *what;
		uint32_t dsp_hdr, method, expo;
		int first; /* -1: not in HDR */
	} cases[] = {
	    {"linear", 0, 0, 2, -1},
	    {"method 2 without the DSP", 0, 2, 2, -1},
	    {"DSP HDR, two exposures", 1, 0, 2, 2},
	    {"method 4, three exposures", 0, 4, 3, 4},
	    {"method 8, one exposure", 0, 8, 1, 0},
	    {"count in the low byte", 1, 0, 0x102, 2},
	    {"no exposure count", 1, 0, 0, 0},
	    {"a count past the tuning rows", 1, 0, 9, 6},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		info_[0].dsp_hdr = c.dsp_hdr;
		info_[0].hdr_method = c.method;
		info_[0].expo_num = c.expo;
		set_info();
		State blend = patterned(28), limits = patterned(29);
		std::vector<uint8_t> b = translate(blend), w = translate(limits);
		uint16_t pair[2];
		uint32_t words[3];
		memcpy(pair, b.data(), 4);
		memcpy(words, w.data(), 12);
		EXPECT_EQ(words[0], 0xa5a5a5a5u) << "word 0 is the transmitter's";
		if (c.first < 0) {
			EXPECT_EQ(pair[0], 1);
			EXPECT_EQ(pair[1], 0);
			EXPECT_EQ(words[1], 0u);
			EXPECT_EQ(words[2], 0u);
		} else {
			EXPECT_EQ(pair[0], c.first + 1);
			EXPECT_EQ(pair[1], c.first + 2);
			EXPECT_EQ(words[1], (uint32_t)c.first + 1);
			EXPECT_EQ(words[2], (uint32_t)c.first + 2);
		}
	}
}

/* The pass-through MCTF of the noise-reduction bypass, byte by byte. */
std::vector<uint8_t> mctf_bypass_image()
{
	std::vector<uint8_t> b(364, kUntouched);
	b[0] = 1;
	b[1] = 0;
	const uint32_t brightness = 4096, zero = 0;
	memcpy(&b[4], &brightness, 4);
	memcpy(&b[8], &zero, 4);
	for (int at : {12, 80, 148})
		std::fill(b.begin() + at, b.begin() + at + 64, 255);
	const uint8_t tail[4] = {0, 255, 0, 0};
	memcpy(&b[76], tail, 4);
	memcpy(&b[144], tail, 4);
	const std::vector<uint8_t> curves = {0, 255, 0,  0,  0,  0, 10, 20, 30, 63, 0,  0,  0,
	                                     0, 10,  20, 30, 63, 0, 0,  0,  0,  10, 20, 30, 63};
	std::copy(curves.begin(), curves.end(), b.begin() + 212);
	const std::vector<std::vector<uint8_t>> groups = {
	    {2, 0, 0, 0, 0, 0, 0, 0},          {0, 20, 3, 0, 0, 140, 4, 0},
	    {0, 20, 3, 0, 0, 120, 4, 0},       {2, 0, 0, 0, 0, 0, 0, 0},
	    {0, 10, 3, 0, 0, 120, 3, 0},       {0, 20, 3, 0, 0, 120, 4, 0},
	    {0, 0, 0, 0, 0, 0, 0, 0},          {0, 20, 3, 0, 0, 120, 4, 0},
	    {0, 20, 3, 0, 0, 120, 4, 0},       {0, 20, 3, 255, 255, 120, 4, 255},
	    {0, 20, 3, 255, 255, 120, 4, 255}, {0, 20, 3, 255, 255, 120, 4, 255},
	    {0, 0, 0, 0, 0, 0, 120, 0},        {0, 0, 0, 0, 0, 0, 0, 120},
	    {0, 0, 0, 0, 0, 0, 0, 0},
	};
	size_t at = 240;
	for (const std::vector<uint8_t> &g : groups) {
		std::copy(g.begin(), g.end(), b.begin() + (ptrdiff_t)at);
		at += 8;
	}
	b[360] = 120;
	b[361] = 0;
	b[362] = 0;
	return b;
}

TEST_F(AdjTranslate, NoiseReductionBypassSendsThePassThroughAndZeroesTwoValues)
{
	const uint32_t on[IMG_MAX_CHANNELS] = {1, 0};
	ASSERT_EQ(img_adj_set_nr_bypass(on), 0);
	State mctf = patterned(24);
	std::vector<uint8_t> b = translate(mctf);
	expect_image(b, mctf_bypass_image(), 24);
	EXPECT_EQ(b[238], kUntouched);
	EXPECT_EQ(b[239], kUntouched);
	EXPECT_EQ(b[363], kUntouched);

	State noise = patterned(38), max_coring = patterned(43), first_noise = patterned(17);
	EXPECT_EQ(translate(noise)[519], 0);
	EXPECT_EQ(translate(max_coring)[7], 0);
	EXPECT_EQ(translate(first_noise)[519], 13) << "the first stage keeps its value";
	/* The other channel's bypass is off. */
	EXPECT_EQ(translate(noise, 1)[519], 13);
	EXPECT_EQ(translate(mctf, 1)[0], 1);
	EXPECT_EQ(translate(mctf, 1)[4], 3);
}

TEST_F(AdjTranslate, ChromaRadiusIsHeldToTheMaximumChromaRadius)
{
	const struct {
		int32_t radius;
		uint32_t bound;
		uint16_t sent;
	} cases[] = {{100, 32, 32}, {-5, 32, 0}, {20, 32, 20}, {100, 64, 64}, {128, 128, 128}};
	for (const auto &c : cases) {
		ASSERT_EQ(img_adj_set_max_chroma_radius(&c.bound), 0);
		State st = patterned(35);
		set_value(st, 5, c.radius);
		std::vector<uint8_t> b = translate(st);
		uint16_t radius;
		memcpy(&radius, &b[8], 2);
		EXPECT_EQ(radius, c.sent) << c.radius << " under " << c.bound;
	}
}

TEST_F(AdjTranslate, ToneCurveTakesTheContrastAdjustedGreenCurve)
{
	State st = patterned(IMG_ADJ_TONE);
	const uint8_t *green = st.bytes.data() + part_at(IMG_ADJ_TONE, 2);
	std::vector<uint8_t> b = translate(st);
	for (int c = 0; c < 3; c++)
		EXPECT_EQ(0, memcmp(b.data() + 512 * c, green, 512)) << "curve " << c;
	const uint32_t flat[1] = {0};
	ASSERT_EQ(img_adj_set_contrast(flat, 1), 0);
	b = translate(st);
	for (int c = 0; c < 3; c++)
		EXPECT_EQ(0, memcmp(b.data() + 512 * c, img_adj_contrast_limit_curve(0), 512))
		    << "curve " << c;
}

TEST_F(AdjTranslate, RgbToYuvTakesTheChosenMatrix)
{
	State st = patterned(IMG_ADJ_RGB2YUV);
	std::vector<uint8_t> b = translate(st);
	/* Colour matrix 1 is the second of the three matrices, part 3. */
	EXPECT_EQ(0, memcmp(b.data(), st.bytes.data() + part_at(IMG_ADJ_RGB2YUV, 3), 24));
}

TEST_F(AdjTranslate, PreConfigurationReplacesLocalExposureToneAndMatrix)
{
	img_adj_pre_config pre;
	uint8_t *raw = (uint8_t *)&pre;
	for (size_t i = 0; i < sizeof(pre); i++)
		raw[i] = (uint8_t)(i * 7 + 3);
	ASSERT_EQ(img_adj_set_pre_config(&pre), 0);
	State le = patterned(7), tone = patterned(IMG_ADJ_TONE), m = patterned(IMG_ADJ_RGB2YUV);
	CaptureStdout();
	std::vector<uint8_t> b = translate(le);
	EXPECT_EQ(GetCapturedStdout(), "adj_pre_config_flag LE\n");
	EXPECT_EQ(0, memcmp(b.data(), pre.local_exposure, 518));
	EXPECT_EQ(b[518], kUntouched);
	EXPECT_EQ(0, memcmp(translate(tone).data(), &pre.tone_curve, 1536));
	EXPECT_EQ(0, memcmp(translate(m).data(), &pre.rgb2yuv, 24));
	img_adj_clear_pre_config_flag();
	EXPECT_NE(0, memcmp(translate(tone).data(), &pre.tone_curve, 1536));
}

/* Tuning and settings at the ends of their ranges: every scaled field stays
 * inside its clamp, and nothing overflows (the sanitizer build watches). */
TEST_F(AdjTranslate, ExtremeValuesStayInsideTheirClamps)
{
	uint32_t sharp[12], nf[4];
	std::fill(sharp, sharp + 12, 0xffffffffu);
	std::fill(nf, nf + 4, 0xffffffffu);
	ASSERT_EQ(img_adj_set_sharpness_values(sharp, 1), 0);
	ASSERT_EQ(img_adj_set_nf_values(nf, 1), 0);
	const uint8_t ratio[1] = {255};
	ASSERT_EQ(img_adj_set_wb_ratio(ratio, ratio, 1), 0);
	const struct {
		uint32_t id;
		int at, width;
		uint32_t hi;
	} clamps[] = {{6, 2, 2, 8192},  {6, 14, 2, 256},   {15, 517, 1, 8},
	              {24, 10, 2, 256}, {24, 218, 1, 63},  {24, 237, 1, 63},
	              {39, 0, 1, 4},    {39, 506, 2, 256}, {35, 8, 2, 32}};
	for (int32_t extreme : {INT32_MAX, INT32_MIN, -1}) {
		for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++) {
			if (id == IMG_ADJ_CC)
				continue;
			State st = patterned(id);
			for (int k = 0;
			     k < 256 && sizeof(filter_state) + 4 * (size_t)(k + 1) <= part_at(id, 2); k++)
				set_value(st, k, extreme);
			std::vector<uint8_t> b = translate(st);
			for (const auto &c : clamps) {
				if (c.id != id)
					continue;
				uint32_t v = 0;
				memcpy(&v, &b[(size_t)c.at], (size_t)c.width);
				EXPECT_LE(v, c.hi)
				    << "filter " << id << " byte " << c.at << " value " << extreme;
			}
		}
	}
}

TEST_F(AdjTranslate, RefusalsLeaveTheBlockUntouched)
{
	State st = patterned(3);
	st.fs()->id = 4;
	std::vector<uint64_t> buf(2);
	memset(buf.data(), kUntouched, 16);
	CaptureStdout();
	EXPECT_EQ(img_adj_translaters[3](st.fs(), buf.data(), 0, nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "translate id 4 mismatch 3\n");
	st.fs()->id = 3;
	CaptureStdout();
	EXPECT_EQ(img_adj_translate(st.fs(), buf.data(), 2, nullptr), -1);
	EXPECT_EQ(img_adj_translate(st.fs(), buf.data(), -1, nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [2].\nerror: illegal channel id [-1].\n");
	EXPECT_EQ(img_adj_translaters[3](nullptr, buf.data(), 0, nullptr), -1);
	EXPECT_EQ(img_adj_translaters[3](st.fs(), nullptr, 0, nullptr), -1);
	EXPECT_EQ(buf[0], 0xa5a5a5a5a5a5a5a5u);
	EXPECT_EQ(buf[1], 0xa5a5a5a5a5a5a5a5u);
	EXPECT_EQ(img_adj_translaters[IMG_ADJ_CC], nullptr);
}

} // namespace
