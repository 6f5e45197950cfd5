// "cpu-tflite": TensorFlow Lite models on the CPU with the builtin
// operators.
#pragma once

#include "kalun/backendunit/tflite.h"

namespace kalun::backendunit
{

class TFLiteCPU : public TFLite
{
      public:
	TFLiteCPU();
	~TFLiteCPU() override;

	std::pair<std::string, int32_t> getNameAndChipId() const override;
	std::unique_ptr<tflite::Interpreter> buildInterpreter(const tflite::FlatBufferModel &model) override;
	// The interpreter with the builtin operators, null when none could be
	// built; also what the model check program builds.
	static std::unique_ptr<tflite::Interpreter> makeInterpreter(const tflite::FlatBufferModel &model);
};

} // namespace kalun::backendunit
