/* The 3A prepare: from an opened video driver to a 3A pipeline ready for
 * the frame thread, and the static bad-pixel maps it loads on the way. */
#include "cl_customerloop.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "cl_log.h"
#include "cl_main_loop.h"
#include "hal_vin.h"
#include "img_adj_filter.h"
#include "img_adj_settings.h"
#include "img_dsp_raw.h"
#include "img_lib.h"
#include "qvd_ioctl.h"

static int get_system_resource(int fd, qvd_system_resource *res)
{
	memset(res, 0, sizeof *res);
	res->query = QVD_RESOURCE_GENERIC;
	return ioctl(fd, QVD_IOC_GET_SYSTEM_RESOURCE, res);
}

static void reset_mode(img_dsp_mode *m)
{
	*m = img_dsp_mode{0, 1, 0, 0, {}, IMG_DSP_BATCH_NONE, 0, {}};
}

// The encode mode's chroma radius bounds the image kernel's and the filter
// pipeline's.
static int set_chroma_radius(customerloop_state &s)
{
	uint8_t rec[QVD_ENC_MODE_CAP_SIZE] = {QVD_RESOURCE_GENERIC};
	if (ioctl(s.qvd_fd, QVD_IOC_QUERY_ENC_MODE_CAP, rec) != 0) {
		cl_perror("QVD_IOC_QUERY_ENC_MODE_CAP");
		return -1;
	}
	uint64_t cap;
	memcpy(&cap, rec, sizeof cap);
	uint32_t radius = 1u << (((cap >> 16) & 3) + 5);
	img_dsp_variable_range range = {(uint8_t)radius, 1, {}};
	vors_img_dsp_set_variable_range(&s.main_mode, &range);
	img_adj_set_max_chroma_radius(&radius);
	return 0;
}

static void fill_channels(customerloop_state &s)
{
	qvd_system_resource res;
	if (get_system_resource(s.qvd_fd, &res) < 0) {
		cl_perror("QVD_IOC_GET_SYSTEM_RESOURCE_GENERIC\n");
		return;
	}
	channel_info info[IMG_MAX_CHANNELS];
	img_channel_vin vin[IMG_MAX_CHANNELS];
	memset(vin, 0, sizeof vin);
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		info[c] = s.channel[c].info;
	img_fill_channel_info(s.qvd_fd, &res, info, vin);
	static_assert(sizeof(vin_aaa_info) == sizeof(qvd_vin_aaa_info), "AAA information");
	static_assert(CL_AGC_RECORD_SIZE == sizeof(qvd_vin_agc), "AGC record");
	for (int c = 0; c < s.vin_count; c++) {
		cl_channel &ch = s.channel[c];
		ch.info = info[c];
		ch.config_id = (uint32_t)c * 9;
		ch.post_enable = 1;
		memcpy(&ch.aaa_info, &vin[c].aaa_info, sizeof ch.aaa_info);
		memcpy(ch.agc_record, &vin[c].agc, sizeof ch.agc_record);
		ch.aaa_gain_unit = vin[c].aaa_info.gain_unit;
	}
}

static int build_containers(const customerloop_state &s)
{
	static img_adj_tuning tunings[IMG_MAX_CHANNELS];
	for (auto &t : tunings)
		memcpy(t, s.row->filters, sizeof t);
	if (img_adj_init_containers_liso(tunings) != 0) {
		cl_log(LOG_ERR, "img_adj_init_containers_liso fail\n");
		return -1;
	}
	return 0;
}

static void reset_aaa_blocks(customerloop_state &s)
{
	for (cl_channel &ch : s.channel) {
		for (cl_aaa_exposure &x : ch.aaa.expo) {
			x.shutter = 0;
			x.agc = 0;
			x.dgain = 4096;
		}
		ch.aaa.wb_r_gain = ch.aaa.wb_g_gain = ch.aaa.wb_b_gain = 1024;
		ch.adj_index = 256;
	}
}

// What the frame thread starts from: the 3A configuration blocks as the
// tuning left them in the 3A library, and the statistics grids. White
// balance creates its instances from these blocks; empty ones would give
// presets and zones of zero, and so gains of zero.
static void fill_frame_inputs(const customerloop_state &s)
{
	cl_frame_inputs &in = cl_frame_inputs_get();
	for (int c = 0; c < CL_MAX_VINS; c++) {
		const img_aaa_chan *ch = c < s.vin_count ? img_lib_aaa_chan(c) : nullptr;
		if (ch)
			memcpy(in.aaa_cfg[c], ch->cfg, IMG_AAA_CFG_SIZE);
		else
			memset(in.aaa_cfg[c], 0, IMG_AAA_CFG_SIZE);
		in.ae_tile[c] = s.channel[c].ae_tile;
		in.awb_tile[c] = s.channel[c].awb_tile;
		in.af_tile[c] = s.channel[c].af_tile;
	}
}

static void init_modules(customerloop_state &s)
{
	channel_info info[IMG_MAX_CHANNELS];
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		info[c] = s.channel[c].info;
	img_adj_init_filter_headers();
	img_hdr_init_params();
	img_hdr_init_dsp_config(s.qvd_fd, &s.hdr_mode, cl_frame_inputs_get().hdr_fs);
	img_init_channel_dsp_config(s.qvd_fd, &s.main_mode, info);
	img_adj_apply_initial_filters(s.qvd_fd, &s.main_mode);
}

// A DSP already running takes only what changed; otherwise every channel
// starts from a full configuration.
static void post_first_cfgs(customerloop_state &s)
{
	uint32_t dsp = 0;
	int mode = IMG_POST_ALL;
	if (ioctl(s.qvd_fd, QVD_IOC_GET_QVD_STATE, &dsp) < 0)
		cl_perror("QVD_IOC_GET_QVD_STATE");
	else if (dsp == QVD_STATE_RUNNING || dsp == QVD_STATE_RUNNING_B)
		mode = IMG_POST_CHANGED;
	channel_info info[IMG_MAX_CHANNELS];
	uint32_t config_id[IMG_MAX_CHANNELS], post_enable[IMG_MAX_CHANNELS];
	for (int c = 0; c < IMG_MAX_CHANNELS; c++) {
		info[c] = s.channel[c].info;
		config_id[c] = s.channel[c].config_id;
		post_enable[c] = s.channel[c].post_enable;
	}
	img_post_channel_cfgs(s.qvd_fd, mode, info, s.vin_count, config_id, post_enable);
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		s.channel[c].config_id = config_id[c];
}

// Steps after the image kernel's bring-up; a failure leaves it to the
// caller to take the bring-up down again.
static int prepare_pipeline(customerloop_state &s)
{
	reset_mode(&s.main_mode);
	reset_mode(&s.hdr_mode);
	if (set_chroma_radius(s) != 0)
		return -1;
	fill_channels(s);
	const channel_info &ci = s.channel[0].info;
	s.expo_num = ci.expo_num;
	const tuning_row *row = cl_tuning_lookup((int32_t)ci.tuning_key, (int32_t)ci.dsp_hdr,
	                                         (int32_t)ci.expo_num, (int32_t)ci.hdr_method);
	if (!row) {
		cl_log(LOG_ERR, "ERROR: %s: failed to lookup params\n", "start_aaa_init");
		return -1;
	}
	s.row = row;
	cl_tuning_distribute(row);
	hal_init_channel_vsrc_mapping(s.qvd_fd);
	if (build_containers(s) != 0)
		return -1;
	int hdr = ci.dsp_hdr != 0 || ci.hdr_method == 4;
	if (!cl_load_bins(s.qvd_fd, row->sensor_name, s.vin_count, hdr, &s.main_mode)) {
		cl_log(LOG_ERR, "ERROR: %s: failed to load bins\n", "load_cc_bin");
		return -1;
	}
	cl_tuning_stats_config();
	fill_frame_inputs(s);
	reset_aaa_blocks(s);
	init_modules(s);
	if (s.dpc_present && cl_apply_dpc() != 0)
		cl_log(LOG_ERR, "Error: failed to apply dpc\n");
	post_first_cfgs(s);
	return 0;
}

int start_aaa_init(void)
{
	customerloop_state &s = cl_state();
	qvd_system_resource res;
	if (get_system_resource(s.qvd_fd, &res) < 0) {
		cl_perror("QVD_IOC_GET_SYSTEM_RESOURCE_GENERIC\n");
		return -1;
	}
	int vins = res.vin_num;
	cl_log(LOG_INFO, "vin_channel_num =%d\n", vins);
	if (vins < 1 || vins > CL_MAX_VINS) {
		cl_log(LOG_ERR, "vin_channel_num range is [1,%d]!\n", CL_MAX_VINS);
		return -1;
	}
	s.vin_count = vins;
	img_set_vin_chan_num(vins);
	// Without the image kernel's memory nothing after this could work: a
	// failed bring-up fails the prepare.
	const uint8_t defblc = 0;
	if (img_lib_init(s.qvd_fd, &defblc) != 0) {
		cl_log(LOG_ERR, "ERROR: %s: img_lib_init failed\n", __func__);
		return -1;
	}
	if (prepare_pipeline(s) != 0) {
		// The next prepare starts from a clean image kernel.
		img_lib_deinit(nullptr);
		return -1;
	}
	s.stop_request = 0;
	return 0;
}

// ---------------------------------------------------------------------------
// Static bad-pixel maps.
// ---------------------------------------------------------------------------
namespace
{

struct dpc_geometry {
	uint32_t width, height, pitch, size; /* size: one VIN's map */
};

int read_dpc_geometry(int fd, dpc_geometry *g)
{
	qvd_system_resource res;
	if (get_system_resource(fd, &res) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read system resources: %s\n\n", "cl_apply_dpc",
		       strerror(errno));
		return -1;
	}
	qvd_vin_videoinfo info;
	memset(&info, 0, sizeof info);
	info.source_id = res.vin[0].source_id;
	info.mode = QVD_VIDEOINFO_CURRENT;
	if (ioctl(fd, QVD_IOC_VIN_GET_VIDEOINFO, &info) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read video info: %s\n\n", "cl_apply_dpc",
		       strerror(errno));
		return -1;
	}
	g->width = info.width;
	g->height = info.height;
	g->pitch = ((info.width >> 3) + 31) & ~31u;
	g->size = g->height * g->pitch;
	return 0;
}

// Exactly one map's bytes from the file; 0, or -1 when reported.
int read_dpc_map(const char *path, uint8_t *dst, uint32_t size)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to open %s: %s\n\n", "cl_apply_dpc", path,
		       strerror(errno));
		return -1;
	}
	uint32_t done = 0;
	int rc = 0;
	while (done < size) {
		ssize_t n = read(fd, dst + done, size - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			cl_log(LOG_ERR, "ERROR: %s: Failed to read DPC map from %s: %s\n\n", "cl_apply_dpc",
			       path, strerror(errno));
			rc = -1;
			break;
		}
		if (n == 0)
			break;
		done += (uint32_t)n;
	}
	if (rc == 0 && done != size) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read DPC map from %s: got %d bytes, expected %d\n\n",
		       "cl_apply_dpc", path, (int)done, (int)size);
		rc = -1;
	}
	close(fd);
	return rc;
}

int apply_vin_map(customerloop_state &s, int vin, const dpc_geometry &g, uint8_t *map)
{
	s.main_mode.ContextId = (uint8_t)vin;
	const uint8_t highlight = 1;
	if (vors_img_dsp_set_static_bad_pixel_correction_highlight_mode(&s.main_mode, &highlight) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Channel %d failed to set SBP highlight mode\n", "cl_apply_dpc",
		       vin);
		return -1;
	}
	img_dsp_sbp_bypass b = {3, 0, (uint16_t)g.width, (uint16_t)g.height, (uint16_t)g.pitch, map};
	if (vors_img_dsp_set_static_bad_pixel_correction_bypass(s.qvd_fd, &s.main_mode, &b) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Channel %d failed to set SBP correction\n", "cl_apply_dpc", vin);
		return -1;
	}
	return 0;
}

} // namespace

int cl_apply_dpc(void)
{
	customerloop_state &s = cl_state();
	dpc_geometry g;
	if (read_dpc_geometry(s.qvd_fd, &g) != 0)
		return -1;
	qvd_imgproc_map m = {QVD_IMGPROC_BUF_SBP, 0, 0, 0};
	if (ioctl(s.qvd_fd, QVD_IOC_MAP_IMGPROC, &m) < 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed to read SBP buffer info: %s\n\n", __func__,
		       strerror(errno));
		return -1;
	}
	void *buf =
	    mmap(nullptr, (size_t)m.length, PROT_READ | PROT_WRITE, MAP_SHARED, s.qvd_fd, (off_t)m.addr);
	if (buf == MAP_FAILED) {
		cl_log(LOG_ERR, "ERROR: BPC mmap failed\n\n");
		return -1;
	}
	int rc = 0;
	for (int i = 0; i < s.vin_count && i < CL_MAX_VINS; i++) {
		if (!s.dpc_paths[i])
			continue;
		// Each VIN has its own slot; one that lies past the buffer is
		// skipped rather than written beyond the mapping.
		uint64_t end = (uint64_t)(i + 1) * g.size;
		if (g.size == 0 || end > m.length) {
			cl_log(LOG_ERR, "ERROR: BPC mem map size %u is not enough!\n\n", (unsigned)m.length);
			rc = -1;
			continue;
		}
		uint8_t *map = (uint8_t *)buf + (size_t)i * g.size;
		if (read_dpc_map(s.dpc_paths[i], map, g.size) != 0 || apply_vin_map(s, i, g, map) != 0)
			rc = -1;
	}
	munmap(buf, (size_t)m.length);
	return rc;
}
