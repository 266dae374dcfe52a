#include "PrivateBus.h"
#include "TestKeyring.h"
#include "connection/SecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QtTest>

// Against a real Secret Service: gnome-keyring-daemon, unlocked with a throw-away password, on a
// session bus and in a home of the test's own.
class TestSecretStore : public QObject
{
    Q_OBJECT

    TestKeyring m_keyring;

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
        QString error;
        if (!m_keyring.useBus(&error))
            QSKIP(qPrintable(error));
        qputenv("HOME", m_keyring.home().toUtf8());
        if (!m_keyring.start(&error))
            QSKIP(qPrintable(error));
    }

    void cleanupTestCase() { m_keyring.stop(); }

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
        QDirIterator files(m_keyring.home(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
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
