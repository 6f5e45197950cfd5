// Statistics for every capture mode of the board: video started in the
// mode, histograms filled while 3A runs, video stopped again.
#include "test-common.h"

static void run_mode(const struct capture_mode *capture_mode, int32_t tuning)
{
	const gboolean libcl_stats_hist = TRUE;
	int nbr_channels = get_nbr_image_sources();

	g_info("Testing capture mode %s, WDR mode %d", capture_mode->resolution, (int)capture_mode->wdr_mode);
	g_assert_true(test_start_tvx(capture_mode, tuning, nbr_channels));
	moskarin_sleep(10);
	g_assert_true(fetch_stats(capture_mode->wdr_mode, libcl_stats_hist));
	g_assert_true(test_stop_tvx());
}

void test_cl_stats(gconstpointer)
{
	int32_t tuning = get_board_tuning();
	int number_of_modes_tested = 0;

	g_assert_cmpint(tuning, !=, LIBCL_TUNING_INVALID);
	for (uint32_t wdr_mode = 0; wdr_mode <= 4; wdr_mode++) {
		const struct capture_mode *capture_mode = find_capture_mode(tuning, wdr_mode);
		if (!capture_mode)
			continue;
		run_mode(capture_mode, tuning);
		number_of_modes_tested++;
	}
	g_assert_cmpint(number_of_modes_tested, >, 0);
}
