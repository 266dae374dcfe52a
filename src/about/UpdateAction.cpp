#include "UpdateAction.h"

#include "about/UpdateCheck.h"
#include "app/Pictures.h"

#include <QIcon>

UpdateAction::UpdateAction(const QString& productKey, const QString& currentVersion,
                           const QString& languageCode, QObject* parent, const QUrl& versionFileUrl)
    : QAction(parent),
      m_check(new UpdateCheck(productKey, currentVersion, languageCode, versionFileUrl, this))
{
    setIcon(Pictures::icon(QStringLiteral(":img/update.png")));
    setText(tr("Update"));
    connect(m_check, &UpdateCheck::updateAvaliable, this, &UpdateAction::updateAvaliable);
    connect(m_check, &UpdateCheck::checkFinished, this, &UpdateAction::checkFinished);
}

void UpdateAction::downloadUpdateInfo()
{
    m_check->downloadUpdateInfo();
}

void UpdateAction::setTimeoutMs(int milliseconds)
{
    m_check->setTimeoutMs(milliseconds);
}

int UpdateAction::timeoutMs() const
{
    return m_check->timeoutMs();
}

QString UpdateAction::newVersion() const
{
    return m_check->newVersion();
}

QString UpdateAction::linkText() const
{
    return m_check->linkText();
}

QString UpdateAction::linkUrl() const
{
    return m_check->linkUrl();
}

QUrl UpdateAction::versionFileUrlFromEnvironment()
{
    return UpdateCheck::versionFileUrlFromEnvironment();
}
