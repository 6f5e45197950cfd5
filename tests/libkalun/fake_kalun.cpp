#include "fake_kalun.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fakekalun
{

namespace
{

void check(int r, const char *what)
{
	if (r < 0)
		throw std::runtime_error(std::string("fake kalun: ") + what + ": " + strerror(-r));
}

sd_bus *server_bus(int fd)
{
	sd_bus *bus = nullptr;
	check(sd_bus_new(&bus), "sd_bus_new");
	check(sd_bus_set_fd(bus, fd, fd), "sd_bus_set_fd");
	sd_id128_t id;
	check(sd_id128_randomize(&id), "sd_id128_randomize");
	check(sd_bus_set_server(bus, 1, id), "sd_bus_set_server");
	check(sd_bus_set_anonymous(bus, 0), "sd_bus_set_anonymous");
	check(sd_bus_negotiate_fds(bus, 1), "sd_bus_negotiate_fds");
	check(sd_bus_start(bus), "sd_bus_start");
	return bus;
}

} // namespace

struct FakeKalun::Impl {
	struct Session {
		uint64_t id = 0;
		sd_bus *requests = nullptr;
		sd_bus *results = nullptr;
		~Session()
		{
			sd_bus_close_unref(requests);
			sd_bus_close_unref(results);
		}
	};

	sd_bus *bus = nullptr;
	sd_bus_slot *slot = nullptr;
	int wake = -1;
	std::thread thread;
	bool stop = false;

	std::mutex lock;
	std::condition_variable changed;
	Script script;
	uint64_t num_sessions = 0;
	bool fail_sessions = false;
	std::vector<CreateSessionCall> calls;
	std::vector<Request> requests;
	std::vector<std::function<void()>> commands;
	std::vector<std::unique_ptr<Session>> sessions; // loop thread only

	static int create_session(sd_bus_message *m, void *userdata, sd_bus_error *error);
	static int filter(sd_bus_message *m, void *userdata, sd_bus_error *error);
	static int get_sessions(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
	                        void *userdata, sd_bus_error *error);
	int reply_session(sd_bus_message *m, const Script &s, const CreateSessionCall &c);
	void run();
	void pump(sd_bus *b, Session *s);
	void send_result(Session &s, const std::string &member,
	                 const std::function<void(sd_bus_message *)> &append);
};

static const sd_bus_vtable *service_vtable()
{
	static const sd_bus_vtable vtable[] = {
	    SD_BUS_VTABLE_START(0),
	    SD_BUS_METHOD("CreateSession", "suuu", "(thhisa(sui))", FakeKalun::Impl::create_session,
	                  SD_BUS_VTABLE_UNPRIVILEGED),
	    SD_BUS_PROPERTY("NbrOfSessions", "t", FakeKalun::Impl::get_sessions, 0,
	                    SD_BUS_VTABLE_PROPERTY_CONST),
	    SD_BUS_VTABLE_END,
	};
	return vtable;
}

int FakeKalun::Impl::get_sessions(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                                  void *userdata, sd_bus_error *error)
{
	auto *self = static_cast<Impl *>(userdata);
	std::lock_guard<std::mutex> g(self->lock);
	if (self->fail_sessions)
		return sd_bus_error_set(error, "org.freedesktop.DBus.Error.Failed", "sessions unknown");
	return sd_bus_message_append(reply, "t", self->num_sessions);
}

int FakeKalun::Impl::reply_session(sd_bus_message *m, const Script &s, const CreateSessionCall &c)
{
	if (!s.dbus_error_name.empty())
		return sd_bus_reply_method_errorf(m, s.dbus_error_name.c_str(), "%s",
		                                  s.dbus_error_message.c_str());
	int32_t code = s.code;
	std::string message = s.message;
	if (code == 0 && (c.major != s.major || c.minor != s.minor || c.patch != s.patch)) {
		code = -13;
		message = "Could not create session: version mismatch between library (" +
		          std::to_string(c.major) + "." + std::to_string(c.minor) + "." +
		          std::to_string(c.patch) + ") and service (" + std::to_string(s.major) + "." +
		          std::to_string(s.minor) + "." + std::to_string(s.patch) + ")";
	}

	int results[2] = {-1, -1}, reqs[2] = {-1, -1};
	uint64_t id = 0;
	auto session = std::make_unique<Session>();
	if (code == 0) {
		if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, results) < 0 ||
		    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, reqs) < 0)
			return -errno;
		id = s.session_id;
		session->id = id;
		session->results = server_bus(results[0]);
		session->requests = server_bus(reqs[0]);
	}

	sd_bus_message *reply = nullptr;
	int r = sd_bus_message_new_method_return(m, &reply);
	if (r >= 0)
		r = sd_bus_message_open_container(reply, 'r', "thhisa(sui)");
	if (r >= 0)
		r = sd_bus_message_append(reply, "thhis", id, code == 0 ? results[1] : 0,
		                          code == 0 ? reqs[1] : 0, code, message.c_str());
	if (r >= 0)
		r = sd_bus_message_open_container(reply, 'a', "(sui)");
	for (size_t i = 0; r >= 0 && code == 0 && i < s.units.size(); i++)
		r = sd_bus_message_append(reply, "(sui)", s.units[i].name.c_str(), s.units[i].instance,
		                          s.units[i].chip);
	if (r >= 0)
		r = sd_bus_message_close_container(reply);
	if (r >= 0)
		r = sd_bus_message_close_container(reply);
	if (r >= 0)
		r = sd_bus_send(nullptr, reply, nullptr);
	sd_bus_message_unref(reply);
	// The client has its own copies now.
	if (code == 0) {
		close(results[1]);
		close(reqs[1]);
		sessions.push_back(std::move(session));
	}
	return r < 0 ? r : 1;
}

// The object table checks reply signatures, so a reply of another shape is
// sent from here, before the table sees the call.
int FakeKalun::Impl::filter(sd_bus_message *m, void *userdata, sd_bus_error *)
{
	auto *self = static_cast<Impl *>(userdata);
	if (!sd_bus_message_is_method_call(m, "com.tovi.Kalun1.Service", "CreateSession"))
		return 0;
	{
		std::lock_guard<std::mutex> g(self->lock);
		if (!self->script.malformed_reply)
			return 0;
	}
	sd_bus_reply_method_return(m, "s", "not a session");
	return 1;
}

int FakeKalun::Impl::create_session(sd_bus_message *m, void *userdata, sd_bus_error *)
{
	auto *self = static_cast<Impl *>(userdata);
	const char *name = nullptr;
	CreateSessionCall c{};
	int r = sd_bus_message_read(m, "suuu", &name, &c.major, &c.minor, &c.patch);
	if (r < 0)
		return r;
	c.client_name = name;

	Script s;
	{
		std::lock_guard<std::mutex> g(self->lock);
		self->calls.push_back(c);
		s = self->script;
	}
	try {
		r = self->reply_session(m, s, c);
	} catch (const std::exception &) {
		r = -EIO;
	}
	self->changed.notify_all();
	return r;
}

void FakeKalun::Impl::send_result(Session &s, const std::string &member,
                                  const std::function<void(sd_bus_message *)> &append)
{
	if (!s.results)
		return;
	sd_bus_message *m = nullptr;
	check(sd_bus_message_new_method_call(s.results, &m, "com.tovi.Kalun1", "/", "com.tovi.Kalun1",
	                                     member.c_str()),
	      "new result");
	append(m);
	check(sd_bus_send(s.results, m, nullptr), "send result");
	sd_bus_message_unref(m);
	sd_bus_flush(s.results);
}

void FakeKalun::Impl::pump(sd_bus *b, Session *s)
{
	for (;;) {
		sd_bus_message *m = nullptr;
		int r = sd_bus_process(b, &m);
		if (m && s && b == s->requests &&
		    strcmp(sd_bus_message_get_interface(m) ? sd_bus_message_get_interface(m) : "",
		           "org.freedesktop.DBus.Local") != 0) {
			Request req;
			const char *v;
			req.member = (v = sd_bus_message_get_member(m)) ? v : "";
			req.path = (v = sd_bus_message_get_path(m)) ? v : "";
			req.interface = (v = sd_bus_message_get_interface(m)) ? v : "";
			req.destination = (v = sd_bus_message_get_destination(m)) ? v : "";
			req.signature = (v = sd_bus_message_get_signature(m, 1)) ? v : "";
			const char *str = nullptr;
			if (!req.signature.empty() && req.signature[0] == 's' &&
			    sd_bus_message_read(m, "s", &str) >= 0)
				req.first_string = str;
			req.message.reset(sd_bus_message_ref(m), sd_bus_message_unref);
			bool handshake, close_instead;
			{
				std::lock_guard<std::mutex> g(lock);
				requests.push_back(req);
				handshake = req.member == "Handshake";
				close_instead = script.close_on_handshake;
			}
			changed.notify_all();
			if (handshake && close_instead)
				s->results = sd_bus_close_unref(s->results);
			else if (handshake)
				send_result(*s, "Handshake", [&](sd_bus_message *msg) {
					sd_bus_message_append(msg, "t", s->id);
				});
		}
		sd_bus_message_unref(m);
		if (r <= 0)
			return;
	}
}

void FakeKalun::Impl::run()
{
	for (;;) {
		pump(bus, nullptr);
		for (auto &s : sessions) {
			if (s->requests)
				pump(s->requests, s.get());
			if (s->results)
				pump(s->results, s.get());
		}

		std::vector<std::function<void()>> todo;
		{
			std::lock_guard<std::mutex> g(lock);
			if (stop)
				return;
			todo.swap(commands);
		}
		for (auto &fn : todo)
			fn();
		if (!todo.empty())
			continue;

		std::vector<pollfd> fds;
		fds.push_back({wake, POLLIN, 0});
		fds.push_back({sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0});
		for (auto &s : sessions) {
			for (sd_bus *b : {s->requests, s->results}) {
				if (!b)
					continue;
				int events = sd_bus_get_events(b);
				if (events < 0)
					continue;
				fds.push_back({sd_bus_get_fd(b), static_cast<short>(events), 0});
			}
		}
		// sd-bus may have work queued without a descriptor event (authentication
		// steps, timeouts), so never sleep long.
		poll(fds.data(), fds.size(), 20);
		uint64_t v;
		if (fds[0].revents & POLLIN)
			(void)!read(wake, &v, sizeof(v));
	}
}

FakeKalun::FakeKalun() : impl_(new Impl)
{
	impl_->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	check(sd_bus_open_system(&impl_->bus), "open system bus");
	check(sd_bus_add_object_vtable(impl_->bus, &impl_->slot, "/com/tovi/Kalun1",
	                               "com.tovi.Kalun1.Service", service_vtable(), impl_),
	      "add vtable");
	check(sd_bus_add_filter(impl_->bus, nullptr, Impl::filter, impl_), "add filter");
	check(sd_bus_request_name(impl_->bus, "com.tovi.Kalun1", 0), "request name");
	impl_->thread = std::thread([this] { impl_->run(); });
}

FakeKalun::~FakeKalun()
{
	{
		std::lock_guard<std::mutex> g(impl_->lock);
		impl_->stop = true;
	}
	uint64_t one = 1;
	(void)!write(impl_->wake, &one, sizeof(one));
	impl_->thread.join();
	impl_->sessions.clear();
	sd_bus_slot_unref(impl_->slot);
	sd_bus_release_name(impl_->bus, "com.tovi.Kalun1");
	sd_bus_flush_close_unref(impl_->bus);
	close(impl_->wake);
	delete impl_;
}

void FakeKalun::set_script(const Script &script)
{
	std::lock_guard<std::mutex> g(impl_->lock);
	impl_->script = script;
}

void FakeKalun::set_num_sessions(uint64_t n, bool fail)
{
	std::lock_guard<std::mutex> g(impl_->lock);
	impl_->num_sessions = n;
	impl_->fail_sessions = fail;
}

std::vector<CreateSessionCall> FakeKalun::create_calls()
{
	std::lock_guard<std::mutex> g(impl_->lock);
	return impl_->calls;
}

std::vector<Request> FakeKalun::wait_requests(size_t n)
{
	std::unique_lock<std::mutex> g(impl_->lock);
	impl_->changed.wait_for(g, std::chrono::seconds(5), [&] { return impl_->requests.size() >= n; });
	return impl_->requests;
}

// Runs fn on the fake's thread and waits for it.
static void run_on_loop(FakeKalun::Impl *impl, const std::function<void()> &fn)
{
	std::mutex done_lock;
	std::condition_variable done_cv;
	bool done = false;
	{
		std::lock_guard<std::mutex> g(impl->lock);
		impl->commands.push_back([&] {
			fn();
			std::lock_guard<std::mutex> d(done_lock);
			done = true;
			done_cv.notify_all();
		});
	}
	uint64_t one = 1;
	(void)!write(impl->wake, &one, sizeof(one));
	std::unique_lock<std::mutex> d(done_lock);
	done_cv.wait(d, [&] { return done; });
}

void FakeKalun::send_raw(const std::string &member, const std::function<void(sd_bus_message *)> &append)
{
	run_on_loop(impl_, [&] {
		if (impl_->sessions.empty())
			throw std::runtime_error("fake kalun: no session");
		impl_->send_result(*impl_->sessions.back(), member, append);
	});
}

void FakeKalun::send_tail(const std::string &member, uint64_t tag, int32_t code, const std::string &message)
{
	send_raw(member, [&](sd_bus_message *m) {
		check(sd_bus_message_append(m, "tis", tag, code, message.c_str()), "append tail");
	});
}

void FakeKalun::send_alloc(uint64_t tag, int32_t code, const std::string &message,
                           const std::vector<uint64_t> &sizes, const std::vector<uint32_t> &props,
                           size_t nfds)
{
	send_raw("AllocTensors", [&](sd_bus_message *m) {
		check(sd_bus_message_open_container(m, 'a', "h"), "open ah");
		for (size_t i = 0; i < nfds; i++) {
			int fd = memfd_create("fake-tensor", MFD_CLOEXEC);
			check(sd_bus_message_append(m, "h", fd), "append h");
			close(fd);
		}
		check(sd_bus_message_close_container(m), "close ah");
		check(sd_bus_message_open_container(m, 'a', "t"), "open at");
		for (uint64_t v : sizes)
			check(sd_bus_message_append(m, "t", v), "append t");
		check(sd_bus_message_close_container(m), "close at");
		check(sd_bus_message_open_container(m, 'a', "u"), "open au");
		for (uint32_t v : props)
			check(sd_bus_message_append(m, "u", v), "append u");
		check(sd_bus_message_close_container(m), "close au");
		check(sd_bus_message_append(m, "tis", tag, code, message.c_str()), "append tail");
	});
}

void FakeKalun::drop_sessions()
{
	run_on_loop(impl_, [&] { impl_->sessions.clear(); });
}

void FakeKalun::close_results()
{
	run_on_loop(impl_, [&] {
		if (impl_->sessions.empty())
			return;
		auto &s = *impl_->sessions.back();
		s.results = sd_bus_close_unref(s.results);
	});
}

} // namespace fakekalun
