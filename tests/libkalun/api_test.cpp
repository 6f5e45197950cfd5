// The exported interface of libkalun.so against the scriptable stand-in of
// the service on a private bus: connecting and its refusals, devices and
// chips, the session count, argument checks and parameter maps.
#include "fake_kalun.h"
#include "libkalun.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The body a program built against the first interface reaches.
extern "C" bool kalunListChips_1_0(kalunConnection *conn, int32_t **chips, size_t *size, kalunError **error);
__asm__(".symver kalunListChips_1_0, kalunListChips@LIBKALUN_1.0.0");

extern "C" int libkalun_c_header_check(void);

namespace
{

using fakekalun::FakeKalun;
using fakekalun::Script;
using fakekalun::Unit;
using kalun_test::Err;

class WithService : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		fake_ = std::make_unique<FakeKalun>();
	}
	void TearDown() override
	{
		kalunDisconnect(&conn_, nullptr);
		fake_.reset();
	}
	void connect(const Script &script)
	{
		fake_->set_script(script);
		Err err;
		ASSERT_TRUE(kalunConnect(&conn_, err.loc())) << err.msg();
		ASSERT_NE(conn_, nullptr);
	}

	std::unique_ptr<FakeKalun> fake_;
	kalunConnection *conn_ = nullptr;
};

/* ---- connecting ---- */

TEST_F(WithService, ConnectCreatesASessionAndHandsShake)
{
	size_t fds_before = kalun_test::open_fd_count();
	Script s;
	s.session_id = 100001;
	connect(s);
	EXPECT_TRUE(kalun_test::thread_named("kalunbusproc"));

	auto calls = fake_->create_calls();
	ASSERT_EQ(calls.size(), 1u);
	EXPECT_EQ(calls[0].major, 3u);
	EXPECT_EQ(calls[0].minor, 1u);
	EXPECT_EQ(calls[0].patch, 56u);
	EXPECT_EQ(calls[0].client_name.rfind(":", 0), 0u) << calls[0].client_name;

	auto reqs = fake_->wait_requests(1);
	ASSERT_EQ(reqs.size(), 1u);
	EXPECT_EQ(reqs[0].member, "Handshake");
	EXPECT_EQ(reqs[0].path, "/com/tovi/Kalun1/Session/100001");
	EXPECT_EQ(reqs[0].interface, "com.tovi.Kalun1.Session");
	EXPECT_EQ(reqs[0].destination, "com.tovi.Kalun1");
	EXPECT_EQ(reqs[0].signature, "s");
	EXPECT_EQ(reqs[0].first_string, calls[0].client_name);

	EXPECT_TRUE(kalunDisconnect(&conn_, nullptr));
	EXPECT_EQ(conn_, nullptr);
	EXPECT_FALSE(kalun_test::thread_named("kalunbusproc"));
	fake_->drop_sessions();
	EXPECT_EQ(kalun_test::open_fd_count(), fds_before);
}

struct ConnectRefusal {
	const char *name;
	std::function<void(Script &)> script;
	int code;
	const char *message;
};

class ConnectRefused : public WithService, public ::testing::WithParamInterface<ConnectRefusal>
{
};

TEST_P(ConnectRefused, FailsWithTheCodeAndTextAndLeavesNothing)
{
	const ConnectRefusal &c = GetParam();
	Script s;
	c.script(s);
	fake_->set_script(s);
	size_t fds_before = kalun_test::open_fd_count();

	Err err;
	conn_ = reinterpret_cast<kalunConnection *>(0x1);
	EXPECT_FALSE(kalunConnect(&conn_, err.loc()));
	EXPECT_EQ(conn_, nullptr);
	ASSERT_TRUE(err);
	EXPECT_EQ(err.code(), c.code);
	EXPECT_EQ(err.msg(), c.message);
	// Only the client's descriptors count: the service may keep its ends.
	fake_->drop_sessions();
	EXPECT_EQ(kalun_test::open_fd_count(), fds_before);
	EXPECT_FALSE(kalun_test::thread_named("kalunbusproc"));

	// The same refusal without an error location.
	EXPECT_FALSE(kalunConnect(&conn_, nullptr));
	EXPECT_EQ(conn_, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectRefused,
    ::testing::Values(ConnectRefusal{"VersionMismatch", [](Script &s) { s.minor = 2; }, -13,
                                     "Could not create session: version mismatch between library "
                                     "(3.1.56) and service (3.2.56)"},
                      ConnectRefusal{"SessionNotCreated",
                                     [](Script &s) {
	                                     s.code = -7;
	                                     s.message = "Could not create session: client has a session";
                                     },
                                     -7, "Could not create session: client has a session"},
                      ConnectRefusal{"DeviceNameOf32Characters",
                                     [](Script &s) {
	                                     s.units = {{"cpu-tflite", 0, 2}, {std::string(32, 'n'), 0, 11}};
                                     },
                                     EMSGSIZE, "Name of device must be at most 31 characters in length"},
                      ConnectRefusal{"BusError",
                                     [](Script &s) {
	                                     s.dbus_error_name = "org.freedesktop.DBus.Error.AccessDenied";
	                                     s.dbus_error_message = "not for you";
                                     },
                                     EACCES, "Could not create session: not for you"},
                      ConnectRefusal{"ResultChannelClosedBeforeTheHandshakeAnswer",
                                     [](Script &s) { s.close_on_handshake = true; }, -6,
                                     "Asynchronous connection has been closed"},
                      ConnectRefusal{"ReplyOfAnotherShape", [](Script &s) { s.malformed_reply = true; },
                                     ENXIO, "Could not parse message: No such device or address"}),
    [](const ::testing::TestParamInfo<ConnectRefusal> &info) { return info.param.name; });

TEST(Connect, WithoutTheServiceFailsToCreateTheSession)
{
	size_t fds_before = kalun_test::open_fd_count();
	kalunConnection *conn = nullptr;
	Err err;
	EXPECT_FALSE(kalunConnect(&conn, err.loc()));
	EXPECT_EQ(conn, nullptr);
	EXPECT_GT(err.code(), 0);
	EXPECT_EQ(err.msg().rfind("Could not create session: ", 0), 0u) << err.msg();
	EXPECT_EQ(kalun_test::open_fd_count(), fds_before);
}

TEST(Connect, NullArgumentsAndDisconnectOfNothing)
{
	Err err;
	EXPECT_FALSE(kalunConnect(nullptr, err.loc()));
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "kalunConnection is NULL");
	EXPECT_FALSE(kalunConnect(nullptr, nullptr));

	err.clear();
	kalunConnection *none = nullptr;
	EXPECT_TRUE(kalunDisconnect(nullptr, err.loc()));
	EXPECT_TRUE(kalunDisconnect(&none, err.loc()));
	EXPECT_FALSE(err);
}

TEST(Header, CompilesAsCWithTheFirstInterfaceNames)
{
	EXPECT_EQ(libkalun_c_header_check(), 1);
}

/* ---- devices and chips ---- */

TEST_F(WithService, DevicesInReplyOrderWithNamesUpTo31Characters)
{
	const std::string longest(31, 'x');
	Script s;
	s.units = {{"cpu-tflite", 0, 2}, {"cpu-tflite", 1, 2}, {longest, 0, 11}};
	connect(s);

	size_t n = 0;
	const kalunDevice *const *devs = kalunListDevices(conn_, &n, nullptr);
	ASSERT_NE(devs, nullptr);
	ASSERT_EQ(n, 3u);
	const char *names[] = {"cpu-tflite", "cpu-tflite", longest.c_str()};
	const uint32_t instances[] = {0, 1, 0};
	for (size_t i = 0; i < n; i++) {
		EXPECT_STREQ(kalunGetDeviceName(devs[i], nullptr), names[i]);
		uint32_t inst = 99;
		ASSERT_TRUE(kalunGetDeviceInstance(devs[i], &inst, nullptr));
		EXPECT_EQ(inst, instances[i]);
	}

	EXPECT_EQ(kalunGetDevice(conn_, "cpu-tflite", 1, nullptr), devs[1]);
	EXPECT_EQ(kalunGetDevice(conn_, "cpu-tflite", 0, nullptr), devs[0]);
	EXPECT_EQ(kalunGetDevice(conn_, longest.c_str(), 0, nullptr), devs[2]);

	Err err;
	EXPECT_EQ(kalunGetDevice(conn_, (longest + "x").c_str(), 0, err.loc()), nullptr);
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "name must be at most 31 characters in length");
	err.clear();
	EXPECT_EQ(kalunGetDevice(conn_, "cpu-proc", 2, err.loc()), nullptr);
	EXPECT_EQ(err.code(), ENODEV);
	EXPECT_EQ(err.msg(), "Could not find device name \"cpu-proc\" and instance 2");
}

TEST_F(WithService, ChipsListedAndChosen)
{
	Script s;
	s.units = {{"cpu-tflite", 0, 2}, {"cpu-tflite", 1, 2}, {"cpu-proc", 0, 11}};
	connect(s);

	int32_t *chips = nullptr;
	size_t count = 0;
	ASSERT_TRUE(kalunListChips(conn_, &chips, &count, nullptr));
	ASSERT_EQ(count, 3u);
	EXPECT_EQ((std::vector<int32_t>(chips, chips + count)), (std::vector<int32_t>{2, 2, 11}));
	free(chips);

	// A program linked against the first interface gets the size in bytes.
	size_t size = 0;
	ASSERT_TRUE(kalunListChips_1_0(conn_, &chips, &size, nullptr));
	EXPECT_EQ(size, 12u);
	EXPECT_EQ((std::vector<int32_t>(chips, chips + 3)), (std::vector<int32_t>{2, 2, 11}));
	free(chips);

	uint64_t id = 99;
	int32_t type = 0;
	ASSERT_TRUE(kalunGetChipId(conn_, &id, nullptr));
	EXPECT_EQ(id, 0u);
	ASSERT_TRUE(kalunSetChip(conn_, 11, nullptr));
	ASSERT_TRUE(kalunGetChipId(conn_, &id, nullptr));
	EXPECT_EQ(id, 2u);
	ASSERT_TRUE(kalunGetChipType(conn_, &type, nullptr));
	EXPECT_EQ(type, 11);

	// The first device with the chip id becomes current.
	ASSERT_TRUE(kalunSetChip(conn_, 2, nullptr));
	ASSERT_TRUE(kalunGetChipId(conn_, &id, nullptr));
	EXPECT_EQ(id, 0u);

	ASSERT_TRUE(kalunSetChipId(conn_, 1, nullptr));
	Err err;
	EXPECT_FALSE(kalunSetChipId(conn_, 3, err.loc()));
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "chipId is too large (3 > 2)");
	ASSERT_TRUE(kalunGetChipId(conn_, &id, nullptr));
	EXPECT_EQ(id, 1u);

	err.clear();
	EXPECT_FALSE(kalunSetChip(conn_, 4, err.loc()));
	EXPECT_EQ(err.code(), ENODEV);
	EXPECT_EQ(err.msg(), "Could not set chip Google TPU: no such chip found");
	ASSERT_TRUE(kalunGetChipId(conn_, &id, nullptr));
	EXPECT_EQ(id, 1u);
}

TEST_F(WithService, EmptyUnitListGivesAConnectionWithoutDevices)
{
	Script s;
	s.units = {};
	connect(s);

	size_t n = 5;
	Err none;
	EXPECT_NE(kalunListDevices(conn_, &n, none.loc()), nullptr);
	EXPECT_EQ(n, 0u);
	EXPECT_FALSE(none);
	int32_t *chips = nullptr;
	ASSERT_TRUE(kalunListChips(conn_, &chips, &n, nullptr));
	EXPECT_EQ(n, 0u);
	free(chips);

	Err err;
	int32_t type = 0;
	EXPECT_FALSE(kalunGetChipType(conn_, &type, err.loc()));
	EXPECT_EQ(err.code(), ENODEV);
	err.clear();
	EXPECT_FALSE(kalunSetChip(conn_, 2, err.loc()));
	EXPECT_EQ(err.code(), ENODEV);
}

TEST(ChipName, EveryIdOfTheTableAndBeyond)
{
	EXPECT_STREQ(kalunGetChipName(0), "Invalid chip");
	EXPECT_STREQ(kalunGetChipName(1), "Debug chip");
	EXPECT_STREQ(kalunGetChipName(2), "CPU with TensorFlow Lite");
	EXPECT_STREQ(kalunGetChipName(4), "Google TPU");
	EXPECT_STREQ(kalunGetChipName(8), "GPU with TensorFlow Lite (experimental)");
	EXPECT_STREQ(kalunGetChipName(11), "CPU with libyuv");
	EXPECT_STREQ(kalunGetChipName(13), "Image processing using OpenCL");
	for (int32_t id : {3, 5, 14, -1, 1000})
		EXPECT_STREQ(kalunGetChipName(id), "Invalid chip") << id;
	for (int32_t id : {6, 7, 9, 10, 12}) {
		std::string text = kalunGetChipName(id);
		EXPECT_NE(text, "Invalid chip") << id;
		EXPECT_FALSE(text.empty());
	}
}

/* ---- the session count ---- */

TEST_F(WithService, SessionCountIsReadFromTheService)
{
	connect(Script{});
	uint64_t n = 0;
	fake_->set_num_sessions(5);
	ASSERT_TRUE(kalunGetNumSessions(conn_, &n, nullptr));
	EXPECT_EQ(n, 5u);

	Err err;
	fake_->set_num_sessions(5, true);
	EXPECT_FALSE(kalunGetNumSessions(conn_, &n, err.loc()));
	EXPECT_GT(err.code(), 0);
	EXPECT_EQ(err.msg(), "Could not get number of sessions: sessions unknown");

	err.clear();
	EXPECT_FALSE(kalunGetNumSessions(conn_, nullptr, err.loc()));
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "Pointer argument numSessions is NULL");
}

/* ---- argument checks ---- */

struct NullCase {
	const char *what;
	std::function<bool(kalunConnection *, kalunError **)> call; // true when it failed
	const char *message;
};

TEST_F(WithService, NullArgumentsAreRefusedWithTheirMessages)
{
	connect(Script{});
	kalunConnection *c = conn_;
	uint64_t u64;
	int32_t i32;
	uint32_t u32;
	size_t sz;
	int32_t *chips;
	const std::vector<NullCase> cases = {
	    {"GetNumSessions conn",
	     [](kalunConnection *, kalunError **e) {
		     uint64_t n;
		     return !kalunGetNumSessions(nullptr, &n, e);
	     },
	     "kalunConnection is NULL"},
	    {"ListDevices conn",
	     [&](kalunConnection *, kalunError **e) { return !kalunListDevices(nullptr, &sz, e); },
	     "conn is NULL"},
	    {"ListDevices count",
	     [&](kalunConnection *k, kalunError **e) { return !kalunListDevices(k, nullptr, e); },
	     "numDevices is NULL"},
	    {"GetDevice conn",
	     [](kalunConnection *, kalunError **e) { return !kalunGetDevice(nullptr, "cpu-proc", 0, e); },
	     "kalunConnection is NULL"},
	    {"GetDevice name",
	     [](kalunConnection *k, kalunError **e) { return !kalunGetDevice(k, nullptr, 0, e); },
	     "name is NULL"},
	    {"GetDeviceName",
	     [](kalunConnection *, kalunError **e) { return !kalunGetDeviceName(nullptr, e); },
	     "kalunDevice is NULL"},
	    {"GetDeviceInstance dev",
	     [&](kalunConnection *, kalunError **e) { return !kalunGetDeviceInstance(nullptr, &u32, e); },
	     "kalunDevice is NULL"},
	    {"GetDeviceInstance out",
	     [](kalunConnection *k, kalunError **e) {
		     return !kalunGetDeviceInstance(kalunGetDevice(k, "cpu-proc", 0, nullptr), nullptr, e);
	     },
	     "output pointer instance is NULL"},
	    {"ListChips count",
	     [&](kalunConnection *k, kalunError **e) { return !kalunListChips(k, &chips, nullptr, e); },
	     "Pointer argument numChips is NULL"},
	    {"ListChips conn",
	     [&](kalunConnection *, kalunError **e) { return !kalunListChips(nullptr, &chips, &sz, e); },
	     "kalunConnection is NULL"},
	    {"ListChips chips",
	     [&](kalunConnection *k, kalunError **e) { return !kalunListChips(k, nullptr, &sz, e); },
	     "Pointer to pointer argument chips is NULL"},
	    {"ListChips 1.0 size",
	     [&](kalunConnection *k, kalunError **e) { return !kalunListChips_1_0(k, &chips, nullptr, e); },
	     "Pointer argument size is NULL"},
	    {"GetChipType conn",
	     [&](kalunConnection *, kalunError **e) { return !kalunGetChipType(nullptr, &i32, e); },
	     "kalunConnection is NULL"},
	    {"GetChipType out",
	     [](kalunConnection *k, kalunError **e) { return !kalunGetChipType(k, nullptr, e); },
	     "Pointer argument chipType is NULL"},
	    {"GetChipId conn",
	     [&](kalunConnection *, kalunError **e) { return !kalunGetChipId(nullptr, &u64, e); },
	     "kalunConnection is NULL"},
	    {"GetChipId out",
	     [](kalunConnection *k, kalunError **e) { return !kalunGetChipId(k, nullptr, e); },
	     "Pointer argument chipId is NULL"},
	    {"SetChipId conn",
	     [](kalunConnection *, kalunError **e) { return !kalunSetChipId(nullptr, 0, e); },
	     "kalunConnection is NULL"},
	    {"SetChip conn", [](kalunConnection *, kalunError **e) { return !kalunSetChip(nullptr, 2, e); },
	     "kalunConnection is NULL"},
	    {"CreateMap ok, SetInt map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapSetInt(nullptr, "k", 1, e); },
	     "kalunMap is NULL"},
	    {"MapSetStr map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapSetStr(nullptr, "k", "v", e); },
	     "kalunMap is NULL"},
	    {"MapSetIntArr2 map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapSetIntArr2(nullptr, "k", 1, 2, e); },
	     "kalunMap is NULL"},
	    {"MapSetIntArr4 map",
	     [](kalunConnection *, kalunError **e) {
		     return !kalunMapSetIntArr4(nullptr, "k", 1, 2, 3, 4, e);
	     },
	     "kalunMap is NULL"},
	    {"MapGetStr map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapGetStr(nullptr, "k", e); },
	     "kalunMap is NULL"},
	    {"MapGetInt map",
	     [](kalunConnection *, kalunError **e) {
		     int64_t v;
		     return !kalunMapGetInt(nullptr, "k", &v, e);
	     },
	     "kalunMap is NULL"},
	    {"MapGetIntArr2 map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapGetIntArr2(nullptr, "k", e); },
	     "kalunMap is NULL"},
	    {"MapGetIntArr4 map",
	     [](kalunConnection *, kalunError **e) { return !kalunMapGetIntArr4(nullptr, "k", e); },
	     "kalunMap is NULL"},
	};
	for (const NullCase &nc : cases) {
		Err err;
		EXPECT_TRUE(nc.call(c, err.loc())) << nc.what;
		EXPECT_EQ(err.code(), EINVAL) << nc.what;
		EXPECT_EQ(err.msg(), nc.message) << nc.what;
		// Without an error location the call fails the same way.
		EXPECT_TRUE(nc.call(c, nullptr)) << nc.what;
	}
}

/* ---- parameter maps ---- */

TEST(Map, KeysAndValuesAreCheckedAndTypesKept)
{
	kalunMap *map = kalunCreateMap(nullptr);
	ASSERT_NE(map, nullptr);

	ASSERT_TRUE(kalunMapSetInt(map, "scale", 1, nullptr));
	ASSERT_TRUE(kalunMapSetInt(map, "scale", 2, nullptr));
	int64_t v = 0;
	ASSERT_TRUE(kalunMapGetInt(map, "scale", &v, nullptr));
	EXPECT_EQ(v, 2);

	Err err;
	EXPECT_FALSE(kalunMapSetStr(map, "scale", "big", err.loc()));
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "Element with the given key existed, but the type of corresponding "
	                     "value did not match the expected type");
	ASSERT_TRUE(kalunMapGetInt(map, "scale", &v, nullptr));
	EXPECT_EQ(v, 2);

	ASSERT_TRUE(kalunMapSetIntArr4(map, "crop", 0, 0, 64, 48, nullptr));
	err.clear();
	EXPECT_EQ(kalunMapGetIntArr2(map, "crop", err.loc()), nullptr);
	EXPECT_EQ(err.msg(), "Element with the given key existed, but the type of corresponding "
	                     "value did not match the expected type");
	const int64_t *crop = kalunMapGetIntArr4(map, "crop", nullptr);
	ASSERT_NE(crop, nullptr);
	EXPECT_EQ(crop[2], 64);
	EXPECT_EQ(crop[3], 48);

	ASSERT_TRUE(kalunMapSetIntArr2(map, "size", 640, 480, nullptr));
	const int64_t *size = kalunMapGetIntArr2(map, "size", nullptr);
	ASSERT_NE(size, nullptr);
	EXPECT_EQ(size[0], 640);
	EXPECT_EQ(size[1], 480);

	err.clear();
	EXPECT_FALSE(kalunMapGetInt(map, "never", &v, err.loc()));
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "Element with the given key was not found");
	err.clear();
	EXPECT_FALSE(kalunMapGetInt(map, "scale", nullptr, err.loc()));
	EXPECT_EQ(err.msg(), "value is NULL");

	const std::string k127(127, 'k'), k128(128, 'k');
	EXPECT_TRUE(kalunMapSetStr(map, k127.c_str(), k127.c_str(), nullptr));
	EXPECT_EQ(std::string(kalunMapGetStr(map, k127.c_str(), nullptr)), k127);
	struct {
		const char *key;
		const char *value;
		const char *message;
	} refused[] = {
	    {nullptr, "v", "Input string is NULL"},
	    {"", "v", "Input string is empty"},
	    {k128.c_str(), "v",
	     "Input strings must be no more than 128 characters (including terminating null byte)"},
	    {"fmt", nullptr, "Input string is NULL"},
	    {"fmt", "", "Input string is empty"},
	    {"fmt", k128.c_str(),
	     "Input strings must be no more than 128 characters (including terminating null byte)"},
	};
	for (const auto &r : refused) {
		err.clear();
		EXPECT_FALSE(kalunMapSetStr(map, r.key, r.value, err.loc()));
		EXPECT_EQ(err.code(), EINVAL);
		EXPECT_EQ(err.msg(), r.message);
	}
	err.clear();
	EXPECT_EQ(kalunMapGetStr(map, "fmt", err.loc()), nullptr);
	EXPECT_EQ(err.msg(), "Element with the given key was not found");

	kalunDestroyMap(&map);
	EXPECT_EQ(map, nullptr);
	kalunDestroyMap(&map);
	kalunDestroyMap(nullptr);
}

TEST(Map, GrowsPastEightEntries)
{
	kalunMap *map = kalunCreateMap(nullptr);
	for (int i = 0; i < 40; i++)
		ASSERT_TRUE(kalunMapSetInt(map, ("key" + std::to_string(i)).c_str(), i, nullptr));
	for (int i = 0; i < 40; i++) {
		int64_t v = -1;
		ASSERT_TRUE(kalunMapGetInt(map, ("key" + std::to_string(i)).c_str(), &v, nullptr));
		EXPECT_EQ(v, i);
	}
	kalunDestroyMap(&map);
}

} // namespace
