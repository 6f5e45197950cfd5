// Exposure instances made from tables of the simulated sensor's law: AGC
// index i gains 10^(i x 0.09375 / 20), shutter index i is i rows, and the
// analog maximum is index 448 (42 dB in 0.09375 dB steps).
#ifndef TESTS_CAMLIB_AE_FIXTURE_H
#define TESTS_CAMLIB_AE_FIXTURE_H

#include "aaa_parser.h"
#include "ae.h"
#include "img_hdr_params.h"

#include <gtest/gtest.h>

#include <math.h>

#include <memory>
#include <vector>

constexpr uint32_t kAgcMax = 448;
constexpr uint32_t kAgcStep = 1572864; // 0.09375 dB << 24
constexpr uint32_t kSensorDb = 42;

inline uint32_t law_gain(uint32_t index)
{
	return (uint32_t)lround(4096 * pow(10.0, index * 0.09375 / 20));
}

struct AeTables {
	std::vector<uint32_t> gains;
	std::vector<uint32_t> shutter = {0, 1};
	std::vector<ae_line> lines;

	explicit AeTables(std::vector<ae_line> l) : lines(std::move(l))
	{
		for (uint32_t i = 0; i <= kAgcMax; i++)
			gains.push_back(law_gain(i));
	}
	ae_config config() const
	{
		return ae_config{
		    lines.data(),   (uint32_t)lines.size(),   gains.data(), (uint32_t)gains.size(),
		    shutter.data(), (uint32_t)shutter.size(), kSensorDb,    kAgcStep};
	}
};

// Shutter from 8 to 1024 rows, then AGC from 0 to 320 at 1024 rows.
inline std::vector<ae_line> shutter_then_agc()
{
	return {{{8, 0, 0}, {1024, 0, 0}}, {{1024, 0, 0}, {1024, 320, 0}}};
}

class AeModule : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ae_destroy_instances();
		ASSERT_EQ(ae_set_instance_num(1), 0);
		for (int c = 0; c < AE_MAX_INSTANCES; c++)
			ae_set_custom_limits(c, nullptr);
		channel_info none[AE_MAX_INSTANCES] = {};
		for (int c = 0; c < AE_MAX_INSTANCES; c++)
			none[c].follow_chan = (uint32_t)c;
		ASSERT_EQ(ae_set_channel_info(none), 0);
		// The HDR store keeps the check records of its channels only.
		ASSERT_EQ(img_hdr_set_channel_num(IMG_MAX_CHANNELS), 0);
		img_hdr_ae_check off[4] = {};
		ASSERT_EQ(img_hdr_set_ae_check(off), 0);
		ae_set_debug_level(0);
	}
	void TearDown() override
	{
		ae_destroy_instances();
		ae_set_instance_num(1);
	}
	// One instance per table set, created; stdout swallowed.
	void create(std::vector<AeTables *> tables)
	{
		std::vector<ae_config> cfgs;
		for (AeTables *t : tables)
			cfgs.push_back(t->config());
		ASSERT_EQ(ae_set_instance_num((int)tables.size()), 0);
		testing::internal::CaptureStdout();
		int rc = ae_create_instances(cfgs.data());
		std::string out = testing::internal::GetCapturedStdout();
		ASSERT_EQ(rc, 0) << out;
	}
	static std::unique_ptr<aaa_parse_out> stats()
	{
		auto s = std::make_unique<aaa_parse_out>();
		for (int c = 0; c < 4; c++) {
			s->chan[c].ae_tiles = AAA_AE_TILES;
			s->chan[c].af_tiles = AAA_AF_TILES;
			s->valid[c] = 1;
		}
		return s;
	}
	// Every exposure tile of the channel at one luma (14-bit scale).
	static void uniform(aaa_parse_result *r, uint32_t luma)
	{
		for (auto &t : r->set.ae)
			t = aaa_ae_tile{luma, luma};
	}
};

#endif
