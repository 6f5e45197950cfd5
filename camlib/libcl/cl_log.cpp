#include "cl_log.h"

#include <atomic>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static std::atomic<cl_log_fn> log_sink{nullptr};

static void to_syslog(int priority, const char *text)
{
	syslog(priority, "%s", text);
}

void cl_log(int priority, const char *fmt, ...)
{
	char text[512];
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(text, sizeof text, fmt, ap);
	va_end(ap);
	cl_log_fn fn = log_sink.load();
	(fn ? fn : to_syslog)(priority, text);
}

void cl_perror(const char *what)
{
	int err = errno;
	char buf[128];
	cl_log(LOG_ERR, "%s: %s\n", what, strerror_r(err, buf, sizeof buf));
	errno = err;
}

void cl_set_log_fn(cl_log_fn fn)
{
	log_sink.store(fn);
}
