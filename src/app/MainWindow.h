#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/Prompt.h"
#include "connection/TrayAnimation.h"

#include <memory>

class AboutBox;
class CappedLog;
class VpnConnection;
class NetworkWatcher;
class SavedSecrets;
class SleepWatcher;
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

protected:
    void closeEvent(QCloseEvent* event) override;
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

    // Asking for secrets, second tries, saved secrets, sleep, certificate expiry and the log's
    // menu: MainWindowConnecting.cpp.
    Prompt::PasswordAnswer askSecret(const VpnItem& profile, bool again);
    void connectProfile(const QString& dirName, bool again);
    void startConnection(const QString& dirName, const QString& secret);
    bool askingAgain() const { return !m_askAgainDir.isEmpty(); }
    void askAgainWhenIdle();
    void clearConnectionLog();
    void askAndStart(const VpnItem& profile, bool again);
    void setUpSavedSecrets();
    void updateForgetAction(const VpnItem* profile);
    void forgetDeletedProfile(const QString& dirName);
    void savedSecretLoaded(const QString& dirName, bool found, const QString& secret);
    void setUpSleepAndNetwork();
    bool certificatesAllowConnect(const VpnItem& profile, const QString& secret);
    void setUpLogMenu();
    void saveLog();
    void reconnectWhenIdle(const QString& dirName);

    bool profileDialogOpen = false; // an Edit dialog: no connection starts meanwhile
    std::unique_ptr<CappedLog> connectionLog;
    Balloon lastBalloonShown;
    int balloonsShown = 0;

    QString m_connectionDir;      // the profile of the connection running or last run
    QString m_askAgainDir;        // its password was rejected: asked again once idle
    bool m_askAgainReady = false; // the user has seen "Incorrect password!"
    SavedSecrets* m_savedSecrets = nullptr;
    QAction* m_forgetSecretAction = nullptr;
    QString m_loadingSecretFor;      // the keyring is asked for this profile's secret
    bool m_usingSavedSecret = false; // the running connection's secret came from the keyring
    QString m_secretToSave;          // "Remember" was ticked: saved once the tunnel is up
    QString m_secretToSaveFor;
    static constexpr qint64 kNetworkSettleMs = 10000;
    QAction* m_reconnectAction = nullptr;
    SleepWatcher* m_sleepWatcher = nullptr;
    NetworkWatcher* m_networkWatcher = nullptr;
    bool m_closingForSleep = false;
    QString m_resumeDir;    // closed for sleep: brought back on resume
    QString m_reconnectDir; // connected again once the connection has ended
    QElapsedTimer m_tunnelUpSince;
    QSet<QString> m_expiryWarned; // profiles warned of a certificate's end in this run
};
