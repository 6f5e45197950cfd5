#include "prodconf_startup.h"

#include <glib.h>
#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

namespace
{

void default_startup_syslog(int priority, const char *message)
{
	int old_mask = setlogmask(LOG_UPTO(LOG_NOTICE));
	openlog("vistrad-startup", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
	syslog(priority, "%s", message);
	closelog();
	setlogmask(old_mask);
}

prodconf_startup_syslog_fn startup_syslog = default_startup_syslog;

void startup_log(int priority, const char *format, va_list args)
{
	char *message = g_strdup_vprintf(format, args);
	fputs(message, stderr);
	if (*message && !g_str_has_suffix(message, "\n"))
		fputc('\n', stderr);
	startup_syslog(priority, message);
	g_free(message);
}

} // namespace

void prodconf_startup_warning(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	startup_log(LOG_WARNING, format, args);
	va_end(args);
}

void prodconf_startup_error(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	startup_log(LOG_ERR, format, args);
	va_end(args);
}

prodconf_startup_syslog_fn prodconf_startup_set_syslog(prodconf_startup_syslog_fn fn)
{
	prodconf_startup_syslog_fn old = startup_syslog;
	startup_syslog = fn ? fn : default_startup_syslog;
	return old;
}
