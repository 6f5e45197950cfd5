// What the service keeps about a loaded model, and the reader of its own
// model container format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kalun/model_container_generated.h"
#include "kalun/span.h"
#include "kalun/tensor.h"

namespace kalun
{

class Model
{
      public:
	// Refuses empty tensor lists and tensors of byte size 0
	// (std::invalid_argument), inputs before outputs.
	Model(uint64_t id, std::string name, uint64_t size, int32_t access,
	      std::vector<TensorMetadata> inputs, std::vector<TensorMetadata> outputs);

	uint64_t getId() const
	{
		return id_;
	}
	std::string getName() const
	{
		return name_;
	}
	// Bytes the client sent, container included.
	uint64_t getSize() const
	{
		return size_;
	}
	// 1 private (creator only), 2 public.
	int32_t getAccess() const
	{
		return access_;
	}
	const std::vector<TensorMetadata> &getInputs() const
	{
		return inputs_;
	}
	const std::vector<TensorMetadata> &getOutputs() const
	{
		return outputs_;
	}

	// "<id> <name> <size> <public|private>"
	std::string toString() const;

      private:
	uint64_t id_;
	std::string name_;
	uint64_t size_;
	int32_t access_;
	std::vector<TensorMetadata> inputs_;
	std::vector<TensorMetadata> outputs_;
};

// "public" for access 2, "private" for anything else.
const char *accessName(int32_t access);

// The container's root table when the bytes verify as a container, nullptr
// when they do not (they are then a raw model); std::invalid_argument when
// the container's format version is below minVersion.
const container::ModelContainer *verifyModelContainer(ConstByteSpan bytes, int32_t minVersion);

} // namespace kalun
