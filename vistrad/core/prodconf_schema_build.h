#pragma once
// Small builders for schema fields, so a schema table reads as one line per key.

#include <stddef.h>

#include "prodconf.h"

static inline struct prodconf_field prodconf_field_make(const char *key, uint32_t kind, uint32_t requirement,
                                                        size_t offset)
{
	struct prodconf_field f = {};
	f.key = key;
	f.kind = kind;
	f.requirement = requirement;
	f.offset = offset;
	return f;
}

static inline struct prodconf_field prodconf_field_i32(const char *key, uint32_t kind, uint32_t requirement,
                                                       size_t offset, int32_t def)
{
	struct prodconf_field f = prodconf_field_make(key, kind, requirement, offset);
	f.def.i32 = def;
	return f;
}

static inline struct prodconf_field prodconf_field_text(const char *key, uint32_t requirement, size_t offset,
                                                        const char *def)
{
	struct prodconf_field f = prodconf_field_make(key, PRODCONF_STRING, requirement, offset);
	f.def.p = def;
	return f;
}

static inline struct prodconf_field prodconf_field_struct(const char *key, uint32_t requirement,
                                                          size_t offset, const struct prodconf_schema *sub)
{
	struct prodconf_field f = prodconf_field_make(key, PRODCONF_STRUCT, requirement, offset);
	f.sub = sub;
	return f;
}
