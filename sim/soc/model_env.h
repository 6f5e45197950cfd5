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

#endif
