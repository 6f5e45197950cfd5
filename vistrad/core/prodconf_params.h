#pragma once
// The PARAMS section: parameter defaults, ranges and reset values per stream,
// and the D-Bus API configuration published from it.

// Declarations marked extern "C" keep plain symbol names: tests stand in
// for them at link time (ld --wrap) whatever the compiler mangles.
#include <stddef.h>
#include <stdint.h>

struct prodconf;
struct control;
struct param_def;

// Gets one parameter's keys below PARAMS with their value arrays (read as
// the parameter's type) and counts.
typedef int (*prodconf_params_handler)(const struct param_def *def, int32_t stream_id, char **keys,
                                       size_t key_count, void **values, uint64_t *counts, void *argument);

// Calls the handler for every parameter PARAMS names for the stream.
void read_params_from_yaml(struct prodconf *conf, int32_t stream_id, prodconf_params_handler handler,
                           void *argument);
// Sets RESET values.
int react_to_reset_values(const struct param_def *def, int32_t stream_id, char **keys, size_t key_count,
                          void **values, uint64_t *counts, void *argument);
// Stores DEFAULT, MIN, MAX and VALID_VALUES; reset_flag (an int, may be
// null) also resets the parameter to its new default.
int react_to_default_values(const struct param_def *def, int32_t stream_id, char **keys, size_t key_count,
                            void **values, uint64_t *counts, void *reset_flag);

// The initialiser of the object's init_param_defaults slot.
int init_default_parameter_ranges(struct prodconf *conf, int32_t stream_id, int reset);
// Sets the stream's parameters listed under RESET back to their values.
extern "C" int prodconf_apply_reset_values(struct prodconf *conf, int32_t stream_id);
// Hands the stream's D-Bus API configuration, fitted to the hardware found,
// to the front-end. -1 when the configuration has none.
extern "C" int prodconf_publish_dbus_api_config(struct prodconf *conf, struct control *engine,
                                                int32_t stream_id);
