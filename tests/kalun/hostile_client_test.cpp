// One client attacking the kalun program: whatever it sends, it gets a clear
// error, and another client's session works before and after; the service
// still stops cleanly on SIGTERM.
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kalun_client.h"
#include "kalun_daemon.h"

namespace
{

using namespace kalun::client;
using kalun::test::Daemon;
using kalun::test::exitStatus;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr uint64_t kTFLite = 0;
constexpr uint64_t kProc = 1;

// A client with a handshaked session on the service.
struct Client {
	SystemBus bus;
	std::unique_ptr<Channels> channels;

	Client()
	{
		SessionReply reply = createSession(bus);
		EXPECT_EQ(reply.code, 0) << reply.message;
		channels = std::make_unique<Channels>(reply);
		channels->handshake(bus.uniqueName());
	}
	// The client goes away: the service sees both its channels and its bus
	// connection close.
	void leave()
	{
		channels.reset();
		bus.close();
	}

	// A cpu-proc model that scales w x h RGB images to half their size.
	ModelTuple loadScaler(int64_t w, int64_t h)
	{
		const int empty = memfdWith({});
		const LoadAnswer answer =
		    channels->loadModel(empty, 0, kProc, 1, "scale", 1, scaleParams(w, h, w / 2, h / 2));
		close(empty);
		EXPECT_EQ(std::get<2>(answer), 0) << std::get<3>(answer);
		return std::get<0>(answer);
	}
	Answer scale(const ModelTuple &model, int in, uint64_t inSize, int out, uint64_t outSize,
	             uint64_t inputId = 0)
	{
		TensorTuple input = tensorFor(std::get<5>(model).at(0), in, inSize);
		std::get<8>(input) = inputId;
		return channels->runJob(std::get<1>(model), kProc, 10, 9, {input},
		                        {tensorFor(std::get<6>(model).at(0), out, outSize)});
	}
};

class HostileClient : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_THAT(daemon_.waitReady(), HasSubstr("READY=1"));
		victim_ = std::make_unique<Client>();
		victimModel_ = victim_->loadScaler(4, 4);
		victimWorks();
	}
	void TearDown() override
	{
		victimWorks();
		victim_.reset();
		EXPECT_EQ(exitStatus(daemon_.stop()), 0);
	}

	// The other client's session answers a job correctly.
	void victimWorks()
	{
		std::vector<uint8_t> image(4 * 4 * 3, 200);
		const int in = memfdWith(image);
		const int out = memfdWith(std::vector<uint8_t>(12));
		EXPECT_EQ(victim_->scale(victimModel_, in, image.size(), out, 12), Answer(9, 0, ""));
		std::vector<uint8_t> result(12);
		EXPECT_EQ(pread(out, result.data(), result.size(), 0), 12);
		EXPECT_EQ(result, std::vector<uint8_t>(12, 200));
		close(in);
		close(out);
	}

	Daemon daemon_;
	std::unique_ptr<Client> victim_;
	ModelTuple victimModel_;
};

// The "tis" tail of an answer.
Answer tail(kalun::sdbus::Message message)
{
	Answer fields;
	message.read(std::get<0>(fields), std::get<1>(fields), std::get<2>(fields));
	return fields;
}

std::vector<uint8_t> fixture(const std::string &name)
{
	std::ifstream in(std::string(KALUN_TEST_DATA) + "/" + name, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(HostileClient, ModelDescriptorsThatAreNotRegularFilesAreRefusedAtOnce)
{
	struct Case {
		const char *what;
		int fd; // the test's own; closed at the end
		uint64_t size;
		int32_t code;
		std::string message;
	};
	int pipeFds[2];
	ASSERT_EQ(pipe(pipeFds), 0);
	const int sparse = memfd_create("sparse", MFD_CLOEXEC);
	ASSERT_EQ(ftruncate(sparse, off_t(1) << 40), 0);
	const Case cases[] = {
	    {"pipe", pipeFds[0], 100, -3, "Model file descriptor is a pipe, not a regular file"},
	    {"eventfd", eventfd(0, EFD_CLOEXEC), 100, -3,
	     "Model file descriptor is an anonymous inode, not a regular file"},
	    {"/dev/zero", open("/dev/zero", O_RDONLY | O_CLOEXEC), uint64_t(1) << 40, -3,
	     "Model file descriptor is a character device, not a regular file"},
	    {"sparse memfd", sparse, uint64_t(1) << 40, -2,
	     "Could not resize model vector to 1099511627776 bytes: larger than the memory of the "
	     "device"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		Client attacker;
		const LoadAnswer answer = attacker.channels->loadModel(c.fd, c.size, kTFLite, 1, "m", 4, {});
		EXPECT_EQ(std::get<1>(answer), 4u);
		EXPECT_EQ(std::get<2>(answer), c.code);
		EXPECT_EQ(std::get<3>(answer), c.message);
		// The attacker vanishes; its session goes without waiting on it.
		attacker.leave();
		victimWorks();
		close(c.fd);
	}
	close(pipeFds[1]);
}

TEST_F(HostileClient, ModelsThatCrashTensorFlowLiteAreRefused)
{
	Client attacker;
	for (const char *name : {"segv-on-build.tflite", "divide-by-zero-on-invoke.tflite"}) {
		SCOPED_TRACE(name);
		const int fd = memfdWith(fixture(name));
		const uint64_t size = static_cast<uint64_t>(lseek(fd, 0, SEEK_END));
		lseek(fd, 0, SEEK_SET);
		const LoadAnswer answer = attacker.channels->loadModel(fd, size, kTFLite, 1, name, 5, {});
		close(fd);
		EXPECT_EQ(std::get<1>(answer), 5u);
		EXPECT_EQ(std::get<2>(answer), -2);
		EXPECT_THAT(std::get<3>(answer), StartsWith("Model refused: its trial run failed: ended "));
		victimWorks();
	}
	// Nothing of them was kept, and the attacker's own session goes on.
	for (const ModelTuple &model : victim_->bus.models(0))
		EXPECT_EQ(std::get<4>(model), "scale");
	attacker.loadScaler(4, 4);
}

TEST_F(HostileClient, AUnitIndexEqualToTheUnitCountIsRefused)
{
	Client attacker;
	const std::string text = "Chip ID is larger than number of units";
	const int empty = memfdWith({});
	const LoadAnswer load = attacker.channels->loadModel(empty, 0, 2, 1, "", 11, {});
	close(empty);
	EXPECT_EQ(std::get<2>(load), -9);
	EXPECT_EQ(std::get<3>(load), text);

	attacker.channels->send("DeleteModel", uint64_t{0}, uint64_t{2}, uint64_t{12});
	EXPECT_EQ(tail(attacker.channels->expect("DeleteModel")), Answer(12, -9, text));

	const int in = memfdWith(std::vector<uint8_t>(48));
	const TensorMetadataTuple meta{2, 1, 48, {1, 4, 4, 3}, {48, 12, 3, 1}, ""};
	EXPECT_EQ(attacker.channels->runJob(std::get<1>(victimModel_), 2, 10, 13, {tensorFor(meta, in, 48)},
	                                    {tensorFor(meta, in, 48)}),
	          Answer(13, -9, text));
	close(in);

	attacker.channels->send("AllocTensors", std::get<1>(victimModel_), uint64_t{2},
	                        std::vector<uint64_t>{1}, uint8_t{0}, uint32_t{3}, uint64_t{14},
	                        kalun::ParameterMap{});
	auto alloc = attacker.channels->expect("AllocTensors");
	alloc.skip("ahatau");
	EXPECT_EQ(tail(std::move(alloc)), Answer(14, -9, text));
}

TEST_F(HostileClient, AnInputCutShortBetweenTwoJobsFailsTheSecondJobOnly)
{
	Client attacker;
	const ModelTuple model = attacker.loadScaler(64, 64);
	const uint64_t inSize = 64 * 64 * 3;
	const int in = memfdWith(std::vector<uint8_t>(inSize, 50));
	const int out = memfdWith(std::vector<uint8_t>(inSize / 4));
	// Tensor id 5: the service keeps the buffer and its mapping.
	EXPECT_EQ(attacker.scale(model, in, inSize, out, inSize / 4, 5), Answer(9, 0, ""));
	ASSERT_EQ(ftruncate(in, 0), 0);
	const Answer cut(9, -3,
	                 "Could not run job: The file of a tensor buffer was cut short by its client "
	                 "while it was in use");
	EXPECT_EQ(attacker.scale(model, in, inSize, out, inSize / 4, 5), cut);
	victimWorks();
	// The buffer stays failed, even once the file has its size again.
	ASSERT_EQ(ftruncate(in, static_cast<off_t>(inSize)), 0);
	EXPECT_EQ(attacker.scale(model, in, inSize, out, inSize / 4, 5), cut);
	// Under a new tensor id the file is mapped afresh.
	EXPECT_EQ(attacker.scale(model, in, inSize, out, inSize / 4, 6), Answer(9, 0, ""));
	close(in);
	close(out);
}

TEST_F(HostileClient, AnInputCutShortDuringALargeJobFailsThatJobOnly)
{
	Client attacker;
	const int64_t w = 4096, h = 2048;
	const ModelTuple model = attacker.loadScaler(w, h);
	const uint64_t inSize = static_cast<uint64_t>(w * h * 3);
	for (int round = 0; round < 3; ++round) {
		SCOPED_TRACE(round);
		const int in = memfdWith(std::vector<uint8_t>(inSize, 90));
		const int out = memfdWith(std::vector<uint8_t>(inSize / 4));
		const TensorTuple input = tensorFor(std::get<5>(model).at(0), in, inSize);
		attacker.channels->send(
		    "QueueJob", std::get<1>(model), kProc, uint8_t{10}, uint64_t{20},
		    std::vector<TensorTuple>{input},
		    std::vector<TensorTuple>{tensorFor(std::get<6>(model).at(0), out, inSize / 4)},
		    kalun::ParameterMap{});
		std::thread cutter([&] { EXPECT_EQ(ftruncate(in, 4096), 0); });
		cutter.join();
		const Answer answer = tail(attacker.channels->expect("QueueJob"));
		// Cut before the service mapped it, while it read it, or (rarely)
		// after it finished: never more than this job's failure.
		EXPECT_EQ(std::get<0>(answer), 20u);
		if (std::get<1>(answer) != 0) {
			EXPECT_EQ(std::get<1>(answer), -3);
			EXPECT_THAT(std::get<2>(answer), StartsWith("Could not run job: "));
		}
		close(in);
		close(out);
		victimWorks();
	}
}

} // namespace
