/* FIR coefficients of the sharpen, noise and advance-spatial filters and
 * their hardware table layout. */
#ifndef CAMLIB_IMG_DSP_IK_FIR_H
#define CAMLIB_IMG_DSP_IK_FIR_H

#include "img_dsp.h"

#include <stdint.h>

struct ik_first_sharpen_group;

/* A 7x7 kernel symmetric about its centre, as its first 25 taps in raster
 * order (entry 24 is the centre). */
#define IK_FIR_TAPS 25
#define IK_FIR_DIRS 9
#define IK_FIR_HW_SIZE 256

typedef struct ik_fir_coeff_set {
	int32_t v[IK_FIR_DIRS][IK_FIR_TAPS];
	uint32_t shift[IK_FIR_DIRS];
} ik_fir_coeff_set;

enum { IK_FIR_SET_A = 0, IK_FIR_SET_B = 1, IK_FIR_SET_B_NEG = 2 };

typedef struct ik_fir_calc_opts {
	int table_set;
	bool skip;
	bool remap;
	bool centre_offset;
	bool sign;
	int target; /* negative: no normalisation */
} ik_fir_calc_opts;

/* Tabulated kernels: table 0 isotropic, 1..8 directional; five levels. */
extern const int16_t ik_fir_set_a[IK_FIR_DIRS][5][IK_FIR_TAPS];
const int16_t (*ik_fir_table(int set, int table))[IK_FIR_TAPS];

void fir_interp_strength(uint32_t strength, int32_t *out, const int16_t (*table)[IK_FIR_TAPS]);
void fir_calc_coeffs(const img_dsp_fir *fir, ik_fir_coeff_set *out, const ik_fir_calc_opts *opts);
void fir_normalize(uint32_t *shift, int32_t *v, int32_t target);
void fir_compose(const int32_t *a, const int32_t *b, int32_t target, int32_t *out, uint32_t *shift);
void fir_expand_symmetric(const uint16_t *src, uint16_t *dst, int count);
void convert_to_fir_hw_config_one_dir(uint8_t *table, int dir, uint32_t shift, const int32_t *v);
/* The working copy of a stored FIR record that the calculation reads. */
void fir_prepare_work(const img_dsp_fir *src, img_dsp_fir *work);
/* FIR 1 and FIR 2 of a sharpen-noise stage: mode 2 keeps the two filters
 * apart, any other mode combines them. The uncombined kernels are kept
 * where asked for (mode 2 leaves them untouched). */
void fir_sharpen_noise_sets(const img_dsp_fir *sharpen, const img_dsp_fir *noise, int mode,
                            ik_fir_coeff_set *f1, ik_fir_coeff_set *f2, int32_t (*sharpen_coefs)[IK_FIR_TAPS],
                            int32_t (*noise_coefs)[IK_FIR_TAPS]);
void update_fir_coeffs(const void *unused, uint8_t *fir1, uint8_t *fir2, ik_first_sharpen_group *group);
void update_asf_fir1_coeffs(const uint8_t *work, uint8_t *table);
void update_asf_fir2_coeffs(const uint8_t *work, uint8_t *table);

#endif
