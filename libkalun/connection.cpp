// Connecting to the service: a session over the system bus, two private
// peer-to-peer buses on the descriptors it hands back, and one thread that
// reads results and completes pending requests.
#include "connection.h"

#include "error.h"
#include "model.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#define PENDING_INITIAL_BUCKETS 16
// As long as a method call on the system bus may take by default.
#define HANDSHAKE_TIMEOUT_SEC 25

static const short poll_events = POLLIN | POLLPRI | POLLERR | POLLHUP | POLLNVAL | POLLRDHUP;

bool kalun_pending_register(kalunConnection *conn, kalun_pending *p, kalunError **error)
{
	pthread_mutex_lock(&conn->pending_lock);
	// The result thread sets closed before it takes the pending set for the
	// last time; a request registered after that would never be completed.
	if (conn->closed.load(std::memory_order_acquire)) {
		pthread_mutex_unlock(&conn->pending_lock);
		kalun_error_set(error, KALUN_ERROR_CONNECTION_CLOSED, KALUN_CLOSED_TEXT);
		return false;
	}
	int r = kalun_hashset_insert(conn->pending, kalun_pending_tag(p));
	pthread_mutex_unlock(&conn->pending_lock);
	if (r) {
		kalun_error_set(error, r, "Could not insert into hash set: %s", strerror(r));
		return false;
	}
	return true;
}

kalun_pending *kalun_pending_start(kalunConnection *conn, uint32_t kind, void *user_data, kalunError **error)
{
	auto *p = static_cast<kalun_pending *>(calloc(1, sizeof(kalun_pending)));
	if (!p) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return nullptr;
	}
	p->user_data = user_data;
	p->kind = kind;
	if (!kalun_pending_register(conn, p, error)) {
		free(p);
		return nullptr;
	}
	return p;
}

void kalun_pending_withdraw(kalunConnection *conn, kalun_pending *p)
{
	pthread_mutex_lock(&conn->pending_lock);
	kalun_hashset_remove(conn->pending, kalun_pending_tag(p));
	pthread_mutex_unlock(&conn->pending_lock);
}

int kalun_request_new(kalunConnection *conn, const char *member, sd_bus_message **m)
{
	pthread_mutex_lock(&conn->requests_lock);
	int r = sd_bus_message_new_method_call(conn->requests_bus, m, KALUN_SERVICE_NAME, conn->session_path,
	                                       KALUN_SESSION_INTERFACE, member);
	if (r < 0)
		pthread_mutex_unlock(&conn->requests_lock);
	return r;
}

void kalun_request_end(kalunConnection *conn, sd_bus_message *m)
{
	sd_bus_message_unref(m);
	pthread_mutex_unlock(&conn->requests_lock);
}

int kalun_request_send(kalunConnection *conn, sd_bus_message *m)
{
	int r = sd_bus_send(conn->requests_bus, m, nullptr);
	if (r < 0)
		return r;
	r = sd_bus_flush(conn->requests_bus);
	return r < 0 ? r : 0;
}

/* ---- completing requests on the bus thread ---- */

// The record behind a tag, taken out of the pending set. A tag that is not
// pending cannot be trusted as an address, so its result is dropped.
static kalun_pending *take_pending(kalunConnection *conn, uint64_t tag)
{
	pthread_mutex_lock(&conn->pending_lock);
	int r = kalun_hashset_remove(conn->pending, tag);
	pthread_mutex_unlock(&conn->pending_lock);
	if (r)
		return nullptr;
	return reinterpret_cast<kalun_pending *>(static_cast<uintptr_t>(tag));
}

// Calls the callback with no payload, in the shape its kind expects.
static void complete_empty(kalun_pending *p, kalunError *err)
{
	switch (p->kind) {
	case KALUN_REQUEST_LOAD_MODEL:
		if (p->callback.load)
			p->callback.load(nullptr, p->user_data, err);
		break;
	case KALUN_REQUEST_ALLOC_TENSORS:
		if (p->callback.alloc)
			p->callback.alloc(p->user_data, nullptr, nullptr, nullptr, 0, err);
		break;
	default:
		if (p->callback.done)
			p->callback.done(p->user_data, err);
		break;
	}
}

static kalunError *result_error(int32_t code, const char *text)
{
	if (code == 0)
		return nullptr;
	return kalun_error_new(code, "%s", text ? text : "");
}

static void handle_load_result(kalunConnection *conn, sd_bus_message *m)
{
	if (sd_bus_message_enter_container(m, SD_BUS_TYPE_STRUCT, "(tttisa(iitatats)a(iitatats))tis") <= 0)
		return;

	// A model that cannot be read still leaves the tag behind it readable,
	// and the waiting request learns why instead of waiting forever.
	kalunModel *model = nullptr;
	kalunError *read_error = nullptr;
	if (!kalun_model_read(m, conn, &model, &read_error) || !model) {
		if (!read_error)
			read_error = kalun_error_new(EBADMSG, "Could not read model from message");
		if (sd_bus_message_rewind(m, true) < 0 ||
		    sd_bus_message_enter_container(m, SD_BUS_TYPE_STRUCT,
		                                   "(tttisa(iitatats)a(iitatats))tis") <= 0 ||
		    sd_bus_message_skip(m, "(tttisa(iitatats)a(iitatats))") < 0) {
			kalunClearError(&read_error);
			return;
		}
	}

	uint64_t tag = 0;
	int32_t code = -2;
	const char *text = nullptr;
	if (sd_bus_message_read(m, "tis", &tag, &code, &text) < 0 || sd_bus_message_exit_container(m) < 0) {
		kalunDestroyModel(&model);
		kalunClearError(&read_error);
		return;
	}

	kalunError *err = result_error(code, text);
	if (!err && read_error) {
		err = read_error;
		read_error = nullptr;
	}
	kalunClearError(&read_error);
	if (err)
		kalunDestroyModel(&model);

	kalun_pending *p = take_pending(conn, tag);
	if (!p) {
		kalunDestroyModel(&model);
	} else if (p->kind == KALUN_REQUEST_LOAD_MODEL) {
		if (p->callback.load)
			p->callback.load(model, p->user_data, err);
		else
			kalunDestroyModel(&model);
	} else {
		kalunDestroyModel(&model);
		complete_empty(p, err);
	}
	free(p);
	kalunClearError(&err);
}

static void handle_tail_result(kalunConnection *conn, sd_bus_message *m)
{
	uint64_t tag = 0;
	int32_t code = 0;
	const char *text = nullptr;
	if (sd_bus_message_read(m, "tis", &tag, &code, &text) < 0)
		return;

	kalun_pending *p = take_pending(conn, tag);
	if (!p)
		return;
	kalunError *err = result_error(code, text);
	complete_empty(p, err);
	free(p);
	kalunClearError(&err);
}

static void handle_alloc_result(kalunConnection *conn, sd_bus_message *m)
{
	int *fds = nullptr;
	uint64_t *sizes = nullptr;
	uint32_t *props = nullptr;
	size_t nfds = 0, nsizes = 0, nprops = 0;
	uint64_t tag = 0;
	int32_t code = 0;
	const char *text = nullptr;

	if (kalun_read_array(m, SD_BUS_TYPE_UNIX_FD, &fds, &nfds) < 0 ||
	    kalun_read_array(m, SD_BUS_TYPE_UINT64, &sizes, &nsizes) < 0 || nsizes != nfds ||
	    kalun_read_array(m, SD_BUS_TYPE_UINT32, &props, &nprops) < 0 || nprops != nfds ||
	    sd_bus_message_read(m, "tis", &tag, &code, &text) < 0) {
		free(fds);
		free(sizes);
		free(props);
		return;
	}

	kalun_pending *p = take_pending(conn, tag);
	if (p) {
		kalunError *err = result_error(code, text);
		if (p->kind == KALUN_REQUEST_ALLOC_TENSORS) {
			if (p->callback.alloc)
				p->callback.alloc(p->user_data, fds, sizes, props, nfds, err);
		} else {
			complete_empty(p, err);
		}
		free(p);
		kalunClearError(&err);
	}
	free(fds);
	free(sizes);
	free(props);
}

static void dispatch_result(kalunConnection *conn, sd_bus_message *m)
{
	const char *member = sd_bus_message_get_member(m);
	if (!member)
		return;

	if (strcmp(member, "Handshake") == 0) {
		uint64_t session_id;
		(void)sd_bus_message_read(m, "t", &session_id);
		pthread_mutex_lock(&conn->waiter_lock);
		conn->handshake_answered = true;
		pthread_cond_broadcast(&conn->cond);
		pthread_mutex_unlock(&conn->waiter_lock);
	} else if (strcmp(member, "QueueLoadModel") == 0) {
		handle_load_result(conn, m);
	} else if (strcmp(member, "QueueJob") == 0 || strcmp(member, "DeleteModel") == 0 ||
	           strcmp(member, "DeallocTensors") == 0) {
		handle_tail_result(conn, m);
	} else if (strcmp(member, "AllocTensors") == 0) {
		handle_alloc_result(conn, m);
	}
}

// Every request still pending when the thread stops gets -6.
static void complete_all_closed(kalunConnection *conn)
{
	uint64_t *tags = nullptr;
	size_t count = 0;

	pthread_mutex_lock(&conn->pending_lock);
	int r = kalun_hashset_list(conn->pending, &tags, &count);
	if (r == 0)
		for (size_t i = 0; i < count; i++)
			kalun_hashset_remove(conn->pending, tags[i]);
	pthread_mutex_unlock(&conn->pending_lock);
	if (r)
		return;

	for (size_t i = 0; i < count; i++) {
		auto *p = reinterpret_cast<kalun_pending *>(static_cast<uintptr_t>(tags[i]));
		kalunError *err = kalun_error_new(KALUN_ERROR_CONNECTION_CLOSED, KALUN_CLOSED_TEXT);
		complete_empty(p, err);
		kalunClearError(&err);
		free(p);
	}
	free(tags);
}

static void *bus_thread(void *arg)
{
	auto *conn = static_cast<kalunConnection *>(arg);
	struct pollfd fds[2] = {
	    {sd_bus_get_fd(conn->results_bus), poll_events, 0},
	    {conn->wake_fd, poll_events, 0},
	};

	while (!conn->closed.load(std::memory_order_acquire)) {
		sd_bus_message *m = nullptr;
		int r = sd_bus_process(conn->results_bus, &m);
		if (r < 0)
			conn->closed.store(true, std::memory_order_release);
		if (m) {
			dispatch_result(conn, m);
			sd_bus_message_unref(m);
		}
		if (r != 0)
			continue;

		fds[0].revents = 0;
		fds[1].revents = 0;
		int n;
		// A signal caught on this thread is no reason to drop the connection.
		do
			n = ppoll(fds, 2, nullptr, nullptr);
		while (n < 0 && errno == EINTR);
		if (n < 0 || fds[1].revents)
			conn->closed.store(true, std::memory_order_release);
	}

	complete_all_closed(conn);

	// Whoever waits for an answer learns that none will come.
	pthread_mutex_lock(&conn->waiter_lock);
	pthread_cond_broadcast(&conn->cond);
	pthread_mutex_unlock(&conn->waiter_lock);
	return nullptr;
}

/* ---- connecting and disconnecting ---- */

static void free_devices(kalunConnection *conn)
{
	for (size_t i = 0; i < conn->num_devices; i++) {
		free(conn->devices[i]->name);
		free(conn->devices[i]);
	}
	free(conn->devices);
	conn->devices = nullptr;
	conn->num_devices = 0;
}

static void connection_teardown(kalunConnection *conn)
{
	conn->closed.store(true, std::memory_order_release);

	if (conn->wake_fd >= 0 && conn->thread_started) {
		uint64_t one = 1;
		if (write(conn->wake_fd, &one, sizeof(one)) != static_cast<ssize_t>(sizeof(one)))
			// Without a wake-up the thread may sleep forever; it must still
			// be gone before the record is freed.
			pthread_cancel(conn->thread);
		pthread_join(conn->thread, nullptr);
		conn->thread_started = false;
	}

	// Every request was flushed when it was sent; a flush here could only
	// wait on a peer that no longer answers.
	conn->system_bus = sd_bus_close_unref(conn->system_bus);
	conn->results_bus = sd_bus_close_unref(conn->results_bus);
	conn->requests_bus = sd_bus_close_unref(conn->requests_bus);
	if (conn->wake_fd >= 0)
		close(conn->wake_fd);
	conn->wake_fd = -1;

	kalun_hashset_destroy(conn->pending);
	conn->pending = nullptr;
	if (conn->pending_lock_ready)
		pthread_mutex_destroy(&conn->pending_lock);
	if (conn->waiter_lock_ready)
		pthread_mutex_destroy(&conn->waiter_lock);
	if (conn->requests_lock_ready)
		pthread_mutex_destroy(&conn->requests_lock);
	if (conn->system_lock_ready)
		pthread_mutex_destroy(&conn->system_lock);
	if (conn->cond_ready)
		pthread_cond_destroy(&conn->cond);
	free_devices(conn);
	free(conn->session_path);
	delete conn;
}

static bool init_sync(kalunConnection *conn, kalunError **error)
{
	int r = kalun_hashset_create(PENDING_INITIAL_BUCKETS, &conn->pending);
	if (r) {
		kalun_error_set(error, r, "Could not create hash set: %s", strerror(r));
		return false;
	}
	r = pthread_mutex_init(&conn->pending_lock, nullptr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize mutex: %s", strerror(r));
		return false;
	}
	conn->pending_lock_ready = true;

	pthread_condattr_t attr;
	r = pthread_condattr_init(&attr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize condattr: %s", strerror(r));
		return false;
	}
	r = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
	if (r) {
		pthread_condattr_destroy(&attr);
		kalun_error_set(error, r, "Could not set condattr clock: %s", strerror(r));
		return false;
	}
	r = pthread_cond_init(&conn->cond, &attr);
	pthread_condattr_destroy(&attr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize condition variable: %s", strerror(r));
		return false;
	}
	conn->cond_ready = true;

	r = pthread_mutex_init(&conn->waiter_lock, nullptr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize mutex: %s", strerror(r));
		return false;
	}
	conn->waiter_lock_ready = true;

	r = pthread_mutex_init(&conn->requests_lock, nullptr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize mutex: %s", strerror(r));
		return false;
	}
	conn->requests_lock_ready = true;
	r = pthread_mutex_init(&conn->system_lock, nullptr);
	if (r) {
		kalun_error_set(error, r, "Could not initialize mutex: %s", strerror(r));
		return false;
	}
	conn->system_lock_ready = true;
	return true;
}

static bool read_device(kalunConnection *conn, sd_bus_message *reply, kalunError **error)
{
	auto **grown = static_cast<kalunDevice **>(
	    realloc(conn->devices, (conn->num_devices + 1) * sizeof(kalunDevice *)));
	if (!grown) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	conn->devices = grown;

	auto *dev = static_cast<kalunDevice *>(calloc(1, sizeof(kalunDevice)));
	if (!dev) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}

	const char *name = nullptr;
	int r = sd_bus_message_read(reply, "(sui)", &name, &dev->instance, &dev->chip);
	if (r < 0) {
		free(dev);
		kalun_error_set(error, -r, "Could not read message: %s", strerror(-r));
		return false;
	}
	if (strlen(name) > KALUN_DEVICE_NAME_MAX) {
		free(dev);
		kalun_error_set(error, EMSGSIZE, "Name of device must be at most %d characters in length",
		                KALUN_DEVICE_NAME_MAX);
		return false;
	}
	dev->index = conn->num_devices;
	dev->name = strdup(name);
	if (!dev->name) {
		free(dev);
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	conn->devices[conn->num_devices++] = dev;
	return true;
}

// Reads the CreateSession reply; the two descriptors stay owned by it.
static bool read_session_reply(kalunConnection *conn, sd_bus_message *reply, int *results_fd,
                               int *requests_fd, int32_t *code, const char **text, kalunError **error)
{
	int r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "thhisa(sui)");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not parse message: %s", strerror(-r));
		return false;
	}
	*code = -6;
	r = sd_bus_message_read(reply, "thhis", &conn->session_id, results_fd, requests_fd, code, text);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read message: %s", strerror(-r));
		return false;
	}
	r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(sui)");
	if (r < 0) {
		kalun_error_set(error, -r, "Could not parse device array message: %s", strerror(-r));
		return false;
	}
	while ((r = sd_bus_message_at_end(reply, false)) == 0)
		if (!read_device(conn, reply, error))
			return false;
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read message: %s", strerror(-r));
		return false;
	}
	r = sd_bus_message_exit_container(reply);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not parse device array message: %s", strerror(-r));
		return false;
	}
	r = sd_bus_message_exit_container(reply);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not parse message: %s", strerror(-r));
		return false;
	}
	return true;
}

static bool create_session(kalunConnection *conn, const char *unique_name, int *results_fd, int *requests_fd,
                           kalunError **error)
{
	sd_bus_error bus_error = SD_BUS_ERROR_NULL;
	sd_bus_message *reply = nullptr;
	int r =
	    sd_bus_call_method(conn->system_bus, KALUN_SERVICE_NAME, KALUN_SERVICE_PATH,
	                       KALUN_SERVICE_INTERFACE, "CreateSession", &bus_error, &reply, "suuu",
	                       unique_name, KALUN_VERSION_MAJOR, KALUN_VERSION_MINOR, KALUN_VERSION_PATCH);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create session: %s",
		                bus_error.message ? bus_error.message : strerror(-r));
		sd_bus_error_free(&bus_error);
		return false;
	}

	int fd_results = -1, fd_requests = -1;
	int32_t code = -6;
	const char *text = nullptr;
	bool ok = read_session_reply(conn, reply, &fd_results, &fd_requests, &code, &text, error);
	if (ok && code != 0) {
		kalun_error_set(error, code, "%s", text ? text : "");
		ok = false;
	}
	if (ok) {
		*results_fd = fcntl(fd_results, F_DUPFD_CLOEXEC, 3);
		if (*results_fd < 0) {
			kalun_error_set(error, errno, "Could not duplicate file descriptor: %s",
			                strerror(errno));
			ok = false;
		}
	}
	if (ok) {
		*requests_fd = fcntl(fd_requests, F_DUPFD_CLOEXEC, 3);
		if (*requests_fd < 0) {
			int e = errno;
			close(*results_fd);
			*results_fd = -1;
			kalun_error_set(error, e, "Could not duplicate file descriptor: %s", strerror(e));
			ok = false;
		}
	}
	sd_bus_message_unref(reply);
	return ok;
}

// A client-side peer bus on fd; the fd is closed exactly once on failure.
static bool open_peer_bus(int fd, sd_bus **out, kalunError **error)
{
	sd_bus *bus = nullptr;
	int r = sd_bus_new(&bus);
	if (r < 0) {
		close(fd);
		kalun_error_set(error, -r, "Could not create asynchronous bus: %s", strerror(-r));
		return false;
	}
	r = sd_bus_set_fd(bus, fd, fd);
	if (r < 0) {
		close(fd);
		sd_bus_unref(bus);
		kalun_error_set(error, -r, "Could not create asynchronous bus: %s", strerror(-r));
		return false;
	}
	r = sd_bus_negotiate_fds(bus, 1);
	if (r >= 0)
		r = sd_bus_set_anonymous(bus, 0);
	if (r >= 0)
		r = sd_bus_start(bus);
	if (r < 0) {
		sd_bus_close_unref(bus);
		kalun_error_set(error, -r, "Could not create asynchronous bus: %s", strerror(-r));
		return false;
	}
	*out = bus;
	return true;
}

static bool start_thread(kalunConnection *conn, kalunError **error)
{
	conn->wake_fd = eventfd(0, EFD_CLOEXEC);
	if (conn->wake_fd < 0) {
		kalun_error_set(error, errno, "Could not create event file descriptor: %s", strerror(errno));
		return false;
	}

	int r = pthread_create(&conn->thread, nullptr, bus_thread, conn);
	if (r) {
		close(conn->wake_fd);
		conn->wake_fd = -1;
		kalun_error_set(error, r, "Could not create asynchronous bus processing thread: %s",
		                strerror(r));
		return false;
	}
	conn->thread_started = true;

	r = pthread_setname_np(conn->thread, "kalunbusproc");
	if (r) {
		kalun_error_set(error, r, "Could not set thread name \"kalunbusproc\"");
		return false;
	}
	return true;
}

static bool send_handshake(kalunConnection *conn, const char *unique_name, kalunError **error)
{
	sd_bus_message *m = nullptr;
	int r = kalun_request_new(conn, "Handshake", &m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not create handshake message: %s", strerror(-r));
		return false;
	}
	r = sd_bus_message_append(m, "s", unique_name);
	if (r < 0) {
		kalun_request_end(conn, m);
		kalun_error_set(error, -r, "Could not create handshake message: %s", strerror(-r));
		return false;
	}
	r = kalun_request_send(conn, m);
	kalun_request_end(conn, m);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not send handshake message: %s", strerror(-r));
		return false;
	}
	return true;
}

// The service finishes authenticating the result channel only when it sends
// its first answer there, the handshake's. Until the result thread has read
// that, a later answer carrying descriptors could reach the client while it
// still reads the authentication lines, which sd-bus takes as an attack and
// closes the channel; so connecting ends only once the answer is in.
static bool wait_handshake_answer(kalunConnection *conn, kalunError **error)
{
	struct timespec deadline;
	clock_gettime(CLOCK_MONOTONIC, &deadline);
	deadline.tv_sec += HANDSHAKE_TIMEOUT_SEC;

	int r = 0;
	pthread_mutex_lock(&conn->waiter_lock);
	while (!conn->handshake_answered && !conn->closed.load(std::memory_order_acquire) && r == 0)
		r = pthread_cond_timedwait(&conn->cond, &conn->waiter_lock, &deadline);
	bool answered = conn->handshake_answered;
	pthread_mutex_unlock(&conn->waiter_lock);

	if (answered)
		return true;
	if (r == 0) {
		kalun_error_set(error, KALUN_ERROR_CONNECTION_CLOSED, KALUN_CLOSED_TEXT);
		return false;
	}
	kalun_error_set(error, r, "Could not receive handshake answer: %s", strerror(r));
	return false;
}

static bool connect_steps(kalunConnection *conn, kalunError **error)
{
	if (!init_sync(conn, error))
		return false;

	int r = sd_bus_open_system(&conn->system_bus);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not open bus: %s", strerror(-r));
		return false;
	}
	const char *unique_name = nullptr;
	r = sd_bus_get_unique_name(conn->system_bus, &unique_name);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not get bus name: %s", strerror(-r));
		return false;
	}

	int results_fd = -1, requests_fd = -1;
	if (!create_session(conn, unique_name, &results_fd, &requests_fd, error))
		return false;
	if (!open_peer_bus(results_fd, &conn->results_bus, error)) {
		close(requests_fd);
		return false;
	}
	if (!open_peer_bus(requests_fd, &conn->requests_bus, error))
		return false;

	if (!start_thread(conn, error))
		return false;

	if (asprintf(&conn->session_path, "%s/%" PRIu64, KALUN_SESSION_PATH_PREFIX, conn->session_id) < 0) {
		conn->session_path = nullptr;
		kalun_error_set(error, ENOMEM, "Could not save session ID: %s", strerror(ENOMEM));
		return false;
	}

	if (!send_handshake(conn, unique_name, error))
		return false;
	return wait_handshake_answer(conn, error);
}

bool kalunConnect(kalunConnection **conn, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}

	auto *c = new (std::nothrow) kalunConnection{};
	if (!c) {
		*conn = nullptr;
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return false;
	}
	*conn = c;
	c->wake_fd = -1;
	c->closed.store(false);
	c->current_device = 0;
	c->next_tensor_id.store(1);
	c->sync_wait_seconds = 3600;

	if (!connect_steps(c, error)) {
		connection_teardown(c);
		*conn = nullptr;
		return false;
	}
	return true;
}

bool kalunDisconnect(kalunConnection **conn, kalunError **error)
{
	(void)error;
	if (!conn || !*conn)
		return true;
	connection_teardown(*conn);
	*conn = nullptr;
	return true;
}

bool kalunGetNumSessions(kalunConnection *conn, uint64_t *numSessions, kalunError **error)
{
	if (!conn) {
		kalun_error_set(error, EINVAL, "kalunConnection is NULL");
		return false;
	}
	if (!numSessions) {
		kalun_error_set(error, EINVAL, "Pointer argument numSessions is NULL");
		return false;
	}

	sd_bus_error bus_error = SD_BUS_ERROR_NULL;
	sd_bus_message *reply = nullptr;
	uint64_t count = 0;
	// As for the models: the reply is dropped under the lock (it holds a
	// reference on the bus).
	pthread_mutex_lock(&conn->system_lock);
	int r = sd_bus_get_property(conn->system_bus, KALUN_SERVICE_NAME, KALUN_SERVICE_PATH,
	                            KALUN_SERVICE_INTERFACE, "NbrOfSessions", &bus_error, &reply, "t");
	int read = r < 0 ? 0 : sd_bus_message_read(reply, "t", &count);
	sd_bus_message_unref(reply);
	pthread_mutex_unlock(&conn->system_lock);
	if (r < 0) {
		kalun_error_set(error, -r, "Could not get number of sessions: %s",
		                bus_error.message ? bus_error.message : strerror(-r));
		sd_bus_error_free(&bus_error);
		return false;
	}
	r = read;
	if (r < 0) {
		kalun_error_set(error, -r, "Could not read message: %s", strerror(-r));
		return false;
	}
	*numSessions = count;
	return true;
}

/* ---- waiters of synchronous calls ---- */

kalun_waiter *kalun_waiter_new(kalunConnection *conn, kalunError **error)
{
	auto *w = static_cast<kalun_waiter *>(calloc(1, sizeof(kalun_waiter)));
	if (!w) {
		kalun_error_set(error, ENOMEM, "%s", strerror(ENOMEM));
		return nullptr;
	}
	w->conn = conn;
	w->refs = 2;
	return w;
}

void kalun_waiter_unref(kalun_waiter *w)
{
	pthread_mutex_lock(&w->conn->waiter_lock);
	bool last = --w->refs == 0;
	pthread_mutex_unlock(&w->conn->waiter_lock);
	if (last)
		free(w);
}

bool kalun_waiter_wait(kalun_waiter *w, const char *what, const char *other)
{
	struct timespec deadline;
	clock_gettime(CLOCK_MONOTONIC, &deadline);
	deadline.tv_sec += w->conn->sync_wait_seconds;

	int r = 0;
	pthread_mutex_lock(&w->conn->waiter_lock);
	while (!w->done && r == 0)
		r = pthread_cond_timedwait(&w->conn->cond, &w->conn->waiter_lock, &deadline);
	if (!w->done) {
		// From here on a late answer must not reach the caller's record.
		w->done = true;
		w->abandoned = true;
		w->success = false;
		if (r == ETIMEDOUT)
			kalun_error_set(w->error, ETIMEDOUT, "%s: %s", what, strerror(r));
		else
			kalun_error_set(w->error, r, "%s: %s", other, strerror(r));
	}
	bool success = w->success;
	pthread_mutex_unlock(&w->conn->waiter_lock);
	return success;
}
