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
constexpr int kStepMs = 30000;
// The engine's user, and another one who must not see its tunnels.
const char* const kUser = "nobody";
const char* const kGroup = "nogroup";
const char* const kOtherUser = "games";
// The user OpenVPN drops to (see PrivateSystemBus).
const char* const kOpenVpnUser = "daemon";
// What the loopback server pushes; the service puts it on the client's link through resolved.
const char* const kPushedDns = "10.8.0.53";
const char* const kPushedDomain = "corp.example";

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
    void pushedDnsAppliedAndReverted_data();
    void pushedDnsAppliedAndReverted();
    void stoppedWhileAuthorizing();
    void notAuthorized();
    void serviceStopEndsTunnels();
    void serviceKilled();
    void idleServiceExits();
    void openVpnMissing();
    void shippedServiceAsksPolkit_data();
    void shippedServiceAsksPolkit();

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
    QVERIFY2(m_vpn->start(&error, {"--push", QString("dhcp-option DNS %1").arg(kPushedDns), "--push",
                                   QString("dhcp-option DOMAIN %1").arg(kPushedDomain)}),
             qPrintable(error));

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
    // and the DNS hook's directory, which is root's alone.
    QCOMPARE(QDir(m_bus.runtimeDir() + "/" + id)
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"hook", "management"}));
    const QFileInfo hookDir(m_bus.runtimeDir() + "/" + id + "/hook");
    QVERIFY(hookDir.isDir() && !hookDir.isSymLink());
    QCOMPARE(hookDir.ownerId(), 0u);
    QCOMPARE(hookDir.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
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
    // TLS 1.3 signs with RSA-PSS: OpenVPN asks the engine for exactly that.
    QTest::newRow("RSA key, TLS 1.3 (RSA-PSS)") << "rsa" << QString(kPin);
    QTest::newRow("ECDSA key, TLS 1.3") << "ec" << QString(kPin);
    QTest::newRow("wrong PIN") << "rsa"
                               << "9999";
}

void ServiceTest::tokenConnects()
{
    QFETCH(QString, keyType);
    QFETCH(QString, pin);
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
    QVERIFY(makeToken(name, key, pki + "/" + name + ".crt", &tokenEnv));

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

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
