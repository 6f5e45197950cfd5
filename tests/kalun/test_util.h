// Helpers shared by the service's tests.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kalun::test
{

// A memfd of the given size whose byte i is (i * 7) % 251.
inline int patternMemfd(size_t size)
{
	const int fd = memfd_create("kalun-test", MFD_CLOEXEC);
	std::vector<uint8_t> bytes(size);
	for (size_t i = 0; i < size; ++i)
		bytes[i] = static_cast<uint8_t>((i * 7) % 251);
	if (fd >= 0 && !bytes.empty() && ::write(fd, bytes.data(), bytes.size()) < 0)
		ADD_FAILURE() << "memfd write failed";
	return fd;
}

inline uint8_t patternByte(size_t i)
{
	return static_cast<uint8_t>((i * 7) % 251);
}

// Another descriptor on the same memfd, opened with the given access mode.
inline int reopen(int fd, int mode)
{
	return open(("/proc/self/fd/" + std::to_string(fd)).c_str(), mode | O_CLOEXEC);
}

// Runs fn and returns the text of the exception of type E it throws ("" if
// none; a different exception type fails the test).
template <typename E, typename F> std::string thrownText(F &&fn)
{
	try {
		fn();
	} catch (const E &e) {
		return e.what();
	} catch (const std::exception &e) {
		ADD_FAILURE() << "unexpected exception type: " << e.what();
		return "<wrong type>";
	}
	return "";
}

// Names of this process's threads.
inline std::multiset<std::string> threadNames()
{
	std::multiset<std::string> names;
	DIR *dir = opendir("/proc/self/task");
	while (dirent *entry = readdir(dir)) {
		if (entry->d_name[0] == '.')
			continue;
		std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
		std::string name;
		std::getline(comm, name);
		names.insert(name);
	}
	closedir(dir);
	return names;
}

} // namespace kalun::test

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "kalun/log.h"

namespace kalun::test
{

// Collects what the service logs while it lives.
class LogCapture
{
      public:
	LogCapture()
	{
		kalun::log::setSyslogSink([this](int, const std::string &text) {
			std::lock_guard<std::mutex> lock(mutex_);
			lines_.push_back(text);
			cv_.notify_all();
		});
	}
	~LogCapture()
	{
		kalun::log::setSyslogSink(nullptr);
	}

	std::vector<std::string> lines()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return lines_;
	}
	bool contains(const std::string &text)
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
	}
	// Waits up to a few seconds for the line to have been logged count times.
	bool waitFor(const std::string &text, long count = 1)
	{
		std::unique_lock<std::mutex> lock(mutex_);
		return cv_.wait_for(lock, std::chrono::seconds(10),
		                    [&] { return std::count(lines_.begin(), lines_.end(), text) >= count; });
	}

      private:
	std::mutex mutex_;
	std::condition_variable cv_;
	std::vector<std::string> lines_;
};

// Waits until nobody but the caller holds the object.
template <typename T> bool waitSoleOwner(const std::shared_ptr<T> &p)
{
	for (int i = 0; i < 10000 && p.use_count() > 1; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	return p.use_count() == 1;
}

} // namespace kalun::test
