#include "kalun/backend_unit.h"

#include <climits>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "fake_session.h"
#include "kalun/allocator/memfd.h"
#include "kalun/backendunit/debug_chip.h"
#include "test_util.h"

namespace
{

using kalun::BackEndUnit;
using kalun::DeleteModelRequest;
using kalun::JobRequest;
using kalun::LoadModelRequest;
using kalun::Tensor;
using kalun::TensorMetadata;
using kalun::test::FakeSession;
using kalun::test::Gate;
using kalun::test::LogCapture;
using kalun::test::thrownText;

TensorMetadata sized(uint64_t byteSize)
{
	return TensorMetadata(3, 1, {}, {}, byteSize, "");
}

// A unit whose jobs record their "n" parameter and can be held on a gate.
class TestUnit : public BackEndUnit
{
      public:
	explicit TestUnit(int32_t chipId = 7)
	    : BackEndUnit(kalun::allocator::MemFd::getShared(), kalun::allocator::MemFd::getShared()),
	      chipId_(chipId)
	{
	}
	~TestUnit() override
	{
		stopProcessingQueues();
	}

	std::pair<std::string, int32_t> getNameAndChipId() const override
	{
		return {"test-unit", chipId_};
	}
	TensorMetadataLists loadModelVirtual(kalun::ConstByteSpan, uint64_t,
	                                     const kalun::ParameterMap &) override
	{
		if (failLoad)
			throw std::runtime_error("cannot load");
		return {inputs, outputs};
	}
	void deleteModelVirtual(uint64_t) override
	{
		if (failDelete)
			throw std::runtime_error("cannot delete");
	}
	void runJobVirtual(uint64_t, const std::vector<Tensor> &, const std::vector<Tensor> &,
	                   const kalun::ParameterMap &params) override
	{
		const int64_t n = std::get<int64_t>(params.at("n"));
		{
			std::lock_guard<std::mutex> lock(mutex_);
			ran_.push_back(n);
		}
		if (n == 0)
			gate.pass();
	}
	int32_t getMinModelFormatVersion() const override
	{
		return 0;
	}

	std::vector<int64_t> ran()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return ran_;
	}

	std::vector<TensorMetadata> inputs{sized(1)};
	std::vector<TensorMetadata> outputs{sized(4)};
	bool failLoad = false;
	bool failDelete = false;
	Gate gate;

      private:
	int32_t chipId_;
	std::mutex mutex_;
	std::vector<int64_t> ran_;
};

const std::vector<uint8_t> kModel = {1, 2, 3};

std::vector<Tensor> oneTensor()
{
	std::shared_ptr<kalun::Buffer> buffer = kalun::allocator::MemFd::getShared()->allocate(8, 3, {});
	return {Tensor(1, 1, {}, {}, 0, "", buffer)};
}

std::shared_ptr<JobRequest> job(const std::shared_ptr<FakeSession> &session, uint64_t modelId, int64_t n,
                                uint8_t priority)
{
	return std::make_shared<JobRequest>(session, modelId, oneTensor(), oneTensor(), priority,
	                                    static_cast<uint64_t>(n), kalun::ParameterMap{{"n", n}});
}

std::shared_ptr<LoadModelRequest> load(const std::shared_ptr<FakeSession> &session, BackEndUnit &unit,
                                       int32_t access, uint64_t tag = 0)
{
	return std::make_shared<LoadModelRequest>(session, unit, session->getId(), 0, kModel, access, "m",
	                                          tag, kalun::ParameterMap{});
}

std::shared_ptr<DeleteModelRequest> del(const std::shared_ptr<FakeSession> &session, BackEndUnit &unit,
                                        uint64_t modelId, uint64_t tag = 0)
{
	return std::make_shared<DeleteModelRequest>(session, unit, session->getId(), modelId, 0, tag);
}

TEST(BackEndUnitTest, PermissionTable)
{
	TestUnit unit;
	struct Case {
		int32_t access;
		uint64_t caller;
		bool allowed;
	};
	const Case cases[] = {
	    {1, 1, true}, {1, 2, false}, {2, 1, true}, {2, 2, true}, {0, 2, true}, {3, 2, true},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.access) + " by " + std::to_string(c.caller));
		const kalun::Model model = unit.loadModel(1, kModel, c.access, "m", {});
		EXPECT_EQ(unit.hasPermission(c.caller, model), c.allowed);
		const std::string refusal = "Caller " + std::to_string(c.caller) +
		                            " does not have permissions for model " + model.toString();
		EXPECT_EQ(thrownText<BackEndUnit::PermissionDenied>(
		              [&] { unit.deleteModel(c.caller, model.getId()); }),
		          c.allowed ? "" : refusal);
		EXPECT_EQ(unit.getModels().count(model.getId()), c.allowed ? 0u : 1u);
	}
}

TEST(BackEndUnitTest, SynchronousRegistry)
{
	TestUnit unit;
	EXPECT_TRUE(unit.getModels().empty());
	const kalun::Model first = unit.loadModel(3, kModel, 1, "first", {});
	EXPECT_EQ(first.getSize(), 3u);
	EXPECT_EQ(unit.getModel(first.getId()).getName(), "first");

	unit.failLoad = true;
	EXPECT_EQ(thrownText<std::runtime_error>([&] { unit.loadModel(3, kModel, 1, "x", {}); }),
	          "cannot load");
	unit.outputs = {sized(0)};
	unit.failLoad = false;
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { unit.loadModel(3, kModel, 1, "x", {}); }),
	          "Output tensor metadata 0 has invalid zero byte size");
	unit.outputs = {sized(4)};
	// Both failed loads spent an id; none was entered.
	const kalun::Model next = unit.loadModel(3, kModel, 1, "next", {});
	EXPECT_EQ(next.getId(), first.getId() + 3);
	EXPECT_EQ(unit.getModels().size(), 2u);

	unit.deleteModel(3, first.getId());
	const std::string gone = "Model " + std::to_string(first.getId()) + " not found";
	EXPECT_EQ(thrownText<BackEndUnit::ModelNotFound>([&] { unit.getModel(first.getId()); }), gone);
	EXPECT_EQ(thrownText<BackEndUnit::ModelNotFound>([&] { unit.deleteModel(3, first.getId()); }), gone);
	unit.failDelete = true;
	EXPECT_EQ(thrownText<std::runtime_error>([&] { unit.deleteModel(3, next.getId()); }),
	          "cannot delete");
	EXPECT_EQ(unit.getModels().size(), 1u);
}

TEST(BackEndUnitTest, CommittingADeleteThatFailedKeepsTheModel)
{
	TestUnit unit;
	auto session = std::make_shared<FakeSession>(1);
	const kalun::Model model = unit.loadModel(1, kModel, 1, "m", {});
	auto request = del(session, unit, model.getId());
	request->setError(std::make_exception_ptr(std::runtime_error("unit failed")));
	unit.commitDeleteModel(*request);
	EXPECT_EQ(unit.getModels().count(model.getId()), 1u);
	auto missing = del(session, unit, 999999);
	unit.commitDeleteModel(*missing);
	EXPECT_EQ(kalun::test::classify(missing->getError()).second, "Model 999999 not found");
}

TEST(BackEndUnitTest, FirstModelOfTheProcessHasIdZero)
{
	testing::FLAGS_gtest_death_test_style = "threadsafe";
	EXPECT_EXIT(
	    {
		    TestUnit unit;
		    const uint64_t id = unit.loadModel(1, kModel, 1, "m", {}).getId();
		    std::exit(id == 0 ? 0 : 1);
	    },
	    testing::ExitedWithCode(0), "");
}

TEST(BackEndUnitTest, ModelIdsAreUniqueAcrossUnitsLoadingConcurrently)
{
	TestUnit a, b;
	a.startProcessingQueues();
	b.startProcessingQueues();
	auto s1 = std::make_shared<FakeSession>(1);
	auto s2 = std::make_shared<FakeSession>(2);
	constexpr int kLoads = 50;
	auto queueMany = [&](const std::shared_ptr<FakeSession> &s) {
		for (int i = 0; i < kLoads; ++i) {
			a.queueLoadModel(load(s, a, 2));
			b.queueLoadModel(load(s, b, 2));
		}
	};
	std::thread t1(queueMany, s1), t2(queueMany, s2);
	t1.join();
	t2.join();
	std::set<uint64_t> ids;
	for (auto &s : {s1, s2})
		for (const auto &r : s->waitForResults(2 * kLoads)) {
			EXPECT_EQ(r.errorType, "");
			ids.insert(r.modelId);
		}
	EXPECT_EQ(ids.size(), 4u * kLoads);
	EXPECT_EQ(a.getModels().size() + b.getModels().size(), 4u * kLoads);
}

TEST(BackEndUnitTest, QueuedLoadsAndDeletesReportTheirOutcome)
{
	TestUnit unit;
	unit.startProcessingQueues();
	auto owner = std::make_shared<FakeSession>(1);
	auto other = std::make_shared<FakeSession>(2);
	unit.queueLoadModel(load(owner, unit, 1, 10));
	const auto loaded = owner->waitForResults(1).at(0);
	ASSERT_EQ(loaded.errorType, "");
	const uint64_t id = loaded.modelId;
	const std::string description = unit.getModel(id).toString();

	unit.queueDeleteModel(del(other, unit, id, 20));
	unit.queueDeleteModel(del(other, unit, 999999, 21));
	const auto refused = other->waitForResults(2);
	EXPECT_EQ(refused[0].errorType, "PermissionDenied");
	EXPECT_EQ(refused[0].error, "Caller 2 does not have permissions for model " + description);
	EXPECT_EQ(refused[1].errorType, "ModelNotFound");
	EXPECT_EQ(refused[1].error, "Model 999999 not found");
	EXPECT_EQ(unit.getModels().count(id), 1u);

	unit.failDelete = true;
	unit.queueDeleteModel(del(owner, unit, id, 11));
	EXPECT_EQ(owner->waitForResults(2).at(1).error, "cannot delete");
	EXPECT_EQ(unit.getModels().count(id), 1u);
	unit.failDelete = false;
	unit.queueDeleteModel(del(owner, unit, id, 12));
	EXPECT_EQ(owner->waitForResults(3).at(2).errorType, "");
	EXPECT_EQ(unit.getModels().count(id), 0u);
}

TEST(BackEndUnitTest, LoadFailuresEnterNothing)
{
	TestUnit unit;
	auto session = std::make_shared<FakeSession>(1);
	unit.inputs.clear();
	unit.queueLoadModel(load(session, unit, 1, 1));
	unit.startProcessingQueues();
	EXPECT_EQ(session->waitForResults(1).at(0).error, "Tensor metadata are empty");
	unit.inputs = {sized(1)};
	unit.outputs = {sized(0)};
	unit.queueLoadModel(load(session, unit, 1, 2));
	EXPECT_EQ(session->waitForResults(2).at(1).error,
	          "Output tensor metadata 0 has invalid zero byte size");
	unit.outputs = {sized(4)};
	unit.failLoad = true;
	unit.queueLoadModel(load(session, unit, 1, 3));
	EXPECT_EQ(session->waitForResults(3).at(2).error, "cannot load");
	EXPECT_TRUE(unit.getModels().empty());
}

TEST(BackEndUnitTest, ResultsOfClosedSessionsAreDropped)
{
	LogCapture logs;
	TestUnit unit;
	auto session = std::make_shared<FakeSession>(1);
	const kalun::Model model = unit.loadModel(1, kModel, 1, "m", {});
	unit.queueLoadModel(load(session, unit, 1)); // private: removed again
	unit.queueLoadModel(load(session, unit, 2)); // public: stays
	FakeSession::queueJob(session, unit, 0, job(session, model.getId(), 1, 0));
	unit.queueDeleteModel(del(session, unit, model.getId()));
	session.reset();
	unit.startProcessingQueues();
	ASSERT_TRUE(logs.waitFor("Could not send delete model result: Session has expired"));
	ASSERT_TRUE(logs.waitFor("Skipping job request: Could not get job request: Session has expired"));
	ASSERT_TRUE(logs.waitFor("Could not send load model result: Session has expired", 2));
	unit.stopProcessingQueues();
	const auto models = unit.getModels();
	ASSERT_EQ(models.size(), 1u);
	EXPECT_EQ(models.begin()->second.getAccess(), 2);
	EXPECT_TRUE(unit.ran().empty());
}

TEST(BackEndUnitTest, FailedPrivateLoadOfAClosedSessionDeletesNothing)
{
	LogCapture logs;
	TestUnit unit;
	unit.failLoad = true;
	auto session = std::make_shared<FakeSession>(1);
	unit.queueLoadModel(load(session, unit, 1));
	session.reset();
	unit.startProcessingQueues();
	ASSERT_TRUE(logs.waitFor("Could not send load model result: Session has expired"));
	unit.stopProcessingQueues();
	EXPECT_EQ(logs.lines(),
	          std::vector<std::string>{"Could not send load model result: Session has expired"});
}

TEST(BackEndUnitTest, JobOfAClosedSessionFailsItsSessionCheck)
{
	LogCapture logs;
	TestUnit unit;
	unit.startProcessingQueues();
	auto session = std::make_shared<FakeSession>(1);
	auto gone = std::make_shared<FakeSession>(2);
	auto orphan = job(gone, 0, 1, 0);
	gone.reset();
	FakeSession::queueJob(session, unit, 0, orphan);
	ASSERT_TRUE(logs.waitFor("Could not send job result: Session has expired"));
	EXPECT_EQ(kalun::test::classify(orphan->getError()),
	          std::make_pair(std::string("InvalidJobRequest"),
	                         std::string("Could not get session ID: Session has expired")));
}

TEST(BackEndUnitTest, HigherPriorityFirstThenOlderAndSessionsInArrivalOrder)
{
	TestUnit unit;
	const uint64_t id = unit.loadModel(1, kModel, 2, "m", {}).getId();
	unit.startProcessingQueues();
	auto a = std::make_shared<FakeSession>(1);
	auto b = std::make_shared<FakeSession>(2);
	FakeSession::queueJob(a, unit, 0, job(a, id, 0, 0));
	ASSERT_TRUE(unit.gate.waitEntered());
	FakeSession::queueJob(a, unit, 0, job(a, id, 1, 10));
	FakeSession::queueJob(a, unit, 0, job(a, id, 2, 90));
	FakeSession::queueJob(b, unit, 0, job(b, id, 3, 0));
	FakeSession::queueJob(a, unit, 0, job(a, id, 4, 90));
	FakeSession::queueJob(a, unit, 0, job(a, id, 5, 200));
	FakeSession::queueJob(a, unit, 0, job(a, id, 6, 50));
	unit.gate.open();
	a->waitForResults(6);
	b->waitForResults(1);
	// Orders: a a b a a a. Each a-order takes a's best pending job.
	EXPECT_EQ(unit.ran(), (std::vector<int64_t>{0, 5, 2, 3, 4, 6, 1}));
}

TEST(BackEndUnitTest, StopWaitsForTheRunningJobAndDropsTheQueue)
{
	TestUnit unit;
	const uint64_t id = unit.loadModel(1, kModel, 2, "m", {}).getId();
	unit.startProcessingQueues();
	auto session = std::make_shared<FakeSession>(1);
	FakeSession::queueJob(session, unit, 0, job(session, id, 0, 0));
	ASSERT_TRUE(unit.gate.waitEntered());
	FakeSession::queueJob(session, unit, 0, job(session, id, 1, 0));
	auto stopped = std::async(std::launch::async, [&] { unit.stopProcessingQueues(); });
	// The stop must have begun before the running job ends, or the worker
	// may take the second job first.
	while (unit.isProcessing())
		std::this_thread::yield();
	EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
	unit.gate.open();
	stopped.get();
	EXPECT_EQ(unit.ran(), std::vector<int64_t>{0});
	const auto results = session->results();
	ASSERT_EQ(results.size(), 1u);
	EXPECT_EQ(results[0].kind, "job");
	EXPECT_EQ(unit.jobQueueSize(), 1u);
}

// Workers name themselves once they run; wait until they have.
bool waitForThreadNames(const std::vector<std::string> &wanted)
{
	for (int i = 0; i < 1000; ++i) {
		const auto names = kalun::test::threadNames();
		if (std::all_of(wanted.begin(), wanted.end(),
		                [&](const std::string &n) { return names.count(n); }))
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return false;
}

TEST(BackEndUnitTest, StoppingIdleOrUnstartedUnitsReturns)
{
	TestUnit idle(41), unstarted(42);
	idle.startProcessingQueues();
	const std::vector<std::string> workers{"jobq41", "loadmodelq41", "delmodelq41"};
	ASSERT_TRUE(waitForThreadNames(workers));
	idle.stopProcessingQueues();
	idle.stopProcessingQueues();
	unstarted.stopProcessingQueues();
	// The workers have ended, and nothing queued afterwards is run.
	const auto names = kalun::test::threadNames();
	for (const std::string &worker : workers)
		EXPECT_EQ(names.count(worker), 0u) << worker;
	EXPECT_EQ(names.count("jobq42"), 0u);
	for (TestUnit *unit : {&idle, &unstarted}) {
		auto session = std::make_shared<FakeSession>(1);
		unit->queueLoadModel(load(session, *unit, 2));
		EXPECT_EQ(unit->loadModelQueueSize(), 1u);
		EXPECT_TRUE(session->results().empty());
	}
}

TEST(BackEndUnitTest, ThrowingHandBackDoesNotEndTheWorker)
{
	LogCapture logs;
	TestUnit unit;
	unit.startProcessingQueues();
	auto session = std::make_shared<FakeSession>(1);
	session->throwOnSend = true;
	unit.queueLoadModel(load(session, unit, 2));
	const uint64_t id = session->waitForResults(1).at(0).modelId;
	FakeSession::queueJob(session, unit, 0, job(session, id, 1, 0));
	FakeSession::queueJob(session, unit, 0, job(session, id, 2, 0));
	session->waitForResults(3);
	unit.queueDeleteModel(del(session, unit, id));
	const auto results = session->waitForResults(4);
	EXPECT_EQ(results[1].errorType, "");
	EXPECT_EQ(results[2].errorType, "");
	EXPECT_EQ(results[3].kind, "delete");
	EXPECT_EQ(results[3].errorType, "");
	EXPECT_TRUE(logs.waitFor("Could not send load model result: result channel broken"));
	EXPECT_TRUE(logs.waitFor("Could not send delete model result: result channel broken"));
}

TEST(BackEndUnitTest, WorkerThreadNamesCarryTheChipId)
{
	kalun::backendunit::DebugChip chip;
	TestUnit negative(-5);
	chip.startProcessingQueues();
	negative.startProcessingQueues();
	EXPECT_TRUE(waitForThreadNames({"jobq1", "loadmodelq1", "delmodelq1"}));
	EXPECT_TRUE(waitForThreadNames({"jobq-5", "loadmodelq-5", "delmodelq-5"}));
}

TEST(BackEndUnitTest, RefusedThreadNameIsLoggedAndTheWorkerRuns)
{
	LogCapture logs;
	TestUnit unit(INT_MIN);
	unit.startProcessingQueues();
	EXPECT_TRUE(logs.waitFor("Could not set thread name \"loadmodelq-2147483648\""));
	EXPECT_TRUE(logs.waitFor("Could not set thread name \"delmodelq-2147483648\""));
	EXPECT_TRUE(waitForThreadNames({"jobq-2147483648"}));
	auto session = std::make_shared<FakeSession>(1);
	unit.queueLoadModel(load(session, unit, 2));
	EXPECT_EQ(session->waitForResults(1).at(0).errorType, "");
}

} // namespace
