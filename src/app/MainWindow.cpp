#include "MainWindow.h"

#include "about/AboutBox.h"
#include "about/UpdateAction.h"
#include "app/ConnectAction.h"
#include "app/DesktopNotifier.h"
#include "app/Language.h"
#include "app/Pictures.h"
#include "app/Prompt.h"
#include "connection/CappedLog.h"
#include "connection/EngineLaunch.h"
#include "connection/NetworkWatcher.h"
#include "connection/VpnConnection.h"
#include "dialogs/FileChooser.h"
#include "dialogs/ImportWindow.h"
#include "dialogs/VpnEditWindow.h"
#include "dialogs/VpnInfoWindow.h"
#include "dialogs/VpnNewWindow.h"
#include "dialogs/VpnPKCS12EditWindow.h"
#include "dialogs/VpnPKCS12NewWindow.h"
#include "profiles/ProfileStore.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStringBuilder>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace {

// The state's pictures under the state's theme name, so a StatusNotifierItem host can show either.
QIcon trayStateIcon(VpnTrayIcon state)
{
    return Pictures::themedIcon(TrayAnimation::trayIconName(state), TrayAnimation::trayImage(state));
}

} // namespace

MainWindow::MainWindow(QWidget* parent, bool trayHost) : QMainWindow(parent)
{
    setWindowTitle(tr("qLumar Velkoro"));
    createActions();
    createTray();
    addDesktopActions();
    setWindowIcon(Pictures::icon(QStringLiteral(":img/qlumar_velkoro.png")));

    setTrayHostAvailable(trayHost);

    animationTimer.setInterval(TrayAnimation::tickMilliseconds);
    connect(&animationTimer, &QTimer::timeout, this, &MainWindow::trayIconSetConnectionUpdate);

    vpnRunning = false;
    vpnInitialized = false;
    vpnConnection = new VpnConnection(this);
    connect(vpnConnection, &VpnConnection::logText, this, &MainWindow::queueLogText);
    // Whatever the engine said before these is in the log when they are shown.
    for (auto signal : {&VpnConnection::tunnelUp, &VpnConnection::passwordRejected})
        connect(vpnConnection, signal, this, &MainWindow::flushLog, Qt::DirectConnection);
    m_logFlush.setSingleShot(true);
    m_logFlush.setInterval(kLogFlushMs);
    connect(&m_logFlush, &QTimer::timeout, this, &MainWindow::flushLog);
    connect(vpnConnection, &VpnConnection::tunnelUp, this, &MainWindow::showTunnelUp);
    connect(vpnConnection, &VpnConnection::passwordRejected, this, &MainWindow::showPasswordRejected);
    connect(vpnConnection, &VpnConnection::finished, this, &MainWindow::vpnFinishSlot);
    // Whatever ends the event loop (Exit, a signal, the session ending), no engine outlives us.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::killEngine);

    selectedItem = nullptr;
    activeItem = nullptr;
    resize(300, 300);
    setAcceptDrops(true); // an OpenVPN file dropped anywhere on the window is imported
    // A file named on this start's command line or handed over by a second start.
    connect(this, &MainWindow::importRequested, this, &MainWindow::importFile);

    setUpSavedSecrets();
    setUpSleepAndNetwork();
    buildCentralArea();
    connectStatusLine();
    vpnConnection->setLogLimits(connectionLog->maxLines(), connectionLog->maxCharacters());
    connect(vpnConnection, &VpnConnection::logDropped, this, [this] {
        m_pendingLog.clear();
        m_pendingLogCharacters = 0;
        connectionLog->dropAll();
    });
    loadVpnList();

    updateButton = new QToolButton(this);
    updateButton->setObjectName(QStringLiteral("updateButton"));
    updateButton->setAutoRaise(true);
    updateButton->setDefaultAction(updateAction);
    updateButton->setToolTip(tr("New version is avaliable. Click this\nicon to get more informations."));
    updateButton->hide();

    // The network (the one update check of this start, the watch for network changes) and the
    // system bus (the watch for suspend) wait until the window has been drawn, so they are never part of the
    // start-up. A window started in the tray has nothing to draw: it starts at the first turn of the event
    // loop. One shown but never drawn still starts.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            QTimer::singleShot(kNetworkFallbackMs, this, &MainWindow::startNetwork);
        else
            startNetwork();
    });
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::Paint && !m_networkStarted)
        QTimer::singleShot(0, this, &MainWindow::startNetwork);
    return QMainWindow::event(event);
}

void MainWindow::startNetwork()
{
    if (m_networkStarted)
        return;
    m_networkStarted = true;
    watchSleep();
    m_networkWatcher->start();
    updateAction->downloadUpdateInfo();
}

MainWindow::~MainWindow() = default;

void MainWindow::createActions()
{
    auto makeAction = [this](const char* name, const QString& text, const QString& icon, bool enabled) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        if (!icon.isEmpty())
            action->setIcon(Pictures::icon(icon));
        action->setEnabled(enabled);
        return action;
    };
    connectAction = makeAction("connectAction", tr("&Connect"), QStringLiteral(":img/vpn_con.png"), false);
    connect(connectAction, &QAction::triggered, this, &MainWindow::vpnConnectSlot);
    disconnectAction =
        makeAction("disconnectAction", tr("&Disconnect"), QStringLiteral(":img/cancel.png"), false);
    connect(disconnectAction, &QAction::triggered, this, &MainWindow::vpnDisConnectSlot);
    newAction = makeAction("newAction", tr("&New connection"), QString(), true);
    connect(newAction, &QAction::triggered, this, &MainWindow::vpnNewSlot);
    importAction = makeAction("importAction", tr("Import connection…"), QString(), true);
    connect(importAction, &QAction::triggered, this, &MainWindow::importSlot);
    infoAction = makeAction("infoAction", tr("&Information"), QString(), false);
    connect(infoAction, &QAction::triggered, this, &MainWindow::vpnInfoSlot);
    editAction = makeAction("editAction", tr("&Edit"), QString(), false);
    connect(editAction, &QAction::triggered, this, &MainWindow::vpnEditSlot);
    deleteAction = makeAction("deleteAction", tr("De&lete"), QString(), false);
    connect(deleteAction, &QAction::triggered, this, &MainWindow::vpnDeleteSlot);
    aboutAction = makeAction("aboutAction", tr("&About"), QStringLiteral(":img/info.png"), true);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::aboutSlot);
    exitAction = makeAction("exitAction", tr("E&xit"), QStringLiteral(":img/exit.png"), true);
    connect(exitAction, &QAction::triggered, this, &MainWindow::exit);

    updateAction = new UpdateAction(QStringLiteral("dudidudovi"), QStringLiteral("1.5"), tr("en"), this,
                                    UpdateAction::versionFileUrlFromEnvironment());
    updateAction->setObjectName(QStringLiteral("updateAction"));
    connect(updateAction, &UpdateAction::updateAvaliable, this, &MainWindow::setUpdateIconSlot);
    connect(updateAction, &QAction::triggered, this, &MainWindow::updateSlot);

    langGroup = new QActionGroup(this);
    langGroup->setExclusive(true);
    // Each language in its own name, so that it can be found whatever the current one is.
    langEnAction = makeAction("langEnAction", QStringLiteral("English"), QString(), true);
    langEnAction->setCheckable(true);
    connect(langEnAction, &QAction::triggered, this, &MainWindow::langEnSlot);
    langPlAction = makeAction("langPlAction", QStringLiteral("Polski"), QString(), true);
    langPlAction->setCheckable(true);
    connect(langPlAction, &QAction::triggered, this, &MainWindow::langPlSlot);
    langGroup->addAction(langEnAction);
    langGroup->addAction(langPlAction);
}

void MainWindow::createTray()
{
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("trayMenu"));
    // A StatusNotifierItem host may show the submenu from a layout it read when the tray menu opened.
    connect(trayMenu, &QMenu::aboutToShow, this, &MainWindow::fillTrayConnectMenu);
    trayConnectMenu = newTrayConnectMenu();
    trayMenu->addMenu(trayConnectMenu);
    trayMenu->addAction(disconnectAction);
    trayMenu->addSeparator();
    trayMenu->addAction(importAction);
    QMenu* languageMenu = trayMenu->addMenu(tr("&Language"));
    languageMenu->setObjectName(QStringLiteral("languageMenu"));
    languageMenu->addAction(langEnAction);
    languageMenu->addAction(langPlAction);
    if (Language::isPolish())
        langPlAction->setChecked(true);
    else
        langEnAction->setChecked(true);
    trayMenu->addAction(aboutAction);
    trayMenu->addSeparator();
    trayMenu->addAction(exitAction);

    // The icon itself is made once a tray host is there (see setTrayHostAvailable).
    setTrayPicture(trayStateIcon(TrayDisconnected));
    setTrayToolTip(tr("qLumar VPN - disconnected"));
}

AboutBox* MainWindow::aboutDialog()
{
    // The licence and the large picture cost more than the whole first window: they are read and
    // decoded only when somebody asks for the box.
    if (!aboutBox) {
        aboutBox = new AboutBox(this);
        fillAboutBox();
    }
    return aboutBox;
}

QMenu* MainWindow::newTrayConnectMenu()
{
    auto* menu = new QMenu(tr("&Connect"), trayMenu);
    menu->setObjectName(QStringLiteral("trayConnectMenu"));
    menu->setIcon(Pictures::icon(QStringLiteral(":img/vpn_con.png")));
    connect(menu, &QMenu::aboutToShow, this, &MainWindow::fillTrayConnectMenu);
    return menu;
}

// A menu searches its whole list of entries for every entry added or removed, so thousands of
// profiles cost seconds: the entries are made when the submenu first opens after a reload, and a
// reload throws the filled submenu away whole instead of emptying it entry by entry.
void MainWindow::fillTrayConnectMenu()
{
    if (!m_trayEntriesStale)
        return;
    m_trayEntriesStale = false;
    QList<QAction*> entries;
    entries.reserve(vpnList->count());
    for (int i = 0; i < vpnList->count(); ++i) {
        auto* item = dynamic_cast<VpnItem*>(vpnList->item(i));
        if (!item)
            continue;
        auto* entry = new ConnectAction(item, this);
        connect(entry, &ConnectAction::vpnItemActiveSig, this, &MainWindow::vpnItemPressedSlot);
        connect(entry, &ConnectAction::vpnConnectSig, this, &MainWindow::vpnConnectSlot);
        entries << entry;
    }
    trayConnectMenu->addActions(entries);
}

void MainWindow::dropTrayConnectEntries()
{
    m_trayEntriesStale = true;
    const QList<QAction*> entries = trayConnectMenu->actions();
    if (entries.isEmpty())
        return;
    QMenu* old = trayConnectMenu;
    trayConnectMenu = newTrayConnectMenu();
    trayConnectMenu->setEnabled(old->isEnabled());
    trayMenu->insertMenu(old->menuAction(), trayConnectMenu);
    trayMenu->removeAction(old->menuAction());
    old->hide();
    old->setObjectName(QString());
    // The menu goes first, so that its entries have no list left to be searched in.
    old->deleteLater();
    for (QAction* entry : entries)
        entry->deleteLater();
}

void MainWindow::fillAboutBox()
{
    // The About dialog opens over this window, on its screen.
    const QPixmap picture =
        Pictures::pixmap(QStringLiteral(":img/qlumar_about_velkoro_384.png"), devicePixelRatioF());
    const QString heading = tr("<h2>qLumar Velkoro v1.5</h2>");

    aboutBox->setAboutPixmap(picture);
    aboutBox->setAboutText(
        heading + tr("<br><br><br>") +
        tr("<a href=\"http://www.qlumar-velkoro.example/\">www.qlumar-velkoro.example</a>"));

    aboutBox->setHelpPixmap(picture);
    aboutBox->setHelpText(heading + tr("<br>Online instructions to this application are avaliable on the "
                                       "following website: <a "
                                       "href=\"http://www.qlumar-velkoro.example/manuals/\">"
                                       "www.qlumar-velkoro.example</a>"));

    aboutBox->setLicenseHtml(AboutBox::readLicenseHtml());

    aboutBox->setThanksPixmap(picture);
    aboutBox->setThanksText(
        tr("<h4>Thanks to</h4>Everyone who tested the early builds, the translators, the Qt Project "
           "community, the Debian maintainers<h4>Special thanks</h4>Special thanks to all people who "
           "participate in "
           "development process of <a href=\"https://www.openssl.org/\">OpenSSL</a> library and <a "
           "href=\"https://openvpn.net/\">OpenVPN</a> software. Both of this projects are crucial for this "
           "application."));

    aboutBox->setUpdatePixmap(picture);
    aboutBox->setUpdateText(m_updateText.isEmpty() ? tr("No new version avaliable.") : m_updateText);
}

void MainWindow::buildCentralArea()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);

    labelFrame = 0;
    connectionLabel = new QLabel(central);
    connectionLabel->setObjectName(QStringLiteral("connectionLabel"));
    Pictures::setLabelPicture(connectionLabel, TrayAnimation::pictureImage(TrayDisconnected));
    connectionLabel->setAlignment(Qt::AlignCenter);
    connectionLabel->setMinimumHeight(64);
    connectionLabel->setMinimumWidth(224);
    grid->addWidget(connectionLabel, 0, 0);
    describeConnectionPicture(TrayDisconnected, nullptr);

    auto* logo = new QLabel(central);
    logo->setObjectName(QStringLiteral("logoLabel"));
    Pictures::setLabelPicture(logo, QStringLiteral(":img/qlumar_logo.png"));
    logo->setAlignment(Qt::AlignRight | Qt::AlignTop);
    logo->setAccessibleName(tr("qLumar Velkoro"));
    grid->addWidget(logo, 0, 1);

    m_statusLine = new QLabel(central);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setAlignment(Qt::AlignCenter);
    m_statusLine->setWordWrap(true);
    m_statusLine->setTextFormat(Qt::PlainText);
    grid->addWidget(m_statusLine, 1, 0);

    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("splitter"));
    grid->addWidget(splitter, 2, 0, 1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 1);

    auto* profileBox = new QGroupBox(tr("Available VPN connections"), splitter);
    profileBox->setObjectName(QStringLiteral("profileBox"));
    auto* profileGrid = new QGridLayout(profileBox);
    vpnList = new QListWidget(profileBox);
    vpnList->setObjectName(QStringLiteral("vpnList"));
    vpnList->setSpacing(3);
    // Every entry is an icon and one line of text: measuring the first stands for all of them, so
    // thousands of profiles are not each laid out before the window can show.
    vpnList->setUniformItemSizes(true);
    profileGrid->addWidget(vpnList, 0, 0);
    vpnList->setAccessibleName(tr("Available VPN connections"));
    connect(vpnList, &QListWidget::itemPressed, this, &MainWindow::vpnItemPressedSlot);
    connect(vpnList, &QListWidget::itemDoubleClicked, this, &MainWindow::vpnItemDoubleClickedSlot);
    // The arrow keys move the current item without a press: the actions must still act on the
    // profile the user sees highlighted, never on one clicked earlier.
    connect(vpnList, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current) { vpnItemPressedSlot(current); });
    // Enter and Delete act only while the list has the focus, and only through enabled actions.
    connectAction->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    connectAction->setShortcutContext(Qt::WidgetShortcut);
    deleteAction->setShortcut(QKeySequence::Delete);
    deleteAction->setShortcutContext(Qt::WidgetShortcut);
    vpnList->installEventFilter(this);

    vpnList->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    vpnList->addActions({connectAction, disconnectAction, separator, newAction, importAction, editAction,
                         infoAction, deleteAction, m_forgetSecretAction});

    auto* logBox = new QGroupBox(tr("VPN connection log"), splitter);
    logBox->setObjectName(QStringLiteral("logBox"));
    auto* logGrid = new QGridLayout(logBox);
    vpnLog = new QPlainTextEdit(logBox);
    vpnLog->setObjectName(QStringLiteral("vpnLog"));
    vpnLog->setAccessibleName(tr("VPN connection log"));
    vpnLog->setReadOnly(true);
    // Nobody can undo a read-only log; the undo stack would only hold a second copy of it.
    vpnLog->setUndoRedoEnabled(false);
    connectionLog = std::make_unique<CappedLog>(vpnLog->document());
    setUpLogMenu();
    logGrid->addWidget(vpnLog, 0, 0);

    splitter->addWidget(profileBox);
    splitter->addWidget(logBox);
    setCentralWidget(central);
}

void MainWindow::loadVpnList()
{
    const QString root = QDir::currentPath();
    const QStringList dirNames = ProfileStore::profileDirNames(root);

    for (QAction* action : {connectAction, disconnectAction, infoAction, editAction, deleteAction})
        action->setEnabled(false);

    // The reload replaces every record, but a connection may be running (New stays available)
    // and the end of a connection still uses both pointers: find the same profiles again.
    const QString selectedDir = selectedItem ? selectedItem->dirName() : QString();
    const QString activeDir = activeItem ? activeItem->dirName() : QString();
    const bool connectionRuns = vpnRunning;
    selectedItem = nullptr;
    activeItem = nullptr;

    dropTrayConnectEntries();
    vpnList->clear();

    // Row by row, the model tells the view and its selection about every single row, most of the
    // fill at thousands of profiles. It fills silently instead, and the view then starts over as
    // it does after any model reset, which tells assistive technology too.
    {
        const QSignalBlocker quietModel(vpnList->model());
        for (const QString& dirName : dirNames) {
            auto* item = new VpnItem(root % QLatin1Char('/') % dirName % QLatin1String("/conf"), dirName);
            vpnList->addItem(item);

            if (connectionRuns) {
                const bool active = dirName == activeDir;
                item->setConnected(active);
                item->setBlocked(!active);
                if (active) {
                    activeItem = item;
                    if (vpnInitialized)
                        item->setIcon(VpnItem::connectedIcon());
                }
            }
            if (dirName == selectedDir)
                selectedItem = item;
        }
    }
    vpnList->reset();
    // The end of a connection offers the actions for selectedItem again: the highlight must be on
    // it then, or Delete would act on a profile nobody sees highlighted. The reload itself leaves
    // the actions off.
    if (selectedItem) {
        const QSignalBlocker quiet(vpnList);
        vpnList->setCurrentItem(selectedItem);
    }
}

void MainWindow::vpnItemPressedSlot(QListWidgetItem* item)
{
    selectedItem = dynamic_cast<VpnItem*>(item);
    updateForgetAction(selectedItem);
    if (!selectedItem) {
        for (QAction* action : {connectAction, disconnectAction, infoAction, editAction, deleteAction})
            action->setEnabled(false);
        return;
    }
    infoAction->setEnabled(true);
    editAction->setEnabled(!vpnRunning);
    deleteAction->setEnabled(!vpnRunning);
    if (selectedItem->isBlocked()) {
        connectAction->setEnabled(false);
        disconnectAction->setEnabled(false);
    } else if (selectedItem->isConnected()) {
        connectAction->setEnabled(false);
        disconnectAction->setEnabled(true);
    } else {
        connectAction->setEnabled(true);
        disconnectAction->setEnabled(false);
    }
    // A running connection whose profile was deleted behind our back has no entry to press, so
    // Disconnect stays offered from any entry.
    if (vpnRunning && !activeItem)
        disconnectAction->setEnabled(true);
}

void MainWindow::vpnItemDoubleClickedSlot(QListWidgetItem* item)
{
    Q_UNUSED(item); // the press before every double-click already selected it
    if (!vpnRunning)
        vpnConnectSlot();
}

VpnItem* MainWindow::profileByDirName(const QString& dirName) const
{
    for (int i = 0; i < vpnList->count(); ++i) {
        auto* item = dynamic_cast<VpnItem*>(vpnList->item(i));
        if (item && item->dirName() == dirName)
            return item;
    }
    return nullptr;
}

void MainWindow::vpnConnectSlot()
{
    // Its callers only offer Connect when idle with a profile selected; a stale offer asks nothing.
    if (vpnRunning || !selectedItem || profileDialogOpen)
        return;
    connectProfile(selectedItem->dirName(), false);
}

void MainWindow::startConnection(const QString& dirName, const QString& secret)
{
    // The prompt ran a nested event loop in which the tray may have selected, or connected,
    // another profile: the secret belongs to the profile it was asked for.
    VpnItem* target = profileByDirName(dirName);
    if (vpnRunning || !target || profileDialogOpen || vpnConnection->state() != VpnConnection::State::Idle)
        return;

    vpnInitialized = false;
    setTrayIconFor(TrayConnecting, target);
    if (vpnConnection->start(
            EngineLaunch::workingDirectory(QDir::currentPath(), target->dirName()),
            EngineLaunch::programPath(QCoreApplication::applicationDirPath()),
            EngineLaunch::arguments(target->isPKCS12() || target->isUserPasswordOnly(), secret))) {
        vpnRunning = true;
        trayConnectMenu->setEnabled(false);
        disconnectAction->setEnabled(vpnRunning);
        infoAction->setEnabled(vpnRunning);
        target->setConnected(true);
        activeItem = target;
        m_connectionDir = dirName;
        vpnItemPressedSlot(activeItem);
        for (int i = 0; i < vpnList->count(); ++i) {
            auto* item = dynamic_cast<VpnItem*>(vpnList->item(i));
            if (item && item != activeItem)
                item->setBlocked(true);
        }
        return;
    }

    setTrayIcon(TrayDisconnected);
    Prompt::message(this, QMessageBox::Critical, tr("Error"), tr("Cannot initialize VPN connection!"),
                    QMessageBox::Ok);
}

void MainWindow::vpnDisConnectSlot()
{
    // The reset follows from the engine's exit.
    vpnConnection->stop();
}

void MainWindow::vpnFinishSlot(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode);
    Q_UNUSED(exitStatus);
    flushLog();
    setTrayIcon(TrayDisconnected);
    // Asked again, the prompt is the message: no balloon tells of the attempt before it.
    showConnectionEnd(!askingAgain());
    vpnRunning = false;
    vpnInitialized = false;
    trayConnectMenu->setEnabled(true);
    disconnectAction->setEnabled(vpnRunning);
    infoAction->setEnabled(vpnRunning);
    // Every entry, not only activeItem: after a list reload the active profile may be gone.
    for (int i = 0; i < vpnList->count(); ++i) {
        if (auto* item = dynamic_cast<VpnItem*>(vpnList->item(i))) {
            if (item == activeItem || item->isConnected()) {
                item->setConnected(false);
                item->setIcon(VpnItem::idleIcon());
            }
            item->setBlocked(false);
        }
    }
    vpnItemPressedSlot(selectedItem);
    activeItem = nullptr;
    askAgainWhenIdle();
}

void MainWindow::vpnOutputSlot()
{
    vpnConnection->readOutput();
}

void MainWindow::showTunnelUp()
{
    vpnInitialized = true;
    setTrayIcon(TrayConnected);
    if (activeItem)
        activeItem->setIcon(VpnItem::connectedIcon());
    setTrayToolTip(tr("qLumar VPN - %1").arg(activeItem ? activeItem->displayName() : QString()));
    showBalloon(tr("Connected"), tr("VPN connection was initialized properly."), QSystemTrayIcon::Information,
                10000);
}

void MainWindow::appendLogParagraph(const QString& text)
{
    m_pendingLog << text;
    flushLog();
}

// Each read of the engine's output used to be laid out and drawn on its own: at a few dozen lines
// a second that was most of the manager's processor time. Reads now wait a moment and go into
// the log together; a large amount goes at once, so a flood never waits in two places.
void MainWindow::queueLogText(const QString& text)
{
    m_pendingLog << text;
    m_pendingLogCharacters += text.size();
    // Once the tunnel is up the output is read in batches already: it is shown as it comes.
    if (m_pendingLogCharacters >= kLogBatchCharacters || vpnConnection->isTunnelUp())
        flushLog();
    else if (!m_logFlush.isActive())
        m_logFlush.start();
}

void MainWindow::flushLog()
{
    m_logFlush.stop();
    if (m_pendingLog.isEmpty())
        return;
    const QStringList batch = std::exchange(m_pendingLog, QStringList());
    m_pendingLogCharacters = 0;
    // Inserted as plain text: engine output that looks like HTML must show as it is.
    QScrollBar* bar = vpnLog->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    connectionLog->appendParagraphs(batch);
    if (atBottom) {
        // Scrolling a shown view works out how far it moved by laying out every line in between,
        // also the ones the jump skips; a view that does not update only moves its top line, and
        // then lays out and draws just the lines it shows.
        QWidget* viewport = vpnLog->viewport();
        const bool updates = viewport->updatesEnabled();
        viewport->setUpdatesEnabled(false);
        bar->setValue(bar->maximum());
        viewport->setUpdatesEnabled(updates);
    }
}

void MainWindow::connectStatusLine()
{
    showStatus();
    connect(vpnConnection, &VpnConnection::stateChanged, this,
            [this](VpnConnection::State state) { followConnectionState(static_cast<int>(state)); });
    // After showTunnelUp(), which sets the design's tooltip that the detail is added to.
    connect(vpnConnection, &VpnConnection::tunnelUp, this, [this] {
        m_status.phase = ConnectionStatus::Snapshot::Phase::Connected;
        m_status.since = QDateTime::currentDateTime();
        showStatus();
    });
    connect(vpnConnection, &VpnConnection::tunnelAddressChanged, this, [this](const QString& address) {
        m_status.address = address;
        showStatus();
    });
    connect(vpnConnection, &VpnConnection::bytesChanged, this, [this](quint64 bytesIn, quint64 bytesOut) {
        m_status.hasBytes = true;
        m_status.bytesIn = bytesIn;
        m_status.bytesOut = bytesOut;
        showStatus();
    });
    connect(vpnConnection, &VpnConnection::inputRequested, this, &MainWindow::answerEngineRequest);
    connect(vpnConnection, &VpnConnection::openUrlRequested, this, &MainWindow::openEngineUrl);
    connect(vpnConnection, &VpnConnection::tunnelUp, this, &MainWindow::closeWebSignIn);
    connect(vpnConnection, &VpnConnection::finished, this, &MainWindow::closeWebSignIn);
}

void MainWindow::followConnectionState(int state)
{
    if (static_cast<VpnConnection::State>(state) != VpnConnection::State::Connecting)
        return;
    // Emitted from within the start, before activeItem is set: the engine runs in its profile's
    // directory.
    const VpnItem* profile = profileByDirName(QFileInfo(engineProcess()->workingDirectory()).fileName());
    m_status = ConnectionStatus::Snapshot();
    m_status.phase = ConnectionStatus::Snapshot::Phase::Connecting;
    m_status.name = profile ? profile->displayName() : QString();
    m_status.address = vpnConnection->tunnelAddress();
    showStatus();
}

QString MainWindow::statusText() const
{
    return m_statusLine->text();
}

void MainWindow::showStatus()
{
    const QString line = ConnectionStatus::statusLine(m_status);
    m_statusLine->setText(line);
    // The tooltip keeps its first line, and adds what the status line tells.
    switch (m_status.phase) {
    case ConnectionStatus::Snapshot::Phase::Idle:
        break;
    case ConnectionStatus::Snapshot::Phase::Connecting:
        setTrayToolTip(tr("qLumar VPN - %1").arg(line));
        break;
    case ConnectionStatus::Snapshot::Phase::Connected:
        setTrayToolTip(tr("qLumar VPN - %1").arg(m_status.name) + QLatin1Char('\n') + line);
        break;
    case ConnectionStatus::Snapshot::Phase::Failed:
        setTrayToolTip(tr("qLumar VPN - no connection") + QLatin1Char('\n') + line);
        break;
    }
}

// A connection that never came up failed, and says why; one that was up, or that the user
// stopped, was closed.
void MainWindow::showConnectionEnd(bool withBalloon)
{
    const QString failure = vpnConnection->failureText();
    if (!vpnInitialized && !failure.isEmpty()) {
        m_status.phase = ConnectionStatus::Snapshot::Phase::Failed;
        m_status.failure = failure;
        showStatus();
        if (withBalloon)
            showBalloon(tr("Connection failed"), failure, QSystemTrayIcon::Warning, 10000);
        return;
    }
    m_status = ConnectionStatus::Snapshot();
    showStatus();
    setTrayToolTip(tr("qLumar VPN - no connection"));
    if (withBalloon)
        showBalloon(tr("Disconnected"), tr("VPN connection was closed."), QSystemTrayIcon::Information,
                    10000);
}

// What the server asks for beyond the key's password (a username and password, a one-time code) is
// asked here.
void MainWindow::answerEngineRequest(const QString& id, const QString& kind, const QString& prompt,
                                     const QString& flag)
{
    if (!isVisible())
        show();
    if (kind == QLatin1String("login")) {
        answerLogin(id, flag == QLatin1String("rejected"));
        return;
    }
    QString label = prompt;
    if (label.isEmpty())
        label = kind == QLatin1String("username")   ? tr("Username:")
                : kind == QLatin1String("otp")      ? tr("One-time code:")
                : kind == QLatin1String("password") ? tr("Password:")
                                                    : tr("Answer:");
    const bool hidden = kind == QLatin1String("password") || flag == QLatin1String("hidden");
    bool ok = false;
    const QString answer = Prompt::getText(this, tr("Sign in to %1").arg(m_status.name), label,
                                           hidden ? QLineEdit::Password : QLineEdit::Normal, QString(), &ok);
    // The connection may have ended while the prompt was open; the controller ignores stale answers.
    if (ok)
        vpnConnection->answerInput(id, answer);
    else
        vpnConnection->cancelInput(id);
}

void MainWindow::openEngineUrl(const QUrl& url)
{
    appendLogParagraph(tr("Opening %1 in the web browser to sign in").arg(url.toString()));
    if (!Prompt::openUrl(url))
        return;
    // Not modal: the user works in the browser meanwhile, and the connection goes on by itself once
    // the server has the sign-in.
    if (!m_webSignIn) {
        m_webSignIn = new QDialog(this);
        m_webSignIn->setObjectName(QStringLiteral("webSignInWindow"));
        m_webSignIn->setAttribute(Qt::WA_DeleteOnClose);
        m_webSignIn->setWindowTitle(tr("Sign in to %1").arg(m_status.name));
        auto* layout = new QVBoxLayout(m_webSignIn);
        auto* label = new QLabel(tr("Waiting for sign-in in your browser…"), m_webSignIn);
        label->setObjectName(QStringLiteral("webSignInLabel"));
        // A window of one short line and a button looks like a stray tooltip: give it a dialog's
        // breadth and let the text breathe above the button.
        m_webSignIn->setMinimumWidth(label->fontMetrics().averageCharWidth() * 60);
        layout->setSpacing(layout->spacing() * 3);
        layout->addWidget(label);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, m_webSignIn);
        layout->addWidget(buttons);
        // Closing the window is a Cancel too.
        connect(m_webSignIn, &QDialog::rejected, this, [this] {
            if (vpnRunning)
                vpnDisConnectSlot();
        });
        connect(buttons, &QDialogButtonBox::rejected, m_webSignIn, &QDialog::reject);
    }
    if (!isVisible())
        show();
    m_webSignIn->show();
    m_webSignIn->raise();
}

void MainWindow::closeWebSignIn()
{
    if (!m_webSignIn)
        return;
    // Closed by the connection, not by the user: no Cancel.
    m_webSignIn->disconnect(this);
    m_webSignIn->close();
}

void MainWindow::showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                             int milliseconds)
{
    lastBalloonShown = {title, text, icon, milliseconds};
    ++balloonsShown;
    if (m_notifier) {
        // Not an XEmbed tray. The toolkit's balloon on a StatusNotifierItem tray goes to the same
        // notification server; without one, all it would do is hold the icon in NeedsAttention.
        if (m_notifier->isAvailable())
            m_notifier->notify(title, text, milliseconds);
        return;
    }
    if (trayIcon)
        trayIcon->showMessage(title, text, icon, milliseconds);
}

void MainWindow::vpnNewSlot()
{
    const QStringList methods = {tr("Certificates and key"), tr("PKCS#12 certificate")};
    bool ok = false;
    const QString method = Prompt::getItem(this, tr("VPN connection creation method"), tr("Creation method"),
                                           methods, 0, false, &ok);
    if (!ok || method.isEmpty())
        return;
    std::unique_ptr<QDialog> dialog;
    if (method == methods.first())
        dialog = std::make_unique<VpnNewWindow>(this);
    else
        dialog = std::make_unique<VpnPKCS12NewWindow>(this);
    if (dialog->exec() == QDialog::Accepted)
        loadVpnList();
}

void MainWindow::importSlot()
{
    if (!isVisible())
        show();
    const QString path =
        FileChooser::openFileName(this, tr("Import connection"), QString(), ImportWindow::fileFilter());
    if (!path.isEmpty())
        importFile(path);
}

void MainWindow::importFile(const QString& path)
{
    if (!isVisible())
        show();
    QString dirName;
    if (!ImportWindow::importFile(this, path, &dirName))
        return;
    loadVpnList();
    if (VpnItem* imported = profileByDirName(dirName)) {
        vpnList->setCurrentItem(imported);
        vpnList->scrollToItem(imported);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!ImportWindow::importablePath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (!ImportWindow::importablePath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = ImportWindow::importablePath(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // The file manager waits for the drop to end: the dialog opens after it, not inside it.
    QTimer::singleShot(0, this, [this, path] { importFile(path); });
}

void MainWindow::vpnInfoSlot()
{
    if (!selectedItem)
        return;
    VpnInfoWindow dialog(selectedItem, this);
    if (!isVisible())
        show();
    dialog.exec();
}

void MainWindow::vpnEditSlot()
{
    if (!selectedItem || vpnRunning)
        return;
    std::unique_ptr<QDialog> dialog;
    if (selectedItem->isPKCS12() || selectedItem->isUserPasswordOnly())
        dialog = std::make_unique<VpnPKCS12EditWindow>(selectedItem, this);
    else
        dialog = std::make_unique<VpnEditWindow>(selectedItem, this);
    // The dialog saves by itself, so no connection may start from the tray while it is open:
    // it would run on the files being rewritten.
    profileDialogOpen = true;
    trayConnectMenu->setEnabled(false);
    const int result = dialog->exec();
    profileDialogOpen = false;
    trayConnectMenu->setEnabled(!vpnRunning);
    if (result == QDialog::Accepted)
        loadVpnList();
}

void MainWindow::vpnDeleteSlot()
{
    if (!selectedItem || vpnRunning)
        return;
    // The box runs a nested event loop in which the tray may select another profile and connect
    // it: the answer is about the profile it asked for, and nothing is deleted while a
    // connection runs.
    const QString dirName = selectedItem->dirName();
    const QMessageBox::StandardButton answer = Prompt::message(
        this, QMessageBox::Question, tr("Question"), tr("Do you want to delete selected VPN connection?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || vpnRunning || !profileByDirName(dirName))
        return;

    // A directory with something left inside stays; the reload then shows what remains.
    const ProfileStore::DeleteResult deleted = ProfileStore::deleteProfile(QDir::currentPath(), dirName);
    if (!deleted.deleted)
        qWarning("profile not deleted: %s", qPrintable(deleted.reason));
    forgetDeletedProfile(dirName);
    loadVpnList();
}

void MainWindow::aboutSlot()
{
    if (!isVisible())
        show();
    AboutBox* box = aboutDialog();
    box->setActiveAbout();
    box->exec();
}

void MainWindow::updateSlot()
{
    // The button lives in this window's status bar, so the window is already in view.
    AboutBox* box = aboutDialog();
    box->setActiveUpdate();
    box->exec();
}

void MainWindow::setUpdateIconSlot()
{
    statusBar()->addPermanentWidget(updateButton, 0);
    updateButton->show();
    // Every field comes from the network: none of it may become markup. The link itself was
    // accepted only as an http or https address, so the browser is all a click can open.
    // Kept as text until the box is built, if it ever is.
    m_updateText =
        tr("Version %1 is avaliable on the following website:<br><br><a href=\"%2\">%3</a>")
            .arg(updateAction->newVersion().toHtmlEscaped(), updateAction->linkUrl().toHtmlEscaped(),
                 updateAction->linkText().toHtmlEscaped());
    if (aboutBox)
        aboutBox->setUpdateText(m_updateText);
}

void MainWindow::langEnSlot()
{
    appLanguage = QString();
    languageChangedNotice();
}

void MainWindow::langPlSlot()
{
    appLanguage = QStringLiteral("pl");
    languageChangedNotice();
}

void MainWindow::languageChangedNotice()
{
    if (!isVisible())
        show();
    Prompt::message(this, QMessageBox::Information, tr("Information"),
                    tr("Application language was changed. Please restart application to apply changes."),
                    QMessageBox::Ok);
}

void MainWindow::setTrayIcon(VpnTrayIcon icon)
{
    setTrayIconFor(icon, activeItem ? activeItem : selectedItem);
}

void MainWindow::setTrayIconFor(VpnTrayIcon icon, const VpnItem* profile)
{
    animationTimer.stop();
    describeConnectionPicture(icon, profile);
    if (icon == TrayDisconnected)
        restoreToolTipAfterConnecting();
    switch (icon) {
    case TrayDisconnected:
    case TrayConnected:
        setTrayPicture(trayStateIcon(icon));
        Pictures::setLabelPicture(connectionLabel, TrayAnimation::pictureImage(icon));
        break;
    case TrayConnecting:
        // Both cycles restart from their first picture on every attempt.
        setTrayPicture(trayStateIcon(icon));
        trayFrame = 0;
        Pictures::setLabelPicture(connectionLabel, TrayAnimation::pictureImage(icon));
        labelFrame = 0;
        animationTimer.start();
        showConnectingToolTip(profile);
        break;
    }
}

// A screen reader cannot see the picture change, so its name and description tell the state.
void MainWindow::describeConnectionPicture(VpnTrayIcon state, const VpnItem* profile)
{
    const QString name = profile ? profile->displayName() : QString();
    switch (state) {
    case TrayDisconnected:
        connectionLabel->setAccessibleName(tr("VPN disconnected"));
        connectionLabel->setAccessibleDescription(tr("No VPN connection is running."));
        break;
    case TrayConnecting:
        connectionLabel->setAccessibleName(tr("VPN connecting to %1").arg(name));
        connectionLabel->setAccessibleDescription(tr("The VPN connection %1 is being set up.").arg(name));
        break;
    case TrayConnected:
        connectionLabel->setAccessibleName(tr("VPN connected to %1").arg(name));
        connectionLabel->setAccessibleDescription(tr("The VPN connection %1 is up.").arg(name));
        break;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == vpnList && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shiftF10 = key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier;
        if (key->key() == Qt::Key_Menu || shiftF10) {
            // The menu opens over the highlighted profile, not wherever the mouse pointer is.
            QPoint at;
            if (QListWidgetItem* current = vpnList->currentItem())
                at = vpnList->visualItemRect(current).center();
            const QPoint global = vpnList->viewport()->mapToGlobal(at);
            QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, vpnList->mapFromGlobal(global), global,
                                        key->modifiers());
            QCoreApplication::sendEvent(vpnList, &menuEvent);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::trayIconSetConnectionUpdate()
{
    trayFrame = (trayFrame + 1) % TrayAnimation::trayFrameCount;
    setTrayPicture(Pictures::themedIcon(TrayAnimation::trayIconName(TrayConnecting),
                                        TrayAnimation::trayFrameImage(trayFrame)));
    labelFrame = (labelFrame + 1) % TrayAnimation::labelFrameCount;
    const QString picture = TrayAnimation::pictureFrameImage(labelFrame);
    if (!picture.isEmpty())
        Pictures::setLabelPicture(connectionLabel, picture);
}

void MainWindow::trayIconActive(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    setVisible(!isVisible());
}

void MainWindow::killEngine()
{
    vpnConnection->killAtExit();
}

void MainWindow::exit()
{
    killEngine();
    // exit() rather than quit(): quit() first asks every window to close, and closeEvent turns
    // that down while the tray icon is visible.
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_trayHost && trayIcon && trayIcon->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    closeWithoutTray(event);
}

QProcess* MainWindow::engineProcess() const
{
    return vpnConnection->process();
}
