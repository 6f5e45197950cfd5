#include <gtest/gtest.h>

#include <string.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "core/prodconf_schema_build.h"
#include "core/prodconf_tree.h"
#include "core/stream_map.h"
#include "log_capture.h"
#include "prodconf_builder.h"

namespace
{

std::vector<uint8_t> i32(std::vector<int32_t> v)
{
	std::vector<uint8_t> out(v.size() * 4);
	memcpy(out.data(), v.data(), out.size());
	return out;
}

std::vector<uint8_t> i64(int64_t v)
{
	std::vector<uint8_t> out(8);
	memcpy(out.data(), &v, 8);
	return out;
}

std::vector<uint8_t> f32(float v)
{
	std::vector<uint8_t> out(4);
	memcpy(out.data(), &v, 4);
	return out;
}

int test_function(prodconf *, control *, int32_t)
{
	return 0;
}

class Reader : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		conf = prodconf_new();
		section = pc_section(conf, "S");
		prodconf_add_constant(conf, "FOO", 7);
		prodconf_add_function(conf, "test_function", (prodconf_func)test_function);
		g_hash_table_insert(conf->macros, g_strdup("GAIN"), g_strdup("4"));
	}
	void TearDown() override
	{
		prodconf_free(conf);
	}

	LogCapture log;
	prodconf *conf = nullptr;
	prodconf_node *section = nullptr;
};

struct KindCase {
	const char *name;
	uint32_t kind;
	std::vector<std::string> values;
	bool range;
	int64_t min, max; // interpreted by the kind (fixed: raw 14-bit fraction)
	std::vector<uint8_t> bytes;
	const char *message; // expected in the log, or null for a quiet read
};

void set_range(prodconf_field *f, const KindCase &c)
{
	f->has_range = c.range;
	if (c.kind == PRODCONF_LONG) {
		f->min.i64 = c.min;
		f->max.i64 = c.max;
	} else if (c.kind == PRODCONF_FLOAT || c.kind == PRODCONF_FLOAT2) {
		f->min.f = (float)c.min;
		f->max.f = (float)c.max;
	} else {
		f->min.i32 = (int32_t)c.min;
		f->max.i32 = (int32_t)c.max;
	}
}

TEST_F(Reader, EveryFieldKindFromTextToBytes)
{
	const KindCase cases[] = {
	    {"hex", PRODCONF_INT, {"0x10"}, false, 0, 0, i32({16}), nullptr},
	    {"octal", PRODCONF_INT, {"010"}, false, 0, 0, i32({8}), nullptr},
	    {"negative", PRODCONF_INT, {"-3"}, false, 0, 0, i32({-3}), nullptr},
	    {"truncated",
	     PRODCONF_INT,
	     {"4294967297"},
	     false,
	     0,
	     0,
	     i32({1}),
	     "Key k seems to have a messed up value: '4294967297' != 1"},
	    {"beyond long",
	     PRODCONF_INT,
	     {"99999999999999999999"},
	     false,
	     0,
	     0,
	     i32({-1}),
	     "Key k seems to have a messed up value: '99999999999999999999' != -1"},
	    {"long beyond",
	     PRODCONF_LONG,
	     {"-99999999999999999999"},
	     false,
	     0,
	     0,
	     i64(INT64_MIN),
	     "Key k seems to have a messed up value: '-99999999999999999999' != -9223372036854775808"},
	    {"messy",
	     PRODCONF_INT,
	     {"5abc"},
	     false,
	     0,
	     0,
	     i32({5}),
	     "Key k seems to have a messed up value: '5abc' != 5"},
	    {"above",
	     PRODCONF_INT,
	     {"12"},
	     true,
	     0,
	     10,
	     i32({10}),
	     "Key k has value 12, should be within [0, 10]"},
	    {"below",
	     PRODCONF_INT,
	     {"-1"},
	     true,
	     0,
	     10,
	     i32({0}),
	     "Key k has value -1, should be within [0, 10]"},
	    {"macro", PRODCONF_INT, {"GAIN"}, false, 0, 0, i32({4}), nullptr},
	    {"long", PRODCONF_LONG, {"0x100000000"}, false, 0, 0, i64(4294967296LL), nullptr},
	    {"long range",
	     PRODCONF_LONG,
	     {"9"},
	     true,
	     0,
	     5,
	     i64(5),
	     "Key k has value 9, should be within [0, 5]"},
	    {"long messy",
	     PRODCONF_LONG,
	     {"7x"},
	     false,
	     0,
	     0,
	     i64(7),
	     "Key k seems to have a messed up value: '7x' != 7"},
	    {"third", PRODCONF_FIXED, {"1/3"}, false, 0, 0, i32({5461}), nullptr},
	    {"minus half", PRODCONF_FIXED, {"-1/2"}, false, 0, 0, i32({-8192}), nullptr},
	    {"by zero", PRODCONF_FIXED, {"1/0"}, false, 0, 0, i32({0}), nullptr},
	    {"decimal", PRODCONF_FIXED, {"1.5"}, false, 0, 0, i32({24576}), nullptr},
	    {"rounding", PRODCONF_FIXED, {"-0.00009"}, false, 0, 0, i32({-1}), nullptr},
	    {"saturated", PRODCONF_FIXED, {"131072"}, false, 0, 0, i32({INT32_MAX}), nullptr},
	    {"saturated low", PRODCONF_FIXED, {"-1e30"}, false, 0, 0, i32({INT32_MIN}), nullptr},
	    {"fixed range",
	     PRODCONF_FIXED,
	     {"2"},
	     true,
	     0,
	     16384,
	     i32({16384}),
	     "Key k has value 2.000000, should be within [0.000000, 1.000000]"},
	    {"fixed messy",
	     PRODCONF_FIXED,
	     {"1/4q"},
	     false,
	     0,
	     0,
	     i32({4096}),
	     "Key k seems to have a messed up value: '1/4q' != 0.250000"},
	    {"float", PRODCONF_FLOAT, {"0.25"}, false, 0, 0, f32(0.25f), nullptr},
	    {"float fraction", PRODCONF_FLOAT2, {"1/8"}, false, 0, 0, f32(0.125f), nullptr},
	    {"float above",
	     PRODCONF_FLOAT,
	     {"3"},
	     true,
	     0,
	     1,
	     f32(1.0f),
	     "Key k has value 3.000000, should be within [0.000000, 1.000000]"},
	    {"float below",
	     PRODCONF_FLOAT2,
	     {"-3"},
	     true,
	     0,
	     1,
	     f32(0.0f),
	     "Key k has value -3.000000, should be within [0.000000, 1.000000]"},
	    {"TRUE", PRODCONF_BOOL, {"TRUE"}, false, 0, 0, {1}, nullptr},
	    {"1", PRODCONF_BOOL, {"1"}, false, 0, 0, {1}, nullptr},
	    {"false", PRODCONF_BOOL, {"false"}, false, 0, 0, {0}, nullptr},
	    {"yes", PRODCONF_BOOL, {"yes"}, false, 0, 0, {0}, "Prodconf: key k has element yes (not bool?)"},
	    {"enum", PRODCONF_ENUM, {"FOO"}, false, 0, 0, i32({7}), nullptr},
	    {"unknown enum",
	     PRODCONF_ENUM,
	     {"BAR"},
	     false,
	     0,
	     0,
	     i32({-1}),
	     "Value BAR not found in enum_hash, setting -1"},
	    {"unknown function",
	     PRODCONF_FUNCTION,
	     {"nope"},
	     false,
	     0,
	     0,
	     std::vector<uint8_t>(8, 0),
	     "Value nope not found in function_hash, using NULL"},
	    {"stream id", PRODCONF_STREAM_ID, {"STREAM_ID"}, false, 0, 0, i32({0x102}), nullptr},
	    {"bad stream id",
	     PRODCONF_STREAM_ID,
	     {"junk"},
	     false,
	     0,
	     0,
	     i32({0x102}),
	     "Stream_id junk not recognized, using 258"},
	};
	for (const KindCase &c : cases) {
		SCOPED_TRACE(c.name);
		prodconf_node *node = pc_node(section, "k", c.values);
		prodconf_field f = prodconf_field_make("k", c.kind, PRODCONF_REQUIRED, 0);
		set_range(&f, c);
		uint8_t out[16];
		memset(out, 0xee, sizeof(out));
		log.clear();
		ASSERT_TRUE(prodconf_read_entry(conf, "S", &f, 0x102, out, nullptr));
		EXPECT_EQ(c.bytes, std::vector<uint8_t>(out, out + c.bytes.size()));
		EXPECT_EQ(0xee, out[c.bytes.size()]) << "wrote past the value";
		if (c.message)
			EXPECT_NE(std::string::npos, log.text().find(c.message)) << log.text();
		else
			EXPECT_EQ("", log.text());
		prodconf_node_unlink(node);
		prodconf_node_free(node);
	}
}

TEST_F(Reader, FunctionsAndTexts)
{
	pc_node(section, "fn", {"test_function"});
	pc_node(section, "name", {"GAIN"});
	pc_node(section, "names", {"a", "GAIN", "c"});
	prodconf_field fn = prodconf_field_make("fn", PRODCONF_FUNCTION, PRODCONF_REQUIRED, 0);
	prodconf_func got = nullptr;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &fn, 0, &got, nullptr));
	EXPECT_EQ((prodconf_func)test_function, got);

	prodconf_field text = prodconf_field_text("name", PRODCONF_REQUIRED, 0, nullptr);
	char *value = nullptr;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &text, 0, &value, nullptr));
	EXPECT_STREQ("4", value);
	g_free(value);

	text.key = "names";
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &text, 0, &value, nullptr));
	EXPECT_STREQ("a", value);
	EXPECT_NE(std::string::npos, log.text().find("Entry names expected only one string, and got 3"));
	g_free(value);

	char **values = nullptr;
	uint64_t count = 0;
	text.store_count = 1;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &text, 0, &values, &count));
	ASSERT_EQ(3u, count);
	EXPECT_STREQ("4", values[1]);
	g_strfreev(values);
}

TEST_F(Reader, ConversionHappensOnceWithTheFirstRange)
{
	pc_node(section, "k", {"12"});
	prodconf_field narrow = prodconf_field_make("k", PRODCONF_INT, PRODCONF_REQUIRED, 0);
	narrow.has_range = 1;
	narrow.max.i32 = 10;
	prodconf_field wide = narrow;
	wide.max.i32 = 20;
	int32_t v = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &narrow, 0, &v, nullptr));
	EXPECT_EQ(10, v);
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &wide, 0, &v, nullptr));
	EXPECT_EQ(10, v);

	prodconf_field other = prodconf_field_make("k", PRODCONF_BOOL, PRODCONF_REQUIRED, 0);
	log.clear();
	EXPECT_FALSE(prodconf_read_entry(conf, "S", &other, 0, &v, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: looking for entry k with type 5, but has 0"));
}

TEST_F(Reader, FixedCapacityAgainstDynamicArrays)
{
	pc_node(section, "k", {"1", "2", "3"});
	prodconf_field fixed = prodconf_field_make("k", PRODCONF_INT, PRODCONF_REQUIRED, 0);
	fixed.capacity = 2;
	int32_t two[2] = {};
	EXPECT_FALSE(prodconf_read_entry(conf, "S", &fixed, 0, two, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: entry k has only space for 2 elems, got 3"));

	prodconf_field dynamic = fixed;
	dynamic.dynamic = 1;
	int32_t *all = nullptr;
	uint64_t count = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &dynamic, 0, &all, &count));
	ASSERT_EQ(3u, count);
	EXPECT_EQ(3, all[2]);
	g_free(all);
}

TEST_F(Reader, EntryDefaultsAndFailures)
{
	int32_t v = 0;
	prodconf_field optional = prodconf_field_i32("absent", PRODCONF_INT, PRODCONF_OPTIONAL, 0, 42);
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &optional, 0, &v, nullptr));
	EXPECT_EQ(42, v);
	v = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "NOSECTION", &optional, 0, &v, nullptr));
	EXPECT_EQ(42, v);
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: unknown item NOSECTION"));

	prodconf_field required = prodconf_field_make("absent", PRODCONF_INT, PRODCONF_REQUIRED, 0);
	log.clear();
	EXPECT_FALSE(prodconf_read_entry(conf, "S", &required, 0, &v, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: could not get config for absent in item S"));

	prodconf_field obsolete = prodconf_field_make("old", PRODCONF_INT, PRODCONF_OBSOLETE, 0);
	EXPECT_TRUE(prodconf_read_entry(conf, "S", &obsolete, 0, &v, nullptr));
	pc_node(section, "old", {"1"});
	log.clear();
	EXPECT_TRUE(prodconf_read_entry(conf, "S", &obsolete, 0, &v, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: found obsolete entry old"));

	// A number given no value takes its default, as a text does.
	pc_node(section, "blank");
	prodconf_field blank = prodconf_field_i32("blank", PRODCONF_INT, PRODCONF_OPTIONAL, 0, 32);
	v = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &blank, 0, &v, nullptr));
	EXPECT_EQ(32, v);
	blank.kind = PRODCONF_STRING;
	blank.def.p = "text";
	char *text = nullptr;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &blank, 0, &text, nullptr));
	EXPECT_STREQ("text", text);
	g_free(text);

	prodconf_field structure = prodconf_field_make("old", PRODCONF_STRUCT, PRODCONF_REQUIRED, 0);
	log.clear();
	EXPECT_FALSE(prodconf_read_entry(conf, "S", &structure, 0, &v, nullptr));
	EXPECT_NE(std::string::npos,
	          log.text().find("local_get_entry: structures not handled by this function"));
}

// A module's settings: a fixed pair, a dynamic list, a text, a nested record.
struct inner {
	int32_t a;
	float b;
};

struct settings {
	int32_t pair[2];
	uint64_t pair_count;
	int32_t *list;
	uint64_t list_count;
	char *label;
	struct inner nested;
	uint8_t on;
};

const int32_t list_default[] = {9, 8, 7};

const prodconf_field inner_fields[] = {
    prodconf_field_make("a", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(inner, a)),
    [] {
	    prodconf_field f =
	        prodconf_field_make("b", PRODCONF_FLOAT, PRODCONF_OPTIONAL, offsetof(inner, b));
	    f.def.f = 0.5f;
	    return f;
    }(),
};
const prodconf_schema inner_schema = {"inner", sizeof(inner), inner_fields, 2};

const prodconf_field settings_fields[] = {
    [] {
	    prodconf_field f =
	        prodconf_field_make("pair", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(settings, pair));
	    f.capacity = 2;
	    f.store_count = 1;
	    f.count_offset = offsetof(settings, pair_count);
	    f.def.i32s[0] = 5;
	    f.def.i32s[1] = 6;
	    f.default_count = 2;
	    return f;
    }(),
    [] {
	    prodconf_field f =
	        prodconf_field_make("list", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(settings, list));
	    f.dynamic = 1;
	    f.count_offset = offsetof(settings, list_count);
	    f.def.p = list_default;
	    f.default_count = 3;
	    return f;
    }(),
    prodconf_field_text("label", PRODCONF_OPTIONAL, offsetof(settings, label), "none"),
    prodconf_field_struct("nested", PRODCONF_REQUIRED, offsetof(settings, nested), &inner_schema),
    prodconf_field_i32("on", PRODCONF_BOOL, PRODCONF_OPTIONAL, offsetof(settings, on), 1),
};
const prodconf_schema settings_schema = {"settings", sizeof(settings), settings_fields, 5};

void free_settings(settings *s)
{
	if (!s)
		return;
	g_free(s->list);
	g_free(s->label);
	g_free(s);
}

TEST_F(Reader, RecordTakesValuesAndDefaults)
{
	prodconf_node *rec = pc_node(section, "settings");
	pc_node(rec, "list", {"1", "2"});
	pc_node(pc_node(rec, "nested"), "a", {"3"});
	settings *s = nullptr;
	ASSERT_TRUE(prodconf_read_item(conf, &settings_schema, "S", 0, (void **)&s));
	EXPECT_EQ(5, s->pair[0]);
	EXPECT_EQ(6, s->pair[1]);
	EXPECT_EQ(2u, s->pair_count);
	ASSERT_EQ(2u, s->list_count);
	EXPECT_EQ(2, s->list[1]);
	EXPECT_STREQ("none", s->label);
	EXPECT_EQ(3, s->nested.a);
	EXPECT_EQ(0.5f, s->nested.b);
	EXPECT_EQ(1, s->on);
	free_settings(s);
}

// Nested records of both kinds, absent: their fields' own defaults fill them,
// whether the record itself is optional or required.
struct defaults_only {
	float b;
	int32_t c;
};
const prodconf_field defaults_only_fields[] = {
    [] {
	    prodconf_field f =
	        prodconf_field_make("b", PRODCONF_FLOAT, PRODCONF_OPTIONAL, offsetof(defaults_only, b));
	    f.def.f = 0.5f;
	    return f;
    }(),
    prodconf_field_i32("c", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(defaults_only, c), 7),
};
const prodconf_schema defaults_only_schema = {"defaults_only", sizeof(defaults_only), defaults_only_fields,
                                              2};

struct two_nested {
	defaults_only optional;
	defaults_only required;
};

TEST_F(Reader, AbsentNestedRecordsTakeTheirFieldsDefaults)
{
	for (uint32_t kind : {PRODCONF_STRUCT, PRODCONF_STRUCT2}) {
		SCOPED_TRACE(kind);
		prodconf_field optional = prodconf_field_struct(
		    "optional", PRODCONF_OPTIONAL, offsetof(two_nested, optional), &defaults_only_schema);
		prodconf_field required = prodconf_field_struct(
		    "required", PRODCONF_REQUIRED, offsetof(two_nested, required), &defaults_only_schema);
		optional.kind = required.kind = kind;
		const prodconf_field fields[] = {optional, required};
		const prodconf_schema schema = {"two_nested", sizeof(two_nested), fields, 2};
		prodconf_node *rec = pc_node(section, "two_nested");
		pc_node(rec, "unrelated", {"1"});
		two_nested *out = nullptr;
		ASSERT_TRUE(prodconf_read_item(conf, &schema, "S", 0, (void **)&out));
		EXPECT_EQ(0.5f, out->optional.b);
		EXPECT_EQ(7, out->optional.c);
		EXPECT_EQ(0.5f, out->required.b);
		EXPECT_EQ(7, out->required.c);
		g_free(out);
		prodconf_node_unlink(rec);
		prodconf_node_free(rec);
	}
}

// An enumeration constant names an exposure role, which the channel's stream
// map turns into the stream id of that role.
TEST_F(Reader, StreamIdOfARoleThroughTheStreamMap)
{
	stream_map_register(1, stream_map_new_dual_short_first);
	prodconf_add_constant(conf, "ROLE_SHORT", DUAL_EXPOSURE_STREAM_SHORT);
	prodconf_add_constant(conf, "ROLE_LONG", DUAL_EXPOSURE_STREAM_LONG);
	pc_node(section, "ids", {"ROLE_SHORT", "ROLE_LONG", "STREAM_ID"});
	prodconf_field f = prodconf_field_make("ids", PRODCONF_STREAM_ID, PRODCONF_REQUIRED, 0);
	f.capacity = 3;
	int32_t ids[3] = {};
	uint64_t count = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "S", &f, 256, ids, &count));
	EXPECT_EQ(3u, count);
	EXPECT_EQ(257, ids[0]);
	EXPECT_EQ(256, ids[1]);
	EXPECT_EQ(256, ids[2]);
	EXPECT_EQ("", log.text());
	stream_map_free();
}

TEST_F(Reader, MissingRequiredFieldFailsTheRecord)
{
	prodconf_node *rec = pc_node(section, "settings");
	pc_node(pc_node(rec, "nested"), "b", {"1"});
	settings *s = reinterpret_cast<settings *>(1);
	testing::internal::CaptureStderr();
	EXPECT_FALSE(prodconf_read_item(conf, &settings_schema, "S", 0, (void **)&s));
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(nullptr, s);
	EXPECT_NE(std::string::npos, err.find("Prodconf: inner could not get entry a (nbr 0)\n")) << err;
	EXPECT_NE(std::string::npos, err.find("Prodconf: settings could not get entry nested (nbr 3)\n"))
	    << err;

	log.clear();
	EXPECT_FALSE(prodconf_read_item(conf, &settings_schema, "MISSING", 0, (void **)&s));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: unknown item MISSING"));
}

struct point {
	int32_t x;
	int32_t y;
};
const prodconf_field point_fields[] = {
    prodconf_field_make("x", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(point, x)),
    prodconf_field_make("y", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(point, y)),
};
const prodconf_schema point_schema = {"points", sizeof(point), point_fields, 2};

prodconf_node *add_point(prodconf_node *parent, const char *x, const char *y)
{
	prodconf_node *p = pc_node(parent, nullptr);
	if (x)
		pc_node(p, "x", {x});
	if (y)
		pc_node(p, "y", {y});
	return p;
}

std::vector<std::pair<int, int>> read_points(prodconf *conf, bool *ok)
{
	point *pts = nullptr;
	size_t n = 0;
	*ok = prodconf_read_item_array(conf, &point_schema, "S", 0, (void **)&pts, &n);
	std::vector<std::pair<int, int>> out;
	for (size_t i = 0; i < n; i++)
		out.emplace_back(pts[i].x, pts[i].y);
	g_free(pts);
	return out;
}

TEST_F(Reader, ArraysWithDefaultAndArray)
{
	prodconf_node *points = pc_node(section, "points");
	pc_node(pc_node(points, "DEFAULT"), "y", {"100"});
	prodconf_node *array = pc_node(points, "ARRAY");
	add_point(array, "1", nullptr);
	add_point(array, "2", "3");
	bool ok;
	auto got = read_points(conf, &ok);
	ASSERT_TRUE(ok);
	EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 100}, {2, 3}}), got);
	EXPECT_EQ("", log.text());
}

TEST_F(Reader, ArraySetupConfusionReadsEveryChild)
{
	prodconf_node *points = pc_node(section, "points");
	pc_node(pc_node(points, "DEFAULT"), "y", {"100"}); // would lack x as an instance
	pc_node(points, "ARRAY");
	add_point(points, "1", "2");
	bool ok;
	read_points(conf, &ok);
	EXPECT_FALSE(ok);
	std::string text = log.text();
	EXPECT_NE(std::string::npos, text.find("Prodconf: confused by array setup for points\n)")) << text;
	EXPECT_NE(std::string::npos, text.find("          Use either DEFAULT + ARRAY with a dashed list\n"));
	EXPECT_NE(std::string::npos, text.find("          (Or only a dashed list of objects)\n"));
	EXPECT_NE(std::string::npos, text.find("          (Or one single struct)\n"));
	EXPECT_NE(std::string::npos, text.find("Prodconf: could not read struct with name points"));
}

TEST_F(Reader, PlainDashedListAndMissingArray)
{
	bool ok;
	read_points(conf, &ok);
	EXPECT_FALSE(ok);
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: did not find struct points in item S"));
	prodconf_node *points = pc_node(section, "points");
	add_point(points, "1", "2");
	add_point(points, "3", "4");
	auto got = read_points(conf, &ok);
	ASSERT_TRUE(ok);
	EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 2}, {3, 4}}), got);
}

struct path {
	point pts[2];
	uint64_t count;
};
const prodconf_field path_fields[] = {[] {
	prodconf_field f =
	    prodconf_field_make("points", PRODCONF_STRUCT_ARRAY, PRODCONF_REQUIRED, offsetof(path, pts));
	f.sub = &point_schema;
	f.capacity = 2;
	f.store_count = 1;
	f.count_offset = offsetof(path, count);
	return f;
}()};
const prodconf_schema path_schema = {"path", sizeof(path), path_fields, 1};

TEST_F(Reader, FixedArrayOfRecords)
{
	prodconf_node *points = pc_node(pc_node(section, "path"), "points");
	add_point(points, "1", "2");
	path *p = nullptr;
	ASSERT_TRUE(prodconf_read_item(conf, &path_schema, "S", 0, (void **)&p));
	EXPECT_EQ(1u, p->count);
	EXPECT_EQ(2, p->pts[0].y);
	g_free(p);

	add_point(points, "3", "4");
	add_point(points, "5", "6");
	testing::internal::CaptureStderr();
	EXPECT_FALSE(prodconf_read_item(conf, &path_schema, "S", 0, (void **)&p));
	testing::internal::GetCapturedStderr();
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: found 3 instances of points, maximum is 2"));
}

TEST_F(Reader, DumpWhenAsked)
{
	pc_node(section, "DUMP_CONFIG", {"true"});
	prodconf_node *rec = pc_node(section, "settings");
	pc_node(rec, "label", {"cam"});
	pc_node(rec, "list", {}); // no value: the default list
	prodconf_node *nested = pc_node(rec, "nested");
	pc_node(nested, "a", {"3"});
	pc_node(nested, "b", {"1/4"});
	settings *s = nullptr;
	ASSERT_TRUE(prodconf_read_item(conf, &settings_schema, "S", 0, (void **)&s));
	char head[128];
	snprintf(head, sizeof(head),
	         "\nGot struct settings as follows (size %zu bytes at %p):", sizeof(settings), (void *)s);
	std::string expected = std::string(head) + "\npair: 5 6 "
	                                           "\nlist: 9 8 7 "
	                                           "\nlabel: cam "
	                                           "\nnested: "
	                                           "\n    a: 3 "
	                                           "\n    b: 0.250000 "
	                                           "\non: true "
	                                           "\n";
	EXPECT_EQ(expected, log.text());
	free_settings(s);
}

TEST_F(Reader, ChildValuesJoinGroups)
{
	prodconf_node *p1 = pc_node(section, "Gain");
	pc_node(p1, "DEFAULT", {"3"});
	pc_node(p1, "VALID_VALUES", {"1", "3", "5"});
	prodconf_node *p2 = pc_node(section, "Gain");
	pc_node(p2, "DEFAULT", {"4"});
	pc_node(p2, "MIN", {"0"});
	char **names = nullptr;
	void **values = nullptr;
	uint64_t *counts = nullptr;
	size_t n = prodconf_get_child_values(conf, "S", "Gain", 0, PRODCONF_INT, &names, &values, &counts);
	ASSERT_EQ(3u, n);
	EXPECT_STREQ("DEFAULT", names[0]);
	EXPECT_STREQ("VALID_VALUES", names[1]);
	EXPECT_STREQ("MIN", names[2]);
	EXPECT_EQ(nullptr, names[3]);
	EXPECT_EQ(3, static_cast<int32_t *>(values[0])[0]);
	EXPECT_EQ(3u, counts[1]);
	EXPECT_EQ(5, static_cast<int32_t *>(values[1])[2]);
	for (size_t i = 0; i < n; i++)
		g_free(values[i]);
	g_free(values);
	g_free(counts);
	g_strfreev(names);
	EXPECT_EQ(0u,
	          prodconf_get_child_values(conf, "S", "Nope", 0, PRODCONF_INT, &names, nullptr, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: item S has no group(s) named Nope"));
}

TEST(ReaderDbusApi, RecordHasTheFixedLayout)
{
	LogCapture log;
	prodconf *conf = prodconf_new();
	prodconf_add_constant(conf, "LEGACY_TYPE_2", 0x01020304);
	prodconf_node *section = pc_section(conf, "DBUS_API_CONFIG");
	prodconf_node *q = pc_node(section, "qorex_legacy_api_config");
	for (const char *flag : {"tesmark6_sensor_params", "slave_to_param", "auto_rotation_param",
	                         "tesmark7_sensor_no_window_params"})
		pc_node(q, flag, {"true"});
	pc_node(q, "iris_params", {"false"});
	prodconf_node *v = pc_node(section, "video_legacy_api_config");
	pc_node(v, "video_legacy_api_type", {"LEGACY_TYPE_2"});
	pc_node(v, "src_rot_param", {"1"});
	pc_node(pc_node(section, "imagecontrol_stream_api_config"), "ecm_params", {"TRUE"});

	void *record = nullptr;
	ASSERT_TRUE(
	    prodconf_read_item(conf, &prodconf_dbus_api_config_schema, "DBUS_API_CONFIG", 0, &record));
	uint8_t expected[56] = {};
	expected[2] = 1;      // tesmark6_sensor_params
	expected[2 + 19] = 1; // slave_to_param
	expected[2 + 21] = 1; // auto_rotation_param, after the keyless byte
	expected[2 + 38] = 1; // tesmark7_sensor_no_window_params
	expected[44] = 0x04;  // video_legacy_api_type, little-endian
	expected[45] = 0x03;
	expected[46] = 0x02;
	expected[47] = 0x01;
	expected[49] = 1; // src_rot_param
	expected[52] = 1; // ecm_params
	EXPECT_EQ(0, memcmp(expected, record, sizeof(expected)));
	g_free(record);

	// The three sub-records are required, but all their flags are optional:
	// an absent one reads as its defaults.
	prodconf_node *ic = prodconf_find_child(conf, section, "imagecontrol_stream_api_config", 0);
	prodconf_node_unlink(ic);
	prodconf_node_free(ic);
	ASSERT_TRUE(
	    prodconf_read_item(conf, &prodconf_dbus_api_config_schema, "DBUS_API_CONFIG", 0, &record));
	expected[52] = 0;
	EXPECT_EQ(0, memcmp(expected, record, sizeof(expected)));
	g_free(record);
	prodconf_free(conf);
}

} // namespace
