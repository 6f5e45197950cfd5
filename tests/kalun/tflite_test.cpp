#include "kalun/backendunit/tflite_cpu.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_session.h"
#include "test_util.h"
#include "tflite_models.h"

namespace
{

using kalun::Buffer;
using kalun::JobRequest;
using kalun::KALUN_FD_PROP_DMABUF;
using kalun::KALUN_FD_PROP_MAP;
using kalun::KALUN_FD_PROP_READWRITE;
using kalun::ParameterMap;
using kalun::Tensor;
using kalun::TensorMetadata;
using kalun::backendunit::TFLiteCPU;
using kalun::test::ContainerSpec;
using kalun::test::FakeSession;
using kalun::test::LogCapture;
using kalun::test::Result;
using Contained = kalun::container::ContainedModel;

// Counts the times the unit asked to map it.
class CountingBuffer : public Buffer
{
      public:
	using Buffer::Buffer;
	CpuAccess cpuAccess(uint64_t size, int prot) override
	{
		++accesses;
		return Buffer::cpuAccess(size, prot);
	}
	int accesses = 0;
};

// A memfd holding the floats at the offset, with zeros before and a few
// bytes after, so that a read or write of the tensor leaves the file
// position short of the end.
std::shared_ptr<CountingBuffer> floatBuffer(const std::vector<float> &values, uint32_t props,
                                            int64_t offset = 0)
{
	const int fd = memfd_create("tflite-test", MFD_CLOEXEC);
	const size_t bytes = values.size() * sizeof(float);
	EXPECT_EQ(ftruncate(fd, offset + static_cast<off_t>(bytes) + 16), 0);
	EXPECT_EQ(pwrite(fd, values.data(), bytes, offset), static_cast<ssize_t>(bytes));
	return std::make_shared<CountingBuffer>(kalun::FileDescriptor(fd), 0, offset, props);
}

// True when the buffer's tensor bytes went through read or write.
bool copied(const Buffer &buffer, size_t bytes)
{
	return lseek(buffer.getFd(), 0, SEEK_CUR) == buffer.getOffset() + static_cast<off_t>(bytes);
}

std::vector<float> floatsOf(const Buffer &buffer, size_t count)
{
	std::vector<float> values(count);
	const size_t bytes = count * sizeof(float);
	EXPECT_EQ(pread(buffer.getFd(), values.data(), bytes, buffer.getOffset()),
	          static_cast<ssize_t>(bytes));
	return values;
}

// A job tensor that leaves the description to the model.
Tensor anyTensor(std::shared_ptr<Buffer> buffer)
{
	return Tensor(1, 1, {}, {}, 0, "", std::move(buffer));
}

std::vector<float> ramp(size_t n, float start, float step)
{
	std::vector<float> values(n);
	for (size_t i = 0; i < n; ++i)
		values[i] = start + step * static_cast<float>(i);
	return values;
}

// Holds up the job that maps it until the test lets it go.
class GatedBuffer : public Buffer
{
      public:
	GatedBuffer(std::shared_ptr<Buffer> source, kalun::test::Gate &gate)
	    : Buffer(kalun::FileDescriptor(dup(source->getFd())), source->getFdSize(), source->getOffset(),
	             source->getFdProps()),
	      gate_(gate)
	{
	}
	CpuAccess cpuAccess(uint64_t size, int prot) override
	{
		gate_.pass();
		return Buffer::cpuAccess(size, prot);
	}

      private:
	kalun::test::Gate &gate_;
};

void expectDescription(const TensorMetadata &d, int32_t type, std::vector<size_t> dims,
                       std::vector<size_t> pitches, uint64_t bytes, const std::string &name)
{
	EXPECT_EQ(d.getDataType(), type) << name;
	EXPECT_EQ(d.getLayout(), 1) << name;
	EXPECT_EQ(d.getDims(), dims) << name;
	EXPECT_EQ(d.getPitches(), pitches) << name;
	EXPECT_EQ(d.getByteSize(), bytes) << name;
	EXPECT_EQ(d.getName(), name);
}

bool sameDescriptions(const std::vector<TensorMetadata> &a, const std::vector<TensorMetadata> &b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); ++i) {
		if (a[i].getDataType() != b[i].getDataType() || a[i].getLayout() != b[i].getLayout() ||
		    a[i].getDims() != b[i].getDims() || a[i].getPitches() != b[i].getPitches() ||
		    a[i].getByteSize() != b[i].getByteSize() || a[i].getName() != b[i].getName())
			return false;
	}
	return true;
}

class TFLiteUnitTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		unit.startProcessingQueues();
	}

	// The load's result; the model id is in it either way.
	Result load(const std::vector<uint8_t> &bytes, ParameterMap params = {})
	{
		const size_t before = session->results().size();
		unit.queueLoadModel(std::make_shared<kalun::LoadModelRequest>(
		    session, unit, session->getId(), 0, bytes, kalun::kModelAccessPrivate, "m", 0,
		    std::move(params)));
		return session->waitForResults(before + 1).back();
	}

	uint64_t loadOk(const std::vector<uint8_t> &bytes)
	{
		const Result r = load(bytes);
		EXPECT_EQ(r.error, "");
		return r.modelId;
	}

	void queueJob(uint64_t model, std::vector<Tensor> inputs, std::vector<Tensor> outputs,
	              ParameterMap params = {})
	{
		FakeSession::queueJob(session, unit, 0,
		                      std::make_shared<JobRequest>(session, model, std::move(inputs),
		                                                   std::move(outputs), 0, 7,
		                                                   std::move(params)));
	}

	Result runJob(uint64_t model, std::vector<Tensor> inputs, std::vector<Tensor> outputs,
	              ParameterMap params = {})
	{
		const size_t before = session->results().size();
		queueJob(model, std::move(inputs), std::move(outputs), std::move(params));
		return session->waitForResults(before + 1).back();
	}

	Result deleteModel(uint64_t model)
	{
		const size_t before = session->results().size();
		unit.queueDeleteModel(std::make_shared<kalun::DeleteModelRequest>(
		    session, unit, session->getId(), model, 0, 9));
		return session->waitForResults(before + 1).back();
	}

	std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>(1);
	TFLiteCPU unit;
};

TEST_F(TFLiteUnitTest, IdentifiesItself)
{
	EXPECT_EQ(unit.getNameAndChipId(), std::make_pair(std::string("cpu-tflite"), 2));
	EXPECT_EQ(unit.getMinModelFormatVersion(), 1);
}

TEST_F(TFLiteUnitTest, DescribesTensorsInInterpreterOrder)
{
	const kalun::Model add = unit.getModel(loadOk(kalun::test::addModel()));
	ASSERT_EQ(add.getInputs().size(), 2u);
	ASSERT_EQ(add.getOutputs().size(), 1u);
	expectDescription(add.getInputs()[0], 12, {1, 4, 4, 3}, {192, 192, 48, 12}, 192, "a");
	expectDescription(add.getInputs()[1], 12, {1, 4, 4, 3}, {192, 192, 48, 12}, 192, "b");
	expectDescription(add.getOutputs()[0], 12, {1, 4, 4, 3}, {192, 192, 48, 12}, 192, "sum");

	const kalun::Model conv = unit.getModel(loadOk(kalun::test::convModel()));
	expectDescription(conv.getInputs().at(0), 12, {1, 3, 3, 1}, {36, 36, 12, 4}, 36, "image");
	expectDescription(conv.getOutputs().at(0), 12, {1, 2, 2, 1}, {16, 16, 8, 4}, 16, "feature");
}

// A model that hands one tensor of the given type straight through.
std::vector<uint8_t> passThrough(tflite::TensorType type, std::vector<int32_t> shape)
{
	return kalun::test::buildModel({{{std::move(shape), type, "t"}}, {0}, {0}, {}});
}

TEST_F(TFLiteUnitTest, DataTypeTable)
{
	struct Case {
		tflite::TensorType type;
		int32_t dataType;
		size_t elementSize;
	};
	const Case cases[] = {
	    {tflite::TensorType_FLOAT32, 12, 4},
	    {tflite::TensorType_INT32, 8, 4},
	    {tflite::TensorType_UINT8, 3, 1},
	    {tflite::TensorType_INT64, 10, 8},
	    {tflite::TensorType_BOOL, 2, 1},
	    {tflite::TensorType_INT16, 6, 2},
	    {tflite::TensorType_INT8, 4, 1},
	    {tflite::TensorType_FLOAT16, 11, 2},
	    // Sized types outside the table are described as unspecified.
	    {tflite::TensorType_FLOAT64, 1, 8},
	    {tflite::TensorType_UINT64, 1, 8},
	    {tflite::TensorType_COMPLEX64, 1, 8},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(tflite::EnumNameTensorType(c.type));
		const Result r = load(passThrough(c.type, {2, 3}));
		ASSERT_EQ(r.error, "");
		const kalun::Model model = unit.getModel(r.modelId);
		expectDescription(model.getInputs().at(0), c.dataType, {2, 3},
		                  {6 * c.elementSize, 3 * c.elementSize}, 6 * c.elementSize, "t");
	}
	const Result text = load(passThrough(tflite::TensorType_STRING, {2}));
	EXPECT_EQ(text.errorType, "other");
	EXPECT_EQ(text.error, "Invalid tensor type.");
}

TEST_F(TFLiteUnitTest, ScalarTensorHasNoPitches)
{
	const kalun::Model model = unit.getModel(loadOk(passThrough(tflite::TensorType_INT32, {})));
	expectDescription(model.getInputs().at(0), 8, {}, {}, 4, "t");
}

TEST_F(TFLiteUnitTest, ContainerTable)
{
	const std::vector<uint8_t> raw = kalun::test::fullyConnectedModel();
	const kalun::Model plain = unit.getModel(loadOk(raw));
	struct Case {
		const char *what;
		ContainerSpec spec;
		std::string error;
	};
	const Case cases[] = {
	    {"version 1", {true, 1, Contained::TFLiteModel, true}, ""},
	    {"version 7", {true, 7, Contained::TFLiteModel, true}, ""},
	    {"version 0",
	     {true, 0, Contained::TFLiteModel, true},
	     "Model has format version 0 but chip requires >= 1"},
	    {"no version",
	     {false, 0, Contained::TFLiteModel, true},
	     "Model has format version 0 but chip requires >= 1"},
	    {"negative version",
	     {true, -1, Contained::TFLiteModel, true},
	     "Model has format version -1 but chip requires >= 1"},
	    {"empty model",
	     {true, 1, Contained::EmptyModel, true},
	     "Could not verify and build model from buffer"},
	    {"blob", {true, 1, Contained::BlobModel, true}, "Could not verify and build model from buffer"},
	    {"no member", {true, 1, Contained::NONE, true}, "Could not verify and build model from buffer"},
	    {"model without data",
	     {true, 1, Contained::TFLiteModel, false},
	     "Model container holds no TensorFlow Lite model data"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		const Result r = load(kalun::test::wrapModel(raw, c.spec));
		EXPECT_EQ(r.error, c.error);
		if (!c.error.empty())
			continue;
		const kalun::Model wrapped = unit.getModel(r.modelId);
		EXPECT_TRUE(sameDescriptions(wrapped.getInputs(), plain.getInputs()));
		EXPECT_TRUE(sameDescriptions(wrapped.getOutputs(), plain.getOutputs()));
	}
}

// Verifies as a model, but there is nothing to interpret.
std::vector<uint8_t> withoutSubgraph()
{
	flatbuffers::FlatBufferBuilder fb;
	std::vector<flatbuffers::Offset<tflite::Buffer>> buffers = {tflite::CreateBuffer(fb)};
	std::vector<flatbuffers::Offset<tflite::OperatorCode>> codes;
	std::vector<flatbuffers::Offset<tflite::SubGraph>> subgraphs;
	tflite::FinishModelBuffer(fb,
	                          tflite::CreateModelDirect(fb, 3, &codes, &subgraphs, "empty", &buffers));
	return std::vector<uint8_t>(fb.GetBufferPointer(), fb.GetBufferPointer() + fb.GetSize());
}

TEST_F(TFLiteUnitTest, LoadFailures)
{
	using kalun::test::OpSpec;
	const std::vector<int32_t> shape = {1, 4};
	OpSpec custom{tflite::BuiltinOperator_CUSTOM, {0}, {1}};
	custom.customName = "NoSuchOperator";
	OpSpec add{tflite::BuiltinOperator_ADD, {0, 1}, {2}};
	std::vector<uint8_t> truncated = kalun::test::addModel();
	truncated.resize(truncated.size() / 2);
	struct Case {
		const char *what;
		std::vector<uint8_t> bytes;
		ParameterMap params;
		std::string error;
	};
	const Case cases[] = {
	    {"integer parameter",
	     kalun::test::addModel(),
	     {{"threads", int64_t(4)}},
	     "Additional parameters are not supported"},
	    {"string parameter",
	     kalun::test::addModel(),
	     {{"k", std::string("v")}},
	     "Additional parameters are not supported"},
	    {"list parameter",
	     kalun::test::addModel(),
	     {{"k", std::vector<int64_t>{}}},
	     "Additional parameters are not supported"},
	    {"truncated", truncated, {}, "Could not verify and build model from buffer"},
	    {"garbage", std::vector<uint8_t>(64, 0xab), {}, "Could not verify and build model from buffer"},
	    {"unknown operator",
	     kalun::test::buildModel(
	         {{{shape, tflite::TensorType_FLOAT32, "in"}, {shape, tflite::TensorType_FLOAT32, "out"}},
	          {0},
	          {1},
	          {custom}}),
	     {},
	     "Could not allocate tensors"},
	    {"no subgraph", withoutSubgraph(), {}, "Could not build an interpreter of the model"},
	    {"shapes that do not broadcast",
	     kalun::test::buildModel({{{{1, 4}, tflite::TensorType_FLOAT32, "a"},
	                               {{1, 3}, tflite::TensorType_FLOAT32, "b"},
	                               {{1, 4}, tflite::TensorType_FLOAT32, "sum"}},
	                              {0, 1},
	                              {2},
	                              {add}}),
	     {},
	     "Could not allocate tensors"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		LogCapture logs;
		const Result r = load(c.bytes, c.params);
		EXPECT_EQ(r.error, c.error);
		EXPECT_THROW(unit.getModel(r.modelId), kalun::BackEndUnit::ModelNotFound);
		EXPECT_THROW(unit.deleteModelVirtual(r.modelId), kalun::BackEndUnit::ModelNotFound);
		// Whatever the runtime itself complained about went to the error log.
		if (c.params.empty()) {
			EXPECT_FALSE(logs.lines().empty());
		}
	}
	// The unit carries on.
	EXPECT_EQ(load(kalun::test::addModel()).error, "");
}

TEST_F(TFLiteUnitTest, HandComputedResults)
{
	const uint64_t mul = loadOk(kalun::test::mulModel());
	const uint64_t conv = loadOk(kalun::test::convModel());
	const uint64_t fc = loadOk(kalun::test::fullyConnectedModel());
	const uint64_t add = loadOk(kalun::test::addModel());
	struct Case {
		const char *what;
		uint64_t model;
		std::vector<std::vector<float>> inputs;
		std::vector<float> expected;
	};
	std::vector<float> sum(48);
	for (size_t i = 0; i < sum.size(); ++i)
		sum[i] = 1.5f * i + (100.0f - 2.0f * i);
	const Case cases[] = {
	    {"mul", mul, {{1.0f, 2.0f, 3.0f, -4.0f}}, {2.0f, -2.0f, 1.5f, -40.0f}},
	    // 1 2 3 / 4 5 6 / 7 8 9 under [[1, 2], [3, 4]] plus 0.5.
	    {"conv", conv, {ramp(9, 1.0f, 1.0f)}, {37.5f, 47.5f, 67.5f, 77.5f}},
	    // [1 + 4 + 9 + 10, -1 + 3 + 20]
	    {"fully connected", fc, {{1.0f, 2.0f, 3.0f}}, {24.0f, 22.0f}},
	    {"add", add, {ramp(48, 0.0f, 1.5f), ramp(48, 100.0f, -2.0f)}, sum},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		std::vector<Tensor> inputs;
		for (const auto &values : c.inputs)
			inputs.push_back(anyTensor(floatBuffer(values, KALUN_FD_PROP_MAP)));
		auto out = floatBuffer(std::vector<float>(c.expected.size(), -7.0f), KALUN_FD_PROP_MAP);
		EXPECT_EQ(runJob(c.model, std::move(inputs), {anyTensor(out)}).error, "");
		EXPECT_EQ(floatsOf(*out, c.expected.size()), c.expected);
	}
}

// Every way of handing over input and output, one job after the other on
// the same model and each with inputs of its own: whatever the earlier
// jobs bound or left in scratch memory must not leak into a later result.
TEST_F(TFLiteUnitTest, BindingTable)
{
	const uint64_t model = loadOk(kalun::test::addModel());
	const uint32_t rw = KALUN_FD_PROP_READWRITE, map = KALUN_FD_PROP_MAP, both = rw | map;
	struct Case {
		uint32_t input;
		int64_t inputOffset;
		uint32_t output;
		int64_t outputOffset;
	};
	const Case cases[] = {
	    {rw, 0, rw, 0},  {rw, 12, rw, 100},  {map, 0, map, 0},   {map, 64, map, 4096}, {rw, 0, map, 0},
	    {map, 0, rw, 8}, {both, 0, both, 0}, {both, 128, rw, 0}, {rw, 0, rw, 0},
	};
	int round = 0;
	for (const Case &c : cases) {
		SCOPED_TRACE(::testing::Message()
		             << "round " << round << ": in " << c.input << "@" << c.inputOffset << ", out "
		             << c.output << "@" << c.outputOffset);
		const std::vector<float> a = ramp(48, static_cast<float>(round), 1.0f);
		const std::vector<float> b = ramp(48, 1000.0f * round, -0.5f);
		auto bufA = floatBuffer(a, c.input, c.inputOffset);
		auto bufB = floatBuffer(b, c.input, c.inputOffset);
		auto out = floatBuffer(std::vector<float>(48, -1.0f), c.output, c.outputOffset);
		const Result r = runJob(model, {anyTensor(bufA), anyTensor(bufB)}, {anyTensor(out)});
		ASSERT_EQ(r.error, "");
		std::vector<float> expected(48);
		for (size_t i = 0; i < 48; ++i)
			expected[i] = a[i] + b[i];
		EXPECT_EQ(floatsOf(*out, 48), expected);
		// Mappable buffers are used in place, never copied.
		const bool inputMapped = (c.input & map) != 0, outputMapped = (c.output & map) != 0;
		EXPECT_EQ(bufA->accesses, inputMapped ? 1 : 0);
		EXPECT_EQ(out->accesses, outputMapped ? 1 : 0);
		EXPECT_EQ(copied(*bufA, 192), !inputMapped);
		EXPECT_EQ(copied(*out, 192), !outputMapped);
		++round;
	}
}

TEST_F(TFLiteUnitTest, JobRefusals)
{
	const uint64_t model = loadOk(kalun::test::mulModel());
	const std::vector<float> x = {1, 2, 3, 4};
	auto good = [&] { return anyTensor(floatBuffer(x, KALUN_FD_PROP_MAP)); };
	const std::string supported = "supported: KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP";
	struct Case {
		const char *what;
		std::vector<Tensor> inputs, outputs;
		ParameterMap params;
		std::string error;
	};
	auto dmaOnly = floatBuffer(x, KALUN_FD_PROP_DMABUF);
	std::vector<Case> cases;
	cases.push_back({"parameter",
	                 {good()},
	                 {good()},
	                 {{"k", int64_t(0)}},
	                 "Additional parameters are not supported"});
	cases.push_back({"dma-buf input",
	                 {anyTensor(dmaOnly)},
	                 {good()},
	                 {},
	                 "Input tensor fd property not supported by this chip; " + supported});
	// Inputs are looked at before outputs.
	cases.push_back({"no props anywhere",
	                 {anyTensor(floatBuffer(x, 0))},
	                 {anyTensor(floatBuffer(x, 0))},
	                 {},
	                 "Input tensor fd property not supported by this chip; " + supported});
	cases.push_back({"dma-buf output",
	                 {good()},
	                 {anyTensor(floatBuffer(x, 4))},
	                 {},
	                 "Output tensor fd property not supported by this chip; " + supported});
	cases.push_back({"misaligned mapped input",
	                 {anyTensor(floatBuffer(x, KALUN_FD_PROP_MAP, 32))},
	                 {good()},
	                 {},
	                 "Mapped buffer is not aligned properly"});
	cases.push_back({"misaligned mapped output",
	                 {good()},
	                 {anyTensor(floatBuffer(x, KALUN_FD_PROP_MAP | KALUN_FD_PROP_READWRITE, 4))},
	                 {},
	                 "Mapped buffer is not aligned properly"});
	for (auto &c : cases) {
		SCOPED_TRACE(c.what);
		const Result r =
		    runJob(model, std::move(c.inputs), std::move(c.outputs), std::move(c.params));
		EXPECT_EQ(r.error, c.error);
	}
	// Nothing was read from the refused dma-buf input.
	EXPECT_FALSE(copied(*dmaOnly, 16));
	// A misaligned read/write buffer is fine: it goes through scratch memory.
	auto out = floatBuffer({0, 0, 0, 0}, KALUN_FD_PROP_MAP);
	EXPECT_EQ(
	    runJob(model, {anyTensor(floatBuffer(x, KALUN_FD_PROP_READWRITE, 3))}, {anyTensor(out)}).error,
	    "");
	EXPECT_EQ(floatsOf(*out, 4), (std::vector<float>{2, -2, 1.5, 40}));
}

TEST_F(TFLiteUnitTest, DeleteWhileJobsAreUnderway)
{
	const uint64_t model = loadOk(kalun::test::mulModel());
	kalun::test::Gate gate;
	auto input = std::make_shared<GatedBuffer>(floatBuffer({1, 1, 1, 1}, KALUN_FD_PROP_MAP), gate);
	auto first = floatBuffer({0, 0, 0, 0}, KALUN_FD_PROP_MAP);
	auto second = floatBuffer({0, 0, 0, 0}, KALUN_FD_PROP_MAP);
	queueJob(model, {anyTensor(input)}, {anyTensor(first)});
	ASSERT_TRUE(gate.waitEntered());
	// Queued while the first job runs, deleted before it gets its turn.
	queueJob(model, {anyTensor(floatBuffer({1, 1, 1, 1}, KALUN_FD_PROP_MAP))}, {anyTensor(second)});
	const size_t before = session->results().size();
	unit.queueDeleteModel(
	    std::make_shared<kalun::DeleteModelRequest>(session, unit, session->getId(), model, 0, 9));
	const Result deleted = session->waitForResults(before + 1).back();
	EXPECT_EQ(deleted.kind, "delete");
	EXPECT_EQ(deleted.error, "");
	gate.open();
	const auto results = session->waitForResults(before + 3);
	ASSERT_EQ(results.size(), before + 3);
	// The running job kept the model alive to its end.
	EXPECT_EQ(results[before + 1].error, "");
	EXPECT_EQ(floatsOf(*first, 4), (std::vector<float>{2, -1, 0.5, 10}));
	EXPECT_EQ(results[before + 2].errorType, "ModelNotFound");
	EXPECT_EQ(results[before + 2].error, "Model " + std::to_string(model) + " not found");
	EXPECT_EQ(floatsOf(*second, 4), (std::vector<float>{0, 0, 0, 0}));
	// The unit's own lookups agree.
	EXPECT_THROW(unit.runJobVirtual(model, {}, {}, {}), kalun::BackEndUnit::ModelNotFound);
	EXPECT_THROW(unit.deleteModelVirtual(model), kalun::BackEndUnit::ModelNotFound);
}

TEST_F(TFLiteUnitTest, FailedJobLeavesModelUsable)
{
	const uint64_t model = loadOk(kalun::test::mulModel());
	const std::vector<float> x = {1, 2, 3, 4};
	EXPECT_EQ(runJob(model, {anyTensor(floatBuffer(x, KALUN_FD_PROP_MAP, 16))},
	                 {anyTensor(floatBuffer(x, KALUN_FD_PROP_MAP))})
	              .error,
	          "Mapped buffer is not aligned properly");
	auto out = floatBuffer({0, 0, 0, 0}, KALUN_FD_PROP_READWRITE);
	EXPECT_EQ(runJob(model, {anyTensor(floatBuffer(x, KALUN_FD_PROP_READWRITE))}, {anyTensor(out)}).error,
	          "");
	EXPECT_EQ(floatsOf(*out, 4), (std::vector<float>{2, -2, 1.5, 40}));
	EXPECT_EQ(deleteModel(model).error, "");
}

std::vector<uint8_t> fixture(const std::string &name)
{
	std::ifstream in(std::string(KALUN_TEST_DATA) + "/" + name, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Models that crash TensorFlow Lite, one while the interpreter is built and
// one while it runs: their trial, in a process of its own, is what dies.
TEST_F(TFLiteUnitTest, ModelsThatCrashTheirTrialAreRefusedAndTriedOnce)
{
	const uint64_t trialsBefore = unit.modelCheck().trials();
	for (const char *name : {"segv-on-build.tflite", "divide-by-zero-on-invoke.tflite"}) {
		SCOPED_TRACE(name);
		const std::vector<uint8_t> bytes = fixture(name);
		ASSERT_FALSE(bytes.empty());
		for (int attempt = 0; attempt < 2; ++attempt) {
			const Result r = load(bytes);
			EXPECT_THAT(r.error,
			            ::testing::StartsWith("Model refused: its trial run failed: ended "));
			EXPECT_THROW(unit.getModel(r.modelId), kalun::BackEndUnit::ModelNotFound);
		}
	}
	// A sound model passes, and its reload is not tried again.
	const uint64_t first = loadOk(kalun::test::mulModel());
	const uint64_t second = loadOk(kalun::test::mulModel());
	EXPECT_EQ(unit.modelCheck().trials(), trialsBefore + 3);
	auto out = floatBuffer({0, 0, 0, 0}, KALUN_FD_PROP_READWRITE);
	EXPECT_EQ(
	    runJob(second, {anyTensor(floatBuffer({1, 2, 3, 4}, KALUN_FD_PROP_READWRITE))}, {anyTensor(out)})
	        .error,
	    "");
	EXPECT_EQ(floatsOf(*out, 4), (std::vector<float>{2, -2, 1.5, 40}));
	EXPECT_EQ(deleteModel(first).error, "");
}

TEST(TFLiteModelCheck, AMissingProgramRefusesEveryModel)
{
	kalun::backendunit::ModelCheck check("/nonexistent/kalun-model-check");
	const std::vector<uint8_t> bytes = kalun::test::mulModel();
	EXPECT_EQ(kalun::test::thrownText<std::runtime_error>(
	              [&] { check.check(kalun::ConstByteSpan(bytes.data(), bytes.size())); }),
	          "Could not start the model check /nonexistent/kalun-model-check: No such file or "
	          "directory");
}

TEST(TFLiteModelCheck, DigestIsSha256)
{
	const std::string abc = "abc";
	const auto digest = kalun::backendunit::ModelCheck::digest(
	    kalun::ConstByteSpan(reinterpret_cast<const uint8_t *>(abc.data()), abc.size()));
	std::string hex;
	for (uint8_t b : digest) {
		static const char *digits = "0123456789abcdef";
		hex += digits[b >> 4];
		hex += digits[b & 15];
	}
	EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(TFLiteErrorReporter, FormatsIntoTheErrorLog)
{
	LogCapture logs;
	kalun::backendunit::TFLite::errorReporter.Report("Tensor %d has %s", 3, "no data");
	EXPECT_EQ(logs.lines(), std::vector<std::string>{"Tensor 3 has no data"});
}

TEST(TFLiteUnitLifetime, DestroyedWithModelsAndQueuedWork)
{
	auto session = std::make_shared<FakeSession>(1);
	auto unit = std::make_unique<TFLiteCPU>();
	unit->startProcessingQueues();
	for (int i = 0; i < 4; ++i)
		unit->queueLoadModel(std::make_shared<kalun::LoadModelRequest>(
		    session, *unit, 1, 0, kalun::test::convModel(), kalun::kModelAccessPublic, "c", i,
		    ParameterMap{}));
	session->waitForResults(1);
	unit.reset();
	// Loads finished before the end were answered as usual; the rest were
	// dropped unanswered, never half done.
	const auto results = session->results();
	EXPECT_GE(results.size(), 1u);
	EXPECT_LE(results.size(), 4u);
	for (size_t i = 0; i < results.size(); ++i) {
		EXPECT_EQ(results[i].kind, "load");
		EXPECT_EQ(results[i].tag, i);
		EXPECT_EQ(results[i].error, "");
	}
}

} // namespace
