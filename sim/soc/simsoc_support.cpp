// Failure injection and the request log.
#include "simsoc.h"
#include "simsoc_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace
{

struct Failure {
	std::string path;
	int op;
	int err;
	int count;
};

struct Failures {
	std::mutex mu;
	std::vector<Failure> list;
	std::atomic<int> n{0};
	bool env_read = false;
};

Failures &failures()
{
	static Failures *f = new Failures;
	return *f;
}

int op_from_name(const std::string &s)
{
	static const char *names[] = {"open", "read", "write", "ioctl", "mmap"};
	for (int i = 0; i < 5; i++)
		if (s == names[i])
			return i;
	return -1;
}

int errno_from_text(const std::string &s)
{
	static const struct {
		const char *name;
		int value;
	} names[] = {{"EPERM", EPERM},         {"ENOENT", ENOENT}, {"EIO", EIO},       {"EAGAIN", EAGAIN},
	             {"ENOMEM", ENOMEM},       {"EACCES", EACCES}, {"EBUSY", EBUSY},   {"ENODEV", ENODEV},
	             {"EINVAL", EINVAL},       {"ENOTTY", ENOTTY}, {"ENOSPC", ENOSPC}, {"EPIPE", EPIPE},
	             {"ETIMEDOUT", ETIMEDOUT}, {"EINTR", EINTR}};
	for (const auto &n : names)
		if (s == n.name)
			return n.value;
	char *end = nullptr;
	long v = strtol(s.c_str(), &end, 0);
	return (end && *end == '\0' && v > 0) ? (int)v : 0;
}

// SIMSOC_FAIL="path:op:errno;...": paths may hold ':' so the last two fields
// are taken from the right.
void read_env(Failures &f)
{
	f.env_read = true;
	const char *env = getenv("SIMSOC_FAIL");
	if (!env)
		return;
	std::string all(env);
	size_t start = 0;
	while (start <= all.size()) {
		size_t end = all.find(';', start);
		if (end == std::string::npos)
			end = all.size();
		std::string item = all.substr(start, end - start);
		size_t c2 = item.rfind(':');
		size_t c1 = c2 == std::string::npos || c2 == 0 ? std::string::npos : item.rfind(':', c2 - 1);
		if (c1 != std::string::npos) {
			int op = op_from_name(item.substr(c1 + 1, c2 - c1 - 1));
			int err = errno_from_text(item.substr(c2 + 1));
			if (op >= 0 && err > 0)
				f.list.push_back(Failure{item.substr(0, c1), op, err, -1});
		}
		start = end + 1;
	}
	f.n = (int)f.list.size();
}

struct Log {
	std::mutex mu;
	std::vector<std::string> lines;
};

Log &request_log()
{
	static Log *l = new Log;
	return *l;
}

} // namespace

extern "C" void simsoc_inject_failure(const char *path, enum simsoc_op op, int err, int count)
{
	if (!path || err <= 0 || count == 0)
		return;
	Failures &f = failures();
	std::lock_guard<std::mutex> lk(f.mu);
	if (!f.env_read)
		read_env(f);
	f.list.push_back(Failure{path, (int)op, err, count});
	f.n = (int)f.list.size();
}

extern "C" void simsoc_clear_failures(void)
{
	Failures &f = failures();
	std::lock_guard<std::mutex> lk(f.mu);
	f.env_read = true;
	f.list.clear();
	f.n = 0;
}

extern "C" int simsoc_failure_due(const char *path, enum simsoc_op op)
{
	Failures &f = failures();
	if (f.n.load() == 0 && f.env_read)
		return 0;
	std::lock_guard<std::mutex> lk(f.mu);
	if (!f.env_read)
		read_env(f);
	for (auto it = f.list.begin(); it != f.list.end(); ++it) {
		if (it->op != (int)op || !path || it->path != path)
			continue;
		int err = it->err;
		if (it->count > 0 && --it->count == 0) {
			f.list.erase(it);
			f.n = (int)f.list.size();
		}
		return err;
	}
	return 0;
}

int simsoc_errno_from_text(const char *text)
{
	return text ? errno_from_text(text) : 0;
}

extern "C" void simsoc_log(const char *fmt, ...)
{
	char buf[1024];
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(buf, sizeof buf, fmt, ap);
	va_end(ap);
	std::string line(buf);
	if (line.empty() || line.back() != '\n')
		line += '\n';
	Log &l = request_log();
	std::lock_guard<std::mutex> lk(l.mu);
	l.lines.push_back(line);
	const char *path = getenv("SIMSOC_LOG");
	if (!path || !*path)
		return;
	int fd = simsoc_real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
	if (fd < 0)
		return;
	(void)!simsoc_real_write(fd, line.data(), line.size());
	simsoc_real_close(fd);
}

extern "C" char *simsoc_log_dump(void)
{
	Log &l = request_log();
	std::lock_guard<std::mutex> lk(l.mu);
	std::string all;
	for (const std::string &s : l.lines)
		all += s;
	return strdup(all.c_str());
}

extern "C" void simsoc_log_clear(void)
{
	Log &l = request_log();
	std::lock_guard<std::mutex> lk(l.mu);
	l.lines.clear();
}
