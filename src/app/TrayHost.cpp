#include "TrayHost.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#ifdef QLUMAR_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

const char* const watcherPath = "/StatusNotifierWatcher";

#ifdef QLUMAR_HAVE_XCB
// The XEmbed tray of the screen owns the selection _NET_SYSTEM_TRAY_S<screen>.
bool xembedTrayOnDisplay()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    int screen = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        const char* colon = std::strrchr(display, ':');
        const char* dot = colon ? std::strchr(colon, '.') : nullptr;
        if (dot)
            screen = std::atoi(dot + 1);
    }
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever made the atom, so nobody owns it
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}
#else
bool xembedTrayOnDisplay()
{
    return false;
}
#endif

} // namespace

TrayHost::TrayHost(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    if (m_bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(QLatin1String(watcherService), m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    if (newOwner.isEmpty())
                        setStatusNotifierHost(false);
                    else
                        askWatcher();
                });
        // A watcher may come up before any host registers with it, and a host may leave while
        // the watcher stays.
        for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            m_bus.connect(QLatin1String(watcherService), QLatin1String(watcherPath),
                          QLatin1String(watcherService), QLatin1String(signal), this, SLOT(askWatcher()));
        askWatcher();
    }
    m_poll.setInterval(3000);
    connect(&m_poll, &QTimer::timeout, this, &TrayHost::pollXEmbed);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        m_xembedTray = xembedTrayOnDisplay();
        m_poll.start();
    }
}

void TrayHost::checkNow()
{
    bool host = false;
    if (m_bus.isConnected() && m_bus.interface()->isServiceRegistered(QLatin1String(watcherService))) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QLatin1String(watcherService), QLatin1String(watcherPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QLatin1String(watcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
        const QDBusMessage reply = m_bus.call(get, QDBus::Block, 2000);
        host = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
    }
    ++m_question; // answers still on their way are older than this one
    update(host, QGuiApplication::platformName() == QLatin1String("xcb") && xembedTrayOnDisplay());
}

void TrayHost::askWatcher()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(watcherService), QLatin1String(watcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(watcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    const quint64 question = ++m_question;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, question](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (question != m_question)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *call;
                setStatusNotifierHost(reply.isValid() && reply.value().variant().toBool());
            });
}

void TrayHost::setStatusNotifierHost(bool present)
{
    if (!present)
        ++m_question;
    update(present, m_xembedTray);
}

void TrayHost::pollXEmbed()
{
    update(m_statusNotifierHost, xembedTrayOnDisplay());
}

void TrayHost::update(bool statusNotifierHost, bool xembedTray)
{
    const bool before = isAvailable();
    m_statusNotifierHost = statusNotifierHost;
    m_xembedTray = xembedTray;
    if (isAvailable() != before)
        Q_EMIT availabilityChanged(isAvailable());
}
