/* The library's default tables, copied into the region once per layout. */
#ifndef CAMLIB_IMG_DSP_IK_DEFAULT_TABLES_H
#define CAMLIB_IMG_DSP_IK_DEFAULT_TABLES_H

#include <stdint.h>

#define IK_DEF_TBL_CC_LUT_A 23104u
#define IK_DEF_TBL_CC_LUT_B 25408u
#define IK_DEF_TBL_CC_3D_A 27712u
#define IK_DEF_TBL_CC_3D_B 44096u
#define IK_CC_LUT_SIZE 2304u
#define IK_CC_3D_SIZE 16384u

static_assert(IK_DEF_TBL_CC_3D_B + IK_CC_3D_SIZE == 60480u, "the default table block");

/* Copies the seven default tables into a 60480-byte block. */
void ik_default_tables_copy(uint8_t *dst);

#endif
