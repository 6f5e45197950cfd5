/* The 3A library's bring-up and its configuration store. */
#include "img_lib.h"

#include "aaa_parser.h"
#include "ae.h"
#include "af.h"
#include "awb.h"
#include "img_adj_filter.h"
#include "img_dsp.h"
#include "img_hdr_params.h"
#include "qvd_ioctl.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#define IMG_LIB_CFG_DEFAULT 9

static img_lib_config img_cfg = {
    1, 0, 1, {0}, {17, 17, 22}, " zk9 image algo", IMG_LIB_CFG_DEFAULT, IMG_LIB_CFG_DEFAULT, {0},
};

static struct {
	void *addr;
	size_t len;
} ik_mem;

static img_aaa_chan aaa_chan[IMG_MAX_CHANNELS];
static uint8_t aaa_table[IMG_AAA_TABLE_SIZE];
static img_aaa_hook aaa_hooks[IMG_AAA_HOOKS];
alignas(void *) static uint8_t lens_driver[IMG_LENS_DRIVER_SIZE];
static uint32_t revert_words[2];

const img_lib_config *img_lib_get_config(void)
{
	return &img_cfg;
}

int img_set_vin_chan_num(int n)
{
	/* Every module keeps four channels: more would index past them. */
	if (n < 1 || n > IMG_MAX_CHANNELS) {
		printf("Error:vin_channel_num =%d\n", n);
		return -1;
	}
	img_cfg.chan_num = (uint32_t)n;
	ae_set_instance_num(n);
	awb_set_instance_count(n);
	af_set_instance_num(n);
	img_adj_set_channel_count(n);
	parse_aaa_set_channel_num(n);
	img_hdr_set_channel_num(n);
	return 0;
}

int img_get_vin_chan_num(void)
{
	return (int)img_cfg.chan_num;
}

void img_lib_get_info(void *out)
{
	if (out)
		memcpy(out, (const uint8_t *)&img_cfg + 8, IMG_LIB_INFO_SIZE);
}

int img_lib_set_cfg_num(int v)
{
	/* The architecture counts configurations in bytes: refuse what would
	 * wrap rather than lay out a different number. */
	if (v < 0 || v + IMG_LIB_CFG_DEFAULT > 255) {
		printf("error: cfg num %d out of range [0, %d]\n", v, 255 - IMG_LIB_CFG_DEFAULT);
		return -1;
	}
	img_cfg.hdr_cfg_num = img_cfg.ik_cfg_num = (uint8_t)(v + IMG_LIB_CFG_DEFAULT);
	return 0;
}

int img_lib_get_cfg_num(void)
{
	return img_cfg.ik_cfg_num;
}

img_aaa_chan *img_lib_aaa_chan(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? &aaa_chan[chan] : NULL;
}

/* ---- bring-up --------------------------------------------------------- */

static int host_ioctl(int fd, unsigned long request, void *arg)
{
	return ioctl(fd, request, arg);
}

static void register_host_services(void)
{
	static const img_dsp_mem_functions mem = {malloc, free, memset, memcpy, memcmp};
	static const img_dsp_math_functions math = {
	    static_cast<double (*)(double)>(exp),
	    static_cast<double (*)(double)>(sqrt),
	    static_cast<double (*)(double, double)>(pow),
	    static_cast<double (*)(double)>(round),
	};
	vors_img_dsp_register_mem_functions(&mem);
	vors_img_dsp_register_math_functions(&math);
	vors_img_dsp_register_print(printf);
	vors_img_dsp_register_sprintf(sprintf);
	vors_img_dsp_register_ioctl(host_ioctl);
}

static void unmap_memory(void)
{
	if (ik_mem.addr)
		munmap(ik_mem.addr, ik_mem.len);
	ik_mem.addr = NULL;
	ik_mem.len = 0;
}

static int map_memory(int fd, uint64_t *phys)
{
	qvd_imgproc_map m;
	memset(&m, 0, sizeof m);
	m.buf_id = QVD_IMGPROC_BUF_IK;
	if (ioctl(fd, QVD_IOC_MAP_IMGPROC, &m) < 0) {
		perror("QVD_IOC_MAP_IMGPROC");
		return -1;
	}
	/* The image kernel counts its memory in 32 bits. */
	if (m.length == 0 || m.length > 0x7FFFFFFFu) {
		printf("phy.addr 0x%lx size %lu\n", (unsigned long)m.addr, (unsigned long)m.length);
		return -1;
	}
	void *p = mmap(NULL, m.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)m.addr);
	if (p == MAP_FAILED) {
		perror("mmap failed\n");
		return -1;
	}
	ik_mem.addr = p;
	ik_mem.len = m.length;
	*phys = m.addr;
	vors_img_dsp_set_mem_addr((uint64_t)(uintptr_t)p, m.addr, (uint32_t)m.length);
	return 0;
}

static int fill_arch(img_dsp_arch_info *arch, img_dsp_pipe_info *pipe)
{
	uint32_t n = img_cfg.chan_num;
	if (n * img_cfg.ik_cfg_num > 255 || n * img_cfg.hdr_cfg_num > 255) {
		printf("error: %u channels of %d configurations exceed the architecture\n", n,
		       img_cfg.ik_cfg_num);
		return -1;
	}
	memset(pipe, 0, sizeof *pipe);
	pipe->Pipe = IMG_DSP_PIPE_VIDEO;
	pipe->CtxNum = (uint8_t)n;
	pipe->CfgNum = (uint8_t)(n * img_cfg.ik_cfg_num);
	pipe->HdrCfgNum = (uint8_t)(n * img_cfg.hdr_cfg_num);
	memset(arch, 0, sizeof *arch);
	arch->MemAddr = (uint64_t)(uintptr_t)ik_mem.addr;
	arch->MemSize = (uint32_t)ik_mem.len;
	arch->BufNum = 1;
	arch->PipeNum = 1;
	arch->Pipes[0] = pipe;
	return 0;
}

static int check_memory(const img_dsp_arch_info *arch, uint64_t phys)
{
	int32_t required = vors_img_dsp_query_arch_mem_size(arch);
	if (required > 0 && ik_mem.len < (size_t)required) {
		printf("mem size %lu too small,required %lu,ik_cfg_num %d\n", (unsigned long)ik_mem.len,
		       (unsigned long)required, img_cfg.ik_cfg_num);
		return -1;
	}
	/* Without an address or a size the image kernel would lay its
	 * contexts out nowhere: stop here. */
	if (phys == 0 || required <= 0) {
		printf("phy.addr 0x%lx size %lu\n", (unsigned long)phys,
		       (unsigned long)(required < 0 ? 0 : required));
		return -1;
	}
	return 0;
}

static uint8_t choose_init_mode(int fd)
{
	uint32_t state = 0;
	if (ioctl(fd, QVD_IOC_GET_QVD_STATE, &state) < 0)
		state = 0;
	qvd_system_info info;
	memset(&info, 0, sizeof info);
	info.query = QVD_SYSTEM_INFO_QUERY;
	if (ioctl(fd, QVD_IOC_QUERY_SYSTEM_INFO, &info) < 0)
		perror("query system info failed. use normal boot by default\n");
	else if (info.answer == 1)
		return IMG_DSP_INIT_MODE_NORMAL_VIDEO;
	if (state == QVD_STATE_RUNNING || state == QVD_STATE_RUNNING_B)
		return IMG_DSP_INIT_MODE_KEEP;
	return IMG_DSP_INIT_MODE_NORMAL;
}

static int init_contexts_and_configs(uint8_t defblc)
{
	for (uint32_t i = 0; i < img_cfg.chan_num; i++) {
		img_dsp_ctx_id ctx = {IMG_DSP_PIPE_VIDEO, (uint8_t)i, {0}};
		if (vors_img_dsp_init_ctx(defblc, &ctx, &ctx) < 0) {
			printf("fail:vors_img_dsp_init_ctx  i=%d\n", (int)i);
			return -1;
		}
	}
	uint32_t cfgs = img_cfg.chan_num * img_cfg.ik_cfg_num;
	for (uint32_t i = 0; i < cfgs; i++) {
		img_dsp_cfg_id cfg = {IMG_DSP_PIPE_VIDEO, (uint8_t)i, {0}};
		if (vors_img_dsp_init_cfg(&cfg, DSP_IMG_CORE_ALGO_MODE_LISO) < 0) {
			printf("fail:vors_img_dsp_init_cfg i=%d\n", (int)i);
			return -1;
		}
	}
	return 0;
}

int img_lib_init(int fd, const uint8_t *defblc_enable)
{
	register_host_services();
	uint64_t phys = 0;
	if (map_memory(fd, &phys) != 0)
		return -1;
	img_dsp_arch_info arch;
	img_dsp_pipe_info pipe;
	if (fill_arch(&arch, &pipe) != 0 || check_memory(&arch, phys) != 0) {
		unmap_memory();
		return -1;
	}
	arch.InitMode = choose_init_mode(fd);
	if (vors_img_dsp_init_arch(&arch) < 0) {
		printf("fail:vors_img_dsp_init_arch rev");
		img_lib_deinit(NULL);
		return -1;
	}
	/* A failure part-way leaves nothing half set up behind. */
	if (init_contexts_and_configs(defblc_enable ? *defblc_enable : 0) != 0) {
		img_lib_deinit(NULL);
		return -1;
	}
	return 0;
}

int img_lib_deinit(void *)
{
	vors_img_dsp_deinit_arch();
	unmap_memory();
	return 0;
}

/* ---- configuration entries ------------------------------------------- */

static uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, sizeof v);
	return v;
}

int img_config_sensor_info(const void *records)
{
	if (!records)
		return -1;
	const uint8_t *r = (const uint8_t *)records;
	for (uint32_t c = 0; c < img_cfg.chan_num; c++) {
		img_aaa_chan *ch = &aaa_chan[c];
		memcpy(ch->cfg + IMG_AAA_SENSOR_AT, r + c * IMG_AAA_SENSOR_SIZE, IMG_AAA_SENSOR_SIZE);
		ch->wb_gain[0] = ch->wb_gain[1] = ch->wb_gain[2] = 4096;
		ch->config_id = c * img_cfg.ik_cfg_num;
	}
	img_hdr_set_sensor_info(records);
	return 0;
}

int img_set_hdr_iq_params(const void *blocks)
{
	if (!blocks)
		return -1;
	return img_hdr_copy_iq_params(blocks);
}

/* The AE configuration's gain unit (its word 776) must fit the sensor's
 * gain limit (the sensor record's first word, laid just past the AE part
 * of the block); a DSP-combined channel needs its exposure ratios. */
static bool ae_cfg_fits(const uint8_t *ae, uint32_t c)
{
	uint32_t unit = rd32(ae + 776 * 4);
	const uint8_t *sensor = aaa_chan[c].cfg + IMG_AAA_SENSOR_AT;
	uint64_t limit = (uint64_t)rd32(sensor) << 24;
	if (unit == 0 || unit > limit)
		return false;
	if (!aaa_chan[c].info.dsp_hdr)
		return true;
	uint64_t a = ((uint64_t)rd32(sensor + 4) << 24) / unit;
	uint64_t b = ((uint64_t)rd32(sensor + 8) << 24) / unit;
	return a + b != 0;
}

int img_config_ae(const void *cfgs)
{
	if (!cfgs)
		return -1;
	const uint8_t *ae = (const uint8_t *)cfgs;
	for (uint32_t c = 0; c < img_cfg.chan_num; c++) {
		if (!ae_cfg_fits(ae + c * IMG_AAA_AE_CFG_SIZE, c)) {
			printf("pls main_config_sensor_info!\n");
			return -1;
		}
	}
	for (uint32_t c = 0; c < img_cfg.chan_num; c++)
		memcpy(aaa_chan[c].cfg + IMG_AAA_AE_CFG_AT, ae + c * IMG_AAA_AE_CFG_SIZE,
		       IMG_AAA_AE_CFG_SIZE);
	return 0;
}

int img_config_awb(const void *cfgs)
{
	if (!cfgs)
		return -1;
	const uint8_t *awb = (const uint8_t *)cfgs;
	for (uint32_t c = 0; c < img_cfg.chan_num; c++)
		memcpy(aaa_chan[c].cfg + IMG_AAA_AWB_CFG_AT, awb + c * IMG_AAA_AWB_CFG_SIZE,
		       IMG_AAA_AWB_CFG_SIZE);
	return 0;
}

int img_config_aaa_table(const void *table)
{
	if (!table)
		return -1;
	memcpy(aaa_table, table, sizeof aaa_table);
	return 0;
}

const uint8_t *img_lib_aaa_table(void)
{
	return aaa_table;
}

int img_lib_set_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS])
{
	if (!hooks)
		return -1;
	memcpy(aaa_hooks, hooks, sizeof aaa_hooks);
	return 0;
}

int img_lib_merge_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS])
{
	if (!hooks)
		return -1;
	for (int i = 0; i < IMG_AAA_HOOKS; i++)
		if (hooks[i])
			aaa_hooks[i] = hooks[i];
	return 0;
}

img_aaa_hook img_lib_hook(int index)
{
	return index >= 0 && index < IMG_AAA_HOOKS ? aaa_hooks[index] : NULL;
}

static int call_hook(int index, void *arg)
{
	img_aaa_hook hook = aaa_hooks[index];
	if (!hook)
		return 0;
	return hook(arg) < 0 ? -1 : 0;
}

int img_lib_custom_af_init(void *arg)
{
	return call_hook(IMG_AAA_HOOK_AF_INIT, arg);
}

int img_lib_custom_af_run(void *arg)
{
	return call_hook(IMG_AAA_HOOK_AF_RUN, arg);
}

int img_lib_custom_af_param(void *arg)
{
	return call_hook(IMG_AAA_HOOK_AF_PARAM, arg);
}

int img_config_lens_driver(const void *ops)
{
	if (!ops)
		return -1;
	memcpy(lens_driver, ops, sizeof lens_driver);
	return 0;
}

const uint8_t *img_lib_lens_driver(void)
{
	return lens_driver;
}

int img_config_lens_tables(const void *params, const void *tables)
{
	if (!params || !tables)
		return -1;
	const uint8_t *p = (const uint8_t *)params;
	const uint8_t *t = (const uint8_t *)tables;
	for (uint32_t c = 0; c < img_cfg.chan_num; c++) {
		memcpy(aaa_chan[c].cfg + IMG_AAA_LENS_PARAM_AT, p + c * IMG_AAA_LENS_PARAM_SIZE,
		       IMG_AAA_LENS_PARAM_SIZE);
		memcpy(aaa_chan[c].cfg + IMG_AAA_LENS_TABLE_AT, t + c * IMG_AAA_LENS_TABLE_SIZE,
		       IMG_AAA_LENS_TABLE_SIZE);
	}
	return 0;
}

int img_lib_revert_msg(int kind, const uint32_t *words)
{
	if (!words || kind < 0 || kind > 1) {
		printf("error revert msg\n");
		return -1;
	}
	revert_words[0] = words[0];
	if (kind == 1)
		revert_words[1] = words[1];
	return 0;
}

void img_lib_get_revert(uint32_t out[2])
{
	if (out)
		memcpy(out, revert_words, sizeof revert_words);
}
