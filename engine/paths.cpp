#include "paths.h"

#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

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

bool readFileText(const std::string& utf8, std::string* text)
{
    text->clear();
#ifdef _WIN32
    std::ifstream in(toNativePath(utf8), std::ios::binary);
    if (!in.is_open())
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return !in.bad();
#else
    // std::ifstream cannot open close-on-exec.
    const int fd = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
#endif
}
