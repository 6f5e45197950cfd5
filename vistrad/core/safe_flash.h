#pragma once
// Files on flash are replaced atomically: written as "<name>.tmp" beside the
// target, flushed, renamed over it and the directory flushed, so a power cut
// leaves either the old file or the complete new one.

struct safe_flash_file {
	int fd; // the temporary file
	char *base_name;
	char *tmp_name;
	int dir_fd;
};

// Null when the directory cannot be opened or the temporary file not created.
struct safe_flash_file *safe_flashopen(const char *path);
// Replaces the target with the temporary file, or removes the temporary file
// when discard is set or it could not be flushed. 0, or minus the number of
// steps that failed. Always frees the replacement.
int safe_flashclose(struct safe_flash_file *file, int discard);
// 0; -1 when the file could not be opened, -2 when writing failed, -3 when the
// replacement failed. The text is written without its terminator.
int safe_write_string_to_flash(const char *path, const char *text);
