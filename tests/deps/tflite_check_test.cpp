// Proves that the TensorFlow Lite runtime and the FlatBuffers builder are
// installed and work together: a one-operator model is built in memory,
// verified, and run.
#include <flatbuffers/flatbuffers.h>
#include <tensorflow/lite/interpreter.h>
#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>
#include <tensorflow/lite/model_builder.h>
#include <tensorflow/lite/schema/schema_generated.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{

// out = a + b, three float tensors of shape [1, 4].
std::vector<uint8_t> build_add_model()
{
	flatbuffers::FlatBufferBuilder fb;
	std::vector<flatbuffers::Offset<tflite::Buffer>> buffers = {tflite::CreateBuffer(fb)};
	std::vector<int32_t> shape = {1, 4};
	std::vector<flatbuffers::Offset<tflite::Tensor>> tensors;
	for (const char *name : {"a", "b", "out"})
		tensors.push_back(
		    tflite::CreateTensorDirect(fb, &shape, tflite::TensorType_FLOAT32, 0, name));
	std::vector<int32_t> op_in = {0, 1}, op_out = {2};
	auto opts = tflite::CreateAddOptions(fb).Union();
	std::vector<flatbuffers::Offset<tflite::Operator>> ops = {
	    tflite::CreateOperatorDirect(fb, 0, &op_in, &op_out, tflite::BuiltinOptions_AddOptions, opts)};
	auto subgraph = tflite::CreateSubGraphDirect(fb, &tensors, &op_in, &op_out, &ops, "main");
	std::vector<flatbuffers::Offset<tflite::SubGraph>> subgraphs = {subgraph};
	std::vector<flatbuffers::Offset<tflite::OperatorCode>> codes = {
	    tflite::CreateOperatorCode(fb, tflite::BuiltinOperator_ADD, 0, 1, tflite::BuiltinOperator_ADD)};
	auto model = tflite::CreateModelDirect(fb, 3, &codes, &subgraphs, "check", &buffers);
	tflite::FinishModelBuffer(fb, model);
	return std::vector<uint8_t>(fb.GetBufferPointer(), fb.GetBufferPointer() + fb.GetSize());
}

TEST(TFLiteRuntime, BuildsVerifiesAndRunsAnAddModel)
{
	std::vector<uint8_t> bytes = build_add_model();
	auto model = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
	    reinterpret_cast<const char *>(bytes.data()), bytes.size());
	ASSERT_NE(model, nullptr);

	tflite::ops::builtin::BuiltinOpResolver resolver;
	std::unique_ptr<tflite::Interpreter> interp;
	ASSERT_EQ(tflite::InterpreterBuilder(*model, resolver)(&interp), kTfLiteOk);
	ASSERT_NE(interp, nullptr);
	ASSERT_EQ(interp->AllocateTensors(), kTfLiteOk);

	float *a = interp->typed_input_tensor<float>(0);
	float *b = interp->typed_input_tensor<float>(1);
	for (int i = 0; i < 4; i++) {
		a[i] = 1.5f * i;
		b[i] = 10.0f - i;
	}
	ASSERT_EQ(interp->Invoke(), kTfLiteOk);
	const float *out = interp->typed_output_tensor<float>(0);
	const float expected[4] = {10.0f, 10.5f, 11.0f, 11.5f};
	for (int i = 0; i < 4; i++)
		EXPECT_FLOAT_EQ(out[i], expected[i]) << i;
}

TEST(TFLiteRuntime, RefusesACorruptModel)
{
	std::vector<uint8_t> bytes = build_add_model();
	bytes.resize(bytes.size() / 2);
	auto model = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
	    reinterpret_cast<const char *>(bytes.data()), bytes.size());
	EXPECT_EQ(model, nullptr);
}

} // namespace
