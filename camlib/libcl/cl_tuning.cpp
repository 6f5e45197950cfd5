#include "cl_tuning.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "aaa_parser.h"
#include "awb.h"
#include "cl_customerloop.h"
#include "cl_log.h"
#include "img_adj_filter.h"
#include "img_hdr_params.h"
#include "img_lib.h"

static std::atomic<int32_t> board{-1};

void cl_tuning_set_board(int32_t board_id)
{
	board.store(board_id);
}

// The board id is only read at prepare; nothing to release.
void cl_tuning_clear_board(void) {}

int32_t cl_tuning_board(void)
{
	return board.load();
}

const tuning_row *cl_tuning_lookup(int32_t a, int32_t b, int32_t c, int32_t mode)
{
	int32_t id = board.load();
	for (const tuning_row *r = cl_tuning_table; r->board_id != CL_TUNING_END; r++) {
		if (r->board_id != id || r->key_a != a || r->key_b != b || r->key_c != c)
			continue;
		if (r->mode == CL_TUNING_ANY_MODE || r->mode == mode)
			return r;
	}
	cl_log(LOG_WARNING, "WARNING: failed to lookup tuning: %d (%d, %d, %d, %d)\n", id, a, b, c, mode);
	return nullptr;
}

static void copy_table(uint8_t *dst, const uint8_t *src, size_t len)
{
	if (src)
		memcpy(dst, src, len);
}

// The HDR table serves a first channel whose exposures the sensor or the
// combined methods merge.
static bool hdr_first_channel(const channel_info &ci)
{
	return (ci.dsp_hdr == 0 && ci.hdr_method == 4) || ci.hdr_method == 6;
}

void cl_tuning_distribute(const tuning_row *row)
{
	customerloop_state &s = cl_state();
	int n = s.vin_count < 1 ? 1 : s.vin_count > CL_MAX_VINS ? CL_MAX_VINS : s.vin_count;
	for (int c = 0; c < n; c++) {
		cl_channel &ch = s.channel[c];
		copy_table(ch.stats_table, row->stats_table, sizeof ch.stats_table);
		copy_table(ch.wb_table, row->wb_table, sizeof ch.wb_table);
		copy_table(ch.exposure_table, row->exposure_table, sizeof ch.exposure_table);
		copy_table(ch.sensor_table, row->sensor_table, sizeof ch.sensor_table);
		copy_table(ch.ratio_gain_table, row->ratio_gain_table, sizeof ch.ratio_gain_table);
	}
	if (row->hdr_table && hdr_first_channel(s.channel[0].info)) {
		static uint8_t iq[CL_MAX_VINS][CL_HDR_TABLE_SIZE];
		for (auto &t : iq)
			memcpy(t, row->hdr_table, CL_HDR_TABLE_SIZE);
		img_set_hdr_iq_params(iq);
	}
	static uint8_t awb[CL_MAX_VINS][IMG_AAA_AWB_CFG_SIZE];
	static uint8_t sensor[CL_MAX_VINS][CL_SENSOR_RECORD_SIZE];
	static channel_info info[CL_MAX_VINS];
	static_assert(CL_WB_PARAMS_AT + IMG_AAA_AWB_CFG_SIZE == CL_WB_TABLE_SIZE, "AWB part ends the table");
	static_assert(CL_SENSOR_RECORD_AT + CL_SENSOR_RECORD_SIZE == CL_SENSOR_TABLE_SIZE,
	              "sensor record ends the table");
	static_assert(CL_SENSOR_AGC_AT - CL_SENSOR_AAA_INFO_AT == sizeof(vin_aaa_info), "AAA information");
	for (int c = 0; c < CL_MAX_VINS; c++) {
		const cl_channel &ch = s.channel[c];
		memcpy(awb[c], ch.wb_table + CL_WB_PARAMS_AT, IMG_AAA_AWB_CFG_SIZE);
		memcpy(sensor[c], ch.sensor_table + CL_SENSOR_RECORD_AT, CL_SENSOR_RECORD_SIZE);
		memcpy(sensor[c] + CL_SENSOR_AAA_INFO_AT, &ch.aaa_info, sizeof ch.aaa_info);
		memcpy(sensor[c] + CL_SENSOR_AGC_AT, ch.agc_record, CL_AGC_RECORD_SIZE);
		info[c] = ch.info;
	}
	img_config_awb(awb);
	img_config_sensor_info(sensor);
	img_adj_set_channel_info(info);
	awb_set_channel_info(info);
	img_hdr_set_channel_info(info);
}

static uint16_t rd16(const uint8_t *p)
{
	uint16_t v;
	memcpy(&v, p, 2);
	return v;
}

static_assert(sizeof(img_dsp_af_tile_cfg) == 16, "AF grid: eight words");
static_assert(offsetof(img_dsp_awb_tile_cfg, pix_min_value) == 16, "AWB grid: eight words, then limits");

void cl_tuning_stats_config(void)
{
	customerloop_state &s = cl_state();
	for (cl_channel &ch : s.channel) {
		const uint8_t *t = ch.stats_table;
		uint16_t ae[8] = {rd16(t + 46), rd16(t + 48), rd16(t + 50), rd16(t + 52),
		                  rd16(t + 54), rd16(t + 56), rd16(t + 74), rd16(t + 76)};
		memcpy(&ch.ae_tile, ae, sizeof ch.ae_tile);
		// Both grids start with eight u16 words laid out as in the table.
		memcpy(&ch.awb_tile, t + 26, 16);
		ch.awb_tile.pix_min_value = rd16(t + 42);
		ch.awb_tile.pix_max_value = rd16(t + 44);
		memcpy(&ch.af_tile, t + 58, sizeof ch.af_tile);
	}
	parse_aaa_set_sensor_desc(s.channel[0].stats_table + CL_STATS_SENSOR_AT);
}

int cl_root_path(const char *path, char *out, size_t size)
{
	const char *root = getenv("VISTRAD_ROOT");
	if (!root || path[0] != '/')
		root = "";
	int n = snprintf(out, size, "%s%s", root, path);
	return n < 0 || (size_t)n >= size ? -1 : 0;
}

int cl_read_file(const char *path, void *buf, size_t len)
{
	char full[512];
	if (cl_root_path(path, full, sizeof full) != 0) {
		cl_log(LOG_ERR, "ERROR: failed to open file %s: %s\n", path, strerror(ENAMETOOLONG));
		return 0;
	}
	int fd = open(full, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		cl_log(LOG_ERR, "ERROR: failed to open file %s: %s\n", path, strerror(errno));
		return 0;
	}
	size_t done = 0;
	int err = 0;
	while (done < len) {
		ssize_t n = read(fd, (uint8_t *)buf + done, len - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			err = n < 0 ? errno : 0;
			break;
		}
		done += (size_t)n;
	}
	int ok = done == len;
	if (!ok)
		cl_log(LOG_ERR, "ERROR: failed to read file %s: %s\n", path, strerror(err ? err : EIO));
	if (close(fd) < 0)
		cl_log(LOG_WARNING, "WARNING: failed to close file %s: %s\n", path, strerror(errno));
	return ok;
}

namespace
{

struct cc_files {
	uint8_t *reg = nullptr;
	uint8_t *tables[CL_MAX_VINS][CL_CC_3D_TABLES] = {};

	~cc_files()
	{
		free(reg);
		for (auto &vin : tables)
			for (uint8_t *t : vin)
				free(t);
	}
};

// A missing or short file leaves its slot empty; the caller reports the VIN.
uint8_t *read_table(const char *path, size_t len)
{
	uint8_t *buf = (uint8_t *)malloc(len);
	if (buf && !cl_read_file(path, buf, len)) {
		free(buf);
		buf = nullptr;
	}
	return buf;
}

int read_vin_tables(cc_files &f, int vin, const char *sensor_name, int hdr)
{
	int all = 1;
	for (int k = 1; k <= CL_CC_3D_TABLES; k++) {
		char path[256];
		snprintf(path, sizeof path, CL_CC_3D_PATH, sensor_name, k, hdr ? "_hdr" : "");
		f.tables[vin][k - 1] = read_table(path, CL_CC_3D_SIZE);
		all &= f.tables[vin][k - 1] != nullptr;
	}
	return all;
}

} // namespace

int cl_load_bins(int fd, const char *sensor_name, int vin_count, int hdr, img_dsp_mode *mode)
{
	cc_files f;
	f.reg = read_table(CL_CC_REG_PATH, CL_CC_REG_SIZE);
	if (!f.reg) {
		cl_log(LOG_ERR, "ERROR: failed to load reg file\n");
		return 0;
	}
	if (vin_count < 1 || vin_count > CL_MAX_VINS)
		return 0;
	img_adj_cc_sources sources[CL_MAX_VINS] = {};
	for (int vin = 0; vin < vin_count; vin++) {
		if (!read_vin_tables(f, vin, sensor_name, hdr)) {
			cl_log(LOG_ERR, "ERROR: %s: Channel %d failed to load one or more CC bin files\n",
			       __func__, vin);
			return 0;
		}
		for (int k = 0; k < CL_CC_3D_TABLES; k++)
			sources[vin][k] = f.tables[vin][k];
	}
	if (img_adj_load_cc_tables(sources) != 0) {
		cl_log(LOG_ERR, "ERROR: %s: Failed loading cc bins\n", __func__);
		return 0;
	}
	for (int vin = 0; vin < vin_count; vin++) {
		mode->ContextId = (uint8_t)vin;
		img_dsp_color_correction_reg reg = {(uint64_t)(uintptr_t)f.reg};
		if (vors_img_dsp_set_color_correction_reg(mode, &reg) < 0) {
			cl_log(LOG_ERR, "ERROR: %s: Failed set color cor reg\n", __func__);
			return 0;
		}
		img_dsp_color_correction cc = {(uint64_t)(uintptr_t)f.tables[vin][2]};
		if (vors_img_dsp_set_color_correction(fd, mode, &cc) < 0) {
			cl_log(LOG_ERR, "ERROR: %s: Failed set color cor\n", __func__);
			return 0;
		}
	}
	return 1;
}
