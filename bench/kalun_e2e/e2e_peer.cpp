// The other process of the end-to-end benchmark.
//   e2e_peer echo FD          answers every message read from the socket FD
//                             with the same bytes, until end of file: the
//                             two-process ping-pong that bounds a round trip.
//   e2e_peer client KIND      a kalun client (KIND tiny or crop): sets up
//                             its job, prints "ready", then for every line
//                             "run MS" on standard input runs jobs for MS
//                             milliseconds and prints how many it ran; ends
//                             at end of input.
#include <libkalun.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "e2e_jobs.h"

namespace
{

int echo(int fd)
{
	char bytes[4096];
	for (;;) {
		const ssize_t n = read(fd, bytes, sizeof bytes);
		if (n <= 0)
			return n == 0 ? 0 : 1;
		if (write(fd, bytes, static_cast<size_t>(n)) != n)
			return 1;
	}
}

int client(const char *kind)
{
	kalunConnection *conn = nullptr;
	kalunError *error = nullptr;
	if (!kalunConnect(&conn, &error)) {
		fprintf(stderr, "connect: %s\n", bench::errorText(error).c_str());
		return 1;
	}
	int status = 0;
	try {
		bench::Job job(conn, strcmp(kind, "crop") == 0 ? bench::Job::CropScale : bench::Job::Tiny);
		printf("ready\n");
		fflush(stdout);
		char line[64];
		while (fgets(line, sizeof line, stdin)) {
			const auto until = std::chrono::steady_clock::now() +
			                   std::chrono::milliseconds(strtol(line + 4, nullptr, 10));
			long count = 0;
			while (std::chrono::steady_clock::now() < until) {
				const std::string failure = job.run();
				if (!failure.empty()) {
					fprintf(stderr, "%s\n", failure.c_str());
					count = -1;
					break;
				}
				++count;
			}
			printf("%ld\n", count);
			fflush(stdout);
		}
	} catch (const std::exception &e) {
		fprintf(stderr, "%s\n", e.what());
		status = 1;
	}
	kalunDisconnect(&conn, nullptr);
	return status;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc == 3 && strcmp(argv[1], "echo") == 0)
		return echo(atoi(argv[2]));
	if (argc == 3 && strcmp(argv[1], "client") == 0)
		return client(argv[2]);
	fprintf(stderr, "usage: %s echo FD | client tiny|crop\n", argv[0]);
	return 2;
}
