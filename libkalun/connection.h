// The connection record and what the request operations share: pending
// requests, the requests bus and the result thread.
#pragma once

#include "hashset.h"
#include "libkalun.h"

#include <atomic>
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
		kalunLoadModelCallback load;   // KALUN_REQUEST_LOAD_MODEL
		kalunRunJobCallback done;      // jobs, model deletion, tensor release
		kalun_alloc_callback alloc;    // KALUN_REQUEST_ALLOC_TENSORS
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
	bool handshake_answered; // under waiter_lock

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
kalun_pending *kalun_pending_start(kalunConnection *conn, uint32_t kind, void *user_data,
                                   kalunError **error);
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
