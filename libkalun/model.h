// The model record and the reader of models out of bus messages.
#pragma once

#include "tensor.h"

struct kalunModel {
	uint64_t id;
	const kalunDevice *device;
	uint64_t size;
	char *name;
	kalunTensor **inputs;
	size_t num_inputs;
	kalunTensor **outputs;
	size_t num_outputs;
	int32_t access;
};

// Reads one model structure "(tttisa(iitatats)a(iitatats))" at the message's
// position, with its device taken from the connection's devices. True with
// *model NULL means the enclosing array has no further element.
bool kalun_model_read(sd_bus_message *m, kalunConnection *conn, kalunModel **model, kalunError **error);
