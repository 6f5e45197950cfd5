/* Host-function hooks. This program registers nothing before its test, so
 * the library starts with its do-nothing defaults. */
#include "ik_core.h"
#include "ik_default_tables.h"
#include "ik_math.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

TEST(IkHooks, DefaultsUntilRegisteredAndInitialised)
{
	iktest::SimRegion region(65536);
	img_dsp_arch_info arch{};
	arch.MemAddr = region.user_addr();
	arch.MemSize = region.size();
	memset(region.user(), 0xAB, region.size());
	vors_img_dsp_set_mem_addr(region.user_addr(), region.phys_addr(), region.size());

	ASSERT_EQ(vors_img_dsp_init_arch(&arch), 0);
	const uint8_t *lut = region.user() + 32 + IK_DEF_TBL_CC_LUT_A;
	EXPECT_EQ(lut[0], 0xAB) << "the default copy does nothing";
	uint8_t f[3] = {};
	img_dsp_core_calc_decimation_factors(1920, 0, f);
	EXPECT_EQ(f[1], 0) << "the default square root answers 0";
	EXPECT_EQ(f[0], 0);
	EXPECT_EQ(ik_fn()->ioctl(3, 1, nullptr), 0);

	/* Registered hooks take effect only at the next initialisation. */
	iktest::register_host_functions();
	img_dsp_core_calc_decimation_factors(1920, 0, f);
	EXPECT_EQ(f[1], 0);
	ASSERT_EQ(vors_img_dsp_deinit_arch(), 0);
	ASSERT_EQ(vors_img_dsp_init_arch(&arch), 0);
	EXPECT_EQ(lut[0], 0);
	EXPECT_EQ(lut[2], 1);
	img_dsp_core_calc_decimation_factors(1920, 0, f);
	EXPECT_EQ(f[0], 4);
	EXPECT_EQ(f[1], 4);

	iktest::RecordingIoctl::reset();
	iktest::RecordingIoctl::result = -22;
	iktest::RecordingIoctl::payload_size = 4;
	uint8_t payload[4] = {0xFF, 1, 2, 3};
	EXPECT_EQ(ik_fn()->ioctl(7, 0xC0085616, payload), -22);
	ASSERT_EQ(iktest::RecordingIoctl::calls.size(), 1u);
	EXPECT_EQ(iktest::RecordingIoctl::calls[0].fd, 7);
	EXPECT_EQ(iktest::RecordingIoctl::calls[0].request, 0xC0085616ul);
	EXPECT_EQ(iktest::RecordingIoctl::calls[0].payload, std::vector<uint8_t>(payload, payload + 4));
	vors_img_dsp_deinit_arch();
}

} // namespace
