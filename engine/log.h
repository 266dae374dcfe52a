#pragma once

#include <cstdio>
#include <string>

// Everything the engine says goes through here: the manager reads the output live, so each line is
// flushed as soon as it is complete.
class Logger
{
public:
    // A null out gives a logger that drops everything.
    explicit Logger(std::FILE* out);

    void line(const std::string& message);
    void fatal(const std::string& message);

    // Pre-formatted text, written as one block; for large amounts of output where a flush per line
    // would dominate.
    void raw(const char* data, std::size_t size);
    void flush();

    static std::string timestamp();

    // The last error said (a fatal message, or a line starting with "Error"), without its timestamp.
    const std::string& lastError() const { return m_lastError; }

private:
    std::FILE* m_out;
    std::string m_lastError;
};
