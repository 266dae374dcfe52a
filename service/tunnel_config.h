#pragma once

#include <QString>
#include <QStringList>

// The verdict on an OpenVPN configuration a user hands to the tunnel service. OpenVPN runs as root
// until it has set the tunnel up, so the configuration may only hold directives that neither run a
// program, load code, nor read or write a file; everything else is refused, naming the directive.
struct TunnelConfigCheck
{
    bool ok = false;
    QString directive; // the refused directive (or block tag), empty when ok
    int line = 0;      // its line, from 1
    QString error;     // one sentence for the user
};

// Checks text the way OpenVPN 2.6 reads a configuration file: a whitespace-separated first word,
// optionally with a leading "--", quotes and backslash escapes, "#"/";" comments, and inline
// blocks "<tag>" ... "</tag>" whose content is opaque except for <connection>, which is checked
// like the rest.
TunnelConfigCheck checkTunnelConfig(const QString& text);

// The PKCS#11 modules a configuration may load: the system's p11-kit proxy, which only forwards to
// modules the administrator registered.
QStringList allowedPkcs11Modules();

// OpenVPN splits configuration lines longer than this into several, each read as a line of its own;
// longer lines are refused so that the check sees what OpenVPN will see.
constexpr int kMaxConfigLineBytes = 250;
