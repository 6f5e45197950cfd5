// Sole ownership of one file descriptor, with the transfers and mappings the
// service makes on tensor and model descriptors.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "kalun/span.h"

namespace kalun
{

// Every failure that concerns a tensor's descriptor, so that callers can tell
// it from other failures and report it as a descriptor error.
class FileDescriptorError : public std::runtime_error
{
      public:
	using std::runtime_error::runtime_error;
};

class FileDescriptor
{
      public:
	FileDescriptor() = default;
	// Takes ownership; a negative number is refused.
	explicit FileDescriptor(int fd);
	FileDescriptor(FileDescriptor &&other) noexcept;
	FileDescriptor &operator=(FileDescriptor &&other);
	// Copies own a duplicate of the source's descriptor.
	FileDescriptor(const FileDescriptor &other);
	FileDescriptor &operator=(const FileDescriptor &other);
	~FileDescriptor();

	static int dup(int fd);

	int get() const
	{
		return fd_;
	}
	void close();

	// Reads up to count bytes from the current file position; fewer only at
	// end of file.
	uint64_t read(ByteSpan destination, uint64_t count);
	// Writes up to count bytes at the current file position.
	uint64_t write(ConstByteSpan source, uint64_t count);

	// Maps [offset, offset + size) shared; the region is unmapped when the
	// last holder of the returned pointer lets go.
	std::shared_ptr<void> map(int64_t offset, uint64_t size, int prot) const;

      private:
	int fd_ = -1;
};

} // namespace kalun
