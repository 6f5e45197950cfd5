#pragma once
// The one logging call of the daemon and its plug-ins: each level bit of a
// message's mask has its own sinks (a descriptor or a syslog priority).

#include <stdarg.h>
#include <stdint.h>

#define DEBUG_OUTPUT_LEVELS 30
#define DEBUG_OUTPUT_SINK_FD 1
#define DEBUG_OUTPUT_SINK_SYSLOG 2

#define DEBUG_INFO 1u
#define DEBUG_WARNING 2u
#define DEBUG_ERROR 4u
#define DEBUG_HISTOGRAM 8u
#define DEBUG_STATISTICS 16u
#define DEBUG_EXPOSURE 32u
#define DEBUG_WHITEBALANCE 64u
#define DEBUG_AREA 128u

int debug_output(uint32_t mask, uint32_t category, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int debug_output_init(void);
int debug_output_free(void);
int debug_output_set_sinks(uint32_t mask, uint32_t kind, int value);
void debug_output_add_sink(uint32_t level, uint32_t kind, int value);
int debug_output_open_file(const char *path, uint32_t mask);
int debug_output_open(const char *path);
int debug_output_close(int fd);
int debug_output_enable_category(uint32_t category);
int debug_output_disable_category(uint32_t category);
void debug_output_string(uint32_t mask, const char *text);
void debug_output_hexdump(uint32_t mask, const void *bytes, int length);

// Every syslog sink writes through this function (vsyslog by default), so
// that tests can see what would reach the system log. Null restores vsyslog.
typedef void (*debug_output_syslog_fn)(int priority, const char *format, va_list args);
debug_output_syslog_fn debug_output_set_syslog(debug_output_syslog_fn fn);
