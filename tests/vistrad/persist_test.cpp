// Atomic file replacement and the info pool with its store ip.db.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "core/info_pool.h"
#include "core/safe_flash.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "persist_fault.h"
#include "platform/platform_vorsalind.h"

namespace
{

std::string read_text(const std::string &path)
{
	gchar *text = nullptr;
	gsize length = 0;
	if (!g_file_get_contents(path.c_str(), &text, &length, nullptr))
		return "<missing>";
	std::string s(text, length);
	g_free(text);
	return s;
}

std::vector<uint8_t> read_bytes(const std::string &path)
{
	std::string s = read_text(path);
	return std::vector<uint8_t>(s.begin(), s.end());
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
	ASSERT_TRUE(g_file_set_contents(path.c_str(), reinterpret_cast<const char *>(bytes.data()),
	                                (gssize)bytes.size(), nullptr));
}

std::vector<std::string> dir_entries(const std::string &dir)
{
	std::vector<std::string> names;
	GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
	if (!d)
		return names;
	while (const char *name = g_dir_read_name(d))
		names.push_back(name);
	g_dir_close(d);
	return names;
}

// A root directory standing in for "/", set as VISTRAD_ROOT.
class RootDir : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		root = g_dir_make_tmp("vistrad-persist-XXXXXX", nullptr);
		ASSERT_NE(nullptr, root);
		setenv("VISTRAD_ROOT", root, 1);
		persist_fault::fail_write = 0;
		persist_fault::fail_fsync = 0;
	}
	void TearDown() override
	{
		persist_fault::fail_write = 0;
		persist_fault::fail_fsync = 0;
		std::string cmd = std::string("rm -rf '") + root + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
		g_free(root);
	}
	std::string path(const std::string &rel) const
	{
		return std::string(root) + rel;
	}
	void make_dir(const std::string &rel) const
	{
		g_mkdir_with_parents(path(rel).c_str(), 0755);
	}
	char *root = nullptr;
	LogCapture log;
};

// ---- atomic replacement ----

using SafeFlash = RootDir;

TEST_F(SafeFlash, WriteReplacesTargetAndLeavesNoTemporary)
{
	make_dir("/d");
	write_bytes(path("/d/f"), {'o', 'l', 'd'});
	EXPECT_EQ(0, safe_write_string_to_flash(path("/d/f").c_str(), "abc"));
	EXPECT_EQ("abc", read_text(path("/d/f")));
	EXPECT_EQ(std::vector<std::string>{"f"}, dir_entries(path("/d")));
}

TEST_F(SafeFlash, MissingDirectoryLeavesNothingBehind)
{
	EXPECT_EQ(-1, safe_write_string_to_flash(path("/nowhere/f").c_str(), "abc"));
	EXPECT_TRUE(dir_entries(root).empty());
	EXPECT_NE(std::string::npos, log.text().find("safe_flashopen: could not open "));
	EXPECT_NE(std::string::npos,
	          log.text().find("safe_write_string_to_flash: Unable to open file for writing\n"));
}

// A write or flush that fails must leave the old target as it was and
// remove the temporary file.
TEST_F(SafeFlash, InjectedFailuresKeepTheOldFile)
{
	struct Case {
		const char *name;
		int *flag;
		int result;
		const char *message;
	} cases[] = {
	    {"write", &persist_fault::fail_write, -2, "safe_write_string_to_flash: could not write to fd = "},
	    {"fsync", &persist_fault::fail_fsync, -3, "safe_flashclose: fsynch() of f.tmp failed, reason: "},
	};
	make_dir("/d");
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		write_bytes(path("/d/f"), {'o', 'l', 'd'});
		log.clear();
		*c.flag = 1;
		EXPECT_EQ(c.result, safe_write_string_to_flash(path("/d/f").c_str(), "new"));
		*c.flag = 0;
		EXPECT_EQ("old", read_text(path("/d/f")));
		EXPECT_EQ(std::vector<std::string>{"f"}, dir_entries(path("/d")));
		EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
	}
}

TEST_F(SafeFlash, DiscardKeepsTargetAndCloseCountsFailedSteps)
{
	make_dir("/d");
	write_bytes(path("/d/f"), {'o', 'l', 'd'});
	safe_flash_file *file = safe_flashopen(path("/d/f").c_str());
	ASSERT_NE(nullptr, file);
	EXPECT_STREQ("f", file->base_name);
	EXPECT_STREQ("f.tmp", file->tmp_name);
	ASSERT_EQ(3, write(file->fd, "new", 3));
	EXPECT_EQ(0, safe_flashclose(file, 1));
	EXPECT_EQ("old", read_text(path("/d/f")));
	EXPECT_EQ(std::vector<std::string>{"f"}, dir_entries(path("/d")));

	// The target's directory vanished under the open replacement: the rename
	// fails and the directory flush is skipped, one failed step.
	make_dir("/e");
	file = safe_flashopen(path("/e/g").c_str());
	ASSERT_NE(nullptr, file);
	std::string cmd = "rm -rf '" + path("/e") + "'";
	ASSERT_EQ(0, system(cmd.c_str()));
	EXPECT_EQ(-1, safe_flashclose(file, 0));
	EXPECT_NE(std::string::npos,
	          log.text().find("safe_flashclose: could not rename g.tmp to g, reason: "));
}

// ---- the info pool ----

class InfoPool : public RootDir
{
      protected:
	void SetUp() override
	{
		RootDir::SetUp();
		ASSERT_EQ(0, info_pool_init());
		plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
		make_dir("/etc/dynamic/vistrad");
		db = path("/etc/dynamic/vistrad/ip.db");
	}
	void TearDown() override
	{
		info_pool_free();
		stream_map_free();
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		RootDir::TearDown();
	}
	void restart()
	{
		info_pool_free();
		ASSERT_EQ(0, info_pool_init());
	}
	// The small pool of the golden image.
	void fill_small_pool()
	{
		ASSERT_EQ(0, info_pool_set_int(3, -1, 1, 42));
		ASSERT_EQ(0, info_pool_set_bool(5, 0, 1, 1));
		ASSERT_EQ(0, info_pool_set_float(5, 1, 1, 1.5f));
		ASSERT_EQ(0, info_pool_set_imfix(7, 2, 1, -16384));
		ASSERT_EQ(0, info_pool_set_int(8, -1, 0, 99));        // not persistent
		ASSERT_EQ(0, info_pool_set_blob(9, -1, 0, "xy", 2));  // blobs are never stored
		ASSERT_EQ(0, info_pool_set_pointer(10, -1, 0, this)); // nor pointers
	}
	struct prodconf_stub {
		int unused;
	} conf_stub = {};
	platform *plat = nullptr;
	control *engine = nullptr;
	std::string db;
};

void put32(std::vector<uint8_t> &out, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		out.push_back((uint8_t)(v >> (8 * i)));
}

// Bit by bit, as a cross-check of the store's table-driven CRC.
uint32_t reference_crc(const uint8_t *p, size_t n)
{
	uint32_t crc = 0;
	for (size_t i = 0; i < n; i++) {
		crc ^= p[i];
		for (int k = 0; k < 8; k++)
			crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
	}
	return crc;
}

void seal(std::vector<uint8_t> &file)
{
	uint32_t crc = reference_crc(file.data() + 8, file.size() - 8);
	for (int i = 0; i < 4; i++)
		file[4 + i] = (uint8_t)(crc >> (8 * i));
}

std::vector<uint8_t> record(uint32_t id, uint32_t type, int32_t stream, uint32_t value)
{
	std::vector<uint8_t> r;
	for (uint32_t w : {id, type, 1u, (uint32_t)stream, 0u, 0u, 0u, value, 0u})
		put32(r, w);
	return r;
}

std::vector<uint8_t> db_file(const std::vector<std::vector<uint8_t>> &records, uint32_t header_size = 20,
                             uint32_t major = 1)
{
	std::vector<uint8_t> f;
	for (uint32_t w : {0xc3a5001au, 0u, header_size, major, 0u})
		put32(f, w);
	for (const auto &r : records)
		f.insert(f.end(), r.begin(), r.end());
	seal(f);
	return f;
}

std::vector<uint8_t> golden()
{
	return db_file({
	    record(3, 2, -1, 42), record(5, 0, 1, 0x3fc00000), // 1.5f; the list holds the newest entry first
	    record(5, 4, 0, 1),                                // bool true is stored as 1
	    record(7, 1, 2, 0xffffc000),                       // -1.0 in Q14
	});
}

TEST_F(InfoPool, GoldenImage)
{
	fill_small_pool();
	ASSERT_EQ(0, info_pool_write_entry());
	std::vector<uint8_t> expected = golden();
	EXPECT_EQ(expected, read_bytes(db));
	EXPECT_EQ(std::vector<std::string>{"ip.db"}, dir_entries(path("/etc/dynamic/vistrad")));
}

TEST_F(InfoPool, PersistentValuesSurviveARestart)
{
	fill_small_pool();
	ASSERT_EQ(0, info_pool_write_entry());
	restart();
	ASSERT_EQ(0, info_pool_read_entry(engine));
	int32_t i = 0;
	float f = 0;
	uint8_t b = 0;
	EXPECT_EQ(0, info_pool_get_int(3, -1, &i));
	EXPECT_EQ(42, i);
	EXPECT_EQ(0, info_pool_get_float(5, 1, &f));
	EXPECT_EQ(1.5f, f);
	EXPECT_EQ(0, info_pool_get_bool(5, 0, &b));
	EXPECT_EQ(1, b);
	EXPECT_EQ(0, info_pool_get_imfix(7, 2, &i));
	EXPECT_EQ(-16384, i);
	EXPECT_EQ(-1, info_pool_get_int(8, -1, &i));
	void *blob = nullptr;
	uint32_t size = 0;
	EXPECT_EQ(-1, info_pool_get_blob(9, -1, &blob, &size));
	// What was loaded is persistent again. Loading puts each record at the
	// front of its id's list, so entries of one id come back newest-last.
	ASSERT_EQ(0, info_pool_write_entry());
	EXPECT_EQ(db_file({record(3, 2, -1, 42), record(5, 4, 0, 1), record(5, 0, 1, 0x3fc00000),
	                   record(7, 1, 2, 0xffffc000)}),
	          read_bytes(db));
}

TEST_F(InfoPool, NoPersistentValueRemovesTheStore)
{
	EXPECT_EQ(0, info_pool_write_entry()); // no file yet: fine
	ASSERT_EQ(0, info_pool_set_int(3, -1, 1, 1));
	ASSERT_EQ(0, info_pool_write_entry());
	EXPECT_EQ(std::vector<std::string>{"ip.db"}, dir_entries(path("/etc/dynamic/vistrad")));
	ASSERT_EQ(0, info_pool_set_int(3, -1, 0, 1));
	ASSERT_EQ(0, info_pool_write_entry());
	EXPECT_TRUE(dir_entries(path("/etc/dynamic/vistrad")).empty());
	EXPECT_EQ(-1, info_pool_read_entry(engine)); // missing store: silent
	EXPECT_EQ("", log.text());
	EXPECT_EQ(-1, info_pool_read_entry(nullptr));
}

TEST_F(InfoPool, FailedWriteKeepsTheOldStore)
{
	ASSERT_EQ(0, info_pool_set_int(3, -1, 1, 1));
	ASSERT_EQ(0, info_pool_write_entry());
	std::vector<uint8_t> before = read_bytes(db);
	ASSERT_EQ(0, info_pool_set_int(3, -1, 1, 2));
	for (int *flag : {&persist_fault::fail_write, &persist_fault::fail_fsync}) {
		*flag = 1;
		EXPECT_EQ(-1, info_pool_write_entry());
		*flag = 0;
		EXPECT_EQ(before, read_bytes(db));
		EXPECT_EQ(std::vector<std::string>{"ip.db"}, dir_entries(path("/etc/dynamic/vistrad")));
	}
	EXPECT_NE(std::string::npos, log.text().find("Failed to write header to info-pool db-file: "));
}

TEST_F(InfoPool, UnwritableDirectoryIsReported)
{
	std::string cmd = "rm -rf '" + path("/etc/dynamic/vistrad") + "'";
	ASSERT_EQ(0, system(cmd.c_str()));
	ASSERT_EQ(0, info_pool_set_int(3, -1, 1, 1));
	EXPECT_EQ(-1, info_pool_write_entry());
	EXPECT_NE(std::string::npos, log.text().find("Failed to open info-pool db-file: " + db));
}

struct DamagedCase {
	const char *name;
	std::vector<uint8_t> bytes;
	const char *message;
};

std::vector<DamagedCase> damaged_files()
{
	std::vector<uint8_t> good = golden();
	auto with = [&](size_t offset, uint8_t value, bool reseal) {
		std::vector<uint8_t> f = good;
		f[offset] = value;
		if (reseal)
			seal(f);
		return f;
	};
	auto cut = [&](size_t length, bool reseal) {
		std::vector<uint8_t> f(good.begin(), good.begin() + (long)length);
		if (reseal)
			seal(f);
		return f;
	};
	const auto ok = record(3, 2, -1, 42);
	return {
	    {"empty", {}, "Failed to read magic of header of info-pool db-file.\n"},
	    {"three bytes", cut(3, false), "Failed to read magic of header of info-pool db-file.\n"},
	    {"wrong magic", with(0, 0x1b, false), "Wrong magic in info-pool db-file.\n"},
	    {"no crc", cut(6, false), "Failed to read crc in header of info-pool db-file.\n"},
	    {"no header size", cut(10, false), "Failed to read header size of info-pool db-file.\n"},
	    {"wrong crc", with(4, good[4] ^ 1, false), "Wrong CRC in info-pool db-file.\n"},
	    {"changed record", with(40, 0x77, false), "Wrong CRC in info-pool db-file.\n"},
	    {"cut without new crc", cut(good.size() - 5, false), "Wrong CRC in info-pool db-file.\n"},
	    {"short header", cut(16, true), "Failed to read header info-pool db-file.\n"},
	    {"header size 12", db_file({ok}, 12), "Failed to read header info-pool db-file.\n"},
	    {"header beyond end", db_file({ok}, 1000), "Failed when seeking data info-pool db-file.\n"},
	    {"version 2.0", db_file({ok}, 20, 2), "Can't handle file with version 2.0.\n"},
	    {"truncated record", cut(good.size() - 5, true),
	     "info_pool_read_entry: Failed to read from info-pool db-file: "},
	    {"blob record", db_file({ok, record(9, 3, -1, 0)}), "Unmanagable blob for persistent storage\n"},
	    {"pointer record", db_file({ok, record(9, 5, -1, 0)}),
	     "Unmanagable blob for persistent storage\n"},
	    {"unknown type", db_file({ok, record(9, 6, -1, 0)}),
	     "Unable to retrieve data from persistency\n"},
	    {"id out of range", db_file({ok, record(91, 2, -1, 0)}), "Info-pool id 91 out of range.\n"},
	    {"one id and stream with two types", db_file({ok, record(4, 2, -1, 1), record(3, 0, -1, 0)}),
	     "Can't set info-pool value with wrong type, found 2, requested 0.\n"},
	};
}

// Every damaged or foreign store is refused with its message, and the pool
// starts empty: not even the good records before the damage are kept.
TEST_F(InfoPool, DamagedStoresAreRefused)
{
	for (const auto &c : damaged_files()) {
		SCOPED_TRACE(c.name);
		write_bytes(db, c.bytes);
		log.clear();
		EXPECT_EQ(-1, info_pool_read_entry(engine));
		EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
		int32_t v = 0;
		EXPECT_EQ(-1, info_pool_get_int(3, -1, &v));
		EXPECT_EQ(-1, info_pool_get_int(4, -1, &v));
		EXPECT_EQ(-1, info_pool_get_imfix(7, 2, &v));
	}
}

TEST_F(InfoPool, SixValueKinds)
{
	int marker = 0;
	ASSERT_EQ(0, info_pool_set_float(0, 0, 0, -2.25f));
	ASSERT_EQ(0, info_pool_set_imfix(1, 0, 0, 40960));
	ASSERT_EQ(0, info_pool_set_int(2, 0, 0, -7));
	ASSERT_EQ(0, info_pool_set_blob(3, 0, 0, "abc", 3));
	ASSERT_EQ(0, info_pool_set_bool(4, 0, 0, 1));
	ASSERT_EQ(0, info_pool_set_pointer(90, 0, 0, &marker));
	float f = 0;
	int32_t q = 0, i = 0;
	uint8_t b = 0;
	void *p = nullptr, *blob = nullptr;
	uint32_t size = 0;
	EXPECT_EQ(0, info_pool_get_float(0, 0, &f));
	EXPECT_EQ(-2.25f, f);
	EXPECT_EQ(0, info_pool_get_imfix(1, 0, &q));
	EXPECT_EQ(40960, q);
	EXPECT_EQ(0, info_pool_get_int(2, 0, &i));
	EXPECT_EQ(-7, i);
	EXPECT_EQ(0, info_pool_get_bool(4, 0, &b));
	EXPECT_EQ(1, b);
	EXPECT_EQ(0, info_pool_get_pointer(90, 0, &p));
	EXPECT_EQ(&marker, p);
	ASSERT_EQ(0, info_pool_get_blob(3, 0, &blob, &size));
	ASSERT_EQ(3u, size);
	EXPECT_EQ(0, memcmp(blob, "abc", 3));
	g_free(blob);
	// Nothing is stored for other streams or beyond the 91 ids.
	EXPECT_EQ(-1, info_pool_get_int(2, 1, &i));
	EXPECT_EQ(-1, info_pool_set_int(91, 0, 0, 1));
	EXPECT_EQ(-1, info_pool_get_int(91, 0, &i));
}

TEST_F(InfoPool, WrongTypeIsRefusedBothWays)
{
	ASSERT_EQ(0, info_pool_set_float(20, -1, 0, 1.0f));
	EXPECT_EQ(-1, info_pool_set_int(20, -1, 0, 1));
	EXPECT_NE(std::string::npos,
	          log.text().find("Can't set info-pool value with wrong type, found 0, requested 2.\n"));
	int32_t v = 0;
	EXPECT_EQ(-1, info_pool_get_imfix(20, -1, &v));
	EXPECT_NE(std::string::npos,
	          log.text().find("Can't get info-pool value with wrong type, found 0, requested 1.\n"));
	float f = 0;
	EXPECT_EQ(0, info_pool_get_float(20, -1, &f));
	EXPECT_EQ(1.0f, f);
}

TEST_F(InfoPool, PersistenceFlag)
{
	EXPECT_EQ(-1, info_pool_set_int(21, -1, 3, 1));
	EXPECT_NE(std::string::npos, log.text().find("Unknown persistent type 3.\n"));
	int32_t v = 0;
	EXPECT_EQ(-1, info_pool_get_int(21, -1, &v)); // the refused new entry was not made
	// 2 keeps whatever flag the entry has; a new entry starts volatile.
	ASSERT_EQ(0, info_pool_set_int(21, -1, 2, 1));
	ASSERT_EQ(0, info_pool_set_int(22, -1, 1, 1));
	ASSERT_EQ(0, info_pool_set_int(22, -1, 2, 5));
	ASSERT_EQ(0, info_pool_write_entry());
	EXPECT_EQ(db_file({record(22, 2, -1, 5)}), read_bytes(db));
}

TEST_F(InfoPool, BlobsAreCopiedAndNeverPersistent)
{
	EXPECT_EQ(-1, info_pool_set_blob(30, -1, 1, "abc", 3));
	EXPECT_NE(std::string::npos, log.text().find("Persistent info-pool blobs are not supported!\n"));
	EXPECT_NE(std::string::npos, log.text().find("Can't set unsupported persistent type 3.\n"));
	EXPECT_EQ(-1, info_pool_set_pointer(31, -1, 1, this));
	EXPECT_NE(std::string::npos, log.text().find("Persistent info-pool pointers are not supported!\n"));
	EXPECT_NE(std::string::npos, log.text().find("Can't set unsupported persistent type 5.\n"));

	char source[] = "abc";
	ASSERT_EQ(0, info_pool_set_blob(30, -1, 0, source, 3));
	source[0] = 'z'; // the pool holds its own copy
	void *out = nullptr;
	uint32_t size = 0;
	ASSERT_EQ(0, info_pool_get_blob(30, -1, &out, &size));
	EXPECT_EQ(std::string("abc"), std::string(static_cast<char *>(out), size));
	static_cast<char *>(out)[1] = 'q'; // and so does the caller
	g_free(out);
	ASSERT_EQ(0, info_pool_set_blob(30, -1, 0, "12345", 5));
	ASSERT_EQ(0, info_pool_get_blob(30, -1, &out, &size));
	EXPECT_EQ(std::string("12345"), std::string(static_cast<char *>(out), size));
	g_free(out);
	EXPECT_EQ(-1, info_pool_remove(30, -1, INFO_POOL_INT));
	EXPECT_EQ(0, info_pool_remove(30, -1, INFO_POOL_BLOB));
	EXPECT_EQ(-1, info_pool_get_blob(30, -1, &out, &size));
}

TEST_F(InfoPool, SubStreamsOfAChannelShareEntries)
{
	stream_map_register(1, stream_map_new_dual_short_first);
	ASSERT_EQ(0, info_pool_set_int(40, 0x101, 0, 11));
	int32_t v = 0;
	EXPECT_EQ(0, info_pool_get_int(40, 0x100, &v));
	EXPECT_EQ(11, v);
	EXPECT_EQ(0, info_pool_get_int(40, 0x101, &v));
	EXPECT_EQ(-1, info_pool_get_int(40, 0x200, &v));
}

TEST_F(InfoPool, PublisherAndTimeStamp)
{
	ASSERT_EQ(0, info_pool_set_int_from(77, 50, -1, 1, 3));
	ASSERT_EQ(0, info_pool_write_entry());
	std::vector<uint8_t> f = read_bytes(db);
	ASSERT_EQ(20u + 36u, f.size());
	EXPECT_EQ(77u, f[20 + 16]);
	// Loading does not bring back the source or the time.
	restart();
	ASSERT_EQ(0, info_pool_read_entry(engine));
	ASSERT_EQ(0, info_pool_write_entry());
	EXPECT_EQ(db_file({record(50, 2, -1, 3)}), read_bytes(db));
}

TEST_F(InfoPool, InitTwiceAndUseWithoutPool)
{
	EXPECT_EQ(-1, info_pool_init());
	info_pool_free();
	int32_t v = 0;
	EXPECT_EQ(-1, info_pool_set_int(1, -1, 0, 1));
	EXPECT_EQ(-1, info_pool_get_int(1, -1, &v));
	ASSERT_EQ(0, info_pool_init());
}

} // namespace
