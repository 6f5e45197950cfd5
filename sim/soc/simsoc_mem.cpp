// Device memory: each allocation is a memfd of its own size mapped below
// 4 GiB, at a fake physical address above SIMSOC_PHYS_BASE, so driver records
// that carry 32-bit physical addresses can be filled and followed back, and a
// model's memory can be mapped a second time where a caller asks for it.
#include "simsoc.h"
#include "simsoc_internal.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace
{

// The fake physical space: from the base up to 4 GiB.
constexpr uint64_t kPhysSpace = 0x100000000ull - SIMSOC_PHYS_BASE;

struct Block {
	uint8_t *virt;
	size_t size;
	int memfd;
};

struct Memory {
	std::mutex mu;
	std::map<uint64_t, Block> by_phys;     // offset in the physical space
	std::map<uintptr_t, uint64_t> by_virt; // start address -> physical offset
};

Memory &memory()
{
	static Memory *m = new Memory;
	return *m;
}

size_t page_round(size_t n)
{
	size_t page = (size_t)sysconf(_SC_PAGESIZE);
	return (n + page - 1) / page * page;
}

// First gap of the physical space that fits; the space is sparse, so frees
// leave holes that later allocations reuse.
bool place(const Memory &m, size_t size, uint64_t *at)
{
	uint64_t pos = 0;
	for (const auto &b : m.by_phys) {
		if (b.first - pos >= size)
			break;
		pos = b.first + b.second.size;
	}
	if (pos + size > kPhysSpace)
		return false;
	*at = pos;
	return true;
}

// The block holding addr, or null.
const std::pair<const uint64_t, Block> *block_of(const Memory &m, const void *addr)
{
	uintptr_t a = (uintptr_t)addr;
	auto it = m.by_virt.upper_bound(a);
	if (it == m.by_virt.begin())
		return nullptr;
	--it;
	auto b = m.by_phys.find(it->second);
	if (b == m.by_phys.end() || a >= (uintptr_t)b->second.virt + b->second.size)
		return nullptr;
	return &*b;
}

} // namespace

extern "C" void *simsoc_mem_alloc(size_t size, uint32_t *phys)
{
	if (size == 0 || size > kPhysSpace)
		return nullptr;
	size = page_round(size);
	int fd = (int)syscall(SYS_memfd_create, "simsoc-devmem", 1u /* MFD_CLOEXEC */);
	if (fd < 0)
		return nullptr;
	if (ftruncate(fd, (off_t)size) < 0) {
		simsoc_real_close(fd);
		return nullptr;
	}
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_32BIT | MAP_NORESERVE, fd, 0);
	if (p == MAP_FAILED) {
		simsoc_real_close(fd);
		return nullptr;
	}
	Memory &m = memory();
	std::lock_guard<std::mutex> lk(m.mu);
	uint64_t at;
	if (!place(m, size, &at)) {
		munmap(p, size);
		simsoc_real_close(fd);
		return nullptr;
	}
	m.by_phys[at] = Block{static_cast<uint8_t *>(p), size, fd};
	m.by_virt[(uintptr_t)p] = at;
	if (phys)
		*phys = SIMSOC_PHYS_BASE + (uint32_t)at;
	return p;
}

extern "C" void simsoc_mem_free(void *addr)
{
	Block b;
	{
		Memory &m = memory();
		std::lock_guard<std::mutex> lk(m.mu);
		auto v = m.by_virt.find((uintptr_t)addr);
		if (v == m.by_virt.end())
			return;
		auto it = m.by_phys.find(v->second);
		b = it->second;
		m.by_phys.erase(it);
		m.by_virt.erase(v);
	}
	// Closing the memfd drops the pages: the next user gets zeroed memory,
	// as from the kernel.
	munmap(b.virt, b.size);
	simsoc_real_close(b.memfd);
}

extern "C" uint32_t simsoc_mem_phys(const void *addr)
{
	Memory &m = memory();
	std::lock_guard<std::mutex> lk(m.mu);
	auto b = block_of(m, addr);
	if (!b)
		return 0;
	return SIMSOC_PHYS_BASE +
	       (uint32_t)(b->first + (static_cast<const uint8_t *>(addr) - b->second.virt));
}

extern "C" void *simsoc_mem_virt(uint32_t phys)
{
	if (phys < SIMSOC_PHYS_BASE)
		return nullptr;
	uint64_t off = phys - SIMSOC_PHYS_BASE;
	Memory &m = memory();
	std::lock_guard<std::mutex> lk(m.mu);
	auto it = m.by_phys.upper_bound(off);
	if (it == m.by_phys.begin())
		return nullptr;
	--it;
	if (off >= it->first + it->second.size)
		return nullptr;
	return it->second.virt + (off - it->first);
}

int simsoc_mem_backing(const void *addr, off_t *offset)
{
	Memory &m = memory();
	std::lock_guard<std::mutex> lk(m.mu);
	auto b = block_of(m, addr);
	if (!b)
		return -1;
	*offset = (off_t)(static_cast<const uint8_t *>(addr) - b->second.virt);
	return b->second.memfd;
}
