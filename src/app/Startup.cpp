#include "Startup.h"

#include "app/DesktopNotifier.h"
#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/Pictures.h"
#include "app/Prompt.h"
#include "app/SingleInstance.h"
#include "app/TrayHost.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <cstdio>

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

int run(QApplication& app, bool trayAvailable)
{
    Options options;
    options.trayAvailable = trayAvailable;
    return run(app, options);
}

namespace {

// What a request asks of the running window; an empty result when it is under way.
QString answer(MainWindow& window, const CommandLine::Request& request)
{
    switch (request.action) {
    case CommandLine::Request::Connect:
        return window.connectByName(request.connectName);
    case CommandLine::Request::Import: {
        window.bringForward();
        const QString path = request.importPath;
        // Importing may ask questions in dialogs of its own: the second start is answered first.
        QTimer::singleShot(0, &window, [&window, path] { Q_EMIT window.importRequested(path); });
        return QString();
    }
    default:
        if (!request.minimized)
            window.bringForward();
        return QString();
    }
}

} // namespace

int run(QApplication& app, const Options& options)
{
    QString failedPath;
    if (!enterProfileRoot(&failedPath)) {
        Prompt::message(nullptr, QMessageBox::Critical, QObject::tr("qLumar VPN"),
                        QObject::tr("Cannot create or open the connection directory %1.").arg(failedPath),
                        QMessageBox::Ok);
        return 1;
    }

    // With a tray the program ends only through Exit: closing a message box or dialog while the
    // main window is hidden must not end it. Without one, closing the window ends it explicitly.
    app.setQuitOnLastWindowClosed(false);

    Language::readLanguageFile();
    Language::installTranslators(app);
    quitOnTerminationSignals(app);

    Pictures::seedStylePictures();
    int result = 0;
    {
        MainWindow window(nullptr, options.trayAvailable);
        const CommandLine::Request& request = options.request;

        // --minimized without a tray: the panel may still be starting (autostart races it).
        QTimer trayWait;
        trayWait.setSingleShot(true);
        trayWait.setInterval(options.trayWaitMilliseconds);
        QObject::connect(&trayWait, &QTimer::timeout, &window, &MainWindow::show);

        // An XEmbed tray shows balloons of its own; on a StatusNotifierItem host, or without a
        // tray, the desktop's notification server takes the messages.
        const auto chooseMessages = [&window, &options] {
            const TrayHost* host = options.trayHost;
            const bool xembedOnly = host ? host->hasXEmbedTray() && !host->hasStatusNotifierHost() : false;
            window.setDesktopNotifier(xembedOnly ? nullptr : options.notifier);
        };
        chooseMessages();

        if (options.trayHost) {
            QObject::connect(options.trayHost, &TrayHost::availabilityChanged, &window, chooseMessages);
            const bool confirm = options.confirmWithToolkit;
            QObject::connect(options.trayHost, &TrayHost::availabilityChanged, &window,
                             [&window, &trayWait, confirm](bool available) {
                                 if (available && confirm && !QSystemTrayIcon::isSystemTrayAvailable())
                                     available = false;
                                 if (available == window.hasTrayHost())
                                     return;
                                 window.setTrayHostAvailable(available);
                                 if (available)
                                     trayWait.stop(); // stays in the tray, as asked
                                 else if (!trayWait.isActive())
                                     window.show(); // hidden with no tray, nothing could reach it
                             });
        }

        if (options.trayAvailable ? !request.minimized : !(request.minimized && options.trayHost))
            window.show();
        else if (!options.trayAvailable)
            trayWait.start();

        if (options.instance)
            options.instance->setHandler(
                [&window](const CommandLine::Request& handed) { return answer(window, handed); });
        if (request.action == CommandLine::Request::Connect ||
            request.action == CommandLine::Request::Import) {
            QTimer::singleShot(0, &window, [&window, request] {
                const QString refusal = answer(window, request);
                if (!refusal.isEmpty())
                    std::fprintf(stderr, "qlumar_vpn: %s\n", qPrintable(refusal));
            });
        }

        result = app.exec();
        if (options.instance)
            options.instance->setHandler({});
        Language::writeLanguageFile();
    }
    return result;
}

int printHelp()
{
    const CommandLine::Request request =
        CommandLine::parse({QCoreApplication::arguments().value(0), QStringLiteral("--help")}, QString());
    std::fputs(qPrintable(request.text), stdout);
    std::fflush(stdout);
    return 0;
}

int start(QApplication& app)
{
    const CommandLine::Request request =
        CommandLine::parse(QCoreApplication::arguments(), QDir::currentPath());
    if (request.action == CommandLine::Request::Invalid) {
        std::fprintf(stderr, "qlumar_vpn: %s\nTry 'qlumar_vpn --help' for more information.\n",
                     qPrintable(request.error));
        return 2;
    }
    if (request.action == CommandLine::Request::Help)
        return printHelp();

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::Secondary: {
        QString message;
        const int code = instance.handOver(request, &message);
        if (!message.isEmpty())
            std::fprintf(stderr, "qlumar_vpn: %s\n", qPrintable(message));
        return code;
    }
    case SingleInstance::Claim::Alone:
        qWarning("qlumar_vpn: a second start cannot find this one: %s", qPrintable(instance.errorString()));
        break;
    case SingleInstance::Claim::Primary:
        if (!instance.errorString().isEmpty())
            qWarning("qlumar_vpn: a second start cannot hand over to this one: %s",
                     qPrintable(instance.errorString()));
        break;
    }

    Options options;
    options.request = request;
    options.instance = &instance;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // A StatusNotifierItem host shows the application name as the item's title. The X11 window
    // class is taken from the same name when the first window is made: one made now keeps the
    // class the desktop entry's StartupWMClass names.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        QWindow classProbe;
        classProbe.create();
    }
    QCoreApplication::setApplicationName(QStringLiteral("qLumar Velkoro"));
    TrayHost trayHost;
    trayHost.checkNow();
    DesktopNotifier notifier;
    options.notifier = &notifier;
    options.trayHost = &trayHost;
    options.confirmWithToolkit = true;
    options.trayAvailable = trayHost.isAvailable() && QSystemTrayIcon::isSystemTrayAvailable();
#else
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
#endif
    return run(app, options);
}

} // namespace Startup
