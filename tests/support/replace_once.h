// Configuration texts made from others: one place changed, or nothing
// when the text no longer has it.
#pragma once

#include <string>

// Replaces the first `from` in text with `to`; false (text as it was) when
// there is none.
inline bool replace_once(std::string &text, const std::string &from, const std::string &to)
{
	size_t at = text.find(from);
	if (at == std::string::npos)
		return false;
	text.replace(at, from.size(), to);
	return true;
}
