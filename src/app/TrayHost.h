#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

class QDBusServiceWatcher;

// Whether anything can show a tray icon: a StatusNotifierItem host behind
// org.kde.StatusNotifierWatcher on the session bus, or an XEmbed tray on the X display. Both can
// come and go while the manager runs (a panel restarts, an extension is switched on), so both are
// watched.
//
// QSystemTrayIcon is not asked: the toolkit decides once per process whether to use the D-Bus
// tray, at the first question, and would keep a "no" given before the host came up. The window
// therefore makes its icon visible only after this class has seen a host.
class TrayHost : public QObject
{
    Q_OBJECT

public:
    explicit TrayHost(const QDBusConnection& bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    bool isAvailable() const { return m_statusNotifierHost || m_xembedTray; }
    bool hasStatusNotifierHost() const { return m_statusNotifierHost; }
    bool hasXEmbedTray() const { return m_xembedTray; }

    // Asks both now and waits for the answers (start-up only: nothing in this process may be the
    // watcher, or the question would wait for itself).
    void checkNow();

    // How often the X display is asked for an XEmbed tray (it announces itself only to those
    // who listen to the root window).
    void setPollInterval(int milliseconds) { m_poll.setInterval(milliseconds); }

    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

Q_SIGNALS:
    void availabilityChanged(bool available);

private Q_SLOTS:
    void askWatcher();

private:
    void setStatusNotifierHost(bool present);
    void pollXEmbed();
    void update(bool statusNotifierHost, bool xembedTray);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer m_poll;
    bool m_statusNotifierHost = false;
    bool m_xembedTray = false;
    quint64 m_question = 0; // only the newest property answer counts
};
