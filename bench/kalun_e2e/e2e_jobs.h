// The jobs of the end-to-end benchmark as a client application sets them
// up, shared by the benchmark and its client processes: a loaded model
// with service buffers allocated once and kept, and the request that runs
// it.
#pragma once

#include <libkalun.h>
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "crop_scale_direct.h"
#include "tflite_models.h"

namespace bench
{

constexpr int kConvSize = 224;
constexpr int kConvChannels = 16;

// out = in + 1, float [16].
inline std::vector<uint8_t> tinyAddModel()
{
	kalun::test::OpSpec add{
	    tflite::BuiltinOperator_ADD,
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

inline std::string errorText(kalunError *&error)
{
	std::string text = error && error->msg ? error->msg : "unknown error";
	kalunClearError(&error);
	return text;
}

class Job
{
      public:
	enum Kind { Tiny, Conv, CropScale };

	Job(kalunConnection *conn, Kind kind) : conn_(conn)
	{
		kalunMap *load = nullptr;
		if (kind == CropScale) {
			load = kalunCreateMap(nullptr);
			kalunMapSetIntArr2(load, "image.input.size", kInW, kInH, nullptr);
			kalunMapSetStr(load, "image.input.format", "nv12", nullptr);
			kalunMapSetIntArr2(load, "image.output.size", kOutW, kOutH, nullptr);
			kalunMapSetStr(load, "image.output.format", "rgb-interleaved", nullptr);
			jobParams_ = kalunCreateMap(nullptr);
			kalunMapSetIntArr4(jobParams_, "image.input.crop", kCropX, kCropY, kCropW, kCropH,
			                   nullptr);
		}
		try {
			setUp(kind == CropScale ? "cpu-proc" : "cpu-tflite",
			      kind == Tiny   ? tinyAddModel()
			      : kind == Conv ? kalun::test::convStackModel(kConvSize, kConvChannels)
			                     : std::vector<uint8_t>{},
			      load);
		} catch (...) {
			kalunDestroyMap(&load);
			release();
			throw;
		}
		kalunDestroyMap(&load);
		if (kind == CropScale) {
			const std::vector<uint8_t> frame = frameBytes();
			if (pwrite(inputFd(), frame.data(), frame.size(), 0) != ssize_t(frame.size())) {
				release();
				throw std::runtime_error("frame");
			}
		}
	}
	~Job()
	{
		release();
	}
	Job(const Job &) = delete;
	Job &operator=(const Job &) = delete;

	int inputFd() const
	{
		return kalunGetTensorFd(inputs_[0], nullptr);
	}
	// Runs the job synchronously; the failure's text, empty on success.
	std::string run()
	{
		kalunError *error = nullptr;
		if (kalunRunJob(conn_, req_, &error))
			return {};
		return "job: " + errorText(error);
	}

      private:
	void setUp(const char *device, const std::vector<uint8_t> &model, kalunMap *load)
	{
		kalunError *error = nullptr;
		int fd = -1;
		if (!model.empty()) {
			fd = memfd_create("bench-model", MFD_CLOEXEC);
			if (fd < 0 || write(fd, model.data(), model.size()) != ssize_t(model.size()))
				throw std::runtime_error("model file");
		}
		model_ = kalunLoadModel(conn_, fd, kalunGetDevice(conn_, device, 0, nullptr), 1, "bench",
		                        load, &error);
		if (fd >= 0)
			close(fd);
		if (!model_)
			throw std::runtime_error("load: " + errorText(error));
		const uint32_t props = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP;
		inputs_ = kalunAllocModelInputs(conn_, model_, props, &numIn_, nullptr, &error);
		outputs_ = inputs_ ? kalunAllocModelOutputs(conn_, model_, props, &numOut_, nullptr, &error)
		                   : nullptr;
		if (!outputs_)
			throw std::runtime_error("alloc: " + errorText(error));
		req_ = kalunCreateJobRequest(model_, inputs_, numIn_, outputs_, numOut_, jobParams_, &error);
		if (!req_)
			throw std::runtime_error("request: " + errorText(error));
	}
	void release()
	{
		kalunDestroyJobRequest(&req_);
		if (inputs_)
			kalunDestroyTensors(conn_, &inputs_, numIn_, nullptr);
		if (outputs_)
			kalunDestroyTensors(conn_, &outputs_, numOut_, nullptr);
		if (model_) {
			kalunDeleteModel(conn_, model_, nullptr);
			kalunDestroyModel(&model_);
		}
		kalunDestroyMap(&jobParams_);
	}

	kalunConnection *conn_;
	kalunMap *jobParams_ = nullptr;
	kalunModel *model_ = nullptr;
	kalunTensor **inputs_ = nullptr;
	kalunTensor **outputs_ = nullptr;
	size_t numIn_ = 0, numOut_ = 0;
	kalunJobRequest *req_ = nullptr;
};

} // namespace bench
