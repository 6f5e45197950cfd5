#include "safe_flash.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "debug_output.h"

struct safe_flash_file *safe_flashopen(const char *path)
{
	if (!path)
		return nullptr;
	char *dir = g_path_get_dirname(path);
	int dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dir_fd < 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not open %s, reason: %s\n", "safe_flashopen", dir,
		             strerror(errno));
		g_free(dir);
		return nullptr;
	}
	g_free(dir);
	char *base = g_path_get_basename(path);
	char *tmp = g_strconcat(base, ".tmp", nullptr);
	int fd = openat(dir_fd, tmp, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not open %s, reason: %s\n", "safe_flashopen", tmp,
		             strerror(errno));
		close(dir_fd);
		g_free(base);
		g_free(tmp);
		return nullptr;
	}
	safe_flash_file *file = g_new0(safe_flash_file, 1);
	file->fd = fd;
	file->base_name = base;
	file->tmp_name = tmp;
	file->dir_fd = dir_fd;
	return file;
}

static int remove_temporary(struct safe_flash_file *file)
{
	if (unlinkat(file->dir_fd, file->tmp_name, 0) == 0)
		return 0;
	debug_output(DEBUG_WARNING, 0, "%s: failed to unlink file %s reason %s\n", "safe_flashclose",
	             file->tmp_name, strerror(errno));
	return -1;
}

static int move_into_place(struct safe_flash_file *file)
{
	if (renameat(file->dir_fd, file->tmp_name, file->dir_fd, file->base_name) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: could not rename %s to %s, reason: %s\n",
		             "safe_flashclose", file->tmp_name, file->base_name, strerror(errno));
		return -1;
	}
	if (fsync(file->dir_fd) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: fsync() of of directory failed, reason: %s\n",
		             "safe_flashclose", strerror(errno));
		return -1;
	}
	return 0;
}

int safe_flashclose(struct safe_flash_file *file, int discard)
{
	if (!file)
		return -1;
	int result = 0;
	// A file that could not be flushed may not be complete on flash: it must
	// never replace the target, so it is dropped like a failed write.
	if (fsync(file->fd) != 0) {
		result = -1;
		debug_output(DEBUG_WARNING, 0, "%s: fsynch() of %s failed, reason: %s\n", "safe_flashclose",
		             file->tmp_name, strerror(errno));
		discard = 1;
	}
	if (close(file->fd) != 0) {
		result--;
		debug_output(DEBUG_WARNING, 0, "%s: failed to close file %s (fd %d), reason %s\n",
		             "safe_flashclose", file->tmp_name, file->fd, strerror(errno));
	} else {
		result += discard ? remove_temporary(file) : move_into_place(file);
	}
	if (close(file->dir_fd) != 0) {
		result--;
		debug_output(DEBUG_WARNING, 0, "%s: failed to close directory, reason %s\n",
		             "safe_flashclose", strerror(errno));
	}
	g_free(file->base_name);
	g_free(file->tmp_name);
	g_free(file);
	return result;
}

int safe_write_string_to_flash(const char *path, const char *text)
{
	safe_flash_file *file = safe_flashopen(path);
	if (!file) {
		debug_output(DEBUG_WARNING, 0, "%s: Unable to open file for writing\n",
		             "safe_write_string_to_flash");
		return -1;
	}
	size_t length = text ? strlen(text) : 0;
	ssize_t written = write(file->fd, text ? text : "", length);
	if (written < 0 || (size_t)written != length) {
		debug_output(DEBUG_WARNING, 0, "%s: could not write to fd = %d, reason %s\n",
		             "safe_write_string_to_flash", file->fd,
		             written < 0 ? strerror(errno) : "short write");
		safe_flashclose(file, 1);
		return -2;
	}
	if (safe_flashclose(file, 0) != 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Unable to close file\n", "safe_write_string_to_flash");
		return -3;
	}
	return 0;
}
