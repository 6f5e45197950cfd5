// Tensor records, their validation and job requests, without a service.
#include "model.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

using kalun_test::Err;

TEST(Tensors, FreshTensorsAndTheirNullEnd)
{
	kalunTensor **t = kalunCreateTensors(2, nullptr);
	ASSERT_NE(t, nullptr);
	EXPECT_EQ(t[2], nullptr);
	for (int i = 0; i < 2; i++) {
		EXPECT_EQ(kalunGetTensorFd(t[i], nullptr), -1);
		uint32_t props = 0;
		ASSERT_TRUE(kalunGetTensorFdProps(t[i], &props, nullptr));
		EXPECT_EQ(props, 1u);
		EXPECT_EQ(kalunGetTensorDataType(t[i], nullptr), 1);
		EXPECT_EQ(kalunGetTensorLayout(t[i], nullptr), 1);
		EXPECT_STREQ(kalunGetTensorName(t[i], nullptr), "");
	}
	kalunDestroyTensors_API_VERSION_1(&t, 2);
	EXPECT_EQ(t, nullptr);

	Err err;
	EXPECT_EQ(kalunCreateTensors(0, err.loc()), nullptr);
	EXPECT_EQ(err.code(), EINVAL);
	EXPECT_EQ(err.msg(), "numTensors is 0, please create 1 tensor or more");
}

TEST(Tensors, SettersRefuseWithoutChangingTheTensor)
{
	kalunTensor **t = kalunCreateTensors(1, nullptr);
	kalunTensor *x = t[0];
	kalunTensorDims dims{};
	dims.len = 13;
	kalunTensorPitches pitches{};
	pitches.len = 13;
	struct Case {
		const char *what;
		std::function<bool(kalunError **)> set;
		std::string msg;
	};
	const Case cases[] = {
	    {"fd INT_MIN", [&](kalunError **e) { return kalunSetTensorFd(x, INT_MIN, e); },
	     "KALUN_INVALID_FD should not be set explicitly, it is reserved to indicate errors"},
	    {"fd -1", [&](kalunError **e) { return kalunSetTensorFd(x, -1, e); }, "fd is negative"},
	    {"13 dims", [&](kalunError **e) { return kalunSetTensorDims(x, &dims, e); },
	     "dims len is too big (13 > 12)"},
	    {"13 pitches", [&](kalunError **e) { return kalunSetTensorPitches(x, &pitches, e); },
	     "pitches len is too big (13 > 12)"},
	    {"data type 0",
	     [&](kalunError **e) { return kalunSetTensorDataType(x, KALUN_TENSOR_DATA_TYPE_INVALID, e); },
	     "KALUN_TENSOR_DATA_TYPE_INVALID should not be set explicitly, it is reserved to "
	     "indicate errors"},
	    {"data type 14",
	     [&](kalunError **e) {
		     return kalunSetTensorDataType(x, static_cast<kalunTensorDataType>(14), e);
	     },
	     "kalunTensorDataType enum value out of range"},
	    {"data type -1",
	     [&](kalunError **e) {
		     return kalunSetTensorDataType(x, static_cast<kalunTensorDataType>(-1), e);
	     },
	     "kalunTensorDataType enum value out of range"},
	    {"layout 0",
	     [&](kalunError **e) { return kalunSetTensorLayout(x, KALUN_TENSOR_LAYOUT_INVALID, e); },
	     "KALUN_TENSOR_LAYOUT_INVALID should not be set explicitly, it is reserved to indicate "
	     "errors"},
	    {"layout 5",
	     [&](kalunError **e) { return kalunSetTensorLayout(x, static_cast<kalunTensorLayout>(5), e); },
	     "kalunTensorLayout enum value out of range"},
	    {"negative offset", [&](kalunError **e) { return kalunSetTensorFdOffset(x, -1, e); },
	     "negative offset values are not allowed"},
	    {"fd props 0", [&](kalunError **e) { return kalunSetTensorFdProps(x, 0, e); },
	     "Invalid fd props: 0"},
	    {"fd props 8", [&](kalunError **e) { return kalunSetTensorFdProps(x, 8, e); },
	     "Invalid fd props: 8"},
	    {"NULL tensor", [&](kalunError **e) { return kalunSetTensorFd(nullptr, 3, e); },
	     "kalunTensor is NULL"},
	};
	const kalunTensor before = *x;
	for (const auto &c : cases) {
		Err err;
		EXPECT_FALSE(c.set(err.loc())) << c.what;
		EXPECT_EQ(err.code(), EINVAL) << c.what;
		EXPECT_EQ(err.msg(), c.msg) << c.what;
	}
	EXPECT_EQ(memcmp(&before, x, sizeof(before)), 0);
	EXPECT_TRUE(kalunSetTensorFd(x, 3, nullptr));
	EXPECT_EQ(kalunGetTensorFd(x, nullptr), 3);
	EXPECT_EQ(kalunGetTensorFd(nullptr, nullptr), KALUN_INVALID_FD);
	kalunDestroyTensors_API_VERSION_1(&t, 1);
}

TEST(Tensors, ATrackedTensorKeepsItsBufferButNotItsShape)
{
	kalunTensor **t = kalunCreateTensors(1, nullptr);
	kalunTensor *x = t[0];
	kalunConnection conn{};
	conn.next_tensor_id.store(1);
	Err err;
	EXPECT_FALSE(kalunTrackTensor(&conn, x, err.loc()));
	EXPECT_EQ(err.msg(), "Tensor's fd is negative");
	ASSERT_TRUE(kalunSetTensorFd(x, 5, nullptr));
	ASSERT_TRUE(kalunTrackTensor(&conn, x, nullptr));
	EXPECT_EQ(x->tensor_id, 1u);

	const std::pair<std::function<bool(kalunError **)>, std::string> refused[] = {
	    {[&](kalunError **e) { return kalunSetTensorFd(x, 6, e); },
	     "fd to an already tracked tensor can not be changed"},
	    {[&](kalunError **e) { return kalunSetTensorFdSize(x, 6, e); },
	     "fd size to an already tracked tensor can not be changed"},
	    {[&](kalunError **e) { return kalunSetTensorFdOffset(x, 6, e); },
	     "offset to an already tracked tensor can not be changed"},
	    {[&](kalunError **e) { return kalunSetTensorFdProps(x, 3, e); },
	     "fd props to an already tracked tensor can not be changed"},
	    {[&](kalunError **e) { return kalunTrackTensor(&conn, x, e); }, "kalunTensor is already tracked"},
	};
	for (const auto &[set, msg] : refused) {
		Err e;
		EXPECT_FALSE(set(e.loc()));
		EXPECT_EQ(e.msg(), msg);
	}
	kalunTensorDims dims{{1, 2}, 2};
	EXPECT_TRUE(kalunSetTensorDims(x, &dims, nullptr));
	// Without tracked tensors nothing goes to the service.
	kalunTensor **plain = kalunCreateTensors(2, nullptr);
	EXPECT_TRUE(kalunDestroyTensors(&conn, &plain, 2, nullptr));
	EXPECT_EQ(plain, nullptr);
	kalunDestroyTensors_API_VERSION_1(&t, 1);
}

TEST(Tensors, ValidationOfArrays)
{
	struct Case {
		const char *what;
		int32_t layout;
		size_t dims;
		size_t pitches;
		uint64_t pitch0, byte_size, fd_size;
		int64_t offset;
		std::string msg; // empty: accepted
	};
	const Case cases[] = {
	    {"NHWC with 3 dims", 2, 3, 0, 0, 0, 0, 0,
	     "Tensor 1 has layout NCHW and expects dimension length 4 or 0 (got 3)"},
	    {"NCHW with 3 dims", 3, 3, 0, 0, 0, 0, 0,
	     "Tensor 1 has layout NCHW and expects dimension length 4 or 0 (got 3)"},
	    {"NHWC with 0 dims", 2, 0, 0, 0, 0, 0, 0, ""},
	    {"NCHW with 4 dims", 3, 4, 0, 0, 0, 0, 0, ""},
	    {"dims and pitches of unequal length", 1, 3, 2, 600, 0, 0, 0,
	     "Tensor 1 has unequal number of dims (3) and pitches (2)"},
	    {"pitches[0] not the byte size", 1, 2, 2, 600, 601, 0, 0,
	     "Tensor 1 pitches values (pitches[0]=600) do not match byte size (601)"},
	    {"pitches[0] the byte size", 1, 2, 2, 600, 600, 0, 0, ""},
	    {"offset past the fd", 1, 0, 0, 0, 0, 100, 101,
	     "Tensor 1 fd offset (101) is greater than fd size (100)"},
	    {"data fits exactly", 1, 0, 0, 0, 60, 100, 40, ""},
	    {"data one byte too long", 1, 0, 0, 0, 61, 100, 40,
	     "Tensor 1 fd size (100) is less than required byte size (61) plus offset (40)"},
	    {"a byte size that would wrap", 1, 0, 0, 0, UINT64_MAX - 20, 100, 40,
	     "Tensor 1 fd size (100) is less than required byte size (18446744073709551595) plus "
	     "offset (40)"},
	};
	for (const auto &c : cases) {
		kalunTensor **t = kalunCreateTensors(2, nullptr);
		kalunTensor *x = t[1];
		x->layout = c.layout;
		x->dims.len = c.dims;
		x->pitches.len = c.pitches;
		x->pitches.pitches[0] = c.pitch0;
		x->byte_size = c.byte_size;
		x->fd_size = c.fd_size;
		x->fd_offset = c.offset;
		Err err;
		bool ok = kalun_tensors_validate(t, 2, err.loc());
		EXPECT_EQ(ok, c.msg.empty()) << c.what;
		if (!c.msg.empty()) {
			EXPECT_EQ(err.code(), EINVAL) << c.what;
			EXPECT_EQ(err.msg(), c.msg) << c.what;
		}
		kalunDestroyTensors_API_VERSION_1(&t, 2);
	}
	kalunTensor *holes[2] = {nullptr, nullptr};
	Err err;
	EXPECT_FALSE(kalun_tensors_validate(holes, 2, err.loc()));
	EXPECT_EQ(err.msg(), "Tensor 0 is null");
}

class Requests : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		dev_.chip = 2;
		model_.device = &dev_;
		model_.id = 4;
		model_.num_inputs = model_.num_outputs = 1;
		in_ = kalunCreateTensors(2, nullptr);
		out_ = kalunCreateTensors(1, nullptr);
		fd_ = memfd_create("tensors-test", MFD_CLOEXEC);
		ASSERT_EQ(ftruncate(fd_, 64), 0);
		kalunSetTensorFd(in_[0], fd_, nullptr);
		kalunSetTensorFd(in_[1], fd_, nullptr);
		kalunSetTensorFd(out_[0], fd_, nullptr);
	}
	void TearDown() override
	{
		kalunDestroyTensors_API_VERSION_1(&in_, 2);
		kalunDestroyTensors_API_VERSION_1(&out_, 1);
		close(fd_);
	}
	kalunJobRequest *request(kalunError **error = nullptr)
	{
		return kalunCreateJobRequest(&model_, in_, 1, out_, 1, nullptr, error);
	}

	kalunDevice dev_{};
	kalunModel model_{};
	kalunTensor **in_ = nullptr, **out_ = nullptr;
	int fd_ = -1;
};

TEST_F(Requests, CreationRefusals)
{
	kalunTensor *null_in[1] = {nullptr};
	kalunTensor **bad = kalunCreateTensors(1, nullptr);
	bad[0]->layout = 2;
	bad[0]->dims.len = 3;
	struct Case {
		const char *what;
		std::function<kalunJobRequest *(kalunError **)> make;
		std::string msg;
	};
	const Case cases[] = {
	    {"two inputs for one",
	     [&](kalunError **e) { return kalunCreateJobRequest(&model_, in_, 2, out_, 1, nullptr, e); },
	     "Number of input tensors does not match model (got 2, expected 1)"},
	    {"no outputs",
	     [&](kalunError **e) { return kalunCreateJobRequest(&model_, in_, 1, out_, 0, nullptr, e); },
	     "Number of output tensors does not match model (got 0, expected 1)"},
	    {"a NULL input",
	     [&](kalunError **e) { return kalunCreateJobRequest(&model_, null_in, 1, out_, 1, nullptr, e); },
	     "Input tensor 0 is NULL"},
	    {"an invalid output",
	     [&](kalunError **e) { return kalunCreateJobRequest(&model_, in_, 1, bad, 1, nullptr, e); },
	     "Output tensors are invalid: Tensor 0 has layout NCHW and expects dimension length 4 "
	     "or 0 (got 3)"},
	    {"no model",
	     [&](kalunError **e) { return kalunCreateJobRequest(nullptr, in_, 1, out_, 1, nullptr, e); },
	     "Model pointer is NULL"},
	};
	for (const auto &c : cases) {
		Err err;
		EXPECT_EQ(c.make(err.loc()), nullptr) << c.what;
		EXPECT_EQ(err.code(), EINVAL) << c.what;
		EXPECT_EQ(err.msg(), c.msg) << c.what;
	}
	kalunDestroyTensors_API_VERSION_1(&bad, 1);
}

TEST_F(Requests, PriorityInputsAndTheCallersCopies)
{
	kalunJobRequest *req = request();
	ASSERT_NE(req, nullptr);
	Err err;
	EXPECT_TRUE(kalunSetJobRequestPriority(req, 100, nullptr));
	EXPECT_FALSE(kalunSetJobRequestPriority(req, 101, err.loc()));
	EXPECT_EQ(err.msg(), "Priority argument is too large (101 > 100)");
	// More inputs than the model has: the service judges that.
	kalunTensor **three = kalunCreateTensors(3, nullptr);
	EXPECT_TRUE(kalunSetJobRequestInputs(req, three, 3, nullptr));
	kalunDestroyTensors_API_VERSION_1(&three, 3);
	err.clear();
	EXPECT_FALSE(kalunSetJobRequestOutputs(req, out_, 0, err.loc()));
	EXPECT_EQ(err.msg(), "numTensors must be non-zero");
	kalunDestroyJobRequest(&req);
	EXPECT_EQ(req, nullptr);
}

// Only the 2.0.0 forms synchronise, and only dma-buf tensors; a memory file
// is no dma-buf, so the synchronisation itself is what fails.
TEST_F(Requests, TheOlderRunSynchronisesDmaBufTensorsFirst)
{
	auto none = [](void *, kalunError *) {};
	kalunJobRequest *req = request();
	Err err;
	EXPECT_FALSE(kalunRunJobAsync_API_VERSION_2(nullptr, req, none, nullptr, err.loc()));
	EXPECT_EQ(err.msg(), "kalunConnection is NULL");
	kalunDestroyJobRequest(&req);

	in_[0]->fd_props = KALUN_FD_PROP_READWRITE | KALUN_FD_PROP_DMABUF;
	req = request();
	err.clear();
	EXPECT_FALSE(kalunRunJobAsync_API_VERSION_2(nullptr, req, none, nullptr, err.loc()));
	EXPECT_EQ(err.code(), ENOTTY);
	EXPECT_EQ(err.msg(), std::string("Failed dma buf cache sync: ") + strerror(ENOTTY));
	err.clear();
	EXPECT_FALSE(kalunRunJobAsync(nullptr, req, none, nullptr, err.loc()));
	EXPECT_EQ(err.msg(), "kalunConnection is NULL");
	kalunDestroyJobRequest(&req);
}

} // namespace
