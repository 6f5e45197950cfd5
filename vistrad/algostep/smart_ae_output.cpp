// Smart auto exposure: applying an exposure to the sensor and the camera
// library, and publishing it (info pool, "sensor_data", statistics tables).
#include <math.h>
#include <string.h>

#include "algostep/hdr_lut.h"
#include "algostep/hist_analyzer.h"
#include "algostep/smart_ae.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/stream_map.h"
#include "libcl.h"
#include "platform/datacache.h"
#include "platform/sensor.h"

namespace
{

const double q14_one = 16384.0;

int64_t round_away(double v)
{
	return (int64_t)(v < 0 ? v - 0.5 : v + 0.5);
}

int32_t to_q14(double v)
{
	double q = v * q14_one;
	if (q >= 2147483647.0)
		return INT32_MAX;
	if (q <= -2147483648.0)
		return INT32_MIN;
	return (int32_t)round_away(q);
}

double db_of(double gain)
{
	return 20.0 * log10(gain);
}

void refresh_evs(smart_ae_state *s)
{
	for (smart_ae_exposure &e : s->exp) {
		e.ev = e.shutter * e.gain;
		e.gain_db = db_of(e.gain);
	}
}

double correction(const ae_q14_list &x, const ae_q14_list &y, double at)
{
	return MAX(smart_ae_map_value_q14(&x, &y, to_q14(at)), 0.1);
}

// The digital gain the camera library adds for the HDR methods that
// combine the exposures, limited to what the gain table leaves.
void set_extra_gain(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	const smart_ae_exposure &l = s->exp[AE_LONG];
	double gap = 222;
	if (cfg->ae_gain_gap_map.count)
		gap = smart_ae_map_value_q14(&cfg->ae_gain_map, &cfg->ae_gain_gap_map, to_q14(l.gain));
	shutter_gain sg;
	memset(&sg, 0, sizeof(sg));
	if (libcl_get_shutter_and_gain(s->channel, &sg) != 0)
		return;
	double step = s->gain_step > 0 ? s->gain_step : 1.0;
	double x = (double)round_away(db_of(l.gain) * cfg->ae_gain_ratio / step) + gap;
	int64_t index = round_away(db_of(l.gain) / step);
	double floor_x = MAX(x, 0.0);
	sg.extra_gain = (uint32_t)(475 - index > floor_x ? floor_x : (double)(475 - index));
	libcl_set_shutter_and_gain(s->channel, &sg);
}

void run_lut(smart_ae_state *s, const image_stats_record *stats)
{
	const smart_ae_settings *cfg = s->settings;
	const smart_ae_exposure &l = s->exp[AE_LONG];
	const smart_ae_exposure &sh = s->exp[AE_SHORT];
	double c_long = 1.0, c_short = 1.0;
	if (s->wdr && cfg->ae_shutter_correction_map.count) {
		c_long = correction(cfg->ae_shutter_correction_map, cfg->ae_shutter_correction, l.shutter);
		c_short = correction(cfg->ae_shutter_correction_map, cfg->ae_shutter_correction, sh.shutter);
		libcl_set_shutter_correction(s->channel, c_long / c_short);
	}
	if (!s->dynamic_lut) {
		s->hdr_threshold_fraction = 1.0;
		return;
	}
	double g_long = 1.0, g_short = 1.0;
	if (s->dual_gain && cfg->ae_gain_correction_map.count) {
		g_long = correction(cfg->ae_gain_correction_map, cfg->ae_gain_correction, l.gain_db);
		g_short = correction(cfg->ae_gain_correction_map, cfg->ae_gain_correction, sh.gain_db);
	}
	s->effective_ratio =
	    (l.shutter * l.gain) / MAX(sh.shutter * sh.gain, 1e-9) * (g_long / g_short) * (c_long / c_short);
	// At init there are no histograms to build tables from.
	if (stats)
		hdr_lut_update(s, stats);
}

const char *choice_name(int32_t choice, int exposure)
{
	switch (choice) {
	case 1:
		return "AE-Target";
	case 2:
		return "Near-Sat.";
	case 3:
		return " Max-Sat.";
	case 4:
		return exposure == AE_LONG ? " EF-Limit" : "No change";
	default:
		return "No change";
	}
}

double percent_of_range(double v, const hist_analysis *a)
{
	int32_t range = a->bin_count - 2;
	return range > 0 ? v * 100.0 / range : 0.0;
}

// A saturation too small to show says how far below the top the data ends.
double shown_saturation(const smart_ae_exposure &e, const hist_analysis *a)
{
	return e.saturation < 0.01 ? percent_of_range(a->data_end, a) - 100 : e.saturation;
}

void print_ev_table(const hist_analysis *la, const hist_analysis *sa, const smart_ae_state *s)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	const smart_ae_exposure &sh = s->exp[AE_SHORT];
	if (!s->wdr) {
		debug_output(
		    DEBUG_INFO, 0,
		    "EV Calculation|     Long    \n--------------|-------------\nLast data bin |      %5.1f "
		    "\nSat. forecast |      %5.1f \nWeight        |       %3.1f \nEV [current]  |  %9d  "
		    "\nWeight EV     |  %9d  \nNear Sat. EV  |  %9d  \nMax Sat. EV   |  %9d  \nEV change     "
		    "|  %9d  \nEV choice     |  %s \nAdj_index %5d\n\n",
		    percent_of_range(la->data_end, la), percent_of_range(la->forecast_bin, la), l.weight,
		    (int)l.ev, (int)l.weight_ev, (int)l.near_ev, (int)l.max_sat_ev, (int)(l.want_ev - l.ev),
		    choice_name(l.choice, AE_LONG), s->adj_index);
		return;
	}
	debug_output(
	    DEBUG_INFO, 0,
	    "EV Calculation|     Long    |     Short    \n--------------|-------------|--------------\nLast "
	    "data bin |      %5.1f  |      %5.1f   \nSat. forecast |      %5.1f  |      %5.1f   \nWeight    "
	    "    |       %4.1f  |       %4.1f \nEV [current]  |  %9d  |  %9d  \nWeight EV     |  %9d  |  %9d "
	    " "
	    "\nNear Sat. EV  |  %9d  |  %9d(%d)  \nMax Sat. EV   |  %9d  |        N/A\nEV change     |  %9d  "
	    "|  %9d  \nEV change (%%) |      %5.1f  |      %5.1f \nEV choice     |  %s  |  %s  \nAdj_index "
	    "%5d\n\n",
	    percent_of_range(la->data_end, la), percent_of_range(sa->data_end, sa),
	    percent_of_range(la->forecast_bin, la), percent_of_range(sa->forecast_bin, sa), l.weight,
	    sh.weight, (int)l.ev, (int)sh.ev, (int)l.weight_ev, (int)sh.weight_ev, (int)l.near_ev,
	    (int)sh.near_ev, (int)sh.forecast_ev, (int)l.max_sat_ev, (int)(l.want_ev - l.ev),
	    (int)(sh.want_ev - sh.ev), l.ev > 0 ? (l.want_ev - l.ev) * 100 / l.ev : 0.0,
	    sh.ev > 0 ? (sh.want_ev - sh.ev) * 100 / sh.ev : 0.0, choice_name(l.choice, AE_LONG),
	    choice_name(sh.choice, AE_SHORT), s->adj_index);
}

void print_ae_table(const hist_analysis *la, const hist_analysis *sa, const smart_ae_state *s)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	const smart_ae_exposure &sh = s->exp[AE_SHORT];
	const char *mode = s->wdr == 0 ? "LIN" : s->wdr == 2 ? "SLIN" : "HDR";
	double ratio = s->wdr && sh.ev > 0 ? l.ev / sh.ev : 1.0;
	debug_output(DEBUG_INFO, 0,
	             "\nSMART AE | Ch %d, %s - Mode, EF:%4.1f (%s), %+3.1fEV\n         | Long                "
	             "    | Short     "
	             "    \n---------|-------------------------|-----------------------\n         |    "
	             "Shutter - Gain       |  "
	             "  Shutter - Gain\n  Current|     %6d - %4.1fdb     |     %6d - %4.1fdb\n  Wanted |     "
	             "%6d - %4.1fdb   "
	             "  |     %6d - %4.1fdb\n  Min    |     %6d - %4.1fdb     |     %6d - %4.1fdb\n  Max    "
	             "|     %6d - "
	             "%4.1fdb     |     %6d - %4.1fdb\n         |                         |\n         |      "
	             "  EV - Wght - "
	             "Sat  |       EV - Wght - Sat\n  Current| %8d - %4.1f - %5.1f | %8d - %4.1f - %5.2f\n  "
	             "Wanted | %8d - "
	             "%4.1f - %5.1f | %8d - %4.1f - %5.2f\n  Max    | %8d -  NA  -  NA   | %8d -  NA  -  "
	             "NA\n\n***************************************************\n\n",
	             s->channel, mode, ratio, s->converged ? "converged" : "updating", s->ev_comp_stops,
	             l.shutter, l.gain_db, sh.shutter, sh.gain_db, l.want_shutter, db_of(l.want_gain),
	             sh.want_shutter, db_of(sh.want_gain), l.min_shutter, l.min_gain_db, sh.min_shutter,
	             sh.min_gain_db, l.max_shutter, l.max_gain_db, sh.max_shutter, sh.max_gain_db, (int)l.ev,
	             l.weight, shown_saturation(l, la), (int)sh.ev, sh.weight, shown_saturation(sh, sa),
	             (int)l.want_ev, l.target, s->sat_target, (int)sh.want_ev, sh.target, s->sat_target,
	             (int)l.max_ev, (int)sh.max_ev);
}

} // namespace

void smart_ae_set_shutters(const int32_t shutters[2], int32_t stream_id, smart_ae_state *s)
{
	smart_ae_exposure &l = s->exp[AE_LONG];
	smart_ae_exposure &sh = s->exp[AE_SHORT];
	if (!s->wdr) {
		int32_t lines = sensor_exposure_to_lines(s->sensor, shutters[0]);
		sensor_set_shutter(s->sensor, lines, stream_id);
		l.shutter = shutters[0];
		l.lines = lines;
		return;
	}
	int32_t ids[2] = {stream_map_stream_id(stream_id, 0), stream_map_stream_id(stream_id, 1)};
	int32_t lines[2] = {sensor_exposure_to_lines_for_frame(s->sensor, shutters[1], ids[0]),
	                    sensor_exposure_to_lines_for_frame(s->sensor, shutters[0], ids[1])};
	int32_t out[2] = {lines[0], lines[1]};
	sensor_set_shutters(s->sensor, 2, ids, lines, out);
	sh.lines = out[0];
	l.lines = out[1];
	sh.shutter = sensor_lines_to_exposure(s->sensor, out[0]);
	l.shutter = sensor_lines_to_exposure(s->sensor, out[1]);
	// A maximum of a few lines is held to what the sensor can really give.
	if (s->max_exposure_param <= 4 * s->line_time && abs(l.shutter - shutters[0]) <= s->line_time)
		l.max_shutter = l.shutter;
}

void smart_ae_set_gains(const double gains[2], int32_t stream_id, smart_ae_state *s)
{
	int32_t indexes[2];
	int32_t frames[2];
	int32_t channel = stream_id < 0 ? 0 : stream_id_channel(stream_id);
	for (int i = 0; i < 2; i++) {
		smart_ae_exposure &e = s->exp[i];
		e.gain = gains[i];
		float db = 20.0f * log10f((float)gains[i]);
		indexes[i] = s->gain_step > 0 ? (int32_t)round_away(db / s->gain_step) : 0;
		frames[i] = channel * 256 + i;
	}
	sensor_set_gains(s->sensor, 2, indexes, frames);
}

void smart_ae_apply(const int32_t shutters[2], const double gains[2], int32_t stream_id, smart_ae_state *s,
                    int32_t step_index, const image_stats_record *stats)
{
	smart_ae_set_shutters(shutters, stream_id, s);
	smart_ae_set_gains(gains, stream_id, s);
	refresh_evs(s);
	set_extra_gain(s);
	s->step_index = step_index;
	smart_ae_exposure &l = s->exp[AE_LONG];
	if (step_index == 0 && db_of(l.want_gain) != l.gain_db)
		s->adj_index = libcl_update_adj_index(s->channel, db_of(l.want_gain));
	run_lut(s, stats);
	if (stats)
		smart_ae_print_stats(&stats->long_frame, &stats->short_frame, s);
	// Readers of the info pool follow every applied change.
	smart_ae_publish(s, stream_id);
}

void smart_ae_apply_current(smart_ae_state *s, int32_t step_index, const image_stats_record *stats)
{
	int32_t shutters[2] = {s->exp[AE_LONG].shutter, s->exp[AE_SHORT].shutter};
	double gains[2] = {s->exp[AE_LONG].gain, s->exp[AE_SHORT].gain};
	smart_ae_apply(shutters, gains, s->stream_id, s, step_index, stats);
}

void smart_ae_publish(smart_ae_state *s, int32_t stream_id)
{
	const smart_ae_exposure &l = s->exp[AE_LONG];
	const smart_ae_exposure &sh = s->exp[AE_SHORT];
	uint32_t held = s->hold ? INFO_POOL_PERSISTENT : INFO_POOL_VOLATILE;
	info_pool_set_int(60, stream_id, INFO_POOL_KEEP, (int32_t)l.min_ev);
	info_pool_set_int(61, stream_id, INFO_POOL_KEEP, (int32_t)l.max_ev);
	int64_t max_shutter = l.max_shutter;
	info_pool_set_blob(67, stream_id, INFO_POOL_VOLATILE, &max_shutter, sizeof(max_shutter));
	if (s->hold) {
		info_pool_set_int(77, stream_id, INFO_POOL_PERSISTENT, sh.shutter);
		info_pool_set_int(13, stream_id, INFO_POOL_PERSISTENT, l.shutter);
	}
	info_pool_set_int(48, stream_id, INFO_POOL_VOLATILE,
	                  (int32_t)((1 + s->hysteresis) * l.shutter * l.gain));
	info_pool_set_imfix(14, stream_id, held, to_q14(l.gain));
	info_pool_set_imfix(15, stream_id, INFO_POOL_VOLATILE, to_q14(1.0));
	int64_t shutter_q14 = (int64_t)(s->wdr ? sh.shutter : l.shutter) << 14;
	info_pool_set_blob(70, stream_id, INFO_POOL_VOLATILE, &shutter_q14, sizeof(shutter_q14));
	double ratio = 1.0;
	if (s->wdr)
		ratio =
		    MAX(l.shutter * l.gain / MAX(sh.shutter * sh.gain, (double)sh.sensor_min_shutter), 1.0);
	info_pool_set_imfix(31, stream_id, s->wdr ? INFO_POOL_VOLATILE : held, to_q14(ratio));
	if (s->hold)
		info_pool_write_entry();
}

void smart_ae_print_stats(const hist_analysis *la, const hist_analysis *sa, smart_ae_state *s)
{
	int32_t show = s->settings->show_ae_stats;
	if (!la || !sa || !(show == -1 || show == s->channel + 1))
		return;
	if (!s->converged && s->step_index != 0)
		return;
	print_ev_table(la, sa, s);
	print_ae_table(la, sa, s);
}

int smart_ae_queue_record(smart_ae_state *s)
{
	smart_ae_hdr_record *r = s->pending_record;
	s->pending_record = nullptr;
	r->threshold = s->hdr_threshold_fraction;
	int result = control_queue_job(s->engine, &r->header);
	if (result != 0)
		g_free(r);
	return result;
}

int smart_ae_run_tail(smart_ae_state *s)
{
	const smart_ae_settings *cfg = s->settings;
	const smart_ae_exposure &l = s->exp[AE_LONG];
	if (cfg->libcl_gain_shutter_check) {
		shutter_gain sg;
		memset(&sg, 0, sizeof(sg));
		bool drift = true;
		if (libcl_get_shutter_and_gain(s->channel, &sg) == 0) {
			double expected = trunc(sg.shutter[0] * (double)s->line_time *
			                        pow(10.0, sg.gain[0] * s->gain_step / 20));
			double diff = fabs((double)(int64_t)(l.shutter * l.gain) - expected);
			drift = diff >= 0.05f * expected;
		}
		if (drift)
			smart_ae_apply_current(s, -1, nullptr);
	}
	if (s->pending_record)
		return smart_ae_queue_record(s);
	if (cfg->ae_enable_sensor_datacache && !s->converged) {
		smart_ae_sensor_data element = {(int32_t)(l.gain * 1000), {0, 0}, l.shutter};
		control_timestamp zero = {0, 0};
		return datacache_write(s->cache, s->sensor_cache_id, &zero, &element) < 0 ? -1 : 0;
	}
	return 0;
}

void smart_ae_sht_gain_override(smart_ae_state *s, int32_t long_shutter, int32_t short_shutter,
                                double long_db, double short_db)
{
	if (long_shutter == 0) {
		s->override_on = 0;
		s->override_pending = 0;
		debug_output(DEBUG_INFO, 0, "Shutter Overwrite disabled!\n");
		return;
	}
	const smart_ae_exposure &l = s->exp[AE_LONG];
	const smart_ae_exposure &sh = s->exp[AE_SHORT];
	s->override_shutter[AE_LONG] = CLAMP(long_shutter, l.min_shutter, MAX(l.max_shutter, l.min_shutter));
	s->override_shutter[AE_SHORT] =
	    CLAMP(short_shutter, sh.min_shutter, MAX(sh.max_shutter, sh.min_shutter));
	s->override_gain[AE_LONG] = pow(10.0, long_db / 20);
	s->override_gain[AE_SHORT] = pow(10.0, short_db / 20);
	s->override_on = 1;
	s->override_pending = 1;
	debug_output(DEBUG_INFO, 0, "Long : %5d - %5.1f(%4.1fdb)\nShort: %5d - %5.1f(%4.1fdb)\n",
	             s->override_shutter[AE_LONG], s->override_gain[AE_LONG], long_db,
	             s->override_shutter[AE_SHORT], s->override_gain[AE_SHORT], short_db);
}

void smart_ae_sensor_exp_override(smart_ae_state *s, int32_t gain_q14, int32_t exposure_us)
{
	if (gain_q14 == 0) {
		debug_output(DEBUG_INFO, 0, "Sensor exp override disabled!\n");
		return;
	}
	debug_output(DEBUG_INFO, 0, "Override gain: %fx, exptime_us: %d\n", (double)(gain_q14 >> 14),
	             exposure_us);
	int32_t shutters[2] = {exposure_us, exposure_us};
	double gains[2] = {gain_q14 / q14_one, gain_q14 / q14_one};
	smart_ae_set_shutters(shutters, s->stream_id, s);
	smart_ae_set_gains(gains, s->stream_id, s);
}
