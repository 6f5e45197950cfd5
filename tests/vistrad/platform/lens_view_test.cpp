// The lens view over real focus, zoom and camera-block records: the fields
// the status publishers read, and what a missing unit or slot reads as.
#include <gtest/gtest.h>
#include <string.h>

#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "platform/lens_view.h"

namespace
{

int32_t any_value(struct zoom_object *)
{
	return 1;
}

int32_t set_limits(struct camblock *, int32_t, int32_t)
{
	return 0;
}

struct Lens : public ::testing::Test {
	void SetUp() override
	{
		zoom = zoom_new();
		focus = focus_new();
		block = camblock_new();
	}
	void TearDown() override
	{
		camblock_destroy(block);
		focus_destroy(focus);
		zoom_destroy(zoom);
	}
	zoom_object *zoom = nullptr;
	focus_object *focus = nullptr;
	camblock *block = nullptr;
};

TEST_F(Lens, ReadsTheUnitsFields)
{
	zoom->position = 480;
	zoom->target = 500;
	zoom->pending = 1;
	focus->value = -300;
	focus->value_is_position = 1;
	focus->pending = 1;
	block->mcu.initialised = 1;
	block->mcu.distance_index_mode = 1;
	block->mcu.requested_index = 1536;
	lens_view view;
	memset(&view, 0xa5, sizeof(view));
	lens_view_read(block, zoom, focus, &view);
	EXPECT_EQ(480, view.zoom_position);
	EXPECT_EQ(500, view.zoom_target);
	EXPECT_EQ(1, view.zoom_pending);
	EXPECT_EQ(-300, view.focus_value);
	EXPECT_EQ(1, view.focus_value_is_position);
	EXPECT_EQ(1, view.focus_pending);
	EXPECT_EQ(1, view.block_initialised);
	EXPECT_EQ(1, view.block_distance_index_mode);
	EXPECT_EQ(1536, view.block_requested_index);

	memset(&view, 0xa5, sizeof(view));
	lens_view_read(nullptr, nullptr, nullptr, &view);
	EXPECT_EQ(0, view.zoom_position);
	EXPECT_EQ(0, view.zoom_target);
	EXPECT_EQ(0, view.zoom_pending);
	EXPECT_EQ(0, view.focus_value);
	EXPECT_EQ(0, view.focus_pending);
	EXPECT_EQ(0, view.block_initialised);
	EXPECT_EQ(0, view.block_distance_index_mode);
	EXPECT_EQ(0, view.block_requested_index);
	lens_view_read(block, zoom, focus, nullptr);
}

// The table needs all three slots; the limits need a block that sets them.
TEST_F(Lens, TableAndLimitsNeedTheirSlots)
{
	EXPECT_EQ(0, lens_view_zoom_has_table(nullptr));
	EXPECT_EQ(0, lens_view_zoom_has_table(zoom));
	zoom->max_magnification = any_value;
	zoom->get_max = any_value;
	EXPECT_EQ(0, lens_view_zoom_has_table(zoom));
	zoom->get_min = any_value;
	EXPECT_EQ(1, lens_view_zoom_has_table(zoom));

	int32_t near_limit = -1, far_limit = -1;
	block->mcu.near_limit = 4 * 16384;
	block->mcu.far_limit = 8192;
	EXPECT_EQ(0, lens_view_focus_limits(nullptr, &near_limit, &far_limit));
	EXPECT_EQ(0, lens_view_focus_limits(block, &near_limit, &far_limit));
	EXPECT_EQ(-1, near_limit);
	block->set_focus_limits = set_limits;
	EXPECT_EQ(1, lens_view_focus_limits(block, &near_limit, &far_limit));
	EXPECT_EQ(4 * 16384, near_limit);
	EXPECT_EQ(8192, far_limit);
}

TEST_F(Lens, SettledByteFollowsTheCall)
{
	lens_view_set_focus_settled(focus, 1);
	EXPECT_EQ(1, focus->settled);
	lens_view_set_focus_settled(focus, 0);
	EXPECT_EQ(0, focus->settled);
	lens_view_set_focus_settled(nullptr, 1);
}

} // namespace
