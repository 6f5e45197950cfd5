/*
 * Steering of the video driver model "/dev/qvd": the board it describes, the
 * sensor state it keeps per video source and context, the requests it was
 * asked, the configuration posts it took, and failures to inject.
 *
 * Every request is logged, counted and its payload as sent kept, whether it
 * succeeds or not; an unknown code fails with ENOTTY. A request naming a
 * video source that no VIN of the board has fails with EINVAL. Pending
 * shutter and gain values become current at the next tick of the source's
 * VIN (simsoc_vin_tick). A preloaded process takes failures from
 * SIMSOC_QVD_FAIL="code:errno[:count][;...]" (code in hex, errno a number or
 * a name such as EIO; without a count, until cleared).
 */
#ifndef SIMSOC_QVD_H_STEER
#define SIMSOC_QVD_H_STEER

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_QVD_PART_MAX 1024u
#define SIMSOC_QVD_QUEUE_MAX 1280u

/* One accepted configuration post with copies of what it pointed at, taken
 * when the request arrived. */
typedef struct simsoc_qvd_post_rec {
	unsigned long request;
	uint32_t ctx_id;
	uint32_t kind; /* 2 contrast enhancement, 1 HDR, 0 main part */
	uint64_t addr;
	uint32_t update_mask;
	uint32_t part_size;
	uint8_t part[SIMSOC_QVD_PART_MAX];
	/* the part's command queues: contrast enhancement (kind 2), the two HDR
	 * queues (kind 1), the 3A batch queue (kind 0) */
	uint32_t queue_phys[2];
	uint32_t queue_size[2];
	uint8_t queue[2][SIMSOC_QVD_QUEUE_MAX];
} simsoc_qvd_post_rec;

/* Number of posts kept since the last clear. */
size_t simsoc_qvd_posts(void);
/* Copies post i; -1 when there is none. */
int simsoc_qvd_post(size_t i, simsoc_qvd_post_rec *out);
void simsoc_qvd_posts_clear(void);
/* Posts of this kind fail with -err until cleared (err 0 clears; kind -1
 * clears every kind). */
void simsoc_qvd_fail_kind(int kind, int err);
#define SIMSOC_QVD_VINS 4u

/* One video input of the board and the source that feeds it. */
typedef struct simsoc_qvd_vin {
	int32_t source_id;
	uint8_t ctx_id;
	uint8_t sensor_ctrl; /* the 3A drives shutter and gain */
	uint8_t exposures;   /* 1 linear */
	uint8_t dsp_hdr;     /* non-zero: the DSP combines the exposures */
	uint8_t hdr_flag;
	uint8_t follow_chan;
	uint8_t pattern; /* video-information byte 26 */
	uint8_t reserved;
	uint32_t width, height, format;
	uint16_t main_width, main_height;
	/* 3A information words */
	uint32_t hdr_kind, bayer, gain_unit, hdr_mode, hdr_type, hdr_curve;
	uint32_t again_max_index, dgain_max_index;
	uint32_t line_time;  /* shutter time units a sensor row (1/512 us) */
	uint32_t sht_max[3]; /* the longest shutter of each exposure, in rows */
} simsoc_qvd_vin;

typedef struct simsoc_qvd_board {
	uint32_t vin_count;
	simsoc_qvd_vin vin[SIMSOC_QVD_VINS];
	uint32_t vin_config, tuning_word; /* system-resource words 1116, 1120 */
	uint32_t dsp_state;               /* QVD_IOC_GET_QVD_STATE */
	/* QVD_IOC_QUERY_SYSTEM_INFO's answer, or SIMSOC_QVD_ANSWER_DRIVER (the
	 * default board's) for the driver's own: 1 while the DSP runs and its
	 * image-kernel buffer was mapped at most once since the last reset, so
	 * a library that finds the DSP running sets the video pipe up afresh
	 * unless an earlier one laid the buffer out for it to keep; else 0. */
	uint16_t system_info_answer;
} simsoc_qvd_board;

#define SIMSOC_QVD_ANSWER_DRIVER 0xFFFFu

/* One linear 1920x1080 VIN, source 0, context 0, sensor_ctrl 1, gain-index
 * maxima 448 and 273, line time 30 us (30 x 512), DSP state 0, the
 * driver's own system-information answer (SIMSOC_QVD_ANSWER_DRIVER), tuning
 * word 2 << 8 (the tuning lookup's key a is 2). */
void simsoc_qvd_default_board(simsoc_qvd_board *out);
/* The default board with n (1 to SIMSOC_QVD_VINS, clamped) copies of its
 * VIN, source i feeding VIN i. */
void simsoc_qvd_default_board_vins(simsoc_qvd_board *out, unsigned n);
/* NULL sets the default; -1 for more VINs than SIMSOC_QVD_VINS. */
int simsoc_qvd_set_board(const simsoc_qvd_board *board);
/* The board as it stands, so a steering layer can change one VIN of it. */
void simsoc_qvd_get_board(simsoc_qvd_board *out);

/* Bytes of image-processing buffer 8 (32 MiB by default). The buffer is
 * taken once and keeps its address and contents; a new size takes effect at
 * the next QVD_IOC_MAP_IMGPROC. -1 while the buffer is mapped, and once it
 * is taken, for more than it was taken with (32 MiB, or a larger size set
 * before). */
int simsoc_qvd_set_imgproc_size(uint64_t size);
/* The same for the static bad-pixel buffer 14 (8 MiB, never more; 0 sets
 * the default back). */
int simsoc_qvd_set_sbp_size(uint64_t size);

/* What the model keeps of one source and context. */
typedef struct simsoc_qvd_sensor_state {
	uint32_t shutter[4], again[4], dgain[4]; /* current */
	uint32_t pending;                        /* 1 until the next tick */
	uint32_t pending_shutter[4], pending_again[4], pending_dgain[4];
	uint32_t ratio[4];                       /* r, gr, gb, b; 1024 = 1.0 */
	uint32_t set_shutter, set_agc, set_mode; /* the shutter/gain request by mode */
	uint32_t wdr_shutter[4], wdr_again[4], wdr_dgain[4];
	uint32_t low_light;
	uint64_t aaa_comp[2];
	/* of the whole driver: the last context switch and frame lock */
	uint32_t switched_ctx, lock_frames;
} simsoc_qvd_sensor_state;

/* A source whose two contexts feed two VINs can have them crossed: each of
 * the two VINs then takes its frames with the other context's exposure, as
 * a driver that started on the wrong frame of the pair. A context switch
 * (QVD_IOC_VIN_SWITCH_VSRC_CTX with one of the pair's contexts) crosses or
 * uncrosses the pair; a reset uncrosses every source. */
void simsoc_qvd_cross_contexts(int32_t source, int crossed);
int simsoc_qvd_contexts_crossed(int32_t source);

/* -1 when no VIN has that source or the context is above 3. */
int simsoc_qvd_sensor(int32_t source, uint32_t ctx, simsoc_qvd_sensor_state *out);

/* Requests of that code so far; code 0 counts every request. */
uint64_t simsoc_qvd_request_count(unsigned long code);
/* Copies up to max bytes of the last payload of that code as sent (a plain
 * value as an unsigned long); returns its size, 0 when never asked. */
size_t simsoc_qvd_last_payload(unsigned long code, void *out, size_t max);
/* The next count requests of that code fail with -err (count < 0: until
 * cleared; err 0 clears the code; code 0 with err 0 clears every code). */
void simsoc_qvd_fail(unsigned long code, int err, int count);
/* The helmet (extension unit): the plug state and the access state that
 * QVD_IOC_VIN_GET_HELMET_STATE answers for the words 64 and 0 (both 0 at
 * reset; another word fails with EINVAL). QVD_IOC_VIN_SET_HELMET_STATE is
 * only logged (simsoc_qvd_request_count, simsoc_qvd_last_payload). */
void simsoc_qvd_set_helmet(uint32_t plug_state, uint32_t access_state);
/* Access-state reads (only those) fail with -err until cleared (err 0). */
void simsoc_qvd_fail_helmet_access(int err);
/* Board, sensor states, counts, payloads, failures and posts back to the
 * start; the image-processing buffers stay, their maps forgotten. */
void simsoc_qvd_reset(void);

/* The answer to the encode-mode capability query: the encode mode in byte 0
 * and the chroma-radius code (0-3) in bits 16-17. */
void simsoc_qvd_set_enc_mode_cap(uint8_t mode, uint8_t radius_code);

/* ---- 3A statistics ------------------------------------------------------
 *
 * Every tick of VIN 0 (simsoc_vin_tick) is a DSP frame of every VIN of the
 * board, made from the scene (simsoc_scene.h) with the exposure, gain and
 * digital-gain ratio each source has at that tick. CFA statistics and the
 * sensor's histograms come before the DSP's white balance; RGB statistics
 * after the white balance of the context's last configuration that was
 * posted and then applied (QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG; it takes
 * effect at the next frame; unity before). No sensor histogram is made.
 *
 * QVD_IOC_IMG_GET_STATISTICS hands over a frame not handed over before at
 * once, else waits for the next tick of VIN 0 (EAGAIN on a non-blocking
 * file); QVD_IOC_IMG_GET_LATEST_STATISTICS the last frame, waiting only for
 * the first; QVD_IOC_WAIT_NEXT_IDSP_FRAME returns at the next tick of a VIN
 * of its mask (mask 0: any VIN). While no video runs (simsoc_video.h), a
 * blocking wait fails with ETIMEDOUT after two seconds. The statistics are cut into slice columns by VIN
 * width (one up to 1920 pixels, two up to 3840, else three). */

/* Every statistics request hands over the last frame again at once. */
void simsoc_qvd_replay(int on);
/* Makes the statistics of the last tick now, as the first request after it
 * would (nothing before the first tick): a benchmark keeps the stand-in's
 * work out of what it times. */
void simsoc_qvd_make_frame(void);
/* Statistics requests waiting for a frame now. */
int simsoc_qvd_stat_waiting(void);
/* Statistics handed over since the last reset (every request counts). */
uint64_t simsoc_qvd_stat_handed(void);
/* The front-end white balance {r, g, b} (4096 = 1.0) of the long (0) and
 * short (1) exposure that a merging VIN's statistics were last made with;
 * -1 for a VIN past the model's. */
int simsoc_qvd_merged_gains(unsigned vin, uint32_t out[2][3]);
/* Slice columns of every VIN's statistics, 1 to 3; 0 by VIN width. */
int simsoc_qvd_set_stat_slices(unsigned columns);

#ifdef __cplusplus
}
#endif

#endif
