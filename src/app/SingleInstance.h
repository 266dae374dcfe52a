#pragma once

#include "app/CommandLine.h"

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One manager per user. The first start holds a lock file and listens on a local socket beside
// it, both in the user's private runtime directory; a later start finds the lock held and hands
// its request over that socket instead of opening the profile store a second time. A lock left
// by a process that died (kill -9, a crash) belongs to no running process and is taken over, and
// the socket file it left is replaced.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // directory: where the lock and the socket live; defaultDirectory() unless a test says else.
    explicit SingleInstance(const QString& directory = defaultDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR (private to the user), or Qt's private fallback for it.
    static QString defaultDirectory();

    enum class Claim {
        Primary,   // this process is the manager; requests arrive through the handler
        Secondary, // another manager runs: hand the request over
        Alone,     // neither lock nor socket can be used here: run without the guard
    };
    Claim claim();
    QString errorString() const { return m_error; }
    QString socketPath() const;
    QString lockPath() const;

    // In the primary: answers each handed-over request; an empty result means it was accepted,
    // anything else is the reason it was not, which the second start prints. Requests that come
    // before a handler is set wait for it.
    using Handler = std::function<QString(const CommandLine::Request&)>;
    void setHandler(Handler handler);

    // In a secondary: delivers request and waits for the primary's answer. Returns the exit code
    // for the second start (0 when accepted); *message gets the primary's refusal or what failed.
    int handOver(const CommandLine::Request& request, QString* message);

    // The wire form of a request: one line of JSON. Anything unreadable decodes as Invalid.
    static QByteArray encode(const CommandLine::Request& request);
    static CommandLine::Request decode(const QByteArray& line);

private:
    void accept();
    void serve(QLocalSocket* socket);
    void answerPending();

    QString m_directory;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    Handler m_handler;
    QList<QLocalSocket*> m_waiting; // complete requests that arrived before the handler
    QString m_error;
};
