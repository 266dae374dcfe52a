#pragma once

#include "link_setup.h"

#include <QDBusConnection>
#include <QString>

#include <memory>

class DnsApplier;
class TunnelHookListener;

// Puts the DNS servers and domains a VPN server pushes on the tunnel's link. OpenVPN runs the hook
// program when the tunnel is up and again once its routes are in place; the hook reports to a
// socket in a root-only directory of the connection, and the service applies what it hears.
class DnsLinkSetup : public LinkSetup
{
public:
    // hookProgram: a fixed path from the service's install layout, never one a user names.
    DnsLinkSetup(const QString& hookProgram, const QDBusConnection& systemBus);
    ~DnsLinkSetup() override;

    bool prepare(const QString& connectionDir, QStringList* arguments, QString* error) override;
    void revert() override;

private:
    QString m_hookProgram;
    QDBusConnection m_bus;
    std::unique_ptr<TunnelHookListener> m_listener;
    std::unique_ptr<DnsApplier> m_applier;
};
