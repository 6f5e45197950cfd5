// White-balance tunings and parse results built for the tests: zones as
// boxes or as bands around a stretch of the locus, tiles whose gains come
// out exactly as asked, and the 3A configuration blocks the store takes.
#ifndef TESTS_CAMLIB_AWB_FIXTURE_H
#define TESTS_CAMLIB_AWB_FIXTURE_H

#include "aaa_parser.h"
#include "awb.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

// A point in the (red gain, blue gain) plane.
struct GainPoint {
	int32_t r, b;
};

inline bool operator==(GainPoint a, GainPoint b)
{
	return a.r == b.r && a.b == b.b;
}

inline bool operator!=(GainPoint a, GainPoint b)
{
	return !(a == b);
}

// How far apart two points are: the red and the blue distance added.
inline uint32_t absdiff(GainPoint a, GainPoint b)
{
	return (uint32_t)(abs(a.r - b.r) + abs(a.b - b.b));
}

inline std::ostream &operator<<(std::ostream &os, GainPoint g)
{
	return os << "(" << g.r << ", " << g.b << ")";
}

// A line that every pair satisfies: b >= -32768 or b <= 32767.
inline void open_lines(awb_zone *z)
{
	for (int k = 0; k < 4; k++) {
		z->line[k].slope = 0;
		z->line[k].offset = k % 2 ? INT16_MAX : INT16_MIN;
	}
}

inline awb_zone box_zone(int16_t r_min, int16_t r_max, int16_t b_min, int16_t b_max, int16_t weight)
{
	awb_zone z{};
	z.r_min = r_min;
	z.r_max = r_max;
	z.b_min = b_min;
	z.b_max = b_max;
	open_lines(&z);
	z.weight = weight;
	return z;
}

// The stretch of the locus from p to q: their box widened by margin, and a
// band of half-width band around the line through them.
inline awb_zone segment_zone(GainPoint p, GainPoint q, int margin, int band, int16_t weight)
{
	awb_zone z =
	    box_zone((int16_t)(std::min(p.r, q.r) - margin), (int16_t)(std::max(p.r, q.r) + margin),
	             (int16_t)(std::min(p.b, q.b) - margin), (int16_t)(std::max(p.b, q.b) + margin), weight);
	int32_t slope = (q.b - p.b) * 1024 / (q.r - p.r);
	int32_t offset = p.b - p.r * slope / 1024;
	z.line[0] = {(int16_t)slope, (int16_t)(offset - band)};
	z.line[1] = {(int16_t)slope, (int16_t)(offset + band)};
	return z;
}

inline void set_preset(awb_tuning *t, int i, GainPoint g)
{
	t->preset[i][0] = (uint32_t)g.r;
	t->preset[i][1] = 1024;
	t->preset[i][2] = (uint32_t)g.b;
}

// Every environment searches the same range.
inline void set_all_envs(awb_tuning *t, uint8_t first, uint8_t count)
{
	for (auto &e : t->env) {
		e[0] = first;
		e[1] = count;
	}
}

// 3A configuration blocks of four channels with the same AWB part.
struct TuningBlocks {
	std::vector<uint8_t> bytes = std::vector<uint8_t>(4 * AWB_TUNING_STRIDE);
	explicit TuningBlocks(const awb_tuning &t)
	{
		for (int c = 0; c < 4; c++)
			memcpy(bytes.data() + c * AWB_TUNING_STRIDE, &t, sizeof t);
	}
	const void *data() const
	{
		return bytes.data();
	}
};

// A tile whose gains (G << 10) / R and (G << 10) / B are exactly rt and bt.
inline aaa_awb_tile tile_for(uint32_t rt, uint32_t bt, uint32_t luma = 32)
{
	return aaa_awb_tile{bt * 1024, rt * bt, rt * 1024, luma, {0, 0, 0}};
}

// Parse results of four channels, every one valid with 1024 tiles of one
// kind unless a test paints others.
struct ParseOut {
	std::unique_ptr<aaa_parse_out> p = std::make_unique<aaa_parse_out>();
	ParseOut()
	{
		memset(p.get(), 0, sizeof *p);
		for (int c = 0; c < 4; c++) {
			p->chan[c].awb_tiles = AWB_TILES;
			p->valid[c] = 1;
		}
	}
	aaa_parse_result &chan(int c = 0)
	{
		return p->chan[c];
	}
	void fill(const aaa_awb_tile &t, int c = 0)
	{
		std::fill(std::begin(p->chan[c].set.awb), std::end(p->chan[c].set.awb), t);
	}
};

#endif
