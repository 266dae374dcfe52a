#include "PrivateSystemBus.h"

#include "LoopbackVpn.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

constexpr int kStepMs = 30000;

void dieWithParent()
{
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
}

} // namespace

PrivateSystemBus::~PrivateSystemBus()
{
    stopService();
    stopPolkit();
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.terminate();
        m_bus.waitForFinished(kStepMs);
    }
}

bool PrivateSystemBus::start(const QString& dir, uint deniedUid, QString* error)
{
    m_dir = dir;
    m_deniedUid = deniedUid;
    QFile config(dir + "/bus.conf");
    if (!config.open(QIODevice::WriteOnly)) {
        *error = "cannot write " + config.fileName();
        return false;
    }
    config.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
        "<type>system</type>\n<listen>unix:path=" +
        QFile::encodeName(dir + "/system_bus_socket") +
        "</listen>\n<auth>EXTERNAL</auth>\n<policy context=\"default\">\n"
        "<allow user=\"*\"/>\n<deny own=\"*\"/>\n<deny send_type=\"method_call\"/>\n"
        "<allow send_type=\"signal\"/>\n"
        "<allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
        "<allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
        "<allow receive_type=\"method_call\"/>\n<allow receive_type=\"method_return\"/>\n"
        "<allow receive_type=\"error\"/>\n<allow receive_type=\"signal\"/>\n"
        "<allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus\"/>\n"
        "<allow send_destination=\"org.freedesktop.DBus\" "
        "send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
        "<allow send_destination=\"org.freedesktop.PolicyKit1\"/>\n"
        "<allow send_destination=\"org.freedesktop.resolve1\"/>\n</policy>\n"
        "<policy user=\"root\">\n<allow own=\"org.freedesktop.resolve1\"/>\n</policy>\n"
        "<policy user=\"polkitd\">\n<allow "
        "own=\"org.freedesktop.PolicyKit1\"/>\n</policy>\n<include>" QLUMAR_SOURCE_DIR
        "/service/data/example.qlumar.Velkoro.Tunnel.conf</include>\n</busconfig>\n");
    config.close();
    m_bus.setChildProcessModifier(dieWithParent);
    m_bus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
    if (!m_bus.waitForStarted(kStepMs)) {
        *error = "cannot start dbus-daemon: " + m_bus.errorString();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!m_bus.canReadLine() && timer.elapsed() < kStepMs && m_bus.state() == QProcess::Running) {
        m_bus.waitForReadyRead(100);
    }
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    if (!m_address.startsWith("unix:")) {
        *error = "dbus-daemon gave no address: " + m_bus.readAllStandardError();
        return false;
    }
    // As on a real system, every user may open the bus; the policy decides the rest.
    QFile::setPermissions(dir + "/system_bus_socket", QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ReadGroup | QFile::WriteGroup |
                                                          QFile::ReadOther | QFile::WriteOther);
    return startService(error);
}

bool PrivateSystemBus::startService(QString* error, int idleExitSeconds, int authorityDelayMs,
                                    const QString& openvpn, const QString& program,
                                    const QStringList& extraArgs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_address);
    env.insert("TEST_DENIED_UIDS", QString::number(m_deniedUid));
    env.insert("TEST_AUTHORITY_DELAY_MS", QString::number(authorityDelayMs));
    env.remove("RUNTIME_DIRECTORY");
    m_service.setProcessEnvironment(env);
    m_service.setProcessChannelMode(QProcess::ForwardedChannels);
    m_service.setChildProcessModifier(dieWithParent);
    // OpenVPN drops to "daemon": not the user the tests run the engine as, so that it cannot signal it.
    m_service.start(program.isEmpty() ? QStringLiteral(QLUMAR_BUILD_DIR "/libexec/qlumar-tunnel-service-test")
                                      : program,
                    QStringList{"--runtime-dir", runtimeDir(), "--user", "daemon", "--group", "daemon",
                                "--openvpn", openvpn.isEmpty() ? LoopbackVpn::openvpnProgram() : openvpn,
                                "--tunnel-hook", QStringLiteral(QLUMAR_BIN_DIR "/qlumar-tunnel-hook"),
                                "--idle-exit", QString::number(idleExitSeconds)} +
                        extraArgs);
    if (!m_service.waitForStarted(kStepMs)) {
        *error = "cannot start the service: " + m_service.errorString();
        return false;
    }
    // Up once its name is on the bus.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStepMs && m_service.state() == QProcess::Running) {
        QProcess busctl;
        busctl.start("busctl", {"--address=" + m_address, "list", "--acquired"});
        busctl.waitForFinished(kStepMs);
        if (busctl.readAllStandardOutput().contains("example.qlumar.Velkoro.Tunnel")) {
            QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ExeGroup | QFile::ExeOther);
            return true;
        }
        QTest::qWait(50);
    }
    *error = "the service did not take its name on the bus";
    return false;
}

void PrivateSystemBus::stopService()
{
    if (m_service.state() != QProcess::NotRunning) {
        m_service.terminate();
        m_service.waitForFinished(kStepMs);
    }
}

namespace {

const char* const kPolkitd = "/usr/lib/polkit-1/polkitd";

bool waitForName(const QString& address, const QByteArray& name, QProcess& owner)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStepMs && owner.state() == QProcess::Running) {
        QProcess busctl;
        busctl.start("busctl", {"--address=" + address, "list", "--acquired"});
        busctl.waitForFinished(kStepMs);
        if (busctl.readAllStandardOutput().contains(name)) {
            return true;
        }
        QTest::qWait(50);
    }
    return false;
}

} // namespace

QString PrivateSystemBus::polkitMissing()
{
    if (!QFile::exists(kPolkitd)) {
        return QString("%1 not found (Debian: apt-get install polkitd)").arg(kPolkitd);
    }
    if (QStandardPaths::findExecutable("unshare").isEmpty()) {
        return "unshare not found (Debian: apt-get install util-linux)";
    }
    return {};
}

bool PrivateSystemBus::startPolkit(const QByteArray& rules, QString* error)
{
    const QString root = m_dir + "/polkit";
    QDir(root).removeRecursively();
    const QFileDevice::Permissions dirMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                             QFile::ExeOther;
    for (const QString& dir : {root, root + "/actions", root + "/rules", root + "/empty"}) {
        QDir().mkpath(dir);
        QFile::setPermissions(dir, dirMode);
    }
    QFile::copy(QStringLiteral(QLUMAR_SOURCE_DIR "/service/data/example.qlumar.Velkoro.policy"),
                root + "/actions/example.qlumar.Velkoro.policy");
    QFile rulesFile(root + "/rules/50-test.rules");
    if (!rulesFile.open(QIODevice::WriteOnly) || rulesFile.write(rules) < 0) {
        *error = "cannot write the polkit rules";
        return false;
    }
    rulesFile.close();
    for (const QString& file :
         {root + "/actions/example.qlumar.Velkoro.policy", root + "/rules/50-test.rules"}) {
        QFile::setPermissions(file,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_address);
    m_polkit.setProcessEnvironment(env);
    m_polkit.setProcessChannelMode(QProcess::MergedChannels);
    m_polkit.setChildProcessModifier(dieWithParent);
    m_polkit.start("unshare", {"--mount", "--propagation", "private", "sh", "-c",
                               QString("mount --bind '%1/actions' /usr/share/polkit-1/actions && "
                                       "mount --bind '%1/rules' /etc/polkit-1/rules.d && "
                                       "mount --bind '%1/empty' /usr/share/polkit-1/rules.d && exec %2")
                                   .arg(root, QString::fromLatin1(kPolkitd))});
    if (!m_polkit.waitForStarted(kStepMs) ||
        !waitForName(m_address, "org.freedesktop.PolicyKit1", m_polkit)) {
        *error = "polkitd did not take its name on the bus: " + m_polkit.readAll();
        return false;
    }
    return true;
}

void PrivateSystemBus::stopPolkit()
{
    if (m_polkit.state() != QProcess::NotRunning) {
        m_polkit.terminate();
        m_polkit.waitForFinished(kStepMs);
    }
}
