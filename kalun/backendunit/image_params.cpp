#include "kalun/backendunit/image_params.h"

#include <stdexcept>
#include <vector>

namespace kalun::backendunit
{

namespace
{

using IntArray = std::vector<int64_t>;

std::string key(const std::string &prefix, const char *field)
{
	return "image." + prefix + "." + field;
}

std::string unrecognisedKey(const std::string &name)
{
	return "There are keys in the parameter map that this backend does not recognize (e.g. \"" + name +
	       "\"). Please refer to the documentation for this particular backend.";
}

ImageFormat parseFormatName(const std::string &name)
{
	if (name == "nv12")
		return ImageFormat::NV12;
	if (name == "rgb-interleaved")
		return ImageFormat::RGB_INTERLEAVED;
	if (name == "rgb-planar")
		return ImageFormat::RGB_PLANAR;
	throw std::invalid_argument("Unsupported img format (" + name + ")");
}

void checkDimension(int64_t value, const std::string &prefix, const char *what, int64_t limit)
{
	if (value > 0 && value < limit)
		return;
	throw std::invalid_argument(prefix + " image " + what + " must be positive integer smaller than " +
	                            std::to_string(limit) + " (got " + std::to_string(value) + ")");
}

// A row must hold all of its pixels, or the conversions, which walk whole
// rows, would run past the image. For "rgb-interleaved" that is three bytes
// per pixel.
void checkRowPitch(int64_t pitch, const ImageInfo &info, const std::string &prefix, int64_t limit)
{
	const uint64_t minimum = rowBytes(info.format, info.width);
	if (pitch > 0 && static_cast<uint64_t>(pitch) >= minimum && pitch < limit)
		return;
	const char *larger = info.format == ImageFormat::RGB_INTERLEAVED ? "at least 3 times image width"
	                                                                 : "larger than image width";
	throw std::invalid_argument(prefix + " image row pitch must be positive integer, " + larger +
	                            " and smaller than " + std::to_string(limit) + " (got " +
	                            std::to_string(pitch) + ")");
}

} // namespace

std::string formatName(ImageFormat format)
{
	switch (format) {
	case ImageFormat::NV12:
		return "nv12";
	case ImageFormat::RGB_INTERLEAVED:
		return "rgb-interleaved";
	case ImageFormat::RGB_PLANAR:
		return "rgb-planar";
	}
	return "unknown format";
}

uint64_t ImageInfo::byteSize() const
{
	switch (format) {
	case ImageFormat::NV12:
		return height * rowPitch * 3 / 2;
	case ImageFormat::RGB_INTERLEAVED:
		return height * rowPitch;
	case ImageFormat::RGB_PLANAR:
		return height * rowPitch * 3;
	}
	throw std::invalid_argument("Unknown image format");
}

ImageInfo parseImageInfo(ParameterMap &params, const std::string &prefix, int64_t limit)
{
	ImageInfo info;

	const auto size = params.find(key(prefix, "size"));
	if (size == params.end())
		throw std::invalid_argument(prefix + " image size key not found in the parameter map");
	const IntArray *dims = std::get_if<IntArray>(&size->second);
	if (!dims)
		throw std::invalid_argument(prefix + " image size is not an int array");
	const IntArray wh = *dims;
	params.erase(size);
	if (wh.size() != 2)
		throw std::invalid_argument(prefix + " image size must be int array with size 2 (got " +
		                            std::to_string(wh.size()) + ")");
	checkDimension(wh[0], prefix, "width", limit);
	checkDimension(wh[1], prefix, "height", limit);
	info.width = static_cast<uint64_t>(wh[0]);
	info.height = static_cast<uint64_t>(wh[1]);

	const auto format = params.find(key(prefix, "format"));
	if (format == params.end())
		throw std::invalid_argument(prefix + " image format key not found in parameter map");
	const std::string *name = std::get_if<std::string>(&format->second);
	if (!name)
		throw std::invalid_argument(prefix + " image format is not a string");
	const std::string formatText = *name;
	params.erase(format);
	info.format = parseFormatName(formatText);

	const auto pitch = params.find(key(prefix, "row-pitch"));
	if (pitch == params.end()) {
		const uint64_t natural = rowBytes(info.format, info.width);
		// The natural pitch of a wide "rgb-interleaved" image can pass the
		// limit that a given pitch is held to.
		checkRowPitch(static_cast<int64_t>(natural), info, prefix, limit);
		info.rowPitch = natural;
		return info;
	}
	const int64_t *value = std::get_if<int64_t>(&pitch->second);
	if (!value)
		throw std::invalid_argument(prefix + " row-pitch is not an int");
	const int64_t given = *value;
	params.erase(pitch);
	checkRowPitch(given, info, prefix, limit);
	info.rowPitchGiven = true;
	info.rowPitch = static_cast<uint64_t>(given);
	return info;
}

std::pair<ImageInfo, ImageInfo> parseImageParams(const ParameterMap &params, int64_t limit)
{
	ParameterMap rest = params;
	ImageInfo input = parseImageInfo(rest, "input", limit);
	ImageInfo output = parseImageInfo(rest, "output", limit);
	checkNoUnknownKeys(rest);
	return {input, output};
}

void checkNoUnknownKeys(const ParameterMap &params)
{
	if (!params.empty())
		throw std::invalid_argument(unrecognisedKey(params.begin()->first));
}

CropInfo parseCrop(const ParameterMap &params, uint64_t inputWidth, uint64_t inputHeight, int64_t limit)
{
	const auto crop = params.find(kCropKey);
	if (crop == params.end()) {
		checkNoUnknownKeys(params);
		return {false, 0, 0, static_cast<int64_t>(inputWidth), static_cast<int64_t>(inputHeight)};
	}
	const IntArray *values = std::get_if<IntArray>(&crop->second);
	if (!values)
		throw std::invalid_argument("Crop info is not an int array");
	for (const auto &entry : params)
		if (entry.first != kCropKey)
			throw std::invalid_argument(unrecognisedKey(entry.first));
	if (values->size() != 4)
		throw std::invalid_argument("Crop info must have 4 entries (x,y,w,h)");

	const CropInfo info{true, (*values)[0], (*values)[1], (*values)[2], (*values)[3]};
	checkCropRect(info, inputWidth, inputHeight, limit);
	return info;
}

void checkCropRect(const CropInfo &info, uint64_t inputWidth, uint64_t inputHeight, int64_t limit)
{
	const int64_t w = static_cast<int64_t>(inputWidth);
	const int64_t h = static_cast<int64_t>(inputHeight);
	if (info.x < 0 || info.x >= w || info.x >= limit)
		throw std::invalid_argument("Crop x coord must be less than image width and smaller than " +
		                            std::to_string(limit));
	if (info.y < 0 || info.y >= h || info.y >= limit)
		throw std::invalid_argument("Crop y coord must be less than image height and smaller than " +
		                            std::to_string(limit));
	if (info.width < 1 || info.width >= limit || info.width > w - info.x)
		throw std::invalid_argument("Crop width must be within image boundary");
	if (info.height < 1 || info.height >= limit || info.height > h - info.y)
		throw std::invalid_argument("Crop height must be within image boundary");
}

uint64_t rowBytes(ImageFormat format, uint64_t width)
{
	switch (format) {
	case ImageFormat::RGB_INTERLEAVED:
		return 3 * width;
	case ImageFormat::NV12:
	case ImageFormat::RGB_PLANAR:
		return width;
	}
	throw std::invalid_argument("Unknown image format");
}

} // namespace kalun::backendunit
