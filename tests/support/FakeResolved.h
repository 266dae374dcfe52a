#pragma once

// A stand-in for systemd-resolved on a bus the test owns (its Manager's link methods only).

#include <QDBusVirtualObject>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

// One method call as it arrived on the bus, decoded by its signature rather than by our own types.
struct BusCall
{
    QString member;
    QString signature;
    int ifindex = 0;
    QStringList values; // "family/hex" for servers, "name/routing" for domains, "true"/"false"
};

// Stands in for systemd-resolved's Manager object: records each call and answers it, or refuses
// the one method it is told to.
class FakeResolved : public QDBusVirtualObject
{
public:
    QList<BusCall> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }
    void refuse(const QString& member)
    {
        QMutexLocker lock(&m_mutex);
        m_refused = member;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    mutable QMutex m_mutex;
    QList<BusCall> m_calls;
    QString m_refused;
};

// The fake lives on a thread of its own: the applier blocks the test's thread while it calls.
class FakeResolvedHost
{
public:
    explicit FakeResolvedHost(const QString& busAddress);
    ~FakeResolvedHost();

    bool isRunning() const { return m_ok; }
    FakeResolved& fake() { return m_fake; }

private:
    QString m_name;
    QThread m_thread;
    FakeResolved m_fake;
    bool m_ok = false;
};
