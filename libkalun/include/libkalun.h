/*
 * libkalun: the client library of the inference service kalun.
 *
 * Every call that can fail takes, as its last argument, the address of a
 * kalunError pointer (or NULL). The caller passes a location that holds NULL
 * and frees a record left there after a failure with kalunClearError().
 * Callbacks of asynchronous calls run on the connection's own thread
 * "kalunbusproc"; the error record they receive is freed when they return.
 *
 * Programs written for an older interface may define KALUN_API_VERSION to 1
 * or 2 before including this header: the load, job and tensor-destroy calls
 * then take the arguments of that interface.
 */
#ifndef LIBKALUN_H
#define LIBKALUN_H

#include <limits.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KALUN_TENSOR_MAX_DIMS 12
#define KALUN_INVALID_FD INT_MIN

/* Codes that the library itself uses besides errno values and the service's
 * negative result codes. */
#define KALUN_ERROR_CONNECTION_CLOSED (-6)
#define KALUN_ERROR_MODEL_NOT_FOUND (-4)

typedef struct kalunError {
	int32_t code;
	char *msg;
} kalunError;

typedef struct kalunConnection kalunConnection;
typedef struct kalunDevice kalunDevice;
typedef struct kalunModel kalunModel;
typedef struct kalunTensor kalunTensor;
typedef struct kalunJobRequest kalunJobRequest;
typedef struct kalunMap kalunMap;

typedef enum kalunTensorDataType {
	KALUN_TENSOR_DATA_TYPE_INVALID = 0,
	KALUN_TENSOR_DATA_TYPE_UNSPECIFIED = 1,
	KALUN_TENSOR_DATA_TYPE_BOOL = 2,
	KALUN_TENSOR_DATA_TYPE_UINT8 = 3,
	KALUN_TENSOR_DATA_TYPE_INT8 = 4,
	KALUN_TENSOR_DATA_TYPE_INT16 = 6,
	KALUN_TENSOR_DATA_TYPE_INT32 = 8,
	KALUN_TENSOR_DATA_TYPE_INT64 = 10,
	KALUN_TENSOR_DATA_TYPE_FLOAT16 = 11,
	KALUN_TENSOR_DATA_TYPE_FLOAT32 = 12,
} kalunTensorDataType;

typedef enum kalunTensorLayout {
	KALUN_TENSOR_LAYOUT_INVALID = 0,
	KALUN_TENSOR_LAYOUT_UNSPECIFIED = 1,
	KALUN_TENSOR_LAYOUT_NHWC = 2,
	KALUN_TENSOR_LAYOUT_NCHW = 3,
	KALUN_TENSOR_LAYOUT_420SP = 4,
} kalunTensorLayout;

#define KALUN_FD_PROP_READWRITE 1u
#define KALUN_FD_PROP_MAP 2u
#define KALUN_FD_PROP_DMABUF 4u

#define KALUN_MODEL_ACCESS_PRIVATE 1
#define KALUN_MODEL_ACCESS_PUBLIC 2

/* Chip ids of the service's units. */
#define KALUN_CHIP_DEBUG 1
#define KALUN_CHIP_CPU 2
#define KALUN_CHIP_LIBYUV 11

typedef struct kalunTensorDims {
	uint64_t dims[KALUN_TENSOR_MAX_DIMS];
	size_t len;
} kalunTensorDims;

typedef struct kalunTensorPitches {
	uint64_t pitches[KALUN_TENSOR_MAX_DIMS];
	size_t len;
} kalunTensorPitches;

typedef void (*kalunLoadModelCallback)(kalunModel *model, void *userData, kalunError *error);
typedef void (*kalunRunJobCallback)(void *userData, kalunError *error);

/* Errors */
void kalunClearError(kalunError **error);

/* Connection */
bool kalunConnect(kalunConnection **conn, kalunError **error);
bool kalunDisconnect(kalunConnection **conn, kalunError **error);
bool kalunGetNumSessions(kalunConnection *conn, uint64_t *numSessions, kalunError **error);

/* Devices */
const kalunDevice *const *kalunListDevices(kalunConnection *conn, size_t *numDevices, kalunError **error);
const kalunDevice *kalunGetDevice(kalunConnection *conn, const char *name, uint32_t instance,
                                  kalunError **error);
const char *kalunGetDeviceName(const kalunDevice *dev, kalunError **error);
bool kalunGetDeviceInstance(const kalunDevice *dev, uint32_t *instance, kalunError **error);

/* Chips: the older way of choosing a device, through the connection's
 * current device. */
bool kalunListChips(kalunConnection *conn, int32_t **chips, size_t *numChips, kalunError **error);
bool kalunGetChipType(kalunConnection *conn, int32_t *chipType, kalunError **error);
const char *kalunGetChipName(int32_t chip);
bool kalunGetChipId(kalunConnection *conn, uint64_t *chipId, kalunError **error);
bool kalunSetChipId(kalunConnection *conn, uint64_t chipId, kalunError **error);
bool kalunSetChip(kalunConnection *conn, int32_t chip, kalunError **error);

/* Models */
bool kalunLoadModelAsync(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                         const char *name, const kalunMap *params, kalunLoadModelCallback callback,
                         void *userData, kalunError **error);
kalunModel *kalunLoadModel(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                           const char *name, const kalunMap *params, kalunError **error);
bool kalunLoadModelAsync_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                       const char *name, const kalunMap *params,
                                       kalunLoadModelCallback callback, void *userData, kalunError **error);
kalunModel *kalunLoadModel_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                         const char *name, const kalunMap *params, kalunError **error);
bool kalunLoadModelAsync_API_VERSION_1(kalunConnection *conn, int fd, int32_t access, const char *name,
                                       kalunLoadModelCallback callback, void *userData, kalunError **error);
kalunModel *kalunLoadModel_API_VERSION_1(kalunConnection *conn, int fd, int32_t access, const char *name,
                                         kalunError **error);
kalunModel **kalunGetModels(kalunConnection *conn, size_t *numModels, kalunError **error);
kalunModel *kalunGetModel(kalunConnection *conn, uint64_t modelId, kalunError **error);
bool kalunDeleteModel(kalunConnection *conn, const kalunModel *model, kalunError **error);
void kalunDestroyModel(kalunModel **model);
void kalunDestroyModels(kalunModel ***models, size_t numModels);
uint64_t kalunGetModelId(const kalunModel *model, kalunError **error);
int32_t kalunGetModelChip(const kalunModel *model, kalunError **error);
const kalunDevice *kalunGetModelDevice(const kalunModel *model, kalunError **error);
uint64_t kalunGetModelSize(const kalunModel *model, kalunError **error);
const char *kalunGetModelName(const kalunModel *model, kalunError **error);
int32_t kalunGetModelAccess(const kalunModel *model, kalunError **error);
size_t kalunGetModelNumInputs(const kalunModel *model, kalunError **error);
size_t kalunGetModelNumOutputs(const kalunModel *model, kalunError **error);
size_t *kalunGetModelInputByteSizes(const kalunModel *model, size_t *numInputs, kalunError **error);
size_t *kalunGetModelOutputByteSizes(const kalunModel *model, size_t *numOutputs, kalunError **error);
kalunTensor **kalunCreateModelInputs(const kalunModel *model, size_t *numTensors, kalunError **error);
kalunTensor **kalunCreateModelOutputs(const kalunModel *model, size_t *numTensors, kalunError **error);

/* Tensors */
kalunTensor **kalunCreateTensors(size_t numTensors, kalunError **error);
bool kalunDestroyTensors(kalunConnection *conn, kalunTensor ***tensors, size_t numTensors,
                         kalunError **error);
void kalunDestroyTensors_API_VERSION_1(kalunTensor ***tensors, size_t numTensors);
bool kalunTrackTensor(kalunConnection *conn, kalunTensor *tensor, kalunError **error);
/* Tensors with buffers that the service allocated and keeps between jobs.
 * Their descriptors belong to the tensors: kalunDestroyTensors() closes
 * them and has the service release the buffers. */
kalunTensor **kalunAllocModelInputs(kalunConnection *conn, const kalunModel *model, uint32_t fdPropFlags,
                                    size_t *numTensors, const kalunMap *params, kalunError **error);
kalunTensor **kalunAllocModelOutputs(kalunConnection *conn, const kalunModel *model, uint32_t fdPropFlags,
                                     size_t *numTensors, const kalunMap *params, kalunError **error);
bool kalunSetTensorDims(kalunTensor *tensor, const kalunTensorDims *dims, kalunError **error);
const kalunTensorDims *kalunGetTensorDims(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorPitches(kalunTensor *tensor, const kalunTensorPitches *pitches, kalunError **error);
const kalunTensorPitches *kalunGetTensorPitches(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorDataType(kalunTensor *tensor, kalunTensorDataType type, kalunError **error);
kalunTensorDataType kalunGetTensorDataType(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorLayout(kalunTensor *tensor, kalunTensorLayout layout, kalunError **error);
kalunTensorLayout kalunGetTensorLayout(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorFd(kalunTensor *tensor, int fd, kalunError **error);
int kalunGetTensorFd(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorFdSize(kalunTensor *tensor, size_t size, kalunError **error);
bool kalunGetTensorFdSize(const kalunTensor *tensor, size_t *size, kalunError **error);
bool kalunSetTensorFdOffset(kalunTensor *tensor, int64_t offset, kalunError **error);
int64_t kalunGetTensorFdOffset(const kalunTensor *tensor, kalunError **error);
bool kalunSetTensorFdProps(kalunTensor *tensor, uint32_t fdPropFlags, kalunError **error);
bool kalunGetTensorFdProps(const kalunTensor *tensor, uint32_t *fdPropFlags, kalunError **error);
const char *kalunGetTensorName(const kalunTensor *tensor, kalunError **error);
bool kalunGetTensorByteSize(const kalunTensor *tensor, size_t *byteSize, kalunError **error);

/* Jobs */
kalunJobRequest *kalunCreateJobRequest(const kalunModel *model, kalunTensor **inputs, size_t numInputs,
                                       kalunTensor **outputs, size_t numOutputs, const kalunMap *params,
                                       kalunError **error);
kalunJobRequest *kalunCreateInferenceRequest(const kalunModel *model, kalunTensor **inputs, size_t numInputs,
                                             kalunTensor **outputs, size_t numOutputs, kalunError **error);
void kalunDestroyJobRequest(kalunJobRequest **jobReq);
bool kalunSetJobRequestInputs(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors,
                              kalunError **error);
bool kalunSetJobRequestOutputs(kalunJobRequest *jobReq, kalunTensor **tensors, size_t numTensors,
                               kalunError **error);
bool kalunSetJobRequestModel(kalunJobRequest *jobReq, const kalunModel *model, kalunError **error);
bool kalunSetJobRequestPriority(kalunJobRequest *jobReq, uint8_t priority, kalunError **error);
bool kalunSetJobRequestParams(kalunJobRequest *jobReq, const kalunMap *params, kalunError **error);
bool kalunRunJobAsync(kalunConnection *conn, const kalunJobRequest *jobReq, kalunRunJobCallback callback,
                      void *userData, kalunError **error);
bool kalunRunJob(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error);
bool kalunRunJobAsync_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq,
                                    kalunRunJobCallback callback, void *userData, kalunError **error);
bool kalunRunJob_API_VERSION_2(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error);
bool kalunRunInferenceAsync(kalunConnection *conn, const kalunJobRequest *jobReq,
                            kalunRunJobCallback callback, void *userData, kalunError **error);
bool kalunRunInference(kalunConnection *conn, const kalunJobRequest *jobReq, kalunError **error);

/* Parameter maps */
kalunMap *kalunCreateMap(kalunError **error);
void kalunDestroyMap(kalunMap **map);
bool kalunMapSetStr(kalunMap *map, const char *key, const char *value, kalunError **error);
bool kalunMapSetInt(kalunMap *map, const char *key, int64_t value, kalunError **error);
bool kalunMapSetIntArr2(kalunMap *map, const char *key, int64_t value0, int64_t value1, kalunError **error);
bool kalunMapSetIntArr4(kalunMap *map, const char *key, int64_t value0, int64_t value1, int64_t value2,
                        int64_t value3, kalunError **error);
const char *kalunMapGetStr(const kalunMap *map, const char *key, kalunError **error);
bool kalunMapGetInt(const kalunMap *map, const char *key, int64_t *value, kalunError **error);
const int64_t *kalunMapGetIntArr2(const kalunMap *map, const char *key, kalunError **error);
const int64_t *kalunMapGetIntArr4(const kalunMap *map, const char *key, kalunError **error);

#ifdef __cplusplus
}
#endif

/* The older interfaces under the names a program of that time used. */
#if defined(KALUN_API_VERSION) && KALUN_API_VERSION == 1
#define kalunLoadModelAsync kalunLoadModelAsync_API_VERSION_1
#define kalunLoadModel kalunLoadModel_API_VERSION_1
#define kalunRunJobAsync kalunRunJobAsync_API_VERSION_2
#define kalunRunJob kalunRunJob_API_VERSION_2
#define kalunDestroyTensors kalunDestroyTensors_API_VERSION_1
#elif defined(KALUN_API_VERSION) && KALUN_API_VERSION == 2
#define kalunLoadModelAsync kalunLoadModelAsync_API_VERSION_2
#define kalunLoadModel kalunLoadModel_API_VERSION_2
#define kalunRunJobAsync kalunRunJobAsync_API_VERSION_2
#define kalunRunJob kalunRunJob_API_VERSION_2
#define kalunDestroyTensors kalunDestroyTensors_API_VERSION_1
#endif

#endif /* LIBKALUN_H */
