/* The filter translaters: each turns the values a container pass left in a
 * filter's state, with the channel's user settings, into the block its
 * image-kernel setter (or HDR, AE or AWB module) takes. They write only the
 * fields they name and never call the image kernel. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_TRANSLATE_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_TRANSLATE_H

#include "img_adj_settings.h"

/* One translater a filter id; filter 9 has none (its step writes its
 * block). Each returns 0, or -1 for a NULL state or block, a channel
 * outside the pipeline's or a state of another filter. */
extern const img_adj_translater img_adj_translaters[IMG_ADJ_FILTER_NUM];

#endif
