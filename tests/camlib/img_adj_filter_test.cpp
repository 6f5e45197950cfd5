/* The filter pipeline: the container types and their row selection, the
 * refusals that leave a state alone, the first and per-frame passes through
 * recording translaters and transmitters, and the bank loaders. */
#include "img_adj_filter.h"

#include "img_adj_settings.h"
#include "img_adj_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

using namespace adjtest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(AdjLayout, SizesNameTheirTypesAndFillABank)
{
	uint32_t sum = 0;
	for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++) {
		uint32_t size = img_adj_container_size(id);
		EXPECT_NE(type_of(size), nullptr) << "filter " << id << " size " << size;
		sum += size;
	}
	EXPECT_EQ(sum, (uint32_t)IMG_ADJ_BANK_SIZE);
	EXPECT_EQ(img_adj_container_size(49), 0u);
	/* States lie back to back, each a header and one row image a part. */
	for (uint32_t id = 0; id + 1 < IMG_ADJ_FILTER_NUM; id++) {
		const TypeSpec *t = type_of(img_adj_container_size(id));
		ptrdiff_t span =
		    (uint8_t *)img_adj_filter_state(0, id + 1) - (uint8_t *)img_adj_filter_state(0, id);
		EXPECT_EQ(span, (ptrdiff_t)(sizeof(filter_state) + values_size(*t))) << id;
		EXPECT_GE((uint8_t *)img_adj_filter_block(0, id + 1) - (uint8_t *)img_adj_filter_block(0, id),
		          (ptrdiff_t)img_adj_filter_block_size(id));
	}
	EXPECT_EQ(img_adj_filter_block_size(45), 606u);
	EXPECT_EQ((uintptr_t)img_adj_filter_block(0, IMG_ADJ_CC) % 8, 0u);
}

struct RowCase {
	const char *what;
	int32_t gain;
	uint32_t lo, hi, flag;
	int row; /* the row copied; -1: rows 2 and 3 blended 84 and 44 */
};

int64_t blended(int64_t a, int64_t b, int width)
{
	if (width == 4)
		return (int32_t)((uint32_t)a * 84u + (uint32_t)b * 44u) >> 7;
	uint32_t v = ((uint32_t)a * 84u + (uint32_t)b * 44u) >> 7;
	return width == 2 ? (v & 0xffff) : (v & 0xff);
}

TEST(AdjContainer, EveryTypeSelectsOrBlendsTheRowsOfTheGainIndex)
{
	const RowCase cases[] = {
	    {"gain 256 is row 2 exactly", 256, 0, 15, 1, 2},
	    {"gain 300 blends rows 2 and 3", 300, 0, 15, 1, -1},
	    {"a negative gain takes the lowest row", -5, 3, 15, 1, 3},
	    {"a row at or above the highest takes it", 1600, 0, 12, 1, 12},
	    {"far above the highest", 2047, 0, 12, 1, 12},
	    {"lowest and highest row 0", 900, 0, 0, 1, 0},
	    {"flag 0 copies row r", 300, 0, 15, 0, 2},
	};
	for (const TypeSpec &t : container_types()) {
		for (const RowCase &c : cases) {
			SCOPED_TRACE(std::string(c.what) + ", size " + std::to_string(t.size));
			Container fc(t, 7, (int32_t)c.flag);
			for (size_t p = 0; p < t.parts.size(); p++) {
				uint32_t per_row = (uint32_t)(t.parts[p].row / t.parts[p].width);
				fc.describe((int)p, per_row - 1, c.lo, c.hi, c.flag);
			}
			State st(t, 7, 0xa5);
			ASSERT_EQ(img_adj_container_apply(st.fs(), fc.fc(), c.gain, t.size), 0);
			EXPECT_EQ(st.fs()->changed, 1u);
			for (size_t p = 0; p < t.parts.size(); p++) {
				const PartSpec &s = t.parts[p];
				int per_row = s.row / s.width;
				for (int k = 0; k < per_row - 1; k++) {
					int64_t want = c.row >= 0 ? fc.value((int)p, c.row, k)
					                          : blended(fc.value((int)p, 2, k),
					                                    fc.value((int)p, 3, k), s.width);
					ASSERT_EQ(st.value(t, (int)p, k), want)
					    << "part " << p << " value " << k;
				}
				int64_t untouched = 0;
				memset(&untouched, 0xa5, (size_t)s.width);
				if (s.width == 4)
					untouched = (int32_t)untouched;
				EXPECT_EQ(st.value(t, (int)p, per_row - 1), untouched)
				    << "only count values move";
			}
		}
	}
}

TEST(AdjContainer, ThirtyTwoBitPartsWrapAndShiftArithmetically)
{
	const TypeSpec &t = *type_of(600);
	Container fc(t, 1, 1);
	fc.set_value(0, 2, 0, INT32_MAX);
	fc.set_value(0, 3, 0, INT32_MAX);
	fc.set_value(0, 2, 1, 1 << 24);
	State st(t, 1, 0);
	ASSERT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 300, t.size), 0);
	EXPECT_EQ(st.value(t, 0, 0), -1);
	ASSERT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 256, t.size), 0);
	EXPECT_EQ(st.value(t, 0, 1), -(1 << 24)) << "even weight 128 wraps a value of 2^24";
}

TEST(AdjContainer, TuningDescriptorsStayInsideTheRowAndTheSixteenRows)
{
	for (const TypeSpec &t : container_types()) {
		Container fc(t, 3, 1);
		for (size_t p = 0; p < t.parts.size(); p++)
			fc.describe((int)p, 0xffffffffu, 0xfffffff9u, 99, 1);
		State st(t, 3, 0);
		ASSERT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 4000, t.size), 0);
		const PartSpec &last = t.parts.back();
		int per_row = last.row / last.width;
		EXPECT_EQ(st.value(t, (int)t.parts.size() - 1, per_row - 1),
		          fc.value((int)t.parts.size() - 1, 15, per_row - 1))
		    << "row 15 stands for a highest row of 99, size " << t.size;
	}
}

TEST(AdjContainer, RefusalsLeaveTheStateAsItWas)
{
	const TypeSpec &t = *type_of(600);
	Container fc(t, 4, 1);
	State st(t, 3, 0x5a);
	st.fs()->changed = 1;
	st.fs()->counter = 2;
	const std::vector<uint8_t> before = st.bytes;

	CaptureStdout();
	EXPECT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 256, 601), -1);
	EXPECT_EQ(GetCapturedStdout(), "unknow container type\n");
	CaptureStdout();
	EXPECT_EQ(img_adj_container_apply(nullptr, fc.fc(), 256, 600), -1);
	EXPECT_EQ(GetCapturedStdout().rfind("nullptr f (nil) fc 0x", 0), 0u);
	CaptureStdout();
	EXPECT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 256, 600), -1);
	EXPECT_EQ(GetCapturedStdout(), "f 3 fc 4 mismatch\n");
	fc.set_word(0, 3);
	fc.set_word(1, (uint32_t)-1);
	CaptureStdout();
	EXPECT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 256, 600), -1);
	EXPECT_EQ(GetCapturedStdout(), "") << "a disabled filter is skipped silently";
	EXPECT_EQ(st.bytes, before);
}

TEST(AdjContainer, PeriodFiveEvaluatesOnTheFirstPassAndEveryFifth)
{
	const TypeSpec &t = *type_of(344);
	Container fc(t, 5, 0);
	State st(t, 5, 0);
	st.fs()->period = 5;
	st.fs()->counter = 5;
	std::vector<int> evaluated;
	for (int pass = 1; pass <= 11; pass++) {
		st.fs()->changed = 7;
		ASSERT_EQ(img_adj_container_apply(st.fs(), fc.fc(), 256, t.size), 0);
		if (st.fs()->changed == 1)
			evaluated.push_back(pass);
		else
			EXPECT_EQ(st.fs()->changed, 0u) << "changed is cleared between";
	}
	EXPECT_EQ(evaluated, (std::vector<int>{1, 6, 11}));
}

TEST(AdjContainer, PointersGoToTheirRowAndColumn)
{
	std::vector<uint64_t> fc(600 / 8, 0);
	filter_container *c = (filter_container *)fc.data();
	int x = 0;
	ASSERT_EQ(img_adj_container_set_pointer(c, &x, 4, 2, 600), 0);
	EXPECT_EQ(fc[(88 + 32 * 4 + 16) / 8], (uint64_t)(uintptr_t)&x);
	CaptureStdout();
	EXPECT_EQ(img_adj_container_set_pointer(c, &x, 4, 2, 344), -1);
	EXPECT_EQ(img_adj_container_set_pointer(c, &x, 16, 2, 600), -1);
	EXPECT_EQ(img_adj_container_set_pointer(c, &x, 0, 4, 600), -1);
	EXPECT_EQ(GetCapturedStdout(),
	          "non-supported container type\nM, N out of range\nM, N out of range\n");
	EXPECT_EQ(filter_container_reset(c, 9, -1), 0);
	EXPECT_EQ(c->id, 9u);
	EXPECT_EQ(filter_container_set_mode(c, 2), 0);
	EXPECT_EQ(c->mode, 2);
}

TEST(AdjLayout, LastFilterFollowsTheWorkModeAndTheCountStaysWithinTheStore)
{
	const uint32_t last[] = {48, 48, 45, 48, 48};
	for (uint32_t mode = 0; mode < 5; mode++)
		EXPECT_EQ(img_adj_last_filter_id(mode), last[mode]);
	CaptureStdout();
	EXPECT_EQ(img_adj_last_filter_id(5), IMG_ADJ_NO_FILTER);
	EXPECT_EQ(img_adj_set_channel_count(0), -1);
	EXPECT_EQ(img_adj_set_channel_count(5), -1);
	EXPECT_EQ(
	    GetCapturedStdout(),
	    "error:img_work_info.mode =5\nError:vors_aaa_vin_chan_num =0\nError:vors_aaa_vin_chan_num =5\n");
	EXPECT_EQ(img_adj_set_channel_count(4), 0);
	EXPECT_EQ(img_adj_get_channel_count(), 4);
	EXPECT_EQ(img_adj_set_channel_info(nullptr), -1);
}

/* Two channels brought up as the camera library does, with a container of
 * distinct rows for every filter and recording translaters and
 * transmitters. */
class AdjPass : public ::testing::Test
{
      protected:
	static constexpr int kFd = 17;

	void SetUp() override
	{
		img_adj_filter_reset();
		img_adj_settings_reset();
		rec_.install();
		info_[0].yuv = 1;
		info_[1].dsp_hdr = 1;
		mode_ = {IMG_DSP_PIPE_VIDEO, 1, 0, 0, {}, IMG_DSP_BATCH_NONE, 0, {}};
	}
	void TearDown() override
	{
		img_adj_set_filter_ops(nullptr, nullptr);
	}
	void set_luma_mode(int chan, int32_t v)
	{
		tuning_[chan][IMG_ADJ_LUMA_PROC].set_value(0, 0, 0, v);
	}
	void bring_up()
	{
		ASSERT_EQ(img_adj_set_channel_count(2), 0);
		ASSERT_EQ(img_adj_set_channel_info(info_), 0);
		ASSERT_EQ(rig_.set_up(), 0);
		ASSERT_EQ(img_adj_apply_initial_filters(kFd, &mode_), 0);
	}
	void run(int passes, int32_t gain = 256)
	{
		const int32_t gains[2] = {gain, gain};
		for (int i = 0; i < passes; i++)
			ASSERT_EQ(img_adj_run_filters(kFd, &mode_, gains, aaa_), 0);
	}
	static std::vector<uint32_t> all_but(std::set<uint32_t> left_out, uint32_t last = 48)
	{
		std::vector<uint32_t> ids;
		for (uint32_t id = 0; id <= last; id++)
			if (!left_out.count(id))
				ids.push_back(id);
		return ids;
	}

	Recorder rec_;
	TwoChannelTuning rig_;
	std::vector<Container> (&tuning_)[2] = rig_.tuning;
	img_adj_tuning (&pointers_)[2] = rig_.pointers;
	std::vector<std::vector<uint8_t>> &tables_ = rig_.tables;
	channel_info info_[IMG_MAX_CHANNELS] = {};
	img_dsp_mode mode_;
	cl_aaa_block aaa_[2] = {};
};

TEST_F(AdjPass, FirstPassSendsEveryFilterOnceInItsChannelsContext)
{
	set_luma_mode(0, 0);
	set_luma_mode(1, 0);
	bring_up();
	const std::vector<uint32_t> want = all_but({9, 16, 17, 18, 19, 20, 21, 22, 23});
	EXPECT_EQ(rec_.ids_sent(0), want);
	EXPECT_EQ(rec_.ids_sent(1), want);
	for (const Sent &s : rec_.sent) {
		EXPECT_EQ(s.fd, kFd);
		EXPECT_EQ(s.force, 1u);
		EXPECT_EQ(s.func_mode, s.chan == 0 ? IMG_DSP_FUNC_CLISO : IMG_DSP_FUNC_NO_HDR);
	}
	EXPECT_EQ(rec_.translated.size(), rec_.sent.size()) << "every sent filter is translated first";
	for (uint32_t id = 0; id < IMG_ADJ_FILTER_NUM; id++)
		EXPECT_EQ(img_adj_filter_state(1, id)->changed, 0u) << id;
}

TEST_F(AdjPass, LumaProcessingModeExcludesOneSideOrTheOther)
{
	set_luma_mode(0, 1);
	set_luma_mode(1, 0);
	bring_up();
	EXPECT_EQ(rec_.ids_sent(0), all_but({9, 15}));
	EXPECT_EQ(rec_.ids_sent(1), all_but({9, 16, 17, 18, 19, 20, 21, 22, 23}));
	EXPECT_EQ(img_adj_bank_container(0, 0, IMG_ADJ_ASF)->mode, -1);
	EXPECT_EQ(img_adj_bank_container(1, 0, 20)->mode, -1);
}

TEST_F(AdjPass, ModeTwoIsSentOnceThenDisabled)
{
	tuning_[0][3].set_word(1, 2);
	bring_up();
	std::vector<uint32_t> first = rec_.ids_sent(0);
	EXPECT_NE(std::find(first.begin(), first.end(), 3u), first.end());
	EXPECT_EQ(img_adj_bank_container(0, 0, 3)->mode, -1);
	rec_.clear();
	run(10);
	std::vector<uint32_t> later = rec_.ids_sent(0);
	EXPECT_EQ(std::find(later.begin(), later.end(), 3u), later.end());
	std::vector<uint32_t> other = rec_.ids_sent(1);
	EXPECT_NE(std::find(other.begin(), other.end(), 3u), other.end());
}

TEST_F(AdjPass, PerFramePassFollowsEachFiltersPeriod)
{
	bring_up();
	for (cl_aaa_block &b : aaa_)
		b.wb_r_gain = b.wb_g_gain = b.wb_b_gain = 1024;
	const std::set<uint32_t> excluded = {15}; /* the pattern's luma mode is non-zero */
	std::set<uint32_t> sent_before;
	for (int pass = 1; pass <= 15; pass++) {
		rec_.clear();
		run(1);
		std::vector<uint32_t> want;
		for (uint32_t id = 0; id <= 48; id++) {
			if (excluded.count(id))
				continue;
			bool due = id <= 1                  ? pass % 2 == 0
			           : id == 9                ? pass == 1
			           : (id == 11 || id == 12) ? pass == 15
			                                    : pass % 5 == 0;
			if (due)
				want.push_back(id);
		}
		EXPECT_EQ(rec_.ids_sent(0), want) << "pass " << pass;
		for (const Sent &s : rec_.sent) {
			EXPECT_EQ(s.force, sent_before.count(s.id) ? 0u : 1u)
			    << "pass " << pass << " filter " << s.id
			    << ": the first pass's force lasts one send";
			if (s.chan == 1)
				sent_before.insert(s.id);
		}
	}
}

TEST_F(AdjPass, WorkModesLeaveOutFiltersOrTheWholeChannel)
{
	info_[0].tuning_key = 2;
	bring_up();
	EXPECT_EQ(rec_.ids_sent(0), all_but({9, 15, 46, 47, 48}));
	for (uint32_t id = 46; id <= 48; id++) {
		EXPECT_EQ(img_adj_filter_state(0, id)->id, 0u) << "never given a header";
		EXPECT_EQ(img_adj_bank_container(0, 0, id)->id, 0u) << "never laid out";
	}
	info_[1].tuning_key = 5;
	ASSERT_EQ(img_adj_set_channel_info(info_), 0);
	rec_.clear();
	CaptureStdout();
	run(5);
	std::string once_a_pass;
	for (int i = 0; i < 5; i++)
		once_a_pass += "error:img_work_info.mode =5\n";
	EXPECT_EQ(GetCapturedStdout(), once_a_pass);
	EXPECT_TRUE(rec_.ids_sent(1).empty());
	EXPECT_FALSE(rec_.ids_sent(0).empty());
	CaptureStdout();
	EXPECT_EQ(img_adj_init_containers_liso(pointers_), -1);
	EXPECT_EQ(GetCapturedStdout(), "error:img_work_info.mode =5\n");
}

TEST_F(AdjPass, FilterWithoutTuningStaysDisabled)
{
	pointers_[0][7] = nullptr;
	bring_up();
	EXPECT_EQ(img_adj_bank_container(0, 0, 7)->id, 7u);
	EXPECT_EQ(img_adj_bank_container(0, 0, 7)->mode, -1);
	EXPECT_EQ(img_adj_bank_container(0, 1, 7)->mode, -1) << "the spare bank is a copy";
	run(10);
	std::vector<uint32_t> sent = rec_.ids_sent(0);
	EXPECT_EQ(std::find(sent.begin(), sent.end(), 7u), sent.end());
	sent = rec_.ids_sent(1);
	EXPECT_NE(std::find(sent.begin(), sent.end(), 7u), sent.end());
}

TEST_F(AdjPass, ContainerIdsKeepTheirLow16Bits)
{
	tuning_[1][4].set_word(0, 0xabcd0004u);
	bring_up();
	EXPECT_EQ(img_adj_bank_container(1, 0, 4)->id, 4u);
	std::vector<uint32_t> sent = rec_.ids_sent(1);
	EXPECT_NE(std::find(sent.begin(), sent.end(), 4u), sent.end());
}

TEST_F(AdjPass, RefreshResendsOnEveryChannelAndFilterNineBlendsAgain)
{
	bring_up();
	run(2);
	rec_.clear();
	ASSERT_EQ(img_adj_refresh_filter(11), 0);
	for (int c = 0; c < 2; c++) {
		const filter_state *f = img_adj_filter_state(c, 11);
		EXPECT_EQ(f->changed, 1u);
		EXPECT_EQ(f->force_send, 1u);
		EXPECT_EQ(f->counter, f->period);
	}
	run(1);
	for (int c = 0; c < 2; c++) {
		EXPECT_EQ(rec_.ids_sent(c), std::vector<uint32_t>{11});
		EXPECT_EQ(rec_.sent[(size_t)c].force, 1u);
		EXPECT_EQ(img_adj_filter_state(c, 11)->force_send, 0u);
	}
	/* gains and exposure unchanged: only the update flags make 9 blend */
	rec_.clear();
	ASSERT_EQ(img_adj_refresh_filter(IMG_ADJ_CC), 0);
	run(1);
	std::vector<uint32_t> sent = rec_.ids_sent(0);
	EXPECT_NE(std::find(sent.begin(), sent.end(), 9u), sent.end());
	CaptureStdout();
	EXPECT_EQ(img_adj_refresh_filter(49), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: invalid filter id 49.\n");
}

TEST_F(AdjPass, FailingTranslatersAndTransmittersNeverStopAPass)
{
	rec_.fail_translate = 5;
	rec_.fail_transmit = 6;
	bring_up();
	EXPECT_EQ(rec_.ids_sent(0), all_but({9, 15}));
	EXPECT_EQ(img_adj_filter_state(0, 5)->changed, 0u);
	EXPECT_EQ(img_adj_filter_state(0, 6)->changed, 0u);
}

TEST_F(AdjPass, DisabledChannelTakesNoPart)
{
	bring_up();
	const uint32_t enable[2] = {0, 1};
	ASSERT_EQ(img_adj_set_channel_enable(enable, 1), 0);
	uint32_t got[2] = {};
	ASSERT_EQ(img_adj_get_channel_enable(got), 0);
	EXPECT_EQ(got[0], 0u);
	EXPECT_EQ(got[1], 1u);
	rec_.clear();
	run(5);
	EXPECT_TRUE(rec_.ids_sent(0).empty());
	EXPECT_FALSE(rec_.ids_sent(1).empty());
	EXPECT_EQ(img_adj_set_channel_enable(nullptr, 1), -1);
	EXPECT_EQ(img_adj_get_channel_enable(nullptr), -1);
	EXPECT_EQ(img_adj_run_filters(kFd, &mode_, nullptr, aaa_), -1);
}

TEST_F(AdjPass, PreConfigurationServesTheFirstChannelOnly)
{
	std::vector<uint8_t> pre(sizeof(img_adj_pre_config), 0);
	ASSERT_EQ(img_adj_set_pre_config(pre.data()), 0);
	bring_up();
	EXPECT_EQ(img_adj_pre_config_flag(), 0) << "consumed by the first channel";
	std::vector<uint32_t> first = rec_.ids_sent(0);
	EXPECT_NE(std::find(first.begin(), first.end(), 9u), first.end());
	std::vector<uint32_t> second = rec_.ids_sent(1);
	EXPECT_EQ(std::find(second.begin(), second.end(), 9u), second.end());
	uint64_t addr;
	memcpy(&addr, img_adj_filter_block(0, IMG_ADJ_CC), 8);
	EXPECT_EQ(addr, (uint64_t)(uintptr_t)cc_table_of(0, IMG_ADJ_CC_WORK));
}

TEST_F(AdjPass, ModeSetterAndBlockGetterRefuseWhatTheStoreCannotServe)
{
	info_[1].tuning_key = 2;
	bring_up();
	struct Bad {
		int8_t mode;
		int32_t id, chan;
		const char *message;
	};
	const Bad bad[] = {
	    {0, 10, 2, "error: illegal channel id [2].\n"},
	    {0, 10, -1, "error: illegal channel id [-1].\n"},
	    {0, 46, 1, "error: invalid filter id 46.\n"},
	    {0, -1, 0, "error: invalid filter id -1.\n"},
	    {3, 10, 0, "error: invalid mode 3, should be in range [-1, 2]\n"},
	    {-2, 10, 0, "error: invalid mode -2, should be in range [-1, 2]\n"},
	};
	for (const Bad &b : bad) {
		CaptureStdout();
		EXPECT_EQ(img_adj_set_filter_mode(b.mode, b.id, b.chan), -1);
		EXPECT_EQ(GetCapturedStdout(), b.message);
	}
	EXPECT_EQ(img_adj_bank_container(0, 0, 10)->mode, 0);
	EXPECT_EQ(img_adj_set_filter_mode(-1, 10, 0), 0);
	EXPECT_EQ(img_adj_bank_container(0, 0, 10)->mode, -1);

	std::vector<uint8_t> out(1600, 0xee);
	CaptureStdout();
	EXPECT_EQ(img_adj_get_filter_block(nullptr, 4, 3, 0), -1);
	EXPECT_EQ(img_adj_get_filter_block(out.data(), 4, 49, 0), -1);
	EXPECT_EQ(img_adj_get_filter_block(out.data(), 4, 3, 2), -1);
	EXPECT_EQ(img_adj_get_filter_block(out.data(), 9, 3, 0), -1);
	EXPECT_EQ(img_adj_get_filter_block(out.data(), -1, 3, 0), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: null pointer.\n"
	                               "error: invalid filter id 49.\n"
	                               "error: illegal channel id [2].\n"
	                               "error: invalid size 9 of filter 3, at most 8.\n"
	                               "error: invalid size -1 of filter 3, at most 8.\n");
	EXPECT_EQ(out[0], 0xee);

	rec_.clear();
	memset(img_adj_filter_block(1, 45), 0x42, 606);
	ASSERT_EQ(img_adj_get_filter_block(out.data(), 606, 45, 1), 0);
	EXPECT_EQ(rec_.translated, (std::vector<std::pair<int, uint32_t>>{{1, 45}})) << "translated afresh";
	EXPECT_EQ(out[605], 0x42);
	EXPECT_EQ(out[606], 0xee);
	ASSERT_EQ(img_adj_get_filter_block(out.data(), 1536, IMG_ADJ_TONE, 1), 0);
	EXPECT_EQ(out[0], 0) << "the tone curve last sent";
}

TEST_F(AdjPass, ReloadFillsTheSpareBankUntilItIsSwappedIn)
{
	bring_up();
	Container fresh(*type_of(img_adj_container_size(13)), 0x70000 | 13, 1);
	img_adj_tuning reload[2] = {};
	reload[1][13] = fresh.bytes.data();
	reload[1][IMG_ADJ_LUMA_PROC] = tuning_[1][IMG_ADJ_LUMA_PROC].bytes.data();
	img_adj_filter_state(1, 30)->force_send = 0;
	ASSERT_EQ(img_adj_reload_containers(reload, 2), 0);
	EXPECT_EQ(img_adj_bank_container(1, 0, 13)->mode, 0) << "the active bank is untouched";
	EXPECT_EQ(img_adj_bank_container(1, 1, 13)->mode, 1);
	EXPECT_EQ(img_adj_bank_container(1, 1, 13)->id, 13u);
	EXPECT_EQ(img_adj_filter_state(1, 30)->force_send, 1u);
	img_adj_swap_container_bank();
	EXPECT_EQ(img_adj_active_bank(), 1);
	ASSERT_EQ(img_adj_set_filter_mode(2, 13, 1), 0);
	EXPECT_EQ(img_adj_bank_container(1, 1, 13)->mode, 2);
	ASSERT_EQ(img_adj_copy_container_bank(), 0);
	EXPECT_EQ(img_adj_bank_container(1, 0, 13)->mode, 2);
	EXPECT_EQ(img_adj_reload_containers(nullptr, 1), -1);
}

TEST_F(AdjPass, ColourTablesLoadActiveAndPendingBanks)
{
	bring_up();
	for (int c = 0; c < 2; c++) {
		for (int k = 0; k < 4; k++)
			EXPECT_EQ(memcmp(cc_table_of(c, k), tables_[(size_t)k].data(), IMG_ADJ_CC_TABLE_SIZE),
			          0);
		EXPECT_EQ(cc_entry(cc_table_of(c, IMG_ADJ_CC_WORK), 0) & 0x3ff, 500u) << "T4 starts as T2";
		EXPECT_EQ(
		    memcmp(img_adj_cc_container(c, 0), img_adj_cc_container(c, 1), IMG_ADJ_CC_CONTAINER_SIZE),
		    0);
	}
	uint8_t *old_t0 = cc_table_of(1, 0);
	std::vector<uint8_t> other = cc_table(33, 0x77);
	img_adj_cc_sources pending[2] = {};
	pending[1][0] = other.data();
	ASSERT_EQ(img_adj_load_pending_cc_tables(pending, 2), 0);
	EXPECT_EQ(cc_table_of(1, 0), old_t0) << "not in use before the swap";
	img_adj_swap_cc_bank();
	EXPECT_NE(cc_table_of(1, 0), old_t0);
	EXPECT_EQ(memcmp(cc_table_of(1, 0), other.data(), IMG_ADJ_CC_TABLE_SIZE), 0);
	EXPECT_EQ(img_adj_load_cc_tables(nullptr), -1);
}

} // namespace
