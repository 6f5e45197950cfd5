// Model, job and tensor requests against the scriptable stand-in of the
// service: what the library sends, how it reads models out of answers, how a
// synchronous call gives up at its deadline, and the checks made before
// anything is sent.
#include "fake_kalun.h"
#include "model.h"
#include "simsoc_dmabuf.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <linux/dma-buf.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using fakekalun::FakeKalun;
using kalun_test::Err;

struct LoadSeen {
	std::mutex lock;
	std::condition_variable cv;
	bool called = false;
	int code = 0;
	std::string msg;
	kalunModel *model = nullptr;

	bool wait()
	{
		std::unique_lock<std::mutex> g(lock);
		return cv.wait_for(g, std::chrono::seconds(5), [&] { return called; });
	}
};

void on_load(kalunModel *model, void *ud, kalunError *err)
{
	auto *s = static_cast<LoadSeen *>(ud);
	std::lock_guard<std::mutex> g(s->lock);
	s->called = true;
	s->code = err ? err->code : 0;
	s->msg = err && err->msg ? err->msg : "";
	s->model = model;
	s->cv.notify_all();
}

struct TensorShape {
	int32_t type = 12, layout = 1;
	uint64_t byte_size = 16;
	std::vector<uint64_t> dims{4};
	std::vector<uint64_t> pitches{16};
	std::string name = "t";
};

void append_tensors(sd_bus_message *m, const std::vector<TensorShape> &tensors)
{
	ASSERT_GE(sd_bus_message_open_container(m, 'a', "(iitatats)"), 0);
	for (const auto &t : tensors) {
		ASSERT_GE(sd_bus_message_open_container(m, 'r', "iitatats"), 0);
		ASSERT_GE(sd_bus_message_append(m, "iit", t.type, t.layout, t.byte_size), 0);
		ASSERT_GE(sd_bus_message_append_array(m, 't', t.dims.data(), t.dims.size() * 8), 0);
		ASSERT_GE(sd_bus_message_append_array(m, 't', t.pitches.data(), t.pitches.size() * 8), 0);
		ASSERT_GE(sd_bus_message_append(m, "s", t.name.c_str()), 0);
		ASSERT_GE(sd_bus_message_close_container(m), 0);
	}
	ASSERT_GE(sd_bus_message_close_container(m), 0);
}

// The unit index a QueueLoadModel request names.
uint64_t load_unit(const fakekalun::Request &request)
{
	sd_bus_message *m = request.message.get();
	uint64_t size = 0, unit = 0;
	int fd = -1;
	EXPECT_GE(sd_bus_message_rewind(m, 1), 0);
	EXPECT_GE(sd_bus_message_read(m, "htt", &fd, &size, &unit), 0);
	return unit;
}

// A job of model 3 on the device with one input and one output, both on one
// memfd; the request keeps its own copy of the parameters.
struct SimpleJob {
	kalunModel model{};
	kalunTensor **in = kalunCreateTensors(1, nullptr);
	kalunTensor **out = kalunCreateTensors(1, nullptr);
	int fd = kalun_test::memfd_with(nullptr, 16);
	kalunJobRequest *req = nullptr;

	SimpleJob(const kalunDevice *device, const kalunMap *params)
	{
		model.id = 3;
		model.device = device;
		model.num_inputs = model.num_outputs = 1;
		if (kalunSetTensorFd(in[0], fd, nullptr) && kalunSetTensorFd(out[0], fd, nullptr))
			req = kalunCreateJobRequest(&model, in, 1, out, 1, params, nullptr);
	}
	~SimpleJob()
	{
		kalunDestroyJobRequest(&req);
		kalunDestroyTensors_API_VERSION_1(&in, 1);
		kalunDestroyTensors_API_VERSION_1(&out, 1);
		close(fd);
	}
};

class Requests : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		start({});
	}
	void start(const std::vector<fakekalun::Unit> &units)
	{
		fake_ = std::make_unique<FakeKalun>();
		if (!units.empty()) {
			fakekalun::Script script;
			script.units = units;
			fake_->set_script(script);
		}
		Err err;
		ASSERT_TRUE(kalunConnect(&conn_, err.loc())) << err.msg();
		fake_->wait_requests(1);
		size_t n = 0;
		devs_ = kalunListDevices(conn_, &n, nullptr);
		ASSERT_EQ(n, units.empty() ? 2u : units.size());
	}

	void TearDown() override
	{
		kalunDisconnect(&conn_, nullptr);
		fake_.reset();
	}

	std::vector<uint64_t> pending_tags()
	{
		uint64_t *tags = nullptr;
		size_t n = 0;
		pthread_mutex_lock(&conn_->pending_lock);
		kalun_hashset_list(conn_->pending, &tags, &n);
		pthread_mutex_unlock(&conn_->pending_lock);
		std::vector<uint64_t> out(tags, tags + n);
		free(tags);
		return out;
	}

	// Loads asynchronously and answers with a model of these tensors.
	void load_answered(LoadSeen &seen, const std::vector<TensorShape> &inputs, int32_t code = 0)
	{
		int fd = kalun_test::memfd_with(nullptr, 8);
		Err err;
		ASSERT_TRUE(
		    kalunLoadModelAsync(conn_, fd, devs_[0], 1, "m", nullptr, on_load, &seen, err.loc()))
		    << err.msg();
		close(fd);
		auto tags = pending_tags();
		ASSERT_EQ(tags.size(), 1u);
		fake_->send_raw("QueueLoadModel", [&](sd_bus_message *m) {
			ASSERT_GE(sd_bus_message_open_container(m, 'r', "(tttisa(iitatats)a(iitatats))tis"),
			          0);
			ASSERT_GE(sd_bus_message_open_container(m, 'r', "tttisa(iitatats)a(iitatats)"), 0);
			ASSERT_GE(
			    sd_bus_message_append(m, "tttis", UINT64_C(8), UINT64_C(7), UINT64_C(1), 1, "m"),
			    0);
			append_tensors(m, inputs);
			append_tensors(m, {TensorShape{}});
			ASSERT_GE(sd_bus_message_close_container(m), 0);
			ASSERT_GE(sd_bus_message_append(m, "tis", tags[0], code, code ? "refused" : ""), 0);
			ASSERT_GE(sd_bus_message_close_container(m), 0);
		});
		ASSERT_TRUE(seen.wait());
	}

	std::unique_ptr<FakeKalun> fake_;
	kalunConnection *conn_ = nullptr;
	const kalunDevice *const *devs_ = nullptr;
};

TEST_F(Requests, AModelIsReadWithItsDeviceAndTensors)
{
	TensorShape wide;
	wide.dims = std::vector<uint64_t>(12, 1);
	wide.pitches = std::vector<uint64_t>(12, 16);
	wide.name = "image";
	LoadSeen seen;
	load_answered(seen, {wide, TensorShape{}});
	ASSERT_EQ(seen.code, 0) << seen.msg;
	ASSERT_NE(seen.model, nullptr);
	kalunModel *model = seen.model;
	EXPECT_EQ(kalunGetModelId(model, nullptr), 7u);
	EXPECT_EQ(kalunGetModelDevice(model, nullptr), devs_[1]);
	EXPECT_EQ(kalunGetModelChip(model, nullptr), 11);
	EXPECT_EQ(kalunGetModelSize(model, nullptr), 8u);
	EXPECT_STREQ(kalunGetModelName(model, nullptr), "m");
	EXPECT_EQ(kalunGetModelAccess(model, nullptr), 1);
	size_t n = 0;
	size_t *sizes = kalunGetModelInputByteSizes(model, &n, nullptr);
	ASSERT_EQ(n, 2u);
	EXPECT_EQ(sizes[0], 16u);
	free(sizes);
	kalunTensor **inputs = kalunCreateModelInputs(model, &n, nullptr);
	ASSERT_EQ(n, 2u);
	EXPECT_EQ(inputs[2], nullptr);
	EXPECT_EQ(kalunGetTensorDims(inputs[0], nullptr)->len, 12u);
	EXPECT_STREQ(kalunGetTensorName(inputs[0], nullptr), "image");
	EXPECT_EQ(kalunGetTensorFd(inputs[0], nullptr), -1);
	uint32_t props = 0;
	ASSERT_TRUE(kalunGetTensorFdProps(inputs[0], &props, nullptr));
	EXPECT_EQ(props, 1u);
	kalunDestroyTensors_API_VERSION_1(&inputs, n);
	kalunDestroyModel(&model);
	EXPECT_EQ(model, nullptr);
}

// A model the library cannot read still completes its request, with the
// reader's error, rather than leaving the caller waiting.
TEST_F(Requests, AnUnreadableModelCompletesTheLoadWithTheReadersError)
{
	struct Case {
		const char *what;
		TensorShape tensor;
		int code;
		std::string msg;
	};
	TensorShape thirteen;
	thirteen.dims = std::vector<uint64_t>(13, 1);
	TensorShape invalid_type;
	invalid_type.type = 0;
	TensorShape huge;
	huge.byte_size = UINT64_MAX;
	TensorShape negative_type;
	negative_type.type = -3;
	TensorShape type_past_last;
	type_past_last.type = 14;
	TensorShape layout_past_last;
	layout_past_last.layout = 5;
	TensorShape negative_layout;
	negative_layout.layout = -1;
	const Case cases[] = {
	    {"data type -3", negative_type, EINVAL, "kalunTensorDataType enum value out of range"},
	    {"data type 14", type_past_last, EINVAL, "kalunTensorDataType enum value out of range"},
	    {"layout 5", layout_past_last, EINVAL, "kalunTensorLayout enum value out of range"},
	    {"layout -1", negative_layout, EINVAL, "kalunTensorLayout enum value out of range"},
	    {"13 dims", thirteen, ERANGE, "Too many dims in message when reading tensor"},
	    {"data type 0", invalid_type, EINVAL,
	     "KALUN_TENSOR_DATA_TYPE_INVALID should not be set explicitly, it is reserved to "
	     "indicate errors"},
	    {"byte size UINT64_MAX", huge, EOVERFLOW,
	     std::string("Tensor byte size larger than SIZE_MAX: ") + strerror(EOVERFLOW)},
	};
	for (const auto &c : cases) {
		LoadSeen seen;
		load_answered(seen, {c.tensor});
		EXPECT_EQ(seen.code, c.code) << c.what;
		EXPECT_EQ(seen.msg, c.msg) << c.what;
		EXPECT_EQ(seen.model, nullptr) << c.what;
	}
	EXPECT_TRUE(pending_tags().empty());
	// Nothing else changed: the next answer is read as usual.
	LoadSeen good;
	load_answered(good, {TensorShape{}});
	EXPECT_EQ(good.code, 0) << good.msg;
	kalunDestroyModel(&good.model);
}

TEST_F(Requests, LoadRefusalsSendNothing)
{
	kalunMap *empty = kalunCreateMap(nullptr);
	int empty_file = kalun_test::memfd_with(nullptr, 0);
	LoadSeen seen;
	struct Case {
		const char *what;
		std::function<bool(kalunError **)> call;
		int code;
		std::string msg;
	};
	const Case cases[] = {
	    {"fd -1 without params",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, -1, devs_[1], 1, "", nullptr, on_load, &seen, e);
	     },
	     EBADF, "fd is negative while params is NULL"},
	    {"fd -1 with an empty map",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, -1, devs_[1], 1, "", empty, on_load, &seen, e);
	     },
	     EINVAL, "fd is negative while params is empty"},
	    {"empty file",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, empty_file, devs_[0], 1, "", nullptr, on_load, &seen,
		                                e);
	     },
	     EINVAL, "Model is of size 0"},
	    {"closed fd",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, 9999, devs_[0], 1, "", nullptr, on_load, &seen, e);
	     },
	     EBADF, std::string("Could not dup fd: ") + strerror(EBADF)},
	    {"no device",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, 0, nullptr, 1, "", nullptr, on_load, &seen, e);
	     },
	     EINVAL, "kalunDevice is NULL"},
	    {"no callback",
	     [&](kalunError **e) {
		     return kalunLoadModelAsync(conn_, 0, devs_[0], 1, "", nullptr, nullptr, &seen, e);
	     },
	     EINVAL, "Callback function pointer is NULL"},
	    {"a chip of no instance-0 device",
	     [&](kalunError **e) {
		     return kalunLoadModel_API_VERSION_2(conn_, 0, 7, 1, "", nullptr, e) != nullptr;
	     },
	     ENODEV, "Could not find chip"},
	    {"NULL connection, 2.0.0",
	     [&](kalunError **e) {
		     return kalunLoadModel_API_VERSION_2(nullptr, 0, 2, 1, "", nullptr, e) != nullptr;
	     },
	     EINVAL, "kalunConnection is NULL"},
	};
	for (const auto &c : cases) {
		Err err;
		EXPECT_FALSE(c.call(err.loc())) << c.what;
		EXPECT_EQ(err.code(), c.code) << c.what;
		EXPECT_EQ(err.msg(), c.msg) << c.what;
	}
	EXPECT_TRUE(pending_tags().empty());
	EXPECT_FALSE(seen.called);
	close(empty_file);
	kalunDestroyMap(&empty);
}

TEST_F(Requests, ADeviceOfAnotherConnectionIsRefused)
{
	kalunConnection *other = nullptr;
	ASSERT_TRUE(kalunConnect(&other, nullptr));
	size_t n = 0;
	const kalunDevice *const *theirs = kalunListDevices(other, &n, nullptr);
	int fd = kalun_test::memfd_with(nullptr, 8);
	Err err;
	EXPECT_EQ(kalunLoadModel(conn_, fd, theirs[0], 1, "", nullptr, err.loc()), nullptr);
	EXPECT_EQ(err.code(), ENODEV);
	EXPECT_EQ(err.msg(), "Device is not available for this connection");
	close(fd);
	kalunDisconnect(&other, nullptr);
}

TEST_F(Requests, AParameterOnlyLoadSendsAnEmptyMemoryFile)
{
	kalunMap *params = kalunCreateMap(nullptr);
	ASSERT_TRUE(kalunMapSetInt(params, "k", 1, nullptr));
	LoadSeen seen;
	Err err;
	ASSERT_TRUE(kalunLoadModelAsync(conn_, -1, devs_[1], 2, "p", params, on_load, &seen, err.loc()))
	    << err.msg();
	auto requests = fake_->wait_requests(2);
	ASSERT_EQ(requests.size(), 2u);
	EXPECT_EQ(requests[1].member, "QueueLoadModel");
	EXPECT_EQ(requests[1].signature, "httista{sv}");
	EXPECT_EQ(pending_tags().size(), 1u);
	kalunDestroyMap(&params);
	// The callback still pending runs with -6 now, while seen exists.
	kalunDisconnect(&conn_, nullptr);
	EXPECT_EQ(seen.code, -6);
}

// A synchronous call gives up at its deadline; the late answer then reaches
// nothing of the caller's.
TEST_F(Requests, ASyncJobPastItsDeadlineFailsWithEtimedoutAndIgnoresTheLateAnswer)
{
	conn_->sync_wait_seconds = 1;
	SimpleJob job(devs_[0], nullptr);
	kalunJobRequest *req = job.req;
	ASSERT_NE(req, nullptr);

	Err err;
	auto start = std::chrono::steady_clock::now();
	EXPECT_FALSE(kalunRunJob(conn_, req, err.loc()));
	EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
	EXPECT_EQ(err.code(), ETIMEDOUT);
	EXPECT_EQ(err.msg(), std::string("Could not run job: ") + strerror(ETIMEDOUT));

	auto tags = pending_tags();
	ASSERT_EQ(tags.size(), 1u);
	fake_->send_tail("QueueJob", tags[0], -1, "late");
	// A release answered after the late result shows that one was handled.
	std::thread answer([&] {
		while (pending_tags().size() != 1 || pending_tags()[0] == tags[0])
			std::this_thread::sleep_for(std::chrono::milliseconds(2));
		fake_->send_tail("DeallocTensors", pending_tags()[0], 0, "");
	});
	ASSERT_TRUE(kalunTrackTensor(conn_, job.in[0], nullptr));
	EXPECT_TRUE(kalunDestroyTensors(conn_, &job.in, 1, nullptr));
	answer.join();
	EXPECT_EQ(err.msg(), std::string("Could not run job: ") + strerror(ETIMEDOUT));
	EXPECT_TRUE(pending_tags().empty());
}

TEST_F(Requests, AJobRequestWhoseOutputHasNoFdCannotBeQueued)
{
	kalunModel model{};
	model.device = devs_[0];
	model.num_inputs = model.num_outputs = 1;
	kalunTensor **in = kalunCreateTensors(1, nullptr);
	kalunTensor **out = kalunCreateTensors(1, nullptr);
	int fd = kalun_test::memfd_with(nullptr, 16);
	ASSERT_TRUE(kalunSetTensorFd(in[0], fd, nullptr));
	kalunJobRequest *req = kalunCreateJobRequest(&model, in, 1, out, 1, nullptr, nullptr);
	ASSERT_NE(req, nullptr);
	Err err;
	EXPECT_FALSE(kalunRunJobAsync(
	    conn_, req, [](void *, kalunError *) {}, nullptr, err.loc()));
	EXPECT_EQ(err.msg().rfind("Could not append output tensors to message: Could not append "
	                          "tensor fd details: ",
	                          0),
	          0u)
	    << err.msg();
	EXPECT_TRUE(pending_tags().empty());
	kalunDestroyJobRequest(&req);
	kalunDestroyTensors_API_VERSION_1(&in, 1);
	kalunDestroyTensors_API_VERSION_1(&out, 1);
	close(fd);
}

// Once the result channel is gone nothing could answer a new request, so it
// is refused at once instead of waiting out the deadline.
TEST_F(Requests, RequestsAfterTheResultChannelClosedFailAtOnce)
{
	fake_->close_results();
	ASSERT_TRUE(kalun_test::eventually_true([&] { return conn_->closed.load(); }));
	kalunModel model{};
	model.device = devs_[0];
	Err err;
	EXPECT_FALSE(kalunDeleteModel(conn_, &model, err.loc()));
	EXPECT_EQ(err.code(), -6);
	EXPECT_EQ(err.msg(), "Asynchronous connection has been closed");
	int fd = kalun_test::memfd_with(nullptr, 8);
	err.clear();
	EXPECT_EQ(kalunLoadModel(conn_, fd, devs_[0], 1, "", nullptr, err.loc()), nullptr);
	EXPECT_EQ(err.code(), -6);
	close(fd);
}

// The chip-based load calls take the chip's device of instance 0, wherever
// it stands in the list; the oldest ones take the current chip's.
class ChipLoads : public Requests
{
      protected:
	void SetUp() override
	{
		start({{"cpu-tflite", 1, 2}, {"cpu-tflite", 0, 2}, {"cpu-proc", 0, 11}});
	}
};

TEST_F(ChipLoads, TakeTheInstanceZeroDeviceOfTheChip)
{
	int fd = kalun_test::memfd_with(nullptr, 8);
	LoadSeen first, second;
	Err err;
	ASSERT_TRUE(
	    kalunLoadModelAsync_API_VERSION_2(conn_, fd, 2, 1, "m", nullptr, on_load, &first, err.loc()))
	    << err.msg();
	ASSERT_TRUE(kalunSetChip(conn_, 11, nullptr));
	ASSERT_TRUE(kalunLoadModelAsync_API_VERSION_1(conn_, fd, 1, "m", on_load, &second, err.loc()))
	    << err.msg();
	auto requests = fake_->wait_requests(3);
	ASSERT_EQ(requests.size(), 3u);
	EXPECT_EQ(load_unit(requests[1]), 1u);
	EXPECT_EQ(load_unit(requests[2]), 2u);
	close(fd);
	// The loads stay unanswered: they complete while both records exist.
	kalunDisconnect(&conn_, nullptr);
	EXPECT_EQ(first.code, -6);
	EXPECT_EQ(second.code, -6);
}

TEST_F(Requests, AJobsParameterMapReachesTheService)
{
	kalunMap *params = kalunCreateMap(nullptr);
	ASSERT_TRUE(kalunMapSetInt(params, "image.rotation", 90, nullptr));
	ASSERT_TRUE(kalunMapSetStr(params, "image.input.format", "nv12", nullptr));
	SimpleJob job(devs_[1], params);
	kalunDestroyMap(&params);
	ASSERT_NE(job.req, nullptr);
	Err err;
	ASSERT_TRUE(kalunRunJobAsync(
	    conn_, job.req, [](void *, kalunError *) {}, nullptr, err.loc()))
	    << err.msg();
	auto requests = fake_->wait_requests(2);
	ASSERT_EQ(requests.size(), 2u);
	EXPECT_EQ(requests[1].member, "QueueJob");
	sd_bus_message *m = requests[1].message.get();
	ASSERT_GE(sd_bus_message_rewind(m, 1), 0);
	ASSERT_GE(sd_bus_message_skip(m, "ttyta(iitatathtxtu)a(iitatathtxtu)"), 0);
	ASSERT_GT(sd_bus_message_enter_container(m, 'a', "{sv}"), 0);
	std::vector<std::string> seen;
	while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
		const char *key = nullptr;
		ASSERT_GE(sd_bus_message_read(m, "s", &key), 0);
		std::string entry = key;
		if (entry == "image.rotation") {
			int64_t value = 0;
			ASSERT_GE(sd_bus_message_read(m, "v", "x", &value), 0);
			entry += "=" + std::to_string(value);
		} else {
			const char *value = nullptr;
			ASSERT_GE(sd_bus_message_read(m, "v", "s", &value), 0);
			entry += "=" + std::string(value);
		}
		seen.push_back(entry);
		ASSERT_GE(sd_bus_message_exit_container(m), 0);
	}
	std::sort(seen.begin(), seen.end());
	EXPECT_EQ(seen, (std::vector<std::string>{"image.input.format=nv12", "image.rotation=90"}));
}

TEST_F(Requests, AnAllocationAnsweredWithTheWrongNumberOfBuffersFailsWithEproto)
{
	kalunModel model{};
	model.id = 3;
	model.device = devs_[0];
	model.num_inputs = 2;
	model.inputs = kalunCreateTensors(2, nullptr);
	Err err;
	kalunTensor **got = nullptr;
	std::thread caller(
	    [&] { got = kalunAllocModelInputs(conn_, &model, 3, nullptr, nullptr, err.loc()); });
	ASSERT_TRUE(kalun_test::eventually_true([&] { return pending_tags().size() == 1; }));
	const uint64_t alloc = pending_tags()[0];
	fake_->send_alloc(alloc, 0, "", {64}, {3}, 1);
	// The failed call hands back the ids it asked buffers for.
	ASSERT_TRUE(kalun_test::eventually_true([&] {
		auto tags = pending_tags();
		return tags.size() == 1 && tags[0] != alloc;
	}));
	fake_->send_tail("DeallocTensors", pending_tags()[0], 0, "");
	caller.join();
	EXPECT_EQ(got, nullptr);
	EXPECT_EQ(err.code(), EPROTO);
	EXPECT_EQ(err.msg(), "Could not allocate tensors: got 1 buffers for 2 tensors");
	EXPECT_EQ(fake_->wait_requests(3).back().member, "DeallocTensors");
	kalunDestroyTensors_API_VERSION_1(&model.inputs, 2);
}

// The older job calls bracket every dma-buf of a job with a cache sync
// before it is sent; other buffers are left alone.
class DmaBufSyncs : public Requests
{
      protected:
	void SetUp() override
	{
		Requests::SetUp();
		simsoc_dmabuf_clear();
		dmabuf_in_ = open(SIMSOC_DMABUF_PATH, O_RDWR | O_CLOEXEC);
		dmabuf_out_ = open(SIMSOC_DMABUF_PATH, O_RDWR | O_CLOEXEC);
		plain_ = kalun_test::memfd_with(nullptr, SIMSOC_DMABUF_SIZE);
		ASSERT_GE(dmabuf_in_, 0);
		ASSERT_GE(dmabuf_out_, 0);
		model_.id = 3;
		model_.device = devs_[1];
		model_.num_inputs = 2;
		model_.num_outputs = 1;
		in_ = kalunCreateTensors(2, nullptr);
		out_ = kalunCreateTensors(1, nullptr);
		const std::pair<kalunTensor *, int> fds[] = {
		    {in_[0], dmabuf_in_}, {in_[1], plain_}, {out_[0], dmabuf_out_}};
		for (const auto &[tensor, fd] : fds) {
			ASSERT_TRUE(kalunSetTensorFd(tensor, fd, nullptr));
			ASSERT_TRUE(kalunSetTensorFdProps(tensor,
			                                  fd == plain_ ? KALUN_FD_PROP_READWRITE
			                                               : KALUN_FD_PROP_READWRITE |
			                                                     KALUN_FD_PROP_DMABUF,
			                                  nullptr));
		}
		req_ = kalunCreateJobRequest(&model_, in_, 2, out_, 1, nullptr, nullptr);
		ASSERT_NE(req_, nullptr);
	}
	void TearDown() override
	{
		kalunDestroyJobRequest(&req_);
		kalunDestroyTensors_API_VERSION_1(&in_, 2);
		kalunDestroyTensors_API_VERSION_1(&out_, 1);
		for (int fd : {dmabuf_in_, dmabuf_out_, plain_})
			close(fd);
		Requests::TearDown();
	}
	std::vector<simsoc_dmabuf_sync> syncs()
	{
		std::vector<simsoc_dmabuf_sync> all(64);
		all.resize(std::min<size_t>(simsoc_dmabuf_syncs(all.data(), all.size()), 64));
		return all;
	}

	kalunModel model_{};
	kalunTensor **in_ = nullptr;
	kalunTensor **out_ = nullptr;
	kalunJobRequest *req_ = nullptr;
	int dmabuf_in_ = -1, dmabuf_out_ = -1, plain_ = -1;
};

TEST_F(DmaBufSyncs, InputsForWritingAndOutputsForReadingBeforeTheJobIsSent)
{
	Err err;
	ASSERT_TRUE(kalunRunInferenceAsync(
	    conn_, req_, [](void *, kalunError *) {}, nullptr, err.loc()))
	    << err.msg();
	// Unit 0 is the input, unit 1 the output; the plain input has none.
	const auto all = syncs();
	ASSERT_EQ(all.size(), 4u);
	const std::pair<int, uint64_t> expected[] = {{0, DMA_BUF_SYNC_START | DMA_BUF_SYNC_WRITE},
	                                             {0, DMA_BUF_SYNC_END | DMA_BUF_SYNC_WRITE},
	                                             {1, DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ},
	                                             {1, DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ}};
	for (size_t i = 0; i < all.size(); i++) {
		EXPECT_EQ(all[i].fd_unit, expected[i].first) << i;
		EXPECT_EQ(all[i].flags, expected[i].second) << i;
		EXPECT_EQ(all[i].result, 0) << i;
	}
	auto requests = fake_->wait_requests(2);
	ASSERT_EQ(requests.size(), 2u);
	EXPECT_EQ(requests[1].member, "QueueJob");
}

TEST_F(DmaBufSyncs, BusySyncsAreRetriedAfterDoublingPauses)
{
	simsoc_dmabuf_fail_syncs(3, EAGAIN);
	Err err;
	ASSERT_TRUE(kalunRunInferenceAsync(
	    conn_, req_, [](void *, kalunError *) {}, nullptr, err.loc()))
	    << err.msg();
	const auto all = syncs();
	ASSERT_EQ(all.size(), 7u);
	for (size_t i = 0; i < 4; i++)
		EXPECT_EQ(all[i].flags, uint64_t{DMA_BUF_SYNC_START | DMA_BUF_SYNC_WRITE}) << i;
	EXPECT_EQ(all[2].result, -EAGAIN);
	EXPECT_EQ(all[3].result, 0);
	// At least 1, 2 and 4 ms between the attempts.
	for (size_t i = 1; i < 4; i++)
		EXPECT_GE(all[i].when_ns - all[i - 1].when_ns, (uint64_t{1} << (i - 1)) * 1000000u) << i;
}

TEST_F(DmaBufSyncs, ASyncThatNeverSucceedsSendsNothing)
{
	struct Case {
		int err;
		size_t attempts;
	};
	for (const Case c : {Case{EAGAIN, 8}, Case{EIO, 1}}) {
		simsoc_dmabuf_clear();
		simsoc_dmabuf_fail_syncs(8, c.err);
		Err err;
		EXPECT_FALSE(kalunRunInferenceAsync(
		    conn_, req_, [](void *, kalunError *) {}, nullptr, err.loc()));
		EXPECT_EQ(err.code(), c.err);
		EXPECT_EQ(err.msg(), std::string("Failed dma buf cache sync: ") + strerror(c.err));
		EXPECT_EQ(syncs().size(), c.attempts);
		EXPECT_TRUE(pending_tags().empty());
	}
	EXPECT_EQ(fake_->wait_requests(2).size(), 1u);
}

} // namespace
