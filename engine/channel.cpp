#include "channel.h"

#include "channel_protocol.h"
#include "env.h"
#include "management.h"

#ifndef _WIN32
#include "stop_signal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Channel {

namespace {

int channelFd = -1;
bool failureSent = false;
long requestCount = 0;
ChannelProtocol::Reader reader;

void closeChannel()
{
#ifndef _WIN32
    if (channelFd >= 0)
        ::close(channelFd);
#endif
    channelFd = -1;
}

void send(const std::vector<std::string>& fields)
{
#ifndef _WIN32
    if (channelFd < 0)
        return;
    const std::string line = ChannelProtocol::encode(fields);
    std::size_t sent = 0;
    while (sent < line.size()) {
        // MSG_NOSIGNAL: a manager that went away must not kill the engine with SIGPIPE.
        const ssize_t written = ::send(channelFd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A manager that stopped listening, or one that reads nothing for seconds: the log still
            // tells everything.
            closeChannel();
            return;
        }
        sent += static_cast<std::size_t>(written);
    }
#else
    (void)fields;
#endif
}

} // namespace

void open(Logger& log)
{
#ifndef _WIN32
    const auto path = envValue("QLUMAR_ENGINE_CHANNEL");
    if (!path || channelFd >= 0)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path->size() >= sizeof address.sun_path) {
        log.line("WARNING: manager channel not used: its path is too long");
        return;
    }
    std::memcpy(address.sun_path, path->c_str(), path->size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        log.line("WARNING: manager channel not used: " + std::string(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    // Events are small and the manager reads them at once; one stalled for this long is not reading.
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    channelFd = fd;
    send({"hello", std::to_string(ChannelProtocol::kVersion), "qlumar_openvpn " QLUMAR_ENGINE_VERSION});
#else
    (void)log;
#endif
}

bool isOpen()
{
    return channelFd >= 0;
}

void state(const std::string& name, const std::string& detail)
{
    if (detail.empty()) {
        send({"state", name});
    } else {
        send({"state", name, detail});
    }
}

void bytes(unsigned long long in, unsigned long long out)
{
    send({"bytes", std::to_string(in), std::to_string(out)});
}

void failure(const std::string& code, const std::string& text)
{
    if (failureSent)
        return;
    failureSent = true;
    send({"failure", code, text});
}

void openUrl(const std::string& url)
{
    send({"url", url});
}

void forward(const std::vector<std::vector<std::string>>& events)
{
    for (const auto& event : events) {
        if (!event.empty() && (event[0] == "state" || event[0] == "bytes" || event[0] == "url"))
            send(event);
    }
}

std::optional<std::vector<std::string>> askFields(const std::string& kind, const std::string& prompt,
                                                  const std::string& flag, std::string* stopSignal)
{
#ifndef _WIN32
    if (channelFd < 0)
        return std::nullopt;
    const std::string id = std::to_string(++requestCount);
    if (flag.empty()) {
        send({"input", id, kind, prompt});
    } else {
        send({"input", id, kind, prompt, flag});
    }
    while (channelFd >= 0) {
        std::vector<std::string> fields;
        while (reader.next(&fields)) {
            if (fields.size() >= 2 && fields[1] == id) {
                if (fields[0] == "answer") {
                    fields.erase(fields.begin(), fields.begin() + 2);
                    return fields;
                }
                if (fields[0] == "cancel")
                    return std::nullopt;
            }
        }
        pollfd fds[2] = {{channelFd, POLLIN, 0}, {StopSignal::pollFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0) {
            *stopSignal = StopSignal::received();
            if (!stopSignal->empty())
                return std::nullopt;
        }
        if (fds[0].revents != 0) {
            char buffer[4096];
            const ssize_t got = ::recv(channelFd, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                closeChannel();
                break;
            }
            reader.feed(buffer, static_cast<std::size_t>(got));
        }
    }
#else
    (void)kind;
    (void)prompt;
    (void)flag;
    (void)stopSignal;
#endif
    return std::nullopt;
}

std::optional<std::string> ask(const std::string& kind, const std::string& prompt, std::string* stopSignal)
{
    const auto fields = askFields(kind, prompt, std::string(), stopSignal);
    if (!fields)
        return std::nullopt;
    return fields->empty() ? std::string() : fields->front();
}

bool answerUser(Management& management, std::string* stopSignal)
{
    using Kind = Management::UserRequest::Kind;
    while (management.userRequest().kind != Kind::None) {
        const Management::UserRequest request = management.userRequest();
        const bool login = request.kind == Kind::Login;
        const auto answer =
            login ? askFields("login", std::string(), request.rejected ? "rejected" : "", stopSignal)
                  : askFields("otp", request.prompt, request.echo ? "" : "hidden", stopSignal);
        if (!stopSignal->empty())
            return false;
        if (!answer) {
            management.declineRequest();
            return true;
        }
        if (login) {
            management.answerLogin(answer->empty() ? std::string() : (*answer)[0],
                                   answer->size() < 2 ? std::string() : (*answer)[1]);
        } else {
            management.answerCode(answer->empty() ? std::string() : (*answer)[0]);
        }
    }
    return true;
}

void finish(int exitCode, const std::string& lastError)
{
    // Without an error of its own (OpenVPN writes its errors straight into the log), the engine
    // leaves the reason to the manager's reading of the log.
    if (exitCode != 0 && !lastError.empty())
        failure(ChannelProtocol::failureCode(lastError), lastError);
    closeChannel();
}

} // namespace Channel
