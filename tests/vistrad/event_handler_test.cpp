// The event producer against the stand-in event library, which logs every
// declaration, event and withdrawal it is given.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "frontends/dbus_api/event_handler.h"
#include "log_capture.h"
#include "tessel.h"

namespace
{

std::string take_log()
{
	char *text = sim_tessel_take_log();
	std::string out = text;
	free(text);
	return out;
}

const char day_night_declaration[] =
    "declare 1 flag=0\n"
    "  key topic0 type=4 value=\"VideoSource\" value_nice=\"Video source\" ns=tns1\n"
    "  key topic1 type=4 value=\"DayNightVision\" value_nice=\"Day night vision\" ns=tnstovi\n"
    "  key VideoSourceConfigurationToken type=1 value=3 key_nice=\"Video source configuration token\" "
    "tag=onvif-source\n"
    "  key channel type=1 value=3 key_nice=\"channel to use\"\n"
    "  key day type=2 key_nice=\"day\" tag=onvif-data property\n";

const char above_level_declaration[] =
    "declare 2 flag=1\n"
    "  key topic0 type=4 value=\"VideoSource\"\n"
    "  key topic1 type=4 value=\"DayNightVision\"\n"
    "  key channel type=1 value=3 key_nice=\"channel to use\"\n"
    "  key AboveIlluminanceLevel type=1 key_nice=\"Above daynight treshold illuminance level\" property\n";

class EventHandler : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		sim_tessel_reset();
		event_handler_init(nullptr, nullptr);
		EXPECT_EQ("new \"vistrad Events\"\n", take_log());
	}
	void TearDown() override
	{
		event_handler_deinit();
		EXPECT_EQ(0, sim_tessel_live()) << "the producer, a declaration or an event was not freed";
	}
	LogCapture log;
};

TEST_F(EventHandler, FirstReportDeclaresAndSendsNothing)
{
	event_handler_ircut_property_changed(0x0201, 1); // channel 2
	EXPECT_EQ(day_night_declaration, take_log());
	event_handler_above_ill_level_changed(0x0200, 0);
	EXPECT_EQ(above_level_declaration, take_log());

	// The library asks for the current values through the property callbacks.
	EXPECT_EQ(1, sim_tessel_run_property(1, "day"));
	EXPECT_EQ(0, sim_tessel_run_property(2, "AboveIlluminanceLevel"));
	event_handler_ircut_property_changed(0x0200, 0);
	EXPECT_EQ(0, sim_tessel_run_property(1, "day"));
}

TEST_F(EventHandler, OnlyChangesAreSent)
{
	struct Step {
		void (*report)(int32_t, uint32_t);
		int32_t stream_id;
		uint32_t value;
		const char *sent; // exact, or the start of a declaration
	} steps[] = {
	    {event_handler_ircut_property_changed, 0, 1, "declare 1 flag=0\n"},
	    {event_handler_ircut_property_changed, 0, 1, ""},
	    {event_handler_ircut_property_changed, 0, 0, "event 1 day=0\n"},
	    {event_handler_ircut_property_changed, 0x0003, 0, ""},            // another stream of channel 0
	    {event_handler_ircut_property_changed, -1, 1, "event 1 day=1\n"}, // all streams: channel 0
	    {event_handler_ircut_property_changed, 0x0100, 1, "declare 2 flag=0\n"}, // channel 1 is its own
	    {event_handler_above_ill_level_changed, 0, 1, "declare 3 flag=1\n"},
	    {event_handler_above_ill_level_changed, 0, 1, ""},
	    {event_handler_above_ill_level_changed, 0, 0, "event 3 AboveIlluminanceLevel=0\n"},
	    {event_handler_ircut_property_changed, 0, 1, ""},
	};
	int i = 0;
	for (const auto &s : steps) {
		SCOPED_TRACE("step " + std::to_string(i++));
		s.report(s.stream_id, s.value);
		std::string sent = take_log();
		if (strncmp(s.sent, "declare", 7) == 0)
			EXPECT_EQ(0u, sent.find(s.sent)) << sent;
		else
			EXPECT_EQ(s.sent, sent);
	}
}

TEST_F(EventHandler, ReportsBeforeInitAreRefused)
{
	event_handler_deinit();
	take_log();
	static std::string criticals;
	criticals.clear();
	g_log_set_default_handler(
	    [](const gchar *, GLogLevelFlags level, const gchar *message, gpointer) {
		    if (level & G_LOG_LEVEL_CRITICAL)
			    criticals += std::string(message) + "\n";
	    },
	    nullptr);
	event_handler_ircut_property_changed(0, 1);
	event_handler_above_ill_level_changed(0, 1);
	g_log_set_default_handler(g_log_default_handler, nullptr);
	EXPECT_EQ("event_handler_ircut_property_changed: assertion 'producer != NULL' failed\n"
	          "event_handler_above_ill_level_changed: assertion 'producer != NULL' failed\n",
	          criticals);
	EXPECT_EQ("", take_log());

	event_handler_init(nullptr, nullptr);
	event_handler_ircut_property_changed(0, 1);
	EXPECT_NE(std::string::npos, take_log().find("declare 1 flag=0\n"))
	    << "the report before init left a trace";
}

TEST_F(EventHandler, AFailedDeclarationIsTriedAgain)
{
	struct {
		void (*report)(int32_t, uint32_t);
		const char *message;
	} cases[] = {
	    {event_handler_ircut_property_changed, "Could not declare the IR cut property\n"},
	    {event_handler_above_ill_level_changed,
	     "Could not declare Day night above ill. level property.\n"},
	};
	int32_t id = 1;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.message);
		log.clear();
		sim_tessel_fail_declare(1);
		c.report(0, 1);
		EXPECT_EQ("declare failed\n", take_log());
		EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
		c.report(0, 1);
		EXPECT_EQ(0u, take_log().find("declare " + std::to_string(id++)));
		c.report(0, 0);
		EXPECT_EQ(0u, take_log().find("event "));
	}
}

TEST_F(EventHandler, ChannelsWithoutATableAreRefused)
{
	event_handler_ircut_property_changed(0x0800, 1);
	event_handler_above_ill_level_changed(0xff00, 1);
	EXPECT_EQ("", take_log());
	EXPECT_NE(std::string::npos, log.text().find("no events for channel 8 (stream id 2048)"))
	    << log.text();
	EXPECT_NE(std::string::npos, log.text().find("no events for channel 255 (stream id 65280)"))
	    << log.text();
	event_handler_ircut_property_changed(0x0700, 1);
	EXPECT_EQ(0u, take_log().find("declare 1 flag=0\n"));
}

TEST_F(EventHandler, DeinitWithdrawsWhatWasDeclared)
{
	event_handler_ircut_property_changed(0, 1);
	event_handler_above_ill_level_changed(0, 1);
	take_log();
	event_handler_deinit();
	EXPECT_EQ("undeclare 1\nundeclare 2\nfree\n", take_log());
	EXPECT_EQ(0, sim_tessel_live());
	event_handler_deinit();
	EXPECT_EQ("", take_log());

	// A new init starts over; a second one keeps the producer but forgets
	// the declarations.
	event_handler_init(nullptr, nullptr);
	event_handler_ircut_property_changed(0, 1);
	EXPECT_EQ(0u, take_log().find("new \"vistrad Events\"\ndeclare 3 flag=0\n"));
	event_handler_init(nullptr, nullptr);
	event_handler_ircut_property_changed(0, 1);
	EXPECT_EQ(0u, take_log().find("declare 4 flag=0\n"));
}

} // namespace
