#include "DnsSettings.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <utility>

namespace {

// Far above what any server pushes; keeps a hostile list from growing the resolver's state.
constexpr int kMaxServers = 16;
constexpr int kMaxDomains = 32;

void appendUnique(QStringList& list, const QString& value, int limit)
{
    if (!value.isEmpty() && !list.contains(value) && list.size() < limit)
        list.append(value);
}

// OpenVPN numbers its variables from 1 (dns server ids from -128); orders "name_<n>" by n.
template <typename Value> using Numbered = std::map<long long, Value>;

bool parseIndex(const QString& text, long long* index)
{
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || text.size() > 6)
        return false;
    *index = value;
    return true;
}

bool takesDefaultRoute(const QProcessEnvironment& env)
{
    // Set by OpenVPN once it has redirected the IPv4 default gateway (route-up time onwards).
    bool ok = false;
    if (env.value(QStringLiteral("redirect_gateway")).toInt(&ok) > 0 && ok)
        return true;

    // Pushed "route 0.0.0.0 0.0.0.0" (or the two halves) and "redirect-gateway ipv6", which OpenVPN
    // turns into routes before it runs the up command.
    bool lowHalf = false;
    bool highHalf = false;
    bool ipv6Low = false;
    bool ipv6High = false;
    static const QRegularExpression routeNetwork(QStringLiteral("^route_network_([0-9]+)\\z"));
    static const QRegularExpression routeIpv6(QStringLiteral("^route_ipv6_network_([0-9]+)\\z"));
    const QStringList keys = env.keys();
    for (const QString& key : keys) {
        const QRegularExpressionMatch v4 = routeNetwork.match(key);
        if (v4.hasMatch()) {
            const QString network = env.value(key);
            const QString mask = env.value(QStringLiteral("route_netmask_") + v4.captured(1));
            if (network == QLatin1String("0.0.0.0") && mask == QLatin1String("0.0.0.0"))
                return true;
            if (mask == QLatin1String("128.0.0.0")) {
                lowHalf = lowHalf || network == QLatin1String("0.0.0.0");
                highHalf = highHalf || network == QLatin1String("128.0.0.0");
            }
            continue;
        }
        if (routeIpv6.match(key).hasMatch()) {
            const QString network = env.value(key);
            if (network == QLatin1String("::/0") || network == QLatin1String("::/1") ||
                network == QLatin1String("::/3")) {
                return true;
            }
            ipv6Low = ipv6Low || network == QLatin1String("2000::/4");
            ipv6High = ipv6High || network == QLatin1String("3000::/4");
        }
    }
    return (lowHalf && highHalf) || (ipv6Low && ipv6High);
}

} // namespace

bool DnsSettings::isEmpty() const
{
    return servers.isEmpty() && searchDomains.isEmpty() && routingDomains.isEmpty();
}

bool DnsSettings::operator==(const DnsSettings& other) const
{
    return servers == other.servers && searchDomains == other.searchDomains &&
           routingDomains == other.routingDomains && defaultRoute == other.defaultRoute;
}

QString canonicalDnsServer(const QString& text)
{
    static const QRegularExpression ipv4(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}\\z"));
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]{2,45}\\z"));
    const bool looksIpv4 = ipv4.match(text).hasMatch();
    if (!looksIpv4 && !(text.contains(QLatin1Char(':')) && ipv6.match(text).hasMatch())) {
        return {};
    }
    QHostAddress address;
    if (!address.setAddress(text) || !address.scopeId().isEmpty()) {
        return {};
    }
    if (address.isNull() || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6 ||
        address.isMulticast() || address.isBroadcast()) {
        return {};
    }
    if (looksIpv4 && address.protocol() != QAbstractSocket::IPv4Protocol) {
        return {};
    }
    // "010.1.1.1" is octal to some parsers and decimal to others: only the plain spelling passes.
    if (looksIpv4 && address.toString() != text) {
        return {};
    }
    return address.toString();
}

QString canonicalDomainName(const QString& text)
{
    QString name = text;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > 253) {
        return {};
    }
    const QStringList labels = name.split(QLatin1Char('.'));
    for (const QString& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-'))) {
            return {};
        }
        for (const QChar c : label) {
            const ushort u = c.unicode();
            const bool ok =
                (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
            if (!ok) {
                return {};
            }
        }
    }
    return name.toLower();
}

bool isValidInterfaceName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,15}\\z"));
    return pattern.match(name).hasMatch() && name != QLatin1String(".") && name != QLatin1String("..");
}

DnsSettings dnsSettingsFromEnvironment(const QProcessEnvironment& env)
{
    static const QRegularExpression foreignOption(QStringLiteral("^foreign_option_([0-9]+)\\z"));
    static const QRegularExpression searchDomain(QStringLiteral("^dns_search_domain_([0-9]+)\\z"));
    static const QRegularExpression serverAddress(
        QStringLiteral("^dns_server_(-?[0-9]+)_address_([0-9]+)\\z"));
    static const QRegularExpression resolveDomain(
        QStringLiteral("^dns_server_(-?[0-9]+)_resolve_domain_([0-9]+)\\z"));

    Numbered<QString> foreign;
    Numbered<QString> dnsSearch;
    Numbered<Numbered<QString>> dnsServers;
    Numbered<Numbered<QString>> dnsResolve;

    const QStringList keys = env.keys();
    for (const QString& key : keys) {
        long long n = 0;
        long long m = 0;
        QRegularExpressionMatch match;
        if ((match = foreignOption.match(key)).hasMatch()) {
            if (parseIndex(match.captured(1), &n))
                foreign[n] = env.value(key);
        } else if ((match = searchDomain.match(key)).hasMatch()) {
            if (parseIndex(match.captured(1), &n))
                dnsSearch[n] = env.value(key);
        } else if ((match = serverAddress.match(key)).hasMatch()) {
            if (parseIndex(match.captured(1), &n) && parseIndex(match.captured(2), &m))
                dnsServers[n][m] = env.value(key);
        } else if ((match = resolveDomain.match(key)).hasMatch()) {
            if (parseIndex(match.captured(1), &n) && parseIndex(match.captured(2), &m))
                dnsResolve[n][m] = env.value(key);
        }
    }

    DnsSettings settings;
    QStringList dhcpServers;
    QStringList dhcpSuffixes;
    QStringList dhcpSearch;
    for (const auto& [index, option] : foreign) {
        Q_UNUSED(index)
        // Exactly "dhcp-option TYPE VALUE", single spaces as OpenVPN writes them.
        const QStringList words = option.split(QLatin1Char(' '));
        if (words.size() != 3 || words.at(0) != QLatin1String("dhcp-option"))
            continue;
        const QString& type = words.at(1);
        if (type == QLatin1String("DNS") || type == QLatin1String("DNS6")) {
            appendUnique(dhcpServers, canonicalDnsServer(words.at(2)), kMaxServers);
        } else if (type == QLatin1String("DOMAIN") || type == QLatin1String("ADAPTER_DOMAIN_SUFFIX")) {
            appendUnique(dhcpSuffixes, canonicalDomainName(words.at(2)), kMaxDomains);
        } else if (type == QLatin1String("DOMAIN-SEARCH")) {
            appendUnique(dhcpSearch, canonicalDomainName(words.at(2)), kMaxDomains);
        }
    }

    // "--dns" overrides "--dhcp-option" where both say the same thing.
    for (const auto& [id, addresses] : dnsServers) {
        // A server on another port or behind DoT/DoH cannot be set as a plain link server.
        const QString idText = QString::number(id);
        const QString transport = env.value(QStringLiteral("dns_server_%1_transport").arg(idText));
        if (!transport.isEmpty() && transport.compare(QLatin1String("plain"), Qt::CaseInsensitive) != 0)
            continue;
        bool kept = false;
        for (const auto& [index, address] : addresses) {
            const QString port =
                env.value(QStringLiteral("dns_server_%1_port_%2").arg(idText, QString::number(index)));
            const QString server = canonicalDnsServer(address);
            if ((!port.isEmpty() && port != QLatin1String("53")) || server.isEmpty())
                continue;
            appendUnique(settings.servers, server, kMaxServers);
            kept = true;
        }
        // Its domains mean "ask this server": without a usable address they would go nowhere.
        if (!kept)
            continue;
        const auto domains = dnsResolve.find(id);
        if (domains != dnsResolve.end()) {
            for (const auto& [index, domain] : domains->second) {
                Q_UNUSED(index)
                appendUnique(settings.routingDomains, canonicalDomainName(domain), kMaxDomains);
            }
        }
    }
    if (dnsServers.empty())
        settings.servers = dhcpServers;
    // The connection's own suffix stays; "dns search-domains" replaces DOMAIN-SEARCH, as OpenVPN
    // itself does when it rewrites the dhcp-options.
    for (const QString& domain : std::as_const(dhcpSuffixes))
        appendUnique(settings.searchDomains, domain, kMaxDomains);
    if (dnsSearch.empty()) {
        for (const QString& domain : std::as_const(dhcpSearch))
            appendUnique(settings.searchDomains, domain, kMaxDomains);
    }
    for (const auto& [index, domain] : dnsSearch) {
        Q_UNUSED(index)
        appendUnique(settings.searchDomains, canonicalDomainName(domain), kMaxDomains);
    }
    settings.defaultRoute = takesDefaultRoute(env);
    return settings;
}
