// The ucode version record and the capture header: what capturing and
// parsing both read.
#include "trelvox.h"

#include <stdio.h>
#include <string.h>

namespace
{

const char *const chip_names[] = {"(V1)", "(V1L)", "(V2)", "(V2L)", "(V3)", "(V3M)", "(V5)"};

} // namespace

uint32_t trelvox_le32(const uint8_t *p)
{
	return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

unsigned trelvox_ucode_year(const trelvox_ucode_version *v)
{
	return (unsigned)v->bytes[0] | (unsigned)v->bytes[1] << 8;
}

unsigned trelvox_ucode_month(const trelvox_ucode_version *v)
{
	return v->bytes[2];
}

unsigned trelvox_ucode_day(const trelvox_ucode_version *v)
{
	return v->bytes[3];
}

uint32_t trelvox_ucode_edition(const trelvox_ucode_version *v)
{
	return trelvox_le32(v->bytes + 4);
}

uint32_t trelvox_ucode_number(const trelvox_ucode_version *v)
{
	return trelvox_le32(v->bytes + 8);
}

uint32_t trelvox_ucode_chip(const trelvox_ucode_version *v)
{
	return trelvox_le32(v->bytes + 12);
}

const char *trelvox_chip_name(uint32_t chip, char *buf, size_t len)
{
	if (chip < sizeof chip_names / sizeof chip_names[0])
		return chip_names[chip];
	if (chip == 0xFFFF)
		return "(Unknown)";
	snprintf(buf, len, "(%d)", (int)chip);
	return buf;
}

void trelvox_make_header(const trelvox_ucode_version *v, uint8_t header[TRELVOX_HEADER_SIZE])
{
	memset(header, 0, TRELVOX_HEADER_SIZE);
	memcpy(header, "DLOG", 4);
	memcpy(header + 4, v->bytes, TRELVOX_UCODE_VERSION_SIZE);
}
