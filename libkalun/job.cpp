// Job requests and running them.
#include "error.h"
#include "map.h"
#include "model.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>

#define KALUN_PRIORITY_MAX 100
#define KALUN_PRIORITY_DEFAULT 50
#define DMA_SYNC_ATTEMPTS 8

struct kalunJobRequest {
	uint64_t model_id;
	uint64_t device_index;
	kalunTensor **inputs;
	size_t num_inputs;
	kalunTensor **outputs;
	size_t num_outputs;
	kalunMap *params;
	uint8_t priority;
};

void kalunDestroyJobRequest(kalunJobRequest **jobReq)
{
	if (!jobReq || !*jobReq)
		return;
	kalunJobRequest *req = *jobReq;
	kalun_tensors_free(req->inputs, req->num_inputs);
	kalun_tensors_free(req->outputs, req->num_outputs);
	kalunDestroyMap(&req->params);
	free(req);
	*jobReq = nullptr;
}

// Copies and validates one side of a request; what names the side in the
// messages ("input" or "output", "Input" or "Output").
static kalunTensor **copy_side(kalunTensor **tensors, size_t count, const char *what, const char *What,
                               kalunError **error)
{
	auto **copies = static_cast<kalunTensor **>(calloc(count + 1, sizeof(kalunTensor *)));
	if (!copies) {
		kalun_error_set(error, ENOMEM, "Could not allocate job request %ss", what);
		return nullptr;
	}
	for (size_t i = 0; i < count; i++) {
		if (!tensors[i]) {
			kalun_error_set(error, EINVAL, "%s tensor %zu is NULL", What, i);
			kalun_tensors_free(copies, i);
			return nullptr;
		}
		copies[i] = kalun_tensor_copy(tensors[i], error);
		if (!copies[i]) {
			kalun_error_prefix(error, "Could not duplicate %s tensor: ", what);
			kalun_tensors_free(copies, i);
			return nullptr;
		}
	}
	if (!kalun_tensors_validate(copies, count, error)) {
		kalun_error_prefix(error, "%s tensors are invalid: ", What);
		kalun_tensors_free(copies, count);
		return nullptr;
	}
	return copies;
}

kalunJobRequest *kalunCreateJobRequest(const kalunModel *model, kalunTensor **inputs, size_t numInputs,
                                       kalunTensor **outputs, size_t numOutputs, const kalunMap *params,
                                       kalunError **error)
{
	if (!model) {
		kalun_error_set(error, EINVAL, "Model pointer is NULL");
		return nullptr;
	}
	if (!inputs) {
		kalun_error_set(error, EINVAL, "Input tensors pointer is NULL");
		return nullptr;
	}
	if (!outputs) {
		kalun_error_set(error, EINVAL, "Output tensors pointer is NULL");
		return nullptr;
	}
	if (numInputs != model->num_inputs) {
		kalun_error_set(error, EINVAL,
		                "Number of input tensors does not match model (got %zu, expected %zu)",
		                numInputs, model->num_inputs);
		return nullptr;
	}
	if (numOutputs != model->num_outputs) {
		kalun_error_set(error, EINVAL,
		                "Number of output tensors does not match model (got %zu, expected %zu)",
		                numOutputs, model->num_outputs);
		return nullptr;
	}

	auto *req = static_cast<kalunJobRequest *>(calloc(1, sizeof(kalunJobRequest)));
	if (!req) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return nullptr;
	}
	req->model_id = model->id;
	req->device_index = model->device->index;
	req->priority = KALUN_PRIORITY_DEFAULT;
	req->inputs = copy_side(inputs, numInputs, "input", "Input", error);
	if (!req->inputs)
		goto fail;
	req->num_inputs = numInputs;
	req->outputs = copy_side(outputs, numOutputs, "output", "Output", error);
	if (!req->outputs)
		goto fail;
	req->num_outputs = numOutputs;
	if (params && !(req->params = kalun_map_copy(params, error)))
		goto fail;
	return req;
fail:
	kalunDestroyJobRequest(&req);
	return nullptr;
}

kalunJobRequest *kalunCreateInferenceRequest(const kalunModel *model, kalunTensor **inputs, size_t numInputs,
                                             kalunTensor **outputs, size_t numOutputs, kalunError **error)
{
	return kalunCreateJobRequest(model, inputs, numInputs, outputs, numOutputs, nullptr, error);
}

// The older request names are the same entry points as the newer ones.
KALUN_SYMVER("kalunDestroyJobRequest", "kalunDestroyInferenceRequest@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestInputs", "kalunSetInferenceRequestInputs@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestOutputs", "kalunSetInferenceRequestOutputs@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestModel", "kalunSetInferenceRequestModel@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestPriority", "kalunSetInferenceRequestPriority@LIBKALUN_1.0.0");

static bool replace_side(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors, bool inputs,
                         const char *null_text, kalunError **error)
{
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "Job request pointer is NULL");
		return false;
	}
	if (numTensors == 0) {
		kalun_error_set(error, EINVAL, "numTensors must be non-zero");
		return false;
	}
	if (!tensors) {
		kalun_error_set(error, EINVAL, "%s", null_text);
		return false;
	}
	// Validated before copying, so a refused array leaves the request as
	// it was.
	if (!kalun_tensors_validate(tensors, numTensors, error))
		return false;
	kalunTensor **copies = kalun_tensors_copy(tensors, numTensors, error);
	if (!copies)
		return false;
	kalunTensor ***side = inputs ? &jobReq->inputs : &jobReq->outputs;
	size_t *count = inputs ? &jobReq->num_inputs : &jobReq->num_outputs;
	kalun_tensors_free(*side, *count);
	*side = copies;
	*count = numTensors;
	return true;
}

bool kalunSetJobRequestInputs(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors,
                              kalunError **error)
{
	return replace_side(jobReq, tensors, numTensors, true, "Tensors pointer is NULL", error);
}

bool kalunSetJobRequestOutputs(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors,
                               kalunError **error)
{
	return replace_side(jobReq, tensors, numTensors, false, "Tensor pointer is NULL", error);
}

bool kalunSetJobRequestModel(kalunJobRequest *jobReq, const kalunModel *model, kalunError **error)
{
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "Job request argument is NULL");
		return false;
	}
	if (!model) {
		kalun_error_set(error, EINVAL, "Model argument is NULL");
		return false;
	}
	jobReq->model_id = model->id;
	return true;
}

bool kalunSetJobRequestPriority(kalunJobRequest *jobReq, uint8_t priority, kalunError **error)
{
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "Pointer jobReq is NULL");
		return false;
	}
	if (priority > KALUN_PRIORITY_MAX) {
		kalun_error_set(error, EINVAL, "Priority argument is too large (%hhu > %hhu)", priority,
		                static_cast<uint8_t>(KALUN_PRIORITY_MAX));
		return false;
	}
	jobReq->priority = priority;
	return true;
}

bool kalunSetJobRequestParams(kalunJobRequest *jobReq, const kalunMap *params, kalunError **error)
{
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "jobReq is NULL");
		return false;
	}
	if (!params) {
		kalun_error_set(error, EINVAL, "params is NULL");
		return false;
	}
	kalunDestroyMap(&jobReq->params);
	jobReq->params = kalun_map_copy(params, error);
	return jobReq->params != nullptr;
}

static bool send_job(kalunConnection *conn, const kalunJobRequest *jobReq, const kalun_pending *p,
                     kalunError **error)
{
	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "QueueJob", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create message: %s", strerror(-r));
		return false;
	}
	bool ok = false;
	r = sd_bus_message_append(m, "ttyt", jobReq->model_id, jobReq->device_index, jobReq->priority,
	                          kalun_pending_tag(p));
	if (r < 0) {
		kalun_error_set(error, -r, "Could not append job request information to message: %s",
		                strerror(-r));
	} else if (!kalun_tensors_append(m, jobReq->inputs, jobReq->num_inputs, error)) {
		kalun_error_prefix(error, "Could not append input tensors to message: ");
	} else if (!kalun_tensors_append(m, jobReq->outputs, jobReq->num_outputs, error)) {
		kalun_error_prefix(error, "Could not append output tensors to message: ");
	} else if (jobReq->params && !kalun_map_append(jobReq->params, m, error)) {
		// the map's own message stands
	} else if ((r = kalun_request_send(conn, m)) < 0) {
		kalun_error_set(error, -r, "Could not send message: %s", strerror(-r));
	} else {
		ok = true;
	}
	kalun_request_end(conn, m);
	return ok;
}

bool kalunRunJobAsync(kalunConnection *conn, const kalunJobRequest *jobReq, kalunRunJobCallback callback,
                      void *userData, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "Pointer argument jobReq is NULL");
		return false;
	}
	if (!callback) {
		kalun_error_set(error, EINVAL, "Callback function pointer is NULL");
		return false;
	}
	if (jobReq->num_inputs == 0 || jobReq->num_outputs == 0 || jobReq->priority > KALUN_PRIORITY_MAX ||
	    jobReq->model_id == UINT64_MAX) {
		kalun_error_set(error, EINVAL, "Job request contains invalid options");
		return false;
	}

	kalun_pending *p = kalun_pending_start(conn, KALUN_REQUEST_JOB, userData, error);
	if (!p)
		return false;
	p->callback.done = callback;
	if (!send_job(conn, jobReq, p, error)) {
		kalun_pending_withdraw(conn, p);
		free(p);
		return false;
	}
	return true;
}

typedef bool (*run_async_fn)(kalunConnection *, const kalunJobRequest *, kalunRunJobCallback, void *,
                             kalunError **);

static bool run_sync(kalunConnection *conn, const kalunJobRequest *jobReq, run_async_fn run,
                     kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	kalun_waiter *w = kalun_waiter_new(conn, error);
	if (!w)
		return false;
	w->error = error;
	if (!run(conn, jobReq, kalun_waiter_done, w, error)) {
		free(w);
		return false;
	}
	bool ok = kalun_waiter_wait(w, "Could not run job", "Could not wait for callback");
	kalun_waiter_unref(w);
	return ok;
}

bool kalunRunJob(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	return run_sync(conn, jobReq, kalunRunJobAsync, error);
}

/* ---- the 2.0.0 forms: dma-buf cache synchronisation first ---- */

static bool dma_sync(int fd, uint64_t flags, kalunError **error)
{
	struct dma_buf_sync sync = {flags};
	unsigned delay_ms = 1;
	int e = 0;
	for (int attempt = 1; attempt <= DMA_SYNC_ATTEMPTS; attempt++) {
		if (ioctl(fd, DMA_BUF_IOCTL_SYNC, &sync) == 0)
			return true;
		e = errno;
		if ((e != EAGAIN && e != EINTR) || attempt == DMA_SYNC_ATTEMPTS)
			break;
		struct timespec pause = {0, static_cast<long>(delay_ms) * 1000000L};
		nanosleep(&pause, nullptr);
		delay_ms *= 2;
	}
	kalun_error_set(error, e, "Failed dma buf cache sync: %s", strerror(e));
	return false;
}

static bool sync_side(kalunTensor *const *tensors, size_t count, uint64_t start, uint64_t end,
                      kalunError **error)
{
	for (size_t i = 0; i < count; i++) {
		const kalunTensor *t = tensors[i];
		if (!(t->fd_props & KALUN_FD_PROP_DMABUF))
			continue;
		if (!dma_sync(t->fd, start, error) || !dma_sync(t->fd, end, error))
			return false;
	}
	return true;
}

static bool sync_request(const kalunJobRequest *jobReq, kalunError **error)
{
	if (!jobReq) {
		kalun_error_set(error, EINVAL, "Pointer argument jobReq is NULL");
		return false;
	}
	return sync_side(jobReq->inputs, jobReq->num_inputs, DMA_BUF_SYNC_START | DMA_BUF_SYNC_WRITE,
	                 DMA_BUF_SYNC_END | DMA_BUF_SYNC_WRITE, error) &&
	       sync_side(jobReq->outputs, jobReq->num_outputs, DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ,
	                 DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ, error);
}

extern "C" bool kalun_run_job_async_2_0(kalunConnection *conn, const kalunJobRequest *jobReq,
                                        kalunRunJobCallback callback, void *userData, kalunError **error);
KALUN_SYMVER("kalun_run_job_async_2_0", "kalunRunJobAsync@LIBKALUN_2.0.0");
bool kalun_run_job_async_2_0(kalunConnection *conn, const kalunJobRequest *jobReq,
                             kalunRunJobCallback callback, void *userData, kalunError **error)
{
	if (!sync_request(jobReq, error))
		return false;
	return kalunRunJobAsync(conn, jobReq, callback, userData, error);
}

extern "C" bool kalun_run_job_2_0(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error);
KALUN_SYMVER("kalun_run_job_2_0", "kalunRunJob@LIBKALUN_2.0.0");
bool kalun_run_job_2_0(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	return run_sync(conn, jobReq, kalun_run_job_async_2_0, error);
}

bool kalunRunJobAsync_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq,
                                    kalunRunJobCallback callback, void *userData, kalunError **error)
{
	return kalun_run_job_async_2_0(conn, jobReq, callback, userData, error);
}

bool kalunRunJob_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	return kalun_run_job_2_0(conn, jobReq, error);
}

bool kalunRunInferenceAsync(kalunConnection *conn, const kalunJobRequest *jobReq,
                            kalunRunJobCallback callback, void *userData, kalunError **error)
{
	return kalun_run_job_async_2_0(conn, jobReq, callback, userData, error);
}

bool kalunRunInference(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	return kalun_run_job_2_0(conn, jobReq, error);
}
