#pragma once

#include <QObject>
#include <QProcess>
#include <QTimer>

class QSocketNotifier;

// The engine's standard output and error. On Linux they are pipes of the manager's own, read only
// when it asks, so that output it no longer searches can wait and be taken a batch at a time:
// each wake-up of the GUI thread costs more than a line of the log, and a chatty engine writes
// its lines one at a time. Elsewhere they are QProcess's own channels, read as they arrive.
class EnginePipes : public QObject
{
    Q_OBJECT

public:
    explicit EnginePipes(QProcess* process, QObject* parent = nullptr);
    ~EnginePipes() override;

    // Before QProcess::start(): fresh streams for the next engine.
    void prepare();
    // After QProcess::start(), whether it came up or not: the engine holds the writing ends now.
    void started();
    // Everything the stream holds now, without waiting.
    QByteArray read(QProcess::ProcessChannel channel);
    // With a positive interval, output waits up to that long after each read and is then taken
    // together; 0: each write is read at once.
    void setBatchInterval(int milliseconds);
    // No more output is read; what was not read is lost.
    void close();

Q_SIGNALS:
    void readable(QProcess::ProcessChannel channel);

private:
    void activated(QProcess::ProcessChannel channel);
    void batchDue();
    void dropNotifier(QProcess::ProcessChannel channel);

    QProcess* m_process;
    bool m_own = false; // the pipes below, not QProcess's channels
    int m_readFd[2] = {-1, -1};
    int m_writeFd[2] = {-1, -1};
    QSocketNotifier* m_notifier[2] = {nullptr, nullptr};
    qsizetype m_lastRead[2] = {0, 0}; // bytes read since the notifier last fired
    int m_batchMs = 0;
    QTimer m_batch;
};
