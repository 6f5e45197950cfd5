/* Channel description and configuration posting. */
#include "img_channel.h"

#include "aaa_parser.h"
#include "awb.h"
#include "img_adj_filter.h"
#include "img_adj_le.h"
#include "img_adj_settings.h"
#include "img_algo_pending.h"
#include "img_dsp_raw.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "smooth_change.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include <atomic>

/* Whether the library's own channels are posted (service mode). */
static uint32_t lib_post_enable[IMG_MAX_CHANNELS] = {1, 1, 1, 1};

/* Whether a context's last post failed. Posting runs every frame, and a
 * kernel that keeps refusing would otherwise fill the terminal with the same
 * line: a failure is printed when a run of them begins. */
static std::atomic<bool> post_failing[IMG_MAX_CHANNELS];

/* ---- the description -------------------------------------------------- */

static uint16_t round16(uint32_t v)
{
	return (uint16_t)((v + 15) & ~15u);
}

/* Sensor HDR kinds that name a method of their own. */
#define HDR_KIND_SENSOR_8 8u

/* The HDR method of the driver's description; false when it names none.
 * Mode 15 with a kind of no method leaves the method as it was. */
static bool hdr_method(const qvd_vin_aaa_info *a, uint32_t *method)
{
	uint32_t type = a->hdr_type, mode = a->hdr_mode, kind = a->hdr_kind;
	if (type == 0 && mode == 0) {
		*method = 0;
	} else if (type == 0 && mode >= 1 && mode <= 3) {
		*method = kind == HDR_KIND_SENSOR_8 ? 2 : 1;
	} else if (type == 0 && mode == 15) {
		if (kind == HDR_KIND_SENSOR_8)
			*method = 3;
		else if (kind == 0x301c || kind == 0x101a || kind == 0x101b)
			*method = 8;
	} else if (type == 1 && mode == 1) {
		*method = 5;
	} else if (type == 1 && mode == 2) {
		*method = 7;
	} else if (type == 1 && mode == 15) {
		if (kind == 0x100f || kind == 0x1016)
			*method = 4;
	} else if (type == 2 && mode == 1) {
		*method = 6;
	} else {
		return false;
	}
	return true;
}

static void fill_from_resource(channel_info *ci, const qvd_system_resource *res, const qvd_vin_resource *r)
{
	ci->tuning_key = (res->tuning_word >> 8) & 7;
	ci->expo_num = (r->ctrl >> QVD_VIN_CTRL_EXPO_SHIFT) & QVD_VIN_CTRL_EXPO_MASK;
	ci->dsp_hdr = (r->hdr_flags >> QVD_VIN_HDR_DSP_SHIFT) & QVD_VIN_HDR_DSP_MASK;
	ci->vsrc_id = (uint8_t)r->source_id;
	ci->sensor_ctrl = (r->ctrl & QVD_VIN_CTRL_SENSOR) != 0;
	ci->vin_config = res->vin_config;
	ci->hdr_flag = r->hdr_flags & QVD_VIN_HDR_FLAG;
	ci->follow_chan = r->follow_chan;
}

static int request(int fd, unsigned long code, void *arg, const char *what)
{
	if (ioctl(fd, code, arg) < 0) {
		perror(what);
		return -1;
	}
	return 0;
}

/* One channel; false when the fill must stop here. */
static bool fill_channel(int fd, int c, const qvd_system_resource *res, channel_info *ci, img_channel_vin *v)
{
	const qvd_vin_resource *r = &res->vin[c];
	v->config_id = (uint32_t)(c * img_lib_get_cfg_num());
	v->post_enable = 1;
	qvd_vin_videoinfo info;
	memset(&info, 0, sizeof info);
	info.source_id = r->source_id;
	info.mode = QVD_VIDEOINFO_CURRENT;
	if (request(fd, QVD_IOC_VIN_GET_VIDEOINFO, &info, "QVD_IOC_VIN_GET_VIDEOINFO") != 0)
		return false;
	/* Every word the fill does not name is 0; the method stays until the
	 * driver's description says otherwise. */
	uint32_t method = ci->hdr_method;
	memset(ci, 0, sizeof *ci);
	ci->hdr_method = method;
	fill_from_resource(ci, res, r);
	printf("======>p_img_config->vsrc_id=%d,sensor_ctrl =%d\n", ci->vsrc_id, ci->sensor_ctrl);
	ci->vin_width = round16(info.width);
	ci->vin_height = round16(info.height);
	ci->pattern = info.pattern;
	if (QVD_VIN_FORMAT_IS_YUV(info.format)) {
		ci->yuv = 1;
		printf("yuv_sensor input!3A won't run\n");
	}
	qvd_video_proc proc;
	memset(&proc, 0, sizeof proc);
	proc.kind = QVD_VIDEO_PROC_MAIN;
	proc.channel = (uint32_t)c;
	if (request(fd, QVD_IOC_GET_VIDEO_PROC, &proc, "QVD_IOC_GET_VIDEO_PROC") != 0)
		return false;
	ci->main_width = round16(proc.main_width);
	ci->main_height = round16(proc.main_height);
	memset(&v->aaa_info, 0, sizeof v->aaa_info);
	v->aaa_info.source_id = r->source_id;
	if (request(fd, QVD_IOC_VIN_GET_AAAINFO, &v->aaa_info, "QVD_IOC_VIN_GET_AAAINFO error\n") != 0)
		return false;
	ci->hdr_curve = v->aaa_info.hdr_curve & 1;
	ci->bayer = v->aaa_info.bayer;
	memset(&v->agc, 0, sizeof v->agc);
	v->agc.source_id = r->source_id;
	if (request(fd, QVD_IOC_VIN_GET_AGC, &v->agc, "QVD_IOC_VIN_GET_AGC error\n") != 0)
		return false;
	v->gain_unit = v->aaa_info.gain_unit;
	if (!hdr_method(&v->aaa_info, &ci->hdr_method)) {
		printf("error: invalid vin ( HDR ) sensor info.\n");
		return false;
	}
	return true;
}

int img_fill_channel_info(int fd, const qvd_system_resource *res, channel_info info[IMG_MAX_CHANNELS],
                          img_channel_vin vin[IMG_MAX_CHANNELS])
{
	if (!res || !info || !vin)
		return -1;
	/* The answer's count is the driver's word: never past our four. */
	int count = res->vin_num < IMG_MAX_CHANNELS ? res->vin_num : IMG_MAX_CHANNELS;
	for (int c = 0; c < count; c++)
		if (!fill_channel(fd, c, res, &info[c], &vin[c]))
			return -1;
	return 0;
}

/* ---- image-kernel defaults --------------------------------------------- */

static void ce_defaults(img_dsp_contrast_enhance *ce, const channel_info *ci)
{
	static const uint8_t linear[20] = {0x00, 0x02, 0x08, 0x18, 0x00, 0x01, 0x01, 0x08, 0x08, 0x01,
	                                   0x01, 0x08, 0x09, 0x0a, 0x03, 0x14, 0x14, 0x50, 0x04, 0x14};
	static const uint8_t dsp_hdr[20] = {0x01, 0x06, 0x06, 0x10, 0x01, 0x01, 0x01, 0x08, 0x08, 0x01,
	                                    0x01, 0x08, 0x0a, 0x28, 0x03, 0x08, 0x08, 0xb4, 0x04, 0x08};
	static const uint8_t weights[2][4] = {{4, 4, 4, 4}, {0, 8, 8, 0}};
	uint8_t *b = (uint8_t *)ce;
	memset(ce, 0, sizeof *ce);
	bool hdr = ci->dsp_hdr != 0;
	uint16_t radius = hdr ? 25 : 0;
	memcpy(b + 1, &radius, 2);
	memcpy(b + 3, weights[ci->rgb_ir != 0], 4);
	memcpy(b + 7, hdr ? dsp_hdr : linear, 20);
	memset(b + 27, hdr ? 6 : 0, 64);
	uint16_t out = 2048;
	memcpy(b + 91, &out, 2);
	for (int i = 0; i < 256; i++)
		ce->output_table[i] = (uint16_t)(64 * i);
}

/* White balance: the DSP-combined channel starts neutral, the others from
 * what white balance left pending for them, else neutral. */
static void wb_defaults(img_dsp_wb_gain *wb, int c, const channel_info *ci)
{
	*wb = img_dsp_wb_gain{4096, 4096, 4096, 4096, 4096};
	if (ci->dsp_hdr)
		return;
	const awb_chan_store *st = awb_get_chan_store(c);
	if (st && st->pending) {
		wb->GainR = st->preload[0] * 4;
		wb->GainG = st->preload[1] * 4;
		wb->GainB = st->preload[2] * 4;
		return;
	}
	img_adj_le_init();
}

static void channel_defaults(int fd, img_dsp_mode *mode, int c, const channel_info *ci)
{
	img_dsp_vin_sensor_info sensor;
	memset(&sensor, 0, sizeof sensor);
	sensor.FieldFormat = 1;
	sensor.Resolution = 14;
	sensor.Pattern = (uint8_t)ci->bayer;
	vors_img_dsp_set_vin_sensor_info(mode, &sensor);
	img_dsp_vignette_bypass vignette;
	memset(&vignette, 0, sizeof vignette);
	vors_img_dsp_set_vignette_compensation_bypass(fd, mode, &vignette);
	img_dsp_wb_gain wb;
	wb_defaults(&wb, c, ci);
	vors_img_dsp_set_wb_gain(fd, mode, &wb);
	img_dsp_dgain_saturation_level dgain = {16383, 16383, 16383, 16383};
	vors_img_dsp_set_dgain_saturation_level(fd, mode, &dgain);
	img_dsp_local_exposure le;
	memset(&le, 0, sizeof le);
	vors_img_dsp_set_local_exposure(fd, mode, &le);
	img_dsp_size_info size;
	memset(&size, 0, sizeof size);
	size.width_in = ci->vin_width;
	size.height_in = ci->vin_height;
	size.main_out_width = ci->main_width;
	size.main_out_height = ci->main_height;
	vors_img_dsp_set_size_info(mode, &size);
	img_dsp_contrast_enhance_decimation_factor dec;
	memset(&dec, 0, sizeof dec);
	dec.factor[0] = 4;
	dec.factor[1] = ci->vin_width <= 720 ? 2 : 4;
	dec.factor[2] = ci->vin_width <= 3072 ? 2 : 4;
	vors_img_dsp_set_contrast_enhance_internal_setting(fd, mode, &dec);
	img_dsp_contrast_enhance ce;
	ce_defaults(&ce, ci);
	vors_img_dsp_set_contrast_enhance(fd, mode, &ce);
	img_dsp_demosaic_internal demosaic;
	memset(&demosaic, 0, sizeof demosaic);
	demosaic.enable = ci->no_demosaic ? 0 : 1;
	vors_img_dsp_set_demosaic_internal(fd, mode, &demosaic);
	img_dsp_3a_histogram hist;
	hist.mode = 2;
	hist.histogram_select = 0;
	for (uint16_t &m : hist.ae_file_mask)
		m = 4095;
	vors_img_dsp_set_3a_histogram(fd, mode, &hist);
}

int img_init_channel_dsp_config(int fd, img_dsp_mode *mode, const channel_info info[IMG_MAX_CHANNELS])
{
	img_adj_init_settings();
	if (!mode || !info)
		return 0;
	int n = img_adj_get_channel_count();
	for (int c = 0; c < n && c < IMG_MAX_CHANNELS; c++) {
		mode->ContextId = (uint8_t)c;
		mode->FuncMode = info[c].dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
		lib_post_enable[c] = 1;
		post_failing[c] = false;
		channel_defaults(fd, mode, c, &info[c]);
	}
	return 0;
}

/* ---- posting ------------------------------------------------------------ */

static uint32_t func_mode(const channel_info *ci)
{
	if (ci->yuv)
		return IMG_DSP_FUNC_CLISO;
	return ci->dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
}

int img_post_channel_cfgs(int fd, int mode, const channel_info *info, int count, uint32_t *config_id,
                          const uint32_t *post_enable)
{
	if (!info || !config_id || !post_enable)
		return -1;
	uint32_t n = (uint32_t)img_lib_get_cfg_num();
	for (int c = 0; c < count && c < IMG_MAX_CHANNELS; c++) {
		if (!post_enable[c] && !img_hdr_get_enable(c))
			continue;
		if (mode == IMG_POST_CHANGED &&
		    vors_img_dsp_ctx_update_pending(IMG_DSP_PIPE_VIDEO, (uint8_t)c) <= 0)
			continue;
		uint32_t id = config_id[c];
		img_dsp_mode m;
		memset(&m, 0, sizeof m);
		m.Pipe = IMG_DSP_PIPE_VIDEO;
		m.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		m.FuncMode = func_mode(&info[c]);
		m.ContextId = (uint8_t)c;
		m.BatchId = IMG_DSP_BATCH_NONE;
		m.ConfigId = (uint8_t)id;
		if (vors_img_dsp_post_exe_cfg(fd, &m) < 0) {
			if (!post_failing[c].exchange(true))
				printf("post fail, context_id =%d,config_id=%d\n", c, (int)id);
			return -1;
		}
		post_failing[c] = false;
		uint32_t next = (id + 1) % n + n * (uint32_t)c;
		config_id[c] = next;
		img_dsp_cfg_id dst = {IMG_DSP_PIPE_VIDEO, (uint8_t)next, {0, 0, 0}};
		img_dsp_cfg_id src = {IMG_DSP_PIPE_VIDEO, (uint8_t)id, {0, 0, 0}};
		if (vors_img_dsp_clone_iso_cfg(&dst, &src) < 0) {
			printf("clone fail, context_id =%d,config_id=%d\n", c, (int)next);
			return -1;
		}
	}
	return 0;
}

int img_post_cfg(int fd, int mode)
{
	channel_info info[IMG_MAX_CHANNELS];
	uint32_t ids[IMG_MAX_CHANNELS];
	int count = img_get_vin_chan_num();
	for (int c = 0; c < count; c++) {
		info[c] = img_lib_aaa_chan(c)->info;
		ids[c] = img_lib_aaa_chan(c)->config_id;
	}
	int rc = img_post_channel_cfgs(fd, mode, info, count, ids, lib_post_enable);
	for (int c = 0; c < count; c++)
		img_lib_aaa_chan(c)->config_id = ids[c];
	return rc;
}

/* ---- noise estimate ------------------------------------------------------ */

#define NOISE_HIST_BINS 242
#define NOISE_HIST_TOP_WEIGHT 192u
#define NOISE_SMOOTH_SPEED 8

uint32_t img_noise_estimate(const aaa_parse_out *parsed, int chan)
{
	if (!parsed || chan < 0 || chan >= IMG_MAX_CHANNELS)
		return 0;
	const aaa_parse_result *r = &parsed->chan[chan];
	uint64_t sum = 0, n = 0;
	for (uint32_t i = 0; i < AAA_AE_TILES; i++) {
		if (r->set.ae[i].cfa_luma == 0)
			continue;
		sum += r->set.ae[i].cfa_luma;
		n++;
	}
	uint64_t m = n ? sum / n : 0;
	uint64_t a = (m >> 4) * (m >> 4);
	uint64_t weighted = 0, total = 0;
	for (uint32_t i = 0; i < NOISE_HIST_BINS; i++) {
		uint32_t w = i < NOISE_HIST_TOP_WEIGHT ? i : NOISE_HIST_TOP_WEIGHT;
		weighted += (uint64_t)w * r->sensor_hist.bin[i];
		total += r->sensor_hist.bin[i];
	}
	uint64_t h = total ? weighted / total : 0;
	uint64_t b = 2 * h * h;
	int32_t estimate = (int32_t)sqrt((double)(a + b) * 2 / 6);
	int32_t level = smooth_change(estimate, (int32_t)img_adj_get_noise_level(chan), NOISE_SMOOTH_SPEED);
	img_adj_set_noise_level(chan, (uint32_t)level);
	return (uint32_t)level;
}
