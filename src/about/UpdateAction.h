#pragma once

#include <QAction>
#include <QUrl>

#include "about/UpdateCheck.h"

// The menu and button entry of the update check; the check itself is UpdateCheck, which this
// action owns and whose news it passes on through updateAvaliable().
class UpdateAction : public QAction
{
    Q_OBJECT

public:
    UpdateAction(const QString& productKey, const QString& currentVersion, const QString& languageCode,
                 QObject* parent, const QUrl& versionFileUrl);

    // However slowly a server answers, the check ends as "no update" after this long.
    static constexpr int defaultTimeoutMs = UpdateCheck::defaultTimeoutMs;
    void setTimeoutMs(int milliseconds);
    int timeoutMs() const;

    QString newVersion() const;
    QString linkText() const;
    QString linkUrl() const;

    static QUrl versionFileUrlFromEnvironment();

Q_SIGNALS:
    void updateAvaliable();
    // The check is over, whatever its outcome (after updateAvaliable() when there was news).
    void checkFinished();

public Q_SLOTS:
    void downloadUpdateInfo();

private:
    UpdateCheck* m_check = nullptr;
};
