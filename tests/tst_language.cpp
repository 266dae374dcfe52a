#include "CannedHttpServer.h"
#include "GuiTestBase.h"
#include "TestSupport.h"

#include "about/AboutBox.h"
#include "about/UpdateAction.h"
#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"
#include "dialogs/VpnNewWindow.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

namespace {

QAction* action(QObject* window, const char* name)
{
    return window->findChild<QAction*>(QLatin1String(name));
}

QStringList tabTitles(QObject* window)
{
    QStringList titles;
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("aboutTabs"));
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    return titles;
}

QString toolkitCancelText()
{
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    return box.button(QDialogButtonBox::Cancel)->text();
}

// One line per language, so the version found tells which code the check looked for.
const QByteArray versionFile = "dudidudovi en 1.6 setup Download http://www.qlumar-velkoro.example/en\n"
                               "dudidudovi pl 1.7 setup Pobierz http://www.qlumar-velkoro.example/pl\n";

} // namespace

class TestLanguage : public GuiTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        GuiTestBase::init();
        appLanguage = QString();
        removeInstalledTranslators();
    }

    void cleanup()
    {
        removeInstalledTranslators();
        appLanguage = QString();
        GuiTestBase::cleanup();
    }

    void languageActionsNotifyAndCheck_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QByteArray>("actionName");
        QTest::addColumn<QString>("after");

        QTest::newRow("Polish chosen in an English run") << "" << QByteArray("langPlAction") << "pl";
        QTest::newRow("English chosen in a Polish run") << "pl" << QByteArray("langEnAction") << "";
        QTest::newRow("the language in effect chosen again") << "pl" << QByteArray("langPlAction") << "pl";
        QTest::newRow("English chosen with an unknown code") << "en" << QByteArray("langEnAction") << "";
    }

    void languageActionsNotifyAndCheck()
    {
        QFETCH(QString, before);
        QFETCH(QByteArray, actionName);
        QFETCH(QString, after);

        appLanguage = before;
        MainWindow& window = *mainWindow();
        QCOMPARE(action(&window, "langPlAction")->isChecked(), before == QLatin1String("pl"));
        QCOMPARE(action(&window, "langEnAction")->isChecked(), before != QLatin1String("pl"));
        QVERIFY(!window.isVisible());

        QAction* chosen = action(&window, actionName.constData());
        triggerAction(chosen);

        QCOMPARE(appLanguage, after);
        QVERIFY(chosen->isChecked());
        QCOMPARE(action(&window, "langPlAction")->isChecked(), after == QLatin1String("pl"));
        QVERIFY(window.isVisible());
        const QList<Prompt::Shown> shown = Prompt::messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().title, QStringLiteral("Information"));
        QCOMPARE(
            shown.first().text,
            QStringLiteral("Application language was changed. Please restart application to apply changes."));
        QCOMPARE(shown.first().icon, QMessageBox::Information);
        QCOMPARE(shown.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(shown.first().parent, &window);
    }

    void polishCataloguesInstalledOnlyForPl_data()
    {
        QTest::addColumn<QByteArray>("lang"); // null: no file
        QTest::addColumn<bool>("polish");

        QTest::newRow("pl") << QByteArray("pl") << true;
        QTest::newRow("pl then NUL and junk") << QByteArray("pl\0xx", 5) << true;
        QTest::newRow("no lang file") << QByteArray() << false;
        QTest::newRow("empty lang file") << QByteArray("") << false;
        QTest::newRow("pl with a line end") << QByteArray("pl\n") << false;
        QTest::newRow("PL") << QByteArray("PL") << false;
        QTest::newRow("en") << QByteArray("en") << false;
    }

    void polishCataloguesInstalledOnlyForPl()
    {
        QFETCH(QByteArray, lang);
        QFETCH(bool, polish);

        if (!lang.isNull())
            QVERIFY(ScratchHome::writeFile(home()->rootPath() + "/lang", lang));
        Language::readLanguageFile();
        Language::installTranslators(*qApp);

        const QList<QTranslator*> translators = qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly);
        QStringList loaded;
        for (QTranslator* translator : translators) {
            QVERIFY(!translator->isEmpty());
            loaded << translator->filePath();
        }
        const QStringList expected = {":translations/qt_pl.qm", ":qlumar_vpn_pl.qm",
                                      ":translations/misc_pl.qm", ":translations/netprotocols_pl.qm"};
        QCOMPARE(loaded, polish ? expected : QStringList());
        QCOMPARE(QCoreApplication::translate("MainWindow", "en"), polish ? "pl" : "en");
    }

    // A whole start-up with and without "pl": the program's, the dialog's and the toolkit's texts
    // all follow the language, and so does the update check.
    void startupLanguage_data()
    {
        QTest::addColumn<QByteArray>("lang"); // null: no file
        QTest::addColumn<QString>("aboutTitle");
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<QString>("okText");
        QTest::addColumn<QString>("profileBox");
        QTest::addColumn<QString>("connectText");
        QTest::addColumn<QString>("cancelText");
        QTest::addColumn<QString>("noticeTitle");
        QTest::addColumn<QString>("noticeText");
        QTest::addColumn<QString>("updateText");
        QTest::addColumn<QString>("updateTip");
        QTest::addColumn<QString>("chooserTitle");
        QTest::addColumn<QString>("wizardTitle");
        QTest::addColumn<QString>("wizardSave");

        QTest::newRow("no lang file: English")
            << QByteArray() << "About" << QStringList{"About", "Help", "License", "Thanks", "Updates"} << "OK"
            << "Available VPN connections"
            << "&Connect"
            << "Cancel"
            << "Information"
            << "Application language was changed. Please restart application to apply changes."
            << "Version 1.6 is avaliable on the following website:<br><br><a "
               "href=\"http://www.qlumar-velkoro.example/en\">Download</a>"
            << "New version is avaliable. Click this\nicon to get more informations."
            << "VPN connection creation method"
            << "New connection wizard"
            << "&Save";
        QTest::newRow("lang pl: Polish")
            << QByteArray("pl") << QString::fromUtf8("O programie")
            << QStringList{"O programie", "Pomoc", "Licencja", QString::fromUtf8("Podziękowania"),
                           "Aktualizacje"}
            << "OK" << QString::fromUtf8("Dostępne połączenia VPN") << QString::fromUtf8("&Połącz")
            << "Anuluj"
            << "Informacja"
            << QString::fromUtf8(
                   "Język aplikacji został zmieniony. Uruchom aplikację ponownie, aby zastosować zmiany.")
            << QString::fromUtf8("Wersja 1.7 jest dostępna na stronie:<br><br><a "
                                 "href=\"http://www.qlumar-velkoro.example/pl\">Pobierz</a>")
            << QString::fromUtf8("Dostępna jest nowa wersja. Kliknij tę\nikonę, aby dowiedzieć się więcej.")
            << QString::fromUtf8("Sposób tworzenia połączenia VPN")
            << QString::fromUtf8("Kreator nowego połączenia") << "&Zapisz";
    }

    void startupLanguage()
    {
        QFETCH(QByteArray, lang);
        QFETCH(QString, aboutTitle);
        QFETCH(QStringList, tabs);
        QFETCH(QString, okText);
        QFETCH(QString, profileBox);
        QFETCH(QString, connectText);
        QFETCH(QString, cancelText);
        QFETCH(QString, noticeTitle);
        QFETCH(QString, noticeText);
        QFETCH(QString, updateText);
        QFETCH(QString, updateTip);
        QFETCH(QString, chooserTitle);
        QFETCH(QString, wizardTitle);
        QFETCH(QString, wizardSave);

        // A home of its own, without a profile root yet: start-up makes it.
        ScratchHome fresh;
        if (!lang.isNull())
            QVERIFY(ScratchHome::writeFile(fresh.rootPath() + "/lang", lang));
        CannedHttpServer server(CannedHttpServer::ok(versionFile));
        qputenv("QLUMAR_UPDATE_URL", server.url().toEncoded());

        bool checked = false;
        QTimer::singleShot(0, qApp, [&] {
            MainWindow* window = runningMainWindow();
            QVERIFY(window);
            AboutBox* box = window->aboutDialog();
            QCOMPARE(box->windowTitle(), aboutTitle);
            QCOMPARE(tabTitles(box), tabs);
            QCOMPARE(box->findChild<QPushButton*>(QStringLiteral("okButton"))->text(), okText);
            QCOMPARE(window->findChild<QGroupBox*>(QStringLiteral("profileBox"))->title(), profileBox);
            QCOMPARE(action(window, "connectAction")->text(), connectText);
            QCOMPARE(toolkitCancelText(), cancelText);

            auto* update = window->findChild<UpdateAction*>(QStringLiteral("updateAction"));
            QTRY_VERIFY_WITH_TIMEOUT(!update->newVersion().isEmpty(), 10000);
            QCOMPARE(window->findChild<QLabel*>(QStringLiteral("updateText"))->text(), updateText);
            QCOMPARE(window->findChild<QWidget*>(QStringLiteral("updateButton"))->toolTip(), updateTip);

            Prompt::answerCancel();
            triggerAction(action(window, "newAction"));
            QCOMPARE(Prompt::history().size(), 1);
            QCOMPARE(Prompt::history().first().title, chooserTitle);
            VpnNewWindow wizard(window);
            QCOMPARE(wizard.windowTitle(), wizardTitle);
            QCOMPARE(wizard.findChild<QPushButton*>(QStringLiteral("saveButton"))->text(), wizardSave);

            triggerAction(action(window, lang.isNull() ? "langPlAction" : "langEnAction"));
            QCOMPARE(Prompt::messages().size(), 1);
            QCOMPARE(Prompt::messages().first().title, noticeTitle);
            QCOMPARE(Prompt::messages().first().text, noticeText);
            checked = true;
            QCoreApplication::exit(0);
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        guard.start(20000);
        const int code = Startup::run(*qApp, true);
        qunsetenv("QLUMAR_UPDATE_URL");
        if (QTest::currentTestFailed())
            QCoreApplication::exit(0);
        QVERIFY(checked);
        QCOMPARE(code, 0);
        QCOMPARE(ScratchHome::readFile(fresh.rootPath() + "/lang"), QByteArray(lang.isNull() ? "pl" : ""));
    }

    // Saves pictures of the Polish interface when QLUMAR_SCREENSHOT_DIR names a directory; meant
    // for a real X server (QT_QPA_PLATFORM=xcb under Xvfb).
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR is not set");
        QVERIFY(QDir().mkpath(dir));

        appLanguage = QStringLiteral("pl");
        Language::installTranslators(*qApp);
        CannedHttpServer server(CannedHttpServer::ok(versionFile));
        qputenv("QLUMAR_UPDATE_URL", server.url().toEncoded());
        MainWindow& window = *mainWindow();
        qunsetenv("QLUMAR_UPDATE_URL");
        auto* update = window.findChild<UpdateAction*>(QStringLiteral("updateAction"));
        QTRY_VERIFY_WITH_TIMEOUT(!update->newVersion().isEmpty(), 10000);
        window.resize(420, 480);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.grab().save(dir + "/main_pl.png"));

        AboutBox* box = window.aboutDialog();
        box->resize(640, 560);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        const QList<QPair<const char*, QString>> pages = {{"setActiveAbout", "about_pl_about.png"},
                                                          {"setActiveLicense", "about_pl_license.png"},
                                                          {"setActiveThanks", "about_pl_thanks.png"},
                                                          {"setActiveUpdate", "about_pl_updates.png"}};
        for (const auto& page : pages) {
            QVERIFY(QMetaObject::invokeMethod(box, page.first));
            QCoreApplication::processEvents();
            QVERIFY(box->grab().save(dir + QLatin1Char('/') + page.second));
        }
        box->hide();

        VpnNewWindow wizard(&window);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        QVERIFY(wizard.grab().save(dir + "/wizard_pl.png"));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
