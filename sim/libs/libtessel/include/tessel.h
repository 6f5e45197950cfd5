/*
 * libtessel stand-in: the part of the maker's event library that the image
 * daemon uses. A producer declares event properties (a set of keys, some with
 * fixed values read through pointers, one data key whose value the producer
 * keeps), gets an id for each declaration and later sends events that carry
 * the data key's new value.
 *
 * The stand-in records every call for tests (sim_tessel_*), and when the
 * environment names a system bus (DBUS_SYSTEM_BUS_ADDRESS) it also emits each
 * declaration, event and withdrawal as a signal of interface "sim.Tessel" at
 * "/sim/Tessel" on a connection of its own.
 */
#ifndef TESSEL_H
#define TESSEL_H

#include <glib.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Value type codes. */
#define TESSEL_TYPE_INT 1
#define TESSEL_TYPE_BOOL 2
#define TESSEL_TYPE_STRING 4

typedef struct event_producer event_producer;
typedef struct event_declaration event_declaration;
typedef struct event event;

/* Called when the library needs the current value of a data key. */
typedef event *(*event_property_fn)(event *ev, void *user_data);

event_producer *event_producer_new(const char *name, GMainContext *context);
/* The declaration's id (from 1), or -1 when it could not be declared. */
int32_t event_producer_declare(event_producer *producer, event_declaration *declaration);
void event_producer_undeclare(event_producer *producer, int32_t id);
/* An event for the declaration, or null when the id is unknown. */
event *event_producer_prepare_event(event_producer *producer, int32_t id);
void event_producer_send_event_async(event_producer *producer, event *ev);
void event_producer_free(event_producer *producer);

event_declaration *event_declaration_new(gboolean flag);
/* Values are read through the pointer when the declaration is declared:
 * a string for type 4, a 32-bit word for types 1 and 2. */
void event_declaration_add_key_value(event_declaration *declaration, const char *key, const void *value,
                                     int type);
void event_declaration_add_key(event_declaration *declaration, const char *key, int type);
void event_declaration_set_nice_names(event_declaration *declaration, const char *key, const char *key_nice,
                                      const char *value_nice);
void event_declaration_add_key_tag(event_declaration *declaration, const char *key, const char *tag);
void event_declaration_set_property(event_declaration *declaration, const char *key,
                                    event_property_fn callback, void *user_data);
void event_declaration_set_name_space(event_declaration *declaration, const char *key,
                                      const char *name_space);
void event_declaration_free(event_declaration *declaration);

/* The value is read through the pointer when the event is sent. */
event *event_set_value(event *ev, const char *key, const void *value);
void event_free(event *ev);

/* For tests. */
/* Forgets the log and every injected failure. */
void sim_tessel_reset(void);
/* The next n declarations fail with -1 (also set by SIM_TESSEL_FAIL_DECLARE=n
 * at the first producer of a process). */
void sim_tessel_fail_declare(int n);
/* Everything logged since the last take, a call a line (a declaration also
 * a line for each of its keys); free() it. */
char *sim_tessel_take_log(void);
/* Runs the property callback of a declared key on a fresh event, sends
 * nothing, and gives the value the callback set (-1 when it set none). */
int64_t sim_tessel_run_property(int32_t id, const char *key);
/* Producers, declarations and events alive now. */
int sim_tessel_live(void);

#ifdef __cplusplus
}
#endif

#endif
