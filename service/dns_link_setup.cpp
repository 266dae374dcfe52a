#include "dns_link_setup.h"

#include "DnsApplier.h"
#include "TunnelHookListener.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// OpenVPN splits its --route-up command at blanks and reads quotes and backslashes; paths that need none
// of that reach the hook unchanged.
bool isPlainWord(const QString& text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c == u'"' || c == u'\'' || c == u'\\')
            return false;
    }
    return !text.isEmpty();
}

} // namespace

DnsLinkSetup::DnsLinkSetup(const QString& hookProgram, const QString& openVpnGroup,
                           const QDBusConnection& systemBus)
    : m_hookProgram(hookProgram), m_openVpnGroup(openVpnGroup), m_bus(systemBus)
{
}

DnsLinkSetup::~DnsLinkSetup()
{
    revert();
}

bool DnsLinkSetup::prepare(const QString& connectionDir, QStringList* arguments, QString* error)
{
    // The connection's directory lets its user through to the management socket; the hook's socket
    // lives one level further in, where only root and OpenVPN's group may go: after a restart
    // (ping-restart, SIGUSR1) OpenVPN runs --route-up as its own user.
    const group* openVpnGroup = ::getgrnam(QFile::encodeName(m_openVpnGroup).constData());
    if (!openVpnGroup) {
        *error = QStringLiteral("no group %1 for OpenVPN").arg(m_openVpnGroup);
        return false;
    }
    const gid_t gid = openVpnGroup->gr_gid;
    const QString hookDir = connectionDir + QStringLiteral("/hook");
    const QString socketPath = hookDir + QStringLiteral("/socket");
    if (!isPlainWord(m_hookProgram) || !isPlainWord(socketPath)) {
        *error = QStringLiteral("the tunnel hook's path cannot be passed to OpenVPN: %1 %2")
                     .arg(m_hookProgram, socketPath);
        return false;
    }
    const QByteArray dir = QFile::encodeName(hookDir);
    if (::mkdir(dir.constData(), 0700) != 0 || ::chown(dir.constData(), 0, gid) != 0 ||
        ::chmod(dir.constData(), 0710) != 0) {
        *error =
            QStringLiteral("cannot create %1: %2").arg(hookDir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_listener = std::make_unique<TunnelHookListener>();
    if (!m_listener->listen(socketPath, error) || !m_listener->shareWithGroup(gid, error)) {
        m_listener.reset();
        return false;
    }
    m_applier = std::make_unique<DnsApplier>(m_bus);
    QObject::connect(m_listener.get(), &TunnelHookListener::tunnelUp, m_listener.get(),
                     [this](const QString& interfaceName, const DnsSettings& settings) {
                         QString applyError;
                         if (!m_applier->apply(interfaceName, settings, &applyError)) {
                             std::fprintf(stderr, "DNS for %s not applied: %s\n", qPrintable(interfaceName),
                                          qPrintable(applyError));
                         }
                     });

    const QString command = m_hookProgram + u' ' + socketPath;
    // Only --route-up: OpenVPN knows whether the VPN takes the default route no earlier, it runs it
    // (as root the first time) on every new device, after a restart too, and an --up report as well
    // would cost a second round of the hook and of resolved's calls before the tunnel is complete.
    // Restarts keep the device (--persist-tun) unless the pushed options change.
    *arguments << QStringLiteral("--script-security") << QStringLiteral("2") << QStringLiteral("--route-up")
               << command << QStringLiteral("--persist-tun");
    return true;
}

void DnsLinkSetup::started(qint64 pid)
{
    if (m_listener)
        m_listener->admitChildrenOf(pid);
}

void DnsLinkSetup::revert()
{
    m_listener.reset();
    if (m_applier) {
        m_applier->revert();
        m_applier.reset();
    }
}
