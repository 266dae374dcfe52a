#include "TestSupport.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QActionGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QTextEdit>
#include <QtTest>

namespace {

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage resourceIcon(const QString& path)
{
    return iconImage(QIcon(path));
}

QImage resourcePicture(const QString& path)
{
    return QPixmap(path).toImage().convertToFormat(QImage::Format_ARGB32);
}

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

    ScratchHome* home = nullptr;
    MainWindow* window = nullptr;

    QAction* action(const char* name) { return window->findChild<QAction*>(QLatin1String(name)); }
    QListWidget* list() { return window->findChild<QListWidget*>(QStringLiteral("vpnList")); }
    QLabel* picture() { return window->findChild<QLabel*>(QStringLiteral("connectionLabel")); }

    VpnItem* addProfile(const QString& dir, const QString& name)
    {
        const QString conf = home->rootPath() + "/" + dir + "/conf";
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
        home = new ScratchHome;
        QVERIFY(home->enterRoot());
        window = new MainWindow;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void cleanup()
    {
        delete window;
        window = nullptr;
        delete home;
        home = nullptr;
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
            {"infoAction", "&Information", nullptr, false},
            {"editAction", "&Edit", nullptr, false},
            {"deleteAction", "De&lete", nullptr, false},
            {"aboutAction", "About", ":img/info.png", true},
            {"exitAction", "E&xit", ":img/exit.png", true},
        };
        for (const Expected& e : expected) {
            QAction* a = action(e.name);
            QVERIFY2(a, e.name);
            QCOMPARE(a->text(), QString::fromLatin1(e.text));
            QCOMPARE(a->isEnabled(), e.enabled);
            if (e.icon)
                QCOMPARE(iconImage(a->icon()), resourceIcon(QLatin1String(e.icon)));
            else
                QVERIFY2(a->icon().isNull(), e.name);
        }
        QCOMPARE(window->windowTitle(), QStringLiteral("qLumar Velkoro"));
        QCOMPARE(iconImage(window->windowIcon()), resourceIcon(QStringLiteral(":img/qlumar_velkoro.png")));
    }

    void menusHoldTheirItemsInOrder()
    {
        QCOMPARE(list()->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(menuTexts(list()->actions()),
                 QStringList({"&Connect", "&Disconnect", "--", "&New connection", "&Edit", "&Information",
                              "De&lete"}));

        QMenu* tray = window->tray()->contextMenu();
        QVERIFY(tray);
        QCOMPARE(menuTexts(tray->actions()),
                 QStringList({"&Connect", "&Disconnect", "--", "&Language", "About", "--", "E&xit"}));
        QMenu* connectMenu = tray->actions().at(0)->menu();
        QVERIFY(connectMenu);
        QCOMPARE(iconImage(connectMenu->icon()), resourceIcon(QStringLiteral(":img/vpn_con.png")));
        QMenu* language = tray->actions().at(3)->menu();
        QVERIFY(language);
        QCOMPARE(menuTexts(language->actions()), QStringList({"English", "Polish"}));
        QVERIFY(action("langEnAction")->isCheckable());
        QVERIFY(action("langEnAction")->isChecked());
        QVERIFY(!action("langPlAction")->isChecked());
        QVERIFY(action("langEnAction")->actionGroup()->isExclusive());
        QCOMPARE(action("langEnAction")->actionGroup(), action("langPlAction")->actionGroup());
    }

    void trayStartsDisconnected()
    {
        QVERIFY(window->tray()->isVisible());
        QCOMPARE(window->tray()->toolTip(), QStringLiteral("qLumar VPN - disconnected"));
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(QStringLiteral(":img/vpn_dis.png")));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(QStringLiteral(":img/connect_01.png")));
        QVERIFY(!window->isAnimating());
    }

    void centralAreaLayout()
    {
        auto* grid = qobject_cast<QGridLayout*>(window->centralWidget()->layout());
        QVERIFY(grid);
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(grid->indexOf(picture()), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 1}));
        QCOMPARE(picture()->alignment(), Qt::AlignCenter);
        QCOMPARE(picture()->minimumSize(), QSize(224, 64));
        auto* logo = window->findChild<QLabel*>(QStringLiteral("logoLabel"));
        grid->getItemPosition(grid->indexOf(logo), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 1, 1, 1}));
        QCOMPARE(logo->alignment(), Qt::AlignRight | Qt::AlignTop);
        auto* splitter = window->findChild<QSplitter*>();
        grid->getItemPosition(grid->indexOf(splitter), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 0, 1, 2}));
        QCOMPARE(grid->rowStretch(1), 1);
        QCOMPARE(grid->columnStretch(0), 1);
        QCOMPARE(splitter->orientation(), Qt::Vertical);
        QCOMPARE(splitter->count(), 2);
        auto* top = qobject_cast<QGroupBox*>(splitter->widget(0));
        auto* bottom = qobject_cast<QGroupBox*>(splitter->widget(1));
        QCOMPARE(top->title(), QStringLiteral("Available VPN connections"));
        QCOMPARE(bottom->title(), QStringLiteral("VPN connection log"));
        QVERIFY(top->isAncestorOf(list()));
        QCOMPARE(list()->spacing(), 3);
        auto* log = window->findChild<QTextEdit*>(QStringLiteral("vpnLog"));
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
        QCOMPARE(window->selectedProfile(), first);
        QCOMPARE(actionStates(), QList<bool>({true, false, true, true, true, true}));

        // The table's running rows: the connected profile, then another (blocked) one.
        first->setConnected(true);
        second->setBlocked(true);
        window->setProperty("simulateRunning", true);
        QMetaObject::invokeMethod(window, "vpnItemPressedSlot", Q_ARG(QListWidgetItem*, first));
        QCOMPARE(actionStates().mid(0, 2), QList<bool>({false, true}));
        QMetaObject::invokeMethod(window, "vpnItemPressedSlot", Q_ARG(QListWidgetItem*, second));
        QCOMPARE(actionStates().mid(0, 4), QList<bool>({false, false, true, true}));
    }

    void keyboardMovesDoNotSelect()
    {
        VpnItem* first = addProfile("0000", "Office");
        addProfile("0001", "Home");
        press(first);
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(window->selectedProfile(), first);
    }

    void rightPressSelectsToo()
    {
        addProfile("0000", "Office");
        VpnItem* second = addProfile("0001", "Home");
        const QRect rect = list()->visualItemRect(second);
        QTest::mousePress(list()->viewport(), Qt::RightButton, {}, rect.center());
        QCOMPARE(window->selectedProfile(), second);
        QVERIFY(action("editAction")->isEnabled());
    }

    void closeHidesIntoTheTray()
    {
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(window->tray()->isVisible());
    }

    void singleClickOnTheTrayToggles()
    {
        QSystemTrayIcon* tray = window->tray();
        window->close();
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible());
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isVisible());
        for (auto reason :
             {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
            Q_EMIT tray->activated(reason);
        QVERIFY(!window->isVisible());
    }

    void animationFramesPerTick()
    {
        // Expected tray frame and window picture after each tick, starting from the connecting state.
        const QStringList tray = {"02", "03", "04", "01", "02", "03", "04",
                                  "01", "02", "03", "04", "01", "02"};
        const QStringList pictures = {"01", "02", "02", "03", "03", "04", "04",
                                      "05", "05", "06", "06", "01", "01"};
        window->setTrayIcon(TrayConnecting);
        QVERIFY(window->isAnimating());
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
        for (int tick = 0; tick < tray.size(); ++tick) {
            window->trayIconSetConnectionUpdate();
            QCOMPARE(iconImage(window->tray()->icon()),
                     resourceIcon(":img/vpn_set_" + tray.at(tick) + ".png"));
            QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                     resourcePicture(":img/connect_" + pictures.at(tick) + ".png"));
        }
    }

    void everyConnectingRestartsBothCycles()
    {
        window->setTrayIcon(TrayConnecting);
        for (int i = 0; i < 5; ++i)
            window->trayIconSetConnectionUpdate();
        QVERIFY(window->trayAnimationFrame() != 0);
        window->setTrayIcon(TrayConnecting);
        QCOMPARE(window->trayAnimationFrame(), 0);
        QCOMPARE(window->pictureAnimationFrame(), 0);
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
        window->trayIconSetConnectionUpdate();
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_set_02.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
    }

    void timerDrivesTheAnimationOnlyWhileConnecting()
    {
        window->setTrayIcon(TrayConnecting);
        QTRY_VERIFY_WITH_TIMEOUT(window->trayAnimationFrame() == 2, 5000);
        window->setTrayIcon(TrayConnected);
        QVERIFY(!window->isAnimating());
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_con.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_07.png"));
        window->setTrayIcon(TrayConnecting);
        window->setTrayIcon(TrayDisconnected);
        QVERIFY(!window->isAnimating());
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_dis.png"));
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 resourcePicture(":img/connect_01.png"));
        window->setTrayIcon(TrayConnecting);
        window->setTrayIcon(static_cast<VpnTrayIcon>(7)); // unknown: only stops the timer
        QVERIFY(!window->isAnimating());
        QCOMPARE(iconImage(window->tray()->icon()), resourceIcon(":img/vpn_set_01.png"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
