/*
 * The frame of the image-DSP library: host functions, registration, the thin
 * public entry points and the common setter and getter paths.
 */
#include "ik_arch.h"
#include "ik_cfg_print.h"
#include "ik_core.h"
#include "ik_ctx.h"
#include "ik_debug.h"
#include "ik_post.h"

#include <stdio.h>
#include <string.h>

/* Until the embedding program registers a host function, its slot does
 * nothing and answers zero of its type. */
static double default_exp(double)
{
	return 0.0;
}
static double default_sqrt(double)
{
	return 0.0;
}
static double default_pow(double, double)
{
	return 0.0;
}
static double default_round(double)
{
	return 0.0;
}
static void *default_memcpy(void *, const void *, size_t)
{
	return NULL;
}
static void *default_memset(void *, int, size_t)
{
	return NULL;
}
static int default_memcmp(const void *, const void *, size_t)
{
	return 0;
}
static int default_ioctl(int, unsigned long, void *)
{
	return 0;
}
static int default_sprintf(char *, const char *, ...)
{
	return 0;
}

static int mutex_create_nop(void *)
{
	return 0;
}
static int mutex_lock_nop(void *, int32_t)
{
	return 0;
}
static int mutex_unlock_nop(void *)
{
	return 0;
}

typedef struct img_dsp_host_hooks {
	double (*exp)(double);
	double (*sqrt)(double);
	double (*pow)(double, double);
	double (*round)(double);
	void *(*memcpy)(void *, const void *, size_t);
	void *(*memset)(void *, int, size_t);
	int (*memcmp)(const void *, const void *, size_t);
	img_dsp_ioctl_fn ioctl;
	img_dsp_sprintf_fn sprintf;
} img_dsp_host_hooks;

static img_dsp_host_hooks hooks = {
    default_exp,    default_sqrt,   default_pow,   default_round,   default_memcpy,
    default_memset, default_memcmp, default_ioctl, default_sprintf,
};

/* Messages may be printed before init_arch built the table (lookups on an
 * uninitialised library), so the table starts with the same defaults. */
static img_dsp_core_functions core_fns = {
    default_memcpy,  default_memcpy,   default_memset, default_memcmp,   default_ioctl,
    default_sprintf, default_exp,      default_sqrt,   default_pow,      default_round,
    printf,          mutex_create_nop, mutex_lock_nop, mutex_unlock_nop,
};

const img_dsp_core_functions *ik_fn(void)
{
	return &core_fns;
}

int img_dsp_core_register_functions(const img_dsp_core_functions *fns)
{
	if (!fns)
		return -1;
	core_fns = *fns;
	return 0;
}

extern "C" void vors_img_dsp_register_math_functions(const img_dsp_math_functions *fns)
{
	if (!fns)
		return;
	hooks.exp = fns->exp;
	hooks.sqrt = fns->sqrt;
	hooks.pow = fns->pow;
	hooks.round = fns->round;
}

extern "C" void vors_img_dsp_register_mem_functions(const img_dsp_mem_functions *fns)
{
	if (!fns)
		return;
	hooks.memset = fns->memset;
	hooks.memcpy = fns->memcpy;
	hooks.memcmp = fns->memcmp;
}

extern "C" void vors_img_dsp_register_ioctl(img_dsp_ioctl_fn fn)
{
	hooks.ioctl = fn;
}

extern "C" void vors_img_dsp_register_sprintf(img_dsp_sprintf_fn fn)
{
	hooks.sprintf = fn;
}

/* Messages always go through the process's own printf. */
extern "C" void vors_img_dsp_register_print(img_dsp_print_fn) {}

extern "C" int vors_img_dsp_init_arch(const img_dsp_arch_info *arch)
{
	img_dsp_core_functions fns = {
	    hooks.memcpy,  hooks.memcpy,     hooks.memset,   hooks.memcmp,     hooks.ioctl,
	    hooks.sprintf, hooks.exp,        hooks.sqrt,     hooks.pow,        hooks.round,
	    printf,        mutex_create_nop, mutex_lock_nop, mutex_unlock_nop,
	};
	if (img_dsp_core_register_functions(&fns) != 0) {
		IK_WARN("regist IKcore functions fail\n");
		return 0;
	}
	return img_dsp_core_init_arch(arch);
}

extern "C" int32_t vors_img_dsp_query_arch_mem_size(const img_dsp_arch_info *arch)
{
	return (int32_t)img_dsp_core_utility_get_arch_mem_size(arch);
}

extern "C" int vors_img_dsp_set_mem_addr(uint64_t user_base, uint64_t phys_base, uint32_t size)
{
	img_dsp_core_utility_set_mem_addr(user_base, phys_base, size);
	return 0;
}

extern "C" int vors_img_dsp_deinit_arch(void)
{
	return img_dsp_core_deinit_arch();
}

extern "C" int vors_img_dsp_init_ctx(uint8_t defblc_enable, const img_dsp_ctx_id *ctx,
                                     const img_dsp_ctx_id *src)
{
	return img_dsp_core_init_ctx(defblc_enable, ctx, src);
}

extern "C" int vors_img_dsp_init_cfg(const img_dsp_cfg_id *cfg, uint32_t algo_mode)
{
	return img_dsp_core_init_cfg(cfg, algo_mode);
}

extern "C" int vors_img_dsp_clone_iso_cfg(const img_dsp_cfg_id *dst, const img_dsp_cfg_id *src)
{
	return img_dsp_core_clone_iso_cfg(dst, src);
}

extern "C" int vors_img_dsp_pre_exe_cfg(const img_dsp_mode *mode)
{
	return img_dsp_core_pre_exe_cfg(mode);
}

extern "C" int vors_img_dsp_get_cfg_status(const img_dsp_cfg_id *cfg, img_dsp_cfg_status *out)
{
	return img_dsp_core_get_cfg_status(cfg, out);
}

extern "C" int vors_img_dsp_ctx_update_pending(uint32_t pipe, uint8_t ctx_id)
{
	if (!ik_video_or_still(pipe))
		return -1;
	img_dsp_ctx_id id = {pipe, ctx_id, {0, 0, 0}};
	void *ctx;
	if (img_dsp_core_utility_get_context(&id, &ctx) != 0)
		return -1;
	ik_lock(ctx);
	const uint8_t *flags = ik_body(pipe, ctx)->update_flags;
	int pending = 0;
	for (uint32_t i = 0; i < IK_UPDATE_FLAG_BYTES && !pending; i++)
		pending = flags[i] != 0;
	ik_unlock(ctx);
	return pending;
}

extern "C" int vors_img_dsp_print_hdr_cfg(const img_dsp_cfg_id *cfg)
{
	void *hdr = NULL;
	int rc = img_dsp_core_utility_get_hdr_config(cfg, &hdr);
	if (rc != 0)
		return rc;
	return img_dsp_core_utility_print_hdrcfg((const img_dsp_hdr_cfg *)hdr);
}

extern "C" int vors_img_dsp_get_context_tbl_idx(uint32_t, const img_dsp_ctx_id *ctx, uint32_t *out)
{
	img_dsp_core_utility_get_context_tbl_idx(0, ctx, out);
	return 0;
}

extern "C" int vors_img_dsp_get_lib_info(img_dsp_lib_info *out)
{
	if (!out)
		return -1;
	memset(out, 0, sizeof(*out));
	out->major = 1;
	out->minor = 48;
	strncpy(out->name, "zk8sdk_main", sizeof(out->name) - 1);
	return 0;
}

extern "C" int vors_img_dsp_post_exe_cfg(int fd, const img_dsp_mode *mode)
{
	switch (mode->AlgoMode) {
	case DSP_IMG_CORE_ALGO_MODE_LISO:
		return img_dsp_low_iso_post_exe_cfg(fd, mode);
	case DSP_IMG_CORE_ALGO_MODE_HISO:
		return -1;
	default:
		IK_ERROR("Incorrect AlgoMode %d\n", mode->AlgoMode);
		/* A refused call must not look done to the caller. */
		return -1;
	}
}

extern "C" void img_dsp_print_mode(const img_dsp_mode *mode)
{
	ik_print("[IK]     Pipe %d, Algo %d, Func %d, Ctx %d, Bch %d, Cfg %d \n", mode->Pipe, mode->AlgoMode,
	         mode->FuncMode, mode->ContextId, mode->BatchId, mode->ConfigId);
}

/* The short setter path of the tag, diagnostic id and size entries. */
static int short_set(const char *caller, const img_dsp_mode *mode,
                     int (*apply)(const img_dsp_mode *, const void *), const void *arg)
{
	void *ctx = NULL;
	int rc = ik_mode_ctx_mutex(caller, mode, IK_NO_CTX_MUTEX, &ctx);
	if (rc != 0)
		return rc;
	ik_lock(ctx);
	rc = apply(mode, arg);
	ik_unlock(ctx);
	return rc;
}

static int apply_tag(const img_dsp_mode *mode, const void *arg)
{
	return img_dsp_core_utility_set_iso_cfg_tag(mode, *(const uint32_t *)arg);
}

static int apply_diag(const img_dsp_mode *mode, const void *arg)
{
	return img_dsp_core_utility_set_diag_case_id(mode, *(const uint8_t *)arg);
}

static int apply_size(const img_dsp_mode *mode, const void *arg)
{
	return img_dsp_core_set_size_info(mode, (const img_dsp_size_info *)arg);
}

extern "C" int vors_img_dsp_set_iso_cfg_tag(const img_dsp_mode *mode, uint32_t tag)
{
	return short_set(__func__, mode, apply_tag, &tag);
}

extern "C" int vors_img_dsp_set_diag_case_id(const img_dsp_mode *mode, uint8_t id)
{
	return short_set(__func__, mode, apply_diag, &id);
}

extern "C" int vors_img_dsp_set_size_info(const img_dsp_mode *mode, const img_dsp_size_info *info)
{
	return short_set(__func__, mode, apply_size, info);
}

static int pipe_allowed(enum img_dsp_pipe_rule rule, uint32_t pipe)
{
	switch (rule) {
	case IK_PIPES_VIDEO_STILL:
		return ik_video_or_still(pipe);
	case IK_PIPES_VIDEO_ONLY:
		return pipe == IMG_DSP_PIPE_VIDEO;
	case IK_PIPES_IN_CORE:
		return 1;
	}
	return 0;
}

static void stamp(const img_dsp_setter *setter, bool stamped, uint32_t state)
{
	if (stamped)
		img_dsp_core_profile_stamp(setter->name, state, 0, 0);
}

static int common_set(const img_dsp_setter *setter, bool stamped, const char *no_mutex,
                      const void *return_address, int fd, const img_dsp_mode *mode, void *block,
                      uint32_t index)
{
	const char *caller = setter->name;
	if (setter->hook)
		img_dsp_debug_hooks(caller, return_address, setter->hook, mode, block, setter->block_size);
	void *ctx = NULL;
	int rc = ik_mode_ctx_mutex(caller, mode, no_mutex, &ctx);
	if (rc != 0)
		return rc;
	stamp(setter, stamped, IK_PROFILE_START);
	ik_lock(ctx);
	stamp(setter, stamped, IK_PROFILE_GET_MUTEX);
	if (!pipe_allowed(setter->rule, mode->Pipe)) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		ik_unlock(ctx);
		stamp(setter, stamped, IK_PROFILE_PROCESS);
		return -1;
	}
	/* The list lives here, not in the step, so the calls around the step
	 * see what it rewrote. */
	img_dsp_update_list list;
	memset(&list, 0, sizeof(list));
	if (setter->before)
		rc = setter->before(fd, mode, block, &list);
	if (rc == 0 || rc == IMG_DSP_CLAMPED)
		rc = setter->step(mode, block, index, &list);
	if (setter->after && rc != IMG_DSP_FAIL) {
		int after = setter->after(fd, mode, block, &list);
		if (after != 0)
			rc = after;
	}
	ik_unlock(ctx);
	stamp(setter, stamped, IK_PROFILE_PROCESS);
	return rc;
}

int img_dsp_common_set(const img_dsp_setter *setter, const void *return_address, int fd,
                       const img_dsp_mode *mode, void *block, uint32_t index)
{
	return common_set(setter, true, IK_NO_CTX_MUTEX, return_address, fd, mode, block, index);
}

int img_dsp_common_set_unstamped(const img_dsp_setter *setter, const void *return_address, int fd,
                                 const img_dsp_mode *mode, void *block, uint32_t index)
{
	return common_set(setter, false, IK_NO_CTX_MUTEX, return_address, fd, mode, block, index);
}

int img_dsp_common_set_contex(const img_dsp_setter *setter, const void *return_address, int fd,
                              const img_dsp_mode *mode, void *block, uint32_t index)
{
	return common_set(setter, true, IK_NO_CONTEX_MUTEX, return_address, fd, mode, block, index);
}

static int common_get(const char *caller, const char *no_mutex, const img_dsp_mode *mode, void *out,
                      size_t block_offset, size_t size, const char *block_name, enum img_dsp_pipe_rule rule)
{
	if (!out) {
		ik_print("[IK][Error]%s() %d %s is empty\n", caller, __LINE__, block_name);
		return -1;
	}
	void *ctx = NULL;
	int rc = ik_mode_ctx_mutex(caller, mode, no_mutex, &ctx);
	if (rc != 0)
		return rc;
	ik_lock(ctx);
	ik_ctx_body *body = ik_body(mode->Pipe, ctx);
	if (!pipe_allowed(rule, mode->Pipe) || !body) {
		ik_print("[IK][Error]%s() %d does not support pipe %d\n", caller, __LINE__, mode->Pipe);
		ik_unlock(ctx);
		return -1;
	}
	ik_memcpy(out, (const uint8_t *)body + block_offset, size);
	ik_unlock(ctx);
	return 0;
}

int img_dsp_common_get(const char *caller, const img_dsp_mode *mode, void *out, size_t block_offset,
                       size_t size, const char *block_name, enum img_dsp_pipe_rule rule)
{
	return common_get(caller, IK_NO_CTX_MUTEX, mode, out, block_offset, size, block_name, rule);
}

int img_dsp_common_get_contex(const char *caller, const img_dsp_mode *mode, void *out, size_t block_offset,
                              size_t size, const char *block_name, enum img_dsp_pipe_rule rule)
{
	return common_get(caller, IK_NO_CONTEX_MUTEX, mode, out, block_offset, size, block_name, rule);
}
