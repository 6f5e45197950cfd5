/* GPIO lines in sysfs: "/sys/class/gpio/gpio<pin>/{value,direction}", or
 * "/sys/devices/virtual/gpiomap/<pin>/{value,direction}" for a pin declared
 * there. Only declared pins exist (others give ENOENT). Every write is
 * recorded in order with a monotonic stamp and logged ("gpio: <pin>
 * <attribute> <text>"); reading "value" gives the input level the test set,
 * else the last value written. */
#ifndef SIMSOC_GPIO_H
#define SIMSOC_GPIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* gpiomap non-zero: the pin lives under the gpiomap directory. */
void simsoc_gpio_add(const char *pin, int gpiomap);
void simsoc_gpio_set_input(const char *pin, int level);
/* Last level written or set; -1 for an unknown pin or none yet. */
int simsoc_gpio_level(const char *pin);
/* The writes so far, one "pin=text" or "pin:direction=text" line each, in
 * one malloc'd string. */
char *simsoc_gpio_writes(void);
/* Stamp (CLOCK_MONOTONIC, ns) of write n, 0 past the end. */
uint64_t simsoc_gpio_write_stamp(unsigned n);
void simsoc_gpio_clear_writes(void);
/* Forgets every pin. */
void simsoc_gpio_reset(void);

#ifdef __cplusplus
}
#endif

#endif
