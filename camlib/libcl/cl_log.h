/* The camera library's messages: each goes to syslog with its priority,
 * through one function that tests may replace to read them. */
#ifndef CAMLIB_LIBCL_CL_LOG_H
#define CAMLIB_LIBCL_CL_LOG_H

#include <syslog.h>

typedef void (*cl_log_fn)(int priority, const char *text);

void cl_log(int priority, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* What perror would print ("what: reason"), at error priority. */
void cl_perror(const char *what);
/* Replaces the sink; NULL restores syslog. */
void cl_set_log_fn(cl_log_fn fn);

#endif
