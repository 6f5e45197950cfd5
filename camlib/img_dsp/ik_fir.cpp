/* FIR coefficients and their hardware layout. */
#include "ik_fir.h"
#include "ik_context.h"
#include "ik_core.h"

#include <string.h>

/* Unity-gain low-pass kernels: the isotropic table, then the eight
 * directional ones (0 along rows, 1 along columns, 2 and 3 the diagonals,
 * 4 to 7 the intermediate directions), each at five strength levels. */
const int16_t ik_fir_set_a[9][5][25] = {
    /* isotropic */ {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 38, 7, 0, 0, 0, 0, 38, 76},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 28, 28, 0, 0, 0, 0, 28, 32},
        {0, 0, 0, 0, 0, 0, 0, 0, 10, 10, 10, 10, 10, 0, 0, 10, 10, 10, 10, 10, 0, 0, 10, 10, 16},
        {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6, 5, 5, 5, 5, 5, 6, 12},
    },
    /* dir 0 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 80, 96},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 48, 64},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 36, 36, 48},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 12, 12, 12, 12, 12, 11, 12, 12, 12, 20},
    },
    /* dir 1 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 80, 0, 0, 0, 0, 0, 0, 96},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 64},
        {0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 48},
        {0, 0, 11, 12, 11, 0, 0, 0, 0, 12, 12, 12, 0, 0, 0, 0, 12, 12, 12, 0, 0, 0, 0, 12, 20},
    },
    /* dir 2 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 0, 0, 136},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 64},
        {0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 0, 0, 30, 0, 0, 0, 0, 0, 30, 0, 0, 0, 0, 0, 84},
        {0, 0, 0, 0, 0, 12, 12, 0, 0, 0, 0, 12, 12, 12, 0, 0, 4, 12, 12, 12, 0, 0, 0, 12, 32},
    },
    /* dir 3 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 0, 0, 0, 0, 136},
        {0, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 0, 64},
        {26, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 84},
        {12, 12, 0, 0, 0, 0, 0, 12, 12, 12, 0, 0, 0, 0, 0, 12, 12, 12, 4, 0, 0, 0, 0, 12, 32},
    },
    /* dir 4 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0, 0, 172},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 24, 48, 0, 0, 0, 24, 64},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 10, 24, 7, 0, 0, 10, 140},
        {0, 0, 0, 0, 0, 0, 11, 0, 0, 0, 0, 0, 12, 12, 0, 0, 2, 4, 12, 12, 12, 11, 12, 12, 32},
    },
    /* dir 5 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 172},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 24, 24, 0, 0, 0, 0, 0, 64},
        {0, 0, 0, 0, 7, 7, 0, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0, 0, 140},
        {0, 0, 0, 11, 12, 12, 11, 0, 0, 0, 12, 12, 12, 0, 0, 0, 2, 12, 12, 0, 0, 0, 0, 4, 32},
    },
    /* dir 6 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 172},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 24, 24, 0, 0, 0, 0, 0, 0, 64},
        {0, 7, 7, 0, 0, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0, 0, 0, 140},
        {11, 12, 12, 11, 0, 0, 0, 0, 12, 12, 12, 0, 0, 0, 0, 0, 12, 12, 2, 0, 0, 0, 0, 4, 32},
    },
    /* dir 7 */
    {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0, 0, 172},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 48, 24, 0, 0, 0, 0, 0, 0, 24, 64},
        {0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 7, 24, 10, 0, 0, 0, 0, 0, 0, 10, 140},
        {11, 0, 0, 0, 0, 0, 0, 12, 12, 0, 0, 0, 0, 0, 12, 12, 12, 4, 2, 0, 0, 11, 12, 12, 32},
    },
};

namespace
{

/* The zero-gain high-pass counterparts: B[k] = -A[k], B[24] = 256 - A[24]. */
struct fir_set_b_tables {
	int16_t t[IK_FIR_DIRS][5][IK_FIR_TAPS];
};

fir_set_b_tables make_set_b()
{
	fir_set_b_tables b;
	for (int t = 0; t < IK_FIR_DIRS; t++)
		for (int l = 0; l < 5; l++) {
			for (int k = 0; k < 24; k++)
				b.t[t][l][k] = (int16_t)-ik_fir_set_a[t][l][k];
			b.t[t][l][24] = (int16_t)(256 - ik_fir_set_a[t][l][24]);
		}
	return b;
}

const fir_set_b_tables fir_set_b = make_set_b();

/* Symmetric rounding of a value scaled by 256. */
int32_t round_256(int32_t x)
{
	return x >= 0 ? (x + 128) >> 8 : -((128 - x) >> 8);
}

/* Signed range of each entry in the hardware tables. */
int32_t entry_limit(int k)
{
	switch (k) {
	case 17:
	case 23:
		return 128;
	case 16:
	case 18:
		return 64;
	case 8:
	case 9:
	case 10:
	case 11:
	case 12:
	case 15:
	case 19:
	case 22:
		return 32;
	case 24:
		return 256;
	default:
		return 16;
	}
}

bool entries_fit(const int32_t *v)
{
	for (int k = 0; k < IK_FIR_TAPS; k++) {
		int32_t lim = entry_limit(k);
		if (v[k] < -lim || v[k] > lim - 1)
			return false;
	}
	return true;
}

/* Halving by 2^s with the rounding the DSP expects; odd entries round
 * towards zero on ties. */
int32_t halve(int32_t b, int s, int32_t h)
{
	return b >= 0 ? (b + h) >> s : -((h - b) >> s);
}

/* The hardware record's byte order of the 24 non-centre entries. */
const uint8_t hw_order[24] = {17, 23, 16, 18, 8, 9, 10, 11, 12, 15, 19, 22,
                              0,  1,  2,  3,  4, 5, 6,  7,  13, 14, 20, 21};

uint8_t hw_mask(int p)
{
	return p < 2 ? 0xFF : p < 4 ? 0x7F : p < 12 ? 0x3F : 0x1F;
}

const uint8_t dir_remap[IK_FIR_DIRS] = {0, 2, 1, 4, 3, 7, 8, 5, 6};

void full_kernel(const int32_t *v, int32_t *full)
{
	for (int i = 0; i < 49; i++)
		full[i] = i < IK_FIR_TAPS ? v[i] : v[48 - i];
}

void convert_set(uint8_t *table, const ik_fir_coeff_set *set)
{
	for (int d = 0; d < IK_FIR_DIRS; d++)
		convert_to_fir_hw_config_one_dir(table, d, set->shift[d], set->v[d]);
}

} // namespace

const int16_t (*ik_fir_table(int set, int table))[IK_FIR_TAPS]
{
	return set == IK_FIR_SET_A ? ik_fir_set_a[table] : fir_set_b.t[table];
}

void fir_interp_strength(uint32_t strength, int32_t *out, const int16_t (*table)[IK_FIR_TAPS])
{
	/* The final stage stores per-direction strengths unchecked: read
	 * anything above the last level as the last level. */
	if (strength > 256)
		strength = 256;
	uint32_t i = (4 * strength) >> 8;
	uint32_t j = i + 1 > 4 ? 4 : i + 1;
	int32_t f = (int32_t)((4 * strength) & 255);
	for (int k = 0; k < IK_FIR_TAPS; k++)
		out[k] = round_256((256 - f) * table[i][k] + f * table[j][k]);
}

void fir_normalize(uint32_t *shift, int32_t *v, int32_t target)
{
	int32_t b[IK_FIR_TAPS];
	memcpy(b, v, sizeof(b));
	for (int h = 0; h <= 4; h++) {
		int32_t sum = 0;
		for (int k = 0; k < 24; k++)
			sum += v[k];
		v[24] = (target >> h) - 2 * sum;
		if (entries_fit(v)) {
			*shift = (uint32_t)(4 - h);
			return;
		}
		int s = h + 1;
		for (int k = 0; k < 24; k++)
			v[k] = halve(b[k], s, (k & 1) ? (1 << (s - 1)) - 1 : 1 << (s - 1));
		v[24] = halve(b[24], s, 1 << (s - 1));
	}
}

void fir_compose(const int32_t *a, const int32_t *b, int32_t target, int32_t *out, uint32_t *shift)
{
	int32_t fa[49], fb[49];
	full_kernel(a, fa);
	full_kernel(b, fb);
	for (int y = 0; y < 7; y++)
		for (int x = 0; x < 7; x++) {
			if (y * 7 + x >= IK_FIR_TAPS)
				break;
			int32_t acc = 0;
			for (int i = 0; i < 7; i++)
				for (int j = 0; j < 7; j++) {
					int by = y - i + 3, bx = x - j + 3;
					if (by < 0 || by > 6 || bx < 0 || bx > 6)
						continue;
					acc += fa[i * 7 + j] * fb[by * 7 + bx];
				}
			out[y * 7 + x] = (acc + 128) >> 8;
		}
	if (target >= 0)
		fir_normalize(shift, out, target);
}

void fir_expand_symmetric(const uint16_t *src, uint16_t *dst, int count)
{
	static const uint8_t map25[25] = {0, 1, 2, 3, 2, 1, 0, 1, 4, 5, 6, 5, 4,
	                                  1, 2, 5, 7, 8, 7, 5, 2, 3, 6, 8, 9};
	static const uint8_t map41[41] = {0, 1,  2,  3,  4,  3,  2, 1,  0,  1,  5,  6,  7, 8,
	                                  7, 6,  5,  1,  2,  6,  9, 10, 11, 10, 9,  6,  2, 3,
	                                  7, 10, 12, 13, 12, 10, 7, 3,  4,  8,  11, 13, 14};
	const uint8_t *map = count > 25 ? map41 : map25;
	int n = count > 41 ? 41 : count;
	for (int k = 0; k < n; k++)
		dst[k] = src[map[k]];
}

void fir_calc_coeffs(const img_dsp_fir *fir, ik_fir_coeff_set *out, const ik_fir_calc_opts *opts)
{
	if (opts->skip)
		return;
	int set = opts->table_set == IK_FIR_SET_A ? IK_FIR_SET_A : IK_FIR_SET_B;
	uint8_t specify = fir->specify;
	for (int d = 0; d < IK_FIR_DIRS; d++) {
		int32_t *v = out->v[d];
		out->shift[d] = 4;
		if (specify == 1 || specify == 4) {
			for (int k = 0; k < IK_FIR_TAPS; k++)
				v[k] = fir->coefs[d][k];
			continue;
		}
		int t = opts->remap ? dir_remap[d] : d;
		int32_t iso[IK_FIR_TAPS], dir[IK_FIR_TAPS];
		fir_interp_strength(fir->per_dir_fir_iso_strengths[d], iso, ik_fir_table(set, 0));
		fir_interp_strength(fir->per_dir_fir_dir_strengths[d], dir, ik_fir_table(set, t));
		int32_t a = fir->per_dir_fir_dir_amounts[d];
		for (int k = 0; k < IK_FIR_TAPS; k++) {
			if (opts->table_set == IK_FIR_SET_B_NEG) {
				iso[k] = -iso[k];
				dir[k] = -dir[k];
			}
			v[k] = round_256(a * dir[k] + (256 - a) * iso[k]);
		}
	}
	for (int d = 0; d < IK_FIR_DIRS; d++) {
		int32_t *v = out->v[d];
		if (opts->centre_offset)
			v[24] -= 256;
		if (opts->sign) {
			for (int k = 0; k < 24; k++)
				v[k] = -v[k];
			v[24] = 256 - v[24];
		}
		if (opts->target >= 0) {
			out->shift[d] = 4;
			fir_normalize(&out->shift[d], v, opts->target);
		}
	}
}

void convert_to_fir_hw_config_one_dir(uint8_t *table, int dir, uint32_t shift, const int32_t *v)
{
	if (dir < 0 || dir >= IK_FIR_DIRS) {
		IK_WARN("Unknown FIR dir %d\n", dir);
		return;
	}
	uint8_t *rec = table + 28 * dir;
	uint16_t first = (uint16_t)(rec[0] | (rec[1] << 8));
	first = (uint16_t)((first & 0xFE00u) | ((uint32_t)v[24] & 0x1FFu));
	rec[0] = (uint8_t)first;
	rec[1] = (uint8_t)(first >> 8);
	for (int p = 0; p < 24; p++)
		rec[4 + p] = (uint8_t)(v[hw_order[p]] & hw_mask(p));
	uint32_t word;
	memcpy(&word, table + 252, 4);
	word = (word & ~(7u << (3 * dir))) | ((shift & 7u) << (3 * dir));
	memcpy(table + 252, &word, 4);
}

void fir_prepare_work(const img_dsp_fir *src, img_dsp_fir *work)
{
	memset(work, 0, sizeof(*work));
	work->specify = src->specify;
	switch (src->specify) {
	case 0:
		for (int d = 0; d < IK_FIR_DIRS; d++)
			work->per_dir_fir_iso_strengths[d] = src->strength_iso;
		break;
	case 1: {
		uint16_t ten[10], full[IK_FIR_TAPS];
		memcpy(ten, src->coefs[0], sizeof(ten));
		fir_expand_symmetric(ten, full, IK_FIR_TAPS);
		for (int d = 0; d < IK_FIR_DIRS; d++)
			memcpy(work->coefs[d], full, sizeof(full));
		break;
	}
	case 2:
		for (int d = 0; d < IK_FIR_DIRS; d++) {
			work->per_dir_fir_iso_strengths[d] = src->strength_iso;
			work->per_dir_fir_dir_strengths[d] = src->strength_dir;
			work->per_dir_fir_dir_amounts[d] = d == 0 ? 0 : 256;
		}
		break;
	case 3:
		memcpy(work->per_dir_fir_iso_strengths, src->per_dir_fir_iso_strengths,
		       sizeof(src->per_dir_fir_iso_strengths));
		memcpy(work->per_dir_fir_dir_strengths, src->per_dir_fir_dir_strengths,
		       sizeof(src->per_dir_fir_dir_strengths));
		memcpy(work->per_dir_fir_dir_amounts, src->per_dir_fir_dir_amounts,
		       sizeof(src->per_dir_fir_dir_amounts));
		break;
	case 4:
		memcpy(work->coefs, src->coefs, sizeof(src->coefs));
		break;
	default:
		break;
	}
}

void fir_sharpen_noise_sets(const img_dsp_fir *sharpen_fir, const img_dsp_fir *noise_fir, int mode,
                            ik_fir_coeff_set *f1, ik_fir_coeff_set *f2, int32_t (*sharpen_coefs)[IK_FIR_TAPS],
                            int32_t (*noise_coefs)[IK_FIR_TAPS])
{
	img_dsp_fir sharpen, noise;
	fir_prepare_work(sharpen_fir, &sharpen);
	fir_prepare_work(noise_fir, &noise);
	if (mode != 2) {
		ik_fir_coeff_set s, n;
		const ik_fir_calc_opts sharpen_opts = {IK_FIR_SET_B, false, true, false, false, -1};
		const ik_fir_calc_opts noise_opts = {IK_FIR_SET_A, false, false, false, false, -1};
		fir_calc_coeffs(&sharpen, &s, &sharpen_opts);
		fir_calc_coeffs(&noise, &n, &noise_opts);
		if (sharpen_coefs)
			memcpy(sharpen_coefs, s.v, sizeof(s.v));
		if (noise_coefs)
			memcpy(noise_coefs, n.v, sizeof(n.v));
		for (int d = 0; d < IK_FIR_DIRS; d++) {
			int32_t inverse[IK_FIR_TAPS];
			for (int k = 0; k < 24; k++)
				inverse[k] = -s.v[d][k];
			inverse[24] = 256 - s.v[d][24];
			f1->shift[d] = 4;
			f2->shift[d] = 4;
			fir_compose(n.v[d], s.v[d], 0, f1->v[d], &f1->shift[d]);
			fir_compose(n.v[d], inverse, 256, f2->v[d], &f2->shift[d]);
		}
	} else {
		const ik_fir_calc_opts sharpen_opts = {IK_FIR_SET_B, false, true, false, false, 0};
		const ik_fir_calc_opts noise_opts = {IK_FIR_SET_A, false, false, true, false, 0};
		fir_calc_coeffs(&sharpen, f1, &sharpen_opts);
		fir_calc_coeffs(&noise, f2, &noise_opts);
	}
}

void update_fir_coeffs(const void *, uint8_t *fir1, uint8_t *fir2, ik_first_sharpen_group *group)
{
	ik_fir_coeff_set f1, f2;
	fir_sharpen_noise_sets(&group->sharpen_fir, &group->noise.fir, group->both.Mode, &f1, &f2,
	                       group->sharpen_coefs, group->noise_coefs);
	if (!fir1) {
		IK_ERROR("Error! shp_mode == SHPA but pShpAFir1Addr is NULL\n");
		return;
	}
	convert_set(fir1, &f1);
	if (!fir2) {
		IK_ERROR("Error! shp_mode == SHPA but pShpAFir2Addr is NULL\n");
		return;
	}
	convert_set(fir2, &f2);
}

/* The advance spatial filter's work record holds its FIR from byte 4. */
static void asf_coeffs(const uint8_t *work, ik_fir_coeff_set *set)
{
	img_dsp_fir fir;
	memcpy(&fir, work + 4, sizeof(fir));
	const ik_fir_calc_opts opts = {IK_FIR_SET_A, false, false, false, true, 0};
	fir_calc_coeffs(&fir, set, &opts);
}

void update_asf_fir1_coeffs(const uint8_t *work, uint8_t *table)
{
	ik_fir_coeff_set set;
	asf_coeffs(work, &set);
	for (int d = 1; d < IK_FIR_DIRS; d++) {
		memcpy(set.v[d], set.v[0], sizeof(set.v[0]));
		set.shift[d] = set.shift[0];
	}
	convert_set(table, &set);
}

void update_asf_fir2_coeffs(const uint8_t *work, uint8_t *table)
{
	ik_fir_coeff_set set;
	asf_coeffs(work, &set);
	convert_set(table, &set);
}
