#include "GuiTestBase.h"
#include "TestSupport.h"

#include "app/ConnectAction.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "profiles/ProfileSave.h"
#include "profiles/ProfileStore.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QtTest>

#include <memory>

namespace {

void writeProfile(const QString& root, const QString& dirName, const QString& name)
{
    ProfileFields f;
    f.name = name;
    f.server = QStringLiteral("vpn.example.net");
    f.pkcs12Field = QStringLiteral("/certs/") + dirName + QStringLiteral(".p12");
    QVERIFY(QDir(root).mkdir(dirName));
    QVERIFY(ScratchHome::writeFile(root + '/' + dirName + "/conf",
                                   ProfileSave::headerText(ProfileKind::Pkcs12, f) +
                                       ProfileSave::templateMarker));
}

} // namespace

class TestProfileList : public GuiTestBase
{
    Q_OBJECT

    QListWidget* list(MainWindow& w) { return w.findChild<QListWidget*>("vpnList"); }
    QMenu* menu(MainWindow& w) { return w.findChild<QMenu*>("trayConnectMenu"); }
    QAction* action(MainWindow& w, const char* name) { return w.findChild<QAction*>(QLatin1String(name)); }
    VpnItem* entry(MainWindow& w, int row) { return static_cast<VpnItem*>(list(w)->item(row)); }

    QStringList listTexts(MainWindow& w)
    {
        QStringList texts;
        for (int i = 0; i < list(w)->count(); ++i)
            texts << list(w)->item(i)->text();
        return texts;
    }
    QStringList menuTexts(MainWindow& w)
    {
        QStringList texts;
        for (QAction* a : openedMenuEntries(menu(w)))
            texts << a->text();
        return texts;
    }
    QStringList dirNames(MainWindow& w)
    {
        QStringList names;
        for (int i = 0; i < list(w)->count(); ++i)
            names << entry(w, i)->dirName();
        return names;
    }
    // Which of Connect, Disconnect, Information, Edit, Delete are enabled, as five letters.
    QString profileActions(MainWindow& w)
    {
        QString state;
        for (const char* name :
             {"connectAction", "disconnectAction", "infoAction", "editAction", "deleteAction"})
            state += action(w, name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return state;
    }
    VpnItem* byDir(MainWindow& w, const QString& dirName)
    {
        for (int i = 0; i < list(w)->count(); ++i)
            if (entry(w, i)->dirName() == dirName)
                return entry(w, i);
        return nullptr;
    }

    // What the connection slots leave behind while a connection runs.
    void simulateConnection(MainWindow& w, VpnItem* active, bool initialized)
    {
        w.vpnRunning = true;
        w.vpnInitialized = initialized;
        w.activeItem = active;
        for (int i = 0; i < list(w)->count(); ++i) {
            entry(w, i)->setConnected(entry(w, i) == active);
            entry(w, i)->setBlocked(entry(w, i) != active);
        }
        if (initialized)
            active->setIcon(VpnItem::connectedIcon());
    }

private Q_SLOTS:
    void initTestCase() { qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info"); }

    void bothViewsInNameOrderIgnoringCase()
    {
        const QString root = home()->rootPath();
        writeProfile(root, "000b", "Bravo");
        writeProfile(root, "000A", "Alpha");
        writeProfile(root, "0001", "One");
        writeProfile(root, "000C", "Charlie"); // "C" sorts before "b" when case matters
        QVERIFY(QDir(root).mkdir("Zulu"));
        QVERIFY(ScratchHome::writeFile(root + "/lang", "pl"));
        writeProfile(root, ".hidden", "Hidden");
        QVERIFY(QDir(root).mkdir("office")); // not hexadecimal, no conf: listed all the same

        MainWindow& w = *mainWindow();
        QCOMPARE(dirNames(w), QStringList({"0001", "000A", "000b", "000C", "office", "Zulu"}));
        QCOMPARE(listTexts(w), QStringList({"One", "Alpha", "Bravo", "Charlie", "office", "Zulu"}));
        QCOMPARE(menuTexts(w), listTexts(w));
        for (int i = 0; i < list(w)->count(); ++i) {
            auto* entryAction = qobject_cast<ConnectAction*>(openedMenuEntries(menu(w)).at(i));
            QVERIFY(entryAction);
            QCOMPARE(entryAction->item(), list(w)->item(i));
            QCOMPARE(entryAction->parent(), &w);
        }
        QCOMPARE(entry(w, 4)->vpnName(), QString());
        QVERIFY(!entry(w, 4)->isPKCS12());
        QVERIFY(entry(w, 0)->isPKCS12());
        QCOMPARE(entry(w, 0)->confPath(), root + "/0001/conf");
    }

    void emptyRootGivesEmptyViews()
    {
        MainWindow& w = *mainWindow();
        QCOMPARE(list(w)->count(), 0);
        QVERIFY(openedMenuEntries(menu(w)).isEmpty());
        QCOMPARE(profileActions(w), QStringLiteral("00000"));
        QVERIFY(action(w, "newAction")->isEnabled());
    }

    void reloadDisablesProfileActionsAndReplacesEntries()
    {
        writeProfile(home()->rootPath(), "0000", "First");
        MainWindow& w = *mainWindow();
        list(w)->setCurrentRow(0);
        w.vpnItemPressedSlot(entry(w, 0));
        QCOMPARE(profileActions(w), QStringLiteral("10111"));
        const QPointer<QAction> oldEntry = openedMenuEntries(menu(w)).first();

        writeProfile(home()->rootPath(), "0001", "Second");
        w.loadVpnList();
        QCOMPARE(profileActions(w), QStringLiteral("00000"));
        QCOMPARE(menuTexts(w), QStringList({"First", "Second"}));
        QVERIFY(!openedMenuEntries(menu(w)).contains(oldEntry.data()));
        QCOMPARE(w.findChildren<QMenu*>(QStringLiteral("trayConnectMenu")).size(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(oldEntry.isNull());
        QCOMPARE(w.findChildren<ConnectAction*>().size(), 2);
        // The selection is kept on the new record of the same profile.
        QCOMPARE(w.selectedProfile(), entry(w, 0));
    }

    void trayEntrySelectsItsProfile()
    {
        writeProfile(home()->rootPath(), "0000", "First");
        writeProfile(home()->rootPath(), "0001", "Second");
        MainWindow& w = *mainWindow();
        w.loadVpnList(); // entries of a reload are wired as well as the first ones
        triggerAction(openedMenuEntries(menu(w)).at(1));
        QCOMPARE(w.selectedProfile(), entry(w, 1));
        QCOMPARE(list(w)->currentItem(), list(w)->item(1));
        QCOMPARE(profileActions(w), QStringLiteral("10111"));
    }

    void deleteAsks_data()
    {
        QTest::addColumn<int>("answer"); // NoButton: the box is closed with Escape
        QTest::addColumn<bool>("subdirectory");
        QTest::addColumn<QStringList>("remainingDirs");
        QTest::addColumn<QStringList>("remainingFiles");
        QTest::newRow("yes removes the profile")
            << int(QMessageBox::Yes) << false << QStringList({"0000", "0002"}) << QStringList();
        QTest::newRow("yes with a subdirectory empties but keeps it")
            << int(QMessageBox::Yes) << true << QStringList({"0000", "0001", "0002"}) << QStringList({"sub"});
        QTest::newRow("no leaves everything")
            << int(QMessageBox::No) << true << QStringList({"0000", "0001", "0002"})
            << QStringList({"ca", "conf", "sub", "user"});
        QTest::newRow("escape leaves everything")
            << int(QMessageBox::NoButton) << false << QStringList({"0000", "0001", "0002"})
            << QStringList({"ca", "conf", "user"});
    }
    void deleteAsks()
    {
        QFETCH(int, answer);
        QFETCH(bool, subdirectory);
        QFETCH(QStringList, remainingDirs);
        QFETCH(QStringList, remainingFiles);
        const QString root = home()->rootPath();
        for (const char* dir : {"0000", "0001", "0002"})
            writeProfile(root, dir, QStringLiteral("Profile ") + dir);
        QVERIFY(ScratchHome::writeFile(root + "/0001/ca", "ca"));
        QVERIFY(ScratchHome::writeFile(root + "/0001/user", "user"));
        if (subdirectory)
            QVERIFY(QDir(root).mkpath("0001/sub"));

        MainWindow& w = *mainWindow();
        VpnItem* target = entry(w, 1);
        w.vpnItemPressedSlot(target);
        if (answer != QMessageBox::NoButton)
            Prompt::answerButton(QMessageBox::StandardButton(answer));
        triggerAction(action(w, "deleteAction"));

        QCOMPARE(Prompt::messages().size(), 1);
        const Prompt::Shown box = Prompt::messages().first();
        QCOMPARE(box.parent, &w);
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.title, QStringLiteral("Question"));
        QCOMPARE(box.text, QStringLiteral("Do you want to delete selected VPN connection?"));
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::No);

        QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot), remainingDirs);
        QCOMPARE(QDir(root + "/0001").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), remainingFiles);
        QCOMPARE(dirNames(w), remainingDirs);
        if (answer != QMessageBox::Yes) {
            // Not reloaded: the same record is still selected and the actions are unchanged.
            QCOMPARE(entry(w, 1), target);
            QCOMPARE(profileActions(w), QStringLiteral("10111"));
        } else {
            QCOMPARE(profileActions(w), QStringLiteral("00000"));
            if (subdirectory) {
                QCOMPARE(entry(w, 1)->text(), QStringLiteral("0001"));
                QCOMPARE(entry(w, 1)->vpnName(), QString());
                QCOMPARE(w.selectedProfile(), entry(w, 1));
            } else {
                QCOMPARE(w.selectedProfile(), nullptr);
            }
        }
    }

    // A link is never a profile, and Delete never reaches through one.
    void deleteNeverFollowsLinks()
    {
        const QString root = home()->rootPath();
        const QString outside = home()->path() + "/outside";
        QVERIFY(ScratchHome::writeFile(outside + "/precious", "keep me"));
        QVERIFY(ScratchHome::writeFile(outside + "/sub/also", "keep me too"));
        QVERIFY(QFile::link(outside, root + "/0000")); // a profile directory that is a link
        writeProfile(root, "0001", "Real");
        QVERIFY(QFile::link(outside + "/precious", root + "/0001/ca"));
        QVERIFY(QFile::link(outside, root + "/0001/linked dir"));
        QVERIFY(QFile::link(outside + "/gone", root + "/0001/dangling"));

        MainWindow& w = *mainWindow();
        QCOMPARE(dirNames(w), QStringList({"0001"}));
        QCOMPARE(menuTexts(w), QStringList({"Real"}));
        w.vpnItemPressedSlot(entry(w, 0));
        QVERIFY(action(w, "deleteAction")->isEnabled());
        Prompt::answerButton(QMessageBox::Yes);
        triggerAction(action(w, "deleteAction"));
        QVERIFY(!QFileInfo::exists(root + "/0001"));
        QCOMPARE(dirNames(w), QStringList());

        // The store refuses the linked one outright.
        const ProfileStore::DeleteResult refused = ProfileStore::deleteProfile(root, "0000");
        QVERIFY(!refused.deleted);
        QVERIFY(!refused.reason.isEmpty());
        QVERIFY(QFileInfo(root + "/0000").isSymLink());
        QCOMPARE(ScratchHome::readFile(outside + "/precious"), QByteArray("keep me"));
        QCOMPARE(ScratchHome::readFile(outside + "/sub/also"), QByteArray("keep me too"));
        QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"precious", "sub"}));
        for (const char* name : {"..", ".", "", "0000/../0001"})
            QVERIFY(!ProfileStore::deleteProfile(root, QLatin1String(name)).deleted);
        QVERIFY(QFileInfo(root).isDir());
    }

    // A reload during a connection (a new profile saved meanwhile) must leave both pointers on
    // live records of the same profiles and the connection marks where they were.
    void reloadDuringConnectionRebinds_data()
    {
        QTest::addColumn<bool>("initialized");
        QTest::addColumn<QString>("removed"); // a profile that disappears from disk meanwhile
        QTest::newRow("tunnel up") << true << "";
        QTest::newRow("still connecting") << false << "";
        QTest::newRow("selected profile gone") << true << "0000";
        QTest::newRow("active profile gone") << true << "0002";
    }
    void reloadDuringConnectionRebinds()
    {
        QFETCH(bool, initialized);
        QFETCH(QString, removed);
        const QString root = home()->rootPath();
        for (const char* dir : {"0000", "0001", "0002"})
            writeProfile(root, dir, QStringLiteral("Profile ") + dir);
        MainWindow& w = *mainWindow();
        simulateConnection(w, byDir(w, "0002"), initialized);
        w.vpnItemPressedSlot(byDir(w, "0000"));

        writeProfile(root, "0003", "Saved during the connection");
        if (!removed.isEmpty())
            QVERIFY(QDir(root + '/' + removed).removeRecursively());
        w.loadVpnList();

        const QStringList dirs = dirNames(w);
        QCOMPARE(dirs.size(), removed.isEmpty() ? 4 : 3);
        VpnItem* active = w.activeProfile();
        if (removed == "0002") {
            QCOMPARE(active, nullptr);
        } else {
            QCOMPARE(active, byDir(w, "0002"));
            QVERIFY(active->isConnected());
            QVERIFY(!active->isBlocked());
            QCOMPARE(active->icon().cacheKey(),
                     (initialized ? VpnItem::connectedIcon() : VpnItem::idleIcon()).cacheKey());
        }
        for (int i = 0; i < list(w)->count(); ++i) {
            VpnItem* item = entry(w, i);
            if (item == active)
                continue;
            QVERIFY2(item->isBlocked(), qPrintable(item->dirName()));
            QVERIFY(!item->isConnected());
            QCOMPARE(item->icon().cacheKey(), VpnItem::idleIcon().cacheKey());
        }
        if (removed == "0000")
            QCOMPARE(w.selectedProfile(), nullptr);
        else
            QCOMPARE(w.selectedProfile(), byDir(w, "0000"));

        // A press on the re-bound records refreshes the actions as during any connection.
        if (active) {
            w.vpnItemPressedSlot(active);
            QCOMPARE(profileActions(w), QStringLiteral("01100"));
        }
        w.vpnItemPressedSlot(byDir(w, "0003"));
        // With its profile gone, the running connection can still be ended from any entry.
        QCOMPARE(profileActions(w), active ? QStringLiteral("00100") : QStringLiteral("01100"));

        // The connection still runs after its profile vanished: a second reload keeps every
        // profile blocked, so none can start a second engine.
        w.loadVpnList();
        for (int i = 0; i < list(w)->count(); ++i)
            QVERIFY2(entry(w, i) == w.activeProfile() || entry(w, i)->isBlocked(),
                     qPrintable(entry(w, i)->dirName()));
    }

    void reloadWithoutConnectionMarksNothing()
    {
        writeProfile(home()->rootPath(), "0000", "Only");
        MainWindow& w = *mainWindow();
        w.loadVpnList();
        QCOMPARE(w.activeProfile(), nullptr);
        QVERIFY(!entry(w, 0)->isBlocked());
        QVERIFY(!entry(w, 0)->isConnected());
        QCOMPARE(entry(w, 0)->icon().cacheKey(), VpnItem::idleIcon().cacheKey());
    }
};

QTEST_MAIN(TestProfileList)
#include "tst_profilelist.moc"
