#ifndef LIBQUILLVANE_H
#define LIBQUILLVANE_H
/* The camera's status cache: programs publish named groups of typed values
 * for each other. A group is written or read as a NULL-terminated array of
 * pointers to entries; the library reads or fills each value through the
 * entry's pointer.
 *
 * This build is a stand-in: the groups live in the process's memory, and
 * the sim_sc_* calls let tests preload, inspect and break it. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Entry value types. */
#define SC_TYPE_INT 1
#define SC_TYPE_FLOAT 2

/* Flags of the group calls. */
#define SC_FLAG_WRITE 0  /* write a group that exists */
#define SC_FLAG_READ 1   /* read a group */
#define SC_FLAG_CREATE 2 /* write, creating the group when it is missing */

/* 32 bytes: the layout is the interface with the library. */
typedef struct sc_entry {
	const char *name;
	uint64_t size; /* of the value: 4 */
	void *value;
	uint32_t type;
} sc_entry;

/* 0, or negative when the group cannot be made. */
int sc_create_group(const char *name, int size, int flags);
/* The number of entries written, or negative (the group is missing and the
 * flags do not create it). */
int sc_set_group(const char *name, sc_entry **entries, int flags);
/* The number of entries read (those the group holds with the entry's type),
 * or negative when the group is missing. */
int sc_get_group(const char *name, sc_entry **entries, int flags);

/* For tests. */
/* Forgets every group, count and injected failure. */
void sim_sc_reset(void);
/* After `after` more calls of that name ("sc_create_group", "sc_set_group",
 * "sc_get_group") have run, the next one answers result without doing
 * anything. */
void sim_sc_fail(const char *call, int after, int result);
/* Stores a value, making the group when needed (not counted as a write). */
void sim_sc_put_int(const char *group, const char *entry, int32_t value);
void sim_sc_put_float(const char *group, const char *entry, float value);
/* 0 with the value, -1 when the group or entry is missing or of another type. */
int sim_sc_get_int(const char *group, const char *entry, int32_t *value);
int sim_sc_get_float(const char *group, const char *entry, float *value);
/* Successful sc_set_group calls on the group. */
int sim_sc_write_count(const char *group);
/* The size given at sc_create_group, -1 when the group was not created so. */
int sim_sc_group_size(const char *group);
/* The last array written to the group as the library read it, one entry a
 * line: "name size type value" (the value %d or %g); free() it. Null when
 * nothing was written. */
char *sim_sc_last_entries(const char *group);
/* Every call since the last take, one a line: "call group flags result";
 * free() it. */
char *sim_sc_take_log(void);

#ifdef __cplusplus
}
#endif

#endif
