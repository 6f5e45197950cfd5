// Jobs as an application runs them, through libkalun and kalun on a private
// bus, beside the same work done directly in this process:
//  - Tiny: one ADD on 16 floats, run synchronously; the round trip's
//    median and 99th percentile (goal: median under 300 us).
//  - ConvService / ConvDirect: three 3x3 convolutions over a 224x224x3
//    image, a few milliseconds per invocation (goal: within 1.10 times).
//  - CropScaleService / CropScaleDirect: a 1920x1080 NV12 frame cropped to
//    1280x720 and scaled to 640x360 RGB (goal: within 1.3 times).
// Buffers are the service's own, allocated once and kept between jobs, as
// an application on the camera does.
#include <benchmark/benchmark.h>
#include <libkalun.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "private_bus.h"
#include "tflite_models.h"

#include "crop_scale_direct.h"

namespace
{

using kalun::test::OpSpec;
using kalun::test::TensorSpec;

constexpr int kSize = 224;
constexpr int kChannels = 16;

using namespace bench;

// out = in + 1, float [16].
std::vector<uint8_t> tinyAddModel()
{
	OpSpec add{tflite::BuiltinOperator_ADD,
	           {0, 1},
	           {2},
	           tflite::BuiltinOptions_AddOptions,
	           [](flatbuffers::FlatBufferBuilder &fb) { return tflite::CreateAddOptions(fb).Union(); }};
	return kalun::test::buildModel({{{{16}, tflite::TensorType_FLOAT32, "in"},
	                                 {{16},
	                                  tflite::TensorType_FLOAT32,
	                                  "one",
	                                  kalun::test::floatBytes(std::vector<float>(16, 1.0f))},
	                                 {{16}, tflite::TensorType_FLOAT32, "out"}},
	                                {0},
	                                {2},
	                                {add}});
}

std::string errorText(kalunError *&error)
{
	std::string text = error && error->msg ? error->msg : "unknown error";
	kalunClearError(&error);
	return text;
}

bool serviceUp()
{
	sd_bus *bus = nullptr;
	if (sd_bus_open_system(&bus) < 0)
		return false;
	uint64_t n = 0;
	const int r =
	    sd_bus_get_property_trivial(bus, "com.tovi.Kalun1", "/com/tovi/Kalun1", "com.tovi.Kalun1.Service",
	                                "NbrOfSessions", nullptr, 't', &n);
	sd_bus_flush_close_unref(bus);
	return r >= 0;
}

// The private bus, the service on it and one connection, for the whole run.
class Service
{
      public:
	Service()
	{
		pid_ = fork();
		if (pid_ == 0) {
			execl(KALUN_PROGRAM, KALUN_PROGRAM, "-s", static_cast<char *>(nullptr));
			_exit(127);
		}
		for (int i = 0; i < 400 && !serviceUp(); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(25));
		kalunError *error = nullptr;
		if (!kalunConnect(&conn_, &error))
			throw std::runtime_error("connect: " + errorText(error));
	}
	~Service()
	{
		kalunDisconnect(&conn_, nullptr);
		kill(pid_, SIGTERM);
		waitpid(pid_, nullptr, 0);
	}
	kalunConnection *conn()
	{
		return conn_;
	}

      private:
	testsupport::PrivateBus bus_;
	pid_t pid_ = -1;
	kalunConnection *conn_ = nullptr;
};

Service &service()
{
	static Service s;
	return s;
}

// A loaded model with service buffers, and the request that runs it.
class Job
{
      public:
	Job(const char *device, const std::vector<uint8_t> &model, kalunMap *loadParams, kalunMap *jobParams)
	{
		kalunConnection *conn = service().conn();
		kalunError *error = nullptr;
		int fd = -1;
		if (!model.empty()) {
			fd = memfd_create("bench-model", MFD_CLOEXEC);
			if (fd < 0 || write(fd, model.data(), model.size()) != ssize_t(model.size()))
				throw std::runtime_error("model file");
		}
		model_ = kalunLoadModel(conn, fd, kalunGetDevice(conn, device, 0, nullptr), 1, "bench",
		                        loadParams, &error);
		if (fd >= 0)
			close(fd);
		if (!model_)
			throw std::runtime_error("load: " + errorText(error));
		const uint32_t props = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP;
		inputs_ = kalunAllocModelInputs(conn, model_, props, &numIn_, nullptr, &error);
		outputs_ = inputs_ ? kalunAllocModelOutputs(conn, model_, props, &numOut_, nullptr, &error)
		                   : nullptr;
		if (!outputs_)
			throw std::runtime_error("alloc: " + errorText(error));
		req_ = kalunCreateJobRequest(model_, inputs_, numIn_, outputs_, numOut_, jobParams, &error);
		if (!req_)
			throw std::runtime_error("request: " + errorText(error));
	}
	~Job()
	{
		kalunDestroyJobRequest(&req_);
		kalunDestroyTensors(service().conn(), &inputs_, numIn_, nullptr);
		kalunDestroyTensors(service().conn(), &outputs_, numOut_, nullptr);
		kalunDeleteModel(service().conn(), model_, nullptr);
		kalunDestroyModel(&model_);
	}
	int inputFd() const
	{
		return kalunGetTensorFd(inputs_[0], nullptr);
	}
	bool run(benchmark::State &state)
	{
		kalunError *error = nullptr;
		if (kalunRunJob(service().conn(), req_, &error))
			return true;
		state.SkipWithError(("job: " + errorText(error)).c_str());
		return false;
	}

      private:
	kalunModel *model_ = nullptr;
	kalunTensor **inputs_ = nullptr;
	kalunTensor **outputs_ = nullptr;
	size_t numIn_ = 0, numOut_ = 0;
	kalunJobRequest *req_ = nullptr;
};

void Tiny(benchmark::State &state)
{
	Job job("cpu-tflite", tinyAddModel(), nullptr, nullptr);
	std::vector<double> micros;
	micros.reserve(100000);
	for (auto _ : state) {
		const auto start = std::chrono::steady_clock::now();
		if (!job.run(state))
			break;
		micros.push_back(
		    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
		        .count());
	}
	if (micros.empty())
		return;
	std::sort(micros.begin(), micros.end());
	state.counters["median_us"] = micros[micros.size() / 2];
	state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void ConvService(benchmark::State &state)
{
	Job job("cpu-tflite", kalun::test::convStackModel(kSize, kChannels), nullptr, nullptr);
	for (auto _ : state)
		if (!job.run(state))
			break;
}

void ConvDirect(benchmark::State &state)
{
	const std::vector<uint8_t> bytes = kalun::test::convStackModel(kSize, kChannels);
	auto flat = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
	    reinterpret_cast<const char *>(bytes.data()), bytes.size());
	tflite::ops::builtin::BuiltinOpResolver resolver;
	std::unique_ptr<tflite::Interpreter> interpreter;
	if (flat)
		tflite::InterpreterBuilder(*flat, resolver)(&interpreter);
	if (!interpreter || interpreter->SetNumThreads(2) != kTfLiteOk ||
	    interpreter->AllocateTensors() != kTfLiteOk) {
		state.SkipWithError("interpreter");
		return;
	}
	for (auto _ : state)
		if (interpreter->Invoke() != kTfLiteOk) {
			state.SkipWithError("invoke");
			break;
		}
}

kalunMap *nv12ToRgbParams()
{
	kalunMap *map = kalunCreateMap(nullptr);
	kalunMapSetIntArr2(map, "image.input.size", kInW, kInH, nullptr);
	kalunMapSetStr(map, "image.input.format", "nv12", nullptr);
	kalunMapSetIntArr2(map, "image.output.size", kOutW, kOutH, nullptr);
	kalunMapSetStr(map, "image.output.format", "rgb-interleaved", nullptr);
	return map;
}

std::vector<uint8_t> frameBytes()
{
	std::vector<uint8_t> bytes(kInSize);
	for (size_t i = 0; i < kInSize; ++i)
		bytes[i] = static_cast<uint8_t>((i * 7) % 251);
	return bytes;
}

void CropScaleService(benchmark::State &state)
{
	kalunMap *load = nv12ToRgbParams();
	kalunMap *crop = kalunCreateMap(nullptr);
	kalunMapSetIntArr4(crop, "image.input.crop", kCropX, kCropY, kCropW, kCropH, nullptr);
	{
		Job job("cpu-proc", {}, load, crop);
		const auto frame = frameBytes();
		if (pwrite(job.inputFd(), frame.data(), frame.size(), 0) != ssize_t(frame.size()))
			state.SkipWithError("frame");
		for (auto _ : state)
			if (!job.run(state))
				break;
		state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInSize));
	}
	kalunDestroyMap(&load);
	kalunDestroyMap(&crop);
}

// The same libyuv calls the unit makes, on mapped memory files with scratch
// memory prepared in advance.
void CropScaleDirect(benchmark::State &state)
{
	const int inFd = memfd_create("bench-in", MFD_CLOEXEC);
	const int outFd = memfd_create("bench-out", MFD_CLOEXEC);
	const auto frame = frameBytes();
	if (inFd < 0 || outFd < 0 || ftruncate(outFd, kOutSize) != 0 ||
	    write(inFd, frame.data(), frame.size()) != ssize_t(frame.size())) {
		state.SkipWithError("memfd");
		return;
	}
	void *inMap = mmap(nullptr, kInSize, PROT_READ, MAP_SHARED, inFd, 0);
	void *outMap = mmap(nullptr, kOutSize, PROT_READ | PROT_WRITE, MAP_SHARED, outFd, 0);
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
	close(inFd);
	close(outFd);
}

BENCHMARK(Tiny)->Unit(benchmark::kMicrosecond)->Iterations(5000)->UseRealTime();
BENCHMARK(ConvDirect)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ConvService)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(CropScaleDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(CropScaleService)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
