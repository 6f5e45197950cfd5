// A serial-link library for the loader and capture-mode tests. It lays its
// objects out by byte offset, on its own, so that a daemon reading another
// layout calls the wrong slot and the tests see it. Every call is recorded as
// "name(arguments)"; a test may hand the calls to a recorder of its own,
// whose answer the slot returns. Built with SERIAL_LINK_NO_SYMBOL it lacks
// the entry point: the same maker goes by another name.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

namespace
{

typedef int (*recorder_fn)(const char *name, const char *arguments);

std::string calls;
std::map<std::string, int> answers;
recorder_fn recorder;
int refuse_create;

const size_t object_size = 152;

int note(const char *name, const std::string &arguments)
{
	if (recorder)
		return recorder(name, arguments.c_str());
	calls += std::string(calls.empty() ? "" : " ") + name + "(" + arguments + ")";
	auto it = answers.find(name);
	return it == answers.end() ? 0 : it->second;
}

// snprintf rather than std::to_string: the latter's unique symbols would
// keep the library loaded after its last close, which the tests look for.
std::string list(std::initializer_list<intptr_t> values)
{
	std::string out;
	for (intptr_t v : values) {
		char number[24];
		snprintf(number, sizeof(number), "%s%lld", out.empty() ? "" : ",", (long long)v);
		out += number;
	}
	return out;
}

void destroy(void *, int32_t stream_id)
{
	note("destroy", list({stream_id}));
}

int op2(void *, intptr_t a)
{
	return note("op2", list({a}));
}

int op3(void *, intptr_t a, intptr_t b)
{
	return note("op3", list({a, b}));
}

int prepare(void *, int32_t stream_id)
{
	return note("prepare", list({stream_id}));
}

// The area record: x0, y0, x1, y1 as 32-bit words.
int end(void *, const int32_t *area, int32_t stream_id)
{
	return note("end", list({area[2], area[3], stream_id}));
}

int applied(void *, int32_t stream_id)
{
	return note("applied", list({stream_id}));
}

int op7(void *, intptr_t a)
{
	return note("op7", list({a}));
}

int op8(void *, intptr_t a, intptr_t b, intptr_t c)
{
	return note("op8", list({a, b, c}));
}

int op9(void *, intptr_t a, intptr_t b)
{
	return note("op9", list({a, b}));
}

int op10(void *, intptr_t a)
{
	return note("op10", list({a}));
}

int op11(void *, intptr_t a, intptr_t b)
{
	return note("op11", list({a, b}));
}

int set_ircut(void *, int channel, uint8_t state)
{
	return note("set_ircut", list({channel, state}));
}

int op13(void *, intptr_t a, intptr_t b)
{
	return note("op13", list({a, b}));
}

template <typename F> void put(unsigned char *object, size_t offset, F function)
{
	void *pointer = reinterpret_cast<void *>(function);
	memcpy(object + offset, &pointer, sizeof(pointer));
}

} // namespace

extern "C" {

#ifdef SERIAL_LINK_NO_SYMBOL
#define SERIAL_LINK_ENTRY lib_serial_link_make
#else
#define SERIAL_LINK_ENTRY lib_serial_link_create
#endif

void *SERIAL_LINK_ENTRY(int32_t stream_id)
{
	note("create", list({stream_id}));
	if (refuse_create)
		return nullptr;
	// The daemon frees the object with free().
	auto *object = static_cast<unsigned char *>(calloc(1, object_size));
	put(object, 40, destroy);
	put(object, 48, op2);
	put(object, 56, op3);
	put(object, 64, prepare);
	put(object, 72, end);
	put(object, 80, applied);
	put(object, 88, op7);
	put(object, 96, op8);
	put(object, 104, op9);
	put(object, 112, op10);
	put(object, 120, op11);
	put(object, 128, set_ircut);
	put(object, 144, op13);
	return object;
}

// Everything recorded since the last take; free() it.
char *serial_link_lib_take_log(void)
{
	char *out = strdup(calls.c_str());
	calls.clear();
	return out;
}

void serial_link_lib_set_answer(const char *name, int answer)
{
	answers[name] = answer;
}

void serial_link_lib_refuse_create(int refuse)
{
	refuse_create = refuse;
}

// Null goes back to the library's own log.
void serial_link_lib_set_recorder(recorder_fn fn)
{
	recorder = fn;
}

void serial_link_lib_reset(void)
{
	calls.clear();
	answers.clear();
	recorder = nullptr;
	refuse_create = 0;
}
}
