// A 1920x1080 NV12 frame cropped and scaled to 640x360 RGB: once through
// the cpu-proc unit's job path, once as the same libyuv calls made directly
// on the same mapped memfds with scratch memory prepared in advance. The
// unit should stay within 1.2 times the direct calls.
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include <benchmark/benchmark.h>

#include "kalun/backendunit/libyuv_unit.h"

#include "crop_scale_direct.h"

namespace
{

using kalun::backendunit::LibYuv;

using namespace bench;

int memfdOf(size_t size, bool pattern)
{
	const int fd = memfd_create("bench-kalun-proc", MFD_CLOEXEC);
	if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
		throw std::runtime_error("memfd");
	if (pattern) {
		std::vector<uint8_t> bytes(size);
		for (size_t i = 0; i < size; ++i)
			bytes[i] = static_cast<uint8_t>((i * 7) % 251);
		if (pwrite(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size))
			throw std::runtime_error("pwrite");
	}
	return fd;
}

// The frame and the result, shared by both runs.
struct Frame {
	Frame() : inFd(memfdOf(kInSize, true)), outFd(memfdOf(kOutSize, false)) {}
	~Frame()
	{
		close(inFd);
		close(outFd);
	}
	int inFd;
	int outFd;
};

Frame &frame()
{
	static Frame f;
	return f;
}

void UnitJob(benchmark::State &state)
{
	LibYuv unit;
	const kalun::ParameterMap load{{"image.input.size", std::vector<int64_t>{kInW, kInH}},
	                               {"image.input.format", std::string("nv12")},
	                               {"image.output.size", std::vector<int64_t>{kOutW, kOutH}},
	                               {"image.output.format", std::string("rgb-interleaved")}};
	unit.loadModelVirtual({}, 1, load);
	const kalun::ParameterMap job{
	    {"image.input.crop", std::vector<int64_t>{kCropX, kCropY, kCropW, kCropH}}};
	auto in = std::make_shared<kalun::Buffer>(
	    kalun::FileDescriptor(kalun::FileDescriptor::dup(frame().inFd)), kInSize, 0, 3);
	auto out = std::make_shared<kalun::Buffer>(
	    kalun::FileDescriptor(kalun::FileDescriptor::dup(frame().outFd)), kOutSize, 0, 3);
	const std::vector<kalun::Tensor> inputs{kalun::Tensor(3, 4, {}, {}, kInSize, "", in)};
	const std::vector<kalun::Tensor> outputs{kalun::Tensor(3, 2, {}, {}, kOutSize, "", out)};
	for (auto _ : state)
		unit.runJobVirtual(1, inputs, outputs, job);
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInSize));
}

void DirectCalls(benchmark::State &state)
{
	void *inMap = mmap(nullptr, kInSize, PROT_READ, MAP_SHARED, frame().inFd, 0);
	void *outMap = mmap(nullptr, kOutSize, PROT_READ | PROT_WRITE, MAP_SHARED, frame().outFd, 0);
	if (inMap == MAP_FAILED || outMap == MAP_FAILED) {
		state.SkipWithError("mmap");
		return;
	}
	const auto *src = static_cast<const uint8_t *>(inMap);
	auto *dst = static_cast<uint8_t *>(outMap);
	DirectCropScale direct;
	for (auto _ : state) {
		direct.run(src, dst);
		benchmark::DoNotOptimize(dst[0]);
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInSize));
	munmap(inMap, kInSize);
	munmap(outMap, kOutSize);
}

BENCHMARK(DirectCalls)->Unit(benchmark::kMicrosecond);
BENCHMARK(UnitJob)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
