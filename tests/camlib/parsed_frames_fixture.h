// The 3A library fetching and parsing the simulated DSP's frames: one
// channel per VIN, each with a sensor the library drives, unity CFA gains
// and 1,000 rows at gain index 0 to start with.
#ifndef TESTS_CAMLIB_PARSED_FRAMES_FIXTURE_H
#define TESTS_CAMLIB_PARSED_FRAMES_FIXTURE_H

#include "aaa_parser.h"
#include "algo_fixture.h"
#include "hal_vin.h"
#include "img_channel.h"
#include "stat_fixture.h"

#include <memory>

class ParsedFrames : public AlgoOnDriver
{
      protected:
	void start(unsigned vins = 1)
	{
		start_on(board(vins));
	}
	void start_on(const simsoc_qvd_board &b)
	{
		unsigned vins = b.vin_count;
		vins_ = vins;
		use_board(b);
		bring_up();
		configure_statistics();
		qvd_system_resource res = resources();
		img_channel_vin vin[4];
		testing::internal::CaptureStdout();
		ASSERT_EQ(img_fill_channel_info(fd_, &res, info_, vin), 0);
		testing::internal::GetCapturedStdout();
		ASSERT_EQ(hal_init_channel_vsrc_mapping(fd_), 0);
		const uint32_t unity[4] = {4096, 4096, 4096, 4096};
		ASSERT_EQ(parse_aaa_set_cfa_gain(unity), 0);
		for (unsigned c = 0; c < vins; c++)
			expose(c, 1000, 0);
	}
	void expose(int chan, uint32_t rows, uint32_t index)
	{
		hal_sht_agc rec{1, {rows}, {index}};
		ASSERT_EQ(hal_set_pending_sht_agc(fd_, &rec, chan), 0);
	}
	// The next frame of every VIN, fetched and parsed.
	const aaa_parse_result &frame(int chan = 0)
	{
		for (unsigned v = vins_; v-- > 0;)
			simsoc_vin_tick(v);
		EXPECT_EQ(hal_get_aaa_stat(fd_, &st_.desc), 0);
		EXPECT_EQ(parse_aaa_data(&st_.desc, info_, res_.get()), 0);
		return res_->chan[chan];
	}
	static uint32_t frame_number(const aaa_parse_result &r)
	{
		return ((const qvd_stat_header *)r.set.header)->frame;
	}
	StatArea st_;
	channel_info info_[4]{};
	std::unique_ptr<aaa_parse_out> res_ = std::make_unique<aaa_parse_out>();
	unsigned vins_ = 1;
};

#endif
