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
bool kalun_tensors_append(sd_bus_message *m, kalunTensor *const *tensors, size_t count,
                          kalunError **error);
void kalun_tensors_free(kalunTensor **tensors, size_t count);

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

// One synchronous call waiting for its callback on the bus thread. Both
// sides hold a reference; the waiting side and the callback meet under the
// connection's waiter lock, and once the caller stopped waiting (abandoned)
// the callback touches nothing of the caller's.
struct kalun_waiter {
	kalunConnection *conn;
	kalunError **error;
	int refs; // under conn->waiter_lock
	bool done;
	bool success;
	bool abandoned;
	kalunModel *model;      // load
	kalunTensor **tensors;  // allocation
	size_t num_tensors;
};

// Seconds a synchronous call waits for its answer; tests shorten it.
extern unsigned kalun_sync_wait_seconds;

// A new waiter with two references; ENOMEM "%s".
kalun_waiter *kalun_waiter_new(kalunConnection *conn, kalunError **error);
// Drops one reference; frees the waiter with the last one.
void kalun_waiter_unref(kalun_waiter *w);
// Waits under the waiter lock until done; on a timeout records {110, what +
// strerror}, on another failure {code, other + strerror}, and in both cases
// marks the waiter abandoned. Returns the success flag; the caller still
// holds its reference.
bool kalun_waiter_wait(kalun_waiter *w, const char *what, const char *other);
// The completion of a request whose answer is only a result code: records
// success or the error for the waiting caller.
void kalun_waiter_done(void *userData, kalunError *err);
// For callbacks: marks done under the lock, lets fill(caller_waiting) record
// the outcome (or release it when nobody waits any more), wakes the waiters
// and drops a reference.
template <typename F> void kalun_waiter_finish(kalun_waiter *w, F fill)
{
	pthread_mutex_lock(&w->conn->waiter_lock);
	w->done = true;
	fill(!w->abandoned);
	pthread_cond_broadcast(&w->conn->cond);
	pthread_mutex_unlock(&w->conn->waiter_lock);
	kalun_waiter_unref(w);
}
