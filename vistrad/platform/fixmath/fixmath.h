#pragma once
// The camera's fixed-point mathematics library. Values are signed 32-bit
// fixed-point numbers passed with their count of fraction bits.
//
// The functions below compute in double through the C maths library, round
// to the nearest integer (halves away from zero) and saturate to the signed
// 32-bit range. A result has the fraction bits of its argument; fx_powx's
// has those of its base. Outside a function's domain: the logarithm of 0 or
// of a negative value is INT32_MIN, the root of a negative value 0, and a
// power without a real result (a negative base to a fractional exponent) 0.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// fx_xtof_tab[n] is 2^-n as a float: multiplying a value with n fraction
// bits by it gives the value as a float.
extern const float fx_xtof_tab[32];

int32_t fx_log10x(int32_t value, int frac_bits);
int32_t fx_log2x(int32_t value, int frac_bits);
int32_t fx_exp2x(int32_t value, int frac_bits);
int32_t fx_powx(int32_t base, int base_frac_bits, int32_t exponent, int exponent_frac_bits);
int32_t fx_sqrtx(int32_t value, int frac_bits);
int32_t fx_sinx(int32_t angle, int frac_bits);
int32_t fx_cosx(int32_t angle, int frac_bits);

#ifdef __cplusplus
}
#endif
