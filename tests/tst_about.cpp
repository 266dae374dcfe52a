#include "CannedHttpServer.h"
#include "GuiTestBase.h"
#include "TestSupport.h"

#include "about/AboutBox.h"
#include "about/UpdateAction.h"
#include "app/MainWindow.h"

#include <QAction>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

QTabWidget* tabsOf(QWidget* box)
{
    return box->findChild<QTabWidget*>(QStringLiteral("aboutTabs"));
}

QString currentPage(QWidget* box)
{
    return tabsOf(box)->currentWidget()->objectName();
}

} // namespace

class TestAbout : public GuiTestBase
{
    Q_OBJECT

    // Runs `action` (which opens the About dialog modally) and records, while the dialog is up,
    // whether the window was visible and which page was current; then closes the dialog.
    struct Opened
    {
        bool windowVisible = false;
        bool dialogVisible = false;
        QString page;
    };

    static Opened openWith(MainWindow& window, const char* actionName)
    {
        Opened seen;
        // The box may not exist before its first opening: it is looked up once it shows.
        QTimer::singleShot(0, &window, [&] {
            auto* box = window.findChild<AboutBox*>();
            QVERIFY(box);
            seen.windowVisible = window.isVisible();
            seen.dialogVisible = box->isVisible();
            seen.page = currentPage(box);
            box->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        triggerAction(window.findChild<QAction*>(QLatin1String(actionName)));
        return seen;
    }

private Q_SLOTS:
    void tabsOnTheEastInOrder()
    {
        AboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("About"));
        QCOMPARE(box.minimumHeight(), 500);
        QTabWidget* tabs = tabsOf(&box);
        QVERIFY(tabs);
        QCOMPARE(tabs->tabPosition(), QTabWidget::East);
        const QStringList titles = {"About", "Help", "License", "Thanks", "Updates"};
        const QStringList pages = {"aboutPage", "helpPage", "licenseView", "thanksPage", "updatePage"};
        QCOMPARE(tabs->count(), titles.size());
        for (int i = 0; i < tabs->count(); ++i) {
            QCOMPARE(tabs->tabText(i), titles.at(i));
            QCOMPARE(tabs->widget(i)->objectName(), pages.at(i));
        }
        QVERIFY(qobject_cast<QTextEdit*>(tabs->widget(2)));
        QCOMPARE(box.findChild<QTextEdit*>()->fontFamily(), QStringLiteral("Sans Serif"));

        auto* grid = qobject_cast<QGridLayout*>(box.layout());
        QVERIFY(grid);
        QCOMPARE(grid->itemAtPosition(0, 0)->widget(), tabs);
        QLayoutItem* ok = grid->itemAtPosition(1, 0);
        QCOMPARE(qobject_cast<QPushButton*>(ok->widget())->text(), QStringLiteral("OK"));
        QCOMPARE(ok->alignment(), Qt::AlignRight);
    }

    void pageGrid_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("about") << "about";
        QTest::newRow("help") << "help";
        QTest::newRow("thanks") << "thanks";
        QTest::newRow("update") << "update";
    }

    void pageGrid()
    {
        QFETCH(QString, name);
        AboutBox box;
        auto* page = box.findChild<QWidget*>(name + "Page");
        QVERIFY(page);
        auto* grid = qobject_cast<QGridLayout*>(page->layout());
        QVERIFY(grid);
        QLayoutItem* picture = grid->itemAtPosition(0, 0);
        QCOMPARE(picture->widget()->objectName(), name + "Picture");
        QCOMPARE(picture->alignment(), Qt::AlignTop);
        auto* text = qobject_cast<QLabel*>(grid->itemAtPosition(1, 0)->widget());
        QVERIFY(text);
        QCOMPARE(text->objectName(), name + "Text");
        QVERIFY(text->wordWrap());
        QCOMPARE(text->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QVERIFY(text->openExternalLinks());
        QCOMPARE(text->textFormat(), Qt::RichText);
    }

    void setters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("textSetter");
        QTest::addColumn<QByteArray>("pixmapSetter");
        QTest::newRow("about") << "about" << QByteArray("setAboutText") << QByteArray("setAboutPixmap");
        QTest::newRow("help") << "help" << QByteArray("setHelpText") << QByteArray("setHelpPixmap");
        QTest::newRow("thanks") << "thanks" << QByteArray("setThanksText") << QByteArray("setThanksPixmap");
        QTest::newRow("update") << "update" << QByteArray("setUpdateText") << QByteArray("setUpdatePixmap");
    }

    void setters()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, textSetter);
        QFETCH(QByteArray, pixmapSetter);
        AboutBox box;
        using TextSetter = void (AboutBox::*)(const QString&);
        using PixmapSetter = void (AboutBox::*)(const QPixmap&);
        const QHash<QByteArray, TextSetter> texts = {{"setAboutText", &AboutBox::setAboutText},
                                                     {"setHelpText", &AboutBox::setHelpText},
                                                     {"setThanksText", &AboutBox::setThanksText},
                                                     {"setUpdateText", &AboutBox::setUpdateText}};
        const QHash<QByteArray, PixmapSetter> pixmaps = {{"setAboutPixmap", &AboutBox::setAboutPixmap},
                                                         {"setHelpPixmap", &AboutBox::setHelpPixmap},
                                                         {"setThanksPixmap", &AboutBox::setThanksPixmap},
                                                         {"setUpdatePixmap", &AboutBox::setUpdatePixmap}};
        QPixmap pixmap(7, 5);
        pixmap.fill(Qt::red);
        (box.*texts.value(textSetter))(QStringLiteral("<b>%1</b>").arg(name));
        (box.*pixmaps.value(pixmapSetter))(pixmap);
        // Only the page named gets the text and the picture.
        for (const QString& other : QStringList{"about", "help", "thanks", "update"}) {
            auto* text = box.findChild<QLabel*>(other + "Text");
            auto* picture = box.findChild<QLabel*>(other + "Picture");
            QCOMPARE(text->text(), other == name ? QStringLiteral("<b>%1</b>").arg(name) : QString());
            QCOMPARE(picture->pixmap().size(), other == name ? QSize(7, 5) : QSize(0, 0));
        }
    }

    void tabSlots_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("page");
        QTest::newRow("setActiveAbout") << QByteArray("setActiveAbout") << "aboutPage";
        QTest::newRow("setActiveHelp") << QByteArray("setActiveHelp") << "helpPage";
        QTest::newRow("setActiveLicense") << QByteArray("setActiveLicense") << "licenseView";
        QTest::newRow("setActiveThanks") << QByteArray("setActiveThanks") << "thanksPage";
        QTest::newRow("setActiveUpdate") << QByteArray("setActiveUpdate") << "updatePage";
    }

    void tabSlots()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, page);
        AboutBox box;
        // From each other page, so a slot that does nothing cannot pass by luck.
        for (int from = 0; from < tabsOf(&box)->count(); ++from) {
            tabsOf(&box)->setCurrentIndex(from);
            QVERIFY(QMetaObject::invokeMethod(&box, slot.constData()));
            QCOMPARE(currentPage(&box), page);
        }
    }

    void licenseFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("html");
        QTest::newRow("bytes up to a NUL") << QByteArray("<p>GPL</p>\0<p>junk</p>", 22) << "<p>GPL</p>";
        QTest::newRow("Latin-1") << QByteArray("<p>\xa9 FSF</p>") << QString::fromUtf8("<p>© FSF</p>");
        QTest::newRow("CR LF kept") << QByteArray("<p>a</p>\r\n<p>b</p>\r\n") << "<p>a</p>\r\n<p>b</p>\r\n";
    }

    void licenseFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, html);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LICENSE"));
        QVERIFY(ScratchHome::writeFile(path, bytes));
        QCOMPARE(AboutBox::readLicenseHtml(path), html);
    }

    void embeddedLicenseIsShown()
    {
        const QByteArray stored =
            ScratchHome::readFile(QStringLiteral(QLUMAR_SOURCE_DIR "/resources/LICENSE"));
        QVERIFY(!stored.isEmpty());
        QCOMPARE(AboutBox::readLicenseHtml(), QString::fromLatin1(stored));

        MainWindow& window = *mainWindow();
        QTextDocument expected;
        expected.setHtml(QString::fromLatin1(stored));
        // Read when About first opens, not at start-up.
        QVERIFY(!window.findChild<QTextEdit*>(QStringLiteral("licenseView")));
        openWith(window, "aboutAction");
        auto* view = window.findChild<QTextEdit*>(QStringLiteral("licenseView"));
        QVERIFY(view);
        QVERIFY(!expected.toPlainText().trimmed().isEmpty());
        QCOMPARE(view->toPlainText(), expected.toPlainText());
        // A screen reader names the text by its page, not by its first words.
        QCOMPARE(view->accessibleName(), QStringLiteral("License"));
    }

    void unreadableLicenseLeavesPageEmpty()
    {
        QTemporaryDir dir;
        QCOMPARE(AboutBox::readLicenseHtml(dir.filePath(QStringLiteral("missing"))), QString());
        // A directory where the file should be cannot be read either, even by root.
        QCOMPARE(AboutBox::readLicenseHtml(dir.path()), QString());

        AboutBox box;
        box.setLicenseHtml(AboutBox::readLicenseHtml(dir.filePath(QStringLiteral("missing"))));
        box.setAboutText(QStringLiteral("still here"));
        QVERIFY(box.findChild<QTextEdit*>()->toPlainText().isEmpty());
        QCOMPARE(box.findChild<QLabel*>(QStringLiteral("aboutText"))->text(), QStringLiteral("still here"));
    }

    void mainWindowFillsEveryPage()
    {
        MainWindow& window = *mainWindow();
        // Nothing of the box is made before it is needed; when it is, every page is filled.
        QVERIFY(!window.findChild<AboutBox*>());
        openWith(window, "aboutAction");
        auto* box = window.findChild<AboutBox*>();
        QVERIFY(box);
        QCOMPARE(window.aboutDialog(), box);
        QCOMPARE(box->parent(), &window);
        auto text = [box](const char* name) { return box->findChild<QLabel*>(QLatin1String(name))->text(); };
        QVERIFY(
            text("aboutText").startsWith(QLatin1String("<h2>qLumar Velkoro v1.5</h2><br><br><br><a href=")));
        QVERIFY(text("helpText")
                    .startsWith(QLatin1String("<h2>qLumar Velkoro v1.5</h2><br>Online instructions to this "
                                              "application are avaliable on the "
                                              "following website: <a href=")));
        QVERIFY(text("thanksText").startsWith(QLatin1String("<h4>Thanks to</h4>")));
        QVERIFY(text("thanksText").contains(QLatin1String(">OpenSSL</a> library and <a ")));
        QCOMPARE(text("updateText"), QStringLiteral("No new version avaliable."));
        for (const char* picture : {"aboutPicture", "helpPicture", "thanksPicture", "updatePicture"})
            QCOMPARE(box->findChild<QLabel*>(QLatin1String(picture))->pixmap().size(), QSize(384, 166));
    }

    void aboutShowsHiddenWindowFirst()
    {
        MainWindow& window = *mainWindow();
        AboutBox* box = window.aboutDialog();
        box->setActiveUpdate(); // last closed on another page
        QVERIFY(!window.isVisible());
        const Opened seen = openWith(window, "aboutAction");
        QVERIFY(seen.windowVisible);
        QVERIFY(seen.dialogVisible);
        QCOMPARE(seen.page, QStringLiteral("aboutPage"));
        QVERIFY(!box->isVisible());
        QVERIFY(window.isVisible());

        // Shown again: the dialog is kept, not rebuilt.
        QCOMPARE(openWith(window, "aboutAction").page, QStringLiteral("aboutPage"));
        QCOMPARE(window.findChildren<AboutBox*>().size(), 1);
    }

    void updateOpensUpdatesPageWithoutShowingWindow()
    {
        MainWindow& window = *mainWindow();
        QVERIFY(!window.isVisible());
        const Opened seen = openWith(window, "updateAction");
        QVERIFY(seen.dialogVisible);
        QVERIFY(!seen.windowVisible);
        QCOMPARE(seen.page, QStringLiteral("updatePage"));
    }

    void updatesPageAfterUpdateFound()
    {
        CannedHttpServer server(CannedHttpServer::ok(
            "dudidudovi en 1.7 setup Get&nbsp;it https://www.qlumar-velkoro.example/1.7\n"));
        qputenv("QLUMAR_UPDATE_URL", server.url().toEncoded());
        MainWindow& window = *mainWindow();
        qunsetenv("QLUMAR_UPDATE_URL");
        auto* button = window.findChild<QWidget*>(QStringLiteral("updateButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!button->isHidden(), 10000);
        // The news came before the box was built: the box shows it all the same.
        QVERIFY(!window.findChild<AboutBox*>());
        window.show();
        QVERIFY(button->isVisible());
        QCOMPARE(openWith(window, "updateAction").page, QStringLiteral("updatePage"));
        auto* label = window.findChild<QLabel*>(QStringLiteral("updateText"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Version 1.7 is avaliable on the following website:<br><br>"
                                               "<a href=\"https://www.qlumar-velkoro.example/1.7\">"
                                               "Get&amp;nbsp;it</a>"));
        // Opening About afterwards still shows the link on the Updates page.
        openWith(window, "aboutAction");
        QVERIFY(label->text().contains(QLatin1String("https://www.qlumar-velkoro.example/1.7")));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
