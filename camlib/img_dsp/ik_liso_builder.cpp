/*
 * Low-ISO configurations: initialisation and the table placement shared with
 * the builder. Changed tables go to the next block of the context's ring so
 * that the DSP, which may still read the previous configuration, never sees
 * a table change under it.
 */
#include "ik_liso.h"

#include "ik_arch.h"
#include "ik_context.h"
#include "ik_core.h"
#include "ik_ctx.h"

#include <string.h>

namespace {

/* Where a slot's table lies in a table block and which field points at it. */
struct slot_field {
    uint32_t tbl_offset;
    uint32_t cfg_offset; /* offset of the u32 field in the configuration record */
};

#define MAIN_ADV(member) ((uint32_t)(offsetof(img_dsp_iso_cfg, main) + offsetof(ik_liso_main_advanced, member)))

const slot_field slot_fields[] = {
    /* 0 */ { IK_TBL_VIGNETTE_GAIN, MAIN_ADV(common.vignette_gain) },
    /* 1: four CA-warp tables, placed below */ { 0, 0 },
    /* 2 */ { IK_TBL_LOCAL_EXPOSURE_GAIN, MAIN_ADV(color.gain_curve_table_addr) },
    /* 3 */ { IK_TBL_CHROMA_SCALE_GAIN, MAIN_ADV(color.gain_curver_addr) },
    /* 4 */ { IK_TBL_CC_REG, MAIN_ADV(color.cc_reg) },
    /* 5 */ { IK_TBL_CC_3D, MAIN_ADV(color.cc_3d) },
    /* 6 */ { IK_TBL_CC_OUT, MAIN_ADV(color.cc_out) },
    /* 7 */ { IK_TBL_DARK_PIXEL_THRESH, MAIN_ADV(liso.dark_pixel_threshold) },
    /* 8 */ { IK_TBL_HOT_PIXEL_THRESH, MAIN_ADV(liso.hot_pixel_threshold) },
    /* 9 */ { IK_TBL_CHROMA_MEDIAN_K, MAIN_ADV(liso.chroma_median_k_table) },
    /* 10 */ { IK_TBL_SHP_FIR1, MAIN_ADV(liso.sharpen.fir1) },
    /* 11 */ { IK_TBL_SHP_FIR2, MAIN_ADV(liso.sharpen.fir2) },
    /* 12 */ { IK_TBL_SHP_CORING, MAIN_ADV(liso.sharpen.coring) },
    /* 13 */ { IK_TBL_ASF_FIR1, MAIN_ADV(liso.sharpen.fir1) },
    /* 14 */ { IK_TBL_ASF_FIR2, MAIN_ADV(liso.sharpen.fir2) },
    /* 15 */ { IK_TBL_ASF_CORING, MAIN_ADV(liso.sharpen.coring) },
    /* 16 */ { IK_TBL_VIDEO_MCTF, MAIN_ADV(flow.video_mctf) },
    /* 17 */ { IK_TBL_FINAL_SHARPEN, MAIN_ADV(flow.final_sharpen) },
    /* 18 */ { IK_TBL_MCTS_MOASF, MAIN_ADV(cliso.mcts_MoASF) },
    /* 19 */ { IK_TBL_MOTION_CC_3D, MAIN_ADV(cliso.CC_3d_motion_combine) },
    /* 20 */ { IK_TBL_MOTION_CC_OUT, MAIN_ADV(cliso.CC_out_motion_combine) },
    /* 21 */ { IK_TBL_VIDEO_MCTF_B, MAIN_ADV(cliso.video_mctfB) },
    /* 22 */ { IK_TBL_FINAL_SHARPEN_2, MAIN_ADV(cliso.final_sharpen) },
    /* 23 */ { IK_TBL_CE_QUEUE, (uint32_t)offsetof(img_dsp_iso_cfg, ce) },
};
static_assert(sizeof(slot_fields) / sizeof(slot_fields[0]) == IK_TABLE_SLOTS, "one field per slot");

void set_field(img_dsp_iso_cfg *cfg, uint32_t offset, uint32_t value)
{
    memcpy((uint8_t *)cfg + offset, &value, sizeof(value));
}

void place_slot(img_dsp_iso_cfg *cfg, unsigned slot, uint8_t *tbl)
{
    if (slot == 1) {
        ik_ca_warp_control *ca = &cfg->main.adv.common.ca_warp_control;
        ca->warp_horizontal_table_addr_red = ik_phys(tbl + IK_TBL_CA_WARP_HOR_RED);
        ca->warp_vertical_table_addr_red = ik_phys(tbl + IK_TBL_CA_WARP_VER_RED);
        ca->warp_horizontal_table_addr_blue = ik_phys(tbl + IK_TBL_CA_WARP_HOR_BLUE);
        ca->warp_vertical_table_addr_blue = ik_phys(tbl + IK_TBL_CA_WARP_VER_BLUE);
        return;
    }
    if (slot == 23)
        ik_memset(tbl + IK_TBL_CE_QUEUE, 0, IK_CE_QUEUE_SIZE);
    set_field(cfg, slot_fields[slot].cfg_offset, ik_phys(tbl + slot_fields[slot].tbl_offset));
}

} // namespace

int ik_liso_place_tables(const img_dsp_mode *mode, img_dsp_iso_cfg *cfg, const bool advance[IK_TABLE_SLOTS],
                         unsigned first, unsigned last)
{
    uint8_t *sel;
    uint32_t count;
    int rc = img_dsp_core_utility_get_config_tbl_status(mode, &sel, &count);
    if (rc != 0) {
        IK_WARN("call img_dsp_core_utility_get_config_tbl_status() fail\n");
        return rc;
    }
    if (count == 0 || count > 255)
        return -1;
    void *ctx;
    img_dsp_ctx_id cid = { mode->Pipe, mode->ContextId, { 0, 0, 0 } };
    rc = img_dsp_core_utility_get_context(&cid, &ctx);
    if (rc != 0)
        return rc;
    uint8_t select = ik_body(mode->Pipe, ctx)->blk.liso_process_select[0];
    uint8_t base = (uint8_t)(mode->ContextId * count);
    for (unsigned slot = first; slot <= last && slot < IK_TABLE_SLOTS; slot++) {
        if ((slot >= 10 && slot <= 12 && select != 1) || (slot >= 13 && slot <= 15 && select != 0))
            continue;
        /* CA-warp tables have no setter: their selector only leaves 0xFF. */
        bool adv = slot == 1 ? false : advance[slot];
        img_dsp_core_utility_step_index(adv, &sel[slot], base, (uint8_t)count);
        img_dsp_cfg_id tid = { mode->Pipe, sel[slot], { 0, 0, 0 } };
        void *tbl;
        rc = img_dsp_core_utility_get_config_tbl(&tid, &tbl);
        if (rc != 0)
            return rc;
        place_slot(cfg, slot, (uint8_t *)tbl);
    }
    return 0;
}

int img_dsp_core_low_iso_init_cfg(const img_dsp_cfg_id *id, uint32_t algo_mode)
{
    if (algo_mode != DSP_IMG_CORE_ALGO_MODE_LISO) {
        IK_ERROR("Incorrect AlgoMode %d is not LowISO\n", algo_mode);
        return -1;
    }
    uint8_t init_mode = img_dsp_core_utility_get_init_mode();
    if (init_mode == IMG_DSP_INIT_MODE_KEEP)
        return 0;
    if (init_mode != IMG_DSP_INIT_MODE_NORMAL && init_mode != IMG_DSP_INIT_MODE_NORMAL_VIDEO) {
        IK_ERROR("Unknown init_mode: %d\n", init_mode);
        return -1;
    }
    void *hdr;
    int rc = img_dsp_core_utility_get_config(id, &hdr);
    if (rc != 0)
        return rc;
    img_dsp_iso_cfg *cfg = (img_dsp_iso_cfg *)hdr;
    cfg->state = DSP_IMG_CORE_CFG_STATE_INIT;
    cfg->prev_cfg = 0;
    cfg->next_cfg = 0;
    cfg->AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
    cfg->src_cfg_id = IK_CFG_NO_SOURCE;
    cfg->update_mask = 0;
    ik_memset(cfg->main.bytes, 0, IK_LISO_ADVANCED_SIZE);
    ik_memset(&cfg->ce, 0, sizeof(cfg->ce));
    /* Table selectors exist only on the video pipe. */
    if (id->Pipe != IMG_DSP_PIPE_VIDEO)
        return 0;
    bool all[IK_TABLE_SLOTS];
    for (auto &b : all)
        b = true;
    img_dsp_mode mode;
    memset(&mode, 0, sizeof(mode));
    mode.Pipe = id->Pipe;
    mode.AlgoMode = DSP_IMG_CORE_ALGO_MODE_LISO;
    mode.ContextId = 0;
    mode.ConfigId = id->Id;
    return ik_liso_place_tables(&mode, cfg, all, 0, IK_TABLE_SLOTS - 1);
}

/* Building a low-ISO configuration from the context is not available yet:
 * refuse, so that an unbuilt configuration is never marked for posting. */
int img_dsp_core_low_iso_post_exe_cfg(const img_dsp_mode *)
{
    IK_ERROR("post execute fail\n");
    return -1;
}
