#include "VpnConnection.h"

#include "connection/EngineLaunch.h"

#include <QElapsedTimer>
#include <QMetaMethod>
#include <QTimer>

VpnConnection::VpnConnection(QObject* parent) : QObject(parent), m_process(new QProcess(this))
{
    connect(m_process, &QProcess::readyReadStandardError, this, &VpnConnection::outputSignalled);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &VpnConnection::outputSignalled);
    connect(m_process, &QProcess::finished, this, &VpnConnection::engineEnded);
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
    m_process->setWorkingDirectory(workingDirectory);
    setState(State::Starting);
    m_process->start(program, arguments, QIODevice::ReadWrite);
    if (m_process->waitForStarted(EngineLaunch::startTimeoutMs())) {
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
    setState(State::Idle);
    return false;
}

void VpnConnection::stop()
{
    // Killed, not asked to terminate; the end follows from the engine's exit.
    if (m_process->state() == QProcess::NotRunning)
        return;
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
    }
    m_finishPending = false;
}

void VpnConnection::readOutput()
{
    readChannel(QProcess::StandardOutput);
    readChannel(QProcess::StandardError);
}

void VpnConnection::outputSignalled()
{
    static const int stdoutSignal = QMetaMethod::fromSignal(&QProcess::readyReadStandardOutput).methodIndex();
    // Each stream is read when it signals.
    readChannel(senderSignalIndex() == stdoutSignal ? QProcess::StandardOutput : QProcess::StandardError);
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
    m_process->setReadChannel(channel);
    if (m_process->bytesAvailable() > 0) {
        const QByteArray bytes = m_process->readAll();
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
    if (m_hidden[channel] == 0 && !backlog.isEmpty())
        handleRead(backlog.take(), true);

    // The rest waits for the next turn of the event loop, so a flood cannot freeze the window.
    if (!backlog.isEmpty()) {
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
    const EngineOutput::Recognised found = EngineOutput::recognise(text);
    if (found.tunnelUp) {
        m_tunnelUp = true;
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
    // Everything the engine wrote belongs to its connection, so it is handled before its exit
    // is, in the same slices as while it ran.
    for (auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        takeOutput(channel, true);
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
    // The password travelled as an argument; it need not outlive the engine.
    m_process->setArguments({});
    setState(State::Idle);
    Q_EMIT finished(m_exitCode, m_exitStatus);
}
