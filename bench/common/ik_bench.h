// The image kernel brought up for a benchmark: host functions, a region
// below 4 GiB as the driver maps it, one video context, and the teardown.
#pragma once

#include <sys/mman.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "img_dsp.h"

namespace bench
{

class IkBench
{
      public:
	explicit IkBench(img_dsp_pipe_info pipe) : pipe_(pipe)
	{
		static const img_dsp_math_functions math = {exp_of, sqrt_of, pow_of, round_of};
		static const img_dsp_mem_functions mem = {malloc, free, memset, memcpy, memcmp};
		vors_img_dsp_register_math_functions(&math);
		vors_img_dsp_register_mem_functions(&mem);
		vors_img_dsp_register_ioctl(answer_zero);
		arch_.BufNum = 1;
		arch_.PipeNum = 1;
		arch_.Pipes[0] = &pipe_;
		size_ = (uint32_t)vors_img_dsp_query_arch_mem_size(&arch_);
		region_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE,
		               MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
		arch_.MemAddr = (uint64_t)(uintptr_t)region_;
		arch_.MemSize = size_;
		vors_img_dsp_set_mem_addr(arch_.MemAddr, 0xA0000000u, size_);
		vors_img_dsp_init_arch(&arch_);
		img_dsp_ctx_id cid{pipe_.Pipe, 0, {}};
		vors_img_dsp_init_ctx(0, &cid, &cid);
	}
	~IkBench()
	{
		vors_img_dsp_deinit_arch();
		munmap(region_, size_);
	}
	IkBench(const IkBench &) = delete;
	IkBench &operator=(const IkBench &) = delete;

	static img_dsp_mode mode()
	{
		img_dsp_mode m{};
		m.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
		m.BatchId = IMG_DSP_BATCH_NONE;
		return m;
	}

      private:
	static int answer_zero(int, unsigned long, void *)
	{
		return 0;
	}
	static double exp_of(double v)
	{
		return std::exp(v);
	}
	static double sqrt_of(double v)
	{
		return std::sqrt(v);
	}
	static double pow_of(double a, double b)
	{
		return std::pow(a, b);
	}
	static double round_of(double v)
	{
		return std::round(v);
	}

	img_dsp_pipe_info pipe_;
	img_dsp_arch_info arch_{};
	void *region_ = nullptr;
	uint32_t size_ = 0;
};

} // namespace bench
