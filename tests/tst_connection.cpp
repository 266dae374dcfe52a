// Connecting, following the engine and disconnecting, driven through MainWindow with the real
// bundled engine, plus small shell-script engines where the output or the command line itself is
// under test.

#include "GuiTestBase.h"
#include "TestSupport.h"

#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "connection/CappedLog.h"
#include "connection/ConnectionStatus.h"
#include "connection/EngineLaunch.h"
#include "connection/EngineOutput.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#endif

namespace {

const char* const engineSwitches[] = {
    "QLUMAR_ENGINE_PATH",
    "QLUMAR_ENGINE",
    "QLUMAR_OPENVPN",
    "QLUMAR_ENGINE_START_DELAY_MS",
    "QLUMAR_ENGINE_CONNECT_DELAY_MS",
    "QLUMAR_ENGINE_FLOOD_LINES",
    "QLUMAR_ENGINE_EXIT_AFTER_MS",
    "QLUMAR_ENGINE_EXIT_CODE",
    "QLUMAR_ENGINE_CRASH",
    "QLUMAR_ENGINE_BYTECOUNT_MS",
    "QLUMAR_ENGINE_ASK",
    "QLUMAR_ENGINE_OPEN_URL",
    "QLUMAR_ENGINE_LOGIN",
    "QLUMAR_PKCS11_MODULE",
    "QLUMAR_PKCS11_TOKEN_LABEL",
    "SOFTHSM2_CONF",
};

using TestPictures::iconImage;
using TestPictures::resourceIcon;
using TestPictures::resourcePicture;

int countMessages(const QString& text)
{
    int count = 0;
    for (const Prompt::Shown& shown : Prompt::messages()) {
        if (shown.text == text)
            ++count;
    }
    return count;
}

} // namespace

// QSKIP ends only the function it stands in, so the checks are macros in the test functions.
#define REQUIRE_OPENSSL()                                                                                    \
    do {                                                                                                     \
        if (!opensslError.isEmpty())                                                                         \
            QSKIP(qPrintable(opensslError));                                                                 \
    } while (false)
#define REQUIRE_TOKEN()                                                                                      \
    do {                                                                                                     \
        if (!tokenError.isEmpty())                                                                           \
            QSKIP(qPrintable(tokenError));                                                                   \
    } while (false)
#ifdef Q_OS_UNIX
#define REQUIRE_SHELL()                                                                                      \
    do {                                                                                                     \
    } while (false)
#else
#define REQUIRE_SHELL() QSKIP("the stand-in engines are POSIX shell scripts")
#endif

class TestConnection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QString opensslError;
    QString tokenError;
    QList<QPair<QByteArray, QByteArray>> m_tokenEnv;
    QString m_p12Path; // password "s3cret"
    int m_scripts = 0;

    ScratchHome* m_home = nullptr;
    MainWindow* m_window = nullptr;

    QAction* action(const char* name) { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QListWidget* list() { return m_window->findChild<QListWidget*>(QStringLiteral("vpnList")); }
    QPlainTextEdit* log() { return m_window->findChild<QPlainTextEdit*>(QStringLiteral("vpnLog")); }
    QLabel* picture() { return m_window->findChild<QLabel*>(QStringLiteral("connectionLabel")); }
    QMenu* trayConnectMenu() { return m_window->findChild<QMenu*>(QStringLiteral("trayConnectMenu")); }

    void writeProfile(const QString& dir, const QByteArray& conf, const QStringList& files = {})
    {
        const QString profile = m_home->rootPath() + "/" + dir;
        QVERIFY(ScratchHome::writeFile(profile + "/conf", conf));
        for (const QString& name : files)
            QVERIFY(ScratchHome::writeFile(profile + "/" + name, "certificate placeholder\n"));
    }

    static QByteArray header(const QByteArray& name)
    {
        return "#\n# qLumarVpnName " + name + "\n#\nremote vpn.example.org\nrport 1194\n";
    }

    void writePkcs12Profile(const QString& dir, const QByteArray& name)
    {
        writeProfile(dir, header(name) + "pkcs12 " + m_p12Path.toUtf8() + "\n");
    }

    void writeTokenProfile(const QString& dir, const QByteArray& name, const QByteArray& key)
    {
        writeProfile(dir, header(name) + "ca ca\ncert user\nkey \"" + key + "\"\n", {"ca", "user"});
    }

    // The record of a profile in the list as loaded from disk.
    VpnItem* profile(const QString& dir)
    {
        for (int i = 0; i < list()->count(); ++i) {
            auto* item = static_cast<VpnItem*>(list()->item(i));
            if (item->dirName() == dir)
                return item;
        }
        return nullptr;
    }

    void press(QListWidgetItem* item)
    {
        const QRect rect = list()->visualItemRect(item);
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void connectWith(VpnItem* item, const QString& secret)
    {
        press(item);
        QVERIFY(action("connectAction")->isEnabled());
        Prompt::answerText(secret);
        action("connectAction")->trigger();
    }

    // A stand-in engine: a shell script written into the fixtures directory.
    QString writeEngine(const QByteArray& body)
    {
        const QString path = m_fixtures.filePath(QStringLiteral("engine%1.sh").arg(++m_scripts));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
            return QString();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    void useEngine(const QString& path) { qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(path)); }

    void useToken()
    {
        for (const auto& [name, value] : m_tokenEnv)
            qputenv(name.constData(), value);
    }

    void verifyConnected(VpnItem* item, const QString& name)
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
        QVERIFY(m_window->isVpnRunning());
        QCOMPARE(m_window->activeProfile(), item);
        // The design's tooltip, then the status line's detail.
        QCOMPARE(m_window->tray()->toolTip().section('\n', 0, 0), "qLumar VPN - " + name);
        QCOMPARE(m_window->lastBalloon().title, QStringLiteral("Connected"));
        QCOMPARE(m_window->lastBalloon().text, QStringLiteral("VPN connection was initialized properly."));
        QCOMPARE(m_window->lastBalloon().icon, QSystemTrayIcon::Information);
        QCOMPARE(m_window->lastBalloon().milliseconds, 10000);
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_con.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_07.png"));
        QVERIFY(!m_window->isAnimating());
        QCOMPARE(iconImage(item->icon()), resourceIcon(":img/vpn_con.png"));
        QVERIFY(item->isConnected());
        QVERIFY(!trayConnectMenu()->isEnabled());
    }

    // Idle after a connection ended: everything back, "Disconnected" said once, or for a
    // connection that never came up, "Connection failed" with the reason instead; nothing at all
    // when its password was rejected, as the prompt asks again.
    void verifyIdleAfterEnd(int balloonsBefore, const QString& failure = QString(),
                            bool passwordRejected = false)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVpnRunning(), 15000);
        QVERIFY(!m_window->isVpnInitialized());
        QCOMPARE(m_window->activeProfile(), nullptr);
        if (failure.isEmpty()) {
            QCOMPARE(m_window->balloonCount(), balloonsBefore + 1);
            QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - no connection"));
            QCOMPARE(m_window->statusText(), QStringLiteral("Disconnected"));
            QCOMPARE(m_window->lastBalloon().title, QStringLiteral("Disconnected"));
            QCOMPARE(m_window->lastBalloon().text, QStringLiteral("VPN connection was closed."));
            QCOMPARE(m_window->lastBalloon().icon, QSystemTrayIcon::Information);
            QCOMPARE(m_window->lastBalloon().milliseconds, 10000);
        } else {
            QVERIFY2(m_window->statusText().startsWith("Connection to ") &&
                         m_window->statusText().endsWith(" failed: " + failure),
                     qPrintable(m_window->statusText()));
            QCOMPARE(m_window->tray()->toolTip(), "qLumar VPN - no connection\n" + m_window->statusText());
            if (passwordRejected) {
                QCOMPARE(m_window->balloonCount(), balloonsBefore);
            } else {
                QCOMPARE(m_window->balloonCount(), balloonsBefore + 1);
                QCOMPARE(m_window->lastBalloon().title, QStringLiteral("Connection failed"));
                QCOMPARE(m_window->lastBalloon().text, failure);
                QCOMPARE(m_window->lastBalloon().icon, QSystemTrayIcon::Warning);
                QCOMPARE(m_window->lastBalloon().milliseconds, 10000);
            }
        }
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
        QVERIFY(!m_window->isAnimating());
        QVERIFY(trayConnectMenu()->isEnabled());
        for (int i = 0; i < list()->count(); ++i) {
            auto* item = static_cast<VpnItem*>(list()->item(i));
            QVERIFY(!item->isConnected());
            QVERIFY(!item->isBlocked());
            QCOMPARE(iconImage(item->icon()), resourceIcon(":img/vpn.png"));
        }
        QVERIFY(m_window->selectedProfile());
        QVERIFY(action("connectAction")->isEnabled());
        QVERIFY(!action("disconnectAction")->isEnabled());
        QVERIFY(action("editAction")->isEnabled());
    }

    void verifyIncorrectPasswordOnce()
    {
        QCOMPARE(countMessages(QStringLiteral("Incorrect password!")), 1);
        for (const Prompt::Shown& shown : Prompt::messages()) {
            if (shown.text != QLatin1String("Incorrect password!"))
                continue;
            QCOMPARE(shown.title, QStringLiteral("Error"));
            QCOMPARE(shown.icon, QMessageBox::Critical);
            QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(shown.defaultButton, QMessageBox::NoButton);
        }
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void programPath();
    void arguments_data();
    void arguments();
    void workingDirectoryIsTheProfiles();
    void readLength_data();
    void readLength();
    void lastReadWaitsForTheRestOfACharacter();
    void decodeChunk_data();
    void decodeChunk();
    void recognise_data();
    void recognise();
    void backlogReads();
    void backlogHiddenBytes_data();
    void backlogHiddenBytes();
    void cappedLogKeepsTheNewestLines_data();
    void cappedLogKeepsTheNewestLines();
    void cappedLogDropAllAndClear();
    void cappedLogSplitsOverlongLines();
    void statusLine_data();
    void statusLine();

    void engineGetsArgvAndDirectoryExactly_data();
    void engineGetsArgvAndDirectoryExactly();
    void cancelAtThePromptStartsNothing();
    void missingEngineLeavesConnectAvailable();
    void lateEngineStartIsKilled();

    void pkcs12RightPasswordConnects();
    void pkcs12WrongPasswordSaysSoOnce();
    void statusLineScreenshots();
    void tokenKey_data();
    void tokenKey();

    void outputRecognition_data();
    void outputRecognition();

    void floodIsLoggedWholeAndInOrder();
    void outputPendingAtExitIsHandledFirst();
    void disconnectWhileConnecting();
    void disconnectWhileConnected();
    void engineEndingOnItsOwn_data();
    void engineEndingOnItsOwn();
    void listReloadDuringAConnection_data();
    void listReloadDuringAConnection();
    void exitKillsARunningEngine();
    void statusLineFollowsTheConnection();
    void failuresSayWhy_data();
    void failuresSayWhy();
    void usernameAndPasswordSignIn();
    void webSignInWaitsInTheBrowser();

    void nonAsciiOutputShowsAsWritten();
    void longLineIsNotCutInsideACharacter();
    void floodBeyondTheCapKeepsTheNewestLines();
    void leftoverAtExitIsHandledInTurnsBeforeTheFinish();
    void exitDuringAFloodEnds();

    void answerAtThePasswordPromptBelongsToItsProfile_data();
    void answerAtThePasswordPromptBelongsToItsProfile();
    void deleteActsOnTheAskedProfileAndNeverDuringAConnection_data();
    void deleteActsOnTheAskedProfileAndNeverDuringAConnection();
    void noConnectionStartsWhileAnEditDialogIsOpen();
};

void TestConnection::initTestCase()
{
    QVERIFY(m_fixtures.isValid());
    QVERIFY2(QFile::exists(builtProgram("qlumar_openvpn")), "build the qlumar_openvpn target first");
    for (const char* name : engineSwitches)
        qunsetenv(name);

    const auto tool = [this](const QString& program, const QStringList& args, QByteArray* out = nullptr) {
        QProcess process;
        process.setWorkingDirectory(m_fixtures.path());
        process.start(program, args);
        const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                        process.exitCode() == 0;
        if (out)
            *out = process.readAllStandardOutput();
        if (!ok)
            qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return ok;
    };

    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty()) {
        opensslError = "openssl not found (Debian: apt-get install openssl)";
    } else if (!tool(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                               "cert.pem", "-subj", "/CN=connection test", "-days", "365"}) ||
               !tool(openssl, {"pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out",
                               "good.p12", "-passout", "pass:s3cret"})) {
        opensslError = "openssl could not make the PKCS#12 fixture";
    } else {
        m_p12Path = m_fixtures.filePath("good.p12");
    }

#ifdef Q_OS_UNIX
    QByteArray envLines;
    if (!opensslError.isEmpty()) {
        tokenError = opensslError;
    } else if (QStandardPaths::findExecutable("softhsm2-util").isEmpty()) {
        tokenError = "softhsm2-util not found (Debian: apt-get install softhsm2)";
    } else if (!tool("bash",
                     {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/make-test-token"),
                      m_fixtures.filePath("token"), "Connection Test", "1234", "test key",
                      m_fixtures.filePath("key.pem")},
                     &envLines)) {
        tokenError = "scripts/make-test-token failed";
    } else {
        for (const QByteArray& line : envLines.split('\n')) {
            const qsizetype equals = line.indexOf('=');
            // The script quotes values only when they need it; the temporary paths never do.
            if (equals > 0)
                m_tokenEnv.append({line.left(equals), line.mid(equals + 1)});
        }
        if (m_tokenEnv.size() != 2)
            tokenError = "unexpected make-test-token output: " + QString::fromUtf8(envLines);
    }
#else
    tokenError = "the SoftHSM2 token fixture needs a POSIX shell";
#endif
}

void TestConnection::init()
{
    Prompt::setTestMode(true);
    Prompt::reset();
    for (const char* name : engineSwitches)
        qunsetenv(name);
    // The real OpenVPN is the engine's default; these cases drive the simulator.
    qputenv("QLUMAR_ENGINE", "simulator");
    EngineLaunch::setStartTimeoutMs(EngineLaunch::defaultStartTimeoutMs);
    m_home = new ScratchHome;
    QVERIFY(m_home->enterRoot());
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestConnection::cleanup()
{
    QProcess* engine = m_window->engineProcess();
    if (engine->state() != QProcess::NotRunning) {
        engine->kill();
        engine->waitForFinished(5000);
    }
    delete m_window;
    m_window = nullptr;
    delete m_home;
    m_home = nullptr;
    for (const char* name : engineSwitches)
        qunsetenv(name);
    EngineLaunch::setStartTimeoutMs(EngineLaunch::defaultStartTimeoutMs);
}

void TestConnection::programPath()
{
#ifdef Q_OS_WIN
    const QString suffix = QStringLiteral(".exe");
#else
    const QString suffix;
#endif
    QCOMPARE(EngineLaunch::programPath("/opt/qlumar/bin"), "/opt/qlumar/bin/../bin/qlumar_openvpn" + suffix);
    qputenv("QLUMAR_ENGINE_PATH", "/elsewhere/engine");
    QCOMPARE(EngineLaunch::programPath("/opt/qlumar/bin"), QStringLiteral("/elsewhere/engine"));
    qputenv("QLUMAR_ENGINE_PATH", "");
    QCOMPARE(EngineLaunch::programPath("/opt/qlumar/bin"), "/opt/qlumar/bin/../bin/qlumar_openvpn" + suffix);
}

void TestConnection::arguments_data()
{
    QTest::addColumn<bool>("pkcs12");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QStringList>("expected");

    const QStringList common{"--config", "conf", "--dev", "tun", "--float", "--pull", "--tls-client"};
    QTest::newRow("PKCS#12 password is its own argument after --keypass")
        << true << "s3cret" << common + QStringList{"--keypass", "s3cret"};
    QTest::newRow("PKCS#12 empty password is an empty argument")
        << true << "" << common + QStringList{"--keypass", ""};
    QTest::newRow("token PIN is glued to the key engine prefix")
        << false << "1234" << common + QStringList{"--engkey", "--engine", "dudidudovi:user_pin:1234"};
    QTest::newRow("token empty PIN leaves the prefix alone")
        << false << "" << common + QStringList{"--engkey", "--engine", "dudidudovi:user_pin:"};
    QTest::newRow("spaces and quotes are neither split nor quoted")
        << false << "a b \"c\" 'd'"
        << common + QStringList{"--engkey", "--engine", "dudidudovi:user_pin:a b \"c\" 'd'"};
}

void TestConnection::arguments()
{
    QFETCH(bool, pkcs12);
    QFETCH(QString, secret);
    QFETCH(QStringList, expected);
    QCOMPARE(EngineLaunch::arguments(pkcs12, secret), expected);
}

void TestConnection::workingDirectoryIsTheProfiles()
{
    const QString separator = QDir::separator();
    QCOMPARE(EngineLaunch::workingDirectory("/home/u/.qlumar_velkoro_client", "000a"),
             "/home/u/.qlumar_velkoro_client" + separator + "000a");
    // QDir cleans a trailing separator away, so there is never a doubled one.
    QCOMPARE(EngineLaunch::workingDirectory("/home/u/.qlumar_velkoro_client/", "0001"),
             "/home/u/.qlumar_velkoro_client" + separator + "0001");
}

void TestConnection::readLength_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("morePending");
    QTest::addColumn<int>("length");

    QTest::newRow("all of it when nothing more is pending") << QByteArray("a\nb\nc") << false << 5;
    QTest::newRow("up to the last line break when more is pending") << QByteArray("a\nb\nc") << true << 4;
    QTest::newRow("a head ending in a line break is taken whole") << QByteArray("a\nb\n") << true << 4;
    QTest::newRow("a head without a line break is taken whole") << QByteArray("abc") << true << 3;
    QTest::newRow("a long line is not cut inside a two-byte character") << QByteArray("ab\xc5") << true << 2;
    QTest::newRow("a long line is not cut inside a three-byte character")
        << QByteArray("ab\xe2\x82") << true << 2;
    QTest::newRow("a complete character at the end is taken") << QByteArray("ab\xe2\x82\xac") << true << 5;
    QTest::newRow("a complete four-byte character is taken") << QByteArray("a\xf0\x9f\x98\x80") << true << 5;
    QTest::newRow("a lone lead byte is taken rather than nothing") << QByteArray("\xc5") << true << 1;
    QTest::newRow("bytes that are no UTF-8 are cut anywhere")
        << QByteArray("\x80\x80\x80\x80\x80") << true << 5;
    QTest::newRow("the last output is taken whole, a cut character included")
        << QByteArray("ab\xc5") << false << 3;
}

void TestConnection::readLength()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, morePending);
    QFETCH(int, length);
    QCOMPARE(EngineOutput::readLength(head, morePending), qsizetype(length));
}

void TestConnection::lastReadWaitsForTheRestOfACharacter()
{
    const QList<QPair<QByteArray, int>> whileRunning{
        {"ab\xc5", 0},         // the rest of "\u0142" is still in the pipe
        {"a\xe2\x82", 0},      // two of three bytes
        {"ab\xe2\x82\xac", 5}, // complete
        {"caf\xe9", 0},        // could still become UTF-8
        {"caf\xe9 \xc5", 6},   // Latin-1 already: shown whole, as before
        {"ab\n", 3},
    };
    for (const auto& [bytes, shown] : whileRunning) {
        EngineOutput::Backlog backlog;
        backlog.append(bytes);
        QCOMPARE(backlog.take(EngineOutput::maxReadBytes, true).size(), qsizetype(shown));
        QCOMPARE(backlog.size(), bytes.size() - shown);
    }

    EngineOutput::Backlog backlog;
    backlog.append("a\xc5");
    QVERIFY(backlog.take(EngineOutput::maxReadBytes, true).isEmpty());
    backlog.append("\x82z");
    QCOMPARE(EngineOutput::decodeChunk(backlog.take(EngineOutput::maxReadBytes, true)),
             QString::fromUtf8("a\u0142z"));
    // Once the engine has ended, or the rest is late, what waits is shown as it is.
    backlog.append("\xc5");
    QCOMPARE(backlog.take(EngineOutput::maxReadBytes, false), QByteArray("\xc5"));
}

void TestConnection::decodeChunk_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain text is kept whole, line ends included")
        << QByteArray("line one\nline two\n") << QStringLiteral("line one\nline two\n");
    QTest::newRow("a read that is not valid UTF-8 is Latin-1, its UTF-8-looking parts too")
        << QByteArray("caf\xc3\xa9 \xe9t\xe9") << QString::fromUtf8("caf\u00c3\u00a9 \u00e9t\u00e9");
    QTest::newRow("valid UTF-8 is UTF-8") << QByteArray("Biuro \xc5\x81\xc3\xb3"
                                                        "d\xc5\xba\n")
                                          << QString::fromUtf8("Biuro \u0141\u00f3d\u017a\n");
    QTest::newRow("four-byte UTF-8") << QByteArray("\xf0\x9f\x94\x92 up")
                                     << QString::fromUtf8("\U0001f512 up");
    QTest::newRow("a cut UTF-8 character makes the read Latin-1")
        << QByteArray("\xc5\x81\xc5") << QString::fromUtf8("\u00c5\u0081\u00c5");
    QTest::newRow("an encoded surrogate is not UTF-8")
        << QByteArray("\xed\xa0\x80") << QString::fromUtf8("\u00ed\u00a0\u0080");
    QTest::newRow("an overlong encoding is not UTF-8")
        << QByteArray("\xc0\xaf") << QString::fromUtf8("\u00c0\u00af");
    QTest::newRow("UTF-8 up to a NUL is UTF-8, whatever follows it")
        << QByteArray("\xc5\x81\0\xff", 4) << QString::fromUtf8("\u0141");
    QTest::newRow("text after the first NUL is dropped")
        << QByteArray("before\0after\0more", 17) << QStringLiteral("before");
    QTest::newRow("a leading NUL leaves nothing") << QByteArray("\0text", 5) << QString();
}

void TestConnection::decodeChunk()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(EngineOutput::decodeChunk(bytes), text);
}

void TestConnection::recognise_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<bool>("tunnelUp");
    QTest::addColumn<bool>("passwordError");

    QTest::newRow("tunnel-up line among others")
        << "Mon Jan 1 TUN/TAP device tun0 opened\nMon Jan 1 Initialization Sequence Completed\n"
        << true << false;
    QTest::newRow("wrong password line") << "x Error: private key password verification failed\n"
                                         << false << true;
    QTest::newRow("OpenSSL 1.0 key decryption code")
        << "error:0906A065:PEM routines:PEM_do_header:bad decrypt" << false << true;
    QTest::newRow("both in one read") << "Initialization Sequence Completed\nerror:0906A065\n"
                                      << true << true;
    QTest::newRow("case matters") << "initialization sequence completed\nERROR:0906A065" << false << false;
    QTest::newRow("half a text is nothing") << "Initialization Sequence" << false << false;
    QTest::newRow("no-break space counts as a space, as in the log's plain text")
        << QString("Initialization\u00a0Sequence Completed") << true << false;
    QTest::newRow("unrelated output")
        << "Peer Connection Initiated with [AF_INET]1.2.3.4:1194" << false << false;
}

void TestConnection::recognise()
{
    QFETCH(QString, chunk);
    QFETCH(bool, tunnelUp);
    QFETCH(bool, passwordError);
    const EngineOutput::Recognised found = EngineOutput::recognise(chunk);
    QCOMPARE(found.tunnelUp, tunnelUp);
    QCOMPARE(found.passwordError, passwordError);
}

void TestConnection::backlogReads()
{
    EngineOutput::Backlog backlog;
    QVERIFY(backlog.isEmpty());
    QCOMPARE(backlog.take(), QByteArray());
    backlog.append("one\ntwo\nthr");
    backlog.append("ee");
    QCOMPARE(backlog.size(), qsizetype(13));
    // More is pending beyond the limit: the read ends after its last line break.
    QCOMPARE(backlog.take(10), QByteArray("one\ntwo\n"));
    QCOMPARE(backlog.take(), QByteArray("three"));
    QVERIFY(backlog.isEmpty());

    // Reads of a flood: at most one read's worth, whole lines, all of it in order.
    QByteArray flood;
    for (int i = 0; i < 5000; ++i)
        flood += "line " + QByteArray::number(i) + '\n';
    backlog.append(flood.left(20000));
    QByteArray again;
    int reads = 0;
    while (!backlog.isEmpty()) {
        if (reads == 1)
            backlog.append(flood.mid(20000));
        const QByteArray read = backlog.take();
        QVERIFY(read.size() <= EngineOutput::maxReadBytes);
        QVERIFY(read.endsWith('\n'));
        again += read;
        ++reads;
    }
    QCOMPARE(again, flood);

    backlog.append("abcdef");
    backlog.discard(4);
    QCOMPARE(backlog.take(), QByteArray("ef"));
    backlog.append("x");
    backlog.discard(100);
    QVERIFY(backlog.isEmpty());
    backlog.append("y");
    backlog.clear();
    QVERIFY(backlog.isEmpty());
}

void TestConnection::backlogHiddenBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<int>("hidden");

    QTest::newRow("fewer lines than the log shows: nothing") << QByteArray("a\nb\n") << 3 << 100 << 0;
    QTest::newRow("as many lines as the log shows: nothing") << QByteArray("a\nb\nc\n") << 3 << 100 << 0;
    QTest::newRow("the oldest line beyond the limit") << QByteArray("a\nb\nc\n") << 2 << 100 << 2;
    QTest::newRow("an unfinished last line counts") << QByteArray("a\nb\nc") << 2 << 100 << 2;
    QTest::newRow("empty lines count") << QByteArray("\n\n\nx\n") << 2 << 100 << 2;
    QTest::newRow("the byte limit keeps the newest bytes") << QByteArray("aaaa\nbb\ncc\n") << 10 << 7 << 4;
    QTest::newRow("one line longer than the byte limit is cut") << QByteArray("abcdefghij") << 10 << 4 << 6;
    QTest::newRow("a cut line begins at a whole character")
        << QByteArray("ab\xc5\x81\xc5\x81") << 10 << 3 << 4;
}

void TestConnection::backlogHiddenBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, maxLines);
    QFETCH(int, maxBytes);
    QFETCH(int, hidden);
    EngineOutput::Backlog backlog;
    // Behind a read already taken, as in a running connection.
    backlog.append("taken\n" + bytes);
    backlog.discard(6);
    QCOMPARE(backlog.hiddenBytes(maxLines, maxBytes), qsizetype(hidden));
}

void TestConnection::cappedLogKeepsTheNewestLines_data()
{
    QTest::addColumn<QStringList>("paragraphs");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("maxCharacters");
    QTest::addColumn<QString>("text"); // "!" stands for the notice

    QTest::newRow("under both limits: all of it, no notice")
        << QStringList{"a", "b\nc"} << 5 << 100 << "a\nb\nc";
    QTest::newRow("the line limit keeps the newest lines")
        << QStringList{"1", "2", "3", "4", "5", "6"} << 3 << 100 << "!\n4\n5\n6";
    QTest::newRow("lines of one read count one by one")
        << QStringList{"1\n2\n3", "4\n5"} << 3 << 100 << "!\n3\n4\n5";
    QTest::newRow("more drops after the first keep one notice")
        << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"} << 2 << 100 << "!\n7\n8";
    QTest::newRow("the character limit drops whole lines, the notice counted")
        << QStringList{QString(40, 'a'), QString(40, 'b'), QString(40, 'c'), "dd"} << 100 << 100
        << "!\n" + QString(40, 'c') + "\ndd";
    QTest::newRow("a full log drops a tenth at once")
        << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"} << 10 << 1000
        << "!\n3\n4\n5\n6\n7\n8\n9\n10\n11";
    QTest::newRow("the newest line stays even when it alone is too long")
        << QStringList{"a", QString(60, 'x')} << 100 << 40 << "!\n" + QString(60, 'x');
}

void TestConnection::cappedLogKeepsTheNewestLines()
{
    QFETCH(QStringList, paragraphs);
    QFETCH(int, maxLines);
    QFETCH(int, maxCharacters);
    QFETCH(QString, text);
    QTextDocument document;
    CappedLog log(&document, maxLines, maxCharacters);
    for (const QString& paragraph : paragraphs)
        log.appendParagraph(paragraph);
    QString expected = text;
    expected.replace(QLatin1Char('!'), CappedLog::droppedNotice());
    QCOMPARE(document.toPlainText(), expected);
    QCOMPARE(log.hasDropped(), text.startsWith('!'));
    QVERIFY(document.blockCount() <= maxLines + 1);
}

void TestConnection::cappedLogDropAllAndClear()
{
    QCOMPARE(CappedLog::droppedNotice(), QString::fromUtf8("\u2026 earlier lines dropped"));
    QTextDocument document;
    CappedLog log(&document, 3, 1000);
    log.appendParagraph("old");
    log.dropAll();
    QCOMPARE(document.toPlainText(), CappedLog::droppedNotice());
    log.dropAll();
    log.appendParagraph("new");
    QCOMPARE(document.toPlainText(), CappedLog::droppedNotice() + "\nnew");
    for (const char* line : {"2", "3", "4"})
        log.appendParagraph(line);
    QCOMPARE(document.toPlainText(), CappedLog::droppedNotice() + "\n2\n3\n4");
    log.clear();
    QVERIFY(!log.hasDropped());
    QVERIFY(document.isEmpty());
    log.appendParagraph("fresh");
    QCOMPARE(document.toPlainText(), QStringLiteral("fresh"));
}

void TestConnection::cappedLogSplitsOverlongLines()
{
    const int most = int(CappedLog::maxLineLength);
    QCOMPARE(CappedLog::splitLongLines("short\nlines"), QStringLiteral("short\nlines"));
    QCOMPARE(CappedLog::splitLongLines(QString(most, 'x')), QString(most, 'x'));
    QCOMPARE(CappedLog::splitLongLines(QString(2 * most + 3, 'x')),
             QString(most, 'x') + "\n" + QString(most, 'x') + "\nxxx");
    // Each line of a read on its own; a character outside the BMP stays whole.
    const QString pair = QString::fromUtf8("\U0001f512");
    QCOMPARE(CappedLog::splitLongLines("ab\n" + QString(most - 1, 'y') + pair + "z"),
             "ab\n" + QString(most - 1, 'y') + pair + "\nz");

    QTextDocument document;
    CappedLog log(&document);
    log.appendParagraph(QString(3 * most, 'x'));
    QCOMPARE(document.blockCount(), 3);
    QCOMPARE(document.toPlainText().remove('\n'), QString(3 * most, 'x'));
}

void TestConnection::statusLine_data()
{
    using Phase = ConnectionStatus::Snapshot::Phase;
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("address");
    QTest::addColumn<qint64>("bytesIn"); // negative: no counts yet
    QTest::addColumn<QString>("expected");

    QTest::newRow("idle") << int(Phase::Idle) << QString() << qint64(-1) << "Disconnected";
    QTest::newRow("connecting") << int(Phase::Connecting) << QString() << qint64(-1)
                                << "Connecting to Office…";
    QTest::newRow("connected, nothing known yet")
        << int(Phase::Connected) << QString() << qint64(-1) << "Connected to Office since 14:02";
    QTest::newRow("connected with address and counts")
        << int(Phase::Connected) << "10.8.0.6" << qint64(12300000)
        << "Connected to Office since 14:02 · 10.8.0.6 · ↓\u00a012.3\u00a0MB ↑\u00a01.2\u00a0MB";
    QTest::newRow("failed") << int(Phase::Failed) << QString() << qint64(-1)
                            << "Connection to Office failed: The VPN server cannot be reached.";
}

void TestConnection::statusLine()
{
    QFETCH(int, phase);
    QFETCH(QString, address);
    QFETCH(qint64, bytesIn);
    QFETCH(QString, expected);
    ConnectionStatus::Snapshot snapshot;
    snapshot.phase = ConnectionStatus::Snapshot::Phase(phase);
    snapshot.name = "Office";
    snapshot.since = QDateTime(QDate(2026, 12, 8), QTime(14, 2, 59));
    snapshot.address = address;
    snapshot.hasBytes = bytesIn >= 0;
    snapshot.bytesIn = quint64(qMax<qint64>(bytesIn, 0));
    snapshot.bytesOut = 1200000;
    snapshot.failure = ConnectionStatus::failureMessage("server-unreachable", "RESOLVE: Cannot resolve");
    QCOMPARE(ConnectionStatus::statusLine(snapshot, QLocale(QLocale::English, QLocale::UnitedStates)),
             expected);
}

void TestConnection::engineGetsArgvAndDirectoryExactly_data()
{
    QTest::addColumn<bool>("pkcs12");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QByteArrayList>("tail");

    QTest::newRow("PKCS#12") << true << "s3cret" << QByteArrayList{"--keypass", "s3cret"};
    QTest::newRow("PKCS#12, empty password") << true << "" << QByteArrayList{"--keypass", ""};
    QTest::newRow("token key") << false << "1234"
                               << QByteArrayList{"--engkey", "--engine", "dudidudovi:user_pin:1234"};
    QTest::newRow("token key, empty PIN")
        << false << "" << QByteArrayList{"--engkey", "--engine", "dudidudovi:user_pin:"};
    QTest::newRow("PKCS#12, spaces, quotes, dollar and non-ASCII untouched")
        << true << QString::fromUtf8("p a\"s's $HOME \u0105\u0119")
        << QByteArrayList{"--keypass", "p a\"s's $HOME \xc4\x85\xc4\x99"};
}

void TestConnection::engineGetsArgvAndDirectoryExactly()
{
    REQUIRE_SHELL();
    QFETCH(bool, pkcs12);
    QFETCH(QString, secret);
    QFETCH(QByteArrayList, tail);

    const QString record = m_fixtures.filePath(QStringLiteral("argv%1").arg(m_scripts));
    // Written under another name and moved into place, so the test never reads half of it.
    useEngine(writeEngine(QStringLiteral("pwd -P >'%1.tmp'\n"
                                         "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >>'%1.tmp'\n"
                                         "mv '%1.tmp' '%1'\n")
                              .arg(record)
                              .toUtf8()));
    writePkcs12Profile("0000", "First");
    if (pkcs12)
        writePkcs12Profile("0001", "Second");
    else
        writeTokenProfile("0001", "Second", "k");
    m_window->loadVpnList();
    VpnItem* item = profile("0001");
    connectWith(item, secret);
    QTRY_VERIFY(QFile::exists(record));

    QByteArray expected = QFile::encodeName(QDir(m_home->rootPath()).canonicalPath()) + "/0001\n";
    for (const QByteArray& arg :
         QByteArrayList{"--config", "conf", "--dev", "tun", "--float", "--pull", "--tls-client"} + tail)
        expected += arg + "\n";
    QCOMPARE(ScratchHome::readFile(record), expected);
    QTRY_VERIFY(!m_window->isVpnRunning());
    // The secret does not stay behind in the process object.
    QVERIFY(m_window->engineProcess()->arguments().isEmpty());
}

void TestConnection::cancelAtThePromptStartsNothing()
{
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    log()->setPlainText("output of an earlier connection");
    press(item);
    m_window->hide();
    Prompt::answerCancel();
    action("connectAction")->trigger();

    QVERIFY(m_window->isVisible()); // shown before the prompt, also when reached from the tray
    QCOMPARE(Prompt::history().size(), 1);
    const Prompt::Shown& prompt = Prompt::history().first();
    QCOMPARE(prompt.kind, Prompt::Kind::Text);
    QCOMPARE(prompt.title, QStringLiteral("Enter private key password"));
    QCOMPARE(prompt.text, QStringLiteral("Password:"));
    QCOMPARE(prompt.echo, QLineEdit::Password);
    QCOMPARE(prompt.parent, static_cast<QWidget*>(m_window));

    QCOMPARE(log()->toPlainText(), QString());
    QCOMPARE(m_window->engineProcess()->state(), QProcess::NotRunning);
    QVERIFY(!m_window->isVpnRunning());
    QVERIFY(!m_window->isAnimating());
    QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
    QVERIFY(action("connectAction")->isEnabled());
    QVERIFY(!item->isConnected());
}

void TestConnection::missingEngineLeavesConnectAvailable()
{
    useEngine(m_fixtures.filePath("no-such-engine"));
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    VpnItem* other = profile("0001");
    connectWith(item, "s3cret");

    QCOMPARE(countMessages(QStringLiteral("Cannot initialize VPN connection!")), 1);
    const Prompt::Shown box = Prompt::messages().first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.defaultButton, QMessageBox::NoButton);
    QVERIFY(!m_window->isVpnRunning());
    QCOMPARE(m_window->activeProfile(), nullptr);
    QVERIFY(!item->isConnected());
    QVERIFY(!other->isBlocked());
    QVERIFY(!m_window->isAnimating());
    QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
    QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - disconnected"));
    QCOMPARE(m_window->balloonCount(), 0);
    QVERIFY(action("connectAction")->isEnabled());
    QVERIFY(trayConnectMenu()->isEnabled());
}

void TestConnection::lateEngineStartIsKilled()
{
    REQUIRE_SHELL();
    // With no wait at all the engine is nearly always still starting when the manager gives up.
    EngineLaunch::setStartTimeoutMs(0);
    const QString pidFile = m_fixtures.filePath("late.pid");
    useEngine(writeEngine("echo $$ >'" + QFile::encodeName(pidFile) + "'\nexec sleep 60\n"));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");

    for (int attempt = 0; attempt < 50; ++attempt) {
        QFile::remove(pidFile);
        Prompt::reset();
        const int balloons = m_window->balloonCount();
        const QString toolTip = m_window->tray()->toolTip();
        connectWith(item, "s3cret");
        if (m_window->isVpnRunning()) { // it came up in no time after all: try again
            action("disconnectAction")->trigger();
            QTRY_VERIFY(!m_window->isVpnRunning());
            continue;
        }
        QCOMPARE(countMessages(QStringLiteral("Cannot initialize VPN connection!")), 1);
        QCOMPARE(m_window->engineProcess()->state(), QProcess::NotRunning);
        // Killed before or after it got as far as the script.
        if (QFile::exists(pidFile)) {
            const qint64 pid = ScratchHome::readFile(pidFile).trimmed().toLongLong();
            QVERIFY(pid > 0);
            QVERIFY(processGone(pid));
        }
        // The killed engine's exit is not a connection ending.
        QCOMPARE(m_window->tray()->toolTip(), toolTip);
        QCOMPARE(m_window->balloonCount(), balloons);
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
        QVERIFY(action("connectAction")->isEnabled());
        return;
    }
    QSKIP("the engine always started within 0 ms on this machine");
}

// Pictures of the status line connecting, connected and failed, in English and Polish, for a
// human to look at; only when QLUMAR_SCREENSHOT_DIR is set.
void TestConnection::statusLineScreenshots()
{
    const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
    if (dir.isEmpty())
        QSKIP("QLUMAR_SCREENSHOT_DIR not set");
    REQUIRE_OPENSSL();
    QVERIFY(QDir().mkpath(dir));
    qputenv("QLUMAR_ENGINE_BYTECOUNT_MS", "100");
    writePkcs12Profile("0000", "Office");
    const auto restore = qScopeGuard([] {
        appLanguage = QString();
        removeInstalledTranslators();
    });
    for (const QString& language : {QStringLiteral("en"), QStringLiteral("pl")}) {
        appLanguage = language == QLatin1String("pl") ? language : QString();
        removeInstalledTranslators();
        Language::installTranslators(*qApp);
        delete m_window;
        m_window = new MainWindow;
        m_window->resize(420, 480);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        const auto shot = [&](const char* state) {
            QCoreApplication::processEvents();
            QVERIFY(m_window->grab().save(dir + QStringLiteral("/status_%1_%2.png").arg(state, language)));
        };

        connectWith(profile("0000"), "s3cret");
        QVERIFY(m_window->isVpnRunning() && !m_window->isVpnInitialized());
        shot("connecting");
        QTRY_VERIFY_WITH_TIMEOUT(m_window->statusText().contains(QStringLiteral("↓")), 15000);
        shot("connected");
        QVERIFY(action("disconnectAction")->isEnabled());
        action("disconnectAction")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVpnRunning(), 15000);

        connectWith(profile("0000"), "wrong"); // asked again, the prompt is cancelled
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVpnRunning(), 15000);
        shot("failed");
    }
}

void TestConnection::pkcs12RightPasswordConnects()
{
    REQUIRE_OPENSSL();
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    writePkcs12Profile("0002", "Lab");
    m_window->loadVpnList();
    VpnItem* first = profile("0000");
    VpnItem* item = profile("0001");
    VpnItem* last = profile("0002");
    connectWith(item, "s3cret");

    // Connecting: the engine runs, the profile is taken, the others are blocked.
    QVERIFY(m_window->isVpnRunning());
    QVERIFY(m_window->isAnimating());
    QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
    QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - Connecting to Home…"));
    QVERIFY(first->isBlocked() && last->isBlocked() && !item->isBlocked());
    QVERIFY(!action("connectAction")->isEnabled());
    QVERIFY(action("disconnectAction")->isEnabled());
    QVERIFY(action("infoAction")->isEnabled());
    QVERIFY(!action("editAction")->isEnabled());
    QVERIFY(!action("deleteAction")->isEnabled());

    verifyConnected(item, "Home");
    QCOMPARE(m_window->balloonCount(), 1);
    QVERIFY(log()->toPlainText().contains("Initialization Sequence Completed"));
    QCOMPARE(Prompt::messages().size(), 0);

    // A blocked profile can neither connect nor disconnect, and a double-click does nothing.
    press(last);
    QVERIFY(!action("connectAction")->isEnabled());
    QVERIFY(!action("disconnectAction")->isEnabled());
    QVERIFY(action("infoAction")->isEnabled());
    const int prompts = Prompt::history().size();
    m_window->vpnItemDoubleClickedSlot(last);
    QCOMPARE(Prompt::history().size(), prompts);
    // Nor does a stale Connect (a reloaded list re-enables it): no prompt, no second engine.
    m_window->vpnConnectSlot();
    QCOMPARE(Prompt::history().size(), prompts);
    QVERIFY(m_window->isVpnInitialized());
    QCOMPARE(m_window->activeProfile(), item);
}

void TestConnection::pkcs12WrongPasswordSaysSoOnce()
{
    REQUIRE_OPENSSL();
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "wrong");
    verifyIdleAfterEnd(0, "The password or PIN was not accepted.", true);
    verifyIncorrectPasswordOnce();
    QVERIFY(log()->toPlainText().contains("Error: private key password verification failed"));
}

void TestConnection::tokenKey_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<int>("passwordMessages");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("failure");

    QTest::newRow("right PIN connects") << QByteArray("test key") << "1234" << true << 0
                                        << "PKCS#11: found private key 'test key'" << QString();
    QTest::newRow("wrong PIN is an incorrect password")
        << QByteArray("test key") << "4321" << false << 1 << "Error: private key password verification failed"
        << "The password or PIN was not accepted.";
    QTest::newRow("missing key fails, saying so")
        << QByteArray("no such key") << "1234" << false << 0 << "Cannot find private key 'no such key'"
        << "Cannot find private key 'no such key' in the token";
}

void TestConnection::tokenKey()
{
    REQUIRE_TOKEN();
    QFETCH(QByteArray, key);
    QFETCH(QString, pin);
    QFETCH(bool, connects);
    QFETCH(int, passwordMessages);
    QFETCH(QString, logged);
    QFETCH(QString, failure);

    useToken();
    writeTokenProfile("0000", "Token", key);
    writePkcs12Profile("0001", "Other");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, pin);
    if (connects) {
        verifyConnected(item, "Token");
        action("disconnectAction")->trigger();
        verifyIdleAfterEnd(1);
    } else {
        verifyIdleAfterEnd(0, failure, passwordMessages > 0);
    }
    QCOMPARE(countMessages(QStringLiteral("Incorrect password!")), passwordMessages);
    if (passwordMessages)
        verifyIncorrectPasswordOnce();
    QVERIFY2(log()->toPlainText().contains(logged), qPrintable(log()->toPlainText()));
}

void TestConnection::outputRecognition_data()
{
    QTest::addColumn<QByteArrayList>("writes"); // printf formats, one write each, a pause between
    QTest::addColumn<QString>("logText");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("passwordMessages");

    QTest::newRow("tunnel-up text with other lines in one read")
        << QByteArrayList{"a\\nInitialization Sequence Completed\\nb"}
        << "a\nInitialization Sequence Completed\nb" << true << 0;
    QTest::newRow("tunnel-up text split across two reads is not recognised")
        << QByteArrayList{"Initialization Seq", "uence Completed"} << "Initialization Seq\nuence Completed"
        << false << 0;
    QTest::newRow("one paragraph per read, a read's own line ends kept")
        << QByteArrayList{"one\\n", "two"} << "one\n\ntwo" << false << 0;
    QTest::newRow("text after a NUL is dropped")
        << QByteArrayList{"abc\\000Initialization Sequence Completed", "def"} << "abc\ndef" << false << 0;
    QTest::newRow("standard error is read as well")
        << QByteArrayList{"out", "2:Initialization Sequence Completed", "out again"}
        << "out\nInitialization Sequence Completed\nout again" << true << 0;
    QTest::newRow("Latin-1 bytes") << QByteArrayList{"caf\\351"} << QString::fromUtf8("caf\u00e9") << false
                                   << 0;
    QTest::newRow("output that looks like HTML stays plain text")
        << QByteArrayList{"<b>bold</b> &amp; <i>x</i>", "<p>  two  spaces</p>"}
        << "<b>bold</b> &amp; <i>x</i>\n<p>  two  spaces</p>" << false << 0;
    QTest::newRow("password errors come up once per attempt, however many reads repeat them")
        << QByteArrayList{"Error: private key password verification failed", "more",
                          "error:0906A065:PEM routines:PEM_do_header:bad decrypt",
                          "Error: private key password verification failed"}
        << "Error: private key password verification failed\nmore\n"
           "error:0906A065:PEM routines:PEM_do_header:bad decrypt\n"
           "Error: private key password verification failed"
        << false << 1;
    QTest::newRow("OpenSSL 1.0 decryption code is a password error")
        << QByteArrayList{"error:0906A065:PEM routines:PEM_do_header:bad decrypt", "more"}
        << "error:0906A065:PEM routines:PEM_do_header:bad decrypt\nmore" << false << 1;
    QTest::newRow("password error in the tunnel-up read still counts")
        << QByteArrayList{"Initialization Sequence Completed\\nerror:0906A065"}
        << "Initialization Sequence Completed\nerror:0906A065" << true << 1;
    QTest::newRow("password error once the tunnel is up is not searched")
        << QByteArrayList{"Initialization Sequence Completed",
                          "Error: private key password verification failed"}
        << "Initialization Sequence Completed\nError: private key password verification failed" << true << 0;
}

void TestConnection::outputRecognition()
{
    REQUIRE_SHELL();
    QFETCH(QByteArrayList, writes);
    QFETCH(QString, logText);
    QFETCH(bool, connected);
    QFETCH(int, passwordMessages);

    QByteArray body;
    for (const QByteArray& write : writes) {
        // "2:" sends a write to standard error.
        if (write.startsWith("2:"))
            body += "printf '" + write.mid(2) + "' >&2\nsleep 0.4\n";
        else
            body += "printf '" + write + "'\nsleep 0.4\n";
    }
    // A last read that tells the test everything before it has been handled.
    body += "printf 'END'\nexec sleep 60\n";
    useEngine(writeEngine(body));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    QTRY_VERIFY_WITH_TIMEOUT(log()->toPlainText().endsWith("\nEND"), 15000);

    QCOMPARE(log()->toPlainText(), logText + "\nEND");
    QCOMPARE(m_window->isVpnInitialized(), connected);
    QCOMPARE(m_window->balloonCount(), connected ? 1 : 0);
    QCOMPARE(countMessages(QStringLiteral("Incorrect password!")), passwordMessages);
    QVERIFY(m_window->isVpnRunning());
}

void TestConnection::floodIsLoggedWholeAndInOrder()
{
    REQUIRE_OPENSSL();
    // Far more than one read's worth, arriving faster than the log takes it.
    const int lines = 5000;
    qputenv("QLUMAR_ENGINE_FLOOD_LINES", QByteArray::number(lines));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");

    const QString text = log()->toPlainText();
    qsizetype from = 0;
    for (int i = 1; i <= lines; ++i) {
        from = text.indexOf(QStringLiteral("packet %1 ").arg(i, 9, 10, QLatin1Char('0')), from);
        QVERIFY2(from >= 0, qPrintable(QString::number(i)));
    }
    QVERIFY(text.indexOf("Initialization Sequence Completed") > from);
    QVERIFY(log()->document()->blockCount() > lines);
}

void TestConnection::outputPendingAtExitIsHandledFirst()
{
    REQUIRE_SHELL();
    // Much more than one read, then the password error, then a quick exit: most of it is still
    // waiting to be read when the exit is noticed.
    useEngine(writeEngine("awk 'BEGIN { for (i = 0; i < 4000; i++) printf \"filler %05d "
                          "..................................................\\n\", i }'\n"
                          "printf 'Error: private key password verification failed\\n'\nexit 1\n"));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    verifyIdleAfterEnd(0, "The password or PIN was not accepted.", true);
    verifyIncorrectPasswordOnce();
    const QString text = log()->toPlainText();
    QVERIFY(text.contains("filler 03999 "));
    QVERIFY(text.trimmed().endsWith("Error: private key password verification failed"));
}

void TestConnection::disconnectWhileConnecting()
{
    REQUIRE_OPENSSL();
    qputenv("QLUMAR_ENGINE_CONNECT_DELAY_MS", "60000");
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    QVERIFY(m_window->isVpnRunning());
    const qint64 pid = m_window->engineProcess()->processId();
    QTRY_VERIFY(log()->toPlainText().contains("UDP link remote"));

    press(item);
    QVERIFY(action("disconnectAction")->isEnabled());
    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(0);
    QTRY_VERIFY(processGone(pid));
    QVERIFY(!log()->toPlainText().contains("Initialization Sequence Completed"));
    QCOMPARE(Prompt::messages().size(), 0);
}

void TestConnection::disconnectWhileConnected()
{
    REQUIRE_OPENSSL();
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");
    const qint64 pid = m_window->engineProcess()->processId();

    // From the tray menu, which holds the same action.
    QVERIFY(m_window->tray()->contextMenu()->actions().contains(action("disconnectAction")));
    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(1);
    QTRY_VERIFY(processGone(pid));
    // Killed, not asked to stop: the engine had no chance to say goodbye.
    QVERIFY(!log()->toPlainText().contains("process exiting"));

    // And again, straight away.
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");
}

void TestConnection::engineEndingOnItsOwn_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("wasConnected");

    QTest::newRow("exits with an error code once connected")
        << QByteArray("QLUMAR_ENGINE_EXIT_AFTER_MS") << QByteArray("500") << true;
    QTest::newRow("crashes while connecting")
        << QByteArray("QLUMAR_ENGINE_CRASH") << QByteArray("connecting") << false;
    QTest::newRow("crashes once connected")
        << QByteArray("QLUMAR_ENGINE_CRASH") << QByteArray("connected") << true;
}

void TestConnection::engineEndingOnItsOwn()
{
    REQUIRE_OPENSSL();
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, wasConnected);

    qputenv(name.constData(), value);
    qputenv("QLUMAR_ENGINE_EXIT_CODE", "3");
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    VpnItem* other = profile("0001");
    connectWith(item, "s3cret");
    QVERIFY(m_window->isVpnRunning());
    // Another profile pressed during the connection is ready to connect as soon as it ends.
    press(other);
    QVERIFY(!action("connectAction")->isEnabled());

    verifyIdleAfterEnd(wasConnected ? 1 : 0,
                       wasConnected ? QString() : "The VPN engine stopped unexpectedly.");
    QCOMPARE(m_window->selectedProfile(), other);
    QVERIFY(log()->toPlainText().contains("Initialization Sequence Completed") == wasConnected);
    QCOMPARE(Prompt::messages().size(), 0);
}

void TestConnection::listReloadDuringAConnection_data()
{
    QTest::addColumn<bool>("activeRemoved");
    QTest::addColumn<bool>("userDisconnects");

    QTest::newRow("new profile saved, then Disconnect") << false << true;
    QTest::newRow("new profile saved, then the engine ends") << false << false;
    QTest::newRow("active profile gone from disk, then the engine ends") << true << false;
}

// Saving a new profile during a connection reloads the list, replacing every record; the end of
// the connection must act on the new records.
void TestConnection::listReloadDuringAConnection()
{
    REQUIRE_OPENSSL();
    QFETCH(bool, activeRemoved);
    QFETCH(bool, userDisconnects);

    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    connectWith(profile("0000"), "s3cret");
    verifyConnected(profile("0000"), "Office");

    writePkcs12Profile("0002", "Lab");
    if (activeRemoved)
        QVERIFY(QDir(m_home->rootPath() + "/0000").removeRecursively());
    m_window->loadVpnList();
    QVERIFY(m_window->isVpnRunning());
    if (activeRemoved) {
        QCOMPARE(m_window->activeProfile(), nullptr);
    } else {
        QCOMPARE(m_window->activeProfile(), profile("0000"));
        QVERIFY(profile("0000")->isConnected());
        QCOMPARE(iconImage(profile("0000")->icon()), resourceIcon(":img/vpn_con.png"));
    }
    QVERIFY(profile("0001")->isBlocked());
    QVERIFY(profile("0002")->isBlocked());

    const int balloons = m_window->balloonCount();
    if (userDisconnects) {
        press(profile("0000"));
        QVERIFY(action("disconnectAction")->isEnabled());
        action("disconnectAction")->trigger();
    } else {
        press(profile("0002"));
        QVERIFY(!action("connectAction")->isEnabled());
        m_window->engineProcess()->kill(); // as if it died
    }
    verifyIdleAfterEnd(balloons);
    QCOMPARE(m_window->selectedProfile(), profile(userDisconnects ? "0000" : "0002"));
}

// The simulator speaks the engine channel: the address and byte counts reach the status line and
// the tooltip.
void TestConnection::statusLineFollowsTheConnection()
{
    REQUIRE_OPENSSL();
    qputenv("QLUMAR_ENGINE_BYTECOUNT_MS", "100");
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    QCOMPARE(m_window->statusText(), QStringLiteral("Disconnected"));
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    QCOMPARE(m_window->statusText(), QStringLiteral("Connecting to Office…"));
    QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - Connecting to Office…"));

    verifyConnected(item, "Office");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->statusText().contains(" · ↓\u00a0"), 15000);
    const QString first = m_window->statusText();
    // No-break spaces keep each arrow, number and unit together.
    static const QRegularExpression connected(
        "^Connected to Office since \\d\\d:\\d\\d · 10\\.8\\.0\\.6 · ↓\u00a0"
        "[0-9.]+\u00a0(bytes|kB|MB) ↑\u00a0[0-9.]+\u00a0(bytes|kB|MB)$");
    QVERIFY2(connected.match(first).hasMatch(), qPrintable(first));
    QCOMPARE(m_window->tray()->toolTip(), "qLumar VPN - Office\n" + m_window->statusText());
    // The counts keep coming.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->statusText() != first, 15000);
    QCOMPARE(m_window->tray()->toolTip(), "qLumar VPN - Office\n" + m_window->statusText());

    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(1);
}

void TestConnection::failuresSayWhy_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("script"); // a stand-in engine that does not speak the channel
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("failure");

    const QByteArray office = "#\n# qLumarVpnName Office\n#\nrport 1194\n";
    QTest::newRow("token without a PKCS#11 module") << office + "remote vpn.example.org\nkey \"test key\"\n"
                                                    << QStringList() << QByteArray() << "1234"
                                                    << "No PKCS#11 module is set up for the token.";
    QTest::newRow("server unreachable") << office + "remote vpn.invalid\npkcs12 P12\n"
                                        << QStringList() << QByteArray() << "s3cret"
                                        << "The VPN server cannot be reached.";
    QTest::newRow("configuration refused")
        << office + "pkcs12 P12\n"
        << QStringList() << QByteArray() << "s3cret"
        << "The configuration was refused: conf: no remote host given (remote HOST)";
    QTest::newRow("one-time code not given")
        << office + "remote vpn.example.org\npkcs12 P12\n"
        << QStringList{"QLUMAR_ENGINE_ASK=otp"} << QByteArray() << "s3cret"
        << "The server did not accept the login.";
    QTest::newRow("engine crash") << office + "remote vpn.example.org\npkcs12 P12\n"
                                  << QStringList{"QLUMAR_ENGINE_CRASH=start"} << QByteArray() << "s3cret"
                                  << "The VPN engine stopped unexpectedly.";
    QTest::newRow("an engine without the channel: its last error line")
        << office + "remote vpn.example.org\npkcs12 P12\n"
        << QStringList()
        << QByteArray("echo '2026-12-08 15:04:05 TLS Error: TLS handshake failed'\n"
                      "echo '2026-12-08 15:04:05 Exiting due to fatal error'\nexit 1\n")
        << "s3cret"
        << "TLS Error: TLS handshake failed";
}

void TestConnection::failuresSayWhy()
{
    REQUIRE_OPENSSL();
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, env);
    QFETCH(QByteArray, script);
    QFETCH(QString, secret);
    QFETCH(QString, failure);
    for (const QString& change : env)
        qputenv(change.section('=', 0, 0).toLatin1(), change.section('=', 1).toUtf8());
    if (!script.isEmpty())
        useEngine(writeEngine(script));
    writeProfile("0000", conf.replace("P12", m_p12Path.toUtf8()));
    m_window->loadVpnList();
    connectWith(profile("0000"), secret);
    verifyIdleAfterEnd(0, failure);
    QCOMPARE(m_window->statusText(), "Connection to Office failed: " + failure);
}

// A profile without a key: one prompt for username and password, a refusal said and asked again with
// the username kept, a static challenge's code asked with the server's words; no key password asked.
void TestConnection::usernameAndPasswordSignIn()
{
    qputenv("QLUMAR_ENGINE_LOGIN", "alice:right");
    writeProfile("0000", header("Shop") + "\nauth-user-pass\nstatic-challenge \"Code from the app\" 1\n");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    press(item);
    QVERIFY(action("connectAction")->isEnabled());
    Prompt::answerLogin("alice", "wrong", false);
    Prompt::answerText("123456");
    Prompt::answerLogin("alice", "right", false);
    Prompt::answerText("654321");
    action("connectAction")->trigger();
    verifyConnected(item, "Shop");

    QList<Prompt::Shown> logins;
    QList<Prompt::Shown> texts;
    for (const Prompt::Shown& shown : Prompt::history()) {
        if (shown.kind == Prompt::Kind::Login)
            logins.append(shown);
        if (shown.kind == Prompt::Kind::Text)
            texts.append(shown);
    }
    QCOMPARE(logins.size(), 2);
    QCOMPARE(logins.at(0).title, QStringLiteral("Sign in to Shop"));
    QCOMPARE(logins.at(0).username, QString());
    QCOMPARE(logins.at(1).username, QStringLiteral("alice"));
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0).text, QStringLiteral("Code from the app"));
    QCOMPARE(texts.at(0).echo, QLineEdit::Normal);
    QCOMPARE(Prompt::messages().size(), 1);
    QCOMPARE(Prompt::messages().at(0).text, QStringLiteral("The server rejected the username or password."));
    QVERIFY(log()->toPlainText().contains("Authenticating as alice"));

    // The username is kept for the next time, beside the other per-profile notes.
    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(1);
    QVERIFY(ScratchHome::readFile(m_home->rootPath() + "/settings.ini").contains("alice"));
    Prompt::reset();
    Prompt::answerCancel();
    QVERIFY(action("connectAction")->isEnabled());
    action("connectAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVpnRunning(), 15000);
    QCOMPARE(Prompt::history().at(0).kind, Prompt::Kind::Login);
    QCOMPARE(Prompt::history().at(0).username, QStringLiteral("alice"));
    QCOMPARE(m_window->statusText(),
             QStringLiteral("Connection to Shop failed: The server did not accept the "
                            "login."));
}

// A web sign-in: the address goes to the browser, a window waits beside it and goes when the tunnel
// is up; its Cancel ends an attempt that waits.
void TestConnection::webSignInWaitsInTheBrowser()
{
    REQUIRE_OPENSSL();
    qputenv("QLUMAR_ENGINE_OPEN_URL", "https://login.example/sso?x=1");
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow")), 15000);
    QCOMPARE(Prompt::openedUrls(), QList<QUrl>{QUrl("https://login.example/sso?x=1")});
    auto* window = m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("webSignInLabel"))->text(),
             QStringLiteral("Waiting for sign-in in your browser…"));
    QVERIFY(!window->isModal());
    verifyConnected(item, "Office");
    QTRY_VERIFY(!m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow")));
    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(1);

    qputenv("QLUMAR_ENGINE_CONNECT_DELAY_MS", "60000");
    connectWith(item, "s3cret");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow")), 15000);
    auto* cancel = m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow"))
                       ->findChild<QDialogButtonBox*>()
                       ->button(QDialogButtonBox::Cancel);
    QVERIFY(cancel->isEnabled());
    cancel->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVpnRunning(), 15000);
    QVERIFY(!m_window->isVpnInitialized());
    QTRY_VERIFY(!m_window->findChild<QDialog*>(QStringLiteral("webSignInWindow")));
}

void TestConnection::exitKillsARunningEngine()
{
    REQUIRE_OPENSSL();
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");
    const qint64 pid = m_window->engineProcess()->processId();
    QVERIFY(pid > 0);

    m_window->hide(); // the usual case: the window is in the tray
    QTimer::singleShot(0, action("exitAction"), &QAction::trigger);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(processGone(pid));
    QCOMPARE(m_window->engineProcess()->state(), QProcess::NotRunning);
}

void TestConnection::nonAsciiOutputShowsAsWritten()
{
    REQUIRE_SHELL();
    // A profile name from the UTF-8 "conf", then an older message in Latin-1.
    useEngine(writeEngine("printf 'Biuro \\305\\201\\303\\263d\\305\\272\\n'\nsleep 0.4\n"
                          "printf 'caf\\351 \\305'\nsleep 0.4\nprintf 'END'\nexec sleep 60\n"));
    writePkcs12Profile("0000", "Biuro");
    m_window->loadVpnList();
    connectWith(profile("0000"), "s3cret");
    QTRY_VERIFY_WITH_TIMEOUT(log()->toPlainText().endsWith("END"), 15000);
    // A read that is no UTF-8 stays Latin-1, as the engine's older messages are.
    QCOMPARE(log()->toPlainText(), QString::fromUtf8("Biuro \u0141\u00f3d\u017a\n\ncaf\u00e9 \u00c5\nEND"));
}

void TestConnection::longLineIsNotCutInsideACharacter()
{
    REQUIRE_SHELL();
    // One line of two-byte characters, longer than a read, with an odd start so a cut at a read's
    // size would fall inside a character.
    useEngine(writeEngine("awk 'BEGIN { printf \"a\"; for (i = 0; i < 6000; i++) printf \"\\305\\202\"; "
                          "printf \"\\n\" }'\nsleep 0.4\nprintf 'END'\nexec sleep 60\n"));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    connectWith(profile("0000"), "s3cret");
    QTRY_VERIFY_WITH_TIMEOUT(log()->toPlainText().endsWith("END"), 15000);
    QString text = log()->toPlainText();
    text.remove(QLatin1Char('\n'));
    QCOMPARE(text, "a" + QString(6000, QChar(0x142)) + "END");
}

void TestConnection::floodBeyondTheCapKeepsTheNewestLines()
{
    REQUIRE_OPENSSL();
    // More lines than the log keeps, before the tunnel-up text and the password-free end.
    const int lines = CappedLog::defaultMaxLines + 5000;
    qputenv("QLUMAR_ENGINE_FLOOD_LINES", QByteArray::number(lines));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");

    QTextDocument* document = log()->document();
    QCOMPARE(document->firstBlock().text(), CappedLog::droppedNotice());
    QVERIFY(document->blockCount() <= CappedLog::defaultMaxLines + 1);
    QVERIFY(document->blockCount() > CappedLog::defaultMaxLines / 2);
    const QString text = log()->toPlainText();
    QVERIFY(!text.contains(QStringLiteral("packet %1 ").arg(1, 9, 10, QLatin1Char('0'))));
    // The newest lines are all there, in order, the tunnel-up text after them.
    qsizetype from = 0;
    for (int i = lines - 5000; i <= lines; ++i) {
        from = text.indexOf(QStringLiteral("packet %1 ").arg(i, 9, 10, QLatin1Char('0')), from);
        QVERIFY2(from >= 0, qPrintable(QString::number(i)));
    }
    QVERIFY(text.indexOf("Initialization Sequence Completed") > from);

    action("disconnectAction")->trigger();
    verifyIdleAfterEnd(1);
    // The next connection starts with an empty log.
    qunsetenv("QLUMAR_ENGINE_FLOOD_LINES");
    connectWith(item, "s3cret");
    verifyConnected(item, "Office");
    QVERIFY(!log()->toPlainText().contains(CappedLog::droppedNotice()));
}

void TestConnection::leftoverAtExitIsHandledInTurnsBeforeTheFinish()
{
    REQUIRE_SHELL();
    // Far more than the log keeps, then the password error, then a quick exit: nearly all of it
    // is still to be handled when the exit is noticed.
    useEngine(writeEngine("awk 'BEGIN { for (i = 0; i < 150000; i++) printf \"filler %06d "
                          "..................................................\\n\", i }'\n"
                          "printf 'Error: private key password verification failed\\n'\nexit 1\n"));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    VpnItem* item = profile("0000");

    // The event loop must keep turning between the engine's exit and the idle state.
    int turns = 0;
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, this, [&turns] { ++turns; });
    ticker.start();
    int turnsAtExit = -1;
    bool runningAtExit = false;
    int turnsAtIdle = -1;
    connect(m_window->engineProcess(), &QProcess::finished, this, [&] {
        turnsAtExit = turns;
        runningAtExit = m_window->isVpnRunning();
    });
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (turnsAtExit >= 0 && turnsAtIdle < 0 && !m_window->isVpnRunning())
            turnsAtIdle = turns;
    });

    connectWith(item, "s3cret");
    verifyIdleAfterEnd(0, "The password or PIN was not accepted.", true);
    QVERIFY(turnsAtExit >= 0);
    QVERIFY2(runningAtExit, "the connection ended before the output it left was handled");
    QVERIFY2(turnsAtIdle > turnsAtExit + 1, qPrintable(QString("%1 %2").arg(turnsAtExit).arg(turnsAtIdle)));
    // Recognised behind the trimmed log, said once, and the last line shown.
    verifyIncorrectPasswordOnce();
    QTextDocument* document = log()->document();
    QCOMPARE(document->firstBlock().text(), CappedLog::droppedNotice());
    QVERIFY(document->blockCount() <= CappedLog::defaultMaxLines + 1);
    const QString text = log()->toPlainText();
    QVERIFY(text.contains("filler 149999 "));
    QVERIFY(!text.contains("filler 000000 "));
    QVERIFY(text.trimmed().endsWith("Error: private key password verification failed"));
}

void TestConnection::exitDuringAFloodEnds()
{
    REQUIRE_SHELL();
    useEngine(writeEngine("exec yes 'Data Channel: packet from 10.8.0.1:1194, 1420 bytes, AES-256-GCM'\n"));
    writePkcs12Profile("0000", "Office");
    m_window->loadVpnList();
    connectWith(profile("0000"), "s3cret");
    QVERIFY(m_window->isVpnRunning());
    const qint64 pid = m_window->engineProcess()->processId();
    // Well into the flood: far more waiting than the log shows.
    QTRY_VERIFY_WITH_TIMEOUT(log()->toPlainText().contains(CappedLog::droppedNotice()), 30000);

    m_window->hide();
    QTimer::singleShot(0, action("exitAction"), &QAction::trigger);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(processGone(pid));
    QCOMPARE(m_window->engineProcess()->state(), QProcess::NotRunning);
    QVERIFY(log()->document()->blockCount() <= CappedLog::defaultMaxLines + 1);
}

// The tray's Connect submenu entry of a profile, by its shown name.
static QAction* trayEntry(QMenu* menu, const QString& name)
{
    for (QAction* entry : openedMenuEntries(menu)) {
        if (entry->text() == name)
            return entry;
    }
    return nullptr;
}

void TestConnection::answerAtThePasswordPromptBelongsToItsProfile_data()
{
    QTest::addColumn<bool>("otherConnects");
    QTest::newRow("the other profile's prompt is cancelled") << false;
    QTest::newRow("the other profile connects first") << true;
}

// Real prompts, with their own event loops: while the password prompt for one profile is open, the
// tray connects another.
void TestConnection::answerAtThePasswordPromptBelongsToItsProfile()
{
    REQUIRE_SHELL();
    QFETCH(bool, otherConnects);
    const QString records = m_fixtures.filePath(QStringLiteral("starts%1").arg(m_scripts));
    QVERIFY(QDir().mkpath(records));
    useEngine(writeEngine(QStringLiteral("{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
                                         ">'%1/'$$.tmp\nmv '%1/'$$.tmp '%1/'$$.start\n"
                                         "echo 'Initialization Sequence Completed'\nexec sleep 60\n")
                              .arg(records)
                              .toUtf8()));
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    press(profile("0000"));
    QVERIFY(action("connectAction")->isEnabled());

    Prompt::setTestMode(false);
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        auto* officePrompt = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(officePrompt && officePrompt->findChild<QLineEdit*>());
        QAction* home = trayEntry(trayConnectMenu(), "Home");
        QVERIFY(home && home->isEnabled() && trayConnectMenu()->isEnabled());
        QTimer::singleShot(0, this, [&] {
            auto* homePrompt = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(homePrompt && homePrompt != officePrompt);
            if (otherConnects) {
                homePrompt->findChild<QLineEdit*>()->setText("home-secret");
                homePrompt->accept();
            } else {
                homePrompt->reject();
            }
        });
        home->trigger();
        QCOMPARE(m_window->isVpnRunning(), otherConnects);
        officePrompt->findChild<QLineEdit*>()->setText("office-secret");
        officePrompt->accept();
        answered = true;
    });
    action("connectAction")->trigger();
    Prompt::setTestMode(true);
    QVERIFY(answered);

    const QString dir = otherConnects ? "0001" : "0000";
    const QString secret = otherConnects ? "home-secret" : "office-secret";
    QVERIFY(m_window->isVpnRunning());
    QCOMPARE(m_window->activeProfile(), profile(dir));
    // The tray selected Home last, but Office is the one starting (its engine has not spoken yet).
    if (!otherConnects) {
        QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - Connecting to Office…"));
        QCOMPARE(picture()->accessibleName(), QStringLiteral("VPN connecting to Office"));
    }
    QTRY_COMPARE(QDir(records).entryList({"*.start"}).size(), 1);
    // The manager runs one engine at a time: the running one is the only one ever started.
    const QStringList starts = QDir(records).entryList({"*.start"});
    QCOMPARE(starts.first(), QString::number(m_window->engineProcess()->processId()) + ".start");
    const QList<QByteArray> lines = ScratchHome::readFile(records + "/" + starts.first()).split('\n');
    QCOMPARE(lines.first(), QFileInfo(m_home->rootPath() + "/" + dir).canonicalFilePath().toUtf8());
    QVERIFY(lines.contains(secret.toUtf8()));
    QCOMPARE(lines.at(lines.indexOf("--keypass") + 1), secret.toUtf8());
    verifyConnected(profile(dir), otherConnects ? "Home" : "Office");
}

void TestConnection::deleteActsOnTheAskedProfileAndNeverDuringAConnection_data()
{
    QTest::addColumn<bool>("otherConnects");
    QTest::newRow("another profile selected from the tray, not connected") << false;
    QTest::newRow("another profile connected from the tray") << true;
}

void TestConnection::deleteActsOnTheAskedProfileAndNeverDuringAConnection()
{
    REQUIRE_SHELL();
    QFETCH(bool, otherConnects);
    useEngine(writeEngine("echo 'Initialization Sequence Completed'\nexec sleep 60\n"));
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    press(profile("0000"));
    QVERIFY(action("deleteAction")->isEnabled());

    Prompt::setTestMode(false);
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QAction* home = trayEntry(trayConnectMenu(), "Home");
        QVERIFY(home && home->isEnabled() && trayConnectMenu()->isEnabled());
        QTimer::singleShot(0, this, [&] {
            auto* prompt = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(prompt && prompt->findChild<QLineEdit*>());
            if (otherConnects) {
                prompt->findChild<QLineEdit*>()->setText("s3cret");
                prompt->accept();
            } else {
                prompt->reject();
            }
        });
        home->trigger();
        QCOMPARE(m_window->selectedProfile(), profile("0001"));
        QCOMPARE(m_window->isVpnRunning(), otherConnects);
        box->button(QMessageBox::Yes)->click();
        answered = true;
    });
    action("deleteAction")->trigger();
    Prompt::setTestMode(true);
    QVERIFY(answered);

    QVERIFY(QFileInfo::exists(m_home->rootPath() + "/0001/conf"));
    QVERIFY(profile("0001"));
    if (otherConnects) {
        // Nothing is deleted while a connection runs, least of all the connected profile.
        QVERIFY(QFileInfo::exists(m_home->rootPath() + "/0000/conf"));
        QCOMPARE(m_window->activeProfile(), profile("0001"));
        verifyConnected(profile("0001"), "Home");
    } else {
        QVERIFY(!QFileInfo::exists(m_home->rootPath() + "/0000"));
        QCOMPARE(profile("0000"), nullptr);
        QVERIFY(!m_window->isVpnRunning());
    }
}

void TestConnection::noConnectionStartsWhileAnEditDialogIsOpen()
{
    REQUIRE_SHELL();
    useEngine(writeEngine("echo 'Initialization Sequence Completed'\nexec sleep 60\n"));
    writePkcs12Profile("0000", "Office");
    writePkcs12Profile("0001", "Home");
    m_window->loadVpnList();
    press(profile("0000"));
    QVERIFY(action("editAction")->isEnabled());

    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        // The dialog saves by itself; a connection started meanwhile would run on the files it
        // rewrites, so the tray offers none.
        QVERIFY(!trayConnectMenu()->isEnabled());
        // Nor does a stale Connect start one.
        Prompt::answerText("s3cret");
        m_window->vpnConnectSlot();
        QVERIFY(!m_window->isVpnRunning());
        QCOMPARE(m_window->engineProcess()->state(), QProcess::NotRunning);
        dialog->findChild<QPushButton*>("cancelButton")->click();
        seen = true;
    });
    action("editAction")->trigger();
    QVERIFY(seen);
    QVERIFY(trayConnectMenu()->isEnabled());
    Prompt::reset();

    // Afterwards the tray connects as ever.
    QAction* homeEntry = trayEntry(trayConnectMenu(), "Home");
    QVERIFY(homeEntry && homeEntry->isEnabled());
    Prompt::answerText("s3cret");
    homeEntry->trigger();
    verifyConnected(profile("0001"), "Home");
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
