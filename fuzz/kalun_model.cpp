// Model bytes through the cpu-tflite unit's load: the service's container
// or a raw TensorFlow Lite flat buffer, as a client sends it. The model is
// tried in the check program before this process builds it, so a model
// that crashes TensorFlow Lite is a refusal here, not a finding.
#include <stddef.h>
#include <stdint.h>

#include <exception>

#include "kalun/backendunit/tflite_cpu.h"

namespace
{

kalun::backendunit::TFLiteCPU *unit;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	unit = new kalun::backendunit::TFLiteCPU();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const uint64_t creator = 1;
	try {
		kalun::Model model =
		    unit->loadModel(creator, kalun::ConstByteSpan(data, size), 2, "fuzz", {});
		unit->deleteModel(creator, model.getId());
	} catch (const std::exception &) {
		// A refusal is the expected answer to most inputs.
	}
	return 0;
}
