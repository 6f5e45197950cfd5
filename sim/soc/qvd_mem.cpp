// The video driver's image-processing buffers: device memory the driver
// hands out by buffer id and the caller maps from "/dev/qvd" at the
// buffer's physical address. Each buffer is taken once and keeps its address
// and contents, so a process that maps it again finds what it left there.
#include "qvd.h"
#include "qvd_ioctl.h"

#include <errno.h>
#include <string.h>

#include <mutex>

namespace
{

struct Buffer {
	uint32_t id;
	uint64_t size; // what MAP_IMGPROC hands out
	void *virt;
	uint64_t taken; // bytes of the allocation behind virt: never less than size
	uint32_t phys;
	int maps;
	uint64_t maps_since_reset;
};

constexpr uint64_t kIkDefault = 32ull << 20;
constexpr uint64_t kSbpDefault = 8ull << 20;

struct Buffers {
	std::mutex mu;
	Buffer buf[2] = {{QVD_IMGPROC_BUF_IK, kIkDefault, nullptr, 0, 0, 0, 0},
	                 {QVD_IMGPROC_BUF_SBP, 8ull << 20, nullptr, 0, 0, 0, 0}};
};

Buffers &buffers()
{
	static Buffers *b = new Buffers;
	return *b;
}

Buffer *by_id(Buffers &b, uint32_t id)
{
	for (Buffer &x : b.buf)
		if (x.id == id)
			return &x;
	return nullptr;
}

// Once taken, a buffer stays where it is: it can hand out less of itself,
// never more.
int set_size(uint32_t id, uint64_t size)
{
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	Buffer *x = by_id(b, id);
	if (size == 0 || x->maps > 0 || (x->virt && size > x->taken))
		return -1;
	x->size = size;
	return 0;
}

} // namespace

extern "C" int simsoc_qvd_set_imgproc_size(uint64_t size)
{
	return set_size(QVD_IMGPROC_BUF_IK, size);
}

extern "C" int simsoc_qvd_set_sbp_size(uint64_t size)
{
	return set_size(QVD_IMGPROC_BUF_SBP, size ? size : kSbpDefault);
}

int qvd_map_imgproc(simsoc_file *, void *arg)
{
	qvd_imgproc_map m;
	memcpy(&m, arg, sizeof m);
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	Buffer *x = by_id(b, m.buf_id);
	if (!x) {
		simsoc_log("qvd: map imgproc of unknown buffer %u", m.buf_id);
		return -EINVAL;
	}
	// Taken once per process, at least as large as its default, so a
	// smaller size set for a test can grow back.
	if (!x->virt) {
		uint64_t least = x->id == QVD_IMGPROC_BUF_IK ? kIkDefault : kSbpDefault;
		uint64_t bytes = x->size < least ? least : x->size;
		x->virt = simsoc_mem_alloc(bytes, &x->phys);
		if (!x->virt)
			return -ENOMEM;
		x->taken = bytes;
	}
	m.length = x->size;
	m.addr = x->phys;
	simsoc_log("qvd: map imgproc buffer %u: 0x%llx bytes at 0x%x", m.buf_id, (unsigned long long)m.length,
	           x->phys);
	memcpy(arg, &m, sizeof m);
	return 0;
}

int qvd_mmap(simsoc_file *, size_t len, int, int, off_t offset, void **addr)
{
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	for (Buffer &x : b.buf) {
		if (!x.virt || (uint64_t)offset != x.phys)
			continue;
		if (len == 0 || len > x.size)
			break;
		x.maps++;
		x.maps_since_reset++;
		*addr = x.virt;
		return 0;
	}
	simsoc_log("qvd: mmap of 0x%zx bytes at 0x%llx refused", len, (unsigned long long)offset);
	return -EINVAL;
}

void qvd_munmap(simsoc_file *, void *addr, size_t)
{
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	for (Buffer &x : b.buf)
		if (x.virt == addr && x.maps > 0)
			x.maps--;
}

bool qvd_imgproc_fresh(void)
{
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	return by_id(b, QVD_IMGPROC_BUF_IK)->maps_since_reset <= 1;
}

void qvd_mem_reset(void)
{
	Buffers &b = buffers();
	std::lock_guard<std::mutex> lk(b.mu);
	for (Buffer &x : b.buf)
		x.maps_since_reset = 0;
}
