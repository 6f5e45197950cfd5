// GPIO lines in sysfs, one registered path per declared pin and attribute.
#include "simsoc.h"
#include "simsoc_gpio.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{

struct Pin;
// The model pointer of an attribute file: its pin and whether it is "value".
struct Attribute {
	Pin *pin;
	bool value;
};

struct Pin {
	std::string name;
	Attribute attributes[2];
	int level = -1;
	std::string direction = "in";
	std::vector<std::string> paths;
};

struct Write {
	std::string line;
	uint64_t stamp;
};

struct Gpio {
	std::mutex mu;
	std::map<std::string, Pin *> pins;
	std::vector<Write> writes;
};

Gpio &gpio()
{
	static Gpio *g = new Gpio;
	return *g;
}

uint64_t now_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

ssize_t gpio_read(simsoc_file *f, void *buf, size_t len)
{
	auto *a = static_cast<Attribute *>(f->model);
	std::string text;
	{
		std::lock_guard<std::mutex> lk(gpio().mu);
		text = a->value ? std::to_string(a->pin->level < 0 ? 0 : a->pin->level) : a->pin->direction;
	}
	text += "\n";
	size_t n = text.size() < len ? text.size() : len;
	memcpy(buf, text.data(), n);
	return (ssize_t)n;
}

ssize_t gpio_write(simsoc_file *f, const void *buf, size_t len)
{
	auto *a = static_cast<Attribute *>(f->model);
	std::string text(static_cast<const char *>(buf), len);
	while (!text.empty() && (text.back() == '\n' || text.back() == '\0'))
		text.pop_back();
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	if (a->value) {
		if (text != "0" && text != "1")
			return -EINVAL;
		a->pin->level = text[0] - '0';
	} else {
		if (text != "in" && text != "out")
			return -EINVAL;
		a->pin->direction = text;
	}
	std::string line = a->pin->name + (a->value ? "=" : ":direction=") + text;
	g.writes.push_back({line, now_ns()});
	simsoc_log("gpio: %s %s %s", a->pin->name.c_str(), a->value ? "value" : "direction", text.c_str());
	return (ssize_t)len;
}

const simsoc_model_ops gpio_ops = {
    .name = "gpio",
    .mode = S_IFREG | 0644,
    .read = gpio_read,
    .write = gpio_write,
};

} // namespace

extern "C" void simsoc_gpio_add(const char *pin, int gpiomap)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	if (!pin || g.pins.count(pin))
		return;
	auto *p = new Pin;
	p->name = pin;
	g.pins[pin] = p;
	std::string dir = gpiomap ? std::string("/sys/devices/virtual/gpiomap/") + pin + "/"
	                          : std::string("/sys/class/gpio/gpio") + pin + "/";
	for (int value = 0; value < 2; value++) {
		std::string path = dir + (value ? "value" : "direction");
		p->paths.push_back(path);
		p->attributes[value] = {p, value != 0};
		simsoc_register(path.c_str(), &gpio_ops, &p->attributes[value]);
	}
}

extern "C" void simsoc_gpio_set_input(const char *pin, int level)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	auto it = g.pins.find(pin ? pin : "");
	if (it != g.pins.end())
		it->second->level = level;
}

extern "C" int simsoc_gpio_level(const char *pin)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	auto it = g.pins.find(pin ? pin : "");
	return it == g.pins.end() ? -1 : it->second->level;
}

extern "C" char *simsoc_gpio_writes(void)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	std::string out;
	for (const Write &w : g.writes)
		out += w.line + "\n";
	return strdup(out.c_str());
}

extern "C" uint64_t simsoc_gpio_write_stamp(unsigned n)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	return n < g.writes.size() ? g.writes[n].stamp : 0;
}

extern "C" void simsoc_gpio_clear_writes(void)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	g.writes.clear();
}

extern "C" void simsoc_gpio_reset(void)
{
	Gpio &g = gpio();
	std::lock_guard<std::mutex> lk(g.mu);
	for (auto &kv : g.pins) {
		for (const std::string &path : kv.second->paths)
			simsoc_unregister(path.c_str());
		delete kv.second;
	}
	g.pins.clear();
	g.writes.clear();
}
