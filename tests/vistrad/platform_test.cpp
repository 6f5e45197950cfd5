#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/fpga.h"
#include "log_capture.h"
#include "optics/camblock.h"
#include "optics/focus_zoom.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/light_sensor.h"
#include "platform/datacache.h"
#include "platform/platform_vorsalind.h"
#include "platform/quillvane.h"
#include "platform/sensor.h"
#include "platform/serial_link.h"
#include "platform/stabilizer.h"

namespace
{

struct prodconf_stub {
	int unused;
} conf_stub;

prodconf *conf()
{
	return reinterpret_cast<prodconf *>(&conf_stub);
}

std::vector<std::string> destroyed;

class Platform : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		destroyed.clear();
		p = platform_vorsalind_create(nullptr, conf(), 2);
		ASSERT_NE(nullptr, p);
	}
	void TearDown() override
	{
		platform_destroy(p);
	}
	LogCapture log;
	platform *p = nullptr;
};

TEST(PlatformChannel, StreamIdsNameChannels)
{
	struct {
		int32_t stream_id;
		int channel;
	} cases[] = {{-1, 0},     {-7, 0},     {0, 0},      {0x0001, 0}, {0x00ff, 0},
	             {0x0100, 1}, {0x0101, 1}, {0x07ff, 7}, {0x0800, 8}};
	for (auto &c : cases)
		EXPECT_EQ(c.channel, platform_stream_channel(c.stream_id)) << c.stream_id;
}

TEST(PlatformCreate, SlotsAndDefaults)
{
	EXPECT_EQ(nullptr, platform_vorsalind_create(nullptr, nullptr, 1));
	platform *p = platform_vorsalind_create(nullptr, conf(), 1);
	ASSERT_NE(nullptr, p);
	EXPECT_NE(nullptr, p->open);
	EXPECT_NE(nullptr, p->poll);
	EXPECT_EQ(nullptr, p->gpio_set);
	EXPECT_EQ(nullptr, p->gpio_get);
	EXPECT_EQ(0, p->ioctl(p, -1, 0, nullptr)); // request 0 makes no system call
	EXPECT_EQ(PLATFORM_OK, p->daynight_switch(p, 1, 0));
	EXPECT_EQ(1, p->channel_count);
	EXPECT_EQ(256u, p->curve.first);
	EXPECT_EQ(513u, p->curve.second);
	EXPECT_EQ(4095u, p->curve.max);
	EXPECT_EQ(1023u, p->curve.count);
	EXPECT_EQ(1022u * 128, p->curve.table[1022]);
	EXPECT_EQ(16384u, p->curve.unity);
	EXPECT_EQ(130944u, p->curve.top);
	EXPECT_EQ(PLATFORM_OK, platform_setup(p));
	EXPECT_EQ(-3, platform_setup(nullptr));
	platform_destroy(p);
	platform_destroy(nullptr);
}

// One row per device kind: how to make one, add it, get it, count it and
// whether its add puts the newest first.
struct Kind {
	const char *name;
	std::function<void *()> make;
	std::function<void(platform *, void *, int32_t)> add;
	std::function<void *(platform *, int32_t)> get;
	std::function<void *(platform *, int32_t, int)> nth;
	std::function<int(platform *, int32_t)> count; // null when the kind has none
	std::function<void(platform *, int32_t)> remove_all;
	std::function<platform *(void *)> owner;
	bool prepend;
};

#define KIND(T, make_expr, addf, getf, nthf, countf, removef, prepend)                                       \
	Kind                                                                                                 \
	{                                                                                                    \
#T, [] { return (void *)(make_expr); },                                                              \
            [](platform *p, void *d, int32_t s) { addf(p, static_cast<T *>(d), s); },                        \
            [](platform *p, int32_t s) { return (void *)getf(p, s); },                                       \
            [](platform *p, int32_t s, int n) { return (void *)nthf(p, s, n); }, countf,                     \
            [](platform *p, int32_t s) { removef(p, s); },                                                   \
            [](void *d) { return static_cast<T *>(d)->platform; }, prepend       \
	}

quillvane *new_quillvane()
{
	return g_new0(quillvane, 1);
}
serial_link *new_serial_link()
{
	return static_cast<serial_link *>(calloc(1, sizeof(serial_link)));
}

std::vector<Kind> kinds()
{
	return {
	    KIND(sensor, sensor_new(), platform_add_sensor, platform_get_sensor_for_stream,
	         platform_get_nth_sensor, platform_get_sensor_count, platform_remove_all_sensor, false),
	    KIND(ircut, ircut_new(), platform_add_ircut, platform_get_ircut, platform_get_nth_ircut,
	         platform_get_ircut_count, platform_remove_all_ircut, false),
	    KIND(light_sensor, light_sensor_new(), platform_add_light_sensor, platform_get_light_sensor,
	         platform_get_nth_light_sensor, platform_get_light_sensor_count,
	         platform_remove_all_light_sensor, false),
	    KIND(iris, iris_new(), platform_add_iris, platform_get_iris, platform_get_nth_iris,
	         platform_get_iris_count, platform_remove_all_iris, false),
	    KIND(focus_object, focus_new(), platform_add_focus, platform_get_focus, platform_get_nth_focus,
	         nullptr, platform_remove_all_focus, false),
	    KIND(zoom_object, zoom_new(), platform_add_zoom, platform_get_zoom, platform_get_nth_zoom,
	         nullptr, platform_remove_all_zoom, false),
	    KIND(camblock, camblock_new(), platform_add_camblock, platform_get_camblock,
	         platform_get_nth_camblock, nullptr, platform_remove_all_camblock, false),
	    KIND(stabilizer, stabilizer_new(), platform_add_stabilizer, platform_get_stabilizer,
	         platform_get_nth_stabilizer, nullptr, platform_remove_all_stabilizer, false),
	    KIND(datacache, datacache_new(), platform_add_datacache, platform_get_datacache,
	         platform_get_nth_datacache, platform_get_datacache_count, platform_remove_all_datacache,
	         true),
	    KIND(serial_link, new_serial_link(), platform_add_serial_link, platform_get_serial_link,
	         platform_get_nth_serial_link, nullptr, platform_remove_all_serial_link, true),
	    KIND(
	        quillvane, new_quillvane(), platform_add_quillvane, platform_get_quillvane,
	        [](platform *p, int32_t s, int n) { return n == 0 ? platform_get_quillvane(p, s) : nullptr; },
	        nullptr, platform_remove_all_quillvane, true),
	};
}

TEST_F(Platform, AddCountGetAndRemoveEveryKind)
{
	for (const Kind &k : kinds()) {
		SCOPED_TRACE(k.name);
		void *first = k.make();
		void *second = k.make();
		void *other = k.make();
		k.add(p, first, 0x0001); // channel 0
		k.add(p, second, -1);    // channel 0 too
		k.add(p, other, 0x0100); // channel 1
		EXPECT_EQ(p, k.owner(first));
		EXPECT_EQ(k.prepend ? second : first, k.get(p, 0));
		if (k.name != std::string("quillvane")) {
			EXPECT_EQ(k.prepend ? first : second, k.nth(p, 0, 1));
		}
		EXPECT_EQ(nullptr, k.nth(p, 0, 2));
		EXPECT_EQ(other, k.get(p, 0x0100));
		EXPECT_EQ(nullptr, k.get(p, 0x0200));
		if (k.count) {
			EXPECT_EQ(2, k.count(p, 0));
			EXPECT_EQ(1, k.count(p, 0x01ff));
		}
		k.remove_all(p, 0);
		EXPECT_EQ(nullptr, k.get(p, 0));
		if (k.count) {
			EXPECT_EQ(0, k.count(p, 0));
		}
		EXPECT_EQ(other, k.get(p, 0x0100));
		k.remove_all(p, 0x0100);
		EXPECT_EQ(nullptr, k.get(p, 0x0100));
	}
}

TEST_F(Platform, ChannelsOfEightOrMoreAreRefused)
{
	for (const Kind &k : kinds()) {
		SCOPED_TRACE(k.name);
		void *dev = k.make();
		log.clear();
		k.add(p, dev, 0x0800);
		EXPECT_NE(std::string::npos, log.text().find("channel 8")) << log.text();
		EXPECT_EQ(nullptr, k.get(p, 0x0800));
		EXPECT_EQ(nullptr, k.owner(dev));
		for (int c = 0; c < PLATFORM_CHANNELS; c++)
			EXPECT_EQ(nullptr, k.get(p, c << 8));
		k.add(p, dev, 0x0700);
		k.remove_all(p, 0x0700);
	}
	EXPECT_EQ(nullptr, platform_get_sensor_for_stream(nullptr, 0));
	EXPECT_EQ(0, platform_get_sensor_count(nullptr, 0));
}

TEST_F(Platform, NullIrisAndIrcutWarn)
{
	EXPECT_EQ(-3, platform_add_iris(p, nullptr, 0));
	platform_add_ircut(p, nullptr, 0);
	EXPECT_EQ("Failed to add iris to platform.\nFailed to add ircut to platform.\n", log.text());
	EXPECT_EQ(0, platform_get_iris_count(p, 0));
	EXPECT_EQ(0, platform_get_ircut_count(p, 0));
	iris *i = iris_new();
	EXPECT_EQ(-4, platform_add_iris(p, i, 0)); // the SoC registers nothing, but the list holds it
	EXPECT_EQ(i, platform_get_iris(p, 0));
}

int iris_removals;

void count_iris_removal(platform *, iris *)
{
	iris_removals++;
}

void note_serial_destroy(serial_link *, int32_t stream_id)
{
	destroyed.push_back("serial_link:" + std::to_string(stream_id));
}

TEST_F(Platform, RemovalHooksAndDestroyArguments)
{
	iris_removals = 0;
	p->iris_remove_hook = count_iris_removal;
	iris *closed = iris_new();
	iris *open = iris_new();
	open->device = 3;
	platform_add_iris(p, closed, 0);
	platform_add_iris(p, open, 0);
	platform_remove_all_iris(p, 0);
	EXPECT_EQ(1, iris_removals);

	serial_link *link = new_serial_link();
	link->destroy = note_serial_destroy;
	platform_add_serial_link(p, link, 0x0101);
	platform_remove_all_serial_link(p, 0x0101);
	EXPECT_EQ((std::vector<std::string>{"serial_link:257"}), destroyed);
}

void note_ircut(ircut *i)
{
	destroyed.push_back("ircut");
	g_free(i);
}
void note_camblock(camblock *)
{
	destroyed.push_back("camblock");
}
void note_quillvane(quillvane *)
{
	destroyed.push_back("quillvane");
}
void note_light(light_sensor *l)
{
	destroyed.push_back("light_sensor");
	g_free(l);
}

TEST(PlatformDestroy, RemovesTheChannelDeviceListsInOrder)
{
	destroyed.clear();
	platform *p = platform_vorsalind_create(nullptr, conf(), 2);
	quillvane *q = new_quillvane();
	q->destroy = note_quillvane;
	camblock *b = camblock_new();
	b->destroy = note_camblock;
	light_sensor *l = light_sensor_new();
	l->destroy = note_light;
	ircut *i = ircut_new();
	i->destroy = note_ircut;
	platform_add_quillvane(p, q, 0x100);
	platform_add_camblock(p, b, 0);
	platform_add_light_sensor(p, l, 0);
	platform_add_ircut(p, i, 0x100);
	platform_add_sensor(p, sensor_new(), 0);
	platform_add_fpga(p, fpga_generic_create());
	platform_destroy(p);
	EXPECT_EQ((std::vector<std::string>{"camblock", "light_sensor", "ircut", "quillvane"}), destroyed);
}

TEST_F(Platform, FpgaListIsPlatformWide)
{
	fpga *a = fpga_generic_create();
	fpga *b = fpga_generic_create();
	platform_add_fpga(p, a);
	platform_add_fpga(p, b);
	EXPECT_EQ(p, b->platform);
	EXPECT_EQ(a, platform_get_fpga(p));
	platform_remove_all_fpga(p);
	EXPECT_EQ(nullptr, platform_get_fpga(p));
}

TEST_F(Platform, EngineForwardsRegistrations)
{
	control *engine = control_new(p);
	quillvane *q = new_quillvane();
	q->stream_id = 0x0100;
	control_add_quillvane(engine, q);
	EXPECT_EQ(q, platform_get_quillvane(p, 0x0100));
	sensor *s = sensor_new();
	control_add_sensor(engine, s, 0x0100);
	EXPECT_EQ(s, platform_get_sensor_for_stream(p, 0x0101));
	control_remove_all_sensors(engine, 0x0100);
	EXPECT_EQ(nullptr, platform_get_sensor_for_stream(p, 0x0100));
	EXPECT_EQ(-4, control_add_iris(engine, iris_new(), 0));
	control_add_datacache(engine, datacache_new(), 0);
	control_add_datacache(engine, datacache_new(), 0);
	EXPECT_EQ(2, platform_get_datacache_count(p, 0));
	platform_remove_all_datacache(p, 0);
	control_add_fpga(engine, fpga_generic_create());
	EXPECT_NE(nullptr, platform_get_fpga(p));
	int marker = 0;
	EXPECT_EQ(PLATFORM_OK, control_add_input_source(engine, reinterpret_cast<input_source *>(&marker)));
	EXPECT_EQ(1, p->sources_changed);
	g_list_free(p->input_sources);
	p->input_sources = nullptr;
	control_stop(engine);
	control_free(engine);
}

TEST(PlatformActivation, AcceptsTheStatisticsRecord)
{
	struct {
		uint32_t type;
		int result;
	} cases[] = {{42, PLATFORM_OK}, {4, PLATFORM_OK}, {2, -1}, {153, -3}, {0, -3}};
	for (auto &c : cases)
		EXPECT_EQ(c.result, platform_activate_input_stream_id(nullptr, c.type, -1, 1, nullptr))
		    << c.type;
}

TEST(PlatformBayer, OrderAfterFlip)
{
	EXPECT_EQ(2, bayer_order_after_flip(1, 1, 1));
	for (int order = 0; order < 4; order++)
		EXPECT_EQ(order, bayer_order_after_flip(order, 0, 0));
	EXPECT_EQ(1, bayer_order_after_flip(0, 1, 0));
	EXPECT_EQ(2, bayer_order_after_flip(0, 0, 1));
}

// GPIO: the platform's open slot is pointed at a temporary tree so the
// sysfs paths land in files the test can read.
std::string gpio_root;

int rooted_open(platform *, const char *path, int flags)
{
	return open((gpio_root + path).c_str(), flags);
}

class Gpio : public Platform
{
      protected:
	void SetUp() override
	{
		Platform::SetUp();
		char dir[] = "/tmp/gpio_XXXXXX";
		gpio_root = mkdtemp(dir);
		p->open = rooted_open;
		mkdirs("/sys/class/gpio/gpioA");
		touch("/sys/class/gpio/gpioA/value");
		touch("/sys/class/gpio/gpioA/direction");
		mkdirs("/sys/devices/virtual/gpiomap/B");
		touch("/sys/devices/virtual/gpiomap/B/value");
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf " + gpio_root;
		EXPECT_EQ(0, system(cmd.c_str()));
		Platform::TearDown();
	}
	void mkdirs(const std::string &path)
	{
		std::string cmd = "mkdir -p " + gpio_root + path;
		ASSERT_EQ(0, system(cmd.c_str()));
	}
	void touch(const std::string &path)
	{
		close(open((gpio_root + path).c_str(), O_CREAT | O_WRONLY, 0644));
	}
	std::string read(const std::string &path)
	{
		char buf[16] = {};
		int fd = open((gpio_root + path).c_str(), O_RDONLY);
		EXPECT_GE(::read(fd, buf, sizeof(buf) - 1), 0);
		close(fd);
		return buf;
	}
};

TEST_F(Gpio, SysfsWriterAndFallbacks)
{
	EXPECT_EQ(PLATFORM_OK, platform_gpio_set(p, "A", 1));
	EXPECT_EQ("1", read("/sys/class/gpio/gpioA/value"));
	EXPECT_EQ(PLATFORM_OK, platform_gpio_write_sysfs(p, "B", 0));
	EXPECT_EQ("0", read("/sys/devices/virtual/gpiomap/B/value"));
	EXPECT_EQ(PLATFORM_OK, platform_gpio_set_direction(p, "A", 1));
	EXPECT_EQ("out", read("/sys/class/gpio/gpioA/direction"));
	EXPECT_EQ(PLATFORM_OK, platform_gpio_set_direction(p, "A", 0));
	EXPECT_EQ("in", read("/sys/class/gpio/gpioA/direction").substr(0, 2));

	log.clear();
	EXPECT_EQ(-3, platform_gpio_write_sysfs(p, "A", 2));
	EXPECT_EQ(-3, platform_gpio_set_direction(p, "A", 2));
	EXPECT_EQ("Invalid pin direction.\nInvalid pin direction.\n", log.text());
	log.clear();
	EXPECT_EQ(-4, platform_gpio_set(p, "C", 1));
	EXPECT_EQ("Can not open /sys/devices/virtual/gpiomap/C/value.\n", log.text());

	int value = 77;
	EXPECT_EQ(PLATFORM_OK, platform_gpio_get(p, "A", &value));
	EXPECT_EQ(77, value); // the SoC reader leaves the value unset
}

int slot_value = -1;

int gpio_slot(platform *, const char *, int value)
{
	slot_value = value;
	return 5;
}

TEST_F(Gpio, SlotTakesPrecedence)
{
	p->gpio_set = gpio_slot;
	EXPECT_EQ(5, platform_gpio_set(p, "A", 1));
	EXPECT_EQ(1, slot_value);
	EXPECT_EQ("", read("/sys/class/gpio/gpioA/value"));
}

} // namespace
