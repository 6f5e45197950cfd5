/* Frames of the simulated DSP, fetched and parsed by the 3A library, held
 * against the scene they were made from: tile means where the cells are,
 * histograms, and how exposure, gain, the digital-gain ratio, a posted
 * white balance and a scene step show. The expected tile means are worked
 * out pixel by pixel here. */
#include "parsed_frames_fixture.h"

#include <errno.h>
#include <math.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace
{

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr double kMax = 16383;

struct Cell {
	double bright, kr, kb;
};

class Frames : public ParsedFrames
{
      protected:
	void set_scene(double (*bright)(unsigned, unsigned), bool coloured)
	{
		for (unsigned j = 0; j < 32; j++) {
			for (unsigned i = 0; i < 32; i++) {
				double kr = coloured ? 0.5 + (i % 5) * 0.25 : 1,
				       kb = coloured ? 1.5 - (j % 4) * 0.3 : 1;
				cells_[j][i] = Cell{bright(i, j), kr, kb};
				ASSERT_EQ(simsoc_scene_set_cell(i, j, cells_[j][i].bright, kr, kb), 0);
			}
		}
	}
	// The pixel value of colour q (0 R, 1 and 2 G, 3 B) of a cell.
	double pixel(const Cell &c, unsigned q, double gain, double black)
	{
		double k = q == 0 ? c.kr : q == 3 ? c.kb : 1;
		return std::min(kMax, floor(black + c.bright * k * gain + 0.5));
	}
	// Mean over the valid pixels of a rectangle, black off, worked out
	// pixel by pixel; negative when no pixel is valid.
	double rect_mean(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, double gain, double black)
	{
		const uint32_t cw = (1920 / 32) & ~1u, ch = (1080 / 32) & ~1u;
		double sum = 0;
		uint64_t n = 0;
		for (uint32_t y = y0; y < y0 + h; y++) {
			for (uint32_t x = x0; x < x0 + w; x++) {
				const Cell &c = cells_[std::min(y / ch, 31u)][std::min(x / cw, 31u)];
				double v = pixel(c, (y & 1) * 2 + (x & 1), gain, black);
				if (v <= black || v >= kMax)
					continue;
				sum += v;
				n++;
			}
		}
		return n ? sum / n - black : -1;
	}
	static void near(double got, double want, const char *what, unsigned k)
	{
		EXPECT_NEAR(got, want, std::max(2.0, want * 0.01)) << what << " " << k;
	}
	// Every AWB tile against its cell and every AE tile against its pixels.
	void check_tiles(const aaa_parse_result &r, double gain, double black)
	{
		for (unsigned j = 0; j < 32; j++) {
			for (unsigned i = 0; i < 32; i++) {
				const Cell &c = cells_[j][i];
				const aaa_awb_tile &t = r.set.awb[j * 32 + i];
				near(t.r, pixel(c, 0, gain, black) - black, "awb r", j * 32 + i);
				near(t.g, pixel(c, 1, gain, black) - black, "awb g", j * 32 + i);
				near(t.b, pixel(c, 3, gain, black) - black, "awb b", j * 32 + i);
			}
		}
		const qvd_stat_header *h = (const qvd_stat_header *)r.set.header;
		ASSERT_EQ(h->ae.num_col, 12);
		ASSERT_EQ(h->ae.num_row, 8);
		for (unsigned j = 0; j < 8; j++) {
			for (unsigned i = 0; i < 12; i++) {
				double want = rect_mean(i * h->ae.width, j * h->ae.height, h->ae.width,
				                        h->ae.height, gain, black);
				near(r.set.ae[j * 12 + i].cfa_luma, want, "ae", j * 12 + i);
			}
		}
	}
	static uint64_t total(const uint32_t *bins, unsigned n)
	{
		uint64_t t = 0;
		for (unsigned i = 0; i < n; i++)
			t += bins[i];
		return t;
	}
	Cell cells_[32][32];
};

double varied(unsigned i, unsigned j)
{
	return 50 + (i * 37 + j * 101) % 97 * 60.0;
}

TEST_F(Frames, TileMeansStandWhereTheirCellsAre)
{
	start();
	set_scene(varied, true);
	for (unsigned cols = 1; cols <= 3; cols++) {
		for (uint16_t black : {0, 256}) {
			SCOPED_TRACE(testing::Message() << cols << " slice columns, black " << black);
			ASSERT_EQ(simsoc_qvd_set_stat_slices(cols), 0);
			ASSERT_EQ(simsoc_scene_set_black(black), 0);
			const aaa_parse_result &r = frame();
			const qvd_stat_header *h = (const qvd_stat_header *)st_.cfa(0, 0);
			EXPECT_EQ(h->slice_cols, cols);
			EXPECT_EQ(h->black_green, black ? black : QVD_STAT_BLACK_NONE);
			EXPECT_EQ(r.awb_tiles, 1024);
			EXPECT_EQ(r.ae_tiles, 96);
			EXPECT_EQ(r.af_tiles, 96);
			check_tiles(r, 1.0, black);
			// Each colour array counts its pixels of the exposure area, the
			// luma array every pixel, in both histograms.
			uint64_t pixels = 12ull * h->ae.width * 8 * h->ae.height;
			const uint64_t cfa_want[4] = {pixels / 4, pixels / 2, pixels / 4, pixels};
			for (int a = 0; a < 4; a++) {
				EXPECT_EQ(total(r.set.cfa_hist.bin[a], 64), cfa_want[a]) << a;
				EXPECT_EQ(total(r.set.rgb_hist.bin[a], 64), pixels) << a;
			}
			for (unsigned e = 0; e < 1; e++)
				EXPECT_EQ(total(r.prehist[e][0], 128), pixels / 4);
		}
	}
}

TEST_F(Frames, HistogramBinsAreValuesShiftedDown)
{
	start();
	ASSERT_EQ(simsoc_scene_set_uniform(5000), 0);
	ASSERT_EQ(simsoc_scene_set_black(256), 0);
	const aaa_parse_result &r = frame();
	uint32_t v = 5256;
	for (int a = 0; a < 4; a++)
		EXPECT_EQ(total(r.set.cfa_hist.bin[a], 64), r.set.cfa_hist.bin[a][v >> 8]) << a;
	EXPECT_EQ(total(r.set.rgb_hist.bin[1], 64), r.set.rgb_hist.bin[1][5000 >> 8]);
	EXPECT_EQ(total(r.prehist[0][1], 128), r.prehist[0][1][v >> 7]);
}

TEST_F(Frames, ExposureAndGainScaleTheMeansUntilClipping)
{
	start();
	ASSERT_EQ(simsoc_scene_set_uniform(2000), 0);
	struct {
		uint32_t rows, index;
		double want;
	} cases[] = {
	    {1000, 0, 2000},
	    {2000, 0, 4000},
	    {500, 0, 1000},
	    {1000, 64, 2000 * pow(10, 64 * 0.09375 / 20)},
	    {2000, 64, 4000 * 1.9953},
	};
	for (const auto &c : cases) {
		expose(0, c.rows, c.index);
		const aaa_parse_result &r = frame();
		near(r.set.ae[40].cfa_luma, c.want, "ae", c.rows + c.index);
		near(r.set.awb[500].g, c.want, "awb", c.rows + c.index);
	}
	// Clipped everywhere: nothing valid in the CFA data.
	expose(0, 10000, 0);
	EXPECT_EQ(frame().set.ae[40].cfa_luma, AAA_LUMA_NONE);
}

TEST_F(Frames, DigitalGainRatioScalesItsColour)
{
	start();
	set_scene(varied, true);
	const uint32_t ratio[3] = {2048, 1024, 1024};
	ASSERT_EQ(hal_set_dgain_ratio(fd_, ratio, 0), 0);
	const aaa_parse_result &r = frame();
	for (unsigned k : {0u, 77u, 1023u}) {
		const Cell &c = cells_[k / 32][k % 32];
		near(r.set.awb[k].r, std::min(kMax, c.bright * c.kr * 2), "r", k);
		near(r.set.awb[k].g, c.bright, "g", k);
		near(r.set.awb[k].b, c.bright * c.kb, "b", k);
	}
}

TEST_F(Frames, PostedWhiteBalanceMovesOnlyTheRgbStatisticsAfterItsApply)
{
	start();
	ASSERT_EQ(simsoc_scene_set_uniform(3000), 0);
	aaa_parse_result before = frame();
	EXPECT_EQ(before.set.rgb_hist.bin[0][3000 >> 8], 1920u * 1072);
	near(before.set.ae[0].rgb_luma, 3000, "rgb luma", 0);

	img_dsp_mode mode{};
	mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
	mode.BatchId = IMG_DSP_BATCH_NONE;
	img_dsp_wb_gain wb = {8192, 4096, 2048, 4096, 4096};
	ASSERT_GE(vors_img_dsp_set_wb_gain(fd_, &mode, &wb), 0);
	ASSERT_EQ(img_post_cfg(fd_, IMG_POST_ALL), 0);
	// Posted, not applied: nothing changes.
	EXPECT_EQ(frame().set.rgb_hist.bin[0][3000 >> 8], 1920u * 1072);
	qvd_apply_pending apply{QVD_APPLY_PENDING_CMD, 1};
	ASSERT_EQ(ioctl(fd_, QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &apply), 0);
	const aaa_parse_result &r = frame();
	EXPECT_EQ(r.set.rgb_hist.bin[0][6000 >> 8], 1920u * 1072);
	EXPECT_EQ(r.set.rgb_hist.bin[1][3000 >> 8], 1920u * 1072);
	EXPECT_EQ(r.set.rgb_hist.bin[2][1500 >> 8], 1920u * 1072);
	near(r.set.ae[0].rgb_luma, (6000 + 2 * 3000 + 1500) / 4.0, "rgb luma", 0);
	EXPECT_EQ(memcmp(&r.set.cfa_hist, &before.set.cfa_hist, sizeof r.set.cfa_hist), 0);
	EXPECT_EQ(r.set.ae[0].cfa_luma, before.set.ae[0].cfa_luma);
	EXPECT_EQ(memcmp(r.set.awb, before.set.awb, sizeof r.set.awb), 0);
}

TEST_F(Frames, AStepAtFrameNShowsInFrameN)
{
	start();
	ASSERT_EQ(simsoc_scene_set_uniform(1000), 0);
	uint32_t n = frame_number(frame()) + 3;
	ASSERT_EQ(simsoc_scene_step(n, 2.0), 0);
	for (uint32_t f = n - 2; f <= n + 1; f++) {
		const aaa_parse_result &r = frame();
		ASSERT_EQ(frame_number(r), f);
		near(r.set.ae[0].cfa_luma, f < n ? 1000 : 2000, "frame", f);
	}
}

TEST_F(Frames, TwoChannelsEachTheirOwnExposure)
{
	start(2);
	expose(1, 3000, 0);
	ASSERT_EQ(simsoc_scene_set_uniform(1000), 0);
	frame();
	near(res_->chan[0].set.ae[0].cfa_luma, 1000, "chan 0", 0);
	near(res_->chan[1].set.ae[0].cfa_luma, 3000, "chan 1", 0);
	EXPECT_EQ(QVD_STAT_CHAN(st_.cfa(1, 0)->header.chan), 1u);
	EXPECT_EQ(res_->valid[1], 1u);
	EXPECT_EQ(st_.desc.hist_valid[1], 0);
}

TEST_F(Frames, FetchWaitsForTheNextTickOfVinZero)
{
	start();
	frame();
	std::atomic<int> rc{1};
	std::thread t([&] { rc = hal_get_aaa_stat(fd_, &st_.desc); });
	while (simsoc_qvd_stat_waiting() == 0)
		std::this_thread::yield();
	EXPECT_EQ(rc.load(), 1);
	simsoc_vin_tick(1); // another VIN's frame is not a DSP frame
	EXPECT_EQ(simsoc_qvd_stat_waiting(), 1);
	simsoc_vin_tick(0);
	t.join();
	EXPECT_EQ(rc.load(), 0);
	EXPECT_EQ(simsoc_qvd_stat_waiting(), 0);
}

TEST_F(Frames, FailedFetchSaysSo)
{
	start();
	simsoc_vin_tick(0);
	simsoc_qvd_fail(QVD_IOC_IMG_GET_STATISTICS, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_get_aaa_stat(fd_, &st_.desc), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_IMG_GET_STATISTICS: Input/output error\n");
	simsoc_qvd_fail(QVD_IOC_IMG_GET_LATEST_STATISTICS, EIO, 1);
	CaptureStderr();
	EXPECT_EQ(hal_get_latest_aaa_stat(fd_, &st_.desc), -1);
	EXPECT_EQ(GetCapturedStderr(), "QVD_IOC_IMG_GET_LATEST_STATISTICS fails: Input/output error\n");
	// The frame is still there for the next request.
	EXPECT_EQ(hal_get_aaa_stat(fd_, &st_.desc), 0);
	EXPECT_EQ(hal_get_latest_aaa_stat(fd_, &st_.desc), 0);
}

} // namespace
