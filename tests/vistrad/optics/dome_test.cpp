// Dome compensation: the shells' powers against the thick-lens equation in
// double precision, and the power added and removed over a spy block.

#include "optics/dome.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <math.h>

#include <string>
#include <vector>

#include "optics/camblock.h"
#include "optics/camblock_trace.h"
#include "optics/focus_zoom.h"
#include "platform/platform.h"

namespace
{

const int32_t ONE = 16384;

double thick_lens_power(double r1, double r2, double d, double n)
{
	return (n - 1) * (1 / r1 - 1 / r2 + (n - 1) * d / (n * r1 * r2)) * 1000;
}

TEST(DomePower, EachGeometryAgainstTheThickLensEquation)
{
	struct Case {
		const char *name;
		dome *(*create)(void);
		double r1, r2, d, n, about;
	};
	const double n = 25967.0 / ONE;
	const Case cases[] = {
	    {"quorval", dome_quorval_create, 1214054, 1179648, 34406, n, 0.145},
	    {"type 2", dome_type2_create, 1269760, 1235354, 34406, n, 0.133},
	    {"mirask", dome_mirask_create, 935526, 901120, 34406, n, 0.247},
	    {"miraskor", dome_miraskor_create, 1027277, 986317, 40960, n, 0.244},
	    {"type 5", dome_type5_create, 1239777, 1205371, 34406, n, 0.139},
	    {"narbu", dome_narbu_create, 1540096, 1505690, 34406, 25969.0 / ONE, 0.090},
	};
	for (const Case &c : cases) {
		dome *d = c.create();
		double reference = -thick_lens_power(c.r1 / ONE, c.r2 / ONE, c.d / ONE, c.n);
		EXPECT_NEAR(reference, d->power / (double)ONE, 3.0 / ONE) << c.name;
		EXPECT_NEAR(c.about, d->power / (double)ONE, 0.0005) << c.name;
		EXPECT_EQ(0, d->enabled) << c.name;
		EXPECT_EQ(nullptr, d->owner) << c.name;
		EXPECT_EQ(nullptr, d->destroy) << c.name;
		dome_destroy(d);
	}
}

TEST(DomePower, OpticalPowerEdges)
{
	// Negative for a dome, the sign given away by the create functions.
	EXPECT_LT(dome_optical_power(1214054, 1179648, 34406, 25967), 0);
	EXPECT_EQ(0, dome_optical_power(1214054, 1179648, 34406, ONE));
	// Surfaces that cancel bend nothing (and divide by nothing).
	int32_t r = 1000 * ONE;
	EXPECT_EQ(0, dome_optical_power(r, r, 0, 25967));
	// A converging lens is positive.
	double expected = thick_lens_power(50, -50, 5, 1.5);
	EXPECT_NEAR(expected, dome_optical_power(50 * ONE, -50 * ONE, 5 * ONE, ONE * 3 / 2) / (double)ONE,
	            3.0 / ONE);
}

/* over a spy block */

std::vector<std::string> calls;
dome *current;

std::string line(const char *what, std::initializer_list<int64_t> args)
{
	std::string s = what;
	for (int64_t a : args)
		s += " " + std::to_string(a);
	return s + (current && current->enabled ? " (enabled)" : " (disabled)");
}

// A lens whose focus moves one step per 16 units of Q14 dioptres from 2000.
int32_t spy_position(int32_t dioptres)
{
	return 2000 + dioptres / 16;
}

class DomeOverBlock : public ::testing::Test
{
      protected:
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	camblock *block = camblock_new();
	camblock_trace trace = {};
	dome *d = dome_quorval_create();
	void SetUp() override
	{
		trace.dioptres_per_curve = 1638;
		trace.index_units_per_step = 64;
		block->mcu.trace = &trace;
		camblock_add_platform(block, plat);
		block->write_register = [](camblock *, uint16_t reg, uint16_t value) {
			calls.push_back(line("write", {reg, value}));
			return 0;
		};
		block->dioptres_to_distance_index = [](camblock *, int32_t dioptres, int32_t dome_index) {
			calls.push_back(line("index of", {dioptres, dome_index}));
			return 1234;
		};
		block->dioptres_to_focus_position = [](camblock *, int32_t zoom, int32_t dioptres) {
			calls.push_back(line("position of", {zoom, dioptres}));
			return spy_position(dioptres);
		};
		block->focus_position_to_dioptres = [](camblock *, int32_t zoom, int32_t position) {
			calls.push_back(line("dioptres of", {zoom, position}));
			return (position - 2000) * 16;
		};
		dome_set_owner(d, block);
		current = d;
		calls.clear();
	}
	void TearDown() override
	{
		current = nullptr;
		dome_destroy(d);
		camblock_destroy(block);
		g_free(plat);
	}
};

TEST_F(DomeOverBlock, ADisabledDomeChangesNothing)
{
	EXPECT_EQ(0, dome_get_power(d));
	EXPECT_EQ(0, dome_get_index(d));
	for (int32_t v : {-50000, -1, 0, 1000, 16384}) {
		EXPECT_EQ(v, dome_remove_power(d, 100, v));
		EXPECT_EQ(v, dome_add_power(d, 100, v));
		EXPECT_EQ(v, dome_identity(d, v));
		EXPECT_EQ(v, dome_remove_power(nullptr, 100, v));
		EXPECT_EQ(v, dome_add_power(nullptr, 100, v));
	}
	EXPECT_EQ(0, dome_get_power(nullptr));
	EXPECT_EQ(0, dome_get_index(nullptr));
	EXPECT_EQ(-3, dome_set_enabled(nullptr, 1));
	EXPECT_EQ(-3, dome_store(nullptr, 1, 2));
	dome *bare = dome_new();
	EXPECT_EQ(-3, dome_set_enabled(bare, 1));
	EXPECT_EQ(-3, dome_store(bare, 1, 2));
	dome_destroy(bare);
	dome_destroy(nullptr);
	EXPECT_TRUE(calls.empty());
}

TEST_F(DomeOverBlock, EnablingWritesTheIndexComputedWithTheDomeDisabled)
{
	int32_t power = d->power;
	EXPECT_EQ(0, dome_set_enabled(d, 1));
	EXPECT_EQ((std::vector<std::string>{"index of " + std::to_string(power) + " 0 (disabled)",
	                                    "write 774 1234 (enabled)"}),
	          calls);
	EXPECT_EQ(1234, dome_get_index(d));
	EXPECT_EQ(power, dome_get_power(d));

	calls.clear();
	EXPECT_EQ(0, dome_set_enabled(d, 0));
	EXPECT_EQ(std::vector<std::string>{"write 774 0 (disabled)"}, calls);
	EXPECT_EQ(0, dome_get_index(d));
	EXPECT_EQ(0, d->index);
	EXPECT_EQ(0, dome_get_power(d));
}

TEST_F(DomeOverBlock, AtOrAboveItsPowerTheDomeIsSubtractedAndAdded)
{
	dome_set_enabled(d, 1);
	calls.clear();
	for (int32_t v : {d->power, d->power + 1, 16384, 60000}) {
		EXPECT_EQ(v - d->power, dome_remove_power(d, 500, v));
		EXPECT_EQ(v, dome_add_power(d, 500, v - d->power));
	}
	EXPECT_TRUE(calls.empty());
}

TEST_F(DomeOverBlock, BelowItsPowerTheObjectLiesBehindInfinity)
{
	dome_set_enabled(d, 1);
	const int64_t p = 1638, c = 64;
	for (int32_t dioptres : {d->power - 32, d->power / 2, 0, -1638, -50000}) {
		calls.clear();
		int32_t removed = dome_remove_power(d, 500, dioptres);
		// Steps behind the lens's focus on the dome, scaled by the trace
		// model's dioptres per step behind infinity.
		int64_t steps = spy_position(dioptres) - spy_position(d->power);
		int64_t expected = steps * p * c;
		expected = expected >= 0 ? expected / 512 : -((-expected + 511) / 512);
		EXPECT_EQ(expected, removed) << dioptres;
		EXPECT_LT(removed, 0) << dioptres;
		EXPECT_EQ(
		    (std::vector<std::string>{"position of 500 " + std::to_string(dioptres) + " (disabled)",
		                              "position of 500 " + std::to_string(d->power) + " (disabled)"}),
		    calls);
		EXPECT_EQ(1, d->enabled);

		calls.clear();
		int32_t back = dome_add_power(d, 500, removed);
		EXPECT_NEAR(dioptres, back, 32) << dioptres;
		ASSERT_EQ(2u, calls.size());
		EXPECT_EQ("position of 500 " + std::to_string(d->power) + " (disabled)", calls[0]);
		EXPECT_EQ(0u, calls[1].find("dioptres of 500 ")) << calls[1];
		EXPECT_NE(std::string::npos, calls[1].find("(disabled)"));
		EXPECT_EQ(1, d->enabled);
	}
}

TEST_F(DomeOverBlock, WithoutATraceModelThePowerIsSimplySubtracted)
{
	dome_set_enabled(d, 1);
	block->mcu.trace = nullptr;
	calls.clear();
	EXPECT_EQ(-d->power, dome_remove_power(d, 500, 0));
	EXPECT_EQ(-5 + d->power, dome_add_power(d, 500, -5));
	EXPECT_TRUE(calls.empty());
}

TEST_F(DomeOverBlock, StoreKeepsTheLastPair)
{
	EXPECT_EQ(0, dome_store(d, 3, 4));
	EXPECT_EQ(3, d->stored[0]);
	EXPECT_EQ(4, d->stored[1]);
	EXPECT_EQ(0, dome_store(d, 3, 4));
	EXPECT_EQ(0, dome_store(d, -1, 9));
	EXPECT_EQ(-1, d->stored[0]);
	EXPECT_EQ(9, d->stored[1]);
}

TEST_F(DomeOverBlock, TolveskMovesTheType2PowerByTheMarginAtTheTeleEnd)
{
	const int32_t positions[2] = {0, 1000}, magnifications[2] = {ONE, 2 * ONE};
	zoom_object *zoom = zoom_new();
	zoom_use_tables(zoom, 2, positions, magnifications, nullptr, nullptr, 24);
	zoom_add_platform(zoom, plat);
	zoom->mech_max = 600; // maximum magnification 1.6, at position 600
	camblock_set_zoom(block, zoom);
	current = nullptr;
	dome *type2 = dome_type2_create();
	dome *tolvesk = dome_tolvesk_create(block, 16);
	int32_t q = spy_position(type2->power) - 16;
	EXPECT_EQ((std::vector<std::string>{"position of 600 " + std::to_string(type2->power) + " (disabled)",
	                                    "dioptres of 600 " + std::to_string(q) + " (disabled)"}),
	          calls);
	EXPECT_EQ((q - 2000) * 16, tolvesk->power);
	EXPECT_LT(tolvesk->power, type2->power);
	EXPECT_EQ(0, tolvesk->enabled);
	EXPECT_NE(nullptr, tolvesk->set_enabled);
	dome_destroy(type2);
	dome_destroy(tolvesk);
	camblock_set_zoom(block, nullptr);
	zoom_destroy(zoom);
}

} // namespace
