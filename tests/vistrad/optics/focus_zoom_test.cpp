// Focus and zoom units: the wrappers over spy slots, the zoom tables with
// their brackets, relative magnification and the wide-end rescaling.

#include "optics/focus_zoom.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <math.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace
{

const int32_t ONE = 16384;

std::vector<std::string> calls;

template <typename... A> int32_t record(const char *name, A... args)
{
	std::string line = name;
	for (int64_t a : std::vector<int64_t>{(int64_t)args...})
		line += " " + std::to_string(a);
	calls.push_back(line);
	return 500 + (int32_t)calls.size();
}

void fill_focus(focus_object *f)
{
	f->is_moving = [](focus_object *) { return record("is_moving"); };
	f->move_abs = [](focus_object *, int32_t p, int32_t s) { return record("move_abs", p, s); };
	f->move_rel = [](focus_object *, int32_t p, int32_t s) { return record("move_rel", p, s); };
	f->get_position = [](focus_object *) { return record("get_position"); };
	f->get_distance_diopters = [](focus_object *) { return record("get_distance_diopters"); };
	f->get_max = [](focus_object *) { return record("get_max"); };
	f->get_min = [](focus_object *) { return record("get_min"); };
	f->set_max_limit = [](focus_object *, int32_t p) { record("set_max_limit", p); };
	f->set_min_limit = [](focus_object *, int32_t p) { record("set_min_limit", p); };
	f->set_tracking = [](focus_object *, int32_t p) { return record("set_tracking", p); };
	f->update = [](focus_object *, int32_t v, int m, int p) { return record("update", v, m, p); };
	f->stop = [](focus_object *) { return record("stop"); };
	f->stop_and_release = [](focus_object *) { return record("stop_and_release"); };
}

void fill_zoom(zoom_object *z)
{
	z->is_moving = [](zoom_object *) { return record("is_moving"); };
	z->move_abs = [](zoom_object *, int32_t p) { return record("move_abs", p); };
	z->move_rel = [](zoom_object *, int32_t p) { return record("move_rel", p); };
	z->stop = [](zoom_object *) { return record("stop"); };
	z->get_position = [](zoom_object *) { return record("get_position"); };
	z->get_max = [](zoom_object *) { return record("get_max"); };
	z->get_min = [](zoom_object *) { return record("get_min"); };
	z->update = [](zoom_object *, int32_t p, int m) { return record("update", p, m); };
	z->magnification_at_position = [](zoom_object *, int32_t p) { return record("magnification_at", p); };
	z->focal_length_at_position = [](zoom_object *, int32_t p) { return record("focal_length_at", p); };
	z->position_for_magnification = [](zoom_object *, int32_t m) { return record("position_for", m); };
	z->limit_by_magnification = [](zoom_object *, int32_t m) { record("limit_by", m); };
	z->max_magnification = [](zoom_object *) { return record("max_magnification"); };
	z->set_speed = [](zoom_object *, int32_t s) { return record("set_speed", s); };
}

template <typename U> struct Wrapper {
	const char *expected; // the slot's call as the spy writes it
	std::function<int64_t(U *)> call;
	std::function<void(U *)> empty;
	bool returns_slot = true; // else 0 once the slot ran
};

#define FOCUS(expected, call, slot)                                                                          \
	{                                                                                                    \
		expected, [](focus_object *f) -> int64_t { return call; },                                   \
		    [](focus_object *f) { f->slot = nullptr; }                                               \
	}
#define ZOOM(expected, call, slot)                                                                           \
	{                                                                                                    \
		expected, [](zoom_object *z) -> int64_t { return call; },                                    \
		    [](zoom_object *z) { z->slot = nullptr; }                                                \
	}

std::vector<Wrapper<focus_object>> focus_wrappers()
{
	std::vector<Wrapper<focus_object>> w = {
	    FOCUS("is_moving", focus_is_moving(f), is_moving),
	    FOCUS("move_abs 3000 2", focus_move_abs(f, 3000, 2), move_abs),
	    FOCUS("move_rel -40 1", focus_move_rel(f, -40, 1), move_rel),
	    FOCUS("get_position", focus_get_position(f), get_position),
	    FOCUS("get_distance_diopters", focus_get_distance_diopters(f), get_distance_diopters),
	    FOCUS("get_max", focus_get_max(f), get_max),
	    FOCUS("get_min", focus_get_min(f), get_min),
	    FOCUS("set_max_limit 7000", focus_set_max_limit(f, 7000), set_max_limit),
	    FOCUS("set_min_limit 100", focus_set_min_limit(f, 100), set_min_limit),
	    FOCUS("set_tracking 65535", focus_set_tracking(f, 65535), set_tracking),
	    FOCUS("update 1536 1 0", focus_update(f, 1536, 1, 0), update),
	    FOCUS("stop", focus_stop(f), stop),
	    FOCUS("stop_and_release", focus_stop_and_release(f), stop_and_release),
	};
	w[7].returns_slot = w[8].returns_slot = false;
	return w;
}

std::vector<Wrapper<zoom_object>> zoom_wrappers()
{
	return {
	    ZOOM("is_moving", zoom_is_moving(z), is_moving),
	    ZOOM("move_abs 2000", zoom_move_abs(z, 2000), move_abs),
	    ZOOM("move_rel -5", zoom_move_rel(z, -5), move_rel),
	    ZOOM("stop", zoom_stop(z), stop),
	    ZOOM("get_position", zoom_get_position(z), get_position),
	    ZOOM("get_max", zoom_get_max(z), get_max),
	    ZOOM("get_min", zoom_get_min(z), get_min),
	    ZOOM("update 1200 1", zoom_update(z, 1200, 1), update),
	    ZOOM("magnification_at 1200", zoom_magnification_at_position(z, 1200), magnification_at_position),
	    ZOOM("focal_length_at 1200", zoom_focal_length_at_position(z, 1200), focal_length_at_position),
	    ZOOM("position_for 32768", zoom_position_for_magnification(z, 32768), position_for_magnification),
	    ZOOM("max_magnification", zoom_max_magnification(z), max_magnification),
	    ZOOM("set_speed 8192", zoom_set_speed(z, 8192), set_speed),
	};
}

// Each unit kind: missing unit, platform or slot gives -2 without a call;
// otherwise exactly the slot's call, and its answer.
template <typename U>
void check_wrappers(const std::vector<Wrapper<U>> &wrappers, U *(*make)(void), void (*fill)(U *),
                    void (*destroy)(U *))
{
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	for (const Wrapper<U> &w : wrappers) {
		SCOPED_TRACE(w.expected);
		calls.clear();
		EXPECT_EQ(-2, w.call(nullptr));

		U *unit = make();
		fill(unit);
		EXPECT_EQ(-2, w.call(unit)); // no platform yet
		unit->platform = plat;
		w.empty(unit);
		EXPECT_EQ(-2, w.call(unit));
		EXPECT_TRUE(calls.empty());

		fill(unit);
		int64_t got = w.call(unit);
		ASSERT_EQ(std::vector<std::string>{w.expected}, calls);
		EXPECT_EQ(w.returns_slot ? 501 : 0, got);
		destroy(unit);
	}
	g_free(plat);
}

TEST(Wrappers, FocusWrappersCheckUnitPlatformAndSlot)
{
	check_wrappers<focus_object>(focus_wrappers(), focus_new, fill_focus, focus_destroy);
}

TEST(Wrappers, ZoomWrappersCheckUnitPlatformAndSlot)
{
	check_wrappers<zoom_object>(zoom_wrappers(), zoom_new, fill_zoom, zoom_destroy);
}

TEST(Wrappers, LimitByMagnificationGivesTheZoomBackEitherWay)
{
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	zoom_object *z = zoom_new();
	calls.clear();
	EXPECT_EQ(nullptr, zoom_limit_by_magnification(nullptr, ONE));
	fill_zoom(z);
	EXPECT_EQ(z, zoom_limit_by_magnification(z, ONE));
	EXPECT_TRUE(calls.empty());
	z->platform = plat;
	EXPECT_EQ(z, zoom_limit_by_magnification(z, 2 * ONE));
	EXPECT_EQ(std::vector<std::string>{"limit_by 32768"}, calls);
	zoom_destroy(z);
	g_free(plat);
}

TEST(Wrappers, FixedUnitsAnswerNothing)
{
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	focus_object *f = focus_new_fixed();
	zoom_object *z = zoom_new_fixed();
	EXPECT_EQ(2u, f->type);
	EXPECT_EQ(2u, z->type);
	focus_add_platform(f, plat);
	zoom_add_platform(z, plat);
	for (auto &w : focus_wrappers())
		EXPECT_EQ(-2, w.call(f)) << w.expected;
	for (auto &w : zoom_wrappers())
		EXPECT_EQ(-2, w.call(z)) << w.expected;
	focus_destroy(f);
	zoom_destroy(z);
	g_free(plat);
}

TEST(Wrappers, ZoomDestroyLeavesTheFreeingToItsSlot)
{
	static int destroyed;
	destroyed = 0;
	zoom_object *z = zoom_new();
	z->destroy = [](zoom_object *zoom) {
		destroyed++;
		g_free(zoom);
	};
	zoom_destroy(z);
	EXPECT_EQ(1, destroyed);
	zoom_destroy(nullptr);
	focus_destroy(nullptr);
}

/* zoom tables */

// 21 points from 20 to 2448, magnification 1.0 to 3.0: positions spread
// quadratically, magnifications evenly.
struct Df010nlZoom {
	int32_t positions[21];
	int32_t magnifications[21];
	int32_t focal_lengths[21];
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	zoom_object *zoom = zoom_new();
	Df010nlZoom()
	{
		for (int i = 0; i < 21; i++) {
			positions[i] = 20 + 2428 * i * i / 400;
			magnifications[i] = ONE + (int32_t)lround(2.0 * ONE * i / 20);
			focal_lengths[i] = (int32_t)lround((4.4 + 0.44 * i) * ONE);
		}
		zoom_use_tables(zoom, 21, positions, magnifications, focal_lengths, nullptr, 24);
		zoom_add_platform(zoom, plat);
		zoom->mech_min = 0;
		zoom->mech_max = 2468;
	}
	~Df010nlZoom()
	{
		zoom_destroy(zoom);
		g_free(plat);
	}
	// The table in double precision, end segments extended.
	double magnification(double p) const
	{
		int i = 0;
		while (i < 19 && p >= positions[i + 1])
			i++;
		return magnifications[i] + (double)(magnifications[i + 1] - magnifications[i]) *
		                               (p - positions[i]) / (positions[i + 1] - positions[i]);
	}
};

TEST(ZoomTable, MagnificationRunsFromOneToThreeAndExtrapolatesItsEnds)
{
	Df010nlZoom t;
	EXPECT_EQ(ONE, zoom_magnification_at_position(t.zoom, 20));
	EXPECT_EQ(3 * ONE, zoom_magnification_at_position(t.zoom, 2448));
	for (int32_t p : {-200, 0, 10, 19, 21, 333, 1000, 2447, 2449, 2600})
		EXPECT_NEAR(t.magnification(p), zoom_magnification_at_position(t.zoom, p), 1.0) << p;
	EXPECT_LT(zoom_magnification_at_position(t.zoom, 0), ONE);
	EXPECT_NEAR(4.4 * ONE, zoom_focal_length_at_position(t.zoom, 20), 1.0);
	EXPECT_NEAR(13.2 * ONE, zoom_focal_length_at_position(t.zoom, 2448), 1.0);
}

TEST(ZoomTable, EveryPointsMagnificationGivesItsPosition)
{
	Df010nlZoom t;
	for (int i = 0; i < 21; i++)
		EXPECT_EQ(t.positions[i], zoom_position_for_magnification(t.zoom, t.magnifications[i])) << i;
	// Between points, rounded to the nearest step.
	double p = (t.positions[1] + t.positions[2]) / 2.0;
	EXPECT_NEAR(
	    p, zoom_position_for_magnification(t.zoom, (t.magnifications[1] + t.magnifications[2]) / 2), 0.5);
}

TEST(ZoomTable, MaxMagnificationBelowTheTeleEndIsRoundedToHundredths)
{
	Df010nlZoom t;
	for (int32_t mech_max : {1000, 1777, 2447}) {
		t.zoom->mech_max = mech_max;
		double m = zoom_magnification_at_position(t.zoom, mech_max) / (double)ONE;
		double hundredths = round(m * 100) / 100;
		EXPECT_EQ((int32_t)lround(hundredths * ONE), zoom_max_magnification(t.zoom)) << mech_max;
	}
	for (int32_t mech_max : {2448, 2468}) {
		t.zoom->mech_max = mech_max;
		EXPECT_EQ(3 * ONE, zoom_max_magnification(t.zoom));
	}
}

TEST(ZoomTable, LimitByMagnificationMovesMechMaxUpToTheCeiling)
{
	Df010nlZoom t;
	zoom_limit_by_magnification(t.zoom, 2 * ONE);
	int32_t at2 = zoom_position_for_magnification(t.zoom, 2 * ONE);
	EXPECT_EQ(at2, t.zoom->mech_max);
	t.zoom->max_ceiling = 1000;
	zoom_limit_by_magnification(t.zoom, 3 * ONE);
	EXPECT_EQ(1000, t.zoom->mech_max);
	zoom_limit_by_magnification(t.zoom, ONE + ONE / 4);
	EXPECT_EQ(zoom_position_for_magnification(t.zoom, ONE + ONE / 4), t.zoom->mech_max);
}

TEST(ZoomTable, AOnePointTableAnswersThatPoint)
{
	const int32_t position = 500, magnification = 2 * ONE, focal = 35 * ONE;
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	zoom_object *z = zoom_new();
	zoom_use_tables(z, 1, &position, &magnification, &focal, nullptr, 24);
	zoom_add_platform(z, plat);
	for (int32_t p : {-100, 0, 500, 9999}) {
		EXPECT_EQ(magnification, zoom_magnification_at_position(z, p));
		EXPECT_EQ(focal, zoom_focal_length_at_position(z, p));
	}
	for (int32_t m : {0, ONE, 2 * ONE, 5 * ONE})
		EXPECT_EQ(500, zoom_position_for_magnification(z, m));
	z->mech_max = 100;
	EXPECT_EQ(magnification, zoom_max_magnification(z));
	z->mech_max = 600;
	EXPECT_EQ(magnification, zoom_max_magnification(z));
	zoom_limit_by_magnification(z, 3 * ONE);
	EXPECT_EQ(500, z->mech_max);
	zoom_destroy(z);
	g_free(plat);
}

TEST(ZoomTable, WithoutATableEveryLookupGivesMinusTwo)
{
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	zoom_object *z = zoom_new();
	zoom_use_tables(z, 0, nullptr, nullptr, nullptr, nullptr, 24);
	zoom_add_platform(z, plat);
	z->mech_max = 77;
	EXPECT_EQ(-2, zoom_magnification_at_position(z, 10));
	EXPECT_EQ(-2, zoom_focal_length_at_position(z, 10));
	EXPECT_EQ(-2, zoom_position_for_magnification(z, ONE));
	EXPECT_EQ(-2, zoom_max_magnification(z));
	zoom_limit_by_magnification(z, ONE);
	EXPECT_EQ(77, z->mech_max);
	// Positions without magnifications are no table either.
	const int32_t positions[2] = {0, 100};
	zoom_use_tables(z, 2, positions, nullptr, nullptr, nullptr, 24);
	EXPECT_EQ(-2, zoom_max_magnification(z));
	EXPECT_EQ(-2, zoom_magnification_at_position(z, 10));
	EXPECT_EQ(-2, zoom_relative_magnification_at_position(z, 10));
	EXPECT_EQ(-2, zoom_relative_position_for_magnification(z, ONE));
	zoom_destroy(z);
	g_free(plat);
}

TEST(RelativeZoom, TheLowestPositionReadsOne)
{
	Df010nlZoom t;
	zoom_use_relative_tables(t.zoom, 21, t.positions, t.magnifications, t.focal_lengths, nullptr, 24, 0,
	                         300);
	EXPECT_EQ(300, t.zoom->mech_min);
	EXPECT_EQ(2448, t.zoom->mech_max);
	EXPECT_EQ(2448, t.zoom->max_ceiling);
	EXPECT_EQ(ONE, t.zoom->speed);
	EXPECT_EQ(ONE, zoom_magnification_at_position(t.zoom, 300));
	EXPECT_NEAR(300, zoom_position_for_magnification(t.zoom, ONE), 1);
	double m0 = t.magnification(300);
	EXPECT_NEAR(3.0 * ONE * ONE / m0, zoom_magnification_at_position(t.zoom, 2448), 1.0);
	EXPECT_EQ(zoom_magnification_at_position(t.zoom, 2448), zoom_max_magnification(t.zoom));
	// Below the tele end the relative maximum is rounded to hundredths.
	t.zoom->mech_max = 1500;
	double rel = zoom_magnification_at_position(t.zoom, 1500) / (double)ONE;
	EXPECT_EQ((int32_t)lround(round(rel * 100) / 100 * ONE), zoom_max_magnification(t.zoom));
	// A relative magnification and its position agree.
	for (int32_t p : {400, 900, 2000})
		EXPECT_NEAR(
		    p, zoom_position_for_magnification(t.zoom, zoom_magnification_at_position(t.zoom, p)), 1)
		    << p;
}

TEST(RelativeZoom, TheMaximumMagnificationLimitsTheTeleEndRelatively)
{
	Df010nlZoom t;
	zoom_use_relative_tables(t.zoom, 21, t.positions, t.magnifications, t.focal_lengths, nullptr, 24,
	                         ONE * 3 / 2, 300);
	EXPECT_NEAR(ONE * 3 / 2, zoom_magnification_at_position(t.zoom, t.zoom->mech_max), 30);
	EXPECT_EQ(t.zoom->mech_max, t.zoom->max_ceiling);
	EXPECT_LT(t.zoom->mech_max, 2448);
	// 3.0 at 300 would lie far beyond the last calibrated position.
	Df010nlZoom beyond;
	zoom_use_relative_tables(beyond.zoom, 21, beyond.positions, beyond.magnifications,
	                         beyond.focal_lengths, nullptr, 24, 3 * ONE, 300);
	EXPECT_EQ(2448, beyond.zoom->mech_max);
	EXPECT_EQ(2448, beyond.zoom->max_ceiling);
}

TEST(RelativeZoom, WithoutALowestPositionInsideTheTableItIsThePlainTable)
{
	struct Case {
		int32_t min_position;
		int32_t mech_min;
	};
	// -1: none; below the first point; at or past the second-last point.
	for (Case c : {Case{-1, 20}, Case{10, 20}, Case{20, 20}, Case{2 + 20 + 2428 * 361 / 400, 20}}) {
		Df010nlZoom t;
		zoom_use_relative_tables(t.zoom, 21, t.positions, t.magnifications, t.focal_lengths, nullptr,
		                         24, 0, c.min_position);
		EXPECT_EQ(c.mech_min, t.zoom->mech_min) << c.min_position;
		for (int32_t p : {20, 700, 2448})
			EXPECT_EQ(zoom_table_magnification_at_position(t.zoom, p),
			          zoom_magnification_at_position(t.zoom, p));
		EXPECT_EQ(3 * ONE, zoom_max_magnification(t.zoom));
	}
	// One point: no second-last point to compare with.
	const int32_t p = 100, m = ONE;
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	zoom_object *z = zoom_new();
	zoom_add_platform(z, plat);
	zoom_use_relative_tables(z, 1, &p, &m, &m, nullptr, 24, 0, 150);
	EXPECT_EQ(100, z->mech_min);
	EXPECT_EQ(100, z->mech_max);
	zoom_destroy(z);
	g_free(plat);
}

TEST(WideEnd, AnUnknownWideEndKeepsTheTable)
{
	for (int32_t w : {65535, 20, 0, -1}) {
		Df010nlZoom t;
		zoom_rescale_to_wide_end(t.zoom, w);
		ASSERT_NE(t.magnifications, t.zoom->magnifications); // the unit's own copy
		for (int i = 0; i < 21; i++)
			EXPECT_EQ(t.magnifications[i], t.zoom->magnifications[i]) << w;
	}
}

TEST(WideEnd, TheWideEndReadsOneAndTheTeleEndStays)
{
	for (int32_t w : {300, 1111, 2000}) {
		Df010nlZoom t;
		zoom_rescale_to_wide_end(t.zoom, w);
		EXPECT_NEAR(ONE, zoom_magnification_at_position(t.zoom, w), 2) << w;
		EXPECT_EQ(3 * ONE, zoom_magnification_at_position(t.zoom, 2448)) << w;
		// The map is a straight line through (mW, 1.0) and (3.0, 3.0); mW
		// itself is rounded, which the far points feel a few times over.
		double mw = t.magnification(w);
		for (int i : {0, 5, 12, 19}) {
			double expected =
			    ONE + (t.magnifications[i] - mw) * (3.0 * ONE - ONE) / (3.0 * ONE - mw);
			EXPECT_NEAR(expected, t.zoom->magnifications[i], 4.0) << w << " point " << i;
		}
		// A second rescale replaces the first copy.
		zoom_rescale_to_wide_end(t.zoom, w);
		EXPECT_NEAR(ONE, zoom_magnification_at_position(t.zoom, w), 2) << w;
	}
}

} // namespace
