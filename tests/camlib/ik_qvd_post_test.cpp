/* A configuration posted through the simulated "/dev/qvd" with the region
 * taken from the device's memory, as the camera library does it. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace
{

int real_ioctl(int fd, unsigned long req, void *arg)
{
	return ioctl(fd, req, arg);
}

uint32_t rd32(const void *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

class IkQvdPost : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		iktest::register_host_functions();
		vors_img_dsp_register_ioctl(real_ioctl);
		arch_ = iktest::make_arch(pipes_, 1);
		int32_t size = vors_img_dsp_query_arch_mem_size(&arch_);
		ASSERT_GT(size, 0);
		size_ = (uint32_t)size;
		region_ = simsoc_mem_alloc(size_, &phys_);
		ASSERT_NE(region_, nullptr);
		arch_.MemAddr = (uint64_t)(uintptr_t)region_;
		arch_.MemSize = size_;
		vors_img_dsp_set_mem_addr(arch_.MemAddr, phys_, size_);
		ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
		img_dsp_ctx_id cid{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		img_dsp_cfg_id id{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
		fd_ = open("/dev/qvd", O_RDWR);
		ASSERT_GE(fd_, 0);
		simsoc_qvd_posts_clear();
		simsoc_qvd_fail_kind(-1, 0);
	}
	void TearDown() override
	{
		if (fd_ >= 0)
			close(fd_);
		vors_img_dsp_deinit_arch();
		simsoc_mem_free(region_);
		simsoc_qvd_fail_kind(-1, 0);
	}
	img_dsp_mode mode() const
	{
		img_dsp_mode m{};
		m.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		m.BatchId = IMG_DSP_BATCH_NONE;
		return m;
	}
	img_dsp_iso_cfg *cfg()
	{
		img_dsp_cfg_id id{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&id, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}

	std::vector<img_dsp_pipe_info> pipes_{{0, 1, 1, 1, 0}};
	img_dsp_arch_info arch_{};
	void *region_ = nullptr;
	uint32_t size_ = 0, phys_ = 0;
	int fd_ = -1;
};

TEST_F(IkQvdPost, DriverTakesThePartsAndTheirQueues)
{
	img_dsp_mode m = mode();
	iktest::StdoutCapture out;
	ASSERT_EQ(vors_img_dsp_post_exe_cfg(fd_, &m), 0);
	out.text();
	ASSERT_EQ(simsoc_qvd_posts(), 3u);
	simsoc_qvd_post_rec p;
	const uint32_t kinds[3] = {2, 1, 0};
	for (size_t i = 0; i < 3; i++) {
		ASSERT_EQ(simsoc_qvd_post(i, &p), 0);
		EXPECT_EQ(p.request, QVD_IOC_IMG_SET_MULTI_CHAN_CFG);
		EXPECT_EQ(p.kind, kinds[i]);
	}
	ASSERT_EQ(simsoc_qvd_post(0, &p), 0);
	EXPECT_EQ(p.addr, (uint64_t)(uintptr_t)&cfg()->ce);
	EXPECT_EQ(rd32(p.part), cfg()->ce.contrast_enhancement_cmd_queue_daddr);
	EXPECT_EQ(p.queue_size[0], 1280u);
	EXPECT_EQ(rd32(p.queue[0]), 0x9002010u);
	EXPECT_EQ(rd32(p.queue[0] + 7 * 128), 0x9006004u);
	ASSERT_EQ(simsoc_qvd_post(1, &p), 0);
	EXPECT_EQ(rd32(p.queue[0]), 0x9006004u) << "no HDR flag pending: an empty queue";
	ASSERT_EQ(simsoc_qvd_post(2, &p), 0);
	EXPECT_EQ(p.update_mask, 0xFFFFFFFFu);
	EXPECT_EQ(memcmp(p.part, cfg()->main.bytes, 616), 0);
	EXPECT_EQ(simsoc_qvd_post(3, &p), -1);
}

TEST_F(IkQvdPost, FailingHdrKindLeavesTheContrastPartPosted)
{
	simsoc_qvd_fail_kind(1, EIO);
	img_dsp_mode m = mode();
	iktest::StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_post_exe_cfg(fd_, &m), -1);
	std::string t = out.text();
	EXPECT_TRUE(iktest::has_msg(t, "[IK][Error]post_part() ",
	                            "call ioctl QVD_IOC_IMG_SET_MULTI_CHAN_CFG fail\n"));
	ASSERT_EQ(simsoc_qvd_posts(), 1u);
	simsoc_qvd_post_rec p;
	ASSERT_EQ(simsoc_qvd_post(0, &p), 0);
	EXPECT_EQ(p.kind, 2u);
}

TEST_F(IkQvdPost, DriverRefusesMalformedRequests)
{
	struct Case {
		const char *what;
		uint32_t kind, reserved;
		bool device_memory;
		int err;
	} cases[] = {
	    {"kind 3", 3, 0, true, EINVAL},
	    {"reserved word set", 0, 1, true, EINVAL},
	    {"part outside device memory", 2, 0, false, EFAULT},
	};
	static uint8_t ordinary[1024];
	for (const auto &c : cases) {
		qvd_multi_chan_cfg rec{0, c.kind,
		                       (uint64_t)(uintptr_t)(c.device_memory ? (void *)&cfg()->ce : ordinary),
		                       0, c.reserved};
		errno = 0;
		EXPECT_EQ(ioctl(fd_, QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, &rec), -1) << c.what;
		EXPECT_EQ(errno, c.err) << c.what;
	}
	EXPECT_EQ(simsoc_qvd_posts(), 0u);
}

TEST_F(IkQvdPost, PostsFromTwoThreadsAreAllKept)
{
	img_dsp_mode m = mode();
	iktest::StdoutCapture out;
	ASSERT_EQ(vors_img_dsp_post_exe_cfg(fd_, &m), 0);
	out.text();
	simsoc_qvd_posts_clear();
	/* The driver serves every channel's thread; the library itself is
	 * called by one thread per context, so these go to the driver directly. */
	auto poster = [this](uint32_t ctx) {
		for (int i = 0; i < 50; i++) {
			qvd_multi_chan_cfg rec{ctx, 2, (uint64_t)(uintptr_t)&cfg()->ce, 0, 0};
			EXPECT_EQ(ioctl(fd_, QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, &rec), 0);
		}
	};
	std::thread a(poster, 0), b(poster, 1);
	a.join();
	b.join();
	ASSERT_EQ(simsoc_qvd_posts(), 100u);
	size_t per_ctx[2] = {0, 0};
	simsoc_qvd_post_rec p;
	for (size_t i = 0; i < 100; i++) {
		ASSERT_EQ(simsoc_qvd_post(i, &p), 0);
		per_ctx[p.ctx_id]++;
		EXPECT_EQ(rd32(p.queue[0]), 0x9002010u);
	}
	EXPECT_EQ(per_ctx[0], 50u);
	EXPECT_EQ(per_ctx[1], 50u);
}

} // namespace
