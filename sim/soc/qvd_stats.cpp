// The video driver's 3A statistics: every tick of VIN 0 is a DSP frame of
// every VIN of the board. At the tick the model takes what the frame is
// made of (the scene, each source's exposure, gain and digital-gain ratio,
// and the white balance of each context's last applied configuration); the
// statistics themselves are worked out when a request first asks for that
// frame. Frames are made from the scene's cells, not pixel by pixel: every
// grid boundary falls on a whole quad, so each tile is a sum over the cells
// it covers.
//
// A VIN whose DSP merges two exposures measures the merged frame: each
// exposure white-balanced by its front-end gains and taken through its
// amplifier linearisation (both from the context's last applied HDR
// configuration; unity and the identity until one came), the long exposure
// wherever it is not clipped and the short one there, on the 14-bit scale
// the camera library linearises again. The pre-histograms stay those of
// each exposure's raw values.
#include "qvd.h"
#include "qvd_ioctl.h"
#include "scene.h"
#include "simsoc_internal.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace
{

constexpr unsigned kVins = SIMSOC_QVD_VINS;
constexpr unsigned kCells = SIMSOC_SCENE_CELLS;
constexpr unsigned kExpos = 4;
constexpr uint32_t kMax = 16383;
constexpr uint32_t kUnityWb = 0x10000;
constexpr unsigned kAeCols = 12, kAeRows = 8;
// The main part's white-balance gain section (color at 188, gains at 44).
constexpr uint32_t kRGainAt = 232, kGEvenGainAt = 236, kBGainAt = 244;
// Commands of an HDR configuration's first blend queue. Amplifier
// linearisation: the short exposure's table and header, then the long
// one's (the first copy of each table is read). Digital gain: the short
// exposure's front-end gains, then the long one's, each red, blue, green
// even, green odd (4096 = 1.0).
constexpr uint32_t kAmpLinearCmd = 0x09001003u, kDgainCmd = 0x09002019u;
constexpr uint32_t kCmdSlot = 128;
constexpr uint32_t kShortGainAt = 4, kLongGainAt = 20, kUnityFeGain = 4096;
constexpr uint32_t kAmpEnableAt = 4, kHdrEnableAt = 5, kAmpHeaderAt = 12, kHdrHeaderAt = 26;
constexpr uint32_t kAmpTableAt = 40, kHdrTableAt = 56;
// A packed table: 353 entries of 12 bits in eight groups, each group's
// values shifted right by the group's shift (3 bits a group in the header),
// the last entry as a 16-bit word at byte 528.
constexpr unsigned kKnots = 353;
constexpr uint32_t kPackedSize = 706, kLastEntryAt = 528;
constexpr unsigned kGroupFirst[9] = {0, 32, 64, 96, 128, 160, 224, 288, 352};

// What one VIN's frame is made of.
struct VinFrame {
	bool present;
	uint32_t width, height, exposures, line_time;
	uint32_t rows[kExpos];  // at least 1: no sensor exposes less than a row
	uint32_t index[kExpos]; // analogue + digital
	uint32_t ratio[4];      // r, gr, gb, b; 1024 = 1.0
	uint32_t wb[3];         // DSP white balance, 0x10000 = 1.0
	bool merged;            // the DSP merges exposures 0 and 1
	uint16_t lut[2][kKnots];
	uint32_t fe_gain[2][3]; // front-end white balance, 4096 = 1.0
};

struct FrameInputs {
	uint64_t frame;
	VinFrame vin[kVins];
	scene_frame scene;
};

// The statistics of one VIN as the DSP writes them.
struct VinStats {
	uint8_t rgb[QVD_STAT_RGB_SIZE];
	uint8_t cfa[QVD_STAT_CFA_SIZE];
	uint8_t prehist[QVD_STAT_PREHIST_SIZE];
	unsigned slices, exposures;
};

struct WbSlot {
	bool has;
	uint32_t gain[3];
};

// What an HDR configuration sets of the long (0) and short (1) exposure:
// amplifier linearisation and front-end gains, each when it came.
struct HdrSlot {
	bool has_lut, has_gain;
	uint16_t lut[2][kKnots];
	uint32_t gain[2][3];

	void take(const HdrSlot &o)
	{
		if (o.has_lut)
			memcpy(lut, o.lut, sizeof lut);
		if (o.has_gain)
			memcpy(gain, o.gain, sizeof gain);
		has_lut = has_lut || o.has_lut;
		has_gain = has_gain || o.has_gain;
	}
};

void neutral_hdr(HdrSlot *h);

struct Stats {
	std::mutex mu;
	std::condition_variable cv;
	uint64_t frames = 0, handed = 0;
	uint64_t ticks[kVins] = {};
	bool have = false, fetched = false, made = false, replay = false;
	int waiting = 0;
	unsigned slice_cols = 0; // 0: by VIN width
	FrameInputs in;
	VinStats out[kVins];
	WbSlot posted[kVins], armed[kVins];
	uint32_t applied[kVins][3];
	HdrSlot hdr_posted[kVins], hdr_armed[kVins], hdr_applied[kVins];

	void reset_locked()
	{
		frames = handed = 0;
		std::fill(ticks, ticks + kVins, 0);
		have = fetched = made = replay = false;
		slice_cols = 0;
		for (unsigned v = 0; v < kVins; v++) {
			posted[v] = armed[v] = WbSlot{false, {0, 0, 0}};
			std::fill(applied[v], applied[v] + 3, kUnityWb);
			hdr_posted[v].has_lut = hdr_posted[v].has_gain = false;
			hdr_armed[v] = hdr_posted[v];
			neutral_hdr(&hdr_applied[v]);
		}
	}
	Stats()
	{
		reset_locked();
	}
};

// The input level of each table entry, on the 16-bit scale of the tables.
uint32_t knot(unsigned i)
{
	if (i <= 64)
		return 16 * i;
	if (i <= 96)
		return 1024 + 32 * (i - 64);
	if (i <= 128)
		return 2048 + 64 * (i - 96);
	if (i <= 224)
		return 4096 + 128 * (i - 128);
	if (i <= 288)
		return 16384 + 256 * (i - 224);
	if (i <= 351)
		return 32768 + 512 * (i - 288);
	return 65535;
}

void identity_lut(uint16_t *lut)
{
	for (unsigned i = 0; i < kKnots; i++)
		lut[i] = (uint16_t)knot(i);
}

// Identity tables and unity gains, as nothing came yet.
void neutral_hdr(HdrSlot *h)
{
	h->has_lut = h->has_gain = false;
	identity_lut(h->lut[0]);
	identity_lut(h->lut[1]);
	std::fill(&h->gain[0][0], &h->gain[0][0] + 6, kUnityFeGain);
}

Stats &stats()
{
	static Stats *s = new Stats;
	return *s;
}

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, sizeof v);
	return v;
}

// ---- the frame at the tick ---------------------------------------------------

// The exposure a source has at this tick: what was pending becomes current
// now when the ticking VIN is fed by the same source.
void take_sensor(VinFrame *vf, const simsoc_qvd_sensor_state &st, bool ticking)
{
	bool use_pending = ticking && st.pending;
	for (unsigned e = 0; e < kExpos; e++) {
		uint32_t sh = use_pending ? st.pending_shutter[e] : st.shutter[e];
		uint32_t ag = use_pending ? st.pending_again[e] : st.again[e];
		uint32_t dg = use_pending ? st.pending_dgain[e] : st.dgain[e];
		vf->rows[e] = sh ? sh : 1;
		vf->index[e] = ag + dg;
	}
	memcpy(vf->ratio, st.ratio, sizeof vf->ratio);
}

void take_vin(VinFrame *vf, unsigned v, int32_t ticking_source)
{
	memset(vf, 0, sizeof *vf);
	simsoc_qvd_vin info;
	if (!qvd_board_vin(v, &info))
		return;
	int32_t source = info.source_id;
	simsoc_qvd_sensor_state st;
	if (simsoc_qvd_sensor(source, qvd_vin_frame_ctx(source, info.ctx_id), &st) != 0)
		return;
	vf->present = true;
	vf->width = info.width;
	vf->height = info.height;
	vf->exposures = info.exposures < 1 ? 1 : std::min<uint32_t>(info.exposures, kExpos);
	vf->line_time = info.line_time;
	vf->merged = info.dsp_hdr != 0 && vf->exposures >= 2;
	take_sensor(vf, st, source == ticking_source);
}

// Called under the tick lock, so one tick at a time.
void on_tick(unsigned vin)
{
	static FrameInputs staging;
	Stats &s = stats();
	if (vin != 0) {
		std::lock_guard<std::mutex> lk(s.mu);
		if (vin < kVins)
			s.ticks[vin]++;
		s.cv.notify_all();
		return;
	}
	uint64_t frame;
	{
		std::lock_guard<std::mutex> lk(s.mu);
		frame = s.frames + 1;
	}
	int32_t ticking = -1;
	qvd_board_source_of(0, &ticking);
	staging.frame = frame;
	for (unsigned v = 0; v < kVins; v++)
		take_vin(&staging.vin[v], v, ticking);
	scene_snapshot(frame, &staging.scene);
	std::lock_guard<std::mutex> lk(s.mu);
	for (unsigned v = 0; v < kVins; v++) {
		if (s.armed[v].has)
			memcpy(s.applied[v], s.armed[v].gain, sizeof s.applied[v]);
		s.armed[v].has = false;
		memcpy(staging.vin[v].wb, s.applied[v], sizeof staging.vin[v].wb);
		s.hdr_applied[v].take(s.hdr_armed[v]);
		s.hdr_armed[v].has_lut = s.hdr_armed[v].has_gain = false;
		memcpy(staging.vin[v].lut, s.hdr_applied[v].lut, sizeof staging.vin[v].lut);
		memcpy(staging.vin[v].fe_gain, s.hdr_applied[v].gain, sizeof staging.vin[v].fe_gain);
	}
	s.in = staging;
	s.frames = frame;
	s.ticks[0]++;
	s.have = true;
	s.fetched = s.made = false;
	s.cv.notify_all();
}

__attribute__((constructor)) void qvd_stats_register()
{
	simsoc_vin_add_tick_listener(on_tick);
}

// ---- working out a frame's statistics ---------------------------------------

enum { R, GR, GB, B };

// Raw values of one exposure per cell, and the geometry of the frame.
struct Plane {
	uint16_t v[kCells][kCells][4];
	uint32_t black;
	uint32_t xs[kCells + 1], ys[kCells + 1]; // cell bounds
};

void make_plane(Plane *p, const VinFrame &vf, const scene_frame &sc, unsigned e, uint64_t frame)
{
	p->black = sc.black;
	double line = vf.line_time / 512.0 * 1e-6; // the driver's unit is 1/512 us
	double seconds = vf.rows[e] * line;
	double start = (double)frame * line * vf.height;
	double light = scene_flicker_gain(&sc, start, seconds);
	double common = vf.rows[e] / 1000.0 * pow(10.0, vf.index[e] * 0.09375 / 20.0) * light;
	double g[4];
	for (unsigned c = 0; c < 4; c++)
		g[c] = common * vf.ratio[c] / 1024.0;
	for (unsigned r = 0; r < kCells; r++) {
		for (unsigned c = 0; c < kCells; c++) {
			double k[4] = {sc.k_r[r][c], 1, 1, sc.k_b[r][c]};
			for (unsigned q = 0; q < 4; q++) {
				double val = sc.black + (double)sc.bright[r][c] * k[q] * g[q];
				p->v[r][c][q] = (uint16_t)std::min<double>(kMax, floor(val + 0.5));
			}
		}
	}
	uint32_t cw = std::max<uint32_t>(2, (vf.width / kCells) & ~1u);
	uint32_t ch = std::max<uint32_t>(2, (vf.height / kCells) & ~1u);
	for (unsigned i = 0; i < kCells; i++) {
		p->xs[i] = std::min(i * cw, vf.width);
		p->ys[i] = std::min(i * ch, vf.height);
	}
	p->xs[kCells] = vf.width;
	p->ys[kCells] = vf.height;
}

struct Rect {
	uint32_t x0, y0, x1, y1;
};

// Calls fn(row, col, quads) for every cell the rectangle covers.
template <typename Fn> void for_cells(const Plane &p, const Rect &r, Fn fn)
{
	for (unsigned j = 0; j < kCells; j++) {
		uint32_t oy0 = std::max(r.y0, p.ys[j]), oy1 = std::min(r.y1, p.ys[j + 1]);
		if (oy1 <= oy0)
			continue;
		for (unsigned i = 0; i < kCells; i++) {
			uint32_t ox0 = std::max(r.x0, p.xs[i]), ox1 = std::min(r.x1, p.xs[i + 1]);
			if (ox1 > ox0)
				fn(j, i, (uint64_t)((ox1 - ox0) / 2) * ((oy1 - oy0) / 2));
		}
	}
}

bool under(const Plane &p, uint32_t v)
{
	return v <= p.black;
}

bool over(uint32_t v)
{
	return v >= kMax;
}

// Sums of one tile, in pixels.
struct TileSums {
	uint64_t r, g, b, all, valid_sum, under, over;
};

TileSums tile_sums(const Plane &p, const Rect &rect)
{
	TileSums t{};
	for_cells(p, rect, [&](unsigned j, unsigned i, uint64_t q) {
		const uint16_t *v = p.v[j][i];
		for (unsigned c = 0; c < 4; c++) {
			t.all += q * v[c];
			if (under(p, v[c])) {
				t.under += q;
				continue;
			}
			if (over(v[c])) {
				t.over += q;
				continue;
			}
			t.valid_sum += q * v[c];
			if (c == R)
				t.r += q * v[c];
			else if (c == B)
				t.b += q * v[c];
			else
				t.g += q * v[c];
		}
	});
	t.g /= 2; // the two greens' mean per quad
	return t;
}

// The smallest shift that keeps the largest sum, rounded, within 16 bits.
uint8_t shift_for(uint64_t largest)
{
	uint8_t s = 0;
	while (((largest + (s ? 1ull << (s - 1) : 0)) >> s) > 0xFFFF)
		s++;
	return s;
}

uint16_t shifted(uint64_t v, uint8_t s)
{
	return (uint16_t)((v + (s ? 1ull << (s - 1) : 0)) >> s);
}

uint16_t count16(uint64_t v)
{
	return (uint16_t)std::min<uint64_t>(v, 0xFFFF);
}

// The DSP's processed colour of a cell: black off, white balance applied.
void processed(const Plane &p, const uint32_t wb[3], unsigned j, unsigned i, uint32_t out[4])
{
	const uint16_t *v = p.v[j][i];
	uint32_t raw[3] = {v[R], (uint32_t)(v[GR] + v[GB]) / 2, v[B]};
	for (unsigned c = 0; c < 3; c++) {
		uint64_t lin = raw[c] > p.black ? raw[c] - p.black : 0;
		out[c] = (uint32_t)std::min<uint64_t>(kMax, (lin * wb[c]) >> 16);
	}
	out[3] = (out[0] + 2 * out[1] + out[2]) / 4;
}

uint32_t bin64(uint32_t v)
{
	return std::min<uint32_t>(v >> 8, QVD_STAT_HIST_BINS - 1);
}

// How the frame is cut into slices and gridded.
struct Layout {
	unsigned slices;
	uint32_t cw, ch, aw, ah;
	uint8_t sub; // exposure and focus tiles count every sub-th pixel each way
};

Layout layout_of(const VinFrame &vf, const Plane &p, unsigned slice_cols)
{
	Layout l;
	l.slices = slice_cols ? slice_cols : vf.width <= 1920 ? 1 : vf.width <= 3840 ? 2 : 3;
	l.cw = p.xs[1] - p.xs[0];
	l.ch = p.ys[1] - p.ys[0];
	l.aw = std::max<uint32_t>(2, (vf.width / kAeCols) & ~1u);
	l.ah = std::max<uint32_t>(2, (vf.height / kAeRows) & ~1u);
	l.sub = 1;
	while ((uint64_t)(l.aw / l.sub) * (l.ah / l.sub) > 0xFFFF)
		l.sub++;
	return l;
}

// Tile columns of slice s when n slices share total columns.
void slice_cols(unsigned total, unsigned n, unsigned s, unsigned *first, unsigned *count)
{
	*first = s * total / n;
	*count = (s + 1) * total / n - *first;
}

void fill_header(qvd_stat_header *h, const Layout &l, unsigned s, unsigned chan, uint64_t frame,
                 uint32_t black)
{
	memset(h, 0, sizeof *h);
	h->frame = (uint32_t)frame;
	unsigned first, count;
	slice_cols(kCells, l.slices, s, &first, &count);
	h->awb = qvd_stat_grid{
	    (uint16_t)count, (uint16_t)kCells, (uint16_t)(first * l.cw), 0, (uint16_t)l.cw, (uint16_t)l.ch, 0,
	    {0, 0, 0}};
	slice_cols(kAeCols, l.slices, s, &first, &count);
	h->ae = qvd_stat_grid{(uint16_t)count,
	                      (uint16_t)kAeRows,
	                      (uint16_t)(first * l.aw),
	                      0,
	                      (uint16_t)(l.aw / l.sub),
	                      (uint16_t)(l.ah / l.sub),
	                      0,
	                      {0, 0, 0}};
	h->af = h->ae;
	h->slice_col = (uint8_t)s;
	h->slice_cols = (uint8_t)l.slices;
	h->slice_rows = 1;
	uint32_t word = black ? black : QVD_STAT_BLACK_NONE;
	h->black_red = h->black_green = h->black_blue = word;
	h->chan = QVD_STAT_CHAN_BYTE(chan);
}

Rect ae_rect(const Layout &l, unsigned col, unsigned row)
{
	return Rect{col * l.aw, row * l.ah, (col + 1) * l.aw, (row + 1) * l.ah};
}

uint64_t per_sub(uint64_t v, const Layout &l)
{
	uint64_t d = (uint64_t)l.sub * l.sub;
	return (v + d / 2) / d;
}

void make_cfa_slice(qvd_cfa_slice *sl, const Plane &p, const Layout &l, unsigned s, unsigned chan,
                    const FrameInputs &in)
{
	fill_header(&sl->header, l, s, chan, in.frame, p.black);
	qvd_stat_header &h = sl->header;
	TileSums awb[QVD_STAT_AWB_TILES];
	uint64_t largest = 0;
	for (unsigned j = 0; j < h.awb.num_row; j++) {
		for (unsigned i = 0; i < h.awb.num_col; i++) {
			uint32_t x = h.awb.col_start + i * l.cw, y = j * l.ch;
			TileSums &t = awb[j * h.awb.num_col + i] =
			    tile_sums(p, Rect{x, y, x + l.cw, y + l.ch});
			largest = std::max({largest, t.r, t.g, t.b});
		}
	}
	h.awb.shift = shift_for(largest);
	for (unsigned k = 0; k < (unsigned)h.awb.num_col * h.awb.num_row; k++)
		sl->awb[k] =
		    qvd_awb_tile{shifted(awb[k].r, h.awb.shift), shifted(awb[k].g, h.awb.shift),
		                 shifted(awb[k].b, h.awb.shift), count16(awb[k].under), count16(awb[k].over)};
	TileSums ae[QVD_STAT_AE_TILES];
	uint64_t ae_largest = 0, af_largest = 0;
	unsigned first = h.ae.col_start / l.aw;
	for (unsigned j = 0; j < kAeRows; j++) {
		for (unsigned i = 0; i < h.ae.num_col; i++) {
			TileSums &t = ae[j * h.ae.num_col + i] = tile_sums(p, ae_rect(l, first + i, j));
			t.valid_sum = per_sub(t.valid_sum, l);
			t.all = per_sub(t.all, l);
			ae_largest = std::max(ae_largest, t.valid_sum);
			af_largest = std::max(af_largest, t.all);
		}
	}
	h.ae.shift = shift_for(ae_largest);
	h.af.shift = shift_for(af_largest);
	for (unsigned k = 0; k < (unsigned)h.ae.num_col * kAeRows; k++) {
		sl->ae[k] = qvd_ae_tile{shifted(ae[k].valid_sum, h.ae.shift),
		                        count16(per_sub(ae[k].under, l)), count16(per_sub(ae[k].over, l))};
		sl->af[k] = qvd_af_tile{shifted(ae[k].all, h.af.shift), in.scene.fv1, in.scene.fv2};
	}
	Rect area{h.ae.col_start, 0, h.ae.col_start + h.ae.num_col * l.aw, kAeRows * l.ah};
	for_cells(p, area, [&](unsigned j, unsigned i, uint64_t q) {
		const uint16_t *v = p.v[j][i];
		sl->hist.bin[0][bin64(v[R])] += (uint32_t)q;
		sl->hist.bin[1][bin64(v[GR])] += (uint32_t)q;
		sl->hist.bin[1][bin64(v[GB])] += (uint32_t)q;
		sl->hist.bin[2][bin64(v[B])] += (uint32_t)q;
		sl->hist.bin[3][bin64((v[R] + v[GR] + v[GB] + v[B]) / 4)] += (uint32_t)(4 * q);
	});
}

void make_rgb_slice(qvd_rgb_slice *sl, const Plane &p, const Layout &l, unsigned s, unsigned chan,
                    const FrameInputs &in, const uint32_t wb[3])
{
	fill_header(&sl->header, l, s, chan, in.frame, p.black);
	qvd_stat_header &h = sl->header;
	uint64_t sums[QVD_STAT_AE_TILES];
	uint64_t largest = 0;
	unsigned first = h.ae.col_start / l.aw;
	for (unsigned j = 0; j < kAeRows; j++) {
		for (unsigned i = 0; i < h.ae.num_col; i++) {
			uint64_t sum = 0;
			for_cells(p, ae_rect(l, first + i, j), [&](unsigned cj, unsigned ci, uint64_t q) {
				uint32_t px[4];
				processed(p, wb, cj, ci, px);
				sum += 4 * q * px[3];
			});
			sums[j * h.ae.num_col + i] = per_sub(sum, l);
			largest = std::max(largest, sums[j * h.ae.num_col + i]);
		}
	}
	h.ae.shift = h.af.shift = shift_for(largest);
	for (unsigned k = 0; k < (unsigned)h.ae.num_col * kAeRows; k++) {
		sl->ae_sum[k] = shifted(sums[k], h.ae.shift);
		sl->af[k] = qvd_af_tile{sl->ae_sum[k], in.scene.fv1, in.scene.fv2};
	}
	if (!in.scene.rgb_hist)
		return;
	Rect area{h.ae.col_start, 0, h.ae.col_start + h.ae.num_col * l.aw, kAeRows * l.ah};
	for_cells(p, area, [&](unsigned j, unsigned i, uint64_t q) {
		uint32_t px[4];
		processed(p, wb, j, i, px);
		for (unsigned c = 0; c < 4; c++)
			sl->hist.bin[c][bin64(px[c])] += (uint32_t)(4 * q);
	});
}

void make_prehist(uint8_t *rec, const Plane &p, const Layout &l, unsigned e, unsigned chan, uint64_t frame)
{
	qvd_prehist_header *h = (qvd_prehist_header *)rec;
	memset(rec, 0, QVD_PREHIST_RECORD_SIZE);
	h->frame_low = (uint8_t)frame;
	h->chan = (uint8_t)chan;
	h->exposure = (uint8_t)e;
	h->slices = (uint8_t)l.slices;
	qvd_prehist_slice *sl = (qvd_prehist_slice *)(rec + sizeof *h);
	for (unsigned s = 0; s < l.slices; s++) {
		unsigned first, count;
		slice_cols(kAeCols, l.slices, s, &first, &count);
		Rect area{first * l.aw, 0, (first + count) * l.aw, kAeRows * l.ah};
		for_cells(p, area, [&](unsigned j, unsigned i, uint64_t q) {
			const uint16_t *v = p.v[j][i];
			sl[s].bin[0][v[R] >> 7] += (uint32_t)q;
			sl[s].bin[1][v[GR] >> 7] += (uint32_t)q;
			sl[s].bin[1][v[GB] >> 7] += (uint32_t)q;
			sl[s].bin[2][v[B] >> 7] += (uint32_t)q;
		});
	}
}

// A table's value at a 16-bit input level, between its entries on a line.
uint32_t lut_at(const uint16_t *lut, uint32_t x)
{
	unsigned lo = 0, hi = kKnots - 1;
	while (hi - lo > 1) {
		unsigned mid = (lo + hi) / 2;
		if (knot(mid) <= x)
			lo = mid;
		else
			hi = mid;
	}
	int64_t x0 = knot(lo), x1 = knot(hi), y0 = lut[lo], y1 = lut[hi];
	int64_t y = x >= (uint32_t)x1 ? y1 : y0 + (y1 - y0) * ((int64_t)x - x0) / (x1 - x0);
	return (uint32_t)std::min<int64_t>(65535, std::max<int64_t>(0, y));
}

// The merged frame into the long exposure's plane: black off, white balance
// on, each exposure through its table, the long one unless it clipped.
void merge_planes(Plane *longp, const Plane &shortp, const VinFrame &vf)
{
	for (unsigned r = 0; r < kCells; r++) {
		for (unsigned c = 0; c < kCells; c++) {
			for (unsigned q = 0; q < 4; q++) {
				unsigned e = over(longp->v[r][c][q]) ? 1 : 0;
				const Plane &src = e ? shortp : *longp;
				uint32_t raw = src.v[r][c][q];
				uint64_t lin = raw > src.black ? raw - src.black : 0;
				uint32_t wb = vf.fe_gain[e][q == R ? 0 : q == B ? 2 : 1];
				uint64_t x = std::min<uint64_t>(65535, ((lin * wb) >> 12) * 4);
				longp->v[r][c][q] =
				    (uint16_t)std::min<uint32_t>(kMax, lut_at(vf.lut[e], (uint32_t)x) >> 2);
			}
		}
	}
	longp->black = 0;
}

void make_vin(Stats &s, unsigned v)
{
	static Plane plane, short_plane;
	const FrameInputs &in = s.in;
	const VinFrame &vf = in.vin[v];
	VinStats &out = s.out[v];
	memset(out.rgb, 0, sizeof out.rgb);
	memset(out.cfa, 0, sizeof out.cfa);
	out.exposures = vf.exposures;
	for (unsigned e = vf.exposures; e-- > 0;) {
		make_plane(&plane, vf, in.scene, e, in.frame);
		Layout l = layout_of(vf, plane, s.slice_cols);
		out.slices = l.slices;
		make_prehist(out.prehist + e * QVD_PREHIST_RECORD_SIZE, plane, l, e, v, in.frame);
		if (e == 1 && vf.merged)
			short_plane = plane;
		if (e != 0)
			continue;
		if (vf.merged)
			merge_planes(&plane, short_plane, vf);
		for (unsigned sl = 0; sl < l.slices; sl++) {
			make_cfa_slice((qvd_cfa_slice *)out.cfa + sl, plane, l, sl, v, in);
			make_rgb_slice((qvd_rgb_slice *)out.rgb + sl, plane, l, sl, v, in, vf.wb);
		}
	}
}

// ---- the requests --------------------------------------------------------------

void make_frame(Stats &s)
{
	if (s.made)
		return;
	for (unsigned v = 0; v < kVins; v++)
		if (s.in.vin[v].present)
			make_vin(s, v);
	s.made = true;
}

void copy_out(Stats &s, const qvd_img_statistics &req)
{
	make_frame(s);
	for (unsigned v = 0; v < kVins; v++) {
		const VinStats &o = s.out[v];
		bool present = s.in.vin[v].present;
		uint8_t *flags[4] = {req.rgb_valid, req.cfa_valid, req.hist_valid, req.prehist_valid};
		uint8_t set[4] = {present, present, 0, present};
		for (unsigned k = 0; k < 4; k++)
			if (flags[k])
				flags[k][v] = set[k];
		if (!present)
			continue;
		if (req.rgb_data)
			memcpy((uint8_t *)req.rgb_data + v * QVD_STAT_RGB_SIZE, o.rgb,
			       o.slices * sizeof(qvd_rgb_slice));
		if (req.cfa_data)
			memcpy((uint8_t *)req.cfa_data + v * QVD_STAT_CFA_SIZE, o.cfa,
			       o.slices * sizeof(qvd_cfa_slice));
		if (req.prehist_data)
			memcpy((uint8_t *)req.prehist_data + v * QVD_STAT_PREHIST_SIZE, o.prehist,
			       o.exposures * QVD_PREHIST_RECORD_SIZE);
	}
	s.fetched = true;
	s.handed++;
}

bool nonblocking(simsoc_file *f)
{
	return (simsoc_file_status_flags(f) & O_NONBLOCK) != 0;
}

// Waits, with the lock held, until ready() holds; false when the file does
// not block.
bool video_runs()
{
	for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++)
		if (simsoc_video_running(v))
			return true;
	return false;
}

// A wait for a frame while no video runs gives up after this long, as the
// driver's does, so that a reader never hangs on a stopped DSP.
constexpr auto kIdleWait = std::chrono::seconds(2);
constexpr auto kRecheck = std::chrono::milliseconds(50);

// false when the wait failed: non-blocking, or no video for kIdleWait.
template <typename Fn> bool wait_for(Stats &s, std::unique_lock<std::mutex> &lk, bool nonblock, Fn ready)
{
	if (ready())
		return true;
	if (nonblock)
		return false;
	s.waiting++;
	auto idle_since = std::chrono::steady_clock::now();
	bool ok = true;
	while (!s.cv.wait_for(lk, kRecheck, ready)) {
		auto now = std::chrono::steady_clock::now();
		if (video_runs())
			idle_since = now;
		else if (now - idle_since >= kIdleWait) {
			ok = false;
			break;
		}
	}
	s.waiting--;
	return ok;
}

int serve(simsoc_file *f, void *arg, bool latest)
{
	qvd_img_statistics req;
	memcpy(&req, arg, sizeof req);
	bool nonblock = nonblocking(f);
	Stats &s = stats();
	std::unique_lock<std::mutex> lk(s.mu);
	bool ok = wait_for(s, lk, nonblock, [&] { return s.have && (latest || s.replay || !s.fetched); });
	if (!ok)
		return nonblock ? -EAGAIN : -ETIMEDOUT;
	copy_out(s, req);
	return 0;
}

} // namespace

int qvd_get_statistics(simsoc_file *f, void *arg)
{
	return serve(f, arg, false);
}

int qvd_get_latest_statistics(simsoc_file *f, void *arg)
{
	return serve(f, arg, true);
}

int qvd_wait_next_idsp_frame(simsoc_file *f, void *arg)
{
	uint32_t mask = (uint32_t)(uintptr_t)arg;
	bool nonblock = nonblocking(f);
	Stats &s = stats();
	std::unique_lock<std::mutex> lk(s.mu);
	uint64_t seen[kVins];
	memcpy(seen, s.ticks, sizeof seen);
	auto ticked = [&] {
		for (unsigned v = 0; v < kVins; v++)
			if ((mask >> v & 1) && s.ticks[v] != seen[v])
				return true;
		return false;
	};
	// Mask 0 waits for the next frame of any VIN.
	if (mask == 0)
		mask = (1u << kVins) - 1;
	if (!(mask & ((1u << kVins) - 1)))
		return -EINVAL;
	if (nonblock)
		return -EAGAIN;
	return wait_for(s, lk, false, ticked) ? 0 : -ETIMEDOUT;
}

int qvd_apply_vin_idsp_pending_cfg(simsoc_file *, void *arg)
{
	qvd_apply_pending rec;
	memcpy(&rec, arg, sizeof rec);
	if (rec.cmd != QVD_APPLY_PENDING_CMD)
		return -EINVAL;
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	for (unsigned v = 0; v < kVins; v++) {
		if (!(rec.vin_mask >> v & 1) || !s.posted[v].has)
			continue;
		s.armed[v] = s.posted[v];
		s.posted[v].has = false;
	}
	for (unsigned v = 0; v < kVins; v++) {
		if (!(rec.vin_mask >> v & 1))
			continue;
		s.hdr_armed[v].take(s.hdr_posted[v]);
		s.hdr_posted[v].has_lut = s.hdr_posted[v].has_gain = false;
	}
	return 0;
}

namespace
{

// One packed table in device memory; false when it is not there.
bool unpack_table(uint32_t phys, const uint8_t *header, uint16_t *out)
{
	const uint8_t *t = (const uint8_t *)simsoc_mem_virt(phys);
	if (!t || !simsoc_mem_virt(phys + kPackedSize - 1))
		return false;
	unsigned shift[8];
	for (unsigned g = 0; g < 8; g++) {
		uint16_t w;
		memcpy(&w, header + 2 * (g / 5), 2);
		shift[g] = (w >> (3 * (g % 5))) & 7u;
	}
	unsigned g = 0;
	for (unsigned i = 0; i + 1 < kKnots; i++) {
		while (i >= kGroupFirst[g + 1])
			g++;
		unsigned bit = 12 * i;
		uint32_t v = ((uint32_t)t[bit / 8] | (uint32_t)t[bit / 8 + 1] << 8) >> (bit & 7) & 0xFFFu;
		out[i] = (uint16_t)std::min<uint32_t>(65535, v << shift[g]);
	}
	uint16_t last;
	memcpy(&last, t + kLastEntryAt, 2);
	out[kKnots - 1] = (uint16_t)std::min<uint32_t>(65535, (uint32_t)last << shift[7]);
	return true;
}

// Red, green (even), blue of one exposure's red, blue, green-even words.
void take_gains(const uint8_t *words, uint32_t *out)
{
	out[0] = rd32(words);
	out[1] = rd32(words + 8);
	out[2] = rd32(words + 4);
}

// The first blend queue's linearisation and digital-gain commands, each
// when the post carries it; a disabled table passes its values unchanged,
// and a table not in device memory leaves the tables as they were.
void take_hdr(const simsoc_qvd_post_rec *p, HdrSlot *out)
{
	neutral_hdr(out);
	for (uint32_t at = 0; at + kCmdSlot <= p->queue_size[0]; at += kCmdSlot) {
		const uint8_t *cmd = p->queue[0] + at;
		if (rd32(cmd) == kDgainCmd) {
			take_gains(cmd + kLongGainAt, out->gain[0]);
			take_gains(cmd + kShortGainAt, out->gain[1]);
			out->has_gain = true;
		} else if (rd32(cmd) == kAmpLinearCmd) {
			bool ok = (!cmd[kHdrEnableAt] ||
			           unpack_table(rd32(cmd + kHdrTableAt), cmd + kHdrHeaderAt, out->lut[0])) &&
			          (!cmd[kAmpEnableAt] ||
			           unpack_table(rd32(cmd + kAmpTableAt), cmd + kAmpHeaderAt, out->lut[1]));
			out->has_lut = ok;
		}
	}
}

} // namespace

void qvd_stats_posted(const simsoc_qvd_post_rec *p)
{
	if (p->ctx_id >= kVins)
		return;
	if (p->kind == QVD_CFG_KIND_HDR) {
		static HdrSlot h;
		Stats &s = stats();
		std::lock_guard<std::mutex> lk(s.mu);
		take_hdr(p, &h);
		s.hdr_posted[p->ctx_id].take(h);
		return;
	}
	if (p->kind != QVD_CFG_KIND_MAIN || p->part_size < kBGainAt + 4)
		return;
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	WbSlot &w = s.posted[p->ctx_id];
	w.has = true;
	w.gain[0] = rd32(p->part + kRGainAt);
	w.gain[1] = rd32(p->part + kGEvenGainAt);
	w.gain[2] = rd32(p->part + kBGainAt);
}

void qvd_stats_reset(void)
{
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	s.reset_locked();
	s.cv.notify_all();
}

extern "C" void simsoc_qvd_replay(int on)
{
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	s.replay = on != 0;
	s.cv.notify_all();
}

extern "C" void simsoc_qvd_make_frame(void)
{
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	if (s.have)
		make_frame(s);
}

extern "C" int simsoc_qvd_stat_waiting(void)
{
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	return s.waiting;
}

extern "C" uint64_t simsoc_qvd_stat_handed(void)
{
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	return s.handed;
}

extern "C" int simsoc_qvd_merged_gains(unsigned vin, uint32_t out[2][3])
{
	if (vin >= kVins || !out)
		return -1;
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	memcpy(out, s.in.vin[vin].fe_gain, sizeof s.in.vin[vin].fe_gain);
	return 0;
}

extern "C" int simsoc_qvd_set_stat_slices(unsigned columns)
{
	if (columns > 3)
		return -1;
	Stats &s = stats();
	std::lock_guard<std::mutex> lk(s.mu);
	s.slice_cols = columns;
	s.made = false;
	return 0;
}
