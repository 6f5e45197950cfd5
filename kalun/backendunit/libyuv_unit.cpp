#include "kalun/backendunit/libyuv_unit.h"

#include <sys/mman.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include <libyuv.h>

#include "kalun/allocator/memfd.h"
#include "kalun/log.h"

namespace kalun::backendunit
{

namespace
{

constexpr uint32_t kSupported = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP;
const char *kUnknownColorFormat = "Unknown color format in libyuv backend";

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kLibYuv) + function + "(): " + text;
}

// libyuv takes sizes and strides as int. Parameters are held below INT_MAX,
// but strides derived from them (three or four bytes a pixel) may not be.
int toInt(uint64_t value)
{
	if (value > static_cast<uint64_t>(INT_MAX))
		throw std::invalid_argument("Image dimension " + std::to_string(value) +
		                            " is too large for libyuv backend");
	return static_cast<int>(value);
}

std::string codeText(int code)
{
	return "(" + std::to_string(code) + ")";
}

bool sameSize(const ImageInfo &a, const ImageInfo &b)
{
	return a.width == b.width && a.height == b.height;
}

// The image operations are public; a description that does not fit its
// bytes would have libyuv walk past them.
void checkFits(size_t available, const ImageInfo &info)
{
	if (info.rowPitch >= rowBytes(info.format, info.width) && info.byteSize() <= available)
		return;
	throw std::invalid_argument("Image of " + std::to_string(info.byteSize()) +
	                            " bytes does not fit its buffer of " + std::to_string(available) +
	                            " bytes");
}

// Scratch memory kept by each thread between jobs, so that a job of the
// usual size allocates nothing. It is not cleared: every byte a job reads
// from it, the same job wrote first, so no job sees another's pixels.
class ScratchSlot
{
      public:
	uint8_t *take(uint64_t size)
	{
		if (size > size_) {
			bytes_.reset();
			size_ = 0;
			bytes_.reset(new uint8_t[size]);
			size_ = size;
		}
		return bytes_.get();
	}
	// An unusually large job does not pin its memory in the thread.
	void trim()
	{
		if (size_ > kKeptBytes) {
			bytes_.reset();
			size_ = 0;
		}
	}

      private:
	static constexpr uint64_t kKeptBytes = 32 * 1024 * 1024;
	std::unique_ptr<uint8_t[]> bytes_;
	uint64_t size_ = 0;
};

// One slot for each scratch image that can be alive at once in a job.
struct ThreadScratch {
	ScratchSlot cropped;
	ScratchSlot scaled;
	ScratchSlot between;
	ScratchSlot converted;

	void trim()
	{
		for (ScratchSlot *slot : {&cropped, &scaled, &between, &converted})
			slot->trim();
	}
};

ThreadScratch &threadScratch()
{
	thread_local ThreadScratch scratch;
	return scratch;
}

// A planar 4:2:0 image at its natural strides, in a scratch slot.
struct I420 {
	I420(uint64_t w, uint64_t h, ScratchSlot &slot)
	    : width(toInt(w)), height(toInt(h)), chromaPitch((width + 1) / 2), lumaSize(w * h),
	      chromaSize(static_cast<uint64_t>(chromaPitch) * ((h + 1) / 2)),
	      bytes(slot.take(lumaSize + 2 * chromaSize))
	{
	}

	uint8_t *y() const
	{
		return bytes;
	}
	uint8_t *u() const
	{
		return bytes + lumaSize;
	}
	uint8_t *v() const
	{
		return bytes + lumaSize + chromaSize;
	}

	int width;
	int height;
	int chromaPitch;
	uint64_t lumaSize;
	uint64_t chromaSize;
	uint8_t *bytes;
};

void nv12ToRgb(const uint8_t *in, const ImageInfo &inInfo, uint8_t *out, int outPitch,
               const ImageInfo &outInfo)
{
	const int pitch = toInt(inInfo.rowPitch);
	// The NV21 entry point with the swapped-chroma matrix reads NV12 and
	// writes bytes in the order R, G, B.
	const int r = libyuv::NV21ToRGB24Matrix(in, pitch, in + inInfo.height * inInfo.rowPitch, pitch, out,
	                                        outPitch, &libyuv::kYvuJPEGConstants, toInt(outInfo.width),
	                                        toInt(outInfo.height));
	if (r != 0)
		throw std::runtime_error("Convert-format from nv12 failed in libyuv backend " + codeText(r));
}

void nv12ToPlanar(const uint8_t *in, const ImageInfo &inInfo, uint8_t *out, const ImageInfo &outInfo)
{
	const int rgbPitch = toInt(3 * outInfo.width);
	uint8_t *rgb = threadScratch().converted.take(inInfo.width * inInfo.height * 3);
	nv12ToRgb(in, inInfo, rgb, rgbPitch, outInfo);
	const uint64_t plane = outInfo.height * outInfo.rowPitch;
	const int pitch = toInt(outInfo.rowPitch);
	libyuv::SplitRGBPlane(rgb, rgbPitch, out, pitch, out + plane, pitch, out + 2 * plane, pitch,
	                      toInt(outInfo.width), toInt(outInfo.height));
}

void rgbToNv12(const uint8_t *in, const ImageInfo &inInfo, uint8_t *out, const ImageInfo &outInfo)
{
	const int argbPitch = toInt(4 * inInfo.width);
	uint8_t *argb = threadScratch().converted.take(inInfo.width * inInfo.height * 4);
	int r = libyuv::RAWToARGB(in, toInt(inInfo.rowPitch), argb, argbPitch, toInt(inInfo.width),
	                          toInt(inInfo.height));
	if (r == 0) {
		const int pitch = toInt(outInfo.rowPitch);
		r = libyuv::ARGBToNV12(argb, argbPitch, out, pitch, out + outInfo.height * outInfo.rowPitch,
		                       pitch, toInt(outInfo.width), toInt(outInfo.height));
	}
	if (r != 0)
		throw std::runtime_error("Convert-format from rgb-interleaved failed in libyuv backend " +
		                         codeText(r));
}

void planarToRgb(const uint8_t *in, const ImageInfo &inInfo, uint8_t *out, const ImageInfo &outInfo)
{
	const uint64_t plane = inInfo.height * inInfo.rowPitch;
	const int pitch = toInt(inInfo.rowPitch);
	libyuv::MergeRGBPlane(in, pitch, in + plane, pitch, in + 2 * plane, pitch, out,
	                      toInt(outInfo.rowPitch), toInt(outInfo.width), toInt(outInfo.height));
}

// Copies the crop rectangle into an I420 image. The source is addressed
// through its row pitch, so padded rows are read correctly; an odd crop
// origin starts the chroma at the pair that holds it.
void cropToI420(const uint8_t *in, const ImageInfo &inInfo, const CropInfo &crop, const I420 &dst)
{
	const uint64_t x = static_cast<uint64_t>(crop.x);
	const uint64_t y = static_cast<uint64_t>(crop.y);
	const uint64_t pitch = inInfo.rowPitch;
	int r;
	if (inInfo.format == ImageFormat::NV12) {
		const uint8_t *luma = in + y * pitch + x;
		const uint8_t *chroma = in + inInfo.height * pitch + (y / 2) * pitch + (x / 2) * 2;
		r = libyuv::NV12ToI420(luma, toInt(pitch), chroma, toInt(pitch), dst.y(), dst.width, dst.u(),
		                       dst.chromaPitch, dst.v(), dst.chromaPitch, dst.width, dst.height);
	} else {
		r = libyuv::RAWToI420(in + y * pitch + 3 * x, toInt(pitch), dst.y(), dst.width, dst.u(),
		                      dst.chromaPitch, dst.v(), dst.chromaPitch, dst.width, dst.height);
	}
	if (r != 0)
		throw std::runtime_error("Crop part of crop-scale failed in libyuv backend " + codeText(r));
}

// The mapped tensor bytes, or a temporary copy for buffers that can only be
// read and written. Mappings end with the object.
class InputImage
{
      public:
	InputImage(Buffer &buffer, uint64_t size) : size_(size)
	{
		if (buffer.getFdProps() & KALUN_FD_PROP_MAP) {
			access_ = buffer.cpuAccess(size, PROT_READ);
			data_ = access_.get();
			return;
		}
		if (!(buffer.getFdProps() & KALUN_FD_PROP_READWRITE))
			throw std::invalid_argument(unsupportedFdPropsText("Input", kSupported));
		try {
			copy_.resize(size);
		} catch (const std::exception &e) {
			throw std::runtime_error(std::string("Unable to allocate temporary input tensor: ") +
			                         e.what());
		}
		buffer.read(copy_);
		data_ = copy_.data();
	}

	ConstByteSpan bytes() const
	{
		return ConstByteSpan(data_, size_);
	}

      private:
	Buffer::CpuAccess access_;
	std::vector<uint8_t> copy_;
	const uint8_t *data_ = nullptr;
	uint64_t size_;
};

class OutputImage
{
      public:
	OutputImage(Buffer &buffer, uint64_t size) : buffer_(buffer), size_(size)
	{
		if (buffer.getFdProps() & KALUN_FD_PROP_MAP) {
			access_ = buffer.cpuAccess(size, PROT_WRITE);
			data_ = access_.get();
			return;
		}
		if (!(buffer.getFdProps() & KALUN_FD_PROP_READWRITE))
			throw std::invalid_argument(unsupportedFdPropsText("Output", kSupported));
		try {
			copy_.resize(size);
		} catch (const std::exception &e) {
			throw std::runtime_error(std::string("Unable to allocate temporary output tensor: ") +
			                         e.what());
		}
		data_ = copy_.data();
	}

	ByteSpan bytes() const
	{
		return ByteSpan(data_, size_);
	}

	// Hands a temporary copy to the buffer; mapped bytes are already there.
	void finish()
	{
		if (!access_)
			buffer_.write(copy_);
	}

      private:
	Buffer &buffer_;
	Buffer::CpuAccess access_;
	std::vector<uint8_t> copy_;
	uint8_t *data_ = nullptr;
	uint64_t size_;
};

} // namespace

LibYuv::LibYuv() : BackEndUnit(allocator::MemFd::getShared(), allocator::MemFd::getShared())
{
	KALUN_LOG_DEBUG(debugText("LibYuv", "Constructed"));
}

LibYuv::~LibYuv()
{
	stopProcessingQueues();
	KALUN_LOG_DEBUG(debugText("~LibYuv", "Destructed"));
}

std::pair<std::string, int32_t> LibYuv::getNameAndChipId() const
{
	return {"cpu-proc", 11};
}

int32_t LibYuv::getMinModelFormatVersion() const
{
	return -1;
}

LibYuv::Context LibYuv::validateImageParams(const ParameterMap &params)
{
	const auto [in, out] = parseImageParams(params, kImageLimit);
	const std::pair<uint64_t, const char *> even[] = {
	    {in.height, "Input height is not a multiple of 2"},
	    {in.width, "Input width is not a multiple of 2"},
	    {in.rowPitch, "Input row pitch is not a multiple of 2"},
	    {out.height, "Output height is not a multiple of 2"},
	    {out.width, "Output width is not a multiple of 2"},
	    {out.rowPitch, "Output row pitch is not a multiple of 2"},
	};
	for (const auto &[value, message] : even)
		if (value % 2)
			throw std::invalid_argument(message);
	if (out.format == ImageFormat::RGB_PLANAR && in.format != ImageFormat::NV12)
		throw std::invalid_argument(
		    "rgb-planar is only supported as output format when nv12 is used as input format");
	if (in.format == ImageFormat::RGB_PLANAR && out.format == ImageFormat::RGB_INTERLEAVED &&
	    !sameSize(in, out))
		throw std::invalid_argument(
		    "rgb-planar to rgb-interleaved requires same input resolution as output resolution");
	// No job could ever convert this pairing; say so now rather than on
	// every job.
	if (in.format == ImageFormat::RGB_PLANAR && out.format == ImageFormat::NV12)
		throw std::invalid_argument(kUnknownColorFormat);
	return {in, out};
}

TensorMetadata LibYuv::tensorMetadataOf(const ImageInfo &info)
{
	const uint64_t h = info.height;
	const uint64_t w = info.width;
	const uint64_t p = info.rowPitch;
	switch (info.format) {
	case ImageFormat::NV12: {
		const uint64_t s = info.byteSize();
		return TensorMetadata(KALUN_TENSOR_DATA_TYPE_UINT8, KALUN_TENSOR_LAYOUT_420SP, {3, h, w},
		                      {s, h * p, p}, s, "YUV420SP");
	}
	case ImageFormat::RGB_INTERLEAVED: {
		const uint64_t s = info.byteSize();
		return TensorMetadata(KALUN_TENSOR_DATA_TYPE_UINT8, KALUN_TENSOR_LAYOUT_NHWC, {1, h, w, 3},
		                      {s, h * p, p, 3}, s, "RGB_INTERLEAVED");
	}
	case ImageFormat::RGB_PLANAR: {
		const uint64_t s = info.byteSize();
		return TensorMetadata(KALUN_TENSOR_DATA_TYPE_UINT8, KALUN_TENSOR_LAYOUT_NCHW, {1, 3, h, w},
		                      {s, s, h * p, p}, s, "RGB_PLANAR");
	}
	}
	throw std::invalid_argument(formatName(info.format) + " is not supported by libyuv backend");
}

BackEndUnit::TensorMetadataLists LibYuv::loadModelVirtual(ConstByteSpan model, uint64_t modelId,
                                                          const ParameterMap &params)
{
	if (!model.empty())
		throw std::invalid_argument("libyuv does not use model data");
	std::lock_guard<std::mutex> lock(contextsMutex_);
	auto context = std::make_shared<const Context>(validateImageParams(params));
	TensorMetadataLists lists{{tensorMetadataOf(context->input)}, {tensorMetadataOf(context->output)}};
	if (!contexts_.emplace(modelId, std::move(context)).second)
		throw std::runtime_error("Could not save context");
	KALUN_LOG_DEBUG(debugText("loadModelVirtual", "Model " + std::to_string(modelId) + " loaded"));
	return lists;
}

void LibYuv::deleteModelVirtual(uint64_t modelId)
{
	std::lock_guard<std::mutex> lock(contextsMutex_);
	if (!contexts_.erase(modelId))
		throw ModelNotFound(modelId);
	KALUN_LOG_DEBUG(debugText("deleteModelVirtual", "Deleted model " + std::to_string(modelId)));
}

std::shared_ptr<const LibYuv::Context> LibYuv::findContext(uint64_t modelId)
{
	std::lock_guard<std::mutex> lock(contextsMutex_);
	auto it = contexts_.find(modelId);
	if (it == contexts_.end())
		throw ModelNotFound(modelId);
	return it->second;
}

void LibYuv::runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
                           const std::vector<Tensor> &outputs, const ParameterMap &params)
{
	struct TrimScratch {
		~TrimScratch()
		{
			threadScratch().trim();
		}
	} trimScratch;
	const std::shared_ptr<const Context> context = findContext(modelId);
	const ImageInfo &in = context->input;
	const ImageInfo &out = context->output;
	const InputImage input(*inputs.at(0).getBuffer(), in.byteSize());
	OutputImage output(*outputs.at(0).getBuffer(), out.byteSize());
	const CropInfo crop = parseCrop(params, in.width, in.height, kImageLimit);

	if (in.format == out.format) {
		if (sameSize(in, out) && !crop.present)
			throw std::invalid_argument("No operation to be done");
		cropScale(input.bytes(), output.bytes(), in, out, crop);
	} else if (sameSize(in, out) && !crop.present) {
		convertFormat(input.bytes(), output.bytes(), in, out);
	} else {
		// Every byte of the intermediate image is written by the crop
		// and scale before the conversion reads it.
		const ImageInfo between{in.format, out.width, out.height, false,
		                        rowBytes(in.format, out.width)};
		const ByteSpan image(threadScratch().between.take(between.byteSize()), between.byteSize());
		cropScale(input.bytes(), image, in, between, crop);
		convertFormat(ConstByteSpan(image.data(), image.size()), output.bytes(), between, out);
	}
	output.finish();
}

void LibYuv::convertFormat(ConstByteSpan in, ByteSpan out, const ImageInfo &inInfo, const ImageInfo &outInfo)
{
	const auto convert = [&](auto operation) {
		if (!sameSize(inInfo, outInfo))
			throw std::invalid_argument("Convert-format needs equal input and output sizes");
		checkFits(in.size(), inInfo);
		checkFits(out.size(), outInfo);
		operation(in.data(), inInfo, out.data(), outInfo);
	};
	switch (inInfo.format) {
	case ImageFormat::NV12:
		if (outInfo.format == ImageFormat::RGB_INTERLEAVED)
			return convert(
			    [](const uint8_t *i, const ImageInfo &ii, uint8_t *o, const ImageInfo &oi) {
				    nv12ToRgb(i, ii, o, toInt(oi.rowPitch), oi);
			    });
		if (outInfo.format == ImageFormat::RGB_PLANAR)
			return convert(nv12ToPlanar);
		break;
	case ImageFormat::RGB_INTERLEAVED:
		if (outInfo.format == ImageFormat::NV12)
			return convert(rgbToNv12);
		if (outInfo.format == ImageFormat::RGB_PLANAR)
			throw std::invalid_argument(
			    "Conversion from rgb-interleaved to rgb-planar is not supported in libyuv "
			    "backend");
		break;
	case ImageFormat::RGB_PLANAR:
		if (outInfo.format == ImageFormat::RGB_INTERLEAVED)
			return convert(planarToRgb);
		break;
	}
	throw std::invalid_argument(kUnknownColorFormat);
}

void LibYuv::cropScale(ConstByteSpan in, ByteSpan out, const ImageInfo &inInfo, const ImageInfo &outInfo,
                       const CropInfo &crop)
{
	uint32_t fourcc;
	if (inInfo.format == ImageFormat::NV12)
		fourcc = libyuv::FOURCC_NV12;
	else if (inInfo.format == ImageFormat::RGB_INTERLEAVED)
		fourcc = libyuv::FOURCC_RAW;
	else
		throw std::invalid_argument("Crop-scale for " + formatName(inInfo.format) +
		                            " is not supported by libyuv backend");
	// The output is written in the input's format.
	const ImageInfo target{inInfo.format, outInfo.width, outInfo.height, outInfo.rowPitchGiven,
	                       outInfo.rowPitch};
	checkFits(in.size(), inInfo);
	checkFits(out.size(), target);
	checkCropRect(crop, inInfo.width, inInfo.height);

	ThreadScratch &scratch = threadScratch();
	const I420 cropped(static_cast<uint64_t>(crop.width), static_cast<uint64_t>(crop.height),
	                   scratch.cropped);
	cropToI420(in.data(), inInfo, crop, cropped);

	const I420 scaled(target.width, target.height, scratch.scaled);
	int r = libyuv::I420Scale(cropped.y(), cropped.width, cropped.u(), cropped.chromaPitch, cropped.v(),
	                          cropped.chromaPitch, cropped.width, cropped.height, scaled.y(),
	                          scaled.width, scaled.u(), scaled.chromaPitch, scaled.v(),
	                          scaled.chromaPitch, scaled.width, scaled.height, libyuv::kFilterBilinear);
	if (r != 0)
		throw std::runtime_error("Scale part of crop-scale failed in libyuv backend " + codeText(r));

	// For NV12 the chroma plane lands after height rows of the given pitch,
	// where the tensor description places it.
	r = libyuv::ConvertFromI420(scaled.y(), scaled.width, scaled.u(), scaled.chromaPitch, scaled.v(),
	                            scaled.chromaPitch, out.data(), toInt(target.rowPitch), scaled.width,
	                            scaled.height, fourcc);
	if (r != 0)
		throw std::runtime_error("Convert format part of crop-scale failed in libyuv backend " +
		                         codeText(r));
}

} // namespace kalun::backendunit
