// The interposition frame: which paths and sockets are simulated, which
// descriptors belong to models, and the hand-off of every call to either the
// model or the real C library.
#undef _FORTIFY_SOURCE
#include "simsoc.h"
#include "simsoc_internal.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buf, size_t len, size_t buflen);
void __chk_fail(void) __attribute__((noreturn));
}

namespace {

template <typename F>
F resolve(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    if (!p) {
        static const char msg[] = "libsimsoc: cannot resolve a C library call\n";
        (void)!::syscall(1 /* write */, 2, msg, sizeof msg - 1);
        abort();
    }
    return reinterpret_cast<F>(p);
}

#define REAL(fn)                                                          \
    ([]() {                                                               \
        static const auto p = resolve<decltype(&::fn)>(#fn);              \
        return p;                                                         \
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

    OpenFile() { g_live_files++; }
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

FilePtr lookup(int fd)
{
    State &st = state();
    if (fd < 0 || st.nfds.load(std::memory_order_acquire) == 0)
        return nullptr;
    std::shared_lock<std::shared_mutex> lk(st.mu);
    auto it = st.fds.find(fd);
    return it == st.fds.end() ? nullptr : it->second;
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

template <typename T>
T result(T r)
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

template <typename StatT>
int sim_stat(const char *path, StatT *st, bool *handled)
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

template <typename StatT>
int sim_fstat(int fd, StatT *st, bool *handled)
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
    case 'r': flags = O_RDONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
    default: return -1;
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

Mapping *find_mapping(std::vector<Mapping> &maps, uintptr_t addr)
{
    for (Mapping &m : maps)
        if (addr >= m.addr && addr < m.addr + m.len)
            return &m;
    return nullptr;
}

void *sim_mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    FilePtr file = (flags & MAP_ANONYMOUS) ? nullptr : lookup(fd);
    if (!file)
        return REAL(mmap)(addr, len, prot, flags, fd, off);
    int err = simsoc_failure_due(file->f.path, SIMSOC_OP_MMAP);
    if (err) {
        errno = err;
        return MAP_FAILED;
    }
    void *p = MAP_FAILED;
    bool by_model = file->ops->mmap != nullptr;
    if (by_model) {
        int r = file->ops->mmap(&file->f, len, prot, flags, off, &p);
        if (r < 0) {
            errno = -r;
            return MAP_FAILED;
        }
    } else {
        p = REAL(mmap)(addr, len, prot, flags, fd, off);
        if (p == MAP_FAILED)
            return p;
    }
    State &st = state();
    std::unique_lock<std::shared_mutex> lk(st.mu);
    st.maps.push_back(Mapping{(uintptr_t)p, len, file, by_model});
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
    if (!found.by_model)
        return REAL(munmap)(addr, len);
    if (found.file->ops->munmap)
        found.file->ops->munmap(&found.file->f, addr, len);
    return 0;
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
    ssize_t r = readable ? REAL(write)(file->backing, &v, sizeof v) : REAL(read)(file->backing, &v, sizeof v);
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
    return handled ? r : REAL(stat)(path, st);
}

extern "C" int stat64(const char *path, struct stat64 *st)
{
    bool handled;
    int r = sim_stat(path, st, &handled);
    return handled ? r : REAL(stat64)(path, st);
}

extern "C" int lstat(const char *path, struct stat *st)
{
    bool handled;
    int r = sim_stat(path, st, &handled);
    return handled ? r : REAL(lstat)(path, st);
}

extern "C" int lstat64(const char *path, struct stat64 *st)
{
    bool handled;
    int r = sim_stat(path, st, &handled);
    return handled ? r : REAL(lstat64)(path, st);
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
    return REAL(access)(path, mode);
}

extern "C" int faccessat(int dirfd, const char *path, int mode, int flags)
{
    if (reachable_path(dirfd, path) && simsoc_is_simulated(path))
        return 0;
    return REAL(faccessat)(dirfd, path, mode, flags);
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
