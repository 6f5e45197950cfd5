#include "snr_estimate.h"

#include <glib.h>
#include <stddef.h>
#include <stdlib.h>

#include "algo_cl_modules.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/control_timeout.h"
#include "core/debug_output.h"
#include "core/info_pool.h"
#include "core/param_db.h"
#include "core/prodconf_schema_build.h"
#include "fixmath.h"
#include "platform/platform.h"
#include "platform/sensor.h"
#include "step_support.h"

namespace
{

enum {
	INFO_SENSOR_GAIN = 14,
	INFO_SNR = 79,
	INFO_SNR_DB = 80,
	PARAM_SNR = 68,
};

const int64_t Q14_ONE = 16384;
const int64_t Q14_TWENTY = 327680;

const prodconf_field settings_fields[] = {
    prodconf_field_i32("default_set_point", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(snr_settings, default_set_point), SNR_DEFAULT_SET_POINT),
};

// Process-wide: the gain-read failure is reported once in the life of the process.
bool gain_failure_unreported = true;

snr_state *state_of(algo_step *step)
{
	return static_cast<snr_state *>(algo_step_get_local_data(step));
}

// The sensor of the step's own stream: another channel may have another sensor.
sensor *step_sensor(algo_step *step, control *engine, const char *who)
{
	platform *plat = control_get_platform(engine);
	if (!plat) {
		debug_output(DEBUG_WARNING, 0, "%s: Could not get platform\n", who);
		return nullptr;
	}
	sensor *s = platform_get_sensor_for_stream(plat, step->stream_id);
	if (!s)
		debug_output(DEBUG_WARNING, 0, "%s: Could not get sensor\n", who);
	return s;
}

void release_record(control_job *job)
{
	g_free(job);
}

} // namespace

const struct prodconf_schema snr_settings_schema = {"config", sizeof(snr_settings), settings_fields,
                                                    G_N_ELEMENTS(settings_fields)};

const struct algo_cl_module snr_vors_gen01_module = {&snr_settings_schema,
                                                     sizeof(snr_state),
                                                     snr_vors_gen01_init,
                                                     snr_vors_gen01_run,
                                                     snr_vors_gen01_destroy,
                                                     {},
                                                     0,
                                                     {SNR_DATA_TYPE},
                                                     1,
                                                     snr_vors_gen01_specifics,
                                                     nullptr};

int64_t snr_q14_div(int64_t a, int64_t b)
{
	int64_t half = llabs(b) / 2;
	return (a * Q14_ONE + (a >= 0 ? half : -half)) / b;
}

void snr_vors_gen01_specifics(struct prodconf *, struct control *engine, int32_t stream_id,
                              struct algo_step *step, void *settings)
{
	snr_state *s = state_of(step);
	if (!s)
		return;
	const snr_settings *conf = static_cast<const snr_settings *>(settings);
	s->set_point = g_new(int32_t, 1);
	*s->set_point = conf ? conf->default_set_point : SNR_DEFAULT_SET_POINT;
	s->interval = {0, 200000};
	s->timeout = step_timeout_start(engine, step, stream_id, &s->interval);
}

int snr_vors_gen01_init(struct algo_step *step, struct control *engine)
{
	snr_state *s = state_of(step);
	if (!s || !s->set_point)
		return -1;
	sensor *sen = step_sensor(step, engine, "snr_vors_gen01_init");
	if (!sen)
		return -1;
	int32_t fw_adu = sensor_get_full_well_adu8(sen);
	if (fw_adu <= 0) {
		debug_output(DEBUG_WARNING, 0, "%s: fw_adu should be positive \n", "snr_vors_gen01_init");
		return -1;
	}
	s->conversion_gain = (int32_t)snr_q14_div(sensor_get_full_well(sen), fw_adu);
	return 0;
}

int snr_vors_gen01_run(struct algo_step *step, struct control *engine)
{
	snr_state *s = state_of(step);
	if (!s || !s->set_point)
		return -1;
	sensor *sen = step_sensor(step, engine, "snr_vors_gen01_run");
	if (!sen)
		return -1;
	if (s->timeout)
		control_start_timeout(engine, s->timeout, &s->interval);

	int32_t gain = 0;
	int read = info_pool_get_imfix(INFO_SENSOR_GAIN, step->stream_id, &gain);
	if (read != 0) {
		if (gain_failure_unreported) {
			gain_failure_unreported = false;
			debug_output(DEBUG_INFO, 0, "%s: unable to get sensor_gain from info_pool\n",
			             "snr_vors_gen01_run");
		}
		return -1;
	}
	if (gain <= 0) {
		debug_output(DEBUG_WARNING, 0, "noise estimation: gains must be positive: %f\n",
		             gain / 16384.0);
		return -1;
	}
	uint32_t p = (uint32_t)*s->set_point;
	if (p > 128) {
		p = SNR_DEFAULT_SET_POINT;
		debug_output(DEBUG_WARNING, 0, "SNR: default set point out of range, using default\n");
	}
	int64_t set_point = (int64_t)p * Q14_ONE;
	int64_t r = sensor_get_read_noise_min_gain(sen);
	int64_t r2 = (((r * r) >> 13) + 1) >> 1;
	int32_t e = (int32_t)snr_q14_div(s->conversion_gain, gain);
	int32_t signal = (int32_t)(((int64_t)e * set_point) >> 14);
	int32_t noise = fx_sqrtx((int32_t)(signal + r2), 14);
	if (noise == 0)
		noise = (int32_t)Q14_ONE;
	int32_t ratio = (int32_t)snr_q14_div(signal, noise);

	int sum = read;
	sum += info_pool_set_imfix(INFO_SNR, step->stream_id, INFO_POOL_VOLATILE, ratio);
	int32_t db = (int32_t)(((int64_t)fx_log10x(ratio, 14) * Q14_TWENTY) >> 14);
	sum += info_pool_set_imfix(INFO_SNR_DB, step->stream_id, INFO_POOL_VOLATILE, db);
	if (sum < 0)
		return sum;

	snr_record *rec = g_new0(snr_record, 1);
	rec->header.type = SNR_DATA_TYPE;
	rec->header.stream_id = step->stream_id;
	rec->header.release = release_record;
	rec->snr = ratio;
	param_set_int(PARAM_SNR, step->stream_id, ((ratio >> 13) + 1) >> 1);
	return control_queue_job(engine, &rec->header);
}

int snr_vors_gen01_destroy(struct algo_step *step, struct control *engine)
{
	snr_state *s = state_of(step);
	if (!engine || !s)
		return -1;
	g_free(s->set_point);
	s->set_point = nullptr;
	return 0;
}
