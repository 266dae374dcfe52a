// qlumar-tunnel-hook SOCKETPATH [arguments OpenVPN appends]
//
// Run by OpenVPN as its route-up command. Hands the DNS-related part of OpenVPN's environment
// to the tunnel service over SOCKETPATH and succeeds only when the service says it handled it.
// Plain C++ on purpose: it runs as root with values a remote server chose, so it does as little
// as it can and interprets none of them.

#include "HookProtocol.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

extern char** environ;

namespace {

void appendField(std::string& out, const char* data, std::size_t length)
{
    out += std::to_string(length);
    out += ':';
    out.append(data, length);
    out += ',';
}

std::string buildReport()
{
    std::string records;
    std::size_t count = 0;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals)
            continue;
        const std::size_t nameLength = static_cast<std::size_t>(equals - *entry);
        if (!HookProtocol::isForwardedVariable(*entry, nameLength))
            continue;
        const std::size_t valueLength = std::strlen(equals + 1);
        // Too long to be a real option: OpenVPN's own lines are far shorter.
        if (valueLength > HookProtocol::maxValueLength || count == HookProtocol::maxVariables)
            continue;
        appendField(records, *entry, nameLength);
        appendField(records, equals + 1, valueLength);
        ++count;
    }
    return HookProtocol::magic + std::to_string(count) + "\n" + records;
}

bool sendAll(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one answer line, giving up at the deadline.
std::string readAnswer(int fd)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(HookProtocol::answerTimeoutSeconds);
    std::string answer;
    while (answer.find('\n') == std::string::npos && answer.size() < 64) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: qlumar-tunnel-hook SOCKETPATH [OpenVPN arguments]\n");
        return 2;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t pathLength = std::strlen(argv[1]);
    if (pathLength >= sizeof address.sun_path) {
        std::fprintf(stderr, "qlumar-tunnel-hook: socket path too long\n");
        return 2;
    }
    std::memcpy(address.sun_path, argv[1], pathLength);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("qlumar-tunnel-hook: socket");
        return 1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "qlumar-tunnel-hook: cannot reach the tunnel service at %s: %s\n", argv[1],
                     std::strerror(errno));
        ::close(fd);
        return 1;
    }
    if (!sendAll(fd, buildReport())) {
        std::perror("qlumar-tunnel-hook: send");
        ::close(fd);
        return 1;
    }
    const std::string answer = readAnswer(fd);
    ::close(fd);
    if (answer != HookProtocol::okAnswer) {
        std::fprintf(stderr, "qlumar-tunnel-hook: the tunnel service did not accept the tunnel\n");
        return 1;
    }
    return 0;
}
