// Tensors: the client's description of a model input or output with the
// buffer that holds its data.
#include "tensor.h"

#include "error.h"
#include "map.h"
#include "model.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#define KALUN_DATA_TYPE_LAST 13
#define KALUN_LAYOUT_LAST 4
#define KALUN_FD_PROPS_ALL 7u

/* ---- the record ---- */

kalunTensor *kalun_tensor_new(kalunError **error)
{
	auto *t = static_cast<kalunTensor *>(calloc(1, sizeof(kalunTensor)));
	if (!t) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return nullptr;
	}
	t->fd = -1;
	t->data_type = KALUN_TENSOR_DATA_TYPE_UNSPECIFIED;
	t->layout = KALUN_TENSOR_LAYOUT_UNSPECIFIED;
	return t;
}

void kalun_tensor_free(kalunTensor *tensor)
{
	if (!tensor)
		return;
	if (tensor->fd_owned && tensor->fd >= 0)
		close(tensor->fd);
	free(tensor->name);
	free(tensor);
}

void kalun_tensors_free(kalunTensor **tensors, size_t count)
{
	if (!tensors)
		return;
	for (size_t i = 0; i < count; i++)
		kalun_tensor_free(tensors[i]);
	free(tensors);
}

kalunTensor *kalun_tensor_copy(const kalunTensor *tensor, kalunError **error)
{
	auto *t = static_cast<kalunTensor *>(malloc(sizeof(kalunTensor)));
	if (!t) {
		kalun_error_set(error, ENOMEM, "Failed to allocate memory for new tensor: %s",
		                strerror(ENOMEM));
		return nullptr;
	}
	*t = *tensor;
	// One close per descriptor: the original keeps it.
	t->fd_owned = false;
	t->name = nullptr;
	if (tensor->name && !(t->name = strdup(tensor->name))) {
		free(t);
		kalun_error_set(error, ENOMEM, "Failed to allocate memory for tensor name: %s",
		                strerror(ENOMEM));
		return nullptr;
	}
	return t;
}

kalunTensor **kalun_tensors_copy(kalunTensor *const *tensors, size_t count, kalunError **error)
{
	auto **copies = static_cast<kalunTensor **>(calloc(count + 1, sizeof(kalunTensor *)));
	if (!copies) {
		kalun_error_set(error, ENOMEM, "Failed allocating memory for the tensor array");
		return nullptr;
	}
	for (size_t i = 0; i < count; i++) {
		copies[i] = kalun_tensor_copy(tensors[i], error);
		if (!copies[i]) {
			kalun_tensors_free(copies, i);
			return nullptr;
		}
	}
	return copies;
}

bool kalun_tensors_validate(kalunTensor *const *tensors, size_t count, kalunError **error)
{
	for (size_t i = 0; i < count; i++) {
		const kalunTensor *t = tensors[i];
		if (!t) {
			kalun_error_set(error, EINVAL, "Tensor %zu is null", i);
			return false;
		}
		if ((t->layout == KALUN_TENSOR_LAYOUT_NHWC || t->layout == KALUN_TENSOR_LAYOUT_NCHW) &&
		    t->dims.len != 0 && t->dims.len != 4) {
			kalun_error_set(error, EINVAL,
			                "Tensor %zu has layout NCHW and expects dimension length 4 or 0 "
			                "(got %zu)",
			                i, t->dims.len);
			return false;
		}
		if (t->pitches.len != 0) {
			if (t->dims.len != 0 && t->dims.len != t->pitches.len) {
				kalun_error_set(
				    error, EINVAL,
				    "Tensor %zu has unequal number of dims (%zu) and pitches (%zu)", i,
				    t->dims.len, t->pitches.len);
				return false;
			}
			if (t->byte_size != 0 && t->byte_size != t->pitches.pitches[0]) {
				kalun_error_set(error, EINVAL,
				                "Tensor %zu pitches values (pitches[0]=%" PRIu64
				                ") do not match byte size (%" PRIu64 ")",
				                i, t->pitches.pitches[0], t->byte_size);
				return false;
			}
		}
		if (t->fd_size != 0) {
			if (static_cast<uint64_t>(t->fd_offset) > t->fd_size) {
				kalun_error_set(error, EINVAL,
				                "Tensor %zu fd offset (%" PRId64
				                ") is greater than fd size (%" PRIu64 ")",
				                i, t->fd_offset, t->fd_size);
				return false;
			}
			// Compared as fd_size - offset < byte_size so that a huge byte
			// size cannot wrap the sum around.
			if (t->byte_size != 0 &&
			    t->fd_size - static_cast<uint64_t>(t->fd_offset) < t->byte_size) {
				kalun_error_set(error, EINVAL,
				                "Tensor %zu fd size (%" PRIu64
				                ") is less than required byte size (%" PRIu64
				                ") plus offset (%" PRId64 ")",
				                i, t->fd_size, t->byte_size, t->fd_offset);
				return false;
			}
		}
	}
	return true;
}

static int append_u64_array(sd_bus_message *m, const uint64_t *values, size_t n)
{
	return sd_bus_message_append_array(m, 't', values, n * sizeof(uint64_t));
}

bool kalun_tensors_append(sd_bus_message *m, kalunTensor *const *tensors, size_t count, kalunError **error)
{
	int r = sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "(iitatathtxtu)");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not enter tensor meta data array: %s", strerror(-r));
		return false;
	}
	for (size_t i = 0; i < count; i++) {
		const kalunTensor *t = tensors[i];
		r = sd_bus_message_open_container(m, SD_BUS_TYPE_STRUCT, "iitatathtxtu");
		if (r < 0) {
			kalun_error_set(error, -r, "Could not enter tensor container: %s", strerror(-r));
			return false;
		}
		r = sd_bus_message_append(m, "iit", t->data_type, t->layout, t->byte_size);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not append tensor data info: %s", strerror(-r));
			return false;
		}
		r = append_u64_array(m, t->dims.dims, t->dims.len);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not append tensor dimensions: %s", strerror(-r));
			return false;
		}
		r = append_u64_array(m, t->pitches.pitches, t->pitches.len);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not append tensor pitches: %s", strerror(-r));
			return false;
		}
		r = sd_bus_message_append(m, "htxtu", t->fd, t->fd_size, t->fd_offset, t->tensor_id,
		                          t->fd_props);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not append tensor fd details: %s", strerror(-r));
			return false;
		}
		r = sd_bus_message_close_container(m);
		if (r < 0) {
			kalun_error_set(error, -r, "Could not exit tensor container: %s", strerror(-r));
			return false;
		}
	}
	r = sd_bus_message_close_container(m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not exit tensor meta data array: %s", strerror(-r));
		return false;
	}
	return true;
}

/* ---- arrays ---- */

kalunTensor **kalunCreateTensors(size_t numTensors, kalunError **error)
{
	if (numTensors == 0) {
		kalun_error_set(error, EINVAL, "numTensors is 0, please create 1 tensor or more");
		return nullptr;
	}
	if (numTensors > SIZE_MAX / sizeof(kalunTensor *) - 1) {
		kalun_error_set(error, ENOMEM, "Failed allocating memory for the tensor array");
		return nullptr;
	}
	auto **tensors = static_cast<kalunTensor **>(calloc(numTensors + 1, sizeof(kalunTensor *)));
	if (!tensors) {
		kalun_error_set(error, ENOMEM, "Failed allocating memory for the tensor array");
		return nullptr;
	}
	for (size_t i = 0; i < numTensors; i++) {
		tensors[i] = kalun_tensor_new(error);
		if (!tensors[i]) {
			kalun_tensors_free(tensors, i);
			return nullptr;
		}
		tensors[i]->name = strdup("");
		if (!tensors[i]->name) {
			kalun_tensors_free(tensors, i + 1);
			kalun_error_set(error, ENOMEM, "Failed to allocate memory for tensor name");
			return nullptr;
		}
		if (!kalunSetTensorFdProps(tensors[i], KALUN_FD_PROP_READWRITE, nullptr)) {
			kalun_tensors_free(tensors, i + 1);
			kalun_error_set(error, 1, "Unable to initialize tensors properly (fd props)");
			return nullptr;
		}
	}
	return tensors;
}

extern "C" void kalun_destroy_tensors_1_0(kalunTensor ***tensors, size_t numTensors);
KALUN_SYMVER("kalun_destroy_tensors_1_0", "kalunDestroyTensors@LIBKALUN_1.0.0");
void kalun_destroy_tensors_1_0(kalunTensor ***tensors, size_t numTensors)
{
	if (!tensors || !*tensors)
		return;
	kalun_tensors_free(*tensors, numTensors);
	*tensors = nullptr;
}

void kalunDestroyTensors_API_VERSION_1(kalunTensor ***tensors, size_t numTensors)
{
	kalun_destroy_tensors_1_0(tensors, numTensors);
}

void kalun_waiter_done(void *userData, kalunError *err)
{
	auto *w = static_cast<kalun_waiter *>(userData);
	kalun_waiter_finish(w, [&](bool waiting) {
		if (!waiting)
			return;
		if (err)
			kalun_error_set(w->error, err->code, "%s", err->msg ? err->msg : "");
		else
			w->success = true;
	});
}

static bool send_dealloc(kalunConnection *conn, const uint64_t *ids, size_t count, kalunError **error)
{
	kalun_waiter *w = kalun_waiter_new(conn, nullptr);
	if (!w) {
		kalun_error_set(error, ENOMEM, "Could not allocate memory for message");
		return false;
	}
	w->error = error;
	kalun_pending *p = kalun_pending_start(conn, KALUN_REQUEST_DEALLOC_TENSORS, w, error);
	if (!p) {
		free(w);
		return false;
	}
	p->callback.done = kalun_waiter_done;

	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "DeallocTensors", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
	} else {
		if ((r = append_u64_array(m, ids, count)) < 0)
			kalun_error_set(error, -r, "Could not append tensor IDs to message: %s",
			                strerror(-r));
		else if ((r = sd_bus_message_append(m, "t", kalun_pending_tag(p))) < 0)
			kalun_error_set(error, -r, "Could not append request information to message: %s",
			                strerror(-r));
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

	bool ok = kalun_waiter_wait(w, "Could not destroy tensors", "Could not wait for callback");
	kalun_waiter_unref(w);
	return ok;
}

bool kalunDestroyTensors(kalunConnection *conn, kalunTensor ***tensors, size_t numTensors, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!tensors || !*tensors)
		return true;

	kalunTensor **array = *tensors;
	size_t tracked = 0;
	for (size_t i = 0; i < numTensors; i++)
		if (array[i] && array[i]->tensor_id)
			tracked++;
	uint64_t *ids = nullptr;
	if (tracked) {
		ids = static_cast<uint64_t *>(malloc(tracked * sizeof(uint64_t)));
		if (!ids) {
			kalun_error_set(error, ENOMEM, "Could not allocate memory for tracked tensors");
			return false;
		}
	}
	size_t n = 0;
	for (size_t i = 0; i < numTensors; i++)
		if (array[i] && array[i]->tensor_id)
			ids[n++] = array[i]->tensor_id;
	kalun_tensors_free(array, numTensors);
	*tensors = nullptr;

	if (!tracked)
		return true;
	bool ok = send_dealloc(conn, ids, tracked, error);
	free(ids);
	return ok;
}

bool kalunTrackTensor(kalunConnection *conn, kalunTensor *tensor, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!tensor) {
		kalun_error_set(error, EINVAL, "kalunTensor is NULL");
		return false;
	}
	if (tensor->fd < 0) {
		kalun_error_set(error, EINVAL, "Tensor's fd is negative");
		return false;
	}
	if (tensor->tensor_id) {
		kalun_error_set(error, EINVAL, "kalunTensor is already tracked");
		return false;
	}
	tensor->tensor_id = conn->next_tensor_id.fetch_add(1);
	return true;
}

/* ---- buffers the service allocates ---- */

// The completion on the bus thread. Nothing of the arrays is read past the
// shorter of the reply and the request.
static void alloc_done(void *userData, const int *fds, const uint64_t *fdSizes, const uint32_t *fdProps,
                       size_t count, kalunError *err)
{
	auto *w = static_cast<kalun_waiter *>(userData);
	kalun_waiter_finish(w, [&](bool waiting) {
		if (!waiting)
			return;
		if (err) {
			kalun_error_set(w->error, err->code, "Could not allocate tensors: %s",
			                err->msg ? err->msg : "");
			return;
		}
		if (count != w->num_tensors) {
			kalun_error_set(w->error, EPROTO,
			                "Could not allocate tensors: got %zu buffers for %zu tensors", count,
			                w->num_tensors);
			return;
		}
		int *dups = static_cast<int *>(calloc(count ? count : 1, sizeof(int)));
		if (!dups) {
			kalun_error_set(w->error, ENOMEM, "Could not dup fd: %s", strerror(ENOMEM));
			return;
		}
		for (size_t i = 0; i < count; i++) {
			dups[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 0);
			if (dups[i] < 0) {
				int e = errno;
				for (size_t j = 0; j < i; j++)
					close(dups[j]);
				free(dups);
				kalun_error_set(w->error, e, "Could not dup fd: %s", strerror(e));
				return;
			}
		}
		for (size_t i = 0; i < count; i++) {
			kalunTensor *t = w->tensors[i];
			t->fd = dups[i];
			t->fd_owned = true;
			t->fd_size = fdSizes[i];
			t->fd_props = fdProps[i];
		}
		free(dups);
		w->success = true;
	});
}

static bool send_alloc(kalunConnection *conn, const kalunModel *model, kalun_pending *p, uint8_t which,
                       uint32_t fdPropFlags, const kalunMap *params, kalun_waiter *w, kalunError **error)
{
	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "AllocTensors", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
		return false;
	}
	bool ok = false;
	uint64_t *ids = static_cast<uint64_t *>(calloc(w->num_tensors + 1, sizeof(uint64_t)));
	if (!ids) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		goto out;
	}
	for (size_t i = 0; i < w->num_tensors; i++)
		ids[i] = w->tensors[i]->tensor_id;
	if ((r = sd_bus_message_append(m, "tt", model->id, model->device->index)) < 0) {
		kalun_error_set(error, -r, "Could not append model ID to message: %s", strerror(-r));
		goto out;
	}
	if ((r = append_u64_array(m, ids, w->num_tensors)) < 0) {
		kalun_error_set(error, -r, "Could not append tensor IDs to message: %s", strerror(-r));
		goto out;
	}
	if ((r = sd_bus_message_append(m, "yut", which, fdPropFlags, kalun_pending_tag(p))) < 0) {
		kalun_error_set(error, -r, "Could not append tensor-allocation information to message: %s",
		                strerror(-r));
		goto out;
	}
	if (params && !kalun_map_append(params, m, error))
		goto out;
	if (!kalun_pending_register(conn, p, error))
		goto out;
	if ((r = kalun_request_send(conn, m)) < 0) {
		kalun_pending_withdraw(conn, p);
		kalun_error_set(error, -r, "Could not send message: %s", strerror(-r));
		goto out;
	}
	ok = true;
out:
	free(ids);
	kalun_request_end(conn, m);
	return ok;
}

static kalunTensor **alloc_tensors(kalunConnection *conn, const kalunModel *model, uint8_t which,
                                   uint32_t fdPropFlags, size_t *numTensors, const kalunMap *params,
                                   kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return nullptr;
	}
	if (!model) {
		kalun_error_set(error, EINVAL, "kalunModel is NULL");
		return nullptr;
	}
	size_t count = which == 0 ? model->num_inputs : model->num_outputs;
	kalunTensor **tensors = kalun_tensors_copy(which == 0 ? model->inputs : model->outputs, count, error);
	if (!tensors)
		return nullptr;
	for (size_t i = 0; i < count; i++)
		tensors[i]->tensor_id = conn->next_tensor_id.fetch_add(1);

	kalun_waiter *w = kalun_waiter_new(conn, error);
	auto *p = w ? static_cast<kalun_pending *>(calloc(1, sizeof(kalun_pending))) : nullptr;
	if (!p) {
		if (w)
			kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		free(w);
		kalun_tensors_free(tensors, count);
		return nullptr;
	}
	w->error = error;
	w->tensors = tensors;
	w->num_tensors = count;
	p->callback.alloc = alloc_done;
	p->user_data = w;
	p->kind = KALUN_REQUEST_ALLOC_TENSORS;
	if (!send_alloc(conn, model, p, which, fdPropFlags, params, w, error)) {
		free(p);
		free(w);
		kalun_tensors_free(tensors, count);
		return nullptr;
	}

	bool ok = kalun_waiter_wait(w, "Could not allocate tensors", "Could not wait for callback");
	kalun_waiter_unref(w);
	if (ok) {
		if (numTensors)
			*numTensors = count;
		return tensors;
	}
	// The service may hold buffers for these ids; its answer to the release
	// does not change the outcome reported.
	kalunDestroyTensors(conn, &tensors, count, nullptr);
	return nullptr;
}

kalunTensor **kalunAllocModelInputs(kalunConnection *conn, const kalunModel *model, uint32_t fdPropFlags,
                                    size_t *numTensors, const kalunMap *params, kalunError **error)
{
	return alloc_tensors(conn, model, 0, fdPropFlags, numTensors, params, error);
}

kalunTensor **kalunAllocModelOutputs(kalunConnection *conn, const kalunModel *model, uint32_t fdPropFlags,
                                     size_t *numTensors, const kalunMap *params, kalunError **error)
{
	return alloc_tensors(conn, model, 1, fdPropFlags, numTensors, params, error);
}

/* ---- setters and getters ---- */

#define CHECK_TENSOR(tensor, error, fail)                                                                    \
	do {                                                                                                 \
		if (!(tensor)) {                                                                             \
			kalun_error_set((error), EINVAL, "kalunTensor is NULL");                             \
			return fail;                                                                         \
		}                                                                                            \
	} while (0)

bool kalunSetTensorDims(kalunTensor *tensor, const kalunTensorDims *dims, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (!dims) {
		kalun_error_set(error, EINVAL, "kalunTensorDims is NULL");
		return false;
	}
	if (dims->len > KALUN_TENSOR_MAX_DIMS) {
		kalun_error_set(error, EINVAL, "dims len is too big (%zu > %u)", dims->len,
		                KALUN_TENSOR_MAX_DIMS);
		return false;
	}
	tensor->dims = *dims;
	return true;
}

const kalunTensorDims *kalunGetTensorDims(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, nullptr);
	return &tensor->dims;
}

bool kalunSetTensorPitches(kalunTensor *tensor, const kalunTensorPitches *pitches, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (!pitches) {
		kalun_error_set(error, EINVAL, "kalunTensorPitches is NULL");
		return false;
	}
	if (pitches->len > KALUN_TENSOR_MAX_DIMS) {
		kalun_error_set(error, EINVAL, "pitches len is too big (%zu > %u)", pitches->len,
		                KALUN_TENSOR_MAX_DIMS);
		return false;
	}
	tensor->pitches = *pitches;
	return true;
}

const kalunTensorPitches *kalunGetTensorPitches(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, nullptr);
	return &tensor->pitches;
}

// The codes are checked as integers: a value outside the enums' range must
// never be converted to them.
bool kalun_tensor_set_codes(kalunTensor *tensor, int64_t type, int64_t layout, kalunError **error)
{
	if (type == KALUN_TENSOR_DATA_TYPE_INVALID) {
		kalun_error_set(error, EINVAL,
		                "KALUN_TENSOR_DATA_TYPE_INVALID should not be set explicitly, it is "
		                "reserved to indicate errors");
		return false;
	}
	if (type < 0 || type > KALUN_DATA_TYPE_LAST) {
		kalun_error_set(error, EINVAL, "kalunTensorDataType enum value out of range");
		return false;
	}
	if (layout == KALUN_TENSOR_LAYOUT_INVALID) {
		kalun_error_set(error, EINVAL,
		                "KALUN_TENSOR_LAYOUT_INVALID should not be set explicitly, it is "
		                "reserved to indicate errors");
		return false;
	}
	if (layout < 0 || layout > KALUN_LAYOUT_LAST) {
		kalun_error_set(error, EINVAL, "kalunTensorLayout enum value out of range");
		return false;
	}
	tensor->data_type = static_cast<int32_t>(type);
	tensor->layout = static_cast<int32_t>(layout);
	return true;
}

bool kalunSetTensorDataType(kalunTensor *tensor, kalunTensorDataType type, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	return kalun_tensor_set_codes(tensor, static_cast<int64_t>(type), tensor->layout, error);
}

kalunTensorDataType kalunGetTensorDataType(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, KALUN_TENSOR_DATA_TYPE_INVALID);
	return static_cast<kalunTensorDataType>(tensor->data_type);
}

bool kalunSetTensorLayout(kalunTensor *tensor, kalunTensorLayout layout, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	return kalun_tensor_set_codes(tensor, tensor->data_type, static_cast<int64_t>(layout), error);
}

kalunTensorLayout kalunGetTensorLayout(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, KALUN_TENSOR_LAYOUT_INVALID);
	return static_cast<kalunTensorLayout>(tensor->layout);
}

bool kalunSetTensorFd(kalunTensor *tensor, int fd, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (fd == KALUN_INVALID_FD) {
		kalun_error_set(error, EINVAL,
		                "KALUN_INVALID_FD should not be set explicitly, it is reserved to "
		                "indicate errors");
		return false;
	}
	if (fd < 0) {
		kalun_error_set(error, EINVAL, "fd is negative");
		return false;
	}
	if (tensor->tensor_id) {
		kalun_error_set(error, EINVAL, "fd to an already tracked tensor can not be changed");
		return false;
	}
	tensor->fd = fd;
	return true;
}

int kalunGetTensorFd(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, KALUN_INVALID_FD);
	return tensor->fd;
}

bool kalunSetTensorFdSize(kalunTensor *tensor, size_t size, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (tensor->tensor_id) {
		kalun_error_set(error, EINVAL, "fd size to an already tracked tensor can not be changed");
		return false;
	}
	tensor->fd_size = size;
	return true;
}

bool kalunGetTensorFdSize(const kalunTensor *tensor, size_t *size, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (!size) {
		kalun_error_set(error, EINVAL, "size is NULL");
		return false;
	}
	*size = tensor->fd_size;
	return true;
}

bool kalunSetTensorFdOffset(kalunTensor *tensor, int64_t offset, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (offset < 0) {
		kalun_error_set(error, EINVAL, "negative offset values are not allowed");
		return false;
	}
	if (tensor->tensor_id) {
		kalun_error_set(error, EINVAL, "offset to an already tracked tensor can not be changed");
		return false;
	}
	tensor->fd_offset = offset;
	return true;
}

int64_t kalunGetTensorFdOffset(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, -1);
	return tensor->fd_offset;
}

bool kalunSetTensorFdProps(kalunTensor *tensor, uint32_t fdPropFlags, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (fdPropFlags < 1 || fdPropFlags > KALUN_FD_PROPS_ALL) {
		kalun_error_set(error, EINVAL, "Invalid fd props: %u", fdPropFlags);
		return false;
	}
	if (tensor->tensor_id) {
		kalun_error_set(error, EINVAL, "fd props to an already tracked tensor can not be changed");
		return false;
	}
	tensor->fd_props = fdPropFlags;
	return true;
}

bool kalunGetTensorFdProps(const kalunTensor *tensor, uint32_t *fdPropFlags, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (!fdPropFlags) {
		kalun_error_set(error, EINVAL, "fdPropFlags is NULL");
		return false;
	}
	*fdPropFlags = tensor->fd_props;
	return true;
}

const char *kalunGetTensorName(const kalunTensor *tensor, kalunError **error)
{
	CHECK_TENSOR(tensor, error, nullptr);
	if (!tensor->name) {
		kalun_error_set(error, EINVAL, "Tensor has no name");
		return nullptr;
	}
	return tensor->name;
}

bool kalunGetTensorByteSize(const kalunTensor *tensor, size_t *byteSize, kalunError **error)
{
	CHECK_TENSOR(tensor, error, false);
	if (!byteSize) {
		kalun_error_set(error, EINVAL, "byteSize is NULL");
		return false;
	}
	*byteSize = tensor->byte_size;
	return true;
}
