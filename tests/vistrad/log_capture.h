#pragma once
// Sends the daemon's log levels 1, 2 and 4 to a memory file the test reads.

#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "core/debug_output.h"

// All a memory file holds, whatever its offset.
inline std::string memfd_text(int fd)
{
    std::string out;
    char buf[4096];
    off_t off = 0;
    ssize_t n;
    while ((n = pread(fd, buf, sizeof(buf), off)) > 0) {
        out.append(buf, (size_t)n);
        off += n;
    }
    return out;
}

class LogCapture {
  public:
    LogCapture()
    {
        fd_ = memfd_create("log", 0);
        debug_output_init();
        debug_output_set_sinks(DEBUG_INFO | DEBUG_WARNING | DEBUG_ERROR, DEBUG_OUTPUT_SINK_FD, fd_);
    }
    ~LogCapture()
    {
        debug_output_free();
        close(fd_);
    }
    std::string text() const { return memfd_text(fd_); }
    void clear()
    {
        if (ftruncate(fd_, 0) != 0)
            return;
        lseek(fd_, 0, SEEK_SET);
    }
    int fd() const { return fd_; }

  private:
    int fd_;
};
