// The camera library brought up on n default video inputs as its prepare
// leaves it (channels described, image kernel, HDR and filter headers
// initialised), on a simulated SoC that hands over a ready frame at once,
// so that a benchmark can run the frame thread's work on its own thread.
#pragma once

#include <stdint.h>
#include <sys/ioctl.h>

#include "awb.h"
#include "cl_customerloop.h"
#include "cl_log.h"
#include "cl_main_loop.h"
#include "hal_vin.h"
#include "img_adj_filter.h"
#include "img_channel.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "libcl.h"
#include "qvd_ioctl.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_vin.h"

namespace bench
{

inline void libcl_quiet(int, const char *) {}

inline bool libcl_bring_up(unsigned n)
{
	simsoc_qvd_reset();
	simsoc_scene_reset();
	simsoc_qvd_board board;
	simsoc_qvd_default_board(&board);
	board.vin_count = n;
	for (unsigned i = 1; i < n; i++) {
		board.vin[i] = board.vin[0];
		board.vin[i].source_id = (int32_t)i;
	}
	simsoc_qvd_set_board(&board);
	cl_set_log_fn(libcl_quiet);
	if (libcl_init(1024, (int32_t)n, nullptr, nullptr) != 1)
		return false;
	customerloop_state &s = cl_state();
	int fd = s.qvd_fd;
	qvd_system_resource res{};
	res.query = QVD_RESOURCE_GENERIC;
	if (ioctl(fd, QVD_IOC_GET_SYSTEM_RESOURCE, &res) != 0)
		return false;
	channel_info info[IMG_MAX_CHANNELS] = {};
	img_channel_vin vin[IMG_MAX_CHANNELS];
	if (img_fill_channel_info(fd, &res, info, vin) != 0)
		return false;
	for (unsigned c = 0; c < n; c++) {
		s.channel[c] = cl_channel();
		s.channel[c].info = info[c];
		s.channel[c].config_id = 9 * c;
	}
	img_set_vin_chan_num((int)n);
	if (img_lib_init(fd, nullptr) != 0)
		return false;
	hal_init_channel_vsrc_mapping(fd);
	awb_set_instance_count((int)n);
	awb_set_channel_info(info);
	img_adj_set_channel_count((int)n);
	img_adj_set_channel_info(info);
	img_hdr_set_channel_info(info);
	img_adj_init_filter_headers();
	img_hdr_init_params();
	img_hdr_init_dsp_config(fd, &s.hdr_mode, cl_frame_inputs_get().hdr_fs);
	img_init_channel_dsp_config(fd, &s.main_mode, info);
	simsoc_vin_set_framerate(0, 0);
	simsoc_qvd_replay(1);
	simsoc_vin_tick(0);
	return true;
}

inline void libcl_bring_down()
{
	cl_main_loop_end(cl_state().qvd_fd);
	simsoc_qvd_replay(0);
	img_lib_deinit(nullptr);
	libcl_deinit();
	cl_set_log_fn(nullptr);
}

} // namespace bench
