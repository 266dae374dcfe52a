#include "SleepWatcher.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int kDefaultReleaseTimeoutMs = 3000;

} // namespace

SleepWatcher::SleepWatcher(const QDBusConnection& systemBus, QObject* parent)
    : QObject(parent), m_bus(systemBus)
{
    m_releaseTimer.setSingleShot(true);
    m_releaseTimer.setInterval(kDefaultReleaseTimeoutMs);
    connect(&m_releaseTimer, &QTimer::timeout, this, [this] {
        m_waitingForOwner = false;
        closeInhibitor();
    });
    // QtDBus signal subscriptions only take the string form.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                  SLOT(onPrepareForSleep(bool)));
    takeInhibitor();
}

SleepWatcher::~SleepWatcher()
{
    closeInhibitor();
}

void SleepWatcher::takeInhibitor()
{
    if (m_inhibitorFd >= 0 || m_inhibitPending)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("qLumar Velkoro")
         << QStringLiteral("Closing the VPN connection") << QStringLiteral("delay");
    m_inhibitPending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        m_inhibitPending = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *done;
        if (reply.isError() || !reply.value().isValid()) {
            Q_EMIT inhibitorRefused(reply.isError() ? reply.error().message() : tr("no file descriptor"));
            return;
        }
        // Too late for this sleep: holding it now would only delay the next one for nothing.
        if (m_sleeping && !m_waitingForOwner)
            return;
        m_inhibitorFd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    });
}

void SleepWatcher::closeInhibitor()
{
    if (m_inhibitorFd >= 0) {
        ::close(m_inhibitorFd);
        m_inhibitorFd = -1;
    }
}

void SleepWatcher::releaseInhibitor()
{
    if (!m_waitingForOwner)
        return;
    m_waitingForOwner = false;
    m_releaseTimer.stop();
    closeInhibitor();
}

void SleepWatcher::onPrepareForSleep(bool start)
{
    if (start) {
        if (m_sleeping)
            return;
        m_sleeping = true;
        m_waitingForOwner = true;
        m_releaseTimer.start();
        Q_EMIT aboutToSleep();
        return;
    }
    if (!m_sleeping)
        return;
    m_sleeping = false;
    m_waitingForOwner = false;
    m_releaseTimer.stop();
    closeInhibitor();
    Q_EMIT resumed();
    takeInhibitor();
}
