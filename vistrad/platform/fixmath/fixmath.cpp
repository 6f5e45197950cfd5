#include "fixmath.h"

extern "C" {

const float fx_xtof_tab[32] = {
    1.0f,           0.5f,           0.25f,          0.125f,         0.0625f,        0.03125f,
    0x1p-6f,        0x1p-7f,        0x1p-8f,        0x1p-9f,        0x1p-10f,       0x1p-11f,
    0x1p-12f,       0x1p-13f,       0x1p-14f,       0x1p-15f,       0x1p-16f,       0x1p-17f,
    0x1p-18f,       0x1p-19f,       0x1p-20f,       0x1p-21f,       0x1p-22f,       0x1p-23f,
    0x1p-24f,       0x1p-25f,       0x1p-26f,       0x1p-27f,       0x1p-28f,       0x1p-29f,
    0x1p-30f,       0x1p-31f,
};
}
