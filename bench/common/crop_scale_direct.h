// The crop-and-scale benchmark's frame and its two baselines: the libyuv
// calls that the cpu-proc unit makes, and the fastest libyuv path to the
// same picture, both called directly on the same memory.
#pragma once

#include <libyuv.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench
{

constexpr int kInW = 1920, kInH = 1080;
constexpr int kOutW = 640, kOutH = 360;
constexpr int kCropX = 320, kCropY = 180, kCropW = 1280, kCropH = 720;
constexpr size_t kInSize = size_t{kInW} * kInH * 3 / 2;
constexpr size_t kOutSize = size_t{kOutW} * kOutH * 3;

// NV12 1920x1080 cropped to 1280x720 at (320,180), scaled to 640x360 and
// converted to interleaved RGB; the scratch images are made once.
class DirectCropScale
{
      public:
	DirectCropScale()
	    : cropped_(kCropW * kCropH * 3 / 2), scaled_(kOutW * kOutH * 3 / 2),
	      between_(kOutW * kOutH * 3 / 2)
	{
	}

	void run(const uint8_t *src, uint8_t *dst)
	{
		uint8_t *cy = cropped_.data();
		uint8_t *cu = cy + kCropW * kCropH;
		uint8_t *cv = cu + kCropW * kCropH / 4;
		uint8_t *sy = scaled_.data();
		uint8_t *su = sy + kOutW * kOutH;
		uint8_t *sv = su + kOutW * kOutH / 4;
		libyuv::NV12ToI420(src + kCropY * kInW + kCropX, kInW,
		                   src + kInW * kInH + (kCropY / 2) * kInW + kCropX, kInW, cy, kCropW, cu,
		                   kCropW / 2, cv, kCropW / 2, kCropW, kCropH);
		libyuv::I420Scale(cy, kCropW, cu, kCropW / 2, cv, kCropW / 2, kCropW, kCropH, sy, kOutW, su,
		                  kOutW / 2, sv, kOutW / 2, kOutW, kOutH, libyuv::kFilterBilinear);
		libyuv::ConvertFromI420(sy, kOutW, su, kOutW / 2, sv, kOutW / 2, between_.data(), kOutW,
		                        kOutW, kOutH, libyuv::FOURCC_NV12);
		libyuv::NV21ToRGB24Matrix(between_.data(), kOutW, between_.data() + kOutW * kOutH, kOutW, dst,
		                          kOutW * 3, &libyuv::kYvuJPEGConstants, kOutW, kOutH);
	}

      private:
	std::vector<uint8_t> cropped_, scaled_, between_;
};

// The same crop, scale and conversion in two passes: the crop scaled in
// NV12 straight to the output size, then converted. Scaling the
// interleaved chroma directly rounds differently from the planar path, by a
// level or two at most.
class FastCropScale
{
      public:
	FastCropScale() : scaled_(kOutW * kOutH * 3 / 2) {}

	void run(const uint8_t *src, uint8_t *dst)
	{
		uint8_t *sy = scaled_.data();
		uint8_t *suv = sy + kOutW * kOutH;
		libyuv::NV12Scale(src + kCropY * kInW + kCropX, kInW,
		                  src + kInW * kInH + (kCropY / 2) * kInW + kCropX, kInW, kCropW, kCropH, sy,
		                  kOutW, suv, kOutW, kOutW, kOutH, libyuv::kFilterBilinear);
		libyuv::NV21ToRGB24Matrix(sy, kOutW, suv, kOutW, dst, kOutW * 3, &libyuv::kYvuJPEGConstants,
		                          kOutW, kOutH);
	}

      private:
	std::vector<uint8_t> scaled_;
};

inline std::vector<uint8_t> frameBytes()
{
	std::vector<uint8_t> bytes(kInSize);
	for (size_t i = 0; i < kInSize; ++i)
		bytes[i] = static_cast<uint8_t>((i * 7) % 251);
	return bytes;
}

} // namespace bench
