#include "SavedSecrets.h"

#include <QSettings>

namespace {

QString key(const QString& profileDirName)
{
    return QStringLiteral("savedSecrets/") + profileDirName;
}

} // namespace

SavedSecrets::SavedSecrets(const QString& settingsPath, QObject* parent)
    : QObject(parent), m_settingsPath(settingsPath)
{
    connect(&m_store, &SecretStore::saved, this,
            [this](const QString& dir, SecretStore::Result result, const QString& error) {
                if (result == SecretStore::Result::Ok)
                    note(dir, true);
                else
                    Q_EMIT saveFailed(dir, error);
            });
    connect(&m_store, &SecretStore::loaded, this,
            [this](const QString& dir, SecretStore::Result result, const QString& secret, const QString&) {
                if (result == SecretStore::Result::NotFound)
                    note(dir, false);
                Q_EMIT loaded(dir, result == SecretStore::Result::Ok, secret);
            });
    connect(&m_store, &SecretStore::forgotten, this,
            [this](const QString& dir, SecretStore::Result result, const QString& error) {
                if (result != SecretStore::Result::Ok)
                    Q_EMIT forgetFailed(dir, error);
            });
}

bool SavedSecrets::has(const QString& profileDirName) const
{
    const QSettings settings(m_settingsPath, QSettings::IniFormat);
    return settings.value(key(profileDirName), false).toBool();
}

void SavedSecrets::save(const QString& profileDirName, const QString& secret)
{
    m_store.save(profileDirName, secret);
}

void SavedSecrets::load(const QString& profileDirName)
{
    m_store.load(profileDirName);
}

void SavedSecrets::forget(const QString& profileDirName)
{
    note(profileDirName, false);
    m_store.forget(profileDirName);
}

void SavedSecrets::note(const QString& profileDirName, bool saved)
{
    QSettings settings(m_settingsPath, QSettings::IniFormat);
    if (saved)
        settings.setValue(key(profileDirName), true);
    else
        settings.remove(key(profileDirName));
    settings.sync();
    Q_EMIT changed(profileDirName);
}
