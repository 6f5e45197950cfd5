// What the overlay daemon is told: property names, positions, font sizes,
// composed text, change arguments and property conversion.
#include "log_capture.h"
#include "overlay_format.h"
#include "overlay_record.h"
#include "pairs.h"
#include "tandrel.h"
#include "vs_host.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{

std::string takeString(char *s)
{
	std::string out = s ? s : "<null>";
	g_free(s);
	return out;
}

// The pairs of a parameter tuple whose first member is the dictionary.
std::vector<Pair> paramPairs(GVariant *params)
{
	GVariant *dict = g_variant_get_child_value(params, 0);
	std::vector<Pair> out = pairsOf(dict);
	g_variant_unref(dict);
	return out;
}

class TandrelSettings : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		host_ = vs_host_new(1);
		lo_ = G_OBJECT(vs_host_get_legacy_overlay(host_, 0));
	}
	void TearDown() override
	{
		g_object_unref(host_);
		EXPECT_TRUE(log_.criticals().empty()) << log_.criticals().front();
	}

	VsHost *host_ = nullptr;
	GObject *lo_ = nullptr;
	LogCapture log_;
};

TEST(TandrelPropertyMap, MapsEveryVideoServicePropertyToItsOverlayName)
{
	const std::pair<const char *, const char *> expected[] = {
	    {"date-enabled", "DateEnabled"},
	    {"date-format", "DateFormat"},
	    {"overlay-enabled", "OverlayEnabled"},
	    {"overlay-path", "OverlayPath"},
	    {"overlay-x", "OverlayX"},
	    {"overlay-y", "OverlayY"},
	    {"own-date-format", "OwnDateFormat"},
	    {"own-time-format", "OwnTimeFormat"},
	    {"own-date-format-enabled", "OwnDateFormatEnabled"},
	    {"own-time-format-enabled", "OwnTimeFormatEnabled"},
	    {"text-enabled", "TextEnabled"},
	    {"text", "Text"},
	    {"text-background-color", "TextBackgroundColor"},
	    {"text-color", "TextColor"},
	    {"time-enabled", "TimeEnabled"},
	    {"time-format", "TimeFormat"},
	    {"text-position", "TextPosition"},
	    {"time-resolution", "TimeResolution"},
	    {"text-size", "TextSize"},
	};

	buildPropertyMap();
	buildPropertyMap(); // a second build keeps the one map
	EXPECT_EQ(propertyMapSize(), G_N_ELEMENTS(expected));
	for (const auto &e : expected)
		EXPECT_STREQ(overlayPropertyName(e.first), e.second) << e.first;
	EXPECT_EQ(overlayPropertyName("max-width"), nullptr);

	destroyPropertyMap();
	EXPECT_EQ(overlayPropertyName("text"), nullptr);
	EXPECT_EQ(propertyMapSize(), 0u);
}

struct PositionCase {
	int x, y, w, h;
	const char *expected;
};

class TandrelPosition : public TandrelSettings, public ::testing::WithParamInterface<PositionCase>
{
};

TEST_P(TandrelPosition, MapsPixelsOntoTheUnitSquare)
{
	const PositionCase &c = GetParam();
	GError *error = nullptr;

	g_object_set(lo_, "overlay-x", c.x, "overlay-y", c.y, "max-width", c.w, "max-height", c.h, NULL);
	EXPECT_EQ(takeString(positionString(lo_, &error)), c.expected);
	EXPECT_EQ(error, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, TandrelPosition,
                         ::testing::Values(PositionCase{0, 0, 1920, 1080, "-1.00000,-1.00000"},
                                           PositionCase{960, 540, 1920, 1080, "0.00000,0.00000"},
                                           PositionCase{1920, 1080, 1920, 1080, "1.00000,1.00000"},
                                           PositionCase{480, 810, 1920, 1080, "-0.50000,0.50000"},
                                           PositionCase{1, 3, 3, 7, "-0.33333,-0.14286"},
                                           PositionCase{1280, 0, 640, 480, "3.00000,-1.00000"},
                                           // Doubling must not wrap around to a negative coordinate.
                                           PositionCase{1200000000, 0, 1200000000, 1, "1.00000,-1.00000"}));

TEST_F(TandrelSettings, PositionRefusesAnEmptyArea)
{
	const int areas[][2] = {{0, 1080}, {1920, 0}, {0, 0}, {-1920, 1080}};

	for (const auto &a : areas) {
		GError *error = nullptr;

		g_object_set(lo_, "overlay-x", 10, "overlay-y", 10, "max-width", a[0], "max-height", a[1],
		             NULL);
		EXPECT_EQ(positionString(lo_, &error), nullptr) << a[0] << "x" << a[1];
		ASSERT_NE(error, nullptr);
		EXPECT_TRUE(g_error_matches(error, TANDREL_ERROR, TANDREL_ERROR_FAILED));
		g_error_free(error);
	}
}

TEST_F(TandrelSettings, FontSizeFromTextSize)
{
	const std::pair<const char *, const char *> table[] = {
	    {"small", "16"},
	    {"medium", "32"},
	    {"large", "48"},
	};
	for (const auto &t : table)
		EXPECT_STREQ(textSizeToFontSize(t.first), t.second) << t.first;
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());

	for (const char *odd : {"huge", "Small", ""}) {
		log_.clear();
		EXPECT_STREQ(textSizeToFontSize(odd), "32") << odd;
		EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING),
		          std::vector<std::string>{
		              "Invalid text size from video-service, defaulting to medium/32"});
	}
}

struct TextCase {
	const char *name;
	bool text, date, time;
	const char *dateFormat;
	const char *timeFormat;
	int resolution;
	const char *ownDate; // enables the own date format when set
	const char *ownTime;
	const char *expected;
};

class TandrelCompose : public TandrelSettings, public ::testing::WithParamInterface<TextCase>
{
};

TEST_P(TandrelCompose, BuildsTheTextLine)
{
	const TextCase &c = GetParam();

	g_object_set(lo_, "text", "Cam", "text-enabled", c.text, "date-enabled", c.date, "time-enabled",
	             c.time, NULL);
	g_object_set(host_, "date-format", c.dateFormat, "time-format", c.timeFormat, "time-resolution",
	             c.resolution, "own-date-format-enabled", c.ownDate != nullptr, "own-date-format",
	             c.ownDate ? c.ownDate : "", "own-time-format-enabled", c.ownTime != nullptr,
	             "own-time-format", c.ownTime ? c.ownTime : "", NULL);
	EXPECT_EQ(takeString(composeText(lo_, G_OBJECT(host_))), c.expected);
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TandrelCompose,
    ::testing::Values(
        TextCase{"all", true, true, true, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "Cam %F %T"},
        TextCase{"timeOnly", false, false, true, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "%T"},
        TextCase{"textTime", true, false, true, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "Cam %T"},
        TextCase{"textDate", true, true, false, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "Cam %F"},
        TextCase{"dateTime", false, true, true, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "%F %T"},
        TextCase{"textOnly", true, false, false, "YYYY-MM-DD", "24", 1, nullptr, nullptr, "Cam"},
        TextCase{"nothing", false, false, false, "YYYY-MM-DD", "24", 1, nullptr, nullptr, ""},
        TextCase{"weekday", false, true, false, "Www Mmm DD YYYY", "24", 1, nullptr, nullptr, "%a %b %e %Y"},
        TextCase{"us", false, true, false, "MM/DD/YYYY", "24", 1, nullptr, nullptr, "%m/%d/%Y"},
        TextCase{"eu", false, true, false, "DD/MM/YYYY", "24", 1, nullptr, nullptr, "%d/%m/%Y"},
        TextCase{"dotted", false, true, false, "YYYY.MM.DD Www", "24", 1, nullptr, nullptr, "%Y.%m.%d %a"},
        TextCase{"comma", false, true, false, "Www.Mmm DD, YYYY", "24", 1, nullptr, nullptr, "%a.%b %d, %Y"},
        TextCase{"dayFirst", false, true, false, "Www.DD.MM.YYYY", "24", 1, nullptr, nullptr, "%a.%d.%m.%Y"},
        TextCase{"twelve", false, false, true, "YYYY-MM-DD", "12", 1, nullptr, nullptr, "%r"},
        TextCase{"twelveFine", false, false, true, "YYYY-MM-DD", "12", 2, nullptr, nullptr, "%I:%M:%S.%f %p"},
        TextCase{"twentyFourFine", false, false, true, "YYYY-MM-DD", "24", 0, nullptr, nullptr, "%T.%f"},
        TextCase{"otherFormat", false, false, true, "YYYY-MM-DD", "", 1, nullptr, nullptr, "%T"},
        TextCase{"ownDate", true, true, true, "YYYY-MM-DD", "24", 1, "%d.%m.", nullptr, "Cam %d.%m. %T"},
        TextCase{"ownTime", false, true, true, "YYYY-MM-DD", "12", 2, nullptr, "%H h", "%F %H h"}),
    [](const ::testing::TestParamInfo<TextCase> &i) { return std::string(i.param.name); });

TEST_F(TandrelSettings, ComposeLeavesOutAnUnknownDateFormat)
{
	g_object_set(lo_, "text", "Cam", "text-enabled", TRUE, "date-enabled", TRUE, "time-enabled", TRUE,
	             NULL);
	g_object_set(host_, "date-format", "DD-MM-YY", NULL);
	EXPECT_EQ(takeString(composeText(lo_, G_OBJECT(host_))), "Cam %T");
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING), std::vector<std::string>{"Invalid date format 'DD-MM-YY'"});

	g_object_set(lo_, "text-enabled", FALSE, NULL);
	EXPECT_EQ(takeString(composeText(lo_, G_OBJECT(host_))), "%T");
	g_object_set(lo_, "time-enabled", FALSE, NULL);
	EXPECT_EQ(takeString(composeText(lo_, G_OBJECT(host_))), "");
}

TEST_F(TandrelSettings, VariantToString)
{
	GVariant *t = g_variant_ref_sink(g_variant_new_boolean(TRUE));
	GVariant *f = g_variant_ref_sink(g_variant_new_boolean(FALSE));
	GVariant *s = g_variant_ref_sink(g_variant_new_string("blue"));
	GVariant *i = g_variant_ref_sink(g_variant_new_int32(5));

	EXPECT_EQ(takeString(variantToString(t)), "true");
	EXPECT_EQ(takeString(variantToString(f)), "false");
	EXPECT_EQ(takeString(variantToString(s)), "blue");
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());
	EXPECT_EQ(variantToString(i), nullptr);
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING), std::vector<std::string>{"variant is of unknown type"});
	for (GVariant *v : {t, f, s, i})
		g_variant_unref(v);
}

// A host whose properties have other types than the stand-in's.
struct OddHost {
	GObject parent;
	guint x;
	guint64 resolution;
	gdouble size;
};
struct OddHostClass {
	GObjectClass parent;
};
G_DEFINE_TYPE(OddHost, odd_host, G_TYPE_OBJECT)

void odd_host_get(GObject *obj, guint id, GValue *v, GParamSpec *)
{
	OddHost *self = reinterpret_cast<OddHost *>(obj);
	if (id == 1)
		g_value_set_uint(v, self->x);
	else if (id == 2)
		g_value_set_uint64(v, self->resolution);
	else
		g_value_set_double(v, self->size);
}

void odd_host_class_init(OddHostClass *klass)
{
	GObjectClass *oc = G_OBJECT_CLASS(klass);
	const GParamFlags ro = G_PARAM_READABLE;

	oc->get_property = odd_host_get;
	g_object_class_install_property(oc, 1,
	                                g_param_spec_uint("overlay-x", NULL, NULL, 0, G_MAXUINT, 0, ro));
	g_object_class_install_property(
	    oc, 2, g_param_spec_uint64("time-resolution", NULL, NULL, 0, G_MAXUINT64, 0, ro));
	g_object_class_install_property(oc, 3, g_param_spec_double("text-size", NULL, NULL, 0, 100, 0, ro));
}

void odd_host_init(OddHost *self)
{
	self->x = 640;
	self->resolution = 1ull << 40;
	self->size = 1.5;
}

TEST_F(TandrelSettings, ReadsAChangedPropertyAsItsOverlayValue)
{
	struct Case {
		GObject *obj;
		const char *property;
		const char *name;
		const char *type;
		const char *printed;
	};
	g_object_set(lo_, "text-enabled", TRUE, "overlay-x", 320, "text-color", "red", NULL);
	GObject *odd = G_OBJECT(g_object_new(odd_host_get_type(), NULL));
	const Case cases[] = {
	    {lo_, "text-enabled", "TextEnabled", "b", "true"},
	    {lo_, "overlay-x", "OverlayX", "i", "320"},
	    {lo_, "text-color", "TextColor", "s", "'red'"},
	    {G_OBJECT(host_), "time-resolution", "TimeResolution", "i", "1"},
	    {odd, "overlay-x", "OverlayX", "i", "640"},
	    {odd, "time-resolution", "TimeResolution", "t", "1099511627776"},
	    {odd, "text-size", "TextSize", "s", "'1.500000'"},
	};

	buildPropertyMap();
	for (const Case &c : cases) {
		const char *name = nullptr;
		GVariant *value = nullptr;

		ASSERT_TRUE(getOverlayProperty(c.obj, c.property, &name, &value)) << c.property;
		EXPECT_STREQ(name, c.name);
		EXPECT_STREQ(g_variant_get_type_string(value), c.type) << c.property;
		EXPECT_EQ(takeString(g_variant_print(value, FALSE)), c.printed) << c.property;
		g_variant_unref(value);
	}
	EXPECT_TRUE(log_.at(G_LOG_LEVEL_WARNING).empty());

	const char *name = nullptr;
	GVariant *value = nullptr;
	EXPECT_FALSE(getOverlayProperty(lo_, "max-width", &name, &value));
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING), std::vector<std::string>{"tandrel:failed to get dbus name"});
	g_object_unref(odd);
	destroyPropertyMap();
}

class TandrelParams : public TandrelSettings
{
      protected:
	void SetUp() override
	{
		TandrelSettings::SetUp();
		g_object_set(lo_, "text", "Cam", "text-enabled", TRUE, "time-enabled", TRUE, NULL);
		record_ = overlayRecordNew(OVERLAY_TEXT, 2, lo_, G_OBJECT(host_));
	}
	void TearDown() override
	{
		overlayRecordUnref(record_);
		TandrelSettings::TearDown();
	}
	OverlayRecord *record_ = nullptr;
};

TEST_F(TandrelParams, OneChangeIsOnePair)
{
	const struct {
		const char *property;
		Pair sent;
	} table[] = {
	    {"DateEnabled", {"Text", "Cam %T"}},   {"Text", {"Text", "Cam %T"}},
	    {"TextEnabled", {"Text", "Cam %T"}},   {"TimeEnabled", {"Text", "Cam %T"}},
	    {"TextSize", {"FontSize", "v"}},       {"TextBackgroundColor", {"TextBGColor", "v"}},
	    {"TextPosition", {"Position", "v"}},   {"OverlayX", {"Position", "v"}},
	    {"OverlayY", {"Position", "v"}},       {"TextColor", {"TextColor", "v"}},
	    {"OverlayPath", {"OverlayPath", "v"}},
	};

	EXPECT_STREQ(record_->camera, "2");
	for (const auto &t : table) {
		GVariant *params = buildParams(record_, t.property, "v", nullptr);

		ASSERT_NE(params, nullptr) << t.property;
		g_variant_ref_sink(params);
		EXPECT_STREQ(g_variant_get_type_string(params), "(a{ss})");
		EXPECT_EQ(paramPairs(params), std::vector<Pair>{t.sent}) << t.property;
		g_variant_unref(params);
	}
}

TEST_F(TandrelParams, ChangesWithoutAnOverlayKeyFail)
{
	for (const char *property : {"DateFormat", "TimeResolution", "OverlayEnabled", "Bogus"}) {
		GError *error = nullptr;

		EXPECT_EQ(buildParams(record_, property, "v", &error), nullptr);
		ASSERT_NE(error, nullptr);
		EXPECT_TRUE(g_error_matches(error, TANDREL_ERROR, TANDREL_ERROR_NO_PARAMETER));
		EXPECT_EQ(std::string(error->message),
		          std::string("Failed to create_parameter for property ") + property);
		g_error_free(error);
	}
}

// Before any create succeeded there is no overlay to talk to: these fail
// without reaching the bus (there is none in this program).
TEST_F(TandrelParams, ChangesOfAMissingOverlayFail)
{
	GError *error = nullptr;

	EXPECT_FALSE(setTextProperty(record_, "TextColor", "red", &error));
	ASSERT_NE(error, nullptr);
	EXPECT_STREQ(error->message, "No text overlay of camera 2 to change");
	g_clear_error(&error);

	OverlayRecord *image = overlayRecordNew(OVERLAY_IMAGE, 1, lo_, G_OBJECT(host_));
	GVariant *x = g_variant_ref_sink(g_variant_new_int32(3));
	EXPECT_FALSE(setImageProperty(image, "OverlayX", x, &error));
	ASSERT_NE(error, nullptr);
	EXPECT_STREQ(error->message, "No image overlay of camera 1 to change");
	g_clear_error(&error);

	EXPECT_FALSE(setImageProperty(image, "TextColor", x, &error));
	EXPECT_TRUE(g_error_matches(error, TANDREL_ERROR, TANDREL_ERROR_NO_PARAMETER));
	g_clear_error(&error);

	EXPECT_FALSE(setImageProperty(image, "OverlayPath", x, &error));
	EXPECT_TRUE(g_error_matches(error, TANDREL_ERROR, TANDREL_ERROR_FAILED));
	EXPECT_EQ(log_.at(G_LOG_LEVEL_WARNING), std::vector<std::string>{"variant is of unknown type"});
	g_clear_error(&error);

	// Nothing exists, so there is nothing to remove: not a failure.
	EXPECT_TRUE(removeOverlay(image, &error));
	EXPECT_EQ(error, nullptr);
	g_variant_unref(x);
	overlayRecordUnref(image);
}

} // namespace
