#pragma once

#include <QObject>
#include <QTimer>

// Changes of the machine's network (reachability, transport medium) as QNetworkInformation reports
// them, settled: a burst of changes while a cable is swapped or Wi-Fi roams gives one
// networkChanged(), debounceInterval() after the last of them.
class NetworkWatcher : public QObject
{
    Q_OBJECT

public:
    explicit NetworkWatcher(QObject* parent = nullptr);

    // Loads the platform's backend and follows it; false when the platform has none.
    bool start();

    int debounceInterval() const { return m_debounce.interval(); }
    void setDebounceInterval(int ms) { m_debounce.setInterval(ms); }

    // Where the backend's notices arrive; public so that any other source of changes can feed it.
    void noteChange();

Q_SIGNALS:
    void networkChanged();

private:
    QTimer m_debounce;
    bool m_started = false;
};
