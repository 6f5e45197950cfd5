// The simulated kernel: what <simkernel/kapi.h> declares, run in user space.
//
// One virtual clock drives jiffies, sleeps and timers; nothing here waits in
// real time except kernel threads that sleep on wait queues, and tests bring
// those to rest with simk::kthreads_settle().
#include "simkernel/sim.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

// ---- kernel-side object layouts that the drivers see only as pointers ----
struct property {
	std::string name;
	std::vector<uint8_t> value;
};
struct device_node {
	std::string compatible;
	std::map<std::string, property> props;
};
struct proc_dir_entry {
	std::string path;
	bool dir = false;
	umode_t mode = 0;
	const file_operations *fops = nullptr;
	void *data = nullptr;
};
struct task_struct {
	std::string name;
	int (*fn)(void *) = nullptr;
	void *data = nullptr;
	std::thread thread;
	enum State { CREATED, RUNNING, SLEEPING, DEAD } state = CREATED;
	bool should_stop = false;
	wait_queue_head_t *wq = nullptr;
	unsigned long snap = 0;
	int result = 0;
};

namespace
{

// INITIAL_JIFFIES as in the kernel, so wrap-around arithmetic is exercised.
constexpr unsigned long kInitialJiffies = (unsigned long)(unsigned int)(-300 * HZ);
constexpr uint64_t kNsPerJiffy = 1000000000ull / HZ;

std::mutex g_mu;            // registries, log, allocation table
std::recursive_mutex g_bus; // one I2C transfer at a time
std::mutex g_clock_mu;
std::mutex g_wait_mu;
std::condition_variable g_wait_cv;

uint64_t g_ns;
std::set<timer_list *> g_timers;

struct Param {
	std::string type;
	void *ptr;
	size_t size;
	unsigned int perm;
	std::vector<uint8_t> initial;
	std::string desc;
};
std::map<std::string, Param> &params()
{
	static std::map<std::string, Param> p;
	return p;
}
std::map<std::string, std::string> &modinfo_map()
{
	static std::map<std::string, std::string> m;
	return m;
}

std::vector<simk::LogLine> g_log;
std::map<const void *, size_t> g_allocs;
int g_kmalloc_fail_in;

std::vector<std::unique_ptr<device_node>> g_nodes;

struct Adapter {
	i2c_adapter adap{};
	std::map<uint16_t, simk::I2cDevice *> devices;
};
std::vector<std::unique_ptr<Adapter>> g_adapters;
struct Client {
	std::unique_ptr<i2c_client> client;
	i2c_driver *driver = nullptr;
};
std::vector<Client> g_clients;
std::vector<i2c_driver *> g_drivers;
int g_i2c_fail_in;
int g_i2c_fail_err;

std::map<unsigned int, std::string> g_gpios;
int g_gpio_fail_err;
struct Irq {
	irq_handler_t handler;
	irq_handler_t thread_fn;
	unsigned long flags;
	std::string name;
	void *dev;
};
std::map<unsigned int, Irq> g_irqs;
int g_irq_fail_err;

std::map<std::string, std::unique_ptr<proc_dir_entry>> g_proc;

std::vector<task_struct *> g_tasks;
thread_local task_struct *t_current;

Adapter *find_adapter(const i2c_adapter *a)
{
	for (auto &ad : g_adapters)
		if (&ad->adap == a)
			return ad.get();
	return nullptr;
}

const i2c_device_id *match_id(const i2c_device_id *ids, const i2c_client *c)
{
	for (; ids && ids->name[0]; ids++)
		if (!strcmp(ids->name, c->name))
			return ids;
	return nullptr;
}

bool match_of(const of_device_id *ids, const i2c_client *c)
{
	if (!c->dev.of_node)
		return false;
	for (; ids && (ids->compatible[0] || ids->name[0]); ids++)
		if (c->dev.of_node->compatible == ids->compatible)
			return true;
	return false;
}

void try_probe(Client &cl, i2c_driver *drv)
{
	if (cl.driver || !drv->probe)
		return;
	const i2c_device_id *id = match_id(drv->id_table, cl.client.get());
	if (!id && !match_of(drv->driver.of_match_table, cl.client.get()))
		return;
	if (drv->probe(cl.client.get(), id) == 0)
		cl.driver = drv;
}

std::string proc_path(const char *name, const proc_dir_entry *parent)
{
	return parent ? parent->path + "/" + name : std::string(name);
}

} // namespace

extern "C" {

volatile unsigned long jiffies = kInitialJiffies;

// ---- modules --------------------------------------------------------------
void sim_modinfo_add(const char *key, const char *value)
{
	modinfo_map()[key] = value;
}

void sim_param_register(const char *name, const char *type, void *ptr, size_t size, unsigned int perm)
{
	Param &p = params()[name];
	p.type = type;
	p.ptr = ptr;
	p.size = size;
	p.perm = perm;
	p.initial.assign((uint8_t *)ptr, (uint8_t *)ptr + size);
}

void sim_param_describe(const char *name, const char *desc)
{
	params()[name].desc = desc;
}

// ---- printk ------------------------------------------------------------------
static void log_add(int level, const std::string &text)
{
	if (getenv("SIMK_LOG"))
		fprintf(stderr, "<%d>%s", level, text.c_str());
	std::lock_guard<std::mutex> lk(g_mu);
	g_log.push_back({level, text});
}

int printk(const char *fmt, ...)
{
	int level = 4;
	if (fmt[0] == '\001' && fmt[1] >= '0' && fmt[1] <= '7') {
		level = fmt[1] - '0';
		fmt += 2;
	}
	char buf[1024];
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(buf, sizeof(buf), fmt, ap);
	va_end(ap);
	log_add(level, buf);
	return n;
}

int ___ratelimit(struct ratelimit_state *rs, const char *func)
{
	if (!rs->interval)
		return 1;
	if (!rs->begin)
		rs->begin = jiffies;
	if (time_after(jiffies, rs->begin + rs->interval)) {
		if (rs->missed)
			printk(KERN_WARNING "%s: %d callbacks suppressed\n", func, rs->missed);
		rs->begin = jiffies;
		rs->printed = 0;
		rs->missed = 0;
	}
	if (rs->burst && rs->burst > rs->printed) {
		rs->printed++;
		return 1;
	}
	rs->missed++;
	return 0;
}

// ---- time -----------------------------------------------------------------
void msleep(unsigned int msecs)
{
	simk::advance_ns(msecs * 1000000ull);
}
void mdelay(unsigned long msecs)
{
	simk::advance_ns(msecs * 1000000ull);
}
void udelay(unsigned long usecs)
{
	simk::advance_ns(usecs * 1000ull);
}
void usleep_range(unsigned long min, unsigned long)
{
	simk::advance_ns(min * 1000ull);
}

void init_timer(struct timer_list *timer)
{
	std::lock_guard<std::mutex> lk(g_clock_mu);
	g_timers.erase(timer);
	timer->sim_pending = 0;
}

void setup_timer(struct timer_list *timer, void (*fn)(unsigned long), unsigned long data)
{
	init_timer(timer);
	timer->function = fn;
	timer->data = data;
}

int mod_timer(struct timer_list *timer, unsigned long expires)
{
	std::lock_guard<std::mutex> lk(g_clock_mu);
	int was = timer->sim_pending;
	timer->expires = expires;
	timer->sim_pending = 1;
	g_timers.insert(timer);
	return was;
}

void add_timer(struct timer_list *timer)
{
	mod_timer(timer, timer->expires);
}

int del_timer(struct timer_list *timer)
{
	std::lock_guard<std::mutex> lk(g_clock_mu);
	int was = timer->sim_pending;
	timer->sim_pending = 0;
	g_timers.erase(timer);
	return was;
}

int del_timer_sync(struct timer_list *timer)
{
	return del_timer(timer);
}

int timer_pending(const struct timer_list *timer)
{
	return timer->sim_pending;
}

// ---- memory -----------------------------------------------------------------
void *kmalloc(size_t size, gfp_t)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (g_kmalloc_fail_in > 0 && --g_kmalloc_fail_in == 0)
		return nullptr;
	void *p = malloc(size ? size : 1);
	g_allocs[p] = size;
	return p;
}

void *kzalloc(size_t size, gfp_t flags)
{
	void *p = kmalloc(size, flags);
	if (p)
		memset(p, 0, size);
	return p;
}

void *kcalloc(size_t n, size_t size, gfp_t flags)
{
	return kzalloc(n * size, flags);
}

void kfree(const void *ptr)
{
	if (!ptr)
		return;
	{
		std::lock_guard<std::mutex> lk(g_mu);
		auto it = g_allocs.find(ptr);
		if (it == g_allocs.end()) {
			fprintf(stderr, "simkernel: kfree of unknown pointer %p\n", ptr);
			abort();
		}
		g_allocs.erase(it);
	}
	free(const_cast<void *>(ptr));
}

// ---- device tree --------------------------------------------------------------
struct property *of_find_property(const struct device_node *np, const char *name, int *lenp)
{
	if (!np)
		return nullptr;
	auto it = np->props.find(name);
	if (it == np->props.end())
		return nullptr;
	if (lenp)
		*lenp = (int)it->second.value.size();
	return const_cast<property *>(&it->second);
}

const void *of_get_property(const struct device_node *np, const char *name, int *lenp)
{
	property *p = of_find_property(np, name, lenp);
	if (!p)
		return nullptr;
	return p->value.empty() ? (const void *)p : p->value.data();
}

int of_property_read_u32(const struct device_node *np, const char *name, u32 *out)
{
	property *p = of_find_property(np, name, nullptr);
	if (!p)
		return -EINVAL;
	if (p->value.size() < 4)
		return -EOVERFLOW;
	*out = be32_to_cpup((const __be32 *)p->value.data());
	return 0;
}

struct device_node *of_find_compatible_node(struct device_node *from, const char *, const char *compat)
{
	bool after = from == nullptr;
	for (auto &n : g_nodes) {
		if (!after) {
			after = n.get() == from;
			continue;
		}
		if (n->compatible == compat)
			return n.get();
	}
	return nullptr;
}

void of_node_put(struct device_node *) {}

int of_get_named_gpio(struct device_node *np, const char *name, int index)
{
	property *p = of_find_property(np, name, nullptr);
	if (!p)
		return -ENOENT;
	if ((size_t)(index + 1) * 4 > p->value.size())
		return -EINVAL;
	return (int)be32_to_cpup((const __be32 *)(p->value.data() + 4 * index));
}

// ---- I2C ------------------------------------------------------------------------
int i2c_register_driver(struct module *, struct i2c_driver *driver)
{
	g_drivers.push_back(driver);
	for (auto &cl : g_clients)
		try_probe(cl, driver);
	return 0;
}

void i2c_del_driver(struct i2c_driver *driver)
{
	for (auto &cl : g_clients) {
		if (cl.driver != driver)
			continue;
		if (driver->remove)
			driver->remove(cl.client.get());
		cl.driver = nullptr;
	}
	g_drivers.erase(std::remove(g_drivers.begin(), g_drivers.end(), driver), g_drivers.end());
}

int i2c_transfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num)
{
	std::lock_guard<std::recursive_mutex> bus(g_bus);
	Adapter *ad = find_adapter(adap);
	if (!ad)
		return -ENODEV;
	if (g_i2c_fail_in > 0 && --g_i2c_fail_in == 0)
		return g_i2c_fail_err;
	for (int i = 0; i < num; i++) {
		auto it = ad->devices.find(msgs[i].addr);
		int r = it == ad->devices.end() ? -ENXIO : it->second->transfer(msgs[i]);
		if (r < 0 && !(msgs[i].flags & I2C_M_IGNORE_NAK))
			return r;
	}
	return num;
}

struct i2c_adapter *i2c_get_adapter(int nr)
{
	for (auto &ad : g_adapters)
		if (ad->adap.nr == nr)
			return &ad->adap;
	return nullptr;
}

void i2c_put_adapter(struct i2c_adapter *) {}

// ---- GPIO and interrupts --------------------------------------------------------
int gpio_request(unsigned int gpio, const char *label)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (g_gpio_fail_err) {
		int err = g_gpio_fail_err;
		g_gpio_fail_err = 0;
		return err;
	}
	if (!gpio_is_valid((int)gpio))
		return -EINVAL;
	if (g_gpios.count(gpio))
		return -EBUSY;
	g_gpios[gpio] = label ? label : "";
	return 0;
}

void gpio_free(unsigned int gpio)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (!g_gpios.erase(gpio))
		fprintf(stderr, "simkernel: gpio_free of unrequested gpio %u\n", gpio);
}

int gpio_direction_input(unsigned int gpio)
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_gpios.count(gpio) ? 0 : -EINVAL;
}

int gpio_direction_output(unsigned int gpio, int)
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_gpios.count(gpio) ? 0 : -EINVAL;
}

int gpio_get_value(unsigned int)
{
	return 0;
}
void gpio_set_value(unsigned int, int) {}
int gpio_to_irq(unsigned int gpio)
{
	return 200 + (int)gpio;
}

int request_threaded_irq(unsigned int irq, irq_handler_t handler, irq_handler_t thread_fn,
                         unsigned long flags, const char *name, void *dev)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (g_irq_fail_err) {
		int err = g_irq_fail_err;
		g_irq_fail_err = 0;
		return err;
	}
	if (!handler && !thread_fn)
		return -EINVAL;
	if (!handler && !(flags & IRQF_ONESHOT))
		return -EINVAL; // the kernel refuses a bare thread without one-shot
	if (g_irqs.count(irq))
		return -EBUSY;
	g_irqs[irq] = {handler, thread_fn, flags, name ? name : "", dev};
	return 0;
}

const void *free_irq(unsigned int irq, void *)
{
	std::lock_guard<std::mutex> lk(g_mu);
	if (!g_irqs.erase(irq)) {
		g_log.push_back({4, "Trying to free already-free IRQ " + std::to_string(irq) + "\n"});
		return nullptr;
	}
	return "";
}

// ---- kernel threads and wait queues ------------------------------------------
struct task_struct *kthread_create(int (*fn)(void *data), void *data, const char *namefmt, ...)
{
	char name[64];
	va_list ap;
	va_start(ap, namefmt);
	vsnprintf(name, sizeof(name), namefmt, ap);
	va_end(ap);
	auto *t = new task_struct;
	t->name = name;
	t->fn = fn;
	t->data = data;
	std::lock_guard<std::mutex> lk(g_wait_mu);
	g_tasks.push_back(t);
	return t;
}

int wake_up_process(struct task_struct *t)
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	if (t->state != task_struct::CREATED)
		return 0;
	t->state = task_struct::RUNNING;
	t->thread = std::thread([t] {
		t_current = t;
		int r = t->fn(t->data);
		std::lock_guard<std::mutex> l(g_wait_mu);
		t->result = r;
		t->state = task_struct::DEAD;
		g_wait_cv.notify_all();
	});
	return 1;
}

int kthread_stop(struct task_struct *t)
{
	bool started;
	{
		std::lock_guard<std::mutex> lk(g_wait_mu);
		t->should_stop = true;
		started = t->state != task_struct::CREATED;
		g_wait_cv.notify_all();
	}
	if (started)
		t->thread.join();
	std::lock_guard<std::mutex> lk(g_wait_mu);
	g_tasks.erase(std::remove(g_tasks.begin(), g_tasks.end(), t), g_tasks.end());
	int r = started ? t->result : -EINTR;
	delete t;
	return r;
}

bool kthread_should_stop(void)
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	return t_current && t_current->should_stop;
}

void init_waitqueue_head(wait_queue_head_t *wq)
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	wq->sim_gen = 0;
}

void wake_up(wait_queue_head_t *wq)
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	wq->sim_gen++;
	g_wait_cv.notify_all();
}

unsigned long sim_wait_prepare(wait_queue_head_t *wq)
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	return wq->sim_gen;
}

void sim_wait_sleep(wait_queue_head_t *wq, unsigned long gen)
{
	std::unique_lock<std::mutex> lk(g_wait_mu);
	task_struct *t = t_current;
	if (t) {
		t->state = task_struct::SLEEPING;
		t->wq = wq;
		t->snap = gen;
		g_wait_cv.notify_all();
	}
	g_wait_cv.wait(lk, [&] { return wq->sim_gen != gen || (t && t->should_stop); });
	if (t)
		t->state = task_struct::RUNNING;
}

void sim_wait_finish(void) {}

// ---- proc and seq_file ----------------------------------------------------------
struct proc_dir_entry *proc_create_data(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                        const struct file_operations *fops, void *data)
{
	std::lock_guard<std::mutex> lk(g_mu);
	std::string path = proc_path(name, parent);
	if (g_proc.count(path))
		return nullptr;
	auto e = std::make_unique<proc_dir_entry>();
	e->path = path;
	e->mode = mode;
	e->fops = fops;
	e->data = data;
	proc_dir_entry *raw = e.get();
	g_proc[path] = std::move(e);
	return raw;
}

struct proc_dir_entry *proc_create(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                   const struct file_operations *fops)
{
	return proc_create_data(name, mode, parent, fops, nullptr);
}

struct proc_dir_entry *proc_mkdir(const char *name, struct proc_dir_entry *parent)
{
	proc_dir_entry *e = proc_create_data(name, 0555, parent, nullptr, nullptr);
	if (e)
		e->dir = true;
	return e;
}

static std::function<void(const std::string &)> g_proc_on_remove;

void remove_proc_entry(const char *name, struct proc_dir_entry *parent)
{
	std::string path;
	{
		std::lock_guard<std::mutex> lk(g_mu);
		path = proc_path(name, parent);
	}
	if (g_proc_on_remove)
		g_proc_on_remove(path);
	std::lock_guard<std::mutex> lk(g_mu);
	if (!g_proc.erase(path))
		g_log.push_back({4, "remove_proc_entry: " + path + " not found\n"});
}

void *PDE_DATA(const struct inode *inode)
{
	return inode->i_private;
}

static constexpr size_t kSeqBufSize = 4096;

int seq_open(struct file *file, const struct seq_operations *op)
{
	auto *m = new seq_file{};
	m->buf = new char[kSeqBufSize];
	m->size = kSeqBufSize;
	m->op = op;
	file->private_data = m;
	return 0;
}

ssize_t seq_read(struct file *file, char __user *buf, size_t size, loff_t *ppos)
{
	auto *m = (seq_file *)file->private_data;
	if (!m->count) {
		m->from = 0;
		void *p = m->op->start(m, &m->index);
		while (p && !IS_ERR(p)) {
			if (m->op->show(m, p) < 0)
				break;
			p = m->op->next(m, p, &m->index);
			if (m->count >= size || m->count >= m->size)
				break;
		}
		m->op->stop(m, p);
	}
	size_t n = std::min(m->count, size);
	memcpy(buf, m->buf + m->from, n);
	m->from += n;
	m->count -= n;
	*ppos += (loff_t)n;
	return (ssize_t)n;
}

loff_t seq_lseek(struct file *file, loff_t offset, int)
{
	auto *m = (seq_file *)file->private_data;
	if (offset != 0)
		return -EINVAL;
	m->index = 0;
	m->count = 0;
	m->from = 0;
	file->f_pos = 0;
	return 0;
}

int seq_release(struct inode *, struct file *file)
{
	auto *m = (seq_file *)file->private_data;
	delete[] m->buf;
	delete m;
	file->private_data = nullptr;
	return 0;
}

static void *single_start(struct seq_file *, loff_t *pos)
{
	return *pos ? nullptr : (void *)1;
}
static void *single_next(struct seq_file *, void *, loff_t *pos)
{
	++*pos;
	return nullptr;
}
static void single_stop(struct seq_file *, void *) {}
static int single_show(struct seq_file *m, void *v)
{
	return m->single_show(m, v);
}
static const seq_operations single_ops = {single_start, single_stop, single_next, single_show};

int single_open(struct file *file, int (*show)(struct seq_file *, void *), void *data)
{
	seq_open(file, &single_ops);
	auto *m = (seq_file *)file->private_data;
	m->single_show = show;
	m->private_ = data;
	return 0;
}

int single_release(struct inode *inode, struct file *file)
{
	return seq_release(inode, file);
}

void seq_printf(struct seq_file *m, const char *fmt, ...)
{
	if (m->count >= m->size)
		return;
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(m->buf + m->count, m->size - m->count, fmt, ap);
	va_end(ap);
	// an overflowing record fills the buffer, as the kernel marks overflow
	m->count = n < 0 ? m->count : std::min(m->size, m->count + (size_t)n);
}

void seq_puts(struct seq_file *m, const char *s)
{
	seq_printf(m, "%s", s);
}

} // extern "C"

// ---- the steering side -------------------------------------------------------
namespace simk
{

void vendor_reset();

void reset()
{
	vendor_reset();
	{
		std::lock_guard<std::mutex> lk(g_mu);
		g_log.clear();
		g_kmalloc_fail_in = 0;
		g_gpios.clear();
		g_gpio_fail_err = 0;
		g_irqs.clear();
		g_irq_fail_err = 0;
		g_proc.clear();
		g_proc_on_remove = nullptr;
		for (auto &kv : params())
			memcpy(kv.second.ptr, kv.second.initial.data(), kv.second.size);
	}
	g_nodes.clear();
	g_clients.clear();
	g_drivers.clear();
	g_adapters.clear();
	g_i2c_fail_in = 0;
	{
		std::lock_guard<std::mutex> lk(g_clock_mu);
		for (timer_list *t : g_timers)
			t->sim_pending = 0;
		g_timers.clear();
	}
	advance_ns(10ull * 1000000000ull); // lets every rate limiter start afresh
}

uint64_t now_ns()
{
	std::lock_guard<std::mutex> lk(g_clock_mu);
	return g_ns;
}

unsigned long now_jiffies()
{
	return jiffies;
}

void advance_ns(uint64_t ns)
{
	std::vector<timer_list *> due;
	{
		std::lock_guard<std::mutex> lk(g_clock_mu);
		g_ns += ns;
		jiffies = kInitialJiffies + (unsigned long)(g_ns / kNsPerJiffy);
		for (timer_list *t : g_timers)
			if (time_after_eq(jiffies, t->expires))
				due.push_back(t);
		std::sort(due.begin(), due.end(),
		          [](timer_list *a, timer_list *b) { return time_before(a->expires, b->expires); });
		for (timer_list *t : due) {
			g_timers.erase(t);
			t->sim_pending = 0;
		}
	}
	for (timer_list *t : due)
		t->function(t->data);
}

std::vector<LogLine> log_lines()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_log;
}

bool log_contains(const std::string &needle, int level)
{
	for (auto &l : log_lines())
		if ((level < 0 || l.level == level) && l.text.find(needle) != std::string::npos)
			return true;
	return false;
}

int log_count(const std::string &needle)
{
	int n = 0;
	for (auto &l : log_lines())
		n += l.text.find(needle) != std::string::npos;
	return n;
}

void log_clear()
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_log.clear();
}

static Param &param(const std::string &name)
{
	auto it = params().find(name);
	if (it == params().end()) {
		fprintf(stderr, "simkernel: no module parameter %s\n", name.c_str());
		abort();
	}
	return it->second;
}

void param_set(const std::string &name, long value)
{
	Param &p = param(name);
	if (p.type == "bool")
		*(bool *)p.ptr = value != 0;
	else if (p.size == sizeof(int))
		*(int *)p.ptr = (int)value;
	else if (p.size == sizeof(long))
		*(long *)p.ptr = value;
	else
		abort();
}

long param_get(const std::string &name)
{
	Param &p = param(name);
	if (p.type == "bool")
		return *(bool *)p.ptr;
	if (p.size == sizeof(int))
		return *(int *)p.ptr;
	return *(long *)p.ptr;
}

std::string param_type(const std::string &name)
{
	return param(name).type;
}
std::string param_desc(const std::string &name)
{
	return param(name).desc;
}
unsigned int param_perm(const std::string &name)
{
	return param(name).perm;
}

std::string modinfo(const std::string &key)
{
	auto it = modinfo_map().find(key);
	return it == modinfo_map().end() ? std::string() : it->second;
}

size_t kmalloc_live()
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_allocs.size();
}

void kmalloc_fail_nth(int n)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_kmalloc_fail_in = n;
}

device_node *of_node_new(const std::string &compatible)
{
	g_nodes.push_back(std::make_unique<device_node>());
	g_nodes.back()->compatible = compatible;
	return g_nodes.back().get();
}

void of_set_u32(device_node *np, const std::string &name, uint32_t value)
{
	uint32_t be = cpu_to_be32(value);
	property &p = np->props[name];
	p.name = name;
	p.value.assign((uint8_t *)&be, (uint8_t *)&be + 4);
}

void of_set_flag(device_node *np, const std::string &name)
{
	property &p = np->props[name];
	p.name = name;
	p.value.clear();
}

i2c_adapter *i2c_adapter_new(int nr)
{
	auto ad = std::make_unique<Adapter>();
	ad->adap.nr = nr;
	snprintf(ad->adap.name, sizeof(ad->adap.name), "sim-i2c-%d", nr);
	g_adapters.push_back(std::move(ad));
	return &g_adapters.back()->adap;
}

void i2c_attach(i2c_adapter *adap, uint16_t addr7, I2cDevice *dev)
{
	std::lock_guard<std::recursive_mutex> bus(g_bus);
	find_adapter(adap)->devices[addr7] = dev;
}

void i2c_detach(i2c_adapter *adap, uint16_t addr7)
{
	std::lock_guard<std::recursive_mutex> bus(g_bus);
	find_adapter(adap)->devices.erase(addr7);
}

i2c_client *i2c_client_new(i2c_adapter *adap, uint16_t addr7, const std::string &name, device_node *np)
{
	Client cl;
	cl.client = std::make_unique<i2c_client>();
	cl.client->addr = addr7;
	snprintf(cl.client->name, sizeof(cl.client->name), "%s", name.c_str());
	cl.client->adapter = adap;
	cl.client->dev.of_node = np;
	g_clients.push_back(std::move(cl));
	Client &added = g_clients.back();
	i2c_client *raw = added.client.get();
	for (i2c_driver *drv : std::vector<i2c_driver *>(g_drivers))
		try_probe(g_clients.back(), drv);
	return raw;
}

void i2c_client_unbind(i2c_client *client)
{
	for (auto &cl : g_clients) {
		if (cl.client.get() != client || !cl.driver)
			continue;
		if (cl.driver->remove)
			cl.driver->remove(client);
		cl.driver = nullptr;
	}
}

void i2c_client_rebind(i2c_client *client)
{
	for (auto &cl : g_clients)
		if (cl.client.get() == client && !cl.driver)
			for (i2c_driver *drv : std::vector<i2c_driver *>(g_drivers))
				try_probe(cl, drv);
}

i2c_client *i2c_find_client(i2c_adapter *adap, const std::string &name)
{
	for (auto &cl : g_clients)
		if (cl.client->adapter == adap && name == cl.client->name)
			return cl.client.get();
	return nullptr;
}

bool i2c_client_bound(const i2c_client *client)
{
	for (auto &cl : g_clients)
		if (cl.client.get() == client)
			return cl.driver != nullptr;
	return false;
}

void i2c_fail_nth(int n, int err)
{
	std::lock_guard<std::recursive_mutex> bus(g_bus);
	g_i2c_fail_in = n;
	g_i2c_fail_err = err;
}

bool gpio_requested(unsigned int gpio)
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_gpios.count(gpio) != 0;
}

std::string gpio_label(unsigned int gpio)
{
	std::lock_guard<std::mutex> lk(g_mu);
	auto it = g_gpios.find(gpio);
	return it == g_gpios.end() ? std::string() : it->second;
}

void gpio_fail_request(int err)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_gpio_fail_err = err;
}

IrqInfo irq_info(unsigned int irq)
{
	std::lock_guard<std::mutex> lk(g_mu);
	IrqInfo info;
	auto it = g_irqs.find(irq);
	if (it == g_irqs.end())
		return info;
	info.requested = true;
	info.has_primary = it->second.handler != nullptr;
	info.has_thread = it->second.thread_fn != nullptr;
	info.flags = it->second.flags;
	info.name = it->second.name;
	return info;
}

void irq_fail_request(int err)
{
	std::lock_guard<std::mutex> lk(g_mu);
	g_irq_fail_err = err;
}

int irq_fire(unsigned int irq)
{
	Irq h;
	{
		std::lock_guard<std::mutex> lk(g_mu);
		auto it = g_irqs.find(irq);
		if (it == g_irqs.end())
			return IRQ_NONE;
		h = it->second;
	}
	irqreturn_t r = IRQ_WAKE_THREAD;
	if (h.handler)
		r = h.handler((int)irq, h.dev);
	if (r == IRQ_WAKE_THREAD && h.thread_fn)
		r = h.thread_fn((int)irq, h.dev);
	return r;
}

void kthreads_settle()
{
	std::unique_lock<std::mutex> lk(g_wait_mu);
	g_wait_cv.wait(lk, [] {
		for (task_struct *t : g_tasks) {
			if (t->state == task_struct::DEAD || t->state == task_struct::CREATED)
				continue;
			if (t->state != task_struct::SLEEPING || t->should_stop || t->wq->sim_gen != t->snap)
				return false;
		}
		return true;
	});
}

std::vector<std::string> kthread_names()
{
	std::lock_guard<std::mutex> lk(g_wait_mu);
	std::vector<std::string> names;
	for (task_struct *t : g_tasks)
		if (t->state != task_struct::DEAD)
			names.push_back(t->name);
	return names;
}

bool proc_exists(const std::string &path)
{
	std::lock_guard<std::mutex> lk(g_mu);
	return g_proc.count(path) != 0;
}

umode_t proc_mode(const std::string &path)
{
	std::lock_guard<std::mutex> lk(g_mu);
	auto it = g_proc.find(path);
	return it == g_proc.end() ? 0 : it->second->mode;
}

void proc_on_remove(std::function<void(const std::string &path)> hook)
{
	g_proc_on_remove = std::move(hook);
}

std::string proc_read(const std::string &path, size_t max_bytes, size_t chunk)
{
	const file_operations *fops;
	void *data;
	{
		std::lock_guard<std::mutex> lk(g_mu);
		auto it = g_proc.find(path);
		if (it == g_proc.end() || !it->second->fops)
			return {};
		fops = it->second->fops;
		data = it->second->data;
	}
	inode ino{data};
	file f{nullptr, 0, &ino};
	if (fops->open && fops->open(&ino, &f) < 0)
		return {};
	std::string out;
	std::vector<char> buf(chunk);
	while (out.size() < max_bytes) {
		ssize_t n = fops->read(&f, buf.data(), chunk, &f.f_pos);
		if (n <= 0)
			break;
		out.append(buf.data(), (size_t)n);
	}
	if (fops->release)
		fops->release(&ino, &f);
	if (out.size() > max_bytes)
		out.resize(max_bytes);
	return out;
}

} // namespace simk
