#pragma once
// Small interface tables over real parameters, installed in place of the
// ImageControl object builder by the test builds that wrap it.

#include <stdint.h>

struct dbus_api_config;
struct dbus_service;

// How many times the builder ran, for each stream id seen.
int test_tables_builds(int32_t stream_id);
void test_tables_reset_counts(void);
// The configuration record of the stream's last build (null for none).
const struct dbus_api_config *test_tables_last_config(int32_t stream_id);
