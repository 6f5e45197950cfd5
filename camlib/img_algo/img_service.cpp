/* The 3A service: frame tick, configuration entries, prepare, threads. */
#include "img_service.h"

#include "aaa_parser.h"
#include "ae.h"
#include "af.h"
#include "awb.h"
#include "cl_aaa_block.h"
#include "hal_vin.h"
#include "img_adj_filter.h"
#include "img_adj_le.h"
#include "img_adj_settings.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "img_lib.h"
#include "img_vsrc_cal.h"
#include "img_work.h"
#include "lens_drv.h"
#include "qvd_ioctl.h"
#include "vorsalind_proc.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

/* ---- frame tick ---- */

static std::atomic<int> tick_fd{-1};

int hal_init_vin_tick(void)
{
	int fd = open(VORSALIND_VIN0_IDSP, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		perror(VORSALIND_VIN0_IDSP);
		return -1;
	}
	tick_fd = fd;
	return 0;
}

int hal_wait_vin_tick(void)
{
	int fd = tick_fd;
	uint64_t frame;
	if (fd < 0 || read(fd, &frame, sizeof frame) != (ssize_t)sizeof frame)
		return -1;
	lseek(fd, 0, SEEK_SET);
	return 0;
}

int hal_deinit_vin_tick(void)
{
	int fd = tick_fd.exchange(-1);
	if (fd < 0)
		return 0;
	return close(fd) == 0 ? 0 : -1;
}

int hal_vin_tick_fd(void)
{
	return tick_fd;
}

/* ---- service state ---- */

static img_dsp_mode main_mode;
static img_dsp_mode hdr_mode;
static img_hdr_frame_settings frame_settings[IMG_MAX_CHANNELS];
static cl_aaa_block blocks[IMG_MAX_CHANNELS];
static af_config af_cfg;
static uint32_t custom_aaa;
static uint32_t print_switch;
static std::atomic<uint32_t> frames_run{0};

static int chan_count(void)
{
	int n = img_get_vin_chan_num();
	return n > IMG_MAX_CHANNELS ? IMG_MAX_CHANNELS : n;
}

uint32_t img_service_frames(void)
{
	return frames_run;
}

/* ---- configuration entries ---- */

int img_config_channel_info(int fd, const channel_info *info)
{
	if (!info)
		return -1;
	channel_info all[IMG_MAX_CHANNELS];
	memset(all, 0, sizeof all);
	for (int c = 0; c < chan_count(); c++) {
		all[c] = info[c];
		img_lib_aaa_chan(c)->info = info[c];
	}
	ae_set_channel_info(all);
	awb_set_channel_info(all);
	img_adj_set_channel_info(all);
	img_hdr_set_channel_info(all);
	return hal_init_channel_vsrc_mapping(fd);
}

int img_config_sensor_cfg(const uint16_t *cfg)
{
	if (!cfg)
		return -1;
	for (int c = 0; c < chan_count(); c++) {
		const uint16_t *w = cfg + (size_t)c * IMG_SENSOR_CFG_WORDS;
		img_aaa_chan *a = img_lib_aaa_chan(c);
		img_dsp_ae_tile_cfg ae;
		img_dsp_awb_tile_cfg awb;
		img_dsp_af_tile_cfg af;
		memcpy(&ae, w, sizeof ae);
		memcpy(&awb, w + 8, 8 * sizeof(uint16_t));
		awb.pix_min_value = w[16];
		awb.pix_max_value = w[17];
		memcpy(&af, w + 18, sizeof af);
		memcpy(a->cfg + IMG_AAA_STAT_AE_AT, &ae, sizeof ae);
		memcpy(a->cfg + IMG_AAA_STAT_AWB_AT, &awb, sizeof awb);
		memcpy(a->cfg + IMG_AAA_STAT_AF_AT, &af, sizeof af);
		if (c == 0)
			parse_aaa_set_sensor_desc(w + 27);
	}
	for (int c = 0; c < chan_count(); c++) {
		img_aaa_chan *a = img_lib_aaa_chan(c);
		const uint32_t flags[4] = {1, 1, 1, a->info.expo_num};
		memcpy(a->cfg + IMG_AAA_STAT_FLAGS_AT, flags, sizeof flags);
	}
	return 0;
}

/* The channel's statistics configuration as its block keeps it. */
static int config_stat(int fd, int c, uint32_t enable)
{
	const img_aaa_chan *a = img_lib_aaa_chan(c);
	img_dsp_ae_tile_cfg ae;
	img_dsp_awb_tile_cfg awb;
	img_dsp_af_tile_cfg af;
	memcpy(&ae, a->cfg + IMG_AAA_STAT_AE_AT, sizeof ae);
	memcpy(&awb, a->cfg + IMG_AAA_STAT_AWB_AT, sizeof awb);
	memcpy(&af, a->cfg + IMG_AAA_STAT_AF_AT, sizeof af);
	img_dsp_mode m = main_mode;
	m.ContextId = (uint8_t)c;
	m.FuncMode = a->info.dsp_hdr ? IMG_DSP_FUNC_NO_HDR : 0;
	return vors_img_dsp_3a_config_aaa_stat(fd, enable, &m, &ae, &awb, &af);
}

static void reset_mode(img_dsp_mode *m)
{
	memset(m, 0, sizeof *m);
	m->AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	m->BatchId = IMG_DSP_BATCH_NONE;
}

int img_service_prepare(int fd)
{
	reset_mode(&main_mode);
	reset_mode(&hdr_mode);
	channel_info info[IMG_MAX_CHANNELS];
	memset(info, 0, sizeof info);
	for (int c = 0; c < chan_count(); c++)
		info[c] = img_lib_aaa_chan(c)->info;
	img_adj_init_filter_headers();
	img_hdr_init_params();
	img_hdr_init_dsp_config(fd, &hdr_mode, frame_settings);
	img_init_channel_dsp_config(fd, &main_mode, info);
	img_adj_apply_initial_filters(fd, &main_mode);
	for (int c = 0; c < chan_count(); c++)
		config_stat(fd, c, 1);
	uint32_t state = 0;
	if (ioctl(fd, QVD_IOC_GET_QVD_STATE, &state) < 0) {
		perror("QVD_IOC_GET_QVD_STATE");
		return -1;
	}
	if ((state == 1 || state == 2) && img_post_cfg(fd, IMG_POST_CHANGED) != 0) {
		printf("img_post_cfg fail!\n");
		return -1;
	}
	return 0;
}

/* ---- HDR switch ---- */

typedef struct hdr_saved {
	bool off;
	uint32_t pair;
	img_ratio_limits limits;
	uint32_t alpha[4];
	int32_t drc[4];
} hdr_saved;

static hdr_saved saved[IMG_MAX_CHANNELS];

static void hand_channel_info(void)
{
	channel_info all[IMG_MAX_CHANNELS];
	memset(all, 0, sizeof all);
	for (int c = 0; c < chan_count(); c++)
		all[c] = img_lib_aaa_chan(c)->info;
	ae_set_channel_info(all);
	awb_set_channel_info(all);
	img_adj_set_channel_info(all);
	img_hdr_set_channel_info(all);
}

int img_service_hdr_switch(int chan, int on)
{
	if (chan < 0 || chan >= chan_count()) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	hdr_saved *s = &saved[chan];
	img_hdr_blend_config bc;
	if (!on && !s->off) {
		img_hdr_get_blend_config(&s->pair, chan);
		img_get_ratio_limits_in_effect(chan, &s->limits);
		img_hdr_get_alpha_value(s->alpha, chan);
		img_hdr_get_drc_strength(s->drc, chan);
		const img_ratio_limits neutral = {0, 16, 16};
		img_set_ratio_limits_in_effect(chan, &neutral);
		const int32_t no_drc[4] = {0, 0, 0, 0};
		img_hdr_set_drc_strength(no_drc, chan);
		bc = {16, (uint16_t)(s->pair >> 16)};
		s->off = true;
	} else if (on && s->off) {
		img_set_ratio_limits_in_effect(chan, &s->limits);
		img_hdr_set_alpha_value(s->alpha, chan);
		img_hdr_set_drc_strength(s->drc, chan);
		bc = {(uint16_t)(s->pair & 0xffff), (uint16_t)(s->pair >> 16)};
		s->off = false;
	} else {
		return 0;
	}
	hand_channel_info();
	static const uint32_t refresh[] = {9, 25, 26, 27, 28, 29, 30, 31, 45};
	for (uint32_t id : refresh)
		img_adj_refresh_filter(id);
	img_hdr_request_update(chan);
	return img_hdr_set_shutter_ratio(&bc, chan);
}

/* ---- threads ---- */

/* Moves the focus runs asked for and the lens thread has not made yet,
 * under lens_mu: handed over by the frame loop, so a request made while
 * the lens thread is busy adds to what waits instead of being lost. */
typedef struct lens_moves {
	int32_t focus, zoom;
	int16_t speed;
} lens_moves;

static lens_moves pending_moves[IMG_MAX_CHANNELS];

/* Called with lens_mu held. */
static void take_requests(void)
{
	for (int c = 0; c < chan_count(); c++) {
		af_output *out = (af_output *)blocks[c].af_out;
		if (out->focus_move)
			pending_moves[c].focus += out->focus_steps;
		if (out->zoom_move)
			pending_moves[c].zoom += out->zoom_steps;
		if (out->focus_move || out->zoom_move)
			pending_moves[c].speed = out->speed;
		out->focus_move = out->zoom_move = 0;
	}
}

static img_service_sync sync_;
static std::atomic<int> main_exit{0};
static pthread_mutex_t lens_mu = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t lens_cond = PTHREAD_COND_INITIALIZER;
static int lens_exit;   /* under lens_mu */
static int lens_wakeup; /* under lens_mu */

void img_service_set_sync(const img_service_sync *sync)
{
	sync_ = *sync;
}

void img_service_stop_main(void)
{
	main_exit = 1;
}

int img_service_stop_lens(void)
{
	pthread_mutex_lock(&lens_mu);
	lens_exit = 1;
	int rc = pthread_cond_signal(&lens_cond);
	pthread_mutex_unlock(&lens_mu);
	return rc == 0 ? 0 : -1;
}

void img_service_reset_stop(void)
{
	main_exit = 0;
	pthread_mutex_lock(&lens_mu);
	lens_exit = 0;
	lens_wakeup = 0;
	memset(pending_moves, 0, sizeof pending_moves);
	pthread_mutex_unlock(&lens_mu);
}

int img_service_wake_lens(void)
{
	pthread_mutex_lock(&lens_mu);
	take_requests();
	lens_wakeup = 1;
	int rc = pthread_cond_signal(&lens_cond);
	pthread_mutex_unlock(&lens_mu);
	return rc == 0 ? 0 : -1;
}

static void post(void *sem)
{
	if (sem)
		sem_post((sem_t *)sem);
}

static void move(int32_t n, int16_t speed, int (*pos)(int32_t, uint32_t), int (*neg)(int32_t, uint32_t))
{
	if (n > 0 && pos)
		pos(speed, (uint32_t)n);
	else if (n < 0 && neg)
		neg(speed, (uint32_t)-n);
}

/* One round over the channels with the moves taken from the queue. */
static void lens_round(const lens_moves *moves)
{
	const img_lens_driver *lens = img_lens_active_driver();
	for (int c = 0; c < chan_count(); c++) {
		const lens_moves *m = &moves[c];
		if (!m->focus && !m->zoom) {
			if (lens->idle)
				lens->idle(1);
			continue;
		}
		move(m->focus, m->speed, lens->focus_pos, lens->focus_neg);
		move(m->zoom, m->speed, lens->zoom_pos, lens->zoom_neg);
	}
}

void *img_service_lens(void *)
{
	post(sync_.lens_ready);
	pthread_mutex_lock(&lens_mu);
	for (;;) {
		/* The stop word is read under the mutex, so a stop signalled
		 * before this wait is not lost. */
		while (!lens_exit && !lens_wakeup)
			pthread_cond_wait(&lens_cond, &lens_mu);
		if (lens_exit)
			break;
		lens_wakeup = 0;
		lens_moves moves[IMG_MAX_CHANNELS];
		memcpy(moves, pending_moves, sizeof moves);
		memset(pending_moves, 0, sizeof pending_moves);
		pthread_mutex_unlock(&lens_mu);
		lens_round(moves);
		pthread_mutex_lock(&lens_mu);
	}
	pthread_mutex_unlock(&lens_mu);
	return NULL;
}

static uint32_t cfg_word(const uint8_t *ae, size_t word)
{
	uint32_t v;
	memcpy(&v, ae + 4 * word, sizeof v);
	return v;
}

/* An AE configuration read from a channel's block; tables point into it. */
static void ae_config_of(int c, ae_config *cfg, ae_line lines[AE_MAX_LINES])
{
	const uint8_t *a = img_lib_aaa_chan(c)->cfg;
	const uint8_t *ae = a + IMG_AAA_AE_CFG_AT;
	uint32_t n = cfg_word(ae, IMG_AE_CFG_LINE_NUM);
	memcpy(lines, ae + 4 * IMG_AE_CFG_LINES, sizeof(ae_line) * AE_MAX_LINES);
	uint32_t agc_num = cfg_word(ae, IMG_AE_CFG_AGC_NUM), sht_num = cfg_word(ae, IMG_AE_CFG_SHT_NUM);
	cfg->lines = lines;
	cfg->line_num = n;
	cfg->agc_gain = (const uint32_t *)(ae + 4 * IMG_AE_CFG_AGC);
	cfg->agc_num = agc_num > IMG_AE_CFG_AGC_MAX ? IMG_AE_CFG_AGC_MAX : agc_num;
	cfg->shutter = (const uint32_t *)(ae + 4 * IMG_AE_CFG_SHT);
	cfg->shutter_num = sht_num > IMG_AE_CFG_SHT_MAX ? IMG_AE_CFG_SHT_MAX : sht_num;
	cfg->sensor_gain_max = cfg_word(a + IMG_AAA_SENSOR_AT, 0);
	cfg->agc_step = cfg_word(ae, IMG_AE_CFG_AGC_STEP);
}

int img_service_ae_lines(uint32_t mask)
{
	ae_config cfgs[AE_MAX_INSTANCES];
	static ae_line lines[AE_MAX_INSTANCES][AE_MAX_LINES];
	memset(cfgs, 0, sizeof cfgs);
	for (int c = 0; c < chan_count(); c++)
		ae_config_of(c, &cfgs[c], lines[c]);
	return ae_set_lines(cfgs, mask);
}

/* The 3A configuration blocks one after the other, as the white-balance
 * creation reads them. */
static uint8_t awb_blocks[IMG_MAX_CHANNELS][AWB_TUNING_STRIDE];

static void init_instances(void)
{
	int n = chan_count();
	ae_set_instance_num(n);
	awb_set_instance_count(n);
	af_set_instance_num(n);
	hand_channel_info();
	ae_config cfgs[AE_MAX_INSTANCES];
	static ae_line lines[AE_MAX_INSTANCES][AE_MAX_LINES];
	memset(cfgs, 0, sizeof cfgs);
	for (int c = 0; c < n; c++)
		ae_config_of(c, &cfgs[c], lines[c]);
	if (ae_create_instances(cfgs) != 0)
		printf("img_algo: no exposure instances\n");
	for (int c = 0; c < n; c++)
		memcpy(awb_blocks[c], img_lib_aaa_chan(c)->cfg, AWB_TUNING_STRIDE);
	if (awb_create_instances(awb_blocks[0] + IMG_AAA_AWB_CFG_AT) != 0)
		printf("img_algo: no white-balance instances\n");
	af_config_default(&af_cfg);
	const uint8_t *cfg_of[IMG_MAX_CHANNELS] = {NULL};
	for (int c = 0; c < n; c++)
		cfg_of[c] = img_lib_aaa_chan(c)->cfg;
	memset(blocks, 0, sizeof blocks);
	if (img_lib_hook(IMG_AAA_HOOK_AF_INIT))
		img_lib_custom_af_init(&af_cfg);
	else if (af_create_instances(&af_cfg, cfg_of, blocks) == 0) {
		const uint32_t on[IMG_MAX_CHANNELS] = {1, 1, 1, 1};
		af_set_enable(on, (1u << n) - 1);
	}
	img_adj_init_settings();
	for (int c = 0; c < n; c++) {
		blocks[c].wb_update = 1;
		blocks[c].wb_r_gain = blocks[c].wb_g_gain = blocks[c].wb_b_gain = 1024;
	}
}

/* The first exposures of the sensors the library drives, as a sequence. */
static void initial_exposures(int fd)
{
	qvd_apply_seq counts;
	memset(&counts, 0, sizeof counts);
	for (int c = 0; c < chan_count(); c++) {
		const img_aaa_chan *a = img_lib_aaa_chan(c);
		if (!a->info.sensor_ctrl)
			continue;
		const uint8_t *s = a->cfg + IMG_AAA_SENSOR_AT;
		qvd_vin_sht_agc_seq seq;
		memset(&seq, 0, sizeof seq);
		seq.source_id = a->info.vsrc_id;
		bool linear = !a->info.dsp_hdr && a->info.hdr_method != 4;
		if (linear) {
			memcpy(&seq.shutter[0], s + 12, 4);
			memcpy(&seq.agc[0], s + 16, 4);
		} else {
			for (int i = 0; i < 4; i++) {
				seq.shutter[i] = s[20 + i];
				seq.agc[i] = seq.dgain[i] = s[24 + i];
			}
			counts.count[c] = s[32];
		}
		if (ioctl(fd, QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ, &seq) < 0) {
			perror("QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ error");
			return;
		}
	}
	if (ioctl(fd, QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI, &counts) < 0)
		printf("QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI error\n");
}

static int apply_pending(int fd)
{
	qvd_apply_pending rec;
	memset(&rec, 0, sizeof rec);
	rec.cmd = QVD_APPLY_PENDING_CMD;
	rec.vin_mask = (1u << chan_count()) - 1;
	if (ioctl(fd, QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &rec) < 0) {
		printf("call ioctl QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG fail\n");
		return -1;
	}
	return 0;
}

/* Work-mode changes first, each answered on the semaphore once the queue
 * behind it is empty; then the commands. */
static void take_messages(int fd, int qid)
{
	static img_msg m;
	ssize_t n;
	bool mode_changed = false;
	/* A refused change answers nobody: only img_change_work_mode waits,
	 * and it sends valid ones. */
	while ((n = img_queue_recv(qid, IMG_MSG_WORK_MODE, &m, 0)) >= 0)
		if (img_service_command(fd, &m, n) != -2)
			mode_changed = true;
	while ((n = img_queue_recv(qid, IMG_MSG_COMMAND, &m, 0)) >= 0)
		img_service_command(fd, &m, n);
	if (mode_changed)
		post(sync_.mode_done);
}

/* Statistics are fetched into one static area. */
static uint8_t stat_area[AAA_STAT_AREA_SIZE];
static aaa_parse_out parsed;

void *img_service_main(void *arg)
{
	int fd = (int)(intptr_t)arg;
	int qid = img_queue();
	aaa_stat_desc desc;
	aaa_stat_desc_layout(stat_area, &desc);
	init_instances();
	printf("init 3A done\n");
	initial_exposures(fd);
	img_vsrc_cal_begin(fd);
	img_work_frame_ctx w;
	memset(&w, 0, sizeof w);
	w.fd = fd;
	w.mode = &main_mode;
	w.hdr_mode = &hdr_mode;
	w.stats = &parsed;
	w.blocks = blocks;
	w.fs = frame_settings;
	w.af_cfg = &af_cfg;
	w.wake_lens = img_service_wake_lens;
	post(sync_.main_ready);
	while (!main_exit) {
		if (img_work_state_pending())
			img_work_state_commit();
		if (print_switch)
			printf("[MAIN]>>>t =%d,getting stats\n", (int)w.frame);
		if (hal_get_aaa_stat(fd, &desc) == 0) {
			channel_info info[IMG_MAX_CHANNELS];
			memset(info, 0, sizeof info);
			for (int c = 0; c < chan_count(); c++)
				info[c] = img_lib_aaa_chan(c)->info;
			if (parse_aaa_data(&desc, info, &parsed) != 0) {
				printf("[MAIN]>>>t =%d,parse aaa data fails\n", (int)w.frame);
			} else {
				/* The 3A step waits for the source contexts: its
				 * exposures would overwrite the probe. */
				if (!img_vsrc_cal_frame(fd, &parsed)) {
					w.custom = custom_aaa;
					w.print = print_switch;
					img_work_frame(&w);
				}
				img_post_cfg(fd, IMG_POST_CHANGED);
				apply_pending(fd);
				frames_run++;
			}
		}
		if (qid >= 0)
			take_messages(fd, qid);
	}
	for (int c = 0; c < chan_count(); c++)
		config_stat(fd, c, 0);
	ae_destroy_instances();
	awb_destroy_instances();
	af_destroy_instances();
	return NULL;
}

/* ---- shadow arrays ---- */

static std::mutex shadow_mu;

void img_service_shadow_lock(void)
{
	shadow_mu.lock();
}

void img_service_shadow_unlock(void)
{
	shadow_mu.unlock();
}

/* ---- the command table ---- */

enum payload {
	P_WORDS,     /* n plain words */
	P_MASK,      /* mask, address of the shadow array */
	P_MASK2,     /* mask, two addresses */
	P_VALS_MASK, /* one word a channel, then the mask; run as a mask setter
	              * over those words */
	P_PTR,       /* one address */
};

typedef struct cmd_args {
	int fd;
	uint32_t mask;
	const uint8_t *v;  /* the first shadow array */
	const uint8_t *v2; /* the second */
	const uint64_t *w; /* the payload words */
} cmd_args;

typedef struct img_cmd {
	int id;
	int kind;
	int words;   /* P_WORDS: the payload's words */
	size_t elem; /* shadow bytes a channel (P_PTR: the whole array) */
	size_t elem2;
	int (*run)(const cmd_args *a);
} img_cmd;

#define U32(a) ((const uint32_t *)(a)->v)
#define ARG_CH(a, k) ((int)(a)->w[k])

static int refresh(int rc, uint32_t id)
{
	if (rc == 0)
		img_adj_refresh_filter(id);
	return rc;
}

static int work_state(uint32_t id)
{
	static const uint32_t states[] = {0, IMG_WORK_FASTFOCUS, IMG_WORK_CAPTURE, IMG_WORK_PREVIEW,
	                                  IMG_WORK_RECORD};
	return img_work_state_request(states[id]);
}

static int c_fastfocus(const cmd_args *)
{
	return work_state(1);
}
static int c_capture(const cmd_args *)
{
	return work_state(2);
}
static int c_preview(const cmd_args *)
{
	return work_state(3);
}
static int c_record(const cmd_args *)
{
	return work_state(4);
}
static int c_reload_containers(const cmd_args *)
{
	img_adj_swap_container_bank();
	return img_adj_init_filter_headers();
}
static int c_reload_cc(const cmd_args *)
{
	img_adj_swap_cc_bank();
	return 0;
}
static int c_awb_enable(const cmd_args *a)
{
	return awb_set_enables(U32(a), a->mask);
}
static int c_ae_enable(const cmd_args *a)
{
	return ae_set_enable(U32(a), a->mask);
}
static int c_custom(const cmd_args *a)
{
	custom_aaa = U32(a)[0];
	return 0;
}
static int c_filter_enable(const cmd_args *a)
{
	return img_adj_set_channel_enable(U32(a), a->mask);
}
static int c_debug(const cmd_args *a)
{
	uint64_t f = a->w[0];
	ae_set_debug_level(f & 1);
	awb_set_debug_level(f >> 1 & 1);
	parse_aaa_set_debug(f >> 3 & 1);
	print_switch = f >> 4 & 1;
	return 0;
}
static int c_nr_bypass(const cmd_args *a)
{
	return img_adj_set_nr_bypass(U32(a));
}
static int c_metering(const cmd_args *a)
{
	return ae_set_metering_mode(a->v, a->mask);
}
static int c_ae_weights(const cmd_args *a)
{
	return ae_set_tile_weights(U32(a), a->mask);
}
static int c_frame_skip(const cmd_args *a)
{
	return ae_set_frame_skip(a->v, a->v2, a->mask);
}
int img_service_ae_lines(uint32_t mask);
static int c_ae_lines(const cmd_args *a)
{
	for (int c = 0; c < chan_count(); c++)
		if (a->mask & (1u << c))
			memcpy(img_lib_aaa_chan(c)->cfg + IMG_AAA_AE_CFG_AT,
			       a->v + (size_t)c * IMG_AE_LINE_CFG_SIZE, IMG_AE_LINE_CFG_SIZE);
	return img_service_ae_lines(a->mask);
}
static int c_line_count(const cmd_args *a)
{
	return ae_set_line_count((const uint16_t *)a->v, a->mask);
}
static int c_target_ratio(const cmd_args *a)
{
	return ae_set_target_ratio((const uint16_t *)a->v, a->mask);
}
static int c_speed(const cmd_args *a)
{
	return ae_set_speed(a->v, a->mask);
}
/* The automatic tone curve reshapes the bright end of the picture itself;
 * a luma weighting chosen under it would meter against a moving curve. */
static int c_weight_mode(const cmd_args *a)
{
	uint32_t tone[IMG_MAX_CHANNELS] = {0};
	img_adj_get_auto_tone(tone);
	for (int c = 0; c < chan_count(); c++)
		if ((a->mask & (1u << c)) && tone[c]) {
			printf("disable auto knee first!\n");
			return -1;
		}
	return ae_set_weight_mode(a->v, a->mask);
}
static int c_reply_agc(const cmd_args *)
{
	int32_t index, result;
	img_work_get_iris(&index, &result);
	uint32_t words[2] = {index >= 0 && index <= AE_IRIS_MAX ? ae_iris_exposure(AE_IRIS_MAX - index) : 0,
	                     (uint32_t)result};
	int qid = img_queue();
	return qid < 0 ? -1 : img_queue_send_reply(qid, 1, words, 2);
}
static int c_af_mode(const cmd_args *a)
{
	af_cfg.mode = (uint32_t)a->w[0];
	return 0;
}
static int c_af_custom(const cmd_args *a)
{
	if (!img_lib_hook(IMG_AAA_HOOK_AF_PARAM))
		return 0;
	return img_lib_custom_af_param((void *)a->v);
}
static int c_af_weights(const cmd_args *a)
{
	memcpy(af_cfg.weight, a->v, sizeof af_cfg.weight);
	return 0;
}
static int c_af_zoom(const cmd_args *a)
{
	af_cfg.zoom = (uint32_t)a->w[0];
	return 0;
}
static int c_af_manual(const cmd_args *a)
{
	if (af_cfg.mode == AF_MODE_MANUAL)
		af_cfg.focus = (int32_t)a->w[0];
	return 0;
}
static int c_af_step(const cmd_args *a)
{
	if (af_cfg.mode == AF_MODE_MANUAL)
		af_cfg.focus += (int8_t)(a->w[0] & 0xff);
	return 0;
}
static int c_af_status(const cmd_args *)
{
	af_status st;
	memset(&st, 0, sizeof st);
	uint32_t word = af_get_status(0, &st) == 0 ? (uint32_t)st.state : (uint32_t)-1;
	int qid = img_queue();
	return qid < 0 ? -1 : img_queue_send_reply(qid, 0, &word, 1);
}
static int c_nop(const cmd_args *)
{
	return 0;
}
static int c_awb_remedy(const cmd_args *a)
{
	return awb_set_fail_remedy_by_mask(U32(a), a->mask);
}
/* The calibration is sent as six words a channel (low, then high triple);
 * the white-balance call takes every low triple before the high ones. */
static int c_awb_calibration(const cmd_args *a)
{
	uint32_t unit[24], golden[24];
	int n = chan_count();
	for (int c = 0; c < n; c++) {
		memcpy(unit + 3 * c, a->v + 24 * c, 12);
		memcpy(unit + 3 * (n + c), a->v + 24 * c + 12, 12);
		memcpy(golden + 3 * c, a->v2 + 24 * c, 12);
		memcpy(golden + 3 * (n + c), a->v2 + 24 * c + 12, 12);
	}
	return awb_set_calibration_by_mask(unit, golden, a->mask);
}
static int c_awb_speed(const cmd_args *a)
{
	return awb_set_speed_by_mask(a->v, a->mask);
}
static int c_awb_threshold(const cmd_args *a)
{
	uint16_t t[2 * IMG_MAX_CHANNELS];
	for (int c = 0; c < IMG_MAX_CHANNELS; c++) {
		memcpy(&t[2 * c], a->v + 2 * c, 2);
		memcpy(&t[2 * c + 1], a->v2 + 2 * c, 2);
	}
	return awb_set_calib_threshold_by_mask(t, a->mask);
}
static int c_awb_custom_gain(const cmd_args *a)
{
	return awb_set_custom_gain_by_mask(U32(a), a->mask);
}
static int c_awb_env(const cmd_args *a)
{
	return awb_set_env_by_mask(U32(a), a->mask);
}
static int c_awb_mode(const cmd_args *a)
{
	return awb_set_mode_by_mask(U32(a), a->mask);
}
static int c_awb_method(const cmd_args *a)
{
	return awb_set_method_by_mask(U32(a), a->mask);
}
static int c_awb_weights(const cmd_args *a)
{
	return awb_set_tile_weights_by_mask(a->v, a->mask);
}
static int c_saturation(const cmd_args *a)
{
	return refresh(img_adj_set_saturation((const int32_t *)a->v, a->mask), 11);
}
static int c_contrast(const cmd_args *a)
{
	return refresh(img_adj_set_contrast(U32(a), a->mask), 10);
}
/* The filter's mode follows each masked channel's switch, then it is sent
 * again. */
static int mode_and_refresh(int rc, const uint32_t *v, uint32_t mask, uint32_t id)
{
	for (int c = 0; rc == 0 && c < chan_count(); c++)
		if (mask & (1u << c))
			img_adj_set_filter_mode(v[c] ? 1 : 0, (int32_t)id, c);
	return refresh(rc, id);
}
static int c_auto_tone(const cmd_args *a)
{
	uint8_t on[IMG_MAX_CHANNELS];
	for (int c = 0; c < IMG_MAX_CHANNELS; c++)
		on[c] = (uint8_t)U32(a)[c];
	return mode_and_refresh(img_adj_set_auto_tone(on, a->mask), U32(a), a->mask, 10);
}
static int c_auto_tone_alpha(const cmd_args *a)
{
	float alpha[IMG_MAX_CHANNELS];
	memcpy(alpha, a->v, sizeof alpha);
	return refresh(img_adj_set_auto_tone_alpha(alpha, a->mask), 10);
}
static int c_hue(const cmd_args *a)
{
	return refresh(img_adj_set_hue((const int32_t *)a->v, a->mask), 11);
}
static int c_brightness(const cmd_args *a)
{
	return refresh(img_adj_set_brightness((const int32_t *)a->v, a->mask), 11);
}
static int c_sharp_level(const cmd_args *a)
{
	return img_adj_set_sharpness_level((const int32_t *)a->v, a->mask);
}
static int c_sharp_values(const cmd_args *a)
{
	return img_adj_set_sharpness_values(U32(a), a->mask);
}
static int c_color_matrix(const cmd_args *a)
{
	return refresh(img_adj_set_color_matrix(U32(a), a->mask), 11);
}
static int c_bw(const cmd_args *a)
{
	int rc = refresh(img_adj_set_bw_mode(U32(a), a->mask), 12);
	if (rc == 0)
		img_adj_set_update_flags();
	return rc;
}
static int c_nf_level(const cmd_args *a)
{
	return img_adj_set_nf_level((const int32_t *)a->v, a->mask);
}
static int c_nf_values(const cmd_args *a)
{
	return img_adj_set_nf_values(U32(a), a->mask);
}
static int c_wb_ratio(const cmd_args *a)
{
	return img_adj_set_wb_ratio(a->v, a->v2, a->mask);
}
static int c_service_flag(const cmd_args *a)
{
	return refresh(img_adj_set_service_flag(U32(a), a->mask), 7);
}
static int c_ce_log_enable(const cmd_args *a)
{
	return refresh(img_hdr_set_ce_log_enable((int)a->w[0], ARG_CH(a, 1)), 45);
}
static int c_ce_log_config(const cmd_args *a)
{
	img_hdr_ce_log_config cfg = {(int32_t)a->w[0], (int32_t)a->w[1]};
	return refresh(img_hdr_set_ce_log_config(&cfg, ARG_CH(a, 2)), 45);
}
static int c_color_threshold(const cmd_args *a)
{
	return img_hdr_set_color_threshold_enable((int)a->w[0], ARG_CH(a, 1));
}
static int c_hdr_enable(const cmd_args *a)
{
	return img_hdr_set_enable((int)a->w[0], ARG_CH(a, 1));
}
static int c_blend(const cmd_args *a)
{
	img_hdr_blend_config cfg = {(uint16_t)a->w[0], (uint16_t)a->w[1]};
	return img_hdr_set_shutter_ratio(&cfg, ARG_CH(a, 2));
}
static void four_words(const cmd_args *a, uint32_t v[4])
{
	for (int k = 0; k < 4; k++)
		v[k] = (uint32_t)a->w[k];
}
static int c_alpha(const cmd_args *a)
{
	uint32_t v[4];
	four_words(a, v);
	return img_hdr_set_alpha_value(v, ARG_CH(a, 4));
}
static int c_threshold(const cmd_args *a)
{
	uint32_t v[4];
	four_words(a, v);
	return img_hdr_set_threshold(v, ARG_CH(a, 4));
}
static int c_ratio_limits(const cmd_args *a)
{
	img_ratio_limits l = {(uint32_t)a->w[0], (uint32_t)a->w[1], (uint32_t)a->w[2]};
	return img_set_ratio_limits_in_effect(ARG_CH(a, 3), &l);
}
static int c_ratio_config(const cmd_args *a)
{
	uint32_t cfg[IMG_RATIO_CONFIG_WORDS];
	int c = ARG_CH(a, 3);
	if (img_get_ratio_config(c, cfg) != 0)
		return -1;
	cfg[0] = (uint32_t)a->w[0];
	cfg[1] = (uint32_t)a->w[1];
	cfg[2] = (uint32_t)a->w[2];
	return img_set_ratio_config(c, cfg);
}
static int c_drc(const cmd_args *a)
{
	int32_t v[4];
	for (int k = 0; k < 4; k++)
		v[k] = (int32_t)a->w[k];
	return img_hdr_set_drc_strength(v, ARG_CH(a, 4));
}
static int c_hdr_switch(const cmd_args *a)
{
	return img_service_hdr_switch(ARG_CH(a, 0), (int)a->w[1]);
}
static int c_adaptive_a(const cmd_args *a)
{
	return mode_and_refresh(img_adj_le_set_enable(U32(a), a->mask), U32(a), a->mask, 7);
}
static int c_adaptive_b(const cmd_args *a)
{
	return img_adj_le_set_strength(U32(a), a->mask);
}

static const img_cmd commands[] = {
    {1, P_WORDS, 0, 0, 0, c_fastfocus},
    {2, P_WORDS, 0, 0, 0, c_capture},
    {3, P_WORDS, 0, 0, 0, c_preview},
    {4, P_WORDS, 0, 0, 0, c_record},
    {5, P_WORDS, 1, 0, 0, c_reload_containers},
    {6, P_WORDS, 1, 0, 0, c_reload_cc},
    {7, P_MASK, 0, 4, 0, c_awb_enable},
    {8, P_MASK, 0, 4, 0, c_ae_enable},
    {9, P_MASK, 0, 4, 0, c_custom},
    {10, P_MASK, 0, 4, 0, c_filter_enable},
    {11, P_WORDS, 1, 0, 0, c_debug},
    {12, P_MASK, 0, 4, 0, c_nr_bypass},
    {17, P_MASK, 0, 1, 0, c_metering},
    {18, P_MASK, 0, 4 * AE_TILES, 0, c_ae_weights},
    {19, P_MASK2, 0, 1, 1, c_frame_skip},
    {21, P_MASK, 0, IMG_AE_LINE_CFG_SIZE, 0, c_ae_lines},
    {22, P_MASK, 0, 2, 0, c_line_count},
    {23, P_MASK, 0, 2, 0, c_target_ratio},
    {24, P_MASK, 0, 1, 0, c_speed},
    {26, P_MASK, 0, 1, 0, c_weight_mode},
    {28, P_WORDS, 0, 0, 0, c_reply_agc},
    {48, P_WORDS, 1, 0, 0, c_af_mode},
    {49, P_PTR, 0, 8, 0, c_af_custom},
    {50, P_PTR, 0, 4 * AF_TILE_WEIGHTS, 0, c_af_weights},
    {51, P_WORDS, 1, 0, 0, c_af_zoom},
    {52, P_WORDS, 1, 0, 0, c_af_manual},
    {53, P_WORDS, 1, 0, 0, c_nop},
    {80, P_MASK, 0, 4, 0, c_awb_remedy},
    {81, P_MASK2, 0, 24, 24, c_awb_calibration},
    {82, P_MASK, 0, 1, 0, c_awb_speed},
    {83, P_MASK2, 0, 2, 2, c_awb_threshold},
    {84, P_MASK, 0, 12, 0, c_awb_custom_gain},
    {85, P_MASK, 0, 4, 0, c_awb_env},
    {86, P_MASK, 0, 4, 0, c_awb_mode},
    {87, P_MASK, 0, 4, 0, c_awb_method},
    {88, P_MASK, 0, AWB_TILES, 0, c_awb_weights},
    {96, P_MASK, 0, 4, 0, c_saturation},
    {97, P_MASK, 0, 4, 0, c_contrast},
    {98, P_VALS_MASK, 0, 0, 0, c_auto_tone},
    {99, P_VALS_MASK, 0, 0, 0, c_auto_tone_alpha},
    {102, P_MASK, 0, 4, 0, c_hue},
    {103, P_MASK, 0, 4, 0, c_brightness},
    {104, P_MASK, 0, 4, 0, c_sharp_level},
    {105, P_MASK, 0, 4 * IMG_ADJ_SHARPNESS_VALUES, 0, c_sharp_values},
    {106, P_MASK, 0, 4, 0, c_color_matrix},
    {107, P_MASK, 0, 4, 0, c_bw},
    {109, P_MASK, 0, 4, 0, c_nf_level},
    {110, P_MASK, 0, 4 * IMG_ADJ_NF_VALUES, 0, c_nf_values},
    {111, P_MASK2, 0, 1, 1, c_wb_ratio},
    {112, P_VALS_MASK, 0, 0, 0, c_service_flag},
    {113, P_WORDS, 2, 0, 0, c_ce_log_enable},
    {114, P_WORDS, 3, 0, 0, c_ce_log_config},
    {115, P_WORDS, 2, 0, 0, c_color_threshold},
    {128, P_WORDS, 2, 0, 0, c_hdr_enable},
    {129, P_WORDS, 3, 0, 0, c_blend},
    {130, P_WORDS, 5, 0, 0, c_alpha},
    {131, P_WORDS, 5, 0, 0, c_threshold},
    {132, P_WORDS, 4, 0, 0, c_ratio_limits},
    {133, P_WORDS, 4, 0, 0, c_ratio_config},
    {134, P_WORDS, 5, 0, 0, c_drc},
    {135, P_WORDS, 2, 0, 0, c_hdr_switch},
    {144, P_VALS_MASK, 0, 0, 0, c_adaptive_a},
    {145, P_VALS_MASK, 0, 0, 0, c_adaptive_b},
    {161, P_WORDS, 1, 0, 0, c_af_step},
    {162, P_WORDS, 1, 0, 0, c_nop},
    {163, P_WORDS, 1, 0, 0, c_af_status},
    {164, P_WORDS, 1, 0, 0, c_nop},
    {165, P_WORDS, 1, 0, 0, c_nop},
    {166, P_WORDS, 1, 0, 0, c_nop},
    {167, P_WORDS, 1, 0, 0, c_nop},
    {168, P_WORDS, 1, 0, 0, c_nop},
};

#define N_COMMANDS (sizeof commands / sizeof commands[0])

static const img_cmd *find(int id)
{
	for (const img_cmd &c : commands)
		if (c.id == id)
			return &c;
	return NULL;
}

/* Every command's shadow arrays in one static store; the offsets are laid
 * out once. */
static size_t array_size(const img_cmd *c, int which)
{
	size_t e = which ? c->elem2 : c->elem;
	return c->kind == P_PTR ? (which ? 0 : e) : e * IMG_MAX_CHANNELS;
}

alignas(8) static uint8_t shadow_store[32768];
static size_t shadow_at[N_COMMANDS][2];

static void lay_out_shadows(void)
{
	size_t at = 0;
	for (size_t i = 0; i < N_COMMANDS; i++)
		for (int k = 0; k < 2; k++) {
			shadow_at[i][k] = at;
			at += (array_size(&commands[i], k) + 7) & ~(size_t)7;
		}
}

void *img_service_shadow(int id, int which, size_t *size)
{
	static std::once_flag once;
	std::call_once(once, lay_out_shadows);
	const img_cmd *c = find(id);
	if (!c || which < 0 || which > 1 || array_size(c, which) == 0)
		return NULL;
	if (size)
		*size = array_size(c, which);
	return shadow_store + shadow_at[c - commands][which];
}

static int payload_words(const img_cmd *c)
{
	switch (c->kind) {
	case P_MASK:
		return 2;
	case P_MASK2:
		return 3;
	case P_VALS_MASK:
		return chan_count() + 1;
	case P_PTR:
		return 1;
	default:
		return c->words;
	}
}

/* An address in a payload must be the command's own array: anything else
 * would have the main thread read wherever a sender pointed. */
static const uint8_t *own_array(const img_cmd *c, int which, uint64_t addr)
{
	const uint8_t *own = (const uint8_t *)img_service_shadow(c->id, which, NULL);
	if ((uintptr_t)own != addr) {
		printf("error: command %d payload is not the service's own array\n", c->id);
		return NULL;
	}
	return own;
}

int img_service_command(int fd, const img_msg *m, ssize_t len)
{
	if (!m || len < 0)
		return -1;
	if (m->type == IMG_MSG_WORK_MODE) {
		uint64_t id = 0;
		if (len < (ssize_t)sizeof id) {
			printf("error: work mode message of %d bytes\n", (int)len);
			return -2;
		}
		memcpy(&id, m->text, sizeof id);
		if (id < 1 || id > 4) {
			printf("error: work mode command %llu out of range 1 - 4\n", (unsigned long long)id);
			return -2;
		}
		work_state((uint32_t)id);
		return 0;
	}
	int32_t id;
	if (len < 8) {
		printf("error: command message of %d bytes\n", (int)len);
		return -1;
	}
	memcpy(&id, m->text, sizeof id);
	const img_cmd *c = find(id);
	if (!c) {
		printf("error: unknown command %d\n", id);
		return -1;
	}
	int n = payload_words(c);
	if (len < 8 + 8 * (ssize_t)n) {
		printf("error: command %d needs %d payload words, got %d bytes\n", id, n, (int)len - 8);
		return -1;
	}
	uint64_t w[IMG_QUEUE_TEXT / 8];
	memcpy(w, m->text + 8, 8 * (size_t)n);
	cmd_args a = {fd, 0, NULL, NULL, w};
	if (c->kind == P_MASK || c->kind == P_MASK2) {
		a.mask = (uint32_t)w[0];
		a.v = own_array(c, 0, w[1]);
		if (!a.v)
			return -1;
		if (c->kind == P_MASK2 && !(a.v2 = own_array(c, 1, w[2])))
			return -1;
	} else if (c->kind == P_PTR) {
		a.v = own_array(c, 0, w[0]);
		if (!a.v)
			return -1;
	}
	/* The shadow arrays may be rewritten by a sender meanwhile: run on a
	 * copy taken under the lock. */
	static uint8_t copy[2][IMG_AE_LINE_CFG_SIZE * IMG_MAX_CHANNELS];
	std::lock_guard<std::mutex> lk(shadow_mu);
	for (int k = 0; k < 2; k++) {
		const uint8_t **p = k ? &a.v2 : &a.v;
		if (*p) {
			memcpy(copy[k], *p, array_size(c, k));
			*p = copy[k];
		}
	}
	/* Values, then mask: the words inline, read once here into one u32 a
	 * channel, so the handler sees what a mask setter sees. */
	uint32_t values[IMG_MAX_CHANNELS] = {0};
	if (c->kind == P_VALS_MASK) {
		for (int k = 0; k < chan_count(); k++)
			values[k] = (uint32_t)w[k];
		a.mask = (uint32_t)w[chan_count()];
		a.v = (const uint8_t *)values;
	}
	return c->run(&a);
}
