#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A real OpenVPN server on 127.0.0.1 (UDP, a free port, dev tun, a random 10.213.x.0/24) and the
// PKI it and its clients use, all under one directory: ca.crt, server.*, client.key, client.crt and
// client.p12 (password given to makePki). Needs root, /dev/net/tun, openssl and openvpn.
class LoopbackVpn
{
public:
    explicit LoopbackVpn(const QString& dir) : m_dir(dir) {}
    ~LoopbackVpn();

    // Empty when the machine can run it, else why not.
    static QString missingPrerequisite();
    static QString openvpnProgram();

    bool makePki(const QString& p12Password, QString* error);
    // extraArguments: more server options, such as what it pushes to its clients. port: the one an
    // earlier run had, so that its clients find the new server (a free one when 0).
    bool start(QString* error, const QStringList& extraArguments = {}, quint16 port = 0);
    quint16 port() const { return m_port; }
    // The running server's process id, or 0.
    qint64 serverPid() const { return m_server.state() == QProcess::NotRunning ? 0 : m_server.processId(); }
    void stop();

private:
    bool tool(const QString& program, const QStringList& args);

    QString m_dir;
    QProcess m_server;
    quint16 m_port = 0;
};
