// The CS-mount lens block: fields of view and focal length from its section
// and from StabilizerFocalLength, and nothing else answered.

#include "core/param_map.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "optics_fixture.h"

namespace
{

const int32_t q14 = 1 << 14;

class CamblockCsTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(0, param_map_init());
		OpticsTest::SetUp();
	}
	void TearDown() override
	{
		OpticsTest::TearDown();
		param_map_free();
	}
	static int32_t param(uint32_t id)
	{
		int32_t value = -12345;
		param_get_int(id, 0, &value);
		return value;
	}
	static void deliver()
	{
		while (param_changes_pending())
			param_distribute_callback_one_change();
	}
	camblock *create()
	{
		auto *block = static_cast<camblock *>(camblock_cs(conf_, engine_, 0));
		deliver();
		return block;
	}
};

TEST_F(CamblockCsTest, WithoutSectionTheBlockPublishesTheWideDefaults)
{
	camblock *block = create();
	ASSERT_NE(nullptr, block);
	EXPECT_EQ(block, platform_get_camblock(plat_, 0));
	EXPECT_EQ(1u, block->type);
	ASSERT_NE(nullptr, block->zoom);
	ASSERT_NE(nullptr, block->focus);
	EXPECT_EQ(FOCUS_ZOOM_TYPE_FIXED, block->zoom->type);
	EXPECT_EQ(FOCUS_ZOOM_TYPE_FIXED, block->focus->type);
	EXPECT_EQ(nullptr, block->iris);
	char *type = param_convert_int_to_enum(159, 0, param(159));
	EXPECT_STREQ("cs", type);
	g_free(type);
	EXPECT_EQ(100 * q14, param(89));
	EXPECT_EQ(68 * q14, param(90));
	uint32_t h = 7, v = 7;
	EXPECT_EQ(-3, camblock_get_current_fov(block, &h, &v, q14));
	EXPECT_EQ(7u, h);
	EXPECT_EQ(0, camblock_get_current_focal_length(block));
	EXPECT_EQ("", log_.text(DEBUG_ERROR));
}

TEST_F(CamblockCsTest, OtherDispatchersAnswerMissing)
{
	camblock *block = create();
	ASSERT_NE(nullptr, block);
	optics_state state = {};
	int value = 0;
	EXPECT_EQ(-3, camblock_start_init(block));
	EXPECT_EQ(-3, camblock_read_register(block, 0x00C));
	EXPECT_EQ(-3, camblock_write_register(block, 0x100, 1));
	EXPECT_EQ(-3, camblock_set_distance_index(block, 0));
	EXPECT_EQ(-3, camblock_poll(block, &state));
	EXPECT_EQ(0, camblock_get_lens_temperature(block, &value));
	EXPECT_EQ(0, camblock_focal_length_at_focus_position(block, 0, 0));
	EXPECT_EQ(-3, camblock_dioptres_to_distance_index(block, 0, 0));
}

TEST_F(CamblockCsTest, SettingsArePublishedAndZeroesLeftAlone)
{
	section("camblock_cs", {{"zoom_cur_hfov", "90.5"},
	                        {"zoom_cur_vfov", "51.25"},
	                        {"zoom_wide_hfov", "110.0"},
	                        {"zoom_tele_hfov", "30.0"},
	                        {"zoom_tele_vfov", "0"},
	                        {"move_capabilities", "5"},
	                        {"eis_focal_length", "4000"}});
	int32_t tele_vfov = param(92);
	camblock *block = create();
	ASSERT_NE(nullptr, block);
	EXPECT_EQ(110 * q14, param(89));
	EXPECT_EQ(68 * q14, param(90));
	EXPECT_EQ(30 * q14, param(91));
	EXPECT_EQ(tele_vfov, param(92));
	EXPECT_EQ(5, param(103));
	EXPECT_EQ(4000, param(140));
	uint32_t h = 0, v = 0;
	EXPECT_EQ(0, camblock_get_current_fov(block, &h, &v, 2 * q14));
	EXPECT_EQ((uint32_t)(90.5 * q14), h);
	EXPECT_EQ((uint32_t)(51.25 * q14), v);
	EXPECT_EQ(65536, camblock_get_current_focal_length(block));
	EXPECT_EQ(1, block->zoom->position);
}

TEST_F(CamblockCsTest, FocalLengthFollowsTheParameterUntilDestroyed)
{
	ASSERT_EQ(0, param_set_int(140, 0, 2500));
	deliver();
	camblock *block = create();
	ASSERT_NE(nullptr, block);
	EXPECT_EQ(40960, camblock_get_current_focal_length(block)); // read at creation
	EXPECT_EQ(0, block->zoom->position);
	param_set_int(140, 0, 4000);
	deliver();
	EXPECT_EQ(65536, camblock_get_current_focal_length(block));
	param_set_int(140, 0, 1);
	deliver();
	EXPECT_EQ(16, camblock_get_current_focal_length(block)); // 16.384 rounded
	EXPECT_EQ(2, block->zoom->position);

	// Destroy takes its callback back: later changes reach no freed block.
	block->destroy(block);
	EXPECT_EQ(nullptr, block->zoom);
	EXPECT_EQ(nullptr, block->focus);
	block->destroy = nullptr;
	param_set_int(140, 0, 8000);
	deliver();
	EXPECT_EQ(16, camblock_get_current_focal_length(block));
}

} // namespace
