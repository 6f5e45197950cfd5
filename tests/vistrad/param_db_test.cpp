#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/param_db.h"
#include "core/stream_map.h"
#include "log_capture.h"

namespace
{

// Stands in for the front-end's announcements: records what reached it.
std::vector<std::string> announced;

void note_properties(struct dbus_api *, int32_t stream_id, const struct param_value *value)
{
	announced.push_back("props:" + std::to_string(value->id) + "/" + std::to_string(stream_id));
}

void note_signal(struct dbus_api *, int32_t stream_id, const struct param_value *value)
{
	announced.push_back("signal:" + std::to_string(value->id) + "/" + std::to_string(stream_id));
}

const param_announcer recorder = {note_properties, note_signal};

std::vector<std::string> delivered;

int record_callback(void *user_data, void *, param_value *value, param_callback *)
{
	delivered.push_back(std::string(static_cast<const char *>(user_data)) + ":" +
	                    std::to_string(value->id) + "/" + std::to_string(value->stream_id) + "=" +
	                    (value->text ? std::string(value->text) : std::to_string(value->value)));
	return 0;
}

class ParamDb : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_db_set_default_stream(-1);
		param_db_set_announcer(&recorder);
		param_set_save_pending(0);
		announced.clear();
		delivered.clear();
		log.clear();
	}
	void TearDown() override
	{
		param_db_set_announcer(nullptr);
		param_db_free();
		param_map_free();
		stream_map_free();
	}
	int32_t get(uint32_t id, int32_t stream_id = -1)
	{
		int32_t v = INT32_MIN;
		EXPECT_EQ(0, param_get_int(id, stream_id, &v));
		return v;
	}
	std::string text(uint32_t id, int32_t stream_id = -1)
	{
		char *t = nullptr;
		EXPECT_EQ(0, param_get_string(id, stream_id, &t, nullptr));
		std::string s = t ? t : "(null)";
		g_free(t);
		return s;
	}
	LogCapture log;
};

// One row per value type: a good value, a refused one, and the default.
struct TypeCase {
	uint32_t id;
	int32_t good, bad, def;
	const char *bad_message;
};

TEST_F(ParamDb, SetRefuseResetPerType)
{
	const TypeCase cases[] = {
	    {3, 70, 101, 50, "Parameter ImageSource.I0.Sensor;Brightness out of range, 101 (0 - 100)\n"},
	    {12, 5, 6, 0, "Parameter ImageSource.I0.Sensor;Exposure out of range, 6 (0 - 5)\n"},
	    {78, 16384, 1638401, 32768,
	     "Parameter TemperatureAnalyzerDelta;TemperatureAnalyzerDelta out of range, "
	     "1638401 (0 - 1638400)\n"},
	    {123, 1, 2, 0, "Parameter ImageSource;AntialiasingEnabled out of range, 2 (0 - 1)\n"},
	    {17, -60, -61, -1,
	     "Parameter ImageSource.I0.Sensor;MaxExposureTime out of range, -61 (-60 - 2000000)\n"},
	    {168, 100, -2, -1, "Parameter (null);CaptureModeLazy out of range, -2 (-1 - 100)\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.id);
		int32_t v;
		EXPECT_EQ(-1, param_get_int(c.id, -1, &v)); // not set yet
		EXPECT_EQ(0, param_set_int(c.id, -1, c.good));
		EXPECT_EQ(c.good, get(c.id));
		EXPECT_EQ(0, param_is_default(c.id, -1));
		log.clear();
		EXPECT_EQ(-5, param_set_int(c.id, -1, c.bad));
		EXPECT_EQ(c.bad_message, log.text(DEBUG_WARNING));
		EXPECT_EQ(log.text(DEBUG_WARNING), log.text());
		EXPECT_EQ(c.good, get(c.id)); // nothing stored
		EXPECT_EQ(0, param_reset(c.id, -1));
		EXPECT_EQ(c.def, get(c.id));
		EXPECT_EQ(1, param_is_default(c.id, -1));
		int32_t def = 12345;
		EXPECT_EQ(0, param_default_from_entry(c.id, -1, &def, nullptr));
		EXPECT_EQ(c.def, def);
	}
}

TEST_F(ParamDb, StringsValidateBeforeReplacing)
{
	EXPECT_EQ(0, param_set_string(164, -1, "Front"));
	EXPECT_EQ("Front", text(164));
	std::string longest(1023, 'a');
	EXPECT_EQ(0, param_set_string(164, -1, longest.c_str()));
	EXPECT_EQ(0, param_set_string(164, -1, "Front"));
	std::string too_long(1024, 'a');
	EXPECT_EQ(-5, param_set_string(164, -1, too_long.c_str()));
	EXPECT_EQ(-5, param_set_string(164, -1, nullptr));
	EXPECT_EQ("Front", text(164)); // a refused set keeps the old text
	int length = -1;
	char *t = nullptr;
	EXPECT_EQ(0, param_get_string(164, -1, &t, &length));
	EXPECT_EQ(5, length);
	g_free(t);
	EXPECT_EQ(0, param_reset(164, -1));
	EXPECT_EQ("Camera", text(164));
	EXPECT_EQ(0, param_reset(146, -1));
	EXPECT_EQ("", text(146));
	char *def = nullptr;
	EXPECT_EQ(0, param_default_from_entry(98, -1, nullptr, &def));
	EXPECT_STREQ("0,0:1,0:0,1:1,1", def);
	g_free(def);
}

TEST_F(ParamDb, ResultCodes)
{
	int32_t v;
	EXPECT_EQ(-3, param_set_int(3, -2, 1));
	EXPECT_EQ(-2, param_set_int(181, -1, 1));
	EXPECT_EQ(-2, param_set_int(2, -1, 1)); // id 2 has no parameter
	EXPECT_EQ(-4, param_set(nullptr));
	EXPECT_EQ(-4, param_get(nullptr));
	EXPECT_EQ(-4, param_get_int(3, -1, nullptr));
	EXPECT_EQ(-1, param_get_int(3, -1, &v));
	EXPECT_EQ(-3, param_get_int(3, -2, &v));
	EXPECT_EQ(-2, param_get_int(181, -1, &v));
	param_value rec = {3, -1, 0, 0, 0, nullptr};
	EXPECT_EQ(-1, param_is_set(&rec));
	param_set_int(3, -1, 1);
	EXPECT_EQ(0, param_is_set(&rec));
	rec.stream_id = -5;
	EXPECT_EQ(-3, param_is_set(&rec));
	EXPECT_EQ(-4, param_is_set(nullptr));
}

TEST_F(ParamDb, StreamsFallBackToTheGlobalEntry)
{
	param_set_int(3, -1, 40);
	EXPECT_EQ(40, get(3, 0x100));
	param_set_int(3, 0x100, 60);
	EXPECT_EQ(60, get(3, 0x100));
	EXPECT_EQ(40, get(3, -1));
	EXPECT_EQ(40, get(3, 0));
	GList *streams = param_get_streams(3);
	ASSERT_EQ(2u, g_list_length(streams));
	EXPECT_EQ(-1, GPOINTER_TO_INT(streams->data));
	EXPECT_EQ(0x100, GPOINTER_TO_INT(streams->next->data));
	g_list_free(streams);

	param_value rec = {3, 0x100, 0, 0, 0, nullptr};
	EXPECT_EQ(0, param_remove(&rec));
	EXPECT_EQ(40, get(3, 0x100));
	EXPECT_EQ(-1, param_remove(&rec));
	param_set_int(3, 0x200, 10);
	EXPECT_EQ(0, param_remove_stream(0x200));
	EXPECT_EQ(40, get(3, 0x200));
	EXPECT_EQ(-4, param_remove_stream(-2));
}

TEST_F(ParamDb, SubStreamsShareTheChannelEntry)
{
	stream_map_register(1, stream_map_new_dual_short_first);
	param_set_int(3, 257, 33);
	EXPECT_EQ(33, get(3, 256));
	GList *streams = param_get_streams(3);
	EXPECT_EQ(256, GPOINTER_TO_INT(g_list_last(streams)->data));
	g_list_free(streams);
}

TEST_F(ParamDb, NotifyModes)
{
	// Mode 0: a set to the same value queues nothing; several sets give one delivery.
	param_register_callback(3, -1, record_callback, PARAM_NOTIFY_ON_CHANGE, (void *)"m0", nullptr);
	param_register_callback(4, -1, record_callback, PARAM_NOTIFY_ALWAYS, (void *)"m1", nullptr);
	param_register_callback(5, -1, record_callback, PARAM_NOTIFY_NEVER, (void *)"m2", nullptr);
	param_set_int(3, -1, 10);
	param_set_int(4, -1, 10);
	param_set_int(5, -1, 10);
	EXPECT_EQ(1, param_changes_pending());
	param_distribute_callback_one_change();
	EXPECT_EQ(0, param_changes_pending());
	EXPECT_EQ((std::vector<std::string>{"m0:3/-1=10", "m1:4/-1=10"}), delivered);

	delivered.clear();
	param_set_int(3, -1, 10);
	param_set_int(4, -1, 10);
	param_set_int(5, -1, 11);
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"m1:4/-1=10"}), delivered);

	delivered.clear();
	param_set_int(3, -1, 11);
	param_set_int(3, -1, 12);
	param_set_int(3, -1, 13);
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"m0:3/-1=13"}), delivered);

	// A string set always counts as a change.
	delivered.clear();
	param_register_callback(164, -1, record_callback, PARAM_NOTIFY_ON_CHANGE, (void *)"s", nullptr);
	param_set_string(164, -1, "Same");
	param_distribute_callback_one_change();
	param_set_string(164, -1, "Same");
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"s:164/-1=Same", "s:164/-1=Same"}), delivered);
}

TEST_F(ParamDb, DeliveryMostRecentlyRegisteredFirstPerStream)
{
	int first = param_register_callback(3, -1, record_callback, 0, (void *)"first", nullptr);
	int second = param_register_callback(3, -1, record_callback, 0, (void *)"second", g_malloc(8));
	int other = param_register_callback(3, 0x100, record_callback, 0, (void *)"stream", nullptr);
	EXPECT_GE(first, 0);
	EXPECT_EQ(first + 1, second);
	EXPECT_EQ(second + 1, other);
	param_set_int(3, -1, 20);
	param_set_int(3, 0x100, 21);
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"second:3/-1=20", "first:3/-1=20", "stream:3/256=21"}),
	          delivered);

	param_value key = {3, -1, 0, 0, 0, nullptr};
	EXPECT_EQ(0, param_unregister_callback(second, &key));
	EXPECT_EQ(0, param_unregister_callback(second, &key));
	EXPECT_EQ(-1, param_unregister_callback(-1, &key));
	delivered.clear();
	param_set_int(3, -1, 22);
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"first:3/-1=22"}), delivered);

	EXPECT_EQ(-1, param_register_callback(181, -1, record_callback, 0, nullptr, nullptr));
	param_cb_helper *helper = g_new(param_cb_helper, 1);
	*helper = {3, first, -1};
	param_cb_helper_destroy(helper);
	delivered.clear();
	param_set_int(3, -1, 23);
	param_distribute_callback_one_change();
	EXPECT_TRUE(delivered.empty());
}

std::atomic<int> torn_texts;

int check_text(void *, void *, param_value *value, param_callback *)
{
	// Every text the setter writes is one letter repeated. Reading it many
	// times keeps the callback long enough for the setter to replace it.
	for (int pass = 0; pass < 50; pass++) {
		std::string text = value->text ? value->text : "";
		if (text.empty() || text.find_first_not_of(text[0]) != std::string::npos) {
			torn_texts++;
			break;
		}
	}
	return 0;
}

// Sets from another thread while the main thread delivers: each callback
// reads a text that stays whole until it returns.
TEST_F(ParamDb, DeliveryWhileAnotherThreadSets)
{
	torn_texts = 0;
	ASSERT_EQ(0, param_set_string(164, -1, "sss"));
	param_register_callback(164, -1, check_text, PARAM_NOTIFY_ALWAYS, nullptr, nullptr);
	std::atomic<bool> done{false};
	std::thread setter([&] {
		const std::string texts[] = {std::string(1000, 'a'), "b", std::string(300, 'c')};
		for (int i = 0; !done.load(); i++)
			param_set_string(164, -1, texts[i % 3].c_str());
	});
	for (int i = 0; i < 5000; i++)
		param_distribute_callback_one_change();
	done = true;
	setter.join();
	param_distribute_callback_one_change();
	EXPECT_EQ(0, torn_texts.load());
}

int chain_callback(void *, void *, param_value *value, param_callback *)
{
	delivered.push_back("chain:" + std::to_string(value->value));
	// Sets another parameter while the delivery runs: no lock is held here.
	param_set_int(4, -1, value->value + 1);
	return 0;
}

TEST_F(ParamDb, CallbackMaySetAnotherParameter)
{
	param_register_callback(3, -1, chain_callback, 0, nullptr, nullptr);
	param_register_callback(4, -1, record_callback, 0, (void *)"next", nullptr);
	param_set_int(3, -1, 30);
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"chain:30", "next:4/-1=31"}), delivered);
}

TEST_F(ParamDb, SilentSetsAreAnnouncedButNotDelivered)
{
	param_register_callback(3, -1, record_callback, 0, (void *)"cb", nullptr);
	EXPECT_EQ(0, param_set_int_silent(3, -1, 44));
	param_distribute_callback_one_change();
	EXPECT_TRUE(delivered.empty());
	EXPECT_EQ((std::vector<std::string>{"props:3/-1"}), announced);
	// An unchanged value is not announced again.
	param_set_int(3, -1, 44);
	EXPECT_EQ(1u, announced.size());
}

TEST_F(ParamDb, AnnouncementsAndSavePending)
{
	param_set_int(1, -1, 1); // not saved, no signal
	EXPECT_EQ(0, param_get_save_pending());
	param_set_int(39, -1, 2); // saved, with a signal, on the default stream
	EXPECT_EQ(1, param_get_save_pending());
	param_set_int(39, 0x100, 3);
	param_db_set_default_stream(0);
	param_set_int(108, 0, 25000);
	EXPECT_EQ((std::vector<std::string>{"props:1/-1", "signal:39/-1", "signal:39/0", "props:39/-1",
	                                    "signal:39/256", "props:39/256", "signal:108/0", "signal:108/-1",
	                                    "props:108/0"}),
	          announced);
}

TEST_F(ParamDb, QueueAllAndClear)
{
	param_set_int_silent(3, -1, 1);
	param_set_int_silent(3, 0x100, 2);
	param_set_int_silent(4, -1, 3);
	param_register_callback(3, -1, record_callback, 0, (void *)"a", nullptr);
	param_register_callback(3, 0x100, record_callback, 0, (void *)"b", nullptr);
	param_register_callback(4, -1, record_callback, 0, (void *)"c", nullptr);
	param_queue_all();
	param_distribute_callback_one_change();
	EXPECT_EQ((std::vector<std::string>{"a:3/-1=1", "b:3/256=2", "c:4/-1=3"}), delivered);
	delivered.clear();
	param_set_int(3, -1, 9);
	param_clear_changes();
	param_distribute_callback_one_change();
	EXPECT_TRUE(delivered.empty());
}

TEST_F(ParamDb, RangesDefaultsAndEnums)
{
	uint32_t values[] = {1, 3, 5};
	char *names[] = {(char *)"one", (char *)"three", (char *)"five", nullptr};
	param_range range = {0, 0, values, names, 3};
	EXPECT_EQ(0, param_set_range(39, 0, &range));
	log.clear();
	EXPECT_EQ(-5, param_set_int(39, 0, 2));
	EXPECT_EQ("", log.text()); // an entry range refuses silently
	EXPECT_EQ(0, param_set_int(39, 0, 5));
	EXPECT_EQ(3, param_convert_enum_to_int(39, 0, "three"));
	EXPECT_EQ(INT32_MIN, param_convert_enum_to_int(39, 0, "two"));
	char *name = param_convert_int_to_enum(39, 0, 5);
	EXPECT_STREQ("five", name);
	g_free(name);

	EXPECT_EQ(1, param_convert_enum_to_int(40, -1, "50Hz"));
	EXPECT_EQ(INT32_MIN, param_convert_enum_to_int(40, -1, "50hz"));
	name = param_convert_int_to_enum(40, -1, 0);
	EXPECT_STREQ("60Hz", name);
	g_free(name);
	param_range r;
	EXPECT_EQ(0, param_get_range(12, -1, &r));
	EXPECT_EQ(6u, r.count);
	EXPECT_STREQ("flickerreduced60", r.names[5]);
	param_range_clear(&r);

	// A product default replaces the map's, and re-applies to a defaulted entry.
	param_reset(3, -1);
	EXPECT_EQ(50, get(3));
	EXPECT_EQ(0, param_set_default(3, -1, 65, nullptr));
	EXPECT_EQ(65, get(3));
	param_set_int(4, -1, 10);
	EXPECT_EQ(0, param_set_default(4, -1, 20, nullptr));
	EXPECT_EQ(10, get(4));
	EXPECT_EQ(0, param_reset(4, -1));
	EXPECT_EQ(20, get(4));

	param_set_default(5, -1, 500, nullptr);
	log.clear();
	EXPECT_EQ(-5, param_reset(5, -1));
	EXPECT_NE(std::string::npos,
	          log.text().find("param_reset: default value out of valid range for parid 5\n"));
}

TEST_F(ParamDb, ValueToVariant)
{
	struct {
		param_value value;
		const char *printed;
	} cases[] = {
	    {{78, -1, 0, PARAM_TYPE_FIX, 16384, nullptr}, "1.0"},
	    {{78, -1, 0, PARAM_TYPE_FIX, -8192, nullptr}, "-0.5"},
	    {{3, -1, 0, PARAM_TYPE_INT, 42, nullptr}, "42"},
	    {{12, -1, 0, PARAM_TYPE_ENUM, 2, nullptr}, "'flickerfree50'"},
	    {{123, -1, 0, PARAM_TYPE_BOOL, 1, nullptr}, "true"},
	    {{164, -1, 0, PARAM_TYPE_STRING, 0, (char *)"Cam"}, "'Cam'"},
	};
	for (auto &c : cases) {
		GVariant *v = param_value_to_variant(&c.value, 0, 0);
		ASSERT_NE(nullptr, v);
		g_variant_ref_sink(v);
		gchar *printed = g_variant_print(v, FALSE);
		EXPECT_STREQ(c.printed, printed);
		g_free(printed);
		g_variant_unref(v);
	}
	param_value fix = {78, -1, 0, PARAM_TYPE_FIX, -8192, nullptr};
	GVariant *v = g_variant_ref_sink(param_value_to_variant(&fix, 0, 0));
	EXPECT_EQ(-0.5, g_variant_get_double(v));
	g_variant_unref(v);
	param_value en = {12, -1, 0, PARAM_TYPE_ENUM, 1, nullptr};
	v = g_variant_ref_sink(param_value_to_variant(&en, 1, 0));
	EXPECT_TRUE(g_variant_is_of_type(v, G_VARIANT_TYPE_BYTESTRING));
	EXPECT_STREQ("hold", g_variant_get_bytestring(v));
	g_variant_unref(v);

	log.clear();
	param_value unknown = {3, -1, 0, 0, 7, nullptr};
	v = g_variant_ref_sink(param_value_to_variant(&unknown, 0, 0));
	EXPECT_EQ(7, g_variant_get_int32(v));
	g_variant_unref(v);
	param_value bad = {3, -1, 0, 9, 7, nullptr};
	EXPECT_EQ(nullptr, param_value_to_variant(&bad, 0, 0));
	param_value outside = {12, -1, 0, PARAM_TYPE_ENUM, 6, nullptr};
	EXPECT_EQ(nullptr, param_value_to_variant(&outside, 0, 0));
	EXPECT_EQ("Unknown parameter type for 3, going with int\n"
	          "ParamDB: unknown parameter type 9\n"
	          "Param 12 value 6 outside param_map min 0 max 5!\n",
	          log.text());
}

TEST_F(ParamDb, GetSimpleEndsTheProcessOnAnUnsetParameter)
{
	param_set_int(3, -1, 77);
	EXPECT_EQ(77, param_get_simple(3));
	EXPECT_EXIT(
	    {
		    debug_output_free();
		    debug_output_set_sinks(DEBUG_ERROR, DEBUG_OUTPUT_SINK_FD, 2);
		    param_get_simple(4);
	    },
	    ::testing::ExitedWithCode(1), "Parameter 4 is not set, can't get simple value!");
}

} // namespace

namespace
{

TEST_F(ParamDb, IdWithoutARowHasNoEntries)
{
	EXPECT_EQ(nullptr, param_get_streams(2));
	EXPECT_EQ(-1, param_register_callback(2, -1, record_callback, 0, nullptr, nullptr));
	param_value rec = {2, -1, 0, 0, 0, nullptr};
	EXPECT_EQ(-2, param_get(&rec));
}

} // namespace
