// The video driver model's statistics requests and the scene's steering, at
// the driver's interface: when a request answers, what the valid flags say,
// the pre-histogram records of each exposure, the illuminant, the focus
// curve and the flicker.
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_scene.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace
{

struct Buffers {
	std::vector<uint8_t> rgb = std::vector<uint8_t>(4 * QVD_STAT_RGB_SIZE);
	std::vector<uint8_t> cfa = std::vector<uint8_t>(4 * QVD_STAT_CFA_SIZE);
	std::vector<uint8_t> hist = std::vector<uint8_t>(4 * QVD_STAT_HIST_SIZE);
	std::vector<uint8_t> prehist = std::vector<uint8_t>(4 * QVD_STAT_PREHIST_SIZE);
	uint8_t valid[4][4] = {};
	qvd_img_statistics req{valid[0],   valid[1],   valid[2],    valid[3],
	                       rgb.data(), cfa.data(), hist.data(), prehist.data()};

	const qvd_cfa_slice *cfa_slice(int c, int s = 0) const
	{
		return (const qvd_cfa_slice *)(cfa.data() + c * QVD_STAT_CFA_SIZE) + s;
	}
	uint32_t frame() const
	{
		return cfa_slice(0)->header.frame;
	}
	// The raw mean of the first exposure tile.
	double ae_mean(int c = 0) const
	{
		const qvd_cfa_slice *s = cfa_slice(c);
		return (double)((uint64_t)s->ae[0].sum << s->header.ae.shift) /
		       (s->header.ae.width * s->header.ae.height);
	}
	// The first AWB tile's red and blue over green.
	void awb_ratio(double *r, double *b) const
	{
		const qvd_awb_tile &t = cfa_slice(0)->awb[0];
		*r = (double)t.r / t.g;
		*b = (double)t.b / t.g;
	}
};

class Scene : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_scene_reset();
		simsoc_vin_set_framerate(0, 0);
		fd_ = open(QVD_DEVICE, O_RDWR);
		ASSERT_GE(fd_, 0);
	}
	void TearDown() override
	{
		close(fd_);
		simsoc_qvd_reset();
		simsoc_scene_reset();
		simsoc_vin_reset();
	}
	void use_board(const simsoc_qvd_board &b)
	{
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	}
	void expose(int32_t source, uint32_t rows0, uint32_t rows1 = 0)
	{
		qvd_vin_sht_agc_group g{};
		g.source_id = source;
		g.shutter = qvd_vin_group{source, 0, {rows0, rows1, 0, 0}, {0, 0}};
		ASSERT_EQ(ioctl(fd_, QVD_IOC_VIN_SET_PENDING_SHT_AGC, &g), 0);
	}
	int fetch(Buffers &b, unsigned long code = QVD_IOC_IMG_GET_STATISTICS)
	{
		return ioctl(fd_, code, &b.req);
	}
	void set_nonblocking(bool on)
	{
		int fl = fcntl(fd_, F_GETFL);
		ASSERT_EQ(fcntl(fd_, F_SETFL, on ? fl | O_NONBLOCK : fl & ~O_NONBLOCK), 0);
	}
	int fd_ = -1;
	Buffers b_;
};

TEST_F(Scene, EachFrameIsHandedOverOnceUnlessAskedForTheLatestOrReplayed)
{
	set_nonblocking(true);
	EXPECT_EQ(fetch(b_), -1);
	EXPECT_EQ(errno, EAGAIN);
	simsoc_vin_tick(0);
	simsoc_vin_tick(0);
	ASSERT_EQ(fetch(b_), 0);
	EXPECT_EQ(b_.frame(), 2u);
	EXPECT_EQ(fetch(b_), -1);
	EXPECT_EQ(errno, EAGAIN);
	b_.cfa[0] = 0;
	ASSERT_EQ(fetch(b_, QVD_IOC_IMG_GET_LATEST_STATISTICS), 0);
	EXPECT_EQ(b_.frame(), 2u);
	simsoc_qvd_replay(1);
	b_.cfa[0] = 0;
	ASSERT_EQ(fetch(b_), 0);
	EXPECT_EQ(b_.frame(), 2u);
	simsoc_qvd_replay(0);
	EXPECT_EQ(fetch(b_), -1);
}

TEST_F(Scene, ValidFlagsNameTheBoardsVins)
{
	simsoc_qvd_board board;
	simsoc_qvd_default_board(&board);
	board.vin_count = 2;
	board.vin[1] = board.vin[0];
	board.vin[1].source_id = 1;
	use_board(board);
	memset(b_.valid, 7, sizeof b_.valid);
	simsoc_vin_tick(0);
	ASSERT_EQ(fetch(b_), 0);
	for (int k : {0, 1, 3}) {
		EXPECT_EQ(b_.valid[k][0], 1) << k;
		EXPECT_EQ(b_.valid[k][1], 1) << k;
		EXPECT_EQ(b_.valid[k][2], 0) << k;
	}
	for (int c = 0; c < 4; c++)
		EXPECT_EQ(b_.valid[2][c], 0) << c; // no sensor histogram is made
	EXPECT_EQ(QVD_STAT_CHAN(b_.cfa_slice(1)->header.chan), 1u);
	const qvd_rgb_slice *rgb = (const qvd_rgb_slice *)(b_.rgb.data() + QVD_STAT_RGB_SIZE);
	EXPECT_EQ(QVD_STAT_CHAN(rgb->header.chan), 1u);
}

TEST_F(Scene, EveryExposureHasItsPreHistogramRecord)
{
	simsoc_qvd_board board;
	simsoc_qvd_default_board(&board);
	board.vin[0].exposures = 2;
	board.vin[0].width = 3840;
	use_board(board);
	ASSERT_EQ(simsoc_scene_set_uniform(1000), 0);
	expose(0, 1000, 250);
	simsoc_vin_tick(0);
	ASSERT_EQ(fetch(b_), 0);
	const uint32_t bins[2] = {1000 >> 7, 250 >> 7};
	for (unsigned e = 0; e < 2; e++) {
		const uint8_t *rec = b_.prehist.data() + e * QVD_PREHIST_RECORD_SIZE;
		const qvd_prehist_header *h = (const qvd_prehist_header *)rec;
		EXPECT_EQ(h->chan & 7, 0);
		EXPECT_EQ(h->slices, 2); // two slice columns at 3840 pixels
		const qvd_prehist_slice *sl = (const qvd_prehist_slice *)(rec + sizeof *h);
		EXPECT_GT(sl[1].bin[1][bins[e]], 0u) << e;
		EXPECT_EQ(sl[1].bin[1][bins[e] + 1], 0u) << e;
	}
	// The CFA statistics are those of exposure 0.
	EXPECT_NEAR(b_.ae_mean(), 1000, 2);
}

TEST_F(Scene, WaitForTheNextFrameOfAVinOfTheMask)
{
	set_nonblocking(true);
	EXPECT_EQ(ioctl(fd_, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0xffffu), -1);
	EXPECT_EQ(errno, EAGAIN);
	set_nonblocking(false);
	EXPECT_EQ(ioctl(fd_, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0x10000u), -1);
	EXPECT_EQ(errno, EINVAL);
	std::atomic<int> rc{1};
	std::thread t([&] { rc = ioctl(fd_, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0x4u); });
	while (simsoc_qvd_stat_waiting() == 0)
		std::this_thread::yield();
	simsoc_vin_tick(0); // not in the mask
	EXPECT_EQ(rc.load(), 1);
	simsoc_vin_tick(2);
	t.join();
	EXPECT_EQ(rc.load(), 0);

	qvd_apply_pending bad{2, 1};
	EXPECT_EQ(ioctl(fd_, QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &bad), -1);
	EXPECT_EQ(errno, EINVAL);
}

// A reader never hangs on a DSP without video; mask 0 waits for any VIN.
TEST_F(Scene, FrameWaitsWithoutVideoGiveUp)
{
	simsoc_video_reset();
	EXPECT_EQ(ioctl(fd_, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0u), -1);
	EXPECT_EQ(errno, ETIMEDOUT);
	qvd_img_statistics req = {};
	EXPECT_EQ(ioctl(fd_, QVD_IOC_IMG_GET_STATISTICS, &req), -1);
	EXPECT_EQ(errno, ETIMEDOUT);

	simsoc_vin_set_framerate(0, 0);
	ASSERT_EQ(simsoc_video_start(0), 0);
	std::atomic<int> rc{1};
	std::thread t([&] { rc = ioctl(fd_, QVD_IOC_WAIT_NEXT_IDSP_FRAME, 0u); });
	while (simsoc_qvd_stat_waiting() == 0)
		std::this_thread::yield();
	simsoc_vin_tick(3);
	t.join();
	EXPECT_EQ(rc.load(), 0);
	simsoc_video_reset();
}

// A frame made ahead of its request (as a benchmark does, from another
// thread than the reader's) is the one the request hands over, byte for
// byte, once; before the first tick there is nothing to make.
TEST_F(Scene, AFrameMadeAheadIsTheOneHandedOver)
{
	simsoc_qvd_make_frame();
	set_nonblocking(true);
	EXPECT_EQ(fetch(b_), -1);
	set_nonblocking(false);
	ASSERT_EQ(simsoc_scene_set_uniform(900), 0);
	constexpr int kFrames = 20;
	std::vector<Buffers> made(kFrames), plain(kFrames);
	std::atomic<int> got{0};
	std::thread reader([&] {
		for (int f = 0; f < kFrames; f++) {
			ASSERT_EQ(ioctl(fd_, QVD_IOC_IMG_GET_STATISTICS, &made[f].req), 0);
			got++;
		}
	});
	for (int f = 0; f < kFrames; f++) {
		simsoc_vin_tick(0);
		simsoc_qvd_make_frame();
		while (got.load() <= f)
			std::this_thread::yield();
	}
	reader.join();
	// The same frames again, made by their requests.
	simsoc_qvd_reset();
	simsoc_scene_reset();
	ASSERT_EQ(simsoc_scene_set_uniform(900), 0);
	for (int f = 0; f < kFrames; f++) {
		simsoc_vin_tick(0);
		ASSERT_EQ(fetch(plain[f]), 0);
	}
	for (int f = 0; f < kFrames; f++) {
		SCOPED_TRACE(f);
		EXPECT_EQ(made[f].frame(), (uint32_t)f + 1);
		EXPECT_EQ(made[f].cfa, plain[f].cfa);
		EXPECT_EQ(made[f].rgb, plain[f].rgb);
		EXPECT_EQ(made[f].prehist, plain[f].prehist);
	}
}

TEST_F(Scene, TwoReadersShareTheFramesOneEach)
{
	constexpr int kFrames = 40;
	std::atomic<int> got{0};
	std::vector<uint32_t> seen[2];
	auto reader = [&](int k) {
		Buffers b;
		while (got.load() < kFrames) {
			if (ioctl(fd_, QVD_IOC_IMG_GET_STATISTICS, &b.req) != 0)
				break;
			seen[k].push_back(b.frame());
			got++;
		}
	};
	std::thread a(reader, 0), c(reader, 1);
	for (int f = 0; f < kFrames; f++) {
		while (simsoc_qvd_stat_waiting() == 0)
			std::this_thread::yield();
		simsoc_vin_tick(0);
		while (got.load() <= f)
			std::this_thread::yield();
	}
	// One reader is waiting again, or about to; the other has left. A last
	// frame, kept readable, ends whichever still waits. Replay is turned on
	// only after the tick, or a waiting reader would take frame kFrames again.
	simsoc_vin_tick(0);
	simsoc_qvd_replay(1);
	a.join();
	c.join();
	std::set<uint32_t> frames;
	for (auto &s : seen)
		for (uint32_t f : s)
			EXPECT_TRUE(frames.insert(f).second || f == kFrames + 1) << f;
	for (uint32_t f = 1; f <= kFrames; f++)
		EXPECT_TRUE(frames.count(f)) << f;
}

// A DSP that leaves the RGB histograms empty keeps everything else.
TEST_F(Scene, RgbHistogramsCanBeLeftEmpty)
{
	auto hist_sum = [](const auto &hist) {
		uint64_t sum = 0;
		for (unsigned c = 0; c < 4; c++)
			for (unsigned i = 0; i < QVD_STAT_HIST_BINS; i++)
				sum += hist.bin[c][i];
		return sum;
	};
	auto rgb_sum = [&]() -> uint64_t {
		simsoc_vin_tick(0);
		EXPECT_EQ(fetch(b_), 0);
		return hist_sum(((const qvd_rgb_slice *)b_.rgb.data())->hist);
	};
	EXPECT_GT(rgb_sum(), 0u);
	double ae = b_.ae_mean();
	uint64_t cfa = hist_sum(b_.cfa_slice(0)->hist);
	simsoc_scene_set_rgb_histograms(0);
	EXPECT_EQ(rgb_sum(), 0u);
	EXPECT_EQ(b_.ae_mean(), ae);
	// The CFA histogram is another block of the DSP's: it stays filled.
	EXPECT_GT(cfa, 0u);
	EXPECT_EQ(hist_sum(b_.cfa_slice(0)->hist), cfa);
	EXPECT_NE(((const qvd_rgb_slice *)b_.rgb.data())->ae_sum[0], 0u);
	simsoc_scene_reset();
	EXPECT_GT(rgb_sum(), 0u);
}

TEST_F(Scene, IlluminantTableAndRefusals)
{
	double r = 0, b = 0;
	ASSERT_EQ(simsoc_scene_illuminant(2800, &r, &b), 0);
	EXPECT_DOUBLE_EQ(r, 0.80);
	EXPECT_DOUBLE_EQ(b, 0.36);
	ASSERT_EQ(simsoc_scene_illuminant(7500, &r, &b), 0);
	EXPECT_DOUBLE_EQ(r, 0.43);
	EXPECT_DOUBLE_EQ(b, 0.76);
	ASSERT_EQ(simsoc_scene_illuminant(3150, &r, &b), 0);
	EXPECT_DOUBLE_EQ(r, 0.74);
	EXPECT_DOUBLE_EQ(b, 0.405);
	for (double k : {2799.0, 7501.0, 0.0, (double)NAN})
		EXPECT_EQ(simsoc_scene_illuminant(k, &r, &b), -1) << k;
	EXPECT_EQ(simsoc_scene_set_colour_temperature(9000), -1);
	EXPECT_EQ(simsoc_scene_set_cell(32, 0, 1, 1, 1), -1);
	EXPECT_EQ(simsoc_scene_set_cell(0, 0, -1, 1, 1), -1);
	EXPECT_EQ(simsoc_scene_set_cell(0, 0, 1, NAN, 1), -1);
	EXPECT_EQ(simsoc_scene_set_uniform(-5), -1);
	EXPECT_EQ(simsoc_scene_set_flicker(100, 1.5), -1);
	EXPECT_EQ(simsoc_scene_set_black(4096), -1);
	EXPECT_EQ(simsoc_scene_set_focus_curve(0, 0, 1, 0), -1);
	EXPECT_EQ(simsoc_scene_step(5, INFINITY), -1);
	EXPECT_EQ(simsoc_qvd_set_stat_slices(4), -1);
}

TEST_F(Scene, TheIlluminantColoursAGreySurface)
{
	expose(0, 1000);
	ASSERT_EQ(simsoc_scene_set_uniform(4000), 0);
	const struct {
		double kelvin, r, b;
	} cases[] = {{3500, 0.68, 0.45}, {6500, 0.47, 0.70}, {0, 1, 1}};
	for (const auto &c : cases) {
		ASSERT_EQ(simsoc_scene_set_colour_temperature(c.kelvin), 0);
		simsoc_vin_tick(0);
		ASSERT_EQ(fetch(b_), 0);
		double r, b;
		b_.awb_ratio(&r, &b);
		EXPECT_NEAR(r, c.r, 0.005) << c.kelvin;
		EXPECT_NEAR(b, c.b, 0.005) << c.kelvin;
	}
}

TEST_F(Scene, FocusValuesFallAwayFromThePeak)
{
	expose(0, 1000);
	ASSERT_EQ(simsoc_scene_set_uniform(2000), 0);
	auto fv = [&](uint16_t *fv1, uint16_t *fv2, double *luma) {
		simsoc_vin_tick(0);
		ASSERT_EQ(fetch(b_), 0);
		const qvd_cfa_slice *s = b_.cfa_slice(0);
		*fv1 = s->af[50].fv1;
		*fv2 = s->af[50].fv2;
		*luma = (double)((uint64_t)s->af[50].sum << s->header.af.shift);
	};
	uint16_t f1, f2;
	double luma0, luma;
	fv(&f1, &f2, &luma0);
	EXPECT_EQ(f1, 0);
	EXPECT_EQ(f2, 0);
	ASSERT_EQ(simsoc_scene_set_focus_curve(300, 40, 10, 1000), 0);
	simsoc_scene_move_focus(100);
	simsoc_scene_move_focus(200);
	EXPECT_EQ(simsoc_scene_focus(), 300);
	fv(&f1, &f2, &luma);
	EXPECT_EQ(f1, 60000);
	EXPECT_EQ(f2, 60000);
	EXPECT_NEAR(luma, luma0, luma0 * 1e-3);
	simsoc_scene_move_focus(-40); // one width1 away: half way down
	fv(&f1, &f2, &luma);
	EXPECT_EQ(f1, 1000 + 59000 / 2);
	EXPECT_LT(f2, f1);
	simsoc_scene_move_focus(-100000);
	fv(&f1, &f2, &luma);
	EXPECT_LT(f1, 1001);
	EXPECT_EQ(f2, 1000);
}

TEST_F(Scene, FlickerCancelsOverWholePeriods)
{
	simsoc_qvd_board board;
	simsoc_qvd_default_board(&board);
	board.vin[0].line_time = 25 * 512; // 400 rows make 10 ms
	use_board(board);
	ASSERT_EQ(simsoc_scene_set_uniform(2000), 0);
	ASSERT_EQ(simsoc_scene_set_flicker(100, 0.5), 0);
	auto spread = [&](uint32_t rows) {
		expose(0, rows);
		double lo = 1e9, hi = 0;
		for (int f = 0; f < 6; f++) {
			simsoc_vin_tick(0);
			EXPECT_EQ(fetch(b_), 0);
			double m = b_.ae_mean() * 1000 / rows;
			lo = std::min(lo, m);
			hi = std::max(hi, m);
		}
		return hi - lo;
	};
	EXPECT_LT(spread(400), 3);
	EXPECT_LT(spread(800), 3);
	EXPECT_GT(spread(100), 300);
}

} // namespace

TEST(SceneSchedule, TextsParseOrAreRefusedWithTheReason)
{
	const struct {
		const char *text;
		const char *error; // null: accepted
	} cases[] = {
	    {"", nullptr},
	    {"0:uniform=200,ct=5000;300:step=4;600:ct=3000;900:uniform=0.5", nullptr},
	    {"900:uniform=1;0:ct=0", nullptr},
	    {"5:step=0.25,step=2", nullptr},
	    {"0:highlights=0.005@60000,uniform=500", nullptr},
	    {"3:highlights=0.5",
	     "entry \"3:highlights=0.5\": \"highlights=0.5\" is not highlights=share@brightness"},
	    {"3:highlights=@5",
	     "entry \"3:highlights=@5\": \"highlights=@5\" is not highlights=share@brightness"},
	    {"3:highlights=0.1@",
	     "entry \"3:highlights=0.1@\": \"highlights=0.1@\" is not highlights=share@brightness"},
	    {"3:highlights=1.5@100",
	     "entry \"3:highlights=1.5@100\": \"highlights=1.5@100\" is out of range"},
	    {"3:highlights=0.1@-1", "entry \"3:highlights=0.1@-1\": \"highlights=0.1@-1\" is out of range"},
	    {"x:uniform=1", "entry \"x:uniform=1\" does not start with a frame number and ':'"},
	    {"-1:uniform=1", "entry \"-1:uniform=1\" does not start with a frame number and ':'"},
	    {"10", "entry \"10\" does not start with a frame number and ':'"},
	    {"0:uniform=1;", "entry \"\" does not start with a frame number and ':'"},
	    {"3:bright=2", "entry \"3:bright=2\": unknown action \"bright\""},
	    {"3:step", "entry \"3:step\": \"step\" is not name=number"},
	    {"3:step=2x", "entry \"3:step=2x\": \"step=2x\" is not name=number"},
	    {"3:uniform=1,", "entry \"3:uniform=1,\": \"\" is not name=number"},
	    {"3:step=0", "entry \"3:step=0\": \"step=0\" is out of range"},
	    {"3:uniform=-1", "entry \"3:uniform=-1\": \"uniform=-1\" is out of range"},
	    {"3:ct=9000", "entry \"3:ct=9000\": \"ct=9000\" is out of range"},
	    {"3:uniform=inf", "entry \"3:uniform=inf\": \"uniform=inf\" is not name=number"},
	    {"99999999999999999999999:step=2",
	     "entry \"99999999999999999999999:step=2\" does not start with a frame number and ':'"},
	};
	for (const auto &c : cases) {
		char err[160] = "untouched";
		int rc = simsoc_scene_schedule(c.text, err, sizeof err);
		if (!c.error) {
			EXPECT_EQ(rc, 0) << c.text << ": " << err;
			continue;
		}
		EXPECT_EQ(rc, -1) << c.text;
		EXPECT_STREQ(err, c.error) << c.text;
	}
	char tiny[8];
	EXPECT_EQ(simsoc_scene_schedule("3:nope=1", tiny, sizeof tiny), -1);
	EXPECT_STREQ(tiny, "entry \"");
	EXPECT_EQ(simsoc_scene_schedule("", nullptr, 0), 0);
}

// Entries take effect with the first frame that reaches them, in frame
// order, once: a later uniform replaces the earlier brightness but keeps the
// steps, and a refused text leaves the schedule as it was. (Under 5000 K a
// grey of 1000 gives an exposure mean of 785.)
TEST_F(Scene, ScheduledChangesComeWithTheirFrames)
{
	expose(0, 1000);
	ASSERT_EQ(simsoc_scene_schedule("4:step=2;2:uniform=1000,ct=5000;6:uniform=300,ct=0", nullptr, 0), 0);
	char err[64];
	ASSERT_EQ(simsoc_scene_schedule("1:uniform=5;x", err, sizeof err), -1);
	const struct {
		double mean, r;
	} frames[] = {{2048, 1}, {785, 0.54}, {785, 0.54}, {1570, 0.54}, {1570, 0.54}, {600, 1}, {600, 1}};
	for (size_t i = 0; i < sizeof frames / sizeof frames[0]; i++) {
		simsoc_vin_tick(0);
		ASSERT_EQ(fetch(b_), 0);
		ASSERT_EQ(b_.frame(), i + 1);
		EXPECT_NEAR(b_.ae_mean(), frames[i].mean, 2) << "frame " << i + 1;
		double r, b;
		b_.awb_ratio(&r, &b);
		EXPECT_NEAR(r, frames[i].r, 0.005) << "frame " << i + 1;
	}
}

// Highlights are a share of the cells spread over the grid: their pixels
// clip, the others stay as they were, and a refused call changes nothing. A
// schedule's entry lays its uniform first, whatever the order of its
// actions. (Cells of 60 x 32 pixels at 1920 x 1080: 480 quads, two greens
// each; a grey of 1000 lies in bin 3 of 64.)
TEST_F(Scene, HighlightsAreASpreadShareOfCells)
{
	expose(0, 1000);
	auto bright_cells = [&] {
		simsoc_vin_tick(0);
		EXPECT_EQ(fetch(b_), 0);
		std::set<unsigned> cells;
		for (unsigned k = 0; k < SIMSOC_SCENE_CELLS * SIMSOC_SCENE_CELLS; k++)
			if (b_.cfa_slice(0)->awb[k].over)
				cells.insert(k);
		return cells;
	};
	ASSERT_EQ(simsoc_scene_set_uniform(1000), 0);
	ASSERT_EQ(simsoc_scene_set_highlights(5 / 1024.0, 60000), 0);
	EXPECT_EQ(bright_cells(), (std::set<unsigned>{0, 204, 409, 614, 819}));
	const qvd_stat_hist &hist = b_.cfa_slice(0)->hist;
	EXPECT_EQ(hist.bin[1][63], 5u * 2 * 480);
	uint64_t green = 0;
	for (unsigned i = 0; i < QVD_STAT_HIST_BINS; i++)
		green += hist.bin[1][i];
	EXPECT_EQ(hist.bin[1][3] + hist.bin[1][63], green);

	for (auto bad :
	     {std::make_pair(-0.1, 100.0), {1.5, 100.0}, {0.5, -1.0}, {NAN, 100.0}, {0.5, INFINITY}})
		EXPECT_EQ(simsoc_scene_set_highlights(bad.first, bad.second), -1)
		    << bad.first << " " << bad.second;
	EXPECT_EQ(bright_cells().size(), 5u);
	EXPECT_EQ(simsoc_scene_set_highlights(0, 60000), 0);
	EXPECT_EQ(bright_cells().size(), 5u) << "a share of 0 adds none and removes none";

	ASSERT_EQ(simsoc_scene_schedule("5:highlights=0.01@60000,uniform=1000;7:uniform=1000", nullptr, 0),
	          0);
	EXPECT_EQ(bright_cells().size(), 5u); // frame 4
	EXPECT_EQ(bright_cells().size(), 10u);
	EXPECT_EQ(bright_cells().size(), 10u);
	EXPECT_EQ(bright_cells().size(), 0u);
}

// The environment's schedule is taken at every reset; a bad one is named on
// standard error and leaves no schedule.
TEST_F(Scene, TheEnvironmentsScheduleIsReadAtReset)
{
	expose(0, 1000);
	setenv("SIMSOC_SCENE_SCHEDULE", "0:uniform=500", 1);
	simsoc_scene_reset();
	simsoc_vin_tick(0);
	ASSERT_EQ(fetch(b_), 0);
	EXPECT_NEAR(b_.ae_mean(), 500, 2);

	setenv("SIMSOC_SCENE_SCHEDULE", "0:uniform=500;2:dim=1", 1);
	testing::internal::CaptureStderr();
	simsoc_scene_reset();
	std::string said = testing::internal::GetCapturedStderr();
	unsetenv("SIMSOC_SCENE_SCHEDULE");
	EXPECT_EQ(said, "simsoc: SIMSOC_SCENE_SCHEDULE ignored: entry \"2:dim=1\": unknown action \"dim\"\n");
	simsoc_vin_tick(0);
	ASSERT_EQ(fetch(b_), 0);
	EXPECT_NEAR(b_.ae_mean(), 2048, 2);
}

// A schedule replaced from one thread while another takes frames: every
// frame sees one schedule or the other, whole.
TEST_F(Scene, ScheduleReplacedWhileFramesAreTaken)
{
	expose(0, 1000);
	std::atomic<bool> done{false};
	std::thread setter([&] {
		for (int i = 0; !done; i++)
			simsoc_scene_schedule(i % 2 ? "0:uniform=500" : "0:uniform=1500", nullptr, 0);
	});
	for (int i = 0; i < 200; i++) {
		simsoc_vin_tick(0);
		ASSERT_EQ(fetch(b_), 0);
		double mean = b_.ae_mean();
		EXPECT_TRUE(fabs(mean - 500) < 2 || fabs(mean - 1500) < 2 || fabs(mean - 2048) < 2) << mean;
	}
	done = true;
	setter.join();
}

// ---- two exposures merged by the DSP ------------------------------------------

namespace
{

// An HDR configuration in device memory: its first blend queue carries the
// front-end gains of both exposures and their linearisation tables, packed
// as the DSP reads them (12-bit values, a shift per group of entries).
class MergedExposures : public Scene
{
      protected:
	static constexpr unsigned kKnots = 353;
	static constexpr uint32_t kPart = 0, kQueue = 1024, kTables = 4096, kTableStride = 1024;

	void SetUp() override
	{
		Scene::SetUp();
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin[0].exposures = 2;
		b.vin[0].dsp_hdr = 2;
		use_board(b);
		qvd_imgproc_map m{QVD_IMGPROC_BUF_IK, 0, 0, 0};
		ASSERT_EQ(ioctl(fd_, QVD_IOC_MAP_IMGPROC, &m), 0);
		mem_ =
		    (uint8_t *)mmap(nullptr, 1 << 16, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, (off_t)m.addr);
		ASSERT_NE(mem_, MAP_FAILED);
		phys_ = (uint32_t)m.addr;
		memset(mem_, 0, 1 << 16);
	}
	void TearDown() override
	{
		if (mem_ && mem_ != MAP_FAILED)
			munmap(mem_, 1 << 16);
		Scene::TearDown();
	}
	static uint32_t knot(unsigned i)
	{
		static const uint32_t first[] = {0, 64, 96, 128, 224, 288, 352};
		static const uint32_t at[] = {0, 1024, 2048, 4096, 16384, 32768};
		static const uint32_t step[] = {16, 32, 64, 128, 256, 512};
		if (i == 352)
			return 65535;
		unsigned g = 0;
		while (i > first[g + 1])
			g++;
		return at[g] + step[g] * (i - first[g]);
	}
	static uint32_t lookup(const std::vector<uint32_t> &lut, uint32_t x)
	{
		unsigned i = 0;
		while (i + 2 < kKnots && knot(i + 1) <= x)
			i++;
		return lut[i] + (uint64_t)(lut[i + 1] - lut[i]) * (x - knot(i)) / (knot(i + 1) - knot(i));
	}
	// Packs a table (each group's values shifted by what its largest needs)
	// into slot k of the table area and its shifts into header; returns the
	// table as the DSP reads it back.
	std::vector<uint32_t> pack(unsigned k, uint32_t (*f)(uint32_t), uint8_t *header)
	{
		static const unsigned first[9] = {0, 32, 64, 96, 128, 160, 224, 288, 352};
		uint8_t *t = mem_ + kTables + k * kTableStride;
		std::vector<uint32_t> lut(kKnots);
		for (unsigned g = 0; g < 8; g++) {
			unsigned last = g == 7 ? 352 : first[g + 1] - 1, shift = 0;
			while ((f(knot(last)) >> shift) > 0xFFF)
				shift++;
			uint16_t w;
			memcpy(&w, header + 2 * (g / 5), 2);
			w = (uint16_t)(w | shift << (3 * (g % 5)));
			memcpy(header + 2 * (g / 5), &w, 2);
			for (unsigned i = first[g]; i <= last; i++) {
				uint32_t v = f(knot(i)) >> shift;
				lut[i] = v << shift;
				if (i == 352) {
					uint16_t v16 = (uint16_t)v;
					memcpy(t + 528, &v16, 2);
					continue;
				}
				unsigned bit = 12 * i;
				t[bit / 8] |= (uint8_t)(v << (bit & 7));
				t[bit / 8 + 1] |= (uint8_t)(v << (bit & 7) >> 8);
			}
		}
		return lut;
	}
	static void put32(uint8_t *p, uint32_t v)
	{
		memcpy(p, &v, 4);
	}
	// Posts the configuration: long and short gains {r, g, b} (4096 = 1.0)
	// and tables.
	void post(const uint32_t gains[2][3], uint32_t (*long_lut)(uint32_t), uint32_t (*short_lut)(uint32_t))
	{
		uint8_t *q = mem_ + kQueue;
		put32(mem_ + kPart + 28, phys_ + kQueue);
		put32(q, 0x09002019u);
		const uint32_t at[2] = {20, 4};
		for (int e = 0; e < 2; e++) {
			const uint32_t words[4] = {gains[e][0], gains[e][2], gains[e][1], gains[e][1]};
			for (int w = 0; w < 4; w++)
				put32(q + at[e] + 4 * w, words[w]);
		}
		uint8_t *cmd = q + 128;
		put32(cmd, 0x09001003u);
		cmd[4] = cmd[5] = 1;
		luts_[1] = pack(0, short_lut, cmd + 12);
		luts_[0] = pack(1, long_lut, cmd + 26);
		put32(cmd + 40, phys_ + kTables);
		put32(cmd + 56, phys_ + kTables + kTableStride);
		put32(q + 256, 0x09006004u);
		qvd_multi_chan_cfg rec{0, QVD_CFG_KIND_HDR, (uint64_t)(uintptr_t)(mem_ + kPart), 0, 0};
		ASSERT_EQ(ioctl(fd_, QVD_IOC_IMG_SET_MULTI_CHAN_CFG, &rec), 0);
	}
	void apply()
	{
		qvd_apply_pending rec{QVD_APPLY_PENDING_CMD, 1};
		ASSERT_EQ(ioctl(fd_, QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, &rec), 0);
	}
	// The mean of colour c (0 r, 1 g, 2 b) of AWB tile k of the next frame.
	std::vector<double> tile(unsigned k)
	{
		simsoc_vin_tick(0);
		EXPECT_EQ(fetch(b_), 0);
		const qvd_cfa_slice *s = b_.cfa_slice(0);
		const qvd_awb_tile &t = s->awb[k];
		double quads = s->header.awb.width / 2 * (s->header.awb.height / 2);
		const uint16_t v[3] = {t.r, t.g, t.b};
		std::vector<double> out;
		for (uint16_t x : v)
			out.push_back((double)((uint64_t)x << s->header.awb.shift) / quads);
		return out;
	}
	uint8_t *mem_ = nullptr;
	uint32_t phys_ = 0;
	std::vector<uint32_t> luts_[2];
};

uint32_t half(uint32_t x)
{
	return x / 2;
}

uint32_t twice(uint32_t x)
{
	return std::min<uint32_t>(65535, 2 * x);
}

// The long exposure where it is not clipped, the short one there: through
// identity tables and unity gains until a configuration is applied, then
// through each exposure's gains and table, on the 14-bit scale. The raw
// pre-histograms stay each exposure's own.
TEST_F(MergedExposures, StatisticsAreOfTheMergedFrameThroughEachExposuresGainsAndTable)
{
	// Dark cells on the left, bright ones (which clip the long exposure)
	// on the right.
	for (unsigned row = 0; row < SIMSOC_SCENE_CELLS; row++)
		for (unsigned col = 0; col < SIMSOC_SCENE_CELLS; col++)
			ASSERT_EQ(simsoc_scene_set_cell(col, row, col < 16 ? 1000 : 12000, 1, 1), 0);
	expose(0, 2000, 250);
	simsoc_vin_tick(0);
	const unsigned dark = 0, bright = 31;
	// long 2000 on the left, short 3000 on the right
	for (double v : tile(dark))
		EXPECT_NEAR(v, 2000, 1);
	for (double v : tile(bright))
		EXPECT_NEAR(v, 3000, 1);

	const uint32_t gains[2][3] = {{8192, 4096, 2048}, {6144, 4096, 4096}};
	post(gains, half, twice);
	for (double v : tile(bright))
		EXPECT_NEAR(v, 3000, 1) << "posted, not applied";
	apply();
	std::vector<double> d = tile(dark), b = tile(bright);
	for (int c = 0; c < 3; c++) {
		SCOPED_TRACE(c);
		EXPECT_NEAR(d[c], lookup(luts_[0], 2000 * gains[0][c] / 4096 * 4) / 4.0, 1);
		EXPECT_NEAR(b[c], lookup(luts_[1], 3000 * gains[1][c] / 4096 * 4) / 4.0, 1);
	}
	// the figures the tables give: long r 2000 x 2 x 4 / 2 / 4, short r 3000 x 1.5 x 4 x 2 / 4
	EXPECT_NEAR(d[0], 2000, 1);
	EXPECT_NEAR(d[1], 1000, 1);
	EXPECT_NEAR(d[2], 500, 1);
	EXPECT_NEAR(b[0], 9000, 1);
	EXPECT_NEAR(b[1], 6000, 1);
	EXPECT_NEAR(b[2], 6000, 1);
	const qvd_prehist_slice *pre =
	    (const qvd_prehist_slice *)(b_.prehist.data() + sizeof(qvd_prehist_header));
	EXPECT_GT(pre->bin[1][2000 >> 7], 0u);
}

} // namespace
