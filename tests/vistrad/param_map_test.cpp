#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/param_db.h"
#include "core/param_map.h"
#include "log_capture.h"

namespace
{

class ParamMap : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(0, param_map_init());
	}
	void TearDown() override
	{
		param_map_free();
	}
	LogCapture log;
};

TEST_F(ParamMap, HandCheckedRows)
{
	struct Row {
		uint32_t id;
		const char *name, *group, *key;
		uint32_t type;
		int32_t min, max, def;
		const char *def_text;
		bool saved, signal;
		const char *signal_name;
	};
	const Row rows[] = {
	    {1, "VistradPause", "VistradPause", "VistradPause", PARAM_TYPE_INT, 0, 1, 0, nullptr, false,
	     false, nullptr},
	    {3, "Brightness", "ImageSource.I0.Sensor", "Brightness", PARAM_TYPE_INT, 0, 100, 50, nullptr,
	     true, false, nullptr},
	    {13, "ExposurePriority", "ImageSource.I0.Sensor", "ExposurePriority", PARAM_TYPE_ENUM, 0, 2, 1,
	     nullptr, true, false, nullptr},
	    {17, "MaxExposureTime", "ImageSource.I0.Sensor", "MaxExposureTime", PARAM_TYPE_INT, -60, 2000000,
	     -1, nullptr, true, false, nullptr},
	    {22, "WBManualCoordX", "ImageSource.I0.Sensor", "CoordX", PARAM_TYPE_INT, 0, 9999, 5000, nullptr,
	     true, false, nullptr},
	    {39, "CaptureMode", "ImageSource.I0.Sensor", "CaptureMode", PARAM_TYPE_INT, 1, 6, 1, nullptr,
	     true, true, nullptr},
	    {44, "CalibrationTimeInterval", "ImageSource.I0.Sensor.Calibration", "TimeInterval",
	     PARAM_TYPE_INT, 0, 10000, 720, nullptr, true, false, nullptr},
	    {68, "Snr", "Snr", "Snr", PARAM_TYPE_INT, INT32_MIN, INT32_MAX, 0, nullptr, false, false,
	     nullptr},
	    {79, "IrisApertureOpen", "ImageSource.I0.Imaging", "IrisApertureOpen", PARAM_TYPE_FIX, 0, 1638400,
	     29491, nullptr, false, false, nullptr},
	    {98, "FocusWindow0", "ImageSource.I0.Focus.Window", "W0", PARAM_TYPE_STRING, 0, 0, 0,
	     "0,0:1,0:0,1:1,1", true, true, nullptr},
	    {105, "ProductMaxGain", "ImageSource.I0.Imaging", "ProductMaxGain", PARAM_TYPE_FIX, 16384,
	     1073741824, 2097152, nullptr, false, false, nullptr},
	    {108, "MaxFramerate", "MaxFramerate", "MaxFramerate", PARAM_TYPE_INT, 0, 180000, 30000, nullptr,
	     false, true, "MaxFramerateChanged"},
	    {116, "MinXOffset", "MinXOffset", "MinXOffset", PARAM_TYPE_INT, -4, -4, -4, nullptr, false, false,
	     nullptr},
	    {119, "MinYOffset", "MinYOffset", "MinYOffset", PARAM_TYPE_INT, -8, -8, -8, nullptr, true, false,
	     nullptr},
	    {144, "VideoStarted", "VideoStarted", "VideoStarted", PARAM_TYPE_BOOL, 0, 1, 0, nullptr, false,
	     true, nullptr},
	    {146, "ZoneTemperatures", "ZoneTemperatures", "ZoneTemperatures", PARAM_TYPE_STRING, 0, 0, 0, "",
	     false, false, nullptr},
	    {168, "CaptureModeLazy", nullptr, "CaptureModeLazy", PARAM_TYPE_INT, -1, 100, -1, nullptr, true,
	     false, nullptr},
	    {180, "LowLatencyMode", "LowLatencyMode", "LowLatencyMode", PARAM_TYPE_ENUM, 0, 1, 0, nullptr,
	     true, false, nullptr},
	};
	for (const Row &r : rows) {
		SCOPED_TRACE(r.name);
		const struct param_def *d = param_def(r.id);
		ASSERT_NE(nullptr, d);
		EXPECT_STREQ(r.name, d->name);
		EXPECT_STREQ(r.group, d->group);
		EXPECT_STREQ(r.key, d->key);
		EXPECT_EQ(r.type, d->type);
		EXPECT_EQ(r.min, d->min);
		EXPECT_EQ(r.max, d->max);
		if (r.type == PARAM_TYPE_STRING) {
			EXPECT_STREQ(r.def_text, d->def_text);
		} else {
			EXPECT_EQ(r.def, d->def);
		}
		EXPECT_EQ(r.saved, d->saved);
		EXPECT_EQ(r.signal, d->signal);
		EXPECT_STREQ(r.signal_name, d->signal_name);
	}
	const struct param_def *wb = param_def(21);
	EXPECT_STREQ("auto", wb->enum_names[0]);
	EXPECT_STREQ("onepush", wb->enum_names[14]);
	EXPECT_EQ(nullptr, wb->enum_names[15]);
	EXPECT_EQ(14, wb->max);
	EXPECT_STREQ("-90", param_def(106)->enum_names[param_def(106)->def]);
	EXPECT_STREQ("true", param_def(123)->enum_names[1]);
}

TEST_F(ParamMap, EveryRowResolvesEveryWay)
{
	std::set<uint32_t> ids;
	int rows = 0;
	for (int i = 0;; i++) {
		const struct param_def *row = param_def_by_index(i);
		ASSERT_NE(nullptr, row);
		if (row->id == 0) {
			EXPECT_EQ(179, i);
			break;
		}
		rows++;
		ids.insert(row->id);
		EXPECT_EQ(row, param_def(row->id)) << row->name;
		EXPECT_EQ(row, param_def_by_name(row->name)) << row->name;
		EXPECT_EQ(row, param_def_by_key(row->group, row->key)) << row->name;
		if (row->type == PARAM_TYPE_ENUM || row->type == PARAM_TYPE_BOOL) {
			for (int32_t v = row->min; v <= row->max; v++) {
				int32_t back = -1;
				EXPECT_EQ(0, param_map_convert_enum(row, row->enum_names[v], &back))
				    << row->name;
				EXPECT_EQ(v, back) << row->name;
				param_value rec = {row->id, -1, 0, row->type, v, nullptr};
				EXPECT_STREQ(row->enum_names[v], param_map_get_enum_name(&rec));
			}
		}
	}
	EXPECT_EQ(179, rows);
	EXPECT_EQ(179u, ids.size());
	EXPECT_EQ(0u, ids.count(2));
	EXPECT_EQ(nullptr, param_def_by_index(180));
	EXPECT_EQ(nullptr, param_def(2));
	EXPECT_EQ(nullptr, param_def(181));
	EXPECT_EQ(nullptr, param_def_by_name("NoSuchParameter"));
}

TEST_F(ParamMap, KeyLookupTakesTheFirstRowInTableOrder)
{
	EXPECT_EQ(39u, param_def_by_key(nullptr, "CaptureMode")->id);
	EXPECT_EQ(112u, param_def_by_key("ImageSource.I0.Video", "CaptureMode")->id);
	EXPECT_EQ(168u, param_def_by_key(nullptr, "CaptureModeLazy")->id);
	EXPECT_EQ(nullptr, param_def_by_key("ImageSource.I0", "CaptureModeLazy"));
	EXPECT_EQ(nullptr, param_def_by_key("ImageSource.I0.Video", "Brightness"));
}

TEST_F(ParamMap, ConvertEnumComparesExactly)
{
	int32_t value = -1;
	EXPECT_EQ(0, param_map_convert_enum(param_def(40), "50Hz", &value));
	EXPECT_EQ(1, value);
	log.clear();
	EXPECT_EQ(-1, param_map_convert_enum(param_def(40), "50hz", &value));
	EXPECT_EQ("param_map_convert_enum: did not find value 50hz for param CaptureFrequency\n", log.text());
	log.clear();
	EXPECT_EQ(-1, param_map_convert_enum(param_def(3), "50", &value));
	EXPECT_EQ(-1, param_map_convert_enum(nullptr, "50", &value));
	EXPECT_EQ(
	    "param_map_convert_enum: in parameters are bad\nparam_map_convert_enum: in parameters are bad\n",
	    log.text());
}

TEST_F(ParamMap, LookupBeforeInitScansWithAWarning)
{
	param_map_free();
	log.clear();
	const struct param_def *d = param_def(39);
	ASSERT_NE(nullptr, d);
	EXPECT_STREQ("CaptureMode", d->name);
	EXPECT_EQ(nullptr, param_def(2));
	EXPECT_EQ("param_def: no param_map_hash, param_map_init() should run\n"
	          "param_def: no param_map_hash, param_map_init() should run\n",
	          log.text());
}

TEST_F(ParamMap, DuplicatesReported)
{
	const struct param_def table[] = {
	    {5, "A", nullptr, "a", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
	    {6, "B", nullptr, "b", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
	    {5, "C", nullptr, "c", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
	    {7, "B", nullptr, "d", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
	    {0, nullptr, nullptr, nullptr, PARAM_TYPE_UNKNOWN, false, nullptr, nullptr, 0, 0, 0, nullptr,
	     false},
	};
	param_map_use_table(table);
	log.clear();
	EXPECT_EQ(-2, param_map_init());
	EXPECT_EQ("Param map: duplicate entries found for param_id 5 (C)\n"
	          "Param map: duplicate entries found for name B\n",
	          log.text());
	EXPECT_EQ(&table[2], param_def(5)); // the later row replaces the earlier
	EXPECT_EQ(&table[3], param_def_by_name("B"));
	param_map_use_table(nullptr);
	EXPECT_EQ(0, param_map_init());
}

} // namespace
