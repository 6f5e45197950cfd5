// The stabilizer's wrappers, and the exposure delay read for a channel.
#include "platform/stabilizer.h"
#include "platform_fixture.h"

namespace
{

std::vector<std::string> calls;

std::string list(std::initializer_list<long long> values)
{
	std::string out;
	for (long long v : values)
		out += (out.empty() ? "" : ",") + std::to_string(v);
	return out;
}

// Every slot records its name and arguments and answers 10 + its number.
stabilizer *recording_stabilizer()
{
	stabilizer *s = stabilizer_new();
	s->destroy = [](stabilizer *) { calls.push_back("destroy"); };
	s->op2 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op2(" + list({a, b}) + ")"), 12;
	};
	s->set_pause = [](stabilizer *, int32_t stream, int pause) {
		return calls.push_back("pause(" + list({stream, pause}) + ")"), 13;
	};
	s->op4 = [](stabilizer *, intptr_t a) { return calls.push_back("op4(" + list({a}) + ")"), 14; };
	s->set_frame_geometry = [](stabilizer *, int c, int32_t w, int32_t h, int32_t line) {
		return calls.push_back("geometry(" + list({c, w, h, line}) + ")"), 15;
	};
	s->op6 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op6(" + list({a, b}) + ")"), 16;
	};
	s->op7 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op7(" + list({a, b}) + ")"), 17;
	};
	s->op8 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op8(" + list({a, b}) + ")"), 18;
	};
	s->set_exposure_delay = [](stabilizer *, int c, int32_t delay) {
		return calls.push_back("delay(" + list({c, delay}) + ")"), 19;
	};
	s->op10 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op10(" + list({a, b}) + ")"), 20;
	};
	s->op11 = [](stabilizer *, intptr_t a, intptr_t b) {
		return calls.push_back("op11(" + list({a, b}) + ")"), 21;
	};
	s->op12 = [](stabilizer *, intptr_t a, intptr_t b, intptr_t c) {
		return calls.push_back("op12(" + list({a, b, c}) + ")"), 22;
	};
	s->op13 = [](stabilizer *, intptr_t a, uint8_t b) {
		return calls.push_back("op13(" + list({a, b}) + ")"), 23;
	};
	return s;
}

struct wrapper_case {
	const char *name;
	int (*call)(stabilizer *s);
	const char *recorded;
	int answer;
};

const wrapper_case wrappers[] = {
    {"op2", [](stabilizer *s) { return stabilizer_op2(s, 1, 2); }, "op2(1,2)", 12},
    {"pause", [](stabilizer *s) { return stabilizer_set_pause(s, 0x100, 1); }, "pause(256,1)", 13},
    {"op4", [](stabilizer *s) { return stabilizer_op4(s, 3); }, "op4(3)", 14},
    {"geometry", [](stabilizer *s) { return stabilizer_set_frame_geometry(s, 1, 1920, 1080, 245760); },
     "geometry(1,1920,1080,245760)", 15},
    {"op6", [](stabilizer *s) { return stabilizer_op6(s, 4, 5); }, "op6(4,5)", 16},
    {"op7", [](stabilizer *s) { return stabilizer_op7(s, 6, 7); }, "op7(6,7)", 17},
    {"op8", [](stabilizer *s) { return stabilizer_op8(s, 8, 9); }, "op8(8,9)", 18},
    {"delay", [](stabilizer *s) { return stabilizer_set_exposure_delay_value(s, 1, 2); }, "delay(1,2)", 19},
    {"op10", [](stabilizer *s) { return stabilizer_op10(s, 10, 11); }, "op10(10,11)", 20},
    {"op11", [](stabilizer *s) { return stabilizer_op11(s, 12, 13); }, "op11(12,13)", 21},
    {"op12", [](stabilizer *s) { return stabilizer_op12(s, 14, 15, 16); }, "op12(14,15,16)", 22},
    {"op13", [](stabilizer *s) { return stabilizer_op13(s, 17, 255); }, "op13(17,255)", 23},
};

class Stabilizer : public PlatformTest
{
      protected:
	void SetUp() override
	{
		PlatformTest::SetUp();
		calls.clear();
	}
	void delays(const char *channel0, const char *channel1)
	{
		prodconf_node *item = pc_section(conf_, "sensor_exposure_delay");
		if (channel0)
			pc_node(pc_node(item, "CHANNEL0"), "exposure_delay", {channel0});
		if (channel1)
			pc_node(pc_node(item, "CHANNEL1"), "exposure_delay", {channel1});
	}
};

// Each wrapper reaches its slot with its arguments and gives its answer;
// no object or no slot is -1.
TEST_F(Stabilizer, Wrappers)
{
	stabilizer *s = recording_stabilizer();
	stabilizer *empty = stabilizer_new();
	for (const wrapper_case &w : wrappers) {
		SCOPED_TRACE(w.name);
		calls.clear();
		EXPECT_EQ(w.answer, w.call(s));
		EXPECT_EQ(std::vector<std::string>{w.recorded}, calls);
		EXPECT_EQ(-1, w.call(empty));
		EXPECT_EQ(-1, w.call(nullptr));
	}
	EXPECT_EQ(-1, stabilizer_set_exposure_delay(empty, 0, conf_));
	EXPECT_EQ(-1, stabilizer_set_exposure_delay(nullptr, 0, conf_));
	calls.clear();
	platform_add_stabilizer(plat_, s, 0);
	EXPECT_EQ(plat_, s->platform);
	platform_remove_all_stabilizer(plat_, 0);
	EXPECT_EQ(std::vector<std::string>{"destroy"}, calls);
	stabilizer_destroy(empty);
	stabilizer_destroy(nullptr);
}

// The delay is read for the channel's first stream, so each channel gets
// its own; an item that cannot be read is -1 and nothing is told.
TEST_F(Stabilizer, ExposureDelayOfTheChannel)
{
	stabilizer *s = recording_stabilizer();
	delays("3", "7");
	EXPECT_EQ(19, stabilizer_set_exposure_delay(s, 1, conf_));
	EXPECT_EQ(19, stabilizer_set_exposure_delay(s, 0, conf_));
	EXPECT_EQ((std::vector<std::string>{"delay(1,7)", "delay(0,3)"}), calls);

	calls.clear();
	g_hash_table_remove(conf_->sections, "sensor_exposure_delay");
	EXPECT_EQ(-1, stabilizer_set_exposure_delay(s, 0, conf_));
	delays("3", nullptr); // required, and missing for channel 1
	testing::internal::CaptureStderr();
	EXPECT_EQ(-1, stabilizer_set_exposure_delay(s, 1, conf_));
	testing::internal::GetCapturedStderr();
	EXPECT_EQ(-1, stabilizer_set_exposure_delay(s, 0, nullptr));
	EXPECT_TRUE(calls.empty());
	stabilizer_destroy(s);
}

} // namespace
