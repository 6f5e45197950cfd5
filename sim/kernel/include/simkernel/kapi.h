/*
 * User-space rendition of the kernel interfaces the camera drivers use.
 *
 * The drivers include the usual <linux/...> headers; in the host build each
 * of those lands here, so the driver sources compile unchanged and run
 * against simulated chips.  The API is that of Linux 4.14, the kernel the
 * camera ships with.  Everything the simulation needs to steer or observe
 * lives in <simkernel/sim.h>, never here.
 */
#ifndef SIMKERNEL_KAPI_H
#define SIMKERNEL_KAPI_H

#include <linux/errno.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- basic types and helpers ------------------------------------------ */
typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;
typedef uint16_t __be16;
typedef uint32_t __be32;
typedef unsigned int gfp_t;
typedef unsigned short umode_t;

#define ERESTARTSYS 512

#define __init
#define __exit
#define __user
#define __iomem
#define __maybe_unused __attribute__((unused))
#define __always_unused __attribute__((unused))
#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)

#define READ_ONCE(x) (*(const volatile __typeof__(x) *)&(x))
#define WRITE_ONCE(x, v) (*(volatile __typeof__(x) *)&(x) = (v))
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#define BIT(n) (1UL << (n))
#define container_of(ptr, type, member) ((type *)((char *)(ptr)-offsetof(type, member)))
#define BUILD_BUG_ON(cond) _Static_assert(!(cond), "BUILD_BUG_ON: " #cond)
#define min_t(t, a, b) ((t)(a) < (t)(b) ? (t)(a) : (t)(b))
#define max_t(t, a, b) ((t)(a) > (t)(b) ? (t)(a) : (t)(b))
#define clamp_t(t, v, lo, hi) min_t(t, max_t(t, v, lo), hi)
#define DIV_ROUND_UP(n, d) (((n) + (d)-1) / (d))

#define MAX_ERRNO 4095
#define IS_ERR_VALUE(x) ((unsigned long)(void *)(x) >= (unsigned long)-MAX_ERRNO)
static inline void *ERR_PTR(long error)
{
	return (void *)error;
}
static inline long PTR_ERR(const void *ptr)
{
	return (long)ptr;
}
static inline bool IS_ERR(const void *ptr)
{
	return IS_ERR_VALUE((unsigned long)ptr);
}
static inline bool IS_ERR_OR_NULL(const void *ptr)
{
	return !ptr || IS_ERR(ptr);
}

static inline ssize_t strscpy(char *dst, const char *src, size_t size)
{
	size_t len = strnlen(src, size);

	if (!size)
		return -E2BIG;
	if (len == size) {
		memcpy(dst, src, size - 1);
		dst[size - 1] = 0;
		return -E2BIG;
	}
	memcpy(dst, src, len + 1);
	return (ssize_t)len;
}

static inline u64 div_u64(u64 dividend, u32 divisor)
{
	return dividend / divisor;
}
static inline u64 div64_u64(u64 dividend, u64 divisor)
{
	return dividend / divisor;
}

static inline u16 be16_to_cpu(__be16 v)
{
	return __builtin_bswap16(v);
}
static inline u32 be32_to_cpu(__be32 v)
{
	return __builtin_bswap32(v);
}
static inline u32 be32_to_cpup(const __be32 *p)
{
	return __builtin_bswap32(*p);
}
static inline __be16 cpu_to_be16(u16 v)
{
	return __builtin_bswap16(v);
}
static inline __be32 cpu_to_be32(u32 v)
{
	return __builtin_bswap32(v);
}

/* ---- modules ------------------------------------------------------------ */
struct module;
#define THIS_MODULE ((struct module *)0)
#define EXPORT_SYMBOL(sym)
#define EXPORT_SYMBOL_GPL(sym)
#define MODULE_DEVICE_TABLE(type, name)

void sim_modinfo_add(const char *key, const char *value);
void sim_param_register(const char *name, const char *type, void *ptr, size_t size, unsigned int perm);
void sim_param_describe(const char *name, const char *desc);

#define SIM_CAT2(a, b) a##b
#define SIM_CAT(a, b) SIM_CAT2(a, b)
#define SIM_MODINFO(key, value)                                                                              \
	static void __attribute__((constructor)) SIM_CAT(sim_modinfo_, __LINE__)(void)                       \
	{                                                                                                    \
		sim_modinfo_add(key, value);                                                                 \
	}
#define MODULE_LICENSE(s) SIM_MODINFO("license", s)
#define MODULE_DESCRIPTION(s) SIM_MODINFO("description", s)
#define MODULE_AUTHOR(s) SIM_MODINFO("author", s)
#define MODULE_SOFTDEP(s) SIM_MODINFO("softdep", s)
#define MODULE_VERSION(s) SIM_MODINFO("version", s)

#define module_param(name, type, perm)                                                                       \
	static void __attribute__((constructor)) sim_param_reg_##name(void)                                  \
	{                                                                                                    \
		sim_param_register(#name, #type, &name, sizeof(name), perm);                                 \
	}
#define MODULE_PARM_DESC(name, desc)                                                                         \
	static void __attribute__((constructor)) sim_param_desc_##name(void)                                 \
	{                                                                                                    \
		sim_param_describe(#name, desc);                                                             \
	}

/* One module per host program: its init and exit become these two entries. */
int sim_module_init(void);
void sim_module_exit(void);
#define module_init(fn)                                                                                      \
	int sim_module_init(void)                                                                            \
	{                                                                                                    \
		return fn();                                                                                 \
	}
#define module_exit(fn)                                                                                      \
	void sim_module_exit(void)                                                                           \
	{                                                                                                    \
		fn();                                                                                        \
	}

/* ---- printk ------------------------------------------------------------- */
#define KERN_SOH "\001"
#define KERN_EMERG KERN_SOH "0"
#define KERN_ALERT KERN_SOH "1"
#define KERN_CRIT KERN_SOH "2"
#define KERN_ERR KERN_SOH "3"
#define KERN_WARNING KERN_SOH "4"
#define KERN_NOTICE KERN_SOH "5"
#define KERN_INFO KERN_SOH "6"
#define KERN_DEBUG KERN_SOH "7"

int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
#define pr_err(fmt, ...) printk(KERN_ERR fmt, ##__VA_ARGS__)
#define pr_warn(fmt, ...) printk(KERN_WARNING fmt, ##__VA_ARGS__)
#define pr_info(fmt, ...) printk(KERN_INFO fmt, ##__VA_ARGS__)
#define pr_debug(fmt, ...) printk(KERN_DEBUG fmt, ##__VA_ARGS__)

/* ---- time ----------------------------------------------------------------*/
#define HZ 100
extern volatile unsigned long jiffies;
#define time_after(a, b) ((long)((b) - (a)) < 0)
#define time_before(a, b) time_after(b, a)
#define time_after_eq(a, b) ((long)((a) - (b)) >= 0)
#define time_before_eq(a, b) time_after_eq(b, a)
static inline unsigned long msecs_to_jiffies(unsigned int m)
{
	return (m + (1000 / HZ) - 1) / (1000 / HZ);
}
static inline unsigned int jiffies_to_msecs(unsigned long j)
{
	return (unsigned int)(j * (1000 / HZ));
}

void msleep(unsigned int msecs);
void mdelay(unsigned long msecs);
void udelay(unsigned long usecs);
void usleep_range(unsigned long min, unsigned long max);

struct ratelimit_state {
	int interval;
	int burst;
	int printed;
	int missed;
	unsigned long begin;
};
#define DEFAULT_RATELIMIT_INTERVAL (5 * HZ)
#define DEFAULT_RATELIMIT_BURST 10
#define DEFINE_RATELIMIT_STATE(name, interval_init, burst_init)                                              \
	struct ratelimit_state name = {interval_init, burst_init, 0, 0, 0}
int ___ratelimit(struct ratelimit_state *rs, const char *func);
#define __ratelimit(state) ___ratelimit(state, __func__)
#define printk_ratelimited(fmt, ...)                                                                         \
	({                                                                                                   \
		static DEFINE_RATELIMIT_STATE(_rs, DEFAULT_RATELIMIT_INTERVAL, DEFAULT_RATELIMIT_BURST);     \
		if (__ratelimit(&_rs))                                                                       \
			printk(fmt, ##__VA_ARGS__);                                                          \
	})

/* timers (the 4.14 interface: callbacks take the data word) */
struct timer_list {
	unsigned long expires;
	void (*function)(unsigned long);
	unsigned long data;
	u32 flags;
	int sim_pending;
};
void init_timer(struct timer_list *timer);
void setup_timer(struct timer_list *timer, void (*fn)(unsigned long), unsigned long data);
int mod_timer(struct timer_list *timer, unsigned long expires);
void add_timer(struct timer_list *timer);
int del_timer(struct timer_list *timer);
int del_timer_sync(struct timer_list *timer);
int timer_pending(const struct timer_list *timer);

/* ---- memory ------------------------------------------------------------- */
#define GFP_KERNEL 0x01u
#define GFP_ATOMIC 0x02u
void *kmalloc(size_t size, gfp_t flags);
void *kzalloc(size_t size, gfp_t flags);
void *kcalloc(size_t n, size_t size, gfp_t flags);
void kfree(const void *ptr);

static inline unsigned long copy_to_user(void __user *to, const void *from, unsigned long n)
{
	memcpy(to, from, n);
	return 0;
}

/* ---- device tree ---------------------------------------------------------*/
struct device_node;
struct property;
struct of_device_id {
	char name[32];
	char type[32];
	char compatible[128];
	const void *data;
};
#define of_match_ptr(p) (p)
struct property *of_find_property(const struct device_node *np, const char *name, int *lenp);
const void *of_get_property(const struct device_node *np, const char *name, int *lenp);
int of_property_read_u32(const struct device_node *np, const char *name, u32 *out);
static inline bool of_property_read_bool(const struct device_node *np, const char *name)
{
	return of_find_property(np, name, NULL) != NULL;
}
struct device_node *of_find_compatible_node(struct device_node *from, const char *type, const char *compat);
void of_node_put(struct device_node *np);
int of_get_named_gpio(struct device_node *np, const char *name, int index);

/* ---- devices and I2C -----------------------------------------------------*/
struct device_driver {
	const char *name;
	struct module *owner;
	const struct of_device_id *of_match_table;
};
struct device {
	struct device_node *of_node;
	void *driver_data;
};
static inline void *dev_get_drvdata(const struct device *dev)
{
	return dev->driver_data;
}
static inline void dev_set_drvdata(struct device *dev, void *data)
{
	dev->driver_data = data;
}

#define I2C_NAME_SIZE 20
#define I2C_M_RD 0x0001
#define I2C_M_TEN 0x0010
#define I2C_M_IGNORE_NAK 0x1000
struct i2c_msg {
	u16 addr;
	u16 flags;
	u16 len;
	u8 *buf;
};
struct i2c_adapter {
	int nr;
	char name[48];
};
struct i2c_client {
	unsigned short flags;
	unsigned short addr;
	char name[I2C_NAME_SIZE];
	struct i2c_adapter *adapter;
	struct device dev;
	int irq;
};
#define to_i2c_client(d) container_of(d, struct i2c_client, dev)
struct i2c_device_id {
	char name[I2C_NAME_SIZE];
	unsigned long driver_data;
};
struct i2c_driver {
	int (*probe)(struct i2c_client *client, const struct i2c_device_id *id);
	int (*remove)(struct i2c_client *client);
	struct device_driver driver;
	const struct i2c_device_id *id_table;
};
int i2c_register_driver(struct module *owner, struct i2c_driver *driver);
void i2c_del_driver(struct i2c_driver *driver);
#define i2c_add_driver(d) i2c_register_driver(THIS_MODULE, d)
int i2c_transfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num);
struct i2c_adapter *i2c_get_adapter(int nr);
void i2c_put_adapter(struct i2c_adapter *adap);
static inline void *i2c_get_clientdata(const struct i2c_client *c)
{
	return c->dev.driver_data;
}
static inline void i2c_set_clientdata(struct i2c_client *c, void *d)
{
	c->dev.driver_data = d;
}

/* ---- GPIO and interrupts -------------------------------------------------*/
static inline bool gpio_is_valid(int number)
{
	return number >= 0 && number < 512;
}
int gpio_request(unsigned int gpio, const char *label);
void gpio_free(unsigned int gpio);
int gpio_direction_input(unsigned int gpio);
int gpio_direction_output(unsigned int gpio, int value);
int gpio_get_value(unsigned int gpio);
void gpio_set_value(unsigned int gpio, int value);
int gpio_to_irq(unsigned int gpio);

typedef enum irqreturn { IRQ_NONE = 0, IRQ_HANDLED = 1, IRQ_WAKE_THREAD = 2 } irqreturn_t;
typedef irqreturn_t (*irq_handler_t)(int irq, void *dev_id);
#define IRQF_TRIGGER_RISING 0x00000001
#define IRQF_TRIGGER_FALLING 0x00000002
#define IRQF_ONESHOT 0x00002000
int request_threaded_irq(unsigned int irq, irq_handler_t handler, irq_handler_t thread_fn,
                         unsigned long flags, const char *name, void *dev);
const void *free_irq(unsigned int irq, void *dev_id);

/* ---- threads and wait queues -------------------------------------------- */
struct task_struct;
struct task_struct *kthread_create(int (*fn)(void *data), void *data, const char *namefmt, ...)
    __attribute__((format(printf, 3, 4)));
int wake_up_process(struct task_struct *task);
#define kthread_run(fn, data, namefmt, ...)                                                                  \
	({                                                                                                   \
		struct task_struct *__k = kthread_create(fn, data, namefmt, ##__VA_ARGS__);                  \
		if (!IS_ERR(__k))                                                                            \
			wake_up_process(__k);                                                                \
		__k;                                                                                         \
	})
int kthread_stop(struct task_struct *task);
bool kthread_should_stop(void);

typedef struct wait_queue_head {
	unsigned long sim_gen;
} wait_queue_head_t;
#define DECLARE_WAIT_QUEUE_HEAD(name) wait_queue_head_t name = {0}
void init_waitqueue_head(wait_queue_head_t *wq);
void wake_up(wait_queue_head_t *wq);
#define wake_up_interruptible(wq) wake_up(wq)
#define wake_up_all(wq) wake_up(wq)
unsigned long sim_wait_prepare(wait_queue_head_t *wq);
void sim_wait_sleep(wait_queue_head_t *wq, unsigned long gen);
void sim_wait_finish(void);
#define wait_event(wq, condition)                                                                            \
	do {                                                                                                 \
		for (;;) {                                                                                   \
			unsigned long __g = sim_wait_prepare(&(wq));                                         \
			if (condition)                                                                       \
				break;                                                                       \
			sim_wait_sleep(&(wq), __g);                                                          \
		}                                                                                            \
		sim_wait_finish();                                                                           \
	} while (0)
/* Nothing here delivers signals, so an interruptible wait ends only when
 * its condition holds. */
#define wait_event_interruptible(wq, condition)                                                              \
	({                                                                                                   \
		wait_event(wq, condition);                                                                   \
		0;                                                                                           \
	})

/* ---- proc and seq_file ---------------------------------------------------*/
struct inode {
	void *i_private;
};
struct file {
	void *private_data;
	loff_t f_pos;
	struct inode *f_inode;
};
struct file_operations {
	struct module *owner;
	int (*open)(struct inode *inode, struct file *file);
	ssize_t (*read)(struct file *file, char __user *buf, size_t size, loff_t *ppos);
	ssize_t (*write)(struct file *file, const char __user *buf, size_t size, loff_t *ppos);
	loff_t (*llseek)(struct file *file, loff_t offset, int whence);
	int (*release)(struct inode *inode, struct file *file);
};
struct proc_dir_entry;
struct proc_dir_entry *proc_create(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                   const struct file_operations *fops);
struct proc_dir_entry *proc_create_data(const char *name, umode_t mode, struct proc_dir_entry *parent,
                                        const struct file_operations *fops, void *data);
struct proc_dir_entry *proc_mkdir(const char *name, struct proc_dir_entry *parent);
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
void *PDE_DATA(const struct inode *inode);

struct seq_file;
struct seq_operations {
	void *(*start)(struct seq_file *m, loff_t *pos);
	void (*stop)(struct seq_file *m, void *v);
	void *(*next)(struct seq_file *m, void *v, loff_t *pos);
	int (*show)(struct seq_file *m, void *v);
};
struct seq_file {
	char *buf;
	size_t size;
	size_t from;
	size_t count;
	loff_t index;
	const struct seq_operations *op;
#ifdef __cplusplus
	void *private_;
#else
	void *private;
#endif
	int (*single_show)(struct seq_file *m, void *v);
};
int seq_open(struct file *file, const struct seq_operations *op);
ssize_t seq_read(struct file *file, char __user *buf, size_t size, loff_t *ppos);
loff_t seq_lseek(struct file *file, loff_t offset, int whence);
int seq_release(struct inode *inode, struct file *file);
int single_open(struct file *file, int (*show)(struct seq_file *, void *), void *data);
int single_release(struct inode *inode, struct file *file);
void seq_printf(struct seq_file *m, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void seq_puts(struct seq_file *m, const char *s);

#ifdef __cplusplus
}
#endif

#endif
