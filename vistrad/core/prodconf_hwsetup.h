#pragma once
// Turning the configuration's module names into objects per channel and
// stream, the callbacks it asks for, and undoing all of it at stop. These
// fill the hook slots of the product configuration object.

#include <glib.h>
#include <stdint.h>

#include "param_db.h"

struct prodconf;
struct control;

// A parameter callback a configuration can ask for by name. The registry
// keeps one row per name; each registration for a stream is a copy that
// remembers the id the parameter database gave it.
struct prodconf_param_callback {
	uint32_t param_id;
	int32_t callback_id;
	int32_t stream_id;
	param_callback_fn callback;
	const char *name; // static text
};

// What a parameter callback gets as its block.
struct prodconf_callback_block {
	struct prodconf *conf;
	int32_t stream_id;
};

void prodconf_add_param_callback(struct prodconf *conf, const char *name, uint32_t param_id,
                                 param_callback_fn callback);

int prodconf_run(struct prodconf *conf, struct control *engine, GList *stream_ids);
void setup_hardware_items(struct prodconf *conf, struct control *engine, int channel);
void prodconf_register_callbacks(struct prodconf *conf, struct control *engine, int32_t stream_id);
void prodconf_register_param_callback(struct prodconf *conf, struct control *engine, const char *name,
                                      int32_t stream_id);
void prodconf_register_temp_callback(struct prodconf *conf, struct control *engine, const char *item,
                                     int32_t stream_id);
int prodconf_create_algos(struct prodconf *conf, struct control *engine, int32_t stream_id);
int prodconf_destroy_algos(struct prodconf *conf, struct control *engine, int32_t stream_id);
int prodconf_start_items(struct prodconf *conf, struct control *engine, int32_t stream_id);
int prodconf_stop(struct prodconf *conf, struct control *engine);

// Frees a temperature record of a channel's list with its stream copy.
void prodconf_temp_record_free(gpointer record);
