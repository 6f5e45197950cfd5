// "cpu-tflite": TensorFlow Lite models on the CPU with the builtin
// operators.
#pragma once

#include "kalun/backendunit/tflite.h"

namespace kalun::backendunit {

class TFLiteCPU : public TFLite {
public:
    TFLiteCPU();
    ~TFLiteCPU() override;

    std::pair<std::string, int32_t> getNameAndChipId() const override;
    std::unique_ptr<tflite::Interpreter> buildInterpreter(
        const tflite::FlatBufferModel& model) override;
};

}  // namespace kalun::backendunit
