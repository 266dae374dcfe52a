#pragma once

#include <QAction>
#include <QUrl>

class UpdateAction : public QAction
{
    Q_OBJECT

public:
    UpdateAction(const QString& productKey, const QString& currentVersion, const QString& languageCode,
                 QObject* parent, const QUrl& versionFileUrl);

    QString newVersion() const { return m_newVersion; }
    QString linkText() const { return m_linkText; }
    QString linkUrl() const { return m_linkUrl; }

    // The address of the version file; QLUMAR_UPDATE_URL replaces it, so tests and users can
    // point the check at another server.
    static QUrl versionFileUrlFromEnvironment();

Q_SIGNALS:
    void updateAvaliable();

public Q_SLOTS:
    void downloadUpdateInfo();

private:
    QString m_productKey;
    QString m_currentVersion;
    QString m_languageCode;
    QUrl m_versionFileUrl;
    QString m_newVersion;
    QString m_linkText;
    QString m_linkUrl;
};
