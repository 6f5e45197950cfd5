#pragma once
// Builds configuration trees by hand, as the YAML loader would leave them.

#include <string.h>

#include <string>
#include <vector>

#include "core/prodconf.h"
#include "core/prodconf_tree.h"

inline prodconf_node *pc_node(prodconf_node *parent, const char *key, std::vector<std::string> values = {})
{
	prodconf_node *node = prodconf_node_new(parent, key);
	GPtrArray *texts = g_ptr_array_new();
	for (auto &v : values)
		g_ptr_array_add(texts, g_strdup(v.c_str()));
	node->value_count = values.size();
	prodconf_node_add_values(node, texts);
	g_ptr_array_free(texts, TRUE);
	return node;
}

inline prodconf_node *pc_section(prodconf *conf, const char *key, std::vector<std::string> values = {})
{
	prodconf_node *node = pc_node(conf->root, key, values);
	g_hash_table_insert(conf->sections, g_strdup(node->key), node);
	return node;
}

// Values after the first typed read, as "1,2".
inline std::string pc_converted_text(const prodconf_node *node)
{
	std::string out;
	const char *bytes = static_cast<const char *>(node->converted);
	for (uint64_t i = 0; i < node->value_count; i++) {
		std::string one;
		if (node->converted_kind == PRODCONF_BOOL) {
			one = std::to_string(bytes[i]);
		} else if (node->converted_kind == PRODCONF_LONG) {
			int64_t v;
			memcpy(&v, bytes + 8 * i, 8);
			one = std::to_string(v);
		} else {
			int32_t v;
			memcpy(&v, bytes + 4 * i, 4);
			one = std::to_string(v);
		}
		out += (i ? "," : "") + one;
	}
	return out;
}

// "key[v1,v2]=converted{children}" in file order: what a tree holds, for comparisons.
inline std::string pc_tree_text(const prodconf_node *node)
{
	std::string out = node->key ? node->key : "-";
	if (node->values) {
		out += "[";
		for (char **v = node->values; *v; v++)
			out += std::string(v == node->values ? "" : ",") + *v;
		out += "]";
	}
	if (node->converted_kind >= 0)
		out += "=" + pc_converted_text(node);
	if (node->first_child) {
		out += "{";
		for (const prodconf_node *c = node->first_child; c; c = c->next)
			out += (c == node->first_child ? "" : " ") + pc_tree_text(c);
		out += "}";
	}
	return out;
}
