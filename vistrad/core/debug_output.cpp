#include "debug_output.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

namespace
{

struct sink {
	uint32_t kind;
	int fd;
	int priority;
};

struct level {
	uint32_t configured;
	std::vector<sink> sinks;
};

level levels[DEBUG_OUTPUT_LEVELS];
// Both categories stay disabled until initialisation, so early callers are silent.
bool category_enabled[2];
debug_output_syslog_fn syslog_writer = vsyslog;

bool mask_valid(uint32_t mask)
{
	return (mask & 0xc0000000u) == 0;
}

int write_fd_sink(const sink &s, const char *format, va_list args)
{
	char *text = nullptr;
	int len = vasprintf(&text, format, args);
	if (len < 0)
		return -1;
	int result = 0;
	if (len > 0) {
		// Every message ends its line, so that two never run together.
		struct iovec parts[2] = {{text, (size_t)len}, {const_cast<char *>("\n"), 1}};
		int count = text[len - 1] == '\n' ? 1 : 2;
		ssize_t n = writev(s.fd, parts, count);
		if (n < len + count - 1)
			result = -1;
	}
	free(text);
	return result;
}

} // namespace

debug_output_syslog_fn debug_output_set_syslog(debug_output_syslog_fn fn)
{
	debug_output_syslog_fn old = syslog_writer;
	syslog_writer = fn ? fn : vsyslog;
	return old;
}

int debug_output_init(void)
{
	for (auto &l : levels) {
		l.configured = 0;
		l.sinks.clear();
	}
	category_enabled[0] = true;
	category_enabled[1] = false;
	return 0;
}

int debug_output_free(void)
{
	for (auto &l : levels) {
		l.configured = 0;
		l.sinks.clear();
		l.sinks.shrink_to_fit();
	}
	return 0;
}

void debug_output_add_sink(uint32_t level, uint32_t kind, int value)
{
	if (level >= DEBUG_OUTPUT_LEVELS)
		return;
	auto &sinks = levels[level].sinks;
	for (const sink &s : sinks)
		if (s.kind == kind)
			return;
	if (kind == DEBUG_OUTPUT_SINK_FD && value >= 0)
		sinks.push_back({DEBUG_OUTPUT_SINK_FD, value, -1});
	else if (kind == DEBUG_OUTPUT_SINK_SYSLOG)
		sinks.push_back({DEBUG_OUTPUT_SINK_SYSLOG, -1, value});
}

int debug_output_set_sinks(uint32_t mask, uint32_t kind, int value)
{
	if (!mask_valid(mask))
		return -1;
	for (uint32_t i = 0; i < DEBUG_OUTPUT_LEVELS; i++) {
		if (!(mask & (1u << i)))
			continue;
		levels[i].configured = 1u << i;
		debug_output_add_sink(i, kind, value);
	}
	return 0;
}

int debug_output_open(const char *path)
{
	if (!path)
		return -1;
	return open(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
}

int debug_output_close(int fd)
{
	return close(fd);
}

int debug_output_open_file(const char *path, uint32_t mask)
{
	int fd = debug_output_open(path);
	if (fd < 0)
		return -1;
	if (debug_output_set_sinks(mask, DEBUG_OUTPUT_SINK_FD, fd) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

int debug_output_enable_category(uint32_t category)
{
	if (category > 1)
		return -1;
	category_enabled[category] = true;
	return 0;
}

int debug_output_disable_category(uint32_t category)
{
	if (category > 1)
		return -1;
	category_enabled[category] = false;
	return 0;
}

int debug_output(uint32_t mask, uint32_t category, const char *format, ...)
{
	if (!mask_valid(mask) || category > 1)
		return -1;
	if (!category_enabled[category])
		return 0;

	int result = 0;
	for (uint32_t i = 0; i < DEBUG_OUTPUT_LEVELS; i++) {
		if (!(mask & (1u << i)))
			continue;
		if (!levels[i].configured)
			return -1;
		for (const sink &s : levels[i].sinks) {
			va_list args;
			va_start(args, format);
			if (s.kind == DEBUG_OUTPUT_SINK_FD) {
				if (write_fd_sink(s, format, args) < 0)
					result = -1;
			} else {
				syslog_writer(s.priority, format, args);
			}
			va_end(args);
		}
	}
	return result;
}

void debug_output_string(uint32_t mask, const char *text)
{
	debug_output(mask, 0, "%s", text);
}

void debug_output_hexdump(uint32_t mask, const void *bytes, int length)
{
	if (length < 1 || !bytes)
		return;
	const unsigned char *p = static_cast<const unsigned char *>(bytes);
	char line[24 * 3 + 1];
	int used = 0;
	for (int i = 0; i < length; i++) {
		snprintf(line + used, sizeof(line) - used, " %02x", p[i]);
		used += 3;
		if (used == 24 * 3) {
			debug_output(mask, 0, "%s", line);
			used = 0;
		}
	}
	if (used > 0)
		debug_output(mask, 0, "%s", line);
}
