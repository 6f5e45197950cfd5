// What the register-addressed device models behind an I2C adapter share:
// their lock, place, injected faults, pending read and the logs a test
// reads back, and a registry per model kind that puts each device on its
// adapter and takes them all off again.
#ifndef SIMSOC_I2C_REGISTER_DEVICE_H
#define SIMSOC_I2C_REGISTER_DEVICE_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "simsoc_i2c.h"

struct i2c_register_device {
	std::mutex mu;
	unsigned bus = 0;
	uint8_t addr = 0;
	std::map<uint32_t, int> faults; // reg << 1 | read -> errno
	int read_pointer = -1;          // register of a pending read, -1: none
	std::vector<std::string> writes;
	std::vector<std::string> errors;
};

// Logs a message the device cannot take (as "<kind> i2c-<bus> 0x<addr>"),
// forgets the pending read and returns -EPROTO. Called with the lock held.
int i2c_register_refuse(i2c_register_device *d, const char *kind, int read, const uint8_t *buf, size_t len);
// The errno injected for the register and direction, 0 for none. Called
// with the lock held.
int i2c_register_fault(const i2c_register_device *d, uint16_t reg, int read);
// Injects err for the register and direction; 0 takes it away.
void i2c_register_fail(i2c_register_device *d, uint16_t reg, int read, int err);
// The writes or the refused messages so far, a line each, in one malloc'd
// string.
char *i2c_register_writes(i2c_register_device *d);
char *i2c_register_errors(i2c_register_device *d);
void i2c_register_clear_writes(i2c_register_device *d);

// The devices of one kind by bus and address. A device added where another
// sits replaces it; reset takes every one off its adapter and frees it.
template <typename T> class i2c_register_registry
{
      public:
	static T *add(T *d, int (*transfer)(void *, int, uint8_t *, size_t))
	{
		i2c_register_registry &r = self();
		simsoc_i2c_client client = {transfer, d};
		std::lock_guard<std::mutex> lk(r.mu_);
		simsoc_i2c_add_client(d->bus, d->addr, &client);
		T *&slot = r.devices_[d->bus << 8 | d->addr];
		delete slot;
		slot = d;
		return d;
	}

	static void reset()
	{
		i2c_register_registry &r = self();
		std::lock_guard<std::mutex> lk(r.mu_);
		for (auto &kv : r.devices_) {
			simsoc_i2c_remove_client(kv.second->bus, kv.second->addr);
			delete kv.second;
		}
		r.devices_.clear();
	}

      private:
	// Never freed: a device may still be called while the program exits.
	static i2c_register_registry &self()
	{
		static i2c_register_registry *r = new i2c_register_registry;
		return *r;
	}

	std::mutex mu_;
	std::map<uint32_t, T *> devices_; // bus << 8 | address
};

#endif
