#include "kalun/buffer.h"

#include <fcntl.h>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "kalun/log.h"
#include "kalun/mapping_guard.h"

namespace kalun
{

namespace
{

std::atomic<uint64_t> nextBufferId{1};

std::string errnoText(int err)
{
	return std::strerror(err);
}

int systemSyncIoctl(int fd, uint64_t flags)
{
	struct dma_buf_sync request {
	};
	request.flags = flags;
	return ::ioctl(fd, DMA_BUF_IOCTL_SYNC, &request);
}

void systemSleep(std::chrono::milliseconds duration)
{
	struct timespec remaining {
	};
	remaining.tv_sec = static_cast<time_t>(duration.count() / 1000);
	remaining.tv_nsec = static_cast<long>((duration.count() % 1000) * 1000000);
	while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
	}
}

dmabuf::SyncHooks syncHooks{systemSyncIoctl, systemSleep};

// Widest protection the descriptor's open mode allows, refusing what the
// access asks for and the mode forbids.
int checkMapAccess(int fd, int prot)
{
	const int flags = fcntl(fd, F_GETFL);
	if (flags == -1)
		throw FileDescriptorError("Could not get file's status: " + errnoText(errno));
	switch (flags & O_ACCMODE) {
	case O_RDONLY:
		if (prot & PROT_WRITE)
			throw FileDescriptorError(
			    "This fd cannot be mapped for writing (using PROT_WRITE) due to missing file "
			    "writing access rights");
		return PROT_READ;
	case O_WRONLY:
		if (prot & PROT_READ)
			throw FileDescriptorError(
			    "This fd cannot be mapped for reading (using PROT_READ) due to missing file "
			    "reading access rights");
		return PROT_WRITE;
	case O_RDWR:
		return PROT_READ | PROT_WRITE;
	default:
		throw FileDescriptorError(
		    "This fd cannot be mapped for neither reading nor writing due to missing file "
		    "access rights");
	}
}

// Only a memfd sealed against shrinking cannot lose pages under a mapping.
bool sealedAgainstShrinking(int fd)
{
	const int seals = fcntl(fd, F_GET_SEALS);
	return seals != -1 && (seals & F_SEAL_SHRINK);
}

} // namespace

int64_t checkedCast(uint64_t value)
{
	constexpr uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
	if (value > max)
		throw std::invalid_argument("Casted type is too big (" + std::to_string(value) + " > " +
		                            std::to_string(max) + ")");
	return static_cast<int64_t>(value);
}

std::string fdPropsToString(uint32_t fdProps)
{
	static const std::pair<uint32_t, const char *> names[] = {
	    {KALUN_FD_PROP_READWRITE, "KALUN_FD_PROP_READWRITE"},
	    {KALUN_FD_PROP_MAP, "KALUN_FD_PROP_MAP"},
	    {KALUN_FD_PROP_DMABUF, "KALUN_FD_PROP_DMABUF"},
	};
	std::string text;
	for (const auto &[bit, name] : names) {
		if (!(fdProps & bit))
			continue;
		if (!text.empty())
			text += ", ";
		text += name;
	}
	return text;
}

std::string unsupportedFdPropsText(const char *side, uint32_t supported)
{
	return std::string(side) +
	       " tensor fd property not supported by this chip; supported: " + fdPropsToString(supported);
}

namespace dmabuf
{

void setSyncHooks(SyncHooks hooks)
{
	syncHooks.ioctl = hooks.ioctl ? std::move(hooks.ioctl) : systemSyncIoctl;
	syncHooks.sleep = hooks.sleep ? std::move(hooks.sleep) : systemSleep;
}

void sync(int fd, bool end, int prot)
{
	uint64_t flags = end ? DMA_BUF_SYNC_END : DMA_BUF_SYNC_START;
	if (prot & PROT_READ)
		flags |= DMA_BUF_SYNC_READ;
	if (prot & PROT_WRITE)
		flags |= DMA_BUF_SYNC_WRITE;

	std::chrono::milliseconds backoff(1);
	int err = 0;
	for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
		if (syncHooks.ioctl(fd, flags) >= 0)
			return;
		err = errno;
		if (err != EAGAIN && err != EINTR)
			break;
		syncHooks.sleep(backoff);
		backoff *= 2;
		log::warning("Dmabuf ioctl sync call returned " + std::to_string(-err) + ". Trying again...");
	}
	// Running on without the sync would hand the job memory whose caches
	// were never made coherent, so a sync that never succeeded is a failure.
	log::error("Failed dmabuf ioctl sync with flags " + std::to_string(flags) + ": " + errnoText(err));
	throw std::runtime_error("Failed executing dmabuf sync: " + errnoText(err));
}

} // namespace dmabuf

void Buffer::CpuAccessEnd::operator()(uint8_t *) const noexcept
{
	if (!buffer)
		return;
	// The release runs where nothing can be raised; the failed end sync is
	// logged by the sync itself and the access stays marked open.
	try {
		buffer->endCpuAccess();
	} catch (const std::exception &e) {
		log::error(std::string("Could not end CPU access: ") + e.what());
	}
}

Buffer::Buffer(FileDescriptor fd, uint64_t fdSize, int64_t offset, uint32_t fdProps)
    : fd_(std::move(fd)), fdSize_(fdSize), offset_(offset), fdProps_(fdProps), id_(nextBufferId.fetch_add(1))
{
	checkFields(fdSize, offset, fdProps);
}

void Buffer::checkFields(uint64_t fdSize, int64_t offset, uint32_t fdProps)
{
	if (offset < 0)
		throw std::invalid_argument("Offset is negative");
	if (fdSize != 0 && fdSize < static_cast<uint64_t>(offset))
		throw std::invalid_argument("Offset (" + std::to_string(offset) +
		                            ") is greater than max size (" + std::to_string(fdSize) + ")");
	if (fdProps >= 8)
		throw std::invalid_argument("Fd properties flag (" + std::to_string(fdProps) +
		                            ") is invalid");
}

Buffer::~Buffer()
{
	if (activeProt_ != -1)
		log::warning("Buffer being deleted with ongoing mapped CPU access");
	std::vector<BufferContextCache *> toTell;
	{
		std::lock_guard<std::mutex> lock(observerMutex_);
		toTell.assign(observers_.begin(), observers_.end());
		observers_.clear();
	}
	for (BufferContextCache *observer : toTell) {
		KALUN_LOG_DEBUG(std::string(logprefix::kBuffer) + "~Buffer(): Deleting context...");
		try {
			observer->deleteBufferContext(id_);
		} catch (const std::exception &e) {
			log::error(std::string("Could not delete buffer context: ") + e.what());
		}
	}
	const size_t slot = guardSlot_.load();
	if (slot != kNotGuarded)
		mappingguard::remove(slot);
	mapping_.reset();
}

void Buffer::seekToOffset()
{
	if (lseek(fd_.get(), offset_, SEEK_SET) == -1)
		throw FileDescriptorError("Could not go to file descriptor offset " +
		                          std::to_string(offset_) + ": " + errnoText(errno));
}

void Buffer::read(ByteSpan destination)
{
	if (fdSize_ != 0 && fdSize_ < destination.size())
		throw FileDescriptorError("Fd max size is smaller than buffer size (" +
		                          std::to_string(fdSize_) + " < " +
		                          std::to_string(destination.size()) + ")");
	std::lock_guard<std::mutex> lock(ioMutex_);
	seekToOffset();
	const uint64_t n = fd_.read(destination, destination.size());
	if (n < destination.size())
		throw FileDescriptorError("Could only read " + std::to_string(n) + " out of " +
		                          std::to_string(destination.size()) + " bytes from file descriptor");
}

void Buffer::write(ConstByteSpan source)
{
	if (fdSize_ != 0 && fdSize_ < source.size())
		throw FileDescriptorError("Fd max size is smaller than buffer size (" +
		                          std::to_string(fdSize_) + " < " + std::to_string(source.size()) +
		                          ")");
	std::lock_guard<std::mutex> lock(ioMutex_);
	seekToOffset();
	const uint64_t n = fd_.write(source, source.size());
	if (n < source.size())
		throw FileDescriptorError("Could only write " + std::to_string(n) + " out of " +
		                          std::to_string(source.size()) + " bytes to file descriptor");
}

Buffer::CpuAccess Buffer::cpuAccess(uint64_t size, int prot)
{
	const uint64_t offset = static_cast<uint64_t>(offset_);
	if (fdSize_ != 0 && (size > fdSize_ || offset > fdSize_ - size))
		throw FileDescriptorError(
		    "Start offset (" + std::to_string(offset_) + ") + size (" + std::to_string(size) +
		    ") to be mapped is larger than the size of the fd (" + std::to_string(fdSize_) + ")");
	if (prot == 0)
		throw FileDescriptorError("A valid prot must be provided");
	if (prot & ~(PROT_READ | PROT_WRITE))
		throw FileDescriptorError("Only PROT_READ and PROT_WRITE are valid prot. Given prot was " +
		                          std::to_string(prot));

	std::lock_guard<std::mutex> lock(cpuAccessMutex_);
	if (activeProt_ != -1)
		throw std::logic_error("Mapped pointer access to this buffer already active");
	const bool dmaBuf = (fdProps_ & KALUN_FD_PROP_DMABUF) != 0;
	if (dmaBuf) {
		dmabuf::sync(fd_.get(), false, prot);
		activeProt_ = prot;
	}
	try {
		if (mapping_) {
			if (hasFailed())
				throw FileDescriptorError(kCutShortText);
			if (mappedSize_ < size)
				throw FileDescriptorError(
				    "Cached fd mapping is smaller than requested size (" +
				    std::to_string(mappedSize_) + " < " + std::to_string(size) + ")");
			if ((prot & PROT_READ) && !(mappedProt_ & PROT_READ))
				throw FileDescriptorError(
				    "Cached mapping of fd has been mapped without read access rights");
			if ((prot & PROT_WRITE) && !(mappedProt_ & PROT_WRITE))
				throw FileDescriptorError(
				    "Cached mapping of fd has been mapped without write access rights");
		} else {
			mapFd(size, prot);
		}
	} catch (...) {
		// No handle is returned, so nothing else would ever end the access:
		// close it here or the buffer refuses every later access.
		if (dmaBuf) {
			try {
				dmabuf::sync(fd_.get(), true, prot);
			} catch (const std::exception &e) {
				log::error(std::string("Could not end CPU access after failure: ") +
				           e.what());
			}
			activeProt_ = -1;
		}
		throw;
	}
	return CpuAccess(mappedData_, CpuAccessEnd{this});
}

void Buffer::endCpuAccess()
{
	if (!(fdProps_ & KALUN_FD_PROP_DMABUF))
		return;
	std::lock_guard<std::mutex> lock(cpuAccessMutex_);
	if (activeProt_ == -1)
		return;
	dmabuf::sync(fd_.get(), true, activeProt_);
	activeProt_ = -1;
}

void Buffer::mapFd(uint64_t size, int prot)
{
	const off_t end = lseek(fd_.get(), 0, SEEK_END);
	if (end == -1)
		throw FileDescriptorError("Could not lseek to end of buffer: " + errnoText(errno));
	checkedCast(size);
	const uint64_t wanted = static_cast<uint64_t>(offset_) + size;
	if (static_cast<uint64_t>(end) < wanted)
		throw FileDescriptorError("The size of the buffer is smaller than requested (" +
		                          std::to_string(end) + " < " + std::to_string(wanted) + ")");
	const int mapProt = checkMapAccess(fd_.get(), prot);
	const int64_t page = sysconf(_SC_PAGESIZE);
	const int64_t start = offset_ - offset_ % page;
	const uint64_t lead = static_cast<uint64_t>(offset_ - start);
	std::shared_ptr<void> mapping;
	try {
		mapping = fd_.map(start, lead + size, mapProt);
	} catch (const std::runtime_error &e) {
		throw FileDescriptorError(e.what());
	}
	if (!sealedAgainstShrinking(fd_.get())) {
		try {
			guardSlot_.store(mappingguard::add(mapping.get(), lead + size));
		} catch (const std::runtime_error &e) {
			throw FileDescriptorError(e.what());
		}
	}
	mapping_ = std::move(mapping);
	mappedData_ = static_cast<uint8_t *>(mapping_.get()) + lead;
	mappedSize_ = size;
	mappedProt_ = mapProt;
}

bool Buffer::isGuarded() const
{
	return guardSlot_.load() != kNotGuarded;
}

bool Buffer::hasFailed() const
{
	const size_t slot = guardSlot_.load();
	return slot != kNotGuarded && mappingguard::faulted(slot);
}

void Buffer::addObserver(BufferContextCache *observer)
{
	std::lock_guard<std::mutex> lock(observerMutex_);
	if (!observers_.insert(observer).second)
		throw std::logic_error("Observer already added");
}

void Buffer::removeObserver(BufferContextCache *observer)
{
	std::lock_guard<std::mutex> lock(observerMutex_);
	observers_.erase(observer);
}

} // namespace kalun
