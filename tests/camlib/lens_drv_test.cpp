// The built-in lens-driver tables: the no-lens table's refusals and the
// P-iris against the lens device model's request log.
#include "ae.h"
#include "lens_drv.h"
#include "simsoc.h"
#include "simsoc_vor_lens.h"
#include "vor_lens_ioctl.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::vector<unsigned> sleeps;

void record_sleep(unsigned us)
{
	sleeps.push_back(us);
}

std::string requests()
{
	char *r = simsoc_vor_lens_requests();
	std::string s = r ? r : "";
	free(r);
	return s;
}

class Piris : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_vor_lens_reset();
		simsoc_clear_failures();
		sleeps.clear();
		lens_piris_set_sleep(record_sleep);
	}
	void TearDown() override
	{
		CaptureStdout();
		lens_piris_deinit();
		GetCapturedStdout();
		lens_piris_set_sleep(nullptr);
		simsoc_vor_lens_reset();
		simsoc_clear_failures();
	}
	// The iris open from g(1000) to g(1400) of the exposure table over
	// `count` positions 500, 501, ...: entry k stands for 4k table steps.
	void open(uint32_t count = 101)
	{
		ASSERT_EQ(lens_piris_init(nullptr), 0);
		range_[0] = ae_iris_exposure(1000);
		range_[1] = ae_iris_exposure(1400);
		table_.clear();
		for (uint32_t k = 0; k < count; k++)
			table_.push_back((uint16_t)(500 + k));
		lens_piris_param p{range_, table_.data(), count};
		ASSERT_EQ(lens_piris_load_table(&p), 0);
		simsoc_vor_lens_clear_requests();
	}
	uint32_t range_[2] = {0, 0};
	std::vector<uint16_t> table_;
};

TEST_F(Piris, InitConfiguresResetsAndReleasesTheIris)
{
	ASSERT_EQ(lens_piris_init(nullptr), 0);
	EXPECT_EQ(requests(), "config 1\nreset 0\nconfig 0\n");
	EXPECT_EQ(simsoc_vor_lens_open_count(), 1);
	EXPECT_EQ(sleeps, std::vector<unsigned>{100000});
}

TEST_F(Piris, InitFailuresNameTheRequestAndCloseTheDevice)
{
	struct {
		unsigned long code;
		const char *line;
		const char *log;
	} cases[] = {
	    {VORS_IOC_P_IRIS_CONFIG, "VORS_IOC_P_IRIS_CONFIG Failed\n", "config 1\n"},
	    {VORS_IOC_P_IRIS_RESET, "VORS_IOC_P_IRIS_RESET Failed\n", "config 1\nreset 0\n"},
	};
	for (const auto &c : cases) {
		simsoc_vor_lens_reset();
		simsoc_vor_lens_fail(c.code, EIO, 1);
		CaptureStdout();
		EXPECT_EQ(lens_piris_init(nullptr), -1);
		EXPECT_EQ(GetCapturedStdout(), c.line);
		EXPECT_EQ(requests(), c.log);
		EXPECT_EQ(simsoc_vor_lens_open_count(), 0);
	}

	simsoc_vor_lens_reset();
	simsoc_inject_failure(VOR_LENS_DEVICE, SIMSOC_OP_OPEN, ENOENT, 1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_init(nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "OPEN LENS_DEVICE Failed\n");
	EXPECT_EQ(requests(), "");
}

TEST_F(Piris, TableLoadRefusesMissingOrUnusableParameters)
{
	uint32_t good[2] = {65536, 131072}, zero[2] = {0, 131072}, reversed[2] = {131072, 65536};
	uint16_t table[4] = {1, 2, 3, 4};
	lens_piris_param cases[] = {
	    {nullptr, table, 4}, {good, nullptr, 4}, {good, table, 0}, {zero, table, 4}, {reversed, table, 4},
	};
	for (const auto &p : cases) {
		CaptureStdout();
		EXPECT_EQ(lens_piris_load_table(&p), -1);
		EXPECT_EQ(GetCapturedStdout(), "NO_CORRECT_PIRIS_PARAM\n");
	}
	CaptureStdout();
	EXPECT_EQ(lens_piris_load_table(nullptr), -1);
	EXPECT_EQ(GetCapturedStdout(), "NO_CORRECT_PIRIS_PARAM\n");
	lens_piris_param ok{good, table, 4};
	EXPECT_EQ(lens_piris_load_table(&ok), 0);
}

TEST_F(Piris, PositionsFollowTheExposureIndex)
{
	open();
	struct {
		uint32_t table_index; // the exposure-table entry the index reads
		int pos;
	} cases[] = {
	    {900, 500},  // below the minimum: entry 0
	    {1000, 500}, // at the minimum
	    {1002, 500}, // half a position
	    {1041, 510}, // 41 table steps: 10.25 positions
	    {1399, 599},
	};
	for (const auto &c : cases) {
		simsoc_vor_lens_clear_requests();
		EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - c.table_index), c.pos) << c.table_index;
		EXPECT_EQ(requests(), "config 1\nset_pos " + std::to_string(c.pos) + "\n") << c.table_index;
		EXPECT_EQ(simsoc_vor_lens_position(), c.pos);
	}
}

TEST_F(Piris, PositionsPastTheTableOrTheIndexRangeDoNotMoveTheIris)
{
	open(50);
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1197), 549);
	simsoc_vor_lens_clear_requests();
	// The maximum maps to position 100 of a 50-entry table.
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1400), -1);
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 2000), -1);
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX + 1), -1);
	EXPECT_EQ(requests(), "");
	EXPECT_EQ(simsoc_vor_lens_position(), 549);
}

TEST_F(Piris, PositionRequestFailuresAreReported)
{
	open();
	simsoc_vor_lens_fail(VORS_IOC_P_IRIS_CONFIG, EIO, 1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1000), -1);
	EXPECT_EQ(GetCapturedStdout(), "VORS_IOC_P_IRIS_CONFIG Failed\n");
	EXPECT_EQ(requests(), "config 1\n");

	simsoc_vor_lens_clear_requests();
	simsoc_vor_lens_fail(VORS_IOC_P_IRIS_SET_POS, EIO, 1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1000), -1);
	EXPECT_EQ(GetCapturedStdout(), "VORS_IOC_P_IRIS_SET_POS Failed\n");
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1000), 500);
}

TEST_F(Piris, StateTwoDisablesTheDriver)
{
	open();
	const int script[] = {3, 3, 2};
	simsoc_vor_lens_set_states(script, 3);
	uint32_t state = 0;
	for (uint32_t want : {3u, 3u, 2u}) {
		ASSERT_EQ(lens_piris_get_state(&state), 0);
		EXPECT_EQ(state, want);
	}
	EXPECT_EQ(requests(), "get_state 3\nget_state 3\nget_state 2\nconfig 0\n");

	simsoc_vor_lens_fail(VORS_IOC_P_IRIS_GET_STATE, EIO, 1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_get_state(&state), -1);
	EXPECT_EQ(GetCapturedStdout(), "VORS_IOC_P_IRIS_GET_STATE Failed\n");
	simsoc_vor_lens_fail(VORS_IOC_P_IRIS_CONFIG, EIO, 1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_get_state(&state), -1);
	EXPECT_EQ(GetCapturedStdout(), "VORS_IOC_P_IRIS_CONFIG Failed\n");
}

TEST_F(Piris, DeinitWaitsForTheMoveThenCloses)
{
	open();
	const int script[] = {3, 3, 2};
	simsoc_vor_lens_set_states(script, 3);
	sleeps.clear();
	EXPECT_EQ(lens_piris_deinit(), 0);
	EXPECT_EQ(requests(), "get_state 3\nget_state 3\nget_state 2\nconfig 0\n");
	EXPECT_EQ(sleeps, (std::vector<unsigned>{10000, 10000}));
	EXPECT_EQ(simsoc_vor_lens_open_count(), 0);
	// The table went with it.
	EXPECT_EQ(lens_piris_set_pos(AE_IRIS_MAX - 1000), -1);
}

TEST_F(Piris, DeinitGivesUpOnAMoveThatNeverEnds)
{
	open();
	const int moving[] = {3};
	simsoc_vor_lens_set_states(moving, 1);
	sleeps.clear();
	CaptureStdout();
	EXPECT_EQ(lens_piris_deinit(), 0);
	EXPECT_EQ(GetCapturedStdout(), "P-iris still moving after 2 s, closing\n");
	EXPECT_EQ(sleeps.size(), 200u);
	EXPECT_EQ(requests().find("config"), std::string::npos);
	EXPECT_EQ(simsoc_vor_lens_open_count(), 0);

	// A failing query stops the wait too.
	open();
	simsoc_vor_lens_fail(VORS_IOC_P_IRIS_GET_STATE, EIO, -1);
	CaptureStdout();
	EXPECT_EQ(lens_piris_deinit(), 0);
	EXPECT_EQ(GetCapturedStdout(), "VORS_IOC_P_IRIS_GET_STATE Failed\n");
	EXPECT_EQ(simsoc_vor_lens_open_count(), 0);
}

TEST_F(Piris, CalibrationCheck)
{
	struct {
		uint32_t flags;
		int rc;
		const char *line;
	} cases[] = {
	    {0, 0, ""},
	    {1, -1, "NOT_NEED_FOR_THIS_LENS\n"},
	    {3, -1, "NOT_NEED_FOR_THIS_LENS\n"},
	    {2, -1, "NOT_SUPPORT_THIS_LENS_CALI\n"},
	};
	for (const auto &c : cases) {
		CaptureStdout();
		EXPECT_EQ(lens_piris_calibration_check(c.flags), c.rc);
		EXPECT_EQ(GetCapturedStdout(), c.line) << c.flags;
	}
}

TEST(LensTables, SelectionAndTheNoLensTable)
{
	EXPECT_EQ(img_lens_select_driver(1), -1);
	ASSERT_EQ(img_lens_select_driver(LENS_TYPE_NONE), 0);
	const img_lens_driver *d = img_lens_active_driver();
	EXPECT_EQ(d->init(nullptr), 0);
	EXPECT_EQ(d->focus_neg(1, 10), -1);
	EXPECT_EQ(d->focus_pos(1, 10), -1);
	EXPECT_EQ(d->zoom_neg(1, 10), -1);
	EXPECT_EQ(d->zoom_pos(1, 10), -1);
	EXPECT_EQ(d->set_iris(100), -1);
	EXPECT_EQ(d->idle(1), -1);
	uint32_t w = 0;
	EXPECT_EQ(d->focus_state(&w), -1);
	EXPECT_EQ(d->zoom_state(&w), -1);
	d->notify12();
	d->notify13();
	EXPECT_EQ(d->calibration_check, nullptr);
	EXPECT_EQ(d->load_iris_table, nullptr);
	EXPECT_EQ(d->get_iris_state, nullptr);
	EXPECT_EQ(d->deinit, nullptr);

	ASSERT_EQ(img_lens_select_driver(LENS_TYPE_PIRIS), 0);
	d = img_lens_active_driver();
	EXPECT_EQ(d->init, lens_piris_init);
	EXPECT_EQ(d->set_iris, lens_piris_set_pos);
	EXPECT_EQ(d->calibration_check, lens_piris_calibration_check);
	EXPECT_EQ(d->load_iris_table, lens_piris_load_table);
	EXPECT_EQ(d->get_iris_state, lens_piris_get_state);
	EXPECT_EQ(d->deinit, lens_piris_deinit);
	EXPECT_EQ(d->focus_pos(1, 10), -1);
	for (void *r : d->reserved)
		EXPECT_EQ(r, nullptr);
}

} // namespace
