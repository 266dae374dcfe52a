// The bundled engine in front of a real OpenVPN. Three parts:
//  - a stand-in "openvpn" script shows what the engine hands over (command line, translated
//    configuration, the private directory); runs everywhere;
//  - a real OpenVPN server on 127.0.0.1 and the real OpenVPN client behind the engine, driven as the
//    manager drives it;
//  - end to end: profiles written by the manager's own save, connected and disconnected through
//    MainWindow.
// The last two need root, /dev/net/tun and openvpn, and are skipped with the reason otherwise.

#include "EngineProcess.h"
#include "LoopbackVpn.h"
#include "TestSupport.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "profiles/OvpnImport.h"
#include "profiles/ProfileSave.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <unistd.h>
#endif

namespace {

const QByteArray kConnected = "Initialization Sequence Completed";
const QByteArray kWrongSecret = "Error: private key password verification failed";
const QByteArray kKeyLabel = "vpn key";
const QString kPassword = "s3cret";
const QString kPin = "1234";
// OpenVPN resends a lost handshake packet after 2, 4, 8 and 16 s, so on a loaded machine a connection
// that does come up can take half a minute. Waits end as soon as their condition holds.
constexpr int kStepMs = 60000;

QStringList engineArgs(bool token, const QString& secret)
{
    QStringList args{"--config", "conf", "--dev", "tun", "--float", "--pull", "--tls-client"};
    if (token) {
        return args + QStringList{"--engkey", "--engine", "dudidudovi:user_pin:" + secret};
    }
    return args + QStringList{"--keypass", secret};
}

// The profile file as the manager writes it: header, template marker, template.
QByteArray profileConf(const QByteArray& host, const QByteArray& port, const QByteArray& credentials,
                       const QByteArray& templ)
{
    return "#\n# qLumarVpnName Real server\n#\nremote " + host + "\nrport " + port + "\n" + credentials +
           "\n#\n# configuration template\n#\n\n" + templ;
}

QByteArray p12Lines(const QString& path)
{
    return "pkcs12 " + path.toUtf8() + "\n";
}

const QByteArray kTokenLines = "ca ca\ncert user\nkey \"" + kKeyLabel + "\"\n";
const QByteArray kClientTemplate = "client\nnobind\nproto udp\nremote-cert-tls server\nverb 3\n";

qint64 parentOf(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

QList<qint64> childrenOf(qint64 parent)
{
    QList<qint64> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && parentOf(pid) == parent) {
            children << pid;
        }
    }
    return children;
}

qint64 openvpnPid(const QByteArray& output)
{
    const auto match =
        QRegularExpression("OpenVPN started, process (\\d+)").match(QString::fromLatin1(output));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Prints what it was given, like an OpenVPN that only reads its configuration, then exits with
// $FAKE_EXIT.
const char* const kStandIn = R"sh(#!/bin/sh
config= pwfile= prev=
for a in "$@"; do
    [ "$prev" = --config ] && config=$a
    [ "$prev" = unix ] && pwfile=$a
    prev=$a
done
for a in "$@"; do printf 'ARG[%s]\n' "$a"; done
echo "DIR $(dirname "$config") $(stat -c %a "$(dirname "$config")")"
echo "STDIN $(readlink /proc/$$/fd/0)"
echo "PASSWORD $(head -n 1 "$pwfile") $(stat -c %a "$pwfile")"
echo "CONFIG-BEGIN"
cat "$config"
echo "CONFIG-END"
echo "a line on standard error" >&2
exit ${FAKE_EXIT:-0}
)sh";

} // namespace

class RealVpnTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void backendChoice_data();
    void backendChoice();
    void confTranslation_data();
    void confTranslation();
    void handOver();
    void staleDirectoriesRemoved();

    void realConnection_data();
    void realConnection();
    void realWrongSecret_data();
    void realWrongSecret();
    void realManagerKilled_data();
    void realManagerKilled();

    void windowConnects_data();
    void windowConnects();
    void windowWrongSecret_data();
    void windowWrongSecret();
    void importedProfilesSignIn_data();
    void importedProfilesSignIn();

private:
    QString saveProfile(const QString& root, bool token);
    void useRealEngine(bool token);
    VpnItem* connectThroughWindow(MainWindow* window, const QString& dirName, const QString& secret);
    bool tool(const QString& program, const QStringList& args, QByteArray* out = nullptr);
    bool makePki();
    bool makeToken();
    bool startServer();
    bool startAuthServer();
    QString profile(const QByteArray& conf, bool token);
    QProcessEnvironment environment(const QStringList& changes) const;
    void start(QProcess* engine, const QString& dir, const QStringList& args, const QStringList& env);
    EngineRun runToEnd(const QString& dir, const QStringList& args, const QStringList& env);

    QTemporaryDir m_tmp;
    int m_profiles = 0;
    QString m_pkiError;
    QString m_tokenError;
    QString m_serverError;
    QStringList m_tokenEnv;
    QString m_openvpn;
    QString m_standIn;
    LoopbackVpn m_vpn{m_tmp.path()};
    quint16 m_port = 0;
    // A second server that checks a username and password (and a static challenge's code) instead of
    // client certificates.
    LoopbackVpn m_authVpn{m_tmp.filePath("auth")};
    QString m_authError;
};

bool RealVpnTest::tool(const QString& program, const QStringList& args, QByteArray* out)
{
    QProcess process;
    process.setWorkingDirectory(m_tmp.path());
    process.setProcessEnvironment(environment({}));
    process.start(program, args);
    const bool ok = process.waitForFinished(kStepMs) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (out) {
        *out = process.readAllStandardOutput();
    }
    if (!ok) {
        process.kill();
        process.waitForFinished();
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(args.join(' ')),
                 process.readAllStandardError().constData());
    }
    return ok;
}

bool RealVpnTest::makePki()
{
    if (QStandardPaths::findExecutable("openssl").isEmpty()) {
        m_pkiError = "openssl not found (Debian: apt-get install openssl)";
        return false;
    }
    return m_vpn.makePki(kPassword, &m_pkiError);
}

bool RealVpnTest::makeToken()
{
    if (QStandardPaths::findExecutable("softhsm2-util").isEmpty()) {
        m_tokenError = "softhsm2-util not found (Debian: apt-get install softhsm2)";
        return false;
    }
    if (QStandardPaths::findExecutable("pkcs11-tool").isEmpty()) {
        m_tokenError = "pkcs11-tool not found (Debian: apt-get install opensc)";
        return false;
    }
    QByteArray envLines;
    if (!tool("bash",
              {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/make-test-token"), m_tmp.filePath("token"),
               "Real VPN Test", kPin, QString::fromUtf8(kKeyLabel), m_tmp.filePath("client.key"),
               m_tmp.filePath("client.crt")},
              &envLines)) {
        m_tokenError = "scripts/make-test-token failed";
        return false;
    }
    for (const QByteArray& line : envLines.split('\n')) {
        if (line.contains('=')) {
            m_tokenEnv << QString::fromUtf8(line);
        }
    }
    return true;
}

bool RealVpnTest::startServer()
{
    if (!m_vpn.start(&m_serverError)) {
        return false;
    }
    m_port = m_vpn.port();
    return true;
}

// Takes alice with the password "right"; with a static challenge the password comes as
// SCRV1:base64(password):base64(code), and the code is noted in "codes" for the test to see.
const char* const kVerifyScript = R"sh(#!/bin/sh
user=$(sed -n 1p "$1")
pass=$(sed -n 2p "$1")
[ "$user" = alice ] || exit 1
case "$pass" in
right) exit 0 ;;
SCRV1:*)
    [ "$(echo "$pass" | cut -d: -f2 | base64 -d)" = right ] || exit 1
    echo "$pass" | cut -d: -f3 | base64 -d >>"$(dirname "$0")/codes"
    echo >>"$(dirname "$0")/codes"
    exit 0 ;;
esac
exit 1
)sh";

bool RealVpnTest::startAuthServer()
{
    const QString dir = m_tmp.filePath("auth");
    QDir().mkpath(dir);
    for (const char* name : {"ca.crt", "server.crt", "server.key"})
        QFile::copy(m_tmp.filePath(name), dir + "/" + name);
    QFile script(dir + "/verify.sh");
    if (!script.open(QIODevice::WriteOnly) || script.write(kVerifyScript) <= 0)
        return false;
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return m_authVpn.start(&m_authError,
                           {"--script-security", "2", "--auth-user-pass-verify", script.fileName(),
                            "via-file", "--verify-client-cert", "none", "--username-as-common-name"});
}

void RealVpnTest::initTestCase()
{
#ifndef Q_OS_LINUX
    QSKIP("the engine runs a real OpenVPN on Linux only");
#else
    QVERIFY(m_tmp.isValid());
    QVERIFY2(QFile::exists(QStringLiteral(QLUMAR_BIN_DIR "/qlumar_openvpn")), "build qlumar_openvpn first");
    QVERIFY(QDir().mkpath(m_tmp.filePath("tmp")));

    m_standIn = m_tmp.filePath("bin/openvpn");
    QVERIFY(QDir().mkpath(m_tmp.filePath("bin")));
    QFile standIn(m_standIn);
    QVERIFY(standIn.open(QIODevice::WriteOnly) && standIn.write(kStandIn) > 0);
    standIn.close();
    QVERIFY(standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    if (makePki()) {
        makeToken();
    } else {
        m_tokenError = m_pkiError;
    }

    m_openvpn = QStandardPaths::findExecutable("openvpn");
    if (m_openvpn.isEmpty()) {
        m_openvpn = QStandardPaths::findExecutable("openvpn", {"/usr/local/sbin", "/usr/sbin", "/sbin"});
    }
    if (!m_pkiError.isEmpty()) {
        m_serverError = m_pkiError;
    } else if (::geteuid() != 0) {
        m_serverError = "a real tunnel needs root (tun device, addresses); run the test as root";
    } else if (!QFileInfo::exists("/dev/net/tun")) {
        m_serverError = "/dev/net/tun is missing";
    } else if (m_openvpn.isEmpty()) {
        m_serverError = "openvpn not found (Debian: apt-get install openvpn)";
    } else {
        startServer();
    }
    m_authError = m_serverError;
    if (m_authError.isEmpty() && !startAuthServer() && m_authError.isEmpty())
        m_authError = "cannot write the test server's verify script";
#endif
}

void RealVpnTest::cleanupTestCase()
{
    const qint64 pid = m_vpn.serverPid();
    if (pid > 0) {
        m_vpn.stop();
        QVERIFY(processGone(pid));
    }
    const qint64 authPid = m_authVpn.serverPid();
    if (authPid > 0) {
        m_authVpn.stop();
        QVERIFY(processGone(authPid));
    }
}

QString RealVpnTest::profile(const QByteArray& conf, bool token)
{
    const QString dir = m_tmp.filePath(QString("profiles/%1").arg(++m_profiles, 4, 16, QChar('0')));
    QDir().mkpath(dir);
    QFile file(dir + "/conf");
    if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size()) {
        qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    if (token) {
        // The manager's copies of the chosen certificates.
        QFile::copy(m_tmp.filePath("ca.crt"), dir + "/ca");
        QFile::copy(m_tmp.filePath("client.crt"), dir + "/user");
    }
    return dir;
}

QProcessEnvironment RealVpnTest::environment(const QStringList& changes) const
{
    return engineEnvironment(QStringList{"TMPDIR=" + m_tmp.filePath("tmp")} + m_tokenEnv + changes);
}

void RealVpnTest::start(QProcess* engine, const QString& dir, const QStringList& args, const QStringList& env)
{
    startEngine(engine, dir, args, environment(env), kStepMs);
}

EngineRun RealVpnTest::runToEnd(const QString& dir, const QStringList& args, const QStringList& env)
{
    return runEngineToEnd(dir, args, environment(env), kStepMs);
}

void RealVpnTest::backendChoice_data()
{
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("code");

    const QString standIn = m_tmp.filePath("bin/openvpn");
    const QByteArray runs = "Running OpenVPN: " + standIn.toUtf8();
    const QByteArray simulated = "Peer Connection Initiated with [AF_INET]127.0.0.1:1194";
    const QString path = "PATH=" + m_tmp.filePath("bin") + ":/usr/bin:/bin";
    QTest::newRow("neither variable, as root: openvpn from PATH")
        << QStringList{"QLUMAR_ENGINE=", path} << runs << 0;
    QTest::newRow("QLUMAR_OPENVPN alone: that program")
        << QStringList{"QLUMAR_OPENVPN=" + standIn} << runs << 0;
    QTest::newRow("QLUMAR_ENGINE=openvpn: openvpn from PATH")
        << QStringList{"QLUMAR_ENGINE=openvpn", path} << runs << 0;
    QTest::newRow("QLUMAR_ENGINE=openvpn with QLUMAR_OPENVPN: that program")
        << QStringList{"QLUMAR_ENGINE=openvpn", "QLUMAR_OPENVPN=" + standIn, "PATH=/usr/bin:/bin"} << runs
        << 0;
    QTest::newRow("QLUMAR_OPENVPN as a bare name: looked up in PATH")
        << QStringList{"QLUMAR_OPENVPN=openvpn", path} << runs << 0;
    QTest::newRow("QLUMAR_ENGINE=simulator wins over QLUMAR_OPENVPN")
        << QStringList{"QLUMAR_ENGINE=simulator", "QLUMAR_OPENVPN=" + standIn} << simulated << 0;
    QTest::newRow("QLUMAR_OPENVPN not a program: an error, not the simulator")
        << QStringList{"QLUMAR_OPENVPN=" + m_tmp.filePath("bin/absent")}
        << QByteArray("is not an executable program") << 1;
    QTest::newRow("QLUMAR_OPENVPN a directory: an error")
        << QStringList{"QLUMAR_OPENVPN=" + m_tmp.filePath("bin")}
        << QByteArray("is not an executable program") << 1;
    QTest::newRow("unknown QLUMAR_ENGINE: an error")
        << QStringList{"QLUMAR_ENGINE=real"} << QByteArray("Invalid value for QLUMAR_ENGINE: 'real'") << 1;
}

void RealVpnTest::backendChoice()
{
    SKIP_UNLESS_EMPTY(m_pkiError);
    QFETCH(QStringList, env);
    QFETCH(QByteArray, expected);
    QFETCH(int, code);

    const QString dir =
        profile(profileConf("127.0.0.1", "1194", p12Lines(m_tmp.filePath("client.p12")), ""), false);
    const EngineRun run =
        runToEnd(dir, engineArgs(false, kPassword), env + QStringList{"QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QVERIFY2(run.output.contains(expected), run.output.constData());
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, code);
}

void RealVpnTest::confTranslation_data()
{
    QTest::addColumn<bool>("token");
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QByteArrayList>("present");
    QTest::addColumn<QByteArrayList>("absent");

    QTest::newRow("manager's PKCS#12 lines: rport onto remote, path with blanks quoted")
        << false << profileConf("vpn.example.org", "4443", p12Lines("/home/me/My Keys/a\"b.p12"), "")
        << QByteArrayList{"\nremote vpn.example.org 4443\n", "\n# [qlumar_openvpn] rport 4443\n",
                          "\npkcs12 \"/home/me/My Keys/a\\\"b.p12\"\n"}
        << QByteArrayList{"\nrport "};
    QTest::newRow("template remotes: own port kept, others get rport")
        << false
        << profileConf("vpn.example.org", "1194", p12Lines("a.p12"),
                       "remote backup.example.org 443 tcp\nremote third.example.org\n")
        << QByteArrayList{"\nremote backup.example.org 443 tcp\n", "\nremote third.example.org 1194\n",
                          "\npkcs12 a.p12\n"}
        << QByteArrayList{};
    QTest::newRow("quoted template values stay as written")
        << false << profileConf("h", "1", p12Lines("a.p12"), "ca \"my ca.crt\"\ncert 'my cert.crt'\n")
        << QByteArrayList{"\nca \"my ca.crt\"\n", "\ncert 'my cert.crt'\n"} << QByteArrayList{};
    QTest::newRow("lines that take OpenVPN out of reach are left out, with warnings")
        << false
        << profileConf("h", "1", p12Lines("a.p12"),
                       "daemon\nlog /var/log/x.log\nlog-append y\nsyslog\nmanagement 127.0.0.1 7505\n"
                       "management-hold\naskpass pw.txt\nverb 4\n")
        << QByteArrayList{"\n# [qlumar_openvpn] daemon\n",
                          "\n# [qlumar_openvpn] log /var/log/x.log\n",
                          "\n# [qlumar_openvpn] management 127.0.0.1 7505\n",
                          "\nverb 4\n",
                          "conf:12: 'daemon' is not passed to OpenVPN",
                          "conf:14: 'log-append' is not passed",
                          "conf:16: 'management' is not passed",
                          "conf:17: 'management-hold' is not passed",
                          "conf:18: 'askpass' is not passed"}
        << QByteArrayList{"\ndaemon\n", "ARG[7505]"};
    QTest::newRow("inline blocks are copied untouched")
        << false
        << profileConf("h", "1", p12Lines("a.p12"), "<connection>\nremote inner.example.org\n</connection>\n")
        << QByteArrayList{"\n<connection>\nremote inner.example.org\n</connection>\n"}
        << QByteArrayList{"remote inner.example.org 1"};
    QTest::newRow("CRLF template: line for line, without carriage returns")
        << false << profileConf("h", "1", p12Lines("a.p12"), "client\r\nremote second.example.org\r\nverb 3")
        << QByteArrayList{"\nclient\nremote second.example.org 1\nverb 3\nCONFIG-END"}
        << QByteArrayList{"\r"};
    QTest::newRow("token profile: key and certificate come from the token")
        << true << profileConf("vpn.example.org", "1194", kTokenLines, "pkcs11-id 'x'\npkcs12 other.p12\n")
        << QByteArrayList{"\nca ca\n",
                          "\n# [qlumar_openvpn] cert user\n",
                          "\n# [qlumar_openvpn] key \"" + kKeyLabel + "\"\n",
                          "\n# [qlumar_openvpn] pkcs11-id 'x'\n",
                          "\n# [qlumar_openvpn] pkcs12 other.p12\n",
                          "ARG[--pkcs11-providers]\nARG[/",
                          "ARG[--pkcs11-id-management]",
                          "PKCS#11: found the certificate of key '" + kKeyLabel + "'"}
        << QByteArrayList{"dudidudovi", "ARG[--engkey]"};
}

void RealVpnTest::confTranslation()
{
    QFETCH(bool, token);
    QFETCH(QByteArray, conf);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    const QString secret = token ? kPin : kPassword;
    const EngineRun run =
        runToEnd(profile(conf, token), engineArgs(token, secret), {"QLUMAR_OPENVPN=" + m_standIn});
    for (const QByteArray& text : present) {
        QVERIFY2(run.output.contains(text), qPrintable("missing: " + text + "\n" + run.output));
    }
    for (const QByteArray& text : absent) {
        QVERIFY2(!run.output.contains(text), qPrintable("unexpected: " + text + "\n" + run.output));
    }
    // One line of OpenVPN's configuration per line of the profile.
    const QByteArray config = run.output.mid(run.output.indexOf("CONFIG-BEGIN\n") + 13);
    QCOMPARE(config.left(config.indexOf("CONFIG-END")).count('\n'),
             conf.count('\n') + (conf.endsWith('\n') ? 0 : 1));
    QCOMPARE(run.code, 0);
}

void RealVpnTest::handOver()
{
    const QString secret = "pass word \"with\" \\ and --dashes";
    const QString dir = profile(profileConf("h", "1", p12Lines("a.p12"), "verb 3\n"), false);
    const EngineRun run =
        runToEnd(dir, engineArgs(false, secret) + QStringList{"--mute-replay-warnings", "--verb", "4"},
                 {"QLUMAR_OPENVPN=" + m_standIn, "FAKE_EXIT=3"});
    const QString output = QString::fromUtf8(run.output);

    // The manager's flags, then the ones the engine does not know, in order; no secret anywhere.
    QVERIFY2(run.output.contains("ARG[--dev]\nARG[tun]\nARG[--float]\nARG[--pull]\nARG[--tls-client]\n"
                                 "ARG[--mute-replay-warnings]\nARG[--verb]\nARG[4]\n"),
             run.output.constData());
    QVERIFY(!output.contains(secret));
    QVERIFY(!output.contains("--keypass"));
    QVERIFY(run.output.contains("ARG[--management-client]\nARG[--management-query-passwords]\n"));

    // A private directory, gone with the engine, holding the configuration and a random password for
    // the management interface.
    const auto dirLine = QRegularExpression("\nDIR (\\S+) (\\d+)\n").match(output);
    QVERIFY2(dirLine.hasMatch(), run.output.constData());
    const QByteArray privateDir = dirLine.captured(1).toUtf8();
    QVERIFY(privateDir.startsWith(m_tmp.filePath("tmp/qlumar_openvpn.").toUtf8()));
    QCOMPARE(dirLine.captured(2), QString("700"));
    QVERIFY(!QFileInfo::exists(QString::fromUtf8(privateDir)));
    QVERIFY2(run.output.contains("ARG[--management]\nARG[" + privateDir + "/management]\nARG[unix]\nARG[" +
                                 privateDir + "/management.pw]\n"),
             run.output.constData());
    QVERIFY2(QRegularExpression("\nPASSWORD [0-9a-f]{32} 600\n").match(output).hasMatch(),
             run.output.constData());
    QVERIFY(run.output.contains("\nSTDIN /dev/null\n"));

    // Both output streams arrive, and the exit code is OpenVPN's.
    QVERIFY(run.output.contains("a line on standard error"));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 3);
}

// Disconnect kills the engine with SIGKILL; before OpenVPN has connected its private directory is
// still there. The next engine of the same user removes it, and only what is surely stale.
void RealVpnTest::staleDirectoriesRemoved()
{
    const QString tmp = m_tmp.filePath("tmp-stale");
    QVERIFY(QDir().mkpath(tmp));
    const QString hangs = m_tmp.filePath("bin/openvpn-hangs");
    QFile script(hangs);
    QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\nexec sleep 600\n") > 0);
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString dir = profile(profileConf("h", "1", p12Lines("a.p12"), "verb 3\n"), false);
    const QStringList env{"QLUMAR_OPENVPN=" + hangs, "TMPDIR=" + tmp};
    auto privateDirs = [&] {
        return QDir(tmp).entryList({"qlumar_openvpn.*"}, QDir::AllEntries | QDir::System | QDir::Hidden);
    };

    QProcess killed;
    start(&killed, dir, engineArgs(false, kPassword), env);
    QTRY_COMPARE_WITH_TIMEOUT(privateDirs().size(), 1, kStepMs);
    const QString stale = privateDirs().first();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tmp + "/" + stale + "/management.pw"), kStepMs);
    killed.kill();
    QVERIFY(killed.waitForFinished(kStepMs));
    QVERIFY(QFileInfo::exists(tmp + "/" + stale + "/openvpn.conf"));

    // What must stay: a live engine's directory, a link to a dead engine's, a directory without an
    // owner (still being made).
    QFile stat("/proc/self/stat");
    QVERIFY(stat.open(QIODevice::ReadOnly));
    const QByteArray self = stat.readAll();
    const QByteArray startTime = self.mid(self.lastIndexOf(')') + 2).split(' ').value(19);
    QVERIFY(!startTime.isEmpty());
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    auto makeDir = [&](const QString& name, const QByteArray& owner) {
        QVERIFY(QDir().mkpath(tmp + "/" + name));
        if (!owner.isEmpty()) {
            QVERIFY(ScratchHome::writeFile(tmp + "/" + name + "/owner", owner));
        }
    };
    makeDir("qlumar_openvpn.alive", pid + " " + startTime + "\n");
    makeDir("qlumar_openvpn.noowner", {});
    // The same pid with another start time: a process that took the number of a dead engine.
    makeDir("qlumar_openvpn.reused", pid + " 1\n");
    makeDir("elsewhere", "999999999 1\n");
    QVERIFY(QFile::link(tmp + "/elsewhere", tmp + "/qlumar_openvpn.link"));

    QProcess next;
    start(&next, dir, engineArgs(false, kPassword), env);
    QTRY_VERIFY_WITH_TIMEOUT(!privateDirs().contains(stale), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(!privateDirs().contains("qlumar_openvpn.reused"), kStepMs);
    for (const char* kept : {"qlumar_openvpn.alive", "qlumar_openvpn.noowner", "qlumar_openvpn.link"}) {
        QVERIFY2(privateDirs().contains(QString(kept)), kept);
    }
    QVERIFY(QFileInfo::exists(tmp + "/elsewhere/owner"));
    next.kill();
    QVERIFY(next.waitForFinished(kStepMs));
}

void RealVpnTest::realConnection_data()
{
    QTest::addColumn<bool>("token");
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QString>("launcher");

    QTest::newRow("PKCS#12, then killed as Disconnect does") << false << true << QString();
    QTest::newRow("PKCS#12, then SIGTERM") << false << false << QString();
    QTest::newRow("token key, then killed as Disconnect does") << true << true << QString();
    QTest::newRow("token key, then SIGTERM") << true << false << QString();
    // An OpenVPN with file capabilities loses the parent-death signal at exec.
    QTest::newRow("PKCS#12 without parent-death signal, then killed")
        << false << true << QString("exec SETPRIV --pdeathsig clear OPENVPN \"$@\"\n");
    // Like sudo: OpenVPN is the helper's child, and nothing passes the engine's death on to it.
    QTest::newRow("token key through a helper that forks, then killed")
        << true << true
        << QString("exec SETPRIV --pdeathsig clear /bin/sh -c '\"$0\" \"$@\"; exit $?' OPENVPN \"$@\"\n");
}

void RealVpnTest::realConnection()
{
    SKIP_UNLESS_EMPTY(m_serverError);
    QFETCH(bool, token);
    QFETCH(bool, killed);
    QFETCH(QString, launcher);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    QString program = m_openvpn;
    if (!launcher.isEmpty()) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty()) {
            QSKIP("setpriv (util-linux) not found");
        }
        program = m_tmp.filePath(QString("bin/launcher%1").arg(++m_profiles));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" +
                     QString(launcher).replace("SETPRIV", setpriv).replace("OPENVPN", m_openvpn).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    const QByteArray credentials = token ? kTokenLines : p12Lines(m_tmp.filePath("client.p12"));
    const QString dir =
        profile(profileConf("127.0.0.1", QByteArray::number(m_port), credentials, kClientTemplate), token);
    QProcess engine;
    start(&engine, dir, engineArgs(token, token ? kPin : kPassword), {"QLUMAR_OPENVPN=" + program});
    QByteArray output;
    QTRY_VERIFY2_WITH_TIMEOUT((output += engine.readAll()).contains(kConnected), output.constData(), kStepMs);
    QVERIFY(
        output.contains("Peer Connection Initiated with [AF_INET]127.0.0.1:" + QByteArray::number(m_port)));

    const qint64 pid = openvpnPid(output);
    QVERIFY2(pid > 0, output.constData());
    QCOMPARE(parentOf(pid), engine.processId());
    // OpenVPN, and with a forking helper OpenVPN's parent too.
    const QList<qint64> openvpn = QList<qint64>{pid} + childrenOf(pid);
    QCOMPARE(openvpn.size(), launcher.contains("/bin/sh -c") ? 2 : 1);
    // Neither OpenVPN's command line nor, once it has read it, the engine's shows the secret.
    for (const qint64 process : openvpn + QList<qint64>{engine.processId()}) {
        QFile cmdline(QString("/proc/%1/cmdline").arg(process));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        const QByteArray args = cmdline.readAll();
        QVERIFY2(!args.contains((token ? kPin : kPassword).toUtf8()), args.constData());
    }
    // The private directory went as soon as OpenVPN had read it.
    QCOMPARE(QDir(m_tmp.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    if (killed) {
        engine.kill();
        QVERIFY(engine.waitForFinished(kStepMs));
        QCOMPARE(engine.exitStatus(), QProcess::CrashExit);
    } else {
        engine.terminate();
        QVERIFY(engine.waitForFinished(kStepMs));
        output += engine.readAll();
        QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
        QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(engine.exitCode(), 0);
    }
    for (const qint64 process : openvpn) {
        QTRY_VERIFY_WITH_TIMEOUT(processGone(process), kStepMs);
    }
}

void RealVpnTest::realWrongSecret_data()
{
    QTest::addColumn<bool>("token");
    QTest::addColumn<QString>("secret");

    QTest::newRow("PKCS#12, wrong password") << false << QString("secret");
    QTest::newRow("PKCS#12, empty password") << false << QString();
    QTest::newRow("token, wrong PIN") << true << QString("4321");
    QTest::newRow("token, empty PIN") << true << QString();
}

void RealVpnTest::realWrongSecret()
{
    SKIP_UNLESS_EMPTY(m_serverError);
    QFETCH(bool, token);
    QFETCH(QString, secret);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    const QByteArray credentials = token ? kTokenLines : p12Lines(m_tmp.filePath("client.p12"));
    const QString dir =
        profile(profileConf("127.0.0.1", QByteArray::number(m_port), credentials, kClientTemplate), token);
    const EngineRun run = runToEnd(dir, engineArgs(token, secret), {"QLUMAR_OPENVPN=" + m_openvpn});
    // Said once, so the manager asks once; and the engine ends with OpenVPN gone.
    QCOMPARE(run.output.count(kWrongSecret), 1);
    QVERIFY(run.output.contains("Exiting due to fatal error"));
    QVERIFY(!run.output.contains(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
    const qint64 pid = openvpnPid(run.output);
    QVERIFY2(pid > 0, run.output.constData());
    QVERIFY(processGone(pid));
}

void RealVpnTest::realManagerKilled_data()
{
    QTest::addColumn<bool>("stdinPipe");

    // A parent killed outright; its background job has /dev/null as standard input.
    QTest::newRow("parent killed") << false;
    // The manager's pipe on the standard input ends, though the parent lives on.
    QTest::newRow("standard input closed") << true;
}

void RealVpnTest::realManagerKilled()
{
    SKIP_UNLESS_EMPTY(m_serverError);
    QFETCH(bool, stdinPipe);

    const QString dir = profile(profileConf("127.0.0.1", QByteArray::number(m_port),
                                            p12Lines(m_tmp.filePath("client.p12")), kClientTemplate),
                                false);
    const QStringList env{"QLUMAR_OPENVPN=" + m_openvpn};
    QProcess process;
    if (stdinPipe) {
        start(&process, dir, engineArgs(false, kPassword), env);
    } else {
        // The manager stands in as a shell: killed with SIGKILL, nothing of it runs any more.
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(dir);
        process.setProcessEnvironment(environment(env));
        process.start("/bin/sh", QStringList{"-c", "\"$@\" & echo \"ENGINE $!\"; wait", "sh",
                                             builtProgram("qlumar_openvpn")} +
                                     engineArgs(false, kPassword));
        QVERIFY(process.waitForStarted(kStepMs));
    }
    QByteArray output;
    QTRY_VERIFY2_WITH_TIMEOUT((output += process.readAll()).contains(kConnected), output.constData(),
                              kStepMs);
    qint64 engine = process.processId();
    if (!stdinPipe) {
        const auto match = QRegularExpression("ENGINE (\\d+)").match(QString::fromLatin1(output));
        QVERIFY2(match.hasMatch(), output.constData());
        engine = match.captured(1).toLongLong();
    }
    const qint64 openvpn = openvpnPid(output);
    QVERIFY2(openvpn > 0, output.constData());
    QVERIFY(!processGone(engine));

    if (stdinPipe) {
        process.closeWriteChannel();
    } else {
        process.kill();
    }
    QTRY_VERIFY_WITH_TIMEOUT(processGone(engine), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(openvpn), kStepMs);
    process.waitForFinished(kStepMs);
}

QString RealVpnTest::saveProfile(const QString& root, bool token)
{
    // What the New connection wizard hands over, the template being an imported client .ovpn file.
    ProfileFields fields;
    fields.name = token ? "Real token" : "Real PKCS#12";
    fields.server = "127.0.0.1:" + QString::number(m_port);
    fields.templateContents = kClientTemplate;
    if (token) {
        fields.caField = m_tmp.filePath("ca.crt");
        fields.userField = m_tmp.filePath("client.crt");
        fields.keyField = QString::fromUtf8(kKeyLabel);
        fields.caContents = ScratchHome::readFile(fields.caField);
        fields.userContents = ScratchHome::readFile(fields.userField);
    } else {
        fields.pkcs12Field = m_tmp.filePath("client.p12");
    }
    const SaveResult saved = ProfileSave::save(token ? ProfileKind::CertificateAndKey : ProfileKind::Pkcs12,
                                               fields, QString(), root);
    return saved.status == SaveResult::Saved ? saved.dirName : QString();
}

// The manager passes its own environment on to the engine.
void RealVpnTest::useRealEngine(bool token)
{
    for (const QString& name : QProcessEnvironment::systemEnvironment().keys()) {
        if (name.startsWith("QLUMAR_") || name == "SOFTHSM2_CONF") {
            qunsetenv(qPrintable(name));
        }
    }
    qputenv("QLUMAR_OPENVPN", QFile::encodeName(m_openvpn));
    qputenv("TMPDIR", QFile::encodeName(m_tmp.filePath("tmp")));
    for (const QString& change : token ? m_tokenEnv : QStringList()) {
        qputenv(qPrintable(change.section('=', 0, 0)), change.section('=', 1).toUtf8());
    }
}

VpnItem* RealVpnTest::connectThroughWindow(MainWindow* window, const QString& dirName, const QString& secret)
{
    auto* list = window->findChild<QListWidget*>("vpnList");
    VpnItem* item = nullptr;
    for (int i = 0; i < list->count() && !item; ++i) {
        auto* candidate = static_cast<VpnItem*>(list->item(i));
        item = candidate->dirName() == dirName ? candidate : nullptr;
    }
    if (!item) {
        return nullptr;
    }
    const QPoint point = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
    auto* connect = window->findChild<QAction*>("connectAction");
    if (!connect->isEnabled()) {
        return nullptr;
    }
    Prompt::answerText(secret);
    connect->trigger();
    return item;
}

void RealVpnTest::windowConnects_data()
{
    QTest::addColumn<bool>("token");
    QTest::addColumn<bool>("byExit");

    QTest::newRow("PKCS#12 profile, Disconnect") << false << false;
    QTest::newRow("token-key profile, Disconnect") << true << false;
    QTest::newRow("PKCS#12 profile, Exit") << false << true;
}

void RealVpnTest::windowConnects()
{
    SKIP_UNLESS_EMPTY(m_serverError);
    QFETCH(bool, token);
    QFETCH(bool, byExit);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    ScratchHome home;
    QVERIFY(home.enterRoot());
    const QString dirName = saveProfile(home.rootPath(), token);
    QVERIFY(!dirName.isEmpty());
    useRealEngine(token);
    Prompt::setTestMode(true);
    Prompt::reset();

    MainWindow window;
    window.show();
    VpnItem* item = connectThroughWindow(&window, dirName, token ? kPin : kPassword);
    QVERIFY(item);
    QVERIFY(window.isVpnRunning());
    auto* logView = window.findChild<QPlainTextEdit*>("vpnLog");
    QTRY_VERIFY2_WITH_TIMEOUT(window.isVpnInitialized(), qPrintable(logView->toPlainText()), kStepMs);

    const QByteArray log = logView->toPlainText().toLatin1();
    QVERIFY(log.contains("Peer Connection Initiated with [AF_INET]127.0.0.1:" + QByteArray::number(m_port)));
    QCOMPARE(window.tray()->toolTip().section('\n', 0, 0), "qLumar VPN - " + item->vpnName());
    // OpenVPN's own state and address, over the management interface and the engine channel.
    QTRY_VERIFY_WITH_TIMEOUT(window.statusText().contains(" · 10.213."), kStepMs);
    QCOMPARE(window.lastBalloon().title, QString("Connected"));
    const qint64 pid = openvpnPid(log);
    QVERIFY2(pid > 0, log.constData());
    QVERIFY(!processGone(pid));

    if (byExit) {
        window.hide();
        QTimer::singleShot(0, window.findChild<QAction*>("exitAction"), &QAction::trigger);
        QCOMPARE(QCoreApplication::exec(), 0);
    } else {
        window.findChild<QAction*>("disconnectAction")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVpnRunning(), kStepMs);
        QCOMPARE(window.lastBalloon().title, QString("Disconnected"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), kStepMs);
    for (const Prompt::Shown& shown : Prompt::messages()) {
        QVERIFY2(shown.text != "Incorrect password!", "a right secret was taken for a wrong one");
    }
}

void RealVpnTest::windowWrongSecret_data()
{
    QTest::addColumn<bool>("token");
    QTest::addColumn<QString>("secret");

    QTest::newRow("PKCS#12 profile, wrong password") << false << QString("S3CRET");
    QTest::newRow("token-key profile, wrong PIN") << true << QString("0000");
}

void RealVpnTest::windowWrongSecret()
{
    SKIP_UNLESS_EMPTY(m_serverError);
    QFETCH(bool, token);
    QFETCH(QString, secret);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    ScratchHome home;
    QVERIFY(home.enterRoot());
    const QString dirName = saveProfile(home.rootPath(), token);
    QVERIFY(!dirName.isEmpty());
    useRealEngine(token);
    Prompt::setTestMode(true);
    Prompt::reset();

    MainWindow window;
    window.show();
    QVERIFY(connectThroughWindow(&window, dirName, secret));
    QVERIFY(window.isVpnRunning());
    // The engine ends by itself once the secret has been refused; the manager is idle again.
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVpnRunning(), kStepMs);
    QVERIFY(!window.isVpnInitialized());
    // No balloon: the password prompt asks again, and the status line keeps the reason.
    QCOMPARE(window.balloonCount(), 0);
    QVERIFY2(window.statusText().endsWith(" failed: The password or PIN was not accepted."),
             qPrintable(window.statusText()));

    int incorrect = 0;
    for (const Prompt::Shown& shown : Prompt::messages()) {
        incorrect += shown.text == "Incorrect password!" ? 1 : 0;
    }
    QCOMPARE(incorrect, 1);
    const QByteArray log = window.findChild<QPlainTextEdit*>("vpnLog")->toPlainText().toLatin1();
    QVERIFY(!log.contains(kConnected));
    const qint64 pid = openvpnPid(log);
    QVERIFY2(pid > 0, log.constData());
    QVERIFY(processGone(pid));
}

void RealVpnTest::importedProfilesSignIn_data()
{
    QTest::addColumn<QByteArray>("credentials"); // the file's own lines for signing in
    QTest::addColumn<bool>("wrongFirst");        // a wrong password before the right one

    QTest::newRow("inline certificate and key")
        << QByteArray("<cert>\n@client.crt@</cert>\n<key>\n@client.key@</key>\n") << false;
    QTest::newRow("username and password, a wrong one first") << QByteArray("auth-user-pass\n") << true;
    QTest::newRow("static challenge")
        << QByteArray("auth-user-pass\nstatic-challenge \"Code from the app\" 1\n") << false;
}

// .ovpn files as providers ship them, imported and connected through the window to a real server.
void RealVpnTest::importedProfilesSignIn()
{
    QFETCH(QByteArray, credentials);
    QFETCH(bool, wrongFirst);
    const bool login = credentials.contains("auth-user-pass");
    SKIP_UNLESS_EMPTY(login ? m_authError : m_serverError);

    QByteArray text = "client\ndev tun\nproto udp\nremote 127.0.0.1 " +
                      QByteArray::number(login ? m_authVpn.port() : m_port) +
                      "\nnobind\nremote-cert-tls server\nverb 3\n<ca>\n@ca.crt@</ca>\n" + credentials;
    for (const char* name : {"ca.crt", "client.crt", "client.key"})
        text.replace("@" + QByteArray(name) + "@", ScratchHome::readFile(m_tmp.filePath(name)));
    ScratchHome home;
    QVERIFY(home.enterRoot());
    OvpnImport import;
    QVERIFY2(import.read(text, "Imported", m_tmp.path()), qPrintable(import.error()));
    if (import.needsPkcs12Password())
        QVERIFY(import.setPkcs12Password(kPassword));
    const SaveResult saved = import.write(home.rootPath());
    QCOMPARE(saved.status, SaveResult::Saved);
    QFile::remove(m_tmp.filePath("auth/codes"));
    useRealEngine(false);
    Prompt::setTestMode(true);
    Prompt::reset();
    if (wrongFirst)
        Prompt::answerLogin("alice", "wrong", false);
    if (login)
        Prompt::answerLogin("alice", "right", false);

    MainWindow window;
    window.show();
    // The key's password, or the one-time code: the only text prompt each has.
    QVERIFY(connectThroughWindow(&window, saved.dirName, login ? QString("424242") : kPassword));
    QTRY_VERIFY2_WITH_TIMEOUT(window.isVpnInitialized(),
                              qPrintable(window.findChild<QPlainTextEdit*>("vpnLog")->toPlainText()),
                              2 * kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(window.statusText().contains(" · 10.213."), kStepMs);
    int logins = 0;
    int rejected = 0;
    for (const Prompt::Shown& shown : Prompt::history()) {
        logins += shown.kind == Prompt::Kind::Login ? 1 : 0;
        rejected += shown.text == "The server rejected the username or password." ? 1 : 0;
    }
    QCOMPARE(logins, login ? (wrongFirst ? 2 : 1) : 0);
    QCOMPARE(rejected, wrongFirst ? 1 : 0);
    if (credentials.contains("static-challenge"))
        QCOMPARE(ScratchHome::readFile(m_tmp.filePath("auth/codes")), QByteArray("424242\n"));

    const qint64 pid = openvpnPid(window.findChild<QPlainTextEdit*>("vpnLog")->toPlainText().toLatin1());
    window.findChild<QAction*>("disconnectAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVpnRunning(), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), kStepMs);
}

QTEST_MAIN(RealVpnTest)
#include "tst_realvpn.moc"
