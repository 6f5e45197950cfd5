// The defect-pixel map decompressor: streams built by a small encoder, the
// exact bytes of the map file, and damaged inputs that must leave the old map
// in place.
#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/dpc.h"
#include "log_capture.h"
#include "persist_fault.h"

namespace
{

// Writes compressed maps code by code.
struct Encoder {
	std::vector<uint8_t> bytes;

	Encoder &u8(uint8_t v)
	{
		bytes.push_back(v);
		return *this;
	}
	Encoder &u16(uint16_t v)
	{
		return u8((uint8_t)v).u8((uint8_t)(v >> 8));
	}
	Encoder &header(uint16_t x_stop, uint16_t y_stop, uint8_t levels = 1, uint8_t version = 0)
	{
		return u8(version).u8(levels).u16(0).u16(x_stop).u16(0).u16(y_stop);
	}
	Encoder &section(uint16_t defects, uint8_t gain = 0xA0)
	{
		for (int i = 0; i < 8; i++)
			u8((uint8_t)(gain + i));
		return u16(defects);
	}
	Encoder &control(int c, int e)
	{
		return u16((uint16_t)(31 << 11 | c << 8 | e));
	}
	Encoder &rows(int count)
	{
		return control(6, count - 1);
	}
	Encoder &high_x(int e)
	{
		return control(5, e);
	}
	Encoder &end()
	{
		return control(7, 0);
	}
	Encoder &defect(int type, int x)
	{
		return u16((uint16_t)(type << 11 | x));
	}
	Encoder &pixel(int cls, int x)
	{
		return defect(cls + 19, x);
	}
};

std::vector<uint8_t> le32(std::initializer_list<uint32_t> words)
{
	std::vector<uint8_t> out;
	for (uint32_t w : words)
		for (int i = 0; i < 4; i++)
			out.push_back((uint8_t)(w >> (8 * i)));
	return out;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

std::vector<uint8_t> gain_bytes(uint8_t gain = 0xA0)
{
	std::vector<uint8_t> out;
	for (int i = 0; i < 8; i++)
		out.push_back((uint8_t)(gain + i));
	return out;
}

class DpcTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		root = g_dir_make_tmp("vistrad-dpc-XXXXXX", nullptr);
		ASSERT_NE(nullptr, root);
		setenv("VISTRAD_ROOT", root, 1);
	}
	void TearDown() override
	{
		persist_fault::fail_write = 0;
		std::string cmd = std::string("rm -rf '") + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
		g_free(root);
	}
	std::string path(const std::string &rel) const
	{
		return std::string(root) + rel;
	}
	void write_file(const std::string &p, const std::vector<uint8_t> &bytes)
	{
		ASSERT_TRUE(g_file_set_contents(p.c_str(), reinterpret_cast<const char *>(bytes.data()),
		                                (gssize)bytes.size(), nullptr));
	}
	std::vector<uint8_t> read_file(const std::string &p)
	{
		gchar *text = nullptr;
		gsize length = 0;
		if (!g_file_get_contents(p.c_str(), &text, &length, nullptr))
			return {};
		std::vector<uint8_t> out(text, text + length);
		g_free(text);
		return out;
	}
	// Decompresses the stream into "/map" and returns its bytes.
	bool run(const Encoder &e)
	{
		write_file(path("/in"), e.bytes);
		return decompress_dpc(path("/in").c_str(), path("/map").c_str());
	}
	std::vector<uint8_t> map()
	{
		return read_file(path("/map"));
	}

	char *root = nullptr;
	LogCapture log;
};

TEST_F(DpcTest, SinglePixelGolden)
{
	std::vector<uint8_t> in = {0x00, 0x01, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x07, 0x00};
	in = cat(in, gain_bytes());
	in = cat(in, {0x02, 0x00, 0x00, 0xFE, 0x03, 0xA0, 0x00, 0xFF});
	write_file(path("/in"), in);
	ASSERT_TRUE(decompress_dpc(path("/in").c_str(), path("/map").c_str())) << log.text();
	std::vector<uint8_t> expected = le32({0, 1, 0, 15, 0, 7});
	expected = cat(expected, gain_bytes());
	expected = cat(expected, le32({2, 0x00002003, 0xFFFFFFFF}));
	EXPECT_EQ(expected.size(), 44u);
	EXPECT_EQ(map(), expected);
	EXPECT_EQ(log.text(), "");
}

TEST_F(DpcTest, ClustersRowsAndSections)
{
	// Section 1: a type-3 cluster at x 0 on row 2 keeps only its column 0;
	// the next code's x does not grow, so it is on row 3, and a type-0
	// cluster's centre at (y - 1, x - 1) falls off the map there. Section 2:
	// the same x moves to the next row; high x bits add 2048 each.
	Encoder good;
	good.header(4095, 20, 2)
	    .section(5)
	    .rows(3)
	    .defect(3, 0)
	    .defect(0, 0) // centre (2, -1): dropped
	    .defect(0, 5) // centre (2, 4)
	    .end()
	    .section(4, 0x10)
	    .rows(1)
	    .pixel(11, 7)
	    .pixel(2, 7) // row 1
	    .high_x(1)
	    .pixel(3, 1) // x 2049, row 1
	    .end();
	ASSERT_TRUE(run(good)) << log.text();
	std::vector<uint8_t> want = le32({0, 2, 0, 4095, 0, 20});
	want = cat(want, gain_bytes());
	want = cat(want, le32({5, 19 << 13 | 0, 22 << 13 | 1 << 20, 25 << 13 | 2 << 20, 8 << 13 | 4 | 2 << 20,
	                       0xFFFFFFFF}));
	want = cat(want, gain_bytes(0x10));
	want =
	    cat(want, le32({4, 11 << 13 | 7, 2 << 13 | 7 | 1 << 20, 3 << 13 | 2049 | 1 << 20, 0xFFFFFFFF}));
	EXPECT_EQ(map(), want);
}

TEST_F(DpcTest, RowsPast4095AreEscapedOnce)
{
	Encoder good;
	good.header(15, 4100).section(5).rows(11).pixel(1, 3); // row 10
	for (int i = 0; i < 15; i++)
		good.rows(256);                 // row 3850
	good.rows(246).pixel(2, 5).pixel(4, 1); // row 4096, then 4097
	good.end();
	ASSERT_TRUE(run(good)) << log.text();
	std::vector<uint8_t> want = le32({0, 1, 0, 15, 0, 4100});
	want = cat(want, gain_bytes());
	want = cat(want, le32({5, 1 << 13 | 3 | 10 << 20, 0xFFFFDFFF, 2 << 13 | 5, 4 << 13 | 1 | 1 << 20,
	                       0xFFFFFFFF}));
	EXPECT_EQ(map(), want);
}

struct Damaged {
	const char *name;
	Encoder stream;
	std::vector<std::string> messages;
};

TEST_F(DpcTest, DamagedInputsLeaveTheOldMap)
{
	auto base = [] { return Encoder().header(15, 7); };
	const Damaged cases[] = {
	    {"short main header",
	     Encoder().u8(0).u8(1).u16(0),
	     {"dpc_a5_decompress: can't read compressed dpc main header\n",
	      "decompress_dpc_fd: handle_main_header failed, "}},
	    {"version 1",
	     Encoder().header(15, 7, 1, 1).section(2).rows(1).pixel(1, 3).end(),
	     {"dpc_a5_decompress: unsupported file version 1",
	      "decompress_dpc_fd: handle_main_header failed, "}},
	    {"no gain levels",
	     Encoder().header(15, 7, 0).section(2).rows(1).pixel(1, 3).end(),
	     {"dpc_a5_decompress: invalid number of gain levels (0, should be > 0 and < 16)"}},
	    {"x stop too far",
	     Encoder().header(8193, 7),
	     {"dpc_a5_decompress: invalid x/y start/stop (X:0x0000=>0x2001(2000), "
	      "Y:0x0000=>0x0007(1200))\n"}},
	    {"empty rows",
	     Encoder().u8(0).u8(1).u16(5).u16(5).u16(0).u16(7),
	     {"dpc_a5_decompress: invalid x/y start/stop (X:0x0005=>0x0005(2000), "
	      "Y:0x0000=>0x0007(1200))\n"}},
	    {"short section header",
	     base().u16(1).u16(2),
	     {"dpc_a5_decompress: can't read compressed dpc gain header\n",
	      "decompress_dpc_fd: handle_section_header failed, "}},
	    {"no defects", base().section(0).end(), {"dpc_section_header: invalid number of defects\n"}},
	    {"no end code",
	     base().section(2).rows(1).pixel(1, 3),
	     {"No DPC_COMP_FLOW_END before EOF", "decompress_dpc_fd: map_input failed, "}},
	    {"half a code",
	     base().section(2).rows(1).pixel(1, 3).u8(0xFF),
	     {"No DPC_COMP_FLOW_END before EOF"}},
	    {"defect before a row move",
	     base().section(2).pixel(1, 3).end(),
	     {"dpc_a5_decompress: bad (y,x)->type (65535,003)->20\n",
	      "decompress_dpc_fd: map_input failed, "}},
	    {"column off the map",
	     base().section(2).rows(1).pixel(1, 18).end(),
	     {"dpc_a5_decompress: bad (y,x)->type (000,018)->20\n"}},
	    {"row off the map",
	     base().section(2).rows(11).pixel(1, 3).end(),
	     {"dpc_a5_decompress: bad (y,x)->type (010,003)->20\n"}},
	    {"overwrite",
	     base().section(19).rows(3).defect(3, 2).rows(1).defect(3, 2).end(),
	     {"dpc_a5_decompress: map overwrite detected (y,x)=(1,0), type=20\n"}},
	    {"undefined control",
	     base().section(2).rows(1).control(2, 0x34).end(),
	     {"dpc_a5_decompress: Undefined FLOW defect 2 (data 0234)"}},
	    {"count too high",
	     base().section(3).rows(1).pixel(1, 3).end(),
	     {"dpc_a5_decompress: wrong number of defects in map. Found 2, header value 3.",
	      "decompress_dpc_fd: write_map failed, "}},
	    {"second section missing",
	     Encoder().header(15, 7, 2).section(2).rows(1).pixel(1, 3).end(),
	     {"dpc_a5_decompress: can't read compressed dpc gain header\n"}},
	};
	const std::vector<uint8_t> old_map = {'o', 'l', 'd'};
	for (const Damaged &c : cases) {
		write_file(path("/map"), old_map);
		log.clear();
		EXPECT_FALSE(run(c.stream)) << c.name;
		EXPECT_EQ(map(), old_map) << c.name;
		EXPECT_FALSE(g_file_test(path("/map.tmp").c_str(), G_FILE_TEST_EXISTS)) << c.name;
		for (const std::string &m : c.messages)
			EXPECT_NE(log.text().find(m), std::string::npos)
			    << c.name << ": " << m << "\nlog: " << log.text();
	}
}

TEST_F(DpcTest, FailedWritesAndMissingFiles)
{
	write_file(path("/map"), {'o', 'l', 'd'});
	persist_fault::fail_write = 1;
	EXPECT_FALSE(run(Encoder().header(15, 7).section(2).rows(1).pixel(1, 3).end()));
	persist_fault::fail_write = 0;
	EXPECT_NE(log.text().find("dpc_a5_decompress: can't write dpc output file\n"
	                          "decompress_dpc_fd: handle_main_header failed, No space left on device\n"),
	          std::string::npos)
	    << log.text();
	EXPECT_EQ(map(), (std::vector<uint8_t>{'o', 'l', 'd'}));
	EXPECT_FALSE(g_file_test(path("/map.tmp").c_str(), G_FILE_TEST_EXISTS));

	log.clear();
	EXPECT_FALSE(decompress_dpc(path("/absent").c_str(), path("/map").c_str()));
	EXPECT_EQ(log.text(),
	          "decompress_dpc: Failed to open file " + path("/absent") + ": No such file or directory\n");
	EXPECT_FALSE(decompress_dpc(path("/in").c_str(), path("/no/dir/map").c_str()));
}

TEST_F(DpcTest, UnpackOnlyWhenTheMapIsMissing)
{
	ASSERT_EQ(g_mkdir_with_parents(path("/lib/persistent/usr/share/sensor_analysis").c_str(), 0755), 0);
	ASSERT_EQ(g_mkdir_with_parents(path("/var/run/vistrad").c_str(), 0755), 0);

	unpack_dpc_data(); // nothing to unpack
	EXPECT_NE(log.text().find("unpack_dpc_data: Failed to unpack DPC file\n"), std::string::npos);
	EXPECT_FALSE(g_file_test(path(DPC_MAP_PATH).c_str(), G_FILE_TEST_EXISTS));

	write_file(path(DPC_COMPRESSED_PATH),
	           Encoder().header(15, 7).section(2).rows(1).pixel(1, 3).end().bytes);
	unpack_dpc_data();
	std::vector<uint8_t> want = cat(le32({0, 1, 0, 15, 0, 7}), gain_bytes());
	want = cat(want, le32({2, 1 << 13 | 3, 0xFFFFFFFF}));
	EXPECT_EQ(read_file(path(DPC_MAP_PATH)), want);

	write_file(path(DPC_MAP_PATH), {'k', 'e', 'p', 't'});
	unpack_dpc_data();
	EXPECT_EQ(read_file(path(DPC_MAP_PATH)), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
}

} // namespace
