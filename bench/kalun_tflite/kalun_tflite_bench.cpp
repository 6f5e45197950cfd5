// A job through the cpu-tflite unit (queued to its job worker, mapped input
// and output buffers, result handed back) beside the same model's
// interpreter invoked directly. The model is three 3x3 convolutions over a
// 224x224x3 image, a few milliseconds per invocation, so the ratio of the
// two times is what the unit adds to a job. A third run invokes the
// interpreter directly on mapped memfd buffers as the unit binds them, which
// tells the cost of the memory apart from the cost of the unit.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "kalun/backendunit/tflite_cpu.h"
#include "kalun/messages.h"
#include "tflite_models.h"

namespace
{

using kalun::test::OpSpec;
using kalun::test::TensorSpec;

constexpr int kSize = 224;
constexpr int kChannels = 16;

const std::vector<uint8_t> &model()
{
	static const std::vector<uint8_t> bytes = kalun::test::convStackModel(kSize, kChannels);
	return bytes;
}

// Just enough of a session to queue jobs and wait for their results.
class BenchSession : public kalun::SessionInterface
{
      public:
	uint64_t getId() const override
	{
		return 1;
	}
	std::shared_ptr<kalun::JobRequest> popJobRequest(uint64_t) override
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return std::move(pending_);
	}
	void sendLoadModelResult(const kalun::LoadModelRequest &r) override
	{
		finish(r.getError(), r.getModelId());
	}
	void sendDeleteModelResult(const kalun::DeleteModelRequest &r) override
	{
		finish(r.getError(), 0);
	}
	void sendJobResult(const kalun::JobRequest &r) override
	{
		finish(r.getError(), 0);
	}

	void setPending(std::shared_ptr<kalun::JobRequest> job)
	{
		std::lock_guard<std::mutex> lock(mutex_);
		pending_ = std::move(job);
		done_ = false;
	}
	// The result's model id; raises the request's failure.
	uint64_t wait()
	{
		std::unique_lock<std::mutex> lock(mutex_);
		cv_.wait(lock, [this] { return done_; });
		done_ = false;
		if (error_)
			std::rethrow_exception(std::exchange(error_, nullptr));
		return modelId_;
	}

      private:
	void finish(const std::exception_ptr &error, uint64_t modelId)
	{
		std::lock_guard<std::mutex> lock(mutex_);
		error_ = error;
		modelId_ = modelId;
		done_ = true;
		cv_.notify_all();
	}

	std::mutex mutex_;
	std::condition_variable cv_;
	std::shared_ptr<kalun::JobRequest> pending_;
	std::exception_ptr error_;
	uint64_t modelId_ = 0;
	bool done_ = false;
};

std::shared_ptr<kalun::Buffer> mappedBuffer(size_t bytes)
{
	const int fd = memfd_create("bench-tflite", MFD_CLOEXEC);
	if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0)
		throw std::runtime_error("memfd");
	return std::make_shared<kalun::Buffer>(kalun::FileDescriptor(fd), bytes, 0, kalun::KALUN_FD_PROP_MAP);
}

kalun::Tensor anyTensor(std::shared_ptr<kalun::Buffer> buffer)
{
	return kalun::Tensor(1, 1, {}, {}, 0, "", std::move(buffer));
}

// The unit with the model loaded and its two mapped buffers.
class UnitRunner
{
      public:
	UnitRunner()
	{
		unit_.startProcessingQueues();
		unit_.queueLoadModel(std::make_shared<kalun::LoadModelRequest>(
		    session_, unit_, 1, 0, model(), kalun::kModelAccessPrivate, "convs", 0,
		    kalun::ParameterMap{}));
		modelId_ = session_->wait();
		const kalun::Model described = unit_.getModel(modelId_);
		input_ = mappedBuffer(described.getInputs()[0].getByteSize());
		output_ = mappedBuffer(described.getOutputs()[0].getByteSize());
	}
	void run()
	{
		session_->setPending(std::make_shared<kalun::JobRequest>(
		    session_, modelId_, std::vector<kalun::Tensor>{anyTensor(input_)},
		    std::vector<kalun::Tensor>{anyTensor(output_)}, 0, 0, kalun::ParameterMap{}));
		unit_.queueJob(std::make_shared<kalun::JobOrder>(session_, 0));
		session_->wait();
	}

      private:
	std::shared_ptr<BenchSession> session_ = std::make_shared<BenchSession>();
	kalun::backendunit::TFLiteCPU unit_;
	uint64_t modelId_ = 0;
	std::shared_ptr<kalun::Buffer> input_, output_;
};

// The same model built and invoked as a program using the runtime alone
// would: two threads, tensors in the interpreter's own arena, or (mapped)
// input and output in memfd mappings bound once.
class DirectRunner
{
      public:
	explicit DirectRunner(bool mapped = false)
	{
		const std::vector<uint8_t> &bytes = model();
		flat_ = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
		    reinterpret_cast<const char *>(bytes.data()), bytes.size());
		tflite::ops::builtin::BuiltinOpResolver resolver;
		if (flat_)
			tflite::InterpreterBuilder(*flat_, resolver)(&interpreter_);
		if (!interpreter_ || interpreter_->SetNumThreads(2) != kTfLiteOk ||
		    interpreter_->AllocateTensors() != kTfLiteOk)
			throw std::runtime_error("could not build the interpreter");
		if (mapped) {
			bind(interpreter_->inputs()[0], input_);
			bind(interpreter_->outputs()[0], output_);
			if (interpreter_->AllocateTensors() != kTfLiteOk)
				throw std::runtime_error("could not allocate the mapped tensors");
		}
	}
	void bind(int index, std::shared_ptr<kalun::Buffer> &buffer)
	{
		const size_t bytes = interpreter_->tensor(index)->bytes;
		buffer = mappedBuffer(bytes);
		accesses_.push_back(buffer->cpuAccess(bytes, PROT_READ | PROT_WRITE));
		const TfLiteCustomAllocation allocation{accesses_.back().get(), bytes};
		if (interpreter_->SetCustomAllocationForTensor(index, allocation) != kTfLiteOk)
			throw std::runtime_error("could not bind a mapped buffer");
	}
	void run()
	{
		if (interpreter_->Invoke() != kTfLiteOk)
			throw std::runtime_error("invocation failed");
	}

      private:
	std::unique_ptr<tflite::FlatBufferModel> flat_;
	std::unique_ptr<tflite::Interpreter> interpreter_;
	std::shared_ptr<kalun::Buffer> input_, output_;
	std::vector<kalun::Buffer::CpuAccess> accesses_;
};

struct MappedDirectRunner : DirectRunner {
	MappedDirectRunner() : DirectRunner(true) {}
};

template <typename Runner> void BM_Alone(benchmark::State &state)
{
	Runner runner;
	runner.run();
	for (auto _ : state)
		runner.run();
}
BENCHMARK_TEMPLATE(BM_Alone, UnitRunner)
    ->Name("BM_UnitJob")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_TEMPLATE(BM_Alone, DirectRunner)
    ->Name("BM_DirectInvoke")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_TEMPLATE(BM_Alone, MappedDirectRunner)
    ->Name("BM_DirectInvokeMapped")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Both, one after the other in every iteration, so that a machine busy with
// other work slows both alike; the reported time is the unit's, the counters
// give the median of each and their ratio (the goal: at most 1.05). Two
// runtimes taking turns run slower than either alone: only the ratio counts
// here.
void BM_UnitOverDirect(benchmark::State &state)
{
	UnitRunner unit;
	DirectRunner direct;
	unit.run();
	direct.run();
	std::vector<double> unitTimes, directTimes;
	for (auto _ : state) {
		auto t0 = std::chrono::steady_clock::now();
		unit.run();
		auto t1 = std::chrono::steady_clock::now();
		direct.run();
		auto t2 = std::chrono::steady_clock::now();
		unitTimes.push_back(std::chrono::duration<double>(t1 - t0).count());
		directTimes.push_back(std::chrono::duration<double>(t2 - t1).count());
		state.SetIterationTime(unitTimes.back());
	}
	// Medians: a single preempted run must not decide the ratio.
	auto median = [](std::vector<double> v) {
		std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
		return v[v.size() / 2];
	};
	const double u = median(unitTimes), d = median(directTimes);
	state.counters["unit_ms"] = u * 1e3;
	state.counters["direct_ms"] = d * 1e3;
	state.counters["ratio"] = u / d;
}
BENCHMARK(BM_UnitOverDirect)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
