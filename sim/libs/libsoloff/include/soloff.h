#ifndef SOLOFF_H
#define SOLOFF_H
/* Iris data of the fitted lens.
 *
 * This build is a stand-in: the type id is the number in
 * $VISTRAD_ROOT/var/lib/soloff/type_id, which tests write. */

#ifdef __cplusplus
extern "C" {
#endif

/* The type id of the fitted iris: 10 when none is fitted (also when the
 * stand-in's file is missing or holds no number). */
int iris_lib_get_type_id(void);

#ifdef __cplusplus
}
#endif

#endif
