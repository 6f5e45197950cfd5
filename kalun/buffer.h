// One tensor's bytes inside a file descriptor, and the observer interface
// through which units keep per-buffer state.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "kalun/file_descriptor.h"
#include "kalun/kalun_types.h"
#include "kalun/span.h"

namespace kalun
{

// Implemented by units that keep state per buffer: a buffer tells each of its
// observers, by its id, when it goes away.
class BufferContextCache
{
      public:
	virtual ~BufferContextCache() = default;
	virtual void deleteBufferContext(uint64_t cookie) = 0;
};

// Sizes handed to ftruncate and mmap must fit a signed 64-bit value.
int64_t checkedCast(uint64_t value);

// "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP, KALUN_FD_PROP_DMABUF" for the
// set bits, in that order; other bits are ignored.
std::string fdPropsToString(uint32_t fdProps);
// A unit's refusal of a tensor whose fd properties offer nothing it can use;
// side is "Input" or "Output".
std::string unsupportedFdPropsText(const char *side, uint32_t supported);

namespace dmabuf
{

// The dma-buf cache synchronisation goes through these two calls so that
// tests can script the kernel's answers and skip the real sleeping. A hook
// returns what ioctl(2) would and leaves errno set on failure.
struct SyncHooks {
	std::function<int(int fd, uint64_t flags)> ioctl;
	std::function<void(std::chrono::milliseconds)> sleep;
};
// Empty members restore the system calls. Not for use while buffers are in
// use on other threads.
void setSyncHooks(SyncHooks hooks);

inline constexpr int kSyncAttempts = 8;

// Brackets CPU access to a dma-buf: start (end = false) or end of an access
// with the given protection. Retries interrupted or busy calls with a
// doubling back-off and fails when they never succeed.
void sync(int fd, bool end, int prot);

} // namespace dmabuf

class Buffer
{
      public:
	// Releasing a CPU-access handle ends the access on its buffer.
	struct CpuAccessEnd {
		Buffer *buffer = nullptr;
		void operator()(uint8_t *data) const noexcept;
	};
	using CpuAccess = std::unique_ptr<uint8_t, CpuAccessEnd>;

	// Takes the descriptor; refuses a negative offset, an offset beyond a
	// known size and property sets of 8 or more (the descriptor is closed).
	Buffer(FileDescriptor fd, uint64_t fdSize, int64_t offset, uint32_t fdProps);
	// The constructor's refusals, for callers that look at the fields of a
	// buffer they may never make.
	static void checkFields(uint64_t fdSize, int64_t offset, uint32_t fdProps);
	Buffer(const Buffer &) = delete;
	Buffer &operator=(const Buffer &) = delete;
	virtual ~Buffer();

	int getFd() const
	{
		return fd_.get();
	}
	// 0: unknown size.
	uint64_t getFdSize() const
	{
		return fdSize_;
	}
	int64_t getOffset() const
	{
		return offset_;
	}
	uint32_t getFdProps() const
	{
		return fdProps_;
	}
	// Process-unique, from 1; the cookie under which observers file state.
	uint64_t getId() const
	{
		return id_;
	}
	bool isTracked() const
	{
		return tracked_.load(std::memory_order_acquire);
	}
	// Set by the session when it keeps the buffer beyond one request.
	void setTracked()
	{
		tracked_.store(true, std::memory_order_release);
	}

	// Exactly destination.size() bytes from the tensor's offset.
	void read(ByteSpan destination);
	// Exactly source.size() bytes to the tensor's offset.
	void write(ConstByteSpan source);

	// Maps the buffer once, with the widest protection the descriptor
	// allows, and returns its first byte. On a dma-buf the access is
	// bracketed by cache syncs and only one may be open at a time. The
	// handle must not outlive the buffer.
	virtual CpuAccess cpuAccess(uint64_t size, int prot);
	virtual void endCpuAccess();

	// A client may cut its file short while the service has it mapped.
	// Unless it is a memfd sealed against shrinking, the mapping is guarded:
	// a fault in it fails the buffer for good instead of the process. Every
	// later access is refused, and the work that used it must fail.
	static constexpr const char *kCutShortText =
	    "The file of a tensor buffer was cut short by its client while it was in use";
	bool isGuarded() const;
	bool hasFailed() const;

	// An observer is told once, when the buffer is destroyed.
	void addObserver(BufferContextCache *observer);
	// For observers that go away before the buffer; a no-op if absent.
	void removeObserver(BufferContextCache *observer);

      private:
	void mapFd(uint64_t size, int prot);
	void seekToOffset();

	FileDescriptor fd_;
	uint64_t fdSize_;
	int64_t offset_;
	uint32_t fdProps_;
	std::mutex cpuAccessMutex_;
	int activeProt_ = -1;
	std::unordered_set<BufferContextCache *> observers_;
	std::mutex ioMutex_;
	std::mutex observerMutex_;
	std::shared_ptr<void> mapping_;
	static constexpr size_t kNotGuarded = SIZE_MAX;
	std::atomic<size_t> guardSlot_{kNotGuarded};
	uint8_t *mappedData_ = nullptr;
	uint64_t mappedSize_ = 0;
	int mappedProt_ = -1;
	uint64_t id_;
	std::atomic<bool> tracked_{false};
};

} // namespace kalun
