/* The chroma filter takes the encode mode from the video driver model. */
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_test_support.h"
#include "simsoc.h"
#include "simsoc_qvd.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace
{

int real_ioctl(int fd, unsigned long req, void *arg)
{
	return ioctl(fd, req, arg);
}

class IkEncMode : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		iktest::register_host_functions();
		vors_img_dsp_register_ioctl(real_ioctl);
		arch_ = iktest::make_arch(pipes_, 1);
		int32_t size = vors_img_dsp_query_arch_mem_size(&arch_);
		ASSERT_GT(size, 0);
		uint32_t phys = 0;
		region_ = simsoc_mem_alloc((uint32_t)size, &phys);
		ASSERT_NE(region_, nullptr);
		arch_.MemAddr = (uint64_t)(uintptr_t)region_;
		arch_.MemSize = (uint32_t)size;
		vors_img_dsp_set_mem_addr(arch_.MemAddr, phys, (uint32_t)size);
		ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
		img_dsp_ctx_id cid{0, 0, {}};
		ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		fd_ = open("/dev/qvd", O_RDWR);
		ASSERT_GE(fd_, 0);
	}
	void TearDown() override
	{
		if (fd_ >= 0)
			close(fd_);
		vors_img_dsp_deinit_arch();
		simsoc_mem_free(region_);
		simsoc_clear_failures();
		simsoc_qvd_set_enc_mode_cap(0, 0);
	}
	ik_video_ctx *ctx()
	{
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return (ik_video_ctx *)c;
	}

	std::vector<img_dsp_pipe_info> pipes_{{0, 1, 1, 1, 0}};
	img_dsp_arch_info arch_{};
	void *region_ = nullptr;
	int fd_ = -1;
};

TEST_F(IkEncMode, TheDriversEncodeModeBecomesTheContexts)
{
	simsoc_qvd_set_enc_mode_cap(2, 1);
	img_dsp_mode m{};
	m.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	m.BatchId = IMG_DSP_BATCH_NONE;
	img_dsp_chroma_filter f{1, 40, 50, 0, 24, 256, 192, {}};
	ASSERT_EQ(vors_img_dsp_set_chroma_filter(fd_, &m, &f), 0);
	EXPECT_EQ(ctx()->head.encode_mode, 2);

	/* a failing query: mode 0, the block is stored all the same */
	simsoc_inject_failure("/dev/qvd", SIMSOC_OP_IOCTL, EIO, 1);
	f.NoiseLevelCb = 7;
	iktest::StdoutCapture out;
	ASSERT_EQ(vors_img_dsp_set_chroma_filter(fd_, &m, &f), 0);
	EXPECT_TRUE(
	    iktest::has_msg(out.text(), "[IK][Debug]query_encode_mode() ", "can't get encode_mode\n"));
	EXPECT_EQ(ctx()->head.encode_mode, 0);
	img_dsp_chroma_filter got{};
	ASSERT_EQ(vors_img_dsp_get_chroma_filter(&m, &got), 0);
	EXPECT_EQ(got.NoiseLevelCb, 7);
}

TEST_F(IkEncMode, TheQueryCarriesItsMarkAndGetsTheRadiusCode)
{
	simsoc_qvd_set_enc_mode_cap(3, 2);
	uint8_t rec[36];
	memset(rec, 0, sizeof(rec));
	rec[0] = 0xFF;
	rec[20] = 0x5A;
	ASSERT_EQ(ioctl(fd_, 0xC0085616ul, rec), 0);
	uint64_t first;
	memcpy(&first, rec, 8);
	EXPECT_EQ(first & 0xFFu, 3u);
	EXPECT_EQ((first >> 16) & 3u, 2u);
	EXPECT_EQ(rec[20], 0x5A);
}

} // namespace
