// A job through the cpu-tflite unit (queued to its job worker, mapped input
// and output buffers, result handed back) beside the same model's
// interpreter invoked on mapped memfd buffers as the unit binds them, once
// handed to a worker thread (the fair control: the unit runs jobs on a
// thread of its own) and once directly. The model is three 3x3
// convolutions over a 224x224x3 image, a few milliseconds per invocation.
// Goals: unit/thread at most 1.02, unit/direct at most 1.05.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "bench_session.h"
#include "kalun/backendunit/tflite_cpu.h"
#include "kalun/messages.h"
#include "paired.h"
#include "tflite_models.h"
#include "thread_runner.h"

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
	std::shared_ptr<bench::BenchSession> session_ = std::make_shared<bench::BenchSession>();
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

// The unit's job, the worker-thread control and the direct invocation take
// turns; all three interpreters run two threads on memfd mappings.
void BM_UnitPaired(benchmark::State &state)
{
	UnitRunner unit;
	MappedDirectRunner threaded;
	bench::ThreadRunner thread([&] { threaded.run(); });
	MappedDirectRunner direct;
	bench::runPaired(state, {{"unit", [&] { unit.run(); }},
	                         {"thread", [&] { thread.run(); }},
	                         {"direct", [&] { direct.run(); }}});
}
BENCHMARK(BM_UnitPaired)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(600);

} // namespace

BENCHMARK_MAIN();
