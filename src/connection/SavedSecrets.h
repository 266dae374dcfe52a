#pragma once

#include "connection/SecretStore.h"

#include <QObject>
#include <QString>

// Which profiles have a remembered password or PIN, and the secrets themselves in the keyring.
// A settings file of ours only notes that a profile has one (so that connecting knows whether to
// ask the keyring or the user, and the menu whether Forget applies); the secret never leaves the
// keyring.
class SavedSecrets : public QObject
{
    Q_OBJECT

public:
    // `settingsPath`: the INI file the notes go to (the profile root's settings file).
    SavedSecrets(const QString& settingsPath, QObject* parent = nullptr);

    bool isAvailable() { return m_store.isAvailable(); }
    bool has(const QString& profileDirName) const;

    // Noted once the keyring has it; saveFailed() otherwise.
    void save(const QString& profileDirName, const QString& secret);
    // Answers with loaded(); a secret the keyring no longer has is no longer noted.
    void load(const QString& profileDirName);
    // No longer noted at once, so nothing uses it meanwhile; forgetFailed() when the keyring
    // could not delete it.
    void forget(const QString& profileDirName);

Q_SIGNALS:
    // `found` false: nothing usable (not there, keyring locked or gone); ask the user.
    void loaded(const QString& profileDirName, bool found, const QString& secret);
    void changed(const QString& profileDirName);
    void saveFailed(const QString& profileDirName, const QString& error);
    void forgetFailed(const QString& profileDirName, const QString& error);

private:
    void note(const QString& profileDirName, bool saved);

    QString m_settingsPath;
    SecretStore m_store;
};
