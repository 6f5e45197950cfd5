// Turns (size, wanted fd properties, parameters) into a new tensor buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "kalun/buffer.h"
#include "kalun/parameter_map.h"

namespace kalun::allocator
{

class Allocator
{
      public:
	explicit Allocator(int32_t supportedFdProps);
	virtual ~Allocator();
	Allocator(const Allocator &) = delete;
	Allocator &operator=(const Allocator &) = delete;

	// Refuses properties this allocator cannot give, then creates the
	// buffer under the allocator's lock.
	std::unique_ptr<Buffer> allocate(uint64_t size, uint32_t fdProps, const ParameterMap &params);

	int32_t getSupportedFdProps() const
	{
		return supportedFdProps_;
	}

      protected:
	virtual std::unique_ptr<Buffer> allocateVirtual(uint64_t size, uint32_t fdProps,
	                                                const ParameterMap &params) = 0;

      private:
	const int32_t supportedFdProps_;
	std::mutex allocatorMutex_;
};

} // namespace kalun::allocator
