// Helpers shared by the client library's tests.
#pragma once

#include "libkalun.h"

#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace kalun_test
{

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

// Polls the predicate until it holds or the limit has passed.
template <typename F>
bool eventually_true(F predicate, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
	const auto end = std::chrono::steady_clock::now() + limit;
	while (!predicate()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		usleep(5000);
	}
	return true;
}

// A memfd of the size holding the bytes (zeros when data is NULL); -1 on
// failure.
inline int memfd_with(const void *data, size_t size)
{
	int fd = memfd_create("libkalun-test", MFD_CLOEXEC);
	if (fd < 0)
		return -1;
	if (ftruncate(fd, static_cast<off_t>(size)) != 0 ||
	    (data && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
		close(fd);
		return -1;
	}
	return fd;
}

inline int memfd_with(const std::vector<uint8_t> &bytes)
{
	return memfd_with(bytes.data(), bytes.size());
}

// Owns an error location for one call.
struct Err {
	kalunError *e = nullptr;
	~Err()
	{
		kalunClearError(&e);
	}
	kalunError **loc()
	{
		return &e;
	}
	int code() const
	{
		return e ? e->code : 0;
	}
	std::string msg() const
	{
		return e && e->msg ? e->msg : "(no error)";
	}
	explicit operator bool() const
	{
		return e != nullptr;
	}
	void clear()
	{
		kalunClearError(&e);
	}
};

} // namespace kalun_test
