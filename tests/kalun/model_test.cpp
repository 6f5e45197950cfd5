#include "kalun/model.h"

#include <flatbuffers/flatbuffers.h>

#include <gtest/gtest.h>

#include "kalun/backendunit/debug_chip.h"
#include "test_util.h"

namespace
{

using kalun::TensorMetadata;
using kalun::verifyModelContainer;
using kalun::container::ContainedModel;
using kalun::test::thrownText;
using Bytes = std::vector<uint8_t>;

Bytes container(int32_t version, ContainedModel type, bool withModel = true)
{
	flatbuffers::FlatBufferBuilder fbb;
	flatbuffers::Offset<void> model;
	if (withModel) {
		const Bytes data = {1, 2, 3, 4, 5};
		if (type == ContainedModel::TFLiteModel)
			model = kalun::container::CreateTFLiteModel(fbb, fbb.CreateVector(data)).Union();
		else if (type == ContainedModel::BlobModel)
			model = kalun::container::CreateBlobModel(fbb, fbb.CreateVector(data)).Union();
		else
			model = kalun::container::CreateEmptyModel(fbb).Union();
	}
	fbb.Finish(kalun::container::CreateModelContainer(fbb, version, type, model));
	return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

struct ContainerCase {
	const char *what;
	Bytes bytes;
	int32_t minVersion;
	bool isContainer;
	const char *error;
};

TEST(ModelContainerTest, Verification)
{
	Bytes truncated = container(1, ContainedModel::TFLiteModel);
	truncated.resize(truncated.size() - 6);
	Bytes rootAtEnd = container(1, ContainedModel::TFLiteModel);
	rootAtEnd[0] = static_cast<uint8_t>(rootAtEnd.size());
	const ContainerCase cases[] = {
	    {"four bytes", {8, 0, 0, 0}, 0, false, ""},
	    {"empty", {}, 0, false, ""},
	    {"root offset 0", {0, 0, 0, 0, 0, 0, 0, 0}, 0, false, ""},
	    {"root offset top bit", {4, 0, 0, 0x80, 0, 0, 0, 0}, 0, false, ""},
	    {"root offset past end", rootAtEnd, 0, false, ""},
	    {"garbage table", {4, 0, 0, 0, 0, 0, 0, 0}, 0, false, ""},
	    {"truncated", truncated, 0, false, ""},
	    {"tflite v1", container(1, ContainedModel::TFLiteModel), 1, true, ""},
	    {"tflite v1, min 2", container(1, ContainedModel::TFLiteModel), 2, true,
	     "Model has format version 1 but chip requires >= 2"},
	    {"no version, min 1", container(0, ContainedModel::TFLiteModel), 1, true,
	     "Model has format version 0 but chip requires >= 1"},
	    {"no version, min 0", container(0, ContainedModel::BlobModel), 0, true, ""},
	    {"negative version", container(-5, ContainedModel::EmptyModel), -1, true,
	     "Model has format version -5 but chip requires >= -1"},
	    {"unknown union type", container(1, static_cast<ContainedModel>(7)), 0, true, ""},
	    {"type without model", container(3, ContainedModel::TFLiteModel, false), 1, true, ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		const kalun::container::ModelContainer *root = nullptr;
		const std::string text = thrownText<std::invalid_argument>(
		    [&] { root = verifyModelContainer(kalun::ConstByteSpan(c.bytes), c.minVersion); });
		EXPECT_EQ(text, c.error);
		if (!*c.error) {
			EXPECT_EQ(root != nullptr, c.isContainer);
		}
	}
}

TEST(ModelContainerTest, UnitsCompareWithTheirOwnMinimum)
{
	kalun::backendunit::DebugChip chip;
	const Bytes bytes = container(0, ContainedModel::TFLiteModel);
	const auto *root = chip.verifyModelContainer(kalun::ConstByteSpan(bytes));
	ASSERT_NE(root, nullptr);
	EXPECT_EQ(root->model_type(), ContainedModel::TFLiteModel);
	EXPECT_EQ(root->model_as_TFLiteModel()->data()->size(), 5u);
}

TensorMetadata sized(uint64_t byteSize)
{
	return TensorMetadata(3, 1, {}, {}, byteSize, "");
}

TEST(ModelTest, RecordChecksAndDescription)
{
	struct Case {
		std::vector<TensorMetadata> inputs, outputs;
		const char *error;
	};
	const Case cases[] = {
	    {{sized(1)}, {sized(4)}, ""},
	    {{}, {sized(4)}, "Input tensor metadata are empty"},
	    {{sized(1), sized(0)}, {}, "Input tensor metadata 1 has invalid zero byte size"},
	    {{sized(1)}, {}, "Output tensor metadata are empty"},
	    {{sized(1)}, {sized(4), sized(0)}, "Output tensor metadata 1 has invalid zero byte size"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.error);
		EXPECT_EQ(thrownText<std::invalid_argument>(
		              [&] { kalun::Model(5, "m", 640, 1, c.inputs, c.outputs); }),
		          c.error);
	}
	EXPECT_EQ(kalun::Model(5, "person", 640, 1, {sized(1)}, {sized(1)}).toString(),
	          "5 person 640 private");
	EXPECT_EQ(kalun::Model(6, "car", 1, 2, {sized(1)}, {sized(1)}).toString(), "6 car 1 public");
	EXPECT_EQ(kalun::Model(7, "", 1, 0, {sized(1)}, {sized(1)}).toString(), "7  1 private");
}

} // namespace
