// A pointer and a length: the byte ranges that descriptors and units read
// and write without owning them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kalun
{

template <typename T> class Span
{
      public:
	constexpr Span() = default;
	constexpr Span(T *data, size_t size) : data_(data), size_(size) {}
	template <typename U, typename A> Span(std::vector<U, A> &v) : data_(v.data()), size_(v.size()) {}
	template <typename U, typename A> Span(const std::vector<U, A> &v) : data_(v.data()), size_(v.size())
	{
	}

	constexpr T *data() const
	{
		return data_;
	}
	constexpr size_t size() const
	{
		return size_;
	}
	constexpr bool empty() const
	{
		return size_ == 0;
	}
	constexpr T *begin() const
	{
		return data_;
	}
	constexpr T *end() const
	{
		return data_ + size_;
	}
	constexpr T &operator[](size_t i) const
	{
		return data_[i];
	}

      private:
	T *data_ = nullptr;
	size_t size_ = 0;
};

using ByteSpan = Span<uint8_t>;
using ConstByteSpan = Span<const uint8_t>;

} // namespace kalun
