#include "kalun/sdbus/error.h"

#include <cerrno>
#include <cstring>

namespace kalun::sdbus
{

Error::Error(std::string name, std::string message)
    : std::runtime_error(message), name_(std::move(name)), message_(std::move(message))
{
}

Error::Error(const sd_bus_error &error)
    : Error(error.name ? error.name : SD_BUS_ERROR_FAILED, error.message ? error.message : "")
{
	errno_ = sd_bus_error_get_errno(&error);
}

Error Error::fromErrno(int negativeErrno, const std::string &what)
{
	const int code = negativeErrno < 0 ? -negativeErrno : negativeErrno;
	sd_bus_error named = SD_BUS_ERROR_NULL;
	sd_bus_error_set_errno(&named, code);
	Error error(named.name ? named.name : SD_BUS_ERROR_FAILED, what + ": " + std::strerror(code));
	sd_bus_error_free(&named);
	error.errno_ = code;
	return error;
}

int Error::setTo(sd_bus_error *error) const
{
	const int r = sd_bus_error_set(error, name_.c_str(), message_.c_str());
	if (errno_ > 0)
		return -errno_;
	return r < 0 ? r : -EIO;
}

int check(int result, const char *what)
{
	if (result < 0)
		throw Error::fromErrno(result, what);
	return result;
}

} // namespace kalun::sdbus
