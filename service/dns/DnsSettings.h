#pragma once

#include <QMetaType>
#include <QProcessEnvironment>
#include <QStringList>

// The DNS configuration a VPN server pushed, as OpenVPN hands it to its up/route-up command.
struct DnsSettings
{
    QStringList servers;        // IPv4 and IPv6 literals, in the server's order
    QStringList searchDomains;  // added to the system's search list
    QStringList routingDomains; // names only the tunnel's servers resolve (split DNS)
    bool defaultRoute = false;  // the VPN takes the default route: all names go through it

    bool isEmpty() const;
    bool operator==(const DnsSettings& other) const;
    bool operator!=(const DnsSettings& other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(DnsSettings)

// Reads "dhcp-option DNS/DNS6/DOMAIN/DOMAIN-SEARCH/ADAPTER_DOMAIN_SUFFIX" from foreign_option_N,
// OpenVPN 2.6's dns_* variables (which replace the dhcp-option values they cover) and whether the
// default route goes through the tunnel. Everything comes from the remote server: anything that
// is not a plain address or DNS name is dropped.
DnsSettings dnsSettingsFromEnvironment(const QProcessEnvironment& env);

// Accepts dotted-quad IPv4 and unscoped IPv6 literals; returns the canonical form, or an empty
// string.
QString canonicalDnsServer(const QString& text);

// Letters, digits and hyphens in labels of at most 63 characters, 253 in all; one trailing dot
// allowed. Returns the name in lower case without the dot, or an empty string.
QString canonicalDomainName(const QString& text);

// A Linux interface name as OpenVPN reports it in "dev".
bool isValidInterfaceName(const QString& name);
