// The tensor record and what models and jobs do with tensors.
#pragma once

#include "connection.h"

struct kalunTensor {
	kalunTensorDims dims;
	kalunTensorPitches pitches;
	int64_t fd_offset;
	uint32_t fd_props;
	int fd;
	uint64_t fd_size;
	uint64_t byte_size;
	uint64_t tensor_id; // 0: not tracked
	int32_t data_type;
	int32_t layout;
	char *name;
	// Set on the descriptors the library duplicated for buffers the service
	// allocated; destroying the tensor closes them.
	bool fd_owned;
};

// A fresh tensor: fd -1, data type 1, layout 1, no name; ENOMEM "%s".
kalunTensor *kalun_tensor_new(kalunError **error);
void kalun_tensor_free(kalunTensor *tensor);
// Sets data type and layout from their integer codes, refusing (EINVAL)
// codes 0 and codes outside the enums, the data type checked first.
bool kalun_tensor_set_codes(kalunTensor *tensor, int64_t type, int64_t layout, kalunError **error);
// A copy that never owns the descriptor it names.
kalunTensor *kalun_tensor_copy(const kalunTensor *tensor, kalunError **error);
// count + 1 entries, the last NULL.
kalunTensor **kalun_tensors_copy(kalunTensor *const *tensors, size_t count, kalunError **error);
bool kalun_tensors_validate(kalunTensor *const *tensors, size_t count, kalunError **error);
// Appends "a(iitatathtxtu)": the tensors as a job request carries them.
bool kalun_tensors_append(sd_bus_message *m, kalunTensor *const *tensors, size_t count, kalunError **error);
void kalun_tensors_free(kalunTensor **tensors, size_t count);
