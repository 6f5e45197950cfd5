// The optics data-cache steps on the simulated "/dev/datacache0": a real
// data cache, a real zoom with a two-point table and a camera block whose
// lens answers come from small formulas of the test, so that every element
// can be worked out exactly. The type-172 records come from the data cache's
// own writer source when the device polls writable.
#include <errno.h>
#include <poll.h>
#include <string.h>

#include "core/info_pool.h"
#include "core/param_map.h"
#include "datacache_ioctl.h"
#include "optics/camblock.h"
#include "optics/camblock_mcu.h"
#include "optics/focus_zoom.h"
#include "platform/datacache.h"
#include "platform/datacache_handler.h"
#include "platform_fixture.h"
#include "simsoc_datacache.h"

// The parameter callbacks registered and unregistered, as {id, stream,
// callback id}; the calls go on to the database.
struct callback_call {
	uint32_t id;
	int32_t stream_id;
	int32_t callback_id;
	bool operator==(const callback_call &o) const
	{
		return id == o.id && stream_id == o.stream_id && callback_id == o.callback_id;
	}
};
std::vector<callback_call> registered, unregistered;

extern "C" int __real_param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn,
                                              uint32_t notify_mode, void *user_data, void *block);
extern "C" int __real_param_unregister_callback(int32_t callback_id, const param_value *value);

extern "C" int __wrap_param_register_callback(uint32_t id, int32_t stream_id, param_callback_fn fn,
                                              uint32_t notify_mode, void *user_data, void *block)
{
	int r = __real_param_register_callback(id, stream_id, fn, notify_mode, user_data, block);
	registered.push_back({id, stream_id, r});
	return r;
}

extern "C" int __wrap_param_unregister_callback(int32_t callback_id, const param_value *value)
{
	unregistered.push_back({value ? value->id : 0, value ? value->stream_id : -2, callback_id});
	return __real_param_unregister_callback(callback_id, value);
}

namespace
{

const int32_t zoom_positions[2] = {0, 1000};
const int32_t zoom_magnifications[2] = {16384, 49152};
const int32_t zoom_focal_lengths[2] = {4 * 16384, 12 * 16384};
const int32_t zoom_focal_model[2] = {1 << 20, 1 << 19};

// The lens: focal lengths and fields of view as plain functions of their
// arguments, in Q14.
int32_t focal_at_position(camblock *, int32_t zoom, int32_t position)
{
	return zoom * 16 + position;
}

int32_t focal_at_index(camblock *, int32_t zoom, int32_t index)
{
	return zoom * 16 + index * 2;
}

int fov_at_position(camblock *, int32_t zoom, int32_t position, uint32_t *h, uint32_t *v, int32_t scale)
{
	*h = (uint32_t)(scale + zoom);
	*v = (uint32_t)(scale + position);
	return 0;
}

int fov_at_index(camblock *, int32_t zoom, int32_t index, uint32_t *h, uint32_t *v, int32_t scale)
{
	*h = (uint32_t)(2 * scale + zoom);
	*v = (uint32_t)index;
	return 0;
}

int32_t position_to_index(camblock *, int32_t, int32_t position)
{
	return position / 4;
}

float q14(int32_t v)
{
	return (float)v / 16384.0f;
}

float magnification_at(int32_t zoom)
{
	return q14(16384 + zoom * 32768 / 1000);
}

class DatacacheHandler : public PlatformTest
{
      protected:
	void SetUp() override
	{
		// The zoom's parameter needs the map to be set.
		ASSERT_EQ(0, param_map_init());
		PlatformTest::SetUp();
		registered.clear();
		unregistered.clear();
		simsoc_datacache_reset();
		simsoc_datacache_fail(0, 0, 0);
		info_pool_init();
		ASSERT_EQ(0, param_set_int(DATACACHE_UPDATE_PARAM, 0, 0));
		param_clear_changes();
		// The data type's name, as the daemon's registry holds it.
		prodconf_add_constant(conf_, "optics_motor_data", 134);

		cache_ = static_cast<datacache *>(datacache_general(conf_, engine_, 0));
		platform_add_datacache(plat_, cache_, 0);
		ASSERT_EQ(PLATFORM_OK, datacache_setup(cache_, 0));

		zoom_ = zoom_new();
		zoom_add_platform(zoom_, plat_);
		zoom_use_tables(zoom_, 2, zoom_positions, zoom_magnifications, zoom_focal_lengths,
		                zoom_focal_model, 24);
		control_add_zoom(engine_, zoom_, 0);
		focus_ = focus_new();
		focus_add_platform(focus_, plat_);
		control_add_focus(engine_, focus_, 0);
		block_ = camblock_new();
		camblock_add_platform(block_, plat_);
		camblock_set_zoom(block_, zoom_);
		camblock_set_focus(block_, focus_);
		block_->focal_length_at_focus_position = focal_at_position;
		block_->focal_length_at_distance_index = focal_at_index;
		block_->get_fov_at_focus_position = fov_at_position;
		block_->get_fov_at_distance_index = fov_at_index;
		block_->focus_position_to_distance_index = position_to_index;
		block_->mcu.initialised = 1;
		control_add_camblock(engine_, block_, 0);
		simsoc_log_clear();
		log_.clear();
	}
	void TearDown() override
	{
		control_remove_groups_of_owner(engine_, 0);
		PlatformTest::TearDown();
		info_pool_free();
		param_map_free();
		simsoc_datacache_fail(0, 0, 0);
		simsoc_datacache_reset();
	}
	// The handler with the given keys, its steps initialised.
	void handler(const std::vector<std::pair<std::string, std::string>> &keys)
	{
		section("algo_datacache_handler", keys);
		void *config = algo_datacache_handler(conf_, engine_, 0);
		ASSERT_NE(nullptr, config);
		g_free(config);
		control_init_groups(engine_);
	}
	// The records of the writer source while the device polls writable,
	// dispatched; how many there were.
	int writable()
	{
		std::vector<int> ready;
		for (GList *l = plat_->input_sources; l; l = l->next) {
			int fd = static_cast<input_source *>(l->data)->descriptor->fd;
			pollfd pfd = {fd, POLLOUT, 0};
			if (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLOUT))
				ready.push_back(fd);
		}
		GList *records = platform_dispatch_ready_fds(plat_, ready.data(), (int)ready.size());
		int n = 0;
		for (GList *l = records; l; l = l->next, n++)
			control_dispatch(engine_, static_cast<control_job *>(l->data));
		g_list_free(records);
		return n;
	}
	// A motor-optics record of stream 0.
	void motor_optics(int32_t focus, int32_t zoom, bool is_index = false, uint32_t type = 134)
	{
		datacache_record r = {};
		r.header.type = type;
		r.header.stream_id = 0;
		r.header.timestamp = {5, 6};
		memcpy(r.element, &focus, 4);
		memcpy(r.element + 4, &zoom, 4);
		r.element[17] = is_index;
		control_dispatch(engine_, &r.header);
	}
	// The zoom announces a change, as the lens does.
	void zoom_changed()
	{
		camblock_mcu_publish_zoom(block_);
		param_distribute_callback_one_change();
	}
	// The device requests of the cache that went out since the last look.
	std::string selects()
	{
		std::string out = simsoc_lines("datacache0: ");
		simsoc_log_clear();
		return out;
	}
	datacache_optics_element optics_latest(uint64_t *sec = nullptr, uint64_t *usec = nullptr)
	{
		datacache_optics_element e = {};
		EXPECT_EQ(20, simsoc_datacache_latest(0, "optics", &e, sizeof e, sec, usec));
		return e;
	}
	datacache_status_element status_latest()
	{
		datacache_status_element e = {};
		EXPECT_EQ(12, simsoc_datacache_latest(0, "optics_status", &e, sizeof e, nullptr, nullptr));
		return e;
	}

	datacache *cache_ = nullptr;
	zoom_object *zoom_ = nullptr;
	focus_object *focus_ = nullptr;
	camblock *block_ = nullptr;
};

TEST_F(DatacacheHandler, SettingsChooseTheSteps)
{
	// Nothing enabled by default, the motor-optics record as input.
	section("algo_datacache_handler", {});
	auto *config = static_cast<datacache_handler_config *>(algo_datacache_handler(conf_, engine_, 0));
	ASSERT_NE(nullptr, config);
	EXPECT_EQ(0, config->optics_handler_en);
	EXPECT_EQ(0, config->zoom_handler_en);
	EXPECT_EQ(134, config->optics_in_data);
	g_free(config);
	control_remove_groups_of_owner(engine_, 0);
	g_hash_table_remove(conf_->sections, "algo_datacache_handler");

	handler({{"optics_handler_en", "true"},
	         {"zoom_handler_en", "true"},
	         {"optics_in_data", "optics_motor_data"}});
	GList *groups = control_get_groups_of_owner(engine_, 0);
	ASSERT_EQ(1u, g_list_length(groups));
	auto *group = static_cast<algo_group *>(groups->data);
	ASSERT_EQ(2u, g_list_length(group->steps));
	g_list_free(groups);
	std::vector<std::vector<uint32_t>> inputs;
	for (GList *l = group->steps; l; l = l->next) {
		std::vector<uint32_t> types;
		for (GList *i = static_cast<algo_step *>(l->data)->inputs; i; i = i->next) {
			auto *in = static_cast<algo_input *>(i->data);
			EXPECT_EQ(0, in->stream_id);
			types.push_back(in->type);
		}
		inputs.push_back(types);
	}
	// Most recently inserted first: the status step, then the optics step.
	EXPECT_EQ((std::vector<std::vector<uint32_t>>{{172}, {134, 172}}), inputs);
	EXPECT_EQ(
	    "create optics_status 12 10\nselect 0 0\nselect 0 1\ncreate optics 20 10\nselect 1 0\nselect 1 "
	    "1\n",
	    selects());
}

TEST_F(DatacacheHandler, UnreadableSettingsBuildNothing)
{
	EXPECT_EQ(nullptr, algo_datacache_handler(nullptr, engine_, 0));
	EXPECT_EQ("Failed to read prodconf from file\n", log_.text(DEBUG_ERROR));
	EXPECT_EQ(0, control_has_group_of_owner(engine_, 0));
}

TEST_F(DatacacheHandler, OpticsWaitsForAReader)
{
	handler({{"optics_handler_en", "true"}});
	// No reader: the cache stays selected and nothing is written.
	EXPECT_EQ("create optics 20 10\nselect 0 0\nselect 0 1\n", selects());
	motor_optics(1000, 500);
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics"));
	EXPECT_EQ(0, writable());

	// A reader: the device polls writable, the record arms and deselects.
	simsoc_datacache_add_reader(0, "optics");
	EXPECT_EQ(1, writable());
	EXPECT_EQ("select 0 0\n", selects());
	EXPECT_EQ(0, writable());

	info_pool_set_imfix(82, 0, 0, 8192);
	motor_optics(1000, 500);
	uint64_t sec = 0, usec = 0;
	datacache_optics_element e = optics_latest(&sec, &usec);
	EXPECT_EQ(q14(8192 + 500), e.hfov);
	EXPECT_EQ(q14(8192 + 1000), e.vfov);
	EXPECT_EQ(magnification_at(500), e.magnification);
	EXPECT_EQ(2.0f, e.magnification);
	EXPECT_EQ(q14(500 * 16 + 1000), e.focal_length);
	EXPECT_EQ(0u, e.zero);
	EXPECT_EQ(5u, sec); // the record's time stamp
	EXPECT_EQ(6u, usec);

	// The same magnification and focal length: not written again, whatever
	// the field of view.
	info_pool_set_imfix(82, 0, 0, 16384);
	motor_optics(1000, 500);
	EXPECT_EQ(1u, simsoc_datacache_elements(0, "optics"));

	// The reader took the first element and no longer waits: the next write
	// finds nobody, so the step disarms and selects again.
	motor_optics(1016, 499);
	EXPECT_EQ(2u, simsoc_datacache_elements(0, "optics"));
	EXPECT_EQ("select 0 1\n", selects());
	motor_optics(2000, 400);
	EXPECT_EQ(2u, simsoc_datacache_elements(0, "optics"));

	simsoc_datacache_wait(0, "optics");
	EXPECT_EQ(1, writable());
	motor_optics(2000, 400);
	EXPECT_EQ(3u, simsoc_datacache_elements(0, "optics"));
	EXPECT_EQ("", log_.text());
}

TEST_F(DatacacheHandler, OpticsDistanceIndexAndUnwritableLenses)
{
	simsoc_datacache_create(0, "optics", 20, 10);
	simsoc_datacache_add_reader(0, "optics");
	simsoc_log_clear();
	handler({{"optics_handler_en", "true"}, {"optics_in_data", "optics_motor_data"}});
	// A reader already waits: armed at once.
	EXPECT_EQ("create optics 20 10\nselect 0 0\nselect 0 0\n", selects());

	// A focal length of 0 never writes, nor does a lens not initialised.
	motor_optics(0, 0);
	block_->mcu.initialised = 0;
	motor_optics(300, 1000);
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics"));
	// Records of another type are not motor optics.
	block_->mcu.initialised = 1;
	motor_optics(300, 1000, false, 133);
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics"));

	motor_optics(300, 1000, true);
	datacache_optics_element e = optics_latest();
	EXPECT_EQ(q14(2 * 16384 + 1000), e.hfov); // no scale in the pool: 1.0
	EXPECT_EQ(q14(300), e.vfov);
	EXPECT_EQ(3.0f, e.magnification);
	EXPECT_EQ(q14(1000 * 16 + 600), e.focal_length);
	EXPECT_EQ("", log_.text());
}

TEST_F(DatacacheHandler, StatusFollowsTheZoom)
{
	handler({{"zoom_handler_en", "true"}});
	EXPECT_EQ("create optics_status 12 10\nselect 0 0\nselect 0 1\n", selects());
	// The zoom now sets DatacacheUpdate of its stream again on every change.
	EXPECT_EQ(156u, zoom_->parameter.id);
	EXPECT_EQ(0, zoom_->parameter.stream_id);
	EXPECT_EQ(1u, zoom_->parameter.notify_mode);
	EXPECT_EQ((uint32_t)PARAM_TYPE_INT, zoom_->parameter.type);
	EXPECT_EQ(1, zoom_->parameter.value);

	zoom_->position = 500;
	zoom_->target = 500;
	focus_->value = 4000;
	focus_->value_is_position = 1;
	// Not armed: a change publishes nothing.
	zoom_changed();
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics_status"));

	// A reader: arming publishes at once.
	simsoc_datacache_add_reader(0, "optics_status");
	EXPECT_EQ(1, writable());
	EXPECT_EQ("select 0 0\n", selects());
	datacache_status_element e = status_latest();
	EXPECT_EQ(2.0f, e.magnification);
	EXPECT_EQ(q14(500 * 16 + 1000 * 2), e.focal_length); // position 4000 is index 1000
	EXPECT_EQ(0u, e.flags);

	// Nothing changed: nothing written. The moving flag alone writes.
	simsoc_datacache_wait(0, "optics_status");
	zoom_changed();
	EXPECT_EQ(1u, simsoc_datacache_elements(0, "optics_status"));
	zoom_->pending = 1;
	zoom_changed();
	EXPECT_EQ(2u, simsoc_datacache_elements(0, "optics_status"));
	EXPECT_EQ(1u, status_latest().flags);
	EXPECT_EQ(2.0f, status_latest().magnification);

	// Moving towards a target: the magnification is the target's; the
	// block's requested index wins over the focus unit's value. Nobody
	// waits any more: the step disarms and selects again.
	zoom_->pending = 0;
	zoom_->target = 1000;
	block_->mcu.distance_index_mode = 1;
	block_->mcu.requested_index = 100;
	zoom_changed();
	e = status_latest();
	EXPECT_EQ(3.0f, e.magnification);
	EXPECT_EQ(q14(1000 * 16 + 200), e.focal_length);
	EXPECT_EQ(1u, e.flags); // position 500 is not yet the target
	EXPECT_EQ("select 0 1\n", selects());
	EXPECT_EQ(3u, simsoc_datacache_elements(0, "optics_status"));
	zoom_->position = 1000;
	zoom_changed();
	EXPECT_EQ(3u, simsoc_datacache_elements(0, "optics_status"));

	// A focal length of 0 is never published, even with new flags.
	simsoc_datacache_wait(0, "optics_status");
	zoom_->position = 0;
	zoom_->target = 0;
	block_->mcu.requested_index = 0;
	EXPECT_EQ(1, writable());
	zoom_changed();
	EXPECT_EQ(3u, simsoc_datacache_elements(0, "optics_status"));
	EXPECT_EQ("", log_.text());
}

TEST_F(DatacacheHandler, DestroyUnregistersTheCallback)
{
	simsoc_datacache_create(0, "optics_status", 12, 10);
	simsoc_datacache_add_reader(0, "optics_status");
	handler({{"zoom_handler_en", "true"}});
	zoom_->position = 1000;
	zoom_->target = 1000;
	zoom_changed();
	EXPECT_EQ(1u, simsoc_datacache_elements(0, "optics_status"));

	ASSERT_EQ(1u, registered.size());
	EXPECT_EQ(156u, registered[0].id);
	EXPECT_EQ(0, registered[0].stream_id);
	EXPECT_LE(0, registered[0].callback_id);
	control_remove_groups_of_owner(engine_, 0);
	EXPECT_EQ(registered, unregistered);
	simsoc_datacache_wait(0, "optics_status");
	zoom_->position = 0;
	// The step's data is gone; its callback must be too.
	zoom_changed();
	EXPECT_EQ(1u, simsoc_datacache_elements(0, "optics_status"));
	EXPECT_EQ("", log_.text());
}

// Device answers failing: the step concerned stays quiet or retries, and
// the other step keeps publishing.
TEST_F(DatacacheHandler, DeviceFailures)
{
	simsoc_datacache_fail(DATACACHE_IOC_CREATE, EIO, 1);
	handler({{"optics_handler_en", "true"}, {"zoom_handler_en", "true"}});
	// The status step came first and has no cache; the optics step has one.
	EXPECT_EQ("create optics 20 10\nselect 0 0\nselect 0 1\n", selects());
	zoom_->position = 1000;
	zoom_->target = 1000;
	zoom_changed();
	EXPECT_EQ(0, writable());
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics_status"));

	// Details failing: not armed, still selected.
	simsoc_datacache_add_reader(0, "optics");
	simsoc_datacache_fail(DATACACHE_IOC_DETAILS, EIO, 1);
	EXPECT_EQ(1, writable());
	EXPECT_EQ("Unable to get cache details \n", log_.text(DEBUG_ERROR));
	motor_optics(1000, 500);
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics"));
	EXPECT_EQ(1, writable());

	// A failed write keeps the step armed and is tried again with the
	// next record, though nothing changed.
	log_.clear();
	simsoc_datacache_fail(DATACACHE_IOC_WRITE, EIO, 1);
	motor_optics(1000, 500);
	EXPECT_EQ("Unable to write to datacache \n", log_.text(DEBUG_ERROR));
	EXPECT_EQ(0u, simsoc_datacache_elements(0, "optics"));
	motor_optics(1000, 500);
	EXPECT_EQ(1u, simsoc_datacache_elements(0, "optics"));

	// Selecting failing is only logged.
	log_.clear();
	simsoc_datacache_fail(DATACACHE_IOC_SELECT, EIO, 1);
	motor_optics(1000, 600); // nobody waits: disarm, select
	EXPECT_EQ("Unable to set cache select \n", log_.text(DEBUG_ERROR));
	EXPECT_EQ(2u, simsoc_datacache_elements(0, "optics"));
}

// Without a data cache on the stream neither step has a cache; records and
// changes do nothing.
TEST_F(DatacacheHandler, NoDataCache)
{
	platform_remove_all_datacache(plat_, 0);
	handler({{"optics_handler_en", "true"}, {"zoom_handler_en", "true"}});
	EXPECT_EQ(0u, zoom_->parameter.id); // the status step gave up before
	motor_optics(1000, 500);
	zoom_changed();
	EXPECT_EQ("", selects());
}

} // namespace
