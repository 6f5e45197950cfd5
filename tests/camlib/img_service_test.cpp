// The 3A service on the simulated SoC: its threads started and stopped,
// its message queue over real System V IPC (a private key per test through
// the root prefix), commands executed between frames, bad messages refused
// while the service keeps serving.
#include "ae.h"
#include "ae_fixture.h"
#include "ae_internal.h"
#include "af.h"
#include "awb_locus_fixture.h"
#include "img_aaa.h"
#include "img_hdr_params.h"
#include "img_queue.h"
#include "img_service.h"
#include "lens_drv.h"
#include "parsed_frames_fixture.h"
#include "simsoc.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::set<std::string> entries(const char *dir)
{
	std::set<std::string> out;
	DIR *d = opendir(dir);
	if (!d)
		return out;
	while (dirent *e = readdir(d))
		if (e->d_name[0] != '.')
			out.insert(e->d_name);
	closedir(d);
	return out;
}

std::vector<std::string> thread_names()
{
	std::vector<std::string> names;
	for (const std::string &t : entries("/proc/self/task")) {
		std::ifstream f("/proc/self/task/" + t + "/comm");
		std::string n;
		std::getline(f, n);
		names.push_back(n);
	}
	return names;
}

void put32(std::vector<uint8_t> &b, size_t word, uint32_t v)
{
	memcpy(b.data() + 4 * word, &v, 4);
}

// One channel on the simulated sensor, configured as a client of the
// service would: sensor record, exposure lines over the sensor's law,
// statistics tiles, channel information; then the service's prepare.
class Service : public ParsedFrames
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/img_service_test.XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		root_ = tmpl;
		ASSERT_EQ(mkdir((root_ + "/tmp").c_str(), 0755), 0);
		setenv("VISTRAD_ROOT", root_.c_str(), 1);
		AlgoOnDriver::SetUp();
		if (HasFatalFailure())
			return;
		start_on(service_board());
		if (HasFatalFailure())
			return;
		configure();
		qid_ = img_queue();
		ASSERT_GE(qid_, 0);
	}
	void TearDown() override
	{
		img_stop_aaa();
		hal_deinit_vin_tick();
		if (qid_ >= 0)
			msgctl(qid_, IPC_RMID, nullptr);
		AlgoOnDriver::TearDown();
		unlink((root_ + IMG_QUEUE_PATH).c_str());
		rmdir((root_ + "/tmp").c_str());
		rmdir(root_.c_str());
		unsetenv("VISTRAD_ROOT");
	}
	virtual simsoc_qvd_board service_board()
	{
		return board(1);
	}
	// Every channel the same: the records one after the other.
	void configure()
	{
		std::vector<uint8_t> sensor(IMG_AAA_SENSOR_SIZE * vins_);
		std::vector<uint8_t> ae(IMG_AAA_AE_CFG_SIZE * vins_);
		std::vector<uint16_t> cfg(IMG_SENSOR_CFG_WORDS * vins_);
		const uint16_t tiles[] = {12, 8,  0, 0, 160, 134, 0,   16383,           // AE tiles
		                          32, 32, 0, 0, 60,  32,  60,  32,    0, 16383, // AWB tiles
		                          12, 8,  0, 0, 160, 134, 160, 134};            // AF tiles
		AeTables t(shutter_then_agc());
		for (unsigned c = 0; c < vins_; c++) {
			put32(sensor, IMG_AAA_SENSOR_SIZE / 4 * c, kSensorDb);
			uint8_t *a = ae.data() + IMG_AAA_AE_CFG_SIZE * c;
			auto word = [a](size_t w, uint32_t v) { memcpy(a + 4 * w, &v, 4); };
			word(IMG_AE_CFG_LINE_NUM, (uint32_t)t.lines.size());
			memcpy(a + 4 * IMG_AE_CFG_LINES, t.lines.data(), t.lines.size() * sizeof(ae_line));
			word(IMG_AE_CFG_AGC_STEP, kAgcStep);
			word(IMG_AE_CFG_AGC_NUM, (uint32_t)t.gains.size());
			memcpy(a + 4 * IMG_AE_CFG_AGC, t.gains.data(), 4 * t.gains.size());
			word(IMG_AE_CFG_SHT_NUM, (uint32_t)t.shutter.size());
			memcpy(a + 4 * IMG_AE_CFG_SHT, t.shutter.data(), 4 * t.shutter.size());
			memcpy(cfg.data() + IMG_SENSOR_CFG_WORDS * c, tiles, sizeof tiles);
		}
		ASSERT_EQ(img_config_sensor_info(sensor.data()), 0);
		ASSERT_EQ(img_config_ae(ae.data()), 0);
		ASSERT_EQ(img_config_sensor_cfg(cfg.data()), 0);
		ASSERT_EQ(img_config_channel_info(fd_, info_), 0);
		CaptureStdout();
		int rc = img_service_prepare(fd_);
		std::string out = GetCapturedStdout();
		ASSERT_EQ(rc, 0) << out;
	}
	void run_clock()
	{
		simsoc_vin_set_framerate(0, 30);
	}
	int start_service()
	{
		run_clock();
		CaptureStdout();
		int rc = img_start_aaa(fd_);
		started_out_ = GetCapturedStdout();
		return rc;
	}
	// A command's message as it lies on the queue.
	struct Msg {
		long type;
		int32_t id;
		std::vector<uint64_t> words;
		ssize_t len;
	};
	Msg take(long type = 0)
	{
		img_msg m;
		Msg out{0, 0, {}, -1};
		out.len = msgrcv(qid_, &m, sizeof m.text, type, IPC_NOWAIT);
		if (out.len < 0)
			return out;
		out.type = m.type;
		memcpy(&out.id, m.text, 4);
		for (size_t at = 8; at + 8 <= (size_t)out.len; at += 8) {
			uint64_t w;
			memcpy(&w, m.text + at, 8);
			out.words.push_back(w);
		}
		return out;
	}
	uint32_t queued()
	{
		msqid_ds ds;
		EXPECT_EQ(msgctl(qid_, IPC_STAT, &ds), 0);
		return (uint32_t)ds.msg_qnum;
	}
	uint16_t target_ratio()
	{
		uint16_t r[AE_MAX_INSTANCES] = {0};
		EXPECT_EQ(img_get_ae_target_ratio(r), 0);
		return r[0];
	}
	std::string root_;
	std::string started_out_;
	int qid_ = -1;
};

// One sensor whose two contexts feed two VINs: context 0 VIN 0, context 1
// VIN 1.
class TwoContexts : public Service
{
      protected:
	simsoc_qvd_board service_board() override
	{
		simsoc_qvd_board b = board(2);
		b.vin[1].source_id = 0;
		b.vin[1].ctx_id = 1;
		return b;
	}
	// Frames run until pred holds, at most max of them; false if it never
	// did.
	template <typename Pred> bool frames_until(Pred pred, int max = 200)
	{
		for (int i = 0; i < max; i++) {
			if (pred())
				return true;
			if (hal_wait_vin_tick() != 0)
				return false;
		}
		return pred();
	}
	static bool has(const std::string &log, const std::string &line)
	{
		return log.find(line) != std::string::npos;
	}
};

// ---- the queue while the service is stopped ----

TEST_F(Service, EntriesPutTheirMessagesOnTheQueue)
{
	const uint16_t ratio[4] = {700, 0, 0, 0};
	ASSERT_EQ(img_set_ae_target_ratio(1, ratio), 0);
	Msg m = take();
	ASSERT_EQ(m.len, IMG_QUEUE_TEXT);
	EXPECT_EQ(m.type, IMG_MSG_COMMAND);
	EXPECT_EQ(m.id, 23);
	size_t size = 0;
	const uint16_t *own = (const uint16_t *)img_service_shadow(23, 0, &size);
	ASSERT_NE(own, nullptr);
	EXPECT_EQ(m.words[0], 1u);
	EXPECT_EQ(m.words[1], (uint64_t)(uintptr_t)own);
	EXPECT_EQ(own[0], 700);

	// Values, then mask: one word a channel inline.
	const uint32_t flags[4] = {5, 0, 0, 0};
	ASSERT_EQ(img_set_service_flag(1, flags), 0);
	m = take();
	EXPECT_EQ(m.id, 112);
	EXPECT_EQ(m.words[0], 5u);
	EXPECT_EQ(m.words[1], 1u);

	const uint32_t thr[4] = {1, 2, 3, 4};
	ASSERT_EQ(img_set_hdr_threshold(thr, 0), 0);
	m = take();
	EXPECT_EQ(m.id, 131);
	EXPECT_EQ(std::vector<uint64_t>(m.words.begin(), m.words.begin() + 5),
	          (std::vector<uint64_t>{1, 2, 3, 4, 0}));

	// A mask with no bits still sends, the array as it was.
	const uint16_t other[4] = {9, 9, 9, 9};
	ASSERT_EQ(img_set_ae_target_ratio(0, other), 0);
	m = take();
	EXPECT_EQ(m.id, 23);
	EXPECT_EQ(m.words[0], 0u);
	EXPECT_EQ(own[0], 700);

	// NULL sends nothing.
	EXPECT_EQ(img_set_ae_target_ratio(1, nullptr), -1);
	EXPECT_EQ(img_set_hdr_threshold(nullptr, 0), -1);
	const uint8_t skips[4] = {1, 1, 1, 1};
	EXPECT_EQ(img_set_ae_frame_skip(1, skips, nullptr), -1);
	EXPECT_EQ(queued(), 0u);
}

TEST_F(Service, AFullQueueRefusesTheSeventeenthMessage)
{
	msqid_ds ds;
	ASSERT_EQ(msgctl(qid_, IPC_STAT, &ds), 0);
	ds.msg_qbytes = 16384;
	ASSERT_EQ(msgctl(qid_, IPC_SET, &ds), 0);
	for (int i = 0; i < 16; i++)
		ASSERT_EQ(img_af_nop(), 0) << i;
	testing::internal::CaptureStderr();
	errno = 0;
	EXPECT_EQ(img_af_nop(), -1);
	EXPECT_EQ(errno, EAGAIN);
	EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("snd queue: ", 0), 0u);
	EXPECT_EQ(queued(), 16u);
}

TEST_F(Service, WorkModeChangeWhileStoppedFailsAtOnce)
{
	EXPECT_EQ(img_change_work_mode(0), -1);
	EXPECT_EQ(img_change_work_mode(4), -1);
	EXPECT_EQ(queued(), 0u);
}

TEST_F(Service, AgcInfoWithoutAnswerGivesUpAfterFiveTicks)
{
	run_clock();
	ASSERT_EQ(hal_init_vin_tick(), 0);
	uint64_t before = simsoc_vin_frames(0);
	uint64_t out[2] = {7, 7};
	EXPECT_EQ(img_get_agc_info(out), -1);
	EXPECT_GE(simsoc_vin_frames(0) - before, 5u);
	EXPECT_EQ(out[0], 7u);
	Msg m = take(IMG_MSG_COMMAND);
	EXPECT_EQ(m.id, 28);
	EXPECT_EQ(img_get_agc_info(nullptr), -1);
}

// ---- lifecycle ----

TEST_F(Service, StartNamesBothThreadsAndStopReturnsToBaseline)
{
	std::set<std::string> fds = entries("/proc/self/fd");
	auto service_threads = [] {
		std::vector<std::string> names = thread_names();
		return std::count_if(names.begin(), names.end(),
		                     [](const std::string &n) { return n.rfind("img_algo.", 0) == 0; });
	};
	for (int round = 0; round < 2; round++) {
		SCOPED_TRACE(round);
		ASSERT_EQ(start_service(), 0) << started_out_;
		EXPECT_NE(started_out_.find("init 3A done\n"), std::string::npos);
		std::vector<std::string> names = thread_names();
		EXPECT_EQ(std::count(names.begin(), names.end(), "img_algo.main"), 1);
		EXPECT_EQ(std::count(names.begin(), names.end(), "img_algo.lens"), 1);
		EXPECT_EQ(simsoc_vin_open_files(0), 1);
		EXPECT_EQ(img_stop_aaa(), 0);
		EXPECT_EQ(service_threads(), 0);
		EXPECT_EQ(entries("/proc/self/fd"), fds);
		EXPECT_EQ(simsoc_vin_open_files(0), 0);
	}
	// The first exposures went as a sequence and were applied.
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ), 2u);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI), 2u);
}

TEST_F(Service, StartRefusesABadDescriptorAndAMissingTick)
{
	CaptureStdout();
	EXPECT_EQ(img_start_aaa(-1), -1);
	EXPECT_EQ(GetCapturedStdout(), "start_aaa fail!fd_qvd =-1\n");

	simsoc_inject_failure("/proc/vorsalind/vin0_idsp", SIMSOC_OP_OPEN, ENODEV, 1);
	CaptureStdout();
	testing::internal::CaptureStderr();
	EXPECT_EQ(img_start_aaa(fd_), -1);
	EXPECT_EQ(GetCapturedStdout(), "img_start_aaa---414\n");
	EXPECT_NE(testing::internal::GetCapturedStderr().find("/proc/vorsalind/vin0_idsp"),
	          std::string::npos);
	EXPECT_EQ(img_aaa_running(), 0);
	// Nothing left behind: a start now works.
	ASSERT_EQ(start_service(), 0) << started_out_;
	EXPECT_EQ(img_stop_aaa(), 0);
}

// ---- source-context calibration ----

// The probe's long exposure on context 0 must show on channel 0: as the
// driver has it, the pair is locked; crossed, it is switched once and then
// locked. Either way the 3A step runs again afterwards.
TEST_F(TwoContexts, ProbeFindsTheContextsAndLocksThem)
{
	for (bool crossed : {false, true}) {
		SCOPED_TRACE(crossed);
		simsoc_qvd_cross_contexts(0, crossed);
		for (unsigned j = 0; j < 32; j++)
			for (unsigned i = 0; i < 32; i++)
				ASSERT_EQ(simsoc_scene_set_cell(i, j, 1500, 1, 1), 0);
		uint64_t locks = simsoc_qvd_request_count(QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT);
		uint64_t switches = simsoc_qvd_request_count(QVD_IOC_VIN_SWITCH_VSRC_CTX);
		ASSERT_EQ(start_service(), 0) << started_out_;
		CaptureStdout();
		simsoc_vin_set_framerate(0, 200);
		bool locked = frames_until(
		    [&] { return simsoc_qvd_request_count(QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT) > locks; });
		uint16_t luma[AE_MAX_INSTANCES] = {0};
		bool stepping = frames_until([&] { return img_get_ae_luma(luma) == 0 && luma[0] != 0; });
		EXPECT_EQ(img_stop_aaa(), 0);
		std::string log = started_out_ + GetCapturedStdout();
		ASSERT_TRUE(locked) << log;
		// The 3A step runs after the lock: exposure is metered again.
		EXPECT_TRUE(stepping);
		EXPECT_TRUE(has(log, "loop start now\n")) << log;
		EXPECT_TRUE(has(log, "chan_0 : ")) << log;
		EXPECT_EQ(has(log, "switch vsrc context\n"), crossed) << log;
		EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SWITCH_VSRC_CTX) - switches,
		          crossed ? 1u : 0u);
		EXPECT_EQ(simsoc_qvd_contexts_crossed(0), 0);
		// The probe went to context 0 as one shutter-and-gain request.
		qvd_vin_sht_agc probe{};
		ASSERT_EQ(simsoc_qvd_last_payload(QVD_IOC_VIN_SET_SHT_AGC, &probe, sizeof probe),
		          sizeof probe);
		EXPECT_EQ(probe.source_id, 0);
		EXPECT_EQ(probe.ctx_id, 0);
		EXPECT_EQ(probe.shutter, 8000u);
		EXPECT_EQ(probe.agc, 0u);
		EXPECT_EQ(probe.mode, 2u);
	}
}

// A scene too dark to tell the contexts apart: each round says so and
// probes again; after the last the pair is left as it is, nothing is
// switched or locked, and the service goes on serving.
TEST_F(TwoContexts, TooSmallADifferenceIsTriedAgainThenLeft)
{
	for (unsigned j = 0; j < 32; j++)
		for (unsigned i = 0; i < 32; i++)
			ASSERT_EQ(simsoc_scene_set_cell(i, j, 0, 1, 1), 0);
	uint64_t probes = simsoc_qvd_request_count(QVD_IOC_VIN_SET_SHT_AGC);
	ASSERT_EQ(start_service(), 0) << started_out_;
	CaptureStdout();
	simsoc_vin_set_framerate(0, 200);
	bool all =
	    frames_until([&] { return simsoc_qvd_request_count(QVD_IOC_VIN_SET_SHT_AGC) - probes >= 8; });
	// The last probe's round.
	uint16_t luma[AE_MAX_INSTANCES] = {0};
	frames_until([&] { return img_get_ae_luma(luma) == 0 && luma[0] != 0; }, 20);
	const uint16_t ratio[4] = {321, 321, 0, 0};
	ASSERT_EQ(img_set_ae_target_ratio(3, ratio), 0);
	ASSERT_EQ(img_change_work_mode(0), 0);
	EXPECT_EQ(target_ratio(), 321);
	EXPECT_EQ(img_stop_aaa(), 0);
	std::string log = started_out_ + GetCapturedStdout();
	ASSERT_TRUE(all) << log;
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SET_SHT_AGC) - probes, 8u);
	EXPECT_TRUE(has(log, "delta_ae_y[0] is too small to calibrate vsrc_ctx, try again.\n")) << log;
	EXPECT_TRUE(has(log, "vsrc_ctx of chan_0 left as it is after 8 tries\n")) << log;
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT), 0u);
	EXPECT_EQ(simsoc_qvd_request_count(QVD_IOC_VIN_SWITCH_VSRC_CTX), 0u);
}

// ---- commands while running ----

TEST_F(Service, CommandsActBetweenFrames)
{
	ASSERT_EQ(start_service(), 0) << started_out_;
	const uint16_t ratio[4] = {512, 0, 0, 0};
	ASSERT_EQ(img_set_ae_target_ratio(1, ratio), 0);
	const uint32_t thr[4] = {100, 200, 300, 400};
	ASSERT_EQ(img_set_hdr_threshold(thr, 0), 0);
	CaptureStdout();
	ASSERT_EQ(img_change_work_mode(0), 0);
	GetCapturedStdout();
	EXPECT_EQ(target_ratio(), 512);
	uint32_t got[4] = {0};
	ASSERT_EQ(img_get_hdr_threshold(got, 0), 0);
	EXPECT_EQ(std::vector<uint32_t>(got, got + 4), std::vector<uint32_t>(thr, thr + 4));

	uint64_t info[2] = {0, 0};
	ASSERT_EQ(img_get_agc_info(info), 0);
	// The change requested takes effect at the top of the next frame,
	// before the reply's command is taken.
	EXPECT_EQ(img_work_state_current(), (uint32_t)IMG_WORK_PREVIEW);
	// No iris was set yet: no entry and the -1 of no lens call.
	EXPECT_EQ(info[1], (uint64_t)(uint32_t)-1);
	EXPECT_EQ(img_stop_aaa(), 0);
}

TEST_F(Service, AfStatusIsAnswered)
{
	ASSERT_EQ(start_service(), 0) << started_out_;
	int st = img_get_af_status(0);
	EXPECT_GE(st, 0);
	EXPECT_EQ(img_stop_aaa(), 0);
	// Stopped, nobody answers.
	EXPECT_EQ(img_get_af_status(0), -1);
}

// Each bad message gets one line and the command after it still acts.
TEST_F(Service, BadMessagesAreRefusedAndTheServiceGoesOn)
{
	ASSERT_EQ(start_service(), 0) << started_out_;
	struct bad {
		const char *name;
		long type;
		std::vector<uint8_t> text;
		const char *line;
	};
	auto command = [](int32_t id, std::vector<uint64_t> words, size_t len) {
		std::vector<uint8_t> t(len, 0);
		memcpy(t.data(), &id, 4);
		for (size_t k = 0; k < words.size() && 8 + 8 * k + 8 <= len; k++)
			memcpy(t.data() + 8 + 8 * k, &words[k], 8);
		return t;
	};
	const uint64_t stranger = (uint64_t)(uintptr_t)&root_;
	const bad table[] = {
	    {"unknown id", 1, command(77, {}, IMG_QUEUE_TEXT), "error: unknown command 77\n"},
	    {"short text", 1, command(23, {1}, 12), "error: command 23 needs 2 payload words, got 4 bytes\n"},
	    {"oversize", 1, command(23, {}, 2000),
	     "img_queue: message of type 1 longer than 1016 bytes refused\n"},
	    {"work mode 0", 2, std::vector<uint8_t>(IMG_QUEUE_TEXT, 0),
	     "error: work mode command 0 out of range 1 - 4\n"},
	    {"work mode 5", 2, command(5, {}, IMG_QUEUE_TEXT),
	     "error: work mode command 5 out of range 1 - 4\n"},
	    {"foreign array", 1, command(23, {1, stranger}, IMG_QUEUE_TEXT),
	     "error: command 23 payload is not the service's own array\n"},
	};
	uint16_t value = 100;
	for (const bad &b : table) {
		SCOPED_TRACE(b.name);
		struct {
			long type;
			uint8_t text[2000];
		} raw;
		raw.type = b.type;
		memcpy(raw.text, b.text.data(), b.text.size());
		// Captured before the message goes: the service may refuse it at
		// once.
		CaptureStdout();
		int sent = msgsnd(qid_, &raw, b.text.size(), IPC_NOWAIT);
		const uint16_t ratio[4] = {++value, 0, 0, 0};
		int set = img_set_ae_target_ratio(1, ratio);
		int changed = img_change_work_mode(0);
		fflush(stdout);
		std::string out = GetCapturedStdout();
		ASSERT_EQ(sent, 0);
		ASSERT_EQ(set, 0);
		ASSERT_EQ(changed, 0);
		EXPECT_NE(out.find(b.line), std::string::npos) << out;
		EXPECT_EQ(target_ratio(), value);
	}
	EXPECT_EQ(queued(), 0u);
	EXPECT_EQ(img_stop_aaa(), 0);
}

// The service's own frame loop closes the exposure loop on the scene
// model: from the start point it walks the lines to the target. The first
// decision raises the iris flag, and with no lens to take it the loop would
// never decide again unless the frame step cleared it.
TEST_F(Service, ClosesTheExposureLoopOnTheScene)
{
	for (unsigned j = 0; j < 32; j++)
		for (unsigned i = 0; i < 32; i++)
			ASSERT_EQ(simsoc_scene_set_cell(i, j, 300 * (0.05 + 0.95 * i / 31.0), 1, 1), 0);
	ASSERT_EQ(start_service(), 0) << started_out_;
	simsoc_vin_set_framerate(0, 200);
	uint8_t state[AE_MAX_INSTANCES] = {0};
	uint16_t luma[AE_MAX_INSTANCES] = {0};
	int frames = 0;
	CaptureStdout();
	for (; frames < 1000; frames++) {
		ASSERT_EQ(hal_wait_vin_tick(), 0);
		ASSERT_EQ(img_get_ae_state(state), 0);
		ASSERT_EQ(img_get_ae_luma(luma), 0);
		if (frames > 10 && state[0] == 1 && luma[0] >= 104 && luma[0] <= 116)
			break;
	}
	GetCapturedStdout();
	EXPECT_LT(frames, 1000) << "luma " << luma[0] << " state " << (int)state[0];
	int32_t iris, result;
	img_work_get_iris(&iris, &result);
	EXPECT_EQ(result, -1);
	EXPECT_EQ(img_stop_aaa(), 0);
	// The exposure reached the sensor and lies on the lines.
	simsoc_qvd_sensor_state st;
	ASSERT_EQ(simsoc_qvd_sensor(0, 0, &st), 0);
	bool on_shutter = st.again[0] == 0 && st.shutter[0] >= 8 && st.shutter[0] <= 1024;
	bool on_agc = st.shutter[0] == 1024 && st.again[0] <= 320;
	EXPECT_TRUE(on_shutter || on_agc) << st.shutter[0] << " rows, index " << st.again[0];
}

// White balance in the service's own frame loop on the scene model: a
// grey scene settled (stable) under 5000 K light is grey again within
// 1,000 of the loop's frames after a step to 3000 K (the white-balance
// loop's own bound at speed 164).
TEST_F(Service, WhiteBalanceFollowsAColourTemperatureStep)
{
	constexpr double kTolerance = 0.02;
	constexpr uint32_t kBound = 1000;
	const awb_tuning tuning = locus_tuning(false);
	ASSERT_EQ(img_config_awb(&tuning), 0);
	ASSERT_EQ(simsoc_scene_set_uniform(8192), 0);
	ASSERT_EQ(simsoc_scene_set_colour_temperature(5000), 0);
	ASSERT_EQ(start_service(), 0) << started_out_;
	simsoc_vin_set_framerate(0, 400);
	// How far the grey surface is from grey under this light.
	auto error = [](double kelvin) {
		double r = 1, b = 1;
		uint32_t g[3] = {0, 0, 0};
		EXPECT_EQ(simsoc_scene_illuminant(kelvin, &r, &b), 0);
		EXPECT_EQ(img_get_awb_gains(0, g), 0);
		return std::max(fabs(g[0] * r / 1024 - 1), fabs(g[2] * b / 1024 - 1));
	};
	// The loop's frames until the surface is grey (and, when asked, the
	// instance stable); -1 past twice the bound.
	auto frames_to_neutral = [&](double kelvin, bool stable) -> int64_t {
		uint32_t from = img_service_frames();
		while (img_service_frames() - from <= 2 * kBound) {
			if (error(kelvin) < kTolerance && (!stable || awb_get_instance(0)->data->stable))
				return img_service_frames() - from;
			if (hal_wait_vin_tick() != 0)
				break;
		}
		return -1;
	};
	CaptureStdout();
	while (img_service_frames() < 3)
		ASSERT_EQ(hal_wait_vin_tick(), 0);
	int64_t settled = frames_to_neutral(5000, true);
	// The speed once the first frames have set the instance's own, and
	// taken before the light changes.
	const uint8_t speed[4] = {164, 164, 164, 164};
	ASSERT_EQ(img_set_awb_speed(1, speed), 0);
	ASSERT_EQ(img_change_work_mode(0), 0);
	ASSERT_EQ(simsoc_scene_set_colour_temperature(3000), 0);
	int64_t stepped = frames_to_neutral(3000, false);
	EXPECT_EQ(img_stop_aaa(), 0);
	GetCapturedStdout();
	ASSERT_GE(settled, 0) << error(5000);
	ASSERT_GE(stepped, 0) << error(3000);
	RecordProperty("frames_to_neutral", (int)stepped);
	EXPECT_LE(stepped, kBound);
}

// A lens whose focus motor is the scene model's focus.
int focus_forward(int32_t, uint32_t steps)
{
	simsoc_scene_move_focus((int32_t)steps);
	return 0;
}

int focus_backward(int32_t, uint32_t steps)
{
	simsoc_scene_move_focus(-(int32_t)steps);
	return 0;
}

int still(uint32_t *moving)
{
	*moving = 0;
	return 0;
}

// Continuous focus through the service: the frame loop runs the focus
// instance, the lens thread moves the registered table's focus slots.
TEST_F(Service, ContinuousFocusSettlesThroughTheRegisteredLens)
{
	constexpr int32_t kBase = 400; // quarter pulses: index 0 at pulse 100
	af_lens_params p{};
	p.speed = 50;
	p.zoom = 5;
	p.min_range = 40;
	for (auto &r : p.row)
		r = af_lens_row{100, 0, 4, 10, 8, 2, 20, 100};
	af_focus_row rows[AF_ZOOM_ROWS];
	for (int i = 0; i < AF_ZOOM_ROWS; i++)
		rows[i] = af_focus_row{0, 32768, kBase, 10 * i, 0};
	ASSERT_EQ(img_set_lens_params(&p, rows), 0);
	img_lens_driver lens{};
	lens.focus_pos = focus_forward;
	lens.focus_neg = focus_backward;
	lens.focus_state = still;
	lens.zoom_state = still;
	ASSERT_EQ(img_register_lens_driver(&lens), 0);
	const int32_t limits[2] = {0, 500};
	af_set_search_limits(limits);
	const int32_t peak = 230;
	ASSERT_EQ(simsoc_scene_set_focus_curve(peak + kBase / 4 - 1, 80, 40, 200), 0);

	ASSERT_EQ(start_service(), 0) << started_out_;
	simsoc_vin_set_framerate(0, 300);
	af_status st{};
	int frames = 0;
	CaptureStdout();
	for (; frames < 3000; frames++) {
		ASSERT_EQ(hal_wait_vin_tick(), 0);
		ASSERT_EQ(af_get_status(0, &st), 0);
		if (st.state == 16)
			break;
	}
	// Read again a few frames on, away from the frame that got there.
	for (int i = 0; i < 3; i++)
		ASSERT_EQ(hal_wait_vin_tick(), 0);
	ASSERT_EQ(af_get_status(0, &st), 0);
	int32_t focus = simsoc_scene_focus();
	EXPECT_EQ(img_stop_aaa(), 0);
	std::string log = GetCapturedStdout();
	ASSERT_LT(frames, 3000) << "state " << st.state;
	EXPECT_LE(abs(st.current - peak), 2) << st.current;
	EXPECT_EQ(focus - kBase / 4 + 1, st.current);
	ASSERT_EQ(img_config_lens_driver(&lens_drv_no_lens), 0);
}

// Commands of each kind of payload, each read back through its getter once
// the main thread has run them.
TEST_F(Service, CommandsReachTheirModules)
{
	const img_ratio_limits wide = {1, 16, 256};
	ASSERT_EQ(img_init_shutter_ratio_limits(&wide, 0), 0);
	ASSERT_EQ(start_service(), 0) << started_out_;
	const uint32_t off[4] = {0, 0, 0, 0};
	const uint32_t strength[4] = {77, 0, 0, 0};
	const img_ratio_limits lim = {1, 32, 64};
	const uint32_t cfg[3] = {2, 6, 100};
	ASSERT_EQ(img_set_ae_enable(1, off), 0);
	ASSERT_EQ(img_set_filter_enable(1, off), 0);
	ASSERT_EQ(img_set_adaptive_input_b(1, strength), 0);
	ASSERT_EQ(img_set_hdr_blend_config(128, 50, 0), 0);
	ASSERT_EQ(img_set_shutter_ratio_limits(&lim, 0), 0);
	ASSERT_EQ(img_set_shutter_ratio_config(cfg, 0), 0);
	ASSERT_EQ(img_set_ce_log_enable(1, 0), 0);
	CaptureStdout();
	ASSERT_EQ(img_change_work_mode(0), 0);
	std::string out = GetCapturedStdout();

	uint32_t words[AE_MAX_INSTANCES] = {9, 9};
	ASSERT_EQ(img_get_ae_enable(words), 0);
	EXPECT_EQ(words[0], 0u);
	ASSERT_EQ(img_get_filter_enable(words), 0);
	EXPECT_EQ(words[0], 0u);
	ASSERT_EQ(img_get_adaptive_input_b(words), 0);
	EXPECT_EQ(words[0], 77u) << out;
	ASSERT_EQ(img_get_hdr_blend_config(words, 0), 0);
	EXPECT_EQ(words[0], 128u | 50u << 16) << out;
	img_ratio_limits got{};
	ASSERT_EQ(img_get_shutter_ratio_limits(&got, 0), 0);
	EXPECT_EQ(std::vector<uint32_t>({got.mode, got.min, got.max}), std::vector<uint32_t>({1, 32, 64}));
	uint32_t rc[IMG_RATIO_CONFIG_WORDS];
	ASSERT_EQ(img_get_shutter_ratio_config(rc, 0), 0);
	EXPECT_EQ(std::vector<uint32_t>(rc, rc + 3), std::vector<uint32_t>({2, 6, 100}));
	EXPECT_EQ(img_get_ce_log_enable(0), 1);
	EXPECT_EQ(img_stop_aaa(), 0);
}

// The luma weighting waits for the automatic tone curve to be off: while
// it is on, command 26 is refused with its line and changes nothing; once
// it is off the same command acts.
TEST_F(Service, WeightModeWaitsForAutoKneeOff)
{
	ASSERT_EQ(start_service(), 0) << started_out_;
	const uint8_t on[4] = {1, 0, 0, 0}, off[4] = {0, 0, 0, 0};
	const uint8_t dark[4] = {0, 0, 0, 0};
	ASSERT_EQ(img_set_auto_tone(1, on), 0);
	ASSERT_EQ(img_set_ae_weight_mode(1, dark), 0);
	CaptureStdout();
	ASSERT_EQ(img_change_work_mode(0), 0);
	fflush(stdout);
	std::string out = GetCapturedStdout();
	EXPECT_NE(out.find("disable auto knee first!\n"), std::string::npos) << out;
	EXPECT_EQ(ae_get_instance(0)->data->weight_mode, 128);

	ASSERT_EQ(img_set_auto_tone(1, off), 0);
	ASSERT_EQ(img_set_ae_weight_mode(1, dark), 0);
	CaptureStdout();
	ASSERT_EQ(img_change_work_mode(0), 0);
	fflush(stdout);
	out = GetCapturedStdout();
	EXPECT_EQ(out.find("disable auto knee first!"), std::string::npos) << out;
	EXPECT_EQ(ae_get_instance(0)->data->weight_mode, 0);
	EXPECT_EQ(img_stop_aaa(), 0);
}

// HDR off keeps the channel's HDR settings and sets neutral ones; back on
// brings them back.
TEST_F(Service, HdrSwitchSavesAndRestores)
{
	const img_ratio_limits lim = {1, 16, 256};
	ASSERT_EQ(img_init_shutter_ratio_limits(&lim, 0), 0);
	const img_hdr_blend_config blend = {64, 100};
	ASSERT_EQ(img_hdr_set_shutter_ratio(&blend, 0), 0);
	uint32_t alpha[4], pair = 0;
	ASSERT_EQ(img_get_hdr_alpha_value(alpha, 0), 0);

	ASSERT_EQ(img_service_hdr_switch(0, 0), 0);
	ASSERT_EQ(img_get_hdr_blend_config(&pair, 0), 0);
	EXPECT_EQ(pair, 16u | 100u << 16);
	img_ratio_limits now{};
	ASSERT_EQ(img_get_shutter_ratio_limits(&now, 0), 0);
	EXPECT_EQ(now.mode, 0u);
	int32_t drc[4];
	ASSERT_EQ(img_get_hdr_drc_strength(drc, 0), 0);
	EXPECT_EQ(std::vector<int32_t>(drc, drc + 4), std::vector<int32_t>(4, 0));
	// A second off changes nothing, and keeps what the first saved.
	ASSERT_EQ(img_service_hdr_switch(0, 0), 0);

	ASSERT_EQ(img_service_hdr_switch(0, 1), 0);
	ASSERT_EQ(img_get_hdr_blend_config(&pair, 0), 0);
	EXPECT_EQ(pair, 64u | 100u << 16);
	ASSERT_EQ(img_get_shutter_ratio_limits(&now, 0), 0);
	EXPECT_EQ(std::vector<uint32_t>({now.mode, now.min, now.max}), std::vector<uint32_t>({1, 16, 256}));
	uint32_t back[4];
	ASSERT_EQ(img_get_hdr_alpha_value(back, 0), 0);
	EXPECT_EQ(std::vector<uint32_t>(back, back + 4), std::vector<uint32_t>(alpha, alpha + 4));
	CaptureStdout();
	EXPECT_EQ(img_service_hdr_switch(4, 0), -1);
	EXPECT_EQ(GetCapturedStdout(), "error: illegal channel id [4].\n");
}

// The shared-memory helpers under the root prefix.
TEST_F(Service, SharedMemoryWriteAndDelete)
{
	CaptureStdout();
	void *addr = img_shm_create(64);
	std::string out = GetCapturedStdout();
	ASSERT_NE(addr, nullptr) << out;
	EXPECT_EQ(out.rfind(" shm addr = ", 0), 0u) << out;
	const char data[] = "frame";
	CaptureStdout();
	int rc = img_shm_write(addr, data, sizeof data);
	GetCapturedStdout();
	EXPECT_EQ(rc, 0);
	EXPECT_STREQ((const char *)addr, "frame");
	EXPECT_EQ(img_shm_write(addr, nullptr, 1), -1);
	CaptureStdout();
	EXPECT_EQ(img_shm_delete(addr), 0);
	EXPECT_EQ(GetCapturedStdout(), "shared mem deleted\n");
}

// Two clients at once while frames run; start and stop repeated.
TEST_F(Service, TwoClientsAndRepeatedStarts)
{
	for (int round = 0; round < 3; round++) {
		ASSERT_EQ(start_service(), 0) << started_out_;
		CaptureStdout();
		// Few enough commands that the queue (16 KiB by default) takes them.
		std::thread other([] {
			for (int i = 0; i < 5; i++) {
				const uint16_t r[4] = {(uint16_t)(600 + i), 0, 0, 0};
				img_set_ae_target_ratio(1, r);
				uint16_t got[AE_MAX_INSTANCES];
				img_get_ae_target_ratio(got);
			}
			img_change_work_mode(0);
		});
		for (int i = 0; i < 5; i++) {
			const uint32_t thr[4] = {(uint32_t)i, 1, 2, 3};
			img_set_hdr_threshold(thr, 0);
		}
		EXPECT_EQ(img_change_work_mode(0), 0);
		other.join();
		GetCapturedStdout();
		EXPECT_EQ(img_stop_aaa(), 0);
	}
}

} // namespace
