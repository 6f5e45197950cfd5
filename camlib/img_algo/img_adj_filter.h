/* The gain-indexed filter pipeline. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_FILTER_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_FILTER_H

/* Channels the pipeline serves, 1 to 4; -1 outside. */
int img_adj_set_channel_count(int n);
int img_adj_get_channel_count(void);

#endif
