/* A recording stand-in of the image kernel's HDR entries for the 3A
 * library's tests: linked with ik_recorder_wrap() in CMake, every call the
 * library makes to one of these entries lands here instead, with the
 * kernel's own block types. Each call is logged with its mode record, its
 * block and the table behind the block's address; the n-th call can be
 * made to fail. */
#ifndef TESTS_CAMLIB_IK_RECORDER_H
#define TESTS_CAMLIB_IK_RECORDER_H

#include "img_dsp.h"
#include "img_dsp_raw.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ikrec
{

struct Call {
	std::string name; /* the entry, e.g. "vors_img_dsp_set_amp_linearization" */
	int fd;
	img_dsp_mode mode;
	int index; /* blending or exposure index; -1 for entries without one */
	std::vector<uint8_t> block;
	std::vector<uint8_t> table; /* what the block's table address pointed at */

	template <typename T> T as() const
	{
		T v;
		memset(&v, 0, sizeof v);
		memcpy(&v, block.data(), block.size() < sizeof v ? block.size() : sizeof v);
		return v;
	}
	std::vector<uint16_t> table16() const
	{
		std::vector<uint16_t> t(table.size() / 2);
		memcpy(t.data(), table.data(), t.size() * 2);
		return t;
	}
};

/* Forgets the calls and any failure asked for. */
void reset();
const std::vector<Call> &calls();
std::vector<std::string> names();
/* Calls named `name` in the log. */
size_t count(const std::string &name);
/* The n-th call from the last reset (1-based) answers -1; 0 for none. */
void fail_nth(size_t n);
/* What vors_img_dsp_get_contrast_enhance answers with. */
img_dsp_contrast_enhance &contrast_enhance();
/* The final-sharpen coring block: its getter answers with it, its setter
 * stores into it, as the kernel's context would. */
img_dsp_sharpen_coring &sharpen_coring();

} // namespace ikrec

#endif
