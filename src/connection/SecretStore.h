#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

// The passwords and PINs a user chose to remember, kept in the desktop keyring (Secret Service or
// KWallet, through QtKeychain) under the profile's directory name. Never in a file of ours: the
// keychain's plain-file fallback stays off. Every call answers later by a signal.
class SecretStore : public QObject
{
    Q_OBJECT

public:
    enum class Result { Ok, NotFound, Unavailable, Failed };
    Q_ENUM(Result)

    // `sessionBus` is where the availability check looks for a keyring service (without it, the
    // process's session bus, connected to at the first check); the keychain jobs themselves use the
    // process's session bus.
    explicit SecretStore(QObject* parent = nullptr);
    explicit SecretStore(const QDBusConnection& sessionBus, QObject* parent = nullptr);

    // Whether a keyring service runs or can be started on the bus. The first call asks the bus
    // (bounded by kCheckTimeoutMs); later calls answer from that result until recheck().
    bool isAvailable();
    void recheck() { m_checked = false; }

    void save(const QString& profileDirName, const QString& secret);
    void load(const QString& profileDirName);
    void forget(const QString& profileDirName);

    // The keyring entry's service name; the key is the profile's directory name.
    static QString serviceName();

    static constexpr int kCheckTimeoutMs = 500;

Q_SIGNALS:
    void saved(const QString& profileDirName, SecretStore::Result result, const QString& error);
    // `secret` is empty unless result is Ok.
    void loaded(const QString& profileDirName, SecretStore::Result result, const QString& secret,
                const QString& error);
    // Ok also when there was nothing saved: there is nothing left either way.
    void forgotten(const QString& profileDirName, SecretStore::Result result, const QString& error);

private:
    std::optional<QDBusConnection> m_bus;
    bool m_checked = false;
    bool m_available = false;
};
