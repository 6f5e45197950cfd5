#include "kalun/backendunit/model_check.h"

#include <fcntl.h>
#include <gcrypt.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "kalun/file_descriptor.h"
#include "kalun/log.h"

extern char **environ;

namespace kalun::backendunit
{

namespace
{

std::string statusText(int status)
{
	if (WIFSIGNALED(status)) {
		const int signal = WTERMSIG(status);
		return "ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
	}
	return "ended with exit status " + std::to_string(WEXITSTATUS(status));
}

void pause(std::chrono::milliseconds duration)
{
	struct timespec wait {
	};
	wait.tv_nsec = static_cast<long>(duration.count() * 1000000);
	nanosleep(&wait, nullptr);
}

// Waits for the child until the deadline; kills it past that. Its wait
// status, or nothing when it had to be killed.
bool waitChild(pid_t pid, std::chrono::steady_clock::time_point deadline, int &status)
{
	std::chrono::milliseconds step(1);
	for (;;) {
		const pid_t r = waitpid(pid, &status, WNOHANG);
		if (r == pid)
			return true;
		if (r < 0 && errno != EINTR)
			throw std::runtime_error(std::string("Could not wait for the model check: ") +
			                         std::strerror(errno));
		if (std::chrono::steady_clock::now() >= deadline) {
			kill(pid, SIGKILL);
			while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
			}
			return false;
		}
		pause(step);
		step = std::min(step * 2, std::chrono::milliseconds(20));
	}
}

} // namespace

std::string ModelCheck::programBesideExecutable()
{
	char path[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
	if (n <= 0)
		return kProgramName;
	std::string self(path, static_cast<size_t>(n));
	return self.substr(0, self.rfind('/') + 1) + kProgramName;
}

ModelCheck::ModelCheck(std::string program) : program_(std::move(program)) {}

ModelCheck::Digest ModelCheck::digest(ConstByteSpan bytes)
{
	static std::once_flag initialised;
	std::call_once(initialised, [] { gcry_check_version(nullptr); });
	Digest out{};
	gcry_md_hash_buffer(GCRY_MD_SHA256, out.data(), bytes.data(), bytes.size());
	return out;
}

uint64_t ModelCheck::trials() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return trials_;
}

void ModelCheck::check(ConstByteSpan model)
{
	const Digest key = digest(model);
	std::string verdict;
	{
		std::lock_guard<std::mutex> lock(mutex_);
		auto seen = std::find_if(verdicts_.begin(), verdicts_.end(),
		                         [&](const auto &entry) { return entry.first == key; });
		if (seen != verdicts_.end()) {
			verdict = seen->second;
			if (verdict.empty())
				return;
			throw std::runtime_error(verdict);
		}
	}
	// Trials run outside the lock; two loads of one new model may both try
	// it, which costs time only.
	verdict = runTrial(model);
	{
		std::lock_guard<std::mutex> lock(mutex_);
		++trials_;
		verdicts_.emplace_back(key, verdict);
		if (verdicts_.size() > kVerdicts)
			verdicts_.pop_front();
	}
	if (!verdict.empty())
		throw std::runtime_error(verdict);
}

std::string ModelCheck::runTrial(ConstByteSpan model) const
{
	const int raw = memfd_create("kalun-model-check", MFD_CLOEXEC);
	if (raw < 0)
		throw std::runtime_error(std::string("Could not create the model check's input: ") +
		                         std::strerror(errno));
	FileDescriptor input(raw);
	if (input.write(model, model.size()) != model.size() || lseek(raw, 0, SEEK_SET) != 0)
		throw std::runtime_error("Could not write the model check's input");
	int pipeFds[2];
	if (pipe2(pipeFds, O_CLOEXEC) != 0)
		throw std::runtime_error(std::string("Could not create the model check's pipe: ") +
		                         std::strerror(errno));
	FileDescriptor reportRead(pipeFds[0]);
	FileDescriptor reportWrite(pipeFds[1]);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, input.get(), STDIN_FILENO);
	posix_spawn_file_actions_adddup2(&actions, reportWrite.get(), STDOUT_FILENO);
	std::string program = program_;
	char *argv[] = {program.data(), nullptr};
	pid_t pid = -1;
	const int r = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	if (r != 0)
		throw std::runtime_error("Could not start the model check " + program_ + ": " +
		                         std::strerror(r));
	reportWrite.close();

	int status = 0;
	const bool ended = waitChild(pid, std::chrono::steady_clock::now() + kTimeLimit, status);
	if (!ended)
		return "Model refused: its trial run did not end within " +
		       std::to_string(kTimeLimit.count()) + " seconds";
	// A model refused cleanly before it ran is built here as well, so that
	// it fails the same way with the usual report.
	if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kDoesNotBuildStatus))
		return "";
	// The helper names what failed in one line; a crash leaves nothing.
	char report[512];
	const ssize_t n = ::read(reportRead.get(), report, sizeof report);
	std::string reason = n > 0 ? std::string(report, static_cast<size_t>(n)) : std::string();
	if (!reason.empty() && reason.back() == '\n')
		reason.pop_back();
	if (reason.empty() || reason.find('\n') != std::string::npos)
		reason = statusText(status);
	return "Model refused: its trial run failed: " + reason;
}

} // namespace kalun::backendunit
