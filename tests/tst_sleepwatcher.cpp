#include "FakeLogind.h"
#include "PrivateBus.h"
#include "connection/NetworkWatcher.h"
#include "connection/SleepWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>

namespace {

const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

bool writeEndOpen(int fd)
{
    return FakeLogind::writeEndOpen(fd);
}

} // namespace

class TestSleepWatcher : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    int m_connections = 0;

    QDBusConnection connect(const char* role)
    {
        return QDBusConnection::connectToBus(m_bus.address(),
                                             QStringLiteral("%1-%2").arg(role).arg(++m_connections));
    }

    // logind on its own connection, owning its well-known name.
    struct Logind
    {
        FakeLogind object;
        explicit Logind(const QDBusConnection& connection) : object(connection) {}
        bool start() { return object.start(); }
        bool prepareForSleep(bool start) { return object.prepareForSleep(start); }
    };

private Q_SLOTS:
    void initTestCase()
    {
        if (!m_bus.start())
            QSKIP(qPrintable(m_bus.error()));
    }

    void inhibitsUntilTheOwnerIsReady()
    {
        Logind logind(connect("logind"));
        QVERIFY(logind.start());
        const QDBusConnection watcherBus = connect("watcher");
        QVERIFY(watcherBus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
        SleepWatcher watcher(watcherBus);
        watcher.setReleaseTimeout(60000);
        QSignalSpy sleeping(&watcher, &SleepWatcher::aboutToSleep);
        QSignalSpy resumed(&watcher, &SleepWatcher::resumed);

        QTRY_VERIFY(watcher.holdsInhibitor());
        QCOMPARE(logind.object.calls,
                 QList<QStringList>({{"sleep", "qLumar Velkoro", "Closing the VPN connection", "delay"}}));
        QTRY_VERIFY(writeEndOpen(logind.object.readEnds.at(0)));

        QVERIFY(logind.prepareForSleep(true));
        QVERIFY(sleeping.wait());
        QCOMPARE(resumed.size(), 0);
        // Sleep waits while the owner closes the tunnel.
        QVERIFY(watcher.holdsInhibitor());
        QVERIFY(writeEndOpen(logind.object.readEnds.at(0)));

        watcher.releaseInhibitor();
        QVERIFY(!watcher.holdsInhibitor());
        QTRY_VERIFY(!writeEndOpen(logind.object.readEnds.at(0)));

        QVERIFY(logind.prepareForSleep(false));
        QVERIFY(resumed.wait());
        QCOMPARE(sleeping.size(), 1);
        // Ready for the next sleep.
        QTRY_VERIFY(watcher.holdsInhibitor());
        QCOMPARE(logind.object.calls.size(), 2);
        QTRY_VERIFY(writeEndOpen(logind.object.readEnds.at(1)));
        QDBusConnection::disconnectFromBus(watcherBus.name());
    }

    void silentOwnerDoesNotHoldSleepUp()
    {
        Logind logind(connect("logind"));
        QVERIFY(logind.start());
        const QDBusConnection watcherBus = connect("watcher");
        SleepWatcher watcher(watcherBus);
        watcher.setReleaseTimeout(200);
        QSignalSpy sleeping(&watcher, &SleepWatcher::aboutToSleep);
        QTRY_VERIFY(watcher.holdsInhibitor());

        QVERIFY(logind.prepareForSleep(true));
        QVERIFY(sleeping.wait());
        QTRY_VERIFY(!writeEndOpen(logind.object.readEnds.at(0)));
        QVERIFY(!watcher.holdsInhibitor());
        // A late release changes nothing.
        watcher.releaseInhibitor();
        QCOMPARE(logind.object.calls.size(), 1);
        QDBusConnection::disconnectFromBus(watcherBus.name());
    }

    // Without an inhibitor sleep cannot be delayed, but it is still announced.
    void refusedInhibitorStillAnnouncesSleep()
    {
        Logind logind(connect("logind"));
        logind.object.refuse = true;
        QVERIFY(logind.start());
        const QDBusConnection watcherBus = connect("watcher");
        SleepWatcher watcher(watcherBus);
        QSignalSpy refused(&watcher, &SleepWatcher::inhibitorRefused);
        QSignalSpy sleeping(&watcher, &SleepWatcher::aboutToSleep);
        QSignalSpy resumed(&watcher, &SleepWatcher::resumed);
        QVERIFY(refused.wait());
        QCOMPARE(refused.at(0).at(0).toString(), QString("Not allowed"));
        QVERIFY(!watcher.holdsInhibitor());

        QVERIFY(logind.prepareForSleep(true));
        QVERIFY(sleeping.wait());
        watcher.releaseInhibitor();
        QVERIFY(logind.prepareForSleep(false));
        QVERIFY(resumed.wait());
        QDBusConnection::disconnectFromBus(watcherBus.name());
    }

    // Anyone on the bus can send a signal named PrepareForSleep; only logind's counts.
    void onlyLogindIsBelieved()
    {
        Logind logind(connect("logind"));
        QVERIFY(logind.start());
        const QDBusConnection impostor = connect("impostor");
        const QDBusConnection watcherBus = connect("watcher");
        SleepWatcher watcher(watcherBus);
        QSignalSpy sleeping(&watcher, &SleepWatcher::aboutToSleep);
        QTRY_VERIFY(watcher.holdsInhibitor());

        QDBusMessage fake =
            QDBusMessage::createSignal(kLogin1Path, kManager, QStringLiteral("PrepareForSleep"));
        fake << true;
        QVERIFY(QDBusConnection(impostor).send(fake));
        QVERIFY(!sleeping.wait(500));
        QVERIFY(logind.prepareForSleep(true));
        QVERIFY(sleeping.wait());
        QCOMPARE(sleeping.size(), 1);
        QDBusConnection::disconnectFromBus(impostor.name());
        QDBusConnection::disconnectFromBus(watcherBus.name());
    }

    void noLogindAtAll()
    {
        const QDBusConnection watcherBus = connect("watcher");
        SleepWatcher watcher(watcherBus);
        QSignalSpy refused(&watcher, &SleepWatcher::inhibitorRefused);
        QVERIFY(refused.wait());
        QVERIFY(!watcher.holdsInhibitor());
        QDBusConnection::disconnectFromBus(watcherBus.name());
    }

    // A burst of changes while the network settles is one notice, after the last of them.
    void networkChangesAreDebounced()
    {
        NetworkWatcher watcher;
        watcher.setDebounceInterval(100);
        QSignalSpy changed(&watcher, &NetworkWatcher::networkChanged);
        for (int i = 0; i < 5; ++i) {
            watcher.noteChange();
            QCoreApplication::processEvents();
        }
        QVERIFY(changed.isEmpty());
        QVERIFY(changed.wait());
        QVERIFY(!changed.wait(300));
        QCOMPARE(changed.size(), 1);

        watcher.noteChange();
        QVERIFY(changed.wait());
        QCOMPARE(changed.size(), 2);
    }
};

QTEST_MAIN(TestSleepWatcher)
#include "tst_sleepwatcher.moc"
