#include "GuiTestBase.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"
#include "dialogs/ImportWindow.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <functional>

// The import as a user meets it: the menu entries, a dropped file and the command line open the
// dialog, which shows the report and saves the profile the list then selects.
class TestImportWindow : public GuiTestBase
{
    Q_OBJECT

    QTemporaryDir m_files;
    QString m_opensslError;

    QString writeSource(const QString& name, const QByteArray& text)
    {
        const QString path = m_files.filePath(name);
        if (!ScratchHome::writeFile(path, text))
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    // Our catalogue and the toolkit's, as a Polish user gets them (the toolkit's own buttons too).
    struct Polish
    {
        QTranslator qt;
        QTranslator ours;
        bool load()
        {
            if (!qt.load(QStringLiteral(":translations/qt_pl.qm")) ||
                !ours.load(QStringLiteral(":qlumar_vpn_pl.qm")))
                return false;
            QCoreApplication::installTranslator(&qt);
            QCoreApplication::installTranslator(&ours);
            return true;
        }
        ~Polish()
        {
            QCoreApplication::removeTranslator(&ours);
            QCoreApplication::removeTranslator(&qt);
        }
    };

    static QStringList rootEntries()
    {
        return QDir::current().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    static QAction* action(MainWindow* w, const char* name)
    {
        return w->findChild<QAction*>(QLatin1String(name));
    }

    // Triggers the import entry with the file dialog answered by path; `inDialog` acts on the
    // import dialog while its own modal loop runs. Returns the dialog's class, or nothing.
    QString importThroughMenu(MainWindow* w, const QString& path,
                              const std::function<void(QDialog*)>& inDialog)
    {
        Prompt::answerFile(path);
        QString opened;
        // Owned here: when no dialog opens, the timer must not fire into a later test step.
        QTimer inLoop;
        inLoop.setSingleShot(true);
        inLoop.start(0);
        connect(&inLoop, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            opened = QString::fromLatin1(dialog->metaObject()->className());
            inDialog(dialog);
            if (dialog->isVisible()) // the test saw what it needed: the user gives up
                dialog->reject();
        });
        triggerAction(action(w, "importAction"));
        return opened;
    }

    static void fill(QDialog* dialog, const char* field, const QString& text)
    {
        auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(field));
        QVERIFY2(edit, field);
        edit->setText(text);
    }

    static void save(QDialog* dialog)
    {
        auto* button = dialog->findChild<QPushButton*>(QStringLiteral("saveButton"));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    static QString value(QDialog* dialog, const char* name)
    {
        auto* label = dialog->findChild<QLabel*>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info");
        QVERIFY(m_files.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
            m_opensslError = QStringLiteral("openssl not found");
            return;
        }
        QProcess openssl;
        openssl.setWorkingDirectory(m_files.path());
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-keyout", "client.key", "-out", "client.crt", "-subj", "/CN=import dialog", "-days",
                       "2"});
        QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    }

    // Each kind: the report as the import made it, what the kind asks before Save, and the saved
    // profile read back through the list, selected.
    void importAndSaveEachKind_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("pkcs12");
        QTest::newRow("certificate and key, packed")
            << QByteArray("client\r\nremote gw.example.org 1195 udp\r\nca client.crt\r\ncert client.crt\r\n"
                          "key client.key\r\nup /etc/evil.sh\r\n")
            << "PKCS#12 certificate, packed from the file's certificate and key" << true;
        QTest::newRow("username and password")
            << QByteArray("client\nremote gw.example.org 1195\nauth-user-pass\n") << "Username and password"
            << false;
        QTest::newRow("token key")
            << QByteArray("client\nremote gw.example.org 1195\nca client.crt\npkcs11-id 'x/45'\n")
            << "Certificate and key in a token" << false;
    }

    void importAndSaveEachKind()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, kind);
        QFETCH(bool, pkcs12);
        if (!m_opensslError.isEmpty())
            QSKIP(qPrintable(m_opensslError));
        const QString path = writeSource(QStringLiteral("Office VPN.ovpn"), text);
        MainWindow* w = mainWindow();
        QStringList savedTooEarly;
        const QString opened = importThroughMenu(w, path, [&](QDialog* dialog) {
            QCOMPARE(dialog->findChild<QLineEdit*>("nameEdit")->text(), QString("Office VPN"));
            QCOMPARE(value(dialog, "serverValue"), QString("gw.example.org, port 1195"));
            QCOMPARE(value(dialog, "kindValue"), kind);
            auto* report = dialog->findChild<QTreeWidget*>("reportView");
            QVERIFY(report);
            QCOMPARE(report->topLevelItemCount(), text.count('\n'));
            if (text.contains("evil")) {
                QTreeWidgetItem* refused = report->topLevelItem(5);
                QCOMPARE(refused->text(1), QString("up /etc/evil.sh"));
                QCOMPARE(refused->text(2), QString("left out"));
                QVERIFY2(refused->text(3).contains("runs programs"), qPrintable(refused->text(3)));
            }
            fill(dialog, "nameEdit", "Imported");
            if (pkcs12) {
                fill(dialog, "passwordEdit", "secret one");
                fill(dialog, "repeatEdit", "secret two");
                save(dialog);
                savedTooEarly += rootEntries();
                fill(dialog, "repeatEdit", "secret one");
            }
            if (kind.contains("token")) {
                save(dialog); // no key name yet
                savedTooEarly += rootEntries();
                fill(dialog, "keyEdit", "alice key");
            }
            save(dialog);
        });
        QCOMPARE(opened, QString("ImportWindow"));
        QVERIFY2(savedTooEarly.isEmpty(), qPrintable(savedTooEarly.join(", ")));
        const QList<Prompt::Shown> messages = Prompt::messages();
        QCOMPARE(messages.size(), (pkcs12 || kind.contains("token")) ? 1 : 0);
        if (pkcs12)
            QCOMPARE(messages.at(0).text, QString("The passwords do not match!"));

        auto* list = w->findChild<QListWidget*>("vpnList");
        QCOMPARE(list->count(), 1);
        auto* item = static_cast<VpnItem*>(list->currentItem());
        QVERIFY(item);
        QCOMPARE(w->selectedProfile(), item);
        QCOMPARE(item->vpnName(), QString("Imported"));
        QCOMPARE(item->server(), QString("gw.example.org"));
        QCOMPARE(item->port(), QString("1195"));
        QCOMPARE(item->isPKCS12(), pkcs12);
        QCOMPARE(item->isUserPasswordOnly(), kind == "Username and password");
        QVERIFY(action(w, "connectAction")->isEnabled());
        if (kind.contains("token"))
            QCOMPARE(item->keyName(), QString("alice key"));
    }

    // Edit of a profile that signs in with a username and password alone: only name and server to
    // change, and the saved profile is still that kind, its template kept.
    void userPasswordProfileEditKeepsItsKind()
    {
        const QByteArray templ = "\n#\n# configuration template\n#\n\nauth-user-pass\n<ca>\nX\n</ca>\n";
        QVERIFY(
            ScratchHome::writeFile(QDir::current().filePath("0000/conf"),
                                   "#\n# qLumarVpnName Plain\n#\nremote h.example\nrport 1194\n" + templ));
        MainWindow* w = mainWindow();
        auto* list = w->findChild<QListWidget*>("vpnList");
        list->setCurrentRow(0);
        QString opened;
        QTimer inLoop;
        inLoop.setSingleShot(true);
        inLoop.start(0);
        connect(&inLoop, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            opened = QString::fromLatin1(dialog->metaObject()->className());
            QVERIFY(!dialog->findChild<QLineEdit*>("pkcs12Edit"));
            fill(dialog, "nameEdit", "Renamed");
            save(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        triggerAction(action(w, "editAction"));
        QCOMPARE(opened, QString("VpnPKCS12EditWindow"));
        QCOMPARE(Prompt::messages().size(), 0);
        QCOMPARE(ScratchHome::readFile(QDir::current().filePath("0000/conf")),
                 "#\n# qLumarVpnName Renamed\n#\nremote h.example\nrport 1194\n" + templ);
        auto* item = static_cast<VpnItem*>(list->item(0));
        QCOMPARE(item->vpnName(), QString("Renamed"));
        QVERIFY(item->isUserPasswordOnly());
    }

    // Cancel, a file that cannot be imported and a save that fails: no profile, and no staging
    // directory left behind.
    void nothingWrittenUnlessSaved()
    {
        const QString path = writeSource(QStringLiteral("plain.ovpn"), "remote h.example\nauth-user-pass\n");
        MainWindow* w = mainWindow();

        QVERIFY(!importThroughMenu(w, path, [](QDialog*) {}).isEmpty());
        QCOMPARE(rootEntries(), QStringList());

        importThroughMenu(w, writeSource(QStringLiteral("broken.ovpn"), "client\n<ca>\n"),
                          [](QDialog*) { QFAIL("a file that cannot be imported opened the dialog"); });
        QCOMPARE(Prompt::messages().size(), 1);
        QVERIFY2(Prompt::messages().at(0).text.contains("is not closed"),
                 qPrintable(Prompt::messages().at(0).text));
        QCOMPARE(rootEntries(), QStringList());

        // A plain file where the new profile directory would go: the rename into place fails.
        Prompt::reset();
        QVERIFY(ScratchHome::writeFile(QDir::current().filePath("0000"), "in the way"));
        bool stillOpen = false;
        importThroughMenu(w, path, [&](QDialog* dialog) {
            save(dialog);
            stillOpen = dialog->isVisible();
        });
        QVERIFY(stillOpen);
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().at(0).icon, QMessageBox::Critical);
        QCOMPARE(rootEntries(), QStringList("0000"));
        QCOMPARE(w->findChild<QListWidget*>("vpnList")->count(), 0);
    }

    // The tray offers the same entry; a file dropped on the window and a file named on the
    // command line open the dialog too, and anything else dropped is turned away.
    void otherWaysIn()
    {
        const QString path = writeSource(QStringLiteral("drop.conf"), "remote h.example\nauth-user-pass\n");
        MainWindow* w = mainWindow(true);
        QVERIFY(w->tray()->contextMenu()->actions().contains(action(w, "importAction")));
        QVERIFY(w->findChild<QListWidget*>("vpnList")->actions().contains(action(w, "importAction")));

        auto dropOn = [&](const QString& file) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QWidget* target = w->findChild<QListWidget*>("vpnList")->viewport();
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            return drop.isAccepted();
        };
        QVERIFY(!dropOn(writeSource(QStringLiteral("notes.txt"), "remote h.example\n")));
        QString opened;
        QTimer::singleShot(0, this, [&] {
            QTimer::singleShot(0, this, [&] {
                if (QWidget* dialog = QApplication::activeModalWidget()) {
                    opened = dialog->findChild<QLineEdit*>("nameEdit")->text();
                    save(static_cast<QDialog*>(dialog));
                }
            });
        });
        QVERIFY(dropOn(path));
        QTRY_COMPARE(opened, QString("drop"));
        QTRY_COMPARE(w->findChild<QListWidget*>("vpnList")->count(), 1);

        // Start-up with a file to import: the dialog comes up over the started window.
        opened.clear();
        QTimer poll;
        poll.setInterval(10);
        int turns = 0;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                opened = dialog->findChild<QLineEdit*>("nameEdit")->text();
                static_cast<QDialog*>(dialog)->reject();
                QCoreApplication::exit(0);
            } else if (++turns > 1000) {
                QCoreApplication::exit(0);
            }
        });
        poll.start();
        Startup::Options options;
        options.request.action = CommandLine::Request::Import;
        options.request.importPath =
            writeSource(QStringLiteral("started.ovpn"), "remote h.example\nauth-user-pass\n");
        QCOMPARE(Startup::run(*qApp, options), 0);
        QCOMPARE(opened, QString("started"));
    }

    // Pictures of the dialog in English and Polish for a human to look at; only when
    // QLUMAR_SCREENSHOT_DIR is set.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR not set");
        if (!m_opensslError.isEmpty())
            QSKIP(qPrintable(m_opensslError));
        QVERIFY(QDir().mkpath(dir));
        OvpnImport import;
        QVERIFY(import.readFile(writeSource(
            QStringLiteral("Office VPN.ovpn"),
            "# Office gateway\nclient\ndev tun\nremote gw.example.org 1195 udp\nremote gw2.example.org 1195\n"
            "ca client.crt\ncert client.crt\nkey client.key\nauth-user-pass\nup /etc/openvpn/update.sh\n"
            "block-outside-dns\nmystery-option 1\nverb 3\n")));
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("pl")}) {
            Polish polish;
            if (language == QLatin1String("pl"))
                QVERIFY(polish.load());
            ImportWindow dialog(import);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            const QString file = dir + "/import-" + language + ".png";
            QVERIFY(dialog.grab().save(file));
            qInfo("%s %dx%d", qPrintable(file), dialog.width(), dialog.height());
        }
    }

    // The username prompt in English and Polish, as the user meets it; only when
    // QLUMAR_SCREENSHOT_DIR is set.
    void loginPromptScreenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR not set");
        QVERIFY(QDir().mkpath(dir));
        const auto testMode = qScopeGuard([] { Prompt::setTestMode(true); });
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("pl")}) {
            Polish polish;
            if (language == QLatin1String("pl"))
                QVERIFY(polish.load());
            const QString file = dir + "/login-" + language + ".png";
            bool saved = false;
            QTimer inLoop;
            inLoop.setSingleShot(true);
            inLoop.start(0);
            connect(&inLoop, &QTimer::timeout, this, [&] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                QVERIFY(QTest::qWaitForWindowExposed(dialog));
                saved = dialog->grab().save(file);
                dialog->reject();
            });
            Prompt::LoginRequest request;
            request.title = QCoreApplication::translate("MainWindow", "Sign in to %1").arg("Office VPN");
            request.profile = QStringLiteral("Office VPN");
            request.username = QStringLiteral("alice");
            request.remember = QCoreApplication::translate("MainWindow", "Remember password");
            Prompt::setTestMode(false);
            QVERIFY(!Prompt::getLogin(nullptr, request).ok);
            Prompt::setTestMode(true);
            QVERIFY(saved);
            qInfo("%s", qPrintable(file));
        }
    }

    // The window that waits for a web sign-in, in English and Polish, as a connection opens it;
    // only when QLUMAR_SCREENSHOT_DIR is set.
    void webSignInScreenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR not set");
        QVERIFY(QDir().mkpath(dir));
        const auto unset = qScopeGuard([] {
            qunsetenv("QLUMAR_ENGINE_OPEN_URL");
            qunsetenv("QLUMAR_ENGINE_CONNECT_DELAY_MS");
        });
        qputenv("QLUMAR_ENGINE", "simulator");
        qputenv("QLUMAR_ENGINE_OPEN_URL", "https://login.example.org/sso");
        qputenv("QLUMAR_ENGINE_CONNECT_DELAY_MS", "60000");
        QVERIFY(ScratchHome::writeFile(
            home()->rootPath() + "/0000/conf",
            "#\n# qLumarVpnName Office VPN\n#\nremote vpn.example.org\nauth-user-pass\n"));
        MainWindow* w = mainWindow(true);
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("pl")}) {
            Polish polish;
            if (language == QLatin1String("pl"))
                QVERIFY(polish.load());
            w->loadVpnList();
            auto* list = w->findChild<QListWidget*>(QStringLiteral("vpnList"));
            list->setCurrentItem(nullptr);
            list->setCurrentRow(0);
            Prompt::answerLogin("alice", "s3cret", false);
            triggerAction(action(w, "connectAction"));
            QDialog* window = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT((window = w->findChild<QDialog*>(QStringLiteral("webSignInWindow"))),
                                     15000);
            QVERIFY(QTest::qWaitForWindowExposed(window));
            const QString file = dir + "/websignin-" + language + ".png";
            QVERIFY(window->grab().save(file));
            qInfo("%s %dx%d", qPrintable(file), window->width(), window->height());
            triggerAction(action(w, "disconnectAction"));
            QTRY_VERIFY_WITH_TIMEOUT(!w->isVpnRunning(), 15000);
            QTRY_VERIFY(!w->findChild<QDialog*>(QStringLiteral("webSignInWindow")));
        }
    }
};

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
