// The tunnel service's check of the OpenVPN configuration a user hands over: every directive that
// would run a program, load code or touch a file as root is refused by name, in every spelling
// OpenVPN itself accepts; what the engine sends for a profile passes.
#include "tunnel_config.h"

#include <QtTest>

namespace {

// What the engine sends for a PKCS#12 profile made by the manager: the profile's lines (files
// commented out), the command line's flags, the files inline.
const QString kEngineConfig = QStringLiteral(
    "#\n# qLumarVpnName Office\n#\nremote vpn.example.org 1194\n# [qlumar_openvpn] rport 1194\n"
    "# [qlumar_openvpn] pkcs12 \"/home/u/My Certs/me.p12\"\n\n#\n# configuration template\n#\n\n"
    "client\nproto udp\nnobind\npersist-key\npersist-tun\nremote-cert-tls server\ncipher AES-256-GCM\n"
    "verb 3\ndev "
    "tun\nfloat\npull\ntls-client\n<pkcs12>"
    "\nMIIKYQIBAzCCCicGCSqGSIb3DQEHAaCCChgEggoUMIIKEDCCBEcGCSqGSIb3DQEH\n"
    "</pkcs12>\n<ca>\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n</ca>\n");

} // namespace

class TunnelConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TunnelConfigTest::accepted_data()
{
    QTest::addColumn<QString>("config");
    QTest::newRow("what the engine sends for a PKCS#12 profile") << kEngineConfig;
    QTest::newRow("CRLF line ends") << QString(kEngineConfig).replace("\n", "\r\n");
    QTest::newRow("every inline block") << QStringLiteral(
        "<ca>\nx\n</ca>\n<cert>\nx\n</cert>\n<key>\nx\n</key>\n<tls-auth>\nx\n</tls-auth>\nkey-direction 1\n"
        "<tls-crypt>\nx\n</tls-crypt>\n<tls-crypt-v2>\nx\n</tls-crypt-v2>\n<dh>\nx\n</dh>\n"
        "<extra-certs>\nx\n</extra-certs>\n<secret>\nx\n</secret>\n<crl-verify>\nx\n</crl-verify>\n"
        "<http-proxy-user-pass>\nx\n</http-proxy-user-pass>\n<auth-user-pass>\nx\n</auth-user-pass>\n"
        "<peer-fingerprint>\nx\n</peer-fingerprint>\n");
    QTest::newRow("a block's content is not read as directives")
        << QStringLiteral("<ca>\nup /bin/sh\nplugin x.so\n</ca>\n");
    QTest::newRow("connection blocks") << QStringLiteral(
        "<connection>\nremote a.example.org 1194 udp\n</connection>\n<connection>\nremote b.example.org 443 "
        "tcp\nhttp-proxy proxy.example.org 8080\n</connection>\n");
    QTest::newRow("client options") << QStringLiteral(
        "client\ndev tun\ntopology subnet\nredirect-gateway def1\ndhcp-option DNS 10.0.0.1\n"
        "dns server 0 address 10.0.0.1\nroute 10.1.0.0 255.255.0.0\npull-filter ignore route\n"
        "data-ciphers AES-256-GCM:CHACHA20-POLY1305\ntls-version-min 1.2\nverify-x509-name server name\n"
        "keepalive 10 60\nauth-nocache\nauth-retry nointeract\nmute-replay-warnings\n");
    QTest::newRow("auth-user-pass asked over management") << QStringLiteral("auth-user-pass\n");
    QTest::newRow("a token key kept by the engine")
        << QStringLiteral("management-external-key pkcs1 pss\nmanagement-external-cert token\n");
    QTest::newRow("script-security 1 and 0") << QStringLiteral("script-security 1\nscript-security 0\n");
    QTest::newRow("harmless setenv") << QStringLiteral(
        "setenv opt block-outside-dns\nsetenv FORWARD_COMPATIBLE 1\n"
        "setenv UV_ID 7\nsetenv-safe NAME value\n");
    QTest::newRow("http proxy asking over management")
        << QStringLiteral("http-proxy proxy.example.org 8080 auto\nsocks-proxy 127.0.0.1 1080\n");
    QTest::newRow("the system's p11-kit proxy")
        << QStringLiteral("pkcs11-providers %1\npkcs11-id-management\n").arg(allowedPkcs11Modules().first());
    QTest::newRow("comments in both styles, indented")
        << QStringLiteral("# up /bin/sh\n; plugin x.so\n   # log /tmp/x\nremote a 1 # up /bin/sh\n");
}

void TunnelConfigTest::accepted()
{
    QFETCH(QString, config);
    const TunnelConfigCheck check = checkTunnelConfig(config);
    QVERIFY2(check.ok, qPrintable(check.error));
    QVERIFY(check.directive.isEmpty());
}

void TunnelConfigTest::refused_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("directive");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    const QString program = QStringLiteral("runs a program as root");
    const QString code = QStringLiteral("loads code");
    const QString file = QStringLiteral("reads or writes a file as root");
    const QString service = QStringLiteral("the tunnel service sets it itself");
    const QString notAllowed = QStringLiteral("not allowed");

    const QList<QPair<QStringList, QString>> groups{
        {{"up /bin/sh", "down /bin/sh", "down-pre", "route-up /bin/sh", "route-pre-down /bin/sh",
          "ipchange /bin/sh", "tls-verify /bin/sh", "learn-address /bin/sh",
          "auth-user-pass-verify /bin/sh via-env", "client-connect /bin/sh", "client-disconnect /bin/sh",
          "client-crresponse /bin/sh", "tls-crypt-v2-verify /bin/sh", "iproute /tmp/ip",
          "setcon unconfined_t"},
         program},
        {{"plugin /tmp/evil.so", "engine pkcs11", "providers legacy default"}, code},
        {{"config /root/other.conf",
          "cd /root",
          "chroot /",
          "log /etc/passwd",
          "log-append /etc/shadow",
          "status /etc/x",
          "writepid /etc/x",
          "tmp-dir /root",
          "ca /etc/shadow",
          "capath /root",
          "cert /root/c",
          "key /root/k",
          "pkcs12 /root/p",
          "tls-auth /root/ta 1",
          "tls-crypt /root/tc",
          "tls-crypt-v2 /root/t",
          "dh /root/dh",
          "crl-verify /root/crl",
          "extra-certs /root/e",
          "askpass /root/pw",
          "secret /root/s",
          "http-proxy-user-pass /root/pw",
          "replay-persist /root/r",
          "dev-node /dev/sda",
          "tls-export-cert /root",
          "auth-user-pass /root/pw",
          "genkey secret /etc/x",
          "mktun",
          "rmtun",
          "http-proxy proxy.example.org 8080 /root/pw",
          "socks-proxy proxy.example.org 1080 /root/pw"},
         file},
        {{"user root", "group root", "daemon", "syslog", "nice -20", "management 127.0.0.1 7505",
          "management-client", "management-client-user root", "management-client-group root",
          "management-hold", "management-query-passwords", "management-signal", "management-up-down",
          "management-log-cache 10", "management-forget-disconnect", "management-client-auth",
          "management-query-proxy", "management-query-remote"},
         service},
        {{"client-config-dir /etc", "ifconfig-pool-persist /etc/x"}, file},
        {{"server 10.8.0.0 255.255.255.0", "mode server", "tls-server", "push \"route 10.0.0.0\"",
          "duplicate-cn", "port-share 127.0.0.1 80", "inetd", "test-crypto", "no-such-directive",
          "dns-updown /bin/sh", "show-ciphers"},
         notAllowed},
    };
    for (const auto& [lines, reason] : groups) {
        for (const QString& line : lines) {
            const QString directive = line.section(' ', 0, 0);
            QTest::addRow("%s", qPrintable(line))
                << QStringLiteral("client\n%1\nverb 3\n").arg(line) << directive << 2 << reason;
        }
    }

    QTest::newRow("script-security 2")
        << QStringLiteral("script-security 2\n") << "script-security" << 1 << "above 1";
    QTest::newRow("script-security junk")
        << QStringLiteral("script-security x\n") << "script-security" << 1 << "above 1";
    QTest::newRow("setenv LD_PRELOAD")
        << QStringLiteral("setenv LD_PRELOAD /tmp/x.so\n") << "setenv" << 1 << "LD_PRELOAD";
    QTest::newRow("setenv PATH") << QStringLiteral("setenv PATH /tmp\n") << "setenv" << 1 << "PATH";
    // OpenVPN reads "setenv opt X" as X.
    QTest::newRow("setenv opt up") << QStringLiteral("setenv opt up /bin/sh\n") << "up" << 1 << program;
    QTest::newRow("setenv opt setenv opt plugin")
        << QStringLiteral("setenv opt setenv opt plugin x.so\n") << "plugin" << 1 << code;
    QTest::newRow("setenv opt setenv LD_PRELOAD")
        << QStringLiteral("setenv opt setenv LD_PRELOAD /tmp/x.so\n") << "setenv" << 1 << "LD_PRELOAD";
    QTest::newRow("pkcs11-providers of the user's own")
        << QStringLiteral("pkcs11-providers /home/u/evil.so\n") << "pkcs11-providers" << 1
        << "/home/u/evil.so";
    QTest::newRow("pkcs11-providers: the proxy and another")
        << QStringLiteral("pkcs11-providers %1 /tmp/evil.so\n").arg(allowedPkcs11Modules().first())
        << "pkcs11-providers" << 1 << "/tmp/evil.so";

    // The spellings OpenVPN accepts as well.
    QTest::newRow("a leading --") << QStringLiteral("--up /bin/sh\n") << "up" << 1 << program;
    QTest::newRow("quoted") << QStringLiteral("\"up\" /bin/sh\n") << "up" << 1 << program;
    QTest::newRow("single-quoted") << QStringLiteral("'plu'gin x.so\n") << "plugin" << 1 << code;
    QTest::newRow("escaped") << QStringLiteral("u\\p /bin/sh\n") << "up" << 1 << program;
    QTest::newRow("indented with a tab") << QStringLiteral("\t up /bin/sh\n") << "up" << 1 << program;
    QTest::newRow("after a CR line") << QStringLiteral("client\r\nup /bin/sh\r\n") << "up" << 2 << program;
    QTest::newRow("# inside a word is no comment")
        << QStringLiteral("up#x /bin/sh\n") << "up#x" << 1 << notAllowed;
    QTest::newRow("in a connection block")
        << QStringLiteral("client\n<connection>\nremote a 1\nup /bin/sh\n</connection>\n") << "up" << 4
        << program;
    QTest::newRow("nested connection block")
        << QStringLiteral("<connection>\n<connection>\n</connection>\n</connection>\n") << "connection" << 2
        << notAllowed;
    QTest::newRow("unknown inline block")
        << QStringLiteral("<plugin>\nx\n</plugin>\n") << "plugin" << 1 << notAllowed;
    QTest::newRow("unclosed inline block")
        << QStringLiteral("client\n<ca>\nx\n") << "ca" << 2 << "not closed";
    // Whether text after an end tag still ends the block is not something to rely on.
    QTest::newRow("end tag with a tail")
        << QStringLiteral("<ca>\nx\n</ca> tail\nup /bin/sh\n") << "ca" << 3 << "text after the end tag </ca>";
    QTest::newRow("end tag with a tail, then another block")
        << QStringLiteral("<ca>\n</ca>x\n<cert>\n</ca>\nup /bin/sh\n</cert>\n") << "ca" << 2
        << "text after the end tag";
    // OpenVPN reads long lines in pieces, each a line of its own.
    QTest::newRow("a line too long to be read whole")
        << QStringLiteral("remote %1 up /bin/sh\n").arg(QString(kMaxConfigLineBytes, 'a')) << "remote" << 1
        << "longer than";
    QTest::newRow("a too long line in a block")
        << QStringLiteral("<ca>\n%1</ca>\nup /bin/sh\n</ca>\n").arg(QString(kMaxConfigLineBytes, 'a')) << "ca"
        << 2 << "longer than";
    QTest::newRow("NUL byte") << QStringLiteral("client\nremote a 1") + QChar(0) + QStringLiteral("\n")
                              << "remote" << 2 << "NUL";
}

void TunnelConfigTest::refused()
{
    QFETCH(QString, config);
    QFETCH(QString, directive);
    QFETCH(int, line);
    QFETCH(QString, reason);

    const TunnelConfigCheck check = checkTunnelConfig(config);
    QVERIFY(!check.ok);
    QCOMPARE(check.directive, directive);
    QCOMPARE(check.line, line);
    QVERIFY2(check.error.startsWith(
                 QStringLiteral("Refused directive '%1' in line %2: ").arg(directive).arg(line)),
             qPrintable(check.error));
    QVERIFY2(check.error.contains(reason), qPrintable(check.error));
}

QTEST_GUILESS_MAIN(TunnelConfigTest)
#include "tst_tunnelconfig.moc"
