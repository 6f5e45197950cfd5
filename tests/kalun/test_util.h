// Helpers shared by the service's tests.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kalun::test {

// A memfd of the given size whose byte i is (i * 7) % 251.
inline int patternMemfd(size_t size) {
    const int fd = memfd_create("kalun-test", MFD_CLOEXEC);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7) % 251);
    if (fd >= 0 && !bytes.empty() && ::write(fd, bytes.data(), bytes.size()) < 0)
        ADD_FAILURE() << "memfd write failed";
    return fd;
}

inline uint8_t patternByte(size_t i) {
    return static_cast<uint8_t>((i * 7) % 251);
}

// Another descriptor on the same memfd, opened with the given access mode.
inline int reopen(int fd, int mode) {
    return open(("/proc/self/fd/" + std::to_string(fd)).c_str(), mode | O_CLOEXEC);
}

// Runs fn and returns the text of the exception of type E it throws ("" if
// none; a different exception type fails the test).
template <typename E, typename F>
std::string thrownText(F&& fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception type: " << e.what();
        return "<wrong type>";
    }
    return "";
}

}  // namespace kalun::test
