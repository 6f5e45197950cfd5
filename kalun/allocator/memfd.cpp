#include "kalun/allocator/memfd.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "kalun/log.h"

namespace kalun::allocator
{

MemFd::Buffer::Buffer(FileDescriptor fd, uint64_t fdSize, int64_t offset, uint32_t fdProps)
    : kalun::Buffer(std::move(fd), fdSize, offset, fdProps)
{
	KALUN_LOG_DEBUG(std::string(logprefix::kMemFdBuffer) + "Buffer(): Constructed " +
	                std::to_string(getId()));
}

MemFd::Buffer::~Buffer()
{
	KALUN_LOG_DEBUG(std::string(logprefix::kMemFdBuffer) + "~Buffer(): Destructed " +
	                std::to_string(getId()));
}

MemFd::MemFd() : Allocator(KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP)
{
	KALUN_LOG_DEBUG(std::string(logprefix::kMemFd) + "MemFd(): Constructed");
}

MemFd::~MemFd()
{
	KALUN_LOG_DEBUG(std::string(logprefix::kMemFd) + "~MemFd(): Destructed");
}

std::shared_ptr<MemFd> MemFd::getShared()
{
	static const std::shared_ptr<MemFd> shared = std::make_shared<MemFd>();
	return shared;
}

std::unique_ptr<kalun::Buffer> MemFd::allocateVirtual(uint64_t size, uint32_t, const ParameterMap &params)
{
	if (!params.empty())
		throw std::invalid_argument("Additional parameters are not supported");
	const int raw = memfd_create("allocateVirtual", MFD_CLOEXEC | MFD_ALLOW_SEALING);
	if (raw < 0)
		throw std::runtime_error(std::string("Could not create fd: ") + std::strerror(errno));
	FileDescriptor fd(raw);
	if (ftruncate(fd.get(), checkedCast(size)) < 0)
		throw std::runtime_error(std::string("Could not truncate fd: ") + std::strerror(errno));
	// The client gets the descriptor too: fixed in size, it can never cut
	// the file short under the service's mapping.
	if (fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) < 0)
		throw std::runtime_error(std::string("Could not seal fd: ") + std::strerror(errno));
	return std::make_unique<MemFd::Buffer>(std::move(fd), size, 0,
	                                       KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP);
}

} // namespace kalun::allocator
