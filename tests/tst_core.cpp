// The widget-free library under a plain QCoreApplication: no display, no GUI application object.

#include "CannedHttpServer.h"

#include "about/UpdateCheck.h"

#include <QCoreApplication>
#include <QtTest>

class TestCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void updateCheckWithoutWidgets_data()
    {
        QTest::addColumn<QByteArray>("answer"); // empty: nothing listens
        QTest::addColumn<QString>("version");   // empty: nothing announced
        QTest::newRow("newer release announced")
            << CannedHttpServer::ok(
                   "dudidudovi en 1.6 setup Download http://www.qlumar-velkoro.example/get\n")
            << "1.6";
        QTest::newRow("server error is silent")
            << CannedHttpServer::answer(500, "Internal Server Error", "dudidudovi en 1.6 setup a b\n") << "";
        QTest::newRow("unreachable server is silent") << QByteArray() << "";
    }

    void updateCheckWithoutWidgets()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, version);
        QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));

        CannedHttpServer server(answer);
        const QUrl url = answer.isEmpty() ? CannedHttpServer::unreachableUrl() : server.url();
        UpdateCheck check(QStringLiteral("dudidudovi"), QStringLiteral("1.5"), QStringLiteral("en"), url);
        QSignalSpy announced(&check, &UpdateCheck::updateAvaliable);
        QSignalSpy finished(&check, &UpdateCheck::checkFinished);
        check.downloadUpdateInfo();
        check.downloadUpdateInfo(); // a second start while one runs is ignored
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(announced.size(), version.isEmpty() ? 0 : 1);
        QCOMPARE(check.newVersion(), version);
        if (!answer.isEmpty())
            QCOMPARE(server.requestLines().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
