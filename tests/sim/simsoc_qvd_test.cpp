/* The video driver model "/dev/qvd": the board it answers with, its
 * image-processing buffers, the sensor state per source and context, and
 * what it keeps of every request. */
#include "qvd_ioctl.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_vin.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace
{

class QvdModel : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		simsoc_qvd_reset();
		simsoc_vin_reset();
		fd_ = open(QVD_DEVICE, O_RDWR);
		ASSERT_GE(fd_, 0);
	}
	void TearDown() override
	{
		close(fd_);
		simsoc_qvd_reset();
	}
	// -errno or 0.
	int req(unsigned long code, void *arg)
	{
		return ioctl(fd_, code, arg) < 0 ? -errno : 0;
	}
	simsoc_qvd_board two_vins()
	{
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		b.vin_count = 2;
		b.vin[1] = b.vin[0];
		b.vin[1].source_id = 3;
		b.vin[1].ctx_id = 1;
		b.vin[1].sensor_ctrl = 0;
		b.vin[1].exposures = 2;
		b.vin[1].dsp_hdr = 1;
		b.vin[1].again_max_index = 240;
		b.vin[1].dgain_max_index = 100;
		b.vin[1].line_time = 25;
		return b;
	}
	int fd_ = -1;
};

TEST_F(QvdModel, DefaultBoardDescribesOneLinearVin)
{
	qvd_system_resource res;
	memset(&res, 0, sizeof res);
	res.query = QVD_RESOURCE_GENERIC;
	ASSERT_EQ(req(QVD_IOC_GET_SYSTEM_RESOURCE, &res), 0);
	const uint8_t *b = (const uint8_t *)&res;
	EXPECT_EQ(b[1115], 1);
	EXPECT_EQ(b[1112], 255);
	EXPECT_EQ(b[128 + 144], 0x0C); // sensor_ctrl (bit 2), one exposure (bits 3-5)
	EXPECT_EQ(b[128 + 147], 0);
	uint32_t state = 7;
	ASSERT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), 0);
	EXPECT_EQ(state, 0u);
	qvd_system_info info{0, 1, 9, {}};
	ASSERT_EQ(req(QVD_IOC_QUERY_SYSTEM_INFO, &info), 0);
	EXPECT_EQ(info.answer, 0);
	qvd_vin_agc agc{};
	ASSERT_EQ(req(QVD_IOC_VIN_GET_AGC, &agc), 0);
	EXPECT_EQ(agc.again_max_index, 448u);
	EXPECT_EQ(agc.dgain_max_index, 273u);
	qvd_vin_videoinfo vi{0, QVD_VIDEOINFO_CURRENT, 0, 0, {}, 0, 0, 0};
	ASSERT_EQ(req(QVD_IOC_VIN_GET_VIDEOINFO, &vi), 0);
	EXPECT_EQ(vi.width, 1920u);
	EXPECT_EQ(vi.height, 1080u);
	// The line time counts 1/512 us: the frame's rows fill a 30 fps frame.
	qvd_vin_aaa_info aaa{};
	aaa.source_id = 0;
	ASSERT_EQ(req(QVD_IOC_VIN_GET_AAAINFO, &aaa), 0);
	EXPECT_NEAR(vi.height * aaa.line_time / 512.0, 1e6 / 30, 1000);
	qvd_video_proc vp{1, 0, {}, 0, 0, 0, 0};
	ASSERT_EQ(req(QVD_IOC_GET_VIDEO_PROC, &vp), 0);
	EXPECT_EQ(vp.main_width, 1920);
	EXPECT_EQ(vp.main_height, 1080);
}

TEST_F(QvdModel, BoardVinsAndRefusals)
{
	simsoc_qvd_board b = two_vins();
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	qvd_system_resource res;
	memset(&res, 0, sizeof res);
	res.query = QVD_RESOURCE_GENERIC;
	ASSERT_EQ(req(QVD_IOC_GET_SYSTEM_RESOURCE, &res), 0);
	EXPECT_EQ(res.vin_num, 2);
	EXPECT_EQ(res.vin[1].source_id, 3);
	EXPECT_EQ(res.vin[1].ctx_id, 1);
	EXPECT_EQ(res.vin[1].ctrl, 2 << 3);
	EXPECT_EQ(res.vin[1].hdr_flags, 2u);

	res.query = 0;
	EXPECT_EQ(req(QVD_IOC_GET_SYSTEM_RESOURCE, &res), -EINVAL);
	qvd_vin_agc agc{};
	agc.source_id = 5;
	EXPECT_EQ(req(QVD_IOC_VIN_GET_AGC, &agc), -EINVAL);
	qvd_vin_dgain_ratio r{3, 4, 0, 0, 0, 0}; // context beyond the model's four
	EXPECT_EQ(req(QVD_IOC_VIN_GET_DGAIN_RATIO, &r), -EINVAL);
	EXPECT_EQ(req(0x4008739fu, &r), -ENOTTY);
	char *log = simsoc_log_dump();
	EXPECT_NE(strstr(log, "qvd: unknown ioctl 0x4008739f"), nullptr);
	free(log);

	b.vin_count = SIMSOC_QVD_VINS + 1;
	EXPECT_EQ(simsoc_qvd_set_board(&b), -1);
}

// The sensor objects turn word 19 into their line time and take the
// exposures' longest shutters from words 20 to 22.
TEST_F(QvdModel, AaaInfoCarriesTheVinsLineTimeAndShutterLimits)
{
	simsoc_qvd_board b = two_vins();
	b.vin[1].line_time = 31 * 512;
	b.vin[1].sht_max[0] = 2200;
	b.vin[1].sht_max[1] = 130;
	b.vin[1].sht_max[2] = 7;
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	uint32_t words[38];
	memset(words, 0xee, sizeof words);
	words[0] = 3;
	ASSERT_EQ(req(QVD_IOC_VIN_GET_AAAINFO, words), 0);
	EXPECT_EQ(words[0], 3u);
	EXPECT_EQ(words[18], 0u);
	EXPECT_EQ(words[19], 31u * 512);
	EXPECT_EQ(words[20], 2200u);
	EXPECT_EQ(words[21], 130u);
	EXPECT_EQ(words[22], 7u);
	EXPECT_EQ(words[23], 0u);
}
TEST_F(QvdModel, ImgprocBuffersAreTakenOnceAndMappedAtTheirAddress)
{
	struct {
		uint32_t id;
		uint64_t size;
	} cases[] = {{QVD_IMGPROC_BUF_IK, 32ull << 20}, {QVD_IMGPROC_BUF_SBP, 8ull << 20}};
	for (const auto &c : cases) {
		qvd_imgproc_map m{c.id, 0, 0, 0};
		ASSERT_EQ(req(QVD_IOC_MAP_IMGPROC, &m), 0);
		EXPECT_EQ(m.length, c.size);
		EXPECT_GE(m.addr, SIMSOC_PHYS_BASE);
		void *p = mmap(nullptr, m.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, (off_t)m.addr);
		ASSERT_NE(p, MAP_FAILED);
		EXPECT_EQ(simsoc_mem_phys(p), m.addr);
		static_cast<uint8_t *>(p)[100] = 0x5A;
		munmap(p, m.length);

		qvd_imgproc_map again{c.id, 0, 0, 0};
		ASSERT_EQ(req(QVD_IOC_MAP_IMGPROC, &again), 0);
		EXPECT_EQ(again.addr, m.addr);
		p = mmap(nullptr, again.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, (off_t)again.addr);
		ASSERT_NE(p, MAP_FAILED);
		EXPECT_EQ(static_cast<uint8_t *>(p)[100], 0x5A);
		EXPECT_EQ(mmap(nullptr, again.length + 1, PROT_READ, MAP_SHARED, fd_, (off_t)again.addr),
		          MAP_FAILED);
		EXPECT_EQ(errno, EINVAL);
		EXPECT_EQ(simsoc_qvd_set_imgproc_size(1 << 20), c.id == QVD_IMGPROC_BUF_IK ? -1 : 0);
		munmap(p, again.length);
	}
	qvd_imgproc_map bad{9, 0, 0, 0};
	EXPECT_EQ(req(QVD_IOC_MAP_IMGPROC, &bad), -EINVAL);
	EXPECT_EQ(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd_, 0x1000), MAP_FAILED);
	EXPECT_EQ(errno, EINVAL);

	/* a new size is handed out from the same buffer: same address, same
	 * contents, never more than was taken */
	qvd_imgproc_map first{QVD_IMGPROC_BUF_IK, 0, 0, 0};
	ASSERT_EQ(req(QVD_IOC_MAP_IMGPROC, &first), 0);
	ASSERT_EQ(simsoc_qvd_set_imgproc_size(1 << 20), 0);
	qvd_imgproc_map small{QVD_IMGPROC_BUF_IK, 0, 0, 0};
	ASSERT_EQ(req(QVD_IOC_MAP_IMGPROC, &small), 0);
	EXPECT_EQ(small.length, 1u << 20);
	EXPECT_EQ(small.addr, first.addr);
	void *p = mmap(nullptr, small.length, PROT_READ, MAP_SHARED, fd_, (off_t)small.addr);
	ASSERT_NE(p, MAP_FAILED);
	EXPECT_EQ(static_cast<uint8_t *>(p)[100], 0x5A);
	EXPECT_EQ(mmap(nullptr, small.length + 1, PROT_READ, MAP_SHARED, fd_, (off_t)small.addr), MAP_FAILED);
	munmap(p, small.length);
	EXPECT_EQ(simsoc_qvd_set_imgproc_size((32ull << 20) + 1), -1);
	ASSERT_EQ(simsoc_qvd_set_imgproc_size(32ull << 20), 0);
}

// n copies of the default VIN, source i feeding VIN i; n outside 1 to 4
// is taken to the nearest.
TEST_F(QvdModel, DefaultBoardOfNVinsCopiesItsVin)
{
	const struct {
		unsigned n, count;
	} cases[] = {{0, 1}, {1, 1}, {2, 2}, {4, 4}, {9, SIMSOC_QVD_VINS}};
	simsoc_qvd_board one;
	simsoc_qvd_default_board(&one);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.n);
		simsoc_qvd_board b;
		simsoc_qvd_default_board_vins(&b, c.n);
		EXPECT_EQ(b.vin_count, c.count);
		for (unsigned i = 0; i < c.count; i++) {
			simsoc_qvd_vin want;
			memcpy(&want, &one.vin[0], sizeof want);
			want.source_id = (int32_t)i;
			EXPECT_EQ(memcmp(&b.vin[i], &want, sizeof want), 0) << i;
		}
		EXPECT_EQ(b.tuning_word, one.tuning_word);
		EXPECT_EQ(b.system_info_answer, SIMSOC_QVD_ANSWER_DRIVER);
	}
}

// The system information a library asks for after mapping the image-kernel
// buffer: "set the video pipe up afresh" (1) only for a running DSP whose
// buffer no earlier library laid out; a board's own answer stands.
TEST_F(QvdModel, SystemInfoSaysWhetherARunningDspHasALayoutToKeep)
{
	auto answer = [this] {
		qvd_system_info info{0, 1, 9, {}};
		EXPECT_EQ(req(QVD_IOC_QUERY_SYSTEM_INFO, &info), 0);
		return info.answer;
	};
	auto map_ik = [this] {
		qvd_imgproc_map m{QVD_IMGPROC_BUF_IK, 0, 0, 0};
		ASSERT_EQ(req(QVD_IOC_MAP_IMGPROC, &m), 0);
		void *p = mmap(nullptr, m.length, PROT_READ, MAP_SHARED, fd_, (off_t)m.addr);
		ASSERT_NE(p, MAP_FAILED);
		munmap(p, m.length);
	};
	auto set = [](uint32_t dsp_state, uint16_t own) {
		simsoc_qvd_board b;
		simsoc_qvd_default_board(&b);
		EXPECT_EQ(b.system_info_answer, SIMSOC_QVD_ANSWER_DRIVER);
		b.dsp_state = dsp_state;
		b.system_info_answer = own;
		ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	};
	set(2, SIMSOC_QVD_ANSWER_DRIVER);
	EXPECT_EQ(answer(), 1); // nothing mapped yet
	map_ik();
	EXPECT_EQ(answer(), 1); // the asking library's own map
	set(0, SIMSOC_QVD_ANSWER_DRIVER);
	EXPECT_EQ(answer(), 0); // a stopped DSP: the library decides
	set(1, SIMSOC_QVD_ANSWER_DRIVER);
	EXPECT_EQ(answer(), 1);
	map_ik();
	EXPECT_EQ(answer(), 0); // a second library keeps the first one's layout
	set(1, 1);
	EXPECT_EQ(answer(), 1);
	set(1, SIMSOC_QVD_ANSWER_DRIVER);
	simsoc_qvd_reset();
	set(2, SIMSOC_QVD_ANSWER_DRIVER);
	EXPECT_EQ(answer(), 1); // a reset forgets the maps
}

TEST_F(QvdModel, PendingExposuresBecomeCurrentAtTheSourcesTick)
{
	simsoc_qvd_board b = two_vins();
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	qvd_vin_sht_agc_group g{};
	g.source_id = 3;
	g.ctx_id = 1;
	for (uint32_t i = 0; i < 4; i++) {
		g.shutter.value[i] = 1000 + i;
		g.again.value[i] = 10 + i;
		g.dgain.value[i] = 20 + i;
	}
	ASSERT_EQ(req(QVD_IOC_VIN_SET_PENDING_SHT_AGC, &g), 0);
	simsoc_qvd_sensor_state s;
	ASSERT_EQ(simsoc_qvd_sensor(3, 1, &s), 0);
	EXPECT_EQ(s.pending, 1u);
	EXPECT_EQ(s.shutter[0], 0u);
	simsoc_vin_tick(0); // the other VIN's source keeps waiting
	ASSERT_EQ(simsoc_qvd_sensor(3, 1, &s), 0);
	EXPECT_EQ(s.pending, 1u);
	simsoc_vin_tick(1);
	ASSERT_EQ(simsoc_qvd_sensor(3, 1, &s), 0);
	EXPECT_EQ(s.pending, 0u);
	for (uint32_t i = 0; i < 4; i++) {
		EXPECT_EQ(s.shutter[i], 1000 + i);
		EXPECT_EQ(s.again[i], 10 + i);
		EXPECT_EQ(s.dgain[i], 20 + i);
	}
	ASSERT_EQ(simsoc_qvd_sensor(3, 0, &s), 0);
	EXPECT_EQ(s.shutter[0], 0u);
	EXPECT_EQ(simsoc_qvd_sensor(4, 0, &s), -1);
}

TEST_F(QvdModel, SensorRequestsKeepTheirValues)
{
	simsoc_qvd_board b = two_vins();
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	qvd_vin_dgain_ratio r{3, 1, 0, 0, 0, 0};
	ASSERT_EQ(req(QVD_IOC_VIN_GET_DGAIN_RATIO, &r), 0);
	EXPECT_EQ(r.r + r.gr + r.gb + r.b, 4 * 1024u);
	qvd_vin_dgain_ratio set{3, 1, 2048, 1000, 1001, 512};
	ASSERT_EQ(req(QVD_IOC_VIN_SET_DGAIN_RATIO, &set), 0);
	ASSERT_EQ(req(QVD_IOC_VIN_GET_DGAIN_RATIO, &r), 0);
	EXPECT_EQ(memcmp(&r, &set, sizeof r), 0);

	struct {
		uint32_t mode, shutter, agc;
	} modes[] = {{2, 500, 40}, {1, 600, 41}, {0, 700, 42}};
	uint32_t want_sht[] = {500, 600, 600}, want_agc[] = {40, 40, 42};
	for (int i = 0; i < 3; i++) {
		qvd_vin_sht_agc s{3, 1, modes[i].shutter, modes[i].agc, modes[i].mode};
		ASSERT_EQ(req(QVD_IOC_VIN_SET_SHT_AGC, &s), 0);
		simsoc_qvd_sensor_state st;
		ASSERT_EQ(simsoc_qvd_sensor(3, 1, &st), 0);
		EXPECT_EQ(st.set_shutter, want_sht[i]);
		EXPECT_EQ(st.set_agc, want_agc[i]);
		// Written to the sensor at once.
		EXPECT_EQ(st.shutter[0], want_sht[i]);
		EXPECT_EQ(st.again[0], want_agc[i]);
	}

	qvd_vin_shutter_row row{3, 1000};
	ASSERT_EQ(req(QVD_IOC_VIN_SHUTTER2ROW, &row), 0);
	EXPECT_EQ(row.value, 40u);

	qvd_vin_reg reg{0, 0x3012, 0};
	ASSERT_EQ(req(QVD_IOC_VIN_GET_REG, &reg), 0);
	EXPECT_EQ(reg.value, 0u);
	reg.value = 0x55;
	ASSERT_EQ(req(QVD_IOC_VIN_SET_REG, &reg), 0);
	reg.value = 0;
	ASSERT_EQ(req(QVD_IOC_VIN_GET_REG, &reg), 0);
	EXPECT_EQ(reg.value, 0x55u);

	qvd_vin_aaa_comp comp{3, 1, {0x1122334455667788ull, 42}};
	ASSERT_EQ(req(QVD_IOC_VIN_AAA_COMPENSATION, &comp), 0);
	EXPECT_EQ(comp.value[0], 0x1122334455667788ull);
	EXPECT_EQ(comp.value[1], 42u);

	qvd_vin_sht_agc_group wdr{};
	wdr.source_id = 3;
	wdr.ctx_id = 1;
	for (uint32_t i = 0; i < 4; i++) {
		wdr.shutter.value[i] = 300 - i;
		wdr.again.value[i] = i;
		wdr.dgain.value[i] = 10 * i;
	}
	ASSERT_EQ(req(QVD_IOC_VIN_SET_WDR_GP, &wdr), 0);
	qvd_vin_group g{3, 1, {}, {}};
	ASSERT_EQ(req(QVD_IOC_VIN_GET_WDR_DGAIN_INDEX_GP, &g), 0);
	EXPECT_EQ(g.value[3], 30u);
	ASSERT_EQ(req(QVD_IOC_VIN_GET_WDR_SHUTTER_ROW_GP, &g), 0);
	uint64_t rows[2];
	memcpy(rows, g.value, sizeof rows);
	EXPECT_EQ(rows[0], 300u);
	EXPECT_EQ(rows[1], 299u);

	uint32_t ctx = 1, frames = 5;
	ASSERT_EQ(req(QVD_IOC_VIN_SWITCH_VSRC_CTX, &ctx), 0);
	ASSERT_EQ(req(QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT, &frames), 0);
	qvd_vin_low_light ll{3, 1};
	ASSERT_EQ(req(QVD_IOC_VIN_SET_LOW_LIGHT_MODE, &ll), 0);
	simsoc_qvd_sensor_state st;
	ASSERT_EQ(simsoc_qvd_sensor(3, 0, &st), 0);
	EXPECT_EQ(st.low_light, 1u);
	EXPECT_EQ(st.switched_ctx, 1u);
	EXPECT_EQ(st.lock_frames, 5u);
}

// A context switch crosses the pair of a source whose two VINs take that
// context, and a second one uncrosses it; a source with one VIN has no
// pair.
TEST_F(QvdModel, ContextSwitchCrossesAPair)
{
	simsoc_qvd_board b = two_vins();
	b.vin_count = 3;
	b.vin[2] = b.vin[1];
	b.vin[2].ctx_id = 2;
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	for (int want : {1, 0}) {
		uint32_t ctx = 2;
		ASSERT_EQ(req(QVD_IOC_VIN_SWITCH_VSRC_CTX, &ctx), 0);
		EXPECT_EQ(simsoc_qvd_contexts_crossed(3), want);
		EXPECT_EQ(simsoc_qvd_contexts_crossed(0), 0);
	}
	uint32_t unknown = 3;
	ASSERT_EQ(req(QVD_IOC_VIN_SWITCH_VSRC_CTX, &unknown), 0);
	EXPECT_EQ(simsoc_qvd_contexts_crossed(3), 0);
	simsoc_qvd_cross_contexts(3, 1);
	simsoc_qvd_reset();
	EXPECT_EQ(simsoc_qvd_contexts_crossed(3), 0);
}

TEST_F(QvdModel, RequestsAreCountedAndTheirPayloadsKept)
{
	uint32_t state;
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_GET_QVD_STATE), 0u);
	EXPECT_EQ(simsoc_qvd_last_payload(QVD_IOC_GET_QVD_STATE, nullptr, 0), 0u);
	ASSERT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), 0);
	qvd_vin_dgain_ratio set{0, 0, 1, 2, 3, 4};
	ASSERT_EQ(req(QVD_IOC_VIN_SET_DGAIN_RATIO, &set), 0);
	ASSERT_EQ(ioctl(fd_, QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG, 0x7ul), 0);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_GET_QVD_STATE), 1u);
	EXPECT_EQ(simsoc_qvd_request_count(0), 3u);
	qvd_vin_dgain_ratio kept;
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_SET_DGAIN_RATIO, &kept, sizeof kept), sizeof kept);
	EXPECT_EQ(memcmp(&kept, &set, sizeof kept), 0);
	unsigned long mask = 0;
	ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG, &mask, sizeof mask), sizeof mask);
	EXPECT_EQ(mask, 0x7ul);
}

TEST_F(QvdModel, FailuresByCodeCountAndKind)
{
	uint32_t state;
	simsoc_qvd_fail(QVD_IOC_GET_QVD_STATE, EIO, 2);
	EXPECT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), -EIO);
	EXPECT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), -EIO);
	EXPECT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), 0);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_GET_QVD_STATE), 3u);

	simsoc_qvd_fail(QVD_IOC_QUERY_SYSTEM_INFO, EBUSY, -1);
	qvd_system_info info{0, 1, 0, {}};
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(req(QVD_IOC_QUERY_SYSTEM_INFO, &info), -EBUSY);
	simsoc_qvd_fail(QVD_IOC_QUERY_SYSTEM_INFO, 0, 0);
	EXPECT_EQ(req(QVD_IOC_QUERY_SYSTEM_INFO, &info), 0);

	// A post failure by part kind stays a failure of that kind only.
	simsoc_qvd_fail_kind(QVD_CFG_KIND_HDR, EIO);
	qvd_multi_chan_cfg post{0, QVD_CFG_KIND_HDR, 0, 0, 0};
	EXPECT_EQ(req(QVD_IOC_IMG_SET_MULTI_CHAN_CFG, &post), -EIO);
	simsoc_qvd_fail_kind(-1, 0);
	EXPECT_EQ(req(QVD_IOC_IMG_SET_MULTI_CHAN_CFG, &post), -EFAULT); // no part at address 0
	// A failure by code covers a post request of every kind.
	simsoc_qvd_fail(QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, EBUSY, 2);
	post.kind = QVD_CFG_KIND_MAIN;
	EXPECT_EQ(req(QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, &post), -EBUSY);
	post.kind = QVD_CFG_KIND_CE;
	EXPECT_EQ(req(QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, &post), -EBUSY);
	EXPECT_EQ(req(QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, &post), -EFAULT);
	EXPECT_EQ(req(QVD_IOC_IMG_SET_MULTI_CHAN_CFG, &post), -EFAULT) << "the other code is untouched";

	simsoc_qvd_fail(QVD_IOC_GET_QVD_STATE, EIO, -1);
	simsoc_qvd_fail(0, 0, 0);
	EXPECT_EQ(req(QVD_IOC_GET_QVD_STATE, &state), 0);
}

// Two threads asking at once: counts add up and each sees its own answer.
TEST_F(QvdModel, TwoThreadsShareTheModel)
{
	simsoc_qvd_board b = two_vins();
	ASSERT_EQ(simsoc_qvd_set_board(&b), 0);
	auto worker = [this](int32_t source, int32_t ctx, uint32_t base) {
		for (uint32_t i = 0; i < 200; i++) {
			qvd_vin_dgain_ratio set{source, ctx, base + i, base, base, base};
			ASSERT_EQ(req(QVD_IOC_VIN_SET_DGAIN_RATIO, &set), 0);
			qvd_vin_dgain_ratio got{source, ctx, 0, 0, 0, 0};
			ASSERT_EQ(req(QVD_IOC_VIN_GET_DGAIN_RATIO, &got), 0);
			ASSERT_EQ(got.r, base + i);
		}
	};
	std::thread t1(worker, 0, 0, 1000), t2(worker, 3, 1, 5000);
	for (int i = 0; i < 50; i++)
		simsoc_vin_tick(i % 2);
	t1.join();
	t2.join();
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_DGAIN_RATIO), 400u);
}

// What the child sees when the environment asks for failures.
bool env_failures_seen()
{
	int fd = open(QVD_DEVICE, O_RDWR);
	uint32_t st;
	qvd_system_info info{0, 1, 0, {}};
	return ioctl(fd, QVD_IOC_GET_QVD_STATE, &st) < 0 && errno == EIO &&
	       ioctl(fd, QVD_IOC_GET_QVD_STATE, &st) == 0 &&
	       ioctl(fd, QVD_IOC_QUERY_SYSTEM_INFO, &info) < 0 && errno == EBUSY &&
	       ioctl(fd, QVD_IOC_QUERY_SYSTEM_INFO, &info) < 0 && errno == EBUSY;
}

// A preloaded process takes its failures from the environment: the child
// that runs the statement starts afresh and reads it at its first request.
TEST(QvdModelEnv, FailuresFromTheEnvironment)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	setenv("SIMSOC_QVD_FAIL", "0x80045610:EIO:1;0xc0085603:EBUSY", 1);
	EXPECT_EXIT(_exit(env_failures_seen() ? 0 : 1), testing::ExitedWithCode(0), "");
	unsetenv("SIMSOC_QVD_FAIL");
}

} // namespace
