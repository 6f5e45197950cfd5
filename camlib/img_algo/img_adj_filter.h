/* The gain-indexed filter pipeline: per channel the tuning containers of the
 * 49 image filters in two banks, the filter states and translated blocks,
 * and the colour-correction tables; the container pass that picks or blends
 * the rows of the channel's gain index, the first full pass and the
 * per-frame pass. Failures print one line on standard output and return -1.
 * No locks: the camera library serialises its calls. */
#ifndef CAMLIB_IMG_ALGO_IMG_ADJ_FILTER_H
#define CAMLIB_IMG_ALGO_IMG_ADJ_FILTER_H

#include "cl_aaa_block.h"
#include "img_channel.h"
#include "img_dsp.h"

#include <stdint.h>

#define IMG_ADJ_FILTER_NUM 49
#define IMG_ADJ_BANK_SIZE 193384
#define IMG_ADJ_ROWS 16
/* 128 gain-index units step one row. */
#define IMG_ADJ_ROW_SHIFT 7
#define IMG_ADJ_START_GAIN_INDEX 256
#define IMG_ADJ_NO_FILTER 65535u

/* Filter ids the pipeline treats apart. */
#define IMG_ADJ_CC 9
#define IMG_ADJ_TONE 10
#define IMG_ADJ_RGB2YUV 11
#define IMG_ADJ_CHROMA_SCALE 12
#define IMG_ADJ_LUMA_PROC 14
#define IMG_ADJ_ASF 15

/* Filter modes (container word 1). */
#define IMG_ADJ_MODE_DISABLED -1
#define IMG_ADJ_MODE_ONCE 2

/* Colour-correction tables: a head, 4096 entries of three 10-bit values, a
 * tail. T0 to T2 by colour temperature, T3 low light, T4 the one sent. */
#define IMG_ADJ_CC_TABLE_SIZE 17536
#define IMG_ADJ_CC_HEAD 128
#define IMG_ADJ_CC_ENTRIES 4096
#define IMG_ADJ_CC_TAIL 1024
#define IMG_ADJ_CC_TABLES 5
#define IMG_ADJ_CC_SOURCES 4
#define IMG_ADJ_CC_LOW_LIGHT 3
#define IMG_ADJ_CC_WORK 4
#define IMG_ADJ_CC_CONTAINER_SIZE 600
/* The column of the colour-correction container's rows that holds the
 * table addresses. */
#define IMG_ADJ_CC_COLUMN 2

/* Evaluation state of one filter of one channel; the part values follow
 * the header, one row image per container part. */
typedef struct filter_state {
	uint32_t id;
	int32_t period;  /* passes between evaluations */
	int32_t counter; /* passes since the last one */
	uint32_t changed;
	uint32_t extra_parts;
	uint32_t force_send;
} filter_state;

static inline uint8_t *filter_state_values(filter_state *s)
{
	return (uint8_t *)(s + 1);
}

static inline const uint8_t *filter_state_values(const filter_state *s)
{
	return (const uint8_t *)(s + 1);
}

/* Header of a tuning container: up to five parts of 16 rows follow. Types
 * 0 to 8 and 11 to 13 describe their first part in words 1 to 4 (the mode
 * doubling as its interpolation flag); further parts have their own
 * {flag, count, lowest row, highest row} from word 6 on. */
typedef struct filter_container {
	uint32_t id; /* low 16 bits count */
	int32_t mode;
	uint32_t count;
	uint32_t lo;
	uint32_t hi;
	uint32_t nparts;
	uint32_t part[4][4];
} filter_container;

#ifdef __cplusplus
static_assert(sizeof(filter_state) == 24, "filter_state header");
static_assert(sizeof(filter_container) == 88, "container header");
#endif

/* A channel's tuning: one container pointer per filter (NULL: no tuning). */
typedef const void *img_adj_tuning[IMG_ADJ_FILTER_NUM];
/* A channel's colour-correction sources T0 to T3. */
typedef const void *img_adj_cc_sources[IMG_ADJ_CC_SOURCES];

/* 48 for work modes 0, 1, 3 and 4, 45 for mode 2, else IMG_ADJ_NO_FILTER
 * with the mode message. */
uint32_t img_adj_last_filter_id(uint32_t work_mode);

/* Channels the pipeline serves, 1 to 4; -1 outside. */
int img_adj_set_channel_count(int n);
int img_adj_get_channel_count(void);
/* Copies the channel count's records; -1 for NULL. */
int img_adj_set_channel_info(const channel_info *records);
const channel_info *img_adj_get_channel_info(int chan);

/* Set-up, in the daemon's order: containers, colour-correction tables,
 * headers, (channel configuration), first pass. */
int img_adj_init_containers_liso(const img_adj_tuning *tunings);
int img_adj_load_cc_tables(const img_adj_cc_sources *sources);
int img_adj_init_filter_headers(void);
int img_adj_apply_initial_filters(int fd, img_dsp_mode *mode);
/* One pass over the enabled channels with their gain indexes; of each
 * cl_aaa_block only the white-balance gains are read. */
int img_adj_run_filters(int fd, img_dsp_mode *mode, const int32_t *gain_index, const cl_aaa_block *aaa);

/* Makes every channel evaluate and send the filter on the next pass. */
int img_adj_refresh_filter(uint32_t id);
int img_adj_set_filter_mode(int8_t mode, int32_t id, int32_t chan);
/* The filter's block translated afresh (filter 10: the tone curve last
 * sent); at most the block's size. */
int img_adj_get_filter_block(void *out, int32_t size, uint8_t id, int32_t chan);

/* Service mode: the inactive banks, filled and then swapped in. */
int img_adj_reload_containers(const img_adj_tuning *tunings, uint32_t mask);
int img_adj_copy_container_bank(void);
void img_adj_swap_container_bank(void);
int img_adj_load_pending_cc_tables(const img_adj_cc_sources *sources, uint32_t mask);
void img_adj_swap_cc_bank(void);
int img_adj_set_channel_enable(const uint32_t *enable, uint32_t mask);
int img_adj_get_channel_enable(uint32_t *out);

/* The container pass of one filter: the container's size names its type. */
int img_adj_container_apply(filter_state *f, const filter_container *fc, int32_t gain_index, uint32_t size);
/* Stores p in row m, column n of a 600-byte container. */
int img_adj_container_set_pointer(filter_container *fc, const void *p, int32_t m, int32_t n, int32_t size);
int filter_container_reset(filter_container *fc, uint32_t id, int32_t mode);
int filter_container_set_mode(filter_container *fc, int32_t mode);

/* The store: sizes by filter id, and a channel's records (NULL outside). */
uint32_t img_adj_container_size(uint32_t id);
uint32_t img_adj_filter_block_size(uint32_t id);
/* A channel's blocks lie back to back in filter order, each 8-aligned:
 * IMG_ADJ_BLOCK_AREA bytes in all, filter id at its offset. */
#define IMG_ADJ_BLOCK_AREA 7344u
uint32_t img_adj_filter_block_offset(uint32_t id);
/* Part p (1 for the first) of the state's values, as the filter's container
 * type lays them out; NULL when the type has no such part. */
const uint8_t *img_adj_state_part(const filter_state *s, int p);
filter_state *img_adj_filter_state(int chan, uint32_t id);
void *img_adj_filter_block(int chan, uint32_t id);
filter_container *img_adj_bank_container(int chan, int bank, uint32_t id);
int img_adj_active_bank(void);
/* The colour-correction container (twin 0) or its twin (1). */
filter_container *img_adj_cc_container(int chan, int twin);

/* Tests only: everything back to its state at load. */
void img_adj_filter_reset(void);

#endif
