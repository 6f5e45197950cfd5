// A session in front of the service's own units, cpu-tflite at index 0 and
// cpu-proc at index 1, driven over the wire.
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "kalun/backendunit/libyuv_unit.h"
#include "kalun/backendunit/tflite_cpu.h"
#include "session_client.h"
#include "tflite_models.h"

namespace
{

using kalun::ModelTuple;
using kalun::ParameterMap;
using kalun::Session;
using kalun::sdbus::UnixFd;
using kalun::test::LoadAnswer;
using kalun::test::tensorOn;
using kalun::test::TensorTuple;
using kalun::test::TestClient;

constexpr uint64_t kTFLite = 0;
constexpr uint64_t kProc = 1;
using Ints = std::vector<int64_t>;

int memfdHolding(const std::vector<uint8_t> &bytes)
{
	const int fd = TestClient::memfdWith(bytes.size());
	EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
	return fd;
}

std::vector<uint8_t> contents(int fd, size_t size)
{
	std::vector<uint8_t> bytes(size);
	EXPECT_EQ(pread(fd, bytes.data(), size, 0), static_cast<ssize_t>(size));
	return bytes;
}

class SessionUnitsTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_GE(sd_bus_open_system(&systemBus_), 0);
		units_.push_back(std::make_unique<kalun::backendunit::TFLiteCPU>());
		units_.push_back(std::make_unique<kalun::backendunit::LibYuv>());
		for (auto &unit : units_)
			unit->startProcessingQueues();
		session_ = std::make_shared<Session>(
		    systemBus_, "/com/tovi/Kalun1/Session/" + std::to_string(Session::getNextId()), units_);
		client_ = std::make_unique<TestClient>(session_->getClientFds(), session_->getId());
		ASSERT_EQ(client_->handshake(), session_->getId());
	}
	void TearDown() override
	{
		client_.reset();
		session_->stopBusProcessing();
		session_.reset();
		units_.clear();
		sd_bus_flush_close_unref(systemBus_);
	}

	LoadAnswer load(uint64_t unit, const std::vector<uint8_t> &model, const ParameterMap &params,
	                uint64_t tag)
	{
		const int fd = memfdHolding(model);
		client_->send("QueueLoadModel", UnixFd{fd}, uint64_t{model.size()}, unit, int32_t{1},
		              std::string("m"), tag, params);
		::close(fd);
		return client_->expectLoad();
	}
	kalun::test::Answer job(uint64_t model, uint64_t unit, std::vector<TensorTuple> in,
	                        std::vector<TensorTuple> out, uint64_t tag)
	{
		client_->send("QueueJob", model, unit, uint8_t{0}, tag, in, out);
		return client_->expectAnswer("QueueJob");
	}

	sd_bus *systemBus_ = nullptr;
	Session::UnitList units_;
	std::shared_ptr<Session> session_;
	std::unique_ptr<TestClient> client_;
};

TEST_F(SessionUnitsTest, ATensorFlowLiteModelLoadsRunsAndGoes)
{
	const std::vector<uint8_t> model = kalun::test::addModel();
	const LoadAnswer loaded = load(kTFLite, model, {}, 1);
	ASSERT_EQ(std::get<2>(loaded), 0) << std::get<3>(loaded);
	const ModelTuple &tuple = std::get<0>(loaded);
	EXPECT_EQ(std::get<0>(tuple), model.size());
	EXPECT_EQ(std::get<2>(tuple), kTFLite);
	const kalun::TensorMetadataTuple a{12, 1, 192, {1, 4, 4, 3}, {192, 192, 48, 12}, "a"};
	ASSERT_EQ(std::get<5>(tuple).size(), 2u);
	EXPECT_EQ(std::get<5>(tuple)[0], a);
	EXPECT_EQ(std::get<4>(std::get<6>(tuple)[0]), std::vector<uint64_t>({192, 192, 48, 12}));

	std::vector<float> lhs(48), rhs(48);
	for (size_t i = 0; i < 48; ++i) {
		lhs[i] = static_cast<float>(i);
		rhs[i] = 0.5f;
	}
	const int fdA = memfdHolding(kalun::test::floatBytes(lhs));
	const int fdB = memfdHolding(kalun::test::floatBytes(rhs));
	const int fdSum = TestClient::memfdWith(192);
	const auto answer =
	    job(std::get<1>(tuple), kTFLite, {tensorOn(fdA, 192, 0, 3, 12), tensorOn(fdB, 192, 0, 3, 12)},
	        {tensorOn(fdSum, 192, 0, 3, 12)}, 2);
	EXPECT_EQ(answer.code, 0) << answer.message;
	std::vector<float> sum(48);
	const auto bytes = contents(fdSum, 192);
	std::memcpy(sum.data(), bytes.data(), 192);
	EXPECT_FLOAT_EQ(sum[0], 0.5f);
	EXPECT_FLOAT_EQ(sum[47], 47.5f);

	// One input is not enough for this model.
	const auto refused = job(std::get<1>(tuple), kTFLite, {tensorOn(fdA, 192, 0, 3, 12)},
	                         {tensorOn(fdSum, 192, 0, 3, 12)}, 3);
	EXPECT_EQ(refused.code, -1);
	EXPECT_EQ(refused.message, "Could not run job: Number of input tensors mismatch (got 1, expected 2)");

	client_->send("DeleteModel", std::get<1>(tuple), kTFLite, uint64_t{4});
	EXPECT_EQ(client_->expectAnswer("DeleteModel").code, 0);
	EXPECT_TRUE(session_->getModels().empty());
	for (int fd : {fdA, fdB, fdSum})
		::close(fd);
}

TEST_F(SessionUnitsTest, AnImageModelConvertsIntoAllocatedBuffers)
{
	const ParameterMap params{{"image.input.size", Ints{32, 16}},
	                          {"image.input.format", std::string("nv12")},
	                          {"image.output.size", Ints{16, 8}},
	                          {"image.output.format", std::string("rgb-interleaved")}};
	const LoadAnswer loaded = load(kProc, {}, params, 1);
	ASSERT_EQ(std::get<2>(loaded), 0) << std::get<3>(loaded);
	const uint64_t model = std::get<1>(std::get<0>(loaded));
	EXPECT_EQ(std::get<2>(std::get<6>(std::get<0>(loaded)).at(0)), 384u);

	client_->send("AllocTensors", model, kProc, std::vector<uint64_t>{9}, uint8_t{1}, uint32_t{3},
	              uint64_t{2});
	kalun::sdbus::Message allocated = client_->expect("AllocTensors");
	ASSERT_TRUE(allocated);
	std::vector<UnixFd> fds;
	std::vector<uint64_t> sizes;
	std::vector<uint32_t> props;
	kalun::test::Answer tail;
	allocated.read(fds, sizes, props, tail.tag, tail.code, tail.message);
	ASSERT_EQ(tail.code, 0) << tail.message;
	ASSERT_EQ(fds.size(), 1u);
	EXPECT_EQ(sizes[0], 384u);
	const int out = fcntl(fds[0].fd, F_DUPFD_CLOEXEC, 0);

	const int in = memfdHolding(std::vector<uint8_t>(768, 128));
	const auto answer = job(model, kProc, {tensorOn(in, 768, 0, 3, 3)}, {tensorOn(out, 384, 9, 3, 3)}, 3);
	EXPECT_EQ(answer.code, 0) << answer.message;
	EXPECT_EQ(contents(out, 384), std::vector<uint8_t>(384, 128));

	// A load the unit cannot make sense of is a load failure.
	const LoadAnswer bad = load(kProc, {}, {{"image.input.size", Ints{32}}}, 4);
	EXPECT_EQ(std::get<2>(bad), -2);
	EXPECT_FALSE(std::get<3>(bad).empty());
	::close(in);
	::close(out);
}

} // namespace
