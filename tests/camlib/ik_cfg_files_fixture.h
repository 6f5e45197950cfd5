/* The printers' and tuning-data tools' fixture: a video channel with a ring
 * of configurations and HDR configurations, posted through a recording
 * driver, and a temporary root directory standing in for "/" so the
 * library's "/mnt" lands in it. */
#ifndef TESTS_CAMLIB_IK_CFG_FILES_FIXTURE_H
#define TESTS_CAMLIB_IK_CFG_FILES_FIXTURE_H

#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_test_support.h"
#include "qvd_ioctl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace iktest
{

/* Lines of printed text equal to `line`. */
inline int count_lines(const std::string &text, const std::string &line)
{
	int n = 0;
	size_t pos = 0;
	while (pos < text.size()) {
		size_t end = text.find('\n', pos);
		if (end == std::string::npos)
			end = text.size();
		if (text.compare(pos, end - pos, line) == 0)
			n++;
		pos = end + 1;
	}
	return n;
}

class IkCfgFiles : public IkFixture
{
      protected:
	void SetUp() override
	{
		char dir[] = "/tmp/ik_root.XXXXXX";
		ASSERT_NE(mkdtemp(dir), nullptr);
		root_ = dir;
		setenv("VISTRAD_ROOT", dir, 1);
	}
	void TearDown() override
	{
		unsetenv("VISTRAD_ROOT");
		std::error_code ec;
		std::filesystem::remove_all(root_, ec);
		if (region_)
			IkFixture::TearDown();
	}
	/* A video context with `cfgs` configurations and as many HDR ones. */
	void up(uint8_t cfgs = 1, uint8_t init_mode = 0)
	{
		bring_up({{0, 1, cfgs, cfgs, 0}, {1, 1, 1, 0, 0}}, 1, init_mode);
		/* Only the normal initialisation sets up the still pipe as well. */
		uint32_t pipes = init_mode == IMG_DSP_INIT_MODE_NORMAL ? 2 : 1;
		for (uint32_t pipe = 0; pipe < pipes; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
			for (uint8_t i = 0; i < (pipe ? 1 : cfgs); i++) {
				img_dsp_cfg_id id{pipe, i, {}};
				ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
			}
		}
		img_dsp_size_info si{};
		si.width_in = si.main_out_width = 1920;
		si.height_in = si.main_out_height = 1080;
		img_dsp_mode m = mode(0, 0);
		ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
		RecordingIoctl::reset();
		RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	}
	ik_ctx_body *body(uint32_t pipe = 0)
	{
		img_dsp_ctx_id cid{pipe, 0, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_context(&cid, &c), 0);
		return ik_body(pipe, c);
	}
	img_dsp_iso_cfg *cfg(uint8_t id, uint32_t pipe = 0)
	{
		img_dsp_cfg_id cid{pipe, id, {}};
		void *c = nullptr;
		EXPECT_EQ(img_dsp_core_utility_get_config(&cid, &c), 0);
		return (img_dsp_iso_cfg *)c;
	}
	int post(uint8_t id, uint32_t func = 0)
	{
		img_dsp_mode m = mode(0, 0, id);
		m.FuncMode = func;
		return vors_img_dsp_post_exe_cfg(5, &m);
	}
	/* The bytes behind a table field (physical or user form). */
	const uint8_t *at(uint32_t addr)
	{
		if (addr >= region_->phys_addr() && addr < region_->phys_addr() + region_->size())
			return region_->user() + (addr - region_->phys_addr());
		return (const uint8_t *)(uintptr_t)addr;
	}
	std::vector<uint8_t> bytes(uint32_t addr, size_t n)
	{
		const uint8_t *p = at(addr);
		return std::vector<uint8_t>(p, p + n);
	}
	bool is_phys(uint32_t a) const
	{
		return a == 0 || (a >= region_->phys_addr() && a < region_->phys_addr() + region_->size());
	}
	std::string under_root(const std::string &path) const
	{
		return root_ + path;
	}
	static std::vector<uint8_t> read_file(const std::string &path)
	{
		std::ifstream f(path, std::ios::binary);
		return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
		                            std::istreambuf_iterator<char>());
	}
	static void write_file(const std::string &path, const std::vector<uint8_t> &data)
	{
		std::ofstream f(path, std::ios::binary | std::ios::trunc);
		f.write((const char *)data.data(), (std::streamsize)data.size());
	}
	static bool exists(const std::string &path)
	{
		return std::filesystem::exists(path);
	}
	std::string root_;
};

} // namespace iktest

#endif
