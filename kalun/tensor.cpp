#include "kalun/tensor.h"

#include <stdexcept>

namespace kalun
{

namespace
{

bool hasZero(const std::vector<size_t> &values)
{
	for (size_t v : values)
		if (v == 0)
			return true;
	return false;
}

void validate(int32_t dataType, int32_t layout, const std::vector<size_t> &dims,
              const std::vector<size_t> &pitches, uint64_t byteSize)
{
	if (dataType < KALUN_TENSOR_DATA_TYPE_UNSPECIFIED || dataType > kMaxTensorDataType)
		throw std::invalid_argument("Tensor has invalid data type");
	if (layout < KALUN_TENSOR_LAYOUT_UNSPECIFIED || layout > kMaxTensorLayout)
		throw std::invalid_argument("Tensor has invalid layout");
	if (!dims.empty()) {
		if (dims.size() > kMaxTensorDims)
			throw std::invalid_argument("Tensor has invalid dimension length (" +
			                            std::to_string(dims.size()) + ")");
		if (hasZero(dims))
			throw std::invalid_argument("Tensor has invalid dimension values");
		const bool fourDims =
		    layout == KALUN_TENSOR_LAYOUT_NHWC || layout == KALUN_TENSOR_LAYOUT_NCHW;
		if (fourDims && dims.size() != 4)
			throw std::invalid_argument("Tensor has invalid dimension length (" +
			                            std::to_string(dims.size()) +
			                            ") with regards to specified layout");
	}
	if (!pitches.empty()) {
		if (pitches.size() > kMaxTensorDims)
			throw std::invalid_argument("Tensor has pitch length (" +
			                            std::to_string(pitches.size()) +
			                            ") that exceeds the maximum allowed (12)");
		if (!dims.empty() && dims.size() != pitches.size())
			throw std::invalid_argument("Mismatch between tensor's dimensions length (" +
			                            std::to_string(dims.size()) + ") and pitches length (" +
			                            std::to_string(pitches.size()) + ")");
		if (hasZero(pitches))
			throw std::invalid_argument("Tensor has invalid zero pitch values");
		if (byteSize != 0 && byteSize != pitches[0])
			throw std::invalid_argument(
			    "Tensor's pitches values (pitches[0]=" + std::to_string(pitches[0]) +
			    ") do not match tensor's byte size (" + std::to_string(byteSize) + ")");
	}
}

bool codesMatch(int32_t got, int32_t expected)
{
	return got == 1 || expected == 1 || got == expected;
}

} // namespace

TensorMetadata::TensorMetadata(int32_t dataType, int32_t layout, std::vector<size_t> dims,
                               std::vector<size_t> pitches, uint64_t byteSize, std::string name)
    : dataType_(dataType), layout_(layout), dims_(std::move(dims)), pitches_(std::move(pitches)),
      byteSize_(byteSize), name_(std::move(name))
{
	validate(dataType_, layout_, dims_, pitches_, byteSize_);
}

void TensorMetadata::checkMatch(const TensorMetadata &expected) const
{
	if (!codesMatch(dataType_, expected.dataType_))
		throw std::invalid_argument("Tensors data type mismatch (got " + std::to_string(dataType_) +
		                            ", expected " + std::to_string(expected.dataType_) + ")");
	if (!codesMatch(layout_, expected.layout_))
		throw std::invalid_argument("Tensors layout mismatch (got " + std::to_string(layout_) +
		                            ", expected " + std::to_string(expected.layout_) + ")");
	if (!dims_.empty() && !expected.dims_.empty() && dims_ != expected.dims_)
		throw std::invalid_argument("Tensors dimensions mismatch (got " + vectorToString(dims_) +
		                            ", expected " + vectorToString(expected.dims_) + ")");
	if (!pitches_.empty() && !expected.pitches_.empty() && pitches_ != expected.pitches_)
		throw std::invalid_argument("Tensors pitches mismatch (got " + vectorToString(pitches_) +
		                            ", expected " + vectorToString(expected.pitches_) + ")");
	if (byteSize_ != 0 && expected.byteSize_ != 0 && byteSize_ != expected.byteSize_)
		throw std::invalid_argument("Tensors byte size mismatch (got " + std::to_string(byteSize_) +
		                            ", expected " + std::to_string(expected.byteSize_) + ")");
}

Tensor::Tensor(int32_t dataType, int32_t layout, std::vector<size_t> dims, std::vector<size_t> pitches,
               uint64_t byteSize, std::string name, std::shared_ptr<Buffer> buffer)
    : TensorMetadata(dataType, layout, std::move(dims), std::move(pitches), byteSize, std::move(name)),
      buffer_(std::move(buffer))
{
}

} // namespace kalun
