// A received PTZ add-on message through libquorra: a buffer of exactly the
// bytes that arrived, taken as a message or refused, and a message it takes
// measured and readied for sending again.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "quorra.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// Its own buffer, so that a read past the end is caught.
	void *buffer = malloc(size ? size : 1);
	memcpy(buffer, data, size);
	struct quorra_msg *msg = unpack_message(buffer, size);
	if (msg) {
		if (get_message_size(msg) != size)
			abort();
		get_dynamic_size(msg);
		pack_message(msg);
	}
	free(buffer);
	return 0;
}
