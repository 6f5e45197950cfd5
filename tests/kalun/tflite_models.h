// TensorFlow Lite models built in memory, small enough that their results
// can be worked out by hand. Used by the unit's tests and its benchmark.
#pragma once

#include <flatbuffers/flatbuffers.h>
#include <tensorflow/lite/schema/schema_generated.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kalun/model_container_generated.h"

namespace kalun::test
{

struct TensorSpec {
	TensorSpec(std::vector<int32_t> shape, tflite::TensorType type, std::string name,
	           std::vector<uint8_t> data = {})
	    : shape(std::move(shape)), type(type), name(std::move(name)), data(std::move(data))
	{
	}

	std::vector<int32_t> shape;
	tflite::TensorType type;
	std::string name;
	// Constant contents; empty for a tensor the interpreter computes or gets.
	std::vector<uint8_t> data;
};

struct OpSpec {
	using Options = std::function<flatbuffers::Offset<void>(flatbuffers::FlatBufferBuilder &)>;
	OpSpec(tflite::BuiltinOperator code, std::vector<int32_t> inputs, std::vector<int32_t> outputs,
	       tflite::BuiltinOptions optionsType = tflite::BuiltinOptions_NONE, Options options = nullptr)
	    : code(code), inputs(std::move(inputs)), outputs(std::move(outputs)), optionsType(optionsType),
	      options(std::move(options))
	{
	}

	tflite::BuiltinOperator code;
	std::vector<int32_t> inputs;
	std::vector<int32_t> outputs;
	tflite::BuiltinOptions optionsType;
	Options options;
	// Set for a custom operator.
	std::string customName;
};

struct ModelSpec {
	std::vector<TensorSpec> tensors;
	std::vector<int32_t> inputs;
	std::vector<int32_t> outputs;
	std::vector<OpSpec> ops;
};

inline std::vector<uint8_t> floatBytes(const std::vector<float> &values)
{
	std::vector<uint8_t> bytes(values.size() * sizeof(float));
	std::memcpy(bytes.data(), values.data(), bytes.size());
	return bytes;
}

inline std::vector<uint8_t> buildModel(const ModelSpec &spec)
{
	flatbuffers::FlatBufferBuilder fb;
	std::vector<flatbuffers::Offset<tflite::Buffer>> buffers = {tflite::CreateBuffer(fb)};
	std::vector<flatbuffers::Offset<tflite::Tensor>> tensors;
	for (const TensorSpec &t : spec.tensors) {
		uint32_t buffer = 0;
		if (!t.data.empty()) {
			buffer = static_cast<uint32_t>(buffers.size());
			buffers.push_back(tflite::CreateBufferDirect(fb, &t.data));
		}
		tensors.push_back(tflite::CreateTensorDirect(fb, &t.shape, t.type, buffer, t.name.c_str()));
	}
	std::vector<flatbuffers::Offset<tflite::OperatorCode>> codes;
	std::vector<flatbuffers::Offset<tflite::Operator>> ops;
	for (const OpSpec &op : spec.ops) {
		const int8_t deprecated = static_cast<int8_t>(op.code < 127 ? op.code : 127);
		codes.push_back(tflite::CreateOperatorCodeDirect(
		    fb, deprecated, op.customName.empty() ? nullptr : op.customName.c_str(), 1, op.code));
		const auto options = op.options ? op.options(fb) : flatbuffers::Offset<void>();
		ops.push_back(tflite::CreateOperatorDirect(fb, static_cast<uint32_t>(codes.size() - 1),
		                                           &op.inputs, &op.outputs, op.optionsType, options));
	}
	auto subgraph = tflite::CreateSubGraphDirect(fb, &tensors, &spec.inputs, &spec.outputs, &ops, "main");
	std::vector<flatbuffers::Offset<tflite::SubGraph>> subgraphs = {subgraph};
	auto model = tflite::CreateModelDirect(fb, 3, &codes, &subgraphs, "test", &buffers);
	tflite::FinishModelBuffer(fb, model);
	return std::vector<uint8_t>(fb.GetBufferPointer(), fb.GetBufferPointer() + fb.GetSize());
}

// out = a + b, all float [1, 4, 4, 3].
inline std::vector<uint8_t> addModel()
{
	const std::vector<int32_t> shape = {1, 4, 4, 3};
	OpSpec add{tflite::BuiltinOperator_ADD,
	           {0, 1},
	           {2},
	           tflite::BuiltinOptions_AddOptions,
	           [](flatbuffers::FlatBufferBuilder &fb) { return tflite::CreateAddOptions(fb).Union(); }};
	return buildModel({{{shape, tflite::TensorType_FLOAT32, "a"},
	                    {shape, tflite::TensorType_FLOAT32, "b"},
	                    {shape, tflite::TensorType_FLOAT32, "sum"}},
	                   {0, 1},
	                   {2},
	                   {add}});
}

// product = x * [2, -1, 0.5, 10], float [1, 4].
inline std::vector<uint8_t> mulModel()
{
	OpSpec mul{tflite::BuiltinOperator_MUL,
	           {0, 1},
	           {2},
	           tflite::BuiltinOptions_MulOptions,
	           [](flatbuffers::FlatBufferBuilder &fb) { return tflite::CreateMulOptions(fb).Union(); }};
	return buildModel(
	    {{{{1, 4}, tflite::TensorType_FLOAT32, "x"},
	      {{1, 4}, tflite::TensorType_FLOAT32, "factor", floatBytes({2.0f, -1.0f, 0.5f, 10.0f})},
	      {{1, 4}, tflite::TensorType_FLOAT32, "product"}},
	     {0},
	     {2},
	     {mul}});
}

// A 2x2 filter [[1, 2], [3, 4]] with bias 0.5 slid over a [1, 3, 3, 1]
// image without padding: a [1, 2, 2, 1] result.
inline std::vector<uint8_t> convModel()
{
	OpSpec conv{tflite::BuiltinOperator_CONV_2D,
	            {0, 1, 2},
	            {3},
	            tflite::BuiltinOptions_Conv2DOptions,
	            [](flatbuffers::FlatBufferBuilder &fb) {
		            return tflite::CreateConv2DOptions(fb, tflite::Padding_VALID, 1, 1).Union();
	            }};
	return buildModel(
	    {{{{1, 3, 3, 1}, tflite::TensorType_FLOAT32, "image"},
	      {{1, 2, 2, 1}, tflite::TensorType_FLOAT32, "filter", floatBytes({1.0f, 2.0f, 3.0f, 4.0f})},
	      {{1}, tflite::TensorType_FLOAT32, "bias", floatBytes({0.5f})},
	      {{1, 2, 2, 1}, tflite::TensorType_FLOAT32, "feature"}},
	     {0},
	     {3},
	     {conv}});
}

// y = W x + b with W = [[1, 2, 3], [-1, 0, 1]] and b = [10, 20].
inline std::vector<uint8_t> fullyConnectedModel()
{
	OpSpec fc{tflite::BuiltinOperator_FULLY_CONNECTED,
	          {0, 1, 2},
	          {3},
	          tflite::BuiltinOptions_FullyConnectedOptions,
	          [](flatbuffers::FlatBufferBuilder &fb) {
		          return tflite::CreateFullyConnectedOptions(fb).Union();
	          }};
	return buildModel({{{{1, 3}, tflite::TensorType_FLOAT32, "x"},
	                    {{2, 3},
	                     tflite::TensorType_FLOAT32,
	                     "weights",
	                     floatBytes({1.0f, 2.0f, 3.0f, -1.0f, 0.0f, 1.0f})},
	                    {{2}, tflite::TensorType_FLOAT32, "bias", floatBytes({10.0f, 20.0f})},
	                    {{1, 2}, tflite::TensorType_FLOAT32, "y"}},
	                   {0},
	                   {3},
	                   {fc}});
}

// The service's container around some bytes. Without version the field is
// left out; without data a TensorFlow Lite table has no data vector.
struct ContainerSpec {
	bool hasVersion = true;
	int32_t version = 1;
	container::ContainedModel type = container::ContainedModel::TFLiteModel;
	bool hasData = true;
};

inline std::vector<uint8_t> wrapModel(const std::vector<uint8_t> &model, ContainerSpec spec)
{
	flatbuffers::FlatBufferBuilder fb;
	flatbuffers::Offset<void> member;
	switch (spec.type) {
	case container::ContainedModel::EmptyModel:
		member = container::CreateEmptyModel(fb).Union();
		break;
	case container::ContainedModel::TFLiteModel:
		member = container::CreateTFLiteModel(fb, spec.hasData ? fb.CreateVector(model) : 0).Union();
		break;
	case container::ContainedModel::BlobModel:
		member = container::CreateBlobModel(fb, fb.CreateVector(model)).Union();
		break;
	default:
		break;
	}
	container::ModelContainerBuilder root(fb);
	if (spec.hasVersion)
		fb.ForceDefaults(true);
	root.add_format_version(spec.version);
	fb.ForceDefaults(false);
	root.add_model_type(spec.type);
	root.add_model(member);
	fb.Finish(root.Finish());
	return std::vector<uint8_t>(fb.GetBufferPointer(), fb.GetBufferPointer() + fb.GetSize());
}

inline std::vector<uint8_t> randomFloats(size_t n, std::mt19937 &rng)
{
	std::uniform_real_distribution<float> dist(-0.2f, 0.2f);
	std::vector<float> values(n);
	for (float &v : values)
		v = dist(rng);
	return floatBytes(values);
}

// Three 3x3 CONV_2D layers with ReLU on a size x size x 3 float image, with
// seeded random weights: a model whose invocation takes milliseconds.
inline std::vector<uint8_t> convStackModel(int size, int channels)
{
	std::mt19937 rng(7);
	std::vector<TensorSpec> tensors = {{{1, size, size, 3}, tflite::TensorType_FLOAT32, "image"}};
	std::vector<OpSpec> ops;
	int previous = 0, depth = 3;
	for (int layer = 0; layer < 3; ++layer) {
		const int filter = static_cast<int>(tensors.size());
		tensors.push_back({{channels, 3, 3, depth},
		                   tflite::TensorType_FLOAT32,
		                   "filter" + std::to_string(layer),
		                   randomFloats(size_t(channels) * 9 * depth, rng)});
		tensors.push_back({{channels},
		                   tflite::TensorType_FLOAT32,
		                   "bias" + std::to_string(layer),
		                   randomFloats(channels, rng)});
		tensors.push_back({{1, size, size, channels},
		                   tflite::TensorType_FLOAT32,
		                   "feature" + std::to_string(layer)});
		ops.push_back({tflite::BuiltinOperator_CONV_2D,
		               {previous, filter, filter + 1},
		               {filter + 2},
		               tflite::BuiltinOptions_Conv2DOptions,
		               [](flatbuffers::FlatBufferBuilder &fb) {
			               return tflite::CreateConv2DOptions(fb, tflite::Padding_SAME, 1, 1,
			                                                  tflite::ActivationFunctionType_RELU)
			                   .Union();
		               }});
		previous = filter + 2;
		depth = channels;
	}
	return buildModel({tensors, {0}, {previous}, ops});
}

} // namespace kalun::test
