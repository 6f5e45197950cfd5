// The pre-processing unit's image parameters: what a load describes and
// every refusal, word for word.
#include <gtest/gtest.h>

#include "kalun/backendunit/libyuv_unit.h"
#include "test_util.h"

namespace
{

using kalun::ParameterMap;
using kalun::TensorMetadata;
using kalun::backendunit::CropInfo;
using kalun::backendunit::ImageFormat;
using kalun::backendunit::LibYuv;
using kalun::backendunit::parseCrop;
using kalun::test::thrownText;
using Ints = std::vector<int64_t>;

const std::string kLimit = "2147483647";

std::string unrecognised(const std::string &key)
{
	return "There are keys in the parameter map that this backend does not recognize (e.g. \"" + key +
	       "\"). Please refer to the documentation for this particular backend.";
}

// The load of the worked example: a 32x16 NV12 input, a 16x8 RGB output.
ParameterMap workedLoad()
{
	return {{"image.input.size", Ints{32, 16}},
	        {"image.input.format", std::string("nv12")},
	        {"image.output.size", Ints{16, 8}},
	        {"image.output.format", std::string("rgb-interleaved")}};
}

ParameterMap with(ParameterMap params, const std::string &key, kalun::ParameterValue value)
{
	params[key] = std::move(value);
	return params;
}

ParameterMap without(ParameterMap params, const std::string &key)
{
	params.erase(key);
	return params;
}

void expectDescription(const TensorMetadata &t, int32_t layout, std::vector<size_t> dims,
                       std::vector<size_t> pitches, uint64_t byteSize, const std::string &name)
{
	EXPECT_EQ(t.getDataType(), 3);
	EXPECT_EQ(t.getLayout(), layout);
	EXPECT_EQ(t.getDims(), dims);
	EXPECT_EQ(t.getPitches(), pitches);
	EXPECT_EQ(t.getByteSize(), byteSize);
	EXPECT_EQ(t.getName(), name);
}

class LibYuvLoad : public ::testing::Test
{
      protected:
	LibYuv unit;
};

TEST_F(LibYuvLoad, WorkedLoadDescribesBothImages)
{
	const auto [inputs, outputs] = unit.loadModelVirtual({}, 1, workedLoad());
	ASSERT_EQ(inputs.size(), 1u);
	ASSERT_EQ(outputs.size(), 1u);
	expectDescription(inputs[0], 4, {3, 16, 32}, {768, 512, 32}, 768, "YUV420SP");
	expectDescription(outputs[0], 2, {1, 8, 16, 3}, {384, 384, 48, 3}, 384, "RGB_INTERLEAVED");
	EXPECT_EQ(unit.getNameAndChipId(), std::make_pair(std::string("cpu-proc"), 11));
	EXPECT_EQ(unit.getMinModelFormatVersion(), -1);
}

TEST_F(LibYuvLoad, PaddedPitchesAndPlanarOutput)
{
	ParameterMap params = workedLoad();
	params["image.input.row-pitch"] = int64_t{40};
	params["image.output.format"] = std::string("rgb-planar");
	params["image.output.row-pitch"] = int64_t{20};
	const auto [inputs, outputs] = unit.loadModelVirtual({}, 1, params);
	expectDescription(inputs[0], 4, {3, 16, 32}, {960, 640, 40}, 960, "YUV420SP");
	expectDescription(outputs[0], 3, {1, 3, 8, 16}, {480, 480, 160, 20}, 480, "RGB_PLANAR");

	const LibYuv::Context c = LibYuv::validateImageParams(params);
	EXPECT_TRUE(c.input.rowPitchGiven);
	EXPECT_EQ(c.input.rowPitch, 40u);
	EXPECT_EQ(c.output.format, ImageFormat::RGB_PLANAR);
	EXPECT_EQ(c.output.byteSize(), 480u);
}

TEST_F(LibYuvLoad, RefusalsNameTheirCause)
{
	const ParameterMap base = workedLoad();
	const ParameterMap rgbIn = with(with(base, "image.input.format", std::string("rgb-interleaved")),
	                                "image.output.format", std::string("nv12"));
	const ParameterMap planarIn = with(base, "image.input.format", std::string("rgb-planar"));
	struct Case {
		const char *what;
		ParameterMap params;
		std::string message;
	};
	const Case cases[] = {
	    {"crop at load", with(base, "image.input.crop", Ints{0, 0, 2, 2}),
	     unrecognised("image.input.crop")},
	    {"unknown key", with(base, "image.input.colour", std::string("x")),
	     unrecognised("image.input.colour")},
	    {"no input size", without(base, "image.input.size"),
	     "input image size key not found in the parameter map"},
	    {"size as text", with(base, "image.input.size", std::string("32x16")),
	     "input image size is not an int array"},
	    {"three sizes", with(base, "image.output.size", Ints{16, 8, 1}),
	     "output image size must be int array with size 2 (got 3)"},
	    {"zero width", with(base, "image.input.size", Ints{0, 16}),
	     "input image width must be positive integer smaller than " + kLimit + " (got 0)"},
	    {"negative width", with(base, "image.output.size", Ints{-2, 8}),
	     "output image width must be positive integer smaller than " + kLimit + " (got -2)"},
	    {"height at limit", with(base, "image.input.size", Ints{32, 2147483647}),
	     "input image height must be positive integer smaller than " + kLimit + " (got 2147483647)"},
	    {"no format", without(base, "image.output.format"),
	     "output image format key not found in parameter map"},
	    {"format as number", with(base, "image.input.format", int64_t{12}),
	     "input image format is not a string"},
	    {"format case", with(base, "image.input.format", std::string("NV12")),
	     "Unsupported img format (NV12)"},
	    {"pitch as array", with(base, "image.input.row-pitch", Ints{32}),
	     "input row-pitch is not an int"},
	    {"pitch below width", with(base, "image.input.row-pitch", int64_t{30}),
	     "input image row pitch must be positive integer, larger than image width and smaller "
	     "than " +
	         kLimit + " (got 30)"},
	    {"zero pitch", with(base, "image.input.row-pitch", int64_t{0}),
	     "input image row pitch must be positive integer, larger than image width and smaller "
	     "than " +
	         kLimit + " (got 0)"},
	    {"pitch at limit", with(base, "image.input.row-pitch", int64_t{2147483647}),
	     "input image row pitch must be positive integer, larger than image width and smaller "
	     "than " +
	         kLimit + " (got 2147483647)"},
	    // A row of 16 RGB pixels needs 48 bytes.
	    {"rgb pitch of pixels", with(base, "image.output.row-pitch", int64_t{32}),
	     "output image row pitch must be positive integer, at least 3 times image width and "
	     "smaller than " +
	         kLimit + " (got 32)"},
	    {"rgb natural pitch past limit", with(base, "image.output.size", Ints{1000000000, 8}),
	     "output image row pitch must be positive integer, at least 3 times image width and "
	     "smaller than " +
	         kLimit + " (got 3000000000)"},
	    {"odd height first", with(base, "image.input.size", Ints{33, 17}),
	     "Input height is not a multiple of 2"},
	    {"odd width", with(base, "image.input.size", Ints{33, 16}), "Input width is not a multiple of 2"},
	    {"odd input pitch", with(base, "image.input.row-pitch", int64_t{35}),
	     "Input row pitch is not a multiple of 2"},
	    {"odd output height", with(base, "image.output.size", Ints{16, 9}),
	     "Output height is not a multiple of 2"},
	    {"odd output width", with(base, "image.output.size", Ints{15, 8}),
	     "Output width is not a multiple of 2"},
	    {"odd output pitch", with(base, "image.output.row-pitch", int64_t{49}),
	     "Output row pitch is not a multiple of 2"},
	    {"rgb to planar", with(rgbIn, "image.output.format", std::string("rgb-planar")),
	     "rgb-planar is only supported as output format when nv12 is used as input format"},
	    {"planar to planar", with(planarIn, "image.output.format", std::string("rgb-planar")),
	     "rgb-planar is only supported as output format when nv12 is used as input format"},
	    {"planar resized", planarIn,
	     "rgb-planar to rgb-interleaved requires same input resolution as output resolution"},
	    {"planar to nv12", with(planarIn, "image.output.format", std::string("nv12")),
	     "Unknown color format in libyuv backend"},
	};
	uint64_t id = 100;
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		++id;
		EXPECT_EQ(thrownText<std::invalid_argument>([&] { unit.loadModelVirtual({}, id, c.params); }),
		          c.message);
		// A refused load keeps nothing.
		EXPECT_EQ(thrownText<LibYuv::ModelNotFound>([&] { unit.deleteModelVirtual(id); }),
		          "Model " + std::to_string(id) + " not found");
	}
}

TEST_F(LibYuvLoad, AcceptedPairings)
{
	const ParameterMap base = workedLoad();
	const ParameterMap same = with(base, "image.output.size", Ints{32, 16});
	const ParameterMap accepted[] = {
	    base,
	    with(base, "image.output.format", std::string("nv12")),
	    with(base, "image.output.format", std::string("rgb-planar")),
	    with(with(base, "image.input.format", std::string("rgb-interleaved")), "image.output.format",
	         std::string("nv12")),
	    with(with(base, "image.input.format", std::string("rgb-interleaved")), "image.input.row-pitch",
	         int64_t{96}),
	    with(same, "image.input.format", std::string("rgb-planar")),
	};
	uint64_t id = 0;
	for (const ParameterMap &params : accepted)
		EXPECT_NO_THROW(unit.loadModelVirtual({}, ++id, params)) << id;
}

TEST_F(LibYuvLoad, ModelDataAndIdsAreRefused)
{
	const std::vector<uint8_t> data{1};
	EXPECT_EQ(thrownText<std::invalid_argument>(
	              [&] { unit.loadModelVirtual(kalun::ConstByteSpan(data), 1, workedLoad()); }),
	          "libyuv does not use model data");
	unit.loadModelVirtual({}, 7, workedLoad());
	EXPECT_EQ(thrownText<std::runtime_error>([&] { unit.loadModelVirtual({}, 7, workedLoad()); }),
	          "Could not save context");
	unit.deleteModelVirtual(7);
	EXPECT_EQ(thrownText<LibYuv::ModelNotFound>([&] { unit.deleteModelVirtual(7); }),
	          "Model 7 not found");
}

TEST(LibYuvCrop, TableOfRectangles)
{
	struct Case {
		ParameterMap params;
		std::string message; // "" when accepted
	};
	const std::string width = "Crop width must be within image boundary";
	const std::string height = "Crop height must be within image boundary";
	const std::string x = "Crop x coord must be less than image width and smaller than " + kLimit;
	const std::string y = "Crop y coord must be less than image height and smaller than " + kLimit;
	const Case cases[] = {
	    {{{"image.input.crop", Ints{0, 0, 32, 16}}}, ""},
	    {{{"image.input.crop", Ints{31, 15, 1, 1}}}, ""},
	    {{{"image.input.crop", Ints{1, 0, 32, 16}}}, width},
	    {{{"image.input.crop", Ints{0, 0, 0, 16}}}, width},
	    {{{"image.input.crop", Ints{32, 0, 2, 2}}}, x},
	    {{{"image.input.crop", Ints{-1, 0, 2, 2}}}, x},
	    {{{"image.input.crop", Ints{0, 16, 2, 2}}}, y},
	    {{{"image.input.crop", Ints{0, 15, 2, 2}}}, height},
	    {{{"image.input.crop", Ints{0, 0, 2, -1}}}, height},
	    {{{"image.input.crop", Ints{0, 0, 2}}}, "Crop info must have 4 entries (x,y,w,h)"},
	    {{{"image.input.crop", std::string("0,0,2,2")}}, "Crop info is not an int array"},
	    {{{"image.input.crop", Ints{0, 0, 2, 2}}, {"image.input.size", Ints{32, 16}}},
	     unrecognised("image.input.size")},
	    {{{"image.output.format", std::string("nv12")}}, unrecognised("image.output.format")},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		EXPECT_EQ(thrownText<std::invalid_argument>([&] { parseCrop(c.params, 32, 16); }), c.message);
	}

	const CropInfo none = parseCrop({}, 32, 16);
	EXPECT_FALSE(none.present);
	EXPECT_EQ(std::make_tuple(none.x, none.y, none.width, none.height), std::make_tuple(0, 0, 32, 16));
	const CropInfo some = parseCrop({{"image.input.crop", Ints{2, 4, 6, 8}}}, 32, 16);
	EXPECT_TRUE(some.present);
	EXPECT_EQ(std::make_tuple(some.x, some.y, some.width, some.height), std::make_tuple(2, 4, 6, 8));
}

TEST(LibYuvFormats, NamesAndSizes)
{
	using kalun::backendunit::formatName;
	using kalun::backendunit::ImageInfo;
	EXPECT_EQ(formatName(ImageFormat::NV12), "nv12");
	EXPECT_EQ(formatName(ImageFormat::RGB_INTERLEAVED), "rgb-interleaved");
	EXPECT_EQ(formatName(ImageFormat::RGB_PLANAR), "rgb-planar");
	EXPECT_EQ(formatName(static_cast<ImageFormat>(3)), "unknown format");
	const ImageInfo odd{static_cast<ImageFormat>(9), 4, 4, false, 4};
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { odd.byteSize(); }), "Unknown image format");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { LibYuv::tensorMetadataOf(odd); }),
	          "unknown format is not supported by libyuv backend");
	EXPECT_EQ((ImageInfo{ImageFormat::NV12, 6, 6, true, 10}.byteSize()), 90u);
}

} // namespace
