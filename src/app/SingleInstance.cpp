#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {

// One manager per profile store: the names carry a digest of the home directory, so a start with
// another HOME (a demo, a test, a second account's store) is a manager of its own.
QString instanceFileName(const char* suffix)
{
    const QByteArray digest =
        QCryptographicHash::hash(QDir::homePath().toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QLatin1String("qlumar_vpn-") + QLatin1String(digest) + QLatin1String(suffix);
}
// A request is one short line; anything longer is not from a start of this program.
constexpr qint64 maxRequestBytes = 64 * 1024;
constexpr int clientTimeoutMs = 10000;

} // namespace

SingleInstance::SingleInstance(const QString& directory, QObject* parent)
    : QObject(parent), m_directory(directory)
{
}

SingleInstance::~SingleInstance()
{
    // Closing the server removes its socket file before the lock is let go, so a start right
    // after ours never meets a socket with nobody behind it.
    if (m_server)
        m_server->close();
}

QString SingleInstance::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const
{
    return m_directory + QLatin1Char('/') + instanceFileName(".socket");
}

QString SingleInstance::lockPath() const
{
    return m_directory + QLatin1Char('/') + instanceFileName(".lock");
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_directory.isEmpty() || !QFileInfo(m_directory).isDir()) {
        m_error = QStringLiteral("no runtime directory for the instance lock");
        return Claim::Alone;
    }
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Only a dead holder makes the lock stale: a manager runs for days.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        const QLockFile::LockError error = m_lock->error();
        m_lock.reset();
        if (error == QLockFile::LockFailedError)
            return Claim::Secondary;
        m_error = QStringLiteral("cannot create %1").arg(lockPath());
        return Claim::Alone;
    }

    // Whatever socket file is there was left by a holder that is gone.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath())) {
        m_error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        // The lock alone still keeps a second manager off the profile store.
        return Claim::Primary;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return Claim::Primary;
}

void SingleInstance::setHandler(Handler handler)
{
    m_handler = std::move(handler);
    answerPending();
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        // A client that never finishes its line does not hold a socket for ever.
        auto* timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, socket, &QLocalSocket::abort);
        timeout->start(clientTimeoutMs);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
        serve(socket);
    }
}

void SingleInstance::serve(QLocalSocket* socket)
{
    if (socket->property("qlumarRequest").isValid())
        return; // one request per connection, already read
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            socket->abort();
        return;
    }
    socket->setProperty("qlumarRequest", socket->readLine(maxRequestBytes));
    m_waiting.append(socket);
    answerPending();
}

void SingleInstance::answerPending()
{
    if (!m_handler)
        return;
    QList<QPointer<QLocalSocket>> waiting;
    for (QLocalSocket* socket : std::exchange(m_waiting, {}))
        waiting.append(socket);
    for (const QPointer<QLocalSocket>& socket : waiting) {
        if (!socket)
            continue;
        const CommandLine::Request request = decode(socket->property("qlumarRequest").toByteArray());
        QString refusal;
        if (request.action == CommandLine::Request::Invalid)
            refusal = QStringLiteral("unreadable request");
        else
            refusal = m_handler(request);
        // The handler may run a nested event loop in which the client gave up.
        if (!socket || socket->state() != QLocalSocket::ConnectedState)
            continue;
        const QByteArray reply =
            refusal.isEmpty() ? QByteArray("ok\n") : "error " + refusal.simplified().toUtf8() + '\n';
        socket->write(reply);
        socket->disconnectFromServer();
    }
}

int SingleInstance::handOver(const CommandLine::Request& request, QString* message)
{
    QLocalSocket socket;
    // The holder may have just taken the lock and not be listening yet.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(1000))
            break;
        if (deadline.hasExpired()) {
            if (message)
                *message = QStringLiteral("another qlumar_vpn holds %1 but does not answer on %2")
                               .arg(lockPath(), socketPath());
            return 1;
        }
        QThread::msleep(100);
    }
    socket.write(encode(request));
    QByteArray reply;
    const QDeadlineTimer answer(clientTimeoutMs);
    while (!reply.endsWith('\n') && !answer.hasExpired()) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, answer.remainingTime()))) &&
            socket.state() != QLocalSocket::ConnectedState && !socket.bytesAvailable())
            break;
        reply += socket.readAll();
    }
    reply = reply.trimmed();
    if (reply == "ok")
        return 0;
    if (message) {
        if (reply.startsWith("error "))
            *message = QString::fromUtf8(reply.mid(6));
        else
            *message = QStringLiteral("the running qlumar_vpn did not answer");
    }
    return 1;
}

QByteArray SingleInstance::encode(const CommandLine::Request& request)
{
    QJsonObject object;
    switch (request.action) {
    case CommandLine::Request::Import:
        object[QLatin1String("action")] = QStringLiteral("import");
        object[QLatin1String("path")] = request.importPath;
        break;
    case CommandLine::Request::Connect:
        object[QLatin1String("action")] = QStringLiteral("connect");
        object[QLatin1String("name")] = request.connectName;
        break;
    default:
        object[QLatin1String("action")] = QStringLiteral("show");
        break;
    }
    object[QLatin1String("minimized")] = request.minimized;
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

CommandLine::Request SingleInstance::decode(const QByteArray& line)
{
    CommandLine::Request request;
    const QJsonObject object = QJsonDocument::fromJson(line.trimmed()).object();
    const QString action = object.value(QLatin1String("action")).toString();
    request.minimized = object.value(QLatin1String("minimized")).toBool();
    if (action == QLatin1String("show")) {
        request.action = CommandLine::Request::Run;
    } else if (action == QLatin1String("import")) {
        request.action = CommandLine::Request::Import;
        request.importPath = object.value(QLatin1String("path")).toString();
        // The second start resolved it against its own directory: only an absolute path is one.
        if (!QDir::isAbsolutePath(request.importPath))
            request.action = CommandLine::Request::Invalid;
    } else if (action == QLatin1String("connect")) {
        request.action = CommandLine::Request::Connect;
        request.connectName = object.value(QLatin1String("name")).toString();
        if (request.connectName.isEmpty())
            request.action = CommandLine::Request::Invalid;
    } else {
        request.action = CommandLine::Request::Invalid;
    }
    return request;
}
