// Golden pixels of the pre-processing unit: each conversion, crop and scale
// with and without padded rows, and the job road through mapped and
// read/write buffers.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "fake_session.h"
#include "kalun/backendunit/libyuv_unit.h"
#include "test_util.h"

namespace
{

using kalun::Buffer;
using kalun::ParameterMap;
using kalun::Tensor;
using kalun::backendunit::CropInfo;
using kalun::backendunit::ImageFormat;
using kalun::backendunit::ImageInfo;
using kalun::backendunit::LibYuv;
using kalun::test::thrownText;
using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int64_t>;

constexpr uint8_t kPad = 0xEE;

ImageInfo image(ImageFormat format, uint64_t w, uint64_t h, uint64_t pitch)
{
	return {format, w, h, true, pitch};
}

// An NV12 image whose luma at (x, y) is luma(x, y) and whose chroma pair
// (cx, cy) is chroma(cx, cy); padding bytes are kPad.
template <typename L, typename C> Bytes nv12(uint64_t w, uint64_t h, uint64_t pitch, L luma, C chroma)
{
	Bytes bytes(h * pitch * 3 / 2, kPad);
	for (uint64_t y = 0; y < h; ++y)
		for (uint64_t x = 0; x < w; ++x)
			bytes[y * pitch + x] = luma(x, y);
	for (uint64_t cy = 0; cy < h / 2; ++cy)
		for (uint64_t cx = 0; cx < w / 2; ++cx) {
			const auto [u, v] = chroma(cx, cy);
			bytes[h * pitch + cy * pitch + 2 * cx] = u;
			bytes[h * pitch + cy * pitch + 2 * cx + 1] = v;
		}
	return bytes;
}

struct Rgb {
	int r, g, b;
};

template <typename F> Bytes rgb(uint64_t w, uint64_t h, uint64_t pitch, F pixel)
{
	Bytes bytes(h * pitch, kPad);
	for (uint64_t y = 0; y < h; ++y)
		for (uint64_t x = 0; x < w; ++x) {
			const Rgb p = pixel(x, y);
			uint8_t *at = &bytes[y * pitch + 3 * x];
			at[0] = static_cast<uint8_t>(p.r);
			at[1] = static_cast<uint8_t>(p.g);
			at[2] = static_cast<uint8_t>(p.b);
		}
	return bytes;
}

Rgb rgbAt(const Bytes &bytes, uint64_t pitch, uint64_t x, uint64_t y)
{
	const uint8_t *at = &bytes[y * pitch + 3 * x];
	return {at[0], at[1], at[2]};
}

// Every byte of the image's rows beyond its pixels still holds kPad.
void expectPadding(const Bytes &bytes, uint64_t rows, uint64_t pitch, uint64_t rowBytes)
{
	for (uint64_t y = 0; y < rows; ++y)
		for (uint64_t x = rowBytes; x < pitch; ++x)
			ASSERT_EQ(bytes[y * pitch + x], kPad) << "row " << y << " byte " << x;
}

// Full-range BT.601, the matrix NV12 is read with.
Rgb fullRange(double y, double u, double v)
{
	return {static_cast<int>(std::lround(std::clamp(y + 1.402 * (v - 128), 0.0, 255.0))),
	        static_cast<int>(
	            std::lround(std::clamp(y - 0.344136 * (u - 128) - 0.714136 * (v - 128), 0.0, 255.0))),
	        static_cast<int>(std::lround(std::clamp(y + 1.772 * (u - 128), 0.0, 255.0)))};
}

void expectNear(const Rgb &got, const Rgb &want, int tolerance)
{
	EXPECT_NEAR(got.r, want.r, tolerance);
	EXPECT_NEAR(got.g, want.g, tolerance);
	EXPECT_NEAR(got.b, want.b, tolerance);
}

// Four flat quadrants of a 32x16 image.
const uint8_t kQuadLuma[4] = {20, 90, 160, 230};
const std::pair<uint8_t, uint8_t> kQuadChroma[4] = {{40, 200}, {100, 150}, {170, 60}, {220, 30}};
const Rgb kQuadRgb[4] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {128, 128, 128}};

int quadrant(uint64_t x, uint64_t y, uint64_t w, uint64_t h)
{
	return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
}

Bytes quadNv12(uint64_t pitch)
{
	return nv12(
	    32, 16, pitch, [](uint64_t x, uint64_t y) { return kQuadLuma[quadrant(x, y, 32, 16)]; },
	    [](uint64_t cx, uint64_t cy) { return kQuadChroma[quadrant(cx, cy, 16, 8)]; });
}

Bytes quadRgb(uint64_t pitch)
{
	return rgb(32, 16, pitch, [](uint64_t x, uint64_t y) { return kQuadRgb[quadrant(x, y, 32, 16)]; });
}

TEST(LibYuvConvert, Nv12ToRgbInterleaved)
{
	// Left half neutral, right half red-shifted, with padded rows on both sides.
	const auto chroma = [](uint64_t cx, uint64_t) {
		return cx == 0 ? std::make_pair(uint8_t{128}, uint8_t{128})
		               : std::make_pair(uint8_t{90}, uint8_t{200});
	};
	const Bytes in = nv12(
	    4, 2, 6, [](uint64_t, uint64_t) { return 128; }, chroma);
	Bytes out(2 * 14, kPad);
	LibYuv::convertFormat(in, out, image(ImageFormat::NV12, 4, 2, 6),
	                      image(ImageFormat::RGB_INTERLEAVED, 4, 2, 14));
	for (uint64_t y = 0; y < 2; ++y) {
		for (uint64_t x = 0; x < 2; ++x) {
			const Rgb gray = rgbAt(out, 14, x, y);
			EXPECT_EQ(std::make_tuple(gray.r, gray.g, gray.b), std::make_tuple(128, 128, 128));
		}
		for (uint64_t x = 2; x < 4; ++x)
			expectNear(rgbAt(out, 14, x, y), fullRange(128, 90, 200), 2);
	}
	expectPadding(out, 2, 14, 12);
}

TEST(LibYuvConvert, Nv12ToRgbPlanar)
{
	const Bytes in = nv12(
	    4, 2, 4, [](uint64_t x, uint64_t) { return x < 2 ? 128 : 50; },
	    [](uint64_t cx, uint64_t) {
		    return cx == 0 ? std::make_pair(uint8_t{128}, uint8_t{128})
		                   : std::make_pair(uint8_t{90}, uint8_t{240});
	    });
	Bytes out(3 * 2 * 6, kPad);
	LibYuv::convertFormat(in, out, image(ImageFormat::NV12, 4, 2, 4),
	                      image(ImageFormat::RGB_PLANAR, 4, 2, 6));
	const Rgb want = fullRange(50, 90, 240);
	for (uint64_t y = 0; y < 2; ++y) {
		for (uint64_t x = 0; x < 4; ++x) {
			const Rgb got{out[y * 6 + x], out[12 + y * 6 + x], out[24 + y * 6 + x]};
			if (x < 2)
				EXPECT_EQ(std::make_tuple(got.r, got.g, got.b),
				          std::make_tuple(128, 128, 128));
			else
				expectNear(got, want, 2);
		}
	}
	expectPadding(out, 6, 6, 4);
}

TEST(LibYuvConvert, RgbInterleavedToNv12)
{
	// Limited-range BT.601, libyuv's RGB to YUV matrix.
	struct Case {
		Rgb colour;
		int y, u, v;
	};
	const Case cases[] = {
	    {{128, 128, 128}, 126, 128, 128},
	    {{255, 0, 0}, 82, 90, 240},
	    {{0, 255, 0}, 145, 54, 34},
	    {{0, 0, 255}, 41, 240, 110},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.y);
		const Bytes in = rgb(4, 2, 14, [&](uint64_t, uint64_t) { return c.colour; });
		Bytes out(2 * 6 * 3 / 2, kPad);
		LibYuv::convertFormat(in, out, image(ImageFormat::RGB_INTERLEAVED, 4, 2, 14),
		                      image(ImageFormat::NV12, 4, 2, 6));
		for (uint64_t y = 0; y < 2; ++y)
			for (uint64_t x = 0; x < 4; ++x)
				EXPECT_NEAR(out[y * 6 + x], c.y, 1);
		for (uint64_t cx = 0; cx < 2; ++cx) {
			EXPECT_NEAR(out[12 + 2 * cx], c.u, 1);
			EXPECT_NEAR(out[12 + 2 * cx + 1], c.v, 1);
		}
		expectPadding(out, 3, 6, 4);
	}
}

TEST(LibYuvConvert, RgbPlanarToInterleavedIsAnExactMerge)
{
	const uint64_t w = 6, h = 4, inPitch = 8, outPitch = 20;
	Bytes in(3 * h * inPitch, kPad);
	for (uint64_t p = 0; p < 3; ++p)
		for (uint64_t y = 0; y < h; ++y)
			for (uint64_t x = 0; x < w; ++x)
				in[p * h * inPitch + y * inPitch + x] =
				    static_cast<uint8_t>(p * 80 + y * w + x);
	Bytes out(h * outPitch, kPad);
	LibYuv::convertFormat(in, out, image(ImageFormat::RGB_PLANAR, w, h, inPitch),
	                      image(ImageFormat::RGB_INTERLEAVED, w, h, outPitch));
	for (uint64_t y = 0; y < h; ++y)
		for (uint64_t x = 0; x < w; ++x) {
			const Rgb got = rgbAt(out, outPitch, x, y);
			const int base = static_cast<int>(y * w + x);
			EXPECT_EQ(std::make_tuple(got.r, got.g, got.b),
			          std::make_tuple(base, base + 80, base + 160));
		}
	expectPadding(out, h, outPitch, 3 * w);
}

TEST(LibYuvConvert, UnsupportedPairings)
{
	Bytes in(64 * 3), out(64 * 3);
	struct Case {
		ImageFormat from, to;
		std::string message;
	};
	const std::string unknown = "Unknown color format in libyuv backend";
	const Case cases[] = {
	    {ImageFormat::RGB_INTERLEAVED, ImageFormat::RGB_PLANAR,
	     "Conversion from rgb-interleaved to rgb-planar is not supported in libyuv backend"},
	    {ImageFormat::NV12, ImageFormat::NV12, unknown},
	    {ImageFormat::RGB_INTERLEAVED, ImageFormat::RGB_INTERLEAVED, unknown},
	    {ImageFormat::RGB_PLANAR, ImageFormat::NV12, unknown},
	    {ImageFormat::RGB_PLANAR, ImageFormat::RGB_PLANAR, unknown},
	    {static_cast<ImageFormat>(5), ImageFormat::NV12, unknown},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		EXPECT_EQ(thrownText<std::invalid_argument>([&] {
			          LibYuv::convertFormat(in, out, image(c.from, 4, 4, 12),
			                                image(c.to, 4, 4, 12));
		          }),
		          c.message);
	}
}

TEST(LibYuvConvert, RefusesImagesLargerThanTheirBytes)
{
	Bytes small(10), out(100);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          LibYuv::convertFormat(small, out, image(ImageFormat::NV12, 4, 4, 4),
		                                image(ImageFormat::RGB_INTERLEAVED, 4, 4, 12));
	          }),
	          "Image of 24 bytes does not fit its buffer of 10 bytes");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          LibYuv::cropScale(out, small, image(ImageFormat::NV12, 4, 4, 4),
		                            image(ImageFormat::NV12, 4, 4, 4), {false, 0, 0, 4, 4});
	          }),
	          "Image of 24 bytes does not fit its buffer of 10 bytes");
	// Rows shorter than the pixels they hold do not fit any buffer.
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          LibYuv::convertFormat(out, out, image(ImageFormat::RGB_INTERLEAVED, 4, 4, 8),
		                                image(ImageFormat::NV12, 4, 4, 4));
	          }),
	          "Image of 32 bytes does not fit its buffer of 100 bytes");
}

// A crop at the output's size is a copy: every luma byte and chroma pair of
// the rectangle arrives unchanged, read and written through padded rows.
TEST(LibYuvCropScale, Nv12CropIsExactWithAndWithoutPadding)
{
	const auto luma = [](uint64_t x, uint64_t y) { return static_cast<uint8_t>(y * 32 + x); };
	const auto chroma = [](uint64_t cx, uint64_t cy) {
		return std::make_pair(static_cast<uint8_t>(cy * 16 + cx),
		                      static_cast<uint8_t>(255 - (cy * 16 + cx)));
	};
	for (const auto &[inPitch, outPitch] : {std::pair<uint64_t, uint64_t>{32, 8}, {40, 12}}) {
		SCOPED_TRACE(inPitch);
		const Bytes in = nv12(32, 16, inPitch, luma, chroma);
		Bytes out(6 * outPitch * 3 / 2, kPad);
		LibYuv::cropScale(in, out, image(ImageFormat::NV12, 32, 16, inPitch),
		                  image(ImageFormat::NV12, 8, 6, outPitch), {true, 4, 2, 8, 6});
		for (uint64_t y = 0; y < 6; ++y)
			for (uint64_t x = 0; x < 8; ++x)
				ASSERT_EQ(out[y * outPitch + x], luma(4 + x, 2 + y)) << x << "," << y;
		// The chroma plane starts after six rows of the output pitch.
		for (uint64_t cy = 0; cy < 3; ++cy)
			for (uint64_t cx = 0; cx < 4; ++cx) {
				const auto [u, v] = chroma(2 + cx, 1 + cy);
				ASSERT_EQ(out[6 * outPitch + cy * outPitch + 2 * cx], u) << cx << "," << cy;
				ASSERT_EQ(out[6 * outPitch + cy * outPitch + 2 * cx + 1], v)
				    << cx << "," << cy;
			}
		expectPadding(out, 9, outPitch, 8);
	}
}

TEST(LibYuvCropScale, Nv12ScalesQuadrants)
{
	struct Case {
		CropInfo crop;
		uint64_t w, h, pitch;
	};
	const Case cases[] = {
	    {{false, 0, 0, 32, 16}, 16, 8, 16}, // halve the whole image
	    {{false, 0, 0, 32, 16}, 16, 8, 20}, // into padded rows
	    {{true, 16, 8, 16, 8}, 32, 16, 32}, // one quadrant blown up
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.pitch);
		const Bytes in = quadNv12(36);
		Bytes out(c.h * c.pitch * 3 / 2, kPad);
		LibYuv::cropScale(in, out, image(ImageFormat::NV12, 32, 16, 36),
		                  image(ImageFormat::NV12, c.w, c.h, c.pitch), c.crop);
		const auto quad = [&](uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
			return c.crop.present ? 3 : quadrant(x, y, w, h);
		};
		for (uint64_t y = 0; y < c.h; ++y)
			for (uint64_t x = 0; x < c.w; ++x)
				ASSERT_EQ(out[y * c.pitch + x], kQuadLuma[quad(x, y, c.w, c.h)])
				    << x << "," << y;
		for (uint64_t cy = 0; cy < c.h / 2; ++cy)
			for (uint64_t cx = 0; cx < c.w / 2; ++cx) {
				const uint8_t *at = &out[c.h * c.pitch + cy * c.pitch + 2 * cx];
				const auto want = kQuadChroma[quad(cx, cy, c.w / 2, c.h / 2)];
				ASSERT_EQ(std::make_pair(at[0], at[1]), want) << cx << "," << cy;
			}
		expectPadding(out, c.h * 3 / 2, c.pitch, c.w);
	}
}

// RGB passes through 4:2:0 on the way, so flat colours come back within a
// few steps.
TEST(LibYuvCropScale, RgbCropsAndScalesQuadrants)
{
	for (const auto &[inPitch, outPitch] : {std::pair<uint64_t, uint64_t>{96, 24}, {102, 30}}) {
		SCOPED_TRACE(inPitch);
		const Bytes in = quadRgb(inPitch);
		for (int q = 0; q < 4; ++q) {
			const CropInfo crop{true, (q & 1) * 16, (q & 2) * 4, 16, 8};
			Bytes out(4 * outPitch, kPad);
			LibYuv::cropScale(in, out, image(ImageFormat::RGB_INTERLEAVED, 32, 16, inPitch),
			                  image(ImageFormat::RGB_INTERLEAVED, 8, 4, outPitch), crop);
			for (uint64_t y = 0; y < 4; ++y)
				for (uint64_t x = 0; x < 8; ++x)
					expectNear(rgbAt(out, outPitch, x, y), kQuadRgb[q], 4);
			expectPadding(out, 4, outPitch, 24);
		}
	}
}

TEST(LibYuvCropScale, PlanarIsNotSupported)
{
	Bytes in(3 * 16), out(3 * 16);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          LibYuv::cropScale(in, out, image(ImageFormat::RGB_PLANAR, 4, 4, 4),
		                            image(ImageFormat::RGB_PLANAR, 4, 4, 4), {true, 0, 0, 2, 2});
	          }),
	          "Crop-scale for rgb-planar is not supported by libyuv backend");
}

// Jobs on the unit: buffers on memfds, mapped or read and written.
class LibYuvJob : public ::testing::Test
{
      protected:
	static std::shared_ptr<Buffer> buffer(const Bytes &contents, uint32_t props, int64_t offset = 0)
	{
		const int fd = memfd_create("libyuv-test", MFD_CLOEXEC);
		EXPECT_EQ(ftruncate(fd, static_cast<off_t>(offset + contents.size())), 0);
		EXPECT_EQ(pwrite(fd, contents.data(), contents.size(), offset),
		          static_cast<ssize_t>(contents.size()));
		return std::make_shared<Buffer>(kalun::FileDescriptor(fd), 0, offset, props);
	}
	static std::shared_ptr<Buffer> blank(size_t size, uint32_t props, int64_t offset = 0)
	{
		return buffer(Bytes(size, kPad), props, offset);
	}
	static Bytes contents(const Buffer &b, size_t size)
	{
		Bytes bytes(size);
		EXPECT_EQ(pread(b.getFd(), bytes.data(), size, b.getOffset()), static_cast<ssize_t>(size));
		return bytes;
	}

	uint64_t load(const std::string &inFormat, Ints inSize, const std::string &outFormat, Ints outSize)
	{
		unit.loadModelVirtual({}, ++lastId,
		                      {{"image.input.size", inSize},
		                       {"image.input.format", inFormat},
		                       {"image.output.size", outSize},
		                       {"image.output.format", outFormat}});
		return lastId;
	}

	void run(uint64_t model, std::shared_ptr<Buffer> in, std::shared_ptr<Buffer> out,
	         ParameterMap params = {})
	{
		unit.runJobVirtual(model, {Tensor(1, 1, {}, {}, 0, "", std::move(in))},
		                   {Tensor(1, 1, {}, {}, 0, "", std::move(out))}, params);
	}

	LibYuv unit;
	uint64_t lastId = 0;
};

TEST_F(LibYuvJob, GrayNv12BecomesGrayRgbThroughEveryBufferKind)
{
	const uint64_t model = load("nv12", {32, 16}, "rgb-interleaved", {16, 8});
	const Bytes gray = nv12(
	    32, 16, 32, [](uint64_t, uint64_t) { return 128; },
	    [](uint64_t, uint64_t) { return std::make_pair(uint8_t{128}, uint8_t{128}); });
	for (uint32_t inProps : {1u, 2u, 3u})
		for (uint32_t outProps : {1u, 2u, 3u}) {
			SCOPED_TRACE(std::to_string(inProps) + "/" + std::to_string(outProps));
			auto out = blank(384, outProps, 100);
			run(model, buffer(gray, inProps, 64), out);
			EXPECT_EQ(contents(*out, 384), Bytes(384, 128));
		}
}

TEST_F(LibYuvJob, EachRoadProducesItsImage)
{
	// nv12 to rgb-planar at another size: scale, then split.
	const uint64_t toPlanar = load("nv12", {32, 16}, "rgb-planar", {16, 8});
	const Bytes gray = nv12(
	    32, 16, 32, [](uint64_t, uint64_t) { return 128; },
	    [](uint64_t, uint64_t) { return std::make_pair(uint8_t{128}, uint8_t{128}); });
	auto planar = blank(384, 3);
	run(toPlanar, buffer(gray, 3), planar);
	EXPECT_EQ(contents(*planar, 384), Bytes(384, 128));

	// rgb-interleaved to nv12 with a crop: one quadrant, scaled, converted.
	const uint64_t toNv12 = load("rgb-interleaved", {32, 16}, "nv12", {8, 4});
	auto yuv = blank(48, 3);
	run(toNv12, buffer(quadRgb(96), 3), yuv, {{"image.input.crop", Ints{16, 8, 16, 8}}});
	const Bytes got = contents(*yuv, 48);
	for (size_t i = 0; i < 32; ++i)
		EXPECT_NEAR(got[i], 126, 2) << i;
	for (size_t i = 32; i < 48; ++i)
		EXPECT_NEAR(got[i], 128, 2) << i;

	// Same format and size: only a crop gives the job something to do.
	const uint64_t same = load("nv12", {32, 16}, "nv12", {32, 16});
	auto out = blank(768, 3);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { run(same, buffer(quadNv12(32), 3), out); }),
	          "No operation to be done");
	run(same, buffer(quadNv12(32), 3), out, {{"image.input.crop", Ints{0, 0, 16, 8}}});
	const Bytes blown = contents(*out, 768);
	EXPECT_EQ(Bytes(blown.begin(), blown.begin() + 512), Bytes(512, kQuadLuma[0]));
	for (size_t i = 512; i < 768; i += 2)
		EXPECT_EQ(std::make_pair(blown[i], blown[i + 1]), kQuadChroma[0]) << i;

	// Planar to interleaved at the same size merges; a crop would need a
	// planar crop-scale.
	const uint64_t merge = load("rgb-planar", {4, 2}, "rgb-interleaved", {4, 2});
	Bytes planes(24);
	for (size_t i = 0; i < planes.size(); ++i)
		planes[i] = static_cast<uint8_t>(i);
	auto merged = blank(24, 3);
	run(merge, buffer(planes, 1), merged);
	EXPECT_EQ(contents(*merged, 24), (Bytes{0, 8,  16, 1, 9,  17, 2, 10, 18, 3, 11, 19,
	                                        4, 12, 20, 5, 13, 21, 6, 14, 22, 7, 15, 23}));
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          run(merge, buffer(planes, 1), merged, {{"image.input.crop", Ints{0, 0, 2, 2}}});
	          }),
	          "Crop-scale for rgb-planar is not supported by libyuv backend");
}

TEST_F(LibYuvJob, JobsBackToBackGiveTheBytesOfEachAlone)
{
	// Odd crops and three roads of different sizes: whatever one job
	// leaves in the thread's scratch memory, the next must not use.
	struct Job {
		uint64_t model;
		Bytes input;
		size_t outSize;
		ParameterMap params;
	};
	auto noise = [](size_t size, uint32_t seed) {
		Bytes bytes(size);
		for (uint8_t &b : bytes) {
			seed = seed * 1664525u + 1013904223u;
			b = static_cast<uint8_t>(seed >> 24);
		}
		return bytes;
	};
	const std::vector<Job> jobs{
	    {load("nv12", {64, 32}, "rgb-interleaved", {16, 8}),
	     noise(3072, 1),
	     384,
	     {{"image.input.crop", Ints{3, 1, 51, 27}}}},
	    {load("rgb-interleaved", {32, 16}, "nv12", {24, 12}),
	     noise(1536, 2),
	     432,
	     {{"image.input.crop", Ints{1, 3, 29, 13}}}},
	    {load("nv12", {32, 16}, "rgb-planar", {20, 10}), noise(768, 3), 600, {}},
	    {load("nv12", {32, 16}, "nv12", {32, 16}),
	     noise(768, 4),
	     768,
	     {{"image.input.crop", Ints{5, 2, 7, 9}}}},
	};
	auto runOn = [&](const Job &job) {
		auto out = blank(job.outSize, 3);
		run(job.model, buffer(job.input, 3), out, job.params);
		return contents(*out, job.outSize);
	};
	// Alone: each on a thread of its own, with fresh scratch memory.
	std::vector<Bytes> alone;
	for (const Job &job : jobs)
		std::thread([&] { alone.push_back(runOn(job)); }).join();
	std::thread([&] {
		for (size_t i : {0, 1, 2, 3, 0, 3, 2, 1, 0})
			EXPECT_EQ(runOn(jobs[i]), alone[i]) << "job " << i;
	}).join();
}

TEST_F(LibYuvJob, RefusedJobs)
{
	const uint64_t model = load("nv12", {32, 16}, "rgb-interleaved", {16, 8});
	const Bytes in(768, 128);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { run(model, buffer(in, 4), blank(384, 3)); }),
	          "Input tensor fd property not supported by this chip; supported: "
	          "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { run(model, buffer(in, 3), blank(384, 4)); }),
	          "Output tensor fd property not supported by this chip; supported: "
	          "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          run(model, buffer(in, 3), blank(384, 3), {{"image.input.size", Ints{32, 16}}});
	          }),
	          "There are keys in the parameter map that this backend does not recognize (e.g. "
	          "\"image.input.size\"). Please refer to the documentation for this particular "
	          "backend.");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          run(model, buffer(in, 3), blank(384, 3), {{"image.input.crop", Ints{32, 0, 2, 2}}});
	          }),
	          "Crop x coord must be less than image width and smaller than 2147483647");
	EXPECT_EQ(thrownText<LibYuv::ModelNotFound>([&] { run(99, buffer(in, 3), blank(384, 3)); }),
	          "Model 99 not found");
	// A mapped input shorter than its image is refused before libyuv reads.
	EXPECT_FALSE(thrownText<kalun::FileDescriptorError>([&] {
		             run(model, buffer(Bytes(700), 2), blank(384, 3));
	             }).empty());
}

// The whole road: load, job and delete through the unit's queues.
TEST(LibYuvQueues, LoadJobDelete)
{
	LibYuv unit;
	unit.startProcessingQueues();
	auto session = std::make_shared<kalun::test::FakeSession>(5);
	unit.queueLoadModel(std::make_shared<kalun::LoadModelRequest>(
	    session, unit, 5, 1, Bytes{}, 1, "resize", 1,
	    ParameterMap{{"image.input.size", Ints{32, 16}},
	                 {"image.input.format", std::string("nv12")},
	                 {"image.output.size", Ints{16, 8}},
	                 {"image.output.format", std::string("nv12")}}));
	const auto loaded = session->waitForResults(1).back();
	ASSERT_EQ(loaded.errorType, "") << loaded.error;
	const kalun::Model model = unit.getModel(loaded.modelId);
	EXPECT_EQ(model.getInputs().at(0).getByteSize(), 768u);
	EXPECT_EQ(model.getOutputs().at(0).getByteSize(), 192u);

	const int inFd = memfd_create("in", MFD_CLOEXEC);
	const Bytes quads = quadNv12(32);
	ASSERT_EQ(write(inFd, quads.data(), quads.size()), 768);
	auto in = std::make_shared<Buffer>(kalun::FileDescriptor(inFd), 768, 0, 3);
	const int outFd = memfd_create("out", MFD_CLOEXEC);
	ASSERT_EQ(ftruncate(outFd, 192), 0);
	auto out = std::make_shared<Buffer>(kalun::FileDescriptor(outFd), 192, 0, 3);
	kalun::test::FakeSession::queueJob(
	    session, unit, 1,
	    std::make_shared<kalun::JobRequest>(
	        session, loaded.modelId,
	        std::vector<Tensor>{Tensor(3, 4, {3, 16, 32}, {768, 512, 32}, 768, "", in)},
	        std::vector<Tensor>{Tensor(3, 4, {}, {}, 192, "", out)}, 0, 2, ParameterMap{}));
	const auto job = session->waitForResults(2).back();
	EXPECT_EQ(job.errorType, "") << job.error;
	Bytes halved(192);
	ASSERT_EQ(pread(outFd, halved.data(), 192, 0), 192);
	EXPECT_EQ(halved[0], kQuadLuma[0]);
	EXPECT_EQ(halved[15], kQuadLuma[1]);
	EXPECT_EQ(halved[16 * 7], kQuadLuma[2]);
	EXPECT_EQ(halved[127], kQuadLuma[3]);
	EXPECT_EQ(std::make_pair(halved[190], halved[191]), kQuadChroma[3]);

	unit.queueDeleteModel(
	    std::make_shared<kalun::DeleteModelRequest>(session, unit, 5, loaded.modelId, 1, 3));
	EXPECT_EQ(session->waitForResults(3).back().errorType, "");
	EXPECT_TRUE(unit.getModels().empty());
	EXPECT_EQ(thrownText<LibYuv::ModelNotFound>([&] { unit.deleteModelVirtual(loaded.modelId); }),
	          "Model " + std::to_string(loaded.modelId) + " not found");
}

} // namespace
