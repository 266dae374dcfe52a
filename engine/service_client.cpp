#include "service_client.h"
#include "backend.h"
#include "conf_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace {

const char* const kMarker = "# [qlumar_openvpn] ";

bool readFile(const std::string& path, std::string* content, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *content = text.str();
    return true;
}

std::string base64(const std::string& data)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const unsigned a = static_cast<unsigned char>(data[i]);
        const unsigned b = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0;
        const unsigned c = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0;
        const unsigned bits = (a << 16) | (b << 8) | c;
        out += alphabet[(bits >> 18) & 63];
        out += alphabet[(bits >> 12) & 63];
        out += i + 1 < data.size() ? alphabet[(bits >> 6) & 63] : '=';
        out += i + 2 < data.size() ? alphabet[bits & 63] : '=';
        lineLength += 4;
        if (lineLength == 64) {
            out += '\n';
            lineLength = 0;
        }
    }
    if (lineLength != 0)
        out += '\n';
    return out;
}

bool isFileDirective(const std::string& keyword)
{
    for (const char* name : {"ca", "cert", "key", "pkcs12", "tls-auth", "tls-crypt", "tls-crypt-v2", "dh",
                             "extra-certs", "secret", "crl-verify", "http-proxy-user-pass"}) {
        if (keyword == name)
            return true;
    }
    return false;
}

} // namespace

bool inlineProfileFiles(const std::string& translated, std::string* out, std::string* error)
{
    std::istringstream in(translated);
    std::string line;
    std::string text;
    std::string blocks;
    std::string block;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::vector<std::string> words = splitWords(line, WordRules::OpenVpn);
        if (!block.empty()) {
            const auto start = line.find_first_not_of(" \t\r");
            if (start != std::string::npos &&
                line.compare(start, block.size() + 3, "</" + block + ">") == 0) {
                block.clear();
            }
        } else if (words.size() == 1 && words[0].size() > 2 && words[0].front() == '<' &&
                   words[0].back() == '>') {
            block = words[0].substr(1, words[0].size() - 2);
        } else if (!words.empty()) {
            std::string keyword = words[0];
            if (keyword.compare(0, 2, "--") == 0)
                keyword.erase(0, 2);
            const bool credentialsFile = keyword == "auth-user-pass" && words.size() > 1;
            if ((isFileDirective(keyword) || credentialsFile) && words.size() > 1) {
                const std::string where = "line " + std::to_string(number) + ": ";
                if (keyword == "crl-verify" && words.size() > 2) {
                    *error = where + "a CRL directory cannot be handed to the tunnel service";
                    return false;
                }
                std::string content;
                if (!readFile(words[1], &content, error)) {
                    *error = where + *error;
                    return false;
                }
                if (keyword == "pkcs12") {
                    content = base64(content);
                } else if (!content.empty() && content.back() != '\n') {
                    content += '\n';
                }
                blocks += "<" + keyword + ">\n" + content + "</" + keyword + ">\n";
                if ((keyword == "tls-auth" || keyword == "secret") && words.size() > 2)
                    blocks += "key-direction " + words[2] + "\n";
                line = kMarker + line;
            }
        }
        text += line;
        text += '\n';
    }
    *out = text + blocks;
    return true;
}

#ifndef __linux__

std::unique_ptr<Backend> makeServiceBackend()
{
    return makeOpenVpnBackend("openvpn");
}

#else

#include "channel.h"
#include "credentials.h"
#include "management.h"
#include "openvpn_conf.h"
#include "stop_signal.h"
#include "token_signer.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace {

const char* const kService = "example.qlumar.Velkoro.Tunnel";
const char* const kPath = "/example/qlumar/Velkoro/Tunnel";
const char* const kInterface = "example.qlumar.Velkoro.Tunnel1";
const char* const kInstallHint =
    "install the qlumar-velkoro package, which brings it (Debian: apt-get install ./qlumar-velkoro_*.deb)";

// Polkit may ask the user for a password before the service answers.
constexpr std::uint64_t kStartTimeoutUs = 5ull * 60 * 1000 * 1000;
constexpr std::chrono::seconds kStopGrace{15};

struct Bus
{
    sd_bus* bus = nullptr;
    ~Bus() { sd_bus_flush_close_unref(bus); }
};

struct Slot
{
    sd_bus_slot* slot = nullptr;
    ~Slot() { sd_bus_slot_unref(slot); }
};

struct State
{
    std::string id;
    bool finished = false;
    int status = 0;
    bool serviceGone = false;
    // Finished may be read in the same pass over the bus as Start's reply, before the id is known.
    std::vector<std::pair<std::string, int>> finishedBeforeId;
};

int onFinished(sd_bus_message* message, void* data, sd_bus_error*)
{
    auto* state = static_cast<State*>(data);
    const char* id = nullptr;
    int status = 0;
    if (sd_bus_message_read(message, "si", &id, &status) < 0 || !id)
        return 0;
    if (state->id.empty()) {
        state->finishedBeforeId.emplace_back(id, status);
    } else if (state->id == id) {
        state->finished = true;
        state->status = status;
    }
    return 0;
}

int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*)
{
    auto* state = static_cast<State*>(data);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 && name &&
        std::strcmp(name, kService) == 0 && newOwner && !*newOwner) {
        state->serviceGone = true;
    }
    return 0;
}

struct StartReply
{
    bool done = false;
    std::string errorName;
    std::string errorMessage;
    std::string id;
    std::string socket;
};

int onStartReply(sd_bus_message* message, void* data, sd_bus_error*)
{
    auto* reply = static_cast<StartReply*>(data);
    reply->done = true;
    if (sd_bus_message_is_method_error(message, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(message);
        reply->errorName = error && error->name ? error->name : "unknown";
        reply->errorMessage = error && error->message ? error->message : reply->errorName;
        return 0;
    }
    const char* id = nullptr;
    const char* socket = nullptr;
    if (sd_bus_message_read(message, "ss", &id, &socket) < 0 || !id || !socket) {
        reply->errorName = "invalid";
        reply->errorMessage = "an answer the engine does not understand";
        return 0;
    }
    reply->id = id;
    reply->socket = socket;
    return 0;
}

// How long poll() may wait before sd-bus has something to do (a call's timeout); -1: no limit.
int busTimeoutMs(Bus& bus)
{
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus.bus, &until) <= 0 || until == UINT64_MAX)
        return -1;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUs =
        static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    return until <= nowUs ? 0 : static_cast<int>(std::min<std::uint64_t>((until - nowUs) / 1000 + 1, 60000));
}

int connectUnix(const std::string& path, std::string* error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // The service answers once the socket exists; OpenVPN listens on it right after making it.
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        const int failure = errno;
        ::close(fd);
        if (failure != ECONNREFUSED && failure != ENOENT) {
            errno = failure;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *error = "cannot connect to " + path + ": " + std::strerror(errno);
    return -1;
}

bool sendAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

class ServiceBackend : public Backend
{
public:
    int run(const Options& options, const Conf& conf, Logger& log) override
    {
        const bool token = options.credentials == CredentialKind::TokenPin;
        if (token && !openToken(options, conf, log))
            return 1;
        std::ifstream in(conf.path, std::ios::binary);
        std::ostringstream original;
        original << in.rdbuf();
        const OpenVpnConf translated = translateConf(original.str(), conf.path, options.credentials);
        for (const std::string& warning : translated.warnings)
            log.line(warning);
        std::string config;
        std::string error;
        if (!inlineProfileFiles(translated.text, &config, &error)) {
            log.fatal("Error: " + conf.path + ": " + error);
            return 1;
        }
        // What the manager asked for on the command line goes last, as it would on OpenVPN's.
        config += "dev " + options.device + "\nfloat\npull\ntls-client\n";
        // A refused username or password is asked again in the same run, as a dynamic challenge must be.
        if (asksUserPassword(conf))
            config += "auth-retry interact\n";
        if (token) {
            // The token key stays here: OpenVPN asks the engine for the certificate and each signature.
            config += "management-external-key pkcs1 pss\nmanagement-external-cert token\n";
        }
        std::string extra;
        for (const std::string& arg : options.extra) {
            if (arg.compare(0, 2, "--") == 0) {
                config += extra.empty() ? "" : extra + "\n";
                extra = arg.substr(2);
            } else {
                extra += " " + arg;
            }
        }
        if (!extra.empty())
            config += extra + "\n";

        Bus bus;
        int result = sd_bus_open_system(&bus.bus);
        if (result < 0) {
            log.fatal("Error: cannot reach the system bus (" + std::string(std::strerror(-result)) +
                      "), which the qLumar tunnel service needs");
            return 1;
        }
        State state;
        Slot finishedSlot;
        Slot ownerSlot;
        result = sd_bus_match_signal(bus.bus, &finishedSlot.slot, nullptr, kPath, kInterface, "Finished",
                                     onFinished, &state);
        if (result >= 0) {
            result =
                sd_bus_match_signal(bus.bus, &ownerSlot.slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameOwnerChanged", onOwnerChanged, &state);
        }
        if (result < 0) {
            log.fatal("Error: cannot listen to the system bus: " + std::string(std::strerror(-result)));
            return 1;
        }

        log.line("Asking the qLumar tunnel service to run OpenVPN");
        sd_bus_message* call = nullptr;
        result = sd_bus_message_new_method_call(bus.bus, &call, kService, kPath, kInterface, "Start");
        if (result >= 0)
            result = sd_bus_message_append(call, "sh", config.c_str(), STDOUT_FILENO);
        StartReply started;
        Slot startSlot;
        if (result >= 0) {
            result =
                sd_bus_call_async(bus.bus, &startSlot.slot, call, onStartReply, &started, kStartTimeoutUs);
        }
        sd_bus_message_unref(call);
        if (result < 0) {
            log.fatal("Error: cannot ask the tunnel service: " + std::string(std::strerror(-result)));
            return 1;
        }
        // Polkit may take a while to decide. A stop request meanwhile ends the engine; the service
        // starts nothing for a client that has left the bus.
        while (!started.done) {
            while ((result = sd_bus_process(bus.bus, nullptr)) > 0) {
            }
            if (result < 0) {
                log.fatal("Error: lost the system bus: " + std::string(std::strerror(-result)));
                return 1;
            }
            if (started.done)
                break;
            sd_bus_flush(bus.bus);
            pollfd fds[2] = {{StopSignal::pollFd(), POLLIN, 0},
                             {sd_bus_get_fd(bus.bus), static_cast<short>(sd_bus_get_events(bus.bus)), 0}};
            if (::poll(fds, 2, busTimeoutMs(bus)) < 0 && errno != EINTR) {
                log.fatal("Error: poll failed: " + std::string(std::strerror(errno)));
                return 1;
            }
            if (fds[0].revents & POLLIN) {
                log.line(StopSignal::received() + "[hard,] received, process exiting");
                return 0;
            }
        }
        if (!started.errorName.empty()) {
            if (started.errorName == SD_BUS_ERROR_SERVICE_UNKNOWN ||
                started.errorName == SD_BUS_ERROR_NAME_HAS_NO_OWNER) {
                log.fatal(std::string("Error: the qLumar tunnel service is not installed; ") + kInstallHint);
            } else {
                log.fatal("Error: the tunnel service refused to start OpenVPN: " + started.errorMessage);
            }
            return 1;
        }
        state.id = started.id;
        for (const auto& [id, status] : state.finishedBeforeId) {
            if (id == state.id) {
                state.finished = true;
                state.status = status;
            }
        }
        state.finishedBeforeId.clear();
        const std::string socket = started.socket;
        log.line("OpenVPN started by the tunnel service, connection " + state.id);

        int fd = -1;
        if (!socket.empty()) {
            fd = connectUnix(socket, &error);
            if (fd < 0) {
                log.line("Error: " + error);
                stopConnection(bus, state);
            } else if (m_signer && !sendAll(fd, "version 3\n")) {
                // From version 2 on OpenVPN says which signature it wants (PSS for TLS 1.3).
                log.line("Error: cannot talk to OpenVPN's management interface");
                stopConnection(bus, state);
            }
        }
        Management management(options.credentials, std::string(), options.secret, {});
        if (Channel::isOpen()) {
            management.reportEvents(kBytecountSeconds);
            management.askUser(true);
        }
        return supervise(bus, state, fd, management, log);
    }

private:
    bool openToken(const Options& options, const Conf& conf, Logger& log)
    {
        if (conf.key.empty()) {
            log.fatal("Error: --engkey given but " + conf.path + " names no private key (key \"NAME\")");
            return false;
        }
        std::vector<std::string> certificates;
        if (!findTokenCertificates(conf.key, &certificates, log))
            return false;
        if (!certificates.empty()) {
            m_certificate = certificates.front();
        } else if (!conf.cert.empty()) {
            // OpenVPN takes the certificate from the engine, so it need not be on the token: the
            // profile's own copy serves.
            m_certificate = certificateDer(conf.cert);
            if (m_certificate.empty()) {
                log.fatal("Error: cannot read the certificate " + conf.cert + " (PEM or DER)");
                return false;
            }
            log.line("PKCS#11: no certificate of key '" + conf.key + "' in the token; using " + conf.cert);
        } else {
            log.fatal("Error: Cannot find private key '" + conf.key +
                      "' in the token: its certificate must be in the token under the same label or ID, "
                      "or in the profile's cert file");
            return false;
        }
        m_signer = std::make_unique<TokenSigner>();
        return m_signer->open(conf.key, options.secret, log) == KeyCheck::Ok;
    }

    // The external key's requests, which the password handling does not know: the certificate and
    // signatures made with the token.
    std::string externalKeyReplies(const std::string& data, Logger& log, bool* failed)
    {
        std::string replies;
        m_lines += data;
        std::string::size_type end;
        while ((end = m_lines.find('\n')) != std::string::npos) {
            std::string line = m_lines.substr(0, end);
            m_lines.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!m_signer)
                continue;
            if (line.compare(0, 18, ">NEED-CERTIFICATE:") == 0) {
                replies += "certificate\n-----BEGIN CERTIFICATE-----\n" + base64(m_certificate) +
                           "-----END CERTIFICATE-----\nEND\n";
            } else if (line.compare(0, 9, ">PK_SIGN:") == 0) {
                const std::string request = line.substr(9);
                const auto comma = request.find(',');
                const std::string algorithm =
                    comma == std::string::npos ? "RSA_PKCS1_PADDING" : request.substr(comma + 1);
                std::string signature;
                std::string error;
                if (!m_signer->sign(decodeBase64(request.substr(0, comma)), algorithm, &signature, &error)) {
                    log.line("Error: the token could not sign for OpenVPN: " + error);
                    *failed = true;
                    continue;
                }
                replies += "pk-sig\n" + base64(signature) + "END\n";
            }
        }
        return replies;
    }

    static void stopConnection(Bus& bus, State& state)
    {
        sd_bus_call_method_async(bus.bus, nullptr, kService, kPath, kInterface, "Stop", nullptr, nullptr, "s",
                                 state.id.c_str());
    }

    int supervise(Bus& bus, State& state, int fd, Management& management, Logger& log)
    {
        bool stopping = false;
        bool fatal = false;
        auto giveUpAt = std::chrono::steady_clock::time_point::max();
        const auto stop = [&](const char* signal) {
            if (stopping)
                return;
            stopping = true;
            giveUpAt = std::chrono::steady_clock::now() + kStopGrace;
            // Over the management interface OpenVPN says goodbye the way it does to a signal.
            if (fd < 0 || !sendAll(fd, std::string("signal ") + signal + "\n"))
                stopConnection(bus, state);
        };

        for (;;) {
            int result;
            while ((result = sd_bus_process(bus.bus, nullptr)) > 0) {
            }
            if (result < 0) {
                log.line("Error: lost the system bus: " + std::string(std::strerror(-result)));
                ::close(fd);
                return 1;
            }
            if (state.finished)
                break;
            if (state.serviceGone) {
                // OpenVPN may outlive a service that crashed; it still listens to the engine.
                if (!fatal) {
                    log.line("Error: the tunnel service ended");
                    fatal = true;
                }
                if (fd < 0) {
                    break; // OpenVPN closed its interface on its way out
                }
                stop("SIGTERM");
            }
            if (std::chrono::steady_clock::now() > giveUpAt) {
                log.line("Error: the tunnel service did not stop OpenVPN in time");
                fatal = true;
                break;
            }

            pollfd fds[3] = {{StopSignal::pollFd(), POLLIN, 0},
                             {sd_bus_get_fd(bus.bus), static_cast<short>(sd_bus_get_events(bus.bus)), 0},
                             {fd, POLLIN, 0}};
            int timeoutMs = busTimeoutMs(bus);
            if (stopping && (timeoutMs < 0 || timeoutMs > 200))
                timeoutMs = 200;
            sd_bus_flush(bus.bus);
            if (::poll(fds, 3, timeoutMs) < 0 && errno != EINTR) {
                log.line("Error: poll failed: " + std::string(std::strerror(errno)));
                stop("SIGTERM");
            }
            if (fds[0].revents & POLLIN)
                stop(StopSignal::received() == "SIGINT" ? "SIGINT" : "SIGTERM");
            if (fd >= 0 && fds[2].revents) {
                char buffer[4096];
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    // OpenVPN closes the interface on its way out; Finished follows.
                    ::close(fd);
                    fd = -1;
                    continue;
                }
                const std::string data(buffer, static_cast<std::size_t>(got));
                management.feed(data);
                Channel::forward(management.takeEvents());
                for (const std::string& note : management.takeNotes())
                    log.line(note);
                std::string signal;
                if (!Channel::answerUser(management, &signal))
                    stop(signal == "SIGINT" ? "SIGINT" : "SIGTERM");
                bool signFailed = false;
                const std::string answer =
                    management.takeReply() + externalKeyReplies(data, log, &signFailed);
                if (signFailed && !fatal) {
                    fatal = true;
                    stop("SIGTERM");
                }
                if (!answer.empty() && !sendAll(fd, answer)) {
                    ::close(fd);
                    fd = -1;
                }
                if (!fatal && management.wrongSecret()) {
                    log.line(kWrongSecretMessage);
                    fatal = true;
                    stop("SIGTERM");
                } else if (!fatal && !management.failure().empty()) {
                    log.line(management.failure());
                    fatal = true;
                    stop("SIGTERM");
                }
            }
        }
        if (fd >= 0)
            ::close(fd);
        if (fatal) {
            log.line("Exiting due to fatal error");
            return 1;
        }
        if (state.status > 128)
            log.line("OpenVPN was ended by signal " + std::to_string(state.status - 128));
        return state.status;
    }

    std::unique_ptr<TokenSigner> m_signer;
    std::string m_certificate; // DER
    std::string m_lines;
};

} // namespace

std::unique_ptr<Backend> makeServiceBackend()
{
    return std::make_unique<ServiceBackend>();
}

#endif
