/* A fixture of one video and one still context, both initialised, with the
 * video context's filter part at hand. */
#ifndef TESTS_CAMLIB_IK_VIDEO_STILL_FIXTURE_H
#define TESTS_CAMLIB_IK_VIDEO_STILL_FIXTURE_H

#include "ik_context.h"
#include "ik_ctx.h"
#include "ik_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace iktest
{

class IkVideoStill : public IkFixture
{
      protected:
	void SetUp() override
	{
		bring_up({{0, 1, 1, 1, 0}, {1, 1, 0, 0, 0}});
		for (uint32_t pipe = 0; pipe < 2; pipe++) {
			img_dsp_ctx_id cid{pipe, 0, {}};
			ASSERT_EQ(vors_img_dsp_init_ctx(0, &cid, &cid), 0);
		}
		m_ = mode(0, 0);
		img_dsp_ctx_id cid{0, 0, {}};
		ASSERT_EQ(img_dsp_core_utility_get_context(&cid, &ctx_), 0);
		body_ = ik_body(0, ctx_);
		memset(body_->update_flags, 0, IK_UPDATE_FLAG_BYTES);
	}
	bool flag(unsigned f) const
	{
		return ik_flag_test(body_->update_flags, f) != 0;
	}
	img_dsp_mode m_{};
	void *ctx_ = nullptr;
	ik_ctx_body *body_ = nullptr;
};

} // namespace iktest

#endif
