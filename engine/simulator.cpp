#include "backend.h"
#include "channel.h"
#include "conf_text.h"
#include "credentials.h"
#include "env.h"
#include "management.h"
#include "paths.h"
#include "stop_signal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

// Where QLUMAR_ENGINE_CRASH aborts the process.
enum class CrashPoint {
    None,
    Start,      // before the file and credential checks
    Connecting, // after the peer connection, before the tunnel is up
    Connected,  // right after the tunnel is up
};

struct Settings
{
    long long connectDelayMs = 300;
    long long floodLines = 0;
    long long exitAfterMs = -1;
    long long exitCode = 0;
    long long bytecountMs = 2000;
    std::vector<std::string> asks; // input the "server" wants before the tunnel comes up
    std::string openUrl;
    CrashPoint crash = CrashPoint::None;
};

bool readSettings(Settings* settings, std::string* error)
{
    if (!envNumber("QLUMAR_ENGINE_CONNECT_DELAY_MS", 300, &settings->connectDelayMs, error) ||
        !envNumber("QLUMAR_ENGINE_FLOOD_LINES", 0, &settings->floodLines, error) ||
        !envNumber("QLUMAR_ENGINE_EXIT_AFTER_MS", -1, &settings->exitAfterMs, error) ||
        !envNumber("QLUMAR_ENGINE_EXIT_CODE", 0, &settings->exitCode, error) ||
        !envNumber("QLUMAR_ENGINE_BYTECOUNT_MS", 2000, &settings->bytecountMs, error)) {
        return false;
    }
    if (const auto asks = envValue("QLUMAR_ENGINE_ASK")) {
        std::string::size_type start = 0;
        while (start <= asks->size()) {
            const auto end = std::min(asks->find(',', start), asks->size());
            const std::string kind = asks->substr(start, end - start);
            if (kind != "username" && kind != "otp") {
                *error = "Invalid value for QLUMAR_ENGINE_ASK: '" + kind + "' (expected username or otp)";
                return false;
            }
            settings->asks.push_back(kind);
            start = end + 1;
        }
    }
    settings->openUrl = envValue("QLUMAR_ENGINE_OPEN_URL").value_or(std::string());
    if (settings->exitCode > 255) {
        *error = "Invalid value for QLUMAR_ENGINE_EXIT_CODE: must be 0 to 255";
        return false;
    }
    const auto crash = envValue("QLUMAR_ENGINE_CRASH");
    if (!crash) {
        settings->crash = CrashPoint::None;
    } else if (*crash == "start") {
        settings->crash = CrashPoint::Start;
    } else if (*crash == "connecting") {
        settings->crash = CrashPoint::Connecting;
    } else if (*crash == "connected" || *crash == "1") {
        settings->crash = CrashPoint::Connected;
    } else {
        *error = "Invalid value for QLUMAR_ENGINE_CRASH: '" + *crash +
                 "' (expected start, connecting, connected or 1)";
        return false;
    }
    return true;
}

void crashIfAt(CrashPoint point, const Settings& settings, Logger& log, const char* name)
{
    if (settings.crash == point) {
        log.line(std::string("QLUMAR_ENGINE_CRASH=") + name + ": aborting");
        std::abort();
    }
}

bool checkFile(const std::string& what, const std::string& path, Logger& log)
{
    if (isRegularFile(path))
        return true;
    const char* reason = pathExists(path) ? "not a regular file" : "no such file";
    log.fatal("Error: cannot load " + what + " file '" + path + "': " + reason);
    return false;
}

// Realistic-looking traffic for benchmarks of the manager's output handling. Lines go out in large
// blocks so that what gets measured is the manager's reading, not the engine's writing.
void flood(long long lines, const std::string& peer, Logger& log)
{
    // Whole lines per write, as OpenVPN writes them, and no more than a pipe takes in one piece:
    // a reader then never gets part of a line.
    constexpr std::size_t kWriteMax = 4096;
    const std::string stamp = Logger::timestamp();
    std::vector<char> block;
    block.reserve(kWriteMax);
    char line[512];
    for (long long i = 0; i < lines; ++i) {
        std::size_t size = static_cast<std::size_t>(std::snprintf(
            line, sizeof line, "%s Data Channel: packet %09lld from %s, 1420 bytes, AES-256-GCM\n",
            stamp.c_str(), i + 1, peer.c_str()));
        if (size >= sizeof line) {
            // An absurdly long host name: cut the line, but keep it a line.
            size = sizeof line - 1;
            line[size - 1] = '\n';
        }
        if (block.size() + size > kWriteMax) {
            log.raw(block.data(), block.size());
            log.flush();
            block.clear();
        }
        block.insert(block.end(), line, line + size);
    }
    log.raw(block.data(), block.size());
    log.flush();
}

int stopped(const std::string& signal, bool tunnelOpen, Logger& log)
{
    Channel::state("exiting", signal);
    if (tunnelOpen)
        log.line("Closing TUN/TAP interface");
    log.line(signal + "[hard,] received, process exiting");
    return 0;
}

class Simulator : public Backend
{
public:
    int run(const Options& options, const Conf& conf, Logger& log) override
    {
        Settings settings;
        std::string error;
        if (!readSettings(&settings, &error)) {
            log.fatal(error);
            return 1;
        }
        crashIfAt(CrashPoint::Start, settings, log, "start");

        if (const int code = checkCredentials(options, conf, log))
            return code;

        const std::string peer = "[AF_INET]" + conf.remote + ":" + std::to_string(conf.port);
        const std::string server = conf.remote + ":" + std::to_string(conf.port);
        Channel::state("connecting");
        log.line("Resolving remote host " + conf.remote);
        // RFC 6761 keeps .invalid from ever resolving: a server that cannot be reached, without a network.
        if (endsWith(conf.remote, ".invalid")) {
            log.fatal("RESOLVE: Cannot resolve host address: " + server + " (Name or service not known)");
            return 1;
        }
        log.line("TCP/UDP: Preparing socket to " + server);
        log.line("UDP link remote: " + peer);
        // A web login is waited for while the handshake goes on.
        if (!settings.openUrl.empty()) {
            log.line("Web authentication: opening " + settings.openUrl);
            Channel::openUrl(settings.openUrl);
        }
        // Half the delay before the handshake and half after, as with a real server round trip.
        const milliseconds half(settings.connectDelayMs / 2);
        std::string signal = StopSignal::wait(half);
        if (!signal.empty())
            return stopped(signal, false, log);
        log.line("TLS: Initial packet from " + peer);
        log.line("Peer Connection Initiated with " + peer);
        crashIfAt(CrashPoint::Connecting, settings, log, "connecting");
        if (const int code = serverDialogue(settings, log, &signal))
            return code;
        if (!signal.empty())
            return stopped(signal, false, log);
        if (const int code = signIn(conf, log, &signal))
            return code;
        if (!signal.empty())
            return stopped(signal, false, log);
        signal = StopSignal::wait(milliseconds(settings.connectDelayMs) - half);
        if (!signal.empty())
            return stopped(signal, false, log);
        log.line("TUN/TAP device tun0 opened");
        if (settings.floodLines > 0)
            flood(settings.floodLines, peer, log);
        log.line("net_addr_v4_add: " + std::string(kTunnelAddress) + "/24 dev tun0");
        Channel::state("connected", kTunnelAddress);
        log.line("Initialization Sequence Completed");
        crashIfAt(CrashPoint::Connected, settings, log, "connected");

        signal = stayUp(settings);
        if (!signal.empty())
            return stopped(signal, true, log);
        log.line("Connection closed by peer " + peer + " (QLUMAR_ENGINE_EXIT_AFTER_MS)");
        log.line("Closing TUN/TAP interface");
        log.line("process exiting with code " + std::to_string(settings.exitCode));
        return static_cast<int>(settings.exitCode);
    }

private:
    static constexpr const char* kTunnelAddress = "10.8.0.6";

    static bool endsWith(const std::string& text, const std::string& end)
    {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    // What a server with a second factor or web login asks before the tunnel comes up; answered over
    // the manager channel only.
    static int serverDialogue(const Settings& settings, Logger& log, std::string* signal)
    {
        for (const std::string& kind : settings.asks) {
            const bool username = kind == "username";
            const auto answer = Channel::ask(
                kind, username ? "Username:" : "Enter the one-time code from your authenticator app", signal);
            if (!signal->empty())
                return 0;
            if (!answer || answer->empty()) {
                log.line(username ? "No username given" : "No one-time code given");
                log.fatal("AUTH: Received control message: AUTH_FAILED");
                return 1;
            }
            if (username)
                log.line("Authenticating as " + *answer);
        }
        return 0;
    }

    // A server that checks a username and password ("auth-user-pass"), with the profile's static
    // challenge if it has one, asked through the same management dialogue a real OpenVPN holds.
    // QLUMAR_ENGINE_LOGIN=USER:PASSWORD is the only login it takes (any non-empty one without it).
    static int signIn(const Conf& conf, Logger& log, std::string* signal)
    {
        // Without a manager to ask, the login is taken as given, as the simulator always did.
        if (!asksUserPassword(conf) || !Channel::isOpen())
            return 0;
        std::string request = ">PASSWORD:Need 'Auth' username/password";
        bool challenge = false;
        for (const Directive& directive : conf.directives) {
            if (directive.keyword == "static-challenge" && !directive.params.empty()) {
                const bool echo = directive.params.size() > 1 && directive.params[1] == "1";
                request += " SC:" + std::string(echo ? "1" : "0") + "," + directive.params[0];
                challenge = true;
            }
        }
        const std::string expected = envValue("QLUMAR_ENGINE_LOGIN").value_or(std::string());
        Management management(CredentialKind::Pkcs12Password, std::string(), std::string(), {});
        management.askUser(Channel::isOpen());
        management.feed(request + "\n");
        for (;;) {
            if (!Channel::answerUser(management, signal))
                return 0;
            if (!management.failure().empty()) {
                log.line(management.failure());
                log.fatal("AUTH: Received control message: AUTH_FAILED");
                return 1;
            }
            // username "Auth" "USER" and password "Auth" "PASSWORD", as OpenVPN would read them.
            std::string username;
            std::string password;
            for (const std::string& line : confLines(management.takeReply())) {
                const std::vector<std::string> words = splitWords(line, WordRules::OpenVpn);
                if (words.size() == 3 && words[0] == "username")
                    username = words[2];
                if (words.size() == 3 && words[0] == "password")
                    password = words[2];
            }
            // With a static challenge the password arrives as SCRV1:BASE64(PASSWORD):BASE64(CODE).
            const auto colon = expected.find(':');
            const std::string wanted =
                colon == std::string::npos ? std::string() : expected.substr(colon + 1);
            const std::string challenged = "SCRV1:" + encodeBase64(wanted) + ":";
            const bool passwordRight = challenge ? password.compare(0, challenged.size(), challenged) == 0 &&
                                                       password.size() > challenged.size()
                                                 : password == wanted;
            const bool right = expected.empty() ? !username.empty() && !password.empty()
                                                : username == expected.substr(0, colon) && passwordRight;
            if (right) {
                log.line("Authenticating as " + username);
                return 0;
            }
            log.line("AUTH: Received control message: AUTH_FAILED");
            management.feed(">PASSWORD:Verification Failed: 'Auth'\n" + request + "\n");
        }
    }

    // Up until a stop signal (its name returned) or QLUMAR_ENGINE_EXIT_AFTER_MS (empty returned), with
    // plausible traffic figures for the manager every QLUMAR_ENGINE_BYTECOUNT_MS.
    static std::string stayUp(const Settings& settings)
    {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + milliseconds(settings.exitAfterMs);
        unsigned long long in = 5312;
        unsigned long long out = 3148;
        for (unsigned long long tick = 1;; ++tick) {
            Channel::bytes(in, out);
            milliseconds wait =
                settings.bytecountMs > 0 ? milliseconds(settings.bytecountMs) : StopSignal::kForever;
            if (settings.exitAfterMs >= 0) {
                const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
                if (left.count() <= 0) {
                    return {};
                }
                if (wait.count() < 0 || left < wait)
                    wait = left;
            }
            const std::string signal = StopSignal::wait(wait);
            if (!signal.empty())
                return signal;
            in += 40000 + (tick * 7919) % 90000;
            out += 4000 + (tick * 104729) % 12000;
        }
    }

    static int checkCredentials(const Options& options, const Conf& conf, Logger& log)
    {
        if (!conf.ca.empty() && !checkFile("CA certificate", conf.ca, log))
            return 1;
        if (!conf.cert.empty() && !checkFile("certificate", conf.cert, log))
            return 1;
        if (!conf.pkcs12.empty() && !checkFile("PKCS#12", conf.pkcs12, log))
            return 1;

        KeyCheck result = KeyCheck::Failed;
        if (options.credentials == CredentialKind::Pkcs12Password) {
            // A profile that signs in with a username and password alone has no key to unlock.
            if (conf.pkcs12.empty() && asksUserPassword(conf) && conf.cert.empty())
                return 0;
            if (conf.pkcs12.empty()) {
                log.fatal("Error: --keypass given but " + conf.path + " names no pkcs12 file");
                return 1;
            }
            result = checkPkcs12(conf.pkcs12, options.secret, log);
        } else {
            if (conf.key.empty()) {
                log.fatal("Error: --engkey given but " + conf.path + " names no private key (key \"NAME\")");
                return 1;
            }
            result = checkTokenKey(conf.key, options.secret, log);
        }
        return result == KeyCheck::Ok ? 0 : 1;
    }
};

} // namespace

std::unique_ptr<Backend> makeSimulatorBackend()
{
    return std::make_unique<Simulator>();
}
