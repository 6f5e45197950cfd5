/*
 * libsimsoc: the simulated SoC for host builds and tests.
 *
 * The library interposes the C library calls that reach a device (open and
 * its variants, fopen, close, close_range, read, write, pread, pwrite, readv,
 * writev, ioctl, mmap, munmap, lseek, stat, access, dup, fcntl(F_DUPFD),
 * opendir/readdir/closedir and the socket calls) and routes them to small
 * device models registered by path or by socket protocol. Everything else
 * goes to the real C library. Product code is written as for the device and
 * never calls this API; tests and the models use it.
 *
 * Writing a device model
 * ----------------------
 * A model is a table of operations plus a pointer of its own, registered by
 * path (exact, or a pattern with one "%u" or "%d" conversion, e.g.
 * "/proc/vorsalind/vin%u_idsp") or, for sockets, by (domain, protocol):
 *
 *     static int mydev_ioctl(simsoc_file *f, unsigned long req, void *arg) {
 *         ...; return 0;              // or a negative errno
 *     }
 *     static const simsoc_model_ops mydev_ops = {
 *         .name = "mydev", .ioctl = mydev_ioctl,
 *     };
 *     __attribute__((constructor)) static void mydev_register(void) {
 *         simsoc_register("/dev/mydev", &mydev_ops, NULL);
 *     }
 *
 * Models that belong to the simulated SoC live in sim/soc/, one source file
 * per device, and register from a constructor as above so they are present
 * both in programs that link libsimsoc and in programs run with
 * LD_PRELOAD=libsimsoc.so. A model steered by a test gets a header of its own
 * beside this one (simsoc_<device>.h); a model that must also be steered in
 * a preloaded process reads its settings from SIMSOC_* environment variables
 * when it is first opened.
 *
 * Every open gives the model a simsoc_file. Each file is backed by a real
 * descriptor so that poll/select, dup and close-on-exec behave: an eventfd
 * unless the model's open sets backing_fd to a descriptor of its own (a
 * memfd, one end of a socketpair or pipe); the frame owns it from then on.
 * The descriptor the caller receives shares the backing file description.
 * simsoc_file_set_readable() drives the readiness of an eventfd backing.
 *
 * Operations return 0 or a count on success and a negative errno on failure;
 * the frame turns that into -1 with errno for the caller. A missing read or
 * write passes through to the backing descriptor (useful for memfd and
 * socketpair backings); a missing ioctl gives ENOTTY; a missing mmap maps
 * the backing descriptor. Operations run without the frame's locks held and
 * may be called from any thread: a model guards its own state.
 *
 * The frame checks on every call that a descriptor number still refers to
 * the file it handed out (a stream closed by fclose or a raw close system
 * call frees the number without passing through the frame) and forgets the
 * entry when it does not.
 *
 * Directories above the registered paths exist for stat, access and
 * opendir/readdir: their entries are the next path components of the exact
 * paths, of the literal part of patterns and, for pattern models with a
 * units operation, of the pattern filled with each unit; a directory that
 * really exists lists its real entries as well.
 *
 * Device memory from simsoc_mem_alloc() lies below 4 GiB (MAP_32BIT) and has
 * a fake physical address (SIMSOC_PHYS_BASE + offset in a sparse physical
 * space up to 4 GiB); each allocation is as large as the model asks, so 32-bit
 * physical-address fields of driver records work. A model's mmap can hand out
 * such memory (the address for the offset it is given); the frame then never
 * unmaps it, the model's munmap is told. Where the caller fixes the address
 * (MAP_FIXED), the frame maps the same pages there as well.
 *
 * Every model can be made to fail: simsoc_inject_failure() in process, or the
 * environment variable SIMSOC_FAIL="path:op:errno[;path:op:errno...]" (op is
 * open, read, write, ioctl or mmap; errno a number or a name such as EIO).
 * Models record what they were asked with simsoc_log(); the lines are kept in
 * memory and, when SIMSOC_LOG names a file, appended to it.
 */
#ifndef SIMSOC_H
#define SIMSOC_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_PHYS_BASE 0x20000000u

typedef struct simsoc_file {
	const char *path; /* as opened; "socket:<domain>:<protocol>" for sockets */
	int flags;        /* open flags, or the socket type */
	int unit;         /* number matched by a pattern's conversion, else 0 */
	void *model;      /* the pointer given at registration */
	void *priv;       /* the model's per-open state */
	int backing_fd;   /* set by open to use a descriptor of the model's own */
	void *internal;   /* the frame's */
} simsoc_file;

/* In C++ every operation starts out empty, so a model names only the ones it
 * has: {.name = "x", .ioctl = x_ioctl}. */
#ifdef __cplusplus
#define SIMSOC_UNSET                                                                                         \
	{                                                                                                    \
	}
#else
#define SIMSOC_UNSET
#endif

typedef struct simsoc_model_ops {
	const char *name SIMSOC_UNSET;
	mode_t mode SIMSOC_UNSET; /* reported by stat; 0 gives a character device, rw for all */
	int (*open)(simsoc_file *f) SIMSOC_UNSET;
	void (*release)(simsoc_file *f) SIMSOC_UNSET; /* after the last descriptor and map are gone */
	ssize_t (*read)(simsoc_file *f, void *buf, size_t len) SIMSOC_UNSET;
	ssize_t (*write)(simsoc_file *f, const void *buf, size_t len) SIMSOC_UNSET;
	int (*ioctl)(simsoc_file *f, unsigned long request, void *arg) SIMSOC_UNSET;
	off_t (*lseek)(simsoc_file *f, off_t offset, int whence) SIMSOC_UNSET;
	int (*mmap)(simsoc_file *f, size_t len, int prot, int flags, off_t offset, void **addr) SIMSOC_UNSET;
	void (*munmap)(simsoc_file *f, void *addr, size_t len) SIMSOC_UNSET;
	/* Socket models only; missing ones accept (bind, connect, setsockopt)
	 * or pass through to the backing descriptor (sendmsg, recvmsg,
	 * getsockname). */
	int (*bind)(simsoc_file *f, const struct sockaddr *addr, socklen_t len) SIMSOC_UNSET;
	int (*connect)(simsoc_file *f, const struct sockaddr *addr, socklen_t len) SIMSOC_UNSET;
	int (*setsockopt)(simsoc_file *f, int level, int name, const void *val, socklen_t len) SIMSOC_UNSET;
	int (*getsockname)(simsoc_file *f, struct sockaddr *addr, socklen_t *len) SIMSOC_UNSET;
	ssize_t (*sendmsg)(simsoc_file *f, const struct msghdr *msg, int flags) SIMSOC_UNSET;
	ssize_t (*recvmsg)(simsoc_file *f, struct msghdr *msg, int flags) SIMSOC_UNSET;
	/* Positional reads and writes (pread, pwrite). Without them a model that
	 * has read (write) gives ESPIPE, one without passes to the backing. */
	ssize_t (*pread)(simsoc_file *f, void *buf, size_t len, off_t offset) SIMSOC_UNSET;
	ssize_t (*pwrite)(simsoc_file *f, const void *buf, size_t len, off_t offset) SIMSOC_UNSET;
	/* Pattern models: the units that exist now, so that directory listings
	 * above the pattern show them. Returns how many were stored (at most
	 * max) or a negative errno. */
	int (*units)(void *model, int *units, int max) SIMSOC_UNSET;
} simsoc_model_ops;

/* Registers a model for a path or a pattern; a later registration of the
 * same text replaces the earlier one. Returns 0 or a negative errno. */
int simsoc_register(const char *path, const simsoc_model_ops *ops, void *model);
int simsoc_unregister(const char *path);
/* Sockets of this domain and protocol (any type) go to the model. */
int simsoc_register_socket(int domain, int protocol, const simsoc_model_ops *ops, void *model);
int simsoc_unregister_socket(int domain, int protocol);
/* 1 when the path is served by a model. */
int simsoc_is_simulated(const char *path);
/* Number of model files still open (descriptors or maps). */
int simsoc_open_files(void);

/* Readiness of an eventfd backing: readable or not for poll and select. */
int simsoc_file_set_readable(simsoc_file *f, int readable);
/* Current file status flags (O_NONBLOCK may be changed by the caller). */
int simsoc_file_status_flags(simsoc_file *f);

/* Failure injection: the next count calls of op on path fail with err
 * (count < 0: until cleared). */
enum simsoc_op { SIMSOC_OP_OPEN, SIMSOC_OP_READ, SIMSOC_OP_WRITE, SIMSOC_OP_IOCTL, SIMSOC_OP_MMAP };
void simsoc_inject_failure(const char *path, enum simsoc_op op, int err, int count);
void simsoc_clear_failures(void);
/* For models: the injected error for this call, 0 when none is due. */
int simsoc_failure_due(const char *path, enum simsoc_op op);

/* Request log. */
void simsoc_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* All lines so far, newline-terminated, in one malloc'd string. */
char *simsoc_log_dump(void);
void simsoc_log_clear(void);

/* Device memory below 4 GiB with fake physical addresses. */
void *simsoc_mem_alloc(size_t size, uint32_t *phys);
void simsoc_mem_free(void *addr);
uint32_t simsoc_mem_phys(const void *addr); /* 0 outside the arena */
void *simsoc_mem_virt(uint32_t phys);       /* NULL outside the arena */

#ifdef __cplusplus
}
#endif

#endif
