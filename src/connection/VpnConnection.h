#pragma once

#include "connection/EngineChannel.h"
#include "connection/EngineOutput.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class EnginePipes;
class QLocalServer;
class QLocalSocket;
class QTimer;
class QTemporaryDir;

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

    // The engine channel, when the engine speaks it: its version (0 without), the tunnel address
    // and the byte counts it last told.
    int channelVersion() const { return m_channel.version(); }
    QString tunnelAddress() const { return m_tunnelAddress; }
    // Answers an inputRequested(); an empty id or one already answered is ignored.
    void answerInput(const QString& id, const QString& value);
    void answerLogin(const QString& id, const QString& username, const QString& password);
    void cancelInput(const QString& id);

    // Why the last connection ended without ever coming up, as ConnectionStatus::failureMessage()
    // words it; empty when it came up or was stopped by stop().
    QString failureText() const { return m_failureText; }
    QString failureCode() const { return m_failureCode; }

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

    // From the engine channel.
    void engineStateChanged(const QString& state, const QString& detail);
    void tunnelAddressChanged(const QString& address);
    void bytesChanged(quint64 bytesIn, quint64 bytesOut);
    // The engine's own reason, when it gives one, as it arrives (code and text as the engine sent them).
    void failureReason(const QString& code, const QString& text);
    // kind: username, password, otp, login or text; answer with answerInput() (a login with
    // answerLogin()) or cancelInput(). id: the engine's request id qualified by the attempt, so a
    // late answer never reaches a later attempt. flag: see EngineChannel::Event::flag.
    void inputRequested(const QString& id, const QString& kind, const QString& prompt, const QString& flag);
    void openUrlRequested(const QUrl& url);

private:
    void setState(State state);
    void readChannel(QProcess::ProcessChannel channel);
    void takeOutput(QProcess::ProcessChannel channel, bool engineEnded);
    void handleOutput(QProcess::ProcessChannel channel);
    void handleRead(const QByteArray& bytes, bool shown);
    void engineEnded(int exitCode, QProcess::ExitStatus exitStatus);
    void finishWhenOutputHandled();
    bool openChannel();
    void closeChannel();
    void channelConnected();
    void readChannelEvents();
    void sendOnChannel(const QByteArray& line);

    static constexpr int hiddenOutputMsPerTurn = 10;
    // Once the tunnel is up, how long the engine's output may wait to be read. Each batch costs
    // the window a drawing of the log whatever its size: twice a second keeps a connection that
    // logs for weeks cheap, and a log nobody waits on looks no less live.
    static constexpr int connectedReadMs = 500;

    QProcess* m_process;
    EnginePipes* m_pipes;
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
    // Per channel: a last read that ends inside a character waits this long for the rest, then is
    // shown as it is (an old engine's Latin-1 text can end in such a byte).
    QTimer* m_restOfCharacter[2] = {nullptr, nullptr};
    bool m_restLate[2] = {false, false};
    bool m_finishPending = false;
    int m_exitCode = 0;
    QProcess::ExitStatus m_exitStatus = QProcess::NormalExit;

    bool m_stopRequested = false;
    std::unique_ptr<QTemporaryDir> m_channelDir; // private to the user, holds the channel's socket
    QLocalServer* m_channelServer = nullptr;
    QLocalSocket* m_channelSocket = nullptr;
    EngineChannel m_channel;
    QStringList m_openRequests; // "ATTEMPT/ID": see inputRequested()
    quint64 m_attempt = 0;      // counts start()s
    QString m_tunnelAddress;
    QString m_engineFailureCode;
    QString m_engineFailureText;
    QString m_lastErrorLine;
    QString m_failureCode;
    QString m_failureText;
};
