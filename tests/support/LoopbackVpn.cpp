#include "LoopbackVpn.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUdpSocket>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace {

constexpr int kStepMs = 20000;

} // namespace

LoopbackVpn::~LoopbackVpn()
{
    stop();
}

void LoopbackVpn::stop()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(kStepMs)) {
            m_server.kill();
            m_server.waitForFinished();
        }
    }
}

QString LoopbackVpn::openvpnProgram()
{
    QString program = QStandardPaths::findExecutable("openvpn");
    if (program.isEmpty()) {
        program = QStandardPaths::findExecutable("openvpn", {"/usr/local/sbin", "/usr/sbin", "/sbin"});
    }
    return program;
}

QString LoopbackVpn::missingPrerequisite()
{
#ifndef Q_OS_LINUX
    return "a real OpenVPN server runs on Linux only";
#else
    if (::geteuid() != 0) {
        return "needs root, for the tun devices";
    }
    if (!QFile::exists("/dev/net/tun")) {
        return "no /dev/net/tun";
    }
    if (openvpnProgram().isEmpty()) {
        return "openvpn not found (Debian: apt-get install openvpn)";
    }
    if (QStandardPaths::findExecutable("openssl").isEmpty()) {
        return "openssl not found (Debian: apt-get install openssl)";
    }
    return {};
#endif
}

bool LoopbackVpn::tool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(m_dir);
    process.start(program, args);
    const bool ok = process.waitForFinished(kStepMs) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok) {
        process.kill();
        process.waitForFinished();
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(args.join(' ')),
                 process.readAllStandardError().constData());
    }
    return ok;
}

bool LoopbackVpn::makePki(const QString& p12Password, QString* error)
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    QFile ext(m_dir + "/ext.cnf");
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("[server]\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n[client]\nbasicConstraints=CA:FALSE\n"
                  "keyUsage=digitalSignature\nextendedKeyUsage=clientAuth\n") < 0) {
        *error = "cannot write ext.cnf";
        return false;
    }
    ext.close();
    const auto issue = [&](const QString& name, const QString& section) {
        return tool(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                              name + ".csr", "-subj", "/CN=" + name}) &&
               tool(openssl, {"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                              "-CAcreateserial", "-out", name + ".crt", "-days", "2", "-extfile", "ext.cnf",
                              "-extensions", section});
    };
    if (!tool(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                        "ca.crt", "-subj", "/CN=qLumar test CA", "-days", "2"}) ||
        !issue("server", "server") || !issue("client", "client") ||
        !tool(openssl, {"pkcs12", "-export", "-inkey", "client.key", "-in", "client.crt", "-certfile",
                        "ca.crt", "-out", "client.p12", "-passout", "pass:" + p12Password})) {
        *error = "openssl could not make the test PKI";
        return false;
    }
    return true;
}

bool LoopbackVpn::start(QString* error, const QStringList& extraArguments, quint16 port)
{
    // A private subnet of its own per run: the tun devices of server and client stay on this machine.
    const int subnet = QRandomGenerator::global()->bounded(16, 250);
    QByteArray output;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress::LocalHost, port)) {
            *error = QString("UDP port %1 on 127.0.0.1 is not free").arg(port);
            return false;
        }
        m_port = probe.localPort();
        probe.close();

        m_server.setWorkingDirectory(m_dir);
        // Into a file, not a pipe: nobody has to keep reading it for the server to go on.
        const QString log = m_dir + "/server.log";
        QFile::remove(log);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(log);
#ifdef Q_OS_LINUX
        // The server must not outlive the test, however the test ends.
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
        m_server.start(openvpnProgram(), QStringList{"--local",       "127.0.0.1",
                                                     "--port",        QString::number(m_port),
                                                     "--proto",       "udp4",
                                                     "--dev",         "tun",
                                                     "--server",      QString("10.213.%1.0").arg(subnet),
                                                     "255.255.255.0", "--topology",
                                                     "subnet",        "--ca",
                                                     "ca.crt",        "--cert",
                                                     "server.crt",    "--key",
                                                     "server.key",    "--dh",
                                                     "none",          "--duplicate-cn",
                                                     "--verb",        "3"} +
                                             extraArguments);
        if (!m_server.waitForStarted(kStepMs)) {
            *error = "cannot start the OpenVPN server: " + m_server.errorString();
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kStepMs && m_server.state() == QProcess::Running &&
               !output.contains("Initialization Sequence Completed")) {
            m_server.waitForFinished(100);
            QFile file(log);
            if (file.open(QIODevice::ReadOnly)) {
                output = file.readAll();
            }
        }
        if (output.contains("Initialization Sequence Completed")) {
            return true;
        }
        m_server.kill();
        m_server.waitForFinished(kStepMs);
        qWarning("OpenVPN server did not come up:\n%s", output.constData());
        output.clear();
    }
    *error = "the OpenVPN server on 127.0.0.1 did not come up";
    return false;
}
