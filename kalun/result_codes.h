// Result codes of the service's answers, and which code a failure gets at
// each place where a session reports one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kalun
{

inline constexpr int32_t kResultSuccess = 0;
inline constexpr int32_t kResultJob = -1;
inline constexpr int32_t kResultLoad = -2;
inline constexpr int32_t kResultFileDescriptor = -3;
inline constexpr int32_t kResultModelNotFound = -4;
inline constexpr int32_t kResultPermissionDenied = -5;
inline constexpr int32_t kResultSessionNotCreated = -7;
inline constexpr int32_t kResultUnitIndex = -9;
inline constexpr int32_t kResultDelete = -11;
inline constexpr int32_t kResultVersionMismatch = -13;
inline constexpr int32_t kResultTensorAllocation = -14;
inline constexpr int32_t kResultSizeOverflow = 75;

// Where a failure is reported: while a request is queued, or when its unit
// hands the result back.
enum class ResultSite {
	LoadQueue,
	LoadResult,
	DeleteQueue,
	DeleteResult,
	JobQueue,
	JobResult,
	AllocTensors,
};

enum class ErrorClass {
	FileDescriptor,   // kalun::FileDescriptorError
	TypeSizeOverflow, // Session::TypeSizeOverflow
	ModelNotFound,    // BackEndUnit::ModelNotFound
	PermissionDenied, // BackEndUnit::PermissionDenied
	Other,
};

ErrorClass classifyError(const std::exception_ptr &error);
int32_t resultCode(ResultSite site, ErrorClass errorClass);
inline int32_t resultCode(ResultSite site, const std::exception_ptr &error)
{
	return resultCode(site, classifyError(error));
}
// The text of what was raised ("unknown error" for non-standard ones).
std::string errorText(const std::exception_ptr &error);

} // namespace kalun
