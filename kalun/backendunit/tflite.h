// What every TensorFlow Lite unit shares: loading a flat buffer (raw or in
// the service's container) into a per-model interpreter, binding the
// clients' buffers to the interpreter's tensors, running and deleting.
// Concrete units say how the interpreter is built.
//
// Mapped client buffers are handed to the interpreter in place through
// custom allocations; read/write-only buffers go through scratch memory
// that each model keeps per tensor, sized by its first job and reused.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <tensorflow/lite/core/api/error_reporter.h>
#include <tensorflow/lite/interpreter.h>
#include <tensorflow/lite/model_builder.h>

#include "kalun/backend_unit.h"
#include "kalun/backendunit/model_check.h"
#include "kalun/buffer.h"

namespace kalun::backendunit
{

// TensorFlow Lite's tensor type to this service's data type; types not in
// the map are described as unspecified.
extern const std::map<TfLiteType, int32_t> tfLiteTypeToDataType;

class TFLite : public BackEndUnit
{
      public:
	// Sends TensorFlow Lite's complaints to the error log. Keeps no state, so
	// one instance serves every model and thread.
	class ErrorReporterLog : public tflite::ErrorReporter
	{
	      public:
		using tflite::ErrorReporter::Report;
		int Report(const char *format, va_list args) override;
	};

	// One list of scratch bytes per tensor of one side of a model.
	using ScratchList = std::vector<std::vector<uint8_t>>;
	using MappingList = std::vector<Buffer::CpuAccess>;

	// Everything is shared so that a running job keeps the whole entry
	// alive while a delete removes it from the map. Members are destroyed
	// in reverse order: the interpreter before the model it was built from,
	// the model before the bytes it reads.
	struct ModelEntry {
		std::shared_ptr<ScratchList> outputBuffers;
		std::shared_ptr<ScratchList> inputBuffers;
		std::shared_ptr<std::vector<uint8_t>> modelData;
		std::shared_ptr<tflite::FlatBufferModel> model;
		std::shared_ptr<tflite::Interpreter> interpreter;
	};

	static ErrorReporterLog errorReporter;
	// Threads of every interpreter.
	static constexpr int kThreads = 2;

	TFLite();
	~TFLite() override;

	TensorMetadataLists loadModelVirtual(ConstByteSpan model, uint64_t modelId,
	                                     const ParameterMap &params) override;
	void deleteModelVirtual(uint64_t modelId) override;
	void runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
	                   const std::vector<Tensor> &outputs, const ParameterMap &params) override;
	int32_t getMinModelFormatVersion() const override;

	// Returns null when no interpreter could be built.
	virtual std::unique_ptr<tflite::Interpreter>
	buildInterpreter(const tflite::FlatBufferModel &model) = 0;
	// Binds the i-th job tensor to the interpreter tensor indices[i]. New
	// mappings are appended to mappings and must be held until the job ends.
	virtual void bindTensors(tflite::Interpreter &interpreter, const std::vector<int> &indices,
	                         const std::vector<Tensor> &tensors, ScratchList &scratch,
	                         MappingList &mappings, bool isInput);

	// Every input buffer, then every output buffer, must offer a property
	// this unit can use.
	void checkFdProps(const std::vector<Tensor> &inputs, const std::vector<Tensor> &outputs) const;

	const ModelCheck &modelCheck() const
	{
		return modelCheck_;
	}

      private:
	void bindMapped(tflite::Interpreter &interpreter, int index, Buffer &buffer, MappingList &mappings);
	void bindReadWrite(tflite::Interpreter &interpreter, int index, Buffer &buffer,
	                   std::vector<uint8_t> &scratch, bool isInput);
	void writeOutputs(tflite::Interpreter &interpreter, const std::vector<Tensor> &outputs);

	ModelCheck modelCheck_;
	std::unordered_map<uint64_t, ModelEntry> models_;
	std::mutex modelsMutex_;
	uint32_t supportedInputFdProps_;
	uint32_t supportedOutputFdProps_;
};

} // namespace kalun::backendunit
