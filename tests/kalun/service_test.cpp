// The kalun program on a private bus: start-up and readiness, the
// system-bus API as clients see it, client loss, options and exit statuses.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kalun/service.h"
#include "kalun_client.h"
#include "kalun_daemon.h"

namespace
{

using namespace kalun::client;
using kalun::test::Daemon;
using kalun::test::eventually;
using kalun::test::exitStatus;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

// A daemon that is ready and one client connection.
class KalunService : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_THAT(daemon_.waitReady(), HasSubstr("READY=1"));
	}
	void TearDown() override
	{
		if (daemon_.pid() > 0) {
			EXPECT_EQ(exitStatus(daemon_.stop()), 0);
		}
	}

	Daemon daemon_;
	SystemBus bus_;
};

const std::vector<UnitEntry> kUnits{{"cpu-tflite", 0, 2}, {"cpu-proc", 0, 11}};

TEST(KalunStart, ReportsReadinessWithItsStatusAndFeedsTheWatchdog)
{
	Daemon daemon({{}, "200000"});
	const std::string ready = daemon.waitReady();
	EXPECT_THAT(ready, HasSubstr("READY=1\nSTATUS=Daemon startup completed, processing events..."));
	int keepAlives = 0;
	for (std::string text; keepAlives < 3 && !(text = daemon.notification(2s)).empty();)
		keepAlives += text.find("WATCHDOG=1") != std::string::npos;
	EXPECT_EQ(keepAlives, 3);
	EXPECT_TRUE(daemon.logged("6 Service started"));
	EXPECT_EQ(exitStatus(daemon.stop()), 0);
	EXPECT_TRUE(daemon.logged("6 Service stopped"));
}

TEST(KalunStart, SendsNoKeepAliveWithoutAWatchdog)
{
	Daemon daemon;
	ASSERT_THAT(daemon.waitReady(), HasSubstr("READY=1"));
	EXPECT_EQ(daemon.notification(300ms), "");
	EXPECT_EQ(exitStatus(daemon.stop()), 0);
}

TEST_F(KalunService, RefusesEveryOtherLibraryVersionWithoutUsingUpTheId)
{
	struct Case {
		uint32_t major, minor, patch;
		const char *text;
	};
	for (const Case &c : {Case{3, 1, 57, "3.1.57"}, Case{2, 1, 56, "2.1.56"}, Case{3, 0, 56, "3.0.56"},
	                      Case{4, 1, 56, "4.1.56"}, Case{0, 0, 0, "0.0.0"}}) {
		SCOPED_TRACE(c.text);
		const SessionReply reply = createSession(bus_, "", c.major, c.minor, c.patch);
		const std::string reason =
		    std::string("version mismatch between library (") + c.text + ") and service (3.1.56)";
		EXPECT_EQ(reply.code, -13);
		EXPECT_EQ(reply.message, "Could not create session: " + reason);
		EXPECT_EQ(reply.id, 0u);
		EXPECT_TRUE(reply.units.empty());
		EXPECT_TRUE(daemon_.logged("3 Could not create session with ID 0: " + reason));
	}
	EXPECT_EQ(bus_.nbrOfSessions(), 0u);

	const SessionReply reply = createSession(bus_);
	EXPECT_EQ(reply.code, 0) << reply.message;
	EXPECT_EQ(reply.id, 0u);
}

TEST_F(KalunService, FirstSessionIsZeroWithItsObjectChannelsAndTheUnitList)
{
	EXPECT_EQ(bus_.nbrOfSessions(), 0u);
	const SessionReply reply = createSession(bus_);
	ASSERT_EQ(reply.code, 0) << reply.message;
	EXPECT_EQ(reply.message, "");
	EXPECT_EQ(reply.id, 0u);
	EXPECT_EQ(reply.units, kUnits);
	for (int fd : {reply.resultFd, reply.requestFd}) {
		struct stat st {
		};
		ASSERT_EQ(fstat(fd, &st), 0);
		EXPECT_TRUE(S_ISSOCK(st.st_mode));
	}
	EXPECT_EQ(bus_.nbrOfSessions(), 1u);
	EXPECT_EQ(bus_.property<uint64_t>("/com/tovi/Kalun1/Session/0", kSessionInterface, "SessionId"), 0u);
	EXPECT_TRUE(bus_.models(0).empty());
	EXPECT_TRUE(daemon_.logged("6 Created a new session ID: 0, client: " + bus_.uniqueName()));
}

TEST_F(KalunService, RefusesASecondSessionOfOneClientAndKeepsTheFirst)
{
	SessionReply first = createSession(bus_);
	ASSERT_EQ(first.code, 0);
	const SessionReply second = createSession(bus_);
	EXPECT_EQ(second.code, -7);
	EXPECT_EQ(second.message,
	          "Could not create session: Client " + bus_.uniqueName() + " already exists");
	EXPECT_EQ(second.id, 0u);
	EXPECT_TRUE(second.units.empty());
	EXPECT_EQ(bus_.nbrOfSessions(), 1u);

	// The first session still serves its client.
	Channels channels(first);
	EXPECT_EQ(channels.handshake(bus_.uniqueName()), 0u);
}

TEST_F(KalunService, RefusesASessionInAnyNameButTheCallersOwn)
{
	SystemBus other;
	for (const std::string &name : {other.uniqueName(), std::string(":1.9999"),
	                                std::string("org.example.Nobody"), std::string("")}) {
		SCOPED_TRACE(name);
		sd_bus_error error = SD_BUS_ERROR_NULL;
		sd_bus_message *raw = nullptr;
		ASSERT_GE(sd_bus_call_method(bus_.get(), kBusName, kServicePath, kServiceInterface,
		                             "CreateSession", &error, &raw, "suuu", name.c_str(), 3, 1, 56),
		          0);
		kalun::sdbus::Message reply(raw, true);
		auto fields = reply.read<
		    std::tuple<uint64_t, UnixFd, UnixFd, int32_t, std::string, std::vector<UnitEntry>>>();
		EXPECT_EQ(std::get<3>(fields), -7);
		EXPECT_EQ(std::get<4>(fields), "Could not create session: Client " + name +
		                                   " is not the caller's own bus name (" + bus_.uniqueName() +
		                                   ")");
	}
	EXPECT_EQ(bus_.nbrOfSessions(), 0u);
	// The other client's own call is not disturbed.
	EXPECT_EQ(createSession(other).code, 0);
}

TEST_F(KalunService, AClientGoneBeforeItsReplyLeavesNoSession)
{
	for (int i = 0; i < 20; ++i) {
		SystemBus client;
		const std::string name = client.uniqueName();
		ASSERT_GE(sd_bus_call_method_async(client.get(), nullptr, kBusName, kServicePath,
		                                   kServiceInterface, "CreateSession", nullptr, nullptr,
		                                   "suuu", name.c_str(), 3, 1, 56),
		          0);
		ASSERT_GE(sd_bus_flush(client.get()), 0);
	}
	EXPECT_TRUE(eventually([&] { return bus_.nbrOfSessions() == 0; }, 3s));
}

TEST_F(KalunService, ArgumentsOfOtherTypesGetTheInvalidArgumentsError)
{
	sd_bus_error error = SD_BUS_ERROR_NULL;
	EXPECT_LT(sd_bus_call_method(bus_.get(), kBusName, kServicePath, kServiceInterface, "CreateSession",
	                             &error, nullptr, "ssss", "a", "b", "c", "d"),
	          0);
	EXPECT_STREQ(error.name, SD_BUS_ERROR_INVALID_ARGS);
	sd_bus_error_free(&error);
	EXPECT_LT(sd_bus_call_method(bus_.get(), kBusName, kServicePath, kServiceInterface, "CreateSession",
	                             &error, nullptr, "su", "a", 3),
	          0);
	EXPECT_STREQ(error.name, SD_BUS_ERROR_INVALID_ARGS);
	sd_bus_error_free(&error);
	EXPECT_EQ(bus_.nbrOfSessions(), 0u);
}

TEST_F(KalunService, NewSessionsAreAnnouncedWithTheirOwnValues)
{
	// InterfacesAdded of the second session: its id is not the default 0.
	std::vector<uint64_t> announced;
	sd_bus_slot *slot = nullptr;
	auto onAdded = [](sd_bus_message *m, void *userdata, sd_bus_error *) -> int {
		kalun::sdbus::Message message(m, false);
		message.skip("o");
		// a{sa{sv}}: find SessionId in com.tovi.Kalun1.Session.
		message.enterContainer('a', "{sa{sv}}");
		while (message.enterContainer('e', "sa{sv}")) {
			const std::string interface = message.read<std::string>();
			message.enterContainer('a', "{sv}");
			while (message.enterContainer('e', "sv")) {
				const std::string property = message.read<std::string>();
				if (interface == kSessionInterface && property == "SessionId") {
					message.enterContainer('v', "t");
					static_cast<std::vector<uint64_t> *>(userdata)->push_back(
					    message.read<uint64_t>());
					message.exitContainer();
				} else {
					message.skip("v");
				}
				message.exitContainer();
			}
			message.exitContainer();
			message.exitContainer();
		}
		return 0;
	};
	ASSERT_GE(sd_bus_match_signal(bus_.get(), &slot, kBusName, kServicePath,
	                              "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", onAdded,
	                              &announced),
	          0);
	SystemBus second;
	ASSERT_EQ(createSession(bus_).code, 0);
	ASSERT_EQ(createSession(second).code, 0);
	EXPECT_TRUE(eventually([&] {
		while (sd_bus_process(bus_.get(), nullptr) > 0) {
		}
		return announced.size() >= 2;
	}));
	EXPECT_EQ(announced, (std::vector<uint64_t>{0, 1}));
	sd_bus_slot_unref(slot);
}

TEST_F(KalunService, SessionsAndModelsFollowLoadsJobsAndClientLoss)
{
	auto client = std::make_unique<SystemBus>();
	const std::string clientName = client->uniqueName();
	SessionReply reply = createSession(*client);
	ASSERT_EQ(reply.code, 0);
	Channels channels(reply);
	ASSERT_EQ(channels.handshake(clientName), 0u);

	// A private and a public cpu-proc model.
	const int empty = memfdWith({});
	const LoadAnswer priv = channels.loadModel(empty, 0, 1, 1, "private", 7, scaleParams(4, 4, 2, 2));
	const LoadAnswer pub = channels.loadModel(empty, 0, 1, 2, "public", 8, scaleParams(2, 2, 4, 4));
	close(empty);
	ASSERT_EQ(std::get<2>(priv), 0) << std::get<3>(priv);
	ASSERT_EQ(std::get<2>(pub), 0) << std::get<3>(pub);
	const ModelTuple &model = std::get<0>(priv);

	// One job halves a 4x4 image.
	std::vector<uint8_t> image(4 * 4 * 3);
	for (size_t i = 0; i < image.size(); ++i)
		image[i] = static_cast<uint8_t>(i * 10);
	const int in = memfdWith(image);
	const int out = memfdWith(std::vector<uint8_t>(12));
	const Answer job = channels.runJob(std::get<1>(model), 1, 10, 9,
	                                   {tensorFor(std::get<5>(model).at(0), in, image.size())},
	                                   {tensorFor(std::get<6>(model).at(0), out, 12)});
	EXPECT_EQ(job, Answer(9, 0, ""));
	std::vector<uint8_t> result(12);
	ASSERT_EQ(pread(out, result.data(), 12, 0), 12);
	EXPECT_NE(result, std::vector<uint8_t>(12, 0));
	close(in);
	close(out);

	// Every session lists every model.
	SessionReply watcherReply = createSession(bus_);
	ASSERT_EQ(watcherReply.code, 0);
	EXPECT_EQ(bus_.nbrOfSessions(), 2u);
	std::vector<std::string> names;
	for (const ModelTuple &m : bus_.models(1))
		names.push_back(std::get<4>(m));
	EXPECT_THAT(names, ::testing::UnorderedElementsAre("private", "public"));
	EXPECT_EQ(bus_.models(0).size(), 2u);

	client->close();
	EXPECT_TRUE(daemon_.logged("6 Session 0 killed since client's (" + clientName +
	                           ") connection has been lost"));
	EXPECT_EQ(bus_.nbrOfSessions(), 1u);
	EXPECT_THROW(bus_.models(0), kalun::sdbus::Error);
	// The private model went with its session; the public one stays.
	EXPECT_TRUE(eventually([&] { return bus_.models(1).size() == 1; }));
	EXPECT_EQ(std::get<4>(bus_.models(1).at(0)), "public");
}

TEST(KalunProcess, ASecondInstanceCannotOwnTheNameAndEndsWithOne)
{
	Daemon first;
	ASSERT_THAT(first.waitReady(), HasSubstr("READY=1"));
	Daemon second;
	EXPECT_EQ(exitStatus(second.wait()), 1);
	EXPECT_TRUE(second.logged("3 Could not request bus name: sd_bus_request_name: "
	                          "org.freedesktop.DBus.Error.FileExists: File exists"));
	EXPECT_EQ(exitStatus(first.stop()), 0);
}

TEST(KalunProcess, SigintAndSigtermStopCleanlyWithStatusZero)
{
	for (int signal : {SIGTERM, SIGINT}) {
		SCOPED_TRACE(strsignal(signal));
		Daemon daemon;
		ASSERT_THAT(daemon.waitReady(), HasSubstr("READY=1"));
		const int status = daemon.stop(signal);
		EXPECT_TRUE(WIFEXITED(status));
		EXPECT_EQ(exitStatus(status), 0);
		EXPECT_TRUE(daemon.logged("6 Service stopped"));
	}
}

TEST(KalunProcess, ASecondStopSignalEndsTheProcessAtOnce)
{
	Daemon daemon;
	ASSERT_THAT(daemon.waitReady(), HasSubstr("READY=1"));
	// Both arrive before the daemon can act on the first.
	kill(daemon.pid(), SIGSTOP);
	kill(daemon.pid(), SIGTERM);
	kill(daemon.pid(), SIGINT);
	kill(daemon.pid(), SIGCONT);
	const int status = daemon.wait();
	ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
	EXPECT_THAT(WTERMSIG(status), ::testing::AnyOf(SIGTERM, SIGINT));
}

TEST(KalunProcess, NoSyslogLogsNothingToSyslog)
{
	for (const char *option : {"-s", "--no-syslog"}) {
		SCOPED_TRACE(option);
		Daemon daemon({{option}, ""});
		ASSERT_THAT(daemon.waitReady(), HasSubstr("READY=1"));
		{
			SystemBus bus;
			EXPECT_EQ(createSession(bus).code, 0);
			EXPECT_EQ(createSession(bus, "", 1, 2, 3).code, -13);
		}
		EXPECT_EQ(exitStatus(daemon.stop()), 0);
		EXPECT_EQ(daemon.syslog(), "");
	}
}

// The service object in this process, its bus never processed: what a
// caller gets back when the tables or the bus refuse.
class KalunServiceObject : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_GE(sd_bus_open_system(&bus_), 0);
		ASSERT_GE(sd_bus_add_object_manager(bus_, &manager_, kServicePath), 0);
		service_ = std::make_unique<kalun::Service>(kBusName, kServicePath, bus_);
	}
	void TearDown() override
	{
		service_.reset();
		sd_bus_slot_unref(manager_);
		sd_bus_flush_close_unref(bus_);
	}

	sd_bus *bus_ = nullptr;
	sd_bus_slot *manager_ = nullptr;
	std::unique_ptr<kalun::Service> service_;
};

TEST_F(KalunServiceObject, AFailedMatchTakesBackTheSessionItMade)
{
	// No match rule can name this client: the session made for it must go.
	const std::string name = "bad,name";
	const auto reply = service_->createSession(name, 3, 1, 56, name);
	EXPECT_EQ(std::get<3>(reply), -7);
	EXPECT_THAT(std::get<4>(reply), HasSubstr("Could not create a D-Bus match rule: "));
	EXPECT_EQ(service_->nbrOfSessions(), 0u);

	const char *unique = nullptr;
	ASSERT_GE(sd_bus_get_unique_name(bus_, &unique), 0);
	const std::string good = unique;
	const auto next = service_->createSession(good, 3, 1, 56, good);
	ASSERT_EQ(std::get<3>(next), 0) << std::get<4>(next);
	EXPECT_EQ(service_->nbrOfSessions(), 1u);
	service_->deleteSession(std::get<0>(next));
	EXPECT_EQ(service_->nbrOfSessions(), 0u);
}

TEST_F(KalunServiceObject, StopAndDeleteRefuseWhatDoesNotExist)
{
	try {
		service_->stop();
		FAIL() << "stop without a loop";
	} catch (const std::runtime_error &e) {
		EXPECT_STREQ(e.what(), "Service is not running");
	}
	try {
		service_->deleteSession(41);
		FAIL() << "delete of an unknown session";
	} catch (const std::runtime_error &e) {
		EXPECT_STREQ(e.what(), "Session with id 41 does not have a corresponding D-Bus client name");
	}
	EXPECT_EQ(service_->backEndUnits().size(), 2u);
}

struct OptionCase {
	std::vector<std::string> args;
	int status;
	std::string out; // expected within standard output
	std::string err; // expected within standard error
};

TEST(KalunOptions, ExitStatusAndOutputOfEveryOption)
{
	const std::string version = "kalun version 3.1.56\n\n\033[1m";
	for (const OptionCase &c : std::vector<OptionCase>{
	         {{"-v"}, 0, version, ""},
	         {{"--version"}, 0, version, ""},
	         {{"--usage"}, 0, "Usage: kalun [-shv] [--no-syslog] [--usage] [--help] [--version]\n", ""},
	         {{"-h"}, 0, "Machine learning service", ""},
	         {{"--help"}, 0, "  -s, --no-syslog            Do not print to syslog.\n", ""},
	         {{"extra"}, 64, "", "kalun: too many arguments\n"},
	         {{"-s", "extra"}, 64, "", "too many arguments"},
	         {{"--bogus"}, 64, "", "unrecognized option"},
	         {{"-x"}, 64, "", "invalid option"},
	     }) {
		SCOPED_TRACE(c.args.front());
		Daemon daemon({c.args, ""});
		EXPECT_EQ(exitStatus(daemon.wait()), c.status);
		EXPECT_THAT(daemon.out(), HasSubstr(c.out));
		EXPECT_THAT(daemon.err(), HasSubstr(c.err));
		// None of them reaches the bus.
		EXPECT_EQ(daemon.notification(0ms), "");
	}
}

TEST(KalunOptions, VersionTextEndsTheBannerWithAResetEvenOnAPipe)
{
	Daemon daemon({{"-v"}, ""});
	EXPECT_EQ(exitStatus(daemon.wait()), 0);
	const std::string out = daemon.out();
	ASSERT_GE(out.size(), 5u);
	EXPECT_EQ(out.substr(out.size() - 5), "\033[0m\n");
	// Eight banner lines between the bold and the reset sequences.
	const size_t bold = out.find("\033[1m");
	ASSERT_NE(bold, std::string::npos);
	const std::string banner = out.substr(bold + 4, out.size() - 5 - bold - 4);
	EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 8);
}

} // namespace
