/*
 * Files of the debug and tuning-data tools. The library's fixed directory
 * ("/mnt") lies under VISTRAD_ROOT when that is set, as every fixed path of
 * the daemon does; paths that callers give are used as they are.
 */
#ifndef CAMLIB_IMG_DSP_IK_FILES_H
#define CAMLIB_IMG_DSP_IK_FILES_H

#include <stddef.h>

/* The directory the library dumps into. */
#define IK_DUMP_DIR "/mnt"

/* `path` under the root prefix into `out`: 0, or -1 when it does not fit. */
int ik_root_path(const char *path, char *out, size_t size);
/* "<dir>/<name>" into `out`, the directory made first (mode 0777) when it
 * is missing: 0, or -1 when the path does not fit. */
int ik_dump_path(const char *dir, const char *name, char *out, size_t size);

/* Writes `size` bytes to a file opened write-only, created with mode 0666
 * and truncated, then closed (synced first when `sync` is set). The bytes
 * written, or -1 when the file cannot be opened. */
long ik_write_file(const char *path, const void *data, size_t size, bool sync);
/* Reads at most `size` bytes from the start of a file: the bytes read, or
 * -1 when it cannot be opened. */
long ik_read_file(const char *path, void *data, size_t size);

#endif
