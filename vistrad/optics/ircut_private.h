#pragma once
// What the IR-cut driver modules share.

#include <glib.h>
#include <stdint.h>

#include "ircut.h"

struct prodconf;
struct prodconf_schema;

// An object of the type with its set operation, destroy and private block.
struct ircut *ircut_make(uint32_t type, int (*set)(struct ircut *, int), void (*destroy)(struct ircut *),
                         void *priv);
// The daynight_switch answer for a set result: -255, or -4 on failure.
int ircut_switch_result(struct ircut *ircut, int day);
// The daynight_switch of most modules: the stream's first filter.
int ircut_first_filter_switch(struct platform *platform, int day, int32_t stream_id);

// Opens through the platform's open operation when there is one.
int ircut_open(struct platform *platform, const char *path, int flags);
// The module's settings record, or null after "Failed to read prodconf from file\n".
void *ircut_read_settings(struct prodconf *conf, const struct prodconf_schema *schema, int32_t stream_id);
// Starts the move on a new "Set ir filter thread" after joining *worker; -1
// (logged) when it cannot start.
int ircut_start_worker(GThread **worker, GThreadFunc move, void *data);
void ircut_join_worker(GThread **worker);
// Copies a pin name into a fixed 8-byte field, cut to 7 characters.
void ircut_pin_name(char out[8], const char *name);
