// The status-cache publishers against the stand-in status cache. The lens
// behind them is the test's: the optics calls and the lens fields the
// publishers read are replaced at link time (--wrap) by the fake below.
#include <libquillvane.h>
#include <math.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/info_pool.h"
#include "core/param_db.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "platform/lens_view.h"
#include "platform/quillvane.h"
#include "platform_fixture.h"

namespace
{

// The lens as the fake optics calls describe it.
struct fake_lens {
	lens_view view = {};
	int has_table = 1;
	int has_limits = 0;
	int32_t near_limit = 0, far_limit = 0;
	int32_t max_mag = 3 * 16384;
	int32_t wide = 20, tele = 200;
	int mag_result = 0;       // non-zero: the magnification call gives it
	int32_t distance = 32768; // 2 dioptres
	int end_fov_result = 0;
	int current_fov_result = 0;
	uint32_t hfov = 60 * 16384, vfov = 45 * 16384;
	int distortion_result = -3;
	int32_t k[4] = {16384, -1638, 819, 0};
	int settled = -1;
	std::vector<std::string> calls;
};
fake_lens lens;

void note(const std::string &call)
{
	lens.calls.push_back(call);
}

std::string args(std::initializer_list<long long> values)
{
	std::string out;
	for (long long v : values)
		out += (out.empty() ? "" : ",") + std::to_string(v);
	return out;
}

} // namespace

extern "C" {
void __wrap_lens_view_read(camblock *, zoom_object *, focus_object *, lens_view *view)
{
	*view = lens.view;
}
int __wrap_lens_view_zoom_has_table(zoom_object *)
{
	return lens.has_table;
}
int __wrap_lens_view_focus_limits(camblock *, int32_t *near_limit, int32_t *far_limit)
{
	*near_limit = lens.near_limit;
	*far_limit = lens.far_limit;
	return lens.has_limits;
}
void __wrap_lens_view_set_focus_settled(focus_object *, uint8_t settled)
{
	lens.settled = settled;
}
// Magnification grows by 1.0 every 1000 steps from 1.0 at 0.
int32_t __wrap_zoom_magnification_at_position(zoom_object *, int32_t position)
{
	note("mag(" + args({position}) + ")");
	return lens.mag_result ? lens.mag_result : 16384 + position * 16384 / 1000;
}
int32_t __wrap_zoom_position_for_magnification(zoom_object *, int32_t magnification)
{
	note("position_for(" + args({magnification}) + ")");
	return 7;
}
int32_t __wrap_zoom_max_magnification(zoom_object *)
{
	return lens.max_mag;
}
int32_t __wrap_zoom_get_max(zoom_object *)
{
	return lens.tele;
}
int32_t __wrap_zoom_get_min(zoom_object *)
{
	return lens.wide;
}
int32_t __wrap_focus_get_distance_diopters(focus_object *)
{
	note("distance");
	return lens.distance;
}
int32_t __wrap_camblock_distance_index_to_focus_position(camblock *, int32_t zoom_position, int32_t index)
{
	note("focus_at(" + args({zoom_position, index}) + ")");
	return zoom_position + 1000;
}
// The field of view narrows by a degree every 4 steps from 100 degrees at 0;
// vertical 3/4 of it.
int32_t __wrap_camblock_get_fov_at_focus_position(camblock *, int32_t zoom_position, int32_t focus_position,
                                                  uint32_t *h, uint32_t *v, int32_t scale)
{
	note("fov_at_focus(" + args({zoom_position, focus_position, scale}) + ")");
	*h = (uint32_t)(100 - zoom_position / 4) * 16384;
	*v = *h / 4 * 3;
	return lens.end_fov_result;
}
int32_t __wrap_camblock_get_fov_at_distance_index(camblock *, int32_t zoom_position, int32_t index,
                                                  uint32_t *h, uint32_t *v, int32_t scale)
{
	note("fov_at_index(" + args({zoom_position, index, scale}) + ")");
	*h = 70 * 16384;
	*v = 50 * 16384;
	return 0;
}
int32_t __wrap_camblock_get_current_fov(camblock *, uint32_t *h, uint32_t *v, int32_t scale)
{
	note("current_fov(" + args({scale}) + ")");
	*h = lens.hfov;
	*v = lens.vfov;
	return lens.current_fov_result;
}
int32_t __wrap_camblock_get_lens_distortion(camblock *, int32_t zoom_position, int32_t focus_value,
                                            int32_t is_position, uint32_t *k0, uint32_t *k1, uint32_t *k2,
                                            uint32_t *k3)
{
	note("distortion(" + args({zoom_position, focus_value, is_position}) + ")");
	*k0 = (uint32_t)lens.k[0];
	*k1 = (uint32_t)lens.k[1];
	*k2 = (uint32_t)lens.k[2];
	*k3 = (uint32_t)lens.k[3];
	return lens.distortion_result;
}
} // extern "C"

namespace
{

const int32_t stream = 0x100; // channel 1: the groups end in 2

class Quillvane : public PlatformTest
{
      protected:
	void SetUp() override
	{
		PlatformTest::SetUp();
		ASSERT_EQ(0, info_pool_init());
		lens = fake_lens();
		lens.view.block_initialised = 1;
		lens.view.zoom_position = lens.view.zoom_target = 500;
		lens.view.focus_value = 300;
		lens.view.focus_value_is_position = 1;
		sim_sc_reset();
		platform_add_camblock(plat_, camblock_new(), stream);
		platform_add_zoom(plat_, zoom_new(), stream);
		platform_add_focus(plat_, focus_new(), stream);
	}
	void TearDown() override
	{
		PlatformTest::TearDown();
		info_pool_free();
	}
	quillvane *add(quillvane *q)
	{
		platform_add_quillvane(plat_, q, q->stream_id);
		return q;
	}
	static std::string entries(const char *group)
	{
		return take_text(sim_sc_last_entries(group));
	}
	static std::string sc_log()
	{
		return take_text(sim_sc_take_log());
	}
	static int32_t fix_param(uint32_t id)
	{
		int32_t v = -1;
		EXPECT_EQ(0, param_get_int(id, stream, &v)) << id;
		return v;
	}
	static float value(const char *group, const char *entry)
	{
		float f = NAN;
		EXPECT_EQ(0, sim_sc_get_float(group, entry, &f)) << entry;
		return f;
	}
	static int32_t number(const char *group, const char *entry)
	{
		int32_t i = -99;
		EXPECT_EQ(0, sim_sc_get_int(group, entry, &i)) << entry;
		return i;
	}
};

// The arrays as the library takes them apart: name, size 4, type, value,
// in this order; the PTZ group gets the first six.
TEST_F(Quillvane, EntriesAsTheLibraryReadsThem)
{
	lens.distortion_result = 0;
	quillvane *q = add(quillvane_af_fix_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	EXPECT_EQ("ZOOM_OPT_MAG 4 2 1.5\n"
	          "ZOOM_OPT_STATUS 4 1 0\n"
	          "ZOOM_MASK_HFOV 4 2 60\n"
	          "ZOOM_MASK_VFOV 4 2 45\n"
	          "FOCUS_DISTANCE_DIOPT 4 2 2\n"
	          "FOCUS_STATUS 4 1 0\n"
	          "LENS_CORR_K0 4 2 1\n"
	          "LENS_CORR_K1 4 2 -0.0999756\n"
	          "LENS_CORR_K2 4 2 0.0499878\n"
	          "LENS_CORR_K3 4 2 0\n",
	          entries("OPTICS_STATUS_IS2"));
	std::string optics = entries("OPTICS_STATUS_IS2");
	EXPECT_EQ(optics.substr(0, optics.find("LENS_CORR_K0")), entries("PTZ_POSITION_IS2"));
	EXPECT_EQ(1, lens.settled);
	EXPECT_EQ(1, q->last.published);
}

// Init publishes the lens's figures: the limits, the maximum magnification
// and both ends' fields of view at infinity, scale 1.0.
TEST_F(Quillvane, InitPublishesTheLensFigures)
{
	lens.has_limits = 1;
	lens.near_limit = 54613;
	lens.far_limit = -3277 * 2;
	quillvane *q = add(quillvane_af_ptz_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	EXPECT_EQ(54613, fix_param(157));
	EXPECT_EQ(-6554, fix_param(158));
	EXPECT_EQ(3 * 16384, fix_param(88));
	EXPECT_EQ(95 * 16384, fix_param(89));
	EXPECT_EQ(95 * 12288, fix_param(90));
	EXPECT_EQ(50 * 16384, fix_param(91));
	EXPECT_EQ(50 * 12288, fix_param(92));
	ASSERT_GE(lens.calls.size(), 4u);
	EXPECT_EQ((std::vector<std::string>{"focus_at(20,0)", "fov_at_focus(20,1020,16384)",
	                                    "focus_at(200,0)", "fov_at_focus(200,1200,16384)"}),
	          std::vector<std::string>(lens.calls.begin(), lens.calls.begin() + 4));
}

TEST_F(Quillvane, InitFailures)
{
	struct {
		const char *name;
		void (*arrange)(platform *);
		const char *message;
	} cases[] = {
	    {"no table", [](platform *) { lens.has_table = 0; }, "Zoom table missing\n"},
	    {"field of view", [](platform *) { lens.end_fov_result = -3; }, "Unable to get field of view\n"},
	    {"no zoom", [](platform *p) { platform_remove_all_zoom(p, stream); }, "Zoom table missing\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		lens.has_table = 1;
		lens.end_fov_result = 0;
		log_.clear();
		sim_sc_reset();
		c.arrange(plat_);
		quillvane *q = add(quillvane_af_fix_create(stream));
		EXPECT_EQ(-1, quillvane_init(q));
		EXPECT_EQ(std::string("quillvane_af_common_init: ") + c.message, log_.text(DEBUG_ERROR));
		EXPECT_EQ(0, sim_sc_write_count("OPTICS_STATUS_IS2"));
	}
}

// Nothing changed, nothing written; a zoom move or a new scale writes again.
TEST_F(Quillvane, OnlyChangesAreWritten)
{
	quillvane *q = add(quillvane_af_fix_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	ASSERT_EQ(1, sim_sc_write_count("OPTICS_STATUS_IS2"));
	lens.calls.clear();
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(1, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_EQ(1, sim_sc_write_count("PTZ_POSITION_IS2"));
	// Neither the magnification nor the distance is asked again.
	for (auto &c : lens.calls)
		EXPECT_TRUE(c.rfind("mag", 0) != 0 && c != "distance") << c;

	lens.view.zoom_position = 1500;
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(2, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_FLOAT_EQ(2.5f, value("OPTICS_STATUS_IS2", "ZOOM_OPT_MAG"));
	EXPECT_EQ(1, number("OPTICS_STATUS_IS2", "ZOOM_OPT_STATUS"));

	ASSERT_EQ(0, info_pool_set_imfix(82, stream, 0, 8192));
	lens.calls.clear();
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(3, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_NE(lens.calls.end(), std::find(lens.calls.begin(), lens.calls.end(), "current_fov(8192)"));
}

// A missing optics group is made (512, flags 0) and written with flags 2;
// later writes find it.
TEST_F(Quillvane, MissingOpticsGroupIsCreated)
{
	quillvane *q = add(quillvane_af_fix_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	EXPECT_EQ("sc_set_group PTZ_POSITION_IS2 2 6\n"
	          "sc_set_group OPTICS_STATUS_IS2 0 -2\n"
	          "sc_create_group OPTICS_STATUS_IS2 0 0\n"
	          "sc_set_group OPTICS_STATUS_IS2 2 10\n",
	          sc_log());
	EXPECT_EQ(512, sim_sc_group_size("OPTICS_STATUS_IS2"));
	lens.view.focus_value = 310;
	lens.distance = 16384;
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ("sc_set_group PTZ_POSITION_IS2 2 6\n"
	          "sc_set_group OPTICS_STATUS_IS2 0 10\n",
	          sc_log());
}

struct write_failure {
	const char *call;
	int after;
	int result;
	int expected;
	const char *message;
	bool published;
};

// A failed creation or second write is -1 with its message; a PTZ write that
// fails still publishes the optics group, but not as published.
TEST_F(Quillvane, WriteFailures)
{
	const write_failure cases[] = {
	    {"sc_create_group", 0, -5, -1, "sc_af_ptz: Can not create scache group OPTICS_STATUS_IS2 -5!\n",
	     false},
	    {"sc_set_group", 2, -7, -1, "sc_af_ptz: Can not create scache params!\n", false},
	    {"sc_set_group", 2, 9, -1, "", false},
	    {"sc_set_group", 0, -7, 0, "", false},
	    {"sc_set_group", 0, 5, 0, "", false},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(std::string(c.call) + " after " + std::to_string(c.after));
		sim_sc_reset();
		log_.clear();
		quillvane *q = add(quillvane_af_fix_create(stream));
		sim_sc_fail(c.call, c.after, c.result);
		EXPECT_EQ(c.expected, quillvane_init(q));
		EXPECT_EQ(c.message, log_.text(DEBUG_ERROR));
		EXPECT_EQ(c.published, q->last.published != 0);
		// Not published: the same state is written again.
		int before = sim_sc_write_count("OPTICS_STATUS_IS2");
		quillvane_update(q);
		EXPECT_EQ(before + 1, sim_sc_write_count("OPTICS_STATUS_IS2"));
	}
}

// Before the block has initialised: the wide end at infinity, K0 1.0; once
// published, the block's changes are not read until it initialises.
TEST_F(Quillvane, BlockNotInitialised)
{
	lens.view.block_initialised = 0;
	lens.distortion_result = 0;
	ASSERT_EQ(0, info_pool_set_imfix(82, stream, 0, 20000));
	quillvane *q = add(quillvane_af_fix_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	EXPECT_EQ("ZOOM_OPT_MAG 4 2 1\n"
	          "ZOOM_OPT_STATUS 4 1 0\n"
	          "ZOOM_MASK_HFOV 4 2 70\n"
	          "ZOOM_MASK_VFOV 4 2 50\n"
	          "FOCUS_DISTANCE_DIOPT 4 2 0\n"
	          "FOCUS_STATUS 4 1 0\n"
	          "LENS_CORR_K0 4 2 1\n"
	          "LENS_CORR_K1 4 2 0\n"
	          "LENS_CORR_K2 4 2 0\n"
	          "LENS_CORR_K3 4 2 0\n",
	          entries("OPTICS_STATUS_IS2"));
	EXPECT_NE(lens.calls.end(), std::find(lens.calls.begin(), lens.calls.end(), "position_for(16384)"));
	EXPECT_NE(lens.calls.end(),
	          std::find(lens.calls.begin(), lens.calls.end(), "fov_at_index(7,0,20000)"));

	lens.view.zoom_position = 1750;
	lens.calls.clear();
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(1, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_TRUE(lens.calls.empty());

	lens.view.block_initialised = 1;
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(2, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_FLOAT_EQ(2.75f, value("OPTICS_STATUS_IS2", "ZOOM_OPT_MAG"));
}

// While info-pool value 33 is set someone else holds the focus: FOCUS_STATUS
// 1 and the distance stays; released, the distance is read again.
TEST_F(Quillvane, HeldFocus)
{
	quillvane *q = add(quillvane_af_fix_create(stream));
	ASSERT_EQ(0, quillvane_init(q));
	ASSERT_EQ(0, info_pool_set_int(33, stream, 0, 1));
	lens.view.focus_value = 900;
	lens.distance = 16384;
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(1, number("OPTICS_STATUS_IS2", "FOCUS_STATUS"));
	EXPECT_FLOAT_EQ(2.0f, value("OPTICS_STATUS_IS2", "FOCUS_DISTANCE_DIOPT"));
	EXPECT_EQ(0, lens.settled);
	ASSERT_EQ(0, info_pool_set_int(33, stream, 0, 0));
	EXPECT_EQ(0, quillvane_update(q));
	EXPECT_EQ(0, number("OPTICS_STATUS_IS2", "FOCUS_STATUS"));
	EXPECT_FLOAT_EQ(1.0f, value("OPTICS_STATUS_IS2", "FOCUS_DISTANCE_DIOPT"));
	EXPECT_EQ(1, lens.settled);
}

// Mask scales narrow the field of view: tan(fov / 2) scales by them; 0
// counts as 1.0.
TEST_F(Quillvane, MaskScales)
{
	const struct {
		int32_t h, v;
		double h_ratio, v_ratio;
	} cases[] = {
	    {0, 0, 1.0, 1.0}, {8192, 16384, 0.5, 1.0}, {0, 4096, 1.0, 0.25}, {16384, 16384, 1.0, 1.0}};
	for (auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.h) + "," + std::to_string(c.v));
		sim_sc_reset();
		ASSERT_EQ(0, info_pool_set_imfix(85, stream, 0, c.h));
		ASSERT_EQ(0, info_pool_set_imfix(86, stream, 0, c.v));
		quillvane *q = add(quillvane_af_fix_create(stream));
		ASSERT_EQ(0, quillvane_init(q));
		double h = value("OPTICS_STATUS_IS2", "ZOOM_MASK_HFOV") * M_PI / 360.0;
		double v = value("OPTICS_STATUS_IS2", "ZOOM_MASK_VFOV") * M_PI / 360.0;
		EXPECT_NEAR(c.h_ratio, tan(h) / tan(30.0 * M_PI / 180.0), 1e-5);
		EXPECT_NEAR(c.v_ratio, tan(v) / tan(22.5 * M_PI / 180.0), 1e-5);
	}
}

TEST_F(Quillvane, LensCallFailures)
{
	struct {
		void (*arrange)();
		const char *message;
	} cases[] = {
	    {[] { lens.mag_result = -2; }, "sc_af_ptz: Unable to get zoom magnification\n"},
	    {[] { lens.current_fov_result = -3; }, "sc_af_ptz: Unable to get field of view\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.message);
		lens.mag_result = 0;
		lens.current_fov_result = 0;
		sim_sc_reset();
		log_.clear();
		c.arrange();
		quillvane *q = add(quillvane_af_fix_create(stream));
		EXPECT_EQ(-1, quillvane_init(q));
		EXPECT_EQ(c.message, log_.text(DEBUG_ERROR));
		EXPECT_EQ(0, sim_sc_write_count("PTZ_POSITION_IS2"));
	}
}

// The PTZ head's state: four entries or nothing; moving in either direction
// sets info-pool value 57.
TEST_F(Quillvane, PtzPosition)
{
	const char *group = "PTZ_POSITION_IS2";
	quillvane *q = add(quillvane_af_ptz_create(stream));
	sim_sc_put_int(group, "PAN_STATUS", 0);
	sim_sc_put_int(group, "TILT_STATUS", 1);
	sim_sc_put_float(group, "PAN_DEG", 12.5f);
	EXPECT_EQ(-1, quillvane_read_ptz_position(q));
	uint8_t moving = 9;
	EXPECT_NE(0, info_pool_get_bool(57, stream, &moving));

	sim_sc_put_float(group, "TILT_DEG", -3.25f);
	EXPECT_EQ(0, quillvane_read_ptz_position(q));
	EXPECT_EQ(1u, q->ptz_moving);
	EXPECT_FLOAT_EQ(12.5f, q->pan);
	EXPECT_FLOAT_EQ(-3.25f, q->tilt);
	ASSERT_EQ(0, info_pool_get_bool(57, stream, &moving));
	EXPECT_EQ(1, moving);
	EXPECT_EQ("sc_get_group PTZ_POSITION_IS2 1 3\nsc_get_group PTZ_POSITION_IS2 1 4\n", sc_log());

	sim_sc_put_int(group, "TILT_STATUS", 0);
	EXPECT_EQ(0, quillvane_read_ptz_position(q));
	ASSERT_EQ(0, info_pool_get_bool(57, stream, &moving));
	EXPECT_EQ(0, moving);
	// A value of another type is not read.
	sim_sc_put_float(group, "PAN_STATUS", 1.0f);
	EXPECT_EQ(-1, quillvane_read_ptz_position(q));
	sim_sc_put_int(group, "PAN_STATUS", 1);
	sim_sc_fail("sc_get_group", 0, -5);
	EXPECT_EQ(-1, quillvane_read_ptz_position(q));
	EXPECT_EQ(0u, q->ptz_moving);
}

// The PTZ update is the sum of the read and the status; the fixed one has
// neither the read nor the library's read call.
TEST_F(Quillvane, UpdateAndSlots)
{
	quillvane *ptz = add(quillvane_af_ptz_create(stream));
	quillvane *fix = add(quillvane_af_fix_create(stream));
	EXPECT_EQ(2u, ptz->type);
	EXPECT_EQ(3u, fix->type);
	EXPECT_EQ(-1, quillvane_update(ptz)); // no PTZ entries yet
	EXPECT_EQ(1, sim_sc_write_count("OPTICS_STATUS_IS2"));
	EXPECT_EQ(-1, quillvane_read_ptz_position(fix));
	EXPECT_EQ(-1, quillvane_get_group(fix, "PTZ_POSITION_IS2", nullptr, 1));
	EXPECT_EQ(0, quillvane_update(fix));
	EXPECT_EQ(0, quillvane_create_group(fix, "ANY", 16, 0));
	EXPECT_EQ(16, sim_sc_group_size("ANY"));

	quillvane *none = nullptr;
	EXPECT_EQ(-1, quillvane_read_ptz_position(none));
	EXPECT_EQ(-1, quillvane_update_optics_status(none));
	EXPECT_EQ(-1, quillvane_init(none));
	EXPECT_EQ(-1, quillvane_update(none));
	EXPECT_EQ(-1, quillvane_create_group(none, "ANY", 1, 0));
	EXPECT_EQ(-1, quillvane_set_group(none, "ANY", nullptr, 0));
	EXPECT_EQ(-1, quillvane_get_group(none, "ANY", nullptr, 1));
	quillvane_destroy(none);
}

// The registry's creates make publishers of the stream they are given.
TEST_F(Quillvane, ModuleCreates)
{
	auto *ptz = static_cast<quillvane *>(quillvane_af_ptz(conf_, engine_, 0x200));
	auto *fix = static_cast<quillvane *>(quillvane_af_fix(conf_, engine_, 0x200));
	ASSERT_NE(nullptr, ptz);
	ASSERT_NE(nullptr, fix);
	EXPECT_EQ(0x200, ptz->stream_id);
	EXPECT_EQ(QUILLVANE_AF_FIX, fix->type);
	control_add_quillvane(engine_, fix);
	EXPECT_EQ(fix, platform_get_quillvane(plat_, 0x200));
	EXPECT_EQ(plat_, fix->platform);
	quillvane_destroy(ptz);
}

} // namespace
