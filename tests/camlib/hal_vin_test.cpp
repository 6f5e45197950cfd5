/* Video-input control against the simulated video driver: the source
 * mapping, the pending shutter/AGC split and payload, the digital-gain ratio,
 * the refusals and the service-mode requests. */
#include "hal_vin.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace
{

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Channel 0: source 2 context 1, driven; channel 1: source 5, not driven;
// channels 2 and 3 are not on the board.
class HalVin : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_vin_reset();
		simsoc_vin_set_framerate(0, 0);
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin_count = 2;
		b.vin[0].source_id = 2;
		b.vin[0].ctx_id = 1;
		b.vin[0].again_max_index = 240;
		b.vin[0].dgain_max_index = 100;
		b.vin[1] = b.vin[0];
		b.vin[1].source_id = 5;
		b.vin[1].ctx_id = 0;
		b.vin[1].sensor_ctrl = 0;
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
		fd_ = open(QVD_DEVICE, O_RDWR);
		ASSERT_GE(fd_, 0);
		ASSERT_EQ(hal_init_channel_vsrc_mapping(fd_), 0);
	}
	void TearDown() override
	{
		close(fd_);
		simsoc_qvd_reset();
		simsoc_vin_reset();
	}
	uint64_t sets()
	{
		return simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC);
	}
	int fd_ = -1;
};

TEST_F(HalVin, PendingShutterAndGainSplitByTheSourcesMaxima)
{
	struct {
		uint32_t n, agc;
		uint32_t again, dgain;
	} cases[] = {
	    {2, 300, 240, 60}, {2, 500, 240, 100}, {4, 100, 100, 0}, {1, 300, 300, 0}, {0x102, 300, 240, 60},
	};
	for (const auto &c : cases) {
		hal_sht_agc rec = {c.n, {1100, 1200, 1300, 1400}, {c.agc, c.agc, c.agc, c.agc}};
		ASSERT_EQ(hal_set_pending_sht_agc(fd_, &rec, 0), 0);
		uint32_t want[28] = {2, 1};
		for (int g = 0; g < 3; g++) {
			want[2 + 8 * g] = 2;
			want[3 + 8 * g] = 1;
			for (int i = 0; i < 4; i++)
				want[4 + 8 * g + i] = g == 0 ? rec.shutter[i] : g == 1 ? c.again : c.dgain;
		}
		uint8_t got[112];
		ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_SET_PENDING_SHT_AGC, got, sizeof got), 112u);
		EXPECT_EQ(memcmp(got, want, sizeof want), 0) << c.n << " " << c.agc;
		simsoc_vin_tick(0);
		simsoc_qvd_sensor_state s;
		ASSERT_EQ(simsoc_qvd_sensor(2, 1, &s), 0);
		EXPECT_EQ(s.pending, 0u);
		EXPECT_EQ(s.shutter[3], 1400u);
		EXPECT_EQ(s.again[0], c.again);
		EXPECT_EQ(s.dgain[0], c.dgain);
	}
	EXPECT_EQ(hal_get_last_shutter(0), 1100u);
	EXPECT_EQ(hal_get_last_agc(0), 300u);
}

TEST_F(HalVin, RefusedPendingRequestsSendNothing)
{
	hal_sht_agc rec = {2, {1000}, {300}};
	hal_sht_agc none = {0, {1000}, {300}};
	hal_sht_agc five = {5, {1000}, {300}};
	const std::string range = "should be in range [1, 4] for channel [0]\n";
	struct {
		const hal_sht_agc *rec;
		int chan;
		int rc;
		std::string out;
	} cases[] = {
	    {&none, 0, -1, "error: expo num [0] " + range},
	    {&five, 0, -1, "error: expo num [5] " + range},
	    {&rec, 4, -1, "error: illegal channel id [4].\n"},
	    {&rec, -1, -1, "error: illegal channel id [-1].\n"},
	    {&rec, 2, -1, "Not hal_init_channel_vsrc_mapping yet!\n"},
	    {&rec, 1, 0, ""},
	    {nullptr, 0, -1, "error: null pointer.\n"},
	};
	for (const auto &c : cases) {
		CaptureStdout();
		EXPECT_EQ(hal_set_pending_sht_agc(fd_, c.rec, c.chan), c.rc);
		EXPECT_EQ(GetCapturedStdout(), c.out);
	}
	EXPECT_EQ(sets(), 0u);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_GET_AGC), 0u);

	simsoc_qvd_fail(QVD_IOC_VIN_GET_AGC, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_set_pending_sht_agc(fd_, &rec, 0), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_VIN_GET_AGC: Input/output error\n");
	EXPECT_EQ(sets(), 0u);

	simsoc_qvd_fail(QVD_IOC_VIN_SET_PENDING_SHT_AGC, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_set_pending_sht_agc(fd_, &rec, 0), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_VIN_SET_PENDING_SHT_AGC error: Input/output error\n");
}

TEST_F(HalVin, DigitalGainRatioRoundTrip)
{
	uint32_t set[3] = {2048, 1000, 512};
	ASSERT_EQ(hal_set_dgain_ratio(fd_, set, 0), 0);
	uint32_t want[6] = {2, 1, 2048, 1000, 1000, 512}, sent[6];
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_SET_DGAIN_RATIO, sent, sizeof sent), sizeof sent);
	EXPECT_EQ(memcmp(sent, want, sizeof want), 0);
	uint32_t got[3] = {};
	ASSERT_EQ(hal_get_dgain_ratio(fd_, got, 0), 0);
	EXPECT_EQ(memcmp(got, set, sizeof got), 0);
	uint32_t asked[6];
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_GET_DGAIN_RATIO, asked, sizeof asked), sizeof asked);
	uint32_t blank[6] = {2, 1, 0, 0, 0, 0};
	EXPECT_EQ(memcmp(asked, blank, sizeof blank), 0);

	simsoc_qvd_fail(QVD_IOC_VIN_GET_DGAIN_RATIO, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_get_dgain_ratio(fd_, got, 0), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_VIN_GET_DGAIN_RATIO: Input/output error\n");
	EXPECT_EQ(hal_set_dgain_ratio(fd_, set, 1), 0); // not driven: nothing sent
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_DGAIN_RATIO), 1u);
}

TEST_F(HalVin, MappingFollowsTheSystemResources)
{
	simsoc_qvd_fail(QVD_IOC_GET_SYSTEM_RESOURCE, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_init_channel_vsrc_mapping(fd_), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_GET_SYSTEM_RESOURCE error\n: Input/output error\n");

	simsoc_qvd_board b;
	simsoc_qvd_default_board(&b);
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	ASSERT_EQ(hal_init_channel_vsrc_mapping(fd_), 0);
	uint32_t ratio[3] = {1, 2, 3};
	CaptureStdout();
	EXPECT_EQ(hal_set_dgain_ratio(fd_, ratio, 1), -1);
	EXPECT_EQ(GetCapturedStdout(), "Not hal_init_channel_vsrc_mapping yet!\n");
}

// A source feeding two VINs counts as two contexts only when they differ.
TEST_F(HalVin, SourceContextsOfASharedSource)
{
	struct {
		uint8_t second_ctx;
		int rc;
	} cases[] = {{0, 1}, {1, 0}};
	for (const auto &c : cases) {
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin_count = 3;
		b.vin[0].source_id = 2;
		b.vin[0].ctx_id = 1;
		b.vin[1] = b.vin[0];
		b.vin[1].source_id = 7;
		b.vin[2] = b.vin[0];
		b.vin[2].ctx_id = c.second_ctx;
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
		uint32_t mask = 0;
		EXPECT_EQ(hal_get_vsrc_contexts(fd_, 2, &mask), c.rc);
		EXPECT_EQ(mask, 0x5u);
		EXPECT_EQ(hal_get_vsrc_contexts(fd_, 7, &mask), 0);
		EXPECT_EQ(mask, 0x2u);
	}
}

TEST_F(HalVin, MultiChannelApply)
{
	EXPECT_EQ(hal_apply_multi_chan_cfg(fd_, 1), 0);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG), 0u);
	EXPECT_EQ(hal_apply_multi_chan_cfg(fd_, 3), 0);
	unsigned long mask = 0;
	simsoc_qvd_last_payload(QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG, &mask, sizeof mask);
	EXPECT_EQ(mask, 0x7ul);
	CaptureStdout();
	EXPECT_EQ(hal_apply_multi_chan_cfg(fd_, 5), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: invalid multi-channel number 5.\n");
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG), 1u);
}

TEST_F(HalVin, ServiceModeRequests)
{
	ASSERT_EQ(hal_set_shutter_only(fd_, 800, 0), 0);
	ASSERT_EQ(hal_set_agc_only(fd_, 90, 0), 0);
	simsoc_qvd_sensor_state s;
	ASSERT_EQ(simsoc_qvd_sensor(2, 1, &s), 0);
	EXPECT_EQ(s.set_shutter, 800u);
	EXPECT_EQ(s.set_agc, 90u);
	EXPECT_EQ(hal_get_last_shutter(0), 800u);
	EXPECT_EQ(hal_get_last_agc(0), 90u);
	uint32_t sent[5];
	simsoc_qvd_last_payload(QVD_IOC_VIN_SET_SHT_AGC, sent, sizeof sent);
	uint32_t want[5] = {2, 1, 0, 90, 0};
	EXPECT_EQ(memcmp(sent, want, sizeof want), 0);

	// 3 ms on the default board's rows of 30 us, in the driver's 1/512 us.
	uint32_t rows = 0;
	ASSERT_EQ(hal_shutter_to_row(fd_, 3000 * 512, &rows, 0), 0);
	EXPECT_EQ(rows, 100u);

	hal_sht_agc wdr = {2, {500, 50, 5, 0}, {300, 100, 0, 0}};
	ASSERT_EQ(hal_set_wdr_gain_shutter(fd_, &wdr, 0), 0);
	uint32_t index[4];
	ASSERT_EQ(hal_get_wdr_gain_index(fd_, index, 0), 0);
	EXPECT_EQ(index[0], 300u);
	EXPECT_EQ(index[1], 100u);
	uint64_t wrows[2];
	ASSERT_EQ(hal_get_wdr_shutter_row(fd_, wrows, 0), 0);
	EXPECT_EQ(wrows[1], 50u);

	uint32_t mask = 0;
	EXPECT_EQ(hal_get_vsrc_contexts(fd_, 2, &mask), 0);
	EXPECT_EQ(mask, 1u);

	EXPECT_EQ(hal_set_low_light_mode(fd_, 3, 0), 0);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_LOW_LIGHT_MODE), 0u);
	ASSERT_EQ(hal_set_low_light_mode(fd_, 1, 0), 0);
	ASSERT_EQ(simsoc_qvd_sensor(2, 1, &s), 0);
	EXPECT_EQ(s.low_light, 1u);

	ASSERT_EQ(hal_set_low_light_mode(fd_, 2, 0), 0);
	ASSERT_EQ(simsoc_qvd_sensor(2, 1, &s), 0);
	EXPECT_EQ(s.low_light, 0u) << "only mode 1 is on";

	uint64_t comp[2] = {0x1122334455667788ull, 9};
	ASSERT_EQ(hal_aaa_compensation(fd_, comp, 0), 0);
	uint8_t sent_comp[24];
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_AAA_COMPENSATION, sent_comp, sizeof sent_comp), 24u);
	const uint32_t head[2] = {2, 1};
	EXPECT_EQ(memcmp(sent_comp, head, 8), 0);
	EXPECT_EQ(memcmp(sent_comp + 8, comp, 16), 0);
	EXPECT_EQ(comp[0], 0x1122334455667788ull);
	EXPECT_EQ(comp[1], 9u);

	ASSERT_EQ(hal_switch_vsrc_ctx(fd_, 1, 0), 0);
	ASSERT_EQ(hal_lock_vsrc_ctx_frame_cnt(fd_, 5, 0), 0);
	EXPECT_EQ(hal_switch_vsrc_ctx(fd_, 0, 1), 0) << "not driven: nothing sent";
	ASSERT_EQ(simsoc_qvd_sensor(2, 1, &s), 0);
	EXPECT_EQ(s.switched_ctx, 1u);
	EXPECT_EQ(s.lock_frames, 5u);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SWITCH_VSRC_CTX), 1u);

	uint32_t value = 1;
	ASSERT_EQ(hal_get_sensor_reg(fd_, 0x3000, &value), 0);
	EXPECT_EQ(value, 0u);
	ASSERT_EQ(hal_set_sensor_reg(fd_, 0x3000, 0xAB), 0);
	ASSERT_EQ(hal_get_sensor_reg(fd_, 0x3000, &value), 0);
	EXPECT_EQ(value, 0xABu);
}

} // namespace
