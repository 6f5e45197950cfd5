/* The HDR configuration built from the HDR setters and posted through the
 * simulated "/dev/qvd", frame after frame. */
#include "ik_arch.h"
#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_hdr.h"
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
#include <string>
#include <thread>
#include <vector>

using iktest::has_msg;
using iktest::StdoutCapture;

namespace
{

typedef std::vector<uint8_t> Bytes;

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

const uint32_t kBatch = 0x09006004u;

class IkHdrPost : public ::testing::Test
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
		for (uint8_t c = 0; c < 2; c++) {
			img_dsp_ctx_id cid{0, c, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
		fd_ = open("/dev/qvd", O_RDWR);
		ASSERT_GE(fd_, 0);
		simsoc_qvd_posts_clear();
		simsoc_qvd_fail_kind(-1, 0);
		m_.Pipe = 0;
		m_.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		m_.FuncMode = IMG_DSP_FUNC_NO_HDR;
		m_.BatchId = IMG_DSP_BATCH_NONE;
		img_dsp_ctx_id cid{0, 0, {}};
		void *c = nullptr;
		ASSERT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		body_ = ik_body(0, c);
		buf_ = (uint8_t *)(uintptr_t)((ik_ctx_head *)c)->buf[0];
	}
	void TearDown() override
	{
		if (fd_ >= 0)
			close(fd_);
		vors_img_dsp_deinit_arch();
		simsoc_mem_free(region_);
		simsoc_qvd_fail_kind(-1, 0);
	}
	void blends(uint8_t n)
	{
		img_dsp_hdr_blending_info b{n, {}};
		ASSERT_EQ(vors_img_dsp_set_hdr_blending_info(fd_, &m_, &b), 0);
		memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
	/* Posts one frame; returns the driver's copy of it. */
	simsoc_qvd_post_rec post(const img_dsp_mode &m)
	{
		size_t before = simsoc_qvd_posts();
		StdoutCapture out;
		int rc = vors_img_dsp_set_hdr_video_post_proc(fd_, &m);
		std::string t = out.text();
		EXPECT_EQ(rc, 0) << t;
		simsoc_qvd_post_rec p{};
		EXPECT_EQ(simsoc_qvd_posts(), before + 1);
		EXPECT_EQ(simsoc_qvd_post(before, &p), 0);
		return p;
	}
	uint8_t *table_block(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *t = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config_tbl(&cid, &t), 0);
		return (uint8_t *)t;
	}
	img_dsp_hdr_cfg *record(uint8_t id)
	{
		img_dsp_cfg_id cid{0, id, {}};
		void *t = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_hdr_config(&cid, &t), 0);
		return (img_dsp_hdr_cfg *)t;
	}
	/* Command codes of a queue as the DSP finds it, up to the batch end. */
	static std::vector<uint32_t> codes(const uint8_t *q)
	{
		std::vector<uint32_t> c;
		for (unsigned i = 0; i < IK_HDR_QUEUE_CMDS; i++) {
			c.push_back(rd32(q + 128 * i));
			if (c.back() == kBatch)
				break;
		}
		return c;
	}
	static const uint8_t *at(uint32_t phys)
	{
		return (const uint8_t *)simsoc_mem_virt(phys);
	}
	uint32_t phys(const void *p) const
	{
		return simsoc_mem_phys(p);
	}

	/* two contexts of two HDR configurations each */
	std::vector<img_dsp_pipe_info> pipes_{{0, 2, 2, 4, 0}};
	img_dsp_arch_info arch_{};
	void *region_ = nullptr;
	uint32_t size_ = 0, phys_ = 0;
	int fd_ = -1;
	img_dsp_mode m_{};
	ik_ctx_body *body_ = nullptr;
	uint8_t *buf_ = nullptr;
};

TEST_F(IkHdrPost, RecordQueuesAndRing)
{
	blends(1);
	img_dsp_hdr_raw_offset raw{{1, 2, 3, 4}, {10, 20, 30, 40}};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_hdr_raw_offset(fd_, &m_, &raw), 0);
	quiet.text();

	simsoc_qvd_post_rec p = post(m_);
	EXPECT_EQ(p.request, QVD_IOC_IMG_SET_MULTI_CHAN_CFG);
	EXPECT_EQ(p.ctx_id, 0u);
	EXPECT_EQ(p.kind, 1u);
	EXPECT_EQ(p.addr, (uint64_t)(uintptr_t)record(0));
	EXPECT_EQ(p.update_mask, 0u);
	EXPECT_EQ(rd32(p.part), 0x179u);
	const uint32_t t = phys(table_block(0));
	for (uint32_t b = 0; b < 3; b++) {
		EXPECT_EQ(rd32(p.part + 4 + 8 * b), t + 1024 * b) << b;
		EXPECT_EQ(rd32(p.part + 8 + 8 * b), t + 9344 + 1024 * b) << b;
		EXPECT_EQ(rd32(p.part + 28 + 8 * b), t + 3072 + 1024 * b) << b;
		EXPECT_EQ(rd32(p.part + 32 + 8 * b), t + 6144 + 1024 * b) << b;
		for (unsigned q = 0; q < 4; q++)
			EXPECT_EQ(codes(at(rd32(p.part + 4 + 24 * (q / 2) + 4 * (q % 2) + 8 * b))),
			          std::vector<uint32_t>{kBatch})
			    << "no flag: every queue only ends, step " << b << " queue " << q;
	}
	EXPECT_EQ(rd32(p.queue[0]), kBatch);
	EXPECT_EQ(p.queue_phys[1], t + 6144);
	for (unsigned e = 0; e < 4; e++)
		EXPECT_EQ(rd32(p.part + 52 + 4 * e), 10u * (e + 1));

	/* the ring of context 0 is blocks 0 and 1; later posts update */
	const uint32_t ring[3] = {phys(table_block(1)), t, phys(table_block(1))};
	for (uint32_t next : ring) {
		p = post(m_);
		EXPECT_EQ(p.request, QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG);
		EXPECT_EQ(rd32(p.part + 4), next);
	}
	img_dsp_mode other = m_;
	other.ContextId = 1;
	other.ConfigId = 1;
	p = post(other);
	EXPECT_EQ(p.ctx_id, 1u);
	EXPECT_EQ(rd32(p.part + 4), phys(table_block(2))) << "context 1 starts at its own first block";
	EXPECT_EQ(rd32(p.part), 0xF8u) << "no blending number set: no step, one exposure";
}

TEST_F(IkHdrPost, Refusals)
{
	blends(1);
	/* the first post sets; once one went out, a failure names the update */
	for (const char *request : {"QVD_IOC_IMG_SET_MULTI_CHAN_CFG", "QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG"}) {
		simsoc_qvd_fail_kind(1, EIO);
		StdoutCapture out;
		int rc = vors_img_dsp_set_hdr_video_post_proc(fd_, &m_);
		std::string t = out.text();
		EXPECT_EQ(rc, -1);
		EXPECT_TRUE(has_msg(t, "[IK][Error]vors_img_dsp_set_hdr_video_post_proc() ",
		                    std::string("call ioctl ") + request + " fail\n"))
		    << t;
		simsoc_qvd_fail_kind(-1, 0);
		if (simsoc_qvd_posts() == 0)
			post(m_);
	}
	img_dsp_mode still = m_, bad_cfg = m_;
	still.Pipe = 1;
	bad_cfg.ConfigId = 9;
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_set_hdr_video_post_proc(fd_, &still), -1);
	EXPECT_EQ(vors_img_dsp_set_hdr_video_post_proc(fd_, &bad_cfg), -1)
	    << "nothing rebuilt: nothing posted";
	out.text();
	EXPECT_EQ(simsoc_qvd_posts(), 1u) << "only the one that went through";
}

TEST_F(IkHdrPost, DigitalGainsPerExposure)
{
	blends(1);
	img_dsp_front_end_wb_gain e0{8192, 4096, 6144}, e1{4096, 4096, 4096};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_front_end_wb_gain(fd_, &m_, &e0, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_front_end_wb_gain(fd_, &m_, &e1, 1), 0);
	quiet.text();
	simsoc_qvd_post_rec p = post(m_);
	ASSERT_EQ(codes(p.queue[0]), (std::vector<uint32_t>{0x09002019u, kBatch}));
	const uint32_t want[9] = {0x09002019u, 4096, 4096, 4096, 4096, 8192, 6144, 4096, 4096};
	for (unsigned w = 0; w < 9; w++)
		EXPECT_EQ(rd32(p.queue[0] + 4 * w), want[w]) << w;
	EXPECT_EQ(codes(p.queue[1]), (std::vector<uint32_t>{0x09002019u, kBatch})) << "the HDS blend too";

	/* a gain the DSP cannot hold stays at the largest it can */
	body_->blk.wb_gain.AeGain = 0xFFFFFF;
	body_->blk.wb_gain.GlobalDGain = 0xFFFFFF;
	p = post(m_);
	EXPECT_EQ(rd32(p.queue[0] + 4), 0xFFFFFFFFu);
	EXPECT_EQ(rd32(p.queue[0] + 20), 0xFFFFFFFFu);
}

TEST_F(IkHdrPost, EveryOptionFillsTheMainBlendQueue)
{
	blends(1);
	std::vector<uint16_t> lut0(IMG_DSP_AMP_LINEAR_ENTRIES), lut1(IMG_DSP_AMP_LINEAR_ENTRIES);
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++) {
		lut0[i] = (uint16_t)(4 * ik_hdr_grid_code(i));
		lut1[i] = (uint16_t)(2 * ik_hdr_grid_code(i));
	}
	img_dsp_amp_linearization a0{1, 0, (uint64_t)(uintptr_t)lut0.data()};
	img_dsp_amp_linearization a1{1, 0, (uint64_t)(uintptr_t)lut1.data()};
	img_dsp_amp_linearization_blend thres{9, {}};
	img_dsp_static_black_level black{-100, -200, 300, 400};
	img_dsp_front_end_wb_gain gain{4096, 4096, 4096};
	img_dsp_hdr_dgain_saturation_level sat{1, 2, 3, 4, 5, 6, 7, 8};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_amp_linearization(fd_, &m_, &a0, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization(fd_, &m_, &a1, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization_blend(fd_, &m_, &thres, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_static_black_level(fd_, &m_, &black, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_static_black_level(fd_, &m_, &black, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_front_end_wb_gain(fd_, &m_, &gain, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_dgain_saturation_level(fd_, &m_, &sat, 0), 0);
	quiet.text();
	/* the vignette filter's tables and its HDR flag */
	uint8_t *vig = ik_sec_bytes(body_->sec, IK_SEC_VIGNETTE);
	vig[IK_SECB_VIGNETTE_ENABLE] = 1;
	vig[IK_SECB_VIGNETTE_SHIFT] = 3;
	buf_[IK_VBUF_VIG_BLUE + 2179] = 0x77;
	ik_flag_set(body_->update_flags, IK_UPD_HDR_VIGNETTE);

	for (int frame = 0; frame < 2; frame++) {
		simsoc_qvd_post_rec p = post(m_);
		const uint8_t *tbl = table_block((uint8_t)frame);
		const uint32_t t = phys(tbl);
		ASSERT_EQ(codes(p.queue[0]),
		          (std::vector<uint32_t>{0x09002001u, 0x0900200Du, 0x0900200Eu, 0x09001003u,
		                                 0x09002019u, 0x09002018u, 0x09002016u, kBatch}))
		    << "frame " << frame;
		const uint8_t *amp = p.queue[0] + 3 * 128;
		EXPECT_EQ(Bytes(amp + 4, amp + 12), (Bytes{1, 1, 1, 0, 0, 0, 0, 0}));
		const uint8_t *lut = buf_ + IK_VBUF_AMPLINEAR_LUT;
		EXPECT_EQ(memcmp(amp + 12, lut + IK_AMP_LINEAR_STRIDE + 706, 14), 0) << "exposure 1's header";
		EXPECT_EQ(memcmp(amp + 26, lut + 706, 14), 0) << "exposure 0's header";
		EXPECT_EQ(rd32(amp + 72), 9u);
		for (unsigned k = 0; k < 4; k++) {
			EXPECT_EQ(rd32(amp + 40 + 4 * k), t + 12288 + 736 * k);
			EXPECT_EQ(rd32(amp + 56 + 4 * k), t + 21120 + 736 * k);
			EXPECT_EQ(memcmp(tbl + 12288 + 736 * k, lut + IK_AMP_LINEAR_STRIDE, 706), 0) << k;
			EXPECT_EQ(memcmp(tbl + 21120 + 736 * k, lut, 706), 0) << k;
		}
		const uint8_t *v = p.queue[0] + 6 * 128;
		EXPECT_EQ(Bytes(v + 4, v + 7), (Bytes{1, 1, 3}));
		EXPECT_EQ(rd32(v + 20), t + 48000 + 3 * 2208);
		EXPECT_EQ(tbl[48000 + 3 * 2208 + 2179], 0x77);
		/* the HDR input's offsets in pattern 0 */
		const uint8_t *hdr_bl = p.queue[0] + 2 * 128;
		EXPECT_EQ((int32_t)rd32(hdr_bl + 4), -100);
		EXPECT_EQ((int32_t)rd32(hdr_bl + 16), 400);
	}
}

TEST_F(IkHdrPost, HdsBlendTakesTheHdsSetOnlyWhenBothAreOn)
{
	blends(1);
	std::vector<uint16_t> hdr_lut(IMG_DSP_AMP_LINEAR_ENTRIES), hds_lut(IMG_DSP_AMP_LINEAR_ENTRIES);
	for (unsigned i = 0; i < IMG_DSP_AMP_LINEAR_ENTRIES; i++) {
		hdr_lut[i] = (uint16_t)i;
		hds_lut[i] = (uint16_t)(3 * i);
	}
	img_dsp_amp_linearization hdr{1, 0, (uint64_t)(uintptr_t)hdr_lut.data()};
	img_dsp_amp_linearization hds{1, 0, (uint64_t)(uintptr_t)hds_lut.data()};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_amp_linearization(fd_, &m_, &hdr, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization(fd_, &m_, &hdr, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_amp_linearization_hds(fd_, &m_, &hds, 0), 0);
	quiet.text();
	const uint8_t *hdr_packed = buf_ + IK_VBUF_AMPLINEAR_LUT + IK_AMP_LINEAR_STRIDE;
	const uint8_t *hds_packed = buf_ + IK_VBUF_AMPLINEAR_HDS_LUT + IK_AMP_LINEAR_STRIDE;
	for (int both = 0; both < 2; both++) {
		if (both) {
			StdoutCapture q;
			ASSERT_EQ(vors_img_dsp_set_amp_linearization_hds(fd_, &m_, &hds, 1), 0);
			q.text();
		}
		size_t before = simsoc_qvd_posts();
		StdoutCapture out;
		int rc = vors_img_dsp_set_hdr_video_post_proc(fd_, &m_);
		std::string t = out.text();
		ASSERT_EQ(rc, 0);
		EXPECT_EQ(has_msg(t, "[IK][Error]img_dsp_core_hdr_two_exp_post_exe_hds_blend_queue() ",
		                  "amplinear_hds[0].amplinear_ena 1 != amplinear_hds[1].amplinear_ena 0\n"),
		          both == 0)
		    << t;
		simsoc_qvd_post_rec p{};
		ASSERT_EQ(simsoc_qvd_post(before, &p), 0);
		ASSERT_EQ(codes(p.queue[1]), (std::vector<uint32_t>{0x09001003u, kBatch}));
		const uint8_t *tbl = table_block((uint8_t)both);
		EXPECT_EQ(rd32(p.queue[1] + 40), phys(tbl + 30144));
		EXPECT_EQ(rd32(p.queue[1] + 56 + 12), phys(tbl + 38976 + 3 * 736));
		EXPECT_EQ(rd32(p.queue[1] + 72), 16u);
		EXPECT_EQ(memcmp(tbl + 30144 + 736, both ? hds_packed : hdr_packed, 706), 0) << both;
	}
}

TEST_F(IkHdrPost, PreblendQueues)
{
	blends(1);
	img_dsp_vin_sensor_info vin{};
	vin.Pattern = 2;
	img_dsp_hdr_alpha_calc_cfg cfg{2, 1, 3, 0, 1, 2, 3, 4};
	img_dsp_hdr_alpha_calc_thresh th{{1000, 2000, 3000, 4000}};
	img_dsp_hdr_alpha_calc_black_level abl{-100, -200, 300, 400};
	img_dsp_static_black_level black{-100, -200, 300, 400};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_vin_sensor_info(&m_, &vin), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(fd_, &m_, &cfg, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(fd_, &m_, &th, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_black_level(fd_, &m_, &abl, 0), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_static_black_level(fd_, &m_, &black, 0), 0);
	quiet.text();
	for (int frame = 0; frame < 2; frame++) {
		simsoc_qvd_post_rec p = post(m_);
		const uint8_t *tbl = table_block((uint8_t)frame);
		const uint8_t *pre = at(rd32(p.part + 4));
		ASSERT_EQ(codes(pre), (std::vector<uint32_t>{0x0900500Bu, 0x0900500Fu, 0x0900500Cu,
		                                             0x0900500Du, kBatch}));
		EXPECT_EQ(rd32(pre + 128 + 8), phys(tbl + 29952))
		    << "the alpha record names the block's copy";
		uint16_t w3;
		memcpy(&w3, tbl + 29952 + 6, 2);
		EXPECT_EQ(w3, 0x3300u);
		EXPECT_EQ(Bytes(pre + 256 + 4, pre + 256 + 12),
		          (Bytes{0xD0, 0x07, 0xE8, 0x03, 0xA0, 0x0F, 0xB8, 0x0B}));

		/* two exposures, HDS thresholds unset: from the HDR input's offsets
		 * plus 2048, back in R, Gr, Gb, B order */
		const uint8_t *hds = at(rd32(p.part + 8));
		ASSERT_EQ(codes(hds), (std::vector<uint32_t>{0x0900500Bu, 0x0900500Fu, 0x0900500Cu,
		                                             0x0900500Du, kBatch}));
		EXPECT_EQ(rd32(hds + 128 + 8), phys(tbl + 29952));
		uint16_t v[4];
		memcpy(v, hds + 256 + 4, 8);
		EXPECT_EQ(v[0], 1948u);
		EXPECT_EQ(v[1], 1848u);
		EXPECT_EQ(v[2], 2348u);
		EXPECT_EQ(v[3], 2448u);
	}
	img_dsp_hdr_alpha_calc_thresh hth{{10, 20, 30, 40}};
	StdoutCapture quiet2;
	ASSERT_EQ(vors_img_dsp_set_hds_alpha_calc_thresh(fd_, &m_, &hth, 0), 0);
	quiet2.text();
	simsoc_qvd_post_rec p = post(m_);
	const uint8_t *hds = at(rd32(p.part + 8));
	EXPECT_EQ(Bytes(hds + 256 + 4, hds + 256 + 12), (Bytes{20, 0, 10, 0, 40, 0, 30, 0}))
	    << "the HDS record";
}

TEST_F(IkHdrPost, ThreeExposuresHdsPreblend)
{
	blends(2);
	img_dsp_hdr_alpha_calc_cfg cfg{1, 1, 0, 0, 5, 6, 7, 8};
	img_dsp_hdr_alpha_calc_thresh th{{1000, 2000, 3000, 4000}};
	StdoutCapture quiet;
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_cfg(fd_, &m_, &cfg, 1), 0);
	ASSERT_EQ(vors_img_dsp_set_hdr_alpha_calc_thresh(fd_, &m_, &th, 0), 0);
	quiet.text();
	simsoc_qvd_post_rec p = post(m_);
	EXPECT_EQ(rd32(p.part), 0x1FBu);
	const uint8_t *tbl = table_block(0);
	const uint8_t *step1 = at(rd32(p.part + 8 + 8));
	ASSERT_EQ(codes(step1), (std::vector<uint32_t>{0x0900500Bu, 0x0900500Fu, kBatch}));
	EXPECT_EQ(Bytes(step1 + 4, step1 + 12), (Bytes{2, 1, 1, 0, 5, 5, 5, 5}));
	EXPECT_EQ(rd32(step1 + 128 + 8), phys(tbl + 47808 + 64));
	uint16_t w[32];
	memcpy(w, tbl + 47808 + 64, 64);
	EXPECT_EQ(w[31], 0x00FFu);
	EXPECT_EQ(w[3], 0x8800u) << "rows 12 and 13 of column 0, then rows 0 and 1 of column 1";
	const uint8_t *step0 = at(rd32(p.part + 8));
	ASSERT_EQ(codes(step0), (std::vector<uint32_t>{0x0900500Cu, kBatch}));
	EXPECT_EQ(Bytes(step0 + 4, step0 + 12), (Bytes{250, 0, 0xF4, 1, 0xEE, 2, 0xE8, 3}))
	    << "the HDR thresholds over four";
	EXPECT_EQ(codes(at(rd32(p.part + 4 + 16))), std::vector<uint32_t>{kBatch}) << "step 2 is not active";
}

/* Each channel's thread sets and posts its own context. */
TEST_F(IkHdrPost, TwoChannelsFromTwoThreads)
{
	const int frames = 40;
	auto channel = [this](uint8_t ctx) {
		img_dsp_mode m = m_;
		m.ContextId = ctx;
		m.ConfigId = ctx;
		img_dsp_hdr_blending_info b{1, {}};
		EXPECT_EQ(vors_img_dsp_set_hdr_blending_info(fd_, &m, &b), 0);
		for (int i = 0; i < frames; i++) {
			img_dsp_front_end_wb_gain g{4096u + (uint32_t)i, 4096, 4096};
			EXPECT_EQ(vors_img_dsp_set_front_end_wb_gain(fd_, &m, &g, 1), 0);
			EXPECT_EQ(vors_img_dsp_set_hdr_video_post_proc(fd_, &m), 0);
		}
	};
	{
		StdoutCapture quiet;
		std::thread a(channel, 0), b(channel, 1);
		a.join();
		b.join();
		quiet.text();
	}
	ASSERT_EQ(simsoc_qvd_posts(), 2u * frames);
	int seen[2] = {0, 0};
	const uint32_t ring[2][2] = {{phys(table_block(0)), phys(table_block(1))},
	                             {phys(table_block(2)), phys(table_block(3))}};
	for (size_t i = 0; i < 2u * frames; i++) {
		simsoc_qvd_post_rec p{};
		ASSERT_EQ(simsoc_qvd_post(i, &p), 0);
		ASSERT_LT(p.ctx_id, 2u);
		uint32_t c = p.ctx_id;
		EXPECT_EQ(p.addr, (uint64_t)(uintptr_t)record((uint8_t)c));
		EXPECT_EQ(p.request,
		          seen[c] == 0 ? QVD_IOC_IMG_SET_MULTI_CHAN_CFG : QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG);
		EXPECT_EQ(rd32(p.part + 4), ring[c][seen[c] % 2]) << "each context runs its own ring";
		EXPECT_EQ(rd32(p.queue[0] + 4), 4096u + (uint32_t)seen[c]) << "its own gains, frame by frame";
		seen[c]++;
	}
	EXPECT_EQ(seen[0], frames);
	EXPECT_EQ(seen[1], frames);
}

} // namespace
