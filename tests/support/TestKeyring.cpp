#include "TestKeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

TestKeyring::~TestKeyring()
{
    stop();
}

bool TestKeyring::useBus(QString* error)
{
    if (!m_bus.start()) {
        *error = m_bus.error();
        return false;
    }
    const QString runtime = m_home.filePath(QStringLiteral("run"));
    if (!m_home.isValid() || !QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *error = QStringLiteral("no private home for the keyring");
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CACHE_HOME", m_home.filePath(QStringLiteral("cache")).toUtf8());
    // The keychain picks its backend by desktop; without one it takes the Secret Service.
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("DESKTOP_SESSION");
    qunsetenv("KDE_FULL_SESSION");
    return true;
}

bool TestKeyring::start(QString* error)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (daemon.isEmpty()) {
        *error = QStringLiteral("gnome-keyring-daemon is not installed (scripts/install-deps installs "
                                "gnome-keyring)");
        return false;
    }
    // The daemon keeps its keyrings under HOME.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start(daemon, {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"),
                            QStringLiteral("--foreground")});
    if (!m_daemon.waitForStarted()) {
        *error = "gnome-keyring-daemon does not start: " + m_daemon.errorString();
        return false;
    }
    m_daemon.write("throw-away password");
    m_daemon.closeWriteChannel();
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QString secrets = QStringLiteral("org.freedesktop.secrets");
    QDeadlineTimer deadline(15000);
    while (bus && !bus->isServiceRegistered(secrets) && !deadline.hasExpired() &&
           m_daemon.state() == QProcess::Running)
        QTest::qWait(50);
    if (!bus || !bus->isServiceRegistered(secrets)) {
        *error = "gnome-keyring-daemon gave no Secret Service: " + m_daemon.readAllStandardError();
        return false;
    }
    return true;
}

void TestKeyring::stop()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
}
