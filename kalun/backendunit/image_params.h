// How clients describe the images of the pre-processing unit: formats,
// sizes and row pitches of the input and output image at load, and an
// optional crop rectangle per job, all taken from a request's parameters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "kalun/parameter_map.h"

namespace kalun::backendunit
{

// Values outside the three named ones may reach formatName and byteSize;
// they are reported, never interpreted.
enum class ImageFormat : int32_t {
	NV12 = 0,
	RGB_INTERLEAVED = 1,
	RGB_PLANAR = 2,
};

// Every size, coordinate and pitch must stay below this; it also keeps
// every value a valid int for libyuv.
inline constexpr int64_t kImageLimit = 2147483647;

inline constexpr const char *kCropKey = "image.input.crop";

// "nv12", "rgb-interleaved", "rgb-planar"; "unknown format" otherwise.
std::string formatName(ImageFormat format);

struct ImageInfo {
	ImageFormat format = ImageFormat::NV12;
	uint64_t width = 0;
	uint64_t height = 0;
	bool rowPitchGiven = false;
	// Bytes from one row to the next; within each plane for "rgb-planar".
	uint64_t rowPitch = 0;

	// Bytes of the whole image; std::invalid_argument for an unknown format.
	uint64_t byteSize() const;
};

struct CropInfo {
	bool present = false;
	int64_t x = 0;
	int64_t y = 0;
	int64_t width = 0;
	int64_t height = 0;
};

// Parses "image.<prefix>.size", ".format" and ".row-pitch" and removes them
// from params. Throws std::invalid_argument naming what is wrong.
ImageInfo parseImageInfo(ParameterMap &params, const std::string &prefix, int64_t limit);

// (input, output) from a load's parameters; any key left over is refused.
std::pair<ImageInfo, ImageInfo> parseImageParams(const ParameterMap &params, int64_t limit = kImageLimit);

// Refuses a non-empty map, naming its first key.
void checkNoUnknownKeys(const ParameterMap &params);

// The crop of a job's parameters; without one the whole input image.
CropInfo parseCrop(const ParameterMap &params, uint64_t inputWidth, uint64_t inputHeight,
                   int64_t limit = kImageLimit);
// Refuses a rectangle that does not lie within an image of that size, with
// the texts of parseCrop.
void checkCropRect(const CropInfo &crop, uint64_t inputWidth, uint64_t inputHeight,
                   int64_t limit = kImageLimit);
// Bytes one row of pixels occupies: the smallest row pitch.
uint64_t rowBytes(ImageFormat format, uint64_t width);

} // namespace kalun::backendunit
