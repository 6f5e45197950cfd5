/* Test support for the image-DSP library: a simulated region, a recording
 * ioctl hook, standard-output capture and a fixture that brings it up. */
#ifndef TESTS_CAMLIB_IK_TEST_SUPPORT_H
#define TESTS_CAMLIB_IK_TEST_SUPPORT_H

#include "img_dsp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace iktest
{

/* A region below 4 GiB, as the driver maps it, with a fake physical base
 * that lies apart from the mapping so translation mistakes show. */
class SimRegion
{
      public:
	explicit SimRegion(uint32_t size);
	~SimRegion();
	SimRegion(const SimRegion &) = delete;
	SimRegion &operator=(const SimRegion &) = delete;
	uint8_t *user() const
	{
		return base_;
	}
	uint64_t user_addr() const
	{
		return (uint64_t)(uintptr_t)base_;
	}
	uint64_t phys_addr() const
	{
		return phys_;
	}
	uint32_t size() const
	{
		return size_;
	}
	uint32_t phys_of(const void *p) const
	{
		return (uint32_t)(phys_ + ((const uint8_t *)p - base_));
	}

      private:
	uint8_t *base_;
	uint32_t size_;
	uint64_t phys_;
};

/* Redirects file descriptor 1 while alive; text() ends the capture. */
class StdoutCapture
{
      public:
	StdoutCapture();
	~StdoutCapture();
	std::string text();

      private:
	int saved_ = -1;
	FILE *file_ = nullptr;
	std::string text_;
	bool done_ = false;
};

struct IoctlCall {
	int fd;
	unsigned long request;
	std::vector<uint8_t> payload;
	std::vector<uint8_t> snapshot; /* what `snapshot` copied at the call */
};

/* The ioctl hook records each call. Call i answers answers[i] when there is
 * one, else `result`; `reply` may write into the argument before the answer
 * and `snapshot` copies what the argument points at, as the driver would
 * read it at that moment. */
struct RecordingIoctl {
	static std::vector<IoctlCall> calls;
	static int result;
	static std::vector<int> answers;
	static size_t payload_size;
	static std::function<void(unsigned long, void *)> reply;
	static std::function<std::vector<uint8_t>(unsigned long, const void *)> snapshot;
	static int hook(int fd, unsigned long request, void *arg);
	static void reset();
};

void register_host_functions();

img_dsp_arch_info make_arch(std::vector<img_dsp_pipe_info> &pipes, uint32_t buf_num, uint8_t init_mode = 0);

/* Brings the library up over a simulated region sized by the library. */
class IkFixture : public ::testing::Test
{
      protected:
	void bring_up(std::vector<img_dsp_pipe_info> pipes, uint32_t buf_num = 1, uint8_t init_mode = 0);
	/* One video channel with context 0 and configuration 0 in the low-ISO
	 * layout at 1920x1080, ready to build and post; the post recorder is
	 * cleared and keeps a whole multi-channel request. */
	void bring_up_built_video();
	void TearDown() override;
	img_dsp_mode mode(uint32_t pipe, uint8_t ctx, uint8_t cfg = 0, uint32_t algo = 1) const;

	std::vector<img_dsp_pipe_info> pipes_;
	img_dsp_arch_info arch_{};
	SimRegion *region_ = nullptr;
};

} // namespace iktest

#endif

namespace iktest
{
/* True when `text` holds a message "<head><line number> <tail>", the
 * library's form "[IK][Error]func() 123 tail". */
bool has_msg(const std::string &text, const std::string &head, const std::string &tail);
} // namespace iktest
