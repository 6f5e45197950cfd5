#include "fixmath.h"

#include <math.h>

extern "C" {

const float fx_xtof_tab[32] = {
    1.0f,     0.5f,     0.25f,    0.125f,   0.0625f,  0.03125f, 0x1p-6f,  0x1p-7f,
    0x1p-8f,  0x1p-9f,  0x1p-10f, 0x1p-11f, 0x1p-12f, 0x1p-13f, 0x1p-14f, 0x1p-15f,
    0x1p-16f, 0x1p-17f, 0x1p-18f, 0x1p-19f, 0x1p-20f, 0x1p-21f, 0x1p-22f, 0x1p-23f,
    0x1p-24f, 0x1p-25f, 0x1p-26f, 0x1p-27f, 0x1p-28f, 0x1p-29f, 0x1p-30f, 0x1p-31f,
};

static double to_real(int32_t value, int frac_bits)
{
	return ldexp((double)value, -frac_bits);
}

// Rounds r, given with frac_bits fraction bits, and saturates it.
static int32_t from_real(double r, int frac_bits)
{
	if (isnan(r))
		return 0;
	double scaled = round(ldexp(r, frac_bits));
	if (scaled >= 2147483647.0)
		return INT32_MAX;
	if (scaled <= -2147483648.0)
		return INT32_MIN;
	return (int32_t)scaled;
}

int32_t fx_log10x(int32_t value, int frac_bits)
{
	if (value <= 0)
		return INT32_MIN;
	return from_real(log10(to_real(value, frac_bits)), frac_bits);
}

int32_t fx_log2x(int32_t value, int frac_bits)
{
	if (value <= 0)
		return INT32_MIN;
	return from_real(log2(to_real(value, frac_bits)), frac_bits);
}

int32_t fx_exp2x(int32_t value, int frac_bits)
{
	return from_real(exp2(to_real(value, frac_bits)), frac_bits);
}

int32_t fx_powx(int32_t base, int base_frac_bits, int32_t exponent, int exponent_frac_bits)
{
	return from_real(pow(to_real(base, base_frac_bits), to_real(exponent, exponent_frac_bits)),
	                 base_frac_bits);
}

int32_t fx_sqrtx(int32_t value, int frac_bits)
{
	if (value < 0)
		return 0;
	return from_real(sqrt(to_real(value, frac_bits)), frac_bits);
}

int32_t fx_sinx(int32_t angle, int frac_bits)
{
	return from_real(sin(to_real(angle, frac_bits)), frac_bits);
}

int32_t fx_cosx(int32_t angle, int frac_bits)
{
	return from_real(cos(to_real(angle, frac_bits)), frac_bits);
}
}
