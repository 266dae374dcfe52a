#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Fetches the version file once and announces a newer release through updateAvaliable(). Every
// failure is silent: the user is only ever told about an update, never about a failed check.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    UpdateCheck(const QString& productKey, const QString& currentVersion, const QString& languageCode,
                const QUrl& versionFileUrl, QObject* parent = nullptr);

    // However slowly a server answers, the check ends as "no update" after this long.
    static constexpr int defaultTimeoutMs = 30000;
    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeoutMs() const { return m_timeoutMs; }

    QString newVersion() const { return m_newVersion; }
    QString linkText() const { return m_linkText; }
    QString linkUrl() const { return m_linkUrl; }

    // The address of the version file; QLUMAR_UPDATE_URL replaces it, so tests and users can
    // point the check at another server.
    static QUrl versionFileUrlFromEnvironment();

Q_SIGNALS:
    void updateAvaliable();
    // The check is over, whatever its outcome (after updateAvaliable() when there was news).
    void checkFinished();

public Q_SLOTS:
    void downloadUpdateInfo();

private Q_SLOTS:
    void httpResponseHeader();
    void httpReadyRead();
    void httpDone();

private:
    static bool acceptedStatus(const QVariant& status);

    QString m_productKey;
    QString m_currentVersion;
    QString m_languageCode;
    QUrl m_versionFileUrl;
    QString m_newVersion;
    QString m_linkText;
    QString m_linkUrl;
    QNetworkAccessManager* m_httpClient = nullptr;
    QNetworkReply* m_reply = nullptr;
    QTimer* m_deadline = nullptr;
    int m_timeoutMs = defaultTimeoutMs;
    QByteArray m_responseBuffer;
    bool m_failed = false;
};
