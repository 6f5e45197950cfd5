// Job requests and running them.
#include "connection.h"
#include "unavailable.h"

kalunJobRequest *kalunCreateJobRequest(const kalunModel *model, kalunTensor **inputs,
                                       size_t numInputs, kalunTensor **outputs,
                                       size_t numOutputs, const kalunMap *params,
                                       kalunError **error)
{
	(void)model, (void)inputs, (void)numInputs, (void)outputs, (void)numOutputs, (void)params;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

kalunJobRequest *kalunCreateInferenceRequest(const kalunModel *model, kalunTensor **inputs,
                                             size_t numInputs, kalunTensor **outputs,
                                             size_t numOutputs, kalunError **error)
{
	return kalunCreateJobRequest(model, inputs, numInputs, outputs, numOutputs, nullptr, error);
}

// The older request names are the same entry points as the newer ones.
KALUN_SYMVER("kalunDestroyJobRequest", "kalunDestroyInferenceRequest@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestInputs", "kalunSetInferenceRequestInputs@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestOutputs", "kalunSetInferenceRequestOutputs@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestModel", "kalunSetInferenceRequestModel@LIBKALUN_1.0.0");
KALUN_SYMVER("kalunSetJobRequestPriority", "kalunSetInferenceRequestPriority@LIBKALUN_1.0.0");

void kalunDestroyJobRequest(kalunJobRequest **jobReq)
{
	// Nothing makes a request yet.
	if (jobReq)
		*jobReq = nullptr;
}

bool kalunSetJobRequestInputs(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors,
                              kalunError **error)
{
	(void)jobReq, (void)tensors, (void)numTensors;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunSetJobRequestOutputs(kalunJobRequest *jobReq, kalunTensor **tensors,
                               size_t numTensors, kalunError **error)
{
	(void)jobReq, (void)tensors, (void)numTensors;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunSetJobRequestModel(kalunJobRequest *jobReq, const kalunModel *model,
                             kalunError **error)
{
	(void)jobReq, (void)model;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunSetJobRequestPriority(kalunJobRequest *jobReq, uint8_t priority, kalunError **error)
{
	(void)jobReq, (void)priority;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunSetJobRequestParams(kalunJobRequest *jobReq, const kalunMap *params,
                              kalunError **error)
{
	(void)jobReq, (void)params;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunRunJobAsync(kalunConnection *conn, const kalunJobRequest *jobReq,
                      kalunRunJobCallback callback, void *userData, kalunError **error)
{
	(void)conn, (void)jobReq, (void)callback, (void)userData;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunRunJob(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	(void)conn, (void)jobReq;
	KALUN_UNAVAILABLE(error);
	return false;
}

// The 2.0.0 forms synchronise dma-buf tensors before queueing.
extern "C" bool kalun_run_job_async_2_0(kalunConnection *conn, const kalunJobRequest *jobReq,
                                        kalunRunJobCallback callback, void *userData,
                                        kalunError **error);
KALUN_SYMVER("kalun_run_job_async_2_0", "kalunRunJobAsync@LIBKALUN_2.0.0");
bool kalun_run_job_async_2_0(kalunConnection *conn, const kalunJobRequest *jobReq,
                             kalunRunJobCallback callback, void *userData, kalunError **error)
{
	(void)conn, (void)jobReq, (void)callback, (void)userData;
	KALUN_UNAVAILABLE(error);
	return false;
}

extern "C" bool kalun_run_job_2_0(kalunConnection *conn, const kalunJobRequest *jobReq,
                                  kalunError **error);
KALUN_SYMVER("kalun_run_job_2_0", "kalunRunJob@LIBKALUN_2.0.0");
bool kalun_run_job_2_0(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error)
{
	(void)conn, (void)jobReq;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunRunJobAsync_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq,
                                    kalunRunJobCallback callback, void *userData,
                                    kalunError **error)
{
	return kalun_run_job_async_2_0(conn, jobReq, callback, userData, error);
}

bool kalunRunJob_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq,
                               kalunError **error)
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
