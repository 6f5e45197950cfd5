// "cpu-proc": converts, crops and scales camera images on the CPU with
// libyuv. A "model" of this unit is no network but the saved description of
// one input and one output image, made from the load's parameters; a job
// turns its input image into the output image, optionally cropping first.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "kalun/backend_unit.h"
#include "kalun/backendunit/image_params.h"

namespace kalun::backendunit
{

class LibYuv : public BackEndUnit
{
      public:
	struct Context {
		ImageInfo input;
		ImageInfo output;
	};

	LibYuv();
	~LibYuv() override;

	std::pair<std::string, int32_t> getNameAndChipId() const override;
	int32_t getMinModelFormatVersion() const override;
	TensorMetadataLists loadModelVirtual(ConstByteSpan model, uint64_t modelId,
	                                     const ParameterMap &params) override;
	void deleteModelVirtual(uint64_t modelId) override;
	void runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
	                   const std::vector<Tensor> &outputs, const ParameterMap &params) override;

	// The image pair of a load's parameters, refusing pairings no job could
	// run. Throws std::invalid_argument.
	static Context validateImageParams(const ParameterMap &params);
	static TensorMetadata tensorMetadataOf(const ImageInfo &info);

	// Both images have the same width and height; the spans hold at least
	// their images' byte sizes.
	static void convertFormat(ConstByteSpan in, ByteSpan out, const ImageInfo &inInfo,
	                          const ImageInfo &outInfo);
	// Crops the input and scales the crop to the output's size; the output
	// is written in the input's format at the output's row pitch.
	static void cropScale(ConstByteSpan in, ByteSpan out, const ImageInfo &inInfo,
	                      const ImageInfo &outInfo, const CropInfo &crop);

      private:
	std::shared_ptr<const Context> findContext(uint64_t modelId);

	std::unordered_map<uint64_t, std::shared_ptr<const Context>> contexts_;
	std::mutex contextsMutex_;
};

} // namespace kalun::backendunit
