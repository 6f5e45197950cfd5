// The intelligent lens block against the simulated lens on i2c-3: set-up,
// the lens-info file, the trace model and conversions from records of
// chosen polynomials, the units' one-motor-at-a-time moves, and failures.

#include <errno.h>
#include <math.h>
#include <simsoc_ekt_lens.h>
#include <simsoc_i2c.h>

#include "core/param_map.h"
#include "optics/camblock.h"
#include "optics/camblock_ekt.h"
#include "optics/camblock_mcu.h"
#include "optics/focus_zoom.h"
#include "optics/iris.h"
#include "optics_fixture.h"

namespace
{

const int32_t q14 = 1 << 14;
const uint8_t address = 0x50;

class CamblockEktTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(0, param_map_init());
		OpticsTest::SetUp();
		write_file("run/vistrad/.keep", "");
		simsoc_i2c_reset();
		lens_ = simsoc_ekt_lens_add(3, address);
		set({{0x40A, 500},
		     {0x004, 1},
		     {0x006, 4},
		     {0x00A, 7},
		     {0x00C, 2},
		     {0x414, 100},
		     {0x416, 900},
		     {0x610, 100},
		     {0x61A, 0},
		     {0x61C, 1000},
		     {0x618, 0},
		     {0x422, 0},
		     {0x424, 9}});
		simsoc_ekt_lens_set_model(lens_, "AB");
		record(4, 0, {4.0, 0.008});   // 4 mm at the wide end, 12 mm at 1000
		record(6, 0, {1.4, 0.5});     // iris curve at the wide end
		record(6, 1000, {2.0, 0.5});  // and at the tele end
		record(7, 0, {27315.0, 1.0}); // hundredths of a kelvin
	}
	void TearDown() override
	{
		simsoc_ekt_lens_reset();
		simsoc_i2c_reset();
		OpticsTest::TearDown();
		param_map_free();
	}
	void set(std::initializer_list<std::pair<uint16_t, uint16_t>> regs)
	{
		for (auto &r : regs)
			simsoc_ekt_lens_set(lens_, r.first, r.second);
	}
	void record(uint16_t type, uint16_t value, std::initializer_list<double> c)
	{
		std::vector<double> v(c);
		simsoc_ekt_lens_add_record(lens_, type, value, v.data(), v.size());
	}
	// Two trace curves: infinity and 1 dioptre, 100 steps apart.
	void trace_curves()
	{
		record(1, 0, {100.0, 0.2});
		record(1, 1000, {200.0, 0.2});
	}
	camblock *make()
	{
		block_ = camblock_ekt_new(engine_, plat_, camblock_lens_device_open(plat_, "/dev/i2c-3"), 0,
		                          address, 1000);
		return block_;
	}
	int setup()
	{
		return camblock_ekt_setup(engine_, make(), 0, 1);
	}
	// The platform owns the block; the zoom outlives it there.
	void drop()
	{
		platform_remove_all_camblock(plat_, 0);
		platform_remove_all_zoom(plat_, 0);
		block_ = nullptr;
	}
	static int32_t param(uint32_t id)
	{
		int32_t value = -12345;
		param_get_int(id, 0, &value);
		return value;
	}
	std::string writes()
	{
		return take_text(simsoc_ekt_lens_writes(lens_));
	}
	std::string take_writes()
	{
		std::string w = writes();
		simsoc_ekt_lens_clear_writes(lens_);
		return w;
	}
	void poll()
	{
		optics_state state = {};
		ASSERT_EQ(0, camblock_poll(block_, &state));
	}
	simsoc_ekt_lens *lens_ = nullptr;
	camblock *block_ = nullptr;
};

struct ReadyCase {
	uint16_t status;
	uint16_t power;
	int result;
	const char *warning;
	const char *error;
};

TEST_F(CamblockEktTest, ReadinessAndPowerDecideTheSetUp)
{
	const ReadyCase cases[] = {
	    {0x07, 500, 0, "", ""},  {0x0F, 500, 0, "e-KT ircut not implemented!\n", ""},
	    {0x03, 500, -1, "", ""}, {0x07, 1001, -1, "", "e-KT lens power consumtion to large\n"},
	    {0x07, 1000, 0, "", ""},
	};
	for (const ReadyCase &c : cases) {
		SCOPED_TRACE(testing::Message() << "status " << c.status << " power " << c.power);
		set({{0x00E, c.status}, {0x40A, c.power}});
		log_.clear();
		EXPECT_EQ(c.result, setup());
		EXPECT_EQ(c.warning, log_.text(DEBUG_WARNING));
		EXPECT_EQ(c.error, log_.text(DEBUG_ERROR));
		EXPECT_EQ(c.result == 0, block_->zoom != nullptr);
		drop();
	}
}

TEST_F(CamblockEktTest, SetUpWaitsThenWritesTheLensInfoFile)
{
	simsoc_log_clear();
	ASSERT_EQ(0, setup());
	std::string log = take_text(simsoc_log_dump());
	ASSERT_NE(std::string::npos, log.find("sleep 600")) << log;
	EXPECT_LT(log.find("sleep 600"), log.find("i2c-3")) << log;
	gchar *text = nullptr;
	ASSERT_TRUE(
	    g_file_get_contents((root_ + "/run/vistrad/lens_info.txt").c_str(), &text, nullptr, nullptr));
	EXPECT_STREQ("LensType=e-KT\nModel=AB\nFirmwareVersion=1.4\nLensRevision=2\n", text);
	g_free(text);
	EXPECT_EQ("e-KT lens type = 0x7(7) revision 0x2(2)\n"
	          "e-KT version Major = 0x01 Minor = 0x4(1.4)\n"
	          "e-KT lens model = AB\n",
	          log_.text(DEBUG_INFO));
	EXPECT_EQ(1, param(135));
	EXPECT_EQ(0, param(104));
	EXPECT_EQ("", take_text(simsoc_ekt_lens_errors(lens_)));
}

TEST_F(CamblockEktTest, RecordsCarryTheChosenPolynomials)
{
	record(9, 77, {1.5, -2.25, 0, 0, 0, 0, 0, 0, 0, 0, 0.125});
	make();
	camblock_ekt_record r = {};
	int32_t index = -1, count = 0;
	ASSERT_EQ(0, camblock_ekt_read_record(block_, 9, &r, &index, &count));
	EXPECT_EQ(4, index);
	EXPECT_EQ(5, count);
	EXPECT_EQ(9, r.kind);
	EXPECT_EQ(77, r.value);
	EXPECT_EQ(1.5f, r.c[0]);
	EXPECT_EQ(-2.25f, r.c[1]);
	EXPECT_EQ(0.125f, r.c[10]);
	EXPECT_EQ(1.5 - 2.25 * 2 + 0.125 * 1024, camblock_ekt_poly(&r, 2));
	EXPECT_EQ(2, camblock_ekt_count_records(block_, 6));
	// Continuing after the last iris curve finds no further one.
	index = 2;
	EXPECT_EQ(-1, camblock_ekt_read_record(block_, 6, &r, &index, &count));
	EXPECT_EQ("Calibration curve for type 6 not found!\n", log_.text(DEBUG_ERROR));
}

TEST_F(CamblockEktTest, WithoutTraceRecordsOneCurveAtTenDioptres)
{
	ASSERT_EQ(0, setup());
	EXPECT_EQ(0, block_->mcu.near_index);
	EXPECT_EQ(0, block_->mcu.max_index);
	EXPECT_EQ(-262144, block_->mcu.far_index);
	EXPECT_EQ(163840, block_->mcu.near_limit);
	EXPECT_EQ(163840, param(96));
	EXPECT_EQ(-104858, param(97));
	EXPECT_EQ(163840, param(157));
	EXPECT_EQ(-104858, param(158));
	EXPECT_EQ(163840, camblock_distance_index_to_dioptres(block_, 0));
	// The added curve copies the zero polynomial, raised to the focus's
	// far end at the wide end.
	EXPECT_EQ(900, camblock_distance_index_to_focus_position(block_, 0, 0));
	EXPECT_EQ(-2, camblock_distance_index_to_focus_position(block_, 0, 512));
}

TEST_F(CamblockEktTest, ConversionsFollowTheTraceCurves)
{
	trace_curves();
	ASSERT_EQ(0, setup());
	EXPECT_EQ(1024, block_->mcu.near_index);
	struct {
		int32_t dioptres;
		int32_t index;
	} both_ways[] = {{-205, -512}, {0, 0}, {8192, 256}, {q14, 512}, {163840, 1024}};
	for (auto &c : both_ways) {
		EXPECT_EQ(c.index, camblock_dioptres_to_distance_index(block_, c.dioptres, 0)) << c.dioptres;
		EXPECT_EQ(c.dioptres, camblock_distance_index_to_dioptres(block_, c.index)) << c.index;
	}
	// At zoom 500 the curves sit at 200 and 300, the added one at 1000
	// (positions are clamped to the focus's 900).
	struct {
		int32_t index;
		int32_t position;
	} positions[] = {{0, 200}, {256, 250}, {512, 300}, {768, 650}, {1024, 900}, {-1024, 198}, {1536, -2}};
	for (auto &c : positions)
		EXPECT_EQ(c.position, camblock_distance_index_to_focus_position(block_, 500, c.index))
		    << c.index;
	EXPECT_EQ(8192, camblock_focus_position_to_dioptres(block_, 500, 250));
	EXPECT_EQ(q14, camblock_focus_position_to_dioptres(block_, 500, 300));
	EXPECT_EQ(163840, camblock_focus_position_to_dioptres(block_, 500, 1000));
	// Behind the first curve: one index step per focus step.
	EXPECT_EQ(camblock_distance_index_to_dioptres(block_, -1024),
	          camblock_focus_position_to_dioptres(block_, 500, 198));
}

TEST_F(CamblockEktTest, ZoomTablesComeFromTheFocalLengthRecord)
{
	ASSERT_EQ(0, setup());
	ASSERT_NE(nullptr, block_->zoom);
	EXPECT_EQ(11, block_->zoom->count);
	EXPECT_EQ(4 * q14, camblock_focal_length_at_focus_position(block_, 0, 0));
	EXPECT_EQ(8 * q14, camblock_focal_length_at_focus_position(block_, 500, 0));
	EXPECT_NEAR(12 * q14, camblock_focal_length_at_focus_position(block_, 5000, 0), 200);
	EXPECT_EQ(4 * q14, camblock_get_current_focal_length(block_));
	int32_t max_mag = 0;
	ASSERT_EQ(0, param_get_int(88, 0, &max_mag));
	EXPECT_EQ(3 * q14, max_mag);
	int temperature = 0;
	simsoc_ekt_lens_set(lens_, 0x500, 2500);
	ASSERT_EQ(1, camblock_get_lens_temperature(block_, &temperature));
	EXPECT_EQ(25 * q14, temperature);
}

TEST_F(CamblockEktTest, AShortZoomRangeUsesItsTwoEnds)
{
	set({{0x61C, 50}});
	ASSERT_EQ(0, setup());
	ASSERT_EQ(2, block_->zoom->count);
	EXPECT_EQ(0, block_->zoom->positions[0]);
	EXPECT_EQ(50, block_->zoom->positions[1]);
	EXPECT_NEAR(4.4 * q14, camblock_focal_length_at_focus_position(block_, 50, 0), 10);
}

TEST_F(CamblockEktTest, AZeroFocalLengthLeavesNoTables)
{
	simsoc_ekt_lens_reset();
	lens_ = simsoc_ekt_lens_add(3, address);
	set({{0x40A, 500}, {0x61A, 0}, {0x61C, 1000}});
	record(4, 0, {0.0});
	ASSERT_EQ(0, setup());
	uint32_t h = 7, v = 7;
	EXPECT_EQ(-3, camblock_get_fov_at_focus_position(block_, 0, 0, &h, &v, q14));
	EXPECT_EQ(7u, h);
	EXPECT_EQ(-3, camblock_focal_length_at_focus_position(block_, 0, 0));
	EXPECT_EQ(-3, camblock_get_current_fov(block_, &h, &v, q14));
	EXPECT_EQ(-3, camblock_distance_index_for_object_width(block_, 0, q14));
}

TEST_F(CamblockEktTest, IrisCurvesFollowTheZoom)
{
	ASSERT_EQ(0, setup());
	iris *i = block_->iris;
	ASSERT_NE(nullptr, i);
	EXPECT_EQ(IRIS_TYPE_INTELLIGENT, (int)i->type);
	EXPECT_EQ(platform_get_iris(plat_, 0), i);
	ASSERT_EQ(10, i->table_length);
	EXPECT_EQ(9, i->max_position);
	// 2^28 over F in Q14: F 1.4 (22938) at position 0, 5.9 (96666) at 9.
	EXPECT_EQ(11702, i->aperture_table[0]);
	EXPECT_EQ(11702, i->aperture_description[0]);
	// Fewer than 351 positions: the last one is the best.
	EXPECT_EQ(2776, i->aperture_description[1]);
	EXPECT_EQ(10 * q14, i->aperture_description[2]);
	EXPECT_EQ(15 * q14, i->aperture_description[3]);
	block_->zoom->position = 1000;
	ASSERT_EQ(0, block_->update_aperture(block_));
	EXPECT_EQ(8192, i->aperture_table[0]);
	EXPECT_EQ(8192, i->open_F);
	block_->zoom->position = 500;
	ASSERT_EQ(0, block_->update_aperture(block_));
	EXPECT_EQ(9947, i->aperture_table[0]);
	block_->zoom->position = 1001;
	EXPECT_EQ(-2, block_->update_aperture(block_));
}

TEST_F(CamblockEktTest, AZoomMoveWaitsForTheFocusToStop)
{
	trace_curves();
	ASSERT_EQ(0, setup());
	simsoc_ekt_lens_set_step(lens_, SIMSOC_EKT_FOCUS, 10);
	take_writes();
	ASSERT_EQ(0, focus_move_abs(block_->focus, 300, 0));
	poll();
	EXPECT_EQ("0x610=300\n", take_writes());
	ASSERT_EQ(0, zoom_move_abs(block_->zoom, 600));
	simsoc_ekt_lens_tick(lens_, 19);
	poll();
	EXPECT_EQ("", take_writes());
	simsoc_ekt_lens_tick(lens_, 1);
	poll();
	EXPECT_EQ("0x618=600\n", take_writes());
	EXPECT_EQ(600, simsoc_ekt_lens_get(lens_, 0x618));
	// The zoom's stop sends the focus to the requested index on the curve.
	poll();
	EXPECT_EQ("0x610=220\n", take_writes());
}

// Released, the focus unit is gone from the block and from the platform's
// list, so that nothing destroys it twice or reaches it afterwards.
TEST_F(CamblockEktTest, AReleasedFocusUnitLeavesThePlatformsList)
{
	ASSERT_EQ(0, setup());
	ASSERT_NE(nullptr, block_->focus);
	ASSERT_EQ(block_->focus, platform_get_focus(plat_, 0));
	camblock_ekt_release_focus(block_);
	EXPECT_EQ(nullptr, block_->focus);
	EXPECT_EQ(nullptr, platform_get_focus(plat_, 0));
	optics_state state = {};
	EXPECT_EQ(0, camblock_poll(block_, &state));
	camblock_ekt_release_focus(block_);
	drop();
}

TEST_F(CamblockEktTest, IrisMovesWaitForThePollAndResetFirst)
{
	ASSERT_EQ(0, setup());
	iris *i = block_->iris;
	take_writes();
	EXPECT_EQ(-1, iris_go_home(i));
	EXPECT_EQ("0x608=1\n", take_writes());
	EXPECT_EQ(-1, iris_move_to(i, 5));
	poll();
	EXPECT_EQ("0x620=5\n", take_writes());
	EXPECT_EQ(1u, i->last_direction);
}

TEST_F(CamblockEktTest, InitialisationResetsZoomThenFocusThenGoesWide)
{
	trace_curves();
	ASSERT_EQ(0, setup());
	simsoc_ekt_lens_set_reset_reads(lens_, 2);
	take_writes();
	ASSERT_EQ(0, camblock_start_init(block_));
	EXPECT_EQ("0x604=1\n", take_writes());
	for (int n = 0; n < 4 && writes().empty(); n++)
		camblock_poll_init(block_);
	EXPECT_EQ("0x600=1\n", take_writes());
	block_->focus->settled = 1;
	for (int n = 0; n < 8; n++)
		camblock_poll_init(block_);
	// Wide end first, then the focus to infinity on its curve.
	EXPECT_EQ("0x618=0\n0x610=100\n", take_writes());
	EXPECT_EQ(1, block_->mcu.initialised);
}

TEST_F(CamblockEktTest, FailedAccessesAreLoggedWithTheirRegister)
{
	ASSERT_EQ(0, setup());
	simsoc_ekt_lens_fail(lens_, 0x506, SIMSOC_EKT_READ, EIO);
	simsoc_ekt_lens_fail(lens_, 0x640, SIMSOC_EKT_WRITE, EIO);
	log_.clear();
	EXPECT_EQ(0xC000, camblock_get_error_code(block_));
	EXPECT_EQ(-4, camblock_write_register(block_, 0x640, 3));
	EXPECT_EQ("Error: Input/output error (camblock_ekt_i2c_read_buf: reg 0x00000506)\n"
	          "Error: Input/output error (camblock_ekt_i2c_write: reg 0x00000640)\n",
	          log_.text(DEBUG_ERROR));
	simsoc_ekt_lens_fail(lens_, 0x506, SIMSOC_EKT_READ, 0);
	simsoc_ekt_lens_set(lens_, 0x506, 0x8000);
	EXPECT_EQ(0x8000, camblock_get_error_code(block_));
}

TEST_F(CamblockEktTest, ModuleWithSettingsAppliesThemAndAFailedSetUpKeepsTheBlock)
{
	section("camblock_ekt", {{"ekt_i2c_addr", "80"},
	                         {"ekt_i2c_dev", "/dev/i2c-3"},
	                         {"ekt_max_power", "600"},
	                         {"override_speed_settings", "1"},
	                         {"lens_type", "7"},
	                         {"zoom_speed", "12"}});
	block_ = static_cast<camblock *>(camblock_ekt(conf_, engine_, 0));
	ASSERT_NE(nullptr, block_);
	EXPECT_EQ("0x648=12\n", writes());
	char *type = param_convert_int_to_enum(159, 0, param(159));
	EXPECT_STREQ("e-kt", type);
	g_free(type);
	drop();

	set({{0x00E, 0x03}});
	log_.clear();
	block_ = static_cast<camblock *>(camblock_ekt(conf_, engine_, 0));
	ASSERT_NE(nullptr, block_);
	EXPECT_EQ("e-KT lens setup failed\n", log_.text(DEBUG_ERROR));
	EXPECT_EQ(nullptr, block_->iris);
	EXPECT_EQ(nullptr, block_->zoom);
	optics_state state = {};
	uint32_t h = 0, v = 0;
	EXPECT_EQ(0, camblock_poll(block_, &state));
	EXPECT_EQ(0, camblock_start_init(block_));
	EXPECT_EQ(0, camblock_poll_init(block_));
	EXPECT_EQ(-3, camblock_get_current_fov(block_, &h, &v, q14));
	EXPECT_EQ(0, camblock_update_focus_limits(block_));
	EXPECT_EQ(-2, block_->update_aperture(block_));
}

TEST_F(CamblockEktTest, DistortionIsFittedFromTheFieldAngleRecord)
{
	// 14.3239 degrees per millimetre: a pinhole of the wide end's 4 mm.
	record(2, 0, {0.0, 180.0 / (4 * M_PI)});
	ASSERT_EQ(0, setup());
	uint32_t k[4] = {};
	ASSERT_EQ(0, camblock_get_lens_distortion(block_, 0, 0, 0, &k[0], &k[1], &k[2], &k[3]));
	// A least-squares cubic through h / (4 tan(h / 4)) over 4 tan(h / 4)
	// starts at 1.016 (16651); the fixed-point fit comes within 2 %.
	EXPECT_NEAR(16651, (int32_t)k[0], 330);
	// Without a sensor the image has no extent: the higher terms vanish.
	EXPECT_EQ(0u, k[1]);
	EXPECT_EQ(0u, k[3]);
	uint32_t none = 7;
	platform_remove_all_camblock(plat_, 0);
	platform_remove_all_zoom(plat_, 0);
	block_ = nullptr;
	make();
	EXPECT_EQ(-3, camblock_get_lens_distortion(block_, 0, 0, 0, &none, nullptr, nullptr, nullptr));
	EXPECT_EQ(7u, none);
}

} // namespace
