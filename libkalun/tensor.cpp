// Tensors: the client's description of a model input or output with the
// buffer that holds its data.
#include "connection.h"
#include "unavailable.h"

kalunTensor **kalunCreateTensors(size_t numTensors, kalunError **error)
{
	(void)numTensors;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunDestroyTensors(kalunConnection *conn, kalunTensor ***tensors, size_t numTensors,
                         kalunError **error)
{
	(void)conn, (void)numTensors;
	if (!tensors || !*tensors)
		return true;
	KALUN_UNAVAILABLE(error);
	return false;
}

extern "C" void kalun_destroy_tensors_1_0(kalunTensor ***tensors, size_t numTensors);
KALUN_SYMVER("kalun_destroy_tensors_1_0", "kalunDestroyTensors@LIBKALUN_1.0.0");
void kalun_destroy_tensors_1_0(kalunTensor ***tensors, size_t numTensors)
{
	// Nothing makes a tensor yet.
	(void)numTensors;
	if (tensors)
		*tensors = nullptr;
}

void kalunDestroyTensors_API_VERSION_1(kalunTensor ***tensors, size_t numTensors)
{
	kalun_destroy_tensors_1_0(tensors, numTensors);
}

bool kalunTrackTensor(kalunConnection *conn, kalunTensor *tensor, kalunError **error)
{
	(void)conn, (void)tensor;
	KALUN_UNAVAILABLE(error);
	return false;
}

kalunTensor **kalunAllocModelInputs(kalunConnection *conn, const kalunModel *model,
                                    uint32_t fdPropFlags, size_t *numTensors,
                                    const kalunMap *params, kalunError **error)
{
	(void)conn, (void)model, (void)fdPropFlags, (void)numTensors, (void)params;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

kalunTensor **kalunAllocModelOutputs(kalunConnection *conn, const kalunModel *model,
                                     uint32_t fdPropFlags, size_t *numTensors,
                                     const kalunMap *params, kalunError **error)
{
	(void)conn, (void)model, (void)fdPropFlags, (void)numTensors, (void)params;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunSetTensorDims(kalunTensor *tensor, const kalunTensorDims *dims, kalunError **error)
{
	(void)tensor, (void)dims;
	KALUN_UNAVAILABLE(error);
	return false;
}

const kalunTensorDims *kalunGetTensorDims(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunSetTensorPitches(kalunTensor *tensor, const kalunTensorPitches *pitches,
                           kalunError **error)
{
	(void)tensor, (void)pitches;
	KALUN_UNAVAILABLE(error);
	return false;
}

const kalunTensorPitches *kalunGetTensorPitches(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunSetTensorDataType(kalunTensor *tensor, kalunTensorDataType type, kalunError **error)
{
	(void)tensor, (void)type;
	KALUN_UNAVAILABLE(error);
	return false;
}

kalunTensorDataType kalunGetTensorDataType(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return KALUN_TENSOR_DATA_TYPE_INVALID;
}

bool kalunSetTensorLayout(kalunTensor *tensor, kalunTensorLayout layout, kalunError **error)
{
	(void)tensor, (void)layout;
	KALUN_UNAVAILABLE(error);
	return false;
}

kalunTensorLayout kalunGetTensorLayout(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return KALUN_TENSOR_LAYOUT_INVALID;
}

bool kalunSetTensorFd(kalunTensor *tensor, int fd, kalunError **error)
{
	(void)tensor, (void)fd;
	KALUN_UNAVAILABLE(error);
	return false;
}

int kalunGetTensorFd(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return KALUN_INVALID_FD;
}

bool kalunSetTensorFdSize(kalunTensor *tensor, size_t size, kalunError **error)
{
	(void)tensor, (void)size;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunGetTensorFdSize(const kalunTensor *tensor, size_t *size, kalunError **error)
{
	(void)tensor, (void)size;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunSetTensorFdOffset(kalunTensor *tensor, int64_t offset, kalunError **error)
{
	(void)tensor, (void)offset;
	KALUN_UNAVAILABLE(error);
	return false;
}

int64_t kalunGetTensorFdOffset(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return -1;
}

bool kalunSetTensorFdProps(kalunTensor *tensor, uint32_t fdPropFlags, kalunError **error)
{
	(void)tensor, (void)fdPropFlags;
	KALUN_UNAVAILABLE(error);
	return false;
}

bool kalunGetTensorFdProps(const kalunTensor *tensor, uint32_t *fdPropFlags, kalunError **error)
{
	(void)tensor, (void)fdPropFlags;
	KALUN_UNAVAILABLE(error);
	return false;
}

const char *kalunGetTensorName(const kalunTensor *tensor, kalunError **error)
{
	(void)tensor;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunGetTensorByteSize(const kalunTensor *tensor, size_t *byteSize, kalunError **error)
{
	(void)tensor, (void)byteSize;
	KALUN_UNAVAILABLE(error);
	return false;
}
