// The bus layer's type mapping: the signatures the protocol is written in.
#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "kalun/sdbus/bus.h"

#include "kalun/sdbus/message.h"
#include "kalun/session.h"

namespace
{

using kalun::sdbus::signatureOf;

TEST(SdbusSignatureTest, ProtocolTypesHaveTheirWireSignatures)
{
	EXPECT_EQ(signatureOf<kalun::TensorMetadataTuple>(), "(iitatats)");
	EXPECT_EQ(signatureOf<kalun::Session::TensorTuple>(), "(iitatathtxtu)");
	EXPECT_EQ(signatureOf<kalun::ModelTuple>(), "(tttisa(iitatats)a(iitatats))");
	EXPECT_EQ(signatureOf<kalun::ParameterMap>(), "a{sv}");
	EXPECT_EQ((signatureOf<std::tuple<kalun::ModelTuple, uint64_t, int32_t, std::string>>()),
	          "((tttisa(iitatats)a(iitatats))tis)");
	EXPECT_EQ((signatureOf<std::vector<kalun::sdbus::UnixFd>, std::vector<uint64_t>,
	                       std::vector<uint32_t>, uint64_t, int32_t, std::string>()),
	          "ahatautis");
}

// A type no other code asks about, with a signature too long to sit inside
// the string itself: its text is built first in the test.
using LateTuple = std::tuple<double, double, double, double, double, double, double, double, double, double,
                             double, double, double, double, double, double, double, double>;

void readLateSignatureAtExit()
{
	if (signatureOf<LateTuple>() != "(dddddddddddddddddd)")
		_exit(3);
}

// A worker still sending while the process exits asks for signatures built
// after its exit handlers were registered; they must outlive the function
// statics torn down before it (the sanitizer build sees the freed text).
TEST(SdbusSignatureTest, SignaturesStayReadableWhileTheProcessExits)
{
	EXPECT_EXIT(
	    {
		    atexit(readLateSignatureAtExit);
		    if (signatureOf<LateTuple>() != "(dddddddddddddddddd)")
			    _exit(2);
		    std::exit(0);
	    },
	    ::testing::ExitedWithCode(0), "");
}

TEST(SdbusMessageTest, ValuesSurviveAppendAndRead)
{
	sd_bus *bus = nullptr;
	ASSERT_GE(sd_bus_open_system(&bus), 0);
	sd_bus_message *raw = nullptr;
	ASSERT_GE(sd_bus_message_new_method_call(bus, &raw, "a.b", "/", "a.b", "M"), 0);
	kalun::sdbus::Message message(raw, true);
	const kalun::ModelTuple model{7, 8, 1, 2, "name", {{3, 1, 4, {1, 2}, {4, 2}, "t"}}, {}};
	const kalun::ParameterMap params{
	    {"x", int64_t{-1}}, {"s", std::string("v")}, {"ax", std::vector<int64_t>{1, 2, 3}}};
	message.append(model, params, uint8_t{200});
	ASSERT_GE(sd_bus_message_seal(message.get(), 1, 0), 0);
	EXPECT_EQ(message.signature(), "(tttisa(iitatats)a(iitatats))a{sv}y");
	kalun::ModelTuple readModel;
	kalun::ParameterMap readParams;
	uint8_t readByte = 0;
	message.read(readModel, readParams, readByte);
	EXPECT_EQ(readModel, model);
	EXPECT_EQ(readParams, params);
	EXPECT_EQ(readByte, 200);
	// Past the end, and a wrong type, raise the layer's error.
	EXPECT_THROW(message.read<uint64_t>(), kalun::sdbus::Error);
	message.rewind();
	EXPECT_THROW(message.read<std::string>(), kalun::sdbus::Error);
	message = {};
	sd_bus_flush_close_unref(bus);
}

// Arrays of numbers are taken whole from the message; a wrong element type
// and the end of the message still raise the layer's errors with their
// texts.
TEST(SdbusMessageTest, NumberArraysAreReadWholeAndRefusedWhenAbsent)
{
	sd_bus *bus = nullptr;
	ASSERT_GE(sd_bus_open_system(&bus), 0);
	sd_bus_message *raw = nullptr;
	ASSERT_GE(sd_bus_message_new_method_call(bus, &raw, "a.b", "/", "a.b", "M"), 0);
	kalun::sdbus::Message message(raw, true);
	const std::vector<int32_t> ints{5, -6, 7};
	const std::vector<double> none;
	const std::vector<uint8_t> bytes{1, 2, 3, 255};
	message.append(ints, none, bytes);
	ASSERT_GE(sd_bus_message_seal(message.get(), 1, 0), 0);
	std::vector<int32_t> readInts{9};
	std::vector<double> readNone{1.0};
	std::vector<uint8_t> readBytes;
	message.read(readInts, readNone, readBytes);
	EXPECT_EQ(readInts, ints);
	EXPECT_EQ(readNone, none);
	EXPECT_EQ(readBytes, bytes);
	const auto textOf = [&] {
		try {
			message.read<std::vector<uint64_t>>();
		} catch (const kalun::sdbus::Error &e) {
			return std::string(e.name()) + " " + e.what();
		}
		return std::string("no error");
	};
	EXPECT_EQ(textOf(), "System.Error.ENXIO Could not read container 'at': No such device or address");
	message.rewind();
	EXPECT_EQ(textOf(), "System.Error.ENXIO Could not read container 'at': No such device or address");
	message = {};
	sd_bus_flush_close_unref(bus);
}

// A server object on one connection of the private bus, called from
// another while a helper thread serves the first.
TEST(SdbusObjectTest, MethodsAndPropertiesAnswerAndErrorsKeepTheirNames)
{
	sd_bus *server = nullptr;
	sd_bus *caller = nullptr;
	ASSERT_GE(sd_bus_open_system(&server), 0);
	ASSERT_GE(sd_bus_open_system(&caller), 0);
	const char *unique = nullptr;
	ASSERT_GE(sd_bus_get_unique_name(server, &unique), 0);
	using kalun::sdbus::Object;
	auto object = std::make_unique<Object>(
	    server, "/test", "com.tovi.Test",
	    std::vector<Object::Method>{
	        {"Echo", "s", "s",
	         [](kalun::sdbus::Message &call) {
		         const auto text = call.read<std::string>();
		         call.newMethodReturn().append(text + "!").send();
	         }},
	        {"Refuse", "", "",
	         [](kalun::sdbus::Message &) {
		         throw kalun::sdbus::Error("com.tovi.Test.Error.Refused", "not today");
	         }},
	        {"Break", "", "", [](kalun::sdbus::Message &) { throw std::runtime_error("broken"); }},
	    },
	    std::vector<Object::Property>{Object::property<uint64_t>("Answer", [] { return uint64_t{42}; })});
	std::atomic<bool> serving{true};
	std::thread loop([&] {
		while (serving) {
			while (sd_bus_process(server, nullptr) > 0) {
			}
			sd_bus_wait(server, 20000);
		}
	});

	sd_bus_error error = SD_BUS_ERROR_NULL;
	sd_bus_message *reply = nullptr;
	ASSERT_GE(sd_bus_call_method(caller, unique, "/test", "com.tovi.Test", "Echo", &error, &reply, "s",
	                             "hello"),
	          0);
	EXPECT_EQ(kalun::sdbus::Message(reply, true).read<std::string>(), "hello!");
	const std::vector<std::pair<const char *, std::pair<std::string, std::string>>> failures{
	    {"Refuse", {"com.tovi.Test.Error.Refused", "not today"}},
	    {"Break", {SD_BUS_ERROR_FAILED, "broken"}},
	};
	for (const auto &[method, expected] : failures) {
		EXPECT_LT(
		    sd_bus_call_method(caller, unique, "/test", "com.tovi.Test", method, &error, nullptr, ""),
		    0);
		EXPECT_EQ(std::string(error.name), expected.first);
		EXPECT_EQ(std::string(error.message), expected.second);
		sd_bus_error_free(&error);
	}
	uint64_t answer = 0;
	EXPECT_GE(sd_bus_get_property_trivial(caller, unique, "/test", "com.tovi.Test", "Answer", &error, 't',
	                                      &answer),
	          0);
	EXPECT_EQ(answer, 42u);
	sd_bus_error_free(&error);

	serving = false;
	loop.join();
	object.reset();
	sd_bus_flush_close_unref(caller);
	sd_bus_flush_close_unref(server);
}

} // namespace
