// The one log facility of the inference service: syslog for the system, a
// time-stamped console line for whoever watches a terminal.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

namespace kalun::log
{

// Cleared by the "no-syslog" option before any other thread exists.
extern bool syslogEnabled;
// Fixed during static initialisation: stdout or stderr is a terminal.
extern const bool consoleEnabled;
// Serialises console lines across all threads.
extern std::mutex mutex;

inline constexpr const char *kBold = "\033[1m";
inline constexpr const char *kBoldRed = "\033[1;31m";
inline constexpr const char *kBoldYellow = "\033[1;33m";
inline constexpr const char *kReset = "\033[0m";

void info(const std::string &text);
void warning(const std::string &text);
void error(const std::string &text);
// The debug level is compiled out; callers still describe what they do,
// through KALUN_LOG_DEBUG, so that the texts are not built either.
inline void debug(const std::string &) {}

// Writes "<local time>.<ms> <text>\n" to the stream under the log mutex.
void print(const std::string &text, std::ostream &stream);

// "%Y-%m-%dT%H:%M:%S.mmm" of the given instant in local time.
std::string formatTimestamp(std::chrono::system_clock::time_point when);

// True when descriptor 1 or 2 is a terminal; what consoleEnabled is set from.
bool detectConsole();

// Where syslog lines go. Tests replace it to see what was logged; an empty
// function restores the system's syslog.
using SyslogSink = std::function<void(int priority, const std::string &text)>;
void setSyslogSink(SyslogSink sink);

// Console output is normally decided once; tests that check the console
// lines switch it on through this override (negative: automatic).
void setConsoleOverride(int enabled);

} // namespace kalun::log

// A debug line whose text is checked by the compiler but never built: many
// are on the path of every job.
#define KALUN_LOG_DEBUG(...)                                                                                 \
	do {                                                                                                 \
		if (false)                                                                                   \
			::kalun::log::debug(__VA_ARGS__);                                                    \
	} while (0)

// Class prefixes of debug texts.
namespace kalun::logprefix
{
inline constexpr const char *kService = "Service::";
inline constexpr const char *kSession = "Session::";
inline constexpr const char *kSessionSdbusServer = "SessionSdbusServer::";
inline constexpr const char *kBackEndUnit = "BackEndUnit::";
inline constexpr const char *kFileDescriptor = "FileDescriptor::";
inline constexpr const char *kBuffer = "Buffer::";
inline constexpr const char *kAllocator = "Allocator::";
inline constexpr const char *kMemFd = "MemFd::";
inline constexpr const char *kMemFdBuffer = "MemFd::Buffer::";
inline constexpr const char *kDebugChip = "DebugChip::";
inline constexpr const char *kDebugChipBufferContext = "DebugChip::BufferContext::";
inline constexpr const char *kTFLite = "TFLite::";
inline constexpr const char *kTFLiteCPU = "TFLiteCPU::";
inline constexpr const char *kLibYuv = "LibYuv::";
inline constexpr const char *kSingleProcWorker = "SingleProcWorker::";
} // namespace kalun::logprefix
