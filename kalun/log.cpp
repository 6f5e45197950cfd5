#include "kalun/log.h"

#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <iomanip>
#include <iostream>

namespace kalun::log
{

bool syslogEnabled = true;
const bool consoleEnabled = detectConsole();
std::mutex mutex;

namespace
{

std::mutex sinkMutex;
SyslogSink sink;
int consoleOverride = -1;

bool consoleOn()
{
	if (consoleOverride >= 0)
		return consoleOverride != 0;
	return consoleEnabled;
}

void toSyslog(int priority, const std::string &text)
{
	if (!syslogEnabled)
		return;
	{
		std::lock_guard<std::mutex> lock(sinkMutex);
		if (sink) {
			sink(priority, text);
			return;
		}
	}
	::syslog(priority, "%s", text.c_str());
}

} // namespace

bool detectConsole()
{
	return isatty(STDOUT_FILENO) == 1 || isatty(STDERR_FILENO) == 1;
}

void setSyslogSink(SyslogSink newSink)
{
	std::lock_guard<std::mutex> lock(sinkMutex);
	sink = std::move(newSink);
}

void setConsoleOverride(int enabled)
{
	consoleOverride = enabled;
}

std::string formatTimestamp(std::chrono::system_clock::time_point when)
{
	const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
	const time_t seconds = static_cast<time_t>(ns / 1000000000);
	const long millis = static_cast<long>((ns % 1000000000) / 1000000);
	struct tm local {
	};
	localtime_r(&seconds, &local);
	char date[64];
	strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
	char line[80];
	snprintf(line, sizeof(line), "%s.%03ld", date, millis);
	return line;
}

void print(const std::string &text, std::ostream &stream)
{
	const std::string stamp = formatTimestamp(std::chrono::system_clock::now());
	std::lock_guard<std::mutex> lock(mutex);
	// Callers may have left the stream in hex or with a fill; a log line must
	// not change that for them.
	std::ios saved(nullptr);
	saved.copyfmt(stream);
	stream << stamp << ' ' << text << '\n';
	stream.copyfmt(saved);
}

void info(const std::string &text)
{
	toSyslog(LOG_INFO, text);
	if (consoleOn())
		print(text, std::cout);
}

void warning(const std::string &text)
{
	toSyslog(LOG_WARNING, text);
	if (consoleOn())
		print(std::string(kBoldYellow) + "WARNING: " + text + kReset, std::cerr);
}

void error(const std::string &text)
{
	toSyslog(LOG_ERR, text);
	if (consoleOn())
		print(std::string(kBoldRed) + "ERROR: " + text + kReset, std::cerr);
}

} // namespace kalun::log
