#include "backend.h"

#ifndef __linux__

namespace {

class Unsupported : public Backend
{
public:
    int run(const Options&, const Conf&, Logger& log) override
    {
        log.fatal("Error: running a real OpenVPN is supported on Linux only; unset QLUMAR_ENGINE and "
                  "QLUMAR_OPENVPN to use the simulator");
        return 1;
    }
};

} // namespace

std::unique_ptr<Backend> makeOpenVpnBackend(const std::string&)
{
    return std::make_unique<Unsupported>();
}

#else

#include "channel.h"
#include "credentials.h"
#include "env.h"
#include "management.h"
#include "openvpn_conf.h"
#include "paths.h"
#include "stop_signal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long OpenVPN gets to close its tunnel after SIGTERM before it is killed.
constexpr std::chrono::seconds kStopGrace{10};

std::string errorText(int error)
{
    return std::strerror(error);
}

// The start time of a process (clock ticks after boot), which tells it from a later one with the same
// pid; 0 when there is no such process.
unsigned long long processStartTime(long pid)
{
    std::string stat;
    if (!readFileText("/proc/" + std::to_string(pid) + "/stat", &stat))
        return 0;
    // The command name may hold anything, spaces and parentheses included: fields count from its end.
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(end + 1));
    std::string field;
    // state is field 3, starttime field 22.
    for (int index = 3; index <= 22; ++index) {
        if (!(fields >> field))
            return 0;
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

// The per-connection directory: the translated configuration, the management socket and its password.
// mkdtemp makes it 0700. It goes as soon as OpenVPN has connected, having read all three. An engine
// killed before that (Disconnect and Exit use SIGKILL) cannot remove it: its "owner" file names the
// engine, and the next engine of the same user removes the directories of engines that are gone.
class PrivateDir
{
public:
    static constexpr char kPrefix[] = "qlumar_openvpn.";

    ~PrivateDir() { remove(); }

    void remove()
    {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
            m_path.clear();
        }
    }

    bool create(std::string* error)
    {
        // A socket path must fit in sockaddr_un; a long TMPDIR falls back to /tmp.
        std::string base = envValue("TMPDIR").value_or("/tmp");
        if (base.size() > 60)
            base = "/tmp";
        removeStale(base);
        std::string pattern = base + "/" + kPrefix + "XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            *error = "cannot create a private directory in " + base + ": " + errorText(errno);
            return false;
        }
        m_path = pattern;
        const long pid = ::getpid();
        const std::string owner = std::to_string(pid) + " " + std::to_string(processStartTime(pid)) + "\n";
        const int fd = ::open((m_path + "/owner").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool written = fd >= 0 && ::write(fd, owner.data(), owner.size()) == ssize_t(owner.size());
        if (fd >= 0)
            ::close(fd);
        if (!written) {
            *error = "cannot write " + m_path + "/owner: " + errorText(errno);
            remove();
            return false;
        }
        return true;
    }

    const std::string& path() const { return m_path; }

    // Directories of this user's engines that are gone. Whatever else is in base (links, other users'
    // directories, one still being made or from an engine that lives) stays.
    static void removeStale(const std::string& base)
    {
        DIR* dir = ::opendir(base.c_str());
        if (!dir)
            return;
        std::vector<std::string> stale;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0)
                continue;
            const std::string path = base + "/" + name;
            struct stat info
            {
            };
            if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
                continue;
            const int fd = ::open((path + "/owner").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                continue;
            char buffer[64] = {};
            const ssize_t length = ::read(fd, buffer, sizeof buffer - 1);
            ::close(fd);
            long pid = 0;
            unsigned long long started = 0;
            if (length <= 0 || std::sscanf(buffer, "%ld %llu", &pid, &started) != 2 || pid <= 0)
                continue;
            if (processStartTime(pid) != started)
                stale.push_back(path);
        }
        ::closedir(dir);
        for (const std::string& path : stale) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }

private:
    std::string m_path;
};

class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

bool writeAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (written < 0 && errno == ENOTSOCK) {
            const ssize_t plain = ::write(fd, data.data() + done, data.size() - done);
            if (plain < 0 && errno == EINTR)
                continue;
            if (plain <= 0)
                return false;
            done += static_cast<std::size_t>(plain);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool writePrivateFile(const std::string& path, const std::string& text, std::string* error)
{
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid() || !writeAll(fd.get(), text)) {
        *error = "cannot write " + path + ": " + errorText(errno);
        return false;
    }
    return true;
}

std::string randomPassword()
{
    unsigned char bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            break;
        }
    }
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

int listenUnix(const std::string& path, std::string* error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 1) != 0) {
        *error = "cannot listen on " + path + ": " + errorText(errno);
        return -1;
    }
    return fd.release();
}

pid_t parentOf(pid_t pid)
{
    std::string text;
    readFileText("/proc/" + std::to_string(pid) + "/stat", &text);
    // The command name in parentheses may hold blanks; the state and the parent follow the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    pid_t parent = -1;
    fields >> state >> parent;
    return parent;
}

bool isDescendant(pid_t pid, pid_t ancestor)
{
    for (int depth = 0; depth < 16 && pid > 1; ++depth) {
        if (pid == ancestor)
            return true;
        pid = parentOf(pid);
    }
    return false;
}

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status))
        return "OpenVPN was ended by signal " + std::to_string(WTERMSIG(status));
    return "OpenVPN exited with code " + std::to_string(WEXITSTATUS(status));
}

class OpenVpnBackend : public Backend
{
public:
    explicit OpenVpnBackend(std::string program) : m_program(std::move(program)) {}

    int run(const Options& options, const Conf& conf, Logger& log) override
    {
        log.line("Running OpenVPN: " + m_program);
        const bool token = options.credentials == CredentialKind::TokenPin;

        std::vector<std::string> certificates;
        if (token && !findCertificates(conf, &certificates, log))
            return 1;

        std::string text;
        readFileText(conf.path, &text);
        const OpenVpnConf translated = translateConf(text, conf.path, options.credentials);
        for (const std::string& warning : translated.warnings)
            log.line(warning);

        std::string error;
        if (!m_dir.create(&error)) {
            log.fatal("Error: " + error);
            return 1;
        }
        const std::string configPath = m_dir.path() + "/openvpn.conf";
        const std::string socketPath = m_dir.path() + "/management";
        if (!writePrivateFile(configPath, translated.text, &error)) {
            log.fatal("Error: " + error);
            return 1;
        }
        Fd listener(listenUnix(socketPath, &error));
        if (!listener.valid()) {
            log.fatal("Error: " + error);
            return 1;
        }

        // The interface's password is only for OpenVPN's own check: the user's secret never touches disk.
        // A file rather than a pipe, because helpers such as sudo close inherited descriptors.
        const std::string password = randomPassword();
        const std::string passwordPath = m_dir.path() + "/management.pw";
        if (!writePrivateFile(passwordPath, password + "\n", &error)) {
            log.fatal("Error: " + error);
            return 1;
        }

        std::vector<std::string> args{m_program,      "--config", configPath, "--dev",
                                      options.device, "--float",  "--pull",   "--tls-client"};
        args.insert(args.end(), options.extra.begin(), options.extra.end());
        // Last, so that nothing before can change them. With --management-client OpenVPN connects to
        // the engine and ends itself when that connection drops: the engine's death stops OpenVPN even
        // where the parent-death signal does not reach it (an OpenVPN with file capabilities).
        const std::vector<std::string> own{"--management",
                                           socketPath,
                                           "unix",
                                           passwordPath,
                                           "--management-client",
                                           "--management-query-passwords"};
        args.insert(args.end(), own.begin(), own.end());
        // A refused username or password is asked again in the same run, which is also the only way a
        // server's dynamic challenge can be answered.
        if (asksUserPassword(conf))
            args.insert(args.end(), {"--auth-retry", "interact"});
        if (token) {
            args.insert(args.end(), {"--pkcs11-providers", envValue("QLUMAR_PKCS11_MODULE").value_or(""),
                                     "--pkcs11-id-management"});
        }

        const pid_t child = start(args, log);
        if (child < 0)
            return 1;
        log.line("OpenVPN started, process " + std::to_string(child));

        Management management(options.credentials, password, options.secret, certificates);
        if (Channel::isOpen()) {
            management.reportEvents(kBytecountSeconds);
            management.askUser(true);
        }
        return supervise(child, listener, management, token, log);
    }

private:
    bool findCertificates(const Conf& conf, std::vector<std::string>* certificates, Logger& log)
    {
        if (conf.key.empty()) {
            log.fatal("Error: --engkey given but " + conf.path + " names no private key (key \"NAME\")");
            return false;
        }
        if (!findTokenCertificates(conf.key, certificates, log))
            return false;
        if (!certificates->empty()) {
            log.line("PKCS#11: found the certificate of key '" + conf.key + "'");
            return true;
        }
        // A key whose certificate and public key are only visible after login: the profile's own
        // copy of the user certificate tells which of the token's certificates to use.
        if (!conf.cert.empty()) {
            const std::string der = certificateDer(conf.cert);
            if (!der.empty()) {
                log.line("PKCS#11: no readable object labelled '" + conf.key +
                         "'; using the token certificate that matches '" + conf.cert + "'");
                certificates->push_back(der);
                return true;
            }
        }
        log.fatal("Error: Cannot find private key '" + conf.key +
                  "' in the token: OpenVPN needs its certificate in the token, under the same label or ID");
        return false;
    }

    // Forks and executes OpenVPN; reports a failed exec through a close-on-exec pipe.
    pid_t start(const std::vector<std::string>& args, Logger& log)
    {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);

        int execPipe[2];
        if (::pipe2(execPipe, O_CLOEXEC) != 0) {
            log.fatal("Error: pipe failed: " + errorText(errno));
            return -1;
        }
        const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t parent = ::getpid();
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            // Only async-signal-safe calls from here on.
            ::close(execPipe[0]);
            // OpenVPN must not outlive the engine: the manager ends a connection by killing the engine.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) {
                ::_exit(1); // the engine died before the line above took effect
            }
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int signal : {SIGTERM, SIGINT, SIGPIPE, SIGHUP, SIGUSR1})
                ::signal(signal, SIG_DFL);
            if (devNull >= 0)
                ::dup2(devNull, 0);
#ifdef CLOSE_RANGE_CLOEXEC
            // Whatever a library opened without close-on-exec stays with the engine as well.
            ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
            ::execv(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] ssize_t written = ::write(execPipe[1], &error, sizeof error);
            ::_exit(127);
        }
        ::close(execPipe[1]);
        if (devNull >= 0)
            ::close(devNull);
        if (child < 0) {
            ::close(execPipe[0]);
            log.fatal("Error: fork failed: " + errorText(errno));
            return -1;
        }
        int execError = 0;
        ssize_t got;
        while ((got = ::read(execPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
        }
        ::close(execPipe[0]);
        if (got > 0) {
            int status = 0;
            ::waitpid(child, &status, 0);
            log.fatal("Error: cannot run OpenVPN '" + m_program + "': " + errorText(execError));
            return -1;
        }
        return child;
    }

    // Runs until OpenVPN has exited: answers its management interface, forwards stop signals, stops it
    // when the secret was wrong. Returns the engine's exit code.
    int supervise(pid_t child, Fd& listener, Management& management, bool token, Logger& log)
    {
        Fd childFd(openPidFd(child));
        Fd connection;
        bool stopping = false;
        bool killed = false;
        bool fatal = false;
        Clock::time_point killAt;
        int status = 0;

        const auto stop = [&](int signal) {
            if (!stopping) {
                // A helper running OpenVPN as another user may refuse signals; dropping the
                // management connection ends OpenVPN all the same.
                if (::kill(child, signal) != 0)
                    connection.reset();
                stopping = true;
                killAt = Clock::now() + kStopGrace;
            }
        };

        for (;;) {
            const pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child || (done < 0 && errno == ECHILD))
                break;

            pollfd fds[3] = {{StopSignal::pollFd(), POLLIN, 0},
                             {connection.valid() ? connection.get() : listener.get(), POLLIN, 0},
                             {childFd.get(), POLLIN, 0}};
            const nfds_t count = childFd.valid() ? 3 : 2;
            if (!connection.valid() && !listener.valid())
                fds[1].fd = -1;
            int timeoutMs = childFd.valid() ? -1 : 100;
            if (stopping && !killed) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(killAt - Clock::now()).count();
                if (left <= 0) {
                    log.line("OpenVPN did not stop within " + std::to_string(kStopGrace.count()) +
                             " s: killing it");
                    ::kill(child, SIGKILL);
                    killed = true;
                } else {
                    timeoutMs = static_cast<int>(std::min<long long>(left, 100));
                }
            }
            if (::poll(fds, count, timeoutMs) < 0 && errno != EINTR) {
                log.line("Error: poll failed: " + errorText(errno));
                stop(SIGKILL);
            }

            if (fds[0].revents & POLLIN) {
                const std::string signal = StopSignal::received();
                stop(signal == "SIGINT" ? SIGINT : SIGTERM);
            }
            if (fds[1].revents && !connection.valid()) {
                // OpenVPN connects once it has read its configuration and the interface's password.
                if (accept(child, listener, connection, log))
                    m_dir.remove();
            } else if (fds[1].revents) {
                char buffer[4096];
                const ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
                if (got <= 0) {
                    // OpenVPN closes the interface only on its way out.
                    connection.reset();
                    continue;
                }
                management.feed(std::string(buffer, static_cast<std::size_t>(got)));
                Channel::forward(management.takeEvents());
                for (const std::string& note : management.takeNotes())
                    log.line(note);
                std::string signal;
                if (!Channel::answerUser(management, &signal))
                    stop(signal == "SIGINT" ? SIGINT : SIGTERM);
                const std::string reply = management.takeReply();
                if (!reply.empty() && !writeAll(connection.get(), reply))
                    connection.reset();
                if (!fatal && management.wrongSecret()) {
                    // The last wrong PIN may have locked the token, or the token refuses every PIN.
                    const std::string problem = token ? tokenPinProblem() : std::string();
                    log.line(problem.empty() ? kWrongSecretMessage : problem);
                    fatal = true;
                    stop(SIGTERM);
                } else if (!fatal && !management.failure().empty()) {
                    log.line(management.failure());
                    fatal = true;
                    stop(SIGTERM);
                }
            }
        }

        if (fatal) {
            log.line("Exiting due to fatal error");
            return 1;
        }
        if (WIFSIGNALED(status)) {
            log.line(describeStatus(status));
            return 128 + WTERMSIG(status);
        }
        return WEXITSTATUS(status);
    }

    // Only the OpenVPN just started may use the interface: the child itself, or a process below it when
    // the program is a helper that starts OpenVPN (sudo and the like). Anyone else is turned away.
    static bool accept(pid_t child, Fd& listener, Fd& connection, Logger& log)
    {
        Fd peer(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer.valid())
            return false;
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
            !isDescendant(credentials.pid, child)) {
            log.line("WARNING: refused a management connection from process " +
                     std::to_string(credentials.pid));
            return false;
        }
        connection.reset(peer.release());
        listener.reset();
        return true;
    }

    std::string m_program;
    PrivateDir m_dir;
};

} // namespace

std::unique_ptr<Backend> makeOpenVpnBackend(const std::string& program)
{
    return std::make_unique<OpenVpnBackend>(program);
}

#endif
