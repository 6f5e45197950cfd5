/*
 * Steering of the scene the simulated sensors look at, from which the video
 * driver model makes each frame's 3A statistics (simsoc_qvd.h).
 *
 * The scene is 32 x 32 cells over every VIN's frame, each with a brightness
 * B and a reflectance colour (r/g, b/g; 1, 1 is grey), lit by one
 * illuminant. B is the green value above black, in 14-bit units, that a grey
 * cell gives at an exposure of 1,000 rows and gain index 0. A sensor pixel
 * of colour c is
 *
 *     black + B x k_c x rows / 1000 x 10^(index x 0.09375 / 20) x ratio_c / 1024
 *
 * clipped at 16383, where k_r = r/g and k_b = b/g of reflectance times
 * illuminant (k_g = 1), rows, index (analogue + digital) and the sensor's
 * digital-gain ratio are those of the source at that frame, and a flicker,
 * when set, scales B by the light integrated over the exposure.
 *
 * Cell (i, j) covers the pixels from column i x w and row j x h on, where w
 * and h are the frame's width and height / 32 rounded down to even; the
 * last column and row of cells reach to the frame's edges. Pixels are RGGB
 * quads of one cell each.
 *
 * Focus: the two focus filters of every AF tile fall from their peak as the
 * focus position leaves the curve's peak (the second filter faster), down to
 * the floor; without a curve both sit at the floor. Luma does not change.
 *
 * Frames are numbered as the driver model counts VIN 0's ticks since its
 * last reset (the number stands in every statistics header).
 */
#ifndef SIMSOC_SCENE_H
#define SIMSOC_SCENE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMSOC_SCENE_CELLS 32u
#define SIMSOC_SCENE_K_MIN 2800.0
#define SIMSOC_SCENE_K_MAX 7500.0

/* Back to the defaults: every cell grey with B 2048, a flat illuminant
 * (r/g = b/g = 1), black 0, no steps, no flicker, no focus curve, focus
 * position 0, RGB histograms filled unless the environment variable
 * SIMSOC_SCENE_RGB_HIST is "0", and the schedule of SIMSOC_SCENE_SCHEDULE
 * (both read at every reset and at the start; a schedule that does not
 * parse is reported on standard error and none is kept). */
void simsoc_scene_reset(void);
/* Scene changes at given frames, for a process steered from outside:
 *     "FRAME:ACTION[,ACTION...][;FRAME:ACTION...]"
 * with the actions uniform=B (every cell grey at B, as set_uniform),
 * highlights=SHARE@B (as set_highlights, after the entry's uniform),
 * ct=K (the illuminant, as set_colour_temperature) and step=F (every
 * brightness times F from that frame on, as step). Each entry is applied
 * once, to the first frame whose number reaches FRAME; entries may come in
 * any order. The text replaces the schedule left; an empty text clears it.
 * -1 with the reason in err (at most err_size bytes, NUL-terminated) when
 * the text does not parse, the schedule left as it was. */
int simsoc_scene_schedule(const char *text, char *err, size_t err_size);
/* Every cell grey with brightness B (B >= 0; -1 below). */
int simsoc_scene_set_uniform(double brightness);
/* A scene with highlights: round(share x 1024) cells (share 0..1) grey at
 * brightness B, the k-th of n being cell k x 1024 / n in reading order (row
 * 0 from column 0 on); the other cells keep theirs. A share of cells, not
 * of pixels: the last row and column of cells are larger. -1 for a share
 * outside 0..1 or a negative B, the scene left as it was. */
int simsoc_scene_set_highlights(double share, double brightness);
/* One cell; -1 for a cell outside the grid or a negative value. */
int simsoc_scene_set_cell(unsigned col, unsigned row, double brightness, double r_over_g, double b_over_g);
/* The illuminant of a colour temperature, 2800 to 7500 K (-1 outside); 0
 * gives the flat illuminant back. */
int simsoc_scene_set_colour_temperature(double kelvin);
/* The raw colour of a grey surface under that illuminant; -1 outside the
 * range (the outputs are left alone). */
int simsoc_scene_illuminant(double kelvin, double *r_over_g, double *b_over_g);
/* From that frame on every brightness is multiplied by factor (steps
 * accumulate). */
int simsoc_scene_step(uint64_t frame, double factor);
/* Light that swings by depth (0..1) around its mean at hz (0: none). */
int simsoc_scene_set_flicker(double hz, double depth);
/* The sensor's black level (at most 4095); the statistics headers report 0
 * as "none". */
int simsoc_scene_set_black(uint16_t level);
/* The focus curve: peak position in motor pulses, the widths of the two
 * filters' falls (> 0) and the floor both fall to. */
int simsoc_scene_set_focus_curve(int32_t peak_pulses, double width1, double width2, uint16_t floor);
void simsoc_scene_move_focus(int32_t steps);
/* With 0 the DSP leaves the histograms of its RGB statistics empty (a
 * faulty DSP); everything else stays as it was. */
void simsoc_scene_set_rgb_histograms(int on);
int32_t simsoc_scene_focus(void);

#ifdef __cplusplus
}
#endif

#endif
