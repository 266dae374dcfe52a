#include "FakeResolved.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutexLocker>

bool FakeResolved::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.interface() != QLatin1String("org.freedesktop.resolve1.Manager")) {
        return false;
    }
    BusCall call;
    call.member = message.member();
    call.signature = message.signature();
    const QVariantList args = message.arguments();
    if (!args.isEmpty() && call.signature.startsWith(QLatin1Char('i'))) {
        call.ifindex = args.at(0).toInt();
    }
    if (call.signature == QLatin1String("ia(iay)")) {
        const QDBusArgument arg = args.at(1).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            int family = 0;
            QByteArray address;
            arg.beginStructure();
            arg >> family >> address;
            arg.endStructure();
            call.values << QStringLiteral("%1/%2").arg(family).arg(QString::fromLatin1(address.toHex()));
        }
        arg.endArray();
    } else if (call.signature == QLatin1String("ia(sb)")) {
        const QDBusArgument arg = args.at(1).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString name;
            bool routing = false;
            arg.beginStructure();
            arg >> name >> routing;
            arg.endStructure();
            call.values << name + (routing ? QStringLiteral("/routing") : QStringLiteral("/search"));
        }
        arg.endArray();
    } else if (call.signature == QLatin1String("ib")) {
        call.values << (args.at(1).toBool() ? QStringLiteral("true") : QStringLiteral("false"));
    }
    QString refused;
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(call);
        refused = m_refused;
    }
    if (call.member == refused) {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.resolve1.LinkBusy"),
                                                 QStringLiteral("Link busy")));
    } else {
        connection.send(message.createReply());
    }
    return true;
}

FakeResolvedHost::FakeResolvedHost(const QString& busAddress) : m_name(QStringLiteral("fake-resolved"))
{
    m_fake.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_fake,
        [&] {
            QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_name);
            m_ok = bus.isConnected() &&
                   bus.registerVirtualObject(QStringLiteral("/org/freedesktop/resolve1"), &m_fake) &&
                   bus.registerService(QStringLiteral("org.freedesktop.resolve1"));
        },
        Qt::BlockingQueuedConnection);
}

FakeResolvedHost::~FakeResolvedHost()
{
    QMetaObject::invokeMethod(
        &m_fake,
        [&] {
            QDBusConnection bus(m_name);
            bus.unregisterService(QStringLiteral("org.freedesktop.resolve1"));
            bus.unregisterObject(QStringLiteral("/org/freedesktop/resolve1"));
            QDBusConnection::disconnectFromBus(m_name);
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}
