// Loading the product configuration: which file, YAML into the node tree,
// inheritance between files, macros and the per-channel product constants.

#include <errno.h>
#include <keelstone.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yaml.h>

#include <vector>

#include "algostep/algo_cl_modules.h"
#include "debug_output.h"
#include "prodconf.h"
#include "prodconf_capture.h"
#include "prodconf_crypt.h"
#include "prodconf_hwsetup.h"
#include "prodconf_modules.h"
#include "prodconf_params.h"
#include "prodconf_schema_build.h"
#include "prodconf_startup.h"
#include "prodconf_tree.h"
#include "vistrad_path.h"

namespace
{

const char *const suffixes[] = {".yaml", ".enc", ""};

enum block_kind { BLOCK_ENTRY_MAPPING = 0, BLOCK_MAPPING = 1, BLOCK_SEQUENCE = 2 };

void set_registry_slots(prodconf *conf)
{
	conf->add_item = prodconf_default_add_item;
	conf->add_constant = prodconf_add_constant;
	conf->add_function = prodconf_add_function;
	conf->read_item = prodconf_read_item;
	conf->read_item_array = prodconf_read_item_array;
	conf->read_entry = prodconf_read_entry;
	conf->get_child_names = prodconf_get_child_names;
	conf->get_child_values = prodconf_get_child_values;
	conf->select_module = prodconf_select_module;
}

void set_builtin_constants(prodconf *conf)
{
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		prodconf_product_constants *pc = &conf->constants[c];
		prodconf_product_constants_clear(pc);
		pc->stats_block_width = 32;
		pc->ipp_pixel_width = 12;
		pc->i2c_bus = 8;
		pc->image_sources = 1;
		pc->plt_input_mode = 1;
		pc->i2c_algorithm = 7;
	}
}

// A slot already set stays.
void set_default_hooks(prodconf *conf, gboolean full)
{
	if (!conf->run)
		conf->run = prodconf_run;
	if (!conf->create_algos)
		conf->create_algos = prodconf_create_algos;
	if (!conf->destroy_algos)
		conf->destroy_algos = prodconf_destroy_algos;
	if (!conf->start_items)
		conf->start_items = prodconf_start_items;
	if (!conf->stop)
		conf->stop = prodconf_stop;
	if (!full)
		return;
	prodconf_set_capture_slots(conf);
	if (!conf->stream_list)
		conf->stream_list = prodconf_default_stream_list;
	if (!conf->init_param_defaults)
		conf->init_param_defaults = init_default_parameter_ranges;
	conf->use_stream = 1;
}

void load_boot_state(prodconf *conf, const char *name, gboolean warn_missing)
{
	errno = 0;
	char *value = keelstone_get(name);
	if (!value) {
		if (warn_missing)
			prodconf_startup_warning("%s: Failed to read %s keelstone param: %s\n",
			                         "prodconf_load_keelstone_state", name, g_strerror(errno));
		return;
	}
	if (!prodconf_add_boot_state(conf, name, value))
		prodconf_startup_warning("%s: state %s already added to hash",
		                         "prodconf_load_keelstone_state", name);
	free(value);
}

// YAML scanning state.
struct scanner {
	prodconf *conf;
	prodconf_node *current;
	prodconf_node *parent;
	bool key_expected = false;
	bool in_sequence = false;
	GPtrArray *pending;
	std::vector<int> blocks;
	int flow_depth = 0; // open "[" and "{"
	yaml_token_type_t previous = YAML_NO_TOKEN;
	bool corrupt = false;
};

prodconf_exit_fn corrupt_exit = exit;

// Also for what the scanner lets through but a parser would refuse. The
// caller unwinds and ends the process with status 1.
void report_corrupt_configuration()
{
	prodconf_startup_warning("Prodconf: could not parse YAML file\n");
	prodconf_startup_error("Corrupt configuration\n");
}

void store_pending(scanner *s)
{
	if (s->current)
		prodconf_node_add_values(s->current, s->pending);
	for (guint i = 0; i < s->pending->len; i++)
		g_free(g_ptr_array_index(s->pending, i));
	g_ptr_array_set_size(s->pending, 0);
}

void go_up(scanner *s)
{
	if (!s->parent)
		return;
	s->current = s->parent;
	s->parent = s->parent->parent;
}

void on_mapping_start(scanner *s)
{
	int kind = s->previous == YAML_BLOCK_ENTRY_TOKEN ? BLOCK_ENTRY_MAPPING : BLOCK_MAPPING;
	s->blocks.push_back(kind);
	if (!s->current) {
		printf("no node to go down from, keeping parent %p\n", (void *)s->parent);
		return;
	}
	s->parent = s->current;
	s->current = nullptr;
	if (kind == BLOCK_ENTRY_MAPPING)
		s->parent = prodconf_node_new(s->parent, nullptr);
}

void on_block_end(scanner *s)
{
	int kind = -1;
	if (!s->blocks.empty()) {
		kind = s->blocks.back();
		s->blocks.pop_back();
	}
	switch (kind) {
	case BLOCK_MAPPING:
		go_up(s);
		break;
	case BLOCK_SEQUENCE:
		store_pending(s);
		break;
	case BLOCK_ENTRY_MAPPING:
		go_up(s);
		go_up(s);
		break;
	default:
		printf("Error: unrecognized block_start_type");
	}
}

void on_key_text(scanner *s, const char *text)
{
	prodconf_node *node = s->current;
	s->key_expected = false;
	// A damaged text can bring the scan back to a section while a key is
	// expected: the section is renamed, so it leaves the table under its old name.
	if (node->key && node->parent == s->conf->root &&
	    g_hash_table_lookup(s->conf->sections, node->key) == node)
		g_hash_table_remove(s->conf->sections, node->key);
	g_free(node->key);
	node->key = g_strdup(text);
	if (node->parent != s->conf->root)
		return;
	auto *section = static_cast<prodconf_node *>(g_hash_table_lookup(s->conf->sections, text));
	if (section && section != node) {
		prodconf_node_unlink(node);
		prodconf_node_free(node);
		s->current = section;
		return;
	}
	g_hash_table_insert(s->conf->sections, g_strdup(node->key), node);
}

void on_scalar(scanner *s, const char *text)
{
	if (s->key_expected && s->current) {
		on_key_text(s, text);
		return;
	}
	if (!s->current)
		return;
	s->current->value_count++;
	g_ptr_array_add(s->pending, g_strdup(text));
	if (!s->in_sequence)
		store_pending(s);
}

// Returns false when the scan is over.
bool on_token(scanner *s, const yaml_token_t *token, const char *path)
{
	switch (token->type) {
	case YAML_BLOCK_MAPPING_START_TOKEN:
		on_mapping_start(s);
		break;
	case YAML_BLOCK_SEQUENCE_START_TOKEN:
		s->blocks.push_back(BLOCK_SEQUENCE);
		s->in_sequence = true;
		break;
	case YAML_FLOW_SEQUENCE_START_TOKEN:
		s->flow_depth++;
		s->in_sequence = true;
		break;
	case YAML_FLOW_SEQUENCE_END_TOKEN:
		s->flow_depth--;
		store_pending(s);
		s->in_sequence = false;
		break;
	case YAML_FLOW_MAPPING_START_TOKEN:
		s->flow_depth++;
		break;
	case YAML_FLOW_MAPPING_END_TOKEN:
		s->flow_depth--;
		break;
	case YAML_KEY_TOKEN:
		s->current = prodconf_node_new(s->parent ? s->parent : s->conf->root, nullptr);
		s->key_expected = true;
		break;
	case YAML_VALUE_TOKEN:
		s->key_expected = false;
		s->in_sequence = false;
		break;
	case YAML_SCALAR_TOKEN:
		on_scalar(s, reinterpret_cast<const char *>(token->data.scalar.value));
		break;
	case YAML_BLOCK_END_TOKEN:
		on_block_end(s);
		break;
	case YAML_TAG_TOKEN:
		prodconf_startup_warning("Tags are unsupported, got !%s\n",
		                         reinterpret_cast<const char *>(token->data.tag.suffix));
		break;
	case YAML_STREAM_END_TOKEN:
		// A cut-off "[1, 2" would otherwise take what follows as its values.
		if (s->flow_depth != 0) {
			report_corrupt_configuration();
			s->corrupt = true;
		}
		return false;
	case YAML_NO_TOKEN:
		prodconf_startup_warning("Prodconf: got no YAML token\n");
		return false;
	default:
		if (token->type > YAML_SCALAR_TOKEN)
			prodconf_startup_warning("Prodconf: got unknown token from file %s\n", path);
		break;
	}
	return true;
}

// False when the text is corrupt.
bool scan_text(prodconf *conf, const char *text, size_t length, const char *path)
{
	yaml_parser_t parser;
	if (!yaml_parser_initialize(&parser))
		return true;
	yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char *>(text), length);
	scanner s;
	s.conf = conf;
	s.current = conf->root;
	s.parent = nullptr;
	s.pending = g_ptr_array_new();
	for (;;) {
		yaml_token_t token;
		if (!yaml_parser_scan(&parser, &token)) {
			if (parser.error != YAML_NO_ERROR) {
				report_corrupt_configuration();
				s.corrupt = true;
			} else {
				prodconf_startup_warning("Prodconf: could not parse YAML file\n");
			}
			break;
		}
		bool more = on_token(&s, &token, path);
		s.previous = token.type;
		yaml_token_delete(&token);
		if (!more)
			break;
	}
	store_pending(&s);
	g_ptr_array_free(s.pending, TRUE);
	yaml_parser_delete(&parser);
	return !s.corrupt;
}

char *strip_suffix(const char *name)
{
	for (const char *suffix : suffixes)
		if (g_str_has_suffix(name, suffix))
			return g_strndup(name, strlen(name) - strlen(suffix));
	return g_strdup(name);
}

char *find_file(const char *name)
{
	char *base = strip_suffix(name);
	char *lib_name = g_strconcat("/usr/lib/vistrad/", base, NULL);
	char *lib_base = vistrad_path(lib_name);
	g_free(lib_name);
	char *found = nullptr;
	for (const char *dir_base : {(const char *)base, (const char *)lib_base}) {
		for (const char *suffix : suffixes) {
			char *candidate = g_strconcat(dir_base, suffix, NULL);
			if (access(candidate, F_OK) == 0) {
				found = candidate;
				break;
			}
			g_free(candidate);
		}
		if (found)
			break;
	}
	g_free(base);
	g_free(lib_base);
	return found;
}

// False when the file is corrupt; a file that cannot be had is skipped.
bool parse_one_file(prodconf *conf, const char *name, GHashTable *read)
{
	char *path = find_file(name);
	if (!path) {
		prodconf_startup_error("Prodconf_parser: Unknown filename %s\n", name);
		return true;
	}
	if (g_hash_table_contains(read, path)) {
		prodconf_startup_warning("Prodconf: %s was read already, inheritance loop not followed\n",
		                         path);
		g_free(path);
		return true;
	}
	g_hash_table_add(read, path);
	// A name that leads to a device or a pipe would be read without end.
	struct stat st;
	if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
		fprintf(stderr, "%s: cannot read file %s, reason: %s", "load_buffer_from_file", path,
		        "not a regular file");
		return true;
	}
	char *text = nullptr;
	size_t length = 0;
	if (g_str_has_suffix(path, ".enc")) {
		if (prodconf_read_encrypted_file(path, &text, &length))
			return true;
	} else {
		GError *error = nullptr;
		gsize size = 0;
		if (!g_file_get_contents(path, &text, &size, &error)) {
			fprintf(stderr, "%s: cannot read file %s, reason: %s", "load_buffer_from_file", path,
			        error->message);
			g_error_free(error);
			return true;
		}
		length = size;
	}
	bool sound = scan_text(conf, text, length, path);
	g_free(text);
	return sound;
}

prodconf_node *inherit_node(prodconf *conf)
{
	prodconf_node *inherits = prodconf_section(conf, "INHERITS");
	prodconf_node *node = nullptr;
	if (inherits)
		node = prodconf_find_node(conf, inherits, "INHERIT", 0);
	else
		debug_output(DEBUG_ERROR, 0, "Prodconf: Could not find header %s in YAML file\n", "INHERITS");
	return node ? node : prodconf_section(conf, "INHERIT");
}

// False when a file is corrupt; nothing after it is read.
bool parse_files(prodconf *conf, const char *name)
{
	prodconf_tree_reset(conf);
	GQueue work = G_QUEUE_INIT;
	g_queue_push_tail(&work, g_strdup(name));
	GHashTable *read = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
	bool sound = true;
	while (char *next = static_cast<char *>(g_queue_pop_head(&work))) {
		sound = parse_one_file(conf, next, read);
		g_free(next);
		if (!sound) {
			g_queue_clear_full(&work, g_free);
			break;
		}
		prodconf_node *inherit = inherit_node(conf);
		if (!inherit || !inherit->values)
			continue;
		for (char **v = inherit->values; *v; v++)
			g_queue_push_tail(&work, g_strdup(*v));
		prodconf_node_clear_values(inherit);
	}
	g_hash_table_destroy(read);
	return sound;
}

void read_macros(prodconf *conf)
{
	prodconf_node *macros = prodconf_section(conf, "MACROS");
	for (prodconf_node *m = macros ? macros->first_child : nullptr; m; m = m->next) {
		if (!m->key || !m->values || !m->values[0])
			continue;
		const char *old = static_cast<const char *>(g_hash_table_lookup(conf->macros, m->key));
		if (old)
			fprintf(stderr, "Prodconf: Macro %s has new meaning %s\n", m->key, m->values[0]);
		g_hash_table_insert(conf->macros, g_strdup(m->key), g_strdup(m->values[0]));
	}
}

// Channels are 0 to 7; any other number would make a stream id of no
// channel (or overflow making one), so it is left out with a word.
void drop_foreign_channels(prodconf_product_constants *pc, const char *path, bool report)
{
	uint64_t kept = 0;
	for (uint64_t i = 0; pc->channels && i < pc->channel_count; i++) {
		if (pc->channels[i] >= 0 && pc->channels[i] < PRODCONF_CHANNELS)
			pc->channels[kept++] = pc->channels[i];
		else if (report)
			prodconf_startup_warning("Prodconf: %s: channel %d is not one of 0 to %d, left out\n",
			                         path, (int)pc->channels[i], PRODCONF_CHANNELS - 1);
	}
	pc->channel_count = kept;
}

void read_channel_records(prodconf *conf, const char *path)
{
	for (int c = 0; c < PRODCONF_CHANNELS; c++) {
		int32_t stream_id = c * 256;
		void *record = nullptr;
		if (prodconf_read_item(conf, &prodconf_area_config_schema, "PRODUCT_CONSTANTS", stream_id,
		                       &record)) {
			memcpy(&conf->channel[c].area[PRODCONF_AREA_SENSOR], record, sizeof(prodconf_area));
			g_free(record);
		}
		if (prodconf_read_item(conf, &prodconf_product_constants_schema, "PRODUCT_CONSTANTS",
		                       stream_id, &record)) {
			prodconf_product_constants fresh;
			memcpy(&fresh, record, sizeof(fresh));
			g_free(record);
			prodconf_product_constants_clear(&conf->constants[c]);
			conf->constants[c] = fresh;
			// Channels mostly read one list: a word about channel 0's is enough.
			drop_foreign_channels(&conf->constants[c], path, c == 0);
		}
	}
	prodconf_field video = prodconf_field_i32("video_control", PRODCONF_BOOL, PRODCONF_OPTIONAL, 0, 0);
	uint8_t flag = 0;
	if (prodconf_section(conf, "PRODUCT_CONSTANTS"))
		prodconf_read_entry(conf, "PRODUCT_CONSTANTS", &video, 0, &flag, nullptr);
	conf->video_control = flag;
}

} // namespace

void prodconf_run_function_list(struct prodconf *conf, struct control *engine, int32_t argument,
                                const char *section)
{
	prodconf_node *node = prodconf_section(conf, section);
	if (!node || !node->values)
		return;
	for (char **name = node->values; *name; name++) {
		gboolean found = FALSE;
		prodconf_func fn = prodconf_lookup_function(conf, *name, &found);
		if (!found) {
			fprintf(stderr, "Prodconf: no association for %s: %s found\n", section, *name);
			continue;
		}
		if (fn)
			reinterpret_cast<prodconf_list_fn>(fn)(conf, engine, argument);
	}
}

GList *prodconf_default_stream_list(struct prodconf *conf)
{
	const prodconf_product_constants *pc = conf ? &conf->constants[0] : nullptr;
	if (!pc || !pc->channels || !pc->channel_count)
		return g_list_append(nullptr, GINT_TO_POINTER(0));
	GList *streams = nullptr;
	for (uint64_t i = 0; i < pc->channel_count; i++)
		if (pc->channels[i] >= 0 && pc->channels[i] < PRODCONF_CHANNELS)
			streams = g_list_append(streams, GINT_TO_POINTER(pc->channels[i] * 256));
	return streams;
}

prodconf_exit_fn prodconf_set_exit(prodconf_exit_fn fn)
{
	prodconf_exit_fn old = corrupt_exit;
	corrupt_exit = fn ? fn : exit;
	return old;
}

int prodconf_load(struct prodconf *conf)
{
	if (!conf)
		return -1;
	set_registry_slots(conf);
	set_builtin_constants(conf);
	char *chosen = nullptr;
	for (const char *candidate : {"/etc/vistrad/extra.enc", "/usr/lib/vistrad/vistrad.enc"}) {
		chosen = vistrad_path(candidate);
		if (access(chosen, F_OK) == 0)
			break;
		g_free(chosen);
		chosen = nullptr;
	}
	conf->config_present = chosen != nullptr;
	if (!chosen) {
		// debug_output has no sinks yet; this must still reach someone.
		prodconf_startup_error("No product configuration found!\n");
		prodconf_run_function_list(conf, nullptr, -1, "PRODCONF_INIT");
		set_default_hooks(conf, FALSE);
		return -1;
	}
	load_boot_state(conf, "HWID", TRUE);
	load_boot_state(conf, "OPTICS", FALSE);
	if (!parse_files(conf, chosen)) {
		g_free(chosen);
		corrupt_exit(1);
		return -1;
	}

	prodconf_register_modules(conf);
	algo_cl_register_modules(conf);
	prodconf_add_constant(conf, "DUAL_EXPOSURE_STREAM_SHORT", 0);
	prodconf_add_constant(conf, "DUAL_EXPOSURE_STREAM_LONG", 1);
	prodconf_add_constant(conf, "DUAL_EXPOSURE_STREAM_MERGED", 2);
	prodconf_run_function_list(conf, nullptr, -1, "PRODCONF_INIT");
	set_default_hooks(conf, TRUE);
	read_macros(conf);
	read_channel_records(conf, chosen);
	g_free(chosen);
	return 0;
}
