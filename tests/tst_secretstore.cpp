#include "PrivateBus.h"
#include "connection/SecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

// Against a real Secret Service: gnome-keyring-daemon, unlocked with a throw-away password, on a
// session bus and in a home of the test's own.
class TestSecretStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    PrivateBus m_bus;
    QProcess m_keyring;

    static SecretStore::Result resultAt(const QSignalSpy& spy, int index)
    {
        return spy.at(index).at(1).value<SecretStore::Result>();
    }

    // What a finished load gave: the result and the secret.
    static std::pair<SecretStore::Result, QString> load(SecretStore& store, const QString& profile)
    {
        QSignalSpy loaded(&store, &SecretStore::loaded);
        store.load(profile);
        if (!loaded.wait(20000) || loaded.at(0).at(0).toString() != profile)
            return {SecretStore::Result::Failed, QStringLiteral("no answer")};
        return {resultAt(loaded, 0), loaded.at(0).at(2).toString()};
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
        if (daemon.isEmpty())
            QSKIP("gnome-keyring-daemon is not installed (scripts/install-deps installs gnome-keyring)");
        if (!m_bus.start())
            QSKIP(qPrintable(m_bus.error()));
        QVERIFY(m_home.isValid());
        const QString runtime = m_home.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // Before anything in this process opens the session bus: the keychain's own connection
        // is made once and kept.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_CACHE_HOME", m_home.filePath(QStringLiteral("cache")).toUtf8());
        // The keychain picks its backend by desktop; without one it takes the Secret Service.
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("DESKTOP_SESSION");
        qunsetenv("KDE_FULL_SESSION");

        m_keyring.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_keyring.start(daemon, {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"),
                                 QStringLiteral("--foreground")});
        if (!m_keyring.waitForStarted())
            QSKIP(qPrintable("gnome-keyring-daemon does not start: " + m_keyring.errorString()));
        m_keyring.write("throw-away password");
        m_keyring.closeWriteChannel();
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus);
        QDeadlineTimer deadline(15000);
        while (!bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")) &&
               !deadline.hasExpired() && m_keyring.state() == QProcess::Running)
            QTest::qWait(50);
        if (!bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")))
            QSKIP(qPrintable("gnome-keyring-daemon gave no Secret Service: " +
                             m_keyring.readAllStandardError()));
    }

    void cleanupTestCase()
    {
        if (m_keyring.state() != QProcess::NotRunning) {
            m_keyring.terminate();
            QVERIFY(m_keyring.waitForFinished());
        }
    }

    void availability()
    {
        SecretStore store;
        QVERIFY(store.isAvailable());

        PrivateBus empty;
        QVERIFY2(empty.start(), qPrintable(empty.error()));
        const QDBusConnection emptyBus =
            QDBusConnection::connectToBus(empty.address(), QStringLiteral("empty"));
        SecretStore without(emptyBus);
        QVERIFY(!without.isAvailable());
        QSignalSpy saved(&without, &SecretStore::saved);
        QSignalSpy loaded(&without, &SecretStore::loaded);
        QSignalSpy forgotten(&without, &SecretStore::forgotten);
        without.save(QStringLiteral("0000"), QStringLiteral("secret"));
        without.load(QStringLiteral("0000"));
        without.forget(QStringLiteral("0000"));
        QTRY_COMPARE(saved.size() + loaded.size() + forgotten.size(), 3);
        QCOMPARE(resultAt(saved, 0), SecretStore::Result::Unavailable);
        QCOMPARE(resultAt(loaded, 0), SecretStore::Result::Unavailable);
        QCOMPARE(resultAt(forgotten, 0), SecretStore::Result::Unavailable);
        QDBusConnection::disconnectFromBus(emptyBus.name());

        SecretStore disconnected(QDBusConnection(QStringLiteral("never connected")));
        QVERIFY(!disconnected.isAvailable());
    }

    void saveLoadForget()
    {
        SecretStore store;
        const QString secret = QStringLiteral("pä$$ wörd \"1\"");
        QSignalSpy saved(&store, &SecretStore::saved);
        store.save(QStringLiteral("0000"), QStringLiteral("first"));
        store.save(QStringLiteral("0001"), QStringLiteral("other profile"));
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 2, 20000);
        QCOMPARE(resultAt(saved, 0), SecretStore::Result::Ok);
        QCOMPARE(resultAt(saved, 1), SecretStore::Result::Ok);
        // A second save replaces the first.
        store.save(QStringLiteral("0000"), secret);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 3, 20000);
        QCOMPARE(resultAt(saved, 2), SecretStore::Result::Ok);

        QCOMPARE(load(store, QStringLiteral("0000")), std::make_pair(SecretStore::Result::Ok, secret));
        QCOMPARE(load(store, QStringLiteral("0001")),
                 std::make_pair(SecretStore::Result::Ok, QStringLiteral("other profile")));
        // Another store object (the next start of the program) finds it too.
        SecretStore later;
        QCOMPARE(load(later, QStringLiteral("0000")), std::make_pair(SecretStore::Result::Ok, secret));

        // Nothing of ours holds it in plain text.
        QDirIterator files(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!file.readAll().contains(secret.toUtf8()), qPrintable(file.fileName()));
        }

        QSignalSpy forgotten(&store, &SecretStore::forgotten);
        store.forget(QStringLiteral("0000"));
        QVERIFY(forgotten.wait(20000));
        QCOMPARE(resultAt(forgotten, 0), SecretStore::Result::Ok);
        QCOMPARE(load(store, QStringLiteral("0000")),
                 std::make_pair(SecretStore::Result::NotFound, QString()));
        QCOMPARE(load(store, QStringLiteral("0001")).first, SecretStore::Result::Ok);
        // Forgetting what is not there is no failure.
        store.forget(QStringLiteral("0000"));
        QVERIFY(forgotten.wait(20000));
        QCOMPARE(resultAt(forgotten, 1), SecretStore::Result::Ok);
        store.forget(QStringLiteral("0001"));
        QVERIFY(forgotten.wait(20000));
    }
};

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secretstore.moc"
