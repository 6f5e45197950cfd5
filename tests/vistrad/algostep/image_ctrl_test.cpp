// The image-control step: user settings through its parameter callbacks to
// the camera library (wrapped, libcl_fake.h) and the video input (the libtvx
// stand-in).
#include <string>
#include <vector>

#include "algostep/image_ctrl.h"
#include "libcl_fake.h"
#include "step_fixture.h"
#include "tvx_sim.h"

namespace
{

enum {
	BRIGHTNESS = 3,
	COLOR_LEVEL = 4,
	SHARPNESS = 20,
	WHITE_BALANCE = 21,
	STABILIZER = 138,
	AUTO_ROTATION_ENABLED = 165,
	AUTO_ROTATION = 166,
	SOURCE_ROTATION = 175,
	ROTATION = 176,
};

class ImageCtrl : public StepFixture
{
      protected:
	void SetUp() override
	{
		StepFixture::SetUp();
		tvx_sim_reset();
		settings = {};
		settings.fixed_outdoor1[0] = 1100, settings.fixed_outdoor1[1] = 1024,
		settings.fixed_outdoor1[2] = 900;
		settings.fixed_outdoor2[0] = 1200, settings.fixed_outdoor2[1] = 1024,
		settings.fixed_outdoor2[2] = 800;
		settings.fixed_indoor[0] = 700, settings.fixed_indoor[1] = 1024,
		settings.fixed_indoor[2] = 1500;
		settings.fixed_fluorescent1[0] = 850, settings.fixed_fluorescent1[1] = 1020,
		settings.fixed_fluorescent1[2] = 1300;
		settings.fixed_fluorescent2[0] = 950, settings.fixed_fluorescent2[1] = 1030,
		settings.fixed_fluorescent2[2] = 1250;
	}
	void TearDown() override
	{
		if (step)
			algo_step_destroy(step, engine);
		StepFixture::TearDown();
	}
	// Creates the step on stream 0 and runs its init.
	int start()
	{
		auto *data = g_new0(qorex_image_ctrl_data, 1);
		data->settings = &settings;
		step = algo_step_create_stream_id(0, qorex_image_ctrl_init, qorex_image_ctrl_run,
		                                  qorex_image_ctrl_destroy, data);
		return step->init(step, engine);
	}
	void set(uint32_t id, int32_t value)
	{
		ASSERT_EQ(0, param_set_int(id, 0, value));
		deliver();
	}
	qorex_image_ctrl_settings settings;
	algo_step *step = nullptr;
};

struct Conversion {
	uint32_t param;
	int32_t value;
	std::string call;
};

TEST_F(ImageCtrl, ConversionsReachTheCameraLibrary)
{
	const Conversion cases[] = {
	    {BRIGHTNESS, 0, "set_brightness_ctrl(0,-100)"},   {BRIGHTNESS, 50, "set_brightness_ctrl(0,0)"},
	    {BRIGHTNESS, 100, "set_brightness_ctrl(0,100)"},  {COLOR_LEVEL, 0, "set_saturation_ctrl(0,0)"},
	    {COLOR_LEVEL, 50, "set_saturation_ctrl(0,64)"},   {COLOR_LEVEL, 51, "set_saturation_ctrl(0,67)"},
	    {COLOR_LEVEL, 100, "set_saturation_ctrl(0,255)"}, {SHARPNESS, 0, "set_sharpness_ctrl(0,0)"},
	    {SHARPNESS, 50, "set_sharpness_ctrl(0,6)"},       {SHARPNESS, 100, "set_sharpness_ctrl(0,11)"},
	};
	ASSERT_EQ(0, start());
	for (const Conversion &c : cases) {
		param_set_int(c.param, 0, c.value == 0 ? 1 : 0); // a change either way
		deliver();
		fake_cl.calls.clear();
		set(c.param, c.value);
		EXPECT_EQ(std::vector<std::string>{c.call}, fake_cl.lines()) << c.param << "=" << c.value;
	}
}

TEST_F(ImageCtrl, InitAppliesTheCurrentValuesOnce)
{
	param_set_int(BRIGHTNESS, 0, 0);
	param_set_int(COLOR_LEVEL, 0, 51);
	param_set_int(SHARPNESS, 0, 100);
	param_set_int(WHITE_BALANCE, 0, 3);
	param_clear_changes();
	ASSERT_EQ(0, start());
	EXPECT_EQ((std::vector<std::string>{"get_aaa_state(0)", "set_aaa_state(0,0,1,7,9)",
	                                    "set_brightness_ctrl(0,-100)", "set_saturation_ctrl(0,67)",
	                                    "set_sharpness_ctrl(0,11)"}),
	          fake_cl.lines());
}

// Flow (-1: untouched), gains (empty: none) and hold_awb per mode.
struct WbCase {
	int32_t mode;
	int32_t flow;
	std::string gains;
	uint32_t hold;
};

TEST_F(ImageCtrl, WhiteBalanceModes)
{
	const WbCase cases[] = {
	    {0, 0, "", 0},
	    {1, 10, "", 1},
	    {2, 10, "", 1},
	    {3, -1, "", 1},
	    {4, -1, "", 0},
	    {5, 10, "1100,1024,900", 1},
	    {6, 10, "1100,1024,900", 1},
	    {7, 10, "1200,1024,800", 1},
	    {8, 10, "700,1024,1500", 1},
	    {9, 10, "850,1020,1300", 1},
	    {10, 10, "850,1020,1300", 1},
	    {11, 10, "950,1030,1250", 1},
	    {12, 10, "", 1},
	    {13, 10, "", 1},
	    {14, 10, "", 1},
	};
	ASSERT_EQ(0, start());
	for (const WbCase &c : cases) {
		param_set_int(WHITE_BALANCE, 0, c.mode == 0 ? 4 : 0);
		deliver();
		fake_cl.calls.clear();
		fake_cl.state = {1, c.hold ? 0u : 1u, {5, 6}};
		set(WHITE_BALANCE, c.mode);
		std::vector<std::string> want = {"get_aaa_state(0)"};
		if (c.flow >= 0)
			want.push_back("set_awb_flow(0," + std::to_string(c.flow) + ")");
		if (!c.gains.empty())
			want.push_back("set_wb_gains(0," + c.gains + ")");
		want.push_back("set_aaa_state(0,1," + std::to_string(c.hold) + ",5,6)");
		EXPECT_EQ(want, fake_cl.lines()) << "mode " << c.mode;
	}
}

TEST_F(ImageCtrl, WhiteBalanceFailuresChangeNothingFurther)
{
	ASSERT_EQ(0, start());
	algo_step *block = step;
	param_value v = {};
	v.id = WHITE_BALANCE;
	v.value = 5;

	fake_cl.calls.clear();
	fake_cl.fail("get_aaa_state");
	EXPECT_EQ(-1, qorex_image_ctrl_white_balance_cb(engine, &block, &v, nullptr));
	EXPECT_EQ(std::vector<std::string>{"get_aaa_state(0)"}, fake_cl.lines());

	fake_cl.calls.clear();
	fake_cl.failing.clear();
	fake_cl.fail("set_wb_gains");
	EXPECT_EQ(-1, qorex_image_ctrl_white_balance_cb(engine, &block, &v, nullptr));
	EXPECT_TRUE(fake_cl.lines("set_aaa_state").empty());

	fake_cl.failing.clear();
	fake_cl.fail("set_aaa_state");
	EXPECT_EQ(-1, qorex_image_ctrl_white_balance_cb(engine, &block, &v, nullptr));

	// A value outside the enumeration names nothing.
	fake_cl.failing.clear();
	fake_cl.calls.clear();
	log.clear();
	v.value = 15;
	EXPECT_EQ(-1, qorex_image_ctrl_white_balance_cb(engine, &block, &v, nullptr));
	EXPECT_NE(std::string::npos,
	          log.text(DEBUG_ERROR).find("qorex_image_ctrl_white_balance_cb: param value is NULL\n"));
	EXPECT_TRUE(fake_cl.calls.empty());
}

TEST_F(ImageCtrl, StabilizerDemoEnablesAndInitNeverDisables)
{
	param_set_int(STABILIZER, 0, 0);
	ASSERT_EQ(0, start());
	EXPECT_EQ("(none)", tvx_setting("eis_enable_input0"));
	set(STABILIZER, 2);
	EXPECT_EQ("true", tvx_setting("eis_enable_input0"));
	set(STABILIZER, 0);
	EXPECT_EQ("false", tvx_setting("eis_enable_input0"));

	algo_step_destroy(step, engine);
	step = nullptr;
	param_set_int(STABILIZER, 0, 2);
	param_clear_changes();
	ASSERT_EQ(0, start());
	EXPECT_EQ("true", tvx_setting("eis_enable_input0"));
}

TEST_F(ImageCtrl, RotationIgnoredWithoutSourceRotation)
{
	param_set_int(SOURCE_ROTATION, 0, 0);
	param_set_int(ROTATION, 0, 1);
	param_clear_changes();
	ASSERT_EQ(0, start());
	set(ROTATION, 2);
	EXPECT_EQ("(none)", tvx_setting("rotation_input0"));
}

TEST_F(ImageCtrl, AutoRotationOverridesRotationUntilSwitchedOff)
{
	param_set_int(SOURCE_ROTATION, 0, 1);
	param_set_int(ROTATION, 0, 1);
	param_set_int(AUTO_ROTATION_ENABLED, 0, 0);
	param_set_int(AUTO_ROTATION, 0, 0);
	param_clear_changes();
	ASSERT_EQ(0, start());
	EXPECT_EQ("uint32 90", tvx_setting("rotation_input0"));

	set(AUTO_ROTATION, 270); // disabled: no effect
	EXPECT_EQ("uint32 90", tvx_setting("rotation_input0"));
	set(AUTO_ROTATION_ENABLED, 1);
	EXPECT_EQ("uint32 270", tvx_setting("rotation_input0"));
	set(AUTO_ROTATION, 180); // degrees as they are
	EXPECT_EQ("uint32 180", tvx_setting("rotation_input0"));
	set(AUTO_ROTATION_ENABLED, 0);
	EXPECT_EQ("uint32 90", tvx_setting("rotation_input0"));
	set(ROTATION, 3);
	EXPECT_EQ("uint32 270", tvx_setting("rotation_input0"));
}

TEST_F(ImageCtrl, RotationFailureIsLogged)
{
	param_set_int(SOURCE_ROTATION, 0, 1);
	param_set_int(ROTATION, 0, 0);
	param_clear_changes();
	ASSERT_EQ(0, start());
	tvx_sim_fail("input_set_settings", -1, TRUE);
	log.clear();
	set(ROTATION, 2);
	EXPECT_NE(std::string::npos,
	          log.text(DEBUG_ERROR)
	              .find("qorex_image_ctrl_source_rotation_cb: Failed to set rotation value\n"));
	tvx_sim_fail("input_set_settings", 0, TRUE);
}

TEST_F(ImageCtrl, DestroyUnregistersEveryCallback)
{
	param_set_int(SOURCE_ROTATION, 0, 1);
	param_set_int(AUTO_ROTATION_ENABLED, 0, 1);
	param_clear_changes();
	ASSERT_EQ(0, start());
	auto *data = static_cast<qorex_image_ctrl_data *>(algo_step_get_local_data(step));
	EXPECT_EQ(8u, g_list_length(data->callbacks));
	algo_step_destroy(step, engine);
	step = nullptr;
	fake_cl.calls.clear();
	tvx_sim_reset();
	for (uint32_t id : {BRIGHTNESS, COLOR_LEVEL, SHARPNESS, WHITE_BALANCE, ROTATION, AUTO_ROTATION})
		param_set_int(id, 0, 3);
	deliver();
	EXPECT_TRUE(fake_cl.calls.empty());
	EXPECT_EQ("(none)", tvx_setting("rotation_input0"));
}

TEST_F(ImageCtrl, InitNeedsPlatformAndLocalData)
{
	algo_step *bare = algo_step_create_stream_id(0, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(-1, qorex_image_ctrl_init(bare, engine));
	EXPECT_EQ(-1, qorex_image_ctrl_destroy(bare, engine));
	algo_step_destroy(bare, engine);
	ASSERT_EQ(0, start());
	EXPECT_EQ(-1, qorex_image_ctrl_init(step, nullptr));
}

} // namespace
