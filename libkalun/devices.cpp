// The service's units as the connection's devices, and the older chip-based
// selection of a current device.
#include "connection.h"
#include "error.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

const kalunDevice *const *kalunListDevices(kalunConnection *conn, size_t *numDevices, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "conn is NULL");
		return nullptr;
	}
	if (!numDevices) {
		kalun_error_set(error, EINVAL, "numDevices is NULL");
		return nullptr;
	}
	// A connection without devices still answers with a list, an empty one,
	// so that the result is not taken for a failure.
	static const kalunDevice *const no_devices[1] = {nullptr};
	*numDevices = conn->num_devices;
	return conn->num_devices ? conn->devices : no_devices;
}

const kalunDevice *kalunGetDevice(kalunConnection *conn, const char *name, uint32_t instance,
                                  kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return nullptr;
	}
	if (!name) {
		kalun_error_set(error, EINVAL, "name is NULL");
		return nullptr;
	}
	if (strnlen(name, KALUN_DEVICE_NAME_MAX + 1) > KALUN_DEVICE_NAME_MAX) {
		kalun_error_set(error, EINVAL, "name must be at most %d characters in length",
		                KALUN_DEVICE_NAME_MAX);
		return nullptr;
	}
	for (size_t i = 0; i < conn->num_devices; i++) {
		const kalunDevice *dev = conn->devices[i];
		if (dev->instance == instance && strncmp(dev->name, name, KALUN_DEVICE_NAME_MAX) == 0)
			return dev;
	}
	kalun_error_set(error, ENODEV, "Could not find device name \"%.*s\" and instance %d",
	                KALUN_DEVICE_NAME_MAX, name, static_cast<int>(instance));
	return nullptr;
}

const char *kalunGetDeviceName(const kalunDevice *dev, kalunError **error)
{
	if (!dev) {
		kalun_error_set(error, EINVAL, "kalunDevice is NULL");
		return nullptr;
	}
	return dev->name;
}

bool kalunGetDeviceInstance(const kalunDevice *dev, uint32_t *instance, kalunError **error)
{
	if (!dev) {
		kalun_error_set(error, EINVAL, "kalunDevice is NULL");
		return false;
	}
	if (!instance) {
		kalun_error_set(error, EINVAL, "output pointer instance is NULL");
		return false;
	}
	*instance = dev->instance;
	return true;
}

/* ---- chips ---- */

// The older form reports the array's size in bytes; programs linked against
// LIBKALUN_1.0.0 still get that.
extern "C" bool kalun_list_chips_1_0(kalunConnection *conn, int32_t **chips, size_t *size,
                                     kalunError **error);
KALUN_SYMVER("kalun_list_chips_1_0", "kalunListChips@LIBKALUN_1.0.0");

bool kalun_list_chips_1_0(kalunConnection *conn, int32_t **chips, size_t *size, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!chips) {
		kalun_error_set(error, EINVAL, "Pointer to pointer argument chips is NULL");
		return false;
	}
	if (!size) {
		kalun_error_set(error, EINVAL, "Pointer argument size is NULL");
		return false;
	}

	// One entry at least, so that an empty list is not mistaken for a failed
	// allocation.
	size_t n = conn->num_devices;
	auto *ids = static_cast<int32_t *>(malloc((n ? n : 1) * sizeof(int32_t)));
	if (!ids) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	for (size_t i = 0; i < n; i++)
		ids[i] = conn->devices[i]->chip;
	*chips = ids;
	*size = n * sizeof(int32_t);
	return true;
}

bool kalunListChips(kalunConnection *conn, int32_t **chips, size_t *numChips, kalunError **error)
{
	if (!numChips) {
		kalun_error_set(error, EINVAL, "Pointer argument numChips is NULL");
		return false;
	}
	size_t size = 0;
	if (!kalun_list_chips_1_0(conn, chips, &size, error))
		return false;
	*numChips = size / sizeof(int32_t);
	return true;
}

bool kalunGetChipType(kalunConnection *conn, int32_t *chipType, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!chipType) {
		kalun_error_set(error, EINVAL, "Pointer argument chipType is NULL");
		return false;
	}
	if (conn->current_device >= conn->num_devices) {
		kalun_error_set(error, ENODEV, "Connection has no device %" PRIu64, conn->current_device);
		return false;
	}
	*chipType = conn->devices[conn->current_device]->chip;
	return true;
}

const char *kalunGetChipName(int32_t chip)
{
	static const char *const names[] = {
	    "Invalid chip",
	    "Debug chip",
	    "CPU with TensorFlow Lite",
	    "Invalid chip",
	    "Google TPU",
	    "Invalid chip",
	    "Vorsalind neural network accelerator",
	    "Tovi SoC GPU with TensorFlow Lite",
	    "GPU with TensorFlow Lite (experimental)",
	    "Vorsalind image processing accelerator",
	    "Tovi compute engine",
	    "CPU with libyuv",
	    "Tovi SoC deep-learning unit with TensorFlow Lite (experimental)",
	    "Image processing using OpenCL",
	};
	if (chip < 0 || static_cast<size_t>(chip) >= sizeof(names) / sizeof(names[0]))
		return "Invalid chip";
	return names[chip];
}

bool kalunGetChipId(kalunConnection *conn, uint64_t *chipId, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!chipId) {
		kalun_error_set(error, EINVAL, "Pointer argument chipId is NULL");
		return false;
	}
	*chipId = conn->current_device;
	return true;
}

bool kalunSetChipId(kalunConnection *conn, uint64_t chipId, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (chipId >= conn->num_devices) {
		kalun_error_set(error, EINVAL, "chipId is too large (%" PRIu64 " > %zu)", chipId,
		                conn->num_devices - 1);
		return false;
	}
	conn->current_device = chipId;
	return true;
}

bool kalunSetChip(kalunConnection *conn, int32_t chip, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	for (size_t i = 0; i < conn->num_devices; i++) {
		if (conn->devices[i]->chip == chip) {
			conn->current_device = i;
			return true;
		}
	}
	kalun_error_set(error, ENODEV, "Could not set chip %s: no such chip found", kalunGetChipName(chip));
	return false;
}
