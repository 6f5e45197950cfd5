// The library's inner parts: the pending-request set, error records and
// parameter maps as they go onto the wire.
#include "error.h"
#include "hashset.h"
#include "map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

size_t bucket_of(uint64_t key, size_t buckets)
{
	return static_cast<size_t>(key * 0x9e3779b97f4a7c13ULL) & (buckets - 1);
}

std::vector<uint64_t> listed(const kalun_hashset *set)
{
	uint64_t *keys = nullptr;
	size_t n = 0;
	EXPECT_EQ(kalun_hashset_list(set, &keys, &n), 0);
	std::vector<uint64_t> v(keys, keys + n);
	free(keys);
	return v;
}

// Expected listing: bucket by bucket, insertion order within a bucket.
std::vector<uint64_t> expected_order(const std::vector<uint64_t> &inserted, size_t buckets)
{
	std::vector<uint64_t> out;
	for (size_t b = 0; b < buckets; b++)
		for (uint64_t k : inserted)
			if (bucket_of(k, buckets) == b)
				out.push_back(k);
	return out;
}

TEST(PendingSet, DoublesToThirtyTwoBucketsOnTheThirteenthInsertion)
{
	kalun_hashset *set = nullptr;
	ASSERT_EQ(kalun_hashset_create(16, &set), 0);

	std::vector<uint64_t> keys;
	for (uint64_t i = 1; i <= 12; i++) {
		// Addresses of heap records, as the tags are.
		keys.push_back(0x55550000ULL + i * 48);
		ASSERT_EQ(kalun_hashset_insert(set, keys.back()), 0);
	}
	EXPECT_EQ(kalun_hashset_buckets(set), 16u);
	EXPECT_EQ(listed(set), expected_order(keys, 16));

	keys.push_back(0x55550000ULL + 13 * 48);
	ASSERT_EQ(kalun_hashset_insert(set, keys.back()), 0);
	EXPECT_EQ(kalun_hashset_buckets(set), 32u);
	EXPECT_EQ(kalun_hashset_size(set), 13u);
	EXPECT_EQ(listed(set), expected_order(keys, 32));

	// 24 keys in 32 buckets is 0.75 again: the 25th insertion doubles once more.
	for (uint64_t i = 14; i <= 24; i++)
		ASSERT_EQ(kalun_hashset_insert(set, 0x55550000ULL + i * 48), 0);
	EXPECT_EQ(kalun_hashset_buckets(set), 32u);
	ASSERT_EQ(kalun_hashset_insert(set, 0x55550000ULL + 25 * 48), 0);
	EXPECT_EQ(kalun_hashset_buckets(set), 64u);

	// Never shrinks.
	for (uint64_t i = 1; i <= 25; i++)
		ASSERT_EQ(kalun_hashset_remove(set, 0x55550000ULL + i * 48), 0);
	EXPECT_EQ(kalun_hashset_buckets(set), 64u);
	EXPECT_TRUE(listed(set).empty());
	kalun_hashset_destroy(set);
}

TEST(PendingSet, RemovalKeepsTheRestOfABucketInOrder)
{
	kalun_hashset *set = nullptr;
	ASSERT_EQ(kalun_hashset_create(16, &set), 0);
	// Three keys of one bucket.
	std::vector<uint64_t> same;
	for (uint64_t k = 1; same.size() < 3; k++)
		if (bucket_of(k, 16) == bucket_of(1, 16))
			same.push_back(k);
	for (uint64_t k : same)
		ASSERT_EQ(kalun_hashset_insert(set, k), 0);

	ASSERT_EQ(kalun_hashset_remove(set, same[1]), 0);
	EXPECT_EQ(listed(set), (std::vector<uint64_t>{same[0], same[2]}));
	ASSERT_EQ(kalun_hashset_remove(set, same[2]), 0);
	// The tail moved back: a new key appends after same[0].
	ASSERT_EQ(kalun_hashset_insert(set, same[1]), 0);
	EXPECT_EQ(listed(set), (std::vector<uint64_t>{same[0], same[1]}));

	EXPECT_EQ(kalun_hashset_remove(set, same[2]), ENODATA);
	EXPECT_EQ(kalun_hashset_insert(set, same[0]), EEXIST);
	EXPECT_EQ(kalun_hashset_remove(nullptr, 1), EINVAL);
	EXPECT_EQ(kalun_hashset_insert(nullptr, 1), EINVAL);
	kalun_hashset_destroy(set);
}

TEST(ErrorRecord, FormatsPrefixesAndClears)
{
	kalunError *err = nullptr;
	kalun_error_set(&err, EINVAL, "chipId is too large (%d > %zu)", 2, static_cast<size_t>(1));
	ASSERT_NE(err, nullptr);
	EXPECT_EQ(err->code, EINVAL);
	EXPECT_STREQ(err->msg, "chipId is too large (2 > 1)");

	kalun_error_prefix(&err, "Could not close %s container: %s: ", "dict", "Bad message");
	EXPECT_EQ(err->code, EINVAL);
	EXPECT_STREQ(err->msg, "Could not close dict container: Bad message: chipId is too large (2 > 1)");

	kalunClearError(&err);
	EXPECT_EQ(err, nullptr);
	kalunClearError(&err);
	kalunClearError(nullptr);

	// Without a record a prefix does nothing, and a NULL location records nothing.
	kalun_error_prefix(&err, "ignored: ");
	EXPECT_EQ(err, nullptr);
	kalun_error_set(nullptr, EINVAL, "nowhere");
	kalun_error_prefix(nullptr, "nowhere");

	kalunError *empty = kalun_error_new(-6, "%s", "");
	ASSERT_NE(empty, nullptr);
	EXPECT_STREQ(empty->msg, "");
	kalunClearError(&empty);
}

// A message on a bus whose other end nobody reads; sealed, it reads back.
class MapWire : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
		ASSERT_GE(sd_bus_new(&bus_), 0);
		ASSERT_GE(sd_bus_set_fd(bus_, fds_[0], fds_[0]), 0);
		ASSERT_GE(sd_bus_start(bus_), 0);
		ASSERT_GE(sd_bus_message_new_method_call(bus_, &m_, "com.tovi.Kalun1",
		                                         "/com/tovi/Kalun1/Session/0",
		                                         "com.tovi.Kalun1.Session", "QueueJob"),
		          0);
	}
	void TearDown() override
	{
		sd_bus_message_unref(m_);
		sd_bus_close_unref(bus_);
		close(fds_[1]);
	}
	void seal()
	{
		ASSERT_GE(sd_bus_message_seal(m_, 1, 0), 0);
	}

	int fds_[2] = {-1, -1};
	sd_bus *bus_ = nullptr;
	sd_bus_message *m_ = nullptr;
};

TEST_F(MapWire, NineEntriesInInsertionOrderWithTheirVariantTypes)
{
	kalunMap *map = kalunCreateMap(nullptr);
	ASSERT_NE(map, nullptr);
	for (int i = 0; i < 6; i++)
		ASSERT_TRUE(kalunMapSetInt(map, ("k" + std::to_string(i)).c_str(), i * 10, nullptr));
	ASSERT_TRUE(kalunMapSetStr(map, "format", "rgb-interleaved", nullptr));
	ASSERT_TRUE(kalunMapSetIntArr2(map, "size", 640, 480, nullptr));
	ASSERT_TRUE(kalunMapSetIntArr4(map, "crop", 1, 2, 3, 4, nullptr));
	// Overwriting keeps the first position.
	ASSERT_TRUE(kalunMapSetInt(map, "k0", -7, nullptr));

	ASSERT_TRUE(kalun_map_append(map, m_, nullptr));
	seal();
	ASSERT_STREQ(sd_bus_message_get_signature(m_, 1), "a{sv}");
	ASSERT_GE(sd_bus_message_rewind(m_, 1), 0);

	ASSERT_GT(sd_bus_message_enter_container(m_, 'a', "{sv}"), 0);
	std::vector<std::string> keys;
	const char *key;
	for (int i = 0; i < 6; i++) {
		int64_t v;
		ASSERT_GT(sd_bus_message_read(m_, "{sv}", &key, "x", &v), 0);
		keys.push_back(key);
		EXPECT_EQ(v, i == 0 ? -7 : i * 10);
	}
	const char *s;
	ASSERT_GT(sd_bus_message_read(m_, "{sv}", &key, "s", &s), 0);
	EXPECT_STREQ(key, "format");
	EXPECT_STREQ(s, "rgb-interleaved");
	int64_t a, b, c, d;
	ASSERT_GT(sd_bus_message_read(m_, "{sv}", &key, "ax", 2, &a, &b), 0);
	EXPECT_STREQ(key, "size");
	EXPECT_EQ(a, 640);
	EXPECT_EQ(b, 480);
	ASSERT_GT(sd_bus_message_read(m_, "{sv}", &key, "ax", 4, &a, &b, &c, &d), 0);
	EXPECT_STREQ(key, "crop");
	EXPECT_EQ((std::vector<int64_t>{a, b, c, d}), (std::vector<int64_t>{1, 2, 3, 4}));
	EXPECT_EQ(sd_bus_message_at_end(m_, 0), 1);
	EXPECT_EQ(keys, (std::vector<std::string>{"k0", "k1", "k2", "k3", "k4", "k5"}));
	kalunDestroyMap(&map);
}

TEST_F(MapWire, EmptyMapIsAnEmptyDictionary)
{
	kalunMap *map = kalunCreateMap(nullptr);
	ASSERT_TRUE(kalun_map_append(map, m_, nullptr));
	seal();
	EXPECT_STREQ(sd_bus_message_get_signature(m_, 1), "a{sv}");
	ASSERT_GE(sd_bus_message_rewind(m_, 1), 0);
	ASSERT_GE(sd_bus_message_enter_container(m_, 'a', "{sv}"), 0);
	EXPECT_EQ(sd_bus_message_at_end(m_, 0), 1);
	kalunDestroyMap(&map);
}

TEST_F(MapWire, AppendFailureLeavesAnErrorAndNoOpenContainer)
{
	kalunMap *map = kalunCreateMap(nullptr);
	ASSERT_TRUE(kalunMapSetInt(map, "a", 1, nullptr));
	// A sealed message takes nothing more.
	ASSERT_GE(sd_bus_message_append(m_, "t", UINT64_C(1)), 0);
	seal();
	kalunError *err = nullptr;
	EXPECT_FALSE(kalun_map_append(map, m_, &err));
	ASSERT_NE(err, nullptr);
	EXPECT_EQ(err->code, EPERM);
	EXPECT_STREQ(err->msg, "Could not open array container: Operation not permitted");
	kalunClearError(&err);
	kalunDestroyMap(&map);
}

TEST(MapCopy, CopiesEveryEntryIndependently)
{
	kalunMap *map = kalunCreateMap(nullptr);
	for (int i = 0; i < 9; i++)
		ASSERT_TRUE(kalunMapSetInt(map, ("key" + std::to_string(i)).c_str(), i, nullptr));
	ASSERT_TRUE(kalunMapSetStr(map, "s", std::string(127, 'v').c_str(), nullptr));
	ASSERT_TRUE(kalunMapSetIntArr4(map, "r", 5, 6, 7, 8, nullptr));

	kalunMap *copy = kalun_map_copy(map, nullptr);
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(kalun_map_size(copy), 11u);
	// The source may change or go; the copy keeps its values.
	ASSERT_TRUE(kalunMapSetInt(map, "key3", 33, nullptr));
	kalunDestroyMap(&map);

	int64_t v = 0;
	ASSERT_TRUE(kalunMapGetInt(copy, "key3", &v, nullptr));
	EXPECT_EQ(v, 3);
	EXPECT_EQ(std::string(kalunMapGetStr(copy, "s", nullptr)), std::string(127, 'v'));
	const int64_t *r = kalunMapGetIntArr4(copy, "r", nullptr);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r[3], 8);
	kalunDestroyMap(&copy);

	kalunError *err = nullptr;
	EXPECT_EQ(kalun_map_copy(nullptr, &err), nullptr);
	ASSERT_NE(err, nullptr);
	EXPECT_STREQ(err->msg, "kalunMap is NULL");
	kalunClearError(&err);
}

} // namespace
