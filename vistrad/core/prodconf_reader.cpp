// The schema-driven settings reader: fills a module's settings record from
// the configuration tree, one field descriptor per key.

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "debug_output.h"
#include "prodconf.h"
#include "prodconf_tree.h"
#include "stream_map.h"

namespace
{

const double fixed_one = 16384.0;

struct read_ctx {
	prodconf *conf;
	int32_t stream_id;
	// What this read allocated, released again when the whole read fails.
	GPtrArray *allocs;
};

void track(read_ctx *ctx, void *p)
{
	if (ctx->allocs && p)
		g_ptr_array_add(ctx->allocs, p);
}

size_t element_size(uint32_t kind)
{
	switch (kind) {
	case PRODCONF_BOOL:
		return 1;
	case PRODCONF_INT:
	case PRODCONF_FIXED:
	case PRODCONF_FLOAT:
	case PRODCONF_FLOAT2:
	case PRODCONF_ENUM:
	case PRODCONF_STREAM_ID:
		return 4;
	case PRODCONF_LONG:
		return 8;
	case PRODCONF_FUNCTION:
		return sizeof(prodconf_func);
	case PRODCONF_STRING:
		return sizeof(char *);
	default:
		return 0;
	}
}

gboolean is_structure(uint32_t kind)
{
	return kind == PRODCONF_STRUCT || kind == PRODCONF_STRUCT2 || kind == PRODCONF_STRUCT_ARRAY;
}

// A text field holds an array of texts (not one text) with a count.
gboolean is_text_array(const prodconf_field *f)
{
	return f->dynamic || f->store_count;
}

gboolean same_kind(int32_t a, uint32_t b)
{
	auto fl = [](uint32_t k) { return k == PRODCONF_FLOAT || k == PRODCONF_FLOAT2; };
	return (uint32_t)a == b || (fl((uint32_t)a) && fl(b));
}

const char *key_of(const prodconf_field *f, const prodconf_node *node)
{
	if (f->key)
		return f->key;
	return node && node->key ? node->key : "(null)";
}

guint text_count(const prodconf_node *node)
{
	return node->values ? g_strv_length(node->values) : 0;
}

// Decimal to 14-fraction-bit fixed point, saturated so that no text can
// overflow the conversion.
int32_t to_fixed(double value)
{
	double scaled = (double)(float)value * fixed_one;
	if (isnan(scaled))
		return 0;
	scaled = scaled >= 0 ? floor(scaled + 0.5) : ceil(scaled - 0.5);
	if (scaled >= 2147483647.0)
		return INT32_MAX;
	if (scaled <= -2147483648.0)
		return INT32_MIN;
	return (int32_t)scaled;
}

int32_t parse_fixed(const char *text, const char **end)
{
	char *stop;
	const char *slash = strchr(text, '/');
	int32_t a = to_fixed(strtod(text, &stop));
	*end = stop;
	if (!slash)
		return a;
	int32_t b = to_fixed(strtod(slash + 1, &stop));
	*end = stop;
	if (b == 0)
		return 0;
	int64_t half = llabs((int64_t)b) / 2;
	if (a < 0)
		half = -half;
	int64_t q = ((int64_t)a * 16384 + half) / b;
	return (int32_t)CLAMP(q, (int64_t)INT32_MIN, (int64_t)INT32_MAX);
}

double parse_float(const char *text, const char **end)
{
	char *stop;
	const char *slash = strchr(text, '/');
	double a = strtod(text, &stop);
	*end = stop;
	if (!slash)
		return a;
	double b = strtod(slash + 1, &stop);
	*end = stop;
	return a / b;
}

void convert_one(prodconf *conf, const prodconf_field *f, const char *key, const char *text, void *out)
{
	const char *end;
	char *stop;
	switch (f->kind) {
	case PRODCONF_INT: {
		errno = 0;
		long whole = strtol(text, &stop, 0);
		int32_t v = (int32_t)whole;
		// Kept truncated, but a number that does not fit is no silent surprise.
		if (*stop || errno == ERANGE || whole != v)
			debug_output(DEBUG_WARNING, 0, "Key %s seems to have a messed up value: '%s' != %d",
			             key, text, v);
		if (f->has_range && (v < f->min.i32 || v > f->max.i32)) {
			debug_output(DEBUG_WARNING, 0, "Key %s has value %d, should be within [%d, %d]", key,
			             v, f->min.i32, f->max.i32);
			v = CLAMP(v, f->min.i32, f->max.i32);
		}
		memcpy(out, &v, sizeof(v));
		return;
	}
	case PRODCONF_LONG: {
		errno = 0;
		int64_t v = strtol(text, &stop, 0);
		if (*stop || errno == ERANGE)
			debug_output(DEBUG_WARNING, 0, "Key %s seems to have a messed up value: '%s' != %ld",
			             key, text, (long)v);
		if (f->has_range && (v < f->min.i64 || v > f->max.i64)) {
			debug_output(DEBUG_WARNING, 0, "Key %s has value %ld, should be within [%ld, %ld]",
			             key, (long)v, (long)f->min.i64, (long)f->max.i64);
			v = CLAMP(v, f->min.i64, f->max.i64);
		}
		memcpy(out, &v, sizeof(v));
		return;
	}
	case PRODCONF_FIXED: {
		int32_t v = parse_fixed(text, &end);
		if (*end)
			debug_output(DEBUG_WARNING, 0, "Key %s seems to have a messed up value: '%s' != %f",
			             key, text, v / fixed_one);
		if (f->has_range && (v < f->min.i32 || v > f->max.i32)) {
			debug_output(DEBUG_WARNING, 0, "Key %s has value %f, should be within [%f, %f]", key,
			             v / fixed_one, f->min.i32 / fixed_one, f->max.i32 / fixed_one);
			v = CLAMP(v, f->min.i32, f->max.i32);
		}
		memcpy(out, &v, sizeof(v));
		return;
	}
	case PRODCONF_FLOAT:
	case PRODCONF_FLOAT2: {
		float v = (float)parse_float(text, &end);
		if (*end)
			debug_output(DEBUG_WARNING, 0, "Key %s seems to have a messed up value: '%s' != %f",
			             key, text, v);
		if (f->has_range && (v < f->min.f || v > f->max.f)) {
			debug_output(DEBUG_WARNING, 0, "Key %s has value %f, should be within [%f, %f]", key,
			             v, f->min.f, f->max.f);
			v = v < f->min.f ? f->min.f : f->max.f;
		}
		memcpy(out, &v, sizeof(v));
		return;
	}
	case PRODCONF_BOOL: {
		uint8_t v = 0;
		if (!strcmp(text, "true") || !strcmp(text, "TRUE") || !strcmp(text, "1"))
			v = 1;
		else if (strcmp(text, "false") && strcmp(text, "FALSE") && strcmp(text, "0"))
			debug_output(DEBUG_ERROR, 0, "Prodconf: key %s has element %s (not bool?)", key,
			             text);
		memcpy(out, &v, 1);
		return;
	}
	case PRODCONF_ENUM: {
		intptr_t value;
		int32_t v = -1;
		if (prodconf_lookup_constant(conf, text, &value))
			v = (int32_t)value;
		else
			debug_output(DEBUG_WARNING, 0, "Value %s not found in enum_hash, setting -1", text);
		memcpy(out, &v, sizeof(v));
		return;
	}
	case PRODCONF_FUNCTION: {
		gboolean found;
		prodconf_func fn = prodconf_lookup_function(conf, text, &found);
		if (!found)
			debug_output(DEBUG_WARNING, 0, "Value %s not found in function_hash, using NULL",
			             text);
		memcpy(out, &fn, sizeof(fn));
		return;
	}
	default:
		return;
	}
}

gboolean convert_node(prodconf *conf, prodconf_node *node, const prodconf_field *f)
{
	size_t size = element_size(f->kind);
	if (is_structure(f->kind) || f->kind > PRODCONF_FUNCTION || !size) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: entry %s has unconvertable type %d", key_of(f, node),
		             (int)f->kind);
		return FALSE;
	}
	guint n = text_count(node);
	auto *buf = static_cast<char *>(g_malloc0(n * size + 1));
	for (guint i = 0; i < n; i++)
		convert_one(conf, f, key_of(f, node), prodconf_macro(conf, node->values[i]), buf + i * size);
	node->converted = buf;
	node->converted_size = n * size;
	node->converted_kind = (int32_t)f->kind;
	node->value_count = n;
	g_strfreev(node->values);
	node->values = nullptr;
	return TRUE;
}

gboolean store_elements(read_ctx *ctx, const prodconf_field *f, const prodconf_node *node, const void *src,
                        size_t n, size_t size, void *dest, uint64_t *count)
{
	if (f->dynamic) {
		void *copy = n ? g_memdup2(src, n * size) : nullptr;
		memcpy(dest, &copy, sizeof(copy));
		track(ctx, copy);
		if (count)
			*count = n;
		return TRUE;
	}
	size_t capacity = f->capacity ? f->capacity : 1;
	if (n > capacity) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: entry %s has only space for %zu elems, got %zu",
		             key_of(f, node), capacity, n);
		return FALSE;
	}
	if (n)
		memcpy(dest, src, n * size);
	if (count)
		*count = n;
	return TRUE;
}

gboolean read_stream_ids(read_ctx *ctx, prodconf_node *node, const prodconf_field *f, void *dest,
                         uint64_t *count)
{
	guint n = text_count(node);
	int32_t *ids = g_new0(int32_t, n + 1);
	for (guint i = 0; i < n; i++) {
		const char *text = prodconf_macro(ctx->conf, node->values[i]);
		intptr_t role;
		if (prodconf_lookup_constant(ctx->conf, text, &role)) {
			ids[i] = stream_map_stream_id(ctx->stream_id, (int)role);
		} else {
			if (strcmp(text, "STREAM_ID") != 0)
				debug_output(DEBUG_WARNING, 0, "Stream_id %s not recognized, using %d", text,
				             ctx->stream_id);
			ids[i] = ctx->stream_id;
		}
	}
	gboolean ok = store_elements(ctx, f, node, ids, n, sizeof(int32_t), dest, count);
	g_free(ids);
	return ok;
}

gboolean read_texts(read_ctx *ctx, prodconf_node *node, const prodconf_field *f, void *dest, uint64_t *count)
{
	guint n = text_count(node);
	if (count) {
		char **texts = g_new0(char *, n + 1);
		track(ctx, texts);
		for (guint i = 0; i < n; i++) {
			texts[i] = g_strdup(prodconf_macro(ctx->conf, node->values[i]));
			track(ctx, texts[i]);
		}
		memcpy(dest, &texts, sizeof(texts));
		*count = n;
		return TRUE;
	}
	if (n == 0)
		return FALSE;
	if (n > 1)
		debug_output(DEBUG_WARNING, 0, "Entry %s expected only one string, and got %zu",
		             key_of(f, node), (size_t)n);
	char *text = g_strdup(prodconf_macro(ctx->conf, node->values[0]));
	track(ctx, text);
	memcpy(dest, &text, sizeof(text));
	return TRUE;
}

gboolean read_entry(read_ctx *ctx, prodconf_node *node, const prodconf_field *f, void *dest, uint64_t *count)
{
	if (!node)
		return FALSE;
	if (f->requirement == PRODCONF_OBSOLETE)
		debug_output(DEBUG_WARNING, 0, "Prodconf: found obsolete entry %s", key_of(f, node));
	if (is_structure(f->kind)) {
		debug_output(DEBUG_ERROR, 0, "%s: structures not handled by this function",
		             "local_get_entry");
		return FALSE;
	}
	gboolean still_texts = node->converted_kind < 0;
	if ((f->kind == PRODCONF_STREAM_ID || f->kind == PRODCONF_STRING) && !still_texts) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: looking for entry %s with type %d, but has %d",
		             key_of(f, node), (int)f->kind, (int)node->converted_kind);
		return FALSE;
	}
	if (f->kind == PRODCONF_STREAM_ID)
		return read_stream_ids(ctx, node, f, dest, count);
	if (f->kind == PRODCONF_STRING)
		return read_texts(ctx, node, f, dest, is_text_array(f) ? count : nullptr);
	// A number given no value falls back to its default, as a text does.
	if (still_texts && text_count(node) == 0)
		return FALSE;
	if (still_texts && !convert_node(ctx->conf, node, f))
		return FALSE;
	if (!same_kind(node->converted_kind, f->kind)) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: looking for entry %s with type %d, but has %d",
		             key_of(f, node), (int)f->kind, (int)node->converted_kind);
		return FALSE;
	}
	size_t size = element_size(f->kind);
	return store_elements(ctx, f, node, node->converted, node->converted_size / size, size, dest, count);
}

gboolean store_default(read_ctx *ctx, const prodconf_field *f, void *dest, uint64_t *count)
{
	size_t size = f->kind == PRODCONF_STRUCT_ARRAY ? (f->sub ? f->sub->size : 0) : element_size(f->kind);
	if (f->kind == PRODCONF_STRING && !is_text_array(f)) {
		char *text = g_strdup(static_cast<const char *>(f->def.p));
		track(ctx, text);
		memcpy(dest, &text, sizeof(text));
		if (count)
			*count = 1;
		return TRUE;
	}
	if (f->dynamic || f->kind == PRODCONF_STRING) {
		if (!count || !size)
			return FALSE;
		size_t n = f->def.p ? f->default_count : 0;
		// Texts of a default text array stay shared with the schema.
		void *copy = n ? g_memdup2(f->def.p, n * size) : nullptr;
		track(ctx, copy);
		memcpy(dest, &copy, sizeof(copy));
		*count = n;
		return TRUE;
	}
	if (is_structure(f->kind)) {
		if (!f->sub || !f->sub->size)
			return FALSE;
		if (f->def.p)
			memcpy(dest, f->def.p, f->sub->size);
		else
			memset(dest, 0, f->sub->size);
		return TRUE;
	}
	size_t capacity = f->capacity ? f->capacity : 1;
	size_t n = f->default_count ? f->default_count : 1;
	if (n > capacity)
		n = capacity;
	if ((f->kind == PRODCONF_FLOAT || f->kind == PRODCONF_FLOAT2) && f->default_count) {
		if (!f->def.p)
			return FALSE;
		memcpy(dest, f->def.p, n * size);
	} else {
		size_t bytes = MIN(n * size, sizeof(f->def.bytes));
		memcpy(dest, f->def.bytes, bytes);
		n = bytes / size;
	}
	if (count)
		*count = n;
	return TRUE;
}

gboolean read_record(read_ctx *ctx, GList *candidates, const prodconf_schema *schema, void *dest);

const char *const confusion[] = {
    "Prodconf: confused by array setup for %s\n)",
    "          Use either DEFAULT + ARRAY with a dashed list\n",
    "          (Or only a dashed list of objects)\n",
    "          (Or one single struct)\n",
};

gboolean read_instances(read_ctx *ctx, prodconf_node *node, const prodconf_schema *schema, gboolean dynamic,
                        uint64_t capacity, void *dest, uint64_t *count)
{
	if (!schema)
		return FALSE;
	if (!node) {
		if (dynamic)
			memset(dest, 0, sizeof(void *));
		if (count)
			*count = 0;
		return TRUE;
	}
	prodconf_node *array = nullptr, *fallback = nullptr;
	size_t children = 0;
	for (prodconf_node *c = node->first_child; c; c = c->next, children++) {
		if (c->key && !strcmp(c->key, "ARRAY") && !array)
			array = c;
		else if (c->key && !strcmp(c->key, "DEFAULT") && !fallback)
			fallback = c;
	}
	GList *instances;
	if (array && fallback && children == 2) {
		instances = prodconf_visible_children(ctx->conf, array, ctx->stream_id, FALSE);
	} else {
		if (array || fallback) {
			debug_output(DEBUG_ERROR, 0, confusion[0], node->key ? node->key : "(null)");
			for (size_t i = 1; i < G_N_ELEMENTS(confusion); i++)
				debug_output(DEBUG_ERROR, 0, "%s", confusion[i]);
			fallback = nullptr;
		}
		instances = prodconf_visible_children(ctx->conf, node, ctx->stream_id, FALSE);
	}
	size_t n = g_list_length(instances);
	size_t max = capacity ? capacity : 1;
	if (!dynamic && n > max) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: found %zu instances of %s, maximum is %zu", n,
		             schema->name, max);
		g_list_free(instances);
		return FALSE;
	}
	char *base = dynamic ? static_cast<char *>(n ? g_malloc0(n * schema->size) : nullptr)
	                     : static_cast<char *>(dest);
	size_t i = 0;
	for (GList *l = instances; l; l = l->next, i++) {
		GList *candidates = g_list_append(nullptr, l->data);
		if (fallback)
			candidates = g_list_append(candidates, fallback);
		gboolean ok = read_record(ctx, candidates, schema, base + i * schema->size);
		g_list_free(candidates);
		if (ok)
			continue;
		debug_output(DEBUG_ERROR, 0, "Prodconf: could not read struct with name %s", schema->name);
		if (dynamic)
			g_free(base);
		g_list_free(instances);
		return FALSE;
	}
	g_list_free(instances);
	if (dynamic) {
		track(ctx, base);
		memcpy(dest, &base, sizeof(base));
	}
	if (count)
		*count = n;
	return TRUE;
}

gboolean read_field(read_ctx *ctx, GList *candidates, const prodconf_field *f, void *slot, uint64_t *count)
{
	if (f->kind == PRODCONF_STRUCT || f->kind == PRODCONF_STRUCT2) {
		GList *found = nullptr;
		for (GList *l = candidates; l; l = l->next)
			found = prodconf_find_all(ctx->conf, static_cast<prodconf_node *>(l->data), f->key,
			                          ctx->stream_id, found);
		// Even with no node found the inner schema is read: its fields' own
		// defaults fill an absent record.
		gboolean ok = f->sub && read_record(ctx, found, f->sub, slot);
		g_list_free(found);
		return ok;
	}
	for (GList *l = candidates; l; l = l->next) {
		prodconf_node *node = prodconf_find_node(ctx->conf, static_cast<prodconf_node *>(l->data),
		                                         f->key, ctx->stream_id);
		if (f->kind == PRODCONF_STRUCT_ARRAY) {
			if (read_instances(ctx, node, f->sub, f->dynamic, f->capacity, slot, count))
				return TRUE;
		} else if (read_entry(ctx, node, f, slot, count)) {
			return TRUE;
		}
	}
	return FALSE;
}

gboolean read_record(read_ctx *ctx, GList *candidates, const prodconf_schema *schema, void *dest)
{
	auto *record = static_cast<char *>(dest);
	for (size_t i = 0; i < schema->field_count; i++) {
		const prodconf_field *f = &schema->fields[i];
		void *slot = record + f->offset;
		uint64_t *count = f->dynamic || f->store_count
		                      ? reinterpret_cast<uint64_t *>(record + f->count_offset)
		                      : nullptr;
		if (read_field(ctx, candidates, f, slot, count))
			continue;
		if (f->requirement == PRODCONF_OBSOLETE)
			continue;
		if (f->requirement == PRODCONF_OPTIONAL && store_default(ctx, f, slot, count))
			continue;
		fprintf(stderr, "Prodconf: %s could not get entry %s (nbr %u)\n", schema->name, f->key,
		        (unsigned)i);
		return FALSE;
	}
	return TRUE;
}

void dump_fields(GString *out, const prodconf_schema *schema, const char *record, int depth);

void dump_values(GString *out, const prodconf_field *f, const char *base, size_t n, int depth)
{
	size_t size = element_size(f->kind);
	for (size_t i = 0; i < n; i++) {
		const char *p = base + i * size;
		switch (f->kind) {
		case PRODCONF_INT:
		case PRODCONF_ENUM:
		case PRODCONF_STREAM_ID: {
			int32_t v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%d ", v);
			break;
		}
		case PRODCONF_LONG: {
			int64_t v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%ld ", (long)v);
			break;
		}
		case PRODCONF_FLOAT:
		case PRODCONF_FLOAT2: {
			float v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%f ", v);
			break;
		}
		case PRODCONF_FIXED: {
			int32_t v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%f ", v / fixed_one);
			break;
		}
		case PRODCONF_BOOL:
			g_string_append(out, *p ? "true " : "false ");
			break;
		case PRODCONF_FUNCTION: {
			void *v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%p ", v);
			break;
		}
		case PRODCONF_STRING: {
			const char *v;
			memcpy(&v, p, sizeof(v));
			g_string_append_printf(out, "%s ", v ? v : "(null)");
			break;
		}
		default:
			return;
		}
	}
	(void)depth;
}

void dump_field(GString *out, const prodconf_field *f, const char *slot, const char *record, int depth)
{
	size_t n = f->capacity ? f->capacity : 1;
	const char *base = slot;
	if (f->dynamic || (f->kind == PRODCONF_STRING && f->store_count)) {
		uint64_t count;
		memcpy(&count, record + f->count_offset, sizeof(count));
		memcpy(&base, slot, sizeof(base));
		n = base ? count : 0;
	}
	switch (f->kind) {
	case PRODCONF_STRUCT:
	case PRODCONF_STRUCT2:
		dump_fields(out, f->sub, slot, depth + 4);
		return;
	case PRODCONF_STRUCT_ARRAY:
		for (size_t i = 0; f->sub && i < n; i++)
			dump_fields(out, f->sub, base + i * f->sub->size, depth + 4);
		return;
	default:
		if (!element_size(f->kind)) {
			debug_output(DEBUG_WARNING, 0, "%s: cannot debug print type %d", "dump_struct",
			             (int)f->kind);
			return;
		}
		dump_values(out, f, base, n, depth);
	}
}

void dump_fields(GString *out, const prodconf_schema *schema, const char *record, int depth)
{
	if (!schema)
		return;
	for (size_t i = 0; i < schema->field_count; i++) {
		const prodconf_field *f = &schema->fields[i];
		g_string_append_printf(out, "\n%*s%s: ", depth, "", f->key);
		dump_field(out, f, record + f->offset, record, depth);
	}
}

gboolean dump_wanted(prodconf_node *section)
{
	for (prodconf_node *c = section->first_child; c; c = c->next) {
		if (!c->key || strcmp(c->key, "DUMP_CONFIG") != 0)
			continue;
		if (c->values && c->values[0])
			return strcmp(c->values[0], "true") == 0;
		if (c->converted_kind == PRODCONF_BOOL && c->converted_size)
			return *static_cast<uint8_t *>(c->converted) == 1;
		return FALSE;
	}
	return FALSE;
}

void dump_records(prodconf_node *section, const prodconf_schema *schema, const char *records, size_t n)
{
	if (!dump_wanted(section))
		return;
	GString *out = g_string_new(nullptr);
	for (size_t i = 0; i < n; i++) {
		const char *record = records + i * schema->size;
		g_string_append_printf(out,
		                       "\nGot struct %s as follows (size %zu bytes at %p):", schema->name,
		                       schema->size, (const void *)record);
		dump_fields(out, schema, record, 0);
	}
	g_string_append_c(out, '\n');
	debug_output(DEBUG_INFO, 0, "%s", out->str);
	g_string_free(out, TRUE);
}

void release_allocs(GPtrArray *allocs)
{
	for (guint i = 0; i < allocs->len; i++)
		g_free(g_ptr_array_index(allocs, i));
	g_ptr_array_free(allocs, TRUE);
}

prodconf_node *item_section(prodconf *conf, const char *item)
{
	prodconf_node *section = prodconf_section(conf, item);
	if (!section)
		debug_output(DEBUG_ERROR, 0, "Prodconf: unknown item %s", item ? item : "(null)");
	return section;
}

} // namespace

gboolean prodconf_read_node_entry(struct prodconf *conf, struct prodconf_node *node,
                                  const struct prodconf_field *field, int32_t stream_id, void *destination,
                                  uint64_t *count)
{
	if (!conf || !field || !destination)
		return FALSE;
	read_ctx ctx = {conf, stream_id, nullptr};
	return read_entry(&ctx, node, field, destination, count);
}

gboolean prodconf_read_item(struct prodconf *conf, const struct prodconf_schema *schema, const char *item,
                            int32_t stream_id, void **record)
{
	if (record)
		*record = nullptr;
	if (!conf || !schema || !record)
		return FALSE;
	prodconf_node *section = item_section(conf, item);
	if (!section)
		return FALSE;
	GList *candidates = prodconf_find_all(conf, section, schema->name, stream_id, nullptr);
	void *out = g_malloc0(schema->size ? schema->size : 1);
	read_ctx ctx = {conf, stream_id, g_ptr_array_new()};
	gboolean ok = read_record(&ctx, candidates, schema, out);
	g_list_free(candidates);
	if (!ok) {
		release_allocs(ctx.allocs);
		g_free(out);
		return FALSE;
	}
	g_ptr_array_free(ctx.allocs, TRUE);
	dump_records(section, schema, static_cast<char *>(out), 1);
	*record = out;
	return TRUE;
}

gboolean prodconf_read_item_array(struct prodconf *conf, const struct prodconf_schema *schema,
                                  const char *item, int32_t stream_id, void **records, size_t *count)
{
	if (records)
		*records = nullptr;
	if (count)
		*count = 0;
	if (!conf || !schema || !records)
		return FALSE;
	prodconf_node *section = item_section(conf, item);
	if (!section)
		return FALSE;
	prodconf_node *node = prodconf_find_node(conf, section, schema->name, stream_id);
	if (!node) {
		debug_output(DEBUG_ERROR, 0, "Prodconf: did not find struct %s in item %s", schema->name,
		             item);
		return FALSE;
	}
	read_ctx ctx = {conf, stream_id, g_ptr_array_new()};
	uint64_t n = 0;
	if (!read_instances(&ctx, node, schema, TRUE, 0, records, &n)) {
		release_allocs(ctx.allocs);
		return FALSE;
	}
	g_ptr_array_free(ctx.allocs, TRUE);
	if (count)
		*count = (size_t)n;
	dump_records(section, schema, static_cast<char *>(*records), (size_t)n);
	return TRUE;
}

gboolean prodconf_read_entry(struct prodconf *conf, const char *item, const struct prodconf_field *field,
                             int32_t stream_id, void *destination, uint64_t *count)
{
	if (!conf || !field || !destination)
		return FALSE;
	read_ctx ctx = {conf, stream_id, nullptr};
	prodconf_node *section = item_section(conf, item);
	if (section && read_entry(&ctx, prodconf_find_node(conf, section, field->key, stream_id), field,
	                          destination, count))
		return TRUE;
	if (section && field->requirement == PRODCONF_OBSOLETE)
		return TRUE;
	if (field->requirement == PRODCONF_OPTIONAL && store_default(&ctx, field, destination, count))
		return TRUE;
	if (section)
		debug_output(DEBUG_ERROR, 0, "Prodconf: could not get config for %s in item %s", field->key,
		             item);
	return FALSE;
}

size_t prodconf_get_child_values(struct prodconf *conf, const char *item, const char *group,
                                 int32_t stream_id, uint32_t kind, char ***names, void ***values,
                                 uint64_t **counts)
{
	if (names)
		*names = nullptr;
	if (values)
		*values = nullptr;
	if (counts)
		*counts = nullptr;
	prodconf_node *section = prodconf_section(conf, item);
	GList *groups =
	    section && group ? prodconf_find_all(conf, section, group, stream_id, nullptr) : nullptr;
	if (!groups) {
		debug_output(DEBUG_WARNING, 0, "Prodconf: item %s has no group(s) named %s",
		             item ? item : "(null)", group ? group : "(null)");
		return 0;
	}
	GList *children = nullptr;
	GHashTable *seen = g_hash_table_new(g_str_hash, g_str_equal);
	for (GList *g = groups; g; g = g->next) {
		GList *visible =
		    prodconf_visible_children(conf, static_cast<prodconf_node *>(g->data), stream_id, FALSE);
		for (GList *l = visible; l; l = l->next) {
			auto *child = static_cast<prodconf_node *>(l->data);
			if (!child->key || g_hash_table_contains(seen, child->key))
				continue;
			g_hash_table_add(seen, child->key);
			children = g_list_prepend(children, child);
		}
		g_list_free(visible);
	}
	g_hash_table_destroy(seen);
	g_list_free(groups);
	children = g_list_reverse(children);
	size_t n = g_list_length(children);
	if (names) {
		*names = g_new0(char *, n + 1);
		size_t i = 0;
		for (GList *l = children; l; l = l->next)
			(*names)[i++] = g_strdup(static_cast<prodconf_node *>(l->data)->key);
	}
	if (values && counts) {
		*values = g_new0(void *, n + 1);
		*counts = g_new0(uint64_t, n + 1);
		read_ctx ctx = {conf, stream_id, nullptr};
		size_t i = 0;
		for (GList *l = children; l; l = l->next, i++) {
			auto *child = static_cast<prodconf_node *>(l->data);
			prodconf_field field = {};
			field.key = child->key;
			field.kind = kind;
			field.dynamic = 1;
			read_entry(&ctx, child, &field, &(*values)[i], &(*counts)[i]);
		}
	}
	g_list_free(children);
	return n;
}
