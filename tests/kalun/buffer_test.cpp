#include "kalun/buffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "kalun/log.h"
#include "kalun/mapping_guard.h"
#include "test_util.h"

namespace
{

using kalun::Buffer;
using kalun::FileDescriptor;
using kalun::FileDescriptorError;
using kalun::test::patternByte;
using kalun::test::patternMemfd;
using kalun::test::reopen;
using kalun::test::thrownText;

std::shared_ptr<Buffer> makeBuffer(int fd, uint64_t size, int64_t offset, uint32_t props)
{
	return std::make_shared<Buffer>(FileDescriptor(fd), size, offset, props);
}

bool fdIsOpen(int fd)
{
	return fcntl(fd, F_GETFD) != -1;
}

TEST(FileDescriptorTest, OwnershipMovesAndCopiesDuplicate)
{
	EXPECT_EQ(thrownText<std::invalid_argument>([] { FileDescriptor fd(-1); }), "fd is negative");

	const int raw = patternMemfd(16);
	FileDescriptor a(raw);
	FileDescriptor b(std::move(a));
	EXPECT_EQ(a.get(), -1);
	EXPECT_EQ(b.get(), raw);
	{
		FileDescriptor c(b);
		EXPECT_NE(c.get(), raw);
		EXPECT_TRUE(fdIsOpen(c.get()));
	}
	FileDescriptor empty;
	FileDescriptor emptyCopy(empty);
	EXPECT_EQ(emptyCopy.get(), -1);
	b = std::move(b);
	EXPECT_EQ(b.get(), raw);
	b.close();
	EXPECT_EQ(b.get(), -1);
	EXPECT_FALSE(fdIsOpen(raw));
}

TEST(FileDescriptorTest, CloseFailureReportsAndForgetsTheNumber)
{
	FileDescriptor fd(999); // nothing is open there
	EXPECT_EQ(thrownText<std::runtime_error>([&] { fd.close(); }),
	          "Could not close fd: Bad file descriptor");
	EXPECT_EQ(fd.get(), -1);
}

TEST(FileDescriptorTest, ReadAndWriteCheckTheSpanAndStopAtEndOfFile)
{
	FileDescriptor fd(patternMemfd(10));
	std::vector<uint8_t> small(4);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { fd.read(small, 5); }),
	          "Buffer size is smaller than requested read size (4 < 5)");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { fd.write(small, 5); }),
	          "Buffer size is smaller than requested write size (4 < 5)");
	std::vector<uint8_t> big(32);
	lseek(fd.get(), 0, SEEK_SET);
	EXPECT_EQ(fd.read(big, 32), 10u);
	EXPECT_EQ(big[9], patternByte(9));
	EXPECT_EQ(fd.read(big, 0), 0u);
}

TEST(FileDescriptorTest, MapFailureNamesSizeAndOffset)
{
	FileDescriptor fd(patternMemfd(10));
	EXPECT_EQ(thrownText<std::runtime_error>([&] { fd.map(3, 4096, PROT_READ); }),
	          "Could not map 4096 bytes at offset 3 in file descriptor: Invalid argument");
}

struct CtorCase {
	uint64_t fdSize;
	int64_t offset;
	uint32_t props;
	const char *error;
};

TEST(BufferTest, ConstructorChecksInOrderAndClosesTheDescriptor)
{
	const CtorCase cases[] = {
	    {0, 0, 0, ""},
	    {0, 1 << 20, 7, ""}, // unknown size: no size check
	    {100, 100, 3, ""},   // offset at the end is fine
	    {100, -1, 3, "Offset is negative"},
	    {100, -1, 9, "Offset is negative"},
	    {100, 101, 3, "Offset (101) is greater than max size (100)"},
	    {100, 101, 8, "Offset (101) is greater than max size (100)"},
	    {100, 0, 8, "Fd properties flag (8) is invalid"},
	    {0, 0, 0xffffffffu, "Fd properties flag (4294967295) is invalid"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.error);
		const int raw = patternMemfd(1);
		const std::string text =
		    thrownText<std::invalid_argument>([&] { makeBuffer(raw, c.fdSize, c.offset, c.props); });
		EXPECT_EQ(text, c.error);
		EXPECT_FALSE(fdIsOpen(raw));
	}
}

TEST(BufferTest, IdsStartAboveZeroAndIncrease)
{
	auto a = makeBuffer(patternMemfd(1), 0, 0, 3);
	auto b = makeBuffer(patternMemfd(1), 0, 0, 3);
	EXPECT_GE(a->getId(), 1u);
	EXPECT_EQ(b->getId(), a->getId() + 1);
	EXPECT_FALSE(a->isTracked());
	a->setTracked();
	EXPECT_TRUE(a->isTracked());
}

TEST(BufferTest, ReadAndWriteAtTheOffset)
{
	auto buffer = makeBuffer(patternMemfd(64), 64, 10, 1);
	std::vector<uint8_t> got(8);
	buffer->read(got);
	for (size_t i = 0; i < got.size(); ++i)
		EXPECT_EQ(got[i], patternByte(10 + i));

	const std::vector<uint8_t> data = {1, 2, 3};
	buffer->write(data);
	std::vector<uint8_t> back(3);
	buffer->read(back);
	EXPECT_EQ(back, data);

	std::vector<uint8_t> tooBig(65);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->read(tooBig); }),
	          "Fd max size is smaller than buffer size (64 < 65)");
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->write(tooBig); }),
	          "Fd max size is smaller than buffer size (64 < 65)");
	// The offset does not enter the size check; the file simply ends.
	std::vector<uint8_t> rest(60);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->read(rest); }),
	          "Could only read 54 out of 60 bytes from file descriptor");
}

TEST(BufferTest, WriteToReadOnlyDescriptorFails)
{
	const int fd = patternMemfd(16);
	auto buffer = makeBuffer(reopen(fd, O_RDONLY), 16, 0, 1);
	close(fd);
	const std::vector<uint8_t> data(4);
	EXPECT_EQ(thrownText<std::runtime_error>([&] { buffer->write(data); }),
	          "Could not write to file descriptor: Bad file descriptor");
}

struct ProtCase {
	int mode;
	int prot;
	const char *error;
};

TEST(BufferTest, CpuAccessProtectionAgainstOpenMode)
{
	const ProtCase cases[] = {
	    {O_RDWR, 0, "A valid prot must be provided"},
	    {O_RDWR, 4, "Only PROT_READ and PROT_WRITE are valid prot. Given prot was 4"},
	    {O_RDWR, -1, "Only PROT_READ and PROT_WRITE are valid prot. Given prot was -1"},
	    {O_RDWR, PROT_READ, ""},
	    {O_RDWR, PROT_WRITE, ""},
	    {O_RDWR, PROT_READ | PROT_WRITE, ""},
	    {O_RDONLY, PROT_READ, ""},
	    {O_RDONLY, PROT_WRITE,
	     "This fd cannot be mapped for writing (using PROT_WRITE) due to missing file writing "
	     "access rights"},
	    {O_RDONLY, PROT_READ | PROT_WRITE,
	     "This fd cannot be mapped for writing (using PROT_WRITE) due to missing file writing "
	     "access rights"},
	    {O_WRONLY, PROT_READ,
	     "This fd cannot be mapped for reading (using PROT_READ) due to missing file reading "
	     "access rights"},
	    // A write-only shared mapping is refused by the kernel itself.
	    {O_WRONLY, PROT_WRITE,
	     "Could not map 16 bytes at offset 0 in file descriptor: Permission denied"},
	    {O_PATH, PROT_READ, "Could not lseek to end of buffer: Bad file descriptor"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.prot));
		const int fd = patternMemfd(16);
		auto buffer = makeBuffer(reopen(fd, c.mode), 16, 0, 2);
		close(fd);
		std::string text;
		try {
			auto access = buffer->cpuAccess(16, c.prot);
			if (c.prot & PROT_READ) {
				EXPECT_EQ(access.get()[3], patternByte(3));
			}
		} catch (const FileDescriptorError &e) {
			text = e.what();
		}
		EXPECT_EQ(text, c.error);
	}
}

TEST(BufferTest, ReadOnlyMappingRefusesALaterWriteAccess)
{
	const int fd = patternMemfd(16);
	auto buffer = makeBuffer(reopen(fd, O_RDONLY), 16, 0, 2);
	close(fd);
	{
		auto access = buffer->cpuAccess(8, PROT_READ);
	}
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->cpuAccess(8, PROT_WRITE); }),
	          "Cached mapping of fd has been mapped without write access rights");
}

TEST(BufferTest, ReadWriteMappingIsReusedForAnyProtection)
{
	auto buffer = makeBuffer(patternMemfd(16), 16, 0, 2);
	uint8_t *first = nullptr;
	{
		auto access = buffer->cpuAccess(8, PROT_READ);
		first = access.get();
	}
	auto access = buffer->cpuAccess(8, PROT_WRITE);
	EXPECT_EQ(access.get(), first);
	access.get()[0] = 0xaa;
	std::vector<uint8_t> got(1);
	buffer->read(got);
	EXPECT_EQ(got[0], 0xaa);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->cpuAccess(9, PROT_READ); }),
	          "Cached fd mapping is smaller than requested size (8 < 9)");
}

TEST(BufferTest, UnalignedOffsetsMapFromThePageBelow)
{
	const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
	for (int64_t offset : {int64_t(100), int64_t(page), int64_t(page + 5)}) {
		SCOPED_TRACE(offset);
		auto buffer = makeBuffer(patternMemfd(3 * page), 3 * page, offset, 2);
		auto access = buffer->cpuAccess(page, PROT_READ);
		for (size_t i : {size_t(0), size_t(1), page - 1})
			EXPECT_EQ(access.get()[i], patternByte(offset + i));
	}
}

TEST(BufferTest, CpuAccessSizeChecks)
{
	auto known = makeBuffer(patternMemfd(64), 64, 10, 2);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { known->cpuAccess(55, PROT_READ); }),
	          "Start offset (10) + size (55) to be mapped is larger than the size of the fd (64)");
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { known->cpuAccess(UINT64_MAX, PROT_READ); }),
	          "Start offset (10) + size (18446744073709551615) to be mapped is larger than the "
	          "size of the fd (64)");
	auto unknown = makeBuffer(patternMemfd(64), 0, 10, 2);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { unknown->cpuAccess(55, PROT_READ); }),
	          "The size of the buffer is smaller than requested (64 < 65)");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { unknown->cpuAccess(UINT64_MAX, PROT_READ); }),
	          "Casted type is too big (18446744073709551615 > 9223372036854775807)");
}

TEST(BufferTest, PlainBuffersAllowConcurrentAccesses)
{
	auto buffer = makeBuffer(patternMemfd(16), 16, 0, 3);
	auto a = buffer->cpuAccess(4, PROT_READ);
	auto b = buffer->cpuAccess(4, PROT_WRITE);
	EXPECT_EQ(a.get(), b.get());
}

class Observer : public kalun::BufferContextCache
{
      public:
	void deleteBufferContext(uint64_t cookie) override
	{
		cookies.push_back(cookie);
	}
	std::vector<uint64_t> cookies;
};

TEST(BufferTest, ObserversAreToldOnceOnDestruction)
{
	Observer one, two, gone;
	auto buffer = makeBuffer(patternMemfd(1), 0, 0, 3);
	const uint64_t id = buffer->getId();
	buffer->addObserver(&one);
	buffer->addObserver(&two);
	buffer->addObserver(&gone);
	EXPECT_EQ(thrownText<std::logic_error>([&] { buffer->addObserver(&one); }), "Observer already added");
	buffer->removeObserver(&gone);
	buffer.reset();
	EXPECT_EQ(one.cookies, std::vector<uint64_t>{id});
	EXPECT_EQ(two.cookies, std::vector<uint64_t>{id});
	EXPECT_TRUE(gone.cookies.empty());
}

// A client cuts its file short under the service's mapping.
class GuardTest : public ::testing::Test
{
      protected:
	static constexpr uint32_t kMapped = kalun::KALUN_FD_PROP_MAP | kalun::KALUN_FD_PROP_READWRITE;
	const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
};

TEST_F(GuardTest, AFileCutShortBetweenAccessesFailsTheBufferNotTheProcess)
{
	const size_t guardedBefore = kalun::mappingguard::count();
	auto buffer = makeBuffer(patternMemfd(2 * page), 0, 0, kMapped);
	{
		auto access = buffer->cpuAccess(2 * page, PROT_READ);
		EXPECT_TRUE(buffer->isGuarded());
		EXPECT_EQ(kalun::mappingguard::count(), guardedBefore + 1);
		EXPECT_EQ(access.get()[page + 1], patternByte(page + 1));
		ASSERT_EQ(ftruncate(buffer->getFd(), 0), 0);
		volatile uint8_t *data = access.get();
		// The fault was taken and the pages replaced by zeros.
		EXPECT_EQ(data[page + 1], 0);
		EXPECT_TRUE(buffer->hasFailed());
	}
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->cpuAccess(16, PROT_READ); }),
	          Buffer::kCutShortText);
	buffer.reset();
	EXPECT_EQ(kalun::mappingguard::count(), guardedBefore);
}

TEST_F(GuardTest, AFileCutShortWhileAnotherThreadReadsIt)
{
	auto buffer = makeBuffer(patternMemfd(64 * page), 0, 0, kMapped);
	auto access = buffer->cpuAccess(64 * page, PROT_READ);
	const volatile uint8_t *data = access.get();
	std::atomic<bool> started{false};
	std::thread reader([&] {
		while (!buffer->hasFailed()) {
			for (size_t i = 0; i < 64 * page; i += 512)
				(void)data[i];
			started.store(true);
		}
	});
	while (!started.load())
		std::this_thread::yield();
	ASSERT_EQ(ftruncate(buffer->getFd(), static_cast<off_t>(page)), 0);
	reader.join();
	EXPECT_TRUE(buffer->hasFailed());
}

TEST_F(GuardTest, SealedMemfdsNeedNoGuard)
{
	const int fd = memfd_create("sealed", MFD_CLOEXEC | MFD_ALLOW_SEALING);
	ASSERT_EQ(ftruncate(fd, static_cast<off_t>(page)), 0);
	ASSERT_EQ(fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
	auto sealed = makeBuffer(fd, 0, 0, kMapped);
	auto access = sealed->cpuAccess(page, PROT_READ | PROT_WRITE);
	EXPECT_FALSE(sealed->isGuarded());
	EXPECT_NE(ftruncate(fd, 0), 0);
	access.get()[page - 1] = 7;
	EXPECT_FALSE(sealed->hasFailed());
}

TEST_F(GuardTest, AFaultOutsideClientMappingsStillEndsTheProcess)
{
	// The guard is in place once any client buffer has been mapped.
	auto buffer = makeBuffer(patternMemfd(page), 0, 0, kMapped);
	buffer->cpuAccess(page, PROT_READ);
	ASSERT_TRUE(buffer->isGuarded());
	EXPECT_DEATH(
	    {
		    const int fd = patternMemfd(2 * page);
		    auto *own = static_cast<volatile uint8_t *>(
		        mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fd, 0));
		    if (ftruncate(fd, 0) == 0)
			    std::printf("%d\n", own[page]);
	    },
	    "");
}

TEST(Helpers, CheckedCastAndFdPropNames)
{
	EXPECT_EQ(kalun::checkedCast(9223372036854775807ull), INT64_MAX);
	EXPECT_EQ(thrownText<std::invalid_argument>([] { kalun::checkedCast(9223372036854775808ull); }),
	          "Casted type is too big (9223372036854775808 > 9223372036854775807)");
	EXPECT_EQ(kalun::fdPropsToString(0), "");
	EXPECT_EQ(kalun::fdPropsToString(2), "KALUN_FD_PROP_MAP");
	EXPECT_EQ(kalun::fdPropsToString(7 | 8),
	          "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_MAP, KALUN_FD_PROP_DMABUF");
	EXPECT_EQ(kalun::fdPropsToString(5), "KALUN_FD_PROP_READWRITE, KALUN_FD_PROP_DMABUF");
}

// dma-buf synchronisation, with the kernel's answers scripted.
class DmaBufTest : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		kalun::dmabuf::setSyncHooks(
		    {[this](int, uint64_t flags) {
			     flagsSeen.push_back(flags);
			     if (failures > 0) {
				     --failures;
				     errno = failErrno;
				     return -1;
			     }
			     return 0;
		     },
		     [this](std::chrono::milliseconds d) { slept.push_back(d.count()); }});
		kalun::log::setSyslogSink([this](int, const std::string &text) { logged.push_back(text); });
	}
	void TearDown() override
	{
		kalun::dmabuf::setSyncHooks({});
		kalun::log::setSyslogSink(nullptr);
	}
	std::vector<uint64_t> flagsSeen;
	std::vector<long> slept;
	std::vector<std::string> logged;
	int failures = 0;
	int failErrno = 0;
};

TEST_F(DmaBufTest, AccessIsBracketedBySyncsAndExclusive)
{
	auto buffer = makeBuffer(patternMemfd(16), 16, 0, 7);
	{
		auto access = buffer->cpuAccess(16, PROT_READ);
		EXPECT_EQ(thrownText<std::logic_error>([&] { buffer->cpuAccess(16, PROT_READ); }),
		          "Mapped pointer access to this buffer already active");
	}
	{
		auto access = buffer->cpuAccess(16, PROT_WRITE);
	}
	{
		auto access = buffer->cpuAccess(16, PROT_READ | PROT_WRITE);
	}
	// start read, end read, start write, end write, start rw, end rw
	EXPECT_EQ(flagsSeen, (std::vector<uint64_t>{1, 5, 2, 6, 3, 7}));
}

struct RetryCase {
	int err;
	int failures;
	size_t attempts;
	long totalSleep;
	const char *error;
};

TEST_F(DmaBufTest, RetrySchedule)
{
	const RetryCase cases[] = {
	    {EAGAIN, 0, 1, 0, ""},
	    {EAGAIN, 3, 4, 7, ""},
	    {EINTR, 7, 8, 127, ""},
	    {EAGAIN, 100, 8, 255, "Failed executing dmabuf sync: Resource temporarily unavailable"},
	    {EINTR, 100, 8, 255, "Failed executing dmabuf sync: Interrupted system call"},
	    {ENOTTY, 1, 1, 0, "Failed executing dmabuf sync: Inappropriate ioctl for device"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.err) + "x" + std::to_string(c.failures));
		flagsSeen.clear();
		slept.clear();
		logged.clear();
		failures = c.failures;
		failErrno = c.err;
		auto buffer = makeBuffer(patternMemfd(16), 16, 0, 6);
		const std::string text = thrownText<std::runtime_error>([&] {
			auto access = buffer->cpuAccess(16, PROT_READ);
			failures = 0;
		});
		EXPECT_EQ(text, c.error);
		EXPECT_EQ(static_cast<size_t>(std::count(flagsSeen.begin(), flagsSeen.end(), 1u)),
		          c.attempts);
		long total = 0;
		for (size_t i = 0; i < slept.size(); ++i) {
			EXPECT_EQ(slept[i], 1L << i);
			total += slept[i];
		}
		EXPECT_EQ(total, c.totalSleep);
		if (c.err != ENOTTY && c.failures > 0) {
			EXPECT_EQ(logged.front(), "Dmabuf ioctl sync call returned " +
			                              std::to_string(-c.err) + ". Trying again...");
		}
		if (*c.error) {
			EXPECT_EQ(logged.back(),
			          "Failed dmabuf ioctl sync with flags 1: " + std::string(strerror(c.err)));
			// A failed start leaves the buffer free for the next access.
			failures = 0;
			flagsSeen.clear();
			{
				auto access = buffer->cpuAccess(16, PROT_READ);
			}
			EXPECT_EQ(flagsSeen, (std::vector<uint64_t>{1, 5}));
		}
	}
}

TEST_F(DmaBufTest, FailureAfterTheStartSyncEndsTheAccess)
{
	const int fd = patternMemfd(16);
	auto buffer = makeBuffer(reopen(fd, O_RDONLY), 16, 0, 6);
	close(fd);
	EXPECT_EQ(thrownText<FileDescriptorError>([&] { buffer->cpuAccess(16, PROT_WRITE); }),
	          "This fd cannot be mapped for writing (using PROT_WRITE) due to missing file "
	          "writing access rights");
	EXPECT_EQ(flagsSeen, (std::vector<uint64_t>{2, 6}));
	auto access = buffer->cpuAccess(16, PROT_READ);
	EXPECT_EQ(access.get()[1], patternByte(1));
}

TEST_F(DmaBufTest, FailedEndSyncIsLoggedAndKeepsTheAccessOpen)
{
	auto buffer = makeBuffer(patternMemfd(16), 16, 0, 6);
	{
		auto access = buffer->cpuAccess(16, PROT_READ);
		failures = 1;
		failErrno = EIO;
	}
	EXPECT_EQ(logged.back(), "Could not end CPU access: Failed executing dmabuf sync: "
	                         "Input/output error");
	EXPECT_EQ(thrownText<std::logic_error>([&] { buffer->cpuAccess(16, PROT_READ); }),
	          "Mapped pointer access to this buffer already active");
	buffer->endCpuAccess();
	logged.clear();
	buffer.reset();
	EXPECT_TRUE(logged.empty());
}

TEST_F(DmaBufTest, DestroyingDuringAnAccessWarns)
{
	auto buffer = makeBuffer(patternMemfd(16), 16, 0, 6);
	auto access = buffer->cpuAccess(16, PROT_READ);
	access.release();
	buffer.reset();
	EXPECT_EQ(logged.back(), "Buffer being deleted with ongoing mapped CPU access");
}

} // namespace
