#include "kalun/backendunit/debug_chip.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fake_session.h"
#include "kalun/allocator/memfd.h"
#include "test_util.h"

namespace
{

using kalun::Buffer;
using kalun::JobRequest;
using kalun::Tensor;
using kalun::backendunit::DebugChip;
using kalun::test::FakeSession;
using kalun::test::LogCapture;
using kalun::test::Result;

std::shared_ptr<Buffer> memfdBuffer(uint64_t fileSize, uint64_t fdSize, int64_t offset, uint32_t props)
{
	const int fd = memfd_create("debug-chip-test", MFD_CLOEXEC);
	EXPECT_EQ(ftruncate(fd, static_cast<off_t>(fileSize)), 0);
	return std::make_shared<Buffer>(kalun::FileDescriptor(fd), fdSize, offset, props);
}

Tensor input(std::shared_ptr<Buffer> buffer = memfdBuffer(1, 1, 0, 3))
{
	return Tensor(3, 1, {1, 1, 1, 1}, {}, 1, "", std::move(buffer));
}

Tensor output(std::shared_ptr<Buffer> buffer = memfdBuffer(4096, 4096, 0, 3))
{
	return Tensor(1, 1, {}, {}, 0, "", std::move(buffer));
}

std::vector<uint8_t> contents(const Buffer &buffer, int64_t offset, size_t size)
{
	std::vector<uint8_t> bytes(size);
	EXPECT_EQ(pread(buffer.getFd(), bytes.data(), size, offset), static_cast<ssize_t>(size));
	return bytes;
}

bool hasPattern(const std::vector<uint8_t> &bytes)
{
	for (size_t j = 0; j < bytes.size(); ++j)
		if (bytes[j] != j % 256)
			return false;
	return true;
}

class DebugChipTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		chip = std::make_unique<DebugChip>();
		chip->startProcessingQueues();
		modelId = loadModel(owner);
	}

	uint64_t loadModel(const std::shared_ptr<FakeSession> &session, kalun::ParameterMap params = {})
	{
		const size_t before = session->results().size();
		chip->queueLoadModel(std::make_shared<kalun::LoadModelRequest>(
		    session, *chip, session->getId(), 0, std::vector<uint8_t>{0xde, 0xad}, 1, "dbg", 0,
		    std::move(params)));
		return session->waitForResults(before + 1).back().modelId;
	}

	Result runJob(const std::shared_ptr<FakeSession> &session, uint64_t model, std::vector<Tensor> inputs,
	              std::vector<Tensor> outputs, kalun::ParameterMap params = {})
	{
		const size_t before = session->results().size();
		FakeSession::queueJob(session, *chip, 0,
		                      std::make_shared<JobRequest>(session, model, std::move(inputs),
		                                                   std::move(outputs), 0, 7,
		                                                   std::move(params)));
		return session->waitForResults(before + 1).back();
	}

	std::shared_ptr<FakeSession> owner = std::make_shared<FakeSession>(1);
	std::shared_ptr<FakeSession> stranger = std::make_shared<FakeSession>(2);
	std::unique_ptr<DebugChip> chip;
	uint64_t modelId = 0;
};

TEST_F(DebugChipTest, LoadRunDelete)
{
	const kalun::Model model = chip->getModel(modelId);
	EXPECT_EQ(model.getSize(), 2u);
	EXPECT_EQ(model.getInputs().at(0).getName(), "DebugChipInput");
	EXPECT_EQ(model.getOutputs().at(0).getName(), "DebugChipOutput");
	EXPECT_EQ(model.getOutputs().at(0).getByteSize(), 4096u);
	EXPECT_EQ(chip->getNameAndChipId(), std::make_pair(std::string("debug-device"), 1));

	// Mapped output, and a read/write-only one at an offset of a file of
	// unknown size.
	auto mapped = memfdBuffer(4096, 4096, 0, 3);
	auto written = memfdBuffer(4196, 0, 100, 1);
	auto readOnlyInput = memfdBuffer(1, 0, 0, 1);
	EXPECT_EQ(runJob(owner, modelId, {input(readOnlyInput)}, {output(mapped)}).errorType, "");
	EXPECT_EQ(runJob(owner, modelId, {input()}, {output(written)}).errorType, "");
	EXPECT_TRUE(hasPattern(contents(*mapped, 0, 4096)));
	EXPECT_TRUE(hasPattern(contents(*written, 100, 4096)));
	EXPECT_EQ(contents(*written, 0, 100), std::vector<uint8_t>(100, 0));

	chip->queueDeleteModel(std::make_shared<kalun::DeleteModelRequest>(owner, *chip, 1, modelId, 0, 9));
	EXPECT_EQ(owner->waitForResults(4).back().errorType, "");
	EXPECT_TRUE(chip->getModels().empty());
	const Result late = runJob(owner, modelId, {input()}, {output()});
	EXPECT_EQ(late.error, "Model " + std::to_string(modelId) + " not found");
}

TEST_F(DebugChipTest, JobChecksOneFailureAtATime)
{
	const std::string description = chip->getModel(modelId).toString();
	struct Case {
		const char *what;
		std::shared_ptr<FakeSession> session;
		uint64_t model;
		std::vector<Tensor> inputs, outputs;
		kalun::ParameterMap params;
		std::string type, error;
	};
	std::vector<Case> cases;
	cases.push_back({"good", owner, modelId, {input()}, {output()}, {}, "", ""});
	cases.push_back({"unknown model",
	                 owner,
	                 123456789,
	                 {input()},
	                 {output()},
	                 {},
	                 "ModelNotFound",
	                 "Model 123456789 not found"});
	cases.push_back({"other session",
	                 stranger,
	                 modelId,
	                 {input()},
	                 {output()},
	                 {},
	                 "PermissionDenied",
	                 "Caller 2 does not have permissions for model " + description});
	cases.push_back({"two inputs",
	                 owner,
	                 modelId,
	                 {input(), input()},
	                 {output()},
	                 {},
	                 "TensorMismatch",
	                 "Number of input tensors mismatch (got 2, expected 1)"});
	cases.push_back({"no output",
	                 owner,
	                 modelId,
	                 {input()},
	                 {},
	                 {},
	                 "TensorMismatch",
	                 "Number of output tensors mismatch (got 0, expected 1)"});
	cases.push_back({"input type",
	                 owner,
	                 modelId,
	                 {Tensor(4, 1, {}, {}, 0, "", memfdBuffer(1, 1, 0, 3))},
	                 {output()},
	                 {},
	                 "TensorMismatch",
	                 "Input tensor 0 mismatch: Tensors data type mismatch (got 4, expected 3)"});
	cases.push_back({"output dims",
	                 owner,
	                 modelId,
	                 {input()},
	                 {Tensor(3, 1, {4096, 1, 1, 2}, {}, 0, "", memfdBuffer(4096, 4096, 0, 3))},
	                 {},
	                 "TensorMismatch",
	                 "Output tensor 0 mismatch: Tensors dimensions mismatch (got [4096,1,1,2], "
	                 "expected [4096,1,1,1])"});
	cases.push_back({"input fd size",
	                 owner,
	                 modelId,
	                 {input(memfdBuffer(9, 8, 8, 3))},
	                 {output()},
	                 {},
	                 "FileDescriptorError",
	                 "Input tensor 0 has fd size (8) less than required byte size (1) plus fd "
	                 "offset (8)"});
	cases.push_back({"output fd size",
	                 owner,
	                 modelId,
	                 {input()},
	                 {output(memfdBuffer(4097, 4096, 1, 3))},
	                 {},
	                 "FileDescriptorError",
	                 "Output tensor 0 has fd size (4096) less than required byte size (4096) "
	                 "plus fd offset (1)"});
	cases.push_back({"unknown fd size passes",
	                 owner,
	                 modelId,
	                 {input()},
	                 {output(memfdBuffer(4097, 0, 1, 3))},
	                 {},
	                 "",
	                 ""});
	cases.push_back({"input props",
	                 owner,
	                 modelId,
	                 {input(memfdBuffer(1, 1, 0, 4))},
	                 {output()},
	                 {},
	                 "other",
	                 "Input tensor fd property not supported by this chip; supported: "
	                 "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP"});
	cases.push_back({"output props",
	                 owner,
	                 modelId,
	                 {input()},
	                 {output(memfdBuffer(4096, 4096, 0, 0))},
	                 {},
	                 "other",
	                 "Output tensor fd property not supported by this chip; supported: "
	                 "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP"});
	cases.push_back({"parameters",
	                 owner,
	                 modelId,
	                 {input()},
	                 {output()},
	                 {{"x", std::string("y")}},
	                 "other",
	                 "Additional parameters are not supported"});
	for (auto &c : cases) {
		SCOPED_TRACE(c.what);
		const Result r = runJob(c.session, c.model, std::move(c.inputs), std::move(c.outputs),
		                        std::move(c.params));
		EXPECT_EQ(r.errorType, c.type);
		EXPECT_EQ(r.error, c.error);
	}
}

TEST_F(DebugChipTest, LoadWithParametersFailsBeforeTheIdIsRecorded)
{
	const uint64_t failed = loadModel(owner, {{"key", int64_t(1)}});
	EXPECT_EQ(owner->results().back().error, "Additional parameters are not supported");
	EXPECT_EQ(runJob(owner, failed, {input()}, {output()}).error,
	          "Model " + std::to_string(failed) + " not found");
	EXPECT_THROW(chip->deleteModelVirtual(failed), kalun::BackEndUnit::ModelNotFound);
	EXPECT_NO_THROW(chip->loadModelVirtual({}, 1000000, {}));
	LogCapture logs;
	try {
		chip->loadModelVirtual({}, 1000000, {});
		ADD_FAILURE() << "loaded twice";
	} catch (const std::runtime_error &e) {
		EXPECT_STREQ(e.what(), "Could not load model: ID 1000000 already exists");
	}
	EXPECT_TRUE(logs.contains("Could not load model: ID 1000000 already exists"));
}

TEST_F(DebugChipTest, ContextsFollowTrackedBuffersAcrossModels)
{
	const uint64_t second = loadModel(owner);
	auto tracked = memfdBuffer(4096, 4096, 0, 3);
	tracked->setTracked();
	auto untracked = memfdBuffer(1, 1, 0, 3);
	// The same tracked buffer under two models: one registration, two
	// contexts, and both jobs run.
	EXPECT_EQ(runJob(owner, modelId, {input(untracked)}, {output(tracked)}).errorType, "");
	EXPECT_EQ(runJob(owner, second, {input(untracked)}, {output(tracked)}).errorType, "");
	EXPECT_EQ(runJob(owner, second, {input(untracked)}, {output(tracked)}).errorType, "");
	EXPECT_EQ(chip->contextCount(modelId), 1u);
	EXPECT_EQ(chip->contextCount(second), 1u);

	// A job that fails on its fd properties has already made its contexts.
	auto dmaOnly = memfdBuffer(1, 1, 0, 4);
	dmaOnly->setTracked();
	EXPECT_NE(runJob(owner, modelId, {input(dmaOnly)}, {output()}).error, "");
	EXPECT_EQ(chip->contextCount(modelId), 2u);

	LogCapture logs;
	ASSERT_TRUE(kalun::test::waitSoleOwner(tracked));
	tracked.reset();
	EXPECT_EQ(chip->contextCount(modelId), 1u);
	EXPECT_EQ(chip->contextCount(second), 0u);
	ASSERT_TRUE(kalun::test::waitSoleOwner(dmaOnly));
	dmaOnly.reset();
	EXPECT_EQ(chip->contextCount(modelId), 0u);
	EXPECT_TRUE(logs.lines().empty());
}

class Witness : public kalun::BufferContextCache
{
      public:
	void deleteBufferContext(uint64_t cookie) override
	{
		cookies.push_back(cookie);
	}
	std::vector<uint64_t> cookies;
};

TEST_F(DebugChipTest, BuffersOutlivingTheUnitNoLongerCallIt)
{
	auto tracked = memfdBuffer(4096, 4096, 0, 3);
	tracked->setTracked();
	Witness witness;
	tracked->addObserver(&witness);
	EXPECT_EQ(runJob(owner, modelId, {input()}, {output(tracked)}).errorType, "");
	// Deleting the model keeps its context.
	chip->queueDeleteModel(std::make_shared<kalun::DeleteModelRequest>(owner, *chip, 1, modelId, 0, 9));
	EXPECT_EQ(owner->waitForResults(3).back().errorType, "");
	EXPECT_EQ(chip->contextCount(modelId), 1u);

	LogCapture logs;
	ASSERT_TRUE(kalun::test::waitSoleOwner(tracked));
	chip.reset();
	EXPECT_EQ(logs.lines(),
	          std::vector<std::string>{"DebugChip::~DebugChip(): 1 model(s) have not destroyed all "
	                                   "their BufferContexts"});
	const uint64_t id = tracked->getId();
	tracked.reset();
	EXPECT_EQ(witness.cookies, std::vector<uint64_t>{id});
	EXPECT_EQ(logs.lines().size(), 1u);
}

TEST(DebugChipDestruction, RacesWithBuffersDyingOnOtherThreads)
{
	const std::string leftOver =
	    "DebugChip::~DebugChip(): 1 model(s) have not destroyed all their BufferContexts";
	for (int round = 0; round < 20; ++round) {
		LogCapture logs;
		auto chip = std::make_unique<DebugChip>();
		const uint64_t model = chip->loadModel(1, std::vector<uint8_t>{1}, 1, "m", {}).getId();
		std::vector<std::shared_ptr<Buffer>> buffers;
		std::vector<std::weak_ptr<Buffer>> watched;
		for (int i = 0; i < 8; ++i) {
			auto buffer = memfdBuffer(4096, 4096, 0, 3);
			buffer->setTracked();
			chip->runJobVirtual(model, {input()}, {output(buffer)}, {});
			watched.push_back(buffer);
			buffers.push_back(std::move(buffer));
		}
		EXPECT_EQ(chip->contextCount(model), 8u);
		std::thread dropper([&buffers] { buffers.clear(); });
		chip.reset();
		dropper.join();
		// Whichever went first, every buffer is gone, and the chip said at
		// most that contexts were left when it went.
		for (const auto &buffer : watched)
			EXPECT_TRUE(buffer.expired());
		const auto lines = logs.lines();
		EXPECT_LE(lines.size(), 1u);
		for (const std::string &line : lines)
			EXPECT_EQ(line, leftOver);
	}
}

} // namespace
