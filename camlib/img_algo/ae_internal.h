/* What the exposure modules share inside the library: an instance's data
 * block and the helpers over its tables. */
#ifndef CAMLIB_IMG_ALGO_AE_INTERNAL_H
#define CAMLIB_IMG_ALGO_AE_INTERNAL_H

#include "ae.h"

#include <stddef.h>
#include <stdint.h>

typedef unsigned __int128 ae_u128;

#define AE_DEFAULT_TARGET 140
#define AE_START_TARGET 110
#define AE_METER_PEAK 6 /* metering mode with its own target */
#define AE_PEAK_TARGET 128

struct ae_data {
	ae_line lines[AE_MAX_LINES];
	uint32_t line_ratio[AE_MAX_LINES]; /* end / start of the changing part */
	uint8_t tile_weight[AE_TILES];
	ae_result result; /* last written */
	ae_point cur;     /* P */
	uint32_t compensation;
	uint32_t agc_step;
	uint32_t shutter_num;
	uint32_t *shutter;
	uint32_t *agc_gain;
	uint64_t *ext_gain;
	uint32_t agc_num;
	uint32_t ext_num;
	uint32_t agc_max; /* m */
	uint16_t target;
	uint16_t target_ratio; /* 1024 = 1.0 */
	uint16_t next_luma;
	uint16_t last_luma;
	uint16_t last_rgb_luma;
	uint16_t limit_low;
	uint16_t limit_high;
	uint8_t line;     /* of P */
	uint8_t line_num; /* active */
	uint8_t line_max; /* loaded */
	uint8_t cursor;   /* line + 1; 0 at line 0's start, line + 2 past the last */
	uint8_t metering;
	uint8_t weight_mode;
	uint8_t speed;
	uint8_t tolerance;
	uint8_t gain_skip;
	uint8_t shutter_skip;
	uint8_t skip; /* frames still to skip */
	uint8_t stable;
	uint8_t pending; /* no decision yet */
	uint8_t initialised;
	char name[AE_NAME_SIZE];
};

#ifdef __cplusplus
static_assert(sizeof(ae_data) == AE_DATA_SIZE, "the instance's data block");
static_assert(offsetof(ae_data, name) == AE_DATA_SIZE - AE_NAME_SIZE, "the name ends the block");
#endif

/* Table lookups; indexes past the tables are refused when lines load. */
uint64_t ae_shutter_value(const ae_data *d, uint32_t index);
uint64_t ae_agc_gain(const ae_data *d, uint32_t index);
ae_u128 ae_exposure(const ae_data *d, const ae_point *p);
/* 0 (refused) unless start <= end; end / start x 4096 otherwise. */
uint32_t get_changing_ratio_ex(uint64_t start, uint64_t end);
/* 0 shutter, 1 AGC, 2 iris; -1 when shutter and AGC both change. */
int ae_line_type(const ae_line *l);
uint32_t ae_point_part(const ae_point *p, int type);
uint64_t ae_part_value(const ae_data *d, const ae_point *p, int type);

/* Relaxed stores and loads of what other threads read through getters. */
#define AE_STORE(field, value) __atomic_store_n(&(field), (value), __ATOMIC_RELAXED)
#define AE_LOAD(field) __atomic_load_n(&(field), __ATOMIC_RELAXED)

/* An instance with its slots and an empty data block (NULL on failure), its
 * configuration (-1 bad or missing tables, -2 configured already), and its
 * end with every table it holds. */
ae_instance *ae_instance_create(int index);
int ae_instance_init(ae_instance *ae, const ae_config *cfg);
void ae_instance_free(ae_instance *ae);

void ae_debug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
