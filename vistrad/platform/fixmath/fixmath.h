#pragma once
// The camera's fixed-point mathematics library. Values are signed 32-bit
// fixed-point numbers passed with their count of fraction bits.

#ifdef __cplusplus
extern "C" {
#endif

// fx_xtof_tab[n] is 2^-n as a float: multiplying a value with n fraction
// bits by it gives the value as a float.
extern const float fx_xtof_tab[32];

#ifdef __cplusplus
}
#endif
