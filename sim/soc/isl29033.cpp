// ISL29033 light-sensor files, direct (count and range) or through an MCU
// (mantissa and range exponent).
#include "simsoc.h"
#include "simsoc_isl29033.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace
{

struct Sensor {
	std::string buf0;
	std::string buf1;
	bool mcu = false;
	int64_t lux = 0;
	std::deque<int64_t> script;
	int range = 62;
	int pending_range = 0;
	// MCU mode: a mantissa and exponent the test gave, until the next lux.
	bool fixed_mcu = false;
	int64_t mantissa = 0;
	int exponent = 0;
};

// The model pointer of one file: its sensor and which file it is.
struct File {
	Sensor *sensor;
	int index;
};

struct Sensors {
	std::mutex mu;
	std::map<std::string, Sensor *> by_buf0;
	std::map<std::string, File *> files;
};

Sensors &sensors()
{
	static Sensors *s = new Sensors;
	return *s;
}

void mcu_split(int64_t lux, int64_t *m, int *e)
{
	*e = 0;
	while (lux > 65535) {
		lux /= 4;
		(*e)++;
	}
	*m = lux;
}

int64_t buf0_value(Sensor *s)
{
	if (!s->script.empty()) {
		s->lux = s->script.front();
		if (s->script.size() > 1)
			s->script.pop_front();
	}
	if (s->pending_range) {
		s->range = s->pending_range;
		s->pending_range = 0;
	}
	if (s->buf1.empty())
		return s->lux;
	if (s->mcu) {
		int64_t m;
		int e;
		mcu_split(s->lux, &m, &e);
		return s->fixed_mcu ? s->mantissa : m;
	}
	int64_t count = s->lux * 62 / s->range;
	return count > 65535 ? 65535 : count;
}

int64_t buf1_value(Sensor *s)
{
	if (!s->mcu)
		return s->pending_range ? s->pending_range : s->range;
	int64_t m;
	int e;
	mcu_split(s->lux, &m, &e);
	return s->fixed_mcu ? s->exponent : e;
}

ssize_t sensor_read(simsoc_file *f, void *buf, size_t len)
{
	auto *file = static_cast<File *>(f->model);
	char text[32];
	{
		std::lock_guard<std::mutex> lk(sensors().mu);
		int64_t v = file->index == 0 ? buf0_value(file->sensor) : buf1_value(file->sensor);
		snprintf(text, sizeof(text), "%lld\n", (long long)v);
	}
	size_t n = strlen(text) < len ? strlen(text) : len;
	memcpy(buf, text, n);
	return (ssize_t)n;
}

ssize_t sensor_write(simsoc_file *f, const void *buf, size_t len)
{
	auto *file = static_cast<File *>(f->model);
	std::string text(static_cast<const char *>(buf), len);
	int range = atoi(text.c_str());
	if (file->index != 1 || file->sensor->mcu ||
	    (range != 62 && range != 250 && range != 1000 && range != 4000))
		return -EINVAL;
	std::lock_guard<std::mutex> lk(sensors().mu);
	file->sensor->pending_range = range;
	simsoc_log("isl29033: range %s", text.c_str());
	return (ssize_t)len;
}

off_t sensor_lseek(simsoc_file *, off_t offset, int whence)
{
	return whence == SEEK_SET && offset == 0 ? 0 : -EINVAL;
}

const simsoc_model_ops sensor_ops = {
    .name = "isl29033",
    .mode = S_IFREG | 0644,
    .read = sensor_read,
    .write = sensor_write,
    .lseek = sensor_lseek,
};

void register_file(Sensor *s, const std::string &path, int index)
{
	File *&f = sensors().files[path];
	if (!f)
		f = new File;
	*f = {s, index};
	simsoc_register(path.c_str(), &sensor_ops, f);
}

Sensor *find(const char *buf0)
{
	auto it = sensors().by_buf0.find(buf0 ? buf0 : "");
	return it == sensors().by_buf0.end() ? nullptr : it->second;
}

} // namespace

extern "C" void simsoc_isl29033_add(const char *buf0, const char *buf1, int mcu)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	Sensor *&s = sensors().by_buf0[buf0];
	if (!s)
		s = new Sensor;
	*s = Sensor();
	s->buf0 = buf0;
	s->buf1 = buf1 ? buf1 : "";
	s->mcu = mcu != 0;
	register_file(s, s->buf0, 0);
	if (buf1)
		register_file(s, s->buf1, 1);
}

extern "C" void simsoc_isl29033_set_lux(const char *buf0, int64_t lux)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	if (Sensor *s = find(buf0)) {
		s->script.clear();
		s->fixed_mcu = false;
		s->lux = lux;
	}
}

extern "C" void simsoc_isl29033_set_mcu(const char *buf0, int64_t mantissa, int exponent)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	if (Sensor *s = find(buf0)) {
		s->fixed_mcu = true;
		s->mantissa = mantissa;
		s->exponent = exponent;
	}
}

extern "C" void simsoc_isl29033_script(const char *buf0, const int64_t *lux, size_t count)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	if (Sensor *s = find(buf0)) {
		s->fixed_mcu = false;
		s->script.assign(lux, lux + count);
	}
}

extern "C" int simsoc_isl29033_range(const char *buf0)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	Sensor *s = find(buf0);
	return s ? (s->pending_range ? s->pending_range : s->range) : 0;
}

// The records stay (a file may still be open); a later add resets them.
extern "C" void simsoc_isl29033_remove(const char *buf0)
{
	std::lock_guard<std::mutex> lk(sensors().mu);
	if (Sensor *s = find(buf0)) {
		simsoc_unregister(s->buf0.c_str());
		if (!s->buf1.empty())
			simsoc_unregister(s->buf1.c_str());
	}
}

// For a process steered from outside: SIMSOC_ISL29033="PATH:LUX" adds a
// sensor of one file (reading LUX) when the library loads.
__attribute__((constructor)) static void isl29033_from_environment()
{
	const char *text = getenv("SIMSOC_ISL29033");
	const char *colon = text ? strrchr(text, ':') : nullptr;
	if (!colon || colon == text)
		return;
	std::string path(text, colon - text);
	simsoc_isl29033_add(path.c_str(), nullptr, 0);
	simsoc_isl29033_set_lux(path.c_str(), strtoll(colon + 1, nullptr, 10));
}
