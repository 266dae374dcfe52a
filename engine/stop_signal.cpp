#include "stop_signal.h"

#ifdef _WIN32

#include <condition_variable>
#include <mutex>
#include <windows.h>

namespace {

std::mutex mutex;
std::condition_variable arrived;
std::string received;

// Windows runs console control handlers on a thread of their own, so ordinary locking is safe here.
BOOL WINAPI onControl(DWORD type)
{
    std::lock_guard<std::mutex> lock(mutex);
    received = type == CTRL_C_EVENT ? "SIGINT" : "SIGTERM";
    arrived.notify_all();
    return TRUE;
}

} // namespace

bool StopSignal::install(std::string* error)
{
    if (!SetConsoleCtrlHandler(onControl, TRUE)) {
        *error = "SetConsoleCtrlHandler failed";
        return false;
    }
    return true;
}

std::string StopSignal::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto ready = [] { return !received.empty(); };
    if (timeout.count() < 0)
        arrived.wait(lock, ready);
    else
        arrived.wait_for(lock, timeout, ready);
    return received;
}

#else

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t lastSignal = 0;

// Only async-signal-safe work here: remember the signal and wake the waiting poll().
extern "C" void onSignal(int signal)
{
    const int saved = errno;
    lastSignal = signal;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

std::string signalName(int signal)
{
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

} // namespace

bool StopSignal::install(std::string* error)
{
    if (::pipe(pipeFds) != 0) {
        *error = std::string("pipe failed: ") + std::strerror(errno);
        return false;
    }
    for (int fd : pipeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            *error = std::string("sigaction failed: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::string StopSignal::wait(std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (lastSignal == 0) {
        int waitMs = -1;
        if (timeout.count() >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return {};
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (::poll(&fd, 1, waitMs) > 0) {
            char buffer[16];
            while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
            }
        }
    }
    return signalName(lastSignal);
}

int StopSignal::pollFd()
{
    return pipeFds[0];
}

std::string StopSignal::received()
{
    char buffer[16];
    while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
    }
    return lastSignal == 0 ? std::string() : signalName(lastSignal);
}

#endif
