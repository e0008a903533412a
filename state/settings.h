// The settings file: a small INI file with the profile-file rules (see settings.cpp).
#pragma once

#include <string>

namespace veltrace::state {

// Value of key in section of file; empty when the file, the section or the key is missing.
// Values longer than 254 characters read as their first 254.
std::string readSetting(const std::string& section, const std::string& key,
                        const std::string& file);

// Replaces (or adds) key in section, keeping every other line of the file, and replaces the file
// atomically. Returns 1 on success, 0 on failure (callers ignore it).
int writeSetting(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& file);

} // namespace veltrace::state
