// The least any program showing the manager's window can cost: the same widgets in the same
// layout, a tray icon with the same menu and a list of 100 entries, and nothing behind them (no
// profiles read, no network, no keyring). bench/startup.sh prints it beside the bare program, so
// what start-up costs over the bare program splits into the window itself and the rest of ours.

#include "FirstPaint.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);

    QPixmap picture(32, 32);
    picture.fill(Qt::darkGreen);
    const QIcon icon(picture);

    QMenu trayMenu;
    QMenu* connectMenu = trayMenu.addMenu(QStringLiteral("&Connect"));
    connectMenu->addAction(icon, QStringLiteral("Connection 0"));
    trayMenu.addAction(icon, QStringLiteral("&Disconnect"));
    trayMenu.addSeparator();
    QMenu* languageMenu = trayMenu.addMenu(QStringLiteral("&Language"));
    languageMenu->addAction(QStringLiteral("English"))->setCheckable(true);
    languageMenu->addAction(QStringLiteral("Polski"))->setCheckable(true);
    trayMenu.addAction(icon, QStringLiteral("&Show"));
    trayMenu.addAction(icon, QStringLiteral("E&xit"));
    QSystemTrayIcon tray(icon);
    tray.setContextMenu(&trayMenu);
    tray.setToolTip(QStringLiteral("Disconnected"));
    tray.show();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("window"));
    window.setWindowIcon(icon);
    auto* central = new QWidget(&window);
    auto* grid = new QGridLayout(central);
    auto* connection = new QLabel(central);
    connection->setPixmap(QPixmap(192, 48));
    connection->setMinimumSize(224, 64);
    grid->addWidget(connection, 0, 0);
    auto* logo = new QLabel(central);
    logo->setPixmap(QPixmap(96, 48));
    grid->addWidget(logo, 0, 1);
    auto* status = new QLabel(QStringLiteral("Disconnected"), central);
    status->setWordWrap(true);
    grid->addWidget(status, 1, 0);
    auto* splitter = new QSplitter(Qt::Vertical, central);
    grid->addWidget(splitter, 2, 0, 1, 2);

    auto* profileBox = new QGroupBox(QStringLiteral("Available VPN connections"), splitter);
    auto* profileGrid = new QGridLayout(profileBox);
    auto* list = new QListWidget(profileBox);
    list->setSpacing(3);
    list->setUniformItemSizes(true);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    list->addActions(trayMenu.actions());
    for (int i = 0; i < 100; ++i)
        new QListWidgetItem(icon, QStringLiteral("Connection %1").arg(i), list);
    profileGrid->addWidget(list, 0, 0);

    auto* logBox = new QGroupBox(QStringLiteral("VPN connection log"), splitter);
    auto* logGrid = new QGridLayout(logBox);
    auto* log = new QPlainTextEdit(logBox);
    log->setReadOnly(true);
    log->setUndoRedoEnabled(false);
    logGrid->addWidget(log, 0, 0);
    splitter->addWidget(profileBox);
    splitter->addWidget(logBox);
    window.setCentralWidget(central);

    auto* update = new QToolButton(&window);
    update->hide();
    window.statusBar()->addPermanentWidget(update, 0);
    window.show();
    return app.exec();
}
