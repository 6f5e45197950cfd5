#include "ik_test_support.h"

#include "qvd_ioctl.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace iktest
{

SimRegion::SimRegion(uint32_t size) : size_(size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
	if (p == MAP_FAILED)
		abort();
	base_ = (uint8_t *)p;
	/* MAP_32BIT places the mapping in the first 2 GiB; the DSP's view lies
	 * above it and never overlaps. */
	phys_ = 0xA0000000u;
}

SimRegion::~SimRegion()
{
	munmap(base_, size_);
}

StdoutCapture::StdoutCapture()
{
	fflush(stdout);
	file_ = tmpfile();
	saved_ = dup(1);
	dup2(fileno(file_), 1);
}

std::string StdoutCapture::text()
{
	if (done_)
		return text_;
	fflush(stdout);
	dup2(saved_, 1);
	close(saved_);
	done_ = true;
	rewind(file_);
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), file_)) > 0)
		text_.append(buf, n);
	fclose(file_);
	return text_;
}

StdoutCapture::~StdoutCapture()
{
	text();
}

std::vector<IoctlCall> RecordingIoctl::calls;
int RecordingIoctl::result = 0;
std::vector<int> RecordingIoctl::answers;
size_t RecordingIoctl::payload_size = 0;
std::function<void(unsigned long, void *)> RecordingIoctl::reply;
std::function<std::vector<uint8_t>(unsigned long, const void *)> RecordingIoctl::snapshot;

int RecordingIoctl::hook(int fd, unsigned long request, void *arg)
{
	IoctlCall c{fd, request, {}, {}};
	if (arg && payload_size)
		c.payload.assign((uint8_t *)arg, (uint8_t *)arg + payload_size);
	if (snapshot)
		c.snapshot = snapshot(request, arg);
	size_t i = calls.size();
	calls.push_back(c);
	if (reply)
		reply(request, arg);
	return i < answers.size() ? answers[i] : result;
}

void RecordingIoctl::reset()
{
	calls.clear();
	result = 0;
	answers.clear();
	payload_size = 0;
	reply = nullptr;
	snapshot = nullptr;
}

static double do_exp(double v)
{
	return std::exp(v);
}
static double do_sqrt(double v)
{
	return std::sqrt(v);
}
static double do_pow(double a, double b)
{
	return std::pow(a, b);
}
static double do_round(double v)
{
	return std::round(v);
}

void register_host_functions()
{
	static const img_dsp_math_functions math = {do_exp, do_sqrt, do_pow, do_round};
	static const img_dsp_mem_functions mem = {malloc, free, memset, memcpy, memcmp};
	vors_img_dsp_register_math_functions(&math);
	vors_img_dsp_register_mem_functions(&mem);
	vors_img_dsp_register_ioctl(RecordingIoctl::hook);
	vors_img_dsp_register_sprintf(sprintf);
}

img_dsp_arch_info make_arch(std::vector<img_dsp_pipe_info> &pipes, uint32_t buf_num, uint8_t init_mode)
{
	img_dsp_arch_info a{};
	a.InitMode = init_mode;
	a.BufNum = buf_num;
	a.PipeNum = (uint32_t)pipes.size();
	for (size_t i = 0; i < pipes.size() && i < IMG_DSP_MAX_PIPES; i++)
		a.Pipes[i] = &pipes[i];
	return a;
}

void IkFixture::bring_up_built_video()
{
	bring_up({{0, 1, 1, 1, 0}}, 1, 0);
	img_dsp_ctx_id cid{0, 0, {}};
	ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
	img_dsp_cfg_id id{0, 0, {}};
	ASSERT_EQ(vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO), 0);
	img_dsp_size_info si{};
	si.width_in = si.main_out_width = 1920;
	si.height_in = si.main_out_height = 1080;
	img_dsp_mode m = mode(0, 0);
	ASSERT_EQ(vors_img_dsp_set_size_info(&m, &si), 0);
	RecordingIoctl::reset();
	RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
}

void IkFixture::bring_up(std::vector<img_dsp_pipe_info> pipes, uint32_t buf_num, uint8_t init_mode)
{
	RecordingIoctl::reset();
	register_host_functions();
	pipes_ = std::move(pipes);
	arch_ = make_arch(pipes_, buf_num, init_mode);
	int32_t size = vors_img_dsp_query_arch_mem_size(&arch_);
	ASSERT_GT(size, 0);
	region_ = new SimRegion((uint32_t)size);
	arch_.MemAddr = region_->user_addr();
	arch_.MemSize = region_->size();
	vors_img_dsp_set_mem_addr(region_->user_addr(), region_->phys_addr(), region_->size());
	ASSERT_EQ(vors_img_dsp_init_arch(&arch_), 0);
}

void IkFixture::TearDown()
{
	vors_img_dsp_deinit_arch();
	delete region_;
	region_ = nullptr;
}

img_dsp_mode IkFixture::mode(uint32_t pipe, uint8_t ctx, uint8_t cfg, uint32_t algo) const
{
	img_dsp_mode m{};
	m.Pipe = pipe;
	m.AlgoMode = algo;
	m.ContextId = ctx;
	m.BatchId = IMG_DSP_BATCH_NONE;
	m.ConfigId = cfg;
	return m;
}

} // namespace iktest

namespace iktest
{
bool has_msg(const std::string &text, const std::string &head, const std::string &tail)
{
	size_t pos = 0;
	while ((pos = text.find(head, pos)) != std::string::npos) {
		size_t p = pos + head.size();
		size_t digits = p;
		while (digits < text.size() && isdigit((unsigned char)text[digits]))
			digits++;
		if (digits > p && text.compare(digits, 1, " ") == 0 &&
		    text.compare(digits + 1, tail.size(), tail) == 0)
			return true;
		pos++;
	}
	return false;
}
} // namespace iktest
