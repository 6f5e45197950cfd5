// The lens device "/dev/vor_lens": the P-iris requests, logged, with a
// scripted answer to the state query and failures by request code.
#include "simsoc.h"
#include "simsoc_vor_lens.h"
#include "vor_lens_ioctl.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{

struct Failure {
	int err;
	int count;
};

struct Lens {
	std::mutex mu;
	std::vector<int> states;
	size_t next_state = 0;
	long position = -1;
	int config = -1;
	int opens = 0;
	std::map<unsigned long, Failure> failures;
	std::string requests;

	void reset()
	{
		states.clear();
		next_state = 0;
		position = -1;
		config = -1;
		failures.clear();
		requests.clear();
	}
};

Lens &lens()
{
	static Lens *l = new Lens;
	return *l;
}

void note(Lens &l, const char *what, long value)
{
	char line[64];
	snprintf(line, sizeof line, "%s %ld", what, value);
	l.requests += line;
	l.requests += '\n';
	simsoc_log("vor_lens: %s", line);
}

// The injected error for this code, 0 when none is due.
int failure(Lens &l, unsigned long code)
{
	auto it = l.failures.find(code);
	if (it == l.failures.end() || it->second.count == 0)
		return 0;
	if (it->second.count > 0)
		it->second.count--;
	return it->second.err;
}

int lens_open(simsoc_file *)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.opens++;
	return 0;
}

void lens_release(simsoc_file *)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.opens--;
}

int lens_ioctl(simsoc_file *, unsigned long request, void *arg)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	auto value = (long)(intptr_t)arg;
	switch (request) {
	case VORS_IOC_P_IRIS_SET_POS:
		note(l, "set_pos", value);
		if (int err = failure(l, request))
			return -err;
		l.position = value;
		return 0;
	case VORS_IOC_P_IRIS_RESET:
		note(l, "reset", value);
		if (int err = failure(l, request))
			return -err;
		l.position = 0;
		return 0;
	case VORS_IOC_P_IRIS_CONFIG:
		note(l, "config", value);
		if (value != 0 && value != 1)
			return -EINVAL;
		if (int err = failure(l, request))
			return -err;
		l.config = (int)value;
		return 0;
	case VORS_IOC_P_IRIS_GET_STATE: {
		if (!arg)
			return -EFAULT;
		int state = 0;
		if (!l.states.empty()) {
			state = l.states[l.next_state];
			if (l.next_state + 1 < l.states.size())
				l.next_state++;
		}
		note(l, "get_state", state);
		if (int err = failure(l, request))
			return -err;
		uint32_t word = (uint32_t)state;
		memcpy(arg, &word, sizeof word);
		return 0;
	}
	default:
		return -ENOTTY;
	}
}

const simsoc_model_ops lens_ops = {
    .name = "vor_lens",
    .open = lens_open,
    .release = lens_release,
    .ioctl = lens_ioctl,
};

__attribute__((constructor)) void vor_lens_register()
{
	simsoc_register(VOR_LENS_DEVICE, &lens_ops, nullptr);
}

} // namespace

extern "C" void simsoc_vor_lens_reset(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.reset();
}

extern "C" void simsoc_vor_lens_set_states(const int *states, unsigned count)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.states.assign(states, states + (states ? count : 0));
	l.next_state = 0;
}

extern "C" void simsoc_vor_lens_fail(unsigned long code, int err, int count)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.failures[code] = Failure{err, count};
}

extern "C" char *simsoc_vor_lens_requests(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	return strdup(l.requests.c_str());
}

extern "C" void simsoc_vor_lens_clear_requests(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.requests.clear();
}

extern "C" long simsoc_vor_lens_position(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	return l.position;
}

extern "C" int simsoc_vor_lens_config(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	return l.config;
}

extern "C" int simsoc_vor_lens_open_count(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	return l.opens;
}
