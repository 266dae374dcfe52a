#pragma once

#include <optional>
#include <string>

// Reads an environment variable; unset and empty are the same.
std::optional<std::string> envValue(const char* name);

// Reads a non-negative whole number from the environment. A malformed value is an error rather than
// being silently ignored: these switches drive tests, and a typo should not pass as the default.
bool envNumber(const char* name, long long fallback, long long* value, std::string* error);
