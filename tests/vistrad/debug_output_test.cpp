#include <gtest/gtest.h>

#include <stdlib.h>
#include <syslog.h>

#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"

namespace
{

std::vector<std::pair<int, std::string>> syslogged;

void fake_syslog(int priority, const char *format, va_list args)
{
	char buf[512];
	vsnprintf(buf, sizeof(buf), format, args);
	syslogged.emplace_back(priority, buf);
}

class MemFile
{
      public:
	MemFile() : fd_(memfd_create("sink", 0)) {}
	~MemFile()
	{
		close(fd_);
	}
	int fd() const
	{
		return fd_;
	}
	std::string text() const
	{
		return memfd_text(fd_);
	}

      private:
	int fd_;
};

class DebugOutput : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		debug_output_init();
		syslogged.clear();
		debug_output_set_syslog(fake_syslog);
	}
	void TearDown() override
	{
		debug_output_free();
		debug_output_set_syslog(nullptr);
	}
	MemFile a, b;
};

TEST_F(DebugOutput, WritesOncePerLevelNamedInTheMask)
{
	ASSERT_EQ(0, debug_output_set_sinks(1 | 2, DEBUG_OUTPUT_SINK_FD, a.fd()));
	EXPECT_EQ(0, debug_output(1 | 2, 0, "n=%d\n", 7));
	EXPECT_EQ("n=7\nn=7\n", a.text());
}

struct MaskCase {
	uint32_t mask;
	int result;
	const char *written;
};

TEST_F(DebugOutput, MaskTable)
{
	// Levels 0 and 2 have a sink; level 3 (mask 8) has none. The sink ends
	// each message's line.
	debug_output_set_sinks(1 | 4, DEBUG_OUTPUT_SINK_FD, a.fd());
	const MaskCase cases[] = {
	    {1, 0, "m\n"},
	    {4, 0, "m\n"},
	    {1 | 4, 0, "m\nm\n"},
	    {1u << 30, -1, ""},
	    {1u << 31, -1, ""},
	    {8, -1, ""},
	    // Lower levels are written before the unconfigured one stops the call.
	    {1 | 8 | 4, -1, "m\nm\n"},
	    {0, 0, ""},
	};
	for (const auto &c : cases) {
		MemFile out;
		debug_output_free();
		debug_output_set_sinks(1 | 4, DEBUG_OUTPUT_SINK_FD, out.fd());
		EXPECT_EQ(c.result, debug_output(c.mask, 0, "m")) << "mask " << c.mask;
		EXPECT_EQ(c.written, out.text()) << "mask " << c.mask;
	}
}

TEST_F(DebugOutput, FirstSinkOfAKindStays)
{
	debug_output_set_sinks(2, DEBUG_OUTPUT_SINK_FD, a.fd());
	debug_output_set_sinks(2, DEBUG_OUTPUT_SINK_FD, b.fd());
	debug_output_set_sinks(2, DEBUG_OUTPUT_SINK_SYSLOG, LOG_WARNING);
	debug_output_set_sinks(2, DEBUG_OUTPUT_SINK_SYSLOG, LOG_ERR);
	EXPECT_EQ(0, debug_output(2, 0, "warn %s\n", "x"));
	EXPECT_EQ("warn x\n", a.text());
	EXPECT_EQ("", b.text());
	ASSERT_EQ(1u, syslogged.size());
	EXPECT_EQ(LOG_WARNING, syslogged[0].first);
	EXPECT_EQ("warn x\n", syslogged[0].second);
}

TEST_F(DebugOutput, SinkArgumentsCheckedAsSpecified)
{
	EXPECT_EQ(-1, debug_output_set_sinks(1u << 30, DEBUG_OUTPUT_SINK_FD, a.fd()));
	// An invalid mask configures nothing.
	EXPECT_EQ(-1, debug_output(1, 0, "x"));

	debug_output_add_sink(30, DEBUG_OUTPUT_SINK_FD, a.fd());
	debug_output_add_sink(31, DEBUG_OUTPUT_SINK_FD, a.fd());
	debug_output_set_sinks(1, DEBUG_OUTPUT_SINK_FD, -1); // a negative descriptor adds no sink
	debug_output_set_sinks(1, 3, a.fd());                // neither does an unknown kind
	EXPECT_EQ(0, debug_output(1, 0, "x"));
	EXPECT_EQ("", a.text());
	EXPECT_TRUE(syslogged.empty());
}

TEST_F(DebugOutput, CategoriesAndEmptyMessages)
{
	debug_output_set_sinks(1, DEBUG_OUTPUT_SINK_FD, a.fd());
	EXPECT_EQ(0, debug_output(1, 1, "hidden"));
	EXPECT_EQ(-1, debug_output(1, 2, "bad category"));
	EXPECT_EQ(-1, debug_output_enable_category(2));
	EXPECT_EQ(0, debug_output_enable_category(1));
	EXPECT_EQ(0, debug_output(1, 1, "shown"));
	EXPECT_EQ(0, debug_output_disable_category(0));
	EXPECT_EQ(0, debug_output(1, 0, "hidden"));
	debug_output_enable_category(0);
	EXPECT_EQ(0, debug_output(1, 0, "%s", ""));
	EXPECT_EQ("shown\n", a.text());
}

TEST_F(DebugOutput, HexdumpLinesOf24Bytes)
{
	debug_output_set_sinks(16, DEBUG_OUTPUT_SINK_SYSLOG, LOG_DEBUG);
	unsigned char bytes[25];
	for (int i = 0; i < 25; i++)
		bytes[i] = (unsigned char)(i * 11);
	debug_output_hexdump(16, bytes, 25);
	debug_output_hexdump(16, bytes, 0);
	ASSERT_EQ(2u, syslogged.size());
	std::string first;
	for (int i = 0; i < 24; i++) {
		char cell[4];
		snprintf(cell, sizeof(cell), " %02x", bytes[i]);
		first += cell;
	}
	EXPECT_EQ(72u, syslogged[0].second.size());
	EXPECT_EQ(first, syslogged[0].second);
	EXPECT_EQ(" 08", syslogged[1].second);
}

TEST_F(DebugOutput, OpenFileAddsDescriptorSink)
{
	char path[] = "/tmp/debug_output_XXXXXX";
	int tmp = mkstemp(path);
	close(tmp);
	EXPECT_EQ(-1, debug_output_open_file(nullptr, 1));
	EXPECT_EQ(-1, debug_output_open_file(path, 1u << 31));
	int fd = debug_output_open_file(path, 128);
	ASSERT_GE(fd, 0);
	debug_output_string(128, "area\n");
	debug_output_close(fd);
	FILE *f = fopen(path, "r");
	char buf[32] = {};
	ASSERT_NE(nullptr, f);
	EXPECT_NE(nullptr, fgets(buf, sizeof(buf), f));
	fclose(f);
	unlink(path);
	EXPECT_STREQ("area\n", buf);
}

} // namespace
