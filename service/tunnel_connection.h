#pragma once

#include "link_setup.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class QFileSystemWatcher;
class QTimer;

struct ServiceSettings
{
    // Where each connection gets its root-only directory (systemd's RuntimeDirectory=).
    QString runtimeDir = QStringLiteral("/run/qlumar-tunnel");
    QString openvpn = QStringLiteral("/usr/sbin/openvpn");
    // The system user OpenVPN drops to once the tunnel is up; the package creates it.
    QString user = QStringLiteral("qlumar-openvpn");
    QString group = QStringLiteral("qlumar-openvpn");
    // The program OpenVPN runs when the tunnel is up, for its DNS (installed under libexec).
    QString tunnelHook;
    int idleExitMs = 60000;
    // Running and starting connections one user may have; each holds a tun device, OpenVPN and its
    // memory as root's resources.
    int maxConnectionsPerUser = 4;
    int stopGraceMs = 10000;
    int readyTimeoutMs = 15000;
};

// One OpenVPN the service runs for a user: its runtime directory, the process and the user's access
// to its management socket. Everything it made goes when it ends or is destroyed.
class TunnelConnection : public QObject
{
    Q_OBJECT
public:
    TunnelConnection(const ServiceSettings& settings, const QString& id, uint uid, const QString& owner,
                     std::unique_ptr<LinkSetup> linkSetup, QObject* parent = nullptr);
    ~TunnelConnection() override;

    // config has passed checkTunnelConfig(); OpenVPN's standard output and error go to outputFd.
    bool start(const QString& config, int outputFd, QString* error);
    // SIGTERM, then SIGKILL after the grace time.
    void stop();

    const QString& id() const { return m_id; }
    uint uid() const { return m_uid; }
    const QString& owner() const { return m_owner; }
    QString socketPath() const;
    bool isReady() const { return m_ready; }

signals:
    // The management socket exists and belongs to the user; OpenVPN waits for the user to release it.
    void ready();
    // OpenVPN has ended and everything is cleaned up. status: its exit code, or 128 + signal.
    void finished(int status);

private:
    void checkSocket();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void cleanUp();

    ServiceSettings m_settings;
    QString m_id;
    uint m_uid;
    QString m_owner;
    QString m_dir;
    std::unique_ptr<LinkSetup> m_linkSetup;
    QProcess* m_process;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_readyTimer;
    QTimer* m_killTimer;
    int m_outputFd = -1;
    bool m_ready = false;
    bool m_done = false;
};
