#include "CannedHttpServer.h"

#include <QTcpSocket>

CannedHttpServer::CannedHttpServer(const QByteArray& response, QObject* parent)
    : QObject(parent), m_response(response)
{
    connect(&m_server, &QTcpServer::newConnection, this, &CannedHttpServer::serve);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl CannedHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void CannedHttpServer::serve()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto* request = new QByteArray;
        connect(socket, &QObject::destroyed, socket, [request] { delete request; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
            if (request->contains("\r\n\r\n"))
                return; // already answered
            *request += socket->readAll();
            const qsizetype end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            m_requestLines.append(request->left(request->indexOf("\r\n")));
            socket->write(m_response);
            socket->disconnectFromHost();
        });
    }
}

QByteArray CannedHttpServer::answer(int status, const QByteArray& reason, const QByteArray& body,
                                    const QList<QByteArray>& headers, bool withLength)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    bytes += "Content-Type: text/plain\r\nConnection: close\r\n";
    if (withLength)
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const QByteArray& header : headers)
        bytes += header + "\r\n";
    return bytes + "\r\n" + body;
}

QUrl CannedHttpServer::unreachableUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/updates.info").arg(port));
}
