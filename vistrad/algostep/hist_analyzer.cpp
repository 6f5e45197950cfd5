#include "hist_analyzer.h"

#include <glib.h>
#include <math.h>
#include <string.h>

#include <algorithm>

#include "core/control.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf_schema_build.h"
#include "core/stream_map.h"
#include "fixmath.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/platform.h"
#include "platform/sensor.h"

namespace
{

const uint32_t PARAM_EXPOSURE_VALUE = 14;
const uint32_t PARAM_SLAVE_TO = 150;
const uint32_t INFO_SENSOR_GAIN = 14;
const double FULL_SCALE = 16383.0;
// A black level from here up leaves no CFA bin below the cut.
const int32_t BLACK_LEVEL_LIMIT = 16128;
const uint32_t HDR_MODE_NO_KNEE = 15;
const int32_t KNEE_ONE = 4096;

prodconf_field float_field(const char *key, size_t offset, float def)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_FLOAT2, PRODCONF_OPTIONAL, offset);
	f.def.f = def;
	return f;
}

prodconf_field int_field(const char *key, size_t offset, int32_t def)
{
	return prodconf_field_i32(key, PRODCONF_INT, PRODCONF_OPTIONAL, offset, def);
}

prodconf_field bool_field(const char *key, size_t offset, bool def)
{
	prodconf_field f = prodconf_field_make(key, PRODCONF_BOOL, PRODCONF_OPTIONAL, offset);
	f.def.bytes[0] = def;
	return f;
}

#define F(key, def) float_field(#key, offsetof(hist_analyzer_settings, key), def)
#define I(key, def) int_field(#key, offsetof(hist_analyzer_settings, key), def)
#define B(key, def) bool_field(#key, offsetof(hist_analyzer_settings, key), def)

const prodconf_field settings_fields[] = {
    F(frame_avg, 0.1f),
    F(last_data_avg, 0.5f),
    F(short_forecast, 1.0f),
    F(long_forecast, 2.0f),
    F(cfa_forecast, 1.0f),
    F(rgb_forecast, 1.0f),
    F(short_near_sat_target, 0.15f),
    F(long_near_sat_target, 0.15f),
    F(cfa_near_sat_target, 0.15f),
    F(rgb_near_sat_target, 0.15f),
    F(short_near_sat_gain_limit, 8.0f),
    I(rgb_low_end, 21),
    I(rgb_mid_end, 42),
    I(rgb_data_threshold, 1),
    I(cfa_low_end, 14),
    I(cfa_mid_end, 32),
    I(cfa_data_threshold, 5),
    I(long_low_end, 85),
    I(long_mid_end, 171),
    I(long_data_threshold, 5),
    I(short_low_end, 85),
    I(short_mid_end, 171),
    I(short_data_threshold, 5),
    I(drc_threshold, 100),
    B(underexpose_short, false),
    B(rgb_include_sat, true),
    B(cfa_include_sat, true),
    B(long_include_sat, true),
    B(short_include_sat, true),
    F(saturation_hysteresis, 1.5f),
    B(histogram_averaging, false),
    B(link_dic_to_master, false),
    B(ae_low_mid_weight, false),
    B(enable_hist_datacache, false),
    B(average_rgb_stats, false),
};

#undef F
#undef I
#undef B

const prodconf_schema settings_schema = {ALGO_CL_SCHEMA, sizeof(hist_analyzer_settings), settings_fields,
                                         G_N_ELEMENTS(settings_fields)};

hist_analyzer_settings *settings_of(const hist_analyzer_local *local)
{
	return static_cast<hist_analyzer_settings *>(local->head.settings);
}

void configure(hist_analysis *a, uint32_t kind, int32_t bins, int32_t low_end, int32_t mid_end,
               int32_t data_threshold, uint8_t include_sat, float forecast, double near_sat_target)
{
	memset(a, 0, sizeof(*a));
	a->kind = kind;
	a->bin_count = bins;
	a->low_end = low_end;
	a->mid_end = mid_end;
	a->data_threshold = data_threshold;
	a->include_sat = include_sat;
	a->forecast = forecast;
	a->near_sat_target = near_sat_target;
}

// Position inside a bin at which the cumulative share crosses a level.
double crossing(int b, double level, double s_prev, double s)
{
	if (s == s_prev)
		return b + 1;
	return (b + 1) - (level - s_prev) / (s - s_prev);
}

void find_levels(hist_analysis *a, const uint32_t *h)
{
	int n = a->bin_count;
	for (double &p : a->level_position)
		p = n - 2;
	if ((int64_t)a->saturation > 10)
		return;
	int k = std::min((int)a->saturation_raw, 10);
	double s = a->saturation_raw;
	double flattest = 0;
	bool near_found = false;
	for (int b = n - 2; b >= 1; b--) {
		double s_prev = b == n - 2 ? 0 : s;
		if (b <= a->data_end)
			s += 100.0 * h[b] / a->total;
		if (!near_found && s > a->near_sat_target) {
			near_found = true;
			a->near_sat_position =
			    std::min(crossing(b, a->near_sat_target, s_prev, s), (double)(n - 2));
		}
		if (k <= 10 && s > k) {
			double p = crossing(b, k, s_prev, s);
			if (k == 0)
				p = std::clamp(p, 1.0, (double)(n - 1));
			a->level_position[k] = p;
			k++;
		}
		double step = s - s_prev;
		double flatness = step == 0 ? INFINITY : 1 / step;
		if (flatness > flattest) {
			flattest = flatness;
			a->flattest_level = (s + s_prev) / 2;
		}
		if ((int64_t)s > 10 || k > 10)
			break;
	}
	for (; k <= 10; k++)
		a->level_position[k] = 1.0;
}

double smoothing_of(const hist_analyzer_local *local)
{
	double a = settings_of(local)->last_data_avg;
	if (a >= 0 && a <= 1)
		return a;
	debug_output(DEBUG_WARNING, 0, "Incorrect last data average configuration %f, defaulting to 0.5!\n",
	             a);
	return 0.5;
}

} // namespace

const char *hist_kind_name(uint32_t kind)
{
	switch (kind) {
	case HIST_KIND_RGB:
		return "RGB";
	case HIST_KIND_CFA:
		return "CFA";
	case HIST_KIND_LONG:
		return "LONG_FRAME";
	case HIST_KIND_SHORT:
		return "SHORT_FRAME";
	default:
		return "NA";
	}
}

void hist_analyse(struct hist_analysis *an, const uint32_t *h, struct hist_analyzer_local *local)
{
	if (!an || !h || !local || !local->head.settings || an->bin_count < 2)
		return;
	double a = smoothing_of(local);
	int n = an->bin_count;

	an->low_share = an->mid_share = an->high_share = 0;
	an->total = 0;
	an->low_mean = an->mid_mean = an->high_mean = 0;
	an->weight = 0;
	an->top_count = h[n - 1];
	an->forecast_bin = n - 2;
	an->flattest_level = 0;
	an->near_sat_position = n - 2;
	if (!an->low_end || !an->mid_end)
		return;

	double low = 0, mid = 0, high = 0;
	double low_moment = 0, mid_moment = 0, high_moment = 0;
	uint64_t from_top = 0;
	int candidate = n - 2;
	for (int i = 0; i < n; i++) {
		int j = n - 1 - i;
		if (i < an->low_end) {
			low += h[i];
			low_moment += (double)i * h[i];
		} else if (i < an->mid_end) {
			mid += h[i];
			mid_moment += (double)i * h[i];
		} else {
			high += h[i];
			high_moment += (double)i * h[i];
		}
		an->total += h[i];
		if (i >= n - 1)
			continue;
		from_top += h[j - 1];
		if ((double)from_top <= an->top_count * an->forecast)
			an->forecast_bin = j + 2;
		if ((int64_t)(from_top / (uint64_t)(i + 1)) <= an->data_threshold)
			candidate = j;
	}

	bool reset = (int64_t)(an->saturation * 10) >= 2;
	if (reset)
		an->data_end = n - 2;
	else
		an->data_end = (1 - a) * an->data_end + a * candidate;

	// An empty histogram has no saturation (not 0/0).
	an->saturation_raw = an->saturation = an->total > 0 ? 100.0 * an->top_count / an->total : 0;
	if (!reset && an->data_end < n - 2 && an->saturation > an->near_sat_target) {
		double m = n - 1;
		double half = m / 2;
		double r = m == half ? 0
		                     : (std::min(m, std::max(an->data_end, half)) - half) * an->saturation /
		                           (m - half);
		double hyst = settings_of(local)->saturation_hysteresis;
		double bonus = 0;
		if (hyst < an->saturation - hyst)
			bonus = hyst < 0 ? 0 : hyst;
		else if (an->saturation - hyst > 0)
			bonus = an->saturation - hyst;
		an->saturation = r + bonus;
	}

	if (an->kind == HIST_KIND_LONG || an->kind == HIST_KIND_SHORT ||
	    (an->kind == HIST_KIND_CFA && !local->wdr))
		find_levels(an, h);

	if ((low == 0 && mid == 0 && high == 0) || an->total == 0)
		return;

	double moments = low_moment + mid_moment + high_moment;
	double rest = an->total - an->top_count;
	double d = rest > 1 ? rest : 1;
	an->weight_unsaturated = (moments - (double)(n - 1) * an->top_count) / d / (n - 1) * 100;
	an->weight = an->include_sat ? moments / an->total / n * 100 : an->weight_unsaturated;

	// Below the mid range each bin counts twice in its share and mean.
	double c = 0;
	for (int i = 0; i < an->mid_end && i < n; i++) {
		if (i < an->low_end) {
			low += h[i];
			low_moment += (double)i * h[i];
		} else {
			mid += h[i];
			mid_moment += (double)i * h[i];
		}
		c += h[i];
	}
	for (int i = an->mid_end; c == 0 && i < n; i++) {
		mid += h[i];
		mid_moment += (double)i * h[i];
		c += h[i];
	}
	local->low_mid_weight = n > 64 && settings_of(local)->ae_low_mid_weight;
	if (local->low_mid_weight)
		an->weight = (low_moment + mid_moment) / (c > 1 ? c : 1) / an->mid_end * 100;

	if (low > 100)
		an->low_mean = low_moment / low / an->low_end * 100;
	int mid_width = an->mid_end - an->low_end - 1;
	if (mid > 100 && mid_width)
		an->mid_mean = (mid_moment / mid - (an->low_end + 1)) / mid_width * 100;
	int high_width = n - an->mid_end + 1;
	if (high > 100 && high_width)
		an->high_mean = (high_moment / high - (an->mid_end + 1)) / high_width * 100;

	an->low_share = low / an->total * 100;
	an->mid_share = mid / an->total * 100;
	an->high_share = high / an->total * 100;
	an->low_share_avg = (1 - a) * an->low_share_avg + a * an->low_share;
	an->mid_share_avg = (1 - a) * an->mid_share_avg + a * an->mid_share;
	an->high_share_avg = (1 - a) * an->high_share_avg + a * an->high_share;
	an->weight_avg = (1 - a) * an->weight_avg + a * an->weight;
}

namespace
{

// Bins of one channel's block: the blocks are packed, so copied bytewise.
void copy_bins(uint32_t *out, const platform_soc_stats *stats, int channel, size_t offset, size_t bins)
{
	const uint8_t *block = reinterpret_cast<const uint8_t *>(&stats->channel[channel]);
	memcpy(out, block + offset, bins * sizeof(uint32_t));
}

const size_t cfa_green = offsetof(libcl_stats, cfa_hist) + offsetof(libcl_hist, his_bin_g);
const size_t rgb_red = offsetof(libcl_stats, rgb_hist) + offsetof(libcl_hist, his_bin_r);
const size_t rgb_green = offsetof(libcl_stats, rgb_hist) + offsetof(libcl_hist, his_bin_g);
const size_t rgb_blue = offsetof(libcl_stats, rgb_hist) + offsetof(libcl_hist, his_bin_b);

size_t hdr_green(int exposure)
{
	return offsetof(libcl_stats, cfa_hdr_hist) + (size_t)exposure * sizeof(libcl_hdr_hist) +
	       offsetof(libcl_hdr_hist, his_bin_g);
}

void fold_top(uint32_t *h, int cut, int bins)
{
	for (int i = cut; i < bins; i++)
		h[cut - 1] += h[i];
}

void release_record(struct control_job *job)
{
	g_free(job);
}

double short_near_sat_target(const hist_analyzer_settings *s, int32_t stream_id)
{
	double target = s->short_near_sat_target;
	int32_t gain = 0;
	double db = 0;
	if (info_pool_get_imfix(INFO_SENSOR_GAIN, stream_id, &gain) == 0 && gain > 0)
		db = 20.0 * fx_log10x(gain, 14) / 16384.0;
	double limit = s->short_near_sat_gain_limit;
	if (limit != 0) {
		double t = target + db * (0.01 - target) / limit;
		target = std::min(std::max(t, 0.0), target);
	}
	int32_t ev = 0;
	if (param_get_int(PARAM_EXPOSURE_VALUE, stream_id, &ev) == 0 && ev > 50)
		target += (ev - 50) * 8 / 50.0;
	return target;
}

struct expanded {
	uint32_t bins[HIST_LINEAR_BINS];
	int count; // P
};

// Companded bins below k spread over 1, 2 or 4 linear bins each; the rest is
// the top bin, added at top_index.
void expand(const uint32_t *companded, int k, int top_offset, expanded *out, uint32_t *cumulative)
{
	memset(out, 0, sizeof(*out));
	int j = 0;
	for (int c = 0; c < k; c++) {
		int w = c < 64 ? 1 : c < 96 ? 2 : 4;
		uint32_t v = companded[c] / (uint32_t)w;
		if (companded[c] && !v)
			v = 1;
		for (int t = 0; t < w; t++)
			out->bins[j++] = v;
	}
	out->count = j;
	cumulative[0] = 0;
	for (int i = 0; i < j; i++)
		cumulative[i + 1] = cumulative[i] + out->bins[i];
	uint32_t tail = 0;
	for (int c = k + 1; c < LIBCL_HDR_HIST_BIN_NUM; c++)
		tail += companded[c];
	int top = j + top_offset;
	out->bins[top] += companded[k] + tail;
	cumulative[top + 1] += tail;
}

int find_knee(const expanded *lng, const expanded *shrt, int32_t threshold_count, uint16_t blend_word,
              uint32_t threshold)
{
	double f = blend_word / 16.0;
	int tf = (int)f;
	// No blend ratio: no window to average over.
	if (tf < 1)
		return KNEE_ONE;
	int p = lng->count;
	int n = p + 1;
	int tb = std::min((int)(threshold / FULL_SCALE * n), n);
	double s[HIST_LINEAR_BINS] = {};
	s[0] = lng->bins[0];
	for (int j = 1; j < tb - 1; j++) {
		s[j] = s[j - 1] + lng->bins[j];
		if (j <= 4 * tf)
			continue;
		double avg = (s[j] - s[j - 4 * tf + 1]) / (4 * f + 1);
		if ((int64_t)avg < threshold_count)
			return (int)(j / f / tb * KNEE_ONE);
	}
	for (int j = std::max(n - tb, 2) - 1; j < p; j++) {
		s[j] = s[j - 1] + shrt->bins[j];
		// Five bins back must lie inside the sum.
		if (j <= n - tb + 3 || j < 5)
			continue;
		double avg = (s[j] - s[j - 5]) / 5;
		if ((int64_t)avg < threshold_count)
			return (int)(j / (double)n * KNEE_ONE);
	}
	return KNEE_ONE;
}

int knee_of(int channel, uint32_t hdr_mode, const expanded *lng, const expanded *shrt, int32_t drc_threshold)
{
	uint32_t threshold[4] = {};
	uint16_t blend[3] = {};
	int knee = KNEE_ONE;
	if (hdr_mode != HDR_MODE_NO_KNEE && libcl_get_hdr_threshold(channel, threshold) == 0 &&
	    libcl_get_hdr_blend_config(channel, blend) == 0)
		knee = find_knee(lng, shrt, drc_threshold, blend[1], threshold[1]);
	return std::max(5376 - knee, 1280);
}

int black_level_of(hist_analyzer_local *local, struct sensor *sensor)
{
	int32_t b = sensor_get_black_level(sensor);
	if (b < BLACK_LEVEL_LIMIT)
		return b;
	if (!local->black_level_warned)
		debug_output(DEBUG_WARNING, 0, "%s: black level %d leaves no histogram below it, using %d\n",
		             "hist_analyzer_cl_run", (int)b, (int)BLACK_LEVEL_LIMIT - 1);
	local->black_level_warned = 1;
	return BLACK_LEVEL_LIMIT - 1;
}

bool read_hdr_mode(int channel, uint32_t *mode)
{
	if (libcl_get_hdr_mode(channel, mode) >= 0)
		return true;
	debug_output(DEBUG_WARNING, 0, "%s Failed to get video mode for channel %d\n", "hist_analyzer_cl_run",
	             channel);
	return false;
}

int master_of(int32_t stream_id, int channels)
{
	if (channels <= 1)
		return -1;
	int32_t value = -1;
	if (param_get_int(PARAM_SLAVE_TO, stream_id, &value) != 0) {
		debug_output(DEBUG_ERROR, 0, "Failed to read slave_to status\n");
		return -1;
	}
	return value >= 0 && value < channels ? value : -1;
}

// The channels an average takes: every platform channel when channel 0 runs
// the step's mode (the SoC sets one mode for all), else the step's own.
void fill_channel_table(hist_channel_table *table, bool same_mode, int channels, int own)
{
	memset(table, 0, sizeof(*table));
	int n = std::min(channels, PLATFORM_STATS_CHANNELS);
	for (int c = 0; c < n; c++)
		table->averaged[c] = same_mode || c == own;
	for (int c = 0; c < n; c++)
		table->count += table->averaged[c];
}

// The step's own copy of the input histograms, so the shared record stays as it came.
struct inputs {
	uint32_t rgb[LIBCL_HIST_BIN_NUM];
	uint32_t cfa[LIBCL_HIST_BIN_NUM];
	uint32_t master_cfa[LIBCL_HIST_BIN_NUM];
	uint32_t hdr[2][LIBCL_HDR_HIST_BIN_NUM];
};

} // namespace

void hist_average_channels(const struct platform_soc_stats *stats, uint32_t *out,
                           const struct hist_channel_table *table, struct platform *platform, int kind)
{
	if (!stats || !out || !table || kind < 0 || kind > 2)
		return;
	size_t bins = kind == 0 ? LIBCL_HIST_BIN_NUM : LIBCL_HDR_HIST_BIN_NUM;
	size_t offset = kind == 0 ? cfa_green : hdr_green(kind - 1);
	int channels = platform ? std::min(platform->channel_count, (int32_t)PLATFORM_STATS_CHANNELS) : 0;
	uint64_t sum[LIBCL_HDR_HIST_BIN_NUM] = {};
	for (int c = 0; c < channels; c++) {
		if (table->averaged[c] != 1)
			continue;
		uint32_t h[LIBCL_HDR_HIST_BIN_NUM];
		copy_bins(h, stats, c, offset, bins);
		for (size_t i = 0; i < bins; i++)
			sum[i] += h[i];
	}
	for (size_t i = 0; i < bins; i++)
		out[i] = table->count ? (uint32_t)(sum[i] / table->count) : 0;
}

int hist_analyzer_cl_init(struct algo_step *step, struct control *engine)
{
	auto *local = static_cast<hist_analyzer_local *>(algo_step_get_local_data(step));
	if (!local || !local->head.settings)
		return -1;
	const hist_analyzer_settings *s = settings_of(local);
	platform *plat = control_get_platform(engine);
	local->wdr = sensor_get_wdr_mode(platform_get_sensor_for_stream(plat, step->stream_id));
	local->channel = stream_id_channel(step->stream_id);
	configure(&local->cfa, HIST_KIND_CFA, LIBCL_HIST_BIN_NUM, s->cfa_low_end, s->cfa_mid_end,
	          s->cfa_data_threshold, s->cfa_include_sat, s->cfa_forecast,
	          local->wdr ? 0 : s->cfa_near_sat_target);
	local->master_cfa = local->cfa;
	configure(&local->rgb, HIST_KIND_RGB, LIBCL_HIST_BIN_NUM, s->rgb_low_end, s->rgb_mid_end,
	          s->rgb_data_threshold, s->rgb_include_sat, s->rgb_forecast, 0);
	if (local->wdr) {
		configure(&local->short_frame, HIST_KIND_SHORT, LIBCL_HIST_BIN_NUM, s->short_low_end,
		          s->short_mid_end, s->short_data_threshold, s->short_include_sat, s->short_forecast,
		          s->short_near_sat_target);
		configure(&local->long_frame, HIST_KIND_LONG, LIBCL_HIST_BIN_NUM, s->long_low_end,
		          s->long_mid_end, s->long_data_threshold, s->long_include_sat, s->long_forecast,
		          s->long_near_sat_target);
	}
	if (!s->enable_hist_datacache)
		return 0;
	local->datacache = platform_get_datacache(plat, step->stream_id);
	local->cache_id = datacache_create_cache(local->datacache, HIST_IMAGE_STATS_CACHE, sizeof(float), 10);
	return local->cache_id < 0 ? -1 : 0;
}

int hist_analyzer_cl_destroy(struct algo_step *, struct control *)
{
	return 0;
}

int hist_analyzer_cl_run(struct algo_step *step, struct control *engine)
{
	auto *local = static_cast<hist_analyzer_local *>(algo_step_get_local_data(step));
	control_job *job = control_get_input(engine);
	if (!local || !local->head.settings || !job || job->type != PLATFORM_DATA_SOC_STATS)
		return 0;
	const hist_analyzer_settings *s = settings_of(local);
	auto *stats = reinterpret_cast<const platform_soc_stats *>(job);
	uint32_t started = 0;
	if (libcl_get_aaa_started(&started) < 0 || !started)
		return 0;
	int channel = local->channel;
	if (channel >= PLATFORM_STATS_CHANNELS)
		return 0;
	uint32_t mode = 0;
	if (!read_hdr_mode(channel, &mode))
		return 0;
	if ((local->wdr != 0) != (mode != 0))
		return 0;

	platform *plat = control_get_platform(engine);
	int channels = plat ? plat->channel_count : 1;
	int master = master_of(step->stream_id, channels);
	hist_channel_table table = {};
	if (master >= 0 || s->histogram_averaging) {
		uint32_t mode0 = 0;
		if (!read_hdr_mode(0, &mode0))
			return 0;
		bool same = (mode0 != 0) == (local->wdr != 0);
		if (!same)
			master = -1;
		fill_channel_table(&table, same, channels, channel);
	}
	bool linked = master >= 0 && s->link_dic_to_master;
	int source = linked ? master : channel;

	auto *record = g_new0(image_stats_record, 1);
	record->header.type = HIST_ANALYZER_DATA_IMAGE_STATS;
	record->header.stream_id = step->stream_id;
	record->header.release = release_record;

	if (local->wdr)
		local->short_frame.near_sat_target = short_near_sat_target(s, step->stream_id);

	inputs in;
	copy_bins(in.rgb, stats, source, rgb_green, LIBCL_HIST_BIN_NUM);
	if (s->average_rgb_stats) {
		uint32_t r[8], b[8];
		copy_bins(r, stats, source, rgb_red, 8);
		copy_bins(b, stats, source, rgb_blue, 8);
		for (int i = 0; i < 8; i++)
			in.rgb[i] = (uint32_t)(((uint64_t)in.rgb[i] + b[i] + r[i]) / 3);
	}
	fold_top(in.rgb, HIST_RGB_BINS, LIBCL_HIST_BIN_NUM);
	local->rgb.bin_count = HIST_RGB_BINS;
	hist_analyse(&local->rgb, in.rgb, local);
	record->rgb = local->rgb;
	memcpy(record->rgb_hist, in.rgb, sizeof(in.rgb));

	struct sensor *sensor = platform_get_sensor_for_stream(plat, step->stream_id);
	int black = black_level_of(local, sensor);
	int cut = std::clamp((int)((FULL_SCALE - black) / FULL_SCALE * 64), 1, LIBCL_HIST_BIN_NUM);
	copy_bins(in.cfa, stats, channel, cfa_green, LIBCL_HIST_BIN_NUM);
	fold_top(in.cfa, cut, LIBCL_HIST_BIN_NUM);
	local->cfa.bin_count = cut;
	hist_analyse(&local->cfa, in.cfa, local);
	if (master >= 0) {
		copy_bins(in.master_cfa, stats, master, cfa_green, LIBCL_HIST_BIN_NUM);
		fold_top(in.master_cfa, cut, LIBCL_HIST_BIN_NUM);
		local->master_cfa.bin_count = cut;
		hist_analyse(&local->master_cfa, in.master_cfa, local);
	}
	memcpy(record->cfa_hist, linked ? in.master_cfa : in.cfa, sizeof(in.cfa));

	if (!local->wdr) {
		if (s->histogram_averaging) {
			uint32_t averaged[LIBCL_HIST_BIN_NUM];
			hist_average_channels(stats, averaged, &table, plat, 0);
			fold_top(averaged, cut, LIBCL_HIST_BIN_NUM);
			hist_analyse(&local->cfa, averaged, local);
		}
		record->long_frame = master >= 0 ? local->master_cfa : local->cfa;
	} else {
		for (int e = 0; e < 2; e++) {
			if (s->histogram_averaging)
				hist_average_channels(stats, in.hdr[e], &table, plat, e + 1);
			else
				copy_bins(in.hdr[e], stats, source, hdr_green(e), LIBCL_HDR_HIST_BIN_NUM);
		}
		int k = std::clamp((int)lround(127 - black / FULL_SCALE * 255 * 0.25), 1,
		                   LIBCL_HDR_HIST_BIN_NUM - 1);
		expanded lng, shrt;
		expand(in.hdr[0], k, 0, &lng, record->long_cumulative);
		expand(in.hdr[1], k, s->underexpose_short ? -1 : 0, &shrt, record->short_cumulative);
		local->short_frame.bin_count = s->underexpose_short ? shrt.count : shrt.count + 1;
		local->long_frame.bin_count = lng.count + 1;
		hist_analyse(&local->short_frame, shrt.bins, local);
		hist_analyse(&local->long_frame, lng.bins, local);
		record->short_frame = local->short_frame;
		record->long_frame = local->long_frame;
		record->knee = knee_of(channel, mode, &lng, &shrt, s->drc_threshold);
	}
	record->cfa = linked ? local->master_cfa : local->cfa;

	if (s->enable_hist_datacache) {
		float weight = (float)record->rgb.weight;
		control_timestamp none = {0, 0};
		if (datacache_write(local->datacache, local->cache_id, &none, &weight) < 0) {
			g_free(record);
			return -1;
		}
	}
	return control_queue_job(engine, &record->header);
}

const struct algo_cl_module hist_analyzer_cl_module = {
    &settings_schema,
    sizeof(hist_analyzer_local),
    hist_analyzer_cl_init,
    hist_analyzer_cl_run,
    hist_analyzer_cl_destroy,
    {PLATFORM_DATA_SOC_STATS},
    1,
    {HIST_ANALYZER_DATA_IMAGE_STATS},
    1,
    nullptr,
    nullptr,
};
