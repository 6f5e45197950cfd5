#include "quorra.h"

#include <cstring>

namespace
{

const uint64_t fixed_size[QUORRA_MSG_TYPES] = {28, 8, 12, 40, 8, 12, 8, 8, 4, 16};

const uint32_t TYPE_DYNAMIC = 9;
const uint64_t HEADER_SIZE = 8;
const uint64_t DYNAMIC_ITEM_A = 24;
const uint64_t DYNAMIC_ITEM_B = 16;

uint32_t read_u32(const void *base, size_t offset)
{
	uint32_t v;

	std::memcpy(&v, static_cast<const unsigned char *>(base) + offset, sizeof(v));
	return v;
}

bool is_short_reply(const struct quorra_msg *msg)
{
	return (msg->type & 1u) && msg->status != 0;
}

} // namespace

extern "C" uint64_t get_dynamic_size(const struct quorra_msg *msg)
{
	// A short reply is the header alone: it has no counts to read.
	if (msg->type != TYPE_DYNAMIC || is_short_reply(msg))
		return 0;
	return DYNAMIC_ITEM_A * read_u32(msg, 8) + DYNAMIC_ITEM_B * read_u32(msg, 12);
}

extern "C" uint64_t get_message_size(const struct quorra_msg *msg)
{
	if (msg->type >= QUORRA_MSG_TYPES)
		return 0;
	if (is_short_reply(msg))
		return HEADER_SIZE;
	return fixed_size[msg->type] + get_dynamic_size(msg);
}

extern "C" struct quorra_msg *pack_message(struct quorra_msg *msg)
{
	return msg;
}

extern "C" struct quorra_msg *unpack_message(void *buf, uint64_t len)
{
	if (!buf || len < 4)
		return nullptr;

	uint32_t type = read_u32(buf, 0);
	if (len < HEADER_SIZE)
		/* Only the type is readable: that is a whole message for type 8. */
		return (fixed_size[8] == len && type == 8) ? static_cast<struct quorra_msg *>(buf) : nullptr;

	auto *msg = static_cast<struct quorra_msg *>(buf);
	/* An unknown type is never a message, short reply or not. */
	if (type >= QUORRA_MSG_TYPES)
		return nullptr;
	if (is_short_reply(msg) && len == HEADER_SIZE)
		return msg;
	if (type == TYPE_DYNAMIC && !is_short_reply(msg) && len < fixed_size[TYPE_DYNAMIC])
		return nullptr;
	return get_message_size(msg) == len ? msg : nullptr;
}
