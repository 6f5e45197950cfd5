/* ISL29033 light-sensor files at paths the test chooses, lit by a scene
 * illuminance L (lux), or by a script of values taken one per read of buf0
 * (the last one stays).
 * - direct: buf0 reads count = min(65535, L x 62 / range); buf1 reads and
 *   takes the range as text ("62", "250", "1000", "4000", starting at 62);
 *   a written range applies from the next read of buf0;
 * - MCU: buf0 reads a mantissa m and buf1 an exponent e, m x 4^e = L;
 * - buf0 alone: reads L.
 * Reads give decimal text; a seek back to 0 is accepted. Writes are logged
 * ("isl29033: range <text>"). SIMSOC_ISL29033="PATH:LUX" adds a sensor of
 * one file reading LUX when the library loads. */
#ifndef SIMSOC_ISL29033_H
#define SIMSOC_ISL29033_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* buf1 may be NULL. */
void simsoc_isl29033_add(const char *buf0, const char *buf1, int mcu);
void simsoc_isl29033_set_lux(const char *buf0, int64_t lux);
void simsoc_isl29033_script(const char *buf0, const int64_t *lux, size_t count);
/* MCU mode: buf0 and buf1 read this mantissa and exponent (negative ones
 * too) until the next lux or script. */
void simsoc_isl29033_set_mcu(const char *buf0, int64_t mantissa, int exponent);
/* The range in force (direct mode). */
int simsoc_isl29033_range(const char *buf0);
void simsoc_isl29033_remove(const char *buf0);

#ifdef __cplusplus
}
#endif

#endif
