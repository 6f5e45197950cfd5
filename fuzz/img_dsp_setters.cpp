// Image-kernel setters fed arbitrary parameter blocks, as the 3A library
// and tuning tools hand them over, and now and then a configuration built
// and posted from what they stored. The library runs over a simulated
// region with the recording driver hook of its tests. The input: a byte
// choosing the setter, a byte choosing the pipe (bit 0) and whether the
// configuration is built and posted afterwards (bit 7), then the block
// (cut or zero-filled to the block's size).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <type_traits>
#include <vector>

#include "ik_test_support.h"
#include "img_dsp.h"
#include "qvd_ioctl.h"

namespace
{

const int fake_fd = 5;

typedef int (*setter)(int fd, const img_dsp_mode *mode, const uint8_t *bytes, size_t size);

template <typename T>
int set_block(int (*set)(int, const img_dsp_mode *, T *), int fd, const img_dsp_mode *mode,
              const uint8_t *bytes, size_t size)
{
	std::remove_const_t<T> block;
	memset(&block, 0, sizeof block);
	memcpy(&block, bytes, size < sizeof block ? size : sizeof block);
	return set(fd, mode, &block);
}

#define SETTER(name)                                                                                         \
	[](int fd, const img_dsp_mode *mode, const uint8_t *bytes, size_t size) {                            \
		return set_block(vors_img_dsp_set_##name, fd, mode, bytes, size);                            \
	}

const setter setters[] = {
    SETTER(1st_sharpen_noise_both),
    SETTER(1st_sharpen_noise_noise),
    SETTER(1st_sharpen_noise_sharpen_fir),
    SETTER(1st_sharpen_noise_sharpen_coring),
    SETTER(1st_sharpen_noise_sharpen_min_coring_result),
    SETTER(1st_sharpen_noise_sharpen_max_coring_result),
    SETTER(1st_sharpen_noise_sharpen_coring_index_scale),
    SETTER(1st_sharpen_noise_sharpen_scale_coring),
    SETTER(final_sharpen_noise_sharpen_fir),
    SETTER(final_sharpen_noise_sharpen_coring),
    SETTER(3a_pseudo_y),
    SETTER(3a_histogram),
    SETTER(3a_early_wb_gain),
    SETTER(wb_gain),
    SETTER(tone_curve),
    SETTER(color_correction),
    SETTER(chroma_median_filter),
    SETTER(chroma_filter),
    SETTER(chroma_scale),
    SETTER(rgb_to_yuv_matrix),
    SETTER(hdr_blending_info),
    SETTER(hdr_raw_offset),
    SETTER(af_statistics_ex),
};
const size_t setter_count = sizeof setters / sizeof setters[0];

std::vector<img_dsp_pipe_info> pipes = {{0, 1, 1, 1, 0}, {1, 1, 1, 0, 0}};

img_dsp_mode mode_of(uint32_t pipe)
{
	img_dsp_mode m{};
	m.Pipe = pipe;
	m.AlgoMode = 1;
	m.ContextId = 0;
	m.BatchId = IMG_DSP_BATCH_NONE;
	m.ConfigId = 0;
	return m;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	iktest::RecordingIoctl::reset();
	iktest::register_host_functions();
	static img_dsp_arch_info arch = iktest::make_arch(pipes, 1);
	int32_t size = vors_img_dsp_query_arch_mem_size(&arch);
	if (size <= 0)
		abort();
	static iktest::SimRegion region((uint32_t)size);
	arch.MemAddr = region.user_addr();
	arch.MemSize = region.size();
	vors_img_dsp_set_mem_addr(region.user_addr(), region.phys_addr(), region.size());
	if (vors_img_dsp_init_arch(&arch) != 0)
		abort();
	for (uint32_t pipe = 0; pipe < pipes.size(); pipe++) {
		img_dsp_ctx_id cid{pipe, 0, {}};
		if (vors_img_dsp_init_ctx(0, &cid, &cid) != 0)
			abort();
	}
	img_dsp_cfg_id id{0, 0, {}};
	if (vors_img_dsp_init_cfg(&id, DSP_IMG_CORE_ALGO_MODE_LISO) != 0)
		abort();
	img_dsp_mode m = mode_of(0);
	img_dsp_size_info si{};
	si.width_in = si.main_out_width = 1920;
	si.height_in = si.main_out_height = 1080;
	if (vors_img_dsp_set_size_info(&m, &si) != 0)
		abort();
	iktest::RecordingIoctl::payload_size = sizeof(qvd_multi_chan_cfg);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return -1;
	img_dsp_mode m = mode_of(data[1] & 1);
	setters[data[0] % setter_count](fake_fd, &m, data + 2, size - 2);
	// Only the video pipe has a configuration to build.
	if ((data[1] & 0x80) && m.Pipe == 0)
		vors_img_dsp_post_exe_cfg(fake_fd, &m);
	// The recording hook keeps every call; a fuzzing run makes millions.
	iktest::RecordingIoctl::calls.clear();
	return 0;
}
