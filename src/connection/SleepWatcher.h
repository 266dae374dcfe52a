#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

// Suspend and resume as logind announces them. A delay inhibitor is held while awake so that the
// owner gets time to close the tunnel cleanly after aboutToSleep(): sleep goes on once the owner
// calls releaseInhibitor(), or after releaseTimeout() at the latest (logind itself waits no more
// than its InhibitDelayMaxSec, 5 s by default).
class SleepWatcher : public QObject
{
    Q_OBJECT

public:
    // `systemBus` is where logind is: QDBusConnection::systemBus() outside tests.
    explicit SleepWatcher(const QDBusConnection& systemBus, QObject* parent = nullptr);
    ~SleepWatcher() override;

    bool holdsInhibitor() const { return m_inhibitorFd >= 0; }

    int releaseTimeout() const { return m_releaseTimer.interval(); }
    void setReleaseTimeout(int ms) { m_releaseTimer.setInterval(ms); }

    // The owner is ready for sleep; does nothing unless aboutToSleep() is being waited for.
    void releaseInhibitor();

Q_SIGNALS:
    void aboutToSleep();
    void resumed();
    // Inhibit failed (no logind, refused): sleep will not wait for the owner.
    void inhibitorRefused(const QString& error);

private Q_SLOTS:
    void onPrepareForSleep(bool start);

private:
    void takeInhibitor();
    void closeInhibitor();

    QDBusConnection m_bus;
    QTimer m_releaseTimer;
    int m_inhibitorFd = -1;
    bool m_inhibitPending = false;
    bool m_sleeping = false;
    bool m_waitingForOwner = false;
};
