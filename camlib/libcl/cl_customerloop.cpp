#include "cl_customerloop.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cl_log.h"
#include "img_lib.h"
#include "qvd_ioctl.h"

customerloop_state &cl_state(void)
{
	static customerloop_state *s = new customerloop_state;
	return *s;
}

static void free_paths(char **paths, int *present)
{
	for (int i = 0; i < CL_MAX_VINS; i++) {
		free(paths[i]);
		paths[i] = nullptr;
	}
	*present = 0;
}

// The caller's list ends at its first NULL; at most vin_count entries.
static void copy_paths(char **dst, int *present, char **src, int32_t count)
{
	free_paths(dst, present);
	for (int i = 0; src && i < count && src[i]; i++) {
		dst[i] = strdup(src[i]);
		*present = 1;
	}
}

int cl_customerloop_init(int32_t vin_count, char **dpc_paths, char **lens_shading_paths, uint32_t)
{
	customerloop_state &s = cl_state();
	if (vin_count < 1 || vin_count > CL_MAX_VINS) {
		cl_log(LOG_ERR, "ERROR: %s: number of vins %d, should be in range [1,%d]\n", __func__,
		       vin_count, CL_MAX_VINS);
		return 0;
	}
	int fd = open(QVD_DEVICE, O_RDWR | O_CLOEXEC);
	if (fd < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to open /dev/qvd %d\n", __func__, errno);
		return 0;
	}
	s.vin_count = vin_count;
	copy_paths(s.dpc_paths, &s.dpc_present, dpc_paths, vin_count);
	copy_paths(s.lens_shading_paths, &s.lens_shading_present, lens_shading_paths, vin_count);
	s.qvd_fd = fd;
	std::lock_guard<std::mutex> lk(s.state_mu);
	s.state = CL_STATE_INITIALISED;
	return 1;
}

void cl_customerloop_deinit(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.main_thread_running) {
		s.stop_request = 1;
		cl_main_loop_stop();
	}
	if (s.qvd_fd >= 0 && close(s.qvd_fd) < 0)
		cl_log(LOG_ERR, "ERROR: %s: Failed to close /dev/qvd %d\n", __func__, errno);
	s.qvd_fd = -1;
	free_paths(s.dpc_paths, &s.dpc_present);
	free_paths(s.lens_shading_paths, &s.lens_shading_present);
	s.state = CL_STATE_NONE;
}

static int wrong_state(const char *fn, uint32_t state)
{
	cl_log(LOG_WARNING, "WARNING: %s: Error: In wrong state %d\n\n", fn, (int)state);
	return 0;
}

int cl_customerloop_prepare_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state == CL_STATE_STARTED)
		return wrong_state(__func__, s.state);
	if (s.state == CL_STATE_PREPARED)
		return 1;
	if (start_aaa_init() != 0)
		return 0;
	s.state = CL_STATE_PREPARED;
	return 1;
}

int cl_customerloop_start_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state != CL_STATE_PREPARED)
		return wrong_state(__func__, s.state);
	s.stop_request = 0;
	cl_main_loop_start();
	s.state = CL_STATE_STARTED;
	return 1;
}

int cl_customerloop_stop_aaa(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	if (s.state != CL_STATE_STARTED)
		return wrong_state(__func__, s.state);
	s.stop_request = 1;
	cl_main_loop_stop();
	if (img_lib_deinit(nullptr) < 0)
		cl_log(LOG_ERR, "img_lib_deinit error!\n");
	s.state = CL_STATE_STOPPED;
	return 1;
}

int cl_customerloop_get_cl_state(uint32_t *state)
{
	if (!state) {
		cl_log(LOG_ERR, "ERROR: %s: state is null\n", __func__);
		return -1;
	}
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	*state = s.state;
	return 0;
}

int cl_customerloop_aaa_started(void)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.state_mu);
	return s.state == CL_STATE_STARTED;
}

int cl_customerloop_do_warp(void)
{
	cl_log(LOG_ERR, "ERROR: %s: do warp not implemented\n", __func__);
	return -1;
}

int cl_customerloop_do_dptz(void)
{
	cl_log(LOG_ERR, "ERROR: %s: do dptz not implemented\n", __func__);
	return -1;
}

// The frame thread has not parsed statistics yet: the block's written part
// reads as empty histograms.
int cl_customerloop_get_stats(int, libcl_stats *stats)
{
	customerloop_state &s = cl_state();
	std::lock_guard<std::mutex> lk(s.stats_mu);
	memset(stats, 0, LIBCL_STATS_WRITTEN);
	return 0;
}

// ---------------------------------------------------------------------------
// Least bodies until the settings store lands: every operation fails, so no
// caller takes a setting as stored or a record as filled.
// ---------------------------------------------------------------------------
int cl_customerloop_get_shutter_and_gain(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_shutter_and_gain(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_vin_aaa_info(int, uint8_t *)
{
	return -1;
}

int cl_customerloop_get_black_level(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_method(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_get_aaa_state(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_aaa_state(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_set_black_level(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_set_chroma_scale(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_set_sharpness_coring(int, uint32_t)
{
	return -1;
}

int cl_customerloop_set_local_exposure(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_blend_config(int, uint16_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_threshold(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_hdr_threshold(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_alpha_value(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_hdr_alpha_value(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_ce_config(int, uint8_t *)
{
	return -1;
}

int cl_customerloop_set_ce_config(int, const uint8_t *)
{
	return -1;
}

int cl_customerloop_get_ce_log_config(int, uint8_t *)
{
	return -1;
}

int cl_customerloop_set_ce_log_config(int, const uint8_t *)
{
	return -1;
}

int cl_customerloop_set_hdr_extern_lut(int, const uint8_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_extern_lut(int, uint8_t *)
{
	return -1;
}

int cl_customerloop_set_hdr_extern_drc(int, const uint8_t *)
{
	return -1;
}

int cl_customerloop_set_custom_hdr_luma_calc(int)
{
	return -1;
}

int cl_customerloop_enable_tone_curve(int, int32_t)
{
	return -1;
}

int cl_customerloop_set_tone_curve(int, const uint16_t *)
{
	return -1;
}

int cl_customerloop_get_tone_curve(int, uint16_t *)
{
	return -1;
}

int cl_customerloop_set_tc_curve(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_tc_curve(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_shutter_correction(int, double)
{
	return -1;
}

int cl_customerloop_update_adj_index(int)
{
	return -1;
}

int cl_customerloop_set_bw_mode(int, uint32_t)
{
	return -1;
}

int cl_customerloop_get_bw_mode(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_brightness(int, int32_t)
{
	return -1;
}

int cl_customerloop_set_saturation(int, int32_t)
{
	return -1;
}

int cl_customerloop_set_sharpness_level(int, int32_t)
{
	return -1;
}

int cl_customerloop_set_wb_gains(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_wb_gains(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_get_sensor_wb_gains(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_awb_flow(int, int32_t)
{
	return -1;
}

int cl_customerloop_set_hdr_boost_strength(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_get_hdr_mode(int, uint32_t *)
{
	return -1;
}

int cl_customerloop_set_hdr_alpha_table(int, const uint32_t *)
{
	return -1;
}

int cl_customerloop_set_global_dgain(int, int32_t)
{
	return -1;
}
