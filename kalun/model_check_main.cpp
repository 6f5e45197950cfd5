// kalun-model-check: tries a TensorFlow Lite model read from standard input
// the way the cpu-tflite unit would use it: verify and build it, build the
// interpreter, allocate the tensors and run it once on zeroed inputs. A model
// that crashes this program takes nothing else down.
//
// Exit status 0: all went well. 2: the model was refused cleanly before it
// could run (the service then builds it itself, fails at the same step and
// reports it as usual). 1: anything else, with the failing step on standard
// output.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <tensorflow/lite/core/api/error_reporter.h>
#include <tensorflow/lite/interpreter.h>
#include <tensorflow/lite/model_builder.h>
#include <tensorflow/lite/stderr_reporter.h>

#include "kalun/backendunit/model_check.h"
#include "kalun/backendunit/tflite_cpu.h"

namespace
{

constexpr unsigned kOwnTimeLimitSeconds = 60;

constexpr int kFailed = 1;
constexpr int kDoesNotBuild = kalun::backendunit::ModelCheck::kDoesNotBuildStatus;

[[noreturn]] void refuse(const char *step, int status = kFailed)
{
	std::printf("%s\n", step);
	std::fflush(stdout);
	// No exit handlers: a half-built interpreter is not worth tidying.
	_exit(status);
}

} // namespace

int main()
{
	// The service kills a trial that runs too long; this ends one whose
	// service has gone.
	alarm(kOwnTimeLimitSeconds);
	std::vector<char> model;
	char chunk[65536];
	for (;;) {
		const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
		if (n < 0)
			refuse("Could not read the model");
		if (n == 0)
			break;
		model.insert(model.end(), chunk, chunk + n);
	}
	auto flatBuffer = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
	    model.data(), model.size(), nullptr, tflite::DefaultErrorReporter());
	if (!flatBuffer)
		refuse("Could not verify and build model from buffer", kDoesNotBuild);
	auto interpreter = kalun::backendunit::TFLiteCPU::makeInterpreter(*flatBuffer);
	if (!interpreter)
		refuse("Could not build an interpreter of the model", kDoesNotBuild);
	interpreter->SetNumThreads(kalun::backendunit::TFLite::kThreads);
	if (interpreter->AllocateTensors() != kTfLiteOk)
		refuse("Could not allocate tensors", kDoesNotBuild);
	for (int index : interpreter->inputs()) {
		TfLiteTensor *tensor = interpreter->tensor(index);
		if (!tensor)
			refuse("Invalid input tensor");
		if (tensor->data.raw && tensor->bytes)
			std::memset(tensor->data.raw, 0, tensor->bytes);
	}
	if (interpreter->Invoke() != kTfLiteOk)
		refuse("Could not run the model");
	std::fflush(stdout);
	_exit(0);
}
