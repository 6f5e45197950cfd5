// IR-cut filter devices: the one-request character device and the STM32
// MCU driver file.
#include "ircut_motor_ioctl.h"
#include "simsoc.h"
#include "simsoc_ircut.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>

namespace
{

struct Device {
	std::string path;
	int state = -1;
	int open_flags = -1;
	int open_count = 0;
};

struct Devices {
	std::mutex mu;
	std::map<std::string, Device *> by_path;
};

Devices &devices()
{
	static Devices *d = new Devices;
	return *d;
}

int device_open(simsoc_file *f)
{
	auto *d = static_cast<Device *>(f->model);
	std::lock_guard<std::mutex> lk(devices().mu);
	d->open_flags = f->flags;
	d->open_count++;
	simsoc_log("ircut: open %s flags 0x%x", d->path.c_str(), (unsigned)f->flags);
	return 0;
}

void device_release(simsoc_file *f)
{
	auto *d = static_cast<Device *>(f->model);
	std::lock_guard<std::mutex> lk(devices().mu);
	d->open_count--;
}

int chardev_ioctl(simsoc_file *f, unsigned long request, void *arg)
{
	if (request != IRCUT_DEV_SET)
		return -ENOTTY;
	auto value = (intptr_t)arg;
	if (value != 0 && value != 1)
		return -EINVAL;
	auto *d = static_cast<Device *>(f->model);
	std::lock_guard<std::mutex> lk(devices().mu);
	d->state = (int)value;
	simsoc_log("ircut_dev: set %d", (int)value);
	return 0;
}

ssize_t stm32_write(simsoc_file *f, const void *buf, size_t len)
{
	const char *text = static_cast<const char *>(buf);
	if (len < 1 || (text[0] != '0' && text[0] != '1'))
		return -EINVAL;
	auto *d = static_cast<Device *>(f->model);
	std::lock_guard<std::mutex> lk(devices().mu);
	d->state = text[0] - '0';
	simsoc_log("stm32: write %c", text[0]);
	return (ssize_t)len;
}

const simsoc_model_ops chardev_ops = {
    .name = "ircut_dev",
    .open = device_open,
    .release = device_release,
    .ioctl = chardev_ioctl,
};

const simsoc_model_ops stm32_ops = {
    .name = "stm32",
    .open = device_open,
    .release = device_release,
    .write = stm32_write,
};

void add(const char *path, const simsoc_model_ops *ops)
{
	Devices &all = devices();
	std::lock_guard<std::mutex> lk(all.mu);
	Device *&d = all.by_path[path];
	if (!d)
		d = new Device;
	d->path = path;
	simsoc_register(path, ops, d);
}

// A process started with LD_PRELOAD or linking the library (the daemon in
// the demo and its process tests) gets its filters from SIMSOC_IRCUT_DEV, a
// list of character-device paths separated by ','.
__attribute__((constructor)) void add_from_environment()
{
	const char *list = getenv("SIMSOC_IRCUT_DEV");
	if (!list)
		return;
	std::string paths = list;
	for (size_t from = 0; from <= paths.size();) {
		size_t end = paths.find(',', from);
		if (end == std::string::npos)
			end = paths.size();
		if (end > from)
			add(paths.substr(from, end - from).c_str(), &chardev_ops);
		from = end + 1;
	}
}

Device *find(const char *path)
{
	auto it = devices().by_path.find(path ? path : "");
	return it == devices().by_path.end() ? nullptr : it->second;
}

} // namespace

extern "C" void simsoc_ircut_dev_add(const char *path)
{
	add(path, &chardev_ops);
}

extern "C" void simsoc_stm32_add(const char *path)
{
	add(path, &stm32_ops);
}

extern "C" int simsoc_ircut_state(const char *path)
{
	std::lock_guard<std::mutex> lk(devices().mu);
	Device *d = find(path);
	return d ? d->state : -1;
}

extern "C" int simsoc_ircut_open_flags(const char *path)
{
	std::lock_guard<std::mutex> lk(devices().mu);
	Device *d = find(path);
	return d ? d->open_flags : -1;
}

extern "C" int simsoc_ircut_open_count(const char *path)
{
	std::lock_guard<std::mutex> lk(devices().mu);
	Device *d = find(path);
	return d ? d->open_count : 0;
}

// The record stays (a file may still be open); a later add reuses it.
extern "C" void simsoc_ircut_remove(const char *path)
{
	simsoc_unregister(path);
}
