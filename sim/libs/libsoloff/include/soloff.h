#ifndef SOLOFF_H
#define SOLOFF_H
/* Iris data of the fitted lens: which iris is fitted and, per iris type, the
 * data files that describe it (position tables, F-numbers, motor figures).
 *
 * This build is a stand-in. Everything comes from files under
 * $VISTRAD_ROOT/var/lib/soloff/ that tests write:
 *   type_id           the type id (10, no iris, when missing or not a number)
 *   irismgr           "1": the library manages the fitted iris
 *   range             "min_major min_minor max_major max_minor"
 *   files/<type id>/  one key file per iris data file, iterated by name:
 *       [header]  version=major;minor  revision=major;minor
 *       [tables]  F=...  A=...  (doubles)
 *       [values]  open_F best_F diffraction_F (doubles), nominal_speed
 *                 low_speed high_speed backout backlash (integers)
 *   fail              one function name per line: that call fails
 * A missing key makes its call fail; a file without a header does not
 * validate. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct iris_lib_header {
	int version_major;
	int version_minor;
	int revision_major;
	int revision_minor;
} iris_lib_header;

typedef struct iris_lib_table {
	int count;
	double *values;
} iris_lib_table;

typedef struct iris_lib_versioning_range {
	int min_major;
	int min_minor;
	int max_major;
	int max_minor;
} iris_lib_versioning_range;

typedef struct iris_lib_id_iterator iris_lib_id_iterator;

/* The type id of the fitted iris: 10 when none is fitted. */
int iris_lib_get_type_id(void);
/* Non-zero when the library manages the fitted iris. */
int iris_lib_irismgr_enabled(void);
/* Negative on failure. */
int iris_lib_get_versioning_range(iris_lib_versioning_range *range);

/* The data files of a type id; each name from next is the caller's to free
 * (NULL at the end). stop accepts NULL. */
iris_lib_id_iterator *iris_lib_id_iterator_start(int type_id);
char *iris_lib_id_iterator_next(iris_lib_id_iterator *iterator);
void iris_lib_id_iterator_stop(iris_lib_id_iterator *iterator);

/* 0 when the file is valid; *header is then the caller's to free. */
int iris_lib_validate_file(const char *name, iris_lib_header **header);
void iris_lib_free_header(iris_lib_header *header);

/* Negative on failure; *table is then the caller's to free. */
int iris_lib_get_F_table(const char *name, iris_lib_table **table);
int iris_lib_get_A_table(const char *name, iris_lib_table **table);
void iris_lib_free_table(iris_lib_table *table);

/* Negative on failure. */
int iris_lib_get_open_F_value(const char *name, double *F);
int iris_lib_get_best_F_value(const char *name, double *F);
int iris_lib_get_diffraction_F_value(const char *name, double *F);

/* 0 on success. */
int iris_lib_get_nominal_speed(const char *name, int *value);
int iris_lib_get_low_speed(const char *name, int *value);
int iris_lib_get_high_speed(const char *name, int *value);
int iris_lib_get_backout(const char *name, int *value);
int iris_lib_get_backlash(const char *name, int *value);

#ifdef __cplusplus
}
#endif

#endif
