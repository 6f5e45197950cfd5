// A 1920x1080 NV12 frame cropped to 1280x720 and scaled to 640x360 RGB:
// through the cpu-proc unit as the service runs it (queued to the unit's
// job worker, checked, run and handed back), beside the same work done
// directly on the same mapped memfds with scratch memory prepared in
// advance, once with the libyuv passes the unit makes and once with the
// fastest libyuv path to the same picture, so that the unit's own choice of
// passes shows apart from what the queue costs, and once more with the
// unit's passes handed to a worker thread of the benchmark's own, the fair
// control for the hand-off the unit must make (waking a thread, another
// core's caches). The sides take turns job by job. Goal: unit/passes at
// most 1.05.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include <benchmark/benchmark.h>

#include "kalun/backendunit/libyuv_unit.h"

#include "bench_session.h"
#include "crop_scale_direct.h"
#include "paired.h"
#include "thread_runner.h"

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
		const std::vector<uint8_t> bytes = frameBytes();
		if (pwrite(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size))
			throw std::runtime_error("pwrite");
	}
	return fd;
}

std::shared_ptr<kalun::Buffer> bufferOf(int fd, size_t size)
{
	return std::make_shared<kalun::Buffer>(kalun::FileDescriptor(kalun::FileDescriptor::dup(fd)), size, 0,
	                                       kalun::KALUN_FD_PROP_READWRITE | kalun::KALUN_FD_PROP_MAP);
}

kalun::Tensor anyTensor(std::shared_ptr<kalun::Buffer> buffer)
{
	return kalun::Tensor(1, 1, {}, {}, 0, "", std::move(buffer));
}

// The unit started as the service starts it, with the crop-and-scale
// "model" loaded; each run queues one job order and waits for its result.
class UnitRunner
{
      public:
	UnitRunner(int inFd, int outFd)
	    : input_(anyTensor(bufferOf(inFd, kInSize))), output_(anyTensor(bufferOf(outFd, kOutSize)))
	{
		unit_.startProcessingQueues();
		const kalun::ParameterMap load{{"image.input.size", std::vector<int64_t>{kInW, kInH}},
		                               {"image.input.format", std::string("nv12")},
		                               {"image.output.size", std::vector<int64_t>{kOutW, kOutH}},
		                               {"image.output.format", std::string("rgb-interleaved")}};
		unit_.queueLoadModel(
		    std::make_shared<kalun::LoadModelRequest>(session_, unit_, 1, 0, std::vector<uint8_t>{},
		                                              kalun::kModelAccessPrivate, "crop", 0, load));
		modelId_ = session_->wait();
	}
	void run()
	{
		const kalun::ParameterMap crop{
		    {"image.input.crop", std::vector<int64_t>{kCropX, kCropY, kCropW, kCropH}}};
		session_->setPending(std::make_shared<kalun::JobRequest>(
		    session_, modelId_, std::vector<kalun::Tensor>{input_},
		    std::vector<kalun::Tensor>{output_}, 0, 0, crop));
		unit_.queueJob(std::make_shared<kalun::JobOrder>(session_, 0));
		session_->wait();
	}

      private:
	std::shared_ptr<BenchSession> session_ = std::make_shared<BenchSession>();
	LibYuv unit_;
	uint64_t modelId_ = 0;
	kalun::Tensor input_;
	kalun::Tensor output_;
};

// A memfd mapped as the direct calls see it.
class Mapping
{
      public:
	Mapping(int fd, size_t size, int prot)
	    : size_(size), data_(static_cast<uint8_t *>(mmap(nullptr, size, prot, MAP_SHARED, fd, 0)))
	{
		if (data_ == MAP_FAILED)
			throw std::runtime_error("mmap");
	}
	~Mapping()
	{
		munmap(data_, size_);
	}
	uint8_t *data() const
	{
		return data_;
	}

      private:
	size_t size_;
	uint8_t *data_;
};

void UnitOverDirect(benchmark::State &state)
{
	const int inFd = memfdOf(kInSize, true);
	const int outFd = memfdOf(kOutSize, false);
	{
		UnitRunner unit(inFd, outFd);
		const Mapping in(inFd, kInSize, PROT_READ);
		// The direct sides write elsewhere, so that the unit's picture can
		// be compared with theirs.
		std::vector<uint8_t> passesOut(kOutSize), fastOut(kOutSize), threadOut(kOutSize);
		DirectCropScale passes, threadPasses;
		FastCropScale fast;
		ThreadRunner thread([&] { threadPasses.run(in.data(), threadOut.data()); });
		runPaired(state, {{"unit", [&] { unit.run(); }},
		                  {"passes", [&] { passes.run(in.data(), passesOut.data()); }},
		                  {"fastest", [&] { fast.run(in.data(), fastOut.data()); }},
		                  {"thread", [&] { thread.run(); }}});
		const Mapping out(outFd, kOutSize, PROT_READ);
		int unitDiff = 0, fastDiff = 0;
		for (size_t i = 0; i < kOutSize; ++i) {
			unitDiff = std::max(unitDiff, std::abs(out.data()[i] - passesOut[i]));
			fastDiff = std::max(fastDiff, std::abs(fastOut[i] - passesOut[i]));
		}
		// 0: the unit made exactly the picture of its passes; the fastest
		// path's rounding differs by a few levels.
		state.counters["unit_max_diff"] = unitDiff;
		state.counters["fastest_max_diff"] = fastDiff;
		state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInSize));
	}
	close(inFd);
	close(outFd);
}

BENCHMARK(UnitOverDirect)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3000);

} // namespace

BENCHMARK_MAIN();
