#include "TunnelHookListener.h"

#include "HookProtocol.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A hook that connects and then says nothing is dropped after this long.
constexpr int kReportTimeoutMs = 10000;

enum class Field { Incomplete, Complete, Invalid };

// "<n>:<bytes>," starting at *pos.
Field readField(const QByteArray& data, int* pos, std::size_t maxLength, QByteArray* out)
{
    int digitsEnd = *pos;
    while (digitsEnd < data.size() && data.at(digitsEnd) >= '0' && data.at(digitsEnd) <= '9') {
        ++digitsEnd;
        if (digitsEnd - *pos > 5)
            return Field::Invalid;
    }
    if (digitsEnd == data.size())
        return Field::Incomplete;
    if (digitsEnd == *pos || data.at(digitsEnd) != ':')
        return Field::Invalid;
    const std::size_t length = data.mid(*pos, digitsEnd - *pos).toULongLong();
    if (length > maxLength)
        return Field::Invalid;
    const int start = digitsEnd + 1;
    const int end = start + static_cast<int>(length);
    if (end >= data.size())
        return Field::Incomplete;
    if (data.at(end) != ',')
        return Field::Invalid;
    *out = data.mid(start, static_cast<int>(length));
    *pos = end + 1;
    return Field::Complete;
}

// The parent of a live process, from /proc/PID/stat: "PID (COMM) STATE PPID ...", where COMM may
// hold anything, parentheses too. 0 when it cannot be read.
qint64 parentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.read(4096);
    const int commEnd = text.lastIndexOf(')');
    if (commEnd < 0)
        return 0;
    const QList<QByteArray> fields = text.mid(commEnd + 1).simplified().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

} // namespace

namespace TunnelHookReport {

Status parse(const QByteArray& data, QProcessEnvironment* variables)
{
    if (static_cast<std::size_t>(data.size()) > HookProtocol::maxReportSize)
        return Status::Invalid;
    const QByteArray magic(HookProtocol::magic);
    if (!data.startsWith(magic.left(qMin(magic.size(), data.size()))))
        return Status::Invalid;
    const int lineEnd = data.indexOf('\n');
    if (lineEnd < 0)
        return data.size() > magic.size() + 8 ? Status::Invalid : Status::Incomplete;
    const QByteArray countText = data.mid(magic.size(), lineEnd - magic.size());
    bool ok = false;
    const uint count = countText.toUInt(&ok);
    if (!ok || countText.isEmpty() || countText.size() > 4 || count > HookProtocol::maxVariables)
        return Status::Invalid;
    QProcessEnvironment result;
    int pos = lineEnd + 1;
    for (uint i = 0; i < count; ++i) {
        QByteArray name;
        QByteArray value;
        Field field = readField(data, &pos, HookProtocol::maxNameLength, &name);
        if (field == Field::Complete)
            field = readField(data, &pos, HookProtocol::maxValueLength, &value);
        if (field != Field::Complete)
            return field == Field::Incomplete ? Status::Incomplete : Status::Invalid;
        if (!HookProtocol::isForwardedVariable(name.constData(), static_cast<std::size_t>(name.size())) ||
            name.contains('\0') || value.contains('\0')) {
            return Status::Invalid;
        }
        result.insert(QString::fromLatin1(name), QString::fromUtf8(value));
    }
    if (pos != data.size())
        return Status::Invalid;
    if (variables)
        *variables = result;
    return Status::Complete;
}

} // namespace TunnelHookReport

TunnelHookListener::TunnelHookListener(QObject* parent) : QObject(parent), m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, &TunnelHookListener::acceptConnections);
}

TunnelHookListener::~TunnelHookListener()
{
    const QString path = m_server->fullServerName();
    m_server->close();
    if (!path.isEmpty())
        QFile::remove(path);
}

bool TunnelHookListener::listen(const QString& socketPath, QString* error)
{
    // A socket left by a service that died; the directory is the service's own.
    QLocalServer::removeServer(socketPath);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    if (!QFile::setPermissions(m_server->fullServerName(), QFile::ReadOwner | QFile::WriteOwner)) {
        if (error)
            *error = QStringLiteral("Cannot restrict %1").arg(socketPath);
        m_server->close();
        return false;
    }
    return true;
}

bool TunnelHookListener::shareWithGroup(gid_t group, QString* error)
{
    const QByteArray path = QFile::encodeName(m_server->fullServerName());
    if (::chown(path.constData(), static_cast<uid_t>(-1), group) != 0 ||
        ::chmod(path.constData(), 0660) != 0) {
        if (error)
            *error =
                QStringLiteral("Cannot share %1 with group %2").arg(m_server->fullServerName()).arg(group);
        return false;
    }
    return true;
}

bool TunnelHookListener::peerAdmitted(QLocalSocket* socket) const
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                   &size) != 0) {
        return false;
    }
    if (credentials.uid == geteuid())
        return true;
    // The hook waits for its answer, so the process asked about is still the one that connected.
    return m_parent > 0 && parentOf(credentials.pid) == m_parent;
}

QString TunnelHookListener::socketPath() const
{
    return m_server->fullServerName();
}

void TunnelHookListener::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerAdmitted(socket)) {
            socket->abort();
            continue;
        }
        m_pending.insert(socket, QByteArray());
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readReport(socket); });
        QTimer::singleShot(kReportTimeoutMs, socket, [this, socket] {
            if (m_pending.contains(socket)) {
                m_pending.remove(socket);
                socket->abort();
            }
        });
        if (socket->bytesAvailable() > 0)
            readReport(socket);
    }
}

void TunnelHookListener::readReport(QLocalSocket* socket)
{
    const auto pending = m_pending.find(socket);
    if (pending == m_pending.end()) {
        socket->readAll();
        return;
    }
    pending.value() += socket->readAll();
    QProcessEnvironment variables;
    const TunnelHookReport::Status status = TunnelHookReport::parse(pending.value(), &variables);
    if (status == TunnelHookReport::Status::Incomplete)
        return;
    m_pending.erase(pending);

    const QString interfaceName = variables.value(QStringLiteral("dev"));
    if (status == TunnelHookReport::Status::Invalid || !isValidInterfaceName(interfaceName)) {
        socket->write(HookProtocol::errorAnswer);
    } else {
        QPointer<QLocalSocket> guard(socket);
        Q_EMIT tunnelUp(interfaceName, dnsSettingsFromEnvironment(variables));
        if (!guard)
            return;
        socket->write(HookProtocol::okAnswer);
    }
    socket->disconnectFromServer();
}
