#pragma once

#include "DnsSettings.h"

#include <QDBusConnection>
#include <QString>

// Puts a tunnel's pushed DNS on its link and takes it off again: through systemd-resolved's D-Bus
// API when resolved is on the bus, otherwise through resolvconf. One applier per tunnel.
class DnsApplier
{
public:
    static constexpr char defaultResolvconfProgram[] = "/sbin/resolvconf";

    // resolvconfProgram is a fixed path, never taken from the environment; tests name a stand-in.
    explicit DnsApplier(const QDBusConnection& systemBus,
                        const QString& resolvconfProgram = QLatin1String(defaultResolvconfProgram));
    ~DnsApplier();

    DnsApplier(const DnsApplier&) = delete;
    DnsApplier& operator=(const DnsApplier&) = delete;

    // Replaces whatever this applier set before. Settings without servers only take back what was
    // set: domains alone cannot be resolved through the tunnel.
    bool apply(const QString& interfaceName, const DnsSettings& settings, QString* error);
    // Safe to call any number of times, and after the tunnel's device is gone.
    void revert();

private:
    enum class Method { None, Resolved, Resolvconf };

    bool applyResolved(int ifindex, const DnsSettings& settings, QString* error);
    bool applyResolvconf(const QString& interfaceName, int ifindex, const DnsSettings& settings,
                         QString* error);
    bool runResolvconf(const QStringList& arguments, const QByteArray& input, QString* error) const;

    QDBusConnection m_bus;
    QString m_resolvconfProgram;
    Method m_applied = Method::None;
    int m_ifindex = 0;
    QString m_record;
};
