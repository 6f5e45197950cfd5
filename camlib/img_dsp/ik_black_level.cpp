/* Black levels and digital-gain saturation. */
#include "ik_color.h"

/* Rounded half away from zero; the product may exceed 64 bits when a black
 * level meets a large total gain. */
static int64_t div_round_65536(__int128 v)
{
	__int128 a = v < 0 ? -v : v;
	__int128 q = (a + 32768) >> 16;
	return (int64_t)(v < 0 ? -q : q);
}

void img_dsp_core_deferred_black_level_table(const int16_t black[4], const img_dsp_wb_gain *wb,
                                             int16_t table[9])
{
	/* Three 24-bit factors do not fit 64 bits: the total gain is taken
	 * whole and only then scaled to 16.16. */
	unsigned __int128 ae_dgain = (unsigned __int128)wb->AeGain * wb->GlobalDGain;
	unsigned __int128 gain[3] = {
	    (wb->GainR * ae_dgain) >> 20,
	    (wb->GainG * ae_dgain) >> 20,
	    (wb->GainB * ae_dgain) >> 20,
	};
	int32_t m = black[0];
	for (int i = 1; i < 4; i++)
		if (black[i] < m)
			m = black[i];
	int64_t n = -(int64_t)m;
	unsigned __int128 largest = gain[2] ? gain[2] : 1;
	if (gain[0] > largest)
		largest = gain[0];
	if (gain[1] > largest)
		largest = gain[1];
	int64_t limit = (int64_t)(((unsigned __int128)1 << 30) / largest);
	for (int c = 0; c < 3; c++) {
		int64_t def = n < limit ? n : limit;
		table[c] = (int16_t)def;
		table[6 + c] = (int16_t)(n < 512 ? n : 512);
		table[3 + c] = (int16_t)div_round_65536((__int128)def * (__int128)gain[c]);
	}
}

/* Not built yet: the saturation section keeps its contents and the step
 * reports nothing. */
int img_dsp_core_process_dgain_saturation_level(const img_dsp_mode *, const img_dsp_dgain_saturation_level *,
                                                img_dsp_update_list *)
{
	return 0;
}
