// The service's one allocator: anonymous shared-memory files.
#pragma once

#include <memory>

#include "kalun/allocator/allocator.h"

namespace kalun::allocator
{

class MemFd : public Allocator
{
      public:
	// Read/write and mappable buffers of exactly the asked size.
	class Buffer : public kalun::Buffer
	{
	      public:
		Buffer(FileDescriptor fd, uint64_t fdSize, int64_t offset, uint32_t fdProps);
		~Buffer() override;
	};

	MemFd();
	~MemFd() override;

	// The process-wide instance every unit allocates through.
	static std::shared_ptr<MemFd> getShared();

      protected:
	std::unique_ptr<kalun::Buffer> allocateVirtual(uint64_t size, uint32_t fdProps,
	                                               const ParameterMap &params) override;
};

} // namespace kalun::allocator
