// Named values that a client may add to a load, a job or an allocation;
// only the units give the keys a meaning.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace kalun
{

// On the buses: the variants "x", "s" and "ax".
using ParameterValue = std::variant<int64_t, std::string, std::vector<int64_t>>;
using ParameterMap = std::unordered_map<std::string, ParameterValue>;

} // namespace kalun
