/* The built-in tuning: one row per board and sensor mode naming the sensor,
 * the filter containers and the IQ tables, the lookup that picks a row for
 * the first channel, and the colour-correction files read at prepare. */
#ifndef CAMLIB_LIBCL_CL_TUNING_H
#define CAMLIB_LIBCL_CL_TUNING_H

#include <stddef.h>
#include <stdint.h>

#include "img_dsp.h"

#define CL_TUNING_FILTERS 49
/* A row whose mode is this serves every HDR method. */
#define CL_TUNING_ANY_MODE 9
#define CL_TUNING_END (-1)
#define CL_TUNING_ROWS 20

#define CL_SENSOR_TABLE_SIZE 260
#define CL_STATS_TABLE_SIZE 80
#define CL_EXPOSURE_TABLE_SIZE 2908
#define CL_WB_TABLE_SIZE 732
#define CL_HDR_TABLE_SIZE 256
#define CL_RATIO_GAIN_TABLE_SIZE 536
/* The exposure table's linear gains (Q14) by gain index start here. */
#define CL_EXPOSURE_GAIN_OFFSET 24
#define CL_GAIN_INDEX_MAX 721
/* The part of the white-balance table that is the 3A block's AWB part. */
#define CL_WB_PARAMS_AT 24
/* The sensor table from this byte is the channel's sensor record, with
 * the AAA information and AGC record laid over it. */
#define CL_SENSOR_RECORD_AT 24
#define CL_SENSOR_RECORD_SIZE 236
#define CL_SENSOR_AAA_INFO_AT 44
#define CL_SENSOR_AGC_AT 196
/* The statistics table's sensor description for the parser. */
#define CL_STATS_SENSOR_AT 24

#define CL_CC_REG_SIZE 18752
#define CL_CC_3D_SIZE 17536
#define CL_CC_3D_TABLES 4
#define CL_CC_REG_PATH "/lib/firmware/reg.bin"
#define CL_CC_3D_PATH "/lib/firmware/%s_0%d_3D%s.bin"

typedef struct tuning_row {
	int32_t board_id;
	uint32_t zero;
	const char *sensor_name;
	int32_t key_a; /* channel_info word 0 */
	int32_t key_b; /* channel_info word 2 */
	int32_t key_c; /* channel_info word 1: exposures */
	int32_t mode;  /* HDR method served, or CL_TUNING_ANY_MODE */
	const void *filters[CL_TUNING_FILTERS];
	const uint8_t *sensor_table;
	const uint8_t *stats_table;
	const void *unused0;
	const uint8_t *exposure_table;
	const void *unused1;
	const uint8_t *wb_table;
	const void *unused2;
	const uint8_t *hdr_table;
	const uint8_t *ratio_gain_table;
} tuning_row;

static_assert(sizeof(tuning_row) == 496, "tuning_row is 496 bytes");
static_assert(offsetof(tuning_row, key_a) == 16, "keys at 16");
static_assert(offsetof(tuning_row, filters) == 32, "filters at 32");
static_assert(offsetof(tuning_row, sensor_table) == 424, "sensor table at 424");
static_assert(offsetof(tuning_row, stats_table) == 432, "statistics table at 432");
static_assert(offsetof(tuning_row, exposure_table) == 448, "exposure table at 448");
static_assert(offsetof(tuning_row, wb_table) == 464, "white-balance table at 464");
static_assert(offsetof(tuning_row, hdr_table) == 480, "HDR table at 480");
static_assert(offsetof(tuning_row, ratio_gain_table) == 488, "ratio-to-gain table at 488");

/* The rows in lookup order, ended by a row of board id CL_TUNING_END. */
extern const tuning_row cl_tuning_table[CL_TUNING_ROWS + 1];

/* The board whose rows the lookup considers; cannot fail. */
void cl_tuning_set_board(int32_t board_id);
void cl_tuning_clear_board(void);
int32_t cl_tuning_board(void);

/* First row of the board with keys a, b, c whose mode is `mode` or any;
 * NULL with a warning when none matches. */
const tuning_row *cl_tuning_lookup(int32_t a, int32_t b, int32_t c, int32_t mode);

/* Prepare's distribution of the row: every channel's working copies of
 * the row's IQ tables, the HDR table for an HDR first channel, and each
 * channel's white-balance parameters, sensor record (its AAA information
 * and AGC record inside) and description handed to the 3A modules. */
void cl_tuning_distribute(const tuning_row *row);
/* Each channel's AE, AWB and AF tile grids from its statistics table; the
 * table's sensor part goes to the statistics parser. */
void cl_tuning_stats_config(void);

/* `path` under camlib's root prefix (VISTRAD_ROOT) into `out`; 0, or -1
 * when it does not fit. */
int cl_root_path(const char *path, char *out, size_t size);
/* 1 when exactly `len` bytes of the file were read, else 0 (logged). */
int cl_read_file(const char *path, void *buf, size_t len);

/* Reads the register table and every VIN's four 3D tables, hands them to
 * the filter pipeline and sets each VIN's colour correction: 1 or 0. */
int cl_load_bins(int fd, const char *sensor_name, int vin_count, int hdr, img_dsp_mode *mode);

#endif
