#include "kalun/backendunit/tflite.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <tensorflow/lite/util.h>

#include "kalun/allocator/memfd.h"
#include "kalun/log.h"

namespace kalun::backendunit
{

const std::map<TfLiteType, int32_t> tfLiteTypeToDataType = {
    {kTfLiteFloat32, KALUN_TENSOR_DATA_TYPE_FLOAT32}, {kTfLiteInt32, KALUN_TENSOR_DATA_TYPE_INT32},
    {kTfLiteUInt8, KALUN_TENSOR_DATA_TYPE_UINT8},     {kTfLiteInt64, KALUN_TENSOR_DATA_TYPE_INT64},
    {kTfLiteBool, KALUN_TENSOR_DATA_TYPE_BOOL},       {kTfLiteInt16, KALUN_TENSOR_DATA_TYPE_INT16},
    {kTfLiteInt8, KALUN_TENSOR_DATA_TYPE_INT8},       {kTfLiteFloat16, KALUN_TENSOR_DATA_TYPE_FLOAT16},
};

TFLite::ErrorReporterLog TFLite::errorReporter;

namespace
{

// The interpreter's arena and our custom allocations share this alignment.
constexpr uintptr_t kTensorAlignment = 64;
constexpr uint32_t kSupportedFdProps = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP;

std::string debugText(const char *function, const std::string &text)
{
	return std::string(logprefix::kTFLite) + function + "(): " + text;
}

void checkNoParams(const ParameterMap &params)
{
	if (!params.empty())
		throw std::invalid_argument("Additional parameters are not supported");
}

// A container of the right kind yields its embedded model; anything else is
// taken as a raw model and left for TensorFlow Lite to verify.
ConstByteSpan pickModelBytes(const container::ModelContainer *root, ConstByteSpan model)
{
	if (!root || root->model_type() != container::ContainedModel::TFLiteModel)
		return model;
	const container::TFLiteModel *wrapped = root->model_as_TFLiteModel();
	if (!wrapped)
		return model;
	// Verification lets a model table without its bytes through; there is
	// nothing to load in that case.
	const flatbuffers::Vector<uint8_t> *data = wrapped->data();
	if (!data)
		throw std::invalid_argument("Model container holds no TensorFlow Lite model data");
	return ConstByteSpan(data->data(), data->size());
}

TensorMetadata describeTensor(const TfLiteTensor &tensor)
{
	auto type = tfLiteTypeToDataType.find(tensor.type);
	const int32_t dataType =
	    type == tfLiteTypeToDataType.end() ? KALUN_TENSOR_DATA_TYPE_UNSPECIFIED : type->second;
	std::vector<size_t> dims;
	if (tensor.dims)
		for (int i = 0; i < tensor.dims->size; ++i)
			dims.push_back(static_cast<size_t>(static_cast<uint64_t>(tensor.dims->data[i])));
	size_t elementSize = 0;
	if (tflite::GetSizeOfType(nullptr, tensor.type, &elementSize) != kTfLiteOk)
		throw std::runtime_error("Invalid tensor type.");
	std::vector<size_t> pitches(dims.size());
	if (!dims.empty()) {
		pitches.back() = elementSize * dims.back();
		for (size_t i = dims.size() - 1; i-- > 0;)
			pitches[i] = pitches[i + 1] * dims[i];
	}
	if (!tensor.name)
		throw std::runtime_error("Model tensor has no name");
	return TensorMetadata(dataType, KALUN_TENSOR_LAYOUT_UNSPECIFIED, std::move(dims), std::move(pitches),
	                      tensor.bytes, tensor.name);
}

std::vector<TensorMetadata> describeTensors(const tflite::Interpreter &interpreter,
                                            const std::vector<int> &indices, const char *error)
{
	std::vector<TensorMetadata> descriptions;
	for (int index : indices) {
		if (index < 0 || static_cast<size_t>(index) >= interpreter.tensors_size())
			throw std::runtime_error(error);
		const TfLiteTensor *tensor = interpreter.tensor(index);
		if (!tensor)
			throw std::runtime_error(error);
		descriptions.push_back(describeTensor(*tensor));
	}
	return descriptions;
}

TfLiteTensor *boundTensor(tflite::Interpreter &interpreter, int index)
{
	TfLiteTensor *tensor = nullptr;
	if (index >= 0 && static_cast<size_t>(index) < interpreter.tensors_size())
		tensor = interpreter.tensor(index);
	if (!tensor)
		throw std::runtime_error("Got invalid TfLiteTensor");
	return tensor;
}

} // namespace

int TFLite::ErrorReporterLog::Report(const char *format, va_list args)
{
	char *text = nullptr;
	if (vasprintf(&text, format, args) < 0)
		throw std::invalid_argument("Encoding error in format");
	std::unique_ptr<char, decltype(&free)> owned(text, &free);
	log::error(owned.get());
	return 0;
}

TFLite::TFLite()
    : BackEndUnit(allocator::MemFd::getShared(), allocator::MemFd::getShared()),
      supportedInputFdProps_(kSupportedFdProps), supportedOutputFdProps_(kSupportedFdProps)
{
}

TFLite::~TFLite()
{
	stopProcessingQueues();
	std::lock_guard<std::mutex> lock(modelsMutex_);
	models_.clear();
}

int32_t TFLite::getMinModelFormatVersion() const
{
	return 1;
}

BackEndUnit::TensorMetadataLists TFLite::loadModelVirtual(ConstByteSpan model, uint64_t modelId,
                                                          const ParameterMap &params)
{
	checkNoParams(params);
	const ConstByteSpan bytes = pickModelBytes(verifyModelContainer(model), model);
	// Before anything of the model is built in this process.
	modelCheck_.check(bytes);

	ModelEntry entry;
	entry.modelData = std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.end());

	// Held for the whole build, so jobs and deletes on this unit wait for it.
	std::lock_guard<std::mutex> lock(modelsMutex_);
	entry.model = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
	    reinterpret_cast<const char *>(entry.modelData->data()), entry.modelData->size(), nullptr,
	    &errorReporter);
	if (!entry.model)
		throw std::runtime_error("Could not verify and build model from buffer");
	entry.interpreter = buildInterpreter(*entry.model);
	if (!entry.interpreter)
		throw std::runtime_error("Could not build an interpreter of the model");
	tflite::Interpreter &interpreter = *entry.interpreter;
	interpreter.SetNumThreads(kThreads);
	KALUN_LOG_DEBUG(debugText("loadModelVirtual", "Set " + std::to_string(kThreads) + " thread(s)"));
	if (interpreter.AllocateTensors() != kTfLiteOk)
		throw std::runtime_error("Could not allocate tensors");

	TensorMetadataLists lists;
	lists.first = describeTensors(interpreter, interpreter.inputs(), "Invalid input tensor");
	lists.second = describeTensors(interpreter, interpreter.outputs(), "Invalid output tensor");

	entry.inputBuffers = std::make_shared<ScratchList>(interpreter.inputs().size());
	entry.outputBuffers = std::make_shared<ScratchList>(interpreter.outputs().size());
	models_[modelId] = std::move(entry);
	return lists;
}

void TFLite::deleteModelVirtual(uint64_t modelId)
{
	std::lock_guard<std::mutex> lock(modelsMutex_);
	auto it = models_.find(modelId);
	if (it == models_.end())
		throw ModelNotFound(modelId);
	models_.erase(it);
}

void TFLite::checkFdProps(const std::vector<Tensor> &inputs, const std::vector<Tensor> &outputs) const
{
	for (const Tensor &tensor : inputs)
		if (!(tensor.getBuffer()->getFdProps() & supportedInputFdProps_))
			throw std::invalid_argument(unsupportedFdPropsText("Input", supportedInputFdProps_));
	for (const Tensor &tensor : outputs)
		if (!(tensor.getBuffer()->getFdProps() & supportedOutputFdProps_))
			throw std::invalid_argument(
			    unsupportedFdPropsText("Output", supportedOutputFdProps_));
}

void TFLite::bindMapped(tflite::Interpreter &interpreter, int index, Buffer &buffer, MappingList &mappings)
{
	TfLiteTensor *tensor = boundTensor(interpreter, index);
	mappings.push_back(buffer.cpuAccess(tensor->bytes, PROT_READ | PROT_WRITE));
	uint8_t *data = mappings.back().get();
	if (reinterpret_cast<uintptr_t>(data) % kTensorAlignment != 0)
		throw std::runtime_error("Mapped buffer is not aligned properly");
	const TfLiteCustomAllocation allocation{data, tensor->bytes};
	if (interpreter.SetCustomAllocationForTensor(index, allocation, 0) != kTfLiteOk)
		throw std::runtime_error("Could not register custom alloc for tensor");
}

void TFLite::bindReadWrite(tflite::Interpreter &interpreter, int index, Buffer &buffer,
                           std::vector<uint8_t> &scratch, bool isInput)
{
	TfLiteTensor *tensor = boundTensor(interpreter, index);
	if (scratch.empty())
		scratch.resize(tensor->bytes + kTensorAlignment);
	const uintptr_t start = reinterpret_cast<uintptr_t>(scratch.data());
	uint8_t *data = reinterpret_cast<uint8_t *>((start + kTensorAlignment) & ~(kTensorAlignment - 1));
	const TfLiteCustomAllocation allocation{data, tensor->bytes};
	if (interpreter.SetCustomAllocationForTensor(index, allocation, 0) != kTfLiteOk)
		throw std::runtime_error("Could not register read/write buffer for TFlite tensor");
	if (isInput)
		buffer.read(ByteSpan(data, tensor->bytes));
}

void TFLite::bindTensors(tflite::Interpreter &interpreter, const std::vector<int> &indices,
                         const std::vector<Tensor> &tensors, ScratchList &scratch, MappingList &mappings,
                         bool isInput)
{
	if (tensors.size() != indices.size() || scratch.size() != indices.size())
		throw std::invalid_argument("Number of tensors does not match the model");
	for (size_t i = 0; i < tensors.size(); ++i) {
		Buffer &buffer = *tensors[i].getBuffer();
		const uint32_t props = buffer.getFdProps();
		if (props & KALUN_FD_PROP_MAP)
			bindMapped(interpreter, indices[i], buffer, mappings);
		else if (props & KALUN_FD_PROP_READWRITE)
			bindReadWrite(interpreter, indices[i], buffer, scratch[i], isInput);
		else
			throw std::invalid_argument(unsupportedFdPropsText("Input", kSupportedFdProps));
	}
}

void TFLite::writeOutputs(tflite::Interpreter &interpreter, const std::vector<Tensor> &outputs)
{
	const std::vector<int> &indices = interpreter.outputs();
	for (size_t i = 0; i < outputs.size(); ++i) {
		Buffer &buffer = *outputs[i].getBuffer();
		if (buffer.getFdProps() & KALUN_FD_PROP_MAP)
			continue;
		if (!(buffer.getFdProps() & KALUN_FD_PROP_READWRITE))
			throw std::invalid_argument(
			    unsupportedFdPropsText("Output", supportedOutputFdProps_));
		const TfLiteTensor *tensor = boundTensor(interpreter, indices[i]);
		buffer.write(ConstByteSpan(static_cast<const uint8_t *>(tensor->data.data), tensor->bytes));
	}
}

void TFLite::runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
                           const std::vector<Tensor> &outputs, const ParameterMap &params)
{
	checkNoParams(params);
	checkFdProps(inputs, outputs);

	// The job works on its own references from here, so a delete running
	// meanwhile cannot free what it uses.
	ModelEntry entry;
	{
		std::lock_guard<std::mutex> lock(modelsMutex_);
		auto it = models_.find(modelId);
		if (it == models_.end())
			throw ModelNotFound(modelId);
		entry = it->second;
	}
	tflite::Interpreter &interpreter = *entry.interpreter;

	// Declared after the entry so that mapped buffers are let go before the
	// entry's references.
	MappingList inputMappings;
	MappingList outputMappings;
	bindTensors(interpreter, interpreter.inputs(), inputs, *entry.inputBuffers, inputMappings, true);
	bindTensors(interpreter, interpreter.outputs(), outputs, *entry.outputBuffers, outputMappings, false);
	if (interpreter.AllocateTensors() != kTfLiteOk)
		throw std::runtime_error("Could not allocate/refresh tensors");

	KALUN_LOG_DEBUG(debugText("runJobVirtual", "Starting job..."));
	if (interpreter.Invoke() != kTfLiteOk)
		throw std::runtime_error("Failure when invoking interpreter");
	KALUN_LOG_DEBUG(debugText("runJobVirtual", "Job done"));

	writeOutputs(interpreter, outputs);
}

} // namespace kalun::backendunit
