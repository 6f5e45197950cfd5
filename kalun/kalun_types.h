// Codes shared by the service, its private buses and the client library.
#pragma once

#include <cstdint>

namespace kalun
{

enum TensorDataType : int32_t {
	KALUN_TENSOR_DATA_TYPE_INVALID = 0,
	KALUN_TENSOR_DATA_TYPE_UNSPECIFIED = 1,
	KALUN_TENSOR_DATA_TYPE_BOOL = 2,
	KALUN_TENSOR_DATA_TYPE_UINT8 = 3,
	KALUN_TENSOR_DATA_TYPE_INT8 = 4,
	KALUN_TENSOR_DATA_TYPE_INT16 = 6,
	KALUN_TENSOR_DATA_TYPE_INT32 = 8,
	KALUN_TENSOR_DATA_TYPE_INT64 = 10,
	KALUN_TENSOR_DATA_TYPE_FLOAT16 = 11,
	KALUN_TENSOR_DATA_TYPE_FLOAT32 = 12,
};
// Codes up to this one pass validation; 5, 7, 9, 13 and 14 have no meaning
// here and are carried through unchanged.
inline constexpr int32_t kMaxTensorDataType = 14;

enum TensorLayout : int32_t {
	KALUN_TENSOR_LAYOUT_INVALID = 0,
	KALUN_TENSOR_LAYOUT_UNSPECIFIED = 1,
	KALUN_TENSOR_LAYOUT_NHWC = 2,
	KALUN_TENSOR_LAYOUT_NCHW = 3,
	KALUN_TENSOR_LAYOUT_420SP = 4,
};
inline constexpr int32_t kMaxTensorLayout = 5;

enum FdProps : uint32_t {
	KALUN_FD_PROP_READWRITE = 1,
	KALUN_FD_PROP_MAP = 2,
	KALUN_FD_PROP_DMABUF = 4,
};

// Model access: a private model is only for the session that loaded it.
inline constexpr int32_t kModelAccessPrivate = 1;
inline constexpr int32_t kModelAccessPublic = 2;

} // namespace kalun
