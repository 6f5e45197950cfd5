#pragma once
// The product configuration object: what this camera model is made of. It
// holds the configuration tree, the registries that modules fill while the
// daemon loads (item kinds, states, constants, functions, macros), and the
// typed reader through which every module gets its settings record.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>

#define PRODCONF_CHANNELS 8
#define PRODCONF_STATE_TYPES 21
// Both mean "no state set"; -2 is what a fresh channel starts with.
#define PRODCONF_STATE_UNSET ((uint32_t)-2)
#define PRODCONF_STATE_NONE ((uint32_t)-1)

enum prodconf_state_type {
	PRODCONF_STATE_HDR_MODE = 0,
	PRODCONF_STATE_DUAL_EXPOSURE = 1,
	PRODCONF_STATE_CAPTURE_MODE = 2,
	PRODCONF_STATE_CAPTURE_FREQUENCY = 3,
	PRODCONF_STATE_DAY = 4,
	PRODCONF_STATE_SENSOR = 6,
	PRODCONF_STATE_IRIS = 7,
	PRODCONF_STATE_IRCUT = 8,
	PRODCONF_STATE_CAMBLOCK = 9,
	PRODCONF_STATE_ZOOM = 10,
	PRODCONF_STATE_FOCUS = 11,
	PRODCONF_STATE_STABILIZER = 12,
	PRODCONF_STATE_QUILLVANE = 13,
	PRODCONF_STATE_CHANNEL = 14,
	PRODCONF_STATE_SCENE_PROFILE = 15,
	PRODCONF_STATE_LIGHT_SENSOR = 16,
	PRODCONF_STATE_DATACACHE = 17,
	PRODCONF_STATE_DATACACHE_INPUT = 18,
	PRODCONF_STATE_ALGO = 19,
	PRODCONF_STATE_DAYNIGHT = 20,
};

// Field kinds of a settings schema.
enum prodconf_kind {
	PRODCONF_INT = 0,
	PRODCONF_LONG = 1,
	PRODCONF_STRUCT = 2,
	PRODCONF_STRUCT2 = 3,
	PRODCONF_STRUCT_ARRAY = 4,
	PRODCONF_BOOL = 5,
	PRODCONF_FIXED = 6,
	PRODCONF_FLOAT = 7,
	PRODCONF_FLOAT2 = 8,
	PRODCONF_ENUM = 9,
	PRODCONF_FUNCTION = 10,
	PRODCONF_STRING = 11,
	PRODCONF_STREAM_ID = 12,
};

enum prodconf_requirement {
	PRODCONF_REQUIRED = 0,
	PRODCONF_OPTIONAL = 1,
	PRODCONF_REQUIRED2 = 2, // read as required
	PRODCONF_OBSOLETE = 3,
};

struct prodconf;
struct prodconf_node;
struct control;

// Functions in the registry are stored untyped; each user casts to the
// signature its section documents.
typedef void (*prodconf_func)(void);
// What PRODCONF_INIT, CAMERA_MODE and the like list.
typedef int (*prodconf_list_fn)(struct prodconf *conf, struct control *engine, int32_t argument);

typedef void *(*prodconf_create_fn)(struct prodconf *conf, struct control *engine, int32_t stream_id);
typedef void (*prodconf_destroy_fn)(void *item);
typedef void (*prodconf_start_fn)(void *item, struct prodconf *conf, struct control *engine,
                                  int32_t stream_id);

// Eight bytes read by the field's kind.
union prodconf_value {
	int32_t i32;
	int64_t i64;
	float f;
	uint8_t bytes[8];
	int32_t i32s[2];
	float fs[2];
	const void *p;
};

struct prodconf_schema;

struct prodconf_field {
	const char *key;
	uint32_t kind;
	uint32_t requirement;
	union prodconf_value def;
	uint64_t default_count; // 0 means one
	uint8_t has_range;
	union prodconf_value min;
	union prodconf_value max;
	const struct prodconf_schema *sub;
	uint8_t dynamic;   // destination is a pointer to a heap array
	uint64_t capacity; // fixed destination: elements, 0 means one
	size_t offset;
	size_t count_offset; // of a uint64_t element count
	uint8_t store_count; // also for fixed fields; kind 11: array of texts
};

struct prodconf_schema {
	const char *name;
	size_t size;
	const struct prodconf_field *fields;
	size_t field_count;
};

// Per channel; filled from PRODUCT_CONSTANTS.
struct prodconf_product_constants {
	int32_t stats_block_width;
	char *dciris_pwm_device;
	char *ir_cut_filter_pin;
	char *sensor_reset_pin;
	uint8_t flip_image;
	int32_t video_encoder;
	int32_t ipp_pixel_width;
	int32_t *channels;
	uint64_t channel_count;
	int32_t i2c_bus;
	int32_t image_sources;
	int32_t hw_channel;
	int32_t plt_input_mode;
	int32_t i2c_algorithm;
	char *calibration_path;
	char *dpc_file;
	char *ffc_file;
	char *camblock_i2c_device;
	int32_t camblock_i2c_address;
	uint8_t external_sensor_config;
};

struct prodconf_area {
	int32_t xstart;
	int32_t ystart;
	int32_t xstop;
	int32_t ystop;
};

// A channel's areas, inclusive corners, in the order the D-Bus front-end
// reports them. The first seven are the channel's area record, which the
// capture-mode step and the sensor fill: window 0 the sensor window
// (area_config gives its first value), 1 the sensor's full pixel array, 2 to
// 5 copies of the sensor window and 6 the output window. Calls that take
// "the channel's area record" get the array from its start. The last two
// stay zero: nothing writes them.
#define PRODCONF_AREA_WINDOWS 7
#define PRODCONF_AREA_SENSOR 0
#define PRODCONF_AREA_FULL 1
#define PRODCONF_AREA_OUTPUT 6
#define PRODCONF_AREA_COUNT 9

struct prodconf_channel_block {
	// prod_area, usable_sensor_area, full_sensor_area, sensor_area,
	// dp_offset, dp_area, img_area, full_frame_area, max_stats_area
	struct prodconf_area area[PRODCONF_AREA_COUNT];
};

struct prodconf_item_kind {
	char *name;
	prodconf_create_fn create;
	prodconf_destroy_fn destroy;
	prodconf_start_fn start;
	GHashTable *items; // stream id -> item
};

struct prodconf_state {
	uint32_t type;
	uint32_t value;
};

struct prodconf_node_handle {
	const char *key;
	struct prodconf_node *node;
};

struct prodconf_node_iter {
	GList *nodes;
};

typedef int (*prodconf_run_hook)(struct prodconf *conf, struct control *engine, GList *stream_ids);
typedef int (*prodconf_stream_hook)(struct prodconf *conf, struct control *engine, int32_t stream_id);
typedef int (*prodconf_stop_hook)(struct prodconf *conf, struct control *engine);
typedef GList *(*prodconf_stream_list_fn)(struct prodconf *conf);
// The channels' synchronisation groups: a list of lists of channel + 1.
typedef GList *(*prodconf_sync_groups_fn)(void);
typedef int (*prodconf_param_defaults_fn)(struct prodconf *conf, int32_t stream_id, int reset);
typedef GList *(*prodconf_valid_modes_fn)(struct prodconf *conf, int32_t stream_id);
typedef uint32_t *(*prodconf_modes_fn)(struct prodconf *conf, int32_t stream_id, size_t *count);
typedef int (*prodconf_mode_to_value_fn)(struct prodconf *conf, int32_t stream_id, uint32_t mode);
typedef uint32_t (*prodconf_value_to_mode_fn)(struct prodconf *conf, int32_t stream_id, int value);

struct prodconf {
	// Hooks, filled when loading ends; a slot already set stays.
	prodconf_run_hook run;
	prodconf_stream_hook create_algos;
	prodconf_stream_hook destroy_algos;
	prodconf_stream_hook start_items;
	prodconf_stop_hook stop;
	prodconf_stream_list_fn stream_list;
	// Installed by the first stream synchronisation handler.
	prodconf_sync_groups_fn sync_groups;

	struct prodconf_product_constants constants[PRODCONF_CHANNELS];
	struct prodconf_channel_block channel[PRODCONF_CHANNELS];
	uint8_t use_stream;
	uint8_t config_present;
	// Not named by the configuration's own sections: see prodconf_video_control().
	uint8_t video_control;

	// Registry slots (set by the load).
	void (*add_item)(struct prodconf *, const char *, prodconf_create_fn, prodconf_destroy_fn,
	                 prodconf_start_fn, int, uint32_t);
	void (*add_constant)(struct prodconf *, const char *, intptr_t);
	void (*add_function)(struct prodconf *, const char *, prodconf_func);
	gboolean (*read_item)(struct prodconf *, const struct prodconf_schema *, const char *, int32_t,
	                      void **);
	gboolean (*read_item_array)(struct prodconf *, const struct prodconf_schema *, const char *, int32_t,
	                            void **, size_t *);
	gboolean (*read_entry)(struct prodconf *, const char *, const struct prodconf_field *, int32_t,
	                       void *, uint64_t *);
	char **(*get_child_names)(struct prodconf *, const char *, int32_t, size_t *);
	size_t (*get_child_values)(struct prodconf *, const char *, const char *, int32_t, uint32_t, char ***,
	                           void ***, uint64_t **);
	prodconf_valid_modes_fn capture_valid_values;
	prodconf_modes_fn capture_modes;
	prodconf_modes_fn capture_modes_by_frequency;
	prodconf_mode_to_value_fn capture_mode_to_value;
	prodconf_value_to_mode_fn capture_value_to_mode;
	int (*select_module)(struct prodconf *, int, uint32_t, const char *);
	prodconf_param_defaults_fn init_param_defaults;

	uint32_t states[PRODCONF_CHANNELS][PRODCONF_STATE_TYPES];
	GList *substreams[PRODCONF_CHANNELS];         // int sub-indexes
	GList *selected_modules[PRODCONF_CHANNELS];   // names, most recent first
	GHashTable *created_kinds[PRODCONF_CHANNELS]; // name -> prodconf_item_kind
	GList *param_callbacks[PRODCONF_CHANNELS];
	GList *temp_callbacks[PRODCONF_CHANNELS];
	GList *created_streams[PRODCONF_CHANNELS]; // stream ids the algorithms were made for
	int32_t capture_value[PRODCONF_CHANNELS];  // CaptureMode last accepted, 0 for none
	uint8_t capture_changed[PRODCONF_CHANNELS];
	uint32_t next_state_value[PRODCONF_STATE_TYPES];

	struct prodconf_node *root;
	GHashTable *sections; // top-level key -> node

	GHashTable *kinds;          // name -> prodconf_item_kind
	GHashTable *state_names;    // name -> prodconf_state
	GHashTable *constants_hash; // name -> intptr_t
	GHashTable *callbacks;      // name -> callback row
	GHashTable *functions;      // name -> prodconf_func
	GHashTable *macros;         // name -> text
	GHashTable *boot_states;    // name -> text
};

struct prodconf *prodconf_new(void);
void prodconf_free(struct prodconf *conf);

void prodconf_default_add_item(struct prodconf *conf, const char *name, prodconf_create_fn create,
                               prodconf_destroy_fn destroy, prodconf_start_fn start, int is_state,
                               uint32_t state_type);
void prodconf_add_constant(struct prodconf *conf, const char *name, intptr_t value);
void prodconf_add_function(struct prodconf *conf, const char *name, prodconf_func function);
// Registers a state name with a fixed value (the built-in table uses it).
void prodconf_add_state(struct prodconf *conf, const char *name, uint32_t type, uint32_t value);
const struct prodconf_state *prodconf_lookup_state(struct prodconf *conf, const char *name);
gboolean prodconf_lookup_constant(struct prodconf *conf, const char *name, intptr_t *value);
prodconf_func prodconf_lookup_function(struct prodconf *conf, const char *name, gboolean *found);
// Stores a boot parameter under a name so keys "NAME_value" become conditional.
gboolean prodconf_add_boot_state(struct prodconf *conf, const char *name, const char *value);

uint32_t prodconf_get_state(struct prodconf *conf, int channel, uint32_t type);
void prodconf_set_state(struct prodconf *conf, int channel, uint32_t type, uint32_t value);

int prodconf_select_module(struct prodconf *conf, int channel, uint32_t type, const char *name);
void *prodconf_create_item(struct prodconf *conf, struct control *engine, int32_t stream_id,
                           const char *name);
// The item of a kind created for a stream, or null.
void *prodconf_get_item(struct prodconf *conf, const char *name, int32_t stream_id);

// Whether a key makes a block conditional, and whether such a block applies.
gboolean prodconf_is_restriction_key(struct prodconf *conf, const char *key);
gboolean restriction_ok_with_state(struct prodconf *conf, struct prodconf_node *node, int32_t stream_id);

char **prodconf_get_child_names(struct prodconf *conf, const char *item, int32_t stream_id, size_t *count);

struct prodconf_node_handle *prodconf_get_node(struct prodconf *conf, const char *section, int32_t stream_id);
struct prodconf_node_handle *prodconf_get_child_node(struct prodconf *conf,
                                                     const struct prodconf_node_handle *handle,
                                                     const char *key, int32_t stream_id);
struct prodconf_node_iter *
prodconf_get_child_nodes(struct prodconf *conf, const struct prodconf_node_handle *handle, int32_t stream_id);
struct prodconf_node_handle *prodconf_node_iter_next(struct prodconf *conf, struct prodconf_node_iter *iter);
char *prodconf_node_get_string(struct prodconf *conf, const struct prodconf_node_handle *handle,
                               int32_t stream_id);
size_t prodconf_node_get_floats(struct prodconf *conf, const struct prodconf_node_handle *handle,
                                int32_t stream_id, float **values);
void prodconf_node_iter_free(struct prodconf_node_iter *iter);
void prodconf_node_handle_free(struct prodconf_node_handle *handle);

// The schema-driven reader.
gboolean prodconf_read_item(struct prodconf *conf, const struct prodconf_schema *schema, const char *item,
                            int32_t stream_id, void **record);
gboolean prodconf_read_item_array(struct prodconf *conf, const struct prodconf_schema *schema,
                                  const char *item, int32_t stream_id, void **records, size_t *count);
gboolean prodconf_read_entry(struct prodconf *conf, const char *item, const struct prodconf_field *field,
                             int32_t stream_id, void *destination, uint64_t *count);
size_t prodconf_get_child_values(struct prodconf *conf, const char *item, const char *group,
                                 int32_t stream_id, uint32_t kind, char ***names, void ***values,
                                 uint64_t **counts);

// Settings the daemon body needs of the product as a whole. The channel count
// comes from channel 0's product constants; the
// video-control flag from the optional boolean PRODUCT_CONSTANTS/video_control.
int prodconf_video_control(const struct prodconf *conf);
int prodconf_channel_count(const struct prodconf *conf);

// Loading the configuration files.
extern "C" int prodconf_load(struct prodconf *conf);
// A configuration the YAML scanner refuses ends the process through this
// function with status 1 (exit by default). A replacement that returns, as a
// fuzz target's does, makes prodconf_load give -1 with what was read so far.
// Returns the previous function; null restores exit.
typedef void (*prodconf_exit_fn)(int status);
prodconf_exit_fn prodconf_set_exit(prodconf_exit_fn fn);
// Runs every function named by a section's values as fn(conf, engine, argument).
void prodconf_run_function_list(struct prodconf *conf, struct control *engine, int32_t argument,
                                const char *section);
// Stream ids c * 256 of channel 0's "channels" constant; {0} without it.
GList *prodconf_default_stream_list(struct prodconf *conf);

extern const struct prodconf_schema prodconf_product_constants_schema;
/* Frees the texts a product-constants record holds and zeroes it. */
void prodconf_product_constants_clear(struct prodconf_product_constants *pc);
extern const struct prodconf_schema prodconf_area_config_schema;
