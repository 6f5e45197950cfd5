// Helpers shared by the client library's tests.
#pragma once

#include "libkalun.h"

#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kalun_test {

inline size_t open_fd_count()
{
	size_t n = 0;
	DIR *d = opendir("/proc/self/fd");
	if (!d)
		return 0;
	while (readdir(d))
		n++;
	closedir(d);
	return n;
}

// Whether a thread of this process has the given name.
inline bool thread_named(const std::string &name)
{
	DIR *d = opendir("/proc/self/task");
	if (!d)
		return false;
	bool found = false;
	while (dirent *e = readdir(d)) {
		if (e->d_name[0] == '.')
			continue;
		std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
		std::string line;
		if (std::getline(comm, line) && line == name)
			found = true;
	}
	closedir(d);
	return found;
}

// Polls the predicate for up to five seconds.
template <typename F> bool eventually_true(F predicate)
{
	for (int i = 0; i < 1000; i++) {
		if (predicate())
			return true;
		usleep(5000);
	}
	return predicate();
}

// Owns an error location for one call.
struct Err {
	kalunError *e = nullptr;
	~Err() { kalunClearError(&e); }
	kalunError **loc() { return &e; }
	int code() const { return e ? e->code : 0; }
	std::string msg() const { return e && e->msg ? e->msg : "(no error)"; }
	explicit operator bool() const { return e != nullptr; }
	void clear() { kalunClearError(&e); }
};

} // namespace kalun_test
