#pragma once
// User settings: the key file "/etc/vistrad/vistrad.conf", the one-time
// import of the older configuration files, and the defaults of parameters
// that still have no value.

#include <glib.h>
#include <stdint.h>

struct daemon_context;
struct param_def;

// One file of the older configuration; the lists end with a null path.
struct config_file {
	const char *path;
	int required;
};

// 1 when the key file or an imported configuration was applied, 0 when no
// configuration was available and the parameters got their defaults for the
// context's streams. Run at start and on SIGHUP.
int config_load(struct daemon_context *context);
// Writes the key file when a saved parameter changed since the last write.
// A failed write leaves the change pending, so a later call tries again.
void config_save_if_pending(void);
// Every parameter without a value gets its default, for each stream of the
// list (stream ids as list data) and then for stream -1.
void config_reset_unset_params(GList *stream_ids);

// The key file at the path ("/etc/vistrad/vistrad.conf" when null), comments
// kept, or null.
GKeyFile *config_load_keyfile(const char *path);
// Stores every value of the key file in the parameter database. Groups and
// keys it cannot use are kept aside and written back by the next save.
void config_apply_keyfile(GKeyFile *key_file, const struct param_def *map);
// A new key file holding every saved parameter whose value did not come from
// its default.
GKeyFile *config_backup(const struct param_def *map);
// 0, or the flash writer's failure code.
int config_write_keyfile(GKeyFile *key_file, const char *path);

// The stream ids the older parameter files name. result: 0 when they held a
// configuration, -1 when they held none, or a reading failure.
GList *config_read_legacy_params(struct daemon_context *context, const struct config_file *files,
                                 const struct param_def *map, int *result);
// The custom exposure window of a stream from the older window files.
int config_setup_custom_exposure_window(struct daemon_context *context, const struct config_file *files,
                                        int32_t stream_id);
bool stream_id_is_valid(int32_t stream_id);
