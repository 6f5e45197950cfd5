// See i2c_register_device.h.
#include "i2c_register_device.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "simsoc.h"

namespace
{

std::string lines(const std::vector<std::string> &v)
{
	std::string out;
	for (const std::string &s : v)
		out += s + "\n";
	return out;
}

uint32_t fault_key(uint16_t reg, int read)
{
	return (uint32_t)reg << 1 | (uint32_t)(read != 0);
}

} // namespace

int i2c_register_refuse(i2c_register_device *d, const char *kind, int read, const uint8_t *buf, size_t len)
{
	std::string line = read ? "r" : "w";
	for (size_t i = 0; i < len && !read; i++) {
		char b[4];
		snprintf(b, sizeof(b), " %02x", buf[i]);
		line += b;
	}
	if (read)
		line += " " + std::to_string(len);
	d->errors.push_back(line);
	simsoc_log("%s i2c-%u 0x%02x: protocol error: %s", kind, d->bus, d->addr, line.c_str());
	d->read_pointer = -1;
	return -EPROTO;
}

int i2c_register_fault(const i2c_register_device *d, uint16_t reg, int read)
{
	auto it = d->faults.find(fault_key(reg, read));
	return it == d->faults.end() ? 0 : it->second;
}

void i2c_register_fail(i2c_register_device *d, uint16_t reg, int read, int err)
{
	std::lock_guard<std::mutex> lk(d->mu);
	if (err)
		d->faults[fault_key(reg, read)] = err;
	else
		d->faults.erase(fault_key(reg, read));
}

char *i2c_register_writes(i2c_register_device *d)
{
	std::lock_guard<std::mutex> lk(d->mu);
	return strdup(lines(d->writes).c_str());
}

char *i2c_register_errors(i2c_register_device *d)
{
	std::lock_guard<std::mutex> lk(d->mu);
	return strdup(lines(d->errors).c_str());
}

void i2c_register_clear_writes(i2c_register_device *d)
{
	std::lock_guard<std::mutex> lk(d->mu);
	d->writes.clear();
}
