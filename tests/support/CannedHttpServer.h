#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

// A web server on 127.0.0.1 that answers every request with the same bytes and closes the
// connection; it records the request lines it was sent.
class CannedHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit CannedHttpServer(const QByteArray& response, QObject* parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString& path = QStringLiteral("/updates.info")) const;
    QList<QByteArray> requestLines() const { return m_requestLines; }

    // A complete HTTP/1.1 answer. Without a length the body ends when the connection closes.
    static QByteArray answer(int status, const QByteArray& reason, const QByteArray& body,
                             const QList<QByteArray>& headers = {}, bool withLength = true);
    static QByteArray ok(const QByteArray& body) { return answer(200, "OK", body); }

    // An address on 127.0.0.1 where nothing listens.
    static QUrl unreachableUrl();

private:
    void serve();

    QTcpServer m_server;
    QByteArray m_response;
    QList<QByteArray> m_requestLines;
};
