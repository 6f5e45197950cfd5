// Each open keeps a value set by ioctl, reads back "unit=<n> value=<v>\n",
// takes writes into the request log and maps device memory starting with the
// value. The log shows what reached the model.
#include "testmodel.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "simsoc.h"

namespace
{

struct TestFile {
	uint32_t value;
	void *mem;
	uint32_t phys;
	size_t pos;
};

int tm_open(simsoc_file *f)
{
	auto *t = static_cast<TestFile *>(calloc(1, sizeof(TestFile)));
	if (!t)
		return -ENOMEM;
	f->priv = t;
	simsoc_log("open %s unit %d", f->path, f->unit);
	return 0;
}

void tm_release(simsoc_file *f)
{
	auto *t = static_cast<TestFile *>(f->priv);
	simsoc_log("release %s", f->path);
	if (t->mem)
		simsoc_mem_free(t->mem);
	free(t);
}

ssize_t tm_pread(simsoc_file *f, void *buf, size_t len, off_t off)
{
	auto *t = static_cast<TestFile *>(f->priv);
	char text[64];
	int n = snprintf(text, sizeof text, "unit=%d value=%u\n", f->unit, t->value);
	if (off < 0)
		return -EINVAL;
	if ((size_t)off >= (size_t)n)
		return 0;
	size_t k = (size_t)n - (size_t)off < len ? (size_t)n - (size_t)off : len;
	memcpy(buf, text + off, k);
	return (ssize_t)k;
}

ssize_t tm_read(simsoc_file *f, void *buf, size_t len)
{
	auto *t = static_cast<TestFile *>(f->priv);
	ssize_t k = tm_pread(f, buf, len, (off_t)t->pos);
	if (k > 0)
		t->pos += (size_t)k;
	return k;
}

off_t tm_lseek(simsoc_file *f, off_t off, int whence)
{
	auto *t = static_cast<TestFile *>(f->priv);
	if (whence != SEEK_SET || off < 0)
		return -EINVAL;
	t->pos = (size_t)off;
	return off;
}

ssize_t tm_write(simsoc_file *f, const void *buf, size_t len)
{
	simsoc_log("write %s %.*s", f->path, (int)len, static_cast<const char *>(buf));
	return (ssize_t)len;
}

int tm_ioctl(simsoc_file *f, unsigned long req, void *arg)
{
	auto *t = static_cast<TestFile *>(f->priv);
	switch (req) {
	case TESTMODEL_IOC_GET:
		*static_cast<uint32_t *>(arg) = t->value;
		return 0;
	case TESTMODEL_IOC_SET:
		t->value = *static_cast<uint32_t *>(arg);
		simsoc_log("ioctl %s set %u", f->path, t->value);
		simsoc_file_set_readable(f, 1);
		return 0;
	case TESTMODEL_IOC_PHYS:
		if (!t->mem)
			return -ENXIO;
		*static_cast<uint32_t *>(arg) = t->phys;
		return 0;
	}
	return -ENOTTY;
}

int tm_mmap(simsoc_file *f, size_t len, int, int, off_t off, void **addr)
{
	auto *t = static_cast<TestFile *>(f->priv);
	if (off < 0 || (size_t)off > TESTMODEL_MAP_SIZE || len > TESTMODEL_MAP_SIZE - (size_t)off)
		return -EINVAL;
	if (!t->mem) {
		t->mem = simsoc_mem_alloc(TESTMODEL_MAP_SIZE, &t->phys);
		if (!t->mem)
			return -ENOMEM;
		memcpy(t->mem, &t->value, sizeof t->value);
	}
	*addr = static_cast<char *>(t->mem) + off;
	simsoc_log("mmap %s %zu", f->path, len);
	return 0;
}

void tm_munmap(simsoc_file *f, void *, size_t len)
{
	simsoc_log("munmap %s %zu", f->path, len);
}

// The pattern's units that a directory listing shows.
int tm_units(void *, int *units, int max)
{
	static const int present[] = {TESTMODEL_UNITS};
	int n = 0;
	for (int u : present)
		if (n < max)
			units[n++] = u;
	return n;
}

const simsoc_model_ops tm_ops = {
    .name = "simtest",
    .mode = 0,
    .open = tm_open,
    .release = tm_release,
    .read = tm_read,
    .write = tm_write,
    .ioctl = tm_ioctl,
    .lseek = tm_lseek,
    .mmap = tm_mmap,
    .munmap = tm_munmap,
    .bind = nullptr,
    .connect = nullptr,
    .setsockopt = nullptr,
    .getsockname = nullptr,
    .sendmsg = nullptr,
    .recvmsg = nullptr,
    .pread = tm_pread,
    .pwrite = nullptr,
    .units = tm_units,
};

__attribute__((constructor)) void tm_register()
{
	simsoc_register(TESTMODEL_PATH, &tm_ops, nullptr);
	simsoc_register(TESTMODEL_PATTERN, &tm_ops, nullptr);
}

} // namespace

extern "C" int testmodel_registered(void)
{
	return simsoc_is_simulated(TESTMODEL_PATH);
}
