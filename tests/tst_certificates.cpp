#include "TestCertificates.h"
#include "TestSupport.h"
#include "dialogs/VpnInfoWindow.h"
#include "profiles/CertificateInfo.h"
#include "profiles/VpnItem.h"

#include <QGridLayout>
#include <QLabel>
#include <QTranslator>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;
using Texts = QMap<QString, QString>;

QDateTime nowSeconds()
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

} // namespace

class TestCertificates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { removeInstalledTranslators(); }

    void readsCertificates_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("subjects");

        const QDateTime from = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
        const QDateTime to = QDateTime(QDate(2034, 1, 2), QTime(3, 4, 5), Qt::UTC);
        const Cert user = makeCertificate("Biuro Kraków", "Test CA", from, to);
        const Cert ca = makeCertificate("Test CA", "Test CA", from, to);
        QTest::newRow("PEM, UTF-8 names kept") << pem(user) << QStringList{"O=Example, CN=Biuro Kraków"};
        QTest::newRow("PEM chain, in file order")
            << pem(user) + pem(ca) << QStringList{"O=Example, CN=Biuro Kraków", "O=Example, CN=Test CA"};
        QTest::newRow("PEM after other text")
            << "Bag Attributes\n" + pem(ca) << QStringList{"O=Example, CN=Test CA"};
        QTest::newRow("DER") << der(ca) << QStringList{"O=Example, CN=Test CA"};
        QTest::newRow("damaged PEM") << QByteArray(
                                            "-----BEGIN CERTIFICATE-----\nCA\r\n-----END CERTIFICATE-----\n")
                                     << QStringList();
        QTest::newRow("truncated DER") << der(ca).left(100) << QStringList();
        QTest::newRow("empty") << QByteArray() << QStringList();
    }

    void readsCertificates()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, subjects);
        const QList<CertificateInfo> read = CertificateInfo::fromData(data);
        QStringList readSubjects;
        for (const CertificateInfo& info : read) {
            readSubjects << info.subject;
            QCOMPARE(info.issuer, QString("CN=Test CA"));
            QCOMPARE(info.notBefore, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC));
            QCOMPARE(info.notAfter, QDateTime(QDate(2034, 1, 2), QTime(3, 4, 5), Qt::UTC));
            QVERIFY(!info.isNull());
        }
        QCOMPARE(readSubjects, subjects);
    }

    void fromFileReadsWhatIsThere()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("ca.crt");
        const QDateTime now = nowSeconds();
        QVERIFY(ScratchHome::writeFile(path, pem(makeCertificate("A", "Test CA", now, now.addDays(1)))));
        QCOMPARE(CertificateInfo::fromFile(path).size(), 1);
        QVERIFY(CertificateInfo::fromFile(dir.filePath("missing.crt")).isEmpty());
        QVERIFY(CertificateInfo::fromFile(dir.path()).isEmpty());
    }

    // The program does not link libcrypto: it is loaded by the first read, which then works.
    void libcryptoComesWithTheFirstRead()
    {
#ifndef Q_OS_LINUX
        QSKIP("libcrypto is linked as usual here");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath("ca.crt");
        const QDateTime now = nowSeconds();
        QVERIFY(
            ScratchHome::writeFile(path, pem(makeCertificate("On demand", "Test CA", now, now.addDays(1)))));
        QProcess helper;
        helper.start(QStringLiteral(QLUMAR_BIN_DIR "/crypto_on_demand"), {path});
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(helper.readAllStandardOutput()),
                 QStringLiteral("before 0\nafter 1\ncn On demand\n"));
    }

    // Only certificates stored outside the password's encryption can be shown before connecting.
    void pkcs12WithoutPassword()
    {
        QTemporaryDir dir;
        const QDateTime now = nowSeconds();
        const Cert cert = makeCertificate("Home", "Test CA", now.addDays(-1), now.addDays(300));
        const QString open = dir.filePath("open.p12");
        const QString sealed = dir.filePath("sealed.p12");
        const QString notPkcs12 = dir.filePath("cert.p12");
        QVERIFY(ScratchHome::writeFile(open, pkcs12(cert, -1)));
        QVERIFY(ScratchHome::writeFile(sealed, pkcs12(cert, 0)));
        QVERIFY(ScratchHome::writeFile(notPkcs12, pem(cert)));

        bool isPkcs12 = false;
        const QList<CertificateInfo> read = CertificateInfo::fromPkcs12File(open, &isPkcs12);
        QCOMPARE(read.size(), 1);
        QVERIFY(isPkcs12);
        QCOMPARE(read.at(0).subject, QString("O=Example, CN=Home"));
        QCOMPARE(read.at(0).notAfter, now.addDays(300));
        QVERIFY(CertificateInfo::fromPkcs12File(sealed, &isPkcs12).isEmpty());
        QVERIFY(isPkcs12);
        QVERIFY(CertificateInfo::fromPkcs12File(notPkcs12, &isPkcs12).isEmpty());
        QVERIFY(!isPkcs12);
        QVERIFY(CertificateInfo::fromPkcs12File(dir.filePath("missing.p12"), &isPkcs12).isEmpty());
        QVERIFY(!isPkcs12);
    }

    void expiry_data()
    {
        QTest::addColumn<qint64>("secondsLeft");
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("days");
        QTest::addColumn<QString>("warning");
        const qint64 day = 24 * 3600;
        QTest::newRow("a year left") << 365 * day << int(ExpiryState::Fine) << qint64(365) << QString();
        QTest::newRow("a second more than 14 days")
            << 14 * day + 1 << int(ExpiryState::Fine) << qint64(14) << QString();
        QTest::newRow("exactly 14 days") << 14 * day << int(ExpiryState::ExpiresSoon) << qint64(14)
                                         << "The certificate user.crt expires on %1.";
        QTest::newRow("10 days") << 10 * day << int(ExpiryState::ExpiresSoon) << qint64(10)
                                 << "The certificate user.crt expires on %1.";
        QTest::newRow("last second") << qint64(0) << int(ExpiryState::ExpiresSoon) << qint64(0)
                                     << "The certificate user.crt expires on %1.";
        QTest::newRow("a second ago") << qint64(-1) << int(ExpiryState::Expired) << qint64(-1)
                                      << "The certificate user.crt expired on %1.";
        QTest::newRow("a month ago") << -30 * day << int(ExpiryState::Expired) << qint64(-30)
                                     << "The certificate user.crt expired on %1.";
    }

    // Through a real certificate, as a connect would read it from the profile.
    void expiry()
    {
        QFETCH(qint64, secondsLeft);
        QFETCH(int, state);
        QFETCH(qint64, days);
        QFETCH(QString, warning);
        const QDateTime now = nowSeconds();
        const QDateTime notAfter = now.addSecs(secondsLeft);
        const QList<CertificateInfo> read =
            CertificateInfo::fromData(pem(makeCertificate("User", "Test CA", now.addDays(-400), notAfter)));
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.at(0).notAfter, notAfter);
        QCOMPARE(int(expiryState(read.at(0).notAfter, now)), state);
        QCOMPARE(read.at(0).daysUntilExpiry(now), days);
        const QString date = QLocale().toString(notAfter.toLocalTime().date(), QLocale::ShortFormat);
        QCOMPARE(expiryWarning(read.at(0), "user.crt", now),
                 warning.isEmpty() ? QString() : warning.arg(date));
    }

    void expiryWarningOfNothing()
    {
        QCOMPARE(expiryWarning(CertificateInfo(), "x", nowSeconds()), QString());
    }

    // The Information dialog lists each certificate after the fields it always has.
    void informationDialogShowsCertificates_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<Files>("files");
        QTest::addColumn<Texts>("values");

        const QDateTime now = nowSeconds();
        const QDateTime from = now.addDays(-400);
        const QDateTime soon = now.addDays(10);
        const QDateTime past = now.addDays(-1);
        const QDateTime later = now.addDays(300);
        const QLocale locale;
        auto shown = [&](const QDateTime& at) {
            return locale.toString(at.toLocalTime().date(), QLocale::ShortFormat);
        };
        const Cert ca = makeCertificate("Test CA", "Test CA", from, later);
        const Cert user = makeCertificate("User", "Test CA", from, soon);
        const Cert expired = makeCertificate("Old", "Test CA", from, past);

        QTest::newRow("CA and user certificate, the user's expiring")
            << QByteArray("# qLumarVpnName Office\nremote gw\nrport 1\nca ca.crt\ncert user.crt\nkey k\n")
            << Files{{"ca.crt", pem(ca)}, {"user.crt", pem(user)}}
            << Texts{{"caCertificate0SubjectValue", "O=Example, CN=Test CA"},
                     {"caCertificate0IssuerValue", "CN=Test CA"},
                     {"caCertificate0ValidityValue", "from " + shown(from) + " to " + shown(later)},
                     {"userCertificate0SubjectValue", "O=Example, CN=User"},
                     {"userCertificate0IssuerValue", "CN=Test CA"},
                     {"userCertificate0ValidityValue",
                      "from " + shown(from) + " to " + shown(soon) + " (expires soon)"}};
        QTest::newRow("expired user certificate, damaged CA file")
            << QByteArray("# qLumarVpnName Office\nremote gw\nrport 1\nca ca.crt\ncert user.crt\nkey k\n")
            << Files{{"ca.crt", "not a certificate"}, {"user.crt", der(expired)}}
            << Texts{{"userCertificate0SubjectValue", "O=Example, CN=Old"},
                     {"userCertificate0IssuerValue", "CN=Test CA"},
                     {"userCertificate0ValidityValue",
                      "from " + shown(from) + " to " + shown(past) + " (expired)"}};
        QTest::newRow("PKCS#12 with a readable certificate")
            << QByteArray("# qLumarVpnName Home\nremote gw\nrport 1\npkcs12 me.p12\n")
            << Files{{"me.p12", pkcs12(user, -1)}}
            << Texts{{"pkcs12Certificate0SubjectValue", "O=Example, CN=User"},
                     {"pkcs12Certificate0IssuerValue", "CN=Test CA"},
                     {"pkcs12Certificate0ValidityValue",
                      "from " + shown(from) + " to " + shown(soon) + " (expires soon)"}};
        QTest::newRow("PKCS#12 with its certificate encrypted")
            << QByteArray("# qLumarVpnName Home\nremote gw\nrport 1\npkcs12 me.p12\n")
            << Files{{"me.p12", pkcs12(user, 0)}}
            << Texts{{"pkcs12CertificatesValue", "encrypted with the file's password"}};
        QTest::newRow("PKCS#12 path names a PEM certificate")
            << QByteArray("# qLumarVpnName Home\nremote gw\nrport 1\npkcs12 me.p12\n")
            << Files{{"me.p12", pem(user)}} << Texts();
        QTest::newRow("PKCS#12 file missing")
            << QByteArray("# qLumarVpnName Home\nremote gw\nrport 1\npkcs12 me.p12\n") << Files() << Texts();
    }

    void informationDialogShowsCertificates()
    {
        QFETCH(QByteArray, conf);
        QFETCH(Files, files);
        QFETCH(Texts, values);
        ScratchHome home;
        QVERIFY(home.enterRoot());
        const QString dir = home.rootPath() + "/0000/";
        QVERIFY(ScratchHome::writeFile(dir + "conf", conf));
        for (auto it = files.begin(); it != files.end(); ++it)
            QVERIFY(ScratchHome::writeFile(dir + it.key(), it.value()));
        VpnItem item(dir + "conf", "0000");
        VpnInfoWindow dialog(&item);
        dialog.show();

        const QStringList designRows = {"nameValue", "serverValue", "pkcs12Value",
                                        "caValue",   "userValue",   "keyValue"};
        Texts shown;
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->objectName().endsWith("Value") && !designRows.contains(label->objectName())) {
                shown.insert(label->objectName(), label->text());
                QCOMPARE(label->textFormat(), Qt::PlainText);
                // Below the rows the dialog always has.
                auto* grid = qobject_cast<QGridLayout*>(label->parentWidget()->layout());
                QVERIFY(grid);
                int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
                grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);
                QVERIFY(row > (conf.contains("pkcs12") ? 0 : 2));
                QCOMPARE(column, 1);
            }
        }
        QCOMPARE(shown, values);
    }

    // For looking at: the dialog with real certificates, in English and in Polish.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR not set");
        QVERIFY(QDir().mkpath(dir));
        ScratchHome home;
        QVERIFY(home.enterRoot());
        const QDateTime now = nowSeconds();
        const QString profile = home.rootPath() + "/0000/";
        QVERIFY(ScratchHome::writeFile(profile + "conf",
                                       "# qLumarVpnName Biuro Kraków\nremote vpn.example.com\n"
                                       "rport 1194\nca ca.crt\ncert user.crt\nkey my key\n"));
        QVERIFY(ScratchHome::writeFile(
            profile + "ca.crt",
            pem(makeCertificate("Example Root CA", "Example Root CA", now.addDays(-400), now.addYears(5)))));
        QVERIFY(ScratchHome::writeFile(
            profile + "user.crt",
            pem(makeCertificate("Jan Kowalski", "Example Root CA", now.addDays(-355), now.addDays(10)))));
        for (const QString& language : {QString("en"), QString("pl")}) {
            QTranslator translator;
            if (language == "pl") {
                QVERIFY(translator.load(":qlumar_vpn_pl.qm"));
                QCoreApplication::installTranslator(&translator);
            }
            VpnItem item(profile + "conf", "0000");
            VpnInfoWindow dialog(&item);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            const QString file = dir + "/VpnInfoWindow_certificates_" + language + ".png";
            QVERIFY(dialog.grab().save(file));
            qInfo("%s %dx%d", qPrintable(file), dialog.width(), dialog.height());
            QCoreApplication::removeTranslator(&translator);
        }
    }
};

QTEST_MAIN(TestCertificates)
#include "tst_certificates.moc"
