// The interposition frame: which paths and sockets are simulated, which
// descriptors belong to models, and the hand-off of every call to either the
// model or the real C library.
#undef _FORTIFY_SOURCE
#include "simsoc.h"
#include "simsoc_internal.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <linux/kcmp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buf, size_t len, size_t buflen);
ssize_t __pread_chk(int fd, void *buf, size_t len, off_t off, size_t buflen);
ssize_t __pread64_chk(int fd, void *buf, size_t len, off64_t off, size_t buflen);
void __chk_fail(void) __attribute__((noreturn));
}

namespace
{

template <typename F> F resolve(const char *name)
{
	void *p = dlsym(RTLD_NEXT, name);
	if (!p) {
		static const char msg[] = "libsimsoc: cannot resolve a C library call\n";
		(void)!::syscall(1 /* write */, 2, msg, sizeof msg - 1);
		abort();
	}
	return reinterpret_cast<F>(p);
}

#define REAL(fn)                                                                                             \
	([]() {                                                                                              \
		static const auto p = resolve<decltype(&::fn)>(#fn);                                         \
		return p;                                                                                    \
	}())

struct Model {
	std::string pattern;
	bool is_pattern;
	const simsoc_model_ops *ops;
	void *model;
};

struct SocketModel {
	int domain;
	int protocol;
	const simsoc_model_ops *ops;
	void *model;
};

std::atomic<int> g_live_files{0};

struct OpenFile {
	simsoc_file f{};
	std::string path;
	const simsoc_model_ops *ops = nullptr;
	int backing = -1;
	bool eventfd_backing = false;
	std::mutex ready_mu;
	bool readable = false;

	OpenFile()
	{
		g_live_files++;
	}
	~OpenFile()
	{
		if (ops && ops->release && opened)
			ops->release(&f);
		if (backing >= 0)
			REAL(close)(backing);
		g_live_files--;
	}
	bool opened = false;
};
using FilePtr = std::shared_ptr<OpenFile>;

struct Mapping {
	uintptr_t addr;
	size_t len;
	FilePtr file;
	bool by_model;
	// A model's memory mapped again at an address the caller fixed: the
	// alias is ours to unmap; the model is told of its own address.
	bool alias;
	void *model_addr;
};

struct State {
	std::shared_mutex mu;
	std::vector<Model> models;
	std::vector<SocketModel> sockets;
	std::unordered_map<int, FilePtr> fds;
	std::vector<Mapping> maps;
	std::atomic<int> nfds{0};
	std::atomic<int> nmaps{0};
	std::atomic<int> nmodels{0};
};

// Never destroyed: calls arrive from other libraries' constructors and
// destructors, before and after ours.
State &state()
{
	static State *s = new State;
	return *s;
}

bool match_pattern(const std::string &pat, const char *path, int *unit)
{
	const char *p = pat.c_str();
	const char *s = path;
	while (*p) {
		if (p[0] == '%' && p[1] == '%') {
			if (*s != '%')
				return false;
			p += 2;
			s++;
			continue;
		}
		if (p[0] == '%' && (p[1] == 'u' || p[1] == 'd')) {
			bool neg = false;
			if (p[1] == 'd' && *s == '-') {
				neg = true;
				s++;
			}
			if (*s < '0' || *s > '9')
				return false;
			long v = 0;
			while (*s >= '0' && *s <= '9') {
				v = v * 10 + (*s - '0');
				if (v > 0x7fffffff)
					return false;
				s++;
			}
			*unit = neg ? -(int)v : (int)v;
			p += 2;
			continue;
		}
		if (*p != *s)
			return false;
		p++;
		s++;
	}
	return *s == '\0';
}

bool find_model(const char *path, Model *out, int *unit)
{
	State &st = state();
	if (!path || st.nmodels.load(std::memory_order_acquire) == 0)
		return false;
	std::shared_lock<std::shared_mutex> lk(st.mu);
	for (const Model &m : st.models) {
		if (!m.is_pattern && m.pattern == path) {
			*out = m;
			*unit = 0;
			return true;
		}
	}
	for (const Model &m : st.models) {
		if (m.is_pattern && match_pattern(m.pattern, path, unit)) {
			*out = m;
			return true;
		}
	}
	return false;
}

// Whether fd still refers to the file description behind the entry. The
// frame sees only the closes it intercepts: a stream closed by fclose, or a
// raw close system call, frees the number without telling us, and the
// kernel may hand it out again for anything.
bool same_file(int fd, const OpenFile &file)
{
	static std::atomic<bool> kcmp_missing{false};
	int saved = errno;
	bool same = false;
	pid_t pid = getpid();
	long r = kcmp_missing.load(std::memory_order_relaxed)
	             ? -1
	             : syscall(SYS_kcmp, pid, pid, KCMP_FILE, fd, file.backing);
	if (r >= 0) {
		same = r == 0;
	} else if (!kcmp_missing.load(std::memory_order_relaxed) && errno == EBADF) {
		same = false;
	} else {
		// Without kcmp (kernel option, seccomp) the backing file's identity
		// still tells a pipe, socket or regular file from ours.
		kcmp_missing.store(true, std::memory_order_relaxed);
		struct stat a, b;
		same = REAL(fstat)(fd, &a) == 0 && REAL(fstat)(file.backing, &b) == 0 &&
		       a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode;
	}
	errno = saved;
	return same;
}

// Removes the entry of fd if it still holds file.
void drop_entry(int fd, const FilePtr &file)
{
	State &st = state();
	FilePtr old;
	std::unique_lock<std::shared_mutex> lk(st.mu);
	auto it = st.fds.find(fd);
	if (it == st.fds.end() || it->second != file)
		return;
	old = std::move(it->second);
	st.fds.erase(it);
	st.nfds.store((int)st.fds.size(), std::memory_order_release);
	lk.unlock();
}

FilePtr lookup(int fd)
{
	State &st = state();
	if (fd < 0 || st.nfds.load(std::memory_order_acquire) == 0)
		return nullptr;
	FilePtr file;
	{
		std::shared_lock<std::shared_mutex> lk(st.mu);
		auto it = st.fds.find(fd);
		if (it == st.fds.end())
			return nullptr;
		file = it->second;
	}
	if (same_file(fd, *file))
		return file;
	drop_entry(fd, file);
	return nullptr;
}

// Forgets every entry whose number no longer refers to its file.
void drop_stale_entries()
{
	State &st = state();
	if (st.nfds.load(std::memory_order_acquire) == 0)
		return;
	std::vector<std::pair<int, FilePtr>> entries;
	{
		std::shared_lock<std::shared_mutex> lk(st.mu);
		entries.assign(st.fds.begin(), st.fds.end());
	}
	for (const auto &e : entries)
		if (!same_file(e.first, *e.second))
			drop_entry(e.first, e.second);
}

// A descriptor number the kernel just handed out cannot still belong to a
// model: the entry is stale (closed behind our back), so forget it.
void track(int fd, FilePtr file)
{
	State &st = state();
	FilePtr old;
	std::unique_lock<std::shared_mutex> lk(st.mu);
	auto it = st.fds.find(fd);
	if (it != st.fds.end()) {
		old = std::move(it->second);
		if (file)
			it->second = std::move(file);
		else
			st.fds.erase(it);
	} else if (file) {
		st.fds.emplace(fd, std::move(file));
	}
	st.nfds.store((int)st.fds.size(), std::memory_order_release);
	lk.unlock();
	// old is dropped here, outside the lock, so a release may call back in
}

void forget_range(unsigned first, unsigned last)
{
	State &st = state();
	if (st.nfds.load(std::memory_order_acquire) == 0)
		return;
	std::vector<FilePtr> gone;
	std::unique_lock<std::shared_mutex> lk(st.mu);
	for (auto it = st.fds.begin(); it != st.fds.end();) {
		if ((unsigned)it->first >= first && (unsigned)it->first <= last) {
			gone.push_back(std::move(it->second));
			it = st.fds.erase(it);
		} else {
			++it;
		}
	}
	st.nfds.store((int)st.fds.size(), std::memory_order_release);
	lk.unlock();
}

void forget(int fd)
{
	if (state().nfds.load(std::memory_order_acquire) == 0)
		return;
	track(fd, nullptr);
}

int fail(int err)
{
	errno = err;
	return -1;
}

template <typename T> T result(T r)
{
	if (r < 0) {
		errno = (int)-r;
		return -1;
	}
	return r;
}

int attach(FilePtr file, int cloexec)
{
	if (file->f.backing_fd < 0) {
		int efl = EFD_CLOEXEC;
		if (file->f.flags & O_NONBLOCK)
			efl |= EFD_NONBLOCK;
		file->f.backing_fd = eventfd(0, efl);
		if (file->f.backing_fd < 0)
			return -1;
		file->eventfd_backing = true;
	}
	file->backing = file->f.backing_fd;
	int fdflags = REAL(fcntl)(file->backing, F_GETFD);
	if (fdflags >= 0)
		REAL(fcntl)(file->backing, F_SETFD, fdflags | FD_CLOEXEC);
	int fd = REAL(fcntl)(file->backing, cloexec ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
	if (fd < 0)
		return -1;
	track(fd, std::move(file));
	return fd;
}

int open_model(const Model &m, int unit, const char *path, int flags)
{
	int err = simsoc_failure_due(path, SIMSOC_OP_OPEN);
	if (err)
		return fail(err);
	auto file = std::make_shared<OpenFile>();
	file->path = path;
	file->ops = m.ops;
	file->f.path = file->path.c_str();
	file->f.flags = flags;
	file->f.unit = unit;
	file->f.model = m.model;
	file->f.backing_fd = -1;
	file->f.internal = file.get();
	if (m.ops->open) {
		int r = m.ops->open(&file->f);
		if (r < 0) {
			if (file->f.backing_fd >= 0)
				REAL(close)(file->f.backing_fd);
			return fail(-r);
		}
	}
	file->opened = true;
	int fd = attach(file, flags & O_CLOEXEC);
	if (fd < 0) {
		int e = errno;
		file.reset();
		return fail(e);
	}
	return fd;
}

int try_open(const char *path, int flags, bool *handled)
{
	Model m;
	int unit = 0;
	*handled = find_model(path, &m, &unit);
	if (!*handled)
		return -1;
	return open_model(m, unit, path, flags);
}

int after_real_open(int fd)
{
	if (fd >= 0)
		forget(fd);
	return fd;
}

// The plain and 64-bit opens differ only in the C library call that serves
// a path no model claims; that call is resolved only when it is needed.
template <typename FallThrough>
int open_or_fall_through(bool simulable, const char *path, int flags, FallThrough fall_through)
{
	if (simulable) {
		bool handled;
		int r = try_open(path, flags, &handled);
		if (handled)
			return r;
	}
	return after_real_open(fall_through());
}

// Relative paths under another directory never name a device.
bool reachable_path(int dirfd, const char *path)
{
	return path && (path[0] == '/' || dirfd == AT_FDCWD);
}

mode_t open_mode(int flags, va_list ap)
{
	if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
		return (mode_t)va_arg(ap, int);
	return 0;
}

ssize_t sim_read(int fd, void *buf, size_t len)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(read)(fd, buf, len);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_READ);
	if (err)
		return fail(err);
	if (!file->ops->read)
		return REAL(read)(fd, buf, len);
	return result(file->ops->read(&file->f, buf, len));
}

ssize_t sim_write(int fd, const void *buf, size_t len)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(write)(fd, buf, len);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_WRITE);
	if (err)
		return fail(err);
	if (!file->ops->write)
		return REAL(write)(fd, buf, len);
	return result(file->ops->write(&file->f, buf, len));
}

off_t sim_lseek(int fd, off_t off, int whence)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(lseek)(fd, off, whence);
	if (!file->ops->lseek)
		return fail(ESPIPE);
	return result(file->ops->lseek(&file->f, off, whence));
}

// Positional reads and writes: a model either has its own, leaves the call to
// its backing descriptor (no read or write of its own), or, like most
// character devices, has no position to honour.
ssize_t sim_pread(int fd, void *buf, size_t len, off_t off)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(pread)(fd, buf, len, off);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_READ);
	if (err)
		return fail(err);
	if (file->ops->pread)
		return result(file->ops->pread(&file->f, buf, len, off));
	if (!file->ops->read)
		return REAL(pread)(fd, buf, len, off);
	return fail(ESPIPE);
}

ssize_t sim_pwrite(int fd, const void *buf, size_t len, off_t off)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(pwrite)(fd, buf, len, off);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_WRITE);
	if (err)
		return fail(err);
	if (file->ops->pwrite)
		return result(file->ops->pwrite(&file->f, buf, len, off));
	if (!file->ops->write)
		return REAL(pwrite)(fd, buf, len, off);
	return fail(ESPIPE);
}

// Vectored calls go to the model one segment at a time, as the kernel does
// for a driver without vectored operations: a short transfer ends the call.
template <typename Segment> ssize_t each_segment(const struct iovec *iov, int iovcnt, Segment segment)
{
	if (iovcnt < 0 || iovcnt > IOV_MAX)
		return fail(EINVAL);
	ssize_t total = 0;
	for (int i = 0; i < iovcnt; i++) {
		if (iov[i].iov_len == 0)
			continue;
		ssize_t r = segment(iov[i]);
		if (r < 0)
			return total > 0 ? total : fail((int)-r);
		total += r;
		if ((size_t)r < iov[i].iov_len)
			break;
	}
	return total;
}

ssize_t sim_readv(int fd, const struct iovec *iov, int iovcnt)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->read)
		return REAL(readv)(fd, iov, iovcnt);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_READ);
	if (err)
		return fail(err);
	return each_segment(iov, iovcnt, [&](const struct iovec &v) {
		return file->ops->read(&file->f, v.iov_base, v.iov_len);
	});
}

ssize_t sim_writev(int fd, const struct iovec *iov, int iovcnt)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->write)
		return REAL(writev)(fd, iov, iovcnt);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_WRITE);
	if (err)
		return fail(err);
	return each_segment(iov, iovcnt, [&](const struct iovec &v) {
		return file->ops->write(&file->f, v.iov_base, v.iov_len);
	});
}

int sim_close(int fd)
{
	forget(fd);
	return REAL(close)(fd);
}

int sim_dup_to(int oldfd, int r)
{
	if (r < 0)
		return r;
	FilePtr file = lookup(oldfd);
	if (r != oldfd)
		track(r, file);
	return r;
}

int sim_fcntl(int fd, int cmd, void *arg)
{
	int r = REAL(fcntl)(fd, cmd, arg);
	if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)
		return sim_dup_to(fd, r);
	return r;
}

void fill_stat(const Model &m, const char *path, struct stat *st)
{
	memset(st, 0, sizeof *st);
	st->st_mode = m.ops->mode ? m.ops->mode : (S_IFCHR | 0666);
	st->st_nlink = 1;
	st->st_blksize = 4096;
	st->st_dev = 0x5150;
	st->st_ino = std::hash<std::string>()(path);
	if (S_ISCHR(st->st_mode))
		st->st_rdev = makedev(240, (unsigned)(st->st_ino & 0xff));
}

template <typename StatT> int sim_stat(const char *path, StatT *st, bool *handled)
{
	Model m;
	int unit = 0;
	*handled = find_model(path, &m, &unit);
	if (!*handled)
		return -1;
	static_assert(sizeof(StatT) == sizeof(struct stat), "stat layouts differ");
	fill_stat(m, path, reinterpret_cast<struct stat *>(st));
	return 0;
}

bool is_model_dir(const char *path);

// A directory that holds models but does not exist here: stat and access see
// it, as they would on the device.
template <typename StatT> int dir_if_missing(int r, const char *path, StatT *st)
{
	int err = errno;
	if (r == 0 || err != ENOENT || !is_model_dir(path)) {
		errno = err;
		return r;
	}
	if (st) {
		memset(st, 0, sizeof *st);
		st->st_mode = S_IFDIR | 0755;
		st->st_nlink = 2;
		st->st_blksize = 4096;
		st->st_dev = 0x5150;
		st->st_ino = std::hash<std::string>()(path);
	}
	return 0;
}

template <typename StatT> int sim_fstat(int fd, StatT *st, bool *handled)
{
	FilePtr file = lookup(fd);
	*handled = file != nullptr;
	if (!file)
		return -1;
	Model m{file->path, false, file->ops, file->f.model};
	fill_stat(m, file->f.path, reinterpret_cast<struct stat *>(st));
	return 0;
}

// fopen on a model: the C library's FILE would read its descriptor through
// internal calls that bypass us, so the stream runs on cookie functions.
ssize_t cookie_read(void *c, char *buf, size_t len)
{
	return sim_read((int)(intptr_t)c, buf, len);
}

ssize_t cookie_write(void *c, const char *buf, size_t len)
{
	ssize_t r = sim_write((int)(intptr_t)c, buf, len);
	return r < 0 ? 0 : r;
}

int cookie_seek(void *c, off64_t *off, int whence)
{
	off_t r = sim_lseek((int)(intptr_t)c, *off, whence);
	if (r < 0)
		return -1;
	*off = r;
	return 0;
}

int cookie_close(void *c)
{
	return sim_close((int)(intptr_t)c);
}

int fopen_flags(const char *mode)
{
	int flags;
	switch (mode[0]) {
	case 'r':
		flags = O_RDONLY;
		break;
	case 'w':
		flags = O_WRONLY | O_CREAT | O_TRUNC;
		break;
	case 'a':
		flags = O_WRONLY | O_CREAT | O_APPEND;
		break;
	default:
		return -1;
	}
	for (const char *p = mode + 1; *p && *p != ','; p++) {
		if (*p == '+')
			flags = (flags & ~O_ACCMODE) | O_RDWR;
		else if (*p == 'e')
			flags |= O_CLOEXEC;
		else if (*p == 'x')
			flags |= O_EXCL;
	}
	return flags;
}

FILE *sim_fopen(const char *path, const char *mode, bool *handled)
{
	Model m;
	int unit = 0;
	*handled = find_model(path, &m, &unit);
	if (!*handled)
		return nullptr;
	int flags = mode ? fopen_flags(mode) : -1;
	if (flags < 0) {
		errno = EINVAL;
		return nullptr;
	}
	int fd = open_model(m, unit, path, flags);
	if (fd < 0)
		return nullptr;
	cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
	FILE *fp = fopencookie((void *)(intptr_t)fd, mode, io);
	if (!fp) {
		int e = errno;
		sim_close(fd);
		errno = e;
	}
	return fp;
}

// As with the opens, fopen and fopen64 differ only in their fall-through.
template <typename FallThrough>
FILE *fopen_or_fall_through(const char *path, const char *mode, FallThrough fall_through)
{
	bool handled;
	FILE *fp = sim_fopen(path, mode, &handled);
	if (handled)
		return fp;
	fp = fall_through();
	if (fp)
		forget(fileno(fp));
	return fp;
}

// Maps of one model's memory may overlap (the whole of it and a part at an
// offset): the map that starts at addr is the one meant.
Mapping *find_mapping(std::vector<Mapping> &maps, uintptr_t addr)
{
	for (Mapping &m : maps)
		if (m.addr == addr)
			return &m;
	for (Mapping &m : maps)
		if (addr >= m.addr && addr < m.addr + m.len)
			return &m;
	return nullptr;
}

void tell_model_unmapped(const Mapping &m)
{
	if (m.by_model && m.file->ops->munmap)
		m.file->ops->munmap(&m.file->f, m.model_addr, m.len);
}

// A mapping at a fixed address replaces whatever lay there: tracked maps
// inside the range are gone.
void forget_mappings_in(uintptr_t addr, size_t len)
{
	State &st = state();
	if (st.nmaps.load(std::memory_order_acquire) == 0)
		return;
	std::vector<Mapping> gone;
	{
		std::unique_lock<std::shared_mutex> lk(st.mu);
		auto inside = [&](const Mapping &m) {
			return m.addr >= addr && m.addr + m.len <= addr + len;
		};
		for (const Mapping &m : st.maps)
			if (inside(m))
				gone.push_back(m);
		st.maps.erase(std::remove_if(st.maps.begin(), st.maps.end(), inside), st.maps.end());
		st.nmaps.store((int)st.maps.size(), std::memory_order_release);
	}
	for (const Mapping &m : gone)
		tell_model_unmapped(m);
}

// The model hands out memory of its own; where the caller fixed the address,
// the same pages are mapped there as well.
void *map_by_model(const FilePtr &file, void *addr, size_t len, int prot, int flags, off_t off, Mapping *m)
{
	void *p = MAP_FAILED;
	int r = file->ops->mmap(&file->f, len, prot, flags, off, &p);
	if (r < 0) {
		errno = -r;
		return MAP_FAILED;
	}
	m->by_model = true;
	m->model_addr = p;
	if (!(flags & (MAP_FIXED | MAP_FIXED_NOREPLACE)) || p == addr)
		return p;
	off_t at = 0;
	int memfd = simsoc_mem_backing(p, &at);
	void *q = MAP_FAILED;
	int err = EINVAL;
	if (memfd >= 0) {
		q = REAL(mmap)(addr, len, prot, MAP_SHARED | (flags & (MAP_FIXED | MAP_FIXED_NOREPLACE)),
		               memfd, at);
		err = errno;
	}
	if (q == MAP_FAILED) {
		m->len = len;
		tell_model_unmapped(*m);
		errno = err;
		return MAP_FAILED;
	}
	m->alias = true;
	return q;
}

void *sim_mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
	FilePtr file = (flags & MAP_ANONYMOUS) ? nullptr : lookup(fd);
	bool fixed = flags & (MAP_FIXED | MAP_FIXED_NOREPLACE);
	if (!file) {
		void *p = REAL(mmap)(addr, len, prot, flags, fd, off);
		if (p != MAP_FAILED && fixed)
			forget_mappings_in((uintptr_t)p, len);
		return p;
	}
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_MMAP);
	if (err) {
		errno = err;
		return MAP_FAILED;
	}
	Mapping m{0, len, file, false, false, nullptr};
	void *p;
	if (file->ops->mmap) {
		p = map_by_model(file, addr, len, prot, flags, off, &m);
	} else {
		p = REAL(mmap)(addr, len, prot, flags, fd, off);
	}
	if (p == MAP_FAILED)
		return p;
	if (fixed)
		forget_mappings_in((uintptr_t)p, len);
	m.addr = (uintptr_t)p;
	State &st = state();
	std::unique_lock<std::shared_mutex> lk(st.mu);
	st.maps.push_back(std::move(m));
	st.nmaps.store((int)st.maps.size(), std::memory_order_release);
	return p;
}

int sim_munmap(void *addr, size_t len)
{
	State &st = state();
	if (st.nmaps.load(std::memory_order_acquire) == 0)
		return REAL(munmap)(addr, len);
	Mapping found;
	{
		std::unique_lock<std::shared_mutex> lk(st.mu);
		Mapping *m = find_mapping(st.maps, (uintptr_t)addr);
		if (!m) {
			lk.unlock();
			return REAL(munmap)(addr, len);
		}
		found = std::move(*m);
		st.maps.erase(st.maps.begin() + (m - st.maps.data()));
		st.nmaps.store((int)st.maps.size(), std::memory_order_release);
	}
	int r = 0;
	if (!found.by_model || found.alias)
		r = REAL(munmap)(addr, len);
	tell_model_unmapped(found);
	return r;
}

bool find_socket_model(int domain, int protocol, SocketModel *out)
{
	State &st = state();
	if (st.nmodels.load(std::memory_order_acquire) == 0)
		return false;
	std::shared_lock<std::shared_mutex> lk(st.mu);
	for (const SocketModel &m : st.sockets) {
		if (m.domain == domain && m.protocol == protocol) {
			*out = m;
			return true;
		}
	}
	return false;
}

// ---- directories above the models -----------------------------------------

unsigned char dirent_type(mode_t mode)
{
	switch (mode & S_IFMT) {
	case S_IFREG:
		return DT_REG;
	case S_IFDIR:
		return DT_DIR;
	case S_IFLNK:
		return DT_LNK;
	case S_IFSOCK:
		return DT_SOCK;
	case S_IFIFO:
		return DT_FIFO;
	default:
		return DT_CHR;
	}
}

// A pattern with its one conversion filled with a unit.
std::string fill_pattern(const std::string &pat, int unit)
{
	std::string out;
	for (size_t i = 0; i < pat.size(); i++) {
		if (pat[i] == '%' && i + 1 < pat.size()) {
			char c = pat[++i];
			out += c == '%' ? std::string("%") : std::to_string(c == 'u' ? (unsigned)unit : unit);
			continue;
		}
		out += pat[i];
	}
	return out;
}

struct Child {
	std::string name;
	unsigned char type;
};

// Adds the component of path that follows prefix (when path lies below it).
// complete: path is a whole model path, so its last component is the model.
void add_child(const std::string &prefix, const std::string &path, bool complete, mode_t mode,
               std::vector<Child> *out)
{
	if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
		return;
	size_t end = path.find('/', prefix.size());
	if (end == std::string::npos && !complete)
		return;
	std::string name =
	    path.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
	if (name.empty())
		return;
	for (const Child &c : *out)
		if (c.name == name)
			return;
	out->push_back(Child{name, end == std::string::npos ? dirent_type(mode) : (unsigned char)DT_DIR});
}

// The entries the models give the directory dir (empty: not a model
// directory).
std::vector<Child> model_children(const char *dir)
{
	std::vector<Child> out;
	State &st = state();
	if (!dir || dir[0] != '/' || st.nmodels.load(std::memory_order_acquire) == 0)
		return out;
	std::string prefix = dir;
	while (prefix.size() > 1 && prefix.back() == '/')
		prefix.pop_back();
	if (prefix != "/")
		prefix += '/';
	std::vector<Model> models;
	{
		std::shared_lock<std::shared_mutex> lk(st.mu);
		models = st.models;
	}
	for (const Model &m : models) {
		if (!m.is_pattern) {
			add_child(prefix, m.pattern, true, m.ops->mode, &out);
			continue;
		}
		add_child(prefix, m.pattern.substr(0, m.pattern.find('%')), false, 0, &out);
		if (!m.ops->units)
			continue;
		int units[256];
		int n = m.ops->units(m.model, units, 256);
		for (int i = 0; i < n; i++)
			add_child(prefix, fill_pattern(m.pattern, units[i]), true, m.ops->mode, &out);
	}
	return out;
}

bool is_model_dir(const char *path)
{
	return !model_children(path).empty();
}

struct SimDir {
	std::vector<struct dirent> entries;
	size_t pos = 0;
};

struct Dirs {
	std::mutex mu;
	std::unordered_set<const void *> open;
	std::atomic<int> n{0};
};

Dirs &dirs()
{
	static Dirs *d = new Dirs;
	return *d;
}

SimDir *sim_dir(DIR *d)
{
	Dirs &ds = dirs();
	if (!d || ds.n.load(std::memory_order_acquire) == 0)
		return nullptr;
	std::lock_guard<std::mutex> lk(ds.mu);
	return ds.open.count(d) ? reinterpret_cast<SimDir *>(d) : nullptr;
}

void add_dirent(SimDir *sd, const char *name, unsigned char type, ino_t ino)
{
	struct dirent e;
	memset(&e, 0, sizeof e);
	e.d_ino = ino;
	e.d_off = (off_t)sd->entries.size() + 1;
	e.d_reclen = sizeof e;
	e.d_type = type;
	snprintf(e.d_name, sizeof e.d_name, "%s", name);
	sd->entries.push_back(e);
}

// A directory holding models: its real entries (when it exists here) and the
// models' own.
DIR *sim_opendir(const char *path, const std::vector<Child> &children)
{
	auto *sd = new SimDir;
	add_dirent(sd, ".", DT_DIR, 1);
	add_dirent(sd, "..", DT_DIR, 1);
	std::set<std::string> seen = {".", ".."};
	if (DIR *real = REAL(opendir)(path)) {
		while (struct dirent *e = REAL(readdir)(real))
			if (seen.insert(e->d_name).second)
				add_dirent(sd, e->d_name, e->d_type, e->d_ino);
		REAL(closedir)(real);
	}
	for (const Child &c : children)
		if (seen.insert(c.name).second)
			add_dirent(sd, c.name.c_str(), c.type,
			           std::hash<std::string>()(std::string(path) + "/" + c.name));
	Dirs &ds = dirs();
	std::lock_guard<std::mutex> lk(ds.mu);
	ds.open.insert(sd);
	ds.n.store((int)ds.open.size(), std::memory_order_release);
	return reinterpret_cast<DIR *>(sd);
}

void update_model_count(State &st)
{
	st.nmodels.store((int)(st.models.size() + st.sockets.size()), std::memory_order_release);
}

} // namespace

// ---- registry --------------------------------------------------------------

extern "C" int simsoc_register(const char *path, const simsoc_model_ops *ops, void *model)
{
	if (!path || !*path || !ops)
		return -EINVAL;
	State &st = state();
	std::unique_lock<std::shared_mutex> lk(st.mu);
	bool is_pattern = strchr(path, '%') != nullptr;
	for (Model &m : st.models) {
		if (m.pattern == path) {
			m.ops = ops;
			m.model = model;
			return 0;
		}
	}
	st.models.push_back(Model{path, is_pattern, ops, model});
	update_model_count(st);
	return 0;
}

extern "C" int simsoc_unregister(const char *path)
{
	State &st = state();
	std::unique_lock<std::shared_mutex> lk(st.mu);
	for (auto it = st.models.begin(); it != st.models.end(); ++it) {
		if (it->pattern == path) {
			st.models.erase(it);
			update_model_count(st);
			return 0;
		}
	}
	return -ENOENT;
}

extern "C" int simsoc_register_socket(int domain, int protocol, const simsoc_model_ops *ops, void *model)
{
	if (!ops)
		return -EINVAL;
	State &st = state();
	std::unique_lock<std::shared_mutex> lk(st.mu);
	for (SocketModel &m : st.sockets) {
		if (m.domain == domain && m.protocol == protocol) {
			m.ops = ops;
			m.model = model;
			return 0;
		}
	}
	st.sockets.push_back(SocketModel{domain, protocol, ops, model});
	update_model_count(st);
	return 0;
}

extern "C" int simsoc_unregister_socket(int domain, int protocol)
{
	State &st = state();
	std::unique_lock<std::shared_mutex> lk(st.mu);
	for (auto it = st.sockets.begin(); it != st.sockets.end(); ++it) {
		if (it->domain == domain && it->protocol == protocol) {
			st.sockets.erase(it);
			update_model_count(st);
			return 0;
		}
	}
	return -ENOENT;
}

extern "C" int simsoc_is_simulated(const char *path)
{
	Model m;
	int unit;
	return find_model(path, &m, &unit) ? 1 : 0;
}

extern "C" int simsoc_open_files(void)
{
	drop_stale_entries();
	return g_live_files.load();
}

extern "C" int simsoc_file_set_readable(simsoc_file *f, int readable)
{
	if (!f)
		return -EINVAL;
	OpenFile *file = static_cast<OpenFile *>(f->internal);
	if (!file)
		return -EINVAL;
	if (!file->eventfd_backing)
		return -EINVAL;
	std::lock_guard<std::mutex> lk(file->ready_mu);
	if (!!readable == file->readable)
		return 0;
	uint64_t v = 1;
	ssize_t r =
	    readable ? REAL(write)(file->backing, &v, sizeof v) : REAL(read)(file->backing, &v, sizeof v);
	if (r != (ssize_t)sizeof v)
		return -errno;
	file->readable = !!readable;
	return 0;
}

extern "C" int simsoc_file_status_flags(simsoc_file *f)
{
	if (!f || f->backing_fd < 0)
		return f ? f->flags : 0;
	int fl = REAL(fcntl)(f->backing_fd, F_GETFL);
	return fl < 0 ? f->flags : fl;
}

// ---- interposed C library calls ---------------------------------------------

extern "C" int open(const char *path, int flags, ...)
{
	va_list ap;
	va_start(ap, flags);
	mode_t mode = open_mode(flags, ap);
	va_end(ap);
	return open_or_fall_through(true, path, flags, [&] { return REAL(open)(path, flags, mode); });
}

extern "C" int open64(const char *path, int flags, ...)
{
	va_list ap;
	va_start(ap, flags);
	mode_t mode = open_mode(flags, ap);
	va_end(ap);
	return open_or_fall_through(true, path, flags, [&] { return REAL(open64)(path, flags, mode); });
}

extern "C" int openat(int dirfd, const char *path, int flags, ...)
{
	va_list ap;
	va_start(ap, flags);
	mode_t mode = open_mode(flags, ap);
	va_end(ap);
	return open_or_fall_through(reachable_path(dirfd, path), path, flags,
	                            [&] { return REAL(openat)(dirfd, path, flags, mode); });
}

extern "C" int openat64(int dirfd, const char *path, int flags, ...)
{
	va_list ap;
	va_start(ap, flags);
	mode_t mode = open_mode(flags, ap);
	va_end(ap);
	return open_or_fall_through(reachable_path(dirfd, path), path, flags,
	                            [&] { return REAL(openat64)(dirfd, path, flags, mode); });
}

extern "C" int __open_2(const char *path, int flags)
{
	return open(path, flags);
}

extern "C" int __open64_2(const char *path, int flags)
{
	return open64(path, flags);
}

extern "C" int __openat_2(int dirfd, const char *path, int flags)
{
	return openat(dirfd, path, flags);
}

extern "C" int __openat64_2(int dirfd, const char *path, int flags)
{
	return openat64(dirfd, path, flags);
}

extern "C" int creat(const char *path, mode_t mode)
{
	return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

extern "C" FILE *fopen(const char *path, const char *mode)
{
	return fopen_or_fall_through(path, mode, [&] { return REAL(fopen)(path, mode); });
}

extern "C" FILE *fopen64(const char *path, const char *mode)
{
	return fopen_or_fall_through(path, mode, [&] { return REAL(fopen64)(path, mode); });
}

extern "C" int close(int fd)
{
	return sim_close(fd);
}

extern "C" ssize_t read(int fd, void *buf, size_t len)
{
	return sim_read(fd, buf, len);
}

extern "C" ssize_t __read_chk(int fd, void *buf, size_t len, size_t buflen)
{
	if (len > buflen)
		__chk_fail();
	return sim_read(fd, buf, len);
}

extern "C" ssize_t write(int fd, const void *buf, size_t len)
{
	return sim_write(fd, buf, len);
}

extern "C" ssize_t pread(int fd, void *buf, size_t len, off_t off)
{
	return sim_pread(fd, buf, len, off);
}

extern "C" ssize_t pread64(int fd, void *buf, size_t len, off64_t off)
{
	return sim_pread(fd, buf, len, off);
}

extern "C" ssize_t __pread_chk(int fd, void *buf, size_t len, off_t off, size_t buflen)
{
	if (len > buflen)
		__chk_fail();
	return sim_pread(fd, buf, len, off);
}

extern "C" ssize_t __pread64_chk(int fd, void *buf, size_t len, off64_t off, size_t buflen)
{
	if (len > buflen)
		__chk_fail();
	return sim_pread(fd, buf, len, off);
}

extern "C" ssize_t pwrite(int fd, const void *buf, size_t len, off_t off)
{
	return sim_pwrite(fd, buf, len, off);
}

extern "C" ssize_t pwrite64(int fd, const void *buf, size_t len, off64_t off)
{
	return sim_pwrite(fd, buf, len, off);
}

extern "C" ssize_t readv(int fd, const struct iovec *iov, int iovcnt)
{
	return sim_readv(fd, iov, iovcnt);
}

extern "C" ssize_t writev(int fd, const struct iovec *iov, int iovcnt)
{
	return sim_writev(fd, iov, iovcnt);
}

extern "C" off_t lseek(int fd, off_t off, int whence)
{
	return sim_lseek(fd, off, whence);
}

extern "C" off64_t lseek64(int fd, off64_t off, int whence)
{
	return sim_lseek(fd, off, whence);
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(ioctl)(fd, request, arg);
	int err = simsoc_failure_due(file->f.path, SIMSOC_OP_IOCTL);
	if (err)
		return fail(err);
	if (!file->ops->ioctl)
		return fail(ENOTTY);
	return result(file->ops->ioctl(&file->f, request, arg));
}

extern "C" void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
	return sim_mmap(addr, len, prot, flags, fd, off);
}

extern "C" void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
	return sim_mmap(addr, len, prot, flags, fd, off);
}

extern "C" int munmap(void *addr, size_t len)
{
	return sim_munmap(addr, len);
}

extern "C" int dup(int fd)
{
	return sim_dup_to(fd, REAL(dup)(fd));
}

extern "C" int dup2(int oldfd, int newfd)
{
	return sim_dup_to(oldfd, REAL(dup2)(oldfd, newfd));
}

extern "C" int dup3(int oldfd, int newfd, int flags)
{
	return sim_dup_to(oldfd, REAL(dup3)(oldfd, newfd, flags));
}

extern "C" int close_range(unsigned int first, unsigned int last, int flags)
{
	int r = (int)syscall(SYS_close_range, first, last, flags);
	if (r == 0 && !(flags & CLOSE_RANGE_CLOEXEC))
		forget_range(first, last);
	return r;
}

extern "C" void closefrom(int lowfd)
{
	unsigned first = lowfd < 0 ? 0u : (unsigned)lowfd;
	if (syscall(SYS_close_range, first, ~0u, 0) == 0) {
		forget_range(first, ~0u);
		return;
	}
	// Kernels without close_range: close what is open, one by one.
	for (int fd = (int)first; fd < (int)sysconf(_SC_OPEN_MAX); fd++)
		sim_close(fd);
}

extern "C" int fcntl(int fd, int cmd, ...)
{
	va_list ap;
	va_start(ap, cmd);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	return sim_fcntl(fd, cmd, arg);
}

extern "C" int fcntl64(int fd, int cmd, ...)
{
	va_list ap;
	va_start(ap, cmd);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	return sim_fcntl(fd, cmd, arg);
}

extern "C" int stat(const char *path, struct stat *st)
{
	bool handled;
	int r = sim_stat(path, st, &handled);
	return handled ? r : dir_if_missing(REAL(stat)(path, st), path, st);
}

extern "C" int stat64(const char *path, struct stat64 *st)
{
	bool handled;
	int r = sim_stat(path, st, &handled);
	return handled ? r : dir_if_missing(REAL(stat64)(path, st), path, st);
}

extern "C" int lstat(const char *path, struct stat *st)
{
	bool handled;
	int r = sim_stat(path, st, &handled);
	return handled ? r : dir_if_missing(REAL(lstat)(path, st), path, st);
}

extern "C" int lstat64(const char *path, struct stat64 *st)
{
	bool handled;
	int r = sim_stat(path, st, &handled);
	return handled ? r : dir_if_missing(REAL(lstat64)(path, st), path, st);
}

extern "C" int fstat(int fd, struct stat *st)
{
	bool handled;
	int r = sim_fstat(fd, st, &handled);
	return handled ? r : REAL(fstat)(fd, st);
}

extern "C" int fstat64(int fd, struct stat64 *st)
{
	bool handled;
	int r = sim_fstat(fd, st, &handled);
	return handled ? r : REAL(fstat64)(fd, st);
}

extern "C" int access(const char *path, int mode)
{
	if (simsoc_is_simulated(path))
		return 0;
	return dir_if_missing(REAL(access)(path, mode), path, (struct stat *)nullptr);
}

extern "C" int faccessat(int dirfd, const char *path, int mode, int flags)
{
	if (!reachable_path(dirfd, path))
		return REAL(faccessat)(dirfd, path, mode, flags);
	if (simsoc_is_simulated(path))
		return 0;
	return dir_if_missing(REAL(faccessat)(dirfd, path, mode, flags), path, (struct stat *)nullptr);
}

// ---- directories ------------------------------------------------------------

extern "C" DIR *opendir(const char *path)
{
	std::vector<Child> children = model_children(path);
	if (children.empty())
		return REAL(opendir)(path);
	return sim_opendir(path, children);
}

extern "C" struct dirent *readdir(DIR *d)
{
	SimDir *sd = sim_dir(d);
	if (!sd)
		return REAL(readdir)(d);
	return sd->pos < sd->entries.size() ? &sd->entries[sd->pos++] : nullptr;
}

extern "C" struct dirent64 *readdir64(DIR *d)
{
	static_assert(sizeof(struct dirent) == sizeof(struct dirent64), "dirent layouts differ");
	SimDir *sd = sim_dir(d);
	if (!sd)
		return REAL(readdir64)(d);
	return reinterpret_cast<struct dirent64 *>(readdir(d));
}

extern "C" int closedir(DIR *d)
{
	SimDir *sd = sim_dir(d);
	if (!sd)
		return REAL(closedir)(d);
	Dirs &ds = dirs();
	{
		std::lock_guard<std::mutex> lk(ds.mu);
		ds.open.erase(sd);
		ds.n.store((int)ds.open.size(), std::memory_order_release);
	}
	delete sd;
	return 0;
}

extern "C" void rewinddir(DIR *d)
{
	SimDir *sd = sim_dir(d);
	if (!sd)
		return REAL(rewinddir)(d);
	sd->pos = 0;
}

extern "C" long telldir(DIR *d)
{
	SimDir *sd = sim_dir(d);
	return sd ? (long)sd->pos : REAL(telldir)(d);
}

extern "C" void seekdir(DIR *d, long pos)
{
	SimDir *sd = sim_dir(d);
	if (!sd)
		return REAL(seekdir)(d, pos);
	sd->pos = pos < 0 ? 0 : std::min((size_t)pos, sd->entries.size());
}

extern "C" int dirfd(DIR *d)
{
	// A listing put together from the models has no descriptor of its own.
	if (sim_dir(d))
		return fail(ENOTSUP);
	return REAL(dirfd)(d);
}

// ---- sockets ----------------------------------------------------------------

extern "C" int socket(int domain, int type, int protocol)
{
	SocketModel m;
	if (!find_socket_model(domain, protocol, &m))
		return after_real_open(REAL(socket)(domain, type, protocol));
	char path[64];
	snprintf(path, sizeof path, "socket:%d:%d", domain, protocol);
	Model pm{path, false, m.ops, m.model};
	int flags = type;
	if (type & SOCK_NONBLOCK)
		flags |= O_NONBLOCK;
	if (type & SOCK_CLOEXEC)
		flags |= O_CLOEXEC;
	return open_model(pm, 0, path, flags);
}

extern "C" int bind(int fd, const struct sockaddr *addr, socklen_t len)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(bind)(fd, addr, len);
	return file->ops->bind ? result(file->ops->bind(&file->f, addr, len)) : 0;
}

extern "C" int connect(int fd, const struct sockaddr *addr, socklen_t len)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(connect)(fd, addr, len);
	return file->ops->connect ? result(file->ops->connect(&file->f, addr, len)) : 0;
}

extern "C" int setsockopt(int fd, int level, int name, const void *val, socklen_t len)
{
	FilePtr file = lookup(fd);
	if (!file)
		return REAL(setsockopt)(fd, level, name, val, len);
	return file->ops->setsockopt ? result(file->ops->setsockopt(&file->f, level, name, val, len)) : 0;
}

extern "C" int getsockname(int fd, struct sockaddr *addr, socklen_t *len)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->getsockname)
		return REAL(getsockname)(fd, addr, len);
	return result(file->ops->getsockname(&file->f, addr, len));
}

extern "C" ssize_t sendmsg(int fd, const struct msghdr *msg, int flags)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->sendmsg)
		return REAL(sendmsg)(fd, msg, flags);
	return result(file->ops->sendmsg(&file->f, msg, flags));
}

extern "C" ssize_t recvmsg(int fd, struct msghdr *msg, int flags)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->recvmsg)
		return REAL(recvmsg)(fd, msg, flags);
	return result(file->ops->recvmsg(&file->f, msg, flags));
}

extern "C" ssize_t sendto(int fd, const void *buf, size_t len, int flags, const struct sockaddr *addr,
                          socklen_t alen)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->sendmsg)
		return REAL(sendto)(fd, buf, len, flags, addr, alen);
	struct iovec iov = {const_cast<void *>(buf), len};
	struct msghdr msg = {};
	msg.msg_name = const_cast<struct sockaddr *>(addr);
	msg.msg_namelen = addr ? alen : 0;
	msg.msg_iov = &iov;
	msg.msg_iovlen = 1;
	return result(file->ops->sendmsg(&file->f, &msg, flags));
}

extern "C" ssize_t send(int fd, const void *buf, size_t len, int flags)
{
	return sendto(fd, buf, len, flags, nullptr, 0);
}

extern "C" ssize_t recvfrom(int fd, void *buf, size_t len, int flags, struct sockaddr *addr, socklen_t *alen)
{
	FilePtr file = lookup(fd);
	if (!file || !file->ops->recvmsg)
		return REAL(recvfrom)(fd, buf, len, flags, addr, alen);
	struct iovec iov = {buf, len};
	struct msghdr msg = {};
	msg.msg_name = addr;
	msg.msg_namelen = alen ? *alen : 0;
	msg.msg_iov = &iov;
	msg.msg_iovlen = 1;
	ssize_t r = file->ops->recvmsg(&file->f, &msg, flags);
	if (r >= 0 && alen)
		*alen = msg.msg_namelen;
	return result(r);
}

extern "C" ssize_t recv(int fd, void *buf, size_t len, int flags)
{
	return recvfrom(fd, buf, len, flags, nullptr, nullptr);
}

// ---- for the other frame modules ------------------------------------------------

ssize_t simsoc_real_write(int fd, const void *buf, size_t len)
{
	return REAL(write)(fd, buf, len);
}

int simsoc_real_open(const char *path, int flags, mode_t mode)
{
	return REAL(open)(path, flags, mode);
}

int simsoc_real_close(int fd)
{
	return REAL(close)(fd);
}
