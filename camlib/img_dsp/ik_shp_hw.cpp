/* Sharpen and filter hardware conversions. */
#include "ik_helpers.h"

/*
 * Every caller passes selectors 0, for which each scaling factor is 1.0 and
 * the entries keep the levels: entry 4i of the first 256 bytes holds level a
 * and entry 256 + 4i level b. Other bytes are left to the caller, which has
 * cleared them.
 */
void img_dsp_core_gen_strength_table(uint8_t *table, uint8_t level_a, uint8_t level_b, uint8_t, uint8_t,
                                     uint8_t)
{
	for (int i = 0; i < 64; i++) {
		table[4 * i] = level_a;
		table[256 + 4 * i] = level_b;
	}
}

/* The coring packing and the level rule are not built yet: leave the
 * configuration's table and level as they were. */
void pack_5bit_table(const uint8_t *, uint8_t *) {}

void level_from_t0_t1(const void *, ik_level_block *) {}
