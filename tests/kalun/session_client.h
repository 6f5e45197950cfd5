// A client of a session's private buses, speaking the wire protocol the way
// the client library does, and the fixture pieces that session tests share.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "fake_session.h"
#include "kalun/backendunit/debug_chip.h"
#include "kalun/sdbus/message.h"
#include "kalun/session.h"
#include "test_util.h"

namespace kalun::test
{

using sdbus::UnixFd;
using TensorTuple = Session::TensorTuple;
using LoadAnswer = std::tuple<ModelTuple, uint64_t, int32_t, std::string>;

struct Answer {
	uint64_t tag = 0;
	int32_t code = 0;
	std::string message;
};

inline sd_bus *openClientBus(int fd)
{
	sd_bus *bus = nullptr;
	EXPECT_GE(sd_bus_new(&bus), 0);
	EXPECT_GE(sd_bus_set_fd(bus, fd, fd), 0);
	EXPECT_GE(sd_bus_negotiate_fds(bus, 1), 0);
	EXPECT_GE(sd_bus_start(bus), 0);
	return bus;
}

class TestClient
{
      public:
	// Works on duplicates: the session closes its copies at the handshake.
	TestClient(std::pair<int, int> fds, uint64_t sessionId)
	    : path_("/com/tovi/Kalun1/Session/" + std::to_string(sessionId))
	{
		result_ = openClientBus(fcntl(fds.first, F_DUPFD_CLOEXEC, 0));
		request_ = openClientBus(fcntl(fds.second, F_DUPFD_CLOEXEC, 0));
	}
	~TestClient()
	{
		close();
	}

	void close()
	{
		if (request_)
			sd_bus_flush_close_unref(request_);
		if (result_)
			sd_bus_flush_close_unref(result_);
		request_ = result_ = nullptr;
	}

	template <typename... Ts> void send(const std::string &member, const Ts &...args)
	{
		sd_bus_message *raw = nullptr;
		ASSERT_GE(sd_bus_message_new_method_call(request_, &raw, "com.tovi.Kalun1", path_.c_str(),
		                                         "com.tovi.Kalun1.Session", member.c_str()),
		          0);
		sdbus::Message call(raw, true);
		call.append(args...);
		ASSERT_GE(sd_bus_send(request_, call.get(), nullptr), 0);
		ASSERT_GE(sd_bus_flush(request_), 0);
	}

	// The next answer on the result channel, or an empty message after the
	// time-out.
	sdbus::Message next(std::chrono::milliseconds timeout = std::chrono::seconds(10))
	{
		const auto end = std::chrono::steady_clock::now() + timeout;
		for (;;) {
			sd_bus_message *raw = nullptr;
			const int r = sd_bus_process(result_, &raw);
			if (r < 0)
				return {};
			sdbus::Message message(raw, true);
			if (raw && sd_bus_message_is_method_call(raw, nullptr, nullptr) > 0)
				return message;
			if (r > 0)
				continue;
			const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
			    end - std::chrono::steady_clock::now());
			if (left.count() <= 0)
				return {};
			sd_bus_wait(result_, left.count());
		}
	}

	// The next answer, which must be of this member.
	sdbus::Message expect(const std::string &member)
	{
		sdbus::Message message = next();
		EXPECT_TRUE(message) << "no answer for " << member;
		if (message) {
			EXPECT_EQ(message.member(), member);
		}
		return message;
	}
	Answer expectAnswer(const std::string &member)
	{
		Answer a;
		if (sdbus::Message m = expect(member))
			m.read(a.tag, a.code, a.message);
		return a;
	}
	LoadAnswer expectLoad()
	{
		LoadAnswer a;
		if (sdbus::Message m = expect("QueueLoadModel"))
			m.read(a);
		return a;
	}

	uint64_t handshake()
	{
		send("Handshake", std::string(":1.42"));
		uint64_t id = ~uint64_t(0);
		if (sdbus::Message m = expect("Handshake"))
			m.read(id);
		return id;
	}

	// QueueLoadModel of a model file holding size bytes.
	void queueLoad(uint64_t unit, int32_t access, const std::string &name, uint64_t tag, size_t size = 64,
	               std::optional<uint64_t> announced = std::nullopt)
	{
		const int fd = memfdWith(size);
		lseek(fd, 0, SEEK_SET);
		send("QueueLoadModel", UnixFd{fd}, announced.value_or(size), unit, access, name, tag);
		::close(fd);
	}
	// Loads and returns the model id (all ones on failure).
	uint64_t load(uint64_t unit, int32_t access, const std::string &name, uint64_t tag)
	{
		queueLoad(unit, access, name, tag);
		LoadAnswer a = expectLoad();
		EXPECT_EQ(std::get<2>(a), 0) << std::get<3>(a);
		return std::get<2>(a) == 0 ? std::get<1>(std::get<0>(a)) : ~uint64_t(0);
	}

	static int memfdWith(size_t size)
	{
		const int fd = memfd_create("kalun-session-test", MFD_CLOEXEC);
		EXPECT_GE(fd, 0);
		EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
		return fd;
	}

      private:
	std::string path_;
	sd_bus *request_ = nullptr;
	sd_bus *result_ = nullptr;
};

// A tensor of a job on a memfd of fdSize bytes (the test keeps the fd).
inline TensorTuple tensorOn(int fd, uint64_t fdSize, uint64_t tensorId = 0,
                            uint32_t fdProps = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP,
                            int32_t dataType = KALUN_TENSOR_DATA_TYPE_UINT8)
{
	return TensorTuple{
	    dataType, KALUN_TENSOR_LAYOUT_UNSPECIFIED, 0, {}, {}, UnixFd{fd}, fdSize, 0, tensorId, fdProps};
}

// A debug unit whose jobs can be held: a job with the parameter "hold" waits
// for the gate; the parameters of every job are recorded, then dropped
// before the debug unit runs it.
class GatedChip : public backendunit::DebugChip
{
      public:
	~GatedChip() override
	{
		gate.open();
		stopProcessingQueues();
	}
	void runJobVirtual(uint64_t modelId, const std::vector<Tensor> &inputs,
	                   const std::vector<Tensor> &outputs, const ParameterMap &params) override
	{
		{
			std::lock_guard<std::mutex> lock(mutex_);
			params_.push_back(params);
		}
		if (params.count("hold"))
			gate.pass();
		DebugChip::runJobVirtual(modelId, inputs, outputs, {});
	}
	void deleteModelVirtual(uint64_t modelId) override
	{
		if (failDelete)
			throw std::runtime_error("cannot delete");
		DebugChip::deleteModelVirtual(modelId);
	}
	std::vector<ParameterMap> params()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return params_;
	}

	Gate gate;
	std::atomic<bool> failDelete{false};

      private:
	std::mutex mutex_;
	std::vector<ParameterMap> params_;
};

inline size_t countOpenFds()
{
	size_t n = 0;
	DIR *dir = opendir("/proc/self/fd");
	while (dirent *entry = readdir(dir))
		if (entry->d_name[0] != '.')
			++n;
	closedir(dir);
	return n - 1; // the directory's own descriptor
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
	const auto end = std::chrono::steady_clock::now() + limit;
	while (!predicate()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return true;
}

// The service's side: a system-bus connection with the service's object
// manager, and the units [gated debug unit, debug unit].
class SessionFixture : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_GE(sd_bus_open_system(&systemBus_), 0);
		// Waits for the bus daemon's welcome here, so that no test thread
		// has to process this connection for it later.
		const char *unique = nullptr;
		ASSERT_GE(sd_bus_get_unique_name(systemBus_, &unique), 0);
		uniqueName_ = unique;
		sd_bus_slot *slot = nullptr;
		ASSERT_GE(sd_bus_add_object_manager(systemBus_, &slot, "/com/tovi/Kalun1"), 0);
		manager_.reset(slot);
		auto gated = std::make_unique<GatedChip>();
		gated_ = gated.get();
		units_.push_back(std::move(gated));
		units_.push_back(std::make_unique<backendunit::DebugChip>());
		for (auto &unit : units_)
			unit->startProcessingQueues();
	}
	void TearDown() override
	{
		gated_->gate.open();
		for (auto &session : sessions_)
			session->stopBusProcessing();
		sessions_.clear();
		units_.clear();
		manager_.reset();
		sd_bus_flush_close_unref(systemBus_);
	}

	std::shared_ptr<Session> makeSession()
	{
		const std::string path = "/com/tovi/Kalun1/Session/" + std::to_string(Session::getNextId());
		auto session = std::make_shared<Session>(systemBus_, path, units_);
		sessions_.push_back(session);
		return session;
	}

	// A handshaked session with its client.
	std::pair<std::shared_ptr<Session>, std::unique_ptr<TestClient>> connect()
	{
		auto session = makeSession();
		auto client = std::make_unique<TestClient>(session->getClientFds(), session->getId());
		EXPECT_EQ(client->handshake(), session->getId());
		return {session, std::move(client)};
	}

	// Stops and forgets a session; the caller's reference may be the last.
	void release(const std::shared_ptr<Session> &session)
	{
		session->stopBusProcessing();
		sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
	}

	sd_bus *systemBus_ = nullptr;
	std::string uniqueName_;
	sdbus::SlotPtr manager_;
	Session::UnitList units_;
	GatedChip *gated_ = nullptr;
	std::vector<std::shared_ptr<Session>> sessions_;
};

} // namespace kalun::test
