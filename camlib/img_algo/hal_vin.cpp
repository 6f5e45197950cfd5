/* Video-input control. The library keeps no lock here: the camera library
 * calls it from its per-frame thread, the service mode from its main one. */
#include "hal_vin.h"

#include "img_channel.h"

#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

typedef struct hal_channel {
	int8_t vsrc_id;
	int8_t vsrc_ctx;
	uint8_t sensor_ctrl;
	uint32_t last_shutter;
	uint32_t last_agc;
} hal_channel;

static hal_channel hal_chan[IMG_MAX_CHANNELS] = {
    {-1, -1, 0, 0, 0},
    {-1, -1, 0, 0, 0},
    {-1, -1, 0, 0, 0},
    {-1, -1, 0, 0, 0},
};

/* -1 refused, 0 nothing to do, 1 go on with the request. */
static int check_channel(int chan)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS) {
		printf("error: illegal channel id [%d].\n", chan);
		return -1;
	}
	if (hal_chan[chan].vsrc_id < 0 || hal_chan[chan].vsrc_ctx < 0) {
		printf("Not hal_init_channel_vsrc_mapping yet!\n");
		return -1;
	}
	return hal_chan[chan].sensor_ctrl ? 1 : 0;
}

/* As check_channel, and a missing argument refused. */
static int check_channel_arg(int chan, const void *arg)
{
	int rc = check_channel(chan);
	return rc > 0 && !arg ? -1 : rc;
}

static int request(int fd, unsigned long code, void *arg, const char *what)
{
	if (ioctl(fd, code, arg) < 0) {
		perror(what);
		return -1;
	}
	return 0;
}

static int get_system_resource(int fd, qvd_system_resource *res)
{
	memset(res, 0, sizeof *res);
	res->query = QVD_RESOURCE_GENERIC;
	return request(fd, QVD_IOC_GET_SYSTEM_RESOURCE, res, "QVD_IOC_GET_SYSTEM_RESOURCE error\n");
}

/* VIN records the answer holds: never more than the record has room for. */
static uint32_t vin_count(const qvd_system_resource *res)
{
	return res->vin_num < QVD_MAX_VIN ? res->vin_num : QVD_MAX_VIN;
}

int hal_init_channel_vsrc_mapping(int fd)
{
	qvd_system_resource res;
	if (get_system_resource(fd, &res) != 0)
		return -1;
	for (int i = 0; i < IMG_MAX_CHANNELS; i++) {
		hal_channel *c = &hal_chan[i];
		c->vsrc_id = c->vsrc_ctx = -1;
		c->sensor_ctrl = 0;
		if ((uint32_t)i >= vin_count(&res))
			continue;
		c->vsrc_id = (int8_t)res.vin[i].source_id;
		c->vsrc_ctx = (int8_t)res.vin[i].ctx_id;
		c->sensor_ctrl = (res.vin[i].ctrl & QVD_VIN_CTRL_SENSOR) != 0;
	}
	return 0;
}

int hal_get_channel_vsrc(int chan, int32_t *source, int32_t *ctx, int *sensor_ctrl)
{
	if (chan < 0 || chan >= IMG_MAX_CHANNELS || !source || !ctx || !sensor_ctrl)
		return -1;
	const hal_channel *c = &hal_chan[chan];
	if (c->vsrc_id < 0 || c->vsrc_ctx < 0)
		return -1;
	*source = c->vsrc_id;
	*ctx = c->vsrc_ctx;
	*sensor_ctrl = c->sensor_ctrl;
	return 0;
}

static void fill_group(qvd_vin_group *g, const hal_channel *c, const uint32_t value[4])
{
	memset(g, 0, sizeof *g);
	g->source_id = c->vsrc_id;
	g->ctx_id = c->vsrc_ctx;
	memcpy(g->value, value, sizeof g->value);
}

static int read_agc(int fd, const hal_channel *c, qvd_vin_agc *agc)
{
	memset(agc, 0, sizeof *agc);
	agc->source_id = c->vsrc_id;
	return request(fd, QVD_IOC_VIN_GET_AGC, agc, "QVD_IOC_VIN_GET_AGC");
}

/* Splits each exposure's gain index into the sensor's analogue part and the
 * digital rest by the source's maxima, and sends the three groups. */
static int send_sht_agc_group(int fd, unsigned long code, const hal_sht_agc *rec, int chan, const char *what)
{
	uint32_t n = rec->expo_num & 0xFF;
	if (n < 1 || n > HAL_MAX_EXPOSURES) {
		printf("error: expo num [%d] should be in range [%d, %d] for channel [%d]\n", (int)n, 1,
		       HAL_MAX_EXPOSURES, chan);
		return -1;
	}
	const hal_channel *c = &hal_chan[chan];
	qvd_vin_agc agc;
	if (read_agc(fd, c, &agc) != 0)
		return -1;
	uint32_t again[4], dgain[4];
	for (int i = 0; i < HAL_MAX_EXPOSURES; i++) {
		if (n == 1) {
			again[i] = rec->agc[i];
			dgain[i] = 0;
			continue;
		}
		again[i] = rec->agc[i] < agc.again_max_index ? rec->agc[i] : agc.again_max_index;
		uint32_t rest = rec->agc[i] - again[i];
		dgain[i] = rest < agc.dgain_max_index ? rest : agc.dgain_max_index;
	}
	qvd_vin_sht_agc_group g;
	memset(&g, 0, sizeof g);
	g.source_id = c->vsrc_id;
	g.ctx_id = c->vsrc_ctx;
	fill_group(&g.shutter, c, rec->shutter);
	fill_group(&g.again, c, again);
	fill_group(&g.dgain, c, dgain);
	if (request(fd, code, &g, what) != 0)
		return -1;
	if (n == 1) {
		hal_chan[chan].last_shutter = rec->shutter[0];
		hal_chan[chan].last_agc = again[0];
	}
	return 0;
}

static int set_sht_agc_group(int fd, unsigned long code, const hal_sht_agc *rec, int chan, const char *what)
{
	int rc = check_channel(chan);
	if (rc <= 0)
		return rc;
	if (!rec) {
		printf("error: null pointer.\n");
		return -1;
	}
	return send_sht_agc_group(fd, code, rec, chan, what);
}

int hal_set_pending_sht_agc(int fd, const hal_sht_agc *rec, int chan)
{
	return set_sht_agc_group(fd, QVD_IOC_VIN_SET_PENDING_SHT_AGC, rec, chan,
	                         "QVD_IOC_VIN_SET_PENDING_SHT_AGC error");
}

int hal_set_wdr_gain_shutter(int fd, const hal_sht_agc *rec, int chan)
{
	return set_sht_agc_group(fd, QVD_IOC_VIN_SET_WDR_GP, rec, chan, "QVD_IOC_VIN_SET_WDR_GP error");
}

static void ratio_record(qvd_vin_dgain_ratio *r, int chan)
{
	memset(r, 0, sizeof *r);
	r->source_id = hal_chan[chan].vsrc_id;
	r->ctx_id = hal_chan[chan].vsrc_ctx;
}

int hal_set_dgain_ratio(int fd, const uint32_t ratio[3], int chan)
{
	int rc = check_channel_arg(chan, ratio);
	if (rc <= 0)
		return rc;
	qvd_vin_dgain_ratio r;
	ratio_record(&r, chan);
	r.r = ratio[0];
	r.gr = r.gb = ratio[1];
	r.b = ratio[2];
	return request(fd, QVD_IOC_VIN_SET_DGAIN_RATIO, &r, "QVD_IOC_VIN_SET_DGAIN_RATIO");
}

int hal_get_dgain_ratio(int fd, uint32_t ratio[3], int chan)
{
	int rc = check_channel_arg(chan, ratio);
	if (rc <= 0)
		return rc;
	qvd_vin_dgain_ratio r;
	ratio_record(&r, chan);
	if (request(fd, QVD_IOC_VIN_GET_DGAIN_RATIO, &r, "QVD_IOC_VIN_GET_DGAIN_RATIO") != 0)
		return -1;
	ratio[0] = r.r;
	ratio[1] = r.gr;
	ratio[2] = r.b;
	return 0;
}

int hal_get_vsrc_contexts(int fd, int32_t source, uint32_t *vin_mask)
{
	qvd_system_resource res;
	if (get_system_resource(fd, &res) != 0)
		return -1;
	uint32_t mask = 0;
	int shared = 0, first_ctx = -1;
	for (uint32_t i = 0; i < vin_count(&res); i++) {
		if (res.vin[i].source_id != source)
			continue;
		mask |= 1u << i;
		if (first_ctx < 0)
			first_ctx = res.vin[i].ctx_id;
		else
			shared = res.vin[i].ctx_id != first_ctx;
	}
	if (vin_mask)
		*vin_mask = mask;
	return __builtin_popcount(mask) == 2 ? shared : 0;
}

static int word_request(int fd, unsigned long code, uint32_t value, int chan, const char *what)
{
	int rc = check_channel(chan);
	if (rc <= 0)
		return rc;
	return request(fd, code, &value, what);
}

int hal_switch_vsrc_ctx(int fd, uint32_t ctx, int chan)
{
	return word_request(fd, QVD_IOC_VIN_SWITCH_VSRC_CTX, ctx, chan, "QVD_IOC_VIN_SWITCH_VSRC_CTX error");
}

int hal_lock_vsrc_ctx_frame_cnt(int fd, uint32_t value, int chan)
{
	return word_request(fd, QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT, value, chan,
	                    "QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT error");
}

static int sht_agc(int fd, uint32_t shutter, uint32_t agc, uint32_t mode, int chan, const char *what)
{
	int rc = check_channel(chan);
	if (rc <= 0)
		return rc;
	hal_channel *c = &hal_chan[chan];
	qvd_vin_sht_agc r = {c->vsrc_id, c->vsrc_ctx, shutter, agc, mode};
	if (request(fd, QVD_IOC_VIN_SET_SHT_AGC, &r, what) != 0)
		return -1;
	if (mode != QVD_SHT_AGC_GAIN_ONLY)
		c->last_shutter = shutter;
	if (mode != QVD_SHT_AGC_SHUTTER_ONLY)
		c->last_agc = agc;
	return 0;
}

int hal_set_sht_agc(int fd, uint32_t shutter, uint32_t agc, int chan)
{
	return sht_agc(fd, shutter, agc, QVD_SHT_AGC_BOTH, chan, "VINDEV_SET_AGC_SHT error");
}

int hal_set_shutter_only(int fd, uint32_t shutter, int chan)
{
	return sht_agc(fd, shutter, 0, QVD_SHT_AGC_SHUTTER_ONLY, chan, "VINDEV_SET_SHT_ONLY error");
}

int hal_set_agc_only(int fd, uint32_t agc, int chan)
{
	return sht_agc(fd, 0, agc, QVD_SHT_AGC_GAIN_ONLY, chan, "VINDEV_SET_AGC_ONLY error");
}

uint32_t hal_get_last_shutter(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? hal_chan[chan].last_shutter : 0;
}

uint32_t hal_get_last_agc(int chan)
{
	return chan >= 0 && chan < IMG_MAX_CHANNELS ? hal_chan[chan].last_agc : 0;
}

int hal_shutter_to_row(int fd, uint32_t time, uint32_t *rows, int chan)
{
	int rc = check_channel(chan);
	if (rc <= 0)
		return rc;
	qvd_vin_shutter_row r = {hal_chan[chan].vsrc_id, time};
	if (request(fd, QVD_IOC_VIN_SHUTTER2ROW, &r, "QVD_IOC_VIN_SHUTTER2ROW error") != 0)
		return -1;
	if (rows)
		*rows = r.value;
	return 0;
}

int hal_get_agc_record(int fd, qvd_vin_agc *rec, int chan)
{
	int rc = check_channel_arg(chan, rec);
	if (rc <= 0)
		return rc;
	return read_agc(fd, &hal_chan[chan], rec);
}

int hal_aaa_compensation(int fd, uint64_t value[2], int chan)
{
	int rc = check_channel_arg(chan, value);
	if (rc <= 0)
		return rc;
	qvd_vin_aaa_comp r = {hal_chan[chan].vsrc_id, hal_chan[chan].vsrc_ctx, {value[0], value[1]}};
	if (request(fd, QVD_IOC_VIN_AAA_COMPENSATION, &r, "QVD_IOC_VIN_AAA_COMPENSATION") != 0)
		return -1;
	value[0] = r.value[0];
	value[1] = r.value[1];
	return 0;
}

static int get_group(int fd, unsigned long code, qvd_vin_group *g, int chan, const char *what)
{
	static const uint32_t zero[4] = {0, 0, 0, 0};
	fill_group(g, &hal_chan[chan], zero);
	return request(fd, code, g, what);
}

int hal_get_wdr_gain_index(int fd, uint32_t index[HAL_MAX_EXPOSURES], int chan)
{
	int rc = check_channel_arg(chan, index);
	if (rc <= 0)
		return rc;
	qvd_vin_group a, d;
	if (get_group(fd, QVD_IOC_VIN_GET_WDR_AGAIN_INDEX_GP, &a, chan,
	              "QVD_IOC_VIN_GET_WDR_AGAIN_INDEX_GP error") != 0 ||
	    get_group(fd, QVD_IOC_VIN_GET_WDR_DGAIN_INDEX_GP, &d, chan,
	              "QVD_IOC_VIN_GET_WDR_DGAIN_INDEX_GP error") != 0)
		return -1;
	for (int i = 0; i < HAL_MAX_EXPOSURES; i++)
		index[i] = a.value[i] + d.value[i];
	return 0;
}

int hal_get_wdr_shutter_row(int fd, uint64_t rows[2], int chan)
{
	int rc = check_channel_arg(chan, rows);
	if (rc <= 0)
		return rc;
	qvd_vin_group g;
	if (get_group(fd, QVD_IOC_VIN_GET_WDR_SHUTTER_ROW_GP, &g, chan,
	              "QVD_IOC_VIN_GET_WDR_SHUTTER_ROW_GP error") != 0)
		return -1;
	memcpy(rows, g.value, 2 * sizeof *rows);
	return 0;
}

int hal_set_low_light_mode(int fd, uint32_t mode, int chan)
{
	int rc = check_channel(chan);
	if (rc <= 0 || mode > 2)
		return rc < 0 ? rc : 0;
	qvd_vin_low_light r = {hal_chan[chan].vsrc_id, mode == 1};
	return request(fd, QVD_IOC_VIN_SET_LOW_LIGHT_MODE, &r, "QVD_IOC_VIN_SET_LOW_LIGHT_MODE error\n");
}

int hal_set_sensor_reg(int fd, uint32_t addr, uint32_t value)
{
	qvd_vin_reg r = {0, addr, value};
	return request(fd, QVD_IOC_VIN_SET_REG, &r, "QVD_IOC_VIN_SET_REG\n");
}

int hal_get_sensor_reg(int fd, uint32_t addr, uint32_t *value)
{
	qvd_vin_reg r = {0, addr, 0};
	if (request(fd, QVD_IOC_VIN_GET_REG, &r, "QVD_IOC_VIN_GET_REG\n") != 0)
		return -1;
	if (value)
		*value = r.value;
	return 0;
}

int hal_apply_multi_chan_cfg(int fd, int n)
{
	if (n < 2)
		return 0;
	if (n > IMG_MAX_CHANNELS) {
		printf("error: invalid multi-channel number %d.\n", n);
		return -1;
	}
	unsigned long mask = (1ul << n) - 1;
	if (ioctl(fd, QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG, mask) < 0) {
		perror("QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG\n");
		return -1;
	}
	return 0;
}
