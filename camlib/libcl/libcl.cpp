// The API layer validates, forwards to the customer loop and reports; it
// never reaches the driver itself.
#include "libcl.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cl_customerloop.h"
#include "cl_log.h"
#include "cl_netlink.h"
#include "cl_tuning.h"

namespace
{

struct libcl_state {
	std::atomic<int> initialised{0};
	std::mutex mu; // serialises init and deinit only
};

libcl_state lib;

// Every per-channel call serves channel 0 only, however many VINs run.
constexpr int kMaxChannel = 0;

// The message's own prefix gives its priority; the one without a prefix is
// informational.
int refuse(const char *fmt, const char *fn, int channel)
{
	int priority = LOG_INFO;
	if (!strncmp(fmt, "ERROR:", 6))
		priority = LOG_ERR;
	else if (!strncmp(fmt, "WARNING:", 8))
		priority = LOG_WARNING;
	cl_log(priority, fmt, fn, channel);
	return -1;
}

int guard(const char *fn, int channel)
{
	if (!lib.initialised) {
		cl_log(LOG_DEBUG, "%s libcl is not initialized\n\n", fn);
		return -1;
	}
	if (channel < 0 || channel > kMaxChannel) {
		cl_log(LOG_WARNING, "WARNING: %s: Channel %d is not between 0 and %d\n", fn, channel,
		       kMaxChannel);
		return -1;
	}
	if (!cl_customerloop_aaa_started()) {
		cl_log(LOG_DEBUG, "%s: aaa is not started\n", fn);
		return -1;
	}
	return 0;
}

// The guard, then the record's NULL test with its own message.
int check(const char *fn, int channel, const void *record, const char *null_msg)
{
	if (guard(fn, channel) < 0)
		return -1;
	return record ? 0 : refuse(null_msg, fn, channel);
}

int initialised_for_stats_fd(const char *fn)
{
	if (lib.initialised)
		return 0;
	cl_log(LOG_WARNING, "WARNING: %s libcl is not initialized\n\n", fn);
	return -1;
}

} // namespace

// ---- lifecycle --------------------------------------------------------------

extern "C" int libcl_init(int32_t board_id, int32_t vin_count, char **dpc_paths, char **lens_shading_paths)
{
	std::lock_guard<std::mutex> lk(lib.mu);
	if (lib.initialised)
		return 1;
	if (!cl_customerloop_init(vin_count, dpc_paths, lens_shading_paths, 0)) {
		cl_log(LOG_ERR, "ERROR: failed to init customerloop\n");
		return 0;
	}
	cl_tuning_set_board(board_id);
	if (!cl_netlink_start()) {
		cl_log(LOG_ERR, "ERROR: failed to init netlink\n");
		// Leave nothing open for the next attempt.
		cl_customerloop_deinit();
		return 0;
	}
	lib.initialised = 1;
	return 1;
}

extern "C" void libcl_deinit(void)
{
	std::lock_guard<std::mutex> lk(lib.mu);
	if (!lib.initialised)
		return;
	cl_netlink_stop();
	cl_customerloop_deinit();
	cl_tuning_clear_board();
	lib.initialised = 0;
}

// ---- statistics and frame tick ----------------------------------------------

static int open_stats_fd(const char *path)
{
	return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

extern "C" int libcl_open_stats_fd(void)
{
	if (initialised_for_stats_fd(__func__) < 0)
		return -1;
	int fd = open_stats_fd("/proc/vorsalind/vin0_idsp");
	if (fd < 0)
		cl_log(LOG_ERR, "ERROR: failed to open vsync file: %s\n\n", strerror(errno));
	return fd;
}

extern "C" int libcl_open_stats_fd_by_vin(uint32_t vin)
{
	if (initialised_for_stats_fd(__func__) < 0)
		return -1;
	char path[64];
	snprintf(path, sizeof path, "/proc/vorsalind/vin%u_idsp", vin);
	int fd = open_stats_fd(path);
	if (fd < 0)
		cl_log(LOG_ERR, "ERROR: failed to open vsync file %s: %s\n\n", path, strerror(errno));
	return fd;
}

extern "C" int libcl_close_stats_fd(int fd)
{
	if (initialised_for_stats_fd(__func__) < 0)
		return -1;
	return close(fd);
}

extern "C" int libcl_get_aaa_started(uint32_t *started)
{
	if (!lib.initialised) {
		cl_log(LOG_DEBUG, "%s libcl is not initialized\n\n", __func__);
		return -1;
	}
	if (!started) {
		cl_log(LOG_ERR, "ERROR: %s: aaa_started is null\n", __func__);
		return -1;
	}
	*started = cl_customerloop_aaa_started() ? 1 : 0;
	return 0;
}

extern "C" int libcl_get_stats(int channel, libcl_stats *stats, uint32_t)
{
	if (check(__func__, channel, stats, "WARNING: %s: Channel %d: stats is NULL\n") < 0)
		return -1;
	return cl_customerloop_get_stats(channel, stats);
}

extern "C" int libcl_get_stats_all(libcl_stats *stats, uint32_t)
{
	if (!lib.initialised) {
		cl_log(LOG_DEBUG, "%s libcl is not initialized\n\n", __func__);
		return -1;
	}
	if (!cl_customerloop_aaa_started()) {
		cl_log(LOG_DEBUG, "%s: aaa is not started\n", __func__);
		return -1;
	}
	if (!stats) {
		cl_log(LOG_WARNING, "WARNING: %s: Channel all: stats is NULL\n", __func__);
		return -1;
	}
	return cl_customerloop_get_stats(0, stats);
}

// ---- sensor-facing calls: exposure, VIN information, black level, HDR method

extern "C" int libcl_get_shutter_and_gain(int channel, shutter_gain *sg)
{
	if (check(__func__, channel, sg, "WARNING: %s: Channel %d: shutter_gain is NULL\n") < 0)
		return -1;
	return cl_customerloop_get_shutter_and_gain(channel, sg->shutter);
}

extern "C" int libcl_set_shutter_and_gain(int channel, const shutter_gain *sg)
{
	if (check(__func__, channel, sg, "WARNING: %s: Channel %d: shutter_gain is NULL\n") < 0)
		return -1;
	return cl_customerloop_set_shutter_and_gain(channel, sg->shutter);
}

extern "C" int libcl_get_vin_aaa_info(int channel, vin_aaa_info *info)
{
	if (check(__func__, channel, info, "ERROR: %s: Channel %d info is null\n") < 0)
		return -1;
	return cl_customerloop_get_vin_aaa_info(channel, (uint8_t *)info);
}

extern "C" int libcl_get_black_level(int channel, libcl_black_level *level)
{
	if (check(__func__, channel, level, "WARNING: %s: Channel %d: black level is NULL\n") < 0)
		return -1;
	return cl_customerloop_get_black_level(channel, &level->deferred);
}

extern "C" int libcl_get_hdr_method(int channel, uint32_t *method)
{
	if (check(__func__, channel, method, "ERROR: %s: Channel %d hdr_method is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_method(channel, method);
}

// ---- per-channel settings ---------------------------------------------------

extern "C" int libcl_get_aaa_state(int channel, aaa_state *state)
{
	if (check(__func__, channel, state, "ERROR: %s: Channel %d aaa_state is null\n") < 0)
		return -1;
	return cl_customerloop_get_aaa_state(channel, &state->hold_ae);
}

extern "C" int libcl_set_aaa_state(int channel, const aaa_state *state)
{
	if (check(__func__, channel, state, "ERROR: %s: Channel %d aaa_state is null\n") < 0)
		return -1;
	return cl_customerloop_set_aaa_state(channel, &state->hold_ae);
}

extern "C" int libcl_set_black_level(int channel, const libcl_black_level *level)
{
	if (check(__func__, channel, level, "WARNING: %s: Channel %d: black level is NULL\n") < 0)
		return -1;
	return cl_customerloop_set_black_level(channel, &level->deferred);
}

extern "C" int libcl_set_chroma_scale(int channel, const libcl_chroma_scale *scale)
{
	if (check(__func__, channel, scale, "WARNING: %s: Channel %d: chroma scale is NULL\n") < 0)
		return -1;
	return cl_customerloop_set_chroma_scale(channel, &scale->enable);
}

extern "C" int libcl_set_sharpness_coring(int channel, uint32_t coring)
{
	if (guard(__func__, channel) < 0)
		return -1;
	return cl_customerloop_set_sharpness_coring(channel, coring);
}

extern "C" int libcl_set_local_exposure(int channel, const libcl_local_exposure *le)
{
	if (check(__func__, channel, le, "%s: Channel %d: local exposure is NULL\n") < 0)
		return -1;
	return cl_customerloop_set_local_exposure(channel, le->word);
}

extern "C" int libcl_get_hdr_blend_config(int channel, uint16_t *blend)
{
	if (check(__func__, channel, blend, "ERROR: %s: Channel %d hdr_blend_info is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_blend_config(channel, blend);
}

extern "C" int libcl_get_hdr_threshold(int channel, uint32_t *threshold)
{
	if (check(__func__, channel, threshold, "ERROR: %s: Channel %d hdr_threshold is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_threshold(channel, threshold);
}

extern "C" int libcl_set_hdr_threshold(int channel, const uint32_t *threshold)
{
	if (check(__func__, channel, threshold, "ERROR: %s: Channel %d hdr_threshold is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_threshold(channel, threshold);
}

extern "C" int libcl_get_hdr_alpha_value(int channel, uint32_t *alpha)
{
	if (check(__func__, channel, alpha, "ERROR: %s: Channel %d alpha_value is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_alpha_value(channel, alpha);
}

extern "C" int libcl_set_hdr_alpha_value(int channel, const uint32_t *alpha)
{
	if (check(__func__, channel, alpha, "ERROR: %s: Channel %d alpha_value is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_alpha_value(channel, alpha);
}

extern "C" int libcl_get_ce_config(int channel, uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d ce_values is null\n") < 0)
		return -1;
	return cl_customerloop_get_ce_config(channel, record);
}

extern "C" int libcl_set_ce_config(int channel, const uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d ce_values is null\n") < 0)
		return -1;
	return cl_customerloop_set_ce_config(channel, record);
}

extern "C" int libcl_get_ce_log_config(int channel, uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d ce_values is null\n") < 0)
		return -1;
	return cl_customerloop_get_ce_log_config(channel, record);
}

extern "C" int libcl_set_ce_log_config(int channel, const uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d ce_values is null\n") < 0)
		return -1;
	return cl_customerloop_set_ce_log_config(channel, record);
}

extern "C" int libcl_set_hdr_extern_lut(int channel, const uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d LUT is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_extern_lut(channel, record);
}

extern "C" int libcl_get_hdr_extern_lut(int channel, uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d LUT is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_extern_lut(channel, record);
}

extern "C" int libcl_set_hdr_extern_drc(int channel, const uint8_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d DRC is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_extern_drc(channel, record);
}

extern "C" int libcl_set_custom_hdr_luma_calc(int channel)
{
	if (guard(__func__, channel) < 0)
		return -1;
	return cl_customerloop_set_custom_hdr_luma_calc(channel);
}

extern "C" int libcl_enable_tone_curve(int channel, int32_t mode)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (mode < -1 || mode > 2) {
		cl_log(LOG_ERR, "ERROR: %s: Channel %d TC mode %d is incorrect\n", __func__, channel, mode);
		return -1;
	}
	return cl_customerloop_enable_tone_curve(channel, mode);
}

extern "C" int libcl_set_tone_curve(int channel, const uint16_t *curve)
{
	if (check(__func__, channel, curve, "ERROR: %s: Channel %d tone curve is null\n") < 0)
		return -1;
	return cl_customerloop_set_tone_curve(channel, curve);
}

extern "C" int libcl_get_tone_curve(int channel, uint16_t *curve)
{
	if (check(__func__, channel, curve, "ERROR: %s: Channel %d tone curve is null\n") < 0)
		return -1;
	return cl_customerloop_get_tone_curve(channel, curve);
}

extern "C" int libcl_set_tc_curve(int channel, const uint32_t *curve)
{
	if (check(__func__, channel, curve, "ERROR: %s: Channel %d tone curve is null\n") < 0)
		return -1;
	return cl_customerloop_set_tc_curve(channel, curve);
}

extern "C" int libcl_get_tc_curve(int channel, uint32_t *curve)
{
	if (check(__func__, channel, curve, "ERROR: %s: Channel %d tone curve is null\n") < 0)
		return -1;
	return cl_customerloop_get_tc_curve(channel, curve);
}

extern "C" int libcl_set_filter_dboffset(int channel, double)
{
	return guard(__func__, channel);
}

extern "C" int libcl_set_shutter_correction(int channel, double factor)
{
	if (guard(__func__, channel) < 0)
		return -1;
	return cl_customerloop_set_shutter_correction(channel, factor);
}

// The index follows the stored gain; the value given is only checked.
extern "C" int libcl_update_adj_index(int channel, double gain)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (gain < 0)
		return refuse("ERROR: %s: Channel %d gain cannot be negativ\n", __func__, channel);
	return cl_customerloop_update_adj_index(channel);
}

extern "C" int libcl_set_bw_mode(int channel, uint32_t mode)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (mode > 1)
		return refuse("ERROR: %s: Invalid value for black & white mode for channel %d\n", __func__,
		              channel);
	return cl_customerloop_set_bw_mode(channel, mode);
}

extern "C" int libcl_get_bw_mode(int channel, uint32_t *mode)
{
	if (check(__func__, channel, mode, "ERROR: %s: Channel %d BW enable is null\n") < 0)
		return -1;
	return cl_customerloop_get_bw_mode(channel, mode);
}

extern "C" int libcl_set_brightness_ctrl(int channel, const int32_t *brightness)
{
	if (check(__func__, channel, brightness, "ERROR: %s: Channel %d brightness is null\n") < 0)
		return -1;
	return cl_customerloop_set_brightness(channel, *brightness);
}

extern "C" int libcl_set_saturation_ctrl(int channel, const int32_t *saturation)
{
	if (check(__func__, channel, saturation, "ERROR: %s: Channel %d saturation is null\n") < 0)
		return -1;
	return cl_customerloop_set_saturation(channel, *saturation);
}

extern "C" int libcl_set_sharpness_ctrl(int channel, const int32_t *level)
{
	if (check(__func__, channel, level, "ERROR: %s: Channel %d sharpness_level is null\n") < 0)
		return -1;
	return cl_customerloop_set_sharpness_level(channel, *level);
}

extern "C" int libcl_set_wb_gains(int channel, const libcl_wb_gains *gains)
{
	if (check(__func__, channel, gains, "ERROR: %s: Channel %d wb_gain is null\n") < 0)
		return -1;
	return cl_customerloop_set_wb_gains(channel, &gains->r_gain);
}

extern "C" int libcl_get_wb_gains(int channel, libcl_wb_gains *gains)
{
	if (check(__func__, channel, gains, "ERROR: %s: Channel %d wb_gain is null\n") < 0)
		return -1;
	return cl_customerloop_get_wb_gains(channel, &gains->r_gain);
}

extern "C" int libcl_get_sensor_wb_gains(int channel, libcl_sensor_wb_gains *gains)
{
	if (check(__func__, channel, gains, "ERROR: %s: Channel %d wb_sensor_gain is null\n") < 0)
		return -1;
	return cl_customerloop_get_sensor_wb_gains(channel, gains->gain);
}

extern "C" int libcl_set_awb_flow(int channel, int32_t flow)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (flow < 0)
		return refuse("ERROR: %s: Channel %d wb_mode is null\n", __func__, channel);
	return cl_customerloop_set_awb_flow(channel, flow);
}

extern "C" int libcl_set_awb_speed(int channel, int32_t speed)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (speed < 0)
		return refuse("ERROR: %s: Channel %d awb speed cannot be negative\n", __func__, channel);
	return 0;
}

extern "C" int libcl_set_hdr_boost_strength(int channel, const uint32_t *strength)
{
	if (check(__func__, channel, strength, "ERROR: %s: Channel %d hdr_boost_str is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_boost_strength(channel, strength);
}

extern "C" int libcl_get_hdr_mode(int channel, uint32_t *mode)
{
	if (check(__func__, channel, mode, "ERROR: %s: Channel %d mode is null\n") < 0)
		return -1;
	return cl_customerloop_get_hdr_mode(channel, mode);
}

extern "C" int libcl_set_hdr_alpha_table(int channel, const uint32_t *record)
{
	if (check(__func__, channel, record, "ERROR: %s: Channel %d hdr_alpha_table is null\n") < 0)
		return -1;
	return cl_customerloop_set_hdr_alpha_table(channel, record);
}

extern "C" int libcl_set_global_dgain(int channel, int32_t dgain)
{
	if (guard(__func__, channel) < 0)
		return -1;
	if (dgain < 0)
		return refuse("ERROR: %s: Channel %d global_dgain is invalid\n", __func__, channel);
	return cl_customerloop_set_global_dgain(channel, dgain);
}

// ---- accepted without effect ------------------------------------------------

extern "C" int libcl_get_hdr_blend(int channel, uint8_t *record)
{
	return check(__func__, channel, record, "ERROR: %s: Channel %d hdr_blend is null\n");
}

extern "C" int libcl_set_hdr_blend(int channel, const uint8_t *record)
{
	return check(__func__, channel, record, "ERROR: %s: Channel %d hdr_blend is null\n");
}

extern "C" int libcl_set_low_light_mode(int channel, uint32_t mode)
{
	if (guard(__func__, channel) < 0)
		return -1;
	return mode > 1 ? refuse("ERROR: %s: Channel %d low_light_mode is null\n", __func__, channel) : 0;
}

extern "C" int libcl_override_shutter_ratio(int channel, float shutter)
{
	if (guard(__func__, channel) < 0)
		return -1;
	return shutter < 0 ? refuse("ERROR: %s: Channel %d shutter should be positive\n", __func__, channel)
	                   : 0;
}

extern "C" int libcl_enable_ldc(int channel, const void *params)
{
	return check(__func__, channel, params, "ERROR: %s: Channel %d ldc params are null\n");
}

extern "C" int libcl_disable_ldc(int channel)
{
	return guard(__func__, channel);
}
