/* Statistics bit-unpacker: block-floating-point raw data. */
#include "ik_helpers.h"

static img_dsp_raw_unpack_param param;

int img_dsp_core_set_raw_unpack_param(uint8_t resolution, uint8_t m, uint8_t g)
{
    static const uint8_t base[2][4] = { { 1, 0, 0, 0 }, { 2, 1, 0, 0 } };
    static const uint8_t headroom[2][4] = { { 8, 7, 6, 5 }, { 9, 8, 7, 6 } };
    if ((resolution != 14 && resolution != 15) || m < 6 || m > 9 || (g != 2 && g != 4))
        return -1;
    int r = resolution - 14;
    param.m = m;
    param.base = base[r][m - 6];
    param.headroom = headroom[r][m - 6];
    param.g = g;
    param.h = g == 2 ? 1 : 2;
    param.B = (uint8_t)(m * g + 3);
    return 0;
}

img_dsp_raw_unpack_param img_dsp_core_get_raw_unpack_param(void) { return param; }
