// Smart auto exposure per frame: prepared image-statistics records (type
// 154) dispatched through the control engine one per iteration, alternating
// a dark and a bright scene so that the step keeps evaluating and applying,
// (a) on a linear sensor, (b) on a WDR sensor with the dynamic LUT, beside
// (c) a trivial step that only reads the record. The "evaluating" variants
// clear the settle wait before each frame, so every frame evaluates.
// Counter: ns per frame (a 33.3 ms frame is 33,300,000 ns).
#include <benchmark/benchmark.h>
#include <glib.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "algostep/hist_analyzer.h"
#include "algostep/smart_ae.h"
#include "core/control.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "libcl.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"

namespace
{

int32_t wdr_mode;

int32_t q14(double v)
{
	return (int32_t)lround(v * 16384.0);
}

} // namespace

extern "C" int __wrap_libcl_get_hdr_method(int, uint32_t *method)
{
	*method = 0;
	return 0;
}
extern "C" int __wrap_libcl_get_hdr_mode(int, uint32_t *mode)
{
	*mode = (uint32_t)wdr_mode;
	return 0;
}
extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = 1;
	return 0;
}
extern "C" int __wrap_libcl_get_aaa_state(int, aaa_state *state)
{
	memset(state, 0, sizeof(*state));
	return 0;
}
static shutter_gain library_record;
extern "C" int __wrap_libcl_get_shutter_and_gain(int, shutter_gain *sg)
{
	*sg = library_record;
	return 0;
}
extern "C" int __wrap_libcl_set_shutter_and_gain(int, const shutter_gain *sg)
{
	library_record = *sg;
	return 0;
}
extern "C" int __wrap_libcl_update_adj_index(int, double)
{
	return 256;
}
extern "C" int __wrap_libcl_set_shutter_correction(int, double)
{
	return 0;
}
extern "C" int __wrap__Z26sensor_get_exposure_limitsP6sensorPiS1_(sensor *, int32_t exposure[2],
                                                                  int32_t ratio[2])
{
	exposure[0] = 33333;
	exposure[1] = 4000;
	ratio[0] = q14(1.0);
	ratio[1] = q14(16.0);
	return 0;
}
extern "C" void __wrap__Z23sensor_update_framerateP6sensorid(sensor *, int32_t, double) {}
extern "C" double __wrap__Z30videoinput_input_get_framerateid(int, double)
{
	return 30;
}
extern "C" gboolean __wrap__Z30videoinput_input_set_framerateid(int, double)
{
	return TRUE;
}

namespace
{

const int line_us = 30;

sensor *bench_sensor()
{
	sensor *s = sensor_new();
	s->line_time = line_us * 16384;
	s->min_exposure_time = 31;
	s->max_exposure_time = 166667;
	s->min_gain = q14(1.0);
	s->max_gain = q14(64.0);
	s->gain_table_size = 300;
	s->gain_table = g_new0(uint32_t, s->gain_table_size);
	for (int i = 0; i < s->gain_table_size; i++)
		s->gain_table[i] = (uint32_t)q14(pow(10.0, i * 0.3 / 20.0));
	s->current_fps = 30 * 16384;
	s->exposure_to_lines = [](sensor *, int32_t us) { return us / line_us; };
	s->exposure_to_lines_for_frame = [](sensor *, int32_t us, int32_t) { return us / line_us; };
	s->lines_to_exposure = [](sensor *, int32_t lines) { return lines * line_us; };
	s->set_shutter = [](sensor *, int32_t, int32_t) { return 0; };
	s->set_shutters = [](sensor *, int, const int32_t *, const int32_t *lines, int32_t *out) {
		out[0] = lines[0];
		out[1] = lines[1];
		return 0;
	};
	s->set_gains = [](sensor *, int, const int32_t *, const int32_t *) { return 0; };
	s->get_wdr_mode = [](sensor *) { return wdr_mode; };
	return s;
}

ae_q14_list list(std::initializer_list<double> values)
{
	ae_q14_list l = {g_new0(int32_t, values.size()), values.size()};
	size_t i = 0;
	for (double v : values)
		l.values[i++] = q14(v);
	return l;
}

smart_ae_settings *bench_settings(bool wdr)
{
	auto *s = g_new0(smart_ae_settings, 1);
	s->sht_gain_delay = 1;
	s->ae_hysteresis = 5;
	s->ae_min_ev_change = 3;
	s->ae_min_ev_change_short = 1;
	s->ae_max_ef_change = 2;
	s->ae_max_agc = 18;
	s->ae_delay = 0;
	s->ae_delay_limit = 100;
	s->ae_etr_max = 1.5f;
	s->ae_high_sat_adjust_limit = 50;
	s->ae_high_sat_threshold = 100;
	s->ae_high_sat_max_mix = 0.75f;
	s->ae_high_sat_gain_limit = 6;
	s->ae_dual_gain_max_factor = 2;
	s->ae_dual_gain_max_factor_down = 2;
	s->max_db_offset_exprio = 3;
	s->ae_target_secure = 1;
	s->ae_gain_map = list({0, 12, 24, 36});
	s->ae_target_map = list({20, 20, 18, 16});
	s->ae_short_target_map = list({10, 10, 10, 10});
	s->ae_saturation_map = list({1, 1, 1, 1});
	s->ae_change_map = list({0, 20, 50, 100});
	s->ae_change_speed = list({20, 30, 50, 80});
	s->ae_change_speed_short = list({20, 30, 50, 80});
	s->lut_IR_min_effective_ef = 3;
	s->ae_enable_dynamic_lut = wdr;
	s->lut_enable_adaptive_threshold = wdr;
	return s;
}

image_stats_record stats_record(double weight, double saturation)
{
	image_stats_record r = {};
	r.header.type = SMART_AE_INPUT_STATS;
	r.header.stream_id = 0;
	for (hist_analysis *a : {&r.long_frame, &r.short_frame}) {
		a->bin_count = 64;
		a->weight = weight;
		a->weight_unsaturated = weight;
		a->saturation = saturation;
		a->saturation_raw = saturation;
		a->near_sat_target = 0.15;
		a->near_sat_position = 50;
		a->forecast_bin = 58;
		a->data_end = 58;
		for (double &p : a->level_position)
			p = 20;
	}
	r.short_frame.weight = weight / 2;
	return r;
}

int read_record(algo_step *step, control *engine)
{
	auto *rec = reinterpret_cast<const image_stats_record *>(control_get_input(engine));
	double w = rec ? rec->long_frame.weight : 0.0;
	benchmark::DoNotOptimize(w);
	benchmark::DoNotOptimize(step);
	return 0;
}

struct prodconf_stub {
	int unused;
} conf_stub;

struct bench_daemon {
	std::string root;
	platform *plat;
	control *engine;
	smart_ae_local *local;
	smart_ae_settings *settings;
};

bench_daemon daemon_up(bool wdr, bool trivial)
{
	bench_daemon d = {};
	wdr_mode = wdr ? 1 : 0;
	char tmpl[] = "/tmp/ae-step-XXXXXX";
	d.root = mkdtemp(tmpl);
	setenv("VISTRAD_ROOT", d.root.c_str(), 1);
	param_db_init();
	info_pool_init();
	d.plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
	platform_add_sensor(d.plat, bench_sensor(), 0);
	d.engine = control_new(d.plat);
	algo_group *group = algo_group_create(nullptr);
	algo_step *step;
	if (trivial) {
		step = algo_step_create_stream_id(0, nullptr, read_record, nullptr, nullptr);
	} else {
		d.local = g_new0(smart_ae_local, 1);
		d.settings = bench_settings(wdr);
		d.local->head.settings = d.settings;
		step = algo_step_create_stream_id(0, smart_ae_cl_init, smart_ae_cl_run, smart_ae_cl_destroy,
		                                  d.local);
	}
	algo_step_add_input_stream_id(step, SMART_AE_INPUT_STATS, 0);
	algo_group_insert(group, step);
	control_add_group(d.engine, group);
	control_init_groups(d.engine);
	return d;
}

void daemon_down(bench_daemon &d)
{
	control_stop(d.engine);
	control_free(d.engine);
	platform_destroy(d.plat);
	smart_ae_settings_free(d.settings);
	info_pool_free();
	param_db_free();
	std::string cmd = "rm -rf '" + d.root + "'";
	if (system(cmd.c_str()) != 0)
		abort();
	unsetenv("VISTRAD_ROOT");
}

void frames(benchmark::State &state, bool wdr, bool trivial, bool evaluating)
{
	bench_daemon d = daemon_up(wdr, trivial);
	image_stats_record scenes[2] = {stats_record(5, 0), stats_record(60, 3)};
	uint64_t n = 0;
	for (auto _ : state) {
		if (evaluating) {
			d.local->state.steps_pending = 0;
			d.local->state.delay_counter = 0;
		}
		control_dispatch(d.engine, &scenes[(n++ >> 2) & 1].header);
	}
	state.counters["ns_per_frame"] = benchmark::Counter(
	    (double)state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
	daemon_down(d);
}

void BM_SmartAeLinear(benchmark::State &state)
{
	frames(state, false, false, false);
}
void BM_SmartAeLinearEvaluating(benchmark::State &state)
{
	frames(state, false, false, true);
}
void BM_SmartAeWdrDynamicLut(benchmark::State &state)
{
	frames(state, true, false, false);
}
void BM_SmartAeWdrEvaluating(benchmark::State &state)
{
	frames(state, true, false, true);
}
void BM_TrivialStep(benchmark::State &state)
{
	frames(state, false, true, false);
}

} // namespace

BENCHMARK(BM_TrivialStep);
BENCHMARK(BM_SmartAeLinear);
BENCHMARK(BM_SmartAeLinearEvaluating);
BENCHMARK(BM_SmartAeWdrDynamicLut);
BENCHMARK(BM_SmartAeWdrEvaluating);
BENCHMARK_MAIN();
