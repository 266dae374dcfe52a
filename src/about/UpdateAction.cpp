#include "UpdateAction.h"

#include <QIcon>

UpdateAction::UpdateAction(const QString& productKey, const QString& currentVersion,
                           const QString& languageCode, QObject* parent, const QUrl& versionFileUrl)
    : QAction(parent), m_productKey(productKey), m_currentVersion(currentVersion),
      m_languageCode(languageCode), m_versionFileUrl(versionFileUrl)
{
    setIcon(QIcon(QStringLiteral(":img/update.png")));
    setText(tr("Update"));
}

void UpdateAction::downloadUpdateInfo() {}

QUrl UpdateAction::versionFileUrlFromEnvironment()
{
    const QByteArray overridden = qgetenv("QLUMAR_UPDATE_URL");
    if (!overridden.isEmpty())
        return QUrl(QString::fromUtf8(overridden));
    return QUrl(QStringLiteral("http://updates.qlumar-velkoro.example/updates.info"));
}
