#pragma once

#include "options.h"

#include <string>
#include <vector>

struct OpenVpnConf
{
    std::string text;
    std::vector<std::string> warnings;
};

// Turns a profile's configuration into a file OpenVPN itself accepts. Line N of the result is line N of
// the profile, so OpenVPN's own "line N" messages point at the profile. What changes:
//  - "rport" lines become comments and their port goes onto every "remote" line that has none;
//  - "ca", "cert", "pkcs12" and "key" values with blanks, quotes or backslashes are quoted, because
//    the manager writes paths as they are while OpenVPN splits words and unescapes backslashes;
//  - for token profiles the key comes from the token, so "key", "cert", "pkcs12" and the template's own
//    "pkcs11-*" lines become comments;
//  - directives that would take OpenVPN out of the manager's reach (daemon, log files, syslog, another
//    management interface, a password file) become comments, each with a warning.
// Inline blocks (<ca> ... </ca>) are copied unchanged.
OpenVpnConf translateConf(const std::string& text, const std::string& path, CredentialKind kind);

// One parameter in OpenVPN's configuration syntax: as it is when it needs no quoting, otherwise in double
// quotes with backslashes and double quotes escaped.
std::string quoteParam(const std::string& value);
