// The connection without any window: a stand-in engine script per case, driven through
// VpnConnection alone.

#include "TestSupport.h"

#include "connection/EngineLaunch.h"
#include "connection/VpnConnection.h"

#include <QFile>
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
            QObject::connect(&c, &VpnConnection::logDropped, [this] { events << "logDropped"; });
            QObject::connect(&c, &VpnConnection::logText, [this](const QString& text) { log << text; });
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
    void init() { EngineLaunch::setStartTimeoutMs(EngineLaunch::defaultStartTimeoutMs); }

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
