// The scene the simulated sensors look at: 32 x 32 cells of brightness and
// reflectance under one illuminant, brightness steps at given frames, a
// flickering light and a focus curve. The video driver model takes a
// snapshot of it for every frame (scene.h).
#include "scene.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace
{

constexpr unsigned kCells = SIMSOC_SCENE_CELLS;
constexpr double kDefaultBrightness = 2048.0;
// The focus filters' value at the curve's peak.
constexpr double kFvPeak = 60000.0;

// A grey surface's raw colour by colour temperature: warm light is red and
// short of blue on a raw sensor, daylight the other way round.
struct Illuminant {
	double kelvin, r_over_g, b_over_g;
};
constexpr Illuminant kIlluminants[] = {
    {2800, 0.80, 0.36}, {3500, 0.68, 0.45}, {4200, 0.60, 0.53},
    {5000, 0.54, 0.60}, {6500, 0.47, 0.70}, {7500, 0.43, 0.76},
};

struct Step {
	uint64_t frame;
	double factor;
};

struct Cell {
	double bright, r_over_g, b_over_g;
};

// One entry of a schedule: what changes at that frame (NAN: unchanged).
struct Planned {
	uint64_t frame;
	double uniform = NAN, kelvin = NAN, factor = NAN;
	double hl_share = NAN, hl_bright = NAN;
};

bool usable(double v)
{
	return v >= 0 && isfinite(v);
}

bool lookup_illuminant(double kelvin, double *r, double *b);

bool highlights_usable(double share, double brightness)
{
	return share >= 0 && share <= 1 && usable(brightness);
}

bool parse_number(const std::string &text, double *out)
{
	if (text.empty())
		return false;
	char *end = nullptr;
	errno = 0;
	*out = strtod(text.c_str(), &end);
	return errno == 0 && *end == '\0' && isfinite(*out);
}

bool parse_frame(const std::string &text, uint64_t *out)
{
	if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
		return false;
	errno = 0;
	*out = strtoull(text.c_str(), nullptr, 10);
	return errno == 0;
}

std::vector<std::string> split(const std::string &text, char sep)
{
	std::vector<std::string> parts;
	size_t from = 0;
	for (;;) {
		size_t at = text.find(sep, from);
		parts.push_back(text.substr(from, at == std::string::npos ? at : at - from));
		if (at == std::string::npos)
			return parts;
		from = at + 1;
	}
}

// "highlights=SHARE@B" into the entry; the reason when it is bad.
std::string parse_highlights(const std::string &action, size_t eq, Planned *p)
{
	size_t at = action.find('@');
	double share, bright;
	if (eq == std::string::npos || at == std::string::npos || at < eq ||
	    !parse_number(action.substr(eq + 1, at - eq - 1), &share) ||
	    !parse_number(action.substr(at + 1), &bright))
		return "\"" + action + "\" is not highlights=share@brightness";
	if (!highlights_usable(share, bright))
		return "\"" + action + "\" is out of range";
	p->hl_share = share;
	p->hl_bright = bright;
	return "";
}

// One "name=value" of an entry into the entry; the reason when it is bad.
std::string parse_action(const std::string &action, Planned *p)
{
	size_t eq = action.find('=');
	std::string name = action.substr(0, eq);
	if (name == "highlights")
		return parse_highlights(action, eq, p);
	double v;
	if (eq == std::string::npos || !parse_number(action.substr(eq + 1), &v))
		return "\"" + action + "\" is not name=number";
	double r, b;
	if (name == "uniform" && usable(v))
		p->uniform = v;
	else if (name == "ct" && (v == 0 || lookup_illuminant(v, &r, &b)))
		p->kelvin = v;
	else if (name == "step" && v > 0)
		p->factor = v;
	else if (name == "uniform" || name == "ct" || name == "step")
		return "\"" + action + "\" is out of range";
	else
		return "unknown action \"" + name + "\"";
	return "";
}

// The schedule a text gives, sorted by frame; the reason when it is bad.
std::string parse_schedule(const std::string &text, std::vector<Planned> *out)
{
	out->clear();
	if (text.empty())
		return "";
	for (const std::string &entry : split(text, ';')) {
		size_t colon = entry.find(':');
		Planned p;
		if (colon == std::string::npos || !parse_frame(entry.substr(0, colon), &p.frame))
			return "entry \"" + entry + "\" does not start with a frame number and ':'";
		for (const std::string &action : split(entry.substr(colon + 1), ',')) {
			std::string why = parse_action(action, &p);
			if (!why.empty())
				return "entry \"" + entry + "\": " + why;
		}
		out->push_back(p);
	}
	std::stable_sort(out->begin(), out->end(),
	                 [](const Planned &a, const Planned &b) { return a.frame < b.frame; });
	return "";
}

struct Scene {
	std::mutex mu;
	Cell cell[kCells][kCells];
	double illum_r = 1, illum_b = 1;
	std::vector<Step> steps;
	double flicker_hz = 0, flicker_depth = 0;
	uint16_t black = 0;
	bool curve = false;
	int32_t peak = 0;
	double width1 = 1, width2 = 1;
	uint16_t floor = 0;
	int32_t focus = 0;
	bool rgb_hist = true;
	std::vector<Planned> plan;
	size_t planned_next = 0; // the first entry not applied yet

	Scene()
	{
		reset();
	}
	void reset()
	{
		for (auto &row : cell)
			for (Cell &c : row)
				c = Cell{kDefaultBrightness, 1, 1};
		illum_r = illum_b = 1;
		steps.clear();
		flicker_hz = flicker_depth = 0;
		black = 0;
		curve = false;
		peak = 0;
		width1 = width2 = 1;
		floor = 0;
		focus = 0;
		const char *env = getenv("SIMSOC_SCENE_RGB_HIST");
		rgb_hist = !(env && !strcmp(env, "0"));
		planned_next = 0;
		const char *text = getenv("SIMSOC_SCENE_SCHEDULE");
		std::string why = parse_schedule(text ? text : "", &plan);
		if (!why.empty()) {
			plan.clear();
			fprintf(stderr, "simsoc: SIMSOC_SCENE_SCHEDULE ignored: %s\n", why.c_str());
		}
	}
	void set_uniform(double brightness)
	{
		for (auto &row : cell)
			for (Cell &c : row)
				c = Cell{brightness, 1, 1};
	}
	// Cells spread evenly over the grid in reading order, so that no part of
	// the frame holds them all: the k-th of n is cell k x cells / n.
	void set_highlights(double share, double brightness)
	{
		const unsigned all = kCells * kCells;
		unsigned n = (unsigned)lround(share * all);
		for (unsigned k = 0; k < n; k++) {
			unsigned at = (unsigned)((uint64_t)k * all / n);
			cell[at / kCells][at % kCells] = Cell{brightness, 1, 1};
		}
	}
	// Light the scene by a colour temperature already checked (0: flat).
	void set_kelvin(double kelvin)
	{
		illum_r = illum_b = 1;
		if (kelvin != 0)
			lookup_illuminant(kelvin, &illum_r, &illum_b);
	}
	// The entries due by that frame, each once.
	void apply_plan(uint64_t frame)
	{
		for (; planned_next < plan.size() && plan[planned_next].frame <= frame; planned_next++) {
			const Planned &p = plan[planned_next];
			if (!isnan(p.uniform))
				set_uniform(p.uniform);
			if (!isnan(p.hl_share))
				set_highlights(p.hl_share, p.hl_bright);
			if (!isnan(p.kelvin))
				set_kelvin(p.kelvin);
			if (!isnan(p.factor))
				steps.push_back(Step{p.frame, p.factor});
		}
	}
};

Scene &scene()
{
	static Scene *s = new Scene;
	return *s;
}

bool lookup_illuminant(double kelvin, double *r, double *b)
{
	const size_t n = sizeof kIlluminants / sizeof kIlluminants[0];
	if (!(kelvin >= kIlluminants[0].kelvin && kelvin <= kIlluminants[n - 1].kelvin))
		return false;
	for (size_t i = 1; i < n; i++) {
		const Illuminant &lo = kIlluminants[i - 1], &hi = kIlluminants[i];
		if (kelvin > hi.kelvin)
			continue;
		double t = (kelvin - lo.kelvin) / (hi.kelvin - lo.kelvin);
		*r = lo.r_over_g + t * (hi.r_over_g - lo.r_over_g);
		*b = lo.b_over_g + t * (hi.b_over_g - lo.b_over_g);
		return true;
	}
	return false;
}

// A focus filter's value at distance d from the peak.
uint16_t focus_value(double d, double width, uint16_t floor)
{
	double top = kFvPeak > floor ? kFvPeak : floor;
	double v = floor + (top - floor) * width * width / (width * width + d * d);
	return (uint16_t)lround(v);
}

// The schedule of the environment is read when the library loads, so a bad
// one is reported at the start of the process, not at its first frame.
__attribute__((constructor)) void scene_at_start()
{
	scene();
}

} // namespace

void scene_snapshot(uint64_t frame, scene_frame *out)
{
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.apply_plan(frame);
	double factor = 1;
	for (const Step &st : s.steps)
		if (st.frame <= frame)
			factor *= st.factor;
	for (unsigned r = 0; r < kCells; r++) {
		for (unsigned c = 0; c < kCells; c++) {
			const Cell &cell = s.cell[r][c];
			out->bright[r][c] = (float)(cell.bright * factor);
			out->k_r[r][c] = (float)(cell.r_over_g * s.illum_r);
			out->k_b[r][c] = (float)(cell.b_over_g * s.illum_b);
		}
	}
	out->flicker_hz = s.flicker_hz;
	out->flicker_depth = s.flicker_depth;
	out->black = s.black;
	out->rgb_hist = s.rgb_hist;
	if (s.curve) {
		double d = (double)s.focus - (double)s.peak;
		out->fv1 = focus_value(d, s.width1, s.floor);
		out->fv2 = focus_value(d, s.width2, s.floor);
	} else {
		out->fv1 = out->fv2 = s.floor;
	}
}

double scene_flicker_gain(const scene_frame *s, double start, double seconds)
{
	if (s->flicker_hz <= 0 || s->flicker_depth == 0)
		return 1;
	double w = 2 * M_PI * s->flicker_hz;
	if (seconds <= 0)
		return 1 + s->flicker_depth * sin(w * start);
	return 1 + s->flicker_depth * (cos(w * start) - cos(w * (start + seconds))) / (w * seconds);
}

extern "C" void simsoc_scene_reset(void)
{
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.reset();
}

extern "C" int simsoc_scene_set_uniform(double brightness)
{
	if (!usable(brightness))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.set_uniform(brightness);
	return 0;
}

extern "C" int simsoc_scene_set_highlights(double share, double brightness)
{
	if (!highlights_usable(share, brightness))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.set_highlights(share, brightness);
	return 0;
}

extern "C" int simsoc_scene_set_cell(unsigned col, unsigned row, double brightness, double r_over_g,
                                     double b_over_g)
{
	if (col >= kCells || row >= kCells || !usable(brightness) || !usable(r_over_g) || !usable(b_over_g))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.cell[row][col] = Cell{brightness, r_over_g, b_over_g};
	return 0;
}

extern "C" int simsoc_scene_illuminant(double kelvin, double *r_over_g, double *b_over_g)
{
	double r, b;
	if (!lookup_illuminant(kelvin, &r, &b))
		return -1;
	if (r_over_g)
		*r_over_g = r;
	if (b_over_g)
		*b_over_g = b;
	return 0;
}

extern "C" int simsoc_scene_set_colour_temperature(double kelvin)
{
	double r = 1, b = 1;
	if (kelvin != 0 && !lookup_illuminant(kelvin, &r, &b))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.illum_r = r;
	s.illum_b = b;
	return 0;
}

extern "C" int simsoc_scene_schedule(const char *text, char *err, size_t err_size)
{
	std::vector<Planned> plan;
	std::string why = parse_schedule(text ? text : "", &plan);
	if (!why.empty()) {
		if (err && err_size)
			snprintf(err, err_size, "%s", why.c_str());
		return -1;
	}
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.plan = plan;
	s.planned_next = 0;
	return 0;
}

extern "C" int simsoc_scene_step(uint64_t frame, double factor)
{
	if (!usable(factor))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.steps.push_back(Step{frame, factor});
	return 0;
}

extern "C" int simsoc_scene_set_flicker(double hz, double depth)
{
	if (!usable(hz) || !(depth >= 0 && depth <= 1))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.flicker_hz = hz;
	s.flicker_depth = depth;
	return 0;
}

extern "C" int simsoc_scene_set_black(uint16_t level)
{
	if (level > 4095)
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.black = level;
	return 0;
}

extern "C" int simsoc_scene_set_focus_curve(int32_t peak_pulses, double width1, double width2, uint16_t floor)
{
	if (!(width1 > 0 && isfinite(width1)) || !(width2 > 0 && isfinite(width2)))
		return -1;
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.curve = true;
	s.peak = peak_pulses;
	s.width1 = width1;
	s.width2 = width2;
	s.floor = floor;
	return 0;
}

extern "C" void simsoc_scene_move_focus(int32_t steps)
{
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.focus += steps;
}

extern "C" int32_t simsoc_scene_focus(void)
{
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	return s.focus;
}

extern "C" void simsoc_scene_set_rgb_histograms(int on)
{
	Scene &s = scene();
	std::lock_guard<std::mutex> lk(s.mu);
	s.rgb_hist = on != 0;
}
