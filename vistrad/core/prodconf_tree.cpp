#include "prodconf_tree.h"

#include <stdio.h>
#include <string.h>

#include "prodconf.h"

struct prodconf_node *prodconf_node_new(struct prodconf_node *parent, const char *key)
{
	prodconf_node *node = g_new0(prodconf_node, 1);
	node->key = g_strdup(key);
	node->converted_kind = -1;
	node->parent = parent;
	if (!parent)
		return node;
	if (parent->last_child)
		parent->last_child->next = node;
	else
		parent->first_child = node;
	parent->last_child = node;
	return node;
}

void prodconf_node_unlink(struct prodconf_node *node)
{
	prodconf_node *parent = node ? node->parent : nullptr;
	if (!parent)
		return;
	prodconf_node *prev = nullptr;
	for (prodconf_node *n = parent->first_child; n; prev = n, n = n->next) {
		if (n != node)
			continue;
		if (prev)
			prev->next = n->next;
		else
			parent->first_child = n->next;
		if (parent->last_child == n)
			parent->last_child = prev;
		break;
	}
	node->parent = nullptr;
	node->next = nullptr;
}

void prodconf_node_free(struct prodconf_node *node)
{
	// Iterative over siblings so that long lists do not deepen the stack.
	while (node) {
		prodconf_node *next = node->next;
		prodconf_node_free(node->first_child);
		g_free(node->key);
		g_strfreev(node->values);
		g_free(node->converted);
		g_free(node);
		node = next;
	}
}

void prodconf_node_add_values(struct prodconf_node *node, GPtrArray *texts)
{
	if (!node || !texts || texts->len == 0)
		return;
	guint old = node->values ? g_strv_length(node->values) : 0;
	node->values = g_renew(char *, node->values, old + texts->len + 1);
	for (guint i = 0; i < texts->len; i++)
		node->values[old + i] = static_cast<char *>(g_ptr_array_index(texts, i));
	node->values[old + texts->len] = nullptr;
	g_ptr_array_set_size(texts, 0);
}

void prodconf_node_clear_values(struct prodconf_node *node)
{
	if (!node)
		return;
	g_strfreev(node->values);
	node->values = nullptr;
	node->value_count = 0;
}

namespace
{

gboolean same_key(const prodconf_node *node, const char *key)
{
	return node->key && strcmp(node->key, key) == 0;
}

gboolean is_open_block(prodconf *conf, prodconf_node *node, int32_t stream_id)
{
	return node->first_child && prodconf_is_restriction_key(conf, node->key) &&
	       restriction_ok_with_state(conf, node, stream_id);
}

} // namespace

struct prodconf_node *prodconf_find_child(struct prodconf *conf, struct prodconf_node *start, const char *key,
                                          int32_t stream_id)
{
	if (!conf || !start || !key)
		return nullptr;
	for (prodconf_node *child = start->first_child; child; child = child->next) {
		if (same_key(child, key))
			return child;
		if (!is_open_block(conf, child, stream_id))
			continue;
		prodconf_node *found = prodconf_find_child(conf, child, key, stream_id);
		if (found)
			return found;
	}
	return nullptr;
}

struct prodconf_node *prodconf_find_node(struct prodconf *conf, struct prodconf_node *start, const char *key,
                                         int32_t stream_id)
{
	if (!start || !key)
		return nullptr;
	if (same_key(start, key))
		return start;
	return prodconf_find_child(conf, start, key, stream_id);
}

namespace
{

GList *find_all_below(prodconf *conf, prodconf_node *start, const char *key, int32_t stream_id, GList *found)
{
	for (prodconf_node *child = start->first_child; child; child = child->next) {
		if (same_key(child, key))
			found = g_list_append(found, child);
		else if (is_open_block(conf, child, stream_id))
			found = find_all_below(conf, child, key, stream_id, found);
	}
	return found;
}

GList *visible_below(prodconf *conf, prodconf_node *node, int32_t stream_id, GList *out)
{
	for (prodconf_node *child = node->first_child; child; child = child->next) {
		// A restriction key on a leaf makes no block: the leaf is a plain child.
		if (!child->first_child || !prodconf_is_restriction_key(conf, child->key))
			out = g_list_prepend(out, child);
		else if (restriction_ok_with_state(conf, child, stream_id))
			out = visible_below(conf, child, stream_id, out);
	}
	return out;
}

} // namespace

GList *prodconf_find_all(struct prodconf *conf, struct prodconf_node *start, const char *key,
                         int32_t stream_id, GList *found)
{
	if (!conf || !start || !key)
		return found;
	if (same_key(start, key))
		return g_list_append(found, start);
	return find_all_below(conf, start, key, stream_id, found);
}

GList *prodconf_visible_children(struct prodconf *conf, struct prodconf_node *node, int32_t stream_id,
                                 gboolean dedup)
{
	if (!conf || !node)
		return nullptr;
	GList *all = g_list_reverse(visible_below(conf, node, stream_id, nullptr));
	if (!dedup)
		return all;
	GHashTable *seen = g_hash_table_new(g_str_hash, g_str_equal);
	for (GList *l = all; l;) {
		GList *next = l->next;
		auto *child = static_cast<prodconf_node *>(l->data);
		if (child->key) {
			if (g_hash_table_contains(seen, child->key))
				all = g_list_delete_link(all, l);
			else
				g_hash_table_add(seen, child->key);
		}
		l = next;
	}
	g_hash_table_destroy(seen);
	return all;
}

struct prodconf_node *prodconf_section(struct prodconf *conf, const char *name)
{
	if (!conf || !name || !conf->sections)
		return nullptr;
	return static_cast<prodconf_node *>(g_hash_table_lookup(conf->sections, name));
}

const char *prodconf_macro(struct prodconf *conf, const char *text)
{
	if (!conf || !text)
		return text;
	auto *macro = static_cast<const char *>(g_hash_table_lookup(conf->macros, text));
	return macro ? macro : text;
}

void prodconf_tree_reset(struct prodconf *conf)
{
	g_hash_table_remove_all(conf->sections);
	prodconf_node_free(conf->root);
	conf->root = prodconf_node_new(nullptr, "ROOT");
}
