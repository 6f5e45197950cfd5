/* The 3A library's bring-up: the image kernel's working memory mapped from
 * the video driver, its architecture, contexts and configurations; the
 * library's configuration record and channel count; and the public entries
 * through which a user hands the library its configuration tables. */
#ifndef CAMLIB_IMG_ALGO_IMG_LIB_H
#define CAMLIB_IMG_ALGO_IMG_LIB_H

#include "img_channel.h"

#include <stddef.h>
#include <stdint.h>

/* The library's configuration record. */
typedef struct img_lib_config {
	uint32_t chan_num; /* VINs served */
	uint32_t reserved0;
	uint32_t word8;
	uint8_t reserved1[8];
	uint8_t version[3];
	char name[65];
	uint8_t hdr_cfg_num; /* HDR configurations a channel */
	uint8_t ik_cfg_num;  /* image-kernel configurations a channel */
	uint8_t reserved2[2];
} img_lib_config;

#ifdef __cplusplus
static_assert(sizeof(img_lib_config) == 92, "library configuration record");
static_assert(offsetof(img_lib_config, version) == 20, "version at 20");
static_assert(offsetof(img_lib_config, name) == 23, "name at 23");
static_assert(offsetof(img_lib_config, hdr_cfg_num) == 88, "HDR configurations at 88");
#endif

#define IMG_LIB_INFO_SIZE 80

/* A channel's 3A configuration block and its parts. */
#define IMG_AAA_CFG_SIZE 8832
#define IMG_AAA_AE_CFG_AT 76
#define IMG_AAA_AE_CFG_SIZE 6772
#define IMG_AAA_AWB_CFG_AT 6848
#define IMG_AAA_AWB_CFG_SIZE 708
#define IMG_AAA_SENSOR_AT 7556
#define IMG_AAA_SENSOR_SIZE 236
#define IMG_AAA_LENS_PARAM_AT 7792
#define IMG_AAA_LENS_PARAM_SIZE 398
#define IMG_AAA_LENS_TABLE_AT 8192
#define IMG_AAA_LENS_TABLE_SIZE 640
#define IMG_AAA_TABLE_SIZE 224
#define IMG_LENS_DRIVER_SIZE 208
#define IMG_AAA_HOOKS 9

typedef int (*img_aaa_hook)(void *arg);

/* What the library keeps for each channel. */
typedef struct img_aaa_chan {
	channel_info info;
	uint8_t cfg[IMG_AAA_CFG_SIZE];
	uint32_t wb_gain[3]; /* 4096 = 1.0 */
	uint32_t config_id;
} img_aaa_chan;

int img_set_vin_chan_num(int n);
int img_get_vin_chan_num(void);
/* The configuration byte is the contexts' initial deferred-black-level
 * enable (NULL: 0). */
int img_lib_init(int fd, const uint8_t *defblc_enable);
int img_lib_deinit(void *unused);

const img_lib_config *img_lib_get_config(void);
/* Copies the version and name (IMG_LIB_INFO_SIZE bytes). */
void img_lib_get_info(void *out);
/* Configurations a channel become v + 9. */
int img_lib_set_cfg_num(int v);
int img_lib_get_cfg_num(void);

img_aaa_chan *img_lib_aaa_chan(int chan);

/* Configuration entries: 0, or -1 for NULL. Per-channel tables come one
 * after the other for the channel count. */
int img_config_sensor_info(const void *records);
int img_set_hdr_iq_params(const void *blocks);
int img_config_ae(const void *cfgs);
int img_config_awb(const void *cfgs);
int img_config_aaa_table(const void *table);
const uint8_t *img_lib_aaa_table(void);
int img_lib_set_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS]);
int img_lib_merge_hooks(const img_aaa_hook hooks[IMG_AAA_HOOKS]);
img_aaa_hook img_lib_hook(int index);
/* The custom auto-focus hooks (init, run, parameter): each calls its hook
 * with arg when one is registered; -1 when the hook reports a negative
 * result, else 0. */
#define IMG_AAA_HOOK_AF_INIT 5
#define IMG_AAA_HOOK_AF_RUN 6
#define IMG_AAA_HOOK_AF_PARAM 7
int img_lib_custom_af_init(void *arg);
int img_lib_custom_af_run(void *arg);
int img_lib_custom_af_param(void *arg);
int img_config_lens_driver(const void *ops);
const uint8_t *img_lib_lens_driver(void);
int img_config_lens_tables(const void *params, const void *tables);
/* The service mode's replies: kind 0 one word, kind 1 two. */
int img_lib_revert_msg(int kind, const uint32_t *words);
void img_lib_get_revert(uint32_t out[2]);

#endif
