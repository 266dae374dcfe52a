#include "log.h"

#include <ctime>

Logger::Logger(std::FILE* out) : m_out(out) {}

std::string Logger::timestamp()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

void Logger::line(const std::string& message)
{
    if (message.compare(0, 5, "Error") == 0 || message.compare(0, 13, "Options error") == 0)
        m_lastError = message;
    std::string text = timestamp();
    text += ' ';
    text += message;
    text += '\n';
    raw(text.data(), text.size());
    flush();
}

void Logger::fatal(const std::string& message)
{
    line(message);
    m_lastError = message;
    line("Exiting due to fatal error");
}

void Logger::raw(const char* data, std::size_t size)
{
    if (m_out)
        std::fwrite(data, 1, size, m_out);
}

void Logger::flush()
{
    if (m_out)
        std::fflush(m_out);
}
