// The connection without any window: a stand-in engine script per case, driven through
// VpnConnection alone.

#include "TestSupport.h"

#include "connection/EngineLaunch.h"
#include "connection/VpnConnection.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

using State = VpnConnection::State;

} // namespace

class TestVpnConnection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_scripts = 0;

    QString engine(const QByteArray& body)
    {
        const QString path = m_dir.filePath(QStringLiteral("engine%1.sh").arg(++m_scripts));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
            return QString();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    // A stand-in engine that speaks the channel: Python, started by exec so that it is the very
    // process the manager started, with say() and log() at hand.
    QString channelEngine(const QByteArray& python)
    {
        return engine("exec python3 - <<'EOF'\n"
                      "import os, socket, sys, time\n"
                      "s = socket.socket(socket.AF_UNIX)\n"
                      "s.connect(os.environ['QLUMAR_ENGINE_CHANNEL'])\n"
                      "def say(*fields): s.sendall(('\\t'.join(fields) + '\\n').encode())\n"
                      "def log(text): print(text, flush=True)\n" +
                      python + "EOF\n");
    }

    // Every signal, in order, as text.
    struct Recorder
    {
        explicit Recorder(VpnConnection& c)
        {
            QObject::connect(&c, &VpnConnection::stateChanged, [this](State s) {
                events << QString("state:") + QMetaEnum::fromType<State>().valueToKey(int(s));
            });
            QObject::connect(&c, &VpnConnection::tunnelUp, [this] { events << "tunnelUp"; });
            QObject::connect(&c, &VpnConnection::passwordRejected, [this] { events << "passwordRejected"; });
            // As the window's log does: what was shown goes, the output still to come refills it.
            QObject::connect(&c, &VpnConnection::logDropped, [this] {
                events << "logDropped";
                log.clear();
            });
            QObject::connect(&c, &VpnConnection::logText, [this](const QString& text) { log << text; });
            QObject::connect(&c, &VpnConnection::tunnelAddressChanged,
                             [this](const QString& address) { events << "address:" + address; });
            QObject::connect(&c, &VpnConnection::bytesChanged, [this](quint64 in, quint64 out) {
                events << QString("bytes:%1:%2").arg(in).arg(out);
            });
            QObject::connect(&c, &VpnConnection::failureReason,
                             [this](const QString& code, const QString& text) {
                                 events << "failure:" + code + ":" + text;
                             });
            QObject::connect(&c, &VpnConnection::inputRequested,
                             [this](const QString& id, const QString& kind, const QString& prompt) {
                                 events << "input:" + id + ":" + kind + ":" + prompt;
                             });
            QObject::connect(&c, &VpnConnection::openUrlRequested,
                             [this](const QUrl& url) { events << "url:" + url.toString(); });
            QObject::connect(&c, &VpnConnection::finished, [this](int code, QProcess::ExitStatus status) {
                events << QString("finished:%1:%2")
                              .arg(code)
                              .arg(status == QProcess::NormalExit ? "normal" : "crash");
            });
        }
        QStringList events;
        QStringList log;
    };

private Q_SLOTS:
    void init()
    {
        EngineLaunch::setStartTimeoutMs(EngineLaunch::defaultStartTimeoutMs);
        if (QString(QTest::currentTestFunction()).contains("channel", Qt::CaseInsensitive) &&
            QStandardPaths::findExecutable("python3").isEmpty())
            QSKIP("the stand-in engines that speak the channel are Python scripts (apt-get install python3)");
    }

    // Garbage, overlong lines and unknown messages are dropped; what is left arrives in order, and
    // the answer reaches the engine.
    void channelEventsAndAnswer()
    {
        VpnConnection connection;
        Recorder seen(connection);
        connect(&connection, &VpnConnection::inputRequested, this, [&connection](const QString& id) {
            connection.answerInput(id, "654 321");
            connection.answerInput(id, "said twice"); // a request is answered once
        });
        QVERIFY(connection.start(
            m_dir.path(),
            channelEngine("say('state', 'connected', '6.6.6.6')\n" // before the hello
                          "say('hello', '7', 'stand-in')\n"
                          "s.sendall(b'x' * 5000 + b'\\tstate\\tconnected\\t6.6.6.6\\n')\n"
                          "s.sendall(b'\\x00\\xff\\x01 garbage\\n\\n')\n"
                          "say('bytes', '12', '-3'); say('bytes', '12'); say('frobnicate', 'x')\n"
                          "say('url', 'file:///etc/passwd'); say('url', 'javascript:alert(1)')\n"
                          "say('state', 'connected', '10.8.0.6', 'a later field')\n"
                          "say('bytes', '12300000', '1200000')\n"
                          "say('input', '7', 'otp', 'Code\\\\tfrom the app')\n"
                          "for line in s.makefile('rb'):\n"
                          "    f = line.decode().rstrip('\\n').split('\\t')\n"
                          "    if f[0] == 'answer': log('answer ' + f[1] + '=' + f[2]); break\n"
                          "say('url', 'https://login.example/x?a=1')\n"
                          "log('Initialization Sequence Completed')\n"
                          "time.sleep(60)\n"),
            {}));
        QTRY_COMPARE_WITH_TIMEOUT(connection.state(), State::Connected, 15000);
        QTRY_VERIFY(seen.events.contains("url:https://login.example/x?a=1"));
        QCOMPARE(connection.channelVersion(), 1);
        QCOMPARE(connection.tunnelAddress(), QStringLiteral("10.8.0.6"));
        QCOMPARE(seen.log.join(QString()),
                 QStringLiteral("answer 7=654 321\nInitialization Sequence Completed\n"));
        connection.stop();
        QTRY_COMPARE(connection.state(), State::Idle);
        // The log and the channel are two streams: each keeps its own order.
        static const QRegularExpression fromChannel("^(address|bytes|input|url|failure):");
        QCOMPARE(seen.events.filter(fromChannel),
                 QStringList({"address:10.8.0.6", "bytes:12300000:1200000",
                              "input:1/7:otp:Code\tfrom the app", "url:https://login.example/x?a=1"}));
        QCOMPARE(seen.events.size(), 11);
        // Stopped by the user: no failure.
        QVERIFY(connection.failureText().isEmpty());
    }

    // Every engine numbers its requests from 1: an answer typed for an attempt that has ended reaches
    // no later one, whose own request goes on to be answered.
    void lateAnswerReachesNoLaterAttempt()
    {
        VpnConnection connection;
        QStringList ids;
        connect(&connection, &VpnConnection::inputRequested, this,
                [&ids](const QString& id) { ids.append(id); });
        Recorder seen(connection);
        const QString asking =
            channelEngine("say('hello', '1')\n"
                          "say('input', '1', 'otp', 'Code')\n"
                          "for line in s.makefile('rb'):\n"
                          "    f = line.decode().rstrip('\\n').split('\\t')\n"
                          "    if f[0] == 'answer': log('answer ' + f[1] + '=' + f[2]); break\n"
                          "time.sleep(60)\n");
        QVERIFY(connection.start(m_dir.path(), asking, {}));
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 1, 15000);
        connection.stop();
        QTRY_COMPARE(connection.state(), State::Idle);

        QVERIFY(connection.start(m_dir.path(), asking, {}));
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 2, 15000);
        connection.answerInput(ids.at(0), "typed for the first");
        connection.answerLogin(ids.at(0), "alice", "typed for the first");
        connection.cancelInput(ids.at(0));
        connection.answerInput(ids.at(1), "654321");
        QTRY_VERIFY_WITH_TIMEOUT(seen.log.join(QString()).contains("answer "), 15000);
        QCOMPARE(seen.log.join(QString()), QStringLiteral("answer 1=654321\n"));
        connection.stop();
        QTRY_COMPARE(connection.state(), State::Idle);
    }

    void failureReasons_data()
    {
        QTest::addColumn<bool>("channel");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");

        QTest::newRow("the channel's reason, the last of the log notwithstanding")
            << true
            << QByteArray("say('hello', '1')\nlog('Error: something else')\n"
                          "say('failure', 'server-unreachable', 'RESOLVE: Cannot resolve host address')\n"
                          "sys.exit(1)\n")
            << "server-unreachable"
            << "The VPN server cannot be reached.";
        QTest::newRow("an unknown code: the engine's text")
            << true
            << QByteArray("say('hello', '1')\nsay('failure', 'new-code', 'Error: the moon is down')\n")
            << "new-code"
            << "the moon is down";
        QTest::newRow("without the channel: the last error line")
            << false
            << QByteArray("echo '2026-12-08 15:04:05 Options error: conf: no remote host given'\n"
                          "echo '2026-12-08 15:04:05 Exiting due to fatal error'\nexit 1\n")
            << "engine-error"
            << "conf: no remote host given";
        QTest::newRow("without the channel: a wrong password")
            << false << QByteArray("echo 'Error: private key password verification failed'\nexit 1\n")
            << "wrong-password"
            << "The password or PIN was not accepted.";
        QTest::newRow("the recognised password text over a vaguer reason")
            << true
            << QByteArray("say('hello', '1')\nlog('Error: private key password verification failed')\n"
                          "say('failure', 'engine-error', 'OpenVPN ended')\nsys.exit(1)\n")
            << "wrong-password"
            << "The password or PIN was not accepted.";
        QTest::newRow("crash") << false << QByteArray("echo 'Error: earlier'\nkill -SEGV $$\n") << "crashed"
                               << "The VPN engine stopped unexpectedly.";
        QTest::newRow("up, then ended: no failure")
            << true
            << QByteArray("say('hello', '1')\nlog('Initialization Sequence Completed')\nsys.exit(1)\n")
            << QString() << QString();
    }

    void failureReasons()
    {
        QFETCH(bool, channel);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, text);
        VpnConnection connection;
        QVERIFY(connection.start(m_dir.path(), channel ? channelEngine(body) : engine(body), {}));
        QTRY_COMPARE_WITH_TIMEOUT(connection.state(), State::Idle, 15000);
        QCOMPARE(connection.failureCode(), code);
        QCOMPARE(connection.failureText(), text);
    }

    void startConnectAndStop()
    {
        VpnConnection connection;
        Recorder seen(connection);
        QVERIFY(connection.start(m_dir.path(),
                                 engine("echo hello\nsleep 0.2\necho 'Initialization Sequence Completed'\n"
                                        "exec sleep 60\n"),
                                 {"--keypass", "s3cret"}));
        QVERIFY(connection.isRunning());
        QCOMPARE(connection.process()->arguments().last(), QStringLiteral("s3cret"));
        QTRY_COMPARE(connection.state(), State::Connected);
        QVERIFY(connection.isTunnelUp());
        const qint64 pid = connection.process()->processId();
        connection.stop();
        QCOMPARE(connection.state(), State::Stopping);
        QTRY_COMPARE(connection.state(), State::Idle);
        QCOMPARE(seen.events, QStringList({"state:Starting", "state:Connecting", "state:Connected",
                                           "tunnelUp", "state:Stopping", "state:Idle", "finished:9:crash"}));
        QCOMPARE(seen.log.join('|'), QStringLiteral("hello\n|Initialization Sequence Completed\n"));
        QVERIFY(!connection.isRunning());
        QVERIFY(processGone(pid));
        // The password went with the engine.
        QVERIFY(connection.process()->arguments().isEmpty());
    }

    void wrongPasswordIsSaidOnce()
    {
        VpnConnection connection;
        Recorder seen(connection);
        QVERIFY(connection.start(m_dir.path(),
                                 engine("echo 'Error: private key password verification failed'\nsleep 0.2\n"
                                        "echo 'error:0906A065:PEM routines'\nexit 1\n"),
                                 {}));
        QTRY_COMPARE(connection.state(), State::Idle);
        QCOMPARE(seen.events.count("passwordRejected"), 1);
        QVERIFY(!seen.events.contains("tunnelUp"));
        QCOMPARE(seen.events.last(), QStringLiteral("finished:1:normal"));
    }

    void engineCrashEndsTheConnection()
    {
        VpnConnection connection;
        Recorder seen(connection);
        QVERIFY(connection.start(m_dir.path(),
                                 engine("echo 'Initialization Sequence Completed'\nkill -SEGV $$\n"), {}));
        QTRY_COMPARE(connection.state(), State::Idle);
        QCOMPARE(seen.events.count("tunnelUp"), 1);
        QVERIFY(seen.events.last().endsWith(":crash"));
        QVERIFY(!connection.isRunning());
    }

    void lateStartIsKilledAndEndsNothing()
    {
        EngineLaunch::setStartTimeoutMs(0);
        const QString pidFile = m_dir.filePath("late.pid");
        const QString late = engine("echo $$ >'" + QFile::encodeName(pidFile) + "'\nexec sleep 60\n");
        for (int attempt = 0; attempt < 50; ++attempt) {
            VpnConnection connection;
            Recorder seen(connection);
            if (connection.start(m_dir.path(), late, {})) // it came up in no time after all: again
                continue;
            QCOMPARE(connection.state(), State::Idle);
            QVERIFY(!connection.isRunning());
            QCOMPARE(connection.process()->state(), QProcess::NotRunning);
            if (QFile::exists(pidFile))
                QVERIFY(processGone(ScratchHome::readFile(pidFile).trimmed().toLongLong()));
            QCoreApplication::processEvents();
            QVERIFY(!seen.events.join(' ').contains("finished"));
            return;
        }
        QSKIP("the engine always started within 0 ms on this machine");
    }

    void killAtExitReapsTheEngine()
    {
        VpnConnection connection;
        QVERIFY(connection.start(m_dir.path(), engine("exec sleep 60\n"), {}));
        const qint64 pid = connection.process()->processId();
        connection.killAtExit();
        QCOMPARE(connection.process()->state(), QProcess::NotRunning);
        QVERIFY(processGone(pid));
    }

    // Once the tunnel is up the output waits to be read in batches: none of it is lost, on either
    // stream, whether the engine ends by itself or is stopped, and all of it comes before the end.
    void outputOnceConnectedIsComplete_data()
    {
        QTest::addColumn<bool>("stopped");
        QTest::newRow("engine exits") << false;
        QTest::newRow("engine stopped") << true;
    }

    void outputOnceConnectedIsComplete()
    {
        QFETCH(bool, stopped);
        VpnConnection connection;
        Recorder seen(connection);
        QVERIFY(connection.start(m_dir.path(),
                                 engine("echo 'Initialization Sequence Completed'\ni=1\n"
                                        "while [ $i -le 40 ]; do echo \"line $i\"; echo \"err $i\" >&2; "
                                        "sleep 0.02; i=$((i+1)); done\n" +
                                        QByteArray(stopped ? "exec sleep 60\n" : "echo last\nexit 3\n")),
                                 {}));
        QTRY_COMPARE(connection.state(), State::Connected);
        if (stopped) {
            // Stopped while the engine writes, most likely with some of it not read yet.
            QTRY_VERIFY(seen.log.join(QString()).contains("line 10\n"));
            connection.stop();
        }
        QTRY_COMPARE(connection.state(), State::Idle);
        QCOMPARE(seen.events.last(), stopped ? QStringLiteral("finished:9:crash") : "finished:3:normal");
        const QString log = seen.log.join(QString());
        int lines = 40;
        if (stopped) {
            while (lines > 10 && !log.contains(QStringLiteral("line %1\n").arg(lines)))
                --lines;
            --lines; // standard error may be a line behind
        }
        qsizetype out = log.indexOf("Initialization Sequence Completed");
        qsizetype err = out;
        // Without a gap up to the last line shown.
        for (int i = 1; i <= lines; ++i) {
            out = log.indexOf(QStringLiteral("line %1\n").arg(i), out);
            err = log.indexOf(QStringLiteral("err %1\n").arg(i), err);
            QVERIFY2(out >= 0 && err >= 0, qPrintable(QString::number(i)));
        }
        if (!stopped)
            QVERIFY(log.indexOf("last\n", out) > out);
    }

    // An engine that writes a lot once connected is not held to the pace of the batches: OpenVPN
    // waiting for its log to be read would hold up the tunnel. 8 MB at a pipe's worth a batch
    // would take a minute.
    void floodOnceConnectedIsNotHeldBack()
    {
        VpnConnection connection;
        connection.setLogLimits(100, 100000);
        Recorder seen(connection);
        QVERIFY(connection.start(m_dir.path(),
                                 engine("echo 'Initialization Sequence Completed'\nsleep 0.3\n"
                                        "awk 'BEGIN { for (i = 0; i < 80000; i++) printf \"filler %05d "
                                        "..........................................................."
                                        "...........................\\n\", i }'\necho last\nexit 0\n"),
                                 {}));
        QTRY_COMPARE_WITH_TIMEOUT(connection.state(), State::Idle, 20000);
        QVERIFY(seen.log.join(QString()).endsWith("last\n"));
    }

    // A flood beyond what the log shows, then the password error and the exit: the dropped part
    // is still searched, and the end comes after the last of it.
    void leftoverIsHandledBeforeTheEnd()
    {
        VpnConnection connection;
        connection.setLogLimits(100, 100000);
        Recorder seen(connection);
        QVERIFY(connection.start(
            m_dir.path(),
            engine("awk 'BEGIN { for (i = 0; i < 50000; i++) printf \"filler %05d\\n\", i }'\n"
                   "echo 'Error: private key password verification failed'\nexit 2\n"),
            {}));
        QTRY_COMPARE(connection.state(), State::Idle);
        QVERIFY(seen.events.contains("logDropped"));
        QCOMPARE(seen.events.count("passwordRejected"), 1);
        QCOMPARE(seen.events.last(), QStringLiteral("finished:2:normal"));
        QVERIFY(seen.log.join(QString()).trimmed().endsWith(
            "filler 49999\nError: private key password verification failed"));
        QVERIFY(!seen.log.join(QString()).contains("filler 00000"));
    }
};

QTEST_GUILESS_MAIN(TestVpnConnection)
#include "tst_vpnconnection.moc"
