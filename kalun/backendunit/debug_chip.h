// "debug-device": a unit that accepts any model, describes it with one
// 1-byte input and one 4096-byte output, and fills outputs with the bytes
// 0, 1, ..., 255, 0, 1, ... It exercises the load, job and delete road and
// the per-buffer contexts that units keep for buffers the session tracks.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "kalun/backend_unit.h"
#include "kalun/buffer.h"

namespace kalun::backendunit
{

class DebugChip : public BackEndUnit, public BufferContextCache
{
      public:
	// Per-buffer state of a model; holds nothing but its keys.
	class BufferContext
	{
	      public:
		BufferContext(uint64_t modelId, uint64_t cookie);
		~BufferContext();
		BufferContext(const BufferContext &) = delete;
		BufferContext &operator=(const BufferContext &) = delete;

	      private:
		uint64_t modelId_;
		uint64_t cookie_;
	};

	static const TensorMetadata &inputMetadata();
	static const TensorMetadata &outputMetadata();

	DebugChip();
	~DebugChip() override;

	std::pair<std::string, int32_t> getNameAndChipId() const override;
	TensorMetadataLists loadModelVirtual(ConstByteSpan model, uint64_t modelId,
	                                     const ParameterMap &params) override;
	void deleteModelVirtual(uint64_t modelId) override;
	void runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
	                   const std::vector<Tensor> &outputs, const ParameterMap &params) override;
	int32_t getMinModelFormatVersion() const override;
	void deleteBufferContext(uint64_t cookie) override;

	// Number of contexts kept for a model (0 if none).
	size_t contextCount(uint64_t modelId) const;

      private:
	void trackBuffer(uint64_t modelId, const std::shared_ptr<Buffer> &buffer);
	void leaveObservedBuffers();

	std::unordered_map<uint64_t, std::unordered_map<uint64_t, std::unique_ptr<BufferContext>>> contexts_;
	mutable std::mutex contextMutex_;
	// Buffers this unit observes, by id. The unit registers with a buffer
	// once, whatever number of models keep contexts for it, and leaves every
	// buffer still alive when it is destroyed.
	std::unordered_map<uint64_t, std::weak_ptr<Buffer>> observed_;
	std::condition_variable observedGone_;
	std::mutex modelMutex_;
	std::unordered_set<uint64_t> loadedModels_;
};

} // namespace kalun::backendunit
