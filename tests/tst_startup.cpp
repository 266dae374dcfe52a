#include "TestSupport.h"

#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>

#include <unistd.h>

namespace {

MainWindow* mainWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<MainWindow*>(w))
            return m;
    return nullptr;
}

// Runs start-up with a tray and lets `during` act on the running program once the event loop
// turns; the program must then end on its own (a guard timer fails the run after 10 s).
int runWith(const std::function<void(MainWindow*)>& during, bool tray = true)
{
    bool timedOut = false;
    QTimer::singleShot(0, qApp, [&] {
        MainWindow* w = mainWindow();
        QVERIFY(w);
        during(w);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [&] {
        timedOut = true;
        QCoreApplication::exit(99);
    });
    guard.start(10000);
    const int code = Startup::run(*qApp, tray);
    if (timedOut)
        qWarning("the program did not end by itself");
    return code;
}

void triggerExit(MainWindow* w)
{
    w->findChild<QAction*>(QStringLiteral("exitAction"))->trigger();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Prompt::setTestMode(true);
        Prompt::reset();
        appLanguage = QString();
        removeInstalledTranslators(); // a run with "pl" leaves the Polish ones installed
    }

    void firstRunCreatesRootAndEmptyLang()
    {
        ScratchHome home;
        QVERIFY(!QFileInfo::exists(home.rootPath()));
        QCOMPARE(runWith(triggerExit), 0);
        QVERIFY(QFileInfo(home.rootPath()).isDir());
        QVERIFY(QFileInfo::exists(home.rootPath() + "/lang"));
        QCOMPARE(ScratchHome::readFile(home.rootPath() + "/lang"), QByteArray());
        QVERIFY(Prompt::messages().isEmpty());
    }

    void profileRootIsCurrentDirectoryDuringRun()
    {
        ScratchHome home;
        QString during;
        QCOMPARE(runWith([&](MainWindow* w) {
                     during = QDir::currentPath();
                     triggerExit(w);
                 }),
                 0);
        QCOMPARE(QFileInfo(during).canonicalFilePath(), QFileInfo(home.rootPath()).canonicalFilePath());
    }

    void langFileRules_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("polish");
        QTest::addColumn<QByteArray>("writtenBack");
        QTest::newRow("pl selects Polish") << QByteArray("pl") << true << QByteArray("pl");
        QTest::newRow("line end after pl is English") << QByteArray("pl\n") << false << QByteArray("pl\n");
        QTest::newRow("upper case is English") << QByteArray("PL") << false << QByteArray("PL");
        QTest::newRow("bytes after NUL ignored") << QByteArray("pl\0junk", 7) << true << QByteArray("pl");
        QTest::newRow("en kept unchanged") << QByteArray("en") << false << QByteArray("en");
        QTest::newRow("empty is English") << QByteArray() << false << QByteArray();
    }

    void langFileRules()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, polish);
        QFETCH(QByteArray, writtenBack);
        ScratchHome home;
        QVERIFY(ScratchHome::writeFile(home.rootPath() + "/lang", stored));
        bool polishDuringRun = !polish;
        QCOMPARE(runWith([&](MainWindow* w) {
                     polishDuringRun = Language::isPolish();
                     triggerExit(w);
                 }),
                 0);
        QCOMPARE(polishDuringRun, polish);
        QCOMPARE(ScratchHome::readFile(home.rootPath() + "/lang"), writtenBack);
    }

    // A "lang" that is a FIFO or a directory neither hangs the start nor is written over at exit.
    void langThatIsNoRegularFileIsIgnored_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("FIFO") << true;
        QTest::newRow("directory") << false;
    }
    void langThatIsNoRegularFileIsIgnored()
    {
        QFETCH(bool, fifo);
        ScratchHome home;
        QVERIFY(QDir().mkpath(home.rootPath()));
        const QString lang = home.rootPath() + "/lang";
        std::unique_ptr<FifoGuard> guard;
        if (fifo) {
            guard = std::make_unique<FifoGuard>(lang);
            QVERIFY(guard->isValid());
        } else {
            QVERIFY(QDir().mkdir(lang));
        }
        bool polishDuringRun = true;
        QCOMPARE(runWith([&](MainWindow* w) {
                     polishDuringRun = Language::isPolish();
                     triggerExit(w);
                 }),
                 0);
        QVERIFY(!polishDuringRun);
        QCOMPARE(appLanguage, QString());
        if (guard)
            QVERIFY2(!guard->released(), "the start blocked on the FIFO");
        QFileInfo info(lang);
        QVERIFY(!info.isFile());
        QVERIFY(info.exists());
    }

    // Without a tray the window is the program: it shows, says so without a modal box, and
    // closing it ends the run the way Exit does.
    void noTrayRunsAsAWindowThatEndsOnClose()
    {
        ScratchHome home;
        QVERIFY(ScratchHome::writeFile(home.rootPath() + "/lang", "pl"));
        QCOMPARE(runWith(
                     [](MainWindow* w) {
                         QVERIFY(w->isVisible());
                         QVERIFY(!w->hasTrayHost());
                         appLanguage = QString();
                         w->close();
                     },
                     false),
                 0);
        QVERIFY(Prompt::messages().isEmpty());
        QCOMPARE(ScratchHome::readFile(home.rootPath() + "/lang"), QByteArray());
    }

    void unusableRootStopsWithoutFallingBackToHome()
    {
        ScratchHome home;
        // A file where the profile root should be: it can be neither created nor entered.
        QVERIFY(ScratchHome::writeFile(home.rootPath(), "not a directory"));
        QVERIFY(ScratchHome::writeFile(home.path() + "/Documents/report.txt", "keep me"));
        const QString before = QDir::currentPath();
        QCOMPARE(Startup::run(*qApp, true), 1);
        const auto shown = Prompt::messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().icon, QMessageBox::Critical);
        QVERIFY2(shown.first().text.contains(QDir::toNativeSeparators(home.rootPath())),
                 qPrintable(shown.first().text));
        QCOMPARE(QDir::currentPath(), before);
        QVERIFY(!QFileInfo::exists(home.path() + "/lang"));
        QCOMPARE(ScratchHome::readFile(home.rootPath()), QByteArray("not a directory"));
        QVERIFY(!mainWindow());
    }

    void exitEndsTheLoopWhetherShownOrHidden_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("window visible") << false;
        QTest::newRow("window hidden in the tray") << true;
    }

    void exitEndsTheLoopWhetherShownOrHidden()
    {
        QFETCH(bool, hidden);
        ScratchHome home;
        QCOMPARE(runWith([&](MainWindow* w) {
                     if (hidden)
                         w->close();
                     QCOMPARE(w->isVisible(), !hidden);
                     triggerExit(w);
                 }),
                 0);
    }

    void closingADialogWhileHiddenKeepsRunning()
    {
        ScratchHome home;
        bool stillRunning = false;
        QCOMPARE(runWith([&](MainWindow* w) {
                     w->close();
                     auto* dialog = new QDialog(w);
                     dialog->setAttribute(Qt::WA_DeleteOnClose);
                     dialog->show();
                     dialog->close();
                     QTimer::singleShot(50, w, [&stillRunning, w] {
                         stillRunning = true;
                         triggerExit(w);
                     });
                 }),
                 0);
        QVERIFY(stillRunning);
    }

#ifdef Q_OS_UNIX
    void terminationSignalEndsLikeExitAndWritesLang()
    {
        ScratchHome home;
        QVERIFY(ScratchHome::writeFile(home.rootPath() + "/lang", "pl"));
        QCOMPARE(runWith([](MainWindow* w) {
                     w->findChild<QAction*>(QStringLiteral("langEnAction"))->setChecked(true);
                     appLanguage = QString();
                     ::raise(SIGTERM);
                 }),
                 0);
        QCOMPARE(ScratchHome::readFile(home.rootPath() + "/lang"), QByteArray());
    }

    // The engine, and OpenVPN after it, must not hold the socket the signal handler writes to:
    // one byte from either would end the manager.
    void engineInheritsNoSocketOfTheManager()
    {
        ScratchHome home;
        QTemporaryDir scripts;
        const QString record = scripts.filePath("fds");
        const QString engine = scripts.filePath("engine.sh");
        const QByteArray recordPath = QFile::encodeName(record);
        QVERIFY(ScratchHome::writeFile(engine, "#!/bin/sh\n"
                                               "for f in /proc/$$/fd/*; do readlink \"$f\"; done >'" +
                                                   recordPath + ".tmp'\nmv '" + recordPath + ".tmp' '" +
                                                   recordPath + "'\nexec sleep 60\n"));
        QVERIFY(QFile::setPermissions(engine, QFile::permissions(engine) | QFileDevice::ExeOwner));
        QVERIFY(ScratchHome::writeFile(home.rootPath() + "/0000/conf",
                                       "#\n# qLumarVpnName Office\n#\nremote vpn.example.org\nrport "
                                       "1194\npkcs12 office.p12\n"));
        qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(engine));

        QSet<QByteArray> managerSockets;
        QList<QByteArray> inherited;
        QCOMPARE(runWith([&](MainWindow* w) {
                     auto* list = w->findChild<QListWidget*>(QStringLiteral("vpnList"));
                     QVERIFY(list && list->count() == 1);
                     w->vpnItemPressedSlot(list->item(0));
                     auto* connect = w->findChild<QAction*>(QStringLiteral("connectAction"));
                     QVERIFY(connect->isEnabled());
                     Prompt::answerText(QStringLiteral("s3cret"));
                     connect->trigger();
                     QTRY_VERIFY(QFileInfo::exists(record));
                     inherited = ScratchHome::readFile(record).split('\n');
                     const QDir fds(QStringLiteral("/proc/self/fd"));
                     for (const QString& fd :
                          fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                         char target[256] = {};
                         const QByteArray link = QFile::encodeName(fds.filePath(fd));
                         if (::readlink(link.constData(), target, sizeof target - 1) > 0 &&
                             qstrncmp(target, "socket:", 7) == 0)
                             managerSockets.insert(QByteArray(target));
                     }
                     triggerExit(w);
                 }),
                 0);
        qunsetenv("QLUMAR_ENGINE_PATH");
        QVERIFY(!inherited.isEmpty());
        // The signal handler's pair is in place for the whole run.
        QVERIFY(managerSockets.size() >= 2);
        for (const QByteArray& target : inherited)
            QVERIFY2(!managerSockets.contains(target), target.constData());
    }
#endif
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
