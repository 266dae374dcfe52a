// The tunnel service end to end: the service (a test build whose authority allows everyone but the
// uids it is told to refuse) runs as root on a private system bus of its own dbus-daemon, using the
// shipped bus policy; the engine runs as "nobody" against a real OpenVPN server on 127.0.0.1. Needs
// root, /dev/net/tun, openvpn, openssl, dbus-daemon, setpriv and busctl; skipped with the reason
// otherwise.
#include "EngineProcess.h"
#include "FakeResolved.h"
#include "LoopbackVpn.h"
#include "PrivateSystemBus.h"
#include "TestSupport.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <grp.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kConnected = "Initialization Sequence Completed";
const QByteArray kWrongPassword = "Error: private key password verification failed";
const QString kPassword = "s3cret";
const char* const kPin = "1234";
const QByteArray kKeyLabel = "vpn key";
// Long enough for OpenVPN to resend lost handshake packets on a loaded machine; waits end as soon as
// their condition holds.
constexpr int kStepMs = 60000;
// The engine's user, and another one who must not see its tunnels.
const char* const kUser = "nobody";
const char* const kGroup = "nogroup";
const char* const kOtherUser = "games";
// The user OpenVPN drops to (see PrivateSystemBus).
const char* const kOpenVpnUser = "daemon";
// What the loopback server pushes; the service puts it on the client's link through resolved.
const char* const kPushedDns = "10.8.0.53";
const char* const kPushedDomain = "corp.example";

// What the loopback server pushes besides its addresses and routes.
QStringList serverPushes(const char* dns)
{
    return {"--push", QString("dhcp-option DNS %1").arg(dns), "--push",
            QString("dhcp-option DOMAIN %1").arg(kPushedDomain)};
}

QByteArray profileConf(quint16 port, const QByteArray& templ)
{
    return "#\n# qLumarVpnName Through the service\n#\nremote 127.0.0.1\nrport " + QByteArray::number(port) +
           "\npkcs12 client.p12\n\n#\n# configuration template\n#\n\nclient\nnobind\nproto udp\n"
           "remote-cert-tls server\nverb 3\n" +
           templ;
}

uint uidOf(const char* name)
{
    const passwd* entry = ::getpwnam(name);
    return entry ? entry->pw_uid : 0;
}

} // namespace

class ServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void pkcs12Connects();
    void wrongPassword();
    void keyAndLoginThroughTheService();
    void tokenConnects_data();
    void tokenConnects();
    void refusedDirective_data();
    void refusedDirective();
    void openVpnRejectsConfig();
    void engineKilled();
    void ownerStops();
    void perUserLimit();
    void pushedDnsAppliedAndReverted_data();
    void pushedDnsAppliedAndReverted();
    void pushedDnsAfterRestart();
    void stoppedWhileAuthorizing();
    void notAuthorized();
    void serviceStopEndsTunnels();
    void serviceKilled();
    void idleServiceExits();
    void openVpnMissing();
    void shippedServiceAsksPolkit_data();
    void shippedServiceAsksPolkit();
    void managerConnectsThroughService();

private:
    QString profile(const QByteArray& templ);
    bool makeToken(const QString& name, const QString& keyFile, const QString& certFile, QStringList* env);
    void startEngine(QProcess* engine, const QString& dir, const QString& secret,
                     const QStringList& extra = {});
    bool waitForOutput(QProcess* engine, const QByteArray& text);
    QStringList busctl(const char* user, const QStringList& args, bool* ok);
    QStringList runtimeEntries() const;
    bool openVpnClientsGone() const;

    QString m_skip;
    QTemporaryDir m_tmp;
    LoopbackVpn* m_vpn = nullptr;
    PrivateSystemBus m_bus;
    // On the bus for every case, so that no tunnel here ever reaches the machine's resolv.conf.
    std::unique_ptr<FakeResolvedHost> m_resolved;
    int m_profiles = 0;
};

void ServiceTest::initTestCase()
{
#ifndef Q_OS_LINUX
    m_skip = "the tunnel service is for Linux";
#else
    m_skip = LoopbackVpn::missingPrerequisite();
    for (const char* program : {"dbus-daemon", "setpriv", "busctl"}) {
        if (m_skip.isEmpty() && QStandardPaths::findExecutable(program).isEmpty()) {
            m_skip = QString("%1 not found (scripts/install-deps installs it)").arg(program);
        }
    }
    if (m_skip.isEmpty() && (!uidOf(kUser) || !uidOf(kOtherUser) || !uidOf(kOpenVpnUser))) {
        m_skip = "the users nobody, games and daemon are needed";
    }
    if (!m_skip.isEmpty()) {
        return;
    }
    QVERIFY(m_tmp.isValid());
    // Other users pass through to their files, the bus and the service's sockets.
    QVERIFY(QFile::setPermissions(m_tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ExeGroup | QFile::ExeOther));
    // The engine runs as nobody: the build tree must let it in.
    QProcess probe;
    probe.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "test", "-x",
                            builtProgram("qlumar_openvpn")});
    if (!probe.waitForFinished(kStepMs) || probe.exitCode() != 0) {
        m_skip = "nobody cannot run " + builtProgram("qlumar_openvpn") + " (the build tree is not readable)";
        return;
    }

    QVERIFY(QDir().mkpath(m_tmp.filePath("pki")));
    m_vpn = new LoopbackVpn(m_tmp.filePath("pki"));
    QString error;
    QVERIFY2(m_vpn->makePki(kPassword, &error), qPrintable(error));
    QVERIFY2(m_vpn->start(&error, serverPushes(kPushedDns)), qPrintable(error));

    QVERIFY2(m_bus.start(m_tmp.path(), uidOf(kOtherUser), &error), qPrintable(error));
    m_resolved = std::make_unique<FakeResolvedHost>(m_bus.address());
    QVERIFY(m_resolved->isRunning());
#endif
}

void ServiceTest::cleanupTestCase()
{
    m_bus.stopService();
    m_resolved.reset();
    delete m_vpn;
    m_vpn = nullptr;
}

void ServiceTest::init()
{
    SKIP_UNLESS_EMPTY(m_skip);
    // A case that failed half-way may have left another service running, or none.
    if (m_bus.service().state() != QProcess::Running) {
        m_bus.stopPolkit();
        QString error;
        QVERIFY2(m_bus.startService(&error), qPrintable(error));
    }
}

// A profile directory that belongs to the engine's user, with its own copy of the PKCS#12 file.
QString ServiceTest::profile(const QByteArray& templ)
{
    const QString dir = m_tmp.filePath(QString("profile%1").arg(++m_profiles));
    QDir().mkpath(dir);
    QFile::copy(m_tmp.filePath("pki/client.p12"), dir + "/client.p12");
    QFile conf(dir + "/conf");
    conf.open(QIODevice::WriteOnly);
    conf.write(profileConf(m_vpn->port(), templ));
    conf.close();
    const passwd* user = ::getpwnam(kUser);
    for (const QString& path : {dir, dir + "/conf", dir + "/client.p12"}) {
        if (::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0) {
            qWarning("cannot chown %s", qPrintable(path));
        }
    }
    return dir;
}

void ServiceTest::startEngine(QProcess* engine, const QString& dir, const QString& secret,
                              const QStringList& extra)
{
    // The engine's defaults: no QLUMAR_ENGINE, no QLUMAR_OPENVPN.
    QProcessEnvironment env = engineEnvironment(QStringList{"QLUMAR_ENGINE="} + extra);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address());
    engine->setProcessEnvironment(env);
    engine->setWorkingDirectory(dir);
    engine->setProcessChannelMode(QProcess::MergedChannels);
    engine->start("setpriv", {"--reuid=" + QString(kUser), "--regid=" + QString(kGroup), "--clear-groups",
                              "--", builtProgram("qlumar_openvpn"), "--config", "conf", "--dev", "tun",
                              "--float", "--pull", "--tls-client", "--keypass", secret});
    QVERIFY(engine->waitForStarted(kStepMs));
}

bool ServiceTest::waitForOutput(QProcess* engine, const QByteArray& text)
{
    QByteArray seen;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStepMs && !seen.contains(text)) {
        if (engine->state() == QProcess::NotRunning && engine->bytesAvailable() == 0) {
            break;
        }
        engine->waitForReadyRead(100);
        seen = engine->peek(1 << 24);
    }
    if (!seen.contains(text)) {
        qWarning("engine output:\n%s", seen.constData());
    }
    return seen.contains(text);
}

QStringList ServiceTest::busctl(const char* user, const QStringList& args, bool* ok)
{
    QProcess process;
    const passwd* entry = ::getpwnam(user);
    const group* group = entry ? ::getgrgid(entry->pw_gid) : nullptr;
    process.start("setpriv",
                  QStringList{"--reuid=" + QString(user), "--regid=" + QString(group ? group->gr_name : user),
                              "--clear-groups", "busctl", "--address=" + m_bus.address()} +
                      args);
    *ok = process.waitForFinished(kStepMs) && process.exitStatus() == QProcess::NormalExit &&
          process.exitCode() == 0;
    const QString out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return out.split('\n', Qt::SkipEmptyParts);
}

QStringList ServiceTest::runtimeEntries() const
{
    return QDir(m_bus.runtimeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// No OpenVPN client of the service is left: only the loopback server reads its files from pki/.
bool ServiceTest::openVpnClientsGone() const
{
    const QByteArray config = QFile::encodeName(m_bus.runtimeDir()) + '/';
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(config)) {
            return false;
        }
    }
    return true;
}

// A profile with a key and a login, through the service: the key's password from the command line,
// the username and password from the manager channel, asked again after the server refused them.
void ServiceTest::keyAndLoginThroughTheService()
{
    const QString dir = m_tmp.filePath("auth");
    QVERIFY(QDir().mkpath(dir));
    for (const char* name : {"ca.crt", "server.crt", "server.key"})
        QVERIFY(QFile::copy(m_tmp.filePath(QString("pki/") + name), dir + "/" + name));
    const QString script = dir + "/verify.sh";
    QVERIFY(ScratchHome::writeFile(script, "#!/bin/sh\n[ \"$(sed -n 1p \"$1\")\" = alice ] && "
                                           "[ \"$(sed -n 2p \"$1\")\" = right ]\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
    LoopbackVpn server(dir);
    QString error;
    QVERIFY2(server.start(&error, {"--script-security", "2", "--auth-user-pass-verify", script, "via-file"}),
             qPrintable(error));

    QLocalServer channel;
    channel.setSocketOptions(QLocalServer::WorldAccessOption);
    QVERIFY(channel.listen(m_tmp.filePath("channel")));
    const QString profileDir = profile("auth-user-pass\n");
    QFile conf(profileDir + "/conf");
    QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write(profileConf(server.port(), "auth-user-pass\n"));
    conf.close();
    QProcess engine;
    startEngine(&engine, profileDir, kPassword, {"QLUMAR_ENGINE_CHANNEL=" + channel.fullServerName()});
    QVERIFY(channel.waitForNewConnection(kStepMs));
    QLocalSocket* socket = channel.nextPendingConnection();
    QByteArray received;
    for (const auto& [question, answer] : QList<QPair<QByteArray, QByteArray>>{
             {"input\t1\tlogin\t\n", "answer\t1\talice\twrong\n"},
             {"input\t2\tlogin\t\trejected\n", "answer\t2\talice\tright\n"}}) {
        QTRY_VERIFY2_WITH_TIMEOUT((received += socket->readAll()).endsWith(question), received.constData(),
                                  kStepMs);
        socket->write(answer);
        socket->flush();
    }
    QVERIFY(waitForOutput(&engine, kConnected));
    engine.terminate();
    QVERIFY(engine.waitForFinished(kStepMs));
    QCOMPARE(engine.exitCode(), 0);
}

void ServiceTest::pkcs12Connects()
{
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    QCOMPARE(runtimeEntries().size(), 1);
    const QString id = runtimeEntries().first();

    // The owner sees the tunnel; another user neither sees nor stops it.
    const QStringList list{"call", "example.qlumar.Velkoro.Tunnel", "/example/qlumar/Velkoro/Tunnel",
                           "example.qlumar.Velkoro.Tunnel1", "List"};
    bool ok = false;
    QStringList out = busctl(kUser, list, &ok);
    QVERIFY2(ok, qPrintable(out.join('\n')));
    QVERIFY2(out.join('\n').contains(id), qPrintable(out.join('\n')));
    out = busctl(kOtherUser, list, &ok);
    QVERIFY2(ok, qPrintable(out.join('\n')));
    QCOMPARE(out.join('\n'), QString("as 0"));
    out = busctl(kOtherUser,
                 {"call", "example.qlumar.Velkoro.Tunnel", "/example/qlumar/Velkoro/Tunnel",
                  "example.qlumar.Velkoro.Tunnel1", "Stop", "s", id},
                 &ok);
    QVERIFY(!ok);
    QVERIFY2(out.join('\n').contains("no connection " + id), qPrintable(out.join('\n')));
    QCOMPARE(engine.state(), QProcess::Running);
    QCOMPARE(runtimeEntries(), QStringList{id});

    // Once OpenVPN runs, the directory holds nothing but the socket, and that is the owner's alone,
    // and the DNS hook's directory, which is root's, where OpenVPN's group (not the user) may pass.
    QCOMPARE(QDir(m_bus.runtimeDir() + "/" + id)
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"hook", "management"}));
    const QFileInfo hookDir(m_bus.runtimeDir() + "/" + id + "/hook");
    QVERIFY(hookDir.isDir() && !hookDir.isSymLink());
    QCOMPARE(hookDir.ownerId(), 0u);
    QCOMPARE(hookDir.groupId(), ::getgrnam(kOpenVpnUser)->gr_gid);
    QCOMPARE(hookDir.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::ExeGroup);
    const QFileInfo socket(m_bus.runtimeDir() + "/" + id + "/management");
    QCOMPARE(socket.ownerId(), uidOf(kUser));
    QCOMPARE(socket.permissions() &
                 (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
             QFile::Permissions());

    // SIGTERM to the engine ends the tunnel the way it ends a direct OpenVPN.
    QVERIFY(::kill(static_cast<pid_t>(engine.processId()), SIGTERM) == 0);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
    QVERIFY2(output.contains("OpenVPN started by the tunnel service, connection " + id.toUtf8()),
             output.constData());
    QVERIFY2(output.contains("Peer Connection Initiated with [AF_INET]127.0.0.1:"), output.constData());
    QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
    QCOMPARE(engine.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    QVERIFY(openVpnClientsGone());
}

void ServiceTest::wrongPassword()
{
    QProcess engine;
    startEngine(&engine, profile(""), "wrong");
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QCOMPARE(output.count(kWrongPassword), 1);
    QVERIFY2(!output.contains(kConnected), output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
}

// A SoftHSM2 token of the engine's user holding the key and its certificate under kKeyLabel.
bool ServiceTest::makeToken(const QString& name, const QString& keyFile, const QString& certFile,
                            QStringList* env)
{
    const QString dir = m_tmp.filePath(name);
    QProcess make;
    make.start("bash", {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/make-test-token"), dir, name, kPin,
                        QString::fromUtf8(kKeyLabel), keyFile, certFile});
    if (!make.waitForFinished(kStepMs) || make.exitCode() != 0) {
        qWarning("make-test-token: %s", make.readAllStandardError().constData());
        return false;
    }
    for (const QByteArray& line : make.readAllStandardOutput().split('\n')) {
        if (line.contains('=')) {
            *env << QString::fromUtf8(line);
        }
    }
    const passwd* user = ::getpwnam(kUser);
    QProcess chown;
    chown.start("chown", {"-R", QString("%1:%2").arg(user->pw_uid).arg(user->pw_gid), dir});
    return chown.waitForFinished(kStepMs) && chown.exitCode() == 0;
}

void ServiceTest::tokenConnects_data()
{
    QTest::addColumn<QString>("keyType");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<bool>("certificateOnToken");
    // TLS 1.3 signs with RSA-PSS: OpenVPN asks the engine for exactly that.
    QTest::newRow("RSA key, TLS 1.3 (RSA-PSS)") << "rsa" << QString(kPin) << true;
    QTest::newRow("ECDSA key, TLS 1.3") << "ec" << QString(kPin) << true;
    // A token with the bare key: the profile's cert file is what OpenVPN gets.
    QTest::newRow("certificate only in the profile") << "ec" << QString(kPin) << false;
    QTest::newRow("wrong PIN") << "rsa"
                               << "9999" << true;
}

void ServiceTest::tokenConnects()
{
    QFETCH(QString, keyType);
    QFETCH(QString, pin);
    QFETCH(bool, certificateOnToken);
    if (QStandardPaths::findExecutable("softhsm2-util").isEmpty() ||
        QStandardPaths::findExecutable("pkcs11-tool").isEmpty()) {
        QSKIP("softhsm2-util and pkcs11-tool are needed (Debian: softhsm2, opensc)");
    }
    const QString pki = m_tmp.filePath("pki");
    const QString name = "token-" + keyType + QString::number(++m_profiles);
    const QString key = pki + "/" + name + ".key";
    QProcess openssl;
    openssl.setWorkingDirectory(pki);
    const auto run = [&](const QStringList& args) {
        openssl.start("openssl", args);
        return openssl.waitForFinished(kStepMs) && openssl.exitCode() == 0;
    };
    QVERIFY(run({"genpkey", "-algorithm", keyType == "ec" ? "EC" : "RSA", "-pkeyopt",
                 keyType == "ec" ? "ec_paramgen_curve:P-256" : "rsa_keygen_bits:2048", "-out", key}));
    QVERIFY(run({"req", "-new", "-key", key, "-out", name + ".csr", "-subj", "/CN=" + name}));
    QVERIFY(run({"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", name + ".crt", "-days", "2", "-extfile", "ext.cnf", "-extensions", "client"}));
    QStringList tokenEnv;
    QVERIFY(makeToken(name, key, certificateOnToken ? pki + "/" + name + ".crt" : QString(), &tokenEnv));

    const QString dir = profile("");
    QFile conf(dir + "/conf");
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("#\n# qLumarVpnName Token\n#\nremote 127.0.0.1\nrport " + QByteArray::number(m_vpn->port()) +
               "\nca ca\ncert user\nkey \"" + kKeyLabel +
               "\"\n\n#\n# configuration template\n#\n\nclient\nnobind\n"
               "proto udp\nremote-cert-tls server\nverb 3\n");
    conf.close();
    QVERIFY(QFile::copy(pki + "/ca.crt", dir + "/ca"));
    QVERIFY(QFile::copy(pki + "/" + name + ".crt", dir + "/user"));
    const passwd* user = ::getpwnam(kUser);
    for (const QString& path : {dir + "/ca", dir + "/user"}) {
        QVERIFY(::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0);
    }

    QProcess engine;
    QProcessEnvironment env = engineEnvironment(QStringList{"QLUMAR_ENGINE="} + tokenEnv);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address());
    engine.setProcessEnvironment(env);
    engine.setWorkingDirectory(dir);
    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start("setpriv",
                 {"--reuid=" + QString(kUser), "--regid=" + QString(kGroup), "--clear-groups", "--",
                  builtProgram("qlumar_openvpn"), "--config", "conf", "--dev", "tun", "--float", "--pull",
                  "--tls-client", "--engkey", "--engine", "dudidudovi:user_pin:" + pin});
    QVERIFY(engine.waitForStarted(kStepMs));
    if (pin != kPin) {
        QVERIFY(engine.waitForFinished(kStepMs));
        const QByteArray output = engine.readAll();
        QCOMPARE(output.count(kWrongPassword), 1);
        QCOMPARE(engine.exitCode(), 1);
        QVERIFY(runtimeEntries().isEmpty());
        return;
    }
    QVERIFY(waitForOutput(&engine, kConnected));
    QVERIFY(::kill(static_cast<pid_t>(engine.processId()), SIGTERM) == 0);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("Control Channel: TLSv1.3"), output.constData());
    QVERIFY2(output.contains("MANAGEMENT: CMD 'pk-sig'"), output.constData());
    QCOMPARE(engine.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
}

void ServiceTest::refusedDirective_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("directive");
    QTest::newRow("up") << QByteArray("up /bin/sh") << QByteArray("up");
    QTest::newRow("plugin") << QByteArray("plugin /tmp/x.so") << QByteArray("plugin");
    QTest::newRow("script-security 2") << QByteArray("script-security 2") << QByteArray("script-security");
    QTest::newRow("setenv LD_PRELOAD") << QByteArray("setenv LD_PRELOAD /tmp/x.so") << QByteArray("setenv");
    QTest::newRow("status") << QByteArray("status /etc/passwd") << QByteArray("status");
}

void ServiceTest::refusedDirective()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, directive);
    QProcess engine;
    startEngine(&engine, profile(line + "\n"), kPassword);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    // The template's line is the profile's line 17.
    QVERIFY2(output.contains("Refused directive '" + directive + "' in line 17"), output.constData());
    QVERIFY2(output.contains("Exiting due to fatal error"), output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QVERIFY(runtimeEntries().isEmpty());
}

// Allowed, but wrong: OpenVPN itself says so and ends before its management socket exists.
void ServiceTest::openVpnRejectsConfig()
{
    QProcess engine;
    startEngine(&engine, profile("proto bogus\n"), kPassword);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("Options error:"), output.constData());
    QVERIFY2(!output.contains(kConnected), output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QVERIFY(runtimeEntries().isEmpty());
}

void ServiceTest::engineKilled()
{
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    QCOMPARE(runtimeEntries().size(), 1);
    engine.kill();
    QVERIFY(engine.waitForFinished(kStepMs));
    // The engine's bus name is gone: the service stops OpenVPN and removes its directory.
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(openVpnClientsGone(), kStepMs);
}

void ServiceTest::notAuthorized()
{
    // The authority refuses "games"; the engine says so in one line.
    const QString dir = profile("");
    const passwd* other = ::getpwnam(kOtherUser);
    for (const QString& path : {dir, dir + "/conf", dir + "/client.p12"}) {
        QVERIFY(::chown(QFile::encodeName(path).constData(), other->pw_uid, other->pw_gid) == 0);
    }
    QProcess engine;
    QProcessEnvironment env = engineEnvironment({"QLUMAR_ENGINE="});
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address());
    engine.setProcessEnvironment(env);
    engine.setWorkingDirectory(dir);
    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start("setpriv", {"--reuid=" + QString(kOtherUser), "--regid=games", "--clear-groups", "--",
                             builtProgram("qlumar_openvpn"), "--config", "conf", "--dev", "tun", "--float",
                             "--pull", "--tls-client", "--keypass", kPassword});
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("Error: the tunnel service refused to start OpenVPN: not authorized"),
             output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QVERIFY(runtimeEntries().isEmpty());
}

void ServiceTest::serviceStopEndsTunnels()
{
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    m_bus.service().terminate();
    QVERIFY(m_bus.service().waitForFinished(kStepMs));
    QVERIFY(engine.waitForFinished(kStepMs));
    QVERIFY(runtimeEntries().isEmpty());
    QVERIFY(openVpnClientsGone());
    QString error;
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

void ServiceTest::ownerStops()
{
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    QCOMPARE(runtimeEntries().size(), 1);
    const QString id = runtimeEntries().first();
    bool ok = false;
    const QStringList out = busctl(kUser,
                                   {"call", "example.qlumar.Velkoro.Tunnel", "/example/qlumar/Velkoro/Tunnel",
                                    "example.qlumar.Velkoro.Tunnel1", "Stop", "s", id},
                                   &ok);
    QVERIFY2(ok, qPrintable(out.join('\n')));
    // OpenVPN ends as after a stop signal, and the engine with it.
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
    QCOMPARE(engine.exitCode(), 0);
    QVERIFY(runtimeEntries().isEmpty());
}

void ServiceTest::perUserLimit()
{
    m_bus.stopService();
    QString error;
    QVERIFY2(m_bus.startService(&error, 600, 0, QString(), QString(), {"--max-connections-per-user", "1"}),
             qPrintable(error));
    QProcess first;
    startEngine(&first, profile(""), kPassword);
    QVERIFY(waitForOutput(&first, kConnected));
    QProcess second;
    startEngine(&second, profile(""), kPassword);
    QVERIFY(second.waitForFinished(kStepMs));
    const QByteArray output = second.readAll();
    QVERIFY2(output.contains("Error: the tunnel service refused to start OpenVPN: a user may have at most 1 "
                             "tunnels at a time; disconnect one first"),
             output.constData());
    QCOMPARE(second.exitCode(), 1);
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(runtimeEntries().size(), 1);

    // The place is free again once the first tunnel has gone.
    first.kill();
    QVERIFY(first.waitForFinished(kStepMs));
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    startEngine(&second, profile(""), kPassword);
    QVERIFY(waitForOutput(&second, kConnected));
    second.kill();
    QVERIFY(second.waitForFinished(kStepMs));
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    m_bus.stopService();
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

void ServiceTest::pushedDnsAppliedAndReverted_data()
{
    QTest::addColumn<bool>("ownerStops");
    QTest::newRow("engine killed") << false;
    QTest::newRow("owner's Stop") << true;
}

void ServiceTest::pushedDnsAppliedAndReverted()
{
    QFETCH(bool, ownerStops);
    m_resolved->fake().clear();
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    const QRegularExpression opened("TUN/TAP device (\\S+) opened");
    const QRegularExpressionMatch device = opened.match(QString::fromUtf8(engine.peek(1 << 24)));
    QVERIFY(device.hasMatch());
    const int ifindex = int(::if_nametoindex(qPrintable(device.captured(1))));
    QVERIFY2(ifindex > 0, qPrintable(device.captured(1)));

    // Before OpenVPN reports the tunnel complete, its hook has been answered: the link has its DNS.
    auto callsFor = [&](const QString& member) {
        QList<QStringList> found;
        for (const BusCall& call : m_resolved->fake().calls()) {
            if (call.member == member && call.ifindex == ifindex) {
                found << call.values;
            }
        }
        return found;
    };
    const QList<QStringList> servers = callsFor("SetLinkDNS");
    QVERIFY(!servers.isEmpty());
    QCOMPARE(servers.last(), QStringList{"2/0a080035"});
    const QList<QStringList> domains = callsFor("SetLinkDomains");
    QVERIFY(!domains.isEmpty());
    QCOMPARE(domains.last(), QStringList{QString(kPushedDomain) + "/search"});
    QVERIFY(callsFor("RevertLink").isEmpty());

    if (ownerStops) {
        QCOMPARE(runtimeEntries().size(), 1);
        bool ok = false;
        const QStringList out =
            busctl(kUser,
                   {"call", "example.qlumar.Velkoro.Tunnel", "/example/qlumar/Velkoro/Tunnel",
                    "example.qlumar.Velkoro.Tunnel1", "Stop", "s", runtimeEntries().first()},
                   &ok);
        QVERIFY2(ok, qPrintable(out.join('\n')));
        QVERIFY(engine.waitForFinished(kStepMs));
    } else {
        engine.kill();
        QVERIFY(engine.waitForFinished(kStepMs));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!callsFor("RevertLink").isEmpty(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
}

// A restart (SIGUSR1, as after ping-restart) that meets other pushed options reopens the tunnel as
// OpenVPN's own user, no longer root: what the server pushes then still reaches the link.
void ServiceTest::pushedDnsAfterRestart()
{
    // Debian's /dev/net/tun is everyone's (0666): OpenVPN, root no longer, reopens the tunnel with the
    // CAP_NET_ADMIN it kept. Where this machine keeps the node root's, the service runs in a mount
    // namespace that sees such a node instead.
    QString error;
    if (!(QFileInfo("/dev/net/tun").permissions() & QFile::WriteOther)) {
        if (QStandardPaths::findExecutable("unshare").isEmpty() ||
            QStandardPaths::findExecutable("mknod").isEmpty()) {
            QSKIP(
                "/dev/net/tun is root's alone here, and unshare or mknod is missing to give OpenVPN another");
        }
        const QString node = m_tmp.filePath("tun");
        const QString wrapper = m_tmp.filePath("service-with-open-tun");
        QFile script(wrapper);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec unshare -m sh -c 'mount --bind \"$0\" /dev/net/tun && exec \"$@\"' " +
                     QFile::encodeName(node) +
                     " " QLUMAR_BUILD_DIR "/libexec/qlumar-tunnel-service-test \"$@\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (!QFileInfo::exists(node)) {
            QVERIFY(QProcess::execute("mknod", {"-m", "0666", node, "c", "10", "200"}) == 0);
        }
        m_bus.stopService();
        QVERIFY2(m_bus.startService(&error, 600, 0, QString(), wrapper), qPrintable(error));
    }
    const auto restoreService = qScopeGuard([this] {
        m_bus.stopService();
        QString error;
        if (!m_bus.startService(&error)) {
            qWarning("service not restarted: %s", qPrintable(error));
        }
    });
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    QCOMPARE(runtimeEntries().size(), 1);
    const QByteArray dir = QFile::encodeName(m_bus.runtimeDir() + "/" + runtimeEntries().first()) + '/';
    pid_t client = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (pid.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(dir)) {
            client = pid.toInt();
        }
    }
    QVERIFY(client > 0);

    // The same port, another subnet and another DNS server.
    const quint16 port = m_vpn->port();
    m_vpn->stop();
    const auto restoreServer = qScopeGuard([this, port] {
        m_vpn->stop();
        QString error;
        if (!m_vpn->start(&error, serverPushes(kPushedDns), port)) {
            qWarning("loopback server not restored: %s", qPrintable(error));
        }
    });
    QVERIFY2(m_vpn->start(&error, serverPushes("10.8.0.54"), port), qPrintable(error));
    m_resolved->fake().clear();
    QVERIFY(::kill(client, SIGUSR1) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        engine.peek(1 << 24).count(kConnected) == 2 || engine.state() != QProcess::Running, kStepMs);
    const QByteArray output = engine.peek(1 << 24);
    QVERIFY2(output.count(kConnected) == 2, output.constData());
    QVERIFY2(output.contains("Pulled options changed on restart"), output.constData());
    QVERIFY2(!output.contains("WARNING: Failed running command"), output.constData());
    bool applied = false;
    for (const BusCall& call : m_resolved->fake().calls()) {
        applied = applied || (call.member == "SetLinkDNS" && call.values == QStringList{"2/0a080036"});
    }
    QVERIFY(applied);

    engine.kill();
    QVERIFY(engine.waitForFinished(kStepMs));
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
}

void ServiceTest::stoppedWhileAuthorizing()
{
    // The user is still looking at the polkit dialog when the manager gives up.
    m_bus.stopService();
    QString error;
    // The authority takes 3 s; with nothing to do afterwards the service exits 2 s later.
    QVERIFY2(m_bus.startService(&error, 2, 3000), qPrintable(error));
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, "Asking the qLumar tunnel service to run OpenVPN"));
    QVERIFY(::kill(static_cast<pid_t>(engine.processId()), SIGTERM) == 0);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
    QCOMPARE(engine.exitCode(), 0);
    // Once the authority has answered, the service starts nothing for a client that has gone, and
    // so has nothing left to do.
    QVERIFY(m_bus.service().waitForFinished(kStepMs));
    QCOMPARE(m_bus.service().exitCode(), 0);
    QVERIFY(runtimeEntries().isEmpty());
    QVERIFY(openVpnClientsGone());
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

void ServiceTest::serviceKilled()
{
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(waitForOutput(&engine, kConnected));
    // No chance to clean up: the engine stops OpenVPN itself.
    m_bus.service().kill();
    QVERIFY(m_bus.service().waitForFinished(kStepMs));
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    QVERIFY2(output.contains("Error: the tunnel service ended"), output.constData());
    QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(openVpnClientsGone(), kStepMs);
    // What the killed service left behind goes when it starts again.
    QString error;
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
    QVERIFY(runtimeEntries().isEmpty());
}

void ServiceTest::idleServiceExits()
{
    // A service with nothing to do goes away by itself; the bus would start it again.
    m_bus.stopService();
    QString error;
    QVERIFY2(m_bus.startService(&error, 2), qPrintable(error));
    QVERIFY(m_bus.service().waitForFinished(kStepMs));
    QCOMPARE(m_bus.service().exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_bus.service().exitCode(), 0);
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

void ServiceTest::openVpnMissing()
{
    m_bus.stopService();
    QString error;
    QVERIFY2(m_bus.startService(&error, 600, 0, m_tmp.filePath("no/openvpn")), qPrintable(error));
    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    QVERIFY(engine.waitForFinished(kStepMs));
    const QByteArray output = engine.readAll();
    const QByteArray line = "Error: the tunnel service refused to start OpenVPN: OpenVPN is not installed (" +
                            QFile::encodeName(m_tmp.filePath("no/openvpn")) +
                            " is missing); install it: apt-get install openvpn";
    QVERIFY2(output.contains(line), output.constData());
    QCOMPARE(engine.exitCode(), 1);
    QVERIFY(runtimeEntries().isEmpty());
    m_bus.stopService();
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

void ServiceTest::shippedServiceAsksPolkit_data()
{
    QTest::addColumn<QByteArray>("rules");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("a rule allows the user")
        << QByteArray("polkit.addRule(function(action, subject) {\n"
                      "    if (action.id == \"example.qlumar.Velkoro.tunnel.connect\" && subject.user == "
                      "\"nobody\")\n"
                      "        return polkit.Result.YES;\n});\n")
        << true;
    // Outside an active local session the action's defaults want an administrator, and no agent
    // is there to ask one.
    QTest::newRow("the action's defaults, no session") << QByteArray("") << false;
}

// The shipped service, with polkit itself deciding.
void ServiceTest::shippedServiceAsksPolkit()
{
    QFETCH(QByteArray, rules);
    QFETCH(bool, allowed);
    const QString missing = PrivateSystemBus::polkitMissing();
    if (!missing.isEmpty()) {
        QSKIP(qPrintable(missing));
    }
    m_bus.stopService();
    QString error;
    QVERIFY2(m_bus.startPolkit(rules, &error), qPrintable(error));
    QVERIFY2(m_bus.startService(&error, 600, 0, QString(),
                                QStringLiteral(QLUMAR_BUILD_DIR "/libexec/qlumar-tunnel-service")),
             qPrintable(error));

    QProcess engine;
    startEngine(&engine, profile(""), kPassword);
    if (allowed) {
        QVERIFY(waitForOutput(&engine, kConnected));
        QVERIFY(::kill(static_cast<pid_t>(engine.processId()), SIGTERM) == 0);
        QVERIFY(engine.waitForFinished(kStepMs));
        QCOMPARE(engine.exitCode(), 0);
    } else {
        QVERIFY(engine.waitForFinished(kStepMs));
        const QByteArray output = engine.readAll();
        QVERIFY2(
            output.contains("Error: the tunnel service refused to start OpenVPN: not authorized by polkit"),
            output.constData());
        QCOMPARE(engine.exitCode(), 1);
    }
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    m_bus.stopService();
    m_bus.stopPolkit();
    QVERIFY2(m_bus.startService(&error), qPrintable(error));
}

// The whole chain as a user meets it: the manager started as that user on an X display with
// --connect, its password prompt answered with the keyboard, the tunnel up through the service, then
// the desktop ending the manager.
void ServiceTest::managerConnectsThroughService()
{
    for (const char* program : {"Xvfb", "xdotool"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            QSKIP(qPrintable(QString("%1 not found (scripts/install-deps installs it)").arg(program)));
        }
    }
    const passwd* user = ::getpwnam(kUser);
    const QString home = m_tmp.filePath("manager-home");
    const QString runtime = m_tmp.filePath("manager-run");
    const QString root = home + "/.qlumar_velkoro_client";
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QDir().rename(profile(""), root + "/loopback"));
    for (const QString& path : {home, root, runtime}) {
        QVERIFY(::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0);
    }
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // Xvfb names the display it took on its standard output once it accepts connections.
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    QVERIFY(xvfb.waitForStarted(kStepMs));
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() != QProcess::Running, kStepMs);
    const QString display = ":" + QString::fromLatin1(xvfb.readLine().trimmed());
    QVERIFY2(display.size() > 1, xvfb.readAllStandardError().constData());

    QProcessEnvironment env = engineEnvironment({"QLUMAR_ENGINE="});
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address());
    // No session bus, and none launched on the display: no keyring, so the password is asked.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_tmp.filePath("no-session-bus"));
    m_resolved->fake().clear();
    QProcess manager;
    manager.setProcessEnvironment(env);
    manager.setProcessChannelMode(QProcess::MergedChannels);
    manager.start("setpriv", {"--reuid=" + QString(kUser), "--regid=" + QString(kGroup), "--clear-groups",
                              "--", builtProgram("qlumar_vpn"), "--connect", "Through the service"});
    QVERIFY(manager.waitForStarted(kStepMs));

    const auto xdotool = [&display](const QStringList& args) {
        QProcess process;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", display);
        process.setProcessEnvironment(xenv);
        process.start("xdotool", args);
        process.waitForFinished(kStepMs);
        return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                       : QString();
    };
    // The prompt's field has the focus once its window has it; typed as a user types.
    QString prompt;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(prompt = xdotool({"search", "--name", "^Enter private key password$"}).section('\n', 0, 0))
             .isEmpty(),
        manager.peek(1 << 20).constData(), kStepMs);
    xdotool({"windowfocus", "--sync", prompt});
    xdotool({"type", "--delay", "20", kPassword});
    xdotool({"key", "Return"});

    // The hook's report reaches resolved before OpenVPN calls the tunnel complete.
    int ifindex = 0;
    const auto pushedDnsLink = [&] {
        for (const BusCall& call : m_resolved->fake().calls()) {
            if (call.member == "SetLinkDNS" && call.values == QStringList{"2/0a080035"}) {
                ifindex = call.ifindex;
            }
        }
        return ifindex > 0;
    };
    // The loopback PKI lasts two days: the manager warns that it expires soon, and the user goes on.
    // Once: a key press more could reach the main window behind it.
    bool warned = false;
    const auto answerWarning = [&] {
        const QString warning =
            warned ? QString()
                   : xdotool({"search", "--name", "^Certificate expires soon$"}).section('\n', 0, 0);
        if (!warning.isEmpty()) {
            warned = true;
            xdotool({"windowfocus", "--sync", warning});
            xdotool({"key", "Return"});
        }
        return false;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(pushedDnsLink() || answerWarning(), manager.peek(1 << 20).constData(), kStepMs);
    char name[IF_NAMESIZE] = {};
    QVERIFY(::if_indextoname(uint(ifindex), name));
    QCOMPARE(runtimeEntries().size(), 1);
    bool ok = false;
    const QStringList listed =
        busctl(kUser,
               {"call", "example.qlumar.Velkoro.Tunnel", "/example/qlumar/Velkoro/Tunnel",
                "example.qlumar.Velkoro.Tunnel1", "List"},
               &ok);
    QVERIFY2(ok && listed.join('\n').contains(runtimeEntries().first()), qPrintable(listed.join('\n')));

    // Ended as the desktop ends it: nothing of the tunnel stays.
    QVERIFY(::kill(static_cast<pid_t>(manager.processId()), SIGTERM) == 0);
    QVERIFY(manager.waitForFinished(kStepMs));
    QCOMPARE(manager.exitStatus(), QProcess::NormalExit);
    QCOMPARE(manager.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(runtimeEntries().isEmpty(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(openVpnClientsGone(), kStepMs);
    QCOMPARE(::if_nametoindex(name), 0u);
    bool reverted = false;
    for (const BusCall& call : m_resolved->fake().calls()) {
        reverted = reverted || (call.member == "RevertLink" && call.ifindex == ifindex);
    }
    QVERIFY(reverted);
    QCOMPARE(QDir(runtime).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    xvfb.terminate();
    xvfb.waitForFinished(kStepMs);
}

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
