#include "service_main.h"

#include "tunnel_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int runTunnelService(int argc, char** argv, std::unique_ptr<Authority> authority, LinkSetupFactory linkSetup)
{
    QCoreApplication app(argc, argv);
    ServiceSettings settings;
    settings.tunnelHook = QStringLiteral(QLUMAR_TUNNEL_HOOK);
    if (const QByteArray runtime = qgetenv("RUNTIME_DIRECTORY"); !runtime.isEmpty()) {
        // systemd's RuntimeDirectory=; the first one if there are several.
        settings.runtimeDir = QString::fromLocal8Bit(runtime).section(u':', 0, 0);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Starts OpenVPN for desktop users over the system bus."));
    parser.addHelpOption();
    const QCommandLineOption runtimeDir(QStringLiteral("runtime-dir"),
                                        QStringLiteral("Directory for the connections' files."),
                                        QStringLiteral("dir"), settings.runtimeDir);
    const QCommandLineOption openvpn(QStringLiteral("openvpn"), QStringLiteral("The OpenVPN program."),
                                     QStringLiteral("path"), settings.openvpn);
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("System user OpenVPN runs as."),
                                  QStringLiteral("name"), settings.user);
    const QCommandLineOption group(QStringLiteral("group"), QStringLiteral("System group OpenVPN runs as."),
                                   QStringLiteral("name"), settings.group);
    const QCommandLineOption hook(QStringLiteral("tunnel-hook"),
                                  QStringLiteral("The program OpenVPN runs when the tunnel is up."),
                                  QStringLiteral("path"), settings.tunnelHook);
    const QCommandLineOption idle(QStringLiteral("idle-exit"),
                                  QStringLiteral("Seconds without connections before the service exits."),
                                  QStringLiteral("seconds"), QString::number(settings.idleExitMs / 1000));
    const QCommandLineOption perUser(QStringLiteral("max-connections-per-user"),
                                     QStringLiteral("Connections one user may have at a time."),
                                     QStringLiteral("count"),
                                     QString::number(settings.maxConnectionsPerUser));
    parser.addOptions({runtimeDir, openvpn, user, group, hook, idle, perUser});
    parser.process(app);
    settings.runtimeDir = parser.value(runtimeDir);
    settings.openvpn = parser.value(openvpn);
    settings.user = parser.value(user);
    settings.group = parser.value(group);
    settings.tunnelHook = parser.value(hook);
    bool number = false;
    settings.idleExitMs = parser.value(idle).toInt(&number) * 1000;
    if (!number || settings.idleExitMs <= 0) {
        std::fprintf(stderr, "invalid --idle-exit\n");
        return 2;
    }
    settings.maxConnectionsPerUser = parser.value(perUser).toInt(&number);
    if (!number || settings.maxConnectionsPerUser <= 0) {
        std::fprintf(stderr, "invalid --max-connections-per-user\n");
        return 2;
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "qlumar-tunnel-service must run as root\n");
        return 1;
    }
    if (!QDir().mkpath(settings.runtimeDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(settings.runtimeDir));
        return 1;
    }
    removeStaleConnections(settings.runtimeDir);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::perror("socketpair");
        return 1;
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    TunnelService service(settings, std::move(authority), std::move(linkSetup), QDBusConnection::systemBus());
    QString error;
    if (!service.registerOnBus(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        stopNotifier.setEnabled(false);
        service.stopAll();
        app.quit();
    });
    QObject::connect(&service, &TunnelService::idle, &app, &QCoreApplication::quit);
    return app.exec();
}
