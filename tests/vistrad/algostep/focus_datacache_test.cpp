// The focus data-cache step: the window sum on synthetic autofocus grids, the
// window parameter, and the measure the frame-statistics source writes into
// "focus_measure" while a reader waits, on the simulated data-cache device.
// The camera library's statistics calls are replaced at link time (--wrap).
#include <gtest/gtest.h>

#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "algostep/focus_datacache.h"
#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "datacache_ioctl.h"
#include "log_capture.h"
#include "platform/datacache.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "prodconf_builder.h"
#include "simsoc.h"
#include "simsoc_datacache.h"

namespace
{

// A grid of columns x rows tiles whose sharpness is index + 1.
void make_grid(libcl_stats *block, int32_t columns, int32_t rows, int32_t tile_height, int32_t tile_width)
{
	memset(block, 0, sizeof(*block));
	uint8_t *bytes = reinterpret_cast<uint8_t *>(block);
	int32_t grid[4] = {columns, rows, tile_height, tile_width};
	memcpy(bytes + offsetof(libcl_stats, af_grid), grid, sizeof(grid));
	for (int i = 0; i < 258; i++) {
		uint16_t tile[3] = {(uint16_t)(i + 1), 0xffff, 0xffff};
		memcpy(bytes + offsetof(libcl_stats, af_tile0) + 6 * i, tile, sizeof(tile));
	}
}

uint32_t grid_sum(int columns, int row0, int row1, int col0, int col1)
{
	uint32_t sum = 0;
	for (int r = row0; r <= row1; r++)
		for (int c = col0; c <= col1; c++)
			sum += (uint32_t)(r * columns + c + 1);
	return sum;
}

struct libcl_fake {
	libcl_stats block;
	uint32_t started = 1;
} fake;

} // namespace

extern "C" int __wrap_libcl_get_aaa_started(uint32_t *started)
{
	*started = fake.started;
	return 0;
}

extern "C" int __wrap_libcl_get_stats(int, libcl_stats *stats, uint32_t)
{
	memcpy(stats, &fake.block, LIBCL_STATS_WRITTEN);
	return 0;
}

namespace
{

TEST(FocusWindow, Sums)
{
	const int32_t full = FOCUS_WINDOW_FULL;
	struct {
		const char *name;
		int32_t columns, rows, tile_height, tile_width;
		focus_window window;
		uint32_t sum;
	} cases[] = {
	    {"default window: every tile", 8, 6, 10, 12, {0, full, 0, full}, grid_sum(8, 0, 5, 0, 7)},
	    {"top-left quarter", 8, 6, 10, 12, {0, 0x2000, 0, 0x2000}, grid_sum(8, 0, 2, 0, 3)},
	    // Inside tile (row 2, column 3) without touching its edges.
	    {"inside one tile",
	     8,
	     6,
	     10,
	     12,
	     {3 * full / 8 + 100, 3 * full / 8 + 200, 2 * full / 6 + 50, 2 * full / 6 + 90},
	     grid_sum(8, 2, 2, 3, 3)},
	    {"beyond the frame", 8, 6, 10, 12, {-5000, 3 * full, -1, 2 * full}, grid_sum(8, 0, 5, 0, 7)},
	    {"no columns", 0, 6, 10, 12, {0, full, 0, full}, 0},
	    {"no rows", 8, 0, 10, 12, {0, full, 0, full}, 0},
	    {"no tile height", 8, 6, 0, 12, {0, full, 0, full}, 0},
	    {"no tile width", 8, 6, 10, 0, {0, full, 0, full}, 0},
	    {"negative count", -8, 6, 10, 12, {0, full, 0, full}, 0},
	    // 20 x 20 tiles: only the 258 the block holds.
	    {"grid larger than the block", 20, 20, 4, 4, {0, full, 0, full}, 258 * 259 / 2},
	    {"huge grid words",
	     0x7fffffff,
	     0x7fffffff,
	     0x7fffffff,
	     0x7fffffff,
	     {0, full, 0, full},
	     258 * 259 / 2},
	};
	libcl_stats block;
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		make_grid(&block, c.columns, c.rows, c.tile_height, c.tile_width);
		EXPECT_EQ(c.sum, focus_datacache_cl_sum_window(&block, &c.window));
	}
	EXPECT_EQ(0u, focus_datacache_cl_sum_window(nullptr, &cases[0].window));
}

std::vector<datacache_element> writes;

int recording_ioctl(platform *, int fd, unsigned long request, void *argument)
{
	if (request == DATACACHE_IOC_WRITE)
		writes.push_back(*static_cast<datacache_element *>(argument));
	return ioctl(fd, request, argument);
}

class Focus : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fake.started = 1;
		make_grid(&fake.block, 8, 6, 10, 12);
		writes.clear();
		simsoc_datacache_reset();
		simsoc_clear_failures();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(0);
		conf = prodconf_new();
		conf->read_item = prodconf_read_item;
		config = pc_node(pc_section(conf, "algo_focus_datacache_cl"), "config");
		plat = platform_vorsalind_create(nullptr, conf, 1);
		ASSERT_NE(nullptr, plat);
		engine = control_new(plat);
		cache = static_cast<datacache *>(datacache_general(nullptr, engine, 0));
		platform_add_datacache(plat, cache, 0);
		ASSERT_EQ(PLATFORM_OK, datacache_setup(cache, 0));
		ASSERT_EQ(0, pipe(tick));
		descriptor.fd = tick[0];
		source.descriptor = &descriptor;
	}
	void TearDown() override
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		algo_cl_free_settings(settings);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		close(tick[0]);
		close(tick[1]);
		EXPECT_EQ(0, simsoc_open_files());
	}
	void make()
	{
		settings = algo_cl_table[0].create(conf, engine, 0);
		ASSERT_NE(nullptr, settings);
		GList *groups = control_get_groups_of_owner(engine, 0);
		ASSERT_EQ(1u, g_list_length(groups));
		step = static_cast<algo_step *>(static_cast<algo_group *>(groups->data)->steps->data);
		g_list_free(groups);
		entry = static_cast<focus_datacache_entry *>(algo_step_get_local_data(step));
		plat->ioctl = recording_ioctl;
		log.clear();
	}
	// One frame tick through the platform's statistics source.
	void frame()
	{
		uint64_t one = 1;
		ASSERT_EQ(8, write(tick[1], &one, sizeof one));
		GList *records = platform_get_stat(plat, &source, nullptr);
		ASSERT_EQ(1u, g_list_length(records));
		last = static_cast<control_job *>(records->data)->timestamp;
		g_list_free(records);
		platform_pool_recycle(&plat->stats_pool);
	}

	LogCapture log;
	prodconf *conf = nullptr;
	prodconf_node *config = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
	datacache *cache = nullptr;
	void *settings = nullptr;
	algo_step *step = nullptr;
	focus_datacache_entry *entry = nullptr;
	int tick[2] = {-1, -1};
	input_source_descriptor descriptor = {};
	input_source source = {};
	control_timestamp last = {};
};

// Inputs 42 and 172 on the stream, no output; init makes the cache, takes
// the full frame and registers the entry for channel 0.
TEST_F(Focus, InitRegistersTheEntry)
{
	make();
	EXPECT_EQ(2u, g_list_length(step->inputs));
	EXPECT_EQ(nullptr, step->outputs);
	ASSERT_EQ(0, control_init_groups(engine));
	EXPECT_EQ(entry, plat->focus_datacache[0]);
	EXPECT_EQ(0, entry->window.x0);
	EXPECT_EQ(FOCUS_WINDOW_FULL, entry->window.x1);
	EXPECT_EQ(FOCUS_WINDOW_FULL, entry->window.y1);
	EXPECT_EQ(0, entry->armed);
	EXPECT_GE(entry->callback_id, 0);
	EXPECT_EQ(FOCUS_CUSTOM_AREA_PARAM, entry->key_id);
	EXPECT_EQ(0, focus_datacache_cl_run(step, engine));
	EXPECT_EQ(0, focus_datacache_cl_destroy(step, engine));
	EXPECT_EQ(nullptr, plat->focus_datacache[0]);
}

TEST_F(Focus, ReaderWaitingAtInitArms)
{
	ASSERT_EQ(0, simsoc_datacache_create(0, FOCUS_DATACACHE_CACHE, FOCUS_DATACACHE_ELEMENT, 10));
	ASSERT_EQ(0, simsoc_datacache_add_reader(0, FOCUS_DATACACHE_CACHE));
	make();
	ASSERT_EQ(0, control_init_groups(engine));
	EXPECT_EQ(1, entry->armed);
}

TEST_F(Focus, CacheThatCannotBeMadeRegistersNothing)
{
	simsoc_datacache_fail(DATACACHE_IOC_CREATE, EIO, 1);
	make();
	EXPECT_EQ(-1, focus_datacache_cl_init(step, engine));
	EXPECT_EQ(nullptr, plat->focus_datacache[0]);
	EXPECT_EQ(0, entry->callback_id);
}

// Written only while armed: a waiting reader arms it, a write nobody took
// disarms it; each element is {sum, 8 zero bytes} with the record's stamp.
TEST_F(Focus, MeasureWhileAReaderWaits)
{
	make();
	ASSERT_EQ(0, control_init_groups(engine));
	frame();
	EXPECT_TRUE(writes.empty());
	ASSERT_EQ(0, simsoc_datacache_add_reader(0, FOCUS_DATACACHE_CACHE));
	frame();
	ASSERT_EQ(1u, writes.size());
	EXPECT_EQ((uint64_t)last.sec, writes[0].sec);
	EXPECT_EQ((uint64_t)last.usec, writes[0].usec);
	uint8_t element[FOCUS_DATACACHE_ELEMENT];
	ASSERT_EQ(FOCUS_DATACACHE_ELEMENT, simsoc_datacache_latest(0, FOCUS_DATACACHE_CACHE, element,
	                                                           sizeof element, nullptr, nullptr));
	uint32_t sum;
	memcpy(&sum, element, 4);
	EXPECT_EQ(grid_sum(8, 0, 5, 0, 7), sum);
	for (int i = 4; i < FOCUS_DATACACHE_ELEMENT; i++)
		EXPECT_EQ(0, element[i]);
	EXPECT_EQ(1, entry->armed);
	// The reader took it and waits no longer: this write disarms.
	frame();
	EXPECT_EQ(2u, writes.size());
	EXPECT_EQ(0, entry->armed);
	frame();
	EXPECT_EQ(2u, writes.size());
	ASSERT_EQ(0, simsoc_datacache_wait(0, FOCUS_DATACACHE_CACHE));
	frame();
	EXPECT_EQ(3u, writes.size());
}

// The parameter moves the window; a malformed value keeps what it could not
// read and says so.
TEST_F(Focus, WindowParameter)
{
	make();
	ASSERT_EQ(0, control_init_groups(engine));
	param_value value = {};
	value.id = FOCUS_CUSTOM_AREA_PARAM;
	value.stream_id = 0;
	value.type = 5;
	value.text = const_cast<char *>("0:0,2000:2000");
	ASSERT_EQ(0, param_set(&value));
	param_distribute_callback_one_change();
	EXPECT_EQ(0x2000, entry->window.x1);
	EXPECT_EQ(0x2000, entry->window.y1);
	ASSERT_EQ(0, simsoc_datacache_add_reader(0, FOCUS_DATACACHE_CACHE));
	frame();
	uint32_t sum = 0;
	ASSERT_EQ(FOCUS_DATACACHE_ELEMENT,
	          simsoc_datacache_latest(0, FOCUS_DATACACHE_CACHE, &sum, 4, nullptr, nullptr));
	EXPECT_EQ(grid_sum(8, 0, 2, 0, 3), sum);

	const char *bad[] = {"10:20", "zz", "", "1:2,3"};
	for (const char *text : bad) {
		SCOPED_TRACE(text);
		log.clear();
		entry->window = {0, FOCUS_WINDOW_FULL, 0, FOCUS_WINDOW_FULL};
		value.text = const_cast<char *>(text);
		EXPECT_EQ(-1, focus_datacache_cl_window_cb(entry, nullptr, &value, nullptr));
		EXPECT_NE(std::string::npos,
		          log.text().find(
		              "Failed to get window coordinates in focus_datacache_cl_window_cb @ 137\n"));
	}
	// "1:2,3": three fields read, the fourth kept.
	EXPECT_EQ(1, entry->window.x0);
	EXPECT_EQ(2, entry->window.y0);
	EXPECT_EQ(3, entry->window.x1);
	EXPECT_EQ(FOCUS_WINDOW_FULL, entry->window.y1);
	value.text = nullptr;
	EXPECT_EQ(-1, focus_datacache_cl_window_cb(entry, nullptr, &value, nullptr));
}

// Without custom areas nothing is registered for the parameter.
TEST_F(Focus, CustomAreaOff)
{
	pc_node(config, "enable_custom_focus_area", {"0"});
	make();
	ASSERT_EQ(0, control_init_groups(engine));
	EXPECT_EQ(-1, entry->callback_id);
	EXPECT_EQ(0, focus_datacache_cl_destroy(step, engine));
}

} // namespace
