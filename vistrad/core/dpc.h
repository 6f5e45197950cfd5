#pragma once
// The sensor's defect-pixel map is kept compressed on the device; these
// unpack it into the plain map file that the image pipeline reads. The map is
// written through the flash-safe writer, so a failure leaves any previous
// map as it was.

#define DPC_COMPRESSED_PATH "/lib/persistent/usr/share/sensor_analysis/dpc.dat.comp"
#define DPC_MAP_PATH "/var/run/vistrad/dpc.dat"

// Unpacks the compressed map at input into output; true on success.
bool decompress_dpc(const char *input, const char *output);
// Unpacks the device's compressed map unless the plain map already exists.
void unpack_dpc_data(void);
