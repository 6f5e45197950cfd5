/* The per-channel record through which the camera library, white balance,
 * HDR, the filter pipeline and the exposure and focus modules exchange
 * exposure, gains and focus output. */
#ifndef CAMLIB_IMG_ALGO_CL_AAA_BLOCK_H
#define CAMLIB_IMG_ALGO_CL_AAA_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#define CL_AAA_EXPOSURES 4
#define CL_AAA_AF_OUT_SIZE 92

typedef struct cl_aaa_exposure {
	uint32_t shutter_changed;
	uint32_t shutter; /* rows */
	uint32_t agc_changed;
	uint32_t agc; /* gain index 0..721 */
	uint32_t dgain_changed;
	uint32_t dgain; /* 4096 = 1.0 */
	uint32_t iris_flag;
	uint32_t iris;
} cl_aaa_exposure;

typedef struct cl_aaa_block {
	cl_aaa_exposure expo[CL_AAA_EXPOSURES];
	uint16_t wb_update;
	uint8_t reserved0[2];
	uint32_t wb_r_gain; /* 1024 = 1.0 */
	uint32_t wb_g_gain;
	uint32_t wb_b_gain;
	uint8_t wb_extra[12]; /* travels with the white-balance part */
	uint8_t af_out[CL_AAA_AF_OUT_SIZE];
} cl_aaa_block;

#ifdef __cplusplus
static_assert(sizeof(cl_aaa_exposure) == 32, "exposure entry");
static_assert(sizeof(cl_aaa_block) == 248, "cl_aaa_block");
static_assert(offsetof(cl_aaa_block, wb_update) == 128, "wb_update at 128");
static_assert(offsetof(cl_aaa_block, wb_r_gain) == 132, "red gain at 132");
static_assert(offsetof(cl_aaa_block, wb_g_gain) == 136, "green gain at 136");
static_assert(offsetof(cl_aaa_block, wb_b_gain) == 140, "blue gain at 140");
static_assert(offsetof(cl_aaa_block, af_out) == 156, "focus output at 156");
#endif

#endif
