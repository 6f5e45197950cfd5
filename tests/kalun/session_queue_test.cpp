// The session's own queueing and buffer bookkeeping, called directly on a
// session whose client stays silent, and the result-code table.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "kalun/allocator/memfd.h"
#include "session_client.h"
#include "test_util.h"

namespace
{

using kalun::Buffer;
using kalun::ErrorClass;
using kalun::FileDescriptor;
using kalun::ResultSite;
using kalun::Session;
using kalun::TensorMetadata;
using kalun::test::tensorOn;
using kalun::test::TensorTuple;
using kalun::test::TestClient;
using kalun::test::thrownText;

TEST(ResultCodeTest, EverySiteMapsEveryErrorClass)
{
	using E = ErrorClass;
	using S = ResultSite;
	const E classes[] = {E::FileDescriptor, E::TypeSizeOverflow, E::ModelNotFound, E::PermissionDenied,
	                     E::Other};
	const std::vector<std::pair<S, std::vector<int32_t>>> table{
	    {S::LoadQueue, {-3, 75, -2, -2, -2}},        {S::LoadResult, {-2, -2, -2, -2, -2}},
	    {S::DeleteQueue, {-11, -11, -11, -11, -11}}, {S::DeleteResult, {-11, -11, -4, -5, -11}},
	    {S::JobQueue, {-3, 75, -4, -1, -1}},         {S::JobResult, {-3, -1, -4, -5, -1}},
	    {S::AllocTensors, {-14, -14, -4, -14, -14}},
	};
	for (const auto &[site, codes] : table)
		for (size_t c = 0; c < 5; ++c)
			EXPECT_EQ(kalun::resultCode(site, classes[c]), codes[c])
			    << "site " << static_cast<int>(site) << " class " << c;
}

TEST(ResultCodeTest, ErrorsAreClassifiedByTheirMostDerivedKnownType)
{
	const kalun::Model model(1, "m", 1, 1, {TensorMetadata(3, 1, {}, {}, 1, "")},
	                         {TensorMetadata(3, 1, {}, {}, 1, "")});
	const std::vector<std::pair<std::exception_ptr, ErrorClass>> cases{
	    {std::make_exception_ptr(kalun::FileDescriptorError("fd")), ErrorClass::FileDescriptor},
	    {std::make_exception_ptr(Session::TypeSizeOverflow("big")), ErrorClass::TypeSizeOverflow},
	    {std::make_exception_ptr(kalun::BackEndUnit::ModelNotFound(3)), ErrorClass::ModelNotFound},
	    {std::make_exception_ptr(kalun::BackEndUnit::PermissionDenied(2, model)),
	     ErrorClass::PermissionDenied},
	    {std::make_exception_ptr(std::invalid_argument("bad")), ErrorClass::Other},
	    {std::make_exception_ptr(42), ErrorClass::Other},
	};
	for (const auto &[error, expected] : cases)
		EXPECT_EQ(kalun::classifyError(error), expected);
	EXPECT_EQ(kalun::errorText(std::make_exception_ptr(42)), "unknown error");
}

// A unit that is never started: queued orders stay queued, so the tests
// take the jobs themselves. Models are loaded synchronously with the
// descriptions the test sets.
class IdleUnit : public kalun::BackEndUnit
{
      public:
	IdleUnit() : BackEndUnit(kalun::allocator::MemFd::getShared(), kalun::allocator::MemFd::getShared())
	{
	}
	std::pair<std::string, int32_t> getNameAndChipId() const override
	{
		return {"idle", 9};
	}
	TensorMetadataLists loadModelVirtual(kalun::ConstByteSpan, uint64_t,
	                                     const kalun::ParameterMap &) override
	{
		return {inputs, outputs};
	}
	void deleteModelVirtual(uint64_t) override {}
	void runJobVirtual(uint64_t, const std::vector<kalun::Tensor> &, const std::vector<kalun::Tensor> &,
	                   const kalun::ParameterMap &) override
	{
	}
	int32_t getMinModelFormatVersion() const override
	{
		return 0;
	}

	uint64_t addModel(size_t inputCount, size_t outputCount)
	{
		inputs.assign(inputCount, TensorMetadata(3, 1, {}, {}, 64, ""));
		outputs.assign(outputCount, TensorMetadata(3, 1, {}, {}, 128, ""));
		return loadModel(0, {}, kalun::kModelAccessPublic, "m", {}).getId();
	}

	std::vector<TensorMetadata> inputs;
	std::vector<TensorMetadata> outputs;
};

class SessionQueueTest : public kalun::test::SessionFixture
{
      protected:
	void SetUp() override
	{
		SessionFixture::SetUp();
		// Appended as a third unit, so that nothing runs its queues.
		auto idle = std::make_unique<IdleUnit>();
		idle_ = idle.get();
		units_.push_back(std::move(idle));
		session_ = makeSession();
		memfd_ = TestClient::memfdWith(8192);
	}
	void TearDown() override
	{
		::close(memfd_);
		session_.reset();
		SessionFixture::TearDown();
	}

	std::shared_ptr<Buffer> buffer(uint64_t fdSize, int64_t offset = 0, uint32_t props = 3)
	{
		return std::make_shared<Buffer>(FileDescriptor(FileDescriptor::dup(memfd_)), fdSize, offset,
		                                props);
	}
	std::vector<kalun::Tensor> tensors()
	{
		return session_->readTensorMsg({tensorOn(memfd_, 8192)}, {tensorOn(memfd_, 8192)}).first;
	}
	void queue(uint8_t priority, uint64_t tag)
	{
		session_->queueJob(0, kIdle, tensors(), tensors(), priority, tag, {});
	}
	void fillSavedBuffers(size_t n)
	{
		for (uint64_t id = 1000; id < 1000 + n; ++id)
			session_->saveBuffer(buffer(8192), id);
	}

	static constexpr uint64_t kIdle = 2;
	IdleUnit *idle_ = nullptr;
	std::shared_ptr<Session> session_;
	int memfd_ = -1;
};

TEST_F(SessionQueueTest, PendingJobsComeOutByPriorityThenAge)
{
	const std::vector<std::pair<uint8_t, uint64_t>> queued{{10, 1},  {90, 2}, {90, 3},  {200, 4},
	                                                       {100, 5}, {0, 6},  {255, 7}, {10, 8}};
	for (const auto &[priority, tag] : queued)
		queue(priority, tag);
	EXPECT_EQ(idle_->jobQueueSize(), queued.size());
	std::vector<uint64_t> order;
	for (size_t i = 0; i < queued.size(); ++i)
		order.push_back(session_->popJobRequest(kIdle)->getClientTag());
	EXPECT_EQ(order, (std::vector<uint64_t>{7, 4, 5, 2, 3, 1, 8, 6}));
	EXPECT_THROW(session_->popJobRequest(kIdle), std::out_of_range);
	EXPECT_THROW(session_->popJobRequest(7), std::out_of_range);
	EXPECT_EQ(
	    thrownText<std::runtime_error>([&] { session_->queueJob(0, 3, tensors(), tensors(), 0, 1, {}); }),
	    "Could not find chip with index 3");
}

TEST_F(SessionQueueTest, SavedBuffersAreReusedOnlyWhenTheyMatch)
{
	auto first = session_->saveBuffer(buffer(8192, 16, 3), 5);
	EXPECT_TRUE(first->isTracked());
	auto again = buffer(8192, 16, 3);
	EXPECT_EQ(session_->saveBuffer(again, 5), first);
	EXPECT_FALSE(again->isTracked());
	const std::vector<std::pair<std::shared_ptr<Buffer>, std::string>> mismatches{
	    {buffer(4096, 16, 3), "Buffer with ID 5 has size (4096) unequal to saved counterpart (8192)"},
	    {buffer(8192, 32, 3), "Buffer with ID 5 has offset (32) unequal to saved counterpart (16)"},
	    {buffer(8192, 16, 1),
	     "Buffer with ID 5 has buffer properties (1) unequal to saved counterpart (3)"},
	};
	for (const auto &[candidate, text] : mismatches)
		EXPECT_EQ(thrownText<std::invalid_argument>([&] { session_->saveBuffer(candidate, 5); }),
		          text);
	EXPECT_EQ(session_->savedBufferCount(), 1u);
}

TEST_F(SessionQueueTest, ASavedTensorIdTakesItsBufferWithoutANewDescriptor)
{
	session_->readTensorMsg({tensorOn(memfd_, 8192, 5)}, {tensorOn(memfd_, 8192)});
	const auto saved = session_->savedBuffer(5);
	ASSERT_TRUE(saved);
	// The message's descriptor is not even duplicated: one that could not
	// be still names the saved buffer.
	const auto again = session_->readTensorMsg({tensorOn(-1, 8192, 5)}, {tensorOn(memfd_, 8192)});
	EXPECT_EQ(again.first[0].getBuffer(), saved);
	// The fields are refused as a new buffer would refuse them, before the
	// comparison with the saved one.
	TensorTuple badOffset = tensorOn(memfd_, 4096, 5);
	std::get<7>(badOffset) = -1;
	TensorTuple badProps = tensorOn(memfd_, 4096, 5);
	std::get<9>(badProps) = 8;
	for (const auto &[tuple, text] : std::vector<std::pair<TensorTuple, std::string>>{
	         {badOffset, "Could not parse input tensors: Offset is negative"},
	         {badProps, "Could not parse input tensors: Fd properties flag (8) is invalid"}})
		EXPECT_EQ(thrownText<std::invalid_argument>(
		              [&] { session_->readTensorMsg({tuple}, {tensorOn(memfd_, 8192)}); }),
		          text);
	EXPECT_EQ(session_->savedBufferCount(), 1u);
}

TEST_F(SessionQueueTest, TheSixtyFifthTensorIdIsRefused)
{
	fillSavedBuffers(64);
	EXPECT_EQ(thrownText<std::runtime_error>([&] { session_->saveBuffer(buffer(8192), 1); }),
	          "Buffer limit reached");
	// Through a job's tensors the limit passes unwrapped; saved ids still work.
	EXPECT_EQ(thrownText<std::runtime_error>([&] {
		          session_->readTensorMsg({tensorOn(memfd_, 8192, 1)}, {tensorOn(memfd_, 8192)});
	          }),
	          "Buffer limit reached");
	auto lists = session_->readTensorMsg({tensorOn(memfd_, 8192, 1000)}, {tensorOn(memfd_, 8192, 1063)});
	EXPECT_EQ(lists.first[0].getBuffer(), session_->savedBuffer(1000));
	EXPECT_EQ(session_->savedBufferCount(), 64u);
}

TEST_F(SessionQueueTest, TensorReadingNamesTheSideThatFailed)
{
	session_->saveBuffer(buffer(8192), 5);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          session_->readTensorMsg({tensorOn(memfd_, 4096, 5)}, {tensorOn(memfd_, 8192)});
	          }),
	          "Could not parse input tensors: Buffer with ID 5 has size (4096) unequal to saved "
	          "counterpart (8192)");
	TensorTuple badOffset = tensorOn(memfd_, 8192);
	std::get<7>(badOffset) = -1;
	EXPECT_EQ(thrownText<std::invalid_argument>(
	              [&] { session_->readTensorMsg({tensorOn(memfd_, 8192)}, {badOffset}); }),
	          "Could not parse output tensors: Offset is negative");
	EXPECT_EQ(thrownText<kalun::FileDescriptorError>(
	              [&] { session_->readTensorMsg({tensorOn(-1, 8192)}, {tensorOn(memfd_, 8192)}); }),
	          "Could not duplicate file descriptor: Bad file descriptor");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { session_->readTensorMsg({}, {}); }),
	          "No input tensors provided");
}

TEST_F(SessionQueueTest, AllocationsRespectTheLimitAndRollBack)
{
	const uint64_t model = idle_->addModel(2, 3);
	fillSavedBuffers(62);
	EXPECT_EQ(thrownText<std::runtime_error>([&] {
		          session_->allocTensors(*idle_, 1, model, {1, 2, 3}, 3, {});
	          }),
	          "Buffer limit reached");
	EXPECT_EQ(session_->savedBufferCount(), 62u);

	// Id 7 twice: the first is inserted, the second collides, the first
	// is taken out again.
	const size_t fds = kalun::test::countOpenFds();
	EXPECT_EQ(thrownText<std::runtime_error>([&] {
		          session_->allocTensors(*idle_, 0, model, {7, 7}, 3, {});
	          }),
	          "Could not save allocated buffer with ID 7");
	EXPECT_EQ(session_->savedBufferCount(), 62u);
	EXPECT_FALSE(session_->savedBuffer(7));
	EXPECT_EQ(kalun::test::countOpenFds(), fds);
	// A collision with an id saved earlier leaves that entry alone.
	EXPECT_EQ(thrownText<std::runtime_error>([&] {
		          session_->allocTensors(*idle_, 0, model, {8, 1000}, 3, {});
	          }),
	          "Could not save allocated buffer with ID 1000");
	EXPECT_TRUE(session_->savedBuffer(1000));
	EXPECT_FALSE(session_->savedBuffer(8));

	session_->stopBusProcessing();
	auto smaller = makeSession();
	for (uint64_t id = 1000; id < 1061; ++id)
		smaller->saveBuffer(buffer(8192), id);
	auto buffers = smaller->allocTensors(*idle_, 1, model, {1, 2, 3}, 3, {});
	ASSERT_EQ(buffers.size(), 3u);
	EXPECT_EQ(smaller->savedBufferCount(), 64u);
	EXPECT_EQ(buffers[2]->getFdSize(), 128u);
	EXPECT_TRUE(buffers[2]->isTracked());
	EXPECT_EQ(smaller->savedBuffer(3), buffers[2]);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          smaller->allocTensors(*idle_, 0, model, {1, 2, 3}, 3, {});
	          }),
	          "Number of IDs (3) doesn't match number of input tensors (2)");
}

TEST_F(SessionQueueTest, ModelFilesAreReadAsSentAndNoFurther)
{
	const uint64_t sizeBefore = idle_->loadModelQueueSize();
	// Size 0 never touches the descriptor: a write-only pipe end would fail.
	int pipeFds[2];
	ASSERT_EQ(pipe(pipeFds), 0);
	session_->queueLoadModel(FileDescriptor(pipeFds[1]), 0, kIdle, 1, "", 1, {});
	::close(pipeFds[0]);
	EXPECT_EQ(idle_->loadModelQueueSize(), sizeBefore + 1);

	const int file = TestClient::memfdWith(10);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          session_->queueLoadModel(FileDescriptor(FileDescriptor::dup(file)), 16, kIdle, 1,
		                                   "", 2, {});
	          }),
	          "Model file is shorter than its announced size (10 < 16 bytes)");
	// An absurd announcement costs no more than the file's bytes.
	lseek(file, 0, SEEK_SET);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          session_->queueLoadModel(FileDescriptor(FileDescriptor::dup(file)),
		                                   uint64_t(1) << 62, kIdle, 1, "", 3, {});
	          }),
	          "Model file is shorter than its announced size (10 < 4611686018427387904 bytes)");
	// A longer file is read up to the announced size; the position shows it.
	lseek(file, 0, SEEK_SET);
	session_->queueLoadModel(FileDescriptor(FileDescriptor::dup(file)), 4, kIdle, 2, "", 4, {});
	EXPECT_EQ(lseek(file, 0, SEEK_CUR), 4);
	EXPECT_EQ(idle_->loadModelQueueSize(), sizeBefore + 2);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          session_->queueLoadModel(FileDescriptor(FileDescriptor::dup(file)), 4, kIdle, 0, "",
		                                   5, {});
	          }),
	          "Invalid model access specifier");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] {
		          session_->queueLoadModel(FileDescriptor(FileDescriptor::dup(file)), 4, 3, 1, "", 6,
		                                   {});
	          }),
	          "Invalid chip ID");
	::close(file);
}

} // namespace
