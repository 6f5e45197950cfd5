// The video driver's encode-mode capability query: the caller marks the
// first byte of a 36-byte record and the driver answers with the encode mode
// it runs in and its chroma-radius code.
#include "qvd.h"
#include "simsoc_qvd.h"

#include <string.h>

#include <atomic>

namespace
{

constexpr size_t kRecordSize = 36;
constexpr uint8_t kQueryMark = 0xFF;

std::atomic<uint32_t> cap{0};

} // namespace

extern "C" void simsoc_qvd_set_enc_mode_cap(uint8_t mode, uint8_t radius_code)
{
	cap.store((uint32_t)mode | (uint32_t)(radius_code & 3u) << 16);
}

int qvd_query_enc_mode_cap(simsoc_file *, void *arg)
{
	uint8_t rec[kRecordSize];
	memcpy(rec, arg, sizeof(rec));
	if (rec[0] != kQueryMark)
		simsoc_log("qvd: encode-mode query with byte 0 = 0x%02x", rec[0]);
	uint64_t first;
	memcpy(&first, rec, sizeof(first));
	uint32_t c = cap.load();
	first &= ~(0xFFull | 3ull << 16);
	first |= (uint64_t)(c & 0xFFu) | (uint64_t)((c >> 16) & 3u) << 16;
	memcpy(rec, &first, sizeof(first));
	memcpy(arg, rec, sizeof(rec));
	return 0;
}
