#include "paths.h"

std::filesystem::path toNativePath(const std::string& utf8)
{
    return std::filesystem::u8path(utf8);
}

bool pathExists(const std::string& utf8)
{
    std::error_code error;
    return std::filesystem::exists(toNativePath(utf8), error);
}

bool isRegularFile(const std::string& utf8)
{
    std::error_code error;
    return std::filesystem::is_regular_file(toNativePath(utf8), error);
}
