// Settings of the device models from SIMSOC_* environment variables, so a
// test can steer a model inside a program it starts with LD_PRELOAD.
#ifndef SIMSOC_MODEL_ENV_H
#define SIMSOC_MODEL_ENV_H

#include <stdint.h>
#include <stdlib.h>

// Reads up to n comma-separated numbers (decimal or 0x hex); returns how
// many were read.
static inline int simsoc_env_numbers(const char *name, uint32_t *out, int n)
{
	const char *s = getenv(name);
	int k = 0;
	while (s && *s && k < n) {
		char *end = nullptr;
		unsigned long v = strtoul(s, &end, 0);
		if (end == s)
			break;
		out[k++] = (uint32_t)v;
		s = *end == ',' ? end + 1 : end;
	}
	return k;
}

// Reads "reg=value,reg=value,..." (decimal or 0x hex) from the variable and
// hands each pair to set, stopping at the first malformed pair.
static inline void simsoc_env_registers(const char *name, void (*set)(void *, uint16_t, uint16_t), void *data)
{
	const char *s = getenv(name);
	while (s && *s) {
		char *stop = nullptr;
		unsigned long reg = strtoul(s, &stop, 0);
		if (stop == s || *stop != '=')
			return;
		s = stop + 1;
		unsigned long value = strtoul(s, &stop, 0);
		if (stop == s)
			return;
		set(data, (uint16_t)reg, (uint16_t)value);
		s = *stop == ',' ? stop + 1 : stop;
	}
}

#endif
