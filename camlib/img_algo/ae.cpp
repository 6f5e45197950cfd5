/* The exposure instances of the service mode: how many, their channel
 * descriptions, enables and hooks, their creation, the per-frame run and
 * the mask setters and getters that reach one slot of each. */
#include "aaa_parser.h"
#include "ae_internal.h"
#include "img_hdr_curves.h"
#include "img_hdr_params.h"

#include <stdio.h>
#include <string.h>

/* The instance's run enable and the custom limits its creation applies. */
typedef struct ae_control {
	uint32_t enable;
	uint32_t custom;
	uint32_t limit[4];
} ae_control;

static_assert(sizeof(ae_control) == 24, "control record");

#define AE_MIN_TARGET 6
#define AE_MAX_TARGET 32768
#define AE_FILTER_HDR_TARGET 4

static int instance_num = 1;
static ae_instance *instances[AE_MAX_INSTANCES];
static channel_info chan_info[AE_MAX_INSTANCES];
static ae_control control[AE_MAX_INSTANCES];

int ae_set_instance_num(int count)
{
	if (count < 1 || count > AE_MAX_INSTANCES) {
		printf("ae instances number %d out of range 1 - %d\n", count, AE_MAX_INSTANCES);
		return -1;
	}
	instance_num = count;
	return 0;
}

int ae_get_instance_num(void)
{
	return instance_num;
}

int ae_set_channel_info(const channel_info *records)
{
	if (!records)
		return -1;
	memcpy(chan_info, records, (size_t)instance_num * sizeof *records);
	return 0;
}

/* Every instance of the count exists. */
static bool all_exist(void)
{
	if (instance_num < 1 || instance_num > AE_MAX_INSTANCES)
		return false;
	for (int i = 0; i < instance_num; i++)
		if (!instances[i])
			return false;
	return true;
}

ae_instance *ae_get_instance(int index)
{
	return index >= 0 && index < AE_MAX_INSTANCES ? instances[index] : NULL;
}

int ae_set_enable(const uint32_t *values, uint32_t mask)
{
	if (!values || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			AE_STORE(control[i].enable, values[i]);
	return 0;
}

int ae_get_enable(uint32_t *values)
{
	if (!values || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		values[i] = AE_LOAD(control[i].enable);
	return 0;
}

int ae_set_hooks(const ae_hooks *records)
{
	if (!records || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++) {
		if (records[i].luma)
			instances[i]->luma_stat = records[i].luma;
		if (records[i].target)
			instances[i]->get_target = records[i].target;
		instances[i]->decision_hook = records[i].decision;
	}
	return 0;
}

int ae_set_custom_limits(int chan, const uint32_t limits[4])
{
	if (chan < 0 || chan >= AE_MAX_INSTANCES)
		return -1;
	control[chan].custom = limits != NULL;
	if (!limits)
		return 0;
	memcpy(control[chan].limit, limits, sizeof control[chan].limit);
	return 0;
}

static bool hdr_channel(const channel_info *ci)
{
	return ci->dsp_hdr || ci->hdr_method != 0;
}

/* What a new instance starts with beyond its configuration. */
static void start_instance(int i)
{
	ae_instance *ae = instances[i];
	ae_data *d = ae->data;
	AE_STORE(control[i].enable, 1u);
	ae->set_line_count(ae, d->line_max);
	ae->start(ae, &d->lines[0].end, 0, AE_START_TARGET);
	if (control[i].custom)
		ae->set_custom_limits(ae, control[i].limit);
	ae->set_weight_mode(ae, 128);
	ae->set_speed(ae, hdr_channel(&chan_info[i]) ? 6 : instance_num > 1 ? 5 : 3);
}

int ae_create_instances(const ae_config *cfgs)
{
	if (instance_num < 1 || instance_num > AE_MAX_INSTANCES) {
		printf("instances number %d out of range 1 - %d\n", instance_num, AE_MAX_INSTANCES);
		return -1;
	}
	if (!cfgs)
		return -1;
	for (int i = 0; i < instance_num; i++) {
		if (!instances[i])
			instances[i] = ae_instance_create(i);
		if (!instances[i]) {
			char name[AE_NAME_SIZE];
			snprintf(name, sizeof name, "ae_expo_%d", i);
			printf("create ae instance %s fail\n", name);
			return -1;
		}
		if (ae_instance_init(instances[i], &cfgs[i]) != 0) {
			printf("init ae instance %d fail\n", i);
			return -1;
		}
		start_instance(i);
	}
	return 0;
}

int ae_destroy_instances(void)
{
	int rc = 0;
	for (int i = 0; i < AE_MAX_INSTANCES; i++) {
		if (!instances[i]) {
			if (i < instance_num)
				rc = -1;
			continue;
		}
		ae_instance_free(instances[i]);
		instances[i] = NULL;
	}
	return rc;
}

/* Any channel's exposure check is on. */
static bool check_active(void)
{
	img_hdr_ae_check rec[IMG_MAX_CHANNELS] = {};
	if (img_hdr_get_ae_check(rec) < 0)
		return false;
	int n = instance_num < IMG_MAX_CHANNELS ? instance_num : IMG_MAX_CHANNELS;
	for (int c = 0; c < n; c++)
		if (rec[c].mode != 0)
			return true;
	return false;
}

static int follow(int chan)
{
	uint32_t f = chan_info[chan].follow_chan;
	return f < (uint32_t)instance_num && f < IMG_MAX_CHANNELS ? (int)f : chan;
}

int ae_run(aaa_parse_out *stats, cl_aaa_block *blocks)
{
	if (!stats || !blocks || !all_exist())
		return -1;
	if (check_active())
		return 0;
	int n = instance_num < IMG_MAX_CHANNELS ? instance_num : IMG_MAX_CHANNELS;
	for (int c = 0; c < n; c++) {
		const channel_info *ci = &chan_info[c];
		if (!AE_LOAD(control[c].enable) || !stats->valid[c] || ci->yuv || follow(c) != c)
			continue;
		if (ci->hdr_curve == 2)
			img_hdr_process_ae_stats(&stats->chan[c], c);
		else
			img_hdr_process_ae_stats_lut(&stats->chan[c], c);
		instances[c]->run(instances[c], &stats->chan[c], &blocks[c]);
	}
	for (int c = 0; c < n; c++)
		if (follow(c) != c)
			blocks[c].expo[0] = blocks[follow(c)].expo[0];
	return 0;
}

/* ---- one slot over the instances ------------------------------------- */

template <typename T, typename Fn> static int set_masked(const T *values, uint32_t mask, Fn apply)
{
	if (!values || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			apply(instances[i], values[i]);
	return 0;
}

template <typename T, typename Fn> static int get_all(T *values, Fn read)
{
	if (!values || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		values[i] = read(instances[i]);
	return 0;
}

int ae_set_weight_mode(const uint8_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint8_t v) { ae->set_weight_mode(ae, v); });
}

int ae_set_frame_skip(const uint8_t *gain_skips, const uint8_t *shutter_skips, uint32_t mask)
{
	if (!gain_skips || !shutter_skips || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			instances[i]->set_frame_skip(instances[i], gain_skips[i], shutter_skips[i]);
	return 0;
}

int ae_set_tolerance(const uint16_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint16_t v) { ae->set_tolerance(ae, v); });
}

int ae_set_line_count(const uint16_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint16_t v) { ae->set_line_count(ae, v); });
}

int ae_set_target_ratio(const uint16_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint16_t v) { ae->set_target_ratio(ae, v); });
}

int ae_set_speed(const uint8_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint8_t v) { ae->set_speed(ae, v); });
}

int ae_set_metering_mode(const uint8_t *values, uint32_t mask)
{
	return set_masked(values, mask, [](ae_instance *ae, uint8_t v) {
		ae->set_metering_mode(ae, v);
		ae->set_tolerance(ae, v == AE_METER_PEAK ? 4 : 6);
	});
}

int ae_set_tile_weights(const uint32_t *values, uint32_t mask)
{
	if (!values || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			instances[i]->set_tile_weights(instances[i], values + i * AE_TILES);
	return 0;
}

int ae_set_lines(const ae_config *cfgs, uint32_t mask)
{
	if (!cfgs || !all_exist())
		return -1;
	for (int i = 0; i < instance_num; i++)
		if (mask & (1u << i))
			instances[i]->load_lines(instances[i], &cfgs[i]);
	return 0;
}

int ae_get_agc_index(uint16_t *values)
{
	if (get_all(values, [](ae_instance *ae) { return ae->get_agc_index(ae); }) < 0)
		return -1;
	int n = instance_num < IMG_MAX_CHANNELS ? instance_num : IMG_MAX_CHANNELS;
	for (int c = 0; c < n; c++)
		values[c] = values[follow(c)];
	return 0;
}

int ae_get_state(uint8_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_state(ae); });
}

int ae_get_cursor(uint8_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_cursor(ae); });
}

int ae_get_luma(uint16_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_luma(ae); });
}

int ae_get_rgb_luma(uint16_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_rgb_luma(ae); });
}

int ae_get_target_ratio(uint16_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_target_ratio(ae); });
}

int ae_get_target(uint16_t *values)
{
	return get_all(values, [](ae_instance *ae) { return ae->get_effective_target(ae); });
}

int ae_set_target_from_filter(const uint16_t *targets, int chan)
{
	if (!targets || chan < 0 || chan >= instance_num || chan >= IMG_MAX_CHANNELS || !instances[chan])
		return chan;
	const channel_info *ci = &chan_info[chan];
	uint32_t target;
	if (ci->hdr_method == 3 || ci->hdr_method == 4 || ci->hdr_method == 8) {
		target = targets[AE_FILTER_HDR_TARGET];
	} else if ((ci->hdr_method == 0 || ci->hdr_method == 2) && ci->expo_num > 0) {
		uint32_t last = (ci->expo_num < CL_AAA_EXPOSURES ? ci->expo_num : CL_AAA_EXPOSURES) - 1;
		target = targets[last];
		target = target < AE_MIN_TARGET   ? AE_MIN_TARGET
		         : target > AE_MAX_TARGET ? AE_MAX_TARGET
		                                  : target;
	} else {
		return chan;
	}
	instances[chan]->set_target(instances[chan], (uint16_t)target);
	return chan;
}
