#include "CannedHttpServer.h"
#include "TestSupport.h"

#include "about/AboutBox.h"
#include "about/UpdateAction.h"
#include "about/VersionFile.h"
#include "app/MainWindow.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

const QString productKey = QStringLiteral("dudidudovi");
const QString currentVersion = QStringLiteral("1.5");

QByteArray announcing(const QByteArray& version, const QByteArray& language = "en")
{
    return "dudidudovi " + language + ' ' + version +
           " setup Download http://www.qlumar-velkoro.example/get\n";
}

// Runs one check against `url` and waits for its end.
struct Check
{
    explicit Check(const QUrl& url, const QString& language = QStringLiteral("en"))
        : action(productKey, currentVersion, language, nullptr, url),
          announced(&action, &UpdateAction::updateAvaliable), finished(&action, &UpdateAction::checkFinished)
    {
        action.downloadUpdateInfo();
    }
    bool waitDone() { return !finished.isEmpty() || finished.wait(10000); }

    UpdateAction action;
    QSignalSpy announced;
    QSignalSpy finished;
};

// A server on 127.0.0.1 that takes the request, sends the first part of its answer at once and
// the rest one byte at a time, each long after the one before (or never, at 0 ms per byte).
class SlowServer : public QObject
{
public:
    SlowServer(const QByteArray& first, const QByteArray& rest, int msPerByte) : m_answer(rest)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this, first] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                m_sockets.append(socket);
                socket->write(first);
            }
        });
        connect(&m_ticker, &QTimer::timeout, this, [this] {
            for (QTcpSocket* socket : std::as_const(m_sockets)) {
                if (m_sent < m_answer.size() && socket->state() == QAbstractSocket::ConnectedState)
                    socket->write(m_answer.mid(m_sent, 1));
            }
            if (!m_sockets.isEmpty())
                ++m_sent;
        });
        if (msPerByte > 0)
            m_ticker.start(msPerByte);
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/updates.info").arg(m_server.serverPort()));
    }
    bool connected() const { return !m_sockets.isEmpty(); }

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_sockets;
    QTimer m_ticker;
    QByteArray m_answer;
    qsizetype m_sent = 0;
};

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionFile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("version"); // null: nothing announced
        QTest::addColumn<QString>("linkText");
        QTest::addColumn<QString>("linkUrl");

        const QString url = QStringLiteral("http://www.qlumar-velkoro.example/get");
        const QString download = QStringLiteral("Download");
        QTest::newRow("same version is not news") << announcing("1.5") << QString() << QString() << QString();
        QTest::newRow("older version is not news")
            << announcing("1.4") << QString() << QString() << QString();
        QTest::newRow("newer version is announced") << announcing("1.6") << "1.6" << download << url;
        QTest::newRow("1.10 is a lower decimal than 1.5")
            << announcing("1.10") << QString() << QString() << QString();
        QTest::newRow("2.0 is newer") << announcing("2.0") << "2.0" << download << url;
        QTest::newRow("first matching line wins though a later one is newer")
            << announcing("1.5") + announcing("2.0") << QString() << QString() << QString();
        QTest::newRow("first matching line wins when both are newer")
            << announcing("1.6") + announcing("2.0") << "1.6" << download << url;
        QTest::newRow("other languages and products are skipped")
            << "dudidudovi pl 3.0 a Pobierz http://pl.example/\nother en 3.0 a B http://o.example/\n" +
                   announcing("1.7")
            << "1.7" << download << url;
        QTest::newRow("only another language: nothing")
            << announcing("2.0", "pl") << QString() << QString() << QString();
        QTest::newRow("language field that begins with the code matches")
            << announcing("1.6", "english") << "1.6" << download << url;
        QTest::newRow("CR LF line ends match, the CR is not part of the link")
            << QByteArray("other en 9.0 a b http://x.example/\r\ndudidudovi en 1.6 setup Download "
                          "http://www.qlumar-velkoro.example/get\r\n")
            << "1.6" << download << url;
        QTest::newRow("tabs and runs of blanks are one separator")
            << QByteArray("dudidudovi\ten  1.6 \t setup   Download\thttp://www.qlumar-velkoro.example/get")
            << "1.6" << download << url;
        QTest::newRow("fields after the sixth are ignored")
            << QByteArray(
                   "dudidudovi en 1.6 setup Download http://www.qlumar-velkoro.example/get extra more\n")
            << "1.6" << download << url;
        QTest::newRow("bytes after a NUL are not read")
            << QByteArray("other\n", 6) + QByteArray(1, '\0') + announcing("1.6") << QString() << QString()
            << QString();
        QTest::newRow("a NUL ends the file mid-line")
            << QByteArray("dudidudovi en 1.6 setup Download http://www.qlumar-velkoro.example/get") +
                   QByteArray(1, '\0') + "junk"
            << "1.6" << download << url;
        QTest::newRow("bytes are Latin-1") << QByteArray("dudidudovi en 1.6 setup T\xe9l\xe9"
                                                         "charger http://www.qlumar-velkoro.example/get\n")
                                           << "1.6" << QString::fromUtf8("Télécharger") << url;
        QTest::newRow("the key must begin the line")
            << " " + announcing("1.6") << QString() << QString() << QString();
        QTest::newRow("a longer key is another product")
            << "x" + announcing("1.6") << QString() << QString() << QString();
        QTest::newRow("the key is case-sensitive")
            << QByteArray("Dudidudovi en 1.6 setup Download http://www.qlumar-velkoro.example/get\n")
            << QString() << QString() << QString();
        QTest::newRow("fewer than six fields announce nothing")
            << QByteArray("dudidudovi en 1.6 setup Download\n") << QString() << QString() << QString();
        QTest::newRow("trailing blank makes an empty sixth field: nothing")
            << QByteArray("dudidudovi en 1.6 setup Download \n") << QString() << QString() << QString();
        QTest::newRow("a version that is not a number counts as 0")
            << QByteArray("dudidudovi en new setup Download http://www.qlumar-velkoro.example/get\n")
            << QString() << QString() << QString();
        QTest::newRow("nan is not a newer version")
            << QByteArray("dudidudovi en nan setup Download http://www.qlumar-velkoro.example/get\n")
            << QString() << QString() << QString();
        QTest::newRow("inf is not a newer version")
            << QByteArray("dudidudovi en inf setup Download http://www.qlumar-velkoro.example/get\n")
            << QString() << QString() << QString();
        QTest::newRow("https link is offered")
            << QByteArray("dudidudovi en 1.6 setup Download https://secure.example/dl?x=1&y=2\n") << "1.6"
            << download << "https://secure.example/dl?x=1&y=2";
        QTest::newRow("file link is refused")
            << QByteArray("dudidudovi en 1.6 setup Download file:///etc/passwd\n") << QString() << QString()
            << QString();
        QTest::newRow("javascript link is refused")
            << QByteArray("dudidudovi en 1.6 setup Download javascript:alert(1)\n") << QString() << QString()
            << QString();
        QTest::newRow("link without a host is refused")
            << QByteArray("dudidudovi en 1.6 setup Download http:/local/path\n") << QString() << QString()
            << QString();
        QTest::newRow("link with markup characters is refused")
            << QByteArray("dudidudovi en 1.6 setup Download http://h.example/\"><script>\n") << QString()
            << QString() << QString();
        QTest::newRow("relative link is refused")
            << QByteArray("dudidudovi en 1.6 setup Download /download\n") << QString() << QString()
            << QString();
        QTest::newRow("empty file") << QByteArray() << QString() << QString() << QString();
    }

    void versionFile()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, version);
        QFETCH(QString, linkText);
        QFETCH(QString, linkUrl);

        const auto release =
            VersionFile::newerRelease(body, productKey, QStringLiteral("en"), currentVersion);
        QCOMPARE(release.has_value(), !version.isNull());
        if (release) {
            QCOMPARE(release->version, version);
            QCOMPARE(release->linkText, linkText);
            QCOMPARE(release->linkUrl, linkUrl);
        }
    }

    void fieldsKeepEmptyOnes()
    {
        QCOMPARE(VersionFile::splitFields(QStringLiteral("a  b\tc \r")),
                 QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QString()}));
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("announced");
        QTest::addColumn<QString>("version");

        const QByteArray newer = announcing("1.6");
        QTest::newRow("200 with the current version")
            << CannedHttpServer::ok(announcing("1.5")) << false << QString();
        QTest::newRow("200 with a newer version") << CannedHttpServer::ok(newer) << true << "1.6";
        QTest::newRow("200 with 1.10") << CannedHttpServer::ok(announcing("1.10")) << false << QString();
        QTest::newRow("200, two matching lines: the first wins")
            << CannedHttpServer::ok(announcing("1.6") + announcing("1.9")) << true << "1.6";
        QTest::newRow("200, english matches en")
            << CannedHttpServer::ok(announcing("1.6", "english")) << true << "1.6";
        QTest::newRow("200 with CR LF lines")
            << CannedHttpServer::ok("other en 3.0 a b http://o.example/\r\n" + newer.chopped(1) + "\r\n")
            << true << "1.6";
        QTest::newRow("200 without a length, body ends at close")
            << CannedHttpServer::answer(200, "OK", newer, {}, false) << true << "1.6";
        QTest::newRow("404 with an announcing body")
            << CannedHttpServer::answer(404, "Not Found", newer) << false << QString();
        QTest::newRow("500 with an announcing body")
            << CannedHttpServer::answer(500, "Internal Server Error", newer) << false << QString();
        QTest::newRow("204 is not an accepted status")
            << CannedHttpServer::answer(204, "No Content", "") << false << QString();
        QTest::newRow("body of exactly 64 KiB is read")
            << CannedHttpServer::ok(newer + QByteArray(VersionFile::maxBodySize - newer.size(), '#')) << true
            << "1.6";
        QTest::newRow("body past 64 KiB is refused")
            << CannedHttpServer::ok(newer + QByteArray(VersionFile::maxBodySize + 1 - newer.size(), '#'))
            << false << QString();
        QTest::newRow("body past 64 KiB without a length is refused")
            << CannedHttpServer::answer(200, "OK", newer + QByteArray(4 * VersionFile::maxBodySize, '#'), {},
                                        false)
            << false << QString();
    }

    void check()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, announced);
        QFETCH(QString, version);

        CannedHttpServer server(response);
        QVERIFY(server.isListening());
        Check check(server.url());
        QVERIFY(check.waitDone());
        QCOMPARE(check.finished.count(), 1);
        QCOMPARE(check.announced.count(), announced ? 1 : 0);
        QCOMPARE(check.action.newVersion(), version);
        QCOMPARE(check.action.linkUrl().isEmpty(), !announced);
        // The client may resend once when the connection closes under it; never anything else.
        QVERIFY(!server.requestLines().isEmpty());
        for (const QByteArray& line : server.requestLines())
            QCOMPARE(line, QByteArray("GET /updates.info HTTP/1.1"));
    }

    void redirectBodyIsExaminedNotFollowed_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("301") << 301;
        QTest::newRow("302") << 302;
        QTest::newRow("303") << 303;
        QTest::newRow("307") << 307;
    }

    void redirectBodyIsExaminedNotFollowed()
    {
        QFETCH(int, status);
        // The redirect points back at the same server; following it would be a second request.
        CannedHttpServer target(CannedHttpServer::ok(announcing("2.0")));
        CannedHttpServer redirecting(
            CannedHttpServer::answer(status, "Moved", announcing("1.6"),
                                     {"Location: " + target.url(QStringLiteral("/other")).toEncoded()}));
        Check check(redirecting.url());
        QVERIFY(check.waitDone());
        QCOMPARE(check.announced.count(), 1);
        QCOMPARE(check.action.newVersion(), QStringLiteral("1.6"));
        QVERIFY(target.requestLines().isEmpty());
    }

    void unreachableServerAnnouncesNothing()
    {
        Check check(CannedHttpServer::unreachableUrl());
        QVERIFY(check.waitDone());
        QCOMPARE(check.announced.count(), 0);
        QVERIFY(check.action.newVersion().isEmpty());
    }

    void slowServerEndsAsNoUpdate_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("rest");
        QTest::addColumn<int>("msPerByte"); // 0: the rest is never sent

        const QByteArray whole = CannedHttpServer::ok(announcing("9.0"));
        // Whole, it would be news: only the deadline keeps it from being taken.
        const QByteArray body = announcing("9.0") + QByteArray(1000, '\n');
        const QByteArray headers = CannedHttpServer::answer(200, "OK", body);
        QTest::newRow("no answer at all") << QByteArray() << whole << 0;
        QTest::newRow("headers one byte at a time") << QByteArray() << whole << 100;
        QTest::newRow("headers, then the body one byte at a time")
            << headers.left(headers.indexOf("\r\n\r\n") + 4) << body << 20;
    }

    // However slowly the server answers, the check ends, with nothing announced.
    void slowServerEndsAsNoUpdate()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, rest);
        QFETCH(int, msPerByte);
        SlowServer server(first, rest, msPerByte);
        UpdateAction action(productKey, currentVersion, QStringLiteral("en"), nullptr, server.url());
        QCOMPARE(action.timeoutMs(), UpdateAction::defaultTimeoutMs);
        QCOMPARE(UpdateAction::defaultTimeoutMs, 30000);
        action.setTimeoutMs(1500);
        QSignalSpy announced(&action, &UpdateAction::updateAvaliable);
        QSignalSpy finished(&action, &UpdateAction::checkFinished);
        action.downloadUpdateInfo();
        QTRY_VERIFY(server.connected());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(announced.count(), 0);
        QVERIFY(action.newVersion().isEmpty());
    }

    void languageCodeIsLookedFor()
    {
        CannedHttpServer server(CannedHttpServer::ok(announcing("1.8", "en") + announcing("1.7", "pl")));
        Check check(server.url(), QStringLiteral("pl"));
        QVERIFY(check.waitDone());
        QCOMPARE(check.action.newVersion(), QStringLiteral("1.7"));
    }

    // The main window: button in the status bar and the link on the Updates page, or nothing at all.
    void mainWindowShowsResult_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("updateText");

        QTest::newRow("newer version") << CannedHttpServer::ok(announcing("1.6"))
                                       << "Version 1.6 is avaliable on the following website:<br><br><a "
                                          "href=\"http://www.qlumar-velkoro.example/get\">Download</a>";
        QTest::newRow("markup in the fields is shown as text")
            << CannedHttpServer::ok("dudidudovi en 1.6 setup <img/src=x>\"Get\" http://h.example/a?b=1&c=2\n")
            << "Version 1.6 is avaliable on the following website:<br><br><a "
               "href=\"http://h.example/a?b=1&amp;c=2\">&lt;img/src=x&gt;&quot;Get&quot;</a>";
        QTest::newRow("hostile line with a file link")
            << CannedHttpServer::ok("dudidudovi en 9.9 setup <b>Update</b> file:///etc/passwd\n")
            << "No new version avaliable.";
        QTest::newRow("404") << CannedHttpServer::answer(404, "Not Found", announcing("1.6"))
                             << "No new version avaliable.";
        QTest::newRow("same version")
            << CannedHttpServer::ok(announcing("1.5")) << "No new version avaliable.";
    }

    void mainWindowShowsResult()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, updateText);

        ScratchHome home;
        QVERIFY(home.enterRoot());
        CannedHttpServer server(response);
        qputenv("QLUMAR_UPDATE_URL", server.url().toEncoded());
        MainWindow window;
        qunsetenv("QLUMAR_UPDATE_URL");
        auto* action = window.findChild<UpdateAction*>(QStringLiteral("updateAction"));
        QVERIFY(action);
        QSignalSpy finished(action, &UpdateAction::checkFinished);
        QVERIFY(finished.wait(10000));

        auto* button = window.findChild<QToolButton*>(QStringLiteral("updateButton"));
        // The box is built after the check, as when About is first opened later.
        QVERIFY(!window.findChild<AboutBox*>());
        auto* text = window.aboutDialog()->findChild<QLabel*>(QStringLiteral("updateText"));
        QVERIFY(button && text);
        const bool announced = !action->newVersion().isEmpty();
        QCOMPARE(!button->isHidden(), announced);
        QCOMPARE(button->parentWidget() == window.findChild<QStatusBar*>(), announced);
        QCOMPARE(text->text(), updateText);
    }

    // The network is not touched while the window is made; the check runs once the window has
    // been drawn, and only once however often it is shown again.
    void mainWindowChecksOnceAfterShowing()
    {
        ScratchHome home;
        QVERIFY(home.enterRoot());
        CannedHttpServer server(CannedHttpServer::ok(announcing("1.6")));
        qputenv("QLUMAR_UPDATE_URL", server.url().toEncoded());
        MainWindow window;
        qunsetenv("QLUMAR_UPDATE_URL");
        QVERIFY(!window.findChild<QNetworkAccessManager*>());
        auto* action = window.findChild<UpdateAction*>(QStringLiteral("updateAction"));
        QSignalSpy finished(action, &UpdateAction::checkFinished);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(finished.wait(10000));
        QCOMPARE(action->newVersion(), QStringLiteral("1.6"));
        QVERIFY(!server.requestLines().isEmpty());

        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!finished.wait(1500));
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
