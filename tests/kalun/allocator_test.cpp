#include "kalun/allocator/memfd.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_util.h"

namespace
{

using kalun::allocator::MemFd;
using kalun::test::thrownText;

TEST(MemFdTest, FdPropertiesAskedForAndGiven)
{
	auto memfd = MemFd::getShared();
	EXPECT_EQ(memfd, MemFd::getShared());
	for (uint32_t props = 0; props <= 8; ++props) {
		SCOPED_TRACE(props);
		std::unique_ptr<kalun::Buffer> buffer;
		const std::string text =
		    thrownText<std::invalid_argument>([&] { buffer = memfd->allocate(64, props, {}); });
		if (props & 4) {
			EXPECT_EQ(text, "DMA buffer is not supported");
			continue;
		}
		ASSERT_EQ(text, "");
		EXPECT_EQ(buffer->getFdProps(), 3u);
		EXPECT_EQ(buffer->getFdSize(), 64u);
		EXPECT_EQ(buffer->getOffset(), 0);
	}
}

TEST(MemFdTest, RefusalsComeInOrder)
{
	auto memfd = MemFd::getShared();
	kalun::ParameterMap params{{"key", int64_t(1)}};
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { memfd->allocate(8, 4, params); }),
	          "DMA buffer is not supported");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { memfd->allocate(8, 3, params); }),
	          "Additional parameters are not supported");

	struct Nothing : kalun::allocator::Allocator {
		Nothing() : Allocator(0) {}
		std::unique_ptr<kalun::Buffer> allocateVirtual(uint64_t, uint32_t,
		                                               const kalun::ParameterMap &) override
		{
			return nullptr;
		}
	} nothing;
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { nothing.allocate(8, 7, {}); }),
	          "Read/write buffer is not supported");
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { nothing.allocate(8, 6, {}); }),
	          "Mappable buffer is not supported");
}

TEST(MemFdTest, TooLargeSizeIsRefusedBeforeTruncating)
{
	EXPECT_EQ(thrownText<std::invalid_argument>([] { MemFd::getShared()->allocate(UINT64_MAX, 3, {}); }),
	          "Casted type is too big (18446744073709551615 > 9223372036854775807)");
}

TEST(MemFdTest, DescriptorIsANamedCloseOnExecMemfd)
{
	auto buffer = MemFd::getShared()->allocate(4096, 3, {});
	char target[256] = {};
	const std::string link = "/proc/self/fd/" + std::to_string(buffer->getFd());
	ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
	EXPECT_EQ(std::string(target), "/memfd:allocateVirtual (deleted)");
	EXPECT_TRUE(fcntl(buffer->getFd(), F_GETFD) & FD_CLOEXEC);
	EXPECT_EQ(lseek(buffer->getFd(), 0, SEEK_END), 4096);
	// The client gets it too: its size is sealed, so the service's mapping
	// needs no guard.
	EXPECT_EQ(fcntl(buffer->getFd(), F_GET_SEALS), F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
	EXPECT_NE(ftruncate(buffer->getFd(), 0), 0);
	// Both ways in reach the same bytes.
	{
		auto access = buffer->cpuAccess(4096, PROT_WRITE);
		access.get()[4095] = 0x5a;
		EXPECT_FALSE(buffer->isGuarded());
	}
	std::vector<uint8_t> all(4096);
	buffer->read(all);
	EXPECT_EQ(all[4095], 0x5a);
}

TEST(MemFdTest, SizeZeroGivesAnEmptyBufferOfUnknownSize)
{
	auto buffer = MemFd::getShared()->allocate(0, 3, {});
	EXPECT_EQ(buffer->getFdSize(), 0u);
	EXPECT_EQ(lseek(buffer->getFd(), 0, SEEK_END), 0);
}

} // namespace
