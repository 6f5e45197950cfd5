/* RGB-IR sensors: settings, the per-channel linearisation tables, the
 * Bayer-code split and the IR-format defect maps. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_helpers.h"
#include "ik_test_support.h"
#include "ik_video_still_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using iktest::has_msg;
using iktest::StdoutCapture;

namespace
{

typedef std::vector<uint8_t> Bytes;

class IkRgbIr : public iktest::IkVideoStill
{
      protected:
	void SetUp() override
	{
		IkVideoStill::SetUp();
		/* the command's eight tables in the buffer block's spare room */
		scratch_ = (uint8_t *)(uintptr_t)((ik_ctx_head *)ctx_)->buf[0] + IK_VBUF_CA_WARP_RED_1;
		memset(cmd_, 0, sizeof(cmd_));
		for (unsigned k = 0; k < 8; k++) {
			uint32_t p = region_->phys_of(table(k));
			memcpy(cmd_ + 40 + 4 * k, &p, 4);
		}
		memset(scratch_, 0xAA, 8 * 736);
		for (unsigned k = 4; k < 8; k++)
			memset(table(k), 0, 706);
	}
	uint8_t *table(unsigned k) const
	{
		return scratch_ + 736 * k;
	}
	/* entry i of the hdrblend table of slot k */
	uint32_t entry(unsigned k, unsigned i) const
	{
		const uint8_t *t = table(4 + k);
		unsigned bit = 12 * i;
		uint32_t v = t[bit / 8] | (uint32_t)t[bit / 8 + 1] << 8;
		return (v >> (bit % 8)) & 0xFFFu;
	}
	unsigned shift(unsigned k, unsigned g) const
	{
		unsigned f = 8 * k + g;
		uint16_t w;
		memcpy(&w, cmd_ + 26 + 2 * (f / 5), 2);
		return (w >> (3 * (f % 5))) & 7u;
	}
	int linearise(uint16_t f, uint32_t r_gain, uint8_t pattern, uint8_t ir_mode = 1,
	              uint32_t b_gain = 4096)
	{
		img_dsp_rgb_ir ir{ir_mode, 0, f};
		const uint32_t gains[3] = {r_gain, 4096, b_gain};
		int32_t work[2 * IMG_DSP_AMP_LINEAR_ENTRIES];
		return img_dsp_core_rgb_ir_amp_linearization(&ir, 0, gains, pattern, work, cmd_);
	}
	uint8_t *scratch_ = nullptr;
	uint8_t cmd_[76];
};

TEST_F(IkRgbIr, SettingsAreReportedNotCorrected)
{
	struct Case {
		uint8_t mode;
		uint16_t f;
		int rc;
		const char *warning;
	} cases[] = {
	    {0, 1000, 0, nullptr},
	    {1, 512, 0, nullptr},
	    {3, 100, IMG_DSP_CLAMPED, "mode = 3 should be within [0:2] in img_dsp_check_set_rgb_ir\n"},
	    {2, 513, IMG_DSP_CLAMPED,
	     "fractional_correct = 513 should be within [0:512] in img_dsp_check_set_rgb_ir\n"},
	};
	for (const auto &c : cases) {
		memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
		img_dsp_rgb_ir ir{c.mode, 0, c.f};
		StdoutCapture out;
		int rc = vors_img_dsp_set_rgb_ir(1, &m_, &ir);
		std::string t = out.text();
		EXPECT_EQ(rc, c.rc) << (int)c.mode;
		if (c.warning)
			EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_rgb_ir() ", c.warning))
			    << t;
		else
			EXPECT_EQ(t.find("[IK]["), std::string::npos) << t;
		img_dsp_rgb_ir got{};
		ASSERT_EQ(vors_img_dsp_get_rgb_ir(&m_, &got), 0);
		EXPECT_EQ(got.mode, c.mode);
		EXPECT_EQ(got.fractional_correct, c.f);
		EXPECT_TRUE(ik_flag_test(body_->update_flags, IK_UPD_RGB_IR));
	}

	img_dsp_rgb_ir_internal in{20000, {}};
	StdoutCapture out;
	int rc = vors_img_dsp_set_rgb_ir_internal(1, &m_, &in);
	std::string t = out.text();
	EXPECT_EQ(rc, 0);
	EXPECT_TRUE(has_msg(t, "[IK][Warning]img_dsp_core_process_rgb_ir_internal() ",
	                    "saturation_cntrl = 20000 should be within [0:16383] in "
	                    "img_dsp_check_set_rgb_ir_internal\n"));
	img_dsp_rgb_ir_internal got{};
	ASSERT_EQ(vors_img_dsp_get_rgb_ir_internal(&m_, &got), 0);
	EXPECT_EQ(got.saturation_cntrl, 20000u);
	EXPECT_TRUE(ik_flag_test(body_->update_flags, IK_UPD_RGB_IR_INTERNAL));
}

TEST_F(IkRgbIr, SettingRefusals)
{
	img_dsp_mode still = mode(1, 0);
	img_dsp_rgb_ir ir{1, 0, 256};
	img_dsp_rgb_ir_internal in{1, {}};
	StdoutCapture out;
	int rc[6] = {vors_img_dsp_set_rgb_ir(1, &m_, nullptr),
	             vors_img_dsp_set_rgb_ir(1, &still, &ir),
	             vors_img_dsp_set_rgb_ir_internal(1, &m_, nullptr),
	             vors_img_dsp_set_rgb_ir_internal(1, &still, &in),
	             vors_img_dsp_get_rgb_ir(&m_, nullptr),
	             vors_img_dsp_get_rgb_ir(&still, &ir)};
	std::string t = out.text();
	for (int r : rc)
		EXPECT_EQ(r, -1);
	EXPECT_TRUE(has_msg(t, "[IK][Error]img_dsp_core_process_rgb_ir() ",
	                    "p_rgb_ir is NULL in img_dsp_check_set_rgb_ir\n\n"));
	EXPECT_TRUE(
	    has_msg(t, "[IK][Error]img_dsp_core_process_rgb_ir_internal() ", "does not support pipe 1\n"));
	EXPECT_EQ(Bytes(body_->update_flags, body_->update_flags + IK_UPDATE_FLAG_BYTES),
	          Bytes(IK_UPDATE_FLAG_BYTES, 0));
	EXPECT_EQ(Bytes(body_->blk.rgb_ir, body_->blk.rgb_ir + 8), Bytes(8, 0));
}

TEST_F(IkRgbIr, BayerCodes)
{
	uint8_t pattern = 9, ir = 9;
	EXPECT_EQ(vors_img_dsp_get_rgb_ir_bayer_pattern(11, &pattern, &ir), 0);
	EXPECT_EQ(pattern, 3);
	EXPECT_EQ(ir, 2);
	EXPECT_EQ(vors_img_dsp_get_rgb_ir_bayer_pattern(4, &pattern, &ir), 0);
	EXPECT_EQ(pattern, 0);
	EXPECT_EQ(ir, 1);
	StdoutCapture out;
	int rc12 = vors_img_dsp_get_rgb_ir_bayer_pattern(12, &pattern, &ir);
	int rc_null = vors_img_dsp_get_rgb_ir_bayer_pattern(1, nullptr, &ir);
	std::string t = out.text();
	EXPECT_EQ(rc12, -1);
	EXPECT_EQ(rc_null, -1);
	EXPECT_NE(t.find("invalid input param: sensor_drv_bayer = 12, p_bayer = "), std::string::npos) << t;
	EXPECT_EQ(pattern, 0) << "nothing written";
}

TEST_F(IkRgbIr, LinearisationOff)
{
	uint8_t before[76];
	memcpy(before, cmd_, sizeof(before));
	EXPECT_EQ(linearise(1000, 4096, 0, 0), 0);
	EXPECT_EQ(memcmp(before, cmd_, sizeof(before)), 0);
	EXPECT_EQ(table(0)[0], 0xAA);
}

TEST_F(IkRgbIr, LinearisationTables)
{
	/* at the break point without gain every colour is linear at zero */
	ASSERT_EQ(linearise(256, 4096, 0), 0);
	EXPECT_EQ(Bytes(cmd_ + 4, cmd_ + 12), (Bytes{0, 1, 1, 1, 0, 1, 0, 0}));
	for (unsigned k = 0; k < 4; k++) {
		EXPECT_EQ(Bytes(table(k), table(k) + 706), Bytes(706, 0)) << "amplinear tables zeroed";
		EXPECT_EQ(Bytes(table(4 + k), table(4 + k) + 706), Bytes(706, 0));
	}
	EXPECT_EQ(Bytes(cmd_ + 12, cmd_ + 40), Bytes(28, 0));

	/* R, Gr, Gb, B sit in slots (0,1,2,3), (3,2,1,0), (1,0,3,2), (2,3,0,1);
	 * red and blue carry gains of their own, both greens unit gain */
	for (uint8_t pattern = 0; pattern < 4; pattern++) {
		for (unsigned k = 4; k < 8; k++)
			memset(table(k), 0, 706);
		ASSERT_EQ(linearise(512, 8192, pattern, 1, 16384), 0);
		static const unsigned slots[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 0, 3, 2}, {2, 3, 0, 1}};
		unsigned r = slots[pattern][0], b = slots[pattern][3];
		const unsigned want[8] = {0, 0, 0, 0, 1, 2, 3, 4};
		for (unsigned g = 0; g < 8; g++) {
			EXPECT_EQ(shift(r, g), want[g]) << (int)pattern << " " << g;
			EXPECT_EQ(shift(b, g), want[g]) << (int)pattern << " " << g;
		}
		EXPECT_EQ(entry(r, 200), 10657u >> 2);
		EXPECT_EQ(entry(r, 352), 36513u >> 4);
		EXPECT_EQ(entry(r, 100), 2306u);
		EXPECT_EQ(entry(b, 200), 11986u >> 2);
		EXPECT_EQ(entry(b, 352), 50770u >> 4);
		for (unsigned green : {slots[pattern][1], slots[pattern][2]}) {
			EXPECT_EQ(entry(green, 352), 8000u >> 1) << "greens at unit gain";
			EXPECT_EQ(shift(green, 7), 1u);
		}
	}
	/* nearly ten times gain still counts in 64 bits */
	for (unsigned k = 4; k < 8; k++)
		memset(table(k), 0, 706);
	ASSERT_EQ(linearise(512, 40000, 0), 0);
	EXPECT_EQ(entry(0, 352), 59187u >> 4);
}

TEST_F(IkRgbIr, DefectMapsFromMasks)
{
	std::vector<uint8_t> main(256, 0xAA), ir(256, 0xAA);
	ASSERT_EQ(vors_img_dsp_generate_ir_format_sbp_table(0, 1, 16, 4, nullptr, main.data(), ir.data()), 0);
	const uint8_t want[4] = {0x44, 0x22, 0x11, 0x88};
	for (unsigned y = 0; y < 4; y++) {
		EXPECT_EQ(main[32 * y], want[y]) << y;
		EXPECT_EQ(main[32 * y + 1], want[y]) << y;
	}
	EXPECT_EQ(Bytes(ir.begin(), ir.begin() + 64), Bytes(64, 0)) << "no sensor map: the IR map is clear";
	EXPECT_EQ(ir[64], 0xAA);
	EXPECT_EQ(main[128], 0xAA);

	std::fill(main.begin(), main.end(), 0xAA);
	ASSERT_EQ(vors_img_dsp_generate_ir_format_sbp_table(0, 1, 1, 2, nullptr, main.data(), ir.data()), 0);
	EXPECT_EQ(main[32], 0x00) << "a one-pixel row is still 32 bytes";
	EXPECT_EQ(main[64], 0xAA);
	std::fill(main.begin(), main.end(), 0xAA);
	EXPECT_EQ(vors_img_dsp_generate_ir_format_sbp_table(0, 1, 16, 0, nullptr, main.data(), ir.data()), 0);
	EXPECT_EQ(main[0], 0xAA);

	struct Bad {
		uint32_t pattern, ir_mode;
		bool null_main, null_ir;
	} bad[] = {{0, 0, false, false},
	           {0, 3, false, false},
	           {4, 1, false, false},
	           {0, 1, true, false},
	           {0, 1, false, true}};
	for (const auto &b : bad) {
		StdoutCapture out;
		int rc = vors_img_dsp_generate_ir_format_sbp_table(b.pattern, b.ir_mode, 16, 4, nullptr,
		                                                   b.null_main ? nullptr : main.data(),
		                                                   b.null_ir ? nullptr : ir.data());
		std::string t = out.text();
		EXPECT_EQ(rc, -1) << b.pattern << " " << b.ir_mode;
		EXPECT_NE(t.find("invalid input param: p_main_out: "), std::string::npos) << t;
		EXPECT_EQ(main[0], 0xAA);
	}
}

TEST_F(IkRgbIr, DefectMapsFromASensorMap)
{
	/* record 0: IR pixels at odd rows and columns; the pixel at row 1,
	 * column 3 follows its upper-left neighbour */
	struct Case {
		unsigned x, y;
		uint8_t row1, ir0;
	} cases[] = {
	    {3, 1, 0x2A, 0x0C}, /* marked itself, and an IR-row pixel */
	    {2, 0, 0x2A, 0x00}, /* marks its lower-right neighbour by correction */
	    {6, 3, 0x22, 0x00},
	};
	for (const auto &c : cases) {
		std::vector<uint8_t> sensor(128, 0), main(128, 0xAA), ir(64, 0xAA);
		sensor[32 * c.y + c.x / 8] = (uint8_t)(1u << (c.x % 8));
		ASSERT_EQ(vors_img_dsp_generate_ir_format_sbp_table(0, 1, 16, 4, sensor.data(), main.data(),
		                                                    ir.data()),
		          0);
		EXPECT_EQ(main[32], c.row1) << c.x << "," << c.y;
		EXPECT_EQ(ir[0], c.ir0) << c.x << "," << c.y;
		EXPECT_EQ(main[32 * c.y + c.x / 8] & (1u << (c.x % 8)), 1u << (c.x % 8))
		    << "the sensor's own mark";
	}
}

} // namespace
