#pragma once
// The configuration tree inside the product configuration object. Only the
// product configuration's own modules (and their tests) look inside a node.

#include <glib.h>
#include <stddef.h>
#include <stdint.h>

struct prodconf;

struct prodconf_node {
	char *key;     // null for a mapping that is an entry of a sequence
	char **values; // null-terminated; released once converted
	void *converted;
	uint64_t value_count;
	size_t converted_size;
	int32_t converted_kind; // -1 until the first typed read
	struct prodconf_node *parent;
	struct prodconf_node *first_child;
	struct prodconf_node *last_child;
	struct prodconf_node *next;
};

struct prodconf_node *prodconf_node_new(struct prodconf_node *parent, const char *key);
void prodconf_node_unlink(struct prodconf_node *node);
void prodconf_node_free(struct prodconf_node *node);
// Appends texts to the node's values (the count is kept by the caller).
void prodconf_node_add_values(struct prodconf_node *node, GPtrArray *texts);
void prodconf_node_clear_values(struct prodconf_node *node);

// Searches with the conditional-block rules for a stream.
struct prodconf_node *prodconf_find_node(struct prodconf *conf, struct prodconf_node *start, const char *key,
                                         int32_t stream_id);
// Like prodconf_find_node but never matches the start node itself.
struct prodconf_node *prodconf_find_child(struct prodconf *conf, struct prodconf_node *start, const char *key,
                                          int32_t stream_id);
GList *prodconf_find_all(struct prodconf *conf, struct prodconf_node *start, const char *key,
                         int32_t stream_id, GList *found);
// Visible children in file order; with dedup a key occurs once (its first).
GList *prodconf_visible_children(struct prodconf *conf, struct prodconf_node *node, int32_t stream_id,
                                 gboolean dedup);
struct prodconf_node *prodconf_section(struct prodconf *conf, const char *name);

// Replaces a text by its macro, if it names one.
const char *prodconf_macro(struct prodconf *conf, const char *text);

// Resets the tree to a lone "ROOT".
void prodconf_tree_reset(struct prodconf *conf);

struct prodconf_field;
// Reads one field from a given node (no defaults); what prodconf_read_entry
// does once it has found the node.
gboolean prodconf_read_node_entry(struct prodconf *conf, struct prodconf_node *node,
                                  const struct prodconf_field *field, int32_t stream_id, void *destination,
                                  uint64_t *count);
