// The camera library's API: refused before initialisation and on a channel
// that does not exist, HDR calls following the WDR mode, settings reading
// back and VIN information fitting the mode.
#include "test-common.h"

#include <string.h>

namespace
{

// Every record the API calls take, zeroed: the blocks handed to the
// external HDR LUT and DRC setters are not prepared.
struct api_records {
	shutter_gain sg;
	libcl_stats stats;
	aaa_state state;
	uint32_t aaa_started;
	vin_aaa_info info;
	libcl_black_level black_level;
	libcl_chroma_scale chroma;
	uint16_t blend[8];
	uint32_t threshold[8];
	uint32_t alpha[8];
	uint8_t ce[LIBCL_CE_RECORD_SIZE];
	uint8_t ce_log[LIBCL_CE_LOG_RECORD_SIZE];
	uint8_t lut[LIBCL_HDR_TABLE_RECORD_SIZE];
	uint8_t drc[LIBCL_HDR_TABLE_RECORD_SIZE];
	libcl_local_exposure le;
};

api_records *new_records(void)
{
	return g_new0(api_records, 1);
}

void check_hdr_result(int ret, gboolean refused)
{
	if (refused)
		g_assert_true(ret < 0);
	else
		g_assert_true(ret >= 0);
}

gboolean check_ret(gboolean ret)
{
	g_assert_true(ret);
	return ret;
}

void test_api_aaa_state(int channel)
{
	aaa_state aaa_state = {};
	int ret = libcl_get_aaa_state(channel, &aaa_state);
	g_assert_cmpint(ret, >=, 0);
	uint32_t initial = aaa_state.hold_ae;

	aaa_state.hold_ae = initial ? 0 : 1;
	ret = libcl_set_aaa_state(channel, &aaa_state);
	g_assert_cmpint(ret, >=, 0);
	ret = libcl_get_aaa_state(channel, &aaa_state);
	g_assert_cmpint(ret, >=, 0);
	if (initial)
		g_assert_true(aaa_state.hold_ae == 0);
	else
		g_assert_true(aaa_state.hold_ae);

	aaa_state.hold_ae = initial;
	ret = libcl_set_aaa_state(channel, &aaa_state);
	g_assert_cmpint(ret, >=, 0);
}

gboolean test_api_shutter_gain(int channel, uint32_t hdr_mode)
{
	shutter_gain shutter_gain;
	memset(&shutter_gain, 0, sizeof shutter_gain);
	int ret = libcl_get_shutter_and_gain(channel, &shutter_gain);
	g_assert_cmpint(ret, >=, 0);

	shutter_gain.shutter[0] = 100;
	shutter_gain.gain[0] = 40;
	if (hdr_mode != 0) {
		shutter_gain.shutter[1] = 100;
		shutter_gain.gain[1] = 40;
	}
	shutter_gain.dgain = 290;
	shutter_gain.boost_factor = 120;
	ret = libcl_set_shutter_and_gain(channel, &shutter_gain);
	g_assert_cmpint(ret, >=, 0);
	ret = libcl_get_shutter_and_gain(channel, &shutter_gain);
	g_assert_cmpint(ret, >=, 0);
	if (!check_ret(ret == 0))
		return FALSE;
	g_assert_cmpuint(shutter_gain.dgain, ==, 290);
	g_assert_cmpuint(shutter_gain.boost_factor, ==, 120);
	g_assert_cmpuint(shutter_gain.shutter[0], ==, 100);
	g_assert_cmpuint(shutter_gain.gain[0], ==, 40);
	return TRUE;
}

gboolean test_api_vin_aaa_info(int channel, uint32_t hdr_mode)
{
	vin_aaa_info vin_aaa_info;
	memset(&vin_aaa_info, 0, sizeof vin_aaa_info);
	int ret = libcl_get_vin_aaa_info(channel, &vin_aaa_info);
	if (!check_ret(ret == 0 && vin_aaa_info.hdr_mode == hdr_mode))
		return FALSE;
	g_assert_cmpuint(vin_aaa_info.sht0_max, >, 0);
	if (hdr_mode == 1)
		g_assert_cmpuint(vin_aaa_info.sht1_max, >, 0);
	g_assert_cmpuint(vin_aaa_info.sht2_max, ==, 0);
	return TRUE;
}

} // namespace

void test_api_not_initialized(gconstpointer)
{
	api_records *r = new_records();
	int ret;

	ret = libcl_get_shutter_and_gain(0, &r->sg);
	g_assert_true(ret == -1);
	ret = libcl_set_shutter_and_gain(0, &r->sg);
	g_assert_true(ret == -1);
	ret = libcl_get_stats(0, &r->stats, 0);
	g_assert_true(ret == -1);
	ret = libcl_get_aaa_state(0, &r->state);
	g_assert_true(ret == -1);
	ret = libcl_set_aaa_state(0, &r->state);
	g_assert_true(ret == -1);
	ret = libcl_get_aaa_started(&r->aaa_started);
	g_assert_true(ret == -1);
	ret = libcl_get_vin_aaa_info(0, &r->info);
	g_assert_true(ret == -1);
	ret = libcl_get_black_level(0, &r->black_level);
	g_assert_true(ret == -1);
	ret = libcl_set_chroma_scale(0, &r->chroma);
	g_assert_true(ret == -1);
	ret = libcl_get_hdr_blend_config(0, r->blend);
	g_assert_true(ret == -1);
	ret = libcl_get_hdr_threshold(0, r->threshold);
	g_assert_true(ret == -1);
	ret = libcl_get_hdr_alpha_value(0, r->alpha);
	g_assert_true(ret == -1);
	ret = libcl_set_ce_config(0, r->ce);
	g_assert_true(ret == -1);
	ret = libcl_get_ce_config(0, r->ce);
	g_assert_true(ret == -1);
	ret = libcl_set_ce_log_config(0, r->ce_log);
	g_assert_true(ret == -1);
	ret = libcl_get_ce_log_config(0, r->ce_log);
	g_assert_true(ret == -1);
	ret = libcl_set_hdr_extern_lut(0, r->lut);
	g_assert_true(ret == -1);
	ret = libcl_get_hdr_extern_lut(0, r->lut);
	g_assert_true(ret == -1);
	ret = libcl_set_hdr_extern_drc(0, r->drc);
	g_assert_true(ret == -1);
	ret = libcl_set_local_exposure(0, &r->le);
	g_assert_true(ret == -1);
	g_free(r);
}

void test_api_max_channel(void)
{
	const int channel = 1;
	api_records *r = new_records();
	int ret;

	ret = libcl_get_shutter_and_gain(channel, &r->sg);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_set_ce_config(channel, r->ce);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_get_ce_config(channel, r->ce);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_set_ce_log_config(channel, r->ce_log);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_get_ce_log_config(channel, r->ce_log);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_set_hdr_extern_lut(channel, r->lut);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_get_hdr_extern_lut(channel, r->lut);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_set_hdr_extern_drc(channel, r->drc);
	g_assert_cmpint(ret, ==, -1);
	ret = libcl_set_local_exposure(channel, &r->le);
	g_assert_cmpint(ret, ==, -1);

	// Called for what the library does with them; their results are not
	// checked.
	(void)libcl_set_shutter_and_gain(channel, &r->sg);
	(void)libcl_get_stats(channel, &r->stats, 0);
	(void)libcl_get_aaa_state(channel, &r->state);
	(void)libcl_set_aaa_state(channel, &r->state);
	(void)libcl_get_vin_aaa_info(channel, &r->info);
	(void)libcl_get_black_level(channel, &r->black_level);
	(void)libcl_set_chroma_scale(channel, &r->chroma);
	(void)libcl_get_hdr_blend_config(channel, r->blend);
	(void)libcl_get_hdr_threshold(channel, r->threshold);
	(void)libcl_get_hdr_alpha_value(channel, r->alpha);
	g_free(r);
}

gboolean test_api_hdr_functions(int channel, uint32_t hdr_mode)
{
	const gboolean refused = hdr_mode == 0 || hdr_mode == 15;
	api_records *r = new_records();

	check_hdr_result(libcl_get_hdr_blend_config(channel, r->blend), refused);
	check_hdr_result(libcl_get_hdr_threshold(channel, r->threshold), refused);
	check_hdr_result(libcl_set_hdr_threshold(channel, r->threshold), refused);
	check_hdr_result(libcl_get_hdr_alpha_value(channel, r->alpha), refused);
	check_hdr_result(libcl_set_hdr_alpha_value(channel, r->alpha), refused);
	check_hdr_result(libcl_set_hdr_extern_lut(channel, r->lut), refused);
	check_hdr_result(libcl_get_hdr_extern_lut(channel, r->lut), refused);
	check_hdr_result(libcl_set_hdr_extern_drc(channel, r->drc), refused);
	g_free(r);
	return TRUE;
}

void test_cl_api(gconstpointer data)
{
	const api_mode *mode = static_cast<const api_mode *>(data);
	int32_t tuning = get_board_tuning();
	int nbr_channels = get_nbr_image_sources();
	uint32_t aaa_started_1 = 0, aaa_started_2 = 0;

	g_assert_true(nbr_channels > 0);
	gboolean init_ok = libcl_init(tuning, nbr_channels, nullptr, nullptr);
	g_assert_true(init_ok);
	(void)libcl_get_aaa_started(&aaa_started_1);
	g_assert_false(aaa_started_1);
	libcl_deinit();

	const struct capture_mode *capture_mode = find_capture_mode(tuning, mode->wdr_mode);
	if (!capture_mode)
		return;
	gboolean tvx_start_ok = test_start_tvx(capture_mode, tuning, nbr_channels);
	g_assert_true(tvx_start_ok);
	moskarin_sleep(5);
	(void)libcl_get_aaa_started(&aaa_started_2);
	g_assert_true(aaa_started_2);
	if (!aaa_started_2) {
		test_stop_tvx();
		return;
	}

	test_api_max_channel();
	note_channels_not_served(nbr_channels);
	for (int channel = 0; channel < served_channels(nbr_channels); channel++) {
		gboolean ret = test_api_hdr_functions(channel, mode->hdr_mode);
		g_assert_true(ret);
		test_api_aaa_state(channel);
		if (!test_api_shutter_gain(channel, mode->hdr_mode))
			break;
		if (!test_api_vin_aaa_info(channel, mode->hdr_mode))
			break;
	}
	test_stop_tvx();
}
