#include <gtest/gtest.h>

#include "core/stream_map.h"

namespace
{

class StreamMap : public ::testing::Test
{
      protected:
	void TearDown() override
	{
		stream_map_free();
	}
};

TEST_F(StreamMap, WithoutMapsEveryIdComesBack)
{
	for (int32_t id : {-1, 0, 1, 256, 257, 0x0701}) {
		EXPECT_EQ(id, stream_map_param_stream(id, 3));
		EXPECT_EQ(id, stream_map_substream_by_id(id, 0));
		EXPECT_EQ(id, stream_map_substream(id, 0, 1));
		EXPECT_EQ(id, stream_map_stream_id(id, DUAL_EXPOSURE_STREAM_LONG));
	}
}

TEST_F(StreamMap, ChannelOfAStreamId)
{
	EXPECT_EQ(0, stream_id_channel(-1));
	EXPECT_EQ(0, stream_id_channel(0x00ff));
	EXPECT_EQ(1, stream_id_channel(0x0100));
	EXPECT_EQ(255, stream_id_channel(0xff01));
}

struct LayoutCase {
	const char *name;
	stream_map_constructor constructor;
	int channel;
	int32_t roles[3]; // short, long, merged
};

TEST_F(StreamMap, LayoutRoles)
{
	const LayoutCase cases[] = {
	    {"single", stream_map_new_single, 1, {256, 256, 256}},
	    {"short first", stream_map_new_dual_short_first, 1, {257, 256, 256}},
	    {"long first", stream_map_new_dual_long_first, 1, {256, 257, 256}},
	    {"paired even", stream_map_new_dual_paired, 2, {3 * 256 + 1, 512, 512}},
	    {"paired odd", stream_map_new_dual_paired, 3, {3 * 256 + 1, 512, 512}},
	};
	for (const auto &c : cases) {
		stream_map_register(c.channel, c.constructor);
		int32_t base = c.channel * 256;
		for (int role = 0; role < 3; role++)
			EXPECT_EQ(c.roles[role], stream_map_stream_id(base, role))
			    << c.name << " role " << role;
		EXPECT_EQ(base, stream_map_param_stream(base + 1, 12)) << c.name;
		EXPECT_EQ(base, stream_map_param_stream(base, 12)) << c.name;
	}
}

TEST_F(StreamMap, SubstreamsAndReplacement)
{
	stream_map_register(1, stream_map_new_dual_short_first);
	EXPECT_EQ(256, stream_map_param_stream(257, 3));
	EXPECT_EQ(257, stream_map_stream_id(256, DUAL_EXPOSURE_STREAM_SHORT));
	EXPECT_EQ(256, stream_map_stream_id(256, DUAL_EXPOSURE_STREAM_LONG));
	EXPECT_EQ(256, stream_map_substream_by_id(257, 0));
	EXPECT_EQ(258, stream_map_substream_by_id(258, 0)); // no third sub-stream
	stream_map_register(1, stream_map_new_single);
	EXPECT_EQ(257, stream_map_substream_by_id(257, 0)); // the single layout has one sub-stream
	EXPECT_EQ(256, stream_map_stream_id(256, DUAL_EXPOSURE_STREAM_SHORT));
	stream_map_register(1, nullptr);
	EXPECT_EQ(256, stream_map_stream_id(256, DUAL_EXPOSURE_STREAM_SHORT));
	stream_map_register(0, stream_map_new_single);
	EXPECT_EQ(0, stream_map_substream_by_id(-1, 0)); // -1 maps as channel 0, sub-stream 0
}

} // namespace
