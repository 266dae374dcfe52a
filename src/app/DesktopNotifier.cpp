#include "DesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus) {}

bool DesktopNotifier::isAvailable() const
{
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(QLatin1String(service)).value();
}

void DesktopNotifier::notify(const QString& title, const QString& text, int milliseconds)
{
    const Message message{title, text, milliseconds};
    if (m_waiting) {
        m_next = message; // only the newest matters
        return;
    }
    send(message);
}

void DesktopNotifier::send(const Message& message)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(service),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QLatin1String(service), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("example.qlumar.Velkoro"));
    call << QStringLiteral("qLumar Velkoro") << m_shownId << QLatin1String(iconName) << message.title
         << message.text << QStringList() << hints << message.milliseconds;
    m_waiting = true;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        m_shownId = reply.isValid() ? reply.value() : 0;
        m_waiting = false;
        if (m_next) {
            const Message next = *m_next;
            m_next.reset();
            send(next);
        }
    });
}
