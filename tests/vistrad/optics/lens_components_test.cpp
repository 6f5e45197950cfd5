// The focus and zoom units and the IR-cut filter over the MCU camera block,
// against the simulated lens controller: the per-lens constructors, moves
// with their bounds, the three ways of knowing a motor runs, the two update
// state machines, re-calculation after a zoom move and the day/night switch.

#include <gtest/gtest.h>

#include "lens_mcu_fixture.h"
#include "optics/ircut.h"

namespace
{

const int32_t ONE = 16384;

enum Variant { REPORTED, POLLED, GUARDED };

// How a unit learns that its motor runs, seen from outside: a reported one
// answers its pending flag, a polled one reads the moving register, a
// guarded one also refuses moves before the controller initialised.
Variant focus_variant(focus_object *f, simsoc_lens_mcu *mcu)
{
	uint8_t pending = f->pending;
	f->pending = 1;
	unsigned before = simsoc_lens_mcu_reads(mcu, 0x209);
	focus_is_moving(f);
	bool polled = simsoc_lens_mcu_reads(mcu, 0x209) > before;
	f->pending = pending;
	if (!polled)
		return REPORTED;
	return focus_move_abs(f, f->mech_max, 0) == -1 ? GUARDED : POLLED;
}

Variant zoom_variant(zoom_object *z, simsoc_lens_mcu *mcu)
{
	uint8_t pending = z->pending;
	z->pending = 1;
	unsigned before = simsoc_lens_mcu_reads(mcu, 0x109);
	zoom_is_moving(z);
	bool polled = simsoc_lens_mcu_reads(mcu, 0x109) > before;
	z->pending = pending;
	if (!polled)
		return REPORTED;
	return zoom_move_abs(z, z->mech_max) == -1 ? GUARDED : POLLED;
}

TEST_F(LensMcuTest, EachLensBuildsItsUnitsAndFilter)
{
	const struct {
		camblock_lens lens;
		int flag;
		int32_t focus_max;
		Variant focus;
		uint8_t focus_pending;
		int32_t zoom_min, zoom_max;
		Variant zoom;
		uint8_t zoom_pending;
		int32_t ircut_type;
	} cases[] = {
	    {CAMBLOCK_LENS_TAMRON_DF010NL, 0, 7500, REPORTED, 0, 0, 2468, REPORTED, 0, 4},
	    {CAMBLOCK_LENS_TAMRON_DF024NL, 0, 5200, REPORTED, 0, 0, 2500, REPORTED, 0, 12},
	    {CAMBLOCK_LENS_TAMRON_DF020NL, 0, 6796, REPORTED, 0, 0, 1320, REPORTED, 0, 6},
	    {CAMBLOCK_LENS_TAMRON_DF020NL, 1, 6796, POLLED, 0, 0, 1320, POLLED, 0, 6},
	    {CAMBLOCK_LENS_TAMRON_DF023Q, 0, 4254, GUARDED, 0, 0, 5620, GUARDED, 0, 7},
	    {CAMBLOCK_LENS_TAMRON_DE011N, 0, 2067, REPORTED, 0, 0, 2204, REPORTED, 0, 14},
	    {CAMBLOCK_LENS_TAMRON_DE011N, 1, 2067, POLLED, 0, 0, 2204, POLLED, 0, 14},
	    {CAMBLOCK_LENS_TAMRON_DF031N, 0, 5348, REPORTED, 0, 20, 2448, REPORTED, 0, 9},
	    {CAMBLOCK_LENS_CBC_R18, 0, 5909, GUARDED, 0, 0, 490, GUARDED, 0, 21},
	    {CAMBLOCK_LENS_RICOM_AF02812DB_ICR, 0, 5416, POLLED, 1, 0, 2476, POLLED, 1, 16},
	    {CAMBLOCK_LENS_CANON_C40X43, 0, 7252, REPORTED, 0, 200, 17720, REPORTED, 0, 22},
	    {CAMBLOCK_LENS_CANON_C50X1485, 0, 5223, REPORTED, 0, 20, 2448, REPORTED, 0, -1},
	    {CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5, 0, 3770, POLLED, 0, 0, 2978, POLLED, 0, 23},
	    {CAMBLOCK_LENS_TAMRON_DF034N, 0, 2708, REPORTED, 0, 20, 2448, REPORTED, 0, 27},
	    {CAMBLOCK_LENS_EVETAR_E5350A, 0, 3648, REPORTED, 0, 0, 2932, REPORTED, 0, 17},
	    {CAMBLOCK_LENS_EVETAR_E5350A, 1, 3648, GUARDED, 0, 0, 2932, GUARDED, 0, 17},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5285, 0, 1940, REPORTED, 0, 0, 6884, REPORTED, 0, 20},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5377Q, 0, 9296, REPORTED, 0, 20, 2448, REPORTED, 0, 9},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5390, 0, 5736, REPORTED, 0, 20, 2448, REPORTED, 0, 30},
	    {CAMBLOCK_LENS_YTOT_YT50011DB_ICR, 0, 1256, REPORTED, 0, 0, 5132, REPORTED, 0, 28},
	    {CAMBLOCK_LENS_YTOT_YT50011DB_ICR, 1, 1256, GUARDED, 0, 0, 5132, GUARDED, 0, 28},
	    {CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5, 0, 1432, REPORTED, 0, 0, 2984, REPORTED, 0, 29},
	    {CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5, 1, 1432, GUARDED, 0, 0, 2984, GUARDED, 0, 29},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.lens << " flag " << c.flag);
		focus_object *f = camblock_focus_new(block_, c.lens, c.flag);
		zoom_object *z = camblock_zoom_new(block_, c.lens, &zoom_tables_.tables, c.flag, 0, -1);
		ASSERT_NE(nullptr, f);
		ASSERT_NE(nullptr, z);
		EXPECT_EQ(1u, f->type);
		EXPECT_EQ(block_, f->owner);
		EXPECT_EQ(0, f->mech_min);
		EXPECT_EQ(0, f->min_limit);
		EXPECT_EQ(c.focus_max, f->mech_max);
		EXPECT_EQ(c.focus_max, f->max_limit);
		EXPECT_EQ(c.focus_pending, f->pending);
		EXPECT_EQ(nullptr, f->set_min_limit);
		EXPECT_EQ(1u, z->type);
		EXPECT_EQ(block_, z->owner);
		EXPECT_EQ(c.zoom_min, z->mech_min);
		EXPECT_EQ(c.zoom_max, z->mech_max);
		EXPECT_EQ(c.zoom_pending, z->pending);
		EXPECT_EQ(ONE, z->speed);
		EXPECT_EQ(0, z->position);
		EXPECT_EQ(ONE, zoom_table_magnification_at_position(z, 20));
		EXPECT_EQ(c.lens == CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5, z->destroy != nullptr);
		focus_add_platform(f, plat_);
		zoom_add_platform(z, plat_);
		EXPECT_EQ(c.focus, focus_variant(f, mcu_));
		EXPECT_EQ(c.zoom, zoom_variant(z, mcu_));
		focus_destroy(f);
		zoom_destroy(z);
		ircut *filter = camblock_ircut_new(block_, c.lens);
		EXPECT_EQ(c.ircut_type, filter ? (int32_t)filter->type : -1);
		if (filter) {
			EXPECT_EQ(block_, filter->owner);
			ircut_destroy(filter);
		}
	}
	EXPECT_EQ(nullptr, camblock_focus_new(block_, CAMBLOCK_LENS_COUNT, 0));
}

TEST_F(LensMcuTest, RelativeZoomsTakeTheirRangeFromTheTables)
{
	// A lowest position inside the table becomes the wide end, read as 1.0.
	zoom_object *z =
	    camblock_zoom_new(block_, CAMBLOCK_LENS_TAMRON_DF031N, &zoom_tables_.tables, 0, 2 * ONE, 141);
	EXPECT_EQ(141, z->mech_min);
	EXPECT_EQ(ONE, zoom_relative_magnification_at_position(z, 141));
	EXPECT_LT(z->mech_max, 2448);
	EXPECT_EQ(z->mech_max, z->max_ceiling);
	zoom_destroy(z);
	// The DF034N takes no lowest position.
	z = camblock_zoom_new(block_, CAMBLOCK_LENS_TAMRON_DF034N, &zoom_tables_.tables, 0, 2 * ONE, 141);
	EXPECT_EQ(20, z->mech_min);
	EXPECT_EQ(zoom_table_position_for_magnification(z, 2 * ONE), z->mech_max);
	zoom_destroy(z);
}

TEST_F(LensMcuTest, TheTsf2ReadsItsWideEndFromTheController)
{
	const struct {
		uint16_t low, high;
		bool fail;
		int32_t reads_one_at;
	} cases[] = {{0xFF, 0xFF, false, 20},
	             {0xF4, 0x01, false, 500},
	             {0xF4, 0x01, true, 20},
	             {0x05, 0x00, false, 20}};
	for (auto &c : cases) {
		simsoc_lens_mcu_set(mcu_, 0x93C, c.low);
		simsoc_lens_mcu_set(mcu_, 0x93D, c.high);
		simsoc_lens_mcu_fail(mcu_, 0x93D, SIMSOC_LENS_READ, c.fail ? EIO : 0);
		zoom_object *z = camblock_zoom_new(block_, CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5,
		                                   &zoom_tables_.tables, 0, 0, -1);
		EXPECT_NEAR(ONE, zoom_table_magnification_at_position(z, c.reads_one_at), 1)
		    << c.low << " " << c.high;
		EXPECT_EQ(3 * ONE, zoom_table_magnification_at_position(z, 2448));
		EXPECT_NE(zoom_tables_.magnifications, z->magnifications); // the unit's own copy
		zoom_destroy(z);
	}
}

TEST_F(LensMcuTest, MovesStayWithinTheMechanicalRange)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	EXPECT_EQ(0, focus_move_abs(focus_, 7500, 9));
	EXPECT_EQ(0, zoom_move_abs(zoom_, 2468));
	EXPECT_EQ("0x201=7500\n0x101=2468\n", writes());
	EXPECT_EQ((std::vector<TraceEvent>{{"focus_move_abs", 7500, 0}}), events_named("focus_move_abs"));
	EXPECT_EQ(7500, focus_->target);
	EXPECT_EQ(1, focus_->commanded);
	EXPECT_EQ(0, focus_->pending); // reported: the poll tells
	EXPECT_EQ(2468, zoom_->target);
	take_writes();
	for (int32_t p : {7501, -1})
		EXPECT_EQ(-1, focus_move_abs(focus_, p, 0));
	for (int32_t p : {2469, -1})
		EXPECT_EQ(-1, zoom_move_abs(zoom_, p));
	EXPECT_EQ(
	    "<FOCUS> Out of bounds!\n<FOCUS> Out of bounds!\n<ZOOM> Out of bounds!\n<ZOOM> Out of bounds!\n",
	    log_.text(DEBUG_WARNING));
	EXPECT_EQ("", writes());
	EXPECT_TRUE(events_.empty());
	// Relative moves count from the unit's value and position.
	focus_->value = 7000;
	zoom_->position = 2000;
	EXPECT_EQ(0, focus_move_rel(focus_, 500, 0));
	EXPECT_EQ(-1, focus_move_rel(focus_, 501, 0));
	EXPECT_EQ(0, zoom_move_rel(zoom_, -2000));
	EXPECT_EQ("0x201=7500\n0x101=0\n", writes());
	// A failed write is the move's result.
	simsoc_lens_mcu_fail(mcu_, 0x201, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, focus_move_abs(focus_, 10, 0));
}

TEST_F(LensMcuTest, GuardedUnitsRefuseUntilTheControllerInitialised)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF023Q);
	EXPECT_EQ(-1, focus_move_abs(focus_, 100, 0));
	EXPECT_EQ(-1, zoom_move_abs(zoom_, 100));
	EXPECT_EQ(-1, zoom_move_abs(zoom_, 99999)); // refused before its bounds are looked at
	EXPECT_EQ("", writes());
	EXPECT_EQ("", log_.text(DEBUG_WARNING));
	block_->mcu.initialised = 1;
	EXPECT_EQ(0, focus_move_abs(focus_, 100, 0));
	EXPECT_EQ(0, zoom_move_abs(zoom_, 200));
	EXPECT_EQ("0x201=100\n0x101=200\n", writes());
	// Guarded moves wait for the motor, like polled ones.
	EXPECT_EQ(1, focus_->pending);
	EXPECT_EQ(1, zoom_->pending);
	EXPECT_EQ((std::vector<TraceEvent>{{"focus_move_abs", 100, 1}}), events_named("focus_move_abs"));
}

TEST_F(LensMcuTest, TheIrCutFilterSelectsTheTraceCurvesAndSwitchesTheLens)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	ircut *filter = camblock_ircut_new(block_, CAMBLOCK_LENS_TAMRON_DF010NL);
	control_add_ircut(engine_, filter, 0);
	focus_->commanded = 1;
	// FocusTraceCurve unreadable: the default curve set.
	EXPECT_EQ(0, ircut_set(filter, 0));
	EXPECT_EQ("ircut_mcu_common_set: could not get FocusTraceCurve, using default\n",
	          log_.text(DEBUG_WARNING));
	EXPECT_EQ("0x305=0\n0x007=0\n", take_writes());
	EXPECT_EQ(0, filter->state);
	EXPECT_EQ(0, focus_->commanded);

	ASSERT_EQ(0, param_set_int(100, 0, 2)); // "950nm"
	EXPECT_EQ(0, ircut_set(filter, 0));
	EXPECT_EQ("0x305=2\n0x007=0\n", take_writes());
	EXPECT_EQ(2u, block_->mcu.trace_set);
	// The day/night switch goes through the lens; day is always set 0.
	EXPECT_EQ(PLATFORM_OK, plat_->daynight_switch(plat_, 1, 0));
	EXPECT_EQ("0x305=0\n0x007=1\n", take_writes());
	EXPECT_EQ(1, filter->state);

	// A filter register the controller does not take is no switch.
	simsoc_lens_mcu_fail(mcu_, 0x007, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, ircut_set(filter, 0));
	EXPECT_EQ(1, filter->state);
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 0, 0));
	EXPECT_EQ(1, filter->state);
	// A stream without a filter has nothing to switch.
	EXPECT_EQ(-4, plat_->daynight_switch(plat_, 0, 256));
}

TEST_F(LensMcuTest, FocusStopTrackingAndRelease)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	block_->mcu.distance_index_mode = 1;
	focus_->commanded = 1;
	EXPECT_EQ(0, focus_stop(focus_));
	EXPECT_EQ(0, focus_->commanded);
	EXPECT_EQ(1, block_->mcu.distance_index_mode);
	EXPECT_EQ(0, focus_set_tracking(focus_, 1234));
	EXPECT_EQ(0, block_->mcu.distance_index_mode);
	block_->mcu.distance_index_mode = 1;
	focus_->commanded = 1;
	EXPECT_EQ(0, focus_stop_and_release(focus_));
	EXPECT_EQ(0, focus_->commanded);
	EXPECT_EQ(0, block_->mcu.distance_index_mode);
	EXPECT_EQ("0x206=1\n0x301=1234\n0x206=1\n0x301=65535\n", take_writes());
	simsoc_lens_mcu_fail(mcu_, 0x301, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, focus_set_tracking(focus_, 1));
	EXPECT_EQ(0, focus_stop_and_release(focus_)); // failures stay inside
}

TEST_F(LensMcuTest, FocusPositionAndDistance)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	simsoc_lens_mcu_set(mcu_, 0x200, 4321);
	EXPECT_EQ(4321, focus_get_position(focus_));
	simsoc_lens_mcu_fail(mcu_, 0x200, SIMSOC_LENS_READ, EIO);
	EXPECT_EQ(4321, focus_get_position(focus_)); // a failed read keeps the value
	EXPECT_EQ(0, focus_get_min(focus_));
	EXPECT_EQ(7500, focus_get_max(focus_));

	zoom_->position = 700;
	focus_->value = 2560;
	focus_->value_is_position = 0;
	EXPECT_EQ(lens_distances[5], focus_get_distance_diopters(focus_));
	focus_->value = trace_position(700, 1024);
	focus_->value_is_position = 1;
	EXPECT_EQ(lens_distances[2], focus_get_distance_diopters(focus_));
	camblock_set_zoom(block_, nullptr);
	EXPECT_EQ(-2, focus_get_distance_diopters(focus_));
	camblock_set_zoom(block_, zoom_);
}

TEST_F(LensMcuTest, PolledUnitsAskTheControllerWhileTheyWait)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	simsoc_lens_mcu_set_step(mcu_, SIMSOC_LENS_FOCUS, 100);
	simsoc_lens_mcu_set_step(mcu_, SIMSOC_LENS_ZOOM, 100);
	// Not waiting: nothing is read.
	EXPECT_EQ(0, focus_is_moving(focus_));
	EXPECT_EQ(0, focus_get_position(focus_));
	EXPECT_EQ(0u, simsoc_lens_mcu_reads(mcu_, 0x209) + simsoc_lens_mcu_reads(mcu_, 0x200));

	EXPECT_EQ(0, focus_move_abs(focus_, 300, 0));
	EXPECT_EQ(1, focus_->pending);
	simsoc_lens_mcu_tick(mcu_, 1);
	EXPECT_EQ(1, focus_is_moving(focus_));
	EXPECT_EQ(100, focus_get_position(focus_));
	simsoc_lens_mcu_tick(mcu_, 2);
	EXPECT_EQ(0, focus_is_moving(focus_));
	EXPECT_EQ(300, focus_->value);
	EXPECT_EQ(0, focus_->pending);

	// A moving register that cannot be read keeps the zoom waiting.
	EXPECT_EQ(0, zoom_move_abs(zoom_, 1000));
	simsoc_lens_mcu_tick(mcu_, 20);
	simsoc_lens_mcu_fail(mcu_, 0x109, SIMSOC_LENS_READ, EIO);
	EXPECT_EQ(1, zoom_is_moving(zoom_));
	EXPECT_EQ(1, zoom_->pending);
	simsoc_lens_mcu_fail(mcu_, 0x109, SIMSOC_LENS_READ, 0);
	EXPECT_EQ(0, zoom_is_moving(zoom_));
	EXPECT_EQ(1000, zoom_->position);
	EXPECT_EQ(1000, zoom_get_position(zoom_));
}

TEST_F(LensMcuTest, AStoppedZoomRecalculatesApertureAndFocusRange)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	block_->mcu.near_index = 3584;
	block_->mcu.far_index = 512;
	block_->mcu.near_limit = 32768;
	block_->mcu.far_limit = 1638;
	EXPECT_EQ(0, zoom_move_abs(zoom_, 1200));
	simsoc_lens_mcu_tick(mcu_, 1);
	EXPECT_EQ(0, zoom_is_moving(zoom_));
	EXPECT_EQ("Attempted to update aperture on camblocknot supporting recalculation\n", log_.text());
	EXPECT_EQ(std::min(6796, trace_position(1200, 3584)), focus_->max_limit);
	EXPECT_EQ(trace_position(1200, 512), focus_->min_limit);

	// With the slot, it runs before the focus range follows.
	static int apertures;
	apertures = 0;
	block_->update_aperture = [](camblock *) {
		apertures++;
		return 0;
	};
	log_.clear();
	EXPECT_EQ(0, zoom_move_abs(zoom_, 400));
	simsoc_lens_mcu_tick(mcu_, 1);
	EXPECT_EQ(0, zoom_is_moving(zoom_));
	EXPECT_EQ(1, apertures);
	EXPECT_EQ("", log_.text());
	EXPECT_EQ(trace_position(400, 512), focus_->min_limit);
}

// Whether the zoom's parameter record was set again since the last look.
class PublishTest : public LensMcuTest
{
      protected:
	void SetUp() override
	{
		LensMcuTest::SetUp();
		changes_ = param_db_init();
		ASSERT_EQ(0, param_set_int(156, 0, 1));
		ASSERT_EQ(0, param_set_notify_mode(156, 0, PARAM_NOTIFY_ALWAYS));
		param_clear_changes();
	}
	void watch()
	{
		zoom_->parameter = {156, 0, PARAM_NOTIFY_ALWAYS, PARAM_TYPE_INT, 1, nullptr};
	}
	bool published()
	{
		bool any = !g_queue_is_empty(changes_);
		param_clear_changes();
		return any;
	}
	GQueue *changes_ = nullptr;
};

TEST_F(PublishTest, ReportedZoomUpdates)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	watch();
	static int recalculations;
	block_->update_aperture = [](camblock *) {
		recalculations++;
		return 0;
	};
	const struct {
		uint32_t trace_mode;
		uint8_t pending, commanded;
		int32_t position, target;
		int32_t report;
		int moving;
		int32_t new_position, new_target;
		uint8_t new_pending;
		bool recalculated, published, focus_released;
	} cases[] = {
	    {1, 0, 1, 100, 500, 200, 1, 200, 500, 1, false, false, true},
	    {0, 0, 1, 100, 500, 200, 1, 200, 500, 1, false, false, false},
	    {1, 1, 0, 200, 500, 300, 0, 300, 300, 0, true, true, false},
	    {1, 1, 1, 200, 500, 300, 0, 300, 500, 0, true, true, false},
	    {1, 0, 1, 300, 500, 300, 0, 300, 500, 0, false, false, false},
	    {1, 0, 1, 300, 500, 310, 0, 310, 500, 0, true, true, false},
	    {1, 0, 0, 290, 300, 300, 0, 300, 300, 0, true, true, false},
	    {1, 0, 0, 300, 300, 300, 0, 300, 300, 0, false, false, false},
	    {1, 0, 0, 300, 500, 300, 0, 300, 300, 0, false, true, false}, // target moved to where it is
	    {1, 0, 0, 300, 500, 310, 0, 310, 310, 0, true, true, false},
	};
	for (auto &c : cases) {
		block_->mcu.trace_mode = c.trace_mode;
		zoom_->pending = c.pending;
		zoom_->commanded = c.commanded;
		zoom_->position = c.position;
		zoom_->target = c.target;
		focus_->commanded = 1;
		recalculations = 0;
		published();
		EXPECT_EQ(0, zoom_update(zoom_, c.report, c.moving));
		SCOPED_TRACE(testing::Message()
		             << "pending " << (int)c.pending << " commanded " << (int)c.commanded << " at "
		             << c.position << " to " << c.target << " report " << c.report
		             << (c.moving ? " moving" : ""));
		EXPECT_EQ(c.new_position, zoom_->position);
		EXPECT_EQ(c.new_target, zoom_->target);
		EXPECT_EQ(c.new_pending, zoom_->pending);
		EXPECT_EQ(c.recalculated, recalculations == 1);
		EXPECT_EQ(c.published, published());
		EXPECT_EQ(c.focus_released, focus_->commanded == 0);
	}
}

TEST_F(PublishTest, PolledZoomUpdates)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	watch();
	const struct {
		uint8_t pending, commanded;
		int32_t target, report;
		int32_t new_target;
		bool published, focus_released;
	} cases[] = {
	    {1, 1, 500, 300, 500, false, true},
	    {0, 1, 500, 300, 500, false, false},
	    {0, 0, 500, 300, 300, true, false},
	    {0, 0, 300, 300, 300, false, false},
	};
	for (auto &c : cases) {
		zoom_->pending = c.pending;
		zoom_->commanded = c.commanded;
		zoom_->position = 42;
		zoom_->target = c.target;
		focus_->commanded = 1;
		published();
		EXPECT_EQ(0, zoom_update(zoom_, c.report, 0));
		EXPECT_EQ(42, zoom_->position); // a polled zoom reads its position itself
		EXPECT_EQ(c.new_target, zoom_->target);
		EXPECT_EQ(c.published, published());
		EXPECT_EQ(c.focus_released, focus_->commanded == 0);
	}
}

TEST_F(PublishTest, ZoomCommandsAndDistanceIndexesAreAnnounced)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF010NL);
	EXPECT_EQ(0, zoom_move_abs(zoom_, 100));
	EXPECT_FALSE(published()); // no parameter in the record yet
	watch();
	EXPECT_EQ(0, zoom_move_abs(zoom_, 100));
	EXPECT_TRUE(published());
	EXPECT_EQ(0, zoom_stop(zoom_));
	EXPECT_TRUE(published());
	EXPECT_EQ(0, zoom_->commanded);
	EXPECT_EQ(0, zoom_set_speed(zoom_, 77));
	EXPECT_TRUE(published());
	EXPECT_EQ(0, camblock_set_distance_index(block_, 1024));
	EXPECT_TRUE(published());
	block_->mcu.trace_mode = 0; // the focus is sent there too
	EXPECT_EQ(0, camblock_set_focus_dioptres(block_, 1638, 0));
	EXPECT_TRUE(published());
	EXPECT_EQ("0x101=100\n0x101=100\n0x106=1\n0x103=77\n0x303=1024\n0x303=512\n0x201=" +
	              std::to_string(trace_position(0, 512)) + "\n",
	          writes());
	simsoc_lens_mcu_fail(mcu_, 0x103, SIMSOC_LENS_WRITE, EIO);
	EXPECT_EQ(-4, zoom_set_speed(zoom_, 1));
}

int32_t follow_curve(void *data, int32_t zoom, int32_t index, int32_t set)
{
	return (int32_t)camblock_trace_focus_position(static_cast<camblock_trace *>(data), zoom, index, set,
	                                              0);
}

TEST_F(LensMcuTest, TheControllerCarriesTheFocusAlongTheHeldCurve)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	camblock_trace *curves = camblock_trace_new(model_.trace());
	simsoc_lens_mcu_set_trace(mcu_, follow_curve, curves);
	simsoc_lens_mcu_set_step(mcu_, SIMSOC_LENS_ZOOM, 150);
	ASSERT_EQ(0, camblock_set_trace_mode(block_, 1, 0, 0));
	ASSERT_EQ(0, camblock_set_distance_index(block_, 2560));
	block_->mcu.initialised = 1;
	ASSERT_EQ(0, zoom_move_abs(zoom_, 1200));
	optics_state state = {};
	int polls = 0;
	do {
		simsoc_lens_mcu_tick(mcu_, 1);
		ASSERT_EQ(0, camblock_refresh(block_, &state));
		ASSERT_LT(++polls, 20);
	} while (zoom_->pending);
	EXPECT_EQ(1200, zoom_->position);
	EXPECT_EQ(trace_position(1200, 2560), simsoc_lens_mcu_get(mcu_, 0x200));
	EXPECT_EQ(trace_position(1200, 2560), focus_get_position(focus_));
	EXPECT_EQ("", protocol_errors());
	simsoc_lens_mcu_set_trace(mcu_, nullptr, nullptr);
	camblock_trace_free(curves);
}

TEST_F(LensMcuTest, AStalledZoomKeepsAPolledUnitWaiting)
{
	add_units(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	simsoc_lens_mcu_stall(mcu_, SIMSOC_LENS_ZOOM, 1);
	ASSERT_EQ(0, zoom_move_abs(zoom_, 500));
	for (int i = 0; i < 5; i++) {
		simsoc_lens_mcu_tick(mcu_, 10);
		EXPECT_EQ(1, zoom_is_moving(zoom_));
	}
	// Stopping it ends the wait where it stands.
	EXPECT_EQ(0, zoom_stop(zoom_));
	EXPECT_EQ(0, zoom_is_moving(zoom_));
	EXPECT_EQ(0, zoom_->position);
}

} // namespace
