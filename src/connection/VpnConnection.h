#pragma once

#include "connection/EngineOutput.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// One connection's life, without any window: the engine process, its state, its output read in
// slices and searched for the texts the manager understands, the wait for the engine to come up
// and its end when the manager ends. The window only reacts to the signals.
class VpnConnection : public QObject
{
    Q_OBJECT

public:
    // Starting: waiting for the process to come up. Connecting: running, tunnel not up yet.
    // Stopping: asked to stop or ended, its last output still being handled.
    enum class State { Idle, Starting, Connecting, Connected, Stopping };
    Q_ENUM(State)

    explicit VpnConnection(QObject* parent = nullptr);
    ~VpnConnection() override;

    State state() const { return m_state; }
    // From a successful start until finished(): the window's "connection runs".
    bool isRunning() const { return m_running; }
    // The tunnel-up text was seen during this connection.
    bool isTunnelUp() const { return m_tunnelUp; }
    QProcess* process() const { return m_process; }

    // What the log shows at most: output beyond it is only searched for the texts.
    void setLogLimits(int maxLines, qsizetype maxCharacters);

    // Starts the engine and waits up to EngineLaunch::startTimeoutMs() for it. An engine that
    // does not come up in time is killed and false returned; its output is still shown but
    // means nothing, and no finished() follows.
    bool start(const QString& workingDirectory, const QString& program, const QStringList& arguments);
    // Kills the engine; finished() follows once the output it left is handled.
    void stop();
    // Kills the engine and reaps it before returning, so no engine outlives the manager.
    void killAtExit();
    // Reads both streams now, as their signals would.
    void readOutput();
    // Forgets output not yet handled: a new connection begins.
    void discardOutput();

Q_SIGNALS:
    void stateChanged(VpnConnection::State state);
    void logText(const QString& text);
    // The log should drop what it shows: the output still to come fills it by itself.
    void logDropped();
    // The tunnel-up text, once per connection.
    void tunnelUp();
    // Once per connection attempt.
    void passwordRejected();
    // After the last of the engine's output of a connection that started.
    void finished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void setState(State state);
    void outputSignalled();
    void readChannel(QProcess::ProcessChannel channel);
    void takeOutput(QProcess::ProcessChannel channel, bool engineEnded);
    void handleOutput(QProcess::ProcessChannel channel);
    void handleRead(const QByteArray& bytes, bool shown);
    void engineEnded(int exitCode, QProcess::ExitStatus exitStatus);
    void finishWhenOutputHandled();

    static constexpr int hiddenOutputMsPerTurn = 10;

    QProcess* m_process;
    State m_state = State::Idle;
    bool m_running = false;
    bool m_tunnelUp = false;
    bool m_passwordRejected = false;
    int m_maxLines = 10000;
    qsizetype m_maxCharacters = 4 * 1024 * 1024;
    EngineOutput::Backlog m_backlog[2];
    qsizetype m_hidden[2] = {0, 0};    // per channel: the backlog's head the log would never show
    qsizetype m_unchecked[2] = {0, 0}; // per channel: taken since m_hidden was last worked out
    bool m_readQueued[2] = {false, false};
    bool m_finishPending = false;
    int m_exitCode = 0;
    QProcess::ExitStatus m_exitStatus = QProcess::NormalExit;
};
