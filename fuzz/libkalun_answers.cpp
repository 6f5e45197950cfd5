// The service's answers as libkalun's result thread reads them. A load is
// requested from a stand-in of the service on a private bus; the stand-in
// then sends one answer built from the input and, after it, a well-formed
// refusal of the load, so that the request completes whether the answer
// was taken for it or not. The input reads as: a byte for the member the
// answer carries, a byte for the shape of its body (the load's structure,
// the result tail, the allocation's arrays, the handshake's id), then the
// values, in the order the shape appends them. A tag of 0 becomes the
// pending load's tag.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "connection.h"
#include "fake_kalun.h"
#include "libkalun.h"
#include "private_bus.h"

namespace
{

const char *const members[] = {"QueueLoadModel", "QueueJob",  "DeleteModel", "DeallocTensors",
                               "AllocTensors",   "Handshake", "NoSuchAnswer"};
// The load's answer is one structure of the model and the result tail.
const char *const load_answer = "((tttisa(iitatats)a(iitatats))tis)";
const char *const load_contents = "(tttisa(iitatats)a(iitatats))tis";

fakekalun::FakeKalun *fake;
kalunConnection *conn;
const kalunDevice *device;
size_t requests_seen;

// Torn down at exit in order: the connection, the stand-in, the bus daemon.
struct Service {
	testsupport::PrivateBus bus;
	fakekalun::FakeKalun fake;
	~Service()
	{
		kalunError *error = nullptr;
		kalunDisconnect(&conn, &error);
		kalunClearError(&error);
	}
};

struct Reader {
	const uint8_t *data;
	size_t size;
	size_t at = 0;

	template <typename T> T take()
	{
		T value{};
		size_t n = size - at < sizeof value ? size - at : sizeof value;
		memcpy(&value, data + at, n);
		at += n;
		return value;
	}
	std::string text()
	{
		size_t length = take<uint8_t>() % 32;
		if (size - at < length)
			length = size - at;
		std::string s(reinterpret_cast<const char *>(data + at), length);
		at += length;
		// The bus carries texts without null bytes and as UTF-8.
		for (char &c : s)
			if (c == 0 || (unsigned char)c >= 0x80)
				c = '?';
		return s;
	}
};

void check(int r)
{
	if (r < 0)
		throw std::runtime_error("fuzz: could not build the answer");
}

void append_tail(sd_bus_message *m, Reader &in, uint64_t tag)
{
	uint64_t t = in.take<uint64_t>();
	int32_t code = in.take<int32_t>();
	std::string text = in.text();
	check(sd_bus_message_append(m, "tis", t ? t : tag, code, text.c_str()));
}

void append_tensor(sd_bus_message *m, Reader &in)
{
	check(sd_bus_message_open_container(m, 'r', "iitatats"));
	check(sd_bus_message_append(m, "i", in.take<int32_t>()));
	check(sd_bus_message_append(m, "i", in.take<int32_t>()));
	check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
	for (int list = 0; list < 2; list++) {
		check(sd_bus_message_open_container(m, 'a', "t"));
		for (int n = in.take<uint8_t>() % 6; n > 0; n--)
			check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
		check(sd_bus_message_close_container(m));
	}
	check(sd_bus_message_append(m, "s", in.text().c_str()));
	check(sd_bus_message_close_container(m));
}

void append_load(sd_bus_message *m, Reader &in, uint64_t tag)
{
	check(sd_bus_message_open_container(m, 'r', load_contents));
	check(sd_bus_message_open_container(m, 'r', "tttisa(iitatats)a(iitatats)"));
	check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
	check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
	check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
	check(sd_bus_message_append(m, "i", in.take<int32_t>()));
	check(sd_bus_message_append(m, "s", in.text().c_str()));
	for (int list = 0; list < 2; list++) {
		check(sd_bus_message_open_container(m, 'a', "(iitatats)"));
		for (int n = in.take<uint8_t>() % 4; n > 0; n--)
			append_tensor(m, in);
		check(sd_bus_message_close_container(m));
	}
	check(sd_bus_message_close_container(m));
	append_tail(m, in, tag);
	check(sd_bus_message_close_container(m));
}

void append_alloc(sd_bus_message *m, Reader &in, uint64_t tag)
{
	check(sd_bus_message_open_container(m, 'a', "h"));
	for (int n = in.take<uint8_t>() % 4; n > 0; n--) {
		int fd = memfd_create("fuzz-tensor", MFD_CLOEXEC);
		check(sd_bus_message_append(m, "h", fd));
		close(fd);
	}
	check(sd_bus_message_close_container(m));
	check(sd_bus_message_open_container(m, 'a', "t"));
	for (int n = in.take<uint8_t>() % 4; n > 0; n--)
		check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
	check(sd_bus_message_close_container(m));
	check(sd_bus_message_open_container(m, 'a', "u"));
	for (int n = in.take<uint8_t>() % 4; n > 0; n--)
		check(sd_bus_message_append(m, "u", in.take<uint32_t>()));
	check(sd_bus_message_close_container(m));
	append_tail(m, in, tag);
}

struct Outcome {
	std::mutex lock;
	std::condition_variable cv;
	bool done = false;
};

// A model the library read is used as an application would.
void loaded(kalunModel *model, void *user_data, kalunError *)
{
	if (model) {
		kalunError *error = nullptr;
		size_t count = 0;
		free(kalunGetModelInputByteSizes(model, &count, &error));
		kalunClearError(&error);
		free(kalunGetModelOutputByteSizes(model, &count, &error));
		kalunClearError(&error);
		kalunTensor **inputs = kalunCreateModelInputs(model, &count, &error);
		kalunClearError(&error);
		if (inputs)
			kalunDestroyTensors(conn, &inputs, count, &error);
		kalunClearError(&error);
		kalunDestroyModel(&model);
	}
	auto *outcome = static_cast<Outcome *>(user_data);
	std::lock_guard<std::mutex> g(outcome->lock);
	outcome->done = true;
	outcome->cv.notify_all();
}

uint64_t pending_load_tag(Outcome &outcome)
{
	kalunError *error = nullptr;
	int fd = memfd_create("fuzz-model", MFD_CLOEXEC);
	// Its bytes never matter: the stand-in answers whatever it gets.
	if (write(fd, "m", 1) != 1)
		abort();
	bool sent = kalunLoadModelAsync(conn, fd, device, 1, "fuzz", nullptr, loaded, &outcome, &error);
	close(fd);
	if (!sent) {
		fprintf(stderr, "fuzz: the load was not sent: %s\n", error ? error->msg : "");
		abort();
	}
	std::vector<fakekalun::Request> requests = fake->wait_requests(++requests_seen);
	if (requests.size() != requests_seen)
		abort();
	sd_bus_message *m = requests.back().message.get();
	uint64_t tag = 0;
	if (sd_bus_message_rewind(m, true) < 0 || sd_bus_message_skip(m, "httis") < 0 ||
	    sd_bus_message_read(m, "t", &tag) <= 0)
		abort();
	return tag;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static Service service;
	fake = &service.fake;
	kalunError *error = nullptr;
	if (!kalunConnect(&conn, &error))
		abort();
	device = kalunGetDevice(conn, "cpu-tflite", 0, &error);
	if (!device)
		abort();
	// The handshake is the first request the stand-in saw.
	requests_seen = fake->wait_requests(1).size();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return -1;
	Reader in{data, size, 2};
	Outcome outcome;
	const uint64_t tag = pending_load_tag(outcome);
	const char *member = members[data[0] % (sizeof members / sizeof members[0])];
	fake->send_raw(member, [&](sd_bus_message *m) {
		switch (data[1] % 4) {
		case 0:
			append_load(m, in, tag);
			break;
		case 1:
			append_tail(m, in, tag);
			break;
		case 2:
			append_alloc(m, in, tag);
			break;
		default:
			check(sd_bus_message_append(m, "t", in.take<uint64_t>()));
		}
	});
	fake->send_raw("QueueLoadModel", [&](sd_bus_message *m) {
		const uint64_t none = 0;
		check(sd_bus_message_append(m, load_answer, none, none, none, (int32_t)0, "", 0u, 0u, tag,
		                            (int32_t)-2, "refused"));
	});
	std::unique_lock<std::mutex> g(outcome.lock);
	if (!outcome.cv.wait_for(g, std::chrono::seconds(10), [&] { return outcome.done; }))
		abort();
	return 0;
}
