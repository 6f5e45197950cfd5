// The bus layer's type mapping: the signatures the protocol is written in.
#include <gtest/gtest.h>

#include "kalun/sdbus/message.h"
#include "kalun/session.h"

namespace {

using kalun::sdbus::signatureOf;

TEST(SdbusSignatureTest, ProtocolTypesHaveTheirWireSignatures) {
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

TEST(SdbusMessageTest, ValuesSurviveAppendAndRead) {
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_open_system(&bus), 0);
    sd_bus_message* raw = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(bus, &raw, "a.b", "/", "a.b", "M"), 0);
    kalun::sdbus::Message message(raw, true);
    const kalun::ModelTuple model{7, 8, 1, 2, "name", {{3, 1, 4, {1, 2}, {4, 2}, "t"}}, {}};
    const kalun::ParameterMap params{{"x", int64_t{-1}},
                                     {"s", std::string("v")},
                                     {"ax", std::vector<int64_t>{1, 2, 3}}};
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

}  // namespace
