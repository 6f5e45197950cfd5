// The direct form of "tis" results: the D-Bus wire bytes of the method call
// the bus library writes for the same answer (header fields path,
// interface, member, destination and signature in that order, no reply
// expected).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kalun/result_wire.h"

namespace
{

using kalun::resultwire::encodeTagResult;
using Bytes = std::vector<uint8_t>;

void put32(Bytes &b, uint32_t v)
{
	for (int i = 0; i < 4; ++i)
		b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putString(Bytes &b, const std::string &s)
{
	put32(b, static_cast<uint32_t>(s.size()));
	b.insert(b.end(), s.begin(), s.end());
	b.push_back(0);
}

void pad(Bytes &b)
{
	while (b.size() % 8)
		b.push_back(0);
}

TEST(ResultWire, AJobResultIsTheBusLibrarysMessage)
{
	static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "expected bytes are little-endian");
	Bytes expected{'l', 1, 1, 1};
	put32(expected, 17 + 3); // body: u64, i32, string "abc"
	put32(expected, 0x1721);
	put32(expected, 97);
	const std::pair<uint8_t, std::string> fields[] = {
	    {1, "/"}, {2, "com.tovi.Kalun1"}, {3, "QueueJob"}, {6, "com.tovi.Kalun1"}};
	for (const auto &[code, value] : fields) {
		pad(expected);
		expected.insert(expected.end(), {code, 1, static_cast<uint8_t>(code == 1 ? 'o' : 's'), 0});
		putString(expected, value);
	}
	pad(expected);
	expected.insert(expected.end(), {8, 1, 'g', 0, 3, 't', 'i', 's', 0});
	ASSERT_EQ(expected.size(), 113u);
	pad(expected);
	const uint64_t tag = 0x0102030405060708;
	for (int i = 0; i < 8; ++i)
		expected.push_back(static_cast<uint8_t>(tag >> (8 * i)));
	put32(expected, static_cast<uint32_t>(-5));
	putString(expected, "abc");

	uint8_t out[kalun::resultwire::kMaxMessage];
	const size_t size = encodeTagResult(out, sizeof out, 0x1721, "QueueJob", tag, -5, "abc");
	EXPECT_EQ(Bytes(out, out + size), expected);
}

TEST(ResultWire, WhatDoesNotFitIsLeftToTheBusLibrary)
{
	uint8_t out[kalun::resultwire::kMaxMessage];
	EXPECT_EQ(encodeTagResult(out, sizeof out, 1, "QueueJob", 1, -1, std::string(400, 'x')), 0u);
	EXPECT_EQ(encodeTagResult(out, 100, 1, "QueueJob", 1, 0, ""), 0u);
	EXPECT_EQ(encodeTagResult(out, sizeof out, 1, "QueueJob", 1, 0, std::string("a\0b", 3)), 0u);
	// Texts that are no D-Bus string: the bus library refuses them itself.
	for (const char *text : {"\x80", "a\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
	                         "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3(", "\xFF"})
		EXPECT_EQ(encodeTagResult(out, sizeof out, 1, "QueueJob", 1, 0, text), 0u) << text;
	// Two, three and four bytes at their bounds are strings.
	for (const char *text :
	     {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
	      "Gr\xC3\xB6\xC3\x9F"
	      "e"})
		EXPECT_NE(encodeTagResult(out, sizeof out, 1, "QueueJob", 1, 0, text), 0u) << text;
	EXPECT_EQ(encodeTagResult(out, sizeof out, 1, "QueueJob", 1, 0, ""), 137u);
}

} // namespace
