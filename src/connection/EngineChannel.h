#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The manager's side of the engine channel's wire format (engine/README.md, "The manager channel"):
// one message a line, tab-separated fields with backslash escapes. No I/O, so the connection
// controller feeds it and the fuzz target can too. What it cannot trust it drops: overlong lines,
// unknown messages, malformed numbers, addresses other than http(s), anything before the hello.
class EngineChannel
{
public:
    static constexpr int protocolVersion = 1;
    static constexpr qsizetype maxLineBytes = 4096;

    struct Event
    {
        enum class Kind { Hello, State, Bytes, Failure, Input, OpenUrl };
        Kind kind = Kind::Hello;
        // Hello: the engine's name. State: connecting, connected, reconnecting or exiting.
        // Failure: the code. Input: the request's id. OpenUrl: the address.
        QString name;
        // State: the tunnel address (connected) or the reason. Failure: the engine's text.
        // Input: username, password, otp, login (username and password together) or text.
        QString detail;
        QString prompt; // Input: the server's words
        // Input: "rejected" (a login asked again after the server refused it), "hidden" (a code not
        // to be shown as typed), else empty.
        QString flag;
        int version = 0;
        quint64 bytesIn = 0;
        quint64 bytesOut = 0;
    };

    void feed(const QByteArray& bytes);
    QList<Event> takeEvents();
    // The version both sides speak, once the engine said hello; 0 before.
    int version() const { return m_version; }

    static QByteArray hello();
    static QByteArray answer(const QString& id, const QString& value);
    // A login's answer: the username, then the password.
    static QByteArray answer(const QString& id, const QStringList& values);
    static QByteArray cancel(const QString& id);

private:
    void handleLine(const QByteArray& line);

    QByteArray m_line;
    bool m_skipping = false;
    int m_version = 0;
    QList<Event> m_events;
};
