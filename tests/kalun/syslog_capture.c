/* Preloaded into a kalun started by the tests: every syslog line is
 * appended to the file named by KALUN_TEST_SYSLOG as "<priority> <text>",
 * so that a test can see what the daemon logged and that it logged nothing
 * when told not to. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

static void capture(int priority, const char *format, va_list args)
{
	const char *path = getenv("KALUN_TEST_SYSLOG");
	char line[4096];
	int n, fd;

	if (!path)
		return;
	n = snprintf(line, sizeof(line), "%d ", LOG_PRI(priority));
	n += vsnprintf(line + n, sizeof(line) - (size_t)n - 1, format, args);
	if (n > (int)sizeof(line) - 2)
		n = (int)sizeof(line) - 2;
	line[n++] = '\n';
	fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
	if (fd < 0)
		return;
	/* One write per line: lines of concurrent threads do not mix. */
	if (write(fd, line, (size_t)n) < 0) {
	}
	close(fd);
}

void vsyslog(int priority, const char *format, va_list args)
{
	capture(priority, format, args);
}

void syslog(int priority, const char *format, ...)
{
	va_list args;

	va_start(args, format);
	capture(priority, format, args);
	va_end(args);
}

void __vsyslog_chk(int priority, int flag, const char *format, va_list args)
{
	(void)flag;
	capture(priority, format, args);
}

void __syslog_chk(int priority, int flag, const char *format, ...)
{
	va_list args;

	(void)flag;
	va_start(args, format);
	capture(priority, format, args);
	va_end(args);
}
