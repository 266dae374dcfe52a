// The window's part in living on a desktop: requests handed over by a second start, the tray
// that may be missing or come late, and the start at login.
#include "MainWindow.h"

#include "app/Autostart.h"
#include "app/Prompt.h"
#include "connection/VpnConnection.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <utility>

void MainWindow::addDesktopActions()
{
    m_startAtLoginAction = new QAction(tr("Start at login"), this);
    m_startAtLoginAction->setObjectName(QStringLiteral("startAtLoginAction"));
    m_startAtLoginAction->setCheckable(true);
    m_startAtLoginAction->setChecked(Autostart::isEnabled());
    // triggered, not toggled: only the user's choice writes the file, and a refused write can
    // put the check mark back without writing again.
    connect(m_startAtLoginAction, &QAction::triggered, this, &MainWindow::setStartAtLogin);
    trayMenu->insertAction(aboutAction, m_startAtLoginAction);
}

void MainWindow::setStartAtLogin(bool enabled)
{
    QString error;
    if (!Autostart::setEnabled(enabled, &error)) {
        m_startAtLoginAction->setChecked(Autostart::isEnabled());
        if (!isVisible())
            show();
        Prompt::message(this, QMessageBox::Warning, tr("Error"),
                        tr("Cannot change the start at login: %1").arg(error), QMessageBox::Ok);
        return;
    }
    m_startAtLoginAction->setChecked(Autostart::isEnabled());
}

void MainWindow::setTrayHostAvailable(bool available)
{
    m_trayHost = available;
    // The toolkit decides on its first tray icon, once for the whole process, whether the
    // StatusNotifierItem host is there; made before one is, the icon would never reach it.
    if (available && !trayIcon) {
        trayIcon = new QSystemTrayIcon(this);
        trayIcon->setObjectName(QStringLiteral("trayIcon"));
        trayIcon->setContextMenu(trayMenu);
        trayIcon->setIcon(m_trayPicture);
        trayIcon->setToolTip(m_trayToolTip);
        connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayIconActive);
    }
    if (trayIcon)
        trayIcon->setVisible(available);
    if (available) {
        if (m_noTrayNotice)
            m_noTrayNotice->hide();
        return;
    }
    if (!m_noTrayNotice) {
        m_noTrayNotice = new QDockWidget(tr("No system tray"), this);
        m_noTrayNotice->setObjectName(QStringLiteral("noTrayNotice"));
        m_noTrayNotice->setFeatures(QDockWidget::DockWidgetClosable);
        m_noTrayNotice->setAllowedAreas(Qt::TopDockWidgetArea);
        // Broken by hand: a wrapping label in a dock gets the height of one line.
        auto* text = new QLabel(tr("No system tray was found, so qLumar Velkoro runs\n"
                                   "as a normal window: closing it ends the program.\n"
                                   "As soon as a tray appears, the icon shows there and\n"
                                   "closing the window hides it in the tray again.\n"
                                   "On GNOME, install and switch on the AppIndicator\n"
                                   "extension (Debian package\n"
                                   "gnome-shell-extension-appindicator)."),
                                m_noTrayNotice);
        text->setObjectName(QStringLiteral("noTrayText"));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        text->setContentsMargins(6, 6, 6, 6);
        m_noTrayNotice->setWidget(text);
        addDockWidget(Qt::TopDockWidgetArea, m_noTrayNotice);
    }
    // Once per loss of the tray: closed by the user, it stays closed until a tray comes and goes.
    m_noTrayNotice->show();
}

void MainWindow::closeWithoutTray(QCloseEvent* event)
{
    // Closing is the end of the program here: a running connection ends with it, so ask first.
    if (vpnRunning) {
        const QMessageBox::StandardButton answer = Prompt::message(
            this, QMessageBox::Question, tr("Question"),
            tr("A VPN connection is running. Closing the window ends it and the program. Close anyway?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    event->accept();
    exit();
}

// The tooltip is where a tray user looks for the state while the icon animates.
void MainWindow::showConnectingToolTip(const VpnItem* profile)
{
    if (m_toolTipBeforeConnecting.isEmpty())
        m_toolTipBeforeConnecting = m_trayToolTip;
    // The status line's own words, so the tooltip reads the same before and after the engine runs.
    ConnectionStatus::Snapshot connecting;
    connecting.phase = ConnectionStatus::Snapshot::Phase::Connecting;
    connecting.name = profile ? profile->displayName() : QString();
    setTrayToolTip(tr("qLumar VPN - %1").arg(ConnectionStatus::statusLine(connecting)));
}

void MainWindow::restoreToolTipAfterConnecting()
{
    // A connection that ends sets its own text after this; one that never started has none.
    if (!m_toolTipBeforeConnecting.isEmpty())
        setTrayToolTip(std::exchange(m_toolTipBeforeConnecting, QString()));
}

void MainWindow::setTrayPicture(const QIcon& picture)
{
    m_trayPicture = picture;
    if (trayIcon)
        trayIcon->setIcon(picture);
}

void MainWindow::setTrayToolTip(const QString& text)
{
    m_trayToolTip = text;
    if (trayIcon)
        trayIcon->setToolTip(text);
}

void MainWindow::bringForward()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

QString MainWindow::connectByName(const QString& name)
{
    VpnItem* found = nullptr;
    for (int i = 0; i < vpnList->count() && !found; ++i) {
        auto* item = dynamic_cast<VpnItem*>(vpnList->item(i));
        if (item && item->displayName() == name)
            found = item;
    }
    if (!found)
        found = profileByDirName(name);
    if (!found)
        return tr("There is no VPN connection named %1.").arg(name);
    if (vpnRunning) {
        if (found == activeItem) {
            bringForward();
            return QString();
        }
        return tr("The VPN connection %1 cannot be started now: another connection is running.").arg(name);
    }
    if (profileDialogOpen || !trayConnectMenu->isEnabled())
        return tr("The VPN connection %1 cannot be started now: a connection is being edited.").arg(name);

    // The password prompt runs its own event loop: the caller (the socket of a second start)
    // gets its answer first.
    const QString dirName = found->dirName();
    QTimer::singleShot(0, this, [this, dirName] {
        VpnItem* target = profileByDirName(dirName);
        if (!target || vpnRunning || profileDialogOpen)
            return;
        vpnList->setCurrentItem(target);
        vpnItemPressedSlot(target);
        bringForward();
        vpnConnectSlot();
    });
    return QString();
}
