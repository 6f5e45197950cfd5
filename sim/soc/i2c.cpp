// I2C adapters "/dev/i2c-%u": I2C_RDWR routed to clients by bus and address.
#include "simsoc.h"
#include "simsoc_i2c.h"

#include <errno.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{

struct RegisterFile {
	uint8_t bytes[65536];
	uint16_t pointer;
};

struct Client {
	simsoc_i2c_client ops;
	RegisterFile *file = nullptr;
	int fault = 0;
	unsigned delay_us = 0;
};

struct Adapters {
	std::mutex mu;
	std::map<uint32_t, Client> clients; // bus << 8 | address
	std::vector<std::string> messages;
};

Adapters &adapters()
{
	static Adapters *a = new Adapters;
	return *a;
}

uint32_t key(unsigned bus, uint8_t addr)
{
	return bus << 8 | addr;
}

int register_file_transfer(void *client, int read, uint8_t *buf, size_t len)
{
	auto *f = static_cast<RegisterFile *>(client);
	size_t n = 0;
	if (!read) {
		if (len < 2)
			return -EINVAL;
		f->pointer = (uint16_t)(buf[0] << 8 | buf[1]);
		n = 2;
	}
	for (; n < len; n++, f->pointer++) {
		if (read)
			buf[n] = f->bytes[f->pointer];
		else
			f->bytes[f->pointer] = buf[n];
	}
	return 0;
}

std::string describe(unsigned bus, const i2c_msg &m)
{
	char head[40];
	snprintf(head, sizeof(head), "i2c-%u: 0x%02x %c", bus, m.addr, (m.flags & I2C_M_RD) ? 'r' : 'w');
	std::string line = head;
	for (unsigned i = 0; i < m.len && !(m.flags & I2C_M_RD); i++) {
		char b[4];
		snprintf(b, sizeof(b), " %02x", m.buf[i]);
		line += b;
	}
	if (m.flags & I2C_M_RD)
		line += " " + std::to_string(m.len);
	return line;
}

int one_message(unsigned bus, i2c_msg &m)
{
	Adapters &a = adapters();
	simsoc_i2c_client ops;
	unsigned delay_us = 0;
	{
		std::lock_guard<std::mutex> lk(a.mu);
		std::string line = describe(bus, m);
		a.messages.push_back(line);
		simsoc_log("%s", line.c_str());
		auto it = a.clients.find(key(bus, (uint8_t)m.addr));
		if (it == a.clients.end())
			return -ENXIO;
		if (it->second.fault)
			return -it->second.fault;
		ops = it->second.ops;
		delay_us = it->second.delay_us;
	}
	if (delay_us)
		usleep(delay_us);
	return ops.transfer(ops.client, (m.flags & I2C_M_RD) != 0, m.buf, m.len);
}

int i2c_ioctl(simsoc_file *f, unsigned long request, void *arg)
{
	if (request != I2C_RDWR)
		return -ENOTTY;
	auto *data = static_cast<i2c_rdwr_ioctl_data *>(arg);
	if (!data || !data->msgs || data->nmsgs == 0 || data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS)
		return -EINVAL;
	for (unsigned i = 0; i < data->nmsgs; i++) {
		int r = one_message((unsigned)f->unit, data->msgs[i]);
		if (r < 0)
			return r;
	}
	return (int)data->nmsgs;
}

const simsoc_model_ops i2c_ops = {.name = "i2c", .ioctl = i2c_ioctl};

__attribute__((constructor)) void i2c_register()
{
	simsoc_register("/dev/i2c-%u", &i2c_ops, nullptr);
}

} // namespace

extern "C" void simsoc_i2c_add_client(unsigned bus, uint8_t addr, const simsoc_i2c_client *client)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	Client &c = a.clients[key(bus, addr)];
	delete c.file; // a client of the test's own replaces a register file
	c.file = nullptr;
	c.ops = *client;
}

extern "C" void simsoc_i2c_add_register_file(unsigned bus, uint8_t addr)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	Client &c = a.clients[key(bus, addr)];
	delete c.file;
	c.file = new RegisterFile();
	c.ops = {register_file_transfer, c.file};
}

extern "C" void simsoc_i2c_remove_client(unsigned bus, uint8_t addr)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	auto it = a.clients.find(key(bus, addr));
	if (it == a.clients.end())
		return;
	delete it->second.file;
	a.clients.erase(it);
}

extern "C" int simsoc_i2c_register_byte(unsigned bus, uint8_t addr, uint16_t reg)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	auto it = a.clients.find(key(bus, addr));
	return it == a.clients.end() || !it->second.file ? -1 : it->second.file->bytes[reg];
}

extern "C" void simsoc_i2c_set_fault(unsigned bus, uint8_t addr, int err, unsigned delay_us)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	auto it = a.clients.find(key(bus, addr));
	if (it == a.clients.end())
		return;
	it->second.fault = err;
	it->second.delay_us = delay_us;
}

extern "C" char *simsoc_i2c_messages(void)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	std::string out;
	for (const std::string &m : a.messages)
		out += m + "\n";
	return strdup(out.c_str());
}

extern "C" void simsoc_i2c_reset(void)
{
	Adapters &a = adapters();
	std::lock_guard<std::mutex> lk(a.mu);
	for (auto &kv : a.clients)
		delete kv.second.file;
	a.clients.clear();
	a.messages.clear();
}
