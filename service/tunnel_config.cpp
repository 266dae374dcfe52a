#include "tunnel_config.h"

#include <QHash>
#include <QSet>

namespace {

enum class Verdict {
    Allowed,
    RunsProgram,
    LoadsCode,
    FileAccess,
    SetByService,
    NotForClient,
    Conditional, // allowed with some arguments only, see checkArguments()
};

// Every directive OpenVPN 2.6 knows that a client may use without touching the system beyond its
// tunnel. Anything not listed is refused as "not allowed" (server directives, stand-alone modes,
// Windows-only switches that we have no use for, directives of later versions).
const QHash<QString, Verdict>& directives()
{
    static const QHash<QString, Verdict> table = [] {
        QHash<QString, Verdict> t;
        for (const char* name : {"allow-compression",
                                 "allow-pull-fqdn",
                                 "allow-recursive-routing",
                                 "auth",
                                 "auth-nocache",
                                 "auth-retry",
                                 "auth-token",
                                 "auth-token-user",
                                 "bind",
                                 "bind-dev",
                                 "block-ipv6",
                                 "block-outside-dns",
                                 "cipher",
                                 "client",
                                 "client-nat",
                                 "comp-lzo",
                                 "comp-noadapt",
                                 "compat-mode",
                                 "compress",
                                 "connect-retry",
                                 "connect-retry-max",
                                 "connect-timeout",
                                 "data-ciphers",
                                 "data-ciphers-fallback",
                                 "dev",
                                 "dev-type",
                                 "dhcp-option",
                                 "dhcp-release",
                                 "dhcp-renew",
                                 "disable-dco",
                                 "disable-occ",
                                 "dns",
                                 "ecdh-curve",
                                 "echo",
                                 "errors-to-stderr",
                                 "explicit-exit-notify",
                                 "fast-io",
                                 "float",
                                 "force-tls-key-material-export",
                                 "fragment",
                                 "hand-window",
                                 "ifconfig",
                                 "ifconfig-ipv6",
                                 "ifconfig-noexec",
                                 "ifconfig-nowarn",
                                 "ignore-unknown-option",
                                 "inactive",
                                 "ip-win32",
                                 "keepalive",
                                 "key-direction",
                                 "key-method",
                                 "link-mtu",
                                 "local",
                                 "lport",
                                 "machine-readable-output",
                                 "management-external-cert",
                                 "management-external-key",
                                 "max-packet-size",
                                 "mlock",
                                 "mssfix",
                                 "mtu-disc",
                                 "mtu-test",
                                 "mute",
                                 "mute-replay-warnings",
                                 "ncp-ciphers",
                                 "ncp-disable",
                                 "nobind",
                                 "ns-cert-type",
                                 "opt-verify",
                                 "passtos",
                                 "peer-fingerprint",
                                 "persist-key",
                                 "persist-local-ip",
                                 "persist-remote-ip",
                                 "persist-tun",
                                 "ping",
                                 "ping-exit",
                                 "ping-restart",
                                 "ping-timer-rem",
                                 "pkcs11-cert-private",
                                 "pkcs11-id",
                                 "pkcs11-id-management",
                                 "pkcs11-pin-cache",
                                 "pkcs11-private-mode",
                                 "pkcs11-protected-authentication",
                                 "port",
                                 "proto",
                                 "proto-force",
                                 "pull",
                                 "pull-filter",
                                 "push-peer-info",
                                 "rcvbuf",
                                 "redirect-gateway",
                                 "redirect-private",
                                 "register-dns",
                                 "remap-usr1",
                                 "remote",
                                 "remote-cert-eku",
                                 "remote-cert-ku",
                                 "remote-cert-tls",
                                 "remote-random",
                                 "remote-random-hostname",
                                 "reneg-bytes",
                                 "reneg-pkts",
                                 "reneg-sec",
                                 "replay-window",
                                 "resolv-retry",
                                 "route",
                                 "route-delay",
                                 "route-gateway",
                                 "route-ipv6",
                                 "route-ipv6-gateway",
                                 "route-method",
                                 "route-metric",
                                 "route-noexec",
                                 "route-nopull",
                                 "rport",
                                 "server-poll-timeout",
                                 "session-timeout",
                                 "setenv-safe",
                                 "shaper",
                                 "single-session",
                                 "sndbuf",
                                 "socket-flags",
                                 "static-challenge",
                                 "status-version",
                                 "suppress-timestamps",
                                 "tap-sleep",
                                 "tcp-nodelay",
                                 "tls-cert-profile",
                                 "tls-cipher",
                                 "tls-ciphersuites",
                                 "tls-client",
                                 "tls-exit",
                                 "tls-groups",
                                 "tls-timeout",
                                 "tls-version-max",
                                 "tls-version-min",
                                 "topology",
                                 "tran-window",
                                 "tun-max-mtu",
                                 "tun-mtu",
                                 "tun-mtu-extra",
                                 "txqueuelen",
                                 "up-delay",
                                 "up-restart",
                                 "use-prediction-resistance",
                                 "verb",
                                 "verify-hash",
                                 "verify-x509-name",
                                 "win-sys",
                                 "windows-driver",
                                 "x509-track"}) {
            t.insert(QString::fromLatin1(name), Verdict::Allowed);
        }
        for (const char* name :
             {"up", "down", "down-pre", "route-up", "route-pre-down", "ipchange", "tls-verify",
              "learn-address", "auth-user-pass-verify", "client-connect", "client-disconnect",
              "client-crresponse", "tls-crypt-v2-verify", "iproute", "setcon"}) {
            t.insert(QString::fromLatin1(name), Verdict::RunsProgram);
        }
        for (const char* name : {"plugin", "engine", "providers"})
            t.insert(QString::fromLatin1(name), Verdict::LoadsCode);
        for (const char* name : {"config",
                                 "cd",
                                 "chroot",
                                 "log",
                                 "log-append",
                                 "status",
                                 "writepid",
                                 "tmp-dir",
                                 "ca",
                                 "capath",
                                 "cert",
                                 "key",
                                 "pkcs12",
                                 "tls-auth",
                                 "tls-crypt",
                                 "tls-crypt-v2",
                                 "dh",
                                 "crl-verify",
                                 "extra-certs",
                                 "askpass",
                                 "secret",
                                 "http-proxy-user-pass",
                                 "replay-persist",
                                 "dev-node",
                                 "tls-export-cert",
                                 "auth-gen-token-secret",
                                 "ifconfig-pool-persist",
                                 "genkey",
                                 "client-config-dir",
                                 "mktun",
                                 "rmtun"}) {
            t.insert(QString::fromLatin1(name), Verdict::FileAccess);
        }
        for (const char* name :
             {"user", "group", "daemon", "syslog", "nice", "management", "management-client",
              "management-client-auth", "management-client-group", "management-client-pf",
              "management-client-user", "management-forget-disconnect", "management-hold",
              "management-log-cache", "management-query-passwords", "management-query-proxy",
              "management-query-remote", "management-signal", "management-up-down"}) {
            t.insert(QString::fromLatin1(name), Verdict::SetByService);
        }
        for (const char* name : {"auth-user-pass", "http-proxy", "http-proxy-option", "socks-proxy",
                                 "script-security", "setenv", "pkcs11-providers"}) {
            t.insert(QString::fromLatin1(name), Verdict::Conditional);
        }
        return t;
    }();
    return table;
}

// Inline blocks whose content OpenVPN keeps in memory; "connection" holds directives.
const QSet<QString>& inlineBlocks()
{
    static const QSet<QString> blocks{"ca",
                                      "cert",
                                      "key",
                                      "pkcs12",
                                      "tls-auth",
                                      "tls-crypt",
                                      "tls-crypt-v2",
                                      "dh",
                                      "extra-certs",
                                      "secret",
                                      "crl-verify",
                                      "http-proxy-user-pass",
                                      "auth-user-pass",
                                      "peer-fingerprint",
                                      "connection"};
    return blocks;
}

QString reasonText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::RunsProgram:
        return QStringLiteral("it runs a program as root");
    case Verdict::LoadsCode:
        return QStringLiteral("it loads code into OpenVPN");
    case Verdict::FileAccess:
        return QStringLiteral("it reads or writes a file as root; put file contents inline (<ca>...</ca>)");
    case Verdict::SetByService:
        return QStringLiteral("the tunnel service sets it itself");
    default:
        return QStringLiteral("it is not allowed in a tunnel the service starts");
    }
}

// A line split into words as OpenVPN's parse_line does it.
QStringList splitLine(const QString& line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    bool backslash = false;
    for (const QChar c : line) {
        if (backslash) {
            word += c;
            backslash = false;
            inWord = true;
            continue;
        }
        if (!quote.isNull()) {
            if (c == quote) {
                quote = QChar();
            } else if (c == u'\\' && quote == u'"') {
                backslash = true;
            } else {
                word += c;
            }
            continue;
        }
        if (c == u'\\') {
            backslash = true;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord) {
                words << word;
                word.clear();
                inWord = false;
            }
        } else if (!inWord && (c == u'#' || c == u';')) {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

bool safeSetenvName(const QString& name)
{
    // Names that change how OpenVPN itself behaves; anything else could reach a program the service
    // runs (the loader, the shell, the C library read their own variables).
    return name == u"FORWARD_COMPATIBLE" || name.startsWith(u"UV_");
}

// "" when the arguments are acceptable, otherwise the reason.
QString checkArguments(const QString& directive, const QStringList& args)
{
    if (directive == u"auth-user-pass")
        return args.isEmpty() ? QString() : reasonText(Verdict::FileAccess);
    if (directive == u"http-proxy") {
        const bool file = args.size() >= 3 && args[2] != u"auto" && args[2] != u"auto-nct";
        return file ? reasonText(Verdict::FileAccess) : QString();
    }
    if (directive == u"http-proxy-option")
        return QString();
    if (directive == u"socks-proxy")
        return args.size() >= 3 ? reasonText(Verdict::FileAccess) : QString();
    if (directive == u"script-security") {
        bool number = false;
        const int level = args.value(0).toInt(&number);
        return number && level >= 0 && level <= 1
                   ? QString()
                   : QStringLiteral("a level above 1 lets OpenVPN run programs as root");
    }
    if (directive == u"setenv") {
        return safeSetenvName(args.value(0))
                   ? QString()
                   : QStringLiteral("it passes '%1' to programs run as root").arg(args.value(0));
    }
    if (directive == u"pkcs11-providers") {
        for (const QString& module : args) {
            if (!allowedPkcs11Modules().contains(module))
                return QStringLiteral("only the system's p11-kit proxy may be loaded, not '%1'").arg(module);
        }
        return QString();
    }
    return reasonText(Verdict::NotForClient);
}

TunnelConfigCheck refuse(const QString& directive, int line, const QString& why)
{
    TunnelConfigCheck check;
    check.directive = directive;
    check.line = line;
    check.error = QStringLiteral("Refused directive '%1' in line %2: %3").arg(directive).arg(line).arg(why);
    return check;
}

TunnelConfigCheck checkLines(const QStringList& lines, int firstLine, bool inConnection)
{
    QString block; // the tag of the open inline block
    int blockLine = 0;
    QStringList connection; // the lines of an open <connection> block
    for (int i = 0; i < lines.size(); ++i) {
        const int number = firstLine + i;
        const QString& line = lines[i];
        const QString where = block.isEmpty() ? splitLine(line).value(0) : block;
        if (line.toUtf8().size() > kMaxConfigLineBytes) {
            return refuse(where, number,
                          QStringLiteral("the line is longer than %1 bytes").arg(kMaxConfigLineBytes));
        }
        if (line.contains(QChar(0)))
            return refuse(where, number, QStringLiteral("the line holds a NUL byte"));
        if (!block.isEmpty()) {
            const QString endTag = QStringLiteral("</%1>").arg(block);
            const QString trimmed = line.trimmed();
            // OpenVPN ends the block at a line that starts with the end tag; text after it would be
            // read differently by different versions, so it is not accepted at all.
            if (trimmed.startsWith(endTag) && trimmed != endTag)
                return refuse(block, number, QStringLiteral("text after the end tag %1").arg(endTag));
            if (trimmed == endTag) {
                if (block == u"connection") {
                    const TunnelConfigCheck inner = checkLines(connection, blockLine + 1, true);
                    if (!inner.ok)
                        return inner;
                    connection.clear();
                }
                block.clear();
            } else if (block == u"connection") {
                connection << line;
            }
            continue;
        }
        QStringList words = splitLine(line);
        if (words.isEmpty())
            continue;
        QString directive = words.takeFirst();
        if (directive.startsWith(u"--"))
            directive = directive.mid(2);
        if (words.isEmpty() && directive.size() > 2 && directive.startsWith(u'<') &&
            directive.endsWith(u'>')) {
            const QString tag = directive.mid(1, directive.size() - 2);
            if (!inlineBlocks().contains(tag) || (inConnection && tag == u"connection"))
                return refuse(tag, number, reasonText(Verdict::NotForClient));
            block = tag;
            blockLine = number;
            continue;
        }
        // "setenv opt X ..." is OpenVPN's way of saying "X ..., if this version knows X": X counts.
        while (directive == u"setenv" && words.size() >= 2 && words.first() == u"opt") {
            words.removeFirst();
            directive = words.takeFirst();
        }
        const Verdict verdict = directives().value(directive, Verdict::NotForClient);
        if (verdict == Verdict::Allowed)
            continue;
        if (verdict == Verdict::Conditional) {
            const QString why = checkArguments(directive, words);
            if (why.isEmpty())
                continue;
            return refuse(directive, number, why);
        }
        return refuse(directive, number, reasonText(verdict));
    }
    if (!block.isEmpty())
        return refuse(block, blockLine, QStringLiteral("the inline block is not closed"));
    TunnelConfigCheck check;
    check.ok = true;
    return check;
}

} // namespace

QStringList allowedPkcs11Modules()
{
    return {QStringLiteral("/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so"),
            QStringLiteral("/usr/lib/aarch64-linux-gnu/p11-kit-proxy.so"),
            QStringLiteral("/usr/lib/i386-linux-gnu/p11-kit-proxy.so"),
            QStringLiteral("/usr/lib/arm-linux-gnueabihf/p11-kit-proxy.so"),
            QStringLiteral("/usr/lib64/p11-kit-proxy.so"),
            QStringLiteral("/usr/lib/p11-kit-proxy.so")};
}

TunnelConfigCheck checkTunnelConfig(const QString& text)
{
    return checkLines(text.split(u'\n'), 1, false);
}
