#include "kalun/backendunit/tflite_cpu.h"

#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>

#include "kalun/log.h"

namespace kalun::backendunit
{

TFLiteCPU::TFLiteCPU()
{
	KALUN_LOG_DEBUG(std::string(logprefix::kTFLiteCPU) + "TFLiteCPU(): Constructed");
}

TFLiteCPU::~TFLiteCPU()
{
	// The workers call buildInterpreter and getNameAndChipId, which are
	// gone once the base's destructor runs: they must stop here already.
	stopProcessingQueues();
	KALUN_LOG_DEBUG(std::string(logprefix::kTFLiteCPU) + "~TFLiteCPU(): Destructed");
}

std::pair<std::string, int32_t> TFLiteCPU::getNameAndChipId() const
{
	return {"cpu-tflite", 2};
}

std::unique_ptr<tflite::Interpreter> TFLiteCPU::buildInterpreter(const tflite::FlatBufferModel &model)
{
	return makeInterpreter(model);
}

std::unique_ptr<tflite::Interpreter> TFLiteCPU::makeInterpreter(const tflite::FlatBufferModel &model)
{
	tflite::ops::builtin::BuiltinOpResolver resolver;
	std::unique_ptr<tflite::Interpreter> interpreter;
	// Only the pointer tells: the builder's status is not reliable on its own.
	tflite::InterpreterBuilder(model, resolver)(&interpreter);
	return interpreter;
}

} // namespace kalun::backendunit
