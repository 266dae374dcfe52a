#include "VpnConnection.h"

#include "connection/ConnectionStatus.h"
#include "connection/EngineLaunch.h"
#include "connection/EnginePipes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace {
const QString channelVariable = QStringLiteral("QLUMAR_ENGINE_CHANNEL");
}

VpnConnection::VpnConnection(QObject* parent)
    : QObject(parent), m_process(new QProcess(this)), m_pipes(new EnginePipes(m_process, this))
{
    // Each stream is read when it signals.
    connect(m_pipes, &EnginePipes::readable, this, &VpnConnection::readChannel);
    connect(m_process, &QProcess::finished, this, &VpnConnection::engineEnded);
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        m_restOfCharacter[channel] = new QTimer(this);
        m_restOfCharacter[channel]->setSingleShot(true);
        m_restOfCharacter[channel]->setInterval(100);
        connect(m_restOfCharacter[channel], &QTimer::timeout, this, [this, channel] {
            m_restLate[channel] = true;
            handleOutput(channel);
            m_restLate[channel] = false;
        });
    }
}

VpnConnection::~VpnConnection()
{
    // Whoever listens may be half gone by now: the engine just ends.
    disconnect(m_process, nullptr, this, nullptr);
    killAtExit();
}

void VpnConnection::setLogLimits(int maxLines, qsizetype maxCharacters)
{
    m_maxLines = maxLines;
    m_maxCharacters = maxCharacters;
}

void VpnConnection::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

bool VpnConnection::start(const QString& workingDirectory, const QString& program,
                          const QStringList& arguments)
{
    if (m_running || m_process->state() != QProcess::NotRunning)
        return false;
    discardOutput();
    m_tunnelUp = false;
    m_passwordRejected = false;
    m_stopRequested = false;
    m_tunnelAddress.clear();
    m_engineFailureCode.clear();
    m_engineFailureText.clear();
    m_lastErrorLine.clear();
    m_failureCode.clear();
    m_failureText.clear();
    ++m_attempt;
    // An engine that does not know the variable, or a channel that cannot be set up, leaves the
    // connection to the log and the exit code, as always.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(channelVariable);
    if (openChannel())
        environment.insert(channelVariable, m_channelServer->fullServerName());
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(workingDirectory);
    setState(State::Starting);
    m_pipes->prepare();
    m_pipes->setBatchInterval(0);
    m_process->start(program, arguments, QIODevice::ReadWrite);
    const bool started = m_process->waitForStarted(EngineLaunch::startTimeoutMs());
    m_pipes->started();
    if (started) {
        m_running = true;
        setState(State::Connecting);
        return true;
    }
    // An engine that comes up only after the wait gave up would run with the manager idle, and
    // nobody could stop it.
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process->setArguments({});
    closeChannel();
    setState(State::Idle);
    return false;
}

void VpnConnection::stop()
{
    // Killed, not asked to terminate; the end follows from the engine's exit.
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_stopRequested = true;
    setState(State::Stopping);
    m_process->kill();
}

void VpnConnection::killAtExit()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
}

void VpnConnection::discardOutput()
{
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        m_backlog[channel].clear();
        m_hidden[channel] = 0;
        m_unchecked[channel] = 0;
        m_restOfCharacter[channel]->stop();
    }
    m_finishPending = false;
}

void VpnConnection::readOutput()
{
    readChannel(QProcess::StandardOutput);
    readChannel(QProcess::StandardError);
}

void VpnConnection::readChannel(QProcess::ProcessChannel channel)
{
    takeOutput(channel, false);
    handleOutput(channel);
}

// The pipe is emptied at every read, so a flood waits in the backlog, not in the engine or the
// process buffer; what the capped log could never show is only searched for the texts, never
// laid out.
void VpnConnection::takeOutput(QProcess::ProcessChannel channel, bool engineEnded)
{
    EngineOutput::Backlog& backlog = m_backlog[channel];
    const QByteArray bytes = m_pipes->read(channel);
    if (!bytes.isEmpty()) {
        backlog.append(bytes);
        m_unchecked[channel] += bytes.size();
    }
    // Looking for what the log would never show reads up to what it shows, so it waits until
    // a good part of that is new.
    if (!engineEnded && m_unchecked[channel] < m_maxCharacters / 4)
        return;
    m_unchecked[channel] = 0;
    const qsizetype hidden = backlog.hiddenBytes(m_maxLines, m_maxCharacters);
    if (hidden > m_hidden[channel]) {
        m_hidden[channel] = hidden;
        Q_EMIT logDropped();
    }
}

void VpnConnection::handleOutput(QProcess::ProcessChannel channel)
{
    EngineOutput::Backlog& backlog = m_backlog[channel];
    // Output the log drops is searched, in reads as it would have been shown, until the turn's
    // share of time is spent; the rest waits for the next turn.
    QElapsedTimer turn;
    turn.start();
    while (m_hidden[channel] > 0) {
        if (!m_running || m_tunnelUp) {
            backlog.discard(m_hidden[channel]);
            m_hidden[channel] = 0;
            break;
        }
        const QByteArray bytes = backlog.take(m_hidden[channel]);
        m_hidden[channel] -= bytes.size();
        handleRead(bytes, false);
        if (turn.elapsed() >= hiddenOutputMsPerTurn)
            break;
    }
    bool waitsForMore = false;
    if (m_hidden[channel] == 0 && !backlog.isEmpty()) {
        const bool moreMayCome = m_process->state() != QProcess::NotRunning && !m_restLate[channel];
        const QByteArray bytes = backlog.take(EngineOutput::maxReadBytes, moreMayCome);
        waitsForMore = bytes.isEmpty();
        if (waitsForMore) {
            if (!m_restOfCharacter[channel]->isActive())
                m_restOfCharacter[channel]->start();
        } else {
            m_restOfCharacter[channel]->stop();
            handleRead(bytes, true);
        }
    }

    // The rest waits for the next turn of the event loop, so a flood cannot freeze the window.
    if (!backlog.isEmpty() && !waitsForMore) {
        if (!m_readQueued[channel]) {
            m_readQueued[channel] = true;
            QTimer::singleShot(0, this, [this, channel] {
                m_readQueued[channel] = false;
                handleOutput(channel);
            });
        }
        return;
    }
    finishWhenOutputHandled();
}

void VpnConnection::handleRead(const QByteArray& bytes, bool shown)
{
    const QString text = EngineOutput::decodeChunk(bytes);
    if (shown)
        Q_EMIT logText(text);
    // Output of an engine killed at start is shown but means nothing.
    if (!m_running || m_tunnelUp)
        return;
    const QString errorLine = ConnectionStatus::lastErrorLine(text);
    if (!errorLine.isEmpty())
        m_lastErrorLine = errorLine;
    const EngineOutput::Recognised found = EngineOutput::recognise(text);
    if (found.tunnelUp) {
        m_tunnelUp = true;
        // Nothing the engine says from now on is searched, so it can wait a moment and come in
        // batches: a connection that logs for weeks wakes the manager a few times a second, not
        // once for every line.
        m_pipes->setBatchInterval(connectedReadMs);
        if (m_state == State::Connecting)
            setState(State::Connected);
        Q_EMIT tunnelUp();
    }
    if (found.passwordError && !m_passwordRejected) {
        // Set before the signal: its receiver may run a nested loop in which more output arrives.
        m_passwordRejected = true;
        Q_EMIT passwordRejected();
    }
}

void VpnConnection::engineEnded(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_exitCode = exitCode;
    m_exitStatus = exitStatus;
    // What the engine said on the channel before it ended belongs to this connection too.
    if (m_channelServer && !m_channelSocket)
        m_channelServer->waitForNewConnection(0);
    while (m_channelSocket && m_channelSocket->waitForReadyRead(0)) {
    }
    readChannelEvents();
    // Everything the engine wrote belongs to its connection, so it is handled before its exit
    // is, in the same slices as while it ran.
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        takeOutput(channel, true);
    // Whatever the engine left running may still hold the streams; what it says is no part of
    // this connection.
    m_pipes->close();
    m_finishPending = m_running;
    if (m_running)
        setState(State::Stopping);
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        handleOutput(channel);
}

void VpnConnection::finishWhenOutputHandled()
{
    if (!m_finishPending || !m_backlog[0].isEmpty() || !m_backlog[1].isEmpty())
        return;
    m_finishPending = false;
    m_running = false;
    closeChannel();
    if (!m_tunnelUp && !m_stopRequested) {
        // The recognised text is what the manager has always gone by, from engines old and new.
        if (m_passwordRejected)
            m_failureCode = QStringLiteral("wrong-password");
        else if (!m_engineFailureCode.isEmpty())
            m_failureCode = m_engineFailureCode;
        else if (m_exitStatus == QProcess::CrashExit)
            m_failureCode = QStringLiteral("crashed");
        else
            m_failureCode = QStringLiteral("engine-error");
        m_failureText = ConnectionStatus::failureMessage(
            m_failureCode, m_engineFailureCode.isEmpty() ? m_lastErrorLine : m_engineFailureText);
    }
    // The password travelled as an argument; it need not outlive the engine.
    m_process->setArguments({});
    setState(State::Idle);
    Q_EMIT finished(m_exitCode, m_exitStatus);
}

bool VpnConnection::openChannel()
{
    closeChannel();
    m_channel = EngineChannel();
    // The session's private runtime directory where there is one; QStandardPaths would warn and
    // make one of its own without it.
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    // Made 0700: only the user can reach the socket inside.
    auto directory = std::make_unique<QTemporaryDir>(base + QLatin1String("/qlumar-channel-XXXXXX"));
    if (!directory->isValid())
        return false;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(directory->filePath(QStringLiteral("channel")))) {
        qWarning("engine channel not opened: %s", qPrintable(server->errorString()));
        delete server;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &VpnConnection::channelConnected);
    m_channelDir = std::move(directory);
    m_channelServer = server;
    return true;
}

void VpnConnection::closeChannel()
{
    if (m_channelSocket) {
        disconnect(m_channelSocket, nullptr, this, nullptr);
        m_channelSocket->abort();
        // Its own signal may be on the stack.
        m_channelSocket->deleteLater();
        m_channelSocket = nullptr;
    }
    if (m_channelServer) {
        m_channelServer->close();
        m_channelServer->deleteLater();
        m_channelServer = nullptr;
    }
    m_channelDir.reset();
    m_openRequests.clear();
}

void VpnConnection::channelConnected()
{
    while (m_channelServer && m_channelServer->hasPendingConnections()) {
        QLocalSocket* socket = m_channelServer->nextPendingConnection();
        bool ours = !m_channelSocket;
#ifdef Q_OS_LINUX
        // The engine connects itself, at once: anyone else is turned away.
        ucred peer{};
        socklen_t size = sizeof peer;
        ours = ours &&
               ::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                            &size) == 0 &&
               peer.pid == m_process->processId();
#endif
        if (!ours) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_channelSocket = socket;
        connect(socket, &QLocalSocket::readyRead, this, &VpnConnection::readChannelEvents);
        // One engine, one connection: the name need not outlive it.
        m_channelServer->close();
        m_channelDir.reset();
        readChannelEvents();
    }
}

void VpnConnection::readChannelEvents()
{
    // A socket the engine closed has handed over everything already.
    if (!m_channelSocket || !m_channelSocket->isReadable())
        return;
    m_channel.feed(m_channelSocket->readAll());
    const QList<EngineChannel::Event> events = m_channel.takeEvents();
    for (const EngineChannel::Event& event : events) {
        switch (event.kind) {
        case EngineChannel::Event::Kind::Hello:
            sendOnChannel(EngineChannel::hello());
            break;
        case EngineChannel::Event::Kind::State:
            if (event.name == QLatin1String("connected") && event.detail != m_tunnelAddress) {
                m_tunnelAddress = event.detail;
                Q_EMIT tunnelAddressChanged(m_tunnelAddress);
            }
            Q_EMIT engineStateChanged(event.name, event.detail);
            break;
        case EngineChannel::Event::Kind::Bytes:
            Q_EMIT bytesChanged(event.bytesIn, event.bytesOut);
            break;
        case EngineChannel::Event::Kind::Failure:
            if (m_engineFailureCode.isEmpty()) {
                m_engineFailureCode = event.name;
                m_engineFailureText = event.detail;
                Q_EMIT failureReason(event.name, event.detail);
            }
            break;
        case EngineChannel::Event::Kind::Input: {
            // Every engine counts its requests from 1: the attempt in the id keeps an answer typed
            // for an attempt that has ended (its prompt still open while another one started, from
            // the tray or after a resume) from reaching the next engine's request of that number.
            const QString id = QString::number(m_attempt) + QLatin1Char('/') + event.name;
            if (!m_openRequests.contains(id)) {
                m_openRequests.append(id);
                Q_EMIT inputRequested(id, event.detail, event.prompt, event.flag);
            }
            break;
        }
        case EngineChannel::Event::Kind::OpenUrl:
            Q_EMIT openUrlRequested(QUrl(event.name));
            break;
        }
    }
}

void VpnConnection::sendOnChannel(const QByteArray& line)
{
    if (m_channelSocket && m_channelSocket->state() == QLocalSocket::ConnectedState) {
        m_channelSocket->write(line);
        m_channelSocket->flush();
    }
}

void VpnConnection::answerInput(const QString& id, const QString& value)
{
    if (!m_openRequests.removeOne(id))
        return;
    const QString engineId = id.section(QLatin1Char('/'), 1);
    const QByteArray line = EngineChannel::answer(engineId, value);
    // The engine would drop a line this long and wait for ever.
    sendOnChannel(line.size() < EngineChannel::maxLineBytes ? line : EngineChannel::cancel(engineId));
}

void VpnConnection::answerLogin(const QString& id, const QString& username, const QString& password)
{
    if (!m_openRequests.removeOne(id))
        return;
    const QString engineId = id.section(QLatin1Char('/'), 1);
    const QByteArray line = EngineChannel::answer(engineId, QStringList{username, password});
    sendOnChannel(line.size() < EngineChannel::maxLineBytes ? line : EngineChannel::cancel(engineId));
}

void VpnConnection::cancelInput(const QString& id)
{
    if (m_openRequests.removeOne(id))
        sendOnChannel(EngineChannel::cancel(id.section(QLatin1Char('/'), 1)));
}
