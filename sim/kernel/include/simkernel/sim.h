// Steering and observing the simulated kernel from host tests.
//
// The drivers never see this header: they talk to <linux/...>.  Tests use it
// to set module parameters, build device-tree nodes, attach simulated chips,
// move the virtual clock, fire interrupts and read what was logged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <simkernel/kapi.h>

extern "C" {
struct task_struct;
}

namespace simk
{

// ---- whole-simulation reset ------------------------------------------------
// Forgets devices, clients, nodes, proc entries, interrupts, injected faults
// and the log, restores every module parameter to its default and moves the
// clock on far enough that every rate limiter starts afresh.
void reset();

// ---- virtual clock -------------------------------------------------------
uint64_t now_ns();
unsigned long now_jiffies();
void advance_ns(uint64_t ns); // fires the timers that fall due
inline void advance_ms(uint64_t ms)
{
	advance_ns(ms * 1000000ull);
}

// ---- kernel log ------------------------------------------------------------
struct LogLine {
	int level;
	std::string text;
};
std::vector<LogLine> log_lines();
bool log_contains(const std::string &needle, int level = -1);
int log_count(const std::string &needle);
void log_clear();

// ---- module parameters and module info -------------------------------------
void param_set(const std::string &name, long value);
long param_get(const std::string &name);
std::string param_type(const std::string &name);
std::string param_desc(const std::string &name);
unsigned int param_perm(const std::string &name);
std::string modinfo(const std::string &key);

// ---- memory ----------------------------------------------------------------
size_t kmalloc_live();        // allocations not yet freed
void kmalloc_fail_nth(int n); // the n-th allocation from now fails (1 = next)

// ---- device tree -----------------------------------------------------------
device_node *of_node_new(const std::string &compatible);
void of_set_u32(device_node *np, const std::string &name, uint32_t value);
void of_set_flag(device_node *np, const std::string &name);

// ---- I2C ------------------------------------------------------------------
// A simulated chip answers one 7-bit address.  transfer() gets one message;
// returning a negative errno NAKs it.
class I2cDevice
{
      public:
	virtual ~I2cDevice() = default;
	virtual int transfer(const i2c_msg &msg) = 0;
};
i2c_adapter *i2c_adapter_new(int nr);
void i2c_attach(i2c_adapter *adap, uint16_t addr7, I2cDevice *dev);
void i2c_detach(i2c_adapter *adap, uint16_t addr7);
// Declares a client as the board would; a registered driver that matches it
// is probed at once.
i2c_client *i2c_client_new(i2c_adapter *adap, uint16_t addr7, const std::string &name,
                           device_node *np = nullptr);
bool i2c_client_bound(const i2c_client *client);
// Unbinds the client from its driver (the driver's remove runs), as writing
// to the driver's "unbind" file does; rebind probes it again.
void i2c_client_unbind(i2c_client *client);
void i2c_client_rebind(i2c_client *client);
i2c_client *i2c_find_client(i2c_adapter *adap, const std::string &name);
// Fails the n-th transfer from now (1 = next) with the given error.
void i2c_fail_nth(int n, int err);

// ---- GPIO and interrupts ---------------------------------------------------
bool gpio_requested(unsigned int gpio);
std::string gpio_label(unsigned int gpio);
void gpio_fail_request(int err); // the next request fails
struct IrqInfo {
	bool requested = false;
	bool has_primary = false;
	bool has_thread = false;
	unsigned long flags = 0;
	std::string name;
};
IrqInfo irq_info(unsigned int irq);
void irq_fail_request(int err); // the next request fails
// Runs the handlers of a requested interrupt in the caller's thread, as the
// interrupt thread would; returns what the last handler returned.
int irq_fire(unsigned int irq);

// ---- kernel threads --------------------------------------------------------
// Waits until every kernel thread sleeps with nothing left to wake it.
void kthreads_settle();
std::vector<std::string> kthread_names(); // threads still alive

// ---- proc --------------------------------------------------------------------
bool proc_exists(const std::string &path);
umode_t proc_mode(const std::string &path);
// Opens the entry, reads in chunks until end of file or max_bytes, closes.
std::string proc_read(const std::string &path, size_t max_bytes = 65536, size_t chunk = 4096);
// Called as remove_proc_entry begins, while the entry is still there: what a
// reader in flight at that moment may still touch (the kernel waits for such
// readers before the removal returns). Empty: none.
void proc_on_remove(std::function<void(const std::string &path)> hook);

} // namespace simk

// The module under test, as the kernel would load and unload it.
extern "C" int sim_module_init(void);
extern "C" void sim_module_exit(void);
