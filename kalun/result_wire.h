// The "tis" results of the result channel (a tag, a result code and a
// text) written straight into a caller's buffer as the D-Bus wire form of a
// method call that expects no reply: the bytes the bus library would make
// for the same message, without a message object or any allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kalun::resultwire
{

// Large enough for every result but those with long texts.
constexpr size_t kMaxMessage = 512;

// The message in host byte order, or 0 when it does not fit the capacity
// or the text is no D-Bus string (a NUL inside, not UTF-8).
size_t encodeTagResult(uint8_t *out, size_t capacity, uint32_t serial, const char *member, uint64_t tag,
                       int32_t code, const std::string &text);

} // namespace kalun::resultwire
