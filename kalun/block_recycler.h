// Memory blocks that a session hands out for its per-job requests and takes
// back when a worker drops the last reference.
//
// A job's request and order are made on the session's bus thread and die on
// a unit's job thread, so the general allocator sees every block cross
// threads: the job thread's cache fills up and the bus thread finds its own
// empty, and each job pays for the arena lock on both sides. Kept blocks go
// straight back to the bus thread instead.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kalun
{

class BlockRecycler
{
      public:
	// At most keepPerSize blocks of each size are kept; more are freed.
	explicit BlockRecycler(size_t keepPerSize) : keepPerSize_(keepPerSize) {}
	~BlockRecycler();
	BlockRecycler(const BlockRecycler &) = delete;
	BlockRecycler &operator=(const BlockRecycler &) = delete;

	// A kept block of exactly size bytes, or new memory (std::bad_alloc).
	void *take(size_t size);
	// Any thread; the block must come from take with the same size.
	void give(void *block, size_t size) noexcept;
	// Blocks kept now, of every size.
	size_t kept() const;

      private:
	struct Shelf {
		size_t size;
		std::vector<void *> blocks;
	};

	const size_t keepPerSize_;
	mutable std::mutex mutex_;
	std::vector<Shelf> shelves_;
};

// A standard allocator over a shared recycler, for std::allocate_shared:
// the control block keeps a copy, so the recycler outlives every block it
// handed out even when its session has gone.
template <typename T> class RecyclingAllocator
{
      public:
	using value_type = T;

	explicit RecyclingAllocator(std::shared_ptr<BlockRecycler> recycler) : recycler_(std::move(recycler))
	{
	}
	template <typename U>
	RecyclingAllocator(const RecyclingAllocator<U> &other) noexcept : recycler_(other.recycler())
	{
	}

	T *allocate(size_t n)
	{
		return static_cast<T *>(recycler_->take(n * sizeof(T)));
	}
	void deallocate(T *p, size_t n) noexcept
	{
		recycler_->give(p, n * sizeof(T));
	}
	const std::shared_ptr<BlockRecycler> &recycler() const noexcept
	{
		return recycler_;
	}

	template <typename U> bool operator==(const RecyclingAllocator<U> &other) const noexcept
	{
		return recycler_ == other.recycler();
	}
	template <typename U> bool operator!=(const RecyclingAllocator<U> &other) const noexcept
	{
		return !(*this == other);
	}

      private:
	std::shared_ptr<BlockRecycler> recycler_;
};

} // namespace kalun
