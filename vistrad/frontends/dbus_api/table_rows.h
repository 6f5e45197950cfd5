#pragma once
// Compact constructors for the static interface tables of the object
// builders: one call per row, in the order the tables list them.

#include "core/param_map.h"
#include "dbus_interface.h"

namespace table_rows
{

constexpr uint32_t R = DBUS_ACCESS_READ;
constexpr uint32_t W = DBUS_ACCESS_WRITE;
constexpr uint32_t RW = DBUS_ACCESS_READ_WRITE;

// Property types: the parameter's own (P) or a fixed one.
constexpr uint32_t P = PARAM_TYPE_UNKNOWN;
constexpr uint32_t I = PARAM_TYPE_INT;
constexpr uint32_t E = PARAM_TYPE_ENUM;
constexpr uint32_t D = PARAM_TYPE_FIX;
constexpr uint32_t B = PARAM_TYPE_BOOL;
constexpr uint32_t S = PARAM_TYPE_STRING;

constexpr uint8_t DEP = 1;

constexpr dbus_interface_property prop(const char *name, uint32_t param_id, uint32_t access, uint32_t type,
                                       uint8_t deprecated = 0, dbus_property_getter_fn getter = nullptr,
                                       dbus_property_pre_set_fn pre_set = nullptr)
{
	return {name,   nullptr, nullptr, deprecated, access,  param_id, type,
	        getter, pre_set, nullptr, nullptr,    nullptr, nullptr};
}

// A property of the legacy configuration tree, with the texts its mapping
// file entry is made from.
constexpr dbus_interface_property
legacy(const char *name, uint32_t param_id, const char *legacy_type, const char *legacy_access = nullptr,
       const dbus_display_name *display_names = nullptr, uint32_t access = RW, uint32_t type = P,
       dbus_property_getter_fn getter = nullptr, dbus_property_pre_set_fn pre_set = nullptr)
{
	return {name,   nullptr, nullptr,       0,           access,  param_id,     type,
	        getter, pre_set, display_names, legacy_type, nullptr, legacy_access};
}

constexpr dbus_interface_arg in(const char *name, const char *signature)
{
	return {name, signature, DBUS_ARG_IN, nullptr, nullptr, 0};
}

constexpr dbus_interface_arg out(const char *name, const char *signature)
{
	return {name, signature, DBUS_ARG_OUT, nullptr, nullptr, 0};
}

constexpr dbus_interface_signal signal_row(const char *name, const dbus_interface_arg *arg,
                                           uint8_t deprecated = 0)
{
	return {name, arg, 1, nullptr, nullptr, deprecated, nullptr};
}

} // namespace table_rows
