// Jobs as an application runs them, through libkalun and kalun on a private
// bus, beside the same work done in this process; the sides take turns job
// by job (bench/common/paired.h):
//  - Tiny: one ADD on 16 floats run synchronously, against a two-process
//    socketpair ping-pong (the e2e_peer program) in the same run: the floor
//    of any round trip between two processes (goal: tiny/pingpong at most
//    2.5).
//  - Conv: three 3x3 convolutions over a 224x224x3 image, a few
//    milliseconds per invocation, against the same interpreter invoked here
//    with the unit's options (goal: at most 1.10).
//  - CropScale: a 1920x1080 NV12 frame cropped to 1280x720 and scaled to
//    640x360 RGB, against the libyuv passes the unit makes and the fastest
//    libyuv path to the same picture (goal: service/passes at most 2.0).
//  - Scaling: jobs per second of 1, 2, 4 and 8 client processes (e2e_peer)
//    running the tiny or the crop-and-scale job at once; the client counts
//    take turns block by block (goal: crop-and-scale with 4 clients at
//    least 1.6 times one client).
// Buffers are the service's own, allocated once and kept between jobs, as
// an application on the camera does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libkalun.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <tensorflow/lite/interpreter_builder.h>
#include <tensorflow/lite/kernels/register.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "e2e_jobs.h"
#include "paired.h"
#include "private_bus.h"

namespace
{

using namespace bench;

bool serviceUp()
{
	sd_bus *bus = nullptr;
	if (sd_bus_open_system(&bus) < 0)
		return false;
	uint64_t n = 0;
	const int r =
	    sd_bus_get_property_trivial(bus, "com.tovi.Kalun1", "/com/tovi/Kalun1", "com.tovi.Kalun1.Service",
	                                "NbrOfSessions", nullptr, 't', &n);
	sd_bus_flush_close_unref(bus);
	return r >= 0;
}

// The private bus, the service on it and one connection, for the whole run.
class Service
{
      public:
	Service()
	{
		pid_ = fork();
		if (pid_ == 0) {
			execl(KALUN_PROGRAM, KALUN_PROGRAM, "-s", static_cast<char *>(nullptr));
			_exit(127);
		}
		for (int i = 0; i < 400 && !serviceUp(); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(25));
		kalunError *error = nullptr;
		if (!kalunConnect(&conn_, &error))
			throw std::runtime_error("connect: " + errorText(error));
	}
	~Service()
	{
		kalunDisconnect(&conn_, nullptr);
		kill(pid_, SIGTERM);
		waitpid(pid_, nullptr, 0);
	}
	kalunConnection *conn()
	{
		return conn_;
	}

      private:
	testsupport::PrivateBus bus_;
	pid_t pid_ = -1;
	kalunConnection *conn_ = nullptr;
};

Service &service()
{
	static Service s;
	return s;
}

// Runs a job of the service, failing the benchmark on an error.
std::function<void()> serviceSide(Job &job, benchmark::State &state)
{
	return [&job, &state] {
		const std::string failure = job.run();
		if (!failure.empty())
			state.SkipWithError(failure.c_str());
	};
}

// The other end of a socketpair in its own process, answering every
// message with the same bytes.
class PingPong
{
      public:
	PingPong()
	{
		int fds[2];
		if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
			throw std::runtime_error("socketpair");
		pid_ = fork();
		if (pid_ == 0) {
			close(fds[0]);
			execl(E2E_PEER, E2E_PEER, "echo", std::to_string(fds[1]).c_str(),
			      static_cast<char *>(nullptr));
			_exit(127);
		}
		close(fds[1]);
		fd_ = fds[0];
	}
	~PingPong()
	{
		close(fd_);
		waitpid(pid_, nullptr, 0);
	}
	// A message about the size of a job's request goes there and back.
	void run()
	{
		char bytes[256] = {};
		if (write(fd_, bytes, sizeof bytes) != ssize_t(sizeof bytes))
			throw std::runtime_error("ping");
		size_t got = 0;
		while (got < sizeof bytes) {
			const ssize_t n = read(fd_, bytes + got, sizeof bytes - got);
			if (n <= 0)
				throw std::runtime_error("pong");
			got += static_cast<size_t>(n);
		}
	}

      private:
	pid_t pid_ = -1;
	int fd_ = -1;
};

void Tiny(benchmark::State &state)
{
	Job job(service().conn(), Job::Tiny);
	PingPong pingPong;
	runPaired(state, {{"tiny", serviceSide(job, state)}, {"pingpong", [&] { pingPong.run(); }}}, 200);
}

// The model as a program using the runtime alone builds it, with the
// unit's options: two threads.
class DirectConv
{
      public:
	DirectConv()
	{
		bytes_ = kalun::test::convStackModel(kConvSize, kConvChannels);
		flat_ = tflite::FlatBufferModel::VerifyAndBuildFromBuffer(
		    reinterpret_cast<const char *>(bytes_.data()), bytes_.size());
		tflite::ops::builtin::BuiltinOpResolver resolver;
		if (flat_)
			tflite::InterpreterBuilder(*flat_, resolver)(&interpreter_);
		if (!interpreter_ || interpreter_->SetNumThreads(2) != kTfLiteOk ||
		    interpreter_->AllocateTensors() != kTfLiteOk)
			throw std::runtime_error("interpreter");
	}
	void run()
	{
		if (interpreter_->Invoke() != kTfLiteOk)
			throw std::runtime_error("invoke");
	}

      private:
	std::vector<uint8_t> bytes_;
	std::unique_ptr<tflite::FlatBufferModel> flat_;
	std::unique_ptr<tflite::Interpreter> interpreter_;
};

void Conv(benchmark::State &state)
{
	Job job(service().conn(), Job::Conv);
	DirectConv direct;
	runPaired(state, {{"service", serviceSide(job, state)}, {"direct", [&] { direct.run(); }}});
}

void CropScale(benchmark::State &state)
{
	Job job(service().conn(), Job::CropScale);
	const std::vector<uint8_t> frame = frameBytes();
	std::vector<uint8_t> out(kOutSize);
	DirectCropScale passes;
	FastCropScale fast;
	runPaired(state, {{"service", serviceSide(job, state)},
	                  {"passes", [&] { passes.run(frame.data(), out.data()); }},
	                  {"fastest", [&] { fast.run(frame.data(), out.data()); }}});
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInSize));
}

// A client process (e2e_peer client) with its job set up.
class Client
{
      public:
	explicit Client(const char *kind)
	{
		int toChild[2], fromChild[2];
		if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
			throw std::runtime_error("pipe");
		pid_ = fork();
		if (pid_ == 0) {
			dup2(toChild[0], 0);
			dup2(fromChild[1], 1);
			execl(E2E_PEER, E2E_PEER, "client", kind, static_cast<char *>(nullptr));
			_exit(127);
		}
		close(toChild[0]);
		close(fromChild[1]);
		in_ = fdopen(toChild[1], "w");
		out_ = fdopen(fromChild[0], "r");
		if (readLine() != "ready")
			throw std::runtime_error("client did not start");
	}
	~Client()
	{
		fclose(in_);
		fclose(out_);
		waitpid(pid_, nullptr, 0);
	}
	void start(int ms)
	{
		fprintf(in_, "run %d\n", ms);
		fflush(in_);
	}
	long count()
	{
		return std::stol(readLine());
	}

      private:
	std::string readLine()
	{
		char line[64];
		if (!fgets(line, sizeof line, out_))
			throw std::runtime_error("client ended");
		std::string text(line);
		if (!text.empty() && text.back() == '\n')
			text.pop_back();
		return text;
	}

	pid_t pid_ = -1;
	FILE *in_ = nullptr;
	FILE *out_ = nullptr;
};

// Rounds of blocks, one block per client count in rotating order; per
// count the median jobs per second, and the median per round of the ratio
// of each count to one client.
void Scaling(benchmark::State &state, const char *kind)
{
	constexpr int kBlockMs = 700;
	constexpr int kRounds = 5;
	const std::vector<int> counts{1, 2, 4, 8};
	service();
	std::vector<std::unique_ptr<Client>> clients;
	for (int i = 0; i < counts.back(); ++i)
		clients.push_back(std::make_unique<Client>(kind));
	std::map<int, std::vector<double>> rates;
	for (auto _ : state) {
		for (int round = 0; round < kRounds; ++round) {
			for (size_t k = 0; k < counts.size(); ++k) {
				const int n = counts[(round + k) % counts.size()];
				for (int i = 0; i < n; ++i)
					clients[i]->start(kBlockMs);
				long total = 0;
				for (int i = 0; i < n; ++i) {
					const long c = clients[i]->count();
					if (c < 0) {
						state.SkipWithError("job failed");
						return;
					}
					total += c;
				}
				rates[n].push_back(total * 1000.0 / kBlockMs);
			}
		}
	}
	for (int n : counts) {
		state.counters["jobs_per_s_" + std::to_string(n)] = percentile(rates[n], 0.5);
		if (n == 1)
			continue;
		std::vector<double> ratios;
		for (size_t r = 0; r < rates[n].size(); ++r)
			ratios.push_back(rates[n][r] / rates[1][r]);
		state.counters["x" + std::to_string(n) + "/x1"] = percentile(ratios, 0.5);
		state.counters["x" + std::to_string(n) + "/x1_p10"] = percentile(ratios, 0.1);
		state.counters["x" + std::to_string(n) + "/x1_p90"] = percentile(ratios, 0.9);
	}
}

BENCHMARK(Tiny)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(10000);
BENCHMARK(Conv)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(600);
BENCHMARK(CropScale)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);
BENCHMARK_CAPTURE(Scaling, tiny, "tiny")->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK_CAPTURE(Scaling, crop, "crop")->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
