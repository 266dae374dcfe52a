#pragma once

#include "link_setup.h"

#include <QDBusConnection>
#include <QString>

#include <memory>

class DnsApplier;
class TunnelHookListener;

// Puts the DNS servers and domains a VPN server pushes on the tunnel's link. OpenVPN runs the hook
// program once the routes of a new device are in place, after a restart too; the
// hook reports to a socket in a directory of the connection that only root and OpenVPN's group may
// enter, and the service applies what it hears from root or from a child of this connection's
// OpenVPN.
class DnsLinkSetup : public LinkSetup
{
public:
    // hookProgram: a fixed path from the service's install layout, never one a user names.
    // openVpnGroup: the group OpenVPN drops to, whose hooks run after a restart.
    DnsLinkSetup(const QString& hookProgram, const QString& openVpnGroup, const QDBusConnection& systemBus);
    ~DnsLinkSetup() override;

    bool prepare(const QString& connectionDir, QStringList* arguments, QString* error) override;
    void started(qint64 pid) override;
    void revert() override;

private:
    QString m_hookProgram;
    QString m_openVpnGroup;
    QDBusConnection m_bus;
    std::unique_ptr<TunnelHookListener> m_listener;
    std::unique_ptr<DnsApplier> m_applier;
};
