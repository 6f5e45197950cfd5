// Models: loading, listing, deleting and the model record.
#include "model.h"

#include "error.h"
#include "map.h"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#define MODEL_STRUCT "tttisa(iitatats)a(iitatats)"

/* ---- reading models out of messages ---- */

static bool read_u64_list(sd_bus_message *m, const char *what, uint64_t *values, size_t *len,
                          kalunError **error)
{
	uint64_t *all = nullptr;
	size_t n = 0;
	int r = kalun_read_array(m, SD_BUS_TYPE_UINT64, &all, &n);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read %s array: %s", what, strerror(-r));
		return false;
	}
	if (n > KALUN_TENSOR_MAX_DIMS) {
		free(all);
		kalun_error_set(error, ERANGE, "Too many %s in message when reading tensor", what);
		return false;
	}
	if (n)
		memcpy(values, all, n * sizeof(uint64_t));
	free(all);
	*len = n;
	return true;
}

// The body of one "(iitatats)" element, the structure already entered.
static kalunTensor *read_tensor(sd_bus_message *m, kalunError **error)
{
	kalunTensor *t = kalun_tensor_new(error);
	if (!t)
		return nullptr;

	int32_t type = 0, layout = 0;
	uint64_t byte_size = 0;
	const char *name = nullptr;
	kalunTensorDims dims{};
	kalunTensorPitches pitches{};
	int r = sd_bus_message_read(m, "iit", &type, &layout, &byte_size);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read tensor metadata: %s", strerror(-r));
		goto fail;
	}
	if (!kalun_tensor_set_codes(t, type, layout, error))
		goto fail;
	if (byte_size == UINT64_MAX) {
		kalun_error_set(error, EOVERFLOW, "Tensor byte size larger than SIZE_MAX: %s",
		                strerror(EOVERFLOW));
		goto fail;
	}
	t->byte_size = byte_size;
	if (!read_u64_list(m, "dims", dims.dims, &dims.len, error) ||
	    !read_u64_list(m, "pitches", pitches.pitches, &pitches.len, error) ||
	    !kalunSetTensorDims(t, &dims, error) || !kalunSetTensorPitches(t, &pitches, error))
		goto fail;
	r = sd_bus_message_read(m, "s", &name);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read tensor name: %s", strerror(-r));
		goto fail;
	}
	t->name = strdup(name);
	if (!t->name) {
		kalun_error_set(error, ENOMEM, "Could not allocate tensor name string: %s", strerror(ENOMEM));
		goto fail;
	}
	r = sd_bus_message_exit_container(m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not exit tensor struct: %s", strerror(-r));
		goto fail;
	}
	return t;
fail:
	kalun_tensor_free(t);
	return nullptr;
}

static bool read_tensors(sd_bus_message *m, kalunTensor ***out, size_t *count, kalunError **error)
{
	int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(iitatats)");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not enter tensor array: %s", strerror(-r));
		return false;
	}
	size_t cap = 1, n = 0;
	auto **tensors = static_cast<kalunTensor **>(calloc(cap + 1, sizeof(kalunTensor *)));
	if (!tensors) {
		kalun_error_set(error, ENOMEM, "Could not allocate tensor array");
		return false;
	}
	for (;;) {
		r = sd_bus_message_enter_container(m, SD_BUS_TYPE_STRUCT, "iitatats");
		if (r < 0) {
			kalun_error_set(error, -r, "Could not enter tensor struct: %s", strerror(-r));
			goto fail;
		}
		if (r == 0)
			break;
		kalunTensor *t = read_tensor(m, error);
		if (!t)
			goto fail;
		if (n == cap) {
			// One spare entry stays NULL after the last tensor.
			auto **bigger = static_cast<kalunTensor **>(
			    realloc(tensors, (cap * 2 + 1) * sizeof(kalunTensor *)));
			if (!bigger) {
				kalun_tensor_free(t);
				kalun_error_set(error, ENOMEM, "Could not reallocate tensor array");
				goto fail;
			}
			tensors = bigger;
			cap *= 2;
		}
		tensors[n++] = t;
		tensors[n] = nullptr;
	}
	r = sd_bus_message_exit_container(m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not exit tensor array: %s", strerror(-r));
		goto fail;
	}
	*out = tensors;
	*count = n;
	return true;
fail:
	kalun_tensors_free(tensors, n);
	return false;
}

static void model_free(kalunModel *model)
{
	if (!model)
		return;
	free(model->name);
	kalun_tensors_free(model->inputs, model->num_inputs);
	kalun_tensors_free(model->outputs, model->num_outputs);
	free(model);
}

bool kalun_model_read(sd_bus_message *m, kalunConnection *conn, kalunModel **model, kalunError **error)
{
	*model = nullptr;
	int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_STRUCT, MODEL_STRUCT);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not enter base container: %s", strerror(-r));
		return false;
	}
	if (r == 0)
		return true;

	auto *mod = static_cast<kalunModel *>(calloc(1, sizeof(kalunModel)));
	if (!mod) {
		kalun_error_set(error, ENOMEM, "Failed to allocate localModel");
		return false;
	}
	uint64_t unit = 0;
	const char *name = nullptr;
	r = sd_bus_message_read(m, "tttis", &mod->size, &mod->id, &unit, &mod->access, &name);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read base message: %s", strerror(-r));
		goto fail;
	}
	mod->name = strdup(name);
	if (!mod->name) {
		kalun_error_set(error, ENOMEM, "Failed to allocate model name buffer");
		goto fail;
	}
	for (size_t i = 0; i < conn->num_devices; i++)
		if (conn->devices[i]->index == unit)
			mod->device = conn->devices[i];
	if (!mod->device) {
		kalun_error_set(error, EINVAL, "Could not find device from chip ID");
		goto fail;
	}
	if (!read_tensors(m, &mod->inputs, &mod->num_inputs, error) ||
	    !read_tensors(m, &mod->outputs, &mod->num_outputs, error))
		goto fail;
	r = sd_bus_message_exit_container(m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not exit base struct: %s", strerror(-r));
		goto fail;
	}
	*model = mod;
	return true;
fail:
	model_free(mod);
	return false;
}

/* ---- loading ---- */

static bool own_device(const kalunConnection *conn, const kalunDevice *dev)
{
	for (size_t i = 0; i < conn->num_devices; i++)
		if (conn->devices[i] == dev)
			return true;
	return false;
}

// The descriptor to send: a duplicate of the caller's, or an empty memory
// file for a unit that needs only parameters.
static int model_fd(kalunConnection *conn, int fd, const kalunMap *params, kalunError **error)
{
	if (fd >= 0) {
		int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
		if (copy < 0)
			kalun_error_set(error, errno, "Could not dup fd: %s", strerror(errno));
		return copy;
	}
	if (!params) {
		kalun_error_set(error, EBADF, "fd is negative while params is NULL");
		return -1;
	}
	if (kalun_map_size(params) == 0) {
		kalun_error_set(error, EINVAL, "fd is negative while params is empty");
		return -1;
	}
	int mem = memfd_create(conn->session_path, MFD_CLOEXEC);
	if (mem < 0)
		kalun_error_set(error, EINVAL, "Could not create temporary file: %s", strerror(errno));
	return mem;
}

static bool model_size(int fd, bool callers, uint64_t *size, kalunError **error)
{
	off_t end = lseek(fd, 0, SEEK_END);
	if (end < 0) {
		kalun_error_set(error, errno, "Could not get file size: %s", strerror(errno));
		return false;
	}
	if (lseek(fd, 0, SEEK_SET) < 0) {
		kalun_error_set(error, errno, "Could not rewind file offset: %s", strerror(errno));
		return false;
	}
	if (end == 0 && callers) {
		kalun_error_set(error, EINVAL, "Model is of size 0");
		return false;
	}
	*size = static_cast<uint64_t>(end);
	return true;
}

static bool send_load(kalunConnection *conn, int fd, uint64_t size, const kalunDevice *dev, int32_t access,
                      const char *name, const kalunMap *params, const kalun_pending *p, kalunError **error)
{
	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "QueueLoadModel", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
		return false;
	}
	r = sd_bus_message_append(m, "httist", fd, size, dev->index, access, name ? name : "",
	                          kalun_pending_tag(p));
	if (r < 0) {
		kalun_request_end(conn, m);
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
		return false;
	}
	if (params && !kalun_map_append(params, m, error)) {
		kalun_request_end(conn, m);
		return false;
	}
	r = kalun_request_send(conn, m);
	kalun_request_end(conn, m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not send message: %s", strerror(-r));
		return false;
	}
	return true;
}

bool kalunLoadModelAsync(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                         const char *name, const kalunMap *params, kalunLoadModelCallback callback,
                         void *userData, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!dev) {
		kalun_error_set(error, EINVAL, "kalunDevice is NULL");
		return false;
	}
	if (!callback) {
		kalun_error_set(error, EINVAL, "Callback function pointer is NULL");
		return false;
	}
	if (!own_device(conn, dev)) {
		kalun_error_set(error, ENODEV, "Device is not available for this connection");
		return false;
	}

	kalun_pending *p = kalun_pending_start(conn, KALUN_REQUEST_LOAD_MODEL, userData, error);
	if (!p)
		return false;
	p->callback.load = callback;

	uint64_t size = 0;
	int copy = model_fd(conn, fd, params, error);
	bool ok = copy >= 0 && model_size(copy, fd >= 0, &size, error) &&
	          send_load(conn, copy, size, dev, access, name, params, p, error);
	if (copy >= 0)
		close(copy);
	if (!ok) {
		kalun_pending_withdraw(conn, p);
		free(p);
	}
	return ok;
}

static const kalunDevice *device_of_chip(kalunConnection *conn, int32_t chip, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return nullptr;
	}
	for (size_t i = 0; i < conn->num_devices; i++)
		if (conn->devices[i]->chip == chip && conn->devices[i]->instance == 0)
			return conn->devices[i];
	kalun_error_set(error, ENODEV, "Could not find chip");
	return nullptr;
}

static bool current_chip(kalunConnection *conn, int32_t *chip, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	return kalunGetChipType(conn, chip, error);
}

static void load_done(kalunModel *model, void *userData, kalunError *err)
{
	auto *w = static_cast<kalun_waiter *>(userData);
	kalun_waiter_finish(w, [&](bool waiting) {
		if (!waiting) {
			// The caller gave up; nobody will take this record.
			model_free(model);
			return;
		}
		if (err) {
			kalun_error_set(w->error, err->code, "Could not load model: %s",
			                err->msg ? err->msg : "");
			model_free(model);
			return;
		}
		w->model = model;
		w->success = true;
	});
}

// Waits for a load that start() sent with load_done and the waiter.
template <typename Start> static kalunModel *load_sync(kalunConnection *conn, kalunError **error, Start start)
{
	kalun_waiter *w = kalun_waiter_new(conn, error);
	if (!w)
		return nullptr;
	w->error = error;
	if (!start(w)) {
		free(w);
		return nullptr;
	}
	kalun_waiter_wait(w, "Could not load model", "Could not wait for callback");
	kalunModel *model = w->model;
	kalun_waiter_unref(w);
	return model;
}

kalunModel *kalunLoadModel(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                           const char *name, const kalunMap *params, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return nullptr;
	}
	return load_sync(conn, error, [&](kalun_waiter *w) {
		return kalunLoadModelAsync(conn, fd, dev, access, name, params, load_done, w, error);
	});
}

extern "C" bool kalun_load_model_async_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                           const char *name, const kalunMap *params,
                                           kalunLoadModelCallback callback, void *userData,
                                           kalunError **error);
KALUN_SYMVER("kalun_load_model_async_2_0", "kalunLoadModelAsync@LIBKALUN_2.0.0");
bool kalun_load_model_async_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access, const char *name,
                                const kalunMap *params, kalunLoadModelCallback callback, void *userData,
                                kalunError **error)
{
	const kalunDevice *dev = device_of_chip(conn, chip, error);
	if (!dev)
		return false;
	return kalunLoadModelAsync(conn, fd, dev, access, name, params, callback, userData, error);
}

extern "C" kalunModel *kalun_load_model_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                            const char *name, const kalunMap *params, kalunError **error);
KALUN_SYMVER("kalun_load_model_2_0", "kalunLoadModel@LIBKALUN_2.0.0");
kalunModel *kalun_load_model_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                 const char *name, const kalunMap *params, kalunError **error)
{
	const kalunDevice *dev = device_of_chip(conn, chip, error);
	if (!dev)
		return nullptr;
	return kalunLoadModel(conn, fd, dev, access, name, params, error);
}

extern "C" bool kalun_load_model_async_1_0(kalunConnection *conn, int fd, int32_t access, const char *name,
                                           kalunLoadModelCallback callback, void *userData,
                                           kalunError **error);
KALUN_SYMVER("kalun_load_model_async_1_0", "kalunLoadModelAsync@LIBKALUN_1.0.0");
bool kalun_load_model_async_1_0(kalunConnection *conn, int fd, int32_t access, const char *name,
                                kalunLoadModelCallback callback, void *userData, kalunError **error)
{
	int32_t chip = 0;
	if (!current_chip(conn, &chip, error))
		return false;
	return kalun_load_model_async_2_0(conn, fd, chip, access, name, nullptr, callback, userData, error);
}

extern "C" kalunModel *kalun_load_model_1_0(kalunConnection *conn, int fd, int32_t access, const char *name,
                                            kalunError **error);
KALUN_SYMVER("kalun_load_model_1_0", "kalunLoadModel@LIBKALUN_1.0.0");
kalunModel *kalun_load_model_1_0(kalunConnection *conn, int fd, int32_t access, const char *name,
                                 kalunError **error)
{
	int32_t chip = 0;
	if (!current_chip(conn, &chip, error))
		return nullptr;
	return kalun_load_model_2_0(conn, fd, chip, access, name, nullptr, error);
}

bool kalunLoadModelAsync_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                       const char *name, const kalunMap *params,
                                       kalunLoadModelCallback callback, void *userData, kalunError **error)
{
	return kalun_load_model_async_2_0(conn, fd, chip, access, name, params, callback, userData, error);
}

kalunModel *kalunLoadModel_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                         const char *name, const kalunMap *params, kalunError **error)
{
	return kalun_load_model_2_0(conn, fd, chip, access, name, params, error);
}

bool kalunLoadModelAsync_API_VERSION_1(kalunConnection *conn, int fd, int32_t access, const char *name,
                                       kalunLoadModelCallback callback, void *userData, kalunError **error)
{
	return kalun_load_model_async_1_0(conn, fd, access, name, callback, userData, error);
}

kalunModel *kalunLoadModel_API_VERSION_1(kalunConnection *conn, int fd, int32_t access, const char *name,
                                         kalunError **error)
{
	return kalun_load_model_1_0(conn, fd, access, name, error);
}

/* ---- listing and deleting ---- */

void kalunDestroyModel(kalunModel **model)
{
	if (!model)
		return;
	model_free(*model);
	*model = nullptr;
}

void kalunDestroyModels(kalunModel ***models, size_t numModels)
{
	if (!models || !*models)
		return;
	for (size_t i = 0; i < numModels; i++)
		model_free((*models)[i]);
	free(*models);
	*models = nullptr;
}

static kalunModel **read_models(sd_bus_message *reply, kalunConnection *conn, size_t *count,
                                kalunError **error)
{
	size_t n = 0;
	auto **models = static_cast<kalunModel **>(calloc(1, sizeof(kalunModel *)));
	if (!models) {
		kalun_error_set(error, errno, "Failed to allocate models list");
		return nullptr;
	}
	int r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(" MODEL_STRUCT ")");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not enter model array: %s", strerror(-r));
		goto fail;
	}
	for (;;) {
		kalunModel *model = nullptr;
		if (!kalun_model_read(reply, conn, &model, error))
			goto fail;
		if (!model)
			break;
		auto **bigger = static_cast<kalunModel **>(realloc(models, (n + 2) * sizeof(kalunModel *)));
		if (!bigger) {
			kalun_error_set(error, errno, "Failed to reallocate models list");
			model_free(model);
			goto fail;
		}
		models = bigger;
		models[n++] = model;
		models[n] = nullptr;
	}
	r = sd_bus_message_exit_container(reply);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not exit model array: %s", strerror(-r));
		goto fail;
	}
	*count = n;
	return models;
fail:
	kalunDestroyModels(&models, n);
	return nullptr;
}

kalunModel **kalunGetModels(kalunConnection *conn, size_t *numModels, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return nullptr;
	}
	if (!numModels) {
		kalun_error_set(error, EINVAL, "numModels is NULL");
		return nullptr;
	}
	*numModels = 0;

	sd_bus_error bus_error = SD_BUS_ERROR_NULL;
	sd_bus_message *reply = nullptr;
	// The reply holds a reference on the bus, which the bus library counts
	// without atomics: it is read and dropped under the lock as well.
	pthread_mutex_lock(&conn->system_lock);
	int r =
	    sd_bus_get_property(conn->system_bus, KALUN_SERVICE_NAME, conn->session_path,
	                        KALUN_SESSION_INTERFACE, "Models", &bus_error, &reply, "a(" MODEL_STRUCT ")");
	kalunModel **models = r < 0 ? nullptr : read_models(reply, conn, numModels, error);
	sd_bus_message_unref(reply);
	pthread_mutex_unlock(&conn->system_lock);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not get models: %s",
		                bus_error.message ? bus_error.message : strerror(-r));
		sd_bus_error_free(&bus_error);
		return nullptr;
	}
	return models;
}

kalunModel *kalunGetModel(kalunConnection *conn, uint64_t modelId, kalunError **error)
{
	size_t n = 0;
	kalunModel **models = kalunGetModels(conn, &n, error);
	if (!models)
		return nullptr;
	kalunModel *found = nullptr;
	for (size_t i = 0; i < n && !found; i++) {
		if (models[i]->id == modelId) {
			found = models[i];
			models[i] = nullptr;
		}
	}
	kalunDestroyModels(&models, n);
	if (!found)
		kalun_error_set(error, KALUN_ERROR_MODEL_NOT_FOUND, "Could not find model with ID %" PRIu64,
		                modelId);
	return found;
}

bool kalunDeleteModel(kalunConnection *conn, const kalunModel *model, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!model) {
		kalun_error_set(error, EINVAL, "kalunModel is NULL");
		return false;
	}
	kalun_waiter *w = kalun_waiter_new(conn, error);
	if (!w)
		return false;
	w->error = error;
	kalun_pending *p = kalun_pending_start(conn, KALUN_REQUEST_DELETE_MODEL, w, error);
	if (!p) {
		free(w);
		return false;
	}
	p->callback.done = kalun_waiter_done;

	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "DeleteModel", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
	} else {
		r = sd_bus_message_append(m, "ttt", model->id, model->device->index, kalun_pending_tag(p));
		if (r < 0)
			kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
		else if ((r = kalun_request_send(conn, m)) < 0)
			kalun_error_set(error, -r, "Could not send message: %s", strerror(-r));
		kalun_request_end(conn, m);
	}
	if (r < 0) {
		kalun_pending_withdraw(conn, p);
		free(p);
		free(w);
		return false;
	}
	bool ok = kalun_waiter_wait(w, "Could not delete model", "Could not wait for delete model callback");
	kalun_waiter_unref(w);
	return ok;
}

/* ---- accessors ---- */

#define CHECK_MODEL(model, error, fail)                                                                      \
	do {                                                                                                 \
		if (!(model)) {                                                                              \
			kalun_error_set((error), EINVAL, "kalunModel is NULL");                              \
			return fail;                                                                         \
		}                                                                                            \
	} while (0)

uint64_t kalunGetModelId(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, UINT64_MAX);
	return model->id;
}

int32_t kalunGetModelChip(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, 0);
	return model->device->chip;
}

const kalunDevice *kalunGetModelDevice(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return model->device;
}

uint64_t kalunGetModelSize(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, 0);
	return model->size;
}

const char *kalunGetModelName(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return model->name;
}

int32_t kalunGetModelAccess(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, 0);
	return model->access;
}

size_t kalunGetModelNumInputs(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, 0);
	return model->num_inputs;
}

size_t kalunGetModelNumOutputs(const kalunModel *model, kalunError **error)
{
	CHECK_MODEL(model, error, 0);
	return model->num_outputs;
}

static size_t *byte_sizes(kalunTensor *const *tensors, size_t count, size_t *out_count, const char *what,
                          kalunError **error)
{
	auto *sizes = static_cast<size_t *>(calloc(count ? count : 1, sizeof(size_t)));
	if (!sizes) {
		kalun_error_set(error, errno, "Failed allocating %s byte size array: %s", what,
		                strerror(errno));
		return nullptr;
	}
	for (size_t i = 0; i < count; i++)
		sizes[i] = tensors[i]->byte_size;
	if (out_count)
		*out_count = count;
	return sizes;
}

size_t *kalunGetModelInputByteSizes(const kalunModel *model, size_t *numInputs, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return byte_sizes(model->inputs, model->num_inputs, numInputs, "input", error);
}

size_t *kalunGetModelOutputByteSizes(const kalunModel *model, size_t *numOutputs, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return byte_sizes(model->outputs, model->num_outputs, numOutputs, "output", error);
}

static kalunTensor **model_tensors(kalunTensor *const *tensors, size_t count, size_t *out_count,
                                   kalunError **error)
{
	kalunTensor **copies = kalun_tensors_copy(tensors, count, error);
	if (!copies)
		return nullptr;
	for (size_t i = 0; i < count; i++)
		copies[i]->fd_props = KALUN_FD_PROP_READWRITE;
	if (out_count)
		*out_count = count;
	return copies;
}

kalunTensor **kalunCreateModelInputs(const kalunModel *model, size_t *numTensors, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return model_tensors(model->inputs, model->num_inputs, numTensors, error);
}

kalunTensor **kalunCreateModelOutputs(const kalunModel *model, size_t *numTensors, kalunError **error)
{
	CHECK_MODEL(model, error, nullptr);
	return model_tensors(model->outputs, model->num_outputs, numTensors, error);
}
