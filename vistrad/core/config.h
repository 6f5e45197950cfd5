#pragma once
// User settings: the key file "/etc/vistrad/vistrad.conf", the one-time
// import of the older configuration files, and the defaults of parameters
// that still have no value.

#include <glib.h>

struct daemon_context;

// 1 when the key file or an imported configuration was applied, 0 when no
// configuration was available and the parameters got their defaults for the
// context's streams. Run at start and on SIGHUP.
int config_load(struct daemon_context *context);
// Writes the key file when a saved parameter changed since the last write.
void config_save_if_pending(void);
// Every parameter without a value gets its default, for each stream of the
// list (stream ids as list data) and then for stream -1.
void config_reset_unset_params(GList *stream_ids);
