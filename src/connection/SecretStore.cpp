#include "SecretStore.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

// What QtKeychain talks to on Linux: the Secret Service (GNOME Keyring, KeePassXC, recent
// KWallet) or KWallet's own interface.
const char* const kKeyringServices[] = {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"};

SecretStore::Result resultOf(const QKeychain::Job* job)
{
    switch (job->error()) {
    case QKeychain::NoError:
        return SecretStore::Result::Ok;
    case QKeychain::EntryNotFound:
        return SecretStore::Result::NotFound;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return SecretStore::Result::Unavailable;
    default:
        return SecretStore::Result::Failed;
    }
}

// Without a parent: a job deleted while the keyring still works on it leaves the keyring library a
// dangling pointer to call back. It deletes itself once finished; its answer reaches the store
// only if the store is still there.
template <typename Job> Job* makeJob(const QString& profileDirName)
{
    auto* job = new Job(SecretStore::serviceName());
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(profileDirName);
    return job;
}

} // namespace

// Connecting to the session bus waits for it: done at the first check, which is the first use,
// not at the start of the program.
SecretStore::SecretStore(QObject* parent) : QObject(parent) {}

SecretStore::SecretStore(const QDBusConnection& sessionBus, QObject* parent)
    : QObject(parent), m_bus(sessionBus)
{
}

QString SecretStore::serviceName()
{
    return QStringLiteral("qLumar Velkoro");
}

bool SecretStore::isAvailable()
{
    if (m_checked)
        return m_available;
    m_checked = true;
    m_available = false;
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_bus->isConnected())
        return false;
    // Two short calls instead of the interface's blocking helpers, which wait up to 25 s on a
    // bus that does not answer.
    const QString busService = QStringLiteral("org.freedesktop.DBus");
    const QString busPath = QStringLiteral("/org/freedesktop/DBus");
    QDBusMessage list =
        QDBusMessage::createMethodCall(busService, busPath, busService, QStringLiteral("ListNames"));
    QDBusMessage activatable = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                              QStringLiteral("ListActivatableNames"));
    QStringList names;
    for (const QDBusMessage& call : {list, activatable}) {
        const QDBusReply<QStringList> reply = m_bus->call(call, QDBus::Block, kCheckTimeoutMs);
        if (reply.isValid())
            names += reply.value();
    }
    for (const char* service : kKeyringServices) {
        if (names.contains(QLatin1String(service)))
            m_available = true;
    }
    return m_available;
}

void SecretStore::save(const QString& profileDirName, const QString& secret)
{
    if (!isAvailable()) {
        QTimer::singleShot(0, this, [this, profileDirName] {
            Q_EMIT saved(profileDirName, Result::Unavailable, tr("No keyring service is running."));
        });
        return;
    }
    auto* job = makeJob<QKeychain::WritePasswordJob>(profileDirName);
    job->setTextData(secret);
    connect(job, &QKeychain::Job::finished, this, [this, profileDirName](QKeychain::Job* done) {
        Q_EMIT saved(profileDirName, resultOf(done), done->error() ? done->errorString() : QString());
    });
    job->start();
}

void SecretStore::load(const QString& profileDirName)
{
    if (!isAvailable()) {
        QTimer::singleShot(0, this, [this, profileDirName] {
            Q_EMIT loaded(profileDirName, Result::Unavailable, QString(),
                          tr("No keyring service is running."));
        });
        return;
    }
    auto* job = makeJob<QKeychain::ReadPasswordJob>(profileDirName);
    connect(job, &QKeychain::Job::finished, this, [this, profileDirName](QKeychain::Job* done) {
        const Result result = resultOf(done);
        const QString secret =
            result == Result::Ok ? static_cast<QKeychain::ReadPasswordJob*>(done)->textData() : QString();
        Q_EMIT loaded(profileDirName, result, secret, done->error() ? done->errorString() : QString());
    });
    job->start();
}

void SecretStore::forget(const QString& profileDirName)
{
    if (!isAvailable()) {
        QTimer::singleShot(0, this, [this, profileDirName] {
            Q_EMIT forgotten(profileDirName, Result::Unavailable, tr("No keyring service is running."));
        });
        return;
    }
    auto* job = makeJob<QKeychain::DeletePasswordJob>(profileDirName);
    connect(job, &QKeychain::Job::finished, this, [this, profileDirName](QKeychain::Job* done) {
        const Result result = resultOf(done);
        if (result == Result::NotFound)
            Q_EMIT forgotten(profileDirName, Result::Ok, QString());
        else
            Q_EMIT forgotten(profileDirName, result, done->error() ? done->errorString() : QString());
    });
    job->start();
}
