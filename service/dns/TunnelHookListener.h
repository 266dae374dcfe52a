#pragma once

#include "DnsSettings.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <sys/types.h>

class QLocalServer;
class QLocalSocket;

namespace TunnelHookReport {

enum class Status { Incomplete, Complete, Invalid };

// Reads what qlumar-tunnel-hook sent so far. Only the variables the hook forwards are accepted; a
// report with anything else, or too long, is Invalid.
Status parse(const QByteArray& data, QProcessEnvironment* variables);

} // namespace TunnelHookReport

// Where OpenVPN's up command (qlumar-tunnel-hook) reports the tunnel it brought up. The socket is
// made 0600 inside a directory only root can enter, which the service chooses.
class TunnelHookListener : public QObject
{
    Q_OBJECT

public:
    explicit TunnelHookListener(QObject* parent = nullptr);
    ~TunnelHookListener() override;

    bool listen(const QString& socketPath, QString* error);
    // Lets the group connect (0660), for hooks run by a process that has dropped root.
    bool shareWithGroup(gid_t group, QString* error);
    // Besides the service's own user, a report is taken from a direct child of this process (the
    // one OpenVPN of the connection) alone, whoever it runs as.
    void admitChildrenOf(qint64 pid) { m_parent = pid; }
    QString socketPath() const;

Q_SIGNALS:
    // Emitted before the hook gets its answer, so DNS applied from a directly connected slot is in
    // place before OpenVPN goes on.
    void tunnelUp(const QString& interfaceName, const DnsSettings& settings);

private:
    void acceptConnections();
    void readReport(QLocalSocket* socket);

    bool peerAdmitted(QLocalSocket* socket) const;

    QLocalServer* m_server = nullptr;
    qint64 m_parent = 0;
    // Connected hooks that have not had their answer yet, with what they sent so far.
    QHash<QLocalSocket*, QByteArray> m_pending;
};
