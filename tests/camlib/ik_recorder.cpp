/* The recording image kernel (see ik_recorder.h). */
#include "ik_recorder.h"

namespace ikrec
{

static std::vector<Call> log;
static size_t fail_at;
static img_dsp_contrast_enhance ce;
static img_dsp_sharpen_coring coring;

void reset()
{
	log.clear();
	fail_at = 0;
	memset(&ce, 0, sizeof ce);
	memset(&coring, 0, sizeof coring);
}

const std::vector<Call> &calls()
{
	return log;
}

std::vector<std::string> names()
{
	std::vector<std::string> n;
	for (const Call &c : log)
		n.push_back(c.name);
	return n;
}

size_t count(const std::string &name)
{
	size_t n = 0;
	for (const Call &c : log)
		n += c.name == name;
	return n;
}

void fail_nth(size_t n)
{
	fail_at = n;
}

img_dsp_contrast_enhance &contrast_enhance()
{
	return ce;
}

img_dsp_sharpen_coring &sharpen_coring()
{
	return coring;
}

static int record(const char *name, int fd, const img_dsp_mode *mode, int index, const void *block,
                  size_t size, uint64_t table_addr = 0, size_t table_size = 0)
{
	Call c;
	c.name = name;
	c.fd = fd;
	memset(&c.mode, 0, sizeof c.mode);
	if (mode)
		c.mode = *mode;
	c.index = index;
	if (block)
		c.block.assign((const uint8_t *)block, (const uint8_t *)block + size);
	if (table_addr) {
		const uint8_t *t = (const uint8_t *)(uintptr_t)table_addr;
		c.table.assign(t, t + table_size);
	}
	log.push_back(c);
	return log.size() == fail_at ? -1 : 0;
}

} // namespace ikrec

using ikrec::record;

#define INDEXED(entry, type)                                                                                 \
	extern "C" int __wrap_##entry(int fd, const img_dsp_mode *mode, type *b, int32_t index)              \
	{                                                                                                    \
		return record(#entry, fd, mode, index, b, sizeof *b);                                        \
	}

extern "C" int __wrap_vors_img_dsp_set_static_black_level(int fd, const img_dsp_mode *mode,
                                                          img_dsp_static_black_level *b)
{
	return record("vors_img_dsp_set_static_black_level", fd, mode, -1, b, sizeof *b);
}

INDEXED(vors_img_dsp_set_hdr_alpha_calc_cfg, img_dsp_hdr_alpha_calc_cfg)
INDEXED(vors_img_dsp_set_hdr_alpha_calc_thresh, img_dsp_hdr_alpha_calc_thresh)
INDEXED(vors_img_dsp_set_hds_alpha_calc_thresh, img_dsp_hdr_alpha_calc_thresh)
INDEXED(vors_img_dsp_set_amp_linearization_blend, img_dsp_amp_linearization_blend)
INDEXED(vors_img_dsp_set_front_end_wb_gain, img_dsp_front_end_wb_gain)
INDEXED(vors_img_dsp_set_hdr_dgain_saturation_level, img_dsp_hdr_dgain_saturation_level)

extern "C" int __wrap_vors_img_dsp_set_hdr_alpha_calc_alpha(int fd, const img_dsp_mode *mode,
                                                            img_dsp_hdr_alpha_calc_alpha *b, int32_t index)
{
	return record("vors_img_dsp_set_hdr_alpha_calc_alpha", fd, mode, index, b, sizeof *b,
	              b ? b->alpha_table_addr : 0, IMG_DSP_HDR_ALPHA_TABLE_SIZE);
}

extern "C" int __wrap_vors_img_dsp_set_amp_linearization(int fd, const img_dsp_mode *mode,
                                                         img_dsp_amp_linearization *b, int32_t index)
{
	return record("vors_img_dsp_set_amp_linearization", fd, mode, index, b, sizeof *b,
	              b ? b->lut_addr : 0, IMG_DSP_AMP_LINEAR_ENTRIES * 2);
}

extern "C" int __wrap_vors_img_dsp_set_amp_linearization_hds(int fd, const img_dsp_mode *mode,
                                                             img_dsp_amp_linearization *b, int32_t index)
{
	return record("vors_img_dsp_set_amp_linearization_hds", fd, mode, index, b, sizeof *b,
	              b ? b->lut_addr : 0, IMG_DSP_AMP_LINEAR_ENTRIES * 2);
}

extern "C" int __wrap_vors_img_dsp_set_hdr_raw_offset(int fd, const img_dsp_mode *mode,
                                                      img_dsp_hdr_raw_offset *b)
{
	return record("vors_img_dsp_set_hdr_raw_offset", fd, mode, -1, b, sizeof *b);
}

extern "C" int __wrap_vors_img_dsp_set_hdr_blending_info(int fd, const img_dsp_mode *mode,
                                                         img_dsp_hdr_blending_info *b)
{
	return record("vors_img_dsp_set_hdr_blending_info", fd, mode, -1, b, sizeof *b);
}

extern "C" int __wrap_vors_img_dsp_set_hdr_video_post_proc(int fd, const img_dsp_mode *mode)
{
	return record("vors_img_dsp_set_hdr_video_post_proc", fd, mode, -1, nullptr, 0);
}

extern "C" int __wrap_vors_img_dsp_get_contrast_enhance(const img_dsp_mode *mode,
                                                        img_dsp_contrast_enhance *out)
{
	int rc = record("vors_img_dsp_get_contrast_enhance", -1, mode, -1, nullptr, 0);
	if (rc == 0 && out)
		*out = ikrec::contrast_enhance();
	return rc;
}

extern "C" int __wrap_vors_img_dsp_set_contrast_enhance(int fd, const img_dsp_mode *mode,
                                                        img_dsp_contrast_enhance *b)
{
	return record("vors_img_dsp_set_contrast_enhance", fd, mode, -1, b, sizeof *b);
}

/* The camera library's frame thread: what it sets per channel. */
#define PLAIN(entry, type)                                                                                   \
	extern "C" int __wrap_##entry(int fd, const img_dsp_mode *mode, type *b)                             \
	{                                                                                                    \
		return record(#entry, fd, mode, -1, b, sizeof *b);                                           \
	}

PLAIN(vors_img_dsp_set_wb_gain, img_dsp_wb_gain)
PLAIN(vors_img_dsp_set_tone_curve, img_dsp_tone_curve)
PLAIN(vors_img_dsp_set_chroma_scale, img_dsp_chroma_scale)
PLAIN(vors_img_dsp_set_local_exposure, img_dsp_local_exposure)
INDEXED(vors_img_dsp_set_hdr_static_black_level, img_dsp_static_black_level)

extern "C" int __wrap_vors_img_dsp_get_final_sharpen_noise_sharpen_coring(const img_dsp_mode *mode,
                                                                          img_dsp_sharpen_coring *out)
{
	int rc = record("vors_img_dsp_get_final_sharpen_noise_sharpen_coring", -1, mode, -1, nullptr, 0);
	if (rc == 0 && out)
		*out = ikrec::sharpen_coring();
	return rc;
}

extern "C" int __wrap_vors_img_dsp_set_final_sharpen_noise_sharpen_coring(int fd, const img_dsp_mode *mode,
                                                                          img_dsp_sharpen_coring *b)
{
	int rc = record("vors_img_dsp_set_final_sharpen_noise_sharpen_coring", fd, mode, -1, b, sizeof *b);
	if (rc == 0 && b)
		ikrec::sharpen_coring() = *b;
	return rc;
}

/* The table is the four planes from the first one's address on. */
extern "C" int __wrap_vors_img_dsp_set_vignette_compensation_bypass(int fd, const img_dsp_mode *mode,
                                                                    img_dsp_vignette_bypass *b)
{
	return record("vors_img_dsp_set_vignette_compensation_bypass", fd, mode, -1, b, sizeof *b,
	              b ? (uint64_t)(uintptr_t)b->p_red_gain : 0, 8712);
}
