/* The statistics parser against hand-written DSP statistics: the tile
 * rules, the slice layouts and their tile order, the refusals that keep the
 * last result, the pre-histograms and the sensor histogram. */
#include "aaa_parser.h"
#include "algo_fixture.h"
#include "awb.h"
#include "img_aaa.h"
#include "stat_fixture.h"

#include <memory>
#include <string>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class Parser : public AlgoOnDriver
{
      protected:
	void SetUp() override
	{
		AlgoOnDriver::SetUp();
		use_board(board(2));
		bring_up();
		configure_statistics();
		for (int c = 0; c < 4; c++)
			info_[c].expo_num = 1;
		const uint32_t unity[2] = {4096, 4096};
		ASSERT_EQ(parse_aaa_set_cfa_gain(unity), 0);
	}
	int parse(std::string *out = nullptr)
	{
		CaptureStdout();
		int rc = parse_aaa_data(&st_.desc, info_, res_.get());
		std::string o = GetCapturedStdout();
		if (out)
			*out = o;
		return rc;
	}
	// A one-slice CFA block of channel c with the given grids.
	qvd_cfa_slice *one_slice(int c, const qvd_stat_grid &awb, const qvd_stat_grid &ae,
	                         const qvd_stat_grid &af, uint32_t black = QVD_STAT_BLACK_NONE)
	{
		qvd_cfa_slice *s = st_.cfa(c, 0);
		slice_header(&s->header, c, 0, 1, 1, awb, ae, af, black);
		st_.desc.cfa_valid[c] = 1;
		return s;
	}
	// A small valid block: one tile of each kind.
	qvd_cfa_slice *small(int c)
	{
		qvd_cfa_slice *s =
		    one_slice(c, grid(1, 1, 2, 2, 0), grid(1, 1, 2, 2, 0), grid(1, 1, 2, 2, 0));
		s->awb[0] = qvd_awb_tile{10, 20, 30, 0, 0};
		s->ae[0] = qvd_ae_tile{400, 0, 0};
		return s;
	}
	StatArea st_;
	channel_info info_[4]{};
	std::unique_ptr<aaa_parse_out> res_ = std::make_unique<aaa_parse_out>();
};

TEST_F(Parser, CfaTilesAreNormalisedBlackCorrectedAndGained)
{
	// Black 256 in every colour. AWB tiles of 60 x 32 pixels (480 quads),
	// sums kept >> 7; AE and AF tiles of 160 x 134 pixels, sums kept >> 13.
	qvd_cfa_slice *s =
	    one_slice(0, grid(2, 1, 60, 32, 7), grid(4, 1, 160, 134, 13), grid(1, 1, 160, 134, 13), 256);
	s->awb[0] = qvd_awb_tile{3750, 7500, 1875, 0, 0}; // means 1000, 2000, 500
	s->awb[1] = qvd_awb_tile{1875, 3750, 0, 960, 0};  // half the pixels black
	s->ae[0] = qvd_ae_tile{3287, 0, 0};               // 21440 pixels of 1256
	s->ae[1] = qvd_ae_tile{0, 0, 21440};              // every pixel clipped
	s->ae[2] = qvd_ae_tile{23556, 0, 0};              // 21440 pixels of 9000
	s->ae[3] = qvd_ae_tile{0, 20000, 20000};          // more left out than there are
	s->af[0] = qvd_af_tile{2000, 111, 222};
	s->hist.bin[3][4] = 7;
	ASSERT_EQ(parse(), 0);
	const aaa_parse_result &r = res_->chan[0];
	EXPECT_EQ(memcmp(r.set.header, &s->header, 128), 0);
	EXPECT_EQ(r.set.awb[0].r, 744u);
	EXPECT_EQ(r.set.awb[0].g, 1744u);
	EXPECT_EQ(r.set.awb[0].b, 244u);
	EXPECT_EQ(r.set.awb[0].luma, 1744u * 4096 >> 20);
	EXPECT_EQ(r.set.awb[1].r, 372u); // (1000 - 256) x half
	EXPECT_EQ(r.set.awb[1].b, 0u);   // not positive
	EXPECT_EQ(r.set.ae[0].cfa_luma, 999u);
	EXPECT_EQ(r.set.ae[1].cfa_luma, AAA_LUMA_NONE);
	EXPECT_EQ(r.set.ae[1].rgb_luma, AAA_LUMA_NONE);
	EXPECT_EQ(r.set.ae[2].cfa_luma, 8744u);
	EXPECT_EQ(r.set.ae[3].cfa_luma, AAA_LUMA_NONE);
	EXPECT_EQ(r.set.cfa_af[0].sum, 764);
	EXPECT_EQ(r.set.cfa_af[0].fv1, 111);
	EXPECT_EQ(r.set.cfa_af[0].fv2, 222);
	EXPECT_EQ(r.set.cfa_hist.bin[3][4], 7u);
	EXPECT_EQ(r.awb_tiles, 2);
	EXPECT_EQ(r.ae_tiles, 4);
	EXPECT_EQ(r.af_tiles, 1);
	EXPECT_EQ(res_->valid[0], 1u);
	EXPECT_EQ(res_->valid[1], 0u);

	// CFA gain 8192 doubles the exposure luma, up to 16383.
	const uint32_t gains[2] = {8192, 4096};
	ASSERT_EQ(parse_aaa_set_cfa_gain(gains), 0);
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(r.set.ae[0].cfa_luma, 1998u);
	EXPECT_EQ(r.set.ae[2].cfa_luma, AAA_LUMA_MAX);
	EXPECT_EQ(r.set.awb[0].luma, 1744u * 8192 >> 20);
	EXPECT_EQ(parse_aaa_set_cfa_gain(nullptr), -1);
}

TEST_F(Parser, HistogramsAreSummedAfreshEveryFrame)
{
	qvd_cfa_slice *s = small(0);
	s->hist.bin[0][63] = 5;
	ASSERT_EQ(parse(), 0);
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(res_->chan[0].set.cfa_hist.bin[0][63], 5u);
}

// Each AWB tile's red sum names the tile: slice s's tile k holds
// 100 x s + k, so the parse result shows where the order put it.
void number_awb(qvd_cfa_slice *s, unsigned slice, unsigned tiles)
{
	for (unsigned k = 0; k < tiles; k++)
		s->awb[k] = qvd_awb_tile{(uint16_t)(100 * slice + k), 1, 1, 0, 0};
}

TEST_F(Parser, SlicesSideBySideShareRowsAndTakeColumnsInTurn)
{
	const uint16_t cols[3] = {2, 3, 1};
	for (unsigned s = 0; s < 3; s++) {
		qvd_cfa_slice *sl = st_.cfa(0, s);
		slice_header(&sl->header, 0, s, 3, 1, grid(cols[s], 2, 2, 2, 0), grid(1, 2, 2, 2, 0),
		             grid(1, 2, 2, 2, 0));
		number_awb(sl, s, cols[s] * 2u);
	}
	st_.desc.cfa_valid[0] = 1;
	ASSERT_EQ(parse(), 0);
	const aaa_parse_result &r = res_->chan[0];
	// Whole grid: 6 columns, 2 rows.
	const uint32_t want[12] = {0, 1, 100, 101, 102, 200, 2, 3, 103, 104, 105, 201};
	for (unsigned i = 0; i < 12; i++)
		EXPECT_EQ(r.set.awb[i].r, want[i]) << i;
	const qvd_stat_header *h = (const qvd_stat_header *)r.set.header;
	EXPECT_EQ(h->awb.num_col, 6);
	EXPECT_EQ(h->ae.num_col, 3);
	EXPECT_EQ(h->awb.num_row, 2);
	EXPECT_EQ(r.awb_tiles, 12);
	EXPECT_EQ(r.ae_tiles, 6);
}

TEST_F(Parser, SlicesInOneColumnFollowEachOther)
{
	for (unsigned s = 0; s < 2; s++) {
		qvd_cfa_slice *sl = st_.cfa(0, s);
		slice_header(&sl->header, 0, s, 1, 2, grid(3, 1, 2, 2, 0), grid(1, 1, 2, 2, 0),
		             grid(1, 1, 2, 2, 0));
		number_awb(sl, s, 3);
	}
	st_.desc.cfa_valid[0] = 1;
	ASSERT_EQ(parse(), 0);
	const aaa_parse_result &r = res_->chan[0];
	const uint32_t want[6] = {0, 1, 2, 100, 101, 102};
	for (unsigned i = 0; i < 6; i++)
		EXPECT_EQ(r.set.awb[i].r, want[i]) << i;
	const qvd_stat_header *h = (const qvd_stat_header *)r.set.header;
	EXPECT_EQ(h->awb.num_col, 3);
	EXPECT_EQ(h->awb.num_row, 2);
}

TEST_F(Parser, NoSlicesParsesNothing)
{
	qvd_cfa_slice *s = small(0);
	ASSERT_EQ(parse(), 0);
	s->header.slice_cols = 0;
	s->hist.bin[0][0] = 9;
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(res_->chan[0].set.awb[0].r, 10u); // from before
	EXPECT_EQ(res_->chan[0].awb_tiles, 0);
	EXPECT_EQ(res_->chan[0].set.cfa_hist.bin[0][0], 0u);
}

// Driver words that would index past the buffers are refused with a message
// and -1; the channel keeps its last result.
TEST_F(Parser, BlocksThatDoNotFitAreRefusedWhole)
{
	struct Case {
		const char *name;
		void (*spoil)(qvd_cfa_slice *s, channel_info *ci);
		const char *msg;
	} cases[] = {
	    {"five slices", [](qvd_cfa_slice *s, channel_info *) { s->header.slice_cols = 5; },
	     "parse_cfa_data: 5 slices exceed the 4 the buffer holds\n"},
	    {"three slices a half",
	     [](qvd_cfa_slice *s, channel_info *ci) {
		     ci->rgb_ir = 1;
		     s->header.slice_cols = 3;
	     },
	     "parse_cfa_data: 3 slices exceed the 2 the buffer holds\n"},
	    {"two by two",
	     [](qvd_cfa_slice *s, channel_info *) {
		     s->header.slice_cols = 2;
		     s->header.slice_rows = 2;
	     },
	     "parse_cfa_data: no tile order for 2 x 2 slices\n"},
	    {"four side by side", [](qvd_cfa_slice *s, channel_info *) { s->header.slice_cols = 4; },
	     "parse_cfa_data: no tile order for 4 x 1 slices\n"},
	    {"awb grid", [](qvd_cfa_slice *s, channel_info *) { s->header.awb = grid(33, 32, 2, 2, 0); },
	     "parse_cfa_data: awb grid of 1056 tiles exceeds 1024\n"},
	    {"ae grid", [](qvd_cfa_slice *s, channel_info *) { s->header.ae = grid(13, 8, 2, 2, 0); },
	     "parse_cfa_data: ae grid of 104 tiles exceeds 96\n"},
	    {"af grid", [](qvd_cfa_slice *s, channel_info *) { s->header.af = grid(97, 1, 2, 2, 0); },
	     "parse_cfa_data: af grid of 97 tiles exceeds 96\n"},
	    {"shift", [](qvd_cfa_slice *s, channel_info *) { s->header.ae.shift = 64; },
	     "parse_cfa_data: ae shift 64 of slice 0 is out of range\n"},
	    {"ae pixels", [](qvd_cfa_slice *s, channel_info *) { s->header.ae.height = 0; },
	     "[PARSER]>>> ae pixel cnt =0\n"},
	    {"af pixels", [](qvd_cfa_slice *s, channel_info *) { s->header.af.width = 0; },
	     "[PARSER]>>> af pixel cnt =0\n"},
	    {"awb pixels", [](qvd_cfa_slice *s, channel_info *) { s->header.awb.width = 0; }, ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		info_[0] = channel_info{};
		info_[0].expo_num = 1;
		small(0);
		ASSERT_EQ(parse(), 0);
		c.spoil(st_.cfa(0, 0), &info_[0]);
		st_.cfa(0, 0)->awb[0].r = 99;
		std::string out;
		EXPECT_EQ(parse(&out), -1);
		EXPECT_EQ(out, c.msg);
		EXPECT_EQ(res_->chan[0].set.awb[0].r, 10u);
	}
	// The awb message is a debug line.
	parse_aaa_set_debug(2);
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "[PARSER]>>> awb pixel cnt =0\n");
	parse_aaa_set_debug(0);
}

TEST_F(Parser, SideBySideSlicesMustShareTheirRows)
{
	for (unsigned s = 0; s < 2; s++)
		slice_header(&st_.cfa(0, s)->header, 0, s, 2, 1, grid(2, s + 1, 2, 2, 0), grid(1, 1, 2, 2, 0),
		             grid(1, 1, 2, 2, 0));
	st_.desc.cfa_valid[0] = 1;
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_cfa_data: no tile order for awb slices of 1 and 2 rows\n");
}

TEST_F(Parser, ACfaHeaderOfAnotherChannelEndsTheStep)
{
	small(0);
	small(1);
	ASSERT_EQ(parse(), 0);
	st_.cfa(0, 0)->header.chan = QVD_STAT_CHAN_BYTE(0) | 1; // bit 0 is not the channel
	st_.cfa(0, 0)->awb[0].r = 77;
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(res_->chan[0].set.awb[0].r, 77u);

	st_.cfa(0, 0)->header.chan = QVD_STAT_CHAN_BYTE(1);
	st_.cfa(0, 0)->awb[0].r = 55;
	st_.cfa(1, 0)->awb[0].r = 55;
	// The RGB step still runs for both channels.
	for (int c = 0; c < 2; c++) {
		qvd_rgb_slice *rs = st_.rgb(c, 0);
		slice_header(&rs->header, c, 0, 1, 1, grid(0, 0, 0, 0, 0), grid(1, 1, 2, 2, 0),
		             grid(1, 1, 2, 2, 0));
		rs->ae_sum[0] = 40;
		st_.desc.rgb_valid[c] = 1;
	}
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_cfa_data:stats.chan_index=1 mismatch with loop.chan_idx=0\n");
	EXPECT_EQ(res_->chan[0].set.awb[0].r, 77u);
	EXPECT_EQ(res_->chan[1].set.awb[0].r, 10u);
	EXPECT_EQ(res_->chan[0].set.ae[0].rgb_luma, 10u);
	EXPECT_EQ(res_->chan[1].set.ae[0].rgb_luma, 10u);
}

TEST_F(Parser, RgbStatisticsTakeTheirTilesAndHistogram)
{
	small(0);
	for (unsigned s = 0; s < 2; s++) {
		qvd_rgb_slice *rs = st_.rgb(0, s);
		slice_header(&rs->header, 0, s, 2, 1, grid(0, 0, 0, 0, 0), grid(2, 1, 160, 134, 13),
		             grid(2, 1, 160, 134, 13));
		rs->ae_sum[0] = 2617;
		rs->ae_sum[1] = 60000;
		rs->af[1] = qvd_af_tile{2000, 3, 4};
		rs->hist.bin[2][10] = 100;
	}
	st_.desc.rgb_valid[0] = 1;
	ASSERT_EQ(parse(), 0);
	const aaa_parse_result &r = res_->chan[0];
	EXPECT_EQ(r.set.ae[0].rgb_luma, 999u);
	EXPECT_EQ(r.set.ae[1].rgb_luma, AAA_LUMA_MAX);
	EXPECT_EQ(r.set.ae[2].rgb_luma, 999u);
	EXPECT_EQ(r.set.rgb_af[3].sum, 764);
	EXPECT_EQ(r.set.rgb_af[3].fv2, 4);
	EXPECT_EQ(r.set.rgb_hist.bin[2][10], 200u);

	// A slice without focus pixels ends the channel's RGB data there.
	st_.rgb(0, 1)->header.af.width = 0;
	st_.rgb(0, 1)->ae_sum[0] = 0;
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(r.set.rgb_hist.bin[2][10], 100u);
	EXPECT_EQ(r.set.ae[2].rgb_luma, 999u);

	// Exposure tiles without pixels read as empty.
	st_.rgb(0, 0)->header.ae.width = 0;
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(r.set.ae[0].rgb_luma, AAA_LUMA_NONE);

	st_.rgb(0, 0)->header.slice_cols = 5;
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_rgb_data: 5 slices exceed the 4 the buffer holds\n");
}

TEST_F(Parser, PreHistogramsSumSlicesPerExposure)
{
	info_[0].expo_num = 2;
	for (unsigned e = 0; e < 2; e++) {
		uint8_t *rec = st_.prehist(0, e);
		qvd_prehist_header *h = (qvd_prehist_header *)rec;
		h->chan = 0;
		h->slices = 3;
		qvd_prehist_slice *sl = (qvd_prehist_slice *)(rec + sizeof *h);
		for (unsigned s = 0; s < 3; s++)
			sl[s].bin[1][5] = 10 * (e + 1);
	}
	st_.desc.prehist_valid[0] = 1;
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(res_->chan[0].prehist[0][1][5], 30u);
	EXPECT_EQ(res_->chan[0].prehist[1][1][5], 60u);
	EXPECT_EQ(res_->valid[0], 1u);

	// A record of another channel: message, -1, and the CFA step still runs.
	((qvd_prehist_header *)st_.prehist(0, 1))->chan = 0x21;
	small(0);
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_pre_histo_data:stats.chan_index=1 mismatch with loop.chan_idx=0\n");
	EXPECT_EQ(res_->chan[0].set.awb[0].r, 10u);
	EXPECT_EQ(res_->chan[0].prehist[0][1][5], 30u);

	((qvd_prehist_header *)st_.prehist(0, 1))->chan = 0;
	((qvd_prehist_header *)st_.prehist(0, 1))->slices = 4;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_pre_histo_data: 4 slices exceed the 3 a record holds\n");
	info_[0].expo_num = 5;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "parse_pre_histo_data: 5 exposures exceed the 4 the buffer holds\n");
}

// A sensor histogram block: offset, packed length, count, then the values.
void sensor_block(uint8_t *blk, uint16_t offset, uint16_t packed, uint16_t count,
                  const std::vector<uint16_t> &v)
{
	memset(blk, 0, QVD_STAT_HIST_SIZE);
	memcpy(blk, &offset, 2);
	memcpy(blk + 2, &packed, 2);
	memcpy(blk + 4, &count, 2);
	memcpy(blk + offset, v.data(), 2 * v.size());
}

TEST_F(Parser, SensorHistogramOfMethodThree)
{
	info_[0].hdr_method = 3;
	st_.desc.hist_valid[0] = 1;
	std::vector<uint16_t> v(504);
	v[0] = 0x012;
	v[1] = 0x034; // first 16-bit header value
	v[4] = 0x005;
	v[5] = 0x006; // first 32-bit header value
	v[16] = 0x1234;
	v[17] = 0x5678; // bin 0
	v[503] = 0x00f0;
	// 252 values a row, two rows, already 16 bits wide: copied.
	sensor_block(st_.hist(0), 64, 504, 252, v);
	ASSERT_EQ(parse(), 0);
	const aaa_sensor_hist &sh = res_->chan[0].sensor_hist;
	EXPECT_EQ(sh.valid, 1);
	EXPECT_EQ(sh.head16[0], (0x012 << 8) + 0x034);
	EXPECT_EQ(sh.head32[0], (0x005u << 10) + 0x006);
	EXPECT_EQ(sh.bin[0], (0x5678u >> 4) + (0x1234u & 0xfff0) * 64);
	EXPECT_EQ(sh.bin[243], 0x0fu);
	uint32_t values;
	memcpy(&values, st_.hist(0), 4);
	EXPECT_EQ(values, 504u);
	EXPECT_EQ(st_.hist(0)[QVD_STAT_HIST_SIZE / 2 + 64], 0); // the scratch half cleared

	// Not room for the values.
	sensor_block(st_.hist(0), 4000, 1104, 1100, v);
	std::string out;
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "not enough memory (0x2080) is assigned for sensor hist data\n");
	// Packed rows that would be read past the block.
	sensor_block(st_.hist(0), 16, 8300, 252, v);
	EXPECT_EQ(parse(&out), -1);
	EXPECT_EQ(out, "sensor hist data of 252 values at 0x10 with length 8300 exceeds 0x2080\n");
	EXPECT_EQ(sh.bin[0], (0x5678u >> 4) + (0x1234u & 0xfff0) * 64);

	// Other methods leave the block alone.
	info_[0].hdr_method = 4;
	sensor_block(st_.hist(0), 4000, 1104, 1100, v);
	EXPECT_EQ(parse(&out), 0);
}

TEST_F(Parser, PackedSensorHistogramIsUnpackedByTheImageKernel)
{
	info_[0].hdr_method = 3;
	st_.desc.hist_valid[0] = 1;
	std::vector<uint16_t> packed(200);
	for (size_t i = 0; i < packed.size(); i++)
		packed[i] = (uint16_t)(i * 2654435761u >> 7);
	sensor_block(st_.hist(0), 32, 200, 120, packed);
	std::vector<uint16_t> want(240);
	ASSERT_EQ(vors_img_dsp_3a_unpack_sensor_hist_data(st_.hist(0) + 32, 200, want.data(), 120, 2), 0);
	ASSERT_EQ(parse(), 0);
	EXPECT_EQ(memcmp(st_.hist(0) + 4, want.data(), 480), 0);
}

TEST_F(Parser, SourceContextLumaValues)
{
	int32_t luma[2];
	ASSERT_EQ(parse(), 0);
	ASSERT_EQ(parse_aaa_get_vsrc_luma(0, luma), 0);
	EXPECT_EQ(luma[0], -1024);
	EXPECT_EQ(luma[1], -1024);
	// The service's getters hand out the same two words of every channel.
	int32_t info_a[4] = {7, 7, 7, 7}, info_b[4] = {7, 7, 7, 7};
	ASSERT_EQ(img_get_stat_info_a(info_a), 0);
	ASSERT_EQ(img_get_stat_info_b(info_b), 0);
	EXPECT_EQ(info_a[0], -1024);
	EXPECT_EQ(info_b[0], -1024);
	info_[0].rgb_ir = 1;
	qvd_cfa_slice *a = small(0);
	a->hist.bin[3][1] = 1; // luma bin 2
	qvd_cfa_slice *b = st_.cfa(0, 0, QVD_STAT_CFA_SIZE / 2);
	*b = *a;
	b->hist.bin[3][1] = 0;
	b->hist.bin[3][9] = 3; // luma bin 10
	ASSERT_EQ(parse(), 0);
	ASSERT_EQ(parse_aaa_get_vsrc_luma(0, luma), 0);
	EXPECT_EQ(luma[0], 80);
	EXPECT_EQ(luma[1], 80 - 16);
	ASSERT_EQ(img_get_stat_info_a(info_a), 0);
	ASSERT_EQ(img_get_stat_info_b(info_b), 0);
	EXPECT_EQ(info_a[0], 80);
	EXPECT_EQ(info_b[0], 80 - 16);
	EXPECT_EQ(img_get_stat_info_a(nullptr), -1);
	EXPECT_EQ(img_get_stat_info_b(nullptr), -1);
	EXPECT_EQ(res_->chan[0].set2.awb[0].r, 10u);
	EXPECT_EQ(parse_aaa_get_vsrc_luma(4, luma), -1);
}

TEST_F(Parser, NullArgumentsAreRefused)
{
	EXPECT_EQ(parse_aaa_data(nullptr, info_, res_.get()), -1);
	EXPECT_EQ(parse_aaa_data(&st_.desc, nullptr, res_.get()), -1);
	EXPECT_EQ(parse_aaa_data(&st_.desc, info_, nullptr), -1);
	EXPECT_EQ(hal_get_aaa_stat(fd_, nullptr), -1);
	EXPECT_EQ(hal_get_latest_aaa_stat(fd_, nullptr), -1);
	EXPECT_EQ(parse_aaa_set_sensor_desc(nullptr), -1);
	uint8_t desc[AAA_SENSOR_DESC_SIZE];
	for (int i = 0; i < AAA_SENSOR_DESC_SIZE; i++)
		desc[i] = (uint8_t)i;
	EXPECT_EQ(parse_aaa_set_sensor_desc(desc), 0);
	EXPECT_EQ(memcmp(parse_aaa_get_sensor_desc(), desc, sizeof desc), 0);
}

TEST_F(Parser, PendingWhiteBalanceGoesToTheStore)
{
	awb_set_pending_wb_gain(3, 1100, 1024, 900);
	const awb_chan_store *st = awb_get_chan_store(3);
	EXPECT_EQ(st->pending, 1u);
	EXPECT_EQ(st->preload[0], 1100u);
	EXPECT_EQ(st->preload[2], 900u);
	awb_set_pending_wb_gain(4, 1, 1, 1); // nothing to write
}

} // namespace
