/* The camera library's frame thread "cus_main_loop": per frame it fetches
 * and parses the 3A statistics, runs white balance, HDR and the filter
 * pipeline, applies what callers left pending and posts the channels'
 * image-kernel configurations. Prepare fills the per-channel inputs below;
 * the thread only reads them. */
#ifndef CAMLIB_LIBCL_CL_MAIN_LOOP_H
#define CAMLIB_LIBCL_CL_MAIN_LOOP_H

#include <stdint.h>

#include "cl_customerloop.h"
#include "img_dsp.h"
#include "img_hdr_frame.h"
#include "img_lib.h"

/* What prepare leaves for the frame thread, one entry a channel: the 3A
 * configuration blocks (white balance reads its part of each, the initial
 * exposure comes from the sensor record), the statistics tile set-up and
 * the HDR frame settings the HDR module fills. */
struct cl_frame_inputs {
	uint8_t aaa_cfg[CL_MAX_VINS][IMG_AAA_CFG_SIZE];
	img_dsp_ae_tile_cfg ae_tile[CL_MAX_VINS];
	img_dsp_awb_tile_cfg awb_tile[CL_MAX_VINS];
	img_dsp_af_tile_cfg af_tile[CL_MAX_VINS];
	img_hdr_frame_settings hdr_fs[CL_MAX_VINS];
};

cl_frame_inputs &cl_frame_inputs_get(void);

/* Posting modes of cl_post_cfg. */
#define CL_POST_ALL 0
#define CL_POST_CHANGED 1

/* Posts the channels' configurations and moves each posted channel on its
 * ring; 0, or -1 when a post or clone failed (the rest wait a frame). */
int cl_post_cfg(int fd, int mode);
/* Has the driver apply the VINs' pending configurations; 0 or -1. */
int cl_apply_pending_cfg(int fd);
/* Hands each VIN's lens-shading file to the image kernel; a failing VIN is
 * skipped. Returns 0. */
int cl_apply_lens_shading(void);

/* Waits for n IDSP frames of every VIN; results are not looked at. */
void cl_wait_idsp_frames(int fd, int n);
/* The gain at an HDR ratio (16 = 1.0) from a channel's 536-byte
 * ratio-to-gain table: 0, or -1 with a message when the table is off. */
int cl_ratio_to_gain(const uint8_t *table, uint32_t ratio, uint32_t *gain, int chan);

/* The thread's life outside the frame loop, for callers that drive frames
 * themselves (the benchmark): begin creates the white-balance instances
 * and sends the first exposures, end hands the gains on and rests the
 * statistics. */
void cl_main_loop_begin(int fd);
void cl_main_loop_end(int fd);
/* One frame; 0, or -1 when the statistics fetch or parse failed and the
 * frame was skipped. */
int cl_main_loop_frame(int fd);
/* The last frame's parse results; read them under the statistics mutex. */
const struct aaa_parse_out *cl_main_loop_parsed(void);
/* Frames parsed since the thread started. */
uint32_t cl_main_loop_frame_count(void);
/* While held, the library's start does all its work (statistics on, the
 * full post, pending settings, two IDSP frames waited, lens shading) except
 * starting the frame thread: the caller drives the frames with begin, frame
 * and end. */
void cl_main_loop_hold(int on);

#endif
