// The one exception of the bus layer: a D-Bus error name and its text, so
// that a failure can be handed to a peer as an error reply unchanged.
#pragma once

#include <stdexcept>
#include <string>

#include <systemd/sd-bus.h>

namespace kalun::sdbus
{

class Error : public std::runtime_error
{
      public:
	Error(std::string name, std::string message);
	// From an sd-bus error structure (the structure is left as it is).
	explicit Error(const sd_bus_error &error);

	// For a negative sd-bus return value: the errno's D-Bus name and
	// "<what>: <strerror>".
	static Error fromErrno(int negativeErrno, const std::string &what);

	const std::string &name() const
	{
		return name_;
	}
	const std::string &message() const
	{
		return message_;
	}
	// The positive errno behind the error, 0 when it did not come from one.
	int errnoValue() const
	{
		return errno_;
	}

	// Fills an sd-bus error structure for a reply; returns the negative errno
	// that callbacks give back with it.
	int setTo(sd_bus_error *error) const;

      private:
	std::string name_;
	std::string message_;
	int errno_ = 0;
};

// Raises Error::fromErrno for a negative result; passes others through.
int check(int result, const char *what);

} // namespace kalun::sdbus
