/* Low-ISO configurations: initialisation, table placement, building and
 * the command queues that ride with a configuration. */
#ifndef CAMLIB_IMG_DSP_IK_LISO_H
#define CAMLIB_IMG_DSP_IK_LISO_H

#include "ik_context.h"
#include "ik_liso_layout.h"
#include "img_dsp.h"

#include <stdbool.h>

int img_dsp_core_low_iso_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode);
int img_dsp_core_low_iso_post_exe_cfg(const img_dsp_mode *mode);

/* Points the table fields of a configuration at the tables of the blocks that
 * the context's slot selectors name, advancing the selectors of the slots
 * marked in `advance`. Slots from `first` to `last` are placed. */
int ik_liso_place_tables(const img_dsp_mode *mode, img_dsp_iso_cfg *cfg, const bool advance[IK_TABLE_SLOTS],
                         unsigned first, unsigned last);

/* The working set of one post-execute run. */
typedef struct ik_liso_run {
	const img_dsp_mode *mode;
	void *ctx;
	ik_ctx_body *body;
	ik_filter_blocks *blk;
	ik_cmd_image *sec;
	uint8_t *flags;
	img_dsp_iso_cfg *cfg;
	uint8_t *own_tbl;            /* the configuration's own table block */
	const img_dsp_iso_cfg *prev; /* the configuration to compare against, NULL none */
	uint8_t *sel;
	bool upd[IK_TABLE_SLOTS];
	bool advanced;
	bool no_hdr; /* video pipe with FuncMode bit 3 */
} ik_liso_run;

static inline int ik_run_flag(const ik_liso_run *r, unsigned f)
{
	return ik_flag_test(r->flags, f);
}

/* The queues of a run (ik_liso_queues.cpp). Each returns 0 or the failing
 * lookup's result. */
int img_dsp_core_low_iso_batch_queue(ik_liso_run *r);
int img_dsp_core_low_iso_ce_part(ik_liso_run *r);
int img_dsp_core_low_iso_single_exp_hdr(ik_liso_run *r);

/* The upsampling coefficient tables of the contrast-enhancement queue. */
extern const int8_t ik_ce_upsamp_coeff[2][IK_CE_UPSAMP_COEFF_SIZE];

#endif
