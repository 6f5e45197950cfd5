// Device memory: one arena below 4 GiB whose offsets are the fake physical
// addresses above SIMSOC_PHYS_BASE, so driver records that carry 32-bit
// physical addresses can be filled and followed back.
#include "simsoc.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace {

constexpr size_t kArenaSize = 256u << 20;

struct Arena {
    std::mutex mu;
    uint8_t *base = nullptr;
    std::map<size_t, size_t> used; // offset -> size
};

Arena &arena()
{
    static Arena *a = new Arena;
    return *a;
}

size_t page_round(size_t n)
{
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    return (n + page - 1) / page * page;
}

bool reserve(Arena &a)
{
    if (a.base)
        return true;
    void *p = mmap(nullptr, kArenaSize, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        return false;
    a.base = static_cast<uint8_t *>(p);
    return true;
}

} // namespace

extern "C" void *simsoc_mem_alloc(size_t size, uint32_t *phys)
{
    if (size == 0)
        return nullptr;
    Arena &a = arena();
    std::lock_guard<std::mutex> lk(a.mu);
    if (!reserve(a))
        return nullptr;
    size = page_round(size);
    size_t at = 0;
    for (const auto &blk : a.used) {
        if (blk.first - at >= size)
            break;
        at = blk.first + blk.second;
    }
    if (at + size > kArenaSize)
        return nullptr;
    a.used[at] = size;
    if (phys)
        *phys = SIMSOC_PHYS_BASE + (uint32_t)at;
    return a.base + at;
}

extern "C" void simsoc_mem_free(void *addr)
{
    Arena &a = arena();
    std::lock_guard<std::mutex> lk(a.mu);
    if (!a.base || addr < a.base)
        return;
    auto it = a.used.find((size_t)(static_cast<uint8_t *>(addr) - a.base));
    if (it == a.used.end())
        return;
    // The next user expects zeroed memory, as from the kernel.
    madvise(a.base + it->first, it->second, MADV_DONTNEED);
    a.used.erase(it);
}

extern "C" uint32_t simsoc_mem_phys(const void *addr)
{
    Arena &a = arena();
    std::lock_guard<std::mutex> lk(a.mu);
    const uint8_t *p = static_cast<const uint8_t *>(addr);
    if (!a.base || p < a.base || p >= a.base + kArenaSize)
        return 0;
    return SIMSOC_PHYS_BASE + (uint32_t)(p - a.base);
}

extern "C" void *simsoc_mem_virt(uint32_t phys)
{
    Arena &a = arena();
    std::lock_guard<std::mutex> lk(a.mu);
    if (!a.base || phys < SIMSOC_PHYS_BASE || phys - SIMSOC_PHYS_BASE >= kArenaSize)
        return nullptr;
    return a.base + (phys - SIMSOC_PHYS_BASE);
}
