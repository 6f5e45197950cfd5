/* RGB-to-YUV matrix and sensor information: checks, stored blocks, the
 * context records and what the low-ISO builder takes from them. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using iktest::has_msg;
using iktest::IkFixture;
using iktest::RecordingIoctl;
using iktest::StdoutCapture;

namespace
{

class IkSensorInfo : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 1, 1, 0}, {1, 1, 0, 0, 0}, {2, 1, 0, 0, 0}});
		for (uint32_t pipe = 0; pipe < 3; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
	}
	ik_ctx_body *body(uint32_t pipe)
	{
		img_dsp_ctx_id cid{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(pipe, c);
	}
};

img_dsp_rgb_to_yuv_matrix matrix(int16_t first, int16_t second, int16_t y, int16_t u, int16_t v)
{
	img_dsp_rgb_to_yuv_matrix m{{first, second, 3, 4, 5, 6, 7, 8, 9}, y, u, v};
	return m;
}

TEST_F(IkSensorInfo, MatrixClampsStoresAndWritesTheRecord)
{
	struct Case {
		const char *what;
		img_dsp_rgb_to_yuv_matrix in, want;
		int rc;
		std::vector<std::string> warnings;
	} cases[] = {
	    {"in range", matrix(-4096, 4095, -1024, -256, 255), matrix(-4096, 4095, -1024, -256, 255), 0, {}},
	    {"coefficients",
	     matrix(-5000, 5000, 0, 0, 0),
	     matrix(-4096, 4095, 0, 0, 0),
	     IMG_DSP_CLAMPED,
	     {"MatrixValues[0]=-5000 should be within [-4096:4095] in "
	      "img_dsp_core_check_set_rgb_to_yuv_matrix\n",
	      "MatrixValues[1]=5000 should be within [-4096:4095] in "
	      "img_dsp_core_check_set_rgb_to_yuv_matrix\n"}},
	    {"offsets",
	     matrix(1, 2, 2000, 300, -300),
	     matrix(1, 2, 1023, 255, -256),
	     IMG_DSP_CLAMPED,
	     {"YOffset=2000 should be within [-1024:1023] in img_dsp_core_check_set_rgb_to_yuv_matrix\n",
	      "UOffset=300 should be within [-256:255] in img_dsp_core_check_set_rgb_to_yuv_matrix\n",
	      "VOffset=-300 should be within [-256:255] in img_dsp_core_check_set_rgb_to_yuv_matrix\n"}},
	};
	for (uint32_t pipe : {0u, 1u}) {
		for (const auto &c : cases) {
			memset(body(pipe)->update_flags, 0, IK_UPDATE_FLAG_BYTES);
			img_dsp_mode m = mode(pipe, 0);
			img_dsp_rgb_to_yuv_matrix b = c.in;
			StdoutCapture out;
			EXPECT_EQ(vors_img_dsp_set_rgb_to_yuv_matrix(3, &m, &b), c.rc) << c.what;
			std::string t = out.text();
			EXPECT_EQ(memcmp(&b, &c.want, sizeof(b)), 0)
			    << c.what << ": the caller's block is corrected";
			for (const auto &w : c.warnings)
				EXPECT_TRUE(
				    has_msg(t, "[IK][Warning]img_dsp_core_check_set_rgb_to_yuv_matrix() ", w))
				    << c.what << ": " << t;
			img_dsp_rgb_to_yuv_matrix got{};
			EXPECT_EQ(vors_img_dsp_get_rgb_to_yuv_matrix(&m, &got), 0);
			EXPECT_EQ(memcmp(&got, &c.want, sizeof(got)), 0) << c.what;
			EXPECT_EQ(memcmp(&body(pipe)->sec[IK_SEC_RGB_TO_YUV].word[1], &c.want, 24), 0)
			    << c.what;
			EXPECT_TRUE(ik_flag_test(body(pipe)->update_flags, IK_UPD_RGB_TO_YUV)) << c.what;
		}
	}
}

TEST_F(IkSensorInfo, SensorInfoFillsTheRecordUnchecked)
{
	img_dsp_vin_sensor_info v{};
	v.FieldFormat = 1;
	v.Resolution = 14;
	v.Pattern = 4; /* out of range, stored without complaint */
	for (int i = 0; i < 8; i++)
		v.reserved1[i] = (uint8_t)(0xA0 + i);
	v.ReadoutMode = 0x01020304;
	v.Compression = 1;
	img_dsp_mode m = mode(1, 0);
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_vin_sensor_info(&m, &v), 0);
	EXPECT_EQ(out.text().find("[IK][Warning]"), std::string::npos);
	const uint8_t *rec = ik_sec_bytes(body(1)->sec, IK_SEC_VIN_SENSOR);
	const uint8_t want[16] = {0, 1, 14, 4, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 4, 3, 2, 1};
	EXPECT_EQ(memcmp(rec + 4, want, sizeof(want)), 0) << "block bytes 0-11, then ReadoutMode";
	EXPECT_TRUE(ik_flag_test(body(1)->update_flags, IK_UPD_VIN_SENSOR_INFO));
	img_dsp_vin_sensor_info got{};
	EXPECT_EQ(vors_img_dsp_get_vin_sensor_info(&m, &got), 0);
	EXPECT_EQ(memcmp(&got, &v, sizeof(v)), 0);
}

TEST_F(IkSensorInfo, RefusalsChangeNothing)
{
	img_dsp_rgb_to_yuv_matrix before_m{};
	img_dsp_vin_sensor_info before_v{};
	img_dsp_mode video = mode(0, 0);
	ASSERT_EQ(vors_img_dsp_get_rgb_to_yuv_matrix(&video, &before_m), 0);
	ASSERT_EQ(vors_img_dsp_get_vin_sensor_info(&video, &before_v), 0);
	img_dsp_mode decode = mode(2, 0);
	img_dsp_rgb_to_yuv_matrix b = matrix(1, 2, 3, 4, 5);
	img_dsp_vin_sensor_info v{};
	v.Pattern = 2;
	struct Case {
		const char *what;
		std::function<int()> call;
		const char *head, *tail;
	} cases[] = {
	    {"NULL matrix", [&] { return vors_img_dsp_set_rgb_to_yuv_matrix(3, &video, nullptr); },
	     "[IK][Error]img_dsp_core_check_set_rgb_to_yuv_matrix() ",
	     "p_rgb_to_yuv is NULL in img_dsp_core_check_set_rgb_to_yuv_matrix\n\n"},
	    {"NULL sensor info", [&] { return vors_img_dsp_set_vin_sensor_info(&video, nullptr); },
	     "[IK][Error]img_dsp_core_check_set_vin_sensor_info() ",
	     "p_vin_sensor_info is NULL in img_dsp_core_check_set_vin_sensor_info\n\n"},
	    {"matrix on the decode pipe", [&] { return vors_img_dsp_set_rgb_to_yuv_matrix(3, &decode, &b); },
	     "[IK][Error]img_dsp_core_check_set_rgb_to_yuv_matrix() ", "does not support pipe 2\n"},
	    {"sensor info on the decode pipe", [&] { return vors_img_dsp_set_vin_sensor_info(&decode, &v); },
	     "[IK][Error]img_dsp_core_check_set_vin_sensor_info() ", "does not support pipe 2\n"},
	    {"matrix getter, NULL", [&] { return vors_img_dsp_get_rgb_to_yuv_matrix(&video, nullptr); },
	     "[IK][Error]vors_img_dsp_get_rgb_to_yuv_matrix() ", "p_rgb_to_yuv is empty\n"},
	    {"sensor getter, NULL", [&] { return vors_img_dsp_get_vin_sensor_info(&video, nullptr); },
	     "[IK][Error]vors_img_dsp_get_vin_sensor_info() ", "pVinSensorInfo is empty\n"},
	    {"matrix getter, decode pipe", [&] { return vors_img_dsp_get_rgb_to_yuv_matrix(&decode, &b); },
	     "[IK][Error]vors_img_dsp_get_rgb_to_yuv_matrix() ", "does not support pipe 2\n"},
	    {"sensor getter, decode pipe", [&] { return vors_img_dsp_get_vin_sensor_info(&decode, &v); },
	     "[IK][Error]vors_img_dsp_get_vin_sensor_info() ", "does not support pipe 2\n"},
	};
	for (const auto &c : cases) {
		StdoutCapture out;
		EXPECT_EQ(c.call(), -1) << c.what;
		std::string t = out.text();
		EXPECT_TRUE(has_msg(t, c.head, c.tail)) << c.what << ": " << t;
	}
	img_dsp_rgb_to_yuv_matrix after_m{};
	img_dsp_vin_sensor_info after_v{};
	ASSERT_EQ(vors_img_dsp_get_rgb_to_yuv_matrix(&video, &after_m), 0);
	ASSERT_EQ(vors_img_dsp_get_vin_sensor_info(&video, &after_v), 0);
	EXPECT_EQ(memcmp(&after_m, &before_m, sizeof(after_m)), 0);
	EXPECT_EQ(memcmp(&after_v, &before_v, sizeof(after_v)), 0);
}

TEST_F(IkSensorInfo, BuiltConfigurationTakesMatrixPatternAndCompression)
{
	img_dsp_cfg_id id{0, 0, {}};
	ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
	img_dsp_mode m = mode(0, 0);
	img_dsp_size_info si{};
	si.width_in = si.main_out_width = 1920;
	si.height_in = si.main_out_height = 1080;
	ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
	img_dsp_rgb_to_yuv_matrix b = matrix(-5000, 5000, 16, 300, -300);
	img_dsp_vin_sensor_info v{};
	v.FieldFormat = 1;
	v.Resolution = 14;
	v.Pattern = 2;
	v.Compression = 1;
	RecordingIoctl::reset();
	RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	StdoutCapture quiet;
	int rc_matrix = vors_img_dsp_set_rgb_to_yuv_matrix(5, &m, &b);
	int rc_vin = vors_img_dsp_set_vin_sensor_info(&m, &v);
	int rc_post = vors_img_dsp_post_exe_cfg(5, &m);
	std::string t = quiet.text();
	ASSERT_EQ(rc_matrix, IMG_DSP_CLAMPED);
	ASSERT_EQ(rc_vin, 0);
	ASSERT_EQ(rc_post, 0) << t;
	void *c = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_config(&id, &c), 0);
	const uint8_t *cfg = (const uint8_t *)c;
	const ik_liso_main_basic &mb = ((const img_dsp_iso_cfg *)c)->main.basic;
	const int16_t want[12] = {-4096, 4095, 3, 4, 5, 6, 7, 8, 9, 16, 255, -256};
	EXPECT_EQ(memcmp((const uint8_t *)&mb.color + 120, want, sizeof(want)), 0);
	const uint8_t *common = (const uint8_t *)&mb.common;
	ASSERT_GE(common, cfg);
	EXPECT_EQ(common[0] & 1, 1) << "use_compression";
	EXPECT_EQ((common[1] >> 5) & 3, 2) << "bayer_pattern";
}

} // namespace
