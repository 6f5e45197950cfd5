#include "kalun/result_codes.h"

#include "kalun/backend_unit.h"
#include "kalun/file_descriptor.h"
#include "kalun/session.h"

namespace kalun
{

ErrorClass classifyError(const std::exception_ptr &error)
{
	if (!error)
		return ErrorClass::Other;
	try {
		std::rethrow_exception(error);
	} catch (const FileDescriptorError &) {
		return ErrorClass::FileDescriptor;
	} catch (const Session::TypeSizeOverflow &) {
		return ErrorClass::TypeSizeOverflow;
	} catch (const BackEndUnit::ModelNotFound &) {
		return ErrorClass::ModelNotFound;
	} catch (const BackEndUnit::PermissionDenied &) {
		return ErrorClass::PermissionDenied;
	} catch (...) {
		return ErrorClass::Other;
	}
}

int32_t resultCode(ResultSite site, ErrorClass errorClass)
{
	// Columns: descriptor, size overflow, model not found, permission, other.
	static constexpr int32_t kTable[7][5] = {
	    {-3, 75, -2, -2, -2},      // QueueLoadModel, while queueing
	    {-2, -2, -2, -2, -2},      // QueueLoadModel, load result
	    {-11, -11, -11, -11, -11}, // DeleteModel, while queueing
	    {-11, -11, -4, -5, -11},   // DeleteModel, delete result
	    {-3, 75, -4, -1, -1},      // QueueJob, while queueing
	    {-3, -1, -4, -5, -1},      // QueueJob, job result
	    {-14, -14, -4, -14, -14},  // AllocTensors
	};
	return kTable[static_cast<int>(site)][static_cast<int>(errorClass)];
}

std::string errorText(const std::exception_ptr &error)
{
	if (!error)
		return "";
	try {
		std::rethrow_exception(error);
	} catch (const std::exception &e) {
		return e.what();
	} catch (...) {
		return "unknown error";
	}
}

} // namespace kalun
