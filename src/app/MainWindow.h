#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/Prompt.h"
#include "connection/ConnectionStatus.h"
#include "connection/TrayAnimation.h"

#include <memory>

class AboutBox;
class DesktopNotifier;
class QCloseEvent;
class QDialog;
class QDockWidget;
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
class QPlainTextEdit;
class QToolButton;
class UpdateAction;
class VpnItem;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // trayHost: whether a tray can show the icon now. Without one the window is all there is:
    // closing it ends the program, and a notice in it says how to get a tray.
    explicit MainWindow(QWidget* parent = nullptr, bool trayHost = true);
    ~MainWindow() override;

    // Rebuilds the connection list and the tray's Connect submenu from the profile root.
    void loadVpnList();

    // Read-only views of the connection state, for tests and the benchmark.
    bool isVpnRunning() const { return vpnRunning; }
    bool isVpnInitialized() const { return vpnInitialized; }
    VpnItem* selectedProfile() const { return selectedItem; }
    VpnItem* activeProfile() const { return activeItem; }
    QSystemTrayIcon* tray() const { return trayIcon; } // none until a tray host was seen
    QString trayToolTip() const { return m_trayToolTip; }
    QProcess* engineProcess() const;
    VpnConnection* connection() const { return vpnConnection; }
    int trayAnimationFrame() const { return trayFrame; }
    int pictureAnimationFrame() const { return labelFrame; }
    bool isAnimating() const { return animationTimer.isActive(); }
    // The About box, built and filled the first time About, the update button or this asks for it.
    AboutBox* aboutDialog();

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

    // Requests handed over by a second start of the program, or given on the first one.
    // connectByName() starts the profile shown under that name (or kept in that directory) as its
    // Connect menu entry does, password prompt included, once the caller's event turns; it
    // returns why it cannot, or an empty text when it will.
    QString connectByName(const QString& name);
    void bringForward();

    // A tray host came or went: the icon shows only with one, and closing the window hides it
    // into the tray only then.
    void setTrayHostAvailable(bool available);
    bool hasTrayHost() const { return m_trayHost; }
    QDockWidget* noTrayNotice() const { return m_noTrayNotice; }

    // Messages go to the desktop's notification server while one is set and running, else to
    // the tray icon's balloons. Not owned.
    void setDesktopNotifier(DesktopNotifier* notifier) { m_notifier = notifier; }

Q_SIGNALS:
    // An OpenVPN client file to import, absolute, from the command line of this or a second start.
    void importRequested(const QString& path);

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
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TestProfileList; // sets up a running connection without an engine

    void startNetwork();
    void watchSleep();
    QMenu* newTrayConnectMenu();
    void fillTrayConnectMenu();
    void dropTrayConnectEntries();
    void createActions();
    void createTray();
    void addDesktopActions();
    void setStartAtLogin(bool enabled);
    void closeWithoutTray(QCloseEvent* event);
    // The state for the profile it concerns: while one starts, another may be selected.
    void setTrayIconFor(VpnTrayIcon icon, const VpnItem* profile);
    void showConnectingToolTip(const VpnItem* profile);
    void restoreToolTipAfterConnecting();
    void setTrayPicture(const QIcon& picture);
    void setTrayToolTip(const QString& text);
    void fillAboutBox();
    void languageChangedNotice();
    void buildCentralArea();
    void describeConnectionPicture(VpnTrayIcon state, const VpnItem* profile);
    void killEngine();
    VpnItem* profileByDirName(const QString& dirName) const;
    void showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                     int milliseconds);
    void showTunnelUp();
    void showPasswordRejected();
    void appendLogParagraph(const QString& text);
    void queueLogText(const QString& text);
    void flushLog();
    void connectStatusLine();
    void followConnectionState(int state);
    void showStatus();
    void showConnectionEnd(bool withBalloon = true);
    void answerEngineRequest(const QString& id, const QString& kind, const QString& prompt,
                             const QString& flag);
    void answerLogin(const QString& id, bool rejected);
    void askLogin(const QString& id, const QString& secretName);
    QString loginSecretName(const QString& dirName) const;
    void openEngineUrl(const QUrl& url);
    void closeWebSignIn();

    bool vpnRunning = false;
    bool vpnInitialized = false;
    VpnConnection* vpnConnection = nullptr; // the engine process and everything it says
    VpnItem* selectedItem = nullptr;
    VpnItem* activeItem = nullptr;
    QLabel* connectionLabel = nullptr;
    int labelFrame = 0;
    QListWidget* vpnList = nullptr;
    QPlainTextEdit* vpnLog = nullptr;
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
    AboutBox* aboutBox = nullptr; // see aboutDialog()
    QString m_updateText;         // the Updates page's text once a check found a release
    bool m_networkStarted = false;
    bool m_trayEntriesStale = true; // the Connect submenu is filled when it next opens
    static constexpr int kNetworkFallbackMs = 1000;
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
    QStringList m_pendingLog; // engine output not yet in the log
    qsizetype m_pendingLogCharacters = 0;
    QTimer m_logFlush;
    static constexpr int kLogFlushMs = 250;
    static constexpr qsizetype kLogBatchCharacters = 8 * 1024; // one read of a flood: it waits for nothing
    Balloon lastBalloonShown;
    int balloonsShown = 0;
    QLabel* m_statusLine = nullptr;
    ConnectionStatus::Snapshot m_status;

    bool m_trayHost = true;
    QDockWidget* m_noTrayNotice = nullptr;
    QAction* m_startAtLoginAction = nullptr;
    DesktopNotifier* m_notifier = nullptr;
    QIcon m_trayPicture;
    QString m_trayToolTip;
    QString m_toolTipBeforeConnecting; // back when an attempt fails before the engine runs

    QString m_connectionDir;      // the profile of the connection running or last run
    QString m_askAgainDir;        // its password was rejected: asked again once idle
    bool m_askAgainReady = false; // the user has seen "Incorrect password!"
    SavedSecrets* m_savedSecrets = nullptr;
    QAction* m_forgetSecretAction = nullptr;
    QString m_loadingSecretFor;      // the keyring is asked for this profile's secret
    bool m_usingSavedSecret = false; // the running connection's secret came from the keyring
    QString m_secretToSave;          // "Remember" was ticked: saved once the tunnel is up
    QString m_secretToSaveFor;
    // The same for the password a server asks for with the username.
    QString m_loadingLoginFor; // the keyring is asked for this login password (its secret name)
    QString m_loadingLoginId;  // the engine's request it answers
    bool m_usingSavedLogin = false;
    QString m_loginToSave;
    QString m_loginToSaveFor;
    QPointer<QDialog> m_webSignIn; // "Waiting for sign-in in your browser…" while the server waits
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
