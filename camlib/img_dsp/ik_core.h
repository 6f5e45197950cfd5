/*
 * Internals shared by the modules of the image-DSP library: the table of host
 * functions the library calls through, message helpers and the update list.
 */
#ifndef CAMLIB_IMG_DSP_IK_CORE_H
#define CAMLIB_IMG_DSP_IK_CORE_H

#include "img_dsp.h"

#include <stddef.h>
#include <stdint.h>

/* The library's own view of the host functions, filled by init_arch. */
typedef struct img_dsp_core_functions {
	void *(*memcpy_init)(void *, const void *, size_t);
	void *(*memcpy)(void *, const void *, size_t);
	void *(*memset)(void *, int, size_t);
	int (*memcmp)(const void *, const void *, size_t);
	img_dsp_ioctl_fn ioctl;
	img_dsp_sprintf_fn sprintf;
	double (*exp)(double);
	double (*sqrt)(double);
	double (*pow)(double, double);
	double (*round)(double);
	int (*printf)(const char *, ...);
	int (*mutex_create)(void *handle);
	int (*mutex_lock)(void *handle, int32_t timeout);
	int (*mutex_unlock)(void *handle);
} img_dsp_core_functions;

#define IK_WAIT_FOREVER (-1)

int img_dsp_core_register_functions(const img_dsp_core_functions *fns);
const img_dsp_core_functions *ik_fn(void);

#define ik_print(...) (ik_fn()->printf(__VA_ARGS__))
#define IK_ERROR(fmt, ...) ik_print("[IK][Error]%s() %d " fmt, __func__, __LINE__, ##__VA_ARGS__)
#define IK_WARN(fmt, ...) ik_print("[IK][Warning]%s() %d " fmt, __func__, __LINE__, ##__VA_ARGS__)
#define IK_DEBUG(fmt, ...) ik_print("[IK][Debug]%s() %d " fmt, __func__, __LINE__, ##__VA_ARGS__)

static inline void ik_memcpy(void *dst, const void *src, size_t n)
{
	ik_fn()->memcpy(dst, src, n);
}
static inline void ik_memset(void *dst, int v, size_t n)
{
	ik_fn()->memset(dst, v, n);
}
static inline int ik_lock(void *h)
{
	return ik_fn()->mutex_lock(h, IK_WAIT_FOREVER);
}
static inline int ik_unlock(void *h)
{
	return ik_fn()->mutex_unlock(h);
}

/* Sections a core step rewrote, reported to its caller. */
typedef struct img_dsp_update_entry {
	uint32_t valid;
	uint32_t reserved;
	void *section;
} img_dsp_update_entry;

#define IMG_DSP_UPDATE_LIST_LEN 8

typedef struct img_dsp_update_list {
	img_dsp_update_entry entry[IMG_DSP_UPDATE_LIST_LEN];
} img_dsp_update_list;

/*
 * The common setter and getter paths. A core step checks (clamping the
 * caller's block in place) and processes one filter on a locked context;
 * `index` is the HDR exposure or blend step of the setters that take one,
 * 0 for the others. The step reports the sections it rewrote in the list.
 */
typedef int (*img_dsp_core_step_fn)(const img_dsp_mode *mode, void *block, uint32_t index,
                                    img_dsp_update_list *list);
/* A call a setter makes under the context lock around its step: `before`
 * gets an empty list, `after` the list the step filled. */
typedef int (*img_dsp_setter_call_fn)(int fd, const img_dsp_mode *mode, void *block,
                                      const img_dsp_update_list *list);

enum img_dsp_pipe_rule {
	IK_PIPES_VIDEO_STILL, /* the public call refuses pipes other than 0 and 1 */
	IK_PIPES_VIDEO_ONLY,  /* the public call refuses every pipe but 0 */
	IK_PIPES_IN_CORE,     /* the core step makes the pipe test itself */
};

struct img_dsp_debug_hook;

/* What one public setter is, given once per setter as a const record. */
typedef struct img_dsp_setter {
	const char *name;                      /* the public setter's name, for messages */
	const struct img_dsp_debug_hook *hook; /* NULL: the setter has no log id */
	uint32_t block_size;                   /* of the caller's block, for the log record */
	img_dsp_core_step_fn step;
	enum img_dsp_pipe_rule rule;
	img_dsp_setter_call_fn before; /* optional */
	img_dsp_setter_call_fn after;  /* optional; its result replaces a successful step's */
} img_dsp_setter;

/* The setter path: debug hooks, lookup, lock, pipe rule, before, step,
 * after, unlock. `return_address` is the public setter's caller, which the
 * debug hooks print. */
int img_dsp_common_set(const img_dsp_setter *setter, const void *return_address, int fd,
                       const img_dsp_mode *mode, void *block, uint32_t index);
/* The same for the setters that take no profile stamps. */
int img_dsp_common_set_unstamped(const img_dsp_setter *setter, const void *return_address, int fd,
                                 const img_dsp_mode *mode, void *block, uint32_t index);
int img_dsp_common_get(const char *caller, const img_dsp_mode *mode, void *out, size_t block_offset,
                       size_t size, const char *block_name, enum img_dsp_pipe_rule rule);
/* The same two paths for the entries whose failed context lookup is worded
 * "Cannot get contex mutex", as the logs have always read. */
int img_dsp_common_set_contex(const img_dsp_setter *setter, const void *return_address, int fd,
                              const img_dsp_mode *mode, void *block, uint32_t index);
int img_dsp_common_get_contex(const char *caller, const img_dsp_mode *mode, void *out, size_t block_offset,
                              size_t size, const char *block_name, enum img_dsp_pipe_rule rule);

#endif
