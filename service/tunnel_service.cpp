#include "tunnel_service.h"

#include "tunnel_config.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

namespace {

const QString kErrorPrefix = QStringLiteral("example.qlumar.Velkoro.Tunnel.Error.");

QString newId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

} // namespace

void removeStaleConnections(const QString& runtimeDir)
{
    QDir dir(runtimeDir);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        QDir(dir.filePath(name)).removeRecursively();
}

TunnelService::TunnelService(const ServiceSettings& settings, std::unique_ptr<Authority> authority,
                             LinkSetupFactory linkSetup, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_settings(settings), m_authority(std::move(authority)),
      m_linkSetup(std::move(linkSetup)), m_bus(bus), m_owners(new QDBusServiceWatcher(this)),
      m_idle(new QTimer(this))
{
    m_owners->setConnection(m_bus);
    m_owners->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_owners, &QDBusServiceWatcher::serviceUnregistered, this, &TunnelService::ownerGone);
    m_idle->setSingleShot(true);
    m_idle->setInterval(m_settings.idleExitMs);
    connect(m_idle, &QTimer::timeout, this, &TunnelService::idle);
    updateIdle();
}

TunnelService::~TunnelService()
{
    stopAll();
}

bool TunnelService::registerOnBus(QString* error)
{
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("no system bus: %1").arg(m_bus.lastError().message());
        return false;
    }
    if (!m_bus.registerObject(QString::fromLatin1(kTunnelObjectPath), this,
                              QDBusConnection::ExportScriptableSlots |
                                  QDBusConnection::ExportScriptableSignals)) {
        *error = QStringLiteral("cannot register %1").arg(QString::fromLatin1(kTunnelObjectPath));
        return false;
    }
    if (!m_bus.registerService(QString::fromLatin1(kTunnelServiceName))) {
        *error = QStringLiteral("cannot own %1: %2")
                     .arg(QString::fromLatin1(kTunnelServiceName), m_bus.lastError().message());
        return false;
    }
    return true;
}

void TunnelService::stopAll()
{
    if (m_connections.empty())
        return;
    QEventLoop loop;
    for (const auto& [id, connection] : m_connections) {
        connect(connection, &TunnelConnection::finished, &loop, [this, &loop] {
            // finished() is emitted before the connection leaves the map
            QTimer::singleShot(0, &loop, [this, &loop] {
                if (m_connections.empty())
                    loop.quit();
            });
        });
        connection->stop();
    }
    QTimer::singleShot(m_settings.stopGraceMs + 2000, &loop, &QEventLoop::quit);
    loop.exec();
    for (const auto& [id, connection] : m_connections)
        delete connection;
    m_connections.clear();
}

bool TunnelService::callerUid(uint* uid)
{
    const QDBusReply<uint> reply = connection().interface()->serviceUid(message().service());
    if (!reply.isValid()) {
        sendErrorReply(kErrorPrefix + QStringLiteral("Failed"), QStringLiteral("cannot tell who is calling"));
        return false;
    }
    *uid = reply.value();
    return true;
}

QString TunnelService::Start(const QString& config, const QDBusUnixFileDescriptor& output, QString&)
{
    m_idle->stop();
    uint uid = 0;
    if (!callerUid(&uid)) {
        updateIdle();
        return {};
    }
    // Counted before polkit is asked, so that a client cannot queue up more while a dialog is open.
    if (connectionsOf(uid) >= m_settings.maxConnectionsPerUser) {
        sendErrorReply(kErrorPrefix + QStringLiteral("LimitReached"),
                       QStringLiteral("a user may have at most %1 tunnels at a time; disconnect one first")
                           .arg(m_settings.maxConnectionsPerUser));
        updateIdle();
        return {};
    }
    setDelayedReply(true);
    ++m_pending;
    ++m_pendingByUid[uid];
    const QDBusMessage call = message();
    m_authority->check(
        call.service(), uid, QString::fromLatin1(kConnectAction),
        [this, call, uid, config, output](bool allowed, const QString& error) {
            --m_pending;
            if (--m_pendingByUid[uid] == 0)
                m_pendingByUid.erase(uid);
            if (!allowed) {
                m_bus.send(call.createErrorReply(kErrorPrefix + QStringLiteral("NotAuthorized"), error));
                updateIdle();
                return;
            }
            authorized(call, uid, config, output);
        });
    return {};
}

void TunnelService::authorized(const QDBusMessage& call, uint uid, const QString& config,
                               const QDBusUnixFileDescriptor& output)
{
    const TunnelConfigCheck check = checkTunnelConfig(config);
    if (!check.ok) {
        m_bus.send(call.createErrorReply(kErrorPrefix + QStringLiteral("Refused"), check.error));
        updateIdle();
        return;
    }
    if (!output.isValid()) {
        m_bus.send(call.createErrorReply(kErrorPrefix + QStringLiteral("Failed"),
                                         QStringLiteral("no output descriptor")));
        updateIdle();
        return;
    }
    const QString owner = call.service();
    m_owners->addWatchedService(owner);
    // It may have left before the watch was in place.
    if (!m_bus.interface()->isServiceRegistered(owner).value()) {
        m_bus.send(
            call.createErrorReply(kErrorPrefix + QStringLiteral("Failed"), QStringLiteral("caller gone")));
        updateIdle();
        return;
    }

    const QString id = newId();
    auto* tunnel =
        new TunnelConnection(m_settings, id, uid, owner,
                             m_linkSetup ? m_linkSetup(m_settings) : std::make_unique<NoLinkSetup>(), this);
    QString error;
    if (!tunnel->start(config, output.fileDescriptor(), &error)) {
        delete tunnel;
        m_bus.send(call.createErrorReply(kErrorPrefix + QStringLiteral("Failed"), error));
        updateIdle();
        return;
    }
    m_connections[id] = tunnel;
    auto replied = std::make_shared<bool>(false);
    connect(tunnel, &TunnelConnection::ready, this, [this, call, tunnel, replied] {
        *replied = true;
        m_bus.send(call.createReply({tunnel->id(), tunnel->socketPath()}));
        sendSignal(*tunnel, "StateChanged", {tunnel->id(), QStringLiteral("ready")});
    });
    connect(tunnel, &TunnelConnection::finished, this, [this, call, tunnel, replied](int status) {
        if (!*replied) {
            *replied = true;
            m_bus.send(call.createReply({tunnel->id(), QString()}));
        }
        sendSignal(*tunnel, "Finished", {tunnel->id(), status});
        m_connections.erase(tunnel->id());
        tunnel->deleteLater();
        updateIdle();
    });
}

int TunnelService::connectionsOf(uint uid) const
{
    const auto pending = m_pendingByUid.find(uid);
    int count = pending == m_pendingByUid.end() ? 0 : pending->second;
    for (const auto& [id, tunnel] : m_connections) {
        if (tunnel->uid() == uid)
            ++count;
    }
    return count;
}

void TunnelService::Stop(const QString& id)
{
    m_idle->stop();
    uint uid = 0;
    if (!callerUid(&uid)) {
        updateIdle();
        return;
    }
    const auto found = m_connections.find(id);
    // Someone else's connection is answered as if it did not exist.
    if (found == m_connections.end() || found->second->uid() != uid) {
        sendErrorReply(kErrorPrefix + QStringLiteral("NotFound"), QStringLiteral("no connection %1").arg(id));
        updateIdle();
        return;
    }
    sendSignal(*found->second, "StateChanged", {id, QStringLiteral("stopping")});
    found->second->stop();
    updateIdle();
}

QStringList TunnelService::List()
{
    m_idle->stop();
    QStringList ids;
    uint uid = 0;
    if (callerUid(&uid)) {
        for (const auto& [id, tunnel] : m_connections) {
            if (tunnel->uid() == uid)
                ids << id;
        }
    }
    updateIdle();
    return ids;
}

void TunnelService::ownerGone(const QString& owner)
{
    m_owners->removeWatchedService(owner);
    for (const auto& [id, tunnel] : m_connections) {
        if (tunnel->owner() == owner)
            tunnel->stop();
    }
}

void TunnelService::sendSignal(const TunnelConnection& tunnel, const char* name,
                               const QVariantList& arguments)
{
    QDBusMessage signal =
        QDBusMessage::createTargetedSignal(tunnel.owner(), QString::fromLatin1(kTunnelObjectPath),
                                           QString::fromLatin1(kTunnelInterface), QString::fromLatin1(name));
    signal.setArguments(arguments);
    m_bus.send(signal);
}

void TunnelService::updateIdle()
{
    if (m_connections.empty() && m_pending == 0)
        m_idle->start();
    else
        m_idle->stop();
}
