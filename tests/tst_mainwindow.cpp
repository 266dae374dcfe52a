#include "GuiTestBase.h"
#include "TestSupport.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "profiles/VpnItem.h"

#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

using TestPictures::iconImage;
using TestPictures::resourceIcon;
using TestPictures::resourcePicture;

QStringList menuTexts(const QList<QAction*>& actions)
{
    QStringList texts;
    for (QAction* a : actions)
        texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    ScratchHome* m_home = nullptr;
    MainWindow* m_window = nullptr;

    QAction* action(const char* name) { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QListWidget* list() { return m_window->findChild<QListWidget*>(QStringLiteral("vpnList")); }
    QLabel* picture() { return m_window->findChild<QLabel*>(QStringLiteral("connectionLabel")); }

    VpnItem* addProfile(const QString& dir, const QString& name)
    {
        const QString conf = m_home->rootPath() + "/" + dir + "/conf";
        ScratchHome::writeFile(conf, "#\n# qLumarVpnName " + name.toUtf8() + "\n#\nremote vpn.example.net\n");
        auto* item = new VpnItem(conf, dir);
        list()->addItem(item);
        return item;
    }

    // Connect, Disconnect, New, Information, Edit, Delete
    QList<bool> actionStates()
    {
        QList<bool> states;
        for (const char* name :
             {"connectAction", "disconnectAction", "newAction", "infoAction", "editAction", "deleteAction"})
            states << action(name)->isEnabled();
        return states;
    }

    void press(QListWidgetItem* item)
    {
        const QRect rect = list()->visualItemRect(item);
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

private Q_SLOTS:
    void init()
    {
        Prompt::setTestMode(true);
        Prompt::reset();
        m_home = new ScratchHome;
        QVERIFY(m_home->enterRoot());
        m_window = new MainWindow;
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        delete m_home;
        m_home = nullptr;
    }

    void actionsStartAsDesigned()
    {
        struct Expected
        {
            const char* name;
            const char* text;
            const char* icon;
            bool enabled;
        };
        const Expected expected[] = {
            {"connectAction", "&Connect", ":img/vpn_con.png", false},
            {"disconnectAction", "&Disconnect", ":img/cancel.png", false},
            {"newAction", "&New connection", nullptr, true},
            {"importAction", "Import connection…", nullptr, true},
            {"infoAction", "&Information", nullptr, false},
            {"editAction", "&Edit", nullptr, false},
            {"deleteAction", "De&lete", nullptr, false},
            {"aboutAction", "&About", ":img/info.png", true},
            {"exitAction", "E&xit", ":img/exit.png", true},
        };
        for (const Expected& e : expected) {
            QAction* a = action(e.name);
            QVERIFY2(a, e.name);
            QCOMPARE(a->text(), QString::fromUtf8(e.text));
            QCOMPARE(a->isEnabled(), e.enabled);
            if (e.icon)
                QCOMPARE(iconImage(a->icon()), resourceIcon(QLatin1String(e.icon)));
            else
                QVERIFY2(a->icon().isNull(), e.name);
        }
        QCOMPARE(m_window->windowTitle(), QStringLiteral("qLumar Velkoro"));
        QCOMPARE(iconImage(m_window->windowIcon()), resourceIcon(QStringLiteral(":img/qlumar_velkoro.png")));
    }

    void menusHoldTheirItemsInOrder()
    {
        QCOMPARE(list()->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(menuTexts(list()->actions()),
                 QStringList({"&Connect", "&Disconnect", "--", "&New connection", "Import connection…",
                              "&Edit", "&Information", "De&lete", "Forget saved password"}));

        QMenu* tray = m_window->tray()->contextMenu();
        QVERIFY(tray);
        QCOMPARE(
            menuTexts(tray->actions()),
            QStringList({"&Connect", "&Disconnect", "--", "Import connection…", "Reconnect automatically",
                         "&Language", "Start at login", "&About", "--", "E&xit"}));
        QMenu* connectMenu = tray->actions().at(0)->menu();
        QVERIFY(connectMenu);
        QCOMPARE(iconImage(connectMenu->icon()), resourceIcon(QStringLiteral(":img/vpn_con.png")));
        QMenu* language = tray->actions().at(5)->menu();
        QVERIFY(language);
        QCOMPARE(menuTexts(language->actions()), QStringList({"English", "Polski"}));
        QVERIFY(action("langEnAction")->isCheckable());
        QVERIFY(action("langEnAction")->isChecked());
        QVERIFY(!action("langPlAction")->isChecked());
        QVERIFY(action("langEnAction")->actionGroup()->isExclusive());
        QCOMPARE(action("langEnAction")->actionGroup(), action("langPlAction")->actionGroup());
    }

    void trayStartsDisconnected()
    {
        QVERIFY(m_window->tray()->isVisible());
        QCOMPARE(m_window->tray()->toolTip(), QStringLiteral("qLumar VPN - disconnected"));
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(QStringLiteral(":img/vpn_dis.png")));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(QStringLiteral(":img/connect_01.png")));
        QVERIFY(!m_window->isAnimating());
    }

    void centralAreaLayout()
    {
        auto* grid = qobject_cast<QGridLayout*>(m_window->centralWidget()->layout());
        QVERIFY(grid);
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(grid->indexOf(picture()), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 1}));
        QCOMPARE(picture()->alignment(), Qt::AlignCenter);
        QCOMPARE(picture()->minimumSize(), QSize(224, 64));
        auto* logo = m_window->findChild<QLabel*>(QStringLiteral("logoLabel"));
        grid->getItemPosition(grid->indexOf(logo), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 1, 1, 1}));
        QCOMPARE(logo->alignment(), Qt::AlignRight | Qt::AlignTop);
        auto* splitter = m_window->findChild<QSplitter*>();
        grid->getItemPosition(grid->indexOf(splitter), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({2, 0, 1, 2}));
        QCOMPARE(grid->rowStretch(2), 1);
        // The status line sits under the picture, in words a screen reader can read too.
        auto* status = m_window->findChild<QLabel*>(QStringLiteral("statusLine"));
        grid->getItemPosition(grid->indexOf(status), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 0, 1, 1}));
        QCOMPARE(status->text(), QStringLiteral("Disconnected"));
        QCOMPARE(grid->columnStretch(0), 1);
        QCOMPARE(splitter->orientation(), Qt::Vertical);
        QCOMPARE(splitter->count(), 2);
        auto* top = qobject_cast<QGroupBox*>(splitter->widget(0));
        auto* bottom = qobject_cast<QGroupBox*>(splitter->widget(1));
        QCOMPARE(top->title(), QStringLiteral("Available VPN connections"));
        QCOMPARE(bottom->title(), QStringLiteral("VPN connection log"));
        QVERIFY(top->isAncestorOf(list()));
        QCOMPARE(list()->spacing(), 3);
        auto* log = m_window->findChild<QPlainTextEdit*>(QStringLiteral("vpnLog"));
        QVERIFY(bottom->isAncestorOf(log));
        QVERIFY(log->isReadOnly());
        // The log can grow to tens of megabytes: no undo copy of it, also after a Connect clears it.
        QVERIFY(!log->document()->isUndoRedoEnabled());
        log->clear();
        QVERIFY(!log->document()->isUndoRedoEnabled());
    }

    void actionEnablingFollowsTheSelection()
    {
        VpnItem* first = addProfile("0000", "Office");
        VpnItem* second = addProfile("0001", "Home");
        QApplication::processEvents();

        QCOMPARE(actionStates(), QList<bool>({false, false, true, false, false, false}));

        press(first);
        QCOMPARE(m_window->selectedProfile(), first);
        QCOMPARE(actionStates(), QList<bool>({true, false, true, true, true, true}));

        // The table's running rows: the connected profile, then another (blocked) one.
        first->setConnected(true);
        second->setBlocked(true);
        m_window->setProperty("simulateRunning", true);
        QMetaObject::invokeMethod(m_window, "vpnItemPressedSlot", Q_ARG(QListWidgetItem*, first));
        QCOMPARE(actionStates().mid(0, 2), QList<bool>({false, true}));
        QMetaObject::invokeMethod(m_window, "vpnItemPressedSlot", Q_ARG(QListWidgetItem*, second));
        QCOMPARE(actionStates().mid(0, 4), QList<bool>({false, false, true, true}));
    }

    // The arrow keys move the selection as a press does: the actions then act on the highlighted
    // profile, not on the one clicked before.
    void keyboardMovesSelect()
    {
        VpnItem* first = addProfile("0000", "Office");
        VpnItem* second = addProfile("0001", "Home");
        press(first);
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(list()->currentItem(), second);
        QCOMPARE(m_window->selectedProfile(), second);
        QCOMPARE(actionStates(), QList<bool>({true, false, true, true, true, true}));
        QTest::keyClick(list(), Qt::Key_Up);
        QCOMPARE(m_window->selectedProfile(), first);
    }

    void keyboardOnlyDeleteRemovesTheHighlightedProfile()
    {
        addProfile("0000", "Office");
        addProfile("0001", "Home");
        addProfile("0002", "Lab");
        m_window->loadVpnList();
        QCOMPARE(list()->count(), 3);
        press(list()->item(0)); // clicked first, then the keyboard moves on
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Down);
        QVERIFY(action("deleteAction")->isEnabled());
        Prompt::answerButton(QMessageBox::Yes);
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().at(0).text,
                 QStringLiteral("Do you want to delete selected VPN connection?"));
        QVERIFY(QDir(m_home->rootPath() + "/0000").exists());
        QVERIFY(!QDir(m_home->rootPath() + "/0001").exists());
        QVERIFY(QDir(m_home->rootPath() + "/0002").exists());
        QCOMPARE(list()->count(), 2);

        // Nothing highlighted after the reload: Delete is off and asks nothing.
        QVERIFY(!action("deleteAction")->isEnabled());
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(list()->count(), 2);
    }

    // A reload keeps the highlight on the selected profile: when the end of a connection offers the
    // actions for it again, Delete acts on the profile the user sees highlighted.
    void reloadKeepsTheHighlightOnTheSelectedProfile()
    {
        addProfile("0000", "Office");
        addProfile("0001", "Home");
        m_window->loadVpnList();
        list()->setFocus();
        list()->setCurrentRow(1);
        QCOMPARE(m_window->selectedProfile()->dirName(), QStringLiteral("0001"));
        m_window->loadVpnList();
        QCOMPARE(actionStates(), QList<bool>({false, false, true, false, false, false}));
        QCOMPARE(list()->currentItem(), m_window->selectedProfile());
        QMetaObject::invokeMethod(m_window, "vpnItemPressedSlot",
                                  Q_ARG(QListWidgetItem*, m_window->selectedProfile()));
        QVERIFY(action("deleteAction")->isEnabled());
        Prompt::answerButton(QMessageBox::Yes);
        QTest::keyClick(list(), Qt::Key_Delete);
        QVERIFY(QDir(m_home->rootPath() + "/0000").exists());
        QVERIFY(!QDir(m_home->rootPath() + "/0001").exists());
    }

    void keyboardOnlyConnectStartsTheHighlightedProfile_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }

    void keyboardOnlyConnectStartsTheHighlightedProfile()
    {
        QFETCH(int, key);
        SleepingEngine engine;
        QVERIFY(engine.isValid());
        addProfile("0000", "Office");
        addProfile("0001", "Home");
        m_window->loadVpnList();
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Down); // the first key only enters the list
        if (list()->currentRow() != 1)
            QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(list()->currentRow(), 1);
        QVERIFY(action("connectAction")->isEnabled());
        Prompt::answerText(QStringLiteral("secret"));
        QTest::keyClick(list(), Qt::Key(key));
        QVERIFY(m_window->isVpnRunning());
        QVERIFY(m_window->activeProfile());
        QCOMPARE(m_window->activeProfile()->dirName(), QStringLiteral("0001"));
        QVERIFY(m_window->engineProcess()->workingDirectory().endsWith("/0001"));
        QCOMPARE(picture()->accessibleName(), QStringLiteral("VPN connecting to Home"));

        // Enter again while connected starts nothing: Connect is off for the connected profile.
        QVERIFY(!action("connectAction")->isEnabled());
        const qint64 pid = m_window->engineProcess()->processId();
        QTest::keyClick(list(), Qt::Key(key));
        QCOMPARE(m_window->engineProcess()->processId(), pid);

        QVERIFY(action("disconnectAction")->isEnabled());
        action("disconnectAction")->trigger();
        QTRY_VERIFY(!m_window->isVpnRunning());
        QCOMPARE(picture()->accessibleName(), QStringLiteral("VPN disconnected"));
    }

    void menuKeyOpensTheContextMenuForTheHighlightedProfile_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    }

    void menuKeyOpensTheContextMenuForTheHighlightedProfile()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        addProfile("0000", "Office");
        addProfile("0001", "Home");
        m_window->loadVpnList();
        list()->setFocus();
        list()->setCurrentRow(1);

        // The menu runs its own loop; it is read and then dismissed from inside that loop.
        QStringList shown;
        QStringList enabled;
        QPoint menuAt;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            menuAt = menu->pos();
            for (QAction* a : menu->actions()) {
                if (a->isSeparator())
                    continue;
                shown << a->text();
                if (a->isEnabled())
                    enabled << a->text();
            }
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        QTest::keyClick(list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(shown, QStringList({"&Connect", "&Disconnect", "&New connection", "Import connection…",
                                     "&Edit", "&Information", "De&lete", "Forget saved password"}));
        QCOMPARE(enabled, QStringList({"&Connect", "&New connection", "Import connection…", "&Edit",
                                       "&Information", "De&lete"}));
        // Over the highlighted profile, not wherever the mouse pointer happens to be.
        const QRect row = list()->visualItemRect(list()->item(1));
        QCOMPARE(menuAt, list()->viewport()->mapToGlobal(row.center()));
        QVERIFY(!QApplication::activePopupWidget());
        QCOMPARE(m_window->selectedProfile()->dirName(), QStringLiteral("0001"));
    }

    // What a screen reader announces: the list, the log and the picture, which follows the state.
    void accessibleNamesFollowTheState()
    {
        QCOMPARE(list()->accessibleName(), QStringLiteral("Available VPN connections"));
        QCOMPARE(m_window->findChild<QPlainTextEdit*>(QStringLiteral("vpnLog"))->accessibleName(),
                 QStringLiteral("VPN connection log"));
        QCOMPARE(picture()->accessibleName(), QStringLiteral("VPN disconnected"));
        QCOMPARE(picture()->accessibleDescription(), QStringLiteral("No VPN connection is running."));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(picture());
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("VPN disconnected"));

        press(addProfile("0000", "Office"));
        m_window->setTrayIcon(TrayConnecting);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("VPN connecting to Office"));
        QCOMPARE(iface->text(QAccessible::Description),
                 QStringLiteral("The VPN connection Office is being set up."));
        m_window->setTrayIcon(TrayConnected);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("VPN connected to Office"));
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("The VPN connection Office is up."));
        m_window->setTrayIcon(TrayDisconnected);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("VPN disconnected"));
    }

    void rightPressSelectsToo()
    {
        addProfile("0000", "Office");
        VpnItem* second = addProfile("0001", "Home");
        const QRect rect = list()->visualItemRect(second);
        QTest::mousePress(list()->viewport(), Qt::RightButton, {}, rect.center());
        QCOMPARE(m_window->selectedProfile(), second);
        QVERIFY(action("editAction")->isEnabled());
    }

    void closeHidesIntoTheTray()
    {
        m_window->close();
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_window->tray()->isVisible());
    }

    void singleClickOnTheTrayToggles()
    {
        QSystemTrayIcon* tray = m_window->tray();
        m_window->close();
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(m_window->isVisible());
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!m_window->isVisible());
        for (auto reason :
             {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
            Q_EMIT tray->activated(reason);
        QVERIFY(!m_window->isVisible());
    }

    void animationFramesPerTick()
    {
        // Expected tray frame and window picture after each tick, starting from the connecting state.
        const QStringList tray = {"02", "03", "04", "01", "02", "03", "04",
                                  "01", "02", "03", "04", "01", "02"};
        const QStringList pictures = {"01", "02", "02", "03", "03", "04", "04",
                                      "05", "05", "06", "06", "01", "01"};
        m_window->setTrayIcon(TrayConnecting);
        QVERIFY(m_window->isAnimating());
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
        for (int tick = 0; tick < tray.size(); ++tick) {
            m_window->trayIconSetConnectionUpdate();
            QCOMPARE(iconImage(m_window->tray()->icon()),
                     resourceIcon(":img/vpn_set_" + tray.at(tick) + ".png"));
            // One theme name for every frame: a host drawing by name shows no flicker.
            QCOMPARE(m_window->tray()->icon().name(), QStringLiteral("qlumar-velkoro-connecting"));
            QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                     resourcePicture(":img/connect_" + pictures.at(tick) + ".png"));
        }
    }

    void everyConnectingRestartsBothCycles()
    {
        m_window->setTrayIcon(TrayConnecting);
        for (int i = 0; i < 5; ++i)
            m_window->trayIconSetConnectionUpdate();
        QVERIFY(m_window->trayAnimationFrame() != 0);
        m_window->setTrayIcon(TrayConnecting);
        QCOMPARE(m_window->trayAnimationFrame(), 0);
        QCOMPARE(m_window->pictureAnimationFrame(), 0);
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
        m_window->trayIconSetConnectionUpdate();
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_set_02.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
    }

    void timerDrivesTheAnimationOnlyWhileConnecting()
    {
        m_window->setTrayIcon(TrayConnecting);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->trayAnimationFrame() == 2, 5000);
        m_window->setTrayIcon(TrayConnected);
        QVERIFY(!m_window->isAnimating());
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_con.png"));
        QCOMPARE(m_window->tray()->icon().name(), QStringLiteral("qlumar-velkoro-connected"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_07.png"));
        m_window->setTrayIcon(TrayConnecting);
        m_window->setTrayIcon(TrayDisconnected);
        QCOMPARE(m_window->tray()->icon().name(), QStringLiteral("qlumar-velkoro-disconnected"));
        QVERIFY(!m_window->isAnimating());
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
        m_window->setTrayIcon(TrayConnecting);
        m_window->setTrayIcon(static_cast<VpnTrayIcon>(7)); // unknown: only stops the timer
        QVERIFY(!m_window->isAnimating());
        QCOMPARE(iconImage(m_window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
