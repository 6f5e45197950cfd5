#include "kalun/block_recycler.h"

namespace kalun
{

BlockRecycler::~BlockRecycler()
{
	for (Shelf &shelf : shelves_)
		for (void *block : shelf.blocks)
			::operator delete(block);
}

void *BlockRecycler::take(size_t size)
{
	{
		std::lock_guard<std::mutex> lock(mutex_);
		for (Shelf &shelf : shelves_) {
			if (shelf.size != size || shelf.blocks.empty())
				continue;
			void *block = shelf.blocks.back();
			shelf.blocks.pop_back();
			return block;
		}
	}
	return ::operator new(size);
}

void BlockRecycler::give(void *block, size_t size) noexcept
{
	{
		std::lock_guard<std::mutex> lock(mutex_);
		try {
			Shelf *found = nullptr;
			for (Shelf &shelf : shelves_)
				if (shelf.size == size)
					found = &shelf;
			if (!found) {
				shelves_.push_back(Shelf{size, {}});
				found = &shelves_.back();
				found->blocks.reserve(keepPerSize_);
			}
			if (found->blocks.size() < keepPerSize_) {
				found->blocks.push_back(block);
				return;
			}
		} catch (const std::bad_alloc &) {
			// Nothing could be kept; the block is freed below.
		}
	}
	::operator delete(block);
}

size_t BlockRecycler::kept() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	size_t n = 0;
	for (const Shelf &shelf : shelves_)
		n += shelf.blocks.size();
	return n;
}

} // namespace kalun
