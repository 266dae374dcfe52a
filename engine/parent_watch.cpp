#include "parent_watch.h"

#ifndef _WIN32

#include <cerrno>
#include <csignal>
#include <thread>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

bool stdinIsChannel()
{
    struct stat info
    {
    };
    return ::fstat(0, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

// Whatever arrives is dropped; the end of the input means the manager is gone.
void watchStdin()
{
    char buffer[4096];
    for (;;) {
        pollfd fd{0, POLLIN, 0};
        if (::poll(&fd, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fd.revents & POLLNVAL)
            return;
        const ssize_t got = ::read(0, buffer, sizeof buffer);
        if (got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN)))
            continue;
        if (got < 0)
            return;
        ::kill(::getpid(), SIGTERM);
        return;
    }
}

} // namespace

bool ParentWatch::start(long startParent, std::string* reason)
{
    // Writing to a manager that is gone must not kill the engine before it has stopped OpenVPN.
    ::signal(SIGPIPE, SIG_IGN);
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A parent that died before the line above took effect sends nothing; the engine has a new
    // parent by now.
    if (::getppid() != static_cast<pid_t>(startParent)) {
        *reason = "the process that started the engine has ended";
        return false;
    }
#else
    (void)startParent;
#endif
    if (stdinIsChannel())
        std::thread(watchStdin).detach();
    return true;
}

#else

bool ParentWatch::start(long, std::string*)
{
    return true;
}

#endif
