// The SoC sensor modules. Their capture modes, constants and configuration
// defaults are checked against data/sensor_modes.txt, parsed here; the
// camera library and the platform's video mode are replaced at link time by
// the fakes below, the library's AAA information coming from the simulated
// video driver.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "algostep/algo_cl_modules.h"
#include "core/control.h"
#include "core/param_db.h"
#include "core/param_map.h"
#include "core/prodconf.h"
#include "core/stream_map.h"
#include "libcl.h"
#include "log_capture.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/sensor_vorsalind.h"
#include "platform/videoinput.h"
#include "prodconf_builder.h"
#include "qvd_ioctl.h"
#include "simsoc_qvd.h"

// The library's record is the driver's, word for word.
static_assert(sizeof(vin_aaa_info) == sizeof(qvd_vin_aaa_info), "one record");
static_assert(offsetof(vin_aaa_info, line_time) == offsetof(qvd_vin_aaa_info, line_time), "line time");
static_assert(offsetof(vin_aaa_info, sht0_max) == offsetof(qvd_vin_aaa_info, sht_max), "shutter limits");

namespace
{

struct FakeLibcl {
	shutter_gain record;
	int get_calls, set_calls, deinit_calls, aaa_calls;
	bool get_fails, set_fails, aaa_fails, method_fails, black_fails;
	uint32_t method;
	libcl_black_level black;
} fake;

struct VideoModeCall {
	std::string name;
	uint32_t wdr;
	double fps;
	int32_t tuning;
	int channel;
};
std::vector<VideoModeCall> video_modes;
int video_mode_result;
bool framerate_accepted;
std::vector<double> framerates_set;

} // namespace

extern "C" {
int __wrap_libcl_get_shutter_and_gain(int channel, shutter_gain *sg)
{
	fake.get_calls++;
	if (fake.get_fails || channel != 0)
		return -1;
	*sg = fake.record;
	return 0;
}
int __wrap_libcl_set_shutter_and_gain(int channel, const shutter_gain *sg)
{
	fake.set_calls++;
	if (fake.set_fails || channel != 0)
		return -1;
	fake.record = *sg;
	return 0;
}
int __wrap_libcl_get_hdr_method(int channel, uint32_t *method)
{
	if (fake.method_fails || channel != 0)
		return -1;
	*method = fake.method;
	return 0;
}
int __wrap_libcl_get_black_level(int channel, libcl_black_level *level)
{
	if (fake.black_fails || channel != 0)
		return -1;
	*level = fake.black;
	return 0;
}
// As the camera library does: the driver's answer for the channel's source.
int __wrap_libcl_get_vin_aaa_info(int channel, vin_aaa_info *info)
{
	fake.aaa_calls++;
	if (fake.aaa_fails || channel != 0)
		return -1;
	int fd = open(QVD_DEVICE, O_RDWR);
	if (fd < 0)
		return -1;
	qvd_vin_aaa_info q;
	memset(&q, 0, sizeof(q));
	int r = ioctl(fd, QVD_IOC_VIN_GET_AAAINFO, &q);
	close(fd);
	if (r < 0)
		return -1;
	memcpy(info, &q, sizeof(q));
	return 0;
}
void __wrap_libcl_deinit(void)
{
	fake.deinit_calls++;
}
int __wrap_platform_set_tvx_mode(platform *, const tvx_mode *mode, int32_t tuning, int channel)
{
	video_modes.push_back({mode->name, mode->wdr_mode, mode->max_framerate, tuning, channel});
	return video_mode_result;
}
gboolean __wrap_videoinput_input_set_framerate(int, double framerate)
{
	framerates_set.push_back(framerate);
	return framerate_accepted;
}
} // extern "C"

std::ostream &operator<<(std::ostream &o, const prodconf_area &a)
{
	return o << "{" << a.xstart << "," << a.ystart << "," << a.xstop << "," << a.ystop << "}";
}

namespace
{

/* The fixture file ------------------------------------------------------- */

struct Window {
	int x0, y0, x1, y1;
	bool operator==(const prodconf_area &a) const
	{
		return x0 == a.xstart && y0 == a.ystart && x1 == a.xstop && y1 == a.ystop;
	}
};

struct ModeRow {
	int half; // 0 for 60 Hz, 1 for 50 Hz
	int mode;
	int wdr;
	int video_wdr;
	Window sensor, output;
	std::string name;
	double fps;
};

struct Model {
	std::string item;
	std::vector<std::pair<int, int>> wdr_rows; // (WDR flag, video WDR mode) a mode id
	std::vector<ModeRow> rows;
	Window full;
	std::map<std::string, std::string> defaults; // key -> default text, "" for none
};

struct Data {
	std::map<std::string, Model> models; // "AR0521", "IMX274", "OV2718"
	// label -> cells of common, AR0521, IMX274, OV2718
	std::map<std::string, std::vector<std::string>> constants;
	std::map<std::string, std::string> common_defaults; // key -> "required" or the default
};

std::string trim(const std::string &s)
{
	size_t a = s.find_first_not_of(' ');
	size_t b = s.find_last_not_of(' ');
	return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> cells(const std::string &line)
{
	std::vector<std::string> out;
	if (line.empty())
		return out;
	std::stringstream in(line.substr(1));
	std::string cell;
	while (std::getline(in, cell, '|'))
		out.push_back(trim(cell));
	return out;
}

Window window(const std::string &text)
{
	Window w{};
	EXPECT_EQ(4, sscanf(text.c_str(), "%d,%d,%d,%d", &w.x0, &w.y0, &w.x1, &w.y1)) << text;
	return w;
}

void add_rows(Model &m, int half, int mode, Window sensor, Window output, const std::string &name, double fps)
{
	for (auto &wv : m.wdr_rows)
		m.rows.push_back({half, mode, wv.first, wv.second, sensor, output, name, fps});
}

const ModeRow *first_row(const Model &m, int mode)
{
	for (const ModeRow &r : m.rows)
		if (r.mode == mode)
			return &r;
	return nullptr;
}

// The names between backticks, each with the text in the parentheses that
// follow it ("" without): "`tuning_id` (768), `sensor_map_gain`".
std::vector<std::pair<std::string, std::string>> ticked(const std::string &text)
{
	std::vector<std::pair<std::string, std::string>> out;
	for (size_t at = text.find('`'); at != std::string::npos; at = text.find('`', at)) {
		size_t end = text.find('`', at + 1);
		if (end == std::string::npos)
			break;
		std::string value;
		if (text.compare(end + 1, 2, " (") == 0)
			value = text.substr(end + 3, text.find(')', end) - end - 3);
		out.push_back({text.substr(at + 1, end - at - 1), value});
		at = end + 1;
	}
	return out;
}

// Every "x0,y0,x1,y1" of a text, not counting numbers written "2539, not".
std::vector<Window> windows_in(const std::string &text)
{
	std::vector<Window> out;
	for (size_t i = 0; i < text.size(); i++) {
		if (!isdigit((unsigned char)text[i]) ||
		    (i > 0 && (isdigit((unsigned char)text[i - 1]) || text[i - 1] == ',')))
			continue;
		size_t end = text.find_first_not_of("0123456789,", i);
		std::string run = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
		if (std::count(run.begin(), run.end(), ',') == 3 && run.back() != ',')
			out.push_back(window(run));
	}
	return out;
}

// "60 Hz: 30 (0,0,2591,1943 / 0,0,2591,1943, "2592x1944", 30.0), 109 (same
// windows, ...), ...; 50 Hz: 31 (as 30, 25.0), ..."
void parse_listed_modes(Model &m, const std::string &text)
{
	for (int half = 0; half < 2; half++) {
		size_t at = text.find(half == 0 ? "60 Hz: " : "50 Hz: ");
		ASSERT_NE(std::string::npos, at);
		size_t end = half == 0 ? text.find("; 50 Hz: ") : text.size();
		std::string part = text.substr(at + 7, end - at - 7);
		for (size_t open = part.find(" ("); open != std::string::npos;
		     open = part.find(" (", open + 1)) {
			size_t start = part.find_last_not_of("0123456789", open - 1) + 1;
			int mode = std::stoi(part.substr(start, open - start));
			size_t close = part.find(')', open);
			ASSERT_NE(std::string::npos, close);
			std::string body = part.substr(open + 2, close - open - 2);
			size_t last = body.find_last_not_of("0123456789.");
			double fps = std::stod(body.substr(last + 1));
			if (body.rfind("as ", 0) == 0) {
				const ModeRow *found = first_row(m, std::stoi(body.substr(3)));
				ASSERT_NE(nullptr, found) << body;
				ModeRow like = *found; // adding rows moves them
				add_rows(m, half, mode, like.sensor, like.output, like.name, fps);
				continue;
			}
			size_t quote = body.find('"');
			ASSERT_NE(std::string::npos, quote) << body;
			std::string name = body.substr(quote + 1, body.find('"', quote + 1) - quote - 1);
			std::vector<Window> windows = windows_in(body);
			if (body.find("same windows") != std::string::npos)
				windows = {m.rows.back().sensor, m.rows.back().output};
			else if (windows.size() == 1)
				windows.push_back(windows[0]);
			ASSERT_EQ(2u, windows.size()) << body;
			add_rows(m, half, mode, windows[0], windows[1], name, fps);
			open = close;
		}
	}
}

void parse_defaults(Data &d, const std::string &line)
{
	const std::string prefix = "`sensor_vorsalind_";
	size_t colon = line.find("`: ");
	if (line.rfind(prefix, 0) != 0 || colon == std::string::npos)
		return;
	std::string model = line.substr(prefix.size(), colon - prefix.size());
	for (auto &c : model)
		c = (char)toupper(c);
	Model &target = d.models[model];
	std::string rest = line.substr(colon + 3);
	if (rest.rfind("as AR0521", 0) == 0)
		target.defaults = d.models["AR0521"].defaults;
	for (auto &kv : ticked(rest))
		target.defaults[kv.first] = kv.second;
}

Data parse(const std::string &path)
{
	Data d;
	std::ifstream in(path);
	EXPECT_TRUE(in.good()) << path;
	std::vector<std::string> lines;
	for (std::string line; std::getline(in, line);)
		if (line.empty() || line[0] != '#')
			lines.push_back(line);
	for (size_t i = 0; i < lines.size(); i++) {
		const std::string &line = lines[i];
		std::string first = line.substr(0, line.find(' '));
		if (line.find(" table (") != std::string::npos &&
		    line.find(" rows a half") != std::string::npos) {
			Model &m = d.models[first];
			std::string heading = line.substr(0, line.find("):"));
			const std::string pair = "WDR flag ";
			for (size_t at = heading.find(pair); at != std::string::npos;
			     at = heading.find(pair, at + 1)) {
				int flag, video;
				if (sscanf(heading.c_str() + at, "WDR flag %d with video WDR mode %d", &flag,
				           &video) == 2)
					m.wdr_rows.push_back({flag, video});
			}
			if (m.wdr_rows.empty() && heading.find("as for AR0521") != std::string::npos)
				m.wdr_rows = d.models["AR0521"].wdr_rows;
			if (first != "AR0521") {
				parse_listed_modes(m, line.substr(line.find("): ") + 3));
				continue;
			}
			for (i++; i < lines.size() && (lines[i].empty() || lines[i][0] == '|'); i++) {
				std::vector<std::string> c = cells(lines[i]);
				if (c.size() < 6 || c[0].find(" Hz") == std::string::npos)
					continue;
				add_rows(m, c[0] == "60 Hz" ? 0 : 1, std::stoi(c[1]), window(c[2]),
				         window(c[3]), c[4].substr(1, c[4].size() - 2), std::stod(c[5]));
			}
			i--;
		} else if (line.rfind("Full pixel array", 0) == 0) {
			for (const char *model : {"AR0521", "IMX274", "OV2718"}) {
				size_t at = line.find(std::string(model) + " {");
				Window &w = d.models[model].full;
				EXPECT_NE(std::string::npos, at) << model;
				if (at == std::string::npos)
					continue;
				EXPECT_EQ(4, sscanf(line.c_str() + at + strlen(model) + 2, "%d, %d, %d, %d",
				                    &w.x0, &w.y0, &w.x1, &w.y1));
			}
		} else if (line.rfind("Model constants", 0) == 0) {
			for (i++; i < lines.size() && (lines[i].empty() || lines[i][0] == '|'); i++) {
				std::vector<std::string> c = cells(lines[i]);
				if (c.size() == 5 && !c[0].empty() && c[0] != "---")
					d.constants[c[0]] = {c[1], c[2], c[3], c[4]};
			}
			i--;
		} else if (line.rfind("`sensor_common_vorsalind`", 0) == 0) {
			for (i++; i < lines.size() && (lines[i].empty() || lines[i][0] == '|'); i++) {
				std::vector<std::string> c = cells(lines[i]);
				if (c.size() < 3 || c[0][0] != '`')
					continue;
				for (auto &kv : ticked(c[0]))
					d.common_defaults[kv.first] = c[2];
			}
			i--;
		} else {
			parse_defaults(d, line);
		}
	}
	d.models["AR0521"].item = "sensor_vorsalind_ar0521";
	d.models["IMX274"].item = "sensor_vorsalind_imx274";
	d.models["OV2718"].item = "sensor_vorsalind_ov2718";
	return d;
}

const Data &data()
{
	static const Data d = parse(SENSOR_FIXTURE);
	return d;
}

int32_t q14(double v)
{
	return (int32_t)floor(v * 16384.0 + 0.5);
}

// The first number of a cell or a default: "36045 (2.2)", "0 until ...", "42.0".
double number(const std::string &text)
{
	return strtod(text.c_str(), nullptr);
}

// "8304 / 231.25" -> its two numbers.
std::pair<double, double> number_pair(const std::string &text)
{
	size_t slash = text.find(" / ");
	EXPECT_NE(std::string::npos, slash) << text;
	return {number(text), number(text.substr(slash + 3))};
}

/* The daemon around a sensor --------------------------------------------- */

enum { P_MAX_FRAMERATE = 73, P_MIN_EXPOSURE = 71, P_PRODUCT_MAX_GAIN = 105 };

// The simulated board's line time in the driver's 1/512 us, and the
// exposures' longest shutters.
constexpr uint32_t LINE_TIME_WORD = 31 * 512;
constexpr uint32_t SHT0_MAX = 2200;
constexpr uint32_t SHT1_MAX = 140;

class SocSensor : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		memset(&fake, 0, sizeof(fake));
		fake.method = 1;
		video_modes.clear();
		video_mode_result = 0;
		framerate_accepted = true;
		framerates_set.clear();
		param_map_init();
		ASSERT_NE(nullptr, param_db_init());
		param_set_fix(P_PRODUCT_MAX_GAIN, -1, 128 * 16384);
		conf = prodconf_new();
		conf->add_item = prodconf_default_add_item;
		sensor_register_modules(conf);
		plat = platform_vorsalind_create(nullptr, conf, 2);
		engine = control_new(plat);
		simsoc_qvd_reset();
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin[0].line_time = LINE_TIME_WORD;
		b.vin[0].sht_max[0] = SHT0_MAX;
		b.vin[0].sht_max[1] = SHT1_MAX;
		ASSERT_EQ(0, simsoc_qvd_set_board(&b));
	}
	void TearDown() override
	{
		platform_destroy(plat);
		control_free(engine);
		prodconf_free(conf);
		param_db_free();
		param_map_free();
		stream_map_free();
		simsoc_qvd_reset();
	}
	// The item's section with its keys (each key's values), then the sensor
	// the registry makes of it for the stream, on the platform.
	sensor *make(const std::string &item,
	             const std::vector<std::pair<std::string, std::vector<std::string>>> &keys = {},
	             int32_t stream_id = 0)
	{
		prodconf_node *section = pc_section(conf, item.c_str());
		for (auto &kv : keys)
			pc_node(section, kv.first.c_str(), kv.second);
		auto *s = static_cast<sensor *>(prodconf_create_item(conf, engine, stream_id, item.c_str()));
		if (s) {
			EXPECT_EQ(s, platform_get_sensor_for_stream(plat, stream_id));
		}
		return s;
	}
	sensor *ar0521(const std::vector<std::pair<std::string, std::vector<std::string>>> &keys = {})
	{
		return make("sensor_vorsalind_ar0521", keys);
	}
	int32_t param(uint32_t id, int32_t stream_id)
	{
		int32_t value = -999;
		return param_get_int(id, stream_id, &value) == 0 ? value : -999;
	}
	// Long-first exposures on channel 0: frame 1, the long one, is stream 0
	// and frame 0 is stream 1.
	void dual_exposure()
	{
		stream_map_register(0, stream_map_new_dual_short_first);
	}
	// The sensor in a mode, with the video input's frame rate taken.
	void run(sensor *s, uint32_t mode, uint32_t wdr, double fps = 30.0)
	{
		ASSERT_EQ(0, sensor_set_capture_mode(s, mode, 0, wdr));
		sensor_update_framerate(s, 0, fps);
	}
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
	LogCapture log;
};

/* The fixture against the modules ----------------------------------------- */

TEST_F(SocSensor, FixtureHoldsEveryTable)
{
	const Data &d = data();
	EXPECT_EQ(28u, d.models.at("AR0521").rows.size());
	EXPECT_EQ(12u, d.models.at("IMX274").rows.size());
	EXPECT_EQ(12u, d.models.at("OV2718").rows.size());
	EXPECT_EQ(13u, d.constants.size());
	EXPECT_EQ(19u, d.common_defaults.size());
	EXPECT_EQ("768", d.models.at("AR0521").defaults.at("tuning_id"));
	EXPECT_EQ("36.0", d.models.at("OV2718").defaults.at("max_gain"));
	EXPECT_EQ("0.09375", d.models.at("OV2718").defaults.at("gain_step"));
	EXPECT_EQ(2539, d.models.at("IMX274").rows[4].output.x1);
}

// Which rows a model may select: the OV2718 only the WDR kinds its flags
// allow (by default its own, video WDR mode 4).
bool selectable(const Model &m, const ModeRow &r, bool use_2x = false)
{
	if (m.item != "sensor_vorsalind_ov2718" || r.video_wdr == 0)
		return true;
	return r.video_wdr == 1 ? use_2x : r.video_wdr == 4;
}

const ModeRow *expected_row(const Model &m, int mode, int wdr)
{
	for (const ModeRow &r : m.rows)
		if (r.mode == mode && r.wdr == wdr && selectable(m, r))
			return &r;
	return nullptr;
}

TEST_F(SocSensor, ModesAnswerAsTheTablesSay)
{
	for (auto &entry : data().models) {
		const Model &m = entry.second;
		SCOPED_TRACE(m.item);
		TearDown();
		SetUp();
		sensor *s = make(m.item);
		ASSERT_NE(nullptr, s);
		int32_t tuning = std::stoi(m.defaults.at("tuning_id"));
		for (const ModeRow &r : m.rows) {
			SCOPED_TRACE(std::to_string(r.mode) + "/" + std::to_string(r.wdr));
			const ModeRow *want = expected_row(m, r.mode, r.wdr);
			ASSERT_NE(nullptr, want);
			// Mode ids differ between the halves: the frequency asked does not count.
			video_modes.clear();
			s->capture_mode = -1;
			EXPECT_EQ(0,
			          sensor_set_capture_mode(s, (uint32_t)r.mode, 1 - r.half, (uint32_t)r.wdr));
			ASSERT_EQ(1u, video_modes.size());
			EXPECT_EQ(want->name, video_modes[0].name);
			EXPECT_EQ((uint32_t)want->video_wdr, video_modes[0].wdr);
			EXPECT_EQ(want->fps, video_modes[0].fps);
			EXPECT_EQ(tuning, video_modes[0].tuning);
			EXPECT_EQ(0, video_modes[0].channel);
			int whole = (int)want->fps;
			EXPECT_EQ(whole, sensor_get_max_fps(s));
			EXPECT_EQ(whole * 16384, sensor_get_current_fps(s));
			EXPECT_EQ(whole * 1000, param(P_MAX_FRAMERATE, -1));
			EXPECT_EQ(whole * 1000, param(P_MAX_FRAMERATE, 0));

			prodconf_area area[PRODCONF_AREA_WINDOWS] = {};
			EXPECT_EQ(
			    0, sensor_get_mode_info(s, area, (uint32_t)r.mode, r.half, (uint32_t)r.wdr, 0));
			EXPECT_TRUE(want->sensor == area[0]) << area[0];
			EXPECT_TRUE(m.full == area[1]) << area[1];
			for (int i = 2; i < 6; i++)
				EXPECT_TRUE(want->sensor == area[i]) << i << " " << area[i];
			EXPECT_TRUE(want->output == area[6]) << area[6];

			bool wdr = false;
			for (const ModeRow &o : m.rows)
				wdr = wdr || (o.mode == r.mode && o.wdr == 1 && selectable(m, o));
			EXPECT_EQ(wdr, sensor_mode_is_wdr(s, (uint32_t)r.mode) != 0);
			for (int half = 0; half < 2; half++) {
				const ModeRow *in_half = nullptr;
				for (const ModeRow &o : m.rows)
					if (!in_half && o.half == half && o.mode == r.mode)
						in_half = &o;
				EXPECT_EQ(in_half ? q14(in_half->fps) : -1,
				          sensor_get_mode_max_fps(s, (uint32_t)r.mode, half))
				    << "half " << half;
			}
		}
	}
}

// The cell of the model constants for a model: its column.
std::string constant(const std::string &label, int column)
{
	return data().constants.at(label).at(column);
}

// A value that a cell says comes from the configuration: the model's item
// default, or what the test configured for the generic module.
double configured(const std::map<std::string, std::string> &config, const std::string &key)
{
	auto it = config.find(key);
	EXPECT_NE(config.end(), it) << key;
	return it == config.end() ? 0 : number(it->second);
}

struct Column {
	const char *name;
	int column;
	const char *item;
};

TEST_F(SocSensor, ConstantsAsTheTableSays)
{
	// The generic module's required keys, with values of its own; its other
	// keys keep the defaults of its table.
	std::map<std::string, std::string> common = {
	    {"min_gain", "1.0"},    {"max_gain", "24.0"},    {"gain_step", "0.1875"},
	    {"min_ratio", "2.0"},   {"max_ratio", "16.0"},   {"max_fps", "25"},
	    {"pixel_pitch", "2.9"}, {"full_well_e", "9000"}, {"read_noise_e_min_gain", "3.5"},
	};
	for (auto &kv : data().common_defaults)
		if (kv.second != "required" && kv.second != "empty" && !common.count(kv.first))
			common[kv.first] = kv.second == "true" ? "1" : kv.second == "false" ? "0" : kv.second;

	const Column columns[] = {
	    {"common", 0, "sensor_common_vorsalind"},
	    {"AR0521", 1, "sensor_vorsalind_ar0521"},
	    {"IMX274", 2, "sensor_vorsalind_imx274"},
	    {"OV2718", 3, "sensor_vorsalind_ov2718"},
	};
	for (const Column &col : columns) {
		SCOPED_TRACE(col.name);
		TearDown();
		SetUp();
		bool generic = col.column == 0;
		std::map<std::string, std::string> config =
		    generic ? common : data().models.at(col.name).defaults;
		std::vector<std::pair<std::string, std::vector<std::string>>> keys;
		if (generic)
			for (auto &kv : common)
				if (kv.first != "capture_mode" && kv.first != "hdr_mode")
					keys.push_back({kv.first, {kv.second}});
		sensor *s = make(col.item, keys);
		ASSERT_NE(nullptr, s);
		auto cell = [&](const char *label) { return constant(label, col.column); };
		auto value = [&](const char *label, const char *key) {
			std::string c = cell(label);
			return c.rfind("config", 0) == 0 ? configured(config, key) : number(c);
		};

		EXPECT_EQ(27u, s->type);
		std::string gains = cell("min / max gain (dB, Q14)");
		double max_db =
		    gains == "config" ? configured(config, "max_gain") : number_pair(gains).second;
		double step = value("gain step (dB)", "gain_step");
		EXPECT_EQ(q14(step), s->gain_step);
		EXPECT_EQ((int)lround(max_db / step), sensor_get_gain_table_size(s));
		EXPECT_EQ(value("min exposure time (µs)", ""), sensor_get_min_exposure_time(s));
		EXPECT_EQ(value("max exposure time (µs)", "max_exposure_time"),
		          sensor_get_max_exposure_time(s));
		EXPECT_EQ(value("max fps", "max_fps"), sensor_get_max_fps(s));
		EXPECT_EQ(q14(number(cell("line time (µs)"))), sensor_get_line_time(s));
		std::string well = cell("full well e / full well ADU8");
		if (well == "config") {
			EXPECT_EQ(q14(configured(config, "full_well_e")), sensor_get_full_well(s));
			EXPECT_EQ(q14(configured(config, "full_well_adu_8")), sensor_get_full_well_adu8(s));
		} else {
			EXPECT_EQ(q14(number_pair(well).first), sensor_get_full_well(s));
			EXPECT_EQ(q14(number_pair(well).second), sensor_get_full_well_adu8(s));
		}
		int32_t noise = generic ? q14(configured(config, "read_noise_e_min_gain"))
		                        : q14(number(cell("read noise at min gain (e)")));
		EXPECT_EQ(noise, sensor_get_read_noise_min_gain(s));
		EXPECT_EQ(noise, sensor_get_read_noise(s));
		int32_t pitch = generic ? q14(configured(config, "pixel_pitch"))
		                        : (int32_t)number(cell("pixel pitch (µm, Q14)"));
		EXPECT_EQ(pitch, sensor_get_pixel_pitch(s));
		bool hdr =
		    generic ? configured(config, "hdr_available") != 0 : cell("HDR available") == "yes";
		EXPECT_EQ(hdr, s->hdr_available != 0);
		bool published = cell("`sensor_publish_limits` for stream -1 at creation") == "yes";
		EXPECT_EQ(published ? sensor_get_min_exposure_time(s) : -999, param(P_MIN_EXPOSURE, -1));

		// Linear: the private linear maximum, and a minimum ratio of 1.0.
		std::string priv = cell("private max exposure linear / WDR (µs)");
		double linear_max, wdr_max;
		if (generic) {
			linear_max = configured(config, "max_exposure_time");
			wdr_max = configured(config, "max_exposure_time_hdr");
		} else {
			linear_max = number_pair(priv).first;
			wdr_max = number_pair(priv).second;
		}
		uint32_t mode = generic ? 9 : (uint32_t)data().models.at(col.name).rows[0].mode;
		run(s, mode, 0);
		EXPECT_EQ(q14(31.0), sensor_get_line_time(s));
		EXPECT_EQ(linear_max, sensor_get_max_exposure_time(s));
		int32_t exposure[2] = {-5, -5}, ratio[2] = {-5, -5};
		EXPECT_EQ(0, sensor_get_exposure_limits(s, exposure, ratio));
		EXPECT_EQ(linear_max, exposure[0]);
		EXPECT_EQ(0, exposure[1]);
		EXPECT_EQ(16384, ratio[0]);
		EXPECT_EQ(-5, ratio[1]);

		// WDR: the longer of the private WDR maximum and a frame.
		run(s, mode, 1);
		int32_t fps = sensor_get_max_fps(s);
		EXPECT_EQ((int32_t)std::max(wdr_max, (double)(1000000 / fps)),
		          sensor_get_max_exposure_time(s));
		std::string ratios = cell("min / max ratio");
		double min_ratio =
		    ratios == "config" ? configured(config, "min_ratio") : number_pair(ratios).first;
		double max_ratio =
		    ratios == "config" ? configured(config, "max_ratio") : number_pair(ratios).second;
		EXPECT_EQ(0, sensor_get_exposure_limits(s, exposure, ratio));
		EXPECT_EQ(q14(min_ratio), ratio[0]);
		EXPECT_EQ(q14(max_ratio), ratio[1]);
		EXPECT_EQ((int32_t)ceil(31.0 * min_ratio), sensor_get_min_exposure_time(s));
		EXPECT_EQ((int32_t)lround(SHT0_MAX * 31.0), exposure[0]);
		EXPECT_EQ((int32_t)lround(SHT1_MAX * 31.0), exposure[1]);
	}
}

// Each required key of the generic module: without it there is no sensor.
TEST_F(SocSensor, GenericModuleNeedsItsRequiredKeys)
{
	std::map<std::string, std::string> all = {
	    {"min_gain", "1.0"},    {"max_gain", "24.0"},    {"gain_step", "0.1875"},
	    {"min_ratio", "2.0"},   {"max_ratio", "16.0"},   {"max_fps", "25"},
	    {"pixel_pitch", "2.9"}, {"full_well_e", "9000"}, {"read_noise_e_min_gain", "3.5"},
	};
	int required = 0;
	for (auto &kv : data().common_defaults) {
		if (kv.second != "required")
			continue;
		required++;
		SCOPED_TRACE(kv.first);
		TearDown();
		SetUp();
		std::vector<std::pair<std::string, std::vector<std::string>>> keys;
		for (auto &k : all)
			if (k.first != kv.first)
				keys.push_back({k.first, {k.second}});
		EXPECT_EQ(nullptr, make("sensor_common_vorsalind", keys));
		EXPECT_EQ(0, platform_get_sensor_count(plat, 0));
	}
	EXPECT_EQ((int)all.size(), required);
}

TEST_F(SocSensor, GainTablesFollowTheDecibelSteps)
{
	struct {
		const char *item;
		int32_t size;
	} models[] = {
	    {"sensor_vorsalind_ar0521", 448},
	    {"sensor_vorsalind_imx274", 480},
	    {"sensor_vorsalind_ov2718", 384},
	};
	for (auto &m : models) {
		SCOPED_TRACE(m.item);
		sensor *s = make(m.item, {}, 0);
		ASSERT_NE(nullptr, s);
		ASSERT_EQ(m.size, sensor_get_gain_table_size(s));
		const uint32_t *table = sensor_get_gain_table(s);
		for (int i = 0; i < m.size; i++) {
			double want = 16384.0 * pow(10.0, i * 0.09375 / 20.0);
			ASSERT_NEAR(want, table[i], want * 0.0002) << i;
			ASSERT_EQ((uint32_t)i, s->gain_index_table[i]);
		}
		EXPECT_EQ((int32_t)table[0], sensor_get_min_gain(s));
		EXPECT_EQ((int32_t)table[m.size - 1], sensor_get_max_gain(s));
		EXPECT_EQ(16384, sensor_get_min_gain(s));
		platform_remove_all_sensor(plat, 0);
	}
}

TEST_F(SocSensor, ConfigurationThatGivesNoGainTableIsRefused)
{
	for (const char *step : {"0", "-0.5", "0.0001"}) {
		SCOPED_TRACE(step);
		TearDown();
		SetUp();
		EXPECT_EQ(nullptr, ar0521({{"gain_step", {step}}, {"max_gain", {"42.0"}}}));
		EXPECT_NE(std::string::npos, log.text(DEBUG_ERROR).find("Sensor: ")) << log.text();
	}
	TearDown();
	SetUp();
	EXPECT_EQ(nullptr, make("sensor_vorsalind_imx274x"));
	EXPECT_EQ(nullptr, prodconf_create_item(conf, engine, 0, "sensor_vorsalind_imx274"));
}

/* Capture modes ------------------------------------------------------------- */

TEST_F(SocSensor, ModeLookups)
{
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	struct {
		uint32_t mode, frequency, wdr;
		int result;
		const char *name;
		uint32_t video_wdr;
		double fps;
	} rows[] = {
	    {32, 1, 0, 0, "2592x1944", 0, 20.0}, // in both halves: the 60 Hz row
	    {32, 0, 2, 0, "2592x1944", 1, 20.0}, // 2 is WDR as 1 is
	    {110, 0, 0, 0, "2592x1944", 0, 12.5}, {77, 0, 0, -1, nullptr, 0, 0},
	    {30, 0, 3, -1, nullptr, 0, 0},
	};
	for (auto &r : rows) {
		SCOPED_TRACE(r.mode);
		video_modes.clear();
		log.clear();
		EXPECT_EQ(r.result, sensor_set_capture_mode(s, r.mode, r.frequency, r.wdr));
		if (!r.name) {
			EXPECT_TRUE(video_modes.empty());
			EXPECT_EQ("Capture mode not supported (" + std::to_string(r.mode) + " " +
			              std::to_string(r.wdr) + ")\n",
			          log.text(DEBUG_ERROR));
			continue;
		}
		ASSERT_EQ(1u, video_modes.size());
		EXPECT_EQ(r.name, video_modes[0].name);
		EXPECT_EQ(r.video_wdr, video_modes[0].wdr);
		EXPECT_EQ(r.fps, video_modes[0].fps);
		EXPECT_EQ((int32_t)r.wdr, sensor_get_wdr_mode(s));
		EXPECT_EQ((int32_t)r.mode, s->get_capture_mode(s));
	}
	EXPECT_EQ(-1, sensor_get_mode_max_fps(s, 31, 0));
	EXPECT_EQ(25 * 16384, sensor_get_mode_max_fps(s, 31, 1));
	EXPECT_EQ(-1, sensor_get_mode_max_fps(s, 31, 2));
}

TEST_F(SocSensor, TwelveAndAHalfFramesPublishTwelve)
{
	pc_section(conf, "sensor_vorsalind_ar0521");
	sensor *s = static_cast<sensor *>(prodconf_create_item(conf, engine, 256, "sensor_vorsalind_ar0521"));
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(0, sensor_set_capture_mode(s, 110, 1, 0));
	ASSERT_EQ(1u, video_modes.size());
	EXPECT_EQ(1, video_modes[0].channel);
	EXPECT_EQ(12, sensor_get_max_fps(s));
	EXPECT_EQ(12 * 16384, sensor_get_current_fps(s));
	EXPECT_EQ(12000, param(P_MAX_FRAMERATE, 256));
	EXPECT_EQ(12000, param(P_MAX_FRAMERATE, -1));

	// The same mode and flag again: nothing to do.
	video_modes.clear();
	param_set_int(P_MAX_FRAMERATE, 256, 1000);
	EXPECT_EQ(0, sensor_set_capture_mode(s, 110, 0, 0));
	EXPECT_TRUE(video_modes.empty());
	EXPECT_EQ(1000, param(P_MAX_FRAMERATE, 256));

	// A refused video mode is reported, the sensor still follows the mode.
	video_mode_result = -1;
	EXPECT_EQ(-1, sensor_set_capture_mode(s, 30, 0, 0));
	EXPECT_EQ(30, sensor_get_max_fps(s));
	EXPECT_EQ(30, s->get_capture_mode(s));
}

TEST_F(SocSensor, Ov2718SelectsItsWdrByFlags)
{
	struct {
		const char *flag; // set to true
		int wdr_is_available;
		uint32_t video_wdr;
	} rows[] = {
	    {nullptr, 1, 4}, {"use_2x_wdr", 1, 1}, // the two-exposure row comes first
	};
	for (auto &r : rows) {
		SCOPED_TRACE(r.flag ? r.flag : "defaults");
		TearDown();
		SetUp();
		std::vector<std::pair<std::string, std::vector<std::string>>> keys;
		if (r.flag)
			keys.push_back({r.flag, {"true"}});
		sensor *s = make("sensor_vorsalind_ov2718", keys);
		ASSERT_NE(nullptr, s);
		EXPECT_EQ(r.wdr_is_available, sensor_mode_is_wdr(s, 9));
		EXPECT_EQ(0, sensor_set_capture_mode(s, 9, 0, 1));
		ASSERT_EQ(1u, video_modes.size());
		EXPECT_EQ(r.video_wdr, video_modes[0].wdr);
		EXPECT_EQ(1025, video_modes[0].tuning);
	}
	TearDown();
	SetUp();
	sensor *s = make("sensor_vorsalind_ov2718", {{"use_sensor_wdr", {"false"}}});
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(0, sensor_mode_is_wdr(s, 9));
	EXPECT_EQ(-1, sensor_set_capture_mode(s, 9, 0, 1));
	prodconf_area area[PRODCONF_AREA_WINDOWS] = {};
	EXPECT_EQ(-1, sensor_get_mode_info(s, area, 9, 0, 1, 0));
	EXPECT_EQ(0, sensor_get_mode_info(s, area, 9, 0, 0, 0));
}

TEST_F(SocSensor, GenericModuleKeepsWhatItIsTold)
{
	sensor *s = make("sensor_common_vorsalind", {{"min_gain", {"1.0"}},
	                                             {"max_gain", {"24.0"}},
	                                             {"gain_step", {"0.1875"}},
	                                             {"min_ratio", {"1.0"}},
	                                             {"max_ratio", {"16.0"}},
	                                             {"max_fps", {"25"}},
	                                             {"pixel_pitch", {"2.9"}},
	                                             {"full_well_e", {"9000"}},
	                                             {"read_noise_e_min_gain", {"3.5"}},
	                                             {"hdr_available", {"true"}}});
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(0, sensor_set_capture_mode(s, 12345, 1, 1));
	EXPECT_TRUE(video_modes.empty());
	EXPECT_EQ(12345, s->get_capture_mode(s));
	EXPECT_EQ(1, sensor_get_wdr_mode(s));
	EXPECT_EQ(1, sensor_mode_is_wdr(s, 1));
	EXPECT_EQ(-1, sensor_get_mode_max_fps(s, 12345, 0));
	prodconf_area area[PRODCONF_AREA_WINDOWS] = {};
	area[0] = {8, 6, 1927, 1085};
	area[6] = {1, 1, 1, 1};
	EXPECT_EQ(0, sensor_get_mode_info(s, area, 12345, 1, 1, 0));
	EXPECT_EQ(1927, area[6].xstop);
	EXPECT_EQ(8, area[6].xstart);
	EXPECT_EQ(0, area[1].xstop);
	EXPECT_EQ(0, sensor_setup(s, 0));
	// Its free leaves the camera library alone; the models' free ends it.
	int before = fake.deinit_calls;
	platform_remove_all_sensor(plat, 0);
	EXPECT_EQ(before, fake.deinit_calls);
	ASSERT_NE(nullptr, ar0521());
	platform_remove_all_sensor(plat, 0);
	EXPECT_EQ(before + 1, fake.deinit_calls);
}

TEST_F(SocSensor, RegistrationMakesSensorItems)
{
	for (const char *name : {"sensor_common_vorsalind", "sensor_vorsalind_ar0521",
	                         "sensor_vorsalind_imx274", "sensor_vorsalind_ov2718"}) {
		const prodconf_state *state = prodconf_lookup_state(conf, name);
		ASSERT_NE(nullptr, state) << name;
		EXPECT_EQ((uint32_t)PRODCONF_STATE_SENSOR, state->type);
	}
	// No registry operation: nothing registered.
	prodconf *bare = prodconf_new();
	sensor_register_modules(bare);
	EXPECT_EQ(nullptr, prodconf_lookup_state(bare, "sensor_vorsalind_ar0521"));
	// The algorithm table registers them while the configuration loads.
	bare->add_item = prodconf_default_add_item;
	algo_cl_register_modules(bare);
	EXPECT_NE(nullptr, prodconf_lookup_state(bare, "sensor_vorsalind_ov2718"));
	prodconf_free(bare);
}

/* Conversions ---------------------------------------------------------------- */

TEST_F(SocSensor, LinearConversionsClampToLinesAndExposureLimits)
{
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	run(s, 30, 0);
	EXPECT_EQ(31, sensor_get_min_exposure_time(s));
	EXPECT_EQ(200000, sensor_get_max_exposure_time(s));
	struct {
		int32_t us, lines;
	} to_lines[] = {{3100, 100}, {3115, 100}, {3116, 101}, {0, 1}, {-400, 1}, {2000000000, 555555}};
	for (auto &r : to_lines) {
		EXPECT_EQ(r.lines, sensor_exposure_to_lines(s, r.us)) << r.us;
		EXPECT_EQ(r.lines, sensor_exposure_to_lines_for_frame(s, r.us, 12)) << r.us;
	}
	struct {
		int32_t lines, us;
	} to_us[] = {{100, 3100}, {0, 31}, {10000, 200000}, {600000, 200000}};
	for (auto &r : to_us)
		EXPECT_EQ(r.us, sensor_lines_to_exposure(s, r.lines)) << r.lines;
}

TEST_F(SocSensor, WdrConversionsKeepTheFramesApart)
{
	dual_exposure();
	struct {
		const char *extend;
		uint32_t method;
		int32_t short_us, short_lines, long_us, long_lines;
	} rows[] = {
	    // frame 0 to [1, sht1_max], remembered; frame 1 below sht0_max less it
	    {"true", 1, 31 * 200, 140, 31 * 3000, 2200 - 140}, {"true", 1, 31 * 50, 50, 31 * 3000, 2200 - 50},
	    {"true", 4, 31 * 50, 50, 31 * 3000, 2200}, // method 4 reserves nothing
	    {"false", 1, 31 * 50, 50, 31 * 3000, 2200 - 140},  {"true", 1, 31 * 50, 50, 0, 1},
	};
	for (auto &r : rows) {
		SCOPED_TRACE(std::string(r.extend) + " " + std::to_string(r.short_us));
		TearDown();
		SetUp();
		dual_exposure();
		fake.method = r.method;
		sensor *s = ar0521({{"extend_2x_long_frame", {r.extend}}});
		ASSERT_NE(nullptr, s);
		run(s, 30, 1);
		EXPECT_EQ(r.short_lines, sensor_exposure_to_lines_for_frame(s, r.short_us, 1));
		EXPECT_EQ(r.long_lines, sensor_exposure_to_lines_for_frame(s, r.long_us, 0));
		EXPECT_EQ(-1, sensor_exposure_to_lines_for_frame(s, r.long_us, 2));
	}
	sensor *s = platform_get_sensor_for_stream(plat, 0);
	fake.method_fails = true;
	log.clear();
	EXPECT_EQ(-1, sensor_exposure_to_lines_for_frame(s, 3100, 0));
	EXPECT_EQ("Libcl can not get hdr method \n", log.text(DEBUG_WARNING));
}

// Which stream reaches which word of the camera library's record: the long
// exposure (frame 1, stream 0 of a long-first channel, the only frame when
// linear) is shutter[0] and gain[0].
TEST_F(SocSensor, RecordWordsOfEachStream)
{
	struct {
		const char *what;
		uint32_t wdr;
		std::function<int(sensor *)> call;
		shutter_gain want;
	} rows[] = {
	    {"linear shutter",
	     0,
	     [](sensor *s) { return sensor_set_shutter(s, 500, 0); },
	     {{500, 7}, {7, 7}, 7, 7, 7}},
	    {"long shutter",
	     1,
	     [](sensor *s) { return sensor_set_shutter(s, 500, 0); },
	     {{500, 7}, {7, 7}, 7, 7, 7}},
	    {"short shutter",
	     1,
	     [](sensor *s) { return sensor_set_shutter(s, 60, 1); },
	     {{7, 60}, {7, 7}, 7, 7, 7}},
	    {"shutters",
	     1,
	     [](sensor *s) {
		     const int32_t ids[2] = {1, 0}, lines[2] = {60, 2000};
		     return sensor_set_shutters(s, 2, ids, lines, nullptr);
	     },
	     {{2000, 63}, {7, 7}, 7, 7, 7}},
	    {"linear gain",
	     0,
	     [](sensor *s) {
		     const int32_t index[1] = {120}, ids[1] = {0};
		     return sensor_set_gains(s, 1, index, ids);
	     },
	     {{7, 7}, {120, 7}, 7, 7, 7}},
	    {"gains",
	     1,
	     [](sensor *s) {
		     const int32_t index[2] = {40, 120}, ids[2] = {1, 0};
		     return sensor_set_gains(s, 2, index, ids);
	     },
	     {{7, 7}, {120, 40}, 7, 7, 7}},
	};
	for (auto &r : rows) {
		SCOPED_TRACE(r.what);
		TearDown();
		SetUp();
		dual_exposure();
		sensor *s = ar0521();
		ASSERT_NE(nullptr, s);
		run(s, 30, r.wdr);
		fake.record = {{7, 7}, {7, 7}, 7, 7, 7};
		EXPECT_EQ(0, r.call(s));
		EXPECT_EQ(0, memcmp(&r.want, &fake.record, sizeof(shutter_gain)))
		    << fake.record.shutter[0] << " " << fake.record.shutter[1] << " " << fake.record.gain[0]
		    << " " << fake.record.gain[1];
	}
}

TEST_F(SocSensor, ShuttersKeepTheRatioWindow)
{
	dual_exposure();
	sensor *s = ar0521({{"min_ratio", {"2.0"}}});
	ASSERT_NE(nullptr, s);
	run(s, 30, 1);
	struct {
		int32_t short_lines, long_lines; // lines[0], lines[1]
		int32_t out_short, out_long;
	} rows[] = {
	    {60, 2000, 63, 2000},   // against the frame-0 lines before (1): ratio above 32, 2000 / 32
	    {100, 300, 100, 300},   // 300 / 63 lies in the window
	    {100, 150, 75, 150},    // 150 / 100 below 2: at most 150 / 2
	    {500, 3000, 140, 2200}, // sht1_max and sht0_max
	    {-5, -5, 1, 1},
	};
	for (auto &r : rows) {
		SCOPED_TRACE(r.short_lines);
		const int32_t ids[2] = {1, 0}, lines[2] = {r.short_lines, r.long_lines};
		int32_t out[2] = {};
		EXPECT_EQ(0, sensor_set_shutters(s, 2, ids, lines, out));
		EXPECT_EQ(r.out_short, out[0]);
		EXPECT_EQ(r.out_long, out[1]);
		EXPECT_EQ((uint32_t)r.out_long, fake.record.shutter[0]);
		EXPECT_EQ((uint32_t)r.out_short, fake.record.shutter[1]);
		int32_t got;
		ASSERT_EQ(0, s->get_shutter(s, 1, &got));
		EXPECT_EQ(r.out_short, got);
		ASSERT_EQ(0, s->get_shutter(s, 0, &got));
		EXPECT_EQ(r.out_long, got);
	}
	EXPECT_EQ(-1, sensor_set_shutters(s, 2, nullptr, nullptr, nullptr));
}

TEST_F(SocSensor, GainsAreRefusedOutsideTheTableAndFrames)
{
	dual_exposure();
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	run(s, 30, 1);
	struct {
		int count;
		int32_t index[2], ids[2];
	} bad[] = {
	    {0, {1, 1}, {0, 1}},   {1, {1, 1}, {0, 1}}, // WDR needs both
	    {2, {-1, 1}, {0, 1}},  {2, {1, 448}, {0, 1}},
	    {2, {448, 1}, {0, 1}}, {2, {1, 1}, {0, 2}}, // no third exposure in the record
	};
	for (auto &b : bad) {
		EXPECT_EQ(-1, sensor_set_gains(s, b.count, b.index, b.ids)) << b.count << " " << b.index[1];
	}
	EXPECT_EQ(0, fake.set_calls);
	// The record is channel 1's, which the library does not have; the
	// indexes are taken all the same.
	const int32_t index[2] = {447, 0}, ids[2] = {256, 257};
	EXPECT_EQ(-1, sensor_set_gains(s, 2, index, ids));
	EXPECT_EQ(447, sensor_get_gain_index(s, 0));
	EXPECT_EQ(0, sensor_get_gain_index(s, 1));
	EXPECT_EQ(0, sensor_get_gain_index(s, 257));
}

TEST_F(SocSensor, GainToRatioMapSetsTheMaximumRatio)
{
	struct {
		std::vector<std::string> gains, ratios;
		int32_t index;
		double ratio;
	} rows[] = {
	    {{"0", "12", "24"}, {"16", "8", "4"}, 64, 12.0}, // 6 dB
	    {{"0", "12", "24"}, {"16", "8", "4"}, 192, 6.0}, // 18 dB
	    {{"0", "12", "24"}, {"16", "8", "4"}, 0, 16.0},
	    {{"0", "12", "24"}, {"16", "8", "4"}, 400, 4.0},  // beyond the map
	    {{"10"}, {"5"}, 64, 32.0},                        // one entry: no line, the ratio stays
	    {{"0", "12", "24", "36"}, {"16", "8"}, 400, 8.0}, // as many entries as both have
	    {{"0", "12", "24", "36"}, {"16", "8"}, 64, 12.0},
	    {{}, {"16", "8"}, 64, 32.0},
	};
	for (auto &r : rows) {
		SCOPED_TRACE(r.index);
		TearDown();
		SetUp();
		dual_exposure();
		std::vector<std::pair<std::string, std::vector<std::string>>> keys = {
		    {"sensor_map_ratio", r.ratios}};
		if (!r.gains.empty())
			keys.push_back({"sensor_map_gain", r.gains});
		sensor *s = ar0521(keys);
		ASSERT_NE(nullptr, s);
		run(s, 30, 1);
		const int32_t index[2] = {r.index, 0}, ids[2] = {0, 1};
		EXPECT_EQ(0, sensor_set_gains(s, 2, index, ids));
		int32_t exposure[2], ratio[2];
		ASSERT_EQ(0, sensor_get_exposure_limits(s, exposure, ratio));
		EXPECT_EQ(q14(r.ratio), ratio[1]);
	}
}

TEST_F(SocSensor, BlackLevelIsTheMeanOfTheFrameStaticLevels)
{
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	fake.black.linear[0] = 100;
	fake.black.linear[1] = 102;
	fake.black.linear[2] = 98;
	fake.black.linear[3] = 101;
	fake.black.exposure[1][0] = -60;
	fake.black.exposure[1][1] = -61;
	fake.black.exposure[1][2] = -62;
	fake.black.exposure[1][3] = -64;
	fake.black.exposure[0][0] = 900;
	run(s, 30, 0);
	EXPECT_EQ(100, sensor_get_black_level(s));
	run(s, 30, 1);
	EXPECT_EQ(61, sensor_get_black_level(s));
	fake.black_fails = true;
	EXPECT_EQ(0, sensor_get_black_level(s));
}

TEST_F(SocSensor, LibraryFailuresKeepTheLinesTaken)
{
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	run(s, 30, 0);
	fake.record = {{7, 7}, {7, 7}, 7, 7, 7};
	fake.get_fails = true;
	EXPECT_EQ(-1, sensor_set_shutter(s, 500, 0));
	int32_t lines = 0;
	ASSERT_EQ(0, s->get_shutter(s, 0, &lines));
	EXPECT_EQ(500, lines);
	EXPECT_EQ(0, fake.set_calls);
	fake.get_fails = false;
	fake.set_fails = true;
	EXPECT_EQ(-1, sensor_set_shutter(s, 600, 0));
	EXPECT_EQ(7u, fake.record.shutter[0]);
	fake.set_fails = false;
	// A line count the conversion refused is no shutter.
	EXPECT_EQ(-1, sensor_set_shutter(s, -1, 0));
	EXPECT_EQ(7u, fake.record.shutter[0]);
	EXPECT_EQ(0, sensor_set_shutter(s, 600, 0));
	EXPECT_EQ(600u, fake.record.shutter[0]);
	// In WDR a stream that is neither frame has no shutter.
	dual_exposure();
	run(s, 30, 1);
	EXPECT_EQ(-1, sensor_set_shutter(s, 600, 2));
	EXPECT_EQ(-1, s->get_shutter(s, 2, &lines));
}

/* Frame rate ---------------------------------------------------------------- */

TEST_F(SocSensor, FrameRateUpdateFollowsTheVideoInput)
{
	sensor *s = ar0521({{"max_fps", {"20"}}});
	ASSERT_NE(nullptr, s);
	ASSERT_EQ(0, sensor_set_capture_mode(s, 30, 0, 1)); // 30 fps
	s->max_fps = 20;
	sensor_update_framerate(s, 0, 29.97);
	EXPECT_EQ(491028, sensor_get_current_fps(s)); // 29.97 x 16384, rounded
	EXPECT_EQ(31 * 16384, sensor_get_line_time(s));
	EXPECT_EQ(50000, sensor_get_max_exposure_time(s)); // a frame at 20 fps beats 40000
	EXPECT_EQ(31, sensor_get_min_exposure_time(s));

	// A line time of 30.2 us is rounded up to 31 for the shortest exposure.
	simsoc_qvd_board b;
	simsoc_qvd_default_board(&b);
	b.vin[0].line_time = 30 * 512 + 102;
	ASSERT_EQ(0, simsoc_qvd_set_board(&b));
	ASSERT_EQ(0, sensor_set_capture_mode(s, 30, 0, 0));
	sensor_update_framerate(s, 0, 25.0);
	EXPECT_EQ((30 * 512 + 102) * 32, sensor_get_line_time(s));
	EXPECT_EQ(31, sensor_get_min_exposure_time(s));
	EXPECT_EQ(200000, sensor_get_max_exposure_time(s));

	// A failed read changes only the frame rate; no line time keeps the old.
	fake.aaa_fails = true;
	sensor_update_framerate(s, 0, 12.5);
	EXPECT_EQ(12 * 16384 + 8192, sensor_get_current_fps(s));
	EXPECT_EQ((30 * 512 + 102) * 32, sensor_get_line_time(s));
	fake.aaa_fails = false;
	b.vin[0].line_time = 0;
	ASSERT_EQ(0, simsoc_qvd_set_board(&b));
	sensor_update_framerate(s, 0, 25.0);
	EXPECT_EQ((30 * 512 + 102) * 32, sensor_get_line_time(s));
	EXPECT_EQ(25 * 16384, sensor_get_current_fps(s));

	// A sensor of another kind is left alone.
	sensor *plain = sensor_new();
	sensor_update_framerate(plain, 0, 25.0);
	EXPECT_EQ(0, sensor_get_current_fps(plain));
	int32_t exposure[2], ratio[2];
	EXPECT_EQ(-1, sensor_get_exposure_limits(plain, exposure, ratio));
	sensor_free(plain);
}

TEST_F(SocSensor, FrameRateOperationSetsTheInputAndTheMaximum)
{
	sensor *s = ar0521();
	ASSERT_NE(nullptr, s);
	EXPECT_TRUE(sensor_vorsalind_set_framerate(s, 256, 29.97));
	EXPECT_EQ(30, sensor_get_max_fps(s));
	EXPECT_EQ(30000, param(P_MAX_FRAMERATE, 256));
	EXPECT_TRUE(sensor_vorsalind_set_framerate(s, 256, 24.9));
	EXPECT_EQ(24, sensor_get_max_fps(s));
	framerate_accepted = false;
	EXPECT_FALSE(sensor_vorsalind_set_framerate(s, 256, 15.0));
	EXPECT_EQ(24, sensor_get_max_fps(s));
	EXPECT_EQ(3u, framerates_set.size());
}

} // namespace
