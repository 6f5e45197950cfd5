/*
 * Default tables: the motion templates stay neutral (zero), the colour
 * look-up tables are identity ramps and the two 3-D colour matrices map every
 * grid point onto itself, so a configuration that points at them leaves the
 * image unchanged.
 */
#include "ik_default_tables.h"

#include "ik_core.h"

#include <string.h>

namespace
{

struct default_table {
	uint32_t offset;
	uint32_t size;
};

/* Seven tables; the 16 bytes after the second and the third are not written. */
const default_table layout[] = {
    {0, 256},
    {256, 10064},
    {10336, 12752},
    {IK_DEF_TBL_CC_LUT_A, IK_CC_LUT_SIZE},
    {IK_DEF_TBL_CC_LUT_B, IK_CC_LUT_SIZE},
    {IK_DEF_TBL_CC_3D_A, IK_CC_3D_SIZE},
    {IK_DEF_TBL_CC_3D_B, IK_CC_3D_SIZE},
};

struct tables {
	uint32_t cc_lut[IK_CC_LUT_SIZE / 4];
	uint32_t cc_3d[IK_CC_3D_SIZE / 4];
	uint8_t zeros[12752];

	tables()
	{
		/* 12-bit entries two to a word, entry k holding k. */
		for (uint32_t w = 0; w < IK_CC_LUT_SIZE / 4; w++)
			cc_lut[w] = (2 * w) | (2 * w + 1) << 16;
		for (uint32_t r = 0; r < 16; r++)
			for (uint32_t g = 0; g < 16; g++)
				for (uint32_t b = 0; b < 16; b++)
					cc_3d[(r * 16 + g) * 16 + b] =
					    level(r) | level(g) << 10 | level(b) << 20;
		memset(zeros, 0, sizeof(zeros));
	}

	static uint32_t level(uint32_t i)
	{
		return (i * 1023 + 7) / 15;
	}

	const void *data(unsigned index) const
	{
		if (index == 3 || index == 4)
			return cc_lut;
		if (index >= 5)
			return cc_3d;
		return zeros;
	}
};

} // namespace

void ik_default_tables_copy(uint8_t *dst)
{
	static const tables t;
	for (unsigned i = 0; i < sizeof(layout) / sizeof(layout[0]); i++)
		ik_fn()->memcpy_init(dst + layout[i].offset, t.data(i), layout[i].size);
}
