#include "env.h"

#include <cstdlib>

std::optional<std::string> envValue(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

bool envNumber(const char* name, long long fallback, long long* value, std::string* error)
{
    const auto text = envValue(name);
    if (!text) {
        *value = fallback;
        return true;
    }
    if (text->size() > 12 || text->find_first_not_of("0123456789") != std::string::npos) {
        *error = std::string("Invalid value for ") + name + ": '" + *text + "' (expected a whole number)";
        return false;
    }
    *value = std::stoll(*text);
    return true;
}
