#pragma once
// Start-up log: standard error and syslog "vistrad-startup", for messages
// written before the daemon's own log sinks exist.
void prodconf_startup_warning(const char *format, ...) __attribute__((format(printf, 1, 2)));
void prodconf_startup_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
typedef void (*prodconf_startup_syslog_fn)(int priority, const char *message);
prodconf_startup_syslog_fn prodconf_startup_set_syslog(prodconf_startup_syslog_fn fn);
