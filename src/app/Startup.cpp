#include "Startup.h"

#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Startup {

namespace {

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    // The interrupted code may be about to look at errno.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

// Close-on-exec, or the engine and OpenVPN inherit both ends and any of them could end the
// manager with one byte; non-blocking, so a handler never waits on a full socket and the
// notifier never waits on an empty one.
bool makeSignalPipe()
{
#ifdef SOCK_CLOEXEC
    return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) == 0;
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
#endif
}

// SIGTERM, SIGINT and SIGHUP end the run the same way Exit does, so the engine is killed and
// "lang" is written instead of the process vanishing mid-connection.
void quitOnTerminationSignals(QApplication& app)
{
    if (signalPipe[0] >= 0 || !makeSignalPipe())
        return; // installed once per process: the notifier lives as long as the application
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char bytes[64];
        while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
#else
void quitOnTerminationSignals(QApplication&) {}
#endif

} // namespace

bool enterProfileRoot(QString* failedPath)
{
    const QString home = QDir::homePath();
    const QString root = home + QLatin1Char('/') + QLatin1String(profileRootName);
    if (!QFileInfo(root).isDir())
        QDir(home).mkdir(QLatin1String(profileRootName));
    // Falling back to the home directory would list every home subdirectory as a profile and
    // let Delete empty it, so an unusable root stops the program instead.
    if (!QFileInfo(root).isDir() || !QDir::setCurrent(root)) {
        if (failedPath)
            *failedPath = QDir::toNativeSeparators(root);
        return false;
    }
    return true;
}

int run(QApplication& app, bool trayAvailable, const QString& importPath)
{
    if (!trayAvailable) {
        Prompt::message(nullptr, QMessageBox::Critical, QObject::tr("qLumar VPN"),
                        QObject::tr("Cannot run program on taskbar."), QMessageBox::Ok);
        return 1;
    }

    QString failedPath;
    if (!enterProfileRoot(&failedPath)) {
        Prompt::message(nullptr, QMessageBox::Critical, QObject::tr("qLumar VPN"),
                        QObject::tr("Cannot create or open the connection directory %1.").arg(failedPath),
                        QMessageBox::Ok);
        return 1;
    }

    // A tray program ends only through Exit: closing a message box or dialog while the main
    // window is hidden must not end it.
    app.setQuitOnLastWindowClosed(false);

    Language::readLanguageFile();
    Language::installTranslators(app);
    quitOnTerminationSignals(app);

    int result = 0;
    {
        MainWindow window;
        window.show();
        if (!importPath.isEmpty())
            QTimer::singleShot(0, &window, [&window, importPath] { window.importFile(importPath); });
        result = app.exec();
        Language::writeLanguageFile();
    }
    return result;
}

} // namespace Startup
