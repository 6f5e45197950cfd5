// The plug-in loaded by the stand-in video service, talking to the stand-in
// overlay daemon on the private bus. Every test needs a process of its own
// (the plug-in keeps process-wide state): CTest gives it one, and a program
// run by hand re-runs itself for each case after the first.
#include "log_capture.h"
#include "pairs.h"
#include "vs_host.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

struct Call {
	std::string member;
	std::string path;
	Pairs args;
	std::string outcome; // created path, "" or the D-Bus error name
};

struct Overlay {
	std::string path;
	std::string kind;
	Pairs props; // sorted by key
};

std::string propOf(const Pairs &pairs, const std::string &key)
{
	for (const Pair &p : pairs)
		if (p.key == key)
			return p.value;
	return "<none>";
}

// Keeps iterating the default main context (where the name watch reports)
// until the condition holds or five seconds passed.
bool spinUntil(const std::function<bool()> &done)
{
	const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;

	while (!done()) {
		if (g_get_monotonic_time() > end)
			return false;
		if (!g_main_context_iteration(nullptr, FALSE))
			g_usleep(1000);
	}
	return true;
}

void drainMainContext()
{
	while (g_main_context_iteration(nullptr, FALSE))
		;
}

// The stand-in overlay daemon as a child process, steered over its control name.
class OverlayDaemon
{
      public:
	OverlayDaemon()
	{
		start();
	}
	~OverlayDaemon()
	{
		stop();
		g_clear_object(&bus_);
	}

	void start()
	{
		GError *error = nullptr;
		if (!bus_)
			bus_ = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
		ASSERT_NE(bus_, nullptr) << error->message;
		proc_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, OVERLAYD_SIM, nullptr);
		ASSERT_NE(proc_, nullptr) << error->message;
		GDataInputStream *out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(proc_));
		char *line = g_data_input_stream_read_line(out, nullptr, nullptr, &error);
		g_object_unref(out);
		ASSERT_STREQ(line, "READY");
		g_free(line);
	}

	void stop()
	{
		if (!proc_)
			return;
		g_subprocess_send_signal(proc_, SIGTERM);
		g_subprocess_wait(proc_, nullptr, nullptr);
		g_clear_object(&proc_);
	}

	std::vector<Call> calls()
	{
		std::vector<Call> out;
		GVariant *r = control("GetCalls", nullptr);
		GVariantIter *it = nullptr;
		const char *member;
		const char *path;
		GVariant *args;
		const char *outcome;

		g_variant_get(r, "(a(soa{ss}s))", &it);
		while (g_variant_iter_next(it, "(&s&o@a{ss}&s)", &member, &path, &args, &outcome)) {
			out.push_back({member, path, pairsOf(args), outcome});
			g_variant_unref(args);
		}
		g_variant_iter_free(it);
		g_variant_unref(r);
		return out;
	}

	std::vector<Call> callsOf(const std::string &member)
	{
		std::vector<Call> out;
		for (Call &c : calls())
			if (c.member == member)
				out.push_back(c);
		return out;
	}

	std::vector<Overlay> overlays()
	{
		std::vector<Overlay> out;
		GVariant *r = control("ListOverlays", nullptr);
		GVariantIter *it = nullptr;
		const char *path;
		const char *kind;
		GVariant *props;

		g_variant_get(r, "(a(osa{ss}))", &it);
		while (g_variant_iter_next(it, "(&o&s@a{ss})", &path, &kind, &props)) {
			out.push_back({path, kind, pairsOf(props)});
			g_variant_unref(props);
		}
		g_variant_iter_free(it);
		g_variant_unref(r);
		return out;
	}

	void clearCalls()
	{
		g_variant_unref(control("ClearCalls", nullptr));
	}
	void failNext(const char *member)
	{
		g_variant_unref(control("FailNext", g_variant_new("(s)", member)));
	}
	void releaseNames()
	{
		g_variant_unref(control("ReleaseNames", nullptr));
	}
	void takeNames()
	{
		g_variant_unref(control("TakeNames", nullptr));
	}

      private:
	GVariant *control(const char *member, GVariant *params)
	{
		GError *error = nullptr;
		GVariant *r = g_dbus_connection_call_sync(bus_, "sim.Overlayd", "/sim/Overlayd",
		                                          "sim.Overlayd.Control", member, params, nullptr,
		                                          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
		if (!r) {
			ADD_FAILURE() << member << ": " << error->message;
			g_error_free(error);
			return g_variant_ref_sink(g_variant_new("()"));
		}
		return r;
	}

	GDBusConnection *bus_ = nullptr;
	GSubprocess *proc_ = nullptr;
};

const char *const textAppeared =
    "tandrel: connect to notifications from legacy-overlay text parameters on channel %u";

// Skips the body of a case that ran in a process of its own.
#define OWN_PROCESS()                                                                                        \
	do {                                                                                                 \
		if (ranElsewhere_)                                                                           \
			return;                                                                              \
	} while (0)

class TandrelPlugin : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		static bool used;
		if (used) {
			runInOwnProcess();
			return;
		}
		used = true;
		daemon_ = std::make_unique<OverlayDaemon>();
	}

	// This program again, for the current case alone; its result is this
	// case's. The case's body then does nothing here (OWN_PROCESS).
	void runInOwnProcess()
	{
		ranElsewhere_ = true;
		const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
		std::string filter = std::string("--gtest_filter=") + t->test_suite_name() + "." + t->name();
		char *self = g_file_read_link("/proc/self/exe", nullptr);
		ASSERT_NE(self, nullptr);
		const char *argv[] = {self, filter.c_str(), nullptr};
		char *out = nullptr;
		int status = 0;
		GError *error = nullptr;
		gboolean spawned = g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT,
		                                nullptr, nullptr, &out, nullptr, &status, &error);
		g_free(self);
		ASSERT_TRUE(spawned) << error->message;
		EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << out;
		g_free(out);
	}
	bool ranElsewhere_ = false;

	void TearDown() override
	{
		if (!daemon_)
			return;
		EXPECT_TRUE(log_.criticals().empty()) << log_.criticals().front();
		daemon_.reset();
		g_clear_object(&host_);
	}

	GObject *lo(guint channel)
	{
		return G_OBJECT(vs_host_get_legacy_overlay(host_, channel - 1));
	}

	// Loads the plug-in and waits until it has connected every channel.
	void load()
	{
		GError *error = nullptr;
		ASSERT_TRUE(vs_host_load_plugin(host_, TANDREL_PLUGIN, &error)) << error->message;
		waitForAppearance(1);
	}

	void waitForAppearance(size_t times)
	{
		const std::string last = lineFor(textAppeared, vs_host_get_n_channels(host_));
		ASSERT_TRUE(spinUntil([&] { return countDebug(last) >= times; }))
		    << "plug-in never connected";
	}

	size_t countDebug(const std::string &message)
	{
		size_t n = 0;
		for (const std::string &m : log_.at(G_LOG_LEVEL_DEBUG))
			n += m == message;
		return n;
	}

	static std::string lineFor(const char *format, guint n)
	{
		char *s = g_strdup_printf(format, n);
		std::string out = s;
		g_free(s);
		return out;
	}

	// The one call made since the last check; forgets the log.
	Call onlyCall()
	{
		std::vector<Call> calls = daemon_->calls();
		daemon_->clearCalls();
		EXPECT_EQ(calls.size(), 1u);
		return calls.empty() ? Call{} : calls.front();
	}

	void expectNoCall()
	{
		std::vector<Call> calls = daemon_->calls();
		EXPECT_TRUE(calls.empty()) << calls.front().member << " " << calls.front().path;
		daemon_->clearCalls();
	}

	void expectChange(const std::string &path, const Pairs &sent)
	{
		Call c = onlyCall();
		EXPECT_EQ(c.member, "SetProperties");
		EXPECT_EQ(c.path, path);
		EXPECT_EQ(c.args, sent);
		EXPECT_EQ(c.outcome, "");
	}

	std::unique_ptr<OverlayDaemon> daemon_;
	VsHost *host_ = nullptr;
	LogCapture log_;
};

TEST(TandrelPluginWithoutDaemon, InitFailsWithTheBusError)
{
	LogCapture log;
	VsHost *host = vs_host_new(1);
	GError *error = nullptr;

	EXPECT_FALSE(vs_host_load_plugin(host, TANDREL_PLUGIN, &error));
	ASSERT_NE(error, nullptr);
	EXPECT_TRUE(g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN)) << error->message;
	EXPECT_EQ(log.at(G_LOG_LEVEL_WARNING),
	          std::vector<std::string>{"failed to dbus-activate glimmord with Ping"});
	g_error_free(error);
	g_object_unref(host);
}

TEST_F(TandrelPlugin, StartCreatesTheOverlaysOfEnabledSettingsPerChannel)
{
	OWN_PROCESS();
	host_ = vs_host_new(3);
	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	g_object_set(lo(2), "text", "Cam", "text-enabled", TRUE, "date-enabled", TRUE, "time-enabled", TRUE,
	             "text-color", "yellow", "text-background-color", "transparent", "text-position",
	             "bottomLeft", "text-size", "small", NULL);
	load();

	std::vector<Call> calls = daemon_->calls();
	ASSERT_EQ(calls.size(), 2u);
	EXPECT_EQ(calls[0].member, "CreateLegacyImageOverlay");
	EXPECT_EQ(calls[0].path, "/com/tovi/OverlayInternal1");
	EXPECT_EQ(calls[0].args, (Pairs{{"Camera", "1"},
	                                {"OverlayPath", "/usr/share/overlays/logo.bmp"},
	                                {"Position", "-1.00000,-1.00000"},
	                                {"ZIndex", "1"}}));
	EXPECT_EQ(calls[1].member, "CreateLegacyTextOverlay");
	EXPECT_EQ(calls[1].path, "/com/tovi/OverlayInternal1");
	EXPECT_EQ(calls[1].args, (Pairs{{"Camera", "2"},
	                                {"Text", "Cam %F %T"},
	                                {"FontSize", "16"},
	                                {"TextColor", "yellow"},
	                                {"TextBGColor", "transparent"},
	                                {"TextOLColor", "transparent"},
	                                {"Position", "bottomLeft"},
	                                {"ZIndex", "2"}}));
	EXPECT_EQ(daemon_->overlays().size(), 2u);
	for (guint n = 1; n <= 3; n++)
		EXPECT_EQ(countDebug(lineFor(
		              "tandrel: connect to notifications from legacy-image-overlay  parameters "
		              "on channel %u",
		              n)),
		          1u);
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
}

TEST_F(TandrelPlugin, TextSwitchesCreateChangeAndRemoveTheTextOverlay)
{
	OWN_PROCESS();
	host_ = vs_host_new(1);
	load();
	expectNoCall();

	g_object_set(lo(1), "text", "Cam", NULL);
	expectNoCall();
	EXPECT_EQ(countDebug("tandrel: overlay is not enabled, can not update overlay"), 1u);
	EXPECT_EQ(countDebug("tandrel: Received notification for 'text' property.\n"), 1u);

	g_object_set(lo(1), "date-enabled", TRUE, NULL);
	Call create = onlyCall();
	EXPECT_EQ(create.member, "CreateLegacyTextOverlay");
	EXPECT_EQ(propOf(create.args, "Text"), "%F");
	const std::string path = create.outcome;
	ASSERT_FALSE(path.empty());

	// Switching on what is on already must not make a second overlay.
	g_object_set(lo(1), "date-enabled", TRUE, NULL);
	expectNoCall();

	g_object_set(lo(1), "text-enabled", TRUE, NULL);
	expectChange(path, {{"Text", "Cam %F"}});
	g_object_set(lo(1), "time-enabled", TRUE, NULL);
	expectChange(path, {{"Text", "Cam %F %T"}});
	g_object_set(lo(1), "text", "Gate", NULL);
	expectChange(path, {{"Text", "Gate %F %T"}});
	g_object_set(lo(1), "text-size", "large", NULL);
	expectChange(path, {{"FontSize", "48"}});
	log_.clear();
	g_object_set(lo(1), "text-size", "huge", NULL);
	expectChange(path, {{"FontSize", "32"}});
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING),
	          std::vector<std::string>{"Invalid text size from video-service, defaulting to medium/32"});
	g_object_set(lo(1), "text-color", "red", NULL);
	expectChange(path, {{"TextColor", "red"}});
	g_object_set(lo(1), "text-background-color", "blue", NULL);
	expectChange(path, {{"TextBGColor", "blue"}});
	g_object_set(lo(1), "text-position", "bottom", NULL);
	expectChange(path, {{"Position", "bottom"}});

	// Turning one switch off while another stays on only changes the text.
	g_object_set(lo(1), "text-enabled", FALSE, NULL);
	expectChange(path, {{"Text", "%F %T"}});
	g_object_set(lo(1), "time-enabled", FALSE, NULL);
	expectChange(path, {{"Text", "%F"}});

	g_object_set(lo(1), "date-enabled", FALSE, NULL);
	Call remove = onlyCall();
	EXPECT_EQ(remove.member, "RemoveOverlay");
	EXPECT_EQ(remove.path, "/com/tovi/Overlay2");
	EXPECT_EQ(remove.args, (Pairs{{"overlay", path}}));
	EXPECT_EQ(remove.outcome, "");
	EXPECT_TRUE(daemon_->overlays().empty());

	g_object_set(lo(1), "text-color", "green", "date-enabled", FALSE, NULL);
	expectNoCall();

	// The one create after all that starts from the current settings.
	g_object_set(lo(1), "time-enabled", TRUE, NULL);
	Call again = onlyCall();
	EXPECT_EQ(again.member, "CreateLegacyTextOverlay");
	EXPECT_EQ(propOf(again.args, "Text"), "%T");
	EXPECT_EQ(propOf(again.args, "TextColor"), "green");
	EXPECT_EQ(propOf(again.args, "FontSize"), "32");
	EXPECT_NE(again.outcome, path);
	// The odd text size is still set: the create warns about it again.
	EXPECT_EQ(
	    log_.at(G_LOG_LEVEL_WARNING),
	    std::vector<std::string>(2, "Invalid text size from video-service, defaulting to medium/32"));
}

TEST_F(TandrelPlugin, ImageSwitchCreatesMovesAndRemovesTheImageOverlay)
{
	OWN_PROCESS();
	host_ = vs_host_new(1);
	load();

	g_object_set(lo(1), "overlay-x", 960, NULL);
	expectNoCall();
	EXPECT_EQ(countDebug("tandrel: overlay is not enabled, can not update overlay"), 1u);

	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	Call create = onlyCall();
	EXPECT_EQ(create.member, "CreateLegacyImageOverlay");
	EXPECT_EQ(propOf(create.args, "Position"), "0.00000,-1.00000");
	const std::string path = create.outcome;

	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	expectNoCall();

	// Either coordinate sends both.
	g_object_set(lo(1), "overlay-y", 540, NULL);
	expectChange(path, {{"Position", "0.00000,0.00000"}});
	g_object_set(lo(1), "overlay-x", 1920, NULL);
	expectChange(path, {{"Position", "1.00000,0.00000"}});

	// An empty area has no position: the overlay stays where it is.
	log_.clear();
	g_object_set(lo(1), "max-width", 0, NULL);
	g_object_set(lo(1), "overlay-x", 10, NULL);
	expectNoCall();
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING),
	          std::vector<std::string>{"tandrel: Refusing overlay position 10,540 in an area of 0x1080"});
	g_object_set(lo(1), "max-width", 1920, NULL);
	expectNoCall();

	g_object_set(host_, "overlay-path", "/tmp/other.bmp", NULL);
	expectChange(path, {{"OverlayPath", "/tmp/other.bmp"}});

	g_object_set(lo(1), "overlay-enabled", FALSE, NULL);
	Call remove = onlyCall();
	EXPECT_EQ(remove.member, "RemoveOverlay");
	EXPECT_EQ(remove.args, (Pairs{{"overlay", path}}));

	g_object_set(lo(1), "overlay-enabled", FALSE, NULL);
	g_object_set(host_, "overlay-path", "/tmp/third.bmp", NULL);
	g_object_set(lo(1), "overlay-y", 0, NULL);
	expectNoCall();
	EXPECT_TRUE(daemon_->overlays().empty());
}

TEST_F(TandrelPlugin, HostFormatChangesResendTheTextOfEveryTextOverlay)
{
	OWN_PROCESS();
	host_ = vs_host_new(2);
	g_object_set(lo(1), "text", "A", "text-enabled", TRUE, "time-enabled", TRUE, "overlay-enabled", TRUE,
	             NULL);
	g_object_set(lo(2), "text", "B", "text-enabled", TRUE, "time-enabled", TRUE, NULL);
	load();
	std::vector<Call> creates = daemon_->calls();
	ASSERT_EQ(creates.size(), 3u);
	const std::string image1 = creates[0].outcome, text1 = creates[1].outcome, text2 = creates[2].outcome;
	daemon_->clearCalls();

	auto expectTexts = [&](const std::string &t1, const std::string &t2) {
		std::vector<Call> calls = daemon_->calls();
		daemon_->clearCalls();
		ASSERT_EQ(calls.size(), 2u);
		EXPECT_EQ(calls[0].path, text1);
		EXPECT_EQ(calls[0].args, (Pairs{{"Text", t1}}));
		EXPECT_EQ(calls[1].path, text2);
		EXPECT_EQ(calls[1].args, (Pairs{{"Text", t2}}));
	};
	g_object_set(host_, "time-format", "12", NULL);
	expectTexts("A %r", "B %r");
	g_object_set(host_, "time-resolution", 2, NULL);
	expectTexts("A %I:%M:%S.%f %p", "B %I:%M:%S.%f %p");
	g_object_set(host_, "own-time-format", "%H h", "own-time-format-enabled", TRUE, NULL);
	daemon_->clearCalls();
	g_object_set(lo(2), "date-enabled", TRUE, NULL);
	expectChange(text2, {{"Text", "B %F %H h"}});
	g_object_set(host_, "date-format", "DD/MM/YYYY", NULL);
	expectTexts("A %H h", "B %d/%m/%Y %H h");

	// Only overlays that exist hear of host changes.
	g_object_set(lo(2), "text-enabled", FALSE, "time-enabled", FALSE, "date-enabled", FALSE, NULL);
	daemon_->clearCalls();
	g_object_set(host_, "time-format", "24", NULL);
	expectChange(text1, {{"Text", "A %H h"}});
	g_object_set(host_, "overlay-path", "/tmp/logo2.bmp", NULL);
	expectChange(image1, {{"OverlayPath", "/tmp/logo2.bmp"}});
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
}

TEST_F(TandrelPlugin, AFailedCreateCostsNoOtherChannelItsOverlays)
{
	OWN_PROCESS();
	host_ = vs_host_new(3);
	for (guint n = 1; n <= 3; n++)
		g_object_set(lo(n), "overlay-enabled", TRUE, NULL);
	g_object_set(lo(1), "time-enabled", TRUE, NULL);
	daemon_->failNext("CreateLegacyImageOverlay");
	load();

	std::vector<Call> calls = daemon_->calls();
	ASSERT_EQ(calls.size(), 4u);
	EXPECT_EQ(calls[0].outcome, "com.tovi.Overlay2.Error.Failed");
	std::vector<std::string> cameras;
	for (const Overlay &o : daemon_->overlays())
		cameras.push_back(o.kind + propOf(o.props, "Camera"));
	std::sort(cameras.begin(), cameras.end());
	EXPECT_EQ(cameras, (std::vector<std::string>{"image2", "image3", "text1"}));
	std::vector<std::string> warnings = log_.at(G_LOG_LEVEL_WARNING);
	ASSERT_EQ(warnings.size(), 3u);
	EXPECT_EQ(warnings[0], "tandrel: failed to recreate image-overlay for channel 1");
	EXPECT_EQ(warnings[1], "failed to connect to legacy-overlay notify");
	EXPECT_NE(warnings[2].find("injected failure"), std::string::npos) << warnings[2];
	daemon_->clearCalls();
	log_.clear();

	// Without an overlay there is nothing to move; switching on again creates it.
	g_object_set(lo(1), "overlay-x", 5, NULL);
	expectNoCall();
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING),
	          std::vector<std::string>{"tandrel: No image overlay of camera 1 to change"});
	g_object_set(lo(1), "overlay-enabled", FALSE, NULL);
	expectNoCall();
	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	EXPECT_EQ(onlyCall().member, "CreateLegacyImageOverlay");
}

TEST_F(TandrelPlugin, AFailedTextCreateIsRetriedByTheNextChange)
{
	OWN_PROCESS();
	host_ = vs_host_new(1);
	load();
	daemon_->failNext("CreateLegacyTextOverlay");
	g_object_set(lo(1), "time-enabled", TRUE, NULL);
	EXPECT_EQ(onlyCall().outcome, "com.tovi.Overlay2.Error.Failed");
	EXPECT_TRUE(daemon_->overlays().empty());
	log_.clear();

	// Another switch on: the overlay is made, with both switches' text.
	g_object_set(lo(1), "date-enabled", TRUE, NULL);
	Call create = onlyCall();
	EXPECT_EQ(create.member, "CreateLegacyTextOverlay");
	EXPECT_EQ(propOf(create.args, "Text"), "%F %T");
	EXPECT_EQ(create.outcome.empty(), false);
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
	g_object_set(lo(1), "text-color", "red", NULL);
	expectChange(create.outcome, {{"TextColor", "red"}});
}

// Handlers on two threads switching on the first two switches at once make
// one overlay between them, never two.
TEST_F(TandrelPlugin, SwitchesOnTwoThreadsMakeOneOverlay)
{
	OWN_PROCESS();
	host_ = vs_host_new(1);
	load();
	for (int round = 0; round < 20; round++) {
		SCOPED_TRACE(round);
		std::atomic<bool> go{false};
		auto flip = [&](const char *property) {
			while (!go.load()) {
			}
			g_object_set(lo(1), property, TRUE, NULL);
		};
		std::thread a(flip, "text-enabled");
		std::thread b(flip, "date-enabled");
		go.store(true);
		a.join();
		b.join();
		EXPECT_EQ(daemon_->callsOf("CreateLegacyTextOverlay").size(), 1u);
		EXPECT_EQ(daemon_->overlays().size(), 1u);
		g_object_set(lo(1), "text-enabled", FALSE, "date-enabled", FALSE, NULL);
		EXPECT_TRUE(daemon_->overlays().empty());
		daemon_->clearCalls();
	}
}

TEST_F(TandrelPlugin, AFailedRemoveKeepsTheOverlay)
{
	OWN_PROCESS();
	host_ = vs_host_new(1);
	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	load();
	const std::string path = daemon_->calls().at(0).outcome;
	daemon_->clearCalls();

	daemon_->failNext("RemoveOverlay");
	g_object_set(lo(1), "overlay-enabled", FALSE, NULL);
	EXPECT_EQ(onlyCall().outcome, "com.tovi.Overlay2.Error.Failed");
	ASSERT_EQ(log_.at(G_LOG_LEVEL_WARNING).size(), 1u);
	EXPECT_EQ(daemon_->overlays().size(), 1u);

	g_object_set(lo(1), "overlay-enabled", TRUE, NULL);
	expectNoCall();
	g_object_set(lo(1), "overlay-enabled", FALSE, NULL);
	Call remove = onlyCall();
	EXPECT_EQ(remove.args, (Pairs{{"overlay", path}}));
	EXPECT_EQ(remove.outcome, "");
	EXPECT_TRUE(daemon_->overlays().empty());
}

TEST_F(TandrelPlugin, AChannelWithoutLegacyOverlayIsSkipped)
{
	OWN_PROCESS();
	VsLegacyOverlay *second = vs_legacy_overlay_new();
	g_object_set(second, "overlay-enabled", TRUE, NULL);
	VsChannel *channels[] = {vs_channel_new(nullptr), vs_channel_new(second)};
	host_ = vs_host_new_with_channels(channels, 2);
	for (VsChannel *c : channels)
		g_object_unref(c);
	g_object_unref(second);
	load();

	EXPECT_EQ(
	    log_.at(G_LOG_LEVEL_WARNING),
	    std::vector<std::string>{"Could not connect to notifications from legacy-overlay on channel 1."});
	Call create = onlyCall();
	EXPECT_EQ(create.member, "CreateLegacyImageOverlay");
	EXPECT_EQ(propOf(create.args, "Camera"), "2");
}

TEST_F(TandrelPlugin, DaemonRestartRecreatesEveryOverlayOnce)
{
	OWN_PROCESS();
	host_ = vs_host_new(2);
	g_object_set(lo(1), "overlay-enabled", TRUE, "text", "One", "text-enabled", TRUE, NULL);
	g_object_set(lo(2), "date-enabled", TRUE, NULL);
	load();
	ASSERT_EQ(daemon_->callsOf("CreateLegacyImageOverlay").size() +
	              daemon_->callsOf("CreateLegacyTextOverlay").size(),
	          3u);

	bool owned = true;
	GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
	guint watch = g_bus_watch_name_on_connection(
	    bus, "com.tovi.Overlay2", G_BUS_NAME_WATCHER_FLAGS_NONE,
	    [](GDBusConnection *, const char *, const char *, gpointer d) { *static_cast<bool *>(d) = true; },
	    [](GDBusConnection *, const char *, gpointer d) { *static_cast<bool *>(d) = false; }, &owned,
	    nullptr);
	std::set<std::string> seen;
	for (const Overlay &o : daemon_->overlays())
		seen.insert(o.path);

	for (int round = 0; round < 2; round++) {
		SCOPED_TRACE(round);
		daemon_->clearCalls();
		daemon_->releaseNames();
		ASSERT_TRUE(spinUntil([&] { return !owned; }));
		drainMainContext();

		// While the daemon is away the plug-in listens to nothing.
		log_.clear();
		g_object_set(lo(1), "text", round ? "Three" : "Two", NULL);
		EXPECT_EQ(countDebug("tandrel: Received notification for 'text' property.\n"), 0u);

		daemon_->takeNames();
		waitForAppearance(1);
		std::vector<Call> calls = daemon_->calls();
		ASSERT_EQ(calls.size(), 3u);
		for (const Call &c : calls)
			EXPECT_NE(c.member, "RemoveOverlay");
		std::vector<Overlay> now = daemon_->overlays();
		ASSERT_EQ(now.size(), 3u);
		for (const Overlay &o : now) {
			EXPECT_TRUE(seen.insert(o.path).second) << "old path reused: " << o.path;
			if (o.kind == "text" && propOf(o.props, "Camera") == "1") {
				EXPECT_EQ(propOf(o.props, "Text"), round ? "Three" : "Two");
			}
		}

		// One notification, one call: no handler is left over from before.
		daemon_->clearCalls();
		g_object_set(lo(1), "overlay-x", 960, NULL);
		Call move = onlyCall();
		EXPECT_EQ(move.member, "SetProperties");
		EXPECT_EQ(move.outcome, "");
		g_object_set(host_, "date-format", round ? "YYYY-MM-DD" : "MM/DD/YYYY", NULL);
		std::vector<Call> texts = daemon_->calls();
		daemon_->clearCalls();
		ASSERT_EQ(texts.size(), 2u);
		for (const Call &c : texts) {
			EXPECT_EQ(c.member, "SetProperties");
			EXPECT_EQ(c.outcome, "");
		}
	}

	// A real restart: a new process with no memory of the old overlays.
	daemon_->stop();
	ASSERT_TRUE(spinUntil([&] { return !owned; }));
	log_.clear();
	daemon_->start();
	waitForAppearance(1);
	EXPECT_EQ(daemon_->calls().size(), 3u);
	EXPECT_EQ(daemon_->overlays().size(), 3u);
	daemon_->clearCalls();
	g_object_set(lo(2), "text-position", "top", NULL);
	EXPECT_EQ(onlyCall().outcome, "");

	g_bus_unwatch_name(watch);
	g_object_unref(bus);
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
}

} // namespace
