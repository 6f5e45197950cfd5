// Board tables, configuration, video start and stop, and the statistics
// fetch shared by the statistics and API tests.
#include "test-common.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "keelstone.h"
#include "tvx.h"

namespace
{

struct hwid_tuning {
	const char *hwid;
	int32_t tuning;
};

struct hwid_vin {
	const char *hwid;
	int vin;
};

const hwid_tuning hwid_table[] = {
    {"6A0", 768},  {"6A1", 768},  {"6A2", 769},  {"6A3", 769},  {"6A4", 770},  {"6A5", 771},  {"6A6", 770},
    {"6A7", 771},  {"6B0", 1024}, {"6B1", 1024}, {"6B2", 1025}, {"6B3", 1025}, {"6B4", 1026}, {"6B5", 1026},
    {"6B6", 1027}, {"6B7", 1028}, {"6B8", 1029}, {"6B9", 1030}, {"6BA", 1031}, {"6BB", 1031}, {"6BC", 1027},
    {"6BD", 1028}, {"6C0", 1280}, {"6C1", 1280}, {"6C2", 1281}, {"6C3", 1281}, {"6C4", 1282}, {"6C5", 1283},
    {"6C6", 1283}, {"6C7", 1285}, {"6C8", 1285}, {"6C9", 1286}, {"6CA", 1288}, {"6CB", 1289}, {"6CC", 1289},
    {"6CD", 1290}, {"6CE", 1290}, {"6D0", 1536}, {"6D1", 1536}, {"6D2", 1539}, {"6D3", 1539},
};
static_assert(sizeof hwid_table / sizeof hwid_table[0] == 41, "41 boards");

// Boards of tuning 1024 and 1025 stay on VIN 0, the input the video
// capture library starts.
const hwid_vin hwid_vin_table[] = {
    {"6A4", 1}, {"6C5", 1}, {"6C6", 1}, {"6CB", 1}, {"6D0", 1}, {"6D2", 1},
};

const capture_mode capture_modes[] = {
    {768, "2592x1944", 0, 30},  {768, "2592x1944", 1, 30},  {769, "2592x1944", 0, 30},
    {769, "2592x1944", 1, 30},  {1024, "2592x1944", 0, 30}, {1024, "2592x1944", 1, 30},
    {1025, "1920x1080", 0, 30}, {1025, "1920x1080", 4, 30}, {1026, "1920x1080", 0, 30},
    {1026, "1920x1080", 4, 30}, {1027, "2592x1944", 0, 30}, {1027, "2592x1944", 1, 30},
    {1031, "1920x1080", 0, 30}, {1031, "1920x1080", 1, 30}, {1028, "2304x1728", 0, 30},
    {1028, "2304x1728", 1, 30}, {771, "2592x1944", 0, 20},  {771, "2592x1944", 1, 20},
    {770, "2560x1440", 0, 30},  {770, "2560x1440", 1, 30},  {1281, "2304x1296", 0, 30},
    {1281, "2304x1296", 1, 30}, {1280, "1920x1080", 1, 30}, {1282, "1920x1080", 0, 30},
    {1288, "1920x1080", 0, 30}, {1283, "2688x1520", 1, 30}, {1536, "1920x1080", 4, 30},
    {1536, "1920x1080", 0, 30}, {1285, "2688x1512", 0, 30}, {1285, "2688x1512", 1, 30},
    {1286, "2688x1512", 0, 30}, {1286, "2688x1512", 1, 30}, {1290, "2688x1512", 0, 30},
    {1290, "2688x1512", 1, 30}, {1289, "3840x2160", 0, 15}, {1289, "3840x2160", 1, 15},
};
static_assert(sizeof capture_modes / sizeof capture_modes[0] == 36, "36 capture modes");

constexpr int kPasses = 60;
// Seconds without a frame tick after which the statistics fetch gives up.
constexpr unsigned kMaxEmptySeconds = 10;
constexpr int kMinTickWaitMs = 100;
constexpr int kMaxChannels = 4;
constexpr unsigned kWdrModes = 5;

// The boot parameter, once it was read.
char hwid[64];
bool hwid_read;

bool read_hwid(void)
{
	if (hwid_read)
		return true;
	if (keelstone_get_single("HWID", hwid, sizeof hwid) < 0)
		return false;
	hwid_read = true;
	return true;
}

double sleep_scale(void)
{
	const char *s = getenv("MOSKARIN_SLEEP_SCALE");
	if (!s || !*s)
		return 1.0;
	char *end = nullptr;
	double v = g_ascii_strtod(s, &end);
	return (*end || !(v >= 0) || v > 1.0) ? 1.0 : v;
}

void print_error(GError *error)
{
	if (error)
		fprintf(stderr, "%s code = %d\n", error->message, error->code);
}

} // namespace

char *moskarin_root_path(const char *path)
{
	const char *root = getenv("VISTRAD_ROOT");
	return g_strconcat(root ? root : "", path, NULL);
}

int32_t tuning_of_hwid(const char *id)
{
	for (const hwid_tuning &row : hwid_table)
		if (!strcmp(row.hwid, id))
			return row.tuning;
	return LIBCL_TUNING_INVALID;
}

int32_t get_board_tuning(void)
{
	if (!read_hwid()) {
		fprintf(stderr, "keelstone: %s\n", strerror(errno));
		return LIBCL_TUNING_INVALID;
	}
	return tuning_of_hwid(hwid);
}

int get_vin(void)
{
	static int vin = -1;
	if (vin >= 0)
		return vin;
	if (!read_hwid())
		return -1;
	vin = 0;
	for (const hwid_vin &row : hwid_vin_table)
		if (!strcmp(row.hwid, hwid))
			vin = row.vin;
	return vin;
}

int get_nbr_image_sources(void)
{
	char *path = moskarin_root_path(MOSKARIN_RUNDLEWORK_CONF);
	GKeyFile *kf = g_key_file_new();
	int n = 1;
	if (g_key_file_load_from_file(kf, path, G_KEY_FILE_NONE, nullptr)) {
		GError *error = nullptr;
		int v = g_key_file_get_integer(kf, "Imaging", "NumberOfImageSources", &error);
		if (!error)
			n = v;
		g_clear_error(&error);
	}
	g_key_file_free(kf);
	g_free(path);
	return n;
}

const capture_mode *find_capture_mode(int32_t tuning, uint32_t wdr_mode)
{
	for (const capture_mode &m : capture_modes)
		if (m.tuning == tuning && m.wdr_mode == wdr_mode)
			return &m;
	return nullptr;
}

int count_capture_modes(int32_t tuning)
{
	int n = 0;
	for (uint32_t wdr = 0; wdr < kWdrModes; wdr++)
		n += find_capture_mode(tuning, wdr) != nullptr;
	return n;
}

void moskarin_sleep(unsigned seconds)
{
	g_usleep((gulong)(seconds * sleep_scale() * G_USEC_PER_SEC));
}

int moskarin_tick_wait_ms(void)
{
	int ms = (int)(1000 * sleep_scale());
	return ms < kMinTickWaitMs ? kMinTickWaitMs : ms;
}

int served_channels(int nbr_channels)
{
	return nbr_channels > 0 ? 1 : 0;
}

void note_channels_not_served(int nbr_channels)
{
	static bool said;
	if (said || nbr_channels < 2)
		return;
	said = true;
	g_test_message("%d image sources: the camera library's API serves channel 0 only, "
	               "so the other channels are not checked",
	               nbr_channels);
}

// ---- video start and stop ---------------------------------------------------

gboolean test_start_tvx(const capture_mode *capture_mode, int32_t tuning, int nbr_channels)
{
	GError *error = nullptr;
	TvxMap *map = nullptr, *settings = nullptr;
	TvxInput *input = nullptr;
	gboolean ok = FALSE;

	TvxMode *tvx_mode = tvx_mode_new(&error);
	if (!tvx_mode) {
		g_assert_nonnull(tvx_mode);
		print_error(error);
		g_clear_error(&error);
		return TRUE;
	}
	gboolean ret = libcl_init(tuning, nbr_channels, nullptr, nullptr);
	if (!ret) {
		g_assert_true(ret);
		g_object_unref(tvx_mode);
		return FALSE;
	}

	map = tvx_map_new();
	tvx_map_set_string(map, "capture_mode", capture_mode->resolution);
	ret = tvx_mode_apply(tvx_mode, map, &error);
	if (!ret) {
		g_assert_true(ret);
		goto out;
	}
	input = tvx_input_new(0, &error);
	if (!input) {
		g_assert_nonnull(input);
		goto out;
	}
	settings = tvx_map_new();
	if (!settings) {
		g_assert_nonnull(settings);
		goto out;
	}
	tvx_map_set_double(settings, "framerate", capture_mode->framerate);
	tvx_map_set_uint32(settings, "wdr_mode", capture_mode->wdr_mode);
	tvx_map_dump(settings);
	if (!tvx_input_set_settings(input, settings, &error))
		goto out;
	if (!tvx_input_start(input, &error))
		goto out;
	ok = TRUE;
out:
	print_error(error);
	g_clear_error(&error);
	if (!ok)
		libcl_deinit();
	if (settings)
		g_object_unref(settings);
	if (input)
		g_object_unref(input);
	g_object_unref(map);
	g_object_unref(tvx_mode);
	return ok;
}

gboolean test_stop_tvx(void)
{
	GError *error = nullptr;
	TvxInput *input = tvx_input_new(0, &error);
	if (!input) {
		g_assert_nonnull(input);
		print_error(error);
		g_clear_error(&error);
		libcl_deinit();
		return FALSE;
	}
	gboolean ret = tvx_input_stop(input, &error);
	g_assert_true(ret);
	print_error(error);
	g_clear_error(&error);
	libcl_deinit();
	g_object_unref(input);
	return ret;
}

// ---- statistics ---------------------------------------------------------------

uint64_t count_pixels(const void *bins, size_t count)
{
	uint64_t sum = 0;
	for (size_t i = 0; i < count; i++) {
		uint32_t v;
		memcpy(&v, (const uint8_t *)bins + 4 * i, sizeof v);
		sum += v;
	}
	return sum;
}

static void check_histograms(const libcl_stats *stats, int channel, uint32_t wdr_mode)
{
	g_assert_cmpuint(count_pixels(stats[channel].rgb_hist.his_bin_r, LIBCL_HIST_BIN_NUM), >, 0);
	g_assert_cmpuint(count_pixels(stats[channel].rgb_hist.his_bin_g, LIBCL_HIST_BIN_NUM), >, 0);
	g_assert_cmpuint(count_pixels(stats[channel].rgb_hist.his_bin_b, LIBCL_HIST_BIN_NUM), >, 0);
	g_assert_cmpuint(count_pixels(stats[channel].rgb_hist.his_bin_y, LIBCL_HIST_BIN_NUM), >, 0);
	if (wdr_mode == 1) {
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[0].his_bin_r, LIBCL_HDR_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[0].his_bin_g, LIBCL_HDR_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[0].his_bin_b, LIBCL_HDR_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[1].his_bin_r, LIBCL_HDR_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[1].his_bin_g, LIBCL_HDR_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(
		    count_pixels(stats[channel].cfa_hdr_hist[1].his_bin_b, LIBCL_HDR_HIST_BIN_NUM), >, 0);
	} else {
		g_assert_cmpuint(count_pixels(stats[channel].cfa_hist.his_bin_r, LIBCL_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(count_pixels(stats[channel].cfa_hist.his_bin_g, LIBCL_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(count_pixels(stats[channel].cfa_hist.his_bin_b, LIBCL_HIST_BIN_NUM), >, 0);
		g_assert_cmpuint(count_pixels(stats[channel].cfa_hist.his_bin_y, LIBCL_HIST_BIN_NUM), >, 0);
	}
}

// One pass: the tick, 3A running, the statistics. False leaves the loop.
static gboolean fetch_one(int fd, libcl_stats *stats, int nbr_channels, uint32_t wdr_mode,
                          gboolean check_hist)
{
	uint64_t tick;
	if (read(fd, &tick, sizeof tick) != (ssize_t)sizeof tick)
		fprintf(stderr, "read buf error\n");
	uint32_t aaa_started = 0;
	int ret = libcl_get_aaa_started(&aaa_started);
	g_assert_false(ret);
	g_assert_true(aaa_started);
	if (ret || !aaa_started)
		return FALSE;
	if (nbr_channels < 2)
		ret = libcl_get_stats(0, stats, 0);
	else
		ret = libcl_get_stats_all(stats, 0);
	g_assert_false(ret);
	if (ret)
		return FALSE;
	if (check_hist)
		for (int channel = 0; channel < served_channels(nbr_channels); channel++)
			check_histograms(stats, channel, wdr_mode);
	return TRUE;
}

gboolean fetch_stats(uint32_t wdr_mode, gboolean check_hist)
{
	int vin_id = get_vin();
	if (vin_id < 0) {
		fprintf(stderr, "keelstone: %s\n", strerror(errno));
		g_assert_cmpint(vin_id, >=, 0);
		return FALSE;
	}
	int fd = libcl_open_stats_fd_by_vin((uint32_t)vin_id);
	g_assert_cmpint(fd, >, 0);
	if (fd < 0)
		return TRUE;

	int nbr_channels = get_nbr_image_sources();
	note_channels_not_served(nbr_channels);
	int blocks = nbr_channels < 1 ? 1 : nbr_channels > kMaxChannels ? kMaxChannels : nbr_channels;
	libcl_stats *stats = g_new0(libcl_stats, blocks);
	gboolean ok = TRUE;
	unsigned empty_seconds = 0;
	const unsigned max_empty_seconds = kMaxEmptySeconds;
	for (int passes = 0; passes < kPasses;) {
		struct pollfd p = {fd, POLLIN, 0};
		int n = poll(&p, 1, moskarin_tick_wait_ms());
		if (n < 0) {
			g_assert_cmpint(n, >=, 0);
			break;
		}
		if (n == 0) {
			if (++empty_seconds < max_empty_seconds)
				continue;
			g_assert_cmpuint(empty_seconds, <, max_empty_seconds);
			ok = FALSE;
			break;
		}
		empty_seconds = 0;
		if (!fetch_one(fd, stats, nbr_channels, wdr_mode, check_hist))
			break;
		passes++;
	}
	g_free(stats);
	libcl_close_stats_fd(fd);
	return ok;
}

// ---- registration ---------------------------------------------------------------

int moskarin_cases(int32_t tuning, moskarin_case out[MOSKARIN_MAX_CASES])
{
	static const api_mode linear = {0, 0}, two_exposures = {1, 1}, sensor_hdr = {15, 4};
	int n = 0;
	out[n++] = {"/libcl-vorsalind/test_api_not_initialized", test_api_not_initialized, nullptr};
	if (find_capture_mode(tuning, 0))
		out[n++] = {"/libcl-vorsalind/test_api_linear", test_cl_api, &linear};
	if (find_capture_mode(tuning, 1))
		out[n++] = {"/libcl-vorsalind/test_api_2x_hdr", test_cl_api, &two_exposures};
	if (find_capture_mode(tuning, 4))
		out[n++] = {"/libcl-vorsalind/test_api_int_hdr", test_cl_api, &sensor_hdr};
	out[n++] = {"/libcl-vorsalind/test_stats", test_cl_stats, nullptr};
	return n;
}

void moskarin_register_tests(int32_t tuning)
{
	moskarin_case cases[MOSKARIN_MAX_CASES];
	int n = moskarin_cases(tuning, cases);
	for (int i = 0; i < n; i++)
		g_test_add_data_func(cases[i].path, cases[i].data, cases[i].func);
}
