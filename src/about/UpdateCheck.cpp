#include "UpdateCheck.h"

#include "about/VersionFile.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

UpdateCheck::UpdateCheck(const QString& productKey, const QString& currentVersion,
                         const QString& languageCode, const QUrl& versionFileUrl, QObject* parent)
    : QObject(parent), m_productKey(productKey), m_currentVersion(currentVersion),
      m_languageCode(languageCode), m_versionFileUrl(versionFileUrl), m_deadline(new QTimer(this))
{
    // The transfer timeout ends a server that goes silent; the deadline one that trickles.
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (!m_reply)
            return;
        m_failed = true;
        m_reply->abort();
    });
}

void UpdateCheck::downloadUpdateInfo()
{
    if (m_reply)
        return;
    m_responseBuffer.clear();
    m_failed = false;

    // The network stack (its threads, its caches) is set up by the first check, not before.
    if (!m_httpClient)
        m_httpClient = new QNetworkAccessManager(this);
    QNetworkRequest request(m_versionFileUrl);
    // A redirect's own body is examined like any other answer; its target is never fetched.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);
    m_reply = m_httpClient->get(request);
    m_deadline->start(m_timeoutMs);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &UpdateCheck::httpResponseHeader);
    connect(m_reply, &QIODevice::readyRead, this, &UpdateCheck::httpReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateCheck::httpDone);
}

bool UpdateCheck::acceptedStatus(const QVariant& status)
{
    switch (status.toInt()) {
    case 200:
    case 301:
    case 302:
    case 303:
    case 307:
        return true;
    default:
        return false;
    }
}

void UpdateCheck::httpResponseHeader()
{
    if (!m_reply || m_failed)
        return;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!acceptedStatus(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute)) ||
        (length.isValid() && length.toLongLong() > VersionFile::maxBodySize)) {
        m_failed = true;
        m_reply->abort();
    }
}

void UpdateCheck::httpReadyRead()
{
    if (!m_reply || m_failed)
        return;
    // Read one byte past the limit, so an oversized answer is told apart from one that fits.
    m_responseBuffer += m_reply->read(VersionFile::maxBodySize + 1 - m_responseBuffer.size());
    if (m_responseBuffer.size() > VersionFile::maxBodySize) {
        m_failed = true;
        m_reply->abort();
    }
}

void UpdateCheck::httpDone()
{
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    m_deadline->stop();
    reply->deleteLater();

    if (!m_failed) {
        // Whatever finished() delivers without readyRead() still counts against the limit.
        m_responseBuffer += reply->read(VersionFile::maxBodySize + 1 - m_responseBuffer.size());
        m_failed = reply->error() != QNetworkReply::NoError ||
                   m_responseBuffer.size() > VersionFile::maxBodySize ||
                   !acceptedStatus(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute));
    }
    const QByteArray body = m_responseBuffer;
    m_responseBuffer.clear();

    if (!m_failed) {
        if (const auto release =
                VersionFile::newerRelease(body, m_productKey, m_languageCode, m_currentVersion)) {
            m_newVersion = release->version;
            m_linkText = release->linkText;
            m_linkUrl = release->linkUrl;
            emit updateAvaliable();
        }
    }
    emit checkFinished();
}

QUrl UpdateCheck::versionFileUrlFromEnvironment()
{
    const QByteArray overridden = qgetenv("QLUMAR_UPDATE_URL");
    if (!overridden.isEmpty())
        return QUrl(QString::fromUtf8(overridden));
    return QUrl(QStringLiteral("http://updates.qlumar-velkoro.example/updates.info"));
}
