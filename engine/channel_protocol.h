#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The manager channel's wire format, without any I/O (see README "The manager channel"): one message
// a line, fields separated by tabs, backslash escapes inside a field. Shared by the engine's client and
// its fuzz target.
namespace ChannelProtocol {

inline constexpr int kVersion = 1;
// A longer line is garbage or hostile: it is skipped whole, up to its line end.
inline constexpr std::size_t kMaxLine = 4096;

// One message as a line, its line end included. Fields are cut so the line stays within kMaxLine.
std::string encode(const std::vector<std::string>& fields);

// Splits the bytes received into messages. Lines longer than kMaxLine, and empty ones, are dropped.
class Reader
{
public:
    void feed(const char* data, std::size_t size);
    // The next complete message; false when none is waiting.
    bool next(std::vector<std::string>* fields);

private:
    std::string m_line;
    bool m_skipping = false; // inside a line that grew too long
    std::vector<std::vector<std::string>> m_messages;
    std::size_t m_taken = 0;
};

// The short code that tells the manager why a connection failed, from the engine's error line:
// wrong-password, no-pkcs11-module, config-refused, server-unreachable, certificate-expired,
// auth-failed or engine-error.
std::string failureCode(const std::string& errorLine);

} // namespace ChannelProtocol
