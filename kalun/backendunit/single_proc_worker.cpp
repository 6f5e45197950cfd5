#include "kalun/backendunit/single_proc_worker.h"

#include <pthread.h>

#include <string>
#include <system_error>

#include "kalun/log.h"

namespace kalun
{

namespace
{

const char *kThreadName = "singleprocq";

std::string debugText(const char *function, const char *text)
{
	return std::string(logprefix::kSingleProcWorker) + function + "(): " + text;
}

} // namespace

SingleProcWorker::Request::Request(std::function<void()> callable) : callable_(std::move(callable)) {}

void SingleProcWorker::Request::run()
{
	try {
		if (!callable_)
			throw std::bad_function_call();
		callable_();
	} catch (...) {
		error_ = std::current_exception();
	}
}

void SingleProcWorker::Request::markDone()
{
	{
		std::lock_guard<std::mutex> lock(mutex_);
		done_ = true;
	}
	cv_.notify_all();
}

void SingleProcWorker::Request::waitDone()
{
	std::unique_lock<std::mutex> lock(mutex_);
	cv_.wait(lock, [this] { return done_; });
}

SingleProcWorker::SingleProcWorker() : running_(true)
{
	thread_ = std::thread(&SingleProcWorker::processRequests, this);
	KALUN_LOG_DEBUG(debugText("SingleProcWorker", "Constructed"));
}

SingleProcWorker::~SingleProcWorker()
{
	{
		std::lock_guard<std::mutex> lock(mutex_);
		running_ = false;
		cv_.notify_all();
	}
	try {
		thread_.join();
	} catch (const std::system_error &) {
		log::error(std::string("Could not join thread \"") + kThreadName + "\"");
	}
	KALUN_LOG_DEBUG(debugText("~SingleProcWorker", "Destructed"));
}

std::exception_ptr SingleProcWorker::execute(const std::function<void()> &callable)
{
	auto request = std::make_shared<Request>(callable);
	{
		std::lock_guard<std::mutex> lock(mutex_);
		queue_.push(request);
	}
	cv_.notify_one();
	request->waitDone();
	return request->getError();
}

void SingleProcWorker::processRequests()
{
	if (pthread_setname_np(pthread_self(), kThreadName) != 0)
		log::error(std::string("Could not set thread name \"") + kThreadName + "\"");
	for (;;) {
		std::shared_ptr<Request> request;
		{
			std::unique_lock<std::mutex> lock(mutex_);
			cv_.wait(lock, [this] { return !queue_.empty() || !running_; });
			if (!running_)
				return;
			request = std::move(queue_.front());
			queue_.pop();
		}
		request->run();
		request->markDone();
	}
}

} // namespace kalun
