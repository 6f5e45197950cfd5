#include "kalun/sdbus/message.h"

#include <cerrno>

namespace kalun::sdbus
{

namespace
{

std::string typeText(char type, const std::string &contents = "")
{
	return "'" + std::string(1, type) + contents + "'";
}

} // namespace

Message::Message(sd_bus_message *message, bool adopt) : message_(message)
{
	if (message_ && !adopt)
		sd_bus_message_ref(message_);
}

Message::Message(const Message &other) : message_(other.message_)
{
	if (message_)
		sd_bus_message_ref(message_);
}

Message &Message::operator=(const Message &other)
{
	if (this != &other) {
		Message copy(other);
		std::swap(message_, copy.message_);
	}
	return *this;
}

Message::Message(Message &&other) noexcept : message_(other.message_)
{
	other.message_ = nullptr;
}

Message &Message::operator=(Message &&other) noexcept
{
	std::swap(message_, other.message_);
	return *this;
}

Message::~Message()
{
	if (message_)
		sd_bus_message_unref(message_);
}

std::string Message::member() const
{
	const char *member = message_ ? sd_bus_message_get_member(message_) : nullptr;
	return member ? member : "";
}

Message Message::newMethodReturn() const
{
	sd_bus_message *reply = nullptr;
	check(sd_bus_message_new_method_return(message_, &reply), "Could not create method return");
	return Message(reply, true);
}

void Message::send() const
{
	check(sd_bus_send(sd_bus_message_get_bus(message_), message_, nullptr), "Could not send message");
}

std::string Message::signature() const
{
	const char *signature = message_ ? sd_bus_message_get_signature(message_, 1) : nullptr;
	return signature ? signature : "";
}

// The failure texts below name the type, so they are only built when a call
// fails: every argument of every message passes through here.
void Message::appendBasic(char type, const void *value)
{
	const int r = sd_bus_message_append_basic(message_, type, value);
	if (r < 0)
		check(r, ("Could not append " + typeText(type)).c_str());
}

void Message::openContainer(char type, const std::string &contents)
{
	const int r = sd_bus_message_open_container(message_, type, contents.c_str());
	if (r < 0)
		check(r, ("Could not open container " + typeText(type, contents)).c_str());
}

void Message::closeContainer()
{
	check(sd_bus_message_close_container(message_), "Could not close container");
}

bool Message::readBasic(char type, void *value)
{
	const int r = sd_bus_message_read_basic(message_, type, value);
	if (r < 0)
		check(r, ("Could not read argument of type " + typeText(type)).c_str());
	return r > 0;
}

void Message::requireBasic(char type, void *value)
{
	if (!readBasic(type, value))
		throw Error(SD_BUS_ERROR_INVALID_ARGS, "Missing argument of type " + typeText(type));
}

bool Message::enterContainer(char type, const std::string &contents)
{
	const int r = sd_bus_message_enter_container(message_, type, contents.c_str());
	if (r < 0)
		check(r, ("Could not read container " + typeText(type, contents)).c_str());
	return r > 0;
}

void Message::requireContainer(char type, const std::string &contents)
{
	if (!enterContainer(type, contents))
		throw Error(SD_BUS_ERROR_INVALID_ARGS,
		            "Missing argument of type " + typeText(type, contents));
}

void Message::requireArray(char type, const void **data, size_t *size)
{
	if (sd_bus_message_read_array(message_, type, data, size) > 0)
		return;
	// Nothing was taken: the element by element path raises the error it
	// always raised.
	const char element[2] = {type, '\0'};
	requireContainer('a', element);
	throw Error(SD_BUS_ERROR_INVALID_ARGS, "Could not read array " + typeText('a', element));
}

void Message::exitContainer()
{
	check(sd_bus_message_exit_container(message_), "Could not leave container");
}

char Message::peekType(std::string *contents)
{
	char type = 0;
	const char *inside = nullptr;
	const int r =
	    check(sd_bus_message_peek_type(message_, &type, &inside), "Could not peek at the next argument");
	if (contents)
		*contents = inside ? inside : "";
	return r > 0 ? type : 0;
}

void Message::skip(const std::string &types)
{
	check(sd_bus_message_skip(message_, types.empty() ? nullptr : types.c_str()),
	      "Could not skip argument");
}

void Message::rewind()
{
	check(sd_bus_message_rewind(message_, 1), "Could not rewind message");
}

} // namespace kalun::sdbus
