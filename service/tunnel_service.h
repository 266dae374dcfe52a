#pragma once

#include "authority.h"
#include "link_setup.h"
#include "tunnel_connection.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QStringList>

#include <map>
#include <memory>

class QDBusServiceWatcher;
class QTimer;

inline constexpr char kTunnelServiceName[] = "example.qlumar.Velkoro.Tunnel";
inline constexpr char kTunnelObjectPath[] = "/example/qlumar/Velkoro/Tunnel";
inline constexpr char kTunnelInterface[] = "example.qlumar.Velkoro.Tunnel1";
inline constexpr char kConnectAction[] = "example.qlumar.Velkoro.tunnel.connect";

// The object on the system bus. Each connection belongs to the user who started it: other users
// neither see it in List() nor can Stop() it, and its signals go to the starting client alone.
// A connection ends on Stop(), when the client that started it leaves the bus, and with the service.
class TunnelService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.qlumar.Velkoro.Tunnel1")
public:
    TunnelService(const ServiceSettings& settings, std::unique_ptr<Authority> authority,
                  LinkSetupFactory linkSetup, const QDBusConnection& bus, QObject* parent = nullptr);
    ~TunnelService() override;

    // Registers the object, then the well-known name.
    bool registerOnBus(QString* error);
    // Stops every OpenVPN and waits for them; for the service's own end.
    void stopAll();
    int connectionCount() const { return static_cast<int>(m_connections.size()); }

public slots:
    // config: the OpenVPN configuration, every file inline. output: OpenVPN's standard output and error.
    // Answers once the management socket can be used, with the connection's id and the socket's path;
    // when OpenVPN ends before that, the socket path is empty and Finished follows.
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus member's own name
    Q_SCRIPTABLE QString Start(const QString& config, const QDBusUnixFileDescriptor& output,
                               QString& managementSocket);
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus member's own name
    Q_SCRIPTABLE void Stop(const QString& id);
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus member's own name
    Q_SCRIPTABLE QStringList List();

signals:
    // Sent to the starting client only.
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus member's own name
    Q_SCRIPTABLE void StateChanged(const QString& id, const QString& state);
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus member's own name
    Q_SCRIPTABLE void Finished(const QString& id, int status);
    // Nothing has happened for the idle time and nothing runs.
    void idle();

private:
    void authorized(const QDBusMessage& call, uint uid, const QString& config,
                    const QDBusUnixFileDescriptor& output);
    void ownerGone(const QString& owner);
    void sendSignal(const TunnelConnection& connection, const char* name, const QVariantList& arguments);
    void updateIdle();
    bool callerUid(uint* uid);
    int connectionsOf(uint uid) const;

    ServiceSettings m_settings;
    std::unique_ptr<Authority> m_authority;
    LinkSetupFactory m_linkSetup;
    QDBusConnection m_bus;
    QDBusServiceWatcher* m_owners;
    QTimer* m_idle;
    int m_pending = 0;
    std::map<uint, int> m_pendingByUid; // requests of each user still before polkit
    std::map<QString, TunnelConnection*> m_connections;
};

// Removes what connections of an earlier run left behind in the runtime directory.
void removeStaleConnections(const QString& runtimeDir);
