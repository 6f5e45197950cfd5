/* IR-cut filter devices at paths the test chooses:
 * - the character device: one request, IRCUT_DEV_SET (0xC0044900) whose
 *   argument is the integer itself, 0 day or 1 night;
 * - the STM32 MCU driver file: one byte written per move, "1" day, "0" night.
 * Opens (with their flags) and requests are logged ("ircut_dev: ...",
 * "stm32: ..."). The character devices named in SIMSOC_IRCUT_DEV (paths
 * separated by ',') are added when the library loads. */
#ifndef SIMSOC_IRCUT_H
#define SIMSOC_IRCUT_H

#ifdef __cplusplus
extern "C" {
#endif

void simsoc_ircut_dev_add(const char *path);
void simsoc_stm32_add(const char *path);
/* The last value the device took (0 or 1), -1 before any or for an unknown path. */
int simsoc_ircut_state(const char *path);
/* Flags of the latest open, -1 before any. */
int simsoc_ircut_open_flags(const char *path);
/* Files of that device open now. */
int simsoc_ircut_open_count(const char *path);
void simsoc_ircut_remove(const char *path);

#ifdef __cplusplus
}
#endif

#endif
