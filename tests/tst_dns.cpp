#include "DnsApplier.h"
#include "DnsSettings.h"
#include "FakeResolved.h"
#include "TestSupport.h"
#include "TunnelHookListener.h"

// DNS for the tunnel service: what OpenVPN's environment says, the real hook program talking to
// the listener, and the applier against a stand-in systemd-resolved on a private bus of our own.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <QtTest>

#include <grp.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

constexpr int kTimeoutMs = 20000;

QProcessEnvironment environment(const QStringList& assignments)
{
    QProcessEnvironment env;
    for (const QString& assignment : assignments) {
        const int equals = assignment.indexOf(QLatin1Char('='));
        env.insert(assignment.left(equals), assignment.mid(equals + 1));
    }
    return env;
}

DnsSettings settings(const QStringList& servers, const QStringList& search, const QStringList& routing,
                     bool defaultRoute)
{
    DnsSettings s;
    s.servers = servers;
    s.searchDomains = search;
    s.routingDomains = routing;
    s.defaultRoute = defaultRoute;
    return s;
}

QString describe(const DnsSettings& s)
{
    return QStringLiteral("servers=[%1] search=[%2] routing=[%3] defaultRoute=%4")
        .arg(s.servers.join(QLatin1Char(' ')), s.searchDomains.join(QLatin1Char(' ')),
             s.routingDomains.join(QLatin1Char(' ')),
             s.defaultRoute ? QStringLiteral("yes") : QStringLiteral("no"));
}

QByteArray report(const QList<QPair<QByteArray, QByteArray>>& variables)
{
    QByteArray out = "QLUMAR-TUNNEL-HOOK 1 " + QByteArray::number(variables.size()) + "\n";
    for (const auto& [name, value] : variables) {
        out += QByteArray::number(name.size()) + ":" + name + "," + QByteArray::number(value.size()) + ":" +
               value + ",";
    }
    return out;
}

} // namespace

class DnsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void settingsFromEnvironment_data();
    void settingsFromEnvironment();
    void domainNameLimits_data();
    void domainNameLimits();

    void hookReportsTunnelToListener();
    void hookForwardsOnlyDnsVariablesVerbatim();
    void hookFailsWhenServiceDoesNotAccept_data();
    void hookFailsWhenServiceDoesNotAccept();
    void listenerAnswersReports_data();
    void listenerAnswersReports();
    void hookOfAnotherUser_data();
    void hookOfAnotherUser();

    void appliesThroughResolved_data();
    void appliesThroughResolved();
    void revertsThroughResolvedOnceAndOnDestruction();
    void resolvedRefusalIsReportedAndUndone();
    void fallsBackToResolvconf();
    void missingResolvconfIsReported();
    void nothingAppliedForUnknownLinkOrNoServers();

private:
    QString writeResolvconfStandIn(const QString& dir);
    static QStringList readLines(const QString& path);

    QTemporaryDir m_busDir;
    QProcess m_busDaemon;
    QString m_busAddress;
    int m_connections = 0;
};

void DnsTest::initTestCase()
{
    qRegisterMetaType<DnsSettings>();
    QVERIFY(m_busDir.isValid());
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        QSKIP("dbus-daemon is not installed (scripts/install-deps installs it)");
    }
    const QString config = m_busDir.filePath(QStringLiteral("bus.conf"));
    QVERIFY(ScratchHome::writeFile(
        config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig>\n"
                "  <listen>unix:dir=" +
                    m_busDir.path().toUtf8() +
                    "</listen>\n"
                    "  <auth>EXTERNAL</auth>\n"
                    "  <policy context=\"default\">\n"
                    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                    "    <allow eavesdrop=\"true\"/>\n"
                    "    <allow own=\"*\"/>\n"
                    "  </policy>\n"
                    "</busconfig>\n"));
    // The bus must not outlive the test, however the test ends.
    m_busDaemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_busDaemon.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
    QVERIFY(m_busDaemon.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_busDaemon.canReadLine(), kTimeoutMs);
    m_busAddress = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
    QVERIFY(m_busAddress.startsWith(QLatin1String("unix:")));
}

void DnsTest::cleanupTestCase()
{
    if (m_busDaemon.state() != QProcess::NotRunning) {
        m_busDaemon.terminate();
        QVERIFY(m_busDaemon.waitForFinished());
    }
}

void DnsTest::settingsFromEnvironment_data()
{
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<DnsSettings>("expected");

    QTest::newRow("nothing pushed") << QStringList{QStringLiteral("dev=tun0")} << DnsSettings();
    QTest::newRow("dhcp-option servers and domain, in option order")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1",
                       "foreign_option_2=dhcp-option DNS 10.8.0.2",
                       "foreign_option_3=dhcp-option DOMAIN corp.example"}
        << settings({"10.8.0.1", "10.8.0.2"}, {"corp.example"}, {}, false);
    QTest::newRow("options ordered by number, not by name")
        << QStringList{"foreign_option_10=dhcp-option DNS 10.0.0.10",
                       "foreign_option_2=dhcp-option DNS 10.0.0.2",
                       "foreign_option_1=dhcp-option DNS 10.0.0.1"}
        << settings({"10.0.0.1", "10.0.0.2", "10.0.0.10"}, {}, {}, false);
    QTest::newRow("DNS6 and IPv6 under DNS, canonical spelling")
        << QStringList{"foreign_option_1=dhcp-option DNS6 2001:DB8:0::53",
                       "foreign_option_2=dhcp-option DNS fd00::1"}
        << settings({"2001:db8::53", "fd00::1"}, {}, {}, false);
    QTest::newRow("every domain spelling, duplicates and case folded")
        << QStringList{"foreign_option_1=dhcp-option DOMAIN Corp.Example.",
                       "foreign_option_2=dhcp-option DOMAIN-SEARCH lab.example",
                       "foreign_option_3=dhcp-option ADAPTER_DOMAIN_SUFFIX old.example",
                       "foreign_option_4=dhcp-option DOMAIN-SEARCH corp.example",
                       "foreign_option_5=dhcp-option DNS 10.8.0.1",
                       "foreign_option_6=dhcp-option DNS 10.8.0.1"}
        << settings({"10.8.0.1"}, {"corp.example", "old.example", "lab.example"}, {}, false);
    QTest::newRow("dns options: servers by id, addresses by number, resolve-domains route")
        << QStringList{"dns_server_1_address_1=10.0.0.1",
                       "dns_server_1_address_2=fd00::53",
                       "dns_server_0_address_1=10.0.0.9",
                       "dns_server_1_resolve_domain_1=intra.example",
                       "dns_server_1_resolve_domain_2=lab.intra.example",
                       "dns_search_domain_2=b.example",
                       "dns_search_domain_1=a.example"}
        << settings({"10.0.0.9", "10.0.0.1", "fd00::53"}, {"a.example", "b.example"},
                    {"intra.example", "lab.intra.example"}, false);
    QTest::newRow("dns options replace the dhcp-option values they cover")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1",
                       "foreign_option_2=dhcp-option DOMAIN old.example",
                       "foreign_option_3=dhcp-option DOMAIN-SEARCH search.example",
                       "dns_server_1_address_1=10.0.0.1", "dns_search_domain_1=new.example"}
        << settings({"10.0.0.1"}, {"old.example", "new.example"}, {}, false);
    QTest::newRow("dns servers alone leave the dhcp-option domains")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1",
                       "foreign_option_2=dhcp-option DOMAIN-SEARCH search.example",
                       "dns_server_1_address_1=10.0.0.1"}
        << settings({"10.0.0.1"}, {"search.example"}, {}, false);
    QTest::newRow("dns servers on another port or transport are left out")
        << QStringList{"dns_server_1_address_1=10.0.0.1", "dns_server_1_port_1=5353",
                       "dns_server_1_address_2=10.0.0.2", "dns_server_1_port_2=53",
                       "dns_server_2_address_1=10.0.0.3", "dns_server_2_transport=DoT",
                       "dns_server_3_address_1=10.0.0.4", "dns_server_3_transport=plain"}
        << settings({"10.0.0.2", "10.0.0.4"}, {}, {}, false);
    QTest::newRow("resolve-domains of a server with no usable address are left out")
        << QStringList{"dns_server_1_address_1=10.0.0.1", "dns_server_1_port_1=5353",
                       "dns_server_1_resolve_domain_1=intra.example", "dns_server_2_address_1=10.0.0.2",
                       "dns_server_2_resolve_domain_1=lab.example"}
        << settings({"10.0.0.2"}, {}, {"lab.example"}, false);
    // As OpenVPN 2.6.14 sets it for route-up, pushed "dhcp-option DNS 10.99.0.53", "dhcp-option
    // DOMAIN corp.example", "redirect-gateway def1", "dns server 1 address 10.99.0.54" and "dns
    // search-domains lab.example": it rewrites the dhcp-options from the dns ones itself.
    QTest::newRow("OpenVPN 2.6 route-up environment")
        << QStringList{"dev=tun1",
                       "foreign_option_1=dhcp-option DOMAIN corp.example",
                       "foreign_option_2=dhcp-option DNS 10.99.0.54",
                       "foreign_option_3=dhcp-option DOMAIN-SEARCH lab.example",
                       "dns_server_1_address_1=10.99.0.54",
                       "dns_search_domain_1=lab.example",
                       "redirect_gateway=1",
                       "route_vpn_gateway=10.99.0.1",
                       "script_type=route-up"}
        << settings({"10.99.0.54"}, {"corp.example", "lab.example"}, {}, true);
    QTest::newRow("hostile values dropped, honest ones kept")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1\nnameserver 6.6.6.6",
                       "foreign_option_2=dhcp-option DOMAIN evil.example\nsearch attacker.example",
                       "foreign_option_3=dhcp-option DOMAIN a.example b.example",
                       "foreign_option_4=dhcp-option DNS 10.8.0.1;reboot",
                       "foreign_option_5=dhcp-option DNS 010.8.0.1",
                       "foreign_option_6=dhcp-option DNS 0.0.0.0",
                       "foreign_option_7=dhcp-option DNS fe80::1%eth0",
                       "foreign_option_8=dhcp-option DNS 1",
                       "foreign_option_9=dhcp-option DNS 224.0.0.251",
                       "foreign_option_10=dhcp-option DOMAIN -bad.example",
                       "foreign_option_11=dhcp-option DOMAIN exa_mple.example",
                       "foreign_option_12=dhcp-option DOMAIN ~.",
                       "foreign_option_13=dhcp-option DOMAIN .",
                       "foreign_option_14=dhcp-option DOMAIN b\u00fccher.example",
                       "foreign_option_15=dhcp-option DOMAIN a..example",
                       "foreign_option_16=dhcp-option DNS  10.8.0.3",
                       "foreign_option_17=dhcp-option WINS 10.8.0.4",
                       "foreign_option_18=route 10.8.0.5",
                       "foreign_option_19=dhcp-option DNS 10.8.0.7",
                       "foreign_option_20=dhcp-option DOMAIN good.example",
                       "foreign_option_21=dhcp-option DNS 10.8.0.8\n",
                       "foreign_option_22=dhcp-option DOMAIN late.example\n",
                       "dns_server_1_resolve_domain_1=../../etc",
                       "dns_search_domain_1=x.example search y.example"}
        << settings({"10.8.0.7"}, {"good.example"}, {}, false);
    QTest::newRow("hostile dns servers make no fallback to dhcp-option")
        << QStringList{"dns_server_1_address_1=10.0.0.1 10.0.0.2",
                       "foreign_option_1=dhcp-option DNS 10.8.0.1"}
        << DnsSettings();
    QTest::newRow("redirect-gateway reported by OpenVPN")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1", "redirect_gateway=2"}
        << settings({"10.8.0.1"}, {}, {}, true);
    QTest::newRow("redirect-gateway not taken")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1", "redirect_gateway=0"}
        << settings({"10.8.0.1"}, {}, {}, false);
    QTest::newRow("redirect-gateway garbage")
        << QStringList{"foreign_option_1=dhcp-option DNS 10.8.0.1", "redirect_gateway=1; rm"}
        << settings({"10.8.0.1"}, {}, {}, false);
    QTest::newRow("pushed default route in two halves")
        << QStringList{"route_network_1=0.0.0.0", "route_netmask_1=128.0.0.0", "route_network_2=128.0.0.0",
                       "route_netmask_2=128.0.0.0"}
        << settings({}, {}, {}, true);
    QTest::newRow("one half is not the default route")
        << QStringList{"route_network_1=0.0.0.0", "route_netmask_1=128.0.0.0", "route_network_2=10.0.0.0",
                       "route_netmask_2=255.0.0.0"}
        << settings({}, {}, {}, false);
    // OpenVPN 2.6.14's up environment for a pushed "redirect-gateway ipv6 !ipv4".
    QTest::newRow("redirect-gateway ipv6 as OpenVPN routes it, before redirect_gateway is set")
        << QStringList{"route_ipv6_network_1=::/3", "route_ipv6_network_2=2000::/4",
                       "route_ipv6_network_3=3000::/4", "route_ipv6_network_4=fc00::/7",
                       "route_net_gateway=0.0.0.0"}
        << settings({}, {}, {}, true);
    QTest::newRow("redirect-gateway ipv6 routes")
        << QStringList{"route_ipv6_network_1=2000::/4", "route_ipv6_network_2=3000::/4"}
        << settings({}, {}, {}, true);
}

void DnsTest::settingsFromEnvironment()
{
    QFETCH(QStringList, env);
    QFETCH(DnsSettings, expected);
    const DnsSettings actual = dnsSettingsFromEnvironment(environment(env));
    QCOMPARE(describe(actual), describe(expected));
    QCOMPARE(actual.isEmpty(), expected.servers.isEmpty() && expected.searchDomains.isEmpty() &&
                                   expected.routingDomains.isEmpty());
}

void DnsTest::domainNameLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    const QString label63(63, QLatin1Char('a'));
    const QString name253 = label63 + "." + label63 + "." + label63 + "." + QString(61, QLatin1Char('b'));
    QTest::newRow("label of 63") << label63 + ".example" << true;
    QTest::newRow("label of 64") << label63 + "a.example" << false;
    QTest::newRow("name of 253") << name253 << true;
    QTest::newRow("name of 253 and the root dot") << name253 + "." << true;
    QTest::newRow("name of 254") << name253 + "b" << false;
    QTest::newRow("single label") << QStringLiteral("intranet") << true;
    QTest::newRow("digits and inner hyphens") << QStringLiteral("xn--bcher-kva.example") << true;
    QTest::newRow("trailing hyphen") << QStringLiteral("bad-.example") << false;
    QTest::newRow("space") << QStringLiteral("a example") << false;
    QTest::newRow("empty") << QString() << false;
}

void DnsTest::domainNameLimits()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    const QString env = QStringLiteral("foreign_option_1=dhcp-option DOMAIN ") + name;
    const DnsSettings s = dnsSettingsFromEnvironment(environment({env}));
    QCOMPARE(s.searchDomains.size(), valid ? 1 : 0);
}

void DnsTest::hookReportsTunnelToListener()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TunnelHookListener listener;
    QString error;
    const QString path = dir.filePath(QStringLiteral("hook.sock"));
    QVERIFY2(listener.listen(path, &error), qPrintable(error));
    QCOMPARE(listener.socketPath(), path);
    QCOMPARE(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
    QSignalSpy up(&listener, &TunnelHookListener::tunnelUp);

    QProcess hook;
    hook.setProcessEnvironment(environment(
        {"dev=tun7", "foreign_option_1=dhcp-option DNS 10.8.0.1",
         "foreign_option_2=dhcp-option DOMAIN corp.example", "dns_server_1_address_1=10.8.0.53",
         "dns_server_1_resolve_domain_1=intra.example", "redirect_gateway=1", "PATH=/usr/bin:/bin"}));
    QSignalSpy finished(&hook, &QProcess::finished);
    // As OpenVPN runs an up command: its own arguments after ours.
    hook.start(builtProgram(QStringLiteral("qlumar-tunnel-hook")),
               {path, "tun7", "1500", "0", "10.8.0.2", "255.255.255.0", "init"});
    QVERIFY(finished.wait(kTimeoutMs));
    QCOMPARE(hook.exitStatus(), QProcess::NormalExit);
    QCOMPARE(hook.exitCode(), 0);
    QCOMPARE(up.size(), 1);
    QCOMPARE(up.at(0).at(0).toString(), QStringLiteral("tun7"));
    QCOMPARE(describe(up.at(0).at(1).value<DnsSettings>()),
             describe(settings({"10.8.0.53"}, {"corp.example"}, {"intra.example"}, true)));
}

void DnsTest::hookForwardsOnlyDnsVariablesVerbatim()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("raw.sock"));
    QLocalServer server;
    QVERIFY(server.listen(path));
    QByteArray received;
    QProcessEnvironment parsed;
    connect(&server, &QLocalServer::newConnection, this, [&] {
        QLocalSocket* socket = server.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, socket, [&, socket] {
            received += socket->readAll();
            if (TunnelHookReport::parse(received, &parsed) == TunnelHookReport::Status::Complete) {
                socket->write("OK\n");
                socket->flush();
            }
        });
    });

    // A pushed value that tries to end its record and add a "dev" of its own.
    const QString injected = QStringLiteral("dhcp-option DOMAIN a.example,3:dev,4:eth0,\ndev=eth0");
    QProcess hook;
    hook.setProcessEnvironment(environment(
        {"dev=tun0", "foreign_option_1=" + injected, "dns_server_1_address_1=10.0.0.1", "redirect_gateway=1",
         "route_network_1=0.0.0.0", "route_netmask_1=128.0.0.0", "route_ipv6_network_1=2000::/4",
         "password=secret", "username=alice", "PATH=/usr/bin:/bin", "HOME=/root", "config=/etc/x.conf",
         "foreign_option_x=dhcp-option DNS 6.6.6.6", "dns=1", "route_vpn_gateway=10.8.0.1"}));
    QSignalSpy finished(&hook, &QProcess::finished);
    hook.start(builtProgram(QStringLiteral("qlumar-tunnel-hook")), {path});
    QVERIFY(finished.wait(kTimeoutMs));
    QCOMPARE(hook.exitCode(), 0);

    QStringList keys = parsed.keys();
    keys.sort();
    QCOMPARE(keys, (QStringList{"dev", "dns_server_1_address_1", "foreign_option_1", "redirect_gateway",
                                "route_ipv6_network_1", "route_netmask_1", "route_network_1"}));
    QCOMPARE(parsed.value("dev"), QStringLiteral("tun0"));
    QCOMPARE(parsed.value("foreign_option_1"), injected);
}

void DnsTest::hookFailsWhenServiceDoesNotAccept_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("dev");
    QTest::newRow("no service at the socket") << false << QStringLiteral("tun0");
    QTest::newRow("device name refused") << true << QStringLiteral("../../etc");
    QTest::newRow("device name with a line break") << true << QStringLiteral("tun0\n");
    QTest::newRow("no device reported") << true << QString();
}

void DnsTest::hookFailsWhenServiceDoesNotAccept()
{
    QFETCH(bool, listening);
    QFETCH(QString, dev);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("hook.sock"));
    TunnelHookListener listener;
    QString error;
    if (listening) {
        QVERIFY2(listener.listen(path, &error), qPrintable(error));
    }
    QSignalSpy up(&listener, &TunnelHookListener::tunnelUp);

    QStringList env{"foreign_option_1=dhcp-option DNS 10.8.0.1"};
    if (!dev.isEmpty()) {
        env << "dev=" + dev;
    }
    QProcess hook;
    hook.setProcessEnvironment(environment(env));
    QSignalSpy finished(&hook, &QProcess::finished);
    hook.start(builtProgram(QStringLiteral("qlumar-tunnel-hook")), {path});
    QVERIFY(finished.wait(kTimeoutMs));
    QCOMPARE(hook.exitStatus(), QProcess::NormalExit);
    QVERIFY(hook.exitCode() != 0);
    QCOMPARE(up.size(), 0);
}

void DnsTest::hookOfAnotherUser_data()
{
    QTest::addColumn<bool>("childOfAdmitted");
    QTest::newRow("child of the connection's OpenVPN") << true;
    QTest::newRow("any other process") << false;
}

// After a restart OpenVPN runs the hook as its own user: a report from that user counts only when
// it comes from a child of the one OpenVPN the connection admits (here: this test).
void DnsTest::hookOfAnotherUser()
{
    QFETCH(bool, childOfAdmitted);
    const group* nogroup = ::getgrnam("nogroup");
    if (::geteuid() != 0 || !nogroup || QStandardPaths::findExecutable("setpriv").isEmpty()) {
        QSKIP("needs root, setpriv and the group nogroup");
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.path());
    QVERIFY(::chown(path.constData(), 0, nogroup->gr_gid) == 0 && ::chmod(path.constData(), 0710) == 0);
    TunnelHookListener listener;
    QString error;
    QVERIFY2(listener.listen(dir.filePath(QStringLiteral("hook.sock")), &error), qPrintable(error));
    QVERIFY2(listener.shareWithGroup(nogroup->gr_gid, &error), qPrintable(error));
    listener.admitChildrenOf(childOfAdmitted ? QCoreApplication::applicationPid() : 1);
    QSignalSpy up(&listener, &TunnelHookListener::tunnelUp);

    QProcess hook;
    hook.setProcessEnvironment(environment({"dev=lo", "foreign_option_1=dhcp-option DNS 10.8.0.1"}));
    QSignalSpy finished(&hook, &QProcess::finished);
    // setpriv becomes the hook: its parent is this process.
    hook.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
                           builtProgram(QStringLiteral("qlumar-tunnel-hook")), listener.socketPath()});
    QVERIFY(finished.wait(kTimeoutMs));
    QCOMPARE(hook.exitCode() == 0, childOfAdmitted);
    QCOMPARE(up.size(), childOfAdmitted ? 1 : 0);
}

void DnsTest::listenerAnswersReports_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray good = report({{"dev", "tun0"}, {"foreign_option_1", "dhcp-option DNS 10.8.0.1"}});
    QTest::newRow("whole report") << QList<QByteArray>{good} << QByteArray("OK\n");
    QTest::newRow("report in pieces")
        << QList<QByteArray>{good.left(5), good.mid(5, 20), good.mid(25)} << QByteArray("OK\n");
    QTest::newRow("wrong magic") << QList<QByteArray>{"HELLO 1 1\n3:dev,4:tun0,"} << QByteArray("ERROR\n");
    QTest::newRow("variable the hook never forwards")
        << QList<QByteArray>{report({{"dev", "tun0"}, {"PATH", "/tmp"}})} << QByteArray("ERROR\n");
    QTest::newRow("length that does not match")
        << QList<QByteArray>{"QLUMAR-TUNNEL-HOOK 1 1\n3:dev,2:tun0,"} << QByteArray("ERROR\n");
    QTest::newRow("more than the count says")
        << QList<QByteArray>{good + "3:dev,4:eth0,"} << QByteArray("ERROR\n");
    QTest::newRow("count beyond the limit")
        << QList<QByteArray>{"QLUMAR-TUNNEL-HOOK 1 99999\n"} << QByteArray("ERROR\n");
    QTest::newRow("oversized value") << QList<QByteArray>{report(
                                            {{"dev", "tun0"}, {"foreign_option_1", QByteArray(5000, 'a')}})}
                                     << QByteArray("ERROR\n");
}

void DnsTest::listenerAnswersReports()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, answer);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TunnelHookListener listener;
    QString error;
    QVERIFY2(listener.listen(dir.filePath(QStringLiteral("hook.sock")), &error), qPrintable(error));
    QSignalSpy up(&listener, &TunnelHookListener::tunnelUp);

    QLocalSocket client;
    client.connectToServer(listener.socketPath());
    QVERIFY(client.waitForConnected(kTimeoutMs));
    for (const QByteArray& chunk : chunks) {
        client.write(chunk);
        QVERIFY(client.waitForBytesWritten(kTimeoutMs));
        QCoreApplication::processEvents();
    }
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll()).endsWith('\n'), kTimeoutMs);
    QCOMPARE(received, answer);
    QCOMPARE(up.size(), answer == "OK\n" ? 1 : 0);
}

void DnsTest::appliesThroughResolved_data()
{
    QTest::addColumn<DnsSettings>("dns");
    QTest::addColumn<QStringList>("domains");

    QTest::newRow("default route: root routing domain")
        << settings({"10.8.0.1", "fd00::53"}, {"corp.example"}, {"intra.example"}, true)
        << QStringList{"corp.example/search", "intra.example/routing", "./routing"};
    QTest::newRow("split tunnel: only its own domains")
        << settings({"10.8.0.1", "fd00::53"}, {"corp.example"}, {"intra.example", "corp.example"}, false)
        << QStringList{"corp.example/search", "intra.example/routing"};
}

void DnsTest::appliesThroughResolved()
{
    QFETCH(DnsSettings, dns);
    QFETCH(QStringList, domains);
    FakeResolvedHost resolved(m_busAddress);
    QVERIFY(resolved.isRunning());
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    {
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name));
        QString error;
        QVERIFY2(applier.apply(QStringLiteral("lo"), dns, &error), qPrintable(error));
        const int lo = static_cast<int>(if_nametoindex("lo"));
        const QList<BusCall> calls = resolved.fake().calls();
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls.at(0).member, QStringLiteral("SetLinkDNS"));
        QCOMPARE(calls.at(0).signature, QStringLiteral("ia(iay)"));
        QCOMPARE(calls.at(0).ifindex, lo);
        QCOMPARE(calls.at(0).values,
                 (QStringList{QStringLiteral("%1/0a080001").arg(AF_INET),
                              QStringLiteral("%1/fd000000000000000000000000000053").arg(AF_INET6)}));
        QCOMPARE(calls.at(1).member, QStringLiteral("SetLinkDomains"));
        QCOMPARE(calls.at(1).signature, QStringLiteral("ia(sb)"));
        QCOMPARE(calls.at(1).ifindex, lo);
        QCOMPARE(calls.at(1).values, domains);
        QCOMPARE(calls.at(2).member, QStringLiteral("SetLinkDefaultRoute"));
        QCOMPARE(calls.at(2).signature, QStringLiteral("ib"));
        QCOMPARE(calls.at(2).ifindex, lo);
        QCOMPARE(calls.at(2).values,
                 QStringList{dns.defaultRoute ? QStringLiteral("true") : QStringLiteral("false")});
    }
    QDBusConnection::disconnectFromBus(name);
}

void DnsTest::revertsThroughResolvedOnceAndOnDestruction()
{
    FakeResolvedHost resolved(m_busAddress);
    QVERIFY(resolved.isRunning());
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    const int lo = static_cast<int>(if_nametoindex("lo"));
    const DnsSettings dns = settings({"10.8.0.1"}, {}, {}, true);
    QString error;
    {
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name));
        QVERIFY2(applier.apply(QStringLiteral("lo"), dns, &error), qPrintable(error));
        resolved.fake().clear();
        applier.revert();
        applier.revert();
        QList<BusCall> calls = resolved.fake().calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0).member, QStringLiteral("RevertLink"));
        QCOMPARE(calls.at(0).signature, QStringLiteral("i"));
        QCOMPARE(calls.at(0).ifindex, lo);

        // A second report for the same link (a restart that kept the device): set over the first
        // in place, never through a reverted link.
        QVERIFY2(applier.apply(QStringLiteral("lo"), settings({"10.8.0.1"}, {}, {}, false), &error),
                 qPrintable(error));
        QVERIFY2(applier.apply(QStringLiteral("lo"), dns, &error), qPrintable(error));
        QStringList members;
        for (const BusCall& call : resolved.fake().calls()) {
            members << call.member;
        }
        QCOMPARE(members, (QStringList{"RevertLink", "SetLinkDNS", "SetLinkDomains", "SetLinkDefaultRoute",
                                       "SetLinkDNS", "SetLinkDomains", "SetLinkDefaultRoute"}));
        QCOMPARE(resolved.fake().calls().last().values, QStringList{"true"});
        resolved.fake().clear();
    }
    const QList<BusCall> calls = resolved.fake().calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).member, QStringLiteral("RevertLink"));
    QCOMPARE(calls.at(0).ifindex, lo);
    QDBusConnection::disconnectFromBus(name);
}

void DnsTest::resolvedRefusalIsReportedAndUndone()
{
    FakeResolvedHost resolved(m_busAddress);
    QVERIFY(resolved.isRunning());
    resolved.fake().refuse(QStringLiteral("SetLinkDomains"));
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    {
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name));
        QString error;
        QVERIFY(!applier.apply(QStringLiteral("lo"), settings({"10.8.0.1"}, {"corp.example"}, {}, false),
                               &error));
        QVERIFY2(error.contains(QLatin1String("SetLinkDomains")) &&
                     error.contains(QLatin1String("Link busy")),
                 qPrintable(error));
        QStringList members;
        for (const BusCall& call : resolved.fake().calls()) {
            members << call.member;
        }
        QCOMPARE(members, (QStringList{"SetLinkDNS", "SetLinkDomains", "RevertLink"}));
        resolved.fake().clear();
    }
    QCOMPARE(resolved.fake().calls().size(), 0);
    QDBusConnection::disconnectFromBus(name);
}

QString DnsTest::writeResolvconfStandIn(const QString& dir)
{
    const QString path = dir + QStringLiteral("/resolvconf");
    ScratchHome::writeFile(path, "#!/bin/sh\n"
                                 "echo \"$*\" >> '" +
                                     dir.toUtf8() +
                                     "/calls'\n"
                                     "cat >> '" +
                                     dir.toUtf8() +
                                     "/input'\n"
                                     "env | sort > '" +
                                     dir.toUtf8() + "/env'\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList DnsTest::readLines(const QString& path)
{
    return QString::fromUtf8(ScratchHome::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void DnsTest::fallsBackToResolvconf()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = writeResolvconfStandIn(dir.path());
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    qputenv("QLUMAR_LEAK_CHECK", "should not reach resolvconf");
    {
        // The bus runs, but nobody owns org.freedesktop.resolve1 on it.
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name), program);
        QString error;
        QVERIFY2(applier.apply(QStringLiteral("lo"),
                               settings({"10.8.0.1", "fd00::53"}, {"corp.example", "lab.example"},
                                        {"intra.example"}, true),
                               &error),
                 qPrintable(error));
        QCOMPARE(readLines(dir.filePath("calls")), QStringList{"-a lo.qlumar"});
        const QStringList input = readLines(dir.filePath("input"));
        QCOMPARE(input.mid(1), (QStringList{"nameserver 10.8.0.1", "nameserver fd00::53",
                                            "search corp.example lab.example"}));
        QVERIFY(input.value(0).startsWith(QLatin1Char('#')));
        QVERIFY(!ScratchHome::readFile(dir.filePath("env")).contains("QLUMAR_LEAK_CHECK"));

        applier.revert();
        QCOMPARE(readLines(dir.filePath("calls")), (QStringList{"-a lo.qlumar", "-d lo.qlumar -f"}));
        applier.revert();
        QCOMPARE(readLines(dir.filePath("calls")).size(), 2);
        QVERIFY2(applier.apply(QStringLiteral("lo"), settings({"10.8.0.1"}, {}, {}, false), &error),
                 qPrintable(error));
        QVERIFY2(applier.apply(QStringLiteral("lo"), settings({"10.8.0.2"}, {}, {}, false), &error),
                 qPrintable(error));
        QCOMPARE(readLines(dir.filePath("input")).last(), QStringLiteral("nameserver 10.8.0.2"));
    }
    qunsetenv("QLUMAR_LEAK_CHECK");
    QCOMPARE(readLines(dir.filePath("calls")), (QStringList{"-a lo.qlumar", "-d lo.qlumar -f", "-a lo.qlumar",
                                                            "-a lo.qlumar", "-d lo.qlumar -f"}));
    QDBusConnection::disconnectFromBus(name);
}

void DnsTest::missingResolvconfIsReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    {
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name), dir.filePath("no-resolvconf"));
        QString error;
        QVERIFY(!applier.apply(QStringLiteral("lo"), settings({"10.8.0.1"}, {}, {}, false), &error));
        QVERIFY2(error.contains(QLatin1String("resolvconf")), qPrintable(error));
    }
    QDBusConnection::disconnectFromBus(name);
}

void DnsTest::nothingAppliedForUnknownLinkOrNoServers()
{
    FakeResolvedHost resolved(m_busAddress);
    QVERIFY(resolved.isRunning());
    const QString name = QStringLiteral("applier-%1").arg(++m_connections);
    {
        DnsApplier applier(QDBusConnection::connectToBus(m_busAddress, name));
        QString error;
        QVERIFY(!applier.apply(QStringLiteral("qlumarnone0"), settings({"10.8.0.1"}, {}, {}, true), &error));
        QVERIFY2(error.contains(QLatin1String("qlumarnone0")), qPrintable(error));
        QVERIFY(!applier.apply(QStringLiteral("lo/../eth0"), settings({"10.8.0.1"}, {}, {}, true), &error));
        // Domains alone cannot be resolved through the tunnel.
        QVERIFY2(applier.apply(QStringLiteral("lo"), settings({}, {"corp.example"}, {}, true), &error),
                 qPrintable(error));
        applier.revert();
    }
    QCOMPARE(resolved.fake().calls().size(), 0);
    QDBusConnection::disconnectFromBus(name);
}

QTEST_GUILESS_MAIN(DnsTest)
#include "tst_dns.moc"
