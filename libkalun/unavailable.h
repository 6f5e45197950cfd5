// Entry points whose bodies come with the model, tensor and job work: they
// exist under their final names and versions and refuse every call.
#pragma once

#include "error.h"

#include <cerrno>

#define KALUN_UNAVAILABLE(error) \
	kalun_error_set((error), ENOSYS, "%s is not available yet", __func__)
