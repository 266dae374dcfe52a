#pragma once

#include <QMainWindow>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>

#include "connection/ConnectionStatus.h"
#include "connection/TrayAnimation.h"

#include <memory>

class AboutBox;
class CappedLog;
class VpnConnection;
class QAction;
class QActionGroup;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QTextEdit;
class QToolButton;
class UpdateAction;
class VpnItem;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Rebuilds the connection list and the tray's Connect submenu from the profile root.
    void loadVpnList();

    // Read-only views of the connection state, for tests and the benchmark.
    bool isVpnRunning() const { return vpnRunning; }
    bool isVpnInitialized() const { return vpnInitialized; }
    VpnItem* selectedProfile() const { return selectedItem; }
    VpnItem* activeProfile() const { return activeItem; }
    QSystemTrayIcon* tray() const { return trayIcon; }
    QProcess* engineProcess() const;
    VpnConnection* connection() const { return vpnConnection; }
    int trayAnimationFrame() const { return trayFrame; }
    int pictureAnimationFrame() const { return labelFrame; }
    bool isAnimating() const { return animationTimer.isActive(); }

    // Tray balloons cannot be observed through QSystemTrayIcon, so the window keeps the last one.
    struct Balloon
    {
        QString title;
        QString text;
        QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
        int milliseconds = 0;
    };
    const Balloon& lastBalloon() const { return lastBalloonShown; }
    // The connection's state in words, as the status line under the picture shows it.
    QString statusText() const;
    int balloonCount() const { return balloonsShown; }

public Q_SLOTS:
    void vpnConnectSlot();
    void vpnDisConnectSlot();
    void vpnFinishSlot(int exitCode, QProcess::ExitStatus exitStatus);
    void vpnOutputSlot();
    void vpnItemPressedSlot(QListWidgetItem* item);
    void vpnItemDoubleClickedSlot(QListWidgetItem* item);
    void vpnNewSlot();
    void vpnInfoSlot();
    void vpnEditSlot();
    void vpnDeleteSlot();
    void aboutSlot();
    void updateSlot();
    void setUpdateIconSlot();
    void trayIconActive(QSystemTrayIcon::ActivationReason reason);
    void trayIconSetConnectionUpdate();
    void setTrayIcon(VpnTrayIcon icon);
    void exit();
    void langEnSlot();
    void langPlSlot();
    // Asks for an OpenVPN client file and imports it.
    void importSlot();
    // Shows what importing path makes of it and saves it as a new profile, which the list then
    // selects. For the menu entries, a dropped file, the command line and a second start.
    void importFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TestProfileList; // sets up a running connection without an engine

    void createActions();
    void createTray();
    void fillAboutBox();
    void languageChangedNotice();
    void buildCentralArea();
    void describeConnectionPicture(VpnTrayIcon state);
    void killEngine();
    VpnItem* profileByDirName(const QString& dirName) const;
    void showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                     int milliseconds);
    void showTunnelUp();
    void showPasswordRejected();
    void appendLogParagraph(const QString& text);
    void connectStatusLine();
    void followConnectionState(int state);
    void showStatus();
    void showConnectionEnd();
    void answerEngineRequest(const QString& id, const QString& kind, const QString& prompt);
    void openEngineUrl(const QUrl& url);

    bool vpnRunning = false;
    bool vpnInitialized = false;
    VpnConnection* vpnConnection = nullptr; // the engine process and everything it says
    VpnItem* selectedItem = nullptr;
    VpnItem* activeItem = nullptr;
    QLabel* connectionLabel = nullptr;
    int labelFrame = 0;
    QListWidget* vpnList = nullptr;
    QTextEdit* vpnLog = nullptr;
    QMenu* trayConnectMenu = nullptr;
    QAction* connectAction = nullptr;
    QAction* disconnectAction = nullptr;
    QAction* newAction = nullptr;
    QAction* importAction = nullptr;
    QAction* infoAction = nullptr;
    QAction* editAction = nullptr;
    QAction* deleteAction = nullptr;
    QAction* aboutAction = nullptr;
    QAction* exitAction = nullptr;
    UpdateAction* updateAction = nullptr;
    QActionGroup* langGroup = nullptr;
    QAction* langEnAction = nullptr;
    QAction* langPlAction = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    QTimer animationTimer;
    int trayFrame = 0;
    AboutBox* aboutBox = nullptr;
    QToolButton* updateButton = nullptr;

    bool profileDialogOpen = false; // an Edit dialog: no connection starts meanwhile
    std::unique_ptr<CappedLog> connectionLog;
    Balloon lastBalloonShown;
    int balloonsShown = 0;
    QLabel* m_statusLine = nullptr;
    ConnectionStatus::Snapshot m_status;
};
