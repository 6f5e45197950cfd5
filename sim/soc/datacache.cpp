// "/dev/datacache%d": named caches of time-stamped elements that programs on
// the camera share. The daemon writes some (and learns through
// write-readiness when a reader waits) and reads others; tests stand in for
// the other programs through simsoc_datacache.h.
#include "datacache_ioctl.h"
#include "simsoc.h"
#include "simsoc_datacache.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{

// The eventfd value of a file that may not write: polls as not writable.
const uint64_t not_writable = 0xfffffffffffffffeull;
const uint32_t max_element_size = 4096;
const uint32_t max_element_count = 4096;

struct Element {
	std::vector<uint8_t> bytes;
	uint64_t sec = 0, usec = 0;
	uint64_t seq = 0;
};

struct Cache {
	std::string name;
	uint32_t size = 0, count = 0;
	std::deque<Element> ring;
	uint64_t last_seq = 0;
	int readers = 0; // other programs reading the cache
	int waiting = 0; // of them, those waiting for the next element
};

struct DcFile {
	simsoc_file *f;
	unsigned unit;
	std::map<int, uint64_t> read_upto; // caches read as a registered reader
	std::set<int> selected;
	uint64_t counter = 0;
};

struct Failure {
	int err;
	int count;
};

struct Model {
	std::mutex mu;
	std::vector<Cache> caches[SIMSOC_DATACACHE_UNITS];
	std::vector<DcFile *> files;
	std::map<unsigned long, Failure> failures;
};

Model &model()
{
	static Model *m = new Model;
	return *m;
}

// Under the lock from here on.

Cache *cache_by_id(unsigned unit, uint32_t id)
{
	std::vector<Cache> &caches = model().caches[unit];
	return id < caches.size() ? &caches[id] : nullptr;
}

int id_by_name(unsigned unit, const char *name)
{
	std::vector<Cache> &caches = model().caches[unit];
	for (size_t i = 0; i < caches.size(); i++)
		if (caches[i].name == name)
			return (int)i;
	return -1;
}

Cache *cache_by_name(unsigned unit, const char *name)
{
	int id = name && unit < SIMSOC_DATACACHE_UNITS ? id_by_name(unit, name) : -1;
	return id < 0 ? nullptr : &model().caches[unit][id];
}

void set_counter(DcFile *df, uint64_t value)
{
	if (df->counter == value)
		return;
	uint64_t old;
	if (read(df->f->backing_fd, &old, sizeof old) < 0 && errno != EAGAIN)
		return;
	if (value == 0 || write(df->f->backing_fd, &value, sizeof value) == (ssize_t)sizeof value)
		df->counter = value;
	else
		df->counter = 0;
}

void update_readiness(DcFile *df)
{
	const std::vector<Cache> &caches = model().caches[df->unit];
	if (!df->read_upto.empty()) {
		bool unread = false;
		for (const auto &r : df->read_upto)
			unread = unread || caches[r.first].last_seq > r.second;
		set_counter(df, unread ? 1 : 0);
		return;
	}
	bool writable = false;
	for (int id : df->selected)
		writable = writable || caches[id].waiting > 0;
	set_counter(df, writable ? 0 : not_writable);
}

void update_unit(unsigned unit)
{
	for (DcFile *df : model().files)
		if (df->unit == unit)
			update_readiness(df);
}

void now(uint64_t *sec, uint64_t *usec)
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	*sec = (uint64_t)ts.tv_sec;
	*usec = (uint64_t)ts.tv_nsec / 1000;
}

// Hands the element to the readers that waited for it: their number.
int append(unsigned unit, Cache &c, const void *bytes, uint64_t sec, uint64_t usec)
{
	Element e;
	e.bytes.assign(static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + c.size);
	if (sec == 0 && usec == 0)
		now(&sec, &usec);
	e.sec = sec;
	e.usec = usec;
	e.seq = ++c.last_seq;
	c.ring.push_back(std::move(e));
	while (c.ring.size() > c.count)
		c.ring.pop_front();
	int delivered = c.waiting;
	c.waiting = 0;
	update_unit(unit);
	return delivered;
}

// The name field must hold its terminating NUL.
bool name_ok(const datacache_name &n)
{
	return memchr(n.name, '\0', sizeof n.name) && n.name[0] != '\0';
}

// The request's name record, logged; false when the name is not one.
bool take_name(const DcFile *df, void *arg, const char *request, datacache_name *n)
{
	memcpy(n, arg, sizeof *n);
	if (!name_ok(*n))
		return false;
	simsoc_log("datacache%u: %s %s %u %u", df->unit, request, n->name, n->word[0], n->word[1]);
	return true;
}

int do_find(DcFile *df, void *arg)
{
	datacache_name n;
	if (!take_name(df, arg, "find", &n))
		return -EINVAL;
	int id = id_by_name(df->unit, n.name);
	if (id < 0)
		return -ENOENT;
	if (n.word[0] == 1 && !df->read_upto.count(id)) {
		df->read_upto[id] = model().caches[df->unit][id].last_seq;
		update_readiness(df);
	}
	return id;
}

int do_create(DcFile *df, void *arg)
{
	datacache_name n;
	if (!take_name(df, arg, "create", &n))
		return -EINVAL;
	uint32_t size = n.word[0], count = n.word[1];
	if (size == 0 || size > max_element_size || count == 0 || count > max_element_count)
		return -EINVAL;
	int id = id_by_name(df->unit, n.name);
	if (id >= 0)
		return model().caches[df->unit][id].size == size ? id : -EEXIST;
	Cache c;
	c.name = n.name;
	c.size = size;
	c.count = count;
	model().caches[df->unit].push_back(std::move(c));
	return (int)model().caches[df->unit].size() - 1;
}

int do_write(DcFile *df, void *arg)
{
	datacache_element e;
	memcpy(&e, arg, sizeof e);
	Cache *c = cache_by_id(df->unit, e.cache_id);
	if (!c || !e.address)
		return -EINVAL;
	return append(df->unit, *c, reinterpret_cast<const void *>(e.address), e.sec, e.usec);
}

const Element *element_for(DcFile *df, Cache &c, int id, const datacache_element &e, int *left)
{
	if (c.ring.empty())
		return nullptr;
	switch (e.mode) {
	case DATACACHE_READ_LATEST:
		if (df->read_upto.count(id))
			df->read_upto[id] = c.last_seq;
		return &c.ring.back();
	case DATACACHE_READ_NEXT: {
		uint64_t &upto = df->read_upto[id];
		for (const Element &el : c.ring) {
			if (el.seq <= upto)
				continue;
			upto = el.seq;
			*left = (int)(c.last_seq - upto);
			return &el;
		}
		return nullptr;
	}
	case DATACACHE_READ_AT_TIME:
		for (const Element &el : c.ring)
			if (el.sec == e.sec && el.usec == e.usec)
				return &el;
		return nullptr;
	}
	return nullptr;
}

int do_read(DcFile *df, void *arg)
{
	datacache_element e;
	memcpy(&e, arg, sizeof e);
	Cache *c = cache_by_id(df->unit, e.cache_id);
	if (!c || !e.address || e.mode < DATACACHE_READ_LATEST || e.mode > DATACACHE_READ_AT_TIME)
		return -EINVAL;
	int left = 0;
	const Element *el = element_for(df, *c, (int)e.cache_id, e, &left);
	update_readiness(df);
	if (!el)
		return e.mode == DATACACHE_READ_AT_TIME ? -ENOENT : -EAGAIN;
	memcpy(reinterpret_cast<void *>(e.address), el->bytes.data(), el->bytes.size());
	e.sec = el->sec;
	e.usec = el->usec;
	memcpy(arg, &e, sizeof e);
	return left;
}

int do_details(DcFile *df, void *arg)
{
	datacache_details d;
	memcpy(&d, arg, sizeof d);
	Cache *c = cache_by_id(df->unit, d.cache_id);
	if (!c)
		return -EINVAL;
	uint32_t id = d.cache_id;
	memset(&d, 0, sizeof d);
	d.cache_id = id;
	d.has_reader = c->readers > 0;
	d.elements = (uint32_t)c->ring.size();
	d.waiting = (uint32_t)c->waiting;
	memcpy(arg, &d, sizeof d);
	return 0;
}

int do_select(DcFile *df, void *arg)
{
	datacache_select s;
	memcpy(&s, arg, sizeof s);
	simsoc_log("datacache%u: select %u %u", df->unit, s.cache_id, s.flag);
	if (!cache_by_id(df->unit, s.cache_id))
		return -EINVAL;
	if (s.flag)
		df->selected.insert((int)s.cache_id);
	else
		df->selected.erase((int)s.cache_id);
	update_readiness(df);
	return 0;
}

int failure_due(unsigned long code)
{
	auto it = model().failures.find(code);
	if (it == model().failures.end())
		return 0;
	int err = it->second.err;
	if (it->second.count > 0 && --it->second.count == 0)
		model().failures.erase(it);
	return err;
}

int dc_open(simsoc_file *f)
{
	if (f->unit < 0 || f->unit >= SIMSOC_DATACACHE_UNITS)
		return -ENOENT;
	int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	if (fd < 0)
		return -errno;
	f->backing_fd = fd;
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	auto *df = new DcFile{f, (unsigned)f->unit, {}, {}, 0};
	f->priv = df;
	m.files.push_back(df);
	update_readiness(df);
	return 0;
}

void dc_release(simsoc_file *f)
{
	auto *df = static_cast<DcFile *>(f->priv);
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	m.files.erase(std::remove(m.files.begin(), m.files.end(), df), m.files.end());
	delete df;
}

int dc_ioctl(simsoc_file *f, unsigned long request, void *arg)
{
	auto *df = static_cast<DcFile *>(f->priv);
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	int (*handle)(DcFile *, void *) = nullptr;
	switch (request) {
	case DATACACHE_IOC_FIND:
		handle = do_find;
		break;
	case DATACACHE_IOC_CREATE:
		handle = do_create;
		break;
	case DATACACHE_IOC_WRITE:
		handle = do_write;
		break;
	case DATACACHE_IOC_READ:
		handle = do_read;
		break;
	case DATACACHE_IOC_DETAILS:
		handle = do_details;
		break;
	case DATACACHE_IOC_SELECT:
		handle = do_select;
		break;
	default:
		return -ENOTTY;
	}
	if (!arg)
		return -EFAULT;
	int err = failure_due(request);
	if (err)
		return -err;
	return handle(df, arg);
}

const simsoc_model_ops dc_ops = {
    .name = "datacache",
    .open = dc_open,
    .release = dc_release,
    .ioctl = dc_ioctl,
};

__attribute__((constructor)) void dc_register()
{
	simsoc_register(DATACACHE_DEVICE_PATTERN, &dc_ops, nullptr);
}

// Runs fn on the named cache under the lock: its result, or -1 without one.
template <typename Fn> int with_cache(unsigned unit, const char *name, Fn fn)
{
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	Cache *c = cache_by_name(unit, name);
	return c ? fn(*c) : -1;
}

} // namespace

extern "C" int simsoc_datacache_create(unsigned unit, const char *name, uint32_t element_size,
                                       uint32_t element_count)
{
	if (unit >= SIMSOC_DATACACHE_UNITS || !name || !*name || strlen(name) >= DATACACHE_NAME_SIZE ||
	    element_size == 0 || element_size > max_element_size || element_count == 0 ||
	    element_count > max_element_count)
		return -1;
	datacache_name n = {};
	memcpy(n.name, name, strlen(name));
	n.word[0] = element_size;
	n.word[1] = element_count;
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	DcFile outside{nullptr, unit, {}, {}, 0};
	int id = do_create(&outside, &n);
	return id < 0 ? -1 : id;
}

extern "C" int simsoc_datacache_push(unsigned unit, const char *name, const void *element, uint64_t sec,
                                     uint64_t usec)
{
	if (!element)
		return -1;
	return with_cache(unit, name, [&](Cache &c) {
		append(unit, c, element, sec, usec);
		return 0;
	});
}

extern "C" int simsoc_datacache_add_reader(unsigned unit, const char *name)
{
	return with_cache(unit, name, [&](Cache &c) {
		c.readers++;
		c.waiting++;
		update_unit(unit);
		return 0;
	});
}

extern "C" int simsoc_datacache_wait(unsigned unit, const char *name)
{
	return with_cache(unit, name, [&](Cache &c) {
		c.waiting = c.readers;
		update_unit(unit);
		return 0;
	});
}

extern "C" int simsoc_datacache_remove_reader(unsigned unit, const char *name)
{
	return with_cache(unit, name, [&](Cache &c) {
		if (c.readers == 0)
			return -1;
		c.readers--;
		c.waiting = std::min(c.waiting, c.readers);
		update_unit(unit);
		return 0;
	});
}

extern "C" int simsoc_datacache_latest(unsigned unit, const char *name, void *out, size_t max, uint64_t *sec,
                                       uint64_t *usec)
{
	return with_cache(unit, name, [&](Cache &c) {
		if (c.ring.empty())
			return -1;
		const Element &e = c.ring.back();
		if (out)
			memcpy(out, e.bytes.data(), std::min(max, e.bytes.size()));
		if (sec)
			*sec = e.sec;
		if (usec)
			*usec = e.usec;
		return (int)e.bytes.size();
	});
}

extern "C" uint32_t simsoc_datacache_elements(unsigned unit, const char *name)
{
	int n = with_cache(unit, name, [](Cache &c) { return (int)c.ring.size(); });
	return n < 0 ? 0 : (uint32_t)n;
}

extern "C" void simsoc_datacache_fail(unsigned long code, int err, int count)
{
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	if (err == 0) {
		if (code == 0)
			m.failures.clear();
		else
			m.failures.erase(code);
		return;
	}
	m.failures[code] = {err, count};
}

extern "C" void simsoc_datacache_reset(void)
{
	Model &m = model();
	std::lock_guard<std::mutex> lk(m.mu);
	for (std::vector<Cache> &caches : m.caches)
		caches.clear();
	m.failures.clear();
	for (DcFile *df : m.files) {
		df->read_upto.clear();
		df->selected.clear();
		update_readiness(df);
	}
}
