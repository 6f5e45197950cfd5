// The connection record and what the request operations share: pending
// requests, the requests bus and the result thread.
#pragma once

#include "hashset.h"
#include "libkalun.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <pthread.h>
#include <systemd/sd-bus.h>

#define KALUN_SERVICE_NAME "com.tovi.Kalun1"
#define KALUN_SERVICE_PATH "/com/tovi/Kalun1"
#define KALUN_SERVICE_INTERFACE "com.tovi.Kalun1.Service"
#define KALUN_SESSION_INTERFACE "com.tovi.Kalun1.Session"
#define KALUN_SESSION_PATH_PREFIX "/com/tovi/Kalun1/Session"

#define KALUN_VERSION_MAJOR 3u
#define KALUN_VERSION_MINOR 1u
#define KALUN_VERSION_PATCH 56u

// Longest device name, without the terminating null byte.
#define KALUN_DEVICE_NAME_MAX 31

#define KALUN_CLOSED_TEXT "Asynchronous connection has been closed"

struct kalunDevice {
	uint64_t index; // position in the service's unit list: the unit index of requests
	char *name;
	uint32_t instance;
	int32_t chip;
};

enum kalun_request_kind : uint32_t {
	KALUN_REQUEST_LOAD_MODEL = 0,
	KALUN_REQUEST_JOB = 1,
	KALUN_REQUEST_DELETE_MODEL = 2,
	KALUN_REQUEST_ALLOC_TENSORS = 3,
	KALUN_REQUEST_DEALLOC_TENSORS = 4,
};

// Completion of AllocTensors: the arrays belong to the result message (count
// entries each, or none with an error); keep duplicates of what you need.
typedef void (*kalun_alloc_callback)(void *userData, const int *fds, const uint64_t *fdSizes,
                                     const uint32_t *fdProps, size_t count, kalunError *error);

// One request waiting for its result. Its address is the tag sent with the
// request; the bus thread frees it after the callback ran.
struct kalun_pending {
	union {
		kalunLoadModelCallback load; // KALUN_REQUEST_LOAD_MODEL
		kalunRunJobCallback done;    // jobs, model deletion, tensor release
		kalun_alloc_callback alloc;  // KALUN_REQUEST_ALLOC_TENSORS
	} callback;
	void *user_data;
	uint32_t kind;
};

struct kalunConnection {
	pthread_cond_t cond; // CLOCK_MONOTONIC; every synchronous waiter waits on it
	uint64_t session_id;
	std::atomic<uint64_t> next_tensor_id;
	pthread_mutex_t pending_lock;
	uint64_t current_device;
	char *session_path;
	kalun_hashset *pending;
	pthread_mutex_t waiter_lock;
	// sd-bus objects are not thread-safe, and callers may use one connection
	// from several threads (and from callbacks on the result thread).
	pthread_mutex_t requests_lock; // the requests bus and its messages
	pthread_mutex_t system_lock;   // the system bus
	kalunDevice **devices;
	size_t num_devices;
	sd_bus *system_bus;
	sd_bus *results_bus;
	sd_bus *requests_bus;
	pthread_t thread;
	bool thread_started;
	int wake_fd;
	std::atomic<bool> closed;
	bool handshake_answered;    // under waiter_lock
	unsigned sync_wait_seconds; // how long a synchronous call waits for its answer

	// What connecting got as far as, so a half-built connection is torn
	// down exactly as far as it was built.
	bool pending_lock_ready;
	bool cond_ready;
	bool waiter_lock_ready;
	bool requests_lock_ready;
	bool system_lock_ready;
};

static inline uint64_t kalun_pending_tag(const kalun_pending *p)
{
	return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

// Lock, insert the tag, unlock. Register before sending so that a fast
// result finds it.
bool kalun_pending_register(kalunConnection *conn, kalun_pending *p, kalunError **error);
// A new pending request of that kind, already registered; the caller sets
// its callback before sending. NULL with the error set when it could not be
// made or registered.
kalun_pending *kalun_pending_start(kalunConnection *conn, uint32_t kind, void *user_data, kalunError **error);
// Lock, remove, unlock: for a request that could not be sent.
void kalun_pending_withdraw(kalunConnection *conn, kalun_pending *p);

// A method call on the requests bus to the session object. On success the
// caller holds the requests bus until kalun_request_end(); on failure it
// holds nothing.
int kalun_request_new(kalunConnection *conn, const char *member, sd_bus_message **m);
// sd_bus_send then sd_bus_flush; negative errno when either failed.
int kalun_request_send(kalunConnection *conn, sd_bus_message *m);
// Releases the message and the requests bus.
void kalun_request_end(kalunConnection *conn, sd_bus_message *m);

// Reads an array of a basic type at the message's position into a new
// malloc'd array (the caller frees it) and its count. 0, or a negative errno
// (-EBADMSG when no array is there).
template <typename T> int kalun_read_array(sd_bus_message *m, char type, T **out, size_t *count)
{
	const char contents[2] = {type, '\0'};
	int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, contents);
	if (r <= 0)
		return r < 0 ? r : -EBADMSG;

	size_t cap = 1, n = 0;
	T *values = static_cast<T *>(malloc(cap * sizeof(T)));
	if (!values)
		return -ENOMEM;
	for (;;) {
		T v;
		r = sd_bus_message_read_basic(m, type, &v);
		if (r < 0) {
			free(values);
			return r;
		}
		if (r == 0)
			break;
		if (n == cap) {
			T *bigger = static_cast<T *>(realloc(values, cap * 2 * sizeof(T)));
			if (!bigger) {
				free(values);
				return -ENOMEM;
			}
			values = bigger;
			cap *= 2;
		}
		values[n++] = v;
	}
	r = sd_bus_message_exit_container(m);
	if (r < 0) {
		free(values);
		return r;
	}
	*out = values;
	*count = n;
	return 0;
}

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
	kalunModel *model;     // load
	kalunTensor **tensors; // allocation
	size_t num_tensors;
};

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
// the outcome (or release it when nobody waits any more) and drops a
// reference; the waiters are woken once the lock is let go, so that they do
// not wake into it.
template <typename F> void kalun_waiter_finish(kalun_waiter *w, F fill)
{
	kalunConnection *conn = w->conn;
	pthread_mutex_lock(&conn->waiter_lock);
	w->done = true;
	fill(!w->abandoned);
	const bool last = --w->refs == 0;
	pthread_mutex_unlock(&conn->waiter_lock);
	pthread_cond_broadcast(&conn->cond);
	if (last)
		free(w);
}
