#include "kalun/allocator/allocator.h"

#include <stdexcept>

#include "kalun/log.h"

namespace kalun::allocator
{

Allocator::Allocator(int32_t supportedFdProps) : supportedFdProps_(supportedFdProps)
{
	KALUN_LOG_DEBUG(std::string(logprefix::kAllocator) + "Allocator(): Constructed");
}

Allocator::~Allocator()
{
	KALUN_LOG_DEBUG(std::string(logprefix::kAllocator) + "~Allocator(): Destructed");
}

std::unique_ptr<Buffer> Allocator::allocate(uint64_t size, uint32_t fdProps, const ParameterMap &params)
{
	const uint32_t supported = static_cast<uint32_t>(supportedFdProps_);
	if ((fdProps & KALUN_FD_PROP_READWRITE) && !(supported & KALUN_FD_PROP_READWRITE))
		throw std::invalid_argument("Read/write buffer is not supported");
	if ((fdProps & KALUN_FD_PROP_MAP) && !(supported & KALUN_FD_PROP_MAP))
		throw std::invalid_argument("Mappable buffer is not supported");
	if ((fdProps & KALUN_FD_PROP_DMABUF) && !(supported & KALUN_FD_PROP_DMABUF))
		throw std::invalid_argument("DMA buffer is not supported");
	std::lock_guard<std::mutex> lock(allocatorMutex_);
	return allocateVirtual(size, fdProps, params);
}

} // namespace kalun::allocator
