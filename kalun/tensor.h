// Tensor descriptions as models publish them and as jobs carry them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kalun/buffer.h"
#include "kalun/kalun_types.h"

namespace kalun
{

inline constexpr size_t kMaxTensorDims = 12;

// Data type, layout, dimensions, pitches (bytes, pitch 0 is the whole
// tensor), byte size (0: unknown) and name. Validated when made; immutable.
// On the buses a description travels as "(iitatats)": data type, layout,
// byte size, dims, pitches, name.
class TensorMetadata
{
      public:
	// Throws std::invalid_argument at the first broken rule.
	TensorMetadata(int32_t dataType, int32_t layout, std::vector<size_t> dims,
	               std::vector<size_t> pitches, uint64_t byteSize, std::string name);

	int32_t getDataType() const
	{
		return dataType_;
	}
	int32_t getLayout() const
	{
		return layout_;
	}
	const std::vector<size_t> &getDims() const
	{
		return dims_;
	}
	const std::vector<size_t> &getPitches() const
	{
		return pitches_;
	}
	uint64_t getByteSize() const
	{
		return byteSize_;
	}
	const std::string &getName() const
	{
		return name_;
	}

	// Called on a job's tensor with the model's description: unspecified
	// codes, empty lists and a zero byte size on either side match anything.
	// Throws std::invalid_argument describing the first difference.
	void checkMatch(const TensorMetadata &expected) const;

      private:
	int32_t dataType_;
	int32_t layout_;
	std::vector<size_t> dims_;
	std::vector<size_t> pitches_;
	uint64_t byteSize_;
	std::string name_;
};

// A job's tensor: a description plus the buffer that holds its bytes.
// Dims and pitches read from the bus ("at") are already size lists here.
static_assert(std::is_same_v<size_t, uint64_t>, "size lists are the wire's u64 lists");

class Tensor : public TensorMetadata
{
      public:
	Tensor(int32_t dataType, int32_t layout, std::vector<size_t> dims, std::vector<size_t> pitches,
	       uint64_t byteSize, std::string name, std::shared_ptr<Buffer> buffer);

	const std::shared_ptr<Buffer> &getBuffer() const
	{
		return buffer_;
	}

      private:
	std::shared_ptr<Buffer> buffer_;
};

// "[1,224,224,3]"; "[]" when empty.
template <typename T> std::string vectorToString(const std::vector<T> &values)
{
	std::string text = "[";
	for (size_t i = 0; i < values.size(); ++i) {
		if (i)
			text += ",";
		text += std::to_string(values[i]);
	}
	return text + "]";
}

} // namespace kalun
