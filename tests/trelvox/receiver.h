// A TCP receiver on a loopback address of its own (127.x.y.z chosen from the
// process id), so parallel tests can all listen on the tool's fixed port.
#ifndef TESTS_TRELVOX_RECEIVER_H
#define TESTS_TRELVOX_RECEIVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define TESTS_TCP_PORT 2017

class Receiver
{
      public:
	~Receiver()
	{
		if (thread_.joinable())
			thread_.join();
		if (listen_fd_ >= 0)
			close(listen_fd_);
	}

	static std::string unique_address()
	{
		static std::atomic<int> serial{0};
		unsigned v = ((unsigned)getpid() * 4u + (unsigned)serial++) % (250u * 250u * 250u);
		char buf[32];
		snprintf(buf, sizeof buf, "127.%u.%u.%u", 1 + v / 62500u, 1 + v / 250u % 250u, 1 + v % 250u);
		return buf;
	}

	bool listen()
	{
		address_ = unique_address();
		listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		int one = 1;
		setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_port = htons(TESTS_TCP_PORT);
		inet_pton(AF_INET, address_.c_str(), &a.sin_addr);
		if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) < 0 ||
		    ::listen(listen_fd_, 1) < 0)
			return false;
		thread_ = std::thread([this] { run(); });
		return true;
	}

	const std::string &address() const
	{
		return address_;
	}

	size_t received()
	{
		std::lock_guard<std::mutex> lk(mu_);
		return data_.size();
	}

	// Everything the one connection sent, once it has closed.
	std::vector<uint8_t> wait()
	{
		if (thread_.joinable())
			thread_.join();
		return data_;
	}

      private:
	void run()
	{
		pollfd p = {listen_fd_, POLLIN, 0};
		if (poll(&p, 1, 60000) != 1)
			return;
		int fd = accept(listen_fd_, nullptr, nullptr);
		if (fd < 0)
			return;
		uint8_t buf[65536];
		ssize_t n;
		while ((n = read(fd, buf, sizeof buf)) > 0) {
			std::lock_guard<std::mutex> lk(mu_);
			data_.insert(data_.end(), buf, buf + n);
		}
		close(fd);
	}

	std::string address_;
	int listen_fd_ = -1;
	std::thread thread_;
	std::mutex mu_;
	std::vector<uint8_t> data_;
};

#endif
