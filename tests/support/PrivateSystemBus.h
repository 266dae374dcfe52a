#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A dbus-daemon of its own, configured like a system bus (any user may connect, method calls only
// where a policy allows them) with the tunnel service's shipped policy, and the tunnel service (the
// test build) on it as root. Linux, root only.
class PrivateSystemBus
{
public:
    ~PrivateSystemBus();

    // dir: where the bus socket, its configuration and the service's runtime directory go; others
    // must be able to pass through it. deniedUid: a uid the service's test authority refuses.
    bool start(const QString& dir, uint deniedUid, QString* error);
    // idleExitSeconds: the service's --idle-exit; authorityDelayMs: how long its authority takes;
    // openvpn: the program it runs (the real one when empty); program: the service (the test build
    // when empty); extraArgs: more of its options.
    bool startService(QString* error, int idleExitSeconds = 600, int authorityDelayMs = 0,
                      const QString& openvpn = QString(), const QString& program = QString(),
                      const QStringList& extraArgs = {});
    void stopService();

    // polkitd on this bus, in a mount namespace of its own where it sees only the service's action
    // and the given rules (JavaScript), none of the machine's. Empty when polkitd cannot run here.
    static QString polkitMissing();
    bool startPolkit(const QByteArray& rules, QString* error);
    void stopPolkit();

    QString address() const { return m_address; }
    QString runtimeDir() const { return m_dir + "/run"; }
    QProcess& service() { return m_service; }

private:
    QString m_dir;
    uint m_deniedUid = 0;
    QString m_address;
    QProcess m_bus;
    QProcess m_service;
    QProcess m_polkit;
};
