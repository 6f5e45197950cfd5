#include "kalun/tensor.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace
{

using kalun::TensorMetadata;
using kalun::test::thrownText;
using Sizes = std::vector<size_t>;

struct ValidationCase {
	int32_t dataType;
	int32_t layout;
	Sizes dims;
	Sizes pitches;
	uint64_t byteSize;
	const char *error;
};

TEST(TensorMetadataTest, ValidationOrderAndMessages)
{
	const Sizes thirteen(13, 1);
	const ValidationCase cases[] = {
	    {1, 1, {}, {}, 0, ""},
	    {14, 5, {}, {}, 0, ""},
	    {0, 0, {}, {}, 0, "Tensor has invalid data type"},
	    {15, 1, {}, {}, 0, "Tensor has invalid data type"},
	    {-1, 1, {}, {}, 0, "Tensor has invalid data type"},
	    {3, 0, {}, {}, 0, "Tensor has invalid layout"},
	    {3, 6, {0}, {}, 0, "Tensor has invalid layout"},
	    {3, 1, thirteen, {}, 0, "Tensor has invalid dimension length (13)"},
	    {3, 2, {0, 1, 1}, {}, 0, "Tensor has invalid dimension values"},
	    {3,
	     3,
	     {1, 2, 3},
	     {},
	     0,
	     "Tensor has invalid dimension length (3) with regards to specified layout"},
	    {3,
	     2,
	     {1, 2, 3, 4, 5},
	     {},
	     0,
	     "Tensor has invalid dimension length (5) with regards to specified layout"},
	    {3, 3, {}, {}, 0, ""},
	    {3, 4, {3, 480, 640}, {}, 0, ""},
	    {3, 1, {}, thirteen, 0, "Tensor has pitch length (13) that exceeds the maximum allowed (12)"},
	    {3, 1, {1, 2}, {8}, 0, "Mismatch between tensor's dimensions length (2) and pitches length (1)"},
	    {3, 1, {}, {8}, 0, ""},
	    {3, 1, {2, 4}, {8, 0}, 8, "Tensor has invalid zero pitch values"},
	    {3, 1, {2, 4}, {96, 4}, 0, ""},
	    {3,
	     1,
	     {2, 4},
	     {96, 4},
	     100,
	     "Tensor's pitches values (pitches[0]=96) do not match tensor's byte size (100)"},
	    {3, 2, {1, 224, 224, 3}, {150528, 150528, 672, 3}, 150528, ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.error);
		EXPECT_EQ(thrownText<std::invalid_argument>([&] {
			          TensorMetadata(c.dataType, c.layout, c.dims, c.pitches, c.byteSize, "t");
		          }),
		          c.error);
	}
}

struct MatchCase {
	TensorMetadata got;
	TensorMetadata expected;
	const char *error;
};

TEST(TensorMetadataTest, MatchingWithWildcards)
{
	const TensorMetadata model(3, 2, {1, 224, 224, 3}, {150528, 150528, 672, 3}, 150528, "in");
	const MatchCase cases[] = {
	    {TensorMetadata(1, 1, {}, {}, 0, ""), model, ""},
	    {TensorMetadata(3, 2, {1, 224, 224, 3}, {}, 150528, ""), model, ""},
	    {model, TensorMetadata(1, 1, {}, {}, 0, ""), ""},
	    {TensorMetadata(4, 3, {}, {}, 0, ""), model, "Tensors data type mismatch (got 4, expected 3)"},
	    {TensorMetadata(3, 3, {1, 3, 224, 224}, {}, 0, ""), model,
	     "Tensors layout mismatch (got 3, expected 2)"},
	    {TensorMetadata(3, 2, {1, 224, 224, 3}, {}, 0, ""),
	     TensorMetadata(3, 2, {1, 224, 224, 4}, {}, 0, ""),
	     "Tensors dimensions mismatch (got [1,224,224,3], expected [1,224,224,4])"},
	    {TensorMetadata(3, 1, {5}, {}, 0, ""), TensorMetadata(3, 1, {5, 1}, {}, 0, ""),
	     "Tensors dimensions mismatch (got [5], expected [5,1])"},
	    {TensorMetadata(3, 2, {}, {150528, 150528, 672, 4}, 0, ""), model,
	     "Tensors pitches mismatch (got [150528,150528,672,4], expected [150528,150528,672,3])"},
	    {TensorMetadata(3, 1, {}, {}, 100, ""), model,
	     "Tensors byte size mismatch (got 100, expected 150528)"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.error);
		EXPECT_EQ(thrownText<std::invalid_argument>([&] { c.got.checkMatch(c.expected); }), c.error);
	}
}

TEST(TensorTest, KeepsItsBuffer)
{
	auto buffer =
	    std::make_shared<kalun::Buffer>(kalun::FileDescriptor(kalun::test::patternMemfd(4)), 4, 0, 3);
	const kalun::Tensor tensor(3, 1, {4}, {4}, 4, "", buffer);
	EXPECT_EQ(tensor.getBuffer(), buffer);
	EXPECT_EQ(thrownText<std::invalid_argument>([&] { kalun::Tensor(3, 1, {0}, {}, 0, "", buffer); }),
	          "Tensor has invalid dimension values");
	EXPECT_EQ(kalun::vectorToString(std::vector<size_t>{}), "[]");
}

} // namespace
