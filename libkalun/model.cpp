// Models: loading, listing, deleting and the model record.
#include "model.h"

#include "unavailable.h"

#include <cstdint>

bool kalun_model_read(sd_bus_message *m, kalunConnection *conn, kalunModel **model,
                      kalunError **error)
{
	(void)m;
	(void)conn;
	*model = nullptr;
	KALUN_UNAVAILABLE(error);
	return false;
}

/* Loading, newest interface first. */

bool kalunLoadModelAsync(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                         const char *name, const kalunMap *params,
                         kalunLoadModelCallback callback, void *userData, kalunError **error)
{
	(void)conn, (void)fd, (void)dev, (void)access, (void)name, (void)params;
	(void)callback, (void)userData;
	KALUN_UNAVAILABLE(error);
	return false;
}

kalunModel *kalunLoadModel(kalunConnection *conn, int fd, const kalunDevice *dev, int32_t access,
                           const char *name, const kalunMap *params, kalunError **error)
{
	(void)conn, (void)fd, (void)dev, (void)access, (void)name, (void)params;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

extern "C" bool kalun_load_model_async_2_0(kalunConnection *conn, int fd, int32_t chip,
                                           int32_t access, const char *name,
                                           const kalunMap *params,
                                           kalunLoadModelCallback callback, void *userData,
                                           kalunError **error);
KALUN_SYMVER("kalun_load_model_async_2_0", "kalunLoadModelAsync@LIBKALUN_2.0.0");
bool kalun_load_model_async_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                const char *name, const kalunMap *params,
                                kalunLoadModelCallback callback, void *userData,
                                kalunError **error)
{
	(void)conn, (void)fd, (void)chip, (void)access, (void)name, (void)params;
	(void)callback, (void)userData;
	KALUN_UNAVAILABLE(error);
	return false;
}

extern "C" kalunModel *kalun_load_model_2_0(kalunConnection *conn, int fd, int32_t chip,
                                            int32_t access, const char *name,
                                            const kalunMap *params, kalunError **error);
KALUN_SYMVER("kalun_load_model_2_0", "kalunLoadModel@LIBKALUN_2.0.0");
kalunModel *kalun_load_model_2_0(kalunConnection *conn, int fd, int32_t chip, int32_t access,
                                 const char *name, const kalunMap *params, kalunError **error)
{
	(void)conn, (void)fd, (void)chip, (void)access, (void)name, (void)params;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

extern "C" bool kalun_load_model_async_1_0(kalunConnection *conn, int fd, int32_t access,
                                           const char *name, kalunLoadModelCallback callback,
                                           void *userData, kalunError **error);
KALUN_SYMVER("kalun_load_model_async_1_0", "kalunLoadModelAsync@LIBKALUN_1.0.0");
bool kalun_load_model_async_1_0(kalunConnection *conn, int fd, int32_t access, const char *name,
                                kalunLoadModelCallback callback, void *userData,
                                kalunError **error)
{
	(void)conn, (void)fd, (void)access, (void)name, (void)callback, (void)userData;
	KALUN_UNAVAILABLE(error);
	return false;
}

extern "C" kalunModel *kalun_load_model_1_0(kalunConnection *conn, int fd, int32_t access,
                                            const char *name, kalunError **error);
KALUN_SYMVER("kalun_load_model_1_0", "kalunLoadModel@LIBKALUN_1.0.0");
kalunModel *kalun_load_model_1_0(kalunConnection *conn, int fd, int32_t access,
                                 const char *name, kalunError **error)
{
	(void)conn, (void)fd, (void)access, (void)name;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunLoadModelAsync_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip,
                                       int32_t access, const char *name, const kalunMap *params,
                                       kalunLoadModelCallback callback, void *userData,
                                       kalunError **error)
{
	return kalun_load_model_async_2_0(conn, fd, chip, access, name, params, callback, userData,
	                                  error);
}

kalunModel *kalunLoadModel_API_VERSION_2(kalunConnection *conn, int fd, int32_t chip,
                                         int32_t access, const char *name,
                                         const kalunMap *params, kalunError **error)
{
	return kalun_load_model_2_0(conn, fd, chip, access, name, params, error);
}

bool kalunLoadModelAsync_API_VERSION_1(kalunConnection *conn, int fd, int32_t access,
                                       const char *name, kalunLoadModelCallback callback,
                                       void *userData, kalunError **error)
{
	return kalun_load_model_async_1_0(conn, fd, access, name, callback, userData, error);
}

kalunModel *kalunLoadModel_API_VERSION_1(kalunConnection *conn, int fd, int32_t access,
                                         const char *name, kalunError **error)
{
	return kalun_load_model_1_0(conn, fd, access, name, error);
}

/* Listing and deleting. */

kalunModel **kalunGetModels(kalunConnection *conn, size_t *numModels, kalunError **error)
{
	(void)conn;
	if (numModels)
		*numModels = 0;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

kalunModel *kalunGetModel(kalunConnection *conn, uint64_t modelId, kalunError **error)
{
	(void)conn, (void)modelId;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

bool kalunDeleteModel(kalunConnection *conn, const kalunModel *model, kalunError **error)
{
	(void)conn, (void)model;
	KALUN_UNAVAILABLE(error);
	return false;
}

void kalunDestroyModel(kalunModel **model)
{
	// Nothing makes a model yet.
	if (model)
		*model = nullptr;
}

void kalunDestroyModels(kalunModel ***models, size_t numModels)
{
	(void)numModels;
	if (models)
		*models = nullptr;
}

/* Accessors. */

uint64_t kalunGetModelId(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return UINT64_MAX;
}

int32_t kalunGetModelChip(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return 0;
}

const kalunDevice *kalunGetModelDevice(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

uint64_t kalunGetModelSize(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return 0;
}

const char *kalunGetModelName(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

int32_t kalunGetModelAccess(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return 0;
}

size_t kalunGetModelNumInputs(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return 0;
}

size_t kalunGetModelNumOutputs(const kalunModel *model, kalunError **error)
{
	(void)model;
	KALUN_UNAVAILABLE(error);
	return 0;
}

size_t *kalunGetModelInputByteSizes(const kalunModel *model, size_t *numInputs,
                                    kalunError **error)
{
	(void)model, (void)numInputs;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

size_t *kalunGetModelOutputByteSizes(const kalunModel *model, size_t *numOutputs,
                                     kalunError **error)
{
	(void)model, (void)numOutputs;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

kalunTensor **kalunCreateModelInputs(const kalunModel *model, size_t *numTensors,
                                     kalunError **error)
{
	(void)model, (void)numTensors;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}

kalunTensor **kalunCreateModelOutputs(const kalunModel *model, size_t *numTensors,
                                      kalunError **error)
{
	(void)model, (void)numTensors;
	KALUN_UNAVAILABLE(error);
	return nullptr;
}
