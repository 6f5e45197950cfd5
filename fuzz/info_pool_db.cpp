// The info-pool store ip.db through the daemon's loader, then written back.
// The first byte of the input chooses whether the CRC field is repaired
// before the file is read (odd) so that the records get past the check, or
// left as the input has it (even); the rest is the file.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "core/control.h"
#include "core/info_pool.h"
#include "core/stream_map.h"
#include "fuzz_root.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"

namespace
{

fuzz::Root *root;
control *engine;

// The store's checksum: the standard table's polynomial, started at 0 and
// not inverted at the end.
uint32_t store_crc(const uint8_t *bytes, size_t length)
{
	uint32_t crc = 0;
	for (size_t i = 0; i < length; i++) {
		crc ^= bytes[i];
		for (int bit = 0; bit < 8; bit++)
			crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
	}
	return crc;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static fuzz::Root r("fuzz-ipdb");
	root = &r;
	root->mkdirs("/etc/dynamic/vistrad");
	// The platform only needs to exist; it reads nothing of the configuration.
	static int conf_stub;
	platform *plat = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
	engine = control_new(plat);
	return engine ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return -1;
	std::vector<uint8_t> db(data + 1, data + size);
	if ((data[0] & 1) && db.size() >= 8) {
		uint32_t crc = store_crc(db.data() + 8, db.size() - 8);
		for (int i = 0; i < 4; i++)
			db[4 + i] = (uint8_t)(crc >> (8 * i));
	}
	root->write(INFO_POOL_DB_PATH, db.data(), db.size());
	info_pool_init();
	info_pool_read_entry(engine);
	info_pool_write_entry();
	info_pool_free();
	return 0;
}
