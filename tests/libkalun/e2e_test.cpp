// Applications against the real service on a private bus: models loaded,
// listed and deleted, jobs run on both units synchronously and
// asynchronously with their own and with service-allocated tensors, the
// service's refusals as error records, and a client killed mid-job.
#include "model.h"
#include "test_util.h"
#include "tflite_models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using kalun_test::Err;
using kalun_test::memfd_with;
using namespace std::chrono_literals;

// NbrOfSessions straight from the bus, without a session of our own.
uint64_t sessions_on_bus()
{
	sd_bus *bus = nullptr;
	uint64_t n = UINT64_MAX;
	if (sd_bus_open_system(&bus) < 0)
		return n;
	sd_bus_get_property_trivial(bus, "com.tovi.Kalun1", "/com/tovi/Kalun1", "com.tovi.Kalun1.Service",
	                            "NbrOfSessions", nullptr, 't', &n);
	sd_bus_flush_close_unref(bus);
	return n;
}

size_t fd_count(pid_t pid)
{
	size_t n = 0;
	DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
	if (!d)
		return 0;
	while (dirent *e = readdir(d))
		if (e->d_name[0] != '.')
			n++;
	closedir(d);
	return n;
}

template <typename T> std::vector<T> read_fd(int fd, size_t count)
{
	std::vector<T> values(count);
	if (pread(fd, values.data(), count * sizeof(T), 0) != static_cast<ssize_t>(count * sizeof(T)))
		values.clear();
	return values;
}

// Scales rgb-interleaved images on cpu-proc.
kalunMap *scale_params(int64_t in_w, int64_t in_h, int64_t out_w, int64_t out_h)
{
	kalunMap *map = kalunCreateMap(nullptr);
	kalunMapSetIntArr2(map, "image.input.size", in_w, in_h, nullptr);
	kalunMapSetStr(map, "image.input.format", "rgb-interleaved", nullptr);
	kalunMapSetIntArr2(map, "image.output.size", out_w, out_h, nullptr);
	kalunMapSetStr(map, "image.output.format", "rgb-interleaved", nullptr);
	return map;
}

// The result of one asynchronous call.
struct Done {
	std::mutex lock;
	std::condition_variable cv;
	bool called = false;
	int code = 0;
	std::string msg;

	static void callback(void *ud, kalunError *err)
	{
		auto *d = static_cast<Done *>(ud);
		std::lock_guard<std::mutex> g(d->lock);
		d->called = true;
		d->code = err ? err->code : 0;
		d->msg = err && err->msg ? err->msg : "";
		d->cv.notify_all();
	}
	bool wait()
	{
		std::unique_lock<std::mutex> g(lock);
		return cv.wait_for(g, 10s, [&] { return called; });
	}
};

class EndToEnd : public ::testing::Test
{
      protected:
	static void SetUpTestSuite()
	{
		pid_ = fork();
		if (pid_ == 0) {
			execl(KALUN_PROGRAM, KALUN_PROGRAM, "-s", static_cast<char *>(nullptr));
			_exit(127);
		}
		ASSERT_GT(pid_, 0);
		ASSERT_TRUE(kalun_test::eventually_true([] { return sessions_on_bus() != UINT64_MAX; }))
		    << "kalun did not take its name";
	}
	static void TearDownTestSuite()
	{
		if (pid_ > 0) {
			kill(pid_, SIGTERM);
			waitpid(pid_, nullptr, 0);
			pid_ = -1;
		}
	}
	void TearDown() override
	{
		kalunDisconnect(&conn_, nullptr);
	}

	void connect()
	{
		Err err;
		ASSERT_TRUE(kalunConnect(&conn_, err.loc())) << err.msg();
		tflite_ = kalunGetDevice(conn_, "cpu-tflite", 0, nullptr);
		proc_ = kalunGetDevice(conn_, "cpu-proc", 0, nullptr);
		ASSERT_NE(tflite_, nullptr);
		ASSERT_NE(proc_, nullptr);
	}

	kalunModel *load_tflite(const std::vector<uint8_t> &bytes, int32_t access = 1)
	{
		int fd = memfd_with(bytes);
		Err err;
		kalunModel *model = kalunLoadModel(conn_, fd, tflite_, access, "tflite", nullptr, err.loc());
		close(fd);
		EXPECT_NE(model, nullptr) << err.msg();
		return model;
	}

	kalunModel *load_scale(int64_t in_w, int64_t in_h, int64_t out_w, int64_t out_h, int32_t access = 1)
	{
		kalunMap *params = scale_params(in_w, in_h, out_w, out_h);
		Err err;
		kalunModel *model = kalunLoadModel(conn_, -1, proc_, access, "scale", params, err.loc());
		kalunDestroyMap(&params);
		EXPECT_NE(model, nullptr) << err.msg();
		return model;
	}

	static pid_t pid_;
	kalunConnection *conn_ = nullptr;
	const kalunDevice *tflite_ = nullptr;
	const kalunDevice *proc_ = nullptr;
};

pid_t EndToEnd::pid_ = -1;

// Tensors of the model's shape on the caller's own memory files.
struct OwnTensors {
	kalunTensor **tensors = nullptr;
	size_t count = 0;
	std::vector<int> fds;

	OwnTensors(kalunTensor **t, size_t n, const std::vector<std::vector<uint8_t>> &contents)
	    : tensors(t), count(n)
	{
		for (size_t i = 0; i < n; i++) {
			fds.push_back(memfd_with(contents[i]));
			kalunSetTensorFd(tensors[i], fds.back(), nullptr);
			kalunSetTensorFdSize(tensors[i], contents[i].size(), nullptr);
		}
	}
	~OwnTensors()
	{
		kalunDestroyTensors_API_VERSION_1(&tensors, count);
		for (int fd : fds)
			close(fd);
	}
};

TEST_F(EndToEnd, TfliteRunsSynchronouslyOnTheCallersTensors)
{
	connect();
	kalunModel *model = load_tflite(kalun::test::addModel());
	ASSERT_NE(model, nullptr);
	EXPECT_EQ(kalunGetModelChip(model, nullptr), 2);
	EXPECT_EQ(kalunGetModelDevice(model, nullptr), tflite_);
	EXPECT_EQ(kalunGetModelAccess(model, nullptr), 1);
	EXPECT_STREQ(kalunGetModelName(model, nullptr), "tflite");
	ASSERT_EQ(kalunGetModelNumInputs(model, nullptr), 2u);
	ASSERT_EQ(kalunGetModelNumOutputs(model, nullptr), 1u);
	size_t n = 0;
	size_t *sizes = kalunGetModelOutputByteSizes(model, &n, nullptr);
	ASSERT_EQ(n, 1u);
	EXPECT_EQ(sizes[0], 48 * sizeof(float));
	free(sizes);

	std::vector<float> a(48), b(48);
	for (size_t i = 0; i < 48; i++) {
		a[i] = static_cast<float>(i);
		b[i] = 0.5f - static_cast<float>(2 * i);
	}
	auto bytes = [](const std::vector<float> &v) {
		return std::vector<uint8_t>(reinterpret_cast<const uint8_t *>(v.data()),
		                            reinterpret_cast<const uint8_t *>(v.data() + v.size()));
	};
	OwnTensors in(kalunCreateModelInputs(model, nullptr, nullptr), 2, {bytes(a), bytes(b)});
	OwnTensors out(kalunCreateModelOutputs(model, nullptr, nullptr), 1,
	               {std::vector<uint8_t>(48 * sizeof(float))});
	Err err;
	kalunJobRequest *req =
	    kalunCreateJobRequest(model, in.tensors, 2, out.tensors, 1, nullptr, err.loc());
	ASSERT_NE(req, nullptr) << err.msg();
	ASSERT_TRUE(kalunRunJob(conn_, req, err.loc())) << err.msg();
	auto sum = read_fd<float>(out.fds[0], 48);
	ASSERT_EQ(sum.size(), 48u);
	for (size_t i = 0; i < 48; i++)
		EXPECT_FLOAT_EQ(sum[i], a[i] + b[i]) << i;

	// The request is the caller's to run again, at another priority.
	ASSERT_TRUE(kalunSetJobRequestPriority(req, 100, nullptr));
	ASSERT_TRUE(kalunRunJob(conn_, req, err.loc())) << err.msg();
	kalunDestroyJobRequest(&req);
	kalunDestroyModel(&model);
}

TEST_F(EndToEnd, TfliteRunsAsynchronouslyOnServiceAllocatedTensors)
{
	connect();
	kalunModel *model = load_tflite(kalun::test::mulModel());
	ASSERT_NE(model, nullptr);
	size_t before = kalun_test::open_fd_count();

	Err err;
	size_t nin = 0, nout = 0;
	kalunTensor **in = kalunAllocModelInputs(conn_, model, KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP,
	                                         &nin, nullptr, err.loc());
	ASSERT_NE(in, nullptr) << err.msg();
	kalunTensor **out = kalunAllocModelOutputs(conn_, model, KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_MAP,
	                                           &nout, nullptr, err.loc());
	ASSERT_NE(out, nullptr) << err.msg();
	ASSERT_EQ(nin, 1u);
	ASSERT_EQ(nout, 1u);
	EXPECT_EQ(in[1], nullptr);
	// The bus thread may still hold the answer's own copies for a moment
	// after the call has returned.
	EXPECT_TRUE(kalun_test::eventually_true([&] { return kalun_test::open_fd_count() == before + 2; }))
	    << kalun_test::open_fd_count() << " descriptors, " << before << " + 2 expected";
	size_t fd_size = 0;
	ASSERT_TRUE(kalunGetTensorFdSize(in[0], &fd_size, nullptr));
	EXPECT_GE(fd_size, 16u);

	const float x[4] = {3.0f, 4.0f, -8.0f, 0.25f};
	ASSERT_EQ(pwrite(kalunGetTensorFd(in[0], nullptr), x, sizeof(x), 0), static_cast<ssize_t>(sizeof(x)));
	kalunJobRequest *req = kalunCreateJobRequest(model, in, 1, out, 1, nullptr, err.loc());
	ASSERT_NE(req, nullptr) << err.msg();
	Done done;
	ASSERT_TRUE(kalunRunJobAsync(conn_, req, Done::callback, &done, err.loc())) << err.msg();
	ASSERT_TRUE(done.wait());
	EXPECT_EQ(done.code, 0) << done.msg;
	auto product = read_fd<float>(kalunGetTensorFd(out[0], nullptr), 4);
	EXPECT_EQ(product, (std::vector<float>{6.0f, -4.0f, -4.0f, 2.5f}));

	kalunDestroyJobRequest(&req);
	ASSERT_TRUE(kalunDestroyTensors(conn_, &in, nin, err.loc())) << err.msg();
	ASSERT_TRUE(kalunDestroyTensors(conn_, &out, nout, err.loc())) << err.msg();
	EXPECT_EQ(in, nullptr);
	// The descriptors duplicated for the service's buffers went with them.
	EXPECT_TRUE(kalun_test::eventually_true([&] { return kalun_test::open_fd_count() == before; }))
	    << kalun_test::open_fd_count() << " descriptors, " << before << " expected";
	kalunDestroyModel(&model);
}

// Two colours side by side, halved: each half keeps its colour.
std::vector<uint8_t> two_colours(int w, int h)
{
	std::vector<uint8_t> image;
	for (int y = 0; y < h; y++)
		for (int x = 0; x < w; x++) {
			const uint8_t left[3] = {200, 40, 40}, right[3] = {30, 60, 220};
			const uint8_t *c = x < w / 2 ? left : right;
			image.insert(image.end(), c, c + 3);
		}
	return image;
}

void expect_halves(const std::vector<uint8_t> &out, int w, int h)
{
	ASSERT_EQ(out.size(), static_cast<size_t>(w * h * 3));
	const int left[3] = {200, 40, 40}, right[3] = {30, 60, 220};
	for (int y = 0; y < h; y++)
		for (int c = 0; c < 3; c++) {
			EXPECT_NEAR(out[(y * w) * 3 + c], left[c], 6) << "row " << y;
			EXPECT_NEAR(out[(y * w + w - 1) * 3 + c], right[c], 6) << "row " << y;
		}
}

TEST_F(EndToEnd, CpuProcScalesSynchronouslyOnServiceTensorsAndAsynchronouslyOnOwn)
{
	connect();
	kalunModel *model = load_scale(16, 8, 8, 4);
	ASSERT_NE(model, nullptr);
	EXPECT_EQ(kalunGetModelSize(model, nullptr), 0u);
	EXPECT_EQ(kalunGetModelChip(model, nullptr), 11);
	const auto image = two_colours(16, 8);

	Err err;
	kalunTensor **in =
	    kalunAllocModelInputs(conn_, model, KALUN_FD_PROP_READWRITE, nullptr, nullptr, err.loc());
	ASSERT_NE(in, nullptr) << err.msg();
	kalunTensor **out =
	    kalunAllocModelOutputs(conn_, model, KALUN_FD_PROP_READWRITE, nullptr, nullptr, err.loc());
	ASSERT_NE(out, nullptr) << err.msg();
	ASSERT_EQ(pwrite(kalunGetTensorFd(in[0], nullptr), image.data(), image.size(), 0),
	          static_cast<ssize_t>(image.size()));
	kalunJobRequest *req = kalunCreateJobRequest(model, in, 1, out, 1, nullptr, err.loc());
	ASSERT_NE(req, nullptr) << err.msg();
	ASSERT_TRUE(kalunRunJob(conn_, req, err.loc())) << err.msg();
	expect_halves(read_fd<uint8_t>(kalunGetTensorFd(out[0], nullptr), 8 * 4 * 3), 8, 4);
	kalunDestroyJobRequest(&req);
	ASSERT_TRUE(kalunDestroyTensors(conn_, &in, 1, nullptr));
	ASSERT_TRUE(kalunDestroyTensors(conn_, &out, 1, nullptr));

	OwnTensors own_in(kalunCreateModelInputs(model, nullptr, nullptr), 1, {image});
	OwnTensors own_out(kalunCreateModelOutputs(model, nullptr, nullptr), 1,
	                   {std::vector<uint8_t>(8 * 4 * 3)});
	req = kalunCreateJobRequest(model, own_in.tensors, 1, own_out.tensors, 1, nullptr, err.loc());
	ASSERT_NE(req, nullptr) << err.msg();
	Done done;
	ASSERT_TRUE(kalunRunJobAsync(conn_, req, Done::callback, &done, err.loc())) << err.msg();
	ASSERT_TRUE(done.wait());
	EXPECT_EQ(done.code, 0) << done.msg;
	expect_halves(read_fd<uint8_t>(own_out.fds[0], 8 * 4 * 3), 8, 4);
	kalunDestroyJobRequest(&req);
	kalunDestroyModel(&model);
}

TEST_F(EndToEnd, ModelsAreListedFoundAndDeleted)
{
	connect();
	kalunModel *a = load_tflite(kalun::test::mulModel(), KALUN_MODEL_ACCESS_PUBLIC);
	kalunModel *b = load_scale(4, 4, 2, 2);
	ASSERT_TRUE(a && b);
	size_t n = 0;
	Err err;
	kalunModel **models = kalunGetModels(conn_, &n, err.loc());
	ASSERT_NE(models, nullptr) << err.msg();
	ASSERT_EQ(n, 2u);
	EXPECT_EQ(models[2], nullptr);
	std::vector<uint64_t> ids = {kalunGetModelId(models[0], nullptr),
	                             kalunGetModelId(models[1], nullptr)};
	std::sort(ids.begin(), ids.end());
	EXPECT_EQ(ids, (std::vector<uint64_t>{kalunGetModelId(a, nullptr), kalunGetModelId(b, nullptr)}));
	kalunDestroyModels(&models, n);
	EXPECT_EQ(models, nullptr);

	kalunModel *found = kalunGetModel(conn_, kalunGetModelId(b, nullptr), err.loc());
	ASSERT_NE(found, nullptr) << err.msg();
	EXPECT_EQ(kalunGetModelDevice(found, nullptr), proc_);
	EXPECT_EQ(kalunGetModelNumInputs(found, nullptr), 1u);
	kalunDestroyModel(&found);

	const uint64_t missing = kalunGetModelId(b, nullptr) + 1000;
	EXPECT_EQ(kalunGetModel(conn_, missing, err.loc()), nullptr);
	EXPECT_EQ(err.code(), -4);
	EXPECT_EQ(err.msg(), "Could not find model with ID " + std::to_string(missing));
	err.clear();

	ASSERT_TRUE(kalunDeleteModel(conn_, b, err.loc())) << err.msg();
	models = kalunGetModels(conn_, &n, err.loc());
	ASSERT_EQ(n, 1u);
	EXPECT_EQ(kalunGetModelId(models[0], nullptr), kalunGetModelId(a, nullptr));
	kalunDestroyModels(&models, n);
	// The record outlives the model in the service.
	EXPECT_FALSE(kalunDeleteModel(conn_, b, err.loc()));
	EXPECT_EQ(err.code(), -4);
	EXPECT_EQ(err.msg().rfind("Could not delete model: ", 0), 0u) << err.msg();
	// A public model would outlive the session.
	EXPECT_TRUE(kalunDeleteModel(conn_, a, nullptr));
	kalunDestroyModel(&a);
	kalunDestroyModel(&b);
}

// Each refusal of the service reaches the caller as its code and message.
TEST_F(EndToEnd, RefusalsOfTheServiceAreErrorRecords)
{
	connect();
	kalunConnection *other = nullptr;
	ASSERT_TRUE(kalunConnect(&other, nullptr));
	kalunModel *scale = load_scale(4, 4, 2, 2);
	ASSERT_NE(scale, nullptr);
	// A private model of another session.
	kalunMap *params = scale_params(4, 4, 2, 2);
	kalunModel *theirs = kalunLoadModel(other, -1, kalunGetDevice(other, "cpu-proc", 0, nullptr), 1,
	                                    "theirs", params, nullptr);
	ASSERT_NE(theirs, nullptr);
	kalunMap *bad_params = scale_params(4, 4, 2, 2);
	kalunMapSetStr(bad_params, "image.output.format", "bmp", nullptr);

	std::vector<uint8_t> image(48), small(12);
	OwnTensors in(kalunCreateModelInputs(scale, nullptr, nullptr), 1, {image});
	OwnTensors out(kalunCreateModelOutputs(scale, nullptr, nullptr), 1, {small});
	kalunModel *gone = load_scale(4, 4, 2, 2);
	ASSERT_NE(gone, nullptr);
	ASSERT_TRUE(kalunDeleteModel(conn_, gone, nullptr));
	kalunDevice far_unit = *proc_;
	far_unit.index = 5;
	kalunModel beyond{};
	beyond.id = kalunGetModelId(scale, nullptr);
	beyond.device = &far_unit;
	beyond.num_inputs = beyond.num_outputs = 1;
	kalunJobRequest *req = kalunCreateJobRequest(scale, in.tensors, 1, out.tensors, 1, nullptr, nullptr);
	ASSERT_NE(req, nullptr);
	const std::vector<uint8_t> garbage(64, 0x5a);
	int garbage_fd = memfd_with(garbage);

	struct Case {
		const char *what;
		std::function<bool(kalunError **)> call;
		int code;
		std::string prefix;
	};
	const Case cases[] = {
	    {"a TensorFlow Lite model that is none",
	     [&](kalunError **e) {
		     kalunModel *m = kalunLoadModel(conn_, garbage_fd, tflite_, 1, "", nullptr, e);
		     kalunDestroyModel(&m);
		     return m != nullptr;
	     },
	     -2, "Could not load model: "},
	    {"image parameters the unit refuses",
	     [&](kalunError **e) {
		     kalunModel *m = kalunLoadModel(conn_, -1, proc_, 1, "", bad_params, e);
		     kalunDestroyModel(&m);
		     return m != nullptr;
	     },
	     -2, "Could not load model: "},
	    {"a job on a model of another session",
	     [&](kalunError **e) {
		     kalunSetJobRequestModel(req, theirs, nullptr);
		     return kalunRunJob(conn_, req, e);
	     },
	     -5, "Could not run job: Caller "},
	    {"a job on a deleted model",
	     [&](kalunError **e) {
		     kalunSetJobRequestModel(req, gone, nullptr);
		     return kalunRunJob(conn_, req, e);
	     },
	     -4, "Could not run job: Model " + std::to_string(kalunGetModelId(gone, nullptr)) + " not found"},
	    {"a job on a unit beyond the list",
	     [&](kalunError **e) {
		     kalunJobRequest *far =
		         kalunCreateJobRequest(&beyond, in.tensors, 1, out.tensors, 1, nullptr, nullptr);
		     bool ok = kalunRunJob(conn_, far, e);
		     kalunDestroyJobRequest(&far);
		     return ok;
	     },
	     -9, "Chip ID is larger than number of units"},
	    {"buffers for a deleted model",
	     [&](kalunError **e) {
		     kalunTensor **t = kalunAllocModelInputs(conn_, gone, 1, nullptr, nullptr, e);
		     kalunDestroyTensors(conn_, &t, 1, nullptr);
		     return t != nullptr;
	     },
	     -4, "Could not allocate tensors: Could not get model: "},
	};
	for (const auto &c : cases) {
		Err err;
		EXPECT_FALSE(c.call(err.loc())) << c.what;
		EXPECT_EQ(err.code(), c.code) << c.what << ": " << err.msg();
		EXPECT_EQ(err.msg().rfind(c.prefix, 0), 0u) << c.what << ": " << err.msg();
	}
	// After all of those the session still works.
	kalunSetJobRequestModel(req, scale, nullptr);
	Err err;
	EXPECT_TRUE(kalunRunJob(conn_, req, err.loc())) << err.msg();

	close(garbage_fd);
	kalunDestroyJobRequest(&req);
	kalunDestroyMap(&params);
	kalunDestroyMap(&bad_params);
	kalunDestroyModel(&scale);
	kalunDestroyModel(&theirs);
	kalunDestroyModel(&gone);
	kalunDisconnect(&other, nullptr);
}

// Several threads share one connection: their requests go out whole and
// each synchronous call wakes for its own answer.
TEST_F(EndToEnd, ThreadsShareOneConnection)
{
	connect();
	kalunModel *model = load_scale(16, 8, 8, 4);
	ASSERT_NE(model, nullptr);
	const auto image = two_colours(16, 8);
	std::vector<std::thread> threads;
	std::vector<int> failures(4, 0);
	for (size_t t = 0; t < failures.size(); t++)
		threads.emplace_back([&, t] {
			OwnTensors in(kalunCreateModelInputs(model, nullptr, nullptr), 1, {image});
			OwnTensors out(kalunCreateModelOutputs(model, nullptr, nullptr), 1,
			               {std::vector<uint8_t>(8 * 4 * 3)});
			kalunJobRequest *req =
			    kalunCreateJobRequest(model, in.tensors, 1, out.tensors, 1, nullptr, nullptr);
			for (int i = 0; i < 20; i++) {
				if (!kalunRunJob(conn_, req, nullptr) ||
				    read_fd<uint8_t>(out.fds[0], 3)[0] < 190)
					failures[t]++;
				pwrite(out.fds[0], "\0", 1, 0);
			}
			kalunModel *listed = kalunGetModel(conn_, kalunGetModelId(model, nullptr), nullptr);
			if (!listed)
				failures[t]++;
			kalunDestroyModel(&listed);
			kalunDestroyJobRequest(&req);
		});
	for (auto &thread : threads)
		thread.join();
	EXPECT_EQ(failures, std::vector<int>(4, 0));
	kalunDestroyModel(&model);
}

// The service's properties are read from several threads over the one
// system-bus connection: every answer arrives whole and the connection
// closes cleanly afterwards (the bus library counts its references without
// atomics, so each reply must be dropped under the connection's lock).
TEST_F(EndToEnd, ThreadsReadTheServicesPropertiesAtOnce)
{
	connect();
	kalunModel *model = load_scale(16, 8, 8, 4);
	ASSERT_NE(model, nullptr);
	const uint64_t id = kalunGetModelId(model, nullptr);
	std::vector<std::thread> threads;
	std::vector<int> failures(4, 0);
	for (size_t t = 0; t < failures.size(); t++)
		threads.emplace_back([&, t] {
			for (int i = 0; i < 400; i++) {
				uint64_t sessions = 0;
				if (!kalunGetNumSessions(conn_, &sessions, nullptr) || sessions == 0)
					failures[t]++;
				kalunModel *listed = kalunGetModel(conn_, id, nullptr);
				if (!listed)
					failures[t]++;
				kalunDestroyModel(&listed);
			}
		});
	for (auto &thread : threads)
		thread.join();
	EXPECT_EQ(failures, std::vector<int>(4, 0));
	kalunDestroyModel(&model);
}

// The child: a session with a private model and service buffers, killed
// right after it queued a large job.
[[noreturn]] void doomed_client(int report)
{
	kalunConnection *conn = nullptr;
	if (!kalunConnect(&conn, nullptr))
		_exit(2);
	kalunMap *params = kalunCreateMap(nullptr);
	kalunMapSetIntArr2(params, "image.input.size", 1920, 1080, nullptr);
	kalunMapSetStr(params, "image.input.format", "nv12", nullptr);
	kalunMapSetIntArr2(params, "image.output.size", 1280, 720, nullptr);
	kalunMapSetStr(params, "image.output.format", "rgb-interleaved", nullptr);
	kalunModel *model = kalunLoadModel(conn, -1, kalunGetDevice(conn, "cpu-proc", 0, nullptr),
	                                   KALUN_MODEL_ACCESS_PRIVATE, "doomed", params, nullptr);
	if (!model)
		_exit(3);
	kalunTensor **in = kalunAllocModelInputs(conn, model, 1, nullptr, nullptr, nullptr);
	kalunTensor **out = kalunAllocModelOutputs(conn, model, 1, nullptr, nullptr, nullptr);
	kalunJobRequest *req =
	    in && out ? kalunCreateJobRequest(model, in, 1, out, 1, nullptr, nullptr) : nullptr;
	if (!req || !kalunRunJobAsync(
	                conn, req, [](void *, kalunError *) {}, nullptr, nullptr))
		_exit(4);
	uint64_t id = kalunGetModelId(model, nullptr);
	if (write(report, &id, sizeof(id)) != sizeof(id))
		_exit(5);
	raise(SIGKILL);
	_exit(6);
}

TEST_F(EndToEnd, AClientKilledMidJobLeavesNothingBehind)
{
	ASSERT_TRUE(kalun_test::eventually_true([] { return sessions_on_bus() == 0; }));
	const size_t fds_before = fd_count(pid_);
	ASSERT_GT(fds_before, 0u);

	int report[2];
	ASSERT_EQ(pipe(report), 0);
	pid_t child = fork();
	if (child == 0) {
		close(report[0]);
		doomed_client(report[1]);
	}
	close(report[1]);
	uint64_t model_id = UINT64_MAX;
	ASSERT_EQ(read(report[0], &model_id, sizeof(model_id)), static_cast<ssize_t>(sizeof(model_id)));
	close(report[0]);
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

	EXPECT_TRUE(kalun_test::eventually_true([] { return sessions_on_bus() == 0; }));
	EXPECT_TRUE(kalun_test::eventually_true([&] { return fd_count(pid_) == fds_before; }))
	    << fd_count(pid_) << " descriptors, " << fds_before << " before";

	// Another client is served, and the dead session's private model is
	// gone rather than merely forbidden.
	connect();
	kalunModel *scale = load_scale(4, 4, 2, 2);
	ASSERT_NE(scale, nullptr);
	OwnTensors in(kalunCreateModelInputs(scale, nullptr, nullptr), 1, {std::vector<uint8_t>(48, 9)});
	OwnTensors out(kalunCreateModelOutputs(scale, nullptr, nullptr), 1, {std::vector<uint8_t>(12)});
	kalunJobRequest *req = kalunCreateJobRequest(scale, in.tensors, 1, out.tensors, 1, nullptr, nullptr);
	Err err;
	EXPECT_TRUE(kalunRunJob(conn_, req, err.loc())) << err.msg();
	kalunModel dead{};
	dead.id = model_id;
	dead.device = proc_;
	ASSERT_TRUE(kalunSetJobRequestModel(req, &dead, nullptr));
	// The unit deletes the session's private models on its own queue, a
	// little after the session itself has gone.
	EXPECT_TRUE(kalun_test::eventually_true([&] {
		err.clear();
		return !kalunRunJob(conn_, req, err.loc()) && err.code() != -5;
	}));
	EXPECT_EQ(err.code(), -4) << err.msg();
	kalunDestroyJobRequest(&req);
	kalunDestroyModel(&scale);
}

} // namespace
