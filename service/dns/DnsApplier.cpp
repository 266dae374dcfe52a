#include "DnsApplier.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QHostAddress>
#include <QProcess>

#include <net/if.h>
#include <sys/socket.h>

namespace {

const QString kResolvedService = QStringLiteral("org.freedesktop.resolve1");
const QString kResolvedPath = QStringLiteral("/org/freedesktop/resolve1");
const QString kResolvedManager = QStringLiteral("org.freedesktop.resolve1.Manager");
constexpr int kDbusTimeoutMs = 10000;
constexpr int kResolvconfTimeoutMs = 10000;

// One element of SetLinkDNS's a(iay): address family and the address in network byte order.
struct LinkDnsServer
{
    qint32 family = 0;
    QByteArray address;
};

// One element of SetLinkDomains's a(sb): the name, and whether it only routes queries.
struct LinkDomain
{
    QString name;
    bool routingOnly = false;
};

QDBusArgument& operator<<(QDBusArgument& arg, const LinkDnsServer& server)
{
    arg.beginStructure();
    arg << server.family << server.address;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, LinkDnsServer& server)
{
    arg.beginStructure();
    arg >> server.family >> server.address;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const LinkDomain& domain)
{
    arg.beginStructure();
    arg << domain.name << domain.routingOnly;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, LinkDomain& domain)
{
    arg.beginStructure();
    arg >> domain.name >> domain.routingOnly;
    arg.endStructure();
    return arg;
}

} // namespace

Q_DECLARE_METATYPE(LinkDnsServer)
Q_DECLARE_METATYPE(LinkDomain)

namespace {

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<LinkDnsServer>();
        qDBusRegisterMetaType<QList<LinkDnsServer>>();
        qDBusRegisterMetaType<LinkDomain>();
        qDBusRegisterMetaType<QList<LinkDomain>>();
        return true;
    }();
    Q_UNUSED(registered)
}

QList<LinkDnsServer> linkServers(const QStringList& servers)
{
    QList<LinkDnsServer> result;
    for (const QString& text : servers) {
        const QHostAddress address(text);
        LinkDnsServer server;
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            const quint32 v4 = address.toIPv4Address();
            server.family = AF_INET;
            server.address = QByteArray(4, '\0');
            for (int i = 0; i < 4; ++i)
                server.address[i] = static_cast<char>((v4 >> (24 - 8 * i)) & 0xff);
        } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            const Q_IPV6ADDR v6 = address.toIPv6Address();
            server.family = AF_INET6;
            server.address = QByteArray(reinterpret_cast<const char*>(v6.c), 16);
        } else {
            continue;
        }
        result.append(server);
    }
    return result;
}

QList<LinkDomain> linkDomains(const DnsSettings& settings)
{
    QList<LinkDomain> result;
    for (const QString& name : settings.searchDomains) {
        result.append({name, false});
    }
    for (const QString& name : settings.routingDomains) {
        if (!settings.searchDomains.contains(name)) {
            result.append({name, true});
        }
    }
    // resolvectl's "~.": the root as a routing-only domain sends every query to this link.
    if (settings.defaultRoute) {
        result.append({QStringLiteral("."), true});
    }
    return result;
}

bool callResolved(const QDBusConnection& bus, const QString& method, const QVariantList& arguments,
                  QString* error)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kResolvedService, kResolvedPath, kResolvedManager, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kDbusTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = QStringLiteral("systemd-resolved refused %1: %2").arg(method, reply.errorMessage());
    return false;
}

} // namespace

DnsApplier::DnsApplier(const QDBusConnection& systemBus, const QString& resolvconfProgram)
    : m_bus(systemBus), m_resolvconfProgram(resolvconfProgram)
{
    registerTypes();
}

DnsApplier::~DnsApplier()
{
    revert();
}

bool DnsApplier::apply(const QString& interfaceName, const DnsSettings& settings, QString* error)
{
    if (!isValidInterfaceName(interfaceName)) {
        if (error)
            *error = QStringLiteral("Invalid interface name");
        return false;
    }
    const int ifindex = static_cast<int>(if_nametoindex(interfaceName.toLatin1().constData()));
    if (ifindex <= 0) {
        if (error)
            *error = QStringLiteral("No network interface named %1").arg(interfaceName);
        return false;
    }
    if (settings.servers.isEmpty()) {
        revert();
        return true;
    }

    QDBusConnectionInterface* busInterface = m_bus.isConnected() ? m_bus.interface() : nullptr;
    const Method method = busInterface && busInterface->isServiceRegistered(kResolvedService).value()
                              ? Method::Resolved
                              : Method::Resolvconf;
    // The same link again (OpenVPN's up and then route-up command) is set over in place, so its
    // names never go back to the other links' servers in between.
    if (m_applied != method || m_ifindex != ifindex)
        revert();
    if (method == Method::Resolved)
        return applyResolved(ifindex, settings, error);
    return applyResolvconf(interfaceName, ifindex, settings, error);
}

bool DnsApplier::applyResolved(int ifindex, const DnsSettings& settings, QString* error)
{
    m_applied = Method::Resolved;
    m_ifindex = ifindex;
    const QVariantList dns{ifindex, QVariant::fromValue(linkServers(settings.servers))};
    const QVariantList domains{ifindex, QVariant::fromValue(linkDomains(settings))};
    const QVariantList defaultRoute{ifindex, settings.defaultRoute};
    if (callResolved(m_bus, QStringLiteral("SetLinkDNS"), dns, error) &&
        callResolved(m_bus, QStringLiteral("SetLinkDomains"), domains, error) &&
        callResolved(m_bus, QStringLiteral("SetLinkDefaultRoute"), defaultRoute, error)) {
        return true;
    }
    revert();
    return false;
}

bool DnsApplier::applyResolvconf(const QString& interfaceName, int ifindex, const DnsSettings& settings,
                                 QString* error)
{
    QByteArray file = "# qLumar Velkoro: DNS pushed through " + interfaceName.toLatin1() + "\n";
    for (const QString& server : settings.servers)
        file += "nameserver " + server.toLatin1() + "\n";
    // resolv.conf has no routing-only domains; the search list is all it can carry.
    if (!settings.searchDomains.isEmpty())
        file += "search " + settings.searchDomains.join(QLatin1Char(' ')).toLatin1() + "\n";
    const QString record = interfaceName + QStringLiteral(".qlumar");
    if (!runResolvconf({QStringLiteral("-a"), record}, file, error)) {
        // resolvconf may have written part of it.
        runResolvconf({QStringLiteral("-d"), record, QStringLiteral("-f")}, {}, nullptr);
        m_applied = Method::None;
        m_ifindex = 0;
        m_record.clear();
        return false;
    }
    m_applied = Method::Resolvconf;
    m_ifindex = ifindex;
    m_record = record;
    return true;
}

bool DnsApplier::runResolvconf(const QStringList& arguments, const QByteArray& input, QString* error) const
{
    QProcess process;
    // It runs as root: nothing of the caller's environment goes along.
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    process.setProcessEnvironment(env);
    process.setProgram(m_resolvconfProgram);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    if (!process.waitForStarted(kResolvconfTimeoutMs)) {
        if (error) {
            *error = QStringLiteral("Neither systemd-resolved nor resolvconf is available (%1: %2)")
                         .arg(m_resolvconfProgram, process.errorString());
        }
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(kResolvconfTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        if (error)
            *error = QStringLiteral("%1 did not finish").arg(m_resolvconfProgram);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error) {
            *error = QStringLiteral("%1 failed: %2")
                         .arg(m_resolvconfProgram, QString::fromLocal8Bit(process.readAll()).trimmed());
        }
        return false;
    }
    return true;
}

void DnsApplier::revert()
{
    const Method applied = m_applied;
    m_applied = Method::None;
    if (applied == Method::Resolved) {
        // Fails harmlessly when the device is already gone: resolved forgot the link with it.
        callResolved(m_bus, QStringLiteral("RevertLink"), {m_ifindex}, nullptr);
    } else if (applied == Method::Resolvconf) {
        runResolvconf({QStringLiteral("-d"), m_record, QStringLiteral("-f")}, {}, nullptr);
    }
    m_ifindex = 0;
    m_record.clear();
}
