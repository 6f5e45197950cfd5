/* Set-up shared by the HDR module's tests: channels described the way the
 * camera library describes them, the module brought up through its set-up
 * entries and init, and the per-frame inputs (exchange records, parse
 * results) at neutral values. */
#ifndef TESTS_CAMLIB_HDR_TEST_SUPPORT_H
#define TESTS_CAMLIB_HDR_TEST_SUPPORT_H

#include "aaa_parser.h"
#include "cl_aaa_block.h"
#include "img_channel.h"
#include "img_hdr_frame.h"
#include "img_hdr_params.h"
#include "img_hdr_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace hdrtest
{

struct Chan {
	uint32_t expo;
	uint32_t dsp_hdr;
	uint32_t method;
	uint32_t curve = 0;
};

/* A DSP-combined two-exposure channel of the tone family. */
inline Chan two_expo()
{
	return {2, 1, 1, 0};
}

inline std::string captured(void (*fn)())
{
	testing::internal::CaptureStdout();
	fn();
	return testing::internal::GetCapturedStdout();
}

/* The module's inputs and the set-up every test starts from. */
struct HdrRig {
	/* Describes the channels, gives them zero sensor records and tuning
	 * blocks unless the test fills them first, and runs the init. */
	void describe(const std::vector<Chan> &chans)
	{
		channel_info info[IMG_MAX_CHANNELS];
		memset(info, 0, sizeof info);
		for (size_t i = 0; i < chans.size(); i++) {
			info[i].expo_num = chans[i].expo;
			info[i].dsp_hdr = chans[i].dsp_hdr;
			info[i].hdr_method = chans[i].method;
			info[i].hdr_curve = chans[i].curve;
		}
		ASSERT_EQ(img_hdr_set_channel_info(info), 0);
		ASSERT_EQ(img_hdr_set_channel_num((int)chans.size()), 0);
		ASSERT_EQ(img_hdr_set_sensor_info(sensor.data()), 0);
		ASSERT_EQ(img_hdr_copy_iq_params(iq), 0);
		ASSERT_EQ(img_hdr_init_params(), 0);
		for (cl_aaa_block &b : blocks) {
			memset(&b, 0, sizeof b);
			for (cl_aaa_exposure &e : b.expo)
				e.dgain = 4096;
			b.wb_r_gain = b.wb_g_gain = b.wb_b_gain = 1024;
		}
		memset(fs, 0, sizeof fs);
		for (uint32_t &v : stats->valid)
			v = 1;
	}
	static uint8_t flags(int c)
	{
		return hdr_flags(c);
	}
	static void clear_flags(int c)
	{
		img_hdr_flags[c].store(0);
	}

	std::vector<uint8_t> sensor = std::vector<uint8_t>(IMG_MAX_CHANNELS * IMG_HDR_SENSOR_RECORD_SIZE);
	hdr_iq_params iq[IMG_MAX_CHANNELS] = {};
	cl_aaa_block blocks[IMG_MAX_CHANNELS];
	img_hdr_frame_settings fs[IMG_MAX_CHANNELS];
	std::unique_ptr<aaa_parse_out> stats = std::make_unique<aaa_parse_out>();
};

class HdrTest : public ::testing::Test, public HdrRig
{
};

} // namespace hdrtest

#endif
