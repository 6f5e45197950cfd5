#include "kalun/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>

namespace kalun::mappingguard
{

namespace
{

// Read by the signal handler: lock-free atomics only. A slot is published
// by its start address (0: free), written after the size.
struct Slot {
	std::atomic<uintptr_t> start{0};
	std::atomic<size_t> size{0};
	std::atomic<bool> faulted{false};
};

Slot slots[kSlots];
std::mutex slotsMutex; // between add and remove; the handler never takes it
std::once_flag installed;
struct sigaction previous;

void onSigbus(int signal, siginfo_t *info, void *context)
{
	const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
	for (Slot &slot : slots) {
		const uintptr_t start = slot.start.load(std::memory_order_acquire);
		if (start == 0 || address < start)
			continue;
		const size_t size = slot.size.load(std::memory_order_acquire);
		if (address - start >= size)
			continue;
		void *replaced = mmap(reinterpret_cast<void *>(start), size, PROT_READ | PROT_WRITE,
		                      MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
		if (replaced == MAP_FAILED)
			break;
		slot.faulted.store(true, std::memory_order_release);
		return;
	}
	// Not a client mapping: whatever handled SIGBUS before does so now.
	if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
		previous.sa_sigaction(signal, info, context);
		return;
	}
	if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
		previous.sa_handler(signal);
		return;
	}
	// The default action: the faulting access repeats and ends the process.
	struct sigaction fallback {
	};
	fallback.sa_handler = SIG_DFL;
	sigemptyset(&fallback.sa_mask);
	sigaction(SIGBUS, &fallback, nullptr);
}

void install()
{
	struct sigaction action {
	};
	action.sa_sigaction = onSigbus;
	action.sa_flags = SA_SIGINFO | SA_ONSTACK;
	sigemptyset(&action.sa_mask);
	if (sigaction(SIGBUS, &action, &previous) != 0)
		throw std::runtime_error("Could not install the client mapping guard");
}

} // namespace

size_t add(void *address, size_t size)
{
	std::call_once(installed, install);
	std::lock_guard<std::mutex> lock(slotsMutex);
	for (size_t i = 0; i < kSlots; ++i) {
		if (slots[i].start.load(std::memory_order_relaxed) != 0)
			continue;
		slots[i].faulted.store(false, std::memory_order_relaxed);
		slots[i].size.store(size, std::memory_order_release);
		slots[i].start.store(reinterpret_cast<uintptr_t>(address), std::memory_order_release);
		return i;
	}
	throw std::runtime_error("Too many client buffers are mapped");
}

void remove(size_t slot)
{
	std::lock_guard<std::mutex> lock(slotsMutex);
	slots[slot].start.store(0, std::memory_order_release);
}

bool faulted(size_t slot)
{
	return slots[slot].faulted.load(std::memory_order_acquire);
}

size_t count()
{
	std::lock_guard<std::mutex> lock(slotsMutex);
	size_t n = 0;
	for (const Slot &slot : slots)
		n += slot.start.load(std::memory_order_relaxed) != 0;
	return n;
}

} // namespace kalun::mappingguard
