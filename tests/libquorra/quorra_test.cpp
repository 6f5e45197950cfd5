#include "quorra.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

namespace
{

// A buffer of exactly `len` heap bytes, so a sanitizer build catches any
// read past the length given to unpack_message.
struct ExactBuffer {
	explicit ExactBuffer(const std::vector<uint32_t> &words, size_t len)
	    : bytes(static_cast<unsigned char *>(std::malloc(len ? len : 1)), std::free), size(len)
	{
		std::memset(bytes.get(), 0, len);
		if (!words.empty())
			std::memcpy(bytes.get(), words.data(),
			            std::min(len, words.size() * sizeof(uint32_t)));
	}
	std::unique_ptr<unsigned char, void (*)(void *)> bytes;
	size_t size;
};

struct UnpackCase {
	const char *what;
	std::vector<uint32_t> words; // leading u32 fields: type, status, ...
	size_t len;
	bool accepted;
};

void PrintTo(const UnpackCase &c, std::ostream *os)
{
	*os << c.what;
}

class Unpack : public ::testing::TestWithParam<UnpackCase>
{
};

TEST_P(Unpack, AcceptsExactlyValidMessages)
{
	const UnpackCase &c = GetParam();
	ExactBuffer buf(c.words, c.len);
	struct quorra_msg *msg = unpack_message(buf.bytes.get(), buf.size);
	if (c.accepted)
		EXPECT_EQ(msg, reinterpret_cast<struct quorra_msg *>(buf.bytes.get())) << c.what;
	else
		EXPECT_EQ(msg, nullptr) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Unpack,
    ::testing::Values(
        UnpackCase{"empty", {}, 0, false}, UnpackCase{"3 bytes", {8}, 3, false},
        UnpackCase{"type 8 is 4 bytes", {8}, 4, true}, UnpackCase{"type 8 with 8 bytes", {8, 0}, 8, false},
        UnpackCase{"type 0 in 4 bytes", {0}, 4, false}, UnpackCase{"type 1 in 4 bytes", {1}, 4, false},
        UnpackCase{"type 9 in 4 bytes", {9}, 4, false}, UnpackCase{"type 0 fixed 28", {0, 0}, 28, true},
        UnpackCase{"type 0 one short", {0, 0}, 27, false},
        UnpackCase{"type 1 status 0 is 8", {1, 0}, 8, true},
        UnpackCase{"type 1 status 5 is 8", {1, 5}, 8, true}, UnpackCase{"type 2 fixed 12", {2, 0}, 12, true},
        UnpackCase{"type 2 status set still 12", {2, 7}, 12, true},
        UnpackCase{"type 2 status set 8 refused", {2, 7}, 8, false},
        UnpackCase{"type 3 status 0 is 40", {3, 0}, 40, true},
        UnpackCase{"type 3 status 0 in 8 refused", {3, 0}, 8, false},
        UnpackCase{"type 3 status set in 8", {3, 1}, 8, true},
        UnpackCase{"type 3 status set in 40 refused", {3, 1}, 40, false},
        UnpackCase{"type 4 fixed 8", {4, 0}, 8, true}, UnpackCase{"type 5 fixed 12", {5, 0}, 12, true},
        UnpackCase{"type 5 short reply", {5, 2}, 8, true}, UnpackCase{"type 6 fixed 8", {6, 0}, 8, true},
        UnpackCase{"type 7 fixed 8", {7, 0}, 8, true}, UnpackCase{"type 9 no items", {9, 0, 0, 0}, 16, true},
        UnpackCase{"type 9 A=2 B=1 is 80", {9, 0, 2, 1}, 80, true},
        UnpackCase{"type 9 A=2 B=1 one short", {9, 0, 2, 1}, 79, false},
        UnpackCase{"type 9 A=2 B=1 one over", {9, 0, 2, 1}, 81, false},
        UnpackCase{"type 9 counts unreadable at 8", {9, 0}, 8, false},
        UnpackCase{"type 9 counts unreadable at 12", {9, 0, 0}, 12, false},
        UnpackCase{"type 9 short reply", {9, 3}, 8, true},
        UnpackCase{"type 9 huge counts", {9, 0, 0xffffffffu, 0xffffffffu}, 16, false},
        UnpackCase{"type 10 refused", {10, 0}, 8, false},
        UnpackCase{"type 11 status set refused", {11, 1}, 8, false},
        UnpackCase{"type above 2^31", {0x80000001u, 1}, 8, false}),
    [](const ::testing::TestParamInfo<UnpackCase> &info) { return "case" + std::to_string(info.index); });

TEST(Size, FixedSizesPerType)
{
	const uint64_t expected[] = {28, 8, 12, 40, 8, 12, 8, 8, 4, 16};
	for (uint32_t t = 0; t < 10; t++) {
		uint32_t m[4] = {t, 0, 0, 0};
		auto *msg = reinterpret_cast<struct quorra_msg *>(m);
		EXPECT_EQ(get_message_size(msg), expected[t]) << "type " << t;
		EXPECT_EQ(get_dynamic_size(msg), 0u) << "type " << t;
	}
}

TEST(Size, DynamicPartIsComputedIn64Bits)
{
	uint32_t m[4] = {9, 0, 0xffffffffu, 0xffffffffu};
	auto *msg = reinterpret_cast<struct quorra_msg *>(m);
	const uint64_t dyn = 24ull * 0xffffffffull + 16ull * 0xffffffffull;
	EXPECT_EQ(get_dynamic_size(msg), dyn);
	EXPECT_EQ(get_message_size(msg), 16 + dyn);
}

TEST(Size, OddTypeWithStatusIsHeaderOnly)
{
	uint32_t m[4] = {9, 1, 2, 1};
	EXPECT_EQ(get_message_size(reinterpret_cast<struct quorra_msg *>(m)), 8u);
	uint32_t even[2] = {0, 1};
	EXPECT_EQ(get_message_size(reinterpret_cast<struct quorra_msg *>(even)), 28u);
}

TEST(Size, UnknownTypeIsZero)
{
	uint32_t m[2] = {10, 0};
	EXPECT_EQ(get_message_size(reinterpret_cast<struct quorra_msg *>(m)), 0u);
}

TEST(Pack, ReturnsSameMessageUnchanged)
{
	uint32_t m[4] = {9, 0, 2, 1};
	uint32_t copy[4];
	std::memcpy(copy, m, sizeof(m));
	auto *msg = reinterpret_cast<struct quorra_msg *>(m);
	EXPECT_EQ(pack_message(msg), msg);
	EXPECT_EQ(std::memcmp(copy, m, sizeof(m)), 0);
}

TEST(Unpack, NullBufferRefused)
{
	EXPECT_EQ(unpack_message(nullptr, 8), nullptr);
}

} // namespace
