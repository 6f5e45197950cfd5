#include "kalun/result_wire.h"

#include <cstring>

namespace kalun::resultwire
{

namespace
{

constexpr const char *kDestination = "com.tovi.Kalun1";
constexpr const char *kPath = "/";
constexpr const char *kInterface = "com.tovi.Kalun1";

constexpr uint8_t kMethodCall = 1;
constexpr uint8_t kNoReplyExpected = 1;
constexpr uint8_t kProtocolVersion = 1;
constexpr uint8_t kFieldPath = 1, kFieldInterface = 2, kFieldMember = 3, kFieldDestination = 6,
                  kFieldSignature = 8;

// Appends in host order; refuses to run past the capacity.
class Writer
{
      public:
	Writer(uint8_t *out, size_t capacity) : out_(out), capacity_(capacity) {}

	void align(size_t to)
	{
		while (ok_ && size_ % to != 0)
			put("\0", 1);
	}
	void put(const void *bytes, size_t n)
	{
		if (!ok_ || n > capacity_ - size_) {
			ok_ = false;
			return;
		}
		memcpy(out_ + size_, bytes, n);
		size_ += n;
	}
	template <typename T> void value(T v)
	{
		align(sizeof v);
		put(&v, sizeof v);
	}
	void string(const char *s, size_t n)
	{
		value(static_cast<uint32_t>(n));
		put(s, n + 1);
	}
	// A header field: its code, a variant of one basic type, the value.
	void field(uint8_t code, char type, const char *s)
	{
		align(8);
		const uint8_t head[4] = {code, 1, static_cast<uint8_t>(type), 0};
		put(head, sizeof head);
		const size_t n = strlen(s);
		if (type == 'g') {
			const uint8_t length = static_cast<uint8_t>(n);
			put(&length, 1);
			put(s, n + 1);
		} else {
			string(s, n);
		}
	}
	void patch32(size_t at, uint32_t v)
	{
		if (ok_)
			memcpy(out_ + at, &v, sizeof v);
	}
	size_t size() const
	{
		return ok_ ? size_ : 0;
	}

      private:
	uint8_t *out_;
	size_t capacity_;
	size_t size_ = 0;
	bool ok_ = true;
};

// What D-Bus takes as a string: UTF-8 without overlong forms, surrogates
// or code points beyond U+10FFFF. A text the bus library would refuse to
// append must not reach the client through the direct road either.
bool validUtf8(const std::string &text)
{
	const auto *p = reinterpret_cast<const uint8_t *>(text.data());
	const uint8_t *end = p + text.size();
	while (p < end) {
		const uint8_t c = *p++;
		if (c < 0x80)
			continue;
		int more;
		uint32_t cp, least;
		if ((c & 0xE0) == 0xC0) {
			more = 1, cp = c & 0x1F, least = 0x80;
		} else if ((c & 0xF0) == 0xE0) {
			more = 2, cp = c & 0x0F, least = 0x800;
		} else if ((c & 0xF8) == 0xF0) {
			more = 3, cp = c & 0x07, least = 0x10000;
		} else {
			return false;
		}
		if (end - p < more)
			return false;
		for (int i = 0; i < more; ++i, ++p) {
			if ((*p & 0xC0) != 0x80)
				return false;
			cp = (cp << 6) | (*p & 0x3F);
		}
		if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
			return false;
	}
	return true;
}

} // namespace

size_t encodeTagResult(uint8_t *out, size_t capacity, uint32_t serial, const char *member, uint64_t tag,
                       int32_t code, const std::string &text)
{
	if (text.size() > UINT32_MAX || text.find('\0') != std::string::npos || !validUtf8(text))
		return 0;
	Writer w(out, capacity);
	const uint8_t fixed[4] = {static_cast<uint8_t>(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 'l' : 'B'),
	                          kMethodCall, kNoReplyExpected, kProtocolVersion};
	w.put(fixed, sizeof fixed);
	w.value(uint32_t{0}); // body length, patched below
	w.value(serial);
	w.value(uint32_t{0}); // header field array length, patched below
	const size_t fieldsStart = 16;
	w.field(kFieldPath, 'o', kPath);
	w.field(kFieldInterface, 's', kInterface);
	w.field(kFieldMember, 's', member);
	w.field(kFieldDestination, 's', kDestination);
	w.field(kFieldSignature, 'g', "tis");
	const size_t fieldsEnd = w.size();
	w.align(8);
	const size_t bodyStart = w.size();
	w.value(tag);
	w.value(code);
	w.string(text.data(), text.size());
	const size_t end = w.size();
	if (end == 0 || fieldsEnd == 0)
		return 0;
	w.patch32(4, static_cast<uint32_t>(end - bodyStart));
	w.patch32(12, static_cast<uint32_t>(fieldsEnd - fieldsStart));
	return end;
}

} // namespace kalun::resultwire
