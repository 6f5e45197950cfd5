// The ImageControl and VideoControl objects of the daemon as a process, on
// the private bus: what the objects declare (against goldens), the method
// handlers, the exposure reset a frequency write leaves for the next
// configuration hand-over, and power granted through the stand-in power
// service.
#include <algorithm>

#include "../../daemon_process.h"
#include "../../main_loop_pump.h"
#include "../../power_service.h"

namespace
{

std::string printed(GVariant *v)
{
	gchar *text = g_variant_print(v, TRUE);
	std::string s = text;
	g_free(text);
	g_variant_unref(v);
	return s;
}

bool contains(const std::string &text, const std::string &part)
{
	return text.find(part) != std::string::npos;
}

bool exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

std::string camera_config()
{
	camera_yaml_extra extra;
	extra.camera_mode = "CAMERA_MODE_SMART_LINEAR_VORSALIND";
	extra.legacy_api = "    capture_frequency_param: true\n"
	                   "    wdr_param: true\n"
	                   "    cto_param: true\n"
	                   "    tesmark7_sensor_params: true\n";
	extra.dbus_api = "  imagecontrol_stream_api_config:\n"
	                 "    ecm_params: true\n";
	return camera_yaml(extra);
}

const char *const kGlobal = "/com/tovi/ImageControl";
const char *const kStream0 = "/com/tovi/ImageControl/0/0";
const char *const kStream = "com.tovi.ImageControlStream";
const char *const kLegacy = "com.tovi.Configuration.Legacy";

// An object's own interfaces as the goldens write them: by name, then each
// member in declaration order with its signature, access and annotations.
std::string declared(const char *xml)
{
	GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(xml, nullptr);
	if (!node)
		return "(unparsable)";
	std::vector<GDBusInterfaceInfo *> interfaces;
	for (GDBusInterfaceInfo **in = node->interfaces; *in; in++)
		if (!g_str_has_prefix((*in)->name, "org.freedesktop."))
			interfaces.push_back(*in);
	std::sort(interfaces.begin(), interfaces.end(),
	          [](GDBusInterfaceInfo *a, GDBusInterfaceInfo *b) { return strcmp(a->name, b->name) < 0; });
	auto notes = [](GDBusAnnotationInfo **a) {
		std::string out;
		const char *deprecated = g_dbus_annotation_info_lookup(a, "org.freedesktop.DBus.Deprecated");
		const char *description =
		    g_dbus_annotation_info_lookup(a, "org.freedesktop.DBus.Description");
		if (deprecated)
			out += " deprecated";
		if (description)
			out += std::string(" \"") + description + "\"";
		return out;
	};
	auto args = [](GDBusArgInfo **list, const char *direction) {
		std::string out;
		for (GDBusArgInfo **a = list; a && *a; a++)
			out += std::string(out.empty() ? "" : ", ") +
			       (direction ? std::string(direction) + " " : "") + (*a)->signature + " " +
			       (*a)->name;
		return out;
	};
	std::string text;
	for (GDBusInterfaceInfo *in : interfaces) {
		text += std::string("interface ") + in->name + "\n";
		for (GDBusMethodInfo **m = in->methods; m && *m; m++) {
			std::string in_args = args((*m)->in_args, "in"),
			            out_args = args((*m)->out_args, "out");
			text += std::string("  method ") + (*m)->name + "(" + in_args +
			        (in_args.empty() || out_args.empty() ? "" : ", ") + out_args + ")" +
			        notes((*m)->annotations) + "\n";
		}
		for (GDBusSignalInfo **s = in->signals; s && *s; s++)
			text += std::string("  signal ") + (*s)->name + "(" + args((*s)->args, nullptr) +
			        ")" + notes((*s)->annotations) + "\n";
		for (GDBusPropertyInfo **p = in->properties; p && *p; p++) {
			bool r = (*p)->flags & G_DBUS_PROPERTY_INFO_FLAGS_READABLE;
			bool w = (*p)->flags & G_DBUS_PROPERTY_INFO_FLAGS_WRITABLE;
			text += std::string("  property ") + (*p)->name + " " + (*p)->signature + " " +
			        (r && w ? "readwrite"
			         : r    ? "read"
			                : "write") +
			        notes((*p)->annotations) + "\n";
		}
	}
	g_dbus_node_info_unref(node);
	return text;
}

class ImageControlProcess : public DaemonProcess
{
      protected:
	void SetUp() override
	{
		DaemonProcess::SetUp();
		configure(camera_config());
		write_file(root + "/run/vistrad/.keep", "");
		write_file(root + "/etc/legacyconfig/legacymappings.d/.keep", "");
		install_plugin();
		bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
		ASSERT_NE(nullptr, bus);
	}

	void TearDown() override
	{
		g_object_unref(bus);
		DaemonProcess::TearDown();
	}

	// The reply printed, or "<remote error name>: <message>".
	std::string call(const char *path, const char *interface, const char *method,
	                 GVariant *args = nullptr)
	{
		GError *error = nullptr;
		GVariant *r =
		    g_dbus_connection_call_sync(bus, service, path, interface, method, args, nullptr,
		                                G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, &error);
		if (r)
			return printed(r);
		gchar *remote = g_dbus_error_get_remote_error(error);
		g_dbus_error_strip_remote_error(error);
		std::string text = std::string(remote ? remote : "") + ": " + error->message;
		g_free(remote);
		g_error_free(error);
		return text;
	}

	std::string get(const char *path, const char *interface, const char *name)
	{
		return call(path, "org.freedesktop.DBus.Properties", "Get",
		            g_variant_new("(ss)", interface, name));
	}

	std::string set(const char *path, const char *interface, const char *name, GVariant *value)
	{
		return call(path, "org.freedesktop.DBus.Properties", "Set",
		            g_variant_new("(ssv)", interface, name, value));
	}

	std::string introspection(const char *path)
	{
		GVariant *r = g_dbus_connection_call_sync(
		    bus, service, path, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr,
		    G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, nullptr);
		if (!r)
			return "";
		const char *xml = nullptr;
		g_variant_get(r, "(&s)", &xml);
		std::string text = declared(xml);
		g_variant_unref(r);
		return text;
	}

	// Until the object carries the interface; the bound only keeps a
	// broken daemon from hanging the test.
	bool wait_for_interface(const char *path, const char *interface)
	{
		std::string line = std::string("interface ") + interface + "\n";
		return pump_until([&] { return contains(introspection(path), line); }, 30000);
	}

	const char *service = "com.tovi.ImageControl";
	GDBusConnection *bus = nullptr;
};

std::string golden(const char *name)
{
	return read_file(std::string(GOLDEN_DIR) + "/" + name);
}

TEST_F(ImageControlProcess, ObjectsDeclareWhatTheGoldensList)
{
	start();
	ASSERT_TRUE(wait_for_interface(kStream0, kStream)) << d->output();
	EXPECT_EQ(golden("imagecontrol_global.txt"), introspection(kGlobal));
	EXPECT_EQ(golden("imagecontrol_stream.txt"), introspection(kStream0));
	EXPECT_EQ(0, d->stop());
}

TEST_F(ImageControlProcess, HandlersAnswerForTheStream)
{
	start();
	ASSERT_TRUE(wait_for_interface(kStream0, kStream)) << d->output();
	const char *stream_error =
	    "org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControlStream.Code0: ";
	struct {
		const char *method;
		GVariant *args;
		std::string reply;
	} cases[] = {
	    {"ExposureWindowCoordinates", g_variant_new("(s)", "center"), "([0.25, 0.25, 0.75, 0.75],)"},
	    {"ExposureWindowCoordinates", g_variant_new("(s)", "nowhere"),
	     "org.gtk.GDBus.UnmappedGError.Quark._Parameter_20error.Code0: unrecognized exposure window "
	     "nowhere\n"},
	    {"GetSensorAspectRatio", nullptr, "(1920, 1080, 16, 9)"},
	    {"IrisFValue", g_variant_new("(i)", 50), std::string(stream_error) + "Stream id 0 has no iris"},
	    {"GetAvailableCaptureModes", nullptr, "(uint32 2, [uint32 1, 2], 1)"},
	    {"GetCaptureModeInfo", nullptr,
	     "([{'index': <uint32 0>, 'current': <true>, 'current_capture_frequency': <'50Hz'>, "
	     "'res_set_index': "
	     "<uint32 1>, 'res_set_name': <'1'>, 'max_fps_per_frequency': <@a{sv} {}>}, {'index': <uint32 "
	     "1>, "
	     "'current': <false>, 'res_set_index': <uint32 2>, 'res_set_name': <'2'>, "
	     "'max_fps_per_frequency': "
	     "<@a{sv} {}>}],)"},
	    {"SetStabilizerPause", g_variant_new("(b)", TRUE), "()"},
	    {"SetCaptureModeLazy", g_variant_new("(i)", 7),
	     std::string(stream_error) +
	         "dbus_set_capture_mode_lazy: Illegal CaptureMode 7 for stream_id 0\n"},
	};
	for (auto &c : cases)
		EXPECT_EQ(c.reply, call(kStream0, kStream, c.method, c.args)) << c.method;
	EXPECT_FALSE(exists(root + "/etc/vistrad/cml0"));

	// A lazy mode is stored for the next start, which the markers tell.
	EXPECT_EQ("()", call(kStream0, kStream, "SetCaptureModeLazy", g_variant_new("(i)", 2)));
	EXPECT_EQ("(<1>,)", get(kStream0, kStream, "CaptureMode"));
	EXPECT_TRUE(exists(root + "/etc/vistrad/cml0"));
	EXPECT_TRUE(exists(root + "/run/vistrad/cml"));

	// Hostile arguments get errors; the daemon goes on serving.
	std::string big(1 << 20, 'x');
	EXPECT_TRUE(
	    contains(call(kStream0, kStream, "ExposureWindowCoordinates", g_variant_new("(s)", big.c_str())),
	             "_Parameter_20error.Code0"));
	EXPECT_TRUE(contains(call(kStream0, kStream, "SetCaptureModeLazy", g_variant_new("(s)", "2")),
	                     "org.freedesktop.DBus.Error.InvalidArgs"));
	EXPECT_EQ("(<'1080p25'>,)", get(kStream0, kStream, "VideoCaptureMode"));

	// The .Properties methods over the stream's interfaces.
	GVariantBuilder names;
	g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
	g_variant_builder_add(&names, "s", "TNF");
	g_variant_builder_add(&names, "s", "StreamId");
	EXPECT_EQ("({'TNF': <100>, 'StreamId': <0>},)",
	          call(kStream0, "com.tovi.ImageControl.Properties", "GetProperties",
	               g_variant_new("(s@as)", kStream, g_variant_builder_end(&names))));
	GVariantBuilder pairs;
	g_variant_builder_init(&pairs, G_VARIANT_TYPE("a(sv)"));
	g_variant_builder_add(&pairs, "(sv)", "TNF", g_variant_new_int32(40));
	EXPECT_EQ("(true,)", call(kStream0, "com.tovi.ImageControl.Properties", "SetProperties",
	                          g_variant_new("(s@a(sv))", kStream, g_variant_builder_end(&pairs))));
	EXPECT_EQ("(<40>,)", get(kStream0, kLegacy, "TNF"));
	EXPECT_EQ("(<b'Camera'>,)", get(kStream0, kLegacy, "CameraName"));

	EXPECT_EQ(0, d->stop());
}

TEST_F(ImageControlProcess, FrequencyAndWdrWritesResetExposureAtTheNextHandOver)
{
	start();
	ASSERT_TRUE(wait_for_interface(kStream0, kStream)) << d->output();
	// The product's smart-linear camera mode has no fixed exposure.
	EXPECT_EQ("(<'no'>,)", get(kStream0, kStream, "FixedExposureAvailable"));

	// Each write runs the capture-mode step, which hands the configuration
	// over again: the reset runs then.
	struct {
		const char *property, *value;
	} writes[] = {{"CaptureFrequency", "60Hz"}, {"WDR", "off"}};
	for (const auto &w : writes) {
		EXPECT_EQ("()", set(kStream0, kLegacy, "ExposurePriorityNormal", g_variant_new_int32(70)));
		EXPECT_EQ("()",
		          set(kStream0, kLegacy, "ManualShutterControl", g_variant_new_bytestring("yes")));
		EXPECT_EQ("()", set(kStream0, kLegacy, "ManualGainControl", g_variant_new_bytestring("yes")));
		EXPECT_EQ("()", set(kStream0, kStream, w.property, g_variant_new_string(w.value)));
		EXPECT_TRUE(pump_until(
		    [&] { return get(kStream0, kLegacy, "ExposurePriorityNormal") == "(<0>,)"; }, 30000))
		    << w.property << "\n"
		    << d->output();
		EXPECT_EQ("(<b'no'>,)", get(kStream0, kLegacy, "ManualShutterControl")) << w.property;
		EXPECT_EQ("(<b'no'>,)", get(kStream0, kLegacy, "ManualGainControl")) << w.property;
	}
	EXPECT_EQ(0, d->stop());
}

TEST_F(ImageControlProcess, PowerIsGrantedThroughThePowerService)
{
	start();
	ASSERT_TRUE(wait_for_interface(kGlobal, "com.tovi.ImageControl.Power")) << d->output();
	// Nothing asked for yet.
	EXPECT_EQ("org.gtk.GDBus.UnmappedGError.Quark._com_2etovi_2eImageControl_2ePower.Code0: Could not "
	          "set power "
	          "to vistrad",
	          call(kGlobal, "com.tovi.ImageControl.Power", "SetPower", g_variant_new("(d)", 1.0)));
	EXPECT_EQ(0, d->stop());

	PowerService power;
	power.start();
	d = std::make_unique<Daemon>();
	start({}, {{"MOXEL_POWER", "16384"}});
	EXPECT_TRUE(d->wait_for("moxel: power granted 16384\n", 30000)) << d->output();
	EXPECT_TRUE(contains(testing::PrintToString(power.calls()), request_call("irc", "control", "1.0")));
	EXPECT_EQ(0, d->stop());
}

TEST_F(ImageControlProcess, VideoControlObjectsInVideoMode)
{
	service = "com.tovi.VideoControl";
	start({}, {{"VISTRAD_TEST_VIDEO_CONTROL", "1"}, {"VISTRAD_TEST_HOOKS", "1"}}, VISTRAD_HOOKED);
	const char *channel = "/com/tovi/VideoControl/1";
	ASSERT_TRUE(wait_for_interface(channel, "com.tovi.VideoControl")) << d->output();
	EXPECT_EQ(golden("videocontrol_global.txt"), introspection("/com/tovi/VideoControl"));
	EXPECT_EQ(golden("videocontrol_channel.txt"), introspection(channel));

	EXPECT_EQ("org.gtk.GDBus.UnmappedGError.Quark._VIDEOCONTROL_5fERROR.Code0: set_capture_mode_lazy: "
	          "could not "
	          "convert auto to any known CaptureMode\n",
	          call(channel, "com.tovi.VideoControl", "SetCaptureModeLazy", g_variant_new("(s)", "auto")));
	EXPECT_FALSE(exists(root + "/etc/vistrad/cml0"));
	EXPECT_EQ("()", call(channel, "com.tovi.VideoControl", "SetCaptureModeLazy",
	                     g_variant_new("(s)", "1080p25")));
	EXPECT_TRUE(exists(root + "/etc/vistrad/cml0"));
	EXPECT_EQ(0, d->stop());
}

} // namespace
