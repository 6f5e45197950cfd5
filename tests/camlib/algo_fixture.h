// A 3A library on the simulated video driver: "/dev/qvd" open on a board
// of the test's choosing, the library's channel count set, the image
// kernel brought up when a test asks for it.
#ifndef TESTS_CAMLIB_ALGO_FIXTURE_H
#define TESTS_CAMLIB_ALGO_FIXTURE_H

#include "img_dsp.h"
#include "img_lib.h"
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

class AlgoOnDriver : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_clear_failures();
		simsoc_scene_reset();
		simsoc_vin_set_framerate(0, 0);
		ASSERT_EQ(simsoc_qvd_set_imgproc_size(32ull << 20), 0);
		fd_ = open(QVD_DEVICE, O_RDWR);
		ASSERT_GE(fd_, 0);
		ASSERT_EQ(img_lib_set_cfg_num(0), 0);
	}
	void TearDown() override
	{
		if (lib_up_)
			img_lib_deinit(nullptr);
		close(fd_);
		simsoc_qvd_reset();
		simsoc_clear_failures();
		simsoc_scene_reset();
		simsoc_vin_reset();
	}
	// n copies of the default VIN, source i feeding VIN i.
	static simsoc_qvd_board board(unsigned n)
	{
		simsoc_qvd_board b;
		simsoc_qvd_default_board_vins(&b, n);
		return b;
	}
	void use_board(const simsoc_qvd_board &b)
	{
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
		ASSERT_EQ(img_set_vin_chan_num((int)b.vin_count), 0);
	}
	void bring_up()
	{
		ASSERT_EQ(img_lib_init(fd_, nullptr), 0);
		lib_up_ = true;
	}
	// Statistics of a 1920 x 1080 frame with the full pixel range, which
	// the parser's saturation tests read back.
	void configure_statistics()
	{
		img_dsp_mode mode{};
		mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		mode.BatchId = IMG_DSP_BATCH_NONE;
		img_dsp_ae_tile_cfg ae{12, 8, 0, 0, 160, 134, 0, 16383};
		img_dsp_awb_tile_cfg awb{32, 32, 0, 0, 60, 32, 60, 32, 0, 16383};
		img_dsp_af_tile_cfg af{12, 8, 0, 0, 160, 134, 160, 134};
		ASSERT_EQ(vors_img_dsp_3a_config_aaa_stat(fd_, 1, &mode, &ae, &awb, &af), 0);
	}
	qvd_system_resource resources()
	{
		qvd_system_resource res{};
		res.query = QVD_RESOURCE_GENERIC;
		EXPECT_EQ(ioctl(fd_, QVD_IOC_GET_SYSTEM_RESOURCE, &res), 0);
		return res;
	}
	int fd_ = -1;
	bool lib_up_ = false;
};

#endif
