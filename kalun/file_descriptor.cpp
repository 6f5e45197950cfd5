#include "kalun/file_descriptor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kalun/log.h"

namespace kalun
{

namespace
{

std::string errnoText()
{
	return std::strerror(errno);
}

} // namespace

FileDescriptor::FileDescriptor(int fd) : fd_(fd)
{
	if (fd < 0)
		throw std::invalid_argument("fd is negative");
}

FileDescriptor::FileDescriptor(FileDescriptor &&other) noexcept : fd_(other.fd_)
{
	other.fd_ = -1;
}

FileDescriptor &FileDescriptor::operator=(FileDescriptor &&other)
{
	if (this == &other)
		return *this;
	close();
	fd_ = other.fd_;
	other.fd_ = -1;
	return *this;
}

FileDescriptor::FileDescriptor(const FileDescriptor &other) : fd_(other.fd_ < 0 ? -1 : dup(other.fd_)) {}

FileDescriptor &FileDescriptor::operator=(const FileDescriptor &other)
{
	if (this == &other)
		return *this;
	close();
	if (other.fd_ >= 0)
		fd_ = dup(other.fd_);
	return *this;
}

FileDescriptor::~FileDescriptor()
{
	try {
		close();
	} catch (const std::exception &e) {
		log::error(e.what());
	}
}

int FileDescriptor::dup(int fd)
{
	const int copy = ::dup(fd);
	if (copy == -1)
		throw std::runtime_error("Could not duplicate fd: " + errnoText());
	return copy;
}

void FileDescriptor::close()
{
	if (fd_ < 0)
		return;
	const int fd = fd_;
	fd_ = -1;
	if (::close(fd) != 0)
		throw std::runtime_error("Could not close fd: " + errnoText());
}

uint64_t FileDescriptor::read(ByteSpan destination, uint64_t count)
{
	if (destination.size() < count)
		throw std::invalid_argument("Buffer size is smaller than requested read size (" +
		                            std::to_string(destination.size()) + " < " +
		                            std::to_string(count) + ")");
	uint64_t total = 0;
	while (total < count) {
		const ssize_t n = ::read(fd_, destination.data() + total, count - total);
		if (n < 0)
			throw std::runtime_error("Could not read from file descriptor: " + errnoText());
		if (n == 0)
			break;
		KALUN_LOG_DEBUG(std::string(logprefix::kFileDescriptor) + "read(): Read " +
		                std::to_string(n) + " bytes");
		total += static_cast<uint64_t>(n);
	}
	return total;
}

uint64_t FileDescriptor::write(ConstByteSpan source, uint64_t count)
{
	if (source.size() < count)
		throw std::invalid_argument("Buffer size is smaller than requested write size (" +
		                            std::to_string(source.size()) + " < " + std::to_string(count) +
		                            ")");
	uint64_t total = 0;
	while (total < count) {
		const ssize_t n = ::write(fd_, source.data() + total, count - total);
		if (n < 0)
			throw std::runtime_error("Could not write to file descriptor: " + errnoText());
		if (n == 0)
			break;
		KALUN_LOG_DEBUG(std::string(logprefix::kFileDescriptor) + "write(): Wrote " +
		                std::to_string(n) + " bytes");
		total += static_cast<uint64_t>(n);
	}
	return total;
}

std::shared_ptr<void> FileDescriptor::map(int64_t offset, uint64_t size, int prot) const
{
	void *address = ::mmap(nullptr, size, prot, MAP_SHARED, fd_, offset);
	if (address == MAP_FAILED)
		throw std::runtime_error("Could not map " + std::to_string(size) + " bytes at offset " +
		                         std::to_string(offset) + " in file descriptor: " + errnoText());
	auto unmap = [size](void *region) {
		if (::munmap(region, size) != 0)
			log::error("Could not unmap " + std::to_string(size) + " bytes at address: " +
			           std::to_string(reinterpret_cast<uintptr_t>(region)) + ": " + errnoText());
	};
	// Should the control block not be had, shared_ptr runs the deleter
	// itself, so the region never leaks.
	return std::shared_ptr<void>(address, unmap);
}

} // namespace kalun
