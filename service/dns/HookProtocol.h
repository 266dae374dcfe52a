#pragma once

#include <cstddef>

// What qlumar-tunnel-hook sends the service, shared by both ends. The values come from a remote
// server through OpenVPN, so every field carries its length: no value can end a record early or
// add one.
//
//   "QLUMAR-TUNNEL-HOOK 1 <count>\n", then <count> times "<n>:<name>,<n>:<value>,"
//
// and the service answers "OK\n" once it has handled the report, or "ERROR\n".
namespace HookProtocol {

inline constexpr char magic[] = "QLUMAR-TUNNEL-HOOK 1 ";
inline constexpr char okAnswer[] = "OK\n";
inline constexpr char errorAnswer[] = "ERROR\n";

inline constexpr std::size_t maxVariables = 512;
inline constexpr std::size_t maxNameLength = 64;
inline constexpr std::size_t maxValueLength = 1024;
inline constexpr std::size_t maxReportSize = 256 * 1024;

// Long enough for the service to reach resolved or resolvconf and back; OpenVPN waits meanwhile.
inline constexpr int answerTimeoutSeconds = 30;

// Only what DNS needs leaves OpenVPN's environment: the device, the pushed options and the
// routes that tell whether the VPN takes the default route.
inline bool isForwardedVariable(const char* name, std::size_t length)
{
    auto startsWith = [&](const char* prefix, std::size_t prefixLength) {
        if (length < prefixLength)
            return false;
        for (std::size_t i = 0; i < prefixLength; ++i) {
            if (name[i] != prefix[i])
                return false;
        }
        return true;
    };
    auto isDigits = [&](std::size_t from) {
        if (from >= length)
            return false;
        for (std::size_t i = from; i < length; ++i) {
            if (name[i] < '0' || name[i] > '9')
                return false;
        }
        return true;
    };
    auto equals = [&](const char* word, std::size_t wordLength) {
        return length == wordLength && startsWith(word, wordLength);
    };

    if (equals("dev", 3) || equals("redirect_gateway", 16))
        return true;
    if (startsWith("foreign_option_", 15))
        return isDigits(15);
    if (startsWith("route_network_", 14))
        return isDigits(14);
    if (startsWith("route_netmask_", 14))
        return isDigits(14);
    if (startsWith("route_ipv6_network_", 19))
        return isDigits(19);
    if (startsWith("dns_", 4)) {
        for (std::size_t i = 4; i < length; ++i) {
            const char c = name[i];
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
                return false;
        }
        return length > 4;
    }
    return false;
}

} // namespace HookProtocol
