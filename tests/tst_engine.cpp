#include "EngineProcess.h"
#include "TestSupport.h"

// Drives the bundled engine as the manager does: a profile directory as working directory, the
// exact command lines the manager builds, and nothing but the output and exit status to go by.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QtTest>

namespace {

const QByteArray kConnected = "Initialization Sequence Completed";
const QByteArray kWrongSecret = "Error: private key password verification failed";
const QStringList kCommon = {"--dev", "tun", "--float", "--pull", "--tls-client"};
constexpr int kTimeoutMs = 30000;

QStringList p12Args(const QString& password)
{
    return QStringList{"--config", "conf"} + kCommon + QStringList{"--keypass", password};
}

QStringList tokenArgs(const QString& pin)
{
    return QStringList{"--config", "conf"} + kCommon +
           QStringList{"--engkey", "--engine", "dudidudovi:user_pin:" + pin};
}

QByteArray header(const QByteArray& name, const QByteArray& remote, const QByteArray& port)
{
    return "#\n# qLumarVpnName " + name + "\n#\nremote " + remote + "\nrport " + port + "\n";
}

const QByteArray kTemplate = "\n#\n# configuration template\n#\n\nclient\nverb 3\n";

QByteArray p12Conf(const QString& p12Path)
{
    return header("Test PKCS#12", "vpn.example.org", "1194") + "pkcs12 " + p12Path.toUtf8() + "\n" +
           kTemplate;
}

QByteArray tokenConf(const QByteArray& keyLabel)
{
    return header("Test token", "vpn.example.org", "1194") + "ca ca\ncert user\nkey \"" + keyLabel + "\"\n" +
           kTemplate;
}

const QString kFakeOpenVpn = QStringLiteral(QLUMAR_BIN_DIR "/fake_openvpn");
const QString kFakeModule = QStringLiteral(QLUMAR_BIN_DIR "/fake_pkcs11.so");

} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void refusedCommandLines_data();
    void refusedCommandLines();
    void unknownOptionIsIgnored();

    void profileProblems_data();
    void profileProblems();
    void profileDirectivesAreRead();

    void pkcs12Opens_data();
    void pkcs12Opens();
    void pkcs12StaysUpUntilKilled();
    void pkcs12WrongPassword_data();
    void pkcs12WrongPassword();

    void tokenStaysUpUntilKilled();
    void tokenRefused_data();
    void tokenRefused();

    void stopSignalExitsCleanly_data();
    void stopSignalExitsCleanly();

    void exitAfterSwitch();
    void crashSwitch_data();
    void crashSwitch();
    void floodSwitch();
    void startDelaySwitch();
    void malformedSwitch();

    void managerDeathEndsEngine_data();
    void managerDeathEndsEngine();
    void openVpnInheritsNoFiles_data();
    void openVpnInheritsNoFiles();
    void unanswerableRequestsEnd_data();
    void unanswerableRequestsEnd();
    void lockedPinIsNoWrongPin_data();
    void lockedPinIsNoWrongPin();

    void managerChannel();
    void signInThroughManagement();
    void managerChannelFailure_data();
    void managerChannelFailure();

private:
    QString fakeError() const;
    QString makeProfile(const QByteArray& conf, const QStringList& files = {});
    QProcessEnvironment environment(const QStringList& changes) const;
    void start(QProcess* process, const QString& dir, const QStringList& args, const QStringList& env);
    EngineRun runToEnd(const QString& dir, const QStringList& args, const QStringList& env = {});

    QTemporaryDir m_tmp;
    int m_profiles = 0;
    QString m_opensslError;
    QString m_tokenError;
    QStringList m_tokenEnv;
    QString m_goodP12;
    QString m_legacyP12;
};

QString EngineTest::makeProfile(const QByteArray& conf, const QStringList& files)
{
    const QString dir = m_tmp.filePath(QString("profile%1").arg(++m_profiles, 4, 10, QChar('0')));
    QDir().mkpath(dir);
    if (!conf.isNull()) {
        QFile file(dir + "/conf");
        if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size()) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
    }
    // "dir:NAME" puts a directory where the engine expects a file.
    for (const QString& name : files) {
        if (name.startsWith("dir:")) {
            QDir(dir).mkpath(name.mid(4));
        } else {
            // The engine only looks for these files; their content is the real engine's business.
            QFile file(dir + "/" + name);
            if (!file.open(QIODevice::WriteOnly) || file.write("placeholder certificate\n") < 0) {
                qFatal("cannot write %s", qPrintable(file.fileName()));
            }
        }
    }
    return dir;
}

QProcessEnvironment EngineTest::environment(const QStringList& changes) const
{
    return engineEnvironment(m_tokenEnv + changes);
}

void EngineTest::start(QProcess* process, const QString& dir, const QStringList& args, const QStringList& env)
{
    startEngine(process, dir, args, environment(env), kTimeoutMs);
}

EngineRun EngineTest::runToEnd(const QString& dir, const QStringList& args, const QStringList& env)
{
    return runEngineToEnd(dir, args, environment(env), kTimeoutMs);
}

void EngineTest::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY2(QFile::exists(QStringLiteral(QLUMAR_BIN_DIR "/qlumar_openvpn")) ||
                 QFile::exists(QStringLiteral(QLUMAR_BIN_DIR "/qlumar_openvpn.exe")),
             "build the qlumar_openvpn target first");

    const auto tool = [this](const QString& program, const QStringList& args, QByteArray* out = nullptr) {
        QProcess process;
        process.setWorkingDirectory(m_tmp.path());
        process.setProcessEnvironment(environment({}));
        process.start(program, args);
        const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                        process.exitCode() == 0;
        if (out) {
            *out = process.readAllStandardOutput();
        }
        if (!ok) {
            qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        }
        return ok;
    };

    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty()) {
        m_opensslError = "openssl not found (Debian: apt-get install openssl)";
    } else if (!tool(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                               "cert.pem", "-subj", "/CN=engine test", "-days", "2"}) ||
               !tool(openssl, {"pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out",
                               "good.p12", "-passout", "pass:s3cret"}) ||
               !tool(openssl, {"pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out",
                               "dashes.p12", "-passout", "pass:--keypass two words"}) ||
               !tool(openssl, {"pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out",
                               "nopass.p12", "-passout", "pass:"}) ||
               !tool(openssl, {"x509", "-in", "cert.pem", "-signkey", "key.pem", "-days", "-1", "-out",
                               "expired.pem"}) ||
               !tool(openssl, {"pkcs12", "-export", "-inkey", "key.pem", "-in", "expired.pem", "-out",
                               "expired.p12", "-passout", "pass:s3cret"})) {
        m_opensslError = "openssl could not make the PKCS#12 fixtures";
    } else {
        m_goodP12 = m_tmp.filePath("good.p12");
        // Old exporters' RC2/3DES files; an OpenSSL without its legacy provider cannot make them.
        if (tool(openssl, {"pkcs12", "-export", "-legacy", "-inkey", "key.pem", "-in", "cert.pem", "-out",
                           "legacy.p12", "-passout", "pass:old"})) {
            m_legacyP12 = m_tmp.filePath("legacy.p12");
        }
    }

#ifdef Q_OS_WIN
    m_tokenError = "the SoftHSM2 token fixture needs a POSIX shell";
#else
    QByteArray envLines;
    if (!m_opensslError.isEmpty()) {
        m_tokenError = m_opensslError;
    } else if (QStandardPaths::findExecutable("softhsm2-util").isEmpty()) {
        m_tokenError = "softhsm2-util not found (Debian: apt-get install softhsm2)";
    } else if (!tool("bash",
                     {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/make-test-token"), m_tmp.filePath("token"),
                      "Engine Test", "1234", "test key", m_tmp.filePath("key.pem")},
                     &envLines)) {
        m_tokenError = "scripts/make-test-token failed";
    } else {
        for (const QByteArray& line : envLines.split('\n')) {
            if (line.contains('=')) {
                // The script quotes values only when they need it; the temporary paths never do.
                m_tokenEnv << QString::fromUtf8(line);
            }
        }
        if (m_tokenEnv.size() != 2) {
            m_tokenError = "unexpected make-test-token output: " + QString::fromUtf8(envLines);
        }
    }
#endif
}

void EngineTest::refusedCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");

    const QStringList config{"--config", "conf"};
    QTest::newRow("no arguments") << QStringList() << QByteArray("Missing required option --config");
    QTest::newRow("no --config") << kCommon + QStringList{"--keypass", "x"}
                                 << QByteArray("Missing required option --config");
    QTest::newRow("--config without file")
        << QStringList{"--config"} << QByteArray("Option --config needs a parameter");
    QTest::newRow("--keypass without value")
        << config + kCommon + QStringList{"--keypass"} << QByteArray("Option --keypass needs a parameter");
    QTest::newRow("stray word") << p12Args("x") + QStringList{"stray"}
                                << QByteArray("Unexpected argument 'stray'");
    QTest::newRow("repeated --config")
        << config + p12Args("x") << QByteArray("--config given more than once");
    QTest::newRow("no --tls-client") << config +
                                            QStringList{"--dev", "tun", "--float", "--pull", "--keypass", "x"}
                                     << QByteArray("Missing required option --tls-client");
    QTest::newRow("tap device") << config + QStringList{"--dev",        "tap",       "--float", "--pull",
                                                        "--tls-client", "--keypass", "x"}
                                << QByteArray("Unsupported device type 'tap'");
    QTest::newRow("no credentials") << config + kCommon << QByteArray("No private key credentials");
    QTest::newRow("both credentials")
        << tokenArgs("1") + QStringList{"--keypass", "x"} << QByteArray("cannot be used together");
    QTest::newRow("--engkey alone") << config + kCommon + QStringList{"--engkey"}
                                    << QByteArray("Option --engkey needs --engine");
    QTest::newRow("--engine alone") << config + kCommon + QStringList{"--engine", "dudidudovi:user_pin:1"}
                                    << QByteArray("Option --engine needs --engkey");
    QTest::newRow("other engine") << config + kCommon + QStringList{"--engkey", "--engine", "pkcs11:1"}
                                  << QByteArray("Unsupported engine 'pkcs11:1'");
}

void EngineTest::refusedCommandLines()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);

    // A profile that would connect, so only the command line can be at fault.
    const EngineRun run = runToEnd(makeProfile(p12Conf(m_goodP12)), args);
    QVERIFY2(run.output.contains(message), run.output.constData());
    QVERIFY(run.output.contains("Options error: "));
    QVERIFY(!run.output.contains(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

void EngineTest::unknownOptionIsIgnored()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    const EngineRun run =
        runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret") + QStringList{"--verb", "4"},
                 {"QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QVERIFY2(run.output.contains("WARNING: ignoring unsupported option: --verb 4"), run.output.constData());
    QVERIFY(run.output.contains(kConnected));
    QCOMPARE(run.code, 0);
}

void EngineTest::profileProblems_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");

    const QStringList both{"ca", "user"};
    const QByteArray noRemote =
        "#\n# qLumarVpnName x\n#\nrport 1194\nca ca\ncert user\nkey \"k\"\n" + kTemplate;
    QTest::newRow("no conf") << QByteArray() << QStringList() << tokenArgs("1")
                             << QByteArray("Error opening configuration file: conf (no such file)");
    QTest::newRow("conf is a directory") << QByteArray() << QStringList{"dir:conf"} << tokenArgs("1")
                                         << QByteArray("conf (not a regular file)");
    QTest::newRow("no remote") << noRemote << both << tokenArgs("1") << QByteArray("no remote host given");
    QTest::newRow("commented-out remote") << "# remote vpn.example.org\n" + noRemote << both << tokenArgs("1")
                                          << QByteArray("no remote host given");
    QTest::newRow("bad rport") << tokenConf("k").replace("rport 1194", "rport 99999") << both
                               << tokenArgs("1") << QByteArray("conf:5: invalid port '99999'");
    QTest::newRow("missing ca") << tokenConf("k") << QStringList{"user"} << tokenArgs("1")
                                << QByteArray("cannot load CA certificate file 'ca': no such file");
    QTest::newRow("ca is a directory")
        << tokenConf("k") << QStringList{"dir:ca", "user"} << tokenArgs("1")
        << QByteArray("cannot load CA certificate file 'ca': not a regular file");
    QTest::newRow("missing cert") << tokenConf("k") << QStringList{"ca"} << tokenArgs("1")
                                  << QByteArray("cannot load certificate file 'user': no such file");
    QTest::newRow("missing pkcs12") << p12Conf("absent.p12") << QStringList() << p12Args("x")
                                    << QByteArray("cannot load PKCS#12 file 'absent.p12': no such file");
    QTest::newRow("pkcs12 is not PKCS#12")
        << p12Conf("ca") << QStringList{"ca"} << p12Args("x") << QByteArray("'ca' is not a PKCS#12 file");
    QTest::newRow("--keypass on a token profile")
        << tokenConf("k") << both << p12Args("x") << QByteArray("names no pkcs12 file");
    QTest::newRow("PIN on a PKCS#12 profile")
        << p12Conf("ca") << QStringList{"ca"} << tokenArgs("1") << QByteArray("names no private key");
}

void EngineTest::profileProblems()
{
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, files);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);

    const EngineRun run = runToEnd(makeProfile(conf, files), args);
    QVERIFY2(run.output.contains(message), run.output.constData());
    QVERIFY(run.output.contains("Exiting due to fatal error"));
    QVERIFY(!run.output.contains(kWrongSecret));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

void EngineTest::profileDirectivesAreRead()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    // Repeated directives: the last one counts. Values with blanks are taken whole.
    const QString spaced = m_tmp.filePath("with space.p12");
    QVERIFY(QFile::copy(m_goodP12, spaced));
    const QByteArray conf = header("Repeats", "first.example.org", "1") + "; a comment\n" +
                            "remote second.example.org\n   rport 4443  \npkcs12 " + spaced.toUtf8() + "\n" +
                            kTemplate + "dev tun\n";
    const EngineRun run = runToEnd(makeProfile(conf), p12Args("s3cret"), {"QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QVERIFY2(run.output.contains("Peer Connection Initiated with [AF_INET]second.example.org:4443"),
             run.output.constData());
    QVERIFY(run.output.contains("Profile: Repeats"));
    QCOMPARE(run.code, 0);
}

void EngineTest::pkcs12Opens_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");

    QTest::newRow("password") << QString("good.p12") << QString("s3cret");
    QTest::newRow("password that looks like options")
        << QString("dashes.p12") << QString("--keypass two words");
    QTest::newRow("no password") << QString("nopass.p12") << QString();
    if (!m_legacyP12.isEmpty()) {
        QTest::newRow("legacy encryption") << QString("legacy.p12") << QString("old");
    }
}

void EngineTest::pkcs12Opens()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(QString, file);
    QFETCH(QString, password);

    const EngineRun run = runToEnd(makeProfile(p12Conf(m_tmp.filePath(file))), p12Args(password),
                                   {"QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QVERIFY2(run.output.contains("subject=/CN=engine test"), run.output.constData());
    QVERIFY(run.output.contains(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 0);
}

void EngineTest::pkcs12StaysUpUntilKilled()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QProcess engine;
    start(&engine, makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"), {});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains(kConnected), kTimeoutMs);
    QVERIFY(output.contains("TLS: Initial packet from [AF_INET]vpn.example.org:1194"));
    // Nothing ends the connection but the manager.
    QVERIFY(!engine.waitForFinished(500));
    engine.kill();
    QVERIFY(engine.waitForFinished(kTimeoutMs));
    QCOMPARE(engine.exitStatus(), QProcess::CrashExit);
}

void EngineTest::pkcs12WrongPassword_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");

    QTest::newRow("wrong") << QString("good.p12") << QString("secret");
    QTest::newRow("wrong case") << QString("good.p12") << QString("S3CRET");
    QTest::newRow("empty") << QString("good.p12") << QString();
    QTest::newRow("password on a file without one") << QString("nopass.p12") << QString("s3cret");
}

void EngineTest::pkcs12WrongPassword()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(QString, file);
    QFETCH(QString, password);

    const EngineRun run = runToEnd(makeProfile(p12Conf(m_tmp.filePath(file))), p12Args(password));
    QVERIFY2(run.output.contains(kWrongSecret + "\n"), run.output.constData());
    QVERIFY(run.output.contains("Exiting due to fatal error"));
    QVERIFY(!run.output.contains(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

void EngineTest::tokenStaysUpUntilKilled()
{
    SKIP_UNLESS_EMPTY(m_tokenError);
    QProcess engine;
    start(&engine, makeProfile(tokenConf("test key"), {"ca", "user"}), tokenArgs("1234"), {});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains(kConnected), kTimeoutMs);
    QVERIFY(output.contains("PKCS#11: found private key 'test key'"));
    QVERIFY(!engine.waitForFinished(500));
    engine.kill();
    QVERIFY(engine.waitForFinished(kTimeoutMs));
    QCOMPARE(engine.exitStatus(), QProcess::CrashExit);
}

void EngineTest::tokenRefused_data()
{
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QByteArray>("keyLabel");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("wrong PIN") << QString("4321") << QByteArray("test key") << QStringList() << kWrongSecret;
    QTest::newRow("empty PIN") << QString() << QByteArray("test key") << QStringList() << kWrongSecret;
    QTest::newRow("PIN with a suffix")
        << QString("12345") << QByteArray("test key") << QStringList() << kWrongSecret;
    QTest::newRow("no such key") << QString("1234") << QByteArray("test") << QStringList()
                                 << QByteArray("Cannot find private key 'test' in the token");
    QTest::newRow("no module variable")
        << QString("1234") << QByteArray("test key") << QStringList{"QLUMAR_PKCS11_MODULE="}
        << QByteArray("no PKCS#11 token module is configured: set QLUMAR_PKCS11_MODULE");
    QTest::newRow("module is no library") << QString("1234") << QByteArray("test key")
                                          << QStringList{"QLUMAR_PKCS11_MODULE=" + m_tmp.filePath("cert.pem")}
                                          << QByteArray("cannot load PKCS#11 module");
    QTest::newRow("no token with the label")
        << QString("1234") << QByteArray("test key") << QStringList{"QLUMAR_PKCS11_TOKEN_LABEL=Other"}
        << QByteArray("no PKCS#11 token labelled 'Other'");
}

void EngineTest::tokenRefused()
{
    SKIP_UNLESS_EMPTY(m_tokenError);
    QFETCH(QString, pin);
    QFETCH(QByteArray, keyLabel);
    QFETCH(QStringList, env);
    QFETCH(QByteArray, message);

    const EngineRun run = runToEnd(makeProfile(tokenConf(keyLabel), {"ca", "user"}), tokenArgs(pin), env);
    QVERIFY2(run.output.contains(message), run.output.constData());
    QCOMPARE(run.output.contains(kWrongSecret), message == kWrongSecret);
    QVERIFY(!run.output.contains(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

void EngineTest::stopSignalExitsCleanly_data()
{
    QTest::addColumn<QByteArray>("waitFor");
    QTest::addColumn<bool>("connected");

    QTest::newRow("connected") << kConnected << true;
    // Stuck in the handshake: the stop request must not wait for the connect delay.
    QTest::newRow("connecting") << QByteArray("UDP link remote") << false;
}

void EngineTest::stopSignalExitsCleanly()
{
#ifdef Q_OS_WIN
    QSKIP("QProcess::terminate() sends no console control event on Windows");
#endif
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(QByteArray, waitFor);
    QFETCH(bool, connected);

    QProcess engine;
    start(&engine, makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
          {connected ? "QLUMAR_ENGINE_CONNECT_DELAY_MS=0" : "QLUMAR_ENGINE_CONNECT_DELAY_MS=600000"});
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains(waitFor), kTimeoutMs);
    engine.terminate();
    QVERIFY(engine.waitForFinished(kTimeoutMs));
    output += engine.readAll();
    QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
    QCOMPARE(output.contains(kConnected), connected);
    QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
    QCOMPARE(engine.exitCode(), 0);
}

void EngineTest::exitAfterSwitch()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    const EngineRun run = runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
                                   {"QLUMAR_ENGINE_EXIT_AFTER_MS=50", "QLUMAR_ENGINE_EXIT_CODE=3"});
    QVERIFY2(run.output.contains(kConnected), run.output.constData());
    QVERIFY(run.output.indexOf("Connection closed by peer") > run.output.indexOf(kConnected));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 3);
}

void EngineTest::crashSwitch_data()
{
    QTest::addColumn<QString>("point");
    QTest::addColumn<QByteArray>("lastLine");
    QTest::addColumn<bool>("connected");

    QTest::newRow("start") << QString("start") << QByteArray("Profile: Test PKCS#12") << false;
    QTest::newRow("connecting") << QString("connecting") << QByteArray("Peer Connection Initiated") << false;
    QTest::newRow("connected") << QString("connected") << kConnected << true;
    QTest::newRow("1 means connected") << QString("1") << kConnected << true;
}

void EngineTest::crashSwitch()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(QString, point);
    QFETCH(QByteArray, lastLine);
    QFETCH(bool, connected);

    const EngineRun run =
        runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"), {"QLUMAR_ENGINE_CRASH=" + point});
    QVERIFY2(run.output.contains(lastLine), run.output.constData());
    QCOMPARE(run.output.contains(kConnected), connected);
    QVERIFY(!run.output.contains("process exiting"));
    QCOMPARE(run.status, QProcess::CrashExit);
}

void EngineTest::floodSwitch()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    const int lines = 20000;
    const EngineRun run =
        runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
                 {"QLUMAR_ENGINE_FLOOD_LINES=" + QString::number(lines), "QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QCOMPARE(run.code, 0);
    const QByteArray before = run.output.left(run.output.indexOf(kConnected));
    QList<QByteArray> flood;
    for (const QByteArray& line : before.split('\n')) {
        if (line.contains("Data Channel: packet")) {
            flood << line;
        }
    }
    QCOMPARE(flood.size(), lines);
    // Whole lines in order, of the size a benchmark counts on.
    QVERIFY(flood.first().contains("packet 000000001 "));
    QVERIFY(flood.last().contains(QByteArray("packet ") + QByteArray::number(lines).rightJustified(9, '0')));
    for (const QByteArray& line : {flood.first(), flood.last()}) {
        QVERIFY2(line.size() >= 80 && line.size() <= 160, line.constData());
    }
}

void EngineTest::startDelaySwitch()
{
    SKIP_UNLESS_EMPTY(m_opensslError);
    QElapsedTimer timer;
    timer.start();
    const EngineRun run = runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
                                   {"QLUMAR_ENGINE_START_DELAY_MS=400", "QLUMAR_ENGINE_CONNECT_DELAY_MS=0",
                                    "QLUMAR_ENGINE_EXIT_AFTER_MS=0"});
    QVERIFY(run.output.contains(kConnected));
    QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
}

void EngineTest::malformedSwitch()
{
    // A typo in a test switch must not pass as the default.
    const EngineRun run = runToEnd(makeProfile(tokenConf("k"), {"ca", "user"}), tokenArgs("1234"),
                                   {"QLUMAR_ENGINE_CONNECT_DELAY_MS=3s"});
    QVERIFY2(run.output.contains("Invalid value for QLUMAR_ENGINE_CONNECT_DELAY_MS: '3s'"),
             run.output.constData());
    QVERIFY(!run.output.contains(kConnected));
    QCOMPARE(run.code, 1);
}

QString EngineTest::fakeError() const
{
#ifndef Q_OS_LINUX
    return "the engine runs OpenVPN on Linux only";
#else
    if (!QFileInfo(kFakeOpenVpn).isExecutable() || !QFileInfo::exists(kFakeModule)) {
        return "build the fake_openvpn and fake_pkcs11 targets first";
    }
    return m_opensslError;
#endif
}

void EngineTest::managerDeathEndsEngine_data()
{
    QTest::addColumn<bool>("throughParent");

    // The parent-death signal: a parent killed outright. Its background job's standard input is
    // /dev/null, so only the signal can tell.
    QTest::newRow("parent killed") << true;
    // The manager's end of the standard input pipe, which closes whoever the parent is by now.
    QTest::newRow("standard input closed") << false;
}

void EngineTest::managerDeathEndsEngine()
{
#ifndef Q_OS_LINUX
    QSKIP("the parent-death signal is Linux only");
#endif
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(bool, throughParent);

    const QString dir = makeProfile(p12Conf(m_goodP12));
    QProcess process;
    QByteArray output;
    qint64 enginePid = -1;
    if (throughParent) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(dir);
        process.setProcessEnvironment(environment({}));
        process.start("/bin/sh", QStringList{"-c", "\"$@\" & echo \"ENGINE $!\"; wait", "sh",
                                             builtProgram("qlumar_openvpn")} +
                                     p12Args("s3cret"));
        QVERIFY(process.waitForStarted(kTimeoutMs));
    } else {
        start(&process, dir, p12Args("s3cret"), {});
        enginePid = process.processId();
    }
    QTRY_VERIFY_WITH_TIMEOUT((output += process.readAll()).contains(kConnected), kTimeoutMs);
    if (throughParent) {
        const auto match = QRegularExpression("ENGINE (\\d+)").match(QString::fromLatin1(output));
        QVERIFY2(match.hasMatch(), output.constData());
        enginePid = match.captured(1).toLongLong();
    }
    // A standard input of /dev/null, or one still open, keeps it up.
    QVERIFY(!process.waitForFinished(300));
    QVERIFY(!processGone(enginePid));

    if (throughParent) {
        process.kill();
        QVERIFY(process.waitForFinished(kTimeoutMs));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(enginePid), kTimeoutMs);
    } else {
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(kTimeoutMs));
        output += process.readAll();
        QVERIFY2(output.contains("SIGTERM[hard,] received, process exiting"), output.constData());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
}

void EngineTest::openVpnInheritsNoFiles_data()
{
    QTest::addColumn<bool>("token");

    QTest::newRow("PKCS#12 profile") << false;
    // The token's module was loaded, and had its own files open, before OpenVPN started.
    QTest::newRow("token profile") << true;
}

void EngineTest::openVpnInheritsNoFiles()
{
    SKIP_UNLESS_EMPTY(fakeError());
    QFETCH(bool, token);
    if (token) {
        SKIP_UNLESS_EMPTY(m_tokenError);
    }

    const QString dir = token ? makeProfile(tokenConf("test key"), {"ca"}) : makeProfile(p12Conf(m_goodP12));
    if (token) {
        // The token holds no certificate: the profile's copy says which one to use.
        QVERIFY(QFile::copy(m_tmp.filePath("cert.pem"), dir + "/user"));
    }
    const EngineRun run =
        runToEnd(dir, token ? tokenArgs("1234") : p12Args("s3cret"), {"QLUMAR_OPENVPN=" + kFakeOpenVpn});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.output.contains("FD 0 -> /dev/null"), run.output.constData());
    QVERIFY(run.output.contains("FD 1 -> "));
    QVERIFY(run.output.contains("FD 2 -> "));
    const QRegularExpression other("^FD (\\d+) -> (.*)$", QRegularExpression::MultilineOption);
    for (auto it = other.globalMatch(QString::fromUtf8(run.output)); it.hasNext();) {
        const auto match = it.next();
        QVERIFY2(match.captured(1).toInt() <= 2, qPrintable("inherited: " + match.captured(0)));
    }
}

void EngineTest::unanswerableRequestsEnd_data()
{
    QTest::addColumn<QByteArray>("say");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("confirmation") << QByteArray(">NEED-OK:Need 'token-insertion-request' confirmation "
                                                "MSG:Please insert your cryptographic token")
                                  << QByteArray(
                                         "Error: OpenVPN waits for a confirmation 'token-insertion-request' "
                                         "(Please insert your cryptographic token), which qLumar Velkoro "
                                         "cannot give");
    QTest::newRow("unknown input") << QByteArray(">NEED-STR:Need 'profile-choice' input MSG:Choose one")
                                   << QByteArray(
                                          "Error: OpenVPN waits for an input 'profile-choice' (Choose one)");
    QTest::newRow("input without a name")
        << QByteArray(">NEED-STR:") << QByteArray("Error: OpenVPN waits for an input ''");
    QTest::newRow("absurd certificate count")
        << QByteArray(">PKCS11ID-COUNT:99999999999999999999")
        << QByteArray("more than the 1000 qLumar Velkoro looks through");
    QTest::newRow("just over the certificate limit")
        << QByteArray(">PKCS11ID-COUNT:1001") << QByteArray("Error: OpenVPN reports 1001 certificates");
}

void EngineTest::unanswerableRequestsEnd()
{
    SKIP_UNLESS_EMPTY(fakeError());
    QFETCH(QByteArray, say);
    QFETCH(QByteArray, message);

    const EngineRun run =
        runToEnd(makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
                 {"QLUMAR_OPENVPN=" + kFakeOpenVpn, "FAKE_OPENVPN_SAY=" + QString::fromUtf8(say)});
    QVERIFY2(run.output.contains(message), run.output.constData());
    QVERIFY(run.output.contains("Exiting due to fatal error"));
    QVERIFY(!run.output.contains("CMD[pkcs11-id-get"));
    QVERIFY(!run.output.contains(kWrongSecret));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

void EngineTest::lockedPinIsNoWrongPin_data()
{
    QTest::addColumn<bool>("simulator");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("message");

    const QByteArray locked = "Error: the token's PIN is locked (CKR_PIN_LOCKED)";
    const QByteArray expired = "Error: the token's PIN has expired (CKR_PIN_EXPIRED)";
    const QString flagsFile = "FAKE_PKCS11_FLAGS_FILE=" + m_tmp.filePath("token-flags");
    QTest::newRow("simulator, locked") << true << QStringList{"FAKE_PKCS11_LOGIN_RV=0xa4"} << locked;
    QTest::newRow("simulator, expired") << true << QStringList{"FAKE_PKCS11_LOGIN_RV=0xa3"} << expired;
    QTest::newRow("OpenVPN, locked before the start")
        << false << QStringList{flagsFile, "FAKE_OPENVPN_FLAGS_BEFORE=0x40000"} << locked;
    QTest::newRow("OpenVPN, expired before the start")
        << false << QStringList{flagsFile, "FAKE_OPENVPN_FLAGS_BEFORE=0x80000"} << expired;
    // OpenVPN's own login attempt locked the token, and OpenVPN asks again.
    QTest::newRow("OpenVPN, locked by OpenVPN")
        << false
        << QStringList{flagsFile, "FAKE_OPENVPN_FLAGS_FILE=" + m_tmp.filePath("token-flags"),
                       "FAKE_OPENVPN_FLAGS=0x40000",
                       "FAKE_OPENVPN_SAY=>PASSWORD:Need 'Stand-in token' password\n"
                       ">PASSWORD:Need 'Stand-in token' password"}
        << locked;
}

void EngineTest::lockedPinIsNoWrongPin()
{
    SKIP_UNLESS_EMPTY(fakeError());
    QFETCH(bool, simulator);
    QFETCH(QStringList, env);
    QFETCH(QByteArray, message);

    // The token holds no certificate: the profile's copy says which one to use.
    const QString dir = makeProfile(tokenConf("test key"), {"ca"});
    QVERIFY(QFile::copy(m_tmp.filePath("cert.pem"), dir + "/user"));
    QFile flags(m_tmp.filePath("token-flags"));
    QVERIFY(flags.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (QString& change : env) {
        if (change.startsWith("FAKE_OPENVPN_FLAGS_BEFORE=")) {
            flags.write(change.section('=', 1).toUtf8() + "\n");
            change.clear();
        }
    }
    env.removeAll(QString());
    flags.close();

    const QStringList backend{simulator ? "QLUMAR_ENGINE=simulator" : "QLUMAR_OPENVPN=" + kFakeOpenVpn};
    const EngineRun run =
        runToEnd(dir, tokenArgs("1234"), QStringList{"QLUMAR_PKCS11_MODULE=" + kFakeModule} + backend + env);
    QVERIFY2(run.output.contains(message), run.output.constData());
    QVERIFY(!run.output.contains(kWrongSecret));
    QVERIFY(run.output.contains("Exiting due to fatal error"));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 1);
}

// The simulator on the manager channel: hello first, its states, a web login and a question that
// waits for the answer, then made-up byte counts, and the stop.
void EngineTest::managerChannel()
{
#ifdef Q_OS_WIN
    QSKIP("the manager channel is a Unix socket");
#endif
    SKIP_UNLESS_EMPTY(m_opensslError);
    QLocalServer server;
    const QString path = m_tmp.filePath("channel");
    QVERIFY(server.listen(path));
    QProcess engine;
    start(&engine, makeProfile(p12Conf(m_goodP12)), p12Args("s3cret"),
          {"QLUMAR_ENGINE_CHANNEL=" + path, "QLUMAR_ENGINE_ASK=username",
           "QLUMAR_ENGINE_OPEN_URL=https://login.example/a", "QLUMAR_ENGINE_BYTECOUNT_MS=50"});
    QVERIFY(server.waitForNewConnection(kTimeoutMs));
    QLocalSocket* channel = server.nextPendingConnection();
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += channel->readAll()).endsWith("input\t1\tusername\tUsername:\n"),
                             kTimeoutMs);
    QVERIFY2(received.startsWith("hello\t1\tqlumar_openvpn "), received.constData());
    QVERIFY(received.contains("\nstate\tconnecting\n"));
    QVERIFY(received.contains("\nurl\thttps://login.example/a\n"));
    QByteArray output = engine.readAll();
    QVERIFY(!output.contains(kConnected));

    // Garbage and answers to other questions are passed over.
    channel->write(QByteArray(5000, 'x') +
                   "\tanswer\t1\tmallory\ngarbage\nanswer\t2\tnot asked\nanswer\t1\tal\\tice\n");
    QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains(kConnected), kTimeoutMs);
    QVERIFY2(output.contains("Authenticating as al\tice\n"), output.constData());
    QTRY_VERIFY_WITH_TIMEOUT((received += channel->readAll()).count("\nbytes\t") >= 2, kTimeoutMs);
    QVERIFY(received.contains("\nstate\tconnected\t10.8.0.6\n"));
    QVERIFY(QRegularExpression("\nbytes\t[0-9]+\t[0-9]+\n").match(received).hasMatch());

    engine.terminate();
    QVERIFY(engine.waitForFinished(kTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT((received += channel->readAll()).endsWith("state\texiting\tSIGTERM\n"),
                             kTimeoutMs);
    QVERIFY(!received.contains("failure"));
}

// OpenVPN's username/password request, a refusal, a static and a dynamic challenge, answered with what
// the manager says, in OpenVPN's order even when its lines arrive at once.
void EngineTest::signInThroughManagement()
{
    SKIP_UNLESS_EMPTY(fakeError());
    QLocalServer server;
    const QString path = m_tmp.filePath("channel");
    QLocalServer::removeServer(path);
    QVERIFY(server.listen(path));
    QProcess engine;
    start(&engine, makeProfile(header("Login", "vpn.example.org", "1194") + "auth-user-pass\n" + kTemplate),
          p12Args(""),
          {"QLUMAR_OPENVPN=" + kFakeOpenVpn, "QLUMAR_ENGINE_CHANNEL=" + path,
           "FAKE_OPENVPN_SAY=>PASSWORD:Need 'Auth' username/password SC:1,Code from the app\n"
           ">PASSWORD:Verification Failed: 'Auth'\n"
           ">PASSWORD:Need 'Auth' username/password\n"
           ">PASSWORD:Verification Failed: 'Auth' ['CRV1:R,E:st4te:Ym9i:Enter the SMS code: 6 digits']\n"
           ">PASSWORD:Need 'Auth' username/password"});
    QVERIFY(server.waitForNewConnection(kTimeoutMs));
    QLocalSocket* channel = server.nextPendingConnection();
    QByteArray received;
    const QList<QPair<QByteArray, QByteArray>> dialogue = {
        {"input\t1\tlogin\t\n", "answer\t1\talice\tpw\"1\n"},
        {"input\t2\totp\tCode from the app\n", "answer\t2\t111\n"},
        {"input\t3\tlogin\t\trejected\n", "answer\t3\talice\tpw2\n"},
        {"input\t4\totp\tEnter the SMS code: 6 digits\n", "answer\t4\t987\n"},
    };
    for (const auto& [question, answer] : dialogue) {
        QTRY_VERIFY2_WITH_TIMEOUT((received += channel->readAll()).endsWith(question), received.constData(),
                                  kTimeoutMs);
        channel->write(answer);
    }
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains("CRV1::"), kTimeoutMs);
    engine.terminate();
    QVERIFY(engine.waitForFinished(kTimeoutMs));
    output += engine.readAll();
    const QByteArray expected = "CMD[username \"Auth\" \"alice\"]\n"
                                "CMD[password \"Auth\" \"SCRV1:cHciMQ==:MTEx\"]\n"
                                "CMD[username \"Auth\" \"alice\"]\n"
                                "CMD[password \"Auth\" \"pw2\"]\n"
                                "CMD[username \"Auth\" \"bob\"]\n"
                                "CMD[password \"Auth\" \"CRV1::st4te::987\"]\n";
    QVERIFY2(output.contains(expected), output.constData());
}

void EngineTest::managerChannelFailure_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("failure");

    QTest::newRow("wrong password") << p12Conf(m_goodP12) << p12Args("wrong") << QStringList()
                                    << "wrong-password\t" + kWrongSecret;
    QTest::newRow("token without a module")
        << tokenConf("test key") << tokenArgs("1234") << QStringList{"QLUMAR_PKCS11_MODULE="}
        << QByteArray("no-pkcs11-module\tError: no PKCS#11 token module is configured");
    QTest::newRow("configuration refused")
        << QByteArray("pkcs12 good.p12\n") << p12Args("s3cret") << QStringList()
        << QByteArray("config-refused\tOptions error: conf: no remote host given (remote HOST)");
    QTest::newRow("server unreachable")
        << header("x", "vpn.invalid", "1194") + "pkcs12 " + m_goodP12.toUtf8() + "\n"
        << p12Args("s3cret") << QStringList()
        << QByteArray("server-unreachable\tRESOLVE: Cannot resolve host address: vpn.invalid:1194");
    QTest::newRow("certificate expired")
        << p12Conf(m_tmp.filePath("expired.p12")) << p12Args("s3cret") << QStringList()
        << QByteArray("certificate-expired\tError: the certificate in PKCS#12 file");
    QTest::newRow("any other error") << p12Conf(m_goodP12) << p12Args("s3cret")
                                     << QStringList{"QLUMAR_ENGINE_EXIT_CODE=300"}
                                     << QByteArray("engine-error\tInvalid value for QLUMAR_ENGINE_EXIT_CODE");
}

void EngineTest::managerChannelFailure()
{
#ifdef Q_OS_WIN
    QSKIP("the manager channel is a Unix socket");
#endif
    SKIP_UNLESS_EMPTY(m_opensslError);
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    QFETCH(QByteArray, failure);
    QLocalServer server;
    const QString path = m_tmp.filePath("channel");
    QLocalServer::removeServer(path);
    QVERIFY(server.listen(path));
    const EngineRun run =
        runToEnd(makeProfile(conf, {"ca", "user"}), args, env + QStringList{"QLUMAR_ENGINE_CHANNEL=" + path});
    QCOMPARE(run.code, 1);
    QVERIFY(server.waitForNewConnection(kTimeoutMs));
    QLocalSocket* channel = server.nextPendingConnection();
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += channel->readAll()).endsWith("\n") &&
                                 channel->state() == QLocalSocket::UnconnectedState,
                             kTimeoutMs);
    received += channel->readAll();
    // Once, and last.
    QCOMPARE(received.count("failure\t"), 1);
    const QByteArray lines = received.chopped(1);
    QVERIFY2(lines.mid(lines.lastIndexOf('\n') + 1).startsWith("failure\t" + failure), received.constData());
}

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
