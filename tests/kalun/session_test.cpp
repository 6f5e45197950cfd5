// Sessions over their private buses: a client that speaks the wire protocol
// against the debug units.
#include <sys/mman.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "session_client.h"
#include "test_util.h"

namespace
{

using kalun::ModelTuple;
using kalun::ParameterMap;
using kalun::ParameterValue;
using kalun::Session;
using kalun::TensorMetadataTuple;
using kalun::sdbus::UnixFd;
using kalun::test::Answer;
using kalun::test::eventually;
using kalun::test::LoadAnswer;
using kalun::test::LogCapture;
using kalun::test::SessionFixture;
using kalun::test::tensorOn;
using kalun::test::TensorTuple;
using kalun::test::TestClient;

constexpr uint64_t kGated = 0;
constexpr uint64_t kDebug = 1;
constexpr uint64_t kNoModel = 999999;
using Tensors = std::vector<TensorTuple>;

// Descriptors for a job's tensors, closed with the fixture object.
struct JobFds {
	JobFds() : in(TestClient::memfdWith(4096)), out(TestClient::memfdWith(4096)) {}
	~JobFds()
	{
		::close(in);
		::close(out);
	}
	Tensors inputs(uint64_t id = 0) const
	{
		return {tensorOn(in, 4096, id)};
	}
	Tensors outputs(uint64_t id = 0) const
	{
		return {tensorOn(out, 4096, id)};
	}
	int in, out;
};

class SessionTest : public SessionFixture
{
};

TEST_F(SessionTest, HandshakeAnswersTheIdAndReleasesTheClientEnds)
{
	const uint64_t expectedId = Session::getNextId();
	auto session = makeSession();
	EXPECT_EQ(session->getId(), expectedId);
	EXPECT_EQ(Session::getNextId(), expectedId + 1);
	const auto fds = session->getClientFds();
	EXPECT_GE(fds.first, 0);
	EXPECT_GE(fds.second, 0);
	EXPECT_NE(fds.first, fds.second);
	EXPECT_TRUE(eventually([&] {
		return kalun::test::threadNames().count("sesbusproc" + std::to_string(expectedId)) == 1;
	}));

	TestClient client(fds, session->getId());
	client.send("Handshake", std::string(":1.42"));
	kalun::sdbus::Message answer = client.expect("Handshake");
	ASSERT_TRUE(answer);
	EXPECT_STREQ(sd_bus_message_get_path(answer.get()), "/");
	EXPECT_STREQ(sd_bus_message_get_interface(answer.get()), "com.tovi.Kalun1");
	EXPECT_STREQ(sd_bus_message_get_destination(answer.get()), "com.tovi.Kalun1");
	EXPECT_EQ(sd_bus_message_get_expect_reply(answer.get()), 0);
	EXPECT_EQ(answer.signature(), "t");
	EXPECT_EQ(answer.read<uint64_t>(), expectedId);
	// The session lets go of them right after its answer.
	EXPECT_TRUE(eventually([&] { return session->getClientFds() == std::make_pair(-1, -1); }));
}

TEST_F(SessionTest, AFailedConstructionDoesNotUseUpItsId)
{
	const uint64_t next = Session::getNextId();
	EXPECT_THROW(std::make_shared<Session>(systemBus_, "no object path", units_), std::runtime_error);
	EXPECT_EQ(Session::getNextId(), next);
	EXPECT_EQ(makeSession()->getId(), next);
}

TEST(SessionThreadNameTest, LongIdsShareOneName)
{
	EXPECT_EQ(Session::busThreadName(0), "sesbusproc0");
	EXPECT_EQ(Session::busThreadName(99999), "sesbusproc99999");
	EXPECT_EQ(Session::busThreadName(100000), "sesbusprocX");
}

TEST_F(SessionTest, RequestsBeforeTheHandshakeAreRefusedAndASecondHandshakeIgnored)
{
	LogCapture log;
	auto session = makeSession();
	TestClient client(session->getClientFds(), session->getId());
	const std::string id = std::to_string(session->getId());
	JobFds fds;

	client.send("QueueJob", uint64_t{0}, kDebug, uint8_t{0}, uint64_t{5}, fds.inputs(), fds.outputs());
	Answer refused = client.expectAnswer("QueueJob");
	EXPECT_EQ(refused.tag, 5u);
	EXPECT_EQ(refused.code, -1);
	EXPECT_EQ(refused.message, "Invalid message QueueJob: the session has not been handshaked");
	EXPECT_TRUE(log.contains("Session " + id + ": Invalid message QueueJob from client"));
	EXPECT_EQ(gated_->params().size(), 0u);

	client.handshake();
	const uint64_t model = client.load(kDebug, kalun::kModelAccessPrivate, "m", 1);
	client.send("QueueJob", model, kDebug, uint8_t{0}, uint64_t{6}, fds.inputs(), fds.outputs());
	Answer served = client.expectAnswer("QueueJob");
	EXPECT_EQ(served.tag, 6u);
	EXPECT_EQ(served.code, 0) << served.message;

	// A second handshake and an unknown member get no answer: the next
	// answer is that of the request after them.
	client.send("Handshake", std::string(":1.42"));
	client.send("Frobnicate", uint64_t{1});
	client.send("DeallocTensors", std::vector<uint64_t>{}, uint64_t{77});
	EXPECT_EQ(client.expectAnswer("DeallocTensors").tag, 77u);
	EXPECT_TRUE(log.contains("Session " + id + ": Invalid message Handshake from client"));
	EXPECT_TRUE(log.contains("Session " + id + ": Invalid message Frobnicate from client"));
}

TEST_F(SessionTest, LoadRunAndDeleteOnTheDebugUnit)
{
	auto [session, client] = connect();
	client->queueLoad(kDebug, kalun::kModelAccessPublic, "debug model", 11, 100);
	const LoadAnswer loaded = client->expectLoad();
	const ModelTuple &model = std::get<0>(loaded);
	EXPECT_EQ(std::get<1>(loaded), 11u);
	EXPECT_EQ(std::get<2>(loaded), 0);
	EXPECT_EQ(std::get<3>(loaded), "");
	EXPECT_EQ(std::get<0>(model), 100u);
	EXPECT_EQ(std::get<2>(model), kDebug);
	EXPECT_EQ(std::get<3>(model), kalun::kModelAccessPublic);
	EXPECT_EQ(std::get<4>(model), "debug model");
	const std::vector<TensorMetadataTuple> inputs{
	    {3, 1, 1, {1, 1, 1, 1}, {1, 1, 1, 1}, "DebugChipInput"}};
	const std::vector<TensorMetadataTuple> outputs{
	    {3, 1, 4096, {4096, 1, 1, 1}, {4096, 1, 1, 1}, "DebugChipOutput"}};
	EXPECT_EQ(std::get<5>(model), inputs);
	EXPECT_EQ(std::get<6>(model), outputs);
	EXPECT_EQ(session->getModels(), std::vector<ModelTuple>{model});

	JobFds fds;
	client->send("QueueJob", std::get<1>(model), kDebug, uint8_t{50}, uint64_t{12}, fds.inputs(3),
	             fds.outputs(4));
	const Answer job = client->expectAnswer("QueueJob");
	EXPECT_EQ(job.tag, 12u);
	EXPECT_EQ(job.code, 0) << job.message;
	auto *out = static_cast<uint8_t *>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fds.out, 0));
	ASSERT_NE(out, MAP_FAILED);
	EXPECT_EQ(out[0], 0);
	EXPECT_EQ(out[255], 255);
	EXPECT_EQ(out[4095], 4095 % 256);
	munmap(out, 4096);
	EXPECT_EQ(session->savedBufferCount(), 2u);
	ASSERT_TRUE(session->savedBuffer(3));
	EXPECT_TRUE(session->savedBuffer(3)->isTracked());

	client->send("DeallocTensors", std::vector<uint64_t>{3, 4}, uint64_t{13});
	EXPECT_EQ(client->expectAnswer("DeallocTensors").code, 0);
	EXPECT_EQ(session->savedBufferCount(), 0u);

	client->send("DeleteModel", std::get<1>(model), kDebug, uint64_t{14});
	const Answer deleted = client->expectAnswer("DeleteModel");
	EXPECT_EQ(deleted.tag, 14u);
	EXPECT_EQ(deleted.code, 0) << deleted.message;
	EXPECT_TRUE(session->getModels().empty());
}

TEST_F(SessionTest, AllocTensorsHandsOutBuffersTheSessionKeeps)
{
	auto [session, client] = connect();
	const uint64_t model = client->load(kDebug, kalun::kModelAccessPrivate, "m", 1);
	client->send("AllocTensors", model, kDebug, std::vector<uint64_t>{21}, uint8_t{1},
	             uint32_t{kalun::KALUN_FD_PROP_READWRITE | kalun::KALUN_FD_PROP_MAP}, uint64_t{2});
	kalun::sdbus::Message answer = client->expect("AllocTensors");
	ASSERT_TRUE(answer);
	EXPECT_EQ(answer.signature(), "ahatautis");
	std::vector<UnixFd> fds;
	std::vector<uint64_t> sizes;
	std::vector<uint32_t> props;
	Answer tail;
	answer.read(fds, sizes, props, tail.tag, tail.code, tail.message);
	EXPECT_EQ(tail.code, 0) << tail.message;
	ASSERT_EQ(fds.size(), 1u);
	EXPECT_EQ(sizes, std::vector<uint64_t>{4096});
	EXPECT_EQ(props, std::vector<uint32_t>{3});
	ASSERT_TRUE(session->savedBuffer(21));

	// The client's copy and the saved buffer are one memory.
	auto *shared =
	    static_cast<uint8_t *>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fds[0].fd, 0));
	ASSERT_NE(shared, MAP_FAILED);
	JobFds in;
	client->send("QueueJob", model, kDebug, uint8_t{0}, uint64_t{3}, in.inputs(),
	             Tensors{tensorOn(fds[0].fd, 4096, 21)});
	EXPECT_EQ(client->expectAnswer("QueueJob").code, 0);
	EXPECT_EQ(shared[200], 200);
	munmap(shared, 4096);
}

TEST_F(SessionTest, JobsRunByPriorityThenAge)
{
	auto [session, client] = connect();
	const uint64_t model = client->load(kGated, kalun::kModelAccessPrivate, "m", 1);
	JobFds fds;
	const ParameterMap hold{{"hold", int64_t{1}}};
	client->send("QueueJob", model, kGated, uint8_t{0}, uint64_t{1}, fds.inputs(), fds.outputs(), hold);
	ASSERT_TRUE(gated_->gate.waitEntered());
	const std::vector<std::pair<uint8_t, uint64_t>> queued{{10, 10},  {90, 11},  {90, 12},
	                                                       {200, 13}, {100, 14}, {10, 15}};
	for (const auto &[priority, tag] : queued)
		client->send("QueueJob", model, kGated, priority, tag, fds.inputs(), fds.outputs());
	// Every job is in the session's heap once the debug unit answers.
	client->send("DeallocTensors", std::vector<uint64_t>{}, uint64_t{99});
	EXPECT_EQ(client->expectAnswer("DeallocTensors").tag, 99u);
	gated_->gate.open();

	std::vector<uint64_t> order;
	for (size_t i = 0; i < queued.size() + 1; ++i) {
		const Answer a = client->expectAnswer("QueueJob");
		EXPECT_EQ(a.code, 0) << a.message;
		order.push_back(a.tag);
	}
	EXPECT_EQ(order, (std::vector<uint64_t>{1, 13, 14, 11, 12, 10, 15}));
}

TEST_F(SessionTest, ParameterMapsKeepTheirValuesAndZeroOtherTypes)
{
	auto [session, client] = connect();
	const uint64_t model = client->load(kGated, kalun::kModelAccessPrivate, "m", 1);
	JobFds fds;
	// A double does not fit ParameterMap; the session keeps its key with 0.
	client->send("QueueJob", model, kGated, uint8_t{0}, uint64_t{2}, fds.inputs(), fds.outputs(),
	             std::map<std::string, std::variant<int64_t, std::string, std::vector<int64_t>, double>>{
	                 {"n", int64_t{-5}},
	                 {"s", std::string("text")},
	                 {"list", std::vector<int64_t>{1, 2}},
	                 {"d", 2.5}});
	EXPECT_EQ(client->expectAnswer("QueueJob").code, 0);
	ASSERT_EQ(gated_->params().size(), 1u);
	const ParameterMap expected{{"n", int64_t{-5}},
	                            {"s", std::string("text")},
	                            {"list", std::vector<int64_t>{1, 2}},
	                            {"d", int64_t{0}}};
	EXPECT_EQ(gated_->params()[0], expected);
}

// Every answer the protocol defines for a failure, with its exact text.
TEST_F(SessionTest, FailuresAreAnsweredWithTheirCodesAndMessages)
{
	auto mineConnection = connect();
	auto otherConnection = connect();
	const std::shared_ptr<Session> session = mineConnection.first;
	TestClient *const client = mineConnection.second.get();
	TestClient *const otherClient = otherConnection.second.get();
	const uint64_t mine = client->load(kGated, kalun::kModelAccessPrivate, "mine", 1);
	const uint64_t foreign = otherClient->load(kDebug, kalun::kModelAccessPrivate, "theirs", 1);
	const uint64_t shared = otherClient->load(kDebug, kalun::kModelAccessPublic, "shared", 2);
	const std::string me = std::to_string(session->getId());
	const std::string foreignText = "Caller " + me + " does not have permissions for model " +
	                                std::to_string(foreign) + " theirs 64 private";
	JobFds fds;
	const int small = TestClient::memfdWith(16);
	// Saves tensor id 5 with fd size 8192 for the mismatch below.
	const int big = TestClient::memfdWith(8192);
	client->send("QueueJob", mine, kGated, uint8_t{0}, uint64_t{1}, Tensors{tensorOn(big, 8192, 5)},
	             fds.outputs());
	ASSERT_EQ(client->expectAnswer("QueueJob").code, 0);

	struct Row {
		const char *what;
		std::function<void()> send;
		const char *member;
		int32_t code;
		std::string message;
	};
	const ParameterMap params{{"x", int64_t{1}}};
	auto job = [&](uint64_t model, uint64_t unit, Tensors in, Tensors out) {
		return
		    [=, c = client] { c->send("QueueJob", model, unit, uint8_t{0}, uint64_t{42}, in, out); };
	};
	auto alloc = [&](uint64_t model, uint64_t unit, std::vector<uint64_t> ids, uint8_t specifier,
	                 uint32_t props) {
		return [=, c = client] {
			c->send("AllocTensors", model, unit, ids, specifier, props, uint64_t{42});
		};
	};
	auto del = [&](uint64_t model, uint64_t unit) {
		return [=, c = client] { c->send("DeleteModel", model, unit, uint64_t{42}); };
	};
	auto load = [&](uint64_t unit, int32_t access, size_t size, uint64_t announced) {
		return [=, c = client] { c->queueLoad(unit, access, "x", 42, size, announced); };
	};
	const std::vector<Row> rows{
	    {"load: unit beyond the list", load(3, 1, 16, 16), "QueueLoadModel", -9,
	     "Chip ID is larger than number of units"},
	    {"load: unit index = count", load(2, 1, 16, 16), "QueueLoadModel", -9,
	     "Chip ID is larger than number of units"},
	    {"load: access 3", load(kDebug, 3, 16, 16), "QueueLoadModel", -2,
	     "Invalid model access specifier"},
	    {"load: short file", load(kDebug, 1, 10, 16), "QueueLoadModel", -2,
	     "Model file is shorter than its announced size (10 < 16 bytes)"},
	    {"load: unit refuses",
	     [&] {
		     const int fd = TestClient::memfdWith(8);
		     client->send("QueueLoadModel", UnixFd{fd}, uint64_t{8}, kDebug, int32_t{1},
		                  std::string("p"), uint64_t{42}, params);
		     ::close(fd);
	     },
	     "QueueLoadModel", -2, "Additional parameters are not supported"},
	    {"delete: unit beyond the list", del(mine, 3), "DeleteModel", -9,
	     "Chip ID is larger than number of units"},
	    {"delete: unit index = count", del(mine, 2), "DeleteModel", -9,
	     "Chip ID is larger than number of units"},
	    {"delete: unknown model", del(kNoModel, kDebug), "DeleteModel", -4,
	     "Could not delete model: Model 999999 not found"},
	    {"delete: another session's model", del(foreign, kDebug), "DeleteModel", -5,
	     "Could not delete model: " + foreignText},
	    {"delete: unit fails",
	     [&] {
		     gated_->failDelete = true;
		     client->send("DeleteModel", mine, kGated, uint64_t{42});
	     },
	     "DeleteModel", -11, "Could not delete model: cannot delete"},
	    {"job: unit beyond the list", job(mine, 3, fds.inputs(), fds.outputs()), "QueueJob", -9,
	     "Chip ID is larger than number of units"},
	    {"job: unit index = count", job(mine, 2, fds.inputs(), fds.outputs()), "QueueJob", -9,
	     "Chip ID is larger than number of units"},
	    {"job: no inputs", job(mine, kGated, {}, fds.outputs()), "QueueJob", -1,
	     "Could not queue job: No input tensors provided"},
	    {"job: no outputs", job(mine, kGated, fds.inputs(), {}), "QueueJob", -1,
	     "Could not queue job: No output tensors provided"},
	    {"job: bad tensor", job(mine, kGated, {tensorOn(fds.in, 4096, 0, 3, 0)}, fds.outputs()),
	     "QueueJob", -1,
	     "Could not queue job: Could not parse input tensors: Tensor has invalid data type"},
	    {"job: bad fd properties", job(mine, kGated, fds.inputs(), {tensorOn(fds.out, 4096, 0, 8)}),
	     "QueueJob", -1,
	     "Could not queue job: Could not parse output tensors: Fd properties flag (8) is invalid"},
	    {"job: saved size differs", job(mine, kGated, {tensorOn(fds.in, 4096, 5)}, fds.outputs()),
	     "QueueJob", -1,
	     "Could not queue job: Could not parse input tensors: Buffer with ID 5 has size (4096) "
	     "unequal to saved counterpart (8192)"},
	    {"job: unknown model", job(kNoModel, kGated, fds.inputs(), fds.outputs()), "QueueJob", -4,
	     "Could not run job: Model 999999 not found"},
	    {"job: another session's model", job(foreign, kDebug, fds.inputs(), fds.outputs()), "QueueJob",
	     -5, "Could not run job: " + foreignText},
	    {"job: fd too small", job(mine, kGated, fds.inputs(), {tensorOn(small, 16)}), "QueueJob", -3,
	     "Could not run job: Output tensor 0 has fd size (16) less than required byte size "
	     "(4096) plus fd offset (0)"},
	    {"job: unit refuses",
	     [&] {
		     client->send("QueueJob", shared, kDebug, uint8_t{0}, uint64_t{42}, fds.inputs(),
		                  fds.outputs(), params);
	     },
	     "QueueJob", -1, "Could not run job: Additional parameters are not supported"},
	    {"alloc: unit index = count", alloc(mine, 2, {1}, 0, 3), "AllocTensors", -9,
	     "Chip ID is larger than number of units"},
	    {"alloc: unknown model", alloc(kNoModel, kGated, {1}, 0, 3), "AllocTensors", -4,
	     "Could not get model: Model 999999 not found"},
	    {"alloc: specifier 2", alloc(mine, kGated, {1}, 2, 3), "AllocTensors", -14,
	     "Could not allocate tensor buffers: Invalid input/output specifier (2)"},
	    {"alloc: id count", alloc(mine, kGated, {1, 2}, 0, 3), "AllocTensors", -14,
	     "Could not allocate tensor buffers: Number of IDs (2) doesn't match number of input "
	     "tensors (1)"},
	    {"alloc: dma-buf", alloc(mine, kGated, {1}, 1, kalun::KALUN_FD_PROP_DMABUF), "AllocTensors", -14,
	     "Could not allocate tensor buffers: DMA buffer is not supported"},
	    {"dealloc: unknown id",
	     [&] { client->send("DeallocTensors", std::vector<uint64_t>{12345}, uint64_t{42}); },
	     "DeallocTensors", 0, ""},
	    {"unreadable job with a tag",
	     [&] { client->send("QueueJob", mine, kGated, uint32_t{0}, uint64_t{42}); }, "QueueJob", -1,
	     "Could not read message: "},
	    {"unreadable delete with a tag",
	     [&] { client->send("DeleteModel", std::string("one"), kGated, uint64_t{42}); }, "DeleteModel",
	     -1, "Could not read message: "},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.what);
		row.send();
		kalun::sdbus::Message answer = client->expect(row.member);
		if (!answer)
			continue;
		Answer a;
		if (std::string(row.member) == "QueueLoadModel") {
			LoadAnswer load;
			answer.read(load);
			EXPECT_EQ(std::get<0>(load), (ModelTuple{0, 0, 0, 0, "", {}, {}}));
			a = {std::get<1>(load), std::get<2>(load), std::get<3>(load)};
		} else if (std::string(row.member) == "AllocTensors") {
			std::vector<UnixFd> allocated;
			std::vector<uint64_t> sizes;
			std::vector<uint32_t> props;
			answer.read(allocated, sizes, props, a.tag, a.code, a.message);
			EXPECT_TRUE(allocated.empty() && sizes.empty() && props.empty());
		} else {
			answer.read(a.tag, a.code, a.message);
		}
		EXPECT_EQ(a.tag, 42u);
		EXPECT_EQ(a.code, row.code);
		if (row.message == "Could not read message: ")
			EXPECT_EQ(a.message.rfind(row.message, 0), 0u) << a.message;
		else
			EXPECT_EQ(a.message, row.message);
	}
	gated_->failDelete = false;
	::close(small);
	::close(big);
}

TEST_F(SessionTest, AnUnattributableRequestIsDroppedAndLogged)
{
	LogCapture log;
	auto [session, client] = connect();
	client->send("DeleteModel", uint64_t{1}, uint64_t{2});
	client->send("DeallocTensors", std::vector<uint64_t>{}, uint64_t{7});
	EXPECT_EQ(client->expectAnswer("DeallocTensors").tag, 7u);
	const std::string prefix =
	    "Session " + std::to_string(session->getId()) + ": Could not read message: ";
	bool logged = false;
	for (const std::string &line : log.lines())
		logged = logged || line.rfind(prefix, 0) == 0;
	EXPECT_TRUE(logged);
}

TEST_F(SessionTest, DestroyingASessionDeletesItsPrivateModelsOnly)
{
	LogCapture log;
	auto [session, client] = connect();
	const uint64_t priv = client->load(kDebug, kalun::kModelAccessPrivate, "private", 1);
	const uint64_t pub = client->load(kDebug, kalun::kModelAccessPublic, "public", 2);
	EXPECT_EQ(session->privateModels(kDebug), std::unordered_set<uint64_t>{priv});
	std::weak_ptr<Session> weak = session;
	release(session);
	session.reset();
	// A worker may still hold the session for the moment it takes to finish
	// sending the last load result, so its end can come a little later.
	ASSERT_TRUE(eventually([&] { return weak.expired(); }));
	EXPECT_TRUE(eventually([&] { return units_[kDebug]->getModels().count(priv) == 0; }));
	EXPECT_EQ(units_[kDebug]->getModels().count(pub), 1u);
	EXPECT_TRUE(log.waitFor("Could not send delete model result: Session has expired"));
	EXPECT_TRUE(eventually([&] { return units_[kDebug]->deleteModelQueueSize() == 0; }));
	std::this_thread::sleep_for(std::chrono::milliseconds(20));
	long deletes = 0;
	for (const std::string &line : log.lines())
		deletes += line == "Could not send delete model result: Session has expired";
	EXPECT_EQ(deletes, 1);
}

TEST_F(SessionTest, AClientClosingMidJobLeavesNothingBehind)
{
	LogCapture log;
	const size_t before = kalun::test::countOpenFds();
	{
		auto [session, client] = connect();
		const uint64_t model = client->load(kGated, kalun::kModelAccessPrivate, "m", 1);
		{
			JobFds fds;
			client->send("QueueJob", model, kGated, uint8_t{0}, uint64_t{1}, fds.inputs(1),
			             fds.outputs(2), ParameterMap{{"hold", int64_t{1}}});
			ASSERT_TRUE(gated_->gate.waitEntered());
		}
		client->close();
		const std::string thread = "sesbusproc" + std::to_string(session->getId());
		EXPECT_TRUE(eventually([&] { return kalun::test::threadNames().count(thread) == 0; }));
		gated_->gate.open();
		std::weak_ptr<Session> weak = session;
		release(session);
		session.reset();
		EXPECT_TRUE(eventually([&] { return weak.expired(); }));
		EXPECT_TRUE(eventually([&] { return units_[kGated]->getModels().empty(); }));
	}
	EXPECT_TRUE(eventually([&] { return kalun::test::countOpenFds() == before; }))
	    << kalun::test::countOpenFds() << " descriptors open, " << before << " before";
	// The lost client's result is dropped without a word.
	for (const std::string &line : log.lines())
		EXPECT_EQ(line.find(" answer: "), std::string::npos) << line;

	// The unit goes on serving others.
	auto [next, client] = connect();
	const uint64_t model = client->load(kGated, kalun::kModelAccessPrivate, "m", 1);
	JobFds fds;
	client->send("QueueJob", model, kGated, uint8_t{0}, uint64_t{2}, fds.inputs(), fds.outputs());
	EXPECT_EQ(client->expectAnswer("QueueJob").code, 0);
}

TEST_F(SessionTest, StoppingIsIdempotent)
{
	auto session = makeSession();
	const std::string thread = "sesbusproc" + std::to_string(session->getId());
	EXPECT_TRUE(eventually([&] { return kalun::test::threadNames().count(thread) == 1; }));
	session->stopBusProcessing();
	// A joined thread can linger in /proc for a moment.
	EXPECT_TRUE(eventually([&] { return kalun::test::threadNames().count(thread) == 0; }));
	EXPECT_EQ(session->getClientFds(), std::make_pair(-1, -1));
	session->stopBusProcessing();
}

TEST_F(SessionTest, ASessionDroppedWithoutStoppingStillEndsItsThread)
{
	LogCapture log;
	auto session = std::make_shared<Session>(
	    systemBus_, "/com/tovi/Kalun1/Session/" + std::to_string(Session::getNextId()), units_);
	const std::string thread = Session::busThreadName(session->getId());
	EXPECT_TRUE(eventually([&] { return kalun::test::threadNames().count(thread) == 1; }));
	session.reset();
	EXPECT_TRUE(log.contains("Session is destructing without stopping the bus processing"));
	EXPECT_TRUE(eventually([&] { return kalun::test::threadNames().count(thread) == 0; }));
}

// The Session object's properties, read over the system bus by another
// connection while a helper thread serves the service's connection.
TEST_F(SessionTest, SessionObjectServesItsProperties)
{
	auto [session, client] = connect();
	const uint64_t model = client->load(kDebug, kalun::kModelAccessPublic, "listed", 1);
	std::atomic<bool> serving{true};
	std::thread server([&] {
		while (serving) {
			while (sd_bus_process(systemBus_, nullptr) > 0) {
			}
			sd_bus_wait(systemBus_, 20000);
		}
	});
	sd_bus *reader = nullptr;
	ASSERT_GE(sd_bus_open_system(&reader), 0);
	const char *unique = uniqueName_.c_str();
	const std::string path = "/com/tovi/Kalun1/Session/" + std::to_string(session->getId());
	sd_bus_error error = SD_BUS_ERROR_NULL;
	uint64_t id = ~uint64_t(0);
	EXPECT_GE(sd_bus_get_property_trivial(reader, unique, path.c_str(), "com.tovi.Kalun1.Session",
	                                      "SessionId", &error, 't', &id),
	          0)
	    << (error.message ? error.message : "");
	sd_bus_error_free(&error);
	EXPECT_EQ(id, session->getId());
	sd_bus_message *raw = nullptr;
	EXPECT_GE(sd_bus_get_property(reader, unique, path.c_str(), "com.tovi.Kalun1.Session", "Models",
	                              &error, &raw, "a(tttisa(iitatats)a(iitatats))"),
	          0);
	sd_bus_error_free(&error);
	if (raw) {
		kalun::sdbus::Message reply(raw, true);
		auto models = reply.read<std::vector<ModelTuple>>();
		ASSERT_EQ(models.size(), 1u);
		EXPECT_EQ(std::get<1>(models[0]), model);
		EXPECT_EQ(std::get<4>(models[0]), "listed");
	}

	// Stopping takes the object off the bus.
	serving = false;
	server.join();
	session->stopBusProcessing();
	serving = true;
	std::thread again([&] {
		while (serving) {
			while (sd_bus_process(systemBus_, nullptr) > 0) {
			}
			sd_bus_wait(systemBus_, 20000);
		}
	});
	EXPECT_LT(sd_bus_get_property_trivial(reader, unique, path.c_str(), "com.tovi.Kalun1.Session",
	                                      "SessionId", &error, 't', &id),
	          0);
	EXPECT_TRUE(sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_OBJECT)) << error.name;
	sd_bus_error_free(&error);
	sd_bus_flush_close_unref(reader);
	serving = false;
	again.join();
}

} // namespace
