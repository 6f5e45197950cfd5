#ifndef KEELSTONE_H
#define KEELSTONE_H
/* Boot parameters of the device (hardware id, optics, "root.*" defaults).
 *
 * This build is a stand-in: it reads "name=value" lines from
 * $VISTRAD_ROOT/var/lib/keelstone/params, which tests write. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct keelstone_param {
	char *name;
	char *value;
};

/* The value of a parameter, newly allocated (free()), or NULL with errno set. */
char *keelstone_get(const char *name);
/* Copies the value into buffer; 0 on success, -1 (errno set) when absent or too long. */
int keelstone_get_single(const char *name, char *buffer, size_t size);
/* Every parameter, ended by an entry with a NULL name; free with keelstone_free_all(). */
struct keelstone_param *keelstone_get_all(void);
void keelstone_free_all(struct keelstone_param *params);

#ifdef __cplusplus
}
#endif

#endif
