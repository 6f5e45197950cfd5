#pragma once
// Captures the daemon's log levels 1, 2 and 4: each level in a memory file of
// its own, so that a test can tell at which level a message came, and all of
// them in order through the log's syslog hook.

#include <stdarg.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "core/debug_output.h"

// All a memory file holds, whatever its offset.
inline std::string memfd_text(int fd)
{
	std::string out;
	char buf[4096];
	off_t off = 0;
	ssize_t n;
	while ((n = pread(fd, buf, sizeof(buf), off)) > 0) {
		out.append(buf, (size_t)n);
		off += n;
	}
	return out;
}

inline void memfd_clear(int fd)
{
	if (ftruncate(fd, 0) == 0)
		lseek(fd, 0, SEEK_SET);
}

class LogCapture
{
      public:
	LogCapture()
	{
		debug_output_init();
		for (int i = 0; i < 3; i++) {
			level_fd_[i] = memfd_create("log", 0);
			debug_output_set_sinks(1u << i, DEBUG_OUTPUT_SINK_FD, level_fd_[i]);
			debug_output_set_sinks(1u << i, DEBUG_OUTPUT_SINK_SYSLOG, LOG_CAPTURE_PRIORITY);
		}
		all_fd() = memfd_create("log-all", 0);
		old_syslog_ = debug_output_set_syslog(in_order);
	}
	~LogCapture()
	{
		debug_output_set_syslog(old_syslog_);
		debug_output_free();
		for (int fd : level_fd_)
			close(fd);
		close(all_fd());
		all_fd() = -1;
	}
	// Every level, in the order written.
	std::string text() const
	{
		return memfd_text(all_fd());
	}
	// One level only: DEBUG_INFO, DEBUG_WARNING or DEBUG_ERROR.
	std::string text(uint32_t level) const
	{
		for (int i = 0; i < 3; i++)
			if (level == 1u << i)
				return memfd_text(level_fd_[i]);
		return "";
	}
	void clear()
	{
		for (int fd : level_fd_)
			memfd_clear(fd);
		memfd_clear(all_fd());
	}

      private:
	// A priority no daemon sink uses, so the hook knows its own sink.
	static constexpr int LOG_CAPTURE_PRIORITY = 0x7f;
	static int &all_fd()
	{
		static int fd = -1;
		return fd;
	}
	static void in_order(int priority, const char *format, va_list args)
	{
		if (priority != LOG_CAPTURE_PRIORITY || all_fd() < 0)
			return;
		char *text = nullptr;
		int len = vasprintf(&text, format, args);
		if (len < 0)
			return;
		std::string line(text, (size_t)len);
		free(text);
		if (line.empty())
			return;
		if (line.back() != '\n')
			line += '\n';
		if (write(all_fd(), line.data(), line.size()) < 0)
			return;
	}
	int level_fd_[3];
	debug_output_syslog_fn old_syslog_;
};
