/* moskarin: the camera library's self-test, run by a technician on the
 * camera. Every check is a non-fatal GLib test assertion, so one failure is
 * reported and the run goes on to the next. */
#ifndef MOSKARIN_TEST_COMMON_H
#define MOSKARIN_TEST_COMMON_H

#include <glib.h>
#include <stddef.h>
#include <stdint.h>

#include "libcl.h"

struct capture_mode {
	int32_t tuning;
	const char *resolution; /* "WIDTHxHEIGHT" */
	uint32_t wdr_mode;      /* 0 linear, 1 two-exposure HDR, 4 sensor-internal HDR */
	double framerate;
};

/* One registered test path and what it runs. */
struct moskarin_case {
	const char *path;
	GTestDataFunc func;
	const void *data;
};

#define MOSKARIN_MAX_CASES 5
#define MOSKARIN_RUNDLEWORK_CONF "/etc/sysconfig/rundlework.conf"

/* The board's tuning id from its "HWID" boot parameter, read once and
 * kept; LIBCL_TUNING_INVALID when it cannot be read or is unknown. */
int32_t get_board_tuning(void);
/* The tuning id of a hardware id, or LIBCL_TUNING_INVALID. */
int32_t tuning_of_hwid(const char *hwid);
/* The VIN of the board, kept after the first lookup; -1 (errno set) when
 * the boot parameter cannot be read. */
int get_vin(void);
/* "NumberOfImageSources" of group "Imaging" in the root's rundlework.conf;
 * 1 when the file, the key or the integer is missing. Read at every call. */
int get_nbr_image_sources(void);
/* The first capture-mode row of (tuning, WDR mode), or NULL. */
const struct capture_mode *find_capture_mode(int32_t tuning, uint32_t wdr_mode);
/* How many of WDR modes 0 to 4 the tuning has a row for. */
int count_capture_modes(int32_t tuning);

/* A fixed path under the root prefix (VISTRAD_ROOT); g_free() it. */
char *moskarin_root_path(const char *path);
/* Sleeps the given seconds times MOSKARIN_SLEEP_SCALE (1 when unset). */
void moskarin_sleep(unsigned seconds);
/* The wait for one frame tick, one second scaled, at least 100 ms. */
int moskarin_tick_wait_ms(void);
/* Said once per run: the API serves channel 0 only. */
void note_channels_not_served(int nbr_channels);
/* Channels whose per-channel and histogram checks run: only channel 0 is
 * served by the API. */
int served_channels(int nbr_channels);

gboolean test_start_tvx(const struct capture_mode *capture_mode, int32_t tuning, int nbr_channels);
gboolean test_stop_tvx(void);
/* Ticks and statistics for 60 frames; histogram checks unless switched off. */
gboolean fetch_stats(uint32_t wdr_mode, gboolean check_hist);
uint64_t count_pixels(const void *bins, size_t count);

/* The paths to register for a board, in order; the count. */
int moskarin_cases(int32_t tuning, struct moskarin_case out[MOSKARIN_MAX_CASES]);
void moskarin_register_tests(int32_t tuning);

void test_cl_stats(gconstpointer data);
void test_api_not_initialized(gconstpointer data);
void test_cl_api(gconstpointer data);
void test_api_max_channel(void);
gboolean test_api_hdr_functions(int channel, uint32_t hdr_mode);

/* What test_cl_api runs with. */
struct api_mode {
	uint32_t hdr_mode;
	uint32_t wdr_mode;
};

#endif
