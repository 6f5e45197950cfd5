/*
 * The raw stage of the image kernel: steps its filters re-run on one
 * another, and the small helpers their checks share.
 */
#ifndef CAMLIB_IMG_DSP_IK_RAW_H
#define CAMLIB_IMG_DSP_IK_RAW_H

#include "ik_color.h"
#include "ik_context.h"
#include "ik_core.h"
#include "img_dsp.h"
#include "img_dsp_raw.h"

#include <stdint.h>
#include <string.h>

/* Stored blocks are byte arrays in the context: read and write them whole. */
template <class T> static inline T ik_load(const void *stored)
{
	T v;
	memcpy(&v, stored, sizeof(v));
	return v;
}

static inline void ik_note(img_dsp_update_list *list, unsigned entry, void *section)
{
	list->entry[entry].valid = 1;
	list->entry[entry].section = section;
}

/* A field above `max` is warned about with `fmt` (function, line, value,
 * function) and becomes `to`; 1 when it was changed. */
template <class T>
static inline int ik_clamp_above(const char *fn, int line, const char *fmt, T *v, T max, T to)
{
	if (*v <= max)
		return 0;
	ik_print(fmt, fn, line, (int)*v, fn);
	*v = to;
	return 1;
}
#define IK_CLAMP(fmt, field, max)                                                                            \
	ik_clamp_above(__func__, __LINE__, "[IK][Warning]%s() %d " fmt, &(field), (decltype(field))(max),    \
	               (decltype(field))(max))

/* The same for a field of an indexed array: (function, line, index, value,
 * function). */
template <class T>
static inline int ik_clamp_above_at(const char *fn, int line, const char *fmt, T *v, int index, uint32_t max)
{
	if (*v <= max)
		return 0;
	ik_print(fmt, fn, line, index, (int)*v, fn);
	*v = (T)max;
	return 1;
}
#define IK_CLAMP_AT(fmt, arr, i, max)                                                                        \
	ik_clamp_above_at(__func__, __LINE__, "[IK][Warning]%s() %d " fmt, &(arr)[i], (int)(i),              \
	                  (uint32_t)(max))

/* The black-level section's nine offsets from the deferred table. */
void write_black_level_offsets(ik_cmd_image *sec, const int16_t table[9]);

int img_dsp_core_process_static_black_level(const img_dsp_mode *mode, const img_dsp_static_black_level *block,
                                            img_dsp_update_list *list);
int img_dsp_core_process_cfa_noise_filter(const img_dsp_mode *mode, const img_dsp_cfa_noise_filter *block,
                                          img_dsp_update_list *list);
int img_dsp_core_process_cfa_leakage_filter(const img_dsp_mode *mode, const img_dsp_cfa_leakage_filter *block,
                                            img_dsp_update_list *list);
int img_dsp_core_process_calc_vignette_compensation(const img_dsp_mode *mode,
                                                    const img_dsp_vignette_calc_info *info,
                                                    img_dsp_update_list *list);

/* The context's stored CFA-noise block, re-run after a change of a filter
 * that shares its DSP block; its entry 0 goes to `entry` of `list`. */
void ik_rerun_cfa_noise(const img_dsp_mode *mode, ik_ctx_body *body, img_dsp_update_list *list,
                        unsigned entry);

#endif
